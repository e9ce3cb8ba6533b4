// The system library's error commands: GetLastError, GetErrorName, Error,
// RaiseOnError, ExitOnError and Assert.
#pragma once

struct vlVMState;

int CmdGetLastError(vlVMState* state);
int CmdGetErrorName(vlVMState* state);
int CmdError(vlVMState* state);
int CmdRaiseOnError(vlVMState* state);
int CmdExitOnError(vlVMState* state);
int CmdAssert(vlVMState* state);
