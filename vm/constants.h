// Named constants (built-in and user-added), the label table of the main
// chunk, and named values kept in the VM registry.
#pragma once
#include <cstddef>

#include "abi/plugin_abi.h"

struct vlVMState;

namespace vl {

// flag 0: the built-in table "constants"; otherwise "userconstants".
void RegisterConstants(vlVMState* state, const vlConstant* list, int flag);
// 1 when found (searched case-insensitively; "constants" first), else 0.
// A number stores null into *text; a string stores the text, valid while
// the table holds it.
int FindConstant(vlVMState* state, const char* name, const char** text, double* number);
int FindConstantIn(vlVMState* state, const char* name, const char** text, double* number, const char* table);

// Instruction index of a label of the main chunk, -1 when there is none.
int FindLabel(vlVMState* state, const char* name);

void SetRegistryNumber(vlVMState* state, const char* name, double value);
void SetRegistryString(vlVMState* state, const char* name, const char* value);
void SetRegistryPointer(vlVMState* state, const char* name, void* value);
double GetRegistryNumber(vlVMState* state, const char* name);
// Valid while the registry holds the entry (a number entry is converted
// and kept until the next call).
const char* GetRegistryString(vlVMState* state, const char* name);
void* GetRegistryPointer(vlVMState* state, const char* name);

}  // namespace vl
