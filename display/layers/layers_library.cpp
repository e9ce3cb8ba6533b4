// The "layers" command library: switching layers on and off, showing,
// hiding and removing layers, finding them, and collision tests.
#include <cstring>
#include <strings.h>

#include "display/bgpic.h"
#include "display/layer_hooks.h"
#include "display/layers/layers.h"
#include "graphics/bitmap.h"
#include "graphics/geometry.h"
#include "runtime/error_vm.h"
#include "runtime/errors.h"
#include "runtime/object_data.h"
#include "runtime/objects.h"
#include "vm/argreaders.h"
#include "vm/auxlib.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"
#include "vm/value.h"

namespace {

vlDirtyRects gScratch;

void HookRedraw(vlVMState* state, vlDisplay* display, vlBGPic* pic, vlBitmap* dest, int32_t x, int32_t y,
                int32_t width, int32_t height, int32_t mode) {
  RedrawLayers(state, display, pic, dest, x, y, width, height, mode == 1 ? 1 : 0);
}
void HookFreeLayers(vlVMState* state, vlBGPic* pic) { FreeBGPicLayers(state, pic, 0, 1); }
int HookCount(const vlBGPic* pic) { return CountLayers(pic); }

// The checks every layer command makes first.
int CheckLayers() {
  vlDisplay* d = vlCurrentDisplay;
  if (!d) return ERR_NOLAYERS;
  if (d->outputType == VL_OUTPUT_BRUSH)
    return vlCurrentOutput && vlCurrentOutput->kind == 4 ? ERR_SELECTANIM : ERR_SELECTBRUSH;
  if (d->outputType == VL_OUTPUT_MASK) return ERR_SELECTMASK;
  if (d->outputType == VL_OUTPUT_ALPHA) return ERR_SELECTALPHACHANNEL;
  if (!d->layersOn) return ERR_NOLAYERS;
  return 0;
}

// A layer by position or name; 0 or an error code.
int LayerArg(vlVMState* L, int index, vlLayer** out) {
  int type = vl::GetTypeAt(L, index);
  if (type == VL_TNUMBER) {
    *out = GetLayerByPos(vlCurrentOutput, vl::CheckIntArg(L, index));
    return *out ? 0 : ERR_LAYERRANGE;
  }
  if (type == VL_TSTRING) {
    const char* name = vl::ToStringAt(L, index);
    *out = GetLayerByPos(vlCurrentOutput, FindLayerByName(vlCurrentOutput, name));
    if (*out) return 0;
    SetErrorArgument(name);
    return ERR_FINDLAYER;
  }
  SetErrorArgIndex(index);
  return ERR_STRORNUM;
}

// The layers a name or position selects: one layer, or a group.
int SelectLayers(vlVMState* L, int index, vlLayer** out, int max, int* count) {
  *count = 0;
  if (vl::GetTypeAt(L, index) == VL_TSTRING) {
    const char* name = vl::ToStringAt(L, index);
    if (!FindLayerByName(vlCurrentOutput, name)) {
      for (vlNode* n = vlCurrentOutput->layers.head; n->succ; n = n->succ) {
        auto* l = reinterpret_cast<vlLayer*>(n);
        if (!l->group[0] || strcasecmp(l->group, name) != 0) continue;
        if (*count == max) return ERR_INTERNAL;
        out[(*count)++] = l;
      }
      if (*count) return 0;
    }
  }
  if (int status = LayerArg(L, index, out)) return status;
  *count = 1;
  return 0;
}

int CmdEnableLayers(vlVMState* L) {
  CheckArgs(L, 0, 0, 0, 0);
  vlDisplay* d = vlCurrentDisplay;
  if (!d) return ERR_WRONGUSAGE;
  if (d->layersOn) return 0;
  if (gLayerHooks.asyncDrawOnDisplay(d)) return kErrAsyncLayerMode;
  if (d->doubleBuffer) return ERR_ENDDOUBLEBUFFER;
  if (d->outputType != VL_OUTPUT_DISPLAY) return kErrLayersOffscreen;
  if (d->bgpic && d->bgpic->sprites) return ERR_NOSPRITES;
  d->layersOn = 1;
  return 0;
}

int CmdDisableLayers(vlVMState* L) {
  CheckArgs(L, 0, 0, 0, 0);
  vlDisplay* d = vlCurrentDisplay;
  if (!d) return ERR_WRONGUSAGE;
  if (gLayerHooks.asyncDrawOnDisplay(d)) return kErrAsyncLayerMode;
  if (d->outputType != VL_OUTPUT_DISPLAY) return kErrLayersOffscreen;
  if (d->styleFlags & VL_DISPSTYLE_LAYERSCALE) return kErrLayerScaling;
  d->layersOn = 0;
  return 0;
}

int ShowHide(vlVMState* L, bool hide) {
  if (int status = CheckLayers()) return status;
  vlLayer* selected[256];
  int count;
  if (int status = SelectLayers(L, 1, selected, 256, &count)) return status;
  vlDisplay* d = vlCurrentDisplay;
  vlCurrentOutput->changed = 1;
  bool queue = d->outputType != VL_OUTPUT_BGPIC;
  if (queue) gScratch.count = 0;
  for (int i = 0; i < count; i++) {
    vlLayer* l = selected[i];
    // The area before and after the change.
    InvalidateLayer(L, queue ? &gScratch : &d->dirty, l, l->geometry[2]);
    l->hidden = hide ? 1 : 0;
  }
  if (queue) {
    MergeDirtyRects(&gScratch);
    RefreshDirtyRects(L, &gScratch);
  }
  return 0;
}

int CmdShowLayer(vlVMState* L) {
  CheckArgs(L, 1, 3, 0, 0);
  return ShowHide(L, false);
}
int CmdHideLayer(vlVMState* L) {
  CheckArgs(L, 1, 2, 0, 0);
  return ShowHide(L, true);
}

int CmdRemoveLayer(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  if (int status = CheckLayers()) return status;
  vlLayer* selected[257];
  int count;
  if (int status = SelectLayers(L, 1, selected, 256, &count)) return status;
  vlDisplay* d = vlCurrentDisplay;
  bool queue = d->outputType != VL_OUTPUT_BGPIC;
  if (queue) gScratch.count = 0;
  for (int i = 0; i < count; i++)
    DeleteLayer(L, selected[i], 0, nullptr, nullptr, nullptr, nullptr, queue ? &gScratch : nullptr, 1);
  if (queue) {
    MergeDirtyRects(&gScratch);
    RefreshDirtyRects(L, &gScratch);
  }
  vlCurrentOutput->changed = 1;
  return 0;
}

int CmdLayerExists(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  if (int status = CheckLayers()) return status;
  const char* name = vl::CheckStringArg(L, 1, nullptr);
  vl::PushBoolean(L, FindLayerByName(vlCurrentOutput, name) != 0);
  return 1;
}

int CmdGetLayerAtPos(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  if (int status = CheckLayers()) return status;
  int32_t x = vl::CheckIntArg(L, 1), y = vl::CheckIntArg(L, 2);
  vlDisplay* d = vlCurrentDisplay;
  if ((d->styleFlags & VL_DISPSTYLE_LAYERSCALE) && d->scaleX > 0 && d->scaleY > 0) {
    x = static_cast<int32_t>(x * d->scaleX);
    y = static_cast<int32_t>(y * d->scaleY);
  }
  int32_t found = 0, pos = 1;
  const char* name = "";
  for (vlNode* n = vlCurrentOutput->layers.head; n->succ; n = n->succ, pos++) {
    auto* l = reinterpret_cast<vlLayer*>(n);
    const vlLayerGeometry* g = l->geometry[2];
    if (l->type == VL_LAYER_NOOBJECT || !g) continue;
    if (x >= g->drawnX && y >= g->drawnY && x < g->drawnX + g->drawnWidth && y < g->drawnY + g->drawnHeight) {
      found = pos;
      name = l->name ? l->name : "";
    }
  }
  vl::PushNumber(L, found);
  vl::PushString(L, name);
  return 2;
}

// A layer as a collision object: its drawn rectangle and planes, cut to its
// clip region.
int LayerObject(vlVMState* L, int index, vlCollisionObject* o) {
  vlLayer* layer;
  if (int status = LayerArg(L, index, &layer)) return status;
  vlLayerGeometry* g = layer->geometry[2];
  vlBitmap *image, *mask, *alpha;
  int32_t w, h;
  uint32_t extra;
  *o = {};
  o->x = g->drawnX, o->y = g->drawnY, o->width = g->drawnWidth, o->height = g->drawnHeight;
  if (GetLayerBitmaps(L, layer, g, 1, 1, -1, &image, &mask, &alpha, &w, &h, &extra) == 0) {
    o->mask = mask;
    o->alpha = alpha;
    o->maskX = g->fImage ? 0 : g->partX;
    o->maskY = g->fImage ? 0 : g->partY;
  }
  if (auto* clip = static_cast<const vlClipRegion*>(g->clipRegion)) {
    vlRectXYWH cut;
    IntersectRects({o->x, o->y, o->width, o->height}, {clip->x, clip->y, clip->width, clip->height}, &cut);
    o->maskX += cut.x - o->x;
    o->maskY += cut.y - o->y;
    o->x = cut.x, o->y = cut.y, o->width = cut.width, o->height = cut.height;
    o->clipMask = clip->mask;
    o->clipX = cut.x - clip->x;
    o->clipY = cut.y - clip->y;
  }
  return 0;
}

int BrushObject(vlVMState* L, int index, vlCollisionObject* o) {
  vlObjectId id;
  GetObjectIDArg(&id, L, index);
  vlBitmap* bitmap = nullptr;
  *o = {};
  if (int status = gLayerHooks.brushBitmap(L, id, &bitmap, &o->width, &o->height)) return status;
  o->x = vl::CheckIntArg(L, index + 1);
  o->y = vl::CheckIntArg(L, index + 2);
  return 0;
}

int CmdCollision(vlVMState* L) {
  CheckArgs(L, 3, 10, 0, 0);
  int32_t kind = vl::CheckIntArg(L, 1);
  vlCollisionObject a{}, b{};
  auto box = [&](int i, vlCollisionObject* o) {
    *o = {};
    o->x = vl::CheckIntArg(L, i), o->y = vl::CheckIntArg(L, i + 1);
    o->width = vl::CheckIntArg(L, i + 2), o->height = vl::CheckIntArg(L, i + 3);
  };
  int result = 0;
  switch (kind) {
    case 14:
      box(2, &a);
      box(6, &b);
      result = BoxesCollide(a.x, a.y, a.width, a.height, b.x, b.y, b.width, b.height);
      break;
    case 3:
      if (int s = BrushObject(L, 2, &a)) return s;
      if (int s = BrushObject(L, 5, &b)) return s;
      result = CollidePixels(a, b);
      break;
    case 46:
      if (int s = BrushObject(L, 2, &a)) return s;
      box(5, &b);
      result = CollidePixels(a, b);
      break;
    case 22:
    case 47: {
      if (vlCurrentDisplay && !vlCurrentDisplay->layersOn) return ERR_NOLAYERS;
      if (int s = LayerObject(L, 2, &a)) return s;
      if (kind == 22) {
        if (int s = LayerObject(L, 3, &b)) return s;
      } else {
        box(3, &b);
        vlDisplay* d = vlCurrentDisplay;
        if (d && d->scaleX > 0 && d->scaleY > 0) {
          b.x = static_cast<int32_t>(b.x * d->scaleX), b.width = static_cast<int32_t>(b.width * d->scaleX);
          b.y = static_cast<int32_t>(b.y * d->scaleY), b.height = static_cast<int32_t>(b.height * d->scaleY);
        }
      }
      result = CollidePixels(a, b);
      break;
    }
    default:
      // Sprites are not on screen without the sprite library.
      return ERR_WRONGUSAGE;
  }
  vl::PushNumber(L, result);
  return 1;
}

const vlCommand kLayersCommands[] = {
    {"EnableLayers", CmdEnableLayers},
    {"DisableLayers", CmdDisableLayers},
    {"ShowLayer", CmdShowLayer},
    {"HideLayer", CmdHideLayer},
    {"RemoveLayer", CmdRemoveLayer},
    {"Collision", CmdCollision},
    {"LayerExists", CmdLayerExists},
    {"GetLayerAtPos", CmdGetLayerAtPos},
    {nullptr, nullptr},
};

}  // namespace

void InstallLayerHooks() {
  gLayerHooks.redrawLayers = HookRedraw;
  gLayerHooks.freeBGPicLayers = HookFreeLayers;
  gLayerHooks.countLayers = HookCount;
}

int OpenLayersLib(vlVMState* L) {
  vl::PushSlotCopy(L, vl::kGlobalsIndex);
  vl::RegisterCommands(L, nullptr, kLayersCommands, 0);
  vl::SetStackTop(L, -2);
  if (int status = RegisterLibrary(kLayersCommands, "layers")) return status;
  delete[] gScratch.rects;
  gScratch = {};
  gScratch.rects = new (std::nothrow) int32_t[4 * 1024];
  if (!gScratch.rects) return ERR_MEM;
  gScratch.capacity = 1024;
  InstallLayerHooks();
  return 0;
}

void ShutdownLayerSystem(vlVMState*) {
  delete[] gScratch.rects;
  gScratch = {};
}
