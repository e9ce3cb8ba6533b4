// The "sprite" command library: creating, loading, copying, flipping,
// scaling, showing, moving and removing sprites.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "display/bgpic.h"
#include "display/display.h"
#include "display/layer_hooks.h"
#include "display/layers/batched_refresh.h"
#include "display/layers/layers.h"
#include "display/layers/sprite_redraw.h"
#include "formats/anim_source.h"
#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "graphics/effect_engines.h"
#include "graphics/geometry.h"
#include "graphics/picture_engines.h"
#include "graphics/position.h"
#include "objects/anims/anim.h"
#include "objects/sprites/sprite.h"
#include "runtime/os.h"
#include "runtime/error_vm.h"
#include "runtime/errors.h"
#include "runtime/object_data.h"
#include "runtime/option_readers.h"
#include "vm/argreaders.h"
#include "vm/auxlib.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

vlSpriteNode** NodeLink(vlSprite* s) {
  vlDisplay* d = CurrentDisplay();
  if (!d || !d->bgpic) return nullptr;
  for (auto** link = reinterpret_cast<vlSpriteNode**>(&d->bgpic->sprites); *link; link = &(*link)->next)
    if ((*link)->sprite == s) return link;
  return nullptr;
}

// On screen on any BGPic: another display's shows it as well.
bool OnAnyScreen(const vlSprite* s) {
  for (const vlBGPic* pic = vlBGPicList; pic; pic = pic->next)
    for (auto* n = static_cast<const vlSpriteNode*>(pic->sprites); n; n = n->next)
      if (n->sprite == s) return true;
  return false;
}

bool UsedByLink(const vlSprite* s) {
  for (vlSprite* p = vlSpriteList; p; p = p->next)
    for (vlSprite** c = p->components; c && *c; ++c)
      if (*c == s) return true;
  return false;
}

// Refreshes the rectangle on the current display (the BGPic, its layers
// and the sprites), together with the other moves of the batch; a sprite
// that moves names itself.
void Refresh(vlVMState* L, int32_t x, int32_t y, int32_t w, int32_t h, const vlSprite* mover = nullptr) {
  RefreshRectBatched(L, mover, x, y, w, h);
}

int FindModifiable(vlVMState* L, int index, vlSprite** out) {
  vlObjectId id;
  GetObjectIDArg(&id, L, index);
  vlSprite* s = nullptr;
  // Being on screen is named before a lock: a moving sprite is both.
  if (int status = GetSpriteByID(L, id, &s, 0)) return status;
  if (OnAnyScreen(s)) return ERR_MODIFYSPRITE;
  if (int status = GetSpriteByID(L, id, &s, 1)) return status;
  if (s->components || UsedByLink(s)) return ERR_MODIFYSPRITE2;
  *out = s;
  return 0;
}

int CmdCreateSprite(vlVMState* L) {
  CheckArgs(L, 3, 9, 0, 0);
  vlObjectId id, sourceId;
  const int automatic = GetObjectIDArgOpt(&id, L, 1);
  const int32_t kind = vl::CheckIntArg(L, 2);
  if (!automatic) FreeSpriteByID(L, id);
  vlAnimRequest r{};
  r.newId = &id;
  r.targetKind = VL_KIND_SPRITE;
  r.transparentColor = -1;
  r.argCount = vl::GetStackTop(L);
  if (kind == VL_KIND_SPRITE) {
    r.sourceKind = VL_KIND_SPRITE;
    r.firstSpriteArg = 3;
  } else {
    GetObjectIDArg(&sourceId, L, 3);
    r.sourceId = &sourceId;
    r.sourceKind = static_cast<uint32_t>(kind);
    if (kind == VL_KIND_BRUSH) {
      r.frameWidth = vl::OptIntArg(L, 4, 0);
      r.frameHeight = vl::OptIntArg(L, 5, 0);
      r.frameCount = vl::OptIntArg(L, 6, 0);
      r.framesPerRow = vl::OptIntArg(L, 7, 0);
      r.startX = vl::OptIntArg(L, 8, 0);
      r.startY = vl::OptIntArg(L, 9, 0);
      if (r.argCount >= 4) r.argCount = 7;
    }
  }
  if (int status = CreateAnimObject(L, &r)) return status;
  if (!automatic) return 0;
  vl::PushPointer(L, r.result);
  return 1;
}

int CmdLoadSprite(vlVMState* L) {
  CheckArgs(L, 2, 3, 0, 0);
  return LoadAnimObject(L, VL_KIND_SPRITE);
}

int CmdDisplaySprite(vlVMState* L) {
  CheckArgs(L, 3, 4, 0, 0);
  if (int status = CheckSpriteDisplayState()) return status;
  vlObjectId id;
  GetObjectIDArg(&id, L, 1);
  vlSprite* s = nullptr;
  if (int status = GetSpriteByID(L, id, &s, 0)) return status;
  const int32_t frame = vl::OptIntArg(L, 4, 0);
  if (frame < 0 || frame > s->frameCount) return ERR_ANIMFRAME;
  const int32_t x = ResolvePosX(vl::CheckIntArg(L, 2), s->width, 0, 0);
  const int32_t y = ResolvePosY(vl::CheckIntArg(L, 3), s->height, 0, 0);
  return PlaceSprite(L, s, x, y, frame);
}

int CmdRemoveSprite(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  if (int status = CheckSpriteDisplayState()) return status;
  vlObjectId id;
  GetObjectIDArg(&id, L, 1);
  vlSprite* s = nullptr;
  if (int status = GetSpriteByID(L, id, &s, 1)) return status;
  if (!RemoveSpriteFromScreen(L, s)) return FindSpriteOnScreen(id, nullptr);
  return 0;
}

int CmdRemoveSprites(vlVMState* L) {
  CheckArgs(L, 0, 1, 0, 0);
  if (int status = CheckSpriteDisplayState()) return status;
  const int keep = vl::OptIntArg(L, 1, 0);
  vlDisplay* d = CurrentDisplay();
  vlBGPic* pic = d->bgpic;
  for (auto* n = static_cast<vlSpriteNode*>(pic->sprites); n; n = n->next)
    if (n->sprite && n->sprite->locked) return ERR_LOCKEDOBJ;
  if (keep) {
    // The sprites become part of the picture under them.
    Refresh(L, 0, 0, pic->width, pic->height);
    if (d->back && d->front && d->back != d->front)
      BltBitmap(d->back, 0, 0, d->front, 0, 0, std::min(pic->width, d->front->width),
                std::min(pic->height, d->front->height));
  }
  // Nodes of playing videos stay: their players keep pointers to them.
  auto** link = reinterpret_cast<vlSpriteNode**>(&pic->sprites);
  std::vector<vlSpriteNode*> removed;
  while (*link) {
    vlSpriteNode* n = *link;
    if (n->owner) {
      link = &n->next;
      continue;
    }
    *link = n->next;
    removed.push_back(n);
  }
  if (!keep)
    for (vlSpriteNode* n : removed) Refresh(L, n->x, n->y, n->width, n->height);
  for (vlSpriteNode* n : removed) delete n;
  return 0;
}

int CmdFreeSprite(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  vlObjectId id;
  GetObjectIDArg(&id, L, 1);
  vlSprite* s = nullptr;
  if (int status = GetSpriteByID(L, id, &s, 1)) return status;
  return FreeSpriteByID(L, id);
}

int CmdFlipSprite(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  vlSprite* s = nullptr;
  if (int status = FindModifiable(L, 1, &s)) return status;
  const int32_t direction = vl::CheckIntArg(L, 2);
  for (int32_t i = 0; i < s->frameCount; ++i)
    if (int status = FlipBitmap(s->bitmaps[i], s->masks[i], s->alphas[i], s->width, s->height, direction))
      return status;
  return 0;
}

int CmdScaleSprite(vlVMState* L) {
  CheckArgs(L, 3, 4, 0, 0);
  vlSprite* s = nullptr;
  if (int status = FindModifiable(L, 1, &s)) return status;
  int32_t w = static_cast<int32_t>(GetNumberOrPercentArg(L, 2, s->width, 1, nullptr));
  int32_t h = static_cast<int32_t>(GetNumberOrPercentArg(L, 3, s->height, 1, nullptr));
  if (int status = ResolveAspectSize(s->width, s->height, &w, &h)) return status;
  if (w < 1 || h < 1) return ERR_BADDIMENSIONS;
  const int32_t smooth = vl::OptIntArg(L, 4, 0);
  if (int status = ScaleFrames(s->bitmaps, s->masks, s->alphas, s->frameCount, s->width, s->height, w, h, smooth))
    return status;
  s->width = w, s->height = h;
  return 0;
}

int CmdCopySprite(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  vlObjectId srcId, id;
  GetObjectIDArg(&srcId, L, 1);
  vlSprite* src = nullptr;
  if (int status = GetSpriteByID(L, srcId, &src, 0)) return status;
  const int automatic = GetObjectIDArgOpt(&id, L, 2);
  if (!automatic && !srcId.handle && id.number == srcId.number) return ERR_WRONGUSAGE;
  if (!automatic) FreeSpriteByID(L, id);
  vlObjectData* data = nullptr;
  if (src->data)
    if (int status = CopyObjectDataList(L, src->data, &data)) return status;
  vlSprite* copy = nullptr;
  int status = 0;
  const int32_t n = src->frameCount;
  if (src->components) {
    size_t count = 0;
    while (src->components[count]) ++count;
    auto** list = static_cast<vlSprite**>(std::calloc(count + 1, sizeof(vlSprite*)));
    if (!list) status = ERR_MEM;
    if (!status) {
      std::memcpy(list, src->components, count * sizeof(vlSprite*));
      status = AddSprite(&id, src->width, src->height, nullptr, nullptr, nullptr, nullptr, nullptr, n,
                         src->transparentColor, list, &copy);
      if (status) std::free(list);
    }
  } else {
    auto** b = static_cast<vlBitmap**>(std::calloc(n, sizeof(vlBitmap*)));
    auto** m = static_cast<vlBitmap**>(std::calloc(n, sizeof(vlBitmap*)));
    auto** a = static_cast<vlBitmap**>(std::calloc(n, sizeof(vlBitmap*)));
    auto** p = static_cast<uint32_t**>(std::calloc(n, sizeof(uint32_t*)));
    status = b && m && a && p ? 0 : ERR_MEM;
    for (int32_t i = 0; i < n && !status; ++i)
      status = CopyBitmapRegion(src->bitmaps[i], src->masks[i], src->alphas[i], 0, 0, src->width, src->height, 0, 0,
                                0, &b[i], src->masks[i] ? &m[i] : nullptr, src->alphas[i] ? &a[i] : nullptr);
    if (!status)
      status = AddSprite(&id, src->width, src->height, nullptr, p, b, m, a, n, src->transparentColor, nullptr, &copy);
    if (status) {
      for (int32_t i = 0; b && m && a && i < n; ++i) FreeFrameTriple(b[i], m[i], a[i]);
      std::free(b), std::free(m), std::free(a), std::free(p);
    }
  }
  if (status) {
    if (data) FreeObjectDataList(L, &data);
    return status;
  }
  copy->data = data;
  if (!automatic) return 0;
  vl::PushPointer(L, copy);
  return 1;
}

int SpriteOnScreenHook(vlObjectId id, int32_t* x, int32_t* y, int32_t* width, int32_t* height, vlBitmap** mask,
                       vlBitmap** alpha) {
  vlSpriteNode* n = nullptr;
  if (int status = FindSpriteOnScreen(id, &n)) return status;
  *x = n->x, *y = n->y, *width = n->width, *height = n->height;
  *mask = *alpha = nullptr;
  if (n->sprite) GetSpriteFrameBitmaps(n->sprite, n->frame - 1, nullptr, mask, alpha);
  return 0;
}

const vlCommand kSpriteCommands[] = {
    {"CreateSprite", CmdCreateSprite},   {"DisplaySprite", CmdDisplaySprite}, {"RemoveSprite", CmdRemoveSprite},
    {"FreeSprite", CmdFreeSprite},       {"LoadSprite", CmdLoadSprite},       {"ScaleSprite", CmdScaleSprite},
    {"CopySprite", CmdCopySprite},       {"FlipSprite", CmdFlipSprite},       {"RemoveSprites", CmdRemoveSprites},
    {nullptr, nullptr},
};

// The clip region goes away: the nodes shown through it lose it, and the
// current display's ones are drawn again, whole, in one refresh of their
// union.
void RefreshTaggedSpriteNodes(vlVMState* L, const void* clipRegion) {
  if (!clipRegion) return;
  const vlDisplay* d = CurrentDisplay();
  const vlBGPic* shown = d ? d->bgpic : nullptr;
  int32_t x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  bool any = false;
  for (vlBGPic* pic = vlBGPicList; pic; pic = pic->next)
    for (auto* n = static_cast<vlSpriteNode*>(pic->sprites); n; n = n->next) {
      if (n->clipRegion != clipRegion) continue;
      n->clipRegion = nullptr;
      if (pic != shown) continue;
      x1 = any ? std::min(x1, n->x) : n->x;
      y1 = any ? std::min(y1, n->y) : n->y;
      x2 = any ? std::max(x2, n->x + n->width) : n->x + n->width;
      y2 = any ? std::max(y2, n->y + n->height) : n->y + n->height;
      any = true;
    }
  if (any) Refresh(L, x1, y1, x2 - x1, y2 - y1);
}

}  // namespace

int OverlapsSprite(vlBGPic* pic, int32_t x, int32_t y, int32_t w, int32_t h) {
  for (auto* n = static_cast<vlSpriteNode*>(pic->sprites); n; n = n->next)
    if (x <= n->x + n->width - 1 && n->x <= x + w - 1 && y <= n->y + n->height - 1 && n->y <= y + h - 1) return 1;
  return 0;
}

int SpriteCoversPoint(vlBGPic* pic, int32_t x, int32_t y) {
  for (auto* n = static_cast<vlSpriteNode*>(pic->sprites); n; n = n->next) {
    if (!n->sprite || x < n->x || y < n->y || x >= n->x + n->width || y >= n->y + n->height) continue;
    vlBitmap *bitmap = nullptr, *mask = nullptr;
    GetSpriteFrameBitmaps(n->sprite, n->frame - 1, &bitmap, &mask, nullptr);
    if (!bitmap) continue;
    if (!mask || ReadBitmapPixel(mask, x - n->x, y - n->y, 1)) return 1;
  }
  return 0;
}

int CheckSpriteDisplayState() {
  vlDisplay* d = CurrentDisplay();
  if (!d || !d->bgpic) return ERR_WRONGUSAGE;
  if (int status = CheckSelectionState()) return status;
  if (d->layersOn || CountLayers(d->bgpic) > 0) return ERR_LAYERSOFF;
  return 0;
}

int PlaceSprite(vlVMState* L, vlSprite* s, int32_t x, int32_t y, int32_t frame) {
  // Held within reach of the display, as layers are.
  x = FarPosition(x);
  y = FarPosition(y);
  vlDisplay* d = CurrentDisplay();
  if (vlSpriteNode** link = NodeLink(s)) {
    vlSpriteNode* n = *link;
    int32_t next = frame;
    if (frame == 0) next = n->frame >= s->frameCount ? 1 : n->frame + 1;
    if (next == n->frame && x == n->x && y == n->y) return 0;
    const int32_t ox = n->x, oy = n->y;
    n->frame = next, n->x = x, n->y = y;
    const int32_t w = n->width, h = n->height;
    const bool overlap = x <= ox + w - 1 && ox <= x + w - 1 && y <= oy + h - 1 && oy <= y + h - 1;
    if (!overlap) {
      Refresh(L, ox, oy, w, h, s);
      Refresh(L, x, y, w, h);
    } else {
      const int32_t ux = std::min(ox, x), uy = std::min(oy, y);
      Refresh(L, ux, uy, std::max(ox, x) + w - ux, std::max(oy, y) + h - uy, s);
    }
    return 0;
  }
  const vlObjectId id = s->id();
  // The first sprite: the front copy takes what was drawn so far, so that
  // the picture under the sprites can be redrawn from it.
  if (!d->bgpic->sprites && !d->layersOn && d->front && d->back && d->front != d->back)
    BltBitmap(d->back, 0, 0, d->front, 0, 0, std::min(d->front->width, d->back->width),
              std::min(d->front->height, d->back->height));
  if (int status = AddSpriteNode(d->bgpic, x, y, s->width, s->height, frame, s, nullptr, d->bgpic->clipRegion, &id,
                                 nullptr))
    return status;
  Refresh(L, x, y, s->width, s->height, s);
  return 0;
}

int RemoveSpriteFromScreen(vlVMState* L, vlSprite* s) {
  vlSpriteNode** link = NodeLink(s);
  if (!link) return 0;
  vlSpriteNode* n = *link;
  *link = n->next;
  const int32_t x = n->x, y = n->y, w = n->width, h = n->height;
  delete n;
  Refresh(L, x, y, w, h, s);
  return 1;
}

int RemoveSpriteEverywhere(vlVMState* L, vlSprite* s) {
  int removed = RemoveSpriteFromScreen(L, s);
  // Shown on a BGPic the current display does not show (another display's):
  // the nodes go too, and each display showing such a BGPic is drawn anew.
  for (vlBGPic* pic = vlBGPicList; pic; pic = pic->next) {
    bool here = false;
    for (auto** link = reinterpret_cast<vlSpriteNode**>(&pic->sprites); *link;) {
      vlSpriteNode* n = *link;
      if (n->sprite != s) {
        link = &n->next;
        continue;
      }
      *link = n->next;
      delete n;
      here = true;
    }
    if (!here) continue;
    removed = 1;
    for (vlDisplay* d = vlDisplayList; d; d = d->next)
      if (d->bgpic == pic) RefreshDisplayObject(L, d, 0);
  }
  return removed;
}

int ConvertSpriteFrameBitmaps() {
  int first = 0;
  for (vlSprite* s = vlSpriteList; s; s = s->next) {
    if (!s->pixels || s->components) continue;
    int status = ConvertFramePixels(s->frameCount, s->pixels, s->bitmaps, s->masks, s->alphas, s->transparentColor,
                                    s->width, s->height, &s->source);
    if (status && !first) first = status;
  }
  return first;
}

int OpenSpriteLib(vlVMState* L) {
  vl::PushSlotCopy(L, vl::kGlobalsIndex);
  vl::RegisterCommands(L, nullptr, kSpriteCommands, 0);
  vl::SetStackTop(L, -2);
  gLayerHooks.freeSpriteNodes = FreeSpriteNodes;
  gLayerHooks.overlapsSprite = OverlapsSprite;
  gLayerHooks.spriteOnScreen = SpriteOnScreenHook;
  gLayerHooks.refreshTaggedSpriteNodes = RefreshTaggedSpriteNodes;
  gSpriteRedraw = DrawSpriteNodes;
  InstallSpriteAttributeHandler();
  if (int status = RegisterLibrary(kSpriteCommands, "sprite")) return status;
  return RegisterObjectList(reinterpret_cast<vlObjectNode**>(&vlSpriteList), [](const vlObjectNode* n) {
    return reinterpret_cast<const vlSprite*>(n)->orphaned != 0;
  });
}
