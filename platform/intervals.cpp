// Interval and timeout records and their commands: argument reading,
// references to the script function and userdata, and starting, changing
// and stopping the matching POSIX or timer-adapter timer. Depends on the
// VM stack interface, the object-id readers, the error system and timers.
#include "platform/intervals.h"

#include <initializer_list>

#include "platform/hooks.h"
#include "runtime/os.h"
#include "platform/timers.h"
#include "runtime/error_vm.h"
#include "runtime/errors.h"
#include "runtime/object_data.h"
#include "runtime/object_index.h"
#include "runtime/run_state.h"
#include "vm/argreaders.h"
#include "vm/auxlib.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

vlTimerObject* gIntervals = nullptr;
vlTimerObject* gTimeouts = nullptr;
vlTimerAdapter* gTimerAdapter = nullptr;
vlTimer* gTimerCursor = nullptr;

namespace {

// Setting and finding a timer must not walk every timer there is.
vlObjectIndex gIntervalIndex;
vlObjectIndex gTimeoutIndex;

struct Kind {
  uint32_t objectType;
  uint32_t timerKind;  // VL_TIMER_INTERVAL or VL_TIMER_TIMEOUT
  vlTimerObject** list;
  vlObjectIndex* index;
  int notFound;
  int addOperation, removeOperation;
};

const Kind kInterval{VL_OBJ_INTERVAL, VL_TIMER_INTERVAL, &gIntervals, &gIntervalIndex, ERR_FINDINTERVAL,
                     VL_TIMER_ADD_INTERVAL, VL_TIMER_REMOVE_INTERVAL};
const Kind kTimeout{VL_OBJ_TIMEOUT, VL_TIMER_TIMEOUT, &gTimeouts, &gTimeoutIndex, ERR_FINDTIMEOUT,
                    VL_TIMER_ADD_TIMEOUT, VL_TIMER_REMOVE_TIMEOUT};

vlObjectNode** Head(const Kind& kind) { return reinterpret_cast<vlObjectNode**>(kind.list); }

vlObjectId IdOf(const vlTimerObject* record) {
  return {record->head.idNumber, record->head.idHandle};
}

vlTimerObject* FirstNamed(const Kind& kind, vlObjectId id) {
  return reinterpret_cast<vlTimerObject*>(kind.index->First(id));
}

int Find(const Kind& kind, vlObjectId id, vlTimerObject** out) {
  *out = FirstNamed(kind, id);
  if (*out) return 0;
  if (id.handle) return ERR_FINDARRAY;
  SetErrorArgIndex(id.number);
  return kind.notFound;
}

void Unlink(const Kind& kind, vlTimerObject* record) { kind.index->Unlink(Head(kind), &record->head); }

// Unlinks and frees the timeout r (its timer already ran out), handing its
// two references to the caller.
void DetachTimeout(vlVMState* state, vlTimerObject* r, int32_t* functionRef, int32_t* userdataRef) {
  *functionRef = r->functionRef;
  *userdataRef = r->userdataRef;
  Unlink(kTimeout, r);
  FreeObjectDataList(state, &r->head.data);
  FreeMemory(r);
}

void ReleaseRefs(vlVMState* state, int32_t functionRef, int32_t userdataRef) {
  if (functionRef >= 0) vl::ReleaseRef(state, vl::kRegistryIndex, functionRef);
  if (userdataRef >= 0) vl::ReleaseRef(state, vl::kRegistryIndex, userdataRef);
}

// Stops the record's timer and drops what it holds; the record is already
// unlinked.
void Dispose(vlVMState* state, const Kind& kind, vlTimerObject* record) {
  ReleaseRefs(state, record->functionRef, record->userdataRef);
  FreeObjectDataList(state, &record->head.data);
  if (gTimerAdapter) {
    if (record->adapterHandle) gTimerAdapter->freeTimer(record->adapterHandle);
  } else {
    StepCursorPastTimer(&gTimerCursor, kind.timerKind, IdOf(record));
    PlatformTimer(kind.removeOperation, IdOf(record), 0);
  }
  FreeMemory(record);
}

int Remove(vlVMState* state, const Kind& kind, vlObjectId id) {
  vlTimerObject* record;
  int status = Find(kind, id, &record);
  if (status != 0) return status;
  Unlink(kind, record);
  Dispose(state, kind, record);
  return 0;
}

// SetInterval and SetTimeout after the arguments were read; the function
// is argument 2 and the userdata argument 4 unless engine is set.
int Add(vlVMState* state, const Kind& kind, vlObjectId* id, uint32_t millis, int engine) {
  // Engine intervals always come with an id of their own, whatever its
  // handle looks like.
  bool automatic = !engine && IsAutomaticIdRequest(*id);
  if (!automatic) {
    if (vlTimerObject* old = FirstNamed(kind, *id)) {
      Unlink(kind, old);
      Dispose(state, kind, old);
    }
  }
  auto* record = static_cast<vlTimerObject*>(AllocMemory(sizeof(vlTimerObject), 1));
  if (!record) return ERR_MEM;
  record->head.type = kind.objectType;
  record->head.idNumber = automatic ? 0 : id->number;
  record->head.idHandle = automatic ? record : id->handle;
  record->period = millis;
  record->functionRef = -1;
  record->userdataRef = -1;
  if (!engine) {
    vl::PushSlotCopy(state, 2);
    record->functionRef = vl::CreateRef(state, vl::kRegistryIndex);
    if (vl::GetTypeAt(state, 4) > VL_TNIL) {
      vl::PushSlotCopy(state, 4);
      record->userdataRef = vl::CreateRef(state, vl::kRegistryIndex);
    }
  }
  if (kind.index->Append(Head(kind), &record->head)) {
    ReleaseRefs(state, record->functionRef, record->userdataRef);
    FreeMemory(record);
    return ERR_MEM;
  }

  int status = 0;
  if (gTimerAdapter) {
    record->adapterHandle =
        gTimerAdapter->registerTimer(state, millis, kind.timerKind == VL_TIMER_TIMEOUT);
    if (!record->adapterHandle) status = ERR_TIMER;
  } else {
    status = PlatformTimer(kind.addOperation, IdOf(record), millis);
  }
  if (status != 0) {
    // A failed start leaves nothing behind; the records before it stay.
    Unlink(kind, record);
    ReleaseRefs(state, record->functionRef, record->userdataRef);
    FreeMemory(record);
    return status;
  }
  *id = IdOf(record);
  return 0;
}

int SetCommand(vlVMState* state, const Kind& kind) {
  CheckArgs(state, 3, 4, 0, 0);
  vlObjectId id;
  bool automatic = GetObjectIDArgOpt(&id, state, 1) != 0;
  int32_t millis = vl::CheckIntArg(state, 3);
  if (millis < 1) return ERR_WRONGUSAGE;
  vl::CheckFunctionArg(state, 2);
  int status = Add(state, kind, &id, uint32_t(millis), 0);
  if (status != 0) return status;
  if (!automatic) return 0;
  vl::PushPointer(state, id.handle);
  return 1;
}

int ClearCommand(vlVMState* state, const Kind& kind) {
  CheckArgs(state, 1, 1, 0, 0);
  vlObjectId id;
  GetObjectIDArg(&id, state, 1);
  return Remove(state, kind, id);
}

}  // namespace

int FindInterval(vlObjectId id, vlTimerObject** out) { return Find(kInterval, id, out); }
int FindTimeout(vlObjectId id, vlTimerObject** out) { return Find(kTimeout, id, out); }

int AddInterval(vlVMState* state, vlObjectId* id, uint32_t millis, int engine) {
  return Add(state, kInterval, id, millis, engine);
}

int RemoveInterval(vlVMState* state, vlObjectId id) { return Remove(state, kInterval, id); }

int CmdSetInterval(vlVMState* state) { return SetCommand(state, kInterval); }
int CmdSetTimeout(vlVMState* state) { return SetCommand(state, kTimeout); }
int CmdClearInterval(vlVMState* state) { return ClearCommand(state, kInterval); }
int CmdClearTimeout(vlVMState* state) { return ClearCommand(state, kTimeout); }

int CmdChangeInterval(vlVMState* state) {
  CheckArgs(state, 2, 2, 0, 0);
  vlObjectId id;
  GetObjectIDArg(&id, state, 1);
  int32_t millis = vl::CheckIntArg(state, 2);
  // A period below 1 would disarm the timer instead of changing it.
  if (millis < 1) return ERR_WRONGUSAGE;
  vlTimerObject* record;
  int status = FindInterval(id, &record);
  if (status != 0) return status;
  if (gTimerAdapter) {
    uintptr_t handle = gTimerAdapter->registerTimer(state, uint32_t(millis), 0);
    if (!handle) return ERR_TIMER;
    if (record->adapterHandle) gTimerAdapter->freeTimer(record->adapterHandle);
    record->adapterHandle = handle;
  }
  // The stored period stays what SetInterval gave.
  return PlatformTimer(VL_TIMER_CHANGE_INTERVAL, id, uint32_t(millis));
}

int RunHandlerById(vlVMState* state, uintptr_t handle) {
  if (vlShuttingDown || !handle) return 0;
  for (vlTimerObject* r = gIntervals; r; r = reinterpret_cast<vlTimerObject*>(r->head.next)) {
    if (r->adapterHandle != handle) continue;
    if (r->functionRef < 0 || !gPlatformHooks.runTimerCallback) return 0;
    return gPlatformHooks.runTimerCallback(state, VL_TIMER_INTERVAL, IdOf(r), r->functionRef,
                                           r->userdataRef);
  }
  for (vlTimerObject* r = gTimeouts; r; r = reinterpret_cast<vlTimerObject*>(r->head.next)) {
    if (r->adapterHandle != handle) continue;
    // The record goes first, so the callback may set the same id again.
    vlObjectId id = IdOf(r);
    int32_t functionRef, userdataRef;
    DetachTimeout(state, r, &functionRef, &userdataRef);
    int result = gPlatformHooks.runTimerCallback
                     ? gPlatformHooks.runTimerCallback(state, VL_TIMER_TIMEOUT, id, functionRef,
                                                       userdataRef)
                     : 0;
    ReleaseRefs(state, functionRef, userdataRef);
    return result;
  }
  return 0;
}

vlTimerObject* LookupInterval(vlObjectId id) { return FirstNamed(kInterval, id); }

bool TakeTimeout(vlVMState* state, vlObjectId id, int32_t* functionRef, int32_t* userdataRef) {
  vlTimerObject* r = FirstNamed(kTimeout, id);
  if (!r) return false;
  if (gTimerAdapter && r->adapterHandle) gTimerAdapter->freeTimer(r->adapterHandle);
  DetachTimeout(state, r, functionRef, userdataRef);
  return true;
}

void ReleaseTimerRefs(vlVMState* state, int32_t functionRef, int32_t userdataRef) {
  ReleaseRefs(state, functionRef, userdataRef);
}

void FreeTimerObjects(vlVMState* state) {
  for (const Kind* kind : {&kInterval, &kTimeout}) {
    while (*kind->list) {
      vlTimerObject* record = *kind->list;
      Unlink(*kind, record);
      Dispose(state, *kind, record);
    }
    kind->index->Clear();
  }
}
