// Sprite moves redrawn together. A loop of moves used to redraw and send
// each sprite's rectangle at once, redrawing every sprite under it again
// and again; the rectangles are now held until the batch of puts leaves
// (the event pump sends it once the oldest has waited 2 ms, every wait
// sends it at once), until a sprite held moves again, or until anything
// else uses the back buffer or reaches the window, then merged and redrawn
// once each. Every place a sprite takes still reaches the window; a frame
// of moves only gets there with less work.
#include "display/layers/batched_refresh.h"

#include <algorithm>
#include <cstdint>
#include <new>
#include <vector>

#include "display/bgpic.h"
#include "display/display.h"
#include "display/layer_hooks.h"
#include "display/layers/layers.h"
#include "graphics/bitmap.h"
#include "graphics/geometry.h"
#include "platform/display_adapter.h"
#include "vm/state.h"

namespace {

// Edges inclusive, as in the dirty lists.
struct Box {
  int32_t x0, y0, x1, y1;
};

int64_t Area(const Box& b) { return int64_t{b.x1 - b.x0 + 1} * (b.y1 - b.y0 + 1); }

struct Held {
  vlDisplay* display = nullptr;
  vlBitmap* back = nullptr;
  vlVMState* state = nullptr;
  std::vector<Box> boxes;
  std::vector<const void*> movers;
};
Held gHeld;

// So many moves in one batch redraw as they come.
constexpr size_t kMaxHeld = 1024;

bool Moved(const void* mover) {
  return mover && std::find(gHeld.movers.begin(), gHeld.movers.end(), mover) != gHeld.movers.end();
}

bool Listed(const vlDisplay* d) {
  for (vlDisplay* e = vlDisplayList; e; e = e->next)
    if (e == d) return true;
  return false;
}

// Overlapping boxes become their bounding box until none overlap. Merging
// costs pixels a chain of small boxes never covered, so when the merged
// area passes twice the boxes' own the boxes are drawn one by one.
std::vector<Box> Merged(const std::vector<Box>& boxes) {
  std::vector<Box> out = boxes;
  bool changed = true;
  while (changed) {
    changed = false;
    for (size_t i = 0; i < out.size(); i++)
      for (size_t j = i + 1; j < out.size();) {
        const Box& a = out[i];
        const Box& b = out[j];
        if (b.x0 > a.x1 || a.x0 > b.x1 || b.y0 > a.y1 || a.y0 > b.y1) {
          j++;
          continue;
        }
        out[i] = {std::min(a.x0, b.x0), std::min(a.y0, b.y0), std::max(a.x1, b.x1), std::max(a.y1, b.y1)};
        out[j] = out.back();
        out.pop_back();
        changed = true;
      }
  }
  int64_t own = 0, merged = 0;
  for (const Box& b : boxes) own += Area(b);
  for (const Box& b : out) merged += Area(b);
  return merged > 2 * own ? boxes : out;
}

}  // namespace

void SettleHeldRefresh() {
  if (!gHeld.display) return;
  Held held = std::move(gHeld);
  gHeld = Held{};
  HoldBitmapUse(nullptr, nullptr);
  HoldDisplayDrawing(nullptr);
  vlDisplay* d = held.display;
  // The display may have closed or changed its buffers since.
  if (!Listed(d) || d->back != held.back || !d->bgpic || d->displayState != VL_DISPSTATE_OPEN) return;
  std::vector<Box> boxes;
  try {
    boxes = Merged(held.boxes);
  } catch (const std::bad_alloc&) {
    boxes = std::move(held.boxes);
  }
  for (const Box& b : boxes) {
    const int32_t w = b.x1 - b.x0 + 1, h = b.y1 - b.y0 + 1;
    RedrawLayers(held.state, d, d->bgpic, d->back, b.x0, b.y0, w, h, 0);
    UpdateDisplayRect(d->back, b.x0, b.y0, d, b.x0, b.y0, w, h, 0);
  }
}

void RefreshRectBatched(vlVMState* state, const void* mover, int32_t x, int32_t y, int32_t width, int32_t height) {
  vlDisplay* d = CurrentDisplay();
  vlBGPic* pic = vlCurrentOutput;
  if (!d || !pic || !d->back) return;
  // Layers are redrawn through the script's state, which may not outlive
  // the batch; a suspended refresh and other targets keep their own way.
  if (pic != d->bgpic || d->displayState != VL_DISPSTATE_OPEN || vlRefreshSuspended || d->layersOn ||
      gLayerHooks.countLayers(pic) > 0) {
    RefreshRect(state, x, y, width, height, 0);
    return;
  }
  vlRectXYWH r{x, y, width, height};
  if (!ClipRectToSize(&r, pic->dispWidth, pic->dispHeight) || r.width < 1 || r.height < 1) return;
  if (gHeld.display &&
      (gHeld.display != d || gHeld.back != d->back || gHeld.boxes.size() >= kMaxHeld || Moved(mover)))
    SettleHeldRefresh();
  const bool first = !gHeld.display;
  if (first && !HoldDisplayDrawing(SettleHeldRefresh)) {
    RefreshRect(state, r.x, r.y, r.width, r.height, 0);
    return;
  }
  try {
    gHeld.boxes.push_back({r.x, r.y, r.x + r.width - 1, r.y + r.height - 1});
    if (mover) gHeld.movers.push_back(mover);
  } catch (const std::bad_alloc&) {
    if (first) HoldDisplayDrawing(nullptr);
    else SettleHeldRefresh();
    RefreshRect(state, r.x, r.y, r.width, r.height, 0);
    return;
  }
  gHeld.display = d;
  gHeld.back = d->back;
  // A coroutine's state may be collected before the batch is drawn.
  gHeld.state = state && state->g ? state->g->mainthread : state;
  if (first) HoldBitmapUse(d->back, SettleHeldRefresh);
}
