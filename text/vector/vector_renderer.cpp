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
#include <vector>

#include "abi/plugin_abi.h"
#include "text/fonts/engine_font.h"
#include "text/fonts/truetype_font.h"
#include "text/vector/vector_engine.h"
#include "vm/convert.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr FT_Fixed kMiterLimit = 0x10000000;

FT_Library Library() {
  if (FT_Library lib = GetFreeTypeLibrary()) return lib;
  vlEngineFont* inbuilt;
  GetInbuiltFont(&inbuilt);
  return GetFreeTypeLibrary();
}

FT_Pos To26Dot6(double v) {
  const int64_t p = vl::DoubleToInt64(v * 64.0);
  return static_cast<FT_Pos>(p == INT64_MIN ? 0 : p);
}

FT_Fixed To16Dot16(double v) { return vl::DoubleToInt32(v * 65536.0); }

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

// The outline under construction: the stroker records the path, and the
// walk keeps the current point and whether a sub-path is open.
struct Builder {
  FT_Stroker stroker = nullptr;
  double curX = 0, curY = 0;
  double startX = 0, startY = 0;
  bool open = false;
  bool fillMode = false;  // a fill closes every sub-path, as an area has no open ends
  // FreeType's stroker fails on a sub-path without segments (a lone move),
  // so the sub-path reaches it with its first segment.
  bool begun = false;
  bool opensOpen = false;

  FT_Vector Point(double x, double y) { return {To26Dot6(x), To26Dot6(y)}; }
  // FreeType wants to know at the start whether the sub-path will close.
  void Begin(double x, double y, bool closes) {
    opensOpen = !(closes || fillMode);
    begun = false;
    open = true;
    startX = curX = x;
    startY = curY = y;
  }
  void Flush() {
    if (begun) return;
    FT_Vector v = Point(startX, startY);
    FT_Stroker_BeginSubPath(stroker, &v, opensOpen);
    begun = true;
  }
  void End(bool closed) {
    if (!open) return;
    open = false;
    if (!begun) return;
    closed = closed || fillMode;
    if (closed) {
      // Closing draws the side back to the start, as a path does.
      FT_Vector v = Point(startX, startY);
      if (curX != startX || curY != startY) FT_Stroker_LineTo(stroker, &v);
    }
    FT_Stroker_EndSubPath(stroker);
    begun = false;
  }
  void LineTo(double x, double y) {
    FT_Vector v = Point(x, y);
    if (To26Dot6(x) != To26Dot6(curX) || To26Dot6(y) != To26Dot6(curY)) {
      Flush();
      FT_Stroker_LineTo(stroker, &v);
    }
    curX = x;
    curY = y;
  }
  void CubicTo(double x1, double y1, double x2, double y2, double x3, double y3) {
    FT_Vector a = Point(x1, y1), b = Point(x2, y2), c = Point(x3, y3);
    Flush();
    FT_Stroker_CubicTo(stroker, &a, &b, &c);
    curX = x3;
    curY = y3;
  }
  // Joins the current point to (x, y), or begins a sub-path there.
  void ReachOrBegin(double x, double y, bool closes) {
    if (open) LineTo(x, y);
    else Begin(x, y, closes);
  }
};

// One cubic piece of at most pi radians.
void ArcPiece(Builder& b, double cx, double cy, double rx, double ry, double a, double e) {
  const double sweep = e - a;
  if (a == e) return;
  const double h = 4.0 / 3.0 * std::tan(sweep / 4.0);
  b.CubicTo(cx + rx * (std::cos(a) - h * std::sin(a)), cy + ry * (std::sin(a) + h * std::cos(a)),
            cx + rx * (std::cos(e) + h * std::sin(e)), cy + ry * (std::sin(e) - h * std::cos(e)),
            cx + rx * std::cos(e), cy + ry * std::sin(e));
}

void ArcSweep(Builder& b, double cx, double cy, double rx, double ry, double a, double e) {
  if (std::fabs(e - a) > kPi) {
    const double mid = (a + e) / 2.0;
    ArcSweep(b, cx, cy, rx, ry, a, mid);
    ArcSweep(b, cx, cy, rx, ry, mid, e);
    return;
  }
  ArcPiece(b, cx, cy, rx, ry, a, e);
}

// Angles in degrees; the builder already stands at the arc's start point.
void AddArcToStroker(Builder& b, double cx, double cy, double rx, double ry, double start, double end,
                     bool clockwise) {
  double a = start * kPi / 180.0, e = end * kPi / 180.0;
  if (!std::isfinite(a) || !std::isfinite(e) || a == e) return;
  // Far-off angles would take millions of steps to bring near.
  if (std::fabs(e - a) > 1e6) return;
  if (clockwise) {
    while (e < a) e += 2 * kPi;
  } else {
    while (e > a) e -= 2 * kPi;
  }
  while (std::fabs(e - a) >= 4 * kPi) e += (e > a ? -2 : 2) * kPi;
  ArcSweep(b, cx, cy, rx, ry, a, e);
}

void ArcStart(double cx, double cy, double rx, double ry, double start, double* x, double* y) {
  const double a = start * kPi / 180.0;
  *x = cx + rx * std::cos(a);
  *y = cy + ry * std::sin(a);
}

// Corners a top-left, b bottom-left, c bottom-right, d top-right; levels
// 0..100 of half the shorter side.
void AddBoxToOutline(Builder& b, double x, double y, double width, double height, const uint32_t levels[4]) {
  const double w = std::round(width), h = std::round(height);
  const double base = std::min(w, h) / 2.0;
  double r[4];
  for (int i = 0; i < 4; ++i) r[i] = std::min<uint32_t>(levels[i], 100) / 100.0 * base;
  const double x1 = x, y1 = y, x2 = x + w, y2 = y + h;
  b.End(false);
  b.Begin(x1 + r[0], y1, true);
  if (r[0] > 0) AddArcToStroker(b, x1 + r[0], y1 + r[0], r[0], r[0], 270, 180, false);
  b.LineTo(x1, y2 - r[1]);
  if (r[1] > 0) AddArcToStroker(b, x1 + r[1], y2 - r[1], r[1], r[1], 180, 90, false);
  b.LineTo(x2 - r[2], y2);
  if (r[2] > 0) AddArcToStroker(b, x2 - r[2], y2 - r[2], r[2], r[2], 90, 0, false);
  b.LineTo(x2, y1 + r[3]);
  if (r[3] > 0) AddArcToStroker(b, x2 - r[3], y1 + r[3], r[3], r[3], 360, 270, false);
  b.LineTo(x2 - r[3], y1);
  const double sx = x1 + r[0], sy = y1;
  b.End(true);
  b.curX = sx;
  b.curY = sy;
}

// Glyph outlines become closed contours of the stroker.
struct GlyphSink {
  Builder* b;
  bool started;
};

int GlyphMove(const FT_Vector* to, void* user) {
  auto* s = static_cast<GlyphSink*>(user);
  if (s->started) FT_Stroker_EndSubPath(s->b->stroker);
  FT_Stroker_BeginSubPath(s->b->stroker, const_cast<FT_Vector*>(to), 0);
  s->started = true;
  return 0;
}
int GlyphLine(const FT_Vector* to, void* user) {
  return FT_Stroker_LineTo(static_cast<GlyphSink*>(user)->b->stroker, const_cast<FT_Vector*>(to));
}
int GlyphConic(const FT_Vector* c, const FT_Vector* to, void* user) {
  return FT_Stroker_ConicTo(static_cast<GlyphSink*>(user)->b->stroker, const_cast<FT_Vector*>(c),
                            const_cast<FT_Vector*>(to));
}
int GlyphCubic(const FT_Vector* c1, const FT_Vector* c2, const FT_Vector* to, void* user) {
  return FT_Stroker_CubicTo(static_cast<GlyphSink*>(user)->b->stroker, const_cast<FT_Vector*>(c1),
                            const_cast<FT_Vector*>(c2), const_cast<FT_Vector*>(to));
}

// Text through a face shared with the text engine: a size object of its
// own and no transform while the outlines load, both restored afterwards.
void AddTextToStroker(Builder& b, FT_Face face, uint32_t size, const char* text) {
  b.End(false);
  if (!face || !text) return;
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
      GlyphSink sink{&b, false};
      FT_Outline_Decompose(&o, &kFuncs, &sink);
      if (sink.started) FT_Stroker_EndSubPath(b.stroker);
      b.curX += face->glyph->advance.x / 64.0;
    }
  }
  FT_Set_Transform(face, &matrix, &delta);
  FT_Activate_Size(previous);
  FT_Done_Size(own);
}

bool ExportBorder(FT_Stroker stroker, FT_StrokerBorder border, FT_Outline* out, bool both) {
  FT_UInt points = 0, contours = 0;
  if (both) FT_Stroker_GetCounts(stroker, &points, &contours);
  else FT_Stroker_GetBorderCounts(stroker, border, &points, &contours);
  if (FT_Outline_New(Library(), points, static_cast<FT_Int>(contours), out)) return false;
  out->n_points = 0;
  out->n_contours = 0;
  if (both) FT_Stroker_Export(stroker, out);
  else FT_Stroker_ExportBorder(stroker, border, out);
  return true;
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

// Strokes an outline in place of itself; false leaves it untouched.
bool StrokeOutline(FT_Outline* outline, FT_Fixed radius, FT_Stroker_LineCap cap, FT_Stroker_LineJoin join,
                   bool opened) {
  FT_Stroker stroker;
  if (FT_Stroker_New(Library(), &stroker)) return false;
  FT_Stroker_Set(stroker, radius, cap, join, kMiterLimit);
  FT_Outline stroke;
  bool ok = FT_Stroker_ParseOutline(stroker, outline, opened) == 0 &&
            ExportBorder(stroker, FT_STROKER_BORDER_LEFT, &stroke, true);
  FT_Stroker_Done(stroker);
  if (!ok) return false;
  FT_Outline_Done(Library(), outline);
  *outline = stroke;
  return true;
}

enum class Mode { Translate, Build };

// True when the sub-path that a command at p continues or begins is ended
// by a close before anything else ends it.
bool SubPathCloses(const uint8_t* p) {
  for (size_t bytes; (bytes = PathCommandBytes(p)); p += bytes) {
    switch (ReadU32(p)) {
      case VL_PATH_CLOSE: return true;
      case VL_PATH_MOVE:
      case VL_PATH_BOX:
      case VL_PATH_TEXT: return false;
      default: break;
    }
  }
  return false;
}

// Walks the commands. Translate moves every absolute coordinate by the
// offset in place; Build records the path in the builder's stroker.
void WalkCommands(Mode mode, uint8_t* commands, double ox, double oy, Builder* b) {
  if (!commands) return;
  uint8_t* p = commands;
  for (;;) {
    const uint32_t code = ReadU32(p);
    const size_t bytes = PathCommandBytes(p);
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
        if (ReadU32(p + bytes) != VL_PATH_TEXT) b->Begin(x, y, SubPathCloses(p + bytes));
        b->curX = b->startX = x;
        b->curY = b->startY = y;
        break;
      }
      case VL_PATH_LINE: {
        double x, y;
        point(a + 4, ReadU32(a) != 0, &x, &y);
        b->ReachOrBegin(x, y, SubPathCloses(p + bytes));
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
        if (!b->open) b->Begin(x[0], y[0], SubPathCloses(p + bytes));
        b->CubicTo(x[0], y[0], x[1], y[1], x[2], y[2]);
        break;
      }
      case VL_PATH_CLOSE:
        if (b->open) {
          b->End(true);
          b->curX = b->startX;
          b->curY = b->startY;
        }
        break;
      case VL_PATH_ARC: {
        const double cx = ReadF64(a) + ox, cy = ReadF64(a + 8) + oy, rx = ReadF64(a + 16), ry = ReadF64(a + 24);
        const double start = ReadF64(a + 32), end = ReadF64(a + 40);
        double sx, sy;
        ArcStart(cx, cy, rx, ry, start, &sx, &sy);
        b->ReachOrBegin(sx, sy, SubPathCloses(p + bytes));
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

// The fill outline of the path, or its stroke; false when none can be made.
// A stroke is drawn sub-path by sub-path: open ones get their caps at both
// ends, closed ones none.
bool BuildPathOutline(const uint8_t* commands, const vlLineStateCopy* ls, uint32_t lineWidth, double ox,
                      double oy, bool fillOnly, FT_Outline* out, double* curX = nullptr, double* curY = nullptr) {
  Builder b;
  if (FT_Stroker_New(Library(), &b.stroker)) return false;
  b.fillMode = fillOnly;
  if (fillOnly) {
    FT_Stroker_Set(b.stroker, 0, FT_STROKER_LINECAP_BUTT, FT_STROKER_LINEJOIN_ROUND, 0);
  } else {
    const uint32_t join = ls ? ls->join : VL_JOINMITER, cap = ls ? ls->cap : VL_CAPBUTT;
    FT_Stroker_Set(b.stroker, static_cast<FT_Fixed>(lineWidth) * 32, MapCap(cap), MapJoin(join), kMiterLimit);
  }
  WalkCommands(Mode::Build, const_cast<uint8_t*>(commands), ox, oy, &b);
  b.End(false);
  if (curX) *curX = b.curX;
  if (curY) *curY = b.curY;
  bool ok = ExportBorder(b.stroker, FT_STROKER_BORDER_LEFT, out, !fillOnly);
  FT_Stroker_Done(b.stroker);
  if (!ok) return false;
  if (fillOnly && ls && ls->fillRule == VL_FILLRULEEVENODD) out->flags |= FT_OUTLINE_EVEN_ODD_FILL;
  return true;
}

bool IsIdentity(const vlPathTransform* t) { return !t || (t->a == 1 && t->b == 0 && t->c == 0 && t->d == 1); }

void ApplyTransform(FT_Outline* o, const vlPathTransform* t) {
  if (IsIdentity(t)) return;
  FT_Matrix m = {To16Dot16(t->a), To16Dot16(t->c), To16Dot16(t->b), To16Dot16(t->d)};
  FT_Outline_Transform(o, &m);
}

// Renders the outline, moved to start at (0, 0) from the given corner,
// into width x height bytes of coverage with rows top-down.
bool RenderCoverage(FT_Outline* o, FT_Pos originX, FT_Pos originY, bool antiAlias, uint8_t* buffer,
                    int32_t rowBytes, int32_t width, int32_t height) {
  if (!buffer || width <= 0 || height <= 0 || rowBytes < width) return false;
  FT_Outline_Translate(o, -originX, -originY);
  FT_Bitmap bm;
  FT_Bitmap_Init(&bm);
  bm.rows = static_cast<unsigned>(height);
  bm.width = static_cast<unsigned>(width);
  if (antiAlias) {
    bm.pitch = -rowBytes;  // y grows downward: the first row is FreeType's bottom
    bm.buffer = buffer;
    bm.pixel_mode = FT_PIXEL_MODE_GRAY;
    bm.num_grays = 256;
    return FT_Outline_Get_Bitmap(Library(), o, &bm) == 0;
  }
  const int32_t monoRow = ((width + 15) >> 3) & ~1;
  std::vector<uint8_t> mono(static_cast<size_t>(monoRow) * height);
  bm.pitch = -monoRow;
  bm.buffer = mono.data();
  bm.pixel_mode = FT_PIXEL_MODE_MONO;
  bm.num_grays = 2;
  if (FT_Outline_Get_Bitmap(Library(), o, &bm)) return false;
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x)
      buffer[static_cast<size_t>(y) * rowBytes + x] = (mono[size_t(y) * monoRow + x / 8] & (0x80 >> (x & 7))) ? 255 : 0;
  return true;
}

}  // namespace

size_t PathCommandBytes(const uint8_t* p) {
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

void GetPathExtents(vlPathExtentsRequest* r) {
  FT_Outline o;
  if (!r || !BuildPathOutline(r->commands, r->lineState, r->lineWidth, r->x, r->y, r->fill != 0, &o)) return;
  ApplyTransform(&o, r->transform);
  FT_BBox box;
  FT_Outline_Get_CBox(&o, &box);
  r->x1 = box.xMin / 64.0;
  r->y1 = box.yMin / 64.0;
  r->x2 = box.xMax / 64.0;
  r->y2 = box.yMax / 64.0;
  FT_Outline_Done(Library(), &o);
}

int DrawPath(vlPathDrawRequest* r) {
  FT_Outline o;
  if (!r || !BuildPathOutline(r->commands, r->lineState, r->lineWidth, -r->x, -r->y, r->fill != 0, &o)) return 0;
  ApplyTransform(&o, r->transform);
  FT_BBox box;
  FT_Outline_Get_CBox(&o, &box);
  const bool aa = r->lineState && r->lineState->antiAlias;
  // The buffer starts at the whole pixel of the box's corner: the outline
  // keeps its place inside that pixel.
  bool ok = RenderCoverage(&o, box.xMin & ~FT_Pos{63}, box.yMin & ~FT_Pos{63}, aa, r->coverage, r->rowBytes,
                           r->width, r->height);
  FT_Outline_Done(Library(), &o);
  return ok ? 1 : 0;
}

void TranslatePath(vlPathTranslateRequest* r) {
  if (r) WalkCommands(Mode::Translate, r->commands, r->dx, r->dy, nullptr);
}

void GetCurrentPoint(const uint8_t* commands, const vlLineStateCopy* ls, double* x, double* y) {
  FT_Outline o;
  double cx = 0, cy = 0;
  if (BuildPathOutline(commands, ls, 0, 0, 0, true, &o, &cx, &cy)) FT_Outline_Done(Library(), &o);
  *x = cx;
  *y = cy;
}

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

int RasterizeArcOutline(vlShapeOutline* s) {
  const double rx = s->rx + s->sizeExtra, ry = s->ry + s->sizeExtra;
  const double width = s->width + 2 * s->sizeExtra, height = s->height + 2 * s->sizeExtra;
  double start = s->start, end = s->end;
  bool clockwise = s->clockwise != 0;
  const bool full = start == 0 && end == 360;
  if (s->kind == 31 && (clockwise ? start < end : start > end)) {
    std::swap(start, end);
    clockwise = !clockwise;
  }
  auto build = [&](bool wholeEllipse, FT_Outline* out) {
    Builder b;
    if (FT_Stroker_New(Library(), &b.stroker)) return false;
    FT_Stroker_Set(b.stroker, 0, FT_STROKER_LINECAP_BUTT, FT_STROKER_LINEJOIN_ROUND, 0);
    if (s->kind == 14) {
      uint32_t levels[4];
      for (int i = 0; i < 4; ++i) levels[i] = static_cast<uint32_t>(std::clamp(s->corners[i], 0, 100));
      AddBoxToOutline(b, 0, 0, width, height, levels);
    } else {
      double sx, sy;
      const bool pie = !wholeEllipse && !full;
      const double a = wholeEllipse ? 0 : start, e = wholeEllipse ? 360 : end;
      ArcStart(rx, ry, rx, ry, a, &sx, &sy);
      if (pie) {
        b.Begin(rx, ry, true);
        b.LineTo(sx, sy);
      } else {
        b.Begin(sx, sy, true);
      }
      AddArcToStroker(b, rx, ry, rx, ry, a, e, wholeEllipse ? true : clockwise);
      b.End(true);
    }
    bool ok = ExportBorder(b.stroker, FT_STROKER_BORDER_LEFT, out, false);
    FT_Stroker_Done(b.stroker);
    if (!ok) return false;
    if (s->fill) {
      ApplyTransform(out, s->transform);
    } else {
      if (!StrokeOutline(out, To26Dot6(s->lineWidth / 2.0), FT_STROKER_LINECAP_ROUND, FT_STROKER_LINEJOIN_ROUND,
                         false)) {
        FT_Outline_Done(Library(), out);
        return false;
      }
      ApplyTransform(out, s->transform);
    }
    return true;
  };
  FT_Outline o;
  if (!build(false, &o)) return 0;
  FT_BBox box;
  FT_Outline_Get_CBox(&o, &box);
  if (s->kind == 31 && !full) {
    // Placed where the arc lies on its whole ellipse.
    FT_Outline whole;
    if (build(true, &whole)) {
      FT_Outline_Get_CBox(&whole, &box);
      FT_Outline_Done(Library(), &whole);
    }
  }
  const FT_Pos x0 = static_cast<FT_Pos>(std::floor(box.xMin / 64.0)) * 64;
  const FT_Pos y0 = static_cast<FT_Pos>(std::floor(box.yMin / 64.0)) * 64;
  int ok = 1;
  if (s->coverage) {
    ok = RenderCoverage(&o, x0, y0, true, s->coverage, s->rowBytes, s->outWidth, s->outHeight) ? 1 : 0;
  } else {
    s->outWidth = static_cast<int32_t>((box.xMax + 63) / 64 - x0 / 64);
    s->outHeight = static_cast<int32_t>((box.yMax + 63) / 64 - y0 / 64);
  }
  FT_Outline_Done(Library(), &o);
  return ok;
}

void FillBuiltinVectorEngine(vlPluginInfo* info) {
  info->capabilities |= PLUGINCAPS_VECTOR;
  int bit = 0;
  while (!(PLUGINCAPS_VECTOR & (1u << bit))) ++bit;
  info->extensions[bit] |= 1;  // takes position and transform in the newer draw layout
  info->GetPathExtents = reinterpret_cast<vlPluginEntry>(GetPathExtents);
  info->DrawPath = reinterpret_cast<vlPluginEntry>(DrawPath);
  info->TranslatePath = reinterpret_cast<vlPluginEntry>(TranslatePath);
  info->GetCurrentPoint = reinterpret_cast<vlPluginEntry>(GetCurrentPoint);
  info->CreateVectorFont = reinterpret_cast<vlPluginEntry>(CreateVectorFont);
  info->FreeVectorFont = reinterpret_cast<vlPluginEntry>(FreeVectorFont);
  info->OpenFont = reinterpret_cast<vlPluginEntry>(OpenVectorFaceFromMemory);
  info->CloseFont = reinterpret_cast<vlPluginEntry>(CloseVectorFace);
}
