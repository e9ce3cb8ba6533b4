// Drawing into brushes, their masks and alpha channels: pixels land in the
// brush and not on the window, planes are made at the first draw, the
// selected brush refuses changes, and layers keep their picture.
#include "tests/display/core/display_fixture.h"

#include "display/graphics_library/graphics_library.h"
#include "display/commands/layers_library.h"
#include "display/layers/layers.h"
#include "graphics/bitmap.h"
#include "objects/brushes/brush.h"
#include "vm/error_codes.h"

namespace {

class BrushSelectTest : public vltest::DisplayTest {
 protected:
  void SetUp() override {
    DisplayTest::SetUp();
    if (!started_) return;
    ASSERT_EQ(OpenBrushLib(L), 0);
    ASSERT_EQ(OpenLayersLib(L), 0);
    ASSERT_EQ(OpenGraphicsLib(L), 0);  // keeps the mask mode and alpha intensity
    ASSERT_EQ(Run(".table 0 { width = 64, height = 48, color = 0 }\n.call base=1 createdisplay 1 r0\n"
                  ".call opendisplay 1"),
              0);
    d_ = GetDisplayByNumber(1);
  }
  void TearDown() override {
    if (started_) {
      ShutdownLayerSystem(L);
      FreeBrushLib(L);
      FreeGraphicsObjects(L);
    }
    DisplayTest::TearDown();
  }
  vlBrush* Brush(int n) {
    vlBrush* b = nullptr;
    return GetBrushByID(L, {n, nullptr}, &b, VL_BRUSH_HARDWAREOK) == 0 ? b : nullptr;
  }
  vlDisplay* d_ = nullptr;
};

TEST_F(BrushSelectTest, DrawingLandsInTheBrush) {
  ASSERT_EQ(Run(".call createbrush 1 10 10 0\n.call createbrush 2 2 2 16711680\n.call selectbrush 1\n"
                ".call displaybrush 2 3 3"),
            0);
  EXPECT_EQ(ReadBitmapPixel(Brush(1)->bitmap, 3, 3, 0) & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(ReadBitmapPixel(Brush(1)->bitmap, 5, 5, 0) & 0xFFFFFF, 0u);
  EXPECT_EQ(WindowPixel(d_, 3, 3), 0u);
  EXPECT_EQ(Run(".call selectbrush 1"), 0);
  EXPECT_EQ(Run(".call freebrush 1"), ERR_MODIFYABR);
  EXPECT_EQ(Run(".call invertbrush 1"), ERR_MODIFYABR);
  ASSERT_EQ(Run(".call endselect\n.call displaybrush 1 20 20"), 0);
  EXPECT_EQ(WindowPixel(d_, 23, 23), 0xFF0000u);
  EXPECT_EQ(d_->outputType, uint32_t{VL_OUTPUT_DISPLAY});
  EXPECT_EQ(Run(".call selectbrush 99"), ERR_FINDBRUSH);
}

TEST_F(BrushSelectTest, MaskAndAlphaChannelAreMadeAtTheFirstDraw) {
  ASSERT_EQ(Run(".table 0 { alphachannel = 1, clear = 1 }\n.call base=1 createbrush 1 8 8 255 r0\n"
                ".call createbrush 2 2 2 65280\n.call selectmask 1"),
            0);
  ASSERT_NE(Brush(1)->alpha, nullptr);
  EXPECT_EQ(Brush(1)->mask, nullptr);
  ASSERT_EQ(Run(".call displaybrush 2 1 1"), 0);
  EXPECT_EQ(Brush(1)->alpha, nullptr);
  ASSERT_NE(Brush(1)->mask, nullptr);
  // Only the mask changes: the colour stays blue.
  EXPECT_EQ(ReadBitmapPixel(Brush(1)->bitmap, 1, 1, 0) & 0xFFFFFF, 0x0000FFu);
  EXPECT_EQ(ReadBitmapPixel(Brush(1)->mask, 1, 1, 1), 1u);
  // The alpha channel made for drawing starts opaque; the drawn pixels take
  // the alpha intensity.
  ASSERT_EQ(Run(".call createbrush 3 6 6 0\n.call setalphaintensity 100\n.call selectalphachannel 3\n"
                ".call displaybrush 2 0 0\n.call endselect\n.call setalphaintensity -1"),
            0);
  ASSERT_NE(Brush(3)->alpha, nullptr);
  auto* plane = static_cast<vlPlane*>(Brush(3)->alpha->handle);
  EXPECT_EQ(plane->pixels[0], 100);
  EXPECT_EQ(plane->pixels[5], 255);
  EXPECT_EQ(Run(".call setalphaintensity 256"), ERR_WRONGUSAGE);
  // The brush being drawn into is refused before its arguments are judged.
  EXPECT_EQ(Run(".call selectbrush 3\n.call rotatebrush 3 10 0"), ERR_MODIFYABR);
  ASSERT_EQ(Run(".call endselect"), 0);
  EXPECT_EQ(Run(".call selectalphachannel 3 4"), ERR_MISSINGPARAMTR);
}

TEST_F(BrushSelectTest, LayersKeepTheirPicture) {
  ASSERT_EQ(Run(".call enablelayers\n.call createbrush 1 6 6 255\n.call displaybrush 1 0 0\n"
                ".call createbrush 2 2 2 16711680\n.call selectbrush 1\n.call displaybrush 2 0 0\n.call endselect"),
            0);
  EXPECT_EQ(ReadBitmapPixel(Brush(1)->bitmap, 0, 0, 0) & 0xFFFFFF, 0xFF0000u);
  RefreshDisplayObject(L, d_, 0);
  EXPECT_EQ(WindowPixel(d_, 0, 0), 0x0000FFu);
}

}  // namespace
