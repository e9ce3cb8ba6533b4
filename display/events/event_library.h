// The event command library's open and free-all routines.
#pragma once

struct vlVMState;

// Makes the dispatcher's state, plugs the pump into the platform hooks and
// registers the event commands as globals. 0 or an error code.
int OpenEventLibrary(vlVMState* state);
void FreeEventLibrary(vlVMState* state);
