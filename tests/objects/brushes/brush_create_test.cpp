// Brushes made from other objects: conversions from BGPics, brushes and
// layers, borders and shadows, desktop grabs (against the root window of
// the private X server), pixel tables, gradients and textures.
#include "tests/display/core/display_fixture.h"

#include <string>

#include "display/commands/layers_library.h"
#include "display/layers/layers.h"
#include "graphics/bitmap.h"
#include "objects/brushes/brush.h"
#include "vm/error_codes.h"

namespace {

class BrushCreateTest : public vltest::DisplayTest {
 protected:
  void SetUp() override {
    DisplayTest::SetUp();
    if (!started_) return;
    ASSERT_EQ(OpenBrushLib(L), 0);
    ASSERT_EQ(OpenLayersLib(L), 0);
    ASSERT_EQ(Run(".table 0 { width = 64, height = 48, color = 0 }\n.call base=1 createdisplay 1 r0\n"
                  ".call opendisplay 1"),
              0);
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
  uint32_t Pixel(int n, int x, int y) { return ReadBitmapPixel(Brush(n)->bitmap, x, y, 0) & 0xFFFFFF; }
  uint8_t Alpha(int n, int x, int y) {
    auto* plane = static_cast<vlPlane*>(Brush(n)->alpha->handle);
    return plane->pixels[static_cast<size_t>(y) * plane->rowBytes + x];
  }
  int Records() {
    int n = 0;
    for (vlBrush* b = vlBrushList; b; b = b->next) n++;
    return n;
  }
};

TEST_F(BrushCreateTest, Conversions) {
  ASSERT_EQ(Run(".call createbgpic 3 6 4 255\n.call converttobrush 1 3 1"), 0);
  ASSERT_NE(Brush(1), nullptr);
  EXPECT_EQ(Brush(1)->width, 6);
  EXPECT_EQ(Pixel(1, 5, 3), 0x0000FFu);
  // Brush to brush, the other argument order; the same id is refused.
  ASSERT_EQ(Run(".call writebrushpixel 1 1 1 65280\n.call getbrushlink 2 3 1"), 0);
  EXPECT_EQ(Pixel(2, 1, 1), 0x00FF00u);
  EXPECT_NE(Brush(2)->bitmap, Brush(1)->bitmap);
  EXPECT_EQ(Run(".call converttobrush 3 1 1"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call converttobrush 77 1 5"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call converttobrush 3 9 5"), ERR_FINDBRUSH);
  // Layers: refused while layers are off; a brush-part layer gives its part.
  EXPECT_EQ(Run(".call converttobrush 22 1 5"), ERR_NOLAYERS);
  ASSERT_EQ(Run(".call enablelayers\n.call displaybrushpart 1 1 1 10 10 3 2\n.call converttobrush 22 1 5"), 0);
  EXPECT_EQ(Brush(5)->width, 3);
  EXPECT_EQ(Brush(5)->height, 2);
  EXPECT_EQ(Pixel(5, 0, 0), 0x00FF00u);
  EXPECT_EQ(Pixel(5, 1, 0), 0x0000FFu);
  // The new number is freed before the source is looked up.
  EXPECT_EQ(Run(".call converttobrush 22 2 5"), ERR_LAYERRANGE);
  EXPECT_EQ(Brush(5), nullptr);
  ASSERT_EQ(Run(".call converttobrush 3 1 nil -> h"), 0);
  EXPECT_EQ(Records(), 3);
}

TEST_F(BrushCreateTest, CopyBrushKeepsPlanesAndData) {
  ASSERT_EQ(Run(".table 0 { mask = 1 }\n.call base=1 createbrush 1 5 5 255 r0\n.call writebrushpixel 1 2 2 0 0\n"
                ".call copybrush 1 2"),
            0);
  ASSERT_NE(Brush(2)->mask, nullptr);
  EXPECT_NE(Brush(2)->mask, Brush(1)->mask);
  EXPECT_EQ(ReadBitmapPixel(Brush(2)->mask, 2, 2, 1), 0u);
  EXPECT_EQ(ReadBitmapPixel(Brush(2)->mask, 1, 2, 1), 1u);
  EXPECT_EQ(Brush(2)->transparentColor, Brush(1)->transparentColor);
  EXPECT_EQ(Run(".call copybrush 1 1"), ERR_WRONGUSAGE);
}

TEST_F(BrushCreateTest, BordersAndShadows) {
  ASSERT_EQ(Run(".call createbrush 1 10 10 0\n.call createshadowbrush 2 1 0 5"), 0);
  ASSERT_NE(Brush(2), nullptr);
  EXPECT_EQ(Brush(2)->width, 20);
  EXPECT_EQ(Brush(2)->height, 20);
  ASSERT_NE(Brush(2)->alpha, nullptr);
  // Solid in the middle, fading to nothing at the corners.
  EXPECT_GT(Alpha(2, 10, 10), 200);
  EXPECT_LT(Alpha(2, 0, 0), Alpha(2, 5, 5));
  EXPECT_LT(Alpha(2, 0, 0), 30);
  // A colour's alpha byte is its transparency.
  ASSERT_EQ(Run(".call createshadowbrush 3 1 2147483648 5"), 0);
  EXPECT_LE(Alpha(3, 10, 10), 128);
  EXPECT_GE(Alpha(3, 10, 10), 120);
  // The border of a solid brush is a solid rectangle of the colour.
  ASSERT_EQ(Run(".call createborderbrush 4 1 16711680 3"), 0);
  EXPECT_EQ(Brush(4)->width, 16);
  EXPECT_EQ(Brush(4)->alpha, nullptr);
  EXPECT_EQ(Pixel(4, 15, 15), 0xFF0000u);
  // A border of a masked brush follows the mask.
  ASSERT_EQ(Run(".table 0 { mask = 1, clear = 1 }\n.call base=1 createbrush 5 10 10 0 r0\n"
                ".call writebrushpixel 5 5 5 0 255\n.call createborderbrush 6 5 255 4"),
            0);
  ASSERT_NE(Brush(6)->alpha, nullptr);
  EXPECT_GT(Alpha(6, 9, 9), Alpha(6, 1, 1));
  EXPECT_EQ(Run(".call createshadowbrush 7 1 0 0.5"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call createshadowbrush 1 1 0 5"), ERR_WRONGUSAGE);
  // Sizes whose brush would not fit 32 bits fail before anything is made.
  EXPECT_EQ(Run(".call createshadowbrush 9 1 0 2147483647"), ERR_BITMAP);
  EXPECT_EQ(Run(".call createborderbrush 9 1 255 1e12"), ERR_BITMAP);
  EXPECT_EQ(Brush(9), nullptr);
  // Wider than the blur allows: the plane still fits the brush.
  ASSERT_EQ(Run(".call createshadowbrush 8 1 0 70"), 0);
  EXPECT_EQ(Brush(8)->width, 150);
  EXPECT_GT(Alpha(8, 75, 75), Alpha(8, 10, 10));
}

TEST_F(BrushCreateTest, PixelTables) {
  std::string table = ".table 0 { [0] = 4294901760, [1] = 16711935, [2] = 2130771712, [3] = 4278190335 }\n";
  ASSERT_EQ(Run(table + "setglobal 0 \"t\"\n.call rgbarraytobrush 1 $t 2 2 30"), 0);
  EXPECT_EQ(Pixel(1, 0, 0), 0xFF0000u);
  EXPECT_EQ(Pixel(1, 1, 0), 0xFF00FFu);
  EXPECT_EQ(Pixel(1, 0, 1), 0x00FF00u);
  EXPECT_EQ(Alpha(1, 0, 0), 255);
  EXPECT_EQ(Alpha(1, 1, 0), 0);
  EXPECT_EQ(Alpha(1, 0, 1), 127);
  ASSERT_EQ(Run(".call rgbarraytobrush 2 $t 2 2 28 1"), 0);
  ASSERT_NE(Brush(2)->mask, nullptr);
  EXPECT_EQ(ReadBitmapPixel(Brush(2)->mask, 0, 0, 1), 0u);  // inverted: 255 became 0
  EXPECT_EQ(ReadBitmapPixel(Brush(2)->mask, 1, 0, 1), 1u);
  ASSERT_EQ(Run(".call rgbarraytobrush 3 $t 2 2"), 0);
  EXPECT_EQ(Brush(3)->mask, nullptr);
  EXPECT_EQ(Brush(3)->alpha, nullptr);
  // Too few pixels: no brush is left behind.
  EXPECT_EQ(Run(".call rgbarraytobrush 4 $t 2 3"), ERR_NOTENOUGHPIXELS);
  EXPECT_EQ(Brush(4), nullptr);
  EXPECT_EQ(Records(), 3);
  EXPECT_EQ(Run(".call rgbarraytobrush 4 $t 0 3"), ERR_BADDIMENSIONS);
}

TEST_F(BrushCreateTest, GradientsTexturesAndGrabs) {
  ASSERT_EQ(Run(".call creategradientbrush 1 16 8 0 0 16777215"), 0);
  ASSERT_NE(Brush(1), nullptr);
  EXPECT_EQ(Brush(1)->width, 16);
  // A linear gradient from black to white: the ends differ and grow.
  const uint32_t a = Pixel(1, 0, 0) & 0xFF, b = Pixel(1, 15, 7) & 0xFF;
  EXPECT_NE(a, b);
  EXPECT_EQ(Run(".call creategradientbrush 2 0 8 0 0 16777215"), ERR_BADDIMENSIONS);
  // A conical gradient turned back by 330 degrees is the one turned on by 30.
  ASSERT_EQ(Run(".call creategradientbrush 6 40 30 4 255 16776960 30\n"
                ".call creategradientbrush 7 40 30 4 255 16776960 -330"),
            0);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) ASSERT_EQ(Pixel(6, x, y), Pixel(7, x, y)) << x << "," << y;
  EXPECT_EQ(Run(".call freebrush 6\n.call freebrush 7"), 0);
  // A linear gradient across 800 pixels lands on each pixel centre's
  // position, its last column included, without drifting along the row.
  ASSERT_EQ(Run(".call creategradientbrush 6 800 2 2 0 16777215 90"), 0);
  for (int x = 0; x < 800; ++x) {
    const int weight = static_cast<int>((x + 0.5) / 800 * 65536) >> 8;
    ASSERT_NEAR(static_cast<int>(Pixel(6, x, 1) & 0xFF), (255 * weight) >> 8, 1) << x;
  }
  ASSERT_EQ(Run(".call createbrush 3 2 2 255\n.call writebrushpixel 3 0 0 65280\n"
                ".call createtexturedbrush 4 3 5 5"),
            0);
  EXPECT_EQ(Brush(4)->width, 5);
  EXPECT_EQ(Pixel(4, 0, 0), 0x00FF00u);
  EXPECT_EQ(Pixel(4, 2, 2), 0x00FF00u);
  EXPECT_EQ(Pixel(4, 3, 2), 0x0000FFu);
  EXPECT_EQ(Run(".call createtexturedbrush 3 3 5 5"), ERR_WRONGUSAGE);
  // Grabs reach at most to the screen's edge (800 x 600).
  ASSERT_EQ(Run(".table 0 { x = 10, width = 5000, height = 3 }\n.call base=1 grabdesktop 5 r0"), 0);
  ASSERT_NE(Brush(5), nullptr);
  EXPECT_EQ(Brush(5)->width, 790);
  EXPECT_EQ(Brush(5)->height, 3);
  XImage* root = XGetImage(probe_, DefaultRootWindow(probe_), 10, 0, 790, 3, AllPlanes, ZPixmap);
  ASSERT_NE(root, nullptr);
  for (int x = 0; x < 790; x += 7)
    ASSERT_EQ(Pixel(5, x, 2), static_cast<uint32_t>(XGetPixel(root, x, 2)) & 0xFFFFFF) << x;
  XDestroyImage(root);
  ASSERT_EQ(Run(".table 0 { x = 10, y = 590, width = 2147483647, height = 2147483647 }\n"
                ".call base=1 grabdesktop 6 r0"),
            0);
  EXPECT_EQ(Brush(6)->width, 790);
  EXPECT_EQ(Brush(6)->height, 10);
  EXPECT_EQ(Run(".table 0 { x = -1 }\n.call base=1 grabdesktop 6 r0"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".table 0 { x = 800 }\n.call base=1 grabdesktop 6 r0"), ERR_WRONGUSAGE);
}

}  // namespace
