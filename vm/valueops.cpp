// Arithmetic, comparison, indexing, assignment and concatenation of VM
// values with their coercions and metamethod fall-backs. Depends on tables,
// strings, the call path (metamethod calls) and the raise routines.
#include "vm/valueops.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "vm/call.h"
#include "vm/convert.h"
#include "vm/debug.h"
#include "vm/error_codes.h"
#include "vm/memory.h"
#include "vm/protect.h"
#include "vm/table.h"
#include "vm/vmstring.h"

namespace vl {

namespace {

constexpr int kMaxTagLoop = 100;

// A number as an unsigned 32-bit pattern: non-negative values (and NaN)
// keep the low word of a 64-bit truncation, negative ones a 32-bit one.
inline uint32_t BitPattern(double d) {
  if (d >= 0 || std::isnan(d)) return DoubleToUInt32Bits(d);
  return static_cast<uint32_t>(DoubleToInt32(d));
}

inline bool IsFunction(const vlValue* o) { return o->tag == VL_TFUNCTION; }

// The event's metamethod of a, else of b; nil when neither has a function.
const vlValue* BinaryMetamethod(vlVMState* L, const vlValue* a, const vlValue* b, int event) {
  const vlValue* tm = GetMetamethod(L, a, event);
  if (!IsFunction(tm)) tm = GetMetamethod(L, b, event);
  return IsFunction(tm) ? tm : &kNilValue;
}

// Truth of a metamethod's result: nil and the number 0 are false.
inline bool MetaTruth(const vlValue* v) {
  return !(v->tag == VL_TNIL || (v->tag == VL_TNUMBER && v->v.n == 0));
}

[[noreturn]] void RaiseTypeMismatch(vlVMState* L, const vlValue* a, const vlValue* b) {
  bool numStr = (a->tag == VL_TNUMBER && b->tag == VL_TSTRING) ||
                (a->tag == VL_TSTRING && b->tag == VL_TNUMBER);
  RaiseVmError(L, numStr ? ERR_NUMSTRCMP : ERR_WRONGOP);
}

void SetErrorArgument(vlVMState* L, const char* text) {
  if (L->g->host.setErrorArgument) L->g->host.setErrorArgument(L, text);
}

bool ConvertibleToString(const vlValue* o) {
  return o->tag == VL_TSTRING || o->tag == VL_TNUMBER || o->tag == VL_TNIL;
}

// The length of a convertible value's text.
uint64_t TextLength(const vlValue* o) {
  if (o->tag == VL_TSTRING) return ToString(o)->len;
  if (o->tag != VL_TNUMBER) return 0;
  char scratch[kNumberBufferSize];
  return static_cast<uint64_t>(FormatNumber(o->v.n, scratch));
}

}  // namespace

double ArithNumbers(vlVMState* L, int event, double a, double b) {
  switch (event) {
    case VL_TM_ADD: return a + b;
    case VL_TM_SUB: return a - b;
    case VL_TM_MUL: return a * b;
    case VL_TM_DIV:
      if (b == 0) RaiseVmError(L, ERR_ZERODIVISION);
      return a / b;
    case VL_TM_DIVINT:
    case VL_TM_MOD: {
      int32_t x = DoubleToInt32(a), y = DoubleToInt32(b);
      if (y == 0) RaiseVmError(L, ERR_ZERODIVISION);
      // The one quotient that does not fit: give the true result.
      if (x == INT32_MIN && y == -1) return event == VL_TM_DIVINT ? 2147483648.0 : 0.0;
      return event == VL_TM_DIVINT ? x / y : x % y;
    }
    case VL_TM_LSH: return static_cast<double>(BitPattern(a) << (DoubleToInt32(b) & 31));
    case VL_TM_RSH: return static_cast<double>(BitPattern(a) >> (DoubleToInt32(b) & 31));
    case VL_TM_OR: return static_cast<double>(BitPattern(a) | BitPattern(b));
    case VL_TM_AND: return static_cast<double>(BitPattern(a) & BitPattern(b));
    case VL_TM_XOR: return static_cast<double>(BitPattern(a) ^ BitPattern(b));
    case VL_TM_POW: return std::pow(a, b);
    case VL_TM_UNM: return -a;
    case VL_TM_NOT: return static_cast<double>(~BitPattern(a));
    default: RaiseVmError(L, ERR_WRONGOP);
  }
}

vlValue CallMetamethod(vlVMState* L, const vlValue* f, const vlValue* a, const vlValue* b) {
  vlValue fv = *f, av = *a, bv = *b;  // the stack may move below
  CheckStack(L, 3);
  vlValue* top = L->top;
  top[0] = fv;
  top[1] = av;
  top[2] = bv;
  L->top = top + 3;
  vmCallNested(L, top, 1);
  vlValue res = *--L->top;
  return res;
}

void ArithFallback(vlVMState* L, ptrdiff_t ra, vlValue b, vlValue c, int event) {
  double x, y;
  if (ToNumber(&b, &x) && ToNumber(&c, &y)) {
    double r = ArithNumbers(L, event, x, y);
    SetNumber(L->stack + ra, r);
    return;
  }
  const vlValue* tm = BinaryMetamethod(L, &b, &c, event);
  if (tm->tag == VL_TNIL) RaiseVmError(L, ERR_WRONGOP);
  vlValue res = CallMetamethod(L, tm, &b, &c);
  L->stack[ra] = res;
}

bool ValuesEqualVM(vlVMState* L, const vlValue* a, const vlValue* b) {
  if (a->tag == VL_TNIL || b->tag == VL_TNIL) {
    const vlValue* o = a->tag == VL_TNIL ? b : a;
    switch (o->tag) {
      case VL_TNIL: return true;
      case VL_TNUMBER: return o->v.n == 0;
      case VL_TSTRING: return ToString(o)->len == 0;
      default: return false;
    }
  }
  if (a->tag != b->tag) RaiseTypeMismatch(L, a, b);
  switch (a->tag) {
    case VL_TNUMBER: return a->v.n == b->v.n;
    case VL_TTABLE:
    case VL_TUSERDATA: {
      if (a->v.gc == b->v.gc) return true;
      vlTable* mt1 = GetMetatable(L, a);
      vlTable* mt2 = GetMetatable(L, b);
      const vlValue* tm = FastMetamethod(L, mt1, VL_TM_EQ);
      if (tm->tag == VL_TNIL) return false;
      if (mt1 != mt2) {
        const vlValue* tm2 = FastMetamethod(L, mt2, VL_TM_EQ);
        if (!RawEqual(tm, tm2)) return false;
      }
      if (!IsFunction(tm)) return false;
      vlValue res = CallMetamethod(L, tm, a, b);
      return MetaTruth(&res);
    }
    default: return RawEqual(a, b);
  }
}

namespace {

// Compares segment by segment (the strings may hold NULs), mapping bytes
// through fold when given.
template <bool kFold>
int CompareSegments(const unsigned char* fold, const vlString* a, const vlString* b) {
  const unsigned char* l = reinterpret_cast<const unsigned char*>(StringData(a));
  const unsigned char* r = reinterpret_cast<const unsigned char*>(StringData(b));
  size_t ll = a->len, lr = b->len;
  for (;;) {
    size_t i = 0;
    for (;; i++) {  // both strings end in a NUL, so this stops
      unsigned x = kFold ? fold[l[i]] : l[i];
      unsigned y = kFold ? fold[r[i]] : r[i];
      if (x != y) return x < y ? -1 : 1;
      if (l[i] == 0) break;
    }
    // Equal up to a NUL: the one that ends here is the shorter.
    if (i == ll) return i == lr ? 0 : -1;
    if (i == lr) return 1;
    l += i + 1;
    r += i + 1;
    ll -= i + 1;
    lr -= i + 1;
  }
}

}  // namespace

int CompareStrings(vlVMState* L, const vlString* a, const vlString* b, int caseFlag) {
  if (caseFlag) return CompareSegments<false>(nullptr, a, b);
  return CompareSegments<true>(L->g->host.caseFold, a, b);
}

bool ValueLessThanVM(vlVMState* L, const vlValue* a, const vlValue* b, int caseFlag) {
  if (a->tag == VL_TNIL || b->tag == VL_TNIL) {
    if (a->tag == VL_TNIL && b->tag == VL_TNUMBER) return 0 < b->v.n;
    if (b->tag == VL_TNIL && a->tag == VL_TNUMBER) return a->v.n < 0;
    const vlValue* o = a->tag == VL_TNIL ? b : a;
    if (o->tag == VL_TNIL || o->tag == VL_TSTRING) return false;
    RaiseVmError(L, ERR_WRONGOP);
  }
  if (a->tag != b->tag) RaiseTypeMismatch(L, a, b);
  if (a->tag == VL_TNUMBER) return a->v.n < b->v.n;
  if (a->tag == VL_TSTRING) return CompareStrings(L, ToString(a), ToString(b), caseFlag) < 0;
  const vlValue* tm = BinaryMetamethod(L, a, b, VL_TM_LT);
  if (tm->tag == VL_TNIL) RaiseVmError(L, ERR_WRONGOP);
  vlValue res = CallMetamethod(L, tm, a, b);
  return MetaTruth(&res);
}

bool ValueLessEqualVM(vlVMState* L, const vlValue* a, const vlValue* b) {
  if (a->tag == VL_TNIL) {
    switch (b->tag) {
      case VL_TNIL: return true;
      case VL_TNUMBER: return 0 <= b->v.n;
      case VL_TSTRING: return false;
      default: RaiseVmError(L, ERR_WRONGOP);
    }
  }
  if (b->tag == VL_TNIL) {
    switch (a->tag) {
      case VL_TNUMBER: return a->v.n <= 0;
      case VL_TSTRING: return false;
      default: RaiseVmError(L, ERR_WRONGOP);
    }
  }
  if (a->tag != b->tag) RaiseTypeMismatch(L, a, b);
  if (a->tag == VL_TNUMBER) return a->v.n <= b->v.n;
  if (a->tag == VL_TSTRING) return CompareStrings(L, ToString(a), ToString(b), 1) <= 0;
  const vlValue* tm = BinaryMetamethod(L, a, b, VL_TM_LE);
  if (tm->tag != VL_TNIL) {
    vlValue res = CallMetamethod(L, tm, a, b);
    return MetaTruth(&res);
  }
  tm = BinaryMetamethod(L, b, a, VL_TM_LT);
  if (tm->tag == VL_TNIL) RaiseVmError(L, ERR_WRONGOP);
  vlValue res = CallMetamethod(L, tm, b, a);
  return !MetaTruth(&res);
}

void DescribeKey(const vlValue* k, char* buf, size_t size) {
  switch (k->tag) {
    case VL_TSTRING: std::snprintf(buf, size, "\"%s\"", StringData(ToString(k))); break;
    case VL_TNUMBER: std::snprintf(buf, size, "%g", k->v.n); break;
    default: std::snprintf(buf, size, "<%s>", GetTypeName(k->tag)); break;
  }
}

void RaiseVariableError(vlVMState* L, const vlValue* slot, int code, const char* suffix) {
  const char* name = nullptr;
  vlCallInfo* ci = L->ci;
  if (slot && !(ci->state & VL_CI_NATIVE) && slot >= ci->base && slot < ci->top) {
    FindVariableName(L, ci, static_cast<int>(slot - ci->base), &name);
  }
  char buf[1024];
  std::snprintf(buf, sizeof buf, "%s%s", name ? name : "??", suffix);
  SetErrorArgument(L, buf);
  RaiseVmError(L, code);
}

bool GetTableChain(vlVMState* L, vlValue t, vlValue k, vlValue* out, const vlValue* tSlot) {
  for (int depth = 0;; depth++) {
    if (depth > kMaxTagLoop) {
      SetErrorArgument(L, "#1");
      RaiseVmError(L, ERR_INTERNAL1);
    }
    const vlValue* tm;
    if (t.tag == VL_TTABLE) {
      vlTable* h = ToTable(&t);
      const vlValue* v = TableGet(h, &k);
      if (v->tag != VL_TNIL) {
        *out = *v;
        return true;
      }
      tm = FastMetamethod(L, GetMetatable(L, &t), VL_TM_INDEX);
      if (tm->tag == VL_TNIL) {
        SetNil(out);
        return false;
      }
    } else {
      tm = GetMetamethod(L, &t, VL_TM_INDEX);
      if (tm->tag == VL_TNIL) RaiseVariableError(L, depth == 0 ? tSlot : nullptr, ERR_TABLEDECLA, "{}");
    }
    if (IsFunction(tm)) {
      *out = CallMetamethod(L, tm, &t, &k);
      return true;
    }
    t = *tm;
  }
}

void SetTableChain(vlVMState* L, vlValue t, vlValue k, vlValue v, const vlValue* tSlot) {
  for (int depth = 0;; depth++) {
    if (depth > kMaxTagLoop) {
      SetErrorArgument(L, "#2");
      RaiseVmError(L, ERR_INTERNAL1);
    }
    const vlValue* tm;
    if (t.tag == VL_TTABLE) {
      vlTable* h = ToTable(&t);
      const vlValue* slot = TableGet(h, &k);
      if (slot->tag != VL_TNIL ||
          (tm = FastMetamethod(L, GetMetatable(L, &t), VL_TM_NEWINDEX))->tag == VL_TNIL) {
        *TableSet(L, h, &k) = v;
        return;
      }
    } else {
      tm = GetMetamethod(L, &t, VL_TM_NEWINDEX);
      if (tm->tag == VL_TNIL) RaiseVariableError(L, depth == 0 ? tSlot : nullptr, ERR_TABLEDECLA, "{}");
    }
    if (IsFunction(tm)) {
      vlValue f = *tm;
      CheckStack(L, 4);
      vlValue* top = L->top;
      top[0] = f;
      top[1] = t;
      top[2] = k;
      top[3] = v;
      L->top = top + 4;
      vmCallNested(L, top, 0);
      return;
    }
    t = *tm;
  }
}

// The usual concatenation of two values where one is a number (a key made
// from a prefix and a number), without the general way's scratch buffer.
// The number is formatted straight into the joined text (copying freshly
// stored bytes with wider loads would wait for the stores). Only the joined
// text is interned: the right operand's slot is a temporary no compiled
// script reads again, so a number there keeps its value instead of having
// its own text made and thrown away at once. False when the values take the
// general way; nothing has changed then.
bool ConcatWithNumber(vlVMState* L, vlValue* a, vlValue* b) {
  bool an = a->tag == VL_TNUMBER, bn = b->tag == VL_TNUMBER;
  if (!(an || a->tag == VL_TSTRING) || !(bn || b->tag == VL_TSTRING) || !(an || bn)) return false;
  char joined[2 * kNumberBufferSize];
  size_t la, lb;
  if (an) {
    la = static_cast<size_t>(FormatNumber(a->v.n, joined));
  } else {
    la = ToString(a)->len;
    if (la >= kNumberBufferSize) return false;
    CopyStringBytes(joined, StringData(ToString(a)), la);
  }
  if (bn) {
    lb = static_cast<size_t>(FormatNumber(b->v.n, joined + la));
  } else {
    lb = ToString(b)->len;
    if (lb >= kNumberBufferSize) return false;
    CopyStringBytes(joined + la, StringData(ToString(b)), lb);
  }
  size_t tl = la + lb;
  if (lb == 0) return false;
  // As the general way would: the operands become strings in their slots
  // (the right one first), then the result is made.
  if (tl > L->g->buffsize) ScratchBuffer(L, tl);
  SetString(a, InternString(L, joined, tl));
  return true;
}

void ConcatRange(vlVMState* L, int total, int last) {
  if (total == 2) {
    vlValue* top = L->base + last + 1;
    if (ConcatWithNumber(L, top - 2, top - 1)) return;
  }
  do {
    vlValue* top = L->base + last + 1;
    int n = 2;  // values handled this round
    if (!ConvertibleToString(top - 2) || !ConvertibleToString(top - 1)) {
      const vlValue* tm = GetMetamethod(L, top - 2, VL_TM_CONCAT);
      if (!IsFunction(tm)) tm = GetMetamethod(L, top - 1, VL_TM_CONCAT);
      if (!IsFunction(tm)) RaiseVmError(L, ERR_CONCAT);
      ptrdiff_t at = (top - 2) - L->stack;
      vlValue res = CallMetamethod(L, tm, top - 2, top - 1);
      L->stack[at] = res;
    } else if (top[-1].tag == VL_TNIL || (top[-1].tag == VL_TSTRING && ToString(top - 1)->len == 0)) {
      // An empty right text: the left value, as text, is the result.
      if (top[-2].tag != VL_TSTRING) ToStringInPlace(L, top - 2);
    } else {
      // Numbers are formatted straight into the joined text: the operand
      // slots above the result are temporaries, so their own texts would be
      // made only to be thrown away.
      uint64_t tl = TextLength(top - 1) + TextLength(top - 2);
      while (n < total && ConvertibleToString(top - n - 1)) {
        tl += TextLength(top - n - 1);
        n++;
      }
      if (tl >= 4294967294u) RaiseVmError(L, ERR_INTERNAL);
      // One spare byte: a formatted number is followed by its NUL.
      char* buf = tl < L->g->buffsize ? L->g->buffer : ScratchBuffer(L, static_cast<size_t>(tl) + 1);
      char* pos = buf;
      for (int i = n; i > 0; i--) {
        const vlValue* v = top - i;
        if (v->tag == VL_TSTRING) {
          const vlString* s = ToString(v);
          CopyBytes(pos, StringData(s), s->len);
          pos += s->len;
        } else if (v->tag == VL_TNUMBER) {
          pos += FormatNumber(v->v.n, pos);
        }
      }
      SetString(top - n, InternString(L, buf, static_cast<size_t>(pos - buf)));
    }
    total -= n - 1;
    last -= n - 1;
  } while (total > 1);
}

}  // namespace vl
