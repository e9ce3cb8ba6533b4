// The service table handed to every plug-in, and the few player-side
// settings its slots read.
#pragma once
#include "abi/plugin_abi.h"

// The player's one table (the VM sub-table's runtime slots are installed on
// first use).
const vlServiceTable* GetServiceTable();

// While set, the files sub-table's default open uses this name instead of
// the one it is given (a loader handing a plug-in a name it cannot open).
void SetServiceSubstituteFileName(const char* name);

// What every slot of a subsystem that is not available answers: 1066.
int ServiceNotAvailable();
