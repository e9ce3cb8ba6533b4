// CRC-32 of ISO 3309 / IEEE 802.3 (reflected polynomial 0xEDB88320,
// initial value all ones, final complement), as zlib and PNG compute it.
#pragma once
#include <cstddef>
#include <cstdint>

// 0 for a null buffer or a length below 1.
uint32_t ComputeCrc32(const void* buffer, long length);
// Continues a finished CRC over more bytes (start with 0), as zlib's crc32.
uint32_t UpdateCrc32(uint32_t crc, const void* buffer, size_t length);
