// Filling an outline by the even-odd rule without anti-aliasing: FreeType's
// 1-bit rasteriser pairs the sides it meets by direction and so fills every
// self-crossing or nested shape as by the non-zero rule. Here each pixel row
// is cut at its centre line by every side (curves flattened to within a
// small fraction of a pixel), and a pixel is lit when its centre has an odd
// number of crossings to its left or lies on the outline itself: the 1-bit
// fill's own rule, so a shape that does not cross itself gets the same
// pixels by either fill rule. Depends on FreeType's outline walk.
#include "graphics/outline_scanline.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

namespace {

// Flat enough when no control point strays further than this (pixels) from
// where a straight side would put it; and never split deeper than this.
constexpr double kFlatness = 1.0 / 64;
constexpr int kMaxDepth = 16;

struct Crossing {
  int32_t row;
  double x;
  bool operator<(const Crossing& o) const { return row != o.row ? row < o.row : x < o.x; }
};

// A piece of the outline lying on a row's centre line, from x0 to x1.
struct Along {
  int32_t row;
  double x0, x1;
};

struct Walk {
  int32_t height;
  double x = 0, y = 0;            // the pen, in pixels
  double startX = 0, startY = 0;  // where the contour began
  bool contour = false;
  std::vector<Crossing> crossings;
  std::vector<Along> onLines;

  void OnCentreLine(double yc, double x0, double x1) {
    const double row = yc - 0.5;
    if (row == std::floor(row) && row >= 0 && row < height)
      onLines.push_back({static_cast<int32_t>(row), std::min(x0, x1), std::max(x0, x1)});
  }
  // Every row centre r + 0.5 in [low, high) of the side meets it once, so a
  // vertex on a centre line counts once where the outline passes through and
  // twice or not at all where it turns back. A side along a centre line, or
  // ending on one, is kept apart: its pixels are on the outline.
  void Side(double x0, double y0, double x1, double y1) {
    if (y0 == y1) {
      OnCentreLine(y0, x0, x1);
      return;
    }
    const double low = std::min(y0, y1), high = std::max(y0, y1);
    OnCentreLine(high, y1 == high ? x1 : x0, y1 == high ? x1 : x0);
    const double first = std::max(std::ceil(low - 0.5), 0.0);
    const double last = std::min(std::ceil(high - 0.5) - 1, static_cast<double>(height) - 1);
    const double slope = (x1 - x0) / (y1 - y0);
    for (double r = first; r <= last; ++r)
      crossings.push_back({static_cast<int32_t>(r), x0 + (r + 0.5 - y0) * slope});
  }
  void LineTo(double nx, double ny) {
    Side(x, y, nx, ny);
    x = nx;
    y = ny;
  }
  void Close() {
    if (contour) LineTo(startX, startY);
    contour = false;
  }
  void MoveTo(double nx, double ny) {
    Close();
    x = startX = nx;
    y = startY = ny;
    contour = true;
  }
  void Cubic(double x1, double y1, double x2, double y2, double x3, double y3, int depth) {
    const double x0 = x, y0 = y;
    // The second differences bound how far the curve bends from its chord.
    const double bend = std::max({std::fabs(x0 - 2 * x1 + x2), std::fabs(y0 - 2 * y1 + y2),
                                  std::fabs(x1 - 2 * x2 + x3), std::fabs(y1 - 2 * y2 + y3)});
    if (depth >= kMaxDepth || !(bend > kFlatness)) {
      LineTo(x3, y3);
      return;
    }
    const double ax = (x0 + x1) / 2, ay = (y0 + y1) / 2, bx = (x1 + x2) / 2, by = (y1 + y2) / 2;
    const double cx = (x2 + x3) / 2, cy = (y2 + y3) / 2;
    const double abx = (ax + bx) / 2, aby = (ay + by) / 2, bcx = (bx + cx) / 2, bcy = (by + cy) / 2;
    const double mx = (abx + bcx) / 2, my = (aby + bcy) / 2;
    Cubic(ax, ay, abx, aby, mx, my, depth + 1);
    Cubic(bcx, bcy, cx, cy, x3, y3, depth + 1);
  }
};

double Px(FT_Pos v) { return static_cast<double>(v) / 64.0; }

// FreeType's walk calls back through its own frames: nothing may be thrown
// across them, so running out of memory ends the walk with an error.
template <typename F>
int Guarded(void* user, F&& step) {
  try {
    step(*static_cast<Walk*>(user));
    return 0;
  } catch (const std::bad_alloc&) {
    return 1;
  }
}

int OnMove(const FT_Vector* to, void* user) {
  return Guarded(user, [&](Walk& w) { w.MoveTo(Px(to->x), Px(to->y)); });
}
int OnLine(const FT_Vector* to, void* user) {
  return Guarded(user, [&](Walk& w) { w.LineTo(Px(to->x), Px(to->y)); });
}
int OnConic(const FT_Vector* c, const FT_Vector* to, void* user) {
  return Guarded(user, [&](Walk& w) {
    const double cx = Px(c->x), cy = Px(c->y), ex = Px(to->x), ey = Px(to->y);
    w.Cubic(w.x + 2.0 / 3 * (cx - w.x), w.y + 2.0 / 3 * (cy - w.y), ex + 2.0 / 3 * (cx - ex),
            ey + 2.0 / 3 * (cy - ey), ex, ey, 0);
  });
}
int OnCubic(const FT_Vector* c1, const FT_Vector* c2, const FT_Vector* to, void* user) {
  return Guarded(user, [&](Walk& w) {
    w.Cubic(Px(c1->x), Px(c1->y), Px(c2->x), Px(c2->y), Px(to->x), Px(to->y), 0);
  });
}

}  // namespace

bool FillOutlineEvenOdd(const FT_Outline* outline, uint8_t* buffer, int32_t rowBytes, int32_t width,
                        int32_t height) {
  if (!outline || !buffer || width <= 0 || height <= 0 || rowBytes < width) return false;
  Walk walk;
  walk.height = height;
  static const FT_Outline_Funcs kFuncs = {OnMove, OnLine, OnConic, OnCubic, 0, 0};
  if (FT_Outline_Decompose(const_cast<FT_Outline*>(outline), &kFuncs, &walk)) return false;
  try {
    walk.Close();
  } catch (const std::bad_alloc&) {
    return false;
  }
  std::sort(walk.crossings.begin(), walk.crossings.end());
  for (int32_t y = 0; y < height; ++y) std::memset(buffer + static_cast<size_t>(y) * rowBytes, 0, width);
  // The pixels x of a row with a <= x + 0.5 <= b.
  auto span = [&](int32_t row, double a, double b) {
    const double from = std::ceil(a - 0.5), to = std::floor(b - 0.5);
    const int32_t x0 = static_cast<int32_t>(std::clamp(from, 0.0, static_cast<double>(width)));
    const int32_t x1 = static_cast<int32_t>(std::clamp(to, -1.0, static_cast<double>(width) - 1));
    if (x0 <= x1) std::memset(buffer + static_cast<size_t>(row) * rowBytes + x0, 255, size_t(x1 - x0 + 1));
  };
  const std::vector<Crossing>& c = walk.crossings;
  // Between the first and second crossing of a row, the third and fourth,
  // and so on.
  for (size_t i = 0; i + 1 < c.size();) {
    if (c[i + 1].row != c[i].row) {
      ++i;  // a lone crossing cannot come from closed contours; skip it
      continue;
    }
    span(c[i].row, c[i].x, c[i + 1].x);
    i += 2;
  }
  for (const Along& l : walk.onLines) span(l.row, l.x0, l.x1);
  return true;
}
