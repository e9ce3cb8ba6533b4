// The debug interface: hooks, stack levels, debug records and the names of
// functions, locals and sources as the line hook, the call trace and the
// error system show them.
#pragma once
#include <cstddef>

#include "vm/debug.h"

namespace vl {

// Sets the hook; a null hook or a zero mask clears both. Always 1.
int SetVmHook(vlVMState* L, vlHookFn hook, int mask, int count);

// Fills ar->i_ci for the frame level levels below the running one (tail
// calls a script frame absorbed count as levels; such a level gets index 0).
// 0 when the level does not exist.
int GetStackLevel(vlVMState* L, int level, vlDebugInfo* ar);

// Fills ar by the letters of what: 'S' source, 'l' current line, 'u' upvalue
// count, 'n' name, 'f' pushes the function. A what starting with '>'
// describes the function on the top (popped). 0 when a letter is unknown.
int GetDebugInfo(vlVMState* L, const char* what, vlDebugInfo* ar);

// The source as shown in messages, in at most size bytes (NUL included):
// "=name" without its "=", "@file" with "..." and its tail when too long,
// any other text as [string "first line..."].
void ChunkId(char* out, const char* source, size_t size);

// The n-th (1-based) local variable active at pc, or null.
const char* GetLocalName(const vlFuncProto* f, int n, int pc);

}  // namespace vl
