// Bresenham lines into a locked pixel buffer, stored or blended by the
// opacity. Depends on the pixel formats and BlendChannel.
#include "graphics/thick_line.h"

#include <cstring>

#include "graphics/pixel_format.h"
#include "graphics/pixel_kernels.h"

namespace {

void Put(vlLineContext& c, int32_t x, int32_t y) {
  if (x < 0 || y < 0 || x >= c.width || y >= c.height) return;
  const int32_t B = c.bytesPerPixel;
  if (B != 2 && B != 4) return;
  uint8_t* p = c.pixels + (static_cast<intptr_t>(y) * c.rowLength + x) * B;
  uint32_t v = c.pixelValue;
  if (c.opacity < 255) {
    uint32_t d = 0;
    std::memcpy(&d, p, B);
    const uint32_t dc = PixelToColor(d, c.format, 0);
    const int32_t r = BlendChannel((dc >> 16) & 0xFF, c.r, c.opacity);
    const int32_t g = BlendChannel((dc >> 8) & 0xFF, c.g, c.opacity);
    const int32_t b = BlendChannel(dc & 0xFF, c.b, c.opacity);
    v = ColorToPixel(static_cast<uint32_t>((r & 0xFF) << 16 | (g & 0xFF) << 8 | (b & 0xFF)), c.format, 0);
  }
  std::memcpy(p, &v, B);
}

void Pen(vlLineContext& c, int32_t x, int32_t y) {
  if (c.thickness <= 1) {
    Put(c, x, y);
    return;
  }
  const int32_t lo = -(c.thickness - 1) / 2;
  for (int32_t j = lo; j < lo + c.thickness; ++j)
    for (int32_t i = lo; i < lo + c.thickness; ++i) Put(c, x + i, y + j);
}

}  // namespace

int32_t DrawThickLine(vlLineContext& c, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  // A line wholly beyond one edge draws nothing; skip its walk.
  const int32_t pad = c.thickness;
  if ((x1 < -pad && x2 < -pad) || (y1 < -pad && y2 < -pad) || (x1 >= c.width + pad && x2 >= c.width + pad) ||
      (y1 >= c.height + pad && y2 >= c.height + pad))
    return 0;
  int64_t dx = int64_t{x2} - x1, dy = int64_t{y2} - y1;
  const int32_t sx = dx < 0 ? -1 : 1, sy = dy < 0 ? -1 : 1;
  dx = dx < 0 ? -dx : dx;
  dy = dy < 0 ? -dy : dy;
  int64_t err = dx - dy;
  int64_t x = x1, y = y1;
  for (;;) {
    Pen(c, static_cast<int32_t>(x), static_cast<int32_t>(y));
    if (x == x2 && y == y2) break;
    const int64_t e2 = 2 * err;
    if (e2 > -dy) {
      err -= dy;
      x += sx;
    }
    if (e2 < dx) {
      err += dx;
      y += sy;
    }
  }
  return 0;
}
