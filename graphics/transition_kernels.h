// Per-frame pixel work of the dissolve and roll transitions. The transition
// engine owns the pictures, planes and tables; these only read and write them.
#pragma once
#include <cstdint>

struct vlDissolveJob {
  const uint8_t* source = nullptr;  // the object's alpha bytes or mask bits; may be null
  uint8_t* target = nullptr;
  int32_t width = 0, height = 0;
  int32_t sourceRowBytes = 0, targetRowBytes = 0;
  const uint8_t* orderMap = nullptr;  // width x height bytes, no padding
  int32_t bytePlanes = 0;             // non-zero: 8-bit alpha planes; zero: 1-bit masks
  int32_t disappear = 0;              // 0 appear, non-zero disappear
};

// Pixels whose map byte is below level (0 to 255) have switched state.
void DissolveKernel(const vlDissolveJob& job, int32_t level);

struct vlRegionCopy {
  const uint8_t* sourcePixels = nullptr;
  uint8_t* targetPixels = nullptr;
  const uint8_t* sourceMask = nullptr;
  uint8_t* targetMask = nullptr;
  const uint8_t* sourceAlpha = nullptr;
  uint8_t* targetAlpha = nullptr;
  int32_t sourceRow = 0, targetRow = 0;  // in pixels
  int32_t sourceMaskRowBytes = 0, targetMaskRowBytes = 0;
  int32_t sourceAlphaRowBytes = 0, targetAlphaRowBytes = 0;
};

// Copies a rectangle with its mask or alpha plane; the caller has clipped.
int RegionCopyPix32(const vlRegionCopy& rc, int32_t sx, int32_t sy, int32_t w, int32_t h, int32_t tx, int32_t ty);
int RegionCopyPix16(const vlRegionCopy& rc, int32_t sx, int32_t sy, int32_t w, int32_t h, int32_t tx, int32_t ty);

struct vlRollJob {
  vlRegionCopy copy;
  int32_t width = 0, height = 0;  // of both pictures
  const double* offsets = nullptr;  // one per strip
  int32_t columns = 0;              // non-zero: columns, zero: rows
  int32_t count = 0;                // strips n
  int32_t position = 0;             // roll position p
  int32_t bytesPerPixel = 0;
  // Results.
  int32_t copied = 0;
  int32_t firstStrip = -100000;  // none written
  int32_t resultPosition = 0;
};

// Copies the strips of one step that land inside the picture.
void RollEffectKernel(vlRollJob& job);
