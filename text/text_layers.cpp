// Text layers: TEXTOUT and PRINT layers keep the layout they were rendered
// from, so a new display scale or layer transform renders the text again
// at that size instead of scaling its picture.
#include "text/text_layers.h"

#include <cmath>
#include <new>

#include "graphics/geometry.h"
#include "graphics/picture_engines.h"
#include "text/fonts/engine_font.h"
#include "text/text_layer_style.h"
#include "vm/convert.h"
#include "vm/error_codes.h"

namespace {

bool IsIdentity(const double* m) { return m[0] == 1 && m[1] == 0 && m[2] == 0 && m[3] == 1; }

int32_t Scaled(int32_t v, double factor) { return vl::DoubleToInt32(std::lround(v * factor)); }

// The pictures of a text layer are always its own.
int TextLayerBitmaps(vlVMState*, vlLayer*, int32_t, vlBitmap**, vlBitmap**, vlBitmap**, int32_t*, int32_t*,
                     uint32_t*) {
  return ERR_WRONGUSAGE;
}

// The layer's layout rendered through the transform block, placed so that
// the anchor point of record [0]'s box stays where the transform puts it.
int RebuildTextLayer(vlVMState* L, vlLayer* layer, const vlDrawingFor& on, vlLayerGeometry* target,
                     const vlLayerTransform* t, uint32_t flags, vlLayerRect* rect) {
  const auto* kept = static_cast<const vlTextLayerGeometry*>(layer->geometry[0]);
  vlTextLayout layout = kept->layout;
  layout.text = kept->text.c_str();
  double m[4];
  LayerMatrixColumns(t, m);
  vlTextPicture picture;
  if (int status = RenderTextTransformed(L, layout, kept->mode, kept->literal, m, true,
                                             static_cast<int>(t->smooth), &picture)) return status;
  int32_t x, y;
  PlaceRenderedBox(target, kept->width, kept->height, t, m, picture.width, picture.height, &x, &y);
  SetLayerGeometry(L, layer, on, target, rect, x, y, picture.width, picture.height, picture.bitmap, picture.mask,
                   picture.alpha, flags);
  return 0;
}

vlLayerGeometry* CopyTextGeometry(const vlLayerGeometry* g) {
  const auto* from = static_cast<const vlTextLayerGeometry*>(g);
  auto* copy = new (std::nothrow) vlTextLayerGeometry();
  if (!copy) return nullptr;
  try {
    *copy = *from;
  } catch (...) {
    delete copy;
    return nullptr;
  }
  ClearGeometryPictures(copy);
  copy->layout.text = nullptr;
  return copy;
}

void FreeTextGeometry(vlLayerGeometry* g) { delete static_cast<vlTextLayerGeometry*>(g); }

vlLayerSource MakeTextLayerSource() {
  vlLayerSource s{};
  s.getBitmaps = TextLayerBitmaps;
  s.rebuild = RebuildTextLayer;
  s.copyGeometry = CopyTextGeometry;
  s.freeGeometry = FreeTextGeometry;
  s.applyStyle = ApplyTextLayerStyle;
  s.writeStyle = WriteTextLayerStyle;
  s.makeBorder = CreateLayerBorderBitmap;
  return s;
}

const vlLayerSource kTextLayerSource = MakeTextLayerSource();

}  // namespace

vlTextLayerGeometry* NewTextLayerGeometry(const vlTextLayout& layout, int32_t mode, bool literal) {
  auto* g = new (std::nothrow) vlTextLayerGeometry();
  if (!g) return nullptr;
  try {
    g->layout = layout;
    g->text = layout.text ? layout.text : "";
  } catch (...) {
    delete g;
    return nullptr;
  }
  g->layout.text = nullptr;
  // Later renders break the lines where this one did.
  g->layout.useWordWrap = true;
  g->mode = mode;
  g->literal = literal;
  return g;
}

void ClearGeometryPictures(vlLayerGeometry* g) {
  g->image = g->mask = g->alpha = nullptr;
  g->xImage = g->xMask = g->xAlpha = nullptr;
  g->fImage = g->fMask = g->fAlpha = nullptr;
  g->bImage = g->bMask = g->bAlpha = nullptr;
  g->shadowAlpha = nullptr;
  g->clipRegion = nullptr;
}

void PlaceRenderedBox(vlLayerGeometry* target, int32_t w, int32_t h, const vlLayerTransform* t, const double m[4],
                      int32_t pw, int32_t ph, int32_t* x, int32_t* y) {
  target->anchoredX = target->x - static_cast<int32_t>(w * t->anchorX);
  target->anchoredY = target->y - static_cast<int32_t>(h * t->anchorY);
  int32_t bx = target->anchoredX, by = target->anchoredY, bw = w, bh = h;
  if (!IsIdentity(m)) FitRotatedRect(bx, by, w, h, t->anchorX, t->anchorY, m, &bx, &by, &bw, &bh);
  // Rendering at another size rounds the picture's size differently from
  // the box's: the picture stays centred on it.
  *x = bx + (bw - pw) / 2;
  *y = by + (bh - ph) / 2;
}

void LayerMatrixColumns(const vlLayerTransform* t, double out[4]) {
  out[0] = t->a;
  out[1] = t->c;
  out[2] = t->b;
  out[3] = t->d;
}

int RenderTextTransformed(vlVMState* L, const vlTextLayout& from, int32_t mode, bool literal, const double m[4],
                          bool replay, int smooth, vlTextPicture* out) {
  vlTextLayout layout = from;
  layout.useWordWrap = replay;
  if (!replay) {
    layout.wordWrap.clear();
    layout.tabTable.clear();
  }
  vlEngineFont* font = layout.settings.font;
  double residual[4] = {m[0], m[1], m[2], m[3]};
  bool fontScaled = false;
  if (!IsIdentity(m) && font && font->scalable) {
    const double sx = std::sqrt(m[0] * m[0] + m[1] * m[1]), sy = std::sqrt(m[2] * m[2] + m[3] * m[3]);
    if (sx > 0 && sy > 0 && std::isfinite(sx) && std::isfinite(sy)) {
      SetFontScale(font, sx, sy);
      fontScaled = true;
      for (int i = 0; i < 2; ++i) residual[i] = m[i] / sx;
      for (int i = 2; i < 4; ++i) residual[i] = m[i] / sy;
      // Effect sizes and horizontal measures grow with the text.
      layout.settings.shadowSize = Scaled(layout.settings.shadowSize, sx);
      layout.settings.edgeSize = Scaled(layout.settings.edgeSize, sx);
      layout.wrapWidth = Scaled(layout.wrapWidth, sx);
      layout.marginLeft = Scaled(layout.marginLeft, sx);
      layout.cursorX = Scaled(layout.cursorX, sx);
      for (int32_t i = 0; i < layout.tabCount && i < 32; ++i) layout.tabStops[i] = Scaled(layout.tabStops[i], sx);
      ClampTextEffectParams(&layout.settings);
    }
  }
  vlTextPicture picture;
  int32_t lines = 0, endX = 0;
  int status = RenderLayoutPicture(L, &layout, mode, literal, &picture, &lines, &endX);
  if (fontScaled) SetFontScale(font, 1.0, 1.0);
  if (status) return status;
  // Rounding may leave a pure scale a hair off the identity.
  for (double& v : residual)
    if (std::fabs(v - std::round(v)) < 1e-9) v = std::round(v);
  if (!IsIdentity(residual)) {
    vlTextPicture turned;
    status = TransformBitmap(picture.bitmap, picture.mask, picture.alpha, 0, 0, picture.width, picture.height,
                             residual, smooth, 0, &turned.bitmap, picture.mask ? &turned.mask : nullptr,
                             picture.alpha ? &turned.alpha : nullptr, &turned.width, &turned.height);
    FreeTextPicture(&picture);
    if (status) return status;
    picture = turned;
  }
  *out = picture;
  return 0;
}

void InstallTextLayerSources() {
  RegisterLayerSource(VL_LAYER_TEXTOUT, &kTextLayerSource);
  RegisterLayerSource(VL_LAYER_PRINT, &kTextLayerSource);
}
