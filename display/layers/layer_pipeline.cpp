// The layer image pipeline: the transform matrix of a layer, the rebuild of
// its transformed (BGPic-space) and display-scaled records, the new
// geometry after a re-render, and turning a layer into a picture that
// scripts may draw into.
#include <algorithm>
#include <cmath>
#include <new>

#include "display/bgpic.h"
#include "display/display.h"
#include "display/layers/layer_index.h"
#include "display/layers/async_draw.h"
#include "display/layers/clip_regions.h"
#include "display/layer_hooks.h"
#include "display/layers/layers.h"
#include "display/picture_transform.h"
#include "graphics/bitmap.h"
#include "graphics/geometry.h"
#include "graphics/picture_engines.h"
#include "runtime/console.h"
#include "vm/convert.h"
#include "vm/error_codes.h"

namespace {

constexpr double kDegree = 0.017453292519943295;

void FreeTriple(vlBitmap** image, vlBitmap** mask, vlBitmap** alpha) {
  if (*image) DeleteBitmap(*image);
  if (*mask) DeleteMaskPlane(*mask);
  if (*alpha) DeleteAlphaPlane(*alpha);
  *image = *mask = *alpha = nullptr;
}

void ClearPictures(vlLayerGeometry* g) {
  g->image = g->mask = g->alpha = nullptr;
  g->xImage = g->xMask = g->xAlpha = nullptr;
  g->fImage = g->fMask = g->fAlpha = nullptr;
  g->bImage = g->bMask = g->bAlpha = nullptr;
  g->shadowAlpha = nullptr;
  g->clipRegion = nullptr;
}

bool IsTextType(uint32_t type) {
  return type == VL_LAYER_TEXTOBJECT || type == VL_LAYER_TEXTOUT || type == VL_LAYER_PRINT;
}

// Types whose record's part fields are an offset into the source picture.
bool HasPartOffset(uint32_t type) {
  return type == VL_LAYER_BRUSH || type == VL_LAYER_BRUSHPART || type == VL_LAYER_BGPICPART ||
         type == VL_LAYER_VIDEO;
}

vlLayerGeometry* CopyRecord(uint32_t type, const vlLayerGeometry* g0) {
  const vlLayerSource* source = FindLayerSource(type);
  vlLayerGeometry* g = nullptr;
  if (source && source->copyGeometry) {
    g = source->copyGeometry(g0);
  } else if ((g = new (std::nothrow) vlLayerGeometry(*g0)) != nullptr) {
    ClearPictures(g);
  }
  if (g && HasPartOffset(type)) g->partX = g->partY = 0;
  return g;
}

double FactorX(const vlDisplay* d) { return d && d->scaleX > 0 ? d->scaleX : 1.0; }
double FactorY(const vlDisplay* d) { return d && d->scaleY > 0 ? d->scaleY : 1.0; }

// The layer's untransformed pictures turned by the block's matrix about
// the anchor: the re-render of picture layers.
int TransformPictures(vlVMState* state, vlLayer* layer, const vlDrawingFor& on, vlLayerGeometry* target,
                      const vlLayerTransform* t, uint32_t flags, vlLayerRect* rect) {
  vlLayerGeometry* g0 = layer->geometry[0];
  vlBitmap *image, *mask, *alpha;
  int32_t iw, ih;
  uint32_t extra;
  if (int status = GetLayerBitmaps(state, layer, g0, 0, 0, -1, &image, &mask, &alpha, &iw, &ih, &extra))
    return status;
  if (!image) return ERR_WRONGUSAGE;
  // A video frame is the whole frame even when the layer shows a part.
  int32_t sx = 0, sy = 0;
  if (HasPartOffset(layer->type) && (!g0->image || layer->type == VL_LAYER_VIDEO)) sx = g0->partX, sy = g0->partY;
  int32_t w = std::min(g0->width, iw - sx), h = std::min(g0->height, ih - sy);
  if (w < 1 || h < 1 || sx < 0 || sy < 0) return ERR_BADDIMENSIONS;
  const double m[4] = {t->a, t->c, t->b, t->d};
  vlBitmap *ni = nullptr, *nm = nullptr, *na = nullptr;
  int32_t tw = w, th = h;
  int status;
  const vlLayerSource* source = FindLayerSource(layer->type);
  vlLoadedSource* vector = source && source->vectorSource && !g0->image ? source->vectorSource(state, layer) : nullptr;
  if (IsIdentityTransform(t)) {
    status = CopyBitmapRegion(image, mask, alpha, sx, sy, w, h, 0, 0, 0, &ni, &nm, &na);
  } else if (vector) {
    const double matrix[4] = {t->a, t->b, t->c, t->d};
    status = TransformPicture(state, VL_PICTURE_VECTOR, vector, nullptr, mask, alpha, sx, sy, 0, 0, w, h, 0, 0, matrix,
                              static_cast<int32_t>(t->smooth), &ni, &nm, &na, nullptr, nullptr, &tw, &th);
  } else if (t->b == 0 && t->c == 0 && t->a > 0 && t->d > 0) {
    // A pure scale goes through the scaler; sizes that land a rounding
    // error below a whole number keep that number.
    tw = std::max(1, vl::DoubleToInt32Saturated(w * t->a + 1e-9));
    th = std::max(1, vl::DoubleToInt32Saturated(h * t->d + 1e-9));
    status = ScaleBitmap(image, mask, alpha, sx, sy, nullptr, w, h, tw, th, static_cast<int32_t>(t->smooth), 0, &ni,
                         &nm, &na);
  } else {
    status = TransformBitmap(image, mask, alpha, sx, sy, w, h, m, static_cast<int32_t>(t->smooth), 0, &ni, &nm, &na,
                             &tw, &th);
  }
  if (status) return status;
  if (!ni) return ERR_BITMAP;
  target->anchoredX = target->x - static_cast<int32_t>(w * t->anchorX);
  target->anchoredY = target->y - static_cast<int32_t>(h * t->anchorY);
  int32_t ox = target->anchoredX, oy = target->anchoredY;
  if (!IsIdentityTransform(t))
    FitRotatedRect(target->anchoredX, target->anchoredY, w, h, t->anchorX, t->anchorY, m, &ox, &oy, nullptr,
                   nullptr);
  FreeTriple(&target->xImage, &target->xMask, &target->xAlpha);
  target->xImage = ni, target->xMask = nm, target->xAlpha = na;
  SetLayerGeometry(state, layer, on, target, rect, ox, oy, tw, th, nullptr, nullptr, nullptr, flags);
  return 0;
}

// The clip region of a new transformed record: record [0]'s region turned
// with the picture (same matrix, same pivot) and placed so the layer's own
// rounded box lands where its turned picture is put, so the same part of
// the layer stays visible. bgpicRecord is given for the display-space pass.
void* ClipRegionForRecord(vlLayer* layer, const vlLayerTransform* t, const vlLayerGeometry* bgpicRecord, double fx,
                          double fy) {
  const vlLayerGeometry* g0 = layer->geometry[0];
  auto* region = static_cast<vlClipRegion*>(g0->clipRegion);
  if (layer->clipUntransformed) {
    if (!bgpicRecord) return region;
    // Only the display's scaling applies.
    const double scale[4] = {fx, 0, 0, fy};
    return TransformClipMask(region, scale, 0, 0, 0, 0);
  }
  if (!bgpicRecord && IsIdentityTransform(t)) return region;  // nothing turns: shared
  const double m[4] = {t->a, t->c, t->b, t->d};
  const int32_t w = g0->width, h = g0->height;
  const double ax = w * t->anchorX, ay = h * t->anchorY;
  const double pivotX = g0->x - static_cast<int32_t>(ax) + ax, pivotY = g0->y - static_cast<int32_t>(ay) + ay;
  // Where the picture goes (as the picture pass puts it) ...
  int32_t x = g0->x, y = g0->y;
  if (bgpicRecord) x = static_cast<int32_t>(bgpicRecord->x * fx), y = static_cast<int32_t>(bgpicRecord->y * fy);
  int32_t pictureX, pictureY;
  FitRotatedRect(x - static_cast<int32_t>(ax), y - static_cast<int32_t>(ay), w, h, t->anchorX, t->anchorY, m,
                 &pictureX, &pictureY, nullptr, nullptr);
  // ... and where its rounded corner pixels land about the pivot.
  double corners[8] = {-ax, -ay, w - 1 - ax, -ay, w - 1 - ax, h - 1 - ay, -ax, h - 1 - ay};
  int32_t bw, bh, boxX, boxY;
  TransformPointsBounds(corners, 4, m, 0, 0, &bw, &bh, &boxX, &boxY);
  return TransformClipMask(region, m, pivotX, pivotY, pictureX - boxX, pictureY - boxY);
}

}  // namespace

bool IsIdentityTransform(const vlLayerTransform* t) { return t->a == 1 && t->b == 0 && t->c == 0 && t->d == 1; }

bool DisplayScalesLayers(const vlDisplay* d) {
  return d && d->layerScale && d->scaleWidth && d->scaleHeight && (d->scaleX != 1.0 || d->scaleY != 1.0) &&
         d->scaleX > 0 && d->scaleY > 0;
}

bool DisplayDrawsBGPic(const vlDisplay* d, const vlBGPic* pic) {
  return d && pic && (d->bgpic == pic || QueryTransitionAsyncDraws(0) == reinterpret_cast<intptr_t>(pic));
}

namespace {

// The BGPic an effect's layer stands in for is drawn at the scale size as
// if the display showed it: while its layers are built, the display's
// factors are that BGPic's own, as when the effect scaled it.
class StandInFactors {
 public:
  explicit StandInFactors(const vlDrawingFor& on) : d_(on.display) {
    const vlBGPic* pic = on.output;
    if (!d_ || !pic || pic == d_->bgpic || pic->width < 1 || pic->height < 1 || !DisplayScalesLayers(d_) ||
        !DisplayDrawsBGPic(d_, pic))
      return;
    saved_ = true, x_ = d_->scaleX, y_ = d_->scaleY;
    d_->scaleX = static_cast<double>(d_->scaleWidth) / pic->width;
    d_->scaleY = static_cast<double>(d_->scaleHeight) / pic->height;
  }
  ~StandInFactors() {
    if (saved_) d_->scaleX = x_, d_->scaleY = y_;
  }
  StandInFactors(const StandInFactors&) = delete;
  StandInFactors& operator=(const StandInFactors&) = delete;

 private:
  vlDisplay* d_;
  bool saved_ = false;
  double x_ = 1.0, y_ = 1.0;
};

}  // namespace

void PlaceDisplayRecord(uint32_t type, const vlLayerGeometry* from, vlLayerGeometry* to, double fx, double fy,
                        bool moved) {
  if (type == VL_LAYER_LINE) {
    to->drawnX = static_cast<int32_t>(from->drawnX * fx);
    to->drawnY = static_cast<int32_t>(from->drawnY * fy);
    return;
  }
  const int32_t x = static_cast<int32_t>(from->x * fx), y = static_cast<int32_t>(from->y * fy);
  if (moved) {
    // Text rendered at the display's size is centred on the scaled box: the
    // offset is the build's, not the BGPic record's scaled.
    to->drawnX += x - to->x, to->drawnY += y - to->y;
    to->anchoredX += x - to->x, to->anchoredY += y - to->y;
  }
  to->x = x, to->y = y;
}

void BuildTransformMatrix(vlLayerTransform* t, int32_t tw, int32_t th, int32_t sw, int32_t sh, double scaleX,
                          double scaleY, double angle) {
  double a, d;
  if (((tw && tw != sw) || (th && th != sh)) && sw > 0 && sh > 0) {
    a = static_cast<double>(tw ? tw : sw) / sw;
    d = static_cast<double>(th ? th : sh) / sh;
  } else {
    a = scaleX;
    d = scaleY;
  }
  double b = 0, c = 0;
  t->derivedScaleX = a;
  t->derivedScaleY = d;
  if (angle != 0) {
    // Degrees turn clockwise on screen.
    double r = (360.0 - std::fmod(angle, 360.0)) * kDegree;
    double s = std::sin(r), k = std::cos(r);
    double na = a * k - b * s, nb = a * s + b * k, nc = c * k - d * s, nd = c * s + d * k;
    a = na, b = nb, c = nc, d = nd;
  }
  t->a = a, t->b = b, t->c = c, t->d = d;
}

void UpdateTransformMatrix(vlLayerTransform* t, int32_t sw, int32_t sh) {
  if (t->fixedMatrix) {
    t->a = t->fixed[0], t->b = t->fixed[1], t->c = t->fixed[2], t->d = t->fixed[3];
    return;
  }
  BuildTransformMatrix(t, t->targetWidth, t->targetHeight, sw, sh, t->scaleX, t->scaleY, t->angle);
}

void AngleFromMatrix(vlLayerTransform* t) {
  if (t->b == 0 && t->c == 0) return;
  t->generalMatrix = 1;
  double sx = 0, sy = 0;
  bool foundX = false, foundY = false;
  for (int i = 0; i <= 360 && !foundX; i++) {
    double c = std::cos(i * kDegree), s = std::sin(i * kDegree);
    if (std::fabs(c) < 1e-12 || std::fabs(s) < 1e-12) continue;
    double p = t->a / c, q = t->b / s;
    if (p > 0 && std::fabs(p - q) <= 0.0001) sx = p, foundX = true;
  }
  if (!foundX) return;
  for (int i = 0; i <= 360 && !foundY; i++) {
    double c = std::cos(i * kDegree), s = -std::sin(i * kDegree);
    if (std::fabs(c) < 1e-12 || std::fabs(s) < 1e-12) continue;
    double p = t->d / c, q = t->c / s;
    if (p > 0 && std::fabs(p - q) <= 0.0001) sy = p, foundY = true;
  }
  if (!foundY) return;
  t->derivedScaleX = sx;
  t->derivedScaleY = sy;
  if (std::fabs(sx - sy) <= 0.01) t->generalMatrix = 0;
}

void SetLayerGeometry(vlVMState* state, vlLayer* layer, const vlDrawingFor& on, vlLayerGeometry* g, vlLayerRect* rect,
                      int32_t x, int32_t y, int32_t width, int32_t height, vlBitmap* image, vlBitmap* mask,
                      vlBitmap* alpha, uint32_t flags) {
  g->drawnWidth = width;
  g->drawnHeight = height;
  if (!(layer->type == VL_LAYER_LINE && (flags & 64))) {
    g->drawnX = x;
    g->drawnY = y;
  }
  NoteLayersChanged();
  if (image) {
    FreeTriple(&g->image, &g->mask, &g->alpha);
    g->image = image, g->mask = mask, g->alpha = alpha;
  }
  if (rect && rect->width == -1) *rect = {g->drawnX, g->drawnY, g->drawnWidth, g->drawnHeight, rect->noRefresh};
  // The new shape invalidates what was made from the old one.
  FreeTriple(&g->fImage, &g->fMask, &g->fAlpha);
  FreeTriple(&g->bImage, &g->bMask, &g->bAlpha);
  if (g->shadowAlpha) DeleteAlphaPlane(g->shadowAlpha);
  g->shadowAlpha = nullptr;
  if (FindAsyncDrawOwner(layer, 0)) BroadcastAsyncDraw(1, layer);
  if (layer->hidden || layer->drawnDuringSelection || !rect || rect->noRefresh) return;
  vlRectXYWH area{g->drawnX, g->drawnY, g->drawnWidth, g->drawnHeight};
  if (rect->width > 0 && rect->height > 0) area = UnionRects(area, {rect->x, rect->y, rect->width, rect->height});
  RefreshArea(state, on, area.x, area.y, area.width, area.height);
}

int BuildLayerImage(vlVMState* state, vlLayer* layer, vlLayerGeometry* target, const vlLayerTransform* t,
                    uint32_t flags, vlLayerRect* rect) {
  return BuildLayerImage(state, layer, CurrentDrawingFor(), target, t, flags, rect);
}

int BuildLayerImage(vlVMState* state, vlLayer* layer, const vlDrawingFor& on, vlLayerGeometry* target,
                    const vlLayerTransform* t, uint32_t flags, vlLayerRect* rect) {
  if (t == &layer->transform) {
    PrintConsole("ERROR! LT MUST BE INDEPENDENT OF THE LAYER!\n");
    return 0;
  }
  const vlLayerSource* source = FindLayerSource(layer->type);
  if (source && source->rebuild) return source->rebuild(state, layer, on, target, t, flags, rect);
  switch (layer->type) {
    case VL_LAYER_BRUSH:
    case VL_LAYER_BRUSHPART:
    case VL_LAYER_BGPICPART:
    case VL_LAYER_VIDEO:
    case VL_LAYER_ANIM:
      return TransformPictures(state, layer, on, target, t, flags, rect);
    default:
      // Drawn layers whose routine is not here keep the pictures they were
      // given.
      if (layer->geometry[0] && layer->geometry[0]->image)
        return TransformPictures(state, layer, on, target, t, flags, rect);
      return 0;
  }
}

int RebuildLayerImage(vlVMState* state, vlLayer* layer, uint32_t mode) {
  return RebuildLayerImage(state, layer, mode, CurrentDrawingFor());
}

int RebuildLayerImage(vlVMState* state, vlLayer* layer, uint32_t mode, const vlDrawingFor& on) {
  const StandInFactors factors(on);
  vlLayerTransform t = layer->transform;
  if (IsTextType(layer->type)) AngleFromMatrix(&t);
  vlDisplay* d = on.display;
  bool display = mode & 1;
  double fx = FactorX(d), fy = FactorY(d);
  if (display) {
    t.a *= fx, t.b *= fx;
    t.c *= fy, t.d *= fy;
    t.smooth = d ? static_cast<uint32_t>(d->smoothScale) : 0;
    t.derivedScaleX *= fx;
    t.derivedScaleY *= fy;
    if (!t.generalMatrix && std::fabs(fx - fy) > 0.01) t.generalMatrix = 1;
  }
  vlLayerGeometry** g = layer->geometry;
  vlLayerGeometry* record = CopyRecord(layer->type, g[0]);
  if (!record) return ERR_MEM;
  vlLayerGeometry *oldOne = g[1], *oldTwo = g[2];
  bool twoSeparate = oldTwo != g[0] && oldTwo != oldOne;
  vlLayerRect rect{0, 0, -1, -1, (mode & 2) ? 1u : 0u};
  if (g[0]->clipRegion) {
    record->clipRegion = ClipRegionForRecord(layer, &t, display ? oldOne : nullptr, fx, fy);
    if (!record->clipRegion) {
      FreeLayerGeometry(state, layer->type, record);
      return ERR_MEM;
    }
  }
  record->x = g[0]->x, record->y = g[0]->y, record->width = g[0]->width, record->height = g[0]->height;
  uint32_t flags;
  bool displayPass = false;
  if (display) {
    const vlLayerGeometry* from = twoSeparate ? oldTwo : oldOne;
    if (!(mode & 4)) rect = {from->drawnX, from->drawnY, from->drawnWidth, from->drawnHeight, rect.noRefresh};
    PlaceDisplayRecord(layer->type, oldOne, record, fx, fy, false);
    g[2] = record;
    NoteLayersChanged();
    flags = 80;
  } else {
    rect = {oldOne->drawnX, oldOne->drawnY, oldOne->drawnWidth, oldOne->drawnHeight, rect.noRefresh};
    displayPass = DisplayScalesLayers(d) && DisplayDrawsBGPic(d, on.output);
    if (displayPass) rect.noRefresh = 1;  // the display pass refreshes
    g[1] = g[2] = record;
    NoteLayersChanged();
    flags = 16;
  }
  if (int status = BuildLayerImage(state, layer, on, record, &t, flags, &rect)) {
    g[1] = oldOne;
    g[2] = oldTwo;
    NoteLayersChanged();
    FreeLayerGeometry(state, layer->type, record);
    return status;
  }
  if (display) {
    if (twoSeparate) FreeLayerGeometry(state, layer->type, oldTwo);
    return 0;
  }
  if (oldOne != g[0]) FreeLayerGeometry(state, layer->type, oldOne);
  if (!displayPass) {
    if (twoSeparate) FreeLayerGeometry(state, layer->type, oldTwo);
    return 0;
  }
  // The display pass takes its old rectangle from (and frees) the old
  // display record.
  g[2] = twoSeparate ? oldTwo : record;
  NoteLayersChanged();
  return RebuildLayerImage(state, layer, (mode & 2) ? 3 : 1, on);
}

int RebuildLayerImageAll(vlVMState* state, vlLayer* layer) { return RebuildLayerImage(state, layer, 3); }

int RebuildBGPicLayersForDisplay(vlVMState* state, vlDisplay* display, vlBGPic* pic) {
  // Display records only, never refreshed: nothing here draws on the
  // current target, so the display and picture are passed down.
  const vlDrawingFor on{display, pic};
  int status = 0;
  for (vlNode* n = pic->layers.head; n->succ && !status; n = n->succ) {
    auto* layer = reinterpret_cast<vlLayer*>(n);
    if (layer->type != VL_LAYER_NOOBJECT) status = RebuildLayerImage(state, layer, 3, on);
  }
  return status;
}

int ResetDisplayScaledLayers(vlVMState* state, vlDisplay*, vlBGPic* pic) {
  for (vlNode* n = pic->layers.head; n->succ; n = n->succ) {
    auto* layer = reinterpret_cast<vlLayer*>(n);
    vlLayerGeometry** g = layer->geometry;
    if (g[2] == g[1] || g[2] == g[0]) continue;
    FreeLayerGeometry(state, layer->type, g[2]);
    g[2] = g[1];
    NoteLayersChanged();
    if (FindAsyncDrawOwner(layer, 0)) BroadcastAsyncDraw(1, layer);
  }
  return 0;
}

void GetLayerSourceMaskAlpha(vlVMState* state, vlLayer* layer, int32_t frame, vlBitmap** mask, vlBitmap** alpha) {
  *mask = *alpha = nullptr;
  vlLayerGeometry* g0 = layer->geometry[0];
  switch (layer->type) {
    case VL_LAYER_BRUSH:
    case VL_LAYER_BRUSHPART:
    case VL_LAYER_ANIM:
    case VL_LAYER_BGPICPART: {
      vlBitmap* image;
      int32_t w, h;
      uint32_t extra;
      if (GetLayerBitmaps(state, layer, g0, 0, 0, frame, &image, mask, alpha, &w, &h, &extra)) *mask = *alpha = nullptr;
      break;
    }
    default:
      // Drawn layers (text, shapes, paths) hold their own pictures: what is
      // drawn into them reaches their mask and alpha plane.
      if (g0 && g0->image) *mask = g0->mask, *alpha = g0->alpha;
      break;
  }
}

namespace {

// A drawn layer (text, shape, path) becomes a BRUSH layer of a brush made
// of its pictures, at the same place, so that what is drawn into it stays
// when the layer is turned, scaled or restyled later: rendering the text
// or shape again would lose it. Without a brush library it stays as it is.
int FlattenDrawnLayer(vlVMState* state, vlLayer* layer) {
  const vlLayerSource* brushes = FindLayerSource(VL_LAYER_BRUSH);
  if (!brushes || !brushes->adoptPictures) return 0;
  vlLayerGeometry** g = layer->geometry;
  vlLayerGeometry* g0 = g[0];
  vlLayerGeometry* head = NewLayerGeometry();
  if (!head) return ERR_MEM;
  const int32_t w = g0->image->width, h = g0->image->height;
  vlObjectId id{};
  if (int status = brushes->adoptPictures(state, g0->image, g0->mask, g0->alpha, w, h, &id)) {
    delete head;
    return status;
  }
  g0->image = g0->mask = g0->alpha = nullptr;  // the brush's now
  head->x = g0->x, head->y = g0->y, head->width = w, head->height = h;
  head->anchoredX = g0->anchoredX, head->anchoredY = g0->anchoredY;
  head->drawnX = g0->drawnX, head->drawnY = g0->drawnY;
  head->drawnWidth = w, head->drawnHeight = h;
  head->clipRegion = g0->clipRegion;
  g0->clipRegion = nullptr;
  const uint32_t oldType = layer->type;
  if (g[2] != g[1] && g[2] != g0) FreeLayerGeometry(state, oldType, g[2]);
  if (g[1] != g0) FreeLayerGeometry(state, oldType, g[1]);
  FreeLayerGeometry(state, oldType, g0);
  g[0] = g[1] = g[2] = head;
  layer->type = VL_LAYER_BRUSH;
  layer->source = id;
  NoteLayersChanged();
  // A turned layer, or one on a display scaling its layers, gets its
  // records again (the caller refreshes).
  if (!IsIdentityTransform(&layer->transform)) return RebuildLayerImage(state, layer, 2);
  if (DisplayScalesLayers(CurrentDisplay())) return RebuildLayerImage(state, layer, 7);
  return 0;
}

}  // namespace

int FlattenLayerToImage(vlVMState* state, vlLayer* layer, int32_t frame, vlBitmap** image, vlBitmap** mask,
                        vlBitmap** alpha, int32_t* width, int32_t* height) {
  if (FindAsyncDrawOwner(layer, 0)) return 1404;
  if (layer->type == VL_LAYER_VIDEO) return 1513;
  vlLayerGeometry* g0 = layer->geometry[0];
  uint32_t extra;
  switch (layer->type) {
    case VL_LAYER_BRUSH:
    case VL_LAYER_BRUSHPART:
    case VL_LAYER_ANIM:
    case VL_LAYER_BGPICPART:
      if (!g0->image) {
        const vlLayerSource* source = FindLayerSource(layer->type);
        if (source && source->makePrivate)
          if (int status = source->makePrivate(state, layer)) return status;
      }
      break;
    case VL_LAYER_TEXTOBJECT:
      // The layer takes its own copy of the object's picture to draw into.
      if (!g0->image) {
        const vlLayerSource* source = FindLayerSource(layer->type);
        if (!source || !source->makePrivate) return ERR_WRONGUSAGE;
        if (int status = source->makePrivate(state, layer)) return status;
      }
      break;
    case VL_LAYER_TEXTOUT:
    case VL_LAYER_PRINT:
    case VL_LAYER_BOX:
    case VL_LAYER_CIRCLE:
    case VL_LAYER_ELLIPSE:
    case VL_LAYER_LINE:
    case VL_LAYER_POLYGON:
    case VL_LAYER_ARC:
    case VL_LAYER_VECTORPATH:
      if (!g0->image) return ERR_WRONGUSAGE;
      if (int status = FlattenDrawnLayer(state, layer)) return status;
      g0 = layer->geometry[0];
      break;
    default:
      return ERR_WRONGUSAGE;
  }
  return GetLayerBitmaps(state, layer, g0, 0, 0, frame, image, mask, alpha, width, height, &extra);
}

void RedrawLayerWhereShown(vlVMState* state, vlDisplay* display, vlBGPic* pic, vlLayer* layer) {
  if (!display || display->bgpic != pic || layer->hidden) return;
  // Drawn for the display, whichever is current.
  const vlDrawingFor on{display, pic};
  if (!IsIdentityTransform(&layer->transform) || LayerHasFilters(layer->filters) || DisplayScalesLayers(display))
    RebuildLayerImage(state, layer, 0, on);
  else
    ShowLayerOnDisplay(state, layer, on, 0);
}

int ReplaceLayerWithFrame(vlVMState* state, vlDisplay* display, vlLayer** slot, vlBitmap* frame) {
  vlLayer* layer = slot ? *slot : nullptr;
  if (!layer || !display || !display->bgpic) {
    if (frame) DeleteBitmap(frame);
    return ERR_WRONGUSAGE;
  }
  // The frame is drawn for the display, whichever is current, and goes to
  // its window at once whatever the display draws into: the rebuild does
  // not refresh and the refresh below is direct.
  const vlDrawingFor on{display, display->bgpic};
  vlLayerGeometry* g0 = layer->geometry[0];
  vlRectXYWH before;
  GetLayerOuterRect(state, layer, on, layer->geometry[2], &before.x, &before.y, &before.width, &before.height);
  FreeTriple(&g0->image, &g0->mask, &g0->alpha);
  g0->image = frame;
  // A new picture in the same record: what was kept of it is gone.
  NoteLayersChanged();
  FreeLayerBitmaps(layer);
  ReleaseLayerGeometryCaches(layer);
  int status = 0;
  bool separate = layer->geometry[1] != g0 || layer->geometry[2] != g0;
  if (separate) status = RebuildLayerImage(state, layer, 2, on);
  if (!status && !layer->hidden && !vlRefreshSuspended) {
    vlRectXYWH after;
    GetLayerOuterRect(state, layer, on, layer->geometry[2], &after.x, &after.y, &after.width, &after.height);
    if (!separate && before.x == after.x && before.y == after.y && before.width == after.width &&
        before.height == after.height) {
      ShowLayerOnDisplay(state, layer, on, 1);
    } else {
      vlRectXYWH area = UnionRects(before, after);
      RefreshRect(state, on, area.x, area.y, area.width, area.height, 0);
    }
  }
  return status;
}
