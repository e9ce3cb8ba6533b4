// What GetAttribute asks of sprites, and the frames pointers are made
// of. Position and frame are those of the sprite on the current display;
// a sprite off screen answers 0 for them.
#include "display/graphics_library/attributes.h"
#include "display/graphics_library/graphics_state.h"
#include "display/object_pictures.h"
#include "objects/sprites/sprite.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

int SpriteAttribute(vlVMState* L, vlObjectId id, int32_t attr) {
  vlSprite* s = nullptr;
  if (int status = GetSpriteByID(L, id, &s, 0)) return status;
  vlSpriteNode* node = nullptr;
  if (FindSpriteOnScreen(s->id(), &node)) node = nullptr;
  vlBitmap *bitmap = nullptr, *mask = nullptr, *alpha = nullptr;
  GetSpriteFrameBitmaps(s, node ? node->frame - 1 : 0, &bitmap, &mask, &alpha);
  double value;
  switch (attr) {
    case VL_ATTRWIDTH: value = s->width; break;
    case VL_ATTRHEIGHT: value = s->height; break;
    case VL_ATTRTRANSPARENTCOLOR: value = s->transparentColor < 0 ? 4294967295.0 : s->transparentColor; break;
    case VL_ATTRXPOS: value = node ? node->x : 0; break;
    case VL_ATTRYPOS: value = node ? node->y : 0; break;
    case VL_ATTRNUMFRAMES: value = s->frameCount; break;
    case VL_ATTRCURFRAME: value = node ? node->frame : 0; break;
    case VL_ATTRHASMASK: value = mask != nullptr; break;
    case VL_ATTRHASALPHA: value = alpha != nullptr; break;
    case VL_ATTRONSCREEN: value = node != nullptr; break;
    default: return ERR_UNKNOWNATTR;
  }
  vl::PushNumber(L, value);
  return 1;
}

// One frame (1-based) of a sprite, as pointers are made from it.
int SpritePictures(vlVMState* L, vlObjectId id, int32_t frame, vlBitmap** picture, vlBitmap** mask,
                   vlBitmap** alpha, int32_t* width, int32_t* height) {
  vlSprite* s = nullptr;
  if (int status = GetSpriteByID(L, id, &s, 0)) return status;
  if (frame < 1 || frame > s->frameCount) return ERR_ANIMFRAME;
  GetSpriteFrameBitmaps(s, frame - 1, picture, mask, alpha);
  if (!*picture) return ERR_WRONGUSAGE;
  *width = s->width;
  *height = s->height;
  return 0;
}

}  // namespace

void InstallSpriteAttributeHandler() {
  SetAttributeHandler(VL_OBJ_SPRITE, SpriteAttribute);
  SetObjectPicturesHandler(VL_OBJ_SPRITE, SpritePictures);
}
