// The move engine: setting a job up, one step along the path (travel, the
// overshoot phases of bounce and damped moves, sine waves and arcs),
// drawing the object at its new place and releasing the job.
#include "objects/movement/move.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "display/bgpic.h"
#include "display/display.h"
#include "display/layers/async_draw.h"
#include "display/layers/layers.h"
#include "display/layers/safe_blt.h"
#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "graphics/picture_engines.h"
#include "graphics/position.h"
#include "graphics/presentation.h"
#include "objects/anims/anim.h"
#include "objects/anims/anim_layer.h"
#include "objects/brushes/brush.h"
#include "objects/sprites/sprite.h"
#include "platform/event_pump.h"
#include "runtime/os.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

int32_t vlMoveFrameDelayUs = 16667;

namespace {

int32_t AnimDelay(const vlMoveJob* j) {
  if (j->animSpeed != -4) return j->animSpeed;
  return j->anim ? GetAnimFrameDelay(j->anim, j->frame) : 0;
}

void ReleaseFrame(vlMoveJob* j) {
  if (j->kind == VL_KIND_ANIM && j->framesOwned) FreeFrameTriple(j->bitmap, j->mask, j->alpha);
  if (j->kind == VL_KIND_ANIM) j->bitmap = j->mask = j->alpha = nullptr;
}

// Moves v towards target by step without passing it; true on arrival.
bool Approach(int32_t* v, int32_t target, int32_t step) {
  if (*v < target)
    *v = std::min(target, *v + step);
  else if (*v > target)
    *v = std::max(target, *v - step);
  return *v == target;
}

bool MovesX(const vlMoveJob* j) { return j->direction != 0 && j->direction != 4; }
bool MovesY(const vlMoveJob* j) { return j->direction != 2 && j->direction != 6; }
int32_t DirX(const vlMoveJob* j) { return j->direction >= 1 && j->direction <= 3 ? 1 : j->direction >= 5 ? -1 : 0; }
int32_t DirY(const vlMoveJob* j) { return j->direction >= 3 && j->direction <= 5 ? 1 : (j->direction == 7 || j->direction <= 1) ? -1 : 0; }

// Travel along one axis; true when it reached its end.
bool TravelAxis(vlMoveJob* j, int32_t* pos, int32_t end, int32_t* step, int32_t zone, int32_t dec, bool minor) {
  if (j->fx == VL_MOVEFX_SMOOTHOUT && std::abs(end - *pos) <= zone) *step = std::max(1, *step - dec);
  int32_t s = *step;
  if (minor && j->remainderCount < j->remainder) {
    ++s;
    ++j->remainderCount;
  }
  return Approach(pos, end, s);
}

int32_t PhaseUnits(int32_t phase) {
  static const int32_t kUnits[9] = {0, 16, -8, 4, -2, 1, 0, 8, 0};
  return kUnits[phase];
}

// The overshoot phases; *finished once the object rests on the end point.
void Overshoot(vlMoveJob* j, bool* finished) {
  const int32_t k = PhaseUnits(j->phase) * j->unit;
  const int32_t step = std::max(1, j->xStep);
  bool all = true;
  if (MovesX(j)) all &= Approach(&j->x, j->endX + DirX(j) * k, step);
  if (MovesY(j)) all &= Approach(&j->y, j->endY + DirY(j) * k, step);
  if (!all) return;
  switch (j->phase) {
    case 5:
      j->phase = 6;
      j->xStep = 1;
      break;
    case 6:
    case 8:
      j->x = j->endX, j->y = j->endY;
      *finished = true;
      break;
    default:
      j->phase = j->phase == 7 ? 8 : j->phase + 1;
      j->xStep = std::max(1, j->xStep - j->xStep / 2);
      break;
  }
}

// Moves the object along its path; *finished when it arrived.
void Advance(vlMoveJob* j, bool* finished) {
  *finished = false;
  if (j->phase == 9) {
    j->y = j->endY;
    *finished = true;
    return;
  }
  if (j->phase >= 1) {
    Overshoot(j, finished);
    return;
  }
  const bool horizontal = j->direction == 2 || j->direction == 6;
  if (horizontal && (j->fx == VL_MOVEFX_SINE || j->fx == VL_MOVEFX_BIGSINE)) {
    const bool arrived = Approach(&j->x, j->endX, j->xStep);
    j->y = static_cast<int32_t>(j->sineTable[j->sineIndex]);
    // Increments of 80 and more (speed 320 up) wrap more than once.
    j->sineIndex = (j->sineIndex + j->sineIncrement) % 79;
    if (arrived) j->phase = 9;
    return;
  }
  if (horizontal && (j->fx == VL_MOVEFX_LOWERCURVE || j->fx == VL_MOVEFX_UPPERCURVE)) {
    const bool arrived = Approach(&j->x, j->endX, j->xStep);
    j->sineIndex += j->xStep;
    const auto v = static_cast<int32_t>(150.0 * std::sin((j->sineIndex + 1) * j->curveFactor));
    j->y = j->fx == VL_MOVEFX_LOWERCURVE ? j->endY + v : j->endY - v;
    if (arrived) {
      j->y = j->endY;
      *finished = true;
    }
    return;
  }
  bool doneX = true, doneY = true;
  if (j->x != j->endX)
    doneX = TravelAxis(j, &j->x, j->endX, &j->xStep, j->smoothZoneX, j->smoothDecX, j->minorAxis == 0);
  if (j->y != j->endY)
    doneY = TravelAxis(j, &j->y, j->endY, &j->yStep, j->smoothZoneY, j->smoothDecY, j->minorAxis == 1);
  if (!doneX || !doneY) return;
  if (j->fx == VL_MOVEFX_BOUNCE) {
    j->phase = 1;
  } else if (j->fx == VL_MOVEFX_DAMPED) {
    j->phase = 7;
    j->xStep = std::max(1, j->xStep - j->xStep / 4);
  } else {
    *finished = true;
  }
}

int Draw(vlMoveJob* j) {
  vlVMState* L = j->vm;
  if (j->kind == VL_KIND_SPRITE) {
    vlSprite* s = nullptr;
    if (int status = GetSpriteByID(L, j->id, &s, 0)) return status;
    return PlaceSprite(L, s, j->x, j->y, j->frame + 1);
  }
  if (j->layerJob) {
    // A layer that went with none below it is not drawn any more.
    if (j->layer) MoveLayerTo(L, j->layer, nullptr, j->x, j->y, 0, 0, nullptr);
    return 0;
  }
  if (j->kind == VL_KIND_ANIM && !j->bitmap) {
    if (int status = GetAnimFrameBitmaps(j->anim, j->frame, 0, 0, &j->bitmap, &j->mask, &j->alpha)) return status;
  }
  vlBGPic* pic = vlCurrentOutput;
  if (!pic) return 0;
  const int32_t ux = std::max(0, std::min(j->prevX, j->x)), uy = std::max(0, std::min(j->prevY, j->y));
  const int32_t ux2 = std::min(pic->width, std::max(j->prevX, j->x) + j->width);
  const int32_t uy2 = std::min(pic->height, std::max(j->prevY, j->y) + j->height);
  if (ux2 > ux && uy2 > uy) {
    BltBitmap(j->clean, ux, uy, j->work, ux, uy, ux2 - ux, uy2 - uy);
    SafeBlt(L, j->bitmap, 0, 0, j->work, j->x, j->y, j->width, j->height, j->width, j->height, pic->width,
            pic->height, VL_SAFEBLT_NOSPRITES | VL_SAFEBLT_NOCLIP | VL_SAFEBLT_OFFSCREEN, j->mask, j->alpha, nullptr);
    SafeBlt(L, j->work, ux, uy, nullptr, ux, uy, ux2 - ux, uy2 - uy, pic->width, pic->height, pic->width, pic->height,
            VL_SAFEBLT_FIRSTBUFFER | VL_SAFEBLT_DIRECT | j->extraBlitFlags, nullptr, nullptr,
            static_cast<const vlClipRegion*>(pic->clipRegion));
  }
  return 0;
}

int StepCallback(void* user, int32_t* done) { return MoveStep(static_cast<vlMoveJob*>(user), done); }
// Finishing early puts the object where its path ends; every path ends on
// the end point. Nothing is drawn while another display is current, as the
// work pictures belong to the job's own display.
void FinishCallback(void* user, int32_t done) {
  auto* j = static_cast<vlMoveJob*>(user);
  if (done || j->display != CurrentDisplay()) return;
  FinishMoveJob(j);
}
void ReleaseCallback(void* user, int32_t) { FreeMoveJob(static_cast<vlMoveJob*>(user)); }
intptr_t NotifyCallback(int32_t code, void* argument, void* user, intptr_t) {
  TrackDrawnLayer(code, argument, &static_cast<vlMoveJob*>(user)->layer);
  return 0;
}

// Takes the display's picture as the clean background.
int TakeBackground(vlMoveJob* j) {
  vlDisplay* d = CurrentDisplay();
  vlBGPic* pic = vlCurrentOutput;
  if (j->work) DeleteBitmap(j->work);
  if (j->clean) DeleteBitmap(j->clean);
  j->work = NewBitmap(pic->width, pic->height, 0, nullptr);
  j->clean = NewBitmap(pic->width, pic->height, 0, nullptr);
  if (!j->work || !j->clean) return ERR_BITMAP;
  // Without layers the front copy is the picture under the sprites: a
  // background taken from it brings no sprite back where one has gone.
  vlBitmap* screen = !d->layersOn && d->front ? d->front : d->back ? d->back : pic->curBitmap;
  BltBitmap(screen, 0, 0, j->clean, 0, 0, pic->width, pic->height);
  BltBitmap(screen, 0, 0, j->work, 0, 0, pic->width, pic->height);
  return 0;
}

}  // namespace

int MoveStep(vlMoveJob* j, int32_t* done) {
  *done = 0;
  bool finished = false;
  Advance(j, &finished);
  if (int status = Draw(j)) return status;
  j->prevX = j->x, j->prevY = j->y;
  if (j->frameCount > 0) {
    const int64_t now = AnimClockMs();
    if (j->frameChanged) {
      // A sprite's next frame is due one anim speed after the change.
      j->frameChanged = 0;
      j->nextFrameMs = now + AnimDelay(j);
    } else if (now > j->nextFrameMs) {
      j->frame = (j->frame + 1) % j->frameCount;
      ReleaseFrame(j);
      if (j->layerJob) {
        if (j->layer)
          if (int status = SetAnimLayerFrame(j->vm, j->layer, VL_KEEPPOSITION, VL_KEEPPOSITION, j->frame + 1))
          return status;
        j->nextFrameMs = now + AnimDelay(j);
      } else if (j->kind == VL_KIND_SPRITE) {
        j->frameChanged = 1;
      } else {
        j->nextFrameMs = now + AnimDelay(j);
      }
    }
  }
  *done = finished ? 1 : 0;
  return 0;
}

void FinishMoveJob(vlMoveJob* j) {
  j->x = j->endX, j->y = j->endY;
  j->phase = 0;
  if (Draw(j) == 0) j->prevX = j->x, j->prevY = j->y;
}

void FreeMoveJob(vlMoveJob* j) {
  if (j->lockCounter && *j->lockCounter) --*j->lockCounter;
  if (j->componentLocks) {
    for (uint32_t** c = j->componentLocks; *c; ++c)
      if (**c) --**c;
    std::free(j->componentLocks);
    j->componentLocks = nullptr;
  }
  if (j->work) DeleteBitmap(j->work);
  if (j->clean) DeleteBitmap(j->clean);
  j->work = j->clean = nullptr;
  ReleaseFrame(j);
  if (!j->internal) delete j;
}

int RunObjectMove(vlMoveJob* j) {
  vlVMState* L = j->vm;
  vlDisplay* d = CurrentDisplay();
  auto fail = [&](int status) {
    FreeMoveJob(j);
    return status;
  };
  if (!d || !vlCurrentOutput) return fail(ERR_WRONGUSAGE);
  if (!j->internal)
    if (int status = CheckPlayState(L)) return fail(status);
  if (j->kind == VL_KIND_SPRITE && (d->layersOn || CountLayers(vlCurrentOutput) > 0)) return fail(ERR_LAYERSOFF);
  switch (j->xStep) {
    case -1: j->xStep = 10; break;
    case -2: j->xStep = 15; break;
    case -3: j->xStep = 5; break;
    default:
      if (j->xStep < 1) return fail(ERR_WRONGUSAGE);
  }
  switch (j->animSpeed) {
    case -2: j->animSpeed = 0; break;
    case -1: j->animSpeed = 60; break;
    case -3: j->animSpeed = 160; break;
    case -4: if (j->kind == VL_KIND_SPRITE) j->animSpeed = 60; break;
    default: j->animSpeed = j->animSpeed < 0 ? 0 : j->animSpeed * 20;
  }

  vlBGPic* pic = vlCurrentOutput;
  double anchorX = 0, anchorY = 0;
  int32_t offsetX = 0, offsetY = 0;  // a text object's picture from its origin
  uint32_t* lock = nullptr;
  switch (j->kind) {
    case VL_KIND_BRUSH: {
      vlBrush* b = nullptr;
      if (int status = GetBrushByID(L, j->id, &b, 0)) return fail(status);
      if (!b->bitmap) return fail(ERR_BRUSHTYPE);
      j->width = b->width, j->height = b->height;
      j->bitmap = b->bitmap, j->mask = b->mask, j->alpha = b->alpha;
      lock = &b->locked;
      break;
    }
    case VL_KIND_ANIM: {
      vlAnim* a = nullptr;
      if (int status = GetAnimByID(L, j->id, &a, 0)) return fail(status);
      j->anim = a;
      j->width = a->width, j->height = a->height;
      j->frameCount = a->frameCount;
      j->framesOwned = a->disk;
      lock = &a->locked;
      break;
    }
    case VL_KIND_TEXTOBJECT: {
      vlTextObjectPicture info{};
      if (!vlTextObjectPictureLookup) return fail(ERR_WRONGUSAGE);
      if (int status = vlTextObjectPictureLookup(L, j->id, &info)) return fail(status);
      j->width = info.width, j->height = info.height;
      j->bitmap = info.bitmap, j->mask = info.mask, j->alpha = info.alpha;
      offsetX = info.offsetX, offsetY = info.offsetY;
      lock = info.lock;
      break;
    }
    case VL_OBJ_LAYER: {
      if (!d->layersOn) return fail(ERR_NOLAYERS);
      vlLayer* layer = GetLayerByPos(pic, j->id.number);
      if (!layer) return fail(ERR_LAYERRANGE);
      j->layer = layer;
      j->layerPos = j->id.number;
      j->width = layer->geometry[0]->width, j->height = layer->geometry[0]->height;
      anchorX = layer->anchorX, anchorY = layer->anchorY;
      if (j->x == VL_KEEPPOSITION) j->x = layer->geometry[0]->x;
      if (j->y == VL_KEEPPOSITION) j->y = layer->geometry[0]->y;
      if (j->endX == VL_KEEPPOSITION) j->endX = layer->geometry[0]->x;
      if (j->endY == VL_KEEPPOSITION) j->endY = layer->geometry[0]->y;
      break;
    }
    case VL_KIND_SPRITE: {
      vlSprite* s = nullptr;
      if (int status = GetSpriteByID(L, j->id, &s, 0)) return fail(status);
      j->width = s->width, j->height = s->height;
      j->frameCount = s->frameCount;
      lock = &s->locked;
      if (s->components) {
        size_t n = 0;
        while (s->components[n]) ++n;
        j->componentLocks = static_cast<uint32_t**>(std::calloc(n + 1, sizeof(uint32_t*)));
        if (!j->componentLocks) return fail(ERR_MEM);
        for (size_t i = 0; i < n; ++i) {
          j->componentLocks[i] = &s->components[i]->locked;
          ++s->components[i]->locked;
        }
      }
      break;
    }
    case VL_MOVE_TRANSITION:
      // The transition gave the picture triple or the layer, and the size.
      if (j->layer && !d->layersOn) return fail(ERR_NOLAYERS);
      if (!j->layer && !j->bitmap) return fail(ERR_WRONGUSAGE);
      break;
    default:
      return fail(ERR_WRONGUSAGE);
  }
  // Raised last, so a failure above leaves the object unlocked.
  if (lock) ++*lock;
  j->lockCounter = lock;
  j->x = ResolvePosX(j->x, j->width, pic->width, anchorX);
  j->y = ResolvePosY(j->y, j->height, pic->height, anchorY);
  j->endX = ResolvePosX(j->endX, j->width, pic->width, anchorX);
  j->endY = ResolvePosY(j->endY, j->height, pic->height, anchorY);
  // Held within reach of the display: the step arithmetic below works on
  // the distance in 32 bits.
  j->x = FarPosition(int64_t{j->x} + offsetX), j->endX = FarPosition(int64_t{j->endX} + offsetX);
  j->y = FarPosition(int64_t{j->y} + offsetY), j->endY = FarPosition(int64_t{j->endY} + offsetY);
  if (j->x == j->endX && j->y == j->endY) {
    if (!j->internal) return fail(0);
    j->x = j->endX - 10, j->y = j->endY - 10;
  }
  // Ends are held within the far position, so a faster speed would change
  // nothing a user sees (the move takes one or two steps), and the smooth
  // zone (6 steps) stays in 32 bits.
  const int32_t dx = j->endX - j->x, dy = j->endY - j->y, speed = std::min(j->xStep, FarPosition(INT64_MAX));
  if (dx == 0)
    j->direction = dy < 0 ? 0 : 4;
  else if (dx > 0)
    j->direction = dy == 0 ? 2 : dy > 0 ? 3 : 1;
  else
    j->direction = dy == 0 ? 6 : dy > 0 ? 5 : 7;
  j->minorAxis = -1;
  if (dx == 0 || dy == 0) {
    j->xStep = j->yStep = j->unit = speed;
  } else if (j->width > j->height) {
    const int32_t steps = (std::abs(dx) + speed - 1) / speed;
    j->xStep = speed;
    j->yStep = std::abs(dy) / steps;
    j->remainder = std::abs(dy) % steps;
    j->unit = speed;
    j->minorAxis = 1;
  } else {
    const int32_t steps = (std::abs(dy) + speed - 1) / speed;
    j->yStep = speed;
    j->xStep = std::abs(dx) / steps;
    j->remainder = std::abs(dx) % steps;
    j->unit = j->xStep;
    j->minorAxis = 0;
  }
  if (dy == 0 && (j->fx == VL_MOVEFX_SINE || j->fx == VL_MOVEFX_BIGSINE)) {
    const int32_t steps = (std::abs(dx) + speed - 1) / speed;
    const double amplitude = j->fx == VL_MOVEFX_SINE ? 50.0 : pic->height / 2;
    for (int i = 0; i < 79; ++i) j->sineTable[i] = j->y + amplitude * std::sin(0.08 * (i + 1));
    j->sineIncrement = speed < 4 ? 1 : speed / 4;
    // An exact multiple would start one past the table's end.
    j->sineIndex = (79 - (j->sineIncrement * steps) % 79) % 79;
  } else if (dy == 0 && (j->fx == VL_MOVEFX_LOWERCURVE || j->fx == VL_MOVEFX_UPPERCURVE)) {
    j->curveFactor = M_PI / std::abs(dx);
  }
  auto zoneDec = [](int32_t step, int32_t* zone, int32_t* dec) {
    *zone = 6 * step;
    *dec = std::max(1, step / 10 + (step % 10 >= 5 ? 1 : 0));
  };
  zoneDec(j->xStep, &j->smoothZoneX, &j->smoothDecX);
  zoneDec(j->yStep, &j->smoothZoneY, &j->smoothDecY);

  // First placement.
  if (j->kind == VL_KIND_SPRITE) {
    vlSprite* s = nullptr;
    GetSpriteByID(L, j->id, &s, 0);
    if (int status = PlaceSprite(L, s, j->x, j->y, 1)) return fail(status);
  } else if (d->layersOn && j->kind != VL_OBJ_LAYER && j->kind != VL_MOVE_TRANSITION) {
    for (vlNode* n = pic->layers.head; n->succ; n = n->succ) {
      auto* layer = reinterpret_cast<vlLayer*>(n);
      if (static_cast<int32_t>(layer->type) == j->kind && layer->source.number == j->id.number &&
          layer->source.handle == j->id.handle) {
        j->layer = layer;
        break;
      }
    }
    if (!j->layer) {
      if (j->kind == VL_KIND_ANIM) {
        if (int status = AddAnimLayer(L, j->anim, j->x, j->y, 0, -1, &j->layer)) return fail(status);
      } else {
        // A text object's layer shows the object itself; a brush's keeps a copy.
        const bool text = j->kind == VL_KIND_TEXTOBJECT;
        vlBitmap *b = nullptr, *m = nullptr, *a = nullptr;
        if (!text)
          if (int status = CopyBitmapRegion(j->bitmap, j->mask, j->alpha, 0, 0, j->width, j->height, 0, 0, 0, &b,
                                            j->mask ? &m : nullptr, j->alpha ? &a : nullptr))
            return fail(status);
        vlLayerGeometry* g = NewLayerGeometry();
        if (!g) {
          FreeFrameTriple(b, m, a);
          return fail(ERR_MEM);
        }
        g->x = j->x, g->y = j->y, g->width = j->width, g->height = j->height;
        if (int status = AddLayer(L, text ? VL_LAYER_TEXTOBJECT : VL_LAYER_BRUSH, &j->id, j->x, j->y, j->width,
                                  j->height, nullptr, nullptr, b, m, a, g, -1, 0, &j->layer))
          return fail(status);
      }
      j->layerPos = CountLayers(pic);
    } else {
      j->layerPos = GetLayerIndex(j->layer);
    }
    if (!j->layer) return fail(ERR_LAYERRANGE);
  }
  j->layerJob = j->layer ? 1 : 0;
  if (j->layer) {
    MoveLayerTo(L, j->layer, nullptr, j->x, j->y, 0, 0, nullptr);
  } else if (j->kind != VL_KIND_SPRITE) {
    if (int status = TakeBackground(j)) return fail(status);
  }
  j->prevX = j->x, j->prevY = j->y;
  const int64_t now = AnimClockMs();
  if (j->animSpeed == -4)
    j->nextFrameMs = now + (j->anim ? GetAnimFrameDelay(j->anim, 0) : -4);
  else
    j->nextFrameMs = now + j->animSpeed;

  if (j->internal) {
    j->step = MoveStep;
    j->free = FreeMoveJob;
    return 0;
  }
  if (j->async) {
    j->display = d;
    void* handle = nullptr;
    if (int status = NewAsyncDraw(ADF_MOVEOBJECT, StepCallback, nullptr, FinishCallback, ReleaseCallback, NotifyCallback, j,
                                  &handle))
      return fail(status);
    vl::PushPointer(L, handle);
    return 1;
  }
  int32_t w0 = pic->width, h0 = pic->height;
  int32_t done = 0;
  int status = 0;
  while (!done) {
    int error = 0;
    if (PumpEvents(L, VL_PUMP_WAIT_INPUT, 0, &error)) {
      status = error;
      break;
    }
    // Taken again once per change of size: taken on every step, the clean
    // background would hold the object itself and leave a trail.
    vlBGPic* now = vlCurrentOutput;
    if (now && (now->width != w0 || now->height != h0)) {
      w0 = now->width, h0 = now->height;
      if (!d->layersOn && !d->scaleWidth && j->clean && (status = TakeBackground(j)) != 0) break;
    }
    if ((status = MoveStep(j, &done)) != 0) break;
    EndPacedFrame(done ? 0 : vlMoveFrameDelayUs);
  }
  FreeMoveJob(j);
  return status;
}
