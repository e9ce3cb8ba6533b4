// One layer's part of a redraw (see layer_part.h).
#include "display/layers/layer_part.h"

#include <algorithm>

#include "display/layers/clip_regions.h"
#include "display/layers/layers.h"
#include "graphics/bitmap.h"

void DrawLayerPart(vlVMState* state, vlLayer* layer, const vlDrawingFor& on, bool current, vlBitmap* dest,
                   const vlRectXYWH& area) {
  if (layer->type == VL_LAYER_NOOBJECT || layer->hidden || layer->drawnDuringSelection) return;
  vlLayerGeometry* g = layer->geometry[current ? 1 : 2];
  if (!g) return;
  vlRectXYWH work = area;
  if (auto* clip = static_cast<const vlClipRegion*>(g->clipRegion))
    if (!IntersectRects(work, {clip->x, clip->y, clip->width, clip->height}, &work)) return;
  // A layer off the rectangle (its shadow and border aside) needs none of
  // its pictures: a redraw of a small area among many layers stays small.
  vlRectXYWH drawn{g->drawnX, g->drawnY, g->drawnWidth, g->drawnHeight};
  vlRectXYWH part;
  const bool meets = IntersectRects(work, drawn, &part);
  const bool decor = layer->shadow.on || layer->border.on;
  if (!meets && !decor) return;
  PrepareFilteredImage(state, layer, g, 1);
  if (decor) DrawLayerDecor(state, layer, on, g, dest, work);
  if (!meets) return;
  vlBitmap *image, *mask, *alpha;
  int32_t iw, ih;
  uint32_t extra;
  if (GetLayerBitmaps(state, layer, g, 1, 1, -1, &image, &mask, &alpha, &iw, &ih, &extra) || !image) return;
  // Filtered pictures start at the drawn rectangle; others at the part offset.
  const bool own = g->fImage || g->fxImage;
  int32_t ox = own ? 0 : LayerPartX(layer, g), oy = own ? 0 : LayerPartY(layer, g);
  int32_t sx = ox + part.x - drawn.x, sy = oy + part.y - drawn.y;
  part.width = std::min(part.width, iw - sx);
  part.height = std::min(part.height, ih - sy);
  if (part.width < 1 || part.height < 1 || sx < 0 || sy < 0) return;
  // A shaped (or turned) clip region lets only its mask's pixels through.
  vlBitmap* clipPlane = nullptr;
  auto* clip = static_cast<const vlClipRegion*>(g->clipRegion);
  if (clip && clip->mask) {
    clipPlane = MakeClipPlane(clip, mask, alpha, sx, sy, part.x, part.y, part.width, part.height, iw);
    if (!clipPlane) return;
    (alpha ? alpha : mask) = clipPlane;
  }
  DrawLayerImage(image, mask, alpha, sx, sy, dest, part.x, part.y, part.width, part.height, layer->transparency);
  FreeClipPlane(clipPlane);
}

