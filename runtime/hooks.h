// The hook list that plug-ins add to the event pump: functions run on every
// pump (kind 1), with an argument (kind 2), or polled until they report
// something (kind 0).
#pragma once
#include <cstdint>

struct vlVMState;

using vlHookPollFn = int (*)(void* userData);                      // kind 0
using vlHookPumpFn = int (*)(vlVMState* state, void* userData);    // kind 1
using vlHookArgFn = int (*)(void* argument, void* userData);       // kind 2

struct vlHook {
  vlHook* next;
  uint32_t kind;
  uint32_t callMode;  // non-zero: through the plug-in frame call
  void* userData;
  uint32_t disabled;
  vlHookPollFn poll;
  vlHookPumpFn pump;
  vlHookArgFn arg;
};

// Appends an entry; null for a kind other than 0, 1 or 2, a null function,
// or when memory runs out. function must have the type of its kind.
vlHook* AddHook(uint32_t kind, void* function, void* userData, uint32_t callMode);
// Unlinks and frees the entry; an entry that is not in the list is left alone.
void RemoveHook(vlHook* entry);
void SetHookDisabled(vlHook* entry, uint32_t flag);
// Runs the enabled hooks of one kind in list order; 0 or the first error.
int RunHookList(vlVMState* state, uint32_t kind, void* argument);
// Frees every entry (shut-down).
void FreeHookList();
// The first entry, for walking the list.
vlHook* FirstHook();
