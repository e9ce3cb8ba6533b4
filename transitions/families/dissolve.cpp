// DISSOLVE: every pixel draws a threshold once and belongs to the new
// picture once the rising level has passed it.
#include <cstdlib>

#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "graphics/transition_kernels.h"
#include "transitions/families/families.h"
#include "transitions/fx_draw.h"
#include "vm/error_codes.h"

namespace {

struct DissolveState {
  vlBitmap* work;
  vlBitmap* mask;
  int32_t level;
  vlDissolveJob job;
  uint8_t* thresholds;
};

// One run of the kernel at the current level. Layered, it writes the
// layer's own coverage from the new picture's; else the work mask. The
// planes are locked for this run only: a display adapter may hold them.
void RunDissolve(vlFxContext* fx, DissolveState* s) {
  const bool alpha = fx->layered && fx->layerAlpha != nullptr;
  vlBitmap* from = !fx->layered ? nullptr : alpha ? fx->sourceAlpha : fx->sourceMask;
  vlBitmap* into = !fx->layered ? s->mask : alpha ? fx->layerAlpha : fx->layerMask;
  vlLockedPixels source(from, VL_LOCK_READ), target(into, 0);
  if (!target.ok() || (from && !source.ok())) return;
  s->job.source = from ? source.access.pixels : nullptr;
  s->job.sourceRowBytes = from ? source.access.rowLength : 0;
  s->job.target = target.access.pixels;
  s->job.targetRowBytes = target.access.rowLength;
  s->job.bytePlanes = alpha;
  s->job.disappear = fx->layered && fx->reverse;
  DissolveKernel(s->job, s->level);
  s->job.source = nullptr;
  s->job.target = nullptr;
}

// The layer at its end: the new picture's own coverage, or nothing.
void FinishLayer(vlFxContext* fx) {
  const uint32_t hold = FXHoldFlag(fx) | VL_FXB_NOSHOW;
  if (fx->reverse) BlitIntoLayer(fx, nullptr, nullptr, nullptr, 0, 0, 0, 0, fx->width, fx->height, VL_FXB_FILL | hold);
  else BlitIntoLayer(fx, fx->source, fx->sourceMask, fx->sourceAlpha, 0, 0, 0, 0, fx->width, fx->height, hold);
}

}  // namespace

int StepDissolve(vlFxContext* fx, int32_t* done) {
  const int32_t w = fx->width, h = fx->height;
  if (fx->phase == 0) {
    auto* s = NewFxState<DissolveState>(fx);
    if (!s) return ERR_MEM;
    int32_t step = fx->stepSize;
    if (step == VL_FX_FASTSPEED) step = 8;
    else if (step == VL_FX_NORMALSPEED) step = 4;
    else if (step == VL_FX_SLOWSPEED) step = 2;
    else if (step < 1) step = 1;
    else if (step > 8) step = 8;
    fx->stepSize = step;
    if (fx->layered) {
      if (!fx->layerImage || (!fx->layerMask && !fx->layerAlpha)) return ERR_BITMAP;
      BltBitmap(fx->source, 0, 0, fx->layerImage, 0, 0, w, h);
    } else {
      if (!(s->work = NewBitmap(w, h, 0, nullptr))) return ERR_BITMAP;
      if (!(s->mask = NewMaskPlane(fx->source, w, h, 1, nullptr, 0))) return ERR_ALLOCMASK;
    }
    const size_t count = static_cast<size_t>(w) * static_cast<size_t>(h);
    if (!(s->thresholds = static_cast<uint8_t*>(std::malloc(count ? count : 1)))) return ERR_MEM;
    // 0..254: a pixel is taken at the latest when the level reaches 255.
    for (size_t i = 0; i < count; ++i) s->thresholds[i] = static_cast<uint8_t>(std::rand() % 255);
    s->job.width = w;
    s->job.height = h;
    s->job.orderMap = s->thresholds;
    fx->frameCount = StepCount(256, step, 1);
    return 0;
  }
  if (fx->phase != 1 && fx->phase != 2) return 0;
  auto* s = static_cast<DissolveState*>(fx->state);
  if (fx->phase == 1) s->level += fx->stepSize;
  else s->level = fx->stepSize * fx->frame;
  if (fx->layered) {
    if (fx->phase == 2) {
      // A still: the layer's picture and (hiding) its coverage from the start.
      BltBitmap(fx->source, 0, 0, fx->layerImage, 0, 0, w, h);
    }
    if (s->level < 256) RunDissolve(fx, s);
    else MarkDone(done), FinishLayer(fx);
    if (fx->phase == 1) {
      if (!FXHoldFlag(fx)) PresentFXLayer(fx, VL_FXB_PUSH);
      EndFXFrame(fx);
    }
    return 0;
  }
  vlBitmap* mask = s->mask;
  if (s->level < 256) {
    RunDissolve(fx, s);
  } else {
    // The last frame shows the new picture through its own mask only.
    if (done) *done = 1;
    mask = fx->sourceMask;
  }
  DrawThroughMask(fx, 0, 0, w, h, mask, s->level < 256 ? nullptr : fx->sourceAlpha, s->work);
  if (fx->phase == 1) EndFXFrame(fx);
  return 0;
}

void FreeDissolveState(vlFxContext* fx, int) {
  auto* s = static_cast<DissolveState*>(fx->state);
  std::free(s->thresholds);
  DeleteMaskPlane(s->mask);
  DeleteBitmap(s->work);
}
