// MD5 digests (RFC 1321) of byte buffers, as raw bytes or lower-case hex.
#pragma once
#include <cstddef>
#include <cstdint>

void ComputeMD5(const void* data, size_t length, uint8_t digest[16]);
// 32 lower-case hexadecimal digits and a terminator into hex (33 bytes).
void MD5ToHex(const void* data, size_t length, char hex[33]);
