// Base64 encoding and a strict decoder that skips only white space.
// No dependencies.
#include "runtime/base64.h"

#include <cstdint>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Value(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

size_t EncodeBase64(const void* src, size_t length, char* dst) {
  const auto* p = static_cast<const uint8_t*>(src);
  char* out = dst;
  for (size_t i = 0; i < length; i += 3) {
    uint32_t n = p[i] << 16;
    if (i + 1 < length) n |= p[i + 1] << 8;
    if (i + 2 < length) n |= p[i + 2];
    *out++ = kAlphabet[(n >> 18) & 63];
    *out++ = kAlphabet[(n >> 12) & 63];
    *out++ = i + 1 < length ? kAlphabet[(n >> 6) & 63] : '=';
    *out++ = i + 2 < length ? kAlphabet[n & 63] : '=';
  }
  *out = '\0';
  return static_cast<size_t>(out - dst);
}

int DecodeBase64(const char* src, size_t length, void* dst, size_t* outLength) {
  auto* out = static_cast<uint8_t*>(dst);
  uint32_t group = 0;
  int have = 0, padding = 0;
  size_t written = 0;
  for (size_t i = 0; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(src[i]);
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
    if (c == '=') {
      // padding only ends a group that holds two or three characters
      if (have < 2) return 0;
      ++padding;
      group <<= 6;
      if (++have == 4) {
        if (padding > 2) return 0;
        out[written++] = static_cast<uint8_t>(group >> 16);
        if (padding == 1) out[written++] = static_cast<uint8_t>(group >> 8);
        group = 0;
        have = 0;
      }
      continue;
    }
    int v = Value(c);
    if (v < 0 || padding) return 0;  // nothing may follow the padding
    group = (group << 6) | static_cast<uint32_t>(v);
    if (++have == 4) {
      out[written++] = static_cast<uint8_t>(group >> 16);
      out[written++] = static_cast<uint8_t>(group >> 8);
      out[written++] = static_cast<uint8_t>(group);
      group = 0;
      have = 0;
    }
  }
  if (have != 0) return 0;
  if (outLength) *outLength = written;
  return 1;
}
