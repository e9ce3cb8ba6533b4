// Option-table readers and writers and number-or-percent arguments.
// Depends on the stack interface, the error system, the linked files and
// the layer look-up.
#include "runtime/option_readers.h"

#include <charconv>
#include <cstdlib>
#include <cstring>

#include "runtime/error_format.h"
#include "runtime/errors.h"
#include "runtime/layer_lookup.h"
#include "runtime/linked_files.h"
#include "runtime/object_data.h"
#include "vm/text.h"
#include "vm/argreaders.h"
#include "vm/convert.h"
#include "vm/error_codes.h"
#include "vm/protect.h"
#include "vm/stack_api.h"

namespace {

// Pushes table[key]; true when it is not nil (then the caller pops it).
// The key lies below a relative table index once pushed, so the index is
// made absolute first.
bool FetchField(vlVMState* L, int table, const char* key) {
  if (table < 0 && table > vl::kRegistryIndex) table = vl::GetStackTop(L) + table + 1;
  vl::PushString(L, key);
  vl::RawGetTableValue(L, table);
  if (vl::GetTypeAt(L, -1) != VL_TNIL) return true;
  vl::SetStackTop(L, -2);
  return false;
}

int Found(vlVMState* L, int* found) {
  vl::SetStackTop(L, -2);
  if (found) *found = 1;
  return 1;
}

// A decimal number at the start of a text, optionally followed by '%'.
enum class Percent { kNone, kPlain, kPercent, kBad };
Percent ParsePercentText(const char* text, int allowAbove100, double* value) {
  const char* p = text;
  if (*p == '-' || *p == '+') ++p;
  const char* digits = p;
  while (*p >= '0' && *p <= '9') ++p;
  if (*p == '.') {
    ++p;
    while (*p >= '0' && *p <= '9') ++p;
  }
  if (p == digits || (p == digits + 1 && *digits == '.')) return Percent::kNone;
  const char* start = *text == '+' ? text + 1 : text;
  std::from_chars(start, p, *value);
  if (*p != '%') return Percent::kPlain;
  if (*value < 0 || (*value > 100 && !allowAbove100)) return Percent::kBad;
  return Percent::kPercent;
}

// Raises code naming the key, after dropping the fetched value so that the
// stack is as the caller left it.
[[noreturn]] void RaiseNamingKey(vlVMState* L, int code, const char* key) {
  SetErrorArgument(key);
  vl::SetStackTop(L, -2);
  vl::RaiseVmError(L, code);
}

// The fetched value as a number (numeric texts convert); 1189 otherwise.
double NumberField(vlVMState* L, const char* key) {
  if (!vl::IsNumberAt(L, -1)) RaiseNamingKey(L, ERR_NUMTABLEARG, key);
  return vl::ToNumberAt(L, -1);
}

// Integers as the argument readers make them (4294967295 is -1).
int32_t IntField(vlVMState* L, const char* key) { return vl::NumberToArgInt(NumberField(L, key)); }

// The fetched value as a text (numbers convert); 1247 otherwise.
const char* StringField(vlVMState* L, const char* key, size_t* length) {
  if (!vl::IsStringAt(L, -1)) RaiseNamingKey(L, ERR_STRTABLEARG, key);
  const char* text = vl::ToStringAt(L, -1);
  if (length) *length = vl::GetStringLengthAt(L, -1);
  return text;
}

[[noreturn]] void RaiseNamingIndex(vlVMState* L, int code, int index) {
  SetErrorArgIndex(index);
  vl::RaiseVmError(L, code);
}

}  // namespace

int GetTableNumber(vlVMState* L, int table, const char* key, double* out, int* found) {
  if (!FetchField(L, table, key)) return 0;
  *out = NumberField(L, key);
  return Found(L, found);
}

int GetTableInt(vlVMState* L, int table, const char* key, int32_t* out, int* found) {
  if (!FetchField(L, table, key)) return 0;
  *out = IntField(L, key);
  return Found(L, found);
}

int GetTableString(vlVMState* L, int table, const char* key, char* buffer, size_t size, int* found) {
  if (!FetchField(L, table, key)) return 0;
  CopyText(buffer, size, StringField(L, key, nullptr));
  return Found(L, found);
}

int GetTableBool(vlVMState* L, int table, const char* key, int* out, int* found) {
  if (!FetchField(L, table, key)) return 0;
  switch (vl::GetTypeAt(L, -1)) {
    case VL_TNUMBER: *out = vl::ToNumberAt(L, -1) != 0; break;
    case VL_TSTRING: *out = vl::GetStringLengthAt(L, -1) != 0; break;
    default: *out = vl::ToBooleanAt(L, -1) != 0; break;
  }
  return Found(L, found);
}

int GetTableObjectID(vlVMState* L, int table, const char* key, vlObjectId* out, int* found) {
  if (!FetchField(L, table, key)) return 0;
  if (vl::GetTypeAt(L, -1) == VL_TLIGHTUSERDATA)
    *out = {0, vl::ToUserdataAt(L, -1)};
  else
    *out = {IntField(L, key), nullptr};
  return Found(L, found);
}

int GetTableIntOrPercent(vlVMState* L, int table, const char* key, int32_t* out, int allowAbove100,
                         int* found) {
  if (!FetchField(L, table, key)) return 0;
  if (vl::GetTypeAt(L, -1) != VL_TSTRING) {
    *out = IntField(L, key);
    return Found(L, found);
  }
  double value = 0;
  switch (ParsePercentText(vl::ToStringAt(L, -1), allowAbove100, &value)) {
    case Percent::kNone:
    case Percent::kBad: RaiseNamingKey(L, ERR_PERCENTFORMATSTR, key);
    case Percent::kPlain: *out = vl::DoubleToInt32(value); break;
    // Held at the int's end, so that the negation stays in range.
    case Percent::kPercent: *out = -vl::DoubleToInt32Saturated(value); break;
  }
  return Found(L, found);
}

int GetTableScaleSize(vlVMState* L, int table, const char* key, int32_t* out) {
  if (!FetchField(L, table, key)) return 0;
  double value = 0;
  bool percent = false;
  if (vl::GetTypeAt(L, -1) != VL_TSTRING) {
    value = NumberField(L, key);
  } else {
    switch (ParsePercentText(vl::ToStringAt(L, -1), 1, &value)) {
      case Percent::kNone:
      case Percent::kBad: RaiseNamingKey(L, ERR_PERCENTFORMATSTR, key);
      case Percent::kPlain: break;
      case Percent::kPercent: percent = true; break;
    }
  }
  vl::SetStackTop(L, -2);
  if (!(value >= (percent ? 1.0 : 0.0) && value <= 2147483647.0)) return ERR_WRONGUSAGE;
  *out = percent ? -static_cast<int32_t>(value) : static_cast<int32_t>(value);
  return 0;
}

int GetTableNumberOrPercent(vlVMState* L, int table, const char* key, double* out, double total,
                            int allowAbove100, int* percentFlag, int* found) {
  if (!FetchField(L, table, key)) return 0;
  if (vl::GetTypeAt(L, -1) != VL_TSTRING) {
    *out = NumberField(L, key);
    return Found(L, found);
  }
  double value = 0;
  switch (ParsePercentText(vl::ToStringAt(L, -1), allowAbove100, &value)) {
    case Percent::kNone:
    case Percent::kBad: RaiseNamingKey(L, ERR_PERCENTFORMATSTR, key);
    case Percent::kPlain: *out = value; break;
    case Percent::kPercent:
      if (total != 0) {
        *out = value * total / 100;
      } else {
        *out = value / 100;
        if (percentFlag) *percentFlag = 1;
      }
      break;
  }
  return Found(L, found);
}

int GetTableLayerID(vlVMState* L, int table, const char* key, int32_t* out, int* found) {
  if (!FetchField(L, table, key)) return 0;
  switch (vl::GetTypeAt(L, -1)) {
    case VL_TNUMBER: *out = vl::NumberToLayerPosition(NumberField(L, key)); break;
    case VL_TSTRING: {
      const char* name = vl::ToStringAt(L, -1);
      int pos = FindLayerByName(L, name);
      if (pos == 0) {
        SetErrorArgument(name);
        vl::SetStackTop(L, -2);
        vl::RaiseVmError(L, ERR_FINDLAYER);
      }
      *out = pos;
      break;
    }
    default:
      vl::SetStackTop(L, -2);
      vl::RaiseVmError(L, ERR_WRONGUSAGE);
  }
  return Found(L, found);
}

int GetTableNumberList(vlVMState* L, int table, const char* key, double* out, int capacity,
                       int required, int* count, int* found) {
  if (!FetchField(L, table, key)) return 0;
  if (vl::GetTypeAt(L, -1) != VL_TTABLE) RaiseNamingKey(L, ERR_TABEXPECTED2, key);
  int n = 0;
  for (; n < capacity; ++n) {
    vl::RawGetTableIndex(L, -1, n);
    bool present = vl::GetTypeAt(L, -1) != VL_TNIL;
    bool number = vl::IsNumberAt(L, -1);
    if (present && number) out[n] = vl::ToNumberAt(L, -1);
    vl::SetStackTop(L, -2);
    if (present && !number) RaiseNamingKey(L, ERR_NUMTABLEARG, key);
    if (!present) break;
  }
  if (count) *count = n;
  if (n < required) {
    vl::SetStackTop(L, -2);
    vl::RaiseVmError(L, ERR_MISSINGPARAMTR);
  }
  return Found(L, found);
}

int GetTableImageList(vlVMState* L, int table, const char* tableName, vlObjectId* out, int capacity,
                      int* count) {
  if (table < 0 && table > vl::kRegistryIndex) table = vl::GetStackTop(L) + table + 1;
  int top = vl::GetStackTop(L);
  int n = 0;
  vl::PushString(L, "images");
  vl::RawGetTableValue(L, table);
  if (vl::GetTypeAt(L, -1) != VL_TTABLE) {
    vl::SetStackTop(L, top);
    SetErrorArgument(tableName);
    return ERR_TABEXPECTED2;
  }
  for (; n < capacity; ++n) {
    vl::RawGetTableIndex(L, -1, n);
    int type = vl::GetTypeAt(L, -1);
    if (type == VL_TNIL) break;
    if (type == VL_TLIGHTUSERDATA) {
      out[n] = {0, vl::ToUserdataAt(L, -1)};
    } else if (type == VL_TNUMBER || (type == VL_TSTRING && vl::IsNumberAt(L, -1))) {
      out[n] = {vl::DoubleToInt32(vl::ToNumberAt(L, -1)), nullptr};
    } else {
      vl::SetStackTop(L, top);
      SetErrorArgIndex(n);
      return ERR_NUMEXPECTED;
    }
    vl::SetStackTop(L, -2);
  }
  vl::SetStackTop(L, top);
  if (count) *count = n;
  return 0;
}

int GetTableFileName(vlVMState* L, int table, const char* key, int resolve, int* isFont, char** buffer,
                     size_t* length, int* found) {
  if (!FetchField(L, table, key)) return 0;
  size_t len = 0;
  const char* name = StringField(L, key, &len);
  if (resolve) {
    name = ResolveLinkedFile(L, name, 0, isFont);
    len = strlen(name);
  }
  char* copy = static_cast<char*>(malloc(len + 1));
  if (!copy) {
    vl::SetStackTop(L, -2);
    return ERR_MEM;
  }
  memcpy(copy, name, len);
  copy[len] = 0;
  *buffer = copy;
  if (length) *length = len;
  Found(L, found);
  return 0;
}

void SetTableString(vlVMState* L, const char* key, const char* text) {
  vl::PushString(L, key);
  vl::PushString(L, text);
  vl::RawSetTableValue(L, -3);
}

void SetTableNumber(vlVMState* L, const char* key, double value) {
  vl::PushString(L, key);
  vl::PushNumber(L, value);
  vl::RawSetTableValue(L, -3);
}

void SetTableInt(vlVMState* L, const char* key, int32_t value) { SetTableNumber(L, key, value); }
void SetTableUnsigned(vlVMState* L, const char* key, uint32_t value) { SetTableNumber(L, key, value); }

double GetNumberOrPercentArg(vlVMState* L, int index, double total, int allowAbove100,
                             int* percentFlag) {
  switch (vl::GetTypeAt(L, index)) {
    case VL_TNUMBER: return vl::ToNumberAt(L, index);
    case VL_TNIL: return 0;
    case VL_TSTRING: break;
    default: RaiseNamingIndex(L, ERR_STRORNUM, index);
  }
  double value = 0;
  switch (ParsePercentText(vl::ToStringAt(L, index), allowAbove100, &value)) {
    case Percent::kNone:
    case Percent::kBad: RaiseNamingIndex(L, ERR_PERCENTFORMAT, index);
    case Percent::kPlain: return value;
    case Percent::kPercent: break;
  }
  if (total != 0) return value * total / 100;
  if (percentFlag) *percentFlag = 1;
  return value / 100;
}
