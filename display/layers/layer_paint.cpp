// What the redraw and the layer decorations both draw with: rectangle
// arithmetic and a layer's picture drawn through its planes.
#include <algorithm>
#include <cmath>

#include "display/layers/clip_regions.h"
#include "display/layers/layers.h"
#include "graphics/bitmap.h"
#include "graphics/blit.h"

bool IntersectRects(const vlRectXYWH& a, const vlRectXYWH& b, vlRectXYWH* out) {
  int32_t x1 = std::max(a.x, b.x), y1 = std::max(a.y, b.y);
  int64_t x2 = std::min<int64_t>(int64_t{a.x} + a.width, int64_t{b.x} + b.width);
  int64_t y2 = std::min<int64_t>(int64_t{a.y} + a.height, int64_t{b.y} + b.height);
  if (x2 <= x1 || y2 <= y1) {
    *out = {x1, y1, 0, 0};
    return false;
  }
  *out = {x1, y1, static_cast<int32_t>(x2 - x1), static_cast<int32_t>(y2 - y1)};
  return true;
}

vlRectXYWH UnionRects(const vlRectXYWH& a, const vlRectXYWH& b) {
  int32_t x1 = std::min(a.x, b.x), y1 = std::min(a.y, b.y);
  int32_t x2 = std::max(a.x + a.width, b.x + b.width), y2 = std::max(a.y + a.height, b.y + b.height);
  return {x1, y1, x2 - x1, y2 - y1};
}

bool RectsOverlap(const vlRectXYWH& a, const vlRectXYWH& b) {
  return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
}

bool ClipRectToSize(vlRectXYWH* r, int32_t width, int32_t height) {
  vlRectXYWH out;
  bool any = IntersectRects(*r, {0, 0, width, height}, &out);
  *r = out;
  return any;
}

vlRectXYWH ScaleRect(const vlRectXYWH& r, double fx, double fy) {
  vlRectXYWH o;
  o.x = static_cast<int32_t>(std::rint(r.x * fx));
  o.y = static_cast<int32_t>(std::rint(r.y * fy));
  o.width = static_cast<int32_t>(std::rint((r.x + r.width - 1) * fx)) + 1 - o.x;
  o.height = static_cast<int32_t>(std::rint((r.y + r.height - 1) * fy)) + 1 - o.y;
  return o;
}

// Draws a rectangle of a layer's picture onto dest: through its mask and
// alpha plane, at the layer's opacity.
void DrawLayerImage(vlBitmap* image, vlBitmap* mask, vlBitmap* alpha, int32_t sx, int32_t sy, vlBitmap* dest,
                    int32_t dx, int32_t dy, int32_t w, int32_t h, uint32_t transparency) {
  if (transparency == 0 && !alpha) {
    if (mask)
      BltBitmapMasked(image, sx, sy, dest, dx, dy, w, h, mask);
    else
      BltBitmap(image, sx, sy, dest, dx, dy, w, h);
    return;
  }
  if (transparency == 0 && !mask) {
    // Fully opaque layer: its own alpha plane is the coverage.
    BltBitmapAlpha(image, sx, sy, dest, dx, dy, w, h, alpha);
    return;
  }
  // One plane holding the source's coverage times the opacity.
  int32_t opacity = 255 - static_cast<int32_t>(std::min<uint32_t>(transparency, 255));
  // The blit reads the plane at the source position: it spans up to there.
  vlBitmap* cover = NewAlphaPlane(sx + w, sy + h, 1, nullptr, 0);
  if (!cover) return;
  if (alpha)
    CopyAlphaRect(alpha, sx, sy, cover, sx, sy, w, h, 0, 0);
  else if (mask)
    CopyMaskRect(mask, sx, sy, cover, sx, sy, w, h, 255);
  else
    FillAlphaRect(cover, sx, sy, w, h, 255);
  if (alpha && mask) {
    // Masked-out pixels stay out whatever their alpha says.
    for (int32_t yy = 0; yy < h; yy++)
      for (int32_t xx = 0; xx < w; xx++)
        if (!ReadBitmapPixel(mask, sx + xx, sy + yy, 1)) WriteBitmapPixel(cover, sx + xx, sy + yy, 0, 0);
  }
  if (opacity != 255) ScaleAlphaPlane(cover, cover, opacity);
  BltBitmapAlpha(image, sx, sy, dest, dx, dy, w, h, cover);
  DeleteAlphaPlane(cover);
}

void DrawLayerImageClipped(vlBitmap* image, vlBitmap* mask, vlBitmap* alpha, int32_t sx, int32_t sy, vlBitmap* dest,
                           int32_t dx, int32_t dy, int32_t w, int32_t h, uint32_t transparency, const void* region,
                           int32_t sourceWidth) {
  auto* clip = static_cast<const vlClipRegion*>(region);
  if (!clip || !clip->mask) {
    DrawLayerImage(image, mask, alpha, sx, sy, dest, dx, dy, w, h, transparency);
    return;
  }
  // A shaped (or turned) clip region lets only its mask's pixels through.
  vlBitmap* plane = MakeClipPlane(clip, mask, alpha, sx, sy, dx, dy, w, h, sourceWidth);
  if (!plane) return;
  if (alpha)
    DrawLayerImage(image, mask, plane, sx, sy, dest, dx, dy, w, h, transparency);
  else
    DrawLayerImage(image, plane, nullptr, sx, sy, dest, dx, dy, w, h, transparency);
  FreeClipPlane(plane);
}
