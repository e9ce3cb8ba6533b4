// POSIX timers behind script intervals and timeouts, the real-time signal
// handlers, the pumping sleep, network polling and the signal relay.
// Signal handlers only write to pipes; the timer records are changed by the
// threads that read those pipes, under the timer mutex.
#pragma once
#include <cstdint>
#include <ctime>

#include "runtime/objects.h"

struct vlVMState;

enum : int {
  VL_TIMER_ADD_INTERVAL = 0,
  VL_TIMER_ADD_TIMEOUT = 1,
  VL_TIMER_REMOVE_INTERVAL = 2,
  VL_TIMER_REMOVE_TIMEOUT = 3,
  VL_TIMER_CHANGE_INTERVAL = 4,
};

enum : uint32_t {
  VL_TIMER_INTERVAL = 0,  // periodic
  VL_TIMER_TIMEOUT = 1,   // one-shot
  VL_TIMER_NONE = 9,      // TakeFiredTimer: nothing fired
};

// One script timer; the list keeps creation order.
struct vlTimer {
  vlTimer* next;
  vlTimer* prev;  // unlinking does not walk the list
  uint32_t kind;
  vlObjectId id;
  uint32_t fired;
  timer_t timer;
  uintptr_t token;  // what the signal carries; never reused
};

// Installs the SIGRTMIN handler and makes the timer mutex: 0, ERR_SIGNAL or
// ERR_SEMAPHORE.
int InitTimers();
void FreeAllTimers();
void ShutdownTimers();  // FreeAllTimers, then the mutex

// Add (0 interval, 1 timeout), remove (2, 3) or re-period (4) the timer of
// id: 0, ERR_MEM or ERR_TIMER; unknown ids and operations give 0.
int PlatformTimer(int operation, vlObjectId id, uint32_t millis);
// Arms a timer that sends SIGRTMIN carrying token; 1 or 0.
int ArmPosixTimer(int periodic, uint32_t millis, uintptr_t token, timer_t* timerOut);
// The first record of kind with id; *link (optional) gets the link that
// points at it. The caller holds the timer mutex.
vlTimer* FindTimer(uint32_t kind, vlObjectId id, vlTimer*** link);
// Moves *cursor (a walker's position in the list) past the record of kind
// and id when it stands on it, so that removing the record keeps the walk.
void StepCursorPastTimer(vlTimer** cursor, uint32_t kind, vlObjectId id);
// Flags the record carrying token, when it still exists.
void FlagTimerFired(uintptr_t token);
// Flags one-shot timers that expired although their message never came.
void SweepExpiredTimeouts();
// Reports and consumes start (or the list head when null, or when start
// was removed meanwhile): *kind 9 when it had not fired, else its kind and
// id (a fired timeout is freed). Returns the record after it, so a caller
// walks the list one call at a time.
vlTimer* TakeFiredTimer(vlTimer* start, uint32_t* kind, vlObjectId* id);

// Sleeps millis while pumping events: 0, ERR_USERABORT when the pump
// reports a quit, or the wait's error.
int SleepPumpingEvents(vlVMState* state, uint32_t millis);

// Network polling shares one 20 ms engine interval between connections and
// servers (kind 0) and UDP objects (kind 1).
int StartNetworkPolling(vlVMState* state, int kind);
void StopNetworkPolling(vlVMState* state, int kind);

// The signal relay serves the pipe while a display adapter owns the loop.
int StartSignalRelay();  // 0 or ERR_THREAD
void StopSignalRelay();

// Audio channel timers (SIGRTMIN+1): the handler queues the token the
// timer carries; DeliverAudioTimerSignals hands them, in signal order, to
// the audio output from thread context. 0 or ERR_SIGNAL.
int InstallAudioTimerSignal();
void DeliverAudioTimerSignals();
