// Base64 encoding to buffers, string builders and streams, and one decoder
// with a strict and a lenient mode. Depends on the streams and the VM's
// string builder.
#include "runtime/base64.h"

#include <cstdint>
#include <cstring>
#include <string_view>

#include "runtime/stream.h"
#include "vm/auxlib.h"
#include "vm/error_codes.h"

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

namespace {

// Where decoded bytes go: a buffer, or a string builder.
struct DecodeSink {
  uint8_t* buffer;
  vlStrBuf* builder;
  size_t count;
  void Put(const uint8_t* bytes, size_t n) {
    if (builder) vl::AddBytesToStrBuf(builder, reinterpret_cast<const char*>(bytes), n);
    else std::memcpy(buffer + count, bytes, n);
    count += n;
  }
};

// The one decoder behind both entries. Strict: only blanks, tabs and line
// breaks are passed over, padding only ends a group of two or three
// characters, and nothing but blanks may follow it. Lenient (the file
// formats'): every byte below 33 is passed over, '=' counts as 0 wherever
// it stands, and decoding ends after the first group that keeps fewer than
// three bytes, whatever follows.
bool DecodeCore(const char* src, size_t length, bool strict, DecodeSink& sink) {
  uint32_t group = 0;
  int have = 0, padding = 0;
  bool pad2 = false, pad3 = false, ended = false;
  for (size_t i = 0; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(src[i]);
    if (strict ? (c == ' ' || c == '\t' || c == '\r' || c == '\n') : c < 33) continue;
    if (ended) {
      if (strict) return false;
      break;
    }
    int v;
    if (c == '=') {
      if (strict && have < 2) return false;
      ++padding;
      v = 0;
      if (have == 2) pad2 = true;
      if (have == 3) pad3 = true;
    } else {
      v = Value(c);
      if (v < 0 || (strict && padding)) return false;
    }
    group = (group << 6) | static_cast<uint32_t>(v);
    if (++have < 4) continue;
    uint8_t bytes[3] = {static_cast<uint8_t>(group >> 16), static_cast<uint8_t>(group >> 8),
                        static_cast<uint8_t>(group)};
    size_t keep = pad2 ? 1 : pad3 ? 2 : 3;
    sink.Put(bytes, keep);
    ended = keep < 3;
    group = 0;
    have = 0;
    pad2 = pad3 = false;
  }
  return have == 0;
}

}  // namespace

int DecodeBase64(const char* src, size_t length, void* dst, size_t* outLength) {
  DecodeSink sink{static_cast<uint8_t*>(dst), nullptr, 0};
  if (!DecodeCore(src, length, true, sink)) return 0;
  if (outLength) *outLength = sink.count;
  return 1;
}

int Base64Decode(const char* text, void* buffer, vlStrBuf* builder, size_t length, size_t* countOut) {
  DecodeSink sink{static_cast<uint8_t*>(buffer), builder, 0};
  bool ok = DecodeCore(text, length, false, sink);
  if (countOut) *countOut = sink.count;
  return ok ? 0 : ERR_BADBASE64;
}

int Base64Encode(vlStream* stream, vlStrBuf* builder, char* buffer, const void* bytes, size_t length,
                 size_t* countOut, int oneLine) {
  const auto* p = static_cast<const uint8_t*>(bytes);
  size_t count = countOut ? *countOut : 0;
  // Stream output is gathered in blocks; only it wraps its lines.
  char block[1024];
  size_t used = 0, column = 0;
  auto flush = [&]() {
    bool ok = WriteFileStream(stream, block, static_cast<int64_t>(used)) == static_cast<int64_t>(used);
    used = 0;
    return ok;
  };
  for (size_t i = 0; i < length; i += 3) {
    char four[5];
    EncodeBase64(p + i, length - i < 3 ? length - i : 3, four);
    if (builder) {
      vl::AddBytesToStrBuf(builder, four, 4);
      count += 4;
    } else if (buffer) {
      std::memcpy(buffer + count, four, 4);
      count += 4;
    } else {
      for (char c : std::string_view(four, 4)) {
        if (column == 72 && !oneLine) {
          block[used++] = '\n';
          ++count;
          column = 0;
        }
        block[used++] = c;
        ++count;
        ++column;
      }
      if (used > sizeof block - 16 && !flush()) return ERR_WRITE;
    }
  }
  if (!builder && !buffer && used && !flush()) return ERR_WRITE;
  if (countOut) *countOut = count;
  return 0;
}
