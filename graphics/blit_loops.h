// The inner loops of the software blitter for pixels copied through an
// 8-bit coverage plane (plain alpha blend, masked copy, blend over a
// target with its own alpha), and two small converters: pixels to ARGB
// words and the alpha bytes of ARGB words.
#pragma once
#include <cstdint>

struct vlBlitJob {
  const uint8_t* source = nullptr;
  int32_t sourceX = 0, sourceY = 0;
  int32_t planeX = 0, planeY = 0;  // the coverage plane's position (normally the source's)
  int32_t sourceRow = 0;           // pixels
  uint8_t* target = nullptr;
  int32_t targetX = 0, targetY = 0;
  int32_t targetRow = 0;
  int32_t width = 0, height = 0;
  const uint8_t* coverage = nullptr;  // 8 bits per pixel
  int32_t coverageRowBytes = 0;
  const uint8_t* targetAlpha = nullptr;  // read by mode 2; null counts as opaque
  int32_t targetAlphaRowBytes = 0;
  int32_t format = 0;
};

enum : int32_t { VL_ALPHABLIT_BLEND = 0, VL_ALPHABLIT_MASKED = 1, VL_ALPHABLIT_OVER = 2 };

// Coverage byte non-zero: the source pixel is copied as it is.
void BlitMaskedPix16(const vlBlitJob& job);
void BlitMaskedPix32(const vlBlitJob& job);
// Source over a target that has an alpha plane of its own.
void BlitAlphaPix16(const vlBlitJob& job);
void BlitAlphaPix32(const vlBlitJob& job);
// Mode 0 blends by the coverage (AlphaBlendPix), 1 is the masked copy,
// 2 the blend over the target's alpha; 2-, 3- and 4-byte pixels.
void AlphaBlitPixels(const vlBlitJob& job, int32_t bytesPerPixel, int32_t mode);

// A 4-byte pixel of formats 10-13 as 0xAARRGGBB. Formats 12 and 13 drop
// their alpha byte unless keepAlpha rotates it to the top.
uint32_t Pixel32ToARGB(uint32_t pixel, int32_t format, int keepAlpha);
// rect: x, y, w, h. Formats 4 and 10-13 only (fast paths where there are).
void ReadPixelsARGB(const uint8_t* pixels, uint32_t* out, const int32_t* rect, int32_t rowLength,
                    int32_t bytesPerPixel, int32_t format);
// ARGB words into pixels of the format: its fast path, else the kernels'
// fromARGB. Row lengths in pixels.
struct vlPixelKernels;
void WriteARGBPixels(const vlPixelKernels& kernels, int32_t format, const uint32_t* argb, int32_t argbRow,
                     uint8_t* dst, int32_t dstRow, int32_t w, int32_t h);
void ExtractAlphaBytes(const uint32_t* argb, int32_t width, int32_t height, int32_t rowLength, uint8_t* out,
                       int32_t outRowBytes);
