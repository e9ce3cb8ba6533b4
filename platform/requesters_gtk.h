// The GTK forms of the built-in requesters, run on a thread of their own.
#pragma once

#include "platform/requesters.h"

struct vlVMState;

// 1 when the GTK thread runs (started on first use), 0 when GTK or a
// display is missing: the console forms are used then.
int StartRequesterThread();
// Stops the GTK thread (at shut-down).
void StopRequesterThread();

// The file chooser for BuiltinFileRequest (mode 0 open, 1 several, 2 save).
// While it is up the main thread pumps events (state given) or drains the
// X connections (start-up). 0, or ERR_MEM.
int GtkFileRequest(vlVMState* state, const char* title, const char* pattern, int mode, const char* directory,
                   const char* file, vlFileResult* result);
