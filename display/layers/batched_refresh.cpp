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
#include "graphics/presentation.h"
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
// area passes the boxes' own by a quarter the boxes are drawn one by one (a
// larger box also goes out from the back buffer itself, which the next
// drawing then waits for).
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
  return 4 * merged > 5 * own ? boxes : out;
}

}  // namespace

void SettleHeldRefresh() {
  if (!gHeld.display) return;
  Held held = std::move(gHeld);
  gHeld = Held{};
  HoldPresentation(nullptr, nullptr);
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

namespace {

// Whether refreshes of the current display may be held now; layers are
// drawn from the state they have when the batch is settled.
bool CanHold(vlDisplay* d, vlBGPic* pic, bool layers) {
  if (!d || !pic || !d->back) return false;
  // A suspended refresh and other targets keep their own way.
  if (pic != d->bgpic || d->displayState != VL_DISPSTATE_OPEN || vlRefreshSuspended) return false;
  return layers || (!d->layersOn && CountLayers(pic) == 0);
}

// Adds clipped boxes and their movers to what is held; false when nothing
// could be held (the caller refreshes at once then).
bool Hold(vlVMState* state, vlDisplay* d, const void* const* movers, int moverCount, const Box* boxes,
          size_t boxCount) {
  bool again = false;
  for (int i = 0; i < moverCount && !again; i++) again = Moved(movers[i]);
  if (gHeld.display &&
      (gHeld.display != d || gHeld.back != d->back || gHeld.boxes.size() + boxCount > kMaxHeld || again))
    SettleHeldRefresh();
  if (boxCount > kMaxHeld) return false;
  const bool first = !gHeld.display;
  if (first && !HoldPresentation(d->back, SettleHeldRefresh)) return false;
  try {
    gHeld.boxes.insert(gHeld.boxes.end(), boxes, boxes + boxCount);
    for (int i = 0; i < moverCount; i++)
      if (movers[i]) gHeld.movers.push_back(movers[i]);
  } catch (const std::bad_alloc&) {
    if (first) {
      gHeld = Held{};
      HoldPresentation(nullptr, nullptr);
    } else {
      SettleHeldRefresh();
    }
    return false;
  }
  gHeld.display = d;
  gHeld.back = d->back;
  // A coroutine's state may be collected before the batch is drawn.
  gHeld.state = state && state->g ? state->g->mainthread : state;
  return true;
}

}  // namespace

void RefreshRectBatched(vlVMState* state, const void* mover, int32_t x, int32_t y, int32_t width, int32_t height) {
  vlDisplay* d = CurrentDisplay();
  vlBGPic* pic = vlCurrentOutput;
  if (!d || !pic || !d->back) return;
  if (!CanHold(d, pic, false)) {
    RefreshRect(state, x, y, width, height, 0);
    return;
  }
  vlRectXYWH r{x, y, width, height};
  if (!ClipRectToSize(&r, pic->dispWidth, pic->dispHeight) || r.width < 1 || r.height < 1) return;
  const Box box{r.x, r.y, r.x + r.width - 1, r.y + r.height - 1};
  if (!Hold(state, d, &mover, 1, &box, 1)) RefreshRect(state, r.x, r.y, r.width, r.height, 0);
}

void RefreshLayerMovesBatched(vlVMState* state, const void* const* movers, int count, const vlDirtyRects* rects) {
  vlDisplay* d = CurrentDisplay();
  vlBGPic* pic = vlCurrentOutput;
  if (!rects || !d || !pic || !d->back) return;
  const bool all = rects->all != 0;
  Box boxes[16];
  size_t n = 0;
  bool fits = !all;
  for (int32_t i = 0; fits && i < rects->count; i++) {
    const int32_t* e = rects->rects + 4 * i;
    if (e[0] == VL_DIRTY_MERGED) continue;
    vlRectXYWH r{e[0], e[1], e[2] + 1 - e[0], e[3] + 1 - e[1]};
    if (!ClipRectToSize(&r, pic->dispWidth, pic->dispHeight) || r.width < 1 || r.height < 1) continue;
    if (n == 16) fits = false;
    else boxes[n++] = {r.x, r.y, r.x + r.width - 1, r.y + r.height - 1};
  }
  // Many rectangles at once (a large group) or everything: drawn at once.
  if (!fits || !CanHold(d, pic, true) || (n && !Hold(state, d, movers, count, boxes, n))) {
    RefreshDirtyRects(state, const_cast<vlDirtyRects*>(rects));
    return;
  }
}
