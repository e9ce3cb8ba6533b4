// The display wrappers: each calls its route in the display's device table
// (the installed adapter's entries or the built-in X11 code, chosen once
// per display); observer notification after drawing.
#include "platform/display_adapter.h"

#include <algorithm>

#include "platform/display_device.h"
#include "platform/pixel_layout.h"
#include "platform/window_record.h"
#include "platform/x11/x11_shm.h"
#include "platform/x11/x11_window.h"
#include "abi/plugin_abi.h"
#include "runtime/tag_list.h"
#include "vm/error_codes.h"

vlPluginInfo* vlDisplayAdapter = nullptr;

namespace {

enum : uint32_t {
  kCapSleep = 1,
  kCapVWait = 2,
};

// The adapter when its calls reach it (an adapter called through the frame
// hook gets nothing on this platform).
vlPluginInfo* Adapter() {
  vlPluginInfo* a = vlDisplayAdapter;
  return a && a->callKind != 2 ? a : nullptr;
}
uint32_t Caps(const vlPluginInfo* a) { return a->displayCaps; }

// The entry as the type the call expects, which must be its own: a call
// that drifts from the plug-in interface fails to build.
template <class Fn>
Fn Entry(Fn e) {
  return e;
}

// The adapter counts alpha inversely when its flags say so.
uint32_t AdapterColor(const vlPluginInfo* a, uint32_t color) {
  return (a->displayFlags & 0x80000000u) ? color ^ 0xFF000000u : color;
}

}  // namespace

bool DisplayHasWindow(const vlPlatformWindow* d) { return d && (d->window || d->adapterHandle); }

int ForceEventLoopIteration() {
  vlPluginInfo* a = Adapter();
  if (!a || !a->ForceEventLoopIteration) return 0;
  Entry<int (*)(uint32_t)>(a->ForceEventLoopIteration)(0);
  return 1;
}

int AdapterSleep(vlVMState* state, uint32_t millis, int* result) {
  vlPluginInfo* a = Adapter();
  if (!a || !(Caps(a) & kCapSleep) || !a->Sleep) return 0;
  *result = Entry<int (*)(vlVMState*, int32_t)>(a->Sleep)(state, static_cast<int32_t>(millis));
  return 1;
}

int AdapterVWait(vlPlatformWindow* display, int32_t value) {
  vlPluginInfo* a = Adapter();
  if (!a || !(Caps(a) & kCapVWait) || !a->VWait || !display || !display->adapterHandle) return 0;
  const vlTagItem tags[] = {{1, static_cast<uint32_t>(value)}, {0, 0}};
  Entry<int (*)(void*, const vlTagItem*)>(a->VWait)(display->adapterHandle, tags);
  return 1;
}

int CreateMousePointer(const uint32_t* pixels, int32_t width, int32_t height, vlPointerRecord** out, int32_t hotX,
                       int32_t hotY) {
  *out = nullptr;
  return DefaultDisplayDevice()->createPointer(pixels, width, height, out, hotX, hotY);
}

void FreeMousePointer(vlPointerRecord* pointer) { DefaultDisplayDevice()->freePointer(pointer); }

void SetMousePointer(vlPlatformWindow* display, vlPointerRecord* pointer, int kind) {
  if (auto set = DisplayDevice(display)->setPointer) set(display, pointer, kind);
}

void SetAdapterCloseHandled(vlPlatformWindow* display, int handled) {
  vlPluginInfo* a = Adapter();
  if (!a || !a->SetDisplayAttributes || !display || !display->adapterHandle) return;
  const vlTagItem tags[] = {{1, static_cast<uint32_t>(handled != 0)}, {0, 0}};
  Entry<int (*)(void*, const vlTagItem*)>(a->SetDisplayAttributes)(display->adapterHandle, tags);
}

uint32_t GetDisplayQualifiers(vlPlatformWindow* display) {
  auto qualifiers = DisplayDevice(display)->qualifiers;
  return qualifiers ? qualifiers(display) : 0;
}

void NotifyObservers(vlPlatformWindow* d, uint32_t code, const int32_t* args, bool refreshOnly) {
  if (!d) return;
  for (vlDisplayClient* c = d->clients; c; c = c->next) c->visited = 0;
  for (;;) {
    vlDisplayClient* c = d->clients;
    while (c && (c->visited || (d->observerFilter && c != d->observerFilter))) c = c->next;
    if (!c) return;
    c->visited = 1;
    if (refreshOnly && !c->refresh) continue;
    if (c->callback && c->callKind != 2) c->callback(c, code, args, c->userData);
  }
}

void NotifyDisplayObservers(vlPlatformWindow* d, int32_t a, int32_t b) {
  int32_t args[2] = {a, b};
  NotifyObservers(d, 4, args);
}

int DetermineDisplayBorders(vlPlatformWindow* d) {
  auto borders = DisplayDevice(d)->borders;
  return borders ? borders(d) : 0;
}

void ActivateDisplayWindow(vlPlatformWindow* d, int flag) {
  if (auto activate = DisplayDevice(d)->activate) activate(d, flag);
}

void GetDisplayMousePos(vlPlatformWindow* d, int32_t* x, int32_t* y) {
  *x = d->clientMouseX;
  *y = d->clientMouseY;
  if (d->displayState != VL_DISPSTATE_OPEN) return;
  if (auto position = DisplayDevice(d)->mousePosition) position(d, x, y);
}

void ShowHideMousePointer(vlPlatformWindow* d, int show) {
  if (auto showHide = DisplayDevice(d)->showHidePointer) showHide(d, show);
}

void MoveMousePointer(vlPlatformWindow* d, int32_t x, int32_t y) {
  if (auto move = DisplayDevice(d)->movePointer) move(d, x, y);
}

bool DisplayBlitsScaled(const vlPlatformWindow* d) {
  return d->autoScale && d->scaleWidth > 0 && d->scaleHeight > 0 && (d->scaleX != 1.0 || d->scaleY != 1.0) &&
         !DisplayDeviceDoes(d, VL_DEVICE_SCALES_BLITS);
}

void FlushDisplayOutput() {
  if (auto flush = DefaultDisplayDevice()->flushPuts) flush();
}

void SendWindowFrame(const vlWindowPut& frame) {
  if (frame.kind == VL_PUT_FRAME) SendConnectionPuts(frame.connection);
}

void WaitWindowFrame(uint64_t connection, unsigned long serial) { WaitFrameProcessed(connection, serial); }

void SetDisplayVideoOverlays(vlPlatformWindow* d, const vlVideoOverlay* overlays, int count) {
  if (!d) return;
  d->videoOverlayCount = std::clamp(count, 0, kVideoOverlayMax);
  std::copy(overlays, overlays + d->videoOverlayCount, d->videoOverlays);
}

void FillDisplayRect(vlPlatformWindow* d, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t color) {
  if (!d) return;
  if (auto fill = DisplayDevice(d)->fillRect) fill(d, x, y, width, height, color);
  int32_t args[5] = {x, y, width, height, static_cast<int32_t>(color)};
  NotifyObservers(d, 1, args);
}

void PlotDisplayPixel(vlPlatformWindow* d, int32_t x, int32_t y, uint32_t color) {
  if (!d) return;
  if (auto plot = DisplayDevice(d)->plotPixel) plot(d, x, y, color);
  int32_t args[3] = {x, y, static_cast<int32_t>(color)};
  NotifyObservers(d, 3, args);
}

void DrawDisplayLine(vlPlatformWindow* d, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t color) {
  if (!d) return;
  if (auto line = DisplayDevice(d)->drawLine) line(d, x1, y1, x2, y2, color);
  int32_t args[5] = {x1, y1, x2, y2, static_cast<int32_t>(color)};
  NotifyObservers(d, 2, args);
}

void ClearAdapterDisplay(vlPlatformWindow* d, uint32_t color) {
  vlPluginInfo* a = Adapter();
  if (d && a && a->Cls) Entry<int (*)(void*, uint32_t, uint32_t)>(a->Cls)(d->adapterHandle, AdapterColor(a, color), 0);
}

void ClearDisplayBorders(vlPlatformWindow* d) {
  const int32_t l = d->borderLeft, t = d->borderTop, r = d->borderRight, b = d->borderBottom;
  const int32_t fullW = d->width + l + r, fullH = d->height + t + b;
  if (l) FillDisplayRect(d, -l, -t, l, fullH, 0);
  if (t) FillDisplayRect(d, -l, -t, fullW, t, 0);
  if (r) FillDisplayRect(d, fullW - l - r, -t, r, fullH, 0);
  if (b) FillDisplayRect(d, -l, fullH - t - b, fullW, b, 0);
}

int GrabDisplayInto(vlPlatformWindow* d, int32_t x, int32_t y, const vlPixelRecord& into) {
  auto grab = DisplayDevice(d)->grab;
  return grab ? grab(d, x, y, into) : ERR_GRABSCREEN;
}

int GetDisplayModeList(vlPlatformWindow* d, vlModeEntry** out, int32_t* count) {
  *out = nullptr;
  *count = 0;
  auto modes = DisplayDevice(d)->modes;
  vlModeEntry* list = nullptr;
  int32_t n = 0;
  if (!modes || modes(d, &list, &n)) return ERR_NODISPMODES;
  std::sort(list, list + n, [](const vlModeEntry& p, const vlModeEntry& q) {
    return p.width != q.width ? p.width < q.width : p.height < q.height;
  });
  *out = list;
  *count = n;
  return 0;
}

vlMonitorNode* GetDisplayMonitorList(vlPlatformWindow* d) {
  auto monitors = DisplayDevice(d)->monitors;
  return monitors ? monitors(d) : nullptr;
}

void FreeMonitorList(vlMonitorNode* list) { FreeMonitors(list); }
