// The sound library's slots of the plug-in service table.
#pragma once

#include "abi/plugin_abi.h"

// Fills slot 2 (SetAudioAdapter) of the sound sub-table; the rest stay as
// they are.
void FillSoundServiceSlots(vlServiceFn* sound);
