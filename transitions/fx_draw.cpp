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
#include "graphics/picture_engines.h"
#include "transitions/fx_engine.h"

namespace {

const vlClipRegion* CurrentClip() {
  vlDisplay* d = vlCurrentDisplay;
  return d && d->bgpic ? static_cast<const vlClipRegion*>(d->bgpic->clipRegion) : nullptr;
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

void DrawFXPart(vlFxContext* fx, vlBitmap* picture, vlBitmap* mask, vlBitmap* alpha, int32_t sx, int32_t sy,
                int32_t w, int32_t h, int32_t ox, int32_t oy, int32_t picW, int32_t picH) {
  if (!picture) return;
  // Keep the part inside the effect rectangle and the picture.
  if (ox < 0) { w += ox; sx -= ox; ox = 0; }
  if (oy < 0) { h += oy; sy -= oy; oy = 0; }
  if (sx < 0) { w += sx; ox -= sx; sx = 0; }
  if (sy < 0) { h += sy; oy -= sy; sy = 0; }
  w = std::min({w, fx->width - ox, picW - sx});
  h = std::min({h, fx->height - oy, picH - sy});
  if (w < 1 || h < 1) return;
  SafeBlt(fx->vm, picture, sx, sy, fx->target, fx->x + ox, fx->y + oy, w, h, picW, picH, fx->destWidth,
          fx->destHeight, fx->blitFlags, mask, alpha, CurrentClip());
}

void DrawNewStrip(vlFxContext* fx, int32_t sx, int32_t sy, int32_t w, int32_t h) {
  DrawFXPart(fx, fx->source, fx->sourceMask, fx->sourceAlpha, sx, sy, w, h, sx, sy, fx->width, fx->height);
}

void DrawNewLines(vlFxContext* fx, bool columns, int32_t first, int32_t last) {
  if (last < first) return;
  if (columns) DrawNewStrip(fx, first, 0, last - first + 1, fx->height);
  else DrawNewStrip(fx, 0, first, fx->width, last - first + 1);
}

void DrawOldStrip(vlFxContext* fx, int32_t sx, int32_t sy, int32_t w, int32_t h) {
  DrawFXPart(fx, fx->oldPicture, nullptr, nullptr, sx, sy, w, h, sx, sy, fx->width, fx->height);
}

void DrawFXPicture(vlFxContext* fx, vlBitmap* picture) {
  DrawFXPart(fx, picture, nullptr, nullptr, 0, 0, fx->width, fx->height, 0, 0, fx->width, fx->height);
}

void BlitThroughPlanes(vlBitmap* src, vlBitmap* mask, vlBitmap* alpha, int32_t sx, int32_t sy, vlBitmap* dst,
                       int32_t dx, int32_t dy, int32_t w, int32_t h) {
  if (mask) BltBitmapMasked(src, sx, sy, dst, dx, dy, w, h, mask);
  else if (alpha) BltBitmapAlpha(src, sx, sy, dst, dx, dy, w, h, alpha);
  else BltBitmap(src, sx, sy, dst, dx, dy, w, h);
}

void DrawThroughMask(vlFxContext* fx, int32_t sx, int32_t sy, int32_t w, int32_t h, vlBitmap* mask, vlBitmap* alpha,
                     vlBitmap* work) {
  if (sx < 0) { w += sx; sx = 0; }
  if (sy < 0) { h += sy; sy = 0; }
  w = std::min(w, fx->width - sx);
  h = std::min(h, fx->height - sy);
  if (w < 1 || h < 1 || !work) return;
  if (fx->oldPicture) BltBitmap(fx->oldPicture, sx, sy, work, 0, 0, w, h);
  BlitThroughPlanes(fx->source, mask, alpha, sx, sy, work, 0, 0, w, h);
  DrawFXPart(fx, work, nullptr, nullptr, 0, 0, w, h, sx, sy, w, h);
}

vlFxScaled::~vlFxScaled() {
  if (!owned) return;
  DeleteBitmap(bitmap);
  DeleteMaskPlane(mask);
  DeleteAlphaPlane(alpha);
}

int ScaleFXPicture(vlFxContext* fx, vlBitmap* picture, vlBitmap* mask, vlBitmap* alpha, int32_t x, int32_t y, int32_t w,
                   int32_t h, int32_t tw, int32_t th, vlFxScaled* out) {
  if (w == tw && h == th && x == 0 && y == 0 && w == fx->width && h == fx->height) {
    out->bitmap = picture, out->mask = mask, out->alpha = alpha;
    return 0;
  }
  out->owned = true;
  return ScaleBitmap(picture, mask, alpha, x, y, nullptr, w, h, tw, th, 0, 0, &out->bitmap, &out->mask, &out->alpha);
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
