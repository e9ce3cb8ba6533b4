// The VM table handed to plug-ins: 78 entry points of the stack interface in
// a fixed order (vlPluginVMTable, laid out with the plug-in interface).
#pragma once
#include "abi/plugin_abi.h"

// The player's one instance of the table.
const vlPluginVMTable* GetPluginVMTable();

// The slots that read objects and file names or raise with the runtime's
// error record belong to the runtime, which installs them here; until then
// they raise 1066. So does the protected call, which the runtime wraps
// with its callback bookkeeping; until then it is the VM's own.
void InstallPluginVMServices(int (*raiseError)(vlVMState*, int),
                             int (*objectIdArg)(vlVMState*, int, vlObjectId*),
                             const char* (*fileNameArg)(vlVMState*, int),
                             int (*objectIdArgOpt)(vlVMState*, int, vlObjectId*),
                             int (*callProtected)(vlVMState*, int, int, int));
