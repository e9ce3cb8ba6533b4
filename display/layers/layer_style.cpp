// The layer attribute engine: a table of keys applied to existing layers
// (SetLayerStyle and the commands that build such a table), doing only the
// work a change needs, and its mirror GetLayerStyle.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <vector>

#include "display/bgpic.h"
#include "display/layers/layer_index.h"
#include "display/layers/async_draw.h"
#include "display/layers/clip_regions.h"
#include "display/layers/layers.h"
#include "graphics/position.h"
#include "runtime/errors.h"
#include "runtime/option_readers.h"
#include "vm/argreaders.h"
#include "vm/convert.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"
#include "vm/value.h"

namespace {

vlDirtyRects gStyleDirty;

constexpr int kTintSlot = 16;

bool IsPictureType(uint32_t type) {
  return type == VL_LAYER_BRUSH || type == VL_LAYER_BRUSHPART || type == VL_LAYER_BGPICPART ||
         type == VL_LAYER_VIDEO;
}

int AbsIndex(vlVMState* L, int index) {
  return index < 0 && index > vl::kRegistryIndex ? vl::GetStackTop(L) + index + 1 : index;
}

bool Has(vlVMState* L, int table, const char* key) {
  vl::PushString(L, key);
  vl::RawGetTableValue(L, table);
  bool present = vl::GetTypeAt(L, -1) != VL_TNIL;
  vl::SetStackTop(L, -2);
  return present;
}

// A number or a percentage string of total; false when absent.
bool NumberOrPercent(vlVMState* L, int table, const char* key, double total, double* out, int* percent) {
  int found = 0;
  *percent = 0;
  GetTableNumberOrPercent(L, table, key, out, total, 1, percent, &found);
  return found != 0;
}

void AddOuter(vlVMState* L, vlLayer* layer) { InvalidateLayer(L, &gStyleDirty, layer, layer->geometry[2]); }

bool SameFilters(const vlLayerFilter* a, const vlLayerFilter* b) {
  return memcmp(a, b, sizeof(vlLayerFilter) * VL_LAYER_FILTERS) == 0;
}

// Types that show another object, named by "id".
bool IsObjectType(uint32_t type) {
  return type == VL_LAYER_BRUSH || type == VL_LAYER_BRUSHPART || type == VL_LAYER_BGPICPART ||
         type == VL_LAYER_ANIM || type == VL_LAYER_TEXTOBJECT;
}

// The orphan kind bit of the objects a layer type shows.
int32_t OrphanKind(uint32_t type) {
  switch (type) {
    case VL_LAYER_BRUSH:
    case VL_LAYER_BRUSHPART: return 1;
    case VL_LAYER_ANIM: return 2;
    case VL_LAYER_TEXTOBJECT: return 4;
    case VL_LAYER_BGPICPART: return 8;
    default: return 0;
  }
}

// Types a layer may be turned into: those some display routine makes.
bool CanBecome(uint32_t type) {
  if (IsObjectType(type)) return FindLayerSource(type) != nullptr || type == VL_LAYER_BGPICPART;
  const vlLayerSource* source = FindLayerSource(type);
  return source && source->applyStyle;
}

// The layer's records give way to record, which becomes all three.
void ReplaceRecords(vlVMState* L, vlLayer* layer, vlLayerGeometry* record) {
  vlLayerGeometry** g = layer->geometry;
  if (g[2] != g[1] && g[2] != g[0]) FreeLayerGeometry(L, layer->type, g[2]);
  if (g[1] != g[0]) FreeLayerGeometry(L, layer->type, g[1]);
  FreeLayerGeometry(L, layer->type, g[0]);
  g[0] = g[1] = g[2] = record;
  NoteLayersChanged();
}

// The layer's source changed (another object, part, frame or description):
// its size follows the source, its pictures are made again.
int SourceChanged(vlVMState* L, vlLayer* layer) {
  vlLayerGeometry* g0 = layer->geometry[0];
  const vlLayerSource* source = FindLayerSource(layer->type);
  if (source && source->applyStyle) {
    // Drawn types render their description untransformed into record [0].
    vlLayerTransform plain;
    DefaultLayerTransform(&plain);
    plain.anchorX = layer->anchorX;
    plain.anchorY = layer->anchorY;
    vlLayerRect rect{0, 0, -1, -1, 1};
    if (int status = BuildLayerImage(L, layer, g0, &plain, 16, &rect)) return status;
    g0->anchoredX = g0->x - static_cast<int32_t>(g0->width * layer->anchorX);
    g0->anchoredY = g0->y - static_cast<int32_t>(g0->height * layer->anchorY);
  } else if (IsObjectType(layer->type)) {
    vlBitmap *image, *mask, *alpha;
    int32_t w, h;
    uint32_t extra;
    if (int status = GetLayerBitmaps(L, layer, g0, 0, 0, -1, &image, &mask, &alpha, &w, &h, &extra)) return status;
    if (!g0->image && (layer->type == VL_LAYER_BRUSH || layer->type == VL_LAYER_ANIM || g0->width < 1)) {
      g0->width = w - g0->partX * (layer->type != VL_LAYER_ANIM);
      g0->height = h - g0->partY * (layer->type != VL_LAYER_ANIM);
    }
  }
  UpdateTransformMatrix(&layer->transform, g0->width, g0->height);
  FreeLayerBitmaps(layer);
  FreeLayerBorders(layer);
  ReleaseLayerGeometryCaches(layer);
  if (!IsIdentityTransform(&layer->transform) || layer->geometry[2] != layer->geometry[0] ||
      DisplayScalesLayers(CurrentDisplay())) {
    if (int status = RebuildLayerImage(L, layer, 2)) return status;
  } else if (!(source && source->applyStyle)) {
    g0->anchoredX = g0->x - static_cast<int32_t>(g0->width * layer->anchorX);
    g0->anchoredY = g0->y - static_cast<int32_t>(g0->height * layer->anchorY);
    g0->drawnX = g0->anchoredX;
    g0->drawnY = g0->anchoredY;
    g0->drawnWidth = g0->width;
    g0->drawnHeight = g0->height;
    NoteLayersChanged();
  }
  return 0;
}

// Asks the object a source key names for its pictures through a scratch
// record, so that a bad id fails before the layer shows it. frames: an
// anim's frame count.
int ProbeSource(vlVMState* L, const vlLayer* layer, uint32_t type, vlObjectId id, uint32_t* frames) {
  vlLayerGeometry* g = NewLayerGeometry();
  if (!g) return ERR_MEM;
  vlLayer probe = *layer;
  probe.type = type;
  probe.source = id;
  probe.geometry[0] = probe.geometry[1] = probe.geometry[2] = g;
  vlBitmap *image, *mask, *alpha;
  int32_t w, h;
  uint32_t extra = 0;
  int status = GetLayerBitmaps(L, &probe, g, 0, 0, -1, &image, &mask, &alpha, &w, &h, &extra);
  FreeLayerGeometry(L, type, g);
  if (frames) *frames = extra;
  return status;
}

// The 0-based frame "frame" asks for: 0 the one after current (wrapping),
// -1 the last, else 1-based.
int FrameFromKey(int32_t frame, int32_t current, uint32_t count, int32_t* out) {
  int32_t frames = static_cast<int32_t>(count);
  if (frame == 0)
    *out = frames > 0 ? (current + 1) % frames : 0;
  else if (frame == -1)
    *out = frames - 1;
  else if (frame < 1 || frame > frames)
    return ERR_ANIMFRAME;
  else
    *out = frame - 1;
  return 0;
}

// Frees a staged record that did not become the layer's.
struct StagedRecord {
  vlVMState* L;
  uint32_t type = 0;
  vlLayerGeometry* record = nullptr;
  ~StagedRecord() {
    if (record) FreeLayerGeometry(L, type, record);
  }
};

}  // namespace

void SwitchLayerShadow(vlLayerShadow* shadow, int on) {
  // A shadow switched on for the first time starts from the defaults:
  // half-transparent black, 4 pixels down and right, radius 5.
  if (on && !shadow->on && shadow->radius < 1.0) *shadow = {1, 0x80000000u, 4, 3, 5.0, 5.0 / 3.0};
  shadow->on = on ? 1 : 0;
}

int ApplyLayerStyleTable(vlVMState* L, vlLayer* layer, int table, int group, int32_t* orphanMask) {
  table = AbsIndex(L, table);
  if (vl::GetTypeAt(L, table) != VL_TTABLE) {
    SetErrorArgIndex(table);
    return ERR_TABEXPECTED;
  }
  vlLayer copy = *layer;
  vlLayerTransform t = layer->transform;
  vlLayerGeometry* g0 = layer->geometry[0];
  bool sourceChanged = false, positionChanged = false, transformChanged = false, appearance = false,
       clipChanged = false;
  int32_t found = 0;

  // Type and source keys. A new part rectangle or anim frame waits for
  // the rebuild, so that a later bad key leaves the layer as it was.
  StagedRecord staged{L};
  int32_t newPart[4] = {0, 0, 0, 0}, newFrame = -1;
  bool partGiven = false;
  if (!group) {
    int32_t type = static_cast<int32_t>(layer->type);
    bool typeChanged = false;
    if (GetTableInt(L, table, "type", &type, &found) && static_cast<uint32_t>(type) != layer->type) {
      if (type == static_cast<int32_t>(VL_LAYER_VIDEO) || !CanBecome(static_cast<uint32_t>(type)))
        return ERR_WRONGUSAGE;
      typeChanged = true;
      copy.type = static_cast<uint32_t>(type);
      sourceChanged = true;
      *orphanMask |= OrphanKind(layer->type);
    }
    if (typeChanged && IsObjectType(copy.type)) {
      // A fresh description: the object and its part, from the layer's place.
      vlObjectId id;
      if (!GetTableObjectID(L, table, "id", &id, nullptr)) return ERR_MISSINGPARAMTR;
      // The new object must be there before the old description goes.
      uint32_t count = 0;
      if (int status = ProbeSource(L, layer, copy.type, id, &count)) return status;
      int32_t frame = 0, first = 0;
      if (copy.type == VL_LAYER_ANIM && GetTableInt(L, table, "frame", &frame, nullptr))
        if (int status = FrameFromKey(frame, 0, count, &first)) return status;
      vlLayerGeometry* g = NewLayerGeometry();
      if (!g) return ERR_MEM;
      staged.type = copy.type;
      staged.record = g;
      g->x = g0->x, g->y = g0->y;
      g->clipRegion = g0->clipRegion;
      copy.source = id;
      *orphanMask |= OrphanKind(copy.type);
      if (copy.type == VL_LAYER_ANIM) g->partX = first;
      if (copy.type != VL_LAYER_ANIM && copy.type != VL_LAYER_TEXTOBJECT) {
        int32_t part[4] = {0, 0, 0, 0};
        const char* keys[4] = {"partx", "party", "partwidth", "partheight"};
        bool anyPart = false;
        for (int i = 0; i < 4; i++)
          if (GetTableInt(L, table, keys[i], &part[i], nullptr)) anyPart = true;
        if (part[0] < 0 || part[1] < 0 || part[2] < 0 || part[3] < 0) return ERR_WRONGUSAGE;
        if (anyPart && copy.type == VL_LAYER_BRUSH) copy.type = staged.type = VL_LAYER_BRUSHPART;
        g->partX = part[0], g->partY = part[1];
        g->width = part[2], g->height = part[3];
      }
    } else if (IsPictureType(layer->type)) {
      vlObjectId id;
      if (layer->type != VL_LAYER_VIDEO && GetTableObjectID(L, table, "id", &id, nullptr)) {
        if (int status = ProbeSource(L, layer, layer->type, id, nullptr)) return status;
        copy.source = id;
        *orphanMask |= layer->type == VL_LAYER_BGPICPART ? 8 : 1;
        sourceChanged = true;
      }
      int32_t part[4] = {g0->partX, g0->partY, g0->width, g0->height};
      const char* keys[4] = {"partx", "party", "partwidth", "partheight"};
      bool anyPart = false;
      for (int i = 0; i < 4; i++)
        if (GetTableInt(L, table, keys[i], &part[i], nullptr)) anyPart = true;
      if (anyPart) {
        if (part[0] < 0 || part[1] < 0 || part[2] < 1 || part[3] < 1) return ERR_WRONGUSAGE;
        sourceChanged = true;
        if (copy.type == VL_LAYER_BRUSH) copy.type = VL_LAYER_BRUSHPART;
        memcpy(newPart, part, sizeof part);
        partGiven = true;
      }
    } else if (layer->type == VL_LAYER_TEXTOBJECT) {
      vlObjectId id;
      if (GetTableObjectID(L, table, "id", &id, nullptr)) {
        if (int status = ProbeSource(L, layer, layer->type, id, nullptr)) return status;
        copy.source = id;
        *orphanMask |= 4;
        sourceChanged = true;
      }
    } else if (layer->type == VL_LAYER_ANIM) {
      // A new anim starts at its first frame; "frame" counts in the anim
      // the layer will show.
      vlObjectId id;
      uint32_t count = 0;
      int32_t current = g0->partX;
      bool idGiven = GetTableObjectID(L, table, "id", &id, nullptr) != 0;
      if (idGiven) {
        if (int status = ProbeSource(L, layer, VL_LAYER_ANIM, id, &count)) return status;
        copy.source = id;
        current = newFrame = 0;
        *orphanMask |= 2;
        sourceChanged = true;
      }
      int32_t frame;
      if (GetTableInt(L, table, "frame", &frame, nullptr)) {
        if (!idGiven)
          if (int status = ProbeSource(L, layer, VL_LAYER_ANIM, layer->source, &count)) return status;
        if (int status = FrameFromKey(frame, current, count, &newFrame)) return status;
        sourceChanged = true;
      }
    }
    if (const vlLayerSource* source = FindLayerSource(copy.type); source && source->applyStyle) {
      // Shapes, text and paths: their own keys make a new description.
      vlLayerGeometry* record = nullptr;
      int given = 0;
      if (int status = source->applyStyle(L, layer, &copy, table, copy.type, typeChanged, &record, &given))
        return status;
      if (record) {
        staged.type = copy.type;
        staged.record = record;
        record->clipRegion = g0->clipRegion;
      }
      if (given) sourceChanged = true;
    }
  }

  // Transform keys.
  double matrix[4];
  int count = 0;
  if (GetTableNumberList(L, table, "transform", matrix, 4, 4, &count, &found)) {
    if (matrix[0] == 0 || matrix[3] == 0) return ERR_WRONGUSAGE;
    memcpy(t.fixed, matrix, sizeof matrix);
    t.fixedMatrix = 1;
    t.targetWidth = t.targetHeight = 0;
    t.angle = 0;
    t.scaleX = t.scaleY = 1.0;
    transformChanged = true;
  } else {
    double v;
    int percent;
    if (GetTableNumber(L, table, "scalex", &v, nullptr) && v != t.scaleX) {
      t.scaleX = v, t.targetWidth = 0, transformChanged = true;
    }
    if (GetTableNumber(L, table, "scaley", &v, nullptr) && v != t.scaleY) {
      t.scaleY = v, t.targetHeight = 0, transformChanged = true;
    }
    if (NumberOrPercent(L, table, "width", 0, &v, &percent)) {
      if (percent)
        t.scaleX = v, t.targetWidth = 0;
      else
        t.targetWidth = vl::DoubleToInt32(v), t.scaleX = 1.0;
      transformChanged = true;
    }
    if (NumberOrPercent(L, table, "height", 0, &v, &percent)) {
      if (percent)
        t.scaleY = v, t.targetHeight = 0;
      else
        t.targetHeight = vl::DoubleToInt32(v), t.scaleY = 1.0;
      transformChanged = true;
    }
    if (GetTableNumber(L, table, "rotate", &v, nullptr)) {
      v = std::fmod(v, 360.0);
      if (v != t.angle) t.angle = v, transformChanged = true;
    }
    if (t.targetWidth < 0 || t.targetHeight < 0 || t.scaleX == 0 || t.scaleY == 0) return ERR_BADDIMENSIONS;
    if (transformChanged) t.fixedMatrix = 0;
  }

  // Position keys.
  double ax = copy.anchorX, ay = copy.anchorY, v;
  if (GetTableNumber(L, table, "anchorx", &v, nullptr)) {
    if (v < 0 || v > 1) return ERR_WRONGUSAGE;
    ax = v, positionChanged = true;
  }
  if (GetTableNumber(L, table, "anchory", &v, nullptr)) {
    if (v < 0 || v > 1) return ERR_WRONGUSAGE;
    ay = v, positionChanged = true;
  }
  int32_t x = 100000, y = 100000;
  uint32_t relative = 0;
  if (GetTableInt(L, table, "translatex", &x, nullptr))
    relative |= 1, positionChanged = true;
  else if (GetTableInt(L, table, "x", &x, nullptr))
    positionChanged = true;
  if (GetTableInt(L, table, "translatey", &y, nullptr))
    relative |= 2, positionChanged = true;
  else if (GetTableInt(L, table, "y", &y, nullptr))
    positionChanged = true;
  // A print layer given its cursor is placed by it, not by a position.
  if (!group && positionChanged && (Has(L, table, "cursorx") || Has(L, table, "cursory")))
    return ERR_WRONGUSAGE;

  // Appearance keys.
  int32_t smooth;
  if (GetTableInt(L, table, "smoothscale", &smooth, nullptr)) t.smooth = smooth ? 1 : 0;
  int percent;
  if (NumberOrPercent(L, table, "transparency", 255, &v, &percent)) {
    auto level = static_cast<uint32_t>(std::clamp(vl::DoubleToInt32Saturated(v), 0, 255));
    if (level != copy.transparency) copy.transparency = level, appearance = true;
  }
  int filtersGiven = 0, error = 0;
  ParseLayerFilters(L, table, copy.filters, &filtersGiven, &error);
  if (error) return error;
  if (filtersGiven) appearance = true;
  if (NumberOrPercent(L, table, "tint", 255, &v, &percent)) {
    int32_t level = std::clamp(vl::DoubleToInt32Saturated(v), 0, 255);
    copy.filters[kTintSlot].ints[1] = level;
    copy.filters[kTintSlot].active = level != 0;
    appearance = true;
  }
  int32_t color;
  if (GetTableInt(L, table, "tintcolor", &color, nullptr)) {
    copy.filters[kTintSlot].ints[0] = color;
    appearance = true;
  }
  int32_t clear = 0;
  if (GetTableInt(L, table, "clearfilters", &clear, nullptr) && clear) {
    memset(copy.filters, 0, sizeof copy.filters);
    appearance = true;
  }
  int32_t hidden;
  if (GetTableInt(L, table, "hidden", &hidden, nullptr)) copy.hidden = hidden ? 1 : 0, appearance = true;
  // The group a layer belongs to: layer arguments that name no layer
  // select every layer of that group. "" leaves the group.
  char groupName[258];
  if (GetTableString(L, table, "group", groupName, sizeof groupName, nullptr)) {
    if (std::strlen(groupName) >= sizeof copy.group) return ERR_NAMETOOLONG;
    if (groupName[0] && FindLayerByName(vlCurrentOutput, groupName)) return kErrLayerNameUsed;
    std::memcpy(copy.group, groupName, std::strlen(groupName) + 1);
  }
  int32_t on, iv;
  double dv;
  if (GetTableInt(L, table, "shadow", &on, nullptr)) {
    SwitchLayerShadow(&copy.shadow, on);
    appearance = true;
  }
  // The settings are kept while the shadow is off, for when it comes on;
  // a shadow never set up starts from the defaults.
  bool shadowKeys = false;
  for (const char* key : {"shadowcolor", "shadowdir", "shadowsize", "shadowradius", "shadowsigma"})
    shadowKeys = shadowKeys || Has(L, table, key);
  if (shadowKeys) {
    if (copy.shadow.radius < 1.0) {
      uint32_t wasOn = copy.shadow.on;
      SwitchLayerShadow(&copy.shadow, 1);
      copy.shadow.on = wasOn;
    }
    if (GetTableInt(L, table, "shadowcolor", &iv, nullptr)) copy.shadow.color = static_cast<uint32_t>(iv), appearance = true;
    if (GetTableInt(L, table, "shadowdir", &iv, nullptr)) copy.shadow.direction = static_cast<uint32_t>(iv) & 7, appearance = true;
    if (GetTableInt(L, table, "shadowsize", &iv, nullptr)) {
      if (iv < 0) return ERR_WRONGUSAGE;
      copy.shadow.size = iv, appearance = true;
    }
    if (GetTableNumber(L, table, "shadowradius", &dv, nullptr)) {
      if (!(dv >= 1.0)) return ERR_WRONGUSAGE;
      copy.shadow.radius = dv, appearance = true;
    }
    if (GetTableNumber(L, table, "shadowsigma", &dv, nullptr)) {
      if (!(dv > 0)) return ERR_WRONGUSAGE;
      copy.shadow.sigma = dv, appearance = true;
    }
    if (copy.shadow.radius < 1.0) copy.shadow.radius = 5.0;
    if (!(copy.shadow.sigma > 0)) copy.shadow.sigma = copy.shadow.radius / 3.0;
  }
  if (GetTableInt(L, table, "border", &on, nullptr)) copy.border.on = on ? 1 : 0, appearance = true;
  for (const char* key : {"bordercolor", "edgecolor"})
    if (GetTableInt(L, table, key, &iv, nullptr)) copy.border.color = static_cast<uint32_t>(iv), appearance = true;
  for (const char* key : {"bordersize", "edgesize", "outlinethickness"})
    if (GetTableInt(L, table, key, &iv, nullptr)) {
      if (iv < 1) return ERR_WRONGUSAGE;
      copy.border.size = static_cast<uint32_t>(iv), appearance = true;
    }
  if (copy.border.on && copy.border.size < 1) copy.border.size = 2;

  // Filters that move pixels change the geometry flag; changed slots drop
  // the filtered copies.
  copy.geometricFilters = 0;
  for (int i = 0; i < VL_LAYER_FILTERS; i++)
    if (copy.filters[i].active && IsGeometricFilter(i)) copy.geometricFilters = 1;
  bool filtersChanged = !SameFilters(copy.filters, layer->filters);
  if (filtersChanged) FreeLayerBitmaps(layer);

  // Clip region: -1 removes it; the layer's records share the region.
  if (Has(L, table, "clipregion")) {
    vlObjectId clipId{};
    GetTableObjectID(L, table, "clipregion", &clipId, nullptr);
    void* region = nullptr;
    if (!(clipId.number == -1 && !clipId.handle)) {
      vlClipRegionObject* r;
      if (int status = GetClipRegionByID(clipId, &r)) return status;
      if (r->locked) return ERR_LOCKEDOBJ;
      region = &r->region;
    }
    // The turned copies of the separate records go; the rebuild below
    // makes new ones from the new region.
    vlLayerGeometry** g = layer->geometry;
    if (g[2] != g[1] && g[2] != g[0]) ReleaseClipRegionCopy(g[2]->clipRegion);
    if (g[1] != g[0]) ReleaseClipRegionCopy(g[1]->clipRegion);
    for (vlLayerGeometry* r : layer->geometry) r->clipRegion = region;
    // A description rebuilt by this table takes the new region too.
    if (staged.record) staged.record->clipRegion = region;
    clipChanged = true;
  }
  int32_t noClip;
  if (GetTableInt(L, table, "nocliptransform", &noClip, nullptr)) {
    layer->clipUntransformed = noClip ? 1 : 0;
    clipChanged = true;
  }

  // Stacking position.
  if (Has(L, table, "z")) {
    int32_t z;
    GetTableLayerID(L, table, "z", &z, nullptr);
    if (MoveLayerInList(layer, z)) {
      vlCurrentOutput->changed = 1;
      appearance = true;
    }
  }

  bool shadowChanged = memcmp(&copy.shadow, &layer->shadow, sizeof copy.shadow) != 0;
  bool borderChanged = memcmp(&copy.border, &layer->border, sizeof copy.border) != 0;
  if (shadowChanged || borderChanged || filtersChanged || copy.hidden != layer->hidden) AddOuter(L, layer);
  if (shadowChanged || filtersChanged || borderChanged) {
    FreeLayerBitmaps(layer);
    ReleaseLayerGeometryCaches(layer);
  }
  if (borderChanged) FreeLayerBorders(layer);

  // Appearance fields and the anchor go into the layer.
  std::memcpy(layer->group, copy.group, sizeof layer->group);
  layer->hidden = copy.hidden;
  layer->transparency = copy.transparency;
  layer->shadow = copy.shadow;
  layer->border = copy.border;
  NoteLayersChanged();
  memcpy(layer->filters, copy.filters, sizeof copy.filters);
  layer->geometricFilters = copy.geometricFilters;

  if (sourceChanged) {
    AddOuter(L, layer);
    if (staged.record) {
      // A video no longer shown stops rather than feed a layer of another type.
      if (layer->type == VL_LAYER_VIDEO && copy.type != VL_LAYER_VIDEO) StopLayerVideo(L, layer);
      ReplaceRecords(L, layer, staged.record);
      staged.record = nullptr;
      // Drawn types show no object; the new description is the source.
      if (!IsObjectType(copy.type)) copy.source = {};
    }
    if (partGiven) g0->partX = newPart[0], g0->partY = newPart[1], g0->width = newPart[2], g0->height = newPart[3];
    if (newFrame >= 0) g0->partX = newFrame;
    layer->source = copy.source;
    layer->type = copy.type;
    layer->anchorX = t.anchorX = ax;
    layer->anchorY = t.anchorY = ay;
    layer->transform = t;
    if (int status = SourceChanged(L, layer)) return status;
    // A polygon's new vertices are placed from the given position.
    if (positionChanged && layer->type == VL_LAYER_POLYGON && Has(L, table, "vertices")) {
      if (x != 100000 && !(relative & 1)) x += layer->geometry[0]->x;
      if (y != 100000 && !(relative & 2)) y += layer->geometry[0]->y;
    } else if (positionChanged) {
      // Position constants place the layer by the size of what it now shows.
      const vlLayerGeometry* shown = layer->geometry[0];
      if (x != 100000 && !(relative & 1)) x = ResolvePosX(x, shown->width, vlCurrentOutput->width, layer->anchorX);
      if (y != 100000 && !(relative & 2)) y = ResolvePosY(y, shown->height, vlCurrentOutput->height, layer->anchorY);
    }
    if (positionChanged) MoveLayerTo(L, layer, nullptr, x, y, 1, relative, nullptr);
    AddOuter(L, layer);
    return 0;
  }
  if (!positionChanged && !transformChanged && !appearance && !clipChanged) return 0;
  if (!positionChanged && !transformChanged && !clipChanged) {
    if (filtersChanged && FindAsyncDrawOwner(layer, 0)) BroadcastAsyncDraw(1, layer);
    AddOuter(L, layer);
    return 0;
  }
  if (clipChanged && layer->geometry[1] != layer->geometry[0]) transformChanged = true;
  AddOuter(L, layer);
  if (positionChanged) {
    if (ax != layer->anchorX || ay != layer->anchorY) {
      layer->anchorX = t.anchorX = ax;
      layer->anchorY = t.anchorY = ay;
      layer->transform.anchorX = ax;
      layer->transform.anchorY = ay;
      // The given point stays; the anchor moves the picture around it.
      if (x == 100000 && y == 100000 && !relative) x = g0->x, y = g0->y;
      if (!transformChanged && IsIdentityTransform(&layer->transform)) {
        for (vlLayerGeometry* g : layer->geometry) {
          g->anchoredX = g->x - static_cast<int32_t>(g0->width * ax);
          g->anchoredY = g->y - static_cast<int32_t>(g0->height * ay);
          g->drawnX = g->anchoredX;
          g->drawnY = g->anchoredY;
        }
        NoteLayersChanged();
      } else {
        transformChanged = true;
      }
    }
    if (x != 100000 && !(relative & 1)) x = ResolvePosX(x, g0->width, vlCurrentOutput->width, ax);
    if (y != 100000 && !(relative & 2)) y = ResolvePosY(y, g0->height, vlCurrentOutput->height, ay);
    MoveLayerTo(L, layer, nullptr, x, y, 0, relative, &gStyleDirty);
  }
  if (!transformChanged) {
    layer->transform.smooth = t.smooth;
    if (filtersChanged && FindAsyncDrawOwner(layer, 0)) BroadcastAsyncDraw(1, layer);
    return 0;
  }
  t.anchorX = layer->anchorX;
  t.anchorY = layer->anchorY;
  UpdateTransformMatrix(&t, g0->width, g0->height);
  layer->transform = t;
  vlLayerGeometry** g = layer->geometry;
  if (IsIdentityTransform(&t) && !DisplayScalesLayers(CurrentDisplay())) {
    // Back to the untransformed picture: the separate records go.
    if (g[2] != g[1] && g[2] != g[0]) FreeLayerGeometry(L, layer->type, g[2]);
    if (g[1] != g[0]) FreeLayerGeometry(L, layer->type, g[1]);
    g[1] = g[2] = g[0];
    NoteLayersChanged();
    g[0]->anchoredX = g[0]->x - static_cast<int32_t>(g[0]->width * t.anchorX);
    g[0]->anchoredY = g[0]->y - static_cast<int32_t>(g[0]->height * t.anchorY);
    g[0]->drawnX = g[0]->anchoredX;
    g[0]->drawnY = g[0]->anchoredY;
    g[0]->drawnWidth = g[0]->width;
    g[0]->drawnHeight = g[0]->height;
    NoteLayersChanged();
  } else if (int status = RebuildLayerImage(L, layer, 2)) {
    return status;
  }
  AddOuter(L, layer);
  return 0;
}

int SetLayerStylePairsAt(vlVMState* L, int first, int count, int noRefresh) {
  if (int status = CheckLayerCommand()) return status;
  vlBGPic* pic = vlCurrentOutput;
  ClearDirtyRects(&gStyleDirty);
  int32_t orphans = 0;
  int status = 0;
  for (int k = first; !status && k + 1 <= first + count - 1; k += 2) {
    if (vl::GetTypeAt(L, k) == VL_TSTRING && !FindLayerByName(pic, vl::ToStringAt(L, k))) {
      const char* name = vl::ToStringAt(L, k);
      // The group's members are taken before any is applied: a "z" key
      // moves them about the list being walked.
      std::vector<vlLayer*> members;
      for (vlNode* n = pic->layers.head; n->succ; n = n->succ) {
        auto* l = reinterpret_cast<vlLayer*>(n);
        if (l->group[0] && strcasecmp(l->group, name) == 0) members.push_back(l);
      }
      if (members.empty()) {
        SetErrorArgument(name);
        status = ERR_FINDLAYER;
      }
      for (size_t i = 0; !status && i < members.size(); i++)
        status = ApplyLayerStyleTable(L, members[i], k + 1, 1, &orphans);
      continue;
    }
    vlLayer* layer;
    status = GetLayerArg(L, k, &layer);
    if (!status) status = ApplyLayerStyleTable(L, layer, k + 1, 0, &orphans);
  }
  // What the pairs before a failing one changed stays, so it is shown too.
  vlDisplay* d = CurrentDisplay();
  if (!noRefresh && HasDirtyRects(gStyleDirty)) {
    if (d->outputType == VL_OUTPUT_BGPIC) {
      if (IsAllDirty(gStyleDirty)) MarkAllDirty(&d->dirty);
      for (int32_t i = 0; i < gStyleDirty.count; i++) {
        const int32_t* e = gStyleDirty.rects + 4 * i;
        AddDirtyRect(&d->dirty, e[0], e[1], e[2] + 1 - e[0], e[3] + 1 - e[1], 1);
      }
    } else {
      MergeDirtyRects(&gStyleDirty);
      RefreshDirtyRects(L, &gStyleDirty);
    }
  }
  ClearDirtyRects(&gStyleDirty);
  if (orphans) FreeOrphanedObjects(L, orphans);
  pic->changed = 1;
  return status;
}

int SetLayerStylePairs(vlVMState* L, int count, int noRefresh) { return SetLayerStylePairsAt(L, 1, count, noRefresh); }

int ApplyLayerPosFrame(vlVMState* L, vlLayer* layer, int32_t x, int32_t y, int32_t frame, int noRefresh) {
  int top = vl::GetStackTop(L);
  if (layer->name)
    vl::PushString(L, layer->name);
  else
    vl::PushNumber(L, GetLayerIndex(layer));
  vl::PushNewTable(L);
  SetTableNumber(L, "x", x);
  SetTableNumber(L, "y", y);
  SetTableNumber(L, "frame", frame);
  int status = SetLayerStylePairsAt(L, top + 1, 2, noRefresh);
  vl::SetStackTop(L, top);
  return status;
}

namespace {

void SetIndexNumber(vlVMState* L, int n, double v) {
  vl::PushNumber(L, v);
  vl::RawSetTableIndex(L, -2, n);
}

}  // namespace

int GetLayerStyleTable(vlVMState* L, vlLayer* layer, const vlBGPic* pic) {
  const vlLayerGeometry* g0 = layer->geometry[0];
  const vlLayerTransform& t = layer->transform;
  vl::PushNewTable(L);
  if (IsObjectType(layer->type) || layer->type == VL_LAYER_VIDEO) {
    if (layer->source.handle)
      vl::PushPointer(L, layer->source.handle);
    else
      vl::PushNumber(L, layer->source.number);
    vl::PushString(L, "id");
    vl::InsertTopAt(L, -2);
    vl::RawSetTableValue(L, -3);
  }
  if (IsPictureType(layer->type)) {
    SetTableNumber(L, "partx", g0->partX);
    SetTableNumber(L, "party", g0->partY);
    SetTableNumber(L, "partwidth", g0->width);
    SetTableNumber(L, "partheight", g0->height);
  } else if (layer->type == VL_LAYER_ANIM) {
    SetTableNumber(L, "frame", g0->partX + 1);
  }
  if (const vlLayerSource* source = FindLayerSource(layer->type); source && source->writeStyle)
    source->writeStyle(L, layer);
  SetTableNumber(L, "type", layer->type);
  SetTableNumber(L, "x", g0->x);
  SetTableNumber(L, "y", g0->y);
  SetTableNumber(L, "width", t.targetWidth);
  SetTableNumber(L, "height", t.targetHeight);
  SetTableNumber(L, "rotate", t.angle);
  SetTableNumber(L, "scalex", t.scaleX);
  SetTableNumber(L, "scaley", t.scaleY);
  SetTableNumber(L, "anchorx", layer->anchorX);
  SetTableNumber(L, "anchory", layer->anchorY);
  SetTableNumber(L, "smoothscale", t.smooth);
  vl::PushString(L, "transform");
  vl::PushNewTable(L);
  for (int i = 0; i < 4; i++) SetIndexNumber(L, i, t.fixedMatrix ? t.fixed[i] : (i == 0 || i == 3 ? 1.0 : 0.0));
  vl::RawSetTableValue(L, -3);
  SetTableNumber(L, "transparency", layer->transparency);
  SetTableNumber(L, "tint", layer->filters[kTintSlot].active ? layer->filters[kTintSlot].ints[1] : 0);
  SetTableNumber(L, "tintcolor", static_cast<uint32_t>(layer->filters[kTintSlot].ints[0]));
  SetTableNumber(L, "hidden", layer->hidden);
  if (g0->clipRegion) {
    // The region sits right behind its object's head.
    const auto* r = reinterpret_cast<const vlClipRegionObject*>(static_cast<const char*>(g0->clipRegion) -
                                                               offsetof(vlClipRegionObject, region));
    vl::PushString(L, "clipregion");
    if (r->node.idHandle)
      vl::PushPointer(L, r->node.idHandle);
    else
      vl::PushNumber(L, r->node.idNumber);
    vl::RawSetTableValue(L, -3);
  } else {
    SetTableNumber(L, "clipregion", -1);
  }
  SetTableNumber(L, "shadow", layer->shadow.on);
  if (layer->shadow.on) {
    SetTableNumber(L, "shadowcolor", layer->shadow.color);
    SetTableNumber(L, "shadowdir", layer->shadow.direction);
    SetTableNumber(L, "shadowsize", layer->shadow.size);
    SetTableNumber(L, "shadowradius", layer->shadow.radius);
    SetTableNumber(L, "shadowsigma", layer->shadow.sigma);
  }
  SetTableNumber(L, "border", layer->border.on);
  SetTableNumber(L, "bordercolor", layer->border.color);
  SetTableNumber(L, "bordersize", layer->border.size);
  SetTableNumber(L, "outlinethickness", layer->border.size);
  SetTableNumber(L, "edgecolor", layer->border.color);
  SetTableNumber(L, "edgesize", layer->border.size);
  vl::PushString(L, "filters");
  vl::PushNewTable(L);
  int n = 0;
  for (int i = 0; i < VL_LAYER_FILTERS; i++) {
    const vlLayerFilter& f = layer->filters[i];
    if (!f.active) continue;
    vl::PushNewTable(L);
    SetTableString(L, "name", kLayerFilterNames[i]);
    SetTableNumber(L, "priority", f.priority);
    vl::PushString(L, "args");
    vl::PushNewTable(L);
    double args[6];
    int count = LayerFilterArgs(i, f, args);
    for (int k = 0; k < count; k++) SetIndexNumber(L, k, args[k]);
    vl::RawSetTableValue(L, -3);
    vl::RawSetTableIndex(L, -2, n++);
  }
  vl::RawSetTableValue(L, -3);
  SetTableString(L, "group", layer->group);
  SetTableString(L, "name", layer->name ? layer->name : "");
  SetTableNumber(L, "z", GetLayerIndexIn(pic, layer));
  return 1;
}

void ShutdownLayerStyle() {
  std::free(gStyleDirty.rects);  // grown with malloc, as every dirty list
  gStyleDirty = {};
}
