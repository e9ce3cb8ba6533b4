// The two display devices: the built-in X11 windows and the installed
// display adapter's entries. Which one a display gets is decided here, once.
#include "platform/display_device.h"

#include "abi/plugin_abi.h"
#include "platform/display_adapter.h"
#include "platform/event_pump.h"
#include "platform/window_record.h"
#include "platform/x11/x11_connection.h"
#include "platform/x11/x11_input.h"
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

const vlDisplayDevice kX11Device = {
    "inbuilt",
    VL_DEVICE_SCREEN_MODES | VL_DEVICE_MENUS | VL_DEVICE_SHAPES | VL_DEVICE_HOLDS_PUTS | VL_DEVICE_SCALES_VIDEO |
        VL_DEVICE_OWN_INPUT | VL_DEVICE_X_SERVER | VL_DEVICE_VIDEO_OVERLAY | VL_DEVICE_FRAME_WAIT |
        VL_DEVICE_TAKES_PIXELS,
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
};

// ---- the display adapter's entries ------------------------------------------

// The adapter when its calls reach it (one called through the frame hook
// gets nothing on this platform).
vlPluginInfo* Adapter() {
  vlPluginInfo* a = vlDisplayAdapter;
  return a && a->callKind != 2 ? a : nullptr;
}
template <class Fn>
Fn Entry(vlPluginEntry e) {
  return reinterpret_cast<Fn>(e);
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
  return a && a->EndDoubleBuffer ? Entry<vlEndDoubleBufferFn>(a->EndDoubleBuffer)(d->adapterHandle, 0) : 0;
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
};

}  // namespace

const vlDisplayDevice* DefaultDisplayDevice() {
  if (!vlDisplayAdapter) return &kX11Device;
  gAdapterDevice.name = vlDisplayAdapter->name ? vlDisplayAdapter->name : "inbuilt";
  return &gAdapterDevice;
}

const vlDisplayDevice* DisplayDevice(const vlPlatformWindow* d) {
  if (!d) return DefaultDisplayDevice();
  if (!d->device) d->device = DefaultDisplayDevice();
  return d->device;
}

bool DisplayDeviceDoes(const vlPlatformWindow* d, uint32_t feature) { return (DisplayDevice(d)->features & feature) != 0; }
