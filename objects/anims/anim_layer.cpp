// Anims as layers: the layer source that hands the layer engine the frame a
// layer shows (the frame index is the geometry's part x, as the style
// engine keeps it), inserting anim layers, blank anim layers, private
// copies, and changing the frames of a layer's anim.
#include "objects/anims/anim_layer.h"

#include <cstdlib>

#include "display/bgpic.h"
#include "display/display.h"
#include "display/commands/anim_layers.h"
#include "display/layers/layers.h"
#include "graphics/bitmap.h"
#include "graphics/position.h"
#include "objects/anims/anim.h"
#include "vm/error_codes.h"

namespace {

// The last frame decoded for layers from each disk anim; layers use the
// pictures at once, so one frame per anim is enough.
struct DiskFrame {
  vlAnim* anim = nullptr;
  int32_t index = -1;
  vlBitmap *bitmap = nullptr, *mask = nullptr, *alpha = nullptr;
};
DiskFrame gDiskFrame;

void DropDiskFrame() {
  FreeFrameTriple(gDiskFrame.bitmap, gDiskFrame.mask, gDiskFrame.alpha);
  gDiskFrame = DiskFrame{};
}

int AnimLayerBitmaps(vlVMState* L, vlLayer* layer, int32_t frame, vlBitmap** image, vlBitmap** mask,
                     vlBitmap** alpha, int32_t* width, int32_t* height, uint32_t* extra) {
  vlAnim* a = nullptr;
  if (int status = GetAnimByID(L, layer->source, &a, VL_ANIM_FINDORPHANS | VL_ANIM_NOLAYERCOPY)) return status;
  if (frame < 0) frame = layer->geometry[0] ? layer->geometry[0]->partX : 0;
  if (frame < 0 || frame >= a->frameCount) frame = 0;
  *width = a->width;
  *height = a->height;
  if (extra) *extra = static_cast<uint32_t>(a->frameCount);
  if (!a->disk) return GetAnimFrameBitmaps(a, frame, 0, 0, image, mask, alpha);
  if (gDiskFrame.anim != a || gDiskFrame.index != frame) {
    DropDiskFrame();
    vlBitmap *b = nullptr, *m = nullptr, *al = nullptr;
    if (int status = GetAnimFrameBitmaps(a, frame, 0, 0, &b, &m, &al)) return status;
    gDiskFrame = {a, frame, b, m, al};
  }
  *image = gDiskFrame.bitmap, *mask = gDiskFrame.mask, *alpha = gDiskFrame.alpha;
  return 0;
}

void PurgeAnims(vlVMState* L) {
  // A purged disk anim must not leave its frame behind.
  DropDiskFrame();
  PurgeOrphanAnims(L);
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

void SetLayerFrameIndex(vlLayer* layer, int32_t index) {
  for (vlLayerGeometry* g : layer->geometry)
    if (g) g->partX = index;
}

// The layer's own copy of its anim, flagged to go with its last layer.
int MakePrivate(vlVMState* L, vlLayer* layer) {
  vlAnim* a = nullptr;
  if (int status = GetAnimByID(L, layer->source, &a, VL_ANIM_FINDORPHANS | VL_ANIM_NOLAYERCOPY)) return status;
  if (a->layerPrivate && a->orphaned && !SharedWithOtherLayers(a, layer)) return 0;
  vlObjectId id{0, reinterpret_cast<void*>(1)};
  vlAnim* copy = nullptr;
  if (int status = CopyAnimForLayer(L, a, &id, &copy)) return status;
  copy->layerPrivate = 1;
  copy->orphaned = 1;
  layer->source = copy->id();
  PurgeAnims(L);
  return 0;
}

int ChangeLayerFrames(vlVMState* L, vlLayer* layer, int32_t count, int32_t position) {
  if (int status = MakePrivate(L, layer)) return status;
  vlAnim* a = nullptr;
  if (int status = GetAnimByID(L, layer->source, &a, VL_ANIM_FINDORPHANS | VL_ANIM_NOLAYERCOPY)) return status;
  const int32_t index = layer->geometry[0] ? layer->geometry[0]->partX : 0;
  vlBitmap* shown = !a->disk && index >= 0 && index < a->frameCount ? a->bitmaps[index] : nullptr;
  if (int status = ChangeAnimFrameCount(L, a->id(), count, position, 1)) return status;
  int32_t found = -1;
  for (int32_t i = 0; shown && i < a->frameCount; ++i)
    if (a->bitmaps[i] == shown) {
      found = i;
      break;
    }
  SetLayerFrameIndex(layer, found < 0 ? 0 : found);
  FreeLayerBitmaps(layer);
  if (found < 0) ShowLayerOnDisplay(L, layer, 0);
  return 0;
}

int CheckDrawableLayer(vlVMState* L, vlLayer* layer) {
  vlAnim* a = nullptr;
  if (int status = GetAnimByID(L, layer->source, &a, VL_ANIM_FINDORPHANS | VL_ANIM_NOLAYERCOPY)) return status;
  return a->disk ? ERR_ANIMDISK : 0;
}

int InsertAnimLayer(vlVMState* L, vlObjectId id, int32_t x, int32_t y, int32_t position, uint32_t flags,
                    vlLayer** out) {
  vlAnim* a = nullptr;
  if (int status = GetAnimByID(L, id, &a, 0)) return status;
  x = ResolvePosX(x, a->width, 0, 0);
  y = ResolvePosY(y, a->height, 0, 0);
  return AddAnimLayerFlags(L, a, x, y, 0, position, flags, out);
}

int CreateBlankAnimLayer(vlVMState* L, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t color, int mask,
                         int alpha, int clear, int32_t frames, vlLayer** out) {
  if (width < 1 || height < 1 || frames < 1) return ERR_WRONGUSAGE;
  auto** b = static_cast<vlBitmap**>(std::calloc(frames, sizeof(vlBitmap*)));
  auto** m = static_cast<vlBitmap**>(std::calloc(frames, sizeof(vlBitmap*)));
  auto** al = static_cast<vlBitmap**>(std::calloc(frames, sizeof(vlBitmap*)));
  auto** p = static_cast<uint32_t**>(std::calloc(frames, sizeof(uint32_t*)));
  int status = b && m && al && p ? 0 : ERR_MEM;
  for (int32_t i = 0; i < frames && !status; ++i) {
    if (!(b[i] = NewBitmap(width, height, 0, nullptr))) {
      status = ERR_BITMAP;
      break;
    }
    FillBitmapRect(b[i], 0, 0, width, height, color);
    if (mask) {
      if (!(m[i] = NewMaskPlane(b[i], width, height, 1, nullptr, 0)))
        status = ERR_ALLOCMASK;
      else if (!clear)
        FillMaskRect(m[i], 0, 0, width, height, 0);
    } else if (alpha) {
      if (!(al[i] = NewAlphaPlane(width, height, 1, nullptr, 0)))
        status = ERR_ALLOCALPHA;
      else if (!clear)
        FillAlphaRect(al[i], 0, 0, width, height, 255);
    }
  }
  int32_t* delays = status ? nullptr : static_cast<int32_t*>(std::malloc(sizeof(int32_t) * frames));
  if (!status && !delays) status = ERR_MEM;
  vlAnim* a = nullptr;
  vlObjectId id{0, reinterpret_cast<void*>(1)};
  // Masks made here have no colour key of their own: the anim gets the one
  // blank brushes get.
  if (!status) status = AddAnim(&id, width, height, p, b, m, al, frames, mask ? 0xAFC0DE : -1, 0, 0, 0, &a);
  if (status) {
    for (int32_t i = 0; b && m && al && i < frames; ++i) FreeFrameTriple(b[i], m[i], al[i]);
    std::free(b), std::free(m), std::free(al), std::free(p), std::free(delays);
    return status;
  }
  for (int32_t i = 0; i < frames; ++i) delays[i] = -1;
  a->delays = delays;
  a->layerPrivate = 1;
  a->orphaned = 1;  // the anim goes with its layer
  return AddAnimLayer(L, a, x, y, 0, -1, out);
}

// A frame of an anim shown on the drawing target.
int AnimPictures(vlVMState* L, uint32_t, vlObjectId id, int32_t frame, int orphans, vlShownObject* shown) {
  vlDisplay* d = CurrentDisplay();
  vlAnim* a = nullptr;
  if (int status = GetAnimByID(L, id, &a, orphans ? uint32_t{VL_ANIM_FINDORPHANS} : 0u)) return status;
  if (d && IsActiveAnim(a) && vlCurrentOutput->selectIndex == frame) LeaveSelectMode(L, d, 0);
  if (frame < 0 || frame >= a->frameCount) return ERR_ANIMFRAME;
  if (int status = GetAnimFrameBitmaps(a, frame, 0, 0, &shown->image, &shown->mask, &shown->alpha)) return status;
  // A disk anim's frame is decoded for this draw alone.
  shown->owned = a->disk != 0;
  shown->objWidth = shown->width = a->width;
  shown->objHeight = shown->height = a->height;
  shown->sourceId = a->id();
  return 0;
}

vlLayerSource MakeAnimLayerSource() {
  vlLayerSource s{};
  s.objectPictures = AnimPictures;
  s.getBitmaps = AnimLayerBitmaps;
  s.purgeOrphans = PurgeAnims;
  s.insert = InsertAnimLayer;
  s.makePrivate = MakePrivate;
  s.createBlank = CreateBlankAnimLayer;
  return s;
}
const vlLayerSource kAnimLayerSource = MakeAnimLayerSource();

}  // namespace

void RegisterAnimLayerSource() {
  RegisterLayerSource(VL_LAYER_ANIM, &kAnimLayerSource);
  RegisterOrphanPurger(2, PurgeAnims);
  gAnimLayerOps = {ChangeLayerFrames, CheckDrawableLayer};
}

void UnregisterAnimLayerSource() {
  DropDiskFrame();
  RegisterLayerSource(VL_LAYER_ANIM, nullptr);
  RegisterOrphanPurger(2, nullptr);
  gAnimLayerOps = {nullptr, nullptr};
}

void ForgetAnimLayerFrame(const vlAnim* anim) {
  if (gDiskFrame.anim == anim) DropDiskFrame();
}

int AddAnimLayerFlags(vlVMState* L, vlAnim* a, int32_t x, int32_t y, int32_t frame, int32_t position, uint32_t flags,
                      vlLayer** out, const vlLayerTransform* transform) {
  vlLayerGeometry* g = NewLayerGeometry();
  if (!g) return ERR_MEM;
  g->x = x, g->y = y, g->width = a->width, g->height = a->height;
  g->partX = frame;
  const vlObjectId id = a->id();
  vlLayer* layer = nullptr;
  if (int status = AddLayer(L, VL_LAYER_ANIM, &id, x, y, a->width, a->height, transform, nullptr, nullptr, nullptr,
                            nullptr, g, position, flags, &layer))
    return status;
  if (out) *out = layer;
  return 0;
}

int AddAnimLayer(vlVMState* L, vlAnim* a, int32_t x, int32_t y, int32_t frame, int32_t position, vlLayer** out) {
  return AddAnimLayerFlags(L, a, x, y, frame, position, 0, out);
}

int SetAnimLayerFrame(vlVMState* L, vlLayer* layer, int32_t x, int32_t y, int32_t frame) {
  if (layer->type != VL_LAYER_ANIM) return ERR_NOANMLAYER;
  return ApplyLayerPosFrame(L, layer, x, y, frame, 0);
}
