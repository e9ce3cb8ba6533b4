// The device a display shows through: the built-in X11 windows or the
// installed display adapter. It is chosen once per display, when the
// display is first asked for it, and every window, input, wait,
// double-buffer, drawing, pointer and screen route of the display goes
// through its table; the commands and engines ask the table (a route's
// slot, or a feature bit), never which device it is.
#pragma once
#include <cstdint>

struct vlPlatformWindow;
struct vlPixelRecord;
struct vlPointerRecord;
struct vlModeEntry;
struct vlMonitorNode;
struct vlVMState;
struct vlWindowPut;

// What the built-in X11 device does and an adapter leaves to itself.
enum : uint32_t {
  VL_DEVICE_SCREEN_MODES = 1,   // switches screen modes, backdrops and desktop windows
  VL_DEVICE_MENUS = 2,          // window menus
  VL_DEVICE_SHAPES = 4,         // shaped windows
  VL_DEVICE_HOLDS_PUTS = 8,     // batches what reaches the windows (a held redraw may wait)
  VL_DEVICE_SCALES_VIDEO = 16,  // a video on an auto-scaled display is scaled by the player
  VL_DEVICE_OWN_INPUT = 32,     // takes input, waits and wakes itself (no signal relay)
  VL_DEVICE_X_SERVER = 64,      // needs an X server connection before displays open
  VL_DEVICE_VIDEO_OVERLAY = 128,  // native videos in overlays; else a video's area is a sprite it is told of
  VL_DEVICE_FRAME_WAIT = 256,   // the player paces frames of displays that are not open
  VL_DEVICE_SCALES_BLITS = 512,  // shows a scaled display's pictures scaled itself
};

// What opening a display's window takes from the display.
struct vlWindowRequest {
  vlVMState* state;
  int32_t pictureWidth, pictureHeight;  // the BGPic's
  uint32_t flags;                       // the display's packed flags
  int activate;
  int32_t screenWidth, screenHeight, screenDepth;  // a full-screen display's mode
  const uint8_t* mask;                  // the window's shape, when the device makes shapes
  const uint8_t* alpha;
  uint32_t marks[2];                    // out: what the adapter marks the display with
};

struct vlDisplayDevice {
  const char* name;  // "inbuilt", or the adapter's name
  uint32_t features;  // VL_DEVICE_*
  // The display's window: 0 or an error code (ERR_WINDOW when refused).
  int (*openWindow)(vlPlatformWindow* display, vlWindowRequest* request);
  int (*closeWindow)(vlPlatformWindow* display);
  // The window follows the display's x, y, width and height.
  void (*sizeMove)(vlPlatformWindow* display);
  // After a resize (the X11 window also takes its size hints again).
  void (*moveResize)(vlPlatformWindow* display);
  int (*showHide)(vlPlatformWindow* display, int hide);
  // The display's title text.
  void (*setTitle)(vlPlatformWindow* display);
  // The display's pictures changed size (the adapter's buffers follow).
  void (*bufferSize)(vlPlatformWindow* display, int32_t width, int32_t height);
  // The device's double buffer: 0 or an error code; Flip shows it.
  int (*beginBuffer)(vlPlatformWindow* display);
  int (*endBuffer)(vlPlatformWindow* display);
  int (*flip)(vlPlatformWindow* display, int sync);
  // Clears the device's double buffer to a colour (0x00RRGGBB); nothing for
  // a device without one.
  void (*clearBuffer)(vlPlatformWindow* display, uint32_t color);
  // Input after a script line: *error set, non-zero to stop the pump.
  int (*handleInput)(vlVMState* state, int context, int* error);
  // A blocking wait for input (argument and *result: the X11 wait's).
  int (*waitInput)(vlVMState* state, int context, int argument, int* result);
  // Runs the main chunk through run.
  int (*runMain)(vlVMState* state, int (*run)(vlVMState*));
  // What names the display's window to plug-ins (0: none yet).
  uintptr_t (*windowHandle)(const vlPlatformWindow* display);
  // The pixel format of the screen the window is on, -1 when unknown.
  int (*screenFormat)(const vlPlatformWindow* display);
  // Lets go of the keys, modifiers and buttons the device holds as
  // pressed. null: it holds none of its own (an adapter).
  void (*forgetInput)(vlPlatformWindow* display);

  // The drawing, pointer and screen routes. Each is filled when the device
  // is chosen from what the device offers; an empty slot is one it does not
  // offer, and the wrappers test the slot, never the device.
  // A rectangle of a picture the device holds itself (an adapter's): flags
  // as BlitToDisplay's, 0x100 when the player scaled it.
  void (*putPicture)(vlPlatformWindow* display, void* picture, int32_t srcX, int32_t srcY, int32_t x, int32_t y,
                     int32_t width, int32_t height, uint32_t flags);
  // Whether the device's window takes a record of pixels now (open,
  // drawable, not being moved), and the put of one.
  bool (*takesPixels)(const vlPlatformWindow* display);
  vlWindowPut (*putPixels)(const vlPixelRecord& pixels, int32_t srcX, int32_t srcY, vlPlatformWindow* display,
                           int32_t x, int32_t y, int32_t width, int32_t height, uint32_t flags);
  // Sends what the device holds back of the puts.
  void (*flushPuts)();
  void (*fillRect)(vlPlatformWindow* display, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t color);
  void (*plotPixel)(vlPlatformWindow* display, int32_t x, int32_t y, uint32_t color);
  void (*drawLine)(vlPlatformWindow* display, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t color);
  // Opaque rectangles of one colour (x, y, width, height: four words each)
  // into the window, left waiting with the puts (*put says how). False,
  // with nothing sent, when the window cannot take them as they are.
  bool (*fillRects)(vlPlatformWindow* display, const int32_t* rects, int32_t count, uint32_t color,
                    vlWindowPut* put);
  // The screen's pixels at (x, y) into the record: 0 or ERR_GRABSCREEN.
  int (*grab)(vlPlatformWindow* display, int32_t x, int32_t y, const vlPixelRecord& into);
  // Pointer images (a refused one is ERR_POINTERIMG) and the pointer.
  int (*createPointer)(const uint32_t* pixels, int32_t width, int32_t height, vlPointerRecord** out, int32_t hotX,
                       int32_t hotY);
  void (*freePointer)(vlPointerRecord* pointer);
  void (*setPointer)(vlPlatformWindow* display, vlPointerRecord* pointer, int kind);
  void (*showHidePointer)(vlPlatformWindow* display, int show);
  void (*movePointer)(vlPlatformWindow* display, int32_t x, int32_t y);
  // The pointer's position in an open display (x and y come in holding the
  // last stored one) and the qualifier word.
  void (*mousePosition)(vlPlatformWindow* display, int32_t* x, int32_t* y);
  uint32_t (*qualifiers)(vlPlatformWindow* display);
  // The window's frame sizes into the display (0 or an error code), and
  // activation.
  int (*borders)(vlPlatformWindow* display);
  void (*activate)(vlPlatformWindow* display, int flag);
  // Screen modes of the display's monitor, unsorted (0, or ERR_NODISPMODES
  // when there are none; free with delete[]), and the monitors.
  int (*modes)(vlPlatformWindow* display, vlModeEntry** out, int32_t* count);
  vlMonitorNode* (*monitors)(vlPlatformWindow* display);
};

// The display's device, chosen on first use and kept.
const vlDisplayDevice* DisplayDevice(const vlPlatformWindow* display);
// The device displays are given now: the adapter's once one is installed.
const vlDisplayDevice* DefaultDisplayDevice();
// Whether the device of the display (the default one for null) does it.
bool DisplayDeviceDoes(const vlPlatformWindow* display, uint32_t feature);
