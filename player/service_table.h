// The service table handed to every plug-in, and the few player-side
// settings its slots read.
#pragma once
#include "abi/plugin_abi.h"

// The player's one table (the VM sub-table's runtime slots are installed on
// first use).
const vlServiceTable* GetServiceTable();
