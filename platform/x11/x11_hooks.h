// Calls from the X11 code into subsystems that sit above the platform
// layer: the display list, bitmaps and their pixel locks, video overlays,
// the clipboard offer and the display adapter's bitmap capabilities. Each
// default is the harmless answer (no displays, no bitmaps, no videos), so
// the X11 code runs and is tested on its own until the owners install
// their routines at start-up.
#pragma once
#include <cstdint>

struct vlDisplay;
struct vlBitmap;
struct vlX11Window;

// A locked picture as the drawing code needs it; row length in pixels.
struct vlX11PixelView {
  uint8_t* pixels;
  int32_t ok;
  int32_t pixelFormat;
  int32_t bytesPerPixel;
  int32_t rowPixels;
  int32_t width;
  int32_t height;
};

struct vlX11VideoRect {
  int32_t x, y, width, height;  // position on the display, scaled size
};

struct vlX11Hooks {
  // Head of the display list. Default: no displays.
  vlDisplay* (*firstDisplay)();
  // Bitmaps: make one of the size in the screen's format (null on
  // failure), free it, lock it for reading or writing (1 or 0), unlock it.
  // Defaults: no bitmaps.
  vlBitmap* (*allocBitmap)(int32_t width, int32_t height);
  void (*freeBitmap)(vlBitmap* bitmap);
  int (*lockPixels)(vlBitmap* bitmap, vlX11PixelView* view, int write);
  void (*unlockPixels)(vlBitmap* bitmap);
  // Rectangles of the videos that play in their own overlay on display
  // (not on a layer; playing, paused or started), up to max; the count.
  // Default: none.
  int (*videoOverlays)(vlDisplay* display, vlX11VideoRect* out, int max);
  // The bitmap features the display adapter grants of those asked for.
  // Default: none (0).
  uint32_t (*adapterBitmapCaps)(uint32_t features);
  // The window icons as _NET_WM_ICON data (width, height, pixels, ...) and
  // their item count; release drops data the call made. Default: the
  // built-in icons.
  const unsigned long* (*windowIconData)(long* items);
  void (*releaseIconData)(const unsigned long* data);
};

extern vlX11Hooks gX11Hooks;
void ResetX11Hooks();
