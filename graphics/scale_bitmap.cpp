// ScaleBitmap: locks both sides and hands the rows to the scaler.
#include "graphics/scale_bitmap.h"

#include "graphics/bitmap.h"
#include "graphics/scaler.h"
#include "vm/error_codes.h"

int ScaleBitmap(vlBitmap* source, vlBitmap* mask, vlBitmap* alpha, int32_t x, int32_t y, vlBitmap* target,
                int32_t srcWidth, int32_t srcHeight, int32_t width, int32_t height, int smooth, uint32_t,
                vlBitmap** outBitmap, vlBitmap** outMask, vlBitmap** outAlpha) {
  if (outBitmap) *outBitmap = nullptr;
  if (outMask) *outMask = nullptr;
  if (outAlpha) *outAlpha = nullptr;
  if (width < 1 || height < 1 || srcWidth < 1 || srcHeight < 1) return 0;
  vlBitmap* bitmap = target;
  vlBitmap* newMask = nullptr;
  vlBitmap* newAlpha = nullptr;
  auto fail = [&](int code) {
    if (!target && bitmap) DeleteBitmap(bitmap);
    if (newMask) DeleteMaskPlane(newMask);
    if (newAlpha) DeleteAlphaPlane(newAlpha);
    return code;
  };
  if (!target && source && !(bitmap = NewBitmap(width, height, 0, nullptr))) return ERR_BITMAP;
  if (!target && mask && !(newMask = NewMaskPlane(bitmap, width, height, 1, nullptr, 0))) return fail(ERR_ALLOCMASK);
  if (!target && alpha && !(newAlpha = NewAlphaPlane(width, height, 1, nullptr, 0))) return fail(ERR_ALLOCALPHA);

  vlScaleJob job{};
  job.x = x;
  job.y = y;
  job.srcWidth = srcWidth;
  job.srcHeight = srcHeight;
  job.dstWidth = width;
  job.dstHeight = height;
  job.smooth = smooth ? 1 : 0;
  vlPixelAccess s{}, d{}, sm{}, dm{}, sa{}, da{};
  bool ok = true;
  if (source && bitmap) {
    ok = LockPixels(source, VL_LOCK_READ, &s) && LockPixels(bitmap, 0, &d) && s.bytesPerPixel == d.bytesPerPixel;
    if (ok) {
      job.srcPixels = s.pixels + (static_cast<intptr_t>(y) * s.rowLength + x) * s.bytesPerPixel;
      job.dstPixels = d.pixels;
      job.srcRowLength = s.rowLength;
      job.dstRowLength = d.rowLength;
      job.format = s.format;
      job.bytesPerPixel = s.bytesPerPixel;
    }
  }
  if (ok && newMask) {
    ok = LockPixels(mask, VL_LOCK_READ, &sm) && LockPixels(newMask, 0, &dm);
    if (ok) {
      job.srcMask = sm.pixels + static_cast<intptr_t>(y) * sm.rowLength;
      job.dstMask = dm.pixels;
      job.srcMaskRowBytes = sm.rowLength;
      job.dstMaskRowBytes = dm.rowLength;
    }
  }
  if (ok && newAlpha) {
    ok = LockPixels(alpha, VL_LOCK_READ, &sa) && LockPixels(newAlpha, 0, &da);
    if (ok) {
      job.srcAlpha = sa.pixels + static_cast<intptr_t>(y) * sa.rowLength + x;
      job.dstAlpha = da.pixels;
      job.srcAlphaRowBytes = sa.rowLength;
      job.dstAlphaRowBytes = da.rowLength;
    }
  }
  if (ok) ScalePixels(job);
  if (s.locked) UnlockPixels(source, &s);
  if (d.locked) UnlockPixels(bitmap, &d);
  if (sm.locked) UnlockPixels(mask, &sm);
  if (dm.locked) UnlockPixels(newMask, &dm);
  if (sa.locked) UnlockPixels(alpha, &sa);
  if (da.locked) UnlockPixels(newAlpha, &da);
  if (!ok) return fail(ERR_LOCKBMAP);
  if (!target && outBitmap) *outBitmap = bitmap;
  else if (!target && bitmap) DeleteBitmap(bitmap);
  if (outMask) *outMask = newMask;
  else if (newMask) DeleteMaskPlane(newMask);
  if (outAlpha) *outAlpha = newAlpha;
  else if (newAlpha) DeleteAlphaPlane(newAlpha);
  return 0;
}
