// GetAttribute for fonts, text objects and text layers, and the font
// attributes a display reports of the current font.
#include "text/text_attributes.h"

#include "display/graphics_library/attributes.h"
#include "display/graphics_library/graphics_state.h"
#include "text/font_cache.h"
#include "text/text_library.h"
#include "text/text_objects.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

// Font attributes 30 to 35 of an engine font.
int PushFontAttribute(vlVMState* L, const vlEngineFont* f, int32_t attr) {
  if (attr < VL_ATTRFONTASCENDER || attr > VL_ATTRFONTAA) return ERR_UNKNOWNATTR;
  if (!f) return ERR_WRONGUSAGE;
  switch (attr) {
    case VL_ATTRFONTASCENDER: vl::PushNumber(L, f->baseline); break;
    case VL_ATTRFONTDESCENDER: vl::PushNumber(L, f->height - f->baseline); break;
    case VL_ATTRFONTNAME: vl::PushCString(L, f->name); break;
    case VL_ATTRFONTSIZE: vl::PushNumber(L, f->size); break;
    case VL_ATTRFONTSCALABLE: vl::PushNumber(L, f->scalable); break;
    default: vl::PushNumber(L, f->antiAlias); break;
  }
  return 1;
}

// Font attributes, or ATTRTEXT, of a layout copy.
int PushLayoutAttribute(vlVMState* L, const vlTextLayout& layout, const std::string& text, int32_t attr) {
  if (attr == VL_ATTRTEXT) {
    vl::PushBytes(L, text.data(), text.size());
    return 1;
  }
  return PushFontAttribute(L, layout.settings.font, attr);
}

int FontObjectAttribute(vlVMState* L, vlObjectId id, int32_t attr) {
  vlFontNode* node = nullptr;
  if (int status = GetFontByID(id, &node)) return status;
  return PushFontAttribute(L, node->font, attr);
}

int TextObjectAttribute(vlVMState* L, vlObjectId id, int32_t attr) {
  vlTextObject* o = nullptr;
  if (int status = GetTextObjectByID(L, id, &o, 0)) return status;
  switch (attr) {
    case VL_ATTRWIDTH: vl::PushNumber(L, o->width); return 1;
    case VL_ATTRHEIGHT: vl::PushNumber(L, o->height); return 1;
    default:
      if (!o->layout) return ERR_UNKNOWNATTR;
      return PushLayoutAttribute(L, o->layout->layout, o->layout->text, attr);
  }
}

// A TEXTOBJECT layer reports its object (an orphan once the script freed
// it); TEXTOUT and PRINT layers their own layout copy.
int TextLayerAttribute(vlVMState* L, vlLayer* layer, int32_t attr) {
  if (layer->type == VL_LAYER_TEXTOBJECT) {
    vlTextObject* o = nullptr;
    if (int status = GetTextObjectByID(L, layer->source, &o, VL_TEXTOBJ_ORPHANS)) return status;
    if (!o->layout) return ERR_NOTXTLAYER;
    return PushLayoutAttribute(L, o->layout->layout, o->layout->text, attr);
  }
  const auto* g = static_cast<const vlTextLayerGeometry*>(layer->geometry[0]);
  if (!g) return ERR_NOTXTLAYER;
  return PushLayoutAttribute(L, g->layout, g->text, attr);
}

int CurrentFontAttribute(vlVMState* L, int32_t attr) {
  return PushFontAttribute(L, GetTextSettings()->font, attr);
}

}  // namespace

void InstallTextAttributeHooks() {
  SetAttributeHandler(VL_OBJ_TEXTOBJECT, TextObjectAttribute);
  SetAttributeHandler(VL_OBJ_FONT, FontObjectAttribute);
  SetLayerAttributeHandler(VL_LAYER_TEXTOBJECT, TextLayerAttribute);
  SetLayerAttributeHandler(VL_LAYER_TEXTOUT, TextLayerAttribute);
  SetLayerAttributeHandler(VL_LAYER_PRINT, TextLayerAttribute);
  SetCurrentFontAttributeHandler(CurrentFontAttribute);
}
