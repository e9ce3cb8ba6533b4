#include "graphics/coverage_runs.h"

#include <emmintrin.h>

#include <algorithm>

namespace {

// The first column from x on whose byte is not `value` (0 or 255), or
// width.
int32_t RunEnd(const uint8_t* row, int32_t x, int32_t width, uint8_t value) {
  const __m128i want = _mm_set1_epi8(static_cast<char>(value));
  for (; x + 16 <= width; x += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x));
    const unsigned same = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, want)));
    if (same != 0xFFFF) return x + __builtin_ctz(~same);
  }
  while (x < width && row[x] == value) x++;
  return x;
}

struct Open {
  int32_t x0, x1, y0;
};

}  // namespace

bool CoverageRunsAsRects(const uint8_t* rows, size_t rowBytes, int32_t width, int32_t height, int32_t originX,
                         int32_t originY, size_t maxRects, std::vector<int32_t>* out) {
  out->clear();
  out->reserve(4 * std::min(maxRects, static_cast<size_t>(height) * 2));
  // The rectangles still growing downward, left to right, and those of
  // the row being read.
  std::vector<Open> open, next;
  auto close = [&](const Open& o, int32_t y) {
    out->insert(out->end(), {originX + o.x0, originY + o.y0, o.x1 - o.x0, y - o.y0});
    return out->size() <= 4 * maxRects;
  };
  for (int32_t y = 0; y < height; y++) {
    const uint8_t* row = rows + static_cast<size_t>(y) * rowBytes;
    next.clear();
    size_t k = 0;
    for (int32_t x = 0; x < width;) {
      const int32_t x0 = RunEnd(row, x, width, 0);
      if (x0 == width) break;
      if (row[x0] != 255) return false;
      const int32_t x1 = RunEnd(row, x0, width, 255);
      if (x1 < width && row[x1] != 0) return false;
      x = x1;
      // Those above that end before this run starts or differ from it stop.
      while (k < open.size() && open[k].x0 < x0)
        if (!close(open[k++], y)) return false;
      if (k < open.size() && open[k].x0 == x0 && open[k].x1 == x1) {
        next.push_back(open[k++]);
      } else {
        next.push_back({x0, x1, y});
      }
    }
    for (; k < open.size(); k++)
      if (!close(open[k], y)) return false;
    open.swap(next);
  }
  for (const Open& o : open)
    if (!close(o, height)) return false;
  return true;
}
