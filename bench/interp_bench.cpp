// Interpreter benchmarks: each assembled program runs whole per iteration.
// interp_bench.py holds the equivalent Python programs and
// compare_interp.py prints the ratio of the two.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "tools/chunkasm/chunkasm.h"
#include "vm/call.h"
#include "vm/chunk.h"
#include "vm/func.h"
#include "vm/protect.h"
#include "vm/state.h"
#include "vm/table.h"
#include "vm/vmstring.h"

namespace {

constexpr const char* kNumericLoop = R"(
  loadk 0 #0
  loadk 1 #0
  loadk 2 #1000000
  loadk 3 #1
  jump t
b: add 0 0 1
t: forloop 1 b
  setglobal 0 "r"
  ret
)";

constexpr const char* kFib = R"(
  .function fib
    .params 1
    lt 0 0 #2
    jump recurse
    return 0 2
  recurse:
    getglobal 1 "fib"
    sub 2 0 #1
    call 1 2 2
    getglobal 2 "fib"
    sub 3 0 #2
    call 2 2 2
    add 1 1 2
    return 1 2
  .end
  .defun fib fib
  .call fib 27 -> r
  ret
)";

constexpr const char* kTableArray = R"(
  newtable 0 0 0
  loadk 1 #-1
  loadk 2 #99999
  loadk 3 #1
  jump t1
b1: setfield 0 1 1
t1: forloop 1 b1
  loadk 4 #0
  loadk 1 #-1
  loadk 2 #99999
  loadk 3 #1
  jump t2
b2: getfield 5 0 1
  add 4 4 5
t2: forloop 1 b2
  setglobal 4 "r"
  ret
)";

constexpr const char* kFieldGetSet = R"(
  .table 0 { x = 0 }
  loadk 1 #0
  loadk 2 #1000000
  loadk 3 #1
  jump t
b: getfield 4 0 "x"
  add 4 4 #1
  setfield 0 "x" 4
t: forloop 1 b
  getfield 4 0 "x"
  setglobal 4 "r"
  ret
)";

constexpr const char* kConcat = R"(
  loadk 1 #0
  loadk 2 #100000
  loadk 3 #1
  jump t
b: loadk 4 "key"
  copy 5 1
  concat 6 4 5
t: forloop 1 b
  setglobal 6 "r"
  ret
)";

constexpr const char* kCalls = R"(
  .function add
    .params 2
    add 2 0 1
    return 2 2
  .end
  .defun add add
  loadk 0 #0
  loadk 1 #0
  loadk 2 #1000000
  loadk 3 #1
  jump t
b: getglobal 4 "add"
  copy 5 0
  copy 6 1
  call 4 3 2
  copy 0 4
t: forloop 1 b
  setglobal 0 "r"
  ret
)";

constexpr const char* kNativeCalls = R"(
  loadk 0 #0
  loadk 1 #0
  loadk 2 #1000000
  loadk 3 #1
  jump t
b: getglobal 4 "inc"
  copy 5 1
  call 4 2 2
  add 0 0 4
t: forloop 1 b
  setglobal 0 "r"
  ret
)";

// A command with one number argument and one result.
int Inc(vlVMState* L) {
  vl::SetNumber(L->top, L->base[0].v.n + 1);
  L->top++;
  return 1;
}

struct Bytes {
  std::vector<uint8_t> data;
  bool done = false;
};

const char* ReadAll(vlVMState*, void* ud, size_t* size) {
  auto* b = static_cast<Bytes*>(ud);
  *size = b->done ? 0 : b->data.size();
  b->done = true;
  return reinterpret_cast<const char*>(b->data.data());
}

void RunProgram(benchmark::State& state, const char* text, int64_t items) {
  vlVMState* L = vl::OpenVmState();
  vl::RunProtectedFn(L, [&] {
    vlValue k;
    vl::SetString(&k, vl::InternCString(L, "inc"));
    vl::SetClosure(vl::TableSet(L, vl::ToTable(&L->globals), &k), vl::NewNativeClosure(L, Inc, 0));
  });
  Bytes b{vlasm::Assemble(text)};
  if (vl::LoadChunk(L, ReadAll, &b, "bench") != 0) {
    state.SkipWithError("chunk did not load");
    vl::CloseVmState(L);
    return;
  }
  vlValue fn = L->top[-1];
  for (auto _ : state) {
    ptrdiff_t at = L->top - L->stack;  // the call may move the stack
    *L->top++ = fn;
    int status = vl::CallProtected(L, 0, 0, 0);
    L->top = L->stack + at;
    if (status) {
      state.SkipWithError("script failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * items);
  vl::CloseVmState(L);
}

void BM_NumericLoop(benchmark::State& s) { RunProgram(s, kNumericLoop, 1000000); }
void BM_Fib27(benchmark::State& s) { RunProgram(s, kFib, 317811); }
void BM_TableArrayFillRead(benchmark::State& s) { RunProgram(s, kTableArray, 200000); }
void BM_FieldGetSet(benchmark::State& s) { RunProgram(s, kFieldGetSet, 1000000); }
void BM_StringConcat(benchmark::State& s) { RunProgram(s, kConcat, 100000); }
void BM_ScriptCalls(benchmark::State& s) { RunProgram(s, kCalls, 1000000); }
void BM_NativeCalls(benchmark::State& s) { RunProgram(s, kNativeCalls, 1000000); }

BENCHMARK(BM_NumericLoop)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Fib27)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TableArrayFillRead)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FieldGetSet)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StringConcat)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScriptCalls)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NativeCalls)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
