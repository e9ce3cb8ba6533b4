// The error system's side of the VM: the argument-count check every command
// starts with, turning a command's error code into a script error, the
// script's own error function, the walk that names the failing function,
// and the error requester shown when the script stops.
#pragma once
#include <cstddef>

#include "vm/state.h"

// Raises 1014 for fewer than min arguments, 1193 for more than max (max >=
// 1; min = max = 0 allows none, max 0 with min > 0 sets no upper bound),
// and 1566 when versionMajor is set and the script's revision is older
// than versionMajor.versionMinor. Returns state.
vlVMState* CheckArgCount(vlVMState* state, int min, int max, int versionMajor, int versionMinor);
// The same, with the usual case (a count in range, no revision asked)
// decided without a call.
inline vlVMState* CheckArgs(vlVMState* state, int min, int max, int versionMajor, int versionMinor) {
  int n = static_cast<int>(state->top - state->base);
  if (versionMajor == 0 && n >= min && (n <= max || (max < 1 && (min != 0 || max != 0)))) return state;
  return CheckArgCount(state, min, max, versionMajor, versionMinor);
}

// Stores code as the last error and, when error raising is on, raises it;
// outside system callbacks that also sets the quit flag.
void StoreAndRaiseError(vlVMState* state, int code);

// The script's error function (RaiseOnError): its registry reference or -1.
int GetUserErrorHandler();
// Drops the current function (when any) and installs the function at
// index, or none when index is 0.
void SetUserErrorHandler(vlVMState* state, int index);
// Calls the error function with (code, text, function name, line) under
// protection; 0 or the code it failed with.
int CallUserErrorHandler(vlVMState* state, int code);

// CallProtected for a plug-in: what fails under it is the plug-in's to
// catch, as a system callback's error is its command's, so it neither ends
// the script nor reaches the error function, and once caught it leaves the
// record of where an error happened as it was.
int CallProtectedForPlugin(vlVMState* state, int nargs, int nresults, int handlerIndex);

// Names the failing function and the current source file from the call
// stack, where the current-function record does not know them yet.
void FindCurrentFunctionName(vlVMState* state);

// GetErrorText, and when source positions are known the current source file
// and line (else null and 0).
void GetErrorInfo(vlVMState* state, int code, char* dst, size_t size, const char** fileOut,
                  int* lineOut);

// Shows message in the error requester (title "VellamoraPlayer"), with the
// file, line and function unless plain.
void ShowErrorRequester(vlVMState* state, const char* message, int plain, int icon);

// Plugs the error routines into the VM's host table.
// Whether -NODEBUG switched the debug printing, Assert and the trace off.
int DebugOutputDisabled();
void InstallErrorSystem(vlVMState* state);
// Drops the error function and the user error texts (shut-down).
void FreeErrorSystem(vlVMState* state);
