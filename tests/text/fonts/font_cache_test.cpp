// The text library's font commands driven by assembled scripts: the shared
// font cache, aliases, font objects and their identifiers, font folders,
// the installed-font table, glyph caches, deferred colour strikes, and the
// library's registration and shut-down.
#include <gtest/gtest.h>

#include <cstring>

#include "runtime/chunk_name.h"
#include "runtime/errors.h"
#include "runtime/objects.h"
#include "runtime/os.h"
#include "runtime/runtime_options.h"
#include "tests/runtime/handler_test_util.h"
#include "tests/text/fonts/font_test_util.h"
#include "tests/vm/script_util.h"
#include "text/font_cache.h"
#include "text/text_library.h"
#include "vm/constants.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

class FontCommandsTest : public vltest::HandlerTest {
 protected:
  void SetUp() override {
    HandlerTest::SetUp();
    ASSERT_EQ(OpenTextLib(L), 0);
    ASSERT_EQ(InitDefaultFont(), 0);
    dir = vltest::MakeTempDir("vl_fontcmd");
    ASSERT_TRUE(vltest::MakeBitmapFonts(dir));
  }
  void TearDown() override {
    FreeTextLibrary(L);
    FreeObjectRegistries();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    HandlerTest::TearDown();
  }
  int Run(const std::string& body) {
    L->g->quitDefault = 0;
    int r = vltest::RunScript(L, ".line 1\n" + body + "\nret\n");
    vl::SetStackTop(L, 0);
    return r;
  }
  static int CacheCount() {
    int n = 0;
    for (vlFontCacheEntry* e = vlFontState.cache; e; e = e->next) ++n;
    return n;
  }
  static int FontObjects() {
    int n = 0;
    for (vlObjectNode* e = vlFontState.fonts; e; e = e->next) ++n;
    return n;
  }
  std::string ErrorText(int code) {
    char text[256];
    GetErrorText(code, text, sizeof text);
    return text;
  }
  // Pushes t[key] of the table at index.
  void Field(int index, const char* key) {
    vl::PushString(L, key);
    vl::GetTableValue(L, index);
  }

  std::string dir;
};

TEST_F(FontCommandsTest, RegistersCommandsConstantsAndTheFontList) {
  for (const char* name : {"setfont", "openfont", "usefont", "closefont", "freeglyphcache", "addfontpath",
                           "getavailablefonts"})
    EXPECT_EQ(vltest::GetGlobal(L, name)->tag, VL_TFUNCTION) << name;
  const char* text = nullptr;
  double n = 0;
  ASSERT_TRUE(vl::FindConstant(L, "SANS", &text, &n));
  EXPECT_STREQ(text, ":::default_sans");
  ASSERT_TRUE(vl::FindConstant(L, "FONTWEIGHT_ULTRABLACK", &text, &n));
  EXPECT_EQ(n, 215);
  ASSERT_TRUE(vl::FindConstant(L, "FONTENGINE_INBUILT", &text, &n));
  EXPECT_EQ(n, 4);
  bool found = false;
  for (const vlLibraryNode* lib = FirstLibrary(); lib; lib = lib->next) found = found || !strcmp(lib->name, "text");
  EXPECT_TRUE(found);
  const vlTextSettings* s = GetTextSettings();
  EXPECT_EQ(s->style, 1u);
  EXPECT_EQ(s->color, 0xFFFFFFu);
  EXPECT_EQ(s->edgeColor, 0x0093DDu);
  EXPECT_EQ(s->shadowDirection, 3);
  ASSERT_NE(s->font, nullptr);
  EXPECT_STREQ(s->font->name, "topaz");
  ASSERT_EQ(Run(".call openfont 3 \"DejaVu Sans\" 12"), 0);
  EXPECT_EQ(CountObjectsOfType(VL_OBJ_FONT), 1);
}

TEST_F(FontCommandsTest, TheCacheSharesOneFontPerNameSizeEngineAndCacheFlag) {
  ASSERT_EQ(Run(".call setfont \"DejaVu Sans\" 14"), 0);
  vlEngineFont* first = GetCurrentFont();
  EXPECT_EQ(first->kind, VL_FONTKIND_TRUETYPE);
  SetFontScale(first, 2.0, 2.0);
  GetTextSettings()->style = 2;
  ASSERT_EQ(Run(".call setfont \"dejavu SANS\" 14"), 0);
  EXPECT_EQ(GetCurrentFont(), first);
  EXPECT_EQ(first->scaleX, 1.0);
  EXPECT_EQ(first->height, 14);
  EXPECT_EQ(GetTextSettings()->style, 1u);
  EXPECT_EQ(CacheCount(), 1);
  EXPECT_STREQ(first->name, "DejaVu Sans");  // the name handed to the engine
  ASSERT_EQ(Run(".table 0 { cache = 0 }\n.call base=1 setfont \"DejaVu Sans\" 14 r0"), 0);
  EXPECT_NE(GetCurrentFont(), first);
  EXPECT_EQ(CacheCount(), 2);
  ASSERT_EQ(Run(".call setfont \"DejaVu Sans\" 15"), 0);
  EXPECT_EQ(CacheCount(), 3);
  // A failed SetFont leaves the current font and style alone.
  vlEngineFont* current = GetCurrentFont();
  GetTextSettings()->style = 6;
  EXPECT_EQ(Run(".call setfont \"No Such Face\" 15"), ERR_OPENFONT);
  EXPECT_EQ(ErrorText(ERR_OPENFONT), "Cannot open font No Such Face with size 15!");
  EXPECT_EQ(GetCurrentFont(), current);
  EXPECT_EQ(GetTextSettings()->style, 6u);
}

TEST_F(FontCommandsTest, AliasesBitmapNamesAndFileSpecifications) {
  vlEngineFont* inbuilt;
  GetInbuiltFont(&inbuilt);
  ASSERT_EQ(Run(".call setfont \"DejaVu Sans\" 10\n.call setfont \":::default_bitmap\" 8"), 0);
  EXPECT_EQ(GetCurrentFont(), inbuilt);
  // Under engine 4 the bitmap name fails there and opens with engine 0.
  ASSERT_EQ(Run(".table 0 { engine = 4 }\n.call base=1 setfont \":::default_bitmap\" 8 r0"), 0);
  EXPECT_EQ(GetCurrentFont(), inbuilt);
  bool native = false;
  for (vlFontCacheEntry* e = vlFontState.cache; e; e = e->next) native = native || (e->font == inbuilt && e->engine == 0);
  EXPECT_TRUE(native);
  ASSERT_EQ(Run(".call setfont \":::default_serif\" 20"), 0);
  EXPECT_STREQ(GetCurrentFont()->name, "Bitstream Vera Serif");
  ASSERT_EQ(Run(".call setfont \":::default_mono\" 20"), 0);
  EXPECT_STREQ(GetCurrentFont()->name, "Bitstream Vera Sans Mono");
  // A folder part is refused except for the TrueType engine, whose failed
  // attempt hands the name on to the bitmap engine.
  EXPECT_EQ(Run(".call setfont \"" + dir + "/test.font\" 8"), 1335);
  EXPECT_EQ(ErrorText(1335), "Font specification must not be a file!");
  // Only a slash or a backslash makes a folder part; a colon belongs to the
  // face name the engine looks up.
  EXPECT_EQ(Run(".call setfont \"No:Such Face\" 8"), ERR_OPENFONT);
  EXPECT_EQ(Run(".call setfont \"no\\\\such.font\" 8"), 1335);
  ASSERT_EQ(Run(".table 0 { engine = 4 }\n.call base=1 setfont \"" + dir + "/test.font\" 8 r0"), 0);
  EXPECT_EQ(GetCurrentFont()->kind, VL_FONTKIND_BITMAP);
  // ".FONT" is cut before the name reaches the engine.
  ASSERT_EQ(Run(".call addfontpath \"" + dir + "\"\n.call setfont \"test.FONT\" 8"), 0);
  EXPECT_EQ(GetCurrentFont()->kind, VL_FONTKIND_BITMAP);
  EXPECT_STREQ(vlFontState.cache->next ? GetCurrentFont()->name : "", "test");
  ASSERT_EQ(Run(".call setfont \"TrueType.ttf\" 8"), ERR_OPENFONT);
}

TEST_F(FontCommandsTest, FontObjectsByNumberAndHandle) {
  ASSERT_EQ(Run(".call openfont 1 \"DejaVu Sans\" 12\n.call openfont nil \"DejaVu Serif\" 12 -> h"), 0);
  EXPECT_EQ(FontObjects(), 2);
  // An id in use is replaced; the engine font stays in the cache.
  ASSERT_EQ(Run(".call openfont 1 \"Liberation Sans\" 13"), 0);
  EXPECT_EQ(FontObjects(), 2);
  EXPECT_EQ(CacheCount(), 3);
  ASSERT_EQ(Run(".call usefont 1"), 0);
  EXPECT_STREQ(GetCurrentFont()->name, "Liberation Sans");
  ASSERT_EQ(Run(".call usefont $h"), 0);
  EXPECT_STREQ(GetCurrentFont()->name, "DejaVu Serif");
  // Closing the current font's object keeps the font usable.
  ASSERT_EQ(Run(".call closefont $h"), 0);
  vlTextExtent e{};
  MeasureText(GetCurrentFont(), "still", 5, 0, 0, &e);
  EXPECT_GT(e.width, 10);
  EXPECT_EQ(Run(".call closefont $h"), ERR_FINDARRAY);
  EXPECT_EQ(Run(".call usefont 5"), 1334);
  EXPECT_EQ(ErrorText(1334), "Could not find font 5!");
  EXPECT_EQ(Run(".call openfont 2 \"No Such Face\" 12"), ERR_OPENFONT);
  EXPECT_EQ(FontObjects(), 1);
  ASSERT_EQ(Run(".call freeglyphcache 0\n.call freeglyphcache 1 1"), 0);
  EXPECT_EQ(Run(".call freeglyphcache 1 9"), 1334);
  EXPECT_EQ(Run(".call setfont \"DejaVu Sans\""), ERR_MISSINGPARAMTR);
}

TEST_F(FontCommandsTest, FontFoldersAndTheInstalledFontTable) {
  std::string cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir);
  EXPECT_EQ(Run(".call addfontpath \".\"\n.call addfontpath \".\"\n.call addfontpath \"" + dir + "\""), 0);
  std::filesystem::current_path(cwd);
  int paths = 0;
  for (vlFontPathNode* p = vlFontPaths; p; p = p->next) ++paths;
  EXPECT_EQ(paths, 2);  // the same folder written two ways
  EXPECT_EQ(Run(".call addfontpath \"" + dir + "/none\""), ERR_LOCK2);

  ASSERT_EQ(Run(".call getavailablefonts -> fonts"), 0);
  vl::PushString(L, "fonts");
  vl::GetTableValue(L, vl::kGlobalsIndex);
  int table = vl::GetStackTop(L);
  ASSERT_EQ(vl::GetTypeAt(L, table), VL_TTABLE);
  bool sawBitmap = false, sawBold = false;
  for (int i = 0;; ++i) {
    vl::RawGetTableIndex(L, table, i);
    int entry = vl::GetStackTop(L);
    if (vl::GetTypeAt(L, entry) != VL_TTABLE) break;
    Field(entry, "name");
    std::string name = vl::ToStringAt(L, -1);
    Field(entry, "bitmap");
    double bitmap = vl::ToNumberAt(L, -1);
    Field(entry, "weight");
    double weight = vl::ToNumberAt(L, -1);
    if (name == "test") {
      sawBitmap = true;
      EXPECT_EQ(bitmap, 1);
      Field(entry, "sizes");
      int sizes = vl::GetStackTop(L);
      vl::RawGetTableIndex(L, sizes, 0);
      vl::RawGetTableIndex(L, sizes, 2);
      EXPECT_EQ(vl::ToNumberAt(L, -2), 12);
      EXPECT_EQ(vl::ToNumberAt(L, -1), 10);
    }
    if (name == "DejaVu Sans Bold") {
      sawBold = true;
      EXPECT_EQ(weight, 200);
      Field(entry, "family");
      EXPECT_STREQ(vl::ToStringAt(L, -1), "DejaVu Sans");
    }
    EXPECT_NE(name, "DejaVu Sans") << "single entries only";
    vl::SetStackTop(L, table);
  }
  EXPECT_TRUE(sawBitmap);
  EXPECT_TRUE(sawBold);
}

TEST_F(FontCommandsTest, ColourStrikesWaitForADisplay) {
  vlOptions.renderState = 1;
  int status = Run(".call addfontpath \"" + dir + "\"\n.call openfont 4 \"colour\" 7\n"
                   ".table 0 { cache = 0 }\n.call base=1 setfont \"colour\" 7 r0");
  vlOptions.renderState = 0;
  ASSERT_EQ(status, 0);
  vlFontNode* node;
  ASSERT_EQ(GetFontByID({4, nullptr}, &node), 0);
  ASSERT_NE(node->font->pendingStrike, nullptr);
  EXPECT_EQ(node->font->strikeBitmap, nullptr);
  vlEngineFont* current = GetCurrentFont();
  ASSERT_NE(current, node->font);
  ASSERT_NE(current->pendingStrike, nullptr);
  ASSERT_EQ(ConvertFontStrikeBitmaps(), 0);
  EXPECT_EQ(node->font->pendingStrike, nullptr);
  EXPECT_EQ(current->pendingStrike, nullptr);  // a font no object holds
  EXPECT_NE(current->strikeBitmap, nullptr);
  ASSERT_NE(node->font->strikeBitmap, nullptr);
  ASSERT_NE(node->font->strikeMask, nullptr);
  EXPECT_EQ(ReadBitmapPixel(node->font->strikeMask, 0, 0, 1) == 0,
            (ReadBitmapPixel(node->font->strikeBitmap, 0, 0, 0) & 0xFFFFFF) == 0xEEE6D2);
}

TEST_F(FontCommandsTest, VectorFontListsAreWalkedAndFreed) {
  ASSERT_EQ(Run(".call setfont \"DejaVu Sans\" 12"), 0);
  vlEngineFont* f = GetCurrentFont();
  auto* node = static_cast<vlVectorFontNode*>(AllocMemory(sizeof(vlVectorFontNode), 1));
  int marker = 0;
  node->handle = &marker;
  f->vectorFonts = node;
  EXPECT_EQ(FindFontByHandle(&marker), f);
  EXPECT_EQ(FindFontByHandle(&node), nullptr);
  static int released = 0;
  FreeVectorFontLists([](vlVectorFontNode* n) { released += n->handle != nullptr; });
  EXPECT_EQ(released, 1);
  EXPECT_EQ(f->vectorFonts, nullptr);
}

}  // namespace

namespace {

// A font linked into a compiled script: a slice of the script file that
// starts with a big-endian flags word.
class LinkedFontTest : public FontCommandsTest {
 protected:
  std::string Link(uint32_t flags, const std::string& skipped, const std::string& face, int64_t* offset,
                   uint64_t* length) {
    std::string container = dir + "/script.vla";
    std::string bytes = "VLA\0junkjunkjunk";
    *offset = int64_t(bytes.size());
    bytes += char(flags >> 24);
    bytes += char(flags >> 16);
    bytes += char(flags >> 8);
    bytes += char(flags);
    if (flags & 4) {
      uint32_t n = uint32_t(skipped.size());
      bytes += std::string{char(n >> 24), char(n >> 16), char(n >> 8), char(n)} + skipped;
    }
    bytes += vltest::ReadAll(face);
    *length = bytes.size() - *offset;
    std::ofstream(container, std::ios::binary) << bytes;
    return container;
  }
};

TEST_F(LinkedFontTest, LinkedFacesOpenFromTheirSlice) {
  int64_t offset;
  uint64_t length;
  const std::string face = "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf";
  for (uint32_t flags : {2u, 6u}) {
    std::string container = Link(flags, "0123456789", face, &offset, &length);
    char name[2048];
    ASSERT_TRUE(MakeChunkName("mono", name, sizeof name, offset, length, 0, container.c_str()));
    vlEngineFont* f = nullptr;
    ASSERT_EQ(OpenEngineFont(name, 14, VL_FONTENGINE_NATIVE, 1, 1, &f), 0) << flags;
    EXPECT_EQ(f->kind, VL_FONTKIND_TRUETYPE);
    EXPECT_STREQ(f->name, "DejaVu Sans Mono");
    CloseEngineFont(f);
    // Without the linked flag the slice is not unwrapped.
    EXPECT_EQ(OpenEngineFont(name, 14, VL_FONTENGINE_NATIVE, 1, 0, &f), ERR_OPENFONT);
  }
  // A slice too short for its flags word fails with the read error.
  std::string container = Link(2, "", face, &offset, &length);
  char name[2048];
  ASSERT_TRUE(MakeChunkName("short", name, sizeof name, offset, 3, 0, container.c_str()));
  vlEngineFont* f = nullptr;
  EXPECT_EQ(OpenEngineFont(name, 14, VL_FONTENGINE_NATIVE, 1, 1, &f), ERR_READ);
}

}  // namespace
