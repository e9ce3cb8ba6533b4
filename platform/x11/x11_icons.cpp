// The built-in window icons in _NET_WM_ICON layout: for each size, width,
// height and ARGB pixels row by row. Drawn once, on first use: a rounded
// dark-blue tile with a light "V" across it.
#include <cmath>
#include <cstdlib>
#include <mutex>

#include "platform/x11/x11_window.h"

namespace {

constexpr int kIconSizes[] = {16, 24, 32, 48, 256};
unsigned long gIconData[kBuiltinIconItems];

unsigned long IconPixel(int size, int x, int y) {
  const double s = size;
  const double fx = (x + 0.5) / s, fy = (y + 0.5) / s;
  // Rounded corners: outside a corner radius of 1/6 of the size is clear.
  const double r = 1.0 / 6.0;
  double cx = fx < r ? r - fx : (fx > 1 - r ? fx - (1 - r) : 0);
  double cy = fy < r ? r - fy : (fy > 1 - r ? fy - (1 - r) : 0);
  if (cx * cx + cy * cy > r * r) return 0;
  // The V: two strokes from the top corners to the bottom middle.
  const double stroke = 0.09;
  double along = (fy - 0.2) / 0.6;
  bool inV = false;
  if (along >= 0 && along <= 1) {
    double left = 0.2 + 0.3 * along, right = 0.8 - 0.3 * along;
    inV = std::fabs(fx - left) < stroke || std::fabs(fx - right) < stroke;
  }
  if (inV) return 0xFFE8F0FFul;
  unsigned long blue = 0x90 + static_cast<unsigned long>(0x50 * (1 - fy));
  return 0xFF000000ul | (0x20ul << 16) | (0x40ul << 8) | blue;
}

void DrawIcons() {
  size_t at = 0;
  for (int size : kIconSizes) {
    gIconData[at++] = static_cast<unsigned long>(size);
    gIconData[at++] = static_cast<unsigned long>(size);
    for (int y = 0; y < size; y++)
      for (int x = 0; x < size; x++) gIconData[at++] = IconPixel(size, x, y);
  }
  if (at != kBuiltinIconItems) abort();
}

}  // namespace

const unsigned long* GetBuiltinIconData() {
  static std::once_flag drawn;
  std::call_once(drawn, DrawIcons);
  return gIconData;
}
