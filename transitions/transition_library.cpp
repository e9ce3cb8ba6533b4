// The "transitionfx" command library: showing pictures through effects.
#include "transitions/transition_library.h"

#include "display/bgpic.h"
#include "display/display.h"
#include "display/layers/layers.h"
#include "graphics/bitmap.h"
#include "runtime/error_vm.h"
#include "runtime/errors.h"
#include "runtime/object_data.h"
#include "runtime/objects.h"
#include "runtime/option_readers.h"
#include "transitions/fx_engine.h"
#include "vm/argreaders.h"
#include "vm/auxlib.h"
#include "vm/constants.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"
#include "vm/value.h"

namespace {

bool IsOptionsTable(vlVMState* L, int index) {
  return vl::GetStackTop(L) == index && vl::GetTypeAt(L, index) == VL_TTABLE;
}

// Absent keys keep the field; a wrong type raises its error.
void ReadKey(vlVMState* L, int table, const char* key, int32_t* field) { GetTableInt(L, table, key, field, nullptr); }

void ReadFXOptions(vlVMState* L, int table, vlFxContext* fx) {
  fx->effect = VL_FX_RANDOMEFFECT;
  fx->stepSize = -1;
  fx->parameter = -1;
  fx->undoLevel = 1;
  const struct {
    const char* key;
    int32_t* field;
  } keys[] = {{"type", &fx->effect},          {"speed", &fx->stepSize},
              {"parameter", &fx->parameter},   {"undolevel", &fx->undoLevel},
              {"dx", &fx->x},                  {"dy", &fx->y},
              {"layers", &fx->useLayers},      {"forcerealtimelayers", &fx->forceRealtime},
              {"async", &fx->async},           {"noborderfade", &fx->noBorderFade}};
  for (const auto& k : keys) ReadKey(L, table, k.key, k.field);
}

// The effect, speed and parameter from the options table at index, or
// from the positional arguments from index on; true for the table form.
bool ReadEffectArgs(vlVMState* L, int index, vlFxContext* fx) {
  if (IsOptionsTable(L, index)) {
    ReadFXOptions(L, index, fx);
    return true;
  }
  fx->effect = vl::OptIntArg(L, index, VL_FX_RANDOMEFFECT);
  fx->stepSize = vl::OptIntArg(L, index + 1, -1);
  fx->parameter = vl::OptIntArg(L, index + 2, -1);
  fx->undoLevel = 1;
  return false;
}

int RunLoop(vlFxContext* fx) {
  int status;
  do {
    fx->restart = 0;
    status = RunTransitionFX(fx);
  } while (status == 0 && fx->restart);
  return status;
}

int CmdDisplayTransitionFX(vlVMState* L) {
  CheckArgs(L, 1, 4, 0, 0);
  vlFxContext fx{};
  fx.vm = L;
  fx.objectType = VL_FX_BGPIC;
  GetObjectIDArg(&fx.id, L, 1);
  fx.bgpicX = fx.bgpicY = 99999;
  if (ReadEffectArgs(L, 2, &fx)) {
    if (fx.async) return ERR_WRONGUSAGE;
    ReadKey(L, 2, "x", &fx.bgpicX);
    ReadKey(L, 2, "y", &fx.bgpicY);
  }
  return RunLoop(&fx);
}

// A brush or a text object at x, y.
int DisplayObjectFX(vlVMState* L, int32_t objectType) {
  CheckArgs(L, 3, 6, 0, 0);
  vlFxContext fx{};
  fx.vm = L;
  fx.objectType = objectType;
  GetObjectIDArg(&fx.id, L, 1);
  fx.x = vl::CheckIntArg(L, 2);
  fx.y = vl::CheckIntArg(L, 3);
  ReadEffectArgs(L, 4, &fx);
  return RunLoop(&fx);
}

int CmdDisplayBrushFX(vlVMState* L) { return DisplayObjectFX(L, VL_FX_BRUSH); }
int CmdDisplayTextObjectFX(vlVMState* L) { return DisplayObjectFX(L, VL_FX_TEXTOBJECT); }

int CmdDisplayBGPicPartFX(vlVMState* L) {
  CheckArgs(L, 5, 11, 0, 0);
  vlFxContext fx{};
  fx.vm = L;
  fx.objectType = VL_FX_BGPICPART;
  GetObjectIDArg(&fx.id, L, 1);
  fx.x = fx.partX = vl::CheckIntArg(L, 2);
  fx.y = fx.partY = vl::CheckIntArg(L, 3);
  fx.width = vl::CheckIntArg(L, 4);
  fx.height = vl::CheckIntArg(L, 5);
  if (!ReadEffectArgs(L, 6, &fx)) {
    fx.x = vl::OptIntArg(L, 9, fx.partX);
    fx.y = vl::OptIntArg(L, 10, fx.partY);
    fx.useLayers = vl::OptIntArg(L, 11, 0);
  }
  vlDisplay* d = CurrentDisplay();
  if (fx.useLayers && d && !d->layersOn) return ERR_WRONGUSAGE;
  return RunLoop(&fx);
}

// Shows a temporary BGPic of the current one's size filled with the colour.
int CmdClearScreen(vlVMState* L) {
  CheckArgs(L, 1, 4, 0, 0);
  vlFxContext fx{};
  fx.vm = L;
  fx.objectType = VL_FX_BGPIC;
  fx.bgpicX = fx.bgpicY = 99999;
  fx.effect = vl::CheckIntArg(L, 1);
  const auto colour = static_cast<uint32_t>(vl::OptIntArg(L, 2, 0));
  if (IsOptionsTable(L, 3)) {
    const int32_t effect = fx.effect;
    ReadFXOptions(L, 3, &fx);
    fx.effect = effect;
    if (fx.async) return ERR_WRONGUSAGE;
    ReadKey(L, 3, "x", &fx.bgpicX);
    ReadKey(L, 3, "y", &fx.bgpicY);
  } else {
    fx.stepSize = vl::OptIntArg(L, 3, -1);
    fx.parameter = vl::OptIntArg(L, 4, -1);
    fx.undoLevel = 1;
  }
  vlDisplay* d = CurrentDisplay();
  if (!d || !d->bgpic) return ERR_CLOSEDDISPLAY;
  const int32_t w = d->bgpic->width, h = d->bgpic->height;
  vlBitmap* bitmap = NewBitmap(w, h, 0, nullptr);
  if (!bitmap) return ERR_BITMAP;
  FillBitmapRect(bitmap, 0, 0, w, h, 0xFF000000u | (colour & 0xFFFFFF));
  vlBGPicBackfill backfill{};
  vlBGPic* pic = nullptr;
  fx.id = {0, reinterpret_cast<void*>(1)};
  if (int status = AddBGPic(&fx.id, 0, w, h, w, nullptr, bitmap, nullptr, -1, nullptr, nullptr, &backfill, &pic)) {
    DeleteBitmap(bitmap);
    return status;
  }
  const vlObjectId id = fx.id;
  const int status = RunLoop(&fx);
  FreeBGPicByID(L, id, 0);
  return status;
}

// A layer position from a number or a layer name of the current BGPic.
int LayerPositionArg(vlVMState* L, int index, int32_t* position) {
  const int type = vl::GetTypeAt(L, index);
  if (type == VL_TSTRING) {
    const char* name = vl::ToStringAt(L, index);
    *position = vlCurrentOutput ? FindLayerByName(vlCurrentOutput, name) : 0;
    if (*position) return 0;
    SetErrorArgument(name);
    return ERR_FINDLAYER;
  }
  *position = vl::CheckIntArg(L, index);
  return 0;
}

int LayerFX(vlVMState* L, int32_t objectType) {
  CheckArgs(L, 1, 4, 0, 0);
  vlFxContext fx{};
  fx.vm = L;
  fx.objectType = objectType;
  fx.reverse = objectType != VL_FX_SHOWLAYER;
  if (int status = LayerPositionArg(L, 1, &fx.id.number)) return status;
  if (ReadEffectArgs(L, 2, &fx) && objectType == VL_FX_SHOWLAYER) {
    ReadKey(L, 2, "bgpicemu", &fx.bgpicEmu);
    if (fx.bgpicEmu) {
      int present = 0;
      GetTableObjectID(L, 2, "bgpic", &fx.emuBGPic, &present);
      if (!present) return ERR_MISSINGPARAMTR;
      vlBGPic* pic = nullptr;
      if (int status = GetBGPicByID(L, fx.emuBGPic, &pic, 0)) return status;
      pic->changed = 0;
    }
  }
  return RunLoop(&fx);
}

int CmdShowLayerFX(vlVMState* L) { return LayerFX(L, VL_FX_SHOWLAYER); }
int CmdHideLayerFX(vlVMState* L) { return LayerFX(L, VL_FX_HIDELAYER); }
int CmdRemoveLayerFX(vlVMState* L) { return LayerFX(L, VL_FX_REMOVELAYER); }

// Removes the undoLevel-th most recent layer that shows the object.
int CmdUndoFX(vlVMState* L) {
  CheckArgs(L, 2, 6, 0, 0);
  vlDisplay* d = CurrentDisplay();
  if (!d || !d->layersOn) return ERR_NOLAYERS;
  vlFxContext fx{};
  fx.vm = L;
  fx.objectType = VL_FX_REMOVELAYER;
  fx.reverse = 1;
  fx.undoType = vl::CheckIntArg(L, 1);
  vlObjectId object{};
  GetObjectIDArg(&object, L, 2);
  if (!ReadEffectArgs(L, 3, &fx)) fx.undoLevel = vl::OptIntArg(L, 6, 1);
  int32_t found = 0;
  for (int32_t n = CountLayers(vlCurrentOutput); n >= 1; --n) {
    vlLayer* l = GetLayerByPos(vlCurrentOutput, n);
    if (!l || static_cast<int32_t>(l->type) != fx.undoType || l->source.number != object.number ||
        l->source.handle != object.handle)
      continue;
    if (++found == fx.undoLevel) {
      fx.id = {n, nullptr};
      return RunLoop(&fx);
    }
  }
  return ERR_FINDARRAY;
}

int CmdGetRandomFX(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  const int32_t exclude = vl::CheckIntArg(L, 1);
  vl::PushNumber(L, GetRandomEffect(exclude));
  return 1;
}

const vlCommand kFxCommands[] = {
    {"DisplayBrushFX", CmdDisplayBrushFX},
    {"DisplayTextObjectFX", CmdDisplayTextObjectFX},
    {"DisplayTransitionFX", CmdDisplayTransitionFX},
    {"DisplayBGPicPartFX", CmdDisplayBGPicPartFX},
    {"UndoFX", CmdUndoFX},
    {"ShowLayerFX", CmdShowLayerFX},
    {"HideLayerFX", CmdHideLayerFX},
    {"RemoveLayerFX", CmdRemoveLayerFX},
    {"GetRandomFX", CmdGetRandomFX},
    {"ClearScreen", CmdClearScreen},
    {nullptr, nullptr},
};

const vlConstant kFxConstants[] = {
    {"HSTRIPES", nullptr, 0},
    {"HSTRIPES2", nullptr, 1},
    {"HSTRIPES4", nullptr, 2},
    {"HSTRIPES8", nullptr, 3},
    {"HSTRIPES16", nullptr, 4},
    {"HSTRIPES32", nullptr, 5},
    {"HSTRIPES64", nullptr, 6},
    {"VSTRIPES", nullptr, 7},
    {"VSTRIPES2", nullptr, 8},
    {"VSTRIPES4", nullptr, 9},
    {"VSTRIPES8", nullptr, 10},
    {"VSTRIPES16", nullptr, 11},
    {"VSTRIPES32", nullptr, 12},
    {"VSTRIPES64", nullptr, 13},
    {"HBLINDS8", nullptr, 14},
    {"HBLINDS16", nullptr, 15},
    {"HBLINDS32", nullptr, 16},
    {"HBLINDS64", nullptr, 17},
    {"HBLINDS128", nullptr, 18},
    {"VBLINDS8", nullptr, 19},
    {"VBLINDS16", nullptr, 20},
    {"VBLINDS32", nullptr, 21},
    {"VBLINDS64", nullptr, 22},
    {"VBLINDS128", nullptr, 23},
    {"VOPENCURTAIN", nullptr, 24},
    {"VCLOSECURTAIN", nullptr, 25},
    {"HOPENCURTAIN", nullptr, 26},
    {"HCLOSECURTAIN", nullptr, 27},
    {"BARS", nullptr, 28},
    {"QUARTERS", nullptr, 29},
    {"REVEALLEFT", nullptr, 30},
    {"REVEALRIGHT", nullptr, 31},
    {"REVEALTOP", nullptr, 32},
    {"REVEALBOTTOM", nullptr, 33},
    {"VLINES2", nullptr, 34},
    {"HLINES2", nullptr, 35},
    {"HLINES", nullptr, 36},
    {"VLINES", nullptr, 37},
    {"RECTCENTER", nullptr, 38},
    {"RECTNORTH", nullptr, 39},
    {"RECTNORTHEAST", nullptr, 40},
    {"RECTEAST", nullptr, 41},
    {"RECTSOUTHEAST", nullptr, 42},
    {"RECTSOUTH", nullptr, 43},
    {"RECTSOUTHWEST", nullptr, 44},
    {"RECTWEST", nullptr, 45},
    {"RECTNORTHWEST", nullptr, 46},
    {"SCROLLLEFT", nullptr, 47},
    {"SCROLLWEST", nullptr, 47},
    {"SCROLLRIGHT", nullptr, 48},
    {"SCROLLEAST", nullptr, 48},
    {"SCROLLTOP", nullptr, 49},
    {"SCROLLNORTH", nullptr, 49},
    {"SCROLLBOTTOM", nullptr, 50},
    {"SCROLLSOUTH", nullptr, 50},
    {"SCROLLNORTHEAST", nullptr, 51},
    {"SCROLLSOUTHEAST", nullptr, 52},
    {"SCROLLSOUTHWEST", nullptr, 53},
    {"SCROLLNORTHWEST", nullptr, 54},
    {"STRETCHLEFT", nullptr, 55},
    {"STRETCHRIGHT", nullptr, 56},
    {"STRETCHTOP", nullptr, 57},
    {"STRETCHBOTTOM", nullptr, 58},
    {"HSTRETCHCENTER", nullptr, 59},
    {"VSTRETCHCENTER", nullptr, 60},
    {"ZOOMCENTER", nullptr, 61},
    {"ZOOMNORTH", nullptr, 62},
    {"ZOOMNORTHEAST", nullptr, 63},
    {"ZOOMEAST", nullptr, 64},
    {"ZOOMSOUTHEAST", nullptr, 65},
    {"ZOOMSOUTH", nullptr, 66},
    {"ZOOMSOUTHWEST", nullptr, 67},
    {"ZOOMWEST", nullptr, 68},
    {"ZOOMNORTHWEST", nullptr, 69},
    {"HFLOWTOP", nullptr, 70},
    {"HFLOWBOTTOM", nullptr, 71},
    {"VFLOWLEFT", nullptr, 72},
    {"VFLOWRIGHT", nullptr, 73},
    {"HOPENGATE", nullptr, 74},
    {"HCLOSEGATE", nullptr, 75},
    {"VOPENGATE", nullptr, 76},
    {"VCLOSEGATE", nullptr, 77},
    {"PUSHLEFT", nullptr, 78},
    {"PUSHRIGHT", nullptr, 79},
    {"PUSHTOP", nullptr, 80},
    {"PUSHBOTTOM", nullptr, 81},
    {"PUZZLE", nullptr, 82},
    {"DIAGONAL", nullptr, 83},
    {"ROLLTOP", nullptr, 84},
    {"ROLLLEFT", nullptr, 85},
    {"WALLPAPERTOP", nullptr, 86},
    {"WALLPAPERLEFT", nullptr, 87},
    {"RECTBACKCENTER", nullptr, 88},
    {"RECTBACKNORTH", nullptr, 89},
    {"RECTBACKNORTHEAST", nullptr, 90},
    {"RECTBACKEAST", nullptr, 91},
    {"RECTBACKSOUTHEAST", nullptr, 92},
    {"RECTBACKSOUTH", nullptr, 93},
    {"RECTBACKSOUTHWEST", nullptr, 94},
    {"RECTBACKWEST", nullptr, 95},
    {"RECTBACKNORTHWEST", nullptr, 96},
    {"CLOCKWIPE", nullptr, 97},
    {"STAR", nullptr, 98},
    {"HSTRANGEPUSH", nullptr, 99},
    {"VSTRANGEPUSH", nullptr, 100},
    {"SLIDELEFT", nullptr, 101},
    {"SLIDERIGHT", nullptr, 102},
    {"SLIDETOP", nullptr, 103},
    {"SLIDEBOTTOM", nullptr, 104},
    {"SPIRAL", nullptr, 105},
    {"SWISS", nullptr, 106},
    {"QUADRECT", nullptr, 107},
    {"HSPLIT", nullptr, 108},
    {"VSPLIT", nullptr, 109},
    {"UPNDOWN", nullptr, 110},
    {"CARDTOP", nullptr, 111},
    {"CARDBOTTOM", nullptr, 112},
    {"SUN", nullptr, 114},
    {"CROSSFADE", nullptr, 115},
    {"FADE", nullptr, 116},
    {"BLEND", nullptr, 117},
    {"ZOOMIN", nullptr, 118},
    {"ZOOMOUT", nullptr, 119},
    {"CRUSHLEFT", nullptr, 120},
    {"CRUSHRIGHT", nullptr, 121},
    {"CRUSHTOP", nullptr, 122},
    {"CRUSHBOTTOM", nullptr, 123},
    {"VFLIPCOIN", nullptr, 124},
    {"VLOWFLIPCOIN", nullptr, 125},
    {"HFLIPCOIN", nullptr, 126},
    {"HLOWFLIPCOIN", nullptr, 127},
    {"TURNDOWNTOP", nullptr, 128},
    {"TURNDOWNBOTTOM", nullptr, 129},
    {"TURNDOWNLEFT", nullptr, 130},
    {"TURNDOWNRIGHT", nullptr, 131},
    {"PIXELZOOM1", nullptr, 132},
    {"PIXELZOOM2", nullptr, 133},
    {"WATER1", nullptr, 134},
    {"WATER2", nullptr, 135},
    {"WATER3", nullptr, 136},
    {"WATER4", nullptr, 137},
    {"STRUDEL", nullptr, 138},
    {"DISSOLVE", nullptr, 139},
    {"RANDOMEFFECT", nullptr, 140},
    {"RANDOMPARAMETER", nullptr, -1},
    {nullptr, nullptr, 0},
};

}  // namespace

int OpenTransitionFxLib(vlVMState* L) {
  int top = vl::GetStackTop(L);
  vl::PushSlotCopy(L, vl::kGlobalsIndex);
  vl::RegisterCommands(L, nullptr, kFxCommands, 0);
  vl::SetStackTop(L, top);
  if (int status = RegisterLibrary(kFxCommands, "transitionfx")) return status;
  vl::RegisterConstants(L, kFxConstants, 0);
  return 0;
}
