// Runs assembled scripts in a test VM: the assembler's model is turned into
// prototypes directly, globals are read back, and small native commands are
// registered.
#pragma once
#include <string>
#include <string_view>

#include "tests/vm/vm_test_util.h"
#include "tools/chunkasm/chunkasm.h"
#include "vm/object.h"

namespace vltest {

// Builds the prototype tree of an assembled model.
vlFuncProto* BuildProto(vlVMState* L, const vlasm::Function& f, vlString* parentSource);

// Assembles text and pushes a closure of its main function.
void PushScript(vlVMState* L, std::string_view text);

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
