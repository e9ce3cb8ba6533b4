// The fast-path tables and the processor/environment switch. The wrappers
// here bind a format's colour bytes to the vectorised kernels of
// simd_kernels.h; each table ends where the general kernel takes over.
#include "graphics/fast_paths.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "graphics/pixel_kernels.h"
#include "graphics/simd_kernels.h"

namespace {

uint32_t DetectFeatures() {
  uint32_t f = VL_CPU_PLAIN;
#ifdef VL_HAVE_X86_KERNELS
  __builtin_cpu_init();
  if (__builtin_cpu_supports("sse2")) f |= VL_CPU_SSE2;
  if (__builtin_cpu_supports("avx2")) f |= VL_CPU_AVX2;
#endif
  const char* env = std::getenv("VL_FASTPATHS");
  if (env) {
    if (std::strstr(env, "off")) f = 0;
    if (std::strstr(env, "noavx2")) f &= ~uint32_t{VL_CPU_AVX2};
    if (std::strstr(env, "nosse2")) f &= ~uint32_t{VL_CPU_SSE2 | VL_CPU_AVX2};
  }
  return f;
}

std::atomic<uint32_t> gFeatures{~0u};  // ~0: not asked yet

// ARGB words into format 10 and back are whole rows copied (moved: a
// picture may be written from its own pixels, as the general loop allows).
void CopyRows32(const uint8_t* s, int32_t sr, uint8_t* d, int32_t dr, int32_t w, int32_t h) {
  if (w <= 0) return;
  for (int32_t y = 0; y < h; ++y)
    std::memmove(d + static_cast<intptr_t>(y) * dr * 4, s + static_cast<intptr_t>(y) * sr * 4,
                 static_cast<size_t>(w) * 4);
}

constexpr uint32_t ColourMask(int F) { return (F == 11 || F == 12) ? 0xFFFFFF00u : 0x00FFFFFFu; }

#ifdef VL_HAVE_X86_KERNELS
#define VL_WRAPPERS(NS)                                                                                           \
  namespace NS##_rows {                                                                                           \
  template <int F>                                                                                                \
  void AlphaBlend(const uint8_t* s, int32_t sr, uint8_t* d, int32_t dr, int32_t w, int32_t h, const uint8_t* a,  \
                  int32_t ar) {                                                                                   \
    NS::AlphaBlend32(s, sr, d, dr, w, h, a, ar, ColourMask(F));                                                  \
  }                                                                                                               \
  template <int F>                                                                                                \
  void CoverageColour(uint8_t* d, int32_t dr, int32_t w, int32_t h, const uint8_t* c, int32_t cr, uint32_t colour, \
                      int quadruple) {                                                                            \
    NS::CoverageColour32(d, dr, w, h, c, cr, colour, quadruple, ColourMask(F));                                   \
  }                                                                                                               \
  void CoverageCopy(const vlBlitJob& j) {                                                                         \
    if (j.width <= 0 || j.height <= 0) return;                                                                    \
    NS::CoverageCopy32(j.source + (static_cast<intptr_t>(j.sourceY) * j.sourceRow + j.sourceX) * 4, j.sourceRow, \
                       j.target + (static_cast<intptr_t>(j.targetY) * j.targetRow + j.targetX) * 4, j.targetRow, \
                       j.width, j.height,                                                                         \
                       j.coverage + static_cast<intptr_t>(j.planeY) * j.coverageRowBytes + j.planeX,              \
                       j.coverageRowBytes);                                                                       \
  }                                                                                                               \
  template <int F>                                                                                                \
  void BlendColor(uint8_t* d, int32_t dr, int32_t w, int32_t h, uint32_t work, int32_t a) {                       \
    NS::BlendColor32(d, dr, w, h, pixPack32(F, work & 0xFFFFFF), a, ColourMask(F));                               \
  }                                                                                                               \
  template <int F>                                                                                                \
  void Mix(const uint8_t* s, int32_t sr, uint8_t* d, int32_t dr, int32_t w, int32_t h, int32_t ratio,           \
           const uint8_t* m, int32_t mr, int32_t mb, const uint8_t* t, int32_t tr) {                              \
    NS::Mix32(s, sr, d, dr, w, h, ratio, m, mr, mb, t, tr, ColourMask(F));                                        \
  }                                                                                                               \
  template <int F>                                                                                                \
  void ScaleV(const uint16_t* t, const uint16_t* b, uint32_t fy, uint8_t* d, int32_t n) {                         \
    NS::ScaleRowV32(t, b, fy, d, n, ColourMask(F));                                                               \
  }                                                                                                               \
  template <int F>                                                                                                \
  constexpr vlScaleRows kScale{NS::ScaleRowH32, ScaleV<F>};                                                       \
  void ARGBTo11(const uint8_t* s, int32_t sr, uint8_t* d, int32_t dr, int32_t w, int32_t h) {                     \
    NS::SwapBytes32(s, sr, d, dr, w, h, 0xFFFFFF00u);                                                             \
  }                                                                                                               \
  void From11(const uint8_t* s, int32_t sr, uint8_t* d, int32_t dr, int32_t w, int32_t h) {                       \
    NS::SwapBytes32(s, sr, d, dr, w, h, ~0u);                                                                     \
  }                                                                                                               \
  void ARGBTo12(const uint8_t* s, int32_t sr, uint8_t* d, int32_t dr, int32_t w, int32_t h) {                     \
    NS::ShiftPixels32(s, sr, d, dr, w, h, 1);                                                                     \
  }                                                                                                               \
  void From12(const uint8_t* s, int32_t sr, uint8_t* d, int32_t dr, int32_t w, int32_t h) {                       \
    NS::ShiftPixels32(s, sr, d, dr, w, h, 0);                                                                     \
  }                                                                                                               \
  }
VL_WRAPPERS(vl_sse2)
VL_WRAPPERS(vl_avx2)
#endif

// Rows for one 32-bit format and one instruction set.
#define VL_ROW(op, F, NS, cpu, fn) {op, F, F, VL_FP_NONE, cpu, NS##_rows::fn<F>}
#define VL_ROWS4(op, NS, cpu, fn) \
  VL_ROW(op, 10, NS, cpu, fn), VL_ROW(op, 11, NS, cpu, fn), VL_ROW(op, 12, NS, cpu, fn), VL_ROW(op, 13, NS, cpu, fn)

#ifdef VL_HAVE_X86_KERNELS
const vlFastPath<vlAlphaBlendFn> kAlphaBlend[] = {
    VL_ROWS4("alpha blend", vl_avx2, VL_CPU_AVX2, AlphaBlend),
    VL_ROWS4("alpha blend", vl_sse2, VL_CPU_SSE2, AlphaBlend),
    {"alpha blend", 4, 4, VL_FP_NONE, VL_CPU_AVX2, vl_avx2::AlphaBlend565},
    {"alpha blend", 4, 4, VL_FP_NONE, VL_CPU_SSE2, vl_sse2::AlphaBlend565},
};
const vlFastPath<vlCoverageColourFn> kCoverageColour[] = {
    VL_ROWS4("alpha-plane colour", vl_avx2, VL_CPU_AVX2, CoverageColour),
    VL_ROWS4("alpha-plane colour", vl_sse2, VL_CPU_SSE2, CoverageColour),
};
const vlFastPath<vlBlendColorFn> kBlendColor[] = {
    VL_ROWS4("colour blend", vl_avx2, VL_CPU_AVX2, BlendColor),
    VL_ROWS4("colour blend", vl_sse2, VL_CPU_SSE2, BlendColor),
};
#define VL_MIXM(F, NS, cpu) {"mix", F, F, VL_FP_MASK, cpu, NS##_rows::Mix<F>}
const vlFastPath<vlMixFn> kMix[] = {
    VL_ROWS4("mix", vl_avx2, VL_CPU_AVX2, Mix),
    VL_MIXM(10, vl_avx2, VL_CPU_AVX2), VL_MIXM(11, vl_avx2, VL_CPU_AVX2), VL_MIXM(12, vl_avx2, VL_CPU_AVX2),
    VL_MIXM(13, vl_avx2, VL_CPU_AVX2),
    VL_ROWS4("mix", vl_sse2, VL_CPU_SSE2, Mix),
    VL_MIXM(10, vl_sse2, VL_CPU_SSE2), VL_MIXM(11, vl_sse2, VL_CPU_SSE2), VL_MIXM(12, vl_sse2, VL_CPU_SSE2),
    VL_MIXM(13, vl_sse2, VL_CPU_SSE2),
};
#define VL_SCALE(F, NS, cpu) {"smooth scale", F, F, VL_FP_NONE, cpu, &NS##_rows::kScale<F>}
const vlFastPath<const vlScaleRows*> kScaleSmooth[] = {
    VL_SCALE(10, vl_avx2, VL_CPU_AVX2), VL_SCALE(11, vl_avx2, VL_CPU_AVX2), VL_SCALE(12, vl_avx2, VL_CPU_AVX2),
    VL_SCALE(13, vl_avx2, VL_CPU_AVX2), VL_SCALE(10, vl_sse2, VL_CPU_SSE2), VL_SCALE(11, vl_sse2, VL_CPU_SSE2),
    VL_SCALE(12, vl_sse2, VL_CPU_SSE2), VL_SCALE(13, vl_sse2, VL_CPU_SSE2),
};
// Copies and fills move whole pixels, so one row serves every 32-bit format.
#define VL_ANY32(op, NS, cpu, fn) \
  {op, 10, 10, VL_FP_NONE, cpu, fn}, {op, 11, 11, VL_FP_NONE, cpu, fn}, {op, 12, 12, VL_FP_NONE, cpu, fn}, \
  {op, 13, 13, VL_FP_NONE, cpu, fn}
const vlFastPath<vlBlitJobFn> kCoverageCopy[] = {
    VL_ANY32("coverage copy", vl_avx2, VL_CPU_AVX2, vl_avx2_rows::CoverageCopy),
    VL_ANY32("coverage copy", vl_sse2, VL_CPU_SSE2, vl_sse2_rows::CoverageCopy),
};
// Nearest scaling copies whole pixels: one row per size of pixel.
const vlFastPath<vlNearestRowFn> kScaleNearest[] = {
    VL_ANY32("nearest scale", vl_avx2, VL_CPU_AVX2, vl_avx2::NearestRow32),
    VL_ANY32("nearest scale", vl_sse2, VL_CPU_SSE2, vl_sse2::NearestRow32),
    {"nearest scale", 4, 4, VL_FP_NONE, VL_CPU_AVX2, vl_avx2::NearestRow16},
    {"nearest scale", 4, 4, VL_FP_NONE, VL_CPU_SSE2, vl_sse2::NearestRow16},
};
const vlFastPath<vlAndWordsFn> kAndWords[] = {
    {"and words", -1, -1, VL_FP_NONE, VL_CPU_AVX2, vl_avx2::AndWords32},
    {"and words", -1, -1, VL_FP_NONE, VL_CPU_SSE2, vl_sse2::AndWords32},
};
const vlFastPath<vlScaleBytesFn> kScaleBytes[] = {
    {"alpha times opacity", -1, -1, VL_FP_NONE, VL_CPU_AVX2, vl_avx2::ScaleBytes},
    {"alpha times opacity", -1, -1, VL_FP_NONE, VL_CPU_SSE2, vl_sse2::ScaleBytes},
};
const vlFastPath<vlCoverOverRowFn> kCoverOver[] = {
    {"cover over", -1, -1, VL_FP_NONE, VL_CPU_AVX2, vl_avx2::CoverOverRow},
    {"cover over", -1, -1, VL_FP_NONE, VL_CPU_SSE2, vl_sse2::CoverOverRow},
};
const vlFastPath<vlDissolveFn> kDissolve[] = {
    {"dissolve bytes", -1, -1, VL_FP_NONE, VL_CPU_AVX2, vl_avx2::DissolveBytes},
    {"dissolve bytes", -1, -1, VL_FP_NONE, VL_CPU_SSE2, vl_sse2::DissolveBytes},
};
const vlFastPath<vlMaskCopyFn> kMaskCopy[] = {
    VL_ANY32("mask copy", vl_avx2, VL_CPU_AVX2, vl_avx2::MaskCopy32),
    VL_ANY32("mask copy", vl_sse2, VL_CPU_SSE2, vl_sse2::MaskCopy32),
};
const vlFastPath<vlFillFn> kFill[] = {
    VL_ANY32("fill", vl_avx2, VL_CPU_AVX2, vl_avx2::Fill32),
    VL_ANY32("fill", vl_sse2, VL_CPU_SSE2, vl_sse2::Fill32),
};
// ARGB words to and from the other 32-bit formats (the alpha byte as the
// general loops treat it: kept from format 11, dropped into 12 and 13) and
// RGB565.
#define VL_CONVERT(NS, cpu)                                                                                       \
  {"convert", 10, 11, VL_FP_NONE, cpu, NS##_rows::ARGBTo11}, {"convert", 11, 10, VL_FP_NONE, cpu, NS##_rows::From11}, \
      {"convert", 10, 12, VL_FP_NONE, cpu, NS##_rows::ARGBTo12},                                                  \
      {"convert", 12, 10, VL_FP_NONE, cpu, NS##_rows::From12},                                                    \
      {"convert", 10, 13, VL_FP_NONE, cpu, NS::SwapRedBlue32}, {"convert", 13, 10, VL_FP_NONE, cpu, NS::SwapRedBlue32}, \
      {"convert", 10, 4, VL_FP_NONE, cpu, NS::ARGBTo565}, {"convert", 4, 10, VL_FP_NONE, cpu, NS::RGB565ToARGB}
const vlFastPath<vlConvertFn> kConvert[] = {
    VL_CONVERT(vl_avx2, VL_CPU_AVX2),
    VL_CONVERT(vl_sse2, VL_CPU_SSE2),
    {"convert", 10, 10, VL_FP_NONE, VL_CPU_PLAIN, CopyRows32},
};
const vlFastPath<vlYUVRowFn> kJPEGYCC[] = {
    {"jpeg ycc row", -1, -1, VL_FP_NONE, VL_CPU_AVX2, vl_avx2::YCCRowToXRGB},
    {"jpeg ycc row", -1, -1, VL_FP_NONE, VL_CPU_SSE2, vl_sse2::YCCRowToXRGB},
};
const vlFastPath<vlYUVRowFn> kJPEGGrey[] = {
    {"jpeg grey row", -1, -1, VL_FP_NONE, VL_CPU_AVX2, vl_avx2::GreyRowToXRGB},
    {"jpeg grey row", -1, -1, VL_FP_NONE, VL_CPU_SSE2, vl_sse2::GreyRowToXRGB},
};
const vlFastPath<vlSampleRowFn> kSampleRows[] = {
    {"sample row", 3, 10, VL_FP_NONE, VL_CPU_AVX2, vl_avx2::RGBRowToXRGB},
    {"sample row", 3, 10, VL_FP_NONE, VL_CPU_SSE2, vl_sse2::RGBRowToXRGB},
    {"sample row", 4, 10, VL_FP_NONE, VL_CPU_AVX2, vl_avx2::RGBARowToARGB},
    {"sample row", 4, 10, VL_FP_NONE, VL_CPU_SSE2, vl_sse2::RGBARowToARGB},
};
#else
// Other processors: the general kernels, already instantiated per format,
// are the plain C++ path.
const vlFastPath<vlAlphaBlendFn> kAlphaBlend[] = {{"alpha blend", -1, -1, 0, 0, nullptr}};
const vlFastPath<vlBlendColorFn> kBlendColor[] = {{"colour blend", -1, -1, 0, 0, nullptr}};
const vlFastPath<vlCoverageColourFn> kCoverageColour[] = {{"alpha-plane colour", -1, -1, 0, 0, nullptr}};
const vlFastPath<vlMixFn> kMix[] = {{"mix", -1, -1, 0, 0, nullptr}};
const vlFastPath<const vlScaleRows*> kScaleSmooth[] = {{"smooth scale", -1, -1, 0, 0, nullptr}};
const vlFastPath<vlNearestRowFn> kScaleNearest[] = {{"nearest scale", -1, -1, 0, 0, nullptr}};
const vlFastPath<vlBlitJobFn> kCoverageCopy[] = {{"coverage copy", -1, -1, 0, 0, nullptr}};
const vlFastPath<vlFillFn> kFill[] = {{"fill", -1, -1, 0, 0, nullptr}};
const vlFastPath<vlMaskCopyFn> kMaskCopy[] = {{"mask copy", -1, -1, 0, 0, nullptr}};
const vlFastPath<vlDissolveFn> kDissolve[] = {{"dissolve bytes", -2, -2, 0, 0, nullptr}};
const vlFastPath<vlScaleBytesFn> kScaleBytes[] = {{"alpha times opacity", -2, -2, 0, 0, nullptr}};
const vlFastPath<vlCoverOverRowFn> kCoverOver[] = {{"cover over", -2, -2, 0, 0, nullptr}};
// Nearest scaling copies whole pixels: one row per size of pixel.
const vlFastPath<vlNearestRowFn> kScaleNearest[] = {
    VL_ANY32("nearest scale", vl_avx2, VL_CPU_AVX2, vl_avx2::NearestRow32),
    VL_ANY32("nearest scale", vl_sse2, VL_CPU_SSE2, vl_sse2::NearestRow32),
    {"nearest scale", 4, 4, VL_FP_NONE, VL_CPU_AVX2, vl_avx2::NearestRow16},
    {"nearest scale", 4, 4, VL_FP_NONE, VL_CPU_SSE2, vl_sse2::NearestRow16},
};
const vlFastPath<vlAndWordsFn> kAndWords[] = {{"and words", -2, -2, 0, 0, nullptr}};
const vlFastPath<vlConvertFn> kConvert[] = {{"convert", 10, 10, VL_FP_NONE, VL_CPU_PLAIN, CopyRows32}};
const vlFastPath<vlYUVRowFn> kJPEGYCC[] = {{"jpeg ycc row", -2, -2, 0, 0, nullptr}};
const vlFastPath<vlYUVRowFn> kJPEGGrey[] = {{"jpeg grey row", -2, -2, 0, 0, nullptr}};
const vlFastPath<vlSampleRowFn> kSampleRows[] = {{"sample row", -2, -2, 0, 0, nullptr}};
#endif

}  // namespace

uint32_t FastPathFeatures() {
  uint32_t f = gFeatures.load(std::memory_order_relaxed);
  if (f == ~0u) {
    f = DetectFeatures();
    gFeatures.store(f, std::memory_order_relaxed);
  }
  return f;
}

void SetFastPathFeatures(uint32_t features) { gFeatures.store(features, std::memory_order_relaxed); }

vlAlphaBlendFn FastAlphaBlend(int32_t format) { return FindFastPath(kAlphaBlend, format, format, VL_FP_NONE); }
vlCoverageColourFn FastCoverageColour(int32_t format) {
  return FindFastPath(kCoverageColour, format, format, VL_FP_NONE);
}
vlBlitJobFn FastCoverageCopy(int32_t format) { return FindFastPath(kCoverageCopy, format, format, VL_FP_NONE); }
vlAndWordsFn FastAndWords() { return FindFastPath(kAndWords, -1, -1, VL_FP_NONE); }
vlScaleBytesFn FastScaleAlphaBytes() { return FindFastPath(kScaleBytes, -1, -1, VL_FP_NONE); }
vlCoverOverRowFn FastCoverOverRow() { return FindFastPath(kCoverOver, -1, -1, VL_FP_NONE); }
vlDissolveFn FastDissolveBytes() { return FindFastPath(kDissolve, -1, -1, VL_FP_NONE); }
vlMaskCopyFn FastMaskCopy(int32_t format) { return FindFastPath(kMaskCopy, format, format, VL_FP_NONE); }
vlFillFn FastFill(int32_t format) { return FindFastPath(kFill, format, format, VL_FP_NONE); }
vlBlendColorFn FastBlendColor(int32_t format) { return FindFastPath(kBlendColor, format, format, VL_FP_NONE); }
vlMixFn FastMix(int32_t format, bool masked) {
  return FindFastPath(kMix, format, format, masked ? VL_FP_MASK : VL_FP_NONE);
}
namespace {

// Smooth scaling is chosen by what the processor does fast rather than by
// the widest instruction set: some processors run the wide permutes and
// gathers of the AVX2 rows slower than the SSE2 ones. The first smooth
// scale times each allowed set's rows on a 1080p-to-720p row pair (every
// candidate's bytes are equal, so only the speed differs) and keeps the
// fastest for the features it was measured under.
std::atomic<uint64_t> gScaleChoice{0};  // features << 32 | chosen feature; 0: not measured

double TimeScaleRows(const vlScaleRows& k, const uint8_t* src, const int32_t* index, const uint16_t* frac4,
                     uint16_t* rows, uint8_t* out, int32_t srcWidth, int32_t count) {
  const auto start = std::chrono::steady_clock::now();
  for (int r = 0; r < 4; ++r) {
    k.horizontal(src, src + srcWidth * 4, index, frac4, count, srcWidth, rows, rows + count * 4);
    k.vertical(rows, rows + count * 4, 0x4000u + 0x3000u * static_cast<uint32_t>(r), out, count);
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The fastest of n candidate sets (the first unless another is clearly
// faster); throws std::bad_alloc when its sample rows cannot be made.
uint32_t FastestScaleSet(const uint32_t* candidates, int n) {
  constexpr int32_t kSrc = 1920, kCount = 1280;
  std::vector<uint8_t> src(size_t{kSrc} * 8), out(size_t{kCount} * 4);
  std::vector<int32_t> index(kCount);
  std::vector<uint16_t> frac4(size_t{kCount} * 4), rows(size_t{kCount} * 8);
  uint32_t seed = 12345;
  for (auto& b : src) b = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 16);
  for (int32_t i = 0; i < kCount; ++i) {
    const uint32_t at = static_cast<uint32_t>(i) * 3 * 32768;  // 1.5 source columns a step, in 16.16
    index[i] = static_cast<int32_t>(at >> 16);
    for (int c = 0; c < 4; ++c) frac4[static_cast<size_t>(i) * 4 + c] = static_cast<uint16_t>(at);
  }
  // Rounds alternate the candidates; each keeps its best time, which
  // another process taking the core can only lengthen.
  double best[4] = {1e9, 1e9, 1e9, 1e9};
  for (int round = 0; round < 7; ++round)
    for (int c = 0; c < n; ++c) {
      const vlScaleRows* k = nullptr;
      for (const auto& r : kScaleSmooth)
        if (r.srcFormat == 10 && r.feature == candidates[c]) k = r.fn;
      const double t = TimeScaleRows(*k, src.data(), index.data(), frac4.data(), rows.data(), out.data(), kSrc, kCount);
      if (t < best[c]) best[c] = t;
    }
  int choice = 0;
  for (int c = 1; c < n; ++c)
    if (best[c] < best[choice] * 0.95) choice = c;
  return candidates[choice];
}

// The set to use under the features have: the only one allowed, or the
// fastest of several; 0 when none is.
uint32_t MeasureScaleChoice(uint32_t have) noexcept {
  uint32_t candidates[4];
  int n = 0;
  for (const auto& r : kScaleSmooth)
    if (r.srcFormat == 10 && (have & r.feature) && n < 4) candidates[n++] = r.feature;
  if (n <= 1) return n ? candidates[0] : 0;
  try {
    return FastestScaleSet(candidates, n);
  } catch (const std::bad_alloc&) {
    return candidates[0];  // no room to measure: the widest
  }
}

}  // namespace

const vlScaleRows* FastScaleSmooth(int32_t format) {
  const uint32_t have = FastPathFeatures();
  uint64_t choice = gScaleChoice.load(std::memory_order_relaxed);
  if (choice == 0 || static_cast<uint32_t>(choice >> 32) != have) {
    choice = uint64_t{have} << 32 | MeasureScaleChoice(have);
    gScaleChoice.store(choice, std::memory_order_relaxed);
  }
  const uint32_t chosen = static_cast<uint32_t>(choice);
  for (const auto& r : kScaleSmooth)
    if (r.srcFormat == format && r.dstFormat == format && r.feature == chosen && (have & r.feature)) return r.fn;
  return FindFastPath(kScaleSmooth, format, format, VL_FP_NONE);
}
vlNearestRowFn FastScaleNearest(int32_t format) { return FindFastPath(kScaleNearest, format, format, VL_FP_NONE); }
vlYUVRowFn FastJPEGYCCRow() { return FindFastPath(kJPEGYCC, -1, -1, VL_FP_NONE); }
vlYUVRowFn FastJPEGGreyRow() { return FindFastPath(kJPEGGrey, -1, -1, VL_FP_NONE); }
vlSampleRowFn FastSampleRow(int32_t channels) { return FindFastPath(kSampleRows, channels, 10, VL_FP_NONE); }
vlConvertFn FastConvert(int32_t srcFormat, int32_t dstFormat) {
  return FindFastPath(kConvert, srcFormat, dstFormat, VL_FP_NONE);
}
