// Coverage-plane blit loops and ARGB converters. Integer arithmetic only.
// Depends on the channel access helpers and the plain pixel kernels.
#include "graphics/blit_loops.h"

#include <cstring>

#include "graphics/band_workers.h"
#include "graphics/channel_access.h"
#include "graphics/fast_paths.h"
#include "graphics/pixel_format.h"
#include "graphics/pixel_kernels.h"

using namespace vlpix;

namespace {

struct Rows {
  const uint8_t* src;
  uint8_t* dst;
  const uint8_t* cov;
  const uint8_t* ta;
};

template <int B>
Rows RowsAt(const vlBlitJob& j, int32_t y) {
  Rows r;
  r.src = j.source + (static_cast<intptr_t>(j.sourceY + y) * j.sourceRow + j.sourceX) * B;
  r.dst = j.target + (static_cast<intptr_t>(j.targetY + y) * j.targetRow + j.targetX) * B;
  r.cov = j.coverage + static_cast<intptr_t>(j.planeY + y) * j.coverageRowBytes + j.planeX;
  r.ta = j.targetAlpha ? j.targetAlpha + static_cast<intptr_t>(j.targetY + y) * j.targetAlphaRowBytes + j.targetX
                       : nullptr;
  return r;
}

template <int B>
void Masked(const vlBlitJob& j) {
  for (int32_t y = 0; y < j.height; ++y) {
    const Rows r = RowsAt<B>(j, y);
    for (int32_t x = 0; x < j.width; ++x)
      if (r.cov[x]) std::memcpy(r.dst + x * B, r.src + x * B, B);
  }
}

template <int B>
void Over(const vlBlitJob& j) {
  for (int32_t y = 0; y < j.height; ++y) {
    const Rows r = RowsAt<B>(j, y);
    for (int32_t x = 0; x < j.width; ++x) {
      const int32_t a = r.cov[x];
      if (a == 0) continue;
      if (a == 255) {
        std::memcpy(r.dst + x * B, r.src + x * B, B);
        continue;
      }
      const int32_t t = r.ta ? r.ta[x] : 255;
      int32_t o = ((255 - a) * t + 255 * a + 127) / 255;
      if (o > 255) o = 255;
      const int32_t k = ((255 - a) * t + 127) / 255;
      const RGB s = ReadRGB<B>(j.format, r.src + x * B), d = ReadRGB<B>(j.format, r.dst + x * B);
      auto mix = [&](int32_t sc, int32_t dc) {
        const int32_t v = (sc * a + dc * k + 127) / o;
        return v > 255 ? 255 : v;
      };
      WriteRGB<B>(j.format, r.dst + x * B, {mix(s.r, d.r), mix(s.g, d.g), mix(s.b, d.b)});
    }
  }
}

struct BlendBands {
  vlAlphaBlendFn fn;
  const uint8_t* src;
  uint8_t* dst;
  const uint8_t* cov;
  int32_t srcRow, dstRow, covRow, width, bpp;
};

void BlendRows(void* context, int32_t first, int32_t end) {
  const BlendBands& b = *static_cast<const BlendBands*>(context);
  b.fn(b.src + static_cast<intptr_t>(first) * b.srcRow * b.bpp, b.srcRow,
       b.dst + static_cast<intptr_t>(first) * b.dstRow * b.bpp, b.dstRow, b.width, end - first,
       b.cov + static_cast<intptr_t>(first) * b.covRow, b.covRow);
}

// The bytes from the first pixel of the first row to the last of the last.
bool Overlap(const uint8_t* a, int32_t aRow, const uint8_t* b, int32_t bRow, int32_t w, int32_t h, int32_t bpp) {
  const uintptr_t a0 = reinterpret_cast<uintptr_t>(a), b0 = reinterpret_cast<uintptr_t>(b);
  const uintptr_t a1 = a0 + (static_cast<uintptr_t>(h - 1) * aRow + w) * bpp;
  const uintptr_t b1 = b0 + (static_cast<uintptr_t>(h - 1) * bRow + w) * bpp;
  return a0 < b1 && b0 < a1;
}

void Blend(const vlBlitJob& j, int32_t bpp) {
  const vlPixelKernels* k = BlitKernelsFor(j.format);
  if (!k) return;
  const vlAlphaBlendFn fast = FastAlphaBlend(j.format);
  BlendBands b{fast ? fast : k->alphaBlend,
               j.source + (static_cast<intptr_t>(j.sourceY) * j.sourceRow + j.sourceX) * bpp,
               j.target + (static_cast<intptr_t>(j.targetY) * j.targetRow + j.targetX) * bpp,
               j.coverage + static_cast<intptr_t>(j.planeY) * j.coverageRowBytes + j.planeX,
               j.sourceRow, j.targetRow, j.coverageRowBytes, j.width, bpp};
  // A picture blended onto itself is read where earlier rows wrote: only
  // the one top-to-bottom pass gives the result the loops define.
  if (Overlap(b.src, b.srcRow, b.dst, b.dstRow, j.width, j.height, bpp)) return BlendRows(&b, 0, j.height);
  const int64_t pixels = int64_t{j.width} * j.height;
  RunInBands(j.height, pixels, pixels * (2 * bpp + 1), BlendRows, &b);
}

using BlitFn = void (*)(const vlBlitJob&);
void Blend16(const vlBlitJob& j) { Blend(j, 2); }
void Blend24(const vlBlitJob& j) { Blend(j, 3); }
void Blend32(const vlBlitJob& j) { Blend(j, 4); }
// By bytes per pixel less 2.
constexpr BlitFn kTable[3][3] = {{Blend16, BlitMaskedPix16, BlitAlphaPix16},
                                 {Blend24, Masked<3>, Over<3>},
                                 {Blend32, BlitMaskedPix32, BlitAlphaPix32}};

}  // namespace

void BlitMaskedPix16(const vlBlitJob& j) { Masked<2>(j); }
void BlitMaskedPix32(const vlBlitJob& j) { Masked<4>(j); }
void BlitAlphaPix16(const vlBlitJob& j) { Over<2>(j); }
void BlitAlphaPix32(const vlBlitJob& j) { Over<4>(j); }

void AlphaBlitPixels(const vlBlitJob& j, int32_t bpp, int32_t mode) {
  if (mode < 0 || mode > 2 || bpp < 2 || bpp > 4 || j.width <= 0 || j.height <= 0) return;
  if (bpp != BytesPerPixelOfFormat(j.format)) return;
  if (mode == VL_ALPHABLIT_MASKED) {
    if (const vlBlitJobFn fast = FastCoverageCopy(j.format)) return fast(j);
  }
  kTable[bpp - 2][mode](j);
}

uint32_t Pixel32ToARGB(uint32_t q, int32_t format, int keepAlpha) {
  switch (format) {
    case 11: return __builtin_bswap32(q);
    case 12: return keepAlpha ? (q >> 8 | q << 24) : q >> 8;
    case 13: q = __builtin_bswap32(q); return keepAlpha ? (q >> 8 | q << 24) : q >> 8;
    default: return q;
  }
}

void ReadPixelsARGB(const uint8_t* pixels, uint32_t* out, const int32_t* rect, int32_t rowLength, int32_t bpp,
                    int32_t format) {
  const int32_t x0 = rect[0], y0 = rect[1], w = rect[2], h = rect[3];
  if (BytesPerPixelOfFormat(format) == bpp && w > 0) {
    if (const vlConvertFn fast = FastConvert(format, 10))
      return fast(pixels + (static_cast<intptr_t>(y0) * rowLength + x0) * bpp, rowLength,
                  reinterpret_cast<uint8_t*>(out), w, w, h);
  }
  for (int32_t y = 0; y < h; ++y) {
    const uint8_t* p = pixels + (static_cast<intptr_t>(y0 + y) * rowLength + x0) * bpp;
    for (int32_t x = 0; x < w; ++x, p += bpp) {
      uint32_t v;
      if (bpp == 2) {
        const uint32_t q = Load<2>(p);
        v = ((q & 0xF800) << 8) | ((q & 0x07E0) << 5) | ((q << 3) & 0xFF);
      } else {
        v = Pixel32ToARGB(Load<4>(p), format, 0);
      }
      *out++ = v;
    }
  }
}

void WriteARGBPixels(const vlPixelKernels& k, int32_t format, const uint32_t* argb, int32_t argbRow, uint8_t* dst,
                     int32_t dstRow, int32_t w, int32_t h) {
  if (w <= 0 || h <= 0) return;
  if (const vlConvertFn fast = FastConvert(10, format))
    return fast(reinterpret_cast<const uint8_t*>(argb), argbRow, dst, dstRow, w, h);
  k.fromARGB(argb, argbRow, dst, dstRow, w, h);
}

void ExtractAlphaBytes(const uint32_t* argb, int32_t width, int32_t height, int32_t rowLength, uint8_t* out,
                       int32_t outRowBytes) {
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x)
      out[static_cast<intptr_t>(y) * outRowBytes + x] =
          static_cast<uint8_t>(argb[static_cast<intptr_t>(y) * rowLength + x] >> 24);
}
