// Clip regions of transformed layers: the region turns and scales with the
// layer about the same point, read back from the window and checked against
// masks worked out by hand.
#include "tests/display/core/display_fixture.h"

#include <cmath>
#include <cstring>
#include <functional>

#include "display/graphics_library/graphics_library.h"
#include "display/graphics_library/graphics_state.h"
#include "display/commands/layers_library.h"
#include "display/layers/layers.h"
#include "graphics/bitmap.h"
#include "graphics/geometry.h"
#include "vm/error_codes.h"

namespace {

using vltest::DisplayTest;

constexpr uint32_t kGrey = 0x808080u, kRed = 0xFF0000u;

class LayerClip : public DisplayTest {
 protected:
  vlDisplay* Open() {
    EXPECT_EQ(OpenLayersLib(L), 0);
    EXPECT_EQ(OpenGraphicsLib(L), 0);
    EXPECT_EQ(Run(".table 0 { width = 100, height = 80, color = 8421504 }\n.call base=1 createdisplay 1 r0\n"
                  ".call opendisplay 1\n.call enablelayers"),
              0);
    return GetDisplayByNumber(1);
  }
  void TearDown() override {
    if (started_) {
      FreeGraphicsObjects(L);
      ShutdownLayerSystem(L);
    }
    DisplayTest::TearDown();
  }
  // A solid red layer made while the current clip region is active.
  vlLayer* AddRed(int x, int y, int w, int h) {
    vlBitmap* b = NewBitmap(w, h, 0, nullptr);
    FillBitmapRect(b, 0, 0, w, h, 0xFF000000u | kRed);
    vlLayerGeometry* g = NewLayerGeometry();
    g->x = x, g->y = y, g->width = w, g->height = h;
    vlLayer* layer = nullptr;
    EXPECT_EQ(AddLayer(L, VL_LAYER_BOX, nullptr, x, y, w, h, nullptr, nullptr, b, nullptr, nullptr, g, -1, 0, &layer),
              0);
    RefreshArea(L, 0, 0, 100, 80);
    return layer;
  }
  // Every window pixel of the box is red exactly where inside() holds.
  void ExpectRedWhere(vlDisplay* d, int x0, int y0, int x1, int y1, const std::function<bool(int, int)>& inside) {
    SCOPED_TRACE(testing::Message() << "box " << x0 << "," << y0 << "-" << x1 << "," << y1);
    int bad = 0;
    for (int y = y0; y <= y1; y++)
      for (int x = x0; x <= x1; x++) {
        uint32_t want = inside(x, y) ? kRed : kGrey, got = WindowPixel(d, x, y);
        if (got != want && bad++ < 6) ADD_FAILURE() << x << "," << y << std::hex << " got " << got;
      }
    EXPECT_EQ(bad, 0);
  }
};

// A layer clipped to its left half, turned 90 degrees about its top-left
// corner (x' = -y, y' = x): the visible half is the top half of the turned
// picture, whose pixel areas cover x 20..29, y 20..29.
TEST_F(LayerClip, TurnedLayerKeepsTheSamePartVisible) {
  vlDisplay* d = Open();
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(Run(".call createclipregion 1 14 30 20 10 10\n.call setclipregion 1"), 0);
  vlLayer* layer = AddRed(30, 20, 20, 10);
  ASSERT_EQ(Run(".call setclipregion -1"), 0);
  ExpectRedWhere(d, 25, 15, 55, 35, [](int x, int y) { return x >= 30 && x <= 39 && y >= 20 && y <= 29; });
  ASSERT_EQ(Run(".call rotatelayer 1 90"), 0);
  ASSERT_NE(layer->geometry[1], layer->geometry[0]);
  // The turned record has its own locked copy; record [0] keeps the script's.
  auto* turned = static_cast<vlClipRegion*>(layer->geometry[1]->clipRegion);
  ASSERT_NE(turned, nullptr);
  EXPECT_NE(turned, layer->geometry[0]->clipRegion);
  EXPECT_EQ(turned->x, 20);
  EXPECT_EQ(turned->y, 20);
  ExpectRedWhere(d, 15, 15, 45, 45, [](int x, int y) { return x >= 20 && x <= 29 && y >= 20 && y <= 29; });
  // The script's region is still free to go: the layer keeps drawing
  // through its copy, and the original is freed with the layer.
  ASSERT_EQ(Run(".call freeclipregion 1"), 0);
  EXPECT_EQ(Run(".call setclipregion 1"), ERR_FINDCLIPREGION);
  ASSERT_EQ(Run(".call rotatelayer 1 0"), 0);
  EXPECT_EQ(layer->geometry[1], layer->geometry[0]);
  ExpectRedWhere(d, 25, 15, 55, 35, [](int x, int y) { return x >= 30 && x <= 39 && y >= 20 && y <= 29; });
  ASSERT_EQ(Run(".call removelayer 1"), 0);
  EXPECT_EQ(gGraphicsState.clipRegions, nullptr);
}

// Scaled by 2 about the top-left corner the region doubles with the layer;
// with "nocliptransform" it stays where it was made.
TEST_F(LayerClip, ScaledLayerScalesItsRegionUnlessTold) {
  vlDisplay* d = Open();
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(Run(".call createclipregion 1 14 30 20 10 10\n.call setclipregion 1"), 0);
  AddRed(30, 20, 20, 10);
  ASSERT_EQ(Run(".call setclipregion -1\n.call scalelayer 1 40 20"), 0);
  ExpectRedWhere(d, 25, 15, 75, 45, [](int x, int y) { return x >= 30 && x <= 49 && y >= 20 && y <= 39; });
  ASSERT_EQ(Run(".table 0 { nocliptransform = 1 }\n.call base=1 setlayerstyle 1 r0"), 0);
  ExpectRedWhere(d, 25, 15, 75, 45, [](int x, int y) { return x >= 30 && x <= 39 && y >= 20 && y <= 29; });
  ASSERT_EQ(Run(".table 0 { nocliptransform = 0 }\n.call base=1 setlayerstyle 1 r0"), 0);
  ExpectRedWhere(d, 25, 15, 75, 45, [](int x, int y) { return x >= 30 && x <= 49 && y >= 20 && y <= 39; });
  // A region given after the transform is turned as well; -1 frees the copy.
  ASSERT_EQ(Run(".call createclipregion 2 14 30 20 5 5\n"
                ".table 0 { clipregion = 2 }\n.call base=1 setlayerstyle 1 r0"),
            0);
  ExpectRedWhere(d, 25, 15, 75, 45, [](int x, int y) { return x >= 30 && x <= 39 && y >= 20 && y <= 29; });
  ASSERT_EQ(Run(".table 0 { clipregion = -1 }\n.call base=1 setlayerstyle 1 r0"), 0);
  ExpectRedWhere(d, 25, 15, 75, 45, [](int x, int y) { return x >= 30 && x <= 69 && y >= 20 && y <= 39; });
}

// Turned by 45 degrees the rectangle becomes a diamond: the window shows
// the layer only inside the turned square. Pixels within 1.5 of the edge
// may go either way (rounding of the fill and of the picture).
TEST_F(LayerClip, DiagonalTurnClipsToTheTurnedSquare) {
  vlDisplay* d = Open();
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(Run(".call createclipregion 1 14 50 20 16 16\n.call setclipregion 1"), 0);
  vlLayer* layer = AddRed(50, 20, 32, 32);
  ASSERT_EQ(Run(".call setclipregion -1\n.call rotatelayer 1 45"), 0);
  const vlLayerTransform& t = layer->transform;
  // Layer coordinates of a window pixel: the inverse of x' = a u + b v,
  // y' = c u + d v about (50, 20).
  double det = t.a * t.d - t.b * t.c;
  int bad = 0, red = 0;
  for (int y = 10; y < 60; y++)
    for (int x = 20; x < 90; x++) {
      double dx = x - 50, dy = y - 20;
      double u = (t.d * dx - t.b * dy) / det, v = (-t.c * dx + t.a * dy) / det;
      bool in = u >= 1.5 && v >= 1.5 && u <= 13.5 && v <= 13.5;
      bool out = u < -1.5 || v < -1.5 || u > 16.5 || v > 16.5;
      uint32_t got = WindowPixel(d, x, y);
      red += got == kRed;
      if ((in && got != kRed) || (out && got != kGrey)) {
        if (bad++ < 6) ADD_FAILURE() << x << "," << y << std::hex << " got " << got;
      }
    }
  EXPECT_EQ(bad, 0);
  EXPECT_NEAR(red, 256, 40);  // about the area of the 16 x 16 square
  // A shadow and a border are cut by the turned region as the layer is:
  // nothing lands outside the turned square.
  ASSERT_EQ(Run(".call setlayershadow 1 1 0 2 6 3\n.call setlayerborder 1 1 255 3"), 0);
  bad = 0;
  for (int y = 10; y < 60; y++)
    for (int x = 20; x < 90; x++) {
      double dx = x - 50, dy = y - 20;
      double u = (t.d * dx - t.b * dy) / det, v = (-t.c * dx + t.a * dy) / det;
      uint32_t got = WindowPixel(d, x, y);
      if ((u < -1.5 || v < -1.5 || u > 16.5 || v > 16.5) && got != kGrey && bad++ < 6)
        ADD_FAILURE() << x << "," << y << std::hex << " got " << got;
    }
  EXPECT_EQ(bad, 0);
}

// On a display that scales its layers by 2, the display-space record turns
// the region too: the visible half lands at twice its BGPic place.
TEST_F(LayerClip, DisplayScaledRecordTurnsItsRegion) {
  ASSERT_EQ(OpenLayersLib(L), 0);
  ASSERT_EQ(OpenGraphicsLib(L), 0);
  ASSERT_EQ(Run(".table 0 { width = 50, height = 40, color = 8421504, scalemode = 2, scalewidth = 100, "
                "scaleheight = 80 }\n.call base=1 createdisplay 1 r0\n.call opendisplay 1\n.call enablelayers"),
            0);
  vlDisplay* d = GetDisplayByNumber(1);
  ASSERT_NE(d, nullptr);
  ASSERT_DOUBLE_EQ(d->scaleX, 2.0);
  ASSERT_EQ(Run(".call createclipregion 1 14 10 10 10 10\n.call setclipregion 1"), 0);
  vlLayer* layer = AddRed(10, 10, 20, 10);
  ASSERT_EQ(Run(".call setclipregion -1\n.call rotatelayer 1 90"), 0);
  ASSERT_NE(layer->geometry[2], layer->geometry[1]);
  // BGPic: x 0..9, y 10..19 stay visible; on the window twice that. One
  // pixel along each edge may go either way.
  int bad = 0;
  for (int y = 10; y < 70; y++)
    for (int x = 0; x < 50; x++) {
      bool in = x >= 1 && x <= 18 && y >= 21 && y <= 38, out = x >= 21 || y <= 18 || y >= 41;
      uint32_t got = WindowPixel(d, x, y);
      if ((in && got != kRed) || (out && got != kGrey))
        if (bad++ < 6) ADD_FAILURE() << x << "," << y << std::hex << " got " << got;
    }
  EXPECT_EQ(bad, 0);
}

// The copy itself: a shaped region turned by the affine renderer, and a
// rectangle turned into a filled polygon, both against hand-made bits.
TEST_F(LayerClip, CopiesAgainstHandMadeBits) {
  ASSERT_NE(Open(), nullptr);  // the screen's pixel format for the renderer
  // An L shape in a 4 x 3 mask at (10, 5): row 0 all, rows 1-2 the first column.
  vlBitmap* mask = NewMaskPlane(nullptr, 4, 3, 1, nullptr, 0);
  auto* bits = reinterpret_cast<uint8_t*>(QueryBitmap(mask, 4));
  const intptr_t row = QueryBitmap(mask, 2);
  bits[0] = 0xF0;
  bits[row] = bits[2 * row] = 0x80;
  vlClipRegion region{10, 5, 4, 3, mask};
  // Mirrored left to right about x = 20: x' = 40 - x.
  const double mirror[4] = {-1, 0, 0, 1};
  vlClipRegion* copy = TransformClipMask(&region, mirror, 20, 5, 20, 5);
  ASSERT_NE(copy, nullptr);
  ASSERT_NE(copy->mask, nullptr);
  EXPECT_EQ(copy->width, 4);
  EXPECT_EQ(copy->height, 3);
  EXPECT_EQ(copy->x, 27);  // pixel 10 lands on 30, as a mirrored picture's corner pixel
  for (int y = 0; y < 3; y++)
    for (int x = 0; x < 4; x++) {
      int want = y == 0 || x == 3;
      EXPECT_EQ(static_cast<int>(ReadBitmapPixel(copy->mask, x, y, 1)), want) << x << "," << y;
    }
  ReleaseClipRegionCopy(copy);
  DeleteMaskPlane(mask);

  // A 3 x 2 rectangle at (0, 0) turned 90 degrees about (0, 0) onto x
  // -1..0: the left column is cut off at the picture's edge.
  vlClipRegion rect{0, 0, 3, 2, nullptr};
  const double turn[4] = {0, 1, -1, 0};  // x' = -y, y' = x
  copy = TransformClipMask(&rect, turn, 0, 0, 0, 0);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->x, 0);
  EXPECT_EQ(copy->y, 0);
  EXPECT_EQ(copy->width, 1);
  EXPECT_EQ(copy->height, 3);
  ASSERT_NE(copy->mask, nullptr);
  for (int y = 0; y < 3; y++) EXPECT_EQ(ReadBitmapPixel(copy->mask, 0, y, 1), 1u) << y;
  ReleaseClipRegionCopy(copy);
  // Moved to a new pivot the same turn lands whole: x 9..10, y 20..22.
  copy = TransformClipMask(&rect, turn, 0, 0, 10, 20);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->x, 9);
  EXPECT_EQ(copy->y, 20);
  EXPECT_EQ(copy->width, 2);
  EXPECT_EQ(copy->height, 3);
  for (int y = 0; y < 3; y++)
    for (int x = 0; x < 2; x++) EXPECT_EQ(ReadBitmapPixel(copy->mask, x, y, 1), 1u) << x << "," << y;
  ReleaseClipRegionCopy(copy);
  // A plain scale stays a rectangle.
  const double twice[4] = {2, 0, 0, 3};
  copy = TransformClipMask(&rect, twice, 0, 0, 0, 0);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->mask, nullptr);
  EXPECT_EQ(copy->width, 6);
  EXPECT_EQ(copy->height, 6);
  ReleaseClipRegionCopy(copy);
}

}  // namespace
