// References: integer handles that keep script values (callbacks, tables)
// alive from native code, stored in any table with a free list in slot 1
// and the highest handle in the field "n". Stack interface only.
#include "vm/auxlib.h"
#include "vm/convert.h"
#include "vm/stack_api.h"

namespace vl {

namespace {

constexpr int kFreeListSlot = 1;  // head of the released references
constexpr int kSizesSlot = 2;     // registry slot of the weak sizes table
constexpr int kFirstRef = 3;

// Negative indices count from the top; made absolute before pushing.
int AbsIndex(vlVMState* L, int i) { return (i < 0 && i > kRegistryIndex) ? GetStackTop(L) + i + 1 : i; }

// Pushes the weak-keyed table that holds the sizes of tables whose field
// "n" holds something else; made on first use.
void PushSizesTable(vlVMState* L) {
  RawGetTableIndex(L, kRegistryIndex, kSizesSlot);
  if (GetTypeAt(L, -1) == VL_TTABLE) return;
  SetStackTop(L, -2);
  PushNewTable(L);
  PushSlotCopy(L, -1);
  SetMetatableAt(L, -2);  // its own metatable
  PushString(L, "__mode");
  PushString(L, "k");
  RawSetTableValue(L, -3);
  PushSlotCopy(L, -1);
  RawSetTableIndex(L, kRegistryIndex, kSizesSlot);
}

// The number at t[n] read raw; 0 when it is not a number.
int RawIntAt(vlVMState* L, int t, int n) {
  RawGetTableIndex(L, t, n);
  int r = GetTypeAt(L, -1) == VL_TNUMBER ? DoubleToInt32(ToNumberAt(L, -1)) : 0;
  SetStackTop(L, -2);
  return r;
}

// Reads the raw field "n"; true when it reads as a number (nil counts as 0).
bool ReadSizeField(vlVMState* L, int t, int* n) {
  PushString(L, "n");
  RawGetTableValue(L, t);
  bool numeric = IsNumberAt(L, -1);
  if (numeric) *n = DoubleToInt32(ToNumberAt(L, -1));
  SetStackTop(L, -2);
  return numeric;
}

}  // namespace

int GetArraySize(vlVMState* L, int t) {
  t = AbsIndex(L, t);
  int n = 0;
  if (ReadSizeField(L, t, &n)) return n;
  PushSizesTable(L);
  PushSlotCopy(L, t);
  RawGetTableValue(L, -2);
  bool known = GetTypeAt(L, -1) == VL_TNUMBER;
  if (known) n = DoubleToInt32(ToNumberAt(L, -1));
  SetStackTop(L, -3);
  if (known) return n;
  for (n = 0;; ++n) {
    RawGetTableIndex(L, t, n + 1);
    bool present = GetTypeAt(L, -1) != VL_TNIL;
    SetStackTop(L, -2);
    if (!present) return n;
  }
}

void SetArraySize(vlVMState* L, int t, int n) {
  t = AbsIndex(L, t);
  int unused;
  if (ReadSizeField(L, t, &unused)) {
    PushString(L, "n");
    PushNumber(L, n);
    RawSetTableValue(L, t);
    return;
  }
  PushSizesTable(L);
  PushSlotCopy(L, t);
  PushNumber(L, n);
  RawSetTableValue(L, -3);
  SetStackTop(L, -2);
}

int CreateRef(vlVMState* L, int t) {
  t = AbsIndex(L, t);
  if (GetTypeAt(L, -1) == VL_TNIL) {
    SetStackTop(L, -2);
    return -1;
  }
  int highest = GetArraySize(L, t);
  int r = RawIntAt(L, t, kFreeListSlot);
  if (r >= kFirstRef && r <= highest) {
    RawGetTableIndex(L, t, r);  // the next released reference
    RawSetTableIndex(L, t, kFreeListSlot);
  } else {
    r = highest < kFirstRef ? kFirstRef : highest + 1;
    SetArraySize(L, t, r);
  }
  RawSetTableIndex(L, t, r);
  return r;
}

void ReleaseRef(vlVMState* L, int t, int ref) {
  // Only references this table handed out may join the free list: slots 1
  // and 2 hold bookkeeping, and any other number would later be handed out
  // while its slot is in use.
  if (ref < kFirstRef) return;
  t = AbsIndex(L, t);
  int highest = GetArraySize(L, t);
  if (ref > highest) return;
  // Released twice, a reference would be handed out twice.
  int r = RawIntAt(L, t, kFreeListSlot);
  for (int steps = 0; r >= kFirstRef && r <= highest && steps < highest; ++steps) {
    if (r == ref) return;
    r = RawIntAt(L, t, r);
  }
  RawGetTableIndex(L, t, kFreeListSlot);
  RawSetTableIndex(L, t, ref);
  PushNumber(L, ref);
  RawSetTableIndex(L, t, kFreeListSlot);
}

}  // namespace vl
