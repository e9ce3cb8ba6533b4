// Event commands over the current display's input and the handler slots.
#pragma once
#include <cstdint>

struct vlVMState;

int CmdInstallEventHandler(vlVMState* state);
int CmdMouseX(vlVMState* state);
int CmdMouseY(vlVMState* state);
int CmdIsLeftMouse(vlVMState* state);
int CmdIsRightMouse(vlVMState* state);
int CmdIsMidMouse(vlVMState* state);
int CmdIsKeyDown(vlVMState* state);
int CmdResetKeyStates(vlVMState* state);
int CmdSetEventTimeout(vlVMState* state);
int CmdFreeEventCache(vlVMState* state);
int CmdBreakEventHandler(vlVMState* state);
int CmdCtrlCQuit(vlVMState* state);
int CmdEscapeQuit(vlVMState* state);
int CmdLeftMouseQuit(vlVMState* state);
int CmdJoyDir(vlVMState* state);
int CmdJoyFire(vlVMState* state);
int CmdCountJoysticks(vlVMState* state);
int CmdCreatePort(vlVMState* state);
int CmdSendMessage(vlVMState* state);
int CmdWaitLeftMouse(vlVMState* state);
int CmdWaitRightMouse(vlVMState* state);
int CmdWaitMidMouse(vlVMState* state);
int CmdWaitKeyDown(vlVMState* state);
int CmdWhileMouseDown(vlVMState* state);
int CmdWhileRightMouseDown(vlVMState* state);
int CmdWhileKeyDown(vlVMState* state);
int CmdBreakWhileMouseOn(vlVMState* state);
int CmdWhileMouseOn(vlVMState* state);
