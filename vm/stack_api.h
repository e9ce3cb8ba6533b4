// The stack interface: how command handlers, the runtime core and plug-ins
// reach VM values. Values are addressed by stack index: 1..n from the frame's
// base, -1..-n from the top, and the pseudo-indices below. Misuse (index 0,
// an index outside the frame, popping an empty frame, a non-table where a
// table is needed) raises 1135 and touches nothing.
#pragma once
#include <cstddef>

#include "vm/state.h"
#include "vm/vmstring.h"

namespace vl {

constexpr int kRegistryIndex = -10000;
constexpr int kGlobalsIndex = -10001;
// Upvalue n (1-based) of the running native closure.
constexpr int UpvalueIndex(int n) { return kGlobalsIndex - n; }
// The most values one frame may hold.
constexpr int kMaxFrameValues = 2048;

// Frame size and slots
int GetStackTop(vlVMState* L);                    // values in the frame
void SetStackTop(vlVMState* L, int index);        // >= 0: exact size (nil-filled); < 0: relative
void PushSlotCopy(vlVMState* L, int index);       // push a copy of the value at index
void RemoveSlot(vlVMState* L, int index);         // remove, shifting the rest down
void InsertTopAt(vlVMState* L, int index);        // move the top value to index
void ReplaceSlotWithTop(vlVMState* L, int index); // pop the top into index
int EnsureStackSpace(vlVMState* L, int n);        // room for n more; 0 past 2048 values
vlValue* GetSlotAddress(vlVMState* L, int index); // the slot itself, null for no value

// Type tests and reads (an index past the top reads as "no value")
int IsNativeFunctionAt(vlVMState* L, int index);
int IsNumberAt(vlVMState* L, int index);    // number, numeric string or nil
int IsStringAt(vlVMState* L, int index);    // string or number
int IsUserdataAt(vlVMState* L, int index);  // full or light userdata
int GetTypeAt(vlVMState* L, int index);     // tag, -1 for no value
const char* GetTypeName(vlVMState* L, int tag);
int ValuesRawEqual(vlVMState* L, int index1, int index2);
double ToNumberAt(vlVMState* L, int index);        // 0 when not numeric
const char* ToStringAt(vlVMState* L, int index);   // numbers and nil converted in place
size_t GetStringLengthAt(vlVMState* L, int index);
// Both at once: the bytes (null when the value is no string) and their length.
const char* ToStringBytesAt(vlVMState* L, int index, size_t* length);
vlNativeFn ToNativeFunctionAt(vlVMState* L, int index);
void* ToUserdataAt(vlVMState* L, int index);       // data block, or a light pointer
const void* ToPointerAt(vlVMState* L, int index);  // identity of tables, functions, threads
vlVMState* ToThreadAt(vlVMState* L, int index);
int ToBooleanAt(vlVMState* L, int index);          // 0 only for nil, false, no value

// Pushes (the frame grows as needed up to 2048 values)
// The slot the next push fills when the frame's record has no room left.
vlValue* GrowForPush(vlVMState* L);
inline vlValue* PushSlot(vlVMState* L) { return L->top < L->ci->top ? L->top++ : GrowForPush(L); }
void PushNil(vlVMState* L);
inline void PushNumber(vlVMState* L, double n) { SetNumber(PushSlot(L), n); }
void PushBoolean(vlVMState* L, int flag);
inline void PushBytes(vlVMState* L, const char* bytes, size_t len) {
  CheckGC(L);
  vlString* s = InternString(L, bytes, len);
  SetString(PushSlot(L), s);
}
void PushString(vlVMState* L, const char* text);   // null pushes nil
void PushCString(vlVMState* L, const char* text);  // text must not be null
void PushPointer(vlVMState* L, void* p);           // light userdata
void PushNativeClosure(vlVMState* L, vlNativeFn fn, int nupvalues);
int PushNativeUpvalues(vlVMState* L);
void* PushNewUserdata(vlVMState* L, size_t size);

// Tables
void PushNewTable(vlVMState* L);
void PushNewSizedTable(vlVMState* L, int arraySize, int hashLog);
void RawGetTableValue(vlVMState* L, int index);        // key on top -> t[key]
void RawGetTableIndex(vlVMState* L, int index, int n); // push t[n]
void RawSetTableValue(vlVMState* L, int index);        // t[key] = value, both popped
void RawSetTableIndex(vlVMState* L, int index, int n); // t[n] = top, popped
// t[first + i] = the string of pieces[i] for i < count, as pushing each and
// RawSetTableIndex would, without the round trip through the stack.
struct ByteSpan {
  const char* bytes;
  size_t length;
};
void RawSetTableStrings(vlVMState* L, int index, int first, const ByteSpan* pieces, size_t count);
int NextTableEntry(vlVMState* L, int index);           // key on top -> next key, value
int SetMetatableAt(vlVMState* L, int index);           // pop a table or nil
int PushMetatableAt(vlVMState* L, int index);

// Functions
void PushFunctionGlobals(vlVMState* L, int index);
int SetFunctionGlobals(vlVMState* L, int index);
const char* GetUpvalueAt(vlVMState* L, int funcIndex, int n);
const char* SetUpvalueAt(vlVMState* L, int funcIndex, int n);

// Value operations with metamethods (the rules of the interpreter's)
int ValuesEqual(vlVMState* L, int index1, int index2);        // both present, same tag, __eq
int ValueLessThan(vlVMState* L, int index1, int index2, int caseFlag);
void GetTableValue(vlVMState* L, int index);  // key on top -> t[key], __index honoured
void SetTableValue(vlVMState* L, int index);  // t[key] = value, both popped, __newindex
void ConcatValues(vlVMState* L, int n);       // top n values -> one string; 0 pushes ""

}  // namespace vl
