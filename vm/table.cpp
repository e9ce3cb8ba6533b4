// Tables: array part plus chained hash part with a last-free pointer, raw
// get/set, the growth and rehash rule, iteration and metamethod look-up.
// Depends on the memory routine, strings and the raise routines.
#include "vm/table.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "vm/error_codes.h"
#include "vm/memory.h"
#include "vm/protect.h"

namespace vl {

uint32_t SetKeyHash(vlString* s) {
  s->keyHash = StringKeyHash(StringData(s), s->len);
  s->keyHashed = 1;
  return s->keyHash;
}

namespace {

constexpr int64_t kMaxArray = int64_t(1) << kMaxTableBits;

inline size_t NodeCount(const vlTable* t) { return size_t(1) << t->lsizenode; }

inline vlTableNode* HashPointer(const vlTable* t, const void* p) {
  return &t->node[reinterpret_cast<uintptr_t>(p) % ((NodeCount(t) - 1) | 1)];
}

// Apart from MainPosition, whose other keys (numbers above all) then take
// no call and save no registers.
[[gnu::noinline]] vlTableNode* StringPosition(const vlTable* t, vlString* key) {
  return &t->node[KeyHash(key) & t->nodeMask];
}

vlTableNode* MainPosition(const vlTable* t, const vlValue* key) {
  switch (key->tag) {
    case VL_TNUMBER: return HashNumber(t, key->v.n);
    case VL_TSTRING: return StringPosition(t, ToString(key));
    case VL_TBOOLEAN: return &t->node[static_cast<uint32_t>(key->v.b) & t->nodeMask];
    default: return HashPointer(t, key->v.p);
  }
}

// Integral value in 1..2^24, else 0.
inline int64_t ArrayIndex(double n) {
  if (n >= 1 && n <= static_cast<double>(kMaxArray)) {
    int64_t k = static_cast<int64_t>(n);
    if (static_cast<double>(k) == n) return k;
  }
  return 0;
}

const vlValue* GetNumber(vlTable* t, double n) {
  if (n >= 1 && n <= t->sizearray) {
    int64_t k = static_cast<int64_t>(n);
    if (static_cast<double>(k) == n) return &t->array[k - 1];
  }
  return TableGetHashNumber(t, n);
}

const vlValue* GetGeneric(vlTable* t, const vlValue* key) {
  for (vlTableNode* nd = MainPosition(t, key); nd; nd = NextNode(t, nd)) {
    if (RawEqual(&nd->key, key)) return &nd->val;
  }
  return &kNilValue;
}

// Slice of an array candidate k: 0 for 1, i for 2^(i-1)+1 .. 2^i.
inline int Slice(int64_t k) { return static_cast<int>(std::bit_width(static_cast<uint64_t>(k - 1))); }

inline bool IsShared(vlVMState* L, const vlTable* t) { return t->node == &L->g->dummynode; }

// Nil keys and values and null links are all-zero bytes: blocks of them
// are cleared in one go.
static_assert(VL_TNIL == 0);
template <class T>
inline void ClearSlots(T* first, size_t n) {
  static_assert(sizeof(T) % 16 == 0);
  auto* p = reinterpret_cast<char*>(first);
  size_t bytes = n * sizeof(T);
  // The small parts of most new tables are cleared by a few fixed-size
  // stores instead of a library call (the two halves may overlap).
  if (bytes >= 32 && bytes <= 64) {
    std::memset(p, 0, 32);
    std::memset(p + bytes - 32, 0, 32);
  } else if (bytes == 16) {
    std::memset(p, 0, 16);
  } else {
    std::memset(p, 0, bytes);
  }
}

[[gnu::always_inline]] inline void SetNodeVector(vlVMState* L, vlTable* t, int lsize) {
  if (lsize == 0) {
    t->node = &L->g->dummynode;
    t->lsizenode = 0;
    t->nodeMask = 0;
    t->lastfree = t->node;
    return;
  }
  size_t n = size_t(1) << lsize;
  vlTableNode* nodes = NewVector<vlTableNode>(L, n);
  ClearSlots(nodes, n);
  t->node = nodes;
  t->lsizenode = static_cast<uint8_t>(lsize);
  t->nodeMask = static_cast<uint32_t>(n - 1);
  t->lastfree = &nodes[n - 1];
}

vlValue* NewKey(vlVMState* L, vlTable* t, const vlValue* key, vlTableNode* mp = nullptr);

// Grows or shrinks both parts to fit the entries. pendingNode (a node of the
// old hash part holding a new key) or pendingKey (a key not yet stored) is
// counted as an entry. A pending node is re-inserted with the value false,
// so that no later key takes its node; the caller sets the value.
void Rehash(vlVMState* L, vlTable* t, vlTableNode* pendingNode, const vlValue* pendingKey) {
  int64_t nums[kMaxTableBits + 1] = {0};
  int64_t total = 0, candidates = 0;
  auto countKey = [&](const vlValue* k) {
    total++;
    if (k->tag == VL_TNUMBER) {
      int64_t idx = ArrayIndex(k->v.n);
      if (idx) {
        nums[Slice(idx)]++;
        candidates++;
      }
    }
  };
  // The array part slice by slice: slice i holds the indices 2^(i-1)+1 .. 2^i.
  for (int i = 0, lo = 1; i <= kMaxTableBits && lo <= t->sizearray; i++) {
    int64_t hi = std::min<int64_t>(int64_t(1) << i, t->sizearray);
    int64_t used = 0;
    for (int64_t j = lo; j <= hi; j++) used += t->array[j - 1].tag != VL_TNIL;
    nums[i] += used;
    candidates += used;
    total += used;
    lo = static_cast<int>(hi) + 1;
  }
  if (!IsShared(L, t)) {
    size_t n = NodeCount(t);
    for (size_t i = 0; i < n; i++) {
      const vlTableNode* nd = &t->node[i];
      if (nd->val.tag != VL_TNIL || nd == pendingNode) countKey(&nd->key);
    }
  }
  if (pendingKey) countKey(pendingKey);

  // Largest 2^n with at least 2^(n-1) of the slots 1..2^n in use.
  int64_t sum = 0, toArray = 0;
  int best = -1;
  for (int i = 0; i <= kMaxTableBits; i++) {
    int64_t twoi = int64_t(1) << i;
    if (twoi > candidates) break;
    sum += nums[i];
    if (2 * sum >= twoi) {
      best = i;
      toArray = sum;
    }
    if (sum >= candidates) break;
  }
  int64_t nasize = best < 0 ? 0 : (int64_t(1) << best);
  int64_t nhash = total - toArray;
  int lsize = 0;
  if (nhash > 0) {
    while ((int64_t(1) << (lsize + 1)) <= nhash) lsize++;  // floor(log2)
    lsize++;
  }
  if (lsize > kMaxTableBits) RaiseVmError(L, ERR_TABLEOVERFLOW);

  int64_t oldasize = t->sizearray;
  vlTableNode* oldnode = t->node;
  bool oldShared = IsShared(L, t);
  size_t oldcount = NodeCount(t);
  if (nasize > oldasize) {
    t->array = ResizeVector(L, t->array, static_cast<size_t>(oldasize), static_cast<size_t>(nasize));
    ClearSlots(t->array + oldasize, static_cast<size_t>(nasize - oldasize));
    t->sizearray = static_cast<int32_t>(nasize);
  }
  SetNodeVector(L, t, lsize);
  L->g->tableEpoch++;  // remembered nodes of the old block are gone
  if (nasize < oldasize) {
    t->sizearray = static_cast<int32_t>(nasize);
    for (int64_t i = nasize; i < oldasize; i++) {
      if (t->array[i].tag != VL_TNIL) *TableSetInt(L, t, i + 1) = t->array[i];
    }
    t->array = ResizeVector(L, t->array, static_cast<size_t>(oldasize), static_cast<size_t>(nasize));
  }
  if (pendingNode) SetBoolean(&pendingNode->val, 0);  // nothing below throws
  if (!oldShared) {
    // The old keys are distinct, valid and absent from the new hash part:
    // each goes to its array slot or straight to a new node.
    for (size_t j = oldcount; j-- > 0;) {
      const vlTableNode* old = &oldnode[j];
      if (old->val.tag == VL_TNIL) continue;
      vlValue* slot;
      if (old->key.tag == VL_TNUMBER) {
        slot = ArraySlot(t, old->key.v.n);
        if (!slot) slot = NewKey(L, t, &old->key, HashNumber(t, old->key.v.n));
      } else {
        slot = NewKey(L, t, &old->key);
      }
      *slot = old->val;
    }
    FreeVector(L, oldnode, oldcount);
  }
}

// Inserts a key known to be absent, not nil and not NaN; mp is its main
// position when the caller has it at hand.
vlValue* NewKey(vlVMState* L, vlTable* t, const vlValue* key, vlTableNode* mp) {
  if (IsShared(L, t)) {
    // Never write into the shared node: grow first with the key counted.
    Rehash(L, t, nullptr, key);
    const vlValue* p = TableGet(t, key);  // it may belong to the array now
    return p != &kNilValue ? const_cast<vlValue*>(p) : NewKey(L, t, key);
  }
  if (!mp) mp = MainPosition(t, key);
  if (mp->val.tag != VL_TNIL) {
    vlTableNode* n = t->lastfree;  // always a node with a nil key here
    vlTableNode* othern = MainPosition(t, &mp->key);
    if (othern != mp) {
      // The colliding entry is out of its main position: move it to n.
      while (NextNode(t, othern) != mp) othern = NextNode(t, othern);
      LinkNextNode(t, othern, n);
      *n = *mp;  // with its link to the rest of the chain
      L->g->tableEpoch++;  // an entry changed node
      mp->key.aux = 0;
      SetNil(&mp->val);
    } else {
      LinkNextNode(t, n, NextNode(t, mp));
      LinkNextNode(t, mp, n);
      mp = n;
    }
  }
  if (mp->key.tag != VL_TNIL) L->g->tableEpoch++;  // the node held a removed key
  const int32_t link = mp->key.aux;
  mp->key = *key;
  mp->key.aux = link;
  for (;;) {
    if (t->lastfree->key.tag == VL_TNIL) return &mp->val;
    if (t->lastfree == t->node) break;
    t->lastfree--;
  }
  // No free node left: grow with the new entry counted, then find it again.
  vlValue k = *key;
  Rehash(L, t, mp, nullptr);
  auto* slot = const_cast<vlValue*>(TableGet(t, &k));
  SetNil(slot);
  return slot;
}

}  // namespace

vlTable* CreateTable(vlVMState* L, int64_t arraySize, int64_t hashLog) {
  // Sizes come from bytecode and plug-ins: check them before any shift.
  if (arraySize < 0 || arraySize > kMaxArray || hashLog < 0 || hashLog > kMaxTableBits) {
    RaiseVmError(L, ERR_TABLEOVERFLOW);
  }
  auto* t = static_cast<vlTable*>(NewBlock(L, sizeof(vlTable)));
  LinkObject(L, ToGC(t), VL_TTABLE);
  t->absentFlags = 0xFF;
  vlVMGlobal* g = L->g;
  t->metatable = g->defaultMeta.tag == VL_TTABLE ? ToTable(&g->defaultMeta) : t;
  t->array = nullptr;
  t->sizearray = 0;
  t->gclist = nullptr;
  t->node = &g->dummynode;
  t->lsizenode = 0;
  t->nodeMask = 0;
  t->lastfree = t->node;
  // Linked and consistent before anything else can fail.
  if (arraySize > 0) {
    t->array = NewVector<vlValue>(L, static_cast<size_t>(arraySize));
    ClearSlots(t->array, static_cast<size_t>(arraySize));
    t->sizearray = static_cast<int32_t>(arraySize);
  }
  if (hashLog > 0) SetNodeVector(L, t, static_cast<int>(hashLog));
  return t;
}

void FreeTable(vlVMState* L, vlTable* t) {
  L->g->tableEpoch++;  // a new table may take its address
  if (!IsShared(L, t)) FreeVector(L, t->node, NodeCount(t));
  FreeVector(L, t->array, static_cast<size_t>(t->sizearray));
  FreeBlock(L, t, sizeof(vlTable));
}

bool TableUsesSharedNode(vlVMState* L, const vlTable* t) { return IsShared(L, t); }

const vlValue* TableGetInt(vlTable* t, int64_t key) {
  if (key >= 1 && key <= t->sizearray) return &t->array[key - 1];
  return TableGetHashNumber(t, static_cast<double>(key));
}

const vlValue* TableGet(vlTable* t, const vlValue* key) {
  switch (key->tag) {
    case VL_TSTRING: return TableGetString(t, ToString(key));
    case VL_TNUMBER: return GetNumber(t, key->v.n);
    case VL_TNIL: return TableGetInt(t, 0);
    default: return GetGeneric(t, key);
  }
}

vlValue* TableSet(vlVMState* L, vlTable* t, const vlValue* key) {
  t->absentFlags = 0;
  const vlValue* p = TableGet(t, key);
  if (p != &kNilValue) return const_cast<vlValue*>(p);
  return TableSetAbsent(L, t, key);
}

vlValue* TableSetAbsent(vlVMState* L, vlTable* t, const vlValue* key) {
  t->absentFlags = 0;
  if (key->tag == VL_TNIL) {
    vlValue zero;
    SetNumber(&zero, 0);
    return NewKey(L, t, &zero);
  }
  if (key->tag == VL_TNUMBER && std::isnan(key->v.n)) RaiseVmError(L, ERR_TABLEINDEX);
  return NewKey(L, t, key);
}

vlValue* TableSetAbsentNumber(vlVMState* L, vlTable* t, const vlValue* key, vlTableNode* mp) {
  t->absentFlags = 0;
  if (std::isnan(key->v.n)) RaiseVmError(L, ERR_TABLEINDEX);
  return NewKey(L, t, key, IsShared(L, t) ? nullptr : mp);
}

vlValue* TableSetInt(vlVMState* L, vlTable* t, int64_t key) {
  const vlValue* p = TableGetInt(t, key);
  if (p != &kNilValue) return const_cast<vlValue*>(p);
  vlValue k;
  SetNumber(&k, static_cast<double>(key));
  return NewKey(L, t, &k);
}

int TableNext(vlVMState* L, vlTable* t, vlValue* keySlot) {
  int64_t i;  // index to start the search at
  const vlValue* key = keySlot;
  if (key->tag == VL_TNIL) {
    i = 0;
  } else {
    int64_t k = key->tag == VL_TNUMBER ? ArrayIndex(key->v.n) : 0;
    if (k && k <= t->sizearray) {
      i = k;
    } else {
      vlTableNode* found = nullptr;
      for (vlTableNode* nd = MainPosition(t, key); nd; nd = NextNode(t, nd)) {
        // A key cleared by the collector still marks its place.
        if (RawEqual(&nd->key, key) ||
            (nd->key.tag == VL_TDEADKEY && IsCollectable(key) && nd->key.v.gc == key->v.gc)) {
          found = nd;
          break;
        }
      }
      if (!found || IsShared(L, t)) RaiseVmError(L, ERR_INVNEXTKEY);
      i = t->sizearray + (found - t->node) + 1;
    }
  }
  for (; i < t->sizearray; i++) {
    if (t->array[i].tag != VL_TNIL) {
      SetNumber(&keySlot[0], static_cast<double>(i + 1));
      keySlot[1] = t->array[i];
      return 1;
    }
  }
  size_t n = NodeCount(t);
  for (size_t j = static_cast<size_t>(i - t->sizearray); j < n; j++) {
    if (t->node[j].val.tag != VL_TNIL) {
      keySlot[0] = t->node[j].key;
      keySlot[1] = t->node[j].val;
      return 1;
    }
  }
  return 0;
}

const vlValue* LookUpMetamethod(vlVMState* L, vlTable* mt, int event) {
  const vlValue* tm = TableGetString(mt, L->g->tmname[event]);
  if (tm->tag == VL_TNIL) mt->absentFlags |= static_cast<uint8_t>(1u << event);
  return tm;
}

const vlValue* GetMetamethod(vlVMState* L, const vlValue* o, int event) {
  vlTable* mt = GetMetatable(L, o);
  if (!mt) return &kNilValue;
  if (event <= VL_TM_EQ) return FastMetamethod(L, mt, event);
  return TableGetString(mt, L->g->tmname[event]);
}

}  // namespace vl

