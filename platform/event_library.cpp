// Opening and freeing the event commands: the dispatcher's state, the pump
// plugged into the platform hooks, and the commands that run callbacks.
// Depends on the pump and the aux library's command registration.
#include "platform/event_library.h"

#include "platform/event_pump.h"
#include "platform/intervals.h"
#include "vm/auxlib.h"
#include "vm/stack_api.h"

namespace {

const vlCommand kEventCommands[] = {
    {"WaitEvent", CmdWaitEvent},
    {"CheckEvent", CmdCheckEvent},
    {"CheckEvents", CmdCheckEvents},
    {"SetInterval", CmdSetInterval},
    {"SetTimeout", CmdSetTimeout},
    {"ClearInterval", CmdClearInterval},
    {"ClearTimeout", CmdClearTimeout},
    {"ChangeInterval", CmdChangeInterval},
    {nullptr, nullptr},
};

}  // namespace

int OpenEventLibrary(vlVMState* state) {
  if (int r = InitEventPump(state)) return r;
  vl::PushSlotCopy(state, vl::kGlobalsIndex);
  vl::RegisterCommands(state, nullptr, kEventCommands, 0);
  return 0;
}

void FreeEventLibrary(vlVMState* state) {
  FreeTimerObjects(state);
  FreeEventPump(state);
}
