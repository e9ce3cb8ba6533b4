// Resolution of the position constants. Depends on vm/convert.h.
#include "graphics/position.h"

#include <algorithm>

#include "vm/convert.h"

namespace {

vlOutputRefFn gProvider = nullptr;

bool InBand(int32_t v, int32_t constant) { return v > constant - 5000 && v < constant + 5000; }

// near, far, nearOut, farOut: LEFT, RIGHT, LEFTOUT, RIGHTOUT or the
// vertical four; the bands are tested centre, far, near, nearOut, farOut.
int32_t Resolve(int32_t v, int32_t size, int32_t ref, double factor, bool vertical, int32_t nearC, int32_t farC,
                int32_t nearOut, int32_t farOut) {
  int32_t constant;
  if (InBand(v, VL_POS_CENTER)) constant = VL_POS_CENTER;
  else if (InBand(v, farC)) constant = farC;
  else if (InBand(v, nearC)) constant = nearC;
  else if (InBand(v, nearOut)) constant = nearOut;
  else if (InBand(v, farOut)) constant = farOut;
  else return v;
  int32_t base = 0;
  if (ref == 0) {
    vlOutputRef out;
    if (gProvider) gProvider(&out);
    if (out.hasClip) {
      ref = vertical ? out.clipHeight : out.clipWidth;
      base = vertical ? out.clipY : out.clipX;
    } else {
      ref = vertical ? out.height : out.width;
    }
  }
  // In 64 bits: a huge size placed by a constant must not wrap around.
  const int64_t off = v - constant;
  const int64_t k = int64_t{base} + vl::DoubleToInt32(factor * size) + off;
  int64_t r = k + ref;
  if (constant == VL_POS_CENTER) r = k + (int64_t{ref} - size) / 2;
  else if (constant == nearC) r = k;
  else if (constant == farC) r = k + ref - size;
  else if (constant == nearOut) r = k - size;
  return static_cast<int32_t>(std::clamp<int64_t>(r, INT32_MIN, INT32_MAX));
}

}  // namespace

void SetOutputReferenceProvider(vlOutputRefFn fn) { gProvider = fn; }

int32_t ResolvePosX(int32_t x, int32_t width, int32_t refWidth, double factor) {
  return Resolve(x, width, refWidth, factor, false, VL_POS_LEFT, VL_POS_RIGHT, VL_POS_LEFTOUT, VL_POS_RIGHTOUT);
}

bool IsPositionConstantX(int32_t x) {
  return InBand(x, VL_POS_CENTER) || InBand(x, VL_POS_LEFT) || InBand(x, VL_POS_RIGHT) || InBand(x, VL_POS_LEFTOUT) ||
         InBand(x, VL_POS_RIGHTOUT);
}

bool IsPositionConstantY(int32_t y) {
  return InBand(y, VL_POS_CENTER) || InBand(y, VL_POS_TOP) || InBand(y, VL_POS_BOTTOM) || InBand(y, VL_POS_TOPOUT) ||
         InBand(y, VL_POS_BOTTOMOUT);
}

int32_t ResolvePosY(int32_t y, int32_t height, int32_t refHeight, double factor) {
  return Resolve(y, height, refHeight, factor, true, VL_POS_TOP, VL_POS_BOTTOM, VL_POS_TOPOUT, VL_POS_BOTTOMOUT);
}
