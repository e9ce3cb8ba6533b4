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

size_t ConvertUTF8ToLatin1(const char* text, char* out, size_t outSize) {
  if (!out || outSize == 0) return 0;
  size_t n = 0;
  if (text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    while (*p && n + 1 < outSize) {
      unsigned char c = *p;
      if (c < 0x80) {
        out[n++] = static_cast<char>(c);
        ++p;
        continue;
      }
      // C2 and C3 leads with one continuation byte are the only sequences
      // with a Latin-1 form (C0 and C1 would be overlong ASCII).
      if ((c == 0xC2 || c == 0xC3) && IsContinuation(p[1])) {
        out[n++] = static_cast<char>(((c & 0x1F) << 6) | (p[1] & 0x3F));
        p += 2;
        continue;
      }
      // Anything else is one '?' for the lead byte and the continuation
      // bytes behind it; the terminator always stops the scan.
      out[n++] = '?';
      ++p;
      while (IsContinuation(*p)) ++p;
    }
  }
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
