// Making, finding and freeing one brush or sample among many: the cost must
// not grow with the number there are (the index by identifier).
#include <benchmark/benchmark.h>

#include "graphics/pixel_format.h"
#include "platform/offscreen_bitmap.h"
#include "media/sound/sound_data.h"
#include "media/sound/sound_library.h"
#include "objects/brushes/brush.h"
#include "platform/os.h"

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

int AddOneSample(int32_t number) {
  auto* pcm = static_cast<uint8_t*>(AllocMemory(2, 1));
  if (!pcm) return 1000;
  vlSoundData* data = nullptr;
  uint32_t format = 0;
  if (int status = MakeSoundData(pcm, 2, 8000, 0, &data, &format)) return status;
  return AppendSample(nullptr, {number, nullptr}, data, format, 8000, nullptr, nullptr);
}

// Loading, finding and freeing one sample among many.
void OneSampleAmongMany(benchmark::State& state) {
  const auto count = static_cast<int32_t>(state.range(0));
  for (int32_t i = 1; i <= count; ++i)
    if (AddOneSample(i)) state.SkipWithError("out of memory");
  for (auto _ : state) {
    AddOneSample(count + 1);
    vlSample* found = nullptr;
    GetSampleByID({count + 1, nullptr}, &found);
    benchmark::DoNotOptimize(found);
    FreeSampleByID(nullptr, {count + 1, nullptr}, 1);
  }
  FreeSoundLib(nullptr);
}

}  // namespace

BENCHMARK(OneSampleAmongMany)->Arg(100)->Arg(1000)->Arg(10000);
BENCHMARK(OneBrushAmongMany)->Arg(100)->Arg(1000)->Arg(10000);
BENCHMARK(MakeManyBrushes)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
