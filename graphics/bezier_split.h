// Halving a conic or cubic arc the way FreeType's rasterisers do, points
// stored end first: base[0] the end, base[degree] the start. The halves
// take base[0..2*degree]; each new point rounds down (an arithmetic
// shift), which decides pixels, so both rasterisers that copy FreeType
// share this. P is a pair of 64-bit coordinates x, y.
#pragma once
#include <cstdint>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace vl_bezier {

template <typename P>
inline void SplitConic(P* base) {
  long a, b;
  base[4].x = base[2].x;
  a = base[0].x + base[1].x;
  b = base[1].x + base[2].x;
  base[3].x = b >> 1;
  base[2].x = (a + b) >> 2;
  base[1].x = a >> 1;
  base[4].y = base[2].y;
  a = base[0].y + base[1].y;
  b = base[1].y + base[2].y;
  base[3].y = b >> 1;
  base[2].y = (a + b) >> 2;
  base[1].y = a >> 1;
}

#ifdef __SSE2__
// x and y at once. Halving rounds down, as an arithmetic shift does: the
// values are lifted by 2^62 (far above any coordinate here) for the
// logical shift SSE2 has, and the lifted part taken off after.
template <int kShift>
inline __m128i HalvesDown(__m128i v) {
  constexpr long kLift = long{1} << 62;
  return _mm_sub_epi64(_mm_srli_epi64(_mm_add_epi64(v, _mm_set1_epi64x(kLift)), kShift),
                       _mm_set1_epi64x(kLift >> kShift));
}

template <typename P>
inline void SplitCubic(P* base) {
  static_assert(sizeof(P) == 16);
  auto load = [&](int i) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + i)); };
  auto store = [&](int i, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(base + i), v); };
  const __m128i p0 = load(0), p1 = load(1), p2 = load(2), p3 = load(3);
  store(6, p3);
  __m128i a = _mm_add_epi64(p0, p1);
  const __m128i b = _mm_add_epi64(p1, p2);
  __m128i c = _mm_add_epi64(p2, p3);
  store(5, HalvesDown<1>(c));
  c = _mm_add_epi64(c, b);
  store(4, HalvesDown<2>(c));
  store(1, HalvesDown<1>(a));
  a = _mm_add_epi64(a, b);
  store(2, HalvesDown<2>(a));
  store(3, HalvesDown<3>(_mm_add_epi64(a, c)));
}
#else
template <typename P>
inline void SplitCubic(P* base) {
  long a, b, c;
  base[6].x = base[3].x;
  a = base[0].x + base[1].x;
  b = base[1].x + base[2].x;
  c = base[2].x + base[3].x;
  base[5].x = c >> 1;
  c += b;
  base[4].x = c >> 2;
  base[1].x = a >> 1;
  a += b;
  base[2].x = a >> 2;
  base[3].x = (a + c) >> 3;
  base[6].y = base[3].y;
  a = base[0].y + base[1].y;
  b = base[1].y + base[2].y;
  c = base[2].y + base[3].y;
  base[5].y = c >> 1;
  c += b;
  base[4].y = c >> 2;
  base[1].y = a >> 1;
  a += b;
  base[2].y = a >> 2;
  base[3].y = (a + c) >> 3;
}
#endif

}  // namespace vl_bezier
