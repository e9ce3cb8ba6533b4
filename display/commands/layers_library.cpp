// The "layers" command library: switching layers on and off, showing,
// hiding and removing layers, finding them, and collision tests.
#include "display/commands/layers_library.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include <new>
#include <vector>

#include "display/layers/layer_index.h"
#include "display/layers/async_draw.h"
#include "display/layers/batched_refresh.h"
#include "display/layers/kept_blend.h"
#include "display/layers/engine_hooks.h"
#include "display/bgpic.h"
#include "display/layer_hooks.h"
#include "display/commands/layer_commands.h"
#include "display/commands/anim_layers.h"
#include "display/graphics_library/graphics_state.h"
#include "display/layers/layers.h"
#include "display/layers/layer_users.h"
#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "graphics/geometry.h"
#include "graphics/position.h"
#include "runtime/console.h"
#include "runtime/error_vm.h"
#include "runtime/errors.h"
#include "runtime/object_data.h"
#include "runtime/objects.h"
#include "vm/argreaders.h"
#include "vm/auxlib.h"
#include "vm/convert.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"
#include "vm/value.h"

namespace {

vlDirtyRects gScratch;

int CheckLayers() { return CheckLayerCommand(); }
int LayerArg(vlVMState* L, int index, vlLayer** out) { return GetLayerArg(L, index, out); }

// The layers one argument selects: a single layer, kept without room sized
// to the stack (most calls name one layer), or the members of a group in
// list order.
struct Selection {
  vlLayer* one = nullptr;
  std::vector<vlLayer*> group;
  vlLayer* const* layers() const { return group.empty() ? &one : group.data(); }
  int count() const { return group.empty() ? 1 : static_cast<int>(group.size()); }
};

// A name or position: one layer, or a group of at most max members (0: any
// number).
int SelectLayers(vlVMState* L, int index, Selection* out, size_t max) {
  if (vl::GetTypeAt(L, index) == VL_TSTRING) {
    const char* name = vl::ToStringAt(L, index);
    if (int32_t at = FindLayerByName(vlCurrentOutput, name)) {
      out->one = GetLayerByPos(vlCurrentOutput, at);
      return 0;
    }
    try {
      for (vlNode* n = vlCurrentOutput->layers.head; n->succ; n = n->succ) {
        auto* l = reinterpret_cast<vlLayer*>(n);
        if (!l->group[0] || strcasecmp(l->group, name) != 0) continue;
        if (max && out->group.size() == max) return ERR_INTERNAL;
        out->group.push_back(l);
      }
    } catch (const std::bad_alloc&) {
      return ERR_MEM;
    }
    if (!out->group.empty()) return 0;
  }
  return LayerArg(L, index, &out->one);
}

int CmdEnableLayers(vlVMState* L) {
  CheckArgs(L, 0, 0, 0, 0);
  vlDisplay* d = CurrentDisplay();
  if (!d) return ERR_WRONGUSAGE;
  if (d->layersOn) return 0;
  if (AsyncDrawOnDisplay(d)) return kErrAsyncLayerMode;
  if (d->doubleBuffer) return ERR_ENDDOUBLEBUFFER;
  if (d->outputType != VL_OUTPUT_DISPLAY) return kErrLayersOffscreen;
  if (d->bgpic && d->bgpic->sprites) return ERR_NOSPRITES;
  d->layersOn = 1;
  return 0;
}

int CmdDisableLayers(vlVMState* L) {
  CheckArgs(L, 0, 0, 0, 0);
  vlDisplay* d = CurrentDisplay();
  if (!d) return ERR_WRONGUSAGE;
  if (AsyncDrawOnDisplay(d)) return kErrAsyncLayerMode;
  if (d->outputType != VL_OUTPUT_DISPLAY) return kErrLayersOffscreen;
  if (d->styleFlags & VL_DISPSTYLE_LAYERSCALE) return kErrLayerScaling;
  if (vlCurrentOutput)
    for (vlNode* n = vlCurrentOutput->layers.head; n->succ; n = n->succ)
      StopLayerVideo(L, reinterpret_cast<vlLayer*>(n));
  d->layersOn = 0;
  return 0;
}

int ShowHide(vlVMState* L, bool hide) {
  if (int status = CheckLayers()) return status;
  Selection selection;
  if (int status = SelectLayers(L, 1, &selection, 0)) return status;
  vlLayer* const* selected = selection.layers();
  const int count = selection.count();
  // What the batched refresh counts as moved, made before anything changes.
  const void* mover = selection.one;
  std::vector<const void*> movers;
  try {
    movers.assign(selection.group.begin(), selection.group.end());
  } catch (const std::bad_alloc&) {
    return ERR_MEM;
  }
  vlDisplay* d = CurrentDisplay();
  vlCurrentOutput->changed = 1;
  bool queue = d->outputType != VL_OUTPUT_BGPIC;
  int32_t x = 100000, y = 100000;
  vlRectXYWH box{};
  if (!hide) {
    x = vl::OptIntArg(L, 2, 100000);
    y = vl::OptIntArg(L, 3, 100000);
    vlBGPic* pic = vlCurrentOutput;
    if (count == 1) {
      const vlLayerGeometry* g0 = selected[0]->geometry[0];
      if (x != 100000) x = ResolvePosX(x, g0->width, pic->width, selected[0]->anchorX);
      if (y != 100000) y = ResolvePosY(y, g0->height, pic->height, selected[0]->anchorY);
    } else {
      // A group moves as one: its bounding box's corner goes to (x, y).
      for (int i = 0; i < count; i++) {
        const vlLayerGeometry* g0 = selected[i]->geometry[0];
        vlRectXYWH r{g0->anchoredX, g0->anchoredY, g0->width, g0->height};
        box = i ? UnionRects(box, r) : r;
      }
      if (x != 100000) x = ResolvePosX(x, box.width, pic->width, 0);
      if (y != 100000) y = ResolvePosY(y, box.height, pic->height, 0);
    }
  }
  if (queue) ClearDirtyRects(&gScratch);
  for (int i = 0; i < count; i++) {
    vlLayer* l = selected[i];
    // The area before and after the change.
    InvalidateLayer(L, queue ? &gScratch : &d->dirty, l, l->geometry[2]);
    l->hidden = hide ? 1 : 0;
    if (!hide) {
      int32_t nx = x, ny = y;
      if (count > 1) {
        if (x != 100000) nx = l->geometry[0]->x + (x - box.x);
        if (y != 100000) ny = l->geometry[0]->y + (y - box.y);
      }
      MoveLayerTo(L, l, nullptr, nx, ny, 0, 0, queue ? &gScratch : nullptr);
    }
  }
  if (queue) {
    MergeDirtyRects(&gScratch);
    // A loop of moves is drawn as sprite moves are: merged with the rest
    // of the batch, each layer's every place still reaching the window.
    RefreshLayerMovesBatched(L, movers.empty() ? &mover : movers.data(), count, &gScratch);
  }
  return 0;
}

int CmdShowLayer(vlVMState* L) {
  CheckArgs(L, 1, 3, 0, 0);
  // Its moves report themselves to the layer index: the blend of the
  // layers below them stays kept.
  KeepLayerBlendThrough(L);
  const int status = ShowHide(L, false);
  KeepLayerBlendAfter(L);
  return status;
}
int CmdHideLayer(vlVMState* L) {
  CheckArgs(L, 1, 2, 0, 0);
  return ShowHide(L, true);
}

int CmdRemoveLayer(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  if (int status = CheckLayers()) return status;
  Selection selection;
  // More than 256 at once are refused before any goes.
  if (int status = SelectLayers(L, 1, &selection, 256)) return status;
  vlLayer* const* selected = selection.layers();
  const int count = selection.count();
  for (int i = 0; i < count; i++)
    if (FindAsyncDrawOwner(selected[i], 0)) return ERR_REMADLAYER;
  vlDisplay* d = CurrentDisplay();
  bool queue = d->outputType != VL_OUTPUT_BGPIC;
  if (queue) ClearDirtyRects(&gScratch);
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
  vlDisplay* d = CurrentDisplay();
  if ((d->styleFlags & VL_DISPSTYLE_LAYERSCALE) && d->scaleX > 0 && d->scaleY > 0) {
    x = static_cast<int32_t>(x * d->scaleX);
    y = static_cast<int32_t>(y * d->scaleY);
  }
  int32_t found = 0;
  const char* name = "";
  // The topmost layer whose drawn rectangle holds the point, hidden or not.
  auto consider = [&](const vlLayer* l, int32_t pos) {
    const vlLayerGeometry* g = l->geometry[2];
    if (l->type == VL_LAYER_NOOBJECT || !g) return;
    if (x >= g->drawnX && y >= g->drawnY && x < g->drawnX + g->drawnWidth && y < g->drawnY + g->drawnHeight) {
      found = pos;
      name = l->name ? l->name : "";
    }
  };
  vlBGPic* pic = vlCurrentOutput;
  std::vector<vlLayer*> layers;
  std::vector<int32_t> positions;
  if (x >= 0 && y >= 0 && x < pic->dispWidth && y < pic->dispHeight &&
      FindLayersMeeting(pic, {x, y, 1, 1}, &layers, &positions)) {
    for (size_t i = 0; i < layers.size(); i++) consider(layers[i], positions[i]);
  } else {
    int32_t pos = 1;
    for (vlNode* n = pic->layers.head; n->succ; n = n->succ, pos++) consider(reinterpret_cast<vlLayer*>(n), pos);
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
    // Only a part shown straight from its whole source picture sits at an
    // offset in it; an anim layer's partX is its frame.
    bool drawn = image == g->fImage || image == g->xImage || image == g->fxImage || image == g->image;
    bool part = layer->type == VL_LAYER_BRUSHPART || layer->type == VL_LAYER_BGPICPART;
    o->maskX = part && !drawn ? g->partX : 0;
    o->maskY = part && !drawn ? g->partY : 0;
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
  // Transparent pixels never collide: the brush's mask and alpha channel
  // take part in the pixel test.
  vlBitmap* picture = nullptr;
  int32_t w = 0, h = 0;
  if (GetObjectPictures(L, VL_OBJ_BRUSH, id, 0, &picture, &o->mask, &o->alpha, &w, &h)) o->mask = o->alpha = nullptr;
  o->x = vl::CheckIntArg(L, index + 1);
  o->y = vl::CheckIntArg(L, index + 2);
  return 0;
}

// A sprite as shown in the current BGPic: its box and the planes of its
// frame.
int SpriteObject(vlVMState* L, int index, vlCollisionObject* o) {
  vlObjectId id;
  GetObjectIDArg(&id, L, index);
  *o = {};
  return gLayerHooks.spriteOnScreen(id, &o->x, &o->y, &o->width, &o->height, &o->mask, &o->alpha);
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
      if (CurrentDisplay() && !CurrentDisplay()->layersOn) return ERR_NOLAYERS;
      if (int s = LayerObject(L, 2, &a)) return s;
      if (kind == 22) {
        if (int s = LayerObject(L, 3, &b)) return s;
      } else {
        box(3, &b);
        vlDisplay* d = CurrentDisplay();
        if (d && d->scaleX > 0 && d->scaleY > 0) {
          b.x = vl::DoubleToInt32(b.x * d->scaleX), b.width = vl::DoubleToInt32(b.width * d->scaleX);
          b.y = vl::DoubleToInt32(b.y * d->scaleY), b.height = vl::DoubleToInt32(b.height * d->scaleY);
        }
      }
      result = CollidePixels(a, b);
      break;
    }
    case 32:
      if (int s = SpriteObject(L, 2, &a)) return s;
      if (int s = SpriteObject(L, 3, &b)) return s;
      result = CollidePixels(a, b);
      break;
    case 48:
      if (int s = SpriteObject(L, 2, &a)) return s;
      box(3, &b);
      result = CollidePixels(a, b);
      break;
    default:
      return ERR_WRONGUSAGE;
  }
  vl::PushNumber(L, result);
  return 1;
}


// The prologue of the single-layer commands: the layer argument, then the
// display's state.
int LayerCommand(vlVMState* L, int index, vlLayer** out) { return GetLayerCommandArgs(L, index, 1, out); }

int CmdLayerToBack(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  vlLayer* layer;
  if (int status = LayerCommand(L, 1, &layer)) return status;
  int32_t pos = GetLayerIndex(layer);
  return pos == 1 ? 0 : SwapLayerPositions(L, pos, 1);
}

int CmdLayerToFront(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  vlLayer* layer;
  if (int status = LayerCommand(L, 1, &layer)) return status;
  int32_t pos = GetLayerIndex(layer), last = CountLayers(vlCurrentOutput);
  return pos == last ? 0 : SwapLayerPositions(L, pos, last);
}

int CmdSwapLayers(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  vlLayer* pair[2];
  if (int status = GetLayerCommandArgs(L, 1, 2, pair)) return status;
  if (pair[0] == pair[1]) return ERR_WRONGUSAGE;
  return SwapLayerPositions(L, GetLayerIndex(pair[0]), GetLayerIndex(pair[1]));
}

int CmdSetLayerZPos(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  // A name for z stands for that layer's position; like the layer's own
  // name it is looked up before the display state is.
  int32_t z;
  if (vl::GetTypeAt(L, 2) == VL_TSTRING) {
    const char* name = vl::ToStringAt(L, 2);
    if (!(z = FindLayerByName(vlCurrentOutput, name))) {
      SetErrorArgument(name);
      return ERR_FINDLAYER;
    }
  } else {
    z = vl::CheckLayerPositionArg(L, 2);
  }
  vlLayer* layer;
  if (int status = LayerCommand(L, 1, &layer)) return status;
  if (z < 0 || z == GetLayerIndex(layer)) return ERR_WRONGUSAGE;
  if (MoveLayerInList(layer, z)) {
    vlCurrentOutput->changed = 1;
    ShowLayerOnDisplay(L, layer, 0);
  }
  return 0;
}

int CmdTranslateLayer(vlVMState* L) {
  CheckArgs(L, 3, 3, 0, 0);
  vlLayer* layer;
  if (int status = LayerCommand(L, 1, &layer)) return status;
  int32_t dx = vl::CheckIntArg(L, 2), dy = vl::CheckIntArg(L, 3);
  vlCurrentOutput->changed = 1;
  MoveLayerTo(L, layer, nullptr, dx, dy, 0, 3, nullptr);
  return 0;
}

int CmdSetLayerName(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  if (int status = CheckLayers()) return status;
  int32_t pos = vl::CheckLayerPositionArg(L, 1);
  const char* name = vl::CheckStringArg(L, 2, nullptr);
  vlLayer* layer = GetLayerByPos(vlCurrentOutput, pos > 0 ? pos : CountLayers(vlCurrentOutput));
  if (!layer) return ERR_LAYERRANGE;
  // The layer's own name does not stand in the way of the new one, and a
  // refused name leaves the old one in place.
  char* old = layer->name;
  layer->name = nullptr;
  const int status = *name ? SetLayerNameFromStyle(layer, name) : 0;
  if (status)
    layer->name = old;
  else
    free(old);
  return status;
}

int CmdUndo(vlVMState* L) {
  CheckArgs(L, 1, 4, 0, 0);
  auto type = static_cast<uint32_t>(vl::CheckIntArg(L, 1));
  vlObjectId id{0, nullptr};
  if (vl::GetTypeAt(L, 2) > VL_TNIL) GetObjectIDArg(&id, L, 2);
  int32_t level = vl::OptIntArg(L, 3, 1);
  int noRefresh = vl::OptIntArg(L, 4, 0);
  return RemoveUndoLayer(L, type, id, level, noRefresh, nullptr);
}

int CmdDumpLayers(vlVMState* L) {
  CheckArgs(L, 0, 1, 0, 0);
  if (int status = CheckLayers()) return status;
  int32_t which = vl::OptIntArg(L, 1, 0);
  if (which != 1 && which != 2) which = 0;
  vlBGPic* pic = vlCurrentOutput;
  PrintConsole("LAYER SYSTEM INFO - BGPIC: %d (%p)\nsizeof(vlLayer): %d\nLayers: %d\n", pic->idNumber,
               pic->idHandle, static_cast<int>(sizeof(vlLayer)), CountLayers(pic));
  int32_t pos = 1;
  for (vlNode* n = pic->layers.head; n->succ; n = n->succ, pos++) {
    auto* l = reinterpret_cast<vlLayer*>(n);
    const vlLayerGeometry* g = l->geometry[which];
    const char* typeName = GetObjectTypeName(l->type);
    PrintConsole("(%d) %s #%d (%p / \"%s\") - X: %d (%d) - Y: %d (%d) - Width: %d (%d) - Height: %d (%d) - "
                 "Visible: %d\n",
                 pos, typeName ? typeName : "", l->source.number, l->source.handle, l->name ? l->name : "",
                 g ? g->x : 0, g ? g->drawnX : 0, g ? g->y : 0, g ? g->drawnY : 0, g ? g->width : 0,
                 g ? g->drawnWidth : 0, g ? g->height : 0, g ? g->drawnHeight : 0, l->hidden ? 0 : 1);
  }
  return 0;
}

// Border and shadow switches share the refresh: the area before and after.
template <class Change>
int ChangeDecor(vlVMState* L, vlLayer* layer, bool wasOn, bool on, Change change) {
  if (!wasOn && !on) return 0;
  vlCurrentOutput->changed = 1;
  vlRectXYWH before, after;
  GetLayerOuterRect(L, layer, layer->geometry[2], &before.x, &before.y, &before.width, &before.height);
  change();
  vlRectXYWH area = before;
  if (on) {
    GetLayerOuterRect(L, layer, layer->geometry[2], &after.x, &after.y, &after.width, &after.height);
    area = UnionRects(before, after);
  }
  if (!layer->hidden) RefreshArea(L, area.x, area.y, area.width, area.height);
  return 0;
}

int CmdSetLayerBorder(vlVMState* L) {
  CheckArgs(L, 2, 4, 0, 0);
  int on = vl::CheckIntArg(L, 2) != 0;
  uint32_t color = vl::DoubleToUInt32Bits(vl::OptNumberArg(L, 3, 0));
  int32_t size = vl::OptIntArg(L, 4, 2);
  if (size < 1) return ERR_WRONGUSAGE;
  vlLayer* layer;
  if (int status = LayerCommand(L, 1, &layer)) return status;
  return ChangeDecor(L, layer, layer->border.on, on, [&] {
    FreeLayerBorders(layer);
    FreeLayerBitmaps(layer);
    ReleaseLayerGeometryCaches(layer);
    layer->border.on = on;
    NoteLayersChanged();
    if (on) {
      layer->border.color = color;
      layer->border.size = static_cast<uint32_t>(size);
    }
  });
}

int CmdSetLayerShadow(vlVMState* L) {
  CheckArgs(L, 2, 7, 0, 0);
  int on = vl::CheckIntArg(L, 2) != 0;
  uint32_t color = vl::DoubleToUInt32Bits(vl::OptNumberArg(L, 3, 2147483648.0));
  double radius = vl::OptNumberArg(L, 4, 5.0);
  int32_t size = vl::OptIntArg(L, 5, 4);
  int32_t direction = vl::OptIntArg(L, 6, 3);
  double sigma = vl::OptNumberArg(L, 7, radius / 3.0);
  if (size < 0 || !(radius >= 1.0) || !(sigma > 0)) return ERR_WRONGUSAGE;
  vlLayer* layer;
  if (int status = LayerCommand(L, 1, &layer)) return status;
  return ChangeDecor(L, layer, layer->shadow.on, on, [&] {
    FreeLayerBitmaps(layer);
    ReleaseLayerGeometryCaches(layer);
    layer->shadow.on = on;
    if (on) layer->shadow = {1, color, size, static_cast<uint32_t>(direction) & 7, radius, sigma};
    NoteLayersChanged();
  });
}

int CmdFreeLayers(vlVMState* L) {
  CheckArgs(L, 0, 1, 0, 0);
  if (int status = CheckLayers()) return status;
  int keep = vl::OptIntArg(L, 1, 1);
  vlDisplay* d = CurrentDisplay();
  vlBGPic* pic = vlCurrentOutput;
  for (vlNode* n = pic->layers.head; n->succ; n = n->succ)
    if (FindAsyncDrawOwner(n, 0)) return ERR_REMADLAYER;
  if (d->outputType == VL_OUTPUT_BGPIC && d->bgpic != pic && keep) return ERR_WRONGUSAGE;
  pic->changed = 1;
  bool shown = d->bgpic == pic && d->back;
  if (keep && shown) {
    // What the layers showed stays painted.
    RedrawLayers(L, d, pic, d->back, 0, 0, pic->dispWidth, pic->dispHeight, 1);
    if (d->front)
      BltBitmap(d->back, 0, 0, d->front, 0, 0, std::min({pic->dispWidth, d->front->width, d->back->width}),
                std::min({pic->dispHeight, d->front->height, d->back->height}));
  }
  FreeBGPicLayers(L, pic, 1, 1);
  if (!keep && shown) {
    if (d->outputType == VL_OUTPUT_BGPIC) {
      AddDirtyRect(&d->dirty, 0, 0, pic->dispWidth, pic->dispHeight, 1);
    } else {
      RedrawLayers(L, d, pic, d->back, 0, 0, pic->dispWidth, pic->dispHeight, 1);
      UpdateDisplayRect(d->back, 0, 0, d, 0, 0, pic->dispWidth, pic->dispHeight, 0);
    }
  }
  return 0;
}

int CmdNextFrame(vlVMState* L) {
  CheckArgs(L, 1, 4, 0, 0);
  vlLayer* layer;
  if (int status = LayerCommand(L, 1, &layer)) return status;
  return NextLayerFrame(L, layer, vl::OptIntArg(L, 2, 100000), vl::OptIntArg(L, 3, 100000), vl::OptIntArg(L, 4, 0));
}

int CmdModifyLayerFrames(vlVMState* L) {
  CheckArgs(L, 2, 3, 0, 0);
  vlLayer* layer;
  if (int status = LayerCommand(L, 1, &layer)) return status;
  return ModifyLayerFrameCount(L, layer, vl::CheckIntArg(L, 2), vl::OptIntArg(L, 3, 0));
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
    {"LayerToBack", CmdLayerToBack},
    {"LayerToFront", CmdLayerToFront},
    {"SwapLayers", CmdSwapLayers},
    {"SetLayerZPos", CmdSetLayerZPos},
    {"TranslateLayer", CmdTranslateLayer},
    {"SetLayerName", CmdSetLayerName},
    {"Undo", CmdUndo},
    {"DumpLayers", CmdDumpLayers},
    {"SetLayerBorder", CmdSetLayerBorder},
    {"SetLayerShadow", CmdSetLayerShadow},
    {"FreeLayers", CmdFreeLayers},
    {"CreateLayer", CmdCreateLayer},
    {"InsertLayer", CmdInsertLayer},
    {"SelectLayer", CmdSelectLayer},
    {"SetLayerStyle", CmdSetLayerStyle},
    {"GetLayerStyle", CmdGetLayerStyle},
    {"SetLayerTransparency", CmdSetLayerTransparency},
    {"SetLayerLight", CmdSetLayerTint},
    {"SetLayerTint", CmdSetLayerTint},
    {"ScaleLayer", CmdScaleLayer},
    {"RotateLayer", CmdRotateLayer},
    {"TransformLayer", CmdTransformLayer},
    {"SetLayerAnchor", CmdSetLayerAnchor},
    {"SetLayerFilter", CmdSetLayerFilter},
    {"PlayLayer", CmdPlayLayer},
    {"StopLayer", CmdStopLayer},
    {"PauseLayer", CmdPauseLayer},
    {"ResumeLayer", CmdResumeLayer},
    {"SeekLayer", CmdSeekLayer},
    {"SetLayerVolume", CmdSetLayerVolume},
    {"AddMove", CmdAddMove},
    {"DoMove", CmdDoMove},
    {"ClearMove", CmdClearMove},
    {"NextFrame", CmdNextFrame},
    {"ModifyLayerFrames", CmdModifyLayerFrames},
    {nullptr, nullptr},
};

}  // namespace

int OpenLayersLib(vlVMState* L) {
  vl::PushSlotCopy(L, vl::kGlobalsIndex);
  vl::RegisterCommands(L, nullptr, kLayersCommands, 0);
  vl::SetStackTop(L, -2);
  if (int status = RegisterLibrary(kLayersCommands, "layers")) return status;
  if (int status = RegisterMoveListList()) return status;
  std::free(gScratch.rects);
  gScratch = {};
  gScratch.rects = static_cast<int32_t*>(std::malloc(sizeof(int32_t) * 4 * 1024));
  if (!gScratch.rects) return ERR_MEM;
  gScratch.capacity = 1024;
  InstallLayerHooks();
  return 0;
}

void ShutdownLayerSystem(vlVMState* L) {
  ReleaseKeptBlend();
  FreeMoveLists(L);
  ShutdownLayerStyle();
  std::free(gScratch.rects);
  gScratch = {};
}
