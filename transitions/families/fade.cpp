// FADE and BLEND pass through a solid colour; CROSSFADE mixes the old and
// the new picture by a rising ratio.
#include <cstdlib>

#include "display/layers/safe_blt.h"
#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "graphics/effect_engines.h"
#include "transitions/families/families.h"
#include "transitions/fx_draw.h"
#include "transitions/fx_engine.h"
#include "vm/error_codes.h"

namespace {

struct FadeState {
  vlBitmap* workA;
  vlBitmap* workB;
  vlBitmap* coverage;
  vlBitmap* current;  // not owned
  int32_t level;
};

struct CrossfadeState {
  int32_t level;
  int32_t accelerated;
  int32_t layerX, layerY;
  vlBitmap* work;
  vlBitmap* oldCopy;
  vlBitmap* composite;
  vlBitmap* coverage;
  uint32_t layersBelow;
  void* snapshot;
  void* compare;
};

// The fade draws the current picture tinted by intensity over the old
// picture, through the new picture's planes.
void DrawFadeFrame(vlFxContext* fx, FadeState* s, int32_t intensity) {
  const int32_t w = fx->width, h = fx->height;
  BltBitmap(s->current, 0, 0, s->workB, 0, 0, w, h);
  if (intensity > 0) TintBitmap(s->workB, 0, 0, w, h, static_cast<uint32_t>(fx->parameter) & 0xFFFFFF, intensity);
  BltBitmap(fx->oldPicture, 0, 0, s->workA, 0, 0, w, h);
  if (fx->sourceMask) BltBitmapMasked(s->workB, 0, 0, s->workA, 0, 0, w, h, fx->sourceMask);
  else if (fx->sourceAlpha) BltBitmapAlpha(s->workB, 0, 0, s->workA, 0, 0, w, h, fx->sourceAlpha);
  else BltBitmap(s->workB, 0, 0, s->workA, 0, 0, w, h);
  DrawFXPicture(fx, s->workA);
}

// The layer's coverage made again; with fill the layer's picture becomes
// the colour, else the layer is shown whole. 0 or 1000.
int PrepareFadeLayer(vlFxContext* fx, FadeState* s, bool fill) {
  DeleteAlphaPlane(s->coverage);
  if (!(s->coverage = NewPictureAlphaPlane(fx))) return ERR_MEM;
  if (fill) FillBitmapRect(fx->layerImage, 0, 0, fx->width, fx->height, static_cast<uint32_t>(fx->parameter) & 0xFFFFFF);
  else CopyAlphaRect(s->coverage, 0, 0, fx->layerAlpha, 0, 0, fx->width, fx->height, 0, 0);
  return 0;
}

// A layered frame: the coloured layer fades in or out through its
// coverage, or the picture is tinted towards the colour.
void FadeLayerFrame(vlFxContext* fx, FadeState* s, int32_t level, int32_t intensity) {
  const bool fade = fx->effect == 116;
  if ((fade && level < 256 && !fx->reverse) || (level > 256 && fx->reverse)) {
    ScaleAlphaPlane(s->coverage, fx->layerAlpha, intensity);
    fx->blendLevel = intensity;
    return;
  }
  BltBitmap(fx->source, 0, 0, fx->layerImage, 0, 0, fx->width, fx->height);
  if (intensity > 0)
    TintBitmap(fx->layerImage, 0, 0, fx->width, fx->height, static_cast<uint32_t>(fx->parameter) & 0xFFFFFF, intensity);
  // Once the colour has faded in, the layer has arrived whole; only its
  // colour changes from here on.
  if (!fx->reverse) CopyAlphaRect(s->coverage, 0, 0, fx->layerAlpha, 0, 0, fx->width, fx->height, 0, 0);
  fx->blendLevel = 255;
}

// A crossfade frame as a made source: the old picture mixed toward the new
// one by the level, written in one pass wherever the frame is only copied
// (the work picture holds it only where it must be read).
struct CrossfadeMix {
  vlFxContext* fx;
  CrossfadeState* s;
};

bool PutCrossfade(void* context, vlBitmap* to, int32_t sx, int32_t sy, int32_t dx, int32_t dy, int32_t w, int32_t h) {
  auto* m = static_cast<CrossfadeMix*>(context);
  return BltMixedBitmaps(m->fx->oldPicture, m->fx->source, m->s->level, sx, sy, to, dx, dy, w, h);
}

void MakeCrossfade(void* context, int32_t sx, int32_t sy, int32_t w, int32_t h) {
  auto* m = static_cast<CrossfadeMix*>(context);
  if (PutCrossfade(context, m->s->work, sx, sy, sx, sy, w, h)) return;
  BltBitmap(m->fx->source, sx, sy, m->s->work, sx, sy, w, h);
  if (m->s->level != 255)
    MixBitmaps(m->s->work, m->fx->oldPicture, nullptr, sx, sy, sx, sy, w, h, 255 - m->s->level, nullptr, 0, 0);
}

// Presentation of the families that write the layer's planes themselves.
void PresentLayerFrame(vlFxContext* fx) {
  if (fx->phase == 1 && !FXHoldFlag(fx)) PresentFXLayer(fx, VL_FXB_PUSH);
}

}  // namespace

int StepFade(vlFxContext* fx, int32_t* done) {
  const bool fade = fx->effect == 116;
  if (fx->phase == 0) {
    auto* s = NewFxState<FadeState>(fx);
    if (!s) return ERR_MEM;
    if (fx->stepSize < 1) fx->stepSize = 10;
    if (fx->stepSize > 255) fx->stepSize = 255;
    if (fx->parameter == -1) fx->parameter = std::rand() % (1 << 24);
    s->level = fx->stepSize;
    fx->frameCount = StepCount(511 - fx->stepSize, fx->stepSize, 0);
    if (fx->layered) return PrepareFadeLayer(fx, s, fade && !fx->reverse);
    s->workA = NewBitmap(fx->width, fx->height, 0, nullptr);
    s->workB = NewBitmap(fx->width, fx->height, 0, nullptr);
    if (!s->workA || !s->workB || !fx->oldPicture) return ERR_BITMAP;
    s->current = fade ? fx->oldPicture : fx->source;
    return 0;
  }
  if (fx->phase != 1 && fx->phase != 2) return 0;
  auto* s = static_cast<FadeState*>(fx->state);
  int32_t level = s->level;
  if (fx->phase == 2) {
    level = fx->stepSize * fx->frame;
    s->current = (fade && level <= 255) ? fx->oldPicture : fx->source;
    if (fx->layered) {
      const bool fill = fade && level <= 255 ? !fx->reverse : level >= 257 && fx->reverse;
      if (int status = PrepareFadeLayer(fx, s, fill)) return status;
    }
  }
  int32_t intensity;
  if (level > 510) {
    *done = 1;
    level = 511;
    intensity = 0;
  } else {
    intensity = level < 256 ? level : 255 - (level & 255);
  }
  if (fx->layered) {
    FadeLayerFrame(fx, s, level, intensity);
    PresentLayerFrame(fx);
  } else {
    DrawFadeFrame(fx, s, intensity);
  }
  if (fx->phase == 1) {
    s->level += fx->stepSize;
    if (s->level > 255) s->current = fx->source;
    EndFXFrame(fx);
  }
  return 0;
}

void FreeFadeState(vlFxContext* fx, int) {
  auto* s = static_cast<FadeState*>(fx->state);
  DeleteBitmap(s->workA);
  DeleteBitmap(s->workB);
  DeleteAlphaPlane(s->coverage);
}

int StepCrossfade(vlFxContext* fx, int32_t* done) {
  if (fx->phase == 0) {
    auto* s = NewFxState<CrossfadeState>(fx);
    if (!s) return ERR_MEM;
    if (fx->stepSize < 1) fx->stepSize = 10;
    if (fx->stepSize > 120) fx->stepSize = 120;
    fx->frameCount = StepCount(255, fx->stepSize, 1);
    if (fx->layered) {
      // The layer shows the new picture; only its coverage changes.
      BltBitmap(fx->source, 0, 0, fx->layerImage, 0, 0, fx->width, fx->height);
      return (s->coverage = NewPictureAlphaPlane(fx)) ? 0 : ERR_MEM;
    }
    s->work = NewBitmap(fx->width, fx->height, 0, nullptr);
    if (!s->work || !fx->oldPicture) return ERR_BITMAP;
    return 0;
  }
  if (fx->phase != 1 && fx->phase != 2) return 0;
  auto* s = static_cast<CrossfadeState*>(fx->state);
  if (fx->phase == 1) s->level += fx->stepSize;
  else s->level = fx->stepSize * fx->frame;
  if (s->level > 254) {
    *done = 1;
    s->level = 255;
  }
  fx->blendLevel = fx->reverse ? 255 - s->level : s->level;
  if (fx->layered) {
    if (fx->phase == 2) {
      DeleteAlphaPlane(s->coverage);
      if (!(s->coverage = NewPictureAlphaPlane(fx))) return ERR_MEM;
      BltBitmap(fx->source, 0, 0, fx->layerImage, 0, 0, fx->width, fx->height);
    }
    ScaleAlphaPlane(s->coverage, fx->layerAlpha, fx->blendLevel);
    PresentLayerFrame(fx);
    if (fx->phase == 1) EndFXFrame(fx);
    return 0;
  }
  CrossfadeMix mix{fx, s};
  const vlMadeSource made{PutCrossfade, MakeCrossfade, &mix};
  DrawFXPicture(fx, s->work, &made);
  if (fx->phase == 1) EndFXFrame(fx);
  return 0;
}

void FreeCrossfadeState(vlFxContext* fx, int) {
  auto* s = static_cast<CrossfadeState*>(fx->state);
  DeleteBitmap(s->work);
  DeleteBitmap(s->oldCopy);
  DeleteBitmap(s->composite);
  DeleteAlphaPlane(s->coverage);
  std::free(s->snapshot);
  std::free(s->compare);
}
