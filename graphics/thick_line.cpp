// The run-length line rasteriser. Rows (or columns) that cannot reach the
// target are skipped arithmetically, so far-away end points cost nothing.
// Depends on the drawing context's PlotPixelAA.
#include "graphics/thick_line.h"

#include <cmath>
#include <cstdlib>
#include <utility>

#include "graphics/pixel_format.h"
#include "vm/convert.h"

namespace {

// Walks the major axis from its smaller end. major/minor are the end
// points along the two axes; plot(m, n) gets major and minor coordinates.
template <typename Plot>
void Walk(int64_t m1, int64_t n1, int64_t m2, int64_t n2, int32_t run, int32_t offset, int64_t limitM,
          int64_t limitN, Plot plot) {
  if (m1 > m2) {
    std::swap(m1, m2);
    std::swap(n1, n2);
  }
  const int64_t dm = m2 - m1, dn = n2 > n1 ? n2 - n1 : n1 - n2, step = n2 > n1 ? 1 : -1;
  // Only steps whose major coordinate lies on the target matter.
  const int64_t k0 = m1 < 0 ? -m1 : 0;
  const int64_t k1 = m2 >= limitM ? limitM - 1 - m1 : dm;
  if (k0 > k1) return;
  // Minor steps taken before step k: floor((2 dn k + dm) / (2 dm)).
  int64_t taken = 0;
  if (dm > 0)
    taken = static_cast<int64_t>((static_cast<unsigned __int128>(2 * dn) * static_cast<uint64_t>(k0) +
                                  static_cast<uint64_t>(dm)) /
                                 static_cast<uint64_t>(2 * dm));
  int64_t err = static_cast<int64_t>(__int128{2 * dn} * (k0 + 1) - dm - __int128{2 * dm} * taken);
  int64_t n = n1 + step * taken;
  for (int64_t k = k0; k <= k1; ++k) {
    const int32_t m = static_cast<int32_t>(m1 + k);
    int64_t lo = n + offset, hi = n + offset + run - 1;
    if (lo < 0) lo = 0;
    if (hi >= limitN) hi = limitN - 1;
    for (int64_t i = lo; i <= hi; ++i) plot(m, static_cast<int32_t>(i));
    if (err < 0) {
      err += 2 * dn;
    } else {
      n += step;
      err += 2 * (dn - dm);
    }
  }
}

}  // namespace

int32_t DrawThickLine(vlDrawContext& c, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  const int64_t dx = std::abs(int64_t{x2} - x1), dy = std::abs(int64_t{y2} - y1);
  const double angle = std::atan2(static_cast<double>(dy), static_cast<double>(dx));
  const bool steep = dx < dy;
  const double across = steep ? std::sin(angle) : std::cos(angle);
  int32_t n = 1, o = 0;
  if (across != 0 && (dx | dy) != 0) {
    n = vl::DoubleToInt32(c.thickness / across);
    if (n <= 0) n = 1;
    else o = -(n / 2);
  }
  c.coverage = c.drawAlpha;
  if (steep) {
    Walk(y1, x1, y2, x2, n, o, c.height, c.width, [&c](int32_t y, int32_t x) { PlotPixelAA(c, x, y); });
  } else {
    Walk(x1, y1, x2, y2, n, o, c.width, c.height, [&c](int32_t x, int32_t y) { PlotPixelAA(c, x, y); });
  }
  return 0;
}

void DrawLinePixels(uint8_t* pixels, int32_t format, int32_t rowLength, int32_t width, int32_t height, int32_t x1,
                    int32_t y1, int32_t x2, int32_t y2, int32_t thickness, uint32_t color) {
  vlDrawContext c;
  c.pixels = pixels;
  c.rowLength = rowLength;
  c.width = width;
  c.height = height;
  c.format = format;
  c.bytesPerPixel = BytesPerPixelOfFormat(format);
  c.color = color & 0xFFFFFF;
  c.thickness = thickness;
  DrawThickLine(c, x1, y1, x2, y2);
}
