// Coverage images of polygons, polylines and lines (OpenCV's fills and
// strokes over the program's own 8-bit buffers), and PaintPolygon, which
// paints one of them into a locked picture with its mask and alpha plane.
#pragma once
#include <cstdint>

struct vlBitmap;
struct vlClipRegion;

enum : int32_t { VL_PAINT_FILL = 0, VL_PAINT_POLYLINE = 1, VL_PAINT_SEGMENT = 2 };

// Draws the points (x, y integer pairs) with 255 into an 8-bit image of
// width x height (rows rowBytes apart): a filled polygon, an open polyline
// or one segment (the first two points) of a thickness below 256, anti-
// aliased or 8-connected. false when OpenCV refused.
bool DrawCoverageImage(uint8_t* coverage, int32_t rowBytes, int32_t width, int32_t height, int32_t kind,
                    const int32_t* points, int32_t count, int32_t thickness, bool antiAlias);

struct vlPaintJob {
  vlBitmap* picture = nullptr;  // may be null (a mask or alpha plane alone)
  vlBitmap* mask = nullptr;
  vlBitmap* alpha = nullptr;
  int32_t width = 0, height = 0;
  uint32_t color = 0;  // 0xAARRGGBB, alpha byte a transparency
  bool antiAlias = false;
  int32_t kind = VL_PAINT_FILL;
  const int32_t* points = nullptr;
  int32_t count = 0;
  int32_t thickness = 1;
  vlBitmap* pattern = nullptr;  // same size as the picture, or null
  const vlClipRegion* clip = nullptr;
  int32_t maskMode = 0;         // for the mask plane
  int32_t alphaValue = -1;      // for the alpha plane; -1: 255 - transparency
  bool weightAlpha = false;     // alpha bytes weighted by the coverage
  bool plain = false;           // pixels stored, not blended (a fresh picture)
};

// 0, ERR_LOCKBMAP or ERR_MEM.
int PaintPolygon(const vlPaintJob& job);
