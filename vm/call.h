// Setting up and finishing calls (script and native callees, variable
// arguments, __call), nested and protected calls, the gosub/label-jump
// return stack, and the call trace.
#pragma once
#include "vm/debug.h"
#include "vm/state.h"

namespace vl {

constexpr int kMaxNestedCalls = 200;      // native-to-VM re-entries
constexpr int kMaxNestedCallsHard = 224;  // beyond: thrown without a line

// Prepares a call of the value at func with the arguments up to the top.
// A script callee gets a new call record and null is returned: the
// interpreter runs it. A native callee runs at once; the pointer to its
// first result is returned (its record is still pushed) and *status holds
// 0, an error code the handler left unhandled, or -1 / -2 for a label jump.
vlValue* PrepareCall(vlVMState* L, vlValue* func, int* status);

// Ends the current call: drops its record and copies the results from
// first up to the top into the function slot, padded with nil up to wanted
// (-1 keeps them all); the top ends after the last value placed.
inline void ReturnFromCall(vlVMState* L, int wanted, vlValue* first);

// A complete call of func with the arguments above it, keeping nresults
// (-1: all); counts the nesting, raises a handler's error code, and ends
// with the collection check.
void vmCallNested(vlVMState* L, vlValue* func, int nresults);

// Calls the function below the nargs top values under protection; 0 or the
// error code. handlerIndex is recorded only (errors are numeric codes).
int CallProtected(vlVMState* L, int nargs, int nresults, int handlerIndex);
// The same without protection.
void CallFunction(vlVMState* L, int nargs, int nresults);

// Return stack: push a resume pc for the frame at level (1066 when full),
// and drop the entries of frames at level and above.
void PushReturnEntry(vlVMState* L, int32_t pc, int32_t level);
void DropReturnEntries(vlVMState* L, int32_t level);

inline int32_t CallLevel(vlVMState* L, const vlCallInfo* ci) {
  return static_cast<int32_t>(ci - L->baseCi);
}

// For the native command running now: the index of the instruction after
// the script call that started it, counted from its function's first
// instruction; 0 when no script called it. Worked out when a label jump
// asks, rather than stored by every call.
int32_t CallPcWord(vlVMState* L);

// The return hooks of the current call (the stack may move); the new
// address of first.
vlValue* RunReturnHooks(vlVMState* L, vlValue* first);

inline void ReturnFromCall(vlVMState* L, int wanted, vlValue* first) {
  if (L->hookMask & VL_MASK_RET) first = RunReturnHooks(L, first);
  vlCallInfo* ci = L->ci;
  vlValue* res = ci->base - 1;
  if (L->g->returnCount > 0) DropReturnEntries(L, CallLevel(L, ci));
  L->ci = ci - 1;
  L->base = L->ci->base;
  for (; wanted != 0 && first < L->top; wanted--) CopyValue(res++, first++);
  for (; wanted > 0; wanted--) SetNil(res++);
  L->top = res;
}

// Turns a native handler's result r into the call's outcome: the first of
// its results, or no results with *status set to an error code or a label
// jump (the script's error function may take an error code first).
vlValue* FinishNative(vlVMState* L, int r, int* status);

// The name under which the function of call record ci was called, and its
// kind ("global", "local", "method", "field"), or null.
const char* GetCallName(vlVMState* L, vlCallInfo* ci, const char** name);

}  // namespace vl
