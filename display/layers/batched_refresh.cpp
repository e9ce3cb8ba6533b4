// Sprite moves redrawn together. A loop of moves used to redraw and send
// each sprite's rectangle at once, redrawing every sprite under it again
// and again; the rectangles are now held (graphics/presentation.cpp keeps
// them and says when they settle) and merged and redrawn once each, from
// the layers as they are then. Every place a sprite takes still reaches
// the window; a frame of moves only gets there with less work. This file
// decides what may be held and redraws it for the display.
#include "display/layers/batched_refresh.h"

#include <cstdint>

#include "display/bgpic.h"
#include "display/display.h"
#include "display/layer_hooks.h"
#include "display/layers/layers.h"
#include "graphics/bitmap.h"
#include "graphics/geometry.h"
#include "graphics/presentation.h"
#include "platform/display_adapter.h"
#include "vm/state.h"

namespace {

bool Listed(const vlDisplay* d) {
  for (vlDisplay* e = vlDisplayList; e; e = e->next)
    if (e == d) return true;
  return false;
}

// The display may have closed or changed its buffers since it held them.
bool StillShown(void* owner, const vlBitmap* back) {
  auto* d = static_cast<vlDisplay*>(owner);
  return Listed(d) && d->back == back && d->bgpic && d->displayState == VL_DISPSTATE_OPEN;
}

void RedrawHeld(void* owner, void* context, int32_t x, int32_t y, int32_t w, int32_t h) {
  auto* d = static_cast<vlDisplay*>(owner);
  RedrawLayers(static_cast<vlVMState*>(context), d, d->bgpic, d->back, x, y, w, h, 0);
  UpdateDisplayRect(d->back, x, y, d, x, y, w, h, 0);
}

const vlHeldRedrawer kRedrawer = {StillShown, RedrawHeld};

// Whether refreshes of the current display may be held now; layers are
// drawn from the state they have when the batch is settled.
bool CanHold(vlDisplay* d, vlBGPic* pic, bool layers) {
  if (!d || !pic || !d->back) return false;
  // A suspended refresh and other targets keep their own way.
  if (pic != d->bgpic || d->displayState != VL_DISPSTATE_OPEN || vlRefreshSuspended) return false;
  return layers || (!d->layersOn && CountLayers(pic) == 0);
}

bool Hold(vlVMState* state, vlDisplay* d, const void* const* movers, int moverCount, const vlHeldBox* boxes,
          size_t boxCount) {
  // A coroutine's state may be collected before the batch is drawn.
  vlVMState* main = state && state->g ? state->g->mainthread : state;
  return HoldRedraw(d->back, d, main, &kRedrawer, movers, moverCount, boxes, boxCount);
}

}  // namespace

void RefreshRectBatched(vlVMState* state, const void* mover, int32_t x, int32_t y, int32_t width, int32_t height) {
  vlDisplay* d = CurrentDisplay();
  vlBGPic* pic = vlCurrentOutput;
  if (!d || !pic || !d->back) return;
  if (!CanHold(d, pic, false)) {
    RefreshRect(state, x, y, width, height, 0);
    return;
  }
  vlRectXYWH r{x, y, width, height};
  if (!ClipRectToSize(&r, pic->dispWidth, pic->dispHeight) || r.width < 1 || r.height < 1) return;
  const vlHeldBox box{r.x, r.y, r.x + r.width - 1, r.y + r.height - 1};
  if (!Hold(state, d, &mover, 1, &box, 1)) RefreshRect(state, r.x, r.y, r.width, r.height, 0);
}

void RefreshLayerMovesBatched(vlVMState* state, const void* const* movers, int count, const vlDirtyRects* rects) {
  vlDisplay* d = CurrentDisplay();
  vlBGPic* pic = vlCurrentOutput;
  if (!rects || !d || !pic || !d->back) return;
  const bool all = rects->all != 0;
  vlHeldBox boxes[16];
  size_t n = 0;
  bool fits = !all;
  for (int32_t i = 0; fits && i < rects->count; i++) {
    const int32_t* e = rects->rects + 4 * i;
    if (e[0] == VL_DIRTY_MERGED) continue;
    vlRectXYWH r{e[0], e[1], e[2] + 1 - e[0], e[3] + 1 - e[1]};
    if (!ClipRectToSize(&r, pic->dispWidth, pic->dispHeight) || r.width < 1 || r.height < 1) continue;
    if (n == 16) fits = false;
    else boxes[n++] = {r.x, r.y, r.x + r.width - 1, r.y + r.height - 1};
  }
  // Many rectangles at once (a large group) or everything: drawn at once.
  if (!fits || !CanHold(d, pic, true) || (n && !Hold(state, d, movers, count, boxes, n))) {
    RefreshDirtyRects(state, const_cast<vlDirtyRects*>(rects));
    return;
  }
}
