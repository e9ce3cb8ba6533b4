// Scales one rectangle of locked pixels, with its mask or alpha plane, by
// nearest neighbour (16.16 column steps) or bilinear interpolation.
#pragma once
#include <cstdint>

struct vlScaleJob {
  const uint8_t* srcPixels;  // at (x, y); null for planes only
  uint8_t* dstPixels;
  const uint8_t* srcMask;    // at row y; null without a mask
  uint8_t* dstMask;
  const uint8_t* srcAlpha;   // at (x, y); null without alpha
  uint8_t* dstAlpha;
  int32_t x;                 // bit offset into each source mask row
  int32_t y;
  int32_t srcWidth, srcHeight;
  int32_t dstWidth, dstHeight;
  int32_t srcRowLength, dstRowLength;  // pixels
  int32_t srcMaskRowBytes, dstMaskRowBytes;
  int32_t srcAlphaRowBytes, dstAlphaRowBytes;
  int32_t smooth;
  int32_t format;
  int32_t bytesPerPixel;
  // Smooth-mode tables of at least dstWidth + 1 and dstHeight + 1 entries;
  // null ones are made for the call.
  uint16_t* xFraction;
  uint16_t* yFraction;
  int32_t* xStep;
  int32_t* yStep;
};

void ScalePixels(const vlScaleJob& job);

// Smooth scaling of 32-bit pixels whose source rows are made on demand:
// row(context, sy, out) writes the srcWidth pixels of source row sy, each
// row asked for once, in order. The result is that of scaling the whole
// source picture, without one. The job's source pixels and planes are not
// read. The row function may scale other pictures meanwhile. False, with
// nothing written, when the format has no fast path or memory is short.
struct vlMadeRows {
  void (*row)(void* context, int32_t sy, uint8_t* out);
  void* context;
};
bool ScaleMadeRowsSmooth(const vlScaleJob& job, const vlMadeRows& made);
