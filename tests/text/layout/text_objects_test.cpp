// Text objects on a private Xvfb display with the built-in 8-pixel font:
// pictures against the font's strike data, layers that keep showing freed
// or changed objects, copies, scaling by percentages of the creation size,
// rotation angles, locks and missing objects; and Print and TextOut making
// PRINT and TEXTOUT layers when layers are on.
#include "tests/display/core/display_fixture.h"

#include <set>
#include <utility>

#include "display/commands/layers_library.h"
#include "display/layers/layers.h"
#include "graphics/bitmap.h"
#include "text/fonts/bitmap_font.h"
#include "text/text_library.h"
#include "text/text_objects.h"
#include "vm/error_codes.h"

namespace {

using vltest::DisplayTest;

bool GlyphBit(unsigned char c, int x, int y) {
  if (x < 0 || y < 0 || x >= 8 || y >= 8) return false;
  const uint32_t loc = kTopazCharLoc[c - 32];
  const int bit = static_cast<int>(loc >> 16) + x;
  return (kTopazStrike[y * kTopazModulo + bit / 8] >> (7 - bit % 8)) & 1;
}

std::set<std::pair<int, int>> Ink(const std::string& s) {
  std::set<std::pair<int, int>> ink;
  for (size_t i = 0; i < s.size(); ++i)
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 8; ++x)
        if (GlyphBit(static_cast<unsigned char>(s[i]), x, y)) ink.insert({static_cast<int>(i) * 8 + x, y});
  return ink;
}

class TextObjects : public DisplayTest {
 protected:
  void SetUp() override {
    DisplayTest::SetUp();
    if (!started_) return;
    ASSERT_EQ(OpenLayersLib(L), 0);
    ASSERT_EQ(OpenTextLib(L), 0);
    ASSERT_EQ(InitDefaultFont(), 0);
  }
  void TearDown() override {
    if (started_) {
      ShutdownLayerSystem(L);
      FreeTextLibrary(L);
    }
    DisplayTest::TearDown();
  }
  vlDisplay* OpenBlack() {
    EXPECT_EQ(Run(".table 0 { width = 160, height = 80, color = 0 }\n.call base=1 createdisplay 1 r0\n"
                  ".call opendisplay 1"),
              0);
    return GetDisplayByNumber(1);
  }
  vlTextObject* Object(int32_t n) {
    vlTextObject* o = nullptr;
    return GetTextObjectByID(L, {n, nullptr}, &o, 0) == 0 ? o : nullptr;
  }
  // The text's ink at (x, y) in colour, nothing else in the box.
  void ExpectText(vlDisplay* d, const std::string& s, int x0, int y0, uint32_t colour) {
    const auto ink = Ink(s);
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < static_cast<int>(s.size()) * 8; ++x)
        EXPECT_EQ(WindowPixel(d, x0 + x, y0 + y), ink.count({x, y}) ? colour : 0u) << s << " " << x << "," << y;
  }
};

TEST_F(TextObjects, CreateAndDisplay) {
  vlDisplay* d = OpenBlack();
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(Run(".call setfontcolor 65280\n.call createtextobject 1 \"Hi\"\n.call displaytextobject 1 10 20"), 0);
  vlTextObject* o = Object(1);
  ASSERT_NE(o, nullptr);
  EXPECT_EQ(o->width, 16);
  EXPECT_EQ(o->height, 9);  // the line and the underline's row
  EXPECT_EQ(o->createWidth, 16);
  ExpectText(d, "Hi", 10, 20, 0x00FF00);
  // Position constants place the picture.
  ASSERT_EQ(Run(".call displaytextobject 1 -100000 -100000"), 0);
  ExpectText(d, "Hi", 72, 35, 0x00FF00);
  // A table gives align, wordwrap, encoding and colour.
  ASSERT_EQ(Run(".table 0 { color = 255, wordwrap = 16 }\n.call base=1 createtextobject 2 \"ab cd\" r0\n"
                ".call displaytextobject 2 0 50"),
            0);
  ExpectText(d, "ab", 0, 50, 0x0000FF);
  ExpectText(d, "cd", 0, 58, 0x0000FF);
  ASSERT_EQ(Run(".call createtextobject nil \"x\" -> h"), 0);
  EXPECT_EQ(vltest::GetGlobal(L, "h")->tag, VL_TLIGHTUSERDATA);
  EXPECT_EQ(Run(".call createtextobject 3 \"x\" -90000 -1"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call createtextobject 3 \"x\" -90000 0 2"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call displaytextobject 9 0 0"), 1175);
  EXPECT_EQ(Run(".call freetextobject 9"), 1175);
  ASSERT_EQ(Run(".call freetextobject $h"), 0);
  EXPECT_EQ(Run(".call freetextobject $h"), ERR_FINDARRAY);
}

TEST_F(TextObjects, LayersKeepWhatTheyShowed) {
  vlDisplay* d = OpenBlack();
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(Run(".call enablelayers\n.call setfontcolor 16711680\n.call createtextobject 1 \"AB\"\n"
                ".call displaytextobject 1 4 4"),
            0);
  ASSERT_EQ(CountLayers(d->bgpic), 1);
  vlLayer* layer = GetLayerByPos(d->bgpic, 1);
  EXPECT_EQ(layer->type, VL_LAYER_TEXTOBJECT);
  ExpectText(d, "AB", 4, 4, 0xFF0000);
  const int before = CountObjectsOfType(VL_OBJ_TEXTOBJECT);
  // Freed while shown: an orphan the layer still draws, no longer counted
  // among the script's objects.
  ASSERT_EQ(Run(".call freetextobject 1"), 0);
  EXPECT_EQ(Object(1), nullptr);
  EXPECT_EQ(CountObjectsOfType(VL_OBJ_TEXTOBJECT), before - 1);
  const vlObjectId orphan = layer->source;
  vlTextObject* kept = nullptr;
  EXPECT_EQ(GetTextObjectByID(L, orphan, &kept, VL_TEXTOBJ_ORPHANS), 0);
  RefreshArea(L, 0, 0, 160, 80);
  ExpectText(d, "AB", 4, 4, 0xFF0000);
  // The same id makes a second, independent object.
  ASSERT_EQ(Run(".call createtextobject 1 \"C\""), 0);
  ASSERT_NE(Object(1), nullptr);
  EXPECT_EQ(CountObjectsOfType(VL_OBJ_TEXTOBJECT), before);
  // Removing the layer frees the orphan.
  ASSERT_EQ(Run(".call removelayer 1"), 0);
  EXPECT_EQ(CountObjectsOfType(VL_OBJ_TEXTOBJECT), before);
  EXPECT_NE(GetTextObjectByID(L, orphan, &kept, VL_TEXTOBJ_ORPHANS), 0);
  ExpectText(d, "  ", 4, 4, 0);

  // Scaling an object a layer shows gives the layer its own copy first.
  ASSERT_EQ(Run(".call displaytextobject 1 30 30\n.call scaletextobject 1 16 16"), 0);
  EXPECT_EQ(Object(1)->width, 16);
  RefreshArea(L, 0, 0, 160, 80);
  ExpectText(d, "C", 30, 30, 0xFF0000);
  EXPECT_EQ(CountObjectsOfType(VL_OBJ_TEXTOBJECT), before);
  EXPECT_NE(GetLayerByPos(d->bgpic, 1)->source.handle, Object(1)->node.idHandle);
}

TEST_F(TextObjects, ScaleRotateCopyAndLocks) {
  ASSERT_NE(OpenBlack(), nullptr);
  ASSERT_EQ(Run(".call createtextobject 1 \"Hi!!\""), 0);
  vlTextObject* o = Object(1);
  ASSERT_NE(o, nullptr);
  ASSERT_EQ(o->width, 32);
  // Percentages refer to the size at creation.
  ASSERT_EQ(Run(".call scaletextobject 1 \"50%\" \"50%\"\n.call scaletextobject 1 \"50%\" \"50%\""), 0);
  EXPECT_EQ(o->width, 16);
  EXPECT_EQ(o->height, 4);
  ASSERT_EQ(Run(".call scaletextobject 1 64 100000"), 0);  // keep the aspect
  EXPECT_EQ(o->width, 64);
  EXPECT_EQ(o->height, 18);
  EXPECT_EQ(Run(".call scaletextobject 1 0 5"), ERR_BADDIMENSIONS);
  ASSERT_EQ(Run(".call rotatetextobject 1 370"), 0);
  EXPECT_DOUBLE_EQ(o->transform.angle, 10);
  ASSERT_EQ(Run(".call rotatetextobject 1 -30"), 0);
  EXPECT_DOUBLE_EQ(o->transform.angle, -30);
  EXPECT_EQ(o->offsetX, 0);
  EXPECT_GT(o->height, 18);  // turned, the picture grows
  ASSERT_EQ(Run(".call rotatetextobject 1 0\n.call scaletextobject 1 32 9"), 0);
  EXPECT_EQ(o->width, 32);
  EXPECT_EQ(o->height, 9);

  EXPECT_EQ(Run(".call copytextobject 1 1"), ERR_WRONGUSAGE);
  ASSERT_EQ(Run(".call copytextobject 1 nil -> c\n.call copytextobject 1 2"), 0);
  EXPECT_EQ(vltest::GetGlobal(L, "c")->tag, VL_TLIGHTUSERDATA);
  vlTextObject* copy = Object(2);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->width, 32);
  EXPECT_NE(copy->bitmap, o->bitmap);
  EXPECT_EQ(ReadBitmapPixel(copy->bitmap, 1, 1, 0), ReadBitmapPixel(o->bitmap, 1, 1, 0));
  // A copy scales from the creation size like its source.
  ASSERT_EQ(Run(".call scaletextobject 2 \"200%\" \"200%\""), 0);
  EXPECT_EQ(copy->width, 64);
  EXPECT_EQ(copy->height, 18);
  ASSERT_EQ(Run(".call scaletextobject 2 40 20\n.call rotatetextobject 2 90"), 0);
  EXPECT_EQ(copy->width, 20);
  EXPECT_EQ(copy->height, 40);
  EXPECT_EQ(o->width, 32);  // the source keeps its own size

  o->locked = 1;
  EXPECT_EQ(Run(".call scaletextobject 1 10 10"), ERR_LOCKEDOBJ);
  EXPECT_EQ(Run(".call createtextobject 1 \"x\""), ERR_LOCKEDOBJ);
  EXPECT_EQ(Run(".call freetextobject 1"), ERR_LOCKEDOBJ);
  o->locked = 0;
}

TEST_F(TextObjects, PrintAndTextOutBecomeLayers) {
  vlDisplay* d = OpenBlack();
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(Run(".call enablelayers\n.call setfontcolor 16776960\n.call print \"ab\"\n.call textout 40 30 \"Z\""),
            0);
  ASSERT_EQ(CountLayers(d->bgpic), 2);
  EXPECT_EQ(GetLayerByPos(d->bgpic, 1)->type, VL_LAYER_PRINT);
  EXPECT_EQ(GetLayerByPos(d->bgpic, 2)->type, VL_LAYER_TEXTOUT);
  ExpectText(d, "ab", 0, 0, 0xFFFF00);
  ExpectText(d, "Z", 40, 30, 0xFFFF00);
  EXPECT_EQ(d->cursorX, 16);
  // Edge and shadow become the layer's effects, not pixels of its picture.
  ASSERT_EQ(Run(".call setfontstyle 64 255 1\n.call textout 80 40 \"I\""), 0);
  vlLayer* edged = GetLayerByPos(d->bgpic, 3);
  ASSERT_NE(edged, nullptr);
  EXPECT_EQ(edged->border.on, 1u);
  EXPECT_EQ(edged->border.color, 255u);
  EXPECT_EQ(edged->border.size, 1u);
  // The glyph in its colour, the layer's border in the edge colour around it.
  int border = 0;
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      const uint32_t p = WindowPixel(d, 80 + x, 40 + y);
      if (GlyphBit('I', x, y))
        EXPECT_EQ(p, 0xFFFF00u) << x << "," << y;
      else
        border += p == 0x0000FFu;
    }
  EXPECT_GT(border, 4);
  ASSERT_EQ(Run(".call removelayer 1"), 0);
  ExpectText(d, "ab", 0, 0, 0);
}

}  // namespace
