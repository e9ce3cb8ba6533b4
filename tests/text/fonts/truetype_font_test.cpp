// The TrueType engine against FreeType itself (a face opened straight from
// the installed file, its metrics, kerning and rendered coverage), against
// ImageMagick's text rendering for loose metrics, and with collections,
// resource-fork style files and OpenType faces made or installed on the
// system.
#include <gtest/gtest.h>

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "graphics/bitmap.h"
#include "runtime/os.h"
#include "runtime/paths.h"
#include "runtime/errors.h"
#include "tests/text/fonts/font_test_util.h"
#include "text/fonts/engine_font.h"
#include "text/fonts/truetype_font.h"
#include "vm/error_codes.h"

namespace {

const std::string kVera = "/usr/share/fonts/truetype/ttf-bitstream-vera/Vera.ttf";
const std::string kDejaVu = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
const std::string kDejaVuSerif = "/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf";
const std::string kLiberation = "/usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf";
const std::string kLiberationBI = "/usr/share/fonts/truetype/liberation/LiberationSans-BoldItalic.ttf";
const std::string kFreeSans = "/usr/share/fonts/opentype/freefont/FreeSans.otf";

// A face opened by FreeType directly, sized the way the engine sizes it.
struct Reference {
  FT_Library lib = nullptr;
  FT_Face face = nullptr;
  int nominal = 0;
  explicit Reference(const std::string& path, int size) {
    FT_Init_FreeType(&lib);
    if (FT_New_Face(lib, path.c_str(), 0, &face)) return;
    FT_Set_Char_Size(face, 0, 6400, 72, 72);
    int asc = 0, desc = 0;
    for (FT_ULong c = 33; c < 256; ++c) {
      FT_UInt g = FT_Get_Char_Index(face, c);
      if (!g || FT_Load_Glyph(face, g, FT_LOAD_RENDER | FT_LOAD_NO_AUTOHINT)) continue;
      asc = std::max(asc, face->glyph->bitmap_top);
      desc = std::max(desc, int(face->glyph->bitmap.rows) - face->glyph->bitmap_top);
    }
    nominal = size * 100 / (asc + desc);
    FT_Set_Pixel_Sizes(face, nominal - 1, 0);
  }
  ~Reference() {
    if (face) FT_Done_Face(face);
    FT_Done_FreeType(lib);
  }
};

class TrueTypeTest : public testing::Test {
 protected:
  void SetUp() override {
    vlEngineFont* inbuilt;
    ASSERT_EQ(GetInbuiltFont(&inbuilt), 0);
    dir = vltest::MakeTempDir("vl_ttf");
    ASSERT_FALSE(dir.empty());
  }
  void TearDown() override {
    for (vlEngineFont* f : opened) CloseEngineFont(f);
    while (vlFontPaths) {
      vlFontPathNode* p = vlFontPaths;
      vlFontPaths = p->next;
      FreeMemory(p);
    }
    ShutdownFontEngines();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  vlEngineFont* Open(const std::string& name, int size, int engine = VL_FONTENGINE_INBUILT, int cache = 1) {
    vlEngineFont* f = nullptr;
    if (OpenEngineFont(name.c_str(), size, engine, cache, 0, &f)) return nullptr;
    opened.push_back(f);
    return f;
  }
  void AddPath(const std::string& path) {
    auto* node = static_cast<vlFontPathNode*>(AllocMemory(sizeof(vlFontPathNode) + path.size() + 1, 1));
    node->name = reinterpret_cast<char*>(node + 1);
    std::memcpy(node->name, path.c_str(), path.size() + 1);
    node->next = vlFontPaths;
    vlFontPaths = node;
    FreeFontDirectory();
  }
  static vlTextExtent Measure(vlEngineFont* f, const std::string& text, uint32_t style = 0, int enc = 0) {
    vlTextExtent e{};
    MeasureText(f, text.c_str(), int32_t(text.size()), style, enc, &e);
    return e;
  }

  std::string dir;
  std::vector<vlEngineFont*> opened;
};

TEST_F(TrueTypeTest, EmbeddedFaceSizesLikeFreeTypeAndDrawsItsCoverage) {
  vlEngineFont* f = Open("bitstream vera sans", 20);
  ASSERT_NE(f, nullptr);
  EXPECT_STREQ(f->name, "Bitstream Vera Sans");
  EXPECT_EQ(f->kind, VL_FONTKIND_TRUETYPE);
  EXPECT_EQ(f->height, 20);
  EXPECT_EQ(f->size, 20);
  EXPECT_EQ(f->scalable, 1u);
  EXPECT_EQ(f->antiAlias, 1u);
  Reference ref(kVera, 20);
  ASSERT_NE(ref.face, nullptr);
  EXPECT_EQ(static_cast<vlTTFont*>(f->engineData)->nominalSize, ref.nominal);
  // The baseline splits the room left by the tallest capitals and 'q'.
  int top = 0, down = 0;
  for (FT_ULong c : {FT_ULong('A'), FT_ULong(0xC0), FT_ULong(0xC4), FT_ULong('q')}) {
    FT_Load_Char(ref.face, c, FT_LOAD_RENDER | FT_LOAD_NO_AUTOHINT);
    top = std::max(top, ref.face->glyph->bitmap_top);
    down = std::max(down, int(ref.face->glyph->bitmap.rows) - ref.face->glyph->bitmap_top);
  }
  EXPECT_EQ(f->baseline, (top + 20 + 1 - down) / 2);

  // The coverage written into an alpha plane is FreeType's own, in place.
  vlBitmap* plane = NewAlphaPlane(40, 30, 1, nullptr, 0);
  const int32_t clip[4] = {0, 0, 40, 30};
  RenderText(f, plane, nullptr, 5, 3, "g", 1, VL_STYLE_ANTIALIAS, 0, clip, -1);
  FT_Load_Char(ref.face, 'g', FT_LOAD_NO_AUTOHINT);
  FT_Render_Glyph(ref.face->glyph, FT_RENDER_MODE_NORMAL);
  const FT_Bitmap& b = ref.face->glyph->bitmap;
  const int gx = 5 + ref.face->glyph->bitmap_left, gy = 3 + f->baseline - ref.face->glyph->bitmap_top;
  ASSERT_GT(b.rows, 5u);
  const auto* bytes = reinterpret_cast<const uint8_t*>(QueryBitmap(plane, 3));
  const intptr_t stride = QueryBitmap(plane, 1);
  int ink = 0;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) {
      int want = 0;
      if (x >= gx && y >= gy && x < gx + int(b.width) && y < gy + int(b.rows))
        want = b.buffer[(y - gy) * b.pitch + (x - gx)];
      ASSERT_EQ(int(bytes[y * stride + x]), want) << x << "," << y;
      ink += want != 0;
    }
  EXPECT_GT(ink, 20);
  DeleteAlphaPlane(plane);
}

TEST_F(TrueTypeTest, WidthsAndKerningFollowFreeTypeAndImageMagick) {
  vlEngineFont* f = Open(kVera, 24);
  ASSERT_NE(f, nullptr);
  Reference ref(kVera, 24);
  // Each advance is FreeType's at the nominal size, within a pixel of rounding.
  for (char c : std::string("AWgi1 .")) {
    FT_Set_Pixel_Sizes(ref.face, ref.nominal, 0);
    FT_Load_Char(ref.face, FT_ULong(c), FT_LOAD_NO_AUTOHINT | FT_LOAD_NO_HINTING);
    double want = ref.face->glyph->linearHoriAdvance / 65536.0;
    EXPECT_NEAR(Measure(f, std::string(1, c)).width, want, 1.0) << c;
  }
  // Kerning: FreeType's scaled pair value, and a narrower pair in text.
  FT_Vector k;
  FT_Set_Pixel_Sizes(ref.face, ref.nominal, 0);
  FT_Get_Kerning(ref.face, FT_Get_Char_Index(ref.face, 'A'), FT_Get_Char_Index(ref.face, 'V'),
                 FT_KERNING_UNFITTED, &k);
  int32_t kern = GetKerning(f, "AV", 0, 0);
  EXPECT_LT(kern, 0);
  EXPECT_NEAR(kern, k.x / 64.0, 1.0);
  EXPECT_EQ(GetKerning(f, "AVA", 0, 0), 0);
  EXPECT_EQ(GetKerning(f, "ll", 0, 0), 0);
  EXPECT_LT(Measure(f, "AV").width, Measure(f, "A").width + Measure(f, "V").width);

  // ImageMagick draws the same face at the same em size to roughly the same width.
  std::string cmd = "convert -font " + kVera + " -pointsize " + std::to_string(ref.nominal) +
                    " label:WideTextWithGlyphs -format %w info: 2>/dev/null";
  int im = std::atoi(vltest::Shell(cmd).c_str());
  ASSERT_GT(im, 0);
  int ours = Measure(f, "WideTextWithGlyphs").width;
  EXPECT_NEAR(ours, im, im * 0.15) << "ImageMagick " << im;
}

TEST_F(TrueTypeTest, SizeBlanksStylesScaleAndCache) {
  vlEngineFont* f = Open(kDejaVu, 20);
  ASSERT_NE(f, nullptr);
  EXPECT_STREQ(f->name, "DejaVu Sans");
  std::string all;
  for (int c = 33; c < 256; ++c) all += char(c);
  vlTextExtent e = Measure(f, all);
  EXPECT_NEAR(e.bottom - e.top, 20, 2);
  vlTextExtent blanks = Measure(f, "   ");
  EXPECT_GT(blanks.width, 0);
  EXPECT_EQ(blanks.left, 0);
  EXPECT_EQ(blanks.top, 0);
  EXPECT_EQ(blanks.right, 0);
  // Bold grows the ink and the advance; italic leans the ink right.
  vlTextExtent plain = Measure(f, "HHHH"), bold = Measure(f, "HHHH", VL_STYLE_BOLD);
  vlTextExtent italic = Measure(f, "HHHH", VL_STYLE_ITALIC);
  EXPECT_GT(bold.width, plain.width);
  EXPECT_GT(italic.right, plain.right);
  // The same text in UTF-8 and in ISO 8859-1 measures the same; bad UTF-8 is taken as bytes.
  EXPECT_EQ(Measure(f, "caf\xC3\xA9", 0, 1).width, Measure(f, "caf\xE9").width);
  EXPECT_EQ(Measure(f, "caf\xE9", 0, 1).width, Measure(f, "caf\xE9").width);

  // Drawn twice (the second from the cache) and after a flush: the same pixels.
  vlBitmap* pic = vltest::NewArgbPicture(80, 30, 0);
  const int32_t clip[4] = {0, 0, 80, 30};
  auto draw = [&](uint32_t style) {
    FillBitmapRect(pic, 0, 0, 80, 30, 0);
    RenderText(f, pic, nullptr, 2, 2, "Rag\xE9", 4, style, 0, clip, 0xFFFFFF);
    return vltest::Pixels(pic);
  };
  // Bold and italic glyphs come from the cache too, as the uncached font
  // renders them.
  vlEngineFont* uncached = Open(kDejaVu, 20, VL_FONTENGINE_INBUILT, 0);
  ASSERT_NE(uncached, nullptr);
  for (uint32_t style : {0u, uint32_t(VL_STYLE_ANTIALIAS), uint32_t(VL_STYLE_BOLD | VL_STYLE_ITALIC),
                         uint32_t(VL_STYLE_BOLD | VL_STYLE_ITALIC | VL_STYLE_ANTIALIAS)}) {
    auto first = draw(style), second = draw(style);
    FlushGlyphCache(f);
    EXPECT_EQ(first, second);
    EXPECT_EQ(first, draw(style));
    std::swap(f, uncached);
    EXPECT_EQ(first, draw(style)) << "style " << style;
    std::swap(f, uncached);
    int lit = 0;
    for (uint32_t p : first) {
      lit += p != 0;
      // Without anti-aliasing only the colour and the background occur.
      if (!(style & VL_STYLE_ANTIALIAS)) {
        ASSERT_TRUE(p == 0 || p == 0xFFFFFF) << std::hex << p;
      }
    }
    EXPECT_GT(lit, 30);
  }
  EXPECT_NE(draw(0), draw(VL_STYLE_BOLD));
  DeleteBitmap(pic);

  // Twice the scale: twice the height and about twice the width.
  int w1 = Measure(f, "Scale me").width;
  SetFontScale(f, 2.0, 2.0);
  EXPECT_EQ(f->height, 40);
  EXPECT_NEAR(Measure(f, "Scale me").width, 2 * w1, 3);
  SetFontScale(f, 1.0, 1.0);
  EXPECT_EQ(f->height, 20);
  EXPECT_EQ(Measure(f, "Scale me").width, w1);
}

// A measurement joined to the next (how the layout grows a line run by
// run) equals the joined text measured whole: kerning across the seam, ink
// of the second text only, blanks alone, a mark above the baseline, UTF-8
// and bytes, text that is only well-formed once joined, every style; and
// for the built-in strike too.
TEST_F(TrueTypeTest, JoinedMeasuresEqualTheJoinedTextMeasured) {
  vlEngineFont* inbuilt = nullptr;
  ASSERT_EQ(GetInbuiltFont(&inbuilt), 0);
  const std::vector<std::pair<std::string, std::string>> pairs = {
      {"A", "V"}, {"AV", "AV"}, {"T", "o"}, {"Wa ", "To"}, {"   ", "x"}, {"x", "   "}, {"   ", "  "},
      {"", "Ta"}, {"Ta", ""}, {"\"", "^"}, {"f", "j"}, {"caf\xC3\xA9 ", "\xC3\xA9t\xC3\xA9"},
      {"bytes\xC3", "\xA9x"}, {"\xE9", "A"}, {"L", "\xFF"}};
  vlEngineFont* vera = Open(kVera, 23);
  vlEngineFont* dejavu = Open(kDejaVu, 17);
  ASSERT_NE(vera, nullptr);
  ASSERT_NE(dejavu, nullptr);
  SetFontScale(dejavu, 1.3, 1.0);  // the advances rounded after scaling
  auto same = [](const vlTextExtent& a, const vlTextExtent& b) {
    return a.width == b.width && a.height == b.height && a.left == b.left && a.top == b.top &&
           a.right == b.right && a.bottom == b.bottom;
  };
  int kerned = 0;
  for (vlEngineFont* f : {vera, dejavu, inbuilt})
    for (uint32_t style : {0u, 2u, 4u, 6u, 16u, 22u})
      for (int enc : {0, 1})
        for (const auto& [a, b] : pairs) {
          SCOPED_TRACE(std::string(f->name) + " style " + std::to_string(style) + " enc " + std::to_string(enc) +
                       " \"" + a + "\" + \"" + b + "\"");
          vlTextMeasure ma, mb, joined;
          ASSERT_EQ(MeasureTextJoinable(f, a.data(), int32_t(a.size()), style, enc, &ma), 0);
          ASSERT_EQ(MeasureTextJoinable(f, b.data(), int32_t(b.size()), style, enc, &mb), 0);
          const std::string ab = a + b;
          ASSERT_EQ(JoinTextMeasures(f, style, enc, ma, mb, ab.data(), int32_t(ab.size()), &joined), 0);
          const vlTextExtent whole = Measure(f, ab, style, enc);
          EXPECT_TRUE(same(joined.extent, whole))
              << joined.extent.width << " " << joined.extent.left << " " << joined.extent.right << " "
              << joined.extent.top << " " << joined.extent.bottom << " measured whole " << whole.width << " "
              << whole.left << " " << whole.right << " " << whole.top << " " << whole.bottom;
          kerned += ma.extent.width + mb.extent.width != whole.width;
          // Joined once more, to a third text: the seam facts carry over.
          vlTextMeasure mc, three;
          ASSERT_EQ(MeasureTextJoinable(f, "Vo", 2, style, enc, &mc), 0);
          const std::string abc = ab + "Vo";
          ASSERT_EQ(JoinTextMeasures(f, style, enc, joined, mc, abc.data(), int32_t(abc.size()), &three), 0);
          EXPECT_TRUE(same(three.extent, Measure(f, abc, style, enc)));
        }
  EXPECT_GT(kerned, 10);  // the seams did kern
}

TEST_F(TrueTypeTest, OpenTypeCollectionsAndResourceFiles) {
  vlEngineFont* otf = Open(kFreeSans, 16);
  ASSERT_NE(otf, nullptr);
  EXPECT_STREQ(otf->name, "FreeSans");
  EXPECT_GT(Measure(otf, "OpenType").width, 30);

  const std::string py = "python3 " + vltest::SourceFile("tests/text/fonts/make_font_containers.py");
  vltest::Shell(py + " ttc " + dir + "/pair.ttc " + kDejaVu + " " + kDejaVuSerif);
  vltest::Shell(py + " dfont " + dir + "/mac.dfont " + kLiberationBI);
  AddPath(dir);
  // The second face of the collection is written out as a file of its own.
  uint32_t off, len, temp;
  char path[1024];
  const char* found = FindInstalledFont("DejaVu Serif", &off, &len, &temp, path, sizeof path);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(temp, 1u);
  FT_Library lib;
  FT_Init_FreeType(&lib);
  FT_Face face;
  ASSERT_EQ(FT_New_Face(lib, found, 0, &face), 0);
  EXPECT_STREQ(face->family_name, "DejaVu Serif");
  EXPECT_EQ(face->num_glyphs, Reference(kDejaVuSerif, 10).face->num_glyphs);
  FT_Done_Face(face);
  FT_Done_FreeType(lib);
  RemovePath(found);

  // Opening by name takes the collection face and removes its file on close.
  vlEngineFont* serif = Open("DejaVu Serif", 18);
  ASSERT_NE(serif, nullptr);
  auto* tt = static_cast<vlTTFont*>(serif->engineData);
  ASSERT_EQ(tt->isTemp, 1u);
  std::string tempPath = tt->tempPath;
  EXPECT_TRUE(std::filesystem::exists(tempPath));
  CloseEngineFont(serif);
  opened.pop_back();
  EXPECT_FALSE(std::filesystem::exists(tempPath));

  // The resource-style file gives a face read from its offset.
  vlEngineFont* mac = Open("Liberation Sans Bold Italic", 18);
  ASSERT_NE(mac, nullptr);
  EXPECT_STREQ(mac->name, "Liberation Sans Bold Italic");
  bool sawMac = false;
  for (const vlFontListEntry* e = GetFontDirectory(); e; e = e->next) {
    if (std::string(e->path) != dir + "/mac.dfont") continue;
    sawMac = true;
    EXPECT_EQ(e->resourceOffset, 260u);
    EXPECT_EQ(e->weight, 200);
    EXPECT_EQ(e->slant, 100);
  }
  EXPECT_TRUE(sawMac);
}

TEST_F(TrueTypeTest, DirectoryScanEntriesAndStyleWords) {
  std::filesystem::copy_file(kLiberation, dir + "/x.ttf");
  std::filesystem::copy_file(kLiberation, dir + "/Liberation.ttf");
  std::filesystem::copy_file(kLiberationBI, dir + "/LiberationBI.TTF");
  std::filesystem::create_directory(dir + "/sub.ttf");
  ASSERT_TRUE(vltest::MakeBitmapFonts(dir));
  AddPath(dir);
  auto entriesIn = [&](int single) {
    FreeFontDirectory();
    ScanFontDirectories(single);
    std::vector<std::string> names;
    for (const vlFontListEntry* e = GetFontDirectory(); e; e = e->next)
      if (std::string(e->path).rfind(dir, 0) == 0) names.push_back(std::string(e->fullName) + "|" + std::filesystem::path(e->path).filename().string());
    return names;
  };
  std::vector<std::string> all = entriesIn(0);
  auto has = [&](const std::vector<std::string>& v, const std::string& s) {
    return std::find(v.begin(), v.end(), s) != v.end();
  };
  EXPECT_TRUE(has(all, "Liberation Sans Regular|Liberation.ttf"));
  EXPECT_TRUE(has(all, "Liberation Sans|Liberation.ttf"));  // the family finds the regular face
  EXPECT_TRUE(has(all, "Liberation Sans Bold Italic|LiberationBI.TTF"));
  EXPECT_TRUE(has(all, "test|test.font"));
  for (const std::string& e : all) EXPECT_EQ(e.find("|x.ttf"), std::string::npos) << e;
  for (const vlFontListEntry* e = GetFontDirectory(); e; e = e->next) {
    if (std::string(e->fullName) == "test") {
      EXPECT_EQ(e->bitmap, 1u);
      ASSERT_EQ(e->sizeCount, 3);  // 12 twice, once unlinked
      EXPECT_EQ(e->sizes[0], 12);
      EXPECT_EQ(e->sizes[1], 8);
      EXPECT_EQ(e->sizes[2], 10);
    }
  }
  std::vector<std::string> single = entriesIn(1);
  EXPECT_FALSE(has(single, "Liberation Sans|Liberation.ttf"));
  EXPECT_TRUE(has(single, "Liberation Sans Regular|Liberation.ttf"));

  int32_t weight, slant;
  ParseStyleWords("Bold Italic", &weight, &slant);
  EXPECT_EQ(weight, 200);
  EXPECT_EQ(slant, 100);
  ParseStyleWords("ultra-light OBLIQUE", &weight, &slant);
  EXPECT_EQ(weight, 40);
  EXPECT_EQ(slant, 110);
  ParseStyleWords("Condensed", &weight, &slant);
  EXPECT_EQ(weight, 80);
  EXPECT_EQ(slant, 0);
}

TEST_F(TrueTypeTest, OpeningThroughTheInterface) {
  // Engines other than 0 and 4 fail with the formatted open-font message.
  vlEngineFont* f = nullptr;
  EXPECT_EQ(OpenEngineFont("DejaVu Sans", 12, 2, 1, 0, &f), ERR_OPENFONT);
  char text[256];
  GetErrorText(ERR_OPENFONT, text, sizeof text);
  EXPECT_STREQ(text, "Cannot open font DejaVu Sans with size 12!");
  // topaz at 8 is the built-in font; at another size it is looked for as a file.
  vlEngineFont* inbuilt;
  GetInbuiltFont(&inbuilt);
  ASSERT_EQ(OpenEngineFont("TOPAZ", 8, VL_FONTENGINE_NATIVE, 1, 0, &f), 0);
  EXPECT_EQ(f, inbuilt);
  EXPECT_EQ(OpenEngineFont("topaz", 9, VL_FONTENGINE_NATIVE, 1, 0, &f), ERR_OPENFONT);
  // The native engine falls back to TrueType for a face name.
  f = Open("DejaVu Sans", 12, VL_FONTENGINE_NATIVE);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->kind, VL_FONTKIND_TRUETYPE);
  // A bitmap font in a font folder is found by name.
  ASSERT_TRUE(vltest::MakeBitmapFonts(dir));
  AddPath(dir);
  f = Open("test", 8, VL_FONTENGINE_NATIVE);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->kind, VL_FONTKIND_BITMAP);
  EXPECT_STREQ(f->name, "test");
  // A file that is not a font fails cleanly.
  vltest::Shell("head -c 5000 /dev/urandom > " + dir + "/junk.ttf");
  EXPECT_EQ(Open(dir + "/junk.ttf", 12), nullptr);
  EXPECT_EQ(Open(dir + "/missing.ttf", 12), nullptr);
}

}  // namespace
