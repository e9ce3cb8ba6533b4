// Brushes shown as layers and with display tags: layers that keep showing
// a brush's old picture when it changes or is freed, orphans freed with
// their last layer, transparency composed by the layer system, and tags
// applied when drawing at once. Window pixels read back from Xvfb.
#include "tests/display/core/display_fixture.h"

#include <cstdlib>
#include <string>
#include <tuple>
#include <unistd.h>

#include "display/layers/layer_users.h"
#include "display/commands/layers_library.h"
#include "display/layers/layers.h"
#include "graphics/bitmap.h"
#include "objects/brushes/brush.h"
#include "vm/error_codes.h"

namespace {

class BrushLayerTest : public vltest::DisplayTest {
 protected:
  void SetUp() override {
    DisplayTest::SetUp();
    if (!started_) return;
    ASSERT_EQ(OpenBrushLib(L), 0);
    ASSERT_EQ(OpenLayersLib(L), 0);
    ASSERT_EQ(Run(".table 0 { width = 64, height = 48, color = 0 }\n.call base=1 createdisplay 1 r0\n"
                  ".call opendisplay 1"),
              0);
    d_ = GetDisplayByNumber(1);
    ASSERT_NE(d_, nullptr);
  }
  void TearDown() override {
    if (started_) {
      ShutdownLayerSystem(L);
      FreeBrushLib(L);
    }
    DisplayTest::TearDown();
  }
  vlBrush* Brush(int n) {
    vlBrush* b = nullptr;
    return GetBrushByID(L, {n, nullptr}, &b, 0) == 0 ? b : nullptr;
  }
  int BrushRecords() {
    int n = 0;
    for (vlBrush* b = vlBrushList; b; b = b->next) n++;
    return n;
  }
  // Redraws the whole display from its BGPic and layers.
  void Refresh() { RefreshDisplayObject(L, d_, 0); }
  vlDisplay* d_ = nullptr;
};

TEST_F(BrushLayerTest, LayersKeepTheirPictureWhenTheBrushChangesOrGoes) {
  ASSERT_EQ(Run(".call enablelayers\n.call createbrush 1 10 6 16711680\n.call displaybrush 1 5 7\n"
                ".call displaybrushpart 1 0 0 30 7 4 4"),
            0);
  ASSERT_EQ(CountLayers(vlCurrentOutput), 2);
  EXPECT_EQ(GetLayerByPos(vlCurrentOutput, 1)->type, uint32_t{VL_LAYER_BRUSH});
  EXPECT_EQ(GetLayerByPos(vlCurrentOutput, 2)->type, uint32_t{VL_LAYER_BRUSHPART});
  EXPECT_EQ(WindowPixel(d_, 5, 7), 0xFF0000u);
  EXPECT_EQ(WindowPixel(d_, 33, 10), 0xFF0000u);
  EXPECT_EQ(WindowPixel(d_, 34, 10), 0x000000u);
  // A selected brush becomes the drawing target in place of the BGPic, whose
  // layers wait until the selection ends, still read from the BGPic on show;
  // then the BGPic is the target again.
  vlBGPic* shown = vlCurrentOutput;
  ASSERT_EQ(Run(".call createbrush 9 4 4 0\n.call selectbrush 9"), 0);
  EXPECT_NE(vlCurrentOutput, shown);
  const char* readX = ".call getlayerstyle 2 -> st\ngetglobal 0 \"st\"\ngetfield 1 0 \"x\"\nsetglobal 1 \"x\"\n"
                      "getfield 1 0 \"z\"\nsetglobal 1 \"z\"";
  ASSERT_EQ(Run(readX), 0);
  EXPECT_EQ(Num("x"), 30);
  EXPECT_EQ(Num("z"), 2);
  EXPECT_EQ(Run(".call getlayerstyle 3"), ERR_LAYERRANGE);
  ASSERT_EQ(Run(".call endselect\n.call freebrush 9"), 0);
  ASSERT_EQ(Run(readX), 0);
  EXPECT_EQ(vlCurrentOutput, shown);
  EXPECT_EQ(Num("x"), 30);
  // Changing the brush gives both layers a private copy of the old one.
  ASSERT_EQ(Run(".call invertbrush 1"), 0);
  EXPECT_EQ(ReadBitmapPixel(Brush(1)->bitmap, 0, 0, 0) & 0xFFFFFF, 0x00FFFFu);
  EXPECT_EQ(BrushRecords(), 2);
  Refresh();
  EXPECT_EQ(WindowPixel(d_, 5, 7), 0xFF0000u);
  EXPECT_EQ(WindowPixel(d_, 30, 7), 0xFF0000u);
  vlLayer* first = GetLayerByPos(vlCurrentOutput, 1);
  EXPECT_NE(first->source.handle, nullptr);
  EXPECT_EQ(first->source.handle, GetLayerByPos(vlCurrentOutput, 2)->source.handle);
  // The copy is found only with the orphan flag.
  vlBrush* copy = nullptr;
  EXPECT_EQ(GetBrushByID(L, first->source, &copy, 0), ERR_FINDARRAY);
  ASSERT_EQ(GetBrushByID(L, first->source, &copy, VL_BRUSH_FINDORPHANS), 0);
  EXPECT_EQ(copy->orphaned, 1u);
  // A brush nobody shows goes at once.
  ASSERT_EQ(Run(".call freebrush 1"), 0);
  EXPECT_EQ(BrushRecords(), 1);
  // The copy goes with the last layer that shows it.
  ASSERT_EQ(Run(".call removelayer 2"), 0);
  EXPECT_EQ(BrushRecords(), 1);
  ASSERT_EQ(Run(".call removelayer 1"), 0);
  EXPECT_EQ(BrushRecords(), 0);
  EXPECT_EQ(WindowPixel(d_, 5, 7), 0x000000u);
}

TEST_F(BrushLayerTest, FreeingAShownBrushOrphansIt) {
  ASSERT_EQ(Run(".call enablelayers\n.call createbrush 2 4 4 65280\n.call displaybrush 2 0 0"), 0);
  ASSERT_EQ(Run(".call freebrush 2"), 0);
  EXPECT_EQ(Brush(2), nullptr);
  EXPECT_EQ(Run(".call displaybrush 2 0 0"), ERR_FINDBRUSH);
  ASSERT_EQ(BrushRecords(), 1);
  EXPECT_EQ(vlBrushList->orphaned, 1u);
  EXPECT_EQ(vlBrushList->idHandle, vlBrushList);
  // The number is free again at once; the layer still shows the old brush.
  ASSERT_EQ(Run(".call createbrush 2 4 4 255"), 0);
  Refresh();
  EXPECT_EQ(WindowPixel(d_, 1, 1), 0x00FF00u);
  ASSERT_EQ(Run(".call freelayers"), 0);
  EXPECT_EQ(BrushRecords(), 1);
  EXPECT_NE(Brush(2), nullptr);
}

TEST_F(BrushLayerTest, TagsOfLayers) {
  ASSERT_EQ(Run(".call enablelayers\n.call createbrush 1 8 8 16711680\n"
                ".table 0 { transparency = 128, name = \"half\" }\n.call base=1 displaybrush 1 10 10 r0"),
            0);
  vlLayer* layer = GetLayerByPos(vlCurrentOutput, 1);
  ASSERT_NE(layer, nullptr);
  EXPECT_EQ(layer->transparency, 128u);
  ASSERT_NE(layer->name, nullptr);
  EXPECT_STREQ(layer->name, "half");
  // Red at opacity 127 over black.
  const uint32_t p = WindowPixel(d_, 12, 12);
  EXPECT_GE(p >> 16, 0x7Bu);
  EXPECT_LE(p >> 16, 0x81u);
  EXPECT_EQ(p & 0xFFFF, 0u);
  // Inserted at the back: the new green layer lies under the red one.
  ASSERT_EQ(Run(".call createbrush 2 8 8 65280\n.table 0 { insertpos = 1 }\n.call base=1 displaybrush 2 10 10 r0"),
            0);
  ASSERT_EQ(CountLayers(vlCurrentOutput), 2);
  EXPECT_EQ(GetLayerByPos(vlCurrentOutput, 1)->source.number, 2);
  const uint32_t q = WindowPixel(d_, 12, 12);
  EXPECT_GE((q >> 8) & 0xFF, 0x7Bu);
  EXPECT_GE(q >> 16, 0x7Bu);
  // "insertpos" past the end is clamped to the top.
  ASSERT_EQ(Run(".table 0 { insertpos = 100 }\n.call base=1 displaybrush 2 40 10 r0"), 0);
  EXPECT_EQ(GetLayerByPos(vlCurrentOutput, 3)->geometry[0]->x, 40);
  EXPECT_EQ(Run(".table 0 { insertpos = -1 }\n.call base=1 displaybrush 2 0 0 r0"), ERR_INVINSERT);
  EXPECT_EQ(Run(".table 0 { name = \"" + std::string(256, 'n') + "\" }\n.call base=1 displaybrush 2 0 0 r0"),
            ERR_NAMETOOLONG);
  EXPECT_EQ(Run(".call displaybrush 2 0 0 5"), ERR_TABEXPECTED);
  EXPECT_EQ(CountLayers(vlCurrentOutput), 3);
}

TEST_F(BrushLayerTest, TagsWhenDrawingAtOnce) {
  // 4 x 2 red brush, green top-left pixel, turned a quarter clockwise
  // about its corner: drawn at once just as the layer system draws it.
  ASSERT_EQ(Run(".call createbrush 1 4 2 16711680\n.call writebrushpixel 1 0 0 65280\n"
                ".table 0 { rotate = 90 }\n.call base=1 displaybrush 1 20 20 r0"),
            0);
  EXPECT_EQ(WindowPixel(d_, 20, 20), 0x00FF00u);
  EXPECT_EQ(WindowPixel(d_, 20, 23), 0xFF0000u);
  EXPECT_EQ(WindowPixel(d_, 19, 23), 0xFF0000u);
  EXPECT_EQ(WindowPixel(d_, 21, 20), 0x000000u);
  EXPECT_EQ(WindowPixel(d_, 20, 24), 0x000000u);
  // A rotation of 370 degrees is one of 10.
  ASSERT_EQ(Run(".call createbrush 2 9 5 255\n.table 0 { rotate = 370 }\n.call base=1 displaybrush 2 5 30 r0\n"
                ".table 0 { rotate = 10 }\n.call base=1 displaybrush 2 35 30 r0"),
            0);
  for (int y = 24; y < 44; y++)
    for (int x = 0; x < 25; x++) ASSERT_EQ(WindowPixel(d_, x, y), WindowPixel(d_, x + 30, y)) << x << "," << y;
  // Scale by width and height; half transparency blends with the black.
  ASSERT_EQ(Run(".call createbrush 3 2 2 16777215\n.table 0 { width = 6, height = 4, transparency = \"50%\" }\n"
                ".call base=1 displaybrush 3 50 2 r0"),
            0);
  EXPECT_EQ(WindowPixel(d_, 55, 5) & 0xFF, WindowPixel(d_, 50, 2) & 0xFF);
  EXPECT_GE(WindowPixel(d_, 55, 5) & 0xFF, 0x7Bu);
  EXPECT_LE(WindowPixel(d_, 55, 5) & 0xFF, 0x81u);
  EXPECT_EQ(WindowPixel(d_, 56, 5), 0u);
  EXPECT_EQ(WindowPixel(d_, 55, 6), 0u);
  EXPECT_EQ(Run(".table 0 { transform = { [0] = 0, [1] = 1, [2] = 1, [3] = 1 } }\nsetglobal 0 \"o\"\n"
                ".call displaybrush 3 0 0 $o"),
            ERR_WRONGUSAGE);
  // A fixed matrix mirrors the picture about its anchor, the left edge.
  ASSERT_EQ(Run(".call createbrush 4 3 1 255\n.call writebrushpixel 4 0 0 65280\n"
                ".table 0 { transform = { [0] = -1, [1] = 0, [2] = 0, [3] = 1 } }\nsetglobal 0 \"o\"\n"
                ".call displaybrush 4 0 46 $o"),
            0);
  EXPECT_EQ(WindowPixel(d_, 0, 46), 0x00FF00u);
  EXPECT_EQ(WindowPixel(d_, 1, 46), 0u);
  EXPECT_EQ(Run(".table 0 { scalex = 0 }\n.call base=1 displaybrush 3 0 0 r0"), ERR_WRONGUSAGE);
  // A hidden brush is not drawn.
  ASSERT_EQ(Run(".table 0 { hidden = 1 }\n.call base=1 displaybrush 3 0 40 r0"), 0);
  EXPECT_EQ(WindowPixel(d_, 0, 40), 0u);
}

TEST_F(BrushLayerTest, TransformedInsertedAndBlankLayers) {
  // A rotated brush becomes a layer only; the layer system draws it turned.
  ASSERT_EQ(Run(".call enablelayers\n.call createbrush 1 4 2 16711680\n.call writebrushpixel 1 0 0 65280\n"
                ".table 0 { rotate = 90 }\n.call base=1 displaybrush 1 20 20 r0"),
            0);
  ASSERT_EQ(CountLayers(vlCurrentOutput), 1);
  EXPECT_NE(GetLayerByPos(vlCurrentOutput, 1)->geometry[2]->xImage, nullptr);
  // Turned clockwise about the top-left corner: the top row runs down.
  EXPECT_EQ(WindowPixel(d_, 20, 20), 0x00FF00u);
  EXPECT_EQ(WindowPixel(d_, 20, 23), 0xFF0000u);
  EXPECT_EQ(WindowPixel(d_, 19, 23), 0xFF0000u);
  EXPECT_EQ(WindowPixel(d_, 21, 20), 0x000000u);
  EXPECT_EQ(WindowPixel(d_, 20, 24), 0x000000u);
  // InsertLayer puts a brush under the others.
  ASSERT_EQ(Run(".call createbrush 2 6 6 255\n.call insertlayer 1 3 2 18 16"), 0);
  ASSERT_EQ(CountLayers(vlCurrentOutput), 2);
  EXPECT_EQ(GetLayerByPos(vlCurrentOutput, 1)->source.number, 2);
  EXPECT_EQ(WindowPixel(d_, 23, 21), 0x0000FFu);
  EXPECT_EQ(WindowPixel(d_, 20, 20), 0x00FF00u);
  // CreateLayer makes a blank brush that goes with its layer.
  const int before = BrushRecords();
  ASSERT_EQ(Run(".table 0 { color = 16776960 }\n.call base=1 createlayer 40 5 3 3 r0"), 0);
  EXPECT_EQ(BrushRecords(), before + 1);
  EXPECT_EQ(WindowPixel(d_, 41, 6), 0xFFFF00u);
  ASSERT_EQ(Run(".call removelayer 3"), 0);
  EXPECT_EQ(BrushRecords(), before);
  EXPECT_EQ(WindowPixel(d_, 41, 6), 0u);
}

TEST_F(BrushLayerTest, BGPicParts) {
  ASSERT_EQ(Run(".call createbgpic 5 20 20 255\n.call displaybgpicpart 5 2 2 4 4 10 12"), 0);
  EXPECT_EQ(WindowPixel(d_, 10, 12), 0x0000FFu);
  EXPECT_EQ(WindowPixel(d_, 13, 15), 0x0000FFu);
  EXPECT_EQ(WindowPixel(d_, 14, 15), 0u);
  // Without a target position the part keeps its place.
  ASSERT_EQ(Run(".call displaybgpicpart 5 16 16 3 3"), 0);
  EXPECT_EQ(WindowPixel(d_, 17, 17), 0x0000FFu);
  EXPECT_EQ(WindowPixel(d_, 19, 19), 0u);
  EXPECT_EQ(Run(".call displaybgpicpart 5 20 0 3 3"), ERR_COORDSRANGE);
  ASSERT_EQ(Run(".call enablelayers\n.call displaybgpicpart 5 0 0 2 2 40 40"), 0);
  ASSERT_EQ(CountLayers(vlCurrentOutput), 1);
  EXPECT_EQ(GetLayerByPos(vlCurrentOutput, 1)->type, uint32_t{VL_LAYER_BGPICPART});
  EXPECT_EQ(WindowPixel(d_, 41, 41), 0x0000FFu);
  // BGPicToBrush copies the picture into a new brush.
  ASSERT_EQ(Run(".call bgpictobrush 5 7"), 0);
  ASSERT_NE(Brush(7), nullptr);
  EXPECT_EQ(Brush(7)->width, 20);
}

}  // namespace

namespace {

// Two 20x20 discs of radius 9 made by ImageMagick: placed 17 pixels apart
// diagonally their boxes overlap but their pixels do not; 6 apart they do.
TEST_F(BrushLayerTest, BrushCollisionTestsTheDiscsNotTheirBoxes) {
  const std::string dir = testing::TempDir() + "collide_" + std::to_string(getpid());
  ASSERT_EQ(std::system(("mkdir -p '" + dir + "'").c_str()), 0);
  const std::string alpha = dir + "/disc.png", keyed = dir + "/disc.bmp";
  if (std::system(("convert -size 20x20 xc:none -fill white -draw 'circle 9.5,9.5 9.5,1' png32:'" + alpha +
                   "' && convert -size 20x20 xc:black -fill white -draw 'circle 9.5,9.5 9.5,1' -type truecolor '" +
                   keyed + "'").c_str()) != 0)
    GTEST_SKIP() << "no ImageMagick";
  ASSERT_EQ(Run(".table 0 { loadalpha = 1 }\n.call base=1 loadbrush 1 \"" + alpha + "\" r0\n"
                ".table 0 { transparency = 0 }\n.call base=1 loadbrush 2 \"" + keyed + "\" r0"),
            0);
  ASSERT_NE(Brush(1)->alpha, nullptr);
  ASSERT_NE(Brush(2)->mask, nullptr);
  for (int b : {1, 2}) {
    const std::string n = std::to_string(b);
    ASSERT_EQ(Run(".call collision 3 " + n + " 0 0 " + n + " 17 17 -> apart\n.call collision 3 " + n + " 0 0 " + n +
                  " 6 6 -> near\n.call collision 46 " + n + " 0 0 17 17 3 3 -> corner\n.call collision 46 " + n +
                  " 0 0 8 8 3 3 -> middle"),
              0);
    EXPECT_EQ(Num("apart"), 0) << "brush " << b;
    EXPECT_EQ(Num("near"), 1) << "brush " << b;
    EXPECT_EQ(Num("corner"), 0) << "brush " << b;
    EXPECT_EQ(Num("middle"), 1) << "brush " << b;
  }
  // The alpha disc against the keyed one.
  ASSERT_EQ(Run(".call collision 3 1 0 0 2 17 17 -> mixed"), 0);
  EXPECT_EQ(Num("mixed"), 0);
  std::system(("rm -rf '" + dir + "'").c_str());
}

}  // namespace

namespace {

// DisplayBrush on a 40x30 display shown at twice its size, with each scale
// mode, with layers on and off: the brush reaches the window, scaled.
class ScaledDisplayBrush : public vltest::DisplayTest, public testing::WithParamInterface<std::tuple<int, bool>> {
 protected:
  void SetUp() override {
    DisplayTest::SetUp();
    if (!started_) return;
    ASSERT_EQ(OpenBrushLib(L), 0);
    ASSERT_EQ(OpenLayersLib(L), 0);
  }
  void TearDown() override {
    if (started_) {
      ShutdownLayerSystem(L);
      FreeBrushLib(L);
    }
    DisplayTest::TearDown();
  }
};

TEST_P(ScaledDisplayBrush, ReachesTheWindow) {
  const auto [mode, layers] = GetParam();
  ASSERT_EQ(Run(".table 0 { width = 40, height = 30, color = 0, scalemode = " + std::to_string(mode) +
                ", scalewidth = 80, scaleheight = 60 }\n.call base=1 createdisplay 1 r0\n.call opendisplay 1\n" +
                (layers ? ".call enablelayers\n" : "") + ".call createbrush 1 10 10 16711680\n.call displaybrush 1 5 5"),
            0);
  vlDisplay* d = GetDisplayByNumber(1);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(WindowPixel(d, 12, 12), 0xFF0000u);
  EXPECT_EQ(WindowPixel(d, 28, 28), 0xFF0000u);
  EXPECT_EQ(WindowPixel(d, 31, 31), 0u);
  EXPECT_EQ(WindowPixel(d, 8, 8), 0u);
}

INSTANTIATE_TEST_SUITE_P(ScaleModes, ScaledDisplayBrush, testing::Combine(testing::Values(1, 2), testing::Values(false, true)));

}  // namespace
