// X server connections (one per X display name), the platform start and
// stop, the blocking wait on the connections and the wake pipe, and the
// pointer-watch thread that turns pointer movement into wake messages.
#pragma once
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <atomic>
#include <cstdint>

#include "platform/offscreen_bitmap.h"  // the global pixel format
#include "runtime/threads.h"
#include "platform/wake_pipe.h"

struct vlDisplay;
struct vlPlatformWindow;
struct vlVMState;

// Border cursors in zone order: top-left, bottom-left, top-right,
// bottom-right corners, then left, right, top and bottom sides.
constexpr int kBorderCursorCount = 8;

struct vlX11Connection {
  vlX11Connection* next;
  char name[256];  // empty: the default display
  Display* display;
  int screen;
  int fd;
  Window root;
  Visual* argbVisual;  // depth-32 TrueColor, or null
  XVisualInfo* visualList;
  Colormap argbColormap;
  int rootDepth;
  int pixelFormat;  // of the default visual, -1 when unknown
  int frameLeft, frameTop, frameWidth, frameHeight;  // width: left+right, height: top+bottom
  int fixesEventBase, fixesMajor, fixesMinor;
  int pointerShapeOverridden;
  Cursor busyCursor;
  Cursor moveCursor;
  Cursor invisibleCursor;
  Cursor borderCursors[kBorderCursorCount];
  int vidModeState;  // 0 not asked yet, 1 available, 2 absent
  int randr13State;  // the same for XRandR 1.3
  int shmState;      // MIT-SHM: 0 not asked yet, 1 in use, 2 absent or refused
  int putsPending;   // puts wait in Xlib's buffer until they are sent
  // Names the connection to those who wait for its frames; no later
  // connection gets it again.
  uint64_t id;
  vlThreadId pointerWatch;
  std::atomic<int> stopPointerWatch;
  int watchStopFd;  // an eventfd that cuts the watch's sleep short; -1: none
  int lastPointerX, lastPointerY;
  // At most one pointer message in the pipe at a time per connection.
  vlWakeCoalescer pointerWake;
};

// Starts the platform layer: locale "C", timers, the audio timer signal.
// 0, or the timers' error, or ERR_SIGNAL.
int InitPlatform();
// Stops the pointer watches, closes every connection, stops the timers.
int FreePlatform();

// The connection for an X display name (null or "" = the default display),
// opened on first use. 0 or ERR_MEM, ERR_XDISPLAY, ERR_PIXELFORMAT,
// ERR_THREAD.
int OpenX11Screen(const char* name, vlX11Connection** out);
// Opens the display's connection into its window record and makes the
// connection's pixel format the global one.
int AttachDisplayToX11Screen(vlPlatformWindow* display);
vlX11Connection* FirstX11Connection();

// The pixel format of a TrueColor visual's masks, -1 for none of the four
// known layouts.
int PixelFormatFromMasks(unsigned long red, unsigned long green, unsigned long blue);

// _NET_FRAME_EXTENTS of a window: left, top, left+right, top+bottom; all 0
// when the property is absent or malformed.
void GetFrameExtents(Display* display, Window window, int* left, int* top, int* horizontal,
                     int* vertical);

// The blocking wait of the event loop: returns at once when the event
// handler left events queued; else waits for the wake pipe or any
// connection. 0.
int WaitX11Event(vlVMState* state, int mode);
// Set by the event handler when its time budget ran out.
void SetSkipNextWait();
// A pointer-moved message from the pipe: flags the first display on that
// connection that has a mouse-move handler.
void X11PointerMoved(uintptr_t connection);
