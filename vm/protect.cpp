// Raising VM errors and protected calls. The one private exception type of
// the VM lives here: thrown by ThrowVmError, caught only by RunProtected.
#include "vm/protect.h"

#include <cstdlib>

namespace vl {

namespace {

struct VmUnwind {
  int code;
};

}  // namespace

int RunProtected(vlVMState* L, vlProtectedBody body, void* ud) {
  vlProtectedFrame frame{L->errorJmp, 0};
  L->errorJmp = &frame;
  try {
    body(L, ud);
  } catch (const VmUnwind& e) {
    frame.status = e.code;
  }
  L->errorJmp = frame.previous;
  return frame.status;
}

namespace {

// Marks the throw and ends the process when nothing can catch it; else the
// code is stored in the protected frame and the plug-in hook's answer to
// it is returned.
int PrepareThrow(vlVMState* L, int code) {
  vlVMGlobal* g = L->g;
  if (g) g->errorThrown = 1;
  if (!L->errorJmp) {
    if (g && g->panic) g->panic(L);
    std::exit(EXIT_FAILURE);
  }
  L->errorJmp->status = code;
  return g && g->host.forwardErrorToPlugin ? g->host.forwardErrorToPlugin(L, code) : 0;
}

void NoteLine(vlVMState* L) {
  vlVMGlobal* g = L->g;
  if (g && L->ci && g->host.noteErrorPosition) g->host.noteErrorPosition(L, CurrentLine(L, L->ci));
}

}  // namespace

void ThrowVmError(vlVMState* L, int code) {
  // A running plug-in hook is told, but the VM itself always unwinds.
  PrepareThrow(L, code);
  throw VmUnwind{code};
}

int RaiseVmErrorFromService(vlVMState* L, int code) {
  NoteLine(L);
  int taken = PrepareThrow(L, code);
  if (taken != 0) {
    L->errorJmp->status = 0;
    return taken;
  }
  throw VmUnwind{code};
}

int CurrentPc(vlVMState* L, vlCallInfo* ci) {
  (void)L;
  if (ci->state & VL_CI_NATIVE) return -1;
  const vlInstruction* pc = ci->savedpc;
  const vlValue* fn = ci->base - 1;
  if (!IsScriptFunction(fn) || !pc) return -1;
  const vlFuncProto* p = ToClosure(fn)->s.proto;
  // The pc points at the instruction after the current one.
  return static_cast<int>(pc - p->code) - 1;
}

int CurrentLine(vlVMState* L, vlCallInfo* ci) {
  int pc = CurrentPc(L, ci);
  if (pc < 0) return -1;
  const vlFuncProto* p = ToClosure(ci->base - 1)->s.proto;
  if (p->sizelineinfo == 0 || pc >= p->sizelineinfo) return 0;
  return p->lineinfo[pc];
}

void RaiseVmError(vlVMState* L, int code) {
  NoteLine(L);
  ThrowVmError(L, code);
}

}  // namespace vl
