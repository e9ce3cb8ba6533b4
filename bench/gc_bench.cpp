// Full collections over a heap of 10^5 and 10^6 live objects (tables,
// strings, userdata and native closures hanging off one array), in
// milliseconds per collection.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "vm/gc.h"
#include "vm/protect.h"
#include "vm/stack_api.h"

namespace {

int Noop(vlVMState*) { return 0; }

void FillHeap(vlVMState* L, int count) {
  vl::SetGCThresholdKB(L, 4194304);  // no collection while building
  vl::PushNewSizedTable(L, count, 0);
  char name[32];
  for (int i = 1; i <= count; i++) {
    vl::EnsureStackSpace(L, 4);
    switch (i % 4) {
      case 0: vl::PushNewTable(L); break;
      case 1:
        std::snprintf(name, sizeof name, "live string %d", i);
        vl::PushString(L, name);
        break;
      case 2: vl::PushNewUserdata(L, 16); break;
      default:
        vl::PushNumber(L, i);
        vl::PushNativeClosure(L, Noop, 1);
        break;
    }
    vl::RawSetTableIndex(L, 1, i);
  }
}

void BM_FullCollection(benchmark::State& state) {
  vlVMState* L = vl::OpenVmState();
  int count = static_cast<int>(state.range(0));
  if (vl::RunProtectedFn(L, [&] { FillHeap(L, count); }) != 0) {
    state.SkipWithError("building the heap failed");
    vl::CloseVmState(L);
    return;
  }
  for (auto _ : state) {
    vl::RunProtectedFn(L, [&] { vl::CollectGarbage(L); });
  }
  state.counters["live_objects"] = count;
  state.counters["heap_KB"] = vl::GetGCCountKB(L);
  vl::CloseVmState(L);
}
BENCHMARK(BM_FullCollection)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
