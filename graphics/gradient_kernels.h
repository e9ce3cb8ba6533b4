// Colour of a gradient at a position: stops in 16.16 units (0x10000 is
// the gradient's length), a spread mode, and the current segment kept
// between calls.
#pragma once
#include <cstdint>

struct vlGradientStop {
  int32_t position;  // 16.16
  uint32_t color;    // 0x00RRGGBB
  uint32_t reserved;
};

enum : int32_t { VL_SPREAD_NONE = 0, VL_SPREAD_REPEAT = 1, VL_SPREAD_PAD = 2, VL_SPREAD_REFLECT = 3 };

struct vlGradient {
  const vlGradientStop* stops = nullptr;
  int32_t count = 0;
  int32_t spread = VL_SPREAD_PAD;
  // The current segment.
  int32_t valid = 0;
  int32_t start = 0, end = 0;
  uint32_t rb0 = 0, rb1 = 0, g0 = 0, g1 = 0;
  int64_t factor = 0;  // 16.16: t = ((position - start) * factor) >> 16, 0 to 256
  int32_t outside = 0;  // no stop covers the segment: colour 0
};

// Finds the segment holding the (already mapped) position.
void GradientSegmentFind(vlGradient& g, int32_t position);
uint32_t GradientColor32(vlGradient& g, int32_t position);  // 0x00RRGGBB
uint32_t GradientColor16(vlGradient& g, int32_t position);  // RGB565
