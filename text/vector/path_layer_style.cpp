// The style keys of path layers (VECTORPATH): a table read into a new path
// record for the layer attribute engine, and the same keys written back
// for GetLayerStyle.
#include "text/vector/path_layer_style.h"

#include <strings.h>

#include <cstring>
#include <vector>

#include "graphics/bitmap.h"
#include "objects/draw/shape_render.h"
#include "runtime/errors.h"
#include "runtime/option_readers.h"
#include "runtime/plugins.h"
#include "text/vector/path_layers.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"
#include "vm/value.h"

namespace {

// "dashes": numbers from index 0 up to the first nil; empty clears them.
int ReadDashes(vlVMState* L, int table, std::vector<double>* dashes, bool* given) {
  vl::PushString(L, "dashes");
  vl::RawGetTableValue(L, table);
  const int type = vl::GetTypeAt(L, -1);
  if (type == VL_TNIL) {
    vl::SetStackTop(L, -2);
    return 0;
  }
  int status = 0;
  std::vector<double> read;
  if (type != VL_TTABLE) {
    status = ERR_NUMTABLEARG;
  } else {
    const int list = vl::GetStackTop(L);
    for (int i = 0;; ++i) {
      vl::RawGetTableIndex(L, list, i);
      const int t = vl::GetTypeAt(L, -1);
      if (t == VL_TNUMBER) read.push_back(vl::ToNumberAt(L, -1));
      vl::SetStackTop(L, -2);
      if (t == VL_TNIL) break;
      if (t != VL_TNUMBER) {
        status = ERR_NUMTABLEARG;
        break;
      }
    }
  }
  vl::SetStackTop(L, -2);
  if (status) {
    SetErrorArgument("dashes");
    return status;
  }
  *dashes = std::move(read);
  *given = true;
  return 0;
}

// The form and fill fields of a path style as the draw state holds them.
vlDrawState FormFill(const vlPathDrawStyle& st) {
  vlDrawState d{};
  d.formStyle = st.formStyle;
  d.fillStyle = st.fillStyle;
  d.gradient = st.gradient;
  d.textureBrush = st.textureBrush;
  d.textureX = st.textureX;
  d.textureY = st.textureY;
  return d;
}

}  // namespace

int ApplyPathLayerStyle(vlVMState* L, vlLayer* layer, vlLayer* copy, int table, uint32_t type, int typeChanged,
                        vlLayerGeometry** record, int* given) {
  *record = nullptr;
  *given = 0;
  if (type != VL_LAYER_VECTORPATH) return ERR_WRONGUSAGE;
  const vlLayerGeometry* g0 = layer->geometry[0];
  vlPathShape shape{};
  std::vector<uint8_t> commands;
  std::vector<double> dashes;
  double matrix[4] = {1, 0, 0, 1};
  if (layer->type == VL_LAYER_VECTORPATH) {
    // The layer's own copy of its path and styles.
    const auto* kept = static_cast<const vlPathLayerGeometry*>(g0);
    shape = kept->shape;
    commands = kept->commands;
    dashes = kept->dashes;
    std::memcpy(matrix, kept->matrix, sizeof matrix);
  } else {
    shape.line = *GetLineState();
    if (shape.line.dashes && shape.line.dashCount)
      dashes.assign(shape.line.dashes, shape.line.dashes + shape.line.dashCount);
    GetPathDrawStyle(&shape.style);
    shape.engine = GetVectorEngine();
  }
  bool any = typeChanged != 0;
  vlObjectId id;
  if (GetTableObjectID(L, table, "id", &id, nullptr)) {
    vlPath* path;
    if (int status = GetPathByID(id, &path)) return status;
    if (path->buffer && path->capacity)
      commands.assign(path->buffer, path->buffer + path->capacity);
    else
      commands.clear();
    shape.path = id;
    any = true;
  } else if (typeChanged) {
    // A path layer cannot be without a path.
    return ERR_MISSINGPARAMTR;
  }
  int32_t v;
  if (GetTableInt(L, table, "color", &v, nullptr)) shape.color = static_cast<uint32_t>(v), any = true;
  vlDrawState form = FormFill(shape.style);
  ReadFormStyleKeys(L, table, &form.formStyle, copy, &any);
  if (int status = ReadFillStyleKeys(L, table, &form, &any)) return status;
  shape.style.formStyle = form.formStyle;
  shape.style.fillStyle = form.fillStyle;
  shape.style.gradient = form.gradient;
  shape.style.textureBrush = form.textureBrush;
  shape.style.textureX = form.textureX;
  shape.style.textureY = form.textureY;
  if (GetTableInt(L, table, "linejoin", &v, nullptr)) shape.line.join = static_cast<uint32_t>(v), any = true;
  if (GetTableInt(L, table, "linecap", &v, nullptr)) shape.line.cap = static_cast<uint32_t>(v), any = true;
  if (GetTableInt(L, table, "fillrule", &v, nullptr)) shape.line.fillRule = static_cast<uint32_t>(v), any = true;
  if (GetTableNumber(L, table, "dashoffset", &shape.line.dashOffset, nullptr)) any = true;
  char name[300];
  int found = 0;
  GetTableString(L, table, "vectorengine", name, sizeof name, &found);
  if (found) {
    vlPluginInfo* engine = FindVectorEngine(name);
    if (!engine) {
      SetErrorArgument(name);
      return ERR_FINDPLUGIN;
    }
    shape.engine = engine;
    any = true;
  }
  if (int status = ReadDashes(L, table, &dashes, &any)) return status;
  if (!any) return 0;

  // Draw once to learn the picture's size; the record keeps its copies.
  shape.commands = commands.empty() ? nullptr : commands.data();
  shape.capacity = static_cast<uint32_t>(commands.size());
  shape.line.dashes = dashes.empty() ? nullptr : dashes.data();
  shape.line.dashCount = static_cast<uint32_t>(dashes.size());
  vlDrawTagPlacement tags{};
  std::memcpy(tags.matrix, matrix, sizeof matrix);
  vlPathPictures made{};
  if (int status = DrawPathObject(L, 0, 0, &shape, &tags, 0, &made)) return status;
  DeleteBitmap(made.picture);
  if (made.alpha) DeleteAlphaPlane(made.alpha);
  vlPathLayerGeometry* g = NewPathLayerGeometry(shape, matrix);
  if (!g) return ERR_MEM;
  g->x = g0->x, g->y = g0->y, g->width = made.width, g->height = made.height;
  *record = g;
  *given = 1;
  return 0;
}

void WritePathLayerStyle(vlVMState* L, vlLayer* layer) {
  const auto* g = static_cast<const vlPathLayerGeometry*>(layer->geometry[0]);
  const vlPathShape& s = g->shape;
  PushTableId(L, "id", s.path);
  SetTableNumber(L, "color", s.color);
  WriteFormFillKeys(L, layer, FormFill(s.style));
  SetTableNumber(L, "linejoin", s.line.join);
  SetTableNumber(L, "linecap", s.line.cap);
  SetTableNumber(L, "fillrule", s.line.fillRule);
  SetTableNumber(L, "dashoffset", s.line.dashOffset);
  const char* engine = "default";
  if (s.engine && !IsBuiltinVectorEngine(s.engine))
    for (vlPlugin* p = FirstPlugin(); p; p = p->next)
      if (p->handle && p->handle->info == s.engine) engine = p->name;
  SetTableString(L, "vectorengine", engine);
  vl::PushString(L, "dashes");
  vl::PushNewTable(L);
  for (size_t i = 0; i < g->dashes.size(); ++i) {
    vl::PushNumber(L, g->dashes[i]);
    vl::RawSetTableIndex(L, -2, static_cast<int>(i));
  }
  vl::RawSetTableValue(L, -3);
}
