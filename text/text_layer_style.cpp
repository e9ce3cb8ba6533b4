// The style keys of text layers (TEXTOUT, PRINT): a table read into a new
// text layout for the layer attribute engine, and the same keys written
// back for GetLayerStyle.
#include "text/text_layer_style.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "display/display.h"
#include "graphics/position.h"
#include "runtime/chunk_name.h"
#include "runtime/errors.h"
#include "runtime/option_readers.h"
#include "text/font_cache.h"
#include "text/text_layers.h"
#include "vm/convert.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"
#include "vm/value.h"

namespace {

bool IsTextType(uint32_t type) { return type == VL_LAYER_TEXTOUT || type == VL_LAYER_PRINT; }

bool Int(vlVMState* L, int table, const char* key, int32_t* out) { return GetTableInt(L, table, key, out, nullptr); }

// The cache entry a font was opened through: its name, engine and flag.
const vlFontCacheEntry* FindCacheEntry(const vlEngineFont* font) {
  for (const vlFontCacheEntry* e = vlFontState.cache; e; e = e->next)
    if (e->font == font) return e;
  return nullptr;
}

// "fontstyle" and "fontstyleclear": the shadow and edge bits are the
// layer's own shadow and border; the rest are the text's.
void ReadFontStyle(vlVMState* L, int table, vlTextSettings* s, vlLayer* copy, bool* given) {
  int32_t v;
  if (Int(L, table, "fontstyle", &v)) {
    *given = true;
    const auto bits = static_cast<uint32_t>(v);
    if (bits & VL_STYLE_NORMAL) {
      s->style = VL_STYLE_NORMAL;
    } else {
      if (bits & VL_STYLE_SHADOW) SwitchLayerShadow(&copy->shadow, 1);
      if (bits & VL_STYLE_EDGE) copy->border.on = 1;
      s->style |= bits & ~(VL_STYLE_SHADOW | VL_STYLE_EDGE);
    }
  }
  if (Int(L, table, "fontstyleclear", &v)) {
    *given = true;
    const auto bits = static_cast<uint32_t>(v);
    if (bits & VL_STYLE_SHADOW) SwitchLayerShadow(&copy->shadow, 0);
    if (bits & VL_STYLE_EDGE) copy->border.on = 0;
    s->style &= ~(bits & ~(VL_STYLE_SHADOW | VL_STYLE_EDGE));
  }
}

// "tabs": numbers from index 0 up to the first nil, sorted ascending.
int ReadTabs(vlVMState* L, int table, vlTextLayout* layout, bool* given) {
  vl::PushString(L, "tabs");
  vl::RawGetTableValue(L, table);
  if (vl::GetTypeAt(L, -1) == VL_TNIL) {
    vl::SetStackTop(L, -2);
    return 0;
  }
  if (vl::GetTypeAt(L, -1) != VL_TTABLE) {
    vl::SetStackTop(L, -2);
    SetErrorArgument("tabs");
    return ERR_NUMTABLEARG;
  }
  const int tabs = vl::GetStackTop(L);
  int32_t stops[32];
  int32_t n = 0;
  int status = 0;
  for (int i = 0;; ++i) {
    vl::RawGetTableIndex(L, tabs, i);
    const int type = vl::GetTypeAt(L, -1);
    if (type == VL_TNIL) {
      vl::SetStackTop(L, -2);
      break;
    }
    if (type != VL_TNUMBER) {
      SetErrorArgument("tabs");
      status = ERR_NUMTABLEARG;
    } else if (n == 31) {  // a 32nd stop is one too many for a layer
      status = ERR_INTERNAL;
    } else {
      stops[n++] = vl::DoubleToInt32(vl::ToNumberAt(L, -1));
    }
    vl::SetStackTop(L, -2);
    if (status) break;
  }
  vl::SetStackTop(L, -2);
  if (status) return status;
  std::sort(stops, stops + n);
  std::memset(layout->tabStops, 0, sizeof layout->tabStops);
  std::memcpy(layout->tabStops, stops, sizeof(int32_t) * n);
  layout->tabCount = n;
  *given = true;
  return 0;
}

// The font again when its name, size or engine was given.
int ReadFont(vlVMState* L, int table, vlTextSettings* s, bool* given) {
  char name[kEngineFontNameSize] = "";
  int32_t size = 8, engine = VL_FONTENGINE_NATIVE, cache = 1;
  if (s->font) {
    const vlFontCacheEntry* e = FindCacheEntry(s->font);
    std::snprintf(name, sizeof name, "%s", e ? e->name : s->font->name);
    size = s->font->size;
    // The glyph cache is on unless the table turns it off, whatever the
    // old font was opened with.
    if (e) engine = e->engine;
  }
  int found = 0;
  GetTableInt(L, table, "fontsize", &size, &found);
  GetTableString(L, table, "font", name, sizeof name, &found);
  GetTableInt(L, table, "fontengine", &engine, &found);
  if (!found) return 0;
  Int(L, table, "fontcache", &cache);
  vlEngineFont* font;
  if (int status = LoadFontByName(name, size, engine, cache, IsChunkName(name) ? 1 : 0, &font)) return status;
  s->font = font;
  *given = true;
  return 0;
}

}  // namespace

int ApplyTextLayerStyle(vlVMState* L, vlLayer* layer, vlLayer* copy, int table, uint32_t type, int typeChanged,
                        vlLayerGeometry** record, int* given) {
  *record = nullptr;
  *given = 0;
  if (!IsTextType(type)) return ERR_WRONGUSAGE;
  const vlLayerGeometry* g0 = layer->geometry[0];
  const bool print = type == VL_LAYER_PRINT;
  vlDisplay* d = CurrentDisplay();
  vlTextLayout layout;
  std::string text;
  bool literal = false;
  if (IsTextType(layer->type)) {
    // Between the two text types the layer keeps its text settings.
    const auto* kept = static_cast<const vlTextLayerGeometry*>(g0);
    layout = kept->layout;
    text = kept->text;
    literal = kept->literal;
  } else {
    layout.settings = *GetTextSettings();
    layout.encoding = GetDefaultEncoding();
    // On a layer the text's shadow and edge are the layer's.
    if (layout.settings.style & VL_STYLE_EDGE)
      copy->border = {1, layout.settings.edgeColor, static_cast<uint32_t>(layout.settings.edgeSize)};
    if (layout.settings.style & VL_STYLE_SHADOW) {
      SwitchLayerShadow(&copy->shadow, 1);
      copy->shadow.color = layout.settings.shadowColor;
      copy->shadow.size = layout.settings.shadowSize;
      copy->shadow.direction = static_cast<uint32_t>(layout.settings.shadowDirection);
    }
    layout.settings.style &= ~(VL_STYLE_EDGE | VL_STYLE_SHADOW);
    if (!layout.settings.style) layout.settings.style = VL_STYLE_NORMAL;
  }
  if (print && layer->type != VL_LAYER_PRINT) {
    if (!d) return ERR_CLOSEDDISPLAY;
    layout.cursorX = d->cursorX;
    layout.cursorY = d->cursorY;
    layout.tabCount = std::min<int32_t>(d->tabCount, 32);
    std::memcpy(layout.tabStops, d->tabStops, sizeof layout.tabStops);
    layout.marginLeft = d->marginLeft;
    layout.wrapWidth = d->marginRight + 1 - d->marginLeft;
  }
  if (!print) layout.marginLeft = 0;
  layout.x = g0->x, layout.y = g0->y;

  bool any = typeChanged != 0;
  int32_t v;
  if (Int(L, table, "color", &v)) layout.settings.color = static_cast<uint32_t>(v), any = true;
  ReadFontStyle(L, table, &layout.settings, copy, &any);
  if (Int(L, table, "encoding", &v)) {
    if (v != 0 && v != 1) return ERR_WRONGUSAGE;
    layout.encoding = v, any = true;
  }
  // Print text wraps between its margins; TEXTOUT's right margin is its
  // word-wrap width.
  int32_t left = layout.marginLeft, right = print ? layout.marginLeft + layout.wrapWidth - 1 : layout.wrapWidth;
  if (Int(L, table, "rightmargin", &right)) any = true;
  bool cursorGiven = false;
  if (!print) {
    if (Int(L, table, "align", &layout.align)) any = true;
    if (right < 0) return ERR_WRONGUSAGE;
    layout.wrapWidth = right;
  } else {
    if (Int(L, table, "leftmargin", &left)) any = true;
    if (left < 0 || right < 0) return ERR_WRONGUSAGE;
    layout.marginLeft = left;
    layout.wrapWidth = right + 1 - left;
    if (Int(L, table, "cursorx", &v)) {
      if (v == VL_POS_LEFT || v == VL_POS_RIGHT || v == VL_POS_CENTER) return 1337;
      layout.cursorX = v >= left && v <= right ? v : left;
      cursorGiven = any = true;
    }
    if (Int(L, table, "cursory", &v)) {
      if (v == VL_POS_TOP || v == VL_POS_BOTTOM || v == VL_POS_CENTER) return 1337;
      layout.cursorY = v;
      cursorGiven = any = true;
    }
    if (int status = ReadTabs(L, table, &layout, &any)) return status;
  }
  ClampTextEffectParams(&layout.settings);
  if (int status = ReadFont(L, table, &layout.settings, &any)) return status;
  char* given_text = nullptr;
  size_t length = 0;
  int found = 0;
  if (int status = GetTableFileName(L, table, "text", 0, nullptr, &given_text, &length, &found)) return status;
  if (found) {
    text.assign(given_text, length);
    any = true;
  }
  std::free(given_text);
  if (!any) return 0;

  // Lay the text out afresh to learn its size and its line breaks.
  layout.text = text.c_str();
  layout.useWordWrap = false;
  layout.wordWrap.clear();
  layout.tabTable.clear();
  const int32_t mode = print ? VL_TEXTMODE_PRINT : VL_TEXTMODE_TEXTOUT;
  vlTextPicture picture;
  int32_t lines = 0, endX = 0;
  if (int status = RenderLayoutPicture(L, &layout, mode, literal, &picture, &lines, &endX)) return status;
  const int32_t width = picture.width, height = picture.height;
  int32_t x = g0->x, y = g0->y;
  if (cursorGiven) {
    // The text starts at its cursor, as Print puts it.
    x = layout.marginLeft + (lines == 0 ? layout.cursorX - layout.marginLeft : 0) + picture.offsetX;
    y = layout.cursorY + picture.offsetY;
  }
  FreeTextPicture(&picture);
  vlTextLayerGeometry* g = NewTextLayerGeometry(layout, mode, literal);
  if (!g) return ERR_MEM;
  g->x = x, g->y = y, g->width = width, g->height = height;
  *record = g;
  *given = 1;
  return 0;
}

void WriteTextLayerStyle(vlVMState* L, vlLayer* layer) {
  const auto* g = static_cast<const vlTextLayerGeometry*>(layer->geometry[0]);
  const vlTextLayout& t = g->layout;
  const bool print = layer->type == VL_LAYER_PRINT;
  SetTableNumber(L, "color", t.settings.color);
  uint32_t style = t.settings.style;
  if (layer->shadow.on) style |= VL_STYLE_SHADOW;
  if (layer->border.on) style |= VL_STYLE_EDGE;
  if (style & ~VL_STYLE_NORMAL) style &= ~VL_STYLE_NORMAL;
  SetTableNumber(L, "fontstyle", style);
  SetTableNumber(L, "align", t.align);
  SetTableNumber(L, "leftmargin", print ? t.marginLeft : 0);
  SetTableNumber(L, "rightmargin", print ? t.marginLeft + t.wrapWidth - 1 : t.wrapWidth);
  SetTableNumber(L, "fontsize", t.settings.font ? t.settings.font->size : 0);
  SetTableNumber(L, "encoding", t.encoding);
  SetTableString(L, "text", g->text.c_str());
  const vlFontCacheEntry* e = t.settings.font ? FindCacheEntry(t.settings.font) : nullptr;
  SetTableString(L, "font", e ? e->name : t.settings.font ? t.settings.font->name : "");
}
