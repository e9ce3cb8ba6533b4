// Display tags: the option table of the commands that show pictures.
#include "display/layers/draw_tags.h"

#include <cmath>
#include <cstring>

#include "display/bgpic.h"
#include "display/display.h"
#include "graphics/bitmap.h"
#include "runtime/option_readers.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

int32_t Level255(vlVMState* L, int index, const char* key, int* found) {
  double v = 0;
  int percent = 0;
  if (!GetTableNumberOrPercent(L, index, key, &v, 255, 0, &percent, found)) return 0;
  if (!(v > 0)) return 0;
  return v > 255 ? 255 : static_cast<int32_t>(v);
}

void BuiltInForm(vlDrawTags* tags) {
  tags->form = {};
  tags->form.shadow = {0, 0x80000000u, 4, 3, 5.0, 5.0 / 3.0};
  tags->form.border = {0, 0, 2};
  tags->needsLayerProcessing = 0;
}

// The defaults every command's tags start from (SetDrawTagsDefault).
struct Defaults {
  vlLayerTransform transform;
  vlDrawTags form;
  bool ready = false;
} gDefaults;

Defaults& CurrentDefaults() {
  if (!gDefaults.ready) ResetDrawTagDefaults();
  return gDefaults;
}

// Only the form part: callers often parse the transform into the same
// record.
void DefaultForm(vlDrawTags* tags) {
  tags->form = CurrentDefaults().form.form;
  tags->needsLayerProcessing = 0;
}

bool DefaultsTransform(const vlLayerTransform* t) { return t->scaleX != 1.0 || t->scaleY != 1.0 || t->angle != 0; }

}  // namespace

int ParseShadowTags(vlVMState* L, int index, vlLayerShadow* s, int* found) {
  // "shadow" switches it either way: a shadow that the defaults turned on
  // can be turned off for one command. The other keys count only while on.
  int on = s->on;
  if (GetTableBool(L, index, "shadow", &on, found)) s->on = on ? 1 : 0;
  if (!s->on) return 0;
  int32_t v;
  if (GetTableInt(L, index, "shadowcolor", &v, found)) s->color = static_cast<uint32_t>(v);
  if (GetTableInt(L, index, "shadowdir", &v, found)) s->direction = static_cast<uint32_t>(v) & 7;
  GetTableInt(L, index, "shadowsize", &s->size, found);
  GetTableNumber(L, index, "shadowradius", &s->radius, found);
  GetTableNumber(L, index, "shadowsigma", &s->sigma, found);
  if (!(s->radius >= 1.0) || s->size < 0 || !(s->sigma > 0.0)) return ERR_WRONGUSAGE;
  return 0;
}

int ParseBorderTags(vlVMState* L, int index, int edgeKeys, vlLayerBorder* b, int* found) {
  int on = 0;
  if (GetTableBool(L, index, "border", &on, found)) b->on = on;
  int32_t v;
  if (GetTableInt(L, index, "bordercolor", &v, found)) b->color = static_cast<uint32_t>(v);
  if (GetTableInt(L, index, "bordersize", &v, found)) b->size = static_cast<uint32_t>(v);
  if (edgeKeys) {
    if (GetTableInt(L, index, "edgecolor", &v, found)) b->color = static_cast<uint32_t>(v);
    if (GetTableInt(L, index, "edgesize", &v, found)) b->size = static_cast<uint32_t>(v);
    if (GetTableInt(L, index, "outlinethickness", &v, found)) b->size = static_cast<uint32_t>(v);
  }
  if (b->on && static_cast<int32_t>(b->size) <= 0) return ERR_WRONGUSAGE;
  return 0;
}

int ParseDrawTags(vlVMState* L, int index, int32_t sw, int32_t sh, int32_t tw, int32_t th, int smoothDefault,
                  vlLayerTransform* t, vlDrawTags* tags, uint32_t flags) {
  bool defaultTransform = false;
  if (flags & VL_TAGS_INIT) {
    *t = CurrentDefaults().transform;
    t->targetWidth = tw == sw ? 0 : tw;
    t->targetHeight = th == sh ? 0 : th;
    if (!(flags & VL_TAGS_SMOOTHROTATE)) t->smooth = smoothDefault ? 1 : 0;
    if (tags) DefaultForm(tags);
    // Scale and rotation defaults give each object its own matrix.
    if ((defaultTransform = DefaultsTransform(t)))
      BuildTransformMatrix(t, t->targetWidth, t->targetHeight, sw, sh, t->scaleX, t->scaleY, t->angle);
  }
  const int type = index ? vl::GetTypeAt(L, index) : -1;
  const bool last = index && vl::GetStackTop(L) == index;
  bool table = false;
  if (type != -1 && last) {
    if (type == VL_TTABLE)
      table = true;
    else if (flags & VL_TAGS_TABLEONLY)
      return ERR_TABEXPECTED;
  }
  if (!table) {
    if ((t->targetWidth && t->targetWidth != sw) || (t->targetHeight && t->targetHeight != sh))
      BuildTransformMatrix(t, t->targetWidth, t->targetHeight, sw, sh, t->scaleX, t->scaleY, t->angle);
    return 0;
  }

  double m[4];
  int count = 0, given = 0;
  GetTableNumberList(L, index, "transform", m, 4, 4, &count, &given);
  if (given) {
    if (m[0] == 0 || m[3] == 0) return ERR_WRONGUSAGE;
    memcpy(t->fixed, m, sizeof m);
    t->fixedMatrix = 1;
    t->a = m[0], t->b = m[1], t->c = m[2], t->d = m[3];
  } else {
    int any = 0, scale = 0;
    GetTableNumber(L, index, "scalex", &t->scaleX, &scale);
    GetTableNumber(L, index, "scaley", &t->scaleY, &scale);
    if (t->scaleX == 0 || t->scaleY == 0) return ERR_WRONGUSAGE;
    any |= scale;
    if (!scale && !(flags & VL_TAGS_NOSIZE)) {
      int32_t w = 0, h = 0;
      GetTableInt(L, index, "width", &w, nullptr);
      GetTableInt(L, index, "height", &h, nullptr);
      if (w) t->targetWidth = w, any = 1;
      if (h) t->targetHeight = h, any = 1;
      if (t->targetWidth < 0 || t->targetHeight < 0) return ERR_BADDIMENSIONS;
    }
    int rotate = 0;
    if (!(flags & VL_TAGS_NOROTATE) && GetTableNumber(L, index, "rotate", &t->angle, &rotate)) {
      t->angle = std::fmod(t->angle, 360.0);
      if ((flags & VL_TAGS_SMOOTHROTATE) && t->angle != 0) t->smooth = smoothDefault ? 1 : 0;
      any = 1;
    }
    if (any)
      BuildTransformMatrix(t, t->targetWidth, t->targetHeight, sw, sh, t->scaleX, t->scaleY, t->angle);
    else if (!defaultTransform)
      t->fixedMatrix = 0;
  }
  int smooth = 0;
  if (GetTableBool(L, index, "smoothscale", &smooth, nullptr)) t->smooth = smooth;
  GetTableNumber(L, index, "anchorx", &t->anchorX, nullptr);
  GetTableNumber(L, index, "anchory", &t->anchorY, nullptr);
  if (!(t->anchorX >= 0 && t->anchorX <= 1) || !(t->anchorY >= 0 && t->anchorY <= 1)) return ERR_WRONGUSAGE;
  if (!tags) return 0;

  vlLayerOptions& f = tags->form;
  int hidden = 0;
  if (GetTableBool(L, index, "hidden", &hidden, nullptr)) f.hidden = hidden;
  int found = 0;
  const int32_t transparency = Level255(L, index, "transparency", &found);
  if (found) f.transparency = static_cast<uint32_t>(transparency);
  int tintGiven = 0;
  const int32_t tint = Level255(L, index, "tint", &tintGiven);
  vlLayerFilter& tf = f.filters[16];
  if (tintGiven) {
    tf.ints[1] = tint;
    tf.active = tint > 0;
  }
  int32_t tintColor;
  if (GetTableInt(L, index, "tintcolor", &tintColor, nullptr)) tf.ints[0] = tintColor;
  int32_t insert = 0, insertGiven = 0;
  const int32_t layerCount = CountLayers(vlCurrentOutput);
  if (GetTableLayerID(L, index, "insertpos", &insert, &insertGiven)) {
    if (insert < 0) return ERR_INVINSERT;
    f.insertPos = insert > layerCount + 1 ? layerCount + 1 : insert;
  }
  if (int status = ParseShadowTags(L, index, &f.shadow, nullptr)) return status;
  if (int status = ParseBorderTags(L, index, 0, &f.border, nullptr)) return status;
  int filterError = 0;
  if (!ParseLayerFilters(L, index, f.filters, nullptr, &filterError) && filterError) return filterError;
  tags->needsLayerProcessing = f.hidden || f.transparency || LayerHasFilters(f.filters) || f.shadow.on ||
                               f.border.on || (f.insertPos != 0 && f.insertPos != layerCount + 1);
  char name[300] = "";
  int nameGiven = 0;
  GetTableString(L, index, "name", name, sizeof name, &nameGiven);
  if (nameGiven) {
    if (strlen(name) > 255) return ERR_NAMETOOLONG;
    memcpy(f.name, name, strlen(name) + 1);
  }
  return 0;
}

int ApplyDrawTagsEffects(const vlLayerOptions* form, vlBitmap* image, vlBitmap** mask, vlBitmap** alpha,
                         int32_t width, int32_t height) {
  if (!form || !image || (CurrentDisplay() && CurrentDisplay()->layersOn)) return 0;
  if (LayerHasFilters(form->filters)) ApplyLayerFilters(form->filters, image, *mask, *alpha, width, height, 0);
  const uint32_t t = form->transparency;
  if (!t) return 0;
  const uint8_t level = static_cast<uint8_t>(255 - (t > 255 ? 255 : t));
  if (*alpha) {
    ScaleAlphaPlane(*alpha, *alpha, level);
    return 0;
  }
  vlBitmap* plane = NewAlphaPlane(width, height, 1, nullptr, 0);
  if (!plane) return ERR_ALLOCALPHA;
  if (*mask) {
    MaskToAlphaBytes(*mask, 0, 0, plane, 0, 0, width, height, level);
    DeleteMaskPlane(*mask);
    *mask = nullptr;
  } else {
    FillAlphaRect(plane, 0, 0, width, height, level);
  }
  *alpha = plane;
  return 0;
}

void ResetDrawTagDefaults() {
  DefaultLayerTransform(&gDefaults.transform);
  BuiltInForm(&gDefaults.form);
  gDefaults.ready = true;
}

int SetDrawTagDefaults(vlVMState* L, int index) {
  Defaults& d = CurrentDefaults();
  vlLayerTransform t = d.transform;
  vlDrawTags form = d.form;
  // Sizes belong to one object, not to every object.
  if (int status = ParseDrawTags(L, index, 100, 100, 100, 100, t.smooth, &t, &form, VL_TAGS_NOSIZE)) return status;
  vlLayerTransform kept;
  DefaultLayerTransform(&kept);
  kept.scaleX = t.scaleX, kept.scaleY = t.scaleY, kept.angle = t.angle;
  kept.smooth = t.smooth, kept.anchorX = t.anchorX, kept.anchorY = t.anchorY;
  d.transform = kept;
  form.needsLayerProcessing = 0;
  d.form = form;
  return 0;
}
