// Dirty rectangles and the redraw engine: rectangles queued while the shown
// BGPic is the drawing target, their merging, and the composition of a
// rectangle from the background and the visible layers.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "display/bgpic.h"
#include "display/layer_hooks.h"
#include "display/layers/clip_regions.h"
#include "display/layers/kept_blend.h"
#include "display/layers/layer_part.h"
#include "display/layers/layer_index.h"
#include "display/layers/layers.h"
#include "display/layers/sprite_redraw.h"
#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "graphics/geometry.h"
#include "runtime/console.h"

void AddDirtyRect(vlDirtyRects* list, int32_t x, int32_t y, int32_t width, int32_t height, int grow) {
  if (!list || list->all) return;  // everything is dirty already
  if (list->count == list->capacity) {
    // A list that cannot take the rectangle must not lose it: the next
    // refresh then covers everything.
    const int32_t capacity = list->capacity + 1024;
    auto* grown = grow && capacity > list->capacity
                      ? static_cast<int32_t*>(std::malloc(sizeof(int32_t) * 4 * static_cast<size_t>(capacity)))
                      : nullptr;
    if (!grown) {
      MarkAllDirty(list);
      return;
    }
    if (list->count) memcpy(grown, list->rects, sizeof(int32_t) * 4 * list->count);
    std::free(list->rects);
    list->rects = grown;
    list->capacity = capacity;
  }
  int32_t* e = list->rects + 4 * list->count++;
  e[0] = x, e[1] = y, e[2] = x + width - 1, e[3] = y + height - 1;
}

int32_t MergeDirtyRects(vlDirtyRects* list) {
  if (!list) return 0;
  int32_t n = list->count;
  for (int32_t i = 0; i < n; i++) {
    int32_t* a = list->rects + 4 * i;
    if (a[0] == VL_DIRTY_MERGED) continue;
    for (int32_t j = 0; j < n; j++) {
      int32_t* b = list->rects + 4 * j;
      if (j == i || b[0] == VL_DIRTY_MERGED) continue;
      // Rectangles that overlap or lie at most one pixel apart become one.
      if (b[0] - a[2] > 1 || a[0] - b[2] > 1 || b[1] - a[3] > 1 || a[1] - b[3] > 1) continue;
      a[0] = std::min(a[0], b[0]);
      a[1] = std::min(a[1], b[1]);
      a[2] = std::max(a[2], b[2]);
      a[3] = std::max(a[3], b[3]);
      b[0] = VL_DIRTY_MERGED;
    }
  }
  return n;
}

void InvalidateArea(const vlDrawingFor& on, int32_t x, int32_t y, int32_t width, int32_t height) {
  vlDisplay* d = on.display;
  if (!d) return;
  const vlBGPic* pic = on.output;
  if (pic && x < 1 && y < 1 && width >= pic->width && height >= pic->height)
    MarkAllDirty(&d->dirty);
  else
    AddDirtyRect(&d->dirty, x, y, width, height, 0);
}

void InvalidateArea(int32_t x, int32_t y, int32_t width, int32_t height) {
  InvalidateArea(CurrentDrawingFor(), x, y, width, height);
}

namespace {

vlRedrawSpritesFn gRedrawSprites;

}  // namespace

void GetLayerOuterRect(vlVMState* state, vlLayer* layer, const vlDrawingFor& on, vlLayerGeometry* g, int32_t* x,
                       int32_t* y, int32_t* width, int32_t* height) {
  if (!g) g = layer->geometry[2];
  vlRectXYWH r{g->drawnX, g->drawnY, g->drawnWidth, g->drawnHeight};
  vlRectXYWH base = r;
  if (layer->border.on && !g->bImage) MakeLayerBorder(state, layer, on, g, layer->border.color, layer->border.size);
  if (layer->border.on && g->borderWidth > 0) {
    vlRectXYWH b{g->drawnX - g->borderXOffset, g->drawnY - g->borderYOffset, g->borderWidth, g->borderHeight};
    r = UnionRects(r, b);
    base = b;
  }
  if (layer->shadow.on) {
    auto rad = static_cast<int32_t>(layer->shadow.radius);
    vlRectXYWH s{base.x - rad, base.y - rad, base.width + 2 * rad, base.height + 2 * rad};
    MoveByShadowOffset(layer, on.display, &s);
    r = UnionRects(r, s);
  }
  *x = r.x, *y = r.y, *width = r.width, *height = r.height;
}

void GetLayerOuterRect(vlVMState* state, vlLayer* layer, vlLayerGeometry* g, int32_t* x, int32_t* y, int32_t* width,
                       int32_t* height) {
  GetLayerOuterRect(state, layer, CurrentDrawingFor(), g, x, y, width, height);
}

void InvalidateLayer(vlVMState* state, vlDirtyRects* list, vlLayer* layer, vlLayerGeometry* g) {
  int32_t x, y, w, h;
  GetLayerOuterRect(state, layer, g, &x, &y, &w, &h);
  AddDirtyRect(list, x, y, w, h, 1);
}

void RefreshRect(vlVMState* state, const vlDrawingFor& on, int32_t x, int32_t y, int32_t width, int32_t height,
                 uint32_t flags) {
  vlDisplay* d = on.display;
  const vlBGPic* pic = on.output;
  if (!d || !pic || !d->back) return;
  if (x + width <= 0 || x >= pic->dispWidth || y + height <= 0 || y >= pic->dispHeight) return;
  vlRectXYWH r{x, y, width, height};
  if (!ClipRectToSize(&r, pic->dispWidth, pic->dispHeight)) return;
  RedrawLayers(state, d, d->bgpic, d->back, r.x, r.y, r.width, r.height, static_cast<int32_t>(flags));
  UpdateDisplayRect(d->back, r.x, r.y, d, r.x, r.y, r.width, r.height, 0);
}

void RefreshRect(vlVMState* state, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t flags) {
  RefreshRect(state, CurrentDrawingFor(), x, y, width, height, flags);
}

void RefreshArea(vlVMState* state, const vlDrawingFor& on, int32_t x, int32_t y, int32_t width, int32_t height) {
  vlDisplay* d = on.display;
  if (!d) return;
  if (d->outputType == VL_OUTPUT_DISPLAY)
    RefreshRect(state, on, x, y, width, height, 0);
  else if (d->outputType == VL_OUTPUT_BGPIC)
    AddDirtyRect(&d->dirty, x, y, width, height, 1);
}

void RefreshArea(vlVMState* state, int32_t x, int32_t y, int32_t width, int32_t height) {
  RefreshArea(state, CurrentDrawingFor(), x, y, width, height);
}

void RefreshDirtyRects(vlVMState* state, vlDirtyRects* list) {
  if (!list) return;
  if (list->all) {
    if (vlCurrentOutput) RefreshRect(state, 0, 0, vlCurrentOutput->dispWidth, vlCurrentOutput->dispHeight, 0);
    return;
  }
  for (int32_t i = 0; i < list->count; i++) {
    const int32_t* e = list->rects + 4 * i;
    if (e[0] == VL_DIRTY_MERGED) continue;
    RefreshRect(state, e[0], e[1], e[2] + 1 - e[0], e[3] + 1 - e[1], 0);
  }
}

void ShowLayerOnDisplay(vlVMState* state, vlLayer* layer, const vlDrawingFor& on, int direct) {
  int32_t x, y, w, h;
  vlDisplay* d = on.display;
  vlBGPic* pic = on.output;
  vlLayerGeometry* g = layer->geometry[2];
  if (direct && d && pic && d->back && d->bgpic == pic && !layer->hidden && !layer->drawnDuringSelection &&
      !layer->transparency && !layer->shadow.on && !layer->border.on && !g->clipRegion &&
      IsLayerUnobscured(pic, layer)) {
    // Nothing covers the layer: its picture goes straight to the window.
    vlBitmap *image, *mask, *alpha;
    int32_t iw, ih;
    uint32_t extra;
    if (GetLayerBitmaps(state, layer, g, 1, 1, -1, &image, &mask, &alpha, &iw, &ih, &extra) == 0 && image &&
        !alpha) {
      const bool own = (g->fImage && image == g->fImage) || (g->fxImage && image == g->fxImage);
      int32_t sx = own ? 0 : PartOffsetX(layer, g), sy = own ? 0 : PartOffsetY(layer, g);
      int32_t dx = g->drawnX, dy = g->drawnY, bw = g->drawnWidth, bh = g->drawnHeight;
      ClipBlitRects(nullptr, &sx, &sy, &dx, &dy, &bw, &bh, iw, ih, std::min(pic->dispWidth, d->back->width),
                    std::min(pic->dispHeight, d->back->height), 0);
      if (bw < 1 || bh < 1) return;
      if (mask)
        BltBitmapMasked(image, sx, sy, d->back, dx, dy, bw, bh, mask);
      else
        BltBitmap(image, sx, sy, d->back, dx, dy, bw, bh);
      UpdateDisplayRect(d->back, dx, dy, d, dx, dy, bw, bh, 0);
      return;
    }
  }
  // Composing through the redraw engine keeps what lies above the layer.
  GetLayerOuterRect(state, layer, on, g, &x, &y, &w, &h);
  if (direct)
    RefreshRect(state, on, x, y, w, h, 0);
  else
    RefreshArea(state, on, x, y, w, h);
}

void ShowLayerOnDisplay(vlVMState* state, vlLayer* layer, int direct) {
  ShowLayerOnDisplay(state, layer, CurrentDrawingFor(), direct);
}

namespace {

bool Covers(const vlRectXYWH& a, const vlLayer* l) {
  if (l->hidden || l->drawnDuringSelection || l->type == VL_LAYER_NOOBJECT) return false;
  const vlLayerGeometry* h = l->geometry[2];
  return RectsOverlap(a, {h->drawnX, h->drawnY, h->drawnWidth, h->drawnHeight});
}

}  // namespace

int IsLayerUnobscured(vlBGPic* pic, vlLayer* layer) {
  const vlLayerGeometry* g = layer->geometry[2];
  vlRectXYWH a{g->drawnX, g->drawnY, g->drawnWidth, g->drawnHeight};
  // On the BGPic the index knows every layer that meets the rectangle, the
  // layer itself among them.
  std::vector<vlLayer*> meeting;
  if (pic && a.x >= 0 && a.y >= 0 && a.width > 0 && a.height > 0 && a.x + a.width <= pic->dispWidth &&
      a.y + a.height <= pic->dispHeight && FindLayersMeeting(pic, a, &meeting)) {
    auto at = std::find(meeting.begin(), meeting.end(), layer);
    if (at != meeting.end()) {
      for (++at; at != meeting.end(); ++at)
        if (Covers(a, *at)) return 0;
      return 1;
    }
  }
  for (vlNode* node = reinterpret_cast<vlNode*>(layer)->succ; node && node->succ; node = node->succ)
    if (Covers(a, reinterpret_cast<vlLayer*>(node))) return 0;
  return 1;
}


void SetRedrawSpritesHook(vlRedrawSpritesFn fn) { gRedrawSprites = fn; }

static void DrawBackgroundAndLayers(vlVMState* state, vlDisplay* display, vlBGPic* pic, vlBitmap* dest, int32_t x,
                                    int32_t y, int32_t width, int32_t height, int32_t flags);

void RedrawLayers(vlVMState* state, vlDisplay* display, vlBGPic* pic, vlBitmap* dest, int32_t x, int32_t y,
                  int32_t width, int32_t height, int32_t flags) {
  if (width < 1 || height < 1) {
    PrintConsole("ERROR! REDRAW CALLED WITH WIDTH/HEIGHT <= 0\n");
    return;
  }
  if (x < 0 || y < 0) {
    PrintConsole("ERROR! REDRAW CALLED WITH NEGATIVE X/Y COORDINATES\n");
    return;
  }
  if (!dest) {
    PrintConsole("ERROR! REDRAW CALLED WITHOUT DSTBM\n");
    return;
  }
  if (!pic) return;
  bool current = flags & 16;
  int32_t W = current ? pic->width : pic->dispWidth, H = current ? pic->height : pic->dispHeight;
  width = std::min(width, W - x);
  height = std::min(height, H - y);
  width = std::min(width, dest->width - x);
  height = std::min(height, dest->height - y);
  if (width < 1 || height < 1) return;
  if (flags & 32) {
    // A node marked for a redraw of its own (a video's new frame).
    DrawOnScreenSprites(pic, dest, x, y, width, height, 1);
    return;
  }
  if (flags & 2) {
    DrawOnScreenSprites(pic, dest, x, y, width, height);
    if (gRedrawSprites) gRedrawSprites(state, display, pic, dest, x, y, width, height, flags);
    return;
  }
  DrawBackgroundAndLayers(state, display, pic, dest, x, y, width, height, flags);
  if (flags & 1) return;
  DrawOnScreenSprites(pic, dest, x, y, width, height);
  if (gRedrawSprites) gRedrawSprites(state, display, pic, dest, x, y, width, height, flags);
}

static void DrawBackgroundAndLayers(vlVMState* state, vlDisplay* display, vlBGPic* pic, vlBitmap* dest, int32_t x,
                                    int32_t y, int32_t width, int32_t height, int32_t flags) {
  bool current = flags & 16;
  vlBitmap* background = pic->dispBitmap;
  if (current)
    background = pic->curBitmap;
  else if (!(flags & 8) && display && ((flags & 4) || display->bgpic == pic) && display->front)
    background = display->front;
  vlRectXYWH area{x, y, width, height};
  const vlDrawingFor on{display, pic};
  if (!current && !(flags & 8) && display && display->bgpic == pic &&
      DrawThroughKeptBlend(state, display, pic, background, dest, area))
    return;
  if (background && background != dest) {
    int32_t bw = std::min(width, background->width - x), bh = std::min(height, background->height - y);
    if (bw > 0 && bh > 0) BltBitmap(background, x, y, dest, x, y, bw, bh);
  }
  // The index hands back the layers that may meet the area; without it
  // (few layers, the BGPic's own records) the stack is walked.
  // One list serves every redraw but one drawn from inside another.
  static std::vector<vlLayer*> shared;
  static bool sharedInUse = false;
  std::vector<vlLayer*> own;
  std::vector<vlLayer*>& meeting = sharedInUse ? own : shared;
  if (!current && FindLayersMeeting(pic, area, &meeting)) {
    const bool took = &meeting == &shared;
    if (took) sharedInUse = true;
    for (vlLayer* layer : meeting) DrawLayerPart(state, layer, on, current, dest, area);
    if (took) sharedInUse = false;
    return;
  }
  for (vlNode* node = pic->layers.head; node->succ; node = node->succ)
    DrawLayerPart(state, reinterpret_cast<vlLayer*>(node), on, current, dest, area);
}
