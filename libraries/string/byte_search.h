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

// The same for the 8 bytes at p.
inline uint32_t MatchingBytes8(const char* p, char c) {
#if defined(__SSE2__)
  __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
  return static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(c)))) & 0xFFu;
#else
  uint32_t m = 0;
  for (int k = 0; k < 8; ++k) m |= static_cast<uint32_t>(p[k] == c) << k;
  return m;
#endif
}

// Bit k set where s[k] equals c, for the n (at most kShortScan) bytes at s:
// runs of 16 (8 for shorter texts), the last one ending at n and
// overlapping the one before (a byte seen twice sets its bit twice).
inline uint64_t MatchMask(const char* s, size_t n, char c) {
  static_assert(kShortScan <= 64);
  if (n >= 16) {
    uint64_t m = MatchingBytes16(s, c) | uint64_t{MatchingBytes16(s + n - 16, c)} << (n - 16);
    if (n > 32) m |= uint64_t{MatchingBytes16(s + 16, c)} << 16;
    if (n > 48) m |= uint64_t{MatchingBytes16(s + 32, c)} << 32;
    return m;
  }
  if (n >= 8) return MatchingBytes8(s, c) | uint64_t{MatchingBytes8(s + n - 8, c)} << (n - 8);
  uint64_t m = 0;
  for (size_t k = 0; k < n; ++k) m |= uint64_t{s[k] == c} << k;
  return m;
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
  // Runs of 8 to 32 bytes (most texts) take two loads, the second one
  // ending at n and overlapping the first: a byte seen twice sets the same
  // bit of the run's mask twice.
  uint32_t m;
  if (span > 32) {
    // Runs of 16; the last one overlaps bytes already scanned, which are
    // masked off.
    for (size_t i = from;; i += 16) {
      uint32_t skip = 0;
      if (i + 16 > n) {
        skip = static_cast<uint32_t>(i - (n - 16));
        i = n - 16;
      }
      for (m = MatchingBytes16(s + i, c) >> skip << skip; m; m &= m - 1) {
        size_t at = i + static_cast<size_t>(__builtin_ctz(m));
        if (!found(at)) return at;
      }
      if (i + 16 == n) return n;
    }
  } else if (span >= 16) {
    m = MatchingBytes16(s + from, c) | MatchingBytes16(s + n - 16, c) << (span - 16);
  } else if (span >= 8) {
    m = MatchingBytes8(s + from, c) | MatchingBytes8(s + n - 8, c) << (span - 8);
  } else {
    for (size_t i = from; i < n; ++i)
      if (s[i] == c && !found(i)) return i;
    return n;
  }
  for (; m; m &= m - 1) {
    size_t at = from + static_cast<size_t>(__builtin_ctz(m));
    if (!found(at)) return at;
  }
  return n;
}

// Offset of the first byte equal to c in s[from, n), or n.
inline size_t FindByte(const char* s, size_t from, size_t n, char c) {
  return ForEachByte(s, from, n, c, [](size_t) { return false; });
}

}  // namespace vl
