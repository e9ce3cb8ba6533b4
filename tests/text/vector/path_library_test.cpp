// The vectorgraphics library from scripts: the bytes each command appends,
// identifiers and their errors, line state, copies and appends, text
// commands, extents, translation and the engine choice.
#include <cstring>
#include <string>
#include <vector>

#include "runtime/errors.h"
#include "tests/libraries/library_script.h"
#include "text/fonts/engine_font.h"
#include "text/text_library.h"
#include "objects/draw/draw_state.h"
#include "text/vector/path_draw.h"
#include "text/vector/vector_engine.h"
#include "text/vector/vector_library.h"
#include "vm/error_codes.h"

namespace {

using vltest::LibraryScript;

class PathLibrary : public LibraryScript {
 protected:
  void SetUp() override {
    LibraryScript::SetUp();
    ASSERT_EQ(OpenTextLib(L), 0);
    ASSERT_EQ(InitDefaultFont(), 0);
    ASSERT_EQ(OpenVectorGraphicsLib(L), 0);
    ResetDrawState(GetDrawState());
    GetDrawState()->fillStyle = VL_FILLCOLOR;
  }
  void TearDown() override {
    FreeVectorLibrary(L);
    FreeTextLibrary(L);
    FreeObjectRegistries();
    LibraryScript::TearDown();
  }
  vlPath* Path(int32_t n) {
    vlPath* p = nullptr;
    return GetPathByID({n, nullptr}, &p) == 0 ? p : nullptr;
  }
  std::vector<uint8_t> Bytes(int32_t n) {
    vlPath* p = Path(n);
    if (!p || !p->buffer) return {};
    return {p->buffer, p->writePos + 4};
  }
  static void PutU32(std::vector<uint8_t>* v, uint32_t x) {
    const auto* b = reinterpret_cast<const uint8_t*>(&x);
    v->insert(v->end(), b, b + 4);
  }
  static void PutF64(std::vector<uint8_t>* v, double x) {
    const auto* b = reinterpret_cast<const uint8_t*>(&x);
    v->insert(v->end(), b, b + 8);
  }
};

TEST_F(PathLibrary, CommandsAppendTheirBytes) {
  ASSERT_EQ(Run(".call startpath 1\n.call ispathempty 1 -> e"), 0);
  EXPECT_EQ(Tag("e"), VL_TBOOLEAN);
  EXPECT_TRUE(vltest::GetGlobal(L, "e")->v.b);
  ASSERT_EQ(Run(".call moveto 1 10 20\n.call rellineto 1 -3 4.5\n.call curveto 1 1 2 3 4 5 6\n"
                ".call startsubpath 1\n.call closepath 1\n.call addarctopath 1 50 60 7 8 90 0 0\n"
                ".call addcircletopath 1 5 6 9\n.call addellipsetopath 1 1 2 3 4"),
            0);
  std::vector<uint8_t> want;
  PutU32(&want, 1), PutU32(&want, 0), PutF64(&want, 10), PutF64(&want, 20);
  PutU32(&want, 2), PutU32(&want, 1), PutF64(&want, -3), PutF64(&want, 4.5);
  PutU32(&want, 3), PutU32(&want, 0);
  for (int i = 1; i <= 6; ++i) PutF64(&want, i);
  PutU32(&want, 5);
  PutU32(&want, 6);
  PutU32(&want, 7);
  for (double v : {50.0, 60.0, 7.0, 8.0, 90.0, 0.0}) PutF64(&want, v);
  PutU32(&want, 0);  // clockwise False
  PutU32(&want, 7);
  for (double v : {5.0, 6.0, 9.0, 9.0, 0.0, 360.0}) PutF64(&want, v);
  PutU32(&want, 1);
  PutU32(&want, 7);
  for (double v : {1.0, 2.0, 3.0, 4.0, 0.0, 360.0}) PutF64(&want, v);
  PutU32(&want, 1);
  PutU32(&want, 0);  // terminator
  EXPECT_EQ(Bytes(1), want);
  ASSERT_EQ(Run(".call ispathempty 1 -> e"), 0);
  EXPECT_FALSE(vltest::GetGlobal(L, "e")->v.b);

  // Growing keeps what was written: 300 lines pass several grow steps.
  ASSERT_EQ(Run(".call startpath 2"), 0);
  for (int i = 0; i < 300; ++i) ASSERT_EQ(Run(".call lineto 2 " + std::to_string(i) + " 1"), 0);
  vlPath* p = Path(2);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->writePos - p->buffer, 300 * 24);
  EXPECT_GE(p->capacity, 300u * 24 + 4);
  double x;
  std::memcpy(&x, p->buffer + 299 * 24 + 8, 8);
  EXPECT_EQ(x, 299);
}

TEST_F(PathLibrary, BoxCornersAndDashes) {
  ASSERT_EQ(Run(".call startpath 1\n.table 0 { roundlevel = 30, cornerb = 0 }\n.table 1 { cornerc = 150, cornera = -4 }\n"
                ".call base=2 addboxtopath 1 1 2 3 4 r0\n.call base=2 addboxtopath 1 0 0 5 5 r1\n"
                ".call addboxtopath 1 0 0 5 5"),
            0);
  const std::vector<uint8_t> b = Bytes(1);
  ASSERT_EQ(b.size(), 3 * 52u + 4);
  auto level = [&](int box, int i) {
    uint32_t v;
    std::memcpy(&v, &b[52 * box + 36 + 4 * i], 4);
    return v;
  };
  EXPECT_EQ(level(0, 0), 30u);
  EXPECT_EQ(level(0, 1), 0u);
  EXPECT_EQ(level(0, 2), 30u);
  EXPECT_EQ(level(0, 3), 30u);
  EXPECT_EQ(level(1, 0), 0u);
  EXPECT_EQ(level(1, 2), 100u);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(level(2, i), 0u);

  ASSERT_EQ(Run(".call setdash 2.5 4 6 8\n.call setlinejoin 1\n.call setlinecap 2\n.call setfillrule 1"), 0);
  const vlLineState* ls = GetLineState();
  EXPECT_EQ(ls->dashCount, 3u);
  EXPECT_EQ(ls->dashOffset, 2.5);
  EXPECT_EQ(ls->dashes[2], 8);
  EXPECT_EQ(ls->join, 1u);
  EXPECT_EQ(ls->cap, 2u);
  EXPECT_EQ(ls->fillRule, 1u);
  ASSERT_EQ(Run(".call setdash 0 -1"), 0);
  EXPECT_EQ(ls->dashCount, 0u);
  EXPECT_EQ(ls->dashes, nullptr);
  ASSERT_EQ(Run(".call setdash 3 \"x\""), 0);
  EXPECT_EQ(ls->dashCount, 0u);
  ASSERT_EQ(Run(".call setdash 1 2\n.call setdash 9 -5"), 0);
  EXPECT_EQ(ls->dashOffset, 0);
  // A length that is no number fails and keeps the dashes in force.
  ASSERT_EQ(Run(".call setdash 1 2 3"), 0);
  EXPECT_NE(Run(".call setdash 5 2 \"x\""), 0);
  EXPECT_EQ(ls->dashCount, 2u);
  EXPECT_EQ(ls->dashOffset, 1);
}

TEST_F(PathLibrary, IdentifiersCopiesAndAppends) {
  EXPECT_EQ(Run(".call moveto 7 1 1"), 1393);
  ASSERT_EQ(Run(".call startpath nil -> a\n.call moveto $a 1 2\n.call startpath 3\n.call lineto 3 4 5"), 0);
  EXPECT_EQ(Tag("a"), VL_TLIGHTUSERDATA);
  EXPECT_EQ(Run(".call appendpath 3 3"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call copypath 3 3"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call copypath $a $a"), ERR_WRONGUSAGE);
  ASSERT_EQ(Run(".call appendpath 3 $a"), 0);
  std::vector<uint8_t> want;
  PutU32(&want, 2), PutU32(&want, 0), PutF64(&want, 4), PutF64(&want, 5);
  PutU32(&want, 1), PutU32(&want, 0), PutF64(&want, 1), PutF64(&want, 2);
  PutU32(&want, 0);
  EXPECT_EQ(Bytes(3), want);
  // An empty source changes nothing.
  ASSERT_EQ(Run(".call startpath 4\n.call appendpath 3 4"), 0);
  EXPECT_EQ(Bytes(3), want);
  ASSERT_EQ(Run(".call copypath 3 nil -> c\n.call copypath 3 5\n.call moveto 3 0 0"), 0);
  EXPECT_EQ(Bytes(5), want);
  EXPECT_EQ(Tag("c"), VL_TLIGHTUSERDATA);
  // Copying over an existing numbered path replaces it.
  ASSERT_EQ(Run(".call copypath 4 5\n.call ispathempty 5 -> e"), 0);
  EXPECT_TRUE(vltest::GetGlobal(L, "e")->v.b);
  ASSERT_EQ(Run(".call clearpath 3\n.call ispathempty 3 -> e"), 0);
  EXPECT_TRUE(vltest::GetGlobal(L, "e")->v.b);
  // StartPath on an existing number starts afresh.
  ASSERT_EQ(Run(".call moveto 3 1 1\n.call startpath 3\n.call ispathempty 3 -> e"), 0);
  EXPECT_TRUE(vltest::GetGlobal(L, "e")->v.b);
  ASSERT_EQ(Run(".call freepath $a"), 0);
  EXPECT_EQ(Run(".call freepath $a"), ERR_FINDARRAY);
  EXPECT_EQ(Run(".call freepath 99"), 1393);
}

// Paths among many, found by number and handle through the commands and
// the object commands alike, across copies, frees and re-used numbers; the
// list keeps its order and unknown identifiers keep their errors.
TEST_F(PathLibrary, ManyPathsByIdentifier) {
  OpenObjectCommands();
  std::string make;
  for (int i = 1; i <= 300; ++i) make += ".call startpath " + std::to_string(i) + "\n";
  ASSERT_EQ(Run(make), 0);
  ASSERT_EQ(Run(".call startpath nil -> a\n.call copypath 150 nil -> c\n.call moveto 300 3 4\n"
                ".call copypath 300 301\n.call getobjecttype $a -> ta\n.call getobjecttype $c -> tc\n"
                ".call haveobject 49 301 -> h\n.call getobjects 49 -> list n"),
            0);
  EXPECT_EQ(Num("ta"), 49);
  EXPECT_EQ(Num("tc"), 49);
  EXPECT_EQ(Num("h"), 1);
  EXPECT_EQ(Num("n"), 303);
  EXPECT_EQ(Bytes(301), Bytes(300));
  ASSERT_EQ(Run(".call freepath 1\n.call freepath 150\n.call freepath $c\n.call haveobject 49 150 -> h\n"
                ".call getobjecttype $c -> tc\n.call getobjects 49 -> list n"),
            0);
  EXPECT_EQ(Num("h"), 0);
  EXPECT_EQ(Num("tc"), -1);
  EXPECT_EQ(Num("n"), 300);
  EXPECT_EQ(Run(".call moveto 150 0 0"), 1393);
  char text[kErrorTextSize];
  GetErrorText(1393, text, sizeof text);
  EXPECT_STREQ(text, "Could not find path 150!");
  EXPECT_EQ(Run(".call moveto $c 0 0"), ERR_FINDARRAY);
  EXPECT_EQ(Run(".call freepath $c"), ERR_FINDARRAY);
  // A freed number is made again; copying onto a number replaces its path.
  ASSERT_EQ(Run(".call startpath 150\n.call copypath 300 2\n.call getobjects 49 -> list n\n"
                ".call ispathempty 2 -> e2\n.call ispathempty 150 -> e150"),
            0);
  EXPECT_EQ(Num("n"), 301);
  EXPECT_FALSE(vltest::GetGlobal(L, "e2")->v.b);
  EXPECT_TRUE(vltest::GetGlobal(L, "e150")->v.b);
  EXPECT_EQ(EntryNum("list", 0), 3);
  EXPECT_EQ(Entry("list", 297)->tag, VL_TLIGHTUSERDATA);
  EXPECT_EQ(EntryNum("list", 298), 301);
  EXPECT_EQ(EntryNum("list", 299), 150);
  EXPECT_EQ(EntryNum("list", 300), 2);
  EXPECT_EQ(Bytes(2), Bytes(300));
}

TEST_F(PathLibrary, MeasuringAndMoving) {
  ASSERT_EQ(Run(".call startpath 1\n.call getpathextents 1 -> x1 y1 x2 y2\n.call getcurrentpoint 1 -> cx cy"), 0);
  for (const char* n : {"x1", "y1", "x2", "y2", "cx", "cy"}) EXPECT_EQ(Num(n), 0) << n;
  ASSERT_EQ(Run(".call addboxtopath 1 10 20 30 40\n.call getpathextents 1 -> x1 y1 x2 y2"), 0);
  EXPECT_EQ(Num("x1"), 10);
  EXPECT_EQ(Num("y1"), 20);
  EXPECT_EQ(Num("x2"), 40);
  EXPECT_EQ(Num("y2"), 60);
  ASSERT_EQ(Run(".call translatepath 1 -4 6\n.call getpathextents 1 -> x1 y1 x2 y2"), 0);
  EXPECT_EQ(Num("x1"), 6);
  EXPECT_EQ(Num("y2"), 66);
  ASSERT_EQ(Run(".call normalizepath 1\n.call getpathextents 1 -> x1 y1 x2 y2"), 0);
  EXPECT_EQ(Num("x1"), 0);
  EXPECT_EQ(Num("y1"), 0);
  EXPECT_EQ(Num("x2"), 30);
  EXPECT_EQ(Num("y2"), 40);
  // Without a fill the extents are the outline's, half the line width out.
  GetDrawState()->fillStyle = VL_FILLNONE;
  GetDrawState()->lineWidth = 4;
  ASSERT_EQ(Run(".call getpathextents 1 -> x1 y1 x2 y2"), 0);
  EXPECT_EQ(Num("x1"), -2);
  EXPECT_EQ(Num("y2"), 42);
  ASSERT_EQ(Run(".call startpath 2\n.call moveto 2 3 4\n.call rellineto 2 10 -1\n.call getcurrentpoint 2 -> cx cy"), 0);
  EXPECT_EQ(Num("cx"), 13);
  EXPECT_EQ(Num("cy"), 3);
}

TEST_F(PathLibrary, TextNeedsATrueTypeFont) {
  ASSERT_EQ(Run(".call startpath 1"), 0);
  EXPECT_EQ(Run(".call addtexttopath 1 \"abc\""), 1395);
  EXPECT_EQ(Bytes(1).size(), 0u);
  ASSERT_EQ(Run(".call setfont \":::default_sans\" 20\n.call addtexttopath 1 \"abc\"\n"
                ".call addtexttopath 1 \"abcd\""),
            0);
  const std::vector<uint8_t> b = Bytes(1);
  const size_t text1 = 4 + sizeof(void*) + 4 + 4, text2 = 4 + sizeof(void*) + 4 + 8;
  ASSERT_EQ(b.size(), text1 + text2 + 4);
  EXPECT_EQ(std::memcmp(&b[4 + sizeof(void*) + 4], "abc\0", 4), 0);
  uint32_t size;
  std::memcpy(&size, &b[4 + sizeof(void*)], 4);
  EXPECT_EQ(size, 20u);
  EXPECT_EQ(std::memcmp(&b[text1 + 4 + sizeof(void*) + 4], "abcd\0\0\0\0", 8), 0);
  void* handle;
  std::memcpy(&handle, &b[4], sizeof handle);
  EXPECT_NE(handle, nullptr);
  // ISO 8859-1 text is stored as UTF-8; other encodings are refused.
  ASSERT_EQ(Run(".call startpath 2\n.call addtexttopath 2 \"\\xE9\""), 0);
  EXPECT_EQ(std::memcmp(&Bytes(2)[4 + sizeof(void*) + 4], "\xC3\xA9\0", 3), 0);
  EXPECT_EQ(Run(".table 0 { encoding = 7 }\n.call base=1 addtexttopath 2 \"a\" r0"), ERR_WRONGUSAGE);
  ASSERT_EQ(Run(".call getpathextents 1 -> x1 y1 x2 y2"), 0);
  EXPECT_GT(Num("x2") - Num("x1"), 40);
  EXPECT_LT(Num("y1"), 0);  // glyphs stand on the baseline at y 0
  // Text moves the point by its advance; a close brings it back to where
  // the sub-path began.
  ASSERT_EQ(Run(".call startpath 3\n.call moveto 3 7 9\n.call addtexttopath 3 \"ab\"\n"
                ".call getcurrentpoint 3 -> cx cy"),
            0);
  EXPECT_GT(Num("cx"), 20);
  EXPECT_EQ(Num("cy"), 9);
  ASSERT_EQ(Run(".call closepath 3\n.call getcurrentpoint 3 -> cx cy"), 0);
  EXPECT_EQ(Num("cx"), 7);
  EXPECT_EQ(Num("cy"), 9);
}

TEST_F(PathLibrary, EngineChoice) {
  EXPECT_EQ(Run(".call setvectorengine \"DEFAULT\""), 0);
  EXPECT_TRUE(IsBuiltinVectorEngine(GetVectorEngine()));
  EXPECT_EQ(Run(".call setvectorengine \"nosuchengine\""), ERR_FINDPLUGIN);
  EXPECT_EQ(GetVectorEngine(), nullptr);
  // Without an engine the commands that need one say which is missing.
  ASSERT_EQ(Run(".call startpath 1\n.call addboxtopath 1 0 0 5 5\n.call setfont \":::default_sans\" 20"), 0);
  for (const char* command : {".call getpathextents 1", ".call translatepath 1 3 4", ".call getcurrentpoint 1",
                              ".call normalizepath 1", ".call addtexttopath 1 \"a\""}) {
    SetErrorArgument("");
    EXPECT_EQ(Run(command), ERR_FINDPLUGIN) << command;
    EXPECT_STREQ(GetErrorArgument(), "nosuchengine") << command;
  }
  EXPECT_EQ(Run(".call setvectorengine \"default\""), 0);
  ASSERT_EQ(Run(".call getpathextents 1 -> x1 y1 x2 y2"), 0);
  EXPECT_LT(Num("x1"), 1);  // the translation above was refused
  EXPECT_LT(Num("y1"), 1);
  ASSERT_EQ(Run(".call forcepathuse 1"), 0);
  EXPECT_EQ(IsPathUseForced(), 1u);
  ASSERT_EQ(Run(".call forcepathuse 0"), 0);
  EXPECT_EQ(IsPathUseForced(), 0u);
}

}  // namespace
