// The display wrappers: adapter entry when a display adapter is installed,
// the built-in X11 code otherwise; observer notification after drawing.
// Depends on the plug-in interface and the X11 window and drawing code.
#include "platform/display_adapter.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/pixel_layout.h"
#include "platform/window_record.h"
#include "platform/x11/x11_draw.h"
#include "platform/x11/x11_input.h"
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
  kCapMonitors = 4,
  kCapGrab = 8,
  kCapDrawClosed = 16,
};
enum : uint32_t { kFlagScalesItself = 8 };

// The adapter when its calls reach it (an adapter called through the frame
// hook gets nothing on this platform).
vlPluginInfo* Adapter() {
  vlPluginInfo* a = vlDisplayAdapter;
  return a && a->callKind != 2 ? a : nullptr;
}
uint32_t Caps(const vlPluginInfo* a) { return a->displayCaps; }

template <class Fn>
Fn Entry(vlPluginEntry e) {
  return reinterpret_cast<Fn>(e);
}

// Drawing goes to the adapter when the display is open, or when the
// adapter draws on closed displays that have a handle.
bool AdapterDraws(const vlPluginInfo* a, const vlPlatformWindow* d) {
  return d->displayState == VL_DISPSTATE_OPEN || ((Caps(a) & kCapDrawClosed) && d->adapterHandle);
}

// The adapter counts alpha inversely when its flags say so.
uint32_t AdapterColor(const vlPluginInfo* a, uint32_t color) {
  return (a->displayFlags & 0x80000000u) ? color ^ 0xFF000000u : color;
}

}  // namespace

bool DisplayAdapterActive() { return vlDisplayAdapter != nullptr; }

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
  vlPluginInfo* a = Adapter();
  if (!a || !a->CreatePointer) return CreateARGBCursor(pixels, hotX, hotY, out, width, height);
  using Create = void* (*)(const uint32_t*, int32_t, int32_t, int32_t, int32_t, uint32_t);
  void* pointer = Entry<Create>(a->CreatePointer)(pixels, width, height, hotX, hotY, 0);
  if (!pointer) return ERR_POINTERIMG;
  auto* record = new (std::nothrow) vlPointerRecord{};
  if (!record) {
    if (a->FreePointer) Entry<void (*)(void*)>(a->FreePointer)(pointer);
    return ERR_MEM;
  }
  record->adapterPointer = pointer;
  *out = record;
  return 0;
}

void FreeMousePointer(vlPointerRecord* pointer) {
  vlPluginInfo* a = Adapter();
  if (pointer && pointer->adapterPointer) {
    if (a && a->FreePointer) Entry<void (*)(void*)>(a->FreePointer)(pointer->adapterPointer);
    pointer->adapterPointer = nullptr;
  }
  FreePointerRecords(pointer);
}

void SetMousePointer(vlPlatformWindow* display, vlPointerRecord* pointer, int kind) {
  vlPluginInfo* a = Adapter();
  if (!a || !a->SetPointer) {
    SetPointerShape(display, pointer, kind);
    return;
  }
  Entry<int (*)(void*, int, void*)>(a->SetPointer)(display->adapterHandle, kind,
                                                     pointer ? pointer->adapterPointer : nullptr);
  ShowHideMousePointer(display, 1);
}

void SetAdapterCloseHandled(vlPlatformWindow* display, int handled) {
  vlPluginInfo* a = Adapter();
  if (!a || !a->SetDisplayAttributes || !display || !display->adapterHandle) return;
  const vlTagItem tags[] = {{1, static_cast<uint32_t>(handled != 0)}, {0, 0}};
  Entry<int (*)(void*, const vlTagItem*)>(a->SetDisplayAttributes)(display->adapterHandle, tags);
}

uint32_t GetDisplayQualifiers(vlPlatformWindow* display) {
  vlPluginInfo* a = Adapter();
  if (a && a->GetQualifiers)
    return Entry<uint32_t (*)(void*)>(a->GetQualifiers)(display ? display->adapterHandle : nullptr);
  return GetQualifiers(display);
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
  if (vlPluginInfo* a = Adapter()) {
    int32_t left = 0, right = 0, top = 0, bottom = 0;
    if (a->DetermineBorderSizes)
      Entry<int (*)(void*, int32_t*, int32_t*, int32_t*, int32_t*)>(a->DetermineBorderSizes)(
          d->adapterHandle, &left, &right, &top, &bottom);
    d->frameLeft = left;
    d->frameTop = top;
    d->frameWidth = left + right;
    d->frameHeight = top + bottom;
    d->bordersKnown = 1;
    return 0;
  }
  if (!d->window) {
    int status = AllocDisplayPlatformData(d);
    if (status) return status;
  }
  if (!d->window->connection) {
    vlX11Connection* c = nullptr;
    if (OpenX11Screen(d->xDisplayName, &c) == 0) {
      d->window->connection = c;
    }
  }
  return GetBorderSizes(d);
}

void ActivateDisplayWindow(vlPlatformWindow* d, int flag) {
  if (vlPluginInfo* a = Adapter()) {
    if (a->ActivateDisplay) Entry<int (*)(void*, int)>(a->ActivateDisplay)(d->adapterHandle, flag != 0);
    return;
  }
  ActivateX11Window(d);
}

void GetDisplayMousePos(vlPlatformWindow* d, int32_t* x, int32_t* y) {
  if (d->displayState != VL_DISPSTATE_OPEN) {
    *x = d->clientMouseX;
    *y = d->clientMouseY;
    return;
  }
  if (vlPluginInfo* a = Adapter()) {
    if (a->GetMousePos) Entry<int (*)(void*, int32_t*, int32_t*)>(a->GetMousePos)(d->adapterHandle, x, y);
    return;
  }
  vlX11Window* w = d->window;
  *x = d->clientMouseX;
  *y = d->clientMouseY;
  if (!w || !w->window || !w->display) return;
  Window root, child;
  int rootX, rootY, winX, winY;
  unsigned int mask;
  if (XQueryPointer(w->display, w->window, &root, &child, &rootX, &rootY, &winX, &winY, &mask)) {
    *x = winX - d->contentOffsetX;
    *y = winY - d->contentOffsetY;
  }
}

void ShowHideMousePointer(vlPlatformWindow* d, int show) {
  if (vlPluginInfo* a = Adapter()) {
    if (a->ShowHidePointer) Entry<int (*)(void*, int)>(a->ShowHidePointer)(d->adapterHandle, show);
    return;
  }
  if (show)
    ShowPointer(d);
  else
    HidePointer(d);
}

void MoveMousePointer(vlPlatformWindow* d, int32_t x, int32_t y) {
  if (vlPluginInfo* a = Adapter()) {
    if (a->MovePointer) Entry<int (*)(void*, int32_t, int32_t)>(a->MovePointer)(d->adapterHandle, x, y);
    return;
  }
  MovePointer(d, x, y);
}

bool DisplayBlitsScaled(const vlPlatformWindow* d) {
  const vlPluginInfo* a = Adapter();
  return d->autoScale && d->scaleWidth > 0 && d->scaleHeight > 0 && (d->scaleX != 1.0 || d->scaleY != 1.0) &&
         !(a && (a->displayFlags & kFlagScalesItself));
}


bool DisplayTakesPixels(const vlPlatformWindow* d) { return !Adapter() && WindowTakesPictures(d); }

namespace {
// The mix a crossfade asks of the adapter's display blits meanwhile.
void* gMixBase = nullptr;
int32_t gMixLevel = 0;
}  // namespace

void SetAdapterBlitMix(void* base, int32_t level) {
  gMixBase = base;
  gMixLevel = level;
}

void BlitPictureToAdapter(void* picture, int32_t sx, int32_t sy, vlPlatformWindow* d, int32_t x, int32_t y,
                          int32_t width, int32_t height, uint32_t flags) {
  vlPluginInfo* a = Adapter();
  if (!a || !AdapterDraws(a, d) || !a->BltBitMap) return;
  vlTagItem tags[] = {{1, static_cast<uintptr_t>(sx)},    {2, static_cast<uintptr_t>(sy)},
                      {3, static_cast<uintptr_t>(x)},     {4, static_cast<uintptr_t>(y)},
                      {5, static_cast<uintptr_t>(width)}, {6, static_cast<uintptr_t>(height)},
                      {7, static_cast<uintptr_t>(flags)}, {0, 0},
                      {0, 0},                             {0, 0}};
  if (gMixBase && (a->displayCaps2 & VL_DISPCAPS2_MIXES)) {
    tags[7] = {8, static_cast<uintptr_t>(gMixLevel)};
    tags[8] = {9, reinterpret_cast<uintptr_t>(gMixBase)};
  }
  // Mode 0: the display form.
  Entry<vlBltBitMapFn>(a->BltBitMap)(d->adapterHandle, picture, tags, 0);
}

vlWindowPut BlitPixelsToWindow(const vlPixelRecord& pixels, int32_t sx, int32_t sy, vlPlatformWindow* d,
                               int32_t x, int32_t y, int32_t width, int32_t height, uint32_t flags) {
  vlWindowPut put{};
  PutImageToWindow(pixels, sx, sy, d, x, y, width, height, int(flags & kClipNoVideos), &put);
  return put;
}

void FlushDisplayOutput() {
  if (!Adapter()) SendPendingPuts();
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
  if (vlPluginInfo* a = Adapter()) {
    if (AdapterDraws(a, d) && a->RectFill)
      Entry<int (*)(void*, int32_t, int32_t, int32_t, int32_t, uint32_t, uint32_t, uint32_t)>(a->RectFill)(
          d->adapterHandle, x, y, width, height, AdapterColor(a, color), 0, 0);
  } else {
    FillRectInWindow(d, x, y, width, height, color);
  }
  int32_t args[5] = {x, y, width, height, static_cast<int32_t>(color)};
  NotifyObservers(d, 1, args);
}

void PlotDisplayPixel(vlPlatformWindow* d, int32_t x, int32_t y, uint32_t color) {
  if (!d) return;
  if (vlPluginInfo* a = Adapter()) {
    if (AdapterDraws(a, d) && a->WritePixel)
      Entry<int (*)(void*, int32_t, int32_t, uint32_t, uint32_t, uint32_t)>(a->WritePixel)(
          d->adapterHandle, x, y, AdapterColor(a, color), 0, 0);
  } else {
    WritePixelToWindow(d, x, y, color);
  }
  int32_t args[3] = {x, y, static_cast<int32_t>(color)};
  NotifyObservers(d, 3, args);
}

void DrawDisplayLine(vlPlatformWindow* d, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t color) {
  if (!d) return;
  if (vlPluginInfo* a = Adapter()) {
    if (AdapterDraws(a, d) && a->Line)
      Entry<int (*)(void*, int32_t, int32_t, int32_t, int32_t, uint32_t, uint32_t, uint32_t)>(a->Line)(
          d->adapterHandle, x1, y1, x2, y2, AdapterColor(a, color), 0, 0);
  } else {
    DrawLineToWindow(d, x1, y1, x2, y2, color);
  }
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
  if (vlPluginInfo* a = Adapter()) {
    if (!(Caps(a) & kCapGrab) || !a->GrabScreenPixels) return ERR_GRABSCREEN;
    auto* pixels = Entry<uint32_t* (*)(void*, int32_t, int32_t, int32_t, int32_t, uint32_t, uint32_t)>(
        a->GrabScreenPixels)(d->adapterHandle, x, y, into.width, into.height, 0, 0);
    if (!pixels) return ERR_GRABSCREEN;
    const bool fits = into.pixels && into.bytesPerPixel == 4;
    for (int32_t row = 0; fits && row < into.height; ++row)
      std::memcpy(into.pixels + static_cast<size_t>(row) * into.rowBytes,
                  pixels + static_cast<size_t>(row) * into.width, static_cast<size_t>(into.width) * 4);
    if (a->FreeGrabScreenPixels) Entry<void (*)(void*)>(a->FreeGrabScreenPixels)(pixels);
    return fits ? 0 : ERR_GRABSCREEN;
  }
  return GrabScreenPixels(d, x, y, into) ? 0 : ERR_GRABSCREEN;
}

int GetDisplayModeList(vlPlatformWindow* d, vlModeEntry** out, int32_t* count) {
  *out = nullptr;
  *count = 0;
  int n = 0;
  vlModeEntry* list = nullptr;
  if (vlPluginInfo* a = Adapter(); a && (Caps(a) & kCapMonitors) && a->GetMonitorInfo) {
    int32_t* data = nullptr;
    Entry<int (*)(int, int, void*, int)>(a->GetMonitorInfo)(1, d ? d->monitorIndex : 0, &data, 0);
    if (data) {
      while (data[3 * n] > 0 && data[3 * n + 1] > 0) ++n;
      list = n ? new (std::nothrow) vlModeEntry[n] : nullptr;
      for (int i = 0; list && i < n; ++i) list[i] = {data[3 * i], data[3 * i + 1], data[3 * i + 2], 0, 0};
      if (a->FreeMonitorInfo) Entry<void (*)(int, void*)>(a->FreeMonitorInfo)(1, data);
    }
  } else {
    vlScreenMode modes[256];
    n = GetScreenModes(d, modes);
    list = n > 0 ? new (std::nothrow) vlModeEntry[n] : nullptr;
    for (int i = 0; list && i < n; ++i) list[i] = {modes[i].width, modes[i].height, 24, modes[i].refresh, 0};
  }
  if (!list) return ERR_NODISPMODES;
  std::sort(list, list + n, [](const vlModeEntry& p, const vlModeEntry& q) {
    return p.width != q.width ? p.width < q.width : p.height < q.height;
  });
  *out = list;
  *count = n;
  return 0;
}

vlMonitorNode* GetDisplayMonitorList(vlPlatformWindow* d) {
  if (vlPluginInfo* a = Adapter(); a && (Caps(a) & kCapMonitors) && a->GetMonitorInfo) {
    int32_t* data = nullptr;
    Entry<int (*)(int, int, void*, int)>(a->GetMonitorInfo)(0, d ? d->monitorIndex : 0, &data, 0);
    vlMonitorNode* head = nullptr;
    vlMonitorNode** tail = &head;
    for (int i = 0; data && data[4 * i + 2] > 0 && data[4 * i + 3] > 0; ++i) {
      auto* node = new (std::nothrow) vlMonitorNode{nullptr, data[4 * i], data[4 * i + 1], data[4 * i + 2],
                                                    data[4 * i + 3]};
      if (!node) break;
      *tail = node;
      tail = &node->next;
    }
    if (data && a->FreeMonitorInfo) Entry<void (*)(int, void*)>(a->FreeMonitorInfo)(0, data);
    return head;
  }
  return GetMonitorList(d);
}

void FreeMonitorList(vlMonitorNode* list) { FreeMonitors(list); }
