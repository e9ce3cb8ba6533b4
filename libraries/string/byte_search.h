// Finding one byte value in a short byte run sixteen (or eight) bytes at a
// time, without a library call per search; longer runs go to memchr, which
// is faster once there is enough to scan.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vl {

// Bit 8i+7 set where byte i of word equals the byte that pattern repeats,
// all other bits clear (no carry crosses a byte, so there are no false hits).
inline uint64_t MatchingBytes(uint64_t word, uint64_t pattern) {
  constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
  uint64_t x = word ^ pattern;
  return ~(((x & kLow7) + kLow7) | x | kLow7);
}

// The eight bytes at p as a word whose byte i is p[i].
inline uint64_t LoadBytesInOrder(const char* p) {
  uint64_t w;
  std::memcpy(&w, p, 8);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  w = __builtin_bswap64(w);
#endif
  return w;
}

// Runs up to this long are scanned here, longer ones by memchr.
constexpr size_t kShortScan = 64;

// Bit k set where byte k of the 16 at p equals c.
inline uint32_t MatchingBytes16(const char* p, char c) {
#if defined(__SSE2__)
  __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  return static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(c))));
#else
  uint32_t m = 0;
  for (int k = 0; k < 16; ++k) m |= static_cast<uint32_t>(p[k] == c) << k;
  return m;
#endif
}

// Calls found(offset) for every byte equal to c in s[from, n), in order,
// until found returns false. Returns the offset found refused, or n.
template <class Found>
[[gnu::always_inline]] inline size_t ForEachByte(const char* s, size_t from, size_t n, char c, Found&& found) {
  if (from >= n) return n;
  size_t span = n - from;
  if (span > kShortScan) {
    for (const char* p = s + from;; ++p) {
      p = static_cast<const char*>(std::memchr(p, c, static_cast<size_t>(s + n - p)));
      if (!p) return n;
      if (!found(static_cast<size_t>(p - s))) return static_cast<size_t>(p - s);
    }
  }
  if (span >= 16) {
    // Runs of 16; the last one overlaps bytes already scanned, which are
    // masked off.
    for (size_t i = from;; i += 16) {
      uint32_t skip = 0;
      if (i + 16 > n) {
        skip = static_cast<uint32_t>(i - (n - 16));
        i = n - 16;
      }
      for (uint32_t m = MatchingBytes16(s + i, c) >> skip << skip; m; m &= m - 1) {
        size_t at = i + static_cast<size_t>(__builtin_ctz(m));
        if (!found(at)) return at;
      }
      if (i + 16 == n) return n;
    }
  }
  if (span >= 8) {
    // Two words, the second overlapping the first.
    const uint64_t pattern = 0x0101010101010101ull * static_cast<unsigned char>(c);
    uint64_t first = MatchingBytes(LoadBytesInOrder(s + from), pattern);
    for (uint64_t m = first; m; m &= m - 1) {
      size_t at = from + static_cast<size_t>(__builtin_ctzll(m) >> 3);
      if (!found(at)) return at;
    }
    if (span == 8) return n;
    size_t seen = 8 - (span - 8);
    for (uint64_t m = MatchingBytes(LoadBytesInOrder(s + n - 8), pattern) >> (seen * 8) << (seen * 8); m; m &= m - 1) {
      size_t at = n - 8 + static_cast<size_t>(__builtin_ctzll(m) >> 3);
      if (!found(at)) return at;
    }
    return n;
  }
  for (size_t i = from; i < n; ++i)
    if (s[i] == c && !found(i)) return i;
  return n;
}

// Offset of the first byte equal to c in s[from, n), or n.
inline size_t FindByte(const char* s, size_t from, size_t n, char c) {
  return ForEachByte(s, from, n, c, [](size_t) { return false; });
}

}  // namespace vl
