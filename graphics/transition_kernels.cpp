// Dissolve visibility planes, masked region copies and the roll's strip
// copies. Depends on pixel_kernels.h (mask bits) and vm/convert.h.
#include "graphics/transition_kernels.h"

#include <cstring>
#include <numbers>

#include "graphics/fast_paths.h"
#include "graphics/pixel_kernels.h"
#include "vm/convert.h"

void DissolveKernel(const vlDissolveJob& j, int32_t level) {
  if (!j.target || !j.orderMap || j.width <= 0 || j.height <= 0) return;
  const int32_t needTarget = j.bytePlanes ? j.width : (j.width + 7) / 8;
  if (j.targetRowBytes < needTarget || (j.source && j.sourceRowBytes < needTarget)) return;
  const vlDissolveFn fast = j.bytePlanes && level >= 0 && level <= 255 ? FastDissolveBytes() : nullptr;
  for (int32_t y = 0; y < j.height; y++) {
    const uint8_t* map = j.orderMap + static_cast<intptr_t>(y) * j.width;
    if (fast) {
      fast(map, j.source ? j.source + static_cast<intptr_t>(y) * j.sourceRowBytes : nullptr,
           j.target + static_cast<intptr_t>(y) * j.targetRowBytes, j.width, level, j.disappear);
      continue;
    }
    uint8_t* out = j.target + static_cast<intptr_t>(y) * j.targetRowBytes;
    const uint8_t* in = j.source ? j.source + static_cast<intptr_t>(y) * j.sourceRowBytes : nullptr;
    for (int32_t x = 0; x < j.width; x++) {
      // Visible when the pixel has switched and appearing, or has not and disappearing.
      const bool shown = (map[x] < level) != (j.disappear != 0);
      if (j.bytePlanes) {
        // A missing source plane counts as fully opaque, like a missing mask.
        out[x] = shown ? (in ? in[x] : 255) : 0;
      } else {
        SetMaskBit(out, x, shown ? (in ? GetMaskBit(in, x) : 1) : 0);
      }
    }
  }
}

namespace {

template <int Bpp>
int RegionCopy(const vlRegionCopy& rc, int32_t sx, int32_t sy, int32_t w, int32_t h, int32_t tx, int32_t ty) {
  if (!rc.sourcePixels || !rc.targetPixels || w <= 0 || h <= 0) return 1;
  // Rows that cannot hold the rectangle (or planes that cannot) leave it alone.
  if (sx < 0 || sy < 0 || tx < 0 || ty < 0 || rc.sourceRow - w < sx || rc.targetRow - w < tx) return 1;
  if (rc.sourceMask && (rc.sourceMaskRowBytes < (int64_t{sx} + w + 7) / 8 ||
                        (rc.targetMask && rc.targetMaskRowBytes < (int64_t{tx} + w + 7) / 8)))
    return 1;
  if (!rc.sourceMask && rc.sourceAlpha &&
      (rc.sourceAlphaRowBytes - w < sx || (rc.targetAlpha && rc.targetAlphaRowBytes - w < tx)))
    return 1;
  for (int32_t row = 0; row < h; row++) {
    const uint8_t* src = rc.sourcePixels + (static_cast<intptr_t>(sy + row) * rc.sourceRow + sx) * Bpp;
    uint8_t* dst = rc.targetPixels + (static_cast<intptr_t>(ty + row) * rc.targetRow + tx) * Bpp;
    if (rc.sourceMask) {
      const uint8_t* sm = rc.sourceMask + static_cast<intptr_t>(sy + row) * rc.sourceMaskRowBytes;
      uint8_t* tm = rc.targetMask ? rc.targetMask + static_cast<intptr_t>(ty + row) * rc.targetMaskRowBytes : nullptr;
      for (int32_t x = 0; x < w; x++) {
        const int on = GetMaskBit(sm, sx + x);
        if (on) std::memcpy(dst + x * Bpp, src + x * Bpp, Bpp);
        if (tm) SetMaskBit(tm, tx + x, on);
      }
    } else if (rc.sourceAlpha) {
      const uint8_t* sa = rc.sourceAlpha + static_cast<intptr_t>(sy + row) * rc.sourceAlphaRowBytes + sx;
      uint8_t* ta =
          rc.targetAlpha ? rc.targetAlpha + static_cast<intptr_t>(ty + row) * rc.targetAlphaRowBytes + tx : nullptr;
      for (int32_t x = 0; x < w; x++) {
        if (sa[x]) std::memcpy(dst + x * Bpp, src + x * Bpp, Bpp);
        if (ta) ta[x] = sa[x];
      }
    } else {
      std::memmove(dst, src, static_cast<size_t>(w) * Bpp);
    }
  }
  return 1;
}

}  // namespace

int RegionCopyPix32(const vlRegionCopy& rc, int32_t sx, int32_t sy, int32_t w, int32_t h, int32_t tx, int32_t ty) {
  return RegionCopy<4>(rc, sx, sy, w, h, tx, ty);
}
int RegionCopyPix16(const vlRegionCopy& rc, int32_t sx, int32_t sy, int32_t w, int32_t h, int32_t tx, int32_t ty) {
  return RegionCopy<2>(rc, sx, sy, w, h, tx, ty);
}

void RollEffectKernel(vlRollJob& j) {
  j.copied = 0;
  j.firstStrip = -100000;
  j.resultPosition = j.position;
  if (j.count <= 0 || !j.offsets || j.width <= 0 || j.height <= 0) return;
  auto copy = j.bytesPerPixel == 4 ? RegionCopyPix32 : j.bytesPerPixel == 2 ? RegionCopyPix16 : nullptr;
  if (!copy) return;
  const int64_t limit = j.columns ? j.width : j.height;
  const double stripAngle = 2 * std::numbers::pi / j.count;
  for (int32_t i = 0; i < j.count; i++) {
    const int64_t t = int64_t{j.position} - j.count + 1 + i;
    const int64_t s = int64_t{j.position} + vl::DoubleToInt32(j.offsets[i] / stripAngle);
    if (t < 0 || t >= limit || s < 0 || s >= limit) continue;
    const int32_t ti = static_cast<int32_t>(t), si = static_cast<int32_t>(s);
    if (j.columns) copy(j.copy, si, 0, 1, j.height, ti, 0);
    else copy(j.copy, 0, si, j.width, 1, 0, ti);
    if (j.copied++ == 0) j.firstStrip = ti;
  }
}
