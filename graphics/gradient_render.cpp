// The gradient renderer: a real position per pixel centre, truncated to
// 16.16 and looked up by the stop walker (pad for linear and radial,
// reflect for conical). Depends on gradient_kernels and the bitmaps.
#include "graphics/gradient_render.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "graphics/bitmap.h"
#include "graphics/gradient_kernels.h"
#include "graphics/pixel_kernels.h"
#include "vm/convert.h"
#include "vm/error_codes.h"

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 6.283185307179586;

// Positions far beyond the stops all look the same to the walker.
int32_t Fixed(double t) {
  if (!(t > -16)) t = -16;  // NaN too
  if (t > 16) t = 16;
  return vl::DoubleToInt32(t * 65536);
}

int32_t BuildStops(const vlGradientDesc& g, vlGradientStop* out) {
  auto stop = [](double pos, uint32_t color) {
    return vlGradientStop{vl::DoubleToInt32(pos * 65536), color & 0xFFFFFF, 0};
  };
  if (g.stopCount >= 2) {
    const int32_t n = g.stopCount > kVlMaxGradientStops ? kVlMaxGradientStops : g.stopCount;
    for (int32_t i = 0; i < n; ++i) out[i] = stop(g.stops[i].position, g.stops[i].color);
    return n;
  }
  if (g.type == VL_GRADIENT_CONICAL) {
    out[0] = stop(0, g.endColor);
    out[1] = stop(g.balance, g.startColor);
    out[2] = stop(1, g.endColor);
    return 3;
  }
  out[0] = stop(0, g.startColor);
  out[1] = stop(1, g.endColor);
  return 2;
}

}  // namespace

void RenderGradient(const vlGradientJob& j) {
  const vlGradientDesc* g = j.gradient;
  const int32_t B = j.bytesPerPixel, w = j.width, h = j.height;
  if (!g || !j.pixels || (B != 2 && B != 4) || w <= 0 || h <= 0) return;
  if (g->type != VL_GRADIENT_LINEAR && g->type != VL_GRADIENT_RADIAL && g->type != VL_GRADIENT_CONICAL) return;
  vlGradientStop stops[kVlMaxGradientStops + 1];
  vlGradient walker;
  walker.stops = stops;
  walker.count = BuildStops(*g, stops);
  walker.spread = g->type == VL_GRADIENT_CONICAL ? VL_SPREAD_REFLECT : VL_SPREAD_PAD;

  // Linear: t = ((p - C0) . u) / ((C1 - C0) . u).
  double ux = 0, uy = 1, c0x = 0, c0y = 0, len = 0;
  int32_t angle = g->angle % 360;
  if (angle < 0) angle += 360;
  if (g->type == VL_GRADIENT_LINEAR) {
    switch (angle) {
      case 0: ux = 0; uy = 1; break;
      case 90: ux = 1; uy = 0; break;
      case 180: ux = 0; uy = -1; break;
      case 270: ux = -1; uy = 0; break;
      default: ux = std::sin(angle * kPi / 180); uy = std::cos(angle * kPi / 180); break;
    }
    c0x = ux >= 0 ? 0 : w;
    c0y = uy >= 0 ? 0 : h;
    const double c1x = ux >= 0 ? w : 0, c1y = uy >= 0 ? h : 0;
    len = (c1x - c0x) * ux + (c1y - c0y) * uy;
  }
  const double cx = g->centerX * w, cy = g->centerY * h;
  double radius = 0;
  if (g->type == VL_GRADIENT_RADIAL) {
    const double border = g->border >= 1.0 ? 0.99 : g->border;
    const double ex = std::fabs(0.5 - g->centerX), ey = std::fabs(0.5 - g->centerY);
    radius = std::sqrt(static_cast<double>(w) * w + static_cast<double>(h) * h) * (0.5 + (ex > ey ? ex : ey)) *
             (1 - border);
  }
  const double turn = g->angle * kPi / 180;

  // Only the rows and columns that land in the buffer are visited: a
  // gradient laid over a box far larger than the buffer costs what shows.
  const int32_t y0 = static_cast<int32_t>(std::clamp<int64_t>(-int64_t{j.top}, 0, h));
  const int32_t y1 = static_cast<int32_t>(std::clamp<int64_t>(int64_t{j.bufferHeight} - j.top, 0, h));
  const int32_t x0 = static_cast<int32_t>(std::clamp<int64_t>(-int64_t{j.left}, 0, w));
  const int32_t x1 = static_cast<int32_t>(std::clamp<int64_t>(int64_t{j.bufferWidth} - j.left, 0, w));
  for (int32_t y = y0; y < y1; ++y) {
    const int64_t by = int64_t{j.top} + y;
    const double py = y + 0.5;
    // The row's share of a linear position; each pixel adds its own as a
    // real number, so no rounding of a step piles up across a wide row.
    const double rowPart = (py - c0y) * uy;
    uint8_t* row = j.pixels + static_cast<intptr_t>(by) * j.rowLength * B;
    for (int32_t x = x0; x < x1; ++x) {
      const int64_t bx = int64_t{j.left} + x;
      const double px = x + 0.5;
      int32_t pos;
      if (g->type == VL_GRADIENT_LINEAR) {
        pos = len > 0 ? Fixed(((px - c0x) * ux + rowPart) / len) : 0;
      } else if (g->type == VL_GRADIENT_RADIAL) {
        const double dx = px - cx, dy = py - cy;
        pos = radius > 0 ? Fixed(std::sqrt(dx * dx + dy * dy) / radius) : 0;
      } else {
        // A whole-turn remainder in 0 .. 2 pi whatever the angle's sign:
        // fmod keeps the sign of a turned-back angle, which would mirror
        // half the cone.
        double a = std::fmod(std::atan2(py - cy, px - cx) + kTwoPi + turn, kTwoPi);
        if (a < 0) a += kTwoPi;
        pos = Fixed(a / -kTwoPi + 1);
      }
      uint8_t* p = row + bx * B;
      if (B == 4) {
        const uint32_t v = pixPack32(j.format, GradientColor32(walker, pos));
        std::memcpy(p, &v, 4);
      } else {
        const uint16_t v = static_cast<uint16_t>(pixPack16(j.format, GradientColor16(walker, pos)));
        std::memcpy(p, &v, 2);
      }
    }
  }
}

int32_t DrawGradient(vlBitmap* bitmap, int32_t x, int32_t y, int32_t width, int32_t height,
                     const vlGradientDesc* gradient) {
  if (!bitmap) {
    std::fputs("ERROR! DRAWGRADIENT() CALLED WITH DST=NULL!\n", stdout);
    return 0;
  }
  vlPixelAccess a;
  if (!LockPixels(bitmap, 0, &a)) return ERR_LOCKBMAP;
  vlGradientJob job;
  job.pixels = a.pixels;
  job.bytesPerPixel = a.bytesPerPixel;
  job.format = a.format;
  job.left = x;
  job.top = y;
  job.width = width;
  job.height = height;
  job.rowLength = a.rowLength;
  job.bufferWidth = a.width;
  job.bufferHeight = a.height;
  job.gradient = gradient;
  RenderGradient(job);
  UnlockPixels(bitmap, &a);
  return 0;
}
