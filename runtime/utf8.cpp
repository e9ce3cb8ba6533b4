// Latin-1 <-> UTF-8 conversion. Latin-1 is exactly the first 256 code
// points, so only one- and two-byte sequences ever map; everything else
// becomes '?'. Depends on nothing but the C library.
#include "runtime/utf8.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

}  // namespace

char* ConvertLatin1ToUTF8(const char* text) {
  if (!text) return nullptr;
  size_t len = std::strlen(text);
  char* out = static_cast<char*>(std::malloc(2 * len + 1));
  if (!out) return nullptr;
  auto* w = reinterpret_cast<unsigned char*>(out);
  for (auto* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
    if (*p < 0x80) {
      *w++ = *p;
    } else {
      *w++ = static_cast<unsigned char>(0xC0 | (*p >> 6));
      *w++ = static_cast<unsigned char>(0x80 | (*p & 0x3F));
    }
  }
  *w = 0;
  return out;
}

namespace {

// One character at p (before end) in Latin-1: C2 and C3 leads with one
// continuation byte are the only sequences with a Latin-1 form (C0 and C1
// would be overlong ASCII); anything else is one '?' for the lead byte and
// the continuation bytes behind it. The bytes it took.
size_t DecodeToLatin1(const unsigned char* p, const unsigned char* end, char* out) {
  unsigned char c = *p;
  if (c < 0x80) {
    *out = static_cast<char>(c);
    return 1;
  }
  if ((c == 0xC2 || c == 0xC3) && p + 1 < end && IsContinuation(p[1])) {
    *out = static_cast<char>(((c & 0x1F) << 6) | (p[1] & 0x3F));
    return 2;
  }
  *out = '?';
  size_t n = 1;
  while (p + n < end && IsContinuation(p[n])) ++n;
  return n;
}

}  // namespace

size_t ConvertUTF8ToLatin1(const char* text, char* out, size_t outSize) {
  if (!out || outSize == 0) return 0;
  size_t n = 0;
  if (text) {
    // The terminator always stops the scan.
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    const unsigned char* end = p + std::strlen(text);
    while (p < end && n + 1 < outSize) p += DecodeToLatin1(p, end, out + n++);
  }
  out[n] = 0;
  return n;
}

size_t ConvertUTF8BytesToLatin1(const char* text, size_t length, char* out) {
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  const unsigned char* end = p + length;
  size_t n = 0;
  while (p < end) p += DecodeToLatin1(p, end, out + n++);
  out[n] = 0;
  return n;
}

char* ConvertEncoding(const char* text, int from, int to) {
  if (!text) return nullptr;
  if (from == VL_ENCODING_LATIN1 && to == VL_ENCODING_UTF8) return ConvertLatin1ToUTF8(text);
  if (from == VL_ENCODING_UTF8 && to == VL_ENCODING_LATIN1) {
    size_t size = std::strlen(text) + 1;
    char* out = static_cast<char*>(std::malloc(size));
    if (out) ConvertUTF8ToLatin1(text, out, size);
    return out;
  }
  return nullptr;
}
