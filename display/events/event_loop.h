// The step of the event loop behind WaitEvent, CheckEvent and CheckEvents.
#pragma once

struct vlVMState;

// One dispatcher step: 0 or 1 results (the result table) or an error code;
// *more (optional) is 1 when no callback ran.
int EventLoopStep(vlVMState* state, int wait, int noTable, int* more);

int CmdWaitEvent(vlVMState* state);
int CmdCheckEvent(vlVMState* state);
int CmdCheckEvents(vlVMState* state);
