// PUZZLE lays the new picture down tile by tile in an order drawn once;
// the flows let the new picture run in like a liquid, its leading line
// stretched over the part not yet reached.
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "transitions/families/families.h"
#include "transitions/fx_draw.h"
#include "vm/convert.h"
#include "vm/error_codes.h"

namespace {

struct PuzzleState {
  int32_t next, tiles, columns, rows;
  int32_t* order;
};

struct FlowState {
  vlBitmap* scratch;
  int32_t unused;
  int32_t e;
};

// Fills order with a permutation of 0..count - 1: each draw that is taken
// already moves down to the nearest free number, or, below 0, up from the
// draw.
int FillPuzzleOrder(int32_t* order, int32_t count) {
  std::vector<char> used;
  try {
    used.assign(static_cast<size_t>(count), 0);
  } catch (...) {
    return ERR_MEM;
  }
  for (int32_t i = 0; i < count; ++i) {
    const int32_t first = std::clamp(vl::DoubleToInt32(drand48() * count), 0, count - 1);
    int32_t r = first;
    while (r >= 0 && used[static_cast<size_t>(r)]) --r;
    if (r < 0) {
      r = first + 1;
      while (used[static_cast<size_t>(r)]) ++r;
    }
    used[static_cast<size_t>(r)] = 1;
    order[i] = r;
  }
  return 0;
}

// Flow geometry by id: rows or columns, and whether the edge runs from the
// far end back to 0.
struct FlowKind {
  bool columns, backward;
};
FlowKind KindOf(int32_t id) { return {id >= 72, id == 71 || id == 73}; }

// Line from (of the picture, through its planes) into line to of the
// scratch bitmap.
void CopyLine(vlFxContext* fx, vlBitmap* pic, vlBitmap* mask, vlBitmap* alpha, vlBitmap* into, bool columns,
              int32_t from, int32_t to, int32_t count = 1) {
  if (count < 1) return;
  if (columns) BlitThroughPlanes(pic, mask, alpha, from, 0, into, to, 0, count, fx->height);
  else BlitThroughPlanes(pic, mask, alpha, 0, from, into, 0, to, fx->width, count);
}

// Lines [from, to) of the effect rectangle: a rectangle of it.
struct Lines {
  int32_t x, y, w, h;
};
Lines LinesOf(const vlFxContext* fx, bool columns, int32_t from, int32_t to) {
  if (columns) return {from, 0, to - from, fx->height};
  return {0, from, fx->width, to - from};
}

// A flow drawn into the layer's own picture: the reached lines and the
// stretched leading line go in with their planes; each frame shows the
// lines it changed. Hiding runs the edge back and at last clears the layer.
void FlowIntoLayer(vlFxContext* fx, FlowState* s, FlowKind k, int32_t extent, int32_t* done) {
  const int32_t step = fx->stepSize;
  const bool still = fx->phase == 2;
  const bool ahead = !k.backward;  // the edge grows from line 0
  const bool back = fx->reverse;
  if (still) {
    const int32_t run = fx->frame * step;
    s->e = ahead != back ? run : extent - run;
  } else if (fx->frame == 0) {
    s->e = ahead != back ? step : extent - step;
  }
  const bool last = ahead ? (back ? s->e <= step : s->e >= extent) : (back ? s->e >= extent - step : s->e < 1);
  auto advance = [&] { s->e += (ahead != back) ? step : -step; };
  if (back && last) {
    if (!still) MarkDone(done);
    BlitIntoLayer(fx, nullptr, nullptr, nullptr, 0, 0, 0, 0, fx->width, fx->height,
                  VL_FXB_FILL | (fx->replaying || fx->backgroundTarget ? uint32_t{VL_FXB_NOSHOW} : 0u));
    advance();
    if (!still) EndFXFrame(fx);
    return;
  }
  if (last && !still) MarkDone(done);
  const int32_t e = std::clamp(s->e, 0, extent);
  int32_t a, b, c, d;
  if (ahead) {
    a = still ? 0 : e - step, b = e, c = e, d = extent;
  } else {
    a = e, b = still ? extent : e + step, c = 0, d = e;
  }
  a = std::max(a, 0);
  b = std::min(b, extent);
  const int32_t lead = std::clamp(e - 1, 0, extent - 1);
  constexpr uint32_t kHeld = VL_FXB_NOSHOW | VL_FXB_KEEPWORK;
  if (b > a) {
    const Lines r = LinesOf(fx, k.columns, a, b);
    BlitIntoLayer(fx, fx->source, fx->sourceMask, fx->sourceAlpha, r.x, r.y, r.x, r.y, r.w, r.h, kHeld);
  }
  const Lines from = LinesOf(fx, k.columns, lead, lead + 1);
  for (int32_t line = c; line < d; ++line) {
    const Lines to = LinesOf(fx, k.columns, line, line + 1);
    BlitIntoLayer(fx, fx->source, fx->sourceMask, fx->sourceAlpha, from.x, from.y, to.x, to.y, to.w, to.h, kHeld);
  }
  if (!FXHoldFlag(fx)) {
    const int32_t first = ahead ? std::min(a, c) : 0, end = ahead ? extent : std::max(b, d);
    if (end > first) {
      const Lines r = LinesOf(fx, k.columns, first, end);
      PresentFXRect(fx, fx->layerImage, r.x, r.y, fx->x + r.x, fx->y + r.y, r.w, r.h, fx->width, fx->height,
                    fx->layerMask, fx->layerAlpha, 0);
    }
  }
  advance();
  if (!still) EndFXFrame(fx);
}

}  // namespace

int StepPuzzle(vlFxContext* fx, int32_t* done) {
  if (fx->phase == 0) {
    auto* s = NewFxState<PuzzleState>(fx);
    if (!s) return ERR_MEM;
    int32_t size = ResolveFxSize(fx->stepSize, fx->width, 20, 10, 30);
    if (size < 5) size = 5;
    fx->stepSize = size;
    s->columns = fx->width / size + 1;
    s->rows = fx->height / size + 1;
    s->tiles = s->columns * s->rows;
    s->order = static_cast<int32_t*>(std::malloc(sizeof(int32_t) * static_cast<size_t>(s->tiles)));
    if (!s->order) return ERR_MEM;
    if (int status = FillPuzzleOrder(s->order, s->tiles)) return status;
    fx->frameCount = StepCount(s->tiles - 1, 1, 0);
    return 0;
  }
  if (fx->phase != 1) return 0;
  auto* s = static_cast<PuzzleState*>(fx->state);
  const int32_t size = fx->stepSize;
  if (fx->frame == 0) s->next = 0;
  if (s->next >= s->tiles - 1) s->next = s->tiles - 1, MarkDone(done);
  const int32_t t = s->order[s->next];
  DrawNewStrip(fx, t % s->columns * size, t / s->columns * size, size, size);
  s->next += 1;
  EndFXFrame(fx);
  return 0;
}

void FreePuzzleState(vlFxContext* fx, int) { std::free(static_cast<PuzzleState*>(fx->state)->order); }

int StepFlow(vlFxContext* fx, int32_t* done) {
  const FlowKind k = KindOf(fx->effect);
  const int32_t extent = k.columns ? fx->width : fx->height;
  if (fx->phase == 0) {
    auto* s = NewFxState<FlowState>(fx);
    if (!s) return ERR_MEM;
    const int32_t step = fx->stepSize = std::clamp(
        k.columns ? ResolveFxSize(fx->stepSize, extent, 30, 10, 80) : ResolveFxSize(fx->stepSize, extent, 50, 20, 120),
        1, 30);
    if (fx->layered) {
      // Hiding runs the edge back from where showing ends.
      s->e = k.backward != fx->reverse ? extent - step : step;
      fx->frameCount = fx->reverse ? StepCount(extent - 2 * step, step, 0) : StepCount(extent - step, step, 0);
      return 0;
    }
    s->e = k.backward ? extent - step : step;
    fx->frameCount = StepCount(extent - step, step, 0);
    s->scratch = NewBitmap(fx->width, fx->height, 0, nullptr);
    if (!s->scratch) return ERR_BITMAP;
    return 0;
  }
  if (fx->phase != 1 && fx->phase != 2) return 0;
  auto* s = static_cast<FlowState*>(fx->state);
  if (fx->layered) {
    FlowIntoLayer(fx, s, k, extent, done);
    return 0;
  }
  const int32_t step = fx->stepSize;
  const bool still = fx->phase == 2;
  vlBitmap* const src = fx->source;
  vlBitmap* const mask = fx->sourceMask;
  vlBitmap* const alpha = fx->sourceAlpha;
  const bool planes = mask || alpha;
  // The reached lines [a, b) are drawn; the line lead is stretched over
  // [c, d); the scratch lines [a or c, ...) are shown.
  int32_t a, b, lead, c, d;
  if (still) s->e = k.backward ? extent - fx->frame * step : fx->frame * step;
  else if (fx->frame == 0) s->e = k.backward ? extent - step : step;
  if (!k.backward) {
    if (s->e >= extent) s->e = extent, MarkDone(done);
    a = still ? 0 : s->e - step;
    b = s->e;
    lead = s->e - 1;
    c = k.columns ? s->e - 1 : s->e;
    d = extent;
  } else {
    if (s->e < 1) s->e = 0, MarkDone(done);
    a = s->e;
    b = still ? extent : s->e + step;
    lead = s->e - 1;
    c = 0;
    d = s->e;
  }
  a = std::max(a, 0);
  b = std::min(b, extent);
  lead = std::clamp(lead, 0, extent - 1);
  if (planes) {
    const int32_t from = k.backward ? 0 : a;
    const int32_t to = k.backward ? b : extent;
    CopyLine(fx, fx->oldPicture, nullptr, nullptr, s->scratch, k.columns, from, from, to - from);
  }
  CopyLine(fx, src, mask, alpha, s->scratch, k.columns, a, a, b - a);
  for (int32_t line = std::max(c, 0); line < d; ++line) CopyLine(fx, src, mask, alpha, s->scratch, k.columns, lead, line);
  const int32_t showFrom = k.backward ? 0 : std::min(a, c);
  const int32_t showTo = k.backward ? b : extent;
  if (showTo > showFrom) {
    if (k.columns)
      DrawFXPart(fx, s->scratch, nullptr, nullptr, showFrom, 0, showTo - showFrom, fx->height, showFrom, 0, fx->width,
                 fx->height);
    else
      DrawFXPart(fx, s->scratch, nullptr, nullptr, 0, showFrom, fx->width, showTo - showFrom, 0, showFrom, fx->width,
                 fx->height);
  }
  s->e += k.backward ? -step : step;
  if (!still) EndFXFrame(fx);
  return 0;
}

void FreeFlowState(vlFxContext* fx, int) { DeleteBitmap(static_cast<FlowState*>(fx->state)->scratch); }
