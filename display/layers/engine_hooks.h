// What the layer engine does for the display core through the layer hooks
// (redrawing a BGPic with its layers, re-rendering and freeing them, the
// end of a selection, a background step drawn into a layer): the engine
// installs its routines itself, and the code above the core calls them
// directly.
#pragma once
#include <cstdint>

struct vlVMState;
struct vlDisplay;
struct vlBGPic;
struct vlBitmap;

// Fills the layer hooks and the async-draw invalidator with the engine's
// routines (the layers library opening, or a test alone).
void InstallLayerHooks();

// The rectangle of the BGPic with its layers into dest; the modes of the
// redraw hook (1: without sprites, 2: the sprites alone, 16: the BGPic's
// own size).
void RedrawBGPicLayers(vlVMState* state, vlDisplay* display, vlBGPic* pic, vlBitmap* dest, int32_t x, int32_t y,
                       int32_t width, int32_t height, int32_t mode);
