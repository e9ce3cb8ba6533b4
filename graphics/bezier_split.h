// Halving a conic or cubic arc the way FreeType's rasterisers do, points
// stored end first: base[0] the end, base[degree] the start. The halves
// take base[0..2*degree]; each new point rounds down (an arithmetic
// shift), which decides pixels, so both rasterisers that copy FreeType
// share this. P is a pair of 64-bit coordinates x, y.
#pragma once
#include <cstdint>

#include "graphics/cubic_halving.h"
#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace vl_bezier {

// One coordinate (x or y) of a conic's halving.
template <typename P>
inline void SplitConicAxis(P* base, long P::*c) {
  base[4].*c = base[2].*c;
  const long a = base[0].*c + base[1].*c, b = base[1].*c + base[2].*c;
  base[3].*c = b >> 1;
  base[2].*c = (a + b) >> 2;
  base[1].*c = a >> 1;
}

template <typename P>
inline void SplitConic(P* base) {
  SplitConicAxis(base, &P::x);
  SplitConicAxis(base, &P::y);
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
  HalveCubic(base);
}
#endif

}  // namespace vl_bezier
