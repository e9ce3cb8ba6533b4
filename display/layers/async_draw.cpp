// The list of asynchronous drawing objects, their stepping and the
// script commands that drive them.
#include "display/layers/async_draw.h"

#include <new>

#include "display/bgpic.h"
#include "display/display.h"
#include "display/layer_hooks.h"
#include "runtime/error_vm.h"
#include "runtime/errors.h"
#include "runtime/object_data.h"
#include "runtime/object_index.h"
#include "vm/argreaders.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

vlAsyncDraw* gAsyncDraws = nullptr;
// Starting and finding an async draw must not walk every one there is.
vlObjectIndex gAsyncDrawIndex;
vlInvalidateLayerFn gInvalidateLayer = nullptr;

bool BGPicSelected(const vlDisplay* display) { return display && display->outputType == VL_OUTPUT_BGPIC; }

// Asks the object for the layer it draws and marks that layer's rectangle
// dirty.
void InvalidateDrawnLayer(vlVMState* state, vlAsyncDraw* draw) {
  if (!draw->notify) return;
  void* layer = nullptr;
  draw->notify(ADN_DRAWNOBJECT, &layer, draw->userData, 0);
  if (layer && gInvalidateLayer) gInvalidateLayer(state, draw->display, layer);
}

intptr_t Notify(vlAsyncDraw* draw, int32_t code, void* argument, intptr_t extra) {
  return draw->notify ? draw->notify(code, argument, draw->userData, extra) : 0;
}

// Unlinks and frees the record; release runs exactly once, here.
void RemoveAsyncDraw(vlVMState* state, vlAsyncDraw* draw, int32_t done) {
  gAsyncDrawIndex.Unlink(reinterpret_cast<vlObjectNode**>(&gAsyncDraws), &draw->node);
  if (draw->release) draw->release(draw->userData, done);
  if (state) FreeObjectDataList(state, &draw->node.data);
  delete draw;
}

// The output target must be the display itself or a selected BGPic.
int CheckOutputTarget(const vlDisplay* display) {
  if (!display) return 0;
  switch (display->outputType) {
    case VL_OUTPUT_DISPLAY:
    case VL_OUTPUT_BGPIC:
      return 0;
    case VL_OUTPUT_BRUSH:
    case VL_OUTPUT_ANIM:
      if (display->doubleBuffer) return ERR_ENDDOUBLEBUFFER;
      // A frame of an anim is selected through the brush output type.
      return display->outputType == VL_OUTPUT_ANIM || (vlCurrentOutput && vlCurrentOutput->kind == VL_OBJ_ANIM)
                 ? ERR_SELECTANIM
                 : ERR_SELECTBRUSH;
    case VL_OUTPUT_MASK:
      return ERR_SELECTMASK;
    case VL_OUTPUT_ALPHA:
      return ERR_SELECTALPHACHANNEL;
    default:
      return ERR_WRONGUSAGE;
  }
}

int FrameWithTarget(vlVMState* state, vlAsyncDraw* draw, int32_t frame, int32_t* result) {
  *result = 0;
  if (!draw->display->layersOn) return ERR_NOLAYERS;
  if (frame < 1) frame = 0;
  intptr_t current = Notify(draw, ADN_CURRENTFRAME, nullptr, 0);
  intptr_t count = Notify(draw, ADN_FRAMECOUNT, nullptr, 0);
  if (frame == 0 || frame > count) {
    if (draw->done) {
      RunAsyncDrawStep(state, draw, 1);
      *result = 1;
      return 0;
    }
    if (frame > count) return ERR_ANIMFRAME;
  }
  if (frame != 0 && frame == current) return 0;
  if (frame != current + 1 && frame != 0) {
    if (int status = static_cast<int>(Notify(draw, ADN_SEEK, nullptr, frame))) return status;
    if (BGPicSelected(CurrentDisplay()))
      InvalidateDrawnLayer(state, draw);
    else
      Notify(draw, ADN_ADVANCE, nullptr, current + 1);
    draw->done = frame == count ? 1 : 0;
    *result = draw->done;
    return 0;
  }
  return RunAsyncDrawStep(state, draw, 0);
}

void HookFreeAsyncDraws(vlVMState* state) { FreeAsyncDraws(state); }

}  // namespace

void SetAsyncDrawLayerInvalidator(vlInvalidateLayerFn fn) { gInvalidateLayer = fn; }

vlAsyncDraw* FirstAsyncDraw() { return gAsyncDraws; }

int NewAsyncDraw(int32_t kind, vlAsyncStepFn step, void* reserved, vlAsyncFinishFn finish,
                 vlAsyncReleaseFn release, vlAsyncNotifyFn notify, void* userData, void** outHandle) {
  auto* draw = new (std::nothrow) vlAsyncDraw{};
  if (!draw) return ERR_MEM;
  draw->node.type = VL_OBJ_ASYNCDRAW;
  draw->node.idHandle = draw;
  draw->display = CurrentDisplay();
  draw->kind = kind;
  draw->step = step;
  draw->reserved = reserved;
  draw->finish = finish;
  draw->release = release;
  draw->notify = notify;
  draw->userData = userData;
  if (gAsyncDrawIndex.Append(reinterpret_cast<vlObjectNode**>(&gAsyncDraws), &draw->node)) {
    delete draw;
    return ERR_MEM;
  }
  if (outHandle) *outHandle = draw;
  return 0;
}

int GetAsyncDrawByID(vlObjectId id, vlAsyncDraw** out) {
  *out = nullptr;
  if ((*out = reinterpret_cast<vlAsyncDraw*>(gAsyncDrawIndex.First(id)))) return 0;
  if (id.handle) return ERR_FINDARRAY;
  SetErrorArgIndex(id.number);
  return ERR_FINDASYNCDRAW;
}

int RunAsyncDrawStep(vlVMState* state, vlAsyncDraw* draw, int finishNow) {
  if (finishNow) {
    if (draw->finish) draw->finish(draw->userData, 1);
    RemoveAsyncDraw(state, draw, 1);
    return 0;
  }
  bool toBGPic = BGPicSelected(CurrentDisplay());
  if (toBGPic) Notify(draw, ADN_STEPPING, reinterpret_cast<void*>(intptr_t{1}), 0);
  int status = draw->step ? draw->step(draw->userData, &draw->done) : 0;
  if (status == 0 && toBGPic) {
    Notify(draw, ADN_STEPPING, nullptr, 0);
    InvalidateDrawnLayer(state, draw);
  }
  return status;
}

int FinishAsyncDraw(vlVMState* state, vlObjectId id) {
  vlAsyncDraw* draw = nullptr;
  if (int status = GetAsyncDrawByID(id, &draw)) return status;
  if (draw->finish) draw->finish(draw->userData, draw->done);
  RemoveAsyncDraw(state, draw, draw->done);
  return 0;
}

int CancelAsyncDraw(vlVMState* state, vlObjectId id) {
  vlAsyncDraw* draw = nullptr;
  if (int status = GetAsyncDrawByID(id, &draw)) return status;
  RemoveAsyncDraw(state, draw, 0);
  return 0;
}

void FreeAsyncDraws(vlVMState* state) {
  while (gAsyncDraws) RemoveAsyncDraw(state, gAsyncDraws, 0);
  gAsyncDrawIndex.Clear();
}

int AsyncDrawOnDisplay(vlDisplay* display) {
  for (vlAsyncDraw* d = gAsyncDraws; d; d = reinterpret_cast<vlAsyncDraw*>(d->node.next))
    if (d->display == display) return 1;
  return 0;
}

intptr_t QueryTransitionAsyncDraws(intptr_t extra) {
  for (vlAsyncDraw* d = gAsyncDraws; d; d = reinterpret_cast<vlAsyncDraw*>(d->node.next)) {
    if (d->kind != ADF_FX || !d->notify) continue;
    intptr_t answer = 0;
    d->notify(ADN_QUERY, &answer, d->userData, extra);
    if (answer) return answer;
  }
  return 0;
}

void BroadcastAsyncDraw(int32_t code, void* argument) {
  // A callback may end its own object; take the next link first.
  for (vlAsyncDraw* d = gAsyncDraws; d;) {
    auto* next = reinterpret_cast<vlAsyncDraw*>(d->node.next);
    if (d->notify) d->notify(code, argument, d->userData, 0);
    d = next;
  }
}

int FindAsyncDrawOwner(void* object, intptr_t extra) {
  for (vlAsyncDraw* d = gAsyncDraws; d; d = reinterpret_cast<vlAsyncDraw*>(d->node.next)) {
    if (!d->notify) continue;
    void* drawn = nullptr;
    d->notify(ADN_DRAWNOBJECT, &drawn, d->userData, extra);
    if (drawn && drawn == object) return 1;
  }
  return 0;
}

int InstallAsyncDrawHooks() {
  gLayerHooks.freeAsyncDraws = HookFreeAsyncDraws;
  gLayerHooks.asyncDrawOnDisplay = AsyncDrawOnDisplay;
  return RegisterObjectList(reinterpret_cast<vlObjectNode**>(&gAsyncDraws));
}

int CmdAsyncDrawFrame(vlVMState* L) {
  CheckArgs(L, 1, 2, 0, 0);
  if (int status = CheckOutputTarget(CurrentDisplay())) return status;
  vlObjectId id;
  GetObjectIDArg(&id, L, 1);
  vlAsyncDraw* draw = nullptr;
  if (int status = GetAsyncDrawByID(id, &draw)) return status;
  if (!CurrentDisplay() || draw->display != CurrentDisplay()) return ERR_ADFWRONGDISP;
  int32_t result = 0;
  if (vl::GetStackTop(L) < 2) {
    result = draw->done;
    if (int status = RunAsyncDrawStep(L, draw, draw->done)) return status;
  } else {
    int32_t frame = vl::CheckIntArg(L, 2);
    if (int status = FrameWithTarget(L, draw, frame, &result)) return status;
  }
  vl::PushNumber(L, result);
  return 1;
}

int CmdFinishAsyncDraw(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  vlObjectId id;
  GetObjectIDArg(&id, L, 1);
  return FinishAsyncDraw(L, id);
}

int CmdCancelAsyncDraw(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  vlObjectId id;
  GetObjectIDArg(&id, L, 1);
  return CancelAsyncDraw(L, id);
}
