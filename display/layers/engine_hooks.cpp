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

// A layer that was the drawing target shows its new pixels: the pictures
// made from the old ones go, and the layer is drawn again, or built again
// when it is turned, scaled or on a display scaling its layers. Nothing
// when the layer went meanwhile, or an anim layer shows another frame.
void EndLayerSelection(vlVMState* state, vlDisplay* d, void* drawn, int32_t frame, int refresh) {
  vlBGPic* pic = d->bgpic;
  vlLayer* layer = nullptr;
  for (vlNode* node = pic ? pic->layers.head : nullptr; node && node->succ && !layer; node = node->succ)
    if (node == drawn) layer = reinterpret_cast<vlLayer*>(node);
  if (!layer || layer->type == VL_LAYER_NOOBJECT) return;
  if (layer->type == VL_LAYER_ANIM && layer->geometry[0]->partX != frame) return;
  FreeLayerBitmaps(layer);
  FreeLayerBorders(layer);
  ReleaseLayerGeometryCaches(layer);
  const vlDrawingFor on{d, pic};
  if (!IsIdentityTransform(&layer->transform))
    RebuildLayerImage(state, layer, refresh ? 0 : 2, on);
  else if (DisplayScalesLayers(d))
    RebuildLayerImage(state, layer, refresh ? 1 : 3, on);
  else if (refresh && !layer->hidden)
    ShowLayerOnDisplay(state, layer, on, 0);
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
  gLayerHooks.endLayerSelection = EndLayerSelection;
  gLayerHooks.standInBGPic = [] { return reinterpret_cast<vlBGPic*>(QueryTransitionAsyncDraws(0)); };
  InstallBGPicUserHooks();
  // A background step drawn into a selected BGPic marks its layer for redraw.
  SetAsyncDrawLayerInvalidator([](vlVMState* state, vlDisplay* display, void* layer) {
    auto* l = static_cast<vlLayer*>(layer);
    InvalidateLayer(state, &display->dirty, l, l->geometry[2]);
  });
}
