// Blits to a display and grabs of the screen: the picture is locked here
// and its pixels handed to the platform as a plain record.
// Depends on the bitmaps, the scaler and the platform's display wrappers.
#include "graphics/display_blit.h"

#include <algorithm>

#include "graphics/bitmap.h"
#include "graphics/picture_engines.h"
#include "graphics/presentation.h"
#include "platform/display_adapter.h"
#include "platform/pixel_layout.h"
#include "platform/window_record.h"
#include "vm/error_codes.h"
#include "platform/display_device.h"

namespace {

// The intermediate picture of scaled blits, kept for the next one.
vlBitmap* gScaledBlit = nullptr;

// Scales a rectangle of source into gScaledBlit (made again when its size
// does not fit); the rectangle mapped back from the scaled one may reach
// past the source's right and bottom edges and is cut there first.
vlBitmap* ScaleForDisplay(vlBitmap* source, int32_t x, int32_t y, int32_t width, int32_t height, int32_t toWidth,
                          int32_t toHeight, int smooth) {
  width = std::min(width, source->width - x);
  height = std::min(height, source->height - y);
  if (gScaledBlit && (gScaledBlit->width != toWidth || gScaledBlit->height != toHeight)) {
    DeleteBitmap(gScaledBlit);
    gScaledBlit = nullptr;
  }
  if (!gScaledBlit && !(gScaledBlit = NewBitmap(toWidth, toHeight, 0, nullptr))) return nullptr;
  ScaleBitmap(source, nullptr, nullptr, x, y, gScaledBlit, width, height, toWidth, toHeight, smooth, 0, nullptr,
              nullptr, nullptr);
  return gScaledBlit;
}

// A locked picture as the platform draws from or into it.
vlPixelRecord RecordOf(const vlPixelAccess& access) {
  return vlPixelRecord{access.pixels, access.rowLength * access.bytesPerPixel, access.format,
                       access.bytesPerPixel, access.width, access.height};
}

}  // namespace

void BlitToDisplay(vlBitmap* bitmap, int32_t sx, int32_t sy, vlPlatformWindow* d, int32_t x, int32_t y,
                   int32_t width, int32_t height, uint32_t flags) {
  if (!d || !bitmap || width < 1 || height < 1) return;
  SettleHeldPresentation();
  const int32_t args[4] = {x, y, width, height};
  vlBitmap* source = bitmap;
  if (!(flags & 0x100) && DisplayBlitsScaled(d)) {
    int32_t x0 = static_cast<int32_t>(x * d->scaleX), y0 = static_cast<int32_t>(y * d->scaleY);
    int32_t x1 = static_cast<int32_t>((x + width) * d->scaleX + 0.999999);
    int32_t y1 = static_cast<int32_t>((y + height) * d->scaleY + 0.999999);
    x1 = std::min(x1, d->scaleWidth);
    y1 = std::min(y1, d->scaleHeight);
    if (x1 <= x0 || y1 <= y0) return;
    // Map the scaled rectangle back to the source so edges line up.
    int32_t srcX0 = static_cast<int32_t>(x0 / d->scaleX), srcY0 = static_cast<int32_t>(y0 / d->scaleY);
    int32_t srcX1 = std::max(srcX0 + 1, static_cast<int32_t>(x1 / d->scaleX + 0.999999));
    int32_t srcY1 = std::max(srcY0 + 1, static_cast<int32_t>(y1 / d->scaleY + 0.999999));
    source = ScaleForDisplay(bitmap, sx + (srcX0 - x), sy + (srcY0 - y), srcX1 - srcX0, srcY1 - srcY0, x1 - x0,
                             y1 - y0, d->smoothScale);
    if (!source) return;
    sx = sy = 0;
    x = x0;
    y = y0;
    width = x1 - x0;
    height = y1 - y0;
    flags |= 0x100;
  }
  const vlDisplayDevice* device = DisplayDevice(d);
  if (device->putPicture) {
    device->putPicture(d, source, sx, sy, x, y, width, height, flags);
  } else if (device->putPixels && device->takesPixels(d)) {
    // Only a window that takes pixels now is worth the lock.
    vlLockedPixels locked(source, VL_LOCK_READ);
    if (locked.ok() && locked.access.pixels)
      PresentWindowPut(device->putPixels(RecordOf(locked.access), sx, sy, d, x, y, width, height, flags));
  }
  NotifyObservers(d, 0, args);
}

bool FillDisplayRects(vlPlatformWindow* d, const int32_t* rects, int32_t count, uint32_t color,
                      const int32_t box[4]) {
  if (!d || DisplayBlitsScaled(d)) return false;
  const vlDisplayDevice* device = DisplayDevice(d);
  if (!device->fillRects) return false;
  SettleHeldPresentation();
  vlWindowPut put;
  if (!device->fillRects(d, rects, count, color, &put)) return false;
  PresentWindowPut(put);
  NotifyObservers(d, 0, box);
  return true;
}

uint32_t VideoFrameBlitFlags(const vlPlatformWindow* d) {
  return DisplayDeviceDoes(d, VL_DEVICE_SCALES_VIDEO) ? 0x120u : 0x20u;
}

int GrabDisplayPixels(vlPlatformWindow* d, int32_t x, int32_t y, int32_t width, int32_t height, vlBitmap** out) {
  *out = nullptr;
  SettleHeldPresentation();
  vlBitmap* bitmap = NewBitmap(width, height, 0, nullptr);
  if (!bitmap) return ERR_GRABSCREEN;
  int status = ERR_GRABSCREEN;
  {
    vlLockedPixels locked(bitmap, 0);
    if (locked.ok()) status = GrabDisplayInto(d, x, y, RecordOf(locked.access));
  }
  if (status) {
    DeleteBitmap(bitmap);
    return status;
  }
  *out = bitmap;
  return 0;
}

void FreeDisplayBlitCache() {
  DeleteBitmap(gScaledBlit);
  gScaledBlit = nullptr;
}
