// Text, text-object and path layers on a private Xvfb display: layers
// rendered again (not scaled as pictures) when their transform or the
// display's scale changes, checked against glyphs FreeType renders at the
// scaled size; the draw tags of TextOut and DisplayTextObject with layers
// on and off; text objects inserted and selected as layers; and
// MoveTextObject.
#include "tests/display/core/display_fixture.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cstdlib>
#include <set>
#include <utility>

#include "display/layers/async_draw.h"
#include "display/commands/layers_library.h"
#include "display/layers/layers.h"
#include "graphics/bitmap.h"
#include "objects/draw/draw_state.h"
#include "objects/movement/move.h"
#include "objects/sprites/sprite.h"
#include "text/fonts/bitmap_font.h"
#include "text/font_cache.h"
#include "text/text_layers.h"
#include "text/vector/path_layers.h"
#include "text/text_library.h"
#include "text/text_objects.h"
#include "text/vector/vector_library.h"
#include "vm/error_codes.h"

namespace {

using vltest::DisplayTest;

const char kVera[] = "/usr/share/fonts/truetype/ttf-bitstream-vera/Vera.ttf";

// Colours equal within one step per channel (blending rounds).
bool Near(uint32_t a, uint32_t b) {
  for (int k = 0; k < 24; k += 8)
    if (std::abs(static_cast<int>((a >> k) & 255) - static_cast<int>((b >> k) & 255)) > 1) return false;
  return true;
}

bool GlyphBit(unsigned char c, int x, int y) {
  if (x < 0 || y < 0 || x >= 8 || y >= 8) return false;
  const uint32_t loc = kTopazCharLoc[c - 32];
  const int bit = static_cast<int>(loc >> 16) + x;
  return (kTopazStrike[y * kTopazModulo + bit / 8] >> (7 - bit % 8)) & 1;
}

// A glyph as FreeType renders it (one bit per pixel) for a font opened at
// size with the engine's sizing, scaled by factor.
struct FreeTypeGlyph {
  int width = 0, rows = 0;
  std::vector<uint8_t> bits;
  bool At(int x, int y) const { return x >= 0 && y >= 0 && x < width && y < rows && bits[y * width + x]; }
};

FreeTypeGlyph RenderWithFreeType(char c, int size, double factor) {
  FreeTypeGlyph out;
  FT_Library lib = nullptr;
  FT_Face face = nullptr;
  if (FT_Init_FreeType(&lib)) return out;
  if (FT_New_Face(lib, kVera, 0, &face) == 0) {
    FT_Set_Char_Size(face, 0, 100 * 64, 72, 72);
    int asc = 0, desc = 0;
    for (FT_ULong k = 33; k < 256; ++k) {
      FT_UInt g = FT_Get_Char_Index(face, k);
      if (!g || FT_Load_Glyph(face, g, FT_LOAD_RENDER | FT_LOAD_NO_AUTOHINT)) continue;
      asc = std::max(asc, face->glyph->bitmap_top);
      desc = std::max(desc, static_cast<int>(face->glyph->bitmap.rows) - face->glyph->bitmap_top);
    }
    const int nominal = size * 100 / (asc + desc);
    FT_Set_Pixel_Sizes(face, static_cast<FT_UInt>(std::max(nominal - 1, 1)), 0);
    FT_Matrix m = {static_cast<FT_Fixed>(factor * 65536), 0, 0, static_cast<FT_Fixed>(factor * 65536)};
    FT_Set_Transform(face, &m, nullptr);
    if (FT_Load_Glyph(face, FT_Get_Char_Index(face, static_cast<FT_ULong>(c)), FT_LOAD_NO_AUTOHINT) == 0 &&
        FT_Render_Glyph(face->glyph, FT_RENDER_MODE_MONO) == 0) {
      const FT_Bitmap& b = face->glyph->bitmap;
      out.width = static_cast<int>(b.width);
      out.rows = static_cast<int>(b.rows);
      out.bits.resize(static_cast<size_t>(out.width) * out.rows);
      for (int y = 0; y < out.rows; ++y)
        for (int x = 0; x < out.width; ++x)
          out.bits[y * out.width + x] = (b.buffer[y * b.pitch + x / 8] >> (7 - x % 8)) & 1;
    }
    FT_Done_Face(face);
  }
  FT_Done_FreeType(lib);
  return out;
}

class TextLayers : public DisplayTest {
 protected:
  void SetUp() override {
    DisplayTest::SetUp();
    if (!started_) return;
    ASSERT_EQ(OpenLayersLib(L), 0);
    ASSERT_EQ(OpenTextLib(L), 0);
    ASSERT_EQ(InitDefaultFont(), 0);
    ASSERT_EQ(OpenVectorGraphicsLib(L), 0);
    ASSERT_EQ(OpenMoveObjectLib(L), 0);
    ASSERT_EQ(OpenDrawLib(L), 0);
    ASSERT_EQ(OpenSpriteLib(L), 0);
    ResetDrawState(GetDrawState());
    GetDrawState()->fillStyle = VL_FILLCOLOR;
    vlMoveFrameDelayUs = 0;
  }
  void TearDown() override {
    if (started_) {
      FreeAsyncDraws(L);
      FreeSpriteLibrary(L);
      FreeVectorLibrary(L);
      ShutdownLayerSystem(L);
      FreeTextLibrary(L);
    }
    DisplayTest::TearDown();
  }
  vlDisplay* Open(int w, int h, uint32_t color, const std::string& extra = "") {
    EXPECT_EQ(Run(".table 0 { width = " + std::to_string(w) + ", height = " + std::to_string(h) +
                  ", color = " + std::to_string(color) + extra + " }\n.call base=1 createdisplay 1 r0\n" +
                  ".call opendisplay 1"),
              0);
    return GetDisplayByNumber(1);
  }
  // The box of the window's pixels of colour inside the area.
  struct Box {
    int x = 0, y = 0, width = 0, height = 0;
  };
  Box InkBox(vlDisplay* d, int x0, int y0, int w, int h, uint32_t colour) {
    XSync(d->window->display, False);
    XImage* image = XGetImage(probe_, d->window->window, x0, y0, w, h, AllPlanes, ZPixmap);
    Box b;
    if (!image) return b;
    int x1 = w, y1 = h, x2 = -1, y2 = -1;
    ink_.assign(static_cast<size_t>(w) * h, 0);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        if ((XGetPixel(image, x, y) & 0xFFFFFF) == colour) {
          ink_[y * w + x] = 1;
          x1 = std::min(x1, x), y1 = std::min(y1, y), x2 = std::max(x2, x), y2 = std::max(y2, y);
        }
    XDestroyImage(image);
    inkWidth_ = w;
    if (x2 < 0) return b;
    return {x0 + x1, y0 + y1, x2 - x1 + 1, y2 - y1 + 1};
  }
  // The ink of the last InkBox call at (x, y) relative to its area.
  bool InkAt(int x, int y) const { return ink_[y * inkWidth_ + x] != 0; }
  // The ink of the last InkBox call equals the glyph's bits at box.
  void ExpectGlyph(const FreeTypeGlyph& g, const Box& box, int x0, int y0) {
    ASSERT_GT(g.width, 0);
    EXPECT_EQ(box.width, g.width);
    EXPECT_EQ(box.height, g.rows);
    int wrong = 0;
    for (int y = 0; y < g.rows; ++y)
      for (int x = 0; x < g.width; ++x) wrong += InkAt(box.x - x0 + x, box.y - y0 + y) != g.At(x, y);
    EXPECT_EQ(wrong, 0);
  }
  void ExpectTopaz(vlDisplay* d, const std::string& s, int x0, int y0, uint32_t ink, uint32_t paper) {
    SCOPED_TRACE(s + " at " + std::to_string(x0) + "," + std::to_string(y0));
    for (size_t i = 0; i < s.size(); ++i)
      for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
          EXPECT_PRED2(Near, WindowPixel(d, x0 + static_cast<int>(i) * 8 + x, y0 + y),
                       GlyphBit(static_cast<unsigned char>(s[i]), x, y) ? ink : paper)
              << s << " " << x << "," << y;
  }
  std::vector<uint8_t> ink_;
  int inkWidth_ = 0;
};

TEST_F(TextLayers, TextOutLayerRendersAgainAtTheNewScale) {
  vlDisplay* d = Open(200, 140, 0);
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(Run(".call enablelayers\n.call setfont \":::default_sans\" 20\n.call setfontcolor 16777215\n"
                ".call textout 10 10 \"O\""),
            0);
  vlLayer* layer = GetLayerByPos(d->bgpic, 1);
  ASSERT_NE(layer, nullptr);
  ASSERT_EQ(layer->type, VL_LAYER_TEXTOUT);
  const Box small = InkBox(d, 0, 0, 200, 140, 0xFFFFFF);
  ExpectGlyph(RenderWithFreeType('O', 20, 1.0), small, 0, 0);
  // Twice the size: the glyph as FreeType renders it at twice the size,
  // not the small one's pixels doubled.
  ASSERT_EQ(Run(".call scalelayer 1 \"200%\" \"200%\""), 0);
  ASSERT_NE(layer->geometry[1], layer->geometry[0]);
  EXPECT_NE(layer->geometry[1]->image, nullptr);
  EXPECT_EQ(layer->geometry[1]->xImage, nullptr);
  const Box big = InkBox(d, 0, 0, 200, 140, 0xFFFFFF);
  const FreeTypeGlyph twice = RenderWithFreeType('O', 20, 2.0);
  ExpectGlyph(twice, big, 0, 0);
  // The small glyph's pixels doubled would not be that glyph.
  const FreeTypeGlyph once = RenderWithFreeType('O', 20, 1.0);
  int differ = 0;
  for (int y = 0; y < twice.rows; ++y)
    for (int x = 0; x < twice.width; ++x) differ += twice.At(x, y) != once.At(x / 2, y / 2);
  EXPECT_GT(differ, 10);
  // The layer's top-left anchor stays in place (within the glyph's bearing).
  EXPECT_NEAR(big.x, 10 + 2 * (small.x - 10), 2);
  // Back to the layer's own size: the small glyph again.
  ASSERT_EQ(Run(".call scalelayer 1 \"100%\" \"100%\""), 0);
  ExpectGlyph(RenderWithFreeType('O', 20, 1.0), InkBox(d, 0, 0, 200, 140, 0xFFFFFF), 0, 0);
}

TEST_F(TextLayers, ScaledDisplayRendersPrintAndPathLayersAgain) {
  vlDisplay* d = Open(100, 70, 0, ", scalemode = 2, scalewidth = 200, scaleheight = 140");
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(Run(".call enablelayers"), 0);
  ASSERT_TRUE(DisplayScalesLayers(d));
  ASSERT_EQ(Run(".call setfont \":::default_sans\" 20\n.call setfontcolor 65280\n.call print \"H\""), 0);
  vlLayer* print = GetLayerByPos(d->bgpic, 1);
  ASSERT_NE(print, nullptr);
  ASSERT_EQ(print->type, VL_LAYER_PRINT);
  ASSERT_NE(print->geometry[2], print->geometry[0]);
  EXPECT_EQ(print->geometry[2]->xImage, nullptr);
  ExpectGlyph(RenderWithFreeType('H', 20, 2.0), InkBox(d, 0, 0, 200, 140, 0x00FF00), 0, 0);

  // A path layer: its box drawn again at twice the size, edges sharp.
  ASSERT_EQ(Run(".call startpath 1\n.call addboxtopath 1 0 0 11 5\n.call drawpath 1 50 40 16711680"), 0);
  vlLayer* path = GetLayerByPos(d->bgpic, 2);
  ASSERT_NE(path, nullptr);
  ASSERT_EQ(path->type, VL_LAYER_VECTORPATH);
  ASSERT_NE(path->geometry[2], path->geometry[0]);
  EXPECT_EQ(path->geometry[2]->drawnWidth, 22);
  EXPECT_EQ(path->geometry[2]->drawnHeight, 10);
  const Box box = InkBox(d, 80, 60, 80, 60, 0xFF0000);
  EXPECT_EQ(box.x, 100);
  EXPECT_EQ(box.y, 80);
  EXPECT_EQ(box.width, 22);
  EXPECT_EQ(box.height, 10);
  // The path layer keeps its own path: freeing the path object changes
  // nothing, and a turn of the layer draws the path again turned.
  ASSERT_EQ(Run(".call freepath 1\n.call rotatelayer 2 90"), 0);
  const Box turned = InkBox(d, 60, 40, 120, 100, 0xFF0000);
  EXPECT_EQ(turned.width, 10);
  EXPECT_EQ(turned.height, 22);
  EXPECT_EQ(path->geometry[2]->xImage, nullptr);
}

TEST_F(TextLayers, TextOutDrawTags) {
  vlDisplay* d = Open(160, 80, 0);
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(Run(".call setfontcolor 16777215"), 0);
  // Layers off: transparency and filters change the pixels drawn.
  ASSERT_EQ(Run(".table 0 { transparency = 128 }\n.call base=1 textout 0 0 \"A\" r0"), 0);
  ExpectTopaz(d, "A", 0, 0, 0x7F7F7F, 0);
  ASSERT_EQ(Run(".table 0 { filters = { { name = \"invert\" } }, color = 16711680 }\n"
                ".call base=1 textout 16 0 \"A\" r0"),
            0);
  ExpectTopaz(d, "A", 16, 0, 0x00FFFF, 0);
  // A bitmap font cannot scale: its picture is scaled, twice as wide.
  ASSERT_EQ(Run(".table 0 { scalex = 2, scaley = 2 }\n.call base=1 textout 40 0 \"I\" r0"), 0);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x)
      EXPECT_EQ(WindowPixel(d, 40 + x, y), GlyphBit('I', x / 2, y / 2) ? 0xFFFFFFu : 0u) << x << "," << y;
  ASSERT_EQ(Run(".table 0 { hidden = 1 }\n.call base=1 textout 0 40 \"A\" r0"), 0);
  ExpectTopaz(d, "A", 0, 40, 0, 0);
  EXPECT_EQ(Run(".table 0 { anchorx = 2 }\n.call base=1 textout 0 40 \"A\" r0"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".table 0 { scalex = 0 }\n.call base=1 textout 0 40 \"A\" r0"), ERR_WRONGUSAGE);

  // Layers on: the tags become the layer's name, transparency and transform.
  ASSERT_EQ(Run(".call enablelayers\n.table 0 { name = \"t\", transparency = 128, scalex = 2, scaley = 2 }\n"
                ".call base=1 textout 80 40 \"I\" r0"),
            0);
  vlLayer* layer = GetLayerByPos(d->bgpic, 1);
  ASSERT_NE(layer, nullptr);
  EXPECT_EQ(layer->type, VL_LAYER_TEXTOUT);
  EXPECT_STREQ(layer->name, "t");
  EXPECT_EQ(layer->transparency, 128u);
  EXPECT_EQ(layer->geometry[1]->drawnWidth, 16);
  EXPECT_EQ(layer->geometry[1]->drawnHeight, 18);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x)
      EXPECT_PRED2(Near, WindowPixel(d, 80 + x, 40 + y), GlyphBit('I', x / 2, y / 2) ? 0x7F7F7Fu : 0u)
          << x << "," << y;
}

TEST_F(TextLayers, DisplayTextObjectTagsAndLayers) {
  vlDisplay* d = Open(160, 100, 255);
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(Run(".call setfontcolor 16777215\n.call createtextobject 1 \"Hi\""), 0);
  // Layers off: filters and transparency for this showing only.
  ASSERT_EQ(Run(".table 0 { filters = { { name = \"invert\" } } }\n.call base=1 displaytextobject 1 0 0 r0"), 0);
  ExpectTopaz(d, "Hi", 0, 0, 0x000000, 0x0000FF);
  ASSERT_EQ(Run(".table 0 { transparency = 255 }\n.call base=1 displaytextobject 1 0 10 r0"), 0);
  ExpectTopaz(d, "Hi", 0, 10, 0x0000FF, 0x0000FF);
  ASSERT_EQ(Run(".call displaytextobject 1 0 20"), 0);
  ExpectTopaz(d, "Hi", 0, 20, 0xFFFFFF, 0x0000FF);
  vlTextObject* o = nullptr;
  ASSERT_EQ(GetTextObjectByID(L, {1, nullptr}, &o, 0), 0);
  EXPECT_EQ(Run(".table 0 { transform = { 0, 1, 1, 0 } }\n.call base=1 displaytextobject 1 0 0 r0"),
            ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call displaytextobject 1 0 0 5"), 0);  // not a table: no tags

  // Layers on: a turned showing is a layer rendered again through its
  // transform; the object keeps its picture.
  ASSERT_EQ(Run(".call enablelayers\n.table 0 { rotate = 90 }\n.call base=1 displaytextobject 1 40 40 r0"), 0);
  vlLayer* layer = GetLayerByPos(d->bgpic, 1);
  ASSERT_NE(layer, nullptr);
  EXPECT_EQ(layer->type, VL_LAYER_TEXTOBJECT);
  EXPECT_EQ(layer->geometry[0]->image, nullptr);
  ASSERT_NE(layer->geometry[1], layer->geometry[0]);
  EXPECT_EQ(layer->geometry[1]->drawnWidth, 9);
  EXPECT_EQ(layer->geometry[1]->drawnHeight, 16);
  EXPECT_EQ(o->width, 16);
  // Turned a quarter clockwise about the top-left corner: the picture's
  // column x is the text's row 8 - x, its row y the text's column y.
  const int32_t px = layer->geometry[1]->drawnX, py = layer->geometry[1]->drawnY;
  EXPECT_EQ(px, 31);
  EXPECT_EQ(py, 40);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 9; ++x)
      EXPECT_EQ(WindowPixel(d, px + x, py + y), GlyphBit("Hi"[y / 8], y % 8, 8 - x) ? 0xFFFFFFu : 0x0000FFu)
          << x << "," << y;
  // Insert as a layer, at the bottom, by position constant.
  ASSERT_EQ(Run(".call insertlayer 1 8 1 -100000 -100000"), 0);
  ASSERT_EQ(CountLayers(d->bgpic), 2);
  vlLayer* bottom = GetLayerByPos(d->bgpic, 1);
  EXPECT_EQ(bottom->type, VL_LAYER_TEXTOBJECT);
  EXPECT_EQ(bottom->geometry[0]->x, 72);
  EXPECT_EQ(bottom->geometry[0]->y, 45);
  ExpectTopaz(d, "Hi", 72, 45, 0xFFFFFF, 0x0000FF);
  EXPECT_EQ(Run(".call insertlayer 1 8 7 0 0"), 1175);
  // Selected as drawing target, the layer gets its own picture.
  vlBitmap *image = nullptr, *mask = nullptr, *alpha = nullptr;
  int32_t w = 0, h = 0;
  ASSERT_EQ(FlattenLayerToImage(L, bottom, -1, &image, &mask, &alpha, &w, &h), 0);
  ASSERT_NE(image, nullptr);
  EXPECT_NE(image, o->bitmap);
  EXPECT_EQ(image, bottom->geometry[0]->image);
  EXPECT_EQ(w, 16);
  FillBitmapRect(image, 0, 0, w, h, 0xFFFF0000u);
  RefreshArea(L, 0, 0, 160, 100);
  ExpectTopaz(d, "Hi", 72, 45, 0xFF0000, 0x0000FF);
  // The object keeps its white text.
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x)
      if (GlyphBit('H', x, y)) { EXPECT_EQ(ReadBitmapPixel(o->bitmap, x, y, 0) & 0xFFFFFF, 0xFFFFFFu); }
}

TEST_F(TextLayers, MoveTextObject) {
  vlDisplay* d = Open(160, 80, 0);
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(Run(".call setfontcolor 65535\n.call createtextobject 1 \"Go\"\n"
                ".call movetextobject 1 0 0 40 30"),
            0);
  ExpectTopaz(d, "Go", 40, 30, 0x00FFFF, 0);
  ExpectTopaz(d, "Go", 0, 0, 0, 0);  // the start was cleaned on the way
  vlTextObject* o = nullptr;
  ASSERT_EQ(GetTextObjectByID(L, {1, nullptr}, &o, 0), 0);
  EXPECT_EQ(o->locked, 0u);
  EXPECT_EQ(Run(".call movetextobject 9 0 0 40 30"), 1175);
  EXPECT_EQ(Run(".call movetextobject 1 0 0 40 30 0"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call movetextobject 1 40 30 40 30"), 0);
  // A sprite made of the object shows its text; the object keeps its own.
  ASSERT_EQ(Run(".call createsprite 2 8 1\n.call displaysprite 2 100 10"), 0);
  ExpectTopaz(d, "Go", 100, 10, 0x00FFFF, 0);
  EXPECT_EQ(Run(".call createsprite 3 8 1 8"), ERR_TOOMANYARGS);
  EXPECT_EQ(Run(".call createsprite 3 8 9"), 1175);
  ASSERT_EQ(Run(".call removesprite 2\n.call freesprite 2"), 0);
  ExpectTopaz(d, "Go", 100, 10, 0, 0);
  EXPECT_NE(o->bitmap, nullptr);

  // Layers on: the object becomes a layer that travels.
  ASSERT_EQ(Run(".call enablelayers\n.call movetextobject 1 0 0 100 50 20"), 0);
  ASSERT_EQ(CountLayers(d->bgpic), 1);
  vlLayer* layer = GetLayerByPos(d->bgpic, 1);
  EXPECT_EQ(layer->type, VL_LAYER_TEXTOBJECT);
  EXPECT_EQ(layer->geometry[0]->x, 100);
  EXPECT_EQ(layer->geometry[0]->y, 50);
  ExpectTopaz(d, "Go", 100, 50, 0x00FFFF, 0);
  // A second move takes the layer that shows the object; async, locked.
  ASSERT_EQ(Run(".table 0 { async = 1, speed = 200 }\n.call base=1 movetextobject 1 100 50 10 10 r0 -> h"), 0);
  EXPECT_EQ(o->locked, 1u);
  EXPECT_EQ(Run(".call scaletextobject 1 32 18"), ERR_LOCKEDOBJ);
  ASSERT_EQ(vltest::GetGlobal(L, "h")->tag, VL_TLIGHTUSERDATA);
  const vlObjectId handle{0, vltest::GetGlobal(L, "h")->v.p};
  vlAsyncDraw* draw = nullptr;
  ASSERT_EQ(GetAsyncDrawByID(handle, &draw), 0);
  for (int i = 0; i < 10 && !draw->done; ++i) ASSERT_EQ(RunAsyncDrawStep(L, draw, 0), 0);
  EXPECT_TRUE(draw->done);
  ASSERT_EQ(FinishAsyncDraw(L, handle), 0);
  EXPECT_EQ(o->locked, 0u);
  EXPECT_EQ(CountLayers(d->bgpic), 1);
  ExpectTopaz(d, "Go", 10, 10, 0x00FFFF, 0);
}

// Field key of GetLayerStyle(layer) into global g.
std::string StyleScript(int layer, const char* key) {
  return ".call getlayerstyle " + std::to_string(layer) + " -> st\ngetglobal 0 \"st\"\ngetfield 1 0 \"" + key +
         "\"\nsetglobal 1 \"g\"";
}

TEST_F(TextLayers, TextOutStyleKeysRenderTheTextAgain) {
  vlDisplay* d = Open(200, 140, 0);
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(Run(".call enablelayers\n.call setfont \":::default_sans\" 20\n.call setfontcolor 16777215\n"
                ".call textout 10 10 \"O\""),
            0);
  ASSERT_EQ(Run(".table 0 { text = \"H\", color = 65280, fontsize = 40 }\n.call base=1 setlayerstyle 1 r0"), 0);
  vlLayer* layer = GetLayerByPos(d->bgpic, 1);
  ASSERT_EQ(layer->type, VL_LAYER_TEXTOUT);
  // The new glyph at the new size in the new colour; the old one is gone.
  ExpectGlyph(RenderWithFreeType('H', 40, 1.0), InkBox(d, 0, 0, 200, 140, 0x00FF00), 0, 0);
  EXPECT_EQ(InkBox(d, 0, 0, 200, 140, 0xFFFFFF).width, 0);
  ASSERT_EQ(Run(StyleScript(1, "text")), 0);
  EXPECT_EQ(vltest::GlobalString(L, "g"), "H");
  ASSERT_EQ(Run(StyleScript(1, "fontsize")), 0);
  EXPECT_EQ(Num("g"), 40);
  ASSERT_EQ(Run(StyleScript(1, "color")), 0);
  EXPECT_EQ(Num("g"), 65280);
  ASSERT_EQ(Run(StyleScript(1, "font")), 0);
  EXPECT_EQ(vltest::GlobalString(L, "g"), "Bitstream Vera Sans");
  // The shadow bit of the font style is the layer's shadow.
  ASSERT_EQ(Run(".table 0 { fontstyle = 32 }\n.call base=1 setlayerstyle 1 r0"), 0);
  EXPECT_EQ(layer->shadow.on, 1u);
  ASSERT_EQ(Run(StyleScript(1, "fontstyle")), 0);
  EXPECT_EQ(static_cast<uint32_t>(Num("g")) & 32u, 32u);
  ASSERT_EQ(Run(".table 0 { fontstyleclear = 32 }\n.call base=1 setlayerstyle 1 r0"), 0);
  EXPECT_EQ(layer->shadow.on, 0u);
  // Moved and restyled later: the glyph follows the layer's place.
  ASSERT_EQ(Run(".table 0 { x = 100, y = 60 }\n.call base=1 setlayerstyle 1 r0\n"
                ".table 0 { text = \"O\" }\n.call base=1 setlayerstyle 1 r0"),
            0);
  const Box moved = InkBox(d, 0, 0, 200, 140, 0x00FF00);
  ExpectGlyph(RenderWithFreeType('O', 40, 1.0), moved, 0, 0);
  EXPECT_GE(moved.x, 100);
  EXPECT_LT(moved.x, 106);
  EXPECT_EQ(Run(".table 0 { encoding = 2 }\n.call base=1 setlayerstyle 1 r0"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".table 0 { font = \"no such font\" }\n.call base=1 setlayerstyle 1 r0"), 1064);
  // A refused table leaves the text as it was.
  ExpectGlyph(RenderWithFreeType('O', 40, 1.0), InkBox(d, 0, 0, 200, 140, 0x00FF00), 0, 0);
  // A new size opens the font with the glyph cache on unless the table
  // says otherwise, even when the old font had it off.
  auto cacheFlagOf = [](const vlLayer* l) {
    const vlEngineFont* font = static_cast<const vlTextLayerGeometry*>(l->geometry[0])->layout.settings.font;
    for (const vlFontCacheEntry* e = vlFontState.cache; e; e = e->next)
      if (e->font == font) return e->cacheFlag;
    return -1;
  };
  ASSERT_EQ(Run(".table 0 { cache = 0 }\n.call base=1 setfont \":::default_sans\" 20 r0\n"
                ".call textout 10 100 \"A\""),
            0);
  vlLayer* uncached = GetLayerByPos(d->bgpic, 2);
  ASSERT_EQ(cacheFlagOf(uncached), 0);
  ASSERT_EQ(Run(".table 0 { fontsize = 30 }\n.call base=1 setlayerstyle 2 r0"), 0);
  EXPECT_EQ(cacheFlagOf(GetLayerByPos(d->bgpic, 2)), 1);
  ASSERT_EQ(Run(".table 0 { fontsize = 24, fontcache = 0 }\n.call base=1 setlayerstyle 2 r0"), 0);
  EXPECT_EQ(cacheFlagOf(GetLayerByPos(d->bgpic, 2)), 0);
}

TEST_F(TextLayers, TypeChangesIntoTextAndPrintCursor) {
  vlDisplay* d = Open(200, 140, 0);
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(Run(".call enablelayers\n.call setfont \":::default_sans\" 20\n.call setfontcolor 255\n"
                ".call box 10 10 30 30 16711680"),
            0);
  vlLayer* layer = GetLayerByPos(d->bgpic, 1);
  // A box becomes text drawn with the text library's settings.
  ASSERT_EQ(Run(".table 0 { type = 9, text = \"O\" }\n.call base=1 setlayerstyle 1 r0"), 0);
  layer = GetLayerByPos(d->bgpic, 1);
  ASSERT_EQ(layer->type, VL_LAYER_TEXTOUT);
  EXPECT_EQ(InkBox(d, 0, 0, 200, 140, 0xFF0000).width, 0);
  ExpectGlyph(RenderWithFreeType('O', 20, 1.0), InkBox(d, 0, 0, 200, 140, 0x0000FF), 0, 0);
  // Print text placed at its cursor; the text stays across the change.
  ASSERT_EQ(Run(".table 0 { type = 11, cursorx = 120, cursory = 70 }\n.call base=1 setlayerstyle 1 r0"), 0);
  ASSERT_EQ(GetLayerByPos(d->bgpic, 1)->type, VL_LAYER_PRINT);
  const Box at = InkBox(d, 0, 0, 200, 140, 0x0000FF);
  ExpectGlyph(RenderWithFreeType('O', 20, 1.0), at, 0, 0);
  EXPECT_GE(at.x, 120);
  EXPECT_LT(at.x, 124);
  EXPECT_GE(at.y, 70);
  EXPECT_LT(at.y, 78);
  ASSERT_EQ(Run(StyleScript(1, "text")), 0);
  EXPECT_EQ(vltest::GlobalString(L, "g"), "O");
  // A cursor outside the margins goes to the left margin.
  ASSERT_EQ(Run(".table 0 { leftmargin = 20, rightmargin = 150, cursorx = 170, cursory = 10 }\n"
                ".call base=1 setlayerstyle 1 r0"),
            0);
  const Box left = InkBox(d, 0, 0, 200, 140, 0x0000FF);
  EXPECT_GE(left.x, 20);
  EXPECT_LT(left.x, 24);
  ASSERT_EQ(Run(StyleScript(1, "leftmargin")), 0);
  EXPECT_EQ(Num("g"), 20);
  ASSERT_EQ(Run(StyleScript(1, "rightmargin")), 0);
  EXPECT_EQ(Num("g"), 150);

  EXPECT_EQ(Run(".table 0 { x = 5, cursorx = 30 }\n.call base=1 setlayerstyle 1 r0"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".table 0 { anchory = 0.5, cursory = 30 }\n.call base=1 setlayerstyle 1 r0"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".table 0 { cursorx = -100000 }\n.call base=1 setlayerstyle 1 r0"), 1337);
  EXPECT_EQ(Run(".table 0 { cursory = -70000 }\n.call base=1 setlayerstyle 1 r0"), 1337);
  EXPECT_EQ(Run(".table 0 { leftmargin = -1 }\n.call base=1 setlayerstyle 1 r0"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".table 0 { tabs = { 8, \"x\" } }\n.call base=1 setlayerstyle 1 r0"), ERR_NUMTABLEARG);
  std::string many = ".table 0 { tabs = { ";
  for (int i = 0; i < 31; ++i) many += std::to_string(i * 4) + ", ";
  EXPECT_EQ(Run(many + "} }\n.call base=1 setlayerstyle 1 r0"), 0);
  EXPECT_EQ(Run(many + "124 } }\n.call base=1 setlayerstyle 1 r0"), ERR_INTERNAL);
  ASSERT_EQ(Run(".table 0 { tabs = { 64, 16, 32 } }\n.call base=1 setlayerstyle 1 r0"), 0);
  const auto* g = static_cast<const vlTextLayerGeometry*>(GetLayerByPos(d->bgpic, 1)->geometry[0]);
  ASSERT_EQ(g->layout.tabCount, 3);
  EXPECT_EQ(g->layout.tabStops[0], 16);
  EXPECT_EQ(g->layout.tabStops[2], 64);
}

TEST_F(TextLayers, PathLayerStyleKeys) {
  vlDisplay* d = Open(200, 140, 0);
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(Run(".call enablelayers\n.call startpath 1\n.call addboxtopath 1 0 0 11 5\n"
                ".call startpath 2\n.call addboxtopath 2 0 0 30 20\n.call drawpath 1 50 40 16711680"),
            0);
  const Box red = InkBox(d, 0, 0, 200, 140, 0xFF0000);
  EXPECT_EQ(red.width, 11);
  ASSERT_EQ(Run(".table 0 { color = 65280 }\n.call base=1 setlayerstyle 1 r0"), 0);
  EXPECT_EQ(InkBox(d, 0, 0, 200, 140, 0xFF0000).width, 0);
  const Box green = InkBox(d, 0, 0, 200, 140, 0x00FF00);
  EXPECT_EQ(green.x, red.x);
  EXPECT_EQ(green.width, 11);
  EXPECT_EQ(green.height, 5);
  // Another path: the layer takes its copy, so freeing the path is safe.
  ASSERT_EQ(Run(".table 0 { id = 2 }\n.call base=1 setlayerstyle 1 r0\n.call freepath 2"), 0);
  const Box big = InkBox(d, 0, 0, 200, 140, 0x00FF00);
  EXPECT_EQ(big.x, 50);
  EXPECT_EQ(big.y, 40);
  EXPECT_EQ(big.width, 30);
  EXPECT_EQ(big.height, 20);
  ASSERT_EQ(Run(".table 0 { linejoin = 2, dashoffset = 1.5, dashes = { 4, 2 } }\n"
                ".call base=1 setlayerstyle 1 r0"),
            0);
  ASSERT_EQ(Run(StyleScript(1, "vectorengine")), 0);
  EXPECT_EQ(vltest::GlobalString(L, "g"), "default");
  ASSERT_EQ(Run(StyleScript(1, "linejoin")), 0);
  EXPECT_EQ(Num("g"), 2);
  ASSERT_EQ(Run(StyleScript(1, "dashoffset")), 0);
  EXPECT_EQ(Num("g"), 1.5);
  ASSERT_EQ(Run(StyleScript(1, "id")), 0);
  EXPECT_EQ(Num("g"), 2);
  const auto* kept = static_cast<const vlPathLayerGeometry*>(GetLayerByPos(d->bgpic, 1)->geometry[0]);
  ASSERT_EQ(kept->dashes.size(), 2u);
  EXPECT_EQ(kept->dashes[1], 2);
  EXPECT_EQ(kept->shape.line.dashes, kept->dashes.data());
  EXPECT_EQ(Run(".table 0 { vectorengine = \"nosuch\" }\n.call base=1 setlayerstyle 1 r0"), ERR_FINDPLUGIN);
  EXPECT_EQ(Run(".table 0 { dashes = { 1, \"a\" } }\n.call base=1 setlayerstyle 1 r0"), ERR_NUMTABLEARG);
  EXPECT_EQ(Run(".table 0 { id = 9 }\n.call base=1 setlayerstyle 1 r0"), kErrFindPath);

  // A box becomes a path layer; it needs a path.
  ASSERT_EQ(Run(".call setfillstyle 1\n.call box 120 100 10 10 255"), 0);
  EXPECT_EQ(Run(".table 0 { type = 49 }\n.call base=1 setlayerstyle 2 r0"), ERR_MISSINGPARAMTR);
  ASSERT_EQ(Run(".table 0 { type = 49, id = 1, color = 16776960 }\n.call base=1 setlayerstyle 2 r0"), 0);
  ASSERT_EQ(GetLayerByPos(d->bgpic, 2)->type, VL_LAYER_VECTORPATH);
  EXPECT_EQ(InkBox(d, 0, 0, 200, 140, 0x0000FF).width, 0);
  const Box yellow = InkBox(d, 0, 0, 200, 140, 0xFFFF00);
  EXPECT_EQ(yellow.x, 120);
  EXPECT_EQ(yellow.y, 100);
  EXPECT_EQ(yellow.width, 11);
  EXPECT_EQ(yellow.height, 5);
}

}  // namespace
