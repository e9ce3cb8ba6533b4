// Drawing a line of TrueType text into a 32-bit picture, anti-aliased and
// 1-bit, with the glyph cache on (repeated drawing takes rendered glyphs
// from it) and off (every glyph rendered again); TextOut of plain text into
// a brush, straight from the font engine and through the full layout, and
// bold and italic, beside FreeType itself drawing the same line; and a filled (even-odd) and a stroked vector path rendered
// to coverage, anti-aliased and 1-bit.
#include <benchmark/benchmark.h>

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_GLYPH_H
#include FT_OUTLINE_H
#include FT_SYNTHESIS_H

#include <cstring>
#include <vector>

#include "display/bgpic.h"
#include "display/display.h"
#include "graphics/bitmap.h"
#include "graphics/pixel_format.h"
#include "platform/offscreen_bitmap.h"
#include "text/fonts/engine_font.h"
#include "text/fonts/truetype_font.h"
#include "text/text_layout.h"
#include "text/vector/vector_engine.h"

namespace {

const char kLine[] = "The quick brown fox jumps over the lazy dog 0123456789";

void DrawText(benchmark::State& state) {
  const int cache = static_cast<int>(state.range(0));
  const uint32_t style = state.range(1) ? uint32_t{VL_STYLE_ANTIALIAS} : 0u;
  vlEngineFont* font = nullptr;
  if (OpenEngineFont("Bitstream Vera Sans", 18, VL_FONTENGINE_INBUILT, cache, 0, &font)) {
    state.SkipWithError("no font");
    return;
  }
  SetGlobalPixelFormat(VL_PIXFMT_ARGB32);
  vlBitmap* pic = NewBitmap(640, 32, 0, nullptr);
  SetGlobalPixelFormat(-1);
  const int32_t clip[4] = {0, 0, 640, 32};
  for (auto _ : state)
    RenderText(font, pic, nullptr, 0, 4, kLine, sizeof kLine - 1, style, 0, clip, 0xFFFFFF);
  state.SetItemsProcessed(state.iterations() * (sizeof kLine - 1));
  DeleteBitmap(pic);
  CloseEngineFont(font);
  ShutdownFontEngines();
}
BENCHMARK(DrawText)->ArgNames({"cache", "aa"})->Args({1, 1})->Args({0, 1})->Args({1, 0})->Args({0, 0});

// TextOut of the line into a brush selected as the drawing target (as a
// software double buffer's picture is), in the given style.
constexpr int kTextSize = 20, kBrushW = 1280, kBrushH = 720;

void TextOutLine(benchmark::State& state, bool plain, uint32_t style) {
  vlEngineFont* font = nullptr;
  if (OpenEngineFont("Bitstream Vera Sans", kTextSize, VL_FONTENGINE_INBUILT, 1, 0, &font)) {
    state.SkipWithError("no font");
    return;
  }
  SetGlobalPixelFormat(VL_PIXFMT_ARGB32);
  vlBitmap* pic = NewBitmap(kBrushW, kBrushH, 0, nullptr);
  FillBitmapRect(pic, 0, 0, kBrushW, kBrushH, 0xFF203040u);
  static vlDisplay display{};
  display.outputType = VL_OUTPUT_BRUSH;
  display.width = kBrushW;
  display.height = kBrushH;
  vlBGPic target{};
  target.curBitmap = pic;
  target.width = kBrushW;
  target.height = kBrushH;
  SetCurrentDisplay(&display);
  vlCurrentOutput = &target;
  vlTextLayout layout;
  layout.settings = {style, 0xFFE0A0, 0, 0, 1, 3, 1, font};
  layout.text = kLine;
  layout.x = 4;
  layout.y = 4;
  layout.useWordWrap = !plain;
  for (auto _ : state)
    if (DrawFormattedText(nullptr, &layout, VL_TEXTMODE_TEXTOUT, false, nullptr)) {
      state.SkipWithError("TextOut failed");
      break;
    }
  state.SetItemsProcessed(state.iterations() * (sizeof kLine - 1));
  vlCurrentOutput = nullptr;
  SetCurrentDisplay(nullptr);
  DeleteBitmap(pic);
  SetGlobalPixelFormat(-1);
  CloseEngineFont(font);
  ShutdownFontEngines();
}
// Plain text straight from the font engine ("plain" 1), or the same text
// through the full layout, its picture and the blit ("plain" 0: an empty
// word-wrap table sends it there). bench/plain_text.py alternates the two
// and gives the ratio.
void PlainTextOut(benchmark::State& state) {
  TextOutLine(state, state.range(0) != 0, VL_STYLE_NORMAL | (state.range(1) ? uint32_t{VL_STYLE_ANTIALIAS} : 0u));
}
BENCHMARK(PlainTextOut)->ArgNames({"plain", "aa"})->Args({1, 1})->Args({0, 1})->Args({1, 0})->Args({0, 0});

// Bold (2), italic (4) or both (6), drawn as a script's TextOut draws
// them: 1-bit straight from the engine, anti-aliased through the layout.
void StyledTextOut(benchmark::State& state) {
  TextOutLine(state, true,
              VL_STYLE_NORMAL | static_cast<uint32_t>(state.range(0)) |
                  (state.range(1) ? uint32_t{VL_STYLE_ANTIALIAS} : 0u));
}
BENCHMARK(StyledTextOut)->ArgNames({"style", "aa"})->ArgsProduct({{2, 4, 6}, {0, 1}});

// The peer: FreeType itself drawing the same line in the same face and
// pixel size into a 32-bit picture, as a program using it would, keeping
// each rendered glyph: load, embolden (bold) and shear by 0.375 (italic),
// render, kern, and blend the coverage (anti-aliased) or set the bits
// (1-bit). bench/text_peers.py alternates it with TextOut.
void FreeTypeTextOut(benchmark::State& state) {
  const bool bold = state.range(0) & 2, italic = state.range(0) & 4, aa = state.range(1) != 0;
  vlEngineFont* font = nullptr;
  FT_Library lib = nullptr;
  FT_Face face = nullptr;
  const vlEmbeddedFace* data = FindEmbeddedFace("Bitstream Vera Sans");
  if (OpenEngineFont("Bitstream Vera Sans", kTextSize, VL_FONTENGINE_INBUILT, 1, 0, &font) || !data ||
      FT_Init_FreeType(&lib) ||
      FT_New_Memory_Face(lib, data->data, static_cast<FT_Long>(data->size), 0, &face)) {
    state.SkipWithError("no font");
    return;
  }
  // The pixel size the player's engine chose for the size asked.
  FT_Set_Pixel_Sizes(face, GetTTFace(font)->size->metrics.x_ppem, 0);
  const int baseline = font->baseline;
  CloseEngineFont(font);
  ShutdownFontEngines();
  struct Cached {
    FT_Glyph glyph = nullptr;
    FT_Pos advance = 0;
  };
  std::vector<Cached> cache(256);
  std::vector<uint32_t> pixels(size_t(kBrushW) * kBrushH, 0xFF203040u);
  const uint32_t color = 0xFFE0A0;
  auto draw = [&] {
    int pen = 4 * 64;
    FT_UInt previous = 0;
    for (const char* p = kLine; *p; ++p) {
      const auto code = static_cast<unsigned char>(*p);
      const FT_UInt index = FT_Get_Char_Index(face, code);
      if (previous && FT_HAS_KERNING(face)) {
        FT_Vector k;
        if (!FT_Get_Kerning(face, previous, index, FT_KERNING_DEFAULT, &k)) pen += k.x;
      }
      previous = index;
      Cached& c = cache[code];
      if (!c.glyph) {
        if (FT_Load_Glyph(face, index, FT_LOAD_NO_AUTOHINT)) continue;
        if (bold) FT_GlyphSlot_Embolden(face->glyph);
        if (italic) {
          FT_Matrix shear = {0x10000, 0x6000, 0, 0x10000};
          FT_Outline_Transform(&face->glyph->outline, &shear);
        }
        if (FT_Render_Glyph(face->glyph, aa ? FT_RENDER_MODE_NORMAL : FT_RENDER_MODE_MONO) ||
            FT_Get_Glyph(face->glyph, &c.glyph))
          continue;
        c.advance = face->glyph->advance.x;
      }
      const auto* g = reinterpret_cast<FT_BitmapGlyph>(c.glyph);
      const FT_Bitmap& b = g->bitmap;
      const int gx = (pen >> 6) + g->left, gy = 4 + baseline - g->top;
      for (int r = 0; r < static_cast<int>(b.rows); ++r) {
        if (gy + r < 0 || gy + r >= kBrushH) continue;
        uint32_t* row = pixels.data() + size_t(gy + r) * kBrushW;
        const uint8_t* src = b.buffer + r * b.pitch;
        for (int x = 0; x < static_cast<int>(b.width); ++x) {
          if (gx + x < 0 || gx + x >= kBrushW) continue;
          if (!aa) {
            if (src[x >> 3] & (0x80 >> (x & 7))) row[gx + x] = 0xFF000000u | color;
            continue;
          }
          const uint32_t a = src[x];
          if (!a) continue;
          const uint32_t d = row[gx + x];
          uint32_t out = 0xFF000000u;
          for (int s = 0; s <= 16; s += 8)
            out |= ((((color >> s) & 0xFF) * a + ((d >> s) & 0xFF) * (255 - a)) / 255) << s;
          row[gx + x] = out;
        }
      }
      pen += static_cast<int>(c.advance);
    }
  };
  for (auto _ : state) {
    draw();
    benchmark::DoNotOptimize(pixels.data());
  }
  state.SetItemsProcessed(state.iterations() * (sizeof kLine - 1));
  for (Cached& c : cache)
    if (c.glyph) FT_Done_Glyph(c.glyph);
  FT_Done_Face(face);
  FT_Done_FreeType(lib);
}
BENCHMARK(FreeTypeTextOut)->ArgNames({"style", "aa"})->ArgsProduct({{0, 2, 4, 6}, {0, 1}});

void RenderPath(benchmark::State& state) {
  std::vector<uint8_t> cmd;
  auto put = [&](const void* v, size_t n) {
    cmd.resize(cmd.size() + n);
    std::memcpy(cmd.data() + cmd.size() - n, v, n);
  };
  auto u32 = [&](uint32_t v) { put(&v, 4); };
  auto f64 = [&](double v) { put(&v, 8); };
  u32(VL_PATH_ARC);
  for (double v : {100.0, 100.0, 90.0, 60.0, 0.0, 360.0}) f64(v);
  u32(1);
  u32(VL_PATH_CLOSE);
  u32(VL_PATH_BOX);
  for (double v : {20.0, 20.0, 160.0, 160.0}) f64(v);
  for (int i = 0; i < 4; ++i) u32(40);
  u32(0);
  vlLineStateCopy ls{VL_JOINROUND, VL_CAPROUND, VL_FILLRULEEVENODD, static_cast<uint32_t>(state.range(1)), 0,
                     nullptr, 0};
  std::vector<uint8_t> cov(220 * 220);
  vlPathDrawRequest r{};
  r.commands = cmd.data();
  r.lineState = &ls;
  r.fill = state.range(0) == 0;
  r.lineWidth = 6;
  r.coverage = cov.data();
  r.rowBytes = r.width = r.height = 220;
  for (auto _ : state) benchmark::DoNotOptimize(DrawPath(&r));
  ShutdownFontEngines();
}
BENCHMARK(RenderPath)->ArgNames({"stroke", "aa"})->ArgsProduct({{0, 1}, {1, 0}});

}  // namespace

BENCHMARK_MAIN();
