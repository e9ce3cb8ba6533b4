// Rectangular bands on a fixed plan: SPIRAL runs a band around three rings
// of a 7 x 6 grid from the outside in, SWISS grows a rectangle out of each
// corner, QUADRECT grows a centred rectangle in each quarter, two
// diagonal quarters first.
#include <algorithm>

#include "transitions/families/families.h"
#include "transitions/fx_draw.h"
#include "vm/convert.h"
#include "vm/error_codes.h"

namespace {

struct SpiralState {
  int32_t p, leg, x, y;
  int32_t c[7], r[6];
  int32_t counting;
};

struct SwissState {
  int32_t s, pa, pb;
};

struct QuadState {
  int32_t pw, ph, s, change, second, shift;
};

int32_t OwnStep(int32_t speed, int32_t fast, int32_t normal, int32_t slow) {
  if (speed == VL_FX_FASTSPEED) return fast;
  if (speed == VL_FX_NORMALSPEED) return normal;
  if (speed == VL_FX_SLOWSPEED) return slow;
  return std::clamp(speed, 1, 30);
}

// The side that keeps the picture's proportions for a long side of n.
int32_t Proportional(const vlFxContext* fx, int32_t n) {
  const int32_t M = std::max(fx->width, fx->height), m = std::min(fx->width, fx->height);
  return std::max(1, vl::DoubleToInt32(static_cast<double>(m) / M * n + 1.0));
}

void ResetSpiral(vlFxContext* fx, SpiralState* s) {
  s->p = 0;
  s->leg = 0;
  s->x = fx->width - s->c[6];
  s->y = 0;
}

// One leg's move: at the limit the next leg starts; else p moves toward
// it by the step and is held there. True when the leg changed.
bool MoveTo(int32_t& p, int32_t limit, int32_t step) {
  if (p == limit) return true;
  p = p < limit ? std::min(p + step, limit) : std::max(p - step, limit);
  return false;
}

}  // namespace

int StepSpiral(vlFxContext* fx, int32_t* done) {
  const int32_t W = fx->width, H = fx->height;
  if (fx->phase == 0) {
    auto* s = NewFxState<SpiralState>(fx);
    if (!s) return ERR_MEM;
    fx->stepSize = OwnStep(fx->stepSize, 15, 10, 5);
    for (int32_t& c : s->c) c = W / 7 + 1;
    for (int32_t& r : s->r) r = H / 6 + 1;
    // The frame count is that of a run that draws nothing.
    s->counting = 1;
    fx->phase = 1;
    fx->frame = 0;
    int32_t finished = 0;
    while (!finished && fx->frame < (1 << 24)) StepSpiral(fx, &finished);
    fx->frameCount = fx->frame;
    fx->frame = 0;
    fx->phase = 0;
    s->counting = 0;
    ResetSpiral(fx, s);
    return 0;
  }
  if (fx->phase != 1) return 0;
  auto* s = static_cast<SpiralState*>(fx->state);
  const int32_t step = fx->stepSize;
  const int32_t* c = s->c;
  const int32_t* r = s->r;
  const int32_t R1 = W - c[6], R2 = R1 - c[5], R3 = R2 - c[4], B1 = H - r[5], B2 = B1 - r[4];
  if (fx->frame == 0) ResetSpiral(fx, s);
  auto band = [&](int32_t x, int32_t y, int32_t w, int32_t h) {
    if (!s->counting) DrawNewStrip(fx, x, y, w, h);
  };
  int32_t& p = s->p;
  switch (s->leg) {
    case 0:
      band(s->x, p, c[6], step);
      if (MoveTo(p, H - 1, step)) s->leg = 1, p = s->x - step, s->y = B1;
      break;
    case 1:
      band(p, s->y, step, r[5]);
      if (MoveTo(p, 0, step)) s->leg = 2, p = s->y - step;
      break;
    case 2:
      band(0, p, c[0], step);
      if (MoveTo(p, 0, step)) s->leg = 3, p = c[0];
      break;
    case 3:
      band(p, 0, step, r[0]);
      if (MoveTo(p, R1, step)) s->leg = 4, p = r[0], s->x = R2;
      break;
    case 4:
      band(s->x, p, c[5], step);
      if (MoveTo(p, B1, step)) s->leg = 5, p = s->x - step, s->y = B2;
      break;
    case 5:
      band(p, s->y, step, r[4]);
      if (MoveTo(p, c[0], step)) s->leg = 6, p = s->y - step, s->x = c[0];
      break;
    case 6:
      band(s->x, p, c[1], step);
      if (MoveTo(p, r[0], step)) s->leg = 7, p = c[0] + c[1], s->y = r[0];
      break;
    case 7:
      band(p, s->y, step, r[1]);
      if (MoveTo(p, R2, step)) s->leg = 8, p = r[0] + r[1], s->x = R3;
      break;
    case 8:
      band(s->x, p, c[4], step);
      if (MoveTo(p, B2, step)) s->leg = 9, p = s->x - step, s->y = r[0] + r[1] + r[2];
      break;
    case 9:
      band(p, s->y, step, r[3]);
      if (MoveTo(p, c[0] + c[1], step)) s->leg = 10, p = s->y - step, s->x = c[0] + c[1];
      break;
    case 10:
      band(s->x, p, c[2], step);
      if (MoveTo(p, r[0] + r[1], step)) s->leg = 11, p = c[0] + c[1] + c[2], s->y = r[0] + r[1];
      break;
    default:
      band(p, s->y, step, r[3]);
      if (MoveTo(p, R3, step)) MarkDone(done);
      break;
  }
  if (s->counting) ++fx->frame;
  else EndFXFrame(fx);
  return 0;
}

int StepSwiss(vlFxContext* fx, int32_t* done) {
  const int32_t W = fx->width, H = fx->height, M = std::max(W, H);
  if (fx->phase == 0) {
    if (!NewFxState<SwissState>(fx)) return ERR_MEM;
    fx->stepSize = std::clamp(ResolveFxSize(fx->stepSize, M, 120, 60, 240), 1, 30);
    fx->frameCount = StepCount(M / 2, fx->stepSize, 1);
    return 0;
  }
  if (fx->phase != 1) return 0;
  auto* s = static_cast<SwissState*>(fx->state);
  if (fx->frame == 0) *s = {};
  s->s += fx->stepSize;
  const int32_t a = W >= H ? s->s : Proportional(fx, s->s);
  const int32_t b = W >= H ? Proportional(fx, s->s) : s->s;
  if (s->s >= M / 2) {
    DrawNewStrip(fx, 0, 0, W, H);
    MarkDone(done);
  } else {
    const int32_t pa = s->pa, pb = s->pb, da = a - pa, db = b - pb;
    DrawNewStrip(fx, pa, 0, da, b);
    DrawNewStrip(fx, 0, pb, a, db);
    DrawNewStrip(fx, 0, H - b, a, db);
    DrawNewStrip(fx, pa, H - pb, da, pb);
    DrawNewStrip(fx, W - a, H - b, a, db);
    DrawNewStrip(fx, W - a, H - pb, da, pb);
    DrawNewStrip(fx, W - a, 0, da, b);
    DrawNewStrip(fx, W - a, pb, a, db);
    s->pa = a, s->pb = b;
  }
  EndFXFrame(fx);
  return 0;
}

int StepQuadRect(vlFxContext* fx, int32_t* done) {
  const int32_t W = fx->width, H = fx->height, M = std::max(W, H);
  if (fx->phase == 0) {
    if (!NewFxState<QuadState>(fx)) return ERR_MEM;
    fx->stepSize = std::clamp(ResolveFxSize(fx->stepSize, M, 120, 60, 240), 1, 30);
    fx->frameCount = StepCount(M, fx->stepSize, 1);
    return 0;
  }
  if (fx->phase != 1) return 0;
  auto* s = static_cast<QuadState*>(fx->state);
  if (fx->frame == 0) *s = {};
  s->s += fx->stepSize;
  const int32_t t = s->s - s->change;
  const int32_t qw = W / 2, qh = H / 2;
  int32_t w = W >= H ? t : Proportional(fx, t);
  int32_t h = W >= H ? Proportional(fx, t) : t;
  int32_t x, y;
  if (w >= qw) {
    w = qw, h = qh, x = 0, y = 0;
  } else {
    x = (qw - w) / 2, y = (qh - h) / 2;
  }
  if (s->second) x += qw;
  if (s->second && s->s >= M) {
    DrawNewStrip(fx, 0, 0, W, H);
    MarkDone(done);
    EndFXFrame(fx);
    return 0;
  }
  const int32_t pw = s->pw, dw = (w - pw) / 2 + 1, dh = (h - s->ph) / 2 + 1;
  for (int quarter = 0; quarter < 2; ++quarter) {
    DrawNewStrip(fx, x, y, dw, h);
    DrawNewStrip(fx, x + dw, y, pw, dh);
    DrawNewStrip(fx, x + w - dw, y, dw, h);
    DrawNewStrip(fx, x + dw, y + h - dh, pw, dh);
    y += qh + (H & 1);
    x += s->second ? -(qw + (W & 1)) : qw + (W & 1);
  }
  if (!s->second && s->s >= M / 2) {
    s->change = s->s;
    s->second = s->shift = 1;
    s->pw = s->ph = 0;
  } else if (s->s < M) {
    s->pw = w, s->ph = h;
  }
  EndFXFrame(fx);
  return 0;
}
