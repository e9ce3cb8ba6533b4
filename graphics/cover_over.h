// The one "over" rule of drawn shapes, paths and text edges: a colour with
// coverage a (0-255) laid over a colour with coverage under.cover gives
// coverage out = a + under.cover * (255 - a) / 255 and channels
// (c * a + d * under.cover * (255 - a) / 255) / out, at most 255 (integer
// division throughout; 0x00RRGGBB colours). Nothing covered keeps the
// upper colour.
//
// It runs per pixel, so the divisions are multiplications: x / 255 for
// x < 2^24 and n / out for n < 2^16, out 1..255, are exact as
// (x * ceil(2^40 / d)) >> 40 (the error term stays below 2^40 / d for
// numerators this small).
#pragma once
#include <array>
#include <cstdint>

struct vlCover {
  uint32_t rgb;
  uint32_t cover;
};

namespace vl_cover {
inline constexpr int kShift = 40;
constexpr uint64_t Reciprocal(uint32_t d) { return ((uint64_t{1} << kShift) + d - 1) / d; }
inline constexpr std::array<uint64_t, 256> kReciprocals = [] {
  std::array<uint64_t, 256> r{};
  for (uint32_t d = 1; d < 256; ++d) r[d] = Reciprocal(d);
  return r;
}();
// x / d for x < 2^24, d 1..255.
inline uint32_t Divide(uint32_t x, uint32_t d) { return static_cast<uint32_t>((x * kReciprocals[d]) >> kShift); }
}  // namespace vl_cover

inline vlCover CoverOver(uint32_t rgb, uint32_t a, vlCover under) {
  const uint32_t rest = under.cover * (255 - a);
  const uint32_t out = a + vl_cover::Divide(rest, 255);
  if (out == 0) return {rgb & 0xFFFFFF, 0};
  uint32_t mixed = 0;
  for (int sh = 0; sh < 24; sh += 8) {
    const uint32_t n = ((rgb >> sh) & 0xFF) * a + vl_cover::Divide(((under.rgb >> sh) & 0xFF) * rest, 255);
    const uint32_t m = vl_cover::Divide(n, out);
    mixed |= (m > 255 ? 255 : m) << sh;
  }
  return {mixed, out};
}
