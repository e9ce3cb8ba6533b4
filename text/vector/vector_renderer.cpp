// The built-in vector engine on FreeType's outline, stroker and rasteriser.
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_STROKER_H
#include FT_SIZES_H
#include FT_BITMAP_H

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "abi/plugin_abi.h"
#include "text/fonts/engine_font.h"
#include "text/fonts/truetype_font.h"
#include "graphics/outline_fill_lines.h"
#include "graphics/outline_raster.h"
#include "text/vector/vector_engine.h"
#include "vm/convert.h"
#include "vm/error_codes.h"

namespace {

// The fonts' library, started with the inbuilt font when it was not.
FT_Library Library() {
  if (FT_Library lib = GetFreeTypeLibrary()) return lib;
  vlEngineFont* inbuilt;
  GetInbuiltFont(&inbuilt);
  return GetFreeTypeLibrary();
}

uint32_t ReadU32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

double ReadF64(const uint8_t* p) {
  double v;
  std::memcpy(&v, p, 8);
  return v;
}

// A command's bytes (0 at the end): asked once or twice a command by the
// walks below.
inline size_t CommandBytes(const uint8_t* p) {
  switch (ReadU32(p)) {
    case VL_PATH_MOVE:
    case VL_PATH_LINE: return 4 + 4 + 16;
    case VL_PATH_CURVE: return 4 + 4 + 48;
    case VL_PATH_SUBPATH:
    case VL_PATH_CLOSE: return 4;
    case VL_PATH_ARC: return 4 + 48 + 4;
    case VL_PATH_BOX: return 4 + 32 + 16;
    case VL_PATH_TEXT: {
      const char* text = reinterpret_cast<const char*>(p + 4 + sizeof(void*) + 4);
      return 4 + sizeof(void*) + 4 + PathStringBytes(std::strlen(text));
    }
    default: return 0;
  }
}

// Glyph outlines become closed contours of the stroker, through the
// builder so that a contour without length reaches it as nothing.
double From26Dot6(FT_Pos v) { return static_cast<double>(v) / 64.0; }

int GlyphMove(const FT_Vector* to, void* user) {
  auto* b = static_cast<vlOutlineBuilder*>(user);
  b->End(true);
  b->Begin(From26Dot6(to->x), From26Dot6(to->y), true);
  return 0;
}
int GlyphLine(const FT_Vector* to, void* user) {
  static_cast<vlOutlineBuilder*>(user)->LineTo(From26Dot6(to->x), From26Dot6(to->y));
  return 0;
}
int GlyphConic(const FT_Vector* c, const FT_Vector* to, void* user) {
  static_cast<vlOutlineBuilder*>(user)->ConicTo(From26Dot6(c->x), From26Dot6(c->y), From26Dot6(to->x),
                                                From26Dot6(to->y));
  return 0;
}
int GlyphCubic(const FT_Vector* c1, const FT_Vector* c2, const FT_Vector* to, void* user) {
  static_cast<vlOutlineBuilder*>(user)->CubicTo(From26Dot6(c1->x), From26Dot6(c1->y), From26Dot6(c2->x),
                                                From26Dot6(c2->y), From26Dot6(to->x), From26Dot6(to->y));
  return 0;
}

// Text through a face shared with the text engine: a size object of its
// own and no transform while the outlines load, both restored afterwards.
void AddTextToStroker(vlOutlineBuilder& b, FT_Face face, uint32_t size, const char* text) {
  b.End(false);
  if (!face || !text) return;
  // Glyph contours begin sub-paths of their own; the path's sub-path
  // start stays where the text began.
  const double startX = b.startX, startY = b.startY;
  FT_Size own, previous = face->size;
  if (FT_New_Size(face, &own)) return;
  FT_Activate_Size(own);
  FT_Matrix matrix;
  FT_Vector delta;
  FT_Get_Transform(face, &matrix, &delta);
  FT_Set_Transform(face, nullptr, nullptr);
  if (!FT_Set_Char_Size(face, 0, static_cast<FT_F26Dot6>(size) * 64, 72, 72)) {
    static const FT_Outline_Funcs kFuncs = {GlyphMove, GlyphLine, GlyphConic, GlyphCubic, 0, 0};
    const auto* p = reinterpret_cast<const uint8_t*>(text);
    while (*p) {
      uint32_t c = *p++;
      if (c >= 0x80) {
        if (!*p) break;
        c = ((c & 0x1F) << 6 | (*p++ & 0x3F)) & 0xFF;
      }
      if (FT_Load_Char(face, c, FT_LOAD_NO_BITMAP) || face->glyph->format != FT_GLYPH_FORMAT_OUTLINE) break;
      FT_Outline& o = face->glyph->outline;
      FT_Matrix flip = {0x10000, 0, 0, -0x10000};
      FT_Outline_Transform(&o, &flip);
      FT_Outline_Translate(&o, To26Dot6(b.curX), To26Dot6(b.curY));
      // The glyph's contours move the builder's point; the pen goes on from
      // where it stood.
      const double penX = b.curX, penY = b.curY;
      FT_Outline_Decompose(&o, &kFuncs, &b);
      b.End(true);
      b.curX = penX + face->glyph->advance.x / 64.0;
      b.curY = penY;
    }
  }
  FT_Set_Transform(face, &matrix, &delta);
  FT_Activate_Size(previous);
  FT_Done_Size(own);
  b.startX = startX;
  b.startY = startY;
}

FT_Stroker_LineJoin MapJoin(uint32_t join) {
  if (join == VL_JOINROUND) return FT_STROKER_LINEJOIN_ROUND;
  if (join == VL_JOINBEVEL) return FT_STROKER_LINEJOIN_BEVEL;
  return FT_STROKER_LINEJOIN_MITER_FIXED;
}

FT_Stroker_LineCap MapCap(uint32_t cap) {
  if (cap == VL_CAPROUND) return FT_STROKER_LINECAP_ROUND;
  if (cap == VL_CAPSQUARE) return FT_STROKER_LINECAP_SQUARE;
  return FT_STROKER_LINECAP_BUTT;
}

enum class Mode { Translate, Build };

// Whether the sub-path that a command at p continues or begins is ended
// by a close before anything else ends it. The answer holds for every
// command up to the one that ends the sub-path, so the walk asks once per
// sub-path, not once per segment (a long polyline would be quadratic).
struct SubPathEnd {
  const uint8_t* from = nullptr;  // the span last asked about, to the command ending it
  const uint8_t* end = nullptr;
  bool closes = false;
  bool Closes(const uint8_t* p) {
    if (end && p >= from && p <= end) return closes;
    from = p;
    closes = false;
    for (size_t bytes; (bytes = CommandBytes(p)); p += bytes) {
      const uint32_t code = ReadU32(p);
      if (code == VL_PATH_CLOSE || code == VL_PATH_MOVE || code == VL_PATH_BOX || code == VL_PATH_TEXT) {
        closes = code == VL_PATH_CLOSE;
        break;
      }
    }
    end = p;
    return closes;
  }
};

// Walks the commands. Translate moves every absolute coordinate by the
// offset in place; Build records the path in the builder's stroker.
void WalkCommands(Mode mode, uint8_t* commands, double ox, double oy, vlOutlineBuilder* b) {
  if (!commands) return;
  uint8_t* p = commands;
  SubPathEnd subPath;
  for (;;) {
    const uint32_t code = ReadU32(p);
    const size_t bytes = CommandBytes(p);
    if (!bytes) break;
    uint8_t* a = p + 4;
    auto shift = [&](uint8_t* at, double d) {
      double v = ReadF64(at) + d;
      std::memcpy(at, &v, 8);
    };
    if (mode == Mode::Translate) {
      switch (code) {
        case VL_PATH_MOVE:
        case VL_PATH_LINE:
          if (!ReadU32(a)) {
            shift(a + 4, ox);
            shift(a + 12, oy);
          }
          break;
        case VL_PATH_CURVE:
          if (!ReadU32(a))
            for (int i = 0; i < 3; ++i) {
              shift(a + 4 + 16 * i, ox);
              shift(a + 12 + 16 * i, oy);
            }
          break;
        case VL_PATH_ARC:
        case VL_PATH_BOX:
          shift(a, ox);
          shift(a + 8, oy);
          break;
        default:
          break;
      }
      p += bytes;
      continue;
    }
    auto point = [&](const uint8_t* at, bool relative, double* x, double* y) {
      *x = ReadF64(at) + (relative ? b->curX : ox);
      *y = ReadF64(at + 8) + (relative ? b->curY : oy);
    };
    switch (code) {
      case VL_PATH_MOVE: {
        double x, y;
        point(a + 4, ReadU32(a) != 0, &x, &y);
        b->End(false);
        if (ReadU32(p + bytes) != VL_PATH_TEXT) b->Begin(x, y, subPath.Closes(p + bytes));
        b->curX = b->startX = x;
        b->curY = b->startY = y;
        break;
      }
      case VL_PATH_LINE: {
        double x, y;
        point(a + 4, ReadU32(a) != 0, &x, &y);
        b->ReachOrBegin(x, y, subPath.Closes(p + bytes));
        break;
      }
      case VL_PATH_CURVE: {
        const bool rel = ReadU32(a) != 0;
        double x[3], y[3];
        // Relative points all count from the point before the curve.
        const double bx = b->curX, by = b->curY;
        for (int i = 0; i < 3; ++i) {
          x[i] = ReadF64(a + 4 + 16 * i) + (rel ? bx : ox);
          y[i] = ReadF64(a + 12 + 16 * i) + (rel ? by : oy);
        }
        if (!b->open) b->Begin(x[0], y[0], subPath.Closes(p + bytes));
        b->CubicTo(x[0], y[0], x[1], y[1], x[2], y[2]);
        break;
      }
      case VL_PATH_CLOSE:
        // The point goes back to where the sub-path began, also after text
        // or a box.
        b->End(true);
        b->curX = b->startX;
        b->curY = b->startY;
        break;
      case VL_PATH_ARC: {
        const double cx = ReadF64(a) + ox, cy = ReadF64(a + 8) + oy, rx = ReadF64(a + 16), ry = ReadF64(a + 24);
        const double start = ReadF64(a + 32), end = ReadF64(a + 40);
        double sx, sy;
        ArcStart(cx, cy, rx, ry, start, &sx, &sy);
        b->ReachOrBegin(sx, sy, subPath.Closes(p + bytes));
        AddArcToStroker(*b, cx, cy, rx, ry, start, end, ReadU32(a + 48) != 0);
        break;
      }
      case VL_PATH_BOX: {
        uint32_t levels[4];
        for (int i = 0; i < 4; ++i) levels[i] = ReadU32(a + 32 + 4 * i);
        AddBoxToOutline(*b, ReadF64(a) + ox, ReadF64(a + 8) + oy, ReadF64(a + 16), ReadF64(a + 24), levels);
        break;
      }
      case VL_PATH_TEXT: {
        void* handle;
        std::memcpy(&handle, a, sizeof handle);
        AddTextToStroker(*b, static_cast<FT_Face>(handle), ReadU32(a + sizeof handle),
                         reinterpret_cast<const char*>(a + sizeof handle + 4));
        break;
      }
      default:  // start sub-path, and codes this engine does not know
        break;
    }
    p += bytes;
  }
}

// Why the last outline could not be made: 0 (there was none to make, or
// it was made), or out of memory.
int gBuildError = 0;

// The fill outline of the path, or its stroke; false when none can be made.
// A stroke is drawn sub-path by sub-path: open ones get their caps at both
// ends, closed ones none. Beyond FreeType's outline limits the path,
// recorded on the way, is built again as several outlines.
bool BuildPathOutline(const uint8_t* commands, const vlLineStateCopy* ls, uint32_t lineWidth, double ox,
                      double oy, bool fillOnly, vlOutlineSet* out, double* curX = nullptr, double* curY = nullptr) {
  gBuildError = 0;
  vlOutlineBuilder b;
  vlOutlineJournal journal;
  b.journal = &journal;
  // About a record a command: a long path's journal is not copied over
  // and over as it grows.
  size_t commandCount = 0;
  for (const uint8_t* p = commands; p && CommandBytes(p); p += CommandBytes(p)) ++commandCount;
  try {
    journal.reserve(commandCount + 2);
  } catch (const std::bad_alloc&) {
  }
  b.fillMode = fillOnly;
  const uint32_t join = ls ? ls->join : VL_JOINMITER, cap = ls ? ls->cap : VL_CAPBUTT;
  const vlStrokeStyle style = {static_cast<FT_Fixed>(lineWidth) * 32, MapCap(cap), MapJoin(join),
                               kOutlineMiterLimit};
  // A fill is only recorded first: one of straight sides is outlined
  // without the stroker, the rest is handed to it afterwards.
  if (!fillOnly) {
    if (FT_Stroker_New(Library(), &b.stroker)) {
      gBuildError = ERR_MEM;
      return false;
    }
    FT_Stroker_Set(b.stroker, style.radius, style.cap, style.join, style.miterLimit);
  }
  WalkCommands(Mode::Build, const_cast<uint8_t*>(commands), ox, oy, &b);
  b.End(false);
  if (curX) *curX = b.curX;
  if (curY) *curY = b.curY;
  out->evenOdd = fillOnly && ls && ls->fillRule == VL_FILLRULEEVENODD;
  bool ok = false;
  if (fillOnly) {
    if (b.journalLost) {
      gBuildError = ERR_MEM;
      return false;
    }
    FT_Outline o;
    switch (FillOutlineOfLines(journal, &o)) {
      case vlFillLinesResult::kMade:
        if (out->evenOdd) o.flags |= FT_OUTLINE_EVEN_ODD_FILL;
        try {
          out->pieces.push_back(o);
          return true;
        } catch (const std::bad_alloc&) {
          FT_Outline_Done(Library(), &o);
          gBuildError = ERR_MEM;
          return false;
        }
      case vlFillLinesResult::kTooLarge:
        if (FillPieces(journal, out)) return true;
        gBuildError = ERR_MEM;
        return false;
      case vlFillLinesResult::kNoMemory:
        gBuildError = ERR_MEM;
        return false;
      case vlFillLinesResult::kNotLines:
        break;
    }
    if (FT_Stroker_New(Library(), &b.stroker)) {
      gBuildError = ERR_MEM;
      return false;
    }
    FT_Stroker_Set(b.stroker, 0, FT_STROKER_LINECAP_BUTT, FT_STROKER_LINEJOIN_ROUND, 0);
    ReplayJournal(b.stroker, journal);
  }
  if (StrokerFitsOneOutline(b.stroker, !fillOnly)) {
    FT_Outline o;
    ok = ExportBorder(b.stroker, FT_STROKER_BORDER_LEFT, &o, !fillOnly);
    if (ok) {
      if (out->evenOdd) o.flags |= FT_OUTLINE_EVEN_ODD_FILL;
      try {
        out->pieces.push_back(o);
      } catch (const std::bad_alloc&) {
        FT_Outline_Done(Library(), &o);
        ok = false;
      }
    }
  } else if (!b.journalLost) {
    ok = fillOnly ? FillPieces(journal, out) : StrokePieces(journal, style, out);
  }
  FT_Stroker_Done(b.stroker);
  if (!ok) gBuildError = ERR_MEM;
  return ok;
}

// A drawing measures its path and then renders it, and an applet draws
// the same path frame after frame: the outlines built last are kept, with
// the coverage last rendered from each once the same render comes again.
// One serves any later request for the same commands (compared byte for
// byte, so a path changed in place is built anew) built the same way (what
// a fill or a stroke depends on) under the same transform.
struct OutlineKey {
  bool fill;
  uint32_t join, cap, lineWidth;  // a stroke's
  bool evenOdd;                   // a fill's
  double ox, oy;
  vlPathTransform t;
  bool operator==(const OutlineKey& o) const {
    return fill == o.fill && join == o.join && cap == o.cap && lineWidth == o.lineWidth && evenOdd == o.evenOdd &&
           ox == o.ox && oy == o.oy && t.a == o.t.a && t.b == o.t.b && t.c == o.t.c && t.d == o.t.d;
  }
};
// The last render of a kept outline into a cleared buffer, and its
// coverage once it was rendered twice running.
struct KeptCoverage {
  bool made = false;  // bytes hold it
  bool antiAlias = false;
  int32_t originX = -1, originY = -1, width = 0, height = 0;
  std::vector<uint8_t> bytes;  // width x height
  bool Is(bool aa, int32_t x, int32_t y, int32_t w, int32_t h) const {
    return antiAlias == aa && originX == x && originY == y && width == w && height == h;
  }
};
struct KeptOutline {
  OutlineKey key;
  std::vector<uint8_t> commands;  // the path's bytes with their end mark; empty when not kept
  vlOutlineSet set;
  FT_BBox box;  // the set's control box
  KeptCoverage coverage;
};
constexpr size_t kKeptOutlines = 4;  // a fill and its edge ring, and another path or two
// The bytes one entry may hold (its commands, its outline and then its
// coverage): beyond them a path is drawn without keeping it.
constexpr size_t kMostKept = size_t{4} << 20;
// Never destroyed: the outlines belong to a library torn down at exit.
auto& gKept = *new std::vector<std::unique_ptr<KeptOutline>>;  // the last used last

OutlineKey Key(const vlLineStateCopy* ls, uint32_t lineWidth, double ox, double oy, bool fill,
               const vlPathTransform* t) {
  OutlineKey k{fill, 0, 0, 0, false, ox, oy, {1, 0, 0, 1}};
  if (fill) {
    k.evenOdd = ls && ls->fillRule == VL_FILLRULEEVENODD;
  } else {
    k.join = ls ? ls->join : VL_JOINMITER;
    k.cap = ls ? ls->cap : VL_CAPBUTT;
    k.lineWidth = lineWidth;
  }
  if (t) k.t = *t;
  return k;
}

// The commands' bytes up to and with their end mark; 0 when they hold
// text, whose glyphs depend on a face the bytes only point to.
size_t KeptCommandBytes(const uint8_t* commands) {
  const uint8_t* p = commands;
  for (size_t bytes; (bytes = CommandBytes(p)); p += bytes)
    if (ReadU32(p) == VL_PATH_TEXT) return 0;
  return static_cast<size_t>(p - commands) + 4;
}

size_t OutlineBytes(const vlOutlineSet& set) {
  size_t n = 0;
  for (const FT_Outline& o : set.pieces) n += static_cast<size_t>(o.n_points) * (sizeof(FT_Vector) + 1);
  return n;
}

// The transformed outline of the path: a kept one, or one built now (and
// kept when it is small enough and holds no text; owned by *made when
// not). Null when none can be made.
KeptOutline* TransformedOutline(const uint8_t* commands, const vlLineStateCopy* ls, uint32_t lineWidth, double ox,
                                double oy, bool fill, const vlPathTransform* t, std::unique_ptr<KeptOutline>* made) {
  const OutlineKey key = Key(ls, lineWidth, ox, oy, fill, t);
  const size_t bytes = commands ? KeptCommandBytes(commands) : 0;
  for (auto it = gKept.begin(); bytes && it != gKept.end(); ++it) {
    KeptOutline& k = **it;
    if (!(k.key == key) || k.commands.size() != bytes || std::memcmp(k.commands.data(), commands, bytes) != 0)
      continue;
    gBuildError = 0;
    std::rotate(it, it + 1, gKept.end());
    return gKept.back().get();
  }
  try {
    *made = std::make_unique<KeptOutline>();
  } catch (const std::bad_alloc&) {
    gBuildError = ERR_MEM;
    return nullptr;
  }
  KeptOutline& k = **made;
  k.key = key;
  if (!BuildPathOutline(commands, ls, lineWidth, ox, oy, fill, &k.set)) {
    made->reset();
    return nullptr;
  }
  for (FT_Outline& piece : k.set.pieces) ApplyTransform(&piece, t);
  k.box = k.set.ControlBox();
  if (bytes == 0 || bytes > kMostKept || OutlineBytes(k.set) > kMostKept - bytes) return made->get();
  try {
    k.commands.assign(commands, commands + bytes);
    if (gKept.size() >= kKeptOutlines) gKept.erase(gKept.begin());
    gKept.push_back(std::move(*made));
  } catch (const std::bad_alloc&) {
    return made->get();  // drawn, not kept
  }
  return gKept.back().get();
}

// Renders the outline's coverage with the box's corner at x0, y0 into the
// cleared buffer, or copies what the same render gave before.
bool RenderKept(KeptOutline* k, FT_Pos x0, FT_Pos y0, bool aa, uint8_t* buffer, int32_t rowBytes, int32_t width,
                int32_t height, int32_t originX, int32_t originY) {
  if (!buffer || width <= 0 || height <= 0 || rowBytes < width) return false;
  KeptCoverage& c = k->coverage;
  const auto row = [](uint8_t* at, int32_t rowLength, int32_t y) { return at + static_cast<size_t>(y) * rowLength; };
  const bool again = c.Is(aa, originX, originY, width, height);
  if (again && c.made) {
    for (int32_t y = 0; y < height; ++y) std::memcpy(row(buffer, rowBytes, y), row(c.bytes.data(), width, y), width);
    return true;
  }
  vlOutlineSet& o = k->set;
  bool ok;
  if (o.pieces.size() == 1) {
    // The render moves the outline to the buffer and chooses its mode:
    // both are put back for the next.
    FT_Outline& piece = o.pieces[0];
    const int flags = piece.flags;
    ok = RenderCoverage(&piece, x0, y0, aa, buffer, rowBytes, width, height);
    FT_Outline_Translate(&piece, x0, y0);
    piece.flags = flags;
  } else {
    ok = RenderPieces(o, x0, y0, aa, buffer, rowBytes, width, height);
  }
  // Kept when the same render comes twice running: a path drawn once, or
  // each time through another window, costs no copy.
  c.made = false;
  c.antiAlias = aa;
  c.originX = originX;
  c.originY = originY;
  c.width = width;
  c.height = height;
  if (!ok || !again || k->commands.empty()) return ok;
  const size_t size = static_cast<size_t>(width) * static_cast<size_t>(height);
  if (size > kMostKept - k->commands.size() - OutlineBytes(o)) return ok;
  try {
    c.bytes.resize(size);
  } catch (const std::bad_alloc&) {
    return ok;
  }
  for (int32_t y = 0; y < height; ++y) std::memcpy(row(c.bytes.data(), width, y), row(buffer, rowBytes, y), width);
  c.made = true;
  return ok;
}

}  // namespace

void ForgetKeptOutlines() { gKept.clear(); }

size_t PathCommandBytes(const uint8_t* p) { return CommandBytes(p); }

void GetPathExtents(vlPathExtentsRequest* r) {
  if (!r) return;
  std::unique_ptr<KeptOutline> made;
  const KeptOutline* o =
      TransformedOutline(r->commands, r->lineState, r->lineWidth, r->x, r->y, r->fill != 0, r->transform, &made);
  if (!o) return;
  const FT_BBox& box = o->box;
  r->x1 = box.xMin / 64.0;
  r->y1 = box.yMin / 64.0;
  r->x2 = box.xMax / 64.0;
  r->y2 = box.yMax / 64.0;
}

int DrawPath(vlPathDrawRequest* r) { return DrawPathFrom(r, 0, 0); }

int DrawPathFrom(vlPathDrawRequest* r, int32_t originX, int32_t originY) {
  if (!r) return 0;
  std::unique_ptr<KeptOutline> made;
  KeptOutline* o =
      TransformedOutline(r->commands, r->lineState, r->lineWidth, -r->x, -r->y, r->fill != 0, r->transform, &made);
  if (!o) return 0;
  const FT_BBox box = o->box;
  const bool aa = r->lineState && r->lineState->antiAlias;
  // The buffer starts at the whole pixel of the box's corner: the outline
  // keeps its place inside that pixel.
  const FT_Pos x0 = (box.xMin & ~FT_Pos{63}) + FT_Pos{originX} * 64;
  const FT_Pos y0 = (box.yMin & ~FT_Pos{63}) + FT_Pos{originY} * 64;
  return RenderKept(o, x0, y0, aa, r->coverage, r->rowBytes, r->width, r->height, originX, originY) ? 1 : 0;
}

void TranslatePath(vlPathTranslateRequest* r) {
  if (r) WalkCommands(Mode::Translate, r->commands, r->dx, r->dy, nullptr);
}

void GetCurrentPoint(const uint8_t* commands, const vlLineStateCopy* ls, double* x, double* y) {
  vlOutlineSet o;
  double cx = 0, cy = 0;
  BuildPathOutline(commands, ls, 0, 0, 0, true, &o, &cx, &cy);
  *x = cx;
  *y = cy;
}

int BuiltinPathBuildError() { return gBuildError; }

void* CreateVectorFont(void* face) { return face; }

void FreeVectorFont(void*) {}

void* OpenVectorFaceFromMemory(const void* data, size_t size) {
  FT_Face face;
  if (!data || FT_New_Memory_Face(Library(), static_cast<const FT_Byte*>(data), static_cast<FT_Long>(size), 0, &face))
    return nullptr;
  return face;
}

void CloseVectorFace(void* handle) {
  if (handle) FT_Done_Face(static_cast<FT_Face>(handle));
}

void FillBuiltinVectorEngine(vlPluginInfo* info) {
  info->capabilities |= PLUGINCAPS_VECTOR;
  int bit = 0;
  while (!(PLUGINCAPS_VECTOR & (1u << bit))) ++bit;
  info->extensions[bit] |= 1;  // takes position and transform in the newer draw layout
  info->GetPathExtents = GetPathExtents;
  info->DrawPath = DrawPath;
  info->TranslatePath = TranslatePath;
  info->GetCurrentPoint = GetCurrentPoint;
  info->CreateVectorFont = CreateVectorFont;
  info->FreeVectorFont = FreeVectorFont;
  info->OpenFont = OpenVectorFaceFromMemory;
  info->CloseFont = CloseVectorFace;
}
