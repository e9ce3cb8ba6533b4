// Draws a picture with its mask or alpha plane through a 2 x 2 matrix with
// offsets (rotation, shearing, free scaling), by nearest sample or
// bilinear interpolation, working backwards from each target pixel.
#pragma once
#include <cstdint>

struct vlAffineJob {
  const uint8_t* source = nullptr;
  int32_t sourceRow = 0;  // pixels
  int32_t sourceWidth = 0, sourceHeight = 0;
  uint8_t* target = nullptr;
  int32_t targetRow = 0;
  int32_t targetWidth = 0, targetHeight = 0;
  int32_t bytesPerPixel = 4;  // 2, 3 or 4, both sides
  int32_t format = 10;
  const uint8_t* sourceMask = nullptr;  // or null
  int32_t sourceMaskRowBytes = 0;
  int32_t sourceMaskBit = 0;  // horizontal bit offset into each source mask row
  uint8_t* targetMask = nullptr;
  int32_t targetMaskRowBytes = 0;
  const uint8_t* sourceAlpha = nullptr;  // or null
  int32_t sourceAlphaRowBytes = 0;
  uint8_t* targetAlpha = nullptr;
  int32_t targetAlphaRowBytes = 0;
  int32_t smooth = 0;
  // Forward: (x, y) -> (sx x + ry y + tx, rx x + sy y + ty).
  double sx = 1, rx = 0, ry = 0, sy = 1, tx = 0, ty = 0;
};

// Each target pixel samples the source at the inverse image of its
// centre. A matrix without an inverse draws nothing.
void AffineRenderPix(const vlAffineJob& job);
