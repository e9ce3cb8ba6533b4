// Interned strings and the number <-> string conversions every coercion uses.
#pragma once
#include <cstdint>
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

// CopyBytes for the texts of made strings, which are mostly 17 to 32 bytes
// long: those take two overlapping 16-byte moves.
inline void CopyStringBytes(char* dst, const char* src, size_t len) {
  if (len > 16 && len <= 32) {
    uint64_t w[4];
    std::memcpy(&w[0], src, 16);
    std::memcpy(&w[2], src + len - 16, 16);
    std::memcpy(dst, &w[0], 16);
    std::memcpy(dst + len - 16, &w[2], 16);
  } else {
    CopyBytes(dst, src, len);
  }
}

namespace detail {
inline uint64_t Load64(const char* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}
inline uint64_t Load32(const char* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
// Both halves of the 128-bit product folded together: every input bit
// reaches the low bits that pick a bucket.
inline uint64_t Fold(uint64_t a, uint64_t b) {
  unsigned __int128 r = static_cast<unsigned __int128>(a) * b;
  return static_cast<uint64_t>(r) ^ static_cast<uint64_t>(r >> 64);
}
constexpr uint64_t kHashK0 = 0xa0761d6478bd642full;
constexpr uint64_t kHashK1 = 0xe7037ed1a0b428dbull;
constexpr uint64_t kHashK2 = 0x8ebc6af09c88c6e3ull;
}  // namespace detail

// Whether two byte runs of length len are equal; short ones (most strings)
// by overlapping loads instead of a library call.
inline bool SameBytes(const char* a, const char* b, size_t len) {
  using namespace detail;
  if (len >= 8) {
    if (len > 16) {
      if (len > 32) return std::memcmp(a, b, len) == 0;
      return ((Load64(a) ^ Load64(b)) | (Load64(a + 8) ^ Load64(b + 8)) | (Load64(a + len - 16) ^ Load64(b + len - 16)) |
              (Load64(a + len - 8) ^ Load64(b + len - 8))) == 0;
    }
    return ((Load64(a) ^ Load64(b)) | (Load64(a + len - 8) ^ Load64(b + len - 8))) == 0;
  }
  if (len >= 4) return ((Load32(a) ^ Load32(b)) | (Load32(a + len - 4) ^ Load32(b + len - 4))) == 0;
  for (size_t i = 0; i < len; i++)
    if (a[i] != b[i]) return false;
  return true;
}

// The string table's hash. Scripts never see it (table keys are placed by
// StringKeyHash), so it reads 8 bytes at a time instead of one: up to 128
// bytes every byte counts; longer strings hash their first and last 16
// bytes, their length and a sample of 16 words in between, so that making
// a long string does not cost more than copying it.
inline uint32_t HashBytes(const char* p, size_t len) {
  using namespace detail;
  uint64_t a, b, seed = kHashK0 ^ len;
  if (len <= 16) {
    if (len >= 8) {
      a = Load64(p);
      b = Load64(p + len - 8);
    } else if (len >= 4) {
      a = Load32(p);
      b = Load32(p + len - 4);
    } else if (len > 0) {
      auto byte = [p](size_t i) { return static_cast<uint64_t>(static_cast<unsigned char>(p[i])); };
      a = (byte(0) << 16) | (byte(len >> 1) << 8) | byte(len - 1);
      b = 0;
    } else {
      a = b = 0;
    }
  } else if (len <= 128) {
    const char* q = p;
    for (size_t i = len; i > 16; i -= 16, q += 16) seed = Fold(Load64(q) ^ kHashK1, Load64(q + 8) ^ seed);
    a = Load64(p + len - 16);
    b = Load64(p + len - 8);
  } else {
    seed = Fold(Load64(p) ^ kHashK1, Load64(p + 8) ^ seed);
    size_t step = (len - 40) / 15;  // 16 words from offset 16 to at most len - 24
    for (size_t k = 0; k < 16; k += 2)
      seed = Fold(Load64(p + 16 + k * step) ^ kHashK1, Load64(p + 16 + (k + 1) * step) ^ seed);
    a = Load64(p + len - 16);
    b = Load64(p + len - 8);
  }
  return static_cast<uint32_t>(Fold(a ^ kHashK1, b ^ seed ^ kHashK2));
}

// The bit a string of hash h sets in its bucket's tag (the bucket index
// takes the low bits of h, the tag the top three).
inline uint8_t StringTagBit(uint32_t h) { return static_cast<uint8_t>(1u << (h >> 29)); }

// Returns the one string object holding these bytes (NULs allowed).
vlString* InternString(vlVMState* L, const char* bytes, size_t len);

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

namespace detail {
constexpr char kDigitPairs[201] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";
constexpr uint64_t kPowersOfTen[15] = {1,           10,           100,           1000,           10000,
                                       100000,      1000000,      10000000,      100000000,      1000000000,
                                       10000000000, 100000000000, 1000000000000, 10000000000000, 100000000000000};
}  // namespace detail

// Writes an integer in decimal at out: "-" when negative, then the digits
// of magnitude, which has at most maxDigits (up to 15) of them; returns the
// length (no terminator is written).
inline size_t WriteInteger(bool negative, uint64_t magnitude, size_t maxDigits, char* out) {
  using detail::kDigitPairs;
  // The digits are counted by comparisons, whose branches are predicted
  // when numbers of one size follow each other, so where the digits go is
  // known before the number is: a count from the bit length (a chain of
  // dependent steps) delays every store of them and every load after.
  size_t digits = 1;
  while (digits < maxDigits && magnitude >= detail::kPowersOfTen[digits]) digits++;
  if (negative) *out++ = '-';
  char* q = out + digits;
  // Most numbers fit 32 bits, where the arithmetic is cheaper.
  uint64_t v = magnitude;
  while (v > 0xFFFFFFFFu) {
    unsigned r = static_cast<unsigned>(v % 100);
    v /= 100;
    q -= 2;
    std::memcpy(q, &kDigitPairs[2 * r], 2);
  }
  uint32_t w = static_cast<uint32_t>(v);
  while (w >= 100) {
    uint32_t r = w % 100;
    w /= 100;
    q -= 2;
    std::memcpy(q, &kDigitPairs[2 * r], 2);
  }
  if (w >= 10) std::memcpy(q - 2, &kDigitPairs[2 * w], 2);
  else q[-1] = static_cast<char>('0' + w);
  return digits + (negative ? 1 : 0);
}

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
