// Loader selection and what loaded plug-ins add to the script side: the
// plug-ins a "loader" list names join their class, command libraries of
// plug-ins are opened, and saver formats become IMGFMT_/ANMFMT_/SMPFMT_
// constants.
#pragma once
#include <cstdint>

#include "runtime/plugin_abi.h"

struct vlVMState;
struct vlPlugin;

// 1 for null, "", "default", "inbuilt" or "native" (any case).
int IsBuiltinLoaderName(const char* name);
// Appends the loaded, enabled plug-ins a '|'-separated list names to the
// class when they have its capability. Never fails.
void BuildLoaderList(const char* list, uint32_t classCode);
// "inbuilt" for 0, "native" for 1, else the loader's module name.
const char* GetLoaderName(const vlPluginInfo* loader);

int RegisterPluginFormats(vlVMState* state, vlPlugin* node);
int OpenPluginLibraries(vlVMState* state, vlPlugin* node, int constants, int commands);
int RegisterSaverFormats(vlVMState* state, const char* prefix, void (*registerEntry)(vlSaverFormat*),
                         vlSaverFormat** tableOut, uint32_t moreBit);
// Frees a plug-in's file types and saver tables (shut-down).
void FreePluginFormats(vlPluginInfo* info);
