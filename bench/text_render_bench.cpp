// Drawing a line of TrueType text into a 32-bit picture, anti-aliased and
// 1-bit, with the glyph cache on (repeated drawing takes rendered glyphs
// from it) and off (every glyph rendered again); TextOut of plain text into
// a brush, straight from the font engine and through the full layout, and
// bold and italic; and a filled (even-odd) and a stroked vector path rendered
// to coverage, anti-aliased and 1-bit.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "display/bgpic.h"
#include "display/display.h"
#include "graphics/bitmap.h"
#include "graphics/pixel_format.h"
#include "platform/offscreen_bitmap.h"
#include "text/fonts/engine_font.h"
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
void TextOutLine(benchmark::State& state, bool plain, uint32_t style) {
  vlEngineFont* font = nullptr;
  if (OpenEngineFont("Bitstream Vera Sans", 18, VL_FONTENGINE_INBUILT, 1, 0, &font)) {
    state.SkipWithError("no font");
    return;
  }
  SetGlobalPixelFormat(VL_PIXFMT_ARGB32);
  vlBitmap* pic = NewBitmap(640, 32, 0, nullptr);
  FillBitmapRect(pic, 0, 0, 640, 32, 0xFF203040u);
  static vlDisplay display{};
  display.outputType = VL_OUTPUT_BRUSH;
  display.width = 640;
  display.height = 32;
  vlBGPic target{};
  target.curBitmap = pic;
  target.width = 640;
  target.height = 32;
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

// Bold (2), italic (4) or both (6), which always take the full layout.
void StyledTextOut(benchmark::State& state) {
  TextOutLine(state, false,
              VL_STYLE_NORMAL | static_cast<uint32_t>(state.range(0)) |
                  (state.range(1) ? uint32_t{VL_STYLE_ANTIALIAS} : 0u));
}
BENCHMARK(StyledTextOut)->ArgNames({"style", "aa"})->ArgsProduct({{2, 4, 6}, {0, 1}});

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
