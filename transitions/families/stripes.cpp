// Parallel stripes of the new picture: every second stripe grows in from
// one side, the stripes between from the other, until they meet.
#include <cstdlib>

#include "transitions/families/families.h"
#include "transitions/fx_draw.h"
#include "vm/error_codes.h"

namespace {

struct StripesState {
  int32_t size, p;
};

}  // namespace

int StepStripes(vlFxContext* fx, int32_t* done) {
  const bool horizontal = fx->effect <= 6;
  const int32_t e = horizontal ? fx->width : fx->height;
  const int32_t cross = horizontal ? fx->height : fx->width;
  if (fx->phase == 0) {
    auto* s = NewFxState<StripesState>(fx);
    if (!s) return ERR_MEM;
    const int32_t kind = fx->effect % 7;
    if (kind) {
      s->size = 1 << kind;
    } else if (fx->parameter != -1) {
      s->size = fx->parameter < 1 ? 1 : fx->parameter;
    } else {
      const int32_t r = std::rand(), k = std::rand() % 8;
      // A growth extent below k + 2 leaves nothing to divide by.
      const int32_t bound = e / (k + 2);
      s->size = bound > 0 ? r % bound : 0;
      if (s->size < 1) s->size = 1;
    }
    int32_t step = ResolveFxSize(fx->stepSize, e, 70, 30, 200);
    if (e > step) {
      fx->frameCount = StepCount(e - step, step, 0);
    } else {
      step = e - 1 < 1 ? 1 : e - 1;
      fx->frameCount = StepCount(1, step, 0);
    }
    fx->stepSize = step;
    return 0;
  }
  if (fx->phase != 1) return 0;
  auto* s = static_cast<StripesState*>(fx->state);
  const int32_t step = fx->stepSize, size = s->size;
  if (fx->frame == 0) s->p = 0;
  if (s->p >= e - step) {
    s->p = e - step;
    if (done) *done = 1;
  }
  const int32_t p = s->p, q = e - s->p - step;
  for (int32_t c = 0; c < cross; c += 2 * size) {
    if (horizontal) {
      DrawNewStrip(fx, p, c, step, size);
      DrawNewStrip(fx, q, c + size, step, size);
    } else {
      DrawNewStrip(fx, c, p, size, step);
      DrawNewStrip(fx, c + size, q, size, step);
    }
  }
  s->p += step;
  EndFXFrame(fx);
  return 0;
}
