// WATER spreads ripples from the centre while the new picture replaces the
// old one; STRUDEL twists both pictures in a swirl. The kernels compute
// every pixel; these set up the tables, the timing and the drawing.
#include <algorithm>
#include <cstdlib>

#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "graphics/warp_kernels.h"
#include "transitions/families/families.h"
#include "transitions/fx_draw.h"
#include "vm/error_codes.h"

namespace {

struct WaterState {
  vlBitmap* work;
  vlBitmap* coverage;
  int32_t c;
  vlRippleJob job;
  int32_t* distances;
  double* sines;
};

struct StrudelState {
  vlBitmap* work;
  vlBitmap* coverage;
  int32_t a;
  vlSwirlJob job;
  double* sines;
  double* cosines;
};

template <typename T>
T* NewTable(size_t count) {
  return static_cast<T*>(std::malloc(sizeof(T) * std::max<size_t>(count, 1)));
}

// Locks the new and the old picture and the work bitmap and hands their
// pixels to the kernel; false when a lock fails.
template <typename Job, typename Kernel>
bool RunWarp(vlFxContext* fx, vlBitmap* work, Job& job, Kernel kernel) {
  vlPixelAccess n{}, o{}, d{};
  if (!LockPixels(fx->source, VL_LOCK_READ, &n)) return false;
  bool ran = false;
  if (LockPixels(fx->oldPicture, VL_LOCK_READ, &o)) {
    if (LockPixels(work, 0, &d)) {
      if (n.bytesPerPixel == d.bytesPerPixel && o.bytesPerPixel == d.bytesPerPixel) {
        job.source = n.pixels;
        job.second = o.pixels;
        job.target = d.pixels;
        job.sourceRow = n.rowLength;
        job.secondRow = o.rowLength;
        job.targetRow = d.rowLength;
        job.format = d.format;
        ran = kernel(d.bytesPerPixel);
      }
      UnlockPixels(work, &d);
    }
    UnlockPixels(fx->oldPicture, &o);
  }
  UnlockPixels(fx->source, &n);
  return ran;
}

// Layered, the kernel warps the new picture into the layer's image and
// fades the layer's alpha from the new picture's coverage. 0 or 1000.
template <typename Job>
int PrepareWarpLayer(vlFxContext* fx, vlBitmap** coverage, Job& job) {
  DeleteAlphaPlane(*coverage);
  if (!(*coverage = NewPictureAlphaPlane(fx)) || !fx->layerAlpha) return ERR_MEM;
  job.fadeOut = fx->reverse;
  return 0;
}

// The coverage and the layer's alpha are reached through their locks, held
// for this frame only: a display adapter may hold the planes.
template <typename Job, typename Kernel>
bool RunLayerWarp(vlFxContext* fx, vlBitmap* coverage, Job& job, Kernel kernel) {
  vlLockedPixels from(coverage, VL_LOCK_READ), into(fx->layerAlpha, 0);
  if (!from.ok() || !into.ok()) return false;
  job.sourceAlpha = from.access.pixels;
  job.sourceAlphaRowBytes = from.access.rowLength;
  job.targetAlpha = into.access.pixels;
  job.targetAlphaRowBytes = into.access.rowLength;
  vlPixelAccess n{}, d{};
  if (!LockPixels(fx->source, VL_LOCK_READ, &n)) return false;
  bool ran = false;
  if (LockPixels(fx->layerImage, 0, &d)) {
    if (n.bytesPerPixel == d.bytesPerPixel) {
      job.source = n.pixels;
      job.second = nullptr;
      job.target = d.pixels;
      job.sourceRow = n.rowLength;
      job.targetRow = d.rowLength;
      job.format = d.format;
      ran = kernel(d.bytesPerPixel);
    }
    UnlockPixels(fx->layerImage, &d);
  }
  UnlockPixels(fx->source, &n);
  return ran;
}

// The layer at the end: the new picture whole, or nothing of it.
void FinishWarpLayer(vlFxContext* fx, vlBitmap* coverage) {
  if (fx->reverse) {
    FillAlphaRect(fx->layerAlpha, 0, 0, fx->width, fx->height, 0);
    return;
  }
  BltBitmap(fx->source, 0, 0, fx->layerImage, 0, 0, fx->width, fx->height);
  CopyAlphaRect(coverage, 0, 0, fx->layerAlpha, 0, 0, fx->width, fx->height, 0, 0);
}

// The end of a layered frame: the layer as the kernel left it.
void EndWarpLayerFrame(vlFxContext* fx) {
  if (fx->phase != 1) return;
  if (!FXHoldFlag(fx)) PresentFXLayer(fx, VL_FXB_PUSH);
  EndFXFrame(fx);
}

}  // namespace

int StepWater(vlFxContext* fx, int32_t* done) {
  const int32_t W = fx->width, H = fx->height;
  if (fx->phase == 0) {
    auto* s = NewFxState<WaterState>(fx);
    if (!s) return ERR_MEM;
    int32_t n = fx->stepSize;
    if (n == VL_FX_FASTSPEED) n = 10;
    else if (n == VL_FX_NORMALSPEED) n = 25;
    else if (n == VL_FX_SLOWSPEED) n = 50;
    else n = std::clamp(n, 5, 100);
    fx->stepSize = n;
    static constexpr double kWaveLengths[4] = {32.0, 64.0, 16.0, 8.0};
    vlRippleJob& j = s->job;
    j.waveLength = kWaveLengths[std::clamp(fx->effect - 134, 0, 3)];
    j.amplitudeStep = 0.05;
    j.steps = n;
    j.width = W;
    j.height = H;
    j.fadeOut = fx->reverse;
    j.centerX = W / 2;
    j.centerY = H / 2;
    j.radius = std::max(W / 2, H / 2);
    if (!fx->layered && !(s->work = NewBitmap(W, H, 0, nullptr))) return ERR_BITMAP;
    s->distances = NewTable<int32_t>(static_cast<size_t>(W) * static_cast<size_t>(H));
    s->sines = NewTable<double>(kVlWarpTableSize);
    if (!s->distances || !s->sines) return ERR_MEM;
    BuildRippleTable(s->sines, s->distances, W, H, W / 2, H / 2);
    j.distances = s->distances;
    j.sines = s->sines;
    fx->frameCount = StepCount(2 * n, 1, 1);
    return fx->layered ? PrepareWarpLayer(fx, &s->coverage, j) : 0;
  }
  if (fx->phase != 1 && fx->phase != 2) return 0;
  auto* s = static_cast<WaterState*>(fx->state);
  const int32_t n = fx->stepSize;
  if (fx->phase == 2) s->c = fx->frame;
  else s->c = fx->frame == 0 ? 1 : s->c + 1;
  s->c = std::min(s->c, 2 * n);
  const int32_t level = s->c * 255 / (2 * n);
  fx->blendLevel = fx->reverse ? 255 - level : level;
  if (fx->layered) {
    if (fx->phase == 2)
      if (int status = PrepareWarpLayer(fx, &s->coverage, s->job)) return status;
    if (s->c == 2 * n) {
      MarkDone(done);
      FinishWarpLayer(fx, s->coverage);
    } else {
      RunLayerWarp(fx, s->coverage, s->job, [&](int32_t bpp) {
        if (bpp == 4) WaterRipplePix32(s->job, s->c);
        else if (bpp == 2) WaterRipplePix16(s->job, s->c);
        return bpp == 4 || bpp == 2;
      });
    }
    EndWarpLayerFrame(fx);
    return 0;
  }
  if (s->c == 2 * n) {
    MarkDone(done);
    DrawNewStrip(fx, 0, 0, W, H);
  } else if (RunWarp(fx, s->work, s->job, [&](int32_t bpp) {
               if (bpp == 4) WaterRipplePix32(s->job, s->c);
               else if (bpp == 2) WaterRipplePix16(s->job, s->c);
               return bpp == 4 || bpp == 2;
             })) {
    DrawFXPicture(fx, s->work);
  }
  if (fx->phase == 1) EndFXFrame(fx);
  return 0;
}

void FreeWaterState(vlFxContext* fx, int) {
  auto* s = static_cast<WaterState*>(fx->state);
  std::free(s->distances);
  std::free(s->sines);
  DeleteBitmap(s->work);
  DeleteAlphaPlane(s->coverage);
}

int StepStrudel(vlFxContext* fx, int32_t* done) {
  const int32_t W = fx->width, H = fx->height;
  if (fx->phase == 0) {
    auto* s = NewFxState<StrudelState>(fx);
    if (!s) return ERR_MEM;
    int32_t step = fx->stepSize;
    if (step == VL_FX_FASTSPEED) step = 16;
    else if (step == VL_FX_NORMALSPEED) step = 8;
    else if (step == VL_FX_SLOWSPEED) step = 4;
    else step = std::clamp(step, 2, 16);
    fx->stepSize = step;
    if (!fx->layered && !(s->work = NewBitmap(W, H, 0, nullptr))) return ERR_BITMAP;
    s->sines = NewTable<double>(kVlWarpTableSize);
    s->cosines = NewTable<double>(kVlWarpTableSize);
    if (!s->sines || !s->cosines) return ERR_MEM;
    BuildSwirlTables(s->sines, s->cosines);
    s->job.sines = s->sines;
    s->job.cosines = s->cosines;
    s->job.width = W;
    s->job.height = H;
    s->job.fadeOut = fx->reverse;
    fx->frameCount = StepCount(720, step, 1);
    return fx->layered ? PrepareWarpLayer(fx, &s->coverage, s->job) : 0;
  }
  if (fx->phase != 1 && fx->phase != 2) return 0;
  auto* s = static_cast<StrudelState*>(fx->state);
  if (fx->phase == 2) s->a = fx->stepSize * fx->frame;
  else s->a = fx->frame == 0 ? fx->stepSize : s->a + fx->stepSize;
  int32_t level;
  if (s->a > 719) s->a = 720, level = 255;
  else level = s->a * 255 / 720;
  fx->blendLevel = fx->reverse ? 255 - level : level;
  if (fx->layered) {
    if (fx->phase == 2)
      if (int status = PrepareWarpLayer(fx, &s->coverage, s->job)) return status;
    if (s->a == 720) {
      MarkDone(done);
      FinishWarpLayer(fx, s->coverage);
    } else {
      RunLayerWarp(fx, s->coverage, s->job, [&](int32_t bpp) {
        if (bpp == 4) SwirlPix32(s->job, s->a);
        else if (bpp == 2) SwirlPix16(s->job, s->a);
        return bpp == 4 || bpp == 2;
      });
    }
    EndWarpLayerFrame(fx);
    return 0;
  }
  if (s->a == 720) {
    MarkDone(done);
    DrawNewStrip(fx, 0, 0, W, H);
  } else if (RunWarp(fx, s->work, s->job, [&](int32_t bpp) {
               if (bpp == 4) SwirlPix32(s->job, s->a);
               else if (bpp == 2) SwirlPix16(s->job, s->a);
               return bpp == 4 || bpp == 2;
             })) {
    DrawFXPicture(fx, s->work);
  }
  if (fx->phase == 1) EndFXFrame(fx);
  return 0;
}

void FreeStrudelState(vlFxContext* fx, int) {
  auto* s = static_cast<StrudelState*>(fx->state);
  std::free(s->sines);
  std::free(s->cosines);
  DeleteBitmap(s->work);
  DeleteAlphaPlane(s->coverage);
}
