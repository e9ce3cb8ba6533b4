// Interned strings and the number <-> string conversions every coercion uses.
#pragma once
#include <cstring>

#include "vm/memory.h"
#include "vm/state.h"

namespace vl {

// Copies string bytes; short ones (most of them) without a library call.
inline void CopyBytes(char* dst, const char* src, size_t len) {
  if (len >= 8) {
    if (len > 16) {
      std::memcpy(dst, src, len);
      return;
    }
    uint64_t a, b;
    std::memcpy(&a, src, 8);
    std::memcpy(&b, src + len - 8, 8);
    std::memcpy(dst, &a, 8);
    std::memcpy(dst + len - 8, &b, 8);
  } else if (len >= 4) {
    uint32_t a, b;
    std::memcpy(&a, src, 4);
    std::memcpy(&b, src + len - 4, 4);
    std::memcpy(dst, &a, 4);
    std::memcpy(dst + len - 4, &b, 4);
  } else {
    for (size_t i = 0; i < len; i++) dst[i] = src[i];
  }
}

// The string hash: every byte, last first, up to 31 bytes; a sample of
// longer strings.
inline uint32_t HashBytes(const char* bytes, size_t len) {
  uint32_t h = static_cast<uint32_t>(len);
  const auto* b = reinterpret_cast<const unsigned char*>(bytes);
  if (len < 32) {
    for (size_t i = len; i > 0; i--) h ^= (h << 5) + (h >> 2) + b[i - 1];
    return h;
  }
  size_t step = (len >> 5) + 1;
  for (size_t i = len; i >= step; i -= step) h ^= (h << 5) + (h >> 2) + b[i - 1];
  return h;
}

// The hashes of two strings of fewer than 32 bytes each, computed side by
// side: each byte waits for the one before it, so two strings hash in about
// the time of the longer one.
inline void HashTwoShort(const char* a, size_t la, uint32_t* ha, const char* b, size_t lb, uint32_t* hb) {
  const auto* x = reinterpret_cast<const unsigned char*>(a);
  const auto* y = reinterpret_cast<const unsigned char*>(b);
  uint32_t h1 = static_cast<uint32_t>(la), h2 = static_cast<uint32_t>(lb);
  size_t i = la, j = lb;
  for (; i > 0 && j > 0; i--, j--) {
    h1 ^= (h1 << 5) + (h1 >> 2) + x[i - 1];
    h2 ^= (h2 << 5) + (h2 >> 2) + y[j - 1];
  }
  for (; i > 0; i--) h1 ^= (h1 << 5) + (h1 >> 2) + x[i - 1];
  for (; j > 0; j--) h2 ^= (h2 << 5) + (h2 >> 2) + y[j - 1];
  *ha = h1;
  *hb = h2;
}

// Returns the one string object holding these bytes (NULs allowed).
vlString* InternString(vlVMState* L, const char* bytes, size_t len);
// The same with the bytes' hash (HashBytes) already known.
vlString* InternHashedString(vlVMState* L, const char* bytes, size_t len, uint32_t h);
inline vlString* InternCString(vlVMState* L, const char* text) {
  return InternString(L, text, std::strlen(text));
}
// Rehashes the string table into newsize buckets (a power of two).
void ResizeStringTable(vlVMState* L, int newsize);
inline void FreeString(vlVMState* L, vlString* s) { FreeBlock(L, s, StringRecordSize(s->len)); }

// Number parsing: "0x..." (3+ characters) and "$..." are unsigned 32-bit
// hexadecimal, anything else a decimal floating-point number; only white
// space may follow. False when the text is not a number.
bool StringToNumber(const char* text, size_t len, double* out);

// Formats with "%.14g" into buf (at least kNumberBufferSize bytes); returns
// the length.
constexpr size_t kNumberBufferSize = 32;
int FormatNumber(double n, char* buf);

// Coercion to number: numbers are themselves, nil is 0, numeric strings
// convert; false for anything else.
bool ToNumber(const vlValue* o, double* out);

// Coercion to string in place: strings stay, numbers are formatted, nil
// becomes the empty string; false (value untouched) for anything else.
bool ToStringInPlace(vlVMState* L, vlValue* o);

}  // namespace vl
