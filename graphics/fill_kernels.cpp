// Flood fill with an explicit stack of seeds (no recursion depth to bound)
// and colour replacement.
#include "graphics/fill_kernels.h"

#include <cstring>
#include <new>
#include <vector>

#include "graphics/pixel_access.h"
#include "vm/error_codes.h"

namespace {

template <class P>
struct Surface {
  vlPixelAccess* a;
  uint32_t mask;
  P* Row(int32_t y) const { return reinterpret_cast<P*>(a->pixels) + static_cast<intptr_t>(y) * a->rowLength; }
  bool Is(P v, uint32_t c) const { return (static_cast<uint32_t>(v) & mask) == (c & mask); }
};

template <class P>
int Fill(Surface<P> s, int32_t x0, int32_t y0, uint32_t border, uint32_t fill) {
  const int32_t w = s.a->width, h = s.a->height;
  if (x0 < 0 || y0 < 0 || x0 >= w || y0 >= h || s.Is(s.Row(y0)[x0], border)) return 0;
  struct Seed {
    int32_t x, y;
  };
  std::vector<Seed> stack;
  try {
    stack.push_back({x0, y0});
    bool first = true;
    while (!stack.empty()) {
      const Seed seed = stack.back();
      stack.pop_back();
      P* row = s.Row(seed.y);
      // Later seeds may have been filled since they were found.
      if (!first && (s.Is(row[seed.x], border) || s.Is(row[seed.x], fill))) continue;
      first = false;
      int32_t left = seed.x, right = seed.x;
      while (left > 0 && !s.Is(row[left - 1], border)) --left;
      while (right < w - 1 && !s.Is(row[right + 1], border)) ++right;
      for (int32_t x = left; x <= right; ++x) row[x] = static_cast<P>(fill);
      for (int32_t dy = -1; dy <= 1; dy += 2) {
        const int32_t y = seed.y + dy;
        if (y < 0 || y >= h) continue;
        P* next = s.Row(y);
        // One seed per stretch of fillable pixels.
        bool inRun = false;
        for (int32_t x = left; x <= right; ++x) {
          const bool open = !s.Is(next[x], border) && !s.Is(next[x], fill);
          if (open && !inRun) stack.push_back({x, y});
          inRun = open;
        }
      }
    }
  } catch (const std::bad_alloc&) {
    return ERR_MEM;
  }
  return 0;
}

// Every pair tests the value the pixel has by then, so chained pairs
// (A to B, then B to C) take A to C in one pass.
template <class P>
void Replace(Surface<P> s, const uint32_t* pairs, int32_t count) {
  for (int32_t y = 0; y < s.a->height; ++y) {
    P* row = s.Row(y);
    for (int32_t x = 0; x < s.a->width; ++x) {
      P v = row[x];
      for (int32_t i = 0; i < count; ++i)
        if (s.Is(v, pairs[2 * i])) v = static_cast<P>(pairs[2 * i + 1]);
      row[x] = v;
    }
  }
}

}  // namespace

int FloodFillPix16(vlPixelAccess* a, int32_t x, int32_t y, uint32_t border, uint32_t fill) {
  return Fill(Surface<uint16_t>{a, 0xFFFF}, x, y, border, fill);
}

int FloodFillPix32(vlPixelAccess* a, int32_t x, int32_t y, uint32_t border, uint32_t fill, uint32_t compareMask) {
  return Fill(Surface<uint32_t>{a, compareMask}, x, y, border, fill);
}

void ReplaceColorsPix16(vlPixelAccess* a, const uint32_t* pairs, int32_t count) {
  Replace(Surface<uint16_t>{a, 0xFFFF}, pairs, count);
}

void ReplaceColorsPix32(vlPixelAccess* a, const uint32_t* pairs, int32_t count, uint32_t compareMask) {
  Replace(Surface<uint32_t>{a, compareMask}, pairs, count);
}
