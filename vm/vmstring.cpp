// String interning and the number <-> string conversions behind every
// coercion. Depends on the memory routine and the raise routines.
#include "vm/vmstring.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "vm/error_codes.h"
#include "vm/memory.h"
#include "vm/protect.h"

namespace vl {

namespace {

uint32_t HashBytes(const char* bytes, size_t len) {
  uint32_t h = static_cast<uint32_t>(len);
  size_t step = (len >> 5) + 1;  // long strings are sampled
  for (size_t i = len; i >= step; i -= step) {
    h ^= (h << 5) + (h >> 2) + static_cast<unsigned char>(bytes[i - 1]);
  }
  return h;
}

bool IsBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

bool OnlyBlanks(const char* p, const char* end) {
  for (; p < end; ++p) {
    if (!IsBlank(*p)) return false;
  }
  return true;
}

// Unsigned hexadecimal; values beyond 32 bits saturate at 4294967295, as the
// 32-bit unsigned conversion the format was made with did.
bool ParseHex(const char* p, const char* end, double* out) {
  uint64_t v = 0;
  const char* start = p;
  for (; p < end; ++p) {
    int d;
    char c = *p;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else break;
    v = v * 16 + static_cast<uint64_t>(d);
    if (v > 0xFFFFFFFFu) v = 0x100000000u;  // keep it from growing further
  }
  if (p == start || !OnlyBlanks(p, end)) return false;
  *out = static_cast<double>(v > 0xFFFFFFFFu ? 0xFFFFFFFFu : v);
  return true;
}

}  // namespace

void ResizeStringTable(vlVMState* L, int newsize) {
  vlStringTable* tb = &L->g->strt;
  vlGCObject** nh = NewVector<vlGCObject*>(L, static_cast<size_t>(newsize));
  for (int i = 0; i < newsize; i++) nh[i] = nullptr;
  for (int i = 0; i < tb->size; i++) {
    vlGCObject* p = tb->hash[i];
    while (p) {
      vlGCObject* next = p->next;
      uint32_t h = reinterpret_cast<vlString*>(p)->hash;
      int b = static_cast<int>(h & static_cast<uint32_t>(newsize - 1));
      p->next = nh[b];
      nh[b] = p;
      p = next;
    }
  }
  FreeVector(L, tb->hash, static_cast<size_t>(tb->size));
  tb->hash = nh;
  tb->size = newsize;
}

vlString* InternString(vlVMState* L, const char* bytes, size_t len) {
  // Lengths near the 32-bit limit cannot be stored; refuse instead of wrapping.
  if (len >= 4294967294u - sizeof(vlString) - 1) RaiseVmError(L, ERR_MEM);
  uint32_t h = HashBytes(bytes, len);
  vlStringTable* tb = &L->g->strt;
  for (vlGCObject* o = tb->hash[h & static_cast<uint32_t>(tb->size - 1)]; o; o = o->next) {
    auto* s = reinterpret_cast<vlString*>(o);
    if (s->len == len && std::memcmp(bytes, StringData(s), len) == 0) return s;
  }
  auto* s = static_cast<vlString*>(VmRealloc(L, nullptr, 0, StringRecordSize(len)));
  s->gch.tag = VL_TSTRING;
  s->gch.gcFlags = 0;
  s->reserved = 0;
  s->hash = h;
  s->len = static_cast<uint32_t>(len);
  if (len) std::memcpy(StringData(s), bytes, len);
  StringData(s)[len] = '\0';
  int b = static_cast<int>(h & static_cast<uint32_t>(tb->size - 1));
  s->gch.next = tb->hash[b];
  tb->hash[b] = ToGC(s);
  tb->nuse++;
  if (tb->nuse > tb->size && tb->size <= 1073741822) ResizeStringTable(L, tb->size * 2);
  return s;
}

void FreeString(vlVMState* L, vlString* s) {
  VmRealloc(L, s, StringRecordSize(s->len), 0);
}

bool StringToNumber(const char* text, size_t len, double* out) {
  const char* end = text + len;
  if (len >= 3 && text[0] == '0' && text[1] == 'x') return ParseHex(text + 2, end, out);
  if (len >= 1 && text[0] == '$') return ParseHex(text + 1, end, out);
  // strtod needs a terminated text; the bytes may not be.
  char small[64];
  std::string big;
  const char* buf;
  if (len < sizeof small) {
    std::memcpy(small, text, len);
    small[len] = '\0';
    buf = small;
  } else {
    big.assign(text, len);
    buf = big.c_str();
  }
  char* stop = nullptr;
  double d = std::strtod(buf, &stop);
  if (stop == buf) return false;
  if (!OnlyBlanks(stop, buf + len)) return false;
  *out = d;
  return true;
}

int FormatNumber(double n, char* buf) {
  // Integers of up to 14 digits print as "%.14g" would, without its cost.
  if (n > -1e14 && n < 1e14 && n == static_cast<double>(static_cast<int64_t>(n)) && !std::signbit(n)) {
    uint64_t v = static_cast<uint64_t>(static_cast<int64_t>(n));
    char tmp[16];
    int len = 0;
    do {
      tmp[len++] = static_cast<char>('0' + v % 10);
      v /= 10;
    } while (v);
    for (int i = 0; i < len; i++) buf[i] = tmp[len - 1 - i];
    buf[len] = '\0';
    return len;
  }
  if (n < 0 && n > -1e14 && n == static_cast<double>(static_cast<int64_t>(n))) {
    buf[0] = '-';
    return 1 + FormatNumber(-n, buf + 1);
  }
  return std::snprintf(buf, kNumberBufferSize, "%.14g", n);
}

bool ToNumber(const vlValue* o, double* out) {
  switch (o->tag) {
    case VL_TNUMBER: *out = o->v.n; return true;
    case VL_TNIL: *out = 0; return true;
    case VL_TSTRING: {
      const vlString* s = ToString(o);
      return StringToNumber(StringData(s), s->len, out);
    }
    default: return false;
  }
}

bool ToStringInPlace(vlVMState* L, vlValue* o) {
  switch (o->tag) {
    case VL_TSTRING: return true;
    case VL_TNUMBER: {
      char buf[kNumberBufferSize];
      int n = FormatNumber(o->v.n, buf);
      SetString(o, InternString(L, buf, static_cast<size_t>(n)));
      return true;
    }
    case VL_TNIL: SetString(o, InternString(L, "", 0)); return true;
    default: return false;
  }
}

}  // namespace vl
