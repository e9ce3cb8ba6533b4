// Colour and geometry loops over locked pixels. Depends on the channel
// access helpers and the mask-bit helpers of the pixel kernels.
#include "graphics/image_kernels.h"

#include <cmath>
#include <cstring>
#include <vector>

#include "graphics/channel_access.h"
#include "graphics/fast_paths.h"
#include "graphics/pixel_kernels.h"

using namespace vlpix;

namespace {

// floor(16 * sqrt(i)): the first estimate of the square root.
struct SqrtTable {
  uint16_t v[256];
  constexpr SqrtTable() : v() {
    for (int i = 0; i < 256; ++i) {
      int s = 0;
      while ((s + 1) * (s + 1) <= i * 256) ++s;
      v[i] = static_cast<uint16_t>(s);
    }
  }
};
constexpr SqrtTable kSqrt16;

}  // namespace

int32_t IntSqrt(int32_t n) {
  if (n < 0) return -1;
  if (n < 256) return kSqrt16.v[n] >> 4;
  const uint32_t x = static_cast<uint32_t>(n);
  // The table entry of the top eight significant bits (an even shift keeps
  // the root exact up to a few units), then Newton and a final correction.
  int shift = 0;
  while ((x >> shift) >= 256) shift += 2;
  uint32_t e = (static_cast<uint32_t>(kSqrt16.v[x >> shift]) << (shift / 2)) >> 4;
  if (e == 0) e = 1;
  e = (e + x / e + 1) >> 1;
  while (uint64_t{e} * e > x) --e;
  while (uint64_t{e + 1} * (e + 1) <= x) ++e;
  return static_cast<int32_t>(e);
}

void RGBToHSL(int32_t r8, int32_t g8, int32_t b8, double* hue, double* sat, double* light) {
  const double r = r8 / 255.0, g = g8 / 255.0, b = b8 / 255.0;
  double mx = r > g ? r : g, mn = r < g ? r : g;
  if (b > mx) mx = b;
  if (b < mn) mn = b;
  const double l = (mx + mn) / 2;
  *light = l;
  if (mx == mn) {
    *hue = *sat = 0;
    return;
  }
  const double d = mx - mn;
  *sat = l <= 0.5 ? d / (mx + mn) : d / (2 - mx - mn);
  const double dr = ((mx - r) / 6 + d / 2) / d;
  const double dg = ((mx - g) / 6 + d / 2) / d;
  const double db = ((mx - b) / 6 + d / 2) / d;
  double h;
  if (r == mx) h = db - dg;
  else if (g == mx) h = 1.0 / 3 + dr - db;
  else h = 2.0 / 3 + dg - dr;
  if (h < 0) h += 1;
  if (h > 1) h -= 1;
  *hue = h;
}

namespace {

template <int B>
void Gray(uint8_t* px, int32_t w, int32_t h, int32_t f, int32_t row, int twoLevel) {
  uint32_t white;
  if constexpr (B == 4) white = pixPack32(f, 0xFFFFFF);
  else white = 0xFFFF;
  for (int32_t y = 0; y < h; ++y) {
    uint8_t* p = px + static_cast<intptr_t>(y) * row * B;
    for (int32_t x = 0; x < w; ++x, p += B) {
      const RGB c = ReadRGB<B>(f, p);
      const int32_t l = Luma(c.r, c.g, c.b);
      if (twoLevel) Store<B>(p, l > 128 ? white : 0);
      else WriteRGB<B>(f, p, {l, l, l});
    }
  }
}

template <int B>
void Invert(uint8_t* px, int32_t w, int32_t h, int32_t row) {
  for (int32_t y = 0; y < h; ++y) {
    uint8_t* p = px + static_cast<intptr_t>(y) * row * B;
    for (int32_t x = 0; x < w; ++x, p += B) Store<B>(p, ~Load<B>(p));
  }
}

template <int B>
void Mix(const vlMixJob& j, int32_t w, int32_t h, int32_t ratio, int32_t f, int32_t srcRow, int32_t dstRow,
         int32_t maskRowBytes) {
  const int32_t k = 255 - ratio;
  for (int32_t y = 0; y < h; ++y) {
    const uint8_t* s = j.source + static_cast<intptr_t>(y) * srcRow * B;
    uint8_t* d = j.target + static_cast<intptr_t>(y) * dstRow * B;
    const uint8_t* t = j.toward ? j.toward + static_cast<intptr_t>(y) * j.towardRow * B : d;
    const uint8_t* m = j.mask ? j.mask + static_cast<intptr_t>(y) * maskRowBytes : nullptr;
    for (int32_t x = 0; x < w; ++x) {
      if (m && !GetMaskBit(m, j.maskBit + x)) continue;
      const RGB a = ReadRGB<B>(f, s + x * B), b = ReadRGB<B>(f, t + x * B);
      WriteRGB<B>(f, d + x * B,
                  {BlendChannel(a.r, b.r, k) & 0xFF, BlendChannel(a.g, b.g, k) & 0xFF, BlendChannel(a.b, b.b, k) & 0xFF});
    }
  }
}

template <int B>
void MaskFromKey(const uint8_t* px, uint8_t* mask, int32_t w, int32_t h, int32_t maskRowBytes, uint32_t key,
                 int32_t row, uint32_t cmp) {
  key &= cmp;
  for (int32_t y = 0; y < h; ++y) {
    const uint8_t* p = px + static_cast<intptr_t>(y) * row * B;
    uint8_t* m = mask + static_cast<intptr_t>(y) * maskRowBytes;
    for (int32_t x = 0; x < w; ++x, p += B) SetMaskBit(m, x, (Load<B>(p) & cmp) != key);
  }
}

template <int B>
void Pixelate(const vlPixelateJob& j) {
  const int32_t n = j.block;
  if (n < 1) return;
  for (int32_t by = 0; by < j.height; by += n) {
    const int32_t bh = j.height - by < n ? j.height - by : n;
    for (int32_t bx = 0; bx < j.width; bx += n) {
      const int32_t bw = j.width - bx < n ? j.width - bx : n;
      const uint32_t v = Load<B>(j.srcPixels + (static_cast<intptr_t>(by) * j.srcRow + bx) * B);
      int paint = 1, bit = -1, alpha = -1;
      if (j.srcMask) {
        bit = GetMaskBit(j.srcMask + static_cast<intptr_t>(by) * j.srcMaskRowBytes, bx);
        paint = bit;
      } else if (j.srcAlpha) {
        alpha = j.srcAlpha[static_cast<intptr_t>(by) * j.srcAlphaRowBytes + bx];
        paint = alpha != 0;
      }
      for (int32_t y = by; y < by + bh; ++y) {
        uint8_t* d = j.dstPixels + (static_cast<intptr_t>(y) * j.dstRow + bx) * B;
        if (paint)
          for (int32_t x = 0; x < bw; ++x) Store<B>(d + x * B, v);
        if (bit >= 0 && j.dstMask)
          for (int32_t x = bx; x < bx + bw; ++x)
            SetMaskBit(j.dstMask + static_cast<intptr_t>(y) * j.dstMaskRowBytes, x, bit);
        if (alpha >= 0 && j.dstAlpha)
          std::memset(j.dstAlpha + static_cast<intptr_t>(y) * j.dstAlphaRowBytes + bx, alpha, static_cast<size_t>(bw));
      }
    }
  }
}

template <int B>
void Solarize(uint8_t* px, int32_t w, int32_t h, int32_t row, int32_t f, int32_t t) {
  MapRGB<B>(px, w, h, row, f, [t](RGB c) {
    return RGB{c.r > t ? 255 - c.r : c.r, c.g > t ? 255 - c.g : c.g, c.b > t ? 255 - c.b : c.b};
  });
}

template <int B>
void Gamma(const vlGammaJob& j) {
  MapRGB<B>(j.pixels, j.width, j.height, j.rowLength, j.format, [&j](RGB c) {
    if (j.flags & 1) c.r = j.red[c.r];
    if (j.flags & 2) c.g = j.green[c.g];
    if (j.flags & 4) c.b = j.blue[c.b];
    return c;
  });
}

template <int B>
void Sepia(uint8_t* px, int32_t w, int32_t h, int32_t row, int32_t f, int32_t t) {
  const double td = t, t76 = 7.0 * td / 6.0, t6 = td / 6.0;
  const int32_t floor7 = ClampChannel(td / 7.0);
  MapRGB<B>(px, w, h, row, f, [&](RGB c) {
    const double i = 0.299 * c.r + 0.587 * c.g + 0.114 * c.b;
    RGB o;
    o.r = ClampChannel(i > td ? 255.0 : i + 255.0 - td);
    o.g = ClampChannel(i > t76 ? 255.0 : i + 255.0 - t76);
    o.b = ClampChannel(i < t6 ? 0.0 : i - t6);
    if (o.g < floor7) o.g = floor7;
    if (o.b < floor7) o.b = floor7;
    return o;
  });
}

template <int B>
void Mono(uint8_t* px, int32_t w, int32_t h, int32_t f, int32_t row, const uint8_t* index) {
  uint32_t white;
  if constexpr (B == 4) white = (f == 10 || f == 13) ? 0x00FFFFFF : (f == 11 || f == 12) ? 0xFFFFFF00 : 0;
  else white = 0xFFFF;
  for (int32_t y = 0; y < h; ++y) {
    uint8_t* p = px + static_cast<intptr_t>(y) * row * B;
    for (int32_t x = 0; x < w; ++x, p += B) Store<B>(p, index[static_cast<intptr_t>(y) * w + x] ? white : 0);
  }
}

}  // namespace

void GrayPix32(uint8_t* p, int32_t w, int32_t h, int32_t f, int32_t row, int two) { Gray<4>(p, w, h, f, row, two); }
void GrayPix16(uint8_t* p, int32_t w, int32_t h, int32_t f, int32_t row, int two) { Gray<2>(p, w, h, f, row, two); }
void InvertPix32(uint8_t* p, int32_t w, int32_t h, int32_t row) { Invert<4>(p, w, h, row); }
void InvertPix16(uint8_t* p, int32_t w, int32_t h, int32_t row) { Invert<2>(p, w, h, row); }

void InvertPlaneBytes(uint8_t* plane, int32_t height, int32_t rowBytes) {
  for (intptr_t i = 0, n = static_cast<intptr_t>(height) * rowBytes; i < n; ++i) plane[i] = ~plane[i];
}

void MixPix32(const vlMixJob& j, int32_t w, int32_t h, int32_t ratio, int32_t f, int32_t sr, int32_t dr, int32_t mr) {
  if (w <= 0 || h <= 0) return;
  const vlMixFn fast = ratio >= 0 && ratio <= 255 ? FastMix(f, j.mask != nullptr) : nullptr;
  if (fast)
    return fast(j.source, sr, j.target, dr, w, h, ratio, j.mask, mr, j.maskBit, j.toward, j.towardRow);
  Mix<4>(j, w, h, ratio, f, sr, dr, mr);
}
void MixPix16(const vlMixJob& j, int32_t w, int32_t h, int32_t ratio, int32_t f, int32_t sr, int32_t dr, int32_t mr) {
  Mix<2>(j, w, h, ratio, f, sr, dr, mr);
}

void MaskFromKeyPix32(const uint8_t* px, uint8_t* mask, int32_t w, int32_t h, int32_t mrb, uint32_t key,
                      int32_t row, uint32_t cmp) {
  MaskFromKey<4>(px, mask, w, h, mrb, key, row, cmp);
}
void MaskFromKeyPix16(const uint8_t* px, uint8_t* mask, int32_t w, int32_t h, int32_t mrb, uint32_t key,
                      int32_t row) {
  MaskFromKey<2>(px, mask, w, h, mrb, key & 0xFFFF, row, 0xFFFF);
}

uint32_t ColorCompareMask(int32_t format) { return (format == 11 || format == 12) ? 0xFFFFFF00u : 0x00FFFFFFu; }

void FlipPixels(const vlFlipJob& j) {
  const int32_t w = j.width, h = j.height, B = j.bytesPerPixel;
  if (w <= 0 || h <= 0) return;
  if (!j.mirror) {
    std::vector<uint8_t> tmp;
    auto swapRows = [&](uint8_t* base, intptr_t stride, size_t bytes) {
      tmp.resize(bytes);
      for (int32_t i = 0; i < h / 2; ++i) {
        uint8_t* a = base + i * stride;
        uint8_t* b = base + (h - 1 - i) * stride;
        std::memcpy(tmp.data(), a, bytes);
        std::memcpy(a, b, bytes);
        std::memcpy(b, tmp.data(), bytes);
      }
    };
    if (j.pixels && (B == 2 || B == 4))
      swapRows(j.pixels, static_cast<intptr_t>(j.rowLength) * B, static_cast<size_t>(w) * B);
    if (j.mask) swapRows(j.mask, j.maskRowBytes, static_cast<size_t>(j.maskRowBytes));
    if (j.alpha) swapRows(j.alpha, j.alphaRowBytes, static_cast<size_t>(w));
    return;
  }
  for (int32_t y = 0; y < h; ++y) {
    if (j.pixels && (B == 2 || B == 4)) {
      uint8_t* row = j.pixels + static_cast<intptr_t>(y) * j.rowLength * B;
      uint8_t t[4];
      for (int32_t i = 0; i < w / 2; ++i) {
        uint8_t* a = row + i * B;
        uint8_t* b = row + (w - 1 - i) * B;
        std::memcpy(t, a, B);
        std::memcpy(a, b, B);
        std::memcpy(b, t, B);
      }
    }
    if (j.alpha) {
      uint8_t* row = j.alpha + static_cast<intptr_t>(y) * j.alphaRowBytes;
      for (int32_t i = 0; i < w / 2; ++i) std::swap(row[i], row[w - 1 - i]);
    }
    if (j.mask && j.scratchMaskRow) {
      uint8_t* row = j.mask + static_cast<intptr_t>(y) * j.maskRowBytes;
      std::memcpy(j.scratchMaskRow, row, static_cast<size_t>(j.maskRowBytes));
      for (int32_t i = 0; i < w; ++i) SetMaskBit(row, i, GetMaskBit(j.scratchMaskRow, w - 1 - i));
    }
  }
}

void PixelatePix32(const vlPixelateJob& j) { Pixelate<4>(j); }
void PixelatePix16(const vlPixelateJob& j) { Pixelate<2>(j); }

void SolarizePix32(uint8_t* p, int32_t w, int32_t h, int32_t row, int32_t f, int32_t t) { Solarize<4>(p, w, h, row, f, t); }
void SolarizePix16(uint8_t* p, int32_t w, int32_t h, int32_t row, int32_t f, int32_t t) { Solarize<2>(p, w, h, row, f, t); }

void GammaPix32(const vlGammaJob& j) { Gamma<4>(j); }
void GammaPix16(const vlGammaJob& j) { Gamma<2>(j); }

void BuildGammaTable(uint8_t* table, double gamma) {
  if (!(gamma > 0)) {  // 0 (and nonsense) gives black
    std::memset(table, 0, 256);
    return;
  }
  const double e = 1.0 / gamma;
  for (int i = 0; i < 256; ++i) {
    const double v = 255.0 * std::pow(i / 255.0, e);
    table[i] = v <= 0 ? 0 : v >= 255 ? 255 : static_cast<uint8_t>(v + 0.5);
  }
}

void SepiaPix32(uint8_t* p, int32_t w, int32_t h, int32_t row, int32_t f, int32_t t) { Sepia<4>(p, w, h, row, f, t); }
void SepiaPix16(uint8_t* p, int32_t w, int32_t h, int32_t row, int32_t f, int32_t t) { Sepia<2>(p, w, h, row, f, t); }

void MonoPix32(uint8_t* p, int32_t w, int32_t h, int32_t f, int32_t row, const uint8_t* idx) { Mono<4>(p, w, h, f, row, idx); }
void MonoPix16(uint8_t* p, int32_t w, int32_t h, int32_t f, int32_t row, const uint8_t* idx) { Mono<2>(p, w, h, f, row, idx); }
