// SafeBlt and BlitEffectRect: the clipped blit onto the current display
// and its buffers, with sprites, clip masks and the target's planes.
#include "display/layers/safe_blt.h"

#include <algorithm>

#include "display/layers/engine_hooks.h"
#include "display/bgpic.h"
#include "display/display.h"
#include "display/layer_hooks.h"
#include "display/layers/clip_regions.h"
#include "display/layers/layers.h"
#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "graphics/geometry.h"
#include "graphics/pixel_kernels.h"
#include "graphics/presentation.h"
#include "platform/display_adapter.h"
#include "runtime/runtime_options.h"
#include "platform/display_device.h"

int32_t vlSelectMode = 0;
int32_t vlSelectAlphaMode = 0;
vlDisplay* vlSpareDisplay = nullptr;

namespace {

// The mask mode (run-time option 4) and alpha intensity (option 6; -1
// unset) of the graphics library.
int32_t RuntimeWord(vlVMState* L, uint32_t tag, int32_t fallback) {
  uint32_t value = static_cast<uint32_t>(fallback);
  if (L) GetRuntimeOption(L, tag, &value, 0u);
  return static_cast<int32_t>(value);
}

// Mask bits set where the alpha bytes are not 0.
void AlphaIntoMask(vlBitmap* alpha, int32_t sx, int32_t sy, vlBitmap* mask, int32_t dx, int32_t dy, int32_t w,
                   int32_t h, int32_t mode) {
  vlPixelAccess a{}, m{};
  if (!LockPixels(alpha, VL_LOCK_READ, &a)) return;
  if (LockPixels(mask, 0, &m)) {
    AlphaToMaskRect(a.pixels + static_cast<intptr_t>(sy) * a.rowLength + sx, a.rowLength,
                    m.pixels + static_cast<intptr_t>(dy) * m.rowLength, m.rowLength, dx, w, h, mode);
    UnlockPixels(mask, &m);
  }
  UnlockPixels(alpha, &a);
}

}  // namespace

void UpdatePlaneTarget(vlVMState* L, const vlDisplay* d, vlBitmap* picture) {
  const uint32_t mode = d ? d->outputType : 0;
  // A hardware brush selected in combo mode, drawn into directly.
  const bool combo = d && d->outputHardware && mode == VL_OUTPUT_BRUSH && vlSelectMode == 1 && !d->doubleBuffer;
  SetComboTarget(combo ? picture : nullptr, vlSelectAlphaMode);
  if (!d || !d->outputHardware || (mode != VL_OUTPUT_MASK && mode != VL_OUTPUT_ALPHA) || !picture) {
    SetPlaneTarget(nullptr, 0, 0);
    return;
  }
  SetPlaneTarget(picture, mode, mode == VL_OUTPUT_MASK ? RuntimeWord(L, 4, 0) : RuntimeWord(L, 6, -1));
}

void SafeBlt(vlVMState* L, vlBitmap* src, int32_t sx, int32_t sy, vlBitmap* dst, int32_t dx, int32_t dy, int32_t w,
             int32_t h, int32_t srcW, int32_t srcH, int32_t dstW, int32_t dstH, uint32_t flags, vlBitmap* mask,
             vlBitmap* alpha, const vlClipRegion* clip, const vlMadeSource* made) {
  vlDisplay* d = CurrentDisplay();
  // A hardware target's mask or alpha channel takes the blit by the mask
  // mode or alpha intensity of now.
  if (d && d->outputHardware && dst && vlCurrentOutput && dst == vlCurrentOutput->curBitmap)
    UpdatePlaneTarget(L, d, dst);
  if (!d) {
    // Blits report nothing: with no display to draw for, nothing is drawn.
    if (!dst || !(flags & VL_SAFEBLT_OFFSCREEN) || !vlSpareDisplay) return;
    // Off screen with no display: the spare record stands in for one here
    // alone; nothing this blit reaches asks for the current display.
    d = vlSpareDisplay;
    flags |= VL_SAFEBLT_NOSPRITES;
  }
  vlBitmap* tempPlane = nullptr;
  vlBitmap *ownPicture = nullptr, *ownMask = nullptr, *ownAlpha = nullptr;
  vlBitmap* showFrom = nullptr;
  vlBitmap* toFront = nullptr;
  bool owed = false;
  bool showSource = false;
  const bool regionActive = clip && !(flags & VL_SAFEBLT_NOCLIP);
  // A made source is computed into its own picture where it is read, and
  // once only.
  auto makeInSource = [&] {
    if (made) made->make(made->context, sx, sy, w, h);
    made = nullptr;
  };
  auto copyInto = [&](vlBitmap* to) {
    if (!made || !made->put(made->context, to, sx, sy, dx, dy, w, h)) {
      makeInSource();
      BltBitmap(src, sx, sy, to, dx, dy, w, h);
    }
  };
  if (sx < 0 || sy < 0 || !src) goto done;
  ClipBlitRects(clip, &sx, &sy, &dx, &dy, &w, &h, srcW, srcH, dstW, dstH, regionActive);
  if (w < 1 || h < 1) goto done;
  // An adapter's picture whose alpha bytes hold its key, mask or alpha
  // channel, drawn where the target's own mask or alpha channel takes the
  // source's (combo mode, a plane selected) or through a clip region's
  // mask: taken apart into the planes the player's own picture of it would
  // have, so both are drawn alike.
  if (!mask && !alpha && !made && src->driverOwned && src->alphaBytes &&
      ((!(flags & VL_SAFEBLT_OFFSCREEN) && d->outputType != VL_OUTPUT_DISPLAY && (d->outputMask || d->outputAlpha)) ||
       (regionActive && clip->mask)) &&
      TakeOwnAlphaApart(src, sx, sy, w, h, &ownPicture, &ownMask, &ownAlpha)) {
    src = ownPicture, mask = ownMask, alpha = ownAlpha;
    sx = sy = 0, srcW = w, srcH = h;
  }

  if (!(flags & VL_SAFEBLT_NOSPRITES) && vlCurrentOutput && d->back &&
      gLayerHooks.overlapsSprite(vlCurrentOutput, dx, dy, w, h)) {
    // Under the sprites: into the back buffer, then the sprites over it.
    const int32_t bw = d->back->width, bh = d->back->height;
    if (!(flags & VL_SAFEBLT_FIRSTBUFFER))
      RedrawBGPicLayers(L, d, d->bgpic, d->back, dx, dy, w, h, 1);
    SafeBlt(L, src, sx, sy, d->back, dx, dy, w, h, srcW, srcH, bw, bh, VL_SAFEBLT_NOSPRITES | VL_SAFEBLT_NOCLIP,
            mask, alpha, nullptr, made);
    // Without layers the front copy is the picture under the sprites.
    if (!d->layersOn && d->front && !dst)
      SafeBlt(L, src, sx, sy, d->front, dx, dy, w, h, srcW, srcH, d->front->width, d->front->height,
              VL_SAFEBLT_NOSPRITES | VL_SAFEBLT_NOCLIP | VL_SAFEBLT_OFFSCREEN, mask, alpha, nullptr, made);
    RedrawBGPicLayers(L, d, d->bgpic, d->back, dx, dy, w, h, (flags & VL_SAFEBLT_FIRSTBUFFER) ? 0 : 2);
    if (!(flags & VL_SAFEBLT_NOSHOW))
      SafeBlt(L, d->back, dx, dy, dst, dx, dy, w, h, bw, bh, dst ? dstW : bw, dst ? dstH : bh,
              VL_SAFEBLT_NOCLIP | VL_SAFEBLT_NOSPRITES, nullptr, nullptr, nullptr);
    goto done;
  }

  if (regionActive && clip->mask) {
    makeInSource();
    tempPlane = MakeClipPlane(clip, mask, alpha, sx, sy, dx, dy, w, h, srcW);
    if (!tempPlane) goto done;
    if (alpha)
      alpha = tempPlane;
    else
      mask = tempPlane;
  }

  if (!dst && d->outputType == VL_OUTPUT_DISPLAY) {
    if (((flags & VL_SAFEBLT_FIRSTBUFFER) && !d->layersOn) || (flags & VL_SAFEBLT_BACKANDSHOW)) {
      // Sprites and the scaled window are redrawn from the front copy: it
      // takes what stays drawn. No sprite is over the rectangle, so the
      // back buffer's pixels there are the front copy's until the blit, and
      // the blit's result is copied over (a made source is made once).
      if (!d->layersOn && d->front && d->front != d->back &&
          ((flags & VL_SAFEBLT_KEEP) || (vlCurrentOutput && vlCurrentOutput->sprites)))
        toFront = d->front;
      dst = d->back;
      // With no sprite on the display the back buffer is what the front
      // copy should hold wherever it took a kept drawing, so the copy is
      // owed and made only when the front copy is next used or the back
      // buffer changes otherwise (a frame drawn whole over the last then
      // costs one copy, not two). Not with sources that read the front
      // copy. A display adapter's blits settle the debt as the locks do.
      owed = toFront && !made && src != toFront && mask != toFront && alpha != toFront &&
             !(d->bgpic && d->bgpic->sprites) && !(vlCurrentOutput && vlCurrentOutput->sprites) &&
             BeginOwedDrawing(d->back, toFront);
      if (!(flags & VL_SAFEBLT_NOSHOW)) showFrom = d->back;
    } else if (d->layersOn && (flags & VL_SAFEBLT_FROMLAYERS) && d->back) {
      RedrawBGPicLayers(L, d, d->bgpic, d->back, dx, dy, w, h, 0);
      UpdateDisplayRect(d->back, dx, dy, d, dx, dy, w, h, 0);
      goto done;
    }
  }

  if (!mask && !alpha) {
    if (dst) {
      // The same bytes on both sides: no made source, no adapter (which
      // keeps its own path) and no conversion between pixel formats.
      const bool plain = !made && DisplayDeviceDoes(d, VL_DEVICE_HOLDS_PUTS) && !src->driverOwned && dst &&
                         QueryBitmap(src, 21) == QueryBitmap(dst, 21);
      // The back buffer takes the source's pixels: the window takes them
      // from the source, which nothing draws into meanwhile, so the next
      // drawing into the back buffer need not wait for the server. Nor is
      // the copy made before something uses the back buffer: a frame drawn
      // whole over the last one then costs the server's copy alone.
      showSource = plain && showFrom == d->back && dst == d->back && src != d->back && !d->autoScale;
      if (!showSource || !DeferBitmapCopy(src, sx, sy, dst, dx, dy, w, h)) copyInto(dst);
    } else if (d->outputType == VL_OUTPUT_DISPLAY) {
      makeInSource();
      UpdateDisplayRect(src, sx, sy, d, dx, dy, w, h, 0);
    }
  } else if (alpha) {
    // A made source may blend its own pixels in, unmade.
    const bool plainBlend = dst && !(d->outputAlpha && !(flags & VL_SAFEBLT_OFFSCREEN));
    const bool put = plainBlend && made && made->putAlpha &&
                     made->putAlpha(made->context, dst, sx, sy, dx, dy, w, h, alpha);
    if (!put) makeInSource();
    if (dst && !put) {
      if (d->outputAlpha && !(flags & VL_SAFEBLT_OFFSCREEN)) {
        if (vlSelectAlphaMode)
          AlphaBlitBitmaps(src, sx, sy, dst, dx, dy, w, h, alpha, vlSelectAlphaMode == 2 ? d->outputAlpha : nullptr,
                           vlSelectAlphaMode);
        else
          BltBitmap(src, sx, sy, dst, dx, dy, w, h);
      } else {
        BltBitmapAlpha(src, sx, sy, dst, dx, dy, w, h, alpha);
      }
    }
  } else if (dst) {
    makeInSource();
    BltBitmapMasked(src, sx, sy, dst, dx, dy, w, h, mask);
  }

  if (!(flags & VL_SAFEBLT_OFFSCREEN) && d->outputType != VL_OUTPUT_DISPLAY) {
    const int32_t intensity = RuntimeWord(L, 6, -1);
    if (vlBitmap* om = d->outputMask) {
      const int32_t mode = dst ? 2 : RuntimeWord(L, 4, 2);
      if (alpha)
        AlphaIntoMask(alpha, sx, sy, om, dx, dy, w, h, mode);
      else if (mask)
        CopyMaskRegion(mask, sx, sy, om, dx, dy, w, h, mode, nullptr, 0);
      else
        FillMaskRect(om, dx, dy, w, h, mode);
    }
    if (vlBitmap* oa = d->outputAlpha) {
      const uint8_t full = static_cast<uint8_t>((intensity == -1 || dst) ? 255 : intensity);
      if (alpha) {
        const int32_t mode =
            (intensity != -1 && !dst) ? 6 : vlSelectAlphaMode == 0 ? 0 : vlSelectAlphaMode == 2 ? 9 : 1;
        CopyAlphaRectClipped(alpha, sx, sy, oa, dx, dy, w, h, mode, intensity);
      } else if (mask) {
        CopyMaskRect(mask, sx, sy, oa, dx, dy, w, h, full);
      } else {
        FillAlphaRect(oa, dx, dy, w, h, full);
      }
    }
  }
  if (toFront) {
    const int32_t fw = std::min(w, std::min(toFront->width, dst->width) - dx);
    const int32_t fh = std::min(h, std::min(toFront->height, dst->height) - dy);
    if (owed)
      EndOwedDrawing(dst, toFront, dx, dy, fw, fh);
    else if (fw > 0 && fh > 0)
      BltBitmap(dst, dx, dy, toFront, dx, dy, fw, fh);
  }
  if (showSource)
    UpdateDisplayRect(src, sx, sy, d, dx, dy, w, h, 1);
  else if (showFrom)
    UpdateDisplayRect(showFrom, dx, dy, d, dx, dy, w, h, 1);

done:
  FreeClipPlane(tempPlane);
  DeleteMaskPlane(ownMask);
  DeleteAlphaPlane(ownAlpha);
  DeleteBitmap(ownPicture);
}

void BlitToDrawTarget(vlVMState* L, vlBitmap* src, int32_t sx, int32_t sy, int32_t dx, int32_t dy, int32_t w,
                      int32_t h, int32_t srcW, int32_t srcH, vlBitmap* mask, vlBitmap* alpha,
                      const vlMadeSource* made) {
  vlDisplay* d = CurrentDisplay();
  vlBGPic* target = vlCurrentOutput;
  if (!d || !target || !src) return;
  if (d->doubleBuffer && !d->hardwareDoubleBuffer) InvalidateArea(dx, dy, w, h);
  vlBitmap* dst = d->outputType == VL_OUTPUT_DISPLAY ? nullptr : target->curBitmap;
  SafeBlt(L, src, sx, sy, dst, dx, dy, w, h, srcW, srcH, target->width, target->height,
          VL_SAFEBLT_FIRSTBUFFER | VL_SAFEBLT_FROMLAYERS | VL_SAFEBLT_DIRECT | VL_SAFEBLT_KEEP, mask, alpha,
          static_cast<const vlClipRegion*>(target->clipRegion), made);
}

void BlitEffectRect(vlVMState* L, vlBitmap* src, int32_t sx, int32_t sy, vlDisplay* d, int32_t dx, int32_t dy,
                    int32_t w, int32_t h) {
  if (!d || !src) return;
  const int32_t ow = vlCurrentOutput ? vlCurrentOutput->dispWidth : d->width;
  const int32_t oh = vlCurrentOutput ? vlCurrentOutput->dispHeight : d->height;
  ClipBlitRects(nullptr, &sx, &sy, &dx, &dy, &w, &h, src->width, src->height, ow, oh, 0);
  if (w < 1 || h < 1) return;
  // The back buffer already holds the sprites (every blit that met one drew
  // them again): drawn once more, a sprite's soft edges would darken.
  if (d->back && src != d->back && vlCurrentOutput && gLayerHooks.overlapsSprite(vlCurrentOutput, dx, dy, w, h)) {
    BltBitmap(src, sx, sy, d->back, dx, dy, w, h);
    RedrawBGPicLayers(L, d, d->bgpic, d->back, dx, dy, w, h, 2);
    UpdateDisplayRect(d->back, dx, dy, d, dx, dy, w, h, 1);
  } else {
    UpdateDisplayRect(src, sx, sy, d, dx, dy, w, h, 1);
  }
}
