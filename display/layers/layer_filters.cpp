// Layer filters: the filter table, the order filters run in and the engine
// each one calls, and the cached filtered copy of a layer's pictures.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "display/bgpic.h"
#include "display/layers/layers.h"
#include "graphics/bitmap.h"
#include "graphics/effect_engines.h"
#include "graphics/picture_engines.h"
#include "graphics/quantize.h"
#include "runtime/errors.h"
#include "vm/convert.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"
#include "vm/value.h"

const char* const kLayerFilterNames[VL_LAYER_FILTERS] = {
    "blur",      "charcoal",   "contrast", "edge",   "emboss",      "gamma", "grayscale",
    "invert",    "modulate",   "monochrome", "oilpaint", "pixelate", "sepiatone", "sharpen",
    "solarize",  "swirl",      "tint",     "waterripple", "xflip", "yflip", "quantize"};

namespace {

// Argument types: 1 int, 2 level (number or percentage of 255), 3 float.
constexpr int32_t kArgTypes[VL_LAYER_FILTERS][6] = {
    {3}, {3}, {1, 1}, {3}, {3}, {3, 3, 3}, {}, {}, {3, 3, 3}, {1}, {3},
    {1}, {2}, {3}, {2}, {1}, {1, 2}, {1, 1, 1, 3, 3}, {}, {}, {1, 1}};
constexpr double kArgDefaults[VL_LAYER_FILTERS][6] = {
    {5.0}, {2.0}, {1, 1}, {5.0}, {5.0}, {1.0, 1.0, 1.0}, {}, {}, {100.0, 100.0, 100.0}, {1}, {2.0},
    {10}, {204}, {5.0}, {128}, {180}, {0xFFFFFF, 128}, {32, 1, 0, 0.5, 0.5}, {}, {}, {256, 1}};

void RunFilter(int slot, const vlLayerFilter& f, vlBitmap* image, vlBitmap* mask, vlBitmap* alpha, int32_t w,
               int32_t h) {
  const int32_t* i = f.ints;
  const float* v = f.floats;
  switch (slot) {
    case 0: ConvolveBitmap('b', image, alpha, w, h, v[0], v[0] / 3.0, nullptr); break;
    case 1: CharcoalBitmap(image, alpha, w, h, v[0], 1.0); break;
    case 2: ContrastBitmap(image, w, h, i[0], i[1], nullptr); break;
    case 3: ConvolveBitmap('g', image, alpha, w, h, v[0], 0.0, nullptr); break;
    case 4: ConvolveBitmap('e', image, nullptr, w, h, v[0], 1.0, nullptr); break;
    case 5: GammaBitmap(image, w, h, v[0], v[1], v[2]); break;
    case 6: GrayBitmap(image, w, h, 0, nullptr); break;
    case 7: InvertBitmapColors(image, w, h, nullptr); break;
    case 8: ModulateBitmap(image, w, h, v[0] / 100.0, v[1] / 100.0, v[2] / 100.0); break;
    case 9: MonochromeBitmap(image, w, h, i[0]); break;
    case 10: OilPaintBitmap(image, w, h, v[0]); break;
    case 11: PixelateBitmap(image, mask, alpha, w, h, i[0]); break;
    case 12: SepiaToneBitmap(image, w, h, i[0]); break;
    case 13: ConvolveBitmap('s', image, nullptr, w, h, v[0], 1.0, nullptr); break;
    case 14: SolarizeBitmap(image, w, h, i[0]); break;
    case 15: SwirlBitmap(image, mask, alpha, w, h, i[0]); break;
    case 16: TintBitmap(image, 0, 0, w, h, static_cast<uint32_t>(i[0]), i[1]); break;
    case 17: WaterRippleBitmap(image, mask, alpha, w, h, i[0], i[1], i[2], v[0], v[1]); break;
    case 18: FlipBitmap(image, mask, alpha, w, h, 1); break;
    case 19: FlipBitmap(image, mask, alpha, w, h, 0); break;
    case 20: QuantizeBitmap(image, w, h, i[0], i[1]); break;
    default: break;
  }
}

}  // namespace

bool IsGeometricFilter(int slot) { return slot == 11 || slot == 15 || slot == 17 || slot == 18 || slot == 19; }

void SetFilterDefaults(int slot, vlLayerFilter* f, int givenInts, int givenFloats) {
  int ni = 0, nf = 0;
  for (int k = 0; k < 6 && kArgTypes[slot][k]; k++) {
    if (kArgTypes[slot][k] == 3) {
      if (nf >= givenFloats && nf < 4) f->floats[nf] = static_cast<float>(kArgDefaults[slot][k]);
      nf++;
    } else {
      if (ni >= givenInts && ni < 4) f->ints[ni] = static_cast<int32_t>(kArgDefaults[slot][k]);
      ni++;
    }
  }
}

int LayerFilterArgs(int slot, const vlLayerFilter& f, double out[6]) {
  int n = 0, ni = 0, nf = 0;
  for (int k = 0; k < 6 && kArgTypes[slot][k]; k++)
    out[n++] = kArgTypes[slot][k] == 3 ? (nf < 4 ? f.floats[nf++] : 0) : (ni < 4 ? f.ints[ni++] : 0);
  return n;
}

int LayerHasFilters(const vlLayerFilter* slots) {
  for (int i = 0; i < VL_LAYER_FILTERS; i++)
    if (slots[i].active) return 1;
  return 0;
}

int LayerFilterOrder(const vlLayerFilter* slots, int geometricOnly, int order[VL_LAYER_FILTERS]) {
  bool ran[VL_LAYER_FILTERS] = {};
  int n = 0;
  // Highest priority first; equal priorities in slot order.
  for (int p = 255; p >= 0; p--) {
    for (int s = 0; s < VL_LAYER_FILTERS; s++) {
      if (!slots[s].active || ran[s] || slots[s].priority < p) continue;
      if (geometricOnly && !IsGeometricFilter(s)) continue;
      ran[s] = true;
      order[n++] = s;
    }
  }
  return n;
}

void ApplyLayerFilters(const vlLayerFilter* slots, vlBitmap* image, vlBitmap* mask, vlBitmap* alpha,
                       int32_t width, int32_t height, int geometricOnly) {
  int order[VL_LAYER_FILTERS];
  int n = LayerFilterOrder(slots, geometricOnly, order);
  for (int k = 0; k < n; k++) RunFilter(order[k], slots[order[k]], image, mask, alpha, width, height);
}

void PrepareFilteredImage(vlVMState* state, vlLayer* layer, vlLayerGeometry* g, int useTransformed) {
  if (!g || g->fImage || !LayerHasFilters(layer->filters)) return;
  vlBitmap *image, *mask, *alpha;
  int32_t w, h;
  uint32_t extra;
  if (GetLayerBitmaps(state, layer, g, 0, useTransformed, -1, &image, &mask, &alpha, &w, &h, &extra) || !image)
    return;
  bool transformed = useTransformed && (g->xImage || g->fxImage);
  int32_t ox = transformed ? 0 : LayerPartX(layer, g), oy = transformed ? 0 : LayerPartY(layer, g);
  int32_t cw = g->drawnWidth, ch = g->drawnHeight;
  if (ox < 0 || oy < 0 || cw < 1 || ch < 1 || ox + cw > w || oy + ch > h) return;
  vlBitmap *fi = nullptr, *fm = nullptr, *fa = nullptr;
  if (CopyBitmapRegion(image, mask, alpha, ox, oy, cw, ch, 0, 0, 0, &fi, &fm, &fa)) return;
  g->fImage = fi;
  g->fMask = fm;
  g->fAlpha = fa;
  ApplyLayerFilters(layer->filters, fi, fm, fa, cw, ch, 0);
}

int GetLayerBitmaps(vlVMState* state, vlLayer* layer, vlLayerGeometry* g, int applyFilters, int useTransformed,
                    int32_t frame, vlBitmap** image, vlBitmap** mask, vlBitmap** alpha, int32_t* width,
                    int32_t* height, uint32_t* extra) {
  *image = *mask = *alpha = nullptr;
  *width = *height = 0;
  *extra = 0;
  if (layer->type == VL_LAYER_NOOBJECT) return ERR_WRONGUSAGE;
  if (applyFilters) PrepareFilteredImage(state, layer, g, useTransformed);
  if (applyFilters && g->fImage) {
    // The filtered copy is always what is shown: the transformed one would
    // lose every colour filter.
    *image = g->fImage, *mask = g->fMask, *alpha = g->fAlpha;
    *width = g->drawnWidth, *height = g->drawnHeight;
    return 0;
  }
  if (g->fxImage && useTransformed) {
    // A transition effect owns what the layer shows while it runs.
    *image = g->fxImage, *mask = g->fxMask, *alpha = g->fxAlpha;
    *width = g->fxImage->width, *height = g->fxImage->height;
    return 0;
  }
  if (g->xImage && useTransformed) {
    *image = g->xImage, *mask = g->xMask, *alpha = g->xAlpha;
    *width = g->drawnWidth, *height = g->drawnHeight;
    return 0;
  }
  if (g->image) {
    *image = g->image, *mask = g->mask, *alpha = g->alpha;
    *width = g->image->width, *height = g->image->height;
    return 0;
  }
  if (layer->type == VL_LAYER_BGPICPART) {
    vlBGPic* pic = nullptr;
    if (int status = GetBGPicByID(state, layer->source, &pic, 2)) return status;
    *image = pic->curBitmap, *mask = pic->curMask, *alpha = pic->curAlpha;
    *width = pic->width, *height = pic->height;
    return 0;
  }
  if (const vlLayerSource* source = FindLayerSource(layer->type))
    return source->getBitmaps(state, layer, frame, image, mask, alpha, width, height, extra);
  return ERR_WRONGUSAGE;
}

namespace {

// Pushes t[key] of the absolute table index; its type.
int PushField(vlVMState* L, int table, const char* key) {
  vl::PushString(L, key);
  vl::RawGetTableValue(L, table);
  return vl::GetTypeAt(L, -1);
}

// One entry of a "filters" table (on top of the stack) into its slot.
int ParseFilterEntry(vlVMState* L, int entry, int index, vlLayerFilter* slots) {
  int type = PushField(L, entry, "name");
  if (type == VL_TNIL) {
    vl::SetStackTop(L, -2);
    char text[16];
    snprintf(text, sizeof text, "%d", index);
    SetErrorArgument(text);
    return kErrFilterNoName;
  }
  if (type != VL_TSTRING) {
    vl::SetStackTop(L, -2);
    SetErrorArgument("name");
    return ERR_STRTABLEARG;
  }
  int slot = -1;
  const char* name = vl::ToStringAt(L, -1);
  for (int i = 0; i < VL_LAYER_FILTERS && slot < 0; i++)
    if (strcasecmp(name, kLayerFilterNames[i]) == 0) slot = i;
  if (slot < 0) SetErrorArgument(name);
  vl::SetStackTop(L, -2);
  if (slot < 0) return kErrFilterUnknown;
  vlLayerFilter f = slots[slot];
  type = PushField(L, entry, "disable");
  double value = vl::ToNumberAt(L, -1);
  vl::SetStackTop(L, -2);
  f.active = 1;
  if (type != VL_TNIL) {
    if (type != VL_TNUMBER) {
      SetErrorArgument("disable");
      return ERR_NUMTABLEARG;
    }
    f.active = value == 0;
  }
  if (!f.active) {
    slots[slot].active = 0;
    return 0;
  }
  type = PushField(L, entry, "priority");
  value = vl::ToNumberAt(L, -1);
  vl::SetStackTop(L, -2);
  f.priority = 0;
  if (type != VL_TNIL) {
    if (type != VL_TNUMBER) {
      SetErrorArgument("priority");
      return ERR_NUMTABLEARG;
    }
    f.priority = static_cast<uint8_t>(vl::DoubleToInt32(value) & 0xFF);
  }
  int ni = 0, nf = 0;
  type = PushField(L, entry, "args");
  if (type != VL_TNIL && kArgTypes[slot][0]) {
    if (type != VL_TTABLE) {
      vl::SetStackTop(L, -2);
      SetErrorArgument("args");
      return ERR_TABEXPECTED2;
    }
    int args = vl::GetStackTop(L);
    for (int k = 0; k < 6 && kArgTypes[slot][k]; k++) {
      vl::RawGetTableIndex(L, args, k);
      int t = vl::GetTypeAt(L, -1);
      if (t == VL_TNIL) {
        vl::SetStackTop(L, -2);
        break;
      }
      double v = 0;
      bool ok = t == VL_TNUMBER;
      if (t == VL_TSTRING && kArgTypes[slot][k] == 2) {
        // "N%" of 255.
        char* end = nullptr;
        const char* text = vl::ToStringAt(L, -1);
        v = strtod(text, &end);
        ok = end != text && *end == '%' && end[1] == 0;
        v = v * 255.0 / 100.0;
      } else if (ok) {
        v = vl::ToNumberAt(L, -1);
      }
      vl::SetStackTop(L, -2);
      if (!ok) {
        vl::SetStackTop(L, -2);
        SetErrorArgument("args");
        return ERR_NUMTABLEARG;
      }
      if (kArgTypes[slot][k] == 3) {
        if (nf < 4) f.floats[nf] = static_cast<float>(v);
        nf++;
      } else {
        if (ni < 4) f.ints[ni] = vl::DoubleToInt32(v);
        ni++;
      }
    }
  }
  vl::SetStackTop(L, -2);
  SetFilterDefaults(slot, &f, ni, nf);
  slots[slot] = f;
  return 0;
}

}  // namespace

int ParseLayerFilters(vlVMState* L, int table, vlLayerFilter* slots, int* given, int* error) {
  *error = 0;
  if (table < 0 && table > vl::kRegistryIndex) table = vl::GetStackTop(L) + table + 1;
  int type = PushField(L, table, "filters");
  if (type == VL_TNIL) {
    vl::SetStackTop(L, -2);
    return 0;
  }
  if (type != VL_TTABLE) {
    vl::SetStackTop(L, -2);
    SetErrorArgument("filters");
    *error = ERR_TABEXPECTED2;
    return 0;
  }
  int list = vl::GetStackTop(L);
  // Work on a copy so that a failing entry leaves the slots as they were.
  vlLayerFilter work[VL_LAYER_FILTERS];
  memcpy(work, slots, sizeof work);
  for (int i = 0;; i++) {
    vl::RawGetTableIndex(L, list, i);
    int t = vl::GetTypeAt(L, -1);
    if (t == VL_TNIL) {
      vl::SetStackTop(L, -3);
      break;
    }
    if (t != VL_TTABLE) {
      vl::SetStackTop(L, -3);
      SetErrorArgument("filters");
      *error = ERR_TABEXPECTED2;
      return 0;
    }
    int status = ParseFilterEntry(L, vl::GetStackTop(L), i, work);
    vl::SetStackTop(L, -2);
    if (status) {
      vl::SetStackTop(L, -2);
      *error = status;
      return 0;
    }
  }
  memcpy(slots, work, sizeof work);
  if (given) *given = 1;
  return 1;
}
