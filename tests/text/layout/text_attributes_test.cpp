// GetAttribute on fonts, text objects, text layers and the current font of
// a display, on a private Xvfb display: a TrueType face checked against
// what FreeType itself reads from the file, a generated bitmap font against
// the header bytes of its glyph file, the text and size of text objects,
// the layout copies that PRINT and TEXTOUT layers keep (also through a
// transformed copy of the layer), and the errors of unknown attributes,
// missing objects and layers that show no text.
#include "tests/display/core/display_fixture.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <filesystem>

#include "display/graphics_library/graphics_library.h"
#include "display/commands/layers_library.h"
#include "display/layers/layers.h"
#include "runtime/errors.h"
#include "tests/text/fonts/font_test_util.h"
#include "text/text_library.h"
#include "text/text_objects.h"
#include "vm/error_codes.h"

namespace {

using vltest::DisplayTest;

constexpr const char* kFace = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

// GetAttribute calls for attributes 30 to 35 into globals asc, desc, name,
// size, scalable, aa.
std::string FontAttrs(const std::string& type, const std::string& id) {
  std::string s;
  const char* names[] = {"asc", "desc", "name", "size", "scalable", "aa"};
  for (int a = 30; a <= 35; ++a)
    s += ".call getattribute " + type + " " + id + " " + std::to_string(a) + " -> " + names[a - 30] + "\n";
  return s;
}

class TextAttributes : public DisplayTest {
 protected:
  void SetUp() override {
    DisplayTest::SetUp();
    if (!started_) return;
    ASSERT_EQ(OpenGraphicsLib(L), 0);
    ASSERT_EQ(OpenLayersLib(L), 0);
    ASSERT_EQ(OpenTextLib(L), 0);
    ASSERT_EQ(InitDefaultFont(), 0);
    dir = vltest::MakeTempDir("vl_textattr");
    ASSERT_TRUE(vltest::MakeBitmapFonts(dir));
  }
  void TearDown() override {
    if (started_) {
      ShutdownLayerSystem(L);
      FreeTextLibrary(L);
      FreeGraphicsObjects(L);
      std::error_code ec;
      std::filesystem::remove_all(dir, ec);
    }
    DisplayTest::TearDown();
  }
  void OpenDisplay(int number = 1) {
    const std::string n = std::to_string(number);
    ASSERT_EQ(Run(".table 0 { width = 160, height = 80, color = 0 }\n.call base=1 createdisplay " + n +
                  " r0\n.call opendisplay " + n),
              0);
  }
  std::string Str(const char* name) { return vltest::GlobalString(L, name); }
  // The face's family name as FreeType reads it from the file.
  static std::string FamilyName(const char* path) {
    FT_Library lib;
    if (FT_Init_FreeType(&lib)) return {};
    FT_Face face;
    std::string name;
    if (!FT_New_Face(lib, path, 0, &face)) {
      name = face->family_name ? face->family_name : "";
      FT_Done_Face(face);
    }
    FT_Done_FreeType(lib);
    return name;
  }
  // A big-endian word of the generated glyph file.
  int Word(const std::string& file, size_t offset) {
    const std::string bytes = vltest::ReadAll(dir + "/" + file);
    if (bytes.size() < offset + 2) return -1;
    return static_cast<unsigned char>(bytes[offset]) << 8 | static_cast<unsigned char>(bytes[offset + 1]);
  }
  std::string dir;
};

TEST_F(TextAttributes, FontObjectsAndTheDisplaysCurrentFont) {
  ASSERT_TRUE(std::filesystem::exists(kFace));
  ASSERT_EQ(Run(".call openfont 1 \"DejaVu Sans\" 20\n" + FontAttrs("43", "1")), 0);
  EXPECT_EQ(Str("name"), FamilyName(kFace));
  EXPECT_EQ(Num("size"), 20);
  EXPECT_EQ(Num("scalable"), 1);
  EXPECT_EQ(Num("aa"), 1);
  // The line is as high as the size asked for; the baseline lies inside.
  EXPECT_EQ(Num("asc") + Num("desc"), 20);
  EXPECT_GT(Num("asc"), Num("desc"));
  EXPECT_GT(Num("desc"), 0);

  // The bitmap font reports the height and baseline of its glyph file.
  const int height = Word("test/10", 110), baseline = Word("test/10", 116);
  ASSERT_EQ(height, 10);
  ASSERT_EQ(Run(".call addfontpath \"" + dir + "\"\n.call openfont nil \"test.font\" 10 -> h\n" +
                FontAttrs("43", "$h")),
            0);
  EXPECT_EQ(Num("asc"), baseline);
  EXPECT_EQ(Num("desc"), height - baseline);
  EXPECT_EQ(Str("name"), "test");
  EXPECT_EQ(Num("size"), 10);
  EXPECT_EQ(Num("scalable"), 0);
  EXPECT_EQ(Num("aa"), 0);
  ASSERT_EQ(Run(".call getattribute 43 0 60 -> n"), 0);
  EXPECT_EQ(Num("n"), 2);

  // A display answers for the current font.
  OpenDisplay();
  ASSERT_EQ(Run(".call usefont $h\n" + FontAttrs("21", "nil")), 0);
  EXPECT_EQ(Str("name"), "test");
  EXPECT_EQ(Num("asc"), baseline);
  ASSERT_EQ(Run(".call setfont \":::default_bitmap\" 8\n" + FontAttrs("21", "1")), 0);
  EXPECT_EQ(Str("name"), "topaz");
  EXPECT_EQ(Num("asc"), 6);
  EXPECT_EQ(Num("desc"), 2);

  EXPECT_EQ(Run(".call getattribute 43 1 36"), ERR_UNKNOWNATTR);  // text only for text objects and layers
  EXPECT_EQ(Run(".call getattribute 43 1 0"), ERR_UNKNOWNATTR);
  EXPECT_EQ(Run(".call getattribute 43 9 30"), 1334);
  EXPECT_EQ(GetErrorArgIndex(), 9);
  ASSERT_EQ(Run(".call closefont $h"), 0);
  EXPECT_EQ(Run(".call getattribute 43 $h 30"), ERR_FINDARRAY);
  EXPECT_EQ(Run(".call getattribute 21 1 36"), ERR_UNKNOWNATTR);
}

TEST_F(TextAttributes, TextObjectsKeepTheirFontAndText) {
  OpenDisplay();
  ASSERT_EQ(Run(".call setfont \"DejaVu Sans\" 20\n.call createtextobject 1 \"[b]Hi[/b] there\"\n"
                ".call setfont \":::default_bitmap\" 8\n.call getattribute 8 1 0 -> w\n"
                ".call getattribute 8 1 1 -> h\n.call getattribute 8 1 36 -> text\n" +
                FontAttrs("8", "1")),
            0);
  vlTextObject* o = nullptr;
  ASSERT_EQ(GetTextObjectByID(L, {1, nullptr}, &o, 0), 0);
  EXPECT_EQ(Num("w"), o->bitmap->width);
  EXPECT_EQ(Num("h"), o->bitmap->height);
  EXPECT_GT(Num("w"), 40);
  EXPECT_EQ(Str("text"), "[b]Hi[/b] there");
  // The font it was made with, not the one current now.
  EXPECT_EQ(Str("name"), FamilyName(kFace));
  EXPECT_EQ(Num("size"), 20);
  // Scaling changes the picture's size, not the text.
  ASSERT_EQ(Run(".call scaletextobject 1 \"50%\" \"50%\"\n.call getattribute 8 1 0 -> w2\n"
                ".call getattribute 8 1 36 -> text2"),
            0);
  EXPECT_EQ(Num("w2"), o->width);
  EXPECT_LT(Num("w2"), Num("w"));
  EXPECT_EQ(Str("text2"), "[b]Hi[/b] there");
  ASSERT_EQ(Run(".call getattribute 8 0 60 -> n"), 0);
  EXPECT_EQ(Num("n"), 1);

  EXPECT_EQ(Run(".call getattribute 8 1 5"), ERR_UNKNOWNATTR);
  EXPECT_EQ(Run(".call getattribute 8 4 0"), 1175);
  EXPECT_EQ(GetErrorArgIndex(), 4);
}

TEST_F(TextAttributes, TextLayersKeepTheLayoutTheyWereDrawnWith) {
  OpenDisplay();
  ASSERT_EQ(Run(".call enablelayers\n.call addfontpath \"" + dir +
                "\"\n.call setfont \"test.font\" 10\n.call textout 0 0 \"AB\"\n"
                ".call setfont \":::default_bitmap\" 8\n.call print \"ABC\"\n"
                ".call setfont \"DejaVu Sans\" 20\n.call createtextobject 1 \"obj\"\n"
                ".call displaytextobject 1 40 40\n.call createlayer 0 50 4 4"),
            0);
  vlDisplay* d = GetDisplayByNumber(1);
  ASSERT_EQ(CountLayers(d->bgpic), 4);
  ASSERT_EQ(GetLayerByPos(d->bgpic, 1)->type, VL_LAYER_TEXTOUT);
  ASSERT_EQ(GetLayerByPos(d->bgpic, 2)->type, VL_LAYER_PRINT);
  ASSERT_EQ(Run(FontAttrs("22", "1") + ".call getattribute 22 1 36 -> text"), 0);
  EXPECT_EQ(Str("name"), "test");
  EXPECT_EQ(Num("size"), 10);
  EXPECT_EQ(Num("asc"), Word("test/10", 116));
  EXPECT_EQ(Str("text"), "AB");
  ASSERT_EQ(Run(FontAttrs("22", "2") + ".call getattribute 22 2 36 -> text"), 0);
  EXPECT_EQ(Str("name"), "topaz");
  EXPECT_EQ(Num("desc"), 2);
  EXPECT_EQ(Str("text"), "ABC");
  ASSERT_EQ(Run(FontAttrs("22", "3") + ".call getattribute 22 3 36 -> text"), 0);
  EXPECT_EQ(Str("name"), FamilyName(kFace));
  EXPECT_EQ(Str("text"), "obj");
  // Freed by the script, the object still answers for the layer.
  ASSERT_EQ(Run(".call freetextobject 1\n.call getattribute 22 3 36 -> text"), 0);
  EXPECT_EQ(Str("text"), "obj");

  // A transformed layer works on copies of its record.
  ASSERT_EQ(Run(".call rotatelayer 1 45\n.call scalelayer 2 32 16\n.call getattribute 22 1 36 -> t1\n"
                ".call getattribute 22 2 32 -> n2"),
            0);
  EXPECT_EQ(Str("t1"), "AB");
  EXPECT_EQ(Str("n2"), "topaz");

  EXPECT_EQ(Run(".call getattribute 22 4 32"), ERR_NOTXTLAYER);
  EXPECT_EQ(Run(".call getattribute 22 4 36"), ERR_NOTXTLAYER);
  EXPECT_EQ(Run(".call getattribute 22 9 32"), ERR_LAYERRANGE);
  ASSERT_EQ(Run(".call removelayer 1\n.call getattribute 22 1 36 -> text"), 0);
  EXPECT_EQ(Str("text"), "ABC");
}

}  // namespace

// Text in a colour-glyph font shows the glyphs' own colours, as the font
// engine draws them on its own (the generator's expected picture), drawn
// straight or as a layer.
TEST_F(TextAttributes, ColourFontTextKeepsTheGlyphColours) {
  const std::vector<int> want = vltest::ReadNetpbm(dir + "/expect_colour.ppm", 3);
  ASSERT_EQ(want.size(), 16u * 7 * 3);
  int number = 0;
  for (const char* layers : {"", ".call enablelayers\n"}) {
    SCOPED_TRACE(layers);
    OpenDisplay(++number);
    ASSERT_EQ(Run(std::string(layers) + ".call addfontpath \"" + dir +
                  "\"\n.call setfont \"colour.font\" 7\n.call textout 0 0 \"XY\""),
              0);
    vlDisplay* d = GetDisplayByNumber(number);
    ASSERT_NE(d, nullptr);
    int coloured = 0;
    for (int y = 0; y < 7; ++y)
      for (int x = 0; x < 16; ++x) {
        const size_t i = static_cast<size_t>(y * 16 + x) * 3;
        const uint32_t rgb = uint32_t(want[i]) << 16 | uint32_t(want[i + 1]) << 8 | uint32_t(want[i + 2]);
        coloured += rgb != 0x123456 && rgb != 0xFFFFFF;
        ASSERT_EQ(WindowPixel(d, x, y), rgb == 0x123456 ? 0u : rgb) << x << "," << y;
      }
    EXPECT_GT(coloured, 0);
  }
}
