// The event pump and the blocking waits: PumpEvents (never blocks, runs
// after every script line), WaitForEvents (blocks until something may have
// happened), and the switches that suspend the line pump and the dispatch.
// The dispatcher above (display/events) runs the script's callbacks.
#pragma once
#include <cstdint>

struct vlVMState;
struct vlDebugInfo;
struct vlCallInfo;

// Pump context codes; only bit 0 changes what the pump does.
enum : int {
  VL_PUMP_LINE = 1,
  VL_PUMP_WAIT_INPUT = 2,
  VL_PUMP_CHECK = 4,
  VL_PUMP_WAIT_EVENT = 8,
};

// Switches, main thread only.
extern uint32_t gLineHookSuspended;  // DisableLineHook / EnableLineHook
extern uint32_t gDispatchSuspended;  // CheckEvent(s) return at once

// The window-system side of the pump, installed by the display library
// when it opens: handleInput drains pending input into the queue: 1 to
// stop (quit or *error), else 0. Default: no input translation yet. The
// wait is always the X11 wait (its connections and the wake pipe).
struct vlInputBackend {
  int (*handleInput)(vlVMState* state, int* error);
};
extern vlInputBackend gInputBackend;

// The process-wide quit flag (the VM's); set once, never cleared here.
void BindQuitFlag(volatile int* flag);
int QuitRequested();
void RequestQuit();
// An end signal's quit request (safe in a signal handler): the run ends
// through shut-down, and whatever waits (requesters too) gives up. The
// first signal is kept; QuitSignal gives it, 0 when none came.
void RequestQuitBySignal(int signal);
int QuitSignal();

// 1 when the caller must stop (quit, or an error in *error), else 0.
int PumpEvents(vlVMState* state, int context, uintptr_t ignored, int* error);
// 0 or an error code; *result (optional) gets the window-system wait's value.
int WaitForEvents(vlVMState* state, int context, int argument, int* result);
// The VM's per-line hook: pumps unless suspended.
void ScriptLineHook(vlVMState* state, vlDebugInfo* ar, int* error, vlCallInfo* ci);
// Installs the line hook on the VM.
void InstallScriptLineHook(vlVMState* state);

// Takes the housekeeping stamp, binds the quit flag, opens the wake pipe
// and the timers and plugs the pump and wait into the platform hooks. 0
// or an error code. The event library opens the dispatcher around it.
int InitEventPump(vlVMState* state);
void FreeEventPump(vlVMState* state);

// The next message that arrived at one of the script's message ports: a
// block (AllocMemory) of two texts one after the other, the sender's port
// and the command line; the caller frees it. Null when none: this platform
// has no message ports, so none ever arrives.
void* PollPortMessage();

int CmdEnableLineHook(vlVMState* state);
int CmdDisableLineHook(vlVMState* state);
