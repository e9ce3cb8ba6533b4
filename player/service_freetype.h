// The FreeType sub-table of the plug-in service table: the FreeType
// functions the player runs on, for plug-ins (vector engines above all)
// that work on the faces and outlines the player hands them.
#pragma once

#include "abi/plugin_abi.h"

// Fills slots 0-37; 38 and 39 stay as they are.
void FillFreeTypeServiceSlots(vlServiceFn* freetype);
