// Collision tests: rectangles, and pixel by pixel where objects carry a
// mask, an alpha plane or a clip mask.
#include <algorithm>

#include "display/layers/layers.h"
#include "graphics/bitmap.h"

bool BoxesCollide(int32_t x1, int32_t y1, int32_t w1, int32_t h1, int32_t x2, int32_t y2, int32_t w2, int32_t h2) {
  // Rectangles that only touch do not collide.
  return int64_t{x2} < int64_t{x1} + w1 && int64_t{x1} < int64_t{x2} + w2 && int64_t{y2} < int64_t{y1} + h1 &&
         int64_t{y1} < int64_t{y2} + h2;
}

namespace {

struct PlaneReader {
  const uint8_t* pixels = nullptr;
  int32_t rowBytes = 0, width = 0, height = 0;
  bool isMask = false;
  explicit PlaneReader(vlBitmap* plane, bool mask) : isMask(mask) {
    if (!plane) return;
    pixels = reinterpret_cast<const uint8_t*>(QueryBitmap(plane, mask ? 4 : 3));
    rowBytes = static_cast<int32_t>(QueryBitmap(plane, mask ? 2 : 1));
    width = plane->width;
    height = plane->height;
  }
  bool present() const { return pixels != nullptr; }
  // Pixels outside the plane count as transparent.
  bool set(int32_t x, int32_t y) const {
    if (x < 0 || y < 0 || x >= width || y >= height) return false;
    const uint8_t* row = pixels + static_cast<size_t>(y) * rowBytes;
    return isMask ? (row[x >> 3] & (0x80 >> (x & 7))) != 0 : row[x] != 0;
  }
};

}  // namespace

int CollidePixels(const vlCollisionObject& a, const vlCollisionObject& b) {
  if (!BoxesCollide(a.x, a.y, a.width, a.height, b.x, b.y, b.width, b.height)) return 0;
  PlaneReader am(a.mask, true), aa(a.alpha, false), ac(a.clipMask, true);
  PlaneReader bm(b.mask, true), ba(b.alpha, false), bc(b.clipMask, true);
  int required = 0;
  if (am.present() || aa.present()) required++;
  if (bm.present() || ba.present()) required++;
  if (ac.present()) required++;
  if (bc.present()) required++;
  if (required == 0) return 1;
  int32_t x1 = std::max(a.x, b.x), y1 = std::max(a.y, b.y);
  int32_t x2 = std::min(a.x + a.width, b.x + b.width), y2 = std::min(a.y + a.height, b.y + b.height);
  for (int32_t y = y1; y < y2; y++) {
    for (int32_t x = x1; x < x2; x++) {
      int votes = 0;
      int32_t ax = x - a.x + a.maskX, ay = y - a.y + a.maskY;
      int32_t bx = x - b.x + b.maskX, by = y - b.y + b.maskY;
      // An object with both planes votes once, where both say opaque.
      if (am.present() || aa.present()) votes += (!am.present() || am.set(ax, ay)) && (!aa.present() || aa.set(ax, ay));
      if (bm.present() || ba.present()) votes += (!bm.present() || bm.set(bx, by)) && (!ba.present() || ba.set(bx, by));
      votes += ac.present() && ac.set(x - a.x + a.clipX, y - a.y + a.clipY);
      votes += bc.present() && bc.set(x - b.x + b.clipX, y - b.y + b.clipY);
      if (votes == required) return 1;
    }
  }
  return 0;
}
