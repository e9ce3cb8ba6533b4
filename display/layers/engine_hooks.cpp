// The layer engine's routines in the layer hooks, which the display core
// calls when it redraws, rescales, frees or ends the selection of a BGPic.
#include "display/layers/engine_hooks.h"

#include "display/bgpic.h"
#include "display/display.h"
#include "display/layer_hooks.h"
#include "display/layers/async_draw.h"
#include "display/layers/layer_users.h"
#include "display/layers/layers.h"

namespace {

void FreeLayersOf(vlVMState* state, vlBGPic* pic) { FreeBGPicLayers(state, pic, 0, 1); }

void EndSelection(vlVMState* state, vlDisplay* d, vlBGPic* pic, int refresh) {
  for (vlNode* node = pic->layers.head; node && node->succ; node = node->succ)
    reinterpret_cast<vlLayer*>(node)->drawnDuringSelection = 0;
  if (!refresh || !HasDirtyRects(d->dirty) || IsAllDirty(d->dirty)) return;
  // Only what changed is repainted, each merged group once.
  MergeDirtyRects(&d->dirty);
  RefreshDirtyRects(state, &d->dirty);
}

// The layer scaling engine changed the display's factors: the display
// records are made again.
void Rerender(vlVMState* state, vlDisplay* display, vlBGPic* pic) {
  ResetDisplayScaledLayers(state, display, pic);
  if (DisplayScalesLayers(display)) RebuildBGPicLayersForDisplay(state, display, pic);
}

}  // namespace

void RedrawBGPicLayers(vlVMState* state, vlDisplay* display, vlBGPic* pic, vlBitmap* dest, int32_t x, int32_t y,
                       int32_t width, int32_t height, int32_t mode) {
  RedrawLayers(state, display, pic, dest, x, y, width, height, mode & (1 | 2 | 16));
}

void InstallLayerHooks() {
  gLayerHooks.redrawLayers = RedrawBGPicLayers;
  gLayerHooks.rerenderLayers = Rerender;
  gLayerHooks.freeBGPicLayers = FreeLayersOf;
  gLayerHooks.endSelection = EndSelection;
  InstallBGPicUserHooks();
  // A background step drawn into a selected BGPic marks its layer for redraw.
  SetAsyncDrawLayerInvalidator([](vlVMState* state, vlDisplay* display, void* layer) {
    auto* l = static_cast<vlLayer*>(layer);
    InvalidateLayer(state, &display->dirty, l, l->geometry[2]);
  });
}
