// Opening, closing and the window operations of a display's X window:
// window-manager hints, icons, XDND awareness, shape, mapping and grabs.
// Depends on the connections, the optional XFixes, the monitor list of
// x11_modes.cpp and the display list and bitmaps reached through the hooks.
#include "platform/x11/x11_window.h"
#include "platform/x11/x11_shm.h"

#include <X11/Xatom.h>
#include <X11/extensions/shape.h>
#include <cstdlib>
#include <cstring>
#include <new>
#include <unistd.h>

#include "platform/offscreen_bitmap.h"
#include "platform/window_record.h"
#include "runtime/os.h"
#include "platform/x11/x11_hooks.h"
#include "platform/x11/x11_input.h"
#include "vm/error_codes.h"

namespace {

bool IsFullScreen(const vlPlatformWindow* display) { return display->displayMode != 0; }

// _MOTIF_WM_HINTS function and decoration bits.
constexpr long kMwmHintsFunctions = 1, kMwmHintsDecorations = 2;
constexpr long kMwmFuncAll = 1, kMwmFuncMove = 4, kMwmFuncMinimize = 8, kMwmFuncResize = 2,
               kMwmFuncMaximize = 0x10, kMwmFuncClose = 0x20;

void SetFixedSizeHints(vlPlatformWindow* display, XSizeHints* hints) {
  hints->flags |= PMinSize | PMaxSize;
  hints->min_width = hints->max_width = display->width;
  hints->min_height = hints->max_height = display->height;
}

void SetMotifHints(vlPlatformWindow* display, Display* d, Window w) {
  long hints[5] = {kMwmHintsFunctions, kMwmFuncAll, 0, 0, 0};
  uint32_t style = display->styleFlags;
  if (style & VL_DISPSTYLE_BORDERLESS) {
    hints[0] = kMwmHintsFunctions | kMwmHintsDecorations;
    hints[2] = 0;
  }
  // With the "all" bit set, the other function bits name what is taken away.
  if (style & VL_DISPSTYLE_NOMINIMIZE) hints[1] = kMwmFuncAll | kMwmFuncMinimize;
  if (style & VL_DISPSTYLE_NOCLOSE) hints[1] |= kMwmFuncClose;
  if (style & VL_DISPSTYLE_FIXED) hints[1] |= kMwmFuncMove;
  if (!(style & VL_DISPSTYLE_SIZEABLE)) hints[1] |= kMwmFuncResize | kMwmFuncMaximize;
  Atom motif = XInternAtom(d, "_MOTIF_WM_HINTS", False);
  XChangeProperty(d, w, motif, motif, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(hints), 5);
}

void InternAtoms(vlX11Window* x) {
  Display* d = x->display;
  struct {
    Atom* slot;
    const char* name;
  } const atoms[] = {
      {&x->wmDeleteWindow, "WM_DELETE_WINDOW"}, {&x->xdndEnter, "XdndEnter"},
      {&x->xdndLeave, "XdndLeave"},             {&x->xdndPosition, "XdndPosition"},
      {&x->xdndStatus, "XdndStatus"},           {&x->xdndDrop, "XdndDrop"},
      {&x->xdndSelection, "XdndSelection"},     {&x->xdndFinished, "XdndFinished"},
      {&x->xdndActionCopy, "XdndActionCopy"},   {&x->xdndTypeList, "XdndTypeList"},
      {&x->primary, "PRIMARY"},                 {&x->clipboard, "CLIPBOARD"},
      {&x->targets, "TARGETS"},                 {&x->xclipOut, "XCLIP_OUT"},
      {&x->textPlain, "text/plain"},            {&x->utf8String, "UTF8_STRING"},
      {&x->imagePng, "image/png"},              {&x->incr, "INCR"},
      {&x->uriList, "text/uri-list"},
  };
  for (const auto& atom : atoms) *atom.slot = XInternAtom(d, atom.name, False);
}

void ReleaseAlpha(vlX11Window* x) {
  free(x->alphaPlane);
  x->alphaPlane = nullptr;
  FreeOffscreenBitmap(x->outputBitmap);
  x->outputBitmap = nullptr;
}

void SetWmInput(Display* d, Window w, Bool input) {
  XWMHints hints{};
  hints.flags = InputHint;
  hints.input = input;
  XSetWMHints(d, w, &hints);
}

// Full-screen displays that may hold a grab: only one such display can.
void UpdateGrab(vlPlatformWindow* display) {
  vlX11Window* x = display->window;
  x->pointerGrabbed = 0;
  if (!IsFullScreen(display) || display->overrideWord || display->grabBlocking) return;
  for (vlPlatformWindow* other = WindowOf(gX11Hooks.firstDisplay()); other; other = NextWindow(other)) {
    if (other == display || !other->window || !other->window->window) continue;
    if (!IsFullScreen(other) || other->overrideWord || other->grabBlocking) continue;
    for (vlPlatformWindow* holder = WindowOf(gX11Hooks.firstDisplay()); holder; holder = NextWindow(holder)) {
      vlX11Window* h = holder->window;
      if (holder != display && h && h->pointerGrabbed) {
        XUngrabPointer(h->display, CurrentTime);
        XUngrabKeyboard(h->display, CurrentTime);
        h->pointerGrabbed = 0;
        break;
      }
    }
    return;
  }
  GrabX11Input(x);
  x->pointerGrabbed = 1;
}

}  // namespace

int AllocDisplayPlatformData(vlPlatformWindow* display) {
  auto* x = static_cast<vlX11Window*>(calloc(1, sizeof(vlX11Window)));
  if (!x) return ERR_MEM;
  x->lastKeyCode = -1;
  x->modeSwitchRequest = -1;
  x->saverState = 1;
  display->window = x;
  return 0;
}

void FreeDisplayPlatformData(vlPlatformWindow* display) {
  if (!display->window) return;
  ForgetClipboardWindow(display->window);
  if (display->window->savedModeLine) XFree(display->window->savedModeLine);
  free(display->window);
  display->window = nullptr;
}

void WaitWindowMapped(vlX11Window* x) {
  // The MapNotify stays queued for the event handler; the attributes tell
  // when the window can take the focus. Bounded, so a window that is
  // already shown (no MapNotify comes) or a refused map cannot hang us.
  for (int i = 0; i < 5000; i++) {
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(x->display, x->window, &attributes)) return;
    if (attributes.map_state == IsViewable) return;
    usleep(1000);
  }
}

static bool IsViewableNow(vlX11Window* x) {
  XWindowAttributes attributes;
  return XGetWindowAttributes(x->display, x->window, &attributes) &&
         attributes.map_state == IsViewable;
}

void GrabX11Input(vlX11Window* x) {
  XGrabPointer(x->display, x->window, True,
               ButtonPressMask | ButtonReleaseMask | PointerMotionMask | ButtonMotionMask,
               GrabModeAsync, GrabModeAsync, None, None, CurrentTime);
  XGrabKeyboard(x->display, x->window, True, GrabModeAsync, GrabModeAsync, CurrentTime);
}

int OpenX11Window(vlPlatformWindow* display, int activate, const uint8_t* mask, const uint8_t* alpha) {
  if (!display->window) {
    int status = AllocDisplayPlatformData(display);
    if (status) return status;
  }
  vlX11Window* x = display->window;
  vlX11Connection* c = nullptr;
  int status = OpenX11Screen(display->xDisplayName, &c);
  if (status) return status;
  x->connection = c;
  x->display = c->display;
  x->screen = c->screen;
  x->root = c->root;
  Display* d = x->display;
  const int width = display->width, height = display->height;

  if (!alpha) {
    x->visual = DefaultVisual(d, x->screen);
    x->depth = c->rootDepth;
  } else {
    if (!c->argbVisual || !c->argbColormap) return ERR_NOARGBVISUAL;
    if (c->rootDepth < 24) return ERR_NEEDCOMPOSITE;
    x->visual = c->argbVisual;
    x->depth = 32;
  }

  x->shape = None;
  if (mask || alpha) {
    if (!HaveXFixes() || c->fixesMajor < 2) return ERR_XFIXES;
    std::vector<XRectangle> rects = mask ? ShapeRectsFromMask(mask, width, height)
                                         : ShapeRectsFromAlpha(alpha, width, height);
    x->shape = dl_XFixesCreateRegion(d, rects.data(), static_cast<int>(rects.size()));
    if (alpha) {
      size_t rowBytes = (static_cast<size_t>(width) + 3) & ~size_t{3};
      x->alphaPlane = static_cast<uint8_t*>(malloc(rowBytes * height));
      if (!x->alphaPlane) {
        dl_XFixesDestroyRegion(d, x->shape);
        x->shape = None;
        return ERR_ALLOCALPHA;
      }
      memcpy(x->alphaPlane, alpha, rowBytes * height);
      x->outputBitmap = AllocOffscreenBitmap(width, height, 0);
      if (!x->outputBitmap) {
        ReleaseAlpha(x);
        dl_XFixesDestroyRegion(d, x->shape);
        x->shape = None;
        return ERR_BITMAP;
      }
    }
  }

  XSetWindowAttributes attributes{};
  unsigned long valueMask = CWEventMask;
  attributes.event_mask = StructureNotifyMask;
  if (IsFullScreen(display) || display->parent || display->overrideWord) {
    attributes.override_redirect = True;
    valueMask |= CWOverrideRedirect;
  }
  if (alpha) {
    attributes.background_pixel = 0;
    attributes.border_pixel = 0;
    attributes.colormap = c->argbColormap;
    valueMask |= CWBackPixel | CWBorderPixel | CWColormap;
  }
  x->window = XCreateWindow(d, x->root, display->x, display->y, width, height, 0, x->depth,
                            InputOutput, x->visual, valueMask, &attributes);
  Window w = x->window;

  long xdndVersion = 5;
  XChangeProperty(d, w, XInternAtom(d, "XdndAware", False), XA_ATOM, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(&xdndVersion), 1);
  long iconItems = 0;
  const unsigned long* icons = gX11Hooks.windowIconData(&iconItems);
  if (icons && iconItems > 0)
    XChangeProperty(d, w, XInternAtom(d, "_NET_WM_ICON", False), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(icons), static_cast<int>(iconItems));
  gX11Hooks.releaseIconData(icons);

  vlMonitorNode* monitors = GetMonitorList(display);
  if (!monitors) {
    // Nothing of the half-made window may stay behind.
    XDestroyWindow(d, w);
    x->window = 0;
    if (x->shape) dl_XFixesDestroyRegion(d, x->shape);
    x->shape = None;
    ReleaseAlpha(x);
    return ERR_GETMONITORINFO;
  }
  vlMonitorNode* monitor = monitors;
  for (int i = 0; i < display->monitorIndex && monitor->next; i++) monitor = monitor->next;
  if ((display->styleFlags & VL_DISPSTYLE_BORDERLESS) && monitor->width == width &&
      monitor->height == height) {
    Atom fullscreen = XInternAtom(d, "_NET_WM_STATE_FULLSCREEN", False);
    XChangeProperty(d, w, XInternAtom(d, "_NET_WM_STATE", False), XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&fullscreen), 1);
  }
  FreeMonitors(monitors);
  XStoreName(d, w, display->title ? display->title : "");
  const vlPlatformWindow* parent = WindowOf(display->parent);
  if (parent && parent->window && parent->window->window) XSetTransientForHint(d, w, parent->window->window);

  XSizeHints sizeHints{};
  sizeHints.flags = PPosition;
  sizeHints.x = display->x;
  sizeHints.y = display->y;
  if (!(display->styleFlags & VL_DISPSTYLE_SIZEABLE)) SetFixedSizeHints(display, &sizeHints);
  XSetWMNormalHints(d, w, &sizeHints);
  SetMotifHints(display, d, w);

  if (x->shape) {
    dl_XFixesSetWindowShapeRegion(d, w, ShapeBounding, 0, 0, x->shape);
    dl_XFixesSetWindowShapeRegion(d, w, ShapeInput, 0, 0, x->shape);
  }
  InternAtoms(x);
  XSetWMProtocols(d, w, &x->wmDeleteWindow, 1);

  XGCValues values{};
  if (!alpha) {
    XGCValues defaults{};
    XGetGCValues(d, DefaultGC(d, x->screen), GCForeground | GCBackground, &defaults);
    values.function = GXcopy;
    values.fill_style = FillSolid;
    values.graphics_exposures = False;
    values.foreground = defaults.foreground;
    values.background = defaults.background;
    x->gc = XCreateGC(d, w, GCFunction | GCFillStyle | GCGraphicsExposures | GCForeground |
                                GCBackground, &values);
  } else {
    values.function = GXcopy;
    values.plane_mask = AllPlanes;
    values.foreground = 0;
    values.background = 0;
    values.clip_mask = None;
    values.graphics_exposures = False;
    x->gc = XCreateGC(d, w, GCFunction | GCPlaneMask | GCForeground | GCBackground | GCClipMask |
                                GCGraphicsExposures, &values);
  }

  XMoveWindow(d, w, display->x, display->y);
  if (activate) {
    XMapRaised(d, w);
    WaitWindowMapped(x);
    if (IsViewableNow(x)) XSetInputFocus(d, w, RevertToNone, CurrentTime);
  } else {
    SetWmInput(d, w, False);
    XMapWindow(d, w);
    WaitWindowMapped(x);
    SetWmInput(d, w, True);
  }

  GetFrameExtents(d, w, &display->frameLeft, &display->frameTop, &display->frameWidth,
                  &display->frameHeight);
  XSelectInput(d, w, KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask |
                         EnterWindowMask | LeaveWindowMask | PointerMotionMask | ButtonMotionMask |
                         ExposureMask | VisibilityChangeMask | StructureNotifyMask |
                         FocusChangeMask | PropertyChangeMask | OwnerGrabButtonMask);
  if (HaveXFixes())
    dl_XFixesSelectSelectionInput(d, w, x->clipboard,
                                      XFixesSetSelectionOwnerNotifyMask |
                                          XFixesSelectionWindowDestroyNotifyMask |
                                          XFixesSelectionClientCloseNotifyMask);
  // The focus came with the mapping, before the window listened for it.
  TakeFocusState(display);
  UpdateGrab(display);
  if (display->styleFlags & VL_DISPSTYLE_NOSCREENSAVER) SetScreenSaver(x, 0);
  ForgetHeldInput(display);
  x->moving = x->resizing = 0;
  // A new window has no cursor of its own defined yet.
  x->pointerHidden = 0;
  x->regionCursor = None;
  return 0;
}

void CloseX11Window(vlPlatformWindow* display) {
  vlX11Window* x = display->window;
  if (!x || !x->display) return;
  Display* d = x->display;
  if (x->saverState == 0) SetScreenSaver(x, 1);
  if (x->pointerGrabbed) {
    XUngrabKeyboard(d, CurrentTime);
    XUngrabPointer(d, CurrentTime);
    x->pointerGrabbed = 0;
  }
  if (x->window) {
    XUnmapWindow(d, x->window);
    if (x->gc) XFreeGC(d, x->gc);
    XDestroyWindow(d, x->window);
  }
  x->gc = nullptr;
  x->window = 0;
  if (x->shape && HaveXFixes()) dl_XFixesDestroyRegion(d, x->shape);
  x->shape = None;
  // The offer goes with the window that made it.
  FreeClipboardOffer(x);
  ForgetClipboardWindow(x);
  ReleaseAlpha(x);
  FreeWindowStaging(x);
  XFlush(d);
  x->display = nullptr;
  // The focus went with the window; its focus-out never reaches the display.
  display->active = 0;
}

int ShowHideX11Window(vlPlatformWindow* display, int hide) {
  vlX11Window* x = display->window;
  if (IsFullScreen(display) || !x || !x->window) return 0;
  if (hide) {
    XIconifyWindow(x->display, x->window, x->screen);
  } else {
    XMapRaised(x->display, x->window);
    WaitWindowMapped(x);
    if (IsViewableNow(x)) XSetInputFocus(x->display, x->window, RevertToNone, CurrentTime);
  }
  XFlush(x->display);
  return 0;
}

void MoveResizeX11Window(vlPlatformWindow* display) {
  vlX11Window* x = display->window;
  if (!x || !x->window) return;
  if (!(display->styleFlags & VL_DISPSTYLE_SIZEABLE)) {
    XSizeHints hints{};
    SetFixedSizeHints(display, &hints);
    XSetWMNormalHints(x->display, x->window, &hints);
  }
  // The staging ring is sized for the old window.
  FreeWindowStaging(x);
  x->geometrySerial = NextRequest(x->display);
  XMoveResizeWindow(x->display, x->window, display->x, display->y, display->width,
                    display->height);
  XFlush(x->display);
}

void MoveX11Window(vlPlatformWindow* display) {
  vlX11Window* x = display->window;
  if (!x || !x->window) return;
  x->geometrySerial = NextRequest(x->display);
  XMoveWindow(x->display, x->window, display->x, display->y);
  XFlush(x->display);
}

void SetX11WindowTitle(vlPlatformWindow* display) {
  vlX11Window* x = display->window;
  if (!x || !x->window) return;
  XStoreName(x->display, x->window, display->title ? display->title : "");
  XFlush(x->display);
}

void ActivateX11Window(vlPlatformWindow* display) {
  vlX11Window* x = display->window;
  if (!x || !x->window || !IsViewableNow(x)) return;
  XSetInputFocus(x->display, x->window, RevertToNone, CurrentTime);
  XFlush(x->display);
}

int GetBorderSizes(vlPlatformWindow* display) {
  vlX11Window* x = display->window;
  if ((display->styleFlags & VL_DISPSTYLE_BORDERLESS) || !x || !x->connection) {
    display->frameLeft = display->frameTop = display->frameWidth = display->frameHeight = 0;
  } else {
    display->frameLeft = x->connection->frameLeft;
    display->frameTop = x->connection->frameTop;
    display->frameWidth = x->connection->frameWidth;
    display->frameHeight = x->connection->frameHeight;
  }
  display->bordersKnown = 1;
  return 0;
}
