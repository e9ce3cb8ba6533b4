// A fill of straight sides is outlined without FreeType's stroker; what
// it makes must be the stroker's outline to the point and tag, or fills
// change pixels (FreeType's 1-bit rasteriser sees every point). Checked
// against the stroker itself on random closed polylines: long and short
// sides, sides under the stroker's two-unit threshold, straight runs,
// U-turns, left and right turns, several sub-paths.
#include <gtest/gtest.h>

#include <random>

#include "graphics/outline_fill_lines.h"

namespace {

bool StrokerOutline(const vlOutlineJournal& journal, FT_Outline* out) {
  FT_Stroker stroker;
  if (FT_Stroker_New(OutlineLibrary(), &stroker)) return false;
  FT_Stroker_Set(stroker, 0, FT_STROKER_LINECAP_BUTT, FT_STROKER_LINEJOIN_ROUND, 0);
  for (const vlOutlineStep& s : journal) {
    FT_Vector p = s.p[0];
    if (s.kind == vlOutlineStep::kBegin) FT_Stroker_BeginSubPath(stroker, &p, s.open);
    else if (s.kind == vlOutlineStep::kLine) FT_Stroker_LineTo(stroker, &p);
    else FT_Stroker_EndSubPath(stroker);
  }
  const bool ok = ExportBorder(stroker, FT_STROKER_BORDER_LEFT, out, false);
  FT_Stroker_Done(stroker);
  return ok;
}

// A closed sub-path as the outline builder hands it over: no side of
// length 0, closed back to its start by a side when it is not there.
void AddSubPath(std::mt19937& rng, int range, vlOutlineJournal* journal) {
  auto coordinate = [&] { return static_cast<FT_Pos>(rng() % (2 * range + 1)) - range; };
  FT_Vector start{coordinate(), coordinate()}, at = start, before = start;
  journal->push_back({vlOutlineStep::kBegin, false, {start}});
  const int sides = 1 + static_cast<int>(rng() % 12);
  for (int i = 0; i < sides; ++i) {
    FT_Vector to;
    switch (rng() % 6) {
      case 0: {  // straight on, or back the way it came
        const FT_Pos k = (rng() & 1) ? 1 : -1;
        to = {at.x + k * (at.x - before.x), at.y + k * (at.y - before.y)};
        break;
      }
      case 2: {  // along an axis: square corners
        const FT_Pos d = coordinate();
        to = (rng() & 1) ? FT_Vector{at.x + d, at.y} : FT_Vector{at.x, at.y + d};
        break;
      }
      case 1:  // a step of a unit or two
        to = {at.x + static_cast<FT_Pos>(rng() % 5) - 2, at.y + static_cast<FT_Pos>(rng() % 5) - 2};
        break;
      default:
        to = {coordinate(), coordinate()};
    }
    if (to.x == at.x && to.y == at.y) continue;
    journal->push_back({vlOutlineStep::kLine, false, {to}});
    before = at;
    at = to;
  }
  if (at.x == start.x && at.y == start.y && journal->back().kind == vlOutlineStep::kBegin) {
    journal->pop_back();  // the stroker takes no sub-path without sides
    return;
  }
  if (at.x != start.x || at.y != start.y) journal->push_back({vlOutlineStep::kLine, false, {start}});
  journal->push_back({vlOutlineStep::kEnd, false, {}});
}

TEST(FillOutline, StraightSidesMakeTheStrokersOutlineExactly) {
  std::mt19937 rng(20261210);
  int compared = 0;
  for (int round = 0; round < 60000; ++round) {
    vlOutlineJournal journal;
    const int range = (round % 3 == 0) ? 8 : (round % 3 == 1) ? 640 : 1 << 20;
    const int subPaths = 1 + static_cast<int>(rng() % 3);
    for (int i = 0; i < subPaths; ++i) AddSubPath(rng, range, &journal);
    if (journal.empty()) continue;
    FT_Outline expected, made;
    ASSERT_TRUE(StrokerOutline(journal, &expected));
    ASSERT_EQ(FillOutlineOfLines(journal, &made), vlFillLinesResult::kMade);
    SCOPED_TRACE(testing::Message() << "round " << round);
    ASSERT_EQ(made.n_points, expected.n_points);
    ASSERT_EQ(made.n_contours, expected.n_contours);
    for (int i = 0; i < made.n_points; ++i) {
      ASSERT_EQ(made.points[i].x, expected.points[i].x) << i;
      ASSERT_EQ(made.points[i].y, expected.points[i].y) << i;
      ASSERT_EQ(made.tags[i], expected.tags[i]) << i;
    }
    for (int i = 0; i < made.n_contours; ++i) ASSERT_EQ(made.contours[i], expected.contours[i]);
    ASSERT_EQ(made.flags, expected.flags);
    compared += made.n_points;
    FT_Outline_Done(OutlineLibrary(), &expected);
    FT_Outline_Done(OutlineLibrary(), &made);
  }
  EXPECT_GT(compared, 100000);
}

TEST(FillOutline, CurvesOpenSubPathsAndOverlongPathsAreLeftToTheStroker) {
  vlOutlineJournal curve = {{vlOutlineStep::kBegin, false, {{0, 0}}},
                            {vlOutlineStep::kCubic, false, {{64, 0}, {64, 64}, {0, 64}}},
                            {vlOutlineStep::kEnd, false, {}}};
  FT_Outline o;
  EXPECT_EQ(FillOutlineOfLines(curve, &o), vlFillLinesResult::kNotLines);
  vlOutlineJournal open = {{vlOutlineStep::kBegin, true, {{0, 0}}},
                           {vlOutlineStep::kLine, false, {{64, 0}}},
                           {vlOutlineStep::kEnd, false, {}}};
  EXPECT_EQ(FillOutlineOfLines(open, &o), vlFillLinesResult::kNotLines);
  // A zig-zag of 40,000 corners, half of them turning right (four points).
  vlOutlineJournal zigzag = {{vlOutlineStep::kBegin, false, {{0, 0}}}};
  for (int i = 1; i <= 40000; ++i) zigzag.push_back({vlOutlineStep::kLine, false, {{i * 64, (i & 1) * 640}}});
  zigzag.push_back({vlOutlineStep::kEnd, false, {}});
  EXPECT_EQ(FillOutlineOfLines(zigzag, &o), vlFillLinesResult::kTooLarge);
}

}  // namespace
