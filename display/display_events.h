// The window events a display needs to keep its picture on the screen,
// drained on every pump until the full input translation is installed:
// exposed areas are redrawn, queued video frames drawn, everything else
// read and dropped, so the blocking wait never spins on unread events.
#pragma once

struct vlVMState;

int DrainDisplayEvents(vlVMState* state, int* error);
void InstallDisplayEventDrain();
