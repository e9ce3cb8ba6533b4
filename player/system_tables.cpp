// The system library's table commands: walking, counting, raw access,
// metatables, iteration with script callbacks, copying, sorting and list
// editing. Depends on the stack interface, the argument readers and the
// shared list sort with its callback call.
#include <cstring>
#include <string>

#include "runtime/error_vm.h"
#include "runtime/table_sort.h"
#include "player/system_library.h"
#include "vm/text.h"
#include "vm/argreaders.h"
#include "vm/auxlib.h"
#include "vm/call.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

// Elements from index 0 up to the first nil (and, when stopAtEmpty, the
// first empty string).
int CountList(vlVMState* L, int t, bool stopAtEmpty) {
  int n = 0;
  for (;; ++n) {
    vl::RawGetTableIndex(L, t, n);
    int tag = vl::GetTypeAt(L, -1);
    bool end = tag == VL_TNIL || (stopAtEmpty && tag == VL_TSTRING && vl::GetStringLengthAt(L, -1) == 0);
    vl::SetStackTop(L, -2);
    if (end) return n;
  }
}


}  // namespace

int CmdNextItem(vlVMState* L) {
  CheckArgs(L, 1, 2, 0, 0);
  vl::CheckTableArg(L, 1);
  vl::SetStackTop(L, 2);
  if (vl::NextTableEntry(L, 1)) return 2;
  vl::PushNil(L);
  return 1;
}

int CmdIsTableEmpty(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  vl::CheckTableArg(L, 1);
  vl::PushNil(L);
  bool empty = !vl::NextTableEntry(L, 1);
  vl::SetStackTop(L, 1);
  vl::PushNumber(L, empty ? 1 : 0);
  return 1;
}

int CmdTableItems(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  vl::CheckTableArg(L, 1);
  double n = 0;
  vl::PushNil(L);
  while (vl::NextTableEntry(L, 1)) {
    ++n;
    vl::SetStackTop(L, -2);
  }
  vl::PushNumber(L, n);
  return 1;
}

int CmdHaveItem(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  vl::CheckTableArg(L, 1);
  if (vl::GetTypeAt(L, 2) == VL_TSTRING) {
    std::string key(vl::ToStringAt(L, 2), vl::GetStringLengthAt(L, 2));
    for (char& c : key) c = static_cast<char>(vlLowerCaseTable[static_cast<unsigned char>(c)]);
    vl::PushBytes(L, key.data(), key.size());
  } else {
    vl::PushSlotCopy(L, 2);
  }
  vl::RawGetTableValue(L, 1);
  vl::PushNumber(L, vl::GetTypeAt(L, -1) != VL_TNIL ? 1 : 0);
  return 1;
}

int CmdRawGet(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  vl::CheckTableArg(L, 1);
  vl::PushSlotCopy(L, 2);
  vl::RawGetTableValue(L, 1);
  return 1;
}

int CmdRawSet(vlVMState* L) {
  CheckArgs(L, 3, 3, 0, 0);
  vl::CheckTableArg(L, 1);
  // A nil or NaN key would corrupt the table: refuse it.
  int keyTag = vl::GetTypeAt(L, 2);
  if (keyTag == VL_TNIL || (keyTag == VL_TNUMBER && vl::ToNumberAt(L, 2) != vl::ToNumberAt(L, 2)))
    return ERR_WRONGDTYPE;
  vl::SetStackTop(L, 3);
  vl::RawSetTableValue(L, 1);
  return 0;
}

int CmdRawEqual(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  vl::PushNumber(L, vl::ValuesRawEqual(L, 1, 2) ? 1 : 0);
  return 1;
}

int CmdGetMetaTable(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  if (!vl::PushMetatableAt(L, 1)) {
    vl::PushNil(L);
    return 1;
  }
  vl::PushString(L, "__metatable");
  vl::RawGetTableValue(L, -2);
  if (vl::GetTypeAt(L, -1) == VL_TNIL) vl::SetStackTop(L, -2);
  return 1;
}

int CmdSetMetaTable(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  vl::CheckTableArg(L, 1);
  int tag = vl::GetTypeAt(L, 2);
  if (tag != VL_TNIL && tag != VL_TTABLE) return ERR_TABLEORNIL;
  if (vl::PushMetatableAt(L, 1)) {
    vl::PushString(L, "__metatable");
    vl::RawGetTableValue(L, -2);
    bool locked = vl::GetTypeAt(L, -1) != VL_TNIL;
    vl::SetStackTop(L, 2);
    if (locked) return ERR_PROTMETATABLE;
  }
  vl::SetStackTop(L, 2);
  vl::SetMetatableAt(L, 1);
  return 0;
}

int CmdPairs(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  vl::CheckTableArg(L, 1);
  vl::PushString(L, "nextitem");
  vl::GetTableValue(L, vl::kGlobalsIndex);
  vl::PushSlotCopy(L, 1);
  vl::PushNil(L);
  return 3;
}

int CmdIPairs(vlVMState* L) {
  CheckArgs(L, 1, 2, 0, 0);
  vl::CheckTableArg(L, 1);
  if (vl::GetTypeAt(L, 2) == VL_TNONE) {
    vl::PushString(L, "ipairs");
    vl::GetTableValue(L, vl::kGlobalsIndex);
    vl::PushSlotCopy(L, 1);
    vl::PushNumber(L, -1);
    return 3;
  }
  // Called by the generic loop with the last index: the next element.
  int next = vl::CheckIntArg(L, 2) + 1;
  vl::RawGetTableIndex(L, 1, next);
  if (vl::GetTypeAt(L, -1) == VL_TNIL) return 0;
  vl::PushNumber(L, next);
  vl::InsertTopAt(L, -2);
  return 2;
}

int CmdForEach(vlVMState* L) {
  CheckArgs(L, 2, 3, 0, 0);
  vl::CheckTableArg(L, 1);
  vl::CheckFunctionArg(L, 2);
  bool user = vl::GetStackTop(L) >= 3;
  vl::SetStackTop(L, 3);
  vl::PushNil(L);
  while (vl::NextTableEntry(L, 1)) {  // key at 4, value at 5
    vl::PushSlotCopy(L, 2);
    vl::PushSlotCopy(L, 4);
    vl::PushSlotCopy(L, 5);
    if (user) vl::PushSlotCopy(L, 3);
    int status = CallSystemCallback(L, user ? 3 : 2);
    if (status) return status;
    if (vl::GetTypeAt(L, -1) != VL_TNIL) return 1;
    vl::SetStackTop(L, 4);
  }
  return 0;
}

int CmdForEachI(vlVMState* L) {
  CheckArgs(L, 2, 3, 0, 0);
  vl::CheckTableArg(L, 1);
  vl::CheckFunctionArg(L, 2);
  bool user = vl::GetStackTop(L) >= 3;
  vl::SetStackTop(L, 3);
  for (int i = 0;; ++i) {
    vl::RawGetTableIndex(L, 1, i);  // at 4
    if (vl::GetTypeAt(L, 4) == VL_TNIL) return 0;
    vl::PushSlotCopy(L, 2);
    vl::PushNumber(L, i);
    vl::PushSlotCopy(L, 4);
    if (user) vl::PushSlotCopy(L, 3);
    int status = CallSystemCallback(L, user ? 3 : 2);
    if (status) return status;
    if (vl::GetTypeAt(L, -1) != VL_TNIL) return 1;
    vl::SetStackTop(L, 3);
  }
}

namespace {

// Copies the table at src into a new table pushed on the stack. Subtables
// are copied through the map of copies at memo, so a table reached twice
// (a cycle included) is copied once and the copy keeps the sharing.
int DeepCopy(vlVMState* L, int src, int memo) {
  if (!vl::EnsureStackSpace(L, 6)) return ERR_STACK;
  vl::PushNewTable(L);
  int dst = vl::GetStackTop(L);
  vl::PushSlotCopy(L, src);
  vl::PushSlotCopy(L, dst);
  vl::RawSetTableValue(L, memo);
  vl::PushNil(L);
  while (vl::NextTableEntry(L, src)) {  // key at dst+1, value at dst+2
    if (vl::GetTypeAt(L, -1) == VL_TTABLE) {
      vl::PushSlotCopy(L, -1);
      vl::RawGetTableValue(L, memo);
      if (vl::GetTypeAt(L, -1) == VL_TNIL) {
        vl::SetStackTop(L, -2);
        int status = DeepCopy(L, dst + 2, memo);
        if (status) return status;
      }
      vl::ReplaceSlotWithTop(L, dst + 2);
    }
    vl::PushSlotCopy(L, dst + 1);
    vl::InsertTopAt(L, -2);
    vl::RawSetTableValue(L, dst);
  }
  return 0;
}

}  // namespace

int CmdCopyTable(vlVMState* L) {
  CheckArgs(L, 1, 2, 0, 0);
  vl::CheckTableArg(L, 1);
  bool shallow = vl::OptIntArg(L, 2, 0) != 0;
  vl::SetStackTop(L, 1);
  if (!shallow) {
    vl::PushNewTable(L);  // map of copies at 2
    int status = DeepCopy(L, 1, 2);
    return status ? status : 1;
  }
  vl::PushNewTable(L);
  vl::PushNil(L);
  while (vl::NextTableEntry(L, 1)) {
    vl::PushSlotCopy(L, -2);
    vl::InsertTopAt(L, -2);
    vl::RawSetTableValue(L, 2);
  }
  return 1;
}

int CmdSort(vlVMState* L) {
  CheckArgs(L, 1, 2, 0, 0);
  vl::CheckTableArg(L, 1);
  bool byFunction = vl::GetTypeAt(L, 2) > VL_TNIL;
  if (byFunction) vl::CheckFunctionArg(L, 2);
  if (!vl::EnsureStackSpace(L, 40)) return ERR_STACK;
  vl::SetStackTop(L, 2);
  int n = CountList(L, 1, !byFunction);
  return QuickSortTable(L, 1, byFunction ? 2 : 0, 0, n - 1);
}

int CmdUnpack(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  vl::CheckTableArg(L, 1);
  int n = CountList(L, 1, false);
  if (!vl::EnsureStackSpace(L, n)) return ERR_STACK;
  for (int i = 0; i < n; ++i) vl::RawGetTableIndex(L, 1, i);
  return n;
}

int CmdInsertItem(vlVMState* L) {
  CheckArgs(L, 2, 3, 0, 0);
  vl::CheckTableArg(L, 1);
  int pos = vl::OptIntArg(L, 3, -1);
  int n = CountList(L, 1, false);
  if (pos < 0 || pos > n) pos = n;
  for (int i = n; i > pos; --i) {
    vl::RawGetTableIndex(L, 1, i - 1);
    vl::RawSetTableIndex(L, 1, i);
  }
  vl::PushSlotCopy(L, 2);
  vl::RawSetTableIndex(L, 1, pos);
  return 0;
}

int CmdRemoveItem(vlVMState* L) {
  CheckArgs(L, 1, 2, 0, 0);
  vl::CheckTableArg(L, 1);
  int pos = vl::OptIntArg(L, 2, -1);
  int n = CountList(L, 1, false);
  if (n == 0) return 0;
  if (pos < 0 || pos >= n) pos = n - 1;
  vl::RawGetTableIndex(L, 1, pos);
  for (int i = pos; i < n - 1; ++i) {
    vl::RawGetTableIndex(L, 1, i + 1);
    vl::RawSetTableIndex(L, 1, i);
  }
  vl::PushNil(L);
  vl::RawSetTableIndex(L, 1, n - 1);
  return 1;
}

int CmdListItems(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  vl::CheckTableArg(L, 1);
  vl::PushNumber(L, CountList(L, 1, false));
  return 1;
}

int CmdConcat(vlVMState* L) {
  CheckArgs(L, 1, 4, 0, 0);
  vl::CheckTableArg(L, 1);
  size_t sepLength = 0;
  const char* sep = vl::OptStringArg(L, 2, "", &sepLength);
  int first = vl::OptIntArg(L, 3, 0);
  int last = vl::OptIntArg(L, 4, 0);
  if (last == 0) last = CountList(L, 1, false) - 1;
  vlStrBuf b;
  vl::InitStrBuf(L, &b);
  for (int i = first; i <= last; ++i) {
    vl::RawGetTableIndex(L, 1, i);
    int tag = vl::GetTypeAt(L, -1);
    if (tag != VL_TSTRING && tag != VL_TNUMBER) return ERR_STRINGEXPECTED;
    vl::AddTopToStrBuf(&b);
    if (i != last) vl::AddBytesToStrBuf(&b, sep, sepLength);
  }
  vl::PushStrBufResult(&b);
  return 1;
}
