// A fill's outline is the left border FreeType's stroker draws at radius 0
// with round joins. For sides that are all straight that border is the
// path's own points, with a degenerate round join (cubic arcs whose points
// all lie on the corner) wherever the path turns right. Made here point
// for point as the stroker makes it, without its offset arithmetic, which
// costs more than the fill itself on long polylines; the angles come from
// FreeType's own trigonometry so that every turn is judged as the stroker
// judges it.
#include "graphics/outline_fill_lines.h"

#include FT_TRIGONOMETRY_H

#include <new>

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
  void Begin(FT_Vector at) {
    first = true;
    centre = subPathStart = at;
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
    if (s.kind == vlOutlineStep::kConic || s.kind == vlOutlineStep::kCubic || (s.kind == vlOutlineStep::kBegin && s.open))
      return vlFillLinesResult::kNotLines;
  try {
    Walker w;
    // A side adds a point, a right turn three or six more.
    w.border.points.reserve(journal.size() * 2);
    w.border.tags.reserve(journal.size() * 2);
    for (const vlOutlineStep& s : journal) {
      if (s.kind == vlOutlineStep::kBegin) w.Begin(s.p[0]);
      else if (s.kind == vlOutlineStep::kLine) w.LineTo(s.p[0]);
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
