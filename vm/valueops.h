// Value semantics shared by the interpreter and the stack interface:
// arithmetic with coercion and metamethods, equality and ordering with the
// nil rules, indexing and assignment chains, and concatenation.
#pragma once
#include "vm/state.h"

namespace vl {

// Arithmetic of two numbers for events VL_TM_ADD .. VL_TM_POW, VL_TM_UNM
// and VL_TM_NOT (bitwise complement); raises 1089 for a zero divisor.
double ArithNumbers(vlVMState* L, int event, double a, double b);

// Arithmetic when an operand is not a number: coercion, then the event's
// metamethod of b (else c); 1030 without one. The result goes to *ra
// (ra is given as an offset from the stack so that it survives growth).
void ArithFallback(vlVMState* L, ptrdiff_t ra, vlValue b, vlValue c, int event);

// Equality with the nil rules and __eq; raises 1130 / 1030.
bool ValuesEqualVM(vlVMState* L, const vlValue* a, const vlValue* b);
// a < b; caseFlag 0 compares strings case-insensitively.
bool ValueLessThanVM(vlVMState* L, const vlValue* a, const vlValue* b, int caseFlag);
// a <= b (interpreter rule, with the __lt fall-back).
bool ValueLessEqualVM(vlVMState* L, const vlValue* a, const vlValue* b);
int CompareStrings(vlVMState* L, const vlString* a, const vlString* b, int caseFlag);

// t[k] through __index chains. Returns false when the key is absent (no
// entry and no __index, or a chain of tables without it); *out is nil then.
// tSlot is the stack slot t came from (-1 when none) for error messages.
bool GetTableChain(vlVMState* L, vlValue t, vlValue k, vlValue* out, const vlValue* tSlot);
// t[k] = v through __newindex chains.
void SetTableChain(vlVMState* L, vlValue t, vlValue k, vlValue v, const vlValue* tSlot);

// Two values to join where one is a number (a key made from a prefix and a
// number), done as ConcatRange(L, 2, ...) would; false when they need the
// general way (nothing has changed then).
bool ConcatWithNumber(vlVMState* L, vlValue* a, vlValue* b);

// Concatenates the total values ending at frame register last, leaving the
// result in register last - total + 1.
void ConcatRange(vlVMState* L, int total, int last);

// Calls a metamethod with (a, b) and returns its first result.
vlValue CallMetamethod(vlVMState* L, const vlValue* f, const vlValue* a, const vlValue* b);

// Text of a missing key for the error message: a string in double quotes,
// a number with "%g", else its type name in angle brackets.
void DescribeKey(const vlValue* k, char* buf, size_t size);

// Sets the error-argument text to the variable's name + suffix ("??" when
// unknown) and raises code.
[[noreturn]] void RaiseVariableError(vlVMState* L, const vlValue* slot, int code, const char* suffix);

}  // namespace vl
