// The X window behind a display: its record, opening and closing with the
// window-manager hints, icons, XDND awareness and shape, and the window
// operations of the display adapter's slots.
#pragma once
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdint>
#include <vector>

#include "platform/x11/x11_connection.h"
#include "platform/x11/x11_ext.h"

struct vlBitmap;
struct vlPixelRecord;
struct vlDisplay;
struct vlPlatformWindow;

struct vlX11Window {
  vlX11Connection* connection;
  Display* display;
  Visual* visual;
  int screen;
  Window window;  // 0 = not created
  Window root;
  GC gc;
  XserverRegion shape;  // or None
  int depth;
  uint8_t* alphaPlane;  // the shape's alpha, display-sized (displays with alpha)
  struct vlOffscreenBitmap* outputBitmap;  // window-sized, for displays with alpha
  struct vlX11ShmSegment* staging;  // MIT-SHM ring the puts copy into, or null
  int refreshNeeded;
  // Atoms.
  Atom wmDeleteWindow;
  Atom xdndEnter, xdndLeave, xdndPosition, xdndStatus, xdndDrop, xdndSelection, xdndFinished,
      xdndActionCopy, xdndTypeList;
  Atom acceptedDropType;
  Atom primary, clipboard, targets, xclipOut, textPlain, utf8String, imagePng, incr, uriList;
  Window dragSource;
  // Event-dispatch words of the input code.
  int closeRequested;
  int hideRequest, showRequest;
  int lastKeyCode;        // -1 none
  int leftPressed;        // the left button went down in this pass
  int escapePressed;      // Escape went down in this pass
  int modeSwitchRequest;  // -1 none, 0 windowed, 1 full screen
  int modifiers[8];       // Control_L/R, Alt_L/R, Shift_L/R, Super_L/R
  // Per physical key (X key code): what its press meant, so that its
  // release undoes that whatever the modifiers say by then. The engine key
  // code, or the modifier index + 1 (bit 0x8000 set); 0 when up.
  uint16_t keyPressedAs[256];
  int sizeChangePending, newWidth, newHeight;
  // The first request of the player's last move or resize: configure
  // events the server sent before handling it are stale.
  unsigned long geometrySerial;
  int moving, resizing;
  int pressX, pressY, windowPressX, windowPressY;
  int borderZone;
  int pressRect[4];
  int zoneOffsetX, zoneOffsetY;
  Cursor currentCursor;
  int pointerHidden;    // the invisible cursor is defined
  Cursor regionCursor;  // defined over a drag region or size zone, or None
  int offerKind;  // 0 none, 1 text, 2 picture
  void* offerData;
  size_t offerLength;
  uint8_t* incrBuffer;
  size_t incrLength;
  int readInProgress;
  Atom readTarget;
  void* readResult;
  int readStatus;
  int incrMode;
  int pointerGrabbed;
  // Saved screen state.
  XF86VidModeModeInfo* savedModeLine;  // or null
  RRMode savedRandrMode;
  int saverTimeout, saverInterval, saverPreferBlanking, saverAllowExposures;
  int saverState;  // 1 on (the start), 0 switched off by us
  int saverSaved;
};

struct vlMonitorNode {
  vlMonitorNode* next;
  int x, y, width, height;
};

struct vlScreenMode {
  int width, height;
  int refresh;  // Hz, 0 when not known
  int current;
  RRMode id;
};

struct vlPointerRecord {
  vlPointerRecord* next;
  vlX11Connection* connection;  // null for the record that holds the image
  XcursorImage* image;
  Cursor cursor;
  void* adapterPointer;  // the display adapter's pointer, when it made one
};

// Window record life.
int AllocDisplayPlatformData(vlPlatformWindow* display);  // 0 or ERR_MEM
void FreeDisplayPlatformData(vlPlatformWindow* display);

// Slots of the display adapter.
int OpenX11Window(vlPlatformWindow* display, int activate, const uint8_t* mask, const uint8_t* alpha);
void CloseX11Window(vlPlatformWindow* display);
int ShowHideX11Window(vlPlatformWindow* display, int hide);
void MoveResizeX11Window(vlPlatformWindow* display);
void MoveX11Window(vlPlatformWindow* display);
void SetX11WindowTitle(vlPlatformWindow* display);
void ActivateX11Window(vlPlatformWindow* display);
int GetBorderSizes(vlPlatformWindow* display);
void GrabX11Input(vlX11Window* window);
void WaitWindowMapped(vlX11Window* window);

// A shape as rectangles: each row's runs of set pixels, sorted by x then y,
// vertically adjacent runs with the same edges merged. mask: one bit per
// pixel, most significant first, rows of the width rounded up to 16 bits;
// alpha: one byte per pixel (non-zero set), rows rounded up to 4 bytes.
std::vector<XRectangle> ShapeRectsFromMask(const uint8_t* mask, int width, int height);
std::vector<XRectangle> ShapeRectsFromAlpha(const uint8_t* alpha, int width, int height);

// The built-in window icons as _NET_WM_ICON data (16, 24, 32, 48, 256).
constexpr int kBuiltinIconItems = 69706;
const unsigned long* GetBuiltinIconData();

// Monitors and screen modes.
vlMonitorNode* GetMonitorList(vlPlatformWindow* display);  // display may be null
void FreeMonitors(vlMonitorNode* list);
int GetScreenModes(vlPlatformWindow* display, vlScreenMode* array);  // count
// The smallest mode at least width x height; -1 when none fits.
int ChooseScreenMode(const vlScreenMode* modes, int count, int width, int height);
int SwitchScreenMode(vlPlatformWindow* display, int width, int height);
int RestoreScreenMode(vlPlatformWindow* display);
void SetScreenSaver(vlX11Window* window, int on);
// The root window's pixels of the rectangle at (x, y), of the record's
// size, written into it; false on failure.
bool GrabScreenPixels(vlPlatformWindow* display, int x, int y, const vlPixelRecord& into);
int HaveXRandR13(vlX11Connection* connection);
// Picks, from XRandR modes, one entry per size: a later one replaces an
// earlier of the same size only when its refresh is strictly nearer 60 Hz.
int AddScreenMode(vlScreenMode* array, int count, const vlScreenMode& mode);

// Pointers.
int CreateARGBCursor(const uint32_t* pixels, int hotX, int hotY, vlPointerRecord** out, int width,
                     int height);
void FreePointerRecords(vlPointerRecord* list);
void SetPointerShape(vlPlatformWindow* display, vlPointerRecord* list, int mode);
void HidePointer(vlPlatformWindow* display);
void ShowPointer(vlPlatformWindow* display);
void MovePointer(vlPlatformWindow* display, int x, int y);
