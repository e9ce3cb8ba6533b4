// The sixteen pixel formats and the conversion of ARGB colours to and from
// pixel values: the layout of a pixel, which the platform's windows and
// offscreen bitmaps need as much as the drawing code above them. All
// inline, so nothing here needs linking.
#pragma once
#include <cstdint>

using vlPixelFormat = int32_t;
using vlColor = uint32_t;

enum : vlPixelFormat {
  VL_PIXFMT_RGB15 = 0,
  VL_PIXFMT_BGR15 = 1,
  VL_PIXFMT_RGB15_SWAPPED = 2,
  VL_PIXFMT_BGR15_SWAPPED = 3,
  VL_PIXFMT_RGB16 = 4,
  VL_PIXFMT_BGR16 = 5,
  VL_PIXFMT_RGB16_SWAPPED = 6,
  VL_PIXFMT_BGR16_SWAPPED = 7,
  VL_PIXFMT_RGB24 = 8,
  VL_PIXFMT_BGR24 = 9,
  VL_PIXFMT_ARGB32 = 10,  // 0xAARRGGBB, bytes B G R A
  VL_PIXFMT_BGRA32 = 11,  // 0xBBGGRRAA, bytes A R G B
  VL_PIXFMT_RGBA32 = 12,  // 0xRRGGBBAA, bytes A B G R
  VL_PIXFMT_ABGR32 = 13,  // 0xAABBGGRR, bytes R G B A
  VL_PIXFMT_ALPHA8 = 14,
  VL_PIXFMT_MASK1 = 15,
};

inline constexpr int32_t kVlBitsPerPixel[14] = {15, 15, 15, 15, 16, 16, 16, 16, 24, 24, 32, 32, 32, 32};
inline constexpr int32_t kVlBytesPerPixel[14] = {2, 2, 2, 2, 2, 2, 2, 2, 3, 3, 4, 4, 4, 4};

// 0 for the planes and for any code outside the table.
constexpr int32_t BitsPerPixelOfFormat(vlPixelFormat f) {
  return f >= 0 && f <= 13 ? kVlBitsPerPixel[f] : 0;
}
constexpr int32_t BytesPerPixelOfFormat(vlPixelFormat f) {
  return f >= 0 && f <= 13 ? kVlBytesPerPixel[f] : 0;
}

constexpr uint32_t SwapPixelBytes16(uint32_t v) { return ((v & 0xFF) << 8) | ((v >> 8) & 0xFF); }

// Channel reduction drops the low bits; nothing is rounded.
constexpr uint32_t ColorToPixel(vlColor c, vlPixelFormat f, int withAlpha) {
  const uint32_t r = (c >> 16) & 0xFF, g = (c >> 8) & 0xFF, b = c & 0xFF;
  const uint32_t a = withAlpha ? c >> 24 : 0;
  uint32_t v = 0;
  switch (f) {
    case 0: case 2: v = (r >> 3) << 10 | (g >> 3) << 5 | b >> 3; break;
    case 1: case 3: v = (b >> 3) << 10 | (g >> 3) << 5 | r >> 3; break;
    case 4: case 6: v = (r >> 3) << 11 | (g >> 2) << 5 | b >> 3; break;
    case 5: case 7: v = (b >> 3) << 11 | (g >> 2) << 5 | r >> 3; break;
    case 8: return r << 16 | g << 8 | b;
    case 9: return b << 16 | g << 8 | r;
    case 10: return a << 24 | r << 16 | g << 8 | b;
    case 11: return b << 24 | g << 16 | r << 8 | a;
    case 12: return r << 24 | g << 16 | b << 8 | a;
    case 13: return a << 24 | b << 16 | g << 8 | r;
    default: return 0;
  }
  return (f == 2 || f == 3 || f == 6 || f == 7) ? SwapPixelBytes16(v) : v;
}

// Expansion shifts left only (low bits 0), so a colour read back from a
// 15- or 16-bit pixel is not the colour written. The 24-bit formats give 0
// here; ReadRawPixelColor reads them.
constexpr vlColor PixelToColor(uint32_t p, vlPixelFormat f, int withAlpha) {
  if (f >= 0 && f <= 7) {
    uint32_t v = p & 0xFFFF;
    if (f == 2 || f == 3 || f == 6 || f == 7) v = SwapPixelBytes16(v);
    if (f <= 3) v = ((v & 0x7FE0) << 1) | (v & 0x1F);  // 5-5-5 widened to 5-6-5
    uint32_t hi = (v >> 11) << 3, g = ((v >> 5) & 0x3F) << 2, lo = (v & 0x1F) << 3;
    const bool bgr = f == 1 || f == 3 || f == 5 || f == 7;
    return bgr ? (lo << 16 | g << 8 | hi) : (hi << 16 | g << 8 | lo);
  }
  uint32_t r, g, b, a;
  switch (f) {
    case 10: return withAlpha ? p : p & 0xFFFFFF;
    case 11: b = p >> 24; g = (p >> 16) & 0xFF; r = (p >> 8) & 0xFF; a = p & 0xFF; break;
    case 12: r = p >> 24; g = (p >> 16) & 0xFF; b = (p >> 8) & 0xFF; a = p & 0xFF; break;
    case 13: a = p >> 24; b = (p >> 16) & 0xFF; g = (p >> 8) & 0xFF; r = p & 0xFF; break;
    default: return 0;
  }
  return (withAlpha ? a << 24 : 0) | r << 16 | g << 8 | b;
}

// A 3-byte value of format 8 (0xRRGGBB) or 9 (0xBBGGRR) as 0x00RRGGBB.
constexpr vlColor Pixel24ToColor(uint32_t p, vlPixelFormat f) {
  return f == 8 ? p & 0xFFFFFF : (p & 0xFF) << 16 | (p & 0xFF00) | ((p >> 16) & 0xFF);
}

// A picture's pixels as they lie in memory, handed down by the floor that
// owns the picture (and locked by it for as long as the record is used):
// what the window code draws from, or fills in for a grab. Rows are
// rowBytes apart; width and height bound every rectangle read or written.
struct vlPixelRecord {
  uint8_t* pixels = nullptr;
  int32_t rowBytes = 0;
  vlPixelFormat format = 0;
  int32_t bytesPerPixel = 0;
  int32_t width = 0;
  int32_t height = 0;
};
