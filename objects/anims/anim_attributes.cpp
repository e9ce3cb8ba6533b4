// What GetAttribute asks of anims: their own attributes, and the frame
// attributes of layers that show an anim.
#include "display/graphics_library/attributes.h"
#include "display/graphics_library/graphics_state.h"
#include "display/layers/layers.h"
#include "objects/anims/anim.h"
#include "runtime/plugin_formats.h"
#include "vm/argreaders.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

int Num(vlVMState* L, double v) {
  vl::PushNumber(L, v);
  return 1;
}

// Frames not yet made into bitmaps (read from disk, or preloaded as pixels)
// get their planes from the load options.
bool FramesPending(const vlAnim* a) { return a->disk || (a->pixels && !(a->bitmaps && a->bitmaps[0])); }

bool HasMask(const vlAnim* a) {
  for (int32_t i = 0; a->masks && i < a->frameCount; ++i)
    if (a->masks[i]) return true;
  return FramesPending(a) && a->transparentColor >= 0;
}

bool HasAlpha(const vlAnim* a) {
  for (int32_t i = 0; a->alphas && i < a->frameCount; ++i)
    if (a->alphas[i]) return true;
  return FramesPending(a) && a->loadAlpha;
}

// The frame of ATTRFRAMEDELAY: the 1-based extra argument.
int FrameDelay(vlVMState* L, vlAnim* a, int32_t frame) {
  if (frame < 1 || frame > a->frameCount) return ERR_ANIMFRAME;
  return Num(L, GetAnimFrameDelay(a, frame - 1));
}

int AnimAttribute(vlVMState* L, vlObjectId id, int32_t attr) {
  vlAnim* a = nullptr;
  if (int s = GetAnimByID(L, id, &a, 0)) return s;
  switch (attr) {
    case VL_ATTRWIDTH: return Num(L, a->width);
    case VL_ATTRHEIGHT: return Num(L, a->height);
    case VL_ATTRTRANSPARENTCOLOR: return Num(L, a->transparentColor < 0 ? 4294967295.0 : a->transparentColor);
    case VL_ATTRNUMFRAMES: return Num(L, a->frameCount);
    case VL_ATTRHASMASK: return Num(L, HasMask(a));
    case VL_ATTRHASALPHA: return Num(L, HasAlpha(a));
    case VL_ATTRFRAMEDELAY: return FrameDelay(L, a, vl::OptIntArg(L, 4, 1));
    case VL_ATTRLOADER:
      vl::PushCString(L, GetLoaderName(reinterpret_cast<const vlPluginInfo*>(a->loader)));
      return 1;
    default: return ERR_UNKNOWNATTR;
  }
}

// An anim layer keeps its 0-based frame in the geometry's part x.
int AnimLayerAttribute(vlVMState* L, vlLayer* layer, int32_t attr) {
  vlAnim* a = nullptr;
  if (int s = GetAnimByID(L, layer->source, &a, VL_ANIM_FINDORPHANS)) return s;
  const int32_t current = layer->geometry[0] ? layer->geometry[0]->partX + 1 : 1;
  switch (attr) {
    case VL_ATTRNUMFRAMES: return Num(L, a->frameCount);
    case VL_ATTRCURFRAME: return Num(L, current);
    case VL_ATTRFRAMEDELAY: return FrameDelay(L, a, vl::OptIntArg(L, 4, current));
    default: return ERR_UNKNOWNATTR;
  }
}

}  // namespace

void InstallAnimAttributeHandlers() {
  SetAttributeHandler(VL_OBJ_ANIM, AnimAttribute);
  SetLayerAttributeHandler(VL_LAYER_ANIM, AnimLayerAttribute);
}
