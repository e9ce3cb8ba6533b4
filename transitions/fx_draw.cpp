// Drawing of effect frames onto the display (or the context's target).
#include "transitions/fx_draw.h"

#include <algorithm>

#include "display/bgpic.h"
#include "display/display.h"
#include "display/layer_hooks.h"
#include "display/layers/safe_blt.h"
#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "graphics/geometry.h"
#include "display/layers/layers.h"
#include "graphics/picture_engines.h"
#include "objects/sprites/sprite.h"
#include "transitions/fx_engine.h"

namespace {

const vlClipRegion* CurrentClip() {
  vlDisplay* d = CurrentDisplay();
  return d && d->bgpic ? static_cast<const vlClipRegion*>(d->bgpic->clipRegion) : nullptr;
}

int32_t WidthOf(vlBitmap* b) { return static_cast<int32_t>(QueryBitmap(b, 0)); }
int32_t HeightOf(vlBitmap* b) { return static_cast<int32_t>(QueryBitmap(b, 14)); }

bool Styled(const vlLayer* l) { return l->shadow.on || l->border.on || LayerHasFilters(l->filters); }

// A colour on the display, the way the frame's blits go: into the back
// buffer with the sprites drawn again over it; on a display without layers
// also into the front copy (the picture under the sprites, from which they
// and a scaled window are redrawn) wherever the frames go there; and out
// to the window unless the frame is pushed whole at its end.
void FillOnDisplay(vlFxContext* fx, vlDisplay* d, vlRectXYWH r, uint32_t color) {
  vlBitmap* back = d->back;
  if (!back || !ClipRectToSize(&r, std::min(fx->destWidth, back->width), std::min(fx->destHeight, back->height)) ||
      r.width < 1 || r.height < 1)
    return;
  vlBGPic* shown = vlCurrentOutput;
  const bool sprites = shown && shown->sprites;
  FillBitmapRect(back, r.x, r.y, r.width, r.height, color);
  if (!d->layersOn && d->front && d->front != back && (sprites || (fx->blitFlags & VL_SAFEBLT_KEEP)))
    FillBitmapRect(d->front, r.x, r.y, r.width, r.height, color);
  if (sprites && OverlapsSprite(shown, r.x, r.y, r.width, r.height))
    RedrawLayers(fx->vm, d, d->bgpic, back, r.x, r.y, r.width, r.height, 2);
  if (!(fx->blitFlags & VL_SAFEBLT_NOSHOW)) UpdateDisplayRect(back, r.x, r.y, d, r.x, r.y, r.width, r.height, 1);
}

// Makes the rectangle of a mask or alpha plane visible or invisible.
void FillPlanes(vlBitmap* mask, vlBitmap* alpha, int32_t x, int32_t y, int32_t w, int32_t h, bool visible) {
  if (alpha) FillAlphaRect(alpha, x, y, w, h, visible ? 255 : 0);
  else if (mask) FillMaskRect(mask, x, y, w, h, visible ? 0 : 1);
}

}  // namespace

uint32_t FXHoldFlag(const vlFxContext* fx) {
  return fx->replaying || fx->layerStyled || fx->backgroundTarget ? uint32_t{VL_FXB_NOSHOW} : 0u;
}

void BlitFXRect(vlBitmap* src, int32_t sx, int32_t sy, vlBitmap* dst, vlBitmap* dstMask, vlBitmap* dstAlpha,
                int32_t dx, int32_t dy, int32_t w, int32_t h, int32_t dstW, int32_t dstH, int32_t clipW, int32_t clipH,
                vlBitmap* srcMask, vlBitmap* srcAlpha, vlFxContext* fx, uint32_t flags) {
  // A negative source origin is the caller's fault, not something to clip.
  if (sx < 0 || sy < 0 || !dst) return;
  ClipBlitRects(nullptr, &sx, &sy, &dx, &dy, &w, &h, clipW, clipH, dstW, dstH, 0);
  if (w < 1 || h < 1) return;
  const bool keepWork = flags & VL_FXB_KEEPWORK;
  if (flags & VL_FXB_FILL) {
    const bool visible = flags & VL_FXB_VISIBLE;
    FillPlanes(dstMask, dstAlpha, dx, dy, w, h, visible);
    if (!keepWork) FillPlanes(fx->workMask, fx->workAlpha, dx, dy, w, h, visible);
  } else {
    if (!src) return;
    const bool combine = flags & VL_FXB_COMBINE;
    if (dstMask && srcMask) {
      CopyMaskRegion(srcMask, sx, sy, dstMask, dx, dy, w, h, combine ? 0 : 2, nullptr, 0);
    } else if (dstAlpha && srcAlpha) {
      CopyAlphaRectClipped(srcAlpha, sx, sy, dstAlpha, dx, dy, w, h, combine ? 1 : 0, 0);
    } else if (dstAlpha && srcMask) {
      if (!combine) FillAlphaRect(dstAlpha, dx, dy, w, h, 0);
      CopyMaskRect(srcMask, sx, sy, dstAlpha, dx, dy, w, h, 255);
    } else {
      FillPlanes(dstMask, dstAlpha, dx, dy, w, h, true);
    }
    if (!keepWork) FillPlanes(fx->workMask, fx->workAlpha, dx, dy, w, h, true);
    // A picture with its own alpha plane takes the pixels unmixed wherever
    // the source covers them: mixed here and again when the layer is
    // drawn, they would depend on what the picture held before.
    if ((flags & VL_FXB_THROUGH) && dstAlpha && srcAlpha && !srcMask)
      AlphaBlitBitmaps(src, sx, sy, dst, dx, dy, w, h, srcAlpha, nullptr, 1);
    else if (flags & VL_FXB_THROUGH) BlitThroughPlanes(src, srcMask, srcAlpha, sx, sy, dst, dx, dy, w, h);
    else BltBitmap(src, sx, sy, dst, dx, dy, w, h);
  }
  if (!(flags & VL_FXB_NOSHOW) && fx->layer)
    PresentFXRect(fx, dst, dx, dy, fx->x + dx, fx->y + dy, w, h, dstW, dstH, dstMask, dstAlpha, flags);
}

void BlitIntoLayer(vlFxContext* fx, vlBitmap* src, vlBitmap* srcMask, vlBitmap* srcAlpha, int32_t sx, int32_t sy,
                   int32_t dx, int32_t dy, int32_t w, int32_t h, uint32_t flags) {
  const int32_t cw = src ? WidthOf(src) : fx->width, ch = src ? HeightOf(src) : fx->height;
  BlitFXRect(src, sx, sy, fx->layerImage, fx->layerMask, fx->layerAlpha, dx, dy, w, h, fx->width, fx->height, cw, ch,
             srcMask, srcAlpha, fx, flags);
}

void PresentFXRect(vlFxContext* fx, vlBitmap* bitmap, int32_t sx, int32_t sy, int32_t dx, int32_t dy, int32_t w,
                   int32_t h, int32_t, int32_t, vlBitmap* mask, vlBitmap* alpha, uint32_t flags) {
  vlDisplay* d = CurrentDisplay();
  auto* l = static_cast<vlLayer*>(fx->layer);
  if (!d || !d->bgpic || !d->back || !l) return;
  vlLayerGeometry* g = l->geometry[2];
  const bool styled = Styled(l);
  vlRectXYWH r{dx, dy, w, h};
  if (styled) {
    // Shadow, border and moving filters reach beyond the rectangle and are
    // made again from the working picture.
    GetLayerOuterRect(fx->vm, l, g, &r.x, &r.y, &r.width, &r.height);
    if (l->shadow.on) ReleaseLayerGeometryCaches(l);
    if (LayerHasFilters(l->filters)) FreeLayerBitmaps(l);
    if (!fx->noBorderFade) {
      if (IsAlphaBlendingEffect(fx->effect)) {
        l->shadowFade = l->borderFade = static_cast<uint32_t>(fx->blendLevel + 1);
      } else {
        int32_t level = fx->frameCount > 0 ? std::min(fx->frame, fx->frameCount) * 255 / fx->frameCount : 255;
        if (fx->reverse) level = 255 - level;
        l->borderFade = static_cast<uint32_t>(level + 1);
      }
    }
  }
  const int32_t ox = r.x, oy = r.y;
  if (!ClipRectToSize(&r, d->bgpic->dispWidth, d->bgpic->dispHeight) || r.width < 1 || r.height < 1) return;
  const bool direct = bitmap && !styled && !(flags & VL_FXB_FILL) && !g->clipRegion && !mask && !alpha &&
                      !l->transparency && IsLayerUnobscured(d->bgpic, l);
  if (direct) {
    // Nothing lies over or in the layer: its picture goes straight out.
    const int32_t bx = sx + (r.x - ox), by = sy + (r.y - oy);
    const int32_t bw = std::min(r.width, WidthOf(bitmap) - bx), bh = std::min(r.height, HeightOf(bitmap) - by);
    if (bx < 0 || by < 0 || bw < 1 || bh < 1) return;
    BltBitmap(bitmap, bx, by, d->back, r.x, r.y, bw, bh);
    if (!fx->scaledOutput) UpdateDisplayRect(bitmap, bx, by, d, r.x, r.y, bw, bh, 0);
    return;
  }
  RedrawLayers(fx->vm, d, d->bgpic, d->back, r.x, r.y, r.width, r.height, 0);
  if (!fx->scaledOutput || (flags & VL_FXB_PUSH)) UpdateDisplayRect(d->back, r.x, r.y, d, r.x, r.y, r.width, r.height, 0);
}

void PresentFXLayer(vlFxContext* fx, uint32_t flags) {
  PresentFXRect(fx, fx->layerImage, 0, 0, fx->x, fx->y, fx->width, fx->height, fx->width, fx->height, fx->layerMask,
                fx->layerAlpha, flags);
}

void MakeOpaqueMask(vlFxContext* fx, vlBitmap* plane) {
  const int32_t w = fx->width, h = fx->height;
  if (fx->sourceAlpha) {
    CopyAlphaRect(fx->sourceAlpha, 0, 0, plane, 0, 0, w, h, 0, 0);
  } else if (fx->sourceMask) {
    FillAlphaRect(plane, 0, 0, w, h, 0);
    CopyMaskRect(fx->sourceMask, 0, 0, plane, 0, 0, w, h, 255);
  } else {
    FillAlphaRect(plane, 0, 0, w, h, 255);
  }
}

vlBitmap* NewPictureAlphaPlane(vlFxContext* fx) {
  vlBitmap* plane = NewAlphaPlane(fx->width, fx->height, 1, nullptr, 0);
  if (plane) MakeOpaqueMask(fx, plane);
  return plane;
}

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
                int32_t w, int32_t h, int32_t ox, int32_t oy, int32_t picW, int32_t picH, const vlMadeSource* made) {
  if (!picture) return;
  // Keep the part inside the effect rectangle and the picture.
  if (ox < 0) { w += ox; sx -= ox; ox = 0; }
  if (oy < 0) { h += oy; sy -= oy; oy = 0; }
  if (sx < 0) { w += sx; ox -= sx; sx = 0; }
  if (sy < 0) { h += sy; oy -= sy; sy = 0; }
  w = std::min({w, fx->width - ox, picW - sx});
  h = std::min({h, fx->height - oy, picH - sy});
  if (w < 1 || h < 1) return;
  if (fx->layered) {
    // New strips arrive (or, hiding, go) in the layer's own picture; any
    // other picture is put in as it is.
    uint32_t flags = FXHoldFlag(fx);
    if (made) made->make(made->context, sx, sy, w, h);
    if (picture == fx->source && fx->reverse) flags |= VL_FXB_FILL;
    BlitIntoLayer(fx, picture, mask, alpha, sx, sy, ox, oy, w, h, flags);
    return;
  }
  SafeBlt(fx->vm, picture, sx, sy, fx->target, fx->x + ox, fx->y + oy, w, h, picW, picH, fx->destWidth,
          fx->destHeight, fx->blitFlags, mask, alpha, CurrentClip(), made);
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
  if (fx->layered && !fx->oldPicture) {
    // Under a layer lies what the layer lets through: the strip goes
    // (or, hiding, the layer's own picture comes back).
    if (fx->reverse) BlitIntoLayer(fx, fx->source, fx->sourceMask, fx->sourceAlpha, sx, sy, sx, sy, w, h, FXHoldFlag(fx));
    else BlitIntoLayer(fx, nullptr, nullptr, nullptr, sx, sy, sx, sy, w, h, VL_FXB_FILL | FXHoldFlag(fx));
    return;
  }
  DrawFXPart(fx, fx->oldPicture, nullptr, nullptr, sx, sy, w, h, sx, sy, fx->width, fx->height);
}

void PutOldPictureIntoLayer(vlFxContext* fx) {
  if (fx->layered && fx->oldPicture)
    BlitIntoLayer(fx, fx->oldPicture, nullptr, nullptr, 0, 0, 0, 0, fx->width, fx->height, VL_FXB_NOSHOW);
}

void DrawFXPicture(vlFxContext* fx, vlBitmap* picture, const vlMadeSource* made) {
  DrawFXPart(fx, picture, nullptr, nullptr, 0, 0, fx->width, fx->height, 0, 0, fx->width, fx->height, made);
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
  if (fx->layered) {
    // The planes say which pixels of the new picture have arrived.
    BlitIntoLayer(fx, fx->source, mask, alpha, sx, sy, sx, sy, w, h,
                  VL_FXB_THROUGH | (mask ? uint32_t{VL_FXB_COMBINE} : 0u) | FXHoldFlag(fx));
    return;
  }
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

void FillFXRect(vlFxContext* fx, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t color, uint32_t flags) {
  vlDisplay* d = CurrentDisplay();
  if (fx->layered) {
    vlRectXYWH r{x - fx->x, y - fx->y, w, h};
    if (!fx->layerImage || !ClipRectToSize(&r, fx->width, fx->height) || r.width < 1 || r.height < 1) return;
    FillBitmapRect(fx->layerImage, r.x, r.y, r.width, r.height, color);
    if (!(flags & VL_FXB_NOSHOW))
      PresentFXRect(fx, fx->layerImage, r.x, r.y, fx->x + r.x, fx->y + r.y, r.width, r.height, fx->width,
                    fx->height, fx->layerMask, fx->layerAlpha, 0);
    return;
  }
  // Off screen (scaled output, a marked display) the fill waits in the
  // back buffer with the frame's blits and goes out with the frame.
  if (fx->target) FillBitmapRect(fx->target, x, y, w, h, color);
  else if (d) FillOnDisplay(fx, d, {x, y, w, h}, color);
}

void EndFXFrame(vlFxContext* fx) {
  vlDisplay* d = CurrentDisplay();
  if (!fx->replaying && d) {
    const bool presented = fx->layered && (fx->layerStyled || fx->backgroundTarget);
    if (presented) PresentFXLayer(fx, VL_FXB_PUSH);
    if (fx->scaledOutput)
      UpdateDisplayRect(d->back, 0, 0, d, 0, 0, fx->destWidth, fx->destHeight, 1);
    else if (fx->backgroundTarget && !presented)
      BlitEffectRect(fx->vm, d->back, fx->x, fx->y, d, fx->x, fx->y, fx->width, fx->height);
  }
  fx->frame++;
}
