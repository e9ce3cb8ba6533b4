// The display record, the display list and the current display. A display
// is one output surface of the script: an X window (or a surface of a
// display-adapter plug-in), windowed or full screen, always showing one
// background picture. The platform layer reads and writes the fields of
// the "platform view" group under the names it has always used.
#pragma once
#include <cstdint>

#include "runtime/os.h"
#include "runtime/objects.h"
#include "graphics/gradient_render.h"
#include "runtime/preproc.h"
#include "runtime/startup_records.h"

struct vlX11Window;
struct vlBitmap;
struct vlBGPic;
struct vlMutex;
struct vlVMState;
struct vlDisplayClient;
struct vlPendingFrame;
struct vlMenu;

// Flag-word bits (the display's flag word is the platform's styleFlags).
enum : uint32_t {
  VL_DISPSTYLE_BORDERLESS = 0x1,
  VL_DISPSTYLE_SIZEABLE = 0x2,
  VL_DISPSTYLE_FIXED = 0x4,          // not movable
  VL_DISPSTYLE_NOMODESWITCH = 0x8,   // no Alt+Return
  VL_DISPSTYLE_HIDEPOINTER = 0x10,
  VL_DISPSTYLE_NOMINIMIZE = 0x20,    // "nohide"
  VL_DISPSTYLE_AUTOSCALE = 0x40,     // "scalemode" 1
  VL_DISPSTYLE_SMOOTHSCALE = 0x80,
  VL_DISPSTYLE_LAYERSCALE = 0x100,   // "scalemode" 2
  VL_DISPSTYLE_ACTIVE = 0x400,
  VL_DISPSTYLE_HIDDEN = 0x800,
  VL_DISPSTYLE_LAYERS = 0x1000,
  VL_DISPSTYLE_USEQUARTZ = 0x2000,
  VL_DISPSTYLE_NOCLOSE = 0x4000,
  VL_DISPSTYLE_KEEPPROPORTIONS = 0x8000,
  VL_DISPSTYLE_FITSCALE = 0x10000,
  VL_DISPSTYLE_FAKEFULLSCREEN = 0x20000,
  VL_DISPSTYLE_KEEPSCREENON = 0x40000,
  VL_DISPSTYLE_HIDEFROMTASKBAR = 0x80000,
  VL_DISPSTYLE_HIDEOPTIONSMENU = 0x100000,
  VL_DISPSTYLE_NOHARDWARESCALE = 0x200000,
  VL_DISPSTYLE_ADAPTERCAP1 = 0x400000,
  VL_DISPSTYLE_ADAPTERCAP2 = 0x800000,
  VL_DISPSTYLE_NOSCREENSAVER = 0x1000000,  // "disableblanker"
  VL_DISPSTYLE_NOBACKDROP = 0x2000000,
  VL_DISPSTYLE_DECORATEDFULL = 0x4000000,
  VL_DISPSTYLE_REMEMBERPOSITION = 0x8000000,
  VL_DISPSTYLE_LETTERBOX = 0x80000000u,
};

enum : int32_t {
  VL_DISPSTATE_CLOSED = 0,
  VL_DISPSTATE_OPEN = 1,
  VL_DISPSTATE_HIDDEN = 2,  // minimised
};

enum : int32_t {
  VL_DISPMODE_WINDOWED = 1,
  VL_DISPMODE_FULLSCREEN = 2,
  VL_DISPMODE_ASK = 3,
  VL_DISPMODE_MODEREQUESTER = 4,
  VL_DISPMODE_FAKEFULLSCREEN = 6,
};

// Output types: the object type of the current drawing target.
enum : uint32_t {
  VL_OUTPUT_DISPLAY = 21,
  VL_OUTPUT_BGPIC = 1,
  VL_OUTPUT_BRUSH = 3,
  VL_OUTPUT_ANIM = 4,
  VL_OUTPUT_MASK = 28,
  VL_OUTPUT_ALPHA = 30,
};

constexpr int kDisplayKeyCount = 300;
constexpr int kDisplayHandlerSlots = 60;
constexpr int kDisplayRegionMax = 64;
constexpr int kDisplayTitleMax = 255;

// How a display's own BGPic is filled: fill style 1 colour, 2 gradient,
// 3 texture brush tiled from the texture offset.
struct vlBackfillDesc {
  uint32_t fillStyle;
  uint32_t color;
  vlGradientDesc gradient;
  vlObjectId textureBrush;
  int32_t textureX, textureY;
};

// The screen-mode record: mode, screen size and depth, desktop flag and the
// backdrop decoration.
struct vlScreenModeRecord {
  int32_t mode;
  int32_t screenWidth, screenHeight, screenDepth;
  int32_t desktop;
  vlBackfillBlock backfill;
};

struct vlDirtyRects {
  int32_t* rects;  // x1, y1, x2, y2 per entry
  int32_t count;
  int32_t capacity;
  int32_t all;  // everything is dirty: the entries no longer matter
};

// The whole picture needs a refresh; kept until the list is emptied.
inline void MarkAllDirty(vlDirtyRects* list) { list->all = 1; }
inline bool IsAllDirty(const vlDirtyRects& list) { return list.all != 0; }
inline bool HasDirtyRects(const vlDirtyRects& list) { return list.all || list.count; }
inline void ClearDirtyRects(vlDirtyRects* list) { list->count = 0, list->all = 0; }

struct vlDisplay {
  // Object head.
  uint32_t type;
  int32_t idNumber;
  void* idHandle;
  vlObjectData* data;
  vlObjectId id() const { return {idNumber, idHandle}; }
  void setId(vlObjectId id) {
    idNumber = id.number;
    idHandle = id.handle;
  }
  vlDisplay* next;

  // Layers and selection.
  uint32_t layersOn;
  void* selectBitmap;         // the brush bitmap a double buffer draws into
  uint32_t selectWords[2];    // non-zero: a selected layer's image changed
  uint32_t outputType;        // VL_OUTPUT_*
  uint32_t selectState;
  vlBGPic* bgpic;             // shown; never null once created
  uint32_t ownBGPic;
  uint32_t doubleBuffer;
  uint32_t doubleBufferWord;
  uint32_t hardwareDoubleBuffer;
  uint32_t doubleBufferWords[2];
  uint32_t nestedSelect;
  uint32_t savedHardwareDoubleBuffer;
  uint32_t isBackdrop;        // "__backfill"
  uint32_t isResourceMonitor;

  // Platform view: identity and list.
  vlDisplay* parent;     // transient-for window (unused by displays of this library)
  int32_t openState;     // 1 open
  int32_t displayState;  // VL_DISPSTATE_*
  int32_t visibility;    // 1 shown, 2 hidden
  int32_t active;

  // Geometry.
  int32_t x, y, width, height;
  char* xDisplayName;  // xServer, or null for the default display
  char* title;         // titleText
  int32_t monitorIndex;  // 0-based
  int32_t frameLeft, frameTop, frameWidth, frameHeight;  // width/height: left+right, top+bottom
  int32_t bordersKnown;
  int32_t contentOffsetX, contentOffsetY;  // the picture's offset inside the window

  // Backfill of the display's own BGPic.
  vlBackfillDesc backfill;

  // Style and mode. displayMode is non-zero while the display runs full
  // screen; fullScreen is the full-screen-active flag.
  uint32_t styleFlags;
  int32_t displayMode;
  int32_t fullScreen;
  int32_t overrideWord;
  int32_t grabBlocking;
  char titleText[kDisplayTitleMax + 1];

  // Drag and size regions: as the script gave them and scaled.
  vlRegion dragRegions[kDisplayRegionMax], dragRegionsScaled[kDisplayRegionMax];
  vlRegion sizeRegions[kDisplayRegionMax], sizeRegionsScaled[kDisplayRegionMax];
  int32_t dragRegionCount, sizeRegionCount;
  int32_t dragRegionsGiven, sizeRegionsGiven;

  // Bitmaps: front copy (BGPic without layers), back buffer, one further
  // bitmap and the saved double-buffer brush bitmap.
  vlBitmap* front;
  vlBitmap* back;
  vlBitmap* extraBitmap;
  vlBitmap* savedSelectBitmap;
  // The drawing target's own mask and alpha planes, kept in step by the
  // blits while a brush, its mask or its alpha channel is selected.
  vlBitmap* outputMask;
  vlBitmap* outputAlpha;

  // Scaling.
  int32_t autoScale, layerScale;
  int32_t borderLeft, borderTop, borderRight, borderBottom;
  int32_t scaleWidth, scaleHeight;  // 0 none
  int32_t smoothScale;
  double scaleX, scaleY;

  vlDirtyRects dirty;
  int32_t handlers[kDisplayHandlerSlots];

  // Input (client and platform).
  uint8_t keyState[kDisplayKeyCount];
  int32_t leftButton, rightButton, middleButton;
  int32_t mouseMoved;
  vlTimeVal lastMoveTime;
  vlTimeVal openedTime;
  vlTimeVal lastFrameTick;  // the frame-rate limit's last tick
  int32_t hasMouseMoveHandler;

  vlBGPic* savedOutput;
  int32_t cursorX, cursorY, marginLeft, marginRight;
  int32_t tabStops[32];  // ascending text tab stops
  int32_t tabCount;
  void* pointer;
  int32_t pointerHidden;
  int32_t activateOnOpen;
  vlBitmap* shapeMask;
  vlBitmap* shapeAlpha;
  // Selection save area.
  int32_t selectEntered;
  int32_t savedCursor[4];
  uint32_t savedLayersOn;
  uint32_t orientation;
  int32_t closeHandled;  // the script takes window closes (handler or legacy switch)

  // Clients and pending frames.
  vlDisplayClient* clients;
  vlDisplayClient* refreshingClient;
  vlDisplayClient* observerFilter;  // set: only this client is notified
  int32_t clientMouseX, clientMouseY;
  uint32_t clientModifiers;
  vlMutex* mutex;
  vlPendingFrame* pendingFrames;

  // Full screen.
  int32_t restoreMonitor;  // index + 1, 0 same
  int32_t savedX, savedY;
  uint32_t savedFlags;
  int32_t savedValid;

  vlMenu* menu;
  vlScreenModeRecord screen;
  int32_t monitorRelativeX, monitorRelativeY;
  int32_t windowHasAlpha;

  // Placement from the preferences store.
  uint8_t* osData;
  uint32_t osDataLength;
  int32_t restoreWidth, restoreHeight;

  // Backdrop links.
  vlObjectId backdropId;
  vlObjectId backdropBGPic;
  vlObjectId backdropBrush;
  vlDisplay* ownerDisplay;
  char xServer[256];

  // Double buffering: the picture that Flip shows, the back buffer that
  // drawing goes into and the BGPic record that targets it.
  vlBitmap* dbPicture;
  vlBitmap* dbBack;
  vlBGPic* dbBGPic;

  // Links.
  void* adapterHandle;  // the display adapter's handle, null when none
  vlX11Window* window;  // the platform window record
};

// The display list (creation order) and its mutex.
extern vlDisplay* vlDisplayList;
extern vlMutex* vlDisplayListMutex;
// The current display: where commands without a display argument draw and
// what the input commands read. SelectDisplayRecord makes one current;
// code that works for another display sets it for the moment and puts the
// old one back.
vlDisplay* CurrentDisplay();
void SetCurrentDisplay(vlDisplay* display);
// Set while a video of the screen is being recorded.
extern int32_t vlRecordingScreen;

// Points title and xDisplayName at the record's own texts (after the
// record was copied).
void FixDisplayTextPointers(vlDisplay* display);

// Script command.
int CmdCreateDisplay(vlVMState* state);

// Unlinks and frees one display; with mustExist a missing one is an error.
int FreeDisplayRecord(vlVMState* state, vlObjectId id, int mustExist);
// Frees what a display owns; keepBGPic keeps its own BGPic.
void FreeDisplayResources(vlVMState* state, vlDisplay* display, int keepBGPic);
// Shut-down: closes and frees every display, the menus and the icons.
void CloseAllDisplays(vlVMState* state);

// 0, ERR_FINDDISPLAY with the number kept, or 1041 for a handle.
int GetDisplayByID(vlObjectId id, vlDisplay** out);
vlDisplay* GetDisplayByNumber(int32_t number);
vlDisplay* GetDisplayByWindow(const void* handle);
// Makes a display current (ending the old one's selection where it can).
void SelectDisplayRecord(vlVMState* state, vlDisplay* display, int noActivate);

// The rectangle of the display's dirty list that means "everything".
void MarkDisplayAllDirty(vlDisplay* display);
int AllocDirtyRects(vlDisplay* display);

// Reads a display's flag bits for the event queue.
uint32_t DisplayFlagsForEvents(const vlDisplay* display);
