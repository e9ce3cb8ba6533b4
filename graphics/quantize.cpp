// Median-cut colour quantizer (the two-pass design published with the IJG
// JPEG library), on the engine's pixel formats, with a transparent colour
// kept out of the histogram and out of the nearest-colour search.
// Depends on the pixel formats and the bitmaps.
#include "graphics/quantize.h"

#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "graphics/bitmap.h"
#include "graphics/pixel_format.h"
#include "vm/error_codes.h"

namespace {

constexpr int kR = 32, kG = 64, kB = 32;  // histogram cells per channel

struct Box {
  int32_t r0, r1, g0, g1, b0, b1;
  int64_t volume;
  int64_t count;  // non-zero cells inside
};

struct Histogram {
  std::unique_ptr<uint16_t[]> cells;
  bool Alloc() {
    cells.reset(new (std::nothrow) uint16_t[kR * kG * kB]);
    if (cells) Clear();
    return cells != nullptr;
  }
  void Clear() { std::memset(cells.get(), 0, sizeof(uint16_t) * kR * kG * kB); }
  uint16_t& At(int r, int g, int b) { return cells[(r * kG + g) * kB + b]; }
};

uint32_t RawPixel(const uint8_t* p, int32_t bpp) {
  if (bpp == 3) return uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
  if (bpp == 2) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
  }
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

bool PlaneHasCells(Histogram& h, const Box& b, int axis, int v) {
  for (int i = axis == 0 ? v : b.r0; i <= (axis == 0 ? v : b.r1); ++i)
    for (int j = axis == 1 ? v : b.g0; j <= (axis == 1 ? v : b.g1); ++j)
      for (int k = axis == 2 ? v : b.b0; k <= (axis == 2 ? v : b.b1); ++k)
        if (h.At(i, j, k)) return true;
  return false;
}

void UpdateBox(Histogram& h, Box& b) {
  int32_t* lo[3] = {&b.r0, &b.g0, &b.b0};
  int32_t* hi[3] = {&b.r1, &b.g1, &b.b1};
  for (int axis = 0; axis < 3; ++axis) {
    if (*hi[axis] <= *lo[axis]) continue;
    for (int v = *lo[axis]; v <= *hi[axis]; ++v)
      if (PlaneHasCells(h, b, axis, v)) {
        *lo[axis] = v;
        break;
      }
    for (int v = *hi[axis]; v >= *lo[axis]; --v)
      if (PlaneHasCells(h, b, axis, v)) {
        *hi[axis] = v;
        break;
      }
  }
  const int64_t dr = int64_t{b.r1 - b.r0} * 16, dg = int64_t{b.g1 - b.g0} * 12, db = int64_t{b.b1 - b.b0} * 8;
  b.volume = dr * dr + dg * dg + db * db;
  b.count = 0;
  for (int i = b.r0; i <= b.r1; ++i)
    for (int j = b.g0; j <= b.g1; ++j)
      for (int k = b.b0; k <= b.b1; ++k)
        if (h.At(i, j, k)) ++b.count;
}

int MedianCut(Histogram& h, std::vector<Box>& boxes, int wanted) {
  while (static_cast<int>(boxes.size()) < wanted) {
    const bool byCount = static_cast<int>(boxes.size()) * 2 <= wanted;
    int pick = -1;
    int64_t best = 0;
    for (size_t i = 0; i < boxes.size(); ++i) {
      const Box& b = boxes[i];
      if (byCount) {
        if (b.count > best && b.volume > 0) {
          best = b.count;
          pick = static_cast<int>(i);
        }
      } else if (b.volume > best) {
        best = b.volume;
        pick = static_cast<int>(i);
      }
    }
    if (pick < 0) break;
    Box& b = boxes[static_cast<size_t>(pick)];
    const int32_t er = (b.r1 - b.r0) * 16, eg = (b.g1 - b.g0) * 12, eb = (b.b1 - b.b0) * 8;
    int axis = 1;
    int32_t top = eg;
    if (er > top) {
      top = er;
      axis = 0;
    }
    if (eb > top) axis = 2;
    Box n = b;
    int32_t* lo[3] = {&n.r0, &n.g0, &n.b0};
    int32_t* hi[3] = {&b.r1, &b.g1, &b.b1};
    const int32_t* blo[3] = {&b.r0, &b.g0, &b.b0};
    const int32_t m = (*blo[axis] + *hi[axis]) / 2;
    *lo[axis] = m + 1;
    *hi[axis] = m;
    UpdateBox(h, b);
    UpdateBox(h, n);
    boxes.push_back(n);
  }
  return static_cast<int>(boxes.size());
}

void BoxColor(Histogram& h, const Box& b, uint8_t* rgb) {
  int64_t total = 0, sr = 0, sg = 0, sb = 0;
  for (int i = b.r0; i <= b.r1; ++i)
    for (int j = b.g0; j <= b.g1; ++j)
      for (int k = b.b0; k <= b.b1; ++k) {
        const int64_t c = h.At(i, j, k);
        if (!c) continue;
        total += c;
        sr += ((i << 3) + 4) * c;
        sg += ((j << 2) + 2) * c;
        sb += ((k << 3) + 4) * c;
      }
  if (!total) {
    rgb[0] = rgb[1] = rgb[2] = 255;
    return;
  }
  rgb[0] = static_cast<uint8_t>((sr + total / 2) / total);
  rgb[1] = static_cast<uint8_t>((sg + total / 2) / total);
  rgb[2] = static_cast<uint8_t>((sb + total / 2) / total);
}

// Fills the inverse-map cache for the 4 x 8 x 4 block holding cell
// (r, g, b) with index + 1 of the nearest colour.
void FillRegion(Histogram& h, const uint8_t (*map)[3], int n, int r, int g, int b) {
  const int br = r >> 2, bg = g >> 3, bb = b >> 2;
  const int32_t min0 = (br << 5) + 4, min1 = (bg << 5) + 2, min2 = (bb << 5) + 4;
  const int32_t max0 = min0 + 24, max1 = min1 + 28, max2 = min2 + 24;
  const int32_t mid0 = (min0 + max0) >> 1, mid1 = (min1 + max1) >> 1, mid2 = (min2 + max2) >> 1;
  int64_t minDist[256];
  int64_t minMax = INT64_MAX;
  auto range = [](int32_t x, int32_t lo, int32_t hi, int32_t mid, int32_t scale, int64_t* mn, int64_t* mx) {
    int64_t t;
    if (x < lo) {
      t = int64_t{x - lo} * scale;
      *mn = t * t;
      t = int64_t{x - hi} * scale;
      *mx = t * t;
    } else if (x > hi) {
      t = int64_t{x - hi} * scale;
      *mn = t * t;
      t = int64_t{x - lo} * scale;
      *mx = t * t;
    } else {
      *mn = 0;
      t = x <= mid ? int64_t{x - hi} * scale : int64_t{x - lo} * scale;
      *mx = t * t;
    }
  };
  for (int i = 0; i < n; ++i) {
    int64_t a, b2, c, d, e, f;
    range(map[i][0], min0, max0, mid0, 2, &a, &b2);
    range(map[i][1], min1, max1, mid1, 3, &c, &d);
    range(map[i][2], min2, max2, mid2, 1, &e, &f);
    minDist[i] = a + c + e;
    if (b2 + d + f < minMax) minMax = b2 + d + f;
  }
  int32_t best[4 * 8 * 4];
  int64_t bestDist[4 * 8 * 4];
  for (int64_t& d : bestDist) d = INT64_MAX;
  constexpr int64_t s0 = 16, s1 = 12, s2 = 8;
  for (int i = 0; i < n; ++i) {
    if (minDist[i] > minMax) continue;
    int64_t inc0 = int64_t{min0 - map[i][0]} * 2, inc1 = int64_t{min1 - map[i][1]} * 3,
            inc2 = int64_t{min2 - map[i][2]} * 1;
    int64_t dist0 = inc0 * inc0 + inc1 * inc1 + inc2 * inc2;
    inc0 = inc0 * (2 * s0) + s0 * s0;
    inc1 = inc1 * (2 * s1) + s1 * s1;
    inc2 = inc2 * (2 * s2) + s2 * s2;
    int cell = 0;
    int64_t xx0 = inc0;
    for (int i0 = 0; i0 < 4; ++i0) {
      int64_t dist1 = dist0, xx1 = inc1;
      for (int i1 = 0; i1 < 8; ++i1) {
        int64_t dist2 = dist1, xx2 = inc2;
        for (int i2 = 0; i2 < 4; ++i2, ++cell) {
          if (dist2 < bestDist[cell]) {
            bestDist[cell] = dist2;
            best[cell] = i;
          }
          dist2 += xx2;
          xx2 += 2 * s2 * s2;
        }
        dist1 += xx1;
        xx1 += 2 * s1 * s1;
      }
      dist0 += xx0;
      xx0 += 2 * s0 * s0;
    }
  }
  int cell = 0;
  for (int i0 = 0; i0 < 4; ++i0)
    for (int i1 = 0; i1 < 8; ++i1)
      for (int i2 = 0; i2 < 4; ++i2, ++cell)
        h.At((br << 2) + i0, (bg << 3) + i1, (bb << 2) + i2) = static_cast<uint16_t>(best[cell] + 1);
}

// Distinct raw values in order of first appearance, up to wanted; false
// as soon as one more turns up.
bool ExactColors(const vlQuantizeArgs& a, int wanted, std::vector<uint32_t>& values) {
  constexpr uint32_t kSlots = 1024;  // open addressing, at most 256 used
  uint32_t keys[kSlots];
  int16_t slot[kSlots];
  std::memset(slot, -1, sizeof(slot));
  auto find = [&](uint32_t v, bool insert) -> int {
    uint32_t h = (v * 2654435761u) >> 22;
    while (slot[h] >= 0) {
      if (keys[h] == v) return slot[h];
      h = (h + 1) & (kSlots - 1);
    }
    if (!insert) return -1;
    keys[h] = v;
    slot[h] = static_cast<int16_t>(values.size());
    values.push_back(v);
    return slot[h];
  };
  for (int32_t y = 0; y < a.height; ++y) {
    const uint8_t* p = a.pixels + static_cast<intptr_t>(y) * a.rowLength * a.bytesPerPixel;
    for (int32_t x = 0; x < a.width; ++x, p += a.bytesPerPixel) {
      const uint32_t v = RawPixel(p, a.bytesPerPixel);
      if (find(v, false) >= 0) continue;
      if (static_cast<int>(values.size()) >= wanted) return false;
      find(v, true);
    }
  }
  for (int32_t y = 0; y < a.height; ++y) {
    const uint8_t* p = a.pixels + static_cast<intptr_t>(y) * a.rowLength * a.bytesPerPixel;
    for (int32_t x = 0; x < a.width; ++x, p += a.bytesPerPixel)
      a.index[static_cast<intptr_t>(y) * a.width + x] = static_cast<uint8_t>(find(RawPixel(p, a.bytesPerPixel), false));
  }
  return true;
}

}  // namespace

int32_t DitherErrorLimit(int32_t e) {
  const int32_t m = e < 0 ? -e : e;
  const int32_t l = m < 16 ? m : m < 48 ? 16 + (m - 16) / 2 : 32;
  return e < 0 ? -l : l;
}

void ReadPixelRGB(uint32_t p, int32_t format, uint8_t* rgb) {
  uint32_t c;
  if (format == 8) c = p & 0xFFFFFF;
  else if (format == 9) c = (p & 0xFF) << 16 | (p & 0xFF00) | ((p >> 16) & 0xFF);
  else if (format >= 0 && format <= 13) c = PixelToColor(p, format, 0);
  else return;
  rgb[0] = static_cast<uint8_t>(c >> 16);
  rgb[1] = static_cast<uint8_t>(c >> 8);
  rgb[2] = static_cast<uint8_t>(c);
}

void MedianCutQuantize(vlQuantizeArgs& a) {
  a.transparentIndex = -1;
  a.done = 0;
  const int32_t B = a.bytesPerPixel;
  if (B < 2 || B > 4 || a.width < 0 || a.height < 0 || !a.index || !a.palette) return;
  int wanted = a.colors < 1 ? 1 : a.colors > 256 ? 256 : a.colors;
  const bool hasKey = a.transparent >= 0;
  const uint32_t key = static_cast<uint32_t>(a.transparent) & 0xFFFFFF;

  std::vector<uint32_t> values;
  try {
    values.reserve(256);
  } catch (const std::bad_alloc&) {
    return;
  }
  if (ExactColors(a, wanted, values)) {
    for (size_t i = 0; i < values.size(); ++i) {
      uint8_t rgb[3] = {0, 0, 0};
      ReadPixelRGB(values[i], a.format, rgb);
      a.palette[i] = uint32_t{rgb[0]} << 16 | uint32_t{rgb[1]} << 8 | rgb[2];
      if (hasKey && a.transparentIndex < 0 && a.palette[i] == key) a.transparentIndex = static_cast<int32_t>(i);
    }
    a.colors = static_cast<int32_t>(values.size());
    a.done = 1;
    return;
  }

  const int limit = (!hasKey && !a.reserve) ? 256 : 255;
  if (wanted > limit) wanted = limit;
  Histogram h;
  std::vector<Box> boxes;
  std::unique_ptr<int16_t[]> errors;
  const size_t errCount = (static_cast<size_t>(a.width) + 2) * 3;
  try {
    boxes.reserve(static_cast<size_t>(wanted));
  } catch (const std::bad_alloc&) {
    return;
  }
  if (!h.Alloc()) return;
  if (a.dither) {
    errors.reset(new (std::nothrow) int16_t[errCount]);
    if (!errors) return;
    std::memset(errors.get(), 0, errCount * sizeof(int16_t));
  }

  auto rgbAt = [&](int32_t x, int32_t y, uint8_t* rgb) {
    ReadPixelRGB(RawPixel(a.pixels + (static_cast<intptr_t>(y) * a.rowLength + x) * B, B), a.format, rgb);
  };
  auto isKey = [&](const uint8_t* rgb) {
    return hasKey && rgb[0] == (key >> 16) && rgb[1] == ((key >> 8) & 0xFF) && rgb[2] == (key & 0xFF);
  };
  for (int32_t y = 0; y < a.height; ++y)
    for (int32_t x = 0; x < a.width; ++x) {
      uint8_t rgb[3];
      rgbAt(x, y, rgb);
      if (isKey(rgb)) continue;
      uint16_t& c = h.At(rgb[0] >> 3, rgb[1] >> 2, rgb[2] >> 3);
      if (c != 0xFFFF) ++c;
    }
  boxes.push_back({0, kR - 1, 0, kG - 1, 0, kB - 1, 0, 0});
  UpdateBox(h, boxes[0]);
  const int n = MedianCut(h, boxes, wanted);
  uint8_t map[256][3];
  for (int i = 0; i < n; ++i) BoxColor(h, boxes[static_cast<size_t>(i)], map[i]);
  h.Clear();

  auto lookup = [&](int r, int g, int b) {
    uint16_t& c = h.At(r >> 3, g >> 2, b >> 3);
    if (!c) FillRegion(h, map, n, r >> 3, g >> 2, b >> 3);
    return static_cast<uint8_t>(c - 1);
  };
  const uint8_t keyIndex = static_cast<uint8_t>(n);
  if (!a.dither) {
    for (int32_t y = 0; y < a.height; ++y)
      for (int32_t x = 0; x < a.width; ++x) {
        uint8_t rgb[3];
        rgbAt(x, y, rgb);
        a.index[static_cast<intptr_t>(y) * a.width + x] = isKey(rgb) ? keyIndex : lookup(rgb[0], rgb[1], rgb[2]);
      }
  } else {
    bool odd = false;
    for (int32_t y = 0; y < a.height; ++y, odd = !odd) {
      const int dir = odd ? -1 : 1;
      int32_t x = odd ? a.width - 1 : 0;
      int16_t* err = errors.get() + (odd ? (static_cast<size_t>(a.width) + 1) * 3 : 0);
      int32_t cur[3] = {0, 0, 0}, below[3] = {0, 0, 0}, prev[3] = {0, 0, 0};
      for (int32_t i = 0; i < a.width; ++i, x += dir, err += 3 * dir) {
        uint8_t rgb[3];
        rgbAt(x, y, rgb);
        uint8_t* out = &a.index[static_cast<intptr_t>(y) * a.width + x];
        int32_t e[3] = {0, 0, 0};
        if (isKey(rgb)) {
          *out = keyIndex;
        } else {
          int32_t v[3];
          for (int c = 0; c < 3; ++c) {
            v[c] = rgb[c] + DitherErrorLimit((cur[c] + err[3 * dir + c] + 8) >> 4);
            v[c] = v[c] < 0 ? 0 : v[c] > 255 ? 255 : v[c];
          }
          *out = lookup(v[0], v[1], v[2]);
          for (int c = 0; c < 3; ++c) e[c] = v[c] - map[*out][c];
        }
        // 3/16 behind below, 5/16 below, 1/16 ahead below, 7/16 ahead.
        for (int c = 0; c < 3; ++c) {
          const int32_t d = e[c] * 2;
          int32_t s = e[c] + d;  // x 3
          err[c] = static_cast<int16_t>(prev[c] + s);
          s += d;  // x 5
          prev[c] = below[c] + s;
          below[c] = e[c];
          cur[c] = s + d;  // x 7
        }
      }
      for (int c = 0; c < 3; ++c) err[c] = static_cast<int16_t>(prev[c]);
    }
  }
  for (int i = 0; i < n; ++i) a.palette[i] = uint32_t{map[i][0]} << 16 | uint32_t{map[i][1]} << 8 | map[i][2];
  a.colors = n;
  if (hasKey) {
    a.palette[n] = key;
    a.transparentIndex = n;
    a.colors = n + 1;
  } else if (a.reserve) {
    a.palette[n] = 0;
    a.colors = n + 1;
  }
  a.done = 1;
}

int32_t ReduceColors(const uint8_t* pixels, int32_t format, int32_t bpp, int32_t width, int32_t height,
                     int32_t rowLength, uint8_t* index, uint32_t* palette, int32_t* colors, int64_t transparent,
                     uint32_t reserve, uint32_t dither, int32_t* transparentIndex) {
  vlQuantizeArgs a;
  a.pixels = pixels;
  a.format = format;
  a.bytesPerPixel = bpp;
  a.width = width;
  a.height = height;
  a.rowLength = rowLength;
  a.index = index;
  a.palette = palette;
  a.colors = colors ? *colors : 256;
  a.transparent = transparent;
  a.reserve = reserve;
  a.dither = dither;
  MedianCutQuantize(a);
  if (!a.done) return 0;
  if (colors) *colors = a.colors;
  if (transparentIndex) *transparentIndex = a.transparentIndex;
  return 1;
}

int32_t QuantizeBitmap(vlBitmap* bitmap, int32_t width, int32_t height, int32_t colors, int32_t dither) {
  if (!bitmap || width <= 0 || height <= 0) return 0;
  std::unique_ptr<uint8_t[]> index(new (std::nothrow) uint8_t[static_cast<size_t>(width) * height]);
  if (!index) return ERR_MEM;
  vlPixelAccess acc;
  if (!LockPixels(bitmap, 0, &acc)) return ERR_LOCKBMAP;
  if (width > acc.width) width = acc.width;
  if (height > acc.height) height = acc.height;
  uint32_t palette[256];
  int32_t count = colors;
  if (!ReduceColors(acc.pixels, acc.format, acc.bytesPerPixel, width, height, acc.rowLength, index.get(), palette,
                    &count, -1, 0, dither ? 1 : 0, nullptr)) {
    UnlockPixels(bitmap, &acc);
    return ERR_MEM;
  }
  uint32_t pix[256];
  for (int32_t i = 0; i < count; ++i) pix[i] = ColorToPixel(palette[i], acc.format, 0);
  const int32_t B = acc.bytesPerPixel;
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* p = acc.pixels + static_cast<intptr_t>(y) * acc.rowLength * B;
    for (int32_t x = 0; x < width; ++x, p += B) {
      const uint32_t v = pix[index[static_cast<size_t>(y) * width + x]];
      if (B == 4) {
        std::memcpy(p, &v, 4);
      } else if (B == 2) {
        const uint16_t s = static_cast<uint16_t>(v);
        std::memcpy(p, &s, 2);
      } else if (B == 3) {
        p[0] = static_cast<uint8_t>(v >> 16);
        p[1] = static_cast<uint8_t>(v >> 8);
        p[2] = static_cast<uint8_t>(v);
      }
    }
  }
  UnlockPixels(bitmap, &acc);
  return 0;
}
