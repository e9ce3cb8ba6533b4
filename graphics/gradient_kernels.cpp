// Gradient colours from a stops list with pad, repeat, reflect or no
// spread; blends red-blue and green in two integer sums.
// Depends on nothing else of the engine.
#include "graphics/gradient_kernels.h"

#include <cstdint>

namespace {

// The position inside the stops' period for the repeating spreads.
int32_t MapPosition(const vlGradient& g, int32_t pos) {
  if (g.spread != VL_SPREAD_REPEAT && g.spread != VL_SPREAD_REFLECT) return pos;
  const int64_t period = int64_t{pos} >> 16;  // floor
  int32_t p = static_cast<int32_t>(int64_t{pos} - (period << 16));
  if (g.spread == VL_SPREAD_REFLECT && (period & 1)) p = 0x10000 - p;
  return p;
}

void SetSegment(vlGradient& g, int32_t start, int32_t end, uint32_t c0, uint32_t c1) {
  g.valid = 1;
  g.outside = 0;
  g.start = start;
  g.end = end;
  g.rb0 = c0 & 0x00FF00FF;
  g.rb1 = c1 & 0x00FF00FF;
  g.g0 = (c0 >> 8) & 0xFF;
  g.g1 = (c1 >> 8) & 0xFF;
  g.factor = end > start ? (int64_t{256} << 16) / (int64_t{end} - start) : 0;
}

void Sums(vlGradient& g, int32_t position, uint32_t* rb, uint32_t* gr) {
  const int32_t p = MapPosition(g, position);
  if (!g.valid || p < g.start || p > g.end) GradientSegmentFind(g, p);
  if (g.outside) {
    *rb = *gr = 0;
    return;
  }
  int64_t t = ((int64_t{p} - g.start) * g.factor) >> 16;
  if (t < 0) t = 0;
  if (t > 256) t = 256;
  const uint32_t u = static_cast<uint32_t>(t);
  *rb = g.rb0 * (256 - u) + g.rb1 * u;
  *gr = g.g0 * (256 - u) + g.g1 * u;
}

}  // namespace

void GradientSegmentFind(vlGradient& g, int32_t p) {
  g.valid = 0;
  g.outside = 1;
  if (g.count <= 0 || !g.stops) return;
  const vlGradientStop* s = g.stops;
  const int32_t n = g.count;
  if (p < s[0].position) {
    SetSegment(g, INT32_MIN, s[0].position - (g.spread == VL_SPREAD_NONE), s[0].color, s[0].color);
    g.outside = g.spread == VL_SPREAD_NONE;
    return;
  }
  for (int32_t i = 0; i + 1 < n; ++i)
    if (p >= s[i].position && p <= s[i + 1].position) {
      SetSegment(g, s[i].position, s[i + 1].position, s[i].color, s[i + 1].color);
      return;
    }
  if (g.spread == VL_SPREAD_NONE && p > s[n - 1].position) {
    SetSegment(g, s[n - 1].position + 1, INT32_MAX, 0, 0);
    g.outside = 1;  // colour 0 beyond the stops
  } else {
    SetSegment(g, s[n - 1].position, INT32_MAX, s[n - 1].color, s[n - 1].color);
  }
}

uint32_t GradientColor32(vlGradient& g, int32_t position) {
  uint32_t rb, gr;
  Sums(g, position, &rb, &gr);
  return ((rb >> 8) & 0x00FF00FF) | (gr & 0x0000FF00);
}

uint32_t GradientColor16(vlGradient& g, int32_t position) {
  uint32_t rb, gr;
  Sums(g, position, &rb, &gr);
  const uint32_t r = (rb >> 24) & 0xFF, b = (rb >> 8) & 0xFF, gg = (gr >> 8) & 0xFF;
  return (r >> 3) << 11 | (gg >> 2) << 5 | b >> 3;
}
