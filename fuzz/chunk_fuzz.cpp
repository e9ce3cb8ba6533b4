// Fuzz target over the chunk loader and the interpreter: any bytes must
// load or fail with an error code, never crash. A chunk that loads must
// survive the round trip (writing it and loading the result gives the same
// bytes again, whatever block sizes the reader hands out), and then runs
// under an instruction and memory budget with a few native commands, to
// end normally or with an error code. Depends on the VM core.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "vm/call.h"
#include "vm/chunk.h"
#include "vm/debug_api.h"
#include "vm/error_codes.h"
#include "vm/func.h"
#include "vm/gc.h"
#include "vm/opcodes.h"
#include "vm/protect.h"
#include "vm/table.h"
#include "vm/vmstring.h"

namespace {

struct Blocks {
  const uint8_t* data;
  size_t size;
  size_t block;
  size_t pos;
};

const char* ReadBlocks(vlVMState*, void* ud, size_t* size) {
  auto* b = static_cast<Blocks*>(ud);
  if (b->pos >= b->size) return nullptr;
  *size = b->size - b->pos < b->block ? b->size - b->pos : b->block;
  const char* p = reinterpret_cast<const char*>(b->data + b->pos);
  b->pos += *size;
  return p;
}

int Collect(vlVMState*, const void* p, size_t n, void* ud) {
  auto* out = static_cast<std::vector<uint8_t>*>(ud);
  out->insert(out->end(), static_cast<const uint8_t*>(p), static_cast<const uint8_t*>(p) + n);
  return 0;
}

int Load(vlVMState* L, const uint8_t* data, size_t size, size_t block) {
  Blocks b{data, size, block, 0};
  return vl::LoadChunk(L, ReadBlocks, &b, "fuzz");
}

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

// Budgets of one run: instructions executed (nested runs included) and
// bytes in use, checked before every instruction.
constexpr int kInstructionBudget = 20000;
constexpr uint64_t kMemoryBudget = 48u << 20;
constexpr int kBudgetError = 1581;  // the first user-defined code

int gInstructions = 0;

void BudgetHook(vlVMState* L, vlDebugInfo*, int* err, vlCallInfo*) {
  if (++gInstructions > kInstructionBudget) *err = kBudgetError;
  if (L->g->nblocks > kMemoryBudget) *err = ERR_MEM;
}

// next(t, k): the table walk generic loops read from the globals.
int NativeNext(vlVMState* L) {
  vl::CheckStack(L, 2);
  vlValue slot[2];
  slot[0] = L->top > L->base + 1 ? L->base[1] : vl::kNilValue;
  if (L->base->tag != VL_TTABLE || L->top <= L->base || !vl::TableNext(L, vl::ToTable(L->base), slot)) {
    vl::SetNil(L->top++);
    return 1;
  }
  *L->top++ = slot[0];
  *L->top++ = slot[1];
  return 2;
}

// echo(...): returns its arguments.
int NativeEcho(vlVMState* L) { return static_cast<int>(L->top - L->base); }

// setmetatable(t, mt): lets scripts reach the metamethod paths.
int NativeSetMetatable(vlVMState* L) {
  if (L->top - L->base < 2 || L->base[0].tag != VL_TTABLE) return ERR_WRONGOP;
  vlTable* t = vl::ToTable(&L->base[0]);
  t->metatable = L->base[1].tag == VL_TTABLE ? vl::ToTable(&L->base[1]) : vl::DefaultMetatable(L);
  return 0;
}

// fail(code): a command that reports an error code.
int NativeFail(vlVMState* L) {
  int code = L->top > L->base && L->base->tag == VL_TNUMBER ? static_cast<int>(L->base->v.n) & 1023 : 0;
  return 1000 + code;
}

// jump(n): a label jump by n instructions, as the event dispatcher makes.
int NativeJump(vlVMState* L) {
  double n = L->top > L->base && L->base->tag == VL_TNUMBER ? L->base->v.n : 0;
  L->g->labelJumpOffset = n > -1e6 && n < 1e6 ? static_cast<int32_t>(n) : 0;
  return L->top - L->base > 1 ? -2 : -1;
}

void SetGlobalNative(vlVMState* L, const char* name, vlNativeFn fn) {
  vlValue k;
  vl::SetString(&k, vl::InternCString(L, name));
  vl::SetClosure(vl::TableSet(L, vl::ToTable(&L->globals), &k), vl::NewNativeClosure(L, fn, 0));
}

// A table constructor may ask for up to 2^24 array slots or hash nodes in
// one instruction, which the budget cannot stop; such chunks are loaded but
// not run, so that a run stays fast and small. A loop that makes a table of
// 2^16 nodes at each step runs thousands of times inside the budget and
// clears gigabytes, so more than 2^12 counts as huge.
bool AsksForHugeTables(const vlFuncProto* p) {
  for (int pc = 0; pc < p->sizecode; pc++) {
    uint32_t i = p->code[pc];
    if (vl::GetOp(i) != OP_NEWTABLE) continue;
    uint32_t b = vl::GetB(i);
    if ((b >> 3) > 12 || vl::GetC(i) > 12) return true;
  }
  for (int j = 0; j < p->sizep; j++)
    if (AsksForHugeTables(p->p[j])) return true;
  return false;
}

// Runs the closure on the top; it ends normally or with an error code.
void Execute(vlVMState* L, bool stress) {
  int setup = vl::RunProtectedFn(L, [&] {
    SetGlobalNative(L, "next", NativeNext);
    SetGlobalNative(L, "echo", NativeEcho);
    SetGlobalNative(L, "setmetatable", NativeSetMetatable);
    SetGlobalNative(L, "fail", NativeFail);
    SetGlobalNative(L, "jump", NativeJump);
  });
  Check(setup == 0);
  if (stress) vl::SetGCStress(L, true);
  gInstructions = 0;
  vl::SetVmHook(L, BudgetHook, VL_MASK_COUNT, 1);
  ptrdiff_t base = (L->top - 1) - L->stack;
  int status = vl::CallProtected(L, 0, 0, 0);
  Check(status == 0 || status >= 1000);
  L->top = L->stack + base;
  vl::SetVmHook(L, nullptr, 0, 0);
  if (stress) vl::SetGCStress(L, false);
}

}  // namespace

// Scripts here build texts that grow a little at each step, so every block
// size is freed once. The sanitizer's allocator keeps freed blocks in a
// quarantine and then on free lists of their own size, so with its default
// 256 MB quarantine the process grows past the 2 GB limit the fuzz runs
// set, though the script never holds more than the budget above. Blocks
// of the VM's own pools are poisoned while free whatever this is.
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=64"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vlVMState* L = vl::OpenVmState();
  if (!L) return 0;
  vlValue* const top = L->top;
  const int whole = Load(L, data, size, size ? size : 1);
  if (whole != 0) {
    Check(L->top == top);
  } else {
    Check(L->top == top + 1);
    std::vector<uint8_t> first, second;
    Check(vl::DumpFunction(L, -1, Collect, &first) == 0);
    // The symbolic walk must stay inside the code it was given.
    const vlFuncProto* p = vl::ToClosure(L->top - 1)->s.proto;
    if (p->sizecode <= 64)
      for (int pc = 0; pc <= p->sizecode; ++pc)
        for (int reg = 0; reg < p->maxstacksize; ++reg) Check(vl::LastSetterPc(p, pc, reg) < pc);
    Check(Load(L, first.data(), first.size(), 7) == 0);
    Check(vl::DumpFunction(L, -1, Collect, &second) == 0);
    Check(first == second);
    vl::CheckStack(L, 1);
    *L->top = L->top[-1];
    L->top++;
    if (!AsksForHugeTables(p)) Execute(L, (size & 1) != 0);
    L->top--;
  }
  // Block boundaries never change the outcome.
  Check(Load(L, data, size, 3) == whole);
  vl::CloseVmState(L);
  return 0;
}
