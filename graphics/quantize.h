// The colour quantizer behind GIF and ILBM saving and QuantizeBrush: at
// most 256 palette colours plus one byte per pixel. Pictures with few
// enough distinct colours keep them exactly; others go through a two-pass
// median cut over a 5-6-5 histogram, optionally with a limited
// Floyd-Steinberg dither.
#pragma once
#include <cstdint>

struct vlBitmap;

struct vlQuantizeArgs {
  const uint8_t* pixels = nullptr;
  int32_t format = 10;
  int32_t bytesPerPixel = 4;  // 2, 3 or 4
  int32_t width = 0, height = 0;
  int32_t rowLength = 0;  // pixels
  uint8_t* index = nullptr;     // width x height bytes
  uint32_t* palette = nullptr;  // 256 entries 0x00RRGGBB
  int32_t colors = 256;         // in: wanted; out: palette entries
  int64_t transparent = -1;     // 0xRRGGBB or -1
  uint32_t reserve = 0;         // keep one entry back even without a transparent colour
  uint32_t dither = 0;
  uint32_t done = 0;              // out: 1 on success
  int32_t transparentIndex = -1;  // out
};

void MedianCutQuantize(vlQuantizeArgs& args);

// 1 when done, 0 when memory ran out (nothing written then).
int32_t ReduceColors(const uint8_t* pixels, int32_t format, int32_t bytesPerPixel, int32_t width, int32_t height,
                     int32_t rowLength, uint8_t* index, uint32_t* palette, int32_t* colors, int64_t transparent,
                     uint32_t reserve, uint32_t dither, int32_t* transparentIndex);

// Reduces a picture in place to at most colors colours; 0, ERR_MEM or
// ERR_LOCKBMAP.
int32_t QuantizeBitmap(vlBitmap* bitmap, int32_t width, int32_t height, int32_t colors, int32_t dither);

// The dither's limit on a channel error (-255..255): small errors pass,
// larger ones are damped and capped at 32.
int32_t DitherErrorLimit(int32_t error);

// R, G, B of one pixel value of formats 0-13 (5- and 6-bit channels
// shifted left); 3-byte values are the memory bytes as b0 << 16 | b1 << 8 | b2.
void ReadPixelRGB(uint32_t pixel, int32_t format, uint8_t* rgb);
