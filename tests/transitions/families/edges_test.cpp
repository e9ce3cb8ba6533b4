// Edge, strip and tile effects: the frames that their geometry fixes
// exactly, recomputed here from the rules, the frame counts, and the end
// on the whole new picture.
#include <algorithm>
#include <set>

#include "tests/transitions/families/fx_harness.h"

namespace {

using fxtest::OffscreenFx;
using Box = OffscreenFx::Box;

class Edges : public OffscreenFx {};

TEST_F(Edges, EveryEdgeEffectEndsOnTheNewPicture) {
  ExpectEachEndsOnTheNewPicture({14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33,
                     34, 35, 36, 37, 70, 71, 72, 73, 74, 75, 76, 77, 78, 79, 80, 81, 82, 83}, {-1, -2, -3, 7});
}

TEST_F(Edges, RevealStepsAndCounts) {
  // 80 pixels per frame is more than half of 100 columns: 1, two columns a frame.
  ASSERT_EQ(Start(30, 100, 10, 80), 0);
  EXPECT_EQ(fx->stepSize, 1);
  EXPECT_EQ(fx->frameCount, 50);  // StepCount(97, 2, 0)
  Frame();
  EXPECT_TRUE(NewExactly({{0, 0, 2, 10}}));
  Frame();
  EXPECT_TRUE(NewExactly({{0, 0, 4, 10}}));
  EXPECT_EQ(RunToEnd() + 2, 50);
  // Rows: half the height, 51 rows a frame.
  ASSERT_EQ(Start(32, 10, 100, 80), 0);
  EXPECT_EQ(fx->stepSize, 50);
  Frame();
  EXPECT_TRUE(NewExactly({{0, 0, 10, 51}}));
  EXPECT_EQ(Frame(), 1);
  ASSERT_EQ(Start(33, 10, 100, 5), 0);
  Frame();
  Frame();
  EXPECT_TRUE(NewExactly({{0, 88, 10, 12}}));
  ASSERT_EQ(Start(31, 100, 10, -1), 0);  // 100 / 70 = 1
  Frame();
  EXPECT_TRUE(NewExactly({{98, 0, 2, 10}}));
}

TEST_F(Edges, CurtainsMeetInTheMiddleAndOpenFromIt) {
  const int w = 60;
  ASSERT_EQ(Start(25, w, 4, 3), 0);  // closing: lines of 4
  EXPECT_EQ(fx->frameCount, StepCount(w / 2, 4, 0));
  for (int j = 1;; ++j) {
    const int32_t done = Frame();
    const int reach = std::min(j * 4, w / 2 + 4);
    if (!done) {
      EXPECT_TRUE(NewExactly({{0, 0, reach, 4}, {w - reach, 0, reach, 4}})) << j;
    }
    if (done) break;
  }
  EXPECT_TRUE(AllNew());
  ASSERT_EQ(Start(26, 4, w, 3), 0);  // opening on rows
  Frame();
  EXPECT_TRUE(NewExactly({{0, w / 2 - 3, 4, 6}}));
  Frame();
  EXPECT_TRUE(NewExactly({{0, w / 2 - 7, 4, 14}}));
  // A step above a quarter of the extent is held there.
  ASSERT_EQ(Start(24, 20, 2, 19), 0);
  EXPECT_EQ(fx->stepSize, 5);
}

TEST_F(Edges, GatesSlideTheOldHalvesAndKeepTheMiddleLineBelow) {
  const int w = 6, h = 21, half = 10, s = 3;
  ASSERT_EQ(Start(74, w, h, s), 0);
  EXPECT_EQ(fx->frameCount, StepCount(11 - s, s, 0));
  Frame();
  // New rows a .. b - 1 with a = 11 - 3 = 8 and b = 10 + 3 = 13; the old
  // top half ends at row a - 1, the bottom half (row 10 first) starts at b.
  for (int x = 0; x < w; ++x) {
    for (int y = 8; y < 13; ++y) EXPECT_TRUE(IsNew(x, y)) << y;
    EXPECT_EQ(Pixel(x, 7), fxtest::OldColor(x, half - 1));
    EXPECT_EQ(Pixel(x, 0), fxtest::OldColor(x, half - 8));
    EXPECT_EQ(Pixel(x, 13), fxtest::OldColor(x, half));
    EXPECT_EQ(Pixel(x, 20), fxtest::OldColor(x, half + 7));
  }
  RunToEnd();
  EXPECT_TRUE(AllNew());
  // Closing on columns: the new halves end at a - 1 and start at b.
  ASSERT_EQ(Start(77, 20, 3, 4), 0);
  Frame();
  for (int y = 0; y < 3; ++y) {
    EXPECT_EQ(Pixel(3, y), fxtest::NewColor(9, y));
    EXPECT_EQ(Pixel(16, y), fxtest::NewColor(10, y));
    EXPECT_TRUE(IsOld(4, y));
    EXPECT_TRUE(IsOld(15, y));
  }
}

TEST_F(Edges, PushMovesBothPictures) {
  const int w = 30, h = 5;
  for (int id : {78, 79}) {
    ASSERT_EQ(Start(id, w, h, 4), 0);
    for (int j = 1;; ++j) {
      const int32_t done = Frame();
      const int d = std::min(4 * j, w);
      for (int x = 0; x < w; ++x) {
        const bool fresh = id == 78 ? x < d : x >= w - d;
        const int from = id == 78 ? (fresh ? x - d + w : x - d) : (fresh ? x - (w - d) : x + d);
        EXPECT_EQ(Pixel(x, 2), fresh ? fxtest::NewColor(from, 2) : fxtest::OldColor(from, 2)) << id << " " << j;
      }
      if (done) break;
    }
    EXPECT_TRUE(AllNew());
    EXPECT_EQ(fx->frame, StepCount(w - 4, 4, 0));
  }
}

TEST_F(Edges, InterlacedLineOrders) {
  auto rowsOfEachFrame = [&](int id) {
    std::vector<std::vector<int>> frames;
    Start(id, 3, 4, -1);
    std::vector<uint32_t> before = pixels;
    for (int32_t done = 0; !done;) {
      done = Frame();
      std::vector<int> rows;
      for (int y = 0; y < 4; ++y)
        if (pixels[y * 3] != before[y * 3]) rows.push_back(y);
      frames.push_back(rows);
      before = pixels;
    }
    return frames;
  };
  auto f = rowsOfEachFrame(35);
  ASSERT_EQ(f.size(), 3u);
  EXPECT_EQ(f[0], (std::vector<int>{0, 3}));
  EXPECT_EQ(f[1], (std::vector<int>{1, 2}));
  EXPECT_TRUE(f[2].empty());  // rows 3 and 0 again
  f = rowsOfEachFrame(36);
  ASSERT_EQ(f.size(), 5u);
  EXPECT_EQ(f[0], std::vector<int>{0});
  EXPECT_EQ(f[1], std::vector<int>{2});
  EXPECT_EQ(f[2], std::vector<int>{3});
  EXPECT_TRUE(f[3].empty());
  EXPECT_EQ(f[4], std::vector<int>{1});
}

TEST_F(Edges, BarsBlindsQuartersAndDiagonal) {
  ASSERT_EQ(Start(28, 40, 40, -1), 0);
  EXPECT_EQ(RunToEnd(), 13);
  ASSERT_EQ(Start(28, 40, 40, -2), 0);
  Frame();
  // Columns 16k .. 16k + 0 and the 8 leftover columns whole.
  EXPECT_TRUE(NewExactly({{0, 0, 1, 40}, {16, 0, 1, 40}, {32, 0, 8, 40}}));
  EXPECT_EQ(RunToEnd() + 1, 9);

  ASSERT_EQ(Start(14, 5, 100, -1), 0);  // blinds of 8, one line a frame
  EXPECT_EQ(fx->frameCount, 8);
  Frame();
  std::vector<Box> lines;
  for (int k = 0; k <= 12; ++k) lines.push_back({0, 8 * k, 5, 1});
  EXPECT_TRUE(NewExactly(lines));
  EXPECT_EQ(RunToEnd() + 1, 8);

  ASSERT_EQ(Start(29, 101, 40, 2), 0);
  Frame();
  // s = 2: strips of 3 rows; the right half is columns 50 .. 100.
  EXPECT_TRUE(NewExactly({{0, 0, 50, 3}, {0, 20, 50, 3}, {50, 17, 51, 3}, {50, 37, 51, 3}}));

  ASSERT_EQ(Start(83, 40, 10, -1), 0);  // 40 / 60 gives 0: squares of 1
  EXPECT_EQ(fx->stepSize, 1);
  EXPECT_EQ(fx->frameCount, StepCount(49, 1, 0));
  Frame();
  Frame();
  Frame();
  EXPECT_TRUE(NewExactly({{0, 0, 3, 1}, {0, 1, 2, 1}, {0, 2, 1, 1}}));
}

TEST_F(Edges, PuzzleDrawsEveryTileOnce) {
  srand48(7);
  ASSERT_EQ(Start(82, 100, 60, -1), 0);
  EXPECT_EQ(fx->stepSize, 5);
  EXPECT_EQ(fx->frameCount, 273);
  std::set<int> tiles;
  int empty = 0, frames = 0;
  std::vector<uint32_t> before = pixels;
  for (int32_t done = 0; !done;) {
    done = Frame();
    ++frames;
    int minX = 1 << 20, minY = 1 << 20, maxX = -1, maxY = -1, changed = 0;
    for (int y = 0; y < 60; ++y)
      for (int x = 0; x < 100; ++x)
        if (pixels[y * 100 + x] != before[y * 100 + x]) {
          ASSERT_TRUE(IsNew(x, y));
          ++changed;
          minX = std::min(minX, x), maxX = std::max(maxX, x), minY = std::min(minY, y), maxY = std::max(maxY, y);
        }
    if (!changed) {
      ++empty;
    } else {
      ASSERT_EQ(minX % 5, 0);
      ASSERT_EQ(minY % 5, 0);
      ASSERT_EQ(maxX - minX, 4);
      ASSERT_EQ(maxY - minY, 4);
      ASSERT_EQ(changed, 25);
      ASSERT_TRUE(tiles.insert(minY / 5 * 21 + minX / 5).second);
    }
    before = pixels;
  }
  EXPECT_EQ(frames, 273);
  EXPECT_EQ(tiles.size(), 240u);  // 20 x 12 tiles inside, 33 outside
  EXPECT_EQ(empty, 33);
  ASSERT_EQ(Start(82, 100, 60, 3), 0);
  EXPECT_EQ(fx->stepSize, 5);
}

TEST_F(Edges, FlowStretchesTheLeadingLine) {
  ASSERT_EQ(Start(70, 4, 1000, -1), 0);
  EXPECT_EQ(fx->stepSize, 20);
  EXPECT_EQ(fx->frameCount, 50);
  ASSERT_EQ(Start(70, 4, 3000, -1), 0);
  EXPECT_EQ(fx->stepSize, 30);
  ASSERT_EQ(Start(70, 3, 20, 6), 0);
  Frame();
  for (int y = 0; y < 20; ++y) EXPECT_EQ(Pixel(1, y), fxtest::NewColor(1, std::min(y, 5))) << y;
  Frame();
  for (int y = 0; y < 20; ++y) EXPECT_EQ(Pixel(2, y), fxtest::NewColor(2, std::min(y, 11))) << y;
  ASSERT_EQ(Start(73, 20, 3, 6), 0);  // from the right: column e - 1 over 0 .. e - 1
  Frame();
  for (int x = 0; x < 20; ++x) EXPECT_EQ(Pixel(x, 1), fxtest::NewColor(std::max(x, 13), 1)) << x;
}

}  // namespace
