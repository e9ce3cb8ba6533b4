// The affine renderer: the bounding box of the mapped corners, then per
// target row the span whose inverse image falls inside the source, found
// analytically. Depends on pixUnpackRGB/pixPackRGB and vm/convert.h.
#include "graphics/affine.h"

#include <cmath>
#include <cstring>

#include "graphics/pixel_kernels.h"
#include "vm/convert.h"

namespace {

constexpr double kEps = 1e-10;

struct Span {
  double lo, hi;
  bool empty;
};

// Target columns whose inverse coordinate c * x + z lies in [0, size).
Span SpanOf(double c, double z, int32_t size, double boxLo, double boxHi) {
  if (c > kEps) return {std::ceil(-z / c + kEps - 0.5), std::ceil((size - z) / c - kEps - 0.5), false};
  if (c < -kEps) return {std::ceil((size - z) / c + kEps - 0.5), std::ceil(-z / c - kEps - 0.5), false};
  if (z >= 0 && z < size) return {boxLo, boxHi, false};
  return {0, 0, true};
}

inline int32_t Clamp(int32_t v, int32_t n) { return v < 0 ? 0 : v >= n ? n - 1 : v; }

}  // namespace

void AffineRenderPix(const vlAffineJob& j) {
  const int32_t w = j.sourceWidth, h = j.sourceHeight, tw = j.targetWidth, th = j.targetHeight;
  const int32_t B = j.bytesPerPixel;
  // Without pixels (no source picture) only the planes are turned.
  const bool pixels = j.source && j.target && (B == 2 || B == 3 || B == 4);
  if (w <= 0 || h <= 0 || tw <= 0 || th <= 0 || (!pixels && !j.targetMask && !j.targetAlpha)) return;
  // Bounds of the mapped corners, truncated.
  const double cx[4] = {0, static_cast<double>(w), static_cast<double>(w), 0};
  const double cy[4] = {0, 0, static_cast<double>(h), static_cast<double>(h)};
  int32_t minX = INT32_MAX, maxX = INT32_MIN, minY = INT32_MAX, maxY = INT32_MIN;
  for (int i = 0; i < 4; ++i) {
    const int32_t X = vl::DoubleToInt32(j.sx * cx[i] + j.ry * cy[i] + j.tx);
    const int32_t Y = vl::DoubleToInt32(j.rx * cx[i] + j.sy * cy[i] + j.ty);
    minX = X < minX ? X : minX;
    maxX = X > maxX ? X : maxX;
    minY = Y < minY ? Y : minY;
    maxY = Y > maxY ? Y : maxY;
  }
  const double det = j.sx * j.sy - j.ry * j.rx;
  if (det == 0 || !std::isfinite(det)) return;
  const double isx = j.sy / det, irx = -j.rx / det, iry = -j.ry / det, isy = j.sx / det;
  const double itx = -j.tx * isx - j.ty * iry, ity = -j.tx * irx - j.ty * isy;
  if (!std::isfinite(isx + irx + iry + isy + itx + ity)) return;

  const int32_t firstRow = minY >= 0 ? minY : 0;  // ceil(minY - 0.5) of an integer
  const int32_t lastRow = maxY >= th ? th - 1 : maxY;
  const bool smooth = j.smooth && (B != 3 || !pixels);
  for (int32_t y = firstRow; y <= lastRow; ++y) {
    const double yc = y + 0.5;
    const Span sx = SpanOf(isx, iry * yc + itx, w, minX, maxX);
    const Span sy = SpanOf(irx, isy * yc + ity, h, minX, maxX);
    if (sx.empty || sy.empty) continue;
    double x1 = sx.lo > sy.lo ? sx.lo : sy.lo;
    if (minX > x1) x1 = minX;
    double x2 = sx.hi < sy.hi ? sx.hi : sy.hi;
    if (maxX < x2) x2 = maxX;
    if (x2 >= tw) x2 = tw - 1;
    if (!(x1 <= x2)) continue;
    const int32_t xa = x1 < 0 ? 0 : vl::DoubleToInt32(std::ceil(x1 - 0.5));
    int32_t xb = vl::DoubleToInt32(std::floor(x2 + 0.5));
    if (xb > tw - 1) xb = tw - 1;
    uint8_t* drow = pixels ? j.target + static_cast<intptr_t>(y) * j.targetRow * B : nullptr;
    uint8_t* dmask = j.targetMask ? j.targetMask + static_cast<intptr_t>(y) * j.targetMaskRowBytes : nullptr;
    uint8_t* dalpha = j.targetAlpha ? j.targetAlpha + static_cast<intptr_t>(y) * j.targetAlphaRowBytes : nullptr;
    for (int32_t x = xa; x <= xb; ++x) {
      // The source point of the pixel's centre: truncated for the nearest
      // pixel; half a pixel back for the bilinear neighbourhood, so that
      // whole-pixel mappings (quarter turns, the identity) stay exact.
      const double X = isx * (x + 0.5) + iry * yc + itx, Y = irx * (x + 0.5) + isy * yc + ity;
      const int32_t nx = Clamp(vl::DoubleToInt32(X), w), ny = Clamp(vl::DoubleToInt32(Y), h);
      auto maskAt = [&](int32_t px, int32_t py) {
        return GetMaskBit(j.sourceMask + static_cast<intptr_t>(py) * j.sourceMaskRowBytes, px + j.sourceMaskBit);
      };
      auto alphaAt = [&](int32_t px, int32_t py) {
        return static_cast<double>(j.sourceAlpha[static_cast<intptr_t>(py) * j.sourceAlphaRowBytes + px]);
      };
      if (!smooth) {
        if (pixels) std::memcpy(drow + x * B, j.source + (static_cast<intptr_t>(ny) * j.sourceRow + nx) * B, B);
        if (j.sourceMask) {
          if (dmask) SetMaskBit(dmask, x, maskAt(nx, ny));
        } else if (j.sourceAlpha) {
          if (dalpha) dalpha[x] = static_cast<uint8_t>(alphaAt(nx, ny));
        } else if (dmask) {
          SetMaskBit(dmask, x, 1);
        }
        continue;
      }
      const double fxf = std::floor(X - 0.5), fyf = std::floor(Y - 0.5);
      const double fx = X - 0.5 - fxf, fy = Y - 0.5 - fyf;
      const int32_t x0 = vl::DoubleToInt32(fxf), y0 = vl::DoubleToInt32(fyf);
      const int32_t xs[4] = {Clamp(x0, w), Clamp(x0 + 1, w), Clamp(x0, w), Clamp(x0 + 1, w)};
      const int32_t ys[4] = {Clamp(y0, h), Clamp(y0, h), Clamp(y0 + 1, h), Clamp(y0 + 1, h)};
      uint8_t rgb[4][3] = {};
      for (int k = 0; k < 4 && pixels; ++k)
        pixUnpackRGB(j.format, j.source + (static_cast<intptr_t>(ys[k]) * j.sourceRow + xs[k]) * B, rgb[k]);
      if (j.sourceMask) {
        // Clear neighbours take the colour of the last set one read.
        int set[4], last = -1;
        for (int k = 0; k < 4; ++k)
          if ((set[k] = maskAt(xs[k], ys[k]))) last = k;
        if (last < 0) {
          if (dmask) SetMaskBit(dmask, x, 0);
          continue;
        }
        for (int k = 0; k < 4; ++k)
          if (!set[k]) std::memcpy(rgb[k], rgb[last], 3);
      }
      auto lerp = [&](double p00, double p10, double p01, double p11) {
        return ((1 - fx) * p00 + fx * p10) * (1 - fy) + ((1 - fx) * p01 + fx * p11) * fy + 0.5;
      };
      if (pixels) {
        uint8_t out[3];
        for (int c = 0; c < 3; ++c)
          out[c] = static_cast<uint8_t>(static_cast<int32_t>(lerp(rgb[0][c], rgb[1][c], rgb[2][c], rgb[3][c])));
        pixPackRGB(j.format, out, drow + x * B);
      }
      if (j.sourceMask) {
        if (dmask) SetMaskBit(dmask, x, maskAt(nx, ny));
      } else if (j.sourceAlpha) {
        if (dalpha)
          dalpha[x] = static_cast<uint8_t>(static_cast<int32_t>(
              lerp(alphaAt(xs[0], ys[0]), alphaAt(xs[1], ys[1]), alphaAt(xs[2], ys[2]), alphaAt(xs[3], ys[3]))));
      } else if (dmask) {
        SetMaskBit(dmask, x, 1);
      }
    }
  }
}
