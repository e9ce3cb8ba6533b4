// The event pump, the blocking wait, the per-line hook and the dispatcher
// step behind WaitEvent, CheckEvent and CheckEvents. Depends on the hook
// list, the pending-event queue, the wake pipe and the dispatcher.
#include "platform/event_pump.h"

#include "platform/display_adapter.h"
#include "display/events/event_dispatch.h"
#include "display/events/event_types.h"
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

int NoInput(vlVMState*, int* error) {
  *error = 0;
  return QuitRequested();
}

int X11Wait(vlVMState* state, int argument, int* result) {
  int r = WaitX11Event(state, argument);
  if (result) *result = r;
  return 0;
}

int HookPump(vlVMState* state, int context, int* error) { return PumpEvents(state, context, 0, error); }
int HookWait(vlVMState* state, int context) { return WaitForEvents(state, context, 0, nullptr); }

// A display adapter's event entries replace the X11 input; one called
// through the frame hook gets nothing on this platform.
using AdapterEventsFn = int (*)(vlVMState*, uint32_t, uintptr_t);
using AdapterWaitFn = int (*)(vlVMState*, uint32_t, uintptr_t*, uintptr_t);
vlPluginInfo* InputAdapter() {
  vlPluginInfo* a = vlDisplayAdapter;
  return a && a->callKind != 2 ? a : nullptr;
}

// One whole dispatcher pass: stops at the first callback.
int RunPass(vlVMState* state, vlCallbackMsg* msg) {
  do {
    int r = NextEventCallback(state, 0, msg);
    if (r) return r;
  } while (msg->kind == VL_MSG_NONE && GetPumpState()->phase != 0);
  return 0;
}

}  // namespace

vlInputBackend gInputBackend = {NoInput, X11Wait};

void BindQuitFlag(volatile int* flag) { gQuitFlag = flag ? flag : &gOwnQuit; }
int QuitRequested() { return *gQuitFlag != 0; }
void RequestQuit() { *gQuitFlag = 1; }

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
  int stop;
  if (vlDisplayAdapter) {
    vlPluginInfo* a = InputAdapter();
    *error = a && a->HandleEvents ? reinterpret_cast<AdapterEventsFn>(a->HandleEvents)(
                                        state, static_cast<uint32_t>(context), 0)
                                  : 0;
    stop = 0;
  } else {
    stop = gInputBackend.handleInput(state, error);
  }
  if (*error == ERR_USERABORT) {
    RequestQuit();
    *error = 0;
    return 1;
  }
  if (stop || *error) return 1;
  return QuitRequested();
}

int WaitForEvents(vlVMState* state, int context, int argument, int* result) {
  if (vlDisplayAdapter) {
    vlPluginInfo* a = InputAdapter();
    uintptr_t scratch = 0;
    return a && a->WaitEvents ? reinterpret_cast<AdapterWaitFn>(a->WaitEvents)(state, static_cast<uint32_t>(context),
                                                                               &scratch, 0)
                              : 0;
  }
  int value = 0;
  int r = gInputBackend.waitInput(state, argument, &value);
  if (result) *result = value;
  return r;
}

void ScriptLineHook(vlVMState* state, vlDebugInfo*, int* error, vlCallInfo*) {
  if (gLineHookSuspended) return;
  int e = 0;
  PumpEvents(state, VL_PUMP_LINE, 0, &e);
  // A quit is not an error: the VM stops at its next instruction.
  if (e) *error = e;
}

void InstallScriptLineHook(vlVMState* state) { vl::SetVmHook(state, ScriptLineHook, VL_MASK_LINE, 0); }

int EventLoopStep(vlVMState* state, int wait, int noTable, int* more) {
  if (wait) {
    int32_t nesting = 0;
    GetRuntimeOption(state, VL_OPT_CALLBACK_NESTING, &nesting, 0u);
    if (nesting) return ERR_WRONGUSAGE;
  }
  vlCallbackMsg msg{};
  if (!GetPumpState() && InitPumpState()) return ERR_MEM;
  int base = vl::GetStackTop(state);
  // Finish a pass under way, then run whole passes.
  while (GetPumpState()->phase != 0 && msg.kind == VL_MSG_NONE) {
    int r = NextEventCallback(state, 0, &msg);
    if (r) return r;
  }
  if (msg.kind == VL_MSG_NONE) {
    int r = RunPass(state, &msg);
    if (r) return r;
  }
  while (wait && msg.kind == VL_MSG_NONE) {
    int r = WaitForEvents(state, 0, 0, nullptr);
    if (r) return r;
    int error = 0;
    if (PumpEvents(state, VL_PUMP_WAIT_EVENT, 0, &error)) return error;
    r = RunPass(state, &msg);
    if (r) return r;
  }
  // A type that calls its own function leaves no message table.
  if (msg.kind == VL_MSG_PLUGIN_TYPE && msg.eventType->kind == 1) msg.kind = VL_MSG_NONE;
  bool ran = msg.kind != VL_MSG_NONE;
  if (more) *more = ran ? 0 : 1;
  if (noTable) {
    vl::SetStackTop(state, base);
    return 0;
  }
  int count = 0;
  if (ran) {
    // The table sits at savedTop, the results above it.
    int tableIndex = msg.savedTop;
    count = vl::GetStackTop(state) - tableIndex;
    vl::PushString(state, "results");
    vl::PushNewTable(state);
    for (int i = 0; i < count; ++i) {
      vl::PushSlotCopy(state, tableIndex + 1 + i);
      vl::RawSetTableIndex(state, -2, i);
    }
    vl::RawSetTableValue(state, tableIndex);
    vl::SetStackTop(state, tableIndex);
  } else {
    vl::SetStackTop(state, base);
    vl::PushNewTable(state);
  }
  vl::PushString(state, "action");
  vl::PushString(state, ran ? msg.action : "");
  vl::RawSetTableValue(state, -3);
  vl::PushString(state, "id");
  if (ran && msg.recordedId.handle) vl::PushPointer(state, msg.recordedId.handle);
  else vl::PushNumber(state, ran ? msg.recordedId.number : 0);
  vl::RawSetTableValue(state, -3);
  vl::PushString(state, "nresults");
  vl::PushNumber(state, count);
  vl::RawSetTableValue(state, -3);
  vl::PushString(state, "triggered");
  vl::PushNumber(state, ran ? 1 : 0);
  vl::RawSetTableValue(state, -3);
  return 1;
}

int InitEventPump(vlVMState* state) {
  GetSysTime(&gHousekeepingStamp);
  BindQuitFlag(state ? state->g->host.quitFlag : nullptr);
  if (int r = InitPumpState()) return r;
  // The wait needs the wake pipe, and script timers their signal.
  if (int r = OpenWakePipe()) return r;
  if (int r = InitTimers()) return r;
  gPlatformHooks.pumpEvents = HookPump;
  gPlatformHooks.waitForEvents = HookWait;
  gPlatformHooks.runTimerCallback = RunTimerCallback;
  return 0;
}

void FreeEventPump(vlVMState* state) {
  // A late quit request from a plug-in thread must not reach a closed VM.
  BindQuitFlag(nullptr);
  FreePumpState(state);
  FreeEventTypes(state);
  ResetPlatformHooks();
}

int CmdWaitEvent(vlVMState* state) {
  CheckArgs(state, 0, 0, 0, 0);
  return EventLoopStep(state, 1, 0, nullptr);
}

int CmdCheckEvent(vlVMState* state) {
  CheckArgs(state, 0, 0, 0, 0);
  if (gDispatchSuspended) return 0;
  return EventLoopStep(state, 0, 0, nullptr);
}

int CmdCheckEvents(vlVMState* state) {
  CheckArgs(state, 0, 0, 0, 0);
  if (gDispatchSuspended) return 0;
  int more = 0;
  int r;
  do r = EventLoopStep(state, 0, 1, &more);
  while (r == 0 && !more);
  return r;
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
