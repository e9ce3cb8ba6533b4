// The affine renderer turning a 640 x 480 picture by 30 degrees with a
// slight scale, nearest and bilinear, with a mask, an alpha plane or no
// plane, in a 4-byte and a 2-byte format.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "graphics/affine.h"
#include "graphics/bitmap.h"

namespace {

constexpr int kW = 640, kH = 480, kT = 760;  // the target holds the turned picture

void BM_Affine(benchmark::State& state) {
  const int bpp = static_cast<int>(state.range(0)), smooth = static_cast<int>(state.range(1));
  const int planes = static_cast<int>(state.range(2));  // 0 none, 1 mask, 2 alpha
  std::vector<uint8_t> src(static_cast<size_t>(kW) * kH * bpp), dst(static_cast<size_t>(kT) * kT * bpp);
  std::vector<uint8_t> mask(MaskRowBytes(kW) * kH), tmask(MaskRowBytes(kT) * kT);
  std::vector<uint8_t> alpha(AlphaRowBytes(kW) * kH), talpha(AlphaRowBytes(kT) * kT);
  std::mt19937 rng(1);
  for (auto& b : src) b = static_cast<uint8_t>(rng());
  for (auto& b : mask) b = rng() % 8 ? 0xFF : static_cast<uint8_t>(rng());
  for (auto& b : alpha) b = static_cast<uint8_t>(rng());
  vlAffineJob j;
  j.source = src.data();
  j.sourceRow = kW;
  j.sourceWidth = kW;
  j.sourceHeight = kH;
  j.target = dst.data();
  j.targetRow = kT;
  j.targetWidth = kT;
  j.targetHeight = kT;
  j.bytesPerPixel = bpp;
  j.format = bpp == 4 ? 10 : 4;
  j.targetMask = tmask.data();
  j.targetMaskRowBytes = MaskRowBytes(kT);
  j.targetAlpha = talpha.data();
  j.targetAlphaRowBytes = AlphaRowBytes(kT);
  if (planes == 1) {
    j.sourceMask = mask.data();
    j.sourceMaskRowBytes = MaskRowBytes(kW);
  } else if (planes == 2) {
    j.sourceAlpha = alpha.data();
    j.sourceAlphaRowBytes = AlphaRowBytes(kW);
  }
  j.smooth = smooth;
  const double a = 30 * 3.141592653589793 / 180, s = 1.05;
  j.sx = s * std::cos(a);
  j.rx = s * std::sin(a);
  j.ry = -s * std::sin(a);
  j.sy = s * std::cos(a);
  j.tx = kH * s * std::sin(a);
  j.ty = 0;
  for (auto _ : state) AffineRenderPix(j);
  state.SetItemsProcessed(state.iterations() * kW * kH);
}

BENCHMARK(BM_Affine)->ArgsProduct({{4, 2}, {0, 1}, {0, 1, 2}});

}  // namespace

BENCHMARK_MAIN();
