// Bitmap fonts made by a python generator from the disk-font byte layout:
// loading sizes, measuring and drawing pixel for pixel against the
// generator's own rendering, colour fonts, bad files, and the built-in font
// checked glyph by glyph against FreeType's rendering of the face it is made
// from.
#include <gtest/gtest.h>

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <utility>
#include <vector>

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

// One of the face's 1-bit renderings of a character: the size asked for,
// whether hinted, and its ink as (row, column), row 0 the first under the
// baseline.
struct Rendering {
  int width = 0, height = 0;
  bool hinted = true;
  std::vector<std::pair<int, int>> ink;
};

FT_Error Render(FT_Face ft, uint32_t code, int width, int height, bool hinted, Rendering* out) {
  const FT_Int32 flags = FT_LOAD_RENDER | FT_LOAD_MONOCHROME | (hinted ? FT_LOAD_TARGET_MONO : FT_LOAD_NO_HINTING);
  if (FT_Error e = FT_Set_Pixel_Sizes(ft, width, height)) return e;
  if (FT_Error e = FT_Load_Char(ft, code, flags)) return e;
  const FT_Bitmap& b = ft->glyph->bitmap;
  *out = Rendering{width, height, hinted, {}};
  for (int r = 0; r < static_cast<int>(b.rows); ++r)
    for (int c = 0; c < static_cast<int>(b.width); ++c)
      if (b.buffer[r * b.pitch + c / 8] & (0x80 >> (c % 8))) out->ink.emplace_back(r - ft->glyph->bitmap_top, c);
  return 0;
}

// Pieces of 8-connected ink.
int InkParts(std::vector<std::pair<int, int>> ink) {
  int parts = 0;
  while (!ink.empty()) {
    ++parts;
    std::vector<std::pair<int, int>> piece{ink.back()};
    ink.pop_back();
    while (!piece.empty()) {
      const auto [r, c] = piece.back();
      piece.pop_back();
      for (size_t i = 0; i < ink.size();)
        if (std::abs(ink[i].first - r) <= 1 && std::abs(ink[i].second - c) <= 1) {
          piece.push_back(ink[i]);
          ink[i] = ink.back();
          ink.pop_back();
        } else {
          ++i;
        }
    }
  }
  return parts;
}

using Cell = std::array<uint8_t, 64>;

std::vector<std::pair<int, int>> CellInk(const Cell& cell) {
  std::vector<std::pair<int, int>> ink;
  for (int i = 0; i < 64; ++i)
    if (cell[i]) ink.emplace_back(i / 8, i % 8);
  return ink;
}

// Every placement of the rendering wholly in the cell with its baseline
// `drop` rows under row 5, moved sideways by any amount; with drop < 0,
// moved up and down by any amount as well.
std::vector<Cell> Placements(const Rendering& r, int drop) {
  std::vector<Cell> out;
  if (r.ink.empty()) return out;
  for (int oy = drop < 0 ? -16 : 6 + drop; oy <= (drop < 0 ? 16 : 6 + drop); ++oy)
    for (int ox = -16; ox <= 16; ++ox) {
      Cell cell{};
      bool inside = true;
      for (const auto& [row, col] : r.ink) {
        const int y = row + oy, x = col + ox;
        if (!(inside = y >= 0 && y < 8 && x >= 0 && x < 8)) break;
        cell[y * 8 + x] = 1;
      }
      if (inside) out.push_back(cell);
    }
  return out;
}

// The Latin-1 letters that decompose into a letter and a mark, by the
// mark's spacing form: pairs of base letter and accented letter.
constexpr struct {
  uint32_t mark;
  const char* pairs;
} kAccented[] = {
    {0x60, "A\xC0" "E\xC8" "I\xCC" "O\xD2" "U\xD9" "a\xE0" "e\xE8" "i\xEC" "o\xF2" "u\xF9"},
    {0xB4, "A\xC1" "E\xC9" "I\xCD" "O\xD3" "U\xDA" "Y\xDD" "a\xE1" "e\xE9" "i\xED" "o\xF3" "u\xFA" "y\xFD"},
    {0x2C6, "A\xC2" "E\xCA" "I\xCE" "O\xD4" "U\xDB" "a\xE2" "e\xEA" "i\xEE" "o\xF4" "u\xFB"},
    {0x2DC, "A\xC3" "N\xD1" "O\xD5" "a\xE3" "n\xF1" "o\xF5"},
    {0xA8, "A\xC4" "E\xCB" "I\xCF" "O\xD6" "U\xDC" "a\xE4" "e\xEB" "i\xEF" "o\xF6" "u\xFC" "y\xFF"},
    {0x2DA, "A\xC5" "a\xE5"},
    {0xB8, "C\xC7" "c\xE7"},
};

// The built-in strike against the face it was made from (its source file
// names face and pixel size). Every glyph keeps all its ink in its cell and
// as many separate pieces of ink as the face's rendering at 64 pixels, so
// that dots and accents stay off their letters; only where no rendering of
// the face at any size can do that in the cell may a glyph have fewer. Each
// glyph is the face's 1-bit rendering, hinted or not, with the baseline
// under row 5, at the named size or a smaller one; or, for an accented
// letter that no rendering at the named height keeps apart, its base
// letter's rendering on the baseline or up to two rows under it with the
// mark's rendering, two rows high but for a diaeresis, above it. Capitals and digits keep the named size and fill the
// six rows above the baseline (the bar of "T", the top of "C"); accented
// capitals keep at least six rows of ink and five for their letter.
TEST(BuiltInStrike, EveryGlyphIsItsFacesRenderingWholeWithItsPartsApart) {
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
  auto cellOf = [](int code) {
    Cell cell{};
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 8; ++x) {
        const uint32_t bit = (kTopazCharLoc[code - 32] >> 16) + x;
        cell[y * 8 + x] = (kTopazStrike[y * kTopazModulo + bit / 8] >> (7 - bit % 8)) & 1;
      }
    return cell;
  };
  auto renderings = [&](uint32_t code) {
    std::vector<Rendering> all;
    for (int h = height; h >= 4; --h)
      for (int w = width; w >= 4; --w)
        for (bool hinted : {true, false}) {
          Rendering r;
          if (Render(ft, code, w, h, hinted, &r) == 0) all.push_back(r);
        }
    return all;
  };
  auto probeParts = [&](uint32_t code) {
    Rendering r;
    EXPECT_EQ(Render(ft, code, 64, 64, true, &r), 0) << code;
    return InkParts(r.ink);
  };
  int glyphs = 0, composed = 0;
  std::string unkept;
  std::map<Cell, int> codeOfCell;  // no two characters may look the same
  for (int code = 33; code < 256; ++code) {
    if (code >= 127 && code <= 160) continue;  // the box and the no-break space
    const Cell cell = cellOf(code);
    const auto [same, alone] = codeOfCell.emplace(cell, code);
    EXPECT_TRUE(alone) << "codes " << same->second << " and " << code << " share one look";
    if (code == 173) {
      // The soft hyphen shows only where a line breaks: blank.
      EXPECT_TRUE(CellInk(cell).empty());
      continue;
    }
    if (!FT_Get_Char_Index(ft, code)) continue;
    ++glyphs;
    const std::vector<std::pair<int, int>> ink = CellInk(cell);
    const int want = probeParts(code), parts = InkParts(ink);
    const std::vector<Rendering> own = renderings(code);
    // Which renderings could keep the parts apart, and which one the cell is.
    int keepsAt = 0;  // the largest height at which one does
    const Rendering* plain = nullptr;
    for (const Rendering& r : own)
      for (const Cell& placed : Placements(r, 0)) {
        if (!keepsAt && InkParts(CellInk(placed)) == want) keepsAt = r.height;
        if (!plain && placed == cell) plain = &r;
      }
    uint32_t base = 0, mark = 0;
    for (const auto& a : kAccented)
      for (const char* p = a.pairs; *p; p += 2)
        if (static_cast<uint8_t>(p[1]) == code) base = static_cast<uint8_t>(p[0]), mark = a.mark;
    if (parts != want) {
      EXPECT_TRUE(keepsAt == 0 && !base) << "code " << code << " has " << parts << " parts, the face " << want;
      unkept.append(" ").append(std::to_string(code));
    }
    if (plain) {
      EXPECT_GE(plain->height, height - 2) << "code " << code;
      if (std::isupper(code) || std::isdigit(code)) {
        EXPECT_TRUE(plain->width == width && plain->height == height) << static_cast<char>(code);
      }
    } else {
      // Composed: the base letter on the baseline or up to two rows under
      // it, the rest of the ink the mark's rendering, all of it above the
      // letter.
      ASSERT_NE(base, 0u) << "code " << code << " is not the face's glyph, or lost ink";
      EXPECT_LT(keepsAt, height) << "code " << code << " is composed where the face's glyph would do";
      const std::vector<Rendering> marks = renderings(mark);
      int baseRows = 0;
      for (const Rendering& b : renderings(base))
        for (int drop = 0; drop <= 2 && !baseRows; ++drop)
          for (const Cell& under : Placements(b, drop)) {
            Cell rest = cell;
            bool inside = true;
            int top = 8, bottom = -1;
            for (int i = 0; i < 64; ++i)
              if (under[i]) {
                inside = inside && cell[i];
                rest[i] = 0;
                top = std::min(top, i / 8), bottom = std::max(bottom, i / 8);
              }
            if (!inside) continue;
            const std::vector<std::pair<int, int>> restInk = CellInk(rest);
            if (restInk.empty() || restInk.back().first >= top) continue;
            // A mark is two rows high at least (a dot row only for the
            // diaeresis), so grave, acute and circumflex tell apart.
            if (mark != 0xA8 && restInk.back().first == restInk.front().first) continue;
            for (const Rendering& m : marks)
              for (const Cell& placed : Placements(m, -1))
                if (placed == rest) baseRows = bottom - top + 1;
            if (baseRows) break;
          }
      EXPECT_NE(baseRows, 0) << "code " << code << " is neither the face's glyph nor its letter and mark";
      if (std::isupper(base)) {
        EXPECT_GE(baseRows, 5) << "code " << code;
      }
      ++composed;
    }
    int top = 8, bottom = -1;
    for (const auto& [y, x] : ink) top = std::min(top, y), bottom = std::max(bottom, y);
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
  EXPECT_EQ(codeOfCell.size(), 189u);
  // The accented capitals (not the multiplication sign) are composed, but
  // for the few the face draws whole at the named height.
  EXPECT_GE(composed, 23);
  // Only the dotted zero, "%", the registered sign and the fractions cannot
  // keep their parts apart in eight pixels.
  EXPECT_EQ(unkept, " 37 48 174 188 189 190");
  // The letters of the faulty word, cell by cell: "T" has its bar.
  for (int x = 1; x < 7; ++x) EXPECT_EQ(cellOf('T')[x], 1) << x;
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
