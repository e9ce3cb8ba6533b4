// Constants, labels and registry values: tables in the VM registry keyed by
// lower-cased names, reached through the stack interface.
#include "vm/constants.h"

#include <string>

#include "vm/text.h"
#include "vm/auxlib.h"
#include "vm/convert.h"
#include "vm/stack_api.h"

namespace vl {

namespace {

constexpr int kRegistry = kRegistryIndex;

std::string Lowered(const char* name) {
  std::string s = name ? name : "";
  for (char& c : s) c = static_cast<char>(vlLowerCaseTable[static_cast<unsigned char>(c)]);
  return s;
}

// Pushes registry[name] read with __index.
void PushRegistryEntry(vlVMState* L, const char* name) {
  PushString(L, name);
  GetTableValue(L, kRegistry);
}

}  // namespace

void RegisterConstants(vlVMState* L, const vlConstant* list, int flag) {
  const char* tableName = flag ? "userconstants" : "constants";
  PushRegistryEntry(L, tableName);
  if (GetTypeAt(L, -1) == VL_TNIL) {
    SetStackTop(L, -2);
    PushNewTable(L);
    PushString(L, tableName);
    PushSlotCopy(L, -2);
    SetTableValue(L, kRegistry);
  }
  int table = GetStackTop(L);
  for (const vlConstant* c = list; c && c->name; ++c) {
    PushString(L, Lowered(c->name).c_str());
    if (c->stringValue) PushString(L, c->stringValue);
    else PushNumber(L, c->number);
    SetTableValue(L, table);
  }
  SetStackTop(L, -2);
}

int FindConstantIn(vlVMState* L, const char* name, const char** text, double* number, const char* table) {
  if (!name || !table) return 0;
  PushRegistryEntry(L, table);
  if (GetTypeAt(L, -1) != VL_TTABLE) {
    SetStackTop(L, -2);
    return 0;
  }
  PushString(L, Lowered(name).c_str());
  GetTableValue(L, -2);
  int found = 1;
  switch (GetTypeAt(L, -1)) {
    case VL_TNIL: found = 0; break;
    case VL_TNUMBER:
      if (text) *text = nullptr;
      if (number) *number = ToNumberAt(L, -1);
      break;
    case VL_TSTRING:
      if (text) *text = ToStringAt(L, -1);  // the table keeps the string alive
      break;
    default: break;
  }
  SetStackTop(L, -3);
  return found;
}

int FindConstant(vlVMState* L, const char* name, const char** text, double* number) {
  return FindConstantIn(L, name, text, number, "constants") ||
         FindConstantIn(L, name, text, number, "userconstants");
}

int FindLabel(vlVMState* L, const char* name) {
  if (!name) return -1;
  PushRegistryEntry(L, "labels");
  if (GetTypeAt(L, -1) != VL_TTABLE) {
    SetStackTop(L, -2);
    return -1;
  }
  PushString(L, Lowered(name).c_str());
  GetTableValue(L, -2);
  int index = GetTypeAt(L, -1) == VL_TNUMBER ? DoubleToInt32(ToNumberAt(L, -1)) : -1;
  SetStackTop(L, -3);
  return index;
}

void SetRegistryNumber(vlVMState* L, const char* name, double value) {
  PushString(L, name);
  PushNumber(L, value);
  SetTableValue(L, kRegistry);
}

void SetRegistryString(vlVMState* L, const char* name, const char* value) {
  PushString(L, name);
  PushString(L, value);
  SetTableValue(L, kRegistry);
}

void SetRegistryPointer(vlVMState* L, const char* name, void* value) {
  PushString(L, name);
  PushPointer(L, value);
  SetTableValue(L, kRegistry);
}

double GetRegistryNumber(vlVMState* L, const char* name) {
  PushRegistryEntry(L, name);
  double n = GetTypeAt(L, -1) == VL_TNIL ? 0 : ToNumberAt(L, -1);
  SetStackTop(L, -2);
  return n;
}

const char* GetRegistryString(vlVMState* L, const char* name) {
  PushRegistryEntry(L, name);
  const char* s = nullptr;
  int type = GetTypeAt(L, -1);
  if (type == VL_TSTRING) {
    s = ToStringAt(L, -1);
  } else if (type == VL_TNUMBER) {
    s = ToStringAt(L, -1);
    KeepStringAlive(L, -1);  // the registry holds only the number
  }
  SetStackTop(L, -2);
  return s;
}

void* GetRegistryPointer(vlVMState* L, const char* name) {
  PushRegistryEntry(L, name);
  int type = GetTypeAt(L, -1);
  void* p = (type == VL_TUSERDATA || type == VL_TLIGHTUSERDATA) ? ToUserdataAt(L, -1) : nullptr;
  SetStackTop(L, -2);
  return p;
}

}  // namespace vl
