// Fast paths: format-specialised, vectorised kernels listed in one table
// per operation (operation, source format, target format, flags, processor
// feature, function) in front of the general kernels, which always answer.
// The choice is made once per call. VL_FASTPATHS=off turns every fast path
// off; VL_FASTPATHS=noavx2 (or nosse2) one instruction set, so results and
// speed can be compared on one machine.
#pragma once
#include <cstddef>
#include <cstdint>

#include "graphics/blit_loops.h"

// Processor features a fast path needs; VL_CPU_PLAIN rows are plain C++.
enum : uint32_t { VL_CPU_PLAIN = 1, VL_CPU_SSE2 = 2, VL_CPU_AVX2 = 4 };

// Fast paths allowed now: what the processor has less what the environment
// turned off. Set... replaces it (tests and benchmarks compare paths).
uint32_t FastPathFeatures();
void SetFastPathFeatures(uint32_t features);

// Flags of a request; a row serves only requests with exactly its flags.
enum : uint32_t { VL_FP_NONE = 0, VL_FP_MASK = 1, VL_FP_FULL_CHROMA = 2 };

template <typename Fn>
struct vlFastPath {
  const char* operation;
  int32_t srcFormat, dstFormat;
  uint32_t flags;
  uint32_t feature;
  Fn fn;
};

template <typename Fn, size_t N>
Fn FindFastPath(const vlFastPath<Fn> (&rows)[N], int32_t src, int32_t dst, uint32_t flags) {
  const uint32_t have = FastPathFeatures();
  for (const auto& r : rows)
    if (r.srcFormat == src && r.dstFormat == dst && r.flags == flags && (have & r.feature)) return r.fn;
  return nullptr;
}

// The operations' fast-path look-ups; each answers null when the general
// kernel must run. 32-bit rows are given in the formats' own byte order.
using vlAlphaBlendFn = void (*)(const uint8_t* src, int32_t srcRow, uint8_t* dst, int32_t dstRow, int32_t w,
                                int32_t h, const uint8_t* alpha, int32_t alphaRowBytes);
vlAlphaBlendFn FastAlphaBlend(int32_t format);
// Alpha-plane blit of a colour (stored byte order), modes 1 and 4.
using vlCoverageColourFn = void (*)(uint8_t* dst, int32_t dstRow, int32_t w, int32_t h, const uint8_t* cov,
                                    int32_t covRowBytes, uint32_t colour, int quadruple);
vlCoverageColourFn FastCoverageColour(int32_t format);
// The masked blit (1-bit mask, colour-key masks included).
using vlMaskCopyFn = void (*)(const uint8_t* src, int32_t srcRow, uint8_t* dst, int32_t dstRow, int32_t w,
                              int32_t h, const uint8_t* mask, int32_t maskRowBytes, int32_t bitOffset);
vlMaskCopyFn FastMaskCopy(int32_t format);
using vlBlitJobFn = void (*)(const vlBlitJob& job);
vlBlitJobFn FastCoverageCopy(int32_t format);
using vlFillFn = void (*)(uint8_t* dst, int32_t dstRow, int32_t w, int32_t h, uint32_t pixel);
vlFillFn FastFill(int32_t format);
// color in the working order, as the general kernel takes it.
using vlBlendColorFn = void (*)(uint8_t* dst, int32_t dstRow, int32_t w, int32_t h, uint32_t work, int32_t alpha);
vlBlendColorFn FastBlendColor(int32_t format);
// toward (or null: the target's own pixels) as vlMixJob has it.
using vlMixFn = void (*)(const uint8_t* src, int32_t srcRow, uint8_t* dst, int32_t dstRow, int32_t w, int32_t h,
                         int32_t ratio, const uint8_t* mask, int32_t maskRowBytes, int32_t maskBit,
                         const uint8_t* toward, int32_t towardRow);
vlMixFn FastMix(int32_t format, bool masked);
// Words ANDed with a mask in place: format conversions that clear a byte
// (decoded pictures' spare byte); rows keyed by format -1.
using vlAndWordsFn = void (*)(uint8_t* words, size_t count, uint32_t keep);
vlAndWordsFn FastAndWords();
// Alpha bytes times a global transparency (0-255) / 255: the plane loop
// behind blits with an opacity (rows keyed by format -1).
using vlScaleBytesFn = void (*)(const uint8_t* src, uint8_t* dst, int32_t count, int32_t intensity);
vlScaleBytesFn FastScaleAlphaBytes();
using vlCoverOverRowFn = void (*)(const uint32_t* rgb, const uint8_t* a, const uint32_t* underRgb,
                                  const uint8_t* under, uint32_t* outRgb, uint8_t* outCover, int32_t count);
vlCoverOverRowFn FastCoverOverRow();
// One row of the dissolve on 8-bit planes (no pixel formats: rows keyed by
// format -1).
using vlDissolveFn = void (*)(const uint8_t* map, const uint8_t* src, uint8_t* dst, int32_t count, int32_t level,
                              int disappear);
vlDissolveFn FastDissolveBytes();
// One row of a 4:2:0 frame at 1:1 into a picture row of the format (the
// table lives with the converter: plain C++ rows).
using vlYUVRowFn = void (*)(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* out, int32_t width);
vlYUVRowFn FastYUV420Row(int32_t format);
// The same with u and v one byte per pixel (rows gathered for scaling).
vlYUVRowFn FastYUV444Row(int32_t format);
// One row of a JPEG's YCbCr samples to 0x00RRGGBB words, exactly as
// libjpeg converts them (rows keyed by format -1).
vlYUVRowFn FastJPEGYCCRow();
// The same for grey samples (y only): each one in the three colour bytes.
vlYUVRowFn FastJPEGGreyRow();
// Decoded rows of 8-bit samples, 3 (R, G, B) or 4 (R, G, B, A) a pixel, to
// native 0x00RRGGBB or 0xAARRGGBB words (rows keyed by channel count).
using vlSampleRowFn = void (*)(const uint8_t* in, uint8_t* out, int32_t count);
vlSampleRowFn FastSampleRow(int32_t channels);
// Format conversion between ARGB words (format 10), the other 32-bit
// formats and RGB565 (format 4), both ways, by the rules of the fromARGB
// kernels and ReadPixelsARGB. Rows in pixels of each side.
using vlConvertFn = void (*)(const uint8_t* src, int32_t srcRow, uint8_t* dst, int32_t dstRow, int32_t w, int32_t h);
vlConvertFn FastConvert(int32_t srcFormat, int32_t dstFormat);
// Bilinear scaling in two row passes (see simd_kernels.h).
struct vlScaleRows {
  void (*horizontal)(const uint8_t* src0, const uint8_t* src1, const int32_t* index, const uint16_t* frac4,
                     int32_t count, int32_t srcWidth, uint16_t* out0, uint16_t* out1);
  void (*vertical)(const uint16_t* top, const uint16_t* bottom, uint32_t fy, uint8_t* dst, int32_t count);
};
const vlScaleRows* FastScaleSmooth(int32_t format);
// Nearest scaling, one target row: dst[i] = the source pixel at column
// index[i] (columns never decrease and stay below srcWidth).
using vlNearestRowFn = void (*)(const uint8_t* src, const int32_t* index, int32_t count, int32_t srcWidth,
                                uint8_t* dst);
vlNearestRowFn FastScaleNearest(int32_t format);
