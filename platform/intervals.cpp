// Interval and timeout records and their commands: argument reading,
// references to the script function and userdata, and starting, changing
// and stopping the matching POSIX or timer-adapter timer. Depends on the
// VM stack interface, the object-id readers, the error system and timers.
#include "platform/intervals.h"

#include <initializer_list>

#include "platform/hooks.h"
#include "platform/os.h"
#include "platform/timers.h"
#include "runtime/error_vm.h"
#include "runtime/errors.h"
#include "runtime/object_data.h"
#include "runtime/startup.h"
#include "vm/argreaders.h"
#include "vm/auxlib.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

vlTimerObject* gIntervals = nullptr;
vlTimerObject* gTimeouts = nullptr;
vlTimerAdapter* gTimerAdapter = nullptr;
vlTimer* gTimerCursor = nullptr;

namespace {

struct Kind {
  uint32_t objectType;
  uint32_t timerKind;  // VL_TIMER_INTERVAL or VL_TIMER_TIMEOUT
  vlTimerObject** list;
  int notFound;
  int addOperation, removeOperation;
};

const Kind kInterval{VL_OBJ_INTERVAL, VL_TIMER_INTERVAL, &gIntervals, ERR_FINDINTERVAL,
                     VL_TIMER_ADD_INTERVAL, VL_TIMER_REMOVE_INTERVAL};
const Kind kTimeout{VL_OBJ_TIMEOUT, VL_TIMER_TIMEOUT, &gTimeouts, ERR_FINDTIMEOUT,
                    VL_TIMER_ADD_TIMEOUT, VL_TIMER_REMOVE_TIMEOUT};

vlObjectId IdOf(const vlTimerObject* record) {
  return {record->head.idNumber, record->head.idHandle};
}

bool SameId(const vlTimerObject* record, vlObjectId id) {
  return record->head.idNumber == id.number && record->head.idHandle == id.handle;
}

// The record of id and the link that points at it.
int Find(const Kind& kind, vlObjectId id, vlTimerObject** out, vlTimerObject*** linkOut) {
  for (vlTimerObject** link = kind.list; *link;
       link = reinterpret_cast<vlTimerObject**>(&(*link)->head.next)) {
    if (SameId(*link, id)) {
      *out = *link;
      if (linkOut) *linkOut = link;
      return 0;
    }
  }
  *out = nullptr;
  if (id.handle) return ERR_FINDARRAY;
  SetErrorArgIndex(id.number);
  return kind.notFound;
}

void Unlink(vlTimerObject** link) {
  *link = reinterpret_cast<vlTimerObject*>((*link)->head.next);
}

// Unlinks and frees the timeout at *link (its timer already ran out),
// handing its two references to the caller.
void DetachTimeout(vlVMState* state, vlTimerObject** link, int32_t* functionRef, int32_t* userdataRef) {
  vlTimerObject* r = *link;
  *functionRef = r->functionRef;
  *userdataRef = r->userdataRef;
  Unlink(link);
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
  vlTimerObject** link = nullptr;
  int status = Find(kind, id, &record, &link);
  if (status != 0) return status;
  Unlink(link);
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
    vlTimerObject* old;
    vlTimerObject** link = nullptr;
    if (Find(kind, *id, &old, &link) == 0) {
      Unlink(link);
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
  vlTimerObject** tail = kind.list;
  while (*tail) tail = reinterpret_cast<vlTimerObject**>(&(*tail)->head.next);
  *tail = record;

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
    *tail = nullptr;
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

int FindInterval(vlObjectId id, vlTimerObject** out) { return Find(kInterval, id, out, nullptr); }
int FindTimeout(vlObjectId id, vlTimerObject** out) { return Find(kTimeout, id, out, nullptr); }

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
  for (vlTimerObject** link = &gTimeouts; *link;
       link = reinterpret_cast<vlTimerObject**>(&(*link)->head.next)) {
    vlTimerObject* r = *link;
    if (r->adapterHandle != handle) continue;
    // The record goes first, so the callback may set the same id again.
    vlObjectId id = IdOf(r);
    int32_t functionRef, userdataRef;
    DetachTimeout(state, link, &functionRef, &userdataRef);
    int result = gPlatformHooks.runTimerCallback
                     ? gPlatformHooks.runTimerCallback(state, VL_TIMER_TIMEOUT, id, functionRef,
                                                       userdataRef)
                     : 0;
    ReleaseRefs(state, functionRef, userdataRef);
    return result;
  }
  return 0;
}

vlTimerObject* LookupInterval(vlObjectId id) {
  for (vlTimerObject* r = gIntervals; r; r = reinterpret_cast<vlTimerObject*>(r->head.next))
    if (SameId(r, id)) return r;
  return nullptr;
}

bool TakeTimeout(vlVMState* state, vlObjectId id, int32_t* functionRef, int32_t* userdataRef) {
  for (vlTimerObject** link = &gTimeouts; *link;
       link = reinterpret_cast<vlTimerObject**>(&(*link)->head.next)) {
    if (!SameId(*link, id)) continue;
    if (gTimerAdapter && (*link)->adapterHandle) gTimerAdapter->freeTimer((*link)->adapterHandle);
    DetachTimeout(state, link, functionRef, userdataRef);
    return true;
  }
  return false;
}

void ReleaseTimerRefs(vlVMState* state, int32_t functionRef, int32_t userdataRef) {
  ReleaseRefs(state, functionRef, userdataRef);
}

void FreeTimerObjects(vlVMState* state) {
  for (const Kind* kind : {&kInterval, &kTimeout}) {
    while (*kind->list) {
      vlTimerObject* record = *kind->list;
      Unlink(kind->list);
      Dispose(state, *kind, record);
    }
  }
}
