// CRC-32 over a table built at compile time, so there is no start-up step
// to forget and no shared state between threads.
#include "runtime/crc32.h"

#include <array>

namespace {

constexpr std::array<uint32_t, 256> MakeCrcTable() {
  std::array<uint32_t, 256> t{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    t[n] = c;
  }
  return t;
}

constexpr auto kCrcTable = MakeCrcTable();

}  // namespace

uint32_t UpdateCrc32(uint32_t crc, const void* buffer, size_t length) {
  const auto* p = static_cast<const unsigned char*>(buffer);
  uint32_t c = crc ^ 0xFFFFFFFFu;
  for (size_t i = 0; i < length; ++i) c = kCrcTable[(c ^ p[i]) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

uint32_t ComputeCrc32(const void* buffer, long length) {
  if (!buffer || length < 1) return 0;
  return UpdateCrc32(0, buffer, static_cast<size_t>(length));
}
