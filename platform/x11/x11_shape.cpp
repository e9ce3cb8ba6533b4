// Window shapes from mask and alpha planes: runs of set pixels per row,
// merged vertically where the edges agree. Pure computation, no X calls.
#include <algorithm>

#include "platform/x11/x11_window.h"

namespace {

template <typename IsSet>
std::vector<XRectangle> RunsToRects(int width, int height, IsSet isSet) {
  std::vector<XRectangle> runs;
  for (int y = 0; y < height; y++) {
    int x = 0;
    while (x < width) {
      if (!isSet(x, y)) {
        x++;
        continue;
      }
      int start = x;
      while (x < width && isSet(x, y)) x++;
      runs.push_back(XRectangle{static_cast<short>(start), static_cast<short>(y),
                                static_cast<unsigned short>(x - start), 1});
    }
  }
  std::sort(runs.begin(), runs.end(), [](const XRectangle& a, const XRectangle& b) {
    return a.x != b.x ? a.x < b.x : a.y < b.y;
  });
  std::vector<XRectangle> merged;
  for (const XRectangle& run : runs) {
    if (!merged.empty()) {
      XRectangle& last = merged.back();
      if (last.x == run.x && last.width == run.width && last.y + last.height == run.y) {
        last.height++;
        continue;
      }
    }
    merged.push_back(run);
  }
  return merged;
}

}  // namespace

std::vector<XRectangle> ShapeRectsFromMask(const uint8_t* mask, int width, int height) {
  const size_t rowBytes = ((static_cast<size_t>(width) + 15) / 16) * 2;
  return RunsToRects(width, height, [&](int x, int y) {
    return (mask[y * rowBytes + x / 8] & (0x80 >> (x & 7))) != 0;
  });
}

std::vector<XRectangle> ShapeRectsFromAlpha(const uint8_t* alpha, int width, int height) {
  const size_t rowBytes = (static_cast<size_t>(width) + 3) & ~size_t{3};
  return RunsToRects(width, height, [&](int x, int y) { return alpha[y * rowBytes + x] != 0; });
}
