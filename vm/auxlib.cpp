// Named metatables, metafields, callback result readers, name lists and
// command registration, through the stack interface only.
#include "vm/auxlib.h"

#include <cstring>
#include <string>

#include "vm/text.h"
#include "vm/call.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace vl {

namespace {

int AbsIndex(vlVMState* L, int i) { return (i < 0 && i > kRegistryIndex) ? GetStackTop(L) + i + 1 : i; }

// Private registry key of the string KeepStringAlive anchors.
char g_anchorKey;

}  // namespace

void KeepStringAlive(vlVMState* L, int index) {
  index = AbsIndex(L, index);
  PushPointer(L, &g_anchorKey);
  PushSlotCopy(L, index);
  RawSetTableValue(L, kRegistryIndex);
}

int NewNamedMetatable(vlVMState* L, const char* name) {
  PushString(L, name);
  RawGetTableValue(L, kRegistryIndex);
  if (GetTypeAt(L, -1) != VL_TNIL) return 0;
  SetStackTop(L, -2);
  PushNewTable(L);
  PushString(L, name);
  PushSlotCopy(L, -2);
  RawSetTableValue(L, kRegistryIndex);  // registry[name] = m
  PushSlotCopy(L, -1);
  PushString(L, name);
  RawSetTableValue(L, kRegistryIndex);  // registry[m] = name
  return 1;
}

void PushNamedMetatable(vlVMState* L, const char* name) {
  PushString(L, name);
  RawGetTableValue(L, kRegistryIndex);
}

void* ToNamedUserdataAt(vlVMState* L, int index, const char* name) {
  index = AbsIndex(L, index);
  if (!name || !PushMetatableAt(L, index)) return nullptr;
  RawGetTableValue(L, kRegistryIndex);  // registry[metatable]
  const char* registered = GetTypeAt(L, -1) == VL_TSTRING ? ToStringAt(L, -1) : nullptr;
  bool match = registered && std::strcmp(registered, name) == 0;
  SetStackTop(L, -2);
  return match ? ToUserdataAt(L, index) : nullptr;
}

int FindNameInList(const char* name, const char* const* list) {
  if (!name || !list) return -1;
  for (int i = 0; list[i]; ++i)
    if (std::strcmp(list[i], name) == 0) return i;
  return -1;
}

int PushMetaField(vlVMState* L, int index, const char* field) {
  if (!PushMetatableAt(L, index)) return 0;
  PushString(L, field);
  RawGetTableValue(L, -2);
  if (GetTypeAt(L, -1) == VL_TNIL) {
    SetStackTop(L, -3);
    return 0;
  }
  RemoveSlot(L, -2);
  return 1;
}

int CallMetaField(vlVMState* L, int index, const char* field) {
  index = AbsIndex(L, index);
  if (!PushMetaField(L, index, field)) return 0;
  PushSlotCopy(L, index);
  CallFunction(L, 1, 1);
  return 1;
}

double GetCallbackNumber(vlVMState* L, int index, int* code) {
  double n = ToNumberAt(L, index);
  if (code) *code = (n == 0 && !IsNumberAt(L, index)) ? ERR_NUMCALLBACK : 0;
  return n;
}

const char* GetCallbackString(vlVMState* L, int index, size_t* length, int* code) {
  const char* s = ToStringAt(L, index);
  if (code) *code = s ? 0 : ERR_STRCALLBACK;
  if (s && length) *length = GetStringLengthAt(L, index);
  return s;
}

int RegisterCommands(vlVMState* L, const char* libraryName, const vlCommand* list, int nup) {
  bool any = false;
  for (const vlCommand* c = list; c && c->name; ++c) any = any || c->handler;
  if (!any) return 0;
  if (libraryName) {
    PushString(L, libraryName);
    GetTableValue(L, kGlobalsIndex);
    if (GetTypeAt(L, -1) == VL_TNIL) {
      SetStackTop(L, -2);
      PushNewTable(L);
      PushString(L, libraryName);
      PushSlotCopy(L, -2);
      SetTableValue(L, kGlobalsIndex);
    }
    InsertTopAt(L, -(nup + 1));
  }
  int table = GetStackTop(L) - nup;
  std::string lower;
  for (const vlCommand* c = list; c->name; ++c) {
    if (!c->handler) continue;
    lower = c->name;
    for (char& ch : lower) ch = static_cast<char>(vlLowerCaseTable[static_cast<unsigned char>(ch)]);
    PushString(L, lower.c_str());
    for (int i = 1; i <= nup; ++i) PushSlotCopy(L, table + i);
    PushNativeClosure(L, c->handler, nup);
    SetTableValue(L, table);
  }
  SetStackTop(L, -(nup + 1));
  return 1;
}

}  // namespace vl
