// Loading plug-ins: opening, checking and binding one plug-in file,
// scanning the plug-in folders, activating a plug-in by name, and the
// loader's start-up and shut-down steps. The list they fill is the
// registry's (runtime/plugins.h). Main thread only.
#pragma once
#include <cstdint>

#include "runtime/plugins.h"

struct vlVMState;

// Opens, checks and binds one plug-in file; 0 with the handle and the
// capability word handed out, else an error code (nothing stays loaded).
int LoadPluginModule(const char* path, uint32_t* capabilities, vlPluginHandle** handle);

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

// The start-up driver's entry points: scan and load every plug-in found;
// route command handlers through plug-in hooks and register the formats and
// libraries of the loaded plug-ins; unload everything and drop the hooks.
int LoadPlugins(const char* startPath, const char* skipList);
int InitPlugins(vlVMState* state);
void ClosePlugins();
