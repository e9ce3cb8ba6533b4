// Raising VM errors and running code under protection. An error unwinds as
// one private C++ exception to the nearest RunProtected; nothing else
// catches it, so destructors on the way run.
#pragma once
#include <type_traits>

#include "vm/state.h"

namespace vl {

typedef void (*vlProtectedBody)(vlVMState* L, void* ud);

// Runs body(L, ud) under a new protected frame; 0 or the thrown code.
int RunProtected(vlVMState* L, vlProtectedBody body, void* ud);

// Runs any callable under a protected frame.
template <class F>
int RunProtectedFn(vlVMState* L, F&& fn) {
  using Fn = std::remove_reference_t<F>;
  return RunProtected(
      L, [](vlVMState*, void* ud) { (*static_cast<Fn*>(ud))(); },
      const_cast<void*>(static_cast<const void*>(&fn)));
}

// Throws code to the nearest protected frame. Without one, calls the panic
// function and ends the process with a non-zero status.
[[noreturn]] void ThrowVmError(vlVMState* L, int code);

// Records the current line and function for the error message, then throws.
[[noreturn]] void RaiseVmError(vlVMState* L, int code);

// For the raise services a plug-in's own code calls (argument errors,
// CheckArgs): as RaiseVmError, but when a running plug-in command hook's
// error function takes the error, its non-zero result is returned to the
// caller instead. Everything inside the VM uses RaiseVmError.
int RaiseVmErrorFromService(vlVMState* L, int code);

// The source line of the running frame: the line of its current instruction
// for a script frame (0 without line information), -1 for a native frame.
int CurrentLine(vlVMState* L, vlCallInfo* ci);
// Index of the current instruction of a script frame, -1 for native ones.
int CurrentPc(vlVMState* L, vlCallInfo* ci);

}  // namespace vl
