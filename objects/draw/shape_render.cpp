// The shape renderer: one request (box, circle, ellipse, arc, polygon) is
// drawn straight into the target when it is a plain box, or rendered into
// a picture of coverage layers (shadow, edge, shape) composed over each
// other, which is then blitted, made a layer or handed back to a rebuild.
#include "objects/draw/shape_render.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <memory>
#include <vector>

#include "objects/sprites/sprite.h"
#include "display/bgpic.h"
#include "display/display.h"
#include "display/layers/draw_tags.h"
#include "display/layer_hooks.h"
#include "platform/display_adapter.h"
#include "display/layers/safe_blt.h"
#include "graphics/bitmap.h"
#include "graphics/cover_over.h"
#include "graphics/blit.h"
#include "graphics/effect_engines.h"
#include "graphics/geometry.h"
#include "graphics/gradient_render.h"
#include "graphics/outline_raster.h"
#include "graphics/picture_engines.h"
#include "graphics/pixel_kernels.h"
#include "graphics/position.h"
#include "objects/brushes/brush.h"
#include "objects/draw/draw_target.h"
#include "objects/draw/paint_polygon.h"
#include "objects/draw/shape_outline.h"
#include "runtime/script_version.h"
#include "vm/convert.h"
#include "vm/error_codes.h"

namespace {

constexpr int32_t kShadowDX[8] = {0, 1, 1, 1, 0, -1, -1, -1};
constexpr int32_t kShadowDY[8] = {-1, -1, 0, 1, 1, 1, 0, -1};

// One coverage layer of the rendered picture.
struct Layer {
  std::vector<uint8_t> cov;  // drawn size, rows of drawn width
  uint32_t rgb = 0;
  int32_t opacity = 255;
  const uint32_t* pattern = nullptr;  // ARGB, drawn size, or null
  bool on = false;
};

// Everything the outline step decides about the picture.
struct Plan {
  bool aa = false, edge = false, shadow = false;
  int32_t edgeSize = 0, shadowSize = 0;
  uint32_t shadowDir = 3;
  uint32_t rgb = 0, edgeRGB = 0, shadowRGB = 0;
  int32_t t = 0, edgeT = 0, shadowT = 0;
  uint32_t fill = 0;
  int32_t lineWidth = 1;
  // The line width the vector rasteriser strokes with: it turns and scales
  // the stroked outline, so it takes the width as given.
  int32_t curveLineWidth = 1;
  int32_t shapeW = 0, shapeH = 0;      // after the transform
  int32_t drawnW = 0, drawnH = 0, drawnX = 0, drawnY = 0;
  int32_t shapeX = 0, shapeY = 0;      // the shape's box inside the picture
  int32_t edgeX = 0, edgeY = 0;        // the edge outline's box inside the picture
  int32_t shadowX = 0, shadowY = 0;    // where the shadow's base lands
  std::vector<int32_t> pts, edgePts;   // in picture coordinates
  bool tooLarge = false;               // no picture of the drawn size can be made
  int textureSmooth = 0;               // the smoothing of the display drawn for, for scaled textures
};

// A box without rounded corners on the direct path: plain rectangles.
bool IsPlainBox(const vlShapeRequest& r) {
  return r.type == VL_SHAPE_BOX && !r.polygonPath && !r.corners[0] && !r.corners[1] && !r.corners[2] &&
         !r.corners[3];
}

bool HasEffects(const vlLayerOptions& f) {
  if (f.hidden || f.transparency || f.shadow.on || f.border.on) return true;
  for (const vlLayerFilter& filter : f.filters)
    if (filter.active) return true;
  return false;
}

void ShadowMargins(uint32_t dir, int32_t size, int32_t* l, int32_t* t, int32_t* r, int32_t* b) {
  *l = kShadowDX[dir] < 0 ? size : 0;
  *r = kShadowDX[dir] > 0 ? size : 0;
  *t = kShadowDY[dir] < 0 ? size : 0;
  *b = kShadowDY[dir] > 0 ? size : 0;
}

// The effect fields, outline points and sizes of the picture.
void PrepareShapeOutline(const vlShapeRequest& r, const vlDrawState& s, const vlLayerTransform* m, Plan* p) {
  p->fill = s.fillStyle;
  p->aa = (s.formStyle & VL_FORM_ANTIALIAS) != 0;
  p->lineWidth = s.lineWidth;
  p->rgb = r.color & 0xFFFFFF;
  p->t = static_cast<int32_t>(r.color >> 24);
  if (s.fillStyle != VL_FILLNONE) {
    p->edge = (s.formStyle & VL_FORM_EDGE) != 0;
    p->shadow = (s.formStyle & VL_FORM_SHADOW) != 0;
  }
  if (p->edge) {
    p->edgeSize = s.edgeSize;
    p->edgeRGB = s.edgeColor & 0xFFFFFF;
    p->edgeT = static_cast<int32_t>(s.edgeColor >> 24);
  }
  if (p->shadow) {
    p->shadowSize = s.shadowSize;
    p->shadowDir = s.shadowDirection;
    p->shadowRGB = s.shadowColor & 0xFFFFFF;
    p->shadowT = static_cast<int32_t>(s.shadowColor >> 24);
  }
  const int32_t e = p->edgeSize;
  if (p->lineWidth >= kMaxShapeSide) {
    p->tooLarge = true;
    return;
  }
  double* shape = DrawPointBuffer(0);
  double* edge = DrawPointBuffer(1);
  int32_t n = BuildShapeOutline(r.type, r.width, r.height, r.corners, r.startAngle, r.endAngle, r.clockwise,
                                r.vertices, r.vertexCount, shape);
  int32_t en = 0;
  if (p->edge) {
    if (r.type == VL_SHAPE_POLYGON) {
      en = BuildPolygonEdge(shape, n, e, edge);
    } else {
      en = BuildShapeOutline(r.type, r.width + 2 * e, r.height + 2 * e, r.corners, r.startAngle, r.endAngle,
                             r.clockwise, nullptr, 0, edge);
      for (int32_t i = 0; i < 2 * en; ++i) edge[i] -= e;
    }
  }
  if (m && !IsIdentityMatrix(m)) {
    const double ax = m->anchorX * r.width, ay = m->anchorY * r.height;
    for (double* q : {shape, edge}) {
      const int32_t count = q == shape ? n : en;
      for (int32_t i = 0; i < count; ++i) {
        const double dx = q[2 * i] - ax, dy = q[2 * i + 1] - ay;
        q[2 * i] = std::rint(m->a * dx + m->b * dy + ax);
        q[2 * i + 1] = std::rint(m->c * dx + m->d * dy + ay);
      }
    }
  }
  int32_t sx0, sy0, sx1, sy1, ox0, oy0, ox1, oy1;
  PointBounds(shape, n, &sx0, &sy0, &sx1, &sy1);
  if (en) {
    PointBounds(edge, en, &ox0, &oy0, &ox1, &oy1);
  } else {
    ox0 = sx0, oy0 = sy0, ox1 = sx1, oy1 = sy1;
  }
  int32_t sl, st, sr, sb;
  ShadowMargins(p->shadowDir, p->shadowSize, &sl, &st, &sr, &sb);
  const bool polygonPath = r.polygonPath != 0;
  const int32_t am = p->aa && polygonPath ? 2 : 0;
  const int32_t stroke = p->fill == VL_FILLNONE && p->lineWidth > 1 ? p->lineWidth : 0;
  // A transform may have blown the outline up past any picture.
  const int64_t margins = int64_t{sl} + sr + st + sb + 5 + stroke;
  if (int64_t{ox1} - ox0 + margins >= kMaxShapeSide || int64_t{oy1} - oy0 + margins >= kMaxShapeSide ||
      int64_t{sx1} - sx0 >= kMaxShapeSide || int64_t{sy1} - sy0 >= kMaxShapeSide ||
      std::abs(int64_t{r.x} + sx0) >= kMaxShapePosition || std::abs(int64_t{r.y} + sy0) >= kMaxShapePosition) {
    p->tooLarge = true;
    return;
  }
  p->shapeW = sx1 - sx0 + 1;
  p->shapeH = sy1 - sy0 + 1;
  const int32_t baseX = sl + am + stroke / 2, baseY = st + am + stroke / 2;
  p->edgeX = baseX;
  p->edgeY = baseY;
  p->shapeX = baseX + (sx0 - ox0);
  p->shapeY = baseY + (sy0 - oy0);
  p->shadowX = baseX + kShadowDX[p->shadowDir] * p->shadowSize;
  p->shadowY = baseY + kShadowDY[p->shadowDir] * p->shadowSize;
  p->drawnW = (ox1 - ox0 + 1) + sl + sr + (am ? 5 : 0) + stroke;
  p->drawnH = (oy1 - oy0 + 1) + st + sb + (am ? 5 : 0) + stroke;
  // The position refers to the untransformed shape box's corner.
  p->drawnX = r.x + sx0 - p->shapeX;
  p->drawnY = r.y + sy0 - p->shapeY;
  const int32_t skip = r.type == VL_SHAPE_ARC ? 2 : 0;
  for (int32_t i = skip; i < n; ++i) {
    p->pts.push_back(static_cast<int32_t>(shape[2 * i]) - sx0 + p->shapeX);
    p->pts.push_back(static_cast<int32_t>(shape[2 * i + 1]) - sy0 + p->shapeY);
  }
  for (int32_t i = r.type == VL_SHAPE_POLYGON ? 0 : skip; i < en; ++i) {
    p->edgePts.push_back(static_cast<int32_t>(edge[2 * i]) - ox0 + p->edgeX);
    p->edgePts.push_back(static_cast<int32_t>(edge[2 * i + 1]) - oy0 + p->edgeY);
  }
}

// Gradient or texture pixels over the shape's box, as ARGB of the picture
// size (null without a pattern fill). Error code in *status.
std::vector<uint32_t> RenderPattern(vlVMState* L, const vlDrawState& s, const vlLayerTransform* m, const Plan& p,
                                    int* status, bool* empty) {
  std::vector<uint32_t> out;
  *status = 0;
  *empty = false;
  if (s.fillStyle != VL_FILLGRADIENT && s.fillStyle != VL_FILLTEXTURE) return out;
  const int32_t pad = p.aa ? 5 : 0;
  const int32_t w = p.shapeW + pad, h = p.shapeH + pad;
  vlBitmap* pic = NewBitmap(w, h, 0, nullptr);
  if (!pic) {
    *status = ERR_BITMAP;
    return out;
  }
  if (s.fillStyle == VL_FILLGRADIENT) {
    *status = DrawGradient(pic, 0, 0, w, h, &s.gradient);
  } else {
    *status = FillWithTextureBrush(L, s, m, p.textureSmooth, pic, 0, 0, w, h, empty);
  }
  uint32_t* argb = *status ? nullptr : ReadBitmapARGB(pic, 0, 0, w, h, 0);
  DeleteBitmap(pic);
  if (*status) return out;
  if (!argb) {
    *status = ERR_MEM;
    return out;
  }
  out.assign(static_cast<size_t>(p.drawnW) * p.drawnH, 0);
  const int32_t ox = p.shapeX - (p.aa ? 2 : 0), oy = p.shapeY - (p.aa ? 2 : 0);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      const int32_t tx = ox + x, ty = oy + y;
      if (tx < 0 || ty < 0 || tx >= p.drawnW || ty >= p.drawnH) continue;
      out[static_cast<size_t>(ty) * p.drawnW + tx] = argb[static_cast<size_t>(y) * w + x];
    }
  delete[] argb;
  return out;
}

// Composes the layers (bottom first) into ARGB pixels, each over the ones
// below it.
void Compose(const Plan& p, const Layer* layers, int count, std::vector<uint32_t>* argb, bool* binary) {
  const size_t total = static_cast<size_t>(p.drawnW) * p.drawnH;
  argb->assign(total, 0);
  *binary = true;
  for (size_t i = 0; i < total; ++i) {
    vlCover acc{0, 0};
    for (int k = 0; k < count; ++k) {
      const Layer& l = layers[k];
      if (!l.on || !l.cov[i]) continue;
      const uint32_t la = static_cast<uint32_t>(l.cov[i] * l.opacity / 255);
      if (!la) continue;
      acc = CoverOver(l.pattern ? l.pattern[i] : l.rgb, la, acc);
    }
    if (!acc.cover) continue;
    if (acc.cover != 255) *binary = false;
    (*argb)[i] = acc.cover << 24 | acc.rgb;
  }
}

// A picture with a mask (binary) or an alpha plane from ARGB pixels.
// Takes the picture, made beforehand at w x h.
int PlanesFromARGB(const std::vector<uint32_t>& argb, int32_t w, int32_t h, bool useMask, vlBitmap* pic,
                   vlBitmap** image, vlBitmap** mask, vlBitmap** alpha) {
  *image = *mask = *alpha = nullptr;
  WriteBitmapARGB(argb.data(), w * 4, pic, 0, 0, w, h);
  vlBitmap* plane = useMask ? NewMaskPlane(pic, w, h, 1, nullptr, 0) : NewAlphaPlane(w, h, 1, nullptr, 0);
  if (!plane) {
    DeleteBitmap(pic);
    return useMask ? ERR_ALLOCMASK : ERR_ALLOCALPHA;
  }
  // Through the plane's lock: a display adapter may hold it.
  vlPixelAccess acc{};
  if (!LockPixels(plane, 0, &acc)) {
    DeleteBitmap(pic);
    useMask ? DeleteMaskPlane(plane) : DeleteAlphaPlane(plane);
    return useMask ? ERR_ALLOCMASK : ERR_ALLOCALPHA;
  }
  for (int32_t y = 0; y < h; ++y) {
    uint8_t* row = acc.pixels + static_cast<intptr_t>(y) * acc.rowLength;
    for (int32_t x = 0; x < w; ++x) {
      const uint32_t a = argb[static_cast<size_t>(y) * w + x] >> 24;
      if (useMask)
        SetMaskBit(row, x, a != 0);
      else
        row[x] = static_cast<uint8_t>(a);
    }
  }
  UnlockPixels(plane, &acc);
  *image = pic;
  (useMask ? *mask : *alpha) = plane;
  return 0;
}

void Cover(Layer* l, const Plan& p, int32_t kind, const std::vector<int32_t>& pts, int32_t dx, int32_t dy,
           int32_t thickness, bool aa) {
  l->cov.assign(static_cast<size_t>(p.drawnW) * p.drawnH, 0);
  std::vector<int32_t> moved(pts);
  for (size_t i = 0; i < moved.size(); i += 2) moved[i] += dx, moved[i + 1] += dy;
  DrawCoverageImage(l->cov.data(), p.drawnW, p.drawnW, p.drawnH, kind, moved.data(),
                    static_cast<int32_t>(moved.size() / 2), thickness, aa);
  l->on = true;
}

// Coverage of a curve from the vector rasteriser, placed at (x, y). The
// corner of the coverage (after the transform, about the box's corner)
// goes to *cornerX, *cornerY when they are given.
bool CurveCoverage(Layer* l, const Plan& p, const vlShapeRequest& r, const vlLayerTransform* m, int32_t extra,
                   int32_t x, int32_t y, int32_t* outW, int32_t* outH, int32_t* cornerX = nullptr,
                   int32_t* cornerY = nullptr) {
  vlPathTransform pt{1, 0, 0, 1};
  // The layer matrix goes by rows, the path transform by columns.
  if (m && !IsIdentityMatrix(m)) pt = {m->a, m->c, m->b, m->d};
  vlShapeOutline o{};
  o.kind = static_cast<int32_t>(r.type);
  o.rx = r.radiusX;
  o.ry = r.radiusY;
  o.start = r.type == VL_SHAPE_ARC ? r.startAngle : 0;
  o.end = r.type == VL_SHAPE_ARC ? r.endAngle : 360;
  o.width = r.width;
  o.height = r.height;
  o.clockwise = r.type == VL_SHAPE_ARC ? r.clockwise : 1;
  o.sizeExtra = extra;
  o.transform = &pt;
  for (int i = 0; i < 4; ++i) o.corners[i] = r.corners[i];
  o.fill = p.fill != VL_FILLNONE;
  o.lineWidth = p.curveLineWidth;
  if (!RasterizeArcOutline(&o)) return false;
  *outW = std::max(1, o.outWidth);
  *outH = std::max(1, o.outHeight);
  if (cornerX) *cornerX = o.outX, *cornerY = o.outY;
  if (!l) return true;
  const int32_t rb = (*outW + 3) & ~3;
  std::vector<uint8_t> buf(static_cast<size_t>(rb) * *outH, 0);
  o.coverage = buf.data();
  o.rowBytes = rb;
  if (!RasterizeArcOutline(&o)) return false;
  l->cov.assign(static_cast<size_t>(p.drawnW) * p.drawnH, 0);
  for (int32_t j = 0; j < *outH; ++j)
    for (int32_t i = 0; i < *outW; ++i) {
      const int32_t tx = x + i, ty = y + j;
      if (tx < 0 || ty < 0 || tx >= p.drawnW || ty >= p.drawnH) continue;
      l->cov[static_cast<size_t>(ty) * p.drawnW + tx] = buf[static_cast<size_t>(j) * rb + i];
    }
  l->on = true;
  return true;
}

// Renders the request into a new picture with a mask or alpha plane.
int RenderShapePicture(vlVMState* L, const vlShapeRequest& r, const vlDrawState& s, const vlLayerTransform* m,
                       Plan* p, vlBitmap** image, vlBitmap** mask, vlBitmap** alpha) {
  const bool direct = !r.polygonPath, curves = direct && !IsPlainBox(r);
  if (curves) {
    // The vector rasteriser decides the coverage size.
    int32_t cw = 0, ch = 0, ew = 0, eh = 0, sx = 0, sy = 0, ex = 0, ey = 0;
    if (!CurveCoverage(nullptr, *p, r, m, 0, 0, 0, &cw, &ch, &sx, &sy)) return ERR_MEM;
    if (p->edge && !CurveCoverage(nullptr, *p, r, m, p->edgeSize, 0, 0, &ew, &eh, &ex, &ey)) return ERR_MEM;
    const int32_t stroke = p->fill == VL_FILLNONE && p->curveLineWidth > 1 ? p->curveLineWidth / 2 : 0;
    int32_t sl, st, sr, sb;
    ShadowMargins(p->shadowDir, p->shadowSize, &sl, &st, &sr, &sb);
    // Where the edge's coverage lies against the shape's (its outline is
    // built edge size up and left of the shape's, then turned), and how
    // far the turned shape moves from where it lies untransformed: the
    // rasteriser turns about the box's corner, the shape turns about its
    // anchor point, which stays in place.
    int32_t edgeDX = -p->edgeSize, edgeDY = -p->edgeSize, moveX = 0, moveY = 0;
    if (m && !IsIdentityMatrix(m)) {
      const double e = p->edgeSize;
      edgeDX = ex - sx - vl::DoubleToInt32(std::rint(m->a * e + m->b * e));
      edgeDY = ey - sy - vl::DoubleToInt32(std::rint(m->c * e + m->d * e));
      vlShapeRequest plain = r;
      int32_t iw, ih, ix = 0, iy = 0;
      if (!CurveCoverage(nullptr, *p, plain, nullptr, 0, 0, 0, &iw, &ih, &ix, &iy)) return ERR_MEM;
      const double ax = m->anchorX * r.width, ay = m->anchorY * r.height;
      moveX = sx - ix + vl::DoubleToInt32(std::rint(ax - (m->a * ax + m->b * ay)));
      moveY = sy - iy + vl::DoubleToInt32(std::rint(ay - (m->c * ax + m->d * ay)));
    }
    const int32_t left = p->edge ? std::min(0, edgeDX) : 0, top = p->edge ? std::min(0, edgeDY) : 0;
    const int32_t right = p->edge ? std::max({cw, edgeDX + ew, cw - edgeDX}) : cw;
    const int32_t bottom = p->edge ? std::max({ch, edgeDY + eh, ch - edgeDY}) : ch;
    p->shapeW = cw;
    p->shapeH = ch;
    p->shapeX = sl - left, p->shapeY = st - top;
    p->edgeX = p->shapeX + edgeDX, p->edgeY = p->shapeY + edgeDY;
    p->shadowX = p->edgeX + kShadowDX[p->shadowDir] * p->shadowSize;
    p->shadowY = p->edgeY + kShadowDY[p->shadowDir] * p->shadowSize;
    p->drawnW = right - left + sl + sr;
    p->drawnH = bottom - top + st + sb;
    p->drawnX = r.x + moveX - p->shapeX - stroke;
    p->drawnY = r.y + moveY - p->shapeY - stroke;
  }
  // The picture first: when a shape is too large for one, the working
  // buffers (several times its size) are not tried.
  if (int64_t{p->drawnW} * p->drawnH * 4 > (int64_t{1} << 40)) return ERR_BITMAP;
  std::unique_ptr<vlBitmap, void (*)(vlBitmap*)> pic(NewBitmap(p->drawnW, p->drawnH, 0, nullptr),
                                                     [](vlBitmap* b) { DeleteBitmap(b); });
  if (!pic) return ERR_BITMAP;
  int status = 0;
  bool empty = false;
  std::vector<uint32_t> pattern = RenderPattern(L, s, m, *p, &status, &empty);
  if (status) return status;
  Layer layers[3];
  Layer& shadow = layers[0];
  Layer& edge = layers[1];
  Layer& shape = layers[2];
  shape.rgb = p->rgb;
  shape.opacity = 255 - p->t;
  shape.pattern = pattern.empty() ? nullptr : pattern.data();
  edge.rgb = p->edgeRGB;
  edge.opacity = 255 - p->edgeT;
  shadow.rgb = p->shadowRGB;
  shadow.opacity = 255 - p->shadowT;
  const bool filled = p->fill != VL_FILLNONE;
  if (curves) {
    int32_t w, h;
    if (!CurveCoverage(&shape, *p, r, m, 0, p->shapeX, p->shapeY, &w, &h)) return ERR_MEM;
    if (p->edge && !CurveCoverage(&edge, *p, r, m, p->edgeSize, p->edgeX, p->edgeY, &w, &h)) return ERR_MEM;
  } else if (direct) {
    // A plain box: rectangles.
    auto rect = [p](Layer* l, int32_t x, int32_t y, int32_t w, int32_t h, bool frame) {
      l->cov.assign(static_cast<size_t>(p->drawnW) * p->drawnH, 0);
      for (int32_t j = 0; j < h; ++j)
        for (int32_t i = 0; i < w; ++i)
          if (!frame || i == 0 || j == 0 || i == w - 1 || j == h - 1)
            l->cov[static_cast<size_t>(y + j) * p->drawnW + x + i] = 255;
      l->on = true;
    };
    rect(&shape, p->shapeX, p->shapeY, p->shapeW, p->shapeH, !filled);
    if (p->edge) rect(&edge, p->edgeX, p->edgeY, p->shapeW + 2 * p->edgeSize, p->shapeH + 2 * p->edgeSize, false);
  } else if (filled) {
    Cover(&shape, *p, VL_PAINT_FILL, p->pts, 0, 0, 1, p->aa);
    if (p->edge) Cover(&edge, *p, VL_PAINT_FILL, p->edgePts, 0, 0, 1, p->aa);
  } else {
    Cover(&shape, *p, VL_PAINT_POLYLINE, p->pts, 0, 0, p->lineWidth, p->aa);
  }
  if (empty) shape.on = false;
  if (p->shadow) {
    // The shadow is the edge's (or the shape's) coverage moved.
    const Layer& base = p->edge ? edge : shape;
    const int32_t dx = p->shadowX - p->edgeX, dy = p->shadowY - p->edgeY;
    shadow.cov.assign(base.cov.size(), 0);
    if (base.on)
      for (int32_t y = 0; y < p->drawnH; ++y)
        for (int32_t x = 0; x < p->drawnW; ++x) {
          const int32_t sx = x - dx, sy = y - dy;
          if (sx < 0 || sy < 0 || sx >= p->drawnW || sy >= p->drawnH) continue;
          shadow.cov[static_cast<size_t>(y) * p->drawnW + x] = base.cov[static_cast<size_t>(sy) * p->drawnW + sx];
        }
    shadow.on = base.on;
  }
  std::vector<uint32_t> argb;
  bool binary = false;
  Compose(*p, layers, 3, &argb, &binary);
  const bool opaque = !p->t && !(p->edge && p->edgeT) && !(p->shadow && p->shadowT);
  return PlanesFromARGB(argb, p->drawnW, p->drawnH, opaque && !p->aa && binary, pic.release(), image, mask, alpha);
}

void FreePlanes(vlBitmap* image, vlBitmap* mask, vlBitmap* alpha) {
  if (image) DeleteBitmap(image);
  if (mask) DeleteMaskPlane(mask);
  if (alpha) DeleteAlphaPlane(alpha);
}

// A plain box filled straight into the target, without a picture.
bool TryDirectBox(vlVMState* L, const vlShapeRequest& r, const vlDrawState& s, const Plan& p, vlDrawTarget& t,
                  int* status) {
  *status = 0;
  const uint32_t mode = t.mode;
  const bool selection = mode == VL_OUTPUT_BRUSH || mode == VL_OUTPUT_MASK || mode == VL_OUTPUT_ALPHA;
  if (!selection && !(mode == VL_OUTPUT_DISPLAY && !t.layers)) return false;
  if (mode == VL_OUTPUT_DISPLAY && (s.fillStyle == VL_FILLTEXTURE || p.edge || p.shadow)) return false;
  // A hardware picture's plane takes the rendered box's coverage.
  if (t.plane && (s.fillStyle == VL_FILLTEXTURE || s.fillStyle == VL_FILLGRADIENT)) return false;
  // The window takes no blended colours: a transparent box is composed.
  if (mode == VL_OUTPUT_DISPLAY && p.t) return false;
  if (mode == VL_OUTPUT_BRUSH && (p.edge || p.shadow) && (p.t || p.edgeT || p.shadowT)) return false;
  if (t.clip && t.clip->mask) return false;
  if (r.tags && HasEffects(r.tags->form)) return false;
  if (mode == VL_OUTPUT_DISPLAY && (t.pic->curAlpha || gLayerHooks.videoOnDisplay(t.display))) return false;
  if (OverlapsSprite(t.pic, p.drawnX, p.drawnY, p.drawnW, p.drawnH)) return false;
  // Gradients are computed for the whole box: it must not be cut.
  const int32_t cx = t.clip ? t.clip->x : 0, cy = t.clip ? t.clip->y : 0;
  const int32_t cw = t.clip ? t.clip->width : t.width, ch = t.clip ? t.clip->height : t.height;
  const int32_t bx = r.x, by = r.y;
  if (s.fillStyle == VL_FILLGRADIENT &&
      (bx < cx || by < cy || bx + r.width > cx + cw || by + r.height > cy + ch))
    return false;
  if (mode == VL_OUTPUT_DISPLAY && t.display->scaleWidth) return false;
  vlRectXYWH clip{cx, cy, cw, ch}, dirty{0, 0, 0, 0};
  bool any = false;
  // Opaque colour fills of a display reach its window as fills.
  vlRectXYWH onWindow[4];
  int windowFills = 0;
  bool asFills = mode == VL_OUTPUT_DISPLAY && (s.fillStyle == VL_FILLCOLOR || s.fillStyle == VL_FILLNONE);
  auto fill = [&](int32_t x, int32_t y, int32_t w, int32_t h, uint32_t rgb, int32_t transparency) {
    vlRectXYWH box{x, y, w, h}, cut;
    if (!IntersectRects(box, clip, &cut)) return;
    if (transparency || windowFills == 4) asFills = false;
    else onWindow[windowFills++] = cut;
    if (t.picture) {
      if (transparency && !t.plane)
        TintBitmap(t.picture, cut.x, cut.y, cut.width, cut.height, rgb, 255 - transparency);
      else
        FillBitmapRect(t.picture, cut.x, cut.y, cut.width, cut.height, rgb);
    }
    if (t.mask) FillMaskRect(t.mask, cut.x, cut.y, cut.width, cut.height, t.picture ? 2 : t.maskMode);
    if (t.alpha)
      FillAlphaRect(t.alpha, cut.x, cut.y, cut.width, cut.height,
                    static_cast<uint8_t>(t.picture ? 255 - transparency : t.alphaIntensity));
    dirty = any ? UnionRects(dirty, cut) : cut;
    any = true;
  };
  if (p.shadow)
    fill(bx - p.edgeSize + kShadowDX[p.shadowDir] * p.shadowSize,
         by - p.edgeSize + kShadowDY[p.shadowDir] * p.shadowSize, r.width + 2 * p.edgeSize,
         r.height + 2 * p.edgeSize, p.shadowRGB, p.shadowT);
  if (p.edge) fill(bx - p.edgeSize, by - p.edgeSize, r.width + 2 * p.edgeSize, r.height + 2 * p.edgeSize, p.edgeRGB, p.edgeT);
  if (s.fillStyle == VL_FILLNONE) {
    const int32_t w = r.width, h = r.height;
    if (w == 1 || h == 1) {
      fill(bx, by, w, h, p.rgb, p.t);
    } else if (!p.t) {
      fill(bx, by, w, 1, p.rgb, 0);
      fill(bx, by + h - 1, w, 1, p.rgb, 0);
      fill(bx, by, 1, h, p.rgb, 0);
      fill(bx + w - 1, by, 1, h, p.rgb, 0);
    } else {
      // Every corner pixel blended once.
      fill(bx, by, w - 1, 1, p.rgb, p.t);
      fill(bx + w - 1, by, 1, h - 1, p.rgb, p.t);
      fill(bx, by + 1, 1, h - 1, p.rgb, p.t);
      fill(bx + 1, by + h - 1, w - 1, 1, p.rgb, p.t);
    }
  } else if (s.fillStyle == VL_FILLGRADIENT) {
    fill(bx, by, r.width, r.height, p.rgb, p.t);  // planes
    if (t.picture) *status = DrawGradient(t.picture, bx, by, r.width, r.height, &s.gradient);
  } else if (s.fillStyle == VL_FILLTEXTURE) {
    vlRectXYWH box{bx, by, r.width, r.height}, cut;
    if (IntersectRects(box, clip, &cut)) {
      fill(cut.x, cut.y, cut.width, cut.height, p.rgb, p.t);
      bool empty = false;
      if (t.picture)
        *status = FillWithTextureBrush(L, s, r.tags ? &r.tags->transform : nullptr, t.display->smoothScale,
                                       t.picture, cut.x, cut.y, cut.width, cut.height, &empty);
    }
  } else {
    fill(bx, by, r.width, r.height, p.rgb, p.t);
  }
  if (any && asFills && FinishTargetDirect(L, t, dirty.x, dirty.y, dirty.width, dirty.height)) {
    for (int i = 0; i < windowFills; ++i)
      FillDisplayRect(t.display, onWindow[i].x, onWindow[i].y, onWindow[i].width, onWindow[i].height, p.rgb);
  } else if (any && !asFills) {
    FinishTargetRect(L, t, dirty.x, dirty.y, dirty.width, dirty.height);
  }
  return true;
}

}  // namespace

int ShapeDrawTarget(vlVMState* L, const vlDrawingFor* on, uint32_t flags, vlDrawTarget* t) {
  if (on && (flags & VL_SHAPE_PLANES)) return GetDrawTargetFor(L, *on, t);
  return GetDrawTarget(L, t);
}

void DefaultShapeTags(vlShapeTags* tags) {
  std::memset(static_cast<void*>(tags), 0, sizeof *tags);
  DefaultLayerTransform(&tags->transform);
}

bool IsIdentityMatrix(const vlLayerTransform* t) { return t->a == 1 && t->b == 0 && t->c == 0 && t->d == 1; }

double MatrixScaleX(const vlLayerTransform* t) { return std::hypot(t->a, t->c); }

void ApplyFormStyleToTags(vlDrawState* s, vlShapeTags* tags, uint32_t* color) {
  if (s->formStyle & VL_FORM_EDGE) {
    s->formStyle &= ~VL_FORM_EDGE;
    tags->form.border.on = 1;
    tags->form.border.color = s->edgeColor;
    tags->form.border.size = static_cast<uint32_t>(s->edgeSize);
    tags->changed = 1;
  }
  if (s->formStyle & VL_FORM_SHADOW) {
    s->formStyle &= ~VL_FORM_SHADOW;
    tags->form.shadow.on = 1;
    tags->form.shadow.color = s->shadowColor;
    tags->form.shadow.size = s->shadowSize;
    tags->form.shadow.direction = s->shadowDirection;
    tags->changed = 1;
  }
  if (s->fillStyle == VL_FILLNONE && s->lineWidth > 1) {
    tags->form.border.on = 1;
    tags->form.border.color = *color & 0xFFFFFF;
    tags->form.border.size = static_cast<uint32_t>(s->lineWidth / 2);
    s->lineWidth = 1;
    tags->changed = 1;
  }
  if (*color >> 24) {
    tags->form.transparency = *color >> 24;
    *color &= 0xFFFFFF;
    tags->changed = 1;
  }
}

// Steps 1 to 10 of one shape request.
int DrawShapeCore(vlVMState* L, vlShapeRequest* r, uint32_t flags) {
  vlShapeTags localTags;
  if (!r->tags) {
    DefaultShapeTags(&localTags);
    r->tags = &localTags;
  }
  vlLayerTransform* m = &r->tags->transform;
  if (flags & VL_SHAPE_REBUILD) UpdateTransformMatrix(m, r->width, r->height);
  vlDrawTarget t;
  if (int status = ShapeDrawTarget(L, r->on, flags, &t)) return status;
  r->x = ResolvePosX(r->x, r->width, 0, m->anchorX);
  r->y = ResolvePosY(r->y, r->height, 0, m->anchorY);
  vlDrawState s = *r->drawState;
  const bool layers = t.layers && !(flags & VL_SHAPE_PLANES);
  vlLayerTransform identity;
  DefaultLayerTransform(&identity);
  const vlLayerTransform* renderMatrix = m;
  if (layers && !(flags & VL_SHAPE_REBUILD)) {
    ApplyFormStyleToTags(&s, r->tags, &r->color);
    if (!IsIdentityMatrix(m)) renderMatrix = &identity;
  }
  if (renderMatrix == m) {
    const double f = MatrixScaleX(m);
    s.shadowSize = vl::DoubleToInt32(std::rint(s.shadowSize * f));
    s.lineWidth = vl::DoubleToInt32(std::rint(s.lineWidth * f));
  }
  NormalizeDrawState(&s);
  // Far off every target: nothing to draw, though a layer or a picture
  // asked for cannot be made there.
  if (std::abs(int64_t{r->x}) >= kMaxShapePosition || std::abs(int64_t{r->y}) >= kMaxShapePosition)
    return layers || (flags & VL_SHAPE_PLANES) ? ERR_COORDSRANGE : 0;
  Plan p;
  PrepareShapeOutline(*r, s, renderMatrix, &p);
  if (p.tooLarge) return ERR_BITMAP;
  p.curveLineWidth = IsIdentityMatrix(renderMatrix) ? s.lineWidth : std::max(1, r->drawState->lineWidth);
  p.textureSmooth = t.display->smoothScale;
  // Drawn on the target at once: only without layers or rebuilds.
  if (IsPlainBox(*r) && !layers && !(flags & VL_SHAPE_PLANES)) {
    int status = 0;
    if (TryDirectBox(L, *r, s, p, t, &status)) return status == ERR_USERABORT ? 0 : status;
  }
  vlBitmap *image = nullptr, *mask = nullptr, *alpha = nullptr;
  int status = RenderShapePicture(L, *r, s, renderMatrix, &p, &image, &mask, &alpha);
  if (status) {
    FreePlanes(image, mask, alpha);
    return status == ERR_USERABORT ? 0 : status;
  }
  if (flags & VL_SHAPE_PLANES) {
    if (!r->result) {
      FreePlanes(image, mask, alpha);
      return 0;
    }
    *r->result = {image, mask, alpha, p.drawnX, p.drawnY, p.drawnW, p.drawnH};
    return 0;
  }
  if (layers) {
    vlShapeRecord rec{};
    rec.type = r->type;
    rec.drawState = s;  // its form effects now belong to the layer
    rec.color = r->color;
    rec.x = r->x, rec.y = r->y, rec.width = r->width, rec.height = r->height;
    rec.radiusX = r->radiusX, rec.radiusY = r->radiusY;
    rec.startAngle = r->startAngle, rec.endAngle = r->endAngle;
    rec.clockwise = r->clockwise;
    std::memcpy(rec.corners, r->corners, sizeof rec.corners);
    rec.vertices = const_cast<double*>(r->vertices);
    rec.vertexCount = r->vertexCount;
    vlLayer* layer = nullptr;
    status = AddShapeLayer(L, rec, r->tags, p.drawnX, p.drawnY, p.drawnW, p.drawnH, image, mask, alpha,
                           (flags & VL_SHAPE_REBUILD) ? r->insertPos : -1, &layer);
    if (status) return status;
    // A transformed or decorated layer draws itself.
    if ((flags & (VL_SHAPE_RETURN | VL_SHAPE_REBUILD)) || r->tags->changed || HasEffects(r->tags->form) ||
        !IsIdentityMatrix(m) || !layer)
      return 0;
    vlLayerGeometry* g = layer->geometry[0];
    FinishLayerDraw(L, t, g->drawnX, g->drawnY, g->drawnWidth, g->drawnHeight);
    return 0;
  }
  p.drawnX -= static_cast<int32_t>(m->anchorX * r->width);
  p.drawnY -= static_cast<int32_t>(m->anchorY * r->height);
  if ((status = ApplyDrawTagsEffects(&r->tags->form, image, &mask, &alpha, p.drawnW, p.drawnH))) {
    FreePlanes(image, mask, alpha);
    return status;
  }
  BlitToTarget(L, t, image, mask, alpha, p.drawnX, p.drawnY, p.drawnW, p.drawnH);
  FreePlanes(image, mask, alpha);
  return 0;
}

namespace {

bool DirectCurves(const vlDrawState* s) {
  return (s->formStyle & VL_FORM_ANTIALIAS) && CheckScriptVersion(6, 0) && !vlLegacyLineBasedShapes;
}

void Begin(vlShapeRequest* r, vlShapeRequest* base, uint32_t type, const vlDrawState* s, uint32_t color,
           vlShapeTags* tags) {
  if (base) {
    *r = *base;
  } else {
    *r = {};
  }
  r->type = type;
  r->drawState = s;
  r->color = color;
  r->tags = tags;
  r->polygonPath = 1;
}

}  // namespace

int DrawBoxShape(vlVMState* L, uint32_t flags, const vlDrawState* s, int32_t x, int32_t y, int32_t w, int32_t h,
                 uint32_t color, const int32_t corners[4], vlShapeTags* tags, vlShapeRequest* base) {
  if (w < 1 || h < 1) return ERR_WRONGUSAGE;
  if (w >= kMaxShapeSide || h >= kMaxShapeSide) return ERR_BITMAP;
  vlShapeRequest r;
  Begin(&r, base, VL_SHAPE_BOX, s, color, tags);
  r.x = x, r.y = y, r.width = w, r.height = h;
  bool rounded = false;
  for (int i = 0; i < 4; ++i) {
    r.corners[i] = corners ? std::clamp(corners[i], 0, 100) : 0;
    rounded = rounded || r.corners[i];
  }
  const bool identity = !tags || IsIdentityMatrix(&tags->transform);
  if (!rounded)
    r.polygonPath = !(identity && (s->fillStyle != VL_FILLNONE || s->lineWidth <= 1) &&
                      !(s->formStyle & VL_FORM_ANTIALIAS));
  else
    r.polygonPath = !DirectCurves(s);
  return DrawShapeCore(L, &r, flags);
}

int DrawEllipseShape(vlVMState* L, uint32_t flags, const vlDrawState* s, uint32_t type, int32_t x, int32_t y,
                     int32_t rx, int32_t ry, uint32_t color, vlShapeTags* tags, vlShapeRequest* base) {
  if (rx < 1 || ry < 1) return ERR_WRONGUSAGE;
  if (rx > kMaxShapeRadius || ry > kMaxShapeRadius) return ERR_BITMAP;
  vlShapeRequest r;
  Begin(&r, base, type, s, color, tags);
  r.x = x, r.y = y;
  r.radiusX = rx, r.radiusY = ry;
  r.width = 2 * rx + 1, r.height = 2 * ry + 1;
  r.startAngle = 0, r.endAngle = 360, r.clockwise = 1;
  r.polygonPath = !DirectCurves(s);
  return DrawShapeCore(L, &r, flags);
}

int DrawArcShape(vlVMState* L, uint32_t flags, const vlDrawState* s, int32_t x, int32_t y, int32_t rx, int32_t ry,
                 int32_t start, int32_t end, uint32_t clockwise, uint32_t color, vlShapeTags* tags,
                 vlShapeRequest* base) {
  if (rx < 1 || ry < 1 || start < 0 || end < 0) return ERR_WRONGUSAGE;
  if (start == end) return 0;
  if (rx > kMaxShapeRadius || ry > kMaxShapeRadius) return ERR_BITMAP;
  vlShapeRequest r;
  Begin(&r, base, VL_SHAPE_ARC, s, color, tags);
  r.x = x, r.y = y;
  r.radiusX = rx, r.radiusY = ry;
  r.width = 2 * rx + 1, r.height = 2 * ry + 1;
  r.startAngle = start, r.endAngle = end, r.clockwise = clockwise;
  r.polygonPath = !DirectCurves(s);
  return DrawShapeCore(L, &r, flags);
}

int DrawPolygonShape(vlVMState* L, uint32_t flags, const vlDrawState* s, int32_t x, int32_t y,
                     const double* vertices, int32_t count, uint32_t color, vlShapeTags* tags,
                     vlShapeRequest* base) {
  if (count < 2) return ERR_WRONGUSAGE;
  vlShapeRequest r;
  Begin(&r, base, VL_SHAPE_POLYGON, s, color, tags);
  int32_t x0, y0, x1, y1;
  PointBounds(vertices, count, &x0, &y0, &x1, &y1);
  if (int64_t{x1} - x0 >= kMaxShapeSide || int64_t{y1} - y0 >= kMaxShapeSide) return ERR_BITMAP;
  r.x = x, r.y = y;
  r.width = x1 - x0 + 1, r.height = y1 - y0 + 1;
  r.vertices = vertices;
  r.vertexCount = count;
  return DrawShapeCore(L, &r, flags);
}
