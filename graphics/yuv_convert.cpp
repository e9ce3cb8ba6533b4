// 4:2:0 video frames to pictures: integer BT.601 colour conversion, 1:1 and
// nearest-neighbour scaled sampling. Depends on pixel_format.h and
// vm/convert.h.
#include "graphics/yuv_convert.h"

#include <cstring>
#include <memory>
#include <new>

#include "graphics/fast_paths.h"
#include "graphics/pixel_format.h"
#include "graphics/scaler.h"
#include "graphics/simd_kernels.h"
#include "vm/convert.h"

namespace {

constexpr int32_t Clamp255(int64_t v) { return v < 0 ? 0 : v > 255 ? 255 : static_cast<int32_t>(v); }

// Stores one colour; a byte count that does not fit the format writes nothing.
inline void WritePixel(uint8_t* p, int32_t format, int32_t bpp, uint32_t rgb) {
  const uint8_t r = rgb >> 16, g = rgb >> 8, b = rgb;
  if (bpp == 4 && format >= 10 && format <= 13) {
    const uint32_t v = ColorToPixel(rgb, format, 0);
    p[0] = v; p[1] = v >> 8; p[2] = v >> 16; p[3] = v >> 24;
  } else if (bpp == 3 && (format == 8 || format == 9)) {
    p[0] = format == 8 ? r : b;
    p[1] = g;
    p[2] = format == 8 ? b : r;
  } else if (bpp == 2 && format >= 0 && format <= 7) {
    const uint32_t v = ColorToPixel(rgb, format, 0);
    p[0] = v; p[1] = v >> 8;
  }
}

// The frame must fit the rows it claims before anything is read or written.
bool Valid(const vlYUVConvert& j, int32_t outW, int32_t outH) {
  if (!j.planes[0] || !j.planes[1] || !j.planes[2] || !j.target) return false;
  if (j.sourceWidth <= 0 || j.sourceHeight <= 0 || outW <= 0 || outH <= 0) return false;
  if (j.targetBytesPerPixel < 2 || j.targetBytesPerPixel > 4) return false;
  const int32_t chromaW = (j.sourceWidth + 1) / 2;
  return j.planeRowBytes[0] >= j.sourceWidth && j.planeRowBytes[1] >= chromaW && j.planeRowBytes[2] >= chromaW &&
         j.targetRowLength >= outW;
}

}  // namespace

uint32_t YUVToRGB(int32_t y, int32_t u, int32_t v) {
  const int64_t Y = y, U = u, V = v;
  const int32_t r = Clamp255((2609823 * V + 1904000 * Y - 363703744) / 1635200);
  const int32_t g = Clamp255((3827562 * Y - 1287801 * U - 2672387 * V + 447306710) / 3287200);
  const int32_t b = Clamp255((1649289 * U + 952000 * Y - 225932192) / 817600);
  return static_cast<uint32_t>(r) << 16 | static_cast<uint32_t>(g) << 8 | static_cast<uint32_t>(b);
}

namespace {

template <int F>
void YUV420RowTo(const uint8_t* Y, const uint8_t* U, const uint8_t* V, uint8_t* out, int32_t width) {
  // The chroma terms once per pair of pixels; the sums fit 32 bits and
  // divide (toward zero) exactly as in YUVToRGB.
  constexpr int kBytes = F >= 10 ? 4 : 2;
  for (int32_t x = 0; x < width; x += 2) {
    const int32_t u = U[x / 2], v = V[x / 2];
    const int32_t rv = 2609823 * v - 363703744, gv = 447306710 - 1287801 * u - 2672387 * v;
    const int32_t bu = 1649289 * u - 225932192;
    for (int32_t k = x; k < x + 2 && k < width; ++k) {
      const int32_t y = Y[k];
      const uint32_t rgb = static_cast<uint32_t>(Clamp255((rv + 1904000 * y) / 1635200)) << 16 |
                           static_cast<uint32_t>(Clamp255((3827562 * y + gv) / 3287200)) << 8 |
                           static_cast<uint32_t>(Clamp255((952000 * y + bu) / 817600));
      const uint32_t px = ColorToPixel(rgb, F, 0);
      if constexpr (kBytes == 4) {
        std::memcpy(out + k * 4, &px, 4);
      } else {
        const uint16_t p16 = static_cast<uint16_t>(px);
        std::memcpy(out + k * 2, &p16, 2);
      }
    }
  }
}

#ifdef VL_HAVE_X86_KERNELS
// The vector rows bound to a format and a chroma width.
template <int F, int kHalf>
void RowSSE2(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* out, int32_t width) {
  vl_sse2::YUVRow(y, u, v, out, width, F, kHalf);
}
template <int F, int kHalf>
void RowAVX2(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* out, int32_t width) {
  vl_avx2::YUVRow(y, u, v, out, width, F, kHalf);
}
#define VL_YUV_ROWS(F, flags, half)                                         \
  {"yuv 4:2:0", -1, F, flags, VL_CPU_AVX2, RowAVX2<F, half>}, {"yuv 4:2:0", -1, F, flags, VL_CPU_SSE2, RowSSE2<F, half>}
#define VL_YUV_FORMATS(flags, half)                                                                   \
  VL_YUV_ROWS(10, flags, half), VL_YUV_ROWS(11, flags, half), VL_YUV_ROWS(12, flags, half), \
      VL_YUV_ROWS(13, flags, half), VL_YUV_ROWS(4, flags, half)
#endif

// Vector rows, then plain C++ rows for the display formats (the general
// loop decides the format per pixel). Full-chroma rows serve the scaled
// converter, which gathers each row's samples first.
const vlFastPath<vlYUVRowFn> kYUVRows[] = {
#ifdef VL_HAVE_X86_KERNELS
    VL_YUV_FORMATS(VL_FP_NONE, 1),
    VL_YUV_FORMATS(VL_FP_FULL_CHROMA, 0),
#endif
    {"yuv 4:2:0", -1, 10, VL_FP_NONE, VL_CPU_PLAIN, YUV420RowTo<10>},
    {"yuv 4:2:0", -1, 11, VL_FP_NONE, VL_CPU_PLAIN, YUV420RowTo<11>},
    {"yuv 4:2:0", -1, 12, VL_FP_NONE, VL_CPU_PLAIN, YUV420RowTo<12>},
    {"yuv 4:2:0", -1, 13, VL_FP_NONE, VL_CPU_PLAIN, YUV420RowTo<13>},
    {"yuv 4:2:0", -1, 4, VL_FP_NONE, VL_CPU_PLAIN, YUV420RowTo<4>},
};

}  // namespace

vlYUVRowFn FastYUV420Row(int32_t format) { return FindFastPath(kYUVRows, -1, format, VL_FP_NONE); }
vlYUVRowFn FastYUV444Row(int32_t format) { return FindFastPath(kYUVRows, -1, format, VL_FP_FULL_CHROMA); }

int YUV420ToRGB(const vlYUVConvert& j) {
  if (!Valid(j, j.sourceWidth, j.sourceHeight)) return 0;
  const int32_t bpp = j.targetBytesPerPixel, fmt = j.targetFormat;
  const vlYUVRowFn fast = bpp == BytesPerPixelOfFormat(fmt) ? FastYUV420Row(fmt) : nullptr;
  for (int32_t y = 0; y < j.sourceHeight; y++) {
    const uint8_t* Y = j.planes[0] + static_cast<intptr_t>(y) * j.planeRowBytes[0];
    const uint8_t* U = j.planes[1] + static_cast<intptr_t>(y / 2) * j.planeRowBytes[1];
    const uint8_t* V = j.planes[2] + static_cast<intptr_t>(y / 2) * j.planeRowBytes[2];
    uint8_t* out = j.target + static_cast<intptr_t>(y) * j.targetRowLength * bpp;
    if (fast) {
      fast(Y, U, V, out, j.sourceWidth);
      continue;
    }
    for (int32_t x = 0; x < j.sourceWidth; x++, out += bpp)
      WritePixel(out, fmt, bpp, YUVToRGB(Y[x], U[x / 2], V[x / 2]));
  }
  return 1;
}

namespace {

// The scaled rule through the fast rows: each target column's source
// column is worked out once per call, and a target row that reads the same
// source row as the one above is a copy of it. A row kept to at least half
// its width is converted whole at 1:1 and its pixels picked as the nearest
// scaler picks them; a narrower one gathers each target pixel's Y, U and V
// first, which costs more per pixel than converting one. False
// (nothing written) without fast rows or memory for the tables.
bool ScaledFast(const vlYUVConvert& j) {
  const int32_t fmt = j.targetFormat, bpp = j.targetBytesPerPixel, sw = j.sourceWidth, outW = j.targetWidth;
  if (bpp != BytesPerPixelOfFormat(fmt)) return false;
  const vlYUVRowFn half = FastYUV420Row(fmt), full = FastYUV444Row(fmt);
  const vlNearestRowFn pick = FastScaleNearest(fmt);
  if (!half || !full || !pick) return false;
  const bool whole = sw <= 2 * static_cast<int64_t>(outW);
  std::unique_ptr<int32_t[]> index(new (std::nothrow) int32_t[outW]);
  std::unique_ptr<uint8_t[]> scratch(new (std::nothrow) uint8_t[whole ? size_t(sw) * bpp : size_t(outW) * 3]);
  if (!index || !scratch) return false;
  const int64_t step = static_cast<int64_t>(sw) * 65536 / outW;
  int64_t acc = 0;
  for (int32_t i = 0; i < outW; ++i, acc += step) index[i] = static_cast<int32_t>(acc >> 16);
  uint8_t *ys = scratch.get(), *us = ys + outW, *vs = us + outW;
  const double rowStep = static_cast<double>(j.sourceHeight) / j.targetHeight;
  double rowAcc = 0.0;
  int32_t above = -1;
  for (int32_t y = 0; y < j.targetHeight; y++, rowAcc += rowStep) {
    int32_t sy = vl::DoubleToInt32(rowAcc);
    if (sy < 0 || sy >= j.sourceHeight) sy = j.sourceHeight - 1;
    uint8_t* out = j.target + static_cast<intptr_t>(y) * j.targetRowLength * bpp;
    if (sy == above) {
      std::memcpy(out, out - static_cast<intptr_t>(j.targetRowLength) * bpp, static_cast<size_t>(outW) * bpp);
      continue;
    }
    above = sy;
    const uint8_t* Y = j.planes[0] + static_cast<intptr_t>(sy) * j.planeRowBytes[0];
    const uint8_t* U = j.planes[1] + static_cast<intptr_t>(sy / 2) * j.planeRowBytes[1];
    const uint8_t* V = j.planes[2] + static_cast<intptr_t>(sy / 2) * j.planeRowBytes[2];
    if (whole) {
      half(Y, U, V, scratch.get(), sw);
      pick(scratch.get(), index.get(), outW, sw, out);
      continue;
    }
    for (int32_t i = 0; i < outW; ++i) {
      const int32_t sx = index[i];
      ys[i] = Y[sx];
      us[i] = U[sx / 2];
      vs[i] = V[sx / 2];
    }
    full(ys, us, vs, out, outW);
  }
  return true;
}

}  // namespace

int YUV420ToRGBScaled(const vlYUVConvert& j) {
  if (!Valid(j, j.targetWidth, j.targetHeight)) return 0;
  if (ScaledFast(j)) return 1;
  const int32_t bpp = j.targetBytesPerPixel, fmt = j.targetFormat, outW = j.targetWidth;
  // Integer division is the exact truncation of width ratio x 65536.
  const int64_t step = static_cast<int64_t>(j.sourceWidth) * 65536 / outW;
  const double rowStep = static_cast<double>(j.sourceHeight) / j.targetHeight;
  double rowAcc = 0.0;
  for (int32_t y = 0; y < j.targetHeight; y++, rowAcc += rowStep) {
    int32_t sy = vl::DoubleToInt32(rowAcc);
    if (sy < 0 || sy >= j.sourceHeight) sy = j.sourceHeight - 1;  // rounding guard
    const uint8_t* Y = j.planes[0] + static_cast<intptr_t>(sy) * j.planeRowBytes[0];
    const uint8_t* U = j.planes[1] + static_cast<intptr_t>(sy / 2) * j.planeRowBytes[1];
    const uint8_t* V = j.planes[2] + static_cast<intptr_t>(sy / 2) * j.planeRowBytes[2];
    uint8_t* out = j.target + static_cast<intptr_t>(y) * j.targetRowLength * bpp;
    int64_t acc = 0;
    int32_t x = 0;
    auto one = [&] {
      const int32_t sx = static_cast<int32_t>(acc >> 16);
      WritePixel(out, fmt, bpp, YUVToRGB(Y[sx], U[sx / 2], V[sx / 2]));
      out += bpp;
      acc += step;
    };
    for (; x + 8 <= outW; x += 8) {
      one(); one(); one(); one(); one(); one(); one(); one();
    }
    for (; x < outW; x++) one();
  }
  return 1;
}

int YUV420ToRGBSmooth(const vlYUVConvert& j) {
  if (!Valid(j, j.targetWidth, j.targetHeight) || j.targetBytesPerPixel != 4 ||
      BytesPerPixelOfFormat(j.targetFormat) != 4)
    return 0;
  struct Rows {
    const vlYUVConvert& frame;
    vlYUVRowFn convert;
  } rows{j, FastYUV420Row(j.targetFormat)};
  if (!rows.convert) return 0;
  vlScaleJob s{};
  s.dstPixels = j.target;
  s.srcWidth = j.sourceWidth;
  s.srcHeight = j.sourceHeight;
  s.dstWidth = j.targetWidth;
  s.dstHeight = j.targetHeight;
  s.dstRowLength = j.targetRowLength;
  s.smooth = 1;
  s.format = j.targetFormat;
  s.bytesPerPixel = 4;
  const vlMadeRows made{[](void* context, int32_t sy, uint8_t* out) {
                          const Rows& r = *static_cast<const Rows*>(context);
                          const vlYUVConvert& f = r.frame;
                          r.convert(f.planes[0] + static_cast<intptr_t>(sy) * f.planeRowBytes[0],
                                    f.planes[1] + static_cast<intptr_t>(sy / 2) * f.planeRowBytes[1],
                                    f.planes[2] + static_cast<intptr_t>(sy / 2) * f.planeRowBytes[2], out,
                                    f.sourceWidth);
                        },
                        &rows};
  return ScaleMadeRowsSmooth(s, made) ? 1 : 0;
}
