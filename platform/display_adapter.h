// The display adapter and the wrappers through which the engine reaches a
// display's window: each calls its route in the display's device table
// (display_device.h: the installed display-adapter plug-in's entries or the
// built-in X11 code), and the drawing wrappers then tell the display's
// observers what changed.
#pragma once
#include <cstdint>

struct vlBitmap;
struct vlDisplay;
struct vlPlatformWindow;
struct vlPixelRecord;
struct vlVideoOverlay;
struct vlPluginInfo;
struct vlVMState;
struct vlMonitorNode;

// The installed display adapter (null: none). Its capability byte is
// displayCaps (1 Sleep, 2 VWait, 4 monitor information, 8 screen
// grabs, 16 draws on displays that are not open), its flags displayFlags
// (bit 3: scales blits itself).
extern vlPluginInfo* vlDisplayAdapter;

// The adapter's ForceEventLoopIteration: 1 when it was called, 0 without an
// adapter (the caller then writes a wake message).
int ForceEventLoopIteration();
// The adapter's Sleep (capability 1), its result in *result: 1 when the
// adapter slept, 0 when the built-in sleep must.
int AdapterSleep(vlVMState* state, uint32_t millis, int* result);
// The adapter's VWait (capability 2) for a display with a handle, tags
// {1: value}: 1 when the adapter waited, 0 when the built-in wait must.
int AdapterVWait(vlPlatformWindow* display, int32_t value);
// Mouse pointer images: the adapter's CreatePointer, FreePointer and
// SetPointer when one is installed (a pointer it refuses is
// ERR_POINTERIMG), the X cursors otherwise. SetMousePointer shows the
// pointer.
struct vlPointerRecord;
int CreateMousePointer(const uint32_t* pixels, int32_t width, int32_t height, vlPointerRecord** out, int32_t hotX,
                       int32_t hotY);
void FreeMousePointer(vlPointerRecord* pointer);
void SetMousePointer(vlPlatformWindow* display, vlPointerRecord* pointer, int kind);
// Tells the adapter whether the script handles the close button of the
// display (SetDisplayAttributes, tag 1); nothing without an adapter.
void SetAdapterCloseHandled(vlPlatformWindow* display, int handled);
// The qualifier word of the display: the adapter's when one is installed.
uint32_t GetDisplayQualifiers(vlPlatformWindow* display);

// An observer (a display client) in a display's list.
using vlObserverFn = void (*)(void* node, uint32_t code, const int32_t* args, void* userData);
struct vlDisplayClient {
  vlDisplayClient* next;
  vlObserverFn callback;
  void* userData;
  uint32_t callKind;  // 2: through the frame call, which does nothing here
  uint32_t visited;
  uintptr_t tag3;
  vlDisplay* display;
  uintptr_t tag4;
  uint32_t refresh;  // wants frame-refresh notifications
};

// Calls each observer once (code 0 blit, 1 fill, 2 line, 3 pixel, 4 size
// change, 5 refresh); observers may change the list from their callback.
void NotifyObservers(vlPlatformWindow* display, uint32_t code, const int32_t* args, bool refreshOnly = false);
void NotifyDisplayObservers(vlPlatformWindow* display, int32_t a, int32_t b);

// Window operations.
// Whether the display shows anywhere: an X11 window or an adapter's handle.
bool DisplayHasWindow(const vlPlatformWindow* display);
int DetermineDisplayBorders(vlPlatformWindow* display);
void ActivateDisplayWindow(vlPlatformWindow* display, int flag);
void GetDisplayMousePos(vlPlatformWindow* display, int32_t* x, int32_t* y);
void ShowHideMousePointer(vlPlatformWindow* display, int show);
void MoveMousePointer(vlPlatformWindow* display, int32_t x, int32_t y);

// Blits, in two halves: the floor that owns the pictures (BlitToDisplay)
// asks the display's device how it takes them (its putPicture or
// putPixels route), scales the picture when the display is shown scaled,
// and hands it down, whole to an adapter or as a plain record of its
// pixels to the window code; then it tells the observers.
// Whether what is blitted must first be scaled to the display's scale (an
// adapter that scales by itself takes it unscaled).
bool DisplayBlitsScaled(const vlPlatformWindow* display);
// The display blits until it is cleared (base null) are mixed by the
// adapter: level 0..255 of the picture over the same rectangle of base.
void SetAdapterBlitMix(void* base, int32_t level);
// What a put into a window left for the floor above to send: nothing
// (VL_PUT_NONE: nothing was put), a put pending on its connection until
// FlushDisplayOutput sends it (VL_PUT_WAITING), or a frame put from the
// picture's own shared pixels (VL_PUT_FRAME), unsent, which the server
// reads from those pixels later: `connection` names its connection (no
// later connection takes the name) and `serial` the put, for
// SendWindowFrame and WaitWindowFrame.
enum : int { VL_PUT_NONE = 0, VL_PUT_WAITING = 1, VL_PUT_FRAME = 2 };
struct vlWindowPut {
  int kind;
  uint64_t connection;
  unsigned long serial;
};
void FillDisplayRect(vlPlatformWindow* display, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t color);
void PlotDisplayPixel(vlPlatformWindow* display, int32_t x, int32_t y, uint32_t color);
void DrawDisplayLine(vlPlatformWindow* display, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t color);
// The adapter's Cls: clears what the adapter buffers for the display.
void ClearAdapterDisplay(vlPlatformWindow* display, uint32_t color);
// Sends every put still pending on a connection now. When is the floor
// above's to decide, as is drawing it holds back and must draw first.
void FlushDisplayOutput();
// Sends the frame's connection's buffer, the frame with what came before
// it, now.
void SendWindowFrame(const vlWindowPut& frame);
// Waits until the server has processed the frame put of this serial on the
// frame's connection (at once when it has, or the connection has closed).
void WaitWindowFrame(uint64_t connection, unsigned long serial);
// The overlays of the videos playing in their own rectangle on the display
// now (up to kVideoOverlayMax; an overlay no display size shows need not
// be among them). The video code sets them whenever the set can change, on
// the drawing thread; window drawing leaves them out from then on.
void SetDisplayVideoOverlays(vlPlatformWindow* display, const vlVideoOverlay* overlays, int count);
// Fills the letterbox borders of a scaled display with colour 0.
void ClearDisplayBorders(vlPlatformWindow* display);

// The screen's pixels at (x, y), of the record's size, written into it;
// 0 or 1561 (ERR_GRABSCREEN).
int GrabDisplayInto(vlPlatformWindow* display, int32_t x, int32_t y, const vlPixelRecord& into);

// Screen modes of the display's monitor, sorted by width then height.
struct vlModeEntry {
  int32_t width, height, depth, refresh, reserved;
};
// 0, or 1443 when there are none; free the array with delete[].
int GetDisplayModeList(vlPlatformWindow* display, vlModeEntry** out, int32_t* count);
// Monitors in the server's order; free with FreeMonitorList.
vlMonitorNode* GetDisplayMonitorList(vlPlatformWindow* display);
void FreeMonitorList(vlMonitorNode* list);
