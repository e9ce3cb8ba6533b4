// The one "over" rule of drawn shapes, paths and text edges: a colour with
// coverage a (0-255) laid over a colour with coverage under.cover gives
// coverage out = a + under.cover * (255 - a) / 255 and channels
// (c * a + d * under.cover * (255 - a) / 255) / out, at most 255 (integer
// division throughout; 0x00RRGGBB colours). Nothing covered keeps the
// upper colour.
#pragma once
#include <cstdint>

struct vlCover {
  uint32_t rgb;
  uint32_t cover;
};

inline vlCover CoverOver(uint32_t rgb, uint32_t a, vlCover under) {
  const uint32_t rest = under.cover * (255 - a);
  const uint32_t out = a + rest / 255;
  if (out == 0) return {rgb & 0xFFFFFF, 0};
  uint32_t mixed = 0;
  for (int sh = 0; sh < 24; sh += 8) {
    const uint32_t m = (((rgb >> sh) & 0xFF) * a + ((under.rgb >> sh) & 0xFF) * rest / 255) / out;
    mixed |= (m > 255 ? 255 : m) << sh;
  }
  return {mixed, out};
}
