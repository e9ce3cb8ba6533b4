// Straight edges across the rectangle: REVEAL uncovers the new picture from
// one side, the curtains from the middle or from both sides, the gates
// part the old picture or close the new one, PUSH slides the new picture
// in while it pushes the old one out.
#include "transitions/families/families.h"
#include "transitions/fx_draw.h"
#include "vm/error_codes.h"

namespace {

struct Edge {
  int32_t p;
};

struct TwoEdges {
  int32_t first, second;
};

// The gate's words in the order SplitHalves writes them.
struct GateState {
  int32_t b, a;
};

// Lines from..from + count - 1 of a picture (with its planes) at line to.
void MoveLines(vlFxContext* fx, vlBitmap* pic, vlBitmap* mask, vlBitmap* alpha, bool columns, int32_t from,
               int32_t count, int32_t to) {
  if (columns)
    DrawFXPart(fx, pic, mask, alpha, from, 0, count, fx->height, to, 0, fx->width, fx->height);
  else
    DrawFXPart(fx, pic, mask, alpha, 0, from, fx->width, count, 0, to, fx->width, fx->height);
}

void MoveNew(vlFxContext* fx, bool columns, int32_t from, int32_t count, int32_t to) {
  MoveLines(fx, fx->source, fx->sourceMask, fx->sourceAlpha, columns, from, count, to);
}

void MoveOld(vlFxContext* fx, bool columns, int32_t from, int32_t count, int32_t to) {
  MoveLines(fx, fx->oldPicture, nullptr, nullptr, columns, from, count, to);
}

}  // namespace

int StepReveal(vlFxContext* fx, int32_t* done) {
  const bool columns = fx->effect == 30 || fx->effect == 31;
  const bool forward = fx->effect == 30 || fx->effect == 32;
  const int32_t extent = columns ? fx->width : fx->height;
  const int32_t start = forward ? 0 : extent - 1;
  if (fx->phase == 0) {
    auto* s = NewFxState<Edge>(fx);
    if (!s) return ERR_MEM;
    int32_t step = ResolveFxSize(fx->stepSize, extent, 70, 30, 200);
    if (step > extent / 2) step = columns ? 1 : extent / 2;
    fx->stepSize = step;
    fx->frameCount = StepCount(extent - 1 - step, step + 1, 0);
    s->p = start;
    return 0;
  }
  if (fx->phase != 1) return 0;
  auto* s = static_cast<Edge*>(fx->state);
  const int32_t step = fx->stepSize;
  if (fx->frame == 0) s->p = start;
  if (forward) {
    if (s->p >= extent - 1 - step) s->p = extent - 1 - step, MarkDone(done);
    DrawNewLines(fx, columns, s->p, s->p + step);
    s->p += step + 1;
  } else {
    if (s->p <= step) s->p = step, MarkDone(done);
    DrawNewLines(fx, columns, s->p - step, s->p);
    s->p -= step + 1;
  }
  EndFXFrame(fx);
  return 0;
}

int StepCurtain(vlFxContext* fx, int32_t* done) {
  const bool columns = fx->effect == 24 || fx->effect == 25;
  const bool closing = fx->effect == 25 || fx->effect == 27;
  const int32_t extent = columns ? fx->width : fx->height;
  auto reset = [&](TwoEdges* s) {
    if (closing) *s = {0, extent - 1};
    else *s = {extent / 2, extent / 2 - 1};
  };
  if (fx->phase == 0) {
    auto* s = NewFxState<TwoEdges>(fx);
    if (!s) return ERR_MEM;
    int32_t step = ResolveFxSize(fx->stepSize, extent, 140, 60, 320);
    if (closing) {
      if (step > extent / 2) step = 1;
      fx->frameCount = StepCount(extent / 2, step + 1, 0);
    } else {
      if (step > extent / 4) step = extent / 4;
      fx->frameCount = StepCount(extent - 1 - (extent / 2 - 1) - step, step + 1, 0);
    }
    fx->stepSize = step;
    reset(s);
    return 0;
  }
  if (fx->phase != 1) return 0;
  auto* s = static_cast<TwoEdges*>(fx->state);
  const int32_t step = fx->stepSize;
  if (fx->frame == 0) reset(s);
  if (closing) {
    if (s->first >= extent / 2) s->first = extent / 2, MarkDone(done);
    DrawNewLines(fx, columns, s->first, s->first + step);
    DrawNewLines(fx, columns, s->second - step, s->second);
    s->first += step + 1;
    s->second -= step + 1;
  } else {
    if (s->second >= extent - 1 - step) s->second = extent - 1 - step, MarkDone(done);
    if (s->first - step < 0) s->first = step;
    DrawNewLines(fx, columns, s->second, s->second + step);
    DrawNewLines(fx, columns, s->first - step, s->first);
    s->first -= step + 1;
    s->second += step + 1;
  }
  EndFXFrame(fx);
  return 0;
}

int StepGate(vlFxContext* fx, int32_t* done) {
  const bool columns = fx->effect == 76 || fx->effect == 77;
  const bool opening = fx->effect == 74 || fx->effect == 76;
  const int32_t e = columns ? fx->width : fx->height;
  const int32_t half = e / 2, rest = e - half;
  if (fx->phase == 0) {
    auto* s = NewFxState<GateState>(fx);
    if (!s) return ERR_MEM;
    const int32_t step = fx->stepSize = ResolveFxSize(fx->stepSize, e, 80, 30, 200);
    if (opening) {
      SplitHalves(fx, e, 1);
      fx->frameCount = StepCount(s->a, step, 0);
    } else {
      *s = {e - step, step};
      fx->frameCount = StepCount(e / 2 - step, step, 0);
      // The new halves close over the old picture.
      PutOldPictureIntoLayer(fx);
    }
    return 0;
  }
  if (fx->phase != 1 && fx->phase != 2) return 0;
  const bool still = fx->phase == 2;
  auto* s = static_cast<GateState*>(fx->state);
  const int32_t step = fx->stepSize;
  if (opening) {
    if (still) SplitHalves(fx, e, fx->frame);
    else if (fx->frame == 0) SplitHalves(fx, e, 1);
    if (s->b >= e || s->a < 1) s->b = e, s->a = 0, MarkDone(done);
    // A still shows the whole opened middle at once.
    if (still) DrawNewLines(fx, columns, s->a, s->b);
    MoveOld(fx, columns, 0, half, s->a - half);
    if (!still) {
      DrawNewLines(fx, columns, s->a, s->a + step - 1);
      DrawNewLines(fx, columns, s->b - step, s->b - 1);
    }
    MoveOld(fx, columns, half, e - half, s->b);
    s->a -= step;
    s->b += step;
  } else {
    if (still) {
      DrawOldStrip(fx, 0, 0, fx->width, fx->height);
      s->a = step * fx->frame;
      s->b = e - step * fx->frame;
    } else if (fx->frame == 0) {
      *s = {e - step, step};
    }
    if (!(s->b > rest && s->a < half)) s->b = rest, s->a = half;
    if (s->b == rest && s->a == half) {
      DrawNewStrip(fx, 0, 0, fx->width, fx->height);
      MarkDone(done);
    } else {
      MoveNew(fx, columns, 0, half, s->a - half);
      MoveNew(fx, columns, e - rest, rest, s->b);
    }
    s->a += step;
    s->b -= step;
  }
  if (!still) EndFXFrame(fx);
  return 0;
}

int StepPush(vlFxContext* fx, int32_t* done) {
  const int32_t w = fx->width, h = fx->height;
  const int32_t e = fx->effect == 78 || fx->effect == 79 ? w : h;
  if (fx->phase == 0) {
    auto* s = NewFxState<Edge>(fx);
    if (!s) return ERR_MEM;
    s->p = fx->stepSize = ResolveFxSize(fx->stepSize, e, 40, 10, 100);
    fx->frameCount = StepCount(e - fx->stepSize, fx->stepSize, 0);
    return 0;
  }
  if (fx->phase != 1 && fx->phase != 2) return 0;
  auto* s = static_cast<Edge*>(fx->state);
  const int32_t step = fx->stepSize;
  if (fx->phase == 2) s->p = step * fx->frame;
  else if (fx->frame == 0) s->p = step;
  if (s->p >= e) s->p = e, MarkDone(done);
  const int32_t d = s->p;
  int32_t nx = 0, ny = 0, ox = 0, oy = 0;
  switch (fx->effect) {
    case 78: nx = d - w, ox = d; break;
    case 79: nx = w - d, ox = -d; break;
    case 80: ny = d - h, oy = d; break;
    default: ny = h - d, oy = -d; break;
  }
  DrawFXPart(fx, fx->source, fx->sourceMask, fx->sourceAlpha, 0, 0, w, h, nx, ny, w, h);
  DrawFXPart(fx, fx->oldPicture, nullptr, nullptr, 0, 0, w, h, ox, oy, w, h);
  s->p += step;
  if (fx->phase == 1) EndFXFrame(fx);
  return 0;
}
