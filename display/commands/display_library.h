// The display command library and the start-up steps it owns.
#pragma once
#include <cstdint>

struct vlVMState;

int OpenDisplayLib(vlVMState* state);
// Closes and frees every display, menu, icon and BGPic (shut-down).
void FreeDisplayLib(vlVMState* state);
// Opens every display that is not hidden and makes one current.
int OpenInitialDisplays(vlVMState* state, uint32_t startupFlags);
// Runs the main chunk (on the stack) in one protected call, or through the
// display adapter's main loop when it has one.
int RunMainChunk(vlVMState* state);
// Points the platform and graphics hooks at the display list.
void InstallDisplayHooks();

// The "bgpic" command library.
int OpenBgPicLib(vlVMState* state);
