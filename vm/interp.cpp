// The bytecode interpreter: threaded dispatch over the 43 opcodes,
// script-to-script calls and returns without nesting, gosub jumps, hooks, the collection
// check points and the quit flag. Value semantics live in valueops.cpp,
// the call path in call.cpp.
#include "vm/interp.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "vm/call.h"
#include "vm/debug.h"
#include "vm/error_codes.h"
#include "vm/func.h"
#include "vm/opcodes.h"
#include "vm/protect.h"
#include "vm/table.h"
#include "vm/valueops.h"
#include "vm/vmstring.h"

namespace vl {

namespace {

// The wanted count of a record whose frame this run of the loop does not
// resume (below 0, and not the -1 of all results).
constexpr int32_t kNotRunHere = INT32_MIN;

// The constants moved down by kRKConst slots: an RK operand of either kind
// is then one base or the other plus the operand.
inline const vlValue* RKConstBase(const vlValue* k) {
  return reinterpret_cast<const vlValue*>(reinterpret_cast<uintptr_t>(k) - kRKConst * sizeof(vlValue));
}

// The slot at a byte offset from p.
inline vlValue* SlotAt(vlValue* p, uint32_t off) {
  return reinterpret_cast<vlValue*>(reinterpret_cast<char*>(p) + off);
}
inline const vlValue* SlotAt(const vlValue* p, uint32_t off) {
  return reinterpret_cast<const vlValue*>(reinterpret_cast<const char*>(p) + off);
}

// pc moved by a jump field of the instruction: bits in place, shifted to
// a byte offset (4 per instruction) less the bias, so that the field needs
// no separate sign step.
inline const vlInstruction* JumpBx(const vlInstruction* pc, uint32_t i) {
  const uint32_t off = (i >> (kCPos - 2)) & (kMaxBx << 2);
  return reinterpret_cast<const vlInstruction*>(reinterpret_cast<const char*>(pc) + off -
                                                static_cast<ptrdiff_t>(kBiasSBx) * 4);
}

inline int LineAt(const vlFuncProto* p, ptrdiff_t pc) {
  if (pc < 0 || pc >= p->sizelineinfo) return p->sizelineinfo == 0 ? 0 : -1;
  return p->lineinfo[pc];
}

inline const vlFuncProto* FrameProto(const vlCallInfo* ci) { return ToClosure(ci->base - 1)->s.proto; }

// The first line event after a hook was set only records where each active
// script frame is.
void InitLineTracking(vlVMState* L) {
  for (vlCallInfo* ci = L->baseCi + 1; ci <= L->ci; ci++) {
    if (!(ci->state & VL_CI_NATIVE)) ci->lastTraced = ci->savedpc;
  }
  L->hookInit = 1;
}

// Count and line hooks before an instruction.
void TraceExecution(vlVMState* L) {
  uint8_t mask = L->hookMask;
  if ((mask & VL_MASK_COUNT) && --L->hookCount == 0) {
    L->hookCount = L->baseHookCount;
    CallHook(L, VL_HOOK_COUNT, -1);
    return;
  }
  if (!(mask & VL_MASK_LINE)) return;
  vlCallInfo* ci = L->ci;
  const vlFuncProto* p = FrameProto(ci);
  const vlInstruction* cur = ci->savedpc;  // already past the instruction
  ptrdiff_t npc = cur - p->code - 1;
  int newline = LineAt(p, npc);
  if (!L->hookInit) {
    InitLineTracking(L);
    return;
  }
  if (npc == 0) ci->lastTraced = cur;  // entering the function
  // A new line, or a jump back (a loop), is a line event.
  if (cur <= ci->lastTraced || newline != LineAt(p, ci->lastTraced - p->code - 1)) {
    CallHook(L, VL_HOOK_LINE, newline);
    ci = L->ci;
  }
  ci->lastTraced = cur;
}

inline bool IsMainChunk(const vlFuncProto* p) { return p->lineDefined == 0; }

// The function's per-constant cache, made on first use; null when there is
// no memory for it (look-ups then simply are not remembered).
vlConstantCache* ConstantCache(vlFuncProto* p) {
  if (!p->constCache) {
    p->constCache = static_cast<vlConstantCache*>(std::calloc(static_cast<size_t>(p->sizek), sizeof(vlConstantCache)));
  }
  return p->constCache;
}

inline const vlTableNode* NodeOfValue(const vlValue* v) {
  return reinterpret_cast<const vlTableNode*>(reinterpret_cast<const char*>(v) - offsetof(vlTableNode, val));
}

// A global look-up the long way; the node found is remembered for the
// constant.
const vlValue* LookUpGlobal(vlVMState* L, vlScriptClosure* cl, uint32_t bx, const vlValue* key) {
  vlTable* gt = ToTable(&cl->globals);
  const vlValue* v = TableGetHashedString(gt, ToString(key));
  if (v == &kNilValue || L->g->globalCacheOff) return v;
  if (vlConstantCache* c = ConstantCache(cl->proto)) c[bx].global = vlGlobalCacheEntry{NodeOfValue(v), L->g->tableEpoch};
  return v;
}

// Sets a slot to nil with one 16-byte store (loads of either half are
// served from it).
inline void ClearSlot(vlValue* o) { std::memset(static_cast<void*>(o), 0, sizeof *o); }

// The value of key in the table that the __index of table o's metatable
// names, or nil when __index is absent, not a table, or lacks the key: then
// the general chain decides (it would take this same step first). When the
// key is constant kc of the running function, the step found is remembered
// for it in the cache of the function that frame ci runs (its closure sits
// below its base), which the frame then names again: it may have been made
// just now.
const vlValue* IndexTableFieldSlow(vlVMState* L, vlTable* o, vlString* key, vlCallInfo* ci, int kc) {
  vlFuncProto* p = ToClosure(ci->base - 1)->s.proto;
  vlTable* mt = o->metatable;
  if (mt == DefaultMetatable(L)) return &kNilValue;
  const vlValue* tm = FastMetamethod(L, mt, VL_TM_INDEX);
  if (tm->tag != VL_TTABLE) return &kNilValue;
  const vlValue* v = TableGetString(ToTable(tm), key);
  if (v->tag != VL_TNIL && kc >= 0) {
    if (vlConstantCache* c = ConstantCache(p)) {
      c[kc].index = vlIndexCacheEntry{mt, ToTable(tm), NodeOfValue(tm), NodeOfValue(v), L->g->tableEpoch};
      ci->constCache = c;
    }
  }
  return v;
}

// The constant an RK operand names, or -1 for a register.
inline int ConstantIndex(uint32_t rk) { return rk >= kRKConst ? static_cast<int>(rk - kRKConst) : -1; }

// IndexTableField for a table o and key constant kc (-1: not a constant)
// in frame ci: the remembered step when it still holds (the same
// metatable, no node moved since, its __index still the same table), else
// the slow way.
inline const vlValue* IndexTableField(vlVMState* L, vlTable* o, vlString* key, vlCallInfo* ci, int kc) {
  const vlConstantCache* cache = ci->constCache;
  if (cache && kc >= 0) {
    const vlIndexCacheEntry* e = &cache[kc].index;
    if (o->metatable == e->meta && e->epoch == L->g->tableEpoch) {
      const vlValue* iv = &e->indexNode->val;
      if (iv->tag == VL_TTABLE && ToTable(iv) == e->table) return &e->fieldNode->val;
    }
  }
  return IndexTableFieldSlow(L, o, key, ci, kc);
}

}  // namespace

vlValue* ExecuteBytecode(vlVMState* L) {
  vlVMGlobal* const g = L->g;
  volatile int* const quit = g->host.quitFlag;
  const int32_t entryLevel = CallLevel(L, L->ci);
  // The same as a byte distance from the first call record (the array may
  // move, the distance stays).
  const ptrdiff_t entryOffset = reinterpret_cast<char*>(L->ci) - reinterpret_cast<char*>(L->baseCi);
  // The record below the starting frame is not run here: the wanted count
  // it is given (no count a call asks for) keeps the starting frame's
  // return off the short way below, without a test of its own. The record
  // does not call a script function now, so the field is free.
  (L->ci - 1)->wanted = kNotRunHere;
  const vlInstruction* pc;
  vlCallInfo* ci;
  // The frame's constants (as RKConstBase gives them) and its remembered
  // look-ups live in its call record.
#define kb (ci->k)
#define gcache (ci->constCache)
  vlValue* base;
  vlInstruction i;
  vlValue* ra;
  // A call's wanted result count, outcome and first result.
  int nresults;
  int status;
  vlValue* first;
  // The dispatch table of the next fetch: while a line or count hook is set,
  // or the quit flag is, one that sends every instruction the slow way
  // first. Chosen again wherever other code may have run (it may set or
  // clear a hook, or the flag); a flag set from elsewhere meanwhile is seen
  // at the next backward jump or script call.
  const void* const* disp;
#define CHOOSE_DISPATCH() \
  (disp = ((L->hookMask & (VL_MASK_LINE | VL_MASK_COUNT)) | *quit) ? kSlowDispatch : kDispatch)

  // Threaded dispatch: every instruction ends by fetching and jumping to
  // the next one; opcodes the verifier refuses lead to the error. The table
  // is indexed by the instruction's low byte (the opcode and two bits of
  // the next field), which spares masking the opcode out.
#define VL_DISPATCH_64                                                                                    \
  &&op_COPY, &&op_LOADK, &&op_LOADNUM, &&op_LOADNIL, &&op_GETUPVAL, &&op_GETGLOBAL, &&op_GETFIELD,         \
      &&op_SETGLOBAL, &&op_SETUPVAL, &&op_SETFIELD, &&op_NEWTABLE, &&op_ADD, &&op_SUB, &&op_MUL, &&op_ARITH, \
      &&op_ARITH, &&op_ARITH, &&op_ARITH, &&op_ARITH, &&op_ARITH, &&op_ARITH, &&op_ARITH, &&op_ARITH,         \
      &&op_UNARY, &&op_NOT, &&op_UNARY, &&op_CONCAT, &&op_JUMP, &&op_EQ, &&op_LT, &&op_LE, &&op_TEST,         \
      &&op_CALL, &&op_TAILCALL, &&op_RETURN, &&op_FORLOOP, &&op_ITERLOOP, &&op_ITERPREP, &&op_SETLIST,             \
      &&op_SETLIST, &&op_CLOSE, &&op_CLOSURE, &&op_METHOD, &&op_BAD, &&op_BAD, &&op_BAD, &&op_BAD, &&op_BAD,  \
      &&op_BAD, &&op_BAD, &&op_BAD, &&op_BAD, &&op_BAD, &&op_BAD, &&op_BAD, &&op_BAD, &&op_BAD, &&op_BAD,     \
      &&op_BAD, &&op_BAD, &&op_BAD, &&op_BAD, &&op_BAD, &&op_BAD
  static const void* const kDispatch[256] = {VL_DISPATCH_64, VL_DISPATCH_64, VL_DISPATCH_64, VL_DISPATCH_64};
#undef VL_DISPATCH_64
#define VL_SLOW_8 &&slowfetch, &&slowfetch, &&slowfetch, &&slowfetch, &&slowfetch, &&slowfetch, &&slowfetch, &&slowfetch
#define VL_SLOW_64 VL_SLOW_8, VL_SLOW_8, VL_SLOW_8, VL_SLOW_8, VL_SLOW_8, VL_SLOW_8, VL_SLOW_8, VL_SLOW_8
  static const void* const kSlowDispatch[256] = {VL_SLOW_64, VL_SLOW_64, VL_SLOW_64, VL_SLOW_64};
#undef VL_SLOW_64
#undef VL_SLOW_8
  static_assert(kNumOpcodes == 43 && OP_METHOD == 42 && OP_ADD == 11 && OP_POW == 22);

// The running function: its closure sits just below the frame.
#define CL (&ToClosure(base - 1)->s)
#define RK(x) ((x) >= kRKConst ? kb + (x) : base + (x))
#define KST(x) (kb + kRKConst + (x))
// Operands B and C as byte offsets (slots are 16 bytes): one shift and one
// mask each, where the index and its scaling take three instructions.
static_assert(sizeof(vlValue) == 16);
#define OFFB(i) (((i) >> (kBPos - 4)) & (0x1FFu << 4))
#define OFFC(i) (((i) >> (kCPos - 4)) & (0x1FFu << 4))
constexpr uint32_t kRKConstOff = kRKConst * 16;
#define RKO(off) ((off) >= kRKConstOff ? SlotAt(kb, off) : SlotAt(base, off))
// Operands that are mostly registers: the left one of arithmetic, both of
// comparisons.
#define RKOB(off) (__builtin_expect((off) < kRKConstOff, 1) ? SlotAt(base, off) : SlotAt(kb, off))
#define OFFBX(i) (((i) >> (kCPos - 4)) & (kMaxBx << 4))
// The frame's pc is stored only where other code may look at it: before
// anything that may raise an error (its line), run a hook or call out (names
// and lines of the frames below).
#define SAVEPC() (ci->savedpc = pc)
// After anything that may call into the VM or collect, the stack and the
// call records may have moved.
#define PROTECT(x)                                    \
  do {                                                \
    SAVEPC();                                         \
    x;                                                \
    base = L->base;                                   \
    ci = L->ci;                                       \
    CHOOSE_DISPATCH();                                    \
  } while (0)
// A jump back (a loop) also looks at the quit flag, which another thread
// or a signal may have set.
#define DOJUMP(ins)                                                                          \
  do {                                                                                       \
    if (GetJumpFlags(ins) == kJumpFlagGosub) {                                               \
      SAVEPC();                                                                              \
      PushReturnEntry(L, static_cast<int32_t>(pc - CL->proto->code), CallLevel(L, L->ci));   \
    }                                                                                        \
    const uint32_t off_ = ((ins) >> (kCPos - 2)) & (kMaxJ << 2); /* J as a byte offset */      \
    pc = reinterpret_cast<const vlInstruction*>(reinterpret_cast<const char*>(pc) + off_ -   \
                                                static_cast<ptrdiff_t>(kBiasJ) * 4);          \
    if (off_ < kBiasJ * 4u && __builtin_expect(*quit, 0)) goto quitrun;                      \
  } while (0)
// Handlers find their register A themselves: jumps and tests need none.
#define NEXT          \
  do {                \
    i = *pc++;        \
    goto *disp[i & 0xFF]; \
  } while (0)

newframe:
  if (L->hookMask & VL_MASK_CALL) CallHook(L, VL_HOOK_CALL, -1);
  ci = L->ci;
  ci->state = (ci->state & ~VL_CI_CALLING) | VL_CI_RUNNING;
  pc = ci->savedpc;
  base = L->base;
  kb = RKConstBase(CL->proto->k);
  gcache = CL->proto->constCache;
  CHOOSE_DISPATCH();
  NEXT;

slowfetch:
  // The instruction is fetched: the quit flag first, then the hooks.
  SAVEPC();
  CHOOSE_DISPATCH();
  if (*quit) goto quitrun;
  if (L->hookMask & (VL_MASK_LINE | VL_MASK_COUNT)) {
    PROTECT(TraceExecution(L));
    if (*quit) goto quitrun;
  }
  goto *kDispatch[i & 0xFF];

op_COPY:
  ra = base + GetA(i);
  CopyValue(ra, SlotAt(base, OFFB(i)));
  NEXT;
op_LOADK:
  ra = base + GetA(i);
  CopyValue(ra, SlotAt(KST(0), OFFBX(i)));
  NEXT;
op_LOADNUM:
  ra = base + GetA(i);
  SetNumber(ra, GetB(i));
  if (GetC(i)) pc++;
  NEXT;
op_LOADNIL: {
  ra = base + GetA(i);
  vlValue* last = base + GetB(i);
  for (vlValue* r = ra; r <= last; r++) SetNil(r);
  NEXT;
}
op_GETUPVAL:
  ra = base + GetA(i);
  CopyValue(ra, CL->upvals[GetB(i)]->v);
  NEXT;
op_GETGLOBAL: {
  ra = base + GetA(i);
  if (gcache) {
    // Entries are 64 bytes and Bx starts at bit 6: its bits in place are
    // the entry's byte offset.
    static_assert(sizeof(vlConstantCache) == 64 && kCPos == 6);
    const vlGlobalCacheEntry* e =
        &reinterpret_cast<const vlConstantCache*>(reinterpret_cast<const char*>(gcache) + (i & (kMaxBx << kCPos)))->global;
    if (e->epoch == g->tableEpoch && e->node->val.tag != VL_TNIL) {
      CopyValue(ra, &e->node->val);
      NEXT;
    }
  }
  const uint32_t bx = GetBx(i);
  const vlValue* key = KST(bx);
  const vlValue* v = LookUpGlobal(L, CL, bx, key);
  gcache = CL->proto->constCache;
  if (v->tag != VL_TNIL) {
    CopyValue(ra, v);
  } else {
    vlValue res;
    PROTECT(GetTableChain(L, CL->globals, *key, &res, nullptr));
    base[GetA(i)] = res;
  }
  NEXT;
}
op_GETFIELD: {
  // Register A is found at the end: holding it through the look-up costs
  // more than finding it again.
  vlValue* rb = SlotAt(base, OFFB(i));
  const uint32_t c = OFFC(i);
  const vlValue* rc = RKO(c);
  if (rb->tag == VL_TTABLE) {
    vlTable* h = ToTable(rb);
    const vlValue* v;
    // A constant key is mostly a field name, a register key an index:
    // each kind is tested for first.
    if (c >= kRKConstOff) {
      if (rc->tag == VL_TSTRING) {
        v = TableGetHashedString(h, ToString(rc));
        if (v->tag == VL_TNIL) v = IndexTableField(L, h, ToString(rc), ci, static_cast<int>(GetC(i) - kRKConst));
      } else {
        v = TableGet(h, rc);
      }
    } else if (rc->tag == VL_TNUMBER) {
      uint32_t idx;
      v = ArrayIndex(h, rc->v.n, &idx) ? &h->array[idx] : TableGetHashNumber(h, rc->v.n);
    } else if (rc->tag == VL_TSTRING) {
      v = TableGetString(h, ToString(rc));
      if (v->tag == VL_TNIL) v = IndexTableField(L, h, ToString(rc), ci, -1);
    } else {
      v = TableGet(h, rc);
    }
    if (v->tag != VL_TNIL) {
      CopyValue(base + GetA(i), v);
      NEXT;
    }
  }
  bool fromTable = rb->tag == VL_TTABLE;
  vlValue key = *rc, res;
  bool found;
  PROTECT(found = GetTableChain(L, *rb, key, &res, rb));
  if (!found && fromTable) {
    // Reading a missing field is an error; the key goes in the text.
    char text[1024];  // the error system keeps up to 1023 characters
    DescribeKey(&key, text, sizeof text);
    g->host.setErrorArgument(L, text);
    SAVEPC();
    RaiseVmError(L, ERR_FIELDINIT);
  }
  base[GetA(i)] = res;
  NEXT;
}
op_SETGLOBAL: {
  ra = base + GetA(i);
  const vlValue* key = KST(GetBx(i));
  vlTable* gt = ToTable(&CL->globals);
  const vlValue* slot = TableGetHashedString(gt, ToString(key));
  if (slot->tag != VL_TNIL) {  // present already: no metamethod appears
    *const_cast<vlValue*>(slot) = *ra;
  } else {
    PROTECT(SetTableChain(L, CL->globals, *key, *ra, nullptr));
  }
  NEXT;
}
op_SETUPVAL:
  ra = base + GetA(i);
  *CL->upvals[GetB(i)]->v = *ra;
  NEXT;
op_SETFIELD: {
  ra = base + GetA(i);
  const uint32_t b = OFFB(i);
  const vlValue* rb = RKO(b);
  const vlValue* rc = RKO(OFFC(i));
  if (ra->tag == VL_TTABLE) {
    vlTable* h = ToTable(ra);
    const vlValue* slot;
    // As for reads: a constant key is mostly a name, a register key an index.
    if (b >= kRKConstOff && rb->tag == VL_TSTRING) {
      slot = TableGetHashedString(h, ToString(rb));
    } else if (rb->tag == VL_TNUMBER) {
      uint32_t idx;
      if (ArrayIndex(h, rb->v.n, &idx)) {
        slot = &h->array[idx];
      } else {
        vlTableNode* mp = HashNumber(h, rb->v.n);
        slot = FindNumberInChain(h, mp, rb->v.n);
        if (slot == &kNilValue && FastMetamethod(L, GetMetatable(L, ra), VL_TM_NEWINDEX)->tag == VL_TNIL) {
          // A new key: inserted from the main position found.
          vlValue v = *rc;  // the insert may not move the stack, but rc may be ra
          SAVEPC();
          vlValue* dst = TableSetAbsentNumber(L, h, rb, mp);
          *dst = v;
          NEXT;
        }
      }
    } else if (rb->tag == VL_TSTRING) {
      slot = TableGetString(h, ToString(rb));
    } else {
      slot = TableGet(h, rb);
    }
    // An array slot exists even while it holds nil; it is written raw when
    // the metatable has no __newindex, like any absent key. A key that is
    // present already makes no metamethod appear: the table's record of
    // absent ones stays true.
    if (slot->tag != VL_TNIL) {
      *const_cast<vlValue*>(slot) = *rc;
      NEXT;
    }
    if (FastMetamethod(L, GetMetatable(L, ra), VL_TM_NEWINDEX)->tag == VL_TNIL) {
      vlValue v = *rc;  // the insert may not move the stack, but rc may be ra
      SAVEPC();
      vlValue* dst = slot == &kNilValue ? TableSetAbsent(L, h, rb) : const_cast<vlValue*>(slot);
      h->absentFlags = 0;
      *dst = v;
      NEXT;
    }
  }
  PROTECT(SetTableChain(L, *ra, *rb, *rc, ra));
  NEXT;
}
op_NEWTABLE: {
  ra = base + GetA(i);
  uint32_t b = GetB(i);
  // Sized in 64 bits: a huge size is refused, not wrapped.
  uint32_t shift = b >> 3;
  int64_t asize = shift > 32 ? (int64_t(1) << 40) : static_cast<int64_t>(b & 7) << shift;
  SAVEPC();
  SetTable(ra, CreateTable(L, asize, GetC(i)));
  PROTECT(CheckGC(L));
  NEXT;
}
// Number operands take the short way; anything else the fall-back.
#define ARITH_OP(name, expr)                                   \
  op_##name : {                                                \
    ra = base + GetA(i);                                       \
    const vlValue* rb = RKOB(OFFB(i));                         \
    const vlValue* rc = RKO(OFFC(i));                          \
    if (rb->tag == VL_TNUMBER && rc->tag == VL_TNUMBER) {      \
      double x = rb->v.n, y = rc->v.n;                         \
      SetNumber(ra, expr);                                \
      NEXT;                                                    \
    }                                                          \
    goto arith_fallback;                                       \
  }
  ARITH_OP(ADD, x + y)
  ARITH_OP(SUB, x - y)
  ARITH_OP(MUL, x * y)
#undef ARITH_OP
op_ARITH: {
  ra = base + GetA(i);
  const vlValue* rb = RK(GetB(i));
  const vlValue* rc = RK(GetC(i));
  if (rb->tag == VL_TNUMBER && rc->tag == VL_TNUMBER) {
    SAVEPC();
    SetNumber(ra, ArithNumbers(L, static_cast<int>(GetOp(i)) - OP_ADD + VL_TM_ADD, rb->v.n, rc->v.n));
    NEXT;
  }
}
arith_fallback: {
  const vlValue* rb = RK(GetB(i));
  const vlValue* rc = RK(GetC(i));
  PROTECT(ArithFallback(L, ra - L->stack, *rb, *rc, static_cast<int>(GetOp(i)) - OP_ADD + VL_TM_ADD));
  NEXT;
}
op_UNARY: {
  ra = base + GetA(i);
  const vlValue* rb = base + GetB(i);
  int event = GetOp(i) == OP_NEG ? VL_TM_UNM : VL_TM_NOT;
  if (rb->tag == VL_TNUMBER) {
    SAVEPC();
    SetNumber(ra, ArithNumbers(L, event, rb->v.n, 0));
  } else {
    vlValue nil;
    SetNil(&nil);
    PROTECT(ArithFallback(L, ra - L->stack, *rb, nil, event));
  }
  NEXT;
}
op_NOT:
  ra = base + GetA(i);
  SetNumber(ra, IsFalse(base + GetB(i)) ? 1 : 0);
  NEXT;
op_CONCAT: {
  ra = base + GetA(i);
  int b = static_cast<int>(GetB(i)), c = static_cast<int>(GetC(i));
  SAVEPC();
  if (c != b + 1 || !ConcatWithNumber(L, base + b, base + c)) PROTECT(ConcatRange(L, c - b + 1, c));
  CopyValue(base + GetA(i), base + b);
  PROTECT(CheckGC(L));
  NEXT;
}
op_JUMP:
  DOJUMP(i);
  NEXT;
// A test is followed by its jump: skip it, or take it.
#define COMPARE_OP(name, expr)                                 \
  op_##name : {                                                \
    const vlValue* rb = RKOB(OFFB(i));                         \
    const vlValue* rc = RKOB(OFFC(i));                         \
    if (rb->tag == VL_TNUMBER && rc->tag == VL_TNUMBER) {      \
      double x = rb->v.n, y = rc->v.n;                         \
      if (static_cast<uint32_t>(expr) != GetA(i)) {            \
        pc++;                                                  \
      } else {                                                 \
        const vlInstruction j = *pc++;                         \
        DOJUMP(j);                                             \
      }                                                        \
      NEXT;                                                    \
    }                                                          \
    goto compare_general;                                      \
  }
  COMPARE_OP(EQ, x == y)
  COMPARE_OP(LT, x < y)
  COMPARE_OP(LE, x <= y)
#undef COMPARE_OP
compare_general: {
  const vlValue* rb = RK(GetB(i));
  const vlValue* rc = RK(GetC(i));
  bool r;
  if (GetOp(i) == OP_EQ) {
    PROTECT(r = ValuesEqualVM(L, rb, rc));
  } else if (GetOp(i) == OP_LT) {
    PROTECT(r = ValueLessThanVM(L, rb, rc, 1));
  } else {
    PROTECT(r = ValueLessEqualVM(L, rb, rc));
  }
  if (static_cast<uint32_t>(r) != GetA(i)) {
    pc++;
  } else {
    const vlInstruction j = *pc++;
    DOJUMP(j);
  }
  NEXT;
}
op_TEST: {
  ra = base + GetA(i);
  const vlValue* rb = SlotAt(base, OFFB(i));
  if (IsFalse(rb) == (GetC(i) != 0)) {
    pc++;
  } else {
    CopyValue(ra, rb);
    const vlInstruction j = *pc++;
    DOJUMP(j);
  }
  NEXT;
}
op_CALL: {
  ra = base + GetA(i);
  // Script callees with room on the stack and no call hook, and native
  // callees without hook or trace, are called here as the general path
  // would. For a script callee the frame entry is done here too: the
  // caller's saved pc was stored when the call was fetched, the callee's is
  // stored by the fetch below.
  const uint32_t b = OFFB(i);
  vlValue* argTop = b != 0 ? SlotAt(ra, b) : L->top;
  if (ra->tag == VL_TFUNCTION && ci + 1 != L->endCi) {
    if (!ToClosure(ra)->h.isNative) {
      const vlFuncProto* np = ToClosure(ra)->s.proto;
      vlValue* nbase = ra + 1;
      vlValue* ntop = nbase + np->maxstacksize;
      // The new frame fits below the stack limit (arguments beyond it are
      // not kept).
      if (!np->isVararg && ntop < L->stackLast && !(L->hookMask & VL_MASK_CALL)) {
        // Recursion that never jumps back still calls: the quit flag
        // (set from elsewhere) is looked at here too.
        if (__builtin_expect(*quit, 0)) goto quitrun;
        vlCallInfo* callee = ci + 1;
        for (vlValue* st = argTop; st < ntop; st++) ClearSlot(st);
        L->ci = callee;
        L->base = nbase;
        L->top = ntop;
        callee->base = nbase;
        callee->top = ntop;
        callee->state = VL_CI_SAVEDPC | VL_CI_RUNNING;
        callee->tailcalls = 0;
        ci->state = VL_CI_CALLING | VL_CI_SAVEDPC;  // a script frame run here
        SAVEPC();
        ci->wanted = static_cast<int32_t>(GetC(i)) - 1;
        ci = callee;
        kb = RKConstBase(np->k);
        gcache = np->constCache;
        pc = np->code;
        base = nbase;
        NEXT;
      }
    } else if (!((L->hookMask & VL_MASK_CALL) | g->traceFlag) && L->stackLast - argTop > kMinStackForNative) {
      L->top = argTop;
      vlCallInfo* callee = ci + 1;
      L->ci = callee;
      callee->base = ra + 1;
      L->base = callee->base;
      callee->top = argTop + kMinStackForNative;
      // Nothing reads the saved pc or tail-call count of a native record.
      callee->state = VL_CI_NATIVE;
      vlNativeFn fn = ToClosure(ra)->n.fn;
      SAVEPC();
      int r = RunNativeHandler(L, fn);
      vlValue* top = L->top;
      if (static_cast<uint32_t>(r) <= static_cast<uint32_t>(top - L->base) && r <= 999 &&
          !((L->hookMask & VL_MASK_RET) | g->returnCount)) {
        // As FinishNative and ReturnFromCall would: the results go to the
        // function slot, padded with nil to the count wanted. The handler
        // may have moved the stack and the call records: both are read anew.
        vlValue* from = top - r;
        vlValue* res = L->ci->base - 1;
        ci = L->ci - 1;
        L->ci = ci;
        base = ci->base;
        L->base = base;
        int wanted = static_cast<int>(GetC(i)) - 1;
        if (wanted == 1) {  // the usual case
          if (r != 0) {
            CopyValue(res, from);
          } else {
            SetNil(res);
          }
          L->top = ci->top;
        } else if (wanted < 0) {
          while (from < top) CopyValue(res++, from++);
          L->top = res;
        } else {
          int n = r < wanted ? r : wanted;
          for (int j = 0; j < n; j++) CopyValue(res + j, from + j);
          for (int j = n; j < wanted; j++) SetNil(res + j);
          L->top = ci->top;
        }
        CHOOSE_DISPATCH();
        NEXT;
      }
      nresults = static_cast<int>(GetC(i)) - 1;
      status = 0;
      first = FinishNative(L, r, &status);
      goto call_results;
    }
  }
  L->top = argTop;
  goto call_general;
}
op_TAILCALL:
  ra = base + GetA(i);
  if (GetB(i) != 0) L->top = ra + GetB(i);
call_general:
  nresults = static_cast<int>(GetC(i)) - 1;
  SAVEPC();
  first = PrepareCall(L, ra, &status);
call_results: {
  // The call may have moved the stack: the caller is found through its record.
  const vlFuncProto* p = ToClosure((L->ci - 1)->base - 1)->s.proto;
  int32_t afterCall = static_cast<int32_t>(pc - p->code);
  if (!first) {
    vlCallInfo* callee = L->ci;
    vlCallInfo* caller = callee - 1;
    if (GetOp(i) == OP_CALL) {
      caller->savedpc = pc;
      caller->state = (caller->state & ~VL_CI_RUNNING) | VL_CI_CALLING | VL_CI_SAVEDPC;
      caller->wanted = nresults;
    } else {
      // Tail call: the callee takes the place of this frame.
      if (L->openupval) CloseUpvalues(L, caller->base);
      DropReturnEntries(L, CallLevel(L, caller));
      vlValue* func = caller->base - 1;
      vlValue* pfunc = callee->base - 1;
      ptrdiff_t n = L->top - pfunc;
      for (ptrdiff_t j = 0; j < n; j++) func[j] = pfunc[j];
      caller->base = func + 1;
      caller->top = L->top = func + n;
      caller->savedpc = callee->savedpc;
      caller->tailcalls++;
      caller->state = VL_CI_SAVEDPC;
      L->ci = caller;
      L->base = caller->base;
    }
    goto newframe;
  }
  // A native callee has run; its record is still pushed.
  ReturnFromCall(L, nresults, first);
  ci = L->ci;
  if (nresults >= 0) L->top = ci->top;
  base = L->base;
  CHOOSE_DISPATCH();
  if (status >= 1000) {
    PROTECT(g->host.storeAndRaiseError(L, status));
  } else if (status == -1 || status == -2) {
    // A label jump moves only the main chunk, and only inside its code.
    int32_t back = status == -1 ? afterCall : afterCall - 2;
    int64_t target = static_cast<int64_t>(afterCall) + g->labelJumpOffset;
    if (IsMainChunk(p) && back >= 0 && back < p->sizecode && target >= 0 && target < p->sizecode) {
      PushReturnEntry(L, back, CallLevel(L, L->ci));
      pc = p->code + target;
    }
  }
  NEXT;
}
op_RETURN: {
  ra = base + GetA(i);
  if ((i & (0x1FFu << kCPos)) == (1u << kCPos)) {  // C is 1
    // Return from gosub: only to a pc this frame pushed.
    int32_t level = CallLevel(L, L->ci);
    if (g->returnCount == 0 || g->returnStack[g->returnCount - 1].level != level) {
      SAVEPC();
      RaiseVmError(L, ERR_RETWOGOSUB);
    }
    pc = CL->proto->code + g->returnStack[--g->returnCount].pc;
    NEXT;
  }
  uint32_t b = GetB(i);
  if (L->openupval) CloseUpvalues(L, base);
  int wanted = (ci - 1)->wanted;
  if (b != 0 && wanted >= 0 && !((L->hookMask & VL_MASK_RET) | g->returnCount)) {
    // A fixed count of results to a caller that wants a fixed count: what
    // ReturnFromCall would do (the top goes back to the caller's). Nothing
    // else ran, so the dispatch table stays as it is.
    vlValue* res = base - 1;
    int n = static_cast<int>(b) - 1;
    if (wanted <= 1) {  // a statement call or one value: the usual cases
      if (wanted != 0) {
        if (n != 0) {
          CopyValue(res, ra);
        } else {
          SetNil(res);
        }
      }
    } else {
      if (n > wanted) n = wanted;
      for (int j = 0; j < n; j++) CopyValue(res + j, ra + j);
      for (int j = n; j < wanted; j++) SetNil(res + j);
    }
    ci--;
    L->ci = ci;
    L->base = ci->base;
    L->top = ci->top;
    ci->state = VL_CI_SAVEDPC | VL_CI_RUNNING;  // it called from this loop
    pc = ci->savedpc;
    base = ci->base;
    NEXT;
  }
  if (reinterpret_cast<char*>(ci) - reinterpret_cast<char*>(L->baseCi) == entryOffset) {
    SAVEPC();  // the return hooks run after
    if (b != 0) L->top = ra + b - 1;
    ci->state &= ~VL_CI_RUNNING;
    return ra;
  }
  if (b != 0) L->top = ra + b - 1;
  SAVEPC();
  ReturnFromCall(L, wanted, ra);
  ci = L->ci;
  // Back in the caller's frame: what the frame entry would load.
  if (wanted >= 0) L->top = ci->top;
  // (Its live pc already points at its saved pc: it ran here before.)
  ci->state = (ci->state & ~VL_CI_CALLING) | VL_CI_RUNNING;
  pc = ci->savedpc;
  base = ci->base;
  CHOOSE_DISPATCH();
  NEXT;
}
op_FORLOOP: {
  ra = base + GetA(i);
  vlValue* limit = ra + 1;
  vlValue* step = ra + 2;
  if (ra->tag == VL_TNUMBER && limit->tag == VL_TNUMBER && step->tag == VL_TNUMBER) {
    double s = step->v.n;
    double idx = ra->v.n + s;
    if (s > 0 ? idx <= limit->v.n : idx >= limit->v.n) {
      pc = JumpBx(pc, i);
      SetNumber(ra, idx);
      if (__builtin_expect(*quit, 0)) goto quitrun;
    }
    NEXT;
  }
  SAVEPC();
  if (ra->tag != VL_TNUMBER) RaiseVmError(L, ERR_VALUEEXPECTED);
  if (limit->tag != VL_TNUMBER || step->tag != VL_TNUMBER) {
    double x, y;
    if (!ToNumber(limit, &x) || !ToNumber(step, &y)) RaiseVmError(L, ERR_VALUEEXPECTED);
    SetNumber(limit, x);
    SetNumber(step, y);
  }
  double s = step->v.n;
  double idx = ra->v.n + s;
  if (s > 0 ? idx <= limit->v.n : idx >= limit->v.n) {
    pc += GetSBx(i);
    SetNumber(ra, idx);
  }
  NEXT;
}
op_ITERLOOP: {
  ra = base + GetA(i);
  int c = static_cast<int>(GetC(i));
  vlValue* cb = ra + c + 3;
  cb[0] = ra[0];
  cb[1] = ra[1];
  cb[2] = ra[2];
  L->top = cb + 3;
  ptrdiff_t cbOffset = cb - base;
  PROTECT(vmCallNested(L, base + cbOffset, c));
  L->top = L->ci->top;
  ra = base + GetA(i);
  cb = base + cbOffset;
  for (int j = 0; j < c; j++) ra[2 + j] = cb[j];
  if (ra[2].tag == VL_TNIL) {
    pc++;
  } else {
    const vlInstruction j = *pc++;
    DOJUMP(j);
  }
  NEXT;
}
op_ITERPREP: {
  ra = base + GetA(i);
  if (ra->tag == VL_TTABLE) {
    SAVEPC();
    ra[1] = ra[0];
    ra[0] = *TableGetString(ToTable(&L->globals), InternString(L, "next", 4));
  }
  pc += GetSBx(i);
  NEXT;
}
op_SETLIST: {
  ra = base + GetA(i);
  SAVEPC();
  if (ra->tag != VL_TTABLE) RaiseVmError(L, ERR_BADBYTECODE);
  uint32_t bx = GetBx(i);
  int64_t n;
  if (GetOp(i) == OP_SETLIST) {
    n = (bx & 31) + 1;
  } else {
    n = L->top - ra - 1;
    L->top = L->ci->top;
    if (n < 1) NEXT;
  }
  vlTable* h = ToTable(ra);
  int64_t first = bx & ~31u;
  for (; n > 0; n--) *TableSetInt(L, h, first + n - 1) = ra[n];
  NEXT;
}
op_CLOSE:
  ra = base + GetA(i);
  SAVEPC();
  CloseUpvalues(L, ra);
  NEXT;
op_CLOSURE: {
  ra = base + GetA(i);
  vlFuncProto* p = CL->proto->p[GetBx(i)];
  int nup = p->nups;
  SAVEPC();
  vlClosure* ncl = NewScriptClosure(L, p, nup, &CL->globals);
  for (int j = 0; j < nup; j++, pc++) {
    uint32_t cap = *pc;
    if (GetOp(cap) == OP_GETUPVAL) ncl->s.upvals[j] = CL->upvals[GetB(cap)];
    else ncl->s.upvals[j] = FindUpvalue(L, base + GetB(cap));
  }
  SetClosure(ra, ncl);
  PROTECT(CheckGC(L));
  NEXT;
}
op_METHOD: {
  ra = base + GetA(i);
  const uint32_t c = GetC(i);
  const vlValue* key = RK(c);
  if (key->tag != VL_TSTRING) {
    SAVEPC();
    RaiseVmError(L, ERR_BADBYTECODE);
  }
  vlString* name = ToString(key);  // R(A+1) may be the key's register
  if (c < kRKConst) KeyHash(name);  // only constants have theirs for sure
  vlValue obj = *SlotAt(base, OFFB(i));
  ra[1] = obj;
  if (obj.tag == VL_TTABLE) {
    vlTable* h = ToTable(&obj);
    const vlValue* v = TableGetHashedString(h, name);
    if (v->tag != VL_TNIL) {
      CopyValue(ra, v);
      NEXT;
    }
    // Objects keep their methods in the table their metatable's __index
    // names: one step of the chain, taken here without the general walk.
    v = IndexTableField(L, h, name, ci, ConstantIndex(c));
    if (v->tag != VL_TNIL) {
      CopyValue(ra, v);
      NEXT;
    }
  }
  vlValue kv, res;
  SetString(&kv, name);
  PROTECT(GetTableChain(L, obj, kv, &res, base + GetB(i)));
  base[GetA(i)] = res;
  NEXT;
}
op_BAD:
  // The verifier admits no other opcode.
  SAVEPC();
  RaiseVmError(L, ERR_BADBYTECODE);

quitrun: {
  // Drop the frames this run entered; the caller ends the starting one.
  SAVEPC();
  vlCallInfo* entry = L->baseCi + entryLevel;
  CloseUpvalues(L, entry->base);
  DropReturnEntries(L, entryLevel + 1);
  entry->state &= ~VL_CI_RUNNING;
  L->ci = entry;
  L->base = entry->base;
  L->top = entry->base;
  return nullptr;
}
#undef RK
#undef RKO
#undef RKOB
#undef OFFB
#undef OFFC
#undef OFFBX
#undef kb
#undef gcache
#undef KST
#undef CL
#undef CHOOSE_STOP
#undef PROTECT
#undef SAVEPC
#undef DOJUMP
#undef NEXT
}

}  // namespace vl
