// A fill of straight sides and cubics is outlined without FreeType's
// stroker; what it makes must be the stroker's outline to the point and
// tag, or fills change pixels (FreeType's 1-bit rasteriser sees every
// point). Checked against the stroker itself on random closed paths: long
// and short sides, sides under the stroker's two-unit threshold, straight
// runs, U-turns, left and right turns, cubics of every shape (legs under
// two units, legs turning by just under and over the stroker's limits for
// halving and for a join between pieces), several sub-paths.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "graphics/outline_fill_lines.h"
#include "graphics/outline_grey.h"
#include "graphics/outline_mono.h"
#include "graphics/outline_pieces.h"

#include FT_BITMAP_H

namespace {

bool StrokerOutline(const vlOutlineJournal& journal, FT_Outline* out) {
  FT_Stroker stroker;
  if (FT_Stroker_New(OutlineLibrary(), &stroker)) return false;
  FT_Stroker_Set(stroker, 0, FT_STROKER_LINECAP_BUTT, FT_STROKER_LINEJOIN_ROUND, 0);
  ReplayJournal(stroker, journal);
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
    switch (rng() % 8) {
      case 0: {  // straight on, or back the way it came
        const FT_Pos k = (rng() & 1) ? 1 : -1;
        to = {at.x + k * (at.x - before.x), at.y + k * (at.y - before.y)};
        break;
      }
      case 6:
      case 7: {
        // Nearly straight on, back, or square: a unit or two off, where
        // the turn's sign or size is a matter of FreeType's rounding.
        const FT_Pos dx = at.x - before.x, dy = at.y - before.y;
        const FT_Pos k = static_cast<FT_Pos>(rng() % 3) + 1;
        const FT_Vector d = (rng() & 1)   ? FT_Vector{k * dx, k * dy}
                            : (rng() & 1) ? FT_Vector{-dy, dx}
                                          : FT_Vector{dy, -dx};
        to = {at.x + d.x + static_cast<FT_Pos>(rng() % 5) - 2, at.y + d.y + static_cast<FT_Pos>(rng() % 5) - 2};
        if (rng() & 1) to = {at.x - (to.x - at.x), at.y - (to.y - at.y)};
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
      case 3:
      case 4: {
        // A cubic: legs at random, or turning by about a limit of the
        // stroker's (22.5 or 45 degrees between legs, 7.5 between pieces),
        // or of a unit or two.
        const double limits[] = {22.5, 45, 7.5, 11.25, 90, 180};
        const double length = 2 + static_cast<double>(rng() % static_cast<unsigned>(range + 1));
        double angle = static_cast<double>(rng() % 3600) / 10;
        FT_Vector legs[3];
        for (FT_Vector& leg : legs) {
          const int kind = static_cast<int>(rng() % 4);
          if (kind == 0) {
            leg = {static_cast<FT_Pos>(rng() % 5) - 2, static_cast<FT_Pos>(rng() % 5) - 2};
            continue;
          }
          if (kind == 1) angle = static_cast<double>(rng() % 3600) / 10;
          else angle += (rng() & 1 ? 1 : -1) * (limits[rng() % 6] + (static_cast<double>(rng() % 201) - 100) / 1e4);
          const double r = kind == 3 ? length / 16 + 2 : length;
          leg = {static_cast<FT_Pos>(std::lround(r * std::cos(angle * 3.14159265358979 / 180))),
                 static_cast<FT_Pos>(std::lround(r * std::sin(angle * 3.14159265358979 / 180)))};
        }
        const FT_Vector c1{at.x + legs[0].x, at.y + legs[0].y}, c2{c1.x + legs[1].x, c1.y + legs[1].y};
        to = {c2.x + legs[2].x, c2.y + legs[2].y};
        journal->push_back({vlOutlineStep::kCubic, false, {c1, c2, to}});
        before = c2;
        at = to;
        continue;
      }
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

TEST(FillOutline, StraightSidesAndCubicsMakeTheStrokersOutlineExactly) {
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

TEST(FillOutline, ConicsOpenSubPathsAndOverlongPathsAreLeftToTheStroker) {
  vlOutlineJournal curve = {{vlOutlineStep::kBegin, false, {{0, 0}}},
                            {vlOutlineStep::kConic, false, {{64, 0}, {64, 64}}},
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

// The player's 1-bit fill against FreeType's monochrome rasteriser, the
// one it replaces: the same pixels, and a refusal where FreeType refuses.
// Random outlines of lines, conic and cubic arcs: points on the 1/64
// grid, on pixel centres and edges (where the column pass lights centres
// an edge passes exactly), turns on rows, self-crossing and nested
// contours, shapes that cover more rows than FreeType's pool (it then
// fills in bands, cut at other places), and buffers smaller than the shape.
namespace {

struct MonoCase {
  std::vector<FT_Vector> points;
  std::vector<char> tags;
  std::vector<short> contours;
};

MonoCase RandomOutline(std::mt19937& rng, int size) {
  MonoCase c;
  auto coordinate = [&](int range) -> FT_Pos {
    const FT_Pos v = static_cast<FT_Pos>(rng() % (range * 64 + 1)) - 8 * 64;
    switch (rng() % 4) {
      case 0: return (v & ~FT_Pos{63}) + 32;  // a pixel centre
      case 1: return v & ~FT_Pos{63};         // a pixel edge
      default: return v;
    }
  };
  const int contours = 1 + static_cast<int>(rng() % 4);
  for (int k = 0; k < contours; ++k) {
    const int range = 1 + static_cast<int>(rng() % (size + 16));
    const int n = 2 + static_cast<int>(rng() % 14);
    c.points.push_back({coordinate(range), coordinate(range)});
    c.tags.push_back(FT_CURVE_TAG_ON);
    for (int i = 1; i < n; ++i) {
      FT_Vector p{coordinate(range), coordinate(range)};
      if (rng() % 5 == 0) p.y = c.points.back().y;  // flat, on a row or not
      switch (rng() % 5) {
        case 0:
          c.points.push_back({coordinate(range), coordinate(range)});
          c.tags.push_back(FT_CURVE_TAG_CONIC);
          if (rng() & 1) {  // two conic controls in a row: a middle point between them
            c.points.push_back({coordinate(range), coordinate(range)});
            c.tags.push_back(FT_CURVE_TAG_CONIC);
          }
          break;
        case 1:
          c.points.push_back({coordinate(range), coordinate(range)});
          c.points.push_back({coordinate(range), coordinate(range)});
          c.tags.push_back(FT_CURVE_TAG_CUBIC);
          c.tags.push_back(FT_CURVE_TAG_CUBIC);
          break;
        default:
          break;
      }
      c.points.push_back(p);
      c.tags.push_back(FT_CURVE_TAG_ON);
    }
    if (rng() % 4 == 0) {  // closing through a control point
      c.points.push_back({coordinate(range), coordinate(range)});
      c.tags.push_back(FT_CURVE_TAG_CONIC);
    }
    c.contours.push_back(static_cast<short>(c.points.size() - 1));
  }
  return c;
}

FT_Outline View(MonoCase& c) {
  FT_Outline o{};
  o.n_points = static_cast<short>(c.points.size());
  o.n_contours = static_cast<short>(c.contours.size());
  o.points = c.points.data();
  o.tags = c.tags.data();
  o.contours = c.contours.data();
  o.flags = FT_OUTLINE_IGNORE_DROPOUTS | FT_OUTLINE_HIGH_PRECISION;
  return o;
}

// FreeType's pixels as bytes (0 or 255), or nothing when it refuses.
bool FreeTypeMono(FT_Outline* o, int w, int h, std::vector<uint8_t>* out) {
  const int pitch = ((w + 15) >> 3) & ~1;
  std::vector<uint8_t> bits(static_cast<size_t>(pitch) * h);
  FT_Bitmap bm;
  FT_Bitmap_Init(&bm);
  bm.rows = h;
  bm.width = w;
  bm.pitch = -pitch;
  bm.buffer = bits.data();
  bm.pixel_mode = FT_PIXEL_MODE_MONO;
  bm.num_grays = 2;
  if (FT_Outline_Get_Bitmap(OutlineLibrary(), o, &bm)) return false;
  out->assign(static_cast<size_t>(w) * h, 0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) (*out)[size_t(y) * w + x] = (bits[size_t(y) * pitch + x / 8] & (0x80 >> (x & 7))) ? 255 : 0;
  return true;
}

// Equal buffers (rows of w bytes), or where they first differ.
testing::AssertionResult SameBytes(const std::vector<uint8_t>& got, const std::vector<uint8_t>& want, int w) {
  if (got == want) return testing::AssertionSuccess();
  size_t i = 0;
  while (got[i] == want[i]) ++i;
  return testing::AssertionFailure() << "first difference at x " << i % w << " y " << i / w << ": ours "
                                     << int(got[i]) << ", FreeType " << int(want[i]);
}

// A round's outline: mostly shapes a few dozen pixels across, every tenth
// hundreds; every seventh stretched tall, and every fiftieth with a control
// point out of place (FreeType refuses some) or replaced by a comb of up to
// maxTeeth teeth a row or two tall (too many profiles or cells for a
// one-row band). size: the scale for the buffer.
MonoCase RoundOutline(std::mt19937& rng, int round, int maxTeeth, int* size) {
  *size = round % 10 == 0 ? 300 + static_cast<int>(rng() % 700) : 4 + static_cast<int>(rng() % 60);
  MonoCase c = RandomOutline(rng, *size);
  if (round % 7 == 0)  // a long thin side: a tall shape in a narrow buffer
    for (FT_Vector& p : c.points) p.y *= 9;
  if (round % 50 == 1) c.tags[rng() % c.tags.size()] = (rng() & 1) ? FT_CURVE_TAG_CUBIC : FT_CURVE_TAG_CONIC;
  if (round % 50 == 2) {
    c = {};
    const int teeth = 100 + static_cast<int>(rng() % (maxTeeth - 99));
    for (int t = 0; t < teeth; ++t) {
      c.points.push_back({t * 64 + 16, 40});
      c.points.push_back({t * 64 + 48, 40 + static_cast<FT_Pos>(rng() % 200)});
    }
    c.points.push_back({teeth * 64, 0});
    c.points.push_back({0, 0});
    c.tags.assign(c.points.size(), FT_CURVE_TAG_ON);
    c.contours = {static_cast<short>(c.points.size() - 1)};
    *size = teeth;
  }
  return c;
}

TEST(FillOutline, MonoFillLightsFreeTypesPixels) {
  std::mt19937 rng(20261210);
  int drawn = 0, refused = 0, banded = 0;
  for (int round = 0; round < 30000; ++round) {
    int size;
    MonoCase c = RoundOutline(rng, round, 400, &size);
    const int w = 1 + static_cast<int>(rng() % (size + 8)), h = 1 + static_cast<int>(rng() % (size + 8));
    FT_Outline o = View(c);
    std::vector<uint8_t> want, got(static_cast<size_t>(w) * h, 0);
    const bool ft = FreeTypeMono(&o, w, h, &want);
    const vlMonoFill ours = FillOutlineMono(&o, got.data(), w, w, h);
    ASSERT_NE(ours, vlMonoFill::kNotHandled) << round;
    ASSERT_EQ(ours == vlMonoFill::kDrawn, ft) << "round " << round;
    if (!ft) {
      ASSERT_EQ(got, std::vector<uint8_t>(got.size(), 0)) << "a refusal leaves the buffer clear, round " << round;
      ++refused;
      continue;
    }
    ++drawn;
    banded += size > 300;
    ASSERT_TRUE(SameBytes(got, want, w)) << "round " << round << " (" << w << "x" << h << ", " << c.points.size()
                                         << " points)";
  }
  EXPECT_GT(drawn, 25000);
  EXPECT_GT(banded, 1000);
  EXPECT_GT(refused, 100);
}

// The player's anti-aliased fill against FreeType's grey rasteriser: the
// same bytes, written where FreeType writes them (the buffers start out
// patterned, not clear), by either fill rule; a refusal where FreeType
// refuses, the outline left to FreeType only where FreeType gives up on a
// row too dense for its pool. The outlines of the test above, and: flat
// slivers whose rows hold hundreds of cells (FreeType bands, and past its
// pool fails), combs, far-scaled shapes (curves halved many times, and
// beyond FreeType's range).
TEST(FillOutline, GreyFillWritesFreeTypesBytes) {
  std::mt19937 rng(20261211);
  int drawn = 0, refused = 0, leftToFreeType = 0, evenOdd = 0, wide = 0;
  for (int round = 0; round < 30000; ++round) {
    int size;
    MonoCase c = RoundOutline(rng, round, 700, &size);
    if (round % 50 == 3) {  // a sliver a row or two tall and hundreds of pixels long
      const FT_Pos length = (200 + static_cast<FT_Pos>(rng() % 1200)) * 64, y = static_cast<FT_Pos>(rng() % 640);
      const FT_Pos rise = static_cast<FT_Pos>(rng() % 128), thick = 1 + static_cast<FT_Pos>(rng() % 96);
      c = {};
      c.points = {{-100, y}, {length, y + rise}, {length, y + rise + thick}, {-100, y + thick}};
      c.tags.assign(4, FT_CURVE_TAG_ON);
      c.contours = {3};
      size = static_cast<int>(length / 64);
    }
    if (round % 11 == 5) {  // far out: long curves, or past FreeType's range
      const FT_Pos k = FT_Pos{1} << (rng() % 13);
      for (FT_Vector& p : c.points) p.x *= k, p.y *= k;
    }
    int w = 1 + static_cast<int>(rng() % (size + 8)), h = 1 + static_cast<int>(rng() % (size + 8));
    if (round % 50 == 2 || round % 50 == 3) w = size + 8, h = std::min(h, 16);
    FT_Outline o = View(c);
    if (rng() & 1) o.flags |= FT_OUTLINE_EVEN_ODD_FILL, ++evenOdd;
    const uint8_t pattern = (round & 1) ? 0 : 0x5A;
    std::vector<uint8_t> want(static_cast<size_t>(w) * h, pattern), got = want;
    const bool ft = FreeTypeGreyCoverage(&o, want.data(), w, w, h);
    const vlGreyFill ours = FillOutlineGrey(&o, got.data(), w, w, h);
    SCOPED_TRACE(testing::Message() << "round " << round << " (" << w << "x" << h << ", " << c.points.size()
                                    << " points)");
    if (ours == vlGreyFill::kNotHandled) {
      ASSERT_FALSE(ft) << "left to FreeType, which draws it";
      ++leftToFreeType;
      continue;
    }
    ASSERT_EQ(ours == vlGreyFill::kDrawn, ft);
    if (!ft) {
      ASSERT_EQ(got, std::vector<uint8_t>(got.size(), pattern)) << "a refusal leaves the buffer untouched";
      ++refused;
      continue;
    }
    ++drawn;
    wide += w > 680;
    ASSERT_TRUE(SameBytes(got, want, w));
  }
  EXPECT_GT(drawn, 25000);
  EXPECT_GT(refused, 300);
  EXPECT_GT(leftToFreeType, 50);
  EXPECT_GT(wide, 300);
  EXPECT_GT(evenOdd, 10000);
}

}  // namespace
