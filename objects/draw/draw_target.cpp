// The drawing target of the draw library and the steps after rendering:
// blits through SafeBlt, shape layers, the draw tags' effects and texture
// fills.
#include "objects/draw/draw_target.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "display/layers/engine_hooks.h"
#include "display/bgpic.h"
#include "display/display.h"
#include "display/layer_hooks.h"
#include "display/layers/layers.h"
#include "display/layers/safe_blt.h"
#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "graphics/picture_engines.h"
#include "objects/brushes/brush.h"
#include "objects/draw/shape_render.h"
#include "runtime/runtime_options.h"
#include "vm/error_codes.h"

int GetDrawTarget(vlVMState* L, vlDrawTarget* t) {
  *t = {};
  if (!CurrentDisplay() || !vlCurrentOutput) return ERR_CLOSEDDISPLAY;
  if (int status = GetSelectTargetBitmaps(L)) return status;
  return GetDrawTargetFor(L, CurrentDrawingFor(), t);
}

int GetDrawTargetFor(vlVMState* L, const vlDrawingFor& on, vlDrawTarget* t) {
  *t = {};
  vlDisplay* d = on.display;
  vlBGPic* pic = on.output;
  if (!d || !pic) return ERR_CLOSEDDISPLAY;
  t->display = d;
  t->pic = pic;
  t->mode = d->outputType;
  t->layers = d->layersOn != 0;
  t->width = pic->width;
  t->height = pic->height;
  t->clip = static_cast<const vlClipRegion*>(pic->clipRegion);
  uint32_t maskMode = 0, intensity = static_cast<uint32_t>(-1);
  GetRuntimeOption(L, 4, &maskMode, 0u);
  GetRuntimeOption(L, 6, &intensity, 0u);
  t->maskMode = static_cast<int32_t>(maskMode);
  t->rawAlphaIntensity = static_cast<int32_t>(intensity);
  t->alphaIntensity = t->rawAlphaIntensity < 0 ? 255 : t->rawAlphaIntensity;
  switch (t->mode) {
    case VL_OUTPUT_DISPLAY:
      // Without layers the front copy is the display's picture: every
      // redraw under a sprite or of the scaled window starts from it, so
      // drawing goes there and the back buffer is composed from it.
      t->picture = !t->layers && d->front ? d->front : d->back;
      break;
    case VL_OUTPUT_BGPIC:
      t->picture = pic->curBitmap;
      break;
    case VL_OUTPUT_BRUSH:
      t->picture = pic->curBitmap;
      t->mask = d->outputMask;
      t->alpha = d->outputAlpha;
      break;
    case VL_OUTPUT_MASK:
    case VL_OUTPUT_ALPHA:
      if (d->outputHardware && pic->curBitmap) {
        t->picture = pic->curBitmap;
        t->plane = t->mode;
      }
      if (t->mode == VL_OUTPUT_MASK) t->mask = d->outputMask;
      else t->alpha = d->outputAlpha;
      break;
    default:
      break;
  }
  // The picture is the plane target only in the plane modes, the combo
  // target only in the brush mode.
  UpdatePlaneTarget(L, d, t->picture);
  return 0;
}

namespace {

bool SoftwareDoubleBuffer(const vlDisplay* d) { return d->doubleBuffer && !d->hardwareDoubleBuffer; }

bool ScaledOutput(const vlDisplay* d) {
  return (d->scaleX != 1.0 || d->scaleY != 1.0) && d->scaleX != 0 && d->scaleY != 0;
}

}  // namespace

namespace {

// Brings the back buffer up to date with the rectangle drawn into the
// display's picture; false when nothing of it lies on the display or the
// whole display was refreshed instead. *r is the part on the display.
bool ComposeBack(vlVMState* L, const vlDrawTarget& t, int32_t x, int32_t y, int32_t w, int32_t h, vlRectXYWH* r) {
  vlDisplay* d = t.display;
  if (SoftwareDoubleBuffer(d)) InvalidateArea({d, t.pic}, x, y, w, h);
  if (t.mode != VL_OUTPUT_DISPLAY || !d->back) return false;
  if (t.picture != d->front || (d->layerScale && ScaledOutput(d))) {
    RefreshDisplayObject(L, d, 0);
    return false;
  }
  // The back buffer takes the front copy's rectangle with the sprites over
  // it.
  if (!IntersectRects({x, y, w, h}, {0, 0, std::min(d->front->width, d->back->width),
                                     std::min(d->front->height, d->back->height)}, r))
    return false;
  RedrawBGPicLayers(L, d, t.pic, d->back, r->x, r->y, r->width, r->height, 0);
  return true;
}

}  // namespace

void FinishTargetRect(vlVMState* L, const vlDrawTarget& t, int32_t x, int32_t y, int32_t w, int32_t h) {
  // The window gets the rectangle (scaled on the way out when the display
  // is).
  vlRectXYWH r;
  if (ComposeBack(L, t, x, y, w, h, &r))
    UpdateDisplayRect(t.display->back, r.x, r.y, t.display, r.x, r.y, r.width, r.height, 0);
}

bool FinishTargetDirect(vlVMState* L, const vlDrawTarget& t, int32_t x, int32_t y, int32_t w, int32_t h) {
  vlDisplay* d = t.display;
  // Drawn on the window itself only where the window shows the display's
  // picture one to one: not scaled, not through a double buffer, no video
  // over it, refreshes not held back.
  const bool direct = t.mode == VL_OUTPUT_DISPLAY && d->back && t.picture == d->front && !ScaledOutput(d) &&
                      !d->scaleWidth && !d->doubleBuffer && !vlRefreshSuspended && !gLayerHooks.videoOnDisplay(d);
  vlRectXYWH r;
  if (!ComposeBack(L, t, x, y, w, h, &r)) return false;
  if (direct && r.x == x && r.y == y && r.width == w && r.height == h) return true;
  UpdateDisplayRect(d->back, r.x, r.y, d, r.x, r.y, r.width, r.height, 0);
  return false;
}

void BlitToTarget(vlVMState* L, const vlDrawTarget& t, vlBitmap* image, vlBitmap* mask, vlBitmap* alpha, int32_t x,
                  int32_t y, int32_t w, int32_t h) {
  vlDisplay* d = t.display;
  // A scaled display gets the picture into its back buffer and the window
  // scaled on the way out.
  if (SoftwareDoubleBuffer(d)) InvalidateArea({d, t.pic}, x, y, w, h);
  vlBitmap* dst = t.mode == VL_OUTPUT_DISPLAY ? nullptr : t.picture;
  SafeBlt(L, image, 0, 0, dst, x, y, w, h, w, h, t.width, t.height,
          VL_SAFEBLT_FIRSTBUFFER | VL_SAFEBLT_FROMLAYERS | VL_SAFEBLT_DIRECT | VL_SAFEBLT_KEEP, mask, alpha, t.clip);
}

void FinishLayerDraw(vlVMState* L, const vlDrawTarget& t, int32_t x, int32_t y, int32_t w, int32_t h) {
  vlBGPic* pic = t.pic;
  // AddLayer has shown the layer on the display, or queued it while the
  // BGPic is the drawing target; an off-screen target takes the pixels.
  if (t.mode == VL_OUTPUT_DISPLAY || t.mode == VL_OUTPUT_BGPIC) return;
  vlLayer* layer = reinterpret_cast<vlLayer*>(pic->layers.tailPred);
  if (IsListEmpty(&pic->layers) || !layer->geometry[0]) return;
  vlLayerGeometry* g = layer->geometry[0];
  BlitToTarget(L, t, g->image, g->mask, g->alpha, x, y, w, h);
}

vlLayerGeometry* CopyShapeGeometry(const vlLayerGeometry* g0) {
  const auto* from = static_cast<const vlShapeGeometry*>(g0);
  auto* g = new (std::nothrow) vlShapeGeometry(*from);
  if (!g) return nullptr;
  g->image = g->mask = g->alpha = nullptr;
  g->xImage = g->xMask = g->xAlpha = nullptr;
  g->fImage = g->fMask = g->fAlpha = nullptr;
  g->bImage = g->bMask = g->bAlpha = nullptr;
  g->shadowAlpha = nullptr;
  g->clipRegion = nullptr;
  g->shape.vertices = nullptr;
  const int32_t n = from->shape.vertexCount;
  if (from->shape.vertices && n > 0) {
    g->shape.vertices = static_cast<double*>(std::malloc(sizeof(double) * 2 * n));
    if (!g->shape.vertices) {
      delete g;
      return nullptr;
    }
    std::memcpy(g->shape.vertices, from->shape.vertices, sizeof(double) * 2 * n);
  }
  return g;
}

void FreeShapeGeometry(vlLayerGeometry* g) {
  auto* s = static_cast<vlShapeGeometry*>(g);
  std::free(s->shape.vertices);
  delete s;
}

int AddShapeLayer(vlVMState* L, const vlShapeRecord& record, vlShapeTags* tags, int32_t x, int32_t y, int32_t w,
                  int32_t h, vlBitmap* image, vlBitmap* mask, vlBitmap* alpha, int32_t position, vlLayer** out) {
  if (out) *out = nullptr;
  auto* g = new (std::nothrow) vlShapeGeometry{};
  double* vertices = nullptr;
  if (g && record.vertices && record.vertexCount > 0) {
    vertices = static_cast<double*>(std::malloc(sizeof(double) * 2 * record.vertexCount));
    if (vertices) std::memcpy(vertices, record.vertices, sizeof(double) * 2 * record.vertexCount);
  }
  if (!g || (record.vertices && record.vertexCount > 0 && !vertices)) {
    delete g;
    if (image) DeleteBitmap(image);
    if (mask) DeleteMaskPlane(mask);
    if (alpha) DeleteAlphaPlane(alpha);
    return ERR_MEM;
  }
  g->shape = record;
  g->shape.vertices = vertices;
  g->x = record.x;
  g->y = record.y;
  g->width = record.width;
  g->height = record.height;
  vlLayer* layer = nullptr;
  // On a display that scales its layers the shape is drawn again at the
  // display's size, as every other layer is.
  int status = AddLayer(L, record.type, nullptr, x, y, w, h, &tags->transform, &tags->form, image, mask, alpha, g,
                        position, VL_ADDLAYER_DISPLAYSCALED, &layer);
  if (status) return status;
  if (out) *out = layer;
  return 0;
}

int FillWithTextureBrush(vlVMState* L, const vlDrawState& s, const vlLayerTransform* m, int smooth,
                         vlBitmap* picture, int32_t x, int32_t y, int32_t w, int32_t h, bool* empty, int64_t intoX,
                         int64_t intoY) {
  *empty = false;
  vlBrush* b = nullptr;
  if (int status = GetBrushByID(L, s.textureBrush, &b, VL_BRUSH_HARDWAREOK)) return status;
  if (!b->bitmap) return ERR_BRUSHTYPE;
  vlBitmap* tile = b->bitmap;
  int32_t tw = b->width, th = b->height;
  vlBitmap* scaled = nullptr;
  if (m && m->b == 0 && m->c == 0 && (std::abs(m->a) != 1 || std::abs(m->d) != 1)) {
    tw = static_cast<int32_t>(std::abs(m->a) * b->width);
    th = static_cast<int32_t>(std::abs(m->d) * b->height);
    if (tw < 1 || th < 1) {
      *empty = true;
      return 0;
    }
    if (int status = ScaleBitmap(b->bitmap, nullptr, nullptr, 0, 0, nullptr, b->width, b->height, tw, th, smooth, 0,
                                 &scaled, nullptr, nullptr))
      return status;
    tile = scaled;
  }
  // The phase inside the tile, taken in 64 bits: the offset into the
  // whole area may be anything a picture's size allows.
  const auto phase = [](int64_t offset, int64_t into, int64_t size) {
    return static_cast<int32_t>(((offset + into) % size + size) % size);
  };
  TileBitmap(picture, x, y, w, h, tile, phase(s.textureX, intoX, tw), phase(s.textureY, intoY, th), tw, th, nullptr,
             0);
  if (scaled) DeleteBitmap(scaled);
  return 0;
}
