// Anti-aliased plots, lines and coverage images, and scanline polygon
// fills into mask planes. Depends on the pixel kernels and formats.
#include "graphics/draw_kernels.h"

#include <cstring>
#include <utility>
#include <vector>

#include "graphics/pixel_format.h"
#include "graphics/pixel_kernels.h"
#include "vm/convert.h"

void PlotPixelAA(vlDrawContext& c, int32_t x, int32_t y) {
  // Never outside the target, whatever the clip says.
  if (x < 0 || y < 0 || x >= c.width || y >= c.height) return;
  if (c.clip) {
    if (x < c.clipX1 || x > c.clipX2 || y < c.clipY1 || y > c.clipY2) return;
    if (c.clipMask && !GetMaskBit(c.clipMask + static_cast<intptr_t>(y) * c.clipMaskRowBytes, x)) return;
  }
  const int32_t B = c.bytesPerPixel;
  if (B != 2 && B != 4) return;
  const intptr_t off = (static_cast<intptr_t>(y) * c.rowLength + x) * B;
  uint8_t* p = c.pixels + off;
  uint32_t colour = c.color & 0xFFFFFF;
  if (c.texture) {
    uint32_t t = 0;
    std::memcpy(&t, c.texture + off, B);
    colour = PixelToColor(t, c.format, 0);
  }
  uint32_t out = colour;
  if (c.coverage < 255 && !c.plainStores) {
    uint32_t d = 0;
    std::memcpy(&d, p, B);
    const uint32_t dc = PixelToColor(d, c.format, 0);
    out = 0;
    for (int s = 0; s <= 16; s += 8)
      out |= static_cast<uint32_t>(BlendChannel((dc >> s) & 0xFF, (colour >> s) & 0xFF, c.coverage) & 0xFF) << s;
  }
  const uint32_t v = ColorToPixel(out, c.format, 0);
  std::memcpy(p, &v, B);
  if (c.mask) {
    uint8_t* row = c.mask + static_cast<intptr_t>(y) * c.maskRowBytes;
    if (c.maskMode == 1) SetMaskBit(row, x, 0);
    else if (c.maskMode == 3) SetMaskBit(row, x, !GetMaskBit(row, x));
    else if (c.maskMode == 0 || c.maskMode == 2 || c.maskMode == 5) SetMaskBit(row, x, 1);
  }
  if (c.alpha) c.alpha[static_cast<intptr_t>(y) * c.alphaRowBytes + x] = c.alphaValue;
}

namespace {

// The anti-aliased thin line's steps: the longer axis one pixel at a time
// from the end with the smaller coordinate, the other in 16.16 fixed point;
// at each step the two pixels straddling the line get 255 - f and f. A
// line of one point is one pixel of 255.
template <class Plot>
void StepLineAA(int32_t x1, int32_t y1, int32_t x2, int32_t y2, Plot plot) {
  if (x1 == x2 && y1 == y2) {
    plot(x1, y1, 255);
    return;
  }
  const int64_t dx = int64_t{x2} - x1, dy = int64_t{y2} - y1;
  const bool xMajor = (dx < 0 ? -dx : dx) >= (dy < 0 ? -dy : dy);
  if ((xMajor && x2 < x1) || (!xMajor && y2 < y1)) {
    std::swap(x1, x2);
    std::swap(y1, y2);
  }
  const int64_t major = xMajor ? int64_t{x2} - x1 : int64_t{y2} - y1;
  const int64_t minor = xMajor ? int64_t{y2} - y1 : int64_t{x2} - x1;
  const int64_t slope = minor * 65536 / major;
  int64_t pos = int64_t{xMajor ? y1 : x1} << 16;
  for (int64_t i = 0; i <= major; ++i, pos += slope) {
    const int32_t m = static_cast<int32_t>((xMajor ? x1 : y1) + i);
    const int32_t n = static_cast<int32_t>(pos >> 16);
    const int32_t f = static_cast<int32_t>((pos >> 8) & 0xFF);
    if (xMajor) {
      plot(m, n, 255 - f);
      plot(m, n + 1, f);
    } else {
      plot(n, m, 255 - f);
      plot(n + 1, m, f);
    }
  }
}

}  // namespace

void DrawLineAA(vlDrawContext& c, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  if (x1 == x2 && y1 == y2) {
    c.coverage = c.drawAlpha;
    PlotPixelAA(c, x1, y1);
    return;
  }
  StepLineAA(x1, y1, x2, y2, [&](int32_t x, int32_t y, int32_t cov) {
    if (c.drawAlpha < 255) cov = cov * c.drawAlpha / 255;
    if (cov == 0) return;
    c.coverage = cov;
    PlotPixelAA(c, x, y);
  });
}

void DrawLineAACoverage(uint8_t* cov, int32_t rowBytes, int32_t width, int32_t height, int32_t x1, int32_t y1,
                        int32_t x2, int32_t y2) {
  StepLineAA(x1, y1, x2, y2, [&](int32_t x, int32_t y, int32_t v) {
    if (v && x >= 0 && y >= 0 && x < width && y < height)
      cov[static_cast<intptr_t>(y) * rowBytes + x] = static_cast<uint8_t>(v);
  });
}

void CoverageToPixels(vlDrawContext& c, const uint8_t* cov, int32_t rowBytes, int32_t x, int32_t y, int32_t w,
                      int32_t h, int full) {
  for (int32_t j = 0; j < h; ++j, cov += rowBytes)
    for (int32_t i = 0; i < w; ++i) {
      if (!cov[i]) continue;
      c.coverage = full ? c.drawAlpha : cov[i] * c.drawAlpha / 255;
      PlotPixelAA(c, x + i, y + j);
    }
}

void ScanFillPolygonMask(const int32_t* pts, int32_t count, uint8_t* mask, int32_t rowBytes, int32_t maskWidth,
                         int32_t maskHeight) {
  if (count < 2) return;
  int32_t ymin = pts[1], ymax = pts[1];
  for (int32_t i = 1; i < count; ++i) {
    if (pts[2 * i + 1] < ymin) ymin = pts[2 * i + 1];
    if (pts[2 * i + 1] > ymax) ymax = pts[2 * i + 1];
  }
  if (ymin < 0) ymin = 0;
  std::vector<int32_t> xs;
  for (int32_t y = ymin; y <= ymax && y < maskHeight; ++y) {
    xs.clear();
    for (int32_t i = 0; i < count; ++i) {
      const int32_t j = (i + 1) % count;
      int32_t x0 = pts[2 * i], y0 = pts[2 * i + 1], x1 = pts[2 * j], y1 = pts[2 * j + 1];
      if (y0 == y1) continue;  // horizontal edges add nothing
      if (y0 > y1) {
        std::swap(x0, x1);
        std::swap(y0, y1);
      }
      const bool hit = y == ymax ? y1 == y : (y0 <= y && y < y1);
      if (!hit) continue;
      const double cx = x0 + static_cast<double>(x1 - x0) * (y - y0) / (y1 - y0) + 0.5;
      xs.push_back(vl::DoubleToInt32(cx));
    }
    for (size_t a = 1; a < xs.size(); ++a)  // insertion sort: few crossings
      for (size_t b = a; b > 0 && xs[b - 1] > xs[b]; --b) std::swap(xs[b - 1], xs[b]);
    uint8_t* row = mask + static_cast<intptr_t>(y) * rowBytes;
    for (size_t k = 0; k + 1 < xs.size(); k += 2) {
      const int32_t from = xs[k] < 0 ? 0 : xs[k];
      const int32_t to = xs[k + 1] >= maskWidth ? maskWidth - 1 : xs[k + 1];
      for (int32_t x = from; x <= to; ++x) SetMaskBit(row, x, 1);
    }
  }
}
