// Run-time option switches, read and written as {tag, value} pairs ended by
// tag 0. A few tags live here; every other tag is offered to the option
// hooks that the libraries add at start-up.
#pragma once
#include <cstdint>

struct vlVMState;

enum : uint32_t {
  VL_OPT_QUIET = 1,             // no progress or debug messages on the console
  VL_OPT_RENDER_STATE = 5,      // a state flag read by the text renderer
  VL_OPT_CALLBACK_NESTING = 10, // writes: true raises, false lowers the counter
  VL_OPT_ERROR_RAISING = 11,    // errors become script errors (1 at start)
  VL_OPT_SOURCE_POSITIONS = 22, // the current script file and line are known
};

// The homes of the built-in tags. Read directly where speed matters (the
// VM and the error system); write through SetRuntimeOption.
struct vlRuntimeOptions {
  uint32_t quiet;
  uint32_t renderState;
  int32_t callbackNesting;
  uint32_t errorRaising;
  uint32_t sourcePositionsKnown;
};
extern vlRuntimeOptions vlOptions;

// A hook returns non-zero when it took the tag.
using vlOptionSetHook = int (*)(vlVMState* state, uint32_t tag, uint32_t value);
using vlOptionGetHook = int (*)(vlVMState* state, uint32_t tag, void* out);

// (state, tag, u32 value, tag, value, ..., 0) -> number of tags handled.
int SetRuntimeOption(vlVMState* state, uint32_t tag, ...);
// (state, tag, pointer, ..., 0) -> number of tags handled. Built-in tags
// write a uint32_t (the nesting counter an int32_t); tag 22 is not readable.
int GetRuntimeOption(vlVMState* state, uint32_t tag, ...);

// Append a hook; 0, or 1000 when memory runs out.
int AddRuntimeOptionSetHook(vlOptionSetHook hook);
int AddRuntimeOptionGetHook(vlOptionGetHook hook);
// Frees both hook lists (shut-down).
void FreeRuntimeOptionHooks();
