// FreeType outlines for the engine's vector drawing, shared by the draw
// library's anti-aliased shapes and the vector engine of the path library:
// the library handle, an outline builder over FreeType's stroker (lines,
// cubics, arcs, rounded boxes), stroking, transforming and rendering an
// outline into 8-bit coverage.
#pragma once
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_STROKER_H

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <new>

#include "abi/plugin_abi.h"
#include "graphics/outline_pieces.h"

// vlPathTransform, the transform the vector engine's request records
// carry, is the plug-in interface's.

// The draw library's anti-aliased shape (box 14, arc 31, else ellipse).
struct vlShapeOutline {
  uint8_t* coverage;  // null: only measure
  int32_t rowBytes;
  int32_t kind;
  double rx, ry;
  double start, end;  // degrees
  double width, height;
  uint32_t clockwise;
  int32_t outWidth, outHeight;
  double sizeExtra;
  const vlPathTransform* transform;  // null: identity
  int32_t corners[4];
  uint32_t fill;
  double lineWidth;
  // Measuring also gives the corner of the coverage in the shape's own
  // coordinates (after the transform, which turns about the box's corner).
  int32_t outX, outY;
};

// The one FreeType library of the process (fonts and outlines): 0 or 1386
// when FreeType cannot start; DoneFreeType ends it.
int InitFreeType();
void DoneFreeType();
// Null before the start.
FT_Library GetFreeTypeLibrary();
// The library, started when it was not (null when it cannot start).
FT_Library OutlineLibrary();

inline constexpr FT_Fixed kOutlineMiterLimit = 0x10000000;

// FreeType measures vectors in 32 bits: points stay within 2^24 pixels of
// the origin so that no difference of two overflows. Inline: every point
// of every path passes here.
inline FT_Pos To26Dot6(double v) {
  constexpr double kLimit = 1 << 30;
  if (std::isnan(v)) return 0;
  return static_cast<FT_Pos>(std::clamp(std::trunc(v * 64.0), -kLimit, kLimit));
}

// The outline under construction: the stroker records the path, and the
// walk keeps the current point and whether a sub-path is open.
struct vlOutlineBuilder {
  FT_Stroker stroker = nullptr;
  double curX = 0, curY = 0;
  double startX = 0, startY = 0;
  bool open = false;
  bool fillMode = false;  // a fill closes every sub-path, as an area has no open ends
  // FreeType's stroker fails on a sub-path without segments (a lone move,
  // or only segments it drops as too short), so the sub-path reaches it
  // with its first segment that has a length.
  bool begun = false;
  bool opensOpen = false;
  FT_Vector at = {0, 0};  // where the stroker stands, or the sub-path will begin
  // When set, every call to the stroker is also recorded here, so that a
  // path beyond FreeType's outline limits can be built again in pieces.
  // Without a stroker the calls are only recorded.
  // Nothing is thrown from here (the builder runs inside FreeType's glyph
  // walk too): a record that runs out of memory is only marked.
  vlOutlineJournal* journal = nullptr;
  bool journalLost = false;

  void Record(vlOutlineStep::Kind kind, FT_Vector a = {0, 0}, FT_Vector b = {0, 0}, FT_Vector c = {0, 0}) {
    if (!journal || journalLost) return;
    try {
      journal->push_back({kind, opensOpen, {a, b, c}});
    } catch (const std::bad_alloc&) {
      journalLost = true;
    }
  }

  FT_Vector Point(double x, double y) { return {To26Dot6(x), To26Dot6(y)}; }
  // FreeType wants to know at the start whether the sub-path will close.
  void Begin(double x, double y, bool closes) {
    opensOpen = !(closes || fillMode);
    begun = false;
    open = true;
    startX = curX = x;
    startY = curY = y;
    at = Point(x, y);
  }
  void Flush() {
    if (begun) return;
    FT_Vector v = Point(startX, startY);
    if (stroker) FT_Stroker_BeginSubPath(stroker, &v, opensOpen);
    Record(vlOutlineStep::kBegin, v);
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
      if (v.x != at.x || v.y != at.y) {
        if (stroker) FT_Stroker_LineTo(stroker, &v);
        Record(vlOutlineStep::kLine, v);
      }
    }
    if (stroker) FT_Stroker_EndSubPath(stroker);
    Record(vlOutlineStep::kEnd);
    begun = false;
  }
  void LineTo(double x, double y) {
    FT_Vector v = Point(x, y);
    if (v.x != at.x || v.y != at.y) {
      Flush();
      if (stroker) FT_Stroker_LineTo(stroker, &v);
      Record(vlOutlineStep::kLine, v);
      at = v;
    }
    curX = x;
    curY = y;
  }
  // Curves whose points all lie within a pixel's 32nd of each other are
  // dropped, as the stroker drops them.
  void ConicTo(double x1, double y1, double x2, double y2) {
    FT_Vector a = Point(x1, y1), c = Point(x2, y2);
    if (!Degenerate({at, a, c})) {
      Flush();
      if (stroker) FT_Stroker_ConicTo(stroker, &a, &c);
      Record(vlOutlineStep::kConic, a, c);
      at = c;
    }
    curX = x2;
    curY = y2;
  }
  void CubicTo(double x1, double y1, double x2, double y2, double x3, double y3) {
    FT_Vector a = Point(x1, y1), b = Point(x2, y2), c = Point(x3, y3);
    if (!Degenerate({at, a, b, c})) {
      Flush();
      if (stroker) FT_Stroker_CubicTo(stroker, &a, &b, &c);
      Record(vlOutlineStep::kCubic, a, b, c);
      at = c;
    }
    curX = x3;
    curY = y3;
  }
  // Joins the current point to (x, y), or begins a sub-path there.
  void ReachOrBegin(double x, double y, bool closes) {
    if (open) LineTo(x, y);
    else Begin(x, y, closes);
  }
  static bool Degenerate(std::initializer_list<FT_Vector> points) {
    const FT_Vector* prev = nullptr;
    for (const FT_Vector& p : points) {
      if (prev && (p.x - prev->x <= -2 || p.x - prev->x >= 2 || p.y - prev->y <= -2 || p.y - prev->y >= 2))
        return false;
      prev = &p;
    }
    return true;
  }
};

// Angles in degrees; the builder already stands at the arc's start point.
void AddArcToStroker(vlOutlineBuilder& b, double cx, double cy, double rx, double ry, double start, double end,
                     bool clockwise);
// The point at start degrees on the ellipse.
void ArcStart(double cx, double cy, double rx, double ry, double start, double* x, double* y);
// Corners a top-left, b bottom-left, c bottom-right, d top-right; levels
// 0..100 of half the shorter side.
void AddBoxToOutline(vlOutlineBuilder& b, double x, double y, double width, double height, const uint32_t levels[4]);
// The stroker's outline (one border, or both); false when none can be made.
bool ExportBorder(FT_Stroker stroker, FT_StrokerBorder border, FT_Outline* out, bool both);
// Strokes an outline in place of itself; false leaves it untouched.
bool StrokeOutline(FT_Outline* outline, FT_Fixed radius, FT_Stroker_LineCap cap, FT_Stroker_LineJoin join,
                   bool opened);
void ApplyTransform(FT_Outline* o, const vlPathTransform* t);
// Renders the outline, moved to start at (0, 0) from the given corner,
// into width x height bytes of coverage with rows top-down.
bool RenderCoverage(FT_Outline* o, FT_Pos originX, FT_Pos originY, bool antiAlias, uint8_t* buffer,
                    int32_t rowBytes, int32_t width, int32_t height);

// FreeType's own anti-aliased rendering of the outline (256 greys) into
// width x height bytes with rows top-down; false when it refuses.
bool FreeTypeGreyCoverage(FT_Outline* o, uint8_t* buffer, int32_t rowBytes, int32_t width, int32_t height);

// For the draw library: coverage or size of an anti-aliased shape; 1 or 0.
int RasterizeArcOutline(vlShapeOutline* shape);
