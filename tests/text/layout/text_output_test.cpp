// Text output on a private Xvfb display with the built-in 8-pixel font:
// Print pixels against the font's own strike data, the text cursor,
// margins and tab stops, word wrap, tags, and the shadow and edge pixels
// against references built from the glyph bits.
#include "tests/display/core/display_fixture.h"

#include <set>
#include <utility>

#include "display/commands/layers_library.h"
#include "display/layers/layers.h"
#include "graphics/bitmap.h"
#include "text/fonts/bitmap_font.h"
#include "text/text_layout.h"
#include "text/text_library.h"

namespace {

using vltest::DisplayTest;

// The glyph bit of character c at (x, y) of its 8 x 8 cell.
bool GlyphBit(unsigned char c, int x, int y) {
  if (x < 0 || y < 0 || x >= 8 || y >= 8) return false;
  const uint32_t loc = kTopazCharLoc[c - 32];
  const int bit = static_cast<int>(loc >> 16) + x;
  return (kTopazStrike[y * kTopazModulo + bit / 8] >> (7 - bit % 8)) & 1;
}

// The set of inked pixels of a string drawn from (0, 0).
std::set<std::pair<int, int>> Ink(const std::string& s) {
  std::set<std::pair<int, int>> ink;
  for (size_t i = 0; i < s.size(); ++i)
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 8; ++x)
        if (GlyphBit(static_cast<unsigned char>(s[i]), x, y)) ink.insert({static_cast<int>(i) * 8 + x, y});
  return ink;
}

class TextOutput : public DisplayTest {
 protected:
  void SetUp() override {
    DisplayTest::SetUp();
    if (!started_) return;
    ASSERT_EQ(OpenLayersLib(L), 0);
    ASSERT_EQ(OpenTextLib(L), 0);
    ASSERT_EQ(InitDefaultFont(), 0);
  }
  void TearDown() override {
    if (started_) {
      FreeTextLibrary(L);
      ShutdownLayerSystem(L);
    }
    DisplayTest::TearDown();
  }
  // A black 160 x 80 display, made current.
  vlDisplay* OpenBlack(int number = 1) {
    const std::string n = std::to_string(number);
    EXPECT_EQ(Run(".table 0 { width = 160, height = 80, color = 0 }\n.call base=1 createdisplay " + n +
                  " r0\n.call opendisplay " + n),
              0);
    return GetDisplayByNumber(number);
  }
  // Lays out and renders text into a picture as a text object would.
  vlTextPicture Picture(const char* text, int32_t align = VL_ALIGN_LEFT, int32_t wrap = 0) {
    vlTextLayout layout;
    layout.settings = *GetTextSettings();
    layout.text = text;
    layout.align = align;
    layout.wrapWidth = wrap;
    vlTextPicture p;
    EXPECT_EQ(DrawFormattedText(L, &layout, VL_TEXTMODE_OBJECT, false, &p), 0);
    return p;
  }
  static uint8_t Alpha(const vlTextPicture& p, int x, int y) {
    vlPixelAccess acc;
    if (!p.alpha || !LockPixels(p.alpha, VL_LOCK_READ, &acc)) return 0;
    const uint8_t a = acc.pixels[static_cast<intptr_t>(y) * acc.rowLength + x];
    UnlockPixels(p.alpha, &acc);
    return a;
  }
  static bool Inked(const vlTextPicture& p, int x, int y) {
    if (x < 0 || y < 0 || x >= p.width || y >= p.height) return false;
    return p.alpha ? Alpha(p, x, y) != 0 : ReadBitmapPixel(p.mask, x, y, 1) != 0;
  }
  static uint32_t Colour(const vlTextPicture& p, int x, int y) {
    return ReadBitmapPixel(p.bitmap, x, y, 0) & 0xFFFFFF;
  }
};

TEST_F(TextOutput, PrintDrawsTheStrikeAndMovesTheCursor) {
  vlDisplay* d = OpenBlack();
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(Run(".call setfontcolor 16711680\n.call print \"Hi\" 7"), 0);
  const auto ink = Ink("Hi 7");
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 32; ++x)
      EXPECT_EQ(WindowPixel(d, x, y), ink.count({x, y}) ? 0xFF0000u : 0u) << x << "," << y;
  EXPECT_EQ(d->cursorX, 32);
  EXPECT_EQ(d->cursorY, 0);
  ASSERT_EQ(Run(".call nprint \"A\""), 0);
  EXPECT_EQ(d->cursorX, 0);
  EXPECT_EQ(d->cursorY, 8);
  // The second print started where the first ended.
  for (const auto& [x, y] : Ink("A")) EXPECT_EQ(WindowPixel(d, 32 + x, y), 0xFF0000u);
  ASSERT_EQ(Run(".call print \"B\""), 0);
  for (const auto& [x, y] : Ink("B")) EXPECT_EQ(WindowPixel(d, x, 8 + y), 0xFF0000u);
}

TEST_F(TextOutput, CursorMarginsAndTabs) {
  vlDisplay* d = OpenBlack();
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(Run(".call setmargins -5 100000"), 0);
  EXPECT_EQ(d->marginLeft, 0);
  EXPECT_EQ(d->marginRight, 159);
  ASSERT_EQ(Run(".call setmargins 20 100\n.call locate 5 10"), 0);
  EXPECT_EQ(d->cursorX, 20);
  EXPECT_EQ(d->cursorY, 10);
  EXPECT_EQ(Run(".call locate -100000 0"), 1337);
  EXPECT_EQ(Run(".call setmargins 50 50"), 1055);
  // A selected picture narrower than the display bounds the right margin;
  // the display's own margins come back with the selection's end.
  ASSERT_EQ(Run(".call enablelayers\n.call createbgpic 7 60 20 0\n.call selectbgpic 7\n.call setmargins 10 100"), 0);
  EXPECT_EQ(d->marginLeft, 10);
  EXPECT_EQ(d->marginRight, 59);
  ASSERT_EQ(Run(".call endselect\n.call disablelayers"), 0);
  EXPECT_EQ(d->marginLeft, 20);
  EXPECT_EQ(d->marginRight, 100);
  ASSERT_EQ(Run(".call addtab 100 50"), 0);
  EXPECT_EQ(d->tabCount, 2);
  EXPECT_EQ(d->tabStops[0], 50);
  EXPECT_EQ(d->tabStops[1], 100);
  EXPECT_EQ(Run(".call addtab 60 -1"), 1154);
  EXPECT_EQ(d->tabCount, 3);  // the stop before the failing one stays
  ASSERT_EQ(Run(".call resettabs"), 0);
  for (int i = 0; i < 32; ++i) ASSERT_EQ(Run(".call addtab " + std::to_string(i)), 0);
  EXPECT_EQ(Run(".call addtab 99"), 1066);

  // A tab jumps to the next stop; past the last stop it breaks the line.
  ASSERT_EQ(Run(".call resettabs\n.call addtab 60\n.call locate 20 0\n.call print \"A\\tB\\tC\""), 0);
  for (const auto& [x, y] : Ink("B")) EXPECT_NE(WindowPixel(d, 60 + x, y), 0u);
  EXPECT_EQ(d->cursorY, 8);
  EXPECT_EQ(d->cursorX, 28);

  // The layout records each tab's outcome (stop 0, then a line break); a
  // redraw takes the same stops even where the stops now say otherwise.
  vlTextLayout layout;
  layout.settings = *GetTextSettings();
  layout.text = "A\tB\tC";
  layout.tabCount = 2;
  layout.tabStops[0] = 20, layout.tabStops[1] = 200;
  vlTextPicture p;
  ASSERT_EQ(DrawFormattedText(L, &layout, VL_TEXTMODE_OBJECT, false, &p), 0);
  EXPECT_EQ(layout.tabTable, (std::vector<int32_t>{0, 1}));
  const int32_t wide = p.width;
  FreeTextPicture(&p);
  layout.useWordWrap = true;
  layout.tabTable = {0, -1};
  ASSERT_EQ(DrawFormattedText(L, &layout, VL_TEXTMODE_OBJECT, false, &p), 0);
  EXPECT_EQ(p.width, 28);  // "B" at 20, "C" on the next line
  EXPECT_EQ(p.height, 17);
  EXPECT_LT(p.width, wide);
  FreeTextPicture(&p);
}

TEST_F(TextOutput, WordWrapMovesWholeWords) {
  vlDisplay* d = OpenBlack();
  ASSERT_NE(d, nullptr);
  // 40 pixels hold five characters: "ab cd" fits, "efg" goes down.
  ASSERT_EQ(Run(".call setmargins 0 39\n.call print \"ab cd efg\""), 0);
  for (const auto& [x, y] : Ink("efg")) EXPECT_NE(WindowPixel(d, x, 8 + y), 0u);
  EXPECT_EQ(d->cursorY, 8);
  EXPECT_EQ(d->cursorX, 24);
  // A word wider than the line stays alone on its line.
  ASSERT_EQ(Run(".call locate 0 30\n.call print \"abcdefgh x\""), 0);
  for (const auto& [x, y] : Ink("abcd")) EXPECT_NE(WindowPixel(d, x, 30 + y), 0u);
  for (const auto& [x, y] : Ink("x")) EXPECT_NE(WindowPixel(d, x, 38 + y), 0u);
  // A word-wrap table, read from index 0, breaks before the words it names.
  ASSERT_EQ(Run(".table 0 { wordwraptable = { 1 } }\n.call base=1 textout 100 50 \"ab cd\" r0"), 0);
  for (const auto& [x, y] : Ink("ab")) EXPECT_NE(WindowPixel(d, 100 + x, 50 + y), 0u);
  for (const auto& [x, y] : Ink("cd")) EXPECT_NE(WindowPixel(d, 100 + x, 58 + y), 0u);
  // It holds at most 32766 entries.
  auto longTable = [&](int entries) {
    return Run("newtable 20 0 0\nloadk 1 #0\nloadk 2 #" + std::to_string(entries - 1) +
               "\nloadk 3 #1\nfill:\nsetfield 20 1 #1000000\nforloop 1 fill\n"
               ".table 0 { wordwraptable = r20 }\n.call base=1 textout 0 70 \"a b\" r0");
  };
  EXPECT_EQ(longTable(32766), 0);
  EXPECT_EQ(longTable(32767), ERR_INTERNAL);
}

TEST_F(TextOutput, TagsChangeTheOutput) {
  vlDisplay* d = OpenBlack();
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(Run(".call print \"[color=$00FF00]I[/color]I[[\""), 0);
  for (const auto& [x, y] : Ink("I")) {
    EXPECT_EQ(WindowPixel(d, x, y), 0x00FF00u);
    EXPECT_EQ(WindowPixel(d, 8 + x, y), 0xFFFFFFu);
  }
  for (const auto& [x, y] : Ink("[")) EXPECT_EQ(WindowPixel(d, 16 + x, y), 0xFFFFFFu);
  EXPECT_EQ(d->cursorX, 24);
  EXPECT_EQ(Run(".call print \"[/color]\""), 1252);
  EXPECT_EQ(Run(".call print \"[q]\""), 1251);
  EXPECT_EQ(Run(".call print \"[b\""), 1108);
  EXPECT_EQ(d->cursorX, 24);  // failed output leaves the cursor

  // Bold: the glyph ORed with itself one pixel to the right.
  vlTextPicture bold = Picture("[b]l[/b]");
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 9; ++x)
      EXPECT_EQ(Inked(bold, x, y), GlyphBit('l', x, y) || GlyphBit('l', x - 1, y)) << x << "," << y;
  FreeTextPicture(&bold);

  // Centre alignment: a one-letter line over a three-letter line moves by
  // half of the difference.
  vlTextPicture centred = Picture("I\nIII", VL_ALIGN_CENTER);
  vlTextPicture left = Picture("I\nIII", VL_ALIGN_LEFT);
  int firstCentred = -1, firstLeft = -1;
  for (int x = 0; x < centred.width && firstCentred < 0; ++x)
    for (int y = 0; y < 8; ++y)
      if (Inked(centred, x, y)) firstCentred = x;
  for (int x = 0; x < left.width && firstLeft < 0; ++x)
    for (int y = 0; y < 8; ++y)
      if (Inked(left, x, y)) firstLeft = x;
  EXPECT_EQ(firstCentred - firstLeft, 8);
  FreeTextPicture(&centred);
  FreeTextPicture(&left);
}

TEST_F(TextOutput, ShadowAndEdgePixels) {
  ASSERT_NE(OpenBlack(), nullptr);
  // Shadow west, 4 pixels, red; text white.
  ASSERT_EQ(Run(".call setfontstyle 32 16711680 4 6"), 0);
  vlTextPicture p = Picture("W");
  EXPECT_EQ(p.offsetX, -4);
  EXPECT_EQ(p.width, 12);
  for (int y = 0; y < 8; ++y)
    for (int x = -4; x < 8; ++x) {
      const bool text = GlyphBit('W', x, y), shadow = GlyphBit('W', x + 4, y);
      const int px = x + 4;
      ASSERT_EQ(Inked(p, px, y), text || shadow) << x << "," << y;
      if (text) {
        EXPECT_EQ(Colour(p, px, y), 0xFFFFFFu);
      } else if (shadow) {
        EXPECT_EQ(Colour(p, px, y), 0xFF0000u);
      }
    }
  FreeTextPicture(&p);

  // Edge of 2: a 5 x 5 spread of the glyph in the edge colour.
  ASSERT_EQ(Run(".call setfontstyle 1\n.call setfontstyle 64 255 2"), 0);
  p = Picture("o");
  EXPECT_EQ(p.offsetX, -2);
  EXPECT_EQ(p.offsetY, -2);
  for (int y = -2; y < 10; ++y)
    for (int x = -2; x < 10; ++x) {
      bool near = false;
      for (int oy = -2; oy <= 2; ++oy)
        for (int ox = -2; ox <= 2; ++ox) near = near || GlyphBit('o', x + ox, y + oy);
      ASSERT_EQ(Inked(p, x + 2, y + 2), near) << x << "," << y;
      if (near) { EXPECT_EQ(Colour(p, x + 2, y + 2), GlyphBit('o', x, y) ? 0xFFFFFFu : 0x0000FFu); }
    }
  FreeTextPicture(&p);

  // A half transparent shadow colour gives a half covering shadow.
  ASSERT_EQ(Run(".call setfontstyle 1\n.call setfontstyle 32 2164195328 4 6"), 0);
  p = Picture("W");
  ASSERT_NE(p.alpha, nullptr);
  for (int y = 0; y < 8; ++y)
    for (int x = -4; x < 8; ++x)
      if (GlyphBit('W', x + 4, y) && !GlyphBit('W', x, y)) { ASSERT_EQ(Alpha(p, x + 4, y), 127) << x << "," << y; }
  FreeTextPicture(&p);

  // A fully transparent text colour leaves only the edge.
  ASSERT_EQ(Run(".call setfontstyle 1\n.call setfontstyle 64 255 2"), 0);
  ASSERT_EQ(Run(".call setfontcolor 4278190080"), 0);
  p = Picture("o");
  ASSERT_NE(p.alpha, nullptr);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x)
      if (GlyphBit('o', x, y)) { EXPECT_EQ(Alpha(p, x + 2, y + 2), 255); }
  FreeTextPicture(&p);
}

// Position constants place the text block's picture inside the display,
// with or without an anchor, drawn straight or as a layer: "Hi" lands
// where the resolved position says, and nothing lands anywhere else.
TEST_F(TextOutput, TextOutPositionConstantsPlaceTheWholeBlock) {
  vlTextPicture hi = Picture("Hi");
  const int w = hi.width, h = hi.height;
  FreeTextPicture(&hi);
  ASSERT_GT(w, 8);
  struct Case {
    const char* x;
    const char* y;
    const char* options;
    int left, top;
  };
  const Case cases[] = {
      {"-100000", "-100000", "", (160 - w) / 2, (80 - h) / 2},
      {"-80000", "0", "", 160 - w, 0},
      {"-79997", "-59998", "", 160 - w + 3, 80 - h + 2},  // a positive offset stays in the band
      {"-100000", "-60000", "{ anchorx = 0.5, anchory = 1 }", (160 - w) / 2, 80 - h},
      {"-40000", "-70000", "", 160, 0},                    // just right of the display: nothing shows
      {"-49990", "-30000", "", 10 - w, -h},                // left of and above it: nothing shows
  };
  int number = 0;
  for (const char* layers : {"", ".call enablelayers\n"}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.x) + " " + c.y + " " + c.options + " " + layers);
      // A display of its own for each, since the current one stays.
      ++number;
      vlDisplay* d = OpenBlack(number);
      ASSERT_NE(d, nullptr);
      const std::string call = *c.options ? std::string(".table 2 ") + c.options + "\n.call base=3 textout " + c.x +
                                                " " + c.y + " \"Hi\" r2"
                                          : std::string(".call textout ") + c.x + " " + c.y + " \"Hi\"";
      ASSERT_EQ(Run(layers + call), 0);
      const auto ink = Ink("Hi");
      for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 160; ++x)
          ASSERT_EQ(WindowPixel(d, x, y), ink.count({x - c.left, y - c.top}) ? 0xFFFFFFu : 0u) << x << "," << y;
    }
  }
}

TEST_F(TextOutput, SettingsAndMeasures) {
  vlTextSettings* s = GetTextSettings();
  ASSERT_EQ(Run(".call setfontstyle 32 16711680 10 5\n.call setfontstyle 1"), 0);
  EXPECT_EQ(s->style, 1u);
  EXPECT_EQ(s->shadowColor, 0xFF0000u);
  EXPECT_EQ(s->shadowSize, 10);
  EXPECT_EQ(s->shadowDirection, 5);
  ASSERT_EQ(Run(".call setfontstyle 32 0 100"), 0);
  EXPECT_EQ(s->shadowSize, 64);
  ASSERT_EQ(Run(".call setfontstyle 64 0 0"), 0);
  EXPECT_EQ(s->edgeSize, 1);
  EXPECT_EQ(Run(".call setfontstyle 2 5"), 1193);
  ASSERT_EQ(Run(".call setfontstyle 1\n.call setfontstyle 6"), 0);
  EXPECT_EQ(s->style, 7u);
  ASSERT_EQ(Run(".call setfontstyle 1\n.call textwidth \"abc\" -> w\n"
                ".call textheight \"\" -> h\n.call textwidth \"\" -> e"),
            0);
  EXPECT_EQ(Num("w"), 24);
  EXPECT_EQ(Num("h"), 8);
  EXPECT_EQ(Num("e"), 0);
  EXPECT_EQ(Run(".call setdefaultencoding 2"), 1055);
}


// An edge drawn as a layer's border has the same pixels as the edge drawn
// into the text: the glyph spread by the edge size in every direction.
TEST_F(TextOutput, EdgeAsLayerBorderMatchesTheDrawnEdge) {
  int number = 10;
  for (const char* layers : {"", ".call enablelayers\n"}) {
    SCOPED_TRACE(layers);
    ++number;
    vlDisplay* d = OpenBlack(number);
    ASSERT_NE(d, nullptr);
    ASSERT_EQ(Run(std::string(layers) + ".call setfontstyle 1\n.call setfontstyle 64 255 3\n.call textout 20 10 \"ox\""),
              0);
    for (int y = 0; y < 30; ++y)
      for (int x = 0; x < 60; ++x) {
        bool near = false, text = false;
        for (size_t c = 0; c < 2; ++c) {
          const int gx = x - 20 - static_cast<int>(c) * 8, gy = y - 10;
          text = text || GlyphBit("ox"[c], gx, gy);
          for (int oy = -3; oy <= 3; ++oy)
            for (int ox = -3; ox <= 3; ++ox) near = near || GlyphBit("ox"[c], gx + ox, gy + oy);
        }
        ASSERT_EQ(WindowPixel(d, x, y), text ? 0xFFFFFFu : near ? 0x0000FFu : 0u) << x << "," << y;
      }
  }
}

}  // namespace
