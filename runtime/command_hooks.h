// Plug-in command hooks: a plug-in may take over chosen built-in command
// handlers; while its hook function runs, errors raised through the VM's
// services are offered to the hook's error function first.
#pragma once
#include <cstdint>

#include "abi/plugin_abi.h"

// Appends a hook (null when out of memory).
vlCommandHook* AddCommandHook(vlCommandHookFn hook, vlCommandHookErrorFn error, void* userData);
// Unlinks and frees a hook and its handler list.
void RemoveCommandHook(vlCommandHook* hook);
// Adds a handler to the hook's list (no duplicates): 1, or 0 when out of memory.
int HookCommand(vlCommandHook* hook, vlNativeFn handler);
void SetCommandHookErrorHandler(vlCommandHook* hook, vlCommandHookErrorFn error);
vlCommandHookErrorFn GetCommandHookErrorHandler(vlCommandHook* hook);
void SetCommandHookDisabled(vlCommandHook* hook, uint32_t disabled);

// Before a built-in handler runs: 1 when an enabled hook that lists the
// handler ran instead (its result in *result), else 0.
int CallCommandHook(vlVMState* state, vlNativeFn handler, int* result);
// 1 when the running hook's error function took the error, else 0.
int ForwardErrorToPlugin(vlVMState* state, int code);
// Routes the VM's handler calls and raised errors through the hooks.
void InstallCommandHooks(vlVMState* state);
// Frees every hook (shut-down).
void FreeCommandHooks();
