// The "graphics" command library.
#pragma once

struct vlVMState;

int OpenGraphicsLib(vlVMState* state);
