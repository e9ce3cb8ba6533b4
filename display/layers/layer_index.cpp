// The grid index of the layers of one BGPic. Cells of 64x64 pixels hold the
// stack positions of the layers whose drawn rectangles meet them; a lookup
// gathers the positions of the cells under a rectangle and hands the layers
// back bottom first. Layers with a shadow or border (whose outer rectangle
// takes building pictures to know) and layers without a display record are
// handed back by every lookup: the redraw decides about them as before.
// One BGPic is indexed at a time (the one redrawn last).
#include "display/layers/layer_index.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "display/bgpic.h"
#include "display/layers/layers.h"
#include "runtime/lists.h"

namespace {

constexpr int32_t kCell = 64;
// Below so many layers a walk costs less than keeping the index.
constexpr int32_t kMinLayers = 16;

struct Entry {
  vlLayer* layer;
  // Cell range, inclusive; c1 < c0 files the layer in no cell.
  int32_t c0, r0, c1, r1;
  bool always;
  bool operator==(const Entry&) const = default;
};

struct Index {
  const vlBGPic* pic = nullptr;
  unsigned long long listChanges = 0;
  unsigned long long stamp = 0;
  int32_t width = 0, height = 0, cols = 0, rows = 0;
  std::vector<Entry> entries;  // stack order
  std::vector<std::vector<int32_t>> cells;
  std::vector<int32_t> always;
  std::vector<uint32_t> seen;
  std::vector<int32_t> ids;  // a lookup's gathering
  uint32_t mark = 0;
  bool valid = false;
};

Index gIndex;
unsigned long long gStamp = 1;
// VL_TEST_LAYERS=walk makes every lookup walk the stack, for tests and
// benchmarks that compare the whole player with and without the index.
bool WalkForced() {
  const char* v = std::getenv("VL_TEST_LAYERS");
  return v && std::strstr(v, "walk");
}

bool gEnabled = !WalkForced();

// Keeping the index up to date costs at every move; walking the stack
// costs at every lookup. Where a batch moves most of a dense stack whose
// moves merge into few rectangles (few lookups), the walk is cheaper: the
// choice is made again at the first lookup after each batch of moves, from
// the lookups of the batch before.
unsigned long long gMoves = 0, gDecidedAt = 0;
unsigned long long gLookups = 0;
bool gPreferWalk = false;

unsigned long long gKeptEpoch = 1;
constexpr int32_t kWholeStack = 0x7FFFFFFF;
int32_t gKeptLevel = kWholeStack;

// Anything the blend of the bottom layers may have changed with.
void KeptStackChanged() {
  gKeptEpoch++;
  gKeptLevel = kWholeStack;
}

// Whether pic holds at least n layers, walking no further.
bool HasLayers(const vlBGPic* pic, int32_t n) {
  for (vlNode* node = pic->layers.head; node->succ && n > 0; node = node->succ) n--;
  return n == 0;
}

bool Current(const vlBGPic* pic) {
  return gIndex.valid && gIndex.pic == pic && gIndex.listChanges == ListChangeCount() && gIndex.stamp == gStamp &&
         gIndex.width == pic->dispWidth && gIndex.height == pic->dispHeight;
}

Entry Place(const Index& index, vlLayer* layer) {
  Entry e{layer, 0, 0, -1, -1, false};
  const vlLayerGeometry* g = layer->geometry[2];
  if (!g || layer->shadow.on || layer->border.on) {
    e.always = true;
    return e;
  }
  vlRectXYWH cut;
  if (!IntersectRects({g->drawnX, g->drawnY, g->drawnWidth, g->drawnHeight}, {0, 0, index.width, index.height},
                      &cut))
    return e;
  e.c0 = cut.x / kCell, e.r0 = cut.y / kCell;
  e.c1 = (cut.x + cut.width - 1) / kCell, e.r1 = (cut.y + cut.height - 1) / kCell;
  return e;
}

void File(Index& index, int32_t id) {
  const Entry& e = index.entries[id];
  if (e.always) index.always.push_back(id);
  for (int32_t r = e.r0; r <= e.r1; r++)
    for (int32_t c = e.c0; c <= e.c1; c++) index.cells[static_cast<size_t>(r) * index.cols + c].push_back(id);
}

void Unfile(Index& index, int32_t id) {
  const Entry& e = index.entries[id];
  auto drop = [id](std::vector<int32_t>& v) {
    auto at = std::find(v.begin(), v.end(), id);
    if (at != v.end()) {
      *at = v.back();
      v.pop_back();
    }
  };
  if (e.always) drop(index.always);
  for (int32_t r = e.r0; r <= e.r1; r++)
    for (int32_t c = e.c0; c <= e.c1; c++) drop(index.cells[static_cast<size_t>(r) * index.cols + c]);
}

// The index of pic's stack as it is now; throws bad_alloc.
void Build(Index& index, vlBGPic* pic) {
  index.valid = false;
  index.pic = pic;
  index.width = std::max(pic->dispWidth, 0);
  index.height = std::max(pic->dispHeight, 0);
  index.cols = (index.width + kCell - 1) / kCell;
  index.rows = (index.height + kCell - 1) / kCell;
  index.entries.clear();
  index.always.clear();
  index.cells.resize(static_cast<size_t>(index.cols) * index.rows);
  for (auto& cell : index.cells) cell.clear();
  for (vlNode* node = pic->layers.head; node->succ; node = node->succ) {
    auto* layer = reinterpret_cast<vlLayer*>(node);
    const auto id = static_cast<int32_t>(index.entries.size());
    index.entries.push_back(Place(index, layer));
    layer->indexSlot = static_cast<uint32_t>(id);
    File(index, id);
  }
  index.seen.assign(index.entries.size(), 0);
  index.mark = 0;
  index.listChanges = ListChangeCount();
  index.stamp = gStamp;
  index.valid = true;
}

}  // namespace

bool FindLayersMeeting(vlBGPic* pic, const vlRectXYWH& r, std::vector<vlLayer*>* out,
                       std::vector<int32_t>* positions) {
  out->clear();
  if (positions) positions->clear();
  if (!gEnabled || !pic) return false;
  gLookups++;
  if (gMoves != gDecidedAt) {
    // About three nanoseconds a layer per walk against some hundred and
    // fifty per move kept in the index.
    const auto layers = static_cast<unsigned long long>(gIndex.entries.size());
    const unsigned long long moves = gMoves - gDecidedAt;
    gPreferWalk = moves >= 32 && (gLookups - 1) * layers < 50 * moves;
    gDecidedAt = gMoves;
    gLookups = 1;
    if (gPreferWalk) {
      gIndex.valid = false;
      KeptStackChanged();
    }
  }
  if (gPreferWalk) return false;
  try {
    if (!Current(pic)) {
      if (!HasLayers(pic, kMinLayers)) return false;
      Build(gIndex, pic);
    }
    Index& index = gIndex;
    std::vector<int32_t>& ids = index.ids;
    ids.assign(index.always.begin(), index.always.end());
    vlRectXYWH cut;
    if (index.cols > 0 && IntersectRects(r, {0, 0, index.width, index.height}, &cut)) {
      if (++index.mark == 0) {
        std::fill(index.seen.begin(), index.seen.end(), 0);
        index.mark = 1;
      }
      for (int32_t id : ids) index.seen[id] = index.mark;
      const int32_t c0 = cut.x / kCell, r0 = cut.y / kCell;
      const int32_t c1 = (cut.x + cut.width - 1) / kCell, r1 = (cut.y + cut.height - 1) / kCell;
      for (int32_t row = r0; row <= r1; row++)
        for (int32_t c = c0; c <= c1; c++)
          for (int32_t id : index.cells[static_cast<size_t>(row) * index.cols + c])
            if (index.seen[id] != index.mark) {
              index.seen[id] = index.mark;
              ids.push_back(id);
            }
    }
    std::sort(ids.begin(), ids.end());
    out->reserve(ids.size());
    for (int32_t id : ids) out->push_back(index.entries[id].layer);
    if (positions) {
      positions->reserve(ids.size());
      for (int32_t id : ids) positions->push_back(id + 1);
    }
    return true;
  } catch (const std::bad_alloc&) {
    gIndex = Index{};
    out->clear();
    if (positions) positions->clear();
    return false;
  }
}

int32_t IndexedLayerCount(const vlBGPic* pic) {
  return pic && Current(pic) ? static_cast<int32_t>(gIndex.entries.size()) : -1;
}

unsigned long long KeptBlendEpoch() { return gKeptEpoch; }
int32_t KeptBlendLevel() { return gKeptLevel; }

void NoteLayerMoved(const vlLayer* layer) {
  gMoves++;
  if (!gIndex.valid || !gIndex.pic || gIndex.listChanges != ListChangeCount() || gIndex.stamp != gStamp) {
    gStamp++;
    KeptStackChanged();
    return;
  }
  const uint32_t slot = layer->indexSlot;
  // Not in the indexed stack: the index does not change (the kept blend
  // may be another BGPic's).
  if (slot >= gIndex.entries.size() || gIndex.entries[slot].layer != layer) {
    KeptStackChanged();
    return;
  }
  const auto id = static_cast<int32_t>(slot);
  // A layer above the kept ones leaves their blend as it is.
  if (id < gKeptLevel) {
    gKeptEpoch++;
    gKeptLevel = id;
  }
  try {
    Entry now = Place(gIndex, gIndex.entries[id].layer);
    if (now == gIndex.entries[id]) return;
    Unfile(gIndex, id);
    gIndex.entries[id] = now;
    File(gIndex, id);
  } catch (const std::bad_alloc&) {
    gIndex = Index{};
    KeptStackChanged();
  }
}

void NoteLayersChanged() {
  gStamp++;
  KeptStackChanged();
}

void SetLayerIndexEnabled(bool on) { gEnabled = on; }

bool LayerIndexMatchesStack(vlBGPic* pic) {
  if (!pic) return false;
  try {
    if (!Current(pic)) Build(gIndex, pic);
    Index fresh;
    Build(fresh, pic);
    if (fresh.entries != gIndex.entries || fresh.cols != gIndex.cols || fresh.rows != gIndex.rows) return false;
    auto sorted = [](std::vector<int32_t> v) {
      std::sort(v.begin(), v.end());
      return v;
    };
    if (sorted(fresh.always) != sorted(gIndex.always)) return false;
    for (size_t i = 0; i < fresh.cells.size(); i++)
      if (sorted(fresh.cells[i]) != sorted(gIndex.cells[i])) return false;
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}
