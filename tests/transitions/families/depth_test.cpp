// Spiral, swiss, quad-rectangle, turndown, flip-coin, crush and card: the
// bands and scaled parts that the rules place exactly.
#include "tests/transitions/families/fx_harness.h"

namespace {

using fxtest::NewColor;
using fxtest::OffscreenFx;
using fxtest::OldColor;

class Depth : public OffscreenFx {
 protected:
  bool FromNew(int x, int y) const { return (Pixel(x, y) & 0x800000u) != 0; }
  // Rows (or columns) first..last come from the new picture, the others not.
  bool NewLinesOnly(bool columns, int first, int last) const {
    for (int y = 0; y < fx->height; ++y)
      for (int x = 0; x < fx->width; ++x) {
        const int line = columns ? x : y;
        if ((line >= first && line <= last) != FromNew(x, y)) {
          ADD_FAILURE() << x << "," << y;
          return false;
        }
      }
    return true;
  }
};

TEST_F(Depth, EveryEffectEndsOnTheNewPicture) {
  ExpectEachEndsOnTheNewPicture({105, 106, 107, 111, 112, 120, 121, 122, 123, 124, 125, 126, 127, 128, 129, 130, 131}, {-1, -2, 7});
}

TEST_F(Depth, SpiralSwissAndQuadRect) {
  ASSERT_EQ(Start(105, 70, 60, -1), 0);
  const int32_t counted = fx->frameCount;
  EXPECT_GT(counted, 10);
  Frame();
  EXPECT_TRUE(NewExactly({{59, 0, 11, 10}}));  // columns of 11, the outer right leg
  EXPECT_EQ(RunToEnd() + 1, counted);

  ASSERT_EQ(Start(106, 40, 40, 4), 0);
  Frame();
  // Corners of 4 x trunc(1 * 4 + 1).
  EXPECT_TRUE(NewExactly({{0, 0, 4, 5}, {0, 35, 4, 5}, {36, 35, 4, 5}, {36, 0, 4, 5}}));

  ASSERT_EQ(Start(107, 40, 20, 4), 0);
  Frame();
  // 4 x 3 centred in the top-left and the bottom-right quarter.
  EXPECT_TRUE(NewExactly({{8, 3, 4, 3}, {28, 13, 4, 3}}));
  ASSERT_EQ(Start(107, 40, 20, 99), 0);
  EXPECT_EQ(fx->stepSize, 30);
}

TEST_F(Depth, CrushAndTurnDown) {
  ASSERT_EQ(Start(121, 60, 3, 10), 0);  // CRUSHRIGHT
  Frame();
  EXPECT_TRUE(NewLinesOnly(true, 50, 59));
  RunToEnd();
  EXPECT_TRUE(AllNew());
  ASSERT_EQ(Start(122, 3, 60, 10), 0);  // CRUSHTOP
  Frame();
  Frame();
  EXPECT_TRUE(NewLinesOnly(false, 0, 19));

  ASSERT_EQ(Start(128, 4, 40, 4), 0);  // TURNDOWNTOP
  Frame();
  EXPECT_TRUE(NewLinesOnly(false, 0, 3));
  for (int x = 0; x < 4; ++x)
    for (int y = 20; y < 40; ++y) ASSERT_EQ(Pixel(x, y), OldColor(x, y));
  ASSERT_EQ(Start(128, 640, 480, -1), 0);
  EXPECT_EQ(fx->stepSize, 8);
  EXPECT_EQ(fx->frameCount, StepCount(472, 8, 0));
}

TEST_F(Depth, FlipCoinNarrowsToALine) {
  ASSERT_EQ(Start(124, 4, 40, 4, 0x00FF00), 0);
  for (int i = 0; i < 10; ++i) Frame();  // s = 40 = E
  for (int y = 0; y < 40; ++y) {
    if (y == 19) EXPECT_FALSE(FromNew(1, y) || Pixel(1, y) == 0x00FF00u);
    else EXPECT_EQ(Pixel(1, y), 0x00FF00u) << y;
  }
  Frame();  // s = 44: the new picture 4 rows high in the middle
  EXPECT_TRUE(NewLinesOnly(false, 18, 21));
}

TEST_F(Depth, CardSwitchesLayoutAtHalfTheHeight) {
  ASSERT_EQ(Start(111, 3, 40, 20), 0);
  Frame();
  EXPECT_EQ(Pixel(0, 0), NewColor(0, 20));
  EXPECT_EQ(Pixel(0, 19), NewColor(0, 39));
  EXPECT_EQ(Pixel(0, 20), OldColor(0, 0));
  EXPECT_EQ(Frame(), 1);
  EXPECT_TRUE(AllNew());
}

}  // namespace
