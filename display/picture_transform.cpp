// One routine for every scaled, rotated or sheared picture: a copy for the
// identity, the scaler for a pure scale, the affine renderer otherwise, and
// a fresh rendering of a vector picture's source at the matrix.
#include "display/picture_transform.h"

#include "display/bgpic.h"
#include "display/display.h"
#include "graphics/bitmap.h"
#include "graphics/geometry.h"
#include "graphics/picture_engines.h"
#include "graphics/pixel_kernels.h"
#include "formats/loaded_source.h"
#include "vm/convert.h"
#include "vm/error_codes.h"

namespace {

bool IsIdentity(const double* m) { return m[0] == 1 && m[1] == 0 && m[2] == 0 && m[3] == 1; }

// The picture engines take the matrix by columns.
void Columns(const double* m, double* out) {
  out[0] = m[0], out[1] = m[2], out[2] = m[1], out[3] = m[3];
}

// The rendered pixels as a bitmap with the planes the caller's picture had.
int BitmapFromRendering(const uint32_t* pixels, int32_t w, int32_t h, bool wantAlpha, bool wantMask,
                        vlBitmap** bitmap, vlBitmap** mask, vlBitmap** alpha) {
  if (int status = BitmapFromARGB(pixels, -1, w, h, w, 0, 0, 0, bitmap, nullptr, nullptr)) return status;
  if (wantAlpha) {
    if (!(*alpha = WrapARGBAsAlpha(pixels, w, h, w))) {
      DeleteBitmap(*bitmap);
      *bitmap = nullptr;
      return ERR_ALLOCALPHA;
    }
    return 0;
  }
  if (!wantMask) return 0;
  vlBitmap* plane = NewMaskPlane(*bitmap, w, h, 1, nullptr, 0);
  vlPixelAccess m;
  if (!plane || !LockPixels(plane, 0, &m)) {
    if (plane) DeleteMaskPlane(plane);
    DeleteBitmap(*bitmap);
    *bitmap = nullptr;
    return ERR_ALLOCMASK;
  }
  // A pixel the renderer left fully transparent is not part of the picture.
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x)
      SetMaskBit(m.pixels + static_cast<intptr_t>(y) * m.rowLength, x, (pixels[static_cast<size_t>(y) * w + x] >> 24) != 0);
  UnlockPixels(plane, &m);
  *mask = plane;
  return 0;
}

}  // namespace

bool IsPurePositiveScale(const double* m) { return m[1] == 0 && m[2] == 0 && m[0] > 0 && m[3] > 0; }

void GetTransformedSize(const double* m, int32_t width, int32_t height, int32_t* outWidth, int32_t* outHeight) {
  int32_t w = width, h = height;
  if (IsPurePositiveScale(m)) {
    const vlDisplay* d = CurrentDisplay();
    const bool displayScaled = d && d->bgpic && (d->autoScale || d->layerScale) && d->scaleWidth > 0 &&
                               d->scaleHeight > 0;
    if (IsIdentity(m)) {
      // Unchanged.
    } else if (displayScaled && m[0] == d->scaleX && m[3] == d->scaleY && width == d->bgpic->width &&
               height == d->bgpic->height) {
      w = d->scaleWidth, h = d->scaleHeight;
    } else {
      // A size a rounding error below a whole number keeps that number.
      w = vl::DoubleToInt32(width * m[0] + 1e-9);
      h = vl::DoubleToInt32(height * m[3] + 1e-9);
    }
  } else {
    double columns[4];
    Columns(m, columns);
    GetTransformedBounds(columns, width, height, &w, &h, nullptr, nullptr);
  }
  *outWidth = w < 1 ? 1 : w;
  *outHeight = h < 1 ? 1 : h;
}

int TransformPicture(vlVMState*, uint32_t kind, vlLoadedSource* source, vlBitmap* bitmap, vlBitmap* mask,
                     vlBitmap* alpha, int32_t sourceX, int32_t sourceY, int32_t destX, int32_t destY, int32_t width,
                     int32_t height, double anchorX, double anchorY, const double* m, int smooth,
                     vlBitmap** outBitmap, vlBitmap** outMask, vlBitmap** outAlpha, int32_t* outX, int32_t* outY,
                     int32_t* outWidth, int32_t* outHeight) {
  *outBitmap = *outMask = *outAlpha = nullptr;
  double columns[4];
  Columns(m, columns);
  int32_t x = destX, y = destY;
  FitRotatedRect(destX, destY, width, height, anchorX, anchorY, columns, &x, &y, nullptr, nullptr);
  int32_t w = 0, h = 0;
  GetTransformedSize(m, width, height, &w, &h);
  const bool identity = IsIdentity(m);
  int status = 0;
  if (kind > VL_PICTURE_VECTOR) {
    // Only the size is asked for.
  } else if (identity && (kind == VL_PICTURE_RASTER || bitmap)) {
    status = CopyBitmapRegion(bitmap, mask, alpha, sourceX, sourceY, width, height, 0, 0, 0, outBitmap,
                              mask ? outMask : nullptr, alpha ? outAlpha : nullptr);
  } else if (kind == VL_PICTURE_VECTOR) {
    if (!source) return ERR_TFIMAGE;
    // The renderer draws the whole box: its top-left corner goes to 0, 0.
    double left = 0, top = 0;
    int32_t bw = 0, bh = 0;
    GetTransformedBounds(columns, width, height, &bw, &bh, &left, &top);
    uint32_t* pixels = nullptr;
    status = TransformLoadedImage(source, m, 0.0 - left, 0.0 - top, w, h, &pixels, nullptr);
    if (status == 0)
      status = BitmapFromRendering(pixels, w, h, alpha != nullptr, mask != nullptr || !IsPurePositiveScale(m),
                                   outBitmap, outMask, outAlpha);
  } else if (IsPurePositiveScale(m)) {
    status = ScaleBitmap(bitmap, mask, alpha, sourceX, sourceY, nullptr, width, height, w, h, smooth, 0, outBitmap,
                         mask ? outMask : nullptr, alpha ? outAlpha : nullptr);
  } else {
    status = TransformBitmap(bitmap, mask, alpha, sourceX, sourceY, width, height, columns, smooth, 0, outBitmap,
                             outMask, outAlpha, &w, &h);
  }
  if (status) return status;
  if (outX) *outX = x;
  if (outY) *outY = y;
  *outWidth = w;
  *outHeight = h;
  return 0;
}
