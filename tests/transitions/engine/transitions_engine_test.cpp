// Transition effects on BGPics shown on a private Xvfb display: the window
// after each effect, intermediate crossfade frames, odd sizes, and the
// pacing and random-choice helpers.
#include "tests/display/core/display_fixture.h"

#include <set>

#include "graphics/bitmap.h"
#include "transitions/fx_engine.h"
#include "transitions/transition_library.h"
#include "vm/error_codes.h"

namespace {

using vltest::DisplayTest;

class Fx : public DisplayTest {
 protected:
  void SetUp() override {
    DisplayTest::SetUp();
    if (!started_) return;
    ASSERT_EQ(OpenTransitionFxLib(L), 0);
    vlFxFrameDelayUs = 0;
  }
  // Display 1 shows BGPic 1 (grey); BGPic 2 (red) waits.
  vlDisplay* Open(int w, int h, int n = 1) {
    const std::string size = std::to_string(w) + " " + std::to_string(h);
    EXPECT_EQ(Run(".call createbgpic 1 " + size + " 8421504\n.call createbgpic 2 " + size + " 16711680\n" +
                  ".table 0 { bgpic = 1 }\n.call base=1 createdisplay " + std::to_string(n) + " r0\n" +
                  ".call opendisplay " + std::to_string(n)),
              0);
    return GetDisplayByNumber(n);
  }
  int RunFx(int32_t effect, int32_t speed, int32_t parameter = -1) {
    vlFxContext fx{};
    fx.vm = L;
    fx.objectType = VL_FX_BGPIC;
    fx.id = {2, nullptr};
    fx.effect = effect;
    fx.stepSize = speed;
    fx.parameter = parameter;
    fx.bgpicX = fx.bgpicY = 99999;
    return RunTransitionFX(&fx);
  }
};

TEST(FxPacing, SizesAndCounts) {
  EXPECT_EQ(ResolveFxSize(-1, 640, 70, 30, 200), 9);
  EXPECT_EQ(ResolveFxSize(-2, 640, 70, 30, 200), 21);
  EXPECT_EQ(ResolveFxSize(-3, 640, 70, 30, 200), 3);
  EXPECT_EQ(ResolveFxSize(-1, 10, 70, 30, 200), 1);
  EXPECT_EQ(ResolveFxSize(0, 640, 70, 30, 200), 1);
  EXPECT_EQ(ResolveFxSize(-7, 640, 70, 30, 200), 1);
  EXPECT_EQ(ResolveFxSize(25, 640, 70, 30, 200), 25);
  EXPECT_EQ(StepCount(0, 5, 0), 1);
  EXPECT_EQ(StepCount(255, 120, 1), 3);
  EXPECT_EQ(StepCount(10, 100, 0), 2);
  EXPECT_EQ(ReversedEffect(38), 88);
  EXPECT_EQ(ReversedEffect(96), 46);
  EXPECT_EQ(ReversedEffect(30), 31);
  EXPECT_EQ(ReversedEffect(47), 47);
}

TEST(FxRandom, ExclusionOfBGPicOnlyEffects) {
  std::set<int32_t> seen;
  for (int i = 0; i < 5000; ++i) {
    const int32_t id = GetRandomEffect(1);
    ASSERT_GE(id, 0);
    ASSERT_LT(id, 140);
    ASSERT_NE(id, 113);
    ASSERT_FALSE(IsBGPicOnlyEffect(id)) << id;
    seen.insert(GetRandomEffect(0));
  }
  EXPECT_TRUE(seen.count(74) || seen.count(118));
  EXPECT_FALSE(seen.count(113));
}

TEST_F(Fx, EachBuiltEffectEndsOnTheNewPicture) {
  vlDisplay* d = Open(40, 30);
  ASSERT_NE(d, nullptr);
  int next = 2;
  for (int32_t id = 0; id < VL_FX_EFFECTS; ++id) {
    if (!vlFxTable[id].step) continue;
    // Alternate red and grey so each effect has something to change.
    const uint32_t want = next == 2 ? 0xFF0000u : 0x808080u;
    vlFxContext fx{};
    fx.vm = L;
    fx.objectType = VL_FX_BGPIC;
    fx.id = {next, nullptr};
    fx.effect = id;
    fx.stepSize = -1;
    fx.parameter = -1;
    fx.bgpicX = fx.bgpicY = 99999;
    ASSERT_EQ(RunTransitionFX(&fx), 0) << id;
    EXPECT_EQ(WindowPixel(d, 0, 0), want) << id;
    EXPECT_EQ(WindowPixel(d, 39, 29), want) << id;
    EXPECT_EQ(d->bgpic->idNumber, next);
    next = next == 2 ? 1 : 2;
  }
}

TEST_F(Fx, UnbuiltEffectsAreRefusedWithoutChangingTheScreen) {
  vlDisplay* d = Open(20, 10);
  ASSERT_NE(d, nullptr);
  for (int32_t id = 0; id < VL_FX_EFFECTS; ++id) {
    if (vlFxTable[id].step || id == 113) continue;
    EXPECT_EQ(RunFx(id, -1), ERR_WRONGUSAGE) << id;
  }
  EXPECT_EQ(WindowPixel(d, 5, 5), 0x808080u);
  EXPECT_EQ(d->bgpic->idNumber, 1);
  // Random choice only draws what this player can run.
  EXPECT_EQ(RunFx(VL_FX_RANDOMEFFECT, -2), 0);
  EXPECT_EQ(WindowPixel(d, 5, 5), 0xFF0000u);
  // 113 has no effect: it is a random one.
  EXPECT_EQ(RunFx(113, -2), 0);
}

TEST_F(Fx, OddSizesRunToTheEnd) {
  int n = 1;
  for (auto [w, h] : {std::pair{1, 1}, std::pair{3, 2}, std::pair{641, 479}}) {
    if (n > 1) ASSERT_EQ(Run(".call closedisplay " + std::to_string(n - 1) + "\n.call freebgpic 2"), 0);
    vlDisplay* d = Open(w, h, n++);
    ASSERT_NE(d, nullptr);
    for (int32_t id = 0; id < VL_FX_EFFECTS; ++id) {
      if (!vlFxTable[id].step) continue;
      ASSERT_EQ(RunFx(id, w > 100 ? -2 : 1, 0x00FF00), 0) << id;
      EXPECT_EQ(WindowPixel(d, w - 1, h - 1), 0xFF0000u) << id;
      ASSERT_EQ(Run(".call displaybgpic 1"), 0);
    }
  }
}

TEST_F(Fx, CrossfadeFramesMixByTheLevel) {
  vlDisplay* d = Open(8, 6);
  ASSERT_NE(d, nullptr);
  vlFxContext fx{};
  fx.vm = L;
  fx.objectType = VL_FX_BGPIC;
  fx.effect = 115;
  fx.stepSize = 121;
  fx.width = 8;
  fx.height = 6;
  fx.destWidth = 8;
  fx.destHeight = 6;
  fx.blitFlags = 4;
  fx.source = NewBitmap(8, 6, 0, nullptr);
  fx.oldPicture = NewBitmap(8, 6, 0, nullptr);
  FillBitmapRect(fx.source, 0, 0, 8, 6, 0xFFC80000u);    // new: red 200
  FillBitmapRect(fx.oldPicture, 0, 0, 8, 6, 0xFF0000C8u);  // old: blue 200
  ASSERT_EQ(vlFxTable[115].step(&fx, nullptr), 0);
  EXPECT_EQ(fx.stepSize, 120);
  fx.phase = 1;
  int32_t done = 0;
  ASSERT_EQ(vlFxTable[115].step(&fx, &done), 0);
  EXPECT_EQ(done, 0);
  // Level 120: the new picture weighs 120/255, the old one 135/255.
  const uint32_t p = WindowPixel(d, 3, 3);
  EXPECT_NEAR(static_cast<int>((p >> 16) & 0xFF), 200 * 120 / 255, 2);
  EXPECT_NEAR(static_cast<int>(p & 0xFF), 200 * 135 / 255, 2);
  ASSERT_EQ(vlFxTable[115].step(&fx, &done), 0);
  ASSERT_EQ(vlFxTable[115].step(&fx, &done), 0);
  EXPECT_EQ(done, 1);
  EXPECT_EQ(WindowPixel(d, 7, 5), 0xC80000u);
  EXPECT_EQ(fx.frame, 3);
  vlFxTable[115].cleanup(&fx, 1);
  std::free(fx.state);
  DeleteBitmap(fx.source);
  DeleteBitmap(fx.oldPicture);
}

TEST_F(Fx, RectCenterGrowsAWindowWithThePicturesProportions) {
  vlDisplay* d = Open(20, 10);
  ASSERT_NE(d, nullptr);
  vlFxContext fx{};
  fx.vm = L;
  fx.objectType = VL_FX_BGPIC;
  fx.effect = 38;
  fx.speed = fx.stepSize = 5;
  fx.width = fx.destWidth = 20;
  fx.height = fx.destHeight = 10;
  fx.blitFlags = 4;
  fx.source = NewBitmap(20, 10, 0, nullptr);
  FillBitmapRect(fx.source, 0, 0, 20, 10, 0xFFFF0000u);
  const vlFxStepFn step = vlFxTable[38].step;
  ASSERT_EQ(step(&fx, nullptr), 0);
  EXPECT_EQ(fx.stepSize, 5);
  EXPECT_EQ(fx.frameCount, 4);  // StepCount(15, 5, 0)
  fx.phase = 1;
  int32_t done = 0;
  ASSERT_EQ(step(&fx, &done), 0);
  // 5 x trunc(0.5 * 5 + 1) = 5 x 3, centred; odd remainders grow it to 6 x 4.
  EXPECT_EQ(WindowPixel(d, 7, 3), 0xFF0000u);
  EXPECT_EQ(WindowPixel(d, 12, 6), 0xFF0000u);
  EXPECT_EQ(WindowPixel(d, 6, 3), 0x808080u);
  EXPECT_EQ(WindowPixel(d, 13, 3), 0x808080u);
  EXPECT_EQ(WindowPixel(d, 7, 2), 0x808080u);
  EXPECT_EQ(WindowPixel(d, 7, 7), 0x808080u);
  while (!done && fx.frame < 50) ASSERT_EQ(step(&fx, &done), 0);
  EXPECT_EQ(fx.frame, 4);
  EXPECT_EQ(WindowPixel(d, 0, 0), 0xFF0000u);
  EXPECT_EQ(WindowPixel(d, 19, 9), 0xFF0000u);
  std::free(fx.state);
  DeleteBitmap(fx.source);
}

TEST_F(Fx, ScriptCommands) {
  vlDisplay* d = Open(30, 20);
  ASSERT_NE(d, nullptr);
  for (int i = 0; i < 200; ++i) {
    ASSERT_EQ(Run(".call getrandomfx 1 -> id"), 0);
    const auto id = static_cast<int32_t>(Num("id"));
    ASSERT_TRUE(id >= 0 && id < 140 && id != 113 && !IsBGPicOnlyEffect(id)) << id;
  }
  ASSERT_EQ(Run(".table 0 { type = 115, speed = 50 }\n.call base=1 displaytransitionfx 2 r0"), 0);
  EXPECT_EQ(WindowPixel(d, 10, 10), 0xFF0000u);
  EXPECT_EQ(Run(".table 0 { type = 116, async = 1 }\n.call base=1 displaytransitionfx 1 r0"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call displaytransitionfx 1 116 300 255"), 0);
  EXPECT_EQ(WindowPixel(d, 10, 10), 0x808080u);
  EXPECT_EQ(Run(".call displaytransitionfx 9 115"), ERR_FINDBGPIC);
}

}  // namespace
