// Outline polygons for the shape renderer. Depends on the draw state's
// sine and cosine tables.
#include "objects/draw/shape_outline.h"

#include <algorithm>
#include <cmath>

#include "display/layers/layers.h"
#include "objects/draw/draw_state.h"

namespace {

int32_t Fixed(double v) { return static_cast<int32_t>(static_cast<int64_t>(std::rint(v * 65536.0)) >> 16); }

int32_t Push(double* out, int32_t n, double x, double y) {
  if (n > 0 && out[2 * n - 2] == x && out[2 * n - 1] == y) return n;
  if (n >= kDrawOutlinePoints) return n;
  out[2 * n] = x;
  out[2 * n + 1] = y;
  return n + 1;
}

int32_t Close(double* out, int32_t n) {
  if (n > 0 && (out[0] != out[2 * n - 2] || out[1] != out[2 * n - 1])) {
    if (n < kDrawOutlinePoints) {
      out[2 * n] = out[0];
      out[2 * n + 1] = out[1];
      ++n;
    }
  }
  return n;
}

}  // namespace

int32_t ArcStep(int32_t r) { return r < 3 ? 90 : r <= 9 ? 30 : r < 15 ? 18 : 5; }

int32_t AppendArcPoints(double* out, int32_t n, double cx, double cy, double rx, double ry, int32_t start,
                        int32_t end, bool yUp) {
  const double* sinT = DrawSinTable();
  const double* cosT = DrawCosTable();
  int32_t s = std::min(start, end), e = std::max(start, end);
  if (e - s > 360) s = 0, e = 360;
  const int32_t step = ArcStep(static_cast<int32_t>(std::max(rx, ry)));
  auto point = [&](int32_t t) {
    // The table holds (360 - i) degrees at i.
    const int32_t i = 360 - (((t % 360) + 360) % 360);
    const double c = cosT[i], sn = sinT[i];
    const double x = cx + rx * c, y = yUp ? cy - ry * sn : cy + ry * sn;
    n = Push(out, n, Fixed(x), Fixed(y));
  };
  for (int32_t t = s; t < e; t += step) point(t);
  point(e);
  return n;
}

int32_t BuildShapeOutline(uint32_t type, int32_t w, int32_t h, const int32_t corners[4], int32_t start, int32_t end,
                          uint32_t clockwise, const double* vertices, int32_t vertexCount, double* out) {
  int32_t n = 0;
  switch (type) {
    case VL_SHAPE_BOX: {
      const bool rounded = corners && (corners[0] || corners[1] || corners[2] || corners[3]);
      if (!rounded) {
        n = Push(out, n, 0, 0);
        n = Push(out, n, w - 1, 0);
        n = Push(out, n, w - 1, h - 1);
        n = Push(out, n, 0, h - 1);
        n = Push(out, n, 0, 0);
        return n;
      }
      const int32_t r = std::min(w, h) / 2;
      int32_t rad[4];
      for (int i = 0; i < 4; ++i) {
        // A level of 0 or less counts as 1/100 (a big box still rounds by a pixel).
        rad[i] = corners[i] <= 0 ? r / 100 : static_cast<int32_t>(int64_t{r} * std::min(corners[i], 100) / 100);
      }
      // a top-left, b bottom-left, c bottom-right, d top-right.
      const double cx[4] = {double(rad[0]), double(rad[1]), double(w - 1 - rad[2]), double(w - 1 - rad[3])};
      const double cy[4] = {double(rad[0]), double(h - 1 - rad[1]), double(h - 1 - rad[2]), double(rad[3])};
      const int32_t from[4] = {90, 180, 270, 0};
      for (int i = 0; i < 4; ++i) {
        if (rad[i] == 0) {
          n = Push(out, n, cx[i], cy[i]);
          continue;
        }
        const double* sinT = DrawSinTable();
        const double* cosT = DrawCosTable();
        const int32_t step = ArcStep(rad[i]);
        auto point = [&](int32_t t) {
          const int32_t k = 360 - (t % 360);
          n = Push(out, n, Fixed(cx[i] + rad[i] * cosT[k]), Fixed(cy[i] - rad[i] * sinT[k]));
        };
        for (int32_t t = from[i]; t < from[i] + 90; t += step) point(t);
        point(from[i] + 90);
      }
      return Close(out, n);
    }
    case VL_SHAPE_ARC: {
      n = Push(out, n, 0, 0);
      n = Push(out, n, w - 1, h - 1);
      if (clockwise) {
        while (end < start) end += 360;
      } else {
        while (start < end) start += 360;
      }
      const double rx = w / 2, ry = h / 2;
      const int32_t first = n;
      n = AppendArcPoints(out, n, rx, ry, rx, ry, start, end, false);
      const int32_t span = std::abs(end - start);
      if (span < 360) n = Push(out, n, rx, ry);
      if (n > first) n = Push(out, n, out[2 * first], out[2 * first + 1]);
      return n;
    }
    case VL_SHAPE_POLYGON:
      for (int32_t i = 0; i < vertexCount && n < kDrawOutlinePoints; ++i) {
        out[2 * n] = vertices[2 * i];
        out[2 * n + 1] = vertices[2 * i + 1];
        ++n;
      }
      return n;
    default: {  // circle, ellipse
      const double rx = w / 2, ry = h / 2;
      n = AppendArcPoints(out, n, rx, ry, rx, ry, 0, 360, false);
      return Close(out, n);
    }
  }
}

int32_t BuildPolygonEdge(const double* pts, int32_t count, int32_t size, double* out) {
  // Work on the open ring without consecutive duplicates.
  double* ring = DrawPointBuffer(2);
  int32_t n = 0;
  for (int32_t i = 0; i < count; ++i) {
    if (n > 0 && ring[2 * n - 2] == pts[2 * i] && ring[2 * n - 1] == pts[2 * i + 1]) continue;
    ring[2 * n] = pts[2 * i];
    ring[2 * n + 1] = pts[2 * i + 1];
    ++n;
  }
  while (n > 1 && ring[0] == ring[2 * n - 2] && ring[1] == ring[2 * n - 1]) --n;
  double area = 0, dmax = 0;
  for (int32_t i = 0; i < n; ++i) {
    const int32_t j = (i + 1) % n;
    area += ring[2 * i] * ring[2 * j + 1] - ring[2 * j] * ring[2 * i + 1];
    for (int32_t k = i + 1; k < n; ++k)
      dmax = std::max(dmax, std::hypot(ring[2 * k] - ring[2 * i], ring[2 * k + 1] - ring[2 * i + 1]));
  }
  const int orientation = area > 0 ? 1 : -1;
  bool parallel = n < 3 || dmax <= 0;
  int32_t m = 0;
  for (int32_t i = 0; i < n && !parallel; ++i) {
    const double vx = ring[2 * i], vy = ring[2 * i + 1];
    const int32_t a = (i + n - 1) % n, b = (i + 1) % n;
    double ux = vx - ring[2 * a], uy = vy - ring[2 * a + 1];
    double wx = vx - ring[2 * b], wy = vy - ring[2 * b + 1];
    const double lu = std::hypot(ux, uy), lw = std::hypot(wx, wy);
    ux /= lu, uy /= lu, wx /= lw, wy /= lw;
    const double c = ux * wy - uy * wx;
    if (std::fabs(c) < 0.001) {
      parallel = true;
      break;
    }
    const double dot = ux * wx + uy * wy;
    double k = (size / dmax) * std::sqrt(std::max(0.0, 1 - dot * dot));
    if (!(k > 0)) k = 0.0001;
    const double sigma = orientation < 0 ? (c > 0 ? 1 : -1) : (c < 0 ? 1 : -1);
    const double f = sigma / k * (double(size) * size / dmax);
    out[2 * m] = std::rint(vx + (ux + wx) * f);
    out[2 * m + 1] = std::rint(vy + (uy + wy) * f);
    ++m;
  }
  if (parallel) {
    int32_t x0, y0, x1, y1;
    PointBounds(pts, count, &x0, &y0, &x1, &y1);
    const double l = x0 - size, t = y0 - size, r = x1 + size, btm = y1 + size;
    const double box[10] = {l, t, r, t, r, btm, l, btm, l, t};
    for (int i = 0; i < 10; ++i) out[i] = box[i];
    return 5;
  }
  return Close(out, m);
}

