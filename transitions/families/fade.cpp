// FADE and BLEND pass through a solid colour; CROSSFADE mixes the old and
// the new picture by a rising ratio.
#include <cstdlib>
#include <cstring>

#include "display/bgpic.h"
#include "display/display.h"
#include "display/layers/async_draw.h"
#include "display/layers/layers.h"
#include "display/layers/safe_blt.h"
#include "display/monitors.h"
#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "graphics/effect_engines.h"
#include "graphics/geometry.h"
#include "objects/sprites/sprite.h"
#include "platform/display_adapter.h"
#include "graphics/adapter_bitmap.h"
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

// A shown layer below the crossfade's layer that meets it, as compared
// frame by frame while the adapter mixes: a change in any of it ends the
// mixing in hardware.
struct LayerBelow {
  vlLayer* layer;
  int32_t x, y, width, height;
  vlBitmap* words[3];
};

struct CrossfadeState {
  int32_t level;
  int32_t accelerated;  // the display adapter mixes the frames
  int32_t layerX, layerY;
  vlBitmap* work;
  vlBitmap* oldCopy;    // the effect's first look, mixed with the composite
  vlBitmap* composite;  // its last look
  vlBitmap* coverage;
  uint32_t layersBelow;
  LayerBelow* snapshot;
  LayerBelow* compare;
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

bool MeetsLayer(const vlLayerGeometry* a, const vlLayerGeometry* b) {
  return RectsOverlapInclusive(a->drawnX, a->drawnY, a->drawnX + a->drawnWidth - 1, a->drawnY + a->drawnHeight - 1,
                               b->drawnX, b->drawnY, b->drawnX + b->drawnWidth - 1, b->drawnY + b->drawnHeight - 1);
}

// Calls each shown layer before the target on the displayed BGPic that
// meets it.
template <typename Visit>
void ForLayersBelow(vlDisplay* d, vlLayer* target, Visit visit) {
  const vlLayerGeometry* t = target->geometry[2];
  for (vlNode* node = d->bgpic->layers.head; node->succ; node = node->succ) {
    auto* l = reinterpret_cast<vlLayer*>(node);
    if (l == target) return;
    const vlLayerGeometry* g = l->geometry[2];
    if (!l->hidden && !l->drawnDuringSelection && g && MeetsLayer(g, t)) visit(l, g);
  }
}

// The count of the layers below the target, recorded into records when
// given.
uint32_t SnapshotLayersBelow(vlDisplay* d, vlLayer* target, LayerBelow* records) {
  uint32_t n = 0;
  ForLayersBelow(d, target, [&](vlLayer* l, const vlLayerGeometry* g) {
    if (records) {
      LayerBelow& r = records[n];
      std::memset(&r, 0, sizeof r);
      r = {l, g->drawnX, g->drawnY, g->drawnWidth, g->drawnHeight, {g->image, g->mask, g->alpha}};
    }
    ++n;
  });
  return n;
}

bool IsAsyncDrawBelow(vlDisplay* d, vlLayer* target) {
  bool found = false;
  ForLayersBelow(d, target, [&](vlLayer* l, const vlLayerGeometry*) { found = found || FindAsyncDrawOwner(l, 0); });
  return found;
}

// Whether the adapter may mix the frames of this crossfade: it must offer
// to, and the frame must reach the window as one picture. Not layered,
// drawn straight to the display (not handed over whole), unscaled and
// without a sprite over it; not layered also synchronously and without a
// clip mask, layered a plain unobscured layer of the displayed BGPic with
// no asynchronous drawing below it.
bool CrossfadeAccelerates(vlFxContext* fx, vlDisplay* d) {
  if (!d || !d->bgpic || !fx->oldPicture || fx->scaledOutput || fx->backgroundTarget || fx->target ||
      d->outputType != VL_OUTPUT_DISPLAY || !(QueryAdapterCaps(2) & 2) ||
      OverlapsSprite(d->bgpic, fx->x, fx->y, fx->width, fx->height))
    return false;
  if (!fx->layered) {
    const auto* clip = static_cast<const vlClipRegion*>(d->bgpic->clipRegion);
    return !fx->async && !(clip && clip->mask);
  }
  auto* l = static_cast<vlLayer*>(fx->layer);
  const vlLayerGeometry* g = l ? l->geometry[2] : nullptr;
  return g && !fx->bgpicEmu && !l->transparency && !l->shadow.on && !l->border.on && !g->clipRegion &&
         !LayerHasFilters(l->filters) && IsLayerUnobscured(d->bgpic, l) && !IsAsyncDrawBelow(d, l);
}

// Set-up of the mixing in hardware: the first and the last look of the
// effect rectangle (for a layer that goes, the other way round). 0 or 1000.
int SetUpAcceleratedCrossfade(vlFxContext* fx, CrossfadeState* s, vlDisplay* d) {
  const int32_t w = fx->width, h = fx->height;
  if (fx->layered) {
    auto* l = static_cast<vlLayer*>(fx->layer);
    if ((s->layersBelow = SnapshotLayersBelow(d, l, nullptr))) {
      s->snapshot = static_cast<LayerBelow*>(std::calloc(s->layersBelow, sizeof(LayerBelow)));
      s->compare = static_cast<LayerBelow*>(std::calloc(s->layersBelow, sizeof(LayerBelow)));
      if (!s->snapshot || !s->compare) return ERR_MEM;
      SnapshotLayersBelow(d, l, s->snapshot);
    }
    s->layerX = l->geometry[2]->drawnX;
    s->layerY = l->geometry[2]->drawnY;
  }
  s->work = NewBitmap(w, h, 0, nullptr);
  s->oldCopy = NewBitmap(w, h, 0, nullptr);
  s->composite = NewBitmap(w, h, 0, nullptr);
  if (!s->work || !s->oldCopy || !s->composite) return ERR_MEM;
  BltBitmap(fx->oldPicture, 0, 0, s->composite, 0, 0, w, h);
  BltBitmap(fx->oldPicture, 0, 0, s->oldCopy, 0, 0, w, h);
  BlitThroughPlanes(fx->source, fx->sourceMask, fx->sourceAlpha, 0, 0,
                    fx->layered && fx->reverse ? s->oldCopy : s->composite, 0, 0, w, h);
  s->accelerated = 1;
  return 0;
}

// Whether the layer and the layers below it still stand as they did when
// the mixing in hardware began.
bool LayerStillAccelerates(vlFxContext* fx, CrossfadeState* s, vlDisplay* d) {
  if (!CrossfadeAccelerates(fx, d)) return false;
  auto* l = static_cast<vlLayer*>(fx->layer);
  if (l->geometry[2]->drawnX != s->layerX || l->geometry[2]->drawnY != s->layerY) return false;
  if (SnapshotLayersBelow(d, l, nullptr) != s->layersBelow) return false;
  if (!s->layersBelow) return true;
  SnapshotLayersBelow(d, l, s->compare);
  return std::memcmp(s->snapshot, s->compare, s->layersBelow * sizeof(LayerBelow)) == 0;
}

// A frame mixed by the adapter: the last look over the first by the level
// (the pictures were swapped for a layer that goes, so the level counts
// for both ways), straight to the window; the finishing frame is the last
// look itself, kept in the back buffer. The effect's own blit flags stay
// for the frames drawn in software after a fallback.
void DrawAcceleratedFrame(vlFxContext* fx, CrossfadeState* s, vlDisplay* d, bool finishing) {
  const int32_t w = fx->width, h = fx->height;
  BltBitmap(s->composite, 0, 0, s->work, 0, 0, w, h);
  const auto* clip = static_cast<const vlClipRegion*>(d->bgpic->clipRegion);
  if (!finishing) SetAdapterBlitMix(s->oldCopy, s->level);
  const uint32_t flags = finishing ? VL_SAFEBLT_FIRSTBUFFER | (fx->blitFlags & VL_SAFEBLT_KEEP)
                                   : VL_SAFEBLT_NOCLIP | VL_SAFEBLT_NOSPRITES;
  SafeBlt(fx->vm, s->work, 0, 0, nullptr, fx->x, fx->y, w, h, w, h, fx->destWidth, fx->destHeight, flags, nullptr,
          nullptr, clip);
  SetAdapterBlitMix(nullptr, 0);
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
    vlDisplay* d = CurrentDisplay();
    if (CrossfadeAccelerates(fx, d)) {
      if (int status = SetUpAcceleratedCrossfade(fx, s, d)) return status;
    } else if (!fx->layered) {
      s->work = NewBitmap(fx->width, fx->height, 0, nullptr);
      if (!s->work || !fx->oldPicture) return ERR_BITMAP;
    }
    if (fx->layered) {
      // The layer shows the new picture; only its coverage changes.
      BltBitmap(fx->source, 0, 0, fx->layerImage, 0, 0, fx->width, fx->height);
      return (s->coverage = NewPictureAlphaPlane(fx)) ? 0 : ERR_MEM;
    }
    return 0;
  }
  if (fx->phase != 1 && fx->phase != 2) return 0;
  auto* s = static_cast<CrossfadeState*>(fx->state);
  if (fx->phase == 1) {
    s->level += fx->stepSize;
  } else {
    s->level = fx->stepSize * fx->frame;
    s->accelerated = 0;
  }
  if (s->level > 254) {
    *done = 1;
    s->level = 255;
  }
  fx->blendLevel = fx->reverse ? 255 - s->level : s->level;
  vlDisplay* d = CurrentDisplay();
  if (fx->layered) {
    if (fx->phase == 2) {
      DeleteAlphaPlane(s->coverage);
      if (!(s->coverage = NewPictureAlphaPlane(fx))) return ERR_MEM;
      BltBitmap(fx->source, 0, 0, fx->layerImage, 0, 0, fx->width, fx->height);
    }
    ScaleAlphaPlane(s->coverage, fx->layerAlpha, fx->blendLevel);
    // Once anything under or about the layer changed, the layers draw the
    // rest of the effect.
    if (s->accelerated && !LayerStillAccelerates(fx, s, d)) s->accelerated = 0;
    if (!s->accelerated) {
      PresentLayerFrame(fx);
      if (fx->phase == 1) EndFXFrame(fx);
      return 0;
    }
  }
  if (s->accelerated) {
    DrawAcceleratedFrame(fx, s, d, *done != 0);
  } else {
    CrossfadeMix mix{fx, s};
    const vlMadeSource made{PutCrossfade, MakeCrossfade, &mix};
    DrawFXPicture(fx, s->work, &made);
  }
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
