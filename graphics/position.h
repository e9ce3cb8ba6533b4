// The special position constants (CENTER, LEFT ... BOTTOMOUT with an
// offset) resolved against the current output.
#pragma once
#include <cstdint>

enum : int32_t {
  VL_POS_CENTER = -100000,
  VL_POS_LEFT = -90000,
  VL_POS_RIGHT = -80000,
  VL_POS_TOP = -70000,
  VL_POS_BOTTOM = -60000,
  VL_POS_LEFTOUT = -50000,
  VL_POS_RIGHTOUT = -40000,
  VL_POS_TOPOUT = -30000,
  VL_POS_BOTTOMOUT = -20000,
  VL_KEEPPOSITION = 100000,
};

// What positions are resolved against when the caller names no width:
// the current output's size, or its active clip region.
struct vlOutputRef {
  int32_t width = 0, height = 0;
  int32_t hasClip = 0;
  int32_t clipX = 0, clipY = 0, clipWidth = 0, clipHeight = 0;
};
// Filled by the display code; none installed means a 0 x 0 output.
using vlOutputRefFn = void (*)(vlOutputRef* out);
void SetOutputReferenceProvider(vlOutputRefFn fn);

int32_t ResolvePosX(int32_t x, int32_t width, int32_t refWidth, double factor);
// True when the resolvers would place x (or y) by the object's size.
bool IsPositionConstantX(int32_t x);
bool IsPositionConstantY(int32_t y);
int32_t ResolvePosY(int32_t y, int32_t height, int32_t refHeight, double factor);

// A layer, sprite, video, move or effect position is held within this
// distance of the origin: farther is off every display anyway, and the
// object's far edge, anchor, shadow and the distance of a move then stay
// within 32 bits (a NaN or huge coordinate arrives as the smallest integer).
inline constexpr int32_t FarPosition(int64_t v) {
  constexpr int64_t kFar = int64_t{1} << 28;
  return static_cast<int32_t>(v < -kFar ? -kFar : v > kFar ? kFar : v);
}
