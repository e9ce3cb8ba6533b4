// Pixel buffers that the readers hand out: width x height 32-bit words from
// AllocMemory, released with FreeMemory. Sizes are checked before anything
// is allocated, so a damaged header cannot overflow the arithmetic.
#pragma once
#include <cstddef>
#include <cstdint>

// The largest picture the readers decode (8192 x 8192 and the like).
inline constexpr int64_t kMaxPicturePixels = int64_t{1} << 26;

// True when a width x height picture is within the limits (both > 0).
inline bool PictureSizeOk(int64_t width, int64_t height) {
  return width > 0 && height > 0 && width <= kMaxPicturePixels && height <= kMaxPicturePixels &&
         width * height <= kMaxPicturePixels;
}

// A new buffer of width x height words (cleared when asked), or null when the
// size is out of range or memory is short.
uint32_t* AllocPixelBuffer(int64_t width, int64_t height, int clear);

// Scales width x height ARGB words into a new newWidth x newHeight buffer
// (AllocMemory; nearest or, with smooth, interpolated), or null.
uint32_t* ScaleARGBPixels(const uint32_t* pixels, int32_t width, int32_t height, int32_t newWidth,
                          int32_t newHeight, int smooth);
