// The new picture built out of thin strips or small squares at fixed
// places: interlaced lines, bars, blinds, quarters and a diagonal of
// squares.
#include <algorithm>

#include "transitions/families/families.h"
#include "transitions/fx_draw.h"
#include "vm/error_codes.h"

namespace {

struct LinesState {
  int32_t u, d;
};

struct BlindsState {
  int32_t size, count, n;
};

struct QuartersState {
  int32_t halfW, halfH, n, oddW;
};

struct DiagonalState {
  int32_t p, m;
};

}  // namespace

int StepLines(vlFxContext* fx, int32_t* done) {
  const bool columns = fx->effect == 34 || fx->effect == 37;
  const bool pairs = fx->effect == 34 || fx->effect == 35;
  const int32_t e = columns ? fx->width : fx->height;
  auto reset = [&](LinesState* s) { *s = {0, pairs ? ((e & 1) ? e - 2 : e - 1) : 0}; };
  if (fx->phase == 0) {
    auto* s = NewFxState<LinesState>(fx);
    if (!s) return ERR_MEM;
    reset(s);
    fx->frameCount = StepCount(pairs ? e : 2 * e, 2, 0);
    return 0;
  }
  if (fx->phase != 1) return 0;
  auto* s = static_cast<LinesState*>(fx->state);
  if (fx->frame == 0) reset(s);
  if (pairs) {
    // Even lines from the start down, odd lines from the end up.
    if (s->u >= e) MarkDone(done);
    const int32_t u = std::min(s->u, e - 1), d = std::max(s->d, 0);
    DrawNewLines(fx, columns, u, u);
    DrawNewLines(fx, columns, d, d);
    s->u += 2;
    s->d -= 2;
  } else {
    const int32_t c = s->u;
    if (c == 2 * e) MarkDone(done);
    int32_t line = c;
    if (c >= e) {
      line = 2 * e - c;
      if (!(line & 1)) ++line;
    }
    line = std::clamp(line, 0, e - 1);
    DrawNewLines(fx, columns, line, line);
    s->u += 2;
  }
  EndFXFrame(fx);
  return 0;
}

int StepBars(vlFxContext* fx, int32_t* done) {
  if (fx->phase == 0) {
    auto* s = NewFxState<int32_t>(fx);
    if (!s) return ERR_MEM;
    fx->stepSize = std::clamp(ResolveFxSize(fx->stepSize, 16, 16, 8, 40), 0, 8);
    fx->frameCount = StepCount(23, fx->stepSize + 1, 0);
    return 0;
  }
  if (fx->phase != 1) return 0;
  auto* n = static_cast<int32_t*>(fx->state);
  const int32_t w = fx->width, h = fx->height;
  if (fx->frame == 0) *n = 0;
  if (*n > 22) *n = 23, MarkDone(done);
  if (*n <= 8) {
    // Vertical bars grow to 9 pixels in every 16-pixel band.
    for (int32_t k = 0; k < w / 16; ++k) DrawNewStrip(fx, 16 * k, 0, *n + 1, h);
    if (w % 16) DrawNewStrip(fx, w - w % 16, 0, w % 16, h);
  } else {
    for (int32_t k = 0; k < h / 16; ++k) DrawNewStrip(fx, 0, 16 * k, w, *n - 7);
    if (h % 16) DrawNewStrip(fx, 0, h - h % 16, w, h % 16);
  }
  *n += fx->stepSize + 1;
  EndFXFrame(fx);
  return 0;
}

int StepBlinds(vlFxContext* fx, int32_t* done) {
  const bool columns = fx->effect >= 19;
  if (fx->phase == 0) {
    auto* s = NewFxState<BlindsState>(fx);
    if (!s) return ERR_MEM;
    s->size = 8 << ((fx->effect - 14) % 5);
    s->count = (columns ? fx->width : fx->height) / s->size;
    fx->stepSize = std::clamp(ResolveFxSize(fx->stepSize, s->size, 8, 3, 20), 1, s->size / 2);
    s->n = fx->stepSize;
    fx->frameCount = StepCount(s->size - fx->stepSize, fx->stepSize, 0);
    return 0;
  }
  if (fx->phase != 1) return 0;
  auto* s = static_cast<BlindsState*>(fx->state);
  const int32_t step = fx->stepSize;
  if (fx->frame == 0) s->n = step;
  if (s->n >= s->size) s->n = s->size, MarkDone(done);
  // One blind more than fit: the last is cut off by the rectangle.
  for (int32_t k = 0; k <= s->count; ++k)
    DrawNewLines(fx, columns, k * s->size + s->n - step, k * s->size + s->n - 1);
  s->n += step;
  EndFXFrame(fx);
  return 0;
}

int StepQuarters(vlFxContext* fx, int32_t* done) {
  const int32_t w = fx->width, h = fx->height;
  if (fx->phase == 0) {
    auto* s = NewFxState<QuartersState>(fx);
    if (!s) return ERR_MEM;
    *s = {w / 2, h / 2, 0, w & 1};
    fx->stepSize = std::min(std::max(ResolveFxSize(fx->stepSize, w, 70, 30, 200), 0), h / 4);
    fx->frameCount = StepCount(h - 1 - h / 2 - fx->stepSize, fx->stepSize + 1, 0);
    return 0;
  }
  if (fx->phase != 1) return 0;
  auto* s = static_cast<QuartersState*>(fx->state);
  const int32_t step = fx->stepSize, hw = s->halfW, hh = s->halfH;
  if (fx->frame == 0) s->n = 0;
  const int32_t last = h - 1 - hh - step;
  if (s->n >= last) s->n = last, MarkDone(done);
  const int32_t n = s->n, rows = step + 1;
  DrawNewStrip(fx, 0, n, hw, rows);
  DrawNewStrip(fx, 0, hh + n, hw, rows);
  DrawNewStrip(fx, hw, h - 1 - n - hh - step, hw, rows);
  DrawNewStrip(fx, hw, h - 1 - n - step, hw, rows);
  if (s->oddW) {
    DrawNewStrip(fx, 2 * hw, h - 1 - n - hh - step, 1, rows);
    DrawNewStrip(fx, 2 * hw, h - 1 - n - step, 1, rows);
  }
  s->n += rows;
  EndFXFrame(fx);
  return 0;
}

int StepDiagonal(vlFxContext* fx, int32_t* done) {
  const int32_t w = fx->width, h = fx->height;
  if (fx->phase == 0) {
    auto* s = NewFxState<DiagonalState>(fx);
    if (!s) return ERR_MEM;
    int32_t step = ResolveFxSize(fx->stepSize, w, 60, 20, 130);
    if (step > w / 4) step = 1;
    fx->stepSize = step;
    *s = {step, 0};
    fx->frameCount = StepCount(w + h - step, step, 0);
    return 0;
  }
  if (fx->phase != 1) return 0;
  auto* s = static_cast<DiagonalState*>(fx->state);
  const int32_t step = fx->stepSize;
  if (fx->frame == 0) *s = {step, 0};
  if (s->p >= w + h) s->p = w + h, MarkDone(done);
  s->m = std::min(s->m + 1, h / step + 1);
  for (int32_t k = 0; k < s->m; ++k) DrawNewStrip(fx, s->p - (k + 1) * step, k * step, step, step);
  s->p += step;
  EndFXFrame(fx);
  return 0;
}
