// The debug record handed to hooks and filled by the debug interface, and
// the hook mask bits and events.
#pragma once
#include "vm/state.h"

enum : uint8_t {
  VL_MASK_CALL = 1,
  VL_MASK_RET = 2,
  VL_MASK_LINE = 4,
  VL_MASK_COUNT = 8,
};

enum : int {
  VL_HOOK_CALL = 0,
  VL_HOOK_RET = 1,
  VL_HOOK_LINE = 2,
  VL_HOOK_COUNT = 3,
  VL_HOOK_TAILRET = 4,
};

constexpr int kShortSourceSize = 60;

struct vlDebugInfo {
  int32_t event;
  const char* name;
  const char* namewhat;  // "global", "local", "method", "field" or ""
  const char* what;      // "main", "Vellamora", "C" or "tail"
  const char* source;
  int32_t currentline;
  int32_t nups;
  int32_t linedefined;
  char short_src[kShortSourceSize];
  int32_t i_ci;          // index of the call record; 0 for a lost tail call
};

namespace vl {

// The name of the value in register reg of a script frame at its current
// pc, and its kind ("local", "global", "field", "method"), or null.
const char* FindVariableName(vlVMState* L, vlCallInfo* ci, int reg, const char** name);

// Runs the hook for event with line (the hook may report an error code,
// which is raised).
void CallHook(vlVMState* L, int event, int line);

}  // namespace vl
