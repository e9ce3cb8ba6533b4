// The two display devices: the built-in X11 windows and the installed
// display adapter's entries. Which one a display gets is decided here, once.
#include "platform/display_device.h"

#include <cstring>
#include <new>

#include "abi/plugin_abi.h"
#include "platform/display_adapter.h"
#include "platform/event_pump.h"
#include "platform/pixel_layout.h"
#include "platform/window_record.h"
#include "platform/x11/x11_connection.h"
#include "platform/x11/x11_draw.h"
#include "platform/x11/x11_input.h"
#include "platform/x11/x11_shm.h"
#include "platform/x11/x11_window.h"
#include "vm/error_codes.h"

namespace {

// ---- the built-in X11 windows ----------------------------------------------

int X11Open(vlPlatformWindow* d, vlWindowRequest* r) { return OpenX11Window(d, r->activate, r->mask, r->alpha); }
int X11Close(vlPlatformWindow* d) {
  CloseX11Window(d);
  return 0;
}
void X11SizeMove(vlPlatformWindow* d) { MoveX11Window(d); }
void X11MoveResize(vlPlatformWindow* d) { MoveResizeX11Window(d); }
int X11ShowHide(vlPlatformWindow* d, int hide) { return ShowHideX11Window(d, hide); }
void X11SetTitle(vlPlatformWindow* d) { SetX11WindowTitle(d); }
// The window shows the pictures as they are put: nothing to resize.
void X11BufferSize(vlPlatformWindow*, int32_t, int32_t) {}
// No double buffer of its own: the player buffers in software.
int X11Buffer(vlPlatformWindow*) { return 0; }
int X11Flip(vlPlatformWindow*, int) { return 0; }
void X11ClearBuffer(vlPlatformWindow*, uint32_t) {}
int X11Input(vlVMState* state, int, int* error) { return gInputBackend.handleInput(state, error); }
int X11WaitInput(vlVMState* state, int, int argument, int* result) {
  const int r = WaitX11Event(state, argument);
  if (result) *result = r;
  return 0;
}
int X11RunMain(vlVMState* state, int (*run)(vlVMState*)) { return run(state); }
uintptr_t X11WindowHandle(const vlPlatformWindow* d) { return d->window ? static_cast<uintptr_t>(d->window->window) : 0; }
int X11ScreenFormat(const vlPlatformWindow* d) {
  return d && d->window && d->window->connection ? d->window->connection->pixelFormat : -1;
}

vlWindowPut X11PutPixels(const vlPixelRecord& pixels, int32_t sx, int32_t sy, vlPlatformWindow* d, int32_t x,
                         int32_t y, int32_t width, int32_t height, uint32_t flags) {
  vlWindowPut put{};
  PutImageToWindow(pixels, sx, sy, d, x, y, width, height, int(flags & kClipNoVideos), &put);
  return put;
}
int X11Grab(vlPlatformWindow* d, int32_t x, int32_t y, const vlPixelRecord& into) {
  return GrabScreenPixels(d, x, y, into) ? 0 : ERR_GRABSCREEN;
}
int X11CreatePointer(const uint32_t* pixels, int32_t width, int32_t height, vlPointerRecord** out, int32_t hotX,
                     int32_t hotY) {
  return CreateARGBCursor(pixels, hotX, hotY, out, width, height);
}
void X11ShowHidePointer(vlPlatformWindow* d, int show) {
  if (show)
    ShowPointer(d);
  else
    HidePointer(d);
}
void X11MousePosition(vlPlatformWindow* d, int32_t* x, int32_t* y) {
  vlX11Window* w = d->window;
  if (!w || !w->window || !w->display) return;
  Window root, child;
  int rootX, rootY, winX, winY;
  unsigned int mask;
  if (XQueryPointer(w->display, w->window, &root, &child, &rootX, &rootY, &winX, &winY, &mask)) {
    *x = winX - d->contentOffsetX;
    *y = winY - d->contentOffsetY;
  }
}
int X11Borders(vlPlatformWindow* d) {
  if (!d->window) {
    if (int status = AllocDisplayPlatformData(d)) return status;
  }
  if (!d->window->connection) {
    vlX11Connection* c = nullptr;
    if (OpenX11Screen(d->xDisplayName, &c) == 0) d->window->connection = c;
  }
  return GetBorderSizes(d);
}
void X11Activate(vlPlatformWindow* d, int) { ActivateX11Window(d); }
int X11Modes(vlPlatformWindow* d, vlModeEntry** out, int32_t* count) {
  vlScreenMode modes[256];
  const int n = GetScreenModes(d, modes);
  vlModeEntry* list = n > 0 ? new (std::nothrow) vlModeEntry[n] : nullptr;
  if (!list) return ERR_NODISPMODES;
  for (int i = 0; i < n; ++i) list[i] = {modes[i].width, modes[i].height, 24, modes[i].refresh, 0};
  *out = list;
  *count = n;
  return 0;
}

const vlDisplayDevice kX11Device = {
    "inbuilt",
    VL_DEVICE_SCREEN_MODES | VL_DEVICE_MENUS | VL_DEVICE_SHAPES | VL_DEVICE_HOLDS_PUTS | VL_DEVICE_SCALES_VIDEO |
        VL_DEVICE_OWN_INPUT | VL_DEVICE_X_SERVER | VL_DEVICE_VIDEO_OVERLAY | VL_DEVICE_FRAME_WAIT,
    X11Open,
    X11Close,
    X11SizeMove,
    X11MoveResize,
    X11ShowHide,
    X11SetTitle,
    X11BufferSize,
    X11Buffer,
    X11Buffer,
    X11Flip,
    X11ClearBuffer,
    X11Input,
    X11WaitInput,
    X11RunMain,
    X11WindowHandle,
    X11ScreenFormat,
    ForgetHeldInput,
    nullptr,
    WindowTakesPictures,
    X11PutPixels,
    SendPendingPuts,
    FillRectInWindow,
    WritePixelToWindow,
    DrawLineToWindow,
    FillRectsInWindow,
    X11Grab,
    X11CreatePointer,
    FreePointerRecords,
    SetPointerShape,
    X11ShowHidePointer,
    MovePointer,
    X11MousePosition,
    GetQualifiers,
    X11Borders,
    X11Activate,
    X11Modes,
    GetMonitorList,
};

// ---- the display adapter's entries ------------------------------------------

// The adapter when its calls reach it (one called through the frame hook
// gets nothing on this platform).
vlPluginInfo* Adapter() {
  vlPluginInfo* a = vlDisplayAdapter;
  return a && a->callKind != 2 ? a : nullptr;
}
// The entry as the type the call expects, which must be its own: a call
// that drifts from the plug-in interface fails to build.
template <class Fn>
Fn Entry(Fn e) {
  return e;
}

int AdapterOpen(vlPlatformWindow* d, vlWindowRequest* r) {
  vlPluginInfo* a = Adapter();
  // A full-screen display adds its mode, a scaled one its scaled size.
  vlTagItem tags[13] = {{1, static_cast<uintptr_t>(r->pictureWidth)},
                        {2, static_cast<uintptr_t>(r->pictureHeight)},
                        {3, reinterpret_cast<uintptr_t>(&r->marks[0])},
                        {4, reinterpret_cast<uintptr_t>(&r->marks[1])},
                        {5, reinterpret_cast<uintptr_t>(r->state)},
                        {6, static_cast<uintptr_t>(d->monitorIndex)}};
  int n = 6;
  if (d->fullScreen) {
    tags[n++] = {7, static_cast<uintptr_t>(r->screenWidth)};
    tags[n++] = {8, static_cast<uintptr_t>(r->screenHeight)};
    tags[n++] = {9, static_cast<uintptr_t>(r->screenDepth)};
  }
  if (d->scaleWidth && d->scaleHeight) {
    tags[n++] = {10, static_cast<uintptr_t>(d->scaleWidth)};
    tags[n++] = {11, static_cast<uintptr_t>(d->scaleHeight)};
  }
  tags[n++] = {12, static_cast<uintptr_t>(d->smoothScale != 0)};
  tags[n] = {VL_TAG_END, 0};
  void* handle = a && a->OpenDisplay ? Entry<vlOpenDisplayFn>(a->OpenDisplay)(d->title ? d->title : "", d->x, d->y,
                                                                              d->width, d->height, r->flags, tags)
                                     : nullptr;
  if (!handle) return ERR_WINDOW;
  d->adapterHandle = handle;
  return 0;
}
int AdapterClose(vlPlatformWindow* d) {
  vlPluginInfo* a = Adapter();
  if (a && a->CloseDisplay && d->adapterHandle)
    if (int status = Entry<vlCloseDisplayFn>(a->CloseDisplay)(d->adapterHandle)) return status;
  d->adapterHandle = nullptr;
  return 0;
}
void AdapterSizeMove(vlPlatformWindow* d) {
  if (vlPluginInfo* a = Adapter(); a && a->SizeMoveDisplay)
    Entry<vlSizeMoveDisplayFn>(a->SizeMoveDisplay)(d->adapterHandle, d->x, d->y, d->width, d->height);
}
int AdapterShowHide(vlPlatformWindow* d, int hide) {
  if (vlPluginInfo* a = Adapter(); a && a->ShowHideDisplay)
    Entry<vlShowHideDisplayFn>(a->ShowHideDisplay)(d->adapterHandle, !hide);
  return 0;
}
void AdapterSetTitle(vlPlatformWindow* d) {
  if (vlPluginInfo* a = Adapter(); a && a->SetDisplayTitle)
    Entry<vlSetDisplayTitleFn>(a->SetDisplayTitle)(d->adapterHandle, d->title ? d->title : "");
}
void AdapterBufferSize(vlPlatformWindow* d, int32_t width, int32_t height) {
  if (vlPluginInfo* a = Adapter(); a && a->ChangeBufferSize && d->displayState == VL_DISPSTATE_OPEN)
    Entry<vlChangeBufferSizeFn>(a->ChangeBufferSize)(d->adapterHandle, width, height);
}
int AdapterBegin(vlPlatformWindow* d) {
  vlPluginInfo* a = Adapter();
  return a && a->BeginDoubleBuffer ? Entry<vlBeginDoubleBufferFn>(a->BeginDoubleBuffer)(d->adapterHandle, 0) : 0;
}
int AdapterEnd(vlPlatformWindow* d) {
  vlPluginInfo* a = Adapter();
  // A display closing ends its buffer after the window went: nothing is
  // left for the adapter to end.
  if (!a || !a->EndDoubleBuffer || !d->adapterHandle) return 0;
  return Entry<vlEndDoubleBufferFn>(a->EndDoubleBuffer)(d->adapterHandle, 0);
}
int AdapterFlip(vlPlatformWindow* d, int sync) {
  vlPluginInfo* a = Adapter();
  if (!a || !a->Flip) return 0;
  const int32_t block[3] = {1, sync, 0};
  return Entry<vlFlipFn>(a->Flip)(d->adapterHandle, block);
}
int AdapterInput(vlVMState* state, int context, int* error) {
  vlPluginInfo* a = Adapter();
  *error = a && a->HandleEvents ? Entry<vlHandleEventsFn>(a->HandleEvents)(state, static_cast<uint32_t>(context), 0)
                                : 0;
  return 0;
}
int AdapterWaitInput(vlVMState* state, int context, int, int*) {
  vlPluginInfo* a = Adapter();
  uintptr_t scratch = 0;
  return a && a->WaitEvents
             ? Entry<vlWaitEventsFn>(a->WaitEvents)(state, static_cast<uint32_t>(context), &scratch, 0)
             : 0;
}
uintptr_t AdapterWindowHandle(const vlPlatformWindow* d) { return reinterpret_cast<uintptr_t>(d->adapterHandle); }
// The adapter's screen is its own affair.
int AdapterScreenFormat(const vlPlatformWindow*) { return -1; }
int AdapterRunMain(vlVMState* state, int (*run)(vlVMState*)) {
  if (vlPluginInfo* a = Adapter(); a && a->AdapterMainLoop)
    return Entry<vlAdapterMainLoopFn>(a->AdapterMainLoop)(state, run);
  return run(state);
}

// An adapter flag: the adapter shows a scaled display's pictures scaled.
enum : uint32_t { kFlagScalesItself = 8 };

// Drawing goes to the adapter when the display is open, or when the
// adapter draws on closed displays that have a handle.
bool AdapterDraws(const vlPluginInfo* a, const vlPlatformWindow* d) {
  return d->displayState == VL_DISPSTATE_OPEN || ((a->displayCaps & VL_DISPCAPS_DRAWCLOSED) && d->adapterHandle);
}
// The adapter counts alpha inversely when its flags say so.
uint32_t AdapterColor(const vlPluginInfo* a, uint32_t color) {
  return (a->displayFlags & 0x80000000u) ? color ^ 0xFF000000u : color;
}

// The mix a crossfade asks of the adapter's display blits meanwhile.
void* gMixBase = nullptr;
int32_t gMixLevel = 0;

void AdapterPutPicture(vlPlatformWindow* d, void* picture, int32_t sx, int32_t sy, int32_t x, int32_t y,
                       int32_t width, int32_t height, uint32_t flags) {
  vlPluginInfo* a = Adapter();
  if (!a || !AdapterDraws(a, d)) return;
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
using RectFn = int (*)(void*, int32_t, int32_t, int32_t, int32_t, uint32_t, uint32_t, uint32_t);
void AdapterFill(vlPlatformWindow* d, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t color) {
  vlPluginInfo* a = Adapter();
  if (a && AdapterDraws(a, d)) Entry<RectFn>(a->RectFill)(d->adapterHandle, x, y, width, height, AdapterColor(a, color), 0, 0);
}
void AdapterPlot(vlPlatformWindow* d, int32_t x, int32_t y, uint32_t color) {
  vlPluginInfo* a = Adapter();
  if (a && AdapterDraws(a, d))
    Entry<int (*)(void*, int32_t, int32_t, uint32_t, uint32_t, uint32_t)>(a->WritePixel)(
        d->adapterHandle, x, y, AdapterColor(a, color), 0, 0);
}
void AdapterLine(vlPlatformWindow* d, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t color) {
  vlPluginInfo* a = Adapter();
  if (a && AdapterDraws(a, d)) Entry<RectFn>(a->Line)(d->adapterHandle, x1, y1, x2, y2, AdapterColor(a, color), 0, 0);
}
int AdapterGrab(vlPlatformWindow* d, int32_t x, int32_t y, const vlPixelRecord& into) {
  vlPluginInfo* a = Adapter();
  if (!a) return ERR_GRABSCREEN;
  auto* pixels = Entry<uint32_t* (*)(void*, int32_t, int32_t, int32_t, int32_t, uint32_t, uint32_t)>(
      a->GrabScreenPixels)(d->adapterHandle, x, y, into.width, into.height, 0, 0);
  if (!pixels) return ERR_GRABSCREEN;
  const bool fits = into.pixels && into.bytesPerPixel == 4;
  for (int32_t row = 0; fits && row < into.height; ++row)
    std::memcpy(into.pixels + static_cast<size_t>(row) * into.rowBytes, pixels + static_cast<size_t>(row) * into.width,
                static_cast<size_t>(into.width) * 4);
  if (a->FreeGrabScreenPixels) Entry<void (*)(void*)>(a->FreeGrabScreenPixels)(pixels);
  return fits ? 0 : ERR_GRABSCREEN;
}
int AdapterCreatePointer(const uint32_t* pixels, int32_t width, int32_t height, vlPointerRecord** out, int32_t hotX,
                         int32_t hotY) {
  vlPluginInfo* a = Adapter();
  using Create = void* (*)(const uint32_t*, int32_t, int32_t, int32_t, int32_t, uint32_t);
  void* pointer = a ? Entry<Create>(a->CreatePointer)(pixels, width, height, hotX, hotY, 0) : nullptr;
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
void AdapterFreePointer(vlPointerRecord* pointer) {
  vlPluginInfo* a = Adapter();
  if (pointer && pointer->adapterPointer) {
    if (a && a->FreePointer) Entry<void (*)(void*)>(a->FreePointer)(pointer->adapterPointer);
    pointer->adapterPointer = nullptr;
  }
  FreePointerRecords(pointer);
}
void AdapterShowHidePointer(vlPlatformWindow* d, int show) {
  if (vlPluginInfo* a = Adapter()) Entry<int (*)(void*, int)>(a->ShowHidePointer)(d->adapterHandle, show);
}
void AdapterSetPointer(vlPlatformWindow* d, vlPointerRecord* pointer, int kind) {
  vlPluginInfo* a = Adapter();
  if (!a) return;
  Entry<int (*)(void*, int, void*)>(a->SetPointer)(d->adapterHandle, kind, pointer ? pointer->adapterPointer : nullptr);
  if (a->ShowHidePointer) AdapterShowHidePointer(d, 1);
}
void AdapterMovePointer(vlPlatformWindow* d, int32_t x, int32_t y) {
  if (vlPluginInfo* a = Adapter()) Entry<int (*)(void*, int32_t, int32_t)>(a->MovePointer)(d->adapterHandle, x, y);
}
void AdapterMousePosition(vlPlatformWindow* d, int32_t* x, int32_t* y) {
  if (vlPluginInfo* a = Adapter()) Entry<int (*)(void*, int32_t*, int32_t*)>(a->GetMousePos)(d->adapterHandle, x, y);
}
uint32_t AdapterQualifiers(vlPlatformWindow* d) {
  vlPluginInfo* a = Adapter();
  return a ? Entry<uint32_t (*)(void*)>(a->GetQualifiers)(d ? d->adapterHandle : nullptr) : 0;
}
int AdapterBorders(vlPlatformWindow* d) {
  int32_t left = 0, right = 0, top = 0, bottom = 0;
  vlPluginInfo* a = Adapter();
  if (a && a->DetermineBorderSizes)
    Entry<int (*)(void*, int32_t*, int32_t*, int32_t*, int32_t*)>(a->DetermineBorderSizes)(d->adapterHandle, &left,
                                                                                          &right, &top, &bottom);
  d->frameLeft = left;
  d->frameTop = top;
  d->frameWidth = left + right;
  d->frameHeight = top + bottom;
  d->bordersKnown = 1;
  return 0;
}
void AdapterActivate(vlPlatformWindow* d, int flag) {
  if (vlPluginInfo* a = Adapter(); a && a->ActivateDisplay)
    Entry<int (*)(void*, int)>(a->ActivateDisplay)(d->adapterHandle, flag != 0);
}
using MonitorInfoFn = int (*)(int, int, void*, int);
int AdapterModes(vlPlatformWindow* d, vlModeEntry** out, int32_t* count) {
  vlPluginInfo* a = Adapter();
  int32_t* data = nullptr;
  if (a) Entry<MonitorInfoFn>(a->GetMonitorInfo)(1, d ? d->monitorIndex : 0, &data, 0);
  if (!data) return ERR_NODISPMODES;
  int n = 0;
  while (data[3 * n] > 0 && data[3 * n + 1] > 0) ++n;
  vlModeEntry* list = n ? new (std::nothrow) vlModeEntry[n] : nullptr;
  for (int i = 0; list && i < n; ++i) list[i] = {data[3 * i], data[3 * i + 1], data[3 * i + 2], 0, 0};
  if (a->FreeMonitorInfo) Entry<void (*)(int, void*)>(a->FreeMonitorInfo)(1, data);
  if (!list) return ERR_NODISPMODES;
  *out = list;
  *count = n;
  return 0;
}
vlMonitorNode* AdapterMonitors(vlPlatformWindow* d) {
  vlPluginInfo* a = Adapter();
  int32_t* data = nullptr;
  if (a) Entry<MonitorInfoFn>(a->GetMonitorInfo)(0, d ? d->monitorIndex : 0, &data, 0);
  vlMonitorNode* head = nullptr;
  vlMonitorNode** tail = &head;
  for (int i = 0; data && data[4 * i + 2] > 0 && data[4 * i + 3] > 0; ++i) {
    auto* node = new (std::nothrow) vlMonitorNode{nullptr, data[4 * i], data[4 * i + 1], data[4 * i + 2], data[4 * i + 3]};
    if (!node) break;
    *tail = node;
    tail = &node->next;
  }
  if (data && a->FreeMonitorInfo) Entry<void (*)(int, void*)>(a->FreeMonitorInfo)(0, data);
  return head;
}

vlDisplayDevice gAdapterDevice = {
    "",  // the adapter's name, set when it is chosen
    0,
    AdapterOpen,
    AdapterClose,
    AdapterSizeMove,
    AdapterSizeMove,
    AdapterShowHide,
    AdapterSetTitle,
    AdapterBufferSize,
    AdapterBegin,
    AdapterEnd,
    AdapterFlip,
    ClearAdapterDisplay,
    AdapterInput,
    AdapterWaitInput,
    AdapterRunMain,
    AdapterWindowHandle,
    AdapterScreenFormat,
    nullptr,
    // The routes: filled by OfferAdapterRoutes when the device is chosen.
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
};

// What the adapter offers, from its entries and its words. Where an
// adapter leaves out a pointer image, the qualifiers or its monitor
// information, the built-in X11 routes stand in for it.
void OfferAdapterRoutes(vlDisplayDevice& dev, const vlPluginInfo* a) {
  const bool called = a && a->callKind != 2;
  auto has = [&](auto e) { return called && e != nullptr; };
  dev.features = a && (a->displayFlags & kFlagScalesItself) ? uint32_t{VL_DEVICE_SCALES_BLITS} : 0u;
  dev.putPicture = has(a->BltBitMap) ? AdapterPutPicture : nullptr;
  dev.takesPixels = nullptr;
  dev.putPixels = nullptr;
  dev.flushPuts = called ? nullptr : SendPendingPuts;
  dev.fillRect = has(a->RectFill) ? AdapterFill : nullptr;
  dev.plotPixel = has(a->WritePixel) ? AdapterPlot : nullptr;
  dev.drawLine = has(a->Line) ? AdapterLine : nullptr;
  dev.fillRects = nullptr;  // an adapter's window takes the picture
  dev.grab = has(a->GrabScreenPixels) && (a->displayCaps & VL_DISPCAPS_GRAB) ? AdapterGrab : nullptr;
  dev.createPointer = has(a->CreatePointer) ? AdapterCreatePointer : X11CreatePointer;
  dev.freePointer = called ? AdapterFreePointer : FreePointerRecords;
  dev.setPointer = has(a->SetPointer) ? AdapterSetPointer : SetPointerShape;
  dev.showHidePointer = has(a->ShowHidePointer) ? AdapterShowHidePointer : nullptr;
  dev.movePointer = has(a->MovePointer) ? AdapterMovePointer : nullptr;
  dev.mousePosition = has(a->GetMousePos) ? AdapterMousePosition : nullptr;
  dev.qualifiers = has(a->GetQualifiers) ? AdapterQualifiers : GetQualifiers;
  dev.borders = called ? AdapterBorders : X11Borders;
  dev.activate = called ? AdapterActivate : X11Activate;
  const bool monitors = has(a->GetMonitorInfo) && (a->displayCaps & VL_DISPCAPS_MONITORS);
  dev.modes = monitors ? AdapterModes : X11Modes;
  dev.monitors = monitors ? AdapterMonitors : GetMonitorList;
}

}  // namespace

void SetAdapterBlitMix(void* base, int32_t level) {
  gMixBase = base;
  gMixLevel = level;
}

const vlDisplayDevice* DefaultDisplayDevice() {
  if (!vlDisplayAdapter) return &kX11Device;
  // The video thread asks as well: the shared table is written only when
  // what the adapter offers has changed, never rewritten under a reader.
  vlDisplayDevice offered = gAdapterDevice;
  offered.name = vlDisplayAdapter->name ? vlDisplayAdapter->name : "inbuilt";
  OfferAdapterRoutes(offered, vlDisplayAdapter);
  if (std::memcmp(&offered, &gAdapterDevice, sizeof offered) != 0) gAdapterDevice = offered;
  return &gAdapterDevice;
}

const vlDisplayDevice* DisplayDevice(const vlPlatformWindow* d) {
  if (!d) return DefaultDisplayDevice();
  if (!d->device) d->device = DefaultDisplayDevice();
  return d->device;
}

bool DisplayDeviceDoes(const vlPlatformWindow* d, uint32_t feature) { return (DisplayDevice(d)->features & feature) != 0; }
