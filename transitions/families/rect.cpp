// RECT grows a window on the new picture from a compass point; RECTBACK
// shrinks the old picture into a point while the new one closes in.
#include <algorithm>
#include <cstdlib>

#include "transitions/families/families.h"
#include "transitions/fx_draw.h"
#include "transitions/fx_engine.h"
#include "vm/convert.h"
#include "vm/error_codes.h"

namespace {

struct RectState {
  int32_t n;
  int32_t rx, ry;
};

struct Box {
  int32_t x, y, w, h;
};

// The rectangle with the picture's proportions whose major side is k.
void SizeFor(const vlFxContext* fx, int32_t k, int32_t* rw, int32_t* rh) {
  const int32_t w = fx->width, h = fx->height;
  const int32_t major = std::max(w, h), minor = std::min(w, h);
  int32_t side = 0;
  if (k > 0) {
    const long double ratio = static_cast<long double>(minor) / static_cast<long double>(major);
    side = std::max(1, vl::DoubleToInt32(static_cast<double>(ratio * k + 1.0L)));
  }
  k = std::clamp(k, 0, major);
  if (w >= h) {
    *rw = k;
    *rh = k > 0 ? std::min(side, h) : 0;
  } else {
    *rh = k;
    *rw = k > 0 ? std::min(side, w) : 0;
  }
}

// Anchors per axis: 0 start, 1 centred, 2 end.
struct Anchor {
  int8_t ax, ay;
};
constexpr Anchor kRectAnchors[9] = {{1, 1}, {1, 0}, {2, 0}, {2, 1}, {2, 2}, {1, 2}, {0, 2}, {0, 1}, {0, 0}};
constexpr Anchor kBackAnchors[9] = {{1, 1}, {1, 2}, {0, 2}, {0, 1}, {0, 0}, {1, 0}, {2, 0}, {2, 1}, {2, 2}};

int32_t Place(int8_t anchor, int32_t extent, int32_t* size, bool grow) {
  if (anchor == 0) return 0;
  if (anchor == 2) return extent - *size;
  const int32_t rest = extent - *size;
  if (grow && (rest & 1)) *size += 1;
  return rest / 2;
}

Box Placed(const vlFxContext* fx, int32_t k, Anchor a, bool grow) {
  Box b{};
  SizeFor(fx, k, &b.w, &b.h);
  if (b.w < 1 || b.h < 1) return {0, 0, 0, 0};
  b.x = Place(a.ax, fx->width, &b.w, grow);
  b.y = Place(a.ay, fx->height, &b.h, grow);
  return b;
}

// Draws the part of outer that lies outside inner as up to four strips.
void DrawRing(vlFxContext* fx, Box outer, Box inner) {
  if (outer.w < 1 || outer.h < 1) return;
  const int32_t ox2 = outer.x + outer.w, oy2 = outer.y + outer.h;
  int32_t ix = std::clamp(inner.x, outer.x, ox2), iy = std::clamp(inner.y, outer.y, oy2);
  int32_t ix2 = std::clamp(inner.x + inner.w, ix, ox2), iy2 = std::clamp(inner.y + inner.h, iy, oy2);
  if (inner.w < 1 || inner.h < 1) ix = ix2 = ox2, iy = iy2 = outer.y;
  if (ix == ix2 || iy == iy2) {
    DrawNewStrip(fx, outer.x, outer.y, outer.w, outer.h);
    return;
  }
  DrawNewStrip(fx, outer.x, outer.y, outer.w, iy - outer.y);  // top
  DrawNewStrip(fx, outer.x, iy2, outer.w, oy2 - iy2);         // bottom
  DrawNewStrip(fx, outer.x, iy, ix - outer.x, iy2 - iy);      // left
  DrawNewStrip(fx, ix2, iy, ox2 - ix2, iy2 - iy);             // right
}

int InitRect(vlFxContext* fx, bool back) {
  auto* s = static_cast<RectState*>(std::calloc(1, sizeof(RectState)));
  if (!s) return ERR_MEM;
  fx->state = s;
  const int32_t major = std::max(fx->width, fx->height);
  int32_t step = ResolveFxSize(fx->speed, major, 70, 30, 200);
  if (step <= 0 || step > major / 4) step = 1;
  fx->stepSize = step;
  s->n = back ? major - step : step;
  fx->frameCount = StepCount(major - step, step, 0);
  return 0;
}

}  // namespace

int StepRect(vlFxContext* fx, int32_t* done) {
  if (fx->phase == 0) return InitRect(fx, false);
  if (fx->phase != 1) return 0;
  auto* s = static_cast<RectState*>(fx->state);
  const int32_t major = std::max(fx->width, fx->height), step = fx->stepSize;
  const Anchor a = kRectAnchors[std::clamp(fx->effect - 38, 0, 8)];
  if (fx->frame == 0) s->n = step;
  if (s->n >= major) {
    DrawNewStrip(fx, 0, 0, fx->width, fx->height);
    s->n -= step;
    *done = 1;
  } else {
    DrawRing(fx, Placed(fx, s->n, a, true), Placed(fx, s->n - step, a, true));
  }
  s->n += step;
  EndFXFrame(fx);
  return 0;
}

int StepRectBack(vlFxContext* fx, int32_t* done) {
  if (fx->phase == 0) return InitRect(fx, true);
  if (fx->phase != 1) return 0;
  auto* s = static_cast<RectState*>(fx->state);
  const int32_t major = std::max(fx->width, fx->height), step = fx->stepSize;
  const Anchor a = kBackAnchors[std::clamp(fx->effect - 88, 0, 8)];
  if (fx->frame == 0) {
    s->n = major - step;
    s->rx = s->ry = 0;
  }
  Box current{};
  if (s->n < 1) *done = 1;
  else current = Placed(fx, s->n, a, false);
  Box previous{s->rx, s->ry, 0, 0};
  SizeFor(fx, std::min(s->n + step, major), &previous.w, &previous.h);
  if (s->n + step >= major) previous = {0, 0, fx->width, fx->height};
  DrawRing(fx, previous, current);
  s->rx = current.x;
  s->ry = current.y;
  s->n -= step;
  EndFXFrame(fx);
  return 0;
}
