// Layer records: creation, removal, the per-BGPic list and the release of
// what a layer owns.
#include <cstdlib>
#include <cstring>
#include <new>
#include <strings.h>

#include "display/bgpic.h"
#include "display/layers/async_draw.h"
#include "display/graphics_library/graphics_state.h"
#include "display/layers/layers.h"
#include "display/events/event_buttons.h"
#include "graphics/bitmap.h"
#include "runtime/object_data.h"
#include "display/style_blocks.h"
#include "vm/error_codes.h"

namespace {

// Where the form-style block keeps the shadow and border: after the name
// (64 words), hidden, insert position and transparency.
constexpr size_t kFormShadowWord = 67;
constexpr size_t kFormBorderWord = 75;

const vlLayerSource* gSources[48];
void (*gPurgers[5])(vlVMState*);

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

void FreeTriple(vlBitmap** image, vlBitmap** mask, vlBitmap** alpha) {
  if (*image) DeleteBitmap(*image);
  if (*mask) DeleteMaskPlane(*mask);
  if (*alpha) DeleteAlphaPlane(*alpha);
  *image = *mask = *alpha = nullptr;
}

// The distinct geometry records of a layer.
template <class Fn>
void ForEachDistinct(vlLayer* layer, Fn fn) {
  vlLayerGeometry** g = layer->geometry;
  if (g[0]) fn(g[0]);
  if (g[1] && g[1] != g[0]) fn(g[1]);
  if (g[2] && g[2] != g[0] && g[2] != g[1]) fn(g[2]);
}

}  // namespace

void RegisterLayerSource(uint32_t type, const vlLayerSource* source) {
  if (type >= 3 && type <= 50) gSources[type - 3] = source;
}

const vlLayerSource* FindLayerSource(uint32_t type) {
  return (type >= 3 && type <= 50) ? gSources[type - 3] : nullptr;
}

void RegisterOrphanPurger(uint32_t kindBit, void (*purge)(vlVMState*)) {
  for (int i = 0; i < 5; i++)
    if (kindBit == (1u << i)) gPurgers[i] = purge;
}

void DefaultLayerTransform(vlLayerTransform* t) {
  *t = {};
  t->a = t->d = 1.0;
  t->scaleX = t->scaleY = 1.0;
  t->fixed[0] = t->fixed[3] = 1.0;
  t->derivedScaleX = t->derivedScaleY = 1.0;
}

vlLayerGeometry* NewLayerGeometry() { return new (std::nothrow) vlLayerGeometry{}; }

vlLayer* GetLayerByPos(vlBGPic* pic, int32_t n) {
  if (!pic || n <= 0) return nullptr;
  for (vlNode* node = pic->layers.head; node->succ; node = node->succ)
    if (--n == 0) return reinterpret_cast<vlLayer*>(node);
  return nullptr;
}

int32_t CountLayers(const vlBGPic* pic) {
  if (!pic) return 0;
  int32_t n = 0;
  for (vlNode* node = pic->layers.head; node->succ; node = node->succ) n++;
  return n;
}

int32_t GetLayerIndex(const vlLayer* layer) {
  if (!vlCurrentOutput) return -1;
  int32_t n = 1;
  for (vlNode* node = vlCurrentOutput->layers.head; node->succ; node = node->succ, n++)
    if (reinterpret_cast<vlLayer*>(node) == layer) return n;
  return -1;
}

int32_t FindLayerByName(vlBGPic* pic, const char* name) {
  if (!pic || !name) return 0;
  int32_t n = 1;
  for (vlNode* node = pic->layers.head; node->succ; node = node->succ, n++) {
    vlLayer* l = reinterpret_cast<vlLayer*>(node);
    if (l->name && strcasecmp(l->name, name) == 0) return n;
  }
  return 0;
}

int SetLayerNameFromStyle(vlLayer* layer, const char* name) {
  size_t length = name ? strlen(name) : 0;
  if (length == 0 || length > 256) return ERR_NAMETOOLONG;
  if (vlCurrentOutput) {
    for (vlNode* node = vlCurrentOutput->layers.head; node->succ; node = node->succ) {
      vlLayer* l = reinterpret_cast<vlLayer*>(node);
      if ((l->name && strcasecmp(l->name, name) == 0) || strcasecmp(l->group, name) == 0) return kErrLayerNameUsed;
    }
  }
  char* copy = static_cast<char*>(malloc(length + 1));
  if (!copy) return ERR_MEM;
  memcpy(copy, name, length + 1);
  free(layer->name);
  layer->name = copy;
  return 0;
}

void FreeLayerGeometry(vlVMState*, uint32_t type, vlLayerGeometry* g) {
  if (!g || type == VL_LAYER_NOOBJECT) return;
  FreeTriple(&g->image, &g->mask, &g->alpha);
  FreeTriple(&g->xImage, &g->xMask, &g->xAlpha);
  FreeTriple(&g->fImage, &g->fMask, &g->fAlpha);
  FreeTriple(&g->bImage, &g->bMask, &g->bAlpha);
  if (g->shadowAlpha) DeleteAlphaPlane(g->shadowAlpha);
  g->shadowAlpha = nullptr;
  // A script's clip region is shared and stays; a transformed copy made
  // for this record goes with it.
  ReleaseClipRegionCopy(g->clipRegion);
  g->clipRegion = nullptr;
  const vlLayerSource* source = FindLayerSource(type);
  if (source && source->freeGeometry)
    source->freeGeometry(g);
  else
    delete g;
}

void ReleaseLayerSource(vlVMState* state, vlLayer* layer) {
  vlLayerGeometry* g0 = layer->geometry[0];
  vlLayerGeometry* g1 = layer->geometry[1];
  vlLayerGeometry* g2 = layer->geometry[2];
  if (g2 && g2 != g1 && g2 != g0) FreeLayerGeometry(state, layer->type, g2);
  if (g1 && g1 != g0) FreeLayerGeometry(state, layer->type, g1);
  if (g0) FreeLayerGeometry(state, layer->type, g0);
  layer->geometry[0] = layer->geometry[1] = layer->geometry[2] = nullptr;
  free(layer->name);
  layer->name = nullptr;
  if (layer->userData) FreeObjectDataList(state, &layer->userData);
}

void FreeLayerBitmaps(vlLayer* layer) {
  ForEachDistinct(layer, [](vlLayerGeometry* g) { FreeTriple(&g->fImage, &g->fMask, &g->fAlpha); });
}
void FreeLayerBorders(vlLayer* layer) {
  ForEachDistinct(layer, [](vlLayerGeometry* g) { FreeTriple(&g->bImage, &g->bMask, &g->bAlpha); });
}
void ReleaseLayerGeometryCaches(vlLayer* layer) {
  ForEachDistinct(layer, [](vlLayerGeometry* g) {
    if (g->shadowAlpha) DeleteAlphaPlane(g->shadowAlpha);
    g->shadowAlpha = nullptr;
  });
}

void CopyLayerAttributes(vlLayer* dst, const vlLayer* src) {
  dst->hidden = src->hidden;
  dst->transparency = src->transparency;
  dst->shadow = src->shadow;
  dst->shadowFade = src->shadowFade;
  dst->border = src->border;
  dst->borderFade = src->borderFade;
  dst->geometricFilters = src->geometricFilters;
  memcpy(dst->filters, src->filters, sizeof dst->filters);
}

void FreeOrphanedObjects(vlVMState* state, int32_t mask) {
  for (int i = 0; i < 5; i++)
    if ((mask & (1 << i)) && gPurgers[i]) gPurgers[i](state);
  if (mask & 8) SweepOrphanBGPics(state);
  // Whatever the mask: clip regions freed while a layer drew through them.
  FreeUnusedClipRegions(state);
}

namespace {

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
    FreeTriple(&i, &m, &a);
    if (g) FreeLayerGeometry(state, type, g);
    return pic ? ERR_MEM : ERR_WRONGUSAGE;
  }
  auto* layer = new (std::nothrow) vlLayer{};
  g->image = image;
  g->mask = mask;
  g->alpha = alpha;
  if (!layer) return FailAdd(state, nullptr, g, ERR_MEM);
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
  vlDisplay* d = vlCurrentDisplay;
  layer->drawnDuringSelection =
      !layer->hidden && d && d->outputType == VL_OUTPUT_BGPIC && d->bgpic == pic ? 1 : 0;
  layer->geometry[0] = layer->geometry[1] = layer->geometry[2] = g;
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
  } else if ((flags & VL_ADDLAYER_DISPLAYSCALED) && DisplayScalesLayers(d) && d->bgpic == pic) {
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
      }
      if (flags & VL_ADDLAYER_KEEPFILTERS) {
        layer->geometricFilters = old->geometricFilters;
        memcpy(layer->filters, old->filters, sizeof layer->filters);
        PrepareFilteredImage(state, layer, layer->geometry[0], 0);
      }
      MoveLayerButtons(old, layer);
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
  DeleteButtonsOfLayer(state, layer);
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
    DeleteButtonsOfLayer(state, layer);
    delete layer;
  }
  if (freeOrphans) FreeOrphanedObjects(state, 31);
}

vlLayerVideoPlayingFn gLayerVideoPlaying = nullptr;
