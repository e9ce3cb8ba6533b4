// One layer's part of a redraw: what the layer shows (its shadow and border
// too) of a rectangle, drawn into a picture that holds what lies below it.
#pragma once

struct vlVMState;
struct vlLayer;
struct vlBitmap;
struct vlRectXYWH;
struct vlDrawingFor;

// on: the display and BGPic redrawn. current: the BGPic's own records
// (drawing into the BGPic) instead of the display's.
void DrawLayerPart(vlVMState* state, vlLayer* layer, const vlDrawingFor& on, bool current, vlBitmap* dest,
                   const vlRectXYWH& area);
