// Runs assembled scripts in a test VM through the real loader, reads
// globals back, and registers small native commands.
#pragma once
#include <string>
#include <string_view>

#include "tests/vm/vm_test_util.h"
#include "tools/chunkasm/chunkasm.h"
#include "vm/object.h"

namespace vltest {

// Assembles text and loads it, pushing a closure of its main function; 0 or
// the load's error code.
int PushScript(vlVMState* L, std::string_view text);

// Runs text as a main chunk in a protected call; 0 or the error code.
int RunScript(vlVMState* L, std::string_view text);

void SetGlobalNative(vlVMState* L, const char* name, vlNativeFn fn);
void SetGlobalNumber(vlVMState* L, const char* name, double n);
const vlValue* GetGlobal(vlVMState* L, const char* name);
double GlobalNumber(vlVMState* L, const char* name);  // NaN when not a number
std::string GlobalString(vlVMState* L, const char* name);

// A native "next" over tables, for generic loops.
int NativeNext(vlVMState* L);

}  // namespace vltest
