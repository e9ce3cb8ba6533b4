// ROLL and WALLPAPER unroll the new picture over the old one: a cylinder
// moves across, the part it passed lies flat, the part still rolled up is
// shown wrapped around it.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>

#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "graphics/transition_kernels.h"
#include "transitions/families/families.h"
#include "transitions/fx_draw.h"
#include "vm/error_codes.h"

namespace {

struct RollState {
  vlBitmap* workA;  // the drawn roll
  vlBitmap* workB;  // composition
  vlBitmap* mask;
  vlBitmap* alpha;
  vlRollJob job;
  int32_t p, end;
  int32_t prevStart, prevWidth;
  int32_t flat;  // lines before it lie flat
  double* angles;
};

bool Columns(const vlFxContext* fx) { return fx->effect == 85 || fx->effect == 87; }

// Lines from..to - 1 of the new picture drawn flat (through its planes).
void DrawFlat(vlFxContext* fx, RollState* s, int32_t from, int32_t to) {
  from = std::max(from, 0);
  if (to <= from) return;
  const bool cols = Columns(fx);
  const int32_t x = cols ? from : 0, y = cols ? 0 : from;
  const int32_t w = cols ? to - from : fx->width, h = cols ? fx->height : to - from;
  if (fx->sourceMask || fx->sourceAlpha) DrawThroughMask(fx, x, y, w, h, fx->sourceMask, fx->sourceAlpha, s->workB);
  else DrawNewStrip(fx, x, y, w, h);
}

// Runs the roll kernel at p into work A, carrying the new picture's mask
// or alpha plane along; false when a lock fails. The planes are locked for
// this frame only: a display adapter may hold them.
bool RollFrame(vlFxContext* fx, RollState* s, int32_t p) {
  const bool mask = fx->sourceMask != nullptr, alpha = !mask && fx->sourceAlpha;
  vlLockedPixels fromPlane(mask ? fx->sourceMask : alpha ? fx->sourceAlpha : nullptr, VL_LOCK_READ);
  vlLockedPixels intoPlane(mask ? s->mask : alpha ? s->alpha : nullptr, 0);
  if ((mask || alpha) && (!fromPlane.ok() || !intoPlane.ok())) return false;
  vlRegionCopy& c = s->job.copy;
  c.sourceMask = mask ? fromPlane.access.pixels : nullptr;
  c.sourceMaskRowBytes = mask ? fromPlane.access.rowLength : 0;
  c.targetMask = mask ? intoPlane.access.pixels : nullptr;
  c.targetMaskRowBytes = mask ? intoPlane.access.rowLength : 0;
  c.sourceAlpha = alpha ? fromPlane.access.pixels : nullptr;
  c.sourceAlphaRowBytes = alpha ? fromPlane.access.rowLength : 0;
  c.targetAlpha = alpha ? intoPlane.access.pixels : nullptr;
  c.targetAlphaRowBytes = alpha ? intoPlane.access.rowLength : 0;
  vlPixelAccess src{}, dst{};
  if (!LockPixels(fx->source, VL_LOCK_READ, &src)) return false;
  if (!LockPixels(s->workA, 0, &dst)) {
    UnlockPixels(fx->source, &src);
    return false;
  }
  vlRollJob& j = s->job;
  j.copy.sourcePixels = src.pixels;
  j.copy.targetPixels = dst.pixels;
  j.copy.sourceRow = src.rowLength;
  j.copy.targetRow = dst.rowLength;
  j.bytesPerPixel = src.bytesPerPixel == dst.bytesPerPixel ? src.bytesPerPixel : 0;
  j.position = p;
  RollEffectKernel(j);
  UnlockPixels(s->workA, &dst);
  UnlockPixels(fx->source, &src);
  return true;
}

// The effect rectangle's lines [from, to) along the roll.
void LineRect(vlFxContext* fx, int32_t from, int32_t to, int32_t* x, int32_t* y, int32_t* w, int32_t* h) {
  const bool cols = Columns(fx);
  *x = cols ? from : 0, *y = cols ? 0 : from;
  *w = cols ? to - from : fx->width, *h = cols ? fx->height : to - from;
}

// Into the layer's own picture: the new picture's lines lying flat.
void LayerFlat(vlFxContext* fx, int32_t from, int32_t to) {
  from = std::max(from, 0);
  if (to <= from) return;
  int32_t x, y, w, h;
  LineRect(fx, from, to, &x, &y, &w, &h);
  BlitIntoLayer(fx, fx->source, fx->sourceMask, fx->sourceAlpha, x, y, x, y, w, h, VL_FXB_NOSHOW);
}

// Lines given back to what lies under the layer.
void LayerClear(vlFxContext* fx, int32_t from, int32_t to) {
  from = std::max(from, 0);
  if (to <= from) return;
  int32_t x, y, w, h;
  LineRect(fx, from, to, &x, &y, &w, &h);
  BlitIntoLayer(fx, nullptr, nullptr, nullptr, x, y, x, y, w, h, VL_FXB_FILL | VL_FXB_NOSHOW);
}

// The band of the cylinder: the new picture under it when it has planes,
// then the roll through the roll's planes.
void LayerBand(vlFxContext* fx, RollState* s, int32_t start, int32_t width) {
  int32_t x, y, w, h;
  LineRect(fx, start, start + width, &x, &y, &w, &h);
  constexpr uint32_t kFlags = VL_FXB_NOSHOW | VL_FXB_THROUGH | VL_FXB_COMBINE;
  if (fx->sourceMask || fx->sourceAlpha)
    BlitIntoLayer(fx, fx->source, fx->sourceMask, fx->sourceAlpha, x, y, x, y, w, h, kFlags);
  BlitIntoLayer(fx, s->workA, s->mask, s->alpha, x, y, x, y, w, h, kFlags);
}

// ROLL and WALLPAPER drawn into the layer's own picture; hiding rolls the
// picture up again from the far end.
void RollIntoLayer(vlFxContext* fx, RollState* s, int32_t* done) {
  const int32_t E = Columns(fx) ? fx->width : fx->height;
  const bool still = fx->phase == 2;
  const int32_t step = fx->stepSize;
  if (!fx->reverse) {
    if (still) {
      s->p = step * fx->frame, s->flat = 0, s->prevStart = -99999;
      if (!fx->resynced) LayerClear(fx, 0, E);
    } else {
      if (fx->frame == 0) s->p = 0, s->flat = 0, s->prevStart = -99999;
      s->p += step;
    }
    if (s->p >= E) {
      LayerFlat(fx, still ? 0 : s->flat, E);
      s->flat = E;
      MarkDone(done);
    } else if (RollFrame(fx, s, s->p) && s->job.copied > 0) {
      // The band goes over the new picture lying flat, whatever the last
      // frame left there, so a still shows what the frames showed.
      const int32_t start = s->job.firstStrip, width = s->job.copied;
      LayerFlat(fx, still ? 0 : s->flat, start + width);
      LayerBand(fx, s, start, width);
      s->flat = start;
      s->prevStart = start, s->prevWidth = width;
    } else {
      const int32_t to = still ? s->p : s->job.resultPosition;
      LayerFlat(fx, still ? 0 : s->flat, to);
      s->flat = std::max(s->flat, to);
    }
  } else {
    if (still) {
      s->p = E - step * fx->frame, s->prevStart = -99999;
      if (!fx->resynced) LayerClear(fx, 0, E);
    } else {
      if (fx->frame == 0) s->p = E, s->prevStart = E - 1, s->prevWidth = 1;
      s->p -= step;
    }
    if (s->p < 1) {
      LayerClear(fx, 0, E);
      MarkDone(done);
    } else if (RollFrame(fx, s, s->p) && s->job.copied > 0) {
      const int32_t start = s->job.firstStrip, width = s->job.copied;
      LayerFlat(fx, still ? 0 : start, start + width);
      LayerBand(fx, s, start, width);
      // What the band left behind on its way back goes: the lines past
      // the previous band's start (by the step), and all the previous
      // band covered, which reaches further while the band is cut off at
      // the near edge.
      const bool first = s->prevStart == -99999;
      const int32_t previous = first ? E - 1 : s->prevStart;
      const int32_t previousEnd = first ? E : s->prevStart + s->prevWidth;
      LayerClear(fx, start + width, still ? E : std::max(start + width + previous + 2 - start, previousEnd));
      s->prevStart = start, s->prevWidth = width;
    } else {
      // No line of the cylinder has a picture line to show yet: the lines
      // it has rolled up, from p on, are gone all the same.
      if (still) LayerFlat(fx, 0, s->p);
      LayerClear(fx, s->p, E);
    }
  }
  if (!still) {
    if (!FXHoldFlag(fx)) PresentFXLayer(fx, 0);
    EndFXFrame(fx);
  }
}

}  // namespace

int StepRoll(vlFxContext* fx, int32_t* done) {
  const int32_t W = fx->width, H = fx->height;
  const bool cols = Columns(fx);
  const int32_t E = cols ? W : H;
  if (fx->phase == 0) {
    auto* s = NewFxState<RollState>(fx);
    if (!s) return ERR_MEM;
    const bool wallpaper = fx->effect >= 86;
    const int32_t D = std::max(wallpaper ? E / 2 : E / 12, 20);
    int32_t step = fx->stepSize;
    if (step == VL_FX_FASTSPEED) step = 5;
    else if (step == VL_FX_NORMALSPEED) step = 2;
    else if (step == VL_FX_SLOWSPEED) step = 1;
    else step = std::clamp(step / 5, 1, 8);
    fx->stepSize = step;
    if (!(s->workA = NewBitmap(W, H, 0, nullptr)) || !(s->workB = NewBitmap(W, H, 0, nullptr))) return ERR_BITMAP;
    if (fx->sourceMask && !(s->mask = NewMaskPlane(s->workA, W, H, 1, nullptr, 0))) return ERR_ALLOCMASK;
    if (fx->sourceAlpha && !(s->alpha = NewAlphaPlane(W, H, 1, nullptr, 0))) return ERR_ALLOCALPHA;
    s->prevStart = -99999;
    s->end = E + step;
    if (!(s->angles = static_cast<double*>(std::malloc(sizeof(double) * static_cast<size_t>(D))))) return ERR_MEM;
    for (int32_t i = 0; i < D; ++i) s->angles[i] = std::asin(1.0 - 2.0 * i / D) + std::numbers::pi / 2;
    vlRollJob& j = s->job;
    j.width = W;
    j.height = H;
    j.columns = cols;
    j.count = D;
    j.offsets = s->angles;
    fx->frameCount = StepCount(E, step, 1);
    if (fx->reverse) s->p = E, s->prevStart = E - 1, s->prevWidth = 1;
    return 0;
  }
  if (fx->phase != 1 && fx->phase != 2) return 0;
  auto* s = static_cast<RollState*>(fx->state);
  if (fx->layered) {
    RollIntoLayer(fx, s, done);
    return 0;
  }
  const bool still = fx->phase == 2;
  if (still) {
    // The still of a frame starts from the old picture with nothing flat.
    s->p = fx->stepSize * fx->frame;
    s->flat = 0;
    s->prevStart = -99999;
    if (!fx->resynced) {
      if (fx->oldPicture) DrawFXPicture(fx, fx->oldPicture);
      else FillFXRect(fx, fx->x, fx->y, W, H, 0xFF000000u, 0);
    }
  } else {
    if (fx->frame == 0) s->p = 0, s->flat = 0, s->prevStart = -99999;
    s->p += fx->stepSize;
  }
  if (s->p >= E) {
    // The rest of the new picture lies flat.
    DrawFlat(fx, s, s->flat, E);
    s->flat = E;
    MarkDone(done);
  } else if (RollFrame(fx, s, s->p) && s->job.copied > 0) {
    const int32_t start = s->job.firstStrip, width = s->job.copied;
    DrawFlat(fx, s, s->flat, still ? start + width : start);
    const int32_t x = cols ? start : 0, y = cols ? 0 : start;
    const int32_t w = cols ? width : W, h = cols ? H : width;
    if (!fx->sourceMask && !fx->sourceAlpha) {
      DrawFXPart(fx, s->workA, nullptr, nullptr, x, y, w, h, x, y, W, H);
    } else {
      // The old picture, the new one flat through its planes, the roll
      // through its planes, then the composition.
      BltBitmap(fx->oldPicture, x, y, s->workB, x, y, w, h);
      BlitThroughPlanes(fx->source, fx->sourceMask, fx->sourceAlpha, x, y, s->workB, x, y, w, h);
      BlitThroughPlanes(s->workA, s->mask, s->alpha, x, y, s->workB, x, y, w, h);
      DrawFXPart(fx, s->workB, nullptr, nullptr, x, y, w, h, x, y, W, H);
    }
    s->flat = start;
    s->prevStart = start, s->prevWidth = width;
  } else {
    const int32_t to = still ? s->p : s->job.resultPosition;
    DrawFlat(fx, s, s->flat, to);
    s->flat = std::max(s->flat, to);
  }
  if (!still) EndFXFrame(fx);
  return 0;
}

void FreeRollState(vlFxContext* fx, int) {
  auto* s = static_cast<RollState*>(fx->state);
  DeleteBitmap(s->workA);
  DeleteBitmap(s->workB);
  DeleteMaskPlane(s->mask);
  DeleteAlphaPlane(s->alpha);
  std::free(s->angles);
}
