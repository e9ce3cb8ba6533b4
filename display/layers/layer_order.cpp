// Changing where layers stand: exchanging two layers, moving one to a
// stacking position, and moving one on the BGPic.
#include <algorithm>

#include "display/bgpic.h"
#include "display/layers/layer_index.h"
#include "display/layers/layers.h"
#include "vm/error_codes.h"

namespace {

vlNode* NodeOf(vlLayer* layer) { return reinterpret_cast<vlNode*>(layer); }

vlRectXYWH OuterRect(vlVMState* state, vlLayer* layer) {
  vlRectXYWH r;
  GetLayerOuterRect(state, layer, layer->geometry[2], &r.x, &r.y, &r.width, &r.height);
  return r;
}

vlRectXYWH DrawnRect(const vlLayerGeometry* g) { return {g->drawnX, g->drawnY, g->drawnWidth, g->drawnHeight}; }

}  // namespace

void SwapLayerNodes(vlLayer* a, vlLayer* b) {
  if (a == b) return;
  vlNode* na = NodeOf(a);
  vlNode* nb = NodeOf(b);
  if (na->succ == nb) {
    // a directly before b: b goes in front of a.
    vlNode* before = na->pred;
    RemoveListNode(nb);
    nb->succ = na, nb->pred = before;
    before->succ = nb, na->pred = nb;
    return;
  }
  if (nb->succ == na) return SwapLayerNodes(b, a);
  vlNode* aPred = na->pred;
  vlNode* bPred = nb->pred;
  RemoveListNode(na);
  RemoveListNode(nb);
  // Re-link each where the other was.
  auto linkAfter = [](vlNode* node, vlNode* pred) {
    node->pred = pred;
    node->succ = pred->succ;
    pred->succ->pred = node;
    pred->succ = node;
  };
  linkAfter(nb, aPred);
  linkAfter(na, bPred);
}

int SwapLayerPositions(vlVMState* state, int32_t posA, int32_t posB) {
  vlBGPic* pic = vlCurrentOutput;
  vlLayer* a = GetLayerByPos(pic, posA);
  vlLayer* b = GetLayerByPos(pic, posB);
  if (!a || !b) return ERR_LAYERRANGE;
  SwapLayerNodes(a, b);
  pic->changed = 1;
  vlRectXYWH ra = OuterRect(state, a), rb = OuterRect(state, b), cut;
  vlRectXYWH whole{0, 0, pic->dispWidth, pic->dispHeight};
  // A layer wholly off the BGPic shows no change; the other one still
  // changes places with every layer between them.
  const bool aShows = IntersectRects(ra, whole, &cut), bShows = IntersectRects(rb, whole, &cut);
  if (aShows && bShows) {
    vlRectXYWH u = UnionRects(ra, rb);
    RefreshArea(state, u.x, u.y, u.width, u.height);
  } else if (aShows || bShows) {
    const vlRectXYWH& r = aShows ? ra : rb;
    RefreshArea(state, r.x, r.y, r.width, r.height);
  }
  return 0;
}

int MoveLayerInList(vlLayer* layer, int32_t position) {
  vlBGPic* pic = vlCurrentOutput;
  int32_t count = CountLayers(pic);
  int32_t now = GetLayerIndex(layer);
  if (position <= 0 || position > count) position = count;
  if (now == position) return 0;
  RemoveListNode(NodeOf(layer));
  if (position == 1) {
    AddListHead(&pic->layers, NodeOf(layer));
  } else {
    // With the layer out, the (position - 1)-th layer is the one to follow.
    vlLayer* after = GetLayerByPos(pic, position - 1);
    if (after)
      InsertListNode(&pic->layers, NodeOf(layer), NodeOf(after));
    else
      AddListTail(&pic->layers, NodeOf(layer));
  }
  return 1;
}

void SetGeometryPos(vlLayer* layer, vlLayerGeometry* g, int32_t x, int32_t y) {
  const vlLayerGeometry* g0 = layer->geometry[0];
  int32_t keepX = g->anchoredX - g->drawnX, keepY = g->anchoredY - g->drawnY;
  g->x = x;
  g->y = y;
  g->anchoredX = x - static_cast<int32_t>(g0->width * layer->anchorX);
  g->anchoredY = y - static_cast<int32_t>(g0->height * layer->anchorY);
  g->drawnX = g->anchoredX - keepX;
  g->drawnY = g->anchoredY - keepY;
}

void MoveLayerTo(vlVMState* state, vlLayer* layer, const vlRectXYWH* minimum, int32_t x, int32_t y, int noRefresh,
                 uint32_t relative, vlDirtyRects* dirty) {
  bool decorated = layer->shadow.on || layer->border.on;
  vlLayerGeometry** g = layer->geometry;
  vlRectXYWH before = decorated ? OuterRect(state, layer) : DrawnRect(g[2]);
  vlRectXYWH oldDrawn = DrawnRect(g[2]);
  if (x != 100000 || y != 100000) {
    const int32_t nx = FarPosition(x == 100000 ? g[0]->x : (relative & 1 ? int64_t{g[0]->x} + x : x));
    const int32_t ny = FarPosition(y == 100000 ? g[0]->y : (relative & 2 ? int64_t{g[0]->y} + y : y));
    SetGeometryPos(layer, g[0], nx, ny);
    if (g[1] != g[0]) SetGeometryPos(layer, g[1], nx, ny);
    if (g[2] != g[1] && g[2] != g[0]) {
      vlDisplay* d = CurrentDisplay();
      double fx = d && d->scaleX > 0 ? d->scaleX : 1.0, fy = d && d->scaleY > 0 ? d->scaleY : 1.0;
      PlaceDisplayRecord(layer->type, g[1], g[2], fx, fy, true);
    }
  }
  NoteLayerMoved(layer);
  vlRectXYWH newDrawn = DrawnRect(g[2]);
  if (minimum) {
    newDrawn.width = std::max(newDrawn.width, minimum->width);
    newDrawn.height = std::max(newDrawn.height, minimum->height);
  }
  vlRectXYWH area = UnionRects(oldDrawn, newDrawn);
  if (decorated) area = UnionRects(area, OuterRect(state, layer));
  area = UnionRects(area, before);
  if (noRefresh) return;
  if (dirty)
    AddDirtyRect(dirty, area.x, area.y, area.width, area.height, 1);
  else
    RefreshArea(state, area.x, area.y, area.width, area.height);
}
