// The anti-aliased drawing loops: single pixels with coverage, lines with
// two-pixel coverage, coverage images, and polygon fills into mask planes.
#pragma once
#include <cstdint>

// What the drawing loops draw into and with.
struct vlDrawContext {
  uint8_t* pixels = nullptr;  // target, first row
  int32_t rowLength = 0;      // pixels
  int32_t width = 0, height = 0;
  int32_t format = 10;
  int32_t bytesPerPixel = 4;
  const uint8_t* texture = nullptr;  // same format and row length, or null
  uint8_t* alpha = nullptr;          // target alpha plane, or null
  int32_t alphaRowBytes = 0;
  uint8_t alphaValue = 255;
  uint8_t* mask = nullptr;           // target mask plane, or null
  int32_t maskRowBytes = 0;
  int32_t maskMode = 0;              // 0, 2, 5 set; 1 clear; 3 toggle
  int32_t clip = 0;                  // clip rectangle (inclusive) and mask on
  int32_t clipX1 = 0, clipY1 = 0, clipX2 = 0, clipY2 = 0;
  const uint8_t* clipMask = nullptr;  // in target coordinates, or null
  int32_t clipMaskRowBytes = 0;
  uint32_t color = 0;       // 0x00RRGGBB
  int32_t coverage = 255;   // of the next plot
  int32_t drawAlpha = 255;  // opacity of the shape
  int32_t plainStores = 0;  // store without blending
  int32_t thickness = 1;    // of lines (DrawThickLine)
};

void PlotPixelAA(vlDrawContext& ctx, int32_t x, int32_t y);
void DrawLineAA(vlDrawContext& ctx, int32_t x1, int32_t y1, int32_t x2, int32_t y2);
// DrawLineAA's coverage (before the drawing alpha) as bytes of an 8-bit
// image of width x height, rows rowBytes apart; the rest is left alone.
void DrawLineAACoverage(uint8_t* coverage, int32_t rowBytes, int32_t width, int32_t height, int32_t x1, int32_t y1,
                        int32_t x2, int32_t y2);
// Plots every non-zero byte of a coverage image placed at (x, y).
void CoverageToPixels(vlDrawContext& ctx, const uint8_t* coverage, int32_t rowBytes, int32_t x, int32_t y,
                      int32_t width, int32_t height, int fullCoverage);
// Sets the bits inside a closed polygon of count (x, y) points.
void ScanFillPolygonMask(const int32_t* points, int32_t count, uint8_t* mask, int32_t maskRowBytes,
                         int32_t maskWidth, int32_t maskHeight);
