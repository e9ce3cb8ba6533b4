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

// Drawing into a selected layer went into the layer's own picture: it
// reaches the screen when the selection ends, if the layer is still on
// the display and (for an anim layer) still shows the frame drawn into.
void EndLayerSelection(vlVMState* state, vlDisplay* d, const vlBGPic* record) {
  vlBGPic* pic = d->bgpic;
  if (!pic) return;
  vlLayer* layer = nullptr;
  for (vlNode* node = pic->layers.head; node && node->succ; node = node->succ)
    if (node == record->selectObject) layer = reinterpret_cast<vlLayer*>(node);
  if (!layer) return;
  if (layer->type == VL_LAYER_ANIM && (layer->geometry[0] ? layer->geometry[0]->partX : 0) != record->selectIndex)
    return;
  pic->changed = 1;
  const vlDrawingFor on{d, pic};
  // A layer shown through a matrix, a scaled display, a filter or a border
  // shows pictures made from the one drawn into: they are made again.
  const vlLayerGeometry* g = layer->geometry[2];
  if (IsIdentityTransform(&layer->transform) && !(DisplayScalesLayers(d) && (d->scaleX != 1.0 || d->scaleY != 1.0)) &&
      g && !g->fImage && !g->bImage) {
    int32_t x, y, w, h;
    GetLayerOuterRect(state, layer, on, layer->geometry[2], &x, &y, &w, &h);
    RefreshRect(state, on, x, y, w, h, 0);
  } else {
    RebuildLayerImage(state, layer, 3, on);
  }
}

void EndSelection(vlVMState* state, vlDisplay* d, vlBGPic* pic, int refresh) {
  if (pic->kind == VL_OBJ_LAYER) return EndLayerSelection(state, d, pic);
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
