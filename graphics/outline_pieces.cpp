// Outlines beyond FreeType's limits, rebuilt from the builder's record of
// its calls to the stroker. A fill keeps each sub-path as a contour of its
// own; one too long for an outline is cut into fans from its first point
// (each piece closes back to it), whose added sides run both ways and so
// cancel when the pieces are filled together. A stroke is cut in the
// middle of long enough sides, each piece stroked on its own; the pieces
// overlap nowhere but at the cuts, where both end flat or in a cap that
// stays inside the side. Depends on FreeType's stroker and the player's
// scanline fill.
#include "graphics/outline_pieces.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "graphics/outline_raster.h"
#include "graphics/outline_scanline.h"

namespace {

// Points and contours a piece takes at most (FreeType's limit is 32,767).
constexpr size_t kPiecePoints = 30000;
constexpr size_t kPieceContours = 30000;
// Sides a stroked piece takes before it is cut; sub-paths of at most
// kShortSides are not cut but share a stroker until it holds
// kBatchPoints points.
constexpr size_t kStrokeSides = 1000;
constexpr size_t kShortSides = 64;
constexpr FT_UInt kBatchPoints = 16000;

size_t StepPoints(const vlOutlineStep& s) {
  switch (s.kind) {
    case vlOutlineStep::kLine: return 1;
    case vlOutlineStep::kConic: return 2;
    case vlOutlineStep::kCubic: return 3;
    default: return 0;
  }
}

FT_Vector StepEnd(const vlOutlineStep& s) { return s.p[StepPoints(s) - 1]; }

// One sub-path of the record: where it begins, whether it is open, and its
// sides.
struct SubPath {
  FT_Vector start;
  bool open;
  const vlOutlineStep* sides;
  size_t count;
};

std::vector<SubPath> SubPaths(const vlOutlineJournal& journal) {
  std::vector<SubPath> out;
  for (size_t i = 0; i < journal.size(); ++i) {
    if (journal[i].kind != vlOutlineStep::kBegin) continue;
    size_t end = i + 1;
    while (end < journal.size() && StepPoints(journal[end])) ++end;
    if (end > i + 1) out.push_back({journal[i].p[0], journal[i].open, &journal[i + 1], end - i - 1});
    i = end - 1;
  }
  return out;
}

// An outline under construction, handed over whole when it is full.
struct Piece {
  std::vector<FT_Vector> points;
  std::vector<char> tags;
  std::vector<short> ends;
  void Point(FT_Vector v, char tag) {
    points.push_back(v);
    tags.push_back(tag);
  }
  void Side(const vlOutlineStep& s) {
    if (s.kind == vlOutlineStep::kLine) {
      Point(s.p[0], FT_CURVE_TAG_ON);
    } else if (s.kind == vlOutlineStep::kConic) {
      Point(s.p[0], FT_CURVE_TAG_CONIC);
      Point(s.p[1], FT_CURVE_TAG_ON);
    } else {
      Point(s.p[0], FT_CURVE_TAG_CUBIC);
      Point(s.p[1], FT_CURVE_TAG_CUBIC);
      Point(s.p[2], FT_CURVE_TAG_ON);
    }
  }
  void EndContour() { ends.push_back(static_cast<short>(points.size() - 1)); }
  bool Fits(size_t morePoints) const {
    return points.size() + morePoints <= kPiecePoints && ends.size() + 1 <= kPieceContours;
  }
  bool Hand(vlOutlineSet* set) {
    if (points.empty()) return true;
    FT_Outline o;
    if (FT_Outline_New(OutlineLibrary(), static_cast<FT_UInt>(points.size()), static_cast<FT_Int>(ends.size()), &o))
      return false;
    std::copy(points.begin(), points.end(), o.points);
    std::copy(tags.begin(), tags.end(), o.tags);
    std::copy(ends.begin(), ends.end(), o.contours);
    if (set->evenOdd) o.flags |= FT_OUTLINE_EVEN_ODD_FILL;
    set->pieces.push_back(o);
    points.clear();
    tags.clear();
    ends.clear();
    return true;
  }
};

bool ExportStroke(FT_Stroker stroker, vlOutlineSet* set) {
  FT_Outline o;
  if (!StrokerFitsOneOutline(stroker, true) || !ExportBorder(stroker, FT_STROKER_BORDER_LEFT, &o, true)) return false;
  set->pieces.push_back(o);
  return true;
}

void StrokeSide(FT_Stroker stroker, const vlOutlineStep& s) {
  FT_Vector p[3] = {s.p[0], s.p[1], s.p[2]};
  if (s.kind == vlOutlineStep::kLine) FT_Stroker_LineTo(stroker, &p[0]);
  else if (s.kind == vlOutlineStep::kConic) FT_Stroker_ConicTo(stroker, &p[0], &p[1]);
  else FT_Stroker_CubicTo(stroker, &p[0], &p[1], &p[2]);
}

}  // namespace

void ReplayJournal(FT_Stroker stroker, const vlOutlineJournal& journal) {
  for (const vlOutlineStep& s : journal) {
    if (s.kind == vlOutlineStep::kBegin) {
      FT_Vector start = s.p[0];
      FT_Stroker_BeginSubPath(stroker, &start, s.open);
    } else if (s.kind == vlOutlineStep::kEnd) {
      FT_Stroker_EndSubPath(stroker);
    } else {
      StrokeSide(stroker, s);
    }
  }
}

namespace {

// A cut may fall in the middle of a line at least this long (26.6): the
// cap at the cut then stays inside it, and each half is long enough for
// the stroker to take its direction exactly (it turns sides of a few
// steps by the angles of its coarse arctangent, and the two pieces' flat
// ends would then leave a wedge between them).
double CutLength(const vlStrokeStyle& style) {
  const double precise = 128;
  return style.cap == FT_STROKER_LINECAP_BUTT ? precise : precise + 2.0 * static_cast<double>(style.radius);
}

// Or at a point where the path goes on straight (to a thousandth), between
// two lines: the join there is nothing, and the flat ends meet.
bool Straight(FT_Vector before, FT_Vector at, const vlOutlineStep& next, bool lineBefore) {
  if (!lineBefore || next.kind != vlOutlineStep::kLine) return false;
  const double ax = static_cast<double>(at.x - before.x), ay = static_cast<double>(at.y - before.y);
  const double bx = static_cast<double>(next.p[0].x - at.x), by = static_cast<double>(next.p[0].y - at.y);
  return ax * bx + ay * by > 0 && std::fabs(ax * by - ay * bx) <= 1e-3 * std::hypot(ax, ay) * std::hypot(bx, by);
}

bool Cuttable(const vlOutlineStep& s, FT_Vector from, double least) {
  return s.kind == vlOutlineStep::kLine &&
         std::hypot(static_cast<double>(s.p[0].x - from.x), static_cast<double>(s.p[0].y - from.y)) >= least;
}

vlOutlineStep LineStep(FT_Vector to) { return {vlOutlineStep::kLine, false, {to, {0, 0}, {0, 0}}}; }

FT_Vector Middle(FT_Vector a, FT_Vector b) { return {a.x + (b.x - a.x) / 2, a.y + (b.y - a.y) / 2}; }

// A long sub-path as an open run of sides: a closed one begins and ends in
// the middle of a side that can be cut, so its closing join lies inside
// (or where it goes on straight).
void OpenRun(const SubPath& sp, double least, FT_Vector* start, std::vector<vlOutlineStep>* run) {
  *start = sp.start;
  run->assign(sp.sides, sp.sides + sp.count);
  if (sp.open) return;
  FT_Vector from = sp.start, before = sp.start;
  size_t straight = sp.count;  // the first side after a straight point
  for (size_t j = 0; j < sp.count; ++j) {
    if (Cuttable(sp.sides[j], from, least)) {
      const FT_Vector mid = Middle(from, sp.sides[j].p[0]);
      run->clear();
      *start = mid;
      run->push_back(LineStep(sp.sides[j].p[0]));
      run->insert(run->end(), sp.sides + j + 1, sp.sides + sp.count);
      run->insert(run->end(), sp.sides, sp.sides + j);
      run->push_back(LineStep(mid));
      return;
    }
    if (straight == sp.count && j && Straight(before, from, sp.sides[j], sp.sides[j - 1].kind == vlOutlineStep::kLine))
      straight = j;
    before = from;
    from = StepEnd(sp.sides[j]);
  }
  if (straight == sp.count) return;
  run->clear();
  *start = StepEnd(sp.sides[straight - 1]);
  run->insert(run->end(), sp.sides + straight, sp.sides + sp.count);
  run->insert(run->end(), sp.sides, sp.sides + straight);
}

}  // namespace

vlOutlineSet::~vlOutlineSet() {
  for (FT_Outline& o : pieces) FT_Outline_Done(OutlineLibrary(), &o);
}

FT_BBox vlOutlineSet::ControlBox() const {
  FT_BBox all = {0, 0, 0, 0};
  bool any = false;
  for (const FT_Outline& o : pieces) {
    if (o.n_points <= 0) continue;
    FT_BBox b;
    FT_Outline_Get_CBox(&o, &b);
    if (!any) all = b;
    all = {std::min(all.xMin, b.xMin), std::min(all.yMin, b.yMin), std::max(all.xMax, b.xMax),
           std::max(all.yMax, b.yMax)};
    any = true;
  }
  return all;
}

bool StrokerFitsOneOutline(FT_Stroker stroker, bool both) {
  FT_UInt points = 0, contours = 0;
  const FT_Error error = both ? FT_Stroker_GetCounts(stroker, &points, &contours)
                              : FT_Stroker_GetBorderCounts(stroker, FT_STROKER_BORDER_LEFT, &points, &contours);
  return !error && points <= FT_OUTLINE_POINTS_MAX && contours <= FT_OUTLINE_CONTOURS_MAX;
}

bool FillPieces(const vlOutlineJournal& journal, vlOutlineSet* set) {
  try {
    Piece piece;
    for (const SubPath& sp : SubPaths(journal)) {
      size_t points = 1;
      for (size_t i = 0; i < sp.count; ++i) points += StepPoints(sp.sides[i]);
      if (points <= kPiecePoints) {
        if (!piece.Fits(points) && !piece.Hand(set)) return false;
        piece.Point(sp.start, FT_CURVE_TAG_ON);
        for (size_t i = 0; i < sp.count; ++i) piece.Side(sp.sides[i]);
        piece.EndContour();
        continue;
      }
      // Fans from the first point: each goes out to where the one before
      // stopped, along the sides, and closes back.
      if (!piece.Hand(set)) return false;
      FT_Vector from = sp.start;
      for (size_t i = 0; i < sp.count;) {
        piece.Point(sp.start, FT_CURVE_TAG_ON);
        if (i) piece.Point(from, FT_CURVE_TAG_ON);
        while (i < sp.count && piece.Fits(StepPoints(sp.sides[i]))) {
          piece.Side(sp.sides[i]);
          from = StepEnd(sp.sides[i++]);
        }
        piece.EndContour();
        if (!piece.Hand(set)) return false;
      }
    }
    return piece.Hand(set);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool StrokePieces(const vlOutlineJournal& journal, const vlStrokeStyle& style, vlOutlineSet* set) {
  FT_Stroker stroker = nullptr;
  auto fresh = [&] {
    if (stroker) FT_Stroker_Done(stroker);
    stroker = nullptr;
    if (FT_Stroker_New(OutlineLibrary(), &stroker)) return false;
    FT_Stroker_Set(stroker, style.radius, style.cap, style.join, style.miterLimit);
    return true;
  };
  auto finish = [&](bool ok) {
    if (stroker) FT_Stroker_Done(stroker);
    return ok;
  };
  auto held = [&] {
    FT_UInt points = 0, contours = 0;
    FT_Stroker_GetCounts(stroker, &points, &contours);
    return std::max(points, contours);
  };
  try {
    if (!fresh()) return false;
    bool batched = false;
    const double least = CutLength(style);
    std::vector<vlOutlineStep> run;
    size_t runSides = kStrokeSides;
    for (const SubPath& sp : SubPaths(journal)) {
      if (sp.count <= kShortSides) {
        // Short sub-paths share a stroker until it holds enough.
        FT_Vector start = sp.start;
        FT_Stroker_BeginSubPath(stroker, &start, sp.open);
        for (size_t i = 0; i < sp.count; ++i) StrokeSide(stroker, sp.sides[i]);
        FT_Stroker_EndSubPath(stroker);
        batched = true;
        if (held() >= kBatchPoints) {
          if (!ExportStroke(stroker, set) || !fresh()) return finish(false);
          batched = false;
        }
        continue;
      }
      FT_Vector start;
      OpenRun(sp, least, &start, &run);
      // Runs of about so many sides, each ended in the middle of the next
      // side that can be cut, or where the path goes on straight (or after
      // a side when neither comes soon); a run whose stroke does not fit
      // one outline (curves make many points) is made again shorter, as
      // long as its points per side say would fit, and the next run starts
      // from that length: sides of hundreds of points each would otherwise
      // be stroked dozens of times over on their way down from the full
      // length.
      size_t i = 0;
      while (i < run.size()) {
        if (batched && (!ExportStroke(stroker, set) || !fresh())) return finish(false);
        const size_t first = i;
        const FT_Vector runStart = start;
        for (size_t sides = runSides;;) {
          i = first;
          start = runStart;
          FT_Vector begin = start;
          FT_Stroker_BeginSubPath(stroker, &begin, true);
          FT_Vector from = start, before = start;
          bool lineBefore = false;
          const size_t stop = i + sides;
          for (; i < run.size(); ++i) {
            const bool more = i >= stop && run.size() - i > 1;
            if (more && Straight(before, from, run[i], lineBefore)) {
              start = from;
              break;
            }
            // The second half of a cut line is the same step from the cut.
            if (more && Cuttable(run[i], from, least)) {
              start = Middle(from, run[i].p[0]);
              StrokeSide(stroker, LineStep(start));
              break;
            }
            if (more && i >= stop + sides) {
              start = from;
              break;
            }
            StrokeSide(stroker, run[i]);
            before = from;
            lineBefore = run[i].kind == vlOutlineStep::kLine;
            from = StepEnd(run[i]);
          }
          FT_Stroker_EndSubPath(stroker);
          // A run may go on to twice its length looking for a cut, and
          // some room is kept.
          const double perSide = static_cast<double>(held()) / static_cast<double>(std::max<size_t>(i - first, 1));
          const size_t fitting = static_cast<size_t>(std::clamp(0.45 * FT_OUTLINE_POINTS_MAX / std::max(perSide, 1.0), 1.0,
                                                                static_cast<double>(kStrokeSides)));
          runSides = fitting;
          if (sides <= 1 || StrokerFitsOneOutline(stroker, true)) break;
          if (!fresh()) return finish(false);
          sides = std::min(sides / 2, fitting);
        }
        batched = true;
      }
    }
    if (batched && !ExportStroke(stroker, set)) return finish(false);
    return finish(true);
  } catch (const std::bad_alloc&) {
    return finish(false);
  }
}

bool RenderPieces(const vlOutlineSet& set, FT_Pos originX, FT_Pos originY, bool antiAlias, uint8_t* buffer,
                  int32_t rowBytes, int32_t width, int32_t height) {
  if (!buffer || width <= 0 || height <= 0 || rowBytes < width) return false;
  try {
    vlScanlineFill fill(width, height, antiAlias, set.evenOdd);
    for (const FT_Outline& o : set.pieces)
      if (!fill.AddOutline(&o, originX, originY)) return false;
    return fill.Render(buffer, rowBytes);
  } catch (const std::bad_alloc&) {
    return false;
  }
}
