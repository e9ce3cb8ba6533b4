// Writes the built-in 8-pixel font's strike and char-location table as C++
// source: every glyph rendered 1-bit by FreeType from a TrueType face into
// an 8x8 cell whose top 6 rows lie above the baseline.
//   topazgen FACE.ttf WIDTH HEIGHT > text/fonts/topaz_strike.cpp
// WIDTH and HEIGHT are the pixel sizes the face is asked for. A glyph must
// keep all its ink in the cell and keep its parts apart: as many separate
// (8-connected) pieces of ink as the face's rendering at 64 pixels has, so
// that the dot of "?" or "i" and the accents stay off their letters. Each
// glyph is the face's largest rendering, hinted or else unhinted, that does
// both, at the named size when it can. An accented letter that has no such
// rendering at the named height is composed from its Unicode decomposition:
// the base letter's largest rendering that keeps the face's counters, on
// the baseline or up to two rows under it (so that a capital keeps five
// rows), and above it the spacing form of the mark at the largest size
// that fits and is two rows high (a diaeresis may be one: its two dots
// tell it apart), so that grave, acute and circumflex differ in shape,
// one blank row apart unless the face joins them, each placed across the
// cell as the face places it. Every visible character gets a cell of its
// own; the no-break space and the soft hyphen are blank. A glyph that no rendering can draw with its
// parts apart (the dotted zero, "%", "®", the fractions) keeps its largest
// rendering that fits.
#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr int kCells = 190;
constexpr int kCell = 8;
constexpr int kBaseline = 6;  // rows above the baseline
constexpr int kSmallest = 4;  // no glyph is drawn smaller than this
constexpr int kProbe = 64;    // the size at which a character's parts are counted

// The cell of each code 32..255 that shares one: the no-break space and
// the soft hyphen, which shows only where a line is broken, are blank.
int SharedCell(int code) { return code == 160 || code == 173 ? ' ' : 0; }

// The canonical decomposition of the Latin-1 letters 192..255 into a base
// letter and a mark ('.' for none), the mark by the character that shows
// it alone: ` grave, ' acute, ^ circumflex, ~ tilde, : diaeresis, o ring,
// , cedilla.
constexpr char kBases[] = "AAAAAA.CEEEEIIII.NOOOOO..UUUUY..aaaaaa.ceeeeiiii.nooooo..uuuuy.y";
constexpr char kMarks[] = "`'^~:o.,`'^:`'^:.~`'^~:..`'^:'..`'^~:o.,`'^:`'^:.~`'^~:..`'^:'.:";

int SpacingMark(char mark) {
  switch (mark) {
    case '`': return 0x60;
    case '\'': return 0xB4;
    case '^': return 0x2C6;
    case '~': return 0x2DC;
    case ':': return 0xA8;
    case 'o': return 0x2DA;
    case ',': return 0xB8;
    default: return 0;
  }
}

// Connected regions of the cells that are 1 in a rows x cols grid, by
// sides and corners (diagonal) or by sides only.
int Regions(std::vector<uint8_t> grid, int rows, int cols, bool diagonal) {
  int regions = 0;
  std::vector<int> stack;
  for (int start = 0; start < rows * cols; ++start) {
    if (grid[start] != 1) continue;
    ++regions;
    grid[start] = 2;
    stack.push_back(start);
    while (!stack.empty()) {
      const int p = stack.back(), r = p / cols, c = p % cols;
      stack.pop_back();
      for (int y = r - 1; y <= r + 1; ++y)
        for (int x = c - 1; x <= c + 1; ++x)
          if ((diagonal || y == r || x == c) && y >= 0 && y < rows && x >= 0 && x < cols &&
              grid[y * cols + x] == 1) {
            grid[y * cols + x] = 2;
            stack.push_back(y * cols + x);
          }
    }
  }
  return regions;
}

// Pieces of 8-connected ink in a rows x cols picture (1 for ink).
int Parts(const std::vector<uint8_t>& ink, int rows, int cols) { return Regions(ink, rows, cols, true); }

// Counters: the blank's 4-connected regions other than the outside.
int Holes(const std::vector<uint8_t>& ink, int rows, int cols) {
  std::vector<uint8_t> blank(size_t(rows + 2) * (cols + 2), 1);
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < cols; ++c) blank[size_t(r + 1) * (cols + 2) + c + 1] = ink[r * cols + c] ? 0 : 1;
  return Regions(blank, rows + 2, cols + 2, false) - 1;
}

// One 1-bit rendering of a character and where the face puts it.
struct Shape {
  int rows = 0, cols = 0;
  std::vector<uint8_t> ink;
  int top = 0, left = 0, advance = 0;
  int inkTop = 0, inkBottom = -1, inkLeft = 0, inkRight = -1;  // box of the ink
};

bool Load(FT_Face face, int code, int width, int height, bool hinted, Shape* s) {
  const FT_Int32 flags = FT_LOAD_RENDER | FT_LOAD_MONOCHROME | (hinted ? FT_LOAD_TARGET_MONO : FT_LOAD_NO_HINTING);
  if (FT_Set_Pixel_Sizes(face, width, height) || FT_Load_Char(face, code, flags)) return false;
  const FT_Bitmap& b = face->glyph->bitmap;
  *s = Shape{};
  s->rows = static_cast<int>(b.rows), s->cols = static_cast<int>(b.width);
  s->top = face->glyph->bitmap_top, s->left = face->glyph->bitmap_left;
  s->advance = static_cast<int>(face->glyph->advance.x >> 6);
  s->ink.assign(size_t(s->rows) * s->cols, 0);
  s->inkTop = s->inkLeft = 1 << 20;
  for (int r = 0; r < s->rows; ++r)
    for (int c = 0; c < s->cols; ++c)
      if (b.buffer[r * b.pitch + c / 8] & (0x80 >> (c % 8))) {
        s->ink[size_t(r) * s->cols + c] = 1;
        s->inkTop = r < s->inkTop ? r : s->inkTop, s->inkBottom = r > s->inkBottom ? r : s->inkBottom;
        s->inkLeft = c < s->inkLeft ? c : s->inkLeft, s->inkRight = c > s->inkRight ? c : s->inkRight;
      }
  return true;
}

int Parts(const Shape& s) { return Parts(s.ink, s.rows, s.cols); }

struct Glyph {
  uint8_t rows[kCell] = {};
  int width = 0, height = 0;  // the pixel sizes it was rendered at (the base's when composed)
};

std::vector<uint8_t> Pixels(const Glyph& g) {
  std::vector<uint8_t> ink(kCell * kCell);
  for (int y = 0; y < kCell; ++y)
    for (int x = 0; x < kCell; ++x) ink[y * kCell + x] = (g.rows[y] >> (7 - x)) & 1;
  return ink;
}

// Whether the shape's ink, on the baseline `drop` rows under the cell's,
// leaves the cell at the top or the bottom.
bool TooTall(const Shape& s, int drop) {
  const int oy = kBaseline - s.top + drop;
  return s.inkBottom >= 0 && (oy + s.inkTop < 0 || oy + s.inkBottom >= kCell);
}

// Puts the shape's ink into the cell with its baseline `drop` rows under
// the cell's and its row `inkTop` at row `top` when top >= 0; centred by
// its advance and moved inside the cell. False when it does not fit.
bool Place(const Shape& s, int drop, int top, Glyph* g) {
  if (s.inkBottom < 0) return true;
  const int oy = top >= 0 ? top - s.inkTop : kBaseline - s.top + drop;
  if (oy + s.inkTop < 0 || oy + s.inkBottom >= kCell || s.inkRight - s.inkLeft >= kCell) return false;
  int ox = (kCell - s.advance) / 2 + s.left;
  if (ox + s.inkLeft < 0) ox = -s.inkLeft;
  if (ox + s.inkRight >= kCell) ox = kCell - 1 - s.inkRight;
  for (int r = s.inkTop; r <= s.inkBottom; ++r)
    for (int c = s.inkLeft; c <= s.inkRight; ++c)
      if (s.ink[size_t(r) * s.cols + c]) g->rows[oy + r] |= static_cast<uint8_t>(0x80 >> (ox + c));
  return true;
}

int ProbeParts(FT_Face face, int code, int* holes) {
  Shape s;
  if (!Load(face, code, kProbe, kProbe, true, &s)) return -1;
  if (holes) *holes = Holes(s.ink, s.rows, s.cols);
  return Parts(s);
}

// The largest rendering that fits the cell whole with `want` parts, or,
// with want 0, with any number of parts.
bool Plain(FT_Face face, int code, int width, int height, int want, Glyph* out) {
  for (int h = height; h >= kSmallest; --h)
    for (bool hinted : {true, false})
      for (int w = width; w >= kSmallest; --w) {
        Shape s;
        Glyph g;
        g.width = w, g.height = h;
        if (!Load(face, code, w, h, hinted, &s)) continue;
        // Narrowing only mends a glyph too wide; one too tall at this height
        // would be squashed by the hinter into a bar ("(" and ")" alike).
        if (TooTall(s, 0)) break;
        if (!Place(s, 0, -1, &g)) continue;
        if (want && Parts(Pixels(g), kCell, kCell) != want) continue;
        *out = g;
        return true;
      }
  return false;
}

// The accented letter built from its base letter and mark (see the top).
bool Compose(FT_Face face, int code, int width, int height, int want, Glyph* out) {
  if (code < 192 || kBases[code - 192] == '.') return false;
  const int base = kBases[code - 192], mark = SpacingMark(kMarks[code - 192]);
  int baseHoles = 0;
  const int baseParts = ProbeParts(face, base, &baseHoles), markParts = ProbeParts(face, mark, nullptr);
  if (baseParts < 1 || markParts < 1) return false;
  const int gap = want == baseParts + markParts ? 1 : 0;  // 0 where the face joins them
  for (int h = height; h >= kSmallest; --h)
    for (bool hinted : {true, false})
      for (int w = width; w >= kSmallest; --w) {
        Shape b;
        if (!Load(face, base, w, h, hinted, &b) || Parts(b) != baseParts ||
            Holes(b.ink, b.rows, b.cols) != baseHoles)
          continue;
        for (int drop = 0; drop <= 2; ++drop) {
          Glyph under;
          if (!Place(b, drop, -1, &under)) continue;
          int baseTop = 0;
          while (!under.rows[baseTop]) ++baseTop;
          for (int mh = h; mh >= kSmallest; --mh)
              for (bool markHinted : {true, false}) {
                Shape m;
                Glyph g = under;
                if (!Load(face, mark, w * mh / h, mh, markHinted, &m) || Parts(m) != markParts) continue;
                // A mark one row high is a dot or a dash: grave, acute and
                // circumflex would differ by a pixel.
                if (kMarks[code - 192] != ':' && m.inkBottom - m.inkTop < 1) continue;
                const int markTop = baseTop - gap - (m.inkBottom - m.inkTop + 1);
                if (markTop < 0 || !Place(m, 0, markTop, &g)) continue;
                if (Parts(Pixels(g), kCell, kCell) != want) continue;
                g.width = w, g.height = h;
                *out = g;
                return true;
              }
        }
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
  int next = 0, squeezed = 0, composed = 0;
  auto put = [&](int cell, const Glyph& g) {
    for (int y = 0; y < kCell; ++y) strike[y * kCells + cell] = g.rows[y];
  };
  auto draw = [&](int cell, int code) {
    Glyph g;
    const int want = FT_Get_Char_Index(face, code) ? ProbeParts(face, code, nullptr) : -1;
    if (want < 0) {
      std::fprintf(stderr, "code %d: no glyph, drawn as the box\n", code);
      g = Box();
    } else if (want == 0) {
      // a blank
    } else if (!(Plain(face, code, width, height, want, &g) && g.height == height) &&
               Compose(face, code, width, height, want, &g)) {
      ++composed;
    } else if (!Plain(face, code, width, height, want, &g)) {
      Plain(face, code, width, height, 0, &g);
      std::fprintf(stderr, "code %d: no rendering keeps its %d parts apart\n", code, want);
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
  std::fprintf(stderr, "%d glyphs rendered smaller to fit the cell, %d composed\n", squeezed, composed);
  const char* name = std::strrchr(argv[1], '/') ? std::strrchr(argv[1], '/') + 1 : argv[1];
  std::printf("// The built-in 8-pixel font: %d cells of 8x8 pixels, one 1-bit row of\n"
              "// %d bytes per pixel row, most significant bit leftmost. Generated by\n"
              "// tools/topazgen from %s at %dx%d pixels; do not edit.\n",
              kCells, kCells, name, width, height);
  std::printf("#include \"text/fonts/bitmap_font.h\"\n\nconst uint8_t kTopazStrike[kTopazModulo * 8] = {\n");
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
