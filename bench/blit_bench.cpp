// The main blit kernels on a 640 x 480 picture: plain, masked and alpha
// copies and the colour fill and blend, in a 4-byte and a 2-byte format.
#include <benchmark/benchmark.h>

#include <random>

#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "platform/offscreen_bitmap.h"

namespace {

struct Pictures {
  vlBitmap *src, *dst, *mask, *alpha;
  explicit Pictures(int format) {
    SetGlobalPixelFormat(format);
    src = NewBitmap(640, 480, 0, nullptr);
    dst = NewBitmap(640, 480, 0, nullptr);
    SetGlobalPixelFormat(-1);
    mask = NewMaskPlane(src, 640, 480, 1, nullptr, 0);
    alpha = NewAlphaPlane(640, 480, 1, nullptr, 0);
    std::mt19937 rng(1);
    vlPixelAccess a;
    for (vlBitmap* b : {src, dst, mask, alpha}) {
      LockPixels(b, 0, &a);
      const size_t n = static_cast<size_t>(a.rowLength) * a.height * a.bytesPerPixel;
      for (size_t i = 0; i < n; ++i) a.pixels[i] = static_cast<uint8_t>(rng());
      if (b == mask) {  // a disc: solid inside, one ragged byte per row edge
        for (int y = 0; y < a.height; ++y)
          for (int x = 0; x < a.rowLength; ++x) {
            const int dx = x * 8 - 320, dy = y - 240;
            uint8_t& m = a.pixels[y * a.rowLength + x];
            const int d2 = dx * dx + dy * dy;
            m = d2 < 230 * 230 ? 0xFF : d2 < 240 * 240 ? m : 0x00;
          }
      }
      UnlockPixels(b, &a);
    }
  }
  ~Pictures() {
    DeleteMaskPlane(mask);
    DeleteAlphaPlane(alpha);
    DeleteBitmap(src);
    DeleteBitmap(dst);
  }
};

void Report(benchmark::State& state) {
  state.SetItemsProcessed(state.iterations() * 640 * 480);
}

void BM_Copy(benchmark::State& state) {
  Pictures p(static_cast<int>(state.range(0)));
  for (auto _ : state) BltBitmap(p.src, 0, 0, p.dst, 0, 0, 640, 480);
  Report(state);
}
void BM_Masked(benchmark::State& state) {
  Pictures p(static_cast<int>(state.range(0)));
  for (auto _ : state) BltBitmapMasked(p.src, 0, 0, p.dst, 0, 0, 640, 480, p.mask);
  Report(state);
}
void BM_Alpha(benchmark::State& state) {
  Pictures p(static_cast<int>(state.range(0)));
  for (auto _ : state) BltBitmapAlpha(p.src, 0, 0, p.dst, 0, 0, 640, 480, p.alpha);
  Report(state);
}
// The coverage-plane loops: copy where non-zero, and the blend over a
// target that keeps its own alpha plane (read, not written).
void BM_CoverageMasked(benchmark::State& state) {
  Pictures p(static_cast<int>(state.range(0)));
  for (auto _ : state) AlphaBlitBitmaps(p.src, 0, 0, p.dst, 0, 0, 640, 480, p.alpha, nullptr, 1);
  Report(state);
}
void BM_CoverageOver(benchmark::State& state) {
  Pictures p(static_cast<int>(state.range(0)));
  vlBitmap* target = NewAlphaPlane(640, 480, 0, nullptr, 0);
  vlPixelAccess a;
  LockPixels(target, 0, &a);
  for (int i = 0; i < a.rowLength * a.height; ++i) a.pixels[i] = static_cast<uint8_t>(i * 7);
  UnlockPixels(target, &a);
  for (auto _ : state) AlphaBlitBitmaps(p.src, 0, 0, p.dst, 0, 0, 640, 480, p.alpha, target, 2);
  DeleteAlphaPlane(target);
  Report(state);
}
void BM_Fill(benchmark::State& state) {
  Pictures p(static_cast<int>(state.range(0)));
  for (auto _ : state) FillBitmapRect(p.dst, 0, 0, 640, 480, 0x123456);
  Report(state);
}
void BM_BlendFill(benchmark::State& state) {
  Pictures p(static_cast<int>(state.range(0)));
  vlPixelAccess a;
  LockPixels(p.dst, 0, &a);
  for (auto _ : state) FillPixels(a.pixels, 0, 0, 640, 480, 0x123456, 100, a.rowLength, a.format);
  UnlockPixels(p.dst, &a);
  Report(state);
}

// Format 10 (4-byte working order) and 7 (byte-swapped BGR 5-6-5).
BENCHMARK(BM_Copy)->Arg(10)->Arg(7);
BENCHMARK(BM_Masked)->Arg(10)->Arg(7);
BENCHMARK(BM_Alpha)->Arg(10)->Arg(13)->Arg(7);
BENCHMARK(BM_CoverageMasked)->Arg(10)->Arg(7);
BENCHMARK(BM_CoverageOver)->Arg(10)->Arg(13)->Arg(7);
BENCHMARK(BM_Fill)->Arg(10)->Arg(7);
BENCHMARK(BM_BlendFill)->Arg(10)->Arg(7);

}  // namespace

BENCHMARK_MAIN();
