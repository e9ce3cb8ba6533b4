// Copy, scale, transform and distort engines over bitmaps and planes. A
// display adapter that holds the source picture is offered the copy, the
// scaling or the transformation first; the rest is done in software by the
// bitmaps, the blits, the scaler, the affine renderer, the distortion
// engine and the key-mask kernels.
#include "graphics/picture_engines.h"

#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "graphics/adapter.h"
#include "graphics/adapter_bitmap.h"
#include "graphics/affine.h"
#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "graphics/blit_loops.h"
#include "graphics/distort.h"
#include "graphics/image_kernels.h"
#include "graphics/pixel_format.h"
#include "graphics/scaler.h"
#include "vm/convert.h"
#include "vm/error_codes.h"

namespace {

struct ScaleTables {
  int32_t xCap = 0, yCap = 0;
  uint16_t* xFrac = nullptr;
  int32_t* xStep = nullptr;
  uint16_t* yFrac = nullptr;
  int32_t* yStep = nullptr;
};
ScaleTables gTables;

// Everything an engine made, released unless handed out.
struct Made {
  vlBitmap* bitmap = nullptr;
  vlBitmap* mask = nullptr;
  vlBitmap* alpha = nullptr;
  ~Made() {
    if (mask) DeleteMaskPlane(mask);
    if (alpha) DeleteAlphaPlane(alpha);
    if (bitmap) DeleteBitmap(bitmap);
  }
  void HandOut(vlBitmap** b, vlBitmap** m, vlBitmap** a) {
    if (b) *b = bitmap;
    if (m) *m = mask;
    if (a) *a = alpha;
    bitmap = mask = alpha = nullptr;
  }
};

using Lock = vlLockedPixels;

// After the adapter refused a picture: one that may not fall back to
// software fails the engine, else the engine goes on by itself.
int32_t AdapterRefused() { return GetAdapterBitmapCaps(VL_ADAPTERCAP_FALLBACK) ? 0 : ERR_BITMAP; }

// The adapter makes the result itself from its own picture and three
// words (the source size and the smooth flag), with the matrix of a
// transformation; null when it refuses.
vlBitmap* AdapterResult(vlBitmap* source, int32_t width, int32_t height, int32_t sourceWidth, int32_t sourceHeight,
                        int32_t smooth, const double* matrix, uintptr_t adapterWord) {
  vlAdapterSource src{};
  src.bitmap = source;
  src.hasWords = 1;
  src.words[0] = static_cast<uintptr_t>(sourceWidth);
  src.words[1] = static_cast<uintptr_t>(sourceHeight);
  src.words[2] = static_cast<uintptr_t>(smooth);
  src.matrix = matrix;
  src.displayHandle = reinterpret_cast<void*>(adapterWord);
  return NewAdapterBitmap(width, height, VL_VBM_VIDEO, &src);
}

// A video bitmap whose pixels cannot be locked, read out into a plain
// picture of its size for the software engines; the alpha plane the
// adapter reports becomes the source's alpha.
struct ReadOut {
  vlBitmap* bitmap = nullptr;
  vlBitmap* alpha = nullptr;
  ~ReadOut() {
    if (alpha) DeleteAlphaPlane(alpha);
    if (bitmap) DeleteBitmap(bitmap);
  }
  int32_t Replace(vlBitmap** source, vlBitmap** sourceAlpha) {
    if (!IsVideoBitmap(*source)) return 0;
    if (!(bitmap = NewBitmap((*source)->width, (*source)->height, 0, nullptr))) return ERR_BITMAP;
    if (int32_t rc = ReadAdapterBitmap(*source, bitmap, bitmap->width, bitmap->height, &alpha)) return rc;
    *source = bitmap;
    if (alpha) *sourceAlpha = alpha;
    return 0;
  }
};

// An adapter's result goes out alone: its planes are in its alpha bytes.
void HandOutAlone(vlBitmap* bitmap, vlBitmap** outBitmap, vlBitmap** outMask, vlBitmap** outAlpha) {
  if (outBitmap) *outBitmap = bitmap;
  else DeleteBitmap(bitmap);
  if (outMask) *outMask = nullptr;
  if (outAlpha) *outAlpha = nullptr;
}

}  // namespace

int32_t EnsureScaleTables(int32_t xCount, int32_t yCount, int32_t* xCap, int32_t* yCap, uint16_t** xFrac,
                          int32_t** xStep, uint16_t** yFrac, int32_t** yStep) {
  auto grow = [](int32_t count, int32_t* cap, uint16_t** frac, int32_t** step) {
    if (*cap >= count) return true;
    delete[] *frac;
    delete[] *step;
    *frac = new (std::nothrow) uint16_t[static_cast<size_t>(count) + 1];
    *step = new (std::nothrow) int32_t[static_cast<size_t>(count) + 1];
    if (!*frac || !*step) {
      delete[] *frac;
      delete[] *step;
      *frac = nullptr;
      *step = nullptr;
      *cap = 0;
      return false;
    }
    *cap = count;
    return true;
  };
  if (xCount < 0 || yCount < 0) return ERR_MEM;
  if (!grow(xCount, xCap, xFrac, xStep) || !grow(yCount, yCap, yFrac, yStep)) return ERR_MEM;
  return 0;
}

void FreeScaleTables() {
  delete[] gTables.xFrac;
  delete[] gTables.xStep;
  delete[] gTables.yFrac;
  delete[] gTables.yStep;
  gTables = ScaleTables{};
}

int32_t CopyBitmapRegion(vlBitmap* bitmap, vlBitmap* mask, vlBitmap* alpha, int32_t x, int32_t y, int32_t w,
                         int32_t h, int32_t adapterFlag, uintptr_t word1, uintptr_t word2, vlBitmap** outBitmap,
                         vlBitmap** outMask, vlBitmap** outAlpha) {
  Made made;
  if (bitmap && adapterFlag) {
    // A picture the adapter holds, copied for another display (word2), is
    // read out first and made there from its ARGB words.
    std::unique_ptr<uint32_t[]> argb;
    uintptr_t extra = 0;
    if (bitmap->driverOwned && word2 && word2 != word1) {
      uint32_t* read = nullptr;
      if (int32_t rc = ReadBitmapRectARGB(bitmap, x, y, w, h, &extra, &read)) return rc;
      argb.reset(read);
    }
    vlAdapterSource src{};
    if (argb) {
      src.argb = argb.get();
    } else {
      src.bitmap = bitmap;
      src.mask = mask;
      src.alpha = alpha;
    }
    src.displayHandle = reinterpret_cast<void*>(word2 ? word2 : word1);
    // The read-out keeps the alpha of a picture whose alpha bytes count.
    const uint32_t kind = VL_VBM_VIDEO | (extra || (argb && bitmap->alphaBytes) ? uint32_t{VL_VBM_ALPHA} : 0u);
    // The adapter copies its own picture whole; a part goes through the
    // ARGB words or through software.
    const bool whole = argb || (x == 0 && y == 0 && w == bitmap->width && h == bitmap->height);
    if (vlBitmap* copy = whole ? NewAdapterBitmap(w, h, kind, &src) : nullptr) {
      HandOutAlone(copy, outBitmap, outMask, outAlpha);
      return 0;
    }
    if (GetGfxAdapter())
      if (int32_t rc = AdapterRefused()) return rc;
  }
  // A picture whose pixels cannot be locked is read out through the
  // adapter, with the alpha it reports.
  ReadOut readOut;
  if (int32_t rc = readOut.Replace(&bitmap, &alpha)) return rc;
  if (bitmap && !(made.bitmap = NewBitmap(w, h, 0, nullptr))) return ERR_BITMAP;
  if (mask && outMask) {
    if (!(made.mask = NewMaskPlane(made.bitmap, w, h, 0, nullptr, 0))) return ERR_ALLOCMASK;
    CopyMaskRegion(mask, x, y, made.mask, 0, 0, w, h, 2, nullptr, 0);
  }
  if (alpha && outAlpha) {
    if (!(made.alpha = NewAlphaPlane(w, h, 0, nullptr, 0))) return ERR_ALLOCALPHA;
    CopyAlphaRect(alpha, x, y, made.alpha, 0, 0, w, h, 0, 0);
  }
  if (made.bitmap) BltBitmap(bitmap, x, y, made.bitmap, 0, 0, w, h);
  made.HandOut(outBitmap, outMask, outAlpha);
  return 0;
}

int32_t ReadBitmapRectARGB(vlBitmap* bitmap, int32_t x, int32_t y, int32_t w, int32_t h, uintptr_t* outExtra,
                           uint32_t** outBuffer) {
  if (w <= 0 || h <= 0) return ERR_MEM;
  std::unique_ptr<uint32_t[]> buf(new (std::nothrow) uint32_t[static_cast<size_t>(w) * h]());
  if (!buf) return ERR_MEM;
  // Rows of 32-bit pixels from (x, y) on; other formats stay as allocated.
  auto convert = [&](const uint8_t* at, intptr_t rowBytes, int32_t format) {
    if (format < 10 || format > 13) return;
    for (int32_t j = 0; j < h; ++j) {
      const uint8_t* p = at + j * rowBytes;
      for (int32_t i = 0; i < w; ++i) {
        uint32_t v;
        std::memcpy(&v, p + 4 * i, 4);
        buf[static_cast<size_t>(j) * w + i] = Pixel32ToARGB(v, format, 1);
      }
    }
  };
  if (IsVideoBitmap(bitmap)) {
    // Its pixels cannot be locked: the adapter hands them out for reading.
    if (x < 0 || y < 0 || w > bitmap->width - x || h > bitmap->height - y) return ERR_LOCKBMAP;
    vlVideoPixels rec{};
    void* pixels = ReadAdapterPixels(bitmap, &rec);
    if (!pixels) return ERR_READVIDEOPIXELS;
    if (rec.rowBytes >= 4 * static_cast<intptr_t>(x + w))
      convert(static_cast<const uint8_t*>(pixels) + static_cast<intptr_t>(y) * rec.rowBytes + 4 * x, rec.rowBytes,
              rec.format);
    FreeAdapterPixels(pixels);
  } else {
    Lock lock(bitmap, VL_LOCK_READ);
    if (!lock.ok()) return ERR_LOCKBMAP;
    const vlPixelAccess& a = lock.access;
    if (x < 0 || y < 0 || w > a.width - x || h > a.height - y) return ERR_LOCKBMAP;
    convert(lock.At(x, y), static_cast<intptr_t>(a.rowLength) * a.bytesPerPixel, a.format);
  }
  if (outExtra) *outExtra = bitmap->secondHandle;
  if (outBuffer) *outBuffer = buf.release();
  return 0;
}

int32_t ScaleBitmap(vlBitmap* source, vlBitmap* mask, vlBitmap* alpha, int32_t x, int32_t y, vlBitmap* target,
                    int32_t sw, int32_t sh, int32_t tw, int32_t th, int32_t smooth, uintptr_t adapterWord,
                    vlBitmap** outBitmap, vlBitmap** outMask, vlBitmap** outAlpha) {
  if (tw < 1 || th < 1) return 0;
  if (sw < 1 || sh < 1) return 0;
  // The adapter scales a picture it holds, whole, into a new one.
  if (source && !target && source->driverOwned && x == 0 && y == 0 && sw == source->width &&
      sh == source->height && GetAdapterBitmapCaps(VL_ADAPTERCAP_SCALE)) {
    if (vlBitmap* b = AdapterResult(source, tw, th, sw, sh, smooth, nullptr, adapterWord)) {
      HandOutAlone(b, outBitmap, outMask, outAlpha);
      return 0;
    }
    if (int32_t rc = AdapterRefused()) return rc;
  }
  ReadOut readOut;
  if (!target)
    if (int32_t rc = readOut.Replace(&source, &alpha)) return rc;
  Made made;
  vlBitmap* dst = target;
  if (!target) {
    if (source && !(made.bitmap = dst = NewBitmap(tw, th, 0, nullptr))) return ERR_BITMAP;
    if (mask && !(made.mask = NewMaskPlane(made.bitmap, tw, th, 1, nullptr, 0))) return ERR_ALLOCMASK;
    if (alpha && !(made.alpha = NewAlphaPlane(tw, th, 1, nullptr, 0))) return ERR_ALLOCALPHA;
  }
  // After the pictures: the tables are kept for the next scale, so a size
  // no picture can have must not make them that large first.
  if (int32_t rc = EnsureScaleTables(tw, th, &gTables.xCap, &gTables.yCap, &gTables.xFrac, &gTables.xStep,
                                     &gTables.yFrac, &gTables.yStep))
    return rc;
  vlScaleJob j{};
  j.x = x;
  j.y = y;
  j.srcWidth = sw;
  j.srcHeight = sh;
  j.dstWidth = tw;
  j.dstHeight = th;
  j.smooth = smooth;
  j.xFraction = gTables.xFrac;
  j.yFraction = gTables.yFrac;
  j.xStep = gTables.xStep;
  j.yStep = gTables.yStep;
  Lock s(source, VL_LOCK_READ), d(dst, 0), sm(made.mask ? mask : nullptr, VL_LOCK_READ), dm(made.mask, 0),
      sa(made.alpha ? alpha : nullptr, VL_LOCK_READ), da(made.alpha, 0);
  if ((source && (!s.ok() || !d.ok())) || (made.mask && (!sm.ok() || !dm.ok())) ||
      (made.alpha && (!sa.ok() || !da.ok())))
    return ERR_LOCKBMAP;
  if (source) {
    if (s.access.bytesPerPixel != d.access.bytesPerPixel || x < 0 || y < 0 || sw > s.access.width - x ||
        sh > s.access.height - y)
      return ERR_BITMAP;
    j.srcPixels = s.At(x, y);
    j.dstPixels = d.access.pixels;
    j.srcRowLength = s.access.rowLength;
    j.dstRowLength = d.access.rowLength;
    j.format = d.access.format;
    j.bytesPerPixel = d.access.bytesPerPixel;
  }
  if (made.mask) {
    j.srcMask = sm.access.pixels + static_cast<intptr_t>(y) * sm.access.rowLength;
    j.srcMaskRowBytes = sm.access.rowLength;
    j.dstMask = dm.access.pixels;
    j.dstMaskRowBytes = dm.access.rowLength;
  }
  if (made.alpha) {
    j.srcAlpha = sa.access.pixels + static_cast<intptr_t>(y) * sa.access.rowLength + x;
    j.srcAlphaRowBytes = sa.access.rowLength;
    j.dstAlpha = da.access.pixels;
    j.dstAlphaRowBytes = da.access.rowLength;
  }
  ScalePixels(j);
  if (!target) made.HandOut(outBitmap, outMask, outAlpha);
  return 0;
}

void GetTransformedBounds(const double* m, int32_t w, int32_t h, int32_t* outW, int32_t* outH, double* outX,
                          double* outY) {
  const double cx[4] = {0, static_cast<double>(w), 0, static_cast<double>(w)};
  const double cy[4] = {0, 0, static_cast<double>(h), static_cast<double>(h)};
  double minX = HUGE_VAL, maxX = -HUGE_VAL, minY = HUGE_VAL, maxY = -HUGE_VAL;
  for (int i = 0; i < 4; ++i) {
    const double X = std::trunc(cx[i] + 0.5), Y = std::trunc(cy[i] + 0.5);
    const double px = X * m[0] + Y * m[2], py = X * m[1] + Y * m[3];
    minX = std::fmin(minX, px);
    maxX = std::fmax(maxX, px);
    minY = std::fmin(minY, py);
    maxY = std::fmax(maxY, py);
  }
  // Sizes beyond any picture saturate (and NaN gives 0), for the callers to refuse.
  auto size = [](double v) { return !(v > 0) ? 0 : v >= 2147483647.0 ? INT32_MAX : static_cast<int32_t>(v); };
  if (outW) *outW = size(std::ceil(maxX - minX - 0.5));
  if (outH) *outH = size(std::ceil(maxY - minY - 0.5));
  if (outX) *outX = minX;
  if (outY) *outY = minY;
}

int32_t TransformBitmap(vlBitmap* source, vlBitmap* mask, vlBitmap* alpha, int32_t x, int32_t y, int32_t w,
                        int32_t h, const double* m, int32_t smooth, uintptr_t adapterWord, vlBitmap** outBitmap,
                        vlBitmap** outMask, vlBitmap** outAlpha, int32_t* outW, int32_t* outH) {
  int32_t tw, th;
  double ox, oy;
  GetTransformedBounds(m, w, h, &tw, &th, &ox, &oy);
  if (tw < 1) tw = 1;
  if (th < 1) th = 1;
  if (static_cast<double>(tw) * th > double{1 << 28}) return ERR_BITMAP;  // no such picture can be held
  // The adapter transforms a picture it holds, whole, into a new one: the
  // only result, without planes.
  if (source && source->driverOwned && x == 0 && y == 0 && w == source->width && h == source->height &&
      GetAdapterBitmapCaps(VL_ADAPTERCAP_TRANSFORM)) {
    if (vlBitmap* b = AdapterResult(source, tw, th, w, h, smooth, m, adapterWord)) {
      HandOutAlone(b, outBitmap, outMask, outAlpha);
      if (outW) *outW = tw;
      if (outH) *outH = th;
      return 0;
    }
    if (int32_t rc = AdapterRefused()) return rc;
  }
  ReadOut readOut;
  if (int32_t rc = readOut.Replace(&source, &alpha)) return rc;
  Made made;
  if (source && !(made.bitmap = NewBitmap(tw, th, 0, nullptr))) return ERR_BITMAP;
  if (alpha) {
    if (!(made.alpha = NewAlphaPlane(tw, th, 1, nullptr, 0))) return ERR_ALLOCALPHA;
  } else if (!(made.mask = NewMaskPlane(made.bitmap, tw, th, 1, nullptr, 0))) {
    return ERR_ALLOCMASK;
  }
  {
    Lock s(source, VL_LOCK_READ), d(made.bitmap, 0), sm(mask, VL_LOCK_READ), dm(made.mask, 0),
        sa(alpha, VL_LOCK_READ), da(made.alpha, 0);
    if ((source && (!s.ok() || !d.ok())) || (mask && !sm.ok()) || (made.mask && !dm.ok()) ||
        (alpha && !sa.ok()) || (made.alpha && !da.ok()))
      return ERR_LOCKBMAP;
    vlAffineJob j;
    j.sourceWidth = w;
    j.sourceHeight = h;
    j.targetWidth = tw;
    j.targetHeight = th;
    j.sx = m[0];
    j.rx = m[1];
    j.ry = m[2];
    j.sy = m[3];
    j.tx = -ox;
    j.ty = -oy;
    j.smooth = smooth;
    if (mask) {
      j.sourceMask = sm.access.pixels + static_cast<intptr_t>(y) * sm.access.rowLength;
      j.sourceMaskRowBytes = sm.access.rowLength;
      j.sourceMaskBit = x;
    }
    if (alpha) {
      j.sourceAlpha = sa.access.pixels + static_cast<intptr_t>(y) * sa.access.rowLength + x;
      j.sourceAlphaRowBytes = sa.access.rowLength;
    }
    if (made.mask) {
      j.targetMask = dm.access.pixels;
      j.targetMaskRowBytes = dm.access.rowLength;
    }
    if (made.alpha) {
      j.targetAlpha = da.access.pixels;
      j.targetAlphaRowBytes = da.access.rowLength;
    }
    if (source) {
      if (s.access.bytesPerPixel != d.access.bytesPerPixel || x < 0 || y < 0 || w > s.access.width - x ||
          h > s.access.height - y)
        return ERR_BITMAP;
      j.source = s.At(x, y);
      j.sourceRow = s.access.rowLength;
      j.target = d.access.pixels;
      j.targetRow = d.access.rowLength;
      j.bytesPerPixel = d.access.bytesPerPixel;
      j.format = d.access.format;
    }
    // Without a source picture the planes alone are turned.
    AffineRenderPix(j);
  }
  made.HandOut(outBitmap, outMask, outAlpha);
  if (outW) *outW = tw;
  if (outH) *outH = th;
  return 0;
}

int32_t DistortBitmap(vlBitmap* source, vlBitmap* mask, vlBitmap* alpha, int32_t w, int32_t h, int32_t method,
                      int32_t count, const double* args, int32_t flag, vlBitmap** outBitmap, vlBitmap** outMask,
                      vlBitmap** outAlpha, int32_t* outW, int32_t* outH) {
  vlDistortSetup setup;
  setup.method = method;
  setup.count = count;
  setup.args = args;
  setup.width = w;
  setup.height = h;
  if (int32_t rc = DistortSetup(setup)) return rc;
  const int32_t tw = setup.outWidth, th = setup.outHeight;
  Made made;
  if (!(made.bitmap = NewBitmap(tw, th, 0, nullptr))) return ERR_BITMAP;
  if (mask || (!alpha && !flag)) {
    if (!(made.mask = NewMaskPlane(made.bitmap, tw, th, 1, nullptr, 0))) return ERR_ALLOCMASK;
  } else if (!(made.alpha = NewAlphaPlane(tw, th, 1, nullptr, 0))) {
    return ERR_ALLOCALPHA;
  }
  {
    Lock s(source, VL_LOCK_READ), d(made.bitmap, 0), sm(mask, VL_LOCK_READ), dm(made.mask, 0),
        sa(alpha, VL_LOCK_READ), da(made.alpha, 0);
    if (!s.ok() || !d.ok() || (mask && !sm.ok()) || (made.mask && !dm.ok()) || (alpha && !sa.ok()) ||
        (made.alpha && !da.ok()))
      return ERR_LOCKBMAP;
    if (s.access.bytesPerPixel != d.access.bytesPerPixel || w > s.access.width || h > s.access.height)
      return ERR_BITMAP;
    vlDistortRender j;
    j.method = method;
    j.coeffs = &setup.coeffs;
    j.width = w;
    j.height = h;
    j.outWidth = tw;
    j.outHeight = th;
    j.x0 = setup.x0;
    j.y0 = setup.y0;
    j.resample = flag;
    j.source = s.access.pixels;
    j.sourceRow = s.access.rowLength;
    j.bytesPerPixel = d.access.bytesPerPixel;
    j.format = d.access.format;
    j.target = d.access.pixels;
    j.targetRow = d.access.rowLength;
    if (mask) {
      j.sourceMask = sm.access.pixels;
      j.sourceMaskRowBytes = sm.access.rowLength;
    }
    if (alpha) {
      j.sourceAlpha = sa.access.pixels;
      j.sourceAlphaRowBytes = sa.access.rowLength;
    }
    if (made.mask) {
      j.targetMask = dm.access.pixels;
      j.targetMaskRowBytes = dm.access.rowLength;
    }
    if (made.alpha) {
      j.targetAlpha = da.access.pixels;
      j.targetAlphaRowBytes = da.access.rowLength;
    }
    if (int32_t rc = DistortRender(j)) return rc;
  }
  made.HandOut(outBitmap, outMask, outAlpha);
  if (outW) *outW = tw;
  if (outH) *outH = th;
  return 0;
}

vlBitmap* MaskFromColorKey(vlBitmap* bitmap, int32_t w, int32_t h, uint32_t color) {
  Lock s(bitmap, VL_LOCK_READ);
  if (!s.ok()) return nullptr;
  vlBitmap* mask = NewMaskPlane(bitmap, w, h, 1, nullptr, 0);
  if (!mask) return nullptr;
  vlPixelAccess m;
  if (!LockPixels(mask, 0, &m)) {
    DeleteMaskPlane(mask);
    return nullptr;
  }
  const vlPixelAccess& a = s.access;
  if (w > a.width) w = a.width;
  if (h > a.height) h = a.height;
  const uint32_t key = ColorToPixel(color, a.format, 0);
  if (a.bytesPerPixel == 2) MaskFromKeyPix16(a.pixels, m.pixels, w, h, m.rowLength, key, a.rowLength);
  else if (a.bytesPerPixel == 4)
    MaskFromKeyPix32(a.pixels, m.pixels, w, h, m.rowLength, key, a.rowLength, ColorCompareMask(a.format));
  UnlockPixels(mask, &m);
  return mask;
}
