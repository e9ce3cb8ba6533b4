// Interpreter benchmarks: each assembled program runs whole per iteration.
// interp_bench.py holds the equivalent Python programs and
// compare_interp.py prints the ratio of the two.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "libraries/string/string_library.h"
#include "tools/chunkasm/chunkasm.h"
#include "vm/call.h"
#include "vm/chunk.h"
#include "vm/func.h"
#include "vm/protect.h"
#include "vm/stack_api.h"
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

// A class-like table with three methods reached through __index.
constexpr const char* kMethodCalls = R"(
  .function add
    .params 2
    getfield 2 0 "n"
    add 2 2 1
    setfield 0 "n" 2
    ret
  .end
  .function sub
    .params 2
    getfield 2 0 "n"
    sub 2 2 1
    setfield 0 "n" 2
    ret
  .end
  .function get
    .params 1
    getfield 1 0 "n"
    return 1 2
  .end
  newtable 0 0 0
  closure 1 add
  setfield 0 "add" 1
  closure 1 sub
  setfield 0 "sub" 1
  closure 1 get
  setfield 0 "get" 1
  newtable 1 0 0
  setfield 1 "__index" 0
  .table 2 { n = 0 }
  getglobal 3 "setmetatable"
  copy 4 2
  copy 5 1
  call 3 3 1
  loadk 6 #0
  loadk 7 #0
  loadk 8 #333334
  loadk 9 #1
  jump t
b: method 10 2 "add"
  copy 12 7
  call 10 3 1
  method 10 2 "sub"
  loadk 12 #1
  call 10 3 1
  method 10 2 "get"
  call 10 2 2
  add 6 6 10
t: forloop 7 b
  setglobal 6 "r"
  ret
)";

// Split, find, replace, upper-case and format 10^5 texts.
constexpr const char* kStringOps = R"(
  loadk 0 #0
  loadk 1 #-1
  loadk 2 #99999
  loadk 3 #1
  jump t
b: loadk 4 "alpha,beta,gamma,"
  copy 5 1
  concat 4 4 5
  getglobal 5 "splitstr"
  copy 6 4
  loadk 7 ","
  call 5 3 3
  add 0 0 6
  getglobal 5 "findstr"
  copy 6 4
  loadk 7 "gamma"
  call 5 3 2
  add 0 0 5
  getglobal 5 "replacestr"
  copy 6 4
  loadk 7 "beta"
  loadk 8 "BETA"
  call 5 4 2
  getglobal 6 "upperstr"
  copy 7 5
  call 6 2 2
  getglobal 7 "formatstr"
  loadk 8 "%s:%d"
  copy 9 6
  copy 10 1
  call 7 4 2
  getglobal 8 "strlen"
  copy 9 7
  call 8 2 2
  add 0 0 8
t: forloop 1 b
  setglobal 0 "r"
  ret
)";

// A list of 1000 records whose fields are read and updated 100 times.
constexpr const char* kRecords = R"(
  newtable 0 0 0
  loadk 1 #-1
  loadk 2 #999
  loadk 3 #1
  jump t1
b1: newtable 4 0 2
  setfield 4 "x" 1
  setfield 4 "y" #0
  mod 5 1 #7
  setfield 4 "v" 5
  setfield 0 1 4
t1: forloop 1 b1
  loadk 1 #0
  loadk 2 #100
  loadk 3 #1
  jump t2
b2: loadk 5 #-1
  loadk 6 #999
  loadk 7 #1
  jump t3
b3: getfield 8 0 5
  getfield 9 8 "x"
  getfield 10 8 "v"
  mul 10 9 10
  getfield 11 8 "y"
  add 11 11 10
  setfield 8 "y" 11
  add 9 9 #1
  setfield 8 "x" 9
t3: forloop 5 b3
t2: forloop 1 b2
  loadk 12 #0
  loadk 1 #-1
  loadk 2 #999
  loadk 3 #1
  jump t4
b4: getfield 8 0 1
  getfield 9 8 "y"
  add 12 12 9
t4: forloop 1 b4
  setglobal 12 "r"
  ret
)";

// Quicksort (Hoare partition) of 10^5 numbers, written in script.
constexpr const char* kQuicksort = R"(
  .function qsort
    .params 3
    lt 0 1 2
    jump done
    add 3 1 2
    divint 3 3 #2
    getfield 3 0 3
    copy 4 1
    copy 5 2
  outer:
    le 0 4 5
    jump recurse
  scani:
    getfield 6 0 4
    lt 0 6 3
    jump scanj
    add 4 4 #1
    jump scani
  scanj:
    getfield 7 0 5
    lt 0 3 7
    jump check
    sub 5 5 #1
    jump scanj
  check:
    le 0 4 5
    jump outer
    setfield 0 4 7
    setfield 0 5 6
    add 4 4 #1
    sub 5 5 #1
    jump outer
  recurse:
    getglobal 8 "qsort"
    copy 9 0
    copy 10 1
    copy 11 5
    call 8 4 1
    getglobal 8 "qsort"
    copy 9 0
    copy 10 4
    copy 11 2
    call 8 4 1
  done:
    ret
  .end
  .defun qsort qsort
  newtable 0 0 0
  loadk 1 #12345
  loadk 2 #-1
  loadk 3 #99999
  loadk 4 #1
  jump t
b: mul 1 1 #75
  add 1 1 #74
  mod 1 1 #65537
  setfield 0 2 1
t: forloop 2 b
  .call base=10 qsort r0 0 99999
  getfield 5 0 #0
  setglobal 5 "r"
  ret
)";

// A command with one number argument and one result.
int Inc(vlVMState* L) {
  vl::SetNumber(L->top, L->base[0].v.n + 1);
  L->top++;
  return 1;
}

// setmetatable(t, mt), as the system library gives it to scripts.
int SetMeta(vlVMState* L) {
  vl::SetStackTop(L, 2);
  vl::SetMetatableAt(L, 1);
  return 0;
}

void Register(vlVMState* L, const char* name, vlNativeFn fn) {
  vlValue k;
  vl::SetString(&k, vl::InternCString(L, name));
  vl::SetClosure(vl::TableSet(L, vl::ToTable(&L->globals), &k), vl::NewNativeClosure(L, fn, 0));
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
    Register(L, "inc", Inc);
    Register(L, "setmetatable", SetMeta);
    OpenStringLib(L);
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
void BM_MethodCalls(benchmark::State& s) { RunProgram(s, kMethodCalls, 1000002); }
void BM_StringOps(benchmark::State& s) { RunProgram(s, kStringOps, 100000); }
void BM_Records(benchmark::State& s) { RunProgram(s, kRecords, 100000); }
void BM_Quicksort(benchmark::State& s) { RunProgram(s, kQuicksort, 100000); }

BENCHMARK(BM_NumericLoop)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Fib27)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TableArrayFillRead)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FieldGetSet)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StringConcat)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScriptCalls)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NativeCalls)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MethodCalls)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StringOps)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Records)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Quicksort)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
