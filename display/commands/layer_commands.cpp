// Layers-library commands that create layers, make one the drawing target,
// style them through the attribute engine and control video layers.
#include <cmath>
#include <cstring>

#include "display/bgpic.h"
#include "display/layers/async_draw.h"
#include "display/commands/anim_layers.h"
#include "display/commands/layer_commands.h"
#include "display/commands/layers_library.h"
#include "display/layers/layers.h"
#include "graphics/bitmap.h"
#include "graphics/position.h"
#include "runtime/error_vm.h"
#include "runtime/errors.h"
#include "runtime/object_data.h"
#include "runtime/option_readers.h"
#include "runtime/script_version.h"
#include "vm/argreaders.h"
#include "vm/auxlib.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"
#include "vm/value.h"

namespace {

vlSelectLayerFn gSelectLayer;

// The prologue of single-layer commands: the layer, then the display state.
int LayerCommand(vlVMState* L, int index, vlLayer** out) { return GetLayerCommandArgs(L, index, 1, out); }

// The layer at index 1 and a fresh table on top, for the shorthands.
int RunStyleTable(vlVMState* L) { return SetLayerStylePairsAt(L, vl::GetStackTop(L) - 1, 2, 0); }

void PushLayerAndTable(vlVMState* L) {
  vl::PushSlotCopy(L, 1);
  vl::PushNewTable(L);
}

// The optional smooth argument, read before anything is pushed: -1 absent.
int32_t SmoothArg(vlVMState* L, int index) {
  return vl::GetTypeAt(L, index) > VL_TNIL ? (vl::CheckIntArg(L, index) != 0) : -1;
}

void SetSmooth(vlVMState* L, int32_t smooth) {
  if (smooth >= 0) SetTableNumber(L, "smoothscale", smooth);
}

// Copies argument index into the table on top under key.
void CopyArgToKey(vlVMState* L, int index, const char* key) {
  vl::PushString(L, key);
  vl::PushSlotCopy(L, index);
  vl::RawSetTableValue(L, -3);
}

int VideoCommand(vlVMState* L, int32_t op, double argument) {
  vlLayer* layer;
  if (int status = LayerCommand(L, 1, &layer)) return status;
  if (layer->type != VL_LAYER_VIDEO) return ERR_BADLAYERTYPE;
  const vlLayerSource* source = FindLayerSource(VL_LAYER_VIDEO);
  if (!source || !source->control) return ERR_BADLAYERTYPE;
  return source->control(L, layer, op, argument);
}

}  // namespace

void SetSelectLayerHandler(vlSelectLayerFn fn) { gSelectLayer = fn; }

int InsertObjectLayer(vlVMState* L, int32_t position, uint32_t type, vlObjectId id, int32_t x, int32_t y,
                      int noDraw, int hidden, vlLayer** result) {
  if (int status = CheckLayerCommand()) return status;
  if (position < 0) return ERR_INVINSERT;
  vlBGPic* pic = vlCurrentOutput;
  int32_t count = CountLayers(pic);
  if (position == 0 || position > count + 1) position = count + 1;
  if (type == VL_LAYER_VIDEO && !CheckScriptVersion(6, 0)) return ERR_OLDAPPLET;
  if (type != VL_LAYER_BRUSH && type != VL_LAYER_ANIM && type != VL_LAYER_TEXTOBJECT && type != VL_LAYER_VIDEO)
    return ERR_WRONGUSAGE;
  const vlLayerSource* source = FindLayerSource(type);
  if (!source || !source->insert) return ERR_WRONGUSAGE;
  vlLayer* layer = nullptr;
  uint32_t flags = (hidden ? 7u : 6u) | (noDraw ? uint32_t{VL_ADDLAYER_NOSHOW} : 0u);
  if (int status = source->insert(L, id, x, y, position, flags, &layer)) return status;
  layer = GetLayerByPos(pic, position);
  if (!layer) return ERR_LAYERRANGE;
  if (result) *result = layer;
  return 0;
}

int RemoveUndoLayer(vlVMState* L, uint32_t type, vlObjectId id, int32_t level, int noRefresh, vlRectXYWH* removed) {
  vlBGPic* pic = vlCurrentOutput;
  if (pic) pic->changed = 1;
  if (int status = CheckLayerCommand()) return status;
  if (level < 1) return 0;
  // The most recent layers are the topmost.
  for (vlNode* n = pic->layers.tailPred; n->pred; n = n->pred) {
    auto* l = reinterpret_cast<vlLayer*>(n);
    if (l->type != type || l->creationId.number != id.number || l->creationId.handle != id.handle) continue;
    if (--level) continue;
    if (FindAsyncDrawOwner(l, 0)) return ERR_REMADLAYER;
    vlRectXYWH r{};
    DeleteLayer(L, l, noRefresh, &r.x, &r.y, &r.width, &r.height, nullptr, 1);
    if (removed) *removed = r;
    pic->changed = 1;
    return 0;
  }
  return 0;
}

int CmdCreateLayer(vlVMState* L) {
  CheckArgs(L, 4, 5, 0, 0);
  if (int status = CheckLayerCommand()) return status;
  int32_t x = vl::CheckIntArg(L, 1), y = vl::CheckIntArg(L, 2);
  int32_t w = vl::CheckIntArg(L, 3), h = vl::CheckIntArg(L, 4);
  int alpha = 0, mask = 0, clear = 0;
  int32_t color = 0, frames = 0;
  if (vl::GetTypeAt(L, 5) > VL_TNIL) {
    vl::CheckTableArg(L, 5);
    GetTableBool(L, 5, "alphachannel", &alpha, nullptr);
    GetTableBool(L, 5, "mask", &mask, nullptr);
    GetTableBool(L, 5, "clear", &clear, nullptr);
    GetTableInt(L, 5, "color", &color, nullptr);
    GetTableInt(L, 5, "frames", &frames, nullptr);
  }
  if (frames < 0 || (mask && alpha)) return ERR_WRONGUSAGE;
  if (w < 1 || h < 1) return ERR_BADDIMENSIONS;
  vlLayer* layer = nullptr;
  // The object libraries make a real brush or anim for the layer.
  const vlLayerSource* source = FindLayerSource(frames ? VL_LAYER_ANIM : VL_LAYER_BRUSH);
  if (source && source->createBlank)
    return source->createBlank(L, x, y, w, h, static_cast<uint32_t>(color), mask, alpha, clear, frames, &layer);
  if (frames) return ERR_WRONGUSAGE;
  // Without the brush library: a blank picture nothing else can name, which
  // the layer owns as its given picture and which goes with the layer.
  vlBitmap* image = NewBitmap(w, h, 0, nullptr);
  if (!image) return ERR_BITMAP;
  FillBitmapRect(image, 0, 0, w, h, 0xFF000000u | static_cast<uint32_t>(color));
  vlBitmap *maskPlane = nullptr, *alphaPlane = nullptr;
  if (mask) {
    if (!(maskPlane = NewMaskPlane(image, w, h, 1, nullptr, 0))) {
      DeleteBitmap(image);
      return ERR_ALLOCMASK;
    }
    if (!clear) FillMaskRect(maskPlane, 0, 0, w, h, 0);
  } else if (alpha) {
    if (!(alphaPlane = NewAlphaPlane(w, h, 1, nullptr, 0))) {
      DeleteBitmap(image);
      return ERR_ALLOCALPHA;
    }
    FillAlphaRect(alphaPlane, 0, 0, w, h, clear ? 0 : 255);
  }
  vlBGPic* pic = vlCurrentOutput;
  x = ResolvePosX(x, w, pic->width, 0);
  y = ResolvePosY(y, h, pic->height, 0);
  vlLayerGeometry* g = NewLayerGeometry();
  if (g) g->x = x, g->y = y, g->width = w, g->height = h;
  return AddLayer(L, VL_LAYER_BRUSH, nullptr, x, y, w, h, nullptr, nullptr, image, maskPlane, alphaPlane, g, -1,
                  VL_ADDLAYER_DISPLAYSCALED, &layer);
}

int CmdInsertLayer(vlVMState* L) {
  CheckArgs(L, 5, 6, 0, 0);
  int32_t position = vl::CheckLayerPositionArg(L, 1);
  auto type = static_cast<uint32_t>(vl::CheckIntArg(L, 2));
  vlObjectId id;
  GetObjectIDArg(&id, L, 3);
  int32_t x = vl::CheckIntArg(L, 4), y = vl::CheckIntArg(L, 5);
  int hidden = vl::OptIntArg(L, 6, 0) != 0;
  return InsertObjectLayer(L, position, type, id, x, y, 0, hidden, nullptr);
}

int SelectLayerAsTarget(vlVMState* L, vlLayer* layer, uint32_t output, int32_t selectMode, int32_t frame,
                        int32_t value) {
  if (layer->type == VL_LAYER_ANIM) {
    if (frame == 0) return ERR_MISSINGPARAMTR;
    if (gAnimLayerOps.checkDrawable)
      if (int status = gAnimLayerOps.checkDrawable(L, layer)) return status;
    vlBitmap *image, *mask, *alpha;
    int32_t w, h;
    uint32_t count = 0;
    if (int status = GetLayerBitmaps(L, layer, layer->geometry[0], 0, 0, -1, &image, &mask, &alpha, &w, &h, &count))
      return status;
    if (frame < 1 || frame > static_cast<int32_t>(count)) return ERR_ANIMFRAME;
  } else if (frame != 0) {
    return ERR_NOANMLAYER;
  }
  vlBitmap *image, *mask, *alpha;
  int32_t w, h;
  if (int status = FlattenLayerToImage(L, layer, layer->type == VL_LAYER_ANIM ? frame - 1 : -1, &image, &mask,
                                       &alpha, &w, &h))
    return status;
  if (!gSelectLayer) return ERR_WRONGUSAGE;
  return gSelectLayer(L, layer, output, selectMode, frame, value, image, w, h);
}

int CmdSelectLayer(vlVMState* L) {
  CheckArgs(L, 1, 4, 0, 0);
  vlLayer* layer;
  if (int status = LayerCommand(L, 1, &layer)) return status;
  return SelectLayerAsTarget(L, layer, VL_OUTPUT_BRUSH, vl::OptIntArg(L, 2, 0), vl::OptIntArg(L, 3, 0),
                             vl::OptIntArg(L, 4, 0));
}

int CmdSetLayerStyle(vlVMState* L) {
  CheckArgs(L, 2, 0, 0, 0);
  return SetLayerStylePairs(L, vl::GetStackTop(L), 0);
}

int CmdGetLayerStyle(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  vlDisplay* d = CurrentDisplay();
  if (!d) return ERR_NOLAYERS;
  // While an object, a mask or an alpha channel is the drawing target the
  // shown BGPic's layers answer. The selection switches layers off while
  // it lasts, so what counts is whether they were on when it began.
  const bool selected =
      d->outputType == VL_OUTPUT_BRUSH || d->outputType == VL_OUTPUT_MASK || d->outputType == VL_OUTPUT_ALPHA;
  const bool layers = selected ? d->selectEntered && d->savedLayersOn : d->layersOn != 0;
  if (!layers) return ERR_NOLAYERS;
  vlLayer* layer;
  vlBGPic* pic = selected ? d->bgpic : vlCurrentOutput;
  int status = GetLayerArgIn(L, 1, pic, &layer);
  if (!status) GetLayerStyleTable(L, layer, pic);
  return status ? status : 1;
}

int CmdSetLayerTransparency(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  PushLayerAndTable(L);
  CopyArgToKey(L, 2, "transparency");
  return RunStyleTable(L);
}

int CmdSetLayerTint(vlVMState* L) {
  CheckArgs(L, 3, 3, 0, 0);
  PushLayerAndTable(L);
  CopyArgToKey(L, 2, "tintcolor");
  CopyArgToKey(L, 3, "tint");
  return RunStyleTable(L);
}

int CmdScaleLayer(vlVMState* L) {
  CheckArgs(L, 3, 4, 0, 0);
  int32_t smooth = SmoothArg(L, 4);
  PushLayerAndTable(L);
  CopyArgToKey(L, 2, "width");
  CopyArgToKey(L, 3, "height");
  SetSmooth(L, smooth);
  return RunStyleTable(L);
}

int CmdRotateLayer(vlVMState* L) {
  CheckArgs(L, 2, 3, 0, 0);
  int32_t smooth = SmoothArg(L, 3);
  PushLayerAndTable(L);
  CopyArgToKey(L, 2, "rotate");
  SetSmooth(L, smooth);
  return RunStyleTable(L);
}

int CmdTransformLayer(vlVMState* L) {
  CheckArgs(L, 5, 6, 0, 0);
  int32_t smooth = SmoothArg(L, 6);
  double m[4];
  for (int i = 0; i < 4; i++) m[i] = vl::CheckNumberArg(L, 2 + i);
  PushLayerAndTable(L);
  vl::PushString(L, "transform");
  vl::PushNewTable(L);
  for (int i = 0; i < 4; i++) {
    vl::PushNumber(L, m[i]);
    vl::RawSetTableIndex(L, -2, i);
  }
  vl::RawSetTableValue(L, -3);
  SetSmooth(L, smooth);
  return RunStyleTable(L);
}

int CmdSetLayerAnchor(vlVMState* L) {
  CheckArgs(L, 3, 3, 0, 0);
  PushLayerAndTable(L);
  CopyArgToKey(L, 2, "anchorx");
  CopyArgToKey(L, 3, "anchory");
  return RunStyleTable(L);
}

int CmdSetLayerFilter(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  if (vl::GetTypeAt(L, 2) == VL_TNUMBER) {
    if (vl::ToNumberAt(L, 2) != 0) return ERR_WRONGUSAGE;
    PushLayerAndTable(L);
    SetTableNumber(L, "clearfilters", 1);
    return RunStyleTable(L);
  }
  vl::CheckTableArg(L, 2);
  PushLayerAndTable(L);
  CopyArgToKey(L, 2, "filters");
  return RunStyleTable(L);
}

int CmdPlayLayer(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  return VideoCommand(L, VL_LAYERVIDEO_PLAY, 0);
}
int CmdStopLayer(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  return VideoCommand(L, VL_LAYERVIDEO_STOP, 0);
}
int CmdPauseLayer(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  return VideoCommand(L, VL_LAYERVIDEO_PAUSE, 0);
}
int CmdResumeLayer(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  return VideoCommand(L, VL_LAYERVIDEO_RESUME, 0);
}
int CmdSeekLayer(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  return VideoCommand(L, VL_LAYERVIDEO_SEEK, vl::CheckIntArg(L, 2));
}
int CmdSetLayerVolume(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  double volume = GetNumberOrPercentArg(L, 2, 64, 1, nullptr);
  volume = std::fmax(0.0, std::fmin(64.0, volume));
  return VideoCommand(L, VL_LAYERVIDEO_VOLUME, volume);
}
