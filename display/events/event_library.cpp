// Opening and freeing the event commands: the dispatcher's state, the pump
// plugged into the platform hooks, and the commands that run callbacks.
// Depends on the pump and the aux library's command registration.
#include "display/events/event_library.h"

#include "display/layer_hooks.h"
#include "display/events/event_buttons.h"
#include "display/events/event_commands.h"
#include "display/events/event_dispatch.h"
#include "display/events/event_legacy.h"
#include "display/events/event_loop.h"
#include "display/events/event_types.h"
#include "platform/event_pump.h"
#include "platform/hooks.h"
#include "platform/intervals.h"
#include "runtime/objects.h"
#include "vm/auxlib.h"
#include "vm/constants.h"
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
    {"InstallEventHandler", CmdInstallEventHandler},
    {"MakeButton", CmdMakeButton},
    {"DeleteButton", CmdDeleteButton},
    {"EnableButton", CmdEnableButton},
    {"DisableButton", CmdDisableButton},
    {"DumpButtons", CmdDumpButtons},
    {"MouseX", CmdMouseX},
    {"MouseY", CmdMouseY},
    {"IsLeftMouse", CmdIsLeftMouse},
    {"IsRightMouse", CmdIsRightMouse},
    {"IsMidMouse", CmdIsMidMouse},
    {"IsKeyDown", CmdIsKeyDown},
    {"ResetKeyStates", CmdResetKeyStates},
    {"SetEventTimeout", CmdSetEventTimeout},
    {"FreeEventCache", CmdFreeEventCache},
    {"BreakEventHandler", CmdBreakEventHandler},
    {"CtrlCQuit", CmdCtrlCQuit},
    {"EscapeQuit", CmdEscapeQuit},
    {"LeftMouseQuit", CmdLeftMouseQuit},
    {"JoyDir", CmdJoyDir},
    {"JoyFire", CmdJoyFire},
    {"CountJoysticks", CmdCountJoysticks},
    {"CreatePort", CmdCreatePort},
    {"SendMessage", CmdSendMessage},
    {"WaitLeftMouse", CmdWaitLeftMouse},
    {"WaitRightMouse", CmdWaitRightMouse},
    {"WaitMidMouse", CmdWaitMidMouse},
    {"WaitKeyDown", CmdWaitKeyDown},
    {"WhileMouseDown", CmdWhileMouseDown},
    {"WhileRightMouseDown", CmdWhileRightMouseDown},
    {"WhileKeyDown", CmdWhileKeyDown},
    {"CreateButton", CmdCreateButton},
    {"ModifyButton", CmdModifyButton},
    {"RemoveButton", CmdRemoveButton},
    {"CreateKeyDown", CmdCreateKeyDown},
    {"ModifyKeyDown", CmdModifyKeyDown},
    {"RemoveKeyDown", CmdRemoveKeyDown},
    {"EnableEvent", CmdEnableEvent},
    {"DisableEvent", CmdDisableEvent},
    {"ClearEvents", CmdClearEvents},
    {"GetEventCode", CmdGetEventCode},
    {"BreakWhileMouseOn", CmdBreakWhileMouseOn},
    {"WhileMouseOn", CmdWhileMouseOn},
    {nullptr, nullptr},
};

const vlConstant kEventConstants[] = {
    {"MOVEWINDOW", nullptr, 6},     {"SIZEWINDOW", nullptr, 7},
    {"INACTIVEWINDOW", nullptr, 8}, {"ACTIVEWINDOW", nullptr, 9},
    {"CLOSEWINDOW", nullptr, 10},   {"ONBUTTONCLICKALL", nullptr, 11},
    {"ONBUTTONRIGHTCLICKALL", nullptr, 12}, {"ONBUTTONOVERALL", nullptr, 13},
    {"ONKEYDOWNALL", nullptr, 14},  {"ONBUTTONCLICK", nullptr, 2},
    {"ONKEYDOWN", nullptr, 3},      {"ONBUTTONOVER", nullptr, 1},
    {"ONBUTTONRIGHTCLICK", nullptr, 5}, {"SIMPLEBUTTON", nullptr, 0},
    {"LAYERBUTTON", nullptr, 1},    {"JOYUP", nullptr, 0},
    {"JOYUPRIGHT", nullptr, 1},     {"JOYRIGHT", nullptr, 2},
    {"JOYDOWNRIGHT", nullptr, 3},   {"JOYDOWN", nullptr, 4},
    {"JOYDOWNLEFT", nullptr, 5},    {"JOYLEFT", nullptr, 6},
    {"JOYUPLEFT", nullptr, 7},      {"JOYNODIR", nullptr, 8},
    {nullptr, nullptr, 0},
};

}  // namespace

int OpenEventLibrary(vlVMState* state) {
  // The dispatcher's state first, then the platform's pump, which calls
  // back into it for timers.
  // A state opened after another starts without the old one's handlers.
  for (vlHandlerSlot& slot : gGlobalHandlers) slot = {-1, -1};
  if (int r = InitPumpState()) return r;
  if (int r = InitEventPump(state)) return r;
  gPlatformHooks.runTimerCallback = RunTimerCallback;
  // A BGPic's buttons go with it, a layer's follow it.
  gLayerHooks.freeBGPicButtons = FreeBGPicButtons;
  gLayerHooks.moveLayerButtons = MoveLayerButtons;
  gLayerHooks.deleteLayerButtons = DeleteButtonsOfLayer;
  vl::PushSlotCopy(state, vl::kGlobalsIndex);
  vl::RegisterCommands(state, nullptr, kEventCommands, 0);
  vl::SetStackTop(state, -2);
  if (int status = RegisterLibrary(kEventCommands, "event")) return status;
  vl::RegisterConstants(state, kEventConstants, 0);
  if (int status = RegisterObjectList(reinterpret_cast<vlObjectNode**>(&gIntervals))) return status;
  return RegisterObjectList(reinterpret_cast<vlObjectNode**>(&gTimeouts));
}

void FreeEventLibrary(vlVMState* state) {
  ResetLegacyState();
  FreeTimerObjects(state);
  FreePumpState(state);
  FreeEventTypes(state);
  FreeEventPump(state);
}
