// Anims as layers: the layer source that hands the redraw engine the frame
// a layer shows, adding an anim layer, and changing its frame. A layer
// keeps its frame (0-based) and frame count in its first two words; a disk
// anim's decoded frame is the layer's own picture.
#include "objects/anims/anim_layer.h"

#include "display/bgpic.h"
#include "display/display.h"
#include "display/layers/anim_layers.h"
#include "display/layers/layers.h"
#include "graphics/bitmap.h"
#include "graphics/position.h"
#include "objects/anims/anim.h"
#include "vm/error_codes.h"

namespace {

int AnimLayerBitmaps(vlVMState* L, vlLayer* layer, int32_t frame, vlBitmap** image, vlBitmap** mask,
                     vlBitmap** alpha, int32_t* width, int32_t* height, uint32_t*) {
  vlAnim* a = nullptr;
  if (int status = GetAnimByID(L, layer->source, &a, VL_ANIM_FINDORPHANS | VL_ANIM_NOLAYERCOPY)) return status;
  if (frame < 0) frame = static_cast<int32_t>(layer->words[0]);
  if (frame >= a->frameCount) frame = 0;
  if (a->disk) return ERR_ANIMDISK;  // its frame is the layer's own picture
  *width = a->width;
  *height = a->height;
  return GetAnimFrameBitmaps(a, frame, 0, 0, image, mask, alpha);
}

const vlLayerSource kAnimLayerSource = {AnimLayerBitmaps, PurgeOrphanAnims};

// A disk anim's frame becomes the layer's private picture.
int LoadLayerFrame(vlAnim* a, vlLayerGeometry* g, int32_t frame) {
  if (!a->disk) return 0;
  vlBitmap *b = nullptr, *m = nullptr, *al = nullptr;
  if (int status = GetAnimFrameBitmaps(a, frame, 0, 0, &b, &m, &al)) return status;
  FreeFrameTriple(g->image, g->mask, g->alpha);
  g->image = b, g->mask = m, g->alpha = al;
  return 0;
}

// Other layers showing the anim besides this one.
bool SharedWithOtherLayers(const vlAnim* a, const vlLayer* self) {
  for (vlBGPic* pic = vlBGPicList; pic; pic = pic->next)
    for (vlNode* node = pic->layers.head; node && node->succ; node = node->succ) {
      auto* l = reinterpret_cast<vlLayer*>(node);
      if (l != self && l->type == VL_LAYER_ANIM && l->source.number == a->idNumber && l->source.handle == a->idHandle)
        return true;
    }
  return false;
}

int ChangeLayerFrames(vlVMState* L, vlLayer* layer, int32_t count, int32_t position) {
  vlAnim* a = nullptr;
  if (int status = GetAnimByID(L, layer->source, &a, VL_ANIM_FINDORPHANS | VL_ANIM_NOLAYERCOPY)) return status;
  if (!a->layerPrivate || SharedWithOtherLayers(a, layer) || !a->orphaned) {
    // The layer's own copy: the script and other layers keep the old frames.
    vlObjectId id{0, reinterpret_cast<void*>(1)};
    vlAnim* copy = nullptr;
    if (int status = CopyAnimForLayer(L, a, &id, &copy)) return status;
    copy->layerPrivate = 1;
    copy->orphaned = 1;  // freed with its last layer
    layer->source = copy->id();
    a = copy;
    PurgeOrphanAnims(L);
  }
  int32_t index = static_cast<int32_t>(layer->words[0]);
  vlBitmap* shown = !a->disk && index < a->frameCount ? a->bitmaps[index] : nullptr;
  if (int status = ChangeAnimFrameCount(L, a->id(), count, position, 1)) return status;
  int32_t found = -1;
  for (int32_t i = 0; shown && i < a->frameCount; ++i)
    if (a->bitmaps[i] == shown) {
      found = i;
      break;
    }
  layer->words[0] = static_cast<uint32_t>(found < 0 ? 0 : found);
  layer->words[1] = static_cast<uint32_t>(a->frameCount);
  layer->words[2] = static_cast<uint32_t>(GetAnimFrameDelay(a, found < 0 ? 0 : found));
  if (found < 0) {
    FreeLayerBitmaps(layer);
    ShowLayerOnDisplay(L, layer, 0);
  }
  return 0;
}

}  // namespace

void RegisterAnimLayerSource() {
  RegisterLayerSource(VL_LAYER_ANIM, &kAnimLayerSource);
  RegisterOrphanPurger(2, PurgeOrphanAnims);
  gAnimLayerOps = {SetAnimLayerFrame, ChangeLayerFrames};
}

void UnregisterAnimLayerSource() {
  RegisterLayerSource(VL_LAYER_ANIM, nullptr);
  RegisterOrphanPurger(2, nullptr);
  gAnimLayerOps = {nullptr, nullptr};
}

int AddAnimLayer(vlVMState* L, vlAnim* a, int32_t x, int32_t y, int32_t frame, int32_t position, vlLayer** out) {
  vlLayerGeometry* g = NewLayerGeometry();
  if (!g) return ERR_MEM;
  g->x = x, g->y = y, g->width = a->width, g->height = a->height;
  if (int status = LoadLayerFrame(a, g, frame)) {
    delete g;
    return status;
  }
  vlBitmap *b = g->image, *m = g->mask, *al = g->alpha;
  g->image = g->mask = g->alpha = nullptr;
  const vlObjectId id = a->id();
  vlLayer* layer = nullptr;
  if (int status = AddLayer(L, VL_LAYER_ANIM, &id, x, y, a->width, a->height, nullptr, nullptr, b, m, al, g,
                            position, 0, &layer))
    return status;
  layer->words[0] = static_cast<uint32_t>(frame);
  layer->words[1] = static_cast<uint32_t>(a->frameCount);
  layer->words[2] = static_cast<uint32_t>(GetAnimFrameDelay(a, frame));
  RefreshArea(L, x, y, a->width, a->height);
  if (out) *out = layer;
  return 0;
}

int SetAnimLayerFrame(vlVMState* L, vlLayer* layer, int32_t x, int32_t y, int32_t frame) {
  if (layer->type != VL_LAYER_ANIM) return ERR_NOANMLAYER;
  vlAnim* a = nullptr;
  if (int status = GetAnimByID(L, layer->source, &a, VL_ANIM_FINDORPHANS | VL_ANIM_NOLAYERCOPY)) return status;
  const int32_t count = a->frameCount;
  int32_t index;
  if (frame == 0)
    index = (static_cast<int32_t>(layer->words[0]) + 1) % count;
  else if (frame == -1)
    index = count - 1;
  else if (frame < 1 || frame > count)
    return ERR_ANIMFRAME;
  else
    index = frame - 1;
  vlLayerGeometry* g = layer->geometry[0];
  if (int status = LoadLayerFrame(a, g, index)) return status;
  layer->words[0] = static_cast<uint32_t>(index);
  layer->words[1] = static_cast<uint32_t>(count);
  layer->words[2] = static_cast<uint32_t>(GetAnimFrameDelay(a, index));
  int32_t ox = 0, oy = 0, ow = 0, oh = 0;
  GetLayerOuterRect(L, layer, layer->geometry[2], &ox, &oy, &ow, &oh);
  if (x != VL_KEEPPOSITION || y != VL_KEEPPOSITION) {
    const int32_t nx = x == VL_KEEPPOSITION ? g->x : x, ny = y == VL_KEEPPOSITION ? g->y : y;
    MoveLayerTo(L, layer, nullptr, nx, ny, 1, 0, nullptr);
    int32_t mx = 0, my = 0, mw = 0, mh = 0;
    GetLayerOuterRect(L, layer, layer->geometry[2], &mx, &my, &mw, &mh);
    RefreshArea(L, mx, my, mw, mh);
  }
  // The picture changed: the cached filtered copies are stale.
  FreeLayerBitmaps(layer);
  RefreshArea(L, ox, oy, ow, oh);
  return 0;
}
