// The string commands that convert between strings, numbers, tables and
// other values, and the checksum and Base64 commands over strings. Depends
// on the VM's number conversions, the runtime's number parser and the
// shared CRC-32, MD5 and Base64 routines.
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "libraries/string/byte_search.h"
#include "libraries/string/string_library.h"
#include "runtime/base64.h"
#include "runtime/crc32.h"
#include "runtime/error_vm.h"
#include "runtime/md5.h"
#include "runtime/option_text.h"
#include "vm/argreaders.h"
#include "vm/auxlib.h"
#include "vm/convert.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"
#include "vm/vmstring.h"

namespace {

constexpr int kTypeInteger = 1;
constexpr int kTypeShort = 6;
constexpr int kTypeByte = 7;

bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// strtoul as a 32-bit unsigned long reads it: an optional sign, digits of
// the base; a magnitude past 32 bits saturates, a minus sign negates modulo
// 2^32. False when no digit was read or anything but blanks follows.
bool ReadUnsigned32(const char* p, const char* end, int base, double* out) {
  while (p < end && IsBlank(*p)) ++p;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
  if (base == 16 && end - p >= 2 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
    const char* q = p + 2;
    if (q < end && std::isxdigit(static_cast<unsigned char>(*q))) p = q;
  }
  uint64_t value = 0;
  bool overflow = false, any = false;
  for (; p < end; ++p) {
    int c = static_cast<unsigned char>(*p);
    int digit = c >= '0' && c <= '9'   ? c - '0'
                : c >= 'a' && c <= 'z' ? c - 'a' + 10
                : c >= 'A' && c <= 'Z' ? c - 'A' + 10
                                       : 99;
    if (digit >= base) break;
    any = true;
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    if (value > UINT32_MAX) overflow = true, value = UINT32_MAX;
  }
  if (!any) return false;
  while (p < end && IsBlank(*p)) ++p;
  if (p != end) return false;
  uint32_t v = static_cast<uint32_t>(value);
  if (negative && !overflow) v = 0u - v;
  *out = v;
  return true;
}

}  // namespace

int CmdVal(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  const char* s = vl::CheckStringArg(L, 1, nullptr);
  size_t used = 0;
  int error = 0;
  double value = ParseNumberString(s, &used, &error);
  vl::PushNumber(L, error ? 0 : value);
  vl::PushNumber(L, error ? 0 : static_cast<double>(used));
  return 2;
}

int CmdStrStr(vlVMState* L) {
  CheckArgs(L, 1, 2, 0, 0);
  double n = vl::CheckNumberArg(L, 1);
  int32_t decimals = OptStringIntArg(L, 2, 2);
  char text[vl::kNumberBufferSize];
  int length = vl::FormatNumber(n, text);
  char* dot = std::strchr(text, '.');
  if (dot) {
    // Digits after the point are dropped, not rounded; an exponent stays.
    char* exponent = std::strpbrk(dot, "eE");
    char* digitsEnd = exponent ? exponent : text + length;
    char* cut = dot + (decimals == 0 ? 0 : 1) + (decimals > 0 ? decimals : 0);
    if (cut < digitsEnd) {
      size_t tail = exponent ? std::strlen(exponent) : 0;
      std::memmove(cut, digitsEnd, tail + 1);
      length = static_cast<int>(cut - text + static_cast<ptrdiff_t>(tail));
    }
  }
  vl::PushBytes(L, text, static_cast<size_t>(length));
  return 1;
}

int CmdHexStr(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  double n = vl::CheckNumberArg(L, 1);
  if (n > 4294967295.0) n = std::fmod(n, 4294967295.0) - 1;
  uint32_t bits = n >= 0 ? vl::DoubleToUInt32Bits(n) : static_cast<uint32_t>(vl::DoubleToInt32(n));
  char text[16];
  std::snprintf(text, sizeof text, "$%X", bits);
  vl::PushString(L, text);
  return 1;
}

int CmdBinStr(vlVMState* L) {
  CheckArgs(L, 1, 2, 0, 0);
  uint32_t n = static_cast<uint32_t>(vl::CheckIntArg(L, 1));
  int32_t type = OptStringIntArg(L, 2, kTypeInteger);
  int digits = type == kTypeInteger ? 32 : type == kTypeShort ? 16 : type == kTypeByte ? 8 : 0;
  char text[33];
  for (int i = 0; i < digits; ++i) text[i] = (n >> (digits - 1 - i)) & 1 ? '1' : '0';
  vl::PushBytes(L, text, static_cast<size_t>(digits));
  return 1;
}

int CmdSplitStr(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  size_t n, sepLength;
  const char* s = vl::CheckStringArg(L, 1, &n);
  const char* sep = vl::CheckStringArg(L, 2, &sepLength);
  if (sepLength != 1) return ERR_WRONGUSAGE;
  if (n <= vl::kShortScan) {
    // Short texts (most): every separator from one mask, one fill.
    vl::ByteSpan pieces[vl::kShortScan + 1];
    size_t count = 0, from = 0;
    for (uint64_t m = vl::MatchMask(s, n, sep[0]); m; m &= m - 1) {
      size_t at = static_cast<size_t>(__builtin_ctzll(m));
      pieces[count++] = {s + from, at - from};
      from = at + 1;
    }
    pieces[count] = {s + from, n - from};
    vl::PushNewSizedTable(L, static_cast<int>(count), 1);
    vl::RawSetTableStrings(L, -1, 0, pieces, count + 1);
    vl::PushNumber(L, static_cast<double>(count + 1));
    return 2;
  }
  // The separators are counted first, so that the table is sized for its
  // pieces at once (key 0 goes to the hash part, the others to the array
  // part, as the table would have grown to hold them); the first pieces
  // are remembered on the way and not searched for again.
  constexpr size_t kBatch = 64;
  vl::ByteSpan pieces[kBatch + 1];  // a batch and the last piece
  size_t batch = 0, separators = 0, from = 0;
  vl::ForEachByte(s, 0, n, sep[0], [&](size_t at) {
    if (batch < kBatch) {
      pieces[batch++] = {s + from, at - from};
      from = at + 1;
    }
    ++separators;
    return true;
  });
  if (separators >= static_cast<size_t>(INT32_MAX)) return ERR_MEM;
  vl::PushNewSizedTable(L, static_cast<int>(separators), 1);
  size_t key = 0;
  for (;;) {
    if (key + batch == separators) pieces[batch++] = {s + from, n - from};  // the last piece
    vl::RawSetTableStrings(L, -1, static_cast<int>(key), pieces, batch);
    key += batch;
    if (key > separators) break;
    batch = 0;
    vl::ForEachByte(s, from, n, sep[0], [&](size_t at) {
      pieces[batch++] = {s + from, at - from};
      from = at + 1;
      return batch < kBatch;
    });
  }
  vl::PushNumber(L, static_cast<double>(separators + 1));
  return 2;
}

int CmdPadNum(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  int32_t n = StringIntArg(L, 1);
  int32_t digits = StringIntArg(L, 2);
  if (n < 0 || digits < 1) return ERR_WRONGUSAGE;
  char text[16];
  int length = std::snprintf(text, sizeof text, "%d", n);
  vlStrBuf b;
  vl::InitStrBuf(L, &b);
  for (int32_t i = length; i < digits; ++i) vl::AddBytesToStrBuf(&b, "0", 1);
  vl::AddBytesToStrBuf(&b, text, static_cast<size_t>(length));
  vl::PushStrBufResult(&b);
  return 1;
}

int CmdStrToArray(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  size_t n;
  const char* s = vl::CheckStringArg(L, 1, &n);
  if (n >= static_cast<size_t>(INT32_MAX)) return ERR_MEM;
  vl::PushNewSizedTable(L, static_cast<int>(n + 1), 0);
  int table = vl::GetStackTop(L);
  for (size_t i = 0; i < n; ++i) {
    vl::PushNumber(L, static_cast<unsigned char>(s[i]));
    vl::RawSetTableIndex(L, table, static_cast<int>(i));
  }
  vl::PushNumber(L, 0);
  vl::RawSetTableIndex(L, table, static_cast<int>(n));
  return 1;
}

int CmdArrayToStr(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  vl::CheckTableArg(L, 1);
  vlStrBuf b;
  vl::InitStrBuf(L, &b);
  for (int i = 0; i < INT32_MAX; ++i) {
    vl::RawGetTableIndex(L, 1, i);
    bool number = vl::GetTypeAt(L, -1) == VL_TNUMBER;
    int32_t value = number ? vl::NumberToArgInt(vl::ToNumberAt(L, -1)) : 0;
    vl::SetStackTop(L, -2);
    if (value == 0) break;
    char c = static_cast<char>(value & 0xFF);
    vl::AddBytesToStrBuf(&b, &c, 1);
  }
  vl::PushStrBufResult(&b);
  return 1;
}

int CmdToString(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  if (vl::CallMetaField(L, 1, "__tostring")) return 1;
  char text[64];
  const char* kind = nullptr;
  switch (vl::GetTypeAt(L, 1)) {
    case VL_TNIL: vl::PushString(L, "Nil"); return 1;
    case VL_TBOOLEAN: vl::PushString(L, vl::ToBooleanAt(L, 1) ? "true" : "false"); return 1;
    case VL_TNUMBER:
    case VL_TSTRING:
      vl::PushSlotCopy(L, 1);
      vl::ToStringAt(L, -1);
      return 1;
    case VL_TTABLE: kind = "Table"; break;
    case VL_TFUNCTION: kind = "Function"; break;
    case VL_TTHREAD: kind = "Thread"; break;
    default: kind = "UserData"; break;
  }
  const void* p = vl::GetTypeAt(L, 1) == VL_TUSERDATA || vl::GetTypeAt(L, 1) == VL_TLIGHTUSERDATA
                      ? vl::ToUserdataAt(L, 1)
                      : vl::ToPointerAt(L, 1);
  std::snprintf(text, sizeof text, "%s: %p", kind, p);
  vl::PushString(L, text);
  return 1;
}

int CmdToNumber(vlVMState* L) {
  CheckArgs(L, 1, 2, 0, 0);
  int32_t base = OptStringIntArg(L, 2, 10);
  if (base != 10 && (base < 2 || base > 36)) return ERR_WRONGUSAGE;
  if (vl::GetTypeAt(L, 1) == VL_TLIGHTUSERDATA) {
    vl::PushNumber(L, static_cast<double>(reinterpret_cast<uintptr_t>(vl::ToUserdataAt(L, 1))));
    return 1;
  }
  if (base == 10) {
    vl::PushNumber(L, vl::ToNumberAt(L, 1));
    return 1;
  }
  double value = 0;
  if (vl::IsStringAt(L, 1)) {
    const char* s = vl::ToStringAt(L, 1);
    if (!ReadUnsigned32(s, s + vl::GetStringLengthAt(L, 1), base, &value)) value = 0;
  }
  vl::PushNumber(L, value);
  return 1;
}

int CmdToUserData(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  // Addresses are pointer-sized: a number that ToNumber made of one comes back whole.
  int64_t n = vl::DoubleToInt64(vl::CheckNumberArg(L, 1));
  vl::PushPointer(L, reinterpret_cast<void*>(static_cast<uintptr_t>(n)));
  return 1;
}

int CmdMD5Str(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  size_t n;
  const char* s = vl::CheckStringArg(L, 1, &n);
  if (!n) return ERR_WRONGUSAGE;
  char hex[33];
  MD5ToHex(s, n, hex);
  vl::PushString(L, hex);
  return 1;
}

int CmdCRC32Str(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  size_t n;
  const char* s = vl::CheckStringArg(L, 1, &n);
  if (!n) return ERR_WRONGUSAGE;
  vl::PushNumber(L, ComputeCrc32(s, static_cast<long>(n)));
  return 1;
}

int CmdBase64Str(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  size_t n;
  const char* data = vl::CheckStringArg(L, 1, &n);
  bool decode = StringIntArg(L, 2) != 0;
  vl::SetStackTop(L, 2);
  vlStrBuf b;
  vl::InitStrBuf(L, &b);
  // A decoding error keeps the bytes decoded before it.
  if (decode) Base64Decode(data, nullptr, &b, n, nullptr);
  else Base64Encode(nullptr, &b, nullptr, data, n, nullptr, 1);
  vl::PushStrBufResult(&b);
  return 1;
}
