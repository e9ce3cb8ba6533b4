// The plug-in registry and loader: the list of known plug-ins, loading and
// checking one plug-in file, scanning directories, activating a plug-in by
// name, and unloading everything at shut-down. Main thread only.
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

// Opens, checks and binds one plug-in file; 0 with the handle and the
// capability word handed out, else an error code (nothing stays loaded).
int LoadPluginModule(const char* path, uint32_t* capabilities, vlPluginHandle** handle);
// Calls ClosePlugin, closes the library and frees the blocks.
void ClosePluginModule(vlPluginHandle* handle);
vlPluginInfo* GetPluginInfo(vlPluginHandle* handle);
void* GetPluginSymbol(void* library, const char* name);

// Loads one file into the list: 0 when loaded; 1003 when a node of that
// name is loaded already, or is known and ensureExtension is 0 (the node
// goes out in both cases); else the loader's error.
int LoadPluginFile(const char* path, int ensureExtension, vlPlugin** node);

// Skip list: NUL-terminated names ended by an empty name; "*" skips all.
// With count given, plug-in files are only counted.
int ScanPluginDirectory(const char* directory, const char* skipList, int* count);
// The directory the plug-ins linked into the program were written to (when
// there is one), then the directory part of startPath.
int ScanPluginDirectories(const char* startPath, const char* skipList, int* count);
// Run after each directory entry during a scan; non-zero asks to stop.
void SetPluginScanTick(int (*tick)());

// Makes a plug-in named by the script or the command line usable; see the
// start-up driver for the flags. The option (the plug-in's tag list when it
// has options) reaches RequirePlugin as tag 2. 0 or an error code (1494
// when missing).
int ActivatePlugin(vlVMState* state, const char* moduleName, int32_t minVersion, int32_t minRevision,
                   int constantsPass, int adaptersOnly, const void* option, uint32_t* flagsOut);

vlPlugin* FirstPlugin();
vlPlugin* FindPluginByInfo(const vlPluginInfo* info);
// Unloads and frees every plug-in (shut-down).
void FreePluginList();

// The start-up driver's entry points: scan and load every plug-in found;
// route command handlers through plug-in hooks and register the formats and
// libraries of the loaded plug-ins; unload everything and drop the hooks.
int LoadPlugins(const char* startPath, const char* skipList);
int InitPlugins(vlVMState* state);
void ClosePlugins();
