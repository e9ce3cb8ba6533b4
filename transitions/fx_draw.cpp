// Drawing of effect frames onto the display (or the context's target).
#include "transitions/fx_draw.h"

#include <algorithm>

#include "display/bgpic.h"
#include "display/display.h"
#include "display/layer_hooks.h"
#include "display/safe_blt.h"
#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "graphics/geometry.h"
#include "transitions/fx_engine.h"

namespace {

const vlClipRegion* CurrentClip() {
  vlDisplay* d = vlCurrentDisplay;
  return d && d->bgpic ? static_cast<const vlClipRegion*>(d->bgpic->clipRegion) : nullptr;
}

void DrawStrip(vlFxContext* fx, vlBitmap* from, vlBitmap* mask, vlBitmap* alpha, int32_t sx, int32_t sy, int32_t w,
               int32_t h) {
  if (!from || w < 1 || h < 1) return;
  SafeBlt(fx->vm, from, sx, sy, fx->target, fx->x + sx, fx->y + sy, w, h, fx->width, fx->height, fx->destWidth,
          fx->destHeight, fx->blitFlags, mask, alpha, CurrentClip());
}

}  // namespace

void ClipBlitFX(vlBitmap* src, int32_t sx, int32_t sy, vlBitmap* dst, int32_t dx, int32_t dy, int32_t w, int32_t h,
                int32_t srcW, int32_t srcH, int32_t dstW, int32_t dstH) {
  if (sx < 0) { w += sx; dx -= sx; sx = 0; }
  if (sy < 0) { h += sy; dy -= sy; sy = 0; }
  if (dx < 0) { w += dx; sx -= dx; dx = 0; }
  if (dy < 0) { h += dy; sy -= dy; dy = 0; }
  w = std::min({w, srcW - sx, dstW - dx});
  h = std::min({h, srcH - sy, dstH - dy});
  if (w >= 1 && h >= 1) BltBitmap(src, sx, sy, dst, dx, dy, w, h);
}

void SplitHalves(vlFxContext* fx, int32_t extent, int32_t frame) {
  auto* words = static_cast<int32_t*>(fx->state);
  words[1] = (extent + 1) / 2 - frame * fx->stepSize;
  words[0] = extent / 2 + frame * fx->stepSize;
}

void DrawNewStrip(vlFxContext* fx, int32_t sx, int32_t sy, int32_t w, int32_t h) {
  DrawStrip(fx, fx->source, fx->sourceMask, fx->sourceAlpha, sx, sy, w, h);
}

void DrawOldStrip(vlFxContext* fx, int32_t sx, int32_t sy, int32_t w, int32_t h) {
  DrawStrip(fx, fx->oldPicture, nullptr, nullptr, sx, sy, w, h);
}

void DrawFXPicture(vlFxContext* fx, vlBitmap* picture) {
  DrawStrip(fx, picture, nullptr, nullptr, 0, 0, fx->width, fx->height);
}

void FillFXRect(vlFxContext* fx, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t color, uint32_t) {
  vlDisplay* d = vlCurrentDisplay;
  vlBitmap* into = fx->target;
  if (!into && d) into = fx->scaledOutput ? d->back : fx->backgroundTarget ? d->front : nullptr;
  if (into) {
    FillBitmapRect(into, x, y, w, h, color);
  } else if (d) {
    // Keep the back buffer in step with the window.
    FillBitmapRect(d->back, x, y, w, h, color);
    UpdateDisplayRect(d->back, x, y, d, x, y, w, h, 1);
  }
}

void EndFXFrame(vlFxContext* fx) {
  vlDisplay* d = vlCurrentDisplay;
  if (!fx->replaying && d) {
    if (fx->scaledOutput)
      UpdateDisplayRect(d->back, 0, 0, d, 0, 0, fx->destWidth, fx->destHeight, 1);
    else if (fx->backgroundTarget)
      BlitEffectRect(fx->vm, d->back, fx->x, fx->y, d, fx->x, fx->y, fx->width, fx->height);
  }
  fx->frame++;
}
