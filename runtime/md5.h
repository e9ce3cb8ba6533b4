// MD5 digests (RFC 1321) of byte buffers, as raw bytes or lower-case hex.
#pragma once
#include <cstddef>
#include <cstdint>

// Incremental form: MD5Init, any number of MD5Update (a length of 0 or
// less does nothing), MD5Final.
struct vlMD5State {
  uint32_t count[2];  // bits processed, low word first
  uint32_t state[4];
  uint8_t buffer[64];
};
void MD5Init(vlMD5State* md5);
void MD5Update(vlMD5State* md5, const void* data, long length);
void MD5Final(vlMD5State* md5, uint8_t digest[16]);
// 32 lower-case hexadecimal digits and a terminator.
void MD5DigestToHex(const uint8_t digest[16], char hex[33]);

void ComputeMD5(const void* data, size_t length, uint8_t digest[16]);
// 32 lower-case hexadecimal digits and a terminator into hex (33 bytes).
void MD5ToHex(const void* data, size_t length, char hex[33]);
