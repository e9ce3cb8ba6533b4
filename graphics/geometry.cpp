// Geometry helpers: bounding boxes, blit clipping, polygon edge clipping,
// ellipse points from fixed-point tables. Depends on vm/convert.h.
#include "graphics/geometry.h"

#include <algorithm>
#include <cmath>

#include "vm/convert.h"

namespace {

struct CircleTables {
  int32_t cos[360];
  int32_t sin[360];
  CircleTables() {
    for (int a = 0; a < 360; ++a) {
      const double r = a * 3.14159265358979323846 / 180.0;
      cos[a] = static_cast<int32_t>(std::lround(std::cos(r) * 1024.0));
      sin[a] = static_cast<int32_t>(std::lround(std::sin(r) * 1024.0));
    }
  }
};

const CircleTables& Tables() {
  static const CircleTables t;
  return t;
}

bool Inside(int32_t x, int32_t y, int32_t v, int32_t edge) {
  switch (edge) {
    case 0: return x >= v;
    case 1: return y >= v;
    case 2: return x <= v;
    default: return y <= v;
  }
}

}  // namespace

const int32_t* Cos1024Table() { return Tables().cos; }
const int32_t* Sin1024Table() { return Tables().sin; }

void SetIdentityMatrix(double* m) {
  m[0] = 1.0;
  m[1] = 0.0;
  m[2] = 0.0;
  m[3] = 1.0;
}

void FitRotatedRect(int32_t x, int32_t y, int32_t width, int32_t height, double anchorX, double anchorY,
                    const double* m, int32_t* outX, int32_t* outY, int32_t* outWidth, int32_t* outHeight) {
  const double px0 = width * anchorX, py0 = height * anchorY;
  const double cx[4] = {0.0, width - 1.0, width - 1.0, 0.0};
  const double cy[4] = {0.0, 0.0, height - 1.0, height - 1.0};
  double minX = 100000, minY = 100000, maxX = -100000, maxY = -100000;
  for (int i = 0; i < 4; ++i) {
    const double dx = cx[i] - px0, dy = cy[i] - py0;
    const double tx = m[0] * dx + m[2] * dy + px0;
    const double ty = m[1] * dx + m[3] * dy + py0;
    if (tx < minX) minX = tx;
    if (tx > maxX) maxX = tx;
    if (ty < minY) minY = ty;
    if (ty > maxY) maxY = ty;
  }
  if (outX) *outX = vl::DoubleToInt32(minX + x);
  if (outY) *outY = vl::DoubleToInt32(minY + y);
  if (outWidth) *outWidth = vl::DoubleToInt32(maxX - minX + 1);
  if (outHeight) *outHeight = vl::DoubleToInt32(maxY - minY + 1);
}

void PointBounds(const double* p, int32_t n, int32_t* minX, int32_t* minY, int32_t* maxX, int32_t* maxY) {
  double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  for (int32_t i = 0; i < n; ++i) {
    const double x = std::rint(p[2 * i]), y = std::rint(p[2 * i + 1]);
    if (i == 0 || x < x0) x0 = x;
    if (i == 0 || y < y0) y0 = y;
    if (i == 0 || x > x1) x1 = x;
    if (i == 0 || y > y1) y1 = y;
  }
  // Saturated: a point past 32 bits (a huge scale) must not wrap around.
  *minX = vl::DoubleToInt32Saturated(x0), *minY = vl::DoubleToInt32Saturated(y0);
  *maxX = vl::DoubleToInt32Saturated(x1), *maxY = vl::DoubleToInt32Saturated(y1);
}

void TransformPointsBounds(double* p, int32_t n, const double* m, double ax, double ay, int32_t* w, int32_t* h,
                           int32_t* minX, int32_t* minY) {
  for (int32_t i = 0; i < n; ++i) {
    const double dx = p[2 * i] - ax, dy = p[2 * i + 1] - ay;
    p[2 * i] = std::rint(m[0] * dx + m[2] * dy + ax);
    p[2 * i + 1] = std::rint(m[1] * dx + m[3] * dy + ay);
  }
  int32_t x0, y0, x1, y1;
  PointBounds(p, n, &x0, &y0, &x1, &y1);
  for (int32_t i = 0; i < n; ++i) p[2 * i] -= x0, p[2 * i + 1] -= y0;
  *w = x1 - x0 + 1;
  *h = y1 - y0 + 1;
  if (minX) *minX = x0;
  if (minY) *minY = y0;
}

void ClipBlitRects(const vlClipRegion* region, int32_t* srcX, int32_t* srcY, int32_t* dstX, int32_t* dstY,
                   int32_t* width, int32_t* height, int32_t srcWidth, int32_t srcHeight, int32_t dstWidth,
                   int32_t dstHeight, int useRegion) {
  // In 64 bits: a position far off the target (a script's huge or NaN
  // coordinate arrives as INT32_MIN) must clip to nothing, not wrap around.
  int64_t left = 0, top = 0, right = dstWidth, bottom = dstHeight;
  if (region && useRegion) {
    left = region->x;
    top = region->y;
    right = int64_t{region->x} + region->width;
    bottom = int64_t{region->y} + region->height;
  }
  int64_t sx = *srcX, sy = *srcY, dx = *dstX, dy = *dstY, w = *width, h = *height;
  if (dx < left) {
    sx += left - dx;
    w -= left - dx;
    dx = left;
  }
  if (dy < top) {
    sy += top - dy;
    h -= top - dy;
    dy = top;
  }
  w = std::min({w, srcWidth - sx, right - dx});
  h = std::min({h, srcHeight - sy, bottom - dy});
  auto narrow = [](int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
  };
  *srcX = narrow(sx), *srcY = narrow(sy), *dstX = narrow(dx), *dstY = narrow(dy);
  *width = narrow(w), *height = narrow(h);
}

int32_t ClipPolygonToEdge(int32_t count, int32_t* pts, int32_t* out, int32_t v, int32_t edge) {
  if (count <= 0) return 0;
  pts[2 * count] = pts[0];
  pts[2 * count + 1] = pts[1];
  int32_t n = 0;
  for (int32_t i = 0; i < count; ++i) {
    const int32_t x1 = pts[2 * i], y1 = pts[2 * i + 1], x2 = pts[2 * i + 2], y2 = pts[2 * i + 3];
    const bool in1 = Inside(x1, y1, v, edge), in2 = Inside(x2, y2, v, edge);
    if (in1) {
      out[2 * n] = x1;
      out[2 * n + 1] = y1;
      ++n;
    }
    if (in1 == in2) continue;
    int32_t cx, cy;
    if (edge == 0 || edge == 2) {
      // x1 != x2 here: the ends lie on both sides of a vertical line.
      const long double slope = static_cast<long double>(y2 - y1) / (x2 - x1);
      cx = v;
      cy = vl::DoubleToInt32(static_cast<double>(slope * (v - x1) + y1));
    } else if (x1 == x2) {
      cx = x1;  // a vertical edge crosses a horizontal line at its own x
      cy = v;
    } else {
      const long double slope = static_cast<long double>(y2 - y1) / (x2 - x1);
      cx = vl::DoubleToInt32(static_cast<double>((v - y1) / slope + x1));
      cy = v;
    }
    out[2 * n] = cx;
    out[2 * n + 1] = cy;
    ++n;
  }
  return n;
}

int32_t SinCosEllipsePoint(std::span<int32_t> out, int32_t rx, int32_t ry, int32_t start, int32_t end) {
  const CircleTables& t = Tables();
  int32_t n = 0;
  auto put = [&](int32_t x, int32_t y) {
    if (static_cast<size_t>(2 * n + 1) < out.size()) {
      out[2 * n] = x;
      out[2 * n + 1] = y;
    }
    ++n;
  };
  for (int32_t a = start; a <= end; ++a) {
    const int32_t d = ((a % 360) + 360) % 360;
    put(rx + static_cast<int32_t>((int64_t{2} * rx + 1) * t.cos[d] / 2048),
        ry + static_cast<int32_t>((int64_t{2} * ry + 1) * t.sin[d] / 2048));
  }
  if ((start != 0 || end != 360) && n > 0) {
    const int32_t fx = out.size() >= 2 ? out[0] : 0, fy = out.size() >= 2 ? out[1] : 0;
    put(rx, ry);
    put(fx, fy);
  }
  return n;
}
