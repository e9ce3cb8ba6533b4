// The display services of the plug-in service table: display clients,
// the display adapter, window icons, display attributes by
// window handle and direct access to the pixels of pictures and planes.
// Plug-ins call them from the main thread without a VM state.
#pragma once

#include "abi/plugin_abi.h"

// Fills the display slots of the graphics sub-table (8 to 11, 13 to 20);
// the rest stay as they are.
void FillDisplayServiceSlots(vlServiceFn* graphics);
