// The display adapter and the wrappers through which the engine reaches a
// display's window: each hands the call to the installed display-adapter
// plug-in when there is one and to the built-in X11 code otherwise, and the
// drawing wrappers then tell the display's observers what changed.
#pragma once
#include <cstdint>

struct vlBitmap;
struct vlDisplay;
struct vlPlatformWindow;
struct vlPixelRecord;
struct vlPluginInfo;
struct vlVMState;
struct vlMonitorNode;

// The installed display adapter (null: none). Its capability byte is
// displayCaps (1 Sleep, 2 VWait, 4 monitor information, 8 screen
// grabs, 16 draws on displays that are not open), its flags displayFlags
// (bit 3: scales blits itself).
extern vlPluginInfo* vlDisplayAdapter;
// Whether a display adapter is installed: the one answer the engine asks.
bool DisplayAdapterActive();

// The adapter's ForceEventLoopIteration: 1 when it was called, 0 without an
// adapter (the caller then writes a wake message).
int ForceEventLoopIteration();
// The adapter's Sleep (capability 1), its result in *result: 1 when the
// adapter slept, 0 when the built-in sleep must.
int AdapterSleep(vlVMState* state, uint32_t millis, int* result);
// The adapter's VWait (capability 2) for a display with a handle, tags
// {1: value}: 1 when the adapter waited, 0 when the built-in wait must.
int AdapterVWait(vlPlatformWindow* display, int32_t value);
// Mouse pointer images: the adapter's CreatePointer, FreePointer and
// SetPointer when one is installed (a pointer it refuses is
// ERR_POINTERIMG), the X cursors otherwise. SetMousePointer shows the
// pointer.
struct vlPointerRecord;
int CreateMousePointer(const uint32_t* pixels, int32_t width, int32_t height, vlPointerRecord** out, int32_t hotX,
                       int32_t hotY);
void FreeMousePointer(vlPointerRecord* pointer);
void SetMousePointer(vlPlatformWindow* display, vlPointerRecord* pointer, int kind);
// Tells the adapter whether the script handles the close button of the
// display (SetDisplayAttributes, tag 1); nothing without an adapter.
void SetAdapterCloseHandled(vlPlatformWindow* display, int handled);
// The qualifier word of the display: the adapter's when one is installed.
uint32_t GetDisplayQualifiers(vlPlatformWindow* display);

// An observer (a display client) in a display's list.
using vlObserverFn = void (*)(void* node, uint32_t code, const int32_t* args, void* userData);
struct vlDisplayClient {
  vlDisplayClient* next;
  vlObserverFn callback;
  void* userData;
  uint32_t callKind;  // 2: through the frame call, which does nothing here
  uint32_t visited;
  uintptr_t tag3;
  vlDisplay* display;
  uintptr_t tag4;
  uint32_t refresh;  // wants frame-refresh notifications
};

// Calls each observer once (code 0 blit, 1 fill, 2 line, 3 pixel, 4 size
// change, 5 refresh); observers may change the list from their callback.
void NotifyObservers(vlPlatformWindow* display, uint32_t code, const int32_t* args, bool refreshOnly = false);
void NotifyDisplayObservers(vlPlatformWindow* display, int32_t a, int32_t b);

// Window operations.
// Whether the display shows anywhere: an X11 window or an adapter's handle.
bool DisplayHasWindow(const vlPlatformWindow* display);
int DetermineDisplayBorders(vlPlatformWindow* display);
void ActivateDisplayWindow(vlPlatformWindow* display, int flag);
void GetDisplayMousePos(vlPlatformWindow* display, int32_t* x, int32_t* y);
void ShowHideMousePointer(vlPlatformWindow* display, int show);
void MoveMousePointer(vlPlatformWindow* display, int32_t x, int32_t y);

// Blits, in two halves: the floor that owns the pictures (BlitToDisplay)
// asks how the display takes them, scales the picture when the display is
// shown scaled, and hands it down, whole to an adapter or as a plain record
// of its pixels to the window code; then it tells the observers.
// Whether what is blitted must first be scaled to the display's scale (an
// adapter that scales by itself takes it unscaled).
bool DisplayBlitsScaled(const vlPlatformWindow* display);
// Whether the window code takes pixels for the display now (no adapter; the
// window open, drawable, not being moved or resized): without it nothing
// needs locking.
bool DisplayTakesPixels(const vlPlatformWindow* display);
// The adapter's blit of a picture it holds (flags as BlitToDisplay's, 0x100
// when the engine scaled it).
void BlitPictureToAdapter(void* picture, int32_t srcX, int32_t srcY, vlPlatformWindow* display, int32_t x,
                          int32_t y, int32_t width, int32_t height, uint32_t flags);
// The window code's put of a rectangle of the pixels (flag 0x20: over the
// video overlays too).
void BlitPixelsToWindow(const vlPixelRecord& pixels, int32_t srcX, int32_t srcY, vlPlatformWindow* display,
                        int32_t x, int32_t y, int32_t width, int32_t height, uint32_t flags);
void FillDisplayRect(vlPlatformWindow* display, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t color);
void PlotDisplayPixel(vlPlatformWindow* display, int32_t x, int32_t y, uint32_t color);
void DrawDisplayLine(vlPlatformWindow* display, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t color);
// The adapter's Cls: clears what the adapter buffers for the display.
void ClearAdapterDisplay(vlPlatformWindow* display, uint32_t color);
// Sends the puts still waiting for the end of the command (the event pump
// does so after every line); for waits that do not pump. Drawing the floor
// above holds back is its own to draw first.
void FlushDisplayOutput();
// The batch of puts as the floor that holds drawing back for it sees it:
// holding starts its clock as a put does; due once its oldest put or hold
// waited 2 ms. Without puts to batch (an adapter) never due.
void StartDisplayBatch();
bool DisplayBatchDue();
// Fills the letterbox borders of a scaled display with colour 0.
void ClearDisplayBorders(vlPlatformWindow* display);

// The screen's pixels at (x, y), of the record's size, written into it;
// 0 or 1561 (ERR_GRABSCREEN).
int GrabDisplayInto(vlPlatformWindow* display, int32_t x, int32_t y, const vlPixelRecord& into);

// Screen modes of the display's monitor, sorted by width then height.
struct vlModeEntry {
  int32_t width, height, depth, refresh, reserved;
};
// 0, or 1443 when there are none; free the array with delete[].
int GetDisplayModeList(vlPlatformWindow* display, vlModeEntry** out, int32_t* count);
// Monitors in the server's order; free with FreeMonitorList.
vlMonitorNode* GetDisplayMonitorList(vlPlatformWindow* display);
void FreeMonitorList(vlMonitorNode* list);
