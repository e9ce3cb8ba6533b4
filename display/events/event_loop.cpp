// The step behind WaitEvent, CheckEvent and CheckEvents: finish the
// dispatcher's pass under way, run whole passes (waiting through the
// platform's pump when asked) and hand the script the message table of the
// callback that ran. Depends on the dispatcher and the platform's pump.
#include "display/events/event_loop.h"

#include "display/events/event_dispatch.h"
#include "display/events/event_types.h"
#include "platform/display_device.h"
#include "platform/event_pump.h"
#include "runtime/error_vm.h"
#include "runtime/runtime_options.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

// One whole dispatcher pass: stops at the first callback.
int RunPass(vlVMState* state, vlCallbackMsg* msg) {
  do {
    int r = NextEventCallback(state, 0, msg);
    if (r) return r;
  } while (msg->kind == VL_MSG_NONE && GetPumpState()->phase != 0);
  return 0;
}

}  // namespace

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

int CmdWaitEvent(vlVMState* state) {
  CheckArgs(state, 0, 0, 0, 0);
  return EventLoopStep(state, 1, 0, nullptr);
}

namespace {

// A display adapter hears its input only when pumped: CheckEvent and
// CheckEvents pump it first, so a loop around them sees its input at once.
// 1 when the pump said stop (its error, 0 for a quit, in *error).
int PumpAdapterFirst(vlVMState* state, int* error) {
  *error = 0;
  if (DisplayDeviceDoes(nullptr, VL_DEVICE_OWN_INPUT)) return 0;
  return PumpEvents(state, VL_PUMP_CHECK, 0, error);
}

}  // namespace

int CmdCheckEvent(vlVMState* state) {
  CheckArgs(state, 0, 0, 0, 0);
  int error = 0;
  if (PumpAdapterFirst(state, &error)) return error;
  if (gDispatchSuspended) return 0;
  return EventLoopStep(state, 0, 0, nullptr);
}

int CmdCheckEvents(vlVMState* state) {
  CheckArgs(state, 0, 0, 0, 0);
  int error = 0;
  if (PumpAdapterFirst(state, &error)) return error;
  if (gDispatchSuspended) return 0;
  int more = 0;
  int r;
  do r = EventLoopStep(state, 0, 1, &more);
  while (r == 0 && !more);
  return r;
}
