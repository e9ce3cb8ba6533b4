// What the graphics library asks of brushes: their attributes for
// GetAttribute, and their planes for clip regions and pointer images.
#include "display/graphics_library/attributes.h"
#include "display/graphics_library/graphics_state.h"
#include "objects/brushes/brush.h"
#include "runtime/object_data.h"
#include "runtime/plugin_formats.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

int BrushAttribute(vlVMState* L, vlObjectId id, int32_t attr) {
  vlBrush* b = nullptr;
  if (int s = GetBrushByID(L, id, &b, VL_BRUSH_HARDWAREOK)) return s;
  // A hardware brush keeps its mask or alpha channel in the adapter's
  // picture, as its hardware flags say.
  const bool flagged = b->kind == 1 || b->hardware;
  double value;
  switch (attr) {
    case VL_ATTRWIDTH: value = b->width; break;
    case VL_ATTRHEIGHT: value = b->height; break;
    case VL_ATTRTRANSPARENTCOLOR: value = b->transparentColor < 0 ? 4294967295.0 : b->transparentColor; break;
    case VL_ATTRTYPE: value = b->kind; break;
    case VL_ATTRHASMASK: value = flagged ? (b->hardwareFlags & 1) != 0 : b->mask != nullptr; break;
    case VL_ATTRHASALPHA: value = flagged ? (b->hardwareFlags & 2) != 0 : b->alpha != nullptr; break;
    case VL_ATTRHARDWARE: value = b->hardware != 0; break;
    case VL_ATTRDISPLAY:
      if (b->displayHandle || b->displayNumber) {
        PushObjectID(L, {b->displayNumber, b->displayHandle});
        return 1;
      }
      value = -1;
      break;
    case VL_ATTRLOADER:
      vl::PushCString(L, GetLoaderName(b->loaderWord));
      return 1;
    default: return ERR_UNKNOWNATTR;
  }
  vl::PushNumber(L, value);
  return 1;
}

int BrushPictures(vlVMState* L, vlObjectId id, int32_t, vlBitmap** picture, vlBitmap** mask, vlBitmap** alpha,
                  int32_t* width, int32_t* height) {
  vlBrush* b = nullptr;
  if (int s = GetBrushByID(L, id, &b, 0)) return s;
  *picture = b->bitmap;
  *mask = b->mask;
  *alpha = b->alpha;
  *width = b->width;
  *height = b->height;
  return 0;
}

}  // namespace

void InstallBrushGraphicsHooks() {
  SetAttributeHandler(VL_OBJ_BRUSH, BrushAttribute);
  SetObjectPicturesHandler(VL_OBJ_BRUSH, BrushPictures);
}
