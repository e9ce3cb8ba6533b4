// Playing anims on the current display: as a layer stepped frame by frame,
// or blitted over a saved copy of the background; in the foreground or as
// an asynchronous drawing object.
#include <cmath>
#include <cstdlib>
#include <new>
#include <unistd.h>

#include "display/bgpic.h"
#include "display/display.h"
#include "display/layers/async_draw.h"
#include "display/layer_hooks.h"
#include "display/layers/draw_tags.h"
#include "display/layers/layers.h"
#include "display/layers/safe_blt.h"
#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "graphics/picture_engines.h"
#include "graphics/position.h"
#include "graphics/presentation.h"
#include "objects/anims/anim.h"
#include "objects/anims/anim_layer.h"
#include "platform/event_pump.h"
#include "runtime/os.h"
#include "platform/timers.h"
#include "runtime/error_vm.h"
#include "runtime/object_data.h"
#include "runtime/option_readers.h"
#include "runtime/script_call.h"
#include "vm/argreaders.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

int32_t vlAnimFrameDelayUs = 16667;

namespace {

struct vlAnimPlayer {
  vlVMState* vm;
  vlBitmap* work;
  vlBitmap* saved;
  vlAnim* anim;
  vlLayer* layer;
  vlObjectId animId;
  int32_t layerPos;
  int32_t regionX, regionY;
  int32_t delay;  // ms, or -4: each frame's own
  int32_t times;
  int32_t regionWidth, regionHeight;
  int32_t drawX, drawY;
  int32_t frameWidth, frameHeight;
  int32_t offsetX, offsetY;
  int32_t frame;  // 1-based
  int32_t pass;
  int64_t dueMs;
  uint32_t async;
  uint32_t* lockCounter;
  double matrix[4];
  double anchorX, anchorY;
  int32_t smooth;
  uint32_t transformOn;
  uint32_t ownsAnim;  // a PlayAnimDisk temporary
  uint32_t layersMode;
};

int32_t SpeedToDelay(int32_t speed) {
  switch (speed) {
    case -1: return 60;
    case -2: return 0;
    case -3: return 160;
    case -4: return -4;
    default: return speed < 0 ? 0 : speed * 20;
  }
}

void FreePlayer(vlAnimPlayer* p) {
  if (p->lockCounter && *p->lockCounter) --*p->lockCounter;
  if (p->work) DeleteBitmap(p->work);
  if (p->saved) DeleteBitmap(p->saved);
  if (p->ownsAnim) FreeAnimByID(p->vm, p->anim->id(), 0);
  delete p;
}

// The layers-off region: where the frame goes and the background under it.
int TakeBackground(vlAnimPlayer* p) {
  vlDisplay* d = CurrentDisplay();
  vlBGPic* pic = vlCurrentOutput ? vlCurrentOutput : d->bgpic;
  int32_t x = p->drawX, y = p->drawY, w = p->frameWidth, h = p->frameHeight;
  p->offsetX = p->offsetY = 0;
  if (x < 0) p->offsetX = -x, w += x, x = 0;
  if (y < 0) p->offsetY = -y, h += y, y = 0;
  if (x + w > pic->width) w = pic->width - x;
  if (y + h > pic->height) h = pic->height - y;
  if (w < 1 || h < 1) return ERR_WRONGUSAGE;
  if (p->work) DeleteBitmap(p->work);
  if (p->saved) DeleteBitmap(p->saved);
  p->work = NewBitmap(w, h, 0, nullptr);
  p->saved = NewBitmap(w, h, 0, nullptr);
  if (!p->work || !p->saved) return ERR_BITMAP;
  p->regionX = x, p->regionY = y, p->regionWidth = w, p->regionHeight = h;
  vlBitmap* screen = d->back ? d->back : pic->curBitmap;
  BltBitmap(screen, x, y, p->saved, 0, 0, w, h);
  return 0;
}

int DrawFrame(vlAnimPlayer* p) {
  vlVMState* L = p->vm;
  const int32_t index = p->frame - 1;
  if (p->layersMode) {
    // The layer went (and none was below it): nothing left to show.
    if (!p->layer) return 0;
    return SetAnimLayerFrame(L, p->layer, VL_KEEPPOSITION, VL_KEEPPOSITION, p->frame);
  }
  vlBitmap *b = nullptr, *m = nullptr, *a = nullptr;
  if (int status = GetAnimFrameBitmaps(p->anim, index, 0, 1, &b, &m, &a)) return status;
  bool owned = p->anim->disk;
  if (p->transformOn) {
    vlBitmap *tb = nullptr, *tm = nullptr, *ta = nullptr;
    int32_t tw = 0, th = 0;
    int status = TransformBitmap(b, m, a, 0, 0, p->anim->storedWidth, p->anim->storedHeight, p->matrix, p->smooth, 0,
                                 &tb, &tm, &ta, &tw, &th);
    if (owned) FreeFrameTriple(b, m, a);
    if (status) return status;
    b = tb, m = tm, a = ta, owned = true;
  }
  vlBGPic* pic = vlCurrentOutput;
  const auto* clip = static_cast<const vlClipRegion*>(pic ? pic->clipRegion : nullptr);
  const int32_t pw = pic ? pic->width : 0, ph = pic ? pic->height : 0;
  if (m || a) {
    BltBitmap(p->saved, 0, 0, p->work, 0, 0, p->regionWidth, p->regionHeight);
    if (a)
      BltBitmapAlpha(b, p->offsetX, p->offsetY, p->work, 0, 0, p->regionWidth, p->regionHeight, a);
    else
      BltBitmapMasked(b, p->offsetX, p->offsetY, p->work, 0, 0, p->regionWidth, p->regionHeight, m);
    SafeBlt(L, p->work, 0, 0, nullptr, p->regionX, p->regionY, p->regionWidth, p->regionHeight, p->regionWidth,
            p->regionHeight, pw, ph, VL_SAFEBLT_FIRSTBUFFER | VL_SAFEBLT_FROMLAYERS | VL_SAFEBLT_DIRECT, nullptr,
            nullptr, clip);
  } else {
    SafeBlt(L, b, p->offsetX, p->offsetY, nullptr, p->regionX, p->regionY, p->regionWidth, p->regionHeight,
            p->frameWidth, p->frameHeight, pw, ph, VL_SAFEBLT_FIRSTBUFFER | VL_SAFEBLT_FROMLAYERS | VL_SAFEBLT_DIRECT,
            nullptr, nullptr, clip);
  }
  if (owned) FreeFrameTriple(b, m, a);
  return 0;
}

// One frame; *done at the end of the last pass.
int Step(vlAnimPlayer* p, int32_t* done) {
  *done = 0;
  if (p->async) {
    const int64_t now = AnimClockMs();
    if (now <= p->dueMs) return 0;
    p->dueMs = now;
  }
  if (int status = DrawFrame(p)) return status;
  const int32_t delay = p->delay == -4 ? GetAnimFrameDelay(p->anim, p->frame - 1) : p->delay;
  if (p->async) {
    p->dueMs += delay;
  } else if (delay > 0) {
    const int64_t rest = delay - (AnimClockMs() - p->dueMs);
    if (rest > 0)
      if (int status = SleepPumpingEvents(p->vm, static_cast<uint32_t>(rest))) return status;
    p->dueMs = AnimClockMs();
  }
  if (++p->frame > p->anim->frameCount) {
    if (p->pass == p->times) {
      *done = 1;
      return 0;
    }
    ++p->pass;
    p->frame = 1;
  }
  return 0;
}

int AsyncStep(void* user, int32_t* done) { return Step(static_cast<vlAnimPlayer*>(user), done); }
void AsyncRelease(void* user, int32_t) { FreePlayer(static_cast<vlAnimPlayer*>(user)); }
intptr_t AsyncNotify(int32_t code, void* argument, void* user, intptr_t) {
  auto* p = static_cast<vlAnimPlayer*>(user);
  vlLayer* before = p->layer;
  TrackDrawnLayer(code, argument, &p->layer);
  if (p->layer != before && p->layerPos > 1) --p->layerPos;
  return 0;
}

}  // namespace

int64_t AnimClockMs() {
  vlTimeVal t{};
  GetSysTime(&t);
  return int64_t{t.seconds} * 1000 + t.micros / 1000;
}

void TrackDrawnLayer(int32_t code, void* argument, vlLayer** layer) {
  if (code == 0 && *layer && argument == *layer) {
    // The head sentinel before the bottom layer is no layer.
    vlNode* below = reinterpret_cast<vlNode*>(*layer)->pred;
    *layer = below && below->pred ? reinterpret_cast<vlLayer*>(below) : nullptr;
  } else if (code == ADN_DRAWNOBJECT && argument) {
    *static_cast<void**>(argument) = *layer;
  }
}

int CheckSelectionState() {
  vlDisplay* d = CurrentDisplay();
  if (!d) return ERR_WRONGUSAGE;
  switch (d->outputType) {
    case VL_OUTPUT_BRUSH:
    case VL_OUTPUT_ANIM:
      if (d->doubleBuffer) return ERR_ENDDOUBLEBUFFER;
      return vlCurrentOutput && vlCurrentOutput->kind == VL_OBJ_ANIM ? ERR_SELECTANIM : ERR_SELECTBRUSH;
    case VL_OUTPUT_MASK:
      return ERR_SELECTMASK;
    case VL_OUTPUT_ALPHA:
      return ERR_SELECTALPHACHANNEL;
    case VL_OUTPUT_BGPIC:
      return ERR_SELECTBG;
    default:
      return 0;
  }
}

int CheckPlayState(vlVMState*) {
  if (int status = CheckSelectionState()) return status;
  return vlRefreshSuspended ? ERR_BEGINREFRESH : 0;
}

int PlayAnimObject(vlVMState* L, int disk) {
  int32_t x = 0, y = 0, speed = 0, times = 1;
  int async = 0, tagIndex = 0;
  vlAnim* anim = nullptr;
  vlObjectId id{};
  if (disk) {
    CheckArgs(L, 1, 7, 0, 0);
    x = vl::OptIntArg(L, 2, 0);
    y = vl::OptIntArg(L, 3, 0);
    tagIndex = 4;
    speed = vl::OptIntArg(L, 5, 0);
    times = vl::OptIntArg(L, 7, 1);
  } else {
    CheckArgs(L, 1, 5, 0, 0);
    GetObjectIDArg(&id, L, 1);
    x = vl::OptIntArg(L, 2, 0);
    y = vl::OptIntArg(L, 3, 0);
    if (vl::GetTypeAt(L, 4) == VL_TTABLE) {
      GetTableInt(L, 4, "speed", &speed, nullptr);
      GetTableInt(L, 4, "times", &times, nullptr);
      GetTableBool(L, 4, "async", &async, nullptr);
      tagIndex = 4;
    } else {
      speed = vl::OptIntArg(L, 4, 0);
      times = vl::OptIntArg(L, 5, 1);
    }
  }
  vlDisplay* d = CurrentDisplay();
  if (!disk && d) {
    vlAnim* target = nullptr;
    if (GetAnimByID(L, id, &target, VL_ANIM_NOLAYERCOPY) == 0 && IsActiveAnim(target)) LeaveSelectMode(L, d, 0);
  }
  if (int status = CheckPlayState(L)) return status;
  if (disk) {
    void* made = nullptr;
    if (int status = LoadAnimObjectInto(L, VL_KIND_ANIMDISK, &made)) return status;
    anim = static_cast<vlAnim*>(made);
  } else if (int status = GetAnimByID(L, id, &anim, 0)) {
    return status;
  }
  // The draw tags' transform: drawn here, frames go from the size they are
  // held at to the size shown; a layer gets them at the size shown. The
  // tags are read from a copy on top of the stack, as from a last argument.
  vlLayerTransform t{};
  const int32_t sw = d->layersOn ? anim->width : anim->storedWidth;
  const int32_t sh = d->layersOn ? anim->height : anim->storedHeight;
  const bool tagTable = tagIndex && vl::GetTypeAt(L, tagIndex) == VL_TTABLE;
  if (tagTable) vl::PushSlotCopy(L, tagIndex);
  int status = ParseDrawTags(L, tagTable ? vl::GetStackTop(L) : 0, sw, sh, anim->width, anim->height, 0, &t, nullptr,
                             VL_TAGS_INIT);
  if (tagTable) vl::SetStackTop(L, -2);
  auto* p = status ? nullptr : new (std::nothrow) vlAnimPlayer{};
  if (!p) {
    if (disk) FreeAnimByID(L, anim->id(), 0);
    return status ? status : ERR_MEM;
  }
  const double ax = t.anchorX, ay = t.anchorY;
  const double matrix[4] = {t.a, t.b, t.c, t.d};
  p->vm = L;
  p->anim = anim;
  p->animId = anim->id();
  p->ownsAnim = disk;
  ++anim->locked;
  p->lockCounter = &anim->locked;
  p->delay = SpeedToDelay(speed);
  p->times = times;
  p->async = async;
  p->anchorX = ax, p->anchorY = ay;
  p->smooth = static_cast<int32_t>(t.smooth);
  for (int i = 0; i < 4; ++i) p->matrix[i] = matrix[i];
  p->frameWidth = anim->storedWidth;
  p->frameHeight = anim->storedHeight;
  x = ResolvePosX(x, p->frameWidth, 0, ax);
  y = ResolvePosY(y, p->frameHeight, 0, ay);
  auto fail = [&](int status) {
    FreePlayer(p);
    return status;
  };
  if (d->layersOn) {
    // The layer takes the transform and places the anchor point itself.
    vlLayer* layer = nullptr;
    if (int status = AddAnimLayerFlags(L, anim, x, y, 0, -1, 0, &layer, &t)) return fail(status);
    p->layer = layer;
    p->layersMode = 1;
    p->layerPos = CountLayers(vlCurrentOutput);
  } else {
    if (matrix[0] != 1 || matrix[1] != 0 || matrix[2] != 0 || matrix[3] != 1) {
      double ox = 0, oy = 0;
      GetTransformedBounds(matrix, anim->storedWidth, anim->storedHeight, &p->frameWidth, &p->frameHeight, &ox, &oy);
      p->transformOn = 1;
    }
    p->drawX = x - static_cast<int32_t>(anim->storedWidth * ax);
    p->drawY = y - static_cast<int32_t>(anim->storedHeight * ay);
    if (int status = TakeBackground(p)) return fail(status);
  }
  p->frame = 1;
  p->pass = 1;
  p->dueMs = AnimClockMs();
  if (async) {
    void* handle = nullptr;
    if (int status = NewAsyncDraw(ADF_ANIM, AsyncStep, nullptr, nullptr, AsyncRelease, AsyncNotify, p, &handle))
      return fail(status);
    vl::PushPointer(L, handle);
    return 1;
  }
  const vlBGPic* pic = vlCurrentOutput;
  int32_t w0 = pic ? pic->width : 0, h0 = pic ? pic->height : 0;
  int32_t done = 0;
  while (!done) {
    int error = 0;
    if (PumpEvents(L, VL_PUMP_WAIT_INPUT, 0, &error)) {
      status = error;
      break;
    }
    // Taken again once per change of size, not on every pass after one.
    if (vlCurrentOutput && (vlCurrentOutput->width != w0 || vlCurrentOutput->height != h0)) {
      w0 = vlCurrentOutput->width, h0 = vlCurrentOutput->height;
      if (!d->layersOn && !d->scaleWidth) {
        p->transformOn = 0;
        p->frameWidth = anim->storedWidth, p->frameHeight = anim->storedHeight;
        if ((status = TakeBackground(p)) != 0) break;
      }
    }
    if ((status = Step(p, &done)) != 0) break;
    // One frame per vertical blank at most, whatever the speed: without the
    // wait a fast anim would flash by in no time.
    EndPacedFrame(done ? 0 : vlAnimFrameDelayUs);
  }
  FreePlayer(p);
  return status;
}
