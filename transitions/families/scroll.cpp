// Scroll effects: the new picture (or the effect's layer) travels in from
// outside the display to its place, or out again when reversed. The frames
// belong to the object-move engine; the effect only fills and steps a job.
#include <cstdlib>

#include "display/display.h"
#include "display/layers/layers.h"
#include "display/layers/safe_blt.h"
#include "graphics/position.h"
#include "objects/movement/move.h"
#include "transitions/families/families.h"
#include "vm/error_codes.h"

namespace {

// The point just outside the display that the picture at (px, py) comes
// from.
void OutsidePoint(const vlFxContext* fx, int32_t px, int32_t py, int32_t* x, int32_t* y) {
  switch (fx->effect) {
    case 47: *x = VL_POS_LEFTOUT, *y = py; break;
    case 48: *x = VL_POS_RIGHTOUT, *y = py; break;
    case 49: *x = px, *y = VL_POS_TOPOUT; break;
    case 50: *x = px, *y = VL_POS_BOTTOMOUT; break;
    case 51: *x = VL_POS_RIGHTOUT, *y = VL_POS_TOPOUT; break;
    case 52: *x = VL_POS_RIGHTOUT, *y = VL_POS_BOTTOMOUT; break;
    case 53: *x = VL_POS_LEFTOUT, *y = VL_POS_BOTTOMOUT; break;
    case 54: *x = VL_POS_LEFTOUT, *y = VL_POS_TOPOUT; break;
    default: *x = *y = 0; break;
  }
}

int StartScroll(vlFxContext* fx) {
  auto* layer = static_cast<vlLayer*>(fx->layer);
  if (layer) layer->hidden = layer->drawnDuringSelection = 0;
  auto* job = NewFxState<vlMoveJob>(fx);
  if (!job) return ERR_MEM;
  job->vm = fx->vm;
  job->kind = VL_MOVE_TRANSITION;
  job->internal = 1;
  if (layer) {
    job->layer = layer;
  } else {
    job->bitmap = fx->source;
    job->mask = fx->sourceMask;
    job->alpha = fx->sourceAlpha;
  }
  job->width = fx->width;
  job->height = fx->height;
  // A layer travels by its own position, in the BGPic's coordinates; the
  // effect's rectangle is where the display draws it, border included.
  const int32_t px = layer ? fx->layerX : fx->x, py = layer ? fx->layerY : fx->y;
  int32_t ox = 0, oy = 0;
  OutsidePoint(fx, px, py, &ox, &oy);
  if (fx->reverse) {
    job->x = px, job->y = py, job->endX = ox, job->endY = oy;
  } else {
    job->x = ox, job->y = oy, job->endX = px, job->endY = py;
  }
  job->fx = fx->parameter == -1 ? 0 : fx->parameter;
  job->xStep = fx->stepSize;
  // A BGPic on a display with layers is drawn under them.
  if (fx->objectType == VL_FX_BGPIC && CurrentDisplay() && CurrentDisplay()->layersOn) job->extraBlitFlags |= 64;
  // What travels in stays drawn, as the effect's own frames do.
  job->extraBlitFlags |= fx->blitFlags & VL_SAFEBLT_KEEP;
  return RunObjectMove(job);
}

}  // namespace

int StepScroll(vlFxContext* fx, int32_t* done) {
  if (fx->phase == 0) return StartScroll(fx);
  if (fx->phase != 1) return 0;
  // A layer standing in for a BGPic shows what the script drew into it.
  if (fx->bgpicEmu) RedrawFXDestination(fx, 2);
  auto* job = static_cast<vlMoveJob*>(fx->state);
  int32_t finished = 0;
  if (int status = job->step(job, &finished)) return status;
  ++fx->frame;
  if (finished) MarkDone(done);
  return 0;
}

void FinishScrollEarly(vlFxContext* fx) {
  if (!fx->layer && fx->state) FinishMoveJob(static_cast<vlMoveJob*>(fx->state));
}

void EndScroll(vlFxContext* fx, int keep) {
  if (auto* layer = static_cast<vlLayer*>(fx->layer))
    MoveLayerTo(fx->vm, layer, nullptr, fx->layerX, fx->layerY, keep, 0, nullptr);
  auto* job = static_cast<vlMoveJob*>(fx->state);
  if (job->free) job->free(job);
}
