// The per-BGPic layer list and what a layer owns: finding layers by
// position and name, the registered layer sources and orphan purgers, and
// freeing a layer's geometry records and cached pictures. Below the image
// pipeline and the redraw, which use it.
#include <cstdlib>
#include <cstring>
#include <new>
#include <strings.h>

#include "display/bgpic.h"
#include "display/layers/layer_index.h"
#include "display/layers/clip_regions.h"
#include "display/layers/layers.h"
#include "graphics/bitmap.h"
#include "runtime/errors.h"
#include "runtime/object_data.h"
#include "vm/argreaders.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

const vlLayerSource* gSources[48];
void (*gPurgers[5])(vlVMState*);

// The distinct geometry records of a layer.
template <class Fn>
void ForEachDistinct(vlLayer* layer, Fn fn) {
  vlLayerGeometry** g = layer->geometry;
  if (g[0]) fn(g[0]);
  if (g[1] && g[1] != g[0]) fn(g[1]);
  if (g[2] && g[2] != g[0] && g[2] != g[1]) fn(g[2]);
}

}  // namespace

void FreeLayerPictures(vlBitmap** image, vlBitmap** mask, vlBitmap** alpha) {
  if (*image) DeleteBitmap(*image);
  if (*mask) DeleteMaskPlane(*mask);
  if (*alpha) DeleteAlphaPlane(*alpha);
  *image = *mask = *alpha = nullptr;
}

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

namespace {
// The last layer found by position: a loop over the layers by number then
// steps from it instead of walking from the bottom each time. Valid while
// no list changed since.
struct LayerCursor {
  const vlBGPic* pic = nullptr;
  unsigned long long changes = 0;
  int32_t position = 0;
  vlNode* node = nullptr;
};
LayerCursor gCursor;
}  // namespace

vlLayer* GetLayerByPos(vlBGPic* pic, int32_t n) {
  if (!pic || n <= 0) return nullptr;
  vlNode* node = pic->layers.head;
  int32_t at = 1;
  if (gCursor.node && gCursor.pic == pic && gCursor.changes == ListChangeCount()) {
    if (n >= gCursor.position) {
      node = gCursor.node, at = gCursor.position;
    } else if (gCursor.position - n < n) {
      // Back from the cursor: it lies at or after position n, so the walk
      // stays inside the list.
      node = gCursor.node;
      for (at = gCursor.position; at > n; at--) node = node->pred;
    }
  }
  for (; node->succ; node = node->succ, at++)
    if (at == n) {
      gCursor = {pic, ListChangeCount(), n, node};
      return reinterpret_cast<vlLayer*>(node);
    }
  return nullptr;
}

int32_t CountLayers(const vlBGPic* pic) {
  if (!pic) return 0;
  int32_t n = 0;
  for (vlNode* node = pic->layers.head; node->succ; node = node->succ) n++;
  return n;
}

int32_t GetLayerIndex(const vlLayer* layer) { return GetLayerIndexIn(vlCurrentOutput, layer); }

int32_t GetLayerIndexIn(const vlBGPic* pic, const vlLayer* layer) {
  if (!pic) return -1;
  int32_t n = 1;
  for (vlNode* node = pic->layers.head; node->succ; node = node->succ, n++)
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
  FreeLayerPictures(&g->image, &g->mask, &g->alpha);
  FreeLayerPictures(&g->xImage, &g->xMask, &g->xAlpha);
  FreeLayerPictures(&g->fImage, &g->fMask, &g->fAlpha);
  FreeLayerPictures(&g->bImage, &g->bMask, &g->bAlpha);
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
  NoteLayersChanged();
  free(layer->name);
  layer->name = nullptr;
  if (layer->userData) FreeObjectDataList(state, &layer->userData);
}

void FreeLayerBitmaps(vlLayer* layer) {
  ForEachDistinct(layer, [](vlLayerGeometry* g) { FreeLayerPictures(&g->fImage, &g->fMask, &g->fAlpha); });
}
void FreeLayerBorders(vlLayer* layer) {
  ForEachDistinct(layer, [](vlLayerGeometry* g) { FreeLayerPictures(&g->bImage, &g->bMask, &g->bAlpha); });
}
void ReleaseLayerGeometryCaches(vlLayer* layer) {
  ForEachDistinct(layer, [](vlLayerGeometry* g) {
    if (g->shadowAlpha) DeleteAlphaPlane(g->shadowAlpha);
    g->shadowAlpha = nullptr;
  });
}

void FreeOrphanedObjects(vlVMState* state, int32_t mask) {
  for (int i = 0; i < 5; i++)
    if ((mask & (1 << i)) && gPurgers[i]) gPurgers[i](state);
  if (mask & 8) SweepOrphanBGPics(state);
  // Whatever the mask: clip regions freed while a layer drew through them.
  FreeUnusedClipRegions(state);
}

// The checks every layer command makes first.
int CheckLayerCommand() {
  vlDisplay* d = CurrentDisplay();
  if (!d) return ERR_NOLAYERS;
  if (d->outputType == VL_OUTPUT_BRUSH)
    return vlCurrentOutput && vlCurrentOutput->kind == 4 ? ERR_SELECTANIM : ERR_SELECTBRUSH;
  if (d->outputType == VL_OUTPUT_MASK) return ERR_SELECTMASK;
  if (d->outputType == VL_OUTPUT_ALPHA) return ERR_SELECTALPHACHANNEL;
  if (!d->layersOn) return ERR_NOLAYERS;
  return 0;
}

// A layer by position or name; 0 or an error code.
int GetLayerArg(vlVMState* L, int index, vlLayer** out) { return GetLayerArgIn(L, index, vlCurrentOutput, out); }

int GetLayerCommandArgs(vlVMState* L, int first, int count, vlLayer** out) {
  int32_t positions[2];
  if (count < 1 || count > 2) return ERR_WRONGUSAGE;
  for (int i = 0; i < count; i++) {
    int index = first + i;
    int type = vl::GetTypeAt(L, index);
    if (type == VL_TNUMBER) {
      positions[i] = vl::CheckLayerPositionArg(L, index);
    } else if (type == VL_TSTRING) {
      const char* name = vl::ToStringAt(L, index);
      if (!(positions[i] = FindLayerByName(vlCurrentOutput, name))) {
        SetErrorArgument(name);
        return ERR_FINDLAYER;
      }
    } else {
      SetErrorArgIndex(index);
      return ERR_STRORNUM;
    }
  }
  if (int status = CheckLayerCommand()) return status;
  for (int i = 0; i < count; i++)
    if (!(out[i] = GetLayerByPos(vlCurrentOutput, positions[i]))) return ERR_LAYERRANGE;
  return 0;
}

int GetLayerArgIn(vlVMState* L, int index, vlBGPic* pic, vlLayer** out) {
  int type = vl::GetTypeAt(L, index);
  if (type == VL_TNUMBER) {
    *out = GetLayerByPos(pic, vl::CheckLayerPositionArg(L, index));
    return *out ? 0 : ERR_LAYERRANGE;
  }
  if (type == VL_TSTRING) {
    const char* name = vl::ToStringAt(L, index);
    *out = GetLayerByPos(pic, FindLayerByName(pic, name));
    if (*out) return 0;
    SetErrorArgument(name);
    return ERR_FINDLAYER;
  }
  SetErrorArgIndex(index);
  return ERR_STRORNUM;
}
