// MD5 as RFC 1321 gives it: 64-byte blocks, four rounds of sixteen steps,
// little-endian words, length in bits appended. No dependencies.
#include "runtime/md5.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr uint32_t kK[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
constexpr int kShift[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                            5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                            4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                            6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

uint32_t Rotate(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

void Block(uint32_t state[4], const uint8_t* p) {
  uint32_t m[16];
  for (int i = 0; i < 16; ++i)
    m[i] = p[i * 4] | (p[i * 4 + 1] << 8) | (p[i * 4 + 2] << 16) | (static_cast<uint32_t>(p[i * 4 + 3]) << 24);
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  for (int i = 0; i < 64; ++i) {
    uint32_t f;
    int g;
    if (i < 16) f = (b & c) | (~b & d), g = i;
    else if (i < 32) f = (d & b) | (~d & c), g = (5 * i + 1) % 16;
    else if (i < 48) f = b ^ c ^ d, g = (3 * i + 5) % 16;
    else f = c ^ (b | ~d), g = (7 * i) % 16;
    uint32_t next = d;
    d = c;
    c = b;
    b = b + Rotate(a + f + kK[i] + m[g], kShift[i]);
    a = next;
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
}

}  // namespace

void MD5Init(vlMD5State* md5) {
  md5->count[0] = md5->count[1] = 0;
  md5->state[0] = 0x67452301;
  md5->state[1] = 0xefcdab89;
  md5->state[2] = 0x98badcfe;
  md5->state[3] = 0x10325476;
}

void MD5Update(vlMD5State* md5, const void* data, long length) {
  if (length <= 0) return;
  const auto* p = static_cast<const uint8_t*>(data);
  size_t used = (md5->count[0] >> 3) & 63;
  uint64_t bits = (uint64_t{md5->count[1]} << 32 | md5->count[0]) + (static_cast<uint64_t>(length) << 3);
  md5->count[0] = static_cast<uint32_t>(bits);
  md5->count[1] = static_cast<uint32_t>(bits >> 32);
  auto n = static_cast<size_t>(length);
  if (used) {
    size_t take = 64 - used < n ? 64 - used : n;
    std::memcpy(md5->buffer + used, p, take);
    p += take;
    n -= take;
    if (used + take < 64) return;
    Block(md5->state, md5->buffer);
  }
  for (; n >= 64; n -= 64, p += 64) Block(md5->state, p);
  if (n) std::memcpy(md5->buffer, p, n);
}

void MD5Final(vlMD5State* md5, uint8_t digest[16]) {
  // The 0x80 byte, zeros and the bit count fill one or two blocks.
  uint8_t count[8];
  for (int i = 0; i < 8; ++i) count[i] = static_cast<uint8_t>((i < 4 ? md5->count[0] : md5->count[1]) >> (8 * (i % 4)));
  size_t used = (md5->count[0] >> 3) & 63;
  static const uint8_t kPadding[64] = {0x80};
  MD5Update(md5, kPadding, static_cast<long>(used < 56 ? 56 - used : 120 - used));
  MD5Update(md5, count, 8);
  for (int i = 0; i < 16; ++i) digest[i] = static_cast<uint8_t>(md5->state[i / 4] >> (8 * (i % 4)));
}

void MD5DigestToHex(const uint8_t digest[16], char hex[33]) {
  for (int i = 0; i < 16; ++i) std::snprintf(hex + i * 2, 3, "%02x", digest[i]);
}

void ComputeMD5(const void* data, size_t length, uint8_t digest[16]) {
  vlMD5State md5;
  MD5Init(&md5);
  const auto* p = static_cast<const uint8_t*>(data);
  // Updates take a signed length; feed huge buffers in pieces.
  while (length) {
    size_t n = length < (size_t{1} << 30) ? length : (size_t{1} << 30);
    MD5Update(&md5, p, static_cast<long>(n));
    p += n;
    length -= n;
  }
  MD5Final(&md5, digest);
}

void MD5ToHex(const void* data, size_t length, char hex[33]) {
  uint8_t digest[16];
  ComputeMD5(data, length, digest);
  MD5DigestToHex(digest, hex);
}
