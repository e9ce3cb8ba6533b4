// Drawing into anim frames, BGPic planes and layers, and brushes converted
// from anims, sprites and text objects.
#include "tests/display/core/display_fixture.h"

#include "display/graphics_library/graphics_library.h"
#include "display/commands/layers_library.h"
#include "display/layers/layers.h"
#include "graphics/bitmap.h"
#include "objects/anims/anim.h"
#include "objects/brushes/brush.h"
#include "objects/sprites/sprite.h"
#include "text/fonts/bitmap_font.h"
#include "text/text_library.h"
#include "text/text_objects.h"
#include "vm/constants.h"
#include "vm/error_codes.h"

namespace {

uint32_t Pixel(vlBitmap* b, int x, int y) { return ReadBitmapPixel(b, x, y, 0) & 0xFFFFFF; }
uint32_t Bit(vlBitmap* m, int x, int y) { return ReadBitmapPixel(m, x, y, 1); }

class BrushTargets : public vltest::DisplayTest {
 protected:
  void SetUp() override {
    DisplayTest::SetUp();
    if (!started_) return;
    ASSERT_EQ(OpenBrushLib(L), 0);
    ASSERT_EQ(OpenAnimLib(L), 0);
    ASSERT_EQ(OpenSpriteLib(L), 0);
    ASSERT_EQ(OpenLayersLib(L), 0);
    ASSERT_EQ(OpenGraphicsLib(L), 0);  // keeps the mask mode and alpha intensity
    ASSERT_EQ(OpenTextLib(L), 0);
    ASSERT_EQ(InitDefaultFont(), 0);
    ASSERT_EQ(Run(".table 0 { width = 64, height = 48, color = 0 }\n.call base=1 createdisplay 1 r0\n"
                  ".call opendisplay 1"),
              0);
    d_ = GetDisplayByNumber(1);
    // Anim 1: three 4x4 frames, red, green and blue; brush 2: 2x2 yellow.
    ASSERT_EQ(Run(".call createbrush 1 12 4 16711680\n.call createbrush 2 2 2 16776960"), 0);
    FillBitmapRect(Brush(1)->bitmap, 4, 0, 4, 4, 0xFF00FF00u);
    FillBitmapRect(Brush(1)->bitmap, 8, 0, 4, 4, 0xFF0000FFu);
    ASSERT_EQ(Run(".call createanim 1 1 4 4 3 3"), 0);
    anim_ = Anim(1);
    ASSERT_NE(anim_, nullptr);
  }
  void TearDown() override {
    if (started_) {
      ShutdownLayerSystem(L);
      FreeTextLibrary(L);
      FreeSpriteLibrary(L);
      FreeAnimLibrary(L);
      FreeBrushLib(L);
      FreeGraphicsObjects(L);
    }
    DisplayTest::TearDown();
  }
  vlBrush* Brush(int n) {
    vlBrush* b = nullptr;
    return GetBrushByID(L, {n, nullptr}, &b, VL_BRUSH_HARDWAREOK) == 0 ? b : nullptr;
  }
  vlAnim* Anim(int n) {
    vlAnim* a = nullptr;
    return GetAnimByID(L, {n, nullptr}, &a, VL_ANIM_NOLAYERCOPY) == 0 ? a : nullptr;
  }
  // Every pixel (and mask bit) of the brush equals the frame's.
  void ExpectSamePicture(vlBrush* b, vlBitmap* bitmap, vlBitmap* mask, int w, int h) {
    ASSERT_NE(b, nullptr);
    ASSERT_EQ(b->width, w);
    ASSERT_EQ(b->height, h);
    ASSERT_EQ(b->mask != nullptr, mask != nullptr);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        EXPECT_EQ(Pixel(b->bitmap, x, y), Pixel(bitmap, x, y)) << x << "," << y;
        if (mask) { EXPECT_EQ(Bit(b->mask, x, y), Bit(mask, x, y)) << x << "," << y; }
      }
  }
  vlDisplay* d_ = nullptr;
  vlAnim* anim_ = nullptr;
};

TEST_F(BrushTargets, DrawingIntoAnAnimFrame) {
  ASSERT_EQ(Run(".call selectanim 1 2\n.call displaybrush 2 1 1"), 0);
  EXPECT_EQ(d_->outputType, uint32_t{VL_OUTPUT_BRUSH});
  EXPECT_TRUE(IsActiveAnim(anim_));
  EXPECT_EQ(Run(".call selectanim 1 2"), 0);  // already the target
  EXPECT_EQ(Run(".call freeanim 1"), kErrActiveAnim);
  ASSERT_EQ(Run(".call endselect"), 0);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) {
      const bool drawn = x >= 1 && x <= 2 && y >= 1 && y <= 2;
      EXPECT_EQ(Pixel(anim_->bitmaps[1], x, y), drawn ? 0xFFFF00u : 0x00FF00u) << x << "," << y;
      EXPECT_EQ(Pixel(anim_->bitmaps[0], x, y), 0xFF0000u);
      EXPECT_EQ(Pixel(anim_->bitmaps[2], x, y), 0x0000FFu);
    }
  EXPECT_EQ(WindowPixel(d_, 1, 1), 0u);
  EXPECT_EQ(d_->outputType, uint32_t{VL_OUTPUT_DISPLAY});

  EXPECT_EQ(Run(".call selectanim 1 4"), ERR_ANIMFRAME);
  EXPECT_EQ(Run(".call selectanim 1 0"), ERR_ANIMFRAME);
  EXPECT_EQ(Run(".call selectanim 9 1"), kErrFindAnim);
  EXPECT_EQ(d_->outputType, uint32_t{VL_OUTPUT_DISPLAY});
}

TEST_F(BrushTargets, AnimFrameMaskAndAlphaChannel) {
  EXPECT_EQ(Run(".call selectmask 1 4"), ERR_MISSINGPARAMTR);
  EXPECT_EQ(Run(".call selectmask 1 4 5"), ERR_ANIMFRAME);
  // Drawn pixels clear the mask bits (MASKINVISIBLE); the new mask starts
  // with every bit set.
  const char* text;
  double invisible = -1;
  ASSERT_TRUE(vl::FindConstant(L, "MASKINVISIBLE", &text, &invisible));
  ASSERT_EQ(invisible, 1);
  ASSERT_EQ(Run(".call setmaskmode 1\n.call selectmask 1 4 3\n.call displaybrush 2 2 0\n.call endselect\n"
                ".call setmaskmode 0"),
            0);
  ASSERT_NE(anim_->masks, nullptr);
  ASSERT_NE(anim_->masks[2], nullptr);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(Bit(anim_->masks[2], x, y), (x >= 2 && y < 2) ? 0u : 1u) << x << "," << y;
  EXPECT_EQ(Pixel(anim_->bitmaps[2], 2, 0), 0x0000FFu);  // the colour stays
  EXPECT_EQ(anim_->masks[0], nullptr);

  ASSERT_EQ(Run(".call setalphaintensity 100\n.call selectalphachannel 1 4 1\n.call displaybrush 2 0 0\n"
                ".call endselect\n.call setalphaintensity -1"),
            0);
  ASSERT_NE(anim_->alphas, nullptr);
  ASSERT_NE(anim_->alphas[0], nullptr);
  auto* plane = static_cast<vlPlane*>(anim_->alphas[0]->handle);
  EXPECT_EQ(plane->pixels[0], 100);
  EXPECT_EQ(plane->pixels[3], 255);
}

TEST_F(BrushTargets, BGPicMaskAndAlphaChannel) {
  ASSERT_EQ(Run(".call createbgpic 5 6 4 255"), 0);
  vlBGPic* pic = nullptr;
  ASSERT_EQ(GetBGPicByID(L, {5, nullptr}, &pic, 0), 0);
  ASSERT_EQ(Run(".call setmaskmode 1\n.call selectbgpic 5 28\n.call displaybrush 2 4 2\n.call endselect\n"
                ".call setmaskmode 0"),
            0);
  ASSERT_NE(pic->curMask, nullptr);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x) EXPECT_EQ(Bit(pic->curMask, x, y), (x >= 4 && y >= 2) ? 0u : 1u) << x << "," << y;
  EXPECT_EQ(Pixel(pic->curBitmap, 4, 2), 0x0000FFu);
  // The alpha channel replaces the mask.
  ASSERT_EQ(Run(".call setalphaintensity 7\n.call selectalphachannel 5 1\n.call displaybrush 2 0 0\n"
                ".call endselect\n.call setalphaintensity -1"),
            0);
  EXPECT_EQ(pic->curMask, nullptr);
  ASSERT_NE(pic->curAlpha, nullptr);
  auto* plane = static_cast<vlPlane*>(pic->curAlpha->handle);
  EXPECT_EQ(plane->pixels[0], 7);
  EXPECT_EQ(plane->pixels[2], 255);
  // A scaled BGPic's mask is drawn as loaded (8 x 8) and its current
  // triple made from it; scaling again keeps what was drawn.
  ASSERT_EQ(Run(".call createbgpic 6 8 8 255\n.call scalebgpic 6 4 4\n.call setmaskmode 1\n"
                ".call selectbgpic 6 28\n.call displaybrush 2 4 4\n.call endselect\n.call setmaskmode 0"),
            0);
  ASSERT_EQ(GetBGPicByID(L, {6, nullptr}, &pic, 0), 0);
  ASSERT_NE(pic->curMask, nullptr);
  ASSERT_NE(pic->curMask, pic->loadMask);
  EXPECT_EQ(QueryBitmap(pic->curMask, 0), 4);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(Bit(pic->curMask, x, y), (x == 2 && y == 2) ? 0u : 1u) << x << "," << y;
  ASSERT_EQ(Run(".call scalebgpic 6 8 8"), 0);
  ASSERT_NE(pic->curMask, nullptr);
  EXPECT_EQ(QueryBitmap(pic->curMask, 0), 8);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x)
      EXPECT_EQ(Bit(pic->curMask, x, y), (x >= 4 && x < 6 && y >= 4 && y < 6) ? 0u : 1u) << x << "," << y;
  // An alpha channel drawn the same way replaces the mask in every triple.
  ASSERT_EQ(Run(".call scalebgpic 6 16 16\n.call setalphaintensity 9\n.call selectalphachannel 6 1\n"
                ".call displaybrush 2 0 0\n.call endselect\n.call setalphaintensity -1"),
            0);
  EXPECT_EQ(pic->curMask, nullptr);
  EXPECT_EQ(pic->loadMask, nullptr);
  ASSERT_NE(pic->curAlpha, nullptr);
  EXPECT_EQ(QueryBitmap(pic->curAlpha, 0), 16);
  EXPECT_EQ(ReadAlphaByte(pic->curAlpha, 3, 3), 9);
  EXPECT_EQ(ReadAlphaByte(pic->curAlpha, 4, 4), 255);
  // So are its pixels.
  ASSERT_EQ(Run(".call createbgpic 7 8 8 255\n.call scalebgpic 7 4 4\n.call selectbgpic 7 3\n"
                ".call displaybrush 2 4 4\n.call endselect"),
            0);
  ASSERT_EQ(GetBGPicByID(L, {7, nullptr}, &pic, 0), 0);
  EXPECT_EQ(Pixel(pic->curBitmap, 2, 2), 0xFFFF00u);
  EXPECT_EQ(Pixel(pic->curBitmap, 1, 2), 0x0000FFu);
  ASSERT_EQ(Run(".call scalebgpic 7 8 8"), 0);
  EXPECT_EQ(Pixel(pic->curBitmap, 5, 5), 0xFFFF00u);
  EXPECT_EQ(Pixel(pic->curBitmap, 3, 5), 0x0000FFu);
  // The BGPic a display shows cannot be drawn into this way.
  EXPECT_EQ(Run(".call selectbgpic nil 28"), ERR_SELECTBGPIC2);
  EXPECT_EQ(Run(".call selectbgpic 5 29"), ERR_WRONGUSAGE);
  EXPECT_EQ(d_->outputType, uint32_t{VL_OUTPUT_DISPLAY});
}

TEST_F(BrushTargets, DrawingIntoALayer) {
  ASSERT_EQ(Run(".call enablelayers\n.call createbrush 3 6 6 255\n.call displaybrush 3 0 0\n"
                ".call selectlayer 1\n.call displaybrush 2 1 1\n.call endselect"),
            0);
  // EndSelect shows what was drawn.
  EXPECT_EQ(WindowPixel(d_, 1, 1), 0xFFFF00u);
  EXPECT_EQ(WindowPixel(d_, 0, 0), 0x0000FFu);
  // The layer drew into its own picture: the brush is unchanged.
  EXPECT_EQ(Pixel(Brush(3)->bitmap, 1, 1), 0x0000FFu);
  // In combo mode what is drawn also goes into the alpha channel of the
  // layer's source: a see-through brush shows only where it was drawn on.
  ASSERT_EQ(Run(".table 0 { alphachannel = 1 }\n.call base=1 createbrush 4 6 6 65280 r0\n"
                ".call setalphaintensity 0\n.call selectalphachannel 4\n.call displaybrush 1 0 0\n"
                ".call displaybrush 1 0 2\n.call endselect\n.call setalphaintensity -1\n"
                ".call displaybrush 4 10 0\n.call selectlayer 2 1\n.call displaybrush 2 1 1\n.call endselect"),
            0);
  EXPECT_EQ(WindowPixel(d_, 11, 1), 0xFFFF00u);
  EXPECT_EQ(WindowPixel(d_, 12, 2), 0xFFFF00u);
  EXPECT_EQ(WindowPixel(d_, 14, 4), WindowPixel(d_, 20, 20)) << "outside the box the brush stays see-through";
  // A turned layer is built again from what was drawn: a corner drawn at
  // its top left shows at its bottom right (turned about its centre, the
  // layer covers 27..32 and -3..2).
  ASSERT_EQ(Run(".call createbrush 5 6 6 255\n.call displaybrush 5 30 0\n.call setlayeranchor 3 0.5 0.5\n"
                ".call rotatelayer 3 180\n.call selectlayer 3\n.call displaybrush 2 0 0\n.call endselect"),
            0);
  EXPECT_EQ(WindowPixel(d_, 32, 2), 0xFFFF00u);
  EXPECT_EQ(WindowPixel(d_, 28, 0), 0x0000FFu);
  // In combo mode drawing into a text layer reaches its mask: what is
  // drawn above an underscore shows.
  ASSERT_EQ(Run(".call textout 40 30 \"_\"\n.call selectlayer 4 1\n.call displaybrush 2 0 0\n.call endselect"), 0);
  EXPECT_EQ(WindowPixel(d_, 40, 30), 0xFFFF00u);
  // The text layer became a picture layer: scaled later, it keeps what was
  // drawn instead of rendering its text again.
  ASSERT_EQ(Run(".call scalelayer 4 \"200%\" \"200%\""), 0);
  EXPECT_EQ(GetLayerByPos(d_->bgpic, 4)->type, uint32_t{VL_LAYER_BRUSH});
  EXPECT_EQ(WindowPixel(d_, 43, 33), 0xFFFF00u);
  // A layer's mask: the new mask starts with every bit set, drawn pixels
  // clear it (MASKINVISIBLE) and the background shows there once the
  // selection ends. The script's brush keeps no mask.
  ASSERT_EQ(Run(".call createbrush 7 8 8 16711935\n.call displaybrush 7 50 38\n.call setmaskmode 1\n"
                ".call selectmask 5 22\n.call displaybrush 2 0 0\n.call displaybrush 2 0 2\n.call endselect\n"
                ".call setmaskmode 0"),
            0);
  for (int y = 38; y < 46; ++y)
    for (int x = 50; x < 58; ++x)
      EXPECT_EQ(WindowPixel(d_, x, y), x < 52 && y < 42 ? 0u : 0xFF00FFu) << x << "," << y;
  EXPECT_EQ(Brush(7)->mask, nullptr);
  // The same layer's alpha channel: the mask goes (the two exclude each
  // other), what is drawn gets the alpha intensity, the rest stays opaque.
  ASSERT_EQ(Run(".call setalphaintensity 0\n.call selectalphachannel 5 22\n.call displaybrush 2 6 6\n"
                ".call endselect\n.call setalphaintensity -1"),
            0);
  EXPECT_EQ(WindowPixel(d_, 50, 38), 0xFF00FFu);
  EXPECT_EQ(WindowPixel(d_, 56, 44), 0u);
  EXPECT_EQ(WindowPixel(d_, 55, 45), 0xFF00FFu);
  EXPECT_EQ(Brush(7)->alpha, nullptr);
  // An anim layer's frame: the layer's own copy of the anim gets the mask,
  // the script's anim none.
  ASSERT_EQ(Run(".call displayanimframe 1 40 40 1\n.call setmaskmode 1\n.call selectmask 6 22 1\n"
                ".call displaybrush 2 0 0\n.call endselect\n.call setmaskmode 0"),
            0);
  EXPECT_EQ(WindowPixel(d_, 41, 41), 0u);
  EXPECT_EQ(WindowPixel(d_, 42, 41), 0xFF0000u);
  EXPECT_EQ(WindowPixel(d_, 41, 42), 0xFF0000u);
  EXPECT_TRUE(!anim_->masks || !anim_->masks[0]);
  // Only the layer named is drawn into; a frame on a brush layer, or a
  // missing layer, is refused and nothing is selected.
  EXPECT_EQ(Run(".call selectmask 5 22 1"), ERR_NOANMLAYER);
  EXPECT_EQ(Run(".call selectalphachannel 9 22"), ERR_LAYERRANGE);
  EXPECT_EQ(d_->outputType, uint32_t{VL_OUTPUT_DISPLAY});
}

TEST_F(BrushTargets, ConversionsFromAnimsSpritesAndTextObjects) {
  ASSERT_EQ(Run(".call converttobrush 4 1 5 2"), 0);
  ExpectSamePicture(Brush(5), anim_->bitmaps[1], nullptr, 4, 4);
  EXPECT_EQ(Run(".call converttobrush 4 1 6 4"), ERR_ANIMFRAME);
  EXPECT_EQ(Run(".call converttobrush 4 1 6 0"), ERR_ANIMFRAME);
  EXPECT_EQ(Run(".call converttobrush 4 9 6 1"), kErrFindAnim);

  ASSERT_EQ(Run(".call createsprite 1 4 1\n.call converttobrush 32 1 6 3"), 0);
  ExpectSamePicture(Brush(6), anim_->bitmaps[2], nullptr, 4, 4);
  EXPECT_EQ(Run(".call converttobrush 32 1 7 4"), ERR_ANIMFRAME);
  EXPECT_EQ(Run(".call converttobrush 32 2 7 1"), 1219);  // no such sprite

  ASSERT_EQ(Run(".call setfontcolor 65280\n.call createtextobject 1 \"Hi\"\n.call converttobrush 8 1 7"), 0);
  vlTextObject* o = nullptr;
  ASSERT_EQ(GetTextObjectByID(L, {1, nullptr}, &o, 0), 0);
  ExpectSamePicture(Brush(7), o->bitmap, o->mask, o->width, o->height);
  EXPECT_EQ(Run(".call converttobrush 8 2 8"), 1175);  // no such text object
  EXPECT_EQ(Run(".call converttobrush 5 1 8"), ERR_WRONGUSAGE);
  EXPECT_EQ(Brush(8), nullptr);
}

}  // namespace

namespace {

bool TopazBit(unsigned char c, int x, int y) {
  const uint32_t loc = kTopazCharLoc[c - 32];
  const int bit = static_cast<int>(loc >> 16) + x;
  return (kTopazStrike[y * kTopazModulo + bit / 8] >> (7 - bit % 8)) & 1;
}

// Text drawn into a selected alpha channel or mask of a brush that had none:
// the plane is made first, and the glyph's ink lands in it.
TEST_F(BrushTargets, TextIntoABrushAlphaChannelAndMask) {
  ASSERT_EQ(Run(".call createbrush 5 16 8 255"), 0);
  vlBrush* b = Brush(5);
  ASSERT_NE(b, nullptr);
  ASSERT_EQ(b->alpha, nullptr);
  ASSERT_EQ(Run(".call setalphaintensity 40\n.call selectalphachannel 5\n.call textout 0 0 \"A\"\n"
                ".call endselect\n.call setalphaintensity -1"),
            0);
  ASSERT_NE(b->alpha, nullptr);
  auto* plane = static_cast<vlPlane*>(b->alpha->handle);
  int ink = 0;
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      const bool on = TopazBit('A', x, y);
      ink += on;
      EXPECT_EQ(plane->pixels[y * plane->rowBytes + x], on ? 40 : 255) << x << "," << y;
    }
  EXPECT_GT(ink, 10);
  EXPECT_EQ(Pixel(b->bitmap, 1, 1), 0x0000FFu);  // the colour stays

  ASSERT_EQ(Run(".call createbrush 6 16 8 255\n.call setmaskmode 1\n.call selectmask 6\n"
                ".call textout 8 0 \"B\"\n.call endselect\n.call setmaskmode 0"),
            0);
  vlBrush* m = Brush(6);
  ASSERT_NE(m->mask, nullptr);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      EXPECT_EQ(Bit(m->mask, x, y), 1u) << x << "," << y;
      EXPECT_EQ(Bit(m->mask, 8 + x, y), TopazBit('B', x, y) ? 0u : 1u) << x << "," << y;
    }
}

}  // namespace
