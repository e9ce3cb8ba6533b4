// Transition effects on BGPics shown on a private Xvfb display: the window
// after each effect, intermediate crossfade frames, odd sizes, and the
// pacing and random-choice helpers.
#include "tests/transitions/engine/fx_display_test.h"

#include <functional>
#include <set>
#include <vector>

#include "display/bgpic.h"
#include "display/display_events.h"
#include "display/layers/async_draw.h"
#include "display/graphics_library/graphics_library.h"
#include "display/layers/layers.h"
#include "display/layers/safe_blt.h"
#include "graphics/bitmap.h"
#include "graphics/fast_paths.h"
#include "objects/brushes/brush.h"
#include "objects/sprites/sprite.h"
#include "platform/event_pump.h"
#include "player/startup.h"
#include "transitions/fx_draw.h"
#include "transitions/fx_engine.h"
#include "transitions/transition_library.h"
#include "vm/error_codes.h"

namespace {

// The window at one point, read each time a synchronous effect pumps
// events between its frames.
std::function<void()> gBetweenFrames;
vlInputBackend gPlainInput;
int SampleBetweenFrames(vlVMState* state, int* error) {
  if (gBetweenFrames) gBetweenFrames();
  return gPlainInput.handleInput ? gPlainInput.handleInput(state, error) : 0;
}

class Fx : public vltest::FxDisplayTest {
 protected:
  // A layer showing a solid box, drawn; source names the object it shows.
  vlLayer* AddBox(int x, int y, int w, int h, uint32_t color, vlObjectId source = {}) {
    vlBitmap* b = NewBitmap(w, h, 0, nullptr);
    FillBitmapRect(b, 0, 0, w, h, 0xFF000000u | color);
    vlLayerGeometry* g = NewLayerGeometry();
    g->x = x, g->y = y, g->width = w, g->height = h;
    vlLayer* layer = nullptr;
    EXPECT_EQ(AddLayer(L, VL_LAYER_BOX, &source, x, y, w, h, nullptr, nullptr, b, nullptr, nullptr, g, -1, 0, &layer),
              0);
    RefreshArea(L, x, y, w, h);
    return layer;
  }
  vlBrush* Brush(int n) {
    vlBrush* b = nullptr;
    EXPECT_EQ(GetBrushByID(L, {n, nullptr}, &b, 0), 0);
    return b;
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

TEST(FxTable, EveryEffectIdHasItsFamily) {
  for (int32_t id = 0; id < VL_FX_EFFECTS; ++id)
    if (id != 113) { EXPECT_NE(vlFxTable[id].step, nullptr) << id; }
  EXPECT_EQ(vlFxTable[113].step, nullptr);
  // So the random pick reaches every effect, the scrolls included.
  std::set<int32_t> seen;
  for (int i = 0; i < 20000; ++i) seen.insert(GetRandomEffect(1));
  for (int32_t id = 47; id <= 54; ++id) EXPECT_TRUE(seen.count(id)) << id;
}

TEST_F(Fx, OddSizesRunToTheEnd) {
  int n = 1;
  for (auto [w, h] : {std::pair{1, 1}, std::pair{3, 2}, std::pair{641, 479}}) {
    if (n > 1) { ASSERT_EQ(Run(".call closedisplay " + std::to_string(n - 1) + "\n.call freebgpic 2"), 0); }
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

// Each family takes the frames its pacing gives, the last one included, and
// says so before its first frame: the step and the frame count of pictures
// and speeds its rules name.
TEST_F(Fx, FamiliesTakeTheFramesTheirPacingGives) {
  ASSERT_NE(Open(64, 48), nullptr);
  struct Row {
    int32_t id, w, h, speed, step, frames;
  };
  const Row rows[] = {
      {0, 640, 40, -1, 9, 72},      {14, 50, 100, -1, 1, 8},      {28, 64, 48, -1, 1, 13},
      {28, 64, 48, -2, 2, 9},       {38, 400, 300, -1, 5, 80},    {38, 400, 300, 200, 1, 400},
      {55, 320, 40, -1, 10, 32},    {70, 40, 1000, -1, 20, 50},   {70, 40, 3000, -1, 30, 100},
      {82, 100, 60, -1, 5, 273},    {82, 100, 60, 3, 5, 273},     {97, 100, 100, -1, 10, 40},
      {98, 300, 200, -1, 25, 48},   {101, 640, 40, 30, 30, 43},   {108, 640, 480, -1, 5, 33},
      {115, 50, 40, 121, 120, 3},   {116, 50, 40, 0, 10, 52},     {116, 50, 40, 300, 255, 3},
      {118, 400, 300, 10, 10, 80},  {128, 640, 480, -1, 8, 60},   {132, 50, 40, 7, 7, 25},
      {133, 50, 40, -1, -1, 49},    {134, 50, 40, -1, 25, 50},    {138, 50, 40, 1, 2, 360},
      {139, 50, 40, -1, 4, 64},     {139, 50, 40, 20, 8, 32},
  };
  for (const Row& r : rows) {
    vlFxContext fx{};
    fx.vm = L;
    fx.objectType = VL_FX_BGPIC;
    fx.effect = r.id;
    fx.stepSize = fx.speed = r.speed;
    fx.parameter = -1;
    fx.width = r.w, fx.height = r.h;
    fx.destWidth = 64, fx.destHeight = 48;
    fx.blitFlags = 4;
    fx.source = NewBitmap(r.w, r.h, 0, nullptr);
    fx.oldPicture = NewBitmap(r.w, r.h, 0, nullptr);
    fx.step = vlFxTable[r.id].step;
    ASSERT_EQ(fx.step(&fx, nullptr), 0) << r.id;
    EXPECT_EQ(fx.stepSize, r.step) << r.id;
    EXPECT_EQ(fx.frameCount, r.frames) << r.id << " " << r.w << "x" << r.h << " speed " << r.speed;
    fx.phase = 1;
    int32_t done = 0, frames = 0;
    while (!done && frames < 10000 && fx.step(&fx, &done) == 0) ++frames;
    EXPECT_EQ(frames, r.frames) << r.id << " " << r.w << "x" << r.h << " speed " << r.speed;
    if (vlFxTable[r.id].cleanup) vlFxTable[r.id].cleanup(&fx, 1);
    std::free(fx.state);
    DeleteBitmap(fx.source);
    DeleteBitmap(fx.oldPicture);
  }
}

// Every frame, in the back buffer and on the window, is the old picture
// mixed toward the new one by the level, channel by channel, wherever the
// effect rectangle (placed to reach past the display) lies on it; with the
// fast paths and without them.
TEST_F(Fx, CrossfadeFramesAreExactMixesOfBothPictures) {
  vlDisplay* d = Open(41, 23);
  ASSERT_NE(d, nullptr);
  const int w = 37, h = 19, x0 = 7, y0 = 6;  // 34 x 17 of it on the display
  auto noise = [](int w, int h, uint32_t seed) {
    vlBitmap* b = NewBitmap(w, h, 0, nullptr);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        seed = seed * 1103515245u + 12345u;
        WriteBitmapPixel(b, x, y, 0xFF000000u | (seed >> 8 & 0xFFFFFF), 0);
      }
    return b;
  };
  vlBitmap* fresh = noise(w, h, 1);
  vlBitmap* old = noise(w, h, 2);
  auto expected = [&](int x, int y, int level) {
    const uint32_t n = ReadBitmapPixel(fresh, x, y, 0) & 0xFFFFFF, o = ReadBitmapPixel(old, x, y, 0) & 0xFFFFFF;
    if (level == 255) return n;
    uint32_t out = 0;
    for (int sh = 0; sh < 24; sh += 8) {
      const int nc = n >> sh & 255, oc = o >> sh & 255;
      out |= static_cast<uint32_t>(oc + (((nc - oc) * level) >> 8)) << sh;
    }
    return out;
  };
  for (uint32_t features : {~0u, 0u}) {
    SetFastPathFeatures(features);
    vlFxContext fx{};
    fx.vm = L;
    fx.objectType = VL_FX_BGPIC;
    fx.effect = 115;
    fx.stepSize = 61;
    fx.x = x0, fx.y = y0;
    fx.width = w, fx.height = h;
    fx.destWidth = 41, fx.destHeight = 23;
    fx.blitFlags = 4;
    fx.source = fresh;
    fx.oldPicture = old;
    ASSERT_EQ(vlFxTable[115].step(&fx, nullptr), 0);
    fx.phase = 1;
    int32_t done = 0;
    for (int level = 61; !done; level = std::min(level + 61, 255)) {
      ASSERT_EQ(vlFxTable[115].step(&fx, &done), 0);
      EXPECT_EQ(done, level == 255 ? 1 : 0);
      for (int y = 0; y < 17; ++y)
        for (int x = 0; x < 34; ++x)
          ASSERT_EQ(ReadBitmapPixel(d->back, x0 + x, y0 + y, 0) & 0xFFFFFF, expected(x, y, level))
              << "features " << features << " level " << level << " at " << x << "," << y;
      EXPECT_EQ(WindowPixel(d, x0 + 33, y0 + 16), expected(33, 16, level)) << level;
      EXPECT_EQ(WindowPixel(d, x0 - 1, y0), 0x808080u);  // left of the rectangle: untouched
    }
    EXPECT_EQ(fx.frame, 5);
    vlFxTable[115].cleanup(&fx, 1);
    std::free(fx.state);
  }
  SetFastPathFeatures(~0u);
  DeleteBitmap(fresh);
  DeleteBitmap(old);
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

TEST_F(Fx, BrushEffectsOnADisplayWithoutLayers) {
  vlDisplay* d = Open(40, 30);
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(Run(".call createbrush 1 10 6 255"), 0);
  ASSERT_EQ(Run(".call displaybrushfx 1 5 7 30 -1"), 0);  // REVEALLEFT
  EXPECT_EQ(WindowPixel(d, 5, 7), 0x0000FFu);
  EXPECT_EQ(WindowPixel(d, 14, 12), 0x0000FFu);
  EXPECT_EQ(WindowPixel(d, 15, 7), 0x808080u);
  EXPECT_EQ(WindowPixel(d, 4, 12), 0x808080u);
  EXPECT_EQ(WindowPixel(d, 5, 13), 0x808080u);
  EXPECT_EQ(Brush(1)->locked, 0u);
  // The table form: HSTRIPES at dx 30 (y stays 20), partly off the screen.
  ASSERT_EQ(Run(".call createbrush 2 10 6 65280"), 0);
  ASSERT_EQ(Run(".table 0 { type = 0, dx = 30, speed = 3 }\n.call base=1 displaybrushfx 2 10 20 r0"), 0);
  EXPECT_EQ(WindowPixel(d, 30, 20), 0x00FF00u);
  EXPECT_EQ(WindowPixel(d, 39, 25), 0x00FF00u);
  EXPECT_EQ(WindowPixel(d, 29, 20), 0x808080u);
  EXPECT_EQ(WindowPixel(d, 10, 20), 0x808080u);
  // BGPic-only effects become HSTRIPES; a centred brush.
  ASSERT_EQ(Run(".call displaybrushfx 1 -100000 -100000 118 -2"), 0);
  EXPECT_EQ(WindowPixel(d, 15, 12), 0x0000FFu);
  EXPECT_EQ(WindowPixel(d, 24, 17), 0x0000FFu);
  EXPECT_EQ(WindowPixel(d, 25, 12), 0x808080u);
  EXPECT_EQ(WindowPixel(d, 15, 18), 0x808080u);
  // Double buffering ends first: the effect draws on the window.
  ASSERT_EQ(Run(".call begindoublebuffer\n.call displaybrushfx 2 0 0 38 -2"), 0);
  EXPECT_EQ(d->doubleBuffer, 0u);
  EXPECT_EQ(WindowPixel(d, 0, 0), 0x00FF00u);
  EXPECT_EQ(WindowPixel(d, 9, 5), 0x00FF00u);
}

// A frame's fill on a display without layers goes where the frame's blits
// go: under a sprite (drawn again over it, on the window too), into the
// front copy (the picture under the sprites) while sprites are shown or
// when what the effect draws stays, elsewhere not; cut to the BGPic. A
// transition to the shown BGPic leaves the front copy without the sprite.
TEST_F(Fx, FillsGoUnderTheSpritesAndWhereTheFramesGo) {
  vlDisplay* d = Open(64, 48);
  ASSERT_NE(d, nullptr);
  ASSERT_TRUE(d->front && d->back && d->front != d->back);
  ASSERT_EQ(OpenSpriteLib(L), 0);
  vlFxContext fx{};
  fx.vm = L;
  fx.destWidth = 64, fx.destHeight = 48;
  fx.blitFlags = VL_SAFEBLT_FIRSTBUFFER;
  auto at = [](vlBitmap* b, int x, int y) { return ReadBitmapPixel(b, x, y, 0) & 0xFFFFFFu; };
  // A BGPic's frames with no sprite shown: the front copy keeps the BGPic.
  FillFXRect(&fx, 0, 0, 20, 20, 0xFF0000FFu, 0);
  EXPECT_EQ(WindowPixel(d, 5, 5), 0x0000FFu);
  EXPECT_EQ(at(d->back, 5, 5), 0x0000FFu);
  EXPECT_EQ(at(d->front, 5, 5), 0x808080u);
  // A drawing that stays: the front copy takes it too.
  fx.blitFlags |= VL_SAFEBLT_KEEP;
  FillFXRect(&fx, 20, 0, 10, 10, 0xFF00FF00u, 0);
  EXPECT_EQ(WindowPixel(d, 25, 5), 0x00FF00u);
  EXPECT_EQ(at(d->front, 25, 5), 0x00FF00u);
  // Under a red sprite: the fill stays under it, the front copy has it
  // whole, also where the sprite is.
  fx.blitFlags = VL_SAFEBLT_FIRSTBUFFER;
  ASSERT_EQ(Run(".call createbrush 5 8 8 16711680\n.call createsprite 1 3 5\n.call displaysprite 1 40 20"), 0);
  FillFXRect(&fx, 36, 16, 20, 20, 0xFF0000FFu, 0);
  for (vlBitmap* b : {d->back, d->front}) EXPECT_EQ(at(b, 37, 17), 0x0000FFu);
  EXPECT_EQ(WindowPixel(d, 37, 17), 0x0000FFu);
  EXPECT_EQ(WindowPixel(d, 44, 24), 0xFF0000u);
  EXPECT_EQ(at(d->back, 44, 24), 0xFF0000u);
  EXPECT_EQ(at(d->front, 44, 24), 0x0000FFu);
  // Moved away, the sprite leaves the fill behind.
  ASSERT_EQ(Run(".call displaysprite 1 2 30"), 0);
  EXPECT_EQ(WindowPixel(d, 44, 24), 0x0000FFu);
  // Past every edge: the BGPic's rectangle is filled, nothing beyond.
  FillFXRect(&fx, -1000, -1000, 1 << 30, 1 << 30, 0xFFFFFF00u, 0);
  EXPECT_EQ(WindowPixel(d, 63, 47), 0xFFFF00u);
  EXPECT_EQ(WindowPixel(d, 4, 32), 0xFF0000u);
  EXPECT_EQ(at(d->front, 4, 32), 0xFFFF00u);
  // The shown BGPic again through a slide: the new picture holds what was
  // drawn and the sprite; the front copy ends with the drawing alone.
  ASSERT_EQ(Run(".call displaytransitionfx 1 101 30"), 0);
  EXPECT_EQ(WindowPixel(d, 4, 32), 0xFF0000u);
  EXPECT_EQ(at(d->front, 4, 32), 0xFFFF00u);
  ASSERT_EQ(Run(".call displaysprite 1 40 20"), 0);
  EXPECT_EQ(WindowPixel(d, 4, 32), 0xFFFF00u);
  EXPECT_EQ(WindowPixel(d, 44, 24), 0xFF0000u);
  ASSERT_EQ(Run(".call removesprites"), 0);
  FreeSpriteLibrary(L);
}

TEST_F(Fx, MaskedBrushesAreFlattenedOverTheScreen) {
  vlDisplay* d = Open(20, 20);
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(Run(".table 0 { mask = 1 }\n.call base=1 createbrush 1 8 8 255 r0"), 0);
  vlBrush* b = Brush(1);
  ASSERT_NE(b->mask, nullptr);
  for (int y = 0; y < 8; ++y) WriteBitmapPixel(b->mask, 3, y, 1, 1);  // a clear column
  for (int id : {38, 139, 97, 107, 84}) {
    ASSERT_EQ(Run(".call displaybgpic 1"), 0);
    ASSERT_EQ(Run(".call displaybrushfx 1 2 2 " + std::to_string(id) + " -2"), 0) << id;
    EXPECT_EQ(WindowPixel(d, 2, 2), 0x0000FFu) << id;
    EXPECT_EQ(WindowPixel(d, 5, 5), 0x808080u) << id;  // the screen shows through the hole
    EXPECT_EQ(WindowPixel(d, 9, 9), 0x0000FFu) << id;
    EXPECT_EQ(WindowPixel(d, 10, 9), 0x808080u) << id;
  }
}

TEST_F(Fx, AsynchronousBrushEffects) {
  vlDisplay* d = Open(40, 30);
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(Run(".call createbrush 1 20 10 255"), 0);
  ASSERT_EQ(Run(".table 0 { type = 30, speed = 5, async = 1 }\n.call base=1 displaybrushfx 1 0 0 r0 -> h"), 0);
  EXPECT_EQ(WindowPixel(d, 0, 0), 0x808080u);  // nothing drawn yet
  EXPECT_EQ(Brush(1)->locked, 1u);
  ASSERT_EQ(Run(".call asyncdrawframe $h -> r"), 0);
  EXPECT_EQ(Num("r"), 0);
  EXPECT_EQ(WindowPixel(d, 5, 5), 0x0000FFu);  // columns 0 .. 5
  EXPECT_EQ(WindowPixel(d, 6, 5), 0x808080u);
  int frames = 1;
  do {
    ASSERT_EQ(Run(".call asyncdrawframe $h -> r"), 0);
    ++frames;
  } while (Num("r") == 0 && frames < 100);
  EXPECT_EQ(WindowPixel(d, 19, 9), 0x0000FFu);
  EXPECT_EQ(FirstAsyncDraw(), nullptr);
  EXPECT_EQ(Brush(1)->locked, 0u);
  // Finished half-way: the whole brush at once.
  ASSERT_EQ(Run(".table 0 { type = 30, speed = 2, async = 1 }\n.call base=1 displaybrushfx 1 20 0 r0 -> h"), 0);
  ASSERT_EQ(Run(".call asyncdrawframe $h -> r"), 0);
  EXPECT_EQ(WindowPixel(d, 39, 9), 0x808080u);
  ASSERT_EQ(Run(".call finishasyncdraw $h"), 0);
  EXPECT_EQ(WindowPixel(d, 39, 9), 0x0000FFu);
  EXPECT_EQ(Brush(1)->locked, 0u);
  // Without layers a frame cannot be sought, a roll's neither: the effect
  // stays where it was and steps on to its end.
  ASSERT_EQ(Run(".table 0 { type = 85, speed = 12, async = 1 }\n.call base=1 displaybrushfx 1 20 20 r0 -> h"), 0);
  ASSERT_EQ(Run(".call asyncdrawframe $h -> r"), 0);
  EXPECT_EQ(Run(".call asyncdrawframe $h 3 -> r"), ERR_NOLAYERS);
  ASSERT_EQ(Run(".call getattribute #ASYNCDRAW $h #ATTRCURFRAME -> f"), 0);
  EXPECT_EQ(Num("f"), 1);
  for (frames = 1; FirstAsyncDraw() && frames < 100; ++frames) ASSERT_EQ(Run(".call asyncdrawframe $h -> r"), 0);
  EXPECT_EQ(WindowPixel(d, 39, 29), 0x0000FFu);
  // Cancelled half-way: the brush is released, the handle gone.
  ASSERT_EQ(Run(".table 0 { type = 31, speed = 2, async = 1 }\n.call base=1 displaybrushfx 1 0 12 r0 -> h"), 0);
  ASSERT_EQ(Run(".call asyncdrawframe $h -> r"), 0);
  ASSERT_EQ(Run(".call cancelasyncdraw $h"), 0);
  EXPECT_EQ(Brush(1)->locked, 0u);
  EXPECT_EQ(FirstAsyncDraw(), nullptr);
  EXPECT_EQ(Run(".call asyncdrawframe $h -> r"), ERR_FINDARRAY);
  // Shut-down frees the brushes before the effects still running on them.
  ASSERT_EQ(Run(".table 0 { type = 139, async = 1 }\n.call base=1 displaybrushfx 1 0 0 r0 -> h"), 0);
  ASSERT_EQ(Run(".call asyncdrawframe $h -> r"), 0);
  vlShuttingDown = 1;
  FreeBrushLib(L);
  FreeAsyncDraws(L);
  vlShuttingDown = 0;
  EXPECT_EQ(FirstAsyncDraw(), nullptr);
}

TEST_F(Fx, ClearScreenAndArgumentErrors) {
  vlDisplay* d = Open(30, 20);
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(Run(".call clearscreen 28 255 -2"), 0);  // BARS to blue
  EXPECT_EQ(WindowPixel(d, 0, 0), 0x0000FFu);
  EXPECT_EQ(WindowPixel(d, 29, 19), 0x0000FFu);
  ASSERT_EQ(Run(".table 0 { speed = 4 }\n.call base=1 clearscreen 116 65280 r0"), 0);
  EXPECT_EQ(WindowPixel(d, 15, 10), 0x00FF00u);
  EXPECT_EQ(Run(".table 0 { async = 1 }\n.call base=1 clearscreen 0 0 r0"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call displaybrushfx 9 0 0"), ERR_FINDBRUSH);
  EXPECT_EQ(Run(".call displaybrushfx 9 0"), ERR_MISSINGPARAMTR);
  EXPECT_EQ(Run(".call displaybrushfx 9 0 0 1 2 3 4"), ERR_TOOMANYARGS);
  EXPECT_EQ(Run(".call getrandomfx"), ERR_MISSINGPARAMTR);
  EXPECT_EQ(Run(".call clearscreen"), ERR_MISSINGPARAMTR);
}

TEST_F(Fx, BrushesAndBGPicPartsBecomeLayersWhereLayersAreOn) {
  vlDisplay* d = Open(40, 30);
  ASSERT_NE(d, nullptr);
  // Without layers a part is cut out and drawn at its place or at dx, dy.
  ASSERT_EQ(Run(".call displaybgpicpartfx 2 0 0 10 5 30 -1"), 0);
  EXPECT_EQ(WindowPixel(d, 0, 0), 0xFF0000u);
  EXPECT_EQ(WindowPixel(d, 9, 4), 0xFF0000u);
  EXPECT_EQ(WindowPixel(d, 10, 0), 0x808080u);
  ASSERT_EQ(Run(".call displaybgpicpartfx 2 0 0 10 5 35 -1 -1 20 10"), 0);
  EXPECT_EQ(WindowPixel(d, 20, 10), 0xFF0000u);
  EXPECT_EQ(WindowPixel(d, 29, 14), 0xFF0000u);
  EXPECT_EQ(WindowPixel(d, 19, 10), 0x808080u);
  EXPECT_EQ(Run(".call displaybgpicpartfx 2 0 0 10 5 35 -1 -1 20 10 1"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call displaybgpicpartfx 2 50 0 10 5"), ERR_COORDSRANGE);

  ASSERT_EQ(Run(".call enablelayers\n.call createbrush 1 10 6 255"), 0);
  ASSERT_EQ(Run(".call displaybrushfx 1 5 20 38 -2"), 0);
  ASSERT_EQ(CountLayers(d->bgpic), 1);
  vlLayer* l = GetLayerByPos(d->bgpic, 1);
  EXPECT_EQ(l->hidden, 0u);
  EXPECT_EQ(l->type, static_cast<uint32_t>(VL_LAYER_BRUSH));
  EXPECT_EQ(l->source.number, 1);
  EXPECT_EQ(WindowPixel(d, 5, 20), 0x0000FFu);
  EXPECT_EQ(WindowPixel(d, 14, 25), 0x0000FFu);
  EXPECT_EQ(Brush(1)->locked, 0u);
  ASSERT_EQ(Run(".table 0 { type = 30, layers = 1 }\n.call base=1 displaybgpicpartfx 2 0 0 4 4 r0"), 0);
  ASSERT_EQ(CountLayers(d->bgpic), 2);
  EXPECT_EQ(WindowPixel(d, 3, 3), 0xFF0000u);
  // The layer the brush effect made is undone like any display of the brush.
  ASSERT_EQ(Run(".call undofx 3 1 139 -2"), 0);
  EXPECT_EQ(CountLayers(d->bgpic), 1);
  EXPECT_EQ(WindowPixel(d, 5, 20), 0x808080u);
}

TEST_F(Fx, LayerEffects) {
  vlDisplay* d = Open(40, 30);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(Run(".call showlayerfx 1 30"), ERR_NOLAYERS);
  ASSERT_EQ(Run(".call enablelayers"), 0);
  AddBox(5, 7, 10, 6, 0x0000FF);
  ASSERT_EQ(CountLayers(d->bgpic), 1);
  EXPECT_EQ(WindowPixel(d, 5, 7), 0x0000FFu);
  ASSERT_EQ(Run(".call hidelayerfx 1 30 -1"), 0);
  EXPECT_EQ(WindowPixel(d, 5, 7), 0x808080u);
  EXPECT_EQ(WindowPixel(d, 14, 12), 0x808080u);
  EXPECT_EQ(GetLayerByPos(d->bgpic, 1)->hidden, 1u);
  ASSERT_EQ(Run(".call showlayerfx 1 139 -2"), 0);
  EXPECT_EQ(WindowPixel(d, 5, 7), 0x0000FFu);
  EXPECT_EQ(WindowPixel(d, 14, 12), 0x0000FFu);
  EXPECT_EQ(WindowPixel(d, 15, 12), 0x808080u);
  EXPECT_EQ(GetLayerByPos(d->bgpic, 1)->hidden, 0u);
  // A layer covered by another one changes under the other.
  AddBox(8, 8, 4, 4, 0x00FF00);
  ASSERT_EQ(Run(".call hidelayerfx 1 38"), 0);
  EXPECT_EQ(WindowPixel(d, 5, 7), 0x808080u);
  EXPECT_EQ(WindowPixel(d, 9, 9), 0x00FF00u);
  ASSERT_EQ(Run(".call showlayerfx 1 38"), 0);
  EXPECT_EQ(WindowPixel(d, 5, 7), 0x0000FFu);
  EXPECT_EQ(WindowPixel(d, 9, 9), 0x00FF00u);
  // The top layer, hidden by a crossfade, fades out on the window: its
  // frames mix it toward the layer under it.
  std::vector<uint32_t> samples;
  gBetweenFrames = [&] { samples.push_back(WindowPixel(d, 9, 9)); };
  gPlainInput = gInputBackend;
  gInputBackend.handleInput = SampleBetweenFrames;
  ASSERT_EQ(Run(".call hidelayerfx 2 115 100"), 0);
  gInputBackend = gPlainInput;
  gBetweenFrames = nullptr;
  ASSERT_EQ(samples.size(), 3u);
  EXPECT_EQ(samples[0], 0x00FF00u);
  EXPECT_EQ(samples[1], 0x009B63u);  // old + ((new - old) * 100 >> 8)
  EXPECT_EQ(samples[2], 0x0037C7u);
  EXPECT_EQ(WindowPixel(d, 9, 9), 0x0000FFu);
  ASSERT_EQ(Run(".call showlayerfx 2 30"), 0);
  ASSERT_EQ(Run(".call removelayerfx 2 28 -2"), 0);
  EXPECT_EQ(CountLayers(d->bgpic), 1);
  EXPECT_EQ(WindowPixel(d, 9, 9), 0x0000FFu);

  EXPECT_EQ(Run(".call showlayerfx 5 30"), ERR_LAYERRANGE);
  EXPECT_EQ(Run(".call showlayerfx \"nothing\" 30"), ERR_FINDLAYER);
  EXPECT_EQ(Run(".table 0 { type = 30, bgpicemu = 1 }\n.call base=1 showlayerfx 1 r0"), ERR_MISSINGPARAMTR);
  EXPECT_EQ(Run(".call hidelayerfx 1 2 3 4 5"), ERR_TOOMANYARGS);
}

// A BGPic that changes its size while a synchronous brush effect runs
// starts the effect again from its first frame, with a new layer in place
// of the one it made; a BGPic effect just stops. A quit request ends an
// effect where it is.
TEST_F(Fx, AResizedBGPicStartsABrushEffectAgainAndAQuitEndsIt) {
  vlDisplay* d = Open(40, 30);
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(Run(".call enablelayers\n.call createbrush 1 10 6 255"), 0);
  int pumps = 0;
  gBetweenFrames = [&] {
    if (++pumps == 3) ResizeDisplayToWindow(L, d, 50, 40);
  };
  gPlainInput = gInputBackend;
  gInputBackend.handleInput = SampleBetweenFrames;
  // REVEALLEFT at 2 a frame over 10 columns: StepCount (7, 3, 0) = 4 frames.
  ASSERT_EQ(Run(".call displaybrushfx 1 5 7 30 2"), 0);
  gInputBackend = gPlainInput;
  gBetweenFrames = nullptr;
  ASSERT_EQ(d->bgpic->dispWidth, 50);
  EXPECT_EQ(pumps, 3 + 4);
  EXPECT_EQ(CountLayers(d->bgpic), 1);
  EXPECT_EQ(WindowPixel(d, 5, 7), 0x0000FFu);
  EXPECT_EQ(WindowPixel(d, 14, 12), 0x0000FFu);
  EXPECT_EQ(Brush(1)->locked, 0u);
  pumps = 0;
  gInputBackend.handleInput = SampleBetweenFrames;
  gBetweenFrames = [&] {
    if (++pumps == 3) ResizeDisplayToWindow(L, d, 60, 40);
  };
  ASSERT_EQ(RunFx(30, 2), 0);
  gInputBackend = gPlainInput;
  gBetweenFrames = nullptr;
  EXPECT_EQ(pumps, 3);
  // A quit request ends the loop where it is, without an error: two of the
  // four frames are drawn.
  static int quitAt;
  quitAt = 3;
  gInputBackend.handleInput = [](vlVMState*, int*) { return --quitAt == 0 ? 1 : 0; };
  ASSERT_EQ(Run(".call freelayers\n.call displaybrushfx 1 0 0 30 2"), 0);
  gInputBackend = gPlainInput;
  EXPECT_EQ(quitAt, 0);
  EXPECT_EQ(WindowPixel(d, 5, 5), 0x0000FFu);
  EXPECT_NE(WindowPixel(d, 6, 5), 0x0000FFu);
}

TEST_F(Fx, UndoFXRemovesTheNthMostRecentDisplay) {
  vlDisplay* d = Open(40, 30);
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(Run(".call enablelayers"), 0);
  AddBox(0, 0, 4, 4, 0x0000FF, {1, nullptr});
  AddBox(10, 0, 4, 4, 0x00FF00, {2, nullptr});
  AddBox(20, 0, 4, 4, 0x0000FF, {1, nullptr});
  ASSERT_EQ(CountLayers(d->bgpic), 3);
  const auto type = static_cast<int>(GetLayerByPos(d->bgpic, 1)->type);
  const std::string undo = ".call undofx " + std::to_string(type) + " 1 ";
  EXPECT_EQ(Run(undo + "30 -1 -1 0"), ERR_FINDARRAY);
  EXPECT_EQ(Run(undo + "30 -1 -1 3"), ERR_FINDARRAY);
  ASSERT_EQ(Run(undo + "30 -2 -1 2"), 0);  // the first display of brush 1
  ASSERT_EQ(CountLayers(d->bgpic), 2);
  EXPECT_EQ(WindowPixel(d, 1, 1), 0x808080u);
  EXPECT_EQ(WindowPixel(d, 21, 1), 0x0000FFu);
  EXPECT_EQ(WindowPixel(d, 11, 1), 0x00FF00u);
  ASSERT_EQ(Run(".table 0 { type = 35 }\n.call base=1 undofx " + std::to_string(type) + " 1 r0"), 0);
  EXPECT_EQ(CountLayers(d->bgpic), 1);
  EXPECT_EQ(WindowPixel(d, 21, 1), 0x808080u);
  ASSERT_EQ(Run(".call disablelayers"), 0);
  EXPECT_EQ(Run(undo + "30"), ERR_NOLAYERS);
}

TEST_F(Fx, CoveredLayersChangeUnderTheLayersAbove) {
  vlDisplay* d = Open(40, 30);
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(Run(".call enablelayers"), 0);
  AddBox(5, 7, 10, 6, 0x0000FF);
  AddBox(8, 8, 4, 4, 0x00FF00);
  // REVEALLEFT hides as REVEALRIGHT: three columns a frame from the right.
  ASSERT_EQ(Run(".table 0 { type = 30, speed = 2, async = 1 }\n.call base=1 hidelayerfx 1 r0 -> h"), 0);
  ASSERT_EQ(Run(".call asyncdrawframe $h -> r"), 0);
  EXPECT_EQ(WindowPixel(d, 14, 7), 0x808080u);
  EXPECT_EQ(WindowPixel(d, 12, 7), 0x808080u);
  EXPECT_EQ(WindowPixel(d, 11, 7), 0x0000FFu);
  EXPECT_EQ(WindowPixel(d, 11, 9), 0x00FF00u);  // the box above stays
  EXPECT_EQ(WindowPixel(d, 5, 12), 0x0000FFu);
  EXPECT_EQ(Run(".call hidelayerfx 1"), 1371);  // already driven
  ASSERT_EQ(Run(".call finishasyncdraw $h"), 0);
  EXPECT_EQ(WindowPixel(d, 5, 12), 0x808080u);
  EXPECT_EQ(WindowPixel(d, 9, 9), 0x00FF00u);
  EXPECT_EQ(GetLayerByPos(d->bgpic, 1)->hidden, 1u);
  // Effects with their own transparency hide onto the screen as well.
  for (int id : {55, 61, 70, 85, 99, 116, 132, 134, 138, 139}) {
    ASSERT_EQ(Run(".call showlayerfx 1 " + std::to_string(id) + " -2"), 0) << id;
    EXPECT_EQ(WindowPixel(d, 5, 12), 0x0000FFu) << id;
    EXPECT_EQ(WindowPixel(d, 14, 7), 0x0000FFu) << id;
    ASSERT_EQ(Run(".call hidelayerfx 1 " + std::to_string(id) + " -2"), 0) << id;
    EXPECT_EQ(WindowPixel(d, 5, 12), 0x808080u) << id;
    EXPECT_EQ(WindowPixel(d, 14, 7), 0x808080u) << id;
    EXPECT_EQ(WindowPixel(d, 9, 9), 0x00FF00u) << id;
  }
  ASSERT_EQ(Run(".call showlayerfx 1 116 50"), 0);  // FADE, through black here
  EXPECT_EQ(WindowPixel(d, 5, 12), 0x0000FFu);
  EXPECT_EQ(WindowPixel(d, 9, 9), 0x00FF00u);
}

}  // namespace

namespace {

TEST_F(Fx, TheSelectedBrushIsAcceptedAsTarget) {
  vlDisplay* d = Open(30, 20);
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(Run(".call createbrush 1 6 4 255\n.call createbrush 2 6 4 65280"), 0);
  // The brush (then its mask, then its alpha channel) is the drawing target.
  for (uint32_t mode : {VL_OUTPUT_BRUSH, VL_OUTPUT_MASK, VL_OUTPUT_ALPHA}) {
    vlBGPic selection;
    InitBGPicRecord(&selection, VL_OBJ_BRUSH, Brush(1), 0, {1, nullptr}, Brush(1)->bitmap, nullptr, nullptr, 6, 4, 1);
    vlCurrentOutput = &selection;
    d->outputType = mode;
    const int other = mode == VL_OUTPUT_BRUSH ? ERR_SELECTBRUSH : mode == VL_OUTPUT_MASK ? ERR_SELECTMASK
                                                                                          : ERR_SELECTALPHACHANNEL;
    EXPECT_EQ(Run(".call displaybrushfx 2 3 3 30 -2"), other);
    EXPECT_EQ(vlCurrentOutput, &selection);
    EXPECT_EQ(WindowPixel(d, 3, 3), 0x808080u);
    // Its own brush ends the selection and is shown.
    ASSERT_EQ(Run(".call displaybrushfx 1 3 3 30 -2"), 0);
    EXPECT_EQ(d->outputType, static_cast<uint32_t>(VL_OUTPUT_DISPLAY));
    EXPECT_EQ(vlCurrentOutput, d->bgpic);
    EXPECT_EQ(WindowPixel(d, 3, 3), 0x0000FFu);
    EXPECT_EQ(WindowPixel(d, 8, 6), 0x0000FFu);
    ASSERT_EQ(Run(".call displaybgpic 2\n.call displaybgpic 1"), 0);
  }
}

TEST_F(Fx, AnAsynchronousEffectMayRunWhileTheShownBGPicIsSelected) {
  vlDisplay* d = Open(30, 20);
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(Run(".call enablelayers\n.call createbrush 1 6 4 255\n.call selectbgpic nil"), 0);
  ASSERT_EQ(d->outputType, static_cast<uint32_t>(VL_OUTPUT_BGPIC));
  EXPECT_EQ(Run(".call displaybrushfx 1 3 3 30 -2"), ERR_SELECTBG);
  ASSERT_EQ(Run(".table 0 { type = 30, speed = 50, async = 1 }\n.call base=1 displaybrushfx 1 3 3 r0 -> h"), 0);
  // The selection goes on.
  EXPECT_EQ(d->outputType, static_cast<uint32_t>(VL_OUTPUT_BGPIC));
  EXPECT_EQ(CountLayers(d->bgpic), 1);
  ASSERT_EQ(Run(".call createbgpic 5 30 20\n.call selectbgpic 5"), 0);
  EXPECT_EQ(Run(".table 0 { type = 30, async = 1 }\n.call base=1 displaybrushfx 1 3 3 r0 -> h"), ERR_SELECTBG);
}

}  // namespace
