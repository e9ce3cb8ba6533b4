// Tables: a dense array part and a chained hash part, raw get/set, growth,
// iteration and the per-table cache of absent metamethods.
#pragma once
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
const vlValue* TableGetString(vlTable* t, vlString* key);

// The array slot of an integral key 1 .. array size, else null.
inline vlValue* ArraySlot(vlTable* t, double n) {
  int32_t k = DoubleToInt32(n);
  uint32_t idx = static_cast<uint32_t>(k) - 1u;
  if (idx < static_cast<uint32_t>(t->sizearray) && static_cast<double>(k) == n) return &t->array[idx];
  return nullptr;
}

// The value slot for key, created (nil) when absent; the caller stores the
// value. A nil key means 0; a NaN key raises 1208.
vlValue* TableSet(vlVMState* L, vlTable* t, const vlValue* key);
vlValue* TableSetInt(vlVMState* L, vlTable* t, int64_t key);
// As TableSet for a key known to be absent (TableGet gave &kNilValue).
vlValue* TableSetAbsent(vlVMState* L, vlTable* t, const vlValue* key);

// Iteration: keySlot[0] holds the current key (nil to start); on 1 it holds
// the next key and keySlot[1] its value; 0 at the end. A key not in the
// table raises 1206.
int TableNext(vlVMState* L, vlTable* t, vlValue* keySlot);

// Number of array slots / hash nodes (for tests and the collector).
inline int TableNodeCount(const vlTable* t) { return 1 << t->lsizenode; }
bool TableUsesSharedNode(vlVMState* L, const vlTable* t);

// Metatable of a table or userdata value; null for other values or when it
// only has the default metatable.
vlTable* GetMetatable(vlVMState* L, const vlValue* o);
// The metamethod of a table or userdata value for event, else &kNilValue.
const vlValue* GetMetamethod(vlVMState* L, const vlValue* o, int event);
// Fast form for events 0..4 on a metatable; records absence in its flags.
const vlValue* FastMetamethod(vlVMState* L, vlTable* mt, int event);

}  // namespace vl
