// The software line rasteriser behind bitmap lines.
#pragma once
#include <cstdint>

struct vlLineContext {
  uint8_t* pixels = nullptr;
  int32_t rowLength = 0;  // pixels
  int32_t width = 0, height = 0;  // lines are cut at the buffer's edges
  int32_t bytesPerPixel = 4;
  uint32_t color = 0;       // 0x00RRGGBB
  uint32_t pixelValue = 0;  // the colour in the buffer's format
  int32_t format = 10;
  int32_t r = 0, g = 0, b = 0;
  int32_t opacity = 255;  // 255 stores the pixel value
  int32_t thickness = 1;  // a square pen this many pixels wide
};

// Bresenham from (x1, y1) to (x2, y2), both ends included. 0.
int32_t DrawThickLine(vlLineContext& ctx, int32_t x1, int32_t y1, int32_t x2, int32_t y2);
