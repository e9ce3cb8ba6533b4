// A layer's border picture and drop shadow: built on demand into the
// geometry record's caches and drawn under the layer by the redraw.
#include <algorithm>

#include "display/layers/layers.h"
#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "graphics/effect_engines.h"
#include "vm/error_codes.h"

namespace {

// The part of the layer's own pictures that is shown.
bool ShownPlanes(vlVMState* state, vlLayer* layer, vlLayerGeometry* g, vlBitmap** mask, vlBitmap** alpha,
                 int32_t* ox, int32_t* oy) {
  vlBitmap* image;
  int32_t w, h;
  uint32_t extra;
  if (GetLayerBitmaps(state, layer, g, 1, 1, -1, &image, mask, alpha, &w, &h, &extra)) return false;
  bool filtered = g->fImage && image == g->fImage;
  *ox = filtered ? 0 : LayerPartX(layer, g);
  *oy = filtered ? 0 : LayerPartY(layer, g);
  return true;
}

int32_t Faded(int32_t opacity, uint32_t fade) {
  return fade ? static_cast<int32_t>(opacity * static_cast<int64_t>(fade - 1) / 255) : opacity;
}

}  // namespace

int MakeLayerBorder(vlVMState* state, vlLayer* layer, const vlDrawingFor& on, vlLayerGeometry* g, uint32_t color,
                    int32_t size) {
  if (g->bImage) return 0;
  const vlLayerSource* source = FindLayerSource(layer->type);
  if (source && source->makeBorder) {
    vlBitmap *image = nullptr, *mask = nullptr, *alpha = nullptr;
    int32_t ox = 0, oy = 0;
    if (int status = source->makeBorder(state, layer, on, g, color, std::clamp(size, 1, 64), &ox, &oy, &image,
                                        &mask, &alpha))
      return status;
    const int32_t opacity = 255 - static_cast<int32_t>(color >> 24);
    if (opacity != 255 && alpha) {
      ScaleAlphaPlane(alpha, alpha, opacity);
    } else if (opacity != 255) {
      alpha = NewAlphaPlane(image->width, image->height, 1, nullptr, 0);
      if (!alpha) {
        DeleteBitmap(image);
        if (mask) DeleteMaskPlane(mask);
        return ERR_ALLOCALPHA;
      }
      if (mask)
        MaskToAlphaBytes(mask, 0, 0, alpha, 0, 0, image->width, image->height, static_cast<uint8_t>(opacity));
      else
        FillAlphaRect(alpha, 0, 0, image->width, image->height, static_cast<uint8_t>(opacity));
      if (mask) DeleteMaskPlane(mask);
      mask = nullptr;
    }
    ApplyLayerFilters(layer->filters, image, mask, alpha, image->width, image->height, 1);
    g->bImage = image, g->bMask = mask, g->bAlpha = alpha;
    g->borderXOffset = ox, g->borderYOffset = oy;
    g->borderWidth = image->width, g->borderHeight = image->height;
    return 0;
  }
  vlBitmap *mask, *alpha;
  int32_t ox, oy;
  if (!ShownPlanes(state, layer, g, &mask, &alpha, &ox, &oy)) return ERR_WRONGUSAGE;
  int32_t w = std::clamp(size, 1, 64);
  int32_t W = g->drawnWidth, H = g->drawnHeight;
  if (W < 1 || H < 1) return ERR_WRONGUSAGE;
  vlBitmap* image = NewBitmap(W + 2 * w, H + 2 * w, 0, nullptr);
  if (!image) return ERR_BITMAP;
  FillBitmapRect(image, 0, 0, W + 2 * w, H + 2 * w, 0xFF000000u | color);
  vlBitmap* plane = nullptr;
  if (mask || alpha) {
    // A blurred outline of the layer's shape.
    plane = MakeShadowAlpha(alpha, mask, ox, oy, W, H, w, w / 3.0, 255, 1, size >= 4);
  } else {
    // A plain rectangle gets a ring around it.
    plane = NewAlphaPlane(W + 2 * w, H + 2 * w, 1, nullptr, 0);
    if (plane) {
      FillAlphaRect(plane, 0, 0, W + 2 * w, H + 2 * w, 255);
      FillAlphaRect(plane, w, w, W, H, 0);
    }
  }
  if (!plane || plane->width != W + 2 * w || plane->height != H + 2 * w) {
    if (plane) DeleteAlphaPlane(plane);
    DeleteBitmap(image);
    return ERR_ALLOCALPHA;
  }
  int32_t opacity = 255 - static_cast<int32_t>(color >> 24);
  if (opacity != 255) ScaleAlphaPlane(plane, plane, opacity);
  ApplyLayerFilters(layer->filters, image, nullptr, plane, W + 2 * w, H + 2 * w, 1);
  g->bImage = image;
  g->bAlpha = plane;
  g->borderXOffset = g->borderYOffset = w;
  g->borderWidth = W + 2 * w;
  g->borderHeight = H + 2 * w;
  return 0;
}

void MoveByShadowOffset(const vlLayer* layer, const vlDisplay* display, vlRectXYWH* r) {
  const double fx = display && display->scaleX > 0 ? display->scaleX : 1.0;
  const double fy = display && display->scaleY > 0 ? display->scaleY : 1.0;
  auto dy = static_cast<int32_t>(layer->shadow.size * fy), dx = static_cast<int32_t>(layer->shadow.size * fx);
  uint32_t dir = layer->shadow.direction;
  if (dir == 0 || dir == 1 || dir == 7) r->y -= dy;
  if (dir == 3 || dir == 4 || dir == 5) r->y += dy;
  if (dir == 1 || dir == 2 || dir == 3) r->x += dx;
  if (dir == 5 || dir == 6 || dir == 7) r->x -= dx;
}

void DrawLayerDecor(vlVMState* state, vlLayer* layer, const vlDrawingFor& on, vlLayerGeometry* g, vlBitmap* dest,
                    const vlRectXYWH& work) {
  if (layer->border.on && !g->bImage) MakeLayerBorder(state, layer, on, g, layer->border.color, layer->border.size);
  if (layer->shadow.on) {
    if (!g->shadowAlpha) {
      vlBitmap *mask = nullptr, *alpha = nullptr;
      int32_t ox = 0, oy = 0, w = g->drawnWidth, h = g->drawnHeight;
      bool have = true;
      if (g->bImage) {
        mask = g->bMask, alpha = g->bAlpha, w = g->borderWidth, h = g->borderHeight;
      } else {
        have = ShownPlanes(state, layer, g, &mask, &alpha, &ox, &oy);
      }
      int32_t opacity = Faded(255 - static_cast<int32_t>(layer->shadow.color >> 24), layer->shadowFade);
      if (have && w > 0 && h > 0)
        g->shadowAlpha = MakeShadowAlpha(alpha, mask, ox, oy, w, h, layer->shadow.radius, layer->shadow.sigma,
                                         opacity, 0, 0);
    }
    if (vlBitmap* sa = g->shadowAlpha) {
      // The shadow's plane is centred on the body (or border) it was made from.
      int32_t bx = g->bImage ? g->drawnX - g->borderXOffset : g->drawnX;
      int32_t by = g->bImage ? g->drawnY - g->borderYOffset : g->drawnY;
      int32_t bw = g->bImage ? g->borderWidth : g->drawnWidth;
      int32_t bh = g->bImage ? g->borderHeight : g->drawnHeight;
      vlRectXYWH s{bx - (sa->width - bw) / 2, by - (sa->height - bh) / 2, sa->width, sa->height};
      MoveByShadowOffset(layer, on.display, &s);
      vlRectXYWH part;
      if (IntersectRects(s, work, &part))
        BltAlphaChannel(sa, part.x - s.x, part.y - s.y, dest, part.x, part.y, part.width, part.height,
                        layer->shadow.color & 0xFFFFFF, 1, nullptr, 255, nullptr, nullptr, 0);
    }
  }
  if (layer->border.on && g->bImage) {
    vlRectXYWH b{g->drawnX - g->borderXOffset, g->drawnY - g->borderYOffset, g->borderWidth, g->borderHeight};
    vlRectXYWH part;
    if (IntersectRects(b, work, &part)) {
      int32_t opacity = Faded(255 - static_cast<int32_t>(std::min<uint32_t>(layer->transparency, 255)),
                              layer->borderFade);
      DrawLayerImage(g->bImage, g->bMask, g->bAlpha, part.x - b.x, part.y - b.y, dest, part.x, part.y, part.width,
                     part.height, static_cast<uint32_t>(255 - opacity));
    }
  }
}
