// The event pump, the blocking wait, the per-line hook and the dispatcher
// step behind WaitEvent, CheckEvent and CheckEvents. Depends on the hook
// list, the pending-event queue, the wake pipe and the dispatcher.
#include "platform/event_pump.h"

#include <atomic>

#include "platform/display_device.h"
#include "platform/hooks.h"
#include "runtime/os.h"
#include "platform/timers.h"
#include "platform/wake_pipe.h"
#include "platform/x11/x11_connection.h"
#include "runtime/error_vm.h"
#include "runtime/event_queue.h"
#include "runtime/hooks.h"
#include "abi/plugin_abi.h"
#include "runtime/runtime_options.h"
#include "vm/debug_api.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

uint32_t gLineHookSuspended = 0;
uint32_t gDispatchSuspended = 0;
vlTimeVal gHousekeepingStamp = {};

namespace {

volatile int gOwnQuit = 0;
volatile int* gQuitFlag = &gOwnQuit;
// Lock-free, so a signal handler may set it; it outlives the VM's flag.
std::atomic<int> gQuitSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

int NoInput(vlVMState*, int* error) {
  *error = 0;
  return QuitRequested();
}

}  // namespace

vlInputBackend gInputBackend = {NoInput};

void BindQuitFlag(volatile int* flag) { gQuitFlag = flag ? flag : &gOwnQuit; }
int QuitRequested() { return *gQuitFlag != 0 || gQuitSignal.load() != 0; }
void RequestQuit() { *gQuitFlag = 1; }

void RequestQuitBySignal(int signal) {
  int none = 0;
  gQuitSignal.compare_exchange_strong(none, signal);
  *gQuitFlag = 1;
}

int QuitSignal() { return gQuitSignal.load(); }

void* PollPortMessage() { return nullptr; }

int PumpEvents(vlVMState* state, int context, uintptr_t, int* error) {
  *error = 0;
  if (context & VL_PUMP_LINE) {
    int r = RunHookList(state, 1, nullptr);
    if (r) {
      *error = r;
      return 1;
    }
    vlTimeVal now;
    GetSysTime(&now);
    if (now.seconds - gHousekeepingStamp.seconds > 9) {
      ExpirePendingEvents(state);
      gHousekeepingStamp = now;
    }
  }
  if (gPlatformHooks.pollAudio) gPlatformHooks.pollAudio();
  const int stop = DefaultDisplayDevice()->handleInput(state, context, error);
  if (*error == ERR_USERABORT) {
    RequestQuit();
    *error = 0;
    return 1;
  }
  if (stop || *error) return 1;
  return QuitRequested();
}

int WaitForEvents(vlVMState* state, int context, int argument, int* result) {
  return DefaultDisplayDevice()->waitInput(state, context, argument, result);
}

void ScriptLineHook(vlVMState* state, vlDebugInfo*, int* error, vlCallInfo*) {
  if (gLineHookSuspended) return;
  int e = 0;
  PumpEvents(state, VL_PUMP_LINE, 0, &e);
  // A quit is not an error: the VM stops at its next instruction.
  if (e) *error = e;
}

void InstallScriptLineHook(vlVMState* state) { vl::SetVmHook(state, ScriptLineHook, VL_MASK_LINE, 0); }

int InitEventPump(vlVMState* state) {
  GetSysTime(&gHousekeepingStamp);
  BindQuitFlag(state ? state->g->host.quitFlag : nullptr);
  // The wait needs the wake pipe, and script timers their signal.
  if (int r = OpenWakePipe()) return r;
  if (int r = InitTimers()) return r;
  return 0;
}

void FreeEventPump(vlVMState*) {
  // A late quit request from a plug-in thread must not reach a closed VM.
  BindQuitFlag(nullptr);
  ResetPlatformHooks();
}

int CmdEnableLineHook(vlVMState* state) {
  CheckArgs(state, 0, 0, 0, 0);
  gLineHookSuspended = 0;
  return 0;
}

int CmdDisableLineHook(vlVMState* state) {
  CheckArgs(state, 0, 0, 0, 0);
  gLineHookSuspended = 1;
  return 0;
}
