// A fill's outline is the left border FreeType's stroker draws at radius 0
// with round joins. For straight sides that border is the path's own
// points, with a degenerate round join (cubic arcs whose points all lie on
// the corner) wherever the path turns right; a cubic becomes the pieces
// the stroker halves it into until each turns little, as they are. Made
// here point for point as the stroker makes it, without its offset
// arithmetic and its arctangents, which cost more than the fill itself on
// long polylines and circles; where an angle decides near one of its
// limits, FreeType's own trigonometry judges it as the stroker does.
#include "graphics/outline_fill_lines.h"

#include "graphics/cubic_halving.h"

#include FT_TRIGONOMETRY_H

#include <cmath>
#include <new>
#include <utility>

namespace {

// The stroker's test for a side too short to add.
bool Small(FT_Pos d) { return d > -2 && d < 2; }

struct Border {
  std::vector<FT_Vector> points;
  std::vector<char> tags;
  std::vector<short> ends;
  size_t start = 0;
  bool movable = false;  // the last point may still slide along a straight run

  void LineTo(FT_Vector to, bool movableAfter) {
    if (movable) {
      points.back() = to;
    } else {
      if (points.size() > start && Small(points.back().x - to.x) && Small(points.back().y - to.y)) return;
      points.push_back(to);
      tags.push_back(FT_CURVE_TAG_ON);
    }
    movable = movableAfter;
  }
  void MoveTo(FT_Vector to) {
    start = points.size();
    movable = false;
    LineTo(to, false);
  }
  void CubicTo(FT_Vector c1, FT_Vector c2, FT_Vector to) {
    for (const auto& [p, tag] : {std::pair{c1, FT_CURVE_TAG_CUBIC}, {c2, FT_CURVE_TAG_CUBIC}, {to, FT_CURVE_TAG_ON}}) {
      points.push_back(p);
      tags.push_back(static_cast<char>(tag));
    }
    movable = false;
  }
  // A round join of radius 0: quarter-turn cubic arcs on the corner (a
  // turn is at most a half one).
  void Arcs(FT_Vector centre, int arcs) {
    for (int i = 0; i < arcs; ++i)
      for (char tag : {FT_CURVE_TAG_CUBIC, FT_CURVE_TAG_CUBIC, FT_CURVE_TAG_ON}) {
        points.push_back(centre);
        tags.push_back(tag);
      }
    movable = false;
  }
  // The last point takes the first one's place; a contour of one point is
  // dropped.
  void Close() {
    if (points.size() <= start + 1) {
      points.resize(start);
      tags.resize(start);
    } else {
      points[start] = points.back();
      tags[start] = tags.back();
      points.pop_back();
      tags.pop_back();
      ends.push_back(static_cast<short>(points.size() - 1));
    }
    movable = false;
  }
};

// How a corner turns, as the stroker judges it from FreeType's angles of
// its two sides: left (positive), right or not at all, and whether by more
// than a quarter turn. FreeType's angles are within 4e-6 radians of the
// true ones, so where the sides' true angle is clearly away from a
// straight line, a reversal and a right angle, the cross and dot products
// decide as those angles would, without their cost (two of them a side
// were most of a long polyline's outline); elsewhere the angles do.
struct Turn {
  int sign;   // of the angle turned
  bool wide;  // more than a quarter turn
};

Turn Judge(FT_Vector in, FT_Vector out) {
  const double ax = static_cast<double>(in.x), ay = static_cast<double>(in.y);
  const double bx = static_cast<double>(out.x), by = static_cast<double>(out.y);
  const double cross = ax * by - ay * bx, dot = ax * bx + ay * by;
  // Both more than 1e-4 of the product of the sides' lengths.
  const double sure = 1e-8 * ((ax * ax + ay * ay) * (bx * bx + by * by));
  if (cross * cross > sure && dot * dot > sure) return {cross > 0 ? 1 : -1, dot < 0};
  const FT_Angle turn = FT_Angle_Diff(FT_Atan2(in.x, in.y), FT_Atan2(out.x, out.y));
  return {turn > 0 ? 1 : turn < 0 ? -1 : 0, turn > FT_ANGLE_PI2 || -turn > FT_ANGLE_PI2};
}

// The angle from one direction to another in FreeType's units (1/65536
// degree), within a few units of what its arctangents give.
double AngleBetween(FT_Vector u, FT_Vector v) {
  const double ax = static_cast<double>(u.x), ay = static_cast<double>(u.y);
  const double bx = static_cast<double>(v.x), by = static_cast<double>(v.y);
  return std::atan2(ax * by - ay * bx, ax * bx + ay * by) * (180.0 * 65536.0 / 3.14159265358979323846);
}

// FreeType's angles are within 4e-6 radians (15 units) of the true ones:
// a comparison further than this from its limit goes as theirs would.
constexpr double kAngleMargin = 512;

// Whether |angle from u to v| < limit (or > it, when above), as the
// stroker finds it from its own arctangents.
bool TurnBelow(FT_Vector u, FT_Vector v, FT_Angle limit) {
  const double a = std::fabs(AngleBetween(u, v));
  if (std::fabs(a - static_cast<double>(limit)) > kAngleMargin) return a < static_cast<double>(limit);
  FT_Angle d = FT_Angle_Diff(FT_Atan2(u.x, u.y), FT_Atan2(v.x, v.y));
  return (d < 0 ? -d : d) < limit;
}

constexpr FT_Angle kSmallCubic = FT_ANGLE_PI / 8;

// A cubic's direction where it starts and ends, and whether it turns
// little enough to be offset as one piece: the stroker's test (from the
// directions of its control polygon's legs, a leg of less than two units
// standing for none), answered from the legs' vectors. in and out come in
// holding the current direction, kept when the arc is a point.
bool CubicSmallEnough(const FT_Vector* arc, FT_Vector* in, FT_Vector* out) {
  const FT_Vector d1{arc[2].x - arc[3].x, arc[2].y - arc[3].y};
  const FT_Vector d2{arc[1].x - arc[2].x, arc[1].y - arc[2].y};
  const FT_Vector d3{arc[0].x - arc[1].x, arc[0].y - arc[1].y};
  const bool close1 = Small(d1.x) && Small(d1.y), close2 = Small(d2.x) && Small(d2.y);
  const bool close3 = Small(d3.x) && Small(d3.y);
  if (close1 + close2 + close3 >= 2) {
    // One leg or none: a single direction, no turn.
    if (!close1) *in = *out = d1;
    else if (!close2) *in = *out = d2;
    else if (!close3) *in = *out = d3;
    return true;
  }
  if (close1) {  // from the second leg to the third
    *in = d2;
    *out = d3;
    return TurnBelow(d2, d3, kSmallCubic);
  }
  *in = d1;
  if (close3) {  // from the first leg to the second
    *out = d2;
    return TurnBelow(d1, d2, kSmallCubic);
  }
  *out = d3;
  if (close2) {
    // The middle direction is the mean of the two ends: both halves of
    // the turn (the first rounded toward zero) must be small.
    const double a = std::fabs(AngleBetween(d1, d3));
    if (std::fabs(a - 2.0 * kSmallCubic) > kAngleMargin) return a < 2.0 * kSmallCubic;
    const FT_Angle i = FT_Atan2(d1.x, d1.y), o = FT_Atan2(d3.x, d3.y);
    const FT_Angle mid = i + FT_Angle_Diff(i, o) / 2;
    const FT_Angle t1 = FT_Angle_Diff(i, mid), t2 = FT_Angle_Diff(mid, o);
    return (t1 < 0 ? -t1 : t1) < kSmallCubic && (t2 < 0 ? -t2 : t2) < kSmallCubic;
  }
  return TurnBelow(d1, d2, kSmallCubic) && TurnBelow(d2, d3, kSmallCubic);
}


struct Walker {
  Border border;
  FT_Vector centre{0, 0}, subPathStart{0, 0};
  FT_Vector sideIn{0, 0}, subPathSide{0, 0};  // the last side, the sub-path's first
  bool first = true;

  void Corner(FT_Vector sideOut) {
    const Turn turn = Judge(sideIn, sideOut);
    if (turn.sign == 0) return;
    if (turn.sign > 0) {
      // The inside of the turn: the corner point, already the last.
      border.movable = false;
      border.LineTo(centre, false);
    } else {
      border.Arcs(centre, turn.wide ? 2 : 1);
    }
  }
  void LineTo(FT_Vector to) {
    const FT_Vector side = {to.x - centre.x, to.y - centre.y};
    if (side.x == 0 && side.y == 0) return;
    if (first) {
      border.MoveTo(centre);
      subPathSide = side;
      first = false;
    } else {
      Corner(side);
    }
    border.LineTo(to, true);
    sideIn = side;
    centre = to;
  }
  // The stroker's cubic at radius 0: halved until each piece turns
  // little, each piece's points added as they are, with a round join of
  // radius 0 before the first (the corner) and before any that sets off
  // more than a quarter of the limit from where the last one ended.
  void CubicTo(FT_Vector c1, FT_Vector c2, FT_Vector to) {
    if (Small(centre.x - c1.x) && Small(centre.y - c1.y) && Small(c1.x - c2.x) && Small(c1.y - c2.y) &&
        Small(c2.x - to.x) && Small(c2.y - to.y)) {
      centre = to;  // a point: no corner, no side
      return;
    }
    FT_Vector stack[37];
    FT_Vector* arc = stack;
    FT_Vector* const limit = stack + 32;
    arc[0] = to;
    arc[1] = c2;
    arc[2] = c1;
    arc[3] = centre;
    bool firstArc = true;
    while (arc >= stack) {
      FT_Vector in = sideIn, out = sideIn;
      if (arc < limit && !CubicSmallEnough(arc, &in, &out)) {
        if (first) sideIn = in;
        HalveCubic(arc);
        arc += 3;
        continue;
      }
      if (firstArc) {
        firstArc = false;
        if (first) {
          border.MoveTo(centre);
          subPathSide = in;
          first = false;
        } else {
          Corner(in);
        }
      } else if (!TurnBelow(sideIn, in, kSmallCubic / 4 + 1)) {
        centre = arc[3];
        Corner(in);
      }
      border.CubicTo(arc[2], arc[1], arc[0]);
      arc -= 3;
      sideIn = out;
    }
    centre = to;
  }
  void Begin(FT_Vector at) {
    first = true;
    centre = subPathStart = at;
    sideIn = {64, 0};  // the stroker starts a sub-path facing along x
  }
  void End() {
    if (first) return;
    if (centre.x != subPathStart.x || centre.y != subPathStart.y) LineTo(subPathStart);
    Corner(subPathSide);
    border.Close();
  }
};

}  // namespace

vlFillLinesResult FillOutlineOfLines(const vlOutlineJournal& journal, FT_Outline* out) {
  for (const vlOutlineStep& s : journal)
    if (s.kind == vlOutlineStep::kConic || (s.kind == vlOutlineStep::kBegin && s.open))
      return vlFillLinesResult::kNotLines;
  try {
    Walker w;
    // A side adds a point, a right turn three or six more (a cubic's
    // pieces grow the lists as they come).
    w.border.points.reserve(journal.size() * 2);
    w.border.tags.reserve(journal.size() * 2);
    for (const vlOutlineStep& s : journal) {
      if (s.kind == vlOutlineStep::kBegin) w.Begin(s.p[0]);
      else if (s.kind == vlOutlineStep::kLine) w.LineTo(s.p[0]);
      else if (s.kind == vlOutlineStep::kCubic) w.CubicTo(s.p[0], s.p[1], s.p[2]);
      else if (s.kind == vlOutlineStep::kEnd) w.End();
      if (w.border.points.size() > FT_OUTLINE_POINTS_MAX + 8 || w.border.ends.size() > FT_OUTLINE_CONTOURS_MAX)
        return vlFillLinesResult::kTooLarge;
    }
    const Border& b = w.border;
    if (b.points.size() > FT_OUTLINE_POINTS_MAX || b.ends.size() > FT_OUTLINE_CONTOURS_MAX)
      return vlFillLinesResult::kTooLarge;
    if (FT_Outline_New(OutlineLibrary(), static_cast<FT_UInt>(b.points.size()), static_cast<FT_Int>(b.ends.size()),
                       out))
      return vlFillLinesResult::kNoMemory;
    std::copy(b.points.begin(), b.points.end(), out->points);
    std::copy(b.tags.begin(), b.tags.end(), out->tags);
    std::copy(b.ends.begin(), b.ends.end(), out->contours);
    return vlFillLinesResult::kMade;
  } catch (const std::bad_alloc&) {
    return vlFillLinesResult::kNoMemory;
  }
}
