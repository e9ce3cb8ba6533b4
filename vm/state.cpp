// Creating and closing the VM state, the default host routines, and growing
// the stack and the call-record array. Depends on tables, strings, closures
// and the protected-call core.
#include "vm/state.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "vm/error_codes.h"
#include "vm/func.h"
#include "vm/gc.h"
#include "vm/memory.h"
#include "vm/protect.h"
#include "vm/table.h"
#include "vm/text.h"
#include "vm/vmstring.h"

namespace vl {

void DefaultClearLastError(vlVMState* L, vlNativeFn) { L->g->lastErrorDefault = 0; }
int DefaultCallCommandHook(vlVMState*, vlNativeFn, int*) { return 0; }

namespace {

int64_t gLastCloseResidual = 0;

const char* const kEventNames[VL_TM_N] = {
    "__index", "__newindex", "__gc",  "__mode", "__eq",  "__add",    "__sub",  "__mul",
    "__div",   "__divint",   "__mod", "__lsh",  "__rsh", "__or",     "__and",  "__xor",
    "__pow",   "__unm",      "__not", "__lt",   "__le",  "__concat", "__call",
};

// Harmless defaults for the host table, so the VM runs before the runtime.
int DefaultPanic(vlVMState*) { return 0; }
void DefaultStoreAndRaise(vlVMState* L, int code) {
  L->g->lastErrorDefault = code;
  RaiseVmError(L, code);
}
int DefaultHasUserErrorHandler(vlVMState*) { return 0; }
int DefaultCallUserErrorHandler(vlVMState*, int code) { return code; }
int DefaultErrorNesting(vlVMState*) { return 0; }
void DefaultNoteErrorPosition(vlVMState* L, int line) { L->g->errorLineDefault = line; }
void DefaultSetErrorArgument(vlVMState* L, const char* text) {
  std::snprintf(L->g->errorArgDefault, sizeof L->g->errorArgDefault, "%s", text);
}
void DefaultSetErrorArgIndex(vlVMState* L, int32_t index) { L->g->errorArgIndexDefault = index; }
int DefaultDebugOutputDisabled(vlVMState*) { return 0; }
int DefaultForwardError(vlVMState*, int) { return 0; }

void DefaultConsoleOutput(vlVMState*, const char* text) { std::fputs(text, stdout); }

void OpenBody(vlVMState* L, void*) {
  auto* g = static_cast<vlVMGlobal*>(VmRealloc(L, nullptr, 0, sizeof(vlVMGlobal)));
  new (g) vlVMGlobal{};
  L->g = g;
  g->mainthread = L;
  g->GCthreshold = 0;
  g->nblocks = sizeof(vlVMState) + sizeof(vlVMGlobal);
  g->panic = DefaultPanic;
  SetNil(&g->registry);
  SetNil(&g->defaultMeta);
  SetNil(&g->dummynode.key);
  SetNil(&g->dummynode.val);
  g->tableEpoch = 1;
  g->host.storeAndRaiseError = DefaultStoreAndRaise;
  g->host.hasUserErrorHandler = DefaultHasUserErrorHandler;
  g->host.callUserErrorHandler = DefaultCallUserErrorHandler;
  g->host.errorNesting = DefaultErrorNesting;
  g->host.noteErrorPosition = DefaultNoteErrorPosition;
  g->host.setErrorArgument = DefaultSetErrorArgument;
  g->host.setErrorArgIndex = DefaultSetErrorArgIndex;
  g->host.clearLastError = DefaultClearLastError;
  g->host.debugOutputDisabled = DefaultDebugOutputDisabled;
  g->host.callCommandHook = DefaultCallCommandHook;
  g->host.forwardErrorToPlugin = DefaultForwardError;
  g->host.quitFlag = &g->quitDefault;
  // Case-insensitive order is that of the names' comparison: Latin-1
  // letters fold too, and to upper case, so "_" sorts after the letters.
  g->host.caseFold = vlUpperCaseTable.data();
  g->host.consoleOutput = DefaultConsoleOutput;

  // Stack: 40 slots plus 5 spare; slot 0 is the base frame's function.
  int size = kBasicStackSize + kExtraStack;
  L->stack = NewVector<vlValue>(L, static_cast<size_t>(size));
  L->stacksize = size;
  for (int i = 0; i < size; i++) SetNil(&L->stack[i]);
  L->stackLast = L->stack + size - kExtraStack - 1;
  L->top = L->stack + 1;
  L->base = L->top;
  L->baseCi = NewVector<vlCallInfo>(L, kBasicCiSize);
  std::memset(L->baseCi, 0, sizeof(vlCallInfo) * kBasicCiSize);
  L->sizeCi = kBasicCiSize;
  L->endCi = L->baseCi + kBasicCiSize;
  L->ci = L->baseCi;
  L->ci->base = L->base;
  L->ci->top = L->base + kMinStackForNative;
  L->ci->state = VL_CI_NATIVE;

  vlTable* meta = CreateTable(L, 0, 0);  // its own metatable
  SetTable(&g->defaultMeta, meta);
  meta->metatable = meta;
  SetTable(&L->globals, CreateTable(L, 0, 4));
  SetTable(&g->registry, CreateTable(L, 4, 4));

  ResizeStringTable(L, 32);
  for (int i = 0; i < VL_TM_N; i++) {
    g->tmname[i] = InternCString(L, kEventNames[i]);
    g->tmname[i]->gch.gcFlags |= VL_GC_FIXED;
  }
  InternCString(L, "not enough memory")->gch.gcFlags |= VL_GC_FIXED;
  g->GCthreshold = 4 * g->nblocks;
  InstallCollector(L);
}

void FreeList(vlVMState* L, vlGCObject* o) {
  while (o) {
    vlGCObject* next = o->next;
    FreeObject(L, o);
    o = next;
  }
}

// Frees every object and then the state itself; works on a half-built state.
void FreeState(vlVMState* L) {
  vlVMGlobal* g = L->g;
  if (g) {
    CloseUpvalues(L, L->stack);
    FreeList(L, g->rootgc);
    FreeList(L, g->rootudata);
    FreeList(L, g->tmudata);
    g->rootgc = g->rootudata = g->tmudata = nullptr;
    for (int i = 0; i < g->strt.capacity; i++) {
      FreeList(L, g->strt.hash[i]);
      g->strt.hash[i] = nullptr;
    }
    FreeVector(L, g->strt.hash, static_cast<size_t>(g->strt.capacity));
    std::free(g->strt.tags);
    g->strt.tags = nullptr;
    FreeVector(L, g->buffer, g->buffsize);
    FreeVector(L, L->stack, static_cast<size_t>(L->stacksize));
    FreeVector(L, L->baseCi, L->sizeCi);
    gLastCloseResidual = static_cast<int64_t>(g->nblocks - (sizeof(vlVMState) + sizeof(vlVMGlobal)));
    L->g = nullptr;
    ReleaseSmallBlocks(g);
    g->~vlVMGlobal();
    std::free(g);
  }
  std::free(L);
}

void FinalizeBody(vlVMState* L, void*) {
  if (L->g->runPendingFinalizers) L->g->runPendingFinalizers(L);
}

// Moves every pointer into the stack from the old block to the new one.
void CorrectStack(vlVMState* L, uintptr_t oldAddr) {
  auto fix = [&](vlValue* p) {
    return L->stack + (reinterpret_cast<uintptr_t>(p) - oldAddr) / sizeof(vlValue);
  };
  L->top = fix(L->top);
  L->base = fix(L->base);
  for (vlCallInfo* ci = L->baseCi; ci <= L->ci; ci++) {
    ci->base = fix(ci->base);
    ci->top = fix(ci->top);
  }
  for (vlGCObject* o = L->openupval; o; o = o->next) {
    auto* uv = reinterpret_cast<vlUpvalue*>(o);
    uv->v = fix(uv->v);
  }
}

}  // namespace

vlVMState* OpenVmState() {
  KeepLargeBlocks();
  auto* L = static_cast<vlVMState*>(VmRealloc(nullptr, nullptr, 0, sizeof(vlVMState)));
  if (!L) return nullptr;
  std::memset(static_cast<void*>(L), 0, sizeof *L);
  L->gch.tag = VL_TTHREAD;
  L->allowHook = 1;
  SetNil(&L->globals);
  if (RunProtected(L, OpenBody, nullptr) != 0) {
    FreeState(L);
    return nullptr;
  }
  return L;
}

void CloseVmState(vlVMState* L) {
  vlVMGlobal* g = L->g;
  CloseUpvalues(L, L->stack);
  if (g->separateAllUserdata) g->separateAllUserdata(L);
  L->errfunc = 0;
  // A finaliser may raise: run the pass again until one completes.
  do {
    L->ci = L->baseCi;
    L->base = L->top = L->ci->base;
    L->nCcalls = 0;
  } while (RunProtected(L, FinalizeBody, nullptr) != 0);
  FreeState(L);
}

int64_t LastCloseResidualBytes() { return gLastCloseResidual; }

void ReallocStack(vlVMState* L, int newsize) {
  vlValue* old = L->stack;
  uintptr_t oldAddr = reinterpret_cast<uintptr_t>(old);
  L->stack = ResizeVector(L, L->stack, static_cast<size_t>(L->stacksize), static_cast<size_t>(newsize));
  for (int i = L->stacksize; i < newsize; i++) SetNil(&L->stack[i]);
  L->stacksize = newsize;
  L->stackLast = L->stack + newsize - kExtraStack - 1;
  CorrectStack(L, oldAddr);
}

void GrowStack(vlVMState* L, int n) {
  if (n <= L->stacksize) ReallocStack(L, 2 * L->stacksize);
  else ReallocStack(L, L->stacksize + n + kExtraStack);
}

void ReallocCallInfo(vlVMState* L, int newsize) {
  ptrdiff_t cur = L->ci - L->baseCi;
  L->baseCi = ResizeVector(L, L->baseCi, L->sizeCi, static_cast<size_t>(newsize));
  for (int i = L->sizeCi; i < newsize; i++) std::memset(&L->baseCi[i], 0, sizeof(vlCallInfo));
  L->sizeCi = static_cast<uint16_t>(newsize);
  L->ci = L->baseCi + cur;
  L->endCi = L->baseCi + newsize;
}

vlCallInfo* GrowCallInfo(vlVMState* L) {
  if (L->sizeCi > kMaxCalls) ThrowVmError(L, ERR_STACK);  // already past the limit: no line
  ReallocCallInfo(L, 2 * L->sizeCi);
  if (L->sizeCi > kMaxCalls) RaiseVmError(L, ERR_STACK);
  return ++L->ci;
}

}  // namespace vl
