// Movements in depth along one axis: TURNDOWN folds the old picture's half
// over like a page and unfolds the new one, FLIPCOIN turns the picture
// like a coin, CRUSH pushes the new picture in while it squeezes the old
// one, CARD folds a card strip over.
#include <algorithm>
#include <cstdlib>

#include "transitions/families/families.h"
#include "transitions/fx_draw.h"
#include "vm/error_codes.h"

namespace {

struct FlipState {
  int32_t s;
  int32_t x, y, w, h;
};

// Lines from..from + count - 1 of a picture (full across) scaled to size
// lines and drawn from line at; nothing when a size is below 1.
int ScaleLines(vlFxContext* fx, vlBitmap* pic, bool columns, int32_t from, int32_t count, int32_t size, int32_t at) {
  const int32_t across = columns ? fx->height : fx->width;
  const int32_t extent = columns ? fx->width : fx->height;
  count = std::min(count, extent - from);
  if (count < 1 || size < 1) return 0;
  vlFxScaled sc;
  int status = columns ? ScaleFXPicture(fx, pic, nullptr, nullptr, from, 0, count, across, size, across, &sc)
                       : ScaleFXPicture(fx, pic, nullptr, nullptr, 0, from, across, count, across, size, &sc);
  if (status) return status;
  if (columns) DrawFXPart(fx, sc.bitmap, nullptr, nullptr, 0, 0, size, across, at, 0, size, across);
  else DrawFXPart(fx, sc.bitmap, nullptr, nullptr, 0, 0, across, size, 0, at, across, size);
  return 0;
}

// Phase 0 of the family: the state, the step, the first travel and the
// frames of a travel up to count.
template <typename T>
int InitTravel(vlFxContext* fx, int32_t extent, int32_t count) {
  auto* s = NewFxState<T>(fx);
  if (!s) return ERR_MEM;
  fx->stepSize = ResolveFxSize(fx->stepSize, extent, 60, 30, 120);
  *reinterpret_cast<int32_t*>(s) = fx->stepSize;
  fx->frameCount = StepCount(count - fx->stepSize, fx->stepSize, 0);
  return 0;
}

// The travel of this frame: from the state, from the frame number in a
// still, or back at the start on frame 0.
int32_t& Travel(vlFxContext* fx) {
  auto& s = *static_cast<int32_t*>(fx->state);
  if (fx->phase == 2) s = fx->stepSize * fx->frame;
  else if (fx->frame == 0) s = fx->stepSize;
  return s;
}

void EndFrame(vlFxContext* fx) {
  *static_cast<int32_t*>(fx->state) += fx->stepSize;
  if (fx->phase == 1) EndFXFrame(fx);
}

}  // namespace

int StepTurnDown(vlFxContext* fx, int32_t* done) {
  const bool columns = fx->effect >= 130;
  const bool far = fx->effect == 129 || fx->effect == 131;
  const int32_t E = columns ? fx->width : fx->height;
  const int32_t mh = E / 2, odd = E & 1;
  if (fx->phase == 0) {
    // The half that does not fold yet shows the old picture.
    if (int status = InitTravel<int32_t>(fx, E, E)) return status;
    PutOldPictureIntoLayer(fx);
    return 0;
  }
  if (fx->phase != 1 && fx->phase != 2) return 0;
  int32_t& s = Travel(fx);
  // A still starts from the picture that lies under the flaps then.
  if (fx->phase == 2 && s > E / 2) DrawNewStrip(fx, 0, 0, fx->width, fx->height);
  else if (fx->phase == 2) PutOldPictureIntoLayer(fx);
  int status = 0;
  if (s >= E) {
    s = E;
    MarkDone(done);
    DrawNewStrip(fx, 0, 0, fx->width, fx->height);
  } else if (s <= mh) {
    // The new half grows from the edge while the old half folds to the middle.
    if (mh < s + fx->stepSize) s = mh;
    if (!far) {
      status = ScaleLines(fx, fx->source, columns, 0, mh, s, 0);
      if (!status) status = ScaleLines(fx, fx->oldPicture, columns, 0, mh, mh - s, s);
    } else {
      status = ScaleLines(fx, fx->source, columns, mh, mh, s, E - s);
      if (!status) status = ScaleLines(fx, fx->oldPicture, columns, mh, mh, mh - s, mh);
    }
  } else {
    const int32_t t = s - mh;
    if (!far) status = ScaleLines(fx, fx->source, columns, mh, mh + odd, std::min(t, E - mh), mh);
    else status = ScaleLines(fx, fx->source, columns, 0, mh + odd, t, E - s + odd);
  }
  if (status) return status;
  EndFrame(fx);
  return 0;
}

int StepFlipCoin(vlFxContext* fx, int32_t* done) {
  const int32_t W = fx->width, H = fx->height;
  const bool columns = fx->effect >= 126;
  const bool low = fx->effect == 125 || fx->effect == 127;
  const int32_t E = columns ? W : H;
  if (fx->phase == 0) {
    if (int status = InitTravel<FlipState>(fx, E, 2 * E)) return status;
    auto* st = static_cast<FlipState*>(fx->state);
    st->w = W, st->h = H;
    if (fx->parameter == -1) fx->parameter = 0;
    return 0;
  }
  if (fx->phase != 1 && fx->phase != 2) return 0;
  auto* st = static_cast<FlipState*>(fx->state);
  const uint32_t colour = 0xFF000000u | (static_cast<uint32_t>(fx->parameter) & 0xFFFFFF);
  if (fx->phase == 2) FillFXRect(fx, fx->x, fx->y, W, H, colour, 8);
  else if (fx->frame == 0) *st = {fx->stepSize, 0, 0, W, H};
  int32_t& s = Travel(fx);
  if (s >= 2 * E) s = 2 * E, MarkDone(done);
  const int32_t d = std::max(std::abs(s - E), 1);
  const int32_t at = low ? E - d : (E - d) / 2;
  const int32_t x = columns ? at : 0, y = columns ? 0 : at, w = columns ? d : W, h = columns ? H : d;
  if (fx->phase == 1 && s <= E) {
    // The strips the narrowing picture uncovered, one line into it.
    if (!columns) {
      if (low) {
        FillFXRect(fx, fx->x, fx->y + st->y, W, st->h - d, colour, 0);
      } else {
        FillFXRect(fx, fx->x, fx->y + st->y, W, y - st->y + 1, colour, 0);
        FillFXRect(fx, fx->x, fx->y + y + h - 1, W, st->y + st->h - (y + h - 1), colour, 0);
      }
    } else if (low) {
      FillFXRect(fx, fx->x + st->x, fx->y, st->w - d, H, colour, 0);
    } else {
      FillFXRect(fx, fx->x + st->x, fx->y, x - st->x + 1, H, colour, 0);
      FillFXRect(fx, fx->x + x + w - 1, fx->y, st->x + st->w - (x + w - 1), H, colour, 0);
    }
    st->x = x, st->y = y, st->w = w, st->h = h;
  }
  vlFxScaled sc;
  if (int status = ScaleFXPicture(fx, s > E ? fx->source : fx->oldPicture, nullptr, nullptr, 0, 0, W, H, w, h, &sc))
    return status;
  DrawFXPart(fx, sc.bitmap, nullptr, nullptr, 0, 0, w, h, x, y, w, h);
  EndFrame(fx);
  return 0;
}

int StepCrush(vlFxContext* fx, int32_t* done) {
  const bool columns = fx->effect <= 121;
  const bool far = fx->effect == 121 || fx->effect == 123;
  const int32_t E = columns ? fx->width : fx->height;
  if (fx->phase == 0) return InitTravel<int32_t>(fx, E, E);
  if (fx->phase != 1 && fx->phase != 2) return 0;
  int32_t& s = Travel(fx);
  if (s >= E) s = E, MarkDone(done);
  int status = ScaleLines(fx, fx->source, columns, 0, E, s, far ? E - s : 0);
  if (!status && E - s > 0) status = ScaleLines(fx, fx->oldPicture, columns, 0, E, E - s, far ? 0 : s);
  if (status) return status;
  EndFrame(fx);
  return 0;
}

int StepCard(vlFxContext* fx, int32_t* done) {
  const int32_t W = fx->width, H = fx->height;
  if (fx->phase == 0) {
    auto* s = NewFxState<int32_t>(fx);
    if (!s) return ERR_MEM;
    *s = fx->stepSize = std::clamp(ResolveFxSize(fx->stepSize, std::max(W, H), 60, 30, 120), 1, 30);
    fx->frameCount = StepCount(H - fx->stepSize, fx->stepSize, 0);
    return 0;
  }
  if (fx->phase != 1 && fx->phase != 2) return 0;
  int32_t& s = Travel(fx);
  if (s >= H) s = H, MarkDone(done);
  const bool firstHalf = s < H / 2;
  const int32_t t = firstHalf ? s : H - s;
  const bool top = fx->effect == 111;
  int32_t a = t, b = H - t, c = 0;
  if (firstHalf != top) a = H - t, b = t, c = H - 2 * t;
  vlBitmap* first = top ? fx->source : fx->oldPicture;
  vlBitmap* second = top ? fx->oldPicture : fx->source;
  DrawFXPart(fx, first, nullptr, nullptr, 0, t, W, a, 0, 0, W, H);
  DrawFXPart(fx, second, nullptr, nullptr, 0, c, W, b, 0, a, W, H);
  EndFrame(fx);
  return 0;
}
