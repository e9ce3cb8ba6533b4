// Function prototypes, script and native closures and upvalues.
#pragma once
#include "vm/state.h"

namespace vl {

vlFuncProto* NewProto(vlVMState* L);
void FreeProto(vlVMState* L, vlFuncProto* f);

// A script closure over proto with nups upvalue slots (null until filled).
vlClosure* NewScriptClosure(vlVMState* L, vlFuncProto* proto, int nups, const vlValue* globals);
// A native closure with nups upvalue values (nil until filled).
vlClosure* NewNativeClosure(vlVMState* L, vlNativeFn fn, int nups);
void FreeClosure(vlVMState* L, vlClosure* c);

// A closed upvalue of its own, holding nil.
vlUpvalue* NewClosedUpvalue(vlVMState* L);
// The open upvalue for a stack slot, created when none exists.
vlUpvalue* FindUpvalue(vlVMState* L, vlValue* slot);
// Closes every open upvalue at level and above.
void CloseUpvalues(vlVMState* L, vlValue* level);
void FreeUpvalue(vlVMState* L, vlUpvalue* uv);

}  // namespace vl
