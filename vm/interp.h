// The bytecode interpreter.
#pragma once
#include "vm/state.h"

namespace vl {

// Runs the script function of the current call record, and every script
// function it calls, until that function returns: the pointer to its first
// result. Null when the run ended early (the quit flag): the records it
// entered are dropped and the starting record is left for the caller.
vlValue* ExecuteBytecode(vlVMState* L);

}  // namespace vl
