// Clipping an outline to a box before it is rendered: FreeType's
// rasterisers walk every cell a side crosses, and their fixed-point steps
// lose precision on sides tens of thousands of pixels long, so a shape
// that reaches far beyond its buffer is cut to a box a little larger than
// the buffer first. Each contour is clipped to the box on its own, which
// keeps the winding, and with it the fill, of every point inside the box.
// Depends on FreeType's outline calls.
#include "graphics/outline_clip.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cmath>
#include <vector>

namespace {

struct Point {
  double x, y;
};

// The side that ends at p: a line from the point before, or a cubic with
// two control points (only cubics that lie wholly inside the box are kept
// as curves, so clipping never cuts one).
struct Node {
  Point p;
  bool cubic;
  Point c1, c2;
};

struct Box {
  double x0, y0, x1, y1;
  bool Holds(Point p) const { return p.x >= x0 && p.x <= x1 && p.y >= y0 && p.y <= y1; }
};

struct Builder {
  Box box;
  std::vector<std::vector<Node>> contours;
  Point at{0, 0};

  void Move(Point p) {
    contours.push_back({Node{p, false, {}, {}}});
    at = p;
  }
  void Line(Point p) {
    contours.back().push_back(Node{p, false, {}, {}});
    at = p;
  }
  // Curves inside the box stay curves; curves outside it become their
  // chord (the area between lies outside too); the rest are halved.
  void Cubic(Point p0, Point c1, Point c2, Point p3, int depth) {
    const double x0 = std::min({p0.x, c1.x, c2.x, p3.x}), x1 = std::max({p0.x, c1.x, c2.x, p3.x});
    const double y0 = std::min({p0.y, c1.y, c2.y, p3.y}), y1 = std::max({p0.y, c1.y, c2.y, p3.y});
    const bool inside = x0 >= box.x0 && x1 <= box.x1 && y0 >= box.y0 && y1 <= box.y1;
    const bool outside = x1 < box.x0 || x0 > box.x1 || y1 < box.y0 || y0 > box.y1;
    if (inside) {
      contours.back().push_back(Node{p3, true, c1, c2});
    } else if (outside || depth >= 24) {
      contours.back().push_back(Node{p3, false, {}, {}});
    } else {
      auto mid = [](Point a, Point b) { return Point{(a.x + b.x) / 2, (a.y + b.y) / 2}; };
      const Point a = mid(p0, c1), b = mid(c1, c2), c = mid(c2, p3);
      const Point ab = mid(a, b), bc = mid(b, c), m = mid(ab, bc);
      Cubic(p0, a, ab, m, depth + 1);
      Cubic(m, bc, c, p3, depth + 1);
    }
    at = p3;
  }
};

Point From(const FT_Vector* v) { return {static_cast<double>(v->x), static_cast<double>(v->y)}; }

int MoveTo(const FT_Vector* to, void* user) {
  static_cast<Builder*>(user)->Move(From(to));
  return 0;
}
int LineTo(const FT_Vector* to, void* user) {
  static_cast<Builder*>(user)->Line(From(to));
  return 0;
}
int ConicTo(const FT_Vector* control, const FT_Vector* to, void* user) {
  auto* b = static_cast<Builder*>(user);
  const Point p0 = b->at, c = From(control), p3 = From(to);
  b->Cubic(p0, {p0.x + 2.0 / 3 * (c.x - p0.x), p0.y + 2.0 / 3 * (c.y - p0.y)},
           {p3.x + 2.0 / 3 * (c.x - p3.x), p3.y + 2.0 / 3 * (c.y - p3.y)}, p3, 0);
  return 0;
}
int CubicTo(const FT_Vector* c1, const FT_Vector* c2, const FT_Vector* to, void* user) {
  auto* b = static_cast<Builder*>(user);
  b->Cubic(b->at, From(c1), From(c2), From(to), 0);
  return 0;
}

// One edge of the box: keep is true on its inner side; cross gives the
// point where a line from a to b meets it.
template <typename Keep, typename Cross>
std::vector<Node> ClipToEdge(const std::vector<Node>& in, Keep keep, Cross cross) {
  std::vector<Node> out;
  for (size_t i = 0; i < in.size(); ++i) {
    const Node& cur = in[i];
    const Point prev = in[(i + in.size() - 1) % in.size()].p;
    if (cur.cubic) {  // wholly inside the box
      out.push_back(cur);
      continue;
    }
    const bool inPrev = keep(prev), inCur = keep(cur.p);
    if (inCur) {
      if (!inPrev) out.push_back(Node{cross(prev, cur.p), false, {}, {}});
      out.push_back(cur);
    } else if (inPrev) {
      out.push_back(Node{cross(prev, cur.p), false, {}, {}});
    }
  }
  return out;
}

std::vector<Node> ClipContour(std::vector<Node> c, const Box& box) {
  auto atX = [](double x) {
    return [x](Point a, Point b) { return Point{x, a.y + (x - a.x) / (b.x - a.x) * (b.y - a.y)}; };
  };
  auto atY = [](double y) {
    return [y](Point a, Point b) { return Point{a.x + (y - a.y) / (b.y - a.y) * (b.x - a.x), y}; };
  };
  c = ClipToEdge(c, [&](Point p) { return p.x >= box.x0; }, atX(box.x0));
  if (!c.empty()) c = ClipToEdge(c, [&](Point p) { return p.x <= box.x1; }, atX(box.x1));
  if (!c.empty()) c = ClipToEdge(c, [&](Point p) { return p.y >= box.y0; }, atY(box.y0));
  if (!c.empty()) c = ClipToEdge(c, [&](Point p) { return p.y <= box.y1; }, atY(box.y1));
  return c;
}

FT_Vector Round(Point p) { return {static_cast<FT_Pos>(std::llround(p.x)), static_cast<FT_Pos>(std::llround(p.y))}; }

// Whether every point of the clipped contour, rounded as it will be
// stored, lies on one line. A sliver thinner than the rounding step (a
// long, sharp tip cut at the box) collapses so, and covers nothing; the
// plain rasteriser would still light the row under such a line.
bool CollapsesToALine(const std::vector<Node>& c) {
  std::vector<FT_Vector> points;
  for (const Node& n : c) {
    if (n.cubic) {
      points.push_back(Round(n.c1));
      points.push_back(Round(n.c2));
    }
    points.push_back(Round(n.p));
  }
  const FT_Vector a = points[0];
  size_t i = 1;
  while (i < points.size() && points[i].x == a.x && points[i].y == a.y) ++i;
  if (i == points.size()) return true;
  const int64_t dx = points[i].x - a.x, dy = points[i].y - a.y;
  for (; i < points.size(); ++i) {
    // Coordinates stay within 2^31 of each other: the products fit.
    if (dx * (points[i].y - a.y) != dy * (points[i].x - a.x)) return false;
  }
  return true;
}

}  // namespace

bool OutlineReachesBeyond(const FT_Outline* outline, const FT_BBox& box, FT_BBox* control) {
  FT_BBox c;
  FT_Outline_Get_CBox(outline, &c);
  if (control) *control = c;
  return outline->n_points > 0 && (c.xMin < box.xMin || c.yMin < box.yMin || c.xMax > box.xMax || c.yMax > box.yMax);
}

bool ClipOutlineToBox(FT_Library library, const FT_Outline* outline, const FT_BBox& box, FT_Outline* out) {
  Builder b;
  b.box = {static_cast<double>(box.xMin), static_cast<double>(box.yMin), static_cast<double>(box.xMax),
           static_cast<double>(box.yMax)};
  static const FT_Outline_Funcs kFuncs = {MoveTo, LineTo, ConicTo, CubicTo, 0, 0};
  if (FT_Outline_Decompose(const_cast<FT_Outline*>(outline), &kFuncs, &b)) return false;
  std::vector<std::vector<Node>> clipped;
  size_t points = 0;
  for (auto& contour : b.contours) {
    std::vector<Node> c = ClipContour(std::move(contour), b.box);
    if (c.size() < 3 || CollapsesToALine(c)) continue;  // no area left
    for (const Node& n : c) points += n.cubic ? 3 : 1;
    clipped.push_back(std::move(c));
  }
  if (points > SHRT_MAX || clipped.size() > SHRT_MAX) return false;
  if (FT_Outline_New(library, static_cast<FT_UInt>(points), static_cast<FT_Int>(clipped.size()), out)) return false;
  int at = 0, contour = 0;
  for (const auto& c : clipped) {
    // The first node's point starts the contour; a curve that ends there
    // closes it from the last point.
    out->points[at] = Round(c[0].p);
    out->tags[at++] = FT_CURVE_TAG_ON;
    for (size_t i = 1; i < c.size(); ++i) {
      if (c[i].cubic) {
        out->points[at] = Round(c[i].c1);
        out->tags[at++] = FT_CURVE_TAG_CUBIC;
        out->points[at] = Round(c[i].c2);
        out->tags[at++] = FT_CURVE_TAG_CUBIC;
      }
      out->points[at] = Round(c[i].p);
      out->tags[at++] = FT_CURVE_TAG_ON;
    }
    if (c[0].cubic) {
      out->points[at] = Round(c[0].c1);
      out->tags[at++] = FT_CURVE_TAG_CUBIC;
      out->points[at] = Round(c[0].c2);
      out->tags[at++] = FT_CURVE_TAG_CUBIC;
    }
    out->contours[contour++] = static_cast<short>(at - 1);
  }
  out->n_points = static_cast<short>(at);
  out->n_contours = static_cast<short>(contour);
  out->flags |= outline->flags & FT_OUTLINE_EVEN_ODD_FILL;
  return true;
}
