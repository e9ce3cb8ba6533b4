// What the graphics library's GetAttribute asks of the text library: font
// objects, text objects, text layers and the current font of a display.
#pragma once
#include <string>

#include "display/layers/layers.h"
#include "text/text_layout.h"

// The record of a TEXTOUT or PRINT layer: the common head and the deep copy
// of the layout the text was drawn with, so its font and text stay known.
struct vlTextLayerGeometry : vlLayerGeometry {
  vlTextLayout layout;
  std::string text;
};

// A fresh record holding a copy of the layout and its text; null when out
// of memory.
vlLayerGeometry* NewTextLayerGeometry(const vlTextLayout& layout);

// Installs the attribute handlers and the layer sources of the TEXTOUT and
// PRINT layers (their records carry the layout).
void InstallTextAttributeHooks();
