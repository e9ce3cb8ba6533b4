// Layer records: adding a layer (with its transformed and display-scaled
// pictures made and shown) and deleting one or all of a BGPic's layers.
#include <cstdlib>
#include <cstring>
#include <new>
#include <strings.h>

#include "display/bgpic.h"
#include "display/layers/layer_index.h"
#include "display/layers/async_draw.h"
#include "display/layer_hooks.h"
#include "display/layers/clip_regions.h"
#include "display/layers/layers.h"
#include "graphics/bitmap.h"
#include "runtime/object_data.h"
#include "display/style_blocks.h"
#include "vm/error_codes.h"

namespace {

// Where the form-style block keeps the shadow and border: after the name
// (64 words), hidden, insert position and transparency.
constexpr size_t kFormShadowWord = 67;
constexpr size_t kFormBorderWord = 75;

// Which object kinds may be orphaned when a layer of the type (3..50) goes.
constexpr int32_t OrphanMask(uint32_t type) {
  switch (type) {
    case VL_LAYER_BRUSH:
    case VL_LAYER_BRUSHPART:
      return 1;
    case VL_LAYER_ANIM:
      return 2;
    case VL_LAYER_TEXTOBJECT:
      return 4;
    case VL_LAYER_BGPICPART:
      return 8;
    case VL_LAYER_VIDEO:
      return 16;
    default:
      return 0;
  }
}

vlNode* AsNode(vlLayer* layer) { return reinterpret_cast<vlNode*>(layer); }


bool AnyGeometricFilter(const vlLayerFilter* f) {
  for (int i = 0; i < VL_LAYER_FILTERS; i++)
    if (f[i].active && IsGeometricFilter(i)) return true;
  return false;
}

void Unlink(vlLayer* layer) { RemoveListNode(AsNode(layer)); }

int FailAdd(vlVMState* state, vlLayer* layer, vlLayerGeometry* g, int code) {
  FreeLayerGeometry(state, layer ? layer->type : 0, g);
  if (layer) {
    free(layer->name);
    delete layer;
  }
  return code;
}

}  // namespace

int AddLayer(vlVMState* state, uint32_t type, const vlObjectId* source, int32_t x, int32_t y, int32_t width,
             int32_t height, const vlLayerTransform* transform, vlLayerOptions* options, vlBitmap* image,
             vlBitmap* mask, vlBitmap* alpha, vlLayerGeometry* g, int32_t position, uint32_t flags,
             vlLayer** result) {
  vlBGPic* pic = vlCurrentOutput;
  if (!g || !pic) {
    vlBitmap* i = image;
    vlBitmap* m = mask;
    vlBitmap* a = alpha;
    FreeLayerPictures(&i, &m, &a);
    if (g) FreeLayerGeometry(state, type, g);
    return pic ? ERR_MEM : ERR_WRONGUSAGE;
  }
  auto* layer = new (std::nothrow) vlLayer{};
  g->image = image;
  g->mask = mask;
  g->alpha = alpha;
  if (!layer) return FailAdd(state, nullptr, g, ERR_MEM);
  g->x = FarPosition(g->x), g->y = FarPosition(g->y);
  x = FarPosition(x), y = FarPosition(y);
  g->anchoredX = g->x;
  g->anchoredY = g->y;
  g->drawnX = x;
  g->drawnY = y;
  g->drawnWidth = width;
  g->drawnHeight = height;

  if (options) {
    layer->transparency = options->transparency;
    layer->shadow = options->shadow;
    layer->border = options->border;
    memcpy(layer->filters, options->filters, sizeof layer->filters);
    layer->geometricFilters = AnyGeometricFilter(layer->filters);
    if (options->hidden) flags |= VL_ADDLAYER_HIDDEN;
    if (options->name[0]) {
      layer->type = type;
      if (int status = SetLayerNameFromStyle(layer, options->name)) return FailAdd(state, layer, g, status);
    }
    if (options->insertPos > 0) {
      int32_t count = CountLayers(pic);
      if (count > 0 && options->insertPos > count + 1) options->insertPos = count + 1;
      position = options->insertPos;
    }
  } else {
    // Shadow and border as the graphics library's form style sets them.
    static_assert(sizeof(vlLayerShadow) == 8 * sizeof(uint32_t) && sizeof(vlLayerBorder) == 3 * sizeof(uint32_t));
    memcpy(&layer->shadow, &vlCurrentFormStyle.words[kFormShadowWord], sizeof layer->shadow);
    memcpy(&layer->border, &vlCurrentFormStyle.words[kFormBorderWord], sizeof layer->border);
  }
  layer->type = type;
  layer->hidden = flags & VL_ADDLAYER_HIDDEN ? 1 : 0;
  vlDisplay* d = CurrentDisplay();
  layer->drawnDuringSelection =
      !layer->hidden && d && d->outputType == VL_OUTPUT_BGPIC && d->bgpic == pic ? 1 : 0;
  layer->geometry[0] = layer->geometry[1] = layer->geometry[2] = g;
  NoteLayersChanged();
  if (!(flags & VL_ADDLAYER_REPLACE)) g->clipRegion = pic->clipRegion;
  pic->changed = 1;

  if (transform) {
    layer->transform = *transform;
    layer->anchorX = transform->anchorX;
    layer->anchorY = transform->anchorY;
    if (type != VL_LAYER_LINE) {
      g->anchoredX = g->x - static_cast<int32_t>(layer->anchorX * g->width);
      g->anchoredY = g->y - static_cast<int32_t>(layer->anchorY * g->height);
      g->drawnX = g->anchoredX + (x - g->x);
      g->drawnY = g->anchoredY - (g->y - y);
    }
  } else {
    DefaultLayerTransform(&layer->transform);
  }
  if (source) layer->source = layer->creationId = *source;

  // Link: -1 on top, n after the (n-1)-th layer (on top when there are fewer).
  vlLayer* after = nullptr;
  if (position == 1) {
    AddListHead(&pic->layers, AsNode(layer));
  } else if (position > 1 && (after = GetLayerByPos(pic, position - 1)) != nullptr) {
    InsertListNode(&pic->layers, AsNode(layer), AsNode(after));
  } else {
    AddListTail(&pic->layers, AsNode(layer));
  }

  vlLayer* old = nullptr;
  if (flags & VL_ADDLAYER_REPLACE) {
    old = layer->next && reinterpret_cast<vlNode*>(layer->next)->succ ? layer->next : nullptr;
    flags |= VL_ADDLAYER_REPLACING;
    if (old) {
      g->clipRegion = old->geometry[0] ? old->geometry[0]->clipRegion : nullptr;
      layer->clipUntransformed = old->clipUntransformed;
    }
  }
  // Transformed and display-scaled pictures are made now.
  if (!IsIdentityTransform(&layer->transform)) {
    if (int status = RebuildLayerImage(state, layer, 2)) {
      Unlink(layer);
      return FailAdd(state, layer, g, status);
    }
    flags &= ~VL_ADDLAYER_DISPLAYSCALED;
  } else if ((flags & VL_ADDLAYER_DISPLAYSCALED) && DisplayScalesLayers(d) && DisplayDrawsBGPic(d, pic)) {
    if (int status = RebuildLayerImage(state, layer, (flags & VL_ADDLAYER_REPLACING) ? 7 : 5)) {
      Unlink(layer);
      return FailAdd(state, layer, g, status);
    }
  }
  if (old) {
    {
      layer->userData = old->userData;
      old->userData = nullptr;
      if (flags & VL_ADDLAYER_KEEPPOS) {
        for (int i = 0; i < 3; i++) {
          vlLayerGeometry* n = layer->geometry[i];
          const vlLayerGeometry* o = old->geometry[i];
          if (!n || !o) continue;
          n->x = o->x;
          n->y = o->y;
          n->anchoredX = o->anchoredX;
          n->anchoredY = o->anchoredY;
          n->drawnX = o->drawnX;
          n->drawnY = o->drawnY;
        }
        NoteLayersChanged();
      }
      if (flags & VL_ADDLAYER_KEEPFILTERS) {
        layer->geometricFilters = old->geometricFilters;
        memcpy(layer->filters, old->filters, sizeof layer->filters);
        PrepareFilteredImage(state, layer, layer->geometry[0], 0);
      }
      gLayerHooks.moveLayerButtons(old, layer);
      // Drawing objects that hold the old layer go on with the new one.
      BroadcastAsyncDraw(0, old);
      DeleteLayer(state, old, 1, nullptr, nullptr, nullptr, nullptr, nullptr, 0);
    }
  }

  // Showing a new layer is this routine's job alone, for every kind of
  // object and display: the commands that add layers never draw them, so a
  // layer is neither drawn twice (blended twice when transparent) nor left
  // undrawn. A replacement is shown by its caller.
  if (!(flags & (VL_ADDLAYER_REPLACE | VL_ADDLAYER_NOSHOW)) && !layer->hidden) ShowLayerOnDisplay(state, layer, 0);
  if (result) *result = layer;
  return 0;
}

void DeleteLayer(vlVMState* state, vlLayer* layer, int noRefresh, int32_t* outX, int32_t* outY, int32_t* outWidth,
                 int32_t* outHeight, vlDirtyRects* dirty, int stopMedia) {
  if (!layer) return;
  if (outX || outY || outWidth || outHeight) {
    int32_t rx = 0, ry = 0, rw = 0, rh = 0;
    if (layer->geometry[2]) GetLayerOuterRect(state, layer, layer->geometry[2], &rx, &ry, &rw, &rh);
    if (outX) *outX = rx;
    if (outY) *outY = ry;
    if (outWidth) *outWidth = rw;
    if (outHeight) *outHeight = rh;
  }
  uint32_t type = layer->type;
  if (!noRefresh && type != VL_LAYER_NOOBJECT && !layer->hidden) {
    // The redraw must leave the layer out.
    int32_t rx, ry, rw, rh;
    GetLayerOuterRect(state, layer, layer->geometry[2], &rx, &ry, &rw, &rh);
    layer->type = VL_LAYER_NOOBJECT;
    if (dirty)
      AddDirtyRect(dirty, rx, ry, rw, rh, 1);
    else
      RefreshArea(state, rx, ry, rw, rh);
    layer->type = type;
  }
  if (stopMedia) StopLayerVideo(state, layer);
  ReleaseLayerSource(state, layer);
  gLayerHooks.deleteLayerButtons(state, layer);
  FreeObjectDataList(state, &layer->userData);
  Unlink(layer);
  delete layer;
  FreeOrphanedObjects(state, type >= 3 && type <= 50 ? OrphanMask(type) : 0);
}

void StopLayerVideo(vlVMState* state, vlLayer* layer) {
  if (layer->type != VL_LAYER_VIDEO) return;
  const vlLayerSource* source = FindLayerSource(VL_LAYER_VIDEO);
  if (source && source->control) source->control(state, layer, VL_LAYERVIDEO_STOP, 0);
}

void FreeBGPicLayers(vlVMState* state, vlBGPic* pic, int freeOrphans, int) {
  if (!pic) return;
  while (vlNode* node = RemoveListHead(&pic->layers)) {
    auto* layer = reinterpret_cast<vlLayer*>(node);
    if (layer->type != VL_LAYER_NOOBJECT) StopLayerVideo(state, layer);
    if (layer->type != VL_LAYER_NOOBJECT) ReleaseLayerSource(state, layer);
    gLayerHooks.deleteLayerButtons(state, layer);
    FreeObjectDataList(state, &layer->userData);
    delete layer;
  }
  if (freeOrphans) FreeOrphanedObjects(state, 31);
}

vlLayerVideoPlayingFn gLayerVideoPlaying = nullptr;
