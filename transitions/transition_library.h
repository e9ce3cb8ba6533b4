// The "transitionfx" command library.
#pragma once

struct vlVMState;

int OpenTransitionFxLib(vlVMState* state);
