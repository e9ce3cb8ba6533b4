// The innermost pixel loops: single-pixel conversions between the stored
// formats and the working orders (0x00RRGGBB for 4-byte pixels, RGB565 for
// 2-byte pixels), and the rectangle loops that run after the caller has
// clipped and locked. None clips, allocates or fails.
#pragma once
#include <cstdint>

// Single-pixel conversions.
uint32_t pixPack32(int32_t format, uint32_t rgb);
uint32_t pixUnpack32(int32_t format, uint32_t pixel);
uint32_t pixPack16(int32_t format, uint32_t rgb565);
uint32_t pixUnpack16(int32_t format, uint32_t pixel);
// Three bytes R, G, B of one pixel (formats 0-7 and 10-13; 8 and 9 give 0s).
void pixUnpackRGB(int32_t format, const uint8_t* pixel, uint8_t* rgb);
// Writes nothing for formats 8, 9 and the planes.
void pixPackRGB(int32_t format, const uint8_t* rgb, uint8_t* pixel);

// One blend step of a channel: d + (((c - d) * a) >> 8), arithmetic shift.
constexpr int32_t BlendChannel(int32_t d, int32_t c, int32_t a) { return d + (((c - d) * a) >> 8); }

// Pointers address the rectangle's first pixel; row lengths are in pixels,
// plane rows in bytes; mask kernels start at bitOffset of each mask row.
struct vlPixelKernels {
  void (*fill)(uint8_t* dst, int32_t dstRow, int32_t w, int32_t h, uint32_t pixel);
  // The colour in the working order.
  void (*blendColor)(uint8_t* dst, int32_t dstRow, int32_t w, int32_t h, uint32_t work, int32_t alpha);
  void (*copy)(const uint8_t* src, int32_t srcRow, uint8_t* dst, int32_t dstRow, int32_t w, int32_t h);
  void (*copyMasked)(const uint8_t* src, int32_t srcRow, uint8_t* dst, int32_t dstRow, int32_t w, int32_t h,
                     const uint8_t* mask, int32_t maskRowBytes, int32_t bitOffset);
  void (*alphaBlend)(const uint8_t* src, int32_t srcRow, uint8_t* dst, int32_t dstRow, int32_t w, int32_t h,
                     const uint8_t* alpha, int32_t alphaRowBytes);
  void (*paintMask)(uint8_t* dst, int32_t dstRow, int32_t w, int32_t h, const uint8_t* mask, int32_t maskRowBytes,
                    int32_t bitOffset, uint32_t pixel);
  void (*fromARGB)(const uint32_t* argb, int32_t argbRow, uint8_t* dst, int32_t dstRow, int32_t w, int32_t h);
};

// Colour (or texture) through an 8-bit coverage plane; see AlphaChannelPix.
struct vlAlphaChannelJob {
  uint8_t* dst;
  int32_t dstRow;
  int32_t width, height;
  const uint8_t* coverage;
  int32_t coverageRowBytes;
  uint32_t color;          // working order
  const uint8_t* texture;  // same format as dst, or null
  int32_t textureRow;
  uint8_t* targetAlpha;    // or null
  int32_t targetAlphaRowBytes;
  int32_t intensity;       // 0-255
  int32_t mode;
};

// The kernels of one pixel format; null for the 24-bit formats and the
// planes, which the software paths leave untouched.
const vlPixelKernels* PixelKernelsFor(int32_t format);
// The same, with the 24-bit formats too (working order 0x00RRGGBB): the
// blits between pictures answer every pair of colour formats.
const vlPixelKernels* BlitKernelsFor(int32_t format);
void AlphaChannelPixels(int32_t format, const vlAlphaChannelJob& job);

// Plane loops.
void FillAlphaBytes(uint8_t* dst, int32_t rowBytes, int32_t w, int32_t h, uint8_t value);
void ScaleAlphaBytes(const uint8_t* src, uint8_t* dst, int32_t count, int32_t intensity);
// CoverOver (graphics/cover_over.h) pixel by pixel over count pixels:
// rgb with coverage a over underRgb with coverage under, into outRgb and
// outCover (which may be rgb and a).
void CoverOverRow(const uint32_t* rgb, const uint8_t* a, const uint32_t* underRgb, const uint8_t* under,
                  uint32_t* outRgb, uint8_t* outCover, int32_t count);
void MaskToAlphaValue(const uint8_t* mask, int32_t maskRowBytes, int32_t bitOffset, uint8_t* alpha,
                      int32_t alphaRowBytes, int32_t w, int32_t h, uint8_t value);
void CombineAlphaRect(const uint8_t* src, int32_t srcRowBytes, uint8_t* dst, int32_t dstRowBytes, int32_t w,
                      int32_t h, int32_t mode, int32_t value);
void AlphaToMaskRect(const uint8_t* alpha, int32_t alphaRowBytes, uint8_t* mask, int32_t maskRowBytes,
                     int32_t bitOffset, int32_t w, int32_t h, int32_t mode);
// Mask modes 0-5 over a rectangle of bits (fill) or from a source mask.
void FillMaskBits(uint8_t* mask, int32_t rowBytes, int32_t x, int32_t y, int32_t w, int32_t h, int32_t mode);
void CopyMaskBits(const uint8_t* src, int32_t srcRowBytes, int32_t sx, int32_t sy, uint8_t* dst,
                  int32_t dstRowBytes, int32_t dx, int32_t dy, int32_t w, int32_t h, int32_t mode);

// Combines a clip mask with a source mask or alpha plane into a temporary
// plane, row by row from the rectangle's first row.
struct vlSafeBltMaskJob {
  const uint8_t* clip;  int32_t clipRowBytes;  int32_t clipBit;
  const uint8_t* srcMask;  int32_t srcMaskRowBytes;  int32_t srcBit;  // or null
  const uint8_t* srcAlpha; int32_t srcAlphaRowBytes;                  // or null
  uint8_t* out;  int32_t outRowBytes;  int32_t outBit;  // bits, or bytes with srcAlpha
  int32_t width, height;
};
void SafeBltMaskLoop(const vlSafeBltMaskJob& job);

inline int GetMaskBit(const uint8_t* row, int32_t i) { return (row[i >> 3] >> (7 - (i & 7))) & 1; }
inline void SetMaskBit(uint8_t* row, int32_t i, int on) {
  const uint8_t b = static_cast<uint8_t>(0x80u >> (i & 7));
  if (on) row[i >> 3] |= b;
  else row[i >> 3] &= static_cast<uint8_t>(~b);
}
