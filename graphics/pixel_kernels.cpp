// The plain pixel kernels, one template per operation instantiated for
// each 2- and 4-byte format, so the format decision sits outside the loops.
// Depends on pixel_format.h (ColorToPixel rules).
#include "graphics/pixel_kernels.h"

#include <cstring>

#include "graphics/cover_over.h"
#include "graphics/fast_paths.h"
#include "graphics/pixel_format.h"

uint32_t pixPack32(int32_t f, uint32_t v) {
  const uint32_t r = (v >> 16) & 0xFF, g = (v >> 8) & 0xFF, b = v & 0xFF;
  switch (f) {
    case 11: return r << 8 | g << 16 | b << 24;
    case 12: return v << 8;
    case 13: return (v & 0xFF00FF00u) | b << 16 | r;
    default: return v;
  }
}

uint32_t pixUnpack32(int32_t f, uint32_t p) {
  switch (f) {
    case 11: return ((p >> 8) & 0xFF) << 16 | ((p >> 16) & 0xFF) << 8 | p >> 24;
    case 12: return p >> 8;
    case 13: return (p & 0xFF00FF00u) | (p & 0xFF) << 16 | ((p >> 16) & 0xFF);
    default: return p;
  }
}

uint32_t pixPack16(int32_t f, uint32_t v) {
  if (f < 0 || f > 7) return v;
  const uint32_t r = (v >> 11) & 0x1F, g = (v >> 5) & 0x3F, b = v & 0x1F;
  uint32_t p;
  switch (f & 5) {
    case 0: p = r << 10 | (g >> 1) << 5 | b; break;
    case 1: p = b << 10 | (g >> 1) << 5 | r; break;
    case 4: p = v & 0xFFFF; break;
    default: p = b << 11 | g << 5 | r; break;
  }
  return (f & 2) ? SwapPixelBytes16(p) : p;
}

uint32_t pixUnpack16(int32_t f, uint32_t p) {
  if (f < 0 || f > 7) return p;
  if (f & 2) p = SwapPixelBytes16(p);
  p &= 0xFFFF;
  switch (f & 5) {
    case 0: return ((p >> 10) & 0x1F) << 11 | ((p >> 5) & 0x1F) << 6 | (p & 0x1F);
    case 1: return (p & 0x1F) << 11 | ((p >> 5) & 0x1F) << 6 | ((p >> 10) & 0x1F);
    case 4: return p;
    default: return (p & 0x1F) << 11 | (p & 0x07E0) | (p >> 11);
  }
}

void pixUnpackRGB(int32_t f, const uint8_t* px, uint8_t* rgb) {
  uint32_t rgb32 = 0;
  if (f >= 0 && f <= 7) {
    uint16_t v;
    std::memcpy(&v, px, 2);
    const uint32_t w = pixUnpack16(f, v);
    rgb32 = (w >> 11) << 19 | ((w >> 5) & 0x3F) << 10 | (w & 0x1F) << 3;
  } else if (f >= 10 && f <= 13) {
    uint32_t v;
    std::memcpy(&v, px, 4);
    rgb32 = pixUnpack32(f, v);
  }
  rgb[0] = static_cast<uint8_t>(rgb32 >> 16);
  rgb[1] = static_cast<uint8_t>(rgb32 >> 8);
  rgb[2] = static_cast<uint8_t>(rgb32);
}

void pixPackRGB(int32_t f, const uint8_t* rgb, uint8_t* px) {
  if (f >= 0 && f <= 7) {
    const uint16_t v = static_cast<uint16_t>(pixPack16(f, (rgb[0] >> 3) << 11 | (rgb[1] >> 2) << 5 | rgb[2] >> 3));
    std::memcpy(px, &v, 2);
  } else if (f >= 10 && f <= 13) {
    const uint32_t v = pixPack32(f, uint32_t{rgb[0]} << 16 | rgb[1] << 8 | rgb[2]);
    std::memcpy(px, &v, 4);
  }
}

namespace {

template <int F>
constexpr int kBytes = F >= 10 ? 4 : F >= 8 ? 3 : 2;

template <int F>
inline uint32_t Load(const uint8_t* p) {
  if constexpr (kBytes<F> == 4) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
  } else if constexpr (kBytes<F> == 3) {
    return uint32_t{p[0]} << 16 | p[1] << 8 | p[2];  // memory order, as ColorToPixel gives it
  } else {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
  }
}

template <int F>
inline void Store(uint8_t* p, uint32_t v) {
  if constexpr (kBytes<F> == 4) {
    std::memcpy(p, &v, 4);
  } else if constexpr (kBytes<F> == 3) {
    p[0] = static_cast<uint8_t>(v >> 16);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v);
  } else {
    const uint16_t s = static_cast<uint16_t>(v);
    std::memcpy(p, &s, 2);
  }
}

// Stored pixel to working order and back.
template <int F>
inline uint32_t ToWork(uint32_t p) {
  if constexpr (kBytes<F> == 4) return pixUnpack32(F, p) & 0xFFFFFF;
  else if constexpr (kBytes<F> == 3) return Pixel24ToColor(p, F);
  else return pixUnpack16(F, p);
}
template <int F>
inline uint32_t FromWork(uint32_t w) {
  if constexpr (kBytes<F> == 4) return pixPack32(F, w);
  else if constexpr (kBytes<F> == 3) return ColorToPixel(w, F, 0);
  else return pixPack16(F, w);
}

// Blend of two working-order values by a (0-255).
template <int F>
inline uint32_t BlendWork(uint32_t d, uint32_t c, int32_t a) {
  if constexpr (kBytes<F> != 2) {
    const int32_t r = BlendChannel((d >> 16) & 0xFF, (c >> 16) & 0xFF, a);
    const int32_t g = BlendChannel((d >> 8) & 0xFF, (c >> 8) & 0xFF, a);
    const int32_t b = BlendChannel(d & 0xFF, c & 0xFF, a);
    return static_cast<uint32_t>((r & 0xFF) << 16 | (g & 0xFF) << 8 | (b & 0xFF));
  } else {
    const int32_t r = BlendChannel((d & 0xF800) >> 8, (c & 0xF800) >> 8, a);
    const int32_t g = BlendChannel((d & 0x07E0) >> 3, (c & 0x07E0) >> 3, a);
    const int32_t b = BlendChannel((d << 3) & 0xFF, (c << 3) & 0xFF, a);
    return static_cast<uint32_t>((r & 0xF8) << 8 | (g & 0xFC) << 3 | (b & 0xFF) >> 3);
  }
}

template <int F>
void Fill(uint8_t* dst, int32_t dstRow, int32_t w, int32_t h, uint32_t pixel) {
  constexpr int B = kBytes<F>;
  for (int32_t y = 0; y < h; ++y, dst += static_cast<intptr_t>(dstRow) * B)
    for (int32_t x = 0; x < w; ++x) Store<F>(dst + x * B, pixel);
}

template <int F>
void BlendColor(uint8_t* dst, int32_t dstRow, int32_t w, int32_t h, uint32_t work, int32_t a) {
  constexpr int B = kBytes<F>;
  for (int32_t y = 0; y < h; ++y, dst += static_cast<intptr_t>(dstRow) * B)
    for (int32_t x = 0; x < w; ++x) {
      uint8_t* p = dst + x * B;
      Store<F>(p, FromWork<F>(BlendWork<F>(ToWork<F>(Load<F>(p)), work, a)));
    }
}

template <int F>
void Copy(const uint8_t* src, int32_t srcRow, uint8_t* dst, int32_t dstRow, int32_t w, int32_t h) {
  constexpr int B = kBytes<F>;
  for (int32_t y = 0; y < h; ++y) {
    std::memmove(dst, src, static_cast<size_t>(w) * B);
    src += static_cast<intptr_t>(srcRow) * B;
    dst += static_cast<intptr_t>(dstRow) * B;
  }
}

template <int F>
void CopyMasked(const uint8_t* src, int32_t srcRow, uint8_t* dst, int32_t dstRow, int32_t w, int32_t h,
                const uint8_t* mask, int32_t maskRowBytes, int32_t bit) {
  constexpr int B = kBytes<F>;
  for (int32_t y = 0; y < h; ++y) {
    int32_t x = 0;
    while (x < w) {
      const int32_t i = bit + x;
      // Whole mask bytes: empty ones skip, full ones copy eight at once.
      if ((i & 7) == 0 && x + 8 <= w) {
        const uint8_t m = mask[i >> 3];
        if (m == 0x00 || m == 0xFF) {
          if (m) std::memcpy(dst + x * B, src + x * B, 8 * B);
          x += 8;
          continue;
        }
      }
      if (GetMaskBit(mask, i)) Store<F>(dst + x * B, Load<F>(src + x * B));
      ++x;
    }
    src += static_cast<intptr_t>(srcRow) * B;
    dst += static_cast<intptr_t>(dstRow) * B;
    mask += maskRowBytes;
  }
}

template <int F>
void AlphaBlend(const uint8_t* src, int32_t srcRow, uint8_t* dst, int32_t dstRow, int32_t w, int32_t h,
                const uint8_t* alpha, int32_t alphaRowBytes) {
  constexpr int B = kBytes<F>;
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      const int32_t a = alpha[x];
      if (a == 0) continue;
      const uint32_t s = Load<F>(src + x * B);
      if (a == 255) {
        Store<F>(dst + x * B, s);
        continue;
      }
      uint8_t* p = dst + x * B;
      Store<F>(p, FromWork<F>(BlendWork<F>(ToWork<F>(Load<F>(p)), ToWork<F>(s), a)));
    }
    src += static_cast<intptr_t>(srcRow) * B;
    dst += static_cast<intptr_t>(dstRow) * B;
    alpha += alphaRowBytes;
  }
}

template <int F>
void PaintMask(uint8_t* dst, int32_t dstRow, int32_t w, int32_t h, const uint8_t* mask, int32_t maskRowBytes,
               int32_t bit, uint32_t pixel) {
  constexpr int B = kBytes<F>;
  for (int32_t y = 0; y < h; ++y) {
    // Bit by bit up to a whole mask byte, then eight pixels a byte: empty
    // bytes (most of a glyph's box) cost one test.
    int32_t x = 0;
    for (; x < w && ((bit + x) & 7); ++x)
      if (GetMaskBit(mask, bit + x)) Store<F>(dst + x * B, pixel);
    for (; x + 8 <= w; x += 8) {
      const uint32_t m = mask[(bit + x) >> 3];
      if (!m) continue;
      for (int k = 0; k < 8; ++k)
        if (m & (0x80u >> k)) Store<F>(dst + (x + k) * B, pixel);
    }
    for (; x < w; ++x)
      if (GetMaskBit(mask, bit + x)) Store<F>(dst + x * B, pixel);
    dst += static_cast<intptr_t>(dstRow) * B;
    mask += maskRowBytes;
  }
}

template <int F>
void FromARGB(const uint32_t* argb, int32_t argbRow, uint8_t* dst, int32_t dstRow, int32_t w, int32_t h) {
  constexpr int B = kBytes<F>;
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      const uint32_t c = argb[x];
      uint32_t v;
      if constexpr (F == 10) v = c;  // alpha kept
      else if constexpr (B == 4) v = pixPack32(F, c & 0xFFFFFF);
      else if constexpr (B == 3) v = ColorToPixel(c, F, 0);
      else v = pixPack16(F, ((c >> 19) & 0x1F) << 11 | ((c >> 10) & 0x3F) << 5 | ((c >> 3) & 0x1F));
      Store<F>(dst + x * B, v);
    }
    argb += argbRow;
    dst += static_cast<intptr_t>(dstRow) * B;
  }
}

template <int F>
void AlphaChannel(const vlAlphaChannelJob& j) {
  constexpr int B = kBytes<F>;
  uint8_t* dst = j.dst;
  const uint8_t* cov = j.coverage;
  const uint8_t* tex = j.texture;
  uint8_t* ta = j.targetAlpha;
  const int32_t k = j.intensity;
  const bool planeMode = (j.mode == 2 || j.mode == 3) && ta;
  const bool blendMode = j.mode == 1 || j.mode == 4 || j.mode == 2 || j.mode == 3;
  for (int32_t y = 0; y < j.height; ++y) {
    for (int32_t x = 0; x < j.width; ++x) {
      int32_t a = cov[x];
      if (a == 0) continue;
      uint8_t* p = dst + x * B;
      const uint32_t c = tex ? ToWork<F>(Load<F>(tex + x * B)) : j.color;
      if (planeMode) {
        const int32_t t = ta[x];
        if (t != 0) {
          Store<F>(p, FromWork<F>(BlendWork<F>(ToWork<F>(Load<F>(p)), c, a)));
          ta[x] = static_cast<uint8_t>(((((a - t) * a) >> 8) + t) * k / 255);
        } else {
          Store<F>(p, FromWork<F>(c));
          ta[x] = static_cast<uint8_t>(a * k / 255);
        }
      } else if (blendMode) {
        if (j.mode == 4) a = a == 64 ? 255 : a * 4;
        if (a < 255) Store<F>(p, FromWork<F>(BlendWork<F>(ToWork<F>(Load<F>(p)), c, a)));
        else Store<F>(p, FromWork<F>(c));
      } else {
        Store<F>(p, FromWork<F>(c));
      }
    }
    dst += static_cast<intptr_t>(j.dstRow) * B;
    cov += j.coverageRowBytes;
    if (tex) tex += static_cast<intptr_t>(j.textureRow) * B;
    if (ta) ta += j.targetAlphaRowBytes;
  }
}

template <int F>
constexpr vlPixelKernels Make() {
  return {Fill<F>, BlendColor<F>, Copy<F>, CopyMasked<F>, AlphaBlend<F>, PaintMask<F>, FromARGB<F>};
}

constexpr vlPixelKernels kKernels[14] = {Make<0>(), Make<1>(), Make<2>(),  Make<3>(),  Make<4>(),
                                         Make<5>(), Make<6>(), Make<7>(),  Make<8>(),  Make<9>(),
                                         Make<10>(), Make<11>(), Make<12>(), Make<13>()};

using AlphaChannelFn = void (*)(const vlAlphaChannelJob&);
constexpr AlphaChannelFn kAlphaChannel[14] = {
    AlphaChannel<0>, AlphaChannel<1>, AlphaChannel<2>,  AlphaChannel<3>,  AlphaChannel<4>,
    AlphaChannel<5>, AlphaChannel<6>, AlphaChannel<7>,  nullptr,          nullptr,
    AlphaChannel<10>, AlphaChannel<11>, AlphaChannel<12>, AlphaChannel<13>};

}  // namespace

const vlPixelKernels* PixelKernelsFor(int32_t format) {
  if (format < 0 || format > 13 || format == 8 || format == 9) return nullptr;
  return &kKernels[format];
}

const vlPixelKernels* BlitKernelsFor(int32_t format) {
  return format >= 0 && format <= 13 ? &kKernels[format] : nullptr;
}

void AlphaChannelPixels(int32_t format, const vlAlphaChannelJob& job) {
  if (format < 0 || format > 13 || !kAlphaChannel[format]) return;
  // A plain colour without a target alpha plane: modes 1 to 3 blend by the
  // coverage, mode 4 by four times it.
  const bool plainColour = !job.texture && !job.targetAlpha && job.mode >= 1 && job.mode <= 4;
  if (plainColour && job.width > 0 && job.height > 0 && format >= 10) {
    if (const vlCoverageColourFn fast = FastCoverageColour(format)) {
      return fast(job.dst, job.dstRow, job.width, job.height, job.coverage, job.coverageRowBytes,
                  pixPack32(format, job.color), job.mode == 4);
    }
  }
  kAlphaChannel[format](job);
}

void FillAlphaBytes(uint8_t* dst, int32_t rowBytes, int32_t w, int32_t h, uint8_t value) {
  for (int32_t y = 0; y < h; ++y, dst += rowBytes) std::memset(dst, value, static_cast<size_t>(w));
}

void ScaleAlphaBytes(const uint8_t* src, uint8_t* dst, int32_t count, int32_t intensity) {
  if (intensity >= 0 && intensity <= 255) {
    if (const vlScaleBytesFn fast = FastScaleAlphaBytes()) return fast(src, dst, count, intensity);
  }
  for (int32_t i = 0; i < count; ++i) dst[i] = static_cast<uint8_t>(src[i] * intensity / 255);
}

void CoverOverRow(const uint32_t* rgb, const uint8_t* a, const uint32_t* underRgb, const uint8_t* under,
                  uint32_t* outRgb, uint8_t* outCover, int32_t count) {
  if (const vlCoverOverRowFn fast = FastCoverOverRow()) return fast(rgb, a, underRgb, under, outRgb, outCover, count);
  for (int32_t i = 0; i < count; ++i) {
    const vlCover c = CoverOver(rgb[i], a[i], {underRgb[i], under[i]});
    outRgb[i] = c.rgb;
    outCover[i] = static_cast<uint8_t>(c.cover);
  }
}

void MaskToAlphaValue(const uint8_t* mask, int32_t maskRowBytes, int32_t bit, uint8_t* alpha,
                      int32_t alphaRowBytes, int32_t w, int32_t h, uint8_t value) {
  for (int32_t y = 0; y < h; ++y, mask += maskRowBytes, alpha += alphaRowBytes)
    for (int32_t x = 0; x < w; ++x)
      if (GetMaskBit(mask, bit + x)) alpha[x] = value;
}

void CombineAlphaRect(const uint8_t* src, int32_t srcRowBytes, uint8_t* dst, int32_t dstRowBytes, int32_t w,
                      int32_t h, int32_t mode, int32_t v) {
  for (int32_t y = 0; y < h; ++y, src += srcRowBytes, dst += dstRowBytes) {
    for (int32_t x = 0; x < w; ++x) {
      const int32_t s = src[x], d = dst[x];
      int32_t r = d;
      switch (mode) {
        case 0: r = s; break;
        case 1: if (s) r = s; break;
        case 2: if (s) r = 255 - s; break;
        case 3: if (s) r = 255; break;
        case 4: if (s) r = s * v / 255; break;
        case 5: if (s && d) r = 255 - s; break;
        case 6: if (s) r = v; break;
        case 7: r = (s && d) ? s : 0; break;
        case 8: if (s == 255) r = 255; break;
        case 9:
          if (s >= 255) r = 255;
          else if (s) {
            r = (s * 255 + (255 - s) * d + 127) / 255;
            if (r > 255) r = 255;
          }
          break;
        default: break;
      }
      dst[x] = static_cast<uint8_t>(r);
    }
  }
}

void AlphaToMaskRect(const uint8_t* alpha, int32_t alphaRowBytes, uint8_t* mask, int32_t maskRowBytes,
                     int32_t bit, int32_t w, int32_t h, int32_t mode) {
  if (mode == 4) return;
  for (int32_t y = 0; y < h; ++y, alpha += alphaRowBytes, mask += maskRowBytes) {
    for (int32_t x = 0; x < w; ++x) {
      const int32_t i = bit + x;
      const int cur = GetMaskBit(mask, i);
      int next = cur;
      if (alpha[x] == 255) {
        if (mode == 0 || mode == 2 || mode == 5) next = 1;
        else if (mode == 1) next = 0;
        else if (mode == 3) next = !cur;
      } else {
        if (mode == 0 || mode == 2) next = 0;
        else if (mode == 1) next = 1;
        else if (mode == 3 || mode == 5) next = !cur;
      }
      SetMaskBit(mask, i, next);
    }
  }
}

void FillMaskBits(uint8_t* mask, int32_t rowBytes, int32_t x0, int32_t y0, int32_t w, int32_t h, int32_t mode) {
  if (mode < 0 || mode > 5 || mode == 4) return;
  uint8_t* row = mask + static_cast<intptr_t>(y0) * rowBytes;
  for (int32_t y = 0; y < h; ++y, row += rowBytes)
    for (int32_t x = x0; x < x0 + w; ++x) {
      if (mode == 1) SetMaskBit(row, x, 0);
      else if (mode == 3) SetMaskBit(row, x, !GetMaskBit(row, x));
      else SetMaskBit(row, x, 1);
    }
}

void CopyMaskBits(const uint8_t* src, int32_t srcRowBytes, int32_t sx, int32_t sy, uint8_t* dst,
                  int32_t dstRowBytes, int32_t dx, int32_t dy, int32_t w, int32_t h, int32_t mode) {
  if (mode < 0 || mode > 5) return;
  const uint8_t* srow = src + static_cast<intptr_t>(sy) * srcRowBytes;
  uint8_t* drow = dst + static_cast<intptr_t>(dy) * dstRowBytes;
  for (int32_t y = 0; y < h; ++y, srow += srcRowBytes, drow += dstRowBytes)
    for (int32_t x = 0; x < w; ++x) {
      const int s = GetMaskBit(srow, sx + x), d = GetMaskBit(drow, dx + x);
      int r = d;
      switch (mode) {
        case 0: if (s) r = 1; break;
        case 1: if (s) r = 0; break;
        case 2: r = s; break;
        case 3: r = d ^ s; break;
        case 4: r = d & s; break;
        default: r = d | s; break;
      }
      SetMaskBit(drow, dx + x, r);
    }
}

void SafeBltMaskLoop(const vlSafeBltMaskJob& j) {
  const uint8_t* clip = j.clip;
  const uint8_t* sm = j.srcMask;
  const uint8_t* sa = j.srcAlpha;
  uint8_t* out = j.out;
  for (int32_t y = 0; y < j.height; ++y) {
    for (int32_t x = 0; x < j.width; ++x) {
      const int c = GetMaskBit(clip, j.clipBit + x);
      if (sa) out[x] = c ? sa[x] : 0;
      else SetMaskBit(out, j.outBit + x, c ? (sm ? GetMaskBit(sm, j.srcBit + x) : 1) : 0);
    }
    clip += j.clipRowBytes;
    if (sm) sm += j.srcMaskRowBytes;
    if (sa) sa += j.srcAlphaRowBytes;
    out += j.outRowBytes;
  }
}
