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
  // A round join of radius 0: quarter-turn cubic arcs on the corner.
  void Arcs(FT_Vector centre, FT_Angle total) {
    int arcs = 1;
    while (total > FT_ANGLE_PI2 * arcs || -total > FT_ANGLE_PI2 * arcs) ++arcs;
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

struct Walker {
  Border border;
  FT_Vector centre{0, 0}, subPathStart{0, 0};
  FT_Angle angleIn = 0, subPathAngle = 0;
  bool first = true;

  void Corner(FT_Angle angleOut) {
    const FT_Angle turn = FT_Angle_Diff(angleIn, angleOut);
    if (turn == 0) return;
    if (turn > 0) {
      // The inside of the turn: the corner point, already the last.
      border.movable = false;
      border.LineTo(centre, false);
    } else {
      border.Arcs(centre, turn);
    }
  }
  void LineTo(FT_Vector to) {
    const FT_Pos dx = to.x - centre.x, dy = to.y - centre.y;
    if (dx == 0 && dy == 0) return;
    const FT_Angle angle = FT_Atan2(dx, dy);
    if (first) {
      border.MoveTo(centre);
      subPathAngle = angle;
      first = false;
    } else {
      Corner(angle);
    }
    border.LineTo(to, true);
    angleIn = angle;
    centre = to;
  }
  void Begin(FT_Vector at) {
    first = true;
    centre = subPathStart = at;
    angleIn = 0;
  }
  void End() {
    if (first) return;
    if (centre.x != subPathStart.x || centre.y != subPathStart.y) LineTo(subPathStart);
    Corner(subPathAngle);
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
