// Input translation: the X event loop of the pump, key and qualifier
// translation, window dragging and sizing by the user, and XDND drops.
// Depends on the connections and window records, the pending-event queue,
// the display list reached through the X11 hooks and the display
// operations reached through the input hooks.
#include "platform/x11/x11_input.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/shape.h>
#include <X11/keysym.h>

#include <cstring>

#include "platform/window_record.h"
#include "platform/event_pump.h"
#include "platform/hooks.h"
#include "platform/joysticks.h"
#include "runtime/os.h"
#include "platform/x11/x11_connection.h"
#include "platform/x11/x11_ext.h"
#include "platform/x11/x11_hooks.h"
#include "platform/x11/x11_window.h"
#include "runtime/event_queue.h"
#include "vm/error_codes.h"

namespace {

int NoFlush(vlVMState*) { return 0; }
void NoRefresh(vlVMState*, vlDisplay*) {}
int AlwaysUnique(vlDisplay*) { return 1; }
int NoSwitch(vlVMState*, vlDisplay*, int) { return 0; }
int NoResize(vlVMState*, vlDisplay*, int, int) { return 0; }

constexpr vlX11InputHooks kInputDefaults = {NoFlush, NoRefresh, AlwaysUnique, NoSwitch, NoResize};

struct KeyRow {
  KeySym first, last;
  int code;  // of the first keysym; the range counts up from it
};

// First match wins. Home is the key the key names call "HOME" (281), the
// code Begin has too: keyboards have a Home key and rarely a Begin key.
constexpr KeyRow kKeyRows[] = {
    {XK_BackSpace, XK_BackSpace, 271}, {XK_Tab, XK_Tab, 272},       {XK_Return, XK_Return, 274},
    {XK_KP_Enter, XK_KP_Enter, 273},   {XK_Escape, XK_Escape, 275}, {XK_Delete, XK_Delete, 277},
    {XK_Up, XK_Up, 256},               {XK_Down, XK_Down, 257},     {XK_Right, XK_Right, 258},
    {XK_Left, XK_Left, 259},           {XK_F1, XK_F10, 261},        {XK_F11, XK_F11, 278},
    {XK_F12, XK_F12, 279},             {XK_F13, XK_F16, 287},       {XK_Insert, XK_Insert, 280},
    {XK_Prior, XK_Prior, 283},         {XK_Next, XK_Next, 284},     {XK_Print, XK_Print, 285},
    {XK_Pause, XK_Pause, 286},         {XK_Help, XK_Help, 260},     {XK_KP_Decimal, XK_KP_Decimal, 46},
    {XK_KP_Separator, XK_KP_Separator, 44}, {XK_KP_Add, XK_KP_Add, 43},
    {XK_KP_Subtract, XK_KP_Subtract, 45},   {XK_KP_Multiply, XK_KP_Multiply, 42},
    {XK_KP_Divide, XK_KP_Divide, 47},  {XK_KP_0, XK_KP_9, 48},      {XK_Begin, XK_Begin, 281},
    {XK_Home, XK_Home, 281},           {XK_End, XK_End, 282},
    // What the same keys send in other states: Tab with Shift held, and the
    // keypad's keys with Num Lock off, which move like the keys they name.
    {XK_ISO_Left_Tab, XK_ISO_Left_Tab, 272}, {XK_KP_Up, XK_KP_Up, 256},  {XK_KP_Down, XK_KP_Down, 257},
    {XK_KP_Right, XK_KP_Right, 258},   {XK_KP_Left, XK_KP_Left, 259},    {XK_KP_Prior, XK_KP_Prior, 283},
    {XK_KP_Next, XK_KP_Next, 284},     {XK_KP_Home, XK_KP_Home, 281},    {XK_KP_End, XK_KP_End, 282},
    {XK_KP_Insert, XK_KP_Insert, 280}, {XK_KP_Delete, XK_KP_Delete, 277},
};

// Modifier keysyms in the order of the window record's flags.
constexpr KeySym kModifierKeys[8] = {XK_Control_L, XK_Control_R, XK_Alt_L,   XK_Alt_R,
                                     XK_Shift_L,   XK_Shift_R,   XK_Super_L, XK_Super_R};
constexpr uint32_t kModifierBits[8] = {VL_QUAL_LCONTROL, VL_QUAL_RCONTROL, VL_QUAL_LALT,
                                       VL_QUAL_RALT,     VL_QUAL_LSHIFT,   VL_QUAL_RSHIFT,
                                       VL_QUAL_LCOMMAND, VL_QUAL_RCOMMAND};

constexpr uint16_t kPressedModifier = 0x8000;

int ModifierIndex(KeySym keysym) {
  if (keysym == XK_ISO_Level3_Shift) return 3;  // AltGr counts as the right Alt
  for (int i = 0; i < 8; ++i)
    if (kModifierKeys[i] == keysym) return i;
  return -1;
}

vlPlatformWindow* FirstDisplay() { return gX11Hooks.firstDisplay ? WindowOf(gX11Hooks.firstDisplay()) : nullptr; }

bool HasWindow(vlPlatformWindow* d) { return d->window && d->window->window; }

// The display's handler slot (function reference, -1 when none).
int32_t HandlerOf(vlPlatformWindow* d, int slot) { return d->handlers[slot * 2]; }
constexpr int kSlotCloseWindow = 3, kSlotDropFile = 17, kSlotClipboardChange = 18;

void Post(vlPlatformWindow* d, uint32_t type, uint32_t a = 0, uint32_t b = 0, uint32_t c = 0, void* extra = nullptr) {
  PostEvent(DisplayOf(d), type, a, b, c, extra);
}

// Every key and modifier counts as up from now on.
void ForgetKeys(vlPlatformWindow* d, vlX11Window* x) {
  memset(d->keyState, 0, sizeof d->keyState);
  memset(x->modifiers, 0, sizeof x->modifiers);
  memset(x->keyPressedAs, 0, sizeof x->keyPressedAs);
}

void SetActive(vlPlatformWindow* d, vlX11Window* x, bool active) {
  d->active = active;
  // Keys let go while another window has the focus send no release here.
  if (!active) ForgetKeys(d, x);
  Post(d, active ? VL_XEV_ACTIVE : VL_XEV_INACTIVE);
}

void SendClientMessage(vlX11Window* x, Window to, Atom type, long l0, long l1, long l2, long l3, long l4) {
  XEvent reply{};
  reply.xclient.type = ClientMessage;
  reply.xclient.display = x->display;
  reply.xclient.window = to;
  reply.xclient.message_type = type;
  reply.xclient.format = 32;
  reply.xclient.data.l[0] = l0;
  reply.xclient.data.l[1] = l1;
  reply.xclient.data.l[2] = l2;
  reply.xclient.data.l[3] = l3;
  reply.xclient.data.l[4] = l4;
  XSendEvent(x->display, to, False, NoEventMask, &reply);
  XFlush(x->display);
}

// The pointer inside a region list of 20-byte {id, x, y, width, height}.
const vlRegion* RegionAt(const vlRegion* regions, int count, int px, int py) {
  for (int i = 0; i < count; ++i) {
    const vlRegion& r = regions[i];
    if (px >= r.x && py >= r.y && px < r.x + r.width && py < r.y + r.height) return &r;
  }
  return nullptr;
}

int ZoneAt(vlPlatformWindow* d, int px, int py, int* offsetX, int* offsetY) {
  for (int i = 0; i < d->sizeRegionCount; ++i) {
    const vlRegion& r = d->sizeRegionsScaled[i];
    int32_t rect[5] = {r.type, r.x, r.y, r.width, r.height};
    if (px < r.x || py < r.y || px >= r.x + r.width || py >= r.y + r.height) continue;
    int zone = HitTestWindowBorder(d->width, d->height, px, py, rect, offsetX, offsetY);
    if (zone < 8) return zone;
  }
  return 8;
}

// The cursor of a borderless window follows the region under the pointer,
// unless the pointer is hidden: it stays hidden wherever it goes.
void TrackRegionCursor(vlPlatformWindow* d, vlX11Window* x, int px, int py) {
  if (x->pointerHidden) return;
  Cursor wanted = None;
  int ox, oy;
  if (!(d->styleFlags & VL_DISPSTYLE_FIXED) &&
      RegionAt(d->dragRegionsScaled, d->dragRegionCount, px, py))
    wanted = x->connection->moveCursor;
  else if (d->styleFlags & VL_DISPSTYLE_SIZEABLE) {
    int zone = ZoneAt(d, px, py, &ox, &oy);
    if (zone < 8) wanted = x->connection->borderCursors[zone];
  }
  if (wanted == x->regionCursor) return;
  x->regionCursor = wanted;
  XDefineCursor(x->display, x->window, wanted != None ? wanted : x->currentCursor);
}

struct LoopState {
  vlVMState* state;
  int quit;
};

void HandleKey(LoopState& loop, vlPlatformWindow* d, vlX11Window* x, XKeyEvent& ev) {
  char buffer[10];
  KeySym keysym = NoSymbol;
  XLookupString(&ev, buffer, sizeof buffer, &keysym, nullptr);
  bool pressed = ev.type == KeyPress;
  int modifier = ModifierIndex(keysym);
  int code = modifier >= 0 ? -1 : KeysymToKeyCode(keysym);
  // A release means the key its press meant: Shift pressed with A and let
  // go first still releases "A", not "a".
  uint16_t& pressedAs = x->keyPressedAs[ev.keycode & 0xFF];
  if (!pressed && pressedAs) {
    modifier = (pressedAs & kPressedModifier) ? (pressedAs & 0xFF) - 1 : -1;
    code = (pressedAs & kPressedModifier) ? -1 : pressedAs;
  }
  if (pressed) pressedAs = modifier >= 0 ? static_cast<uint16_t>(kPressedModifier | (modifier + 1))
                           : code > 0    ? static_cast<uint16_t>(code)
                                         : 0;
  else pressedAs = 0;
  if (modifier >= 0) {
    x->modifiers[modifier] = pressed;
    return;
  }
  bool alt = x->modifiers[2] || x->modifiers[3];
  bool control = x->modifiers[0] || x->modifiers[1];
  if (!pressed && code == VL_KEY_RETURN && alt && gX11InputHooks.isFullscreenUnique(DisplayOf(d)) &&
      !(d->styleFlags & VL_DISPSTYLE_NOMODESWITCH) && !d->grabBlocking)
    x->modeSwitchRequest = d->displayMode == 0 ? 1 : 0;
  if (pressed && control && (keysym == XK_c || keysym == XK_C) && GetPlatformOption(VL_PLATOPT_CTRLC_QUIT))
    loop.quit = 1;
  if (code < 0) return;
  x->lastKeyCode = code;
  d->keyState[code] = pressed;
  if (pressed) {
    NotePress(d, static_cast<uint32_t>(code));
    if (code == VL_KEY_ESCAPE) x->escapePressed = 1;
  }
  Post(d, VL_XEV_KEY, pressed, 0, static_cast<uint32_t>(code));
}

void Grab(vlX11Window* x) {
  XGrabPointer(x->display, x->window, False, ButtonPressMask | ButtonReleaseMask | PointerMotionMask | ButtonMotionMask,
               GrabModeAsync, GrabModeAsync, None, None, CurrentTime);
}

void HandleButton(vlPlatformWindow* d, vlX11Window* x, XButtonEvent& ev) {
  bool pressed = ev.type == ButtonPress;
  if (!x->pointerGrabbed) {
    if (pressed) Grab(x);
    else XUngrabPointer(x->display, CurrentTime);
  }
  if (ev.button == Button1 && (d->styleFlags & VL_DISPSTYLE_BORDERLESS)) {
    if (pressed) {
      if (!(d->styleFlags & VL_DISPSTYLE_FIXED) &&
          RegionAt(d->dragRegionsScaled, d->dragRegionCount, ev.x, ev.y)) {
        x->moving = 1;
        x->pressX = ev.x_root;
        x->pressY = ev.y_root;
        x->windowPressX = d->x;
        x->windowPressY = d->y;
        return;
      }
      int ox = 0, oy = 0;
      int zone = (d->styleFlags & VL_DISPSTYLE_SIZEABLE) ? ZoneAt(d, ev.x, ev.y, &ox, &oy) : 8;
      if (zone < 8) {
        x->resizing = 1;
        x->borderZone = zone;
        x->zoneOffsetX = ox;
        x->zoneOffsetY = oy;
        x->pressRect[0] = d->x;
        x->pressRect[1] = d->y;
        x->pressRect[2] = d->x + d->width - 1;
        x->pressRect[3] = d->y + d->height - 1;
        x->sizeChangePending = 1;
        x->newWidth = d->width;
        x->newHeight = d->height;
        if (x->shape && HaveXFixes()) {
          // The whole area can show while the user drags the size.
          XRectangle all = {0, 0, 16000, 16000};
          XserverRegion region = dl_XFixesCreateRegion(x->display, &all, 1);
          dl_XFixesSetWindowShapeRegion(x->display, x->window, ShapeBounding, 0, 0, region);
          dl_XFixesSetWindowShapeRegion(x->display, x->window, ShapeInput, 0, 0, region);
          dl_XFixesDestroyRegion(x->display, region);
        }
        return;
      }
    } else if (x->moving) {
      x->moving = 0;
      x->refreshNeeded = 1;
      return;
    } else if (x->resizing) {
      x->resizing = 0;
      return;
    }
  }
  switch (ev.button) {
    case Button1:
      d->leftButton = pressed;
      if (pressed) {
        NotePress(d, VL_PRESSED_LEFT);
        x->leftPressed = 1;
      }
      Post(d, VL_XEV_LEFT, ev.x, ev.y, pressed);
      break;
    case Button3:
      d->rightButton = pressed;
      if (pressed) NotePress(d, VL_PRESSED_RIGHT);
      Post(d, VL_XEV_RIGHT, ev.x, ev.y, pressed);
      break;
    case Button2:
      d->middleButton = pressed;
      if (pressed) NotePress(d, VL_PRESSED_MIDDLE);
      Post(d, VL_XEV_MIDDLE, ev.x, ev.y, pressed);
      break;
    case Button4:
      if (pressed) Post(d, VL_XEV_WHEEL_UP, ev.x, ev.y);
      break;
    case Button5:
      if (pressed) Post(d, VL_XEV_WHEEL_DOWN, ev.x, ev.y);
      break;
    default:
      break;
  }
}

void HandleMotion(vlPlatformWindow* d, vlX11Window* x, XMotionEvent& ev) {
  GetSysTime(&d->lastMoveTime);
  d->mouseMoved = 1;
  if (!x->moving && !x->resizing) {
    if (d->styleFlags & VL_DISPSTYLE_BORDERLESS) TrackRegionCursor(d, x, ev.x, ev.y);
    return;
  }
  XEvent skipped;
  while (XCheckTypedWindowEvent(x->display, x->window, MotionNotify, &skipped)) {
  }
  Window root, child;
  int rx, ry, wx, wy;
  unsigned mask;
  if (!XQueryPointer(x->display, x->window, &root, &child, &rx, &ry, &wx, &wy, &mask)) return;
  if (x->moving) {
    XMoveWindow(x->display, x->window, rx + x->windowPressX - x->pressX, ry + x->windowPressY - x->pressY);
    return;
  }
  int* r = x->pressRect;
  int zone = x->borderZone;
  if (zone == 0 || zone == 1 || zone == 4) r[0] = rx - x->zoneOffsetX;
  if (zone == 2 || zone == 3 || zone == 5) r[2] = rx + x->zoneOffsetX;
  if (zone == 0 || zone == 2 || zone == 6) r[1] = ry - x->zoneOffsetY;
  if (zone == 1 || zone == 3 || zone == 7) r[3] = ry + x->zoneOffsetY;
  int x1 = r[0] < r[2] ? r[0] : r[2], x2 = r[0] < r[2] ? r[2] : r[0];
  int y1 = r[1] < r[3] ? r[1] : r[3], y2 = r[1] < r[3] ? r[3] : r[1];
  int w = x2 - x1 + 1, h = y2 - y1 + 1;
  x->geometrySerial = NextRequest(x->display);
  XMoveResizeWindow(x->display, x->window, x1, y1, w < 1 ? 1 : w, h < 1 ? 1 : h);
}

void HandleConfigure(vlPlatformWindow* d, vlX11Window* x, XConfigureEvent& ev) {
  // Sent before the server took our last move or resize (a busy server):
  // the geometry it reports is already replaced.
  if (x->geometrySerial && static_cast<long>(ev.serial - x->geometrySerial) < 0) return;
  d->x = ev.x - d->frameLeft;
  d->y = ev.y - d->frameTop;
  x->newWidth = ev.width;
  x->newHeight = ev.height;
  if (x->sizeChangePending) return;
  if (ev.width == d->width && ev.height == d->height) Post(d, VL_XEV_MOVE);
  else x->sizeChangePending = 1;
}

void HandleXdnd(vlPlatformWindow* d, vlX11Window* x, XClientMessageEvent& ev) {
  if (ev.message_type == x->xdndEnter) {
    x->acceptedDropType = None;
    Window source = static_cast<Window>(ev.data.l[0]);
    if (ev.data.l[1] & 1) {
      Atom type;
      int format;
      unsigned long count = 0, after;
      unsigned char* list = nullptr;
      if (XGetWindowProperty(x->display, source, x->xdndTypeList, 0, 0x8000, False, XA_ATOM, &type, &format, &count,
                             &after, &list) == Success &&
          list && format == 32) {
        const Atom* atoms = reinterpret_cast<const Atom*>(list);
        for (unsigned long i = 0; i < count; ++i)
          if (atoms[i] == x->uriList) x->acceptedDropType = x->uriList;
      }
      if (list) XFree(list);
    } else {
      for (int i = 2; i <= 4; ++i)
        if (static_cast<Atom>(ev.data.l[i]) == x->uriList) x->acceptedDropType = x->uriList;
    }
  } else if (ev.message_type == x->xdndPosition) {
    Window source = static_cast<Window>(ev.data.l[0]);
    bool accept = HandlerOf(d, kSlotDropFile) != -1 && x->acceptedDropType != None;
    // The target names itself in a refusal too, or the source cannot
    // tell whose answer it is.
    SendClientMessage(x, source, x->xdndStatus, static_cast<long>(x->window), accept ? 1 : 0, 0, 0,
                      accept ? static_cast<long>(x->xdndActionCopy) : 0);
  } else if (ev.message_type == x->xdndDrop) {
    x->dragSource = static_cast<Window>(ev.data.l[0]);
    if (x->acceptedDropType == None || HandlerOf(d, kSlotDropFile) == -1) {
      // Nothing will be read: the source must not wait for the data.
      SendClientMessage(x, x->dragSource, x->xdndFinished, static_cast<long>(x->window), 0, None, 0, 0);
      return;
    }
    XConvertSelection(x->display, x->xdndSelection, x->acceptedDropType, x->primary, x->window,
                      static_cast<Time>(ev.data.l[2]));
    XFlush(x->display);
  }
}

void HandleDropData(vlPlatformWindow* d, vlX11Window* x) {
  size_t length = 0;
  uint8_t* data = ReadWindowProperty(x, x->primary, &length, nullptr);
  // The source learns whether the drop was taken: a conversion it refused
  // or a list that could not be posted is no success.
  bool taken = false;
  if (data) {
    char* files = DecodeUriList(data, length);
    XFree(data);
    if (files) {
      Window root, child;
      int rx, ry, wx = 0, wy = 0;
      unsigned mask;
      XQueryPointer(x->display, x->window, &root, &child, &rx, &ry, &wx, &wy, &mask);
      taken = PostEvent(DisplayOf(d), VL_XEV_DROP, static_cast<uint32_t>(wx), static_cast<uint32_t>(wy), 0, files) == 1;
      if (!taken) FreeMemory(files);
    }
  }
  XDeleteProperty(x->display, x->window, x->primary);
  SendClientMessage(x, x->dragSource, x->xdndFinished, static_cast<long>(x->window), taken ? 1 : 0,
                    taken ? static_cast<long>(x->xdndActionCopy) : 0, 0, 0);
  x->acceptedDropType = None;
}

void DispatchToDisplay(LoopState& loop, vlPlatformWindow* d, XEvent& ev) {
  vlX11Window* x = d->window;
  switch (ev.type) {
    case KeyPress:
    case KeyRelease:
      HandleKey(loop, d, x, ev.xkey);
      break;
    case ButtonPress:
    case ButtonRelease:
      HandleButton(d, x, ev.xbutton);
      break;
    case MotionNotify:
      HandleMotion(d, x, ev.xmotion);
      break;
    case Expose:
      if (ev.xexpose.count != 0) break;
      if (x->sizeChangePending && IsLeftButtonDown(x)) {
        XSetForeground(x->display, x->gc, 0);
        XFillRectangle(x->display, x->window, x->gc, ev.xexpose.x - d->contentOffsetX,
                       ev.xexpose.y - d->contentOffsetY, ev.xexpose.width, ev.xexpose.height);
      } else {
        x->refreshNeeded = 1;
      }
      break;
    case FocusIn:
    case FocusOut:
      if (ev.xfocus.mode == NotifyNormal) SetActive(d, x, ev.type == FocusIn);
      break;
    case UnmapNotify:
      d->visibility = 2;
      Post(d, VL_XEV_HIDE);
      break;
    case MapNotify:
      d->visibility = 1;
      Post(d, VL_XEV_SHOW);
      break;
    case ConfigureNotify:
      HandleConfigure(d, x, ev.xconfigure);
      break;
    case PropertyNotify:
      if (ev.xproperty.state == PropertyNewValue && x->readInProgress && x->incrMode &&
          ev.xproperty.atom == x->xclipOut)
        GetClipboardData(x);
      break;
    case SelectionClear:
      FreeClipboardOffer(x);
      break;
    case SelectionRequest:
      HandleSelectionRequest(x, ev.xselectionrequest);
      break;
    case SelectionNotify:
      if (x->readInProgress && ev.xselection.selection == x->clipboard)
        GetClipboardData(x);
      else if (x->acceptedDropType != None && ev.xselection.target == x->acceptedDropType)
        HandleDropData(d, x);
      break;
    case ClientMessage:
      if (ev.xclient.message_type == x->xdndEnter || ev.xclient.message_type == x->xdndPosition ||
          ev.xclient.message_type == x->xdndDrop) {
        HandleXdnd(d, x, ev.xclient);
      } else if (ev.xclient.format == 32 && static_cast<Atom>(ev.xclient.data.l[0]) == x->wmDeleteWindow) {
        x->closeRequested = 1;
        Post(d, VL_XEV_CLOSE);
      }
      break;
    default:
      if (x->connection && x->connection->fixesMajor >= 1 &&
          ev.type == x->connection->fixesEventBase + XFixesSelectionNotify &&
          HandlerOf(d, kSlotClipboardChange) != -1)
        Post(d, VL_XEV_CLIPBOARD);
      break;
  }
}

// The work after the loop, per display that has a window.
int FinishDisplay(LoopState& loop, vlPlatformWindow* d, int* error) {
  vlX11Window* x = d->window;
  if (x->refreshNeeded) {
    x->refreshNeeded = 0;
    gX11InputHooks.refreshDisplay(loop.state, DisplayOf(d));
  }
  if (x->hideRequest) {
    XIconifyWindow(x->display, x->window, x->screen);
    d->visibility = 2;
  } else if (x->showRequest) {
    XMapWindow(x->display, x->window);
    d->visibility = 1;
  }
  // A click released within the pass quits as a held button does.
  if ((d->leftButton || x->leftPressed) && GetPlatformOption(VL_PLATOPT_LMB_QUIT)) loop.quit = 1;
  // So does an Escape tapped before another key of the same pass.
  if ((x->lastKeyCode == VL_KEY_ESCAPE || x->escapePressed) && GetPlatformOption(VL_PLATOPT_ESCAPE_QUIT))
    loop.quit = 1;
  if (x->modeSwitchRequest >= 0) {
    int full = x->modeSwitchRequest;
    x->modeSwitchRequest = -1;
    int status = gX11InputHooks.switchMode(loop.state, DisplayOf(d), full);
    if (status) {
      *error = status;
      return 1;
    }
    Post(d, VL_XEV_MODE_SWITCH);
    x = d->window;
    if (!x) return 0;
  }
  if (x->sizeChangePending && !IsLeftButtonDown(x)) {
    x->sizeChangePending = 0;
    Post(d, VL_XEV_SIZE);
    int status = gX11InputHooks.resizeDisplay(loop.state, DisplayOf(d), x->newWidth, x->newHeight);
    if (status) {
      *error = status;
      return 1;
    }
  }
  if (d->window && d->window->closeRequested && !d->closeHandled && HandlerOf(d, kSlotCloseWindow) == -1)
    loop.quit = 1;
  return 0;
}

}  // namespace

vlX11InputHooks gX11InputHooks = kInputDefaults;
void ResetX11InputHooks() { gX11InputHooks = kInputDefaults; }

int KeysymToKeyCode(KeySym keysym) {
  if (keysym == XK_space) return VL_KEY_SPACE;
  if (keysym < 256) return keysym > 0 ? static_cast<int>(keysym) : -1;
  for (const KeyRow& row : kKeyRows)
    if (keysym >= row.first && keysym <= row.last) return row.code + static_cast<int>(keysym - row.first);
  return -1;
}

uint32_t GetQualifiers(vlPlatformWindow* display) {
  uint32_t word = VL_QUAL_ALWAYS;
  vlX11Window* x = display ? display->window : nullptr;
  if (!x) return word;
  for (int i = 0; i < 8; ++i)
    if (x->modifiers[i]) word |= kModifierBits[i];
  return word;
}

int PollDevices(vlVMState* state) {
  (void)state;
  // Sounds whose play time ran out end here too when a plug-in services
  // the events itself, away from the pump.
  if (gPlatformHooks.pollAudio) gPlatformHooks.pollAudio();
  PollJoysticks();
  return 0;
}

int HitTestWindowBorder(int W, int H, int x, int y, const int32_t* zone, int* offsetX, int* offsetY) {
  const int L = zone[1], T = zone[2], R = zone[1] + zone[3] - 1, B = zone[2] + zone[4] - 1;
  int z;
  if (B >= 0 && T <= 9 && R >= 0 && L <= 9) z = 0;
  else if (B >= H - 10 && T < H && R >= 0 && L <= 10) z = 1;
  else if (B >= 0 && T <= 9 && R >= W - 10 && L < W) z = 2;
  else if (B >= H - 10 && T < H && R >= W - 10 && L < W) z = 3;
  else if (B >= 0 && T < H && R >= 0 && L <= 9) z = 4;
  else if (B >= 0 && T < H && R >= W - 10 && L < W) z = 5;
  else if (B >= 0 && T <= 9 && R >= 0 && L < W) z = 6;
  else if (B >= H - 10 && T < H && R >= 0 && L < W) z = 7;
  else return 8;
  *offsetX = (z == 0 || z == 1 || z == 4) ? x : (z == 2 || z == 3 || z == 5) ? R - x : 0;
  *offsetY = (z == 0 || z == 2 || z == 6) ? y : (z == 1 || z == 3 || z == 7) ? B - y : 0;
  return z;
}

void ForgetHeldInput(vlPlatformWindow* display) {
  display->leftButton = display->rightButton = display->middleButton = 0;
  if (display->window) ForgetKeys(display, display->window);
  else memset(display->keyState, 0, sizeof display->keyState);
}

void TakeFocusState(vlPlatformWindow* display) {
  vlX11Window* x = display->window;
  if (!x || !x->window) return;
  Window focus = None;
  int revert = 0;
  XGetInputFocus(x->display, &focus, &revert);
  bool has = focus == x->window;
  if (has != (display->active != 0)) SetActive(display, x, has);
}

int IsLeftButtonDown(vlX11Window* x) {
  Window root, child;
  int rx, ry, wx, wy;
  unsigned mask = 0;
  if (!x || !x->window) return 0;
  if (!XQueryPointer(x->display, x->window, &root, &child, &rx, &ry, &wx, &wy, &mask)) return 0;
  return (mask & Button1Mask) ? 1 : 0;
}

uint8_t* ReadWindowProperty(vlX11Window* x, Atom property, size_t* length, int* incremental, Atom* typeOut) {
  *length = 0;
  if (incremental) *incremental = 0;
  Atom type;
  int format;
  unsigned long count, after;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(x->display, x->window, property, 0, 0, False, AnyPropertyType, &type, &format, &count,
                         &after, &data) != Success)
    return nullptr;
  if (data) XFree(data);
  data = nullptr;
  if (type == None) return nullptr;
  if (typeOut) *typeOut = type;
  if (incremental && type == x->incr) {
    *incremental = 1;
    return nullptr;
  }
  if (XGetWindowProperty(x->display, x->window, property, 0, static_cast<long>((after + 3) / 4), False,
                         AnyPropertyType, &type, &format, &count, &after, &data) != Success)
    return nullptr;
  if (!data) return nullptr;
  // Xlib hands 32-bit items as longs; the bytes of an item count by format.
  size_t itemBytes = format == 32 ? sizeof(long) : static_cast<size_t>(format / 8);
  *length = count * itemBytes;
  return data;
}

int HandleX11Events(vlVMState* state, int* error) {
  *error = 0;
  LoopState loop{state, 0};
  PollDevices(state);
  for (vlPlatformWindow* d = FirstDisplay(); d; d = NextWindow(d)) {
    vlX11Window* x = d->window;
    if (!x) continue;
    x->closeRequested = 0;
    x->hideRequest = x->showRequest = 0;
    x->lastKeyCode = -1;
    x->leftPressed = x->escapePressed = 0;
    x->modeSwitchRequest = -1;
    x->refreshNeeded = 0;
  }
  // The frames other threads queued, and what the last commands drew once
  // it is due to be sent.
  if (int status = gX11InputHooks.flushPendingFrames(state)) {
    *error = status;
    return 1;
  }
  vlTimeVal start, now;
  GetSysTime(&start);
  // The pump runs after every script line: the server is asked for new
  // events (a system call) at most every 5 ms; events Xlib already holds
  // are handled at once.
  static vlTimeVal lastPoll{};
  vlTimeVal since = start;
  SubTimeVal(&since, &lastPoll);
  const bool poll = since.seconds != 0 || since.micros >= 5000;
  if (poll) lastPoll = start;
  bool outOfTime = false;
  for (vlX11Connection* c = FirstX11Connection(); c && !outOfTime; c = c->next) {
    while (XEventsQueued(c->display, poll ? QueuedAfterFlush : QueuedAlready) > 0) {
      GetSysTime(&now);
      SubTimeVal(&now, &start);
      if (now.seconds > 0 || now.micros >= 50000) {
        SetSkipNextWait();
        outOfTime = true;
        break;
      }
      XEvent ev;
      XNextEvent(c->display, &ev);
      if (ev.type == MappingNotify) {
        // Key translation must follow a changed keyboard map.
        XRefreshKeyboardMapping(&ev.xmapping);
        continue;
      }
      if ((ev.type == PropertyNotify || ev.type == DestroyNotify) && HandleIncrementalSendEvent(ev)) continue;
      for (vlPlatformWindow* d = FirstDisplay(); d; d = NextWindow(d))
        if (HasWindow(d) && d->window->display == c->display && d->window->window == ev.xany.window)
          DispatchToDisplay(loop, d, ev);
    }
  }
  for (vlPlatformWindow* d = FirstDisplay(); d; d = NextWindow(d)) {
    if (!HasWindow(d)) continue;
    if (FinishDisplay(loop, d, error)) {
      RequestQuit();
      return 1;
    }
  }
  if (loop.quit || QuitRequested()) {
    RequestQuit();
    return 1;
  }
  return 0;
}

