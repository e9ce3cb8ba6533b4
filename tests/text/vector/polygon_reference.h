// The exact fill of a polygon on the pixel grid, to check rendered paths
// against: whether a pixel centre lies inside (non-zero winding), how far
// it lies from the nearest side, and the area of a pixel the polygon covers.
#pragma once
#include <algorithm>
#include <cmath>
#include <vector>

namespace vlref {

struct Pt {
  double x, y;
};

// Non-zero winding of the closed polygon around (x, y).
inline bool Inside(const std::vector<Pt>& poly, double x, double y) {
  int winding = 0;
  for (size_t i = 0; i < poly.size(); ++i) {
    const Pt a = poly[i], b = poly[(i + 1) % poly.size()];
    const double cross = (b.x - a.x) * (y - a.y) - (x - a.x) * (b.y - a.y);
    if (a.y <= y && b.y > y && cross > 0) ++winding;
    if (a.y > y && b.y <= y && cross < 0) --winding;
  }
  return winding != 0;
}

// The distance from (x, y) to the nearest side.
inline double EdgeDistance(const std::vector<Pt>& poly, double x, double y) {
  double best = INFINITY;
  for (size_t i = 0; i < poly.size(); ++i) {
    const Pt a = poly[i], b = poly[(i + 1) % poly.size()];
    const double dx = b.x - a.x, dy = b.y - a.y, len2 = dx * dx + dy * dy;
    const double t = len2 > 0 ? std::clamp(((x - a.x) * dx + (y - a.y) * dy) / len2, 0.0, 1.0) : 0.0;
    best = std::min(best, std::hypot(a.x + t * dx - x, a.y + t * dy - y));
  }
  return best;
}

// The part of pixel (px, py) that the polygon covers, 0..1 (for polygons
// whose sides do not cross: the polygon cut to the pixel square).
inline double PixelCoverage(const std::vector<Pt>& poly, int px, int py) {
  std::vector<Pt> p = poly;
  auto cut = [&p](auto keep, auto cross) {
    std::vector<Pt> out;
    for (size_t i = 0; i < p.size(); ++i) {
      const Pt a = p[(i + p.size() - 1) % p.size()], b = p[i];
      if (keep(b)) {
        if (!keep(a)) out.push_back(cross(a, b));
        out.push_back(b);
      } else if (keep(a)) {
        out.push_back(cross(a, b));
      }
    }
    p = out;
  };
  auto atX = [](double x) { return [x](Pt a, Pt b) { return Pt{x, a.y + (x - a.x) / (b.x - a.x) * (b.y - a.y)}; }; };
  auto atY = [](double y) { return [y](Pt a, Pt b) { return Pt{a.x + (y - a.y) / (b.y - a.y) * (b.x - a.x), y}; }; };
  cut([px](Pt q) { return q.x >= px; }, atX(px));
  cut([px](Pt q) { return q.x <= px + 1; }, atX(px + 1));
  cut([py](Pt q) { return q.y >= py; }, atY(py));
  cut([py](Pt q) { return q.y <= py + 1; }, atY(py + 1));
  double twice = 0;
  for (size_t i = 0; i < p.size(); ++i) {
    const Pt u = p[i], v = p[(i + 1) % p.size()];
    twice += u.x * v.y - v.x * u.y;
  }
  return std::fabs(twice) / 2;
}

}  // namespace vlref
