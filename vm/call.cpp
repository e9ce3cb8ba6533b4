// The call path: preparing script and native calls (varargs, __call, the
// native result protocol), returning, nested and protected calls, hooks, the
// return stack and the call trace. Depends on the interpreter, tables and
// the protected-call core.
#include "vm/call.h"

#include <cstdio>
#include <string>

#include "vm/debug.h"
#include "vm/error_codes.h"
#include "vm/func.h"
#include "vm/interp.h"
#include "vm/opcodes.h"
#include "vm/protect.h"
#include "vm/table.h"
#include "vm/valueops.h"
#include "vm/vmstring.h"

namespace vl {

namespace {

vlCallInfo* NextCallInfo(vlVMState* L) {
  if (L->ci + 1 == L->endCi) return GrowCallInfo(L);
  return ++L->ci;
}

// Puts the __call metamethod of a non-function in its place, the called
// value becoming the first argument.
vlValue* TryCallMetamethod(vlVMState* L, vlValue* func) {
  const vlValue* tm = GetMetamethod(L, func, VL_TM_CALL);
  if (tm->tag != VL_TFUNCTION) RaiseVariableError(L, func, ERR_FUNCDECLA, "()");
  vlValue f = *tm;
  ptrdiff_t funcr = func - L->stack;
  CheckStack(L, 1);
  func = L->stack + funcr;
  for (vlValue* p = L->top; p > func; p--) *p = p[-1];
  L->top++;
  *func = f;
  return func;
}

// Extra arguments of a vararg function go into a table with the keys
// 0 .. n-1 and "n" = n, which takes their place.
void AdjustVarargs(vlVMState* L, const vlFuncProto* p, vlValue* base) {
  int nargs = static_cast<int>(L->top - base);
  for (; nargs < p->numparams; nargs++) SetNil(L->top++);
  int n = nargs - p->numparams;
  vlTable* t = CreateTable(L, n > 1 ? n - 1 : 0, 1);
  vlValue* extra = base + p->numparams;
  for (int i = 0; i < n; i++) *TableSetInt(L, t, i) = extra[i];
  vlValue key;
  SetString(&key, InternString(L, "n", 1));
  SetNumber(TableSet(L, t, &key), n);
  L->top = extra;
  SetTable(L->top++, t);
}

void TraceCall(vlVMState* L, vlValue* func) {
  const char* name = nullptr;
  GetCallName(L, L->ci, &name);
  int nargs = static_cast<int>(L->top - (func + 1));
  // Names and string arguments go in whole (up to a NUL, as "%s" reads
  // them): a long text keeps its closing quote.
  std::string line;
  if (name) {
    line.append("Now calling ").append(name).append("()");
  } else if (nargs == 2 && func[2].tag == VL_TSTRING) {
    line.append("Now trying to find metamethod ").append(StringData(ToString(&func[2]))).append("()");
  } else {
    line = "Now calling <unknown>()";
  }
  if (nargs > 0) line += " with arguments ";
  char buf[64];
  for (int i = 1; i <= nargs; i++) {
    const vlValue* a = func + i;
    switch (a->tag) {
      case VL_TNIL: std::snprintf(buf, sizeof buf, "#%d=(NIL) ", i); break;
      case VL_TNUMBER: std::snprintf(buf, sizeof buf, "#%d=(NUMBER)%g ", i, a->v.n); break;
      case VL_TSTRING:
        std::snprintf(buf, sizeof buf, "#%d=(STRING)\"", i);
        line.append(buf).append(StringData(ToString(a))).append("\" ");
        continue;
      case VL_TTABLE: std::snprintf(buf, sizeof buf, "#%d=(TABLE)%p ", i, a->v.p); break;
      case VL_TFUNCTION: std::snprintf(buf, sizeof buf, "#%d=(FUNCPTR)%p ", i, a->v.p); break;
      default: std::snprintf(buf, sizeof buf, "#%d=(INTERNAL)%d ", i, a->tag); break;
    }
    line += buf;
  }
  line += "\n";
  L->g->host.consoleOutput(L, line.c_str());
}

// A handler's result count is not trusted: missing values become nil.
vlValue* NativeResults(vlVMState* L, int r) {
  int have = static_cast<int>(L->top - L->ci->base);
  if (r > have) {
    CheckStack(L, r - have);
    for (; have < r; have++) SetNil(L->top++);
  }
  return L->top - r;
}

}  // namespace

vlValue* FinishNative(vlVMState* L, int r, int* status) {
  vlVMGlobal* g = L->g;
  if (r >= 1000 || r < -2) {
    if (r < -2) r = ERR_INTERNAL;
    if (g->host.hasUserErrorHandler(L) && g->host.errorNesting(L) == 0 && !g->errorHandlerGuard) {
      g->errorHandlerGuard = 1;
      int r2 = g->host.callUserErrorHandler(L, r);
      g->errorHandlerGuard = 0;
      r = r2 < -2 ? ERR_INTERNAL : r2;
    }
  }
  if (r >= 0 && r <= 999) return NativeResults(L, r);
  *status = r;  // an error code or a label jump: no results
  return L->top;
}

vlValue* PrepareCall(vlVMState* L, vlValue* func, int* status) {
  *status = 0;
  if (func->tag != VL_TFUNCTION) func = TryCallMetamethod(L, func);
  ptrdiff_t funcr = func - L->stack;
  vlClosure* cl = ToClosure(func);
  if (!cl->h.isNative) {
    vlFuncProto* p = cl->s.proto;
    CheckStack(L, p->maxstacksize);
    func = L->stack + funcr;
    if (p->isVararg) AdjustVarargs(L, p, func + 1);
    vlCallInfo* ci = NextCallInfo(L);
    func = L->stack + funcr;
    ci->base = func + 1;
    L->base = ci->base;
    ci->top = ci->base + p->maxstacksize;
    ci->state = VL_CI_SAVEDPC;
    ci->savedpc = p->code;
    ci->tailcalls = 0;
    for (vlValue* st = L->top; st < ci->top; st++) SetNil(st);
    L->top = ci->top;
    return nullptr;
  }
  vlVMGlobal* g = L->g;
  CheckStack(L, kMinStackForNative);
  vlCallInfo* ci = NextCallInfo(L);
  func = L->stack + funcr;
  ci->base = func + 1;
  L->base = ci->base;
  ci->top = L->top + kMinStackForNative;
  ci->state = VL_CI_NATIVE;
  ci->savedpc = nullptr;
  ci->tailcalls = 0;
  if (L->hookMask & VL_MASK_CALL) CallHook(L, VL_HOOK_CALL, -1);
  if (g->traceFlag && !g->host.debugOutputDisabled(L) && !*g->host.quitFlag) TraceCall(L, L->stack + funcr);
  vlNativeFn fn = cl->n.fn;
  int r = RunNativeHandler(L, fn);
  return FinishNative(L, r, status);
}

int32_t CallPcWord(vlVMState* L) {
  const vlCallInfo* ci = L->ci;
  if (ci == L->baseCi) return 0;
  const vlCallInfo* caller = ci - 1;
  if ((caller->state & VL_CI_NATIVE) || !caller->savedpc) return 0;
  const vlFuncProto* p = ToClosure(caller->base - 1)->s.proto;
  return static_cast<int32_t>(caller->savedpc - p->code);
}

vlValue* RunReturnHooks(vlVMState* L, vlValue* first) {
  ptrdiff_t fr = first - L->stack;
  CallHook(L, VL_HOOK_RET, -1);
  if (!(L->ci->state & VL_CI_NATIVE)) {
    for (int i = L->ci->tailcalls; i > 0; i--) CallHook(L, VL_HOOK_TAILRET, -1);
  }
  return L->stack + fr;
}

void vmCallNested(vlVMState* L, vlValue* func, int nresults) {
  if (++L->nCcalls >= kMaxNestedCalls) {
    if (L->nCcalls == kMaxNestedCalls) RaiseVmError(L, ERR_STACK);
    if (L->nCcalls > kMaxNestedCallsHard) ThrowVmError(L, ERR_STACK);
  }
  int status = 0;
  vlValue* first = PrepareCall(L, func, &status);
  if (!first) {
    first = ExecuteBytecode(L);
    if (!first) first = L->top;  // ended by the quit flag: no results
  }
  ReturnFromCall(L, nresults, first);
  L->nCcalls--;
  // A label jump has no script frame to move here: it is ignored.
  if (status >= 1000) L->g->host.storeAndRaiseError(L, status);
  CheckGC(L);
}

namespace {

struct ProtectedCallArgs {
  ptrdiff_t func;
  int nresults;
};

void ProtectedCallBody(vlVMState* L, void* ud) {
  auto* a = static_cast<ProtectedCallArgs*>(ud);
  vmCallNested(L, L->stack + a->func, a->nresults);
}

}  // namespace

int CallProtected(vlVMState* L, int nargs, int nresults, int handlerIndex) {
  ProtectedCallArgs args{(L->top - (nargs + 1)) - L->stack, nresults};
  ptrdiff_t oldCi = L->ci - L->baseCi;
  uint8_t oldAllowHook = L->allowHook;
  uint16_t oldNCcalls = L->nCcalls;
  ptrdiff_t oldErrfunc = L->errfunc;
  if (handlerIndex == 0) {
    L->errfunc = 0;
  } else {
    vlValue* h = handlerIndex > 0 ? L->base + (handlerIndex - 1) : L->top + handlerIndex;
    L->errfunc = (h - L->stack) * static_cast<ptrdiff_t>(sizeof(vlValue));
  }
  int status = RunProtected(L, ProtectedCallBody, &args);
  if (status != 0) {
    CloseUpvalues(L, L->stack + args.func);
    L->nCcalls = oldNCcalls;
    L->ci = L->baseCi + oldCi;
    L->base = L->ci->base;
    L->allowHook = oldAllowHook;
    L->stackLast = L->stack + L->stacksize - kExtraStack - 1;
    DropReturnEntries(L, static_cast<int32_t>(oldCi) + 1);
    if (L->sizeCi > kMaxCalls && oldCi < kMaxCalls - 1) ReallocCallInfo(L, kMaxCalls);
  }
  L->errfunc = oldErrfunc;
  return status;
}

void CallFunction(vlVMState* L, int nargs, int nresults) {
  vmCallNested(L, L->top - (nargs + 1), nresults);
}

void PushReturnEntry(vlVMState* L, int32_t pc, int32_t level) {
  vlVMGlobal* g = L->g;
  if (g->returnCount >= kReturnStackSize) RaiseVmError(L, ERR_INTERNAL);
  g->returnStack[g->returnCount++] = vlReturnEntry{pc, level};
}

void DropReturnEntries(vlVMState* L, int32_t level) {
  vlVMGlobal* g = L->g;
  while (g->returnCount > 0 && g->returnStack[g->returnCount - 1].level >= level) g->returnCount--;
}

void CallHook(vlVMState* L, int event, int line) {
  if (!L->hook || !L->allowHook) return;
  ptrdiff_t top = L->top - L->stack;
  ptrdiff_t ciTop = L->ci->top - L->stack;
  CheckStack(L, kMinStackForNative);
  if (L->ci->top < L->top + kMinStackForNative) L->ci->top = L->top + kMinStackForNative;
  vlDebugInfo ar{};
  ar.event = event;
  ar.currentline = line;
  ar.i_ci = CallLevel(L, L->ci);
  L->allowHook = 0;
  // The line hook pumps events and redraws: what it throws is an error.
  const int err = GuardCxxErrors([&] {
    int code = 0;
    L->hook(L, &ar, &code, L->ci);
    return code;
  });
  L->allowHook = 1;
  L->ci->top = L->stack + ciTop;
  L->top = L->stack + top;
  if (err) RaiseVmError(L, err);
}

const char* GetCallName(vlVMState* L, vlCallInfo* ci, const char** name) {
  *name = nullptr;
  if (ci == L->baseCi) return nullptr;
  vlCallInfo* caller = ci - 1;
  bool lostTail = !(ci->state & VL_CI_NATIVE) && ci->tailcalls > 0;
  if (!(caller->state & VL_CI_NATIVE) && !lostTail) {
    int pc = CurrentPc(L, caller);
    const vlFuncProto* p = ToClosure(caller->base - 1)->s.proto;
    if (pc >= 0 && pc < p->sizecode) {
      uint32_t i = p->code[pc];
      uint32_t op = GetOp(i);
      if (op == OP_CALL || op == OP_TAILCALL) {
        const char* kind = FindVariableName(L, caller, static_cast<int>(GetA(i)), name);
        if (*name) return kind;
      }
    }
  }
  // Fall back on a global holding this very function.
  const vlValue* fn = ci->base - 1;
  vlTable* gt = ToTable(&L->globals);
  for (int j = TableNodeCount(gt) - 1; j >= 0; j--) {
    const vlTableNode* n = &gt->node[j];
    if (n->val.tag != VL_TNIL && RawEqual(&n->val, fn) && n->key.tag == VL_TSTRING) {
      *name = StringData(ToString(&n->key));
      return "global";
    }
  }
  return nullptr;
}

}  // namespace vl
