// Big-endian field reads over a stream with a sticky error: the first read
// past the end records "unexpected end of file" and every later read gives
// 0, so a record is read field by field and checked once.
#pragma once
#include <cstdint>
#include <cstring>

#include "runtime/stream.h"
#include "vm/error_codes.h"

struct vlFieldReader {
  vlStream* stream;
  int error = 0;

  uint32_t U8() {
    if (error) return 0;
    int b = ReadFileStreamByte(stream);
    if (b < 0) {
      error = ERR_UNEXPECTEDEOF;
      return 0;
    }
    return static_cast<uint32_t>(b);
  }
  int32_t I16() {
    uint32_t hi = U8();
    uint32_t lo = U8();
    return static_cast<int16_t>(static_cast<uint16_t>((hi << 8) | lo));
  }
  uint32_t U32() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = (v << 8) | U8();
    return v;
  }
  double F64() {
    uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits = (bits << 8) | U8();
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
  }
  // A scaled number: the unsigned word over a million.
  double Scaled() { return U32() / 1000000.0; }
};

// The bytes left behind the current position, -1 when unknown.
inline int64_t StreamBytesLeft(vlStream* stream) {
  int64_t size = GetFileStreamSize(stream);
  int64_t pos = SeekFileStream(stream, 0, VL_SEEK_CURRENT);
  if (size < 0 || pos < 0) return -1;
  return size > pos ? size - pos : 0;
}
