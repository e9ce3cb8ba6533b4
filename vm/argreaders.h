// The argument readers every command handler takes its arguments through.
// A bad argument raises its error at once with the current line; the index
// of the argument (or the name of a table field) goes into the message.
#pragma once
#include <cstddef>
#include <cstdint>

#include "vm/state.h"

namespace vl {

// The general readers: every conversion, every pseudo-index, every error.
double ReadNumberArg(vlVMState* state, int index);
const char* ReadStringArg(vlVMState* state, int index, size_t* length);

// Whether argument index is there (a positive index inside the frame).
inline bool HasArg(const vlVMState* state, int index) {
  return index > 0 && index <= state->top - state->base;
}

// Most arguments already have the type asked for: those are read here
// without a call; the rest go the general way.
inline double CheckNumberArg(vlVMState* state, int index) {
  if (HasArg(state, index)) {
    const vlValue* o = state->base + (index - 1);
    if (o->tag == VL_TNUMBER) return o->v.n;
  }
  return ReadNumberArg(state, index);
}
inline const char* CheckStringArg(vlVMState* state, int index, size_t* length) {
  if (HasArg(state, index)) {
    const vlValue* o = state->base + (index - 1);
    if (o->tag == VL_TSTRING) {
      const vlString* s = ToString(o);
      if (length) *length = s->len;
      return StringData(s);
    }
  }
  return ReadStringArg(state, index, length);
}
double OptNumberArg(vlVMState* state, int index, double def);
int32_t CheckIntArg(vlVMState* state, int index);
int32_t OptIntArg(vlVMState* state, int index, int32_t def);
// A layer position: truncated; beyond the int range the largest (past any
// last layer); negative, or not a number, -1 (refused by every reader).
int32_t NumberToLayerPosition(double d);
int32_t CheckLayerPositionArg(vlVMState* state, int index);
const char* OptStringArg(vlVMState* state, int index, const char* def, size_t* length);
void* CheckPointerArg(vlVMState* state, int index);
void CheckArgType(vlVMState* state, int index, int tag);
void CheckFunctionArg(vlVMState* state, int index);
void CheckTableArg(vlVMState* state, int index);

double CheckNumberField(vlVMState* state, int index, const char* field);
int32_t CheckIntField(vlVMState* state, int index, const char* field);
// The text stays valid until the next call (the table may not hold a
// number's converted text).
const char* CheckStringField(vlVMState* state, int index, size_t* length, const char* field);

// The 32-bit integer of a script number: negative values truncate as
// signed 32-bit, others through 64 bits keeping the low word, so
// 4294967295 reads as -1.
int32_t NumberToArgInt(double d);

}  // namespace vl
