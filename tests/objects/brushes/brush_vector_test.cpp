// Vector brushes from a loader plug-in of our own (a box drawn as a ring
// one device pixel wide): scaling, transforming and showing them with
// tags, without and with layers, renders the source again, which keeps the
// ring one pixel wide where turning the pixels would thicken it. Pixels
// are worked out by hand from the box and the matrix; window pixels are
// read back from Xvfb.
#include "tests/display/core/display_fixture.h"

#include <string>

#include "display/commands/layers_library.h"
#include "display/layers/layers.h"
#include "graphics/bitmap.h"
#include "objects/brushes/brush.h"
#include "runtime/class_lists.h"
#include "player/plugin_loader.h"
#include "vm/error_codes.h"

namespace {

constexpr uint32_t kRing = 0xFF0000, kInside = 0x0000FF;

class VectorBrushTest : public vltest::DisplayTest {
 protected:
  void SetUp() override {
    DisplayTest::SetUp();
    if (!started_) return;
    ASSERT_EQ(LoadPluginFile(VL_VECBOX_PLUGIN, 0, &node_), 0);
    vlPluginInfo* info = GetPluginInfo(node_->handle);
    ASSERT_EQ(AddPluginToClassList(info, VL_CLASS_IMAGE), 0);
    last_ = reinterpret_cast<int (*)(double*, int32_t*, int32_t*)>(
        GetPluginSymbol(node_->handle->library, "VecBoxLastRendering"));
    ASSERT_NE(last_, nullptr);
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
      FreeClassLists();
      FreePluginList();
    }
    DisplayTest::TearDown();
  }
  vlBrush* Brush(int n) {
    vlBrush* b = nullptr;
    return GetBrushByID(L, {n, nullptr}, &b, VL_BRUSH_FINDORPHANS) == 0 ? b : nullptr;
  }
  // The plug-in's last rendering: matrix, offsets and size.
  std::string Last() {
    double r[6];
    int32_t w = 0, h = 0;
    last_(r, &w, &h);
    char text[160];
    snprintf(text, sizeof text, "%g %g %g %g @ %g %g -> %dx%d", r[0], r[1], r[2], r[3], r[4], r[5], w, h);
    return text;
  }
  int Renderings() {
    double r[6];
    int32_t w, h;
    return last_(r, &w, &h);
  }
  vlPlugin* node_ = nullptr;
  int (*last_)(double*, int32_t*, int32_t*) = nullptr;
  vlDisplay* d_ = nullptr;
};

uint32_t Pixel(vlBrush* b, int x, int y) { return ReadBitmapPixel(b->bitmap, x, y, 0) & 0xFFFFFF; }
bool MaskBit(vlBrush* b, int x, int y) { return ReadBitmapPixel(b->mask, x, y, 1) != 0; }

TEST_F(VectorBrushTest, ScaleBrushRendersTheSourceAtTheNewSize) {
  if (!started_) GTEST_SKIP();
  ASSERT_EQ(Run(".call loadbrush 1 \"box.vecbox\""), 0);
  vlBrush* b = Brush(1);
  ASSERT_NE(b, nullptr);
  ASSERT_EQ(b->kind, 1u);
  EXPECT_EQ(b->width * 100 + b->height, 804);
  EXPECT_EQ(b->scaledVector, 0u);
  EXPECT_EQ(Pixel(b, 0, 0), kRing);
  EXPECT_EQ(Pixel(b, 1, 1), kInside);

  // Three times the size: the ring stays one pixel wide.
  ASSERT_EQ(Run(".call scalebrush 1 24 12"), 0);
  EXPECT_EQ(Last(), "3 0 0 3 @ 0 0 -> 24x12");
  EXPECT_EQ(b->width * 100 + b->height, 2412);
  EXPECT_EQ(b->scaledVector, 1u);
  for (int x = 0; x < 24; ++x) ASSERT_EQ(Pixel(b, x, 0), kRing) << x;
  EXPECT_EQ(Pixel(b, 0, 5), kRing);
  EXPECT_EQ(Pixel(b, 23, 11), kRing);
  EXPECT_EQ(Pixel(b, 1, 1), kInside);
  EXPECT_EQ(Pixel(b, 2, 2), kInside);
  EXPECT_EQ(Pixel(b, 22, 10), kInside);
  EXPECT_EQ(b->mask, nullptr);

  // Percentages are of the brush's size, the scale of the source's own.
  ASSERT_EQ(Run(".call scalebrush 1 \"50%\" \"50%\""), 0);
  EXPECT_EQ(Last(), "1.5 0 0 1.5 @ 0 0 -> 12x6");
  EXPECT_EQ(Pixel(b, 1, 1), kInside);
  EXPECT_EQ(Pixel(b, 11, 5), kRing);
  // The same size again renders nothing.
  const int before = Renderings();
  ASSERT_EQ(Run(".call scalebrush 1 12 6"), 0);
  EXPECT_EQ(Renderings(), before);
  // A scaled vector brush cannot become a layer.
  EXPECT_EQ(Run(".call enablelayers\n.call displaybrush 1 0 0"), ERR_TFVBRUSH);
}

TEST_F(VectorBrushTest, TransformsAreRenderedAndAddUp) {
  if (!started_) GTEST_SKIP();
  ASSERT_EQ(Run(".call loadbrush 1 \"box.vecbox\""), 0);
  vlBrush* b = Brush(1);
  ASSERT_NE(b, nullptr);
  // x' = 2x + 2y, y' = 2y: a 24 x 8 parallelogram whose rows start one
  // pixel further right each.
  ASSERT_EQ(Run(".call transformbrush 1 2 2 0 2"), 0);
  EXPECT_EQ(Last(), "2 2 0 2 @ 0 0 -> 24x8");
  EXPECT_EQ(b->width * 100 + b->height, 2408);
  EXPECT_EQ(b->scaledVector, 1u);
  ASSERT_NE(b->mask, nullptr);
  for (int x = 0; x < 16; ++x) ASSERT_EQ(Pixel(b, x, 0), kRing) << x;
  EXPECT_FALSE(MaskBit(b, 16, 0));
  EXPECT_TRUE(MaskBit(b, 15, 0));
  EXPECT_FALSE(MaskBit(b, 0, 1));
  EXPECT_EQ(Pixel(b, 1, 1), kRing);
  EXPECT_EQ(Pixel(b, 2, 1), kInside);  // turned pixels would still be ring here
  EXPECT_EQ(Pixel(b, 15, 1), kInside);
  EXPECT_EQ(Pixel(b, 16, 1), kRing);
  EXPECT_FALSE(MaskBit(b, 6, 7));
  EXPECT_TRUE(MaskBit(b, 7, 7));

  // A second transform works on what the brush shows: halving it leaves
  // a shear of the source's own size.
  ASSERT_EQ(Run(".call transformbrush 1 0.5 0 0 0.5"), 0);
  EXPECT_EQ(Last(), "1 1 0 1 @ 0 0 -> 12x4");
  EXPECT_EQ(b->width * 100 + b->height, 1204);

  // A rotation by 90 degrees turns the box on its side: x' = -y + 4.
  ASSERT_EQ(Run(".call loadbrush 2 \"box.vecbox\"\n.call rotatebrush 2 90"), 0);
  vlBrush* r = Brush(2);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->width * 100 + r->height, 408);
  EXPECT_EQ(Pixel(r, 1, 1), kInside);
  EXPECT_EQ(Pixel(r, 2, 6), kInside);
  EXPECT_EQ(Pixel(r, 3, 7), kRing);

  // A matrix the renderer refuses leaves the brush as it was.
  EXPECT_EQ(Run(".call transformbrush 1 1 1 1 1"), ERR_TFIMAGE);
  EXPECT_EQ(b->width * 100 + b->height, 1204);
  EXPECT_EQ(Pixel(b, 1, 1), kRing);
  EXPECT_EQ(Pixel(b, 2, 1), kInside);
  // Parts of vector brushes cannot be shown.
  EXPECT_EQ(Run(".call displaybrushpart 1 0 0 0 0 2 2"), ERR_BRUSHTYPE);
  // The image-processing commands refuse the brush being drawn into, and
  // a vector brush, before they look at its lock.
  b->locked = 1;
  EXPECT_EQ(Run(".call blurbrush 1"), ERR_BRUSHTYPE);
  EXPECT_EQ(Run(".call freebrush 1"), ERR_LOCKEDOBJ);
  b->locked = 0;
  ASSERT_EQ(Run(".call createbrush 5 4 4 255\n.call selectbrush 5"), 0);
  Brush(5)->locked = 1;
  EXPECT_EQ(Run(".call invertbrush 5"), ERR_MODIFYABR);
  EXPECT_EQ(Run(".call rasterizebrush 5"), ERR_MODIFYABR);
  Brush(5)->locked = 0;
  ASSERT_EQ(Run(".call endselect"), 0);
}

TEST_F(VectorBrushTest, DisplayTagsRenderTheSourceWithAndWithoutLayers) {
  if (!started_) GTEST_SKIP();
  ASSERT_EQ(Run(".call loadbrush 1 \"box.vecbox\""), 0);
  // Without layers the tags' scale is rendered into the window at once.
  ASSERT_EQ(Run(".table 0 { scalex = 3, scaley = 3 }\n.call base=1 displaybrush 1 2 2 r0"), 0);
  EXPECT_EQ(Last(), "3 0 0 3 @ 0 0 -> 24x12");
  EXPECT_EQ(WindowPixel(d_, 2, 2), kRing);
  EXPECT_EQ(WindowPixel(d_, 3, 3), kInside);
  EXPECT_EQ(WindowPixel(d_, 4, 4), kInside);
  EXPECT_EQ(WindowPixel(d_, 25, 13), kRing);
  EXPECT_EQ(WindowPixel(d_, 24, 12), kInside);
  EXPECT_EQ(WindowPixel(d_, 26, 2), 0u);
  // The brush itself is unchanged.
  EXPECT_EQ(Brush(1)->width * 100 + Brush(1)->height, 804);
  EXPECT_EQ(Brush(1)->scaledVector, 0u);

  // With layers the layer's transformed picture is rendered from the source.
  ASSERT_EQ(Run(".call enablelayers\n.table 0 { scalex = 2, scaley = 2 }\n.call base=1 displaybrush 1 30 20 r0"),
            0);
  EXPECT_EQ(Last(), "2 0 0 2 @ 0 0 -> 16x8");
  EXPECT_EQ(WindowPixel(d_, 30, 20), kRing);
  EXPECT_EQ(WindowPixel(d_, 31, 21), kInside);
  EXPECT_EQ(WindowPixel(d_, 44, 26), kInside);
  EXPECT_EQ(WindowPixel(d_, 45, 27), kRing);
  EXPECT_EQ(WindowPixel(d_, 46, 27), 0u);
}

}  // namespace
