// The style keys of shape layers (box, circle, ellipse, line, polygon,
// arc): a table read into a new shape description for the layer attribute
// engine, and the same keys written back for GetLayerStyle.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "display/gradient_args.h"
#include "display/layers/layers.h"
#include "graphics/geometry.h"
#include "objects/draw/draw_state.h"
#include "objects/draw/shape_render.h"
#include "runtime/option_readers.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"
#include "vm/value.h"

namespace {

bool IsShapeType(uint32_t type) {
  return type == VL_SHAPE_BOX || type == VL_SHAPE_CIRCLE || type == VL_SHAPE_ELLIPSE || type == VL_SHAPE_LINE ||
         type == VL_SHAPE_POLYGON || type == VL_SHAPE_ARC;
}

bool Has(vlVMState* L, int table, const char* key) {
  vl::PushString(L, key);
  vl::RawGetTableValue(L, table);
  const bool present = vl::GetTypeAt(L, -1) != VL_TNIL;
  vl::SetStackTop(L, -2);
  return present;
}

bool Int(vlVMState* L, int table, const char* key, int32_t* out) { return GetTableInt(L, table, key, out, nullptr); }

// "vertices": absolute points; the record keeps them from their box's
// corner, which becomes the shape's position.
int ReadVertices(vlVMState* L, int table, vlShapeRecord* rec, std::vector<double>* v) {
  vl::PushString(L, "vertices");
  vl::RawGetTableValue(L, table);
  if (vl::GetTypeAt(L, -1) != VL_TTABLE) {
    vl::SetStackTop(L, -2);
    return ERR_TABLEORNIL;
  }
  int status = ReadPolygonTable(L, vl::GetStackTop(L), 0, v);
  vl::SetStackTop(L, -2);
  if (status) return status;
  size_t n = v->size() / 2;
  if (n < 2) return ERR_WRONGUSAGE;
  if ((*v)[0] != (*v)[2 * n - 2] || (*v)[1] != (*v)[2 * n - 1]) {
    v->push_back((*v)[0]);
    v->push_back((*v)[1]);
    ++n;
  }
  double minX = (*v)[0], minY = (*v)[1];
  for (size_t i = 0; i < n; ++i) minX = std::min(minX, (*v)[2 * i]), minY = std::min(minY, (*v)[2 * i + 1]);
  for (size_t i = 0; i < n; ++i) (*v)[2 * i] -= minX, (*v)[2 * i + 1] -= minY;
  int32_t x0, y0, x1, y1;
  PointBounds(v->data(), static_cast<int32_t>(n), &x0, &y0, &x1, &y1);
  rec->x = static_cast<int32_t>(minX), rec->y = static_cast<int32_t>(minY);
  rec->width = x1 - x0 + 1, rec->height = y1 - y0 + 1;
  rec->vertexCount = static_cast<int32_t>(n);
  return 0;
}

// The type's own numbers. Keys a type change needs give 1014 when absent.
int ReadShapeKeys(vlVMState* L, int table, uint32_t type, uint32_t oldType, bool typeChanged, vlShapeRecord* rec,
                  std::vector<double>* vertices, bool* given) {
  int32_t v;
  switch (type) {
    case VL_SHAPE_BOX: {
      if (Int(L, table, "sizex", &rec->width)) *given = true;
      if (Int(L, table, "sizey", &rec->height)) *given = true;
      if (Int(L, table, "roundlevel", &v)) {
        for (int32_t& c : rec->corners) c = v;
        *given = true;
      }
      const char* keys[4] = {"cornera", "cornerb", "cornerc", "cornerd"};
      for (int i = 0; i < 4; i++)
        if (Int(L, table, keys[i], &rec->corners[i])) *given = true;
      for (int32_t& c : rec->corners) c = std::clamp(c, 0, 100);
      if (rec->width < 1 || rec->height < 1) return ERR_WRONGUSAGE;
      return 0;
    }
    case VL_SHAPE_CIRCLE:
      if (Int(L, table, "radius", &v)) {
        rec->radiusX = rec->radiusY = v;
        *given = true;
      } else if (typeChanged && oldType != VL_SHAPE_ELLIPSE && oldType != VL_SHAPE_ARC) {
        return ERR_MISSINGPARAMTR;
      }
      rec->radiusY = rec->radiusX;
      break;
    case VL_SHAPE_ELLIPSE:
    case VL_SHAPE_ARC: {
      if (type == VL_SHAPE_ARC) {
        const bool start = Int(L, table, "startangle", &rec->startAngle);
        const bool end = Int(L, table, "endangle", &rec->endAngle);
        if (typeChanged && (!start || !end)) return ERR_MISSINGPARAMTR;
        if (Int(L, table, "clockwise", &v)) rec->clockwise = v ? 1 : 0, *given = true;
        if (start || end) *given = true;
        if (rec->startAngle < 0 || rec->endAngle < 0 || rec->startAngle == rec->endAngle) return ERR_WRONGUSAGE;
      } else {
        rec->startAngle = 0, rec->endAngle = 360, rec->clockwise = 1;
      }
      const bool a = Int(L, table, "radiusa", &rec->radiusX);
      const bool b = Int(L, table, "radiusb", &rec->radiusY);
      if (typeChanged && (!a || !b) && oldType != VL_SHAPE_CIRCLE && oldType != VL_SHAPE_ARC &&
          !(type == VL_SHAPE_ARC && oldType == VL_SHAPE_ELLIPSE))
        return ERR_MISSINGPARAMTR;
      if (a || b) *given = true;
      break;
    }
    case VL_SHAPE_LINE: {
      // End points as the script sees them: on the BGPic.
      int32_t p[4] = {rec->x + rec->x1, rec->y + rec->y1, rec->x + rec->x2, rec->y + rec->y2};
      const char* keys[4] = {"x1", "y1", "x2", "y2"};
      bool ends = false;
      for (int i = 0; i < 4; i++)
        if (Int(L, table, keys[i], &p[i])) ends = true;
      if (Int(L, table, "thickness", &v)) rec->thickness = std::clamp(v, 1, 64), *given = true;
      if (rec->thickness < 1) rec->thickness = 1;
      if (ends || typeChanged) {
        rec->x = std::min(p[0], p[2]), rec->y = std::min(p[1], p[3]);
        rec->width = std::max(p[0], p[2]) - rec->x + 1, rec->height = std::max(p[1], p[3]) - rec->y + 1;
        rec->x1 = p[0] - rec->x, rec->y1 = p[1] - rec->y, rec->x2 = p[2] - rec->x, rec->y2 = p[3] - rec->y;
        *given = *given || ends;
      }
      return 0;
    }
    case VL_SHAPE_POLYGON:
      if (Has(L, table, "vertices")) {
        if (int status = ReadVertices(L, table, rec, vertices)) return status;
        *given = true;
      } else if (typeChanged) {
        return ERR_MISSINGPARAMTR;
      }
      return 0;
    default:
      return ERR_WRONGUSAGE;
  }
  // Circles, ellipses and arcs.
  if (rec->radiusX < 1 || rec->radiusY < 1) return ERR_WRONGUSAGE;
  rec->width = 2 * rec->radiusX + 1;
  rec->height = 2 * rec->radiusY + 1;
  return 0;
}

}  // namespace

// "formstyle" and "formstyleclear": the shadow and edge bits are the
// layer's own shadow and border; the rest are the draw state's.
void ReadFormStyleKeys(vlVMState* L, int table, uint32_t* formStyle, vlLayer* copy, bool* given) {
  int32_t v;
  if (Int(L, table, "formstyle", &v)) {
    *given = true;
    const auto bits = static_cast<uint32_t>(v);
    if (bits & VL_FORM_NORMAL) {
      *formStyle = VL_FORM_NORMAL;
    } else {
      if (bits & VL_FORM_SHADOW) SwitchLayerShadow(&copy->shadow, 1);
      if (bits & VL_FORM_EDGE) copy->border.on = 1;
      *formStyle |= bits & ~(VL_FORM_SHADOW | VL_FORM_EDGE);
    }
  }
  if (Int(L, table, "formstyleclear", &v)) {
    *given = true;
    const auto bits = static_cast<uint32_t>(v);
    if (bits & VL_FORM_SHADOW) SwitchLayerShadow(&copy->shadow, 0);
    if (bits & VL_FORM_EDGE) copy->border.on = 0;
    *formStyle &= ~(bits & ~(VL_FORM_SHADOW | VL_FORM_EDGE));
  }
}

int ReadFillStyleKeys(vlVMState* L, int table, vlDrawState* s, bool* given) {
  int32_t v;
  if (Int(L, table, "fillstyle", &v)) s->fillStyle = static_cast<uint32_t>(v), *given = true;
  for (const char* key : {"gradientstyle", "gradientangle", "gradientstartcolor", "gradientendcolor"})
    if (Has(L, table, key)) *given = true;
  if (s->fillStyle == VL_FILLGRADIENT) {
    for (const char* key : {"gradientcenterx", "gradientcentery", "gradientbalance", "gradientborder",
                            "gradientcolors"})
      if (Has(L, table, key)) *given = true;
    if (int status = ReadGradientTable(L, table, &s->gradient, 1)) return status;
  } else {
    vlGradientDesc& g = s->gradient;
    if (Int(L, table, "gradientstyle", &v)) g.type = static_cast<uint32_t>(v);
    if (Int(L, table, "gradientstartcolor", &v)) g.startColor = static_cast<uint32_t>(v);
    if (Int(L, table, "gradientendcolor", &v)) g.endColor = static_cast<uint32_t>(v);
    Int(L, table, "gradientangle", &g.angle);
  }
  if (GetTableObjectID(L, table, "texturebrush", &s->textureBrush, nullptr)) *given = true;
  if (Int(L, table, "texturex", &s->textureX)) *given = true;
  if (Int(L, table, "texturey", &s->textureY)) *given = true;
  return 0;
}

void PushTableId(vlVMState* L, const char* key, const vlObjectId& id) {
  vl::PushString(L, key);
  if (id.handle)
    vl::PushPointer(L, id.handle);
  else
    vl::PushNumber(L, id.number);
  vl::RawSetTableValue(L, -3);
}

void WriteFormFillKeys(vlVMState* L, const vlLayer* layer, const vlDrawState& s) {
  uint32_t form = s.formStyle;
  if (layer->shadow.on) form |= VL_FORM_SHADOW;
  if (layer->border.on) form |= VL_FORM_EDGE;
  SetTableNumber(L, "formstyle", form);
  SetTableNumber(L, "fillstyle", s.fillStyle);
  SetTableNumber(L, "gradientstyle", s.gradient.type);
  SetTableNumber(L, "gradientangle", s.gradient.angle);
  SetTableNumber(L, "gradientstartcolor", s.gradient.startColor);
  SetTableNumber(L, "gradientendcolor", s.gradient.endColor);
  PushTableId(L, "texturebrush", s.textureBrush);
  SetTableNumber(L, "texturex", s.textureX);
  SetTableNumber(L, "texturey", s.textureY);
}

int ApplyShapeLayerStyle(vlVMState* L, vlLayer* layer, vlLayer* copy, int table, uint32_t type, int typeChanged,
                         vlLayerGeometry** record, int* given) {
  *record = nullptr;
  *given = 0;
  if (!IsShapeType(type)) return ERR_WRONGUSAGE;
  const vlLayerGeometry* g0 = layer->geometry[0];
  const bool fromShape = IsShapeType(layer->type);
  vlShapeRecord rec{};
  std::vector<double> vertices;
  if (fromShape) {
    // Within the group the layer keeps its shape settings.
    rec = static_cast<const vlShapeGeometry*>(g0)->shape;
    if (rec.vertices && rec.vertexCount > 0) vertices.assign(rec.vertices, rec.vertices + 2 * rec.vertexCount);
  } else {
    rec.drawState = *GetDrawState();
    rec.thickness = 1;
  }
  rec.vertices = nullptr;
  rec.type = type;
  if (type != VL_SHAPE_LINE || !fromShape) rec.x = g0->x, rec.y = g0->y;
  if (type != layer->type && layer->type == VL_SHAPE_LINE) rec.x1 = rec.y1 = rec.x2 = rec.y2 = 0;
  if (type == VL_SHAPE_POLYGON && layer->type != VL_SHAPE_POLYGON) vertices.clear(), rec.vertexCount = 0;
  bool any = typeChanged != 0;
  int32_t color;
  if (GetTableInt(L, table, "color", &color, nullptr)) rec.color = static_cast<uint32_t>(color), any = true;
  ReadFormStyleKeys(L, table, &rec.drawState.formStyle, copy, &any);
  if (int status = ReadFillStyleKeys(L, table, &rec.drawState, &any)) return status;
  if (int status = ReadShapeKeys(L, table, type, layer->type, typeChanged, &rec, &vertices, &any)) return status;
  if (!any) return 0;
  NormalizeDrawState(&rec.drawState);
  auto* g = new (std::nothrow) vlShapeGeometry{};
  if (!g) return ERR_MEM;
  if (!vertices.empty()) {
    g->shape.vertices = static_cast<double*>(std::malloc(sizeof(double) * vertices.size()));
    if (!g->shape.vertices) {
      delete g;
      return ERR_MEM;
    }
    std::memcpy(g->shape.vertices, vertices.data(), sizeof(double) * vertices.size());
    rec.vertexCount = static_cast<int32_t>(vertices.size() / 2);
  }
  double* own = g->shape.vertices;
  g->shape = rec;
  g->shape.vertices = own;
  g->x = rec.x, g->y = rec.y, g->width = rec.width, g->height = rec.height;
  *record = g;
  *given = 1;
  return 0;
}

void WriteShapeLayerStyle(vlVMState* L, vlLayer* layer) {
  const vlShapeRecord& rec = static_cast<const vlShapeGeometry*>(layer->geometry[0])->shape;
  const vlDrawState& s = rec.drawState;
  SetTableNumber(L, "color", rec.color);
  WriteFormFillKeys(L, layer, s);
  switch (rec.type) {
    case VL_SHAPE_BOX:
      SetTableNumber(L, "sizex", rec.width);
      SetTableNumber(L, "sizey", rec.height);
      if (rec.corners[0] == rec.corners[1] && rec.corners[1] == rec.corners[2] && rec.corners[2] == rec.corners[3]) {
        SetTableNumber(L, "roundlevel", rec.corners[0]);
      } else {
        SetTableNumber(L, "cornera", rec.corners[0]);
        SetTableNumber(L, "cornerb", rec.corners[1]);
        SetTableNumber(L, "cornerc", rec.corners[2]);
        SetTableNumber(L, "cornerd", rec.corners[3]);
      }
      break;
    case VL_SHAPE_CIRCLE:
      SetTableNumber(L, "radius", rec.radiusX);
      break;
    case VL_SHAPE_ARC:
      SetTableNumber(L, "startangle", rec.startAngle);
      SetTableNumber(L, "endangle", rec.endAngle);
      SetTableNumber(L, "clockwise", rec.clockwise);
      [[fallthrough]];
    case VL_SHAPE_ELLIPSE:
      SetTableNumber(L, "radiusa", rec.radiusX);
      SetTableNumber(L, "radiusb", rec.radiusY);
      break;
    case VL_SHAPE_LINE:
      SetTableNumber(L, "thickness", rec.thickness);
      SetTableNumber(L, "x1", rec.x + rec.x1);
      SetTableNumber(L, "y1", rec.y + rec.y1);
      SetTableNumber(L, "x2", rec.x + rec.x2);
      SetTableNumber(L, "y2", rec.y + rec.y2);
      break;
    case VL_SHAPE_POLYGON: {
      vl::PushString(L, "vertices");
      vl::PushNewTable(L);
      for (int32_t i = 0; i < rec.vertexCount; i++)
        for (int k = 0; k < 2; k++) {
          vl::PushNumber(L, rec.vertices[2 * i + k] + (k ? rec.y : rec.x));
          vl::RawSetTableIndex(L, -2, 2 * i + k);
        }
      vl::RawSetTableValue(L, -3);
      SetTableNumber(L, "numvertices", rec.vertexCount);
      break;
    }
    default:
      break;
  }
}
