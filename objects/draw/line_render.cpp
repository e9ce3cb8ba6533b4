// The line renderer behind Line and LINE layers, the shape-layer outline
// pictures (borders), and the shape-layer hooks of the layer code.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <new>
#include <vector>

#include "display/bgpic.h"
#include "objects/sprites/sprite.h"
#include "display/display.h"
#include "display/layers/draw_tags.h"
#include "display/layer_hooks.h"
#include "platform/display_adapter.h"
#include "display/layers/layers.h"
#include "graphics/bitmap.h"
#include "graphics/geometry.h"
#include "graphics/pixel_kernels.h"
#include "graphics/position.h"
#include "objects/draw/draw_target.h"
#include "objects/draw/paint_polygon.h"
#include "objects/draw/shape_outline.h"
#include "objects/draw/shape_render.h"
#include "vm/convert.h"
#include "vm/error_codes.h"

namespace {

// Moves the far end of the segment along the line to the range [lo, hi]
// of one axis (u); the other coordinate (v) is interpolated and truncated.
// false when the segment lies wholly outside.
bool ClipSegmentToRange(int32_t* u1, int32_t* v1, int32_t* u2, int32_t* v2, int32_t lo, int32_t hi) {
  if ((*u1 < lo && *u2 < lo) || (*u1 > hi && *u2 > hi)) return false;
  auto cut = [&](int32_t* ua, int32_t* va, int32_t ub, int32_t vb, int32_t edge) {
    const double f = (double(edge) - ub) / (double(*ua) - ub);
    *va = static_cast<int32_t>(vb + (double(*va) - vb) * f);
    *ua = edge;
  };
  if (*u1 < lo) cut(u1, v1, *u2, *v2, lo);
  if (*u2 < lo) cut(u2, v2, *u1, *v1, lo);
  if (*u1 > hi) cut(u1, v1, *u2, *v2, hi);
  if (*u2 > hi) cut(u2, v2, *u1, *v1, hi);
  return true;
}

// The segment in a picture's coordinates as the rasterisers take them
// (32-bit). End points beyond reach are moved along the line to a frame
// far enough out that the pixels inside stay the same; false when the
// segment misses the picture.
bool SegmentInPicture(int64_t x1, int64_t y1, int64_t x2, int64_t y2, int32_t w, int32_t h, int32_t out[4]) {
  constexpr double kReach = 1 << 24;
  double a[2] = {double(x1), double(y1)}, b[2] = {double(x2), double(y2)};
  const double lo[2] = {-kReach, -kReach}, hi[2] = {w + kReach, h + kReach};
  // Liang-Barsky against the frame.
  double t0 = 0, t1 = 1;
  for (int axis = 0; axis < 2; ++axis) {
    const double d = b[axis] - a[axis];
    for (double edge : {lo[axis], hi[axis]}) {
      const bool low = edge == lo[axis];
      const double q = low ? a[axis] - edge : edge - a[axis], p = low ? -d : d;
      if (p == 0) {
        if (q < 0) return false;
        continue;
      }
      const double t = q / p;
      if (p < 0) t0 = std::max(t0, t);
      else t1 = std::min(t1, t);
    }
  }
  if (t0 > t1) return false;
  const double dx = b[0] - a[0], dy = b[1] - a[1];
  out[0] = static_cast<int32_t>(std::llround(a[0] + t0 * dx));
  out[1] = static_cast<int32_t>(std::llround(a[1] + t0 * dy));
  out[2] = static_cast<int32_t>(std::llround(a[0] + t1 * dx));
  out[3] = static_cast<int32_t>(std::llround(a[1] + t1 * dy));
  return true;
}

void FreeTriple(vlBitmap* image, vlBitmap* mask, vlBitmap* alpha) {
  if (image) DeleteBitmap(image);
  if (mask) DeleteMaskPlane(mask);
  if (alpha) DeleteAlphaPlane(alpha);
}

// A plane from a coverage image: a mask when binary, else alpha weighted
// by the colour's opacity. The plane is reached through its lock: a
// display adapter may hold it.
int PlaneFromCoverage(const std::vector<uint8_t>& cov, int32_t rowBytes, int32_t w, int32_t h, uint32_t color,
                      bool useMask, bool aa, vlBitmap* plane) {
  const int32_t opacity = 255 - static_cast<int32_t>(color >> 24);
  vlPixelAccess acc{};
  if (!LockPixels(plane, 0, &acc)) return useMask ? ERR_ALLOCMASK : ERR_ALLOCALPHA;
  for (int32_t y = 0; y < h; ++y) {
    uint8_t* row = acc.pixels + static_cast<intptr_t>(y) * acc.rowLength;
    for (int32_t x = 0; x < w; ++x) {
      const int32_t v = cov[static_cast<size_t>(y) * rowBytes + x];
      if (useMask)
        SetMaskBit(row, x, v != 0);
      else
        row[x] = static_cast<uint8_t>(v ? (aa ? v : 255) * opacity / 255 : 0);
    }
  }
  UnlockPixels(plane, &acc);
  return 0;
}

// The line's picture: the segment (in picture coordinates) in a new
// picture of w x h. On failure the caller frees what was made.
int RenderLinePicture(int32_t w, int32_t h, const int32_t pts[4], int32_t thickness, uint32_t color, bool aa,
                      vlBitmap** image, vlBitmap** mask, vlBitmap** alpha) {
  *image = *mask = *alpha = nullptr;
  const bool useMask = !(color >> 24) && !aa;
  // The picture and its plane first: a size no picture can have fails
  // before the coverage is made.
  *image = NewBitmap(w, h, 0, nullptr);
  if (!*image) return ERR_BITMAP;
  vlBitmap* plane = useMask ? NewMaskPlane(*image, w, h, 1, nullptr, 0) : NewAlphaPlane(w, h, 1, nullptr, 0);
  if (!plane) return useMask ? ERR_ALLOCMASK : ERR_ALLOCALPHA;
  (useMask ? *mask : *alpha) = plane;
  if (thickness == 1 && !aa) {
    vlPaintJob j;
    j.picture = *image;
    j.mask = *mask;
    j.alpha = *alpha;
    j.width = w;
    j.height = h;
    j.color = color;
    j.kind = VL_PAINT_SEGMENT;
    j.points = pts;
    j.count = 2;
    j.plain = true;
    return PaintPolygon(j);
  }
  const int32_t rb = (w + 3) & ~3;
  std::vector<uint8_t> cov;
  try {
    cov.assign(static_cast<size_t>(rb) * h, 0);
  } catch (const std::bad_alloc&) {
    return ERR_MEM;
  }
  if (!DrawCoverageImage(cov.data(), rb, w, h, VL_PAINT_SEGMENT, pts, 2, thickness, aa)) return ERR_MEM;
  FillBitmapRect(*image, 0, 0, w, h, color & 0xFFFFFF);
  return PlaneFromCoverage(cov, rb, w, h, color, useMask, aa, plane);
}

}  // namespace

int DrawLineShape(vlVMState* L, uint32_t flags, const vlDrawState* s, int32_t, int32_t, int32_t x1, int32_t y1,
                  int32_t x2, int32_t y2, uint32_t color, int32_t thickness, vlShapeTags* tags, vlShapeRequest* base) {
  vlShapeTags localTags;
  if (!tags) {
    DefaultShapeTags(&localTags);
    tags = &localTags;
  }
  vlDrawTarget t;
  if (int status = ShapeDrawTarget(L, base ? base->on : nullptr, flags, &t)) return status;
  vlLayerTransform* m = &tags->transform;
  x1 = ResolvePosX(x1, 1, 0, m->anchorX);
  y1 = ResolvePosY(y1, 1, 0, m->anchorY);
  x2 = ResolvePosX(x2, 1, 0, m->anchorX);
  y2 = ResolvePosY(y2, 1, 0, m->anchorY);
  const int32_t bx = std::min(x1, x2), by = std::min(y1, y2);
  // Far-apart end points make a box wider than 32 bits hold.
  const auto bw = static_cast<int32_t>(std::min<int64_t>(int64_t{std::max(x1, x2)} - bx + 1, INT32_MAX));
  const auto bh = static_cast<int32_t>(std::min<int64_t>(int64_t{std::max(y1, y2)} - by + 1, INT32_MAX));
  if (flags & VL_SHAPE_REBUILD) UpdateTransformMatrix(m, bw, bh);
  const bool layers = t.layers && !(flags & VL_SHAPE_PLANES);
  const bool identity = IsIdentityMatrix(m);
  vlShapeRecord rec{};
  rec.type = VL_SHAPE_LINE;
  rec.drawState = *s;
  rec.color = color;
  rec.x1 = x1, rec.y1 = y1, rec.x2 = x2, rec.y2 = y2;
  rec.x = bx, rec.y = by, rec.width = bw, rec.height = bh;
  if (!identity && !layers) {
    // Transformed about the anchor point of the box. A layer keeps the
    // line as given and turns it when it draws itself.
    const double ax = bx + std::trunc(m->anchorX * bw), ay = by + std::trunc(m->anchorY * bh);
    auto tf = [&](int32_t* x, int32_t* y) {
      const double dx = *x - ax, dy = *y - ay;
      // Rounded: a quarter turn must not leave an end a hair short.
      *x = vl::DoubleToInt32(std::rint(m->a * dx + m->b * dy + ax));
      *y = vl::DoubleToInt32(std::rint(m->c * dx + m->d * dy + ay));
    };
    tf(&x1, &y1);
    tf(&x2, &y2);
    thickness = vl::DoubleToInt32(std::rint(thickness * MatrixScaleX(m)));
  }
  thickness = std::clamp(thickness, 1, 64);
  rec.thickness = thickness;
  const bool aa = (s->formStyle & VL_FORM_ANTIALIAS) != 0;
  uint32_t drawColor = color;
  vlDrawState copy = *s;
  if (layers && !(flags & VL_SHAPE_REBUILD)) {
    // Lines take only the transparency into the tags.
    copy.formStyle &= ~(VL_FORM_EDGE | VL_FORM_SHADOW);
    copy.fillStyle = VL_FILLCOLOR;
    ApplyFormStyleToTags(&copy, tags, &drawColor);
  }
  const int32_t transparency = static_cast<int32_t>(drawColor >> 24);
  const int32_t cx = t.clip ? t.clip->x : 0, cy = t.clip ? t.clip->y : 0;
  const int32_t cw = t.clip ? t.clip->width : t.width, ch = t.clip ? t.clip->height : t.height;
  if (!(flags & VL_SHAPE_PLANES) && !layers && t.mode == VL_OUTPUT_DISPLAY && !transparency && thickness == 1 &&
      !aa && !t.pic->curAlpha && !gLayerHooks.videoOnDisplay(t.display)) {
    int32_t a1 = x1, b1 = y1, a2 = x2, b2 = y2;
    if (!ClipSegmentToRange(&a1, &b1, &a2, &b2, cx, cx + cw - 1)) return 0;
    if (!ClipSegmentToRange(&b1, &a1, &b2, &a2, cy, cy + ch - 1)) return 0;
    const int32_t lx = std::min(a1, a2), ly = std::min(b1, b2);
    const int32_t lw = std::abs(a2 - a1) + 1, lh = std::abs(b2 - b1) + 1;
    if (!OverlapsSprite(t.pic, lx, ly, lw, lh) && !(t.clip && t.clip->mask)) {
      if (t.picture) DrawBitmapLine(t.picture, a1, b1, a2, b2, drawColor);
      if (FinishTargetDirect(L, t, lx, ly, lw, lh)) DrawDisplayLine(t.display, a1, b1, a2, b2, drawColor & 0xFFFFFF);
      return 0;
    }
  }
  const bool selection = t.mode == VL_OUTPUT_BRUSH || t.mode == VL_OUTPUT_MASK || t.mode == VL_OUTPUT_ALPHA;
  if (!(flags & VL_SHAPE_PLANES) && selection && thickness == 1 && (t.mode == VL_OUTPUT_BRUSH || t.plane) &&
      t.picture && !t.mask && !t.alpha && !aa && (!transparency || t.plane) && !(t.clip && t.clip->mask) &&
      IsVideoBitmap(t.picture)) {
    // A picture in the adapter's memory, or its mask or alpha channel: the
    // adapter draws the line.
    int32_t a1 = x1, b1 = y1, a2 = x2, b2 = y2;
    if (!ClipSegmentToRange(&a1, &b1, &a2, &b2, cx, cx + cw - 1)) return 0;
    if (!ClipSegmentToRange(&b1, &a1, &b2, &a2, cy, cy + ch - 1)) return 0;
    DrawBitmapLine(t.picture, a1, b1, a2, b2, drawColor);
    FinishTargetRect(L, t, std::min(a1, a2), std::min(b1, b2), std::abs(a2 - a1) + 1, std::abs(b2 - b1) + 1);
    return 0;
  }
  if (!(flags & VL_SHAPE_PLANES) && selection && thickness == 1 && !t.plane) {
    const int32_t pts[4] = {x1, y1, x2, y2};
    vlClipRegion whole{0, 0, t.width, t.height, nullptr};
    vlPaintJob j;
    j.picture = t.picture;
    j.mask = t.mask;
    j.alpha = t.alpha;
    j.width = t.width;
    j.height = t.height;
    j.color = drawColor;
    j.antiAlias = aa;
    j.kind = VL_PAINT_SEGMENT;
    j.points = pts;
    j.count = 2;
    j.clip = t.clip ? t.clip : &whole;
    j.maskMode = t.picture ? 2 : t.maskMode;
    if (!t.picture) {
      if (aa && t.rawAlphaIntensity == -1) {
        j.alphaValue = 255;
        j.weightAlpha = true;
      } else {
        j.alphaValue = t.alphaIntensity;
        j.antiAlias = false;
      }
    }
    if (int status = PaintPolygon(j)) return status;
    // What changed is the line's box on the target.
    const int64_t left = std::max(std::min(x1, x2), 0), top = std::max(std::min(y1, y2), 0);
    const int64_t right = std::min<int64_t>(std::max(x1, x2) + int64_t{1}, t.width);
    const int64_t bottom = std::min<int64_t>(std::max(y1, y2) + int64_t{1}, t.height);
    if (right > left && bottom > top)
      FinishTargetRect(L, t, static_cast<int32_t>(left), static_cast<int32_t>(top), static_cast<int32_t>(right - left),
                       static_cast<int32_t>(bottom - top));
    return 0;
  }
  // A picture of the line's box, grown for thick and anti-aliased lines.
  int64_t bx1 = std::min(x1, x2), by1 = std::min(y1, y2);
  int64_t bx2 = std::max(x1, x2) + int64_t{1}, by2 = std::max(y1, y2) + int64_t{1};
  if (thickness != 1) {
    int32_t margin = thickness / 2, grow = thickness;
    if (aa) margin += 2, grow += 5;
    bx1 -= margin, by1 -= margin;
    bx2 += grow - margin, by2 += grow - margin;
  }
  if (!layers && !(flags & VL_SHAPE_PLANES)) {
    // Drawn straight into the target: only the part of the box near it is
    // rendered, so far-off end points cost nothing. The rim keeps edge
    // effects of the tags whole at the target's border.
    constexpr int64_t kRim = 64;
    bx1 = std::max(bx1, cx - kRim), by1 = std::max(by1, cy - kRim);
    bx2 = std::min(bx2, cx + cw + kRim), by2 = std::min(by2, cy + ch + kRim);
    if (bx2 <= bx1 || by2 <= by1) return 0;
  }
  if (bx2 - bx1 > INT32_MAX || by2 - by1 > INT32_MAX) return ERR_BITMAP;
  const auto px = static_cast<int32_t>(bx1), py = static_cast<int32_t>(by1);
  const auto pw = static_cast<int32_t>(bx2 - bx1), ph = static_cast<int32_t>(by2 - by1);
  int32_t pts[4];
  if (!SegmentInPicture(x1 - bx1, y1 - by1, x2 - bx1, y2 - by1, pw, ph, pts)) return 0;
  vlBitmap *image = nullptr, *mask = nullptr, *alpha = nullptr;
  // A transformed layer renders its picture when it draws itself.
  if (!(layers && !identity))
    if (int status = RenderLinePicture(pw, ph, pts, thickness, drawColor, aa, &image, &mask, &alpha)) {
      FreeTriple(image, mask, alpha);
      return status;
    }
  if (flags & VL_SHAPE_PLANES) {
    if (base && base->result) {
      *base->result = {image, mask, alpha, px, py, pw, ph};
    } else {
      FreeTriple(image, mask, alpha);
    }
    return 0;
  }
  if (layers) {
    rec.drawState = copy;
    rec.color = drawColor;
    rec.x1 -= bx, rec.y1 -= by, rec.x2 -= bx, rec.y2 -= by;
    vlLayer* layer = nullptr;
    int status = AddShapeLayer(L, rec, tags, px, py, pw, ph, image, mask, alpha,
                               (flags & VL_SHAPE_REBUILD) && base ? base->insertPos : -1, &layer);
    if (status) return status;
    if ((flags & (VL_SHAPE_RETURN | VL_SHAPE_REBUILD)) || tags->changed || !identity) return 0;
    FinishLayerDraw(L, t, px, py, pw, ph);
    return 0;
  }
  if (int status = ApplyDrawTagsEffects(&tags->form, image, &mask, &alpha, pw, ph)) {
    FreeTriple(image, mask, alpha);
    return status;
  }
  BlitToTarget(L, t, image, mask, alpha, px, py, pw, ph);
  FreeTriple(image, mask, alpha);
  return 0;
}

namespace {

// Renders a shape record with a draw state, colour and transform into
// planes (a layer's pictures, its border), for the target on (null: the
// current one).
int RenderRecord(vlVMState* L, const vlShapeRecord& rec, const vlDrawState* s, uint32_t color,
                 const vlLayerTransform* transform, const vlDrawingFor* on, vlShapeResult* out) {
  vlShapeTags tags;
  DefaultShapeTags(&tags);
  if (transform) tags.transform = *transform;
  vlShapeRequest base{};
  base.result = out;
  base.on = on;
  *out = {};
  const uint32_t f = VL_SHAPE_PLANES;
  switch (rec.type) {
    case VL_SHAPE_BOX:
      return DrawBoxShape(L, f, s, rec.x, rec.y, rec.width, rec.height, color, rec.corners, &tags, &base);
    case VL_SHAPE_CIRCLE:
    case VL_SHAPE_ELLIPSE:
      return DrawEllipseShape(L, f, s, rec.type, rec.x, rec.y, rec.radiusX, rec.radiusY, color, &tags, &base);
    case VL_SHAPE_ARC:
      return DrawArcShape(L, f, s, rec.x, rec.y, rec.radiusX, rec.radiusY, rec.startAngle, rec.endAngle,
                          rec.clockwise, color, &tags, &base);
    case VL_SHAPE_POLYGON:
      return DrawPolygonShape(L, f, s, rec.x, rec.y, rec.vertices, rec.vertexCount, color, &tags, &base);
    case VL_SHAPE_LINE:
      return DrawLineShape(L, f, s, rec.x, rec.y, rec.x1, rec.y1, rec.x2, rec.y2, color, rec.thickness, &tags,
                           &base);
    default:
      return ERR_WRONGUSAGE;
  }
}

// The layer's own drawing routine with the layer as target: the shape of
// record [0] at the target record's position through the transform.
int RebuildShapeLayer(vlVMState* L, vlLayer* layer, const vlDrawingFor& on, vlLayerGeometry* target,
                      const vlLayerTransform* transform, uint32_t flags, vlLayerRect* rect) {
  vlShapeRecord rec = static_cast<const vlShapeGeometry*>(layer->geometry[0])->shape;
  rec.x = target->x, rec.y = target->y;
  if (rec.type == VL_SHAPE_LINE) {
    rec.x1 += target->x, rec.y1 += target->y, rec.x2 += target->x, rec.y2 += target->y;
  }
  vlShapeResult res{};
  if (int status = RenderRecord(L, rec, &rec.drawState, rec.color, transform, &on, &res)) return status;
  int32_t x = res.x, y = res.y;
  if (rec.type != VL_SHAPE_LINE) {
    x -= static_cast<int32_t>(transform->anchorX * rec.width);
    y -= static_cast<int32_t>(transform->anchorY * rec.height);
  }
  SetLayerGeometry(L, layer, on, target, rect, x, y, res.width, res.height, res.image, res.mask, res.alpha, flags);
  return 0;
}

// Shapes have no source object: their pictures are always given.
int ShapeLayerBitmaps(vlVMState*, vlLayer*, int32_t, vlBitmap**, vlBitmap**, vlBitmap**, int32_t*, int32_t*,
                      uint32_t*) {
  return ERR_WRONGUSAGE;
}

int ShapeOutlineColor(const vlLayer* layer, uint32_t* color) {
  const vlShapeRecord& rec = static_cast<const vlShapeGeometry*>(layer->geometry[0])->shape;
  *color = rec.color;
  return rec.drawState.fillStyle == 0;
}

vlLayerSource MakeShapeSource() {
  vlLayerSource s{};
  s.outlineColor = ShapeOutlineColor;
  s.getBitmaps = ShapeLayerBitmaps;
  s.rebuild = RebuildShapeLayer;
  s.copyGeometry = CopyShapeGeometry;
  s.freeGeometry = FreeShapeGeometry;
  s.applyStyle = ApplyShapeLayerStyle;
  s.writeStyle = WriteShapeLayerStyle;
  return s;
}

const vlLayerSource kShapeSource = MakeShapeSource();

}  // namespace

namespace {

// The outline picture of a shape grown by size, for the target on (null:
// the current one), scaled as its display scales; res gets its drawn
// rectangle, offset the shape's offset in it.
int RenderShapeOutline(vlVMState* L, vlLayer* layer, const vlDrawingFor* on, const vlShapeRecord* rec, uint32_t color,
                       int32_t size, vlShapeResult* res, int32_t* offset) {
  vlLayerTransform transform;
  DefaultLayerTransform(&transform);
  if (layer) transform = layer->transform;
  vlDisplay* d = on ? on->display : CurrentDisplay();
  if (d && d->scaleWidth && d->scaleX > 0 && d->scaleY > 0) {
    transform.a *= d->scaleX, transform.b *= d->scaleX;
    transform.c *= d->scaleY, transform.d *= d->scaleY;
  }
  vlDrawState s = rec->drawState;
  s.formStyle &= VL_FORM_ANTIALIAS;
  if (rec->drawState.fillStyle == VL_FILLNONE) {
    // The outline stroked twice as thick: half of it lies outside.
    int32_t thickness = 2 * size;
    if (!IsIdentityMatrix(&transform)) {
      // FitRotatedRect takes the matrix by columns.
      double m[4] = {transform.a, transform.c, transform.b, transform.d};
      int32_t ox = 0, ix = 0;
      FitRotatedRect(0, 0, rec->width + 2 * size, rec->height + 2 * size, 0.5, 0.5, m, &ox, nullptr, nullptr,
                     nullptr);
      FitRotatedRect(size, size, rec->width, rec->height, 0.5, 0.5, m, &ix, nullptr, nullptr, nullptr);
      thickness = 2 * std::abs(ix - ox);
    }
    s.lineWidth = std::max(2, thickness);
    *offset = s.lineWidth / 2;
  } else {
    s.fillStyle = VL_FILLCOLOR;
    s.formStyle |= VL_FORM_EDGE;
    s.edgeSize = size;
    s.edgeColor = color & 0xFFFFFF;
    *offset = size;
  }
  NormalizeDrawState(&s);
  return RenderRecord(L, *rec, &s, color & 0xFFFFFF, &transform, on, res);
}

// The border of a shape layer's record g: the outline at g's position.
int MakeShapeBorder(vlVMState* L, vlLayer* layer, const vlDrawingFor& on, vlLayerGeometry* g, uint32_t color,
                    int32_t size, int32_t* ox, int32_t* oy, vlBitmap** image, vlBitmap** mask, vlBitmap** alpha) {
  vlShapeRecord rec = static_cast<const vlShapeGeometry*>(layer->geometry[0])->shape;
  rec.x = g->x, rec.y = g->y;
  vlShapeResult res{};
  int32_t offset = 0;
  if (int status = RenderShapeOutline(L, layer, &on, &rec, color, size, &res, &offset)) return status;
  *image = res.image, *mask = res.mask, *alpha = res.alpha;
  const int32_t bx = res.x - static_cast<int32_t>(layer->transform.anchorX * rec.width);
  const int32_t by = res.y - static_cast<int32_t>(layer->transform.anchorY * rec.height);
  *ox = g->drawnX - bx;
  *oy = g->drawnY - by;
  return 0;
}

vlLayerSource MakeOutlinedSource() {
  vlLayerSource s = MakeShapeSource();
  s.makeBorder = MakeShapeBorder;
  return s;
}

const vlLayerSource kOutlinedSource = MakeOutlinedSource();

}  // namespace

int RenderShapeLayer(vlVMState* L, vlLayer* layer, const vlShapeRecord* rec, uint32_t color, int32_t size,
                     int32_t* shapeX, int32_t* shapeY, int32_t* width, int32_t* height, vlBitmap** image,
                     vlBitmap** mask, vlBitmap** alpha) {
  *image = *mask = *alpha = nullptr;
  vlShapeResult res{};
  int32_t offset = 0;
  if (int status = RenderShapeOutline(L, layer, nullptr, rec, color, size, &res, &offset)) return status;
  *image = res.image, *mask = res.mask, *alpha = res.alpha;
  *width = res.width, *height = res.height;
  *shapeX = *shapeY = offset;
  return 0;
}

void InstallShapeLayerSources() {
  for (uint32_t type : {VL_SHAPE_BOX, VL_SHAPE_CIRCLE, VL_SHAPE_ELLIPSE, VL_SHAPE_POLYGON, VL_SHAPE_ARC})
    RegisterLayerSource(type, &kOutlinedSource);
  RegisterLayerSource(VL_SHAPE_LINE, &kShapeSource);
}
