// X server connections, the platform start and stop, the blocking wait and
// the pointer-watch threads. Depends on Xlib, the optional extensions
// (x11_ext.h), the wake pipe, threads and timers of the platform layer and
// the display list reached through the X11 hooks.
#include "platform/x11/x11_connection.h"
#include "platform/x11/x11_errors.h"
#include "platform/x11/x11_open.h"

#include <X11/Xatom.h>
#include <X11/cursorfont.h>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <new>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/select.h>
#include <unistd.h>
#include <vector>

#include "platform/window_record.h"
#include "platform/hooks.h"
#include "platform/joysticks.h"
#include "platform/display_device.h"
#include "runtime/blocking.h"
#include "runtime/os.h"
#include "platform/requesters_gtk.h"
#include "platform/timers.h"
#include "platform/x11/x11_ext.h"
#include "platform/x11/x11_hooks.h"
#include "platform/x11/x11_input.h"
#include "platform/x11/x11_shm.h"
#include "platform/x11/x11_window.h"
#include "runtime/run_state.h"
#include "vm/error_codes.h"

namespace {

vlX11Connection* gConnections = nullptr;
// Main thread only: the event handler sets it, the next wait reads it.
bool gSkipNextWait = false;

constexpr unsigned kBorderCursorShapes[kBorderCursorCount] = {
    XC_top_left_corner, XC_bottom_left_corner, XC_top_right_corner, XC_bottom_right_corner,
    XC_left_side,       XC_right_side,         XC_top_side,         XC_bottom_side};

void* PointerWatchThread(void* argument) {
  auto* connection = static_cast<vlX11Connection*>(argument);
  // Xlib connections are not shared between threads: the watch has its own.
  Display* display = OpenXDisplay(connection->name[0] ? connection->name : nullptr);
  if (!display) return nullptr;
  Window root = DefaultRootWindow(display);
  while (!connection->stopPointerWatch.load()) {
    Window rootReturn, childReturn;
    int rootX, rootY, winX, winY;
    unsigned int mask;
    if (XQueryPointer(display, root, &rootReturn, &childReturn, &rootX, &rootY, &winX, &winY,
                      &mask)) {
      if (rootX != connection->lastPointerX || rootY != connection->lastPointerY) {
        connection->lastPointerX = rootX;
        connection->lastPointerY = rootY;
        PostCoalescedWake(&connection->pointerWake, VL_WAKE_POINTER_MOVED,
                          reinterpret_cast<uintptr_t>(connection));
      }
    }
    // Sleeps 20 ms, or less when the connection is closing.
    pollfd stop{connection->watchStopFd, POLLIN, 0};
    poll(&stop, 1, 20);
  }
  XCloseDisplay(display);
  return nullptr;
}

// The window of an EWMH window manager's check property, when it names
// itself as well (a stale property of a manager that is gone does not).
bool EwmhManagerRunning(Display* d, Window root) {
  Atom check = XInternAtom(d, "_NET_SUPPORTING_WM_CHECK", False);
  auto read = [&](Window w, Window* out) {
    Atom type = None;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    bool ok = XGetWindowProperty(d, w, check, 0, 1, False, XA_WINDOW, &type, &format, &items, &after, &data) ==
                  Success &&
              type == XA_WINDOW && format == 32 && items == 1 && data;
    if (ok) *out = static_cast<Window>(reinterpret_cast<const long*>(data)[0]);
    if (data) XFree(data);
    return ok;
  };
  Window manager = None, self = None;
  if (!read(root, &manager) || manager == None) return false;
  // The manager's window may be gone already: its error must not reach
  // the default handler.
  XErrorHandler previous = XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
  bool alive = read(manager, &self) && self == manager;
  XSync(d, False);
  XSetErrorHandler(previous);
  return alive;
}

// Asks the window manager for the frame sizes it would give a window and
// waits up to 100 ms for the answer. Without an EWMH manager nobody would
// answer, and the frames are none.
void ProbeFrameExtents(vlX11Connection* c) {
  Display* d = c->display;
  if (!EwmhManagerRunning(d, c->root)) return;
  XSetWindowAttributes attributes{};
  attributes.event_mask = StructureNotifyMask | PropertyChangeMask;
  Window probe = XCreateWindow(d, c->root, 0, 0, 640, 480, 0, CopyFromParent, InputOutput,
                               CopyFromParent, CWEventMask, &attributes);
  Atom request = XInternAtom(d, "_NET_REQUEST_FRAME_EXTENTS", False);
  Atom extents = XInternAtom(d, "_NET_FRAME_EXTENTS", False);
  XEvent message{};
  message.xclient.type = ClientMessage;
  message.xclient.window = probe;
  message.xclient.message_type = request;
  message.xclient.format = 32;
  XSendEvent(d, c->root, False, SubstructureNotifyMask | SubstructureRedirectMask, &message);
  XFlush(d);
  vlTimeVal start, now;
  GetSysTime(&start);
  for (;;) {
    XEvent event;
    if (XCheckTypedWindowEvent(d, probe, PropertyNotify, &event) &&
        event.xproperty.atom == extents) {
      GetFrameExtents(d, probe, &c->frameLeft, &c->frameTop, &c->frameWidth, &c->frameHeight);
      break;
    }
    GetSysTime(&now);
    SubTimeVal(&now, &start);
    if (now.seconds > 0 || now.micros >= 100000) break;
    usleep(2000);
  }
  // The probe goes in either case: a window manager that never answers
  // must not leave a stray window behind.
  XDestroyWindow(d, probe);
  XSync(d, True);
}

void FindArgbVisual(vlX11Connection* c) {
  XVisualInfo wanted{};
  wanted.screen = c->screen;
  wanted.depth = 32;
  wanted.c_class = TrueColor;
  int count = 0;
  XVisualInfo* list = XGetVisualInfo(c->display, VisualScreenMask | VisualDepthMask | VisualClassMask,
                                     &wanted, &count);
  if (!list) return;
  for (int i = 0; i < count; i++) {
    if (list[i].red_mask == 0xFF0000 && list[i].green_mask == 0xFF00 && list[i].blue_mask == 0xFF &&
        list[i].bits_per_rgb == 8) {
      c->argbVisual = list[i].visual;
      c->visualList = list;
      c->argbColormap = XCreateColormap(c->display, c->root, c->argbVisual, AllocNone);
      XInstallColormap(c->display, c->argbColormap);
      return;
    }
  }
  XFree(list);
}

void MakeCursors(vlX11Connection* c) {
  Display* d = c->display;
  Pixmap blank = XCreatePixmap(d, c->root, 1, 1, 1);
  GC gc = XCreateGC(d, blank, 0, nullptr);
  XSetForeground(d, gc, 0);
  XFillRectangle(d, blank, gc, 0, 0, 1, 1);
  XFreeGC(d, gc);
  XColor black{};
  c->invisibleCursor = XCreatePixmapCursor(d, blank, blank, &black, &black, 0, 0);
  XFreePixmap(d, blank);
  c->busyCursor = XCreateFontCursor(d, XC_watch);
  c->moveCursor = XCreateFontCursor(d, XC_fleur);
  for (int i = 0; i < kBorderCursorCount; i++)
    c->borderCursors[i] = XCreateFontCursor(d, kBorderCursorShapes[i]);
}

void CloseConnection(vlX11Connection* c) {
  if (c->pointerWatch) {
    c->stopPointerWatch.store(1);
    if (c->watchStopFd >= 0) eventfd_write(c->watchStopFd, 1);
    JoinThread(c->pointerWatch);
    c->pointerWatch = 0;
  }
  if (c->watchStopFd >= 0) close(c->watchStopFd);
  Display* d = c->display;
  if (d) {
    for (Cursor* cursor : {&c->busyCursor, &c->moveCursor, &c->invisibleCursor})
      if (*cursor) XFreeCursor(d, *cursor);
    for (Cursor cursor : c->borderCursors)
      if (cursor) XFreeCursor(d, cursor);
    if (c->argbColormap) XFreeColormap(d, c->argbColormap);
  }
  if (c->visualList) XFree(c->visualList);
  if (d) ForgetShmConnection(d);
  if (d) XCloseDisplay(d);
  delete c;
}

void Unlink(vlX11Connection* c) {
  for (vlX11Connection** link = &gConnections; *link; link = &(*link)->next) {
    if (*link == c) {
      *link = c->next;
      return;
    }
  }
}

}  // namespace

int PixelFormatFromMasks(unsigned long red, unsigned long green, unsigned long blue) {
  if (red == 0xFF0000 && green == 0xFF00 && blue == 0xFF) return 10;
  if (blue == 0xFF000000 && green == 0xFF0000 && red == 0xFF00) return 11;
  if (red == 0xFF000000 && green == 0xFF0000 && blue == 0xFF00) return 12;
  if (red == 0xF800 && green == 0x7E0 && blue == 0x1F) return 4;
  return -1;
}

vlX11Connection* FirstX11Connection() { return gConnections; }

void GetFrameExtents(Display* display, Window window, int* left, int* top, int* horizontal,
                     int* vertical) {
  *left = *top = *horizontal = *vertical = 0;
  XSync(display, False);
  Atom extents = XInternAtom(display, "_NET_FRAME_EXTENTS", False);
  Atom type = None;
  int format = 0;
  unsigned long items = 0, after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(display, window, extents, 0, 4, False, XA_CARDINAL, &type, &format,
                         &items, &after, &data) != Success)
    return;
  if (type == XA_CARDINAL && format == 32 && items == 4 && data) {
    // Format-32 items come as longs.
    const long* values = reinterpret_cast<const long*>(data);
    *left = static_cast<int>(values[0]);
    *top = static_cast<int>(values[2]);
    *horizontal = static_cast<int>(values[0] + values[1]);
    *vertical = static_cast<int>(values[2] + values[3]);
  }
  if (data) XFree(data);
}

int OpenX11Screen(const char* name, vlX11Connection** out) {
  const char* wanted = name ? name : "";
  for (vlX11Connection* c = gConnections; c; c = c->next) {
    if (strcmp(c->name, wanted) == 0) {
      *out = c;
      return 0;
    }
  }
  // A longer name could not be kept whole, and a cut one would match a
  // different server later.
  if (strlen(wanted) >= sizeof(vlX11Connection::name)) return ERR_XDISPLAY;
  auto* c = new (std::nothrow) vlX11Connection{};
  if (!c) return ERR_MEM;
  static uint64_t lastId = 0;
  c->id = ++lastId;
  c->pixelFormat = -1;
  InstallX11ErrorHandler();
  c->watchStopFd = -1;
  c->display = OpenXDisplay(wanted[0] ? wanted : nullptr);
  if (!c->display) {
    delete c;
    return ERR_XDISPLAY;
  }
  vlX11Connection** tail = &gConnections;
  while (*tail) tail = &(*tail)->next;
  *tail = c;
  strcpy(c->name, wanted);

  Display* d = c->display;
  c->screen = DefaultScreen(d);
  c->root = RootWindow(d, c->screen);
  c->rootDepth = DefaultDepth(d, c->screen);
  c->fd = ConnectionNumber(d);
  XVisualInfo wanted_visual{};
  wanted_visual.screen = c->screen;
  wanted_visual.c_class = TrueColor;
  wanted_visual.depth = c->rootDepth;
  int count = 0;
  XVisualInfo* visuals = XGetVisualInfo(d, VisualScreenMask | VisualClassMask | VisualDepthMask,
                                        &wanted_visual, &count);
  for (int i = 0; visuals && i < count && c->pixelFormat < 0; i++)
    c->pixelFormat = PixelFormatFromMasks(visuals[i].red_mask, visuals[i].green_mask,
                                          visuals[i].blue_mask);
  if (visuals) XFree(visuals);

  if (DisplayDeviceDoes(nullptr, VL_DEVICE_X_SERVER)) {
    int status = 0;
    if (c->pixelFormat < 0 || (GetGlobalPixelFormat() >= 0 && GetGlobalPixelFormat() != c->pixelFormat))
      status = ERR_PIXELFORMAT;
    if (!status) {
      if (HaveXFixes()) {
        int errorBase = 0;
        dl_XFixesQueryVersion(d, &c->fixesMajor, &c->fixesMinor);
        dl_XFixesQueryExtension(d, &c->fixesEventBase, &errorBase);
      }
      ProbeFrameExtents(c);
      if (!vlStartup.noMouseHook) {
        c->watchStopFd = eventfd(0, EFD_CLOEXEC);
        c->pointerWatch = SpawnThread(PointerWatchThread, c, 0);
        if (!c->pointerWatch) status = ERR_THREAD;
      }
    }
    // A connection that failed is not kept: the next attempt with the same
    // name must fail the same way, not find a half-made record.
    if (status) {
      Unlink(c);
      CloseConnection(c);
      return status;
    }
    FindArgbVisual(c);
    MakeCursors(c);
  }
  *out = c;
  return 0;
}

int AttachDisplayToX11Screen(vlPlatformWindow* display) {
  vlX11Window* window = display->window;
  if (!window) return ERR_MEM;
  vlX11Connection* c = nullptr;
  int status = OpenX11Screen(display->xDisplayName, &c);
  if (status) return status;
  window->connection = c;
  SetGlobalPixelFormat(c->pixelFormat);
  return 0;
}

int InitPlatform() {
  LoadSharedLibs();
  setlocale(LC_ALL, "C");
  int status = InitTimers();
  if (status) return status;
  if (InstallAudioTimerSignal()) return ERR_SIGNAL;
  return 0;
}

int FreePlatform() {
  CloseJoysticks();
  ShutdownTimers();
  CloseClipboardConverters();
  FreeIncrementalSends();
  while (gConnections) {
    vlX11Connection* c = gConnections;
    gConnections = c->next;
    CloseConnection(c);
  }
  SetGlobalPixelFormat(-1);
  gSkipNextWait = false;
  StopRequesterThread();
  UnloadSharedLibs();
  return 0;
}

void SetSkipNextWait() { gSkipNextWait = true; }

int WaitX11Event(vlVMState*, int) {
  if (gSkipNextWait) {
    gSkipNextWait = false;
    return 0;
  }
  // What the last commands drew goes out in the wait, unless there is news
  // already (the pump sends what it keeps waiting).
  std::vector<int> fds;
  for (vlX11Connection* c = gConnections; c; c = c->next) {
    // Events that Xlib already read off the socket would not end the wait.
    if (XEventsQueued(c->display, QueuedAlready) > 0) return 0;
    fds.push_back(c->fd);
  }
  return WaitForWake(fds.data(), static_cast<int>(fds.size()));
}

void X11PointerMoved(uintptr_t value) {
  vlX11Connection* connection = nullptr;
  for (vlX11Connection* c = gConnections; c; c = c->next)
    if (reinterpret_cast<uintptr_t>(c) == value) connection = c;
  if (!connection) return;
  ClearCoalescedWake(&connection->pointerWake);
  for (vlPlatformWindow* d = WindowOf(gX11Hooks.firstDisplay()); d; d = NextWindow(d)) {
    if (d->hasMouseMoveHandler && d->window && d->window->connection == connection) {
      GetSysTime(&d->lastMoveTime);
      d->mouseMoved = 1;
      return;
    }
  }
}
