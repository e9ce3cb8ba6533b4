// FreeType outlines for vector drawing: the builder over FreeType's
// stroker, arcs and rounded boxes, stroking, transforming and rendering
// into coverage, and the anti-aliased shapes of the draw library. Depends
// on FreeType and the number conversions of the VM.
#include "graphics/outline_raster.h"

#include FT_BITMAP_H
#include FT_MODULE_H

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "graphics/outline_clip.h"
#include "graphics/outline_grey.h"
#include "graphics/outline_mono.h"
#include "graphics/outline_scanline.h"
#include "vm/convert.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

FT_Library gLibrary = nullptr;

// Cells past which a fill goes to the player's own scanline fill, whose
// time grows with the cells and the picture: FreeType's would take 80 ms
// here and a minute for a few hundred long sides across a tall picture.
// Circles up to 20,000 pixels across stay with FreeType.
constexpr double kFreeTypeCells = 1 << 17;

FT_Fixed To16Dot16(double v) { return vl::DoubleToInt32(v * 65536.0); }

bool IsIdentity(const vlPathTransform* t) { return !t || (t->a == 1 && t->b == 0 && t->c == 0 && t->d == 1); }

// One cubic piece of at most pi radians.
void ArcPiece(vlOutlineBuilder& b, double cx, double cy, double rx, double ry, double a, double e) {
  const double sweep = e - a;
  if (a == e) return;
  const double h = 4.0 / 3.0 * std::tan(sweep / 4.0);
  b.CubicTo(cx + rx * (std::cos(a) - h * std::sin(a)), cy + ry * (std::sin(a) + h * std::cos(a)),
            cx + rx * (std::cos(e) + h * std::sin(e)), cy + ry * (std::sin(e) - h * std::cos(e)),
            cx + rx * std::cos(e), cy + ry * std::sin(e));
}

void ArcSweep(vlOutlineBuilder& b, double cx, double cy, double rx, double ry, double a, double e) {
  if (std::fabs(e - a) > kPi) {
    const double mid = (a + e) / 2.0;
    ArcSweep(b, cx, cy, rx, ry, a, mid);
    ArcSweep(b, cx, cy, rx, ry, mid, e);
    return;
  }
  ArcPiece(b, cx, cy, rx, ry, a, e);
}

}  // namespace

namespace {

// FreeType takes sizes it reads from a font file on trust (a Type 1
// segment may claim 4 GB in a 40-byte file): no single block past this is
// granted, and the face fails to open with FreeType's out-of-memory error.
constexpr long kLargestFreeTypeBlock = 256L << 20;

void* FreeTypeAlloc(FT_Memory, long size) {
  return size > 0 && size <= kLargestFreeTypeBlock ? std::malloc(static_cast<size_t>(size)) : nullptr;
}

void* FreeTypeRealloc(FT_Memory, long, long size, void* block) {
  return size > 0 && size <= kLargestFreeTypeBlock ? std::realloc(block, static_cast<size_t>(size)) : nullptr;
}

void FreeTypeFree(FT_Memory, void* block) { std::free(block); }

FT_MemoryRec_ gFreeTypeMemory{nullptr, FreeTypeAlloc, FreeTypeFree, FreeTypeRealloc};

}  // namespace

int InitFreeType() {
  if (gLibrary) return 0;
  if (FT_New_Library(&gFreeTypeMemory, &gLibrary)) {
    gLibrary = nullptr;
    return 1386;
  }
  FT_Add_Default_Modules(gLibrary);
  FT_Set_Default_Properties(gLibrary);
  return 0;
}

void DoneFreeType() {
  if (gLibrary) FT_Done_Library(gLibrary);
  gLibrary = nullptr;
}

FT_Library GetFreeTypeLibrary() { return gLibrary; }

FT_Library OutlineLibrary() {
  InitFreeType();
  return gLibrary;
}

// Angles in degrees; the builder already stands at the arc's start point.
void AddArcToStroker(vlOutlineBuilder& b, double cx, double cy, double rx, double ry, double start, double end,
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
void AddBoxToOutline(vlOutlineBuilder& b, double x, double y, double width, double height, const uint32_t levels[4]) {
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

bool ExportBorder(FT_Stroker stroker, FT_StrokerBorder border, FT_Outline* out, bool both) {
  FT_UInt points = 0, contours = 0;
  if (both) FT_Stroker_GetCounts(stroker, &points, &contours);
  else FT_Stroker_GetBorderCounts(stroker, border, &points, &contours);
  if (FT_Outline_New(OutlineLibrary(), points, static_cast<FT_Int>(contours), out)) return false;
  out->n_points = 0;
  out->n_contours = 0;
  if (both) FT_Stroker_Export(stroker, out);
  else FT_Stroker_ExportBorder(stroker, border, out);
  return true;
}

// Strokes an outline in place of itself; false leaves it untouched.
bool StrokeOutline(FT_Outline* outline, FT_Fixed radius, FT_Stroker_LineCap cap, FT_Stroker_LineJoin join,
                   bool opened) {
  FT_Stroker stroker;
  if (FT_Stroker_New(OutlineLibrary(), &stroker)) return false;
  FT_Stroker_Set(stroker, radius, cap, join, kOutlineMiterLimit);
  FT_Outline stroke;
  bool ok = FT_Stroker_ParseOutline(stroker, outline, opened) == 0 &&
            ExportBorder(stroker, FT_STROKER_BORDER_LEFT, &stroke, true);
  FT_Stroker_Done(stroker);
  if (!ok) return false;
  FT_Outline_Done(OutlineLibrary(), outline);
  *outline = stroke;
  return true;
}

void ApplyTransform(FT_Outline* o, const vlPathTransform* t) {
  if (IsIdentity(t)) return;
  FT_Matrix m = {To16Dot16(t->a), To16Dot16(t->c), To16Dot16(t->b), To16Dot16(t->d)};
  FT_Outline_Transform(o, &m);
}

bool FreeTypeGreyCoverage(FT_Outline* o, uint8_t* buffer, int32_t rowBytes, int32_t width, int32_t height) {
  FT_Bitmap bm;
  FT_Bitmap_Init(&bm);
  bm.rows = static_cast<unsigned>(height);
  bm.width = static_cast<unsigned>(width);
  bm.pitch = -rowBytes;  // y grows downward: the first row is FreeType's bottom
  bm.buffer = buffer;
  bm.pixel_mode = FT_PIXEL_MODE_GRAY;
  bm.num_grays = 256;
  return FT_Outline_Get_Bitmap(OutlineLibrary(), o, &bm) == 0;
}

// Renders the outline, moved to start at (0, 0) from the given corner,
// into width x height bytes of coverage with rows top-down.
bool RenderCoverage(FT_Outline* o, FT_Pos originX, FT_Pos originY, bool antiAlias, uint8_t* buffer,
                    int32_t rowBytes, int32_t width, int32_t height) {
  if (!buffer || width <= 0 || height <= 0 || rowBytes < width) return false;
  FT_Outline_Translate(o, -originX, -originY);
  // A shape reaching far beyond the buffer is cut to a margin around it
  // first (the cut sides then lie outside the buffer).
  constexpr FT_Pos kMargin = 16 * 64;
  const FT_BBox around = {-kMargin, -kMargin, FT_Pos{width} * 64 + kMargin, FT_Pos{height} * 64 + kMargin};
  FT_BBox control;
  if (OutlineReachesBeyond(o, around, &control)) {
    FT_Outline clipped;
    if (!ClipOutlineToBox(OutlineLibrary(), o, around, &clipped)) return false;
    const bool ok = RenderCoverage(&clipped, 0, 0, antiAlias, buffer, rowBytes, width, height);
    FT_Outline_Done(OutlineLibrary(), &clipped);
    return ok;
  }
  const bool evenOdd = (o->flags & FT_OUTLINE_EVEN_ODD_FILL) != 0;
  // The 1-bit rasteriser fills by the non-zero rule whatever the flag says;
  // both take minutes once a tall picture's rows hold hundreds of sides
  // (and hold an end signal that long).
  if (!antiAlias && evenOdd) return FillOutlineEvenOdd(o, buffer, rowBytes, width, height);
  if (OutlineCells(o) > kFreeTypeCells)
    return FillOutlineScanline(o, antiAlias, evenOdd, buffer, rowBytes, width, height);
  if (antiAlias) {
    // The same bytes without FreeType's per-row cell lists.
    switch (FillOutlineGrey(o, buffer, rowBytes, width, height)) {
      case vlGreyFill::kDrawn: return true;
      case vlGreyFill::kFailed: return FillOutlineScanline(o, true, evenOdd, buffer, rowBytes, width, height);
      case vlGreyFill::kNotHandled: break;
    }
    return FreeTypeGreyCoverage(o, buffer, rowBytes, width, height) ||
           FillOutlineScanline(o, true, evenOdd, buffer, rowBytes, width, height);
  }
  // A pixel is in the fill when its centre is. FreeType's dropout control
  // would also light a pixel beside any part of the shape narrower than
  // the distance between two centres, up to half a pixel outside the edge,
  // so a long sharp tip grew a line of pixels that lie outside it; and in
  // its coarse mode a side that climbs slowly crosses a row up to two
  // pixels away from where it does.
  o->flags |= FT_OUTLINE_IGNORE_DROPOUTS | FT_OUTLINE_HIGH_PRECISION;
  // The same pixels without FreeType's bit plane and its expansion.
  switch (FillOutlineMono(o, buffer, rowBytes, width, height, &control)) {
    case vlMonoFill::kDrawn: return true;
    case vlMonoFill::kFailed: return FillOutlineScanline(o, false, false, buffer, rowBytes, width, height);
    case vlMonoFill::kNotHandled: break;
  }
  FT_Bitmap bm;
  FT_Bitmap_Init(&bm);
  bm.rows = static_cast<unsigned>(height);
  bm.width = static_cast<unsigned>(width);
  const int32_t monoRow = ((width + 15) >> 3) & ~1;
  std::vector<uint8_t> mono(static_cast<size_t>(monoRow) * height);
  bm.pitch = -monoRow;
  bm.buffer = mono.data();
  bm.pixel_mode = FT_PIXEL_MODE_MONO;
  bm.num_grays = 2;
  // The 1-bit rasteriser gives up where many sides overlap (a dense
  // zig-zag's miter spikes): the player's own fill draws them.
  if (FT_Outline_Get_Bitmap(OutlineLibrary(), o, &bm))
    return FillOutlineScanline(o, false, false, buffer, rowBytes, width, height);
  // Eight pixels a byte, the first in its top bit.
  static const auto kExpand = [] {
    std::array<std::array<uint8_t, 8>, 256> t{};
    for (int b = 0; b < 256; ++b)
      for (int i = 0; i < 8; ++i) t[b][i] = (b & (0x80 >> i)) ? 255 : 0;
    return t;
  }();
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* bits = &mono[size_t(y) * monoRow];
    uint8_t* out = buffer + static_cast<size_t>(y) * rowBytes;
    int32_t x = 0;
    for (; x + 8 <= width; x += 8) std::memcpy(out + x, kExpand[bits[x / 8]].data(), 8);
    for (; x < width; ++x) out[x] = kExpand[bits[x / 8]][x & 7];
  }
  return true;
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
    vlOutlineBuilder b;
    if (FT_Stroker_New(OutlineLibrary(), &b.stroker)) return false;
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
        FT_Outline_Done(OutlineLibrary(), out);
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
      FT_Outline_Done(OutlineLibrary(), &whole);
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
    s->outX = static_cast<int32_t>(x0 / 64);
    s->outY = static_cast<int32_t>(y0 / 64);
  }
  FT_Outline_Done(OutlineLibrary(), &o);
  return ok;
}
