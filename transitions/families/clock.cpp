// Reveals through a growing polygon: CLOCKWIPE sweeps a hand around the
// centre, STAR grows a five-pointed star, SUN an ellipse. Each frame fills
// the polygon into a reveal mask and draws the new picture over the old
// one through it.
#include <algorithm>
#include <vector>

#include "graphics/bitmap.h"
#include "graphics/draw_kernels.h"
#include "graphics/geometry.h"
#include "graphics/pixel_kernels.h"
#include "transitions/families/families.h"
#include "transitions/fx_draw.h"
#include "vm/convert.h"
#include "vm/error_codes.h"

namespace {

// The pictures every polygon effect keeps.
struct RevealPlanes {
  vlBitmap* work;
  vlBitmap* mask;
  vlBitmap* alpha;  // only for a new picture with an alpha plane
};

struct ClockState {
  RevealPlanes planes;
  int32_t hx, hy, px, py;
  int32_t edge, cornerPassed, counting, fullPolygon;
};

struct StarState {
  RevealPlanes planes;
  int32_t z;
};

struct SunState {
  RevealPlanes planes;
  int32_t z, counting;
};

int AllocReveal(vlFxContext* fx, RevealPlanes* p) {
  const int32_t w = fx->width, h = fx->height;
  if (!(p->work = NewBitmap(w, h, 0, nullptr))) return ERR_BITMAP;
  if (!(p->mask = NewMaskPlane(fx->source, w, h, 1, nullptr, 0))) return ERR_ALLOCMASK;
  if (fx->sourceAlpha && !fx->reverse && !(p->alpha = NewAlphaPlane(w, h, 1, nullptr, 0))) return ERR_ALLOCALPHA;
  return 0;
}

void FreeReveal(RevealPlanes* p) {
  DeleteBitmap(p->work);
  DeleteMaskPlane(p->mask);
  DeleteAlphaPlane(p->alpha);
}

// The destination alpha byte takes the source's where the mask bit is set
// and 0 elsewhere (the other way about with invert).
void MaskToAlpha(vlBitmap* mask, vlBitmap* dst, vlBitmap* src, int32_t w, int32_t h, int invert) {
  // Through the planes' locks: a display adapter may hold them.
  vlLockedPixels m(mask, VL_LOCK_READ), d(dst, 0), s(src, VL_LOCK_READ);
  if (!m.ok() || !d.ok() || !s.ok()) return;
  w = std::min({w, m.access.width, d.access.width, s.access.width});
  h = std::min({h, m.access.height, d.access.height, s.access.height});
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      const bool on = GetMaskBit(m.Row(y), x) != invert;
      d.Row(y)[x] = on ? s.Row(y)[x] : 0;
    }
}

void FillIntoMask(vlFxContext* fx, RevealPlanes* p, const std::vector<int32_t>& pts) {
  vlLockedPixels bits(p->mask, 0);
  if (!bits.ok() || pts.size() < 4) return;
  ScanFillPolygonMask(pts.data(), static_cast<int32_t>(pts.size() / 2), bits.access.pixels, bits.access.rowLength,
                      fx->width, fx->height);
}

// Clips a closed polygon to the picture (x >= 0, y >= 0, x <= w - 1,
// y <= h - 1 in that order).
std::vector<int32_t> ClipToPicture(std::vector<int32_t> pts, int32_t w, int32_t h) {
  const int32_t limits[4] = {0, 0, w - 1, h - 1};
  for (int32_t edge = 0; edge < 4 && pts.size() >= 2; ++edge) {
    const auto count = static_cast<int32_t>(pts.size() / 2);
    pts.resize(pts.size() + 2);
    std::vector<int32_t> out(static_cast<size_t>(4 * count + 4));
    const int32_t n = ClipPolygonToEdge(count, pts.data(), out.data(), limits[edge], edge);
    out.resize(static_cast<size_t>(2 * n));
    pts.swap(out);
  }
  return pts;
}

// Draws the region (x, y, w, h) of the new picture through what the mask
// has revealed so far.
void Reveal(vlFxContext* fx, RevealPlanes* p, int32_t x, int32_t y, int32_t w, int32_t h) {
  if (fx->layered && fx->reverse) {
    // Hiding a layer: what the polygon has reached leaves its coverage.
    if (fx->layerAlpha && fx->sourceAlpha) MaskToAlpha(p->mask, fx->layerAlpha, fx->sourceAlpha, fx->width, fx->height, 1);
    else if (fx->layerMask) CopyMaskRegion(p->mask, 0, 0, fx->layerMask, 0, 0, fx->width, fx->height, 1, nullptr, 0);
    if (fx->phase == 1 && !FXHoldFlag(fx)) PresentFXLayer(fx, VL_FXB_PUSH);
    return;
  }
  vlBitmap* mask = p->mask;
  vlBitmap* alpha = nullptr;
  if (fx->sourceMask && !fx->reverse)
    CopyMaskRegion(fx->sourceMask, 0, 0, p->mask, 0, 0, fx->width, fx->height, 4, nullptr, 0);
  if (fx->sourceAlpha && !fx->reverse && p->alpha) {
    MaskToAlpha(p->mask, p->alpha, fx->sourceAlpha, fx->width, fx->height, 0);
    alpha = p->alpha;
    mask = nullptr;
  }
  DrawThroughMask(fx, x, y, w, h, mask, alpha, p->work);
}

// The start of a still: nothing revealed, the destination back to the old
// picture (black where there is none).
void ClearForStill(vlFxContext* fx, RevealPlanes* p) {
  if (fx->resynced) return;
  if (fx->layered) {
    // Nothing of the layer when showing, all of it when hiding.
    const uint32_t flags = VL_FXB_NOSHOW | VL_FXB_KEEPWORK;
    if (fx->reverse) BlitIntoLayer(fx, fx->source, fx->sourceMask, fx->sourceAlpha, 0, 0, 0, 0, fx->width, fx->height, flags);
    else BlitIntoLayer(fx, nullptr, nullptr, nullptr, 0, 0, 0, 0, fx->width, fx->height, VL_FXB_FILL | flags);
  } else if (fx->oldPicture) DrawFXPicture(fx, fx->oldPicture);
  else FillFXRect(fx, fx->x, fx->y, fx->width, fx->height, 0xFF000000u, 0);
  FillMaskRect(p->mask, 0, 0, fx->width, fx->height, 1);
  if (p->alpha) FillAlphaRect(p->alpha, 0, 0, fx->width, fx->height, 0);
}

int32_t Proportional(const vlFxContext* fx, int32_t n) {
  const int32_t M = std::max(fx->width, fx->height), m = std::min(fx->width, fx->height);
  return vl::DoubleToInt32(static_cast<double>(m) / M * n + 1.0);
}

void InitClockHand(vlFxContext* fx, ClockState* s) {
  s->px = fx->width / 2, s->py = 0;
  s->hx = fx->width / 2 + fx->stepSize, s->hy = 0;
  s->edge = 0;
  s->cornerPassed = 0;
}

// The frame count of a run that only moves (counting set).
template <typename Step>
int32_t CountFrames(vlFxContext* fx, int32_t* counting, Step step) {
  *counting = 1;
  fx->phase = 1;
  fx->frame = 0;
  int32_t finished = 0;
  while (!finished && fx->frame < (1 << 24)) step(fx, &finished);
  const int32_t frames = fx->frame;
  fx->frame = 0;
  fx->phase = 0;
  *counting = 0;
  return frames;
}

}  // namespace

int StepClockWipe(vlFxContext* fx, int32_t* done) {
  const int32_t W = fx->width, H = fx->height;
  if (fx->phase == 0) {
    auto* s = NewFxState<ClockState>(fx);
    if (!s) return ERR_MEM;
    int32_t step = fx->stepSize;
    if (step == VL_FX_FASTSPEED) step = 15;
    else if (step == VL_FX_NORMALSPEED) step = 10;
    else if (step == VL_FX_SLOWSPEED) step = 5;
    fx->stepSize = std::clamp(step, 1, 30);
    InitClockHand(fx, s);
    if (int status = AllocReveal(fx, &s->planes)) return status;
    fx->frameCount = CountFrames(fx, &s->counting, StepClockWipe);
    InitClockHand(fx, s);
    return 0;
  }
  if (fx->phase == 2) {
    // The still of frame F: the hand moved F - 1 times, then the whole
    // area it swept drawn at once.
    auto* s = static_cast<ClockState*>(fx->state);
    const int32_t still = fx->frame;
    ClearForStill(fx, &s->planes);
    InitClockHand(fx, s);
    fx->phase = 1;
    s->counting = 1;
    int32_t ignored = 0;
    for (int32_t i = 1; i < still; ++i) StepClockWipe(fx, &ignored);
    s->counting = 0;
    s->fullPolygon = 1;
    StepClockWipe(fx, &ignored);
    s->fullPolygon = 0;
    fx->phase = 2;
    fx->frame = still;
    return 0;
  }
  if (fx->phase != 1) return 0;
  auto* s = static_cast<ClockState*>(fx->state);
  const int32_t step = fx->stepSize, cx = W / 2, cy = H / 2;
  if (!s->counting && s->fullPolygon) {
    // Everything from the start up to the hand: the corners it passed.
    std::vector<int32_t> pts = {cx, cy, W / 2, 0};
    if (s->edge >= 1) pts.insert(pts.end(), {W - 1, 0});
    if (s->edge >= 2) pts.insert(pts.end(), {W - 1, H - 1});
    if (s->edge >= 3) pts.insert(pts.end(), {0, H - 1});
    if (s->edge >= 4) pts.insert(pts.end(), {0, 0});
    pts.insert(pts.end(), {s->hx, s->hy});
    FillIntoMask(fx, &s->planes, pts);
    if (s->edge == 5) FillMaskRect(s->planes.mask, 0, 0, W, H, 2);
    Reveal(fx, &s->planes, 0, 0, W, H);
  } else if (!s->counting) {
    // The wedge from the centre between the previous and the current hand.
    std::vector<int32_t> pts = {cx, cy, s->px, s->py};
    if (s->cornerPassed) {
      switch (s->edge) {
        case 1: if (s->py != s->hy) pts.insert(pts.end(), {W - 1, s->py}); break;
        case 2: if (s->px != s->hx) pts.insert(pts.end(), {W - 1, H - 1}); break;
        case 3: if (s->py != s->hy) pts.insert(pts.end(), {0, H - 1}); break;
        case 4: if (s->px != s->hx) pts.insert(pts.end(), {0, 0}); break;
        default: break;
      }
    }
    pts.insert(pts.end(), {s->hx, s->hy});
    FillIntoMask(fx, &s->planes, pts);
    // The hand is back at the start: nothing stays hidden, not even on a
    // picture too flat for the wedges to hold pixels.
    if (s->edge == 5) FillMaskRect(s->planes.mask, 0, 0, W, H, 2);
    const int32_t x0 = std::max(0, std::min({s->px, s->hx, cx})), y0 = std::max(0, std::min({s->py, s->hy, cy}));
    Reveal(fx, &s->planes, x0, y0, W - x0, H - y0);
  }
  // The hand runs right along the top, down, left along the bottom, up,
  // and right again to the start.
  s->px = s->hx, s->py = s->hy;
  switch (s->edge) {
    case 0:
      s->hx += step;
      if (s->hx >= W) s->hy = s->hx - W + 1, s->hx = W - 1, s->cornerPassed = 1, s->edge = 1;
      break;
    case 1:
      s->hy += step;
      if (s->hy >= H) s->hx = (W - 1) + (H - 1) - s->hy, s->hy = H - 1, s->cornerPassed = 1, s->edge = 2;
      break;
    case 2:
      s->hx -= step;
      if (s->hx < 0) s->hy = H - 1 + s->hx, s->hx = 0, s->cornerPassed = 1, s->edge = 3;
      break;
    case 3:
      s->hy -= step;
      if (s->hy < 0) s->hx = -s->hy, s->hy = 0, s->cornerPassed = 1, s->edge = 4;
      break;
    case 4:
      s->hx += step;
      if (s->hx > W / 2 + 1) s->hx = W / 2 + 1, s->edge = 5;
      break;
    default:
      MarkDone(done);
      break;
  }
  if (s->counting) ++fx->frame;
  else EndFXFrame(fx);
  return 0;
}

void FreeClockWipeState(vlFxContext* fx, int) { FreeReveal(&static_cast<ClockState*>(fx->state)->planes); }

int StepStar(vlFxContext* fx, int32_t* done) {
  const int32_t W = fx->width, H = fx->height, M = std::max(W, H);
  auto box = [&](int32_t z, int32_t* sw, int32_t* sh) {
    const int32_t side = std::max(1, Proportional(fx, z));
    *sw = W < H ? side : z;
    *sh = W < H ? z : side;
  };
  if (fx->phase == 0) {
    auto* s = NewFxState<StarState>(fx);
    if (!s) return ERR_MEM;
    const int32_t step = fx->stepSize = std::clamp(ResolveFxSize(fx->stepSize, M, 12, 6, 24), 1, 100);
    s->z = step + 10;
    if (int status = AllocReveal(fx, &s->planes)) return status;
    if (W >= H) {
      fx->frameCount = StepCount(4 * W - step - 10, step, 0);
    } else {
      int32_t frames = 1, sw = 0, sh = 0;
      for (int32_t z = s->z;; z += step) {
        box(z, &sw, &sh);
        if (sw >= 4 * W) break;
        ++frames;
      }
      fx->frameCount = frames;
    }
    return 0;
  }
  if (fx->phase != 1 && fx->phase != 2) return 0;
  auto* s = static_cast<StarState*>(fx->state);
  const bool still = fx->phase == 2;
  if (still) {
    s->z = fx->stepSize * fx->frame + 10;
    ClearForStill(fx, &s->planes);
  }
  int32_t sw = 0, sh = 0;
  box(s->z, &sw, &sh);
  if (sw >= 4 * W) {
    MarkDone(done);
    DrawNewStrip(fx, 0, 0, W, H);
  } else {
    const int32_t x0 = (W - sw) / 2, y0 = (H - sh) / 2;
    const int32_t a = y0 + vl::DoubleToInt32(0.375 * sh), d1 = vl::DoubleToInt32(0.4 * sw);
    const int32_t d2 = vl::DoubleToInt32(0.3 * sw), b = y0 + vl::DoubleToInt32(0.6 * sh), f = sw / 5;
    std::vector<int32_t> pts = {x0, a,
                                x0 + d1, a,
                                x0 + sw / 2, y0,
                                x0 + sw - d1, a,
                                x0 + sw - 1, a,
                                x0 + sw - d2, b,
                                x0 + sw - f, y0 + sh - 1,
                                x0 + sw / 2, y0 + sh - sh / 4,
                                x0 + f, y0 + sh - 1,
                                x0 + d2, b,
                                x0, a};
    FillIntoMask(fx, &s->planes, ClipToPicture(std::move(pts), W, H));
    Reveal(fx, &s->planes, std::max(x0, 0), std::max(y0, 0), std::min(sw, W), std::min(sh, H));
    s->z += fx->stepSize;
  }
  if (!still) EndFXFrame(fx);
  return 0;
}

void FreeStarState(vlFxContext* fx, int) { FreeReveal(&static_cast<StarState*>(fx->state)->planes); }

int StepSun(vlFxContext* fx, int32_t* done) {
  const int32_t W = fx->width, H = fx->height, M = std::max(W, H);
  if (fx->phase == 0) {
    auto* s = NewFxState<SunState>(fx);
    if (!s) return ERR_MEM;
    const int32_t step = fx->stepSize = std::clamp(ResolveFxSize(fx->stepSize, M, 12, 6, 24), 1, 100);
    if (int status = AllocReveal(fx, &s->planes)) return status;
    s->z = step + 10;
    fx->frameCount = CountFrames(fx, &s->counting, StepSun);
    s->z = step + 10;
    return 0;
  }
  if (fx->phase != 1 && fx->phase != 2) return 0;
  auto* s = static_cast<SunState*>(fx->state);
  const bool still = fx->phase == 2;
  if (still) {
    s->z = fx->stepSize * fx->frame + 10;
    ClearForStill(fx, &s->planes);
  }
  // An ellipse of odd sizes with the picture's proportions.
  int32_t w = W >= H ? s->z : Proportional(fx, s->z);
  int32_t h = W >= H ? Proportional(fx, s->z) : s->z;
  w = std::max(w, 3) | 1;
  h = std::max(h, 3) | 1;
  std::vector<int32_t> pts(2 * 1024);
  const int32_t n = std::min(SinCosEllipsePoint(pts, w / 2, h / 2, 0, 360), 1024);
  pts.resize(static_cast<size_t>(2 * n));
  for (int32_t i = 0; i < n; ++i) pts[2 * i] += (W - w) / 2, pts[2 * i + 1] += (H - h) / 2;
  pts = ClipToPicture(std::move(pts), W, H);
  bool covers = true;
  for (size_t i = 0; i + 1 < pts.size(); i += 2)
    covers = covers && (pts[i] == 0 || pts[i] == W - 1) && (pts[i + 1] == 0 || pts[i + 1] == H - 1);
  if (!s->counting) {
    FillIntoMask(fx, &s->planes, pts);
    // The ellipse covers the picture; a flat one holds no pixels.
    if (covers) FillMaskRect(s->planes.mask, 0, 0, W, H, 2);
    Reveal(fx, &s->planes, 0, 0, W, H);
  }
  if (covers) MarkDone(done);
  s->z += fx->stepSize;
  if (s->counting) ++fx->frame;
  else if (!still) EndFXFrame(fx);
  return 0;
}

void FreeSunState(vlFxContext* fx, int) { FreeReveal(&static_cast<SunState*>(fx->state)->planes); }
