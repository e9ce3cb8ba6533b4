// What the graphics library's GetAttribute asks of the text library: font
// objects, text objects, text layers and the current font of a display.
#pragma once
#include "text/text_layers.h"

// Installs the attribute handlers (TEXTOUT and PRINT layer records carry
// their layout, text/text_layers.h).
void InstallTextAttributeHooks();
