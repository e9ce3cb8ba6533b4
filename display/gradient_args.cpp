// Reading gradient descriptions: types, angle, centre, balance, border and
// the colour-stop list.
#include "display/gradient_args.h"

#include <string>

#include "display/bgpic.h"
#include "runtime/option_readers.h"
#include "graphics/gradient_render.h"
#include "vm/argreaders.h"
#include "vm/auxlib.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

void MapType(vlGradientDesc* g) {
  if (g->type == 0) {
    g->type = 2;
    g->angle = 0;
  } else if (g->type == 1) {
    g->type = 2;
    g->angle = 90;
  }
}

int ReadStops(vlVMState* L, int table, const char* key, vlGradientDesc* g) {
  vl::PushString(L, key);
  vl::GetTableValue(L, table);
  int type = vl::GetTypeAt(L, -1);
  if (type == VL_TNIL) {
    vl::SetStackTop(L, -2);
    return 0;
  }
  if (type != VL_TTABLE) {
    vl::SetStackTop(L, -2);
    return ERR_TABLEORNIL;
  }
  int list = vl::GetStackTop(L);
  int status = 0;
  uint32_t pairs = 0;
  for (int i = 0;; i += 2) {
    vl::RawGetTableIndex(L, list, i);
    if (vl::GetTypeAt(L, -1) == VL_TNIL) break;
    int code = 0;
    double color = vl::GetCallbackNumber(L, -1, &code);
    if (code) {
      status = ERR_NUMTABLEARG;
      break;
    }
    vl::RawGetTableIndex(L, list, i + 1);
    if (vl::GetTypeAt(L, -1) == VL_TNIL) {
      status = ERR_MISSINGPARAMTR;
      break;
    }
    double position = vl::GetCallbackNumber(L, -1, &code);
    if (code) {
      status = ERR_NUMTABLEARG;
      break;
    }
    if (position < 0 || position > 1) {
      status = ERR_WRONGUSAGE;
      break;
    }
    if (pairs >= static_cast<uint32_t>(kVlMaxGradientStops)) {
      status = ERR_INTERNAL;
      break;
    }
    g->stops[pairs].color = static_cast<uint32_t>(vl::NumberToArgInt(color));
    g->stops[pairs].position = position;
    ++pairs;
    vl::SetStackTop(L, list);
  }
  vl::SetStackTop(L, list - 1);
  if (status) return status;
  if (pairs == 1) return ERR_WRONGUSAGE;
  g->stopCount = static_cast<int32_t>(pairs);
  return 0;
}

}  // namespace

int ReadGradientTable(vlVMState* L, int table, vlGradientDesc* g, int prefixed) {
  if (table < 0) table = vl::GetStackTop(L) + table + 1;
  std::string p = prefixed ? "gradient" : "";
  int32_t v;
  if (prefixed) {
    if (GetTableInt(L, table, "gradientstyle", &v, nullptr)) {
      g->type = static_cast<uint32_t>(v);
      MapType(g);
    }
    if (GetTableInt(L, table, "gradientstartcolor", &v, nullptr)) g->startColor = static_cast<uint32_t>(v);
    if (GetTableInt(L, table, "gradientendcolor", &v, nullptr)) g->endColor = static_cast<uint32_t>(v);
    GetTableInt(L, table, "gradientangle", &g->angle, nullptr);
  }
  double* fields[4] = {&g->centerX, &g->centerY, &g->balance, &g->border};
  const char* names[4] = {"centerx", "centery", "balance", "border"};
  for (int i = 0; i < 4; ++i) {
    double value;
    if (!GetTableNumber(L, table, (p + names[i]).c_str(), &value, nullptr)) continue;
    if ((g->type == 3 || g->type == 4) && (value < 0 || value > 1)) return ERR_WRONGUSAGE;
    *fields[i] = value;
  }
  return ReadStops(L, table, (p + "colors").c_str(), g);
}

int ReadGradientArgs(vlVMState* L, int typeIndex, int angleIndex, int tableIndex, vlGradientDesc* g) {
  *g = vlGradientDesc{};
  g->type = static_cast<uint32_t>(vl::CheckIntArg(L, typeIndex));
  g->startColor = static_cast<uint32_t>(vl::CheckIntArg(L, typeIndex + 1));
  g->endColor = static_cast<uint32_t>(vl::CheckIntArg(L, typeIndex + 2));
  const uint32_t given = g->type;
  MapType(g);
  if ((given == 2 || given == 4) && angleIndex) g->angle = vl::OptIntArg(L, angleIndex, g->angle);
  if (tableIndex && vl::GetTypeAt(L, tableIndex) == VL_TTABLE) return ReadGradientTable(L, tableIndex, g, 0);
  return 0;
}

void DefaultPictureSize(int* width, int* height) {
  *width = vlCurrentOutput ? vlCurrentOutput->width : 640;
  *height = vlCurrentOutput ? vlCurrentOutput->height : 480;
}

int ReadGradientImageArgs(vlVMState* L, int widthIndex, int typeIndex, int angleIndex, int* width, int* height,
                          vlGradientDesc* g) {
  DefaultPictureSize(width, height);
  *width = vl::OptIntArg(L, widthIndex, *width);
  *height = vl::OptIntArg(L, widthIndex + 1, *height);
  if (*width < 1 || *height < 1) return ERR_BADDIMENSIONS;
  return ReadGradientArgs(L, typeIndex, angleIndex, angleIndex + 1, g);
}
