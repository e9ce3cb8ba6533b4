// Script intervals and timeouts: the records behind SetInterval and
// SetTimeout, the commands that make, change and clear them, and the
// platform timers (or timer-adapter timers) that flag them as fired. Their
// callbacks run from the event dispatcher, or at once through
// RunHandlerById when a timer adapter reports expiry.
#pragma once
#include <cstdint>

#include "runtime/objects.h"

struct vlVMState;
struct vlTimer;

struct vlTimerObject {
  vlObjectNode head;  // type VL_OBJ_INTERVAL or VL_OBJ_TIMEOUT
  int32_t functionRef;  // -1: an engine interval without a script function
  uint32_t period;      // milliseconds
  int32_t userdataRef;  // -1: none
  uintptr_t adapterHandle;  // the timer adapter's timer; 0 without adapter
};

// A plug-in's timer entries. RegisterTimer returns 0 on failure.
struct vlTimerAdapter {
  uintptr_t (*registerTimer)(vlVMState* state, uint32_t millis, int oneShot);
  void (*freeTimer)(uintptr_t handle);
  uint32_t flags;  // bit 0: locked against replacement
};

// The two lists, in creation order.
extern vlTimerObject* gIntervals;
extern vlTimerObject* gTimeouts;
// The installed timer adapter, or null for the built-in POSIX timers.
extern vlTimerAdapter* gTimerAdapter;
// The dispatcher's position in the platform timer list while it walks the
// fired timers; clearing an interval or timeout moves it past its record.
extern vlTimer* gTimerCursor;

// Script commands: SetInterval / SetTimeout (id or nil, function,
// milliseconds, [userdata]) return the handle of an automatic id;
// ClearInterval / ClearTimeout (id); ChangeInterval (id, milliseconds).
int CmdSetInterval(vlVMState* state);
int CmdSetTimeout(vlVMState* state);
int CmdClearInterval(vlVMState* state);
int CmdClearTimeout(vlVMState* state);
int CmdChangeInterval(vlVMState* state);

// Makes an interval; without the engine flag its function is argument 2
// and its userdata argument 4 of the running command. 0 or an error code.
// An automatic id request is replaced by the new record's handle.
int AddInterval(vlVMState* state, vlObjectId* id, uint32_t millis, int engine);
// Removes an interval as ClearInterval does: 0 or the look-up's error.
int RemoveInterval(vlVMState* state, vlObjectId id);
// The record of id: 0, ERR_FINDINTERVAL / ERR_FINDTIMEOUT for a number id
// (the number goes to the error argument), ERR_FINDARRAY for a handle id.
int FindInterval(vlObjectId id, vlTimerObject** out);
int FindTimeout(vlObjectId id, vlTimerObject** out);

// A timer adapter reports that its timer expired: runs the matching
// interval's or timeout's callback and returns its result; 0 when nothing
// matches or shut-down has begun.
int RunHandlerById(vlVMState* state, uintptr_t handle);

// The dispatcher's side of a fired timer: the interval of id (null when
// gone), and a fired timeout's record unlinked and freed with its two
// references handed out, to be released after the callback (false when
// gone).
vlTimerObject* LookupInterval(vlObjectId id);
bool TakeTimeout(vlVMState* state, vlObjectId id, int32_t* functionRef, int32_t* userdataRef);
void ReleaseTimerRefs(vlVMState* state, int32_t functionRef, int32_t userdataRef);

// Shut-down: stops every timer and frees every record.
void FreeTimerObjects(vlVMState* state);
