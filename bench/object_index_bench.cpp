// Making, finding and freeing one object among many: the cost must not
// grow with the number there are (the index by identifier).
#include <benchmark/benchmark.h>


#include "graphics/pixel_format.h"
#include "platform/offscreen_bitmap.h"
#include "media/sound/sound_data.h"
#include "media/sound/sound_library.h"
#include "objects/brushes/brush.h"
#include "display/commands/layer_commands.h"
#include "display/commands/layers_library.h"
#include "display/layers/layers.h"
#include "objects/anims/anim.h"
#include "platform/intervals.h"
#include "runtime/os.h"
#include "platform/timers.h"
#include "runtime/error_vm.h"
#include "text/vector/vector_library.h"
#include "vm/protect.h"
#include "vm/stack_api.h"
#include "vm/state.h"

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

// Making 10,000 objects one after the other: the thousand made first
// (range 0 made before them) against the thousand made last (range 9000).
// make(number) gives 0 or an error; freeAll ends every object.
template <class Make, class FreeAll>
void MakeThousand(benchmark::State& state, Make make, FreeAll freeAll) {
  constexpr int32_t kThousand = 1000;
  const auto before = static_cast<int32_t>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    for (int32_t i = 1; i <= before; ++i) make(i);
    state.ResumeTiming();
    for (int32_t i = before + 1; i <= before + kThousand; ++i)
      if (make(i)) state.SkipWithError("making an object failed");
    state.PauseTiming();
    freeAll();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kThousand);
}

// Brushes made as a script makes them over numbers that may be in use.
void MakeThousandBrushes(benchmark::State& state) {
  SetGlobalPixelFormat(VL_PIXFMT_ARGB32);
  MakeThousand(
      state,
      [](int32_t number) {
        vlObjectId id{number, nullptr};
        FreeBrushByID(nullptr, id, 0);
        return NewBrush(&id, 1, 1, 0, 0, 0, 0, nullptr);
      },
      [] { FreeAllBrushes(nullptr); });
  SetGlobalPixelFormat(-1);
}

// Paths made as StartPath makes them: a number in use is freed first.
void MakeThousandPaths(benchmark::State& state) {
  MakeThousand(
      state,
      [](int32_t number) {
        vlObjectId id{number, nullptr};
        vlPath* old = nullptr;
        if (GetPathByID(id, &old) == 0) FreePathRecord(nullptr, old);
        return AddPath(&id) ? 0 : 1000;
      },
      [] { FreeVectorLibrary(nullptr); });
}

// A VM whose command handlers are called with numbers and texts.
struct CommandVM {
  CommandVM() : L(vl::OpenVmState()) { InstallErrorSystem(L); }
  ~CommandVM() {
    FreeErrorSystem(L);
    vl::CloseVmState(L);
  }
  template <class Push>
  int Call(int (*handler)(vlVMState*), Push push) {
    vl::SetStackTop(L, 0);
    push();
    int result = 0;
    const int raised = vl::RunProtectedFn(L, [&] { result = handler(L); });
    return raised ? raised : result;
  }
  vlVMState* L;
};

// AddMove with a new number makes a move list.
void MakeThousandMoveLists(benchmark::State& state) {
  CommandVM vm;
  MakeThousand(
      state,
      [&](int32_t number) {
        return vm.Call(CmdAddMove, [&] {
          vl::PushNumber(vm.L, number);
          vl::PushNumber(vm.L, 25);  // HIDELAYER
          vl::PushNumber(vm.L, 1);
        });
      },
      [] { FreeMoveLists(nullptr); });
}

// BeginAnimStream with a new number opens a stream; the file is the null
// device, written in place, so that the file system does not swamp the
// cost of the list.
void MakeThousandAnimStreams(benchmark::State& state) {
  CommandVM vm;
  MakeThousand(
      state,
      [&](int32_t number) {
        return vm.Call(CmdBeginAnimStream, [&] {
          vl::PushNumber(vm.L, number);
          vl::PushString(vm.L, "/dev/null");
          vl::PushNumber(vm.L, 2);
          vl::PushNumber(vm.L, 2);
        });
      },
      [&] { FreeAnimStreams(vm.L); });
}

int NoCallback(vlVMState*) { return 0; }

// SetInterval with a new number starts an interval on a POSIX timer.
void MakeThousandIntervals(benchmark::State& state) {
  CommandVM vm;
  if (InitTimers()) {
    state.SkipWithError("no timers");
    return;
  }
  MakeThousand(
      state,
      [&](int32_t number) {
        return vm.Call(CmdSetInterval, [&] {
          vl::PushNumber(vm.L, number);
          vl::PushNativeClosure(vm.L, NoCallback, 0);
          vl::PushNumber(vm.L, 600000);
        });
      },
      [&] { FreeTimerObjects(vm.L); });
  ShutdownTimers();
}

}  // namespace

BENCHMARK(MakeThousandBrushes)->Arg(0)->Arg(9000)->Unit(benchmark::kMillisecond);
BENCHMARK(MakeThousandPaths)->Arg(0)->Arg(9000)->Unit(benchmark::kMillisecond);
BENCHMARK(MakeThousandMoveLists)->Arg(0)->Arg(9000)->Unit(benchmark::kMillisecond);
BENCHMARK(MakeThousandAnimStreams)->Arg(0)->Arg(9000)->Unit(benchmark::kMillisecond);
BENCHMARK(MakeThousandIntervals)->Arg(0)->Arg(9000)->Unit(benchmark::kMillisecond);
BENCHMARK(OneSampleAmongMany)->Arg(100)->Arg(1000)->Arg(10000);
BENCHMARK(OneBrushAmongMany)->Arg(100)->Arg(1000)->Arg(10000);
BENCHMARK(MakeManyBrushes)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
