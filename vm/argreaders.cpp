// Argument and field readers over the stack interface. Each failure hands
// the argument index (or the field name) to the error system through the
// VM's host links, then raises with the current line.
#include "vm/argreaders.h"

#include <cstring>

#include "vm/auxlib.h"
#include "vm/convert.h"
#include "vm/error_codes.h"
#include "vm/protect.h"
#include "vm/stack_api.h"

namespace vl {

namespace {

[[noreturn]] void RaiseArgError(vlVMState* L, int index, int code) {
  L->g->host.setErrorArgIndex(L, index);
  RaiseVmError(L, code);
}

[[noreturn]] void RaiseFieldError(vlVMState* L, const char* field, int code) {
  L->g->host.setErrorArgument(L, field ? field : "");
  RaiseVmError(L, code);
}

// Pushes t[field] (with __index) for the table at index.
void PushField(vlVMState* L, int index, const char* field) {
  if (index < 0 && index > kRegistryIndex) index = GetStackTop(L) + index + 1;
  PushString(L, field);
  GetTableValue(L, index);
}

}  // namespace

int32_t NumberToArgInt(double d) {
  return d < 0 ? DoubleToInt32(d) : static_cast<int32_t>(DoubleToUInt32Bits(d));
}

double ReadNumberArg(vlVMState* L, int index) {
  double n = ToNumberAt(L, index);
  if (n == 0 && !IsNumberAt(L, index)) RaiseArgError(L, index, ERR_NUMEXPECTED);
  return n;
}

double OptNumberArg(vlVMState* L, int index, double def) {
  return GetTypeAt(L, index) == VL_TNONE ? def : CheckNumberArg(L, index);
}

int32_t CheckIntArg(vlVMState* L, int index) { return NumberToArgInt(CheckNumberArg(L, index)); }

int32_t NumberToLayerPosition(double d) {
  if (!(d >= 0)) return -1;
  return d >= 2147483647.0 ? 2147483647 : static_cast<int32_t>(d);
}

int32_t CheckLayerPositionArg(vlVMState* L, int index) { return NumberToLayerPosition(CheckNumberArg(L, index)); }

int32_t OptIntArg(vlVMState* L, int index, int32_t def) {
  return GetTypeAt(L, index) == VL_TNONE ? def : CheckIntArg(L, index);
}

const char* ReadStringArg(vlVMState* L, int index, size_t* length) {
  const char* s = ToStringBytesAt(L, index, length);
  if (!s) RaiseArgError(L, index, ERR_STREXPECTED);
  return s;
}

const char* OptStringArg(vlVMState* L, int index, const char* def, size_t* length) {
  if (GetTypeAt(L, index) == VL_TNONE) {
    if (length) *length = def ? std::strlen(def) : 0;
    return def;
  }
  return CheckStringArg(L, index, length);
}

void* CheckPointerArg(vlVMState* L, int index) {
  void* p = ToUserdataAt(L, index);
  if (!p) RaiseArgError(L, index, ERR_UDEXPECTED);
  return p;
}

void CheckArgType(vlVMState* L, int index, int tag) {
  if (GetTypeAt(L, index) == tag) return;
  int code;
  switch (tag) {
    case VL_TNUMBER: code = ERR_NUMEXPECTED; break;
    case VL_TSTRING: code = ERR_STREXPECTED; break;
    case VL_TTABLE: code = ERR_TABEXPECTED; break;
    case VL_TFUNCTION: code = ERR_FUNCEXPECTED; break;
    default: code = ERR_UDEXPECTED; break;
  }
  RaiseArgError(L, index, code);
}

void CheckFunctionArg(vlVMState* L, int index) { CheckArgType(L, index, VL_TFUNCTION); }
void CheckTableArg(vlVMState* L, int index) { CheckArgType(L, index, VL_TTABLE); }

double CheckNumberField(vlVMState* L, int index, const char* field) {
  PushField(L, index, field);
  double n = ToNumberAt(L, -1);
  if (n == 0 && !IsNumberAt(L, -1)) RaiseFieldError(L, field, ERR_NUMTABLEARG);
  SetStackTop(L, -2);
  return n;
}

int32_t CheckIntField(vlVMState* L, int index, const char* field) {
  return NumberToArgInt(CheckNumberField(L, index, field));
}

const char* CheckStringField(vlVMState* L, int index, size_t* length, const char* field) {
  PushField(L, index, field);
  const char* s = ToStringAt(L, -1);
  if (!s) RaiseFieldError(L, field, ERR_STRTABLEARG);
  if (length) *length = GetStringLengthAt(L, -1);
  KeepStringAlive(L, -1);
  SetStackTop(L, -2);
  return s;
}

}  // namespace vl
