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

namespace {

using fxtest::OffscreenFx;

class PolygonStill : public OffscreenFx {
 protected:
  // The pictures after each frame of a run, then the stills of the same
  // frames drawn in a shuffled order on the finished effect.
  void RunAndStill(int32_t id, int w, int h, int32_t speed) {
    ASSERT_EQ(Start(id, w, h, speed), 0);
    frames_.assign(1, pixels);
    for (int32_t done = 0; !done;) {
      done = Frame();
      frames_.push_back(pixels);
      ASSERT_LT(frames_.size(), 500u);
    }
  }
  // The still of frame f; the frame number stays.
  void Still(int32_t f) {
    fx->phase = 2;
    fx->frame = f;
    int32_t done = 0;
    ASSERT_EQ(fx->step(fx, &done), 0);
    EXPECT_EQ(fx->frame, f);
    EXPECT_EQ(fx->phase, 2);
    Read();
  }
  bool NewIn(const std::vector<uint32_t>& p, int x, int y) const {
    return (p[static_cast<size_t>(y) * fx->width + x] & 0xFFFFFF) == fxtest::NewColor(x, y);
  }
  // The still of frame f holds what frame f revealed, nothing that was not
  // revealed by then, and the old picture everywhere else.
  void ExpectStillBetween(int32_t f) {
    const auto& before = frames_[f - 1];
    const auto& after = frames_[f];
    for (int y = 0; y < fx->height; ++y)
      for (int x = 0; x < fx->width; ++x) {
        if (NewIn(after, x, y) && !NewIn(before, x, y)) { ASSERT_TRUE(IsNew(x, y)) << f << ": " << x << "," << y; }
        if (!NewIn(after, x, y)) { ASSERT_TRUE(IsOld(x, y)) << f << ": " << x << "," << y; }
      }
  }
  std::vector<std::vector<uint32_t>> frames_;
};

TEST_F(PolygonStill, ClockStillShowsTheWholeSweptArea) {
  RunAndStill(97, 60, 40, 7);
  const auto count = static_cast<int32_t>(frames_.size()) - 1;
  for (int32_t f : {count / 2, 1, count, 3, count - 1}) {
    Still(f);
    ExpectStillBetween(f);
    // Within a pixel of the run's own picture: the swept wedges meet.
    int differ = 0;
    for (int y = 0; y < 40; ++y)
      for (int x = 0; x < 60; ++x) differ += IsNew(x, y) != NewIn(frames_[f], x, y);
    EXPECT_LE(differ, 2 * 60) << f;
  }
  // The run goes on from the still to the end.
  fx->phase = 1;
  Still(count / 2);
  fx->phase = 1;
  RunToEnd(500);
  EXPECT_TRUE(AllNew());
}

TEST_F(PolygonStill, StarAndSunStillsDrawTheirFrameShape) {
  for (int32_t id : {98, 114}) {
    RunAndStill(id, 50, 30, 6);
    const auto count = static_cast<int32_t>(frames_.size()) - 1;
    for (int32_t f : {2, count / 2, 1, count}) {
      Still(f);
      ExpectStillBetween(f);
    }
    // A small still leaves the corners old.
    Still(1);
    EXPECT_TRUE(IsOld(0, 0)) << id;
    EXPECT_TRUE(IsOld(49, 29)) << id;
    EXPECT_TRUE(IsNew(25, 15)) << id;
    Still(count);
    EXPECT_TRUE(AllNew()) << id;
  }
}

TEST_F(PolygonStill, RollStillIsTheFrameItself) {
  for (int32_t id : {84, 85, 86, 87}) {
    RunAndStill(id, 48, 44, 20);  // 4 pixels a frame
    const auto count = static_cast<int32_t>(frames_.size()) - 1;
    ASSERT_EQ(count, (id == 85 || id == 87) ? 12 : 11) << id;  // ceil(E / 4) - 1 and the finishing frame
    for (int32_t f : {count / 2, 1, 5, count - 1, count, 2}) {
      Still(f);
      ASSERT_TRUE(pixels == frames_[f]) << id << " still " << f;
    }
    // Going on from a still gives the run's next frames.
    Still(6);
    fx->phase = 1;
    fx->frame = 6;
    Frame();
    EXPECT_TRUE(pixels == frames_[7]) << id;
  }
}

}  // namespace
