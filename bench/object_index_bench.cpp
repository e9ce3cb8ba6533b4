// Making, finding and freeing one brush among many: the cost must not grow
// with the number of brushes there are (the index by identifier).
#include <benchmark/benchmark.h>

#include "graphics/pixel_format.h"
#include "platform/offscreen_bitmap.h"
#include "objects/brushes/brush.h"

namespace {

void OneBrushAmongMany(benchmark::State& state) {
  SetGlobalPixelFormat(VL_PIXFMT_ARGB32);
  const auto count = static_cast<int32_t>(state.range(0));
  for (int32_t i = 1; i <= count; ++i) {
    vlObjectId id{i, nullptr};
    if (NewBrush(&id, 1, 1, 0, 0, 0, 0, nullptr)) state.SkipWithError("out of memory");
  }
  vlObjectId extra{count + 1, nullptr};
  for (auto _ : state) {
    vlObjectId id = extra;
    vlBrush* made = nullptr;
    NewBrush(&id, 1, 1, 0, 0, 0, 0, &made);
    vlBrush* found = nullptr;
    GetBrushByID(nullptr, extra, &found, 0);
    benchmark::DoNotOptimize(found);
    FreeBrushByID(nullptr, extra, 1);
  }
  FreeAllBrushes(nullptr);
  SetGlobalPixelFormat(-1);
}

// A script making brushes 1..n one after the other.
void MakeManyBrushes(benchmark::State& state) {
  SetGlobalPixelFormat(VL_PIXFMT_ARGB32);
  const auto count = static_cast<int32_t>(state.range(0));
  for (auto _ : state) {
    for (int32_t i = 1; i <= count; ++i) {
      vlObjectId id{i, nullptr};
      FreeBrushByID(nullptr, id, 0);
      NewBrush(&id, 1, 1, 0, 0, 0, 0, nullptr);
    }
    state.PauseTiming();
    FreeAllBrushes(nullptr);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * count);
  SetGlobalPixelFormat(-1);
}

}  // namespace

BENCHMARK(OneBrushAmongMany)->Arg(100)->Arg(1000)->Arg(10000);
BENCHMARK(MakeManyBrushes)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
