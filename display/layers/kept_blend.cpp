// The kept blend of the bottom layers (see kept_blend.h).
#include "display/layers/kept_blend.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "display/bgpic.h"
#include "display/display.h"
#include "display/layers/layer_index.h"
#include "display/layers/layer_part.h"
#include "display/layers/layers.h"
#include "graphics/adapter.h"
#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "graphics/presentation.h"
#include "runtime/lists.h"
#include "vm/state.h"

namespace {

constexpr int32_t kCell = 64;
// Keeping fewer layers than this saves less than the copy costs.
constexpr int32_t kMinKeptLayers = 8;

// The blend's pixels; whether they hold is the presentation's to say.
struct Kept {
  vlBGPic* pic = nullptr;
  vlBitmap* background = nullptr;
  vlBitmap* picture = nullptr;
  int32_t width = 0, height = 0, cols = 0, rows = 0;
  int32_t level = 0;  // layers 1 .. level are in the picture
  std::vector<uint8_t> ready;  // per cell: the picture holds the blend there
  // Used only once it lasted from a redraw to a redraw in a later command:
  // a script whose every frame changes what is kept does not pay for cells
  // it never uses again.
  uint64_t seenAt = 0;
  bool proven = false;
};

Kept gKept;
unsigned long gUses = 0;
// VL_TEST_LAYERS=nokeep (or walk) never keeps a blend, for tests and
// benchmarks that compare the whole player with and without it.
bool KeepingForbidden() {
  const char* v = std::getenv("VL_TEST_LAYERS");
  return v && (std::strstr(v, "nokeep") || std::strstr(v, "walk"));
}

bool gEnabled = !KeepingForbidden();

// The picture behind the layers of a redraw of pic on display with no
// flags (as RedrawLayers chooses it).
vlBitmap* BackgroundOf(vlDisplay* d, vlBGPic* pic) {
  return d && d->bgpic == pic && d->front ? d->front : pic->dispBitmap;
}

// What a blend made now would be made from.
vlKeptBlendKey MadeFrom(vlVMState* state, vlDisplay* display, vlBGPic* pic, vlBitmap* background) {
  return {display, pic, background, pic->dispWidth, pic->dispHeight, state->g->commandCount, KeptBlendEpoch(),
          ListChangeCount()};
}

bool Current(vlVMState* state, vlDisplay* display, vlBGPic* pic, vlBitmap* background) {
  return state && state->g && KeptBlendHolds(MadeFrom(state, display, pic, background));
}

// Background and kept layers into the cell's part of the picture.
bool MakeCell(vlVMState* state, const vlDrawingFor& on, int32_t c, int32_t r, std::vector<vlLayer*>& layers,
              std::vector<int32_t>& at) {
  Kept& k = gKept;
  const vlRectXYWH cell{c * kCell, r * kCell, std::min(kCell, k.width - c * kCell), std::min(kCell, k.height - r * kCell)};
  if (!FindLayersMeeting(k.pic, cell, &layers, &at)) return false;
  BltBitmap(k.background, cell.x, cell.y, k.picture, cell.x, cell.y, cell.width, cell.height);
  for (size_t i = 0; i < layers.size() && at[i] <= k.level; i++)
    DrawLayerPart(state, layers[i], on, false, k.picture, cell);
  k.ready[static_cast<size_t>(r) * k.cols + c] = 1;
  return true;
}

}  // namespace

bool DrawThroughKeptBlend(vlVMState* state, vlDisplay* display, vlBGPic* pic, vlBitmap* background, vlBitmap* dest,
                          const vlRectXYWH& area) {
  if (!gEnabled || !Current(state, display, pic, background) || background == dest || !gKept.picture) return false;
  Kept& k = gKept;
  if (!k.proven) {
    if (k.seenAt == 0 || k.seenAt == state->g->commandCount) {
      k.seenAt = state->g->commandCount;
      return false;
    }
    k.proven = true;
  }
  // Copies between pictures of one format are exact; the blend made in the
  // kept picture then equals the one made in dest. Pictures a display
  // adapter holds are left to it.
  if (GetGfxAdapter() || QueryBitmap(dest, 21) != QueryBitmap(k.picture, 21)) return false;
  const vlDrawingFor on{display, pic};
  try {
    std::vector<vlLayer*> layers;
    std::vector<int32_t> at;
    const int32_t c0 = area.x / kCell, r0 = area.y / kCell;
    const int32_t c1 = (area.x + area.width - 1) / kCell, r1 = (area.y + area.height - 1) / kCell;
    for (int32_t r = r0; r <= r1; r++)
      for (int32_t c = c0; c <= c1; c++)
        if (!k.ready[static_cast<size_t>(r) * k.cols + c] && !MakeCell(state, on, c, r, layers, at)) return false;
    // Making cells may have built a layer's pictures again (and told so).
    if (!Current(state, display, pic, background)) return false;
    if (!FindLayersMeeting(pic, area, &layers, &at)) return false;
    BltBitmap(k.picture, area.x, area.y, dest, area.x, area.y, area.width, area.height);
    for (size_t i = 0; i < layers.size(); i++)
      if (at[i] > k.level) DrawLayerPart(state, layers[i], on, false, dest, area);
    gUses++;
    return true;
  } catch (const std::bad_alloc&) {
    DropKeptBlend();
    return false;
  }
}

void KeepLayerBlendThrough(vlVMState* L) {
  if (L && L->g) KeepBlendThrough(L->g->commandCount);
}

void KeepLayerBlendAfter(vlVMState* L) {
  vlDisplay* d = CurrentDisplay();
  // Only from the script's own level: a command that called the script
  // back (a wait running an event handler, an anim played through) may go
  // on changing pictures after this one returns.
  if (!gEnabled || !L || !L->g || L != L->g->mainthread || L->nCcalls > 1 || !d || !d->back || !d->bgpic ||
      d->bgpic != vlCurrentOutput || d->outputType != VL_OUTPUT_DISPLAY || d->displayState != VL_DISPSTATE_OPEN)
    return;
  vlBGPic* pic = d->bgpic;
  vlBitmap* background = BackgroundOf(d, pic);
  if (Current(L, d, pic, background)) return;
  DropKeptBlend();
  const int32_t count = IndexedLayerCount(pic);
  const int32_t level = std::min(KeptBlendLevel(), count);
  if (level < kMinKeptLayers || !background || background->width < pic->dispWidth ||
      background->height < pic->dispHeight || pic->dispWidth < 1 || pic->dispHeight < 1)
    return;
  Kept& k = gKept;
  if (!k.picture || k.width != pic->dispWidth || k.height != pic->dispHeight) {
    if (k.picture) DeleteBitmap(k.picture);
    k.picture = NewBitmap(pic->dispWidth, pic->dispHeight, 0, nullptr);
    if (!k.picture) return;
  }
  k.pic = pic, k.background = background;
  k.width = pic->dispWidth, k.height = pic->dispHeight;
  k.cols = (k.width + kCell - 1) / kCell, k.rows = (k.height + kCell - 1) / kCell;
  k.level = level;
  try {
    k.ready.assign(static_cast<size_t>(k.cols) * k.rows, 0);
  } catch (const std::bad_alloc&) {
    return;
  }
  k.seenAt = 0;
  k.proven = false;
  KeepBlendFor(MadeFrom(L, d, pic, background));
}

void ReleaseKeptBlend() {
  if (gKept.picture) DeleteBitmap(gKept.picture);
  gKept = Kept{};
  DropKeptBlend();
}

void SetKeptBlendEnabled(bool on) {
  gEnabled = on;
  if (!on) DropKeptBlend();
}

int KeptBlendLevelInUse() { return BlendKept() ? gKept.level : 0; }
unsigned long KeptBlendUses() { return gUses; }
