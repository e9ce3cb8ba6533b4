// Asynchronous drawing objects: transition effects, anims and object
// movements that a script steps one frame at a time. The subsystem that
// starts one supplies the callbacks; this list owns the records.
#pragma once
#include <cstdint>

#include "runtime/objects.h"

struct vlVMState;
struct vlDisplay;

enum : int32_t { ADF_FX = 0, ADF_MOVEOBJECT = 1, ADF_ANIM = 2 };

// Notification codes.
enum : int32_t {
  ADN_FRAMECOUNT = 2,
  ADN_CURRENTFRAME = 3,
  ADN_SEEK = 4,
  ADN_ADVANCE = 5,
  ADN_DRAWNOBJECT = 6,
  ADN_QUERY = 7,
  ADN_STEPPING = 8,
};

using vlAsyncStepFn = int (*)(void* userData, int32_t* done);
using vlAsyncFinishFn = void (*)(void* userData, int32_t done);
using vlAsyncReleaseFn = void (*)(void* userData, int32_t done);
using vlAsyncNotifyFn = intptr_t (*)(int32_t code, void* argument, void* userData, intptr_t extra);

struct vlAsyncDraw {
  vlObjectNode node;
  vlDisplay* display;
  int32_t kind;
  int32_t done;
  vlAsyncStepFn step;
  void* reserved;
  vlAsyncFinishFn finish;
  vlAsyncReleaseFn release;
  vlAsyncNotifyFn notify;
  void* userData;
};

// Adds the drawn layer's rectangle to the display's dirty list; set by the
// layer code (nothing to invalidate without layers).
using vlInvalidateLayerFn = void (*)(vlVMState* state, vlDisplay* display, void* layer);
void SetAsyncDrawLayerInvalidator(vlInvalidateLayerFn fn);

vlAsyncDraw* FirstAsyncDraw();
// 0 or 1000; the record is bound to the current display.
int NewAsyncDraw(int32_t kind, vlAsyncStepFn step, void* reserved, vlAsyncFinishFn finish,
                 vlAsyncReleaseFn release, vlAsyncNotifyFn notify, void* userData, void** outHandle);
// 0, 1041 (automatic id) or 1326 with the number as argument.
int GetAsyncDrawByID(vlObjectId id, vlAsyncDraw** out);
int RunAsyncDrawStep(vlVMState* state, vlAsyncDraw* draw, int finishNow);
int FinishAsyncDraw(vlVMState* state, vlObjectId id);
int CancelAsyncDraw(vlVMState* state, vlObjectId id);
void FreeAsyncDraws(vlVMState* state);
int AsyncDrawOnDisplay(vlDisplay* display);
intptr_t QueryTransitionAsyncDraws(intptr_t extra);
void BroadcastAsyncDraw(int32_t code, void* argument);
int FindAsyncDrawOwner(void* object, intptr_t extra);
// Fills the display's async-draw hooks and registers the list; 0 or 1000.
int InstallAsyncDrawHooks();

int CmdAsyncDrawFrame(vlVMState* state);
int CmdFinishAsyncDraw(vlVMState* state);
int CmdCancelAsyncDraw(vlVMState* state);
