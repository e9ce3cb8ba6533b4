// Single items of the engine's file formats, to and from streams and
// memory cursors. Depends on the streams.
#include "runtime/serial_value.h"

#include <cstring>

#include "runtime/stream.h"
#include "vm/error_codes.h"

uint32_t vlSerialIOMode = VL_IO_BUFFERED;

namespace {

// Turns between the host's order (little-endian) and big-endian in place.
void Swap(uint8_t* bytes, size_t size) {
  for (size_t i = 0; i < size / 2; ++i) {
    uint8_t t = bytes[i];
    bytes[i] = bytes[size - 1 - i];
    bytes[size - 1 - i] = t;
  }
}

bool ValidSize(size_t size) { return size == 1 || size == 2 || size == 4 || size == 8; }

}  // namespace

int ReadSerialValue(vlStream* stream, void* buffer, int raw, size_t size, int hostOrder, vlReadCursor* cursor) {
  if (!raw && !ValidSize(size)) return ERR_WRONGUSAGE;
  auto* out = static_cast<uint8_t*>(buffer);
  if (stream) {
    // Both modes read through the same entry: plain files gain nothing
    // from a second path.
    if (ReadFileStream(stream, out, static_cast<int64_t>(size)) != static_cast<int64_t>(size)) return ERR_READ;
  } else {
    if (!cursor || static_cast<size_t>(cursor->end - cursor->next) < size) return ERR_READ;
    if (size) std::memcpy(out, cursor->next, size);
    cursor->next += size;
  }
  if (!raw && !hostOrder) Swap(out, size);
  return 0;
}

int WriteSerialValue(vlStream* stream, const void* buffer, int raw, size_t size, int hostOrder,
                     vlWriteCursor* cursor) {
  const auto* in = static_cast<const uint8_t*>(buffer);
  uint8_t swapped[8];
  if (!raw) {
    if (!ValidSize(size)) return ERR_WRONGUSAGE;
    std::memcpy(swapped, in, size);
    if (!hostOrder) Swap(swapped, size);
    in = swapped;
  }
  if (stream) {
    if (WriteFileStream(stream, in, static_cast<int64_t>(size)) != static_cast<int64_t>(size)) return ERR_WRITE;
    // Unbuffered mode writes through at once.
    if (vlSerialIOMode == VL_IO_UNBUFFERED && !FlushFileStream(stream)) return ERR_WRITE;
    return 0;
  }
  if (!cursor || static_cast<size_t>(cursor->end - cursor->next) < size) return ERR_WRITE;
  if (size) std::memcpy(cursor->next, in, size);
  cursor->next += size;
  return 0;
}
