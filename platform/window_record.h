// The platform's view of a display: the window record that the X11 code
// and the display adapter read and write (geometry, frame, style flags,
// input state, handlers, regions, scale, the window). The display record
// of the engine (display/display.h) derives from it, so the object head
// comes first here: a display is registered as an object like any other.
#pragma once
#include <atomic>
#include <cstdint>

#include "runtime/objects.h"
#include "runtime/os.h"
#include "runtime/preproc.h"

struct vlDisplay;
struct vlDisplayClient;
struct vlX11Window;

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

// A rectangle of a display's picture in which a video plays in its own
// overlay (not on a layer): window drawing other than the video's own
// frames leaves it out, so nothing paints over a playing, paused or ended
// video.
struct vlVideoOverlay {
  int32_t x, y, width, height;
};
constexpr int kVideoOverlayMax = 64;
// The part of the overlay inside a display of this size; false when none.
inline bool ClipVideoOverlay(const vlVideoOverlay& v, int32_t width, int32_t height, vlVideoOverlay* out) {
  const int32_t x0 = v.x > 0 ? v.x : 0, y0 = v.y > 0 ? v.y : 0;
  const int64_t right = int64_t{v.x} + v.width, bottom = int64_t{v.y} + v.height;
  const int32_t x1 = static_cast<int32_t>(right < width ? right : width);
  const int32_t y1 = static_cast<int32_t>(bottom < height ? bottom : height);
  if (x1 <= x0 || y1 <= y0) return false;
  *out = {x0, y0, x1 - x0, y1 - y0};
  return true;
}

constexpr int kDisplayKeyCount = 300;

// A display's press bits: one per key code, then one per button.
enum : uint32_t {
  VL_PRESSED_LEFT = kDisplayKeyCount,
  VL_PRESSED_RIGHT,
  VL_PRESSED_MIDDLE,
  VL_PRESSED_COUNT,
};
constexpr int kDisplayPressWords = (VL_PRESSED_COUNT + 31) / 32;
constexpr int kDisplayHandlerSlots = 60;
constexpr int kDisplayRegionMax = 64;

struct vlPlatformWindow {
  // Object head: the registry's node layout, in the display list.
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

  // Identity and state.
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

  // Style and mode. displayMode is non-zero while the display runs full
  // screen; fullScreen is the full-screen-active flag.
  uint32_t styleFlags;
  int32_t displayMode;
  int32_t fullScreen;
  int32_t overrideWord;
  int32_t grabBlocking;
  int32_t closeHandled;  // the script takes window closes (handler or legacy switch)

  // Drag and size regions: as the script gave them and scaled.
  vlRegion dragRegions[kDisplayRegionMax], dragRegionsScaled[kDisplayRegionMax];
  vlRegion sizeRegions[kDisplayRegionMax], sizeRegionsScaled[kDisplayRegionMax];
  int32_t dragRegionCount, sizeRegionCount;
  int32_t dragRegionsGiven, sizeRegionsGiven;

  // Scaling.
  int32_t autoScale, layerScale;
  int32_t borderLeft, borderTop, borderRight, borderBottom;
  int32_t scaleWidth, scaleHeight;  // 0 none
  int32_t smoothScale;
  double scaleX, scaleY;

  // The videos' overlays on the display as the video code last set them
  // (SetDisplayVideoOverlays), unclipped: the window drawing clips them to
  // the display's size at the time it draws.
  vlVideoOverlay videoOverlays[kVideoOverlayMax];
  int32_t videoOverlayCount;

  // Script handlers by slot.
  int32_t handlers[kDisplayHandlerSlots];

  // Input (client and platform).
  uint8_t keyState[kDisplayKeyCount];
  int32_t leftButton, rightButton, middleButton;
  // Presses taken since a wait last looked (key codes, VL_PRESSED_LEFT
  // ...): a click or key tap pressed and released within one pass leaves
  // the state words as they were, and the waits still see it.
  uint32_t presses[kDisplayPressWords];
  int32_t mouseMoved;
  vlTimeVal lastMoveTime;
  int32_t hasMouseMoveHandler;

  // Observers (display clients) and the mouse position they were told.
  vlDisplayClient* clients;
  vlDisplayClient* refreshingClient;
  vlDisplayClient* observerFilter;  // set: only this client is notified
  int32_t clientMouseX, clientMouseY;

  // Links.
  void* adapterHandle;  // the display adapter's handle, null when none
  vlX11Window* window;  // the platform window record
  mutable const struct vlDisplayDevice* device;  // chosen once: DisplayDevice()
};

// A display and its window record share one address (the record is the
// display's only base); the platform, which sees no display, converts
// with these.
inline vlPlatformWindow* WindowOf(vlDisplay* display) { return reinterpret_cast<vlPlatformWindow*>(display); }
inline vlDisplay* DisplayOf(vlPlatformWindow* window) { return reinterpret_cast<vlDisplay*>(window); }
// The next display's record in the display list.
inline vlPlatformWindow* NextWindow(const vlPlatformWindow* window) { return WindowOf(window->next); }

// The press bits are set by the input side, a plug-in's own thread too,
// and cleared by the waits on the script's thread: whole-word atomics, so
// that neither loses the other's bits.
inline void NotePress(vlPlatformWindow* d, uint32_t what) {
  if (what < VL_PRESSED_COUNT) std::atomic_ref<uint32_t>(d->presses[what / 32]).fetch_or(1u << (what % 32));
}

// Forgets, or tells whether any is set, the bits first .. first + count - 1.
inline void ForgetPresses(vlPlatformWindow* d, uint32_t first, uint32_t count) {
  for (uint32_t i = first; i < first + count && i < VL_PRESSED_COUNT; ++i)
    std::atomic_ref<uint32_t>(d->presses[i / 32]).fetch_and(~(1u << (i % 32)));
}

inline bool PressedSince(vlPlatformWindow* d, uint32_t first, uint32_t count) {
  for (uint32_t i = first; i < first + count && i < VL_PRESSED_COUNT; ++i)
    if (std::atomic_ref<uint32_t>(d->presses[i / 32]).load() & (1u << (i % 32))) return true;
  return false;
}
