// STRETCH and ZOOM scale the new picture from nothing to its full size at
// an edge, a corner or the centre; ZOOMIN and ZOOMOUT shrink or magnify
// the old picture into a point and bring the new one out of it.
#include <algorithm>

#include "graphics/bitmap.h"
#include "transitions/families/families.h"
#include "transitions/fx_draw.h"
#include "vm/convert.h"
#include "vm/error_codes.h"

namespace {

struct StretchState {
  int32_t s;
  int32_t x, y, w, h;
};

struct ZoomState {
  int32_t x, y, w, h;
  int32_t t;
};

// Axis of the effect: 0 width-led (55, 56, 60, ZOOM with W >= H), 1 height-led.
bool HeightLed(const vlFxContext* fx) {
  const int32_t id = fx->effect;
  if (id >= 61) return fx->width < fx->height;
  return id == 57 || id == 58 || id == 59;
}

// True when s grows from frame to frame.
bool Grows(const vlFxContext* fx) {
  const bool shrinking = fx->effect == 56 || fx->effect == 58;
  return shrinking == (fx->reverse != 0);
}

int32_t StretchExtent(const vlFxContext* fx, int32_t n) {
  const int32_t d = n * fx->stepSize;
  const int32_t full = HeightLed(fx) ? fx->height : fx->width;
  return Grows(fx) ? d : full - d;
}

// The scaled new picture at (x, y) over the old picture's part under it.
void DrawScaledNew(vlFxContext* fx, const vlFxScaled& sc, int32_t x, int32_t y, int32_t w, int32_t h) {
  if (!sc.mask && !sc.alpha) {
    DrawFXPart(fx, sc.bitmap, nullptr, nullptr, 0, 0, w, h, x, y, w, h);
    return;
  }
  vlBitmap* comp = NewBitmap(w, h, 0, nullptr);
  if (!comp) return;
  ClipBlitFX(fx->oldPicture, x, y, comp, 0, 0, w, h, fx->width, fx->height, w, h);
  BlitThroughPlanes(sc.bitmap, sc.mask, sc.alpha, 0, 0, comp, 0, 0, w, h);
  DrawFXPart(fx, comp, nullptr, nullptr, 0, 0, w, h, x, y, w, h);
  DeleteBitmap(comp);
}

// Hiding a layer: the parts of the previous rectangle outside the new one
// go back to what lies beneath.
void ReleaseOutside(vlFxContext* fx, const StretchState& prev, int32_t x, int32_t y, int32_t w, int32_t h) {
  const uint32_t flags = VL_FXB_FILL | FXHoldFlag(fx);
  auto clear = [&](int32_t cx, int32_t cy, int32_t cw, int32_t ch) {
    if (cw >= 1 && ch >= 1) BlitIntoLayer(fx, nullptr, nullptr, nullptr, 0, 0, cx, cy, cw, ch, flags);
  };
  const int32_t right = prev.x + prev.w, bottom = prev.y + prev.h;
  if (w < 1 || h < 1) {
    clear(prev.x, prev.y, prev.w, prev.h);
    return;
  }
  clear(prev.x, prev.y, prev.w, y - prev.y);
  clear(prev.x, y + h, prev.w, bottom - (y + h));
  clear(prev.x, y, x - prev.x, h);
  clear(x + w, y, right - (x + w), h);
}

}  // namespace

int StepStretch(vlFxContext* fx, int32_t* done) {
  const int32_t id = fx->effect, W = fx->width, H = fx->height;
  const int32_t M = std::max(W, H), m = std::min(W, H);
  if (fx->phase == 0) {
    auto* st = NewFxState<StretchState>(fx);
    if (!st) return ERR_MEM;
    const int32_t pace = id >= 61 ? M : (id == 57 || id == 58 || id == 59) ? H : W;
    fx->stepSize = ResolveFxSize(fx->stepSize, pace, 30, 10, 80);
    st->s = StretchExtent(fx, 1);
    const int32_t full = HeightLed(fx) ? H : W;
    fx->frameCount = StepCount(Grows(fx) ? full - st->s : st->s, fx->stepSize, 0);
    *st = {st->s, 0, 0, W, H};
    return 0;
  }
  if (fx->phase != 1 && fx->phase != 2) return 0;
  auto* st = static_cast<StretchState*>(fx->state);
  int32_t s = fx->phase == 2 ? StretchExtent(fx, fx->frame) : st->s;
  if (fx->phase == 1 && fx->frame == 0) s = StretchExtent(fx, 1);
  const bool rev = fx->reverse != 0;
  bool last = false;
  int32_t x = 0, y = 0, w = W, h = H;
  if (id == 55 || id == 60) {
    if (!rev && s >= W) s = W, last = true;
    else if (rev && s <= 0) s = 0, last = true;
    w = s;
  } else if (id == 56) {
    if (!rev && s < 1) s = 0, last = true;
    else if (rev && s >= W) s = W, last = true;
    x = s, w = W - s;
  } else if (id == 57 || id == 59) {
    if (!rev && s >= H) s = H, last = true;
    else if (rev && s < 1) s = 0, last = true;
    h = s;
  } else if (id == 58) {
    if (!rev && s < 1) s = 0, last = true;
    else if (rev && s >= H) s = H, last = true;
    y = s, h = H - s;
  } else if (!rev && s >= M) {
    last = true;
  } else if (rev && s < 1) {
    w = h = 0, last = true;
  } else {
    const int32_t side = std::max(1, vl::DoubleToInt32(static_cast<double>(m) / M * s));
    if (W < H) h = s, w = side;
    else w = s, h = side;
  }
  switch (id) {
    case 59: y = (H - s) / 2; break;
    case 60: x = (W - s) / 2; break;
    case 61: x = (W - w) / 2, y = (H - h) / 2; break;
    case 62: x = (W - w) / 2; break;
    case 63: x = W - w; break;
    case 64: x = W - w, y = (H - h) / 2; break;
    case 65: x = W - w, y = H - h; break;
    case 66: x = (W - w) / 2, y = H - h; break;
    case 67: y = H - h; break;
    case 68: y = (H - h) / 2; break;
    default: break;
  }
  if (last && done) *done = 1;
  if (fx->layered) {
    if (fx->phase == 2) {
      BlitIntoLayer(fx, nullptr, nullptr, nullptr, 0, 0, 0, 0, W, H, VL_FXB_FILL | VL_FXB_NOSHOW);
    } else if (rev) {
      const StretchState prev = fx->frame == 0 ? StretchState{0, 0, 0, W, H} : *st;
      ReleaseOutside(fx, prev, x, y, w, h);
    }
  }
  if (w >= 1 && h >= 1) {
    vlFxScaled sc;
    if (int status = ScaleFXPicture(fx, fx->source, fx->sourceMask, fx->sourceAlpha, 0, 0, W, H, w, h, &sc)) return status;
    // The layer shows the scaled picture with its own coverage.
    if (fx->layered)
      BlitIntoLayer(fx, sc.bitmap, sc.mask, sc.alpha, 0, 0, x, y, w, h,
                    FXHoldFlag(fx) | (fx->phase == 2 ? uint32_t{VL_FXB_NOSHOW} : 0u));
    else DrawScaledNew(fx, sc, x, y, w, h);
  }
  st->s = Grows(fx) ? s + fx->stepSize : s - fx->stepSize;
  *st = {st->s, x, y, w, h};
  if (fx->phase == 1) EndFXFrame(fx);
  return 0;
}

int StepZoomInOut(vlFxContext* fx, int32_t* done) {
  const int32_t W = fx->width, H = fx->height, M = std::max(W, H);
  const bool zoomIn = fx->effect == 118;
  if (fx->phase == 0) {
    auto* z = NewFxState<ZoomState>(fx);
    if (!z) return ERR_MEM;
    fx->stepSize = ResolveFxSize(fx->stepSize, M, 60, 30, 120);
    *z = {0, 0, W, H, fx->stepSize};
    fx->frameCount = StepCount(2 * M - fx->stepSize, fx->stepSize, 0);
    if (zoomIn && fx->parameter == -1) fx->parameter = 0;
    return 0;
  }
  if (fx->phase != 1 && fx->phase != 2) return 0;
  auto* z = static_cast<ZoomState*>(fx->state);
  const uint32_t colour = 0xFF000000u | (static_cast<uint32_t>(fx->parameter) & 0xFFFFFF);
  if (fx->phase == 2) {
    z->t = fx->stepSize * fx->frame;
    if (zoomIn) FillFXRect(fx, fx->x, fx->y, W, H, colour, 8);
  } else if (fx->frame == 0) {
    *z = {0, 0, W, H, fx->stepSize};
  }
  int32_t x = 0, y = 0, w = W, h = H;
  if (z->t < 2 * M) {
    const int32_t d = z->t <= M ? M - z->t : z->t - M;
    if (W < H) {
      h = std::max(d, 1);
      w = vl::DoubleToInt32(static_cast<double>(W) / H * h + 1.0);
      if (w < 1) w = 1, x = (W - 1) / 2;
      else x = (W - w) / 2;
      y = (H - h) / 2;
    } else {
      w = std::max(d, 1);
      h = vl::DoubleToInt32(static_cast<double>(H) / W * w + 1.0);
      if (h < 1) h = 1, y = (H - 1) / 2;
      else y = (H - h) / 2;
      x = (W - w) / 2;
    }
    w = std::min(w, W), h = std::min(h, H);
  } else {
    z->t = 2 * M;
    if (done) *done = 1;
  }
  vlBitmap* pic = z->t > M ? fx->source : fx->oldPicture;
  vlFxScaled sc;
  if (zoomIn) {
    if (fx->phase == 1 && z->t <= M) {
      // The strips the shrinking picture left, each one pixel into it:
      // filled first so that the picture keeps its border.
      const int32_t px = z->x, py = z->y, pw = z->w, ph = z->h;
      FillFXRect(fx, fx->x + px, fx->y + py, x - px + 1, ph, colour, 0);
      FillFXRect(fx, fx->x + px, fx->y + py, pw, y - py + 1, colour, 0);
      FillFXRect(fx, fx->x + x + w - 1, fx->y + py, px + pw - (x + w - 1), ph, colour, 0);
      FillFXRect(fx, fx->x + px, fx->y + y + h - 1, pw, py + ph - (y + h - 1), colour, 0);
    }
    if (int status = ScaleFXPicture(fx, pic, nullptr, nullptr, 0, 0, W, H, w, h, &sc)) return status;
    DrawFXPart(fx, sc.bitmap, nullptr, nullptr, 0, 0, w, h, x, y, w, h);
    *z = {x, y, w, h, z->t};
  } else {
    if (int status = ScaleFXPicture(fx, pic, nullptr, nullptr, x, y, w, h, W, H, &sc)) return status;
    DrawFXPart(fx, sc.bitmap, nullptr, nullptr, 0, 0, W, H, 0, 0, W, H);
  }
  z->t += fx->stepSize;
  if (fx->phase == 1) EndFXFrame(fx);
  return 0;
}
