// The plug-in registry: the list of known plug-ins, its look-ups, closing
// plug-ins and unloading everything at shut-down. Loading plug-ins is the
// driver's part (player/plugin_loader.h). Main thread only.
#pragma once
#include <cstdint>

#include "abi/plugin_abi.h"

struct vlVMState;

// What the loader keeps for one opened plug-in.
struct vlPluginHandle {
  uint32_t capabilities;
  vlPluginInfo* info;
  void* library;
};

// One node of the plug-in list; a node without handle is only known.
struct vlPlugin {
  vlPlugin* next;
  uint32_t capabilities;
  vlPluginHandle* handle;
  char name[256];   // file name with extension, without a leading '_'
  char path[1024];
  uint32_t required;  // RequirePlugin has been called
};

// Calls ClosePlugin, drops the plug-in from its classes, closes the
// library and frees the blocks.
void ClosePluginModule(vlPluginHandle* handle);
vlPluginInfo* GetPluginInfo(vlPluginHandle* handle);
void* GetPluginSymbol(void* library, const char* name);
// Takes the plug-in out of every loader class list.
void DropPluginFromClasses(vlPluginInfo* info);

vlPlugin* FirstPlugin();
vlPlugin* FindPluginByInfo(const vlPluginInfo* info);
// The node of that file name (case-insensitive), or null.
vlPlugin* FindPluginByName(const char* name);
// Appends a node that is only known (no handle); null when out of memory.
vlPlugin* AppendPlugin(const char* name, const char* path);
// Unloads and frees every plug-in (shut-down).
void FreePluginList();

// Set once a plug-in activated by name started its progress output on a
// line of its own; cleared with the list.
extern int vlPluginActivationLine;

// While set, the service table's default file open uses this name instead
// of the one it is given (a loader handing a plug-in a name it cannot
// open).
void SetServiceSubstituteFileName(const char* name);
const char* GetServiceSubstituteFileName();
