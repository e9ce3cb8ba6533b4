// Scroll effects on a private Xvfb display: the picture or layer travels
// from outside the display to its place (or out again), each frame at the
// position the move engine's step arithmetic gives, ending exactly in place.
#include "tests/transitions/engine/fx_display_test.h"

#include <algorithm>
#include <string>

#include "display/layers/async_draw.h"
#include "display/graphics_library/graphics_library.h"
#include "display/layers/layers.h"
#include "graphics/bitmap.h"
#include "objects/brushes/brush.h"
#include "transitions/fx_engine.h"
#include "transitions/transition_library.h"
#include "vm/constants.h"
#include "vm/error_codes.h"

namespace {


constexpr uint32_t kGrey = 0x808080u, kBlue = 0x0000FFu;

class Scroll : public vltest::FxDisplayTest {
 protected:
  void SetUp() override {
    FxDisplayTest::SetUp();
    if (!started_) return;
    d_ = Open();
    ASSERT_NE(d_, nullptr);
  }
  vlDisplay* Open() {
    EXPECT_EQ(Run(".call createbgpic 1 40 30 8421504\n.call createbgpic 2 40 30 16711680\n"
                  ".table 0 { bgpic = 1 }\n.call base=1 createdisplay 1 r0\n.call opendisplay 1"),
              0);
    return GetDisplayByNumber(1);
  }
  // Exactly the rectangle (x, y, w, h), clipped to the window, is blue.
  void ExpectBlueAt(int x, int y, int w, int h, const std::string& what) {
    for (int py = 0; py < 30; ++py)
      for (int px = 0; px < 40; ++px) {
        const bool in = px >= x && px < x + w && py >= y && py < y + h;
        ASSERT_EQ(WindowPixel(d_, px, py), in ? kBlue : kGrey) << what << " at " << px << "," << py;
      }
  }
  // The effect id of a registered constant, as text for a script line.
  std::string Id(const char* name) {
    const char* text = nullptr;
    double number = -1;
    EXPECT_NE(vl::FindConstant(L, name, &text, &number), 0) << name;
    return std::to_string(static_cast<int>(number));
  }
  vlBrush* Brush(int n) {
    vlBrush* b = nullptr;
    EXPECT_EQ(GetBrushByID(L, {n, nullptr}, &b, 0), 0);
    return b;
  }
  int32_t Frame() {
    EXPECT_EQ(Run(".call asyncdrawframe $h -> r"), 0);
    return static_cast<int32_t>(Num("r"));
  }
  vlDisplay* d_ = nullptr;
};

TEST_F(Scroll, BrushFramesFollowTheMoveSteps) {
  ASSERT_EQ(Run(".call createbrush 1 10 6 255"), 0);
  // SCROLLLEFT: in from x = -10 at 7 pixels a frame, y stays 8.
  ASSERT_EQ(Run(".table 0 { type = 47, speed = 7, async = 1 }\n.call base=1 displaybrushfx 1 12 8 r0 -> h"), 0);
  ExpectBlueAt(0, 0, 0, 0, "before the first frame");
  const int xs[] = {-3, 4, 11, 12};
  for (int i = 0; i < 4; ++i) {
    const int32_t done = Frame();
    ExpectBlueAt(xs[i], 8, 10, 6, "frame " + std::to_string(i + 1));
    if (i < 3) { EXPECT_EQ(done, 0) << i; }
  }
  while (Frame() == 0) {
  }
  ExpectBlueAt(12, 8, 10, 6, "end");
  EXPECT_EQ(Brush(1)->locked, 0u);

  // The brush stays drawn, as a displayed brush does: showing another
  // BGPic and this one again brings it back clean.
  // SCROLLNORTHWEST: from (-10, -6) to (12, 8); the wider brush moves 5 in
  // x, 14 / 5 = 2 in y plus one of the 4 left-over pixels a frame.
  ASSERT_EQ(Run(".call displaybgpic 2\n.call displaybgpic 1"), 0);
  ASSERT_EQ(Run(".table 0 { type = 54, speed = 5, async = 1 }\n.call base=1 displaybrushfx 1 12 8 r0 -> h"), 0);
  const int path[][2] = {{-5, -3}, {0, 0}, {5, 3}, {10, 6}, {12, 8}};
  for (int i = 0; i < 5; ++i) {
    Frame();
    ExpectBlueAt(path[i][0], path[i][1], 10, 6, "diagonal frame " + std::to_string(i + 1));
  }
  while (Frame() == 0) {
  }
  ExpectBlueAt(12, 8, 10, 6, "diagonal end");
}

TEST_F(Scroll, AliasesAndEveryDirectionEndInPlace) {
  ASSERT_EQ(Run(".call createbrush 1 10 6 255"), 0);
  const char* names[] = {"SCROLLLEFT", "SCROLLWEST", "SCROLLRIGHT", "SCROLLEAST", "SCROLLTOP", "SCROLLNORTH",
                         "SCROLLBOTTOM", "SCROLLSOUTH", "SCROLLNORTHEAST", "SCROLLSOUTHEAST", "SCROLLSOUTHWEST",
                         "SCROLLNORTHWEST"};
  for (int i = 0; i < 8; i += 2) EXPECT_EQ(Id(names[i]), Id(names[i + 1]));
  for (const char* name : names) {
    ASSERT_EQ(Run(".call displaybgpic 2\n.call displaybgpic 1"), 0);
    ASSERT_EQ(Run(".call displaybrushfx 1 13 11 " + Id(name) + " 3"), 0) << name;
    ExpectBlueAt(13, 11, 10, 6, name);
  }
  // The parameter picks the move engine's path effect: BOUNCE still lands.
  ASSERT_EQ(Run(".call displaybgpic 2\n.call displaybgpic 1\n.call displaybrushfx 1 4 4 48 6 1"), 0);
  ExpectBlueAt(4, 4, 10, 6, "bounce");
  // A whole BGPic scrolls in over the old one.
  ASSERT_EQ(Run(".call displaytransitionfx 2 49 4"), 0);
  EXPECT_EQ(WindowPixel(d_, 0, 0), 0xFF0000u);
  EXPECT_EQ(WindowPixel(d_, 39, 29), 0xFF0000u);
  EXPECT_EQ(d_->bgpic->idNumber, 2);
}

TEST_F(Scroll, LayersTravelInAndOutAndStayInTheirPlace) {
  ASSERT_EQ(Run(".call enablelayers\n.call createbrush 1 8 4 255"), 0);
  ASSERT_EQ(Run(".call displaybrushfx 1 5 5 " + Id("SCROLLBOTTOM") + " 6"), 0);
  ASSERT_EQ(CountLayers(d_->bgpic), 1);
  vlLayer* l = GetLayerByPos(d_->bgpic, 1);
  EXPECT_EQ(l->geometry[0]->x, 5);
  EXPECT_EQ(l->geometry[0]->y, 5);
  ExpectBlueAt(5, 5, 8, 4, "shown");
  // A reversed SCROLLTOP leaves through the top edge, 3 pixels a frame.
  ASSERT_EQ(Run(".table 0 { type = 49, speed = 3, async = 1 }\n.call base=1 hidelayerfx 1 r0 -> h"), 0);
  int y = 5;
  int32_t done = 0;
  while (!done) {
    done = Frame();
    if (done) break;
    y = std::max(-4, y - 3);
    ExpectBlueAt(5, y, 8, 4, "leaving at " + std::to_string(y));
  }
  ExpectBlueAt(0, 0, 0, 0, "hidden");
  EXPECT_EQ(l->hidden, 1u);
  EXPECT_EQ(l->geometry[0]->x, 5);
  EXPECT_EQ(l->geometry[0]->y, 5);
  ASSERT_EQ(Run(".call showlayerfx 1 " + Id("SCROLLSOUTHEAST") + " 4"), 0);
  EXPECT_EQ(l->hidden, 0u);
  ExpectBlueAt(5, 5, 8, 4, "shown again");
  ASSERT_EQ(Run(".call removelayerfx 1 " + Id("SCROLLWEST") + " -2"), 0);
  EXPECT_EQ(CountLayers(d_->bgpic), 0);
  ExpectBlueAt(0, 0, 0, 0, "removed");
}

}  // namespace
