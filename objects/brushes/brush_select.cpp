// Drawing into brushes: a brush, its mask or its alpha channel selected as
// the target of every drawing command, its planes prepared before the
// first draw, and the mask-mode and alpha-intensity settings.
#include <cstdlib>
#include <initializer_list>
#include <utility>

#include "display/bgpic.h"
#include "display/layer_hooks.h"
#include "display/commands/layers_library.h"
#include "display/layers/layers.h"
#include "display/display.h"
#include "display/layers/safe_blt.h"
#include "graphics/adapter_bitmap.h"
#include "graphics/bitmap.h"
#include "graphics/picture_engines.h"
#include "platform/x11/x11_draw.h"
#include "objects/anims/anim.h"
#include "objects/brushes/brush.h"
#include "objects/brushes/brush_commands.h"
#include "runtime/error_vm.h"
#include "runtime/object_data.h"
#include "runtime/option_readers.h"
#include "runtime/runtime_options.h"
#include "vm/argreaders.h"
#include "vm/convert.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

// The display's current BGPic while a brush, anim frame or BGPic plane is
// selected.
vlBGPic gSelection;
bool gPrepared = false;

bool SameId(vlObjectId a, vlObjectId b) { return a.number == b.number && a.handle == b.handle; }

// What a selection draws into once the checks have passed.
struct Target {
  uint32_t kind;
  void* object;
  int32_t index;
  vlObjectId id;
  vlBitmap* bitmap;
  int32_t width, height;
  uint32_t hardware = 0;  // the picture is a video bitmap
};

// A picture in the adapter's memory is drawn into by the adapter, and only
// when it offers that: its picture, or its mask or alpha channel.
bool AdapterDraws(uint32_t mode) {
  return QueryAdapterCaps(mode == VL_OUTPUT_BRUSH ? VL_ADAPTERCAP_DRAWBRUSH : VL_ADAPTERCAP_DRAWPLANES) != 0;
}

// The checks of each kind of target; nothing changes on the display here.
int FindTarget(vlVMState* L, uint32_t type, vlObjectId id, vlBGPic* pic, uint32_t mode, int32_t frame, Target* t) {
  if (mode != VL_OUTPUT_BRUSH && mode != VL_OUTPUT_MASK && mode != VL_OUTPUT_ALPHA) return ERR_WRONGUSAGE;
  switch (type) {
    case VL_OBJ_BRUSH: {
      vlBrush* b = nullptr;
      if (int status = GetBrushByID(L, id, &b, VL_BRUSH_NOVECTOR | VL_BRUSH_HARDWAREOK)) return status;
      if (!b->bitmap) return ERR_HWBRUSH;
      if (b->hardware && !AdapterDraws(mode)) return ERR_HWBRUSH;
      *t = {VL_OBJ_BRUSH, b, 0, b->id(), b->bitmap, b->width, b->height};
      t->hardware = IsVideoBitmap(b->bitmap);
      return 0;
    }
    case VL_OBJ_ANIM: {
      vlAnim* a = nullptr;
      if (int status = GetAnimByID(L, id, &a, VL_ANIM_NOLAYERCOPY)) return status;
      if (a->disk) return ERR_ANIMDISK;
      if (frame - 1 < 0 || frame - 1 >= a->frameCount) return ERR_ANIMFRAME;
      if (!a->bitmaps || !a->bitmaps[frame - 1]) return kErrFrameLoad;
      *t = {VL_OBJ_ANIM, a, frame - 1, a->id(), a->bitmaps[frame - 1], a->width, a->height};
      return 0;
    }
    case VL_OBJ_BGPIC: {
      if (!pic) return ERR_WRONGUSAGE;
      // A scalable BGPic's picture is made anew from its source.
      if (pic->scalable) return ERR_BGPICTYPE;
      if (DisplayOfBGPic(pic)) return ERR_SELECTBGPIC2;
      if (!pic->loadBitmap) return ERR_BGPICTYPE;
      pic->changed = 0;
      // The planes are drawn as made or loaded; the scaled triples are
      // made again from them when the selection ends, so scaling later
      // keeps what was drawn.
      *t = {VL_OBJ_BGPIC, pic, 0, pic->id(), pic->loadBitmap, pic->loadWidth, pic->loadHeight};
      return 0;
    }
    default:
      return ERR_WRONGUSAGE;
  }
}

// Step two of a selection: the display draws into t from now on.
void EnterTarget(vlDisplay* d, const Target& t, uint32_t mode, int32_t selectMode, int32_t combo) {
  // A hardware target's mask and alpha channel are drawn through its
  // picture.
  InitBGPicRecord(&gSelection, t.kind, t.object, t.index, t.id,
                  mode == VL_OUTPUT_BRUSH || t.hardware ? t.bitmap : nullptr, nullptr, nullptr, t.width, t.height, 1);
  if (d->doubleBuffer) {
    // Drawing into the selection suspends double buffering until it ends.
    d->nestedSelect = 1;
    d->savedOutput = vlCurrentOutput;
    d->savedSelectBitmap = static_cast<vlBitmap*>(d->selectBitmap);
    d->savedHardwareDoubleBuffer = d->hardwareDoubleBuffer;
    d->doubleBuffer = 0;
    d->hardwareDoubleBuffer = 0;
  }
  EnterSelectMode(d, VL_OUTPUT_BRUSH, t.width, &gSelection);
  d->outputType = mode;
  d->outputHardware = t.hardware;
  d->selectBitmap = nullptr;
  d->outputMask = d->outputAlpha = nullptr;
  vlSelectMode = selectMode;
  vlSelectAlphaMode = selectMode == 1 ? combo : 0;
  gPrepared = false;
}

bool IsSelected(const vlDisplay* d, uint32_t mode, uint32_t kind, int32_t index) {
  return d->outputType == mode && vlCurrentOutput == &gSelection && gSelection.kind == kind &&
         gSelection.selectIndex == index;
}

int SelectTarget(vlVMState* L, uint32_t type, vlObjectId id, vlBGPic* pic, uint32_t mode, int32_t frame,
                 int32_t selectMode, int32_t combo) {
  vlDisplay* d = CurrentDisplay();
  if (!d) return ERR_CLOSEDDISPLAY;
  if (pic) id = pic->id();
  if (IsSelected(d, mode, type, type == VL_OBJ_ANIM ? frame - 1 : 0) && SameId(gSelection.id(), id) &&
      (!pic || gSelection.selectObject == pic))
    return 0;
  if (d->outputType != VL_OUTPUT_DISPLAY && CanEndSelection(d)) LeaveSelectMode(L, d, 0);
  Target t{};
  if (int status = FindTarget(L, type, id, pic, mode, frame, &t)) return status;
  EnterTarget(d, t, mode, selectMode, combo);
  return 0;
}

// The picture of a layer selected for drawing; the layer owns it.
vlBitmap* gLayerImage;

// A layer as drawing target: its own picture, or the mask or alpha channel
// that goes with it (in combo mode its source's mask and alpha channel
// too, found at the first draw).
int SelectLayerHandler(vlVMState* L, vlLayer* layer, uint32_t output, int32_t selectMode, int32_t frame,
                       int32_t value, vlBitmap* image, int32_t width, int32_t height) {
  vlDisplay* d = CurrentDisplay();
  if (!d) return ERR_CLOSEDDISPLAY;
  const int32_t index = frame > 0 ? frame - 1 : 0;
  if (IsSelected(d, output, VL_OBJ_LAYER, index) && gSelection.selectObject == layer && gLayerImage == image)
    return 0;
  if (d->outputType != VL_OUTPUT_DISPLAY && CanEndSelection(d)) LeaveSelectMode(L, d, 0);
  if (!image) return ERR_WRONGUSAGE;
  Target t{VL_OBJ_LAYER, layer, index, {0, layer}, image, width, height};
  t.hardware = IsVideoBitmap(image);
  if (t.hardware && !AdapterDraws(output)) return ERR_HWBRUSH;
  gLayerImage = image;
  EnterTarget(d, t, output, selectMode, value);
  return 0;
}

// The layer at a position of the current BGPic as drawing target: its
// picture, mask or alpha channel.
int SelectLayerPlane(vlVMState* L, int32_t position, uint32_t mode, int32_t frame, int32_t selectMode,
                     int32_t combo) {
  vlDisplay* d = CurrentDisplay();
  if (!d) return ERR_CLOSEDDISPLAY;
  if (IsSelected(d, mode, VL_OBJ_LAYER, frame > 0 ? frame - 1 : 0) && gSelection.selectObject &&
      gSelection.selectObject == GetLayerByPos(d->bgpic, position))
    return 0;
  if (d->outputType != VL_OUTPUT_DISPLAY && CanEndSelection(d)) LeaveSelectMode(L, d, 0);
  vlLayer* layer = GetLayerByPos(vlCurrentOutput, position);
  if (!layer) return ERR_LAYERRANGE;
  return SelectLayerAsTarget(L, layer, mode, selectMode, frame, combo);
}

// Makes the plane that mode draws into when there is none yet: a mask with
// every bit set or an alpha channel with every byte 255. Mask and alpha
// channel exclude each other, so the other plane goes.
int MakeTargetPlane(uint32_t mode, vlBitmap* bitmap, int32_t w, int32_t h, vlBitmap** mask, vlBitmap** alpha,
                    int32_t* transparent) {
  if (mode == VL_OUTPUT_MASK && !*mask) {
    vlBitmap* m = NewMaskPlane(bitmap, w, h, 1, nullptr, 0);
    if (!m) return ERR_ALLOCMASK;
    FillMaskRect(m, 0, 0, w, h, 0);
    if (*alpha) DeleteAlphaPlane(*alpha);
    *alpha = nullptr;
    *mask = m;
    if (transparent) *transparent = 0xAFC0DE;
  } else if (mode == VL_OUTPUT_ALPHA && !*alpha) {
    vlBitmap* a = NewAlphaPlane(w, h, 1, nullptr, 0);
    if (!a) return ERR_ALLOCALPHA;
    FillAlphaRect(a, 0, 0, w, h, 255);
    if (*mask) DeleteMaskPlane(*mask);
    *mask = nullptr;
    *alpha = a;
    if (transparent) *transparent = -1;
  }
  return 0;
}

// An anim's per-frame plane array, made on demand.
vlBitmap** FramePlanes(vlBitmap*** planes, int32_t count) {
  if (!*planes) *planes = static_cast<vlBitmap**>(std::calloc(static_cast<size_t>(count), sizeof(vlBitmap*)));
  return *planes;
}

// Drawn in combo mode, a hardware brush with a mask has its alpha bytes
// kept as mask bits, whether selected itself or through a layer showing it.
void NoteComboMask(const vlBrush* b) {
  if (b->hardware && IsVideoBitmap(b->bitmap))
    SetComboMaskTarget(vlSelectMode == 1 && (b->hardwareFlags & 1) ? b->bitmap : nullptr);
}

// A brush's planes made ready for mode.
int PrepareBrushPlanes(vlBrush* b, uint32_t mode, vlBitmap** bitmap, vlBitmap** mask, vlBitmap** alpha) {
  if (mode == VL_OUTPUT_BRUSH) NoteComboMask(b);
  if (b->hardware && IsVideoBitmap(b->bitmap) && mode != VL_OUTPUT_BRUSH) {
    // Its mask and alpha channel are the adapter picture's alpha bytes;
    // the adapter makes them ready, and the brush has the one drawn into.
    IsAdapterBitmapReady(b->bitmap, mode);
    b->hardwareFlags = mode == VL_OUTPUT_MASK ? 1u : 2u;
    *bitmap = b->bitmap;
    return 0;
  }
  if (int status = MakeTargetPlane(mode, b->bitmap, b->width, b->height, &b->mask, &b->alpha, &b->transparentColor))
    return status;
  *bitmap = b->bitmap, *mask = b->mask, *alpha = b->alpha;
  return 0;
}

// Frame i of an anim with its planes made ready for mode.
int PrepareAnimPlanes(vlAnim* a, int32_t i, uint32_t mode, vlBitmap** bitmap, vlBitmap** mask, vlBitmap** alpha) {
  if (a->disk || i < 0 || i >= a->frameCount || !a->bitmaps || !a->bitmaps[i]) return ERR_ANIMFRAME;
  if (mode == VL_OUTPUT_MASK || mode == VL_OUTPUT_ALPHA) {
    if (!FramePlanes(&a->masks, a->frameCount) || !FramePlanes(&a->alphas, a->frameCount))
      return mode == VL_OUTPUT_MASK ? ERR_ALLOCMASK : ERR_ALLOCALPHA;
    if (int status = MakeTargetPlane(mode, a->bitmaps[i], a->width, a->height, &a->masks[i], &a->alphas[i], nullptr))
      return status;
  }
  *bitmap = a->bitmaps[i];
  *mask = a->masks ? a->masks[i] : nullptr;
  *alpha = a->alphas ? a->alphas[i] : nullptr;
  return 0;
}

// A BGPic's current picture with its planes made ready for mode.
int PrepareBGPicPlanes(vlBGPic* pic, uint32_t mode, vlBitmap** bitmap, vlBitmap** mask, vlBitmap** alpha) {
  vlBitmap* oldMask = pic->loadMask;
  vlBitmap* oldAlpha = pic->loadAlpha;
  if (int status = MakeTargetPlane(mode, pic->loadBitmap, pic->loadWidth, pic->loadHeight, &pic->loadMask,
                                   &pic->loadAlpha, &pic->transparentColor))
    return status;
  // The current and display triples take the new planes where they share
  // the loaded picture; a triple of another size is made again when the
  // selection ends.
  const bool curShares = pic->curBitmap == pic->loadBitmap, dispShares = pic->dispBitmap == pic->loadBitmap;
  for (auto [slot, shares] : {std::pair{&pic->curMask, curShares}, std::pair{&pic->dispMask, dispShares}})
    if (shares && *slot == oldMask) *slot = pic->loadMask;
  for (auto [slot, shares] : {std::pair{&pic->curAlpha, curShares}, std::pair{&pic->dispAlpha, dispShares}})
    if (shares && *slot == oldAlpha) *slot = pic->loadAlpha;
  pic->changed = 1;
  *bitmap = pic->loadBitmap, *mask = pic->loadMask, *alpha = pic->loadAlpha;
  return 0;
}

// The layer selected for drawing, when it is still on the display's BGPic.
vlLayer* SelectedLayer() {
  const vlDisplay* d = CurrentDisplay();
  for (vlNode* node = d && d->bgpic ? d->bgpic->layers.head : nullptr; node && node->succ; node = node->succ)
    if (node == gSelection.selectObject) return reinterpret_cast<vlLayer*>(node);
  return nullptr;
}

// The mask or alpha channel of a selected layer: those of the picture the
// layer drew into, its own or its source object's (made private to it when
// it was selected).
int PrepareLayerPlanes(vlVMState* L, vlLayer* layer, uint32_t mode, vlBitmap** bitmap, vlBitmap** mask,
                       vlBitmap** alpha) {
  vlLayerGeometry* g0 = layer->geometry[0];
  if (g0 && g0->image) {
    if (IsVideoBitmap(g0->image)) {
      IsAdapterBitmapReady(g0->image, mode);
      *bitmap = g0->image;
      return 0;
    }
    if (int status = MakeTargetPlane(mode, g0->image, g0->image->width, g0->image->height, &g0->mask, &g0->alpha,
                                     nullptr))
      return status;
    *bitmap = g0->image, *mask = g0->mask, *alpha = g0->alpha;
    return 0;
  }
  switch (layer->type) {
    case VL_LAYER_BRUSH:
    case VL_LAYER_BRUSHPART: {
      vlBrush* b = nullptr;
      if (int status = GetBrushByID(L, layer->source, &b,
                                    VL_BRUSH_FINDORPHANS | VL_BRUSH_NOLAYERCOPY | VL_BRUSH_HARDWAREOK))
        return status;
      return PrepareBrushPlanes(b, mode, bitmap, mask, alpha);
    }
    case VL_LAYER_ANIM: {
      vlAnim* a = nullptr;
      if (int status = GetAnimByID(L, layer->source, &a, VL_ANIM_FINDORPHANS | VL_ANIM_NOLAYERCOPY)) return status;
      return PrepareAnimPlanes(a, gSelection.selectIndex, mode, bitmap, mask, alpha);
    }
    case VL_LAYER_BGPICPART: {
      vlBGPic* pic = nullptr;
      if (int status = GetBGPicByID(L, layer->source, &pic, 2)) return status;
      return PrepareBGPicPlanes(pic, mode, bitmap, mask, alpha);
    }
    default:
      return ERR_WRONGUSAGE;
  }
}

// The planes of a selected object, found again (with the lock check and
// the layer copies) and made ready for mode.
int PrepareObjectPlanes(vlVMState* L, uint32_t mode, vlBitmap** bitmap, vlBitmap** mask, vlBitmap** alpha) {
  switch (gSelection.kind) {
    case VL_OBJ_BRUSH: {
      vlBrush* b = nullptr;
      const vlDisplay* d = CurrentDisplay();
      const uint32_t flags = VL_BRUSH_FINDUNLOCKED | (d && d->outputHardware ? uint32_t{VL_BRUSH_HARDWAREOK} : 0u);
      if (int status = GetBrushByID(L, gSelection.id(), &b, flags)) return status;
      return PrepareBrushPlanes(b, mode, bitmap, mask, alpha);
    }
    case VL_OBJ_ANIM: {
      vlAnim* a = nullptr;
      if (int status = GetAnimByID(L, gSelection.id(), &a, VL_ANIM_FINDUNLOCKED)) return status;
      return PrepareAnimPlanes(a, gSelection.selectIndex, mode, bitmap, mask, alpha);
    }
    case VL_OBJ_BGPIC:
      return PrepareBGPicPlanes(static_cast<vlBGPic*>(gSelection.selectObject), mode, bitmap, mask, alpha);
    case VL_OBJ_LAYER: {
      vlLayer* layer = SelectedLayer();
      if (!layer) return ERR_LAYERRANGE;
      if (mode != VL_OUTPUT_BRUSH) return PrepareLayerPlanes(L, layer, mode, bitmap, mask, alpha);
      *bitmap = gLayerImage;
      *mask = *alpha = nullptr;
      // In combo mode the mask and alpha channel are the ones the layer's
      // source holds now, found again rather than kept from the selection.
      if (vlSelectMode == 1)
        GetLayerSourceMaskAlpha(L, layer, layer->type == VL_LAYER_ANIM ? gSelection.selectIndex : -1, mask, alpha);
      // A layer keeping the adapter's picture of a hardware brush (one
      // freed while shown) draws into it with that brush's plane.
      vlBrush* b = nullptr;
      if (IsVideoBitmap(gLayerImage) && (layer->type == VL_LAYER_BRUSH || layer->type == VL_LAYER_BRUSHPART) &&
          !GetBrushByID(L, layer->source, &b, VL_BRUSH_FINDORPHANS | VL_BRUSH_NOLAYERCOPY | VL_BRUSH_HARDWAREOK) &&
          b->bitmap == gLayerImage)
        NoteComboMask(b);
      return 0;
    }
    default:
      return ERR_WRONGUSAGE;
  }
}

}  // namespace

int SelectDrawTarget(vlVMState* L, uint32_t type, vlObjectId id, uint32_t mode, int32_t frame, int32_t selectMode,
                     int32_t combo) {
  if (type == VL_OBJ_LAYER) return SelectLayerPlane(L, id.number, mode, frame, selectMode, combo);
  return SelectTarget(L, type, id, nullptr, mode, frame, selectMode, combo);
}

int GetSelectTargetBitmaps(vlVMState* L) {
  vlDisplay* d = CurrentDisplay();
  if (!d || vlCurrentOutput != &gSelection || gPrepared) return 0;
  const uint32_t mode = d->outputType;
  if (mode != VL_OUTPUT_BRUSH && mode != VL_OUTPUT_MASK && mode != VL_OUTPUT_ALPHA) return 0;
  vlBitmap *bitmap = nullptr, *mask = nullptr, *alpha = nullptr;
  if (int status = PrepareObjectPlanes(L, mode, &bitmap, &mask, &alpha)) return status;
  if (mode == VL_OUTPUT_MASK) d->outputMask = mask;
  if (mode == VL_OUTPUT_ALPHA) d->outputAlpha = alpha;
  if (mode == VL_OUTPUT_BRUSH || d->outputHardware) {
    gSelection.dispBitmap = gSelection.curBitmap = gSelection.loadBitmap = bitmap;
    if (vlSelectMode == 1) {
      d->outputMask = mask;
      d->outputAlpha = alpha;
    }
  }
  gSelection.curMask = gSelection.dispMask = mask;
  gSelection.curAlpha = gSelection.dispAlpha = alpha;
  gPrepared = true;
  return 0;
}

int CmdSelectBrush(vlVMState* L) {
  CheckArgs(L, 1, 3, 0, 0);
  vlObjectId id;
  GetObjectIDArg(&id, L, 1);
  return SelectDrawTarget(L, VL_OBJ_BRUSH, id, VL_OUTPUT_BRUSH, 0, vl::OptIntArg(L, 2, 0), vl::OptIntArg(L, 3, 0));
}

namespace {

int SelectPlane(vlVMState* L, uint32_t mode) {
  CheckArgs(L, 1, 3, 0, 0);
  const int32_t type = vl::OptIntArg(L, 2, VL_OBJ_BRUSH);
  if (type == VL_OBJ_ANIM && vl::GetStackTop(L) < 3) return EndSelectionAndFail(L, ERR_MISSINGPARAMTR);
  vlObjectId id;
  GetObjectIDArg(&id, L, 1);
  if (type == VL_OBJ_BGPIC) {
    vlBGPic* pic = nullptr;
    if (int status = GetBGPicByID(L, id, &pic, 0)) return EndSelectionAndFail(L, status);
    return SelectTarget(L, VL_OBJ_BGPIC, id, pic, mode, 0, 0, 0);
  }
  if (type != VL_OBJ_BRUSH && type != VL_OBJ_ANIM && type != VL_OBJ_LAYER)
    return EndSelectionAndFail(L, ERR_WRONGUSAGE);
  return SelectDrawTarget(L, static_cast<uint32_t>(type), id, mode, vl::OptIntArg(L, 3, 0), 0, 0);
}

}  // namespace

int CmdSelectMask(vlVMState* L) { return SelectPlane(L, VL_OUTPUT_MASK); }
int CmdSelectAlphaChannel(vlVMState* L) { return SelectPlane(L, VL_OUTPUT_ALPHA); }

int CmdSetMaskMode(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  SetRuntimeOption(L, 4, static_cast<uint32_t>(vl::CheckIntArg(L, 1)), 0u);
  return 0;
}

int CmdSetAlphaIntensity(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  const double level = GetNumberOrPercentArg(L, 1, 255, 0, nullptr);
  if (!(level >= -1 && level <= 255)) return ERR_WRONGUSAGE;  // NaN too
  SetRuntimeOption(L, 6, static_cast<uint32_t>(vl::DoubleToInt32(level)), 0u);
  return 0;
}

namespace {

// SelectBGPic with a mode other than its own: the BGPic's picture, mask or
// alpha channel becomes the target.
int SelectBGPicPlaneHook(vlVMState* L, uint32_t type, vlBGPic* pic, int32_t mode, int32_t frame) {
  return SelectTarget(L, type, {}, pic, static_cast<uint32_t>(mode), frame, 0, 0);
}

}  // namespace

void InstallBrushSelectHooks() {
  gLayerHooks.selectDrawTarget = SelectBGPicPlaneHook;
  SetSelectLayerHandler(SelectLayerHandler);
}
