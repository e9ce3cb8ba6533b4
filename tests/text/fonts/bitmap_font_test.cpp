// Bitmap fonts made by a python generator from the disk-font byte layout:
// loading sizes, measuring and drawing pixel for pixel against the
// generator's own rendering, colour fonts, bad files, and the built-in font
// checked glyph by glyph against FreeType's rendering of the face it is made
// from.
#include <gtest/gtest.h>

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "graphics/bitmap.h"
#include "runtime/runtime_options.h"
#include "tests/text/fonts/font_test_util.h"
#include "text/fonts/bitmap_font.h"
#include "text/fonts/engine_font.h"

namespace {

class BitmapFontTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = vltest::MakeTempDir("vl_bmfont");
    ASSERT_TRUE(vltest::MakeBitmapFonts(dir_));
  }
  static void TearDownTestSuite() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  void TearDown() override { ShutdownFontEngines(); }

  // A font loaded directly through the engine; null on failure.
  vlEngineFont* Load(const std::string& name, int32_t size) {
    auto* f = static_cast<vlEngineFont*>(std::calloc(1, sizeof(vlEngineFont)));
    f->scaleX = f->scaleY = 1.0;
    if (!LoadBitmapFont((dir_ + "/" + name).c_str(), size, f, "shown")) {
      std::free(f);
      return nullptr;
    }
    return f;
  }
  static void Close(vlEngineFont* f) {
    FreeBitmapFont(f);
    std::free(f);
  }

  static std::string dir_;
};
std::string BitmapFontTest::dir_;

TEST_F(BitmapFontTest, ProportionalFontMeasuresAndDrawsLikeTheGenerator) {
  vlEngineFont* f = Load("test", 8);  // ".font" is added
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->kind, VL_FONTKIND_BITMAP);
  EXPECT_STREQ(f->name, "shown");
  EXPECT_EQ(f->height, 8);
  EXPECT_EQ(f->baseline, 6);
  EXPECT_EQ(f->scalable, 0u);

  vlTextExtent e{};
  ASSERT_EQ(MeasureText(f, "ABCDZA", 6, 0, 0, &e), 0);
  std::istringstream expect(vltest::ReadAll(dir_ + "/expect_8.txt"));
  int width, left, right, top, bottom;
  expect >> width >> left >> right >> top >> bottom;
  EXPECT_EQ(e.width, width);
  EXPECT_EQ(e.left, left);
  EXPECT_EQ(e.right, right);
  EXPECT_EQ(e.top, top);
  EXPECT_EQ(e.bottom, bottom);
  EXPECT_EQ(e.height, 8);

  vlBitmap* pic = vltest::NewArgbPicture(48, 10, 0);
  ASSERT_NE(pic, nullptr);
  const int32_t clip[4] = {0, 0, 48, 10};
  ASSERT_EQ(RenderText(f, pic, nullptr, 3, 1, "ABCDZA", 6, 0, 0, clip, 0xFFFFFF), 0);
  std::vector<int> want = vltest::ReadNetpbm(dir_ + "/expect_8.pbm", 2);
  std::vector<uint32_t> got = vltest::Pixels(pic);
  ASSERT_EQ(want.size(), got.size());
  for (size_t i = 0; i < got.size(); ++i)
    ASSERT_EQ(got[i], want[i] ? 0xFFFFFFu : 0u) << "pixel " << i % 48 << "," << i / 48;

  // A clip rectangle keeps everything outside it untouched.
  FillBitmapRect(pic, 0, 0, 48, 10, 0);
  const int32_t narrow[4] = {10, 2, 5, 4};
  RenderText(f, pic, nullptr, 3, 1, "ABCDZA", 6, 0, 0, narrow, 0xFFFFFF);
  got = vltest::Pixels(pic);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 48; ++x) {
      bool inside = x >= 10 && x < 15 && y >= 2 && y < 6;
      EXPECT_EQ(got[y * 48 + x], inside && want[y * 48 + x] ? 0xFFFFFFu : 0u) << x << "," << y;
    }

  // Drawn as coverage into a mask plane, the same bits are set.
  vlBitmap* mask = NewMaskPlane(nullptr, 48, 10, 1, nullptr, 0);
  RenderText(f, mask, nullptr, 3, 1, "ABCDZA", 6, 0, 0, clip, -1);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 48; ++x) ASSERT_EQ(ReadBitmapPixel(mask, x, y, 1), uint32_t(want[y * 48 + x])) << x;
  // Text running off the plane is cut at its edge, not written past it.
  RenderText(f, mask, nullptr, 40, 5, "CCCC", 4, 0, 0, clip, -1);
  DeleteMaskPlane(mask);
  DeleteBitmap(pic);
  Close(f);
}

TEST_F(BitmapFontTest, FixedFontWithoutTablesMeasuresLengthTimesXSize) {
  vlEngineFont* f = Load("test.font", 10);  // capital or not, no second ending
  ASSERT_NE(f, nullptr);
  vlTextExtent e{};
  MeasureText(f, "hello", 5, 0, 0, &e);
  EXPECT_EQ(e.width, 30);
  EXPECT_EQ(e.left, 0);
  EXPECT_EQ(e.right, 29);
  EXPECT_EQ(e.top, -8);
  EXPECT_EQ(e.bottom, 1);
  Close(f);
}

TEST_F(BitmapFontTest, UnlinkedSizesMissingSizesAndBadGlyphFilesFail) {
  EXPECT_EQ(Load("test", 12), nullptr);  // listed only as ::incomplete, then as a missing file
  EXPECT_EQ(Load("test", 9), nullptr);
  EXPECT_EQ(Load("bad", 8), nullptr);    // identifier 0x0F81
  EXPECT_EQ(Load("nothere", 8), nullptr);
  // A glyph file cut short anywhere fails cleanly.
  std::string bytes = vltest::ReadAll(dir_ + "/test/8");
  for (size_t n = 0; n < bytes.size(); n += 7) {
    vlParsedBitmapFont parsed;
    EXPECT_EQ(ParseBitmapGlyphFile(reinterpret_cast<const uint8_t*>(bytes.data()), n, &parsed), 0) << n;
  }
  vlParsedBitmapFont parsed;
  ASSERT_EQ(ParseBitmapGlyphFile(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &parsed), 1);
  EXPECT_EQ(parsed.data.count, 5);
  EXPECT_EQ(parsed.data.modulo, 3);
  FreeBitmapFontTables(&parsed.data);
}

TEST_F(BitmapFontTest, ColourFontKeepsItsPaletteAndIndexZeroIsTransparent) {
  vlEngineFont* f = Load("colour", 7);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->kind, VL_FONTKIND_COLOR);
  ASSERT_NE(f->strikeBitmap, nullptr);
  vlBitmap* pic = vltest::NewArgbPicture(16, 7, 0x123456);
  const int32_t clip[4] = {0, 0, 16, 7};
  RenderText(f, pic, nullptr, 0, 0, "XY", 2, 0, 0, clip, 0xFFFFFF);  // Y is outside X..X
  std::vector<int> want = vltest::ReadNetpbm(dir_ + "/expect_colour.ppm", 3);
  std::vector<uint32_t> got = vltest::Pixels(pic);
  ASSERT_EQ(want.size(), got.size() * 3);
  bool sawRed = false;
  for (size_t i = 0; i < got.size(); ++i) {
    uint32_t rgb = uint32_t(want[3 * i]) << 16 | uint32_t(want[3 * i + 1]) << 8 | uint32_t(want[3 * i + 2]);
    ASSERT_EQ(got[i], rgb) << i;
    sawRed = sawRed || rgb == 0xFF0000;
  }
  EXPECT_TRUE(sawRed);  // table entry 0x0F00
  DeleteBitmap(pic);
  Close(f);

  // While bitmap creation is deferred the strike waits as pixels.
  vlOptions.renderState = 1;
  f = Load("colour", 7);
  vlOptions.renderState = 0;
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->strikeBitmap, nullptr);
  ASSERT_NE(f->pendingStrike, nullptr);
  EXPECT_EQ(f->pendingWidth, 16);
  EXPECT_EQ(f->pendingHeight, 7);
  for (size_t i = 0; i < 16 * 7; ++i) {
    uint32_t rgb = uint32_t(want[3 * i]) << 16 | uint32_t(want[3 * i + 1]) << 8 | uint32_t(want[3 * i + 2]);
    ASSERT_EQ(f->pendingStrike[i] & 0xFFFFFF, rgb == 0x123456 ? kStrikeKeyColor : rgb) << i;
  }
  Close(f);
}

TEST_F(BitmapFontTest, InbuiltFontIsTopazAtEightPixels) {
  vlEngineFont* f = nullptr;
  ASSERT_EQ(GetInbuiltFont(&f), 0);
  vlEngineFont* again = nullptr;
  ASSERT_EQ(GetInbuiltFont(&again), 0);
  EXPECT_EQ(f, again);
  EXPECT_STREQ(f->name, "topaz");
  EXPECT_EQ(f->size, 8);
  EXPECT_EQ(f->height, 8);
  EXPECT_EQ(f->baseline, 6);
  EXPECT_EQ(f->kind, VL_FONTKIND_BITMAP);
  vlTextExtent e{};
  MeasureText(nullptr, "abc\x01\xff", 5, 0, 0, &e);
  EXPECT_EQ(e.width, 40);
  EXPECT_EQ(e.right, 39);
  // "A" draws ink inside its cell and nothing outside it; "I" differs from "A".
  vlBitmap* pic = vltest::NewArgbPicture(24, 8, 0);
  const int32_t clip[4] = {0, 0, 24, 8};
  RenderText(nullptr, pic, nullptr, 8, 0, "A", 1, 0, 0, clip, 0xFF00FF);
  std::vector<uint32_t> a = vltest::Pixels(pic);
  int ink = 0;
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 24; ++x) {
      if (x < 8 || x >= 16) {
        EXPECT_EQ(a[y * 24 + x], 0u);
      }
      ink += a[y * 24 + x] == 0xFF00FF;
    }
  EXPECT_GT(ink, 8);
  // Closing the built-in font leaves it usable.
  CloseEngineFont(f);
  FillBitmapRect(pic, 0, 0, 24, 8, 0);
  RenderText(f, pic, nullptr, 8, 0, "A", 1, 0, 0, clip, 0xFF00FF);
  EXPECT_EQ(vltest::Pixels(pic), a);
  DeleteBitmap(pic);
}

// The built-in strike against the face it was made from (its source file
// names face and pixel size): every glyph is FreeType's 1-bit rendering of
// that face, whole, with the baseline under row 5, at the named size or,
// for a glyph too tall or wide for the cell, at a slightly smaller one.
// Capitals and digits keep the named size; capitals fill the six rows above
// the baseline (the bar of "T", the top of "C"); accented capitals keep at
// least six rows of ink.
TEST(BuiltInStrike, EveryGlyphIsItsFacesRenderingWholeInItsCell) {
  const std::string source = vltest::ReadAll(std::string(VL_TEST_SOURCE_DIR) + "/text/fonts/topaz_strike.cpp");
  const size_t from = source.find("from ");
  ASSERT_NE(from, std::string::npos);
  char face[128] = {};
  int width = 0, height = 0;
  ASSERT_EQ(std::sscanf(source.c_str() + from, "from %127s at %dx%d pixels", face, &width, &height), 3);
  FT_Library lib = nullptr;
  FT_Face ft = nullptr;
  ASSERT_EQ(FT_Init_FreeType(&lib), 0);
  ASSERT_EQ(FT_New_Face(lib, (std::string(VL_FACE_DIR) + "/" + face).c_str(), 0, &ft), 0) << face;
  auto cell = [](int code, int x, int y) {
    const uint32_t bit = (kTopazCharLoc[code - 32] >> 16) + x;
    return (kTopazStrike[y * 188 + bit / 8] >> (7 - bit % 8)) & 1;
  };
  // The size (w, h) at which the face's glyph, placed on the baseline and
  // moved sideways by some amount, is exactly the cell; {0, 0} for none.
  auto match = [&](int code) -> std::pair<int, int> {
    int cellInk = 0;
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 8; ++x) cellInk += cell(code, x, y);
    for (int h = height; h >= 4; --h)
      for (int w = width; w >= 4; --w) {
        if (FT_Set_Pixel_Sizes(ft, w, h) ||
            FT_Load_Char(ft, code, FT_LOAD_RENDER | FT_LOAD_TARGET_MONO | FT_LOAD_MONOCHROME))
          continue;
        const FT_Bitmap& b = ft->glyph->bitmap;
        const int oy = 6 - ft->glyph->bitmap_top;
        for (int dx = -8; dx <= 8; ++dx) {
          int ink = 0;
          bool same = true;
          for (int r = 0; same && r < static_cast<int>(b.rows); ++r)
            for (int c = 0; same && c < static_cast<int>(b.width); ++c) {
              if (!(b.buffer[r * b.pitch + c / 8] & (0x80 >> (c % 8)))) continue;
              const int x = c + dx, y = r + oy;
              same = x >= 0 && x < 8 && y >= 0 && y < 8 && cell(code, x, y);
              ++ink;
            }
          if (same && ink == cellInk) return {w, h};
        }
      }
    return {0, 0};
  };
  int glyphs = 0;
  for (int code = 33; code < 256; ++code) {
    if ((code >= 127 && code <= 160) || code == 173 || code == 180 || code == 184) continue;  // box, shared cells
    if (!FT_Get_Char_Index(ft, code)) continue;
    const std::pair<int, int> size = match(code);
    ASSERT_NE(size.first, 0) << "code " << code << " is not the face's glyph, or lost ink";
    EXPECT_GE(size.second, height - 2) << "code " << code;
    ++glyphs;
    int top = 8, bottom = -1;
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 8; ++x)
        if (cell(code, x, y)) top = std::min(top, y), bottom = std::max(bottom, y);
    if (std::isupper(code) || std::isdigit(code)) {
      EXPECT_EQ(size, std::make_pair(width, height)) << "code " << code;
    }
    if (std::isupper(code)) {
      EXPECT_EQ(top, 0) << static_cast<char>(code);
      EXPECT_EQ(bottom, code == 'Q' ? 6 : 5) << static_cast<char>(code);
    }
    if (code >= 192 && code <= 221 && code != 215) {
      EXPECT_EQ(top, 0) << "code " << code;
      EXPECT_GE(bottom - top + 1, 6) << "code " << code;
    }
  }
  EXPECT_GT(glyphs, 180);
  // The letters of the faulty word, cell by cell: "T" has its bar.
  for (int x = 1; x < 7; ++x) EXPECT_EQ(cell('T', x, 0), 1) << x;
  FT_Done_Face(ft);
  FT_Done_FreeType(lib);
}

TEST(Utf8Decode, WellFormedTextGivesCodePointsAndBadTextIsDeclined) {
  uint32_t buffer[16];
  uint32_t* codes;
  int32_t count;
  int allocated;
  const char good[] = "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
  ASSERT_EQ(DecodeUTF8Text(good, int32_t(sizeof good - 1), 1, buffer, sizeof buffer, &codes, &count, &allocated), 0);
  ASSERT_EQ(count, 4);
  EXPECT_EQ(allocated, 0);
  EXPECT_EQ(codes[0], 0x41u);
  EXPECT_EQ(codes[1], 0xE9u);
  EXPECT_EQ(codes[2], 0x20ACu);
  EXPECT_EQ(codes[3], 0x1F600u);
  // Encoding 0, a lone continuation byte, a missing continuation byte, a
  // sequence cut by the end, a six-byte lead.
  EXPECT_EQ(DecodeUTF8Text(good, 3, 0, buffer, sizeof buffer, &codes, &count, &allocated), 1003);
  for (const char* bad : {"\x80", "\xC3\x41", "\xE2\x82", "\xFC\x80\x80\x80\x80\x80"})
    EXPECT_EQ(DecodeUTF8Text(bad, int32_t(std::strlen(bad)), 1, buffer, sizeof buffer, &codes, &count, &allocated),
              1003)
        << bad;
  // Text longer than the buffer is decoded into a block of its own.
  std::string longText(100, 'x');
  ASSERT_EQ(DecodeUTF8Text(longText.c_str(), 100, 1, buffer, sizeof buffer, &codes, &count, &allocated), 0);
  EXPECT_EQ(allocated, 1);
  EXPECT_EQ(count, 100);
  FreeDecodedText(codes);
}

}  // namespace
