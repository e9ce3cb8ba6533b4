// The system library's commands that work on any object: existence, type,
// listing, and the per-object user data.
#pragma once

struct vlVMState;

int CmdHaveObject(vlVMState* state);
int CmdGetObjectType(vlVMState* state);
int CmdGetObjects(vlVMState* state);
int CmdSetObjectData(vlVMState* state);
int CmdGetObjectData(vlVMState* state);
int CmdHaveObjectData(vlVMState* state);
int CmdClearObjectData(vlVMState* state);
int CmdCopyObjectData(vlVMState* state);
