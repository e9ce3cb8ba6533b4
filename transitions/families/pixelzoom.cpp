// PIXELZOOM1 sharpens the new picture out of pixel blocks; PIXELZOOM2
// first coarsens the old picture, then sharpens the new one.
#include <algorithm>

#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "graphics/image_kernels.h"
#include "transitions/families/families.h"
#include "transitions/fx_draw.h"
#include "vm/error_codes.h"

namespace {

struct PixelZoomState {
  vlBitmap* work;
  vlBitmap* mask;
  vlBitmap* alpha;
  vlBitmap* work2;
  vlPixelateJob job;
  int32_t counter;
};

uint8_t* PlaneBytes(vlBitmap* plane, bool mask, int32_t* rowBytes) {
  if (!plane) {
    *rowBytes = 0;
    return nullptr;
  }
  *rowBytes = static_cast<int32_t>(QueryBitmap(plane, mask ? 2 : 1));
  return reinterpret_cast<uint8_t*>(QueryBitmap(plane, mask ? 4 : 3));
}

// Averages pic in blocks of block pixels into the work bitmap (and its
// planes when the picture brings some); a failed lock skips the frame.
void Coarsen(PixelZoomState* s, vlBitmap* pic, vlBitmap* mask, vlBitmap* alpha, int32_t w, int32_t h, int32_t block) {
  vlPixelAccess src{}, dst{};
  if (!LockPixels(pic, VL_LOCK_READ, &src)) return;
  if (LockPixels(s->work, 0, &dst)) {
    vlPixelateJob& j = s->job;
    j = {};
    j.srcPixels = src.pixels;
    j.dstPixels = dst.pixels;
    j.srcRow = src.rowLength;
    j.dstRow = dst.rowLength;
    j.srcMask = PlaneBytes(mask, true, &j.srcMaskRowBytes);
    j.dstMask = mask ? PlaneBytes(s->mask, true, &j.dstMaskRowBytes) : nullptr;
    j.srcAlpha = PlaneBytes(alpha, false, &j.srcAlphaRowBytes);
    j.dstAlpha = alpha ? PlaneBytes(s->alpha, false, &j.dstAlphaRowBytes) : nullptr;
    j.width = w;
    j.height = h;
    j.block = std::min({w, h, block});
    if (src.bytesPerPixel == 4 && dst.bytesPerPixel == 4) PixelatePix32(j);
    else if (src.bytesPerPixel == 2 && dst.bytesPerPixel == 2) PixelatePix16(j);
    UnlockPixels(s->work, &dst);
  }
  UnlockPixels(pic, &src);
}

}  // namespace

int StepPixelZoom(vlFxContext* fx, int32_t* done) {
  const int32_t w = fx->width, h = fx->height;
  // On a layer that stands for no BGPic the second form runs as the first.
  const bool second = fx->effect == 133 && (fx->objectType == VL_FX_BGPIC || fx->bgpicEmu);
  const bool planes = fx->sourceMask || fx->sourceAlpha;
  if (fx->phase == 0) {
    auto* s = NewFxState<PixelZoomState>(fx);
    if (!s) return ERR_MEM;
    if (!(s->work = NewBitmap(w, h, 0, nullptr))) return ERR_BITMAP;
    if (planes && !fx->layered && !(s->work2 = NewBitmap(w, h, 0, nullptr))) return ERR_BITMAP;
    if (fx->sourceMask && !(s->mask = NewMaskPlane(s->work, w, h, 1, nullptr, 0))) return ERR_ALLOCMASK;
    if (fx->sourceAlpha && !(s->alpha = NewAlphaPlane(w, h, 1, nullptr, 0))) return ERR_ALLOCALPHA;
    fx->frameCount = StepCount(fx->effect == 133 ? 49 : 25, 1, 1);
    return 0;
  }
  if (fx->phase != 1 && fx->phase != 2) return 0;
  auto* s = static_cast<PixelZoomState*>(fx->state);
  const int32_t c = fx->phase == 2 ? fx->frame : (fx->frame == 0 ? 1 : s->counter + 1);
  s->counter = c;
  bool last = false;
  if (fx->reverse) {
    if (c > 24) {
      last = true;
      if (done) *done = 1;
      if (fx->layered) BlitIntoLayer(fx, nullptr, nullptr, nullptr, 0, 0, 0, 0, w, h, VL_FXB_FILL | FXHoldFlag(fx));
      else DrawFXPart(fx, fx->oldPicture, nullptr, nullptr, 0, 0, w, h, 0, 0, w, h);
      if (fx->phase == 1) EndFXFrame(fx);
      return 0;
    }
  } else if ((!second && c > 24) || (second && c >= 49)) {
    last = true;
  }
  if (last && done) *done = 1;
  const bool useOld = second && c < 24 && !fx->reverse;
  int32_t block = 1 + (fx->reverse ? c : !second ? 24 - c : (c <= 23 ? c : 48 - c));
  if (last) block = 1;
  vlBitmap* pic = useOld ? fx->oldPicture : fx->source;
  vlBitmap* mask = useOld ? nullptr : fx->sourceMask;
  vlBitmap* alpha = useOld ? nullptr : fx->sourceAlpha;
  if (block > 1) Coarsen(s, pic, mask, alpha, w, h, block);
  else if (!mask && !alpha) BltBitmap(pic, 0, 0, s->work, 0, 0, w, h);
  if (fx->layered) {
    // The layer takes the blocks with their own coverage.
    const uint32_t flags = FXHoldFlag(fx) | (fx->phase == 2 ? uint32_t{VL_FXB_NOSHOW} : 0u);
    if (block <= 1) BlitIntoLayer(fx, pic, mask, alpha, 0, 0, 0, 0, w, h, flags);
    else BlitIntoLayer(fx, s->work, mask ? s->mask : nullptr, alpha ? s->alpha : nullptr, 0, 0, 0, 0, w, h, flags);
  } else if (!mask && !alpha) {
    DrawFXPart(fx, s->work, nullptr, nullptr, 0, 0, w, h, 0, 0, w, h);
  } else {
    BltBitmap(fx->oldPicture, 0, 0, s->work2, 0, 0, w, h);
    if (block <= 1) BlitThroughPlanes(pic, mask, alpha, 0, 0, s->work2, 0, 0, w, h);
    else BlitThroughPlanes(s->work, mask ? s->mask : nullptr, mask ? nullptr : s->alpha, 0, 0, s->work2, 0, 0, w, h);
    DrawFXPart(fx, s->work2, nullptr, nullptr, 0, 0, w, h, 0, 0, w, h);
  }
  if (fx->phase == 1) EndFXFrame(fx);
  return 0;
}

void FreePixelZoomState(vlFxContext* fx, int) {
  auto* s = static_cast<PixelZoomState*>(fx->state);
  DeleteBitmap(s->work2);
  DeleteMaskPlane(s->mask);
  DeleteAlphaPlane(s->alpha);
  DeleteBitmap(s->work);
}
