// In-place effect engines: lock, fill the kernel's record, run the kernel
// for the locked pixel size, unlock. Compound effects lock once and hand
// their access to the engines they chain. Depends on the bitmaps, the
// blits, the effect, warp and image kernels and the quantizer.
#include "graphics/effect_engines.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "graphics/channel_access.h"
#include "graphics/effect_kernels.h"
#include "graphics/image_kernels.h"
#include "graphics/picture_engines.h"
#include "graphics/quantize.h"
#include "graphics/warp_kernels.h"
#include "vm/convert.h"
#include "vm/error_codes.h"

namespace {

// The caller's access, or a lock of our own released at the end.
class Pixels {
 public:
  Pixels(vlBitmap* b, const vlPixelAccess* given, uint32_t flags = 0) : bitmap_(b) {
    if (given) {
      a_ = *given;
    } else if (b && LockPixels(b, flags, &a_)) {
      owned_ = true;
    }
  }
  ~Pixels() {
    if (owned_) UnlockPixels(bitmap_, &a_);
  }
  bool ok() const { return a_.locked != 0; }
  const vlPixelAccess& access() const { return a_; }
  int bpp() const { return a_.bytesPerPixel; }
  // The width and height cut to the locked picture.
  void Fit(int32_t& w, int32_t& h) const {
    w = std::max(0, std::min(w, a_.width));
    h = std::max(0, std::min(h, a_.height));
  }

 private:
  vlBitmap* bitmap_;
  vlPixelAccess a_{};
  bool owned_ = false;
};

// A plane's bytes and row bytes (null when there is no plane).
struct Plane {
  vlBitmap* plane;
  vlPixelAccess a{};
  explicit Plane(vlBitmap* p) : plane(p) {
    if (p) LockPixels(p, 0, &a);
  }
  ~Plane() {
    if (a.locked) UnlockPixels(plane, &a);
  }
  uint8_t* bytes() const { return a.locked ? a.pixels : nullptr; }
  int32_t rowBytes() const { return a.rowLength; }
};

}  // namespace

int32_t OilPaintBitmap(vlBitmap* bitmap, int32_t w, int32_t h, double radius) {
  if (radius < 0) radius = 0;
  Pixels p(bitmap, nullptr);
  if (!p.ok()) return ERR_LOCKBMAP;
  p.Fit(w, h);
  const vlOilPaintJob job{p.access().pixels, w, h, p.access().rowLength, p.access().format, radius};
  if (p.bpp() == 2) OilPaintPix16(job);
  else if (p.bpp() == 4) OilPaintPix32(job);
  return 0;
}

int32_t WaterRippleBitmap(vlBitmap* bitmap, vlBitmap* mask, vlBitmap* alpha, int32_t w, int32_t h,
                          double waveLength, double amplitude, double phase, double centerX, double centerY) {
  if (!(waveLength >= 1)) waveLength = 1;
  centerX = std::clamp(std::isnan(centerX) ? 0.0 : centerX, 0.0, 1.0);
  centerY = std::clamp(std::isnan(centerY) ? 0.0 : centerY, 0.0, 1.0);
  if (w <= 0 || h <= 0) return 0;
  const int32_t cx = vl::DoubleToInt32(centerX * w), cy = vl::DoubleToInt32(centerY * h);
  std::unique_ptr<int32_t[]> dist(new (std::nothrow) int32_t[static_cast<size_t>(w) * h]);
  std::unique_ptr<double[]> sines(new (std::nothrow) double[kVlWarpTableSize]);
  if (!dist || !sines) return ERR_MEM;
  BuildRippleTable(sines.get(), dist.get(), w, h, cx, cy);
  Pixels p(bitmap, nullptr);
  if (!p.ok()) return ERR_LOCKBMAP;
  int32_t fw = w, fh = h;
  p.Fit(fw, fh);
  if (fw != w || fh != h) return 0;  // the tables are the picture's size
  Plane m(mask), a(alpha);
  vlRippleJob j;
  j.target = p.access().pixels;
  j.targetRow = p.access().rowLength;
  j.distances = dist.get();
  j.sines = sines.get();
  j.waveLength = waveLength;
  j.amplitude = amplitude;
  j.width = w;
  j.height = h;
  j.format = p.access().format;
  j.targetAlpha = a.bytes();
  j.targetAlphaRowBytes = a.rowBytes();
  j.targetMask = m.bytes();
  j.targetMaskRowBytes = m.rowBytes();
  j.centerX = cx;
  j.centerY = cy;
  j.radius = std::max(cx, cy);
  j.phase = phase;
  if (p.bpp() == 2) WaterRipplePix16(j, -1);
  else if (p.bpp() == 4) WaterRipplePix32(j, -1);
  return 0;
}

int32_t SwirlBitmap(vlBitmap* bitmap, vlBitmap* mask, vlBitmap* alpha, int32_t w, int32_t h, int32_t degrees) {
  degrees = std::clamp(degrees, -359, 359);
  std::unique_ptr<double[]> sines(new (std::nothrow) double[kVlWarpTableSize]);
  std::unique_ptr<double[]> cosines(new (std::nothrow) double[kVlWarpTableSize]);
  if (!sines || !cosines) return ERR_MEM;
  BuildSwirlTables(sines.get(), cosines.get());
  Pixels p(bitmap, nullptr);
  if (!p.ok()) return ERR_LOCKBMAP;
  p.Fit(w, h);
  Plane m(mask), a(alpha);
  vlSwirlJob j;
  j.target = p.access().pixels;
  j.targetRow = p.access().rowLength;
  j.sines = sines.get();
  j.cosines = cosines.get();
  j.format = p.access().format;
  j.width = w;
  j.height = h;
  j.targetAlpha = a.bytes();
  j.targetAlphaRowBytes = a.rowBytes();
  j.targetMask = m.bytes();
  j.targetMaskRowBytes = m.rowBytes();
  if (p.bpp() == 2) SwirlPix16(j, degrees);
  else if (p.bpp() == 4) SwirlPix32(j, degrees);
  return 0;
}

int32_t StretchContrastBitmap(vlBitmap* bitmap, int32_t w, int32_t h, int32_t black, int32_t white,
                              const vlPixelAccess* access) {
  Pixels p(bitmap, access);
  if (!p.ok()) return ERR_LOCKBMAP;
  p.Fit(w, h);
  const vlStretchJob job{p.access().pixels, w, h, p.access().rowLength, black, white, p.access().format, p.bpp()};
  ContrastStretchPix(job);
  return 0;
}

int32_t NormalizeBitmap(vlBitmap* bitmap, int32_t w, int32_t h, const vlPixelAccess* access) {
  const double n = static_cast<double>(w) * h;
  return StretchContrastBitmap(bitmap, w, h, vl::DoubleToInt32(n * 0.02), vl::DoubleToInt32(n * 0.99), access);
}

int32_t ModulateBitmap(vlBitmap* bitmap, int32_t w, int32_t h, double bri, double sat, double hue) {
  if (bri == 1.0 && sat == 1.0 && hue == 1.0) return 0;
  // To the nearest whole percent: 0.29 is 29 %, not the 28 its binary
  // product with 100 truncates to.
  auto percent = [](double f) { return vl::DoubleToInt32Saturated((f < 0 ? 0 : f) * 100 + 0.5); };
  Pixels p(bitmap, nullptr);
  if (!p.ok()) return ERR_LOCKBMAP;
  p.Fit(w, h);
  const vlModulateJob job{p.access().pixels, w, h, p.access().rowLength, p.access().format,
                          percent(bri), percent(sat), percent(hue)};
  if (p.bpp() == 2) ModulatePix16(job);
  else if (p.bpp() == 4) ModulatePix32(job);
  return 0;
}

int32_t ContrastBitmap(vlBitmap* bitmap, int32_t w, int32_t h, int32_t sharpen, int32_t count,
                       const vlPixelAccess* access) {
  if (count < 1) return 0;
  Pixels p(bitmap, access);
  if (!p.ok()) return ERR_LOCKBMAP;
  p.Fit(w, h);
  const int32_t bpp = p.bpp();
  if (bpp != 2 && bpp != 4) return 0;
  uint8_t* pixels = p.access().pixels;
  const int32_t rowLength = p.access().rowLength, format = p.access().format;
  const size_t rowBytes = static_cast<size_t>(std::max(w, 0)) * bpp;
  // A pass that changes no pixel changes none after it either: repeated
  // passes stop there, so a huge count gives the same picture without
  // running for ever.
  std::vector<uint8_t> before;
  if (count > 1 && h > 0) before.resize(rowBytes * h);
  for (int32_t i = 0; i < count; ++i) {
    for (int32_t y = 0; y < h && !before.empty(); ++y)
      std::memcpy(before.data() + rowBytes * y, vlpix::PixelAt(pixels, rowLength, bpp, 0, y), rowBytes);
    if (bpp == 2) ContrastPix16(pixels, w, h, rowLength, format, sharpen ? 1 : -1);
    else ContrastPix32(pixels, w, h, rowLength, format, sharpen ? 1 : -1);
    if (before.empty()) continue;
    bool changed = false;
    for (int32_t y = 0; y < h && !changed; ++y)
      changed = std::memcmp(before.data() + rowBytes * y, vlpix::PixelAt(pixels, rowLength, bpp, 0, y), rowBytes) != 0;
    if (!changed) break;
  }
  return 0;
}

int32_t SepiaToneBitmap(vlBitmap* bitmap, int32_t w, int32_t h, int32_t threshold) {
  threshold = std::clamp(threshold, 0, 255);
  Pixels p(bitmap, nullptr);
  if (!p.ok()) return ERR_LOCKBMAP;
  p.Fit(w, h);
  if (p.bpp() == 2) SepiaPix16(p.access().pixels, w, h, p.access().rowLength, p.access().format, threshold);
  else if (p.bpp() == 4) SepiaPix32(p.access().pixels, w, h, p.access().rowLength, p.access().format, threshold);
  NormalizeBitmap(bitmap, w, h, &p.access());
  return ContrastBitmap(bitmap, w, h, 1, 1, &p.access());
}

int32_t GammaBitmap(vlBitmap* bitmap, int32_t w, int32_t h, double red, double green, double blue) {
  red = red < 0 ? 0 : red;
  green = green < 0 ? 0 : green;
  blue = blue < 0 ? 0 : blue;
  uint8_t tr[256], tg[256], tb[256];
  vlGammaJob job{nullptr, w, h, 0, 0, tr, tg, tb, 0};
  if (red != 1.0) {
    BuildGammaTable(tr, red);
    job.flags |= 1;
  }
  if (green != 1.0) {
    job.flags |= 2;
    if (green == red) job.green = tr;
    else BuildGammaTable(tg, green);
  }
  if (blue != 1.0) {
    job.flags |= 4;
    if (blue == red) job.blue = tr;
    else if (blue == green) job.blue = job.green;
    else BuildGammaTable(tb, blue);
  }
  if (!job.flags) return 0;
  Pixels p(bitmap, nullptr);
  if (!p.ok()) return ERR_LOCKBMAP;
  p.Fit(job.width, job.height);
  job.pixels = p.access().pixels;
  job.rowLength = p.access().rowLength;
  job.format = p.access().format;
  if (p.bpp() == 2) GammaPix16(job);
  else if (p.bpp() == 4) GammaPix32(job);
  return 0;
}

int32_t SolarizeBitmap(vlBitmap* bitmap, int32_t w, int32_t h, int32_t threshold) {
  threshold = std::clamp(threshold, 0, 255);
  Pixels p(bitmap, nullptr);
  if (!p.ok()) return ERR_LOCKBMAP;
  p.Fit(w, h);
  if (p.bpp() == 2) SolarizePix16(p.access().pixels, w, h, p.access().rowLength, p.access().format, threshold);
  else if (p.bpp() == 4) SolarizePix32(p.access().pixels, w, h, p.access().rowLength, p.access().format, threshold);
  return 0;
}

int32_t ConvolveBitmap(uint32_t op, vlBitmap* bitmap, vlBitmap* alpha, int32_t w, int32_t h, double radius,
                       double sigma, const vlPixelAccess* access) {
  if (!(radius > 0)) radius = 0;
  if (radius == 0) sigma = 1.0;
  vlConvolveJob job;
  std::unique_ptr<Pixels> p;
  if (bitmap) {
    p = std::make_unique<Pixels>(bitmap, access);
    if (!p->ok()) return ERR_LOCKBMAP;
    p->Fit(w, h);
    job.pixels = p->access().pixels;
    job.rowLength = p->access().rowLength;
    job.format = p->access().format;
    job.bytesPerPixel = p->bpp();
  }
  Plane a(alpha);
  if (a.bytes()) {
    w = std::min(w, a.a.width);
    h = std::min(h, a.a.height);
  }
  job.width = w;
  job.height = h;
  job.alpha = a.bytes();
  job.alphaRowBytes = a.rowBytes();
  job.radius = radius;
  job.sigma = sigma;
  job.op = op;
  ConvolvePix(job);
  return 0;
}

vlBitmap* MakeShadowAlpha(vlBitmap* alpha, vlBitmap* mask, int32_t x, int32_t y, int32_t w, int32_t h,
                          double radius, double sigma, int32_t fill, int32_t binarise, int32_t secondPass) {
  // Shadows wider than this cost far more than they show.
  if (!(radius < 64)) radius = std::isnan(radius) ? 0 : 64;
  const int32_t r = std::max(vl::DoubleToInt32(radius), 0);
  if (w <= 0 || h <= 0) return nullptr;
  vlBitmap* plane = NewAlphaPlane(w + 2 * r, h + 2 * r, 1, nullptr, 0);
  if (!plane) return nullptr;
  const uint8_t v = static_cast<uint8_t>(std::clamp(fill, 0, 255));
  if (alpha) CopyAlphaRect(alpha, x, y, plane, r, r, w, h, 6, v);
  else if (mask) MaskToAlphaBytes(mask, x, y, plane, r, r, w, h, v);
  else FillAlphaRect(plane, r, r, w, h, v);
  ConvolveBitmap('b', nullptr, plane, w + 2 * r, h + 2 * r, radius, sigma, nullptr);
  Plane a(plane);
  if (binarise && a.bytes())
    for (intptr_t i = 0, n = static_cast<intptr_t>(a.rowBytes()) * (h + 2 * r); i < n; ++i)
      if (a.bytes()[i]) a.bytes()[i] = 255;
  if (secondPass && alpha) ConvolveBitmap('b', nullptr, plane, w + 2 * r, h + 2 * r, radius / 2, radius / 6, nullptr);
  return plane;
}

int32_t PixelateBitmap(vlBitmap* bitmap, vlBitmap* mask, vlBitmap* alpha, int32_t w, int32_t h, int32_t block) {
  if (block < 2 || w <= 0 || h <= 0) return 0;
  vlBitmap *copy = nullptr, *copyMask = nullptr, *copyAlpha = nullptr;
  if (int32_t rc = CopyBitmapRegion(bitmap, mask, alpha, 0, 0, w, h, 0, 0, 0, &copy, &copyMask, &copyAlpha))
    return rc;
  int32_t rc = 0;
  {
    Pixels d(bitmap, nullptr), s(copy, nullptr, VL_LOCK_READ);
    Plane sm(copyMask), dm(mask), sa(copyAlpha), da(alpha);
    if (!d.ok() || !s.ok()) {
      rc = ERR_LOCKBMAP;
    } else {
      d.Fit(w, h);
      vlPixelateJob j{s.access().pixels, d.access().pixels, sm.bytes(), dm.bytes(), sa.bytes(), da.bytes(),
                      s.access().rowLength, d.access().rowLength, sm.rowBytes(), dm.rowBytes(), sa.rowBytes(),
                      da.rowBytes(), w, h, std::min({w, h, block})};
      if (d.bpp() == 2) PixelatePix16(j);
      else if (d.bpp() == 4) PixelatePix32(j);
    }
  }
  if (copyMask) DeleteMaskPlane(copyMask);
  if (copyAlpha) DeleteAlphaPlane(copyAlpha);
  DeleteBitmap(copy);
  return rc;
}

int32_t InvertBitmapColors(vlBitmap* bitmap, int32_t w, int32_t h, const vlPixelAccess* access) {
  Pixels p(bitmap, access);
  if (!p.ok()) return ERR_LOCKBMAP;
  p.Fit(w, h);
  if (p.bpp() == 2) InvertPix16(p.access().pixels, w, h, p.access().rowLength);
  else if (p.bpp() == 4) InvertPix32(p.access().pixels, w, h, p.access().rowLength);
  return 0;
}

int32_t FlipBitmap(vlBitmap* bitmap, vlBitmap* mask, vlBitmap* alpha, int32_t w, int32_t h, int32_t mirror) {
  Pixels p(bitmap, nullptr);
  if (!p.ok()) return ERR_LOCKBMAP;
  p.Fit(w, h);
  Plane m(mask), a(alpha);
  std::vector<uint8_t> scratch;
  if (mirror && m.bytes()) {
    try {
      scratch.resize(static_cast<size_t>(m.rowBytes()));
    } catch (const std::bad_alloc&) {
      return ERR_MEM;
    }
  }
  const vlFlipJob job{p.bpp() == 2 || p.bpp() == 4 ? p.access().pixels : nullptr, w, h, p.access().rowLength,
                      m.bytes(), m.rowBytes(), a.bytes(), a.rowBytes(), mirror, p.bpp(),
                      scratch.empty() ? nullptr : scratch.data()};
  FlipPixels(job);
  return 0;
}

int32_t GrayBitmap(vlBitmap* bitmap, int32_t w, int32_t h, int32_t twoLevel, const vlPixelAccess* access) {
  Pixels p(bitmap, access);
  if (!p.ok()) return ERR_LOCKBMAP;
  p.Fit(w, h);
  if (p.bpp() == 2) GrayPix16(p.access().pixels, w, h, p.access().format, p.access().rowLength, twoLevel);
  else if (p.bpp() == 4) GrayPix32(p.access().pixels, w, h, p.access().format, p.access().rowLength, twoLevel);
  return 0;
}

int32_t MonochromeBitmap(vlBitmap* bitmap, int32_t w, int32_t h, int32_t dither) {
  if (!dither) return GrayBitmap(bitmap, w, h, 1, nullptr);
  if (w <= 0 || h <= 0) return 0;
  std::unique_ptr<uint8_t[]> index(new (std::nothrow) uint8_t[static_cast<size_t>(w) * h]);
  if (!index) return ERR_MEM;
  Pixels p(bitmap, nullptr);
  if (!p.ok()) return ERR_LOCKBMAP;
  int32_t fw = w, fh = h;
  p.Fit(fw, fh);
  if (p.bpp() != 2 && p.bpp() != 4) return 0;
  uint32_t palette[256];
  int32_t colors = 2;
  if (!ReduceColors(p.access().pixels, p.access().format, p.bpp(), fw, fh, p.access().rowLength, index.get(), palette,
                    &colors, -1, 0, 1, nullptr))
    return ERR_MEM;
  if (p.bpp() == 2) MonoPix16(p.access().pixels, fw, fh, p.access().format, p.access().rowLength, index.get());
  else MonoPix32(p.access().pixels, fw, fh, p.access().format, p.access().rowLength, index.get());
  return 0;
}

int32_t CharcoalBitmap(vlBitmap* bitmap, vlBitmap* alpha, int32_t w, int32_t h, double radius, double sigma) {
  (void)alpha;  // the chain works on the colours alone
  if (!(radius > 0)) radius = 0;
  Pixels p(bitmap, nullptr);
  if (!p.ok()) return ERR_LOCKBMAP;
  const vlPixelAccess* a = &p.access();
  GrayBitmap(bitmap, w, h, 0, a);
  ConvolveBitmap('g', bitmap, nullptr, w, h, radius, 0.0, a);
  ConvolveBitmap('b', bitmap, nullptr, w, h, radius, sigma, a);
  NormalizeBitmap(bitmap, w, h, a);
  InvertBitmapColors(bitmap, w, h, a);
  return GrayBitmap(bitmap, w, h, 0, a);
}

int32_t MixBitmaps(vlBitmap* target, vlBitmap* source, vlBitmap* sourceMask, int32_t tx, int32_t ty, int32_t sx,
                   int32_t sy, int32_t w, int32_t h, int32_t ratio, vlBitmap* alpha, int32_t alphaWidth,
                   int32_t alphaHeight) {
  if (w <= 0 || h <= 0) return 0;
  if (alpha) {
    vlBitmap* scaled = NewAlphaPlane(alphaWidth, alphaHeight, 0, nullptr, 0);
    if (!scaled) return ERR_ALLOCALPHA;
    ScaleAlphaPlane(alpha, scaled, std::clamp(ratio, 0, 255));
    BltBitmapAlpha(source, sx, sy, target, tx, ty, w, h, scaled);
    DeleteAlphaPlane(scaled);
    return 0;
  }
  Pixels d(target, nullptr), s(source, nullptr, VL_LOCK_READ);
  if (!d.ok() || !s.ok()) return ERR_LOCKBMAP;
  const vlPixelAccess &da = d.access(), &sa = s.access();
  if (da.bytesPerPixel != sa.bytesPerPixel || tx < 0 || ty < 0 || sx < 0 || sy < 0 || w > da.width - tx ||
      h > da.height - ty || w > sa.width - sx || h > sa.height - sy)
    return 0;
  Plane m(sourceMask);
  const vlMixJob job{sa.pixels + (static_cast<intptr_t>(sy) * sa.rowLength + sx) * sa.bytesPerPixel,
                     da.pixels + (static_cast<intptr_t>(ty) * da.rowLength + tx) * da.bytesPerPixel,
                     m.bytes() ? m.bytes() + static_cast<intptr_t>(sy) * m.rowBytes() : nullptr, sx};
  const int32_t r = std::clamp(ratio, 0, 255);
  if (da.bytesPerPixel == 2) MixPix16(job, w, h, r, da.format, sa.rowLength, da.rowLength, m.rowBytes());
  else if (da.bytesPerPixel == 4) MixPix32(job, w, h, r, da.format, sa.rowLength, da.rowLength, m.rowBytes());
  return 0;
}

int32_t TintBitmap(vlBitmap* bitmap, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t color, int32_t ratio) {
  Pixels p(bitmap, nullptr);
  if (!p.ok()) return ERR_LOCKBMAP;
  const vlPixelAccess& a = p.access();
  // Cut the rectangle to the picture.
  const int64_t x0 = std::max<int64_t>(x, 0), y0 = std::max<int64_t>(y, 0);
  const int64_t x1 = std::min<int64_t>(int64_t{x} + w, a.width), y1 = std::min<int64_t>(int64_t{y} + h, a.height);
  if (x1 > x0 && y1 > y0)
    FillPixels(a.pixels, static_cast<int32_t>(x0), static_cast<int32_t>(y0), static_cast<int32_t>(x1 - x0),
               static_cast<int32_t>(y1 - y0), color, std::clamp(ratio, 0, 255), a.rowLength, a.format);
  return 0;
}
