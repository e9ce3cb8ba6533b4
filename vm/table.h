// Tables: a dense array part and a chained hash part, raw get/set, growth,
// iteration and the per-table cache of absent metamethods.
#pragma once
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "vm/convert.h"
#include "vm/state.h"

namespace vl {

constexpr int kMaxTableBits = 24;  // hash log-size and array slices

// A new table with arraySize nil slots and 2^hashLog hash nodes (log-size 0
// shares the global empty node). Sizes beyond 2^24 raise 1207.
vlTable* CreateTable(vlVMState* L, int64_t arraySize, int64_t hashLog);
void FreeTable(vlVMState* L, vlTable* t);

// Raw reads; absent keys give &kNilValue.
const vlValue* TableGet(vlTable* t, const vlValue* key);
const vlValue* TableGetInt(vlTable* t, int64_t key);
// The node after nd in its chain, or null.
inline vlTableNode* NextNode(const vlTable* t, const vlTableNode* nd) {
  return nd->key.aux ? &t->node[nd->key.aux - 1] : nullptr;
}
inline void LinkNextNode(const vlTable* t, vlTableNode* nd, const vlTableNode* next) {
  nd->key.aux = next ? static_cast<int32_t>(next - t->node) + 1 : 0;
}

// The hash that places a string key in a hash part: every byte, last
// first, up to 31 bytes; longer strings a sample of about 32 bytes.
inline uint32_t StringKeyHash(const char* bytes, size_t len) {
  uint32_t h = static_cast<uint32_t>(len);
  const auto* b = reinterpret_cast<const unsigned char*>(bytes);
  size_t step = (len >> 5) + 1;
  for (size_t i = len; i >= step; i -= step) h ^= (h << 5) + (h >> 2) + b[i - 1];
  return h;
}
// Sets s->keyHash the first time s is used as a key (once per string: kept
// off the look-ups' own path).
[[gnu::cold]] uint32_t SetKeyHash(vlString* s);
inline uint32_t KeyHash(vlString* s) {
  if (__builtin_expect(s->keyHashed != 0, 1)) return s->keyHash;
  return SetKeyHash(s);
}

// The chain walks below start at a node that always exists (the shared
// empty node at least) and end at a link of 0.
inline const vlValue* FindStringInChain(const vlTable* t, const vlTableNode* nd, vlString* key) {
  // The main position is tested first on its own: most keys sit there.
  if (nd->key.v.gc == ToGC(key) && nd->key.tag == VL_TSTRING) return &nd->val;
  while (nd->key.aux) {
    nd = &t->node[nd->key.aux - 1];
    if (nd->key.v.gc == ToGC(key) && nd->key.tag == VL_TSTRING) return &nd->val;
  }
  return &kNilValue;
}
inline const vlValue* TableGetString(const vlTable* t, vlString* key) {
  return FindStringInChain(t, &t->node[KeyHash(key) & t->nodeMask], key);
}
// The same for a key whose hash is set already: the string constants of a
// loaded function have theirs from the load on.
inline const vlValue* TableGetHashedString(const vlTable* t, vlString* key) {
  return FindStringInChain(t, &t->node[key->keyHash & t->nodeMask], key);
}

// n mod ((2^lsize - 1) OR 1), the hash position of number keys, without a
// division: one precomputed multiplier per node count (exact for every
// 32-bit n).
struct vlNodeModulo {
  uint64_t m[kMaxTableBits + 1];
  constexpr vlNodeModulo() : m() {
    for (int i = 0; i <= kMaxTableBits; i++) m[i] = UINT64_MAX / (((uint64_t(1) << i) - 1) | 1) + 1;
  }
};
inline constexpr vlNodeModulo kNodeModulo;
// d is that divisor, which a table has at hand as its node mask OR 1.
inline uint32_t NodeModulo(uint32_t n, int lsize, uint64_t d) {
  uint64_t low = kNodeModulo.m[lsize] * n;
  return static_cast<uint32_t>((static_cast<unsigned __int128>(low) * d) >> 64);
}
inline uint32_t NodeModulo(uint32_t n, int lsize) { return NodeModulo(n, lsize, ((uint64_t(1) << lsize) - 1) | 1); }

// The main position of number key n.
inline vlTableNode* HashNumber(const vlTable* t, double n) {
  double x = n + 1.0;  // 0 and -0 land together
  uint32_t w[2];
  std::memcpy(w, &x, sizeof x);
  uint32_t sum = w[0] + w[1];
  return &t->node[NodeModulo(sum, t->lsizenode, static_cast<uint64_t>(t->nodeMask) | 1)];
}

// Raw read of number key n in the chain from node nd (its main position);
// absent keys give &kNilValue.
inline const vlValue* FindNumberInChain(const vlTable* t, const vlTableNode* nd, double n) {
  if (nd->key.tag == VL_TNUMBER && nd->key.v.n == n) return &nd->val;
  while (nd->key.aux) {
    nd = &t->node[nd->key.aux - 1];
    if (nd->key.tag == VL_TNUMBER && nd->key.v.n == n) return &nd->val;
  }
  return &kNilValue;
}
// The same in the hash part only (for keys that have no array slot).
inline const vlValue* TableGetHashNumber(const vlTable* t, double n) { return FindNumberInChain(t, HashNumber(t, n), n); }

// Whether n is an integral key 1 .. array size; *idx is then its slot.
inline bool ArrayIndex(const vlTable* t, double n, uint32_t* idx) {
#if defined(__SSE2__)
  // The processor's truncation gives INT32_MIN for NaN and values out of
  // range, as DoubleToInt32 does, without testing the range first.
  int32_t k = _mm_cvttsd_si32(_mm_set_sd(n));
#else
  int32_t k = DoubleToInt32(n);
#endif
  *idx = static_cast<uint32_t>(k) - 1u;
  return *idx < static_cast<uint32_t>(t->sizearray) && static_cast<double>(k) == n;
}
// The array slot of an integral key 1 .. array size, else null.
inline vlValue* ArraySlot(vlTable* t, double n) {
  uint32_t idx;
  return ArrayIndex(t, n, &idx) ? &t->array[idx] : nullptr;
}

// The value slot for key, created (nil) when absent; the caller stores the
// value. A nil key means 0; a NaN key raises 1208.
vlValue* TableSet(vlVMState* L, vlTable* t, const vlValue* key);
vlValue* TableSetInt(vlVMState* L, vlTable* t, int64_t key);
// As TableSet for a key known to be absent (TableGet gave &kNilValue).
vlValue* TableSetAbsent(vlVMState* L, vlTable* t, const vlValue* key);
// As TableSetAbsent for a number key without an array slot, mp being
// HashNumber(t, key).
vlValue* TableSetAbsentNumber(vlVMState* L, vlTable* t, const vlValue* key, vlTableNode* mp);

// Iteration: keySlot[0] holds the current key (nil to start); on 1 it holds
// the next key and keySlot[1] its value; 0 at the end. A key not in the
// table raises 1206.
int TableNext(vlVMState* L, vlTable* t, vlValue* keySlot);

// Number of array slots / hash nodes (for tests and the collector).
inline int TableNodeCount(const vlTable* t) { return 1 << t->lsizenode; }
bool TableUsesSharedNode(vlVMState* L, const vlTable* t);

// Metatable of a table or userdata value; null for other values or when it
// only has the default metatable.
inline vlTable* GetMetatable(vlVMState* L, const vlValue* o) {
  vlTable* mt;
  if (o->tag == VL_TTABLE) mt = ToTable(o)->metatable;
  else if (o->tag == VL_TUSERDATA) mt = ToUserdata(o)->metatable;
  else return nullptr;
  return mt == DefaultMetatable(L) ? nullptr : mt;
}
// The metamethod of a table or userdata value for event, else &kNilValue.
const vlValue* GetMetamethod(vlVMState* L, const vlValue* o, int event);
// Fast form for events 0..4 on a metatable; records absence in its flags.
const vlValue* LookUpMetamethod(vlVMState* L, vlTable* mt, int event);
inline const vlValue* FastMetamethod(vlVMState* L, vlTable* mt, int event) {
  if (!mt || (mt->absentFlags & (1u << event))) return &kNilValue;
  return LookUpMetamethod(L, mt, event);
}

}  // namespace vl
