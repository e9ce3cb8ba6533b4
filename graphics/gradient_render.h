// Linear, radial and conical gradients through up to 64 colour stops,
// rendered into a rectangle of a locked picture.
#pragma once
#include <cstdint>

struct vlBitmap;

enum : uint32_t { VL_GRADIENT_LINEAR = 2, VL_GRADIENT_RADIAL = 3, VL_GRADIENT_CONICAL = 4 };
inline constexpr int32_t kVlMaxGradientStops = 64;

struct vlGradientColorStop {
  uint32_t color;   // 0xRRGGBB
  double position;  // 0..1
};

struct vlGradientDesc {
  uint32_t type = VL_GRADIENT_LINEAR;
  uint32_t startColor = 0, endColor = 0;
  int32_t stopCount = 0;  // 0, or 2..64
  int32_t angle = 0;      // degrees
  vlGradientColorStop stops[kVlMaxGradientStops] = {};
  double centerX = 0.5, centerY = 0.5;  // fractions of the rectangle
  double balance = 0.5, border = 0;
};

struct vlGradientJob {
  uint8_t* pixels = nullptr;
  int32_t bytesPerPixel = 4;  // 2 or 4; others draw nothing
  int32_t format = 10;
  int32_t left = 0, top = 0, width = 0, height = 0;  // the gradient's rectangle
  int32_t rowLength = 0;                             // pixels
  int32_t bufferWidth = 0, bufferHeight = 0;          // pixels outside the buffer are skipped
  const vlGradientDesc* gradient = nullptr;
};

void RenderGradient(const vlGradientJob& job);
// Locks the picture and renders into the rectangle (cut at its edges);
// 0 or ERR_LOCKBMAP.
int32_t DrawGradient(vlBitmap* bitmap, int32_t x, int32_t y, int32_t width, int32_t height,
                     const vlGradientDesc* gradient);
