// Painting polygons, polylines and lines into pictures and planes through
// 8-bit coverage images. OpenCV draws the coverage; the drawing loops of
// the graphics engine turn it into pixels.
#include "objects/draw/paint_polygon.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <cstring>
#include <vector>

#include "graphics/bitmap.h"
#include "graphics/draw_kernels.h"
#include "graphics/geometry.h"
#include "graphics/pixel_format.h"
#include "graphics/pixel_kernels.h"
#include "graphics/thick_line.h"
#include "vm/error_codes.h"

bool DrawCoverageImage(uint8_t* cov, int32_t rowBytes, int32_t w, int32_t h, int32_t kind, const int32_t* pts,
                    int32_t count, int32_t thickness, bool aa) {
  if (w < 1 || h < 1 || count < 1) return true;
  if (thickness < 1) thickness = 1;
  if (thickness > 255) thickness = 255;
  // OpenCV reports failures by exception; none may leave this function.
  try {
    cv::Mat image(h, w, CV_8UC1, cov, static_cast<size_t>(rowBytes));
    std::vector<cv::Point> p(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i) p[i] = cv::Point(pts[2 * i], pts[2 * i + 1]);
    const int type = aa ? cv::LINE_AA : cv::LINE_8;
    if (kind == VL_PAINT_FILL) {
      const cv::Point* rings[1] = {p.data()};
      const int counts[1] = {count};
      cv::fillPoly(image, rings, counts, 1, cv::Scalar(255), type);
    } else if (kind == VL_PAINT_POLYLINE) {
      const cv::Point* rings[1] = {p.data()};
      const int counts[1] = {count};
      cv::polylines(image, rings, counts, 1, false, cv::Scalar(255), thickness, type);
    } else if (aa && thickness == 1) {
      // A thin anti-aliased line has the same coverage whatever it is
      // drawn into: the drawing loops' own.
      const cv::Point& b = count > 1 ? p[1] : p[0];
      DrawLineAACoverage(cov, rowBytes, w, h, p[0].x, p[0].y, b.x, b.y);
    } else {
      cv::line(image, p[0], count > 1 ? p[1] : p[0], cv::Scalar(255), thickness, type);
    }
  } catch (...) {
    return false;
  }
  return true;
}

namespace {

using Locked = vlLockedPixels;

}  // namespace

int PaintPolygon(const vlPaintJob& j) {
  const int32_t w = j.width, h = j.height;
  if (w < 1 || h < 1) return 0;
  Locked pic(j.picture, 0), mask(j.mask, 0), alpha(j.alpha, 0), pattern(j.pattern, VL_LOCK_READ);
  Locked clipMask(j.clip ? j.clip->mask : nullptr, VL_LOCK_READ);
  if ((j.picture && !pic.ok()) || (j.mask && !mask.ok()) || (j.alpha && !alpha.ok())) return ERR_LOCKBMAP;
  const int32_t transparency = static_cast<int32_t>(j.color >> 24);
  vlDrawContext c;
  if (pic.ok()) {
    c.pixels = pic.access.pixels;
    c.rowLength = pic.access.rowLength;
    c.format = pic.access.format;
    c.bytesPerPixel = pic.access.bytesPerPixel;
  }
  c.width = w;
  c.height = h;
  if (pattern.ok()) c.texture = pattern.access.pixels;
  if (mask.ok()) {
    c.mask = mask.access.pixels;
    c.maskRowBytes = mask.access.rowLength;
    c.maskMode = j.maskMode;
  }
  if (alpha.ok()) {
    c.alpha = alpha.access.pixels;
    c.alphaRowBytes = alpha.access.rowLength;
  }
  c.alphaValue = static_cast<uint8_t>(j.alphaValue < 0 ? 255 - transparency : j.alphaValue);
  if (j.clip) {
    c.clip = 1;
    c.clipX1 = j.clip->x;
    c.clipY1 = j.clip->y;
    c.clipX2 = j.clip->x + j.clip->width - 1;
    c.clipY2 = j.clip->y + j.clip->height - 1;
    if (clipMask.ok()) {
      // The clip mask sits at the region's corner: address it from (0, 0).
      c.clipMask = clipMask.access.pixels;
      c.clipMaskRowBytes = clipMask.access.rowLength;
    }
  }
  c.color = j.color & 0xFFFFFF;
  c.drawAlpha = 255 - transparency;
  c.thickness = 1;
  c.plainStores = j.plain ? 1 : 0;
  const bool clipMaskShifted = clipMask.ok() && (j.clip->x || j.clip->y);
  if (pic.ok() && j.kind == VL_PAINT_SEGMENT && j.thickness <= 1 && !clipMaskShifted && !j.weightAlpha) {
    if (j.antiAlias)
      DrawLineAA(c, j.points[0], j.points[1], j.points[2], j.points[3]);
    else
      DrawThickLine(c, j.points[0], j.points[1], j.points[2], j.points[3]);
    return 0;
  }
  const int32_t rowBytes = (w + 3) & ~3;
  std::vector<uint8_t> cov;
  try {
    cov.assign(static_cast<size_t>(rowBytes) * h, 0);
  } catch (...) {
    return ERR_MEM;
  }
  if (!DrawCoverageImage(cov.data(), rowBytes, w, h, j.kind, j.points, j.count, j.thickness, j.antiAlias))
    return ERR_MEM;
  if (clipMaskShifted) {
    // Cut by the clip mask here, where its offset is known.
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) {
        const int32_t mx = x - j.clip->x, my = y - j.clip->y;
        const bool in = mx >= 0 && my >= 0 && mx < clipMask.access.width && my < clipMask.access.height &&
                        GetMaskBit(clipMask.access.pixels + static_cast<intptr_t>(my) * clipMask.access.rowLength, mx);
        if (!in) cov[static_cast<size_t>(y) * rowBytes + x] = 0;
      }
    c.clipMask = nullptr;
  }
  if (!pic.ok()) {
    // A mask or alpha plane alone: bits and bytes straight from the coverage.
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) {
        const int32_t v = cov[static_cast<size_t>(y) * rowBytes + x];
        if (!v) continue;
        if (c.clip && (x < c.clipX1 || x > c.clipX2 || y < c.clipY1 || y > c.clipY2)) continue;
        if (c.clipMask && !GetMaskBit(c.clipMask + static_cast<intptr_t>(y) * c.clipMaskRowBytes, x)) continue;
        if (c.mask) {
          uint8_t* row = c.mask + static_cast<intptr_t>(y) * c.maskRowBytes;
          if (c.maskMode == 1) SetMaskBit(row, x, 0);
          else if (c.maskMode == 3) SetMaskBit(row, x, !GetMaskBit(row, x));
          else if (c.maskMode == 0 || c.maskMode == 2 || c.maskMode == 5) SetMaskBit(row, x, 1);
        }
        if (c.alpha)
          c.alpha[static_cast<intptr_t>(y) * c.alphaRowBytes + x] =
              static_cast<uint8_t>(j.weightAlpha && j.antiAlias ? v * c.alphaValue / 255 : c.alphaValue);
      }
    return 0;
  }
  if (!j.weightAlpha) {
    CoverageToPixels(c, cov.data(), rowBytes, 0, 0, w, h, j.antiAlias ? 0 : 1);
    return 0;
  }
  // Alpha bytes carry the coverage: each pixel is stored, not blended.
  c.plainStores = 1;
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      const int32_t v = cov[static_cast<size_t>(y) * rowBytes + x];
      if (!v) continue;
      const int32_t a = (j.antiAlias ? v : 255) * c.alphaValue / 255;
      const uint8_t* old = c.alpha ? c.alpha + static_cast<intptr_t>(y) * c.alphaRowBytes + x : nullptr;
      if (old && *old > a) continue;
      c.coverage = 255;
      const uint8_t keep = c.alphaValue;
      c.alphaValue = static_cast<uint8_t>(a);
      PlotPixelAA(c, x, y);
      c.alphaValue = keep;
    }
  return 0;
}
