// DisplayTextObjectFX on a private Xvfb display with the built-in 8-pixel
// font: the object's ink ends exactly in place (plus its drawing offset),
// with layers as a TEXTOBJECT layer that UndoFX takes away again.
#include "tests/display/core/display_fixture.h"

#include <set>
#include <string>
#include <utility>

#include "display/commands/layers_library.h"
#include "display/layers/layers.h"
#include "text/fonts/bitmap_font.h"
#include "text/text_library.h"
#include "text/text_objects.h"
#include "transitions/fx_engine.h"
#include "transitions/transition_library.h"
#include "vm/error_codes.h"

namespace {

using vltest::DisplayTest;

bool Ink(const std::string& s, int x, int y) {
  if (x < 0 || y < 0 || y >= 8 || x >= static_cast<int>(s.size()) * 8) return false;
  const uint32_t loc = kTopazCharLoc[static_cast<unsigned char>(s[x / 8]) - 32];
  const int bit = static_cast<int>(loc >> 16) + x % 8;
  return (kTopazStrike[y * kTopazModulo + bit / 8] >> (7 - bit % 8)) & 1;
}

class TextFx : public DisplayTest {
 protected:
  void SetUp() override {
    DisplayTest::SetUp();
    if (!started_) return;
    ASSERT_EQ(OpenLayersLib(L), 0);
    ASSERT_EQ(OpenTextLib(L), 0);
    ASSERT_EQ(InitDefaultFont(), 0);
    ASSERT_EQ(OpenTransitionFxLib(L), 0);
    vlFxFrameDelayUs = 0;
    ASSERT_EQ(Run(".call createbgpic 1 80 40 0\n.call createbgpic 2 80 40 0\n.table 0 { bgpic = 1 }\n.call base=1 createdisplay 1 r0\n"
                  ".call opendisplay 1\n.call setfontcolor 65280\n.call createtextobject 1 \"Hi\""),
              0);
    d_ = GetDisplayByNumber(1);
    ASSERT_NE(d_, nullptr);
  }
  void TearDown() override {
    if (started_) {
      ShutdownLayerSystem(L);
      FreeTextLibrary(L);
    }
    DisplayTest::TearDown();
  }
  vlTextObject* Object() {
    vlTextObject* o = nullptr;
    return GetTextObjectByID(L, {1, nullptr}, &o, 0) == 0 ? o : nullptr;
  }
  // The ink of "Hi" at (x0, y0) and black everywhere else.
  void ExpectOnlyTextAt(int x0, int y0, const std::string& what) {
    for (int y = 0; y < 40; ++y)
      for (int x = 0; x < 80; ++x)
        ASSERT_EQ(WindowPixel(d_, x, y), Ink("Hi", x - x0, y - y0) ? 0x00FF00u : 0u) << what << " " << x << "," << y;
  }
  vlDisplay* d_ = nullptr;
};

TEST_F(TextFx, EffectsEndOnTheObjectInPlace) {
  vlTextObject* o = Object();
  ASSERT_NE(o, nullptr);
  // REVEALLEFT, DISSOLVE and SCROLLTOP at a few speeds.
  for (auto [id, speed] : {std::pair{30, -1}, std::pair{139, -2}, std::pair{49, 3}}) {
    // The object stays drawn: another BGPic and this one again start clean.
    ASSERT_EQ(Run(".call displaybgpic 2\n.call displaybgpic 1"), 0);
    ASSERT_EQ(Run(".call displaytextobjectfx 1 10 20 " + std::to_string(id) + " " + std::to_string(speed)), 0) << id;
    ExpectOnlyTextAt(10, 20, "effect " + std::to_string(id));
    EXPECT_EQ(o->locked, 0u);
  }
  // The drawing offset moves the picture; "dx" and "dy" replace x and y.
  o->offsetX = 3, o->offsetY = -2;
  ASSERT_EQ(Run(".call displaybgpic 2\n.call displaybgpic 1\n.table 0 { type = 0, dx = 40, dy = 9 }\n"
                ".call base=1 displaytextobjectfx 1 1 1 r0"),
            0);
  ExpectOnlyTextAt(43, 7, "offset");
  EXPECT_EQ(Run(".call displaytextobjectfx 7 0 0"), 1175);
  EXPECT_EQ(Run(".call displaytextobjectfx 1 0"), ERR_MISSINGPARAMTR);
}

TEST_F(TextFx, WithLayersTheObjectBecomesALayer) {
  ASSERT_EQ(Run(".call enablelayers\n.call displaytextobjectfx 1 5 6 115 50"), 0);
  ASSERT_EQ(CountLayers(d_->bgpic), 1);
  vlLayer* l = GetLayerByPos(d_->bgpic, 1);
  EXPECT_EQ(l->type, VL_LAYER_TEXTOBJECT);
  EXPECT_EQ(l->source.number, 1);
  EXPECT_EQ(l->hidden, 0u);
  ExpectOnlyTextAt(5, 6, "layer");
  EXPECT_EQ(Object()->locked, 0u);
  ASSERT_EQ(Run(".call undofx 8 1 30 -2"), 0);
  EXPECT_EQ(CountLayers(d_->bgpic), 0);
  ExpectOnlyTextAt(-100, -100, "undone");
}

}  // namespace
