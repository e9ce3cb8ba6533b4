// The graphics slots of the plug-in service table that stand on pictures,
// brushes and the drawing primitives: picture loading, brush pixels, brushes
// made from ARGB words, drawing into the output or a brush, raw pixel blits
// and the colour conversions.
#pragma once

#include "abi/plugin_abi.h"

// Fills slots 0-6, 12, 21-24 and 26-29 of the graphics sub-table; the
// display services fill the others.
void FillGraphicsServiceSlots(vlServiceFn* graphics);
