// Stripes, dissolve, stretch and zoom, pixel zoom and the slide family:
// exact frames where the rules fix them, the dissolve's one switch per
// pixel, and the end on the whole new picture.
#include <algorithm>
#include <cstdlib>

#include "tests/transitions/families/fx_harness.h"

namespace {

using fxtest::OffscreenFx;
using Box = OffscreenFx::Box;

class Bands : public OffscreenFx {
 protected:
  bool FromNew(int x, int y) const { return (Pixel(x, y) & 0x800000u) != 0; }
  bool FromOld(int x, int y) const { return (Pixel(x, y) & 0x800000u) == 0 && Pixel(x, y) != colour_; }
  // Pixels taken from the new picture lie exactly in the box.
  bool NewPicturesIn(Box b) const {
    for (int y = 0; y < fx->height; ++y)
      for (int x = 0; x < fx->width; ++x) {
        const bool in = x >= b.x && x < b.x + b.w && y >= b.y && y < b.y + b.h;
        if (in != FromNew(x, y)) {
          ADD_FAILURE() << x << "," << y;
          return false;
        }
      }
    return true;
  }
  uint32_t colour_ = 0x00FF00u;
};

TEST_F(Bands, EveryEffectEndsOnTheNewPicture) {
  ExpectEachEndsOnTheNewPicture({0, 1, 3, 6, 7, 9, 13, 55, 56, 57, 58, 59, 60, 61, 62, 63, 64, 65, 66, 67, 68, 69,
                     99, 100, 101, 102, 103, 104, 108, 109, 110, 118, 119, 132, 133, 139}, {-1, -2, 7});
}

TEST_F(Bands, StripesGrowFromBothSides) {
  ASSERT_EQ(Start(3, 640, 32, -1), 0);  // HSTRIPES8
  EXPECT_EQ(fx->stepSize, 9);
  EXPECT_EQ(fx->frameCount, StepCount(631, 9, 0));
  Frame();
  EXPECT_TRUE(NewExactly({{0, 0, 9, 8}, {0, 16, 9, 8}, {631, 8, 9, 8}, {631, 24, 9, 8}}));
  EXPECT_EQ(RunToEnd() + 1, fx->frameCount);
  ASSERT_EQ(Start(9, 12, 40, 5), 0);  // VSTRIPES4, five rows a frame
  Frame();
  Frame();
  EXPECT_TRUE(NewExactly({{0, 0, 4, 10}, {8, 0, 4, 10}, {4, 30, 4, 10}}));
  // The parameter sets the size of HSTRIPES; 0 and below give 1.
  ASSERT_EQ(Start(0, 20, 6, 4, 0), 0);
  Frame();
  EXPECT_TRUE(NewExactly({{0, 0, 4, 1}, {0, 2, 4, 1}, {0, 4, 4, 1}, {16, 1, 4, 1}, {16, 3, 4, 1}, {16, 5, 4, 1}}));
  ASSERT_EQ(Start(7, 6, 20, 4, 3), 0);
  Frame();
  EXPECT_TRUE(NewExactly({{0, 0, 3, 4}, {3, 16, 3, 4}}));
}

TEST_F(Bands, DissolveSwitchesEachPixelOnce) {
  std::srand(11);
  ASSERT_EQ(Start(139, 64, 48, -1), 0);
  EXPECT_EQ(fx->stepSize, 4);
  EXPECT_EQ(fx->frameCount, 64);  // 63 and the finishing frame
  std::vector<int> switched(64 * 48, -1);
  int frames = 0;
  for (int32_t done = 0; !done;) {
    done = Frame();
    ++frames;
    int fresh = 0;
    for (int y = 0; y < 48; ++y)
      for (int x = 0; x < 64; ++x) {
        ASSERT_TRUE(IsNew(x, y) || IsOld(x, y));
        int& at = switched[y * 64 + x];
        if (IsNew(x, y) && at < 0) at = frames, ++fresh;
        if (at >= 0) {
          ASSERT_TRUE(IsNew(x, y)) << "pixel went back at frame " << frames;
        }
      }
    // Level 4k takes the thresholds below it: about 4 / 255 of the pixels each frame.
    if (!done) {
      EXPECT_LT(fresh, 64 * 48 / 10);
    }
  }
  EXPECT_EQ(frames, 64);
  EXPECT_TRUE(AllNew());
  // Before the finishing frame some pixels are still waiting (threshold 252..254).
  EXPECT_GT(std::count(switched.begin(), switched.end(), 64), 0);
  ASSERT_EQ(Start(139, 4, 4, 20), 0);
  EXPECT_EQ(fx->stepSize, 8);
}

TEST_F(Bands, StretchAndZoomRectangles) {
  ASSERT_EQ(Start(55, 320, 4, -1), 0);  // STRETCHLEFT
  EXPECT_EQ(fx->stepSize, 10);
  Frame();
  EXPECT_TRUE(NewPicturesIn({0, 0, 10, 4}));
  Frame();
  EXPECT_TRUE(NewPicturesIn({0, 0, 20, 4}));
  EXPECT_EQ(RunToEnd() + 2, fx->frameCount);
  ASSERT_EQ(Start(61, 200, 100, 50), 0);  // ZOOMCENTER: 50 x 25 at (75, 37)
  Frame();
  EXPECT_TRUE(NewPicturesIn({75, 37, 50, 25}));
  ASSERT_EQ(Start(65, 200, 100, 50), 0);  // ZOOMSOUTHEAST
  Frame();
  EXPECT_TRUE(NewPicturesIn({150, 75, 50, 25}));
  ASSERT_EQ(Start(56, 40, 3, 8), 0);  // STRETCHRIGHT: x = 40 - 8
  Frame();
  EXPECT_TRUE(NewPicturesIn({32, 0, 8, 3}));
  ASSERT_EQ(Start(59, 3, 40, 8), 0);  // HSTRETCHCENTER: height 8 centred
  Frame();
  EXPECT_TRUE(NewPicturesIn({0, 16, 3, 8}));
}

TEST_F(Bands, ZoomInShrinksTheOldPictureToAPoint) {
  ASSERT_EQ(Start(118, 40, 30, 1, 0x00FF00), 0);
  EXPECT_EQ(fx->frameCount, StepCount(79, 1, 0));
  for (int i = 0; i < 40; ++i) Frame();  // T = 40 = M
  int colour = 0;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) colour += Pixel(x, y) == colour_;
  EXPECT_EQ(colour, 40 * 30 - 1);
  EXPECT_TRUE(FromOld(19, 14));
  Frame();  // the new picture comes out of the point
  EXPECT_TRUE(FromNew(19, 14) || FromNew(20, 14));
  RunToEnd();
  EXPECT_TRUE(AllNew());
}

TEST_F(Bands, PixelZoomFrames) {
  ASSERT_EQ(Start(132, 50, 50, -3), 0);
  EXPECT_EQ(fx->frameCount, 25);
  Frame();
  // Blocks of 24: the first block is one averaged colour of the new picture.
  EXPECT_EQ(Pixel(0, 0), Pixel(23, 23));
  EXPECT_NE(Pixel(0, 0), Pixel(24, 0));
  EXPECT_EQ(RunToEnd() + 1, 25);
  ASSERT_EQ(Start(133, 30, 30, -1), 0);
  EXPECT_EQ(fx->frameCount, 49);
  Frame();
  // Blocks of 2 of the old picture first.
  EXPECT_TRUE(FromOld(0, 0));
  EXPECT_EQ(Pixel(0, 0), Pixel(1, 1));
  EXPECT_EQ(RunToEnd() + 1, 49);
}

TEST_F(Bands, SlideAndSplitGeometry) {
  ASSERT_EQ(Start(101, 60, 4, 10, 0x00FF00), 0);  // SLIDELEFT
  Frame();
  for (int x = 0; x < 60; ++x) {
    if (x < 10) EXPECT_EQ(Pixel(x, 2), colour_) << x;
    else EXPECT_EQ(Pixel(x, 2), fxtest::OldColor(x - 10, 2)) << x;
  }
  for (int i = 0; i < 6; ++i) Frame();  // s = 70: the new picture at x 50
  for (int x = 0; x < 60; ++x) {
    if (x < 50) EXPECT_EQ(Pixel(x, 2), colour_) << x;
    else EXPECT_EQ(Pixel(x, 2), fxtest::NewColor(x - 50, 2)) << x;
  }
  ASSERT_EQ(Start(102, 60, 4, 10, 0x00FF00), 0);  // SLIDERIGHT
  Frame();
  for (int x = 0; x < 60; ++x) {
    if (x >= 50) EXPECT_EQ(Pixel(x, 2), colour_) << x;
    else EXPECT_EQ(Pixel(x, 2), fxtest::OldColor(x + 10, 2)) << x;
  }

  ASSERT_EQ(Start(108, 640, 2, -1), 0);  // HSPLIT
  EXPECT_EQ(fx->stepSize, 5);
  EXPECT_EQ(fx->frameCount, 33);
  Frame();
  EXPECT_TRUE(NewExactly({{160, 0, 5, 2}, {480, 0, 5, 2}}));
  Frame();
  EXPECT_TRUE(NewExactly({{155, 0, 15, 2}, {475, 0, 15, 2}}));
  EXPECT_EQ(RunToEnd() + 2, 33);

  ASSERT_EQ(Start(110, 100, 40, 4), 0);  // UPNDOWN: columns of 13
  Frame();
  EXPECT_TRUE(NewExactly({{0, 0, 13, 6}, {13, 35, 13, 5}}));
}

TEST_F(Bands, StrangePushInterlacesRows) {
  ASSERT_EQ(Start(99, 40, 6, 7), 0);
  EXPECT_EQ(fx->stepSize, 8);
  Frame();
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 40; ++x) {
      uint32_t want = fxtest::OldColor(x, y);
      if ((y & 1) && x < 8) want = fxtest::NewColor(x + 32, y);  // odd rows from the left
      if (!(y & 1) && x >= 32) want = fxtest::NewColor(x - 32, y);  // even rows from the right
      ASSERT_EQ(Pixel(x, y), want) << x << "," << y;
    }
}

}  // namespace
