// The swirl and water-ripple kernels: every target pixel takes the source
// pixel (with its mask bit and alpha byte) at a displaced position. The
// brush effects run them in place; the swirl and ripple transitions fill
// the second source, the source alpha plane and the fade fields as well.
#pragma once
#include <cstdint>

inline constexpr int32_t kVlWarpTableSize = 6300;  // angles i * 0.001 radians

// 6300 sines and cosines of i * 0.001 (the angle accumulated by adding).
void BuildSwirlTables(double* sines, double* cosines);
// The sine table and d(x, y) = floor(sqrt((x - cx)^2 + (y - cy)^2)) for
// every pixel of the w x h rectangle in row order.
void BuildRippleTable(double* sines, int32_t* distances, int32_t w, int32_t h, int32_t cx, int32_t cy);

struct vlSwirlJob {
  const uint8_t* source = nullptr;  // null: a copy of the target is read
  const uint8_t* second = nullptr;  // transitions: blended with the source by the fade
  uint8_t* target = nullptr;
  int32_t sourceRow = 0, secondRow = 0, targetRow = 0;  // pixels
  const double* sines = nullptr;
  const double* cosines = nullptr;
  int32_t format = 0;
  int32_t width = 0, height = 0;
  int32_t fadeOut = 0;  // transitions: the alpha fades from 255 down
  const uint8_t* sourceAlpha = nullptr;  // null: brush mode
  int32_t sourceAlphaRowBytes = 0;
  uint8_t* targetAlpha = nullptr;
  int32_t targetAlphaRowBytes = 0;
  const uint8_t* sourceMask = nullptr;  // null: a copy of the target mask
  int32_t sourceMaskRowBytes = 0;
  uint8_t* targetMask = nullptr;
  int32_t targetMaskRowBytes = 0;
};
// degrees: the swirl angle at the centre (the engine keeps it in -359..359).
void SwirlPix16(const vlSwirlJob& job, int32_t degrees);
void SwirlPix32(const vlSwirlJob& job, int32_t degrees);

struct vlRippleJob {
  const uint8_t* source = nullptr;  // null: a copy of the target is read
  const uint8_t* second = nullptr;
  uint8_t* target = nullptr;
  int32_t sourceRow = 0, secondRow = 0, targetRow = 0;
  const int32_t* distances = nullptr;  // w x h
  const double* sines = nullptr;
  double waveLength = 1, amplitude = 0;
  double amplitudeStep = 0;  // transitions
  int32_t steps = 1;
  int32_t width = 0, height = 0;
  int32_t format = 0;
  int32_t fadeOut = 0;
  const uint8_t* sourceAlpha = nullptr;  // null: brush mode
  int32_t sourceAlphaRowBytes = 0;
  uint8_t* targetAlpha = nullptr;
  int32_t targetAlphaRowBytes = 0;
  int32_t centerX = 0, centerY = 0;
  const int32_t* cursor = nullptr;  // the next pixel's distance (kernel-owned)
  double radius = 0;
  int32_t sourceX = 0, sourceY = 0;  // the last displacement
  double phase = 0;
  const uint8_t* sourceMask = nullptr;  // null: a copy of the target mask
  int32_t sourceMaskRowBytes = 0;
  uint8_t* targetMask = nullptr;
  int32_t targetMaskRowBytes = 0;
};
// The source position of target pixel (x, y) into sourceX/sourceY; takes
// the distance at the cursor and advances it.
void RipplePoint(int32_t x, int32_t y, vlRippleJob& job);
// frame -1: the brush effect at the job's phase and amplitude; otherwise
// the transition frame (phase = frame, amplitude rising then falling by
// the amplitude step).
void WaterRipplePix16(vlRippleJob& job, int32_t frame);
void WaterRipplePix32(vlRippleJob& job, int32_t frame);
