// Writes the built-in 8-pixel font's strike and char-location table as C++
// source: every glyph rendered 1-bit by FreeType from a TrueType face into
// an 8x8 cell whose top 6 rows lie above the baseline.
//   topazgen FACE.ttf WIDTH HEIGHT > text/fonts/topaz_strike.cpp
// WIDTH and HEIGHT are the pixel sizes the face is asked for. A glyph whose
// ink would leave the cell at that height (an accented capital, say) is
// rendered at the largest smaller height at which all of it fits, and one
// too wide at the largest smaller width: no glyph loses a row or column.
#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr int kCells = 188;
constexpr int kCell = 8;
constexpr int kBaseline = 6;  // rows above the baseline
constexpr int kSmallest = 4;  // no glyph is drawn smaller than this

// The cell of each code 32..255; some codes share a cell with a look-alike.
int SharedCell(int code) {
  switch (code) {
    case 160: return ' ';
    case 173: return '-';
    case 180: return '\'';
    case 184: return ',';
    default: return 0;
  }
}

struct Glyph {
  uint8_t rows[kCell] = {};
  int width = 0, height = 0;  // the pixel sizes it was rendered at
};

// The glyph rendered at width x height into a cell; false when its ink
// does not fit (too tall, or too wide even when moved inside the cell).
bool Render(FT_Face face, int code, int width, int height, Glyph* out, bool* tooTall) {
  *tooTall = false;
  if (FT_Set_Pixel_Sizes(face, width, height) ||
      FT_Load_Char(face, code, FT_LOAD_RENDER | FT_LOAD_TARGET_MONO | FT_LOAD_MONOCHROME))
    return false;
  const FT_Bitmap& b = face->glyph->bitmap;
  auto ink = [&](int r, int c) { return (b.buffer[r * b.pitch + c / 8] & (0x80 >> (c % 8))) != 0; };
  int top = 1 << 20, bottom = -1, left = 1 << 20, right = -1;
  for (int r = 0; r < static_cast<int>(b.rows); ++r)
    for (int c = 0; c < static_cast<int>(b.width); ++c)
      if (ink(r, c)) {
        top = r < top ? r : top, bottom = r > bottom ? r : bottom;
        left = c < left ? c : left, right = c > right ? c : right;
      }
  *out = Glyph{};
  out->width = width, out->height = height;
  if (bottom < 0) return true;  // a blank
  const int oy = kBaseline - face->glyph->bitmap_top;
  if (oy + top < 0 || oy + bottom >= kCell) {
    *tooTall = true;
    return false;
  }
  if (right - left >= kCell) return false;
  const int advance = static_cast<int>(face->glyph->advance.x >> 6);
  int ox = (kCell - advance) / 2 + face->glyph->bitmap_left;
  if (ox + left < 0) ox = -left;
  if (ox + right >= kCell) ox = kCell - 1 - right;
  for (int r = top; r <= bottom; ++r)
    for (int c = left; c <= right; ++c)
      if (ink(r, c)) out->rows[oy + r] |= static_cast<uint8_t>(0x80 >> (ox + c));
  return true;
}

// The largest rendering of the glyph that fits the cell whole.
bool Fit(FT_Face face, int code, int width, int height, Glyph* out) {
  for (int h = height; h >= kSmallest; --h)
    for (int w = width; w >= kSmallest; --w) {
      bool tooTall = false;
      if (Render(face, code, w, h, out, &tooTall)) return true;
      if (tooTall) break;
    }
  return false;
}

// The box drawn for codes without a glyph.
Glyph Box() {
  Glyph g;
  for (int y = 1; y < 7; ++y) g.rows[y] = y == 1 || y == 6 ? 0x7E : 0x42;
  return g;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s FACE.ttf WIDTH HEIGHT\n", argv[0]);
    return 2;
  }
  const int width = std::atoi(argv[2]), height = std::atoi(argv[3]);
  if (width < kSmallest || height < kSmallest) return 2;
  FT_Library lib;
  FT_Face face;
  if (FT_Init_FreeType(&lib) || FT_New_Face(lib, argv[1], 0, &face)) return 1;
  std::vector<uint8_t> strike(kCells * kCell);
  int cellOf[256] = {};
  int next = 0, squeezed = 0;
  auto put = [&](int cell, const Glyph& g) {
    for (int y = 0; y < kCell; ++y) strike[y * kCells + cell] = g.rows[y];
  };
  auto draw = [&](int cell, int code) {
    Glyph g;
    if (!FT_Get_Char_Index(face, code) || !Fit(face, code, width, height, &g)) {
      std::fprintf(stderr, "code %d: no glyph that fits, drawn as the box\n", code);
      g = Box();
    } else if (g.width != width || g.height != height) {
      ++squeezed;
    }
    put(cell, g);
  };
  for (int code = 32; code < 127; ++code) {
    cellOf[code] = next;
    draw(next++, code);
  }
  const int box = next++;
  put(box, Box());
  for (int code = 127; code < 161; ++code) cellOf[code] = box;
  for (int code = 160; code < 256; ++code) {
    if (int shared = SharedCell(code)) {
      cellOf[code] = cellOf[shared];
      continue;
    }
    if (code == 160) continue;
    if (next >= kCells) return 1;
    cellOf[code] = next;
    draw(next++, code);
  }
  std::fprintf(stderr, "%d glyphs rendered smaller to fit the cell\n", squeezed);
  const char* name = std::strrchr(argv[1], '/') ? std::strrchr(argv[1], '/') + 1 : argv[1];
  std::printf("// The built-in 8-pixel font: 188 cells of 8x8 pixels, one 1-bit row of\n"
              "// 188 bytes per pixel row, most significant bit leftmost. Generated by\n"
              "// tools/topazgen from %s at %dx%d pixels; do not edit.\n",
              name, width, height);
  std::printf("#include \"text/fonts/bitmap_font.h\"\n\nconst uint8_t kTopazStrike[188 * 8] = {\n");
  for (int y = 0; y < kCell; ++y) {
    for (int i = 0; i < kCells; ++i)
      std::printf("%s0x%02X,%s", i % 12 == 0 ? "    " : "", strike[y * kCells + i], i % 12 == 11 ? "\n" : " ");
    std::printf("\n");
  }
  std::printf("};\n\n// Codes 32..255, then the glyph of codes below 32.\nconst uint32_t kTopazCharLoc[225] = {\n");
  for (int i = 0; i < 225; ++i) {
    int cell = i < 224 ? cellOf[32 + i] : box;
    std::printf("%s0x%08X,%s", i % 6 == 0 ? "    " : "", static_cast<unsigned>(cell * 8) << 16 | 8u,
                i % 6 == 5 ? "\n" : " ");
  }
  std::printf("\n};\n");
  FT_Done_Face(face);
  FT_Done_FreeType(lib);
  return 0;
}
