// The per-pixel loops behind the picture effects: gray, invert, mix,
// colour-key masks, flips, pixelation, solarize, gamma, sepia and
// monochrome, plus the integer square root and the RGB to HSL conversion
// the warp and modulate kernels use. Each works
// on a locked buffer (first pixel, width, height, row length in pixels):
// the 32-bit variant for formats 10-13, the 16-bit one for formats 0-7.
// None allocates or reports errors. Flood fill and colour replacement
// are in fill_kernels.h.
#pragma once
#include <cstdint>

// floor(sqrt(n)); -1 for a negative n.
int32_t IntSqrt(int32_t n);
// Hue, saturation and lightness in 0..1 (hue and saturation 0 for grey).
void RGBToHSL(int32_t r, int32_t g, int32_t b, double* hue, double* saturation, double* lightness);

// Two-level: white where the luma is above 128, black elsewhere.
void GrayPix32(uint8_t* pixels, int32_t w, int32_t h, int32_t format, int32_t rowLength, int twoLevel);
void GrayPix16(uint8_t* pixels, int32_t w, int32_t h, int32_t format, int32_t rowLength, int twoLevel);
void InvertPix32(uint8_t* pixels, int32_t w, int32_t h, int32_t rowLength);
void InvertPix16(uint8_t* pixels, int32_t w, int32_t h, int32_t rowLength);
void InvertPlaneBytes(uint8_t* plane, int32_t height, int32_t rowBytes);

struct vlMixJob {
  const uint8_t* source;
  uint8_t* target;
  const uint8_t* mask;  // or null: every pixel
  int32_t maskBit;      // bit offset into each mask row
  // The pixels mixed toward (rows of towardRow pixels), or null: the
  // target's own. With them a mix writes its result without a copy first.
  const uint8_t* toward = nullptr;
  int32_t towardRow = 0;
};
// target = s + (((d - s) * (255 - ratio)) >> 8) where the mask bit is set,
// d the toward pixel (the target's own without toward pixels); elsewhere
// the target stays.
void MixPix32(const vlMixJob& job, int32_t w, int32_t h, int32_t ratio, int32_t format, int32_t srcRow,
              int32_t dstRow, int32_t maskRowBytes);
void MixPix16(const vlMixJob& job, int32_t w, int32_t h, int32_t ratio, int32_t format, int32_t srcRow,
              int32_t dstRow, int32_t maskRowBytes);

// Mask bit cleared where the pixel equals the key, set elsewhere.
void MaskFromKeyPix32(const uint8_t* pixels, uint8_t* mask, int32_t w, int32_t h, int32_t maskRowBytes,
                      uint32_t key, int32_t rowLength, uint32_t compareMask);
void MaskFromKeyPix16(const uint8_t* pixels, uint8_t* mask, int32_t w, int32_t h, int32_t maskRowBytes,
                      uint32_t key, int32_t rowLength);
// The part of a 32-bit pixel that holds its colour: 0x00FFFFFF for formats
// 10 and 13, 0xFFFFFF00 for 11 and 12.
uint32_t ColorCompareMask(int32_t format);

struct vlFlipJob {
  uint8_t* pixels;  // or null
  int32_t width, height, rowLength;
  uint8_t* mask;  // or null
  int32_t maskRowBytes;
  uint8_t* alpha;  // or null
  int32_t alphaRowBytes;
  int32_t mirror;  // 0 exchanges rows, non-zero mirrors columns
  int32_t bytesPerPixel;
  uint8_t* scratchMaskRow;  // maskRowBytes bytes, needed to mirror a mask
};
void FlipPixels(const vlFlipJob& job);

struct vlPixelateJob {
  const uint8_t* srcPixels;
  uint8_t* dstPixels;
  const uint8_t* srcMask;  // or null
  uint8_t* dstMask;
  const uint8_t* srcAlpha;  // or null
  uint8_t* dstAlpha;
  int32_t srcRow, dstRow;  // pixels
  int32_t srcMaskRowBytes, dstMaskRowBytes;
  int32_t srcAlphaRowBytes, dstAlphaRowBytes;
  int32_t width, height;
  int32_t block;
};
void PixelatePix32(const vlPixelateJob& job);
void PixelatePix16(const vlPixelateJob& job);


void SolarizePix32(uint8_t* pixels, int32_t w, int32_t h, int32_t rowLength, int32_t format, int32_t threshold);
void SolarizePix16(uint8_t* pixels, int32_t w, int32_t h, int32_t rowLength, int32_t format, int32_t threshold);

struct vlGammaJob {
  uint8_t* pixels;
  int32_t width, height, rowLength, format;
  const uint8_t* red;
  const uint8_t* green;
  const uint8_t* blue;
  int32_t flags;  // 1 red, 2 green, 4 blue
};
void GammaPix32(const vlGammaJob& job);
void GammaPix16(const vlGammaJob& job);
void BuildGammaTable(uint8_t* table, double gamma);

void SepiaPix32(uint8_t* pixels, int32_t w, int32_t h, int32_t rowLength, int32_t format, int32_t threshold);
void SepiaPix16(uint8_t* pixels, int32_t w, int32_t h, int32_t rowLength, int32_t format, int32_t threshold);
// Non-zero index bytes (w x h, no padding) become white, zero ones 0.
void MonoPix32(uint8_t* pixels, int32_t w, int32_t h, int32_t format, int32_t rowLength, const uint8_t* index);
void MonoPix16(uint8_t* pixels, int32_t w, int32_t h, int32_t format, int32_t rowLength, const uint8_t* index);
