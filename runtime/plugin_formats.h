// Loader selection and what loaded plug-ins add to the script side: the
// plug-ins a "loader" list names join their class, command libraries of
// plug-ins are opened, and saver formats become IMGFMT_/ANMFMT_/SMPFMT_
// constants.
#pragma once
#include <cstdint>

#include "abi/plugin_abi.h"

struct vlVMState;
struct vlPlugin;

// 1 for null, "", "default", "inbuilt" or "native" (any case).
int IsBuiltinLoaderName(const char* name);
// Appends the loaded, enabled plug-ins a '|'-separated list names to the
// class when they have its capability. Never fails.
void BuildLoaderList(const char* list, uint32_t classCode);
// Whether a loader class walk asks the plug-in: enabled, selected by the
// list (the "plugin" wildcard counts), and, when it joined its class only
// because a list named it, named by this list too.
int IsLoaderAsked(const vlPluginInfo* info, const char* list);
// An entry point as the player may call it: null for a missing one and for
// a plug-in whose calls go through the frame-call hook (which does nothing
// on this platform). Fn is the entry's own type, so a caller that expects
// another signature fails to build.
template <class Fn>
Fn CallablePluginEntry(const vlPluginInfo* info, Fn entry) {
  if (!info || info->callKind == 2 || !entry) return nullptr;
  return entry;
}
// "inbuilt" for 0, "native" for 1, else the loader's module name.
const char* GetLoaderName(const vlPluginInfo* loader);

int RegisterPluginFormats(vlVMState* state, vlPlugin* node);
int OpenPluginLibraries(vlVMState* state, vlPlugin* node, int constants, int commands);
int RegisterSaverFormats(vlVMState* state, const char* prefix, void (*registerEntry)(vlSaverFormat*),
                         vlSaverFormat** tableOut, uint32_t moreBit);
// Frees a plug-in's file types and saver tables (shut-down).
void FreePluginFormats(vlPluginInfo* info);
