// Anims, sprites and colour fonts loaded while resources are preloaded,
// before the first display: pictures made by ImageMagick stay ARGB pixels
// (no screen format yet), a picture stored under "cache" is taken again by
// "cachedload" after its file is gone, and opening the first display turns
// every waiting frame and font strike into bitmaps with the file's colours.
#include "tests/display/core/display_fixture.h"

#include <cstdlib>
#include <string>
#include <unistd.h>

#include "display/commands/display_library.h"
#include "graphics/bitmap.h"
#include "formats/image_cache.h"
#include "objects/anims/anim.h"
#include "objects/brushes/brush.h"
#include "objects/sprites/sprite.h"
#include "tests/objects/anims/anim_lookup.h"
#include "runtime/runtime_options.h"
#include "tests/text/fonts/font_test_util.h"
#include "text/font_cache.h"
#include "text/text_library.h"
#include "vm/error_codes.h"

namespace {

class AnimPreload : public vltest::DisplayTest {
 protected:
  void SetUp() override {
    DisplayTest::SetUp();
    if (!started_) return;
    ASSERT_EQ(OpenAnimLib(L), 0);
    ASSERT_EQ(OpenSpriteLib(L), 0);
    ASSERT_EQ(OpenTextLib(L), 0);
    ASSERT_EQ(InitDefaultFont(), 0);
    // As at start-up: no display yet, so no screen format.
    vlDisplaySetupDone = 0;
    SetGlobalPixelFormat(-1);
    dir_ = testing::TempDir() + "animpre_" + std::to_string(getpid());
    ASSERT_EQ(std::system(("mkdir -p '" + dir_ + "'").c_str()), 0);
  }
  void TearDown() override {
    if (started_) {
      SetRuntimeOption(L, VL_OPT_RENDER_STATE, 0u, 0u);
      FreeSpriteLibrary(L);
      FreeAnimLibrary(L);
      FreeTextLibrary(L);
      FreeImageCache();
      std::system(("rm -rf '" + dir_ + "'").c_str());
    }
    DisplayTest::TearDown();
  }
  vlAnim* Anim(int n) { return vltest::FindAnim(L, n); }
  vlSprite* Sprite(int n) { return vltest::FindSprite(L, n); }
  bool Convert(const std::string& args, const std::string& file) {
    return std::system(("convert " + args + " '" + file + "' 2>/dev/null").c_str()) == 0;
  }
  std::string dir_;
};

uint32_t Pixel(vlBitmap* b, int x, int y) { return ReadBitmapPixel(b, x, y, 0) & 0xFFFFFF; }

TEST_F(AnimPreload, FramesWaitAsPixelsUntilTheFirstDisplayOpens) {
  // Two 4x4 tiles: red with one blue pixel at (1, 2), and green.
  const std::string pic = dir_ + "/tiles.png", gif = dir_ + "/two.gif";
  ASSERT_TRUE(Convert("-size 8x4 xc:'#ff0000' -fill '#00ff00' -draw 'rectangle 4,0 7,3' -fill '#0000ff' "
                      "-draw 'point 1,2'",
                      pic));
  ASSERT_TRUE(Convert("-size 6x5 -delay 10 xc:'#ffff00' -delay 20 xc:'#00ffff'", gif));
  const std::string grid = "frames = 2, width = 4, height = 4";

  SetRuntimeOption(L, VL_OPT_RENDER_STATE, 1u, 0u);
  ASSERT_EQ(Run(".table 0 { " + grid + ", cache = \"" + pic + "\" }\n.call base=1 loadanim 1 \"" + pic +
                "\" r0\n.call loadanim 2 \"" + gif + "\"\n.call loadsprite 3 \"" + gif +
                "\"\n.call loadanim 4 \"" + gif + "\"\n.call freeanim 4"),
            0);
  // The cached picture serves a later declaration without its file.
  ASSERT_EQ(std::remove(pic.c_str()), 0);
  ASSERT_EQ(Run(".table 0 { " + grid + ", cachedload = \"" + pic + "\" }\n.call base=1 loadsprite 1 \"" + pic +
                "\" r0"),
            0);
  // A name the cache does not hold is loaded from its file as usual.
  EXPECT_NE(Run(".table 0 { " + grid + ", cachedload = \"other\" }\n.call base=1 loadsprite 2 \"" + pic + "\" r0"),
            0);

  vlAnim* tiles = Anim(1);
  vlAnim* two = Anim(2);
  vlSprite* sprite = Sprite(1);
  vlSprite* gifSprite = Sprite(3);
  ASSERT_TRUE(tiles && two && sprite && gifSprite);
  ASSERT_EQ(tiles->frameCount, 2);
  ASSERT_EQ(two->frameCount, 2);
  for (int i = 0; i < 2; ++i) {
    ASSERT_NE(tiles->pixels[i], nullptr);
    EXPECT_EQ(tiles->bitmaps[i], nullptr);
    ASSERT_NE(two->pixels[i], nullptr);
    EXPECT_EQ(two->bitmaps[i], nullptr);
    ASSERT_NE(sprite->pixels[i], nullptr);
    EXPECT_EQ(sprite->bitmaps[i], nullptr);
  }
  EXPECT_EQ(tiles->pixels[0][2 * 4 + 1] & 0xFFFFFF, 0x0000FFu);
  EXPECT_EQ(tiles->pixels[1][0] & 0xFFFFFF, 0x00FF00u);
  EXPECT_EQ(two->width, 6);
  EXPECT_EQ(two->delays[1], 200);

  // The first display: the screen's format is known and frames convert.
  SetRuntimeOption(L, VL_OPT_RENDER_STATE, 0u, 0u);
  ASSERT_EQ(Run(".table 0 { width = 40, height = 30, color = 0 }\n.call base=1 createdisplay 1 r0"), 0);
  ASSERT_EQ(OpenInitialDisplays(L, 0), 0);
  EXPECT_GE(GetGlobalPixelFormat(), 0);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(tiles->pixels[i], nullptr);
    ASSERT_NE(tiles->bitmaps[i], nullptr);
    EXPECT_EQ(two->pixels[i], nullptr);
    ASSERT_NE(two->bitmaps[i], nullptr);
    EXPECT_EQ(sprite->pixels[i], nullptr);
    ASSERT_NE(sprite->bitmaps[i], nullptr);
    ASSERT_NE(gifSprite->bitmaps[i], nullptr);
  }
  EXPECT_EQ(Pixel(tiles->bitmaps[0], 1, 2), 0x0000FFu);
  EXPECT_EQ(Pixel(tiles->bitmaps[0], 2, 2), 0xFF0000u);
  EXPECT_EQ(Pixel(tiles->bitmaps[1], 3, 3), 0x00FF00u);
  EXPECT_EQ(Pixel(sprite->bitmaps[0], 1, 2), 0x0000FFu);
  EXPECT_EQ(Pixel(sprite->bitmaps[1], 0, 0), 0x00FF00u);
  EXPECT_EQ(Pixel(two->bitmaps[0], 5, 4), 0xFFFF00u);
  EXPECT_EQ(Pixel(two->bitmaps[1], 0, 0), 0x00FFFFu);
  EXPECT_EQ(Pixel(gifSprite->bitmaps[1], 2, 2), 0x00FFFFu);
  EXPECT_EQ(two->source, nullptr);

  // Loaded after the display opened: bitmaps at once.
  ASSERT_EQ(Run(".call loadanim 5 \"" + gif + "\""), 0);
  ASSERT_NE(Anim(5)->bitmaps[0], nullptr);
  EXPECT_EQ(Pixel(Anim(5)->bitmaps[0], 0, 0), 0xFFFF00u);
}

// Brushes too: their source pixels wait for the screen's format, keyed
// and alpha brushes alike, and the first display makes their bitmaps.
TEST_F(AnimPreload, BrushesWaitAsPixelsUntilTheFirstDisplayOpens) {
  ASSERT_EQ(OpenBrushLib(L), 0);
  const std::string pic = dir_ + "/brush.png", disc = dir_ + "/disc.png";
  ASSERT_TRUE(Convert("-size 8x4 xc:'#ff0000' -fill '#00ff00' -draw 'rectangle 4,0 7,3' -fill '#0000ff' "
                      "-draw 'point 1,2'",
                      pic));
  ASSERT_TRUE(Convert("-size 6x6 xc:none -fill '#ffff00' -draw 'rectangle 2,2 3,3'", disc));
  SetRuntimeOption(L, VL_OPT_RENDER_STATE, 1u, 0u);
  ASSERT_EQ(Run(".call loadbrush 1 \"" + pic + "\"\n.table 0 { transparency = 255, x = 1, y = 1 }\n"
                ".call base=1 loadbrush 2 \"" + pic + "\" r0\n.table 0 { loadalpha = 1 }\n"
                ".call base=1 loadbrush 3 \"" + disc + "\" r0"),
            0);
  vlBrush *plain = nullptr, *keyed = nullptr, *alpha = nullptr;
  ASSERT_EQ(GetBrushByID(L, {1, nullptr}, &plain, 0), 0);
  ASSERT_EQ(GetBrushByID(L, {2, nullptr}, &keyed, 0), 0);
  ASSERT_EQ(GetBrushByID(L, {3, nullptr}, &alpha, 0), 0);
  for (vlBrush* b : {plain, keyed, alpha}) {
    EXPECT_EQ(b->bitmap, nullptr);
    EXPECT_NE(b->source, nullptr);
  }
  EXPECT_EQ(keyed->width, 7);
  EXPECT_EQ(keyed->height, 3);
  ASSERT_NE(alpha->alpha, nullptr);

  SetRuntimeOption(L, VL_OPT_RENDER_STATE, 0u, 0u);
  ASSERT_EQ(Run(".table 0 { width = 40, height = 30, color = 0 }\n.call base=1 createdisplay 1 r0"), 0);
  ASSERT_EQ(OpenInitialDisplays(L, 0), 0);
  for (vlBrush* b : {plain, keyed, alpha}) {
    ASSERT_NE(b->bitmap, nullptr);
    EXPECT_EQ(b->source, nullptr);
  }
  EXPECT_EQ(Pixel(plain->bitmap, 1, 2), 0x0000FFu);
  EXPECT_EQ(Pixel(plain->bitmap, 4, 0), 0x00FF00u);
  // The keyed brush starts at (1, 1): the blue pixel is its (0, 1), the
  // only one the key leaves out.
  ASSERT_NE(keyed->mask, nullptr);
  EXPECT_EQ(Pixel(keyed->bitmap, 1, 0), 0xFF0000u);
  EXPECT_EQ(ReadBitmapPixel(keyed->mask, 0, 1, 1), 0u);
  EXPECT_NE(ReadBitmapPixel(keyed->mask, 1, 1, 1), 0u);
  // On the window: the alpha brush's yellow square over the black BGPic.
  ASSERT_EQ(Run(".call displaybrush 3 10 10\n.call displaybrush 1 20 10"), 0);
  vlDisplay* d = GetDisplayByNumber(1);
  EXPECT_EQ(WindowPixel(d, 12, 12), 0xFFFF00u);
  EXPECT_EQ(WindowPixel(d, 10, 10), 0u);
  EXPECT_EQ(WindowPixel(d, 21, 12), 0x0000FFu);
  FreeBrushLib(L);
}

TEST_F(AnimPreload, ColourFontStrikesWaitForTheFirstDisplay) {
  ASSERT_TRUE(vltest::MakeBitmapFonts(dir_));
  SetRuntimeOption(L, VL_OPT_RENDER_STATE, 1u, 0u);
  ASSERT_EQ(Run(".call addfontpath \"" + dir_ + "\"\n.call openfont 1 \"colour\" 7"), 0);
  vlFontNode* node = nullptr;
  ASSERT_EQ(GetFontByID({1, nullptr}, &node), 0);
  ASSERT_NE(node->font->pendingStrike, nullptr);
  EXPECT_EQ(node->font->strikeBitmap, nullptr);
  SetRuntimeOption(L, VL_OPT_RENDER_STATE, 0u, 0u);
  ASSERT_EQ(Run(".table 0 { width = 40, height = 30, color = 0 }\n.call base=1 createdisplay 1 r0"), 0);
  ASSERT_EQ(OpenInitialDisplays(L, 0), 0);
  EXPECT_EQ(node->font->pendingStrike, nullptr);
  ASSERT_NE(node->font->strikeBitmap, nullptr);
  ASSERT_NE(node->font->strikeMask, nullptr);
  // The key colour is outside the mask.
  EXPECT_EQ(ReadBitmapPixel(node->font->strikeMask, 0, 0, 1) == 0,
            (ReadBitmapPixel(node->font->strikeBitmap, 0, 0, 0) & 0xFFFFFF) == 0xEEE6D2);
}

}  // namespace
