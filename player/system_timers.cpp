// The system library's stopwatch timers: start, stop, pause, resume,
// reset, read and wait. Depends on the object registry (identifiers, user
// data) and the platform layer's clock and pumping sleep.
#include <ctime>

#include "display/layers/kept_blend.h"
#include "runtime/os.h"
#include "platform/timers.h"
#include "runtime/error_vm.h"
#include "runtime/errors.h"
#include "runtime/object_data.h"
#include "runtime/object_index.h"
#include "player/system_library.h"
#include "vm/argreaders.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

struct vlScriptTimer {
  vlObjectNode node;
  vlTimeVal start;
  vlTimeVal accumulated;  // counted before the last pause, or set by ResetTimer
  uint32_t paused;
};

// Stopwatches count on the monotonic clock: the system clock set back or
// forward (by hand or by time synchronisation) must not make them jump.
void Now(vlTimeVal* out) {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  out->seconds = static_cast<uint32_t>(t.tv_sec);
  out->micros = static_cast<uint32_t>(t.tv_nsec / 1000);
}

vlObjectNode* gTimers = nullptr;
// Starting and finding a timer must not walk every timer there is.
vlObjectIndex gTimerIndex;

// The timer named by the argument at index: 0, or 1041 for an automatic id
// and 1181 (with the number) for a numbered one that is not in the list.
int FindTimer(vlVMState* L, int index, vlScriptTimer** out) {
  vlObjectId id;
  GetObjectIDArg(&id, L, index);
  if (vlObjectNode* n = gTimerIndex.First(id)) {
    *out = reinterpret_cast<vlScriptTimer*>(n);
    return 0;
  }
  if (id.handle) return ERR_FINDARRAY;
  SetErrorArgIndex(id.number);
  return ERR_FINDTIMER;
}

// Starts counting from zero; the head (id, user data, link) stays.
void Restart(vlScriptTimer* t) {
  Now(&t->start);
  t->accumulated = {0, 0};
  t->paused = 0;
}

double ElapsedMillis(const vlScriptTimer* t) {
  vlTimeVal total = t->accumulated;
  if (!t->paused) {
    vlTimeVal now;
    Now(&now);
    SubTimeVal(&now, &t->start);
    AddTimeVal(&total, &now);
  }
  return double(total.seconds) * 1000.0 + double(total.micros / 1000);
}

void FreeTimer(vlVMState* L, vlScriptTimer* t) {
  FreeObjectDataList(L, &t->node.data);
  FreeMemory(t);
}

}  // namespace

vlObjectNode** ScriptTimerList() { return &gTimers; }

int CmdStartTimer(vlVMState* L) {
  CheckArgs(L, 1, 2, 0, 0);
  vlObjectId id;
  bool automatic = GetObjectIDArgOpt(&id, L, 1) != 0;
  if (!automatic) {
    if (vlObjectNode* n = gTimerIndex.First(id)) {
      Restart(reinterpret_cast<vlScriptTimer*>(n));
      return 0;
    }
  }
  auto* t = static_cast<vlScriptTimer*>(AllocMemory(sizeof(vlScriptTimer), 1));
  if (!t) return ERR_MEM;
  t->node.type = VL_OBJ_TIMER;
  t->node.idNumber = automatic ? 0 : id.number;
  t->node.idHandle = automatic ? t : id.handle;
  Restart(t);
  if (gTimerIndex.Append(&gTimers, &t->node)) {
    FreeMemory(t);
    return ERR_MEM;
  }
  if (!automatic) return 0;
  vl::PushPointer(L, t);
  return 1;
}

int CmdStopTimer(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  vlScriptTimer* t;
  if (int status = FindTimer(L, 1, &t)) return status;
  gTimerIndex.Unlink(&gTimers, &t->node);
  FreeTimer(L, t);
  return 0;
}

int CmdPauseTimer(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  vlScriptTimer* t;
  if (int status = FindTimer(L, 1, &t)) return status;
  if (!t->paused) {
    vlTimeVal now;
    Now(&now);
    SubTimeVal(&now, &t->start);
    AddTimeVal(&t->accumulated, &now);
    t->paused = 1;
  }
  return 0;
}

int CmdResumeTimer(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  vlScriptTimer* t;
  if (int status = FindTimer(L, 1, &t)) return status;
  if (t->paused) {
    t->paused = 0;
    Now(&t->start);
  }
  return 0;
}

int CmdResetTimer(vlVMState* L) {
  CheckArgs(L, 1, 2, 0, 0);
  vlScriptTimer* t;
  if (int status = FindTimer(L, 1, &t)) return status;
  int32_t ms = vl::OptIntArg(L, 2, 0);
  if (ms < 0) ms = 0;
  Restart(t);
  t->accumulated = {static_cast<uint32_t>(ms / 1000), static_cast<uint32_t>(ms % 1000) * 1000};
  return 0;
}

int CmdGetTimer(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  KeepLayerBlendThrough(L);  // changes no picture
  vlScriptTimer* t;
  if (int status = FindTimer(L, 1, &t)) return status;
  vl::PushNumber(L, ElapsedMillis(t));
  return 1;
}

int CmdWaitTimer(vlVMState* L) {
  CheckArgs(L, 2, 3, 0, 0);
  KeepLayerBlendThrough(L);  // changes no picture
  vlScriptTimer* t;
  if (int status = FindTimer(L, 1, &t)) return status;
  double ms = vl::CheckIntArg(L, 2);
  bool reset = vl::OptIntArg(L, 3, 1) != 0;
  if (t->paused) return ERR_WRONGUSAGE;
  vlObjectId id{t->node.idNumber, t->node.idHandle};
  for (;;) {
    double left = ms - ElapsedMillis(t);
    if (left <= 0) break;
    int status = SleepPumpingEvents(L, static_cast<uint32_t>(left < 1 ? 1 : left));
    if (status) return status;
    // An event callback may have stopped the timer meanwhile: found again
    // by its id, it must still be the same record.
    if (gTimerIndex.First(id) != &t->node) return 0;
  }
  if (reset) Restart(t);
  return 0;
}

void FreeScriptTimers(vlVMState* L) {
  while (gTimers) {
    auto* t = reinterpret_cast<vlScriptTimer*>(gTimers);
    gTimers = gTimers->next;
    FreeTimer(L, t);
  }
  gTimerIndex.Clear();
}
