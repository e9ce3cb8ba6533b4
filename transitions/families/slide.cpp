// Bands along one axis: SLIDE moves the old picture out and the new one
// in over a colour, STRANGEPUSH brings the new picture in interlaced rows
// from both ends, SPLIT opens each half from its quarter line, UPNDOWN
// fills eight columns in pairs from the top and from the bottom.
#include <algorithm>

#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "transitions/families/families.h"
#include "transitions/fx_draw.h"
#include "vm/error_codes.h"

namespace {

struct SlideState {
  int32_t s, px, py;
};

struct StrangePushState {
  int32_t s;
  vlBitmap* work;
  vlBitmap* masks[2];
  vlBitmap* alphas[2];
};

struct SplitState {
  int32_t a, b;
};

struct UpDownState {
  int32_t n, pass;
};

int32_t HeldStep(vlFxContext* fx, int32_t extent, int32_t dn, int32_t df, int32_t ds) {
  return std::clamp(ResolveFxSize(fx->stepSize, extent, dn, df, ds), 1, 30);
}

uint32_t Colour(const vlFxContext* fx) { return 0xFF000000u | (static_cast<uint32_t>(fx->parameter) & 0xFFFFFF); }

void FreeInterlaceMasks(StrangePushState* s) {
  for (int i = 0; i < 2; ++i) {
    DeleteMaskPlane(s->masks[i]);
    DeleteAlphaPlane(s->alphas[i]);
    s->masks[i] = s->alphas[i] = nullptr;
  }
}

// Two coverage planes of the new picture: plane 0 keeps the odd rows,
// plane 1 the even rows.
int MakeInterlaceMasks(vlFxContext* fx, StrangePushState* s) {
  const int32_t w = fx->width, h = fx->height;
  for (int i = 0; i < 2; ++i) {
    if (fx->sourceAlpha) {
      if (!(s->alphas[i] = CopyAlphaPlane(fx->sourceAlpha, w, h))) return ERR_ALLOCALPHA;
      for (int32_t r = i; r < h; r += 2) FillAlphaRect(s->alphas[i], 0, r, w, 1, 0);
    } else {
      if (!(s->masks[i] = NewMaskPlane(fx->source, w, h, 1, nullptr, 0))) return ERR_ALLOCMASK;
      if (fx->sourceMask) CopyMaskRegion(fx->sourceMask, 0, 0, s->masks[i], 0, 0, w, h, 2, nullptr, 0);
      else FillMaskRect(s->masks[i], 0, 0, w, h, 2);
      for (int32_t r = i; r < h; r += 2) FillMaskRect(s->masks[i], 0, r, w, 1, 1);
    }
  }
  return 0;
}

}  // namespace

int StepSlide(vlFxContext* fx, int32_t* done) {
  const int32_t id = fx->effect, W = fx->width, H = fx->height;
  const bool across = id == 101 || id == 102;
  const int32_t E = across ? W : H;
  if (fx->phase == 0) {
    auto* s = NewFxState<SlideState>(fx);
    if (!s) return ERR_MEM;
    fx->stepSize = HeldStep(fx, E, 60, 30, 120);
    if (fx->parameter == -1) fx->parameter = 0;
    s->s = fx->stepSize;
    fx->frameCount = StepCount(2 * E - fx->stepSize, fx->stepSize, 0);
    return 0;
  }
  if (fx->phase != 1 && fx->phase != 2) return 0;
  auto* s = static_cast<SlideState*>(fx->state);
  const int32_t step = fx->stepSize;
  if (fx->phase == 2) {
    FillFXRect(fx, fx->x, fx->y, W, H, Colour(fx), 8);
    s->s = step * fx->frame;
  } else if (fx->frame == 0) {
    *s = {step, 0, 0};
  }
  bool last = false;
  if (s->s >= 2 * E) s->s = 2 * E, last = true, MarkDone(done);
  const int32_t t = s->s;
  // The offset of the moving picture along the axis and its visible size.
  int32_t off, visible;
  if (id == 101 || id == 103) {
    off = t > E ? 2 * E - t : t;
    visible = E - off;
  } else if (t <= E) {
    off = -t;
    visible = E - t;
  } else {
    off = t - 2 * E;
    visible = E;
  }
  const int32_t x = across ? off : 0, y = across ? 0 : off;
  if (last) {
    DrawNewStrip(fx, 0, 0, W, H);
  } else if (t <= E) {
    if (fx->phase == 1) {
      switch (id) {
        case 101: FillFXRect(fx, fx->x + s->px, fx->y + s->py, step, H, Colour(fx), 0); break;
        case 102: FillFXRect(fx, fx->x + W - t, fx->y, step, H, Colour(fx), 0); break;
        case 103: FillFXRect(fx, fx->x + s->px, fx->y + s->py, W, step, Colour(fx), 0); break;
        default: FillFXRect(fx, fx->x, fx->y + H - t, W, step, Colour(fx), 0); break;
      }
    }
    if (visible >= 1) DrawFXPart(fx, fx->oldPicture, nullptr, nullptr, 0, 0, W, H, x, y, W, H);
  } else {
    DrawFXPart(fx, fx->source, fx->sourceMask, fx->sourceAlpha, 0, 0, W, H, x, y, W, H);
  }
  s->px = x, s->py = y;
  s->s += step;
  if (fx->phase == 1) EndFXFrame(fx);
  return 0;
}

int StepStrangePush(vlFxContext* fx, int32_t* done) {
  const int32_t W = fx->width, H = fx->height;
  const bool across = fx->effect == 99;
  const int32_t E = across ? W : H;
  if (fx->phase == 0) {
    auto* s = NewFxState<StrangePushState>(fx);
    if (!s) return ERR_MEM;
    int32_t step = ResolveFxSize(fx->stepSize, E, 60, 30, 120);
    if (step < 1) step = 2;
    // Even shifts keep the interlace aligned.
    if (step & 1) ++step;
    fx->stepSize = step;
    if (!fx->layered) {
      if (!(s->work = NewBitmap(W, H, 0, nullptr)) || !fx->oldPicture) return ERR_BITMAP;
      BltBitmap(fx->oldPicture, 0, 0, s->work, 0, 0, W, H);
    }
    if (int status = MakeInterlaceMasks(fx, s)) return status;
    s->s = fx->reverse ? E - step : step;
    fx->frameCount = StepCount(E - step, step, 0);
    return 0;
  }
  if (fx->phase != 1 && fx->phase != 2) return 0;
  auto* s = static_cast<StrangePushState*>(fx->state);
  const int32_t step = fx->stepSize;
  if (fx->phase == 2) {
    FreeInterlaceMasks(s);
    if (int status = MakeInterlaceMasks(fx, s)) return status;
    s->s = fx->reverse ? E - step * fx->frame : step * fx->frame;
  } else if (fx->frame == 0) {
    s->s = fx->reverse ? E - step : step;
  }
  if (!fx->reverse && s->s >= E) s->s = E, MarkDone(done);
  else if (fx->reverse && s->s < 1) s->s = 0, MarkDone(done);
  if (fx->layered) {
    // The layer holds only the rows that have come in so far.
    BlitIntoLayer(fx, nullptr, nullptr, nullptr, 0, 0, 0, 0, W, H, VL_FXB_FILL | VL_FXB_NOSHOW);
  } else if (fx->sourceMask || fx->sourceAlpha) {
    BltBitmap(fx->oldPicture, 0, 0, s->work, 0, 0, W, H);
  }
  const int32_t t = s->s;
  for (int i = 0; i < 2; ++i) {
    // Plane 0 (odd rows) brings the far end in at 0, plane 1 (even rows)
    // the near end in at the far side.
    const int32_t from = i == 0 ? E - t : 0, to = i == 0 ? 0 : E - t;
    vlBitmap* mask = s->masks[i];
    vlBitmap* alpha = s->alphas[i];
    if (t < 1) continue;
    if (fx->layered) {
      const uint32_t flags = VL_FXB_COMBINE | VL_FXB_THROUGH | VL_FXB_NOSHOW;
      if (across) BlitIntoLayer(fx, fx->source, mask, alpha, from, 0, to, 0, t, H, flags);
      else BlitIntoLayer(fx, fx->source, mask, alpha, 0, from, 0, to, W, t, flags);
      continue;
    }
    if (across) BlitThroughPlanes(fx->source, mask, alpha, from, 0, s->work, to, 0, t, H);
    else BlitThroughPlanes(fx->source, mask, alpha, 0, from, s->work, 0, to, W, t);
  }
  if (!fx->layered) DrawFXPart(fx, s->work, nullptr, nullptr, 0, 0, W, H, 0, 0, W, H);
  else if (fx->phase == 1 && !FXHoldFlag(fx)) PresentFXLayer(fx, VL_FXB_PUSH);
  s->s += fx->reverse ? -step : step;
  if (fx->phase == 1) EndFXFrame(fx);
  return 0;
}

void FreeStrangePushState(vlFxContext* fx, int) {
  auto* s = static_cast<StrangePushState*>(fx->state);
  FreeInterlaceMasks(s);
  DeleteBitmap(s->work);
}

int StepSplit(vlFxContext* fx, int32_t* done) {
  const bool columns = fx->effect == 108;
  const int32_t E = columns ? fx->width : fx->height;
  const int32_t quarter = E / 4;
  if (fx->phase == 0) {
    auto* s = NewFxState<SplitState>(fx);
    if (!s) return ERR_MEM;
    fx->stepSize = HeldStep(fx, std::max(fx->width, fx->height), 120, 60, 240);
    *s = {quarter + fx->stepSize, quarter - fx->stepSize};
    fx->frameCount = StepCount(quarter + fx->stepSize, fx->stepSize, 1);
    return 0;
  }
  if (fx->phase != 1) return 0;
  auto* s = static_cast<SplitState*>(fx->state);
  const int32_t step = fx->stepSize;
  if (fx->frame == 0) *s = {quarter + step, quarter - step};
  s->a -= step;
  s->b += step;
  if (s->a < 1) {
    s->a = 0;
    DrawNewStrip(fx, 0, 0, fx->width, fx->height);
    MarkDone(done);
  } else {
    const int32_t half = E / 2, b = s->b;
    if (s->b > half) s->b = half;
    for (const int32_t offset : {0, half + (E & 1)}) {
      DrawNewLines(fx, columns, s->a + offset, s->a + offset + step - 1);
      DrawNewLines(fx, columns, b + offset, b + offset + step - 1);
    }
  }
  EndFXFrame(fx);
  return 0;
}

int StepUpAndDown(vlFxContext* fx, int32_t* done) {
  const int32_t W = fx->width, H = fx->height, C = W / 8 + 1;
  if (fx->phase == 0) {
    if (!NewFxState<UpDownState>(fx)) return ERR_MEM;
    fx->stepSize = HeldStep(fx, std::max(W, H), 60, 30, 120);
    fx->frameCount = StepCount(4 * H, fx->stepSize, 0);
    return 0;
  }
  if (fx->phase != 1) return 0;
  auto* s = static_cast<UpDownState*>(fx->state);
  const int32_t step = fx->stepSize, band = step + 2;
  if (fx->frame == 0) *s = {0, 0};
  const int32_t pass = s->n / H, r = s->n % H;
  if (pass >= 4) {
    DrawNewStrip(fx, 0, 0, W, H);
    MarkDone(done);
  } else {
    static constexpr int32_t kDown[4] = {0, 3, 4, 7}, kUp[4] = {1, 2, 5, 6};
    const int32_t down = kDown[pass] * C, up = kUp[pass] * C;
    if (pass != s->pass) {
      s->pass = pass;
      DrawNewStrip(fx, down, 0, C, band);
      DrawNewStrip(fx, up, H - step - 1, C, band);
    }
    DrawNewStrip(fx, down, r, C, band);
    DrawNewStrip(fx, up, std::max(H - r - step, 1) - 1, C, band);
  }
  s->n += step;
  EndFXFrame(fx);
  return 0;
}
