// Names of values for error messages and the call trace: an active local's
// name, or the global, field or method that last set a register, found by
// the verifier's symbolic walk up to the current instruction.
#include "vm/call.h"
#include "vm/chunk.h"
#include "vm/debug.h"
#include "vm/opcodes.h"
#include "vm/protect.h"

namespace vl {

namespace {

// The n-th (from 1) local variable active at pc.
const char* LocalName(const vlFuncProto* p, int n, int pc) {
  for (int i = 0; i < p->sizelocvars && p->locvars[i].startpc <= pc; i++) {
    if (pc < p->locvars[i].endpc) {
      if (--n == 0) return p->locvars[i].name ? StringData(p->locvars[i].name) : nullptr;
    }
  }
  return nullptr;
}

const char* ConstantText(const vlFuncProto* p, uint32_t index) {
  if (static_cast<int>(index) < p->sizek && p->k[index].tag == VL_TSTRING) return StringData(ToString(&p->k[index]));
  return nullptr;
}

}  // namespace

const char* FindVariableName(vlVMState* L, vlCallInfo* ci, int reg, const char** name) {
  *name = nullptr;
  if (ci->state & VL_CI_NATIVE) return nullptr;
  const vlValue* fn = ci->base - 1;
  if (!IsScriptFunction(fn)) return nullptr;
  const vlFuncProto* p = ToClosure(fn)->s.proto;
  int pc = CurrentPc(L, ci);
  if (pc < 0) return nullptr;
  if ((*name = LocalName(p, reg + 1, pc)) != nullptr) return "local";
  // Follow copies from lower registers back to where the value came from.
  for (int guard = 0; guard < 256; guard++) {
    int at = LastSetterPc(p, pc, reg);
    if (at < 0) return nullptr;
    uint32_t i = p->code[at];
    switch (GetOp(i)) {
      case OP_GETGLOBAL:
        *name = ConstantText(p, GetBx(i));
        return *name ? "global" : nullptr;
      case OP_COPY: {
        int b = static_cast<int>(GetB(i));
        if (b >= reg) return nullptr;
        if ((*name = LocalName(p, b + 1, at)) != nullptr) return "local";
        reg = b;
        pc = at;
        continue;
      }
      case OP_GETFIELD:
      case OP_METHOD: {
        uint32_t c = GetC(i);
        const char* text = c >= kRKConst ? ConstantText(p, c - kRKConst) : nullptr;
        *name = text ? text : "?";
        return GetOp(i) == OP_GETFIELD ? "field" : "method";
      }
      default: return nullptr;
    }
  }
  return nullptr;
}

}  // namespace vl
