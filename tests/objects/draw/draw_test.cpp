// The draw library driven by assembled scripts on a private X server:
// the draw-state commands and their rules, shapes, lines and points read
// back from the window as pixel maps worked out by hand, layers made by
// shapes, and the error codes of bad arguments.
#include "tests/display/core/display_fixture.h"

#include <string>
#include <vector>

#include "display/commands/layers_library.h"
#include "display/layers/layers.h"
#include "graphics/bitmap.h"
#include "graphics/pixel_format.h"
#include "objects/anims/anim.h"
#include "objects/brushes/brush.h"
#include "objects/draw/draw_state.h"
#include "objects/draw/shape_render.h"
#include "objects/sprites/sprite.h"
#include "player/system_library.h"
#include "runtime/script_version.h"
#include "vm/error_codes.h"

namespace {

class DrawTest : public vltest::DisplayTest {
 protected:
  void SetUp() override {
    DisplayTest::SetUp();
    if (!started_) return;
    ASSERT_EQ(OpenBrushLib(L), 0);
    ASSERT_EQ(OpenLayersLib(L), 0);
    ASSERT_EQ(OpenDrawLib(L), 0);
  }
  void TearDown() override {
    if (started_) {
      vlLegacyLineBasedShapes = 0;
      ShutdownLayerSystem(L);
      FreeBrushLib(L);
      FreeDrawBuffers();
    }
    DisplayTest::TearDown();
  }
  // A 64 x 48 display on a black background.
  vlDisplay* Open(int w = 64, int h = 48) {
    EXPECT_EQ(Run(".table 0 { width = " + std::to_string(w) + ", height = " + std::to_string(h) +
                  ", color = 0 }\n.call base=1 createdisplay 1 r0\n.call opendisplay 1"),
              0);
    vlDisplay* d = GetDisplayByNumber(1);
    EXPECT_NE(d, nullptr);
    return d;
  }
  // '#' where the window shows the colour, '.' elsewhere.
  std::vector<std::string> Map(vlDisplay* d, int x0, int y0, int w, int h, uint32_t color) {
    XSync(d->window->display, False);
    XImage* image = XGetImage(probe_, d->window->window, x0, y0, w, h, AllPlanes, ZPixmap);
    std::vector<std::string> rows;
    for (int y = 0; y < h; ++y) {
      std::string row;
      for (int x = 0; x < w; ++x)
        row += image && (XGetPixel(image, x, y) & 0xFFFFFF) == color ? '#' : '.';
      rows.push_back(row);
    }
    if (image) XDestroyImage(image);
    return rows;
  }
  int CountInColumn(vlDisplay* d, int x, uint32_t color) {
    int n = 0;
    for (const std::string& row : Map(d, x, 0, 1, d->height, color)) n += row[0] == '#';
    return n;
  }
};

constexpr uint32_t kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF, kWhite = 0xFFFFFF;

TEST_F(DrawTest, DrawStateCommandsKeepTheirRules) {
  vlDrawState* s = GetDrawState();
  EXPECT_EQ(s->fillStyle, VL_FILLNONE);
  EXPECT_EQ(s->formStyle, VL_FORM_NORMAL);
  EXPECT_EQ(s->edgeColor, 0x0093DDu);
  EXPECT_EQ(s->shadowDirection, 3u);
  EXPECT_EQ(s->gradient.startColor, 0x0000FFu);
  // SHADOW alone turns the shadow on with what is stored.
  ASSERT_EQ(Run(".call setformstyle 32"), 0);
  EXPECT_EQ(s->formStyle, 33u);
  EXPECT_EQ(s->shadowSize, 4);
  ASSERT_EQ(Run(".call setformstyle 32 255 0 -1"), 0);
  EXPECT_EQ(s->shadowColor, 255u);
  EXPECT_EQ(s->shadowSize, 1);
  EXPECT_EQ(s->shadowDirection, 3u);
  ASSERT_EQ(Run(".call setformstyle 32 255 100 8"), 0);
  EXPECT_EQ(s->shadowSize, 64);
  EXPECT_EQ(s->shadowDirection, 3u);
  ASSERT_EQ(Run(".call setformstyle 32 255 10 7"), 0);
  EXPECT_EQ(s->shadowDirection, 7u);
  // EDGE with four arguments reads none of them.
  ASSERT_EQ(Run(".call setformstyle 64 65280 9 1"), 0);
  EXPECT_EQ(s->edgeColor, 0x0093DDu);
  EXPECT_EQ(s->edgeSize, 2);
  EXPECT_EQ(s->formStyle & 64u, 64u);
  ASSERT_EQ(Run(".call setformstyle 64 65280 0"), 0);
  EXPECT_EQ(s->edgeColor, 0x00FF00u);
  EXPECT_EQ(s->edgeSize, 1);
  // NORMAL with anything else turns every effect off.
  ASSERT_EQ(Run(".call setformstyle 33"), 0);
  EXPECT_EQ(s->formStyle, 1u);
  EXPECT_EQ(Run(".call setformstyle 16 1"), ERR_TOOMANYARGS);
  EXPECT_EQ(s->formStyle, 1u);
  ASSERT_EQ(Run(".call setformstyle 16"), 0);
  EXPECT_EQ(s->formStyle, 17u);
  // Fill styles and the line width.
  ASSERT_EQ(Run(".call setfillstyle 0 5"), 0);
  EXPECT_EQ(s->lineWidth, 5);
  ASSERT_EQ(Run(".call setfillstyle 0"), 0);
  EXPECT_EQ(s->lineWidth, 1);
  EXPECT_EQ(Run(".call setlinewidth 0"), ERR_WRONGUSAGE);
  EXPECT_EQ(s->lineWidth, 1);
  ASSERT_EQ(Run(".call setlinewidth 7"), 0);
  EXPECT_EQ(s->lineWidth, 7);
  EXPECT_EQ(Run(".call setfillstyle 9"), ERR_WRONGUSAGE);
  EXPECT_EQ(s->fillStyle, 9u);  // until the next normalisation
  ASSERT_EQ(Run(".call setlinewidth 2"), 0);
  EXPECT_EQ(s->fillStyle, 0u);
  ASSERT_EQ(Run(".call setfillstyle 2 0 255 16711680"), 0);
  EXPECT_EQ(s->fillStyle, 2u);
  EXPECT_EQ(s->gradient.type, 2u);
  EXPECT_EQ(s->gradient.startColor, 255u);
  EXPECT_EQ(s->gradient.endColor, 0xFF0000u);
  EXPECT_EQ(Run(".call setfillstyle 2 0 255"), ERR_NUMEXPECTED);
  ASSERT_EQ(Run(".call setfillstyle 3 12 4 5"), 0);
  EXPECT_EQ(s->textureBrush.number, 12);
  EXPECT_EQ(s->textureX, 4);
  EXPECT_EQ(s->textureY, 5);
  EXPECT_EQ(Run(".call setformstyle"), ERR_MISSINGPARAMTR);
  EXPECT_EQ(Run(".call setformstyle 1 2 3 4 5"), ERR_TOOMANYARGS);
}

TEST_F(DrawTest, BoxesOutlinesAndFillsOnTheWindow) {
  vlDisplay* d = Open();
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(Run(".call box 2 2 5 4 16711680"), 0);
  EXPECT_EQ(Map(d, 1, 1, 7, 6, kRed), (std::vector<std::string>{".......", ".#####.", ".#...#.", ".#...#.",
                                                                  ".#####.", "......."}));
  ASSERT_EQ(Run(".call setfillstyle 1\n.call box 10 10 3 2 65280"), 0);
  EXPECT_EQ(Map(d, 9, 9, 5, 4, kGreen), (std::vector<std::string>{".....", ".###.", ".###.", "....."}));
  // A thick outline without layers: the stroke is drawn into the pixels.
  ASSERT_EQ(Run(".call setfillstyle 0 3\n.call box 30 20 10 10 255"), 0);
  EXPECT_EQ(WindowPixel(d, 30, 25), kBlue);
  EXPECT_EQ(WindowPixel(d, 29, 25), kBlue);
  EXPECT_EQ(WindowPixel(d, 35, 25), 0u);
  // ReadPixel reads the display's picture; one pixel right of it is out.
  ASSERT_EQ(Run(".call readpixel 10 10 -> p"), 0);
  EXPECT_EQ(Num("p"), double(kGreen));
  EXPECT_EQ(Run(".call readpixel 64 0"), ERR_PIXELRANGE);
  EXPECT_EQ(Run(".call readpixel 0 -1"), ERR_PIXELRANGE);
  // Argument checks.
  EXPECT_EQ(Run(".call box 1 1 0 5"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call box 1 1 5"), ERR_MISSINGPARAMTR);
  EXPECT_EQ(Run(".call box 1 1 5 5 0 0 0 0"), ERR_TOOMANYARGS);
}

TEST_F(DrawTest, ShadowAndEdgeAroundFilledBoxes) {
  vlDisplay* d = Open();
  ASSERT_NE(d, nullptr);
  // A shadow of 4 towards the north-west: a 14 x 14 area from 4 up and left.
  ASSERT_EQ(Run(".call setfillstyle 1\n.call setformstyle 32 65280 4 7\n.call box 20 20 10 10 16711680"), 0);
  EXPECT_EQ(WindowPixel(d, 16, 16), kGreen);
  EXPECT_EQ(WindowPixel(d, 25, 17), kGreen);
  EXPECT_EQ(WindowPixel(d, 26, 17), 0u);
  EXPECT_EQ(WindowPixel(d, 15, 16), 0u);
  EXPECT_EQ(WindowPixel(d, 20, 20), kRed);
  EXPECT_EQ(WindowPixel(d, 29, 29), kRed);
  EXPECT_EQ(WindowPixel(d, 30, 30), 0u);
  // An edge of 2 around the box, and the shadow then follows the edge.
  ASSERT_EQ(Run(".call cls\n.call setformstyle 1\n.call setformstyle 64 255 2\n.call box 20 20 10 10 16711680"), 0);
  EXPECT_EQ(Map(d, 17, 17, 16, 16, kBlue)[0], "................");
  EXPECT_EQ(Map(d, 17, 17, 16, 16, kBlue)[1], ".##############.");
  EXPECT_EQ(Map(d, 17, 17, 16, 16, kRed)[3], "...##########...");
  // Without a fill, shadow and edge play no part.
  ASSERT_EQ(Run(".call cls\n.call setformstyle 32\n.call setfillstyle 0\n.call box 20 20 10 10 16711680"), 0);
  EXPECT_EQ(WindowPixel(d, 18, 18), 0u);
  EXPECT_EQ(WindowPixel(d, 31, 31), 0u);
  EXPECT_EQ(WindowPixel(d, 20, 20), kRed);
  EXPECT_EQ(WindowPixel(d, 21, 21), 0u);
}

TEST_F(DrawTest, CirclesArcsAndPolygonsFollowTheirOutlines) {
  vlDisplay* d = Open();
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(Run(".call setfillstyle 1"), 0);
  // Radius 2: a diamond of 90-degree steps; (x, y) is the box corner.
  ASSERT_EQ(Run(".call circle 10 10 2 16777215"), 0);
  EXPECT_EQ(Map(d, 10, 10, 5, 5, kWhite),
            (std::vector<std::string>{"..#..", ".###.", "#####", ".###.", "..#.."}));
  // A quarter pie from 0 to 90 degrees clockwise includes the centre.
  ASSERT_EQ(Run(".call cls\n.call arc 20 20 4 4 0 90 255"), 0);
  EXPECT_EQ(WindowPixel(d, 24, 24), kBlue);  // centre
  EXPECT_EQ(WindowPixel(d, 28, 24), kBlue);
  EXPECT_EQ(WindowPixel(d, 24, 28), kBlue);
  EXPECT_EQ(WindowPixel(d, 26, 25), kBlue);
  EXPECT_EQ(WindowPixel(d, 20, 24), 0u);
  EXPECT_EQ(WindowPixel(d, 24, 20), 0u);
  EXPECT_EQ(WindowPixel(d, 28, 28), 0u);
  // Anticlockwise: the other three quarters.
  ASSERT_EQ(Run(".call cls\n.call arc 20 20 4 4 0 90 255 0"), 0);
  EXPECT_EQ(WindowPixel(d, 20, 24), kBlue);
  EXPECT_EQ(WindowPixel(d, 24, 20), kBlue);
  EXPECT_EQ(WindowPixel(d, 22, 22), kBlue);
  EXPECT_EQ(WindowPixel(d, 26, 25), 0u);
  // Equal angles draw nothing; negative ones are refused.
  ASSERT_EQ(Run(".call cls\n.call arc 20 20 4 4 90 90 255"), 0);
  EXPECT_EQ(Map(d, 20, 20, 9, 9, kBlue), std::vector<std::string>(9, "........."));
  EXPECT_EQ(Run(".call arc 20 20 4 4 -10 90 255"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call circle 20 20 0"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call ellipse 20 20 3 0"), ERR_WRONGUSAGE);
  // A right triangle: the vertex table need not be closed.
  ASSERT_EQ(Run(".table 0 { [0] = 0, [1] = 0, [2] = 4, [3] = 0, [4] = 0, [5] = 4 }\n"
                ".call base=1 polygon 40 10 r0 3 65280"),
            0);
  EXPECT_EQ(Map(d, 40, 10, 5, 5, kGreen),
            (std::vector<std::string>{"#####", "####.", "###..", "##...", "#...."}));
  EXPECT_EQ(Run(".table 0 { [0] = 0, [1] = 0 }\n.call base=1 polygon 40 10 r0 1"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".table 0 { [0] = 0, [1] = 0 }\n.call base=1 polygon 40 10 r0 1000"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call polygon 40 10 5 3"), ERR_TABEXPECTED);
  EXPECT_EQ(Run(".table 0 { [0] = 0, [1] = 0, [2] = \"x\", [3] = 1 }\n.call base=1 polygon 40 10 r0 2"),
            ERR_NUMTABLEARG);
}

TEST_F(DrawTest, PolygonEdgesAreMitredOutwards) {
  vlDisplay* d = Open();
  ASSERT_NE(d, nullptr);
  // A square polygon grown by an edge of 2: the edge lies outside on
  // every side, whatever the direction the vertices run.
  for (const char* square : {"[0] = 0, [1] = 0, [2] = 9, [3] = 0, [4] = 9, [5] = 9, [6] = 0, [7] = 9",
                             "[0] = 0, [1] = 0, [2] = 0, [3] = 9, [4] = 9, [5] = 9, [6] = 9, [7] = 0"}) {
    SCOPED_TRACE(square);
    ASSERT_EQ(Run(".call cls\n.call setfillstyle 1\n.call setformstyle 64 255 2\n.table 0 { " + std::string(square) +
                  " }\n.call base=1 polygon 20 20 r0 4 16711680"),
              0);
    EXPECT_EQ(WindowPixel(d, 18, 18), kBlue);
    EXPECT_EQ(WindowPixel(d, 31, 31), kBlue);
    EXPECT_EQ(WindowPixel(d, 17, 17), 0u);
    EXPECT_EQ(WindowPixel(d, 32, 25), 0u);
    EXPECT_EQ(WindowPixel(d, 20, 20), kRed);
    EXPECT_EQ(WindowPixel(d, 29, 29), kRed);
  }
}

TEST_F(DrawTest, LinesClipAndClampTheirThickness) {
  vlDisplay* d = Open();
  ASSERT_NE(d, nullptr);
  // Clipped at x = 0, drawn from 0 to 10.
  ASSERT_EQ(Run(".call line 10 5 -20 5 16777215"), 0);
  EXPECT_EQ(Map(d, 0, 5, 12, 1, kWhite)[0], "###########.");
  EXPECT_EQ(Map(d, 0, 4, 12, 1, kWhite)[0], "............");
  // A line wholly outside draws nothing and succeeds.
  ASSERT_EQ(Run(".call line -10 -5 -20 -5 16777215"), 0);
  // A diagonal of thickness 1.
  ASSERT_EQ(Run(".call cls\n.call line 2 2 6 6 65280"), 0);
  EXPECT_EQ(Map(d, 2, 2, 5, 5, kGreen),
            (std::vector<std::string>{"#....", ".#...", "..#..", "...#.", "....#"}));
  // Thickness 0 draws with 1, 100 with 64.
  ASSERT_EQ(Run(".call cls\n.call line 20 24 40 24 255 0"), 0);
  EXPECT_EQ(CountInColumn(d, 30, kBlue), 1);
  ASSERT_EQ(Run(".call cls\n.call line 10 24 50 24 255 64"), 0);
  const int at64 = CountInColumn(d, 30, kBlue);
  EXPECT_GE(at64, 40);  // the display is 48 high
  ASSERT_EQ(Run(".call cls\n.call line 10 24 50 24 255 100"), 0);
  EXPECT_EQ(CountInColumn(d, 30, kBlue), at64);
  ASSERT_EQ(Run(".call cls\n.call line 10 24 50 24 255 5"), 0);
  EXPECT_GE(CountInColumn(d, 30, kBlue), 5);
  EXPECT_LE(CountInColumn(d, 30, kBlue), 6);
  // A transparent colour blends into the picture through an alpha plane.
  ASSERT_EQ(Run(".call cls\n.call line 5 30 20 30 2164260863"), 0);  // 0x80FFFFFF
  const uint32_t p = WindowPixel(d, 10, 30);
  EXPECT_EQ(p, MixColors(0, kWhite, 127));
}

TEST_F(DrawTest, ThickLinesWithFarEndsDrawWhatTheWindowShows) {
  vlDisplay* d = Open();
  ASSERT_NE(d, nullptr);
  // The part on the window is the same as that of a line ending nearby.
  ASSERT_EQ(Run(".call line 0 0 100 100 255 3"), 0);
  const auto nearby = Map(d, 0, 0, 64, 48, kBlue);
  EXPECT_NE(nearby[20].find("###"), std::string::npos);
  for (const char* far : {"100000", "1000000", "2147483647"}) {
    ASSERT_EQ(Run(std::string(".call cls\n.call line 0 0 ") + far + " " + far + " 255 3"), 0) << far;
    EXPECT_EQ(Map(d, 0, 0, 64, 48, kBlue), nearby) << far;
  }
  // Both ends far off, anti-aliased too.
  ASSERT_EQ(Run(".call cls\n.call line -10 24 80 24 65280 5"), 0);
  const int across = CountInColumn(d, 30, kGreen);
  ASSERT_GE(across, 5);
  ASSERT_EQ(Run(".call cls\n.call line -2147483648 24 2147483647 24 65280 5"), 0);
  EXPECT_EQ(CountInColumn(d, 30, kGreen), across);
  EXPECT_EQ(CountInColumn(d, 0, kGreen), across);
  ASSERT_EQ(Run(".call setformstyle 16\n.call cls\n.call line -1000000 10 1000000 10 65280 3"), 0);
  EXPECT_GE(CountInColumn(d, 40, kGreen), 1);
}

TEST_F(DrawTest, PlotPassesOverOnlyTheSpritePixelsThatShow) {
  if (!started_) GTEST_SKIP();
  vlDisplay* d = Open();
  ASSERT_EQ(OpenAnimLib(L), 0);
  ASSERT_EQ(OpenSpriteLib(L), 0);
  // Sprite 1: a red 4 x 4 frame whose mask is cleared at (1, 1); sprite 2
  // has no mask at all.
  ASSERT_EQ(Run(".table 0 { mask = 1 }\n.call base=1 createbrush 1 4 4 16711680 r0\n"
                ".call createbrush 2 4 4 255"),
            0);
  vlBrush* b = nullptr;
  ASSERT_EQ(GetBrushByID(L, {1, nullptr}, &b, 0), 0);
  ASSERT_NE(b->mask, nullptr);
  WriteBitmapPixel(b->mask, 1, 1, 1, 1);
  ASSERT_EQ(Run(".call createsprite 1 3 1\n.call createsprite 2 3 2\n.call displaysprite 1 10 10\n"
                ".call displaysprite 2 30 10"),
            0);
  EXPECT_EQ(WindowPixel(d, 11, 11), 0u);  // the cleared mask bit shows the background
  ASSERT_EQ(Run(".call plot 11 11 65280\n.call plot 10 10 65280\n.call plot 31 11 65280\n.call plot 20 20 65280"), 0);
  // Only the point under the sprite's transparent pixel is drawn.
  EXPECT_EQ(WindowPixel(d, 11, 11), kGreen);
  EXPECT_EQ(WindowPixel(d, 10, 10), kRed);
  EXPECT_EQ(WindowPixel(d, 31, 11), kBlue);
  EXPECT_EQ(WindowPixel(d, 20, 20), kGreen);
  // Cls takes the sprites off with the drawing.
  ASSERT_EQ(Run(".call cls"), 0);
  EXPECT_EQ(WindowPixel(d, 10, 10), 0u);
  EXPECT_EQ(WindowPixel(d, 31, 11), 0u);
  EXPECT_EQ(WindowPixel(d, 20, 20), 0u);
  ASSERT_EQ(Run(".call displaysprite 1 10 10"), 0);
  EXPECT_EQ(WindowPixel(d, 10, 10), kRed);
  ASSERT_EQ(Run(".call removesprites"), 0);
  FreeSpriteLibrary(L);
  FreeAnimLibrary(L);
}

TEST_F(DrawTest, TransparentBoxFramesBlendEveryPixelOnce) {
  if (!started_) GTEST_SKIP();
  vlDisplay* d = Open();
  // Half-transparent white over black: 0x7F or 0x80 everywhere on the
  // frame, corners included; a pixel blended twice would be brighter.
  // The box (bx0, by0)-(bx1, by1) inclusive, checked over a window area.
  auto expectFrame = [&](int x0, int y0, int w, int h, int bx0, int by0, int bx1, int by1) {
    for (int y = y0; y < y0 + h; ++y)
      for (int x = x0; x < x0 + w; ++x) {
        const bool inside = x >= bx0 && y >= by0 && x <= bx1 && y <= by1;
        const bool edge = x == bx0 || y == by0 || x == bx1 || y == by1;
        const uint32_t p = WindowPixel(d, x, y);
        if (!inside || !edge) {
          EXPECT_EQ(p, 0u) << x << "," << y;
        } else {
          EXPECT_TRUE((p & 0xFF) == 0x7F || (p & 0xFF) == 0x80) << std::hex << p << " at " << std::dec << x << ","
                                                                 << y;
          EXPECT_TRUE(p == (p & 0xFF) * 0x010101u) << x << "," << y;
        }
      }
  };
  ASSERT_EQ(Run(".call box 4 4 6 5 2147483647"), 0);  // 0x7FFFFFFF
  expectFrame(3, 3, 8, 7, 4, 4, 9, 8);
  ASSERT_EQ(Run(".call box 20 20 5 1 2147483647"), 0);  // one pixel high: a single strip
  expectFrame(19, 19, 7, 3, 20, 20, 24, 20);
  // Boxes cut by the display's edges: the cut sides are not drawn and the
  // corner pixels they owned are drawn once by the sides that remain.
  ASSERT_EQ(Run(".call cls\n.call box -2 -1 6 5 2147483647"), 0);
  expectFrame(0, 0, 5, 5, -2, -1, 3, 3);
  ASSERT_EQ(Run(".call box 60 45 6 5 2147483647"), 0);
  expectFrame(58, 43, 6, 5, 60, 45, 65, 49);
  ASSERT_EQ(Run(".call box 30 -2 6 5 2147483647"), 0);
  expectFrame(29, 0, 8, 4, 30, -2, 35, 2);
}

TEST_F(DrawTest, PlotReadPixelAndCls) {
  vlDisplay* d = Open();
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(Run(".call plot 5 5 16711680\n.call plot 6 5 2164195328"), 0);  // 0x80FF0000
  EXPECT_EQ(WindowPixel(d, 5, 5), kRed);
  EXPECT_EQ(WindowPixel(d, 6, 5), MixColors(0, kRed, 127));
  // Outside the target: nothing drawn, no error.
  ASSERT_EQ(Run(".call plot 64 5 255\n.call plot -1 5 255"), 0);
  ASSERT_EQ(Run(".call readpixel 5 5 -> p"), 0);
  EXPECT_EQ(Num("p"), double(kRed));
  // Cls on a display shows the background picture, not the colour.
  ASSERT_EQ(Run(".call setfillstyle 1\n.call box 0 0 64 48 65280\n.call cls 16711680"), 0);
  EXPECT_EQ(WindowPixel(d, 5, 5), 0u);
  EXPECT_EQ(WindowPixel(d, 40, 40), 0u);
  // With layers, Plot is refused and Cls frees the layers.
  ASSERT_EQ(Run(".call enablelayers"), 0);
  EXPECT_EQ(Run(".call plot 5 5 255"), ERR_LAYERSUPPORT2);
  ASSERT_EQ(Run(".call box 2 2 10 10 255\n.call box 20 2 10 10 255"), 0);
  EXPECT_EQ(CountLayers(d->bgpic), 2);
  EXPECT_EQ(WindowPixel(d, 5, 5), kBlue);
  ASSERT_EQ(Run(".call cls"), 0);
  EXPECT_EQ(CountLayers(d->bgpic), 0);
  EXPECT_EQ(WindowPixel(d, 5, 5), 0u);
}

TEST_F(DrawTest, TextureAndGradientFills) {
  vlDisplay* d = Open();
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(Run(".call createbrush 3 2 2 16711680\n.call writebrushpixel 3 1 0 65280\n"
                ".call writebrushpixel 3 0 1 255\n.call writebrushpixel 3 1 1 16777215"),
            0);
  ASSERT_EQ(Run(".call setfillstyle 3 3\n.call box 10 10 4 3 0"), 0);
  EXPECT_EQ(WindowPixel(d, 10, 10), kRed);
  EXPECT_EQ(WindowPixel(d, 11, 10), kGreen);
  EXPECT_EQ(WindowPixel(d, 12, 10), kRed);
  EXPECT_EQ(WindowPixel(d, 10, 11), kBlue);
  EXPECT_EQ(WindowPixel(d, 13, 11), kWhite);
  EXPECT_EQ(WindowPixel(d, 10, 12), kRed);
  EXPECT_EQ(WindowPixel(d, 14, 10), 0u);
  // Tiling starts at the texture offset inside the brush.
  ASSERT_EQ(Run(".call setfillstyle 3 3 1 0\n.call box 20 10 2 2 0"), 0);
  EXPECT_EQ(WindowPixel(d, 20, 10), kGreen);
  EXPECT_EQ(WindowPixel(d, 21, 10), kRed);
  // A texture brush that does not exist is the command's error.
  EXPECT_EQ(Run(".call setfillstyle 3 99\n.call box 20 10 2 2 0"), ERR_FINDBRUSH);
  // A texture through the polygon path (a circle) keeps the tile.
  ASSERT_EQ(Run(".call cls\n.call setfillstyle 3 3\n.call circle 30 30 5 0"), 0);
  EXPECT_EQ(WindowPixel(d, 35, 35), kWhite);
  // A linear gradient at 0 degrees runs from the start colour at the top
  // to the end colour at the bottom.
  ASSERT_EQ(Run(".call cls\n.call setfillstyle 2 0 16711680 255\n.call box 40 0 4 48 0"), 0);
  const uint32_t left = WindowPixel(d, 41, 0), right = WindowPixel(d, 41, 47);
  EXPECT_GE(left >> 16, 0xF0u);
  EXPECT_LE(left & 0xFF, 0x10u);
  EXPECT_GE(right & 0xFF, 0xF0u);
  EXPECT_LE(right >> 16, 0x10u);
}

TEST_F(DrawTest, AntiAliasedShapesHaveSoftEdges) {
  vlDisplay* d = Open();
  ASSERT_NE(d, nullptr);
  auto softPixels = [&]() {
    XSync(d->window->display, False);
    XImage* image = XGetImage(probe_, d->window->window, 0, 0, 64, 48, AllPlanes, ZPixmap);
    int soft = 0;
    for (int y = 0; y < 48; ++y)
      for (int x = 0; x < 64; ++x) {
        const uint32_t g = XGetPixel(image, x, y) & 0xFF;
        soft += g != 0 && g != 0xFF;
      }
    XDestroyImage(image);
    return soft;
  };
  ASSERT_EQ(Run(".call setfillstyle 1\n.call ellipse 10 10 20 10 16777215"), 0);
  EXPECT_EQ(softPixels(), 0);
  // The direct coverage path (script version 6.0 and later).
  ASSERT_EQ(Run(".call cls\n.call setformstyle 16\n.call ellipse 10 10 20 10 16777215"), 0);
  EXPECT_GT(softPixels(), 20);
  EXPECT_EQ(WindowPixel(d, 30, 20), kWhite);
  EXPECT_EQ(WindowPixel(d, 10, 10), 0u);
  // The legacy line-based shapes: a polygon filled with anti-aliasing.
  vlLegacyLineBasedShapes = 1;
  ASSERT_EQ(Run(".call cls\n.call ellipse 10 10 20 10 16777215"), 0);
  EXPECT_GT(softPixels(), 20);
  EXPECT_EQ(WindowPixel(d, 30, 20), kWhite);
  EXPECT_EQ(WindowPixel(d, 10, 10), 0u);
  // An anti-aliased line.
  ASSERT_EQ(Run(".call cls\n.call line 2 2 40 13 16777215"), 0);
  EXPECT_GT(softPixels(), 10);
  // An outline scaled twice is twice as thick (6 for a width of 3), drawn
  // by the direct coverage path as by the polygon: the rasteriser scales
  // the stroke itself.
  for (uint32_t legacy : {0u, 1u}) {
    vlLegacyLineBasedShapes = legacy;
    ASSERT_EQ(Run(".call cls\n.call setfillstyle 0\n.call setlinewidth 3\n.table 0 { scalex = 2, scaley = 2 }\n"
                  ".call base=1 ellipse 10 4 10 5 16777215 r0"),
              0);
    int ring = 0;
    for (int y = 0; y < 48; ++y) ring += (WindowPixel(d, 31, y) & 0xFF) >= 0x80;
    EXPECT_GE(ring, 11) << "legacy " << legacy;
    EXPECT_LE(ring, 16) << "legacy " << legacy;  // a polyline 6 thick lights 7 or 8
  }
}

TEST_F(DrawTest, TagsTintAndFilterTheShape) {
  vlDisplay* d = Open();
  ASSERT_NE(d, nullptr);
  const std::vector<std::string> box{"......", ".####.", ".####.", ".####.", "......"};
  // A full tint turns the red box into the tint colour.
  ASSERT_EQ(Run(".call setfillstyle 1\n.table 0 { tint = 255, tintcolor = 255 }\n"
                ".call base=1 box 2 2 4 3 16711680 r0"),
            0);
  EXPECT_EQ(Map(d, 1, 1, 6, 5, kBlue), box);
  // The inverted red box is cyan, on the outline too.
  ASSERT_EQ(Run(".table 0 { filters = { [0] = { name = \"invert\" } } }\n"
                ".call base=1 box 12 2 4 3 16711680 r0\n.call base=1 box 22 2 4 3 16711680 1 r0"),
            0);
  EXPECT_EQ(Map(d, 11, 1, 6, 5, 0x00FFFF), box);
  EXPECT_EQ(Map(d, 21, 1, 6, 5, 0x00FFFF), box);
  // A half tint mixes.
  ASSERT_EQ(Run(".table 0 { tint = \"50%\", tintcolor = 255 }\n.call base=1 circle 40 10 3 16711680 r0"), 0);
  const uint32_t mixed = WindowPixel(d, 43, 13);  // the centre
  EXPECT_NE(mixed & 0xFF, 0u);
  EXPECT_NE(mixed & 0xFF0000, 0u);
  EXPECT_EQ(mixed & 0x00FF00, 0u);
  // With layers the tint is the layer's tint slot.
  ASSERT_EQ(Run(".call enablelayers\n.table 0 { tint = 255, tintcolor = 65280 }\n"
                ".call base=1 box 2 20 4 3 16711680 r0"),
            0);
  vlLayer* layer = GetLayerByPos(d->bgpic, 1);
  ASSERT_NE(layer, nullptr);
  EXPECT_NE(layer->filters[16].active, 0);
  EXPECT_EQ(WindowPixel(d, 3, 21), kGreen);
  EXPECT_EQ(Run(".table 0 { filters = 5 }\n.call base=1 box 2 2 4 3 0 r0"), ERR_TABEXPECTED2);
  EXPECT_EQ(Run(".table 0 { filters = { [0] = { name = \"sparkle\" } } }\n.call base=1 box 2 2 4 3 0 r0"),
            kErrFilterUnknown);
}

// Shapes drawn into a selected brush, its mask or its alpha channel land
// in that plane only, clipped to the brush.
TEST_F(DrawTest, ShapesDrawIntoSelectedBrushMaskAndAlpha) {
  vlDisplay* d = Open();
  ASSERT_NE(d, nullptr);
  auto brush = [&](int n) {
    vlBrush* b = nullptr;
    return GetBrushByID(L, {n, nullptr}, &b, VL_BRUSH_HARDWAREOK) == 0 ? b : nullptr;
  };
  // '#' where the test holds, '.' elsewhere, row by row.
  auto grid = [](int w, int h, auto&& test) {
    std::vector<std::string> rows(h, std::string(w, '.'));
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        if (test(x, y)) rows[y][x] = '#';
    return rows;
  };
  auto colourMap = [&](vlBitmap* bitmap, uint32_t colour) {
    return grid(bitmap->width, bitmap->height,
                [&](int x, int y) { return (ReadBitmapPixel(bitmap, x, y, 0) & 0xFFFFFF) == colour; });
  };
  ASSERT_EQ(Run(".call createbrush 1 8 6 0\n.call selectbrush 1\n.call box 1 1 4 3 16711680\n"
                ".call line 0 5 9 5 65280\n.call circle 6 1 1 255\n.call endselect"),
            0);
  vlBrush* b = brush(1);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(colourMap(b->bitmap, kRed),
            (std::vector<std::string>{"........", ".####...", ".#..#...", ".####...", "........", "........"}));
  EXPECT_EQ(colourMap(b->bitmap, kGreen),
            (std::vector<std::string>{"........", "........", "........", "........", "........", "########"}));
  EXPECT_EQ(colourMap(b->bitmap, kBlue),
            (std::vector<std::string>{"........", ".......#", "......#.", ".......#", "........", "........"}));
  // The radius-1 circle is a diamond in the box from (6, 1), its right
  // point cut off by the brush edge. Nothing reached the window.
  EXPECT_EQ(WindowPixel(d, 1, 1), 0u);
  EXPECT_EQ(WindowPixel(d, 3, 5), 0u);

  // The mask: the cleared bits are set where the shapes go; the colours stay.
  ASSERT_EQ(Run(".table 0 { mask = 1, clear = 1 }\n.call base=1 createbrush 2 8 6 255 r0\n"
                ".call setfillstyle 1\n.call selectmask 2\n.call box 2 1 3 2 16711680\n"
                ".call line 0 4 7 4 16711680\n.call endselect"),
            0);
  b = brush(2);
  ASSERT_NE(b, nullptr);
  ASSERT_NE(b->mask, nullptr);
  EXPECT_EQ(grid(8, 6, [&](int x, int y) { return ReadBitmapPixel(b->mask, x, y, 1) != 0; }),
            (std::vector<std::string>{"........", "..###...", "..###...", "........", "########", "........"}));
  EXPECT_EQ(colourMap(b->bitmap, kBlue), std::vector<std::string>(6, "########"));

  // The alpha channel: drawn pixels become opaque, the rest stays clear.
  ASSERT_EQ(Run(".table 0 { alphachannel = 1, clear = 1 }\n.call base=1 createbrush 3 6 5 255 r0\n"
                ".call selectalphachannel 3\n.call box 1 1 3 3 65280\n.call circle 3 2 1 65280\n.call endselect"),
            0);
  b = brush(3);
  ASSERT_NE(b, nullptr);
  ASSERT_NE(b->alpha, nullptr);
  auto* plane = static_cast<vlPlane*>(b->alpha->handle);
  // Every byte is either untouched (0) or drawn (255).
  EXPECT_EQ(grid(6, 5, [&](int x, int y) { return plane->pixels[y * plane->rowBytes + x] % 255 != 0; }),
            std::vector<std::string>(5, "......"));
  const auto rows = grid(6, 5, [&](int x, int y) { return plane->pixels[y * plane->rowBytes + x] == 255; });
  EXPECT_EQ(rows, (std::vector<std::string>{"......", ".###..", ".####.", ".#####", "....#."}));
  EXPECT_EQ(colourMap(b->bitmap, kBlue), std::vector<std::string>(5, "######"));
}

TEST_F(DrawTest, ShapesBecomeLayers) {
  vlDisplay* d = Open();
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(Run(".call enablelayers\n.call setfillstyle 1\n.call box 2 2 10 6 16711680"), 0);
  ASSERT_EQ(CountLayers(d->bgpic), 1);
  vlLayer* layer = GetLayerByPos(d->bgpic, 1);
  EXPECT_EQ(layer->type, uint32_t(VL_LAYER_BOX));
  EXPECT_EQ(WindowPixel(d, 2, 2), kRed);
  EXPECT_EQ(WindowPixel(d, 11, 7), kRed);
  EXPECT_EQ(WindowPixel(d, 12, 8), 0u);
  // Edge and shadow become the layer's border and shadow.
  ASSERT_EQ(Run(".call setformstyle 64 255 3\n.call setformstyle 32\n.call box 20 20 5 5 16711680"), 0);
  layer = GetLayerByPos(d->bgpic, 2);
  ASSERT_NE(layer, nullptr);
  EXPECT_EQ(layer->border.on, 1u);
  EXPECT_EQ(layer->border.color, kBlue);
  EXPECT_EQ(layer->border.size, 3u);
  EXPECT_EQ(layer->shadow.on, 1u);
  EXPECT_EQ(layer->geometry[0]->drawnWidth, 5);
  // A transparent colour becomes the layer's transparency.
  ASSERT_EQ(Run(".call setformstyle 1\n.call box 40 2 4 4 2164195328"), 0);
  EXPECT_EQ(GetLayerByPos(d->bgpic, 3)->transparency, 128u);
  // A rotated box is rendered unrotated; the layer carries the rotation.
  ASSERT_EQ(Run(".call freelayers\n.table 0 { rotate = 45, anchorx = 0.5, anchory = 0.5 }\n"
                ".call base=1 box 32 24 20 20 65280 r0"),
            0);
  layer = GetLayerByPos(d->bgpic, 1);
  ASSERT_NE(layer, nullptr);
  EXPECT_EQ(layer->geometry[0]->image->width, 20);
  EXPECT_NE(layer->transform.b, 0.0);
  EXPECT_EQ(WindowPixel(d, 32, 24), kGreen);
  EXPECT_EQ(WindowPixel(d, 32, 13), kGreen);
  EXPECT_EQ(WindowPixel(d, 24, 16), 0u);
  // Lines: a picture exactly the box when anti-aliased at thickness 1, 8
  // more at thickness 3; with a rotation the layer keeps no picture.
  ASSERT_EQ(Run(".call freelayers\n.call setformstyle 16\n.call line 10 10 20 15 255"), 0);
  layer = GetLayerByPos(d->bgpic, 1);
  EXPECT_EQ(layer->type, uint32_t(VL_LAYER_LINE));
  EXPECT_EQ(layer->geometry[0]->image->width, 11);
  EXPECT_EQ(layer->geometry[0]->image->height, 6);
  ASSERT_EQ(Run(".call line 10 10 20 15 255 3"), 0);
  layer = GetLayerByPos(d->bgpic, 2);
  EXPECT_EQ(layer->geometry[0]->image->width, 19);
  EXPECT_EQ(layer->geometry[0]->image->height, 14);
  ASSERT_EQ(Run(".call setformstyle 1\n.call line 10 30 30 30 255 1 90"), 0);
  layer = GetLayerByPos(d->bgpic, 3);
  EXPECT_EQ(layer->type, uint32_t(VL_LAYER_LINE));
  EXPECT_EQ(layer->geometry[0]->image, nullptr);
  EXPECT_EQ(static_cast<vlShapeGeometry*>(layer->geometry[0])->shape.x2, 20);
  // Turned a quarter clockwise about its first end point.
  EXPECT_EQ(WindowPixel(d, 10, 40), kBlue);
  EXPECT_EQ(WindowPixel(d, 10, 47), kBlue);
  EXPECT_EQ(WindowPixel(d, 10, 20), 0u);
  EXPECT_EQ(WindowPixel(d, 20, 30), 0u);
}

TEST_F(DrawTest, LayerBordersFollowTheShapeOutline) {
  vlDisplay* d = Open();
  ASSERT_NE(d, nullptr);
  // The edge becomes the layer's border: the circle grown by 3 pixels.
  ASSERT_EQ(Run(".call enablelayers\n.call setfillstyle 1\n.call setformstyle 64 255 3\n"
                ".call circle 20 10 10 16711680"),
            0);
  vlLayer* layer = GetLayerByPos(d->bgpic, 1);
  ASSERT_NE(layer, nullptr);
  EXPECT_EQ(layer->border.on, 1u);
  EXPECT_EQ(WindowPixel(d, 30, 20), kRed);  // centre
  EXPECT_EQ(WindowPixel(d, 30, 8), kBlue);
  EXPECT_EQ(WindowPixel(d, 30, 32), kBlue);
  EXPECT_EQ(WindowPixel(d, 18, 20), kBlue);
  EXPECT_EQ(WindowPixel(d, 30, 5), 0u);
  EXPECT_EQ(WindowPixel(d, 19, 9), 0u);  // outside the ring at the box corner
  // The border picture is the outline alone, not a blurred rectangle.
  vlLayerGeometry* g = layer->geometry[2];
  ASSERT_NE(g->bImage, nullptr);
  EXPECT_EQ(g->borderXOffset, 3);
  EXPECT_EQ(g->borderWidth, 21 + 6);
  // RenderShapeLayer strokes an unfilled outline twice as thick.
  vlShapeRecord rec = static_cast<vlShapeGeometry*>(layer->geometry[0])->shape;
  rec.drawState.fillStyle = VL_FILLNONE;
  int32_t sx = 0, sy = 0, w = 0, h = 0;
  vlBitmap *image = nullptr, *mask = nullptr, *alpha = nullptr;
  ASSERT_EQ(RenderShapeLayer(L, nullptr, &rec, kGreen, 2, &sx, &sy, &w, &h, &image, &mask, &alpha), 0);
  EXPECT_EQ(sx, 2);
  EXPECT_EQ(w, 21 + 4);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(ReadBitmapPixel(image, w / 2, 0, 0) & 0xFFFFFF, kGreen);
  ASSERT_NE(mask, nullptr);
  EXPECT_EQ(ReadBitmapPixel(mask, w / 2, 1, 1), 1u);
  EXPECT_EQ(ReadBitmapPixel(mask, w / 2, h / 2, 1), 0u);  // the inside stays open
  DeleteBitmap(image);
  DeleteMaskPlane(mask);
  if (alpha) DeleteAlphaPlane(alpha);
}

TEST_F(DrawTest, RoundedCornersFollowTheirLevels) {
  vlDisplay* d = Open(320, 320);
  ASSERT_NE(d, nullptr);
  // On a box whose smaller side is 200 or more a zero level still rounds
  // by one pixel; corner c at 50 % of half the side, 75 pixels.
  ASSERT_EQ(Run(".call setfillstyle 1\n.table 0 { cornerc = 50 }\n.call base=1 box 10 10 300 300 16711680 r0"), 0);
  for (auto [x, y] : {std::pair{10, 10}, std::pair{309, 10}, std::pair{10, 309}}) {
    SCOPED_TRACE(std::to_string(x) + "," + std::to_string(y));
    EXPECT_EQ(WindowPixel(d, x, y), 0u);
  }
  EXPECT_EQ(WindowPixel(d, 11, 10), kRed);
  EXPECT_EQ(WindowPixel(d, 10, 11), kRed);
  EXPECT_EQ(WindowPixel(d, 308, 10), kRed);
  EXPECT_EQ(WindowPixel(d, 300, 300), 0u);
  EXPECT_EQ(WindowPixel(d, 280, 280), kRed);
  // The "roundlevel" key sets all four, each corner key overrides.
  ASSERT_EQ(Run(".call cls\n.table 0 { roundlevel = 100, cornera = 0 }\n.call base=1 box 10 10 40 40 255 r0"), 0);
  EXPECT_EQ(WindowPixel(d, 10, 10), kBlue);
  EXPECT_EQ(WindowPixel(d, 49, 49), 0u);
  EXPECT_EQ(WindowPixel(d, 30, 30), kBlue);
}

}  // namespace
