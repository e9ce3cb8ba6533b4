// Move lists: changes to the layers of the current BGPic recorded with
// AddMove and played with DoMove, so that every changed area is refreshed
// once.
#include <algorithm>
#include <new>

#include "display/bgpic.h"
#include "display/layers/async_draw.h"
#include "display/commands/layer_commands.h"
#include "display/commands/layers_library.h"
#include "display/layers/layers.h"
#include "graphics/position.h"
#include "runtime/error_vm.h"
#include "runtime/errors.h"
#include "runtime/object_data.h"
#include "runtime/object_index.h"
#include "vm/argreaders.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"
#include "vm/value.h"

namespace {

constexpr int kMoveEntries = 512;
constexpr int32_t kEmptyArea = 10000;
constexpr uint32_t kMoveListType = 51;

enum : int32_t {
  kMoveBrush = 3,
  kMoveTextObject = 8,
  kMoveUndo = 10,
  kMoveLayer = 22,
  kMoveHideBrush = 23,
  kMoveInsertBrush = 24,
  kMoveHideLayer = 25,
  kMoveRemoveLayer = 26,
  kMoveNextFrame = 29,
  kMoveNextFrame2 = 34,
};

struct vlMoveList {
  vlObjectNode node;  // type 51
  int32_t kind[kMoveEntries];
  vlObjectId source[kMoveEntries];
  int32_t x[kMoveEntries];
  int32_t y[kMoveEntries];
  int32_t done[kMoveEntries];
  int32_t extra[kMoveEntries];
  int32_t x1[kMoveEntries], y1[kMoveEntries], x2[kMoveEntries], y2[kMoveEntries];
  int32_t count;
};

vlObjectNode* gMoveLists;
// Making and finding a move list must not walk every list there is.
vlObjectIndex gMoveListIndex;

vlMoveList* AsMoveList(vlObjectNode* n) { return reinterpret_cast<vlMoveList*>(n); }

vlMoveList* FindMoveList(vlObjectId id) { return AsMoveList(gMoveListIndex.FirstExact(id)); }

// A new list named id, or by its own address when id has a handle.
vlMoveList* NewMoveList(vlObjectId id) {
  auto* m = new (std::nothrow) vlMoveList{};
  if (!m) return nullptr;
  m->node.type = kMoveListType;
  m->node.idNumber = id.number;
  m->node.idHandle = id.handle ? m : nullptr;
  if (gMoveListIndex.Append(&gMoveLists, &m->node)) {
    delete m;
    return nullptr;
  }
  return m;
}

int MissingList(vlObjectId id) {
  if (id.handle) return ERR_FINDARRAY;
  SetErrorArgIndex(id.number);
  return 1182;
}

bool IsLayerKind(int32_t kind) {
  return kind == kMoveLayer || kind == kMoveHideLayer || kind == kMoveRemoveLayer || kind == kMoveNextFrame2;
}

void SetArea(vlMoveList* m, int i, const vlRectXYWH& r) {
  m->x1[i] = r.x, m->y1[i] = r.y, m->x2[i] = r.x + r.width - 1, m->y2[i] = r.y + r.height - 1;
}

bool OnBGPic(const vlRectXYWH& r) {
  vlBGPic* pic = vlCurrentOutput;
  vlRectXYWH cut;
  return IntersectRects(r, {0, 0, pic->dispWidth, pic->dispHeight}, &cut);
}

vlRectXYWH Outer(vlVMState* L, vlLayer* layer) {
  vlRectXYWH r;
  GetLayerOuterRect(L, layer, layer->geometry[2], &r.x, &r.y, &r.width, &r.height);
  return r;
}

// Moves one layer without refreshing, sets its visibility (0 shown, 1
// hidden, other values kept) and records the area.
void MoveOne(vlVMState* L, vlMoveList* m, int i, vlLayer* layer, int32_t x, int32_t y, int32_t visibility) {
  vlRectXYWH before = Outer(L, layer);
  const vlLayerGeometry* g0 = layer->geometry[0];
  if (x != 100000) x = ResolvePosX(x, g0->width, vlCurrentOutput->width, layer->anchorX);
  if (y != 100000) y = ResolvePosY(y, g0->height, vlCurrentOutput->height, layer->anchorY);
  MoveLayerTo(L, layer, nullptr, x, y, 1, 0, nullptr);
  if (visibility == 0 || visibility == 1) layer->hidden = static_cast<uint32_t>(visibility);
  vlRectXYWH after = Outer(L, layer);
  bool oldOn = OnBGPic(before);
  if (!layer->hidden && OnBGPic(after))
    SetArea(m, i, oldOn ? UnionRects(before, after) : after);
  else if (oldOn)
    SetArea(m, i, before);
  m->done[i] = 1;
}

int SetFrame(vlVMState* L, vlLayer* layer, int32_t frame) {
  return ApplyLayerPosFrame(L, layer, 100000, 100000, frame, 1);
}

// A new layer on top showing the object; its area recorded.
int ShowNew(vlVMState* L, vlMoveList* m, int i, uint32_t type, int32_t position) {
  const vlLayerSource* source = FindLayerSource(type);
  if (!source || !source->insert) return ERR_WRONGUSAGE;
  vlLayer* layer = nullptr;
  if (int status = source->insert(L, m->source[i], m->x[i], m->y[i], position, 6 | VL_ADDLAYER_NOSHOW, &layer)) return status;
  if (layer) {
    vlRectXYWH r = Outer(L, layer);
    if (OnBGPic(r)) SetArea(m, i, r);
  }
  m->done[i] = 1;
  return 0;
}

bool SameId(const vlObjectId& a, const vlObjectId& b) { return a.number == b.number && a.handle == b.handle; }

}  // namespace

int CmdAddMove(vlVMState* L) {
  CheckArgs(L, 3, 6, 0, 0);
  vlObjectId listId{0, nullptr};
  bool automatic = vl::GetTypeAt(L, 1) <= VL_TNIL;
  if (!automatic) GetObjectIDArg(&listId, L, 1);
  int32_t kind = vl::CheckIntArg(L, 2);
  vlObjectId source{0, nullptr};
  int32_t x = 0, y = 0, extra = 0;
  if (kind == kMoveUndo) {
    x = vl::CheckIntArg(L, 3);
    if (vl::GetTypeAt(L, 4) > VL_TNIL) GetObjectIDArg(&source, L, 4);
    y = vl::OptIntArg(L, 5, 0);
    extra = vl::OptIntArg(L, 6, 0);
  } else {
    if (IsLayerKind(kind)) {
      vlLayer* layer = nullptr;
      if (vl::GetTypeAt(L, 3) == VL_TSTRING) {
        if (int status = GetLayerArg(L, 3, &layer)) return status;
        source.number = GetLayerIndex(layer);
      } else {
        source.number = vl::CheckIntArg(L, 3);
      }
    } else {
      GetObjectIDArg(&source, L, 3);
    }
    x = vl::OptIntArg(L, 4, 0);
    y = vl::OptIntArg(L, 5, 0);
    if (kind == kMoveInsertBrush && vl::GetTypeAt(L, 6) == VL_TSTRING) {
      vlLayer* layer = nullptr;
      if (int status = GetLayerArg(L, 6, &layer)) return status;
      extra = GetLayerIndex(layer);
    } else {
      extra = vl::OptIntArg(L, 6, 0);
    }
  }
  vlMoveList* m = automatic ? nullptr : FindMoveList(listId);
  bool made = false;
  if (!m) {
    if (automatic) listId = {0, reinterpret_cast<void*>(1)};
    if (!(m = NewMoveList(listId))) return ERR_MEM;
    made = true;
  }
  if (m->count >= kMoveEntries) return ERR_INTERNAL;
  int i = m->count++;
  m->kind[i] = kind;
  m->source[i] = source;
  m->x[i] = x;
  m->y[i] = y;
  m->extra[i] = extra;
  m->done[i] = 0;
  m->x1[i] = kEmptyArea;
  if (automatic && made) {
    vl::PushPointer(L, m);
    return 1;
  }
  return 0;
}

int CmdClearMove(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  vlObjectId id;
  GetObjectIDArg(&id, L, 1);
  vlMoveList* m = FindMoveList(id);
  if (!m) return MissingList(id);
  gMoveListIndex.Unlink(&gMoveLists, &m->node);
  FreeObjectDataList(L, &m->node.data);
  delete m;
  return 0;
}

int CmdDoMove(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  vlDisplay* d = CurrentDisplay();
  if (d && !d->layersOn) return ERR_NOLAYERS;
  if (int status = CheckLayerCommand()) return status;
  vlObjectId id;
  GetObjectIDArg(&id, L, 1);
  vlMoveList* m = FindMoveList(id);
  if (!m) return MissingList(id);
  vlBGPic* pic = vlCurrentOutput;
  pic->changed = 1;
  for (int i = 0; i < m->count; i++) m->done[i] = 0, m->x1[i] = kEmptyArea;

  // Pass 1: entries that address layers by position, and undo.
  for (int i = 0; i < m->count; i++) {
    int32_t kind = m->kind[i];
    vlLayer* layer = nullptr;
    if (IsLayerKind(kind) && !(layer = GetLayerByPos(pic, m->source[i].number))) return ERR_LAYERRANGE;
    switch (kind) {
      case kMoveUndo: {
        vlRectXYWH r{};
        if (int status = RemoveUndoLayer(L, static_cast<uint32_t>(m->x[i]), m->source[i], std::max(1, m->y[i]), 1, &r))
          return status;
        if (r.width > 0 && OnBGPic(r)) SetArea(m, i, r);
        m->done[i] = 1;
        break;
      }
      case kMoveRemoveLayer: {
        if (FindAsyncDrawOwner(layer, 0)) return ERR_REMADLAYER;
        vlRectXYWH r{};
        bool shown = !layer->hidden;
        DeleteLayer(L, layer, 1, &r.x, &r.y, &r.width, &r.height, nullptr, 1);
        if (shown && OnBGPic(r)) SetArea(m, i, r);
        m->done[i] = 1;
        break;
      }
      case kMoveLayer:
        MoveOne(L, m, i, layer, m->x[i], m->y[i], m->extra[i]);
        break;
      case kMoveInsertBrush: {
        vlLayer* made = nullptr;
        if (m->extra[i] < 0) return ERR_INVINSERT;
        if (int status = InsertObjectLayer(L, m->extra[i], VL_LAYER_BRUSH, m->source[i], m->x[i], m->y[i], 1, 0,
                                           &made))
          return status;
        vlRectXYWH r = Outer(L, made);
        if (OnBGPic(r)) SetArea(m, i, r);
        m->done[i] = 1;
        break;
      }
      case kMoveHideLayer: {
        vlRectXYWH r = Outer(L, layer);
        if (!layer->hidden && OnBGPic(r)) SetArea(m, i, r);
        layer->hidden = 1;
        m->done[i] = 1;
        break;
      }
      case kMoveNextFrame2:
        if (layer->type != VL_LAYER_ANIM) return ERR_WRONGUSAGE;
        {
          vlRectXYWH before = Outer(L, layer);
          if (int status = SetFrame(L, layer, m->extra[i])) return status;
          MoveOne(L, m, i, layer, 100000, 100000, 0);
          if (m->x1[i] != kEmptyArea) {
            vlRectXYWH now{m->x1[i], m->y1[i], m->x2[i] + 1 - m->x1[i], m->y2[i] + 1 - m->y1[i]};
            SetArea(m, i, UnionRects(now, before));
          }
        }
        break;
      default:
        m->done[i] = 0;
        break;
    }
  }

  // Pass 2: the backmost layer that shows an entry's object takes it.
  for (vlNode* n = pic->layers.head; n->succ; n = n->succ) {
    auto* layer = reinterpret_cast<vlLayer*>(n);
    for (int i = 0; i < m->count; i++) {
      if (m->done[i] || !SameId(layer->creationId, m->source[i])) continue;
      int32_t kind = m->kind[i];
      if ((kind == kMoveBrush && layer->type == VL_LAYER_BRUSH) ||
          (kind == kMoveTextObject && layer->type == VL_LAYER_TEXTOBJECT)) {
        MoveOne(L, m, i, layer, m->x[i], m->y[i], 0);
      } else if (kind == kMoveHideBrush && layer->type == VL_LAYER_BRUSH) {
        vlRectXYWH r = Outer(L, layer);
        if (!layer->hidden && OnBGPic(r)) SetArea(m, i, r);
        layer->hidden = 1;
        m->done[i] = 1;
      } else if (kind == kMoveNextFrame && layer->type == VL_LAYER_ANIM) {
        vlRectXYWH before = Outer(L, layer);
        if (int status = SetFrame(L, layer, m->extra[i])) return status;
        MoveOne(L, m, i, layer, m->x[i], m->y[i], 0);
        if (m->x1[i] != kEmptyArea && OnBGPic(before)) {
          vlRectXYWH now{m->x1[i], m->y1[i], m->x2[i] + 1 - m->x1[i], m->y2[i] + 1 - m->y1[i]};
          SetArea(m, i, UnionRects(now, before));
        }
      }
    }
  }

  // Pass 3: what no layer shows yet becomes a new layer on top.
  for (int i = 0; i < m->count; i++) {
    if (m->done[i]) continue;
    switch (m->kind[i]) {
      case kMoveTextObject:
        if (int status = ShowNew(L, m, i, VL_LAYER_TEXTOBJECT, -1)) return status;
        break;
      case kMoveBrush:
        if (int status = ShowNew(L, m, i, VL_LAYER_BRUSH, -1)) return status;
        break;
      case kMoveNextFrame: {
        if (int status = ShowNew(L, m, i, VL_LAYER_ANIM, -1)) return status;
        vlLayer* top = GetLayerByPos(pic, CountLayers(pic));
        if (top && top->type == VL_LAYER_ANIM) {
          vlBitmap *image, *mask, *alpha;
          int32_t w, h;
          uint32_t frames = 0;
          GetLayerBitmaps(L, top, top->geometry[0], 0, 0, -1, &image, &mask, &alpha, &w, &h, &frames);
          int32_t frame = m->extra[i];
          if (frame == 0) frame = frames > 1 ? 2 : 1;
          if (frame == -1) frame = static_cast<int32_t>(frames);
          if (frame < 1 || frame > static_cast<int32_t>(frames)) return ERR_ANIMFRAME;
          if (int status = SetFrame(L, top, frame)) return status;
        }
        break;
      }
      case kMoveHideBrush:
        m->done[i] = 1;
        break;
      default:
        return ERR_WRONGUSAGE;
    }
  }

  // Merge overlapping areas, then refresh each once.
  for (int i = 0; i < m->count; i++) {
    if (m->x1[i] == kEmptyArea) continue;
    for (int j = 0; j < m->count; j++) {
      if (j == i || m->x1[j] == kEmptyArea) continue;
      if (m->x1[j] > m->x2[i] || m->x1[i] > m->x2[j] || m->y1[j] > m->y2[i] || m->y1[i] > m->y2[j]) continue;
      m->x1[i] = std::min(m->x1[i], m->x1[j]);
      m->y1[i] = std::min(m->y1[i], m->y1[j]);
      m->x2[i] = std::max(m->x2[i], m->x2[j]);
      m->y2[i] = std::max(m->y2[i], m->y2[j]);
      m->x1[j] = kEmptyArea;
    }
  }
  for (int i = 0; i < m->count; i++)
    if (m->x1[i] != kEmptyArea)
      RefreshArea(L, m->x1[i], m->y1[i], m->x2[i] + 1 - m->x1[i], m->y2[i] + 1 - m->y1[i]);
  return 0;
}

int RegisterMoveListList() { return RegisterObjectList(&gMoveLists); }

void FreeMoveLists(vlVMState* L) {
  while (vlObjectNode* m = gMoveLists) {
    gMoveLists = m->next;
    if (L) FreeObjectDataList(L, &m->data);
    delete AsMoveList(m);
  }
  gMoveListIndex.Clear();
}
