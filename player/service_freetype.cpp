// The FreeType functions in their fixed slots. A plug-in must reach faces
// the player opened through the same copy of the library, so it calls these
// rather than a FreeType of its own.
#include "player/service_freetype.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_GLYPH_H
#include FT_OUTLINE_H
#include FT_STROKER_H
#include FT_SIZES_H
#include FT_SYNTHESIS_H

#include <type_traits>
#include <utility>

namespace {

// The header's slot types stand for FreeType's own: same arity, same sizes.
template <class A, class B>
struct SameShape : std::false_type {};
template <class R1, class... P1, class R2, class... P2>
struct SameShape<R1 (*)(P1...), R2 (*)(P2...)>
    : std::bool_constant<std::is_void_v<R1> == std::is_void_v<R2> &&
                         std::is_same_v<std::index_sequence<sizeof(P1)...>, std::index_sequence<sizeof(P2)...>>> {};

// Slot 21: FT_Outline_Get_CBox with its two arguments.
void FreeTypeForward(const void* outline, void* box) {
  if (!outline || !box) return;
  FT_Outline_Get_CBox(static_cast<const FT_Outline*>(outline), static_cast<FT_BBox*>(box));
}

}  // namespace

void FillFreeTypeServiceSlots(vlServiceFn* t) {
#define VL_FT_FILL(name)                                                             \
  static_assert(SameShape<decltype(&name), vlFt_##name>::value, #name " slot type"); \
  t[VL_FT_##name] = vlAsSlot(&name)
  VL_FT_FILL(FT_Init_FreeType);
  VL_FT_FILL(FT_Done_FreeType);
  VL_FT_FILL(FT_New_Memory_Face);
  VL_FT_FILL(FT_Open_Face);
  VL_FT_FILL(FT_Done_Face);
  VL_FT_FILL(FT_Set_Char_Size);
  VL_FT_FILL(FT_Set_Pixel_Sizes);
  VL_FT_FILL(FT_Set_Transform);
  VL_FT_FILL(FT_New_Size);
  VL_FT_FILL(FT_Activate_Size);
  VL_FT_FILL(FT_Done_Size);
  VL_FT_FILL(FT_Get_Char_Index);
  VL_FT_FILL(FT_Get_Kerning);
  VL_FT_FILL(FT_Load_Glyph);
  VL_FT_FILL(FT_Render_Glyph);
  VL_FT_FILL(FT_GlyphSlot_Embolden);
  VL_FT_FILL(FT_Get_Glyph);
  VL_FT_FILL(FT_Done_Glyph);
  VL_FT_FILL(FT_Outline_New);
  VL_FT_FILL(FT_Outline_Done);
  VL_FT_FILL(FT_Outline_Transform);
  t[VL_FT_FreeTypeForward] = vlAsSlot<vlFt_FreeTypeForward>(FreeTypeForward);
  VL_FT_FILL(FT_Outline_Translate);
  VL_FT_FILL(FT_Outline_Get_Bitmap);
  VL_FT_FILL(FT_Outline_Decompose);
  VL_FT_FILL(FT_Stroker_New);
  VL_FT_FILL(FT_Stroker_Set);
  VL_FT_FILL(FT_Stroker_Done);
  VL_FT_FILL(FT_Stroker_BeginSubPath);
  VL_FT_FILL(FT_Stroker_LineTo);
  VL_FT_FILL(FT_Stroker_ConicTo);
  VL_FT_FILL(FT_Stroker_CubicTo);
  VL_FT_FILL(FT_Stroker_EndSubPath);
  VL_FT_FILL(FT_Stroker_ParseOutline);
  VL_FT_FILL(FT_Stroker_GetCounts);
  VL_FT_FILL(FT_Stroker_Export);
  VL_FT_FILL(FT_Stroker_GetBorderCounts);
  VL_FT_FILL(FT_Stroker_ExportBorder);
#undef VL_FT_FILL
}
