// Clock wipe, star and sun: the counted frames, the first wedge of the
// clock hand, and the reveal that never takes a pixel back.
#include <cmath>
#include <numbers>

#include "tests/transitions/families/fx_harness.h"

namespace {

using fxtest::OffscreenFx;

class Polygon : public OffscreenFx {};

TEST_F(Polygon, EveryEffectEndsOnTheNewPicture) {
  ExpectEachEndsOnTheNewPicture({97, 98, 114}, {-1, -2, 7});
}

TEST_F(Polygon, ClockHandTurnsTheCornersOnTime) {
  ASSERT_EQ(Start(97, 100, 100, -1), 0);
  EXPECT_EQ(fx->stepSize, 10);
  EXPECT_EQ(fx->frameCount, 40);
  Frame();
  // The wedge from the centre (50, 50) between (50, 0) and (60, 0).
  EXPECT_TRUE(IsNew(52, 4));
  EXPECT_TRUE(IsNew(50, 40));
  EXPECT_TRUE(IsOld(45, 4));
  EXPECT_TRUE(IsOld(65, 10));
  EXPECT_TRUE(IsOld(50, 60));
  for (int i = 1; i < 15; ++i) Frame();  // past the second corner: the right half is in
  for (int y = 0; y < 100; y += 7) EXPECT_TRUE(IsNew(99, y)) << y;
  EXPECT_TRUE(IsOld(10, 50));
  int frames = 15;
  std::vector<bool> seen(100 * 100);
  for (int32_t done = 0; !done;) {
    done = Frame();
    ++frames;
    for (int y = 0; y < 100; ++y)
      for (int x = 0; x < 100; ++x) {
        if (seen[y * 100 + x]) {
          ASSERT_TRUE(IsNew(x, y));
        }
        seen[y * 100 + x] = IsNew(x, y);
      }
  }
  EXPECT_EQ(frames, 40);
  EXPECT_TRUE(AllNew());
}

TEST_F(Polygon, StarAndSunGrowFromTheCentre) {
  ASSERT_EQ(Start(98, 300, 200, -1), 0);
  EXPECT_EQ(fx->stepSize, 25);
  EXPECT_EQ(fx->frameCount, StepCount(1200 - 35, 25, 0));
  Frame();
  // A star of 35 x 24 around the centre; the corners stay old.
  EXPECT_TRUE(IsNew(150, 100));
  EXPECT_TRUE(IsOld(0, 0));
  EXPECT_TRUE(IsOld(140, 70));
  EXPECT_EQ(RunToEnd() + 1, fx->frameCount);
  ASSERT_EQ(Start(114, 60, 60, 6), 0);
  const int32_t counted = fx->frameCount;
  Frame();
  EXPECT_TRUE(IsNew(30, 30));
  EXPECT_TRUE(IsOld(30, 15));
  EXPECT_TRUE(IsOld(0, 0));
  EXPECT_EQ(RunToEnd() + 1, counted);
  EXPECT_TRUE(AllNew());
}

}  // namespace

namespace {

using fxtest::NewColor;

class Warp : public OffscreenFx {};

TEST_F(Warp, RollWaterAndStrudelEndOnTheNewPicture) {
  ExpectEachEndsOnTheNewPicture({84, 85, 86, 87, 134, 135, 136, 137, 138}, {-2, 40});
}

TEST_F(Warp, RollKeepsTheFlatPartAndTheOldPictureAhead) {
  ASSERT_EQ(Start(85, 160, 4, -1), 0);  // ROLLLEFT: a cylinder 20 wide, 2 columns a frame
  EXPECT_EQ(fx->stepSize, 2);
  EXPECT_EQ(fx->frameCount, 80);
  for (int i = 0; i < 30; ++i) Frame();  // p = 60: the band covers columns 41 .. 60
  for (int x = 0; x < 41; ++x) ASSERT_EQ(Pixel(x, 1), NewColor(x, 1)) << x;
  for (int x = 61; x < 160; ++x) ASSERT_TRUE(IsOld(x, 1)) << x;
  // On the cylinder column 41 + i shows column 60 + trunc(angle / (2 pi / 20))
  // with angle = asin(1 - 2i / 20) + pi / 2.
  for (int i = 0; i < 20; ++i) {
    const double angle = std::asin(1.0 - 2.0 * i / 20) + std::numbers::pi / 2;
    EXPECT_EQ(Pixel(41 + i, 1), NewColor(60 + static_cast<int>(angle / (2 * std::numbers::pi / 20)), 1)) << i;
  }
  EXPECT_EQ(RunToEnd() + 30, 80);
  ASSERT_EQ(Start(87, 160, 4, 12), 0);  // WALLPAPERLEFT: 12 / 5
  EXPECT_EQ(fx->stepSize, 2);
  ASSERT_EQ(Start(84, 4, 160, 100), 0);
  EXPECT_EQ(fx->stepSize, 8);
}

TEST_F(Warp, WaterAndStrudelTiming) {
  ASSERT_EQ(Start(134, 40, 30, -1), 0);
  EXPECT_EQ(fx->frameCount, 50);
  Frame();
  // The first frame is mostly the old picture (blended by 1 / 50).
  EXPECT_EQ(Pixel(0, 0) & 0x800000u, 0u);
  EXPECT_EQ(RunToEnd() + 1, 50);
  EXPECT_EQ(fx->blendLevel, 255);
  ASSERT_EQ(Start(138, 40, 30, 1), 0);
  EXPECT_EQ(fx->stepSize, 2);
  EXPECT_EQ(RunToEnd(), 360);  // 359 and the finishing frame
}

}  // namespace
