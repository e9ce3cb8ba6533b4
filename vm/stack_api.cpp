// The stack interface: index resolution with its misuse checks, pushes that
// grow the frame, reads and conversions, raw table access, metatables and
// upvalues. Depends on the state, table, string, closure and collector code.
#include "vm/stack_api.h"

#include <cstring>

#include "abi/plugin_abi.h"
#include "vm/error_codes.h"
#include "vm/func.h"
#include "vm/memory.h"
#include "vm/protect.h"
#include "vm/table.h"
#include "vm/valueops.h"
#include "vm/vmstring.h"

namespace vl {
namespace {

[[noreturn]] void Misuse(vlVMState* L) { RaiseVmError(L, ERR_STACK); }

int FrameSize(vlVMState* L) { return static_cast<int>(L->top - L->base); }

void NeedValues(vlVMState* L, int n) {
  if (n > FrameSize(L)) Misuse(L);
}

// Upvalue k (1-based) of the native closure that runs the current frame;
// null when there is none.
vlValue* NativeUpvalue(vlVMState* L, int k) {
  vlValue* f = L->base - 1;
  if (!IsNativeFunction(f)) return nullptr;
  vlClosure* c = ToClosure(f);
  if (k < 1 || k > c->h.nupvalues) return nullptr;
  return &c->n.upvalue[k - 1];
}

// The slot an index names for reading; null is "no value". Only index 0,
// a positive index past the stack limit and a negative index below the
// frame are misuse.
vlValue* ReadSlot(vlVMState* L, int index) {
  if (index > 0) {
    if (index - 1 > L->stackLast - L->base) Misuse(L);
    vlValue* o = L->base + (index - 1);
    return o < L->top ? o : nullptr;
  }
  if (index > kRegistryIndex) {
    if (index == 0 || -index > FrameSize(L)) Misuse(L);
    return L->top + index;
  }
  if (index == kRegistryIndex) return &L->g->registry;
  if (index == kGlobalsIndex) return &L->globals;
  return NativeUpvalue(L, kGlobalsIndex - index);
}

// A slot inside the frame (no pseudo-index), for operations that move
// values around.
vlValue* FrameSlot(vlVMState* L, int index) {
  int n = FrameSize(L);
  if (index > 0 && index <= n) return L->base + (index - 1);
  if (index < 0 && index >= -n) return L->top + index;
  Misuse(L);
}

vlTable* TableAt(vlVMState* L, int index) {
  vlValue* o = ReadSlot(L, index);
  if (!o || o->tag != VL_TTABLE) Misuse(L);
  return ToTable(o);
}

void PushValue(vlVMState* L, vlValue v) { *PushSlot(L) = v; }

}  // namespace

vlValue* GrowForPush(vlVMState* L) {
  if (!EnsureStackSpace(L, 1)) Misuse(L);
  return L->top++;
}

int GetStackTop(vlVMState* L) { return FrameSize(L); }

void SetStackTop(vlVMState* L, int index) {
  if (index >= 0) {
    int grow = index - FrameSize(L);
    if (grow > 0 && !EnsureStackSpace(L, grow)) Misuse(L);
    while (L->top < L->base + index) SetNil(L->top++);
    L->top = L->base + index;
  } else {
    if (-(index + 1) > FrameSize(L)) Misuse(L);
    L->top += index + 1;
  }
}

void PushSlotCopy(vlVMState* L, int index) {
  vlValue v;
  SetNil(&v);
  if (const vlValue* o = ReadSlot(L, index)) v = *o;
  PushValue(L, v);
}

void RemoveSlot(vlVMState* L, int index) {
  vlValue* p = FrameSlot(L, index);
  std::memmove(p, p + 1, sizeof(vlValue) * static_cast<size_t>(L->top - (p + 1)));
  L->top--;
}

void InsertTopAt(vlVMState* L, int index) {
  vlValue* p = FrameSlot(L, index);
  vlValue v = L->top[-1];
  std::memmove(p + 1, p, sizeof(vlValue) * static_cast<size_t>(L->top - 1 - p));
  *p = v;
}

void ReplaceSlotWithTop(vlVMState* L, int index) {
  NeedValues(L, 1);
  vlValue* target;
  if (index > kRegistryIndex) {
    target = FrameSlot(L, index);
  } else if (index == kGlobalsIndex) {
    if (L->top[-1].tag != VL_TTABLE) Misuse(L);
    target = &L->globals;
  } else if (index < kGlobalsIndex) {
    target = NativeUpvalue(L, kGlobalsIndex - index);
    if (!target) Misuse(L);
  } else {
    Misuse(L);  // the registry itself is not replaceable
  }
  *target = L->top[-1];
  L->top--;
}

int EnsureStackSpace(vlVMState* L, int n) {
  if (n <= 0) return 1;
  if (n > kMaxFrameValues - FrameSize(L)) return 0;
  if (L->ci->top - L->top < n) {
    CheckStack(L, n);
    L->ci->top = L->top + n;
  }
  return 1;
}

vlValue* GetSlotAddress(vlVMState* L, int index) { return ReadSlot(L, index); }

int IsNativeFunctionAt(vlVMState* L, int index) {
  const vlValue* o = ReadSlot(L, index);
  return o && IsNativeFunction(o);
}

int IsNumberAt(vlVMState* L, int index) {
  const vlValue* o = ReadSlot(L, index);
  double d;
  return o && ToNumber(o, &d);
}

int IsStringAt(vlVMState* L, int index) {
  const vlValue* o = ReadSlot(L, index);
  return o && (o->tag == VL_TSTRING || o->tag == VL_TNUMBER);
}

int IsUserdataAt(vlVMState* L, int index) {
  const vlValue* o = ReadSlot(L, index);
  return o && (o->tag == VL_TUSERDATA || o->tag == VL_TLIGHTUSERDATA);
}

// Plug-ins compare GetTypeAt's answer with the header's names.
constexpr bool SameType(int plugin, vlValueType vm) { return plugin == vm; }
static_assert(SameType(VL_TYPE_NONE, VL_TNONE) && SameType(VL_TYPE_NIL, VL_TNIL) &&
              SameType(VL_TYPE_BOOLEAN, VL_TBOOLEAN) && SameType(VL_TYPE_LIGHTUSERDATA, VL_TLIGHTUSERDATA) &&
              SameType(VL_TYPE_NUMBER, VL_TNUMBER) && SameType(VL_TYPE_STRING, VL_TSTRING) &&
              SameType(VL_TYPE_TABLE, VL_TTABLE) && SameType(VL_TYPE_FUNCTION, VL_TFUNCTION) &&
              SameType(VL_TYPE_USERDATA, VL_TUSERDATA) && SameType(VL_TYPE_THREAD, VL_TTHREAD));

int GetTypeAt(vlVMState* L, int index) {
  const vlValue* o = ReadSlot(L, index);
  return o ? o->tag : VL_TNONE;
}

const char* GetTypeName(vlVMState*, int tag) { return GetTypeName(tag); }

int ValuesRawEqual(vlVMState* L, int index1, int index2) {
  const vlValue* a = ReadSlot(L, index1);
  const vlValue* b = ReadSlot(L, index2);
  return a && b && RawEqual(a, b);
}

double ToNumberAt(vlVMState* L, int index) {
  const vlValue* o = ReadSlot(L, index);
  double d;
  return o && ToNumber(o, &d) ? d : 0.0;
}

const char* ToStringAt(vlVMState* L, int index) {
  vlValue* o = ReadSlot(L, index);
  if (!o || !ToStringInPlace(L, o)) return nullptr;
  return StringData(ToString(o));
}

const char* ToStringBytesAt(vlVMState* L, int index, size_t* length) {
  vlValue* o = ReadSlot(L, index);
  if (!o || (o->tag != VL_TSTRING && !ToStringInPlace(L, o))) return nullptr;
  if (length) *length = ToString(o)->len;
  return StringData(ToString(o));
}

size_t GetStringLengthAt(vlVMState* L, int index) {
  vlValue* o = ReadSlot(L, index);
  if (!o || !ToStringInPlace(L, o)) return 0;
  return ToString(o)->len;
}

vlNativeFn ToNativeFunctionAt(vlVMState* L, int index) {
  const vlValue* o = ReadSlot(L, index);
  return o && IsNativeFunction(o) ? ToClosure(o)->n.fn : nullptr;
}

void* ToUserdataAt(vlVMState* L, int index) {
  const vlValue* o = ReadSlot(L, index);
  if (!o) return nullptr;
  if (o->tag == VL_TUSERDATA) return UserdataData(ToUserdata(o));
  if (o->tag == VL_TLIGHTUSERDATA) return o->v.p;
  return nullptr;
}

const void* ToPointerAt(vlVMState* L, int index) {
  const vlValue* o = ReadSlot(L, index);
  if (!o) return nullptr;
  switch (o->tag) {
    case VL_TTABLE:
    case VL_TFUNCTION:
    case VL_TTHREAD: return o->v.gc;
    case VL_TUSERDATA:
    case VL_TLIGHTUSERDATA: return ToUserdataAt(L, index);
    default: return nullptr;
  }
}

vlVMState* ToThreadAt(vlVMState* L, int index) {
  const vlValue* o = ReadSlot(L, index);
  return o && o->tag == VL_TTHREAD ? ToThread(o) : nullptr;
}

int ToBooleanAt(vlVMState* L, int index) {
  const vlValue* o = ReadSlot(L, index);
  if (!o || o->tag == VL_TNIL) return 0;
  return !(o->tag == VL_TBOOLEAN && o->v.b == 0);
}

void PushNil(vlVMState* L) { SetNil(PushSlot(L)); }

void PushBoolean(vlVMState* L, int flag) { SetBoolean(PushSlot(L), flag != 0); }

void PushString(vlVMState* L, const char* text) {
  if (!text) {
    PushNil(L);
    return;
  }
  PushBytes(L, text, std::strlen(text));
}

void PushCString(vlVMState* L, const char* text) { PushBytes(L, text, std::strlen(text)); }

void PushPointer(vlVMState* L, void* p) { SetLightUserdata(PushSlot(L), p); }

void PushNativeClosure(vlVMState* L, vlNativeFn fn, int nupvalues) {
  // The upvalue count is one byte in the closure.
  if (nupvalues < 0 || nupvalues > 255) Misuse(L);
  NeedValues(L, nupvalues);
  CheckGC(L);
  vlClosure* c = NewNativeClosure(L, fn, nupvalues);
  L->top -= nupvalues;
  for (int i = 0; i < nupvalues; i++) c->n.upvalue[i] = L->top[i];
  SetClosure(PushSlot(L), c);
}

int PushNativeUpvalues(vlVMState* L) {
  vlValue* f = L->base - 1;
  if (!IsNativeFunction(f)) return 0;
  int n = ToClosure(f)->h.nupvalues;
  if (!EnsureStackSpace(L, n)) Misuse(L);
  vlClosure* c = ToClosure(L->base - 1);  // the stack may have moved
  for (int i = 0; i < n; i++) *L->top++ = c->n.upvalue[i];
  return n;
}

void* PushNewUserdata(vlVMState* L, size_t size) {
  CheckGC(L);
  vlUserdata* u = NewUserdata(L, size);
  SetUserdata(PushSlot(L), u);
  return UserdataData(u);
}

void PushNewTable(vlVMState* L) {
  CheckGC(L);
  vlTable* t = CreateTable(L, 0, 0);
  SetTable(PushSlot(L), t);
}

void PushNewSizedTable(vlVMState* L, int arraySize, int hashLog) {
  if (arraySize < 0 || hashLog < 0) RaiseVmError(L, ERR_TABLEOVERFLOW);
  CheckGC(L);
  vlTable* t = CreateTable(L, arraySize, hashLog);
  SetTable(PushSlot(L), t);
}

void RawGetTableValue(vlVMState* L, int index) {
  vlTable* t = TableAt(L, index);
  NeedValues(L, 1);
  L->top[-1] = *TableGet(t, &L->top[-1]);
}

void RawGetTableIndex(vlVMState* L, int index, int n) {
  vlTable* t = TableAt(L, index);
  PushValue(L, *TableGetInt(t, n));
}

void RawSetTableValue(vlVMState* L, int index) {
  vlTable* t = TableAt(L, index);
  NeedValues(L, 2);
  vlValue* slot = TableSet(L, t, &L->top[-2]);
  *slot = L->top[-1];
  L->top -= 2;
}

void RawSetTableIndex(vlVMState* L, int index, int n) {
  vlTable* t = TableAt(L, index);
  NeedValues(L, 1);
  // Keys 1 .. array size are their array slots (filling a list).
  uint32_t slotIndex = static_cast<uint32_t>(n) - 1u;
  vlValue* slot = slotIndex < static_cast<uint32_t>(t->sizearray) ? &t->array[slotIndex] : TableSetInt(L, t, n);
  *slot = L->top[-1];
  L->top--;
}

void RawSetTableStrings(vlVMState* L, int index, int first, const ByteSpan* pieces, size_t count) {
  vlTable* t = TableAt(L, index);
  for (size_t i = 0; i < count; ++i) {
    // The table is on the stack, the strings stored so far in it, and the
    // bytes belong to strings the caller keeps: a collection here frees none.
    CheckGC(L);
    int n = first + static_cast<int>(i);
    uint32_t slotIndex = static_cast<uint32_t>(n) - 1u;
    vlValue* slot;
    if (slotIndex < static_cast<uint32_t>(t->sizearray)) {
      slot = &t->array[slotIndex];
    } else {
      // Other keys go to the hash part from the main position the look-up starts at.
      double key = n;
      vlTableNode* mp = HashNumber(t, key);
      const vlValue* found = FindNumberInChain(t, mp, key);
      if (found != &kNilValue) {
        slot = const_cast<vlValue*>(found);
      } else {
        vlValue k;
        SetNumber(&k, key);
        slot = TableSetAbsentNumber(L, t, &k, mp);
      }
    }
    SetString(slot, InternString(L, pieces[i].bytes, pieces[i].length));
  }
}

int NextTableEntry(vlVMState* L, int index) {
  vlTable* t = TableAt(L, index);
  NeedValues(L, 1);
  // The value lands one slot above the key.
  if (L->top >= L->ci->top && !EnsureStackSpace(L, 1)) Misuse(L);
  if (TableNext(L, t, L->top - 1)) {
    L->top++;
    return 1;
  }
  L->top--;
  return 0;
}

int SetMetatableAt(vlVMState* L, int index) {
  NeedValues(L, 1);
  const vlValue* mt = &L->top[-1];
  if (mt->tag != VL_TTABLE && mt->tag != VL_TNIL) Misuse(L);
  vlValue* o = ReadSlot(L, index);
  vlTable* m = mt->tag == VL_TNIL ? DefaultMetatable(L) : ToTable(mt);
  int done = 1;
  if (o && o->tag == VL_TTABLE) ToTable(o)->metatable = m;
  else if (o && o->tag == VL_TUSERDATA) ToUserdata(o)->metatable = m;
  else done = 0;
  L->top--;
  return done;
}

int PushMetatableAt(vlVMState* L, int index) {
  const vlValue* o = ReadSlot(L, index);
  vlTable* mt = o ? GetMetatable(L, o) : nullptr;
  if (!mt) return 0;
  SetTable(PushSlot(L), mt);
  return 1;
}

void PushFunctionGlobals(vlVMState* L, int index) {
  const vlValue* o = ReadSlot(L, index);
  PushValue(L, o && IsScriptFunction(o) ? ToClosure(o)->s.globals : L->globals);
}

int SetFunctionGlobals(vlVMState* L, int index) {
  NeedValues(L, 1);
  if (L->top[-1].tag != VL_TTABLE) Misuse(L);
  vlValue* o = ReadSlot(L, index);
  int done = 0;
  if (o && IsScriptFunction(o)) {
    ToClosure(o)->s.globals = L->top[-1];
    // Remembered global look-ups do not say whose globals they were.
    L->g->globalCacheOff = 1;
    L->g->tableEpoch++;
    done = 1;
  }
  L->top--;
  return done;
}

int ValuesEqual(vlVMState* L, int index1, int index2) {
  const vlValue* a = ReadSlot(L, index1);
  const vlValue* b = ReadSlot(L, index2);
  if (!a || !b || a->tag != b->tag) return 0;
  vlValue va = *a, vb = *b;  // a metamethod may move the stack
  return ValuesEqualVM(L, &va, &vb);
}

int ValueLessThan(vlVMState* L, int index1, int index2, int caseFlag) {
  const vlValue* a = ReadSlot(L, index1);
  const vlValue* b = ReadSlot(L, index2);
  if (!a || !b) return 0;
  vlValue va = *a, vb = *b;
  return ValueLessThanVM(L, &va, &vb, caseFlag);
}

void GetTableValue(vlVMState* L, int index) {
  const vlValue* t = ReadSlot(L, index);
  if (!t) Misuse(L);
  NeedValues(L, 1);
  vlValue out;
  GetTableChain(L, *t, L->top[-1], &out, nullptr);
  L->top[-1] = out;
}

void SetTableValue(vlVMState* L, int index) {
  const vlValue* t = ReadSlot(L, index);
  if (!t) Misuse(L);
  NeedValues(L, 2);
  SetTableChain(L, *t, L->top[-2], L->top[-1], nullptr);
  L->top -= 2;
}

void ConcatValues(vlVMState* L, int n) {
  if (n < 0) Misuse(L);
  NeedValues(L, n);
  if (n == 0) {
    PushBytes(L, "", 0);
    return;
  }
  if (n == 1) return;
  CheckGC(L);
  ConcatRange(L, n, FrameSize(L) - 1);
  L->top -= n - 1;
}

namespace {

// Upvalue n of the function at funcIndex and its name; null when there is
// no such upvalue.
vlValue* UpvalueOf(vlVMState* L, int funcIndex, int n, const char** name) {
  vlValue* f = ReadSlot(L, funcIndex);
  if (!f || f->tag != VL_TFUNCTION) return nullptr;
  vlClosure* c = ToClosure(f);
  if (n < 1 || n > c->h.nupvalues) return nullptr;
  if (c->h.isNative) {
    *name = "";
    return &c->n.upvalue[n - 1];
  }
  vlFuncProto* p = c->s.proto;
  vlString* s = n <= p->sizeupvalues && p->upvalues ? p->upvalues[n - 1] : nullptr;
  *name = s ? StringData(s) : "?";
  return c->s.upvals[n - 1]->v;
}

}  // namespace

const char* GetUpvalueAt(vlVMState* L, int funcIndex, int n) {
  const char* name = nullptr;
  vlValue* uv = UpvalueOf(L, funcIndex, n, &name);
  if (!uv) return nullptr;
  PushValue(L, *uv);
  return name;
}

const char* SetUpvalueAt(vlVMState* L, int funcIndex, int n) {
  NeedValues(L, 1);
  const char* name = nullptr;
  vlValue* uv = UpvalueOf(L, funcIndex, n, &name);
  if (!uv) return nullptr;
  *uv = L->top[-1];
  L->top--;
  return name;
}

}  // namespace vl
