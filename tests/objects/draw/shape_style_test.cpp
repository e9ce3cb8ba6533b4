// Shape layers changed through their style keys and turned into other
// layer types: window pixels against shapes worked out by hand, the keys
// GetLayerStyle writes back, and the error codes of missing or bad keys.
#include "tests/display/core/display_fixture.h"

#include <cstring>
#include <string>
#include <vector>

#include "display/commands/layers_library.h"
#include "display/graphics_library/graphics_library.h"
#include "display/layers/layers.h"
#include "objects/brushes/brush.h"
#include "objects/draw/draw_state.h"
#include "objects/draw/shape_render.h"
#include "vm/error_codes.h"

namespace {

constexpr uint32_t kBlack = 0, kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF;

class ShapeStyleTest : public vltest::DisplayTest {
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
      ShutdownLayerSystem(L);
      FreeBrushLib(L);
      FreeDrawBuffers();
    }
    DisplayTest::TearDown();
  }
  vlDisplay* Open() {
    EXPECT_EQ(Run(".table 0 { width = 64, height = 48, color = 0 }\n.call base=1 createdisplay 1 r0\n"
                  ".call opendisplay 1\n.call enablelayers\n.call setfillstyle 1"),
              0);
    return GetDisplayByNumber(1);
  }
  // The window shows colour exactly where inside(x, y) holds, black elsewhere.
  template <typename F>
  void Expect(vlDisplay* d, int x0, int y0, int x1, int y1, uint32_t color, F inside) {
    XSync(d->window->display, False);
    XImage* image = XGetImage(probe_, d->window->window, 0, 0, 64, 48, AllPlanes, ZPixmap);
    ASSERT_NE(image, nullptr);
    int bad = 0;
    for (int y = y0; y <= y1; y++)
      for (int x = x0; x <= x1; x++) {
        uint32_t got = XGetPixel(image, x, y) & 0xFFFFFF, want = inside(x, y) ? color : kBlack;
        if (got != want && bad++ < 6) ADD_FAILURE() << x << "," << y << std::hex << " got " << got;
      }
    XDestroyImage(image);
    EXPECT_EQ(bad, 0);
  }
  // Field key of GetLayerStyle(layer) into global g.
  double StyleField(int layer, const char* key) {
    EXPECT_EQ(Run(".call getlayerstyle " + std::to_string(layer) + " -> st\ngetglobal 0 \"st\"\ngetfield 1 0 \"" +
                  key + "\"\nsetglobal 1 \"g\""),
              0);
    return Num("g");
  }
  vlLayer* Layer(vlDisplay* d, int n) { return GetLayerByPos(d->bgpic, n); }
};

TEST_F(ShapeStyleTest, BoxKeysRedrawTheBoxAndComeBack) {
  vlDisplay* d = Open();
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(Run(".call box 2 2 10 6 16711680"), 0);
  ASSERT_EQ(Run(".table 0 { color = 255, sizex = 20, sizey = 4 }\n.call base=1 setlayerstyle 1 r0"), 0);
  Expect(d, 0, 0, 30, 12, kBlue, [](int x, int y) { return x >= 2 && x <= 21 && y >= 2 && y <= 5; });
  EXPECT_EQ(StyleField(1, "sizex"), 20);
  EXPECT_EQ(StyleField(1, "sizey"), 4);
  EXPECT_EQ(StyleField(1, "color"), kBlue);
  EXPECT_EQ(StyleField(1, "fillstyle"), 1);
  EXPECT_EQ(StyleField(1, "roundlevel"), 0);
  // Moved and resized in one table.
  ASSERT_EQ(Run(".table 0 { sizex = 3, x = 40, y = 30 }\n.call base=1 setlayerstyle 1 r0"), 0);
  Expect(d, 0, 0, 63, 47, kBlue, [](int x, int y) { return x >= 40 && x <= 42 && y >= 30 && y <= 33; });
  EXPECT_EQ(Run(".table 0 { sizex = 0 }\n.call base=1 setlayerstyle 1 r0"), ERR_WRONGUSAGE);
  // The style bits of the form switch the layer's own shadow and border.
  ASSERT_EQ(Run(".table 0 { formstyle = 64 }\n.call base=1 setlayerstyle 1 r0"), 0);
  EXPECT_EQ(Layer(d, 1)->border.on, 1u);
  EXPECT_EQ(static_cast<uint32_t>(StyleField(1, "formstyle")) & 64u, 64u);
  ASSERT_EQ(Run(".table 0 { formstyleclear = 64 }\n.call base=1 setlayerstyle 1 r0"), 0);
  EXPECT_EQ(Layer(d, 1)->border.on, 0u);
}

TEST_F(ShapeStyleTest, ClipRegionGivenWithANewShapeHolds) {
  vlDisplay* d = Open();
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(OpenGraphicsLib(L), 0);
  ASSERT_EQ(Run(".call createclipregion 5 14 0 0 10 48\n.call box 2 2 20 10 255"), 0);
  // The new box is cut by the region given in the same table.
  ASSERT_EQ(Run(".table 0 { sizex = 30, clipregion = 5 }\n.call base=1 setlayerstyle 1 r0"), 0);
  Expect(d, 0, 0, 63, 20, kBlue, [](int x, int y) { return x >= 2 && x <= 9 && y >= 2 && y <= 11; });
  EXPECT_EQ(StyleField(1, "clipregion"), 5);
  // And freed of it the same way.
  ASSERT_EQ(Run(".table 0 { type = 16, radiusa = 10, radiusb = 5, clipregion = -1 }\n.call base=1 setlayerstyle 1 r0"),
            0);
  EXPECT_EQ(StyleField(1, "clipregion"), -1);
  ASSERT_EQ(Run(".table 0 { type = 14, sizex = 25, sizey = 10 }\n.call base=1 setlayerstyle 1 r0"), 0);
  Expect(d, 0, 0, 63, 20, kBlue, [](int x, int y) { return x >= 2 && x <= 26 && y >= 2 && y <= 11; });
  FreeGraphicsObjects(L);
}

TEST_F(ShapeStyleTest, TypeChangesNeedTheirKeys) {
  vlDisplay* d = Open();
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(Run(".call box 10 10 6 6 65280"), 0);
  // A circle needs its radius unless it was an ellipse or an arc.
  EXPECT_EQ(Run(".table 0 { type = 15 }\n.call base=1 setlayerstyle 1 r0"), ERR_MISSINGPARAMTR);
  EXPECT_EQ(Layer(d, 1)->type, uint32_t(VL_LAYER_BOX));
  EXPECT_EQ(Run(".table 0 { type = 50 }\n.call base=1 setlayerstyle 1 r0"), ERR_WRONGUSAGE);
  ASSERT_EQ(Run(".table 0 { type = 15, radius = 5 }\n.call base=1 setlayerstyle 1 r0"), 0);
  EXPECT_EQ(Layer(d, 1)->type, uint32_t(VL_LAYER_CIRCLE));
  EXPECT_EQ(Layer(d, 1)->geometry[0]->width, 11);
  EXPECT_EQ(WindowPixel(d, 15, 15), kGreen);  // the centre
  EXPECT_EQ(WindowPixel(d, 10, 10), kBlack);  // the box's corner is outside
  EXPECT_EQ(WindowPixel(d, 20, 15), kGreen);  // the right end of the radius
  EXPECT_EQ(StyleField(1, "radius"), 5);
  // An ellipse takes the circle's radii; an arc then needs its angles.
  ASSERT_EQ(Run(".table 0 { type = 16, radiusa = 8 }\n.call base=1 setlayerstyle 1 r0"), 0);
  EXPECT_EQ(StyleField(1, "radiusa"), 8);
  EXPECT_EQ(StyleField(1, "radiusb"), 5);
  EXPECT_EQ(WindowPixel(d, 25, 15), kGreen);
  EXPECT_EQ(Run(".table 0 { type = 31, startangle = 0 }\n.call base=1 setlayerstyle 1 r0"), ERR_MISSINGPARAMTR);
  // A polygon of absolute vertices: its box becomes the layer's place.
  EXPECT_EQ(Run(".table 0 { type = 27 }\n.call base=1 setlayerstyle 1 r0"), ERR_MISSINGPARAMTR);
  ASSERT_EQ(Run(".table 0 { type = 27, color = 255 }\n"
                ".table 1 { [0] = 30, [1] = 4, [2] = 50, [3] = 4, [4] = 30, [5] = 24 }\n"
                "setfield 0 \"vertices\" r1\n.call base=2 setlayerstyle 1 r0"),
            0);
  EXPECT_EQ(Layer(d, 1)->type, uint32_t(VL_LAYER_POLYGON));
  EXPECT_EQ(Layer(d, 1)->geometry[0]->x, 30);
  // The triangle's inside with a pixel of slack along the slanted edge.
  Expect(d, 0, 0, 63, 47, kBlue, [](int x, int y) { return x >= 30 && y >= 4 && y <= 24 && x + y <= 54; });
  EXPECT_EQ(StyleField(1, "numvertices"), 4);  // closed
  // With a position in the same table the vertices count from it.
  ASSERT_EQ(Run(".table 0 { x = 5, y = 1 }\n.table 1 { [0] = 2, [1] = 2, [2] = 12, [3] = 2, [4] = 2, [5] = 12 }\n"
                "setfield 0 \"vertices\" r1\n.call base=2 setlayerstyle 1 r0"),
            0);
  EXPECT_EQ(Layer(d, 1)->geometry[0]->x, 7);
  EXPECT_EQ(Layer(d, 1)->geometry[0]->y, 3);
  EXPECT_EQ(WindowPixel(d, 8, 4), kBlue);
  EXPECT_EQ(WindowPixel(d, 31, 5), kBlack);  // the old triangle is gone
}

TEST_F(ShapeStyleTest, ShapesBecomeBrushesAndBack) {
  vlDisplay* d = Open();
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(Run(".call createbrush 1 8 4 16711680\n.call line 5 5 20 5 65280"), 0);
  EXPECT_EQ(Layer(d, 1)->type, uint32_t(VL_LAYER_LINE));
  EXPECT_EQ(StyleField(1, "x2"), 20);
  ASSERT_EQ(Run(".table 0 { x1 = 5, y1 = 20, x2 = 5, y2 = 30 }\n.call base=1 setlayerstyle 1 r0"), 0);
  Expect(d, 0, 0, 30, 40, kGreen, [](int x, int y) { return x == 5 && y >= 20 && y <= 30; });
  // A brush needs its id; the brush then shows at the layer's place.
  EXPECT_EQ(Run(".table 0 { type = 3 }\n.call base=1 setlayerstyle 1 r0"), ERR_MISSINGPARAMTR);
  EXPECT_EQ(Run(".table 0 { type = 3, id = 9 }\n.call base=1 setlayerstyle 1 r0"), ERR_FINDBRUSH);
  EXPECT_EQ(Layer(d, 1)->type, uint32_t(VL_LAYER_LINE));  // untouched
  ASSERT_EQ(Run(".table 0 { type = 3, id = 1 }\n.call base=1 setlayerstyle 1 r0"), 0);
  EXPECT_EQ(Layer(d, 1)->type, uint32_t(VL_LAYER_BRUSH));
  Expect(d, 0, 0, 30, 40, kRed, [](int x, int y) { return x >= 5 && x <= 12 && y >= 20 && y <= 23; });
  EXPECT_EQ(StyleField(1, "id"), 1);
  // Back to a box: it starts from the draw state (filled), keys supply the rest.
  ASSERT_EQ(Run(".table 0 { type = 14, sizex = 2, sizey = 2, color = 255 }\n.call base=1 setlayerstyle 1 r0"), 0);
  EXPECT_EQ(Layer(d, 1)->type, uint32_t(VL_LAYER_BOX));
  Expect(d, 0, 0, 30, 40, kBlue, [](int x, int y) { return x >= 5 && x <= 6 && y >= 20 && y <= 21; });
  // Turned a quarter, a change of the shape keeps the turn: the new box
  // is drawn 2 wide and 4 high, its 8 pixels all on the window.
  ASSERT_EQ(Run(".call rotatelayer 1 90\n.table 0 { sizex = 4 }\n.call base=1 setlayerstyle 1 r0"), 0);
  const vlLayerGeometry* g2 = Layer(d, 1)->geometry[2];
  EXPECT_NE(g2, Layer(d, 1)->geometry[0]);
  EXPECT_EQ(g2->drawnWidth, 2);
  EXPECT_EQ(g2->drawnHeight, 4);
  int blue = 0;
  for (int y = 0; y < 48; y++)
    for (int x = 0; x < 64; x++) blue += WindowPixel(d, x, y) == kBlue;
  EXPECT_EQ(blue, 8);
  // A group name reaches only the common keys.
  strcpy(Layer(d, 1)->group, "g");
  ASSERT_EQ(Run(".table 0 { type = 15, sizex = 9 }\n.call base=1 setlayerstyle \"g\" r0"), 0);
  EXPECT_EQ(Layer(d, 1)->type, uint32_t(VL_LAYER_BOX));
  EXPECT_EQ(Layer(d, 1)->geometry[0]->width, 4);
}

}  // namespace
