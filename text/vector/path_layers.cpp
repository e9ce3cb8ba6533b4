// Path layers drawn again from their kept path through the layer's
// transform and the display's scale.
#include "text/vector/path_layers.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "graphics/geometry.h"
#include "text/text_layers.h"
#include "text/vector/path_layer_style.h"
#include "vm/error_codes.h"

namespace {

// Points the shape at the record's own buffers.
void Rebind(vlPathLayerGeometry* g) {
  g->shape.commands = g->commands.empty() ? nullptr : g->commands.data();
  g->shape.capacity = static_cast<uint32_t>(g->commands.size());
  g->shape.line.dashes = g->dashes.empty() ? nullptr : g->dashes.data();
  g->shape.line.dashCount = static_cast<uint32_t>(g->dashes.size());
}

int PathLayerBitmaps(vlVMState*, vlLayer*, int32_t, vlBitmap**, vlBitmap**, vlBitmap**, int32_t*, int32_t*,
                     uint32_t*) {
  return ERR_WRONGUSAGE;
}

// The draw tags of a path drawn through a layer transform: the layer's
// matrix after the path's own. lm receives the layer's matrix columns.
vlDrawTagPlacement PathTags(const vlLayerTransform* t, const vlPathLayerGeometry* kept, double lm[4]) {
  LayerMatrixColumns(t, lm);
  const double* own = kept->matrix;
  vlDrawTagPlacement tags{};
  tags.matrix[0] = lm[0] * own[0] + lm[2] * own[1];
  tags.matrix[1] = lm[1] * own[0] + lm[3] * own[1];
  tags.matrix[2] = lm[0] * own[2] + lm[2] * own[3];
  tags.matrix[3] = lm[1] * own[2] + lm[3] * own[3];
  return tags;
}

int RebuildPathLayer(vlVMState* L, vlLayer* layer, const vlDrawingFor& on, vlLayerGeometry* target,
                     const vlLayerTransform* t, uint32_t flags, vlLayerRect* rect) {
  const auto* kept = static_cast<const vlPathLayerGeometry*>(layer->geometry[0]);
  vlPathShape shape = kept->shape;
  double lm[4];
  vlDrawTagPlacement tags = PathTags(t, kept, lm);
  vlPathPictures made{};
  if (int status = DrawPathObject(L, 0, 0, &shape, &tags, 0, &made)) return status;
  int32_t x, y;
  PlaceRenderedBox(target, kept->width, kept->height, t, lm, made.width, made.height, &x, &y);
  SetLayerGeometry(L, layer, on, target, rect, x, y, made.width, made.height, made.picture,
                   nullptr, made.alpha, flags);
  return 0;
}

// The border of a path layer is the path itself drawn again in the border
// colour and grown by the border size: a filled path with an edge of that
// size, an outline with a stroke wider by twice the size. It is rendered
// through the same transform as the record it borders and centred on it as
// the layer's own picture is.
int MakePathLayerBorder(vlVMState* L, vlLayer* layer, const vlDrawingFor& on, vlLayerGeometry* g, uint32_t color,
                        int32_t size, int32_t* ox, int32_t* oy, vlBitmap** image, vlBitmap** mask,
                        vlBitmap** alpha) {
  const auto* kept = static_cast<const vlPathLayerGeometry*>(layer->geometry[0]);
  vlLayerTransform t = layer->transform;
  const bool displayRecord = g == layer->geometry[2] && g != layer->geometry[1] && g != layer->geometry[0];
  if (displayRecord && on.display && on.display->scaleX > 0 && on.display->scaleY > 0) {
    t.a *= on.display->scaleX, t.b *= on.display->scaleX;
    t.c *= on.display->scaleY, t.d *= on.display->scaleY;
  }
  vlPathShape shape = kept->shape;
  const uint32_t rgb = color & 0xFFFFFFu;  // the border's opacity is applied to the finished picture
  shape.color = rgb;
  vlPathDrawStyle& st = shape.style;
  st.formStyle &= VL_FORM_ANTIALIAS;
  if (st.fillStyle != 0) {
    st.fillStyle = 1;  // plain: gradients and textures are the body's
    st.formStyle |= VL_FORM_EDGE;
    st.edgeSize = size;
    st.edgeColor = rgb;
  } else {
    st.lineWidth = std::max(st.lineWidth, 1) + 2 * size;
  }
  double lm[4];
  vlDrawTagPlacement tags = PathTags(&t, kept, lm);
  vlPathPictures made{};
  if (int status = DrawPathObject(L, 0, 0, &shape, &tags, 0, &made)) return status;
  vlLayerGeometry scratch = *g;
  int32_t bodyX, bodyY, borderX, borderY;
  PlaceRenderedBox(&scratch, kept->width, kept->height, &t, lm, g->drawnWidth, g->drawnHeight, &bodyX, &bodyY);
  PlaceRenderedBox(&scratch, kept->width, kept->height, &t, lm, made.width, made.height, &borderX, &borderY);
  *ox = bodyX - borderX;
  *oy = bodyY - borderY;
  *image = made.picture, *mask = nullptr, *alpha = made.alpha;
  return 0;
}

vlLayerGeometry* CopyPathGeometry(const vlLayerGeometry* g) {
  const auto* from = static_cast<const vlPathLayerGeometry*>(g);
  auto* copy = new (std::nothrow) vlPathLayerGeometry();
  if (!copy) return nullptr;
  try {
    *copy = *from;
  } catch (...) {
    delete copy;
    return nullptr;
  }
  ClearGeometryPictures(copy);
  Rebind(copy);
  return copy;
}

void FreePathGeometry(vlLayerGeometry* g) { delete static_cast<vlPathLayerGeometry*>(g); }

int PathOutlineColor(const vlLayer* layer, uint32_t* color) {
  const vlPathShape& shape = static_cast<const vlPathLayerGeometry*>(layer->geometry[0])->shape;
  *color = shape.color;
  return shape.style.fillStyle == 0;
}

vlLayerSource MakePathLayerSource() {
  vlLayerSource s{};
  s.outlineColor = PathOutlineColor;
  s.getBitmaps = PathLayerBitmaps;
  s.rebuild = RebuildPathLayer;
  s.makeBorder = MakePathLayerBorder;
  s.copyGeometry = CopyPathGeometry;
  s.freeGeometry = FreePathGeometry;
  s.applyStyle = ApplyPathLayerStyle;
  s.writeStyle = WritePathLayerStyle;
  return s;
}

const vlLayerSource kPathLayerSource = MakePathLayerSource();

}  // namespace

vlPathLayerGeometry* NewPathLayerGeometry(const vlPathShape& shape, const double matrix[4]) {
  auto* g = new (std::nothrow) vlPathLayerGeometry();
  if (!g) return nullptr;
  try {
    if (shape.commands && shape.capacity) g->commands.assign(shape.commands, shape.commands + shape.capacity);
    if (shape.line.dashes && shape.line.dashCount)
      g->dashes.assign(shape.line.dashes, shape.line.dashes + shape.line.dashCount);
  } catch (...) {
    delete g;
    return nullptr;
  }
  g->shape = shape;
  std::memcpy(g->matrix, matrix, sizeof g->matrix);
  Rebind(g);
  return g;
}

void InstallPathLayerSource() { RegisterLayerSource(VL_LAYER_VECTORPATH, &kPathLayerSource); }
