// The sprite list, the on-screen node lists of BGPics and drawing the
// nodes over a composed rectangle.
#include "objects/sprites/sprite.h"

#include <algorithm>
#include <cstdlib>
#include <new>

#include "display/bgpic.h"
#include "display/display.h"
#include "display/layers/clip_regions.h"
#include "formats/anim_source.h"
#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "graphics/geometry.h"
#include "runtime/os.h"
#include "runtime/errors.h"
#include "runtime/object_data.h"
#include "runtime/object_index.h"
#include "vm/error_codes.h"

vlSprite* vlSpriteList = nullptr;

namespace {

// Making and finding a sprite must not walk every sprite there is.
vlObjectIndex gSpriteIndex;

vlObjectNode** ListHead() { return reinterpret_cast<vlObjectNode**>(&vlSpriteList); }

// The first sprite named id, or null.
vlSprite* FirstNamed(vlObjectId id, uint32_t flags) {
  if (const std::vector<vlObjectNode*>* named = gSpriteIndex.Find(id))
    for (vlObjectNode* node : *named)
      if (!reinterpret_cast<vlSprite*>(node)->orphaned || (flags & 2)) return reinterpret_cast<vlSprite*>(node);
  return nullptr;
}

bool NodeOf(const vlSpriteNode* n, vlObjectId id) {
  return n->sprite && (id.handle ? n->idHandle == id.handle : (!n->idHandle && n->idNumber == id.number));
}

void FreeSpriteData(vlVMState* L, vlSprite* s) {
  if (s->components) {
    std::free(s->components);
  } else {
    for (int32_t i = 0; i < s->frameCount; ++i) {
      if (s->bitmaps && s->bitmaps[i]) DeleteBitmap(s->bitmaps[i]);
      if (s->masks && s->masks[i]) DeleteMaskPlane(s->masks[i]);
      if (s->alphas && s->alphas[i]) DeleteAlphaPlane(s->alphas[i]);
      if (s->pixels && s->pixels[i]) FreeMemory(s->pixels[i]);
    }
    std::free(s->bitmaps), std::free(s->masks), std::free(s->alphas), std::free(s->pixels);
    if (s->source) CloseAnimSource(s->source);
  }
  if (s->data) FreeObjectDataList(L, &s->data);
  delete s;
}

bool UsesSprite(const vlSprite* link, const vlSprite* s) {
  for (vlSprite** c = link->components; c && *c; ++c)
    if (*c == s) return true;
  return false;
}

}  // namespace

int AddSprite(vlObjectId* id, int32_t width, int32_t height, vlAnimSource* source, uint32_t** pixels,
              vlBitmap** bitmaps, vlBitmap** masks, vlBitmap** alphas, int32_t frameCount, int32_t transparentColor,
              vlSprite** components, vlSprite** out) {
  auto* s = new (std::nothrow) vlSprite{};
  if (!s) return ERR_MEM;
  s->type = VL_OBJ_SPRITE;
  if (id->handle) id->handle = s;
  s->idNumber = id->handle ? 0 : id->number;
  s->idHandle = id->handle;
  s->width = width, s->height = height;
  s->frameCount = frameCount;
  s->transparentColor = transparentColor;
  s->source = source;
  s->pixels = pixels, s->bitmaps = bitmaps, s->masks = masks, s->alphas = alphas;
  s->components = components;
  if (gSpriteIndex.Append(ListHead(), reinterpret_cast<vlObjectNode*>(s))) {
    delete s;
    return ERR_MEM;
  }
  if (out) *out = s;
  return 0;
}

int GetSpriteByID(vlVMState*, vlObjectId id, vlSprite** out, uint32_t flags) {
  if (vlSprite* s = FirstNamed(id, flags)) {
    if ((flags & 1) && s->locked) return ERR_LOCKEDOBJ;
    *out = s;
    return 0;
  }
  *out = nullptr;
  if (id.handle) return ERR_FINDARRAY;
  SetErrorArgIndex(id.number);
  return ERR_FINDSPRITE;
}

int FreeSpriteByID(vlVMState* L, vlObjectId id) {
  vlSprite* s = FirstNamed(id, 2);
  if (!s) {
    if (id.handle) return ERR_FINDARRAY;
    SetErrorArgIndex(id.number);
    return ERR_FINDSPRITE;
  }
  gSpriteIndex.Unlink(ListHead(), reinterpret_cast<vlObjectNode*>(s));
  RemoveSpriteEverywhere(L, s);
  if (!s->components) {
    // Sprites showing this one's frames go first.
    for (vlSprite* p = vlSpriteList; p;) {
      vlSprite* next = p->next;
      if (UsesSprite(p, s)) {
        FreeSpriteByID(L, p->id());
        next = vlSpriteList;
      }
      p = next;
    }
  }
  FreeSpriteData(L, s);
  return 0;
}

void FreeSpriteLibrary(vlVMState* L) {
  for (vlBGPic* pic = vlBGPicList; pic; pic = pic->next) FreeSpriteNodes(L, pic);
  while (vlSprite* s = vlSpriteList) {
    vlSpriteList = s->next;
    FreeSpriteData(L, s);
  }
  gSpriteIndex.Clear();
}

int AddSpriteNode(vlBGPic* pic, int32_t x, int32_t y, int32_t width, int32_t height, int32_t frame, vlSprite* sprite,
                  void* owner, void* clipRegion, const vlObjectId* id, vlSpriteNode** out) {
  auto* n = new (std::nothrow) vlSpriteNode{};
  if (!n) return ERR_MEM;
  auto** link = reinterpret_cast<vlSpriteNode**>(&pic->sprites);
  // Sprites go before the first video's node; everything else at the end.
  while (*link && !(sprite && (*link)->owner)) link = &(*link)->next;
  n->next = *link;
  *link = n;
  n->x = x, n->y = y, n->width = width, n->height = height;
  n->frame = frame ? frame : 1;
  n->sprite = sprite;
  n->owner = owner;
  n->clipRegion = clipRegion;
  if (id) n->idNumber = id->number, n->idHandle = id->handle;
  if (out) *out = n;
  return 0;
}

void FreeSpriteNodes(vlVMState*, vlBGPic* pic) {
  auto* n = static_cast<vlSpriteNode*>(pic->sprites);
  while (n) {
    vlSpriteNode* next = n->next;
    delete n;
    n = next;
  }
  pic->sprites = nullptr;
}

int RemoveSpriteNodeByOwner(const void* owner) {
  if (!owner) return 0;
  int removed = 0;
  for (vlBGPic* pic = vlBGPicList; pic; pic = pic->next)
    for (auto** link = reinterpret_cast<vlSpriteNode**>(&pic->sprites); *link;) {
      vlSpriteNode* n = *link;
      if (n->owner != owner) {
        link = &n->next;
        continue;
      }
      *link = n->next;
      delete n;
      removed = 1;
    }
  return removed;
}

int FindSpriteOnScreen(vlObjectId id, vlSpriteNode** out) {
  vlDisplay* d = CurrentDisplay();
  for (auto* n = d && d->bgpic ? static_cast<vlSpriteNode*>(d->bgpic->sprites) : nullptr; n; n = n->next)
    if (NodeOf(n, id)) {
      if (out) *out = n;
      return 0;
    }
  if (id.handle) return ERR_SPRITEONSCREEN2;
  SetErrorArgIndex(id.number);
  return ERR_SPRITEONSCREEN;
}

void GetSpriteFrameBitmaps(vlSprite* s, int32_t index, vlBitmap** bitmap, vlBitmap** mask, vlBitmap** alpha) {
  if (s->components) {
    int32_t base = 0;
    for (vlSprite** c = s->components; *c; ++c) {
      if (index >= base && index < base + (*c)->frameCount) {
        GetSpriteFrameBitmaps(*c, index - base, bitmap, mask, alpha);
        return;
      }
      base += (*c)->frameCount;
    }
    return;
  }
  if (index < 0 || index >= s->frameCount) return;
  if (bitmap) *bitmap = s->bitmaps ? s->bitmaps[index] : nullptr;
  if (mask) *mask = s->masks ? s->masks[index] : nullptr;
  if (alpha) *alpha = s->alphas ? s->alphas[index] : nullptr;
}

int32_t CountSpriteNodes(const vlBGPic* pic) {
  int32_t count = 0;
  for (auto* n = static_cast<const vlSpriteNode*>(pic->sprites); n; n = n->next)
    if (!n->owner) ++count;
  return count;
}

void DrawSpriteNodes(vlBGPic* pic, vlBitmap* dest, int32_t x, int32_t y, int32_t width, int32_t height,
                     int taggedOnly) {
  for (auto* n = static_cast<vlSpriteNode*>(pic->sprites); n; n = n->next) {
    if (n->tag == -1 || (taggedOnly && n->tag == 0)) continue;
    if (!n->sprite && !n->image) continue;
    int32_t x1 = std::max(x, n->x), y1 = std::max(y, n->y);
    int32_t x2 = std::min(x + width, n->x + n->width), y2 = std::min(y + height, n->y + n->height);
    if (!n->sprite) {
      // The picture may be smaller than the node after a resize.
      x2 = std::min(x2, n->x + n->image->width);
      y2 = std::min(y2, n->y + n->image->height);
    }
    const auto* clip = static_cast<const vlClipRegion*>(n->clipRegion);
    if (clip) {
      x1 = std::max(x1, clip->x), y1 = std::max(y1, clip->y);
      x2 = std::min(x2, clip->x + clip->width), y2 = std::min(y2, clip->y + clip->height);
    }
    if (x2 <= x1 || y2 <= y1) continue;
    vlBitmap *b = n->image, *m = nullptr, *a = nullptr;
    if (n->sprite) GetSpriteFrameBitmaps(n->sprite, n->frame - 1, &b, &m, &a);
    if (!b) continue;
    const int32_t sx = x1 - n->x, sy = y1 - n->y, w = x2 - x1, h = y2 - y1;
    // A region made from a brush's mask lets through only its set pixels.
    vlBitmap* cut = nullptr;
    if (clip && clip->mask) {
      if (!(cut = MakeClipPlane(clip, m, a, sx, sy, x1, y1, w, h, QueryBitmap(b, 0)))) continue;
      (a ? a : m) = cut;
    }
    if (a)
      BltBitmapAlpha(b, sx, sy, dest, x1, y1, w, h, a);
    else if (m)
      BltBitmapMasked(b, sx, sy, dest, x1, y1, w, h, m);
    else
      BltBitmap(b, sx, sy, dest, x1, y1, w, h);
    FreeClipPlane(cut);
  }
}
