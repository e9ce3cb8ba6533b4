// Sprite moves redrawn together: see batched_refresh.cpp.
#pragma once
#include <cstdint>

struct vlDirtyRects;
struct vlVMState;

// Refreshes the rectangle of the current display as RefreshRect does, at
// the latest when the batch of puts leaves or the back buffer or window is
// next used; rectangles held together are merged first. `mover` names what
// moved (a sprite), or is null: a second move of the same one first draws
// what is held, so every place it takes reaches the window.
void RefreshRectBatched(vlVMState* state, const void* mover, int32_t x, int32_t y, int32_t width, int32_t height);
// The rectangles of a list (merged entries skipped) of layers moved by one
// command, held as sprite moves are: each of the movers counts as moved.
// Any other layer change either draws at once (through the back buffer,
// which first draws what is held) or adds its own rectangle, so what is
// held is drawn from the layers as they are then.
void RefreshLayerMovesBatched(vlVMState* state, const void* const* movers, int count, const vlDirtyRects* rects);
