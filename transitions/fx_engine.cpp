// Runs one transition effect: checks the display, resolves the effect id,
// turns the target into pictures and drives the family's frames.
#include "transitions/fx_engine.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "display/bgpic.h"
#include "display/display.h"
#include "display/display_scaling.h"
#include "display/layer_hooks.h"
#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "graphics/position.h"
#include "display/layers/layers.h"
#include "graphics/picture_engines.h"
#include "graphics/presentation.h"
#include "objects/anims/anim.h"
#include "objects/brushes/brush.h"
#include "display/layers/async_draw.h"
#include "display/layers/safe_blt.h"
#include "text/text_objects.h"
#include "transitions/fx_draw.h"
#include "vm/stack_api.h"
#include "platform/event_pump.h"
#include "runtime/run_state.h"
#include "transitions/families/families.h"
#include "vm/error_codes.h"

int32_t vlFxFrameDelayUs = 16667;

namespace {

constexpr vlFxTableRow kCrossfade{StepCrossfade, FreeCrossfadeState};
constexpr vlFxTableRow kFade{StepFade, FreeFadeState};

constexpr auto BuildTable() {
  struct Table {
    vlFxTableRow rows[VL_FX_EFFECTS];
  } t{};
  for (int id = 0; id <= 13; ++id) t.rows[id] = {StepStripes, nullptr};
  for (int id = 14; id <= 23; ++id) t.rows[id] = {StepBlinds, nullptr};
  for (int id = 24; id <= 27; ++id) t.rows[id] = {StepCurtain, nullptr};
  t.rows[28] = {StepBars, nullptr};
  t.rows[29] = {StepQuarters, nullptr};
  for (int id = 30; id <= 33; ++id) t.rows[id] = {StepReveal, nullptr};
  for (int id = 34; id <= 37; ++id) t.rows[id] = {StepLines, nullptr};
  for (int id = 38; id <= 46; ++id) t.rows[id] = {StepRect, nullptr};
  for (int id = 47; id <= 54; ++id) t.rows[id] = {StepScroll, EndScroll};
  for (int id = 55; id <= 69; ++id) t.rows[id] = {StepStretch, nullptr};
  for (int id = 70; id <= 73; ++id) t.rows[id] = {StepFlow, FreeFlowState};
  for (int id = 74; id <= 77; ++id) t.rows[id] = {StepGate, nullptr};
  for (int id = 78; id <= 81; ++id) t.rows[id] = {StepPush, nullptr};
  t.rows[82] = {StepPuzzle, FreePuzzleState};
  t.rows[83] = {StepDiagonal, nullptr};
  for (int id = 88; id <= 96; ++id) t.rows[id] = {StepRectBack, nullptr};
  for (int id = 84; id <= 87; ++id) t.rows[id] = {StepRoll, FreeRollState};
  for (int id = 134; id <= 137; ++id) t.rows[id] = {StepWater, FreeWaterState};
  t.rows[138] = {StepStrudel, FreeStrudelState};
  t.rows[97] = {StepClockWipe, FreeClockWipeState};
  t.rows[98] = {StepStar, FreeStarState};
  t.rows[114] = {StepSun, FreeSunState};
  t.rows[99] = t.rows[100] = {StepStrangePush, FreeStrangePushState};
  for (int id = 101; id <= 104; ++id) t.rows[id] = {StepSlide, nullptr};
  t.rows[105] = {StepSpiral, nullptr};
  t.rows[106] = {StepSwiss, nullptr};
  t.rows[107] = {StepQuadRect, nullptr};
  t.rows[108] = t.rows[109] = {StepSplit, nullptr};
  t.rows[110] = {StepUpAndDown, nullptr};
  t.rows[132] = t.rows[133] = {StepPixelZoom, FreePixelZoomState};
  t.rows[111] = t.rows[112] = {StepCard, nullptr};
  for (int id = 120; id <= 123; ++id) t.rows[id] = {StepCrush, nullptr};
  for (int id = 124; id <= 127; ++id) t.rows[id] = {StepFlipCoin, nullptr};
  for (int id = 128; id <= 131; ++id) t.rows[id] = {StepTurnDown, nullptr};
  t.rows[118] = t.rows[119] = {StepZoomInOut, nullptr};
  t.rows[139] = {StepDissolve, FreeDissolveState};
  t.rows[115] = kCrossfade;
  t.rows[116] = kFade;
  t.rows[117] = kFade;
  return t;
}
constexpr auto kTable = BuildTable();

bool IsBuilt(int32_t id) { return id >= 0 && id < VL_FX_EFFECTS && vlFxTable[id].step; }

}  // namespace

const vlFxTableRow vlFxTable[VL_FX_EFFECTS] = {
#define R(i) kTable.rows[i]
#define R10(i) R(i), R(i + 1), R(i + 2), R(i + 3), R(i + 4), R(i + 5), R(i + 6), R(i + 7), R(i + 8), R(i + 9)
    R10(0),  R10(10), R10(20), R10(30),  R10(40),  R10(50),  R10(60),
    R10(70), R10(80), R10(90), R10(100), R10(110), R10(120), R10(130),
#undef R10
#undef R
};

int32_t ResolveFxSize(int32_t speed, int32_t extent, int32_t dNormal, int32_t dFast, int32_t dSlow) {
  int32_t step = speed;
  if (speed == VL_FX_NORMALSPEED) step = extent / dNormal;
  else if (speed == VL_FX_FASTSPEED) step = extent / dFast;
  else if (speed == VL_FX_SLOWSPEED) step = extent / dSlow;
  return step < 1 ? 1 : step;
}

int32_t StepCount(int32_t extent, int32_t step, int32_t flag) {
  if (extent < 1) return 1;
  if (step < 1) step = 1;
  return (extent + step - 1) / step + (flag == 0 ? 1 : 0);
}

bool IsBGPicOnlyEffect(int32_t id) {
  return (id >= 74 && id <= 81) || (id >= 101 && id <= 104) || id == 111 || id == 112 || (id >= 118 && id <= 131) ||
         id == 133;
}

int32_t ReversedEffect(int32_t id) {
  switch (id) {
    case 24: return 25;
    case 25: return 24;
    case 26: return 27;
    case 27: return 26;
    case 30: return 31;
    case 31: return 30;
    case 32: return 33;
    case 33: return 32;
    default: break;
  }
  if (id >= 38 && id <= 46) return id + 50;
  if (id >= 88 && id <= 96) return id - 50;
  return id;
}

bool IsAlphaBlendingEffect(int32_t id) { return (id >= 115 && id <= 117) || (id >= 134 && id <= 138); }

bool IsStillDrawingEffect(int32_t id) {
  return (id >= 55 && id <= 81) || (id >= 84 && id <= 87) || (id >= 97 && id <= 104) || id == 111 || id == 112 ||
         (id >= 114 && id <= 139);
}

int32_t GetRandomEffect(int32_t excludeBGPicOnly) {
  for (;;) {
    const auto id = static_cast<int32_t>(drand48() * 141.0);
    if (id == 113 || id >= 140) continue;
    if (excludeBGPicOnly && IsBGPicOnlyEffect(id)) continue;
    return id;
  }
}

namespace {

// The end state of a layer target: shown, hidden or removed.
void SettleLayer(vlFxContext* fx, bool refresh) {
  auto* l = static_cast<vlLayer*>(fx->layer);
  if (!l || fx->finished) return;
  vlLayerGeometry* g = l->geometry[2];
  int32_t x = 0, y = 0, w = 0, h = 0;
  GetLayerOuterRect(fx->vm, l, g, &x, &y, &w, &h);
  if (fx->objectType == VL_FX_REMOVELAYER) {
    DeleteLayer(fx->vm, l, 0, nullptr, nullptr, nullptr, nullptr, nullptr, 1);
    fx->layer = nullptr;
  } else {
    l->hidden = fx->objectType == VL_FX_HIDELAYER ? 1 : 0;
    if (refresh) RefreshArea(fx->vm, x, y, w, h);
  }
  if (vlCurrentOutput) vlCurrentOutput->changed = 1;
}

}  // namespace

namespace {

// The layer shows its own pictures again: the working picture goes, the
// caches made from it are dropped and the fades end.
void RestoreLayer(vlFxContext* fx) {
  if (!fx->layerPrepared) return;
  fx->layerPrepared = 0;
  auto* l = static_cast<vlLayer*>(fx->layer);
  if (l) {
    for (vlLayerGeometry* g : l->geometry)
      if (g) g->fxImage = g->fxMask = g->fxAlpha = nullptr;
    FreeLayerBitmaps(l);
    ReleaseLayerGeometryCaches(l);
    l->shadowFade = l->borderFade = 0;
  }
  DeleteBitmap(fx->layerImage);
  DeleteMaskPlane(fx->layerMask);
  DeleteAlphaPlane(fx->layerAlpha);
  fx->layerImage = fx->layerMask = fx->layerAlpha = nullptr;
}

}  // namespace

void FinishFX(vlFxContext* fx, int) {
  if (fx->useCounter && *fx->useCounter) --*fx->useCounter;
  fx->useCounter = nullptr;
  RestoreLayer(fx);
  SettleLayer(fx, fx->layered != 0);
  fx->finished = 1;
}

void FreeFXContext(vlFxContext* fx, int keep) {
  if (!fx) return;
  // At shut-down the brushes go before the drawing objects that use them.
  if (vlShuttingDown) fx->useCounter = nullptr;
  if (fx->useCounter && *fx->useCounter) --*fx->useCounter;
  RestoreLayer(fx);
  if (fx->cleanup && fx->state) fx->cleanup(fx, keep);
  std::free(fx->state);
  if (fx->ownsSource) DeleteBitmap(fx->source);
  if (fx->ownsMask) DeleteMaskPlane(fx->sourceMask);
  if (fx->ownsAlpha) DeleteAlphaPlane(fx->sourceAlpha);
  DeleteBitmap(fx->oldPicture);
  DeleteBitmap(fx->previousScreen);
  DeleteMaskPlane(fx->workMask);
  DeleteAlphaPlane(fx->workAlpha);
  // A layer that was being shown goes back to hidden when the effect stops
  // short of its end.
  if (auto* l = static_cast<vlLayer*>(fx->layer); l && !fx->finished && !keep && fx->objectType == VL_FX_SHOWLAYER) {
    l->hidden = 1;
    vlLayerGeometry* g = l->geometry[2];
    RefreshArea(fx->vm, g->drawnX, g->drawnY, g->drawnWidth, g->drawnHeight);
  } else if (l && !fx->finished && !keep) {
    RefreshArea(fx->vm, l->geometry[2]->drawnX, l->geometry[2]->drawnY, l->geometry[2]->drawnWidth,
                l->geometry[2]->drawnHeight);
  }
  std::free(fx);
}

namespace {

// A brush target that is the brush selected as drawing target (itself,
// its mask or its alpha channel).
bool IsSelectedBrushTarget(const vlFxContext* fx) {
  if (fx->objectType != VL_FX_BRUSH) return false;
  vlBrush* b = nullptr;
  return GetBrushByID(fx->vm, fx->id, &b, 0) == 0 && IsActiveBrush(b);
}

// The drawing-state check; 0 go on, -1 nothing to do, else an error.
// *keepSelect: the selection stays active while the effect runs.
int CheckDrawingState(vlFxContext* fx, vlDisplay* d, bool* keepSelect) {
  *keepSelect = false;
  switch (d->outputType) {
    case VL_OUTPUT_DISPLAY:
      return 0;
    case VL_OUTPUT_BGPIC:
      if (fx->objectType == VL_FX_BGPIC && vlCurrentOutput && vlCurrentOutput->idNumber == fx->id.number && vlCurrentOutput->idHandle == fx->id.handle) return 0;
      // An asynchronous effect may run on the shown BGPic while it is
      // selected; the selection goes on.
      if (fx->async && d->layersOn && vlCurrentOutput == d->bgpic) {
        *keepSelect = true;
        return 0;
      }
      return ERR_SELECTBG;
    case VL_OUTPUT_MASK:
    case VL_OUTPUT_ALPHA:
    case VL_OUTPUT_BRUSH:
      if (IsSelectedBrushTarget(fx)) return 0;
      if (d->outputType == VL_OUTPUT_MASK) return ERR_SELECTMASK;
      if (d->outputType == VL_OUTPUT_ALPHA) return ERR_SELECTALPHACHANNEL;
      if (d->doubleBuffer) return ERR_ENDDOUBLEBUFFER;
      // A frame of an anim is selected through the same output type.
      return vlCurrentOutput && vlCurrentOutput->kind == VL_OBJ_ANIM ? ERR_SELECTANIM : ERR_SELECTBRUSH;
    case VL_OUTPUT_ANIM:
      return ERR_SELECTANIM;
    default:
      return vlRefreshSuspended ? ERR_BEGINREFRESH : -1;
  }
}

bool HasTransparency(const vlBGPic* pic) { return pic->transparentColor != -1 || pic->dispAlpha || pic->dispMask; }

int PrepareBGPic(vlFxContext* fx, vlDisplay* d) {
  vlBGPic* pic = nullptr;
  if (int status = GetBGPicByID(fx->vm, fx->id, &pic, 0)) return status;
  if (HasTransparency(pic) || HasTransparency(d->bgpic)) return ERR_WRONGUSAGE;
  fx->previousBGPic = d->bgpic;
  const int32_t px = fx->bgpicX == 99999 ? 100000 : fx->bgpicX;
  const int32_t py = fx->bgpicY == 99999 ? 100000 : fx->bgpicY;
  vlBitmap* fresh = nullptr;
  vlBitmap* before = nullptr;
  if (int status = ShowBGPicOnDisplay(fx->vm, fx->id, px, py, 1, &fresh, &before)) return status;
  fx->source = fresh;
  fx->ownsSource = 1;
  fx->previousScreen = before;
  fx->width = d->bgpic->dispWidth;
  fx->height = d->bgpic->dispHeight;
  if (!fresh || !before) return ERR_BITMAP;
  // Until the effect draws, the display keeps showing the old screen. Its
  // pictures lie under the sprites, which every frame draws over itself.
  const int32_t bw = std::min(fx->width, static_cast<int32_t>(QueryBitmap(before, 0))), bh = std::min(fx->height, static_cast<int32_t>(QueryBitmap(before, 14)));
  if (d->back) {
    FillBitmapRect(d->back, 0, 0, fx->width, fx->height, 0xFF000000u);
    BltBitmap(before, 0, 0, d->back, 0, 0, bw, bh);
    if (!d->layersOn && d->bgpic->sprites) RedrawLayers(fx->vm, d, d->bgpic, d->back, 0, 0, fx->width, fx->height, 2);
  }
  // The old picture at the new picture's size, black where the old screen
  // was smaller.
  vlBitmap* old = NewBitmap(fx->width, fx->height, 0, nullptr);
  if (!old) return ERR_BITMAP;
  FillBitmapRect(old, 0, 0, fx->width, fx->height, 0xFF000000u);
  BltBitmap(before, 0, 0, old, 0, 0, bw, bh);
  fx->oldPicture = old;
  return 0;
}

// Effects that keep the source's transparency themselves.
bool OwnTransparency(int32_t id) {
  return (id >= 47 && id <= 73) || (id >= 84 && id <= 87) || id == 99 || id == 100 || id == 116 || id == 117 ||
         id == 132 || id == 133;
}

bool NeedsOldPicture(int32_t id, bool layered) {
  if (id == 74 || id == 76 || (id >= 78 && id <= 81) || (id >= 101 && id <= 104) || id == 111 || id == 112 ||
      id == 115 || (id >= 118 && id <= 131) || id == 133)
    return true;
  if (layered) return id == 75 || id == 77;
  return (id >= 55 && id <= 73) || (id >= 84 && id <= 87) || (id >= 97 && id <= 100) || id == 114 || id == 132 || id == 116 ||
         id == 117 || id == 132 || (id >= 134 && id <= 139);
}

// What the screen shows under the effect rectangle drawn into b (of the
// effect's size), black outside it.
void GrabScreenInto(vlFxContext* fx, vlDisplay* d, vlBitmap* b, bool visible, bool showLayer) {
  FillBitmapRect(b, 0, 0, fx->width, fx->height, 0xFF000000u);
  if (visible && d->back && d->layersOn) {
    // The layers draw the screen again, without the effect's own.
    auto* l = static_cast<vlLayer*>(fx->layer);
    const uint32_t hidden = l ? l->hidden : 0;
    if (l) l->hidden = showLayer ? 0 : 1;
    vlRectXYWH r{fx->x, fx->y, fx->width, fx->height};
    if (ClipRectToSize(&r, d->bgpic->dispWidth, d->bgpic->dispHeight))
      RedrawLayers(fx->vm, d, d->bgpic, d->back, r.x, r.y, r.width, r.height, 0);
    if (l) l->hidden = hidden;
  }
  // Without layers the front copy is the picture under the sprites: what
  // the effect draws from it keeps no sprite, neither on the screen (the
  // blits draw the sprites again over it) nor in the front copy.
  vlBitmap* screen = !d->layersOn && d->front ? d->front : d->back;
  if (visible && screen)
    ClipBlitFX(screen, fx->x, fx->y, b, 0, 0, fx->width, fx->height, static_cast<int32_t>(QueryBitmap(screen, 0)),
               static_cast<int32_t>(QueryBitmap(screen, 14)), fx->width, fx->height);
}

// The same into a new bitmap; null when it cannot be made.
vlBitmap* GrabScreen(vlFxContext* fx, vlDisplay* d, bool visible, bool showLayer = false) {
  vlBitmap* b = NewBitmap(fx->width, fx->height, 0, nullptr);
  if (b) GrabScreenInto(fx, d, b, visible, showLayer);
  return b;
}

// The BGPic the effect's layer stands in for; null when it is gone.
vlBGPic* EmulatedBGPic(vlFxContext* fx) {
  vlBGPic* pic = nullptr;
  if (!fx->bgpicEmu || GetBGPicByID(fx->vm, fx->emuBGPic, &pic, 0)) return nullptr;
  return pic;
}

// On a display that scales layers, the emulated BGPic is drawn at the
// scale size like the layers it stands in for: its display copies are made
// at that size when they are not. The display's factors stay those of the
// BGPic it shows.
int ScaleEmulatedBGPic(vlFxContext* fx, vlDisplay* d) {
  vlBGPic* emu = EmulatedBGPic(fx);
  if (!emu || GetDisplayMapping(d).scaling != VL_SCALING_LAYERS) return 0;
  if (emu->dispWidth == d->scaleWidth && emu->dispHeight == d->scaleHeight) return 0;
  const double sx = d->scaleX, sy = d->scaleY;
  const int status = RescaleDisplayBGPic(fx->vm, d, emu, 0);
  d->scaleX = sx;
  d->scaleY = sy;
  return status;
}

// On a display with layers the target becomes a new hidden topmost layer
// showing a copy of the picture's rectangle (sx, sy, width, height), and
// the effect shows that layer.
int AddTargetLayer(vlFxContext* fx, vlDisplay* d, uint32_t type, vlBitmap* bitmap, vlBitmap* mask, vlBitmap* alpha,
                   int32_t sx, int32_t sy) {
  vlBitmap *copy = nullptr, *copyMask = nullptr, *copyAlpha = nullptr;
  if (int status = CopyBitmapRegion(bitmap, mask, alpha, sx, sy, fx->width, fx->height, 0, 0, 0, &copy, &copyMask,
                                    &copyAlpha))
    return status;
  vlLayerGeometry* g = NewLayerGeometry();
  if (!g) {
    DeleteBitmap(copy);
    DeleteMaskPlane(copyMask);
    DeleteAlphaPlane(copyAlpha);
    return ERR_MEM;
  }
  g->x = fx->x, g->y = fx->y, g->width = fx->width, g->height = fx->height;
  vlLayer* layer = nullptr;
  if (int status = AddLayer(fx->vm, type, &fx->id, fx->x, fx->y, fx->width, fx->height, nullptr, nullptr, copy,
                            copyMask, copyAlpha, g, -1, VL_ADDLAYER_HIDDEN | VL_ADDLAYER_DISPLAYSCALED, &layer))
    return status;
  fx->objectType = VL_FX_SHOWLAYER;
  fx->id = {CountLayers(d->bgpic), nullptr};
  return 0;
}

int PrepareBrush(vlFxContext* fx, vlDisplay* d) {
  vlBrush* b = nullptr;
  if (int status = GetBrushByID(fx->vm, fx->id, &b, 0)) return status;
  if (!b->bitmap) return ERR_BRUSHTYPE;
  ++b->locked;
  fx->useCounter = &b->locked;
  fx->width = b->width;
  fx->height = b->height;
  fx->x = FarPosition(ResolvePosX(fx->x, b->width, 0, 0));
  fx->y = FarPosition(ResolvePosY(fx->y, b->height, 0, 0));
  if (d->layersOn) return AddTargetLayer(fx, d, VL_LAYER_BRUSH, b->bitmap, b->mask, b->alpha, 0, 0);
  fx->source = b->bitmap;
  fx->sourceMask = b->mask;
  fx->sourceAlpha = b->alpha;
  return 0;
}

// A text object: at its place plus its drawing offset; with layers a
// hidden layer that refers to the object.
int PrepareTextObject(vlFxContext* fx, vlDisplay* d) {
  vlTextObject* o = nullptr;
  if (int status = GetTextObjectByID(fx->vm, fx->id, &o, 0)) return status;
  if (!o->bitmap) return ERR_BITMAP;
  ++o->locked;
  fx->useCounter = &o->locked;
  fx->width = o->width;
  fx->height = o->height;
  fx->x = FarPosition(int64_t{ResolvePosX(fx->x, o->width, 0, 0)} + o->offsetX);
  fx->y = FarPosition(int64_t{ResolvePosY(fx->y, o->height, 0, 0)} + o->offsetY);
  if (d->layersOn) {
    vlLayerGeometry* g = NewLayerGeometry();
    if (!g) return ERR_MEM;
    g->x = fx->x, g->y = fx->y, g->width = fx->width, g->height = fx->height;
    vlLayer* layer = nullptr;
    if (int status = AddLayer(fx->vm, VL_LAYER_TEXTOBJECT, &fx->id, fx->x, fx->y, fx->width, fx->height, nullptr,
                              nullptr, nullptr, nullptr, nullptr, g, -1, VL_ADDLAYER_HIDDEN | VL_ADDLAYER_DISPLAYSCALED, &layer))
      return status;
    fx->objectType = VL_FX_SHOWLAYER;
    fx->id = {CountLayers(d->bgpic), nullptr};
    return 0;
  }
  fx->source = o->bitmap;
  fx->sourceMask = o->mask;
  fx->sourceAlpha = o->alpha;
  return 0;
}

// A BGPic part: a layer with the "layers" option, else a cut-out picture.
int PreparePart(vlFxContext* fx, vlDisplay* d) {
  vlBGPic* pic = nullptr;
  if (int status = GetBGPicByID(fx->vm, fx->id, &pic, 0)) return status;
  if (fx->useLayers && !d->layersOn) return ERR_WRONGUSAGE;
  ++pic->locked;
  fx->useCounter = &pic->locked;
  vlRectXYWH part{fx->partX, fx->partY, fx->width, fx->height};
  if (!ClipRectToSize(&part, pic->width, pic->height) || part.width < 1 || part.height < 1) return ERR_COORDSRANGE;
  fx->partX = part.x, fx->partY = part.y, fx->width = part.width, fx->height = part.height;
  fx->x = FarPosition(ResolvePosX(fx->x, fx->width, 0, 0));
  fx->y = FarPosition(ResolvePosY(fx->y, fx->height, 0, 0));
  if (fx->useLayers)
    return AddTargetLayer(fx, d, VL_LAYER_BGPICPART, pic->curBitmap, pic->curMask, pic->curAlpha, part.x, part.y);
  vlBitmap *copy = nullptr, *mask = nullptr, *alpha = nullptr;
  if (int status = CopyBitmapRegion(pic->curBitmap, pic->curMask, pic->curAlpha, part.x, part.y, part.width,
                                    part.height, 0, 0, 0, &copy, &mask, &alpha))
    return status;
  fx->source = copy, fx->sourceMask = mask, fx->sourceAlpha = alpha;
  fx->ownsSource = 1, fx->ownsMask = mask != nullptr, fx->ownsAlpha = alpha != nullptr;
  // With layers on, a display that scales them composes its picture at
  // the scale size: the part goes where a layer of it would be.
  const vlDisplayMapping map = GetDisplayMapping(d);
  if (!d->layersOn || map.scaling != VL_SCALING_LAYERS) return 0;
  int32_t w = fx->width, h = fx->height;
  MapRectToPicture(map, &fx->x, &fx->y, &w, &h);
  if (w == fx->width && h == fx->height) return 0;
  vlBitmap *scaled = nullptr, *scaledMask = nullptr, *scaledAlpha = nullptr;
  if (int status = ScaleBitmap(copy, mask, alpha, 0, 0, nullptr, fx->width, fx->height, w, h, d->smoothScale, 0,
                               &scaled, &scaledMask, &scaledAlpha))
    return status;
  if (!scaled) return ERR_BITMAP;
  DeleteBitmap(copy);
  DeleteMaskPlane(mask);
  DeleteAlphaPlane(alpha);
  fx->source = scaled, fx->sourceMask = scaledMask, fx->sourceAlpha = scaledAlpha;
  fx->ownsMask = scaledMask != nullptr, fx->ownsAlpha = scaledAlpha != nullptr;
  fx->width = w, fx->height = h;
  return 0;
}

// An asynchronous effect keeps what it drew so far in planes of its own:
// an alpha plane beside a working alpha plane, else a mask for a masked
// source. 0, 1564 or 1565.
int NewWorkPlanes(vlFxContext* fx) {
  DeleteMaskPlane(fx->workMask);
  DeleteAlphaPlane(fx->workAlpha);
  fx->workMask = fx->workAlpha = nullptr;
  if (!fx->async) return 0;
  if (fx->layerAlpha) {
    if (!(fx->workAlpha = NewAlphaPlane(fx->width, fx->height, 1, nullptr, 0))) return ERR_ALLOCALPHA;
  } else if (fx->sourceMask) {
    if (!(fx->workMask = NewMaskPlane(fx->layerImage, fx->width, fx->height, 1, nullptr, 0))) return ERR_ALLOCMASK;
  }
  return 0;
}

// The working state of a layer whose effect draws into its own picture:
// the layer's picture as it shows now becomes the source, and the layer
// shows an empty working picture (for hiding, a full one) from now on.
int PrepareLayered(vlFxContext* fx, vlDisplay* d, vlLayer* l) {
  vlLayerGeometry* g = l->geometry[2];
  fx->layered = 1;
  fx->layerStyled = l->shadow.on || l->border.on || LayerHasFilters(l->filters);
  fx->x = g->drawnX;
  fx->y = g->drawnY;
  // The border is made from the layer's own pictures before they are
  // replaced.
  int32_t ox = 0, oy = 0, ow = 0, oh = 0;
  GetLayerOuterRect(fx->vm, l, g, &ox, &oy, &ow, &oh);
  vlBitmap *image = nullptr, *mask = nullptr, *alpha = nullptr;
  int32_t iw = 0, ih = 0;
  uint32_t extra = 0;
  if (int status = GetLayerBitmaps(fx->vm, l, g, 0, 1, -1, &image, &mask, &alpha, &iw, &ih, &extra)) return status;
  // The drawn rectangle of the picture, where the redraw takes it from.
  const int32_t px = l->type == VL_LAYER_ANIM ? 0 : g->partX, py = l->type == VL_LAYER_ANIM ? 0 : g->partY;
  const int32_t w = std::min(g->drawnWidth, iw - px), h = std::min(g->drawnHeight, ih - py);
  if (!image || w < 1 || h < 1 || px < 0 || py < 0) return ERR_BITMAP;
  vlBitmap *copy = nullptr, *copyMask = nullptr, *copyAlpha = nullptr;
  if (int status = CopyBitmapRegion(image, mask, alpha, px, py, w, h, 0, 0, 0, &copy, &copyMask, &copyAlpha))
    return status;
  fx->source = copy, fx->sourceMask = copyMask, fx->sourceAlpha = copyAlpha;
  fx->ownsSource = 1, fx->ownsMask = copyMask != nullptr, fx->ownsAlpha = copyAlpha != nullptr;
  fx->width = w;
  fx->height = h;
  if (!(fx->layerImage = NewBitmap(w, h, 0, nullptr))) return ERR_BITMAP;
  const bool blending = IsAlphaBlendingEffect(fx->effect);
  if (fx->sourceAlpha || blending) {
    if (!(fx->layerAlpha = NewAlphaPlane(w, h, 1, nullptr, 0))) return ERR_ALLOCALPHA;
  } else if (!IsBGPicOnlyEffect(fx->effect)) {
    if (!(fx->layerMask = NewMaskPlane(fx->layerImage, w, h, 1, nullptr, 0))) return ERR_ALLOCMASK;
  }
  if (int status = NewWorkPlanes(fx)) return status;
  if (vlBGPic* emu = EmulatedBGPic(fx)) {
    // The layer shows the emulated BGPic as it is now.
    emu->changed = 1;
    RedrawFXDestination(fx, 2);
  }
  if (fx->reverse) {
    // Hiding starts from the whole layer.
    if (blending) {
      BltBitmap(fx->source, 0, 0, fx->layerImage, 0, 0, w, h);
      MakeOpaqueMask(fx, fx->layerAlpha);
    } else {
      BlitIntoLayer(fx, fx->source, fx->sourceMask, fx->sourceAlpha, 0, 0, 0, 0, w, h, VL_FXB_NOSHOW);
    }
    if (fx->workAlpha && blending) MakeOpaqueMask(fx, fx->workAlpha);
  }
  for (vlLayerGeometry* r : l->geometry) {
    if (!r) continue;
    r->fxImage = fx->layerImage, r->fxMask = fx->layerMask, r->fxAlpha = fx->layerAlpha;
  }
  fx->layerPrepared = 1;
  // Caches made from the layer's own pictures would show instead.
  FreeLayerBitmaps(l);
  ReleaseLayerGeometryCaches(l);
  if (d->outputType == VL_OUTPUT_DISPLAY && !l->hidden) RefreshArea(fx->vm, ox, oy, ow, oh);
  return 0;
}

// A layer target. layered: the effect draws into the layer's own picture
// (covered, styled, transparent, clipped or asynchronous layers, layers
// standing in for a BGPic, scaled output); otherwise it draws on the screen
// over the layer's place.
int PrepareLayer(vlFxContext* fx, vlDisplay* d) {
  if (!d->layersOn) return ERR_NOLAYERS;
  vlLayer* l = GetLayerByPos(d->bgpic, fx->id.number);
  if (!l) return ERR_LAYERRANGE;
  if (FindAsyncDrawOwner(l, 0)) return 1371;
  fx->layer = l;
  // A playing video goes on while the effect runs: the command drives an
  // asynchronous effect to its end itself.
  if (l->type == VL_LAYER_VIDEO && gLayerVideoPlaying && gLayerVideoPlaying(fx->vm, l)) fx->async = fx->forcedRun = 1;
  // Changes of the shown BGPic from here on are the script's, made while
  // the layer stands in for another BGPic.
  if (fx->bgpicEmu) d->bgpic->changed = 0;
  if (int status = ScaleEmulatedBGPic(fx, d)) return status;
  vlLayerGeometry* g = l->geometry[2];
  if (fx->isScroll) {
    // The layer itself travels; it goes back to its place at the end.
    GetLayerOuterRect(fx->vm, l, g, &fx->x, &fx->y, &fx->width, &fx->height);
    fx->layerX = l->geometry[0]->x;
    fx->layerY = l->geometry[0]->y;
    if (fx->bgpicEmu) {
      // The travelling layer shows the emulated BGPic in its own picture.
      vlBitmap *image = nullptr, *mask = nullptr, *alpha = nullptr;
      int32_t w = 0, h = 0;
      uint32_t extra = 0;
      if (int status = GetLayerBitmaps(fx->vm, l, g, 0, 1, -1, &image, &mask, &alpha, &w, &h, &extra)) return status;
      fx->source = image, fx->sourceMask = mask, fx->sourceAlpha = alpha;
      if (vlBGPic* emu = EmulatedBGPic(fx)) {
        emu->changed = 1;
        RedrawFXDestination(fx, 2);
      }
    }
    return 0;
  }
  fx->x = g->drawnX;
  fx->y = g->drawnY;
  const bool styled = l->shadow.on || l->border.on || LayerHasFilters(l->filters);
  const bool ownPlanes = fx->reverse && OwnTransparency(fx->effect) && !(fx->effect >= 47 && fx->effect <= 54);
  const bool layered = fx->forceRealtime || fx->async || fx->bgpicEmu || l->transparency || styled ||
                       g->clipRegion || ownPlanes || fx->scaledOutput || !IsLayerUnobscured(d->bgpic, l);
  if (layered) return PrepareLayered(fx, d, l);
  if (!fx->reverse) {
    vlBitmap *image = nullptr, *mask = nullptr, *alpha = nullptr;
    int32_t w = 0, h = 0;
    uint32_t extra = 0;
    if (int status = GetLayerBitmaps(fx->vm, l, g, 1, 1, -1, &image, &mask, &alpha, &w, &h, &extra)) return status;
    if (!image || w < 1 || h < 1) return ERR_BITMAP;
    // Private copies: the layer's caches may be rebuilt while the effect runs.
    vlBitmap *copy = nullptr, *copyMask = nullptr, *copyAlpha = nullptr;
    if (int status = CopyBitmapRegion(image, mask, alpha, 0, 0, w, h, 0, 0, 0, &copy, &copyMask, &copyAlpha))
      return status;
    fx->source = copy, fx->sourceMask = copyMask, fx->sourceAlpha = copyAlpha;
    fx->ownsSource = 1, fx->ownsMask = copyMask != nullptr, fx->ownsAlpha = copyAlpha != nullptr;
    fx->width = w;
    fx->height = h;
  } else {
    // Hiding draws what lies under the layer over it.
    fx->width = g->drawnWidth;
    fx->height = g->drawnHeight;
    if (fx->width < 1 || fx->height < 1) return ERR_BITMAP;
    if (!(fx->source = GrabScreen(fx, d, true))) return ERR_BITMAP;
    fx->ownsSource = 1;
  }
  return 0;
}

// Flattening and the old picture of a target that is drawn onto the
// screen (not a BGPic, not a layer's own image).
int PrepareOnScreen(vlFxContext* fx, vlDisplay* d) {
  const bool visible = fx->x + fx->width >= 1 && fx->y + fx->height >= 1 && fx->x < d->bgpic->dispWidth &&
                       fx->y < d->bgpic->dispHeight;
  if ((fx->sourceMask || fx->sourceAlpha) && !OwnTransparency(fx->effect) && visible) {
    vlBitmap* flat = GrabScreen(fx, d, true);
    if (!flat) return ERR_BITMAP;
    BlitThroughPlanes(fx->source, fx->sourceMask, fx->sourceAlpha, 0, 0, flat, 0, 0, fx->width, fx->height);
    if (fx->ownsSource) DeleteBitmap(fx->source);
    if (fx->ownsMask) DeleteMaskPlane(fx->sourceMask);
    if (fx->ownsAlpha) DeleteAlphaPlane(fx->sourceAlpha);
    fx->source = flat;
    fx->ownsSource = 1;
    fx->sourceMask = fx->sourceAlpha = nullptr;
    fx->ownsMask = fx->ownsAlpha = 0;
  }
  const int32_t id = fx->effect;
  // Hiding mixes or reveals from the screen with the layer on it; a
  // crossfade drawn onto the screen does so too, or it would mix the
  // picture under the layer with itself and drop the layer at once.
  const bool showLayer = fx->reverse && (id == 97 || id == 98 || id == 114 || id == 115 || id == 132 || id == 116 ||
                                         id == 117 || (id >= 134 && id <= 139));
  if (NeedsOldPicture(id, false) && !(fx->oldPicture = GrabScreen(fx, d, visible, showLayer))) return ERR_BITMAP;
  return 0;
}

// The asynchronous drawing object's callbacks.
// The effect's layer takes part in drawing from its first frame on.
void ShowEffectLayer(vlFxContext* fx) {
  if (auto* l = static_cast<vlLayer*>(fx->layer)) l->hidden = l->drawnDuringSelection = 0;
}

int AsyncStep(void* user, int32_t* done) {
  auto* fx = static_cast<vlFxContext*>(user);
  ShowEffectLayer(fx);
  vlBGPic* emu = fx->layerPrepared && !fx->isScroll ? EmulatedBGPic(fx) : nullptr;
  const vlDisplay* d = CurrentDisplay();
  const bool under = emu && fx->oldPicture && d && d->bgpic && d->bgpic->changed;
  if (emu && (emu->changed || under)) {
    // The script drew into the emulated BGPic (or under the layer): what
    // the effect showed so far is drawn again from the new pictures.
    RedrawFXDestination(fx, 3);
    const int32_t frame = fx->frame;
    if (int status = ReplayFX(fx, frame, 1)) return status;
    if (!fx->replaying) PresentFXLayer(fx, VL_FXB_PUSH);
  } else if (fx->layered && fx->layer) {
    // The effect follows a layer that moves meanwhile.
    const vlLayerGeometry* g = static_cast<vlLayer*>(fx->layer)->geometry[2];
    fx->x = g->drawnX;
    fx->y = g->drawnY;
  }
  return fx->step(fx, done);
}
// The last frame of an effect that draws onto the screen, drawn at once:
// the picture through its mask or alpha plane over the old picture, as
// the effects that keep those planes end.
void DrawFinalPicture(vlFxContext* fx) {
  if (!fx->sourceMask && !fx->sourceAlpha) {
    DrawFXPicture(fx, fx->source);
    return;
  }
  vlBitmap* composed = fx->oldPicture ? NewBitmap(fx->width, fx->height, 0, nullptr) : nullptr;
  if (!composed) {
    // Without an old picture what lies under the effect is on the screen.
    DrawFXPart(fx, fx->source, fx->sourceMask, fx->sourceAlpha, 0, 0, fx->width, fx->height, 0, 0, fx->width,
               fx->height);
    return;
  }
  BltBitmap(fx->oldPicture, 0, 0, composed, 0, 0, fx->width, fx->height);
  BlitThroughPlanes(fx->source, fx->sourceMask, fx->sourceAlpha, 0, 0, composed, 0, 0, fx->width, fx->height);
  DrawFXPicture(fx, composed);
  DeleteBitmap(composed);
}

// Finishing before the last frame shows the end at once.
void AsyncFinish(void* user, int32_t done) {
  auto* fx = static_cast<vlFxContext*>(user);
  if (!done && !fx->layer && fx->objectType != VL_FX_BGPIC) {
    if (fx->isScroll) FinishScrollEarly(fx);
    else DrawFinalPicture(fx);
  }
  const bool redraw = !done && fx->layer;
  FinishFX(fx, 1);
  if (redraw && fx->layer) RefreshArea(fx->vm, fx->x, fx->y, fx->width, fx->height);
}
void AsyncRelease(void* user, int32_t done) { FreeFXContext(static_cast<vlFxContext*>(user), done); }
// The effect's layer was drawn anew while the effect owns it: its picture
// is taken again; at another size the family starts over at the same
// share of its frames. 0 or an error.
int LayerChanged(vlFxContext* fx) {
  auto* l = static_cast<vlLayer*>(fx->layer);
  vlLayerGeometry* g = l->geometry[2];
  // The layer's own pictures, not the working one.
  for (vlLayerGeometry* r : l->geometry)
    if (r) r->fxImage = r->fxMask = r->fxAlpha = nullptr;
  vlBitmap *image = nullptr, *mask = nullptr, *alpha = nullptr;
  int32_t iw = 0, ih = 0;
  uint32_t extra = 0;
  int status = GetLayerBitmaps(fx->vm, l, g, 0, 1, -1, &image, &mask, &alpha, &iw, &ih, &extra);
  const int32_t px = l->type == VL_LAYER_ANIM ? 0 : g->partX, py = l->type == VL_LAYER_ANIM ? 0 : g->partY;
  const int32_t w = std::min(g->drawnWidth, iw - px), h = std::min(g->drawnHeight, ih - py);
  vlBitmap *copy = nullptr, *copyMask = nullptr, *copyAlpha = nullptr;
  if (!status && (!image || w < 1 || h < 1 || px < 0 || py < 0)) status = ERR_BITMAP;
  if (!status) status = CopyBitmapRegion(image, mask, alpha, px, py, w, h, 0, 0, 0, &copy, &copyMask, &copyAlpha);
  const bool resized = !status && (w != fx->width || h != fx->height);
  vlBitmap *work = fx->layerImage, *workMask = fx->layerMask, *workAlpha = fx->layerAlpha;
  if (resized) {
    work = NewBitmap(w, h, 0, nullptr);
    workMask = fx->layerMask ? NewMaskPlane(work, w, h, 1, nullptr, 0) : nullptr;
    workAlpha = fx->layerAlpha || copyAlpha ? NewAlphaPlane(w, h, 1, nullptr, 0) : nullptr;
    if (!work || (fx->layerMask && !workMask) || ((fx->layerAlpha || copyAlpha) && !workAlpha)) {
      DeleteBitmap(work);
      DeleteMaskPlane(workMask);
      DeleteAlphaPlane(workAlpha);
      work = fx->layerImage, workMask = fx->layerMask, workAlpha = fx->layerAlpha;
      status = ERR_BITMAP;
    }
  }
  if (status) {
    DeleteBitmap(copy);
    DeleteMaskPlane(copyMask);
    DeleteAlphaPlane(copyAlpha);
  } else {
    if (fx->ownsSource) DeleteBitmap(fx->source);
    if (fx->ownsMask) DeleteMaskPlane(fx->sourceMask);
    if (fx->ownsAlpha) DeleteAlphaPlane(fx->sourceAlpha);
    fx->source = copy, fx->sourceMask = copyMask, fx->sourceAlpha = copyAlpha;
    fx->ownsSource = 1, fx->ownsMask = copyMask != nullptr, fx->ownsAlpha = copyAlpha != nullptr;
    if (resized) {
      DeleteBitmap(fx->layerImage);
      DeleteMaskPlane(fx->layerMask);
      DeleteAlphaPlane(fx->layerAlpha);
      fx->layerImage = work, fx->layerMask = workMask, fx->layerAlpha = workAlpha;
    }
  }
  for (vlLayerGeometry* r : l->geometry)
    if (r) r->fxImage = fx->layerImage, r->fxMask = fx->layerMask, r->fxAlpha = fx->layerAlpha;
  FreeLayerBitmaps(l);
  ReleaseLayerGeometryCaches(l);
  if (status) return status;
  fx->x = g->drawnX;
  fx->y = g->drawnY;
  int32_t toFrame = fx->frame;
  if (resized) {
    const int32_t oldFrame = fx->frame, oldCount = fx->frameCount;
    fx->width = w;
    fx->height = h;
    if (int failed = NewWorkPlanes(fx)) return failed;
    if (fx->cleanup && fx->state) fx->cleanup(fx, 1);
    std::free(fx->state);
    fx->state = nullptr;
    fx->phase = fx->frame = fx->frameCount = 0;
    fx->stepSize = fx->speed;
    int32_t done = 0;
    if (int failed = fx->step(fx, &done)) return failed;
    fx->phase = 1;
    fx->resynced = 1;
    const double share = oldCount > 0 ? static_cast<double>(oldFrame) / oldCount : 0.0;
    toFrame = std::clamp(static_cast<int32_t>(std::rint(share * fx->frameCount)), 1, std::max(fx->frameCount, 1));
  }
  if (vlBGPic* emu = EmulatedBGPic(fx)) {
    // The fresh copy is the layer's own picture; it stands for the BGPic.
    emu->changed = 1;
    RedrawFXDestination(fx, 2);
  }
  const int failed = ReplayFX(fx, toFrame, 1);
  fx->resynced = 0;
  if (failed) return failed;
  if (!fx->replaying) PresentFXLayer(fx, VL_FXB_PUSH);
  return 0;
}

// The effect's layer gives way to a new one at its place (the layer just
// below it): the effect goes on in the new layer.
int LayerReplaced(vlFxContext* fx, vlLayer* old) {
  for (vlLayerGeometry* r : old->geometry)
    if (r) r->fxImage = r->fxMask = r->fxAlpha = nullptr;
  vlLayer* fresh = old;
  TrackDrawnLayer(0, old, &fresh);
  fx->layer = fresh;
  if (!fresh) return 0;
  // The old layer, still above the new one until it goes, must not cover
  // what the effect shows.
  old->hidden = 1;
  if (fx->layered && fx->layerPrepared) return LayerChanged(fx);
  return 0;
}

// The layer on the display as the effect has drawn it so far.
void ShowLayerNow(vlFxContext* fx) {
  auto* l = static_cast<vlLayer*>(fx->layer);
  if (!l) return;
  // An effect drawn onto the screen itself has nothing of the layer to show.
  if (!fx->layered || !fx->layerPrepared) return;
  ShowEffectLayer(fx);
  PresentFXLayer(fx, VL_FXB_PUSH);
}

intptr_t AsyncNotify(int32_t code, void* argument, void* user, intptr_t extra) {
  auto* fx = static_cast<vlFxContext*>(user);
  switch (code) {
    case 0:
      if (argument && argument == fx->layer) return LayerReplaced(fx, static_cast<vlLayer*>(argument));
      return 0;
    case 1:
      if (fx->layered && fx->layerPrepared && argument && argument == fx->layer) return LayerChanged(fx);
      return 0;
    case ADN_FRAMECOUNT: return fx->frameCount;
    case ADN_CURRENTFRAME: return fx->frame;
    case ADN_SEEK: {
      ShowEffectLayer(fx);
      // Shown by the event that follows, unless a selection holds it back.
      return ReplayFX(fx, static_cast<int32_t>(extra), 1);
    }
    case ADN_ADVANCE:
      if (!fx->replaying) ShowLayerNow(fx);
      return 0;
    case ADN_QUERY:
      if (argument && fx->bgpicEmu) *static_cast<intptr_t*>(argument) = reinterpret_cast<intptr_t>(EmulatedBGPic(fx));
      return 0;
    case ADN_DRAWNOBJECT:
      if (argument) *static_cast<void**>(argument) = fx->layer;
      return 0;
    case ADN_STEPPING:
      fx->replaying = argument ? 1 : 0;
      return 0;
    default: return 0;
  }
}

bool StillListed(const vlAsyncDraw* draw) {
  for (const vlAsyncDraw* a = FirstAsyncDraw(); a; a = reinterpret_cast<const vlAsyncDraw*>(a->node.next))
    if (a == draw) return true;
  return false;
}

// The command drives its asynchronous effect to the end itself. On an
// error the drawing object goes together with the context it refers to.
int RunForced(vlFxContext* fx, vlAsyncDraw* draw) {
  for (;;) {
    int error = 0;
    if (PumpEvents(fx->vm, VL_PUMP_WAIT_INPUT, 0, &error)) {
      if (error && StillListed(draw)) CancelAsyncDraw(fx->vm, {static_cast<int32_t>(draw->node.idNumber), draw->node.idHandle});
      return error;
    }
    // Something during the pump (a closed display) ended it already.
    if (!StillListed(draw)) return 0;
    const int32_t finish = draw->done;
    if (int status = RunAsyncDrawStep(fx->vm, draw, finish)) {
      if (StillListed(draw)) CancelAsyncDraw(fx->vm, {static_cast<int32_t>(draw->node.idNumber), draw->node.idHandle});
      return status;
    }
    EndPacedFrame(finish ? 0 : vlFxFrameDelayUs);
    if (finish) return 0;
  }
}

int RunSynchronous(vlFxContext* fx, vlDisplay* d) {
  const bool bgpic = fx->objectType == VL_FX_BGPIC;
  const int32_t w0 = d->bgpic->dispWidth, h0 = d->bgpic->dispHeight;
  int32_t done = 0;
  while (!done) {
    int error = 0;
    if (PumpEvents(fx->vm, VL_PUMP_WAIT_INPUT, 0, &error)) {
      if (error) return error;
      return 0;  // a quit request ends the effect where it is
    }
    if (CurrentDisplay() != d) return 0;
    if ((d->bgpic->dispWidth != w0 || d->bgpic->dispHeight != h0) && !d->autoScale) {
      fx->aborted = 1;
      return 0;
    }
    ShowEffectLayer(fx);
    if (int status = fx->step(fx, &done)) return status;
    if (!done) EndPacedFrame(vlFxFrameDelayUs);
  }
  (void)bgpic;
  FinishFX(fx, 1);
  return 0;
}

}  // namespace

int RunTransitionFX(vlFxContext* tmpl) {
  vlDisplay* d = CurrentDisplay();
  if (!d || !d->bgpic) return ERR_CLOSEDDISPLAY;
  auto* fx = static_cast<vlFxContext*>(std::calloc(1, sizeof(vlFxContext)));
  if (!fx) return ERR_MEM;
  *fx = *tmpl;
  fx->speed = fx->stepSize;
  if (fx->effect == 113) fx->effect = VL_FX_RANDOMEFFECT;
  const int32_t requested = fx->objectType;
  auto fail = [&](int status) {
    // A layer the effect made for its target goes again.
    if (requested != fx->objectType && fx->layer) {
      DeleteLayer(fx->vm, static_cast<vlLayer*>(fx->layer), 0, nullptr, nullptr, nullptr, nullptr, nullptr, 1);
      fx->layer = nullptr;
    }
    FreeFXContext(fx, 0);
    return status;
  };
  // An adapter that cannot end its double buffer leaves the effect nothing
  // to draw on.
  if (d->doubleBuffer)
    if (int status = StopDoubleBuffer(fx->vm, d)) return fail(status);
  bool keepSelect = false;
  if (int status = CheckDrawingState(fx, d, &keepSelect)) return fail(status < 0 ? 0 : status);
  const bool bgpicTarget = fx->objectType == VL_FX_BGPIC;
  if (fx->effect < 0 || fx->effect >= VL_FX_RANDOMEFFECT) {
    // Only the effects this player draws are drawn at random.
    do fx->effect = GetRandomEffect(!bgpicTarget && !fx->bgpicEmu);
    while (!IsBuilt(fx->effect));
  }
  if (!bgpicTarget && IsBGPicOnlyEffect(fx->effect) && !(fx->objectType == VL_FX_SHOWLAYER && fx->bgpicEmu))
    fx->effect = 0;
  if (fx->reverse) fx->effect = ReversedEffect(fx->effect);
  // Refused before anything changes on the display.
  if (!IsBuilt(fx->effect)) return fail(ERR_WRONGUSAGE);
  fx->isScroll = fx->effect >= 47 && fx->effect <= 54;
  const bool layerTarget = fx->objectType == VL_FX_SHOWLAYER || fx->objectType == VL_FX_HIDELAYER ||
                           fx->objectType == VL_FX_REMOVELAYER;
  if (!bgpicTarget && !layerTarget && fx->objectType != VL_FX_BRUSH && fx->objectType != VL_FX_BGPICPART &&
      fx->objectType != VL_FX_TEXTOBJECT)
    return fail(ERR_WRONGUSAGE);
  if (d->outputType != VL_OUTPUT_DISPLAY && !keepSelect) LeaveSelectMode(fx->vm, d, 0);
  fx->scaledOutput = GetDisplayMapping(d).scaling == VL_SCALING_OUTPUT;
  // A display its adapter marked is drawn off screen, each frame shown
  // whole at its end; a layer is then always drawn in its working planes.
  const bool marked = d->styleFlags & VL_DISPSTYLE_ADAPTERCAP2;
  if (marked) fx->forceRealtime = 1;
  if (fx->objectType == VL_FX_BRUSH || fx->objectType == VL_FX_BGPICPART || fx->objectType == VL_FX_TEXTOBJECT) {
    const int status = fx->objectType == VL_FX_BRUSH       ? PrepareBrush(fx, d)
                       : fx->objectType == VL_FX_TEXTOBJECT ? PrepareTextObject(fx, d)
                                                            : PreparePart(fx, d);
    if (status) return fail(status);
  }
  if (bgpicTarget) {
    if (int status = PrepareBGPic(fx, d)) return fail(status);
  } else if (fx->objectType == VL_FX_SHOWLAYER || layerTarget) {
    if (int status = PrepareLayer(fx, d)) return fail(status);
    if (fx->layered) {
      if (NeedsOldPicture(fx->effect, true) && !(fx->oldPicture = GrabScreen(fx, d, true)))
        return fail(ERR_BITMAP);
    } else {
      if (!fx->isScroll)
        if (int status = PrepareOnScreen(fx, d)) return fail(status);
      // On the screen every effect shows its source: for hiding that is
      // what lies under the layer. A scroll moves the layer out instead.
      if (!fx->isScroll) fx->reverse = 0;
    }
  } else if (int status = PrepareOnScreen(fx, d)) {
    return fail(status);
  }
  fx->target = nullptr;
  fx->destWidth = d->bgpic->dispWidth;
  fx->destHeight = d->bgpic->dispHeight;
  fx->blitFlags = fx->scaledOutput ? 0x24 : 4;
  if (d->layersOn && bgpicTarget) fx->blitFlags |= 0x40;
  if (marked) {
    fx->backgroundTarget = 1;
    fx->blitFlags |= VL_SAFEBLT_NOSHOW;
  }
  // What an effect shows on a display without layers stays drawn, as a
  // plain DisplayBrush does: the front copy takes each frame, so a sprite
  // passing, a scaled window's refresh or a snapshot keeps it. A BGPic's
  // own transition ends with its picture copied there whole.
  if (!d->layersOn && !bgpicTarget) fx->blitFlags |= VL_SAFEBLT_KEEP;
  fx->step = vlFxTable[fx->effect].step;
  fx->cleanup = vlFxTable[fx->effect].cleanup;
  fx->phase = 0;
  int32_t done = 0;
  if (int status = fx->step(fx, &done)) return fail(status);
  fx->phase = 1;
  if (fx->async) {
    void* handle = nullptr;
    if (int status = NewAsyncDraw(ADF_FX, AsyncStep, nullptr, AsyncFinish, AsyncRelease, AsyncNotify, fx, &handle))
      return fail(status);
    if (fx->forcedRun) return RunForced(fx, static_cast<vlAsyncDraw*>(handle));
    vl::PushPointer(fx->vm, handle);
    return 1;
  }
  int status = RunSynchronous(fx, d);
  if (status) return fail(status);
  if (fx->aborted && !bgpicTarget) {
    // The BGPic changed its size: the command runs the effect again from
    // the layer as it was.
    tmpl->restart = 1;
    if (auto* l = static_cast<vlLayer*>(fx->layer); l && requested != fx->objectType) {
      DeleteLayer(fx->vm, l, 0, nullptr, nullptr, nullptr, nullptr, nullptr, 1);
      fx->layer = nullptr;
    } else if (l) {
      l->hidden = fx->objectType == VL_FX_SHOWLAYER ? 1 : 0;
      RefreshArea(fx->vm, l->geometry[2]->drawnX, l->geometry[2]->drawnY, l->geometry[2]->drawnWidth,
                  l->geometry[2]->drawnHeight);
    }
  }
  if (bgpicTarget && !fx->aborted && CurrentDisplay() == d && d->back) {
    if (!d->layersOn && d->bgpic->sprites) {
      // The new picture lies under the sprites.
      BltBitmap(fx->source, 0, 0, d->back, 0, 0, fx->width, fx->height);
      RedrawLayers(fx->vm, d, d->bgpic, d->back, 0, 0, fx->width, fx->height, 2);
      UpdateDisplayRect(d->back, 0, 0, d, 0, 0, fx->width, fx->height, 1);
    } else {
      UpdateDisplayRect(fx->source, 0, 0, d, 0, 0, fx->width, fx->height, 1);
      BltBitmap(fx->source, 0, 0, d->back, 0, 0, fx->width, fx->height);
    }
    // Without layers the front copy is the new picture under the sprites.
    vlBitmap* under = d->layersOn ? d->bgpic->dispBitmap : fx->source;
    if (d->front && under) BltBitmap(under, 0, 0, d->front, 0, 0, fx->width, fx->height);
  }
  FreeFXContext(fx, 1);
  // The last frame is on the screen when the command returns.
  EndPacedFrame(0);
  return 0;
}

int ReplayFX(vlFxContext* fx, int32_t toFrame, int keep) {
  int32_t done = 0;
  if (IsStillDrawingEffect(fx->effect)) {
    fx->phase = 2;
    fx->frame = toFrame;
    const int status = fx->step(fx, &done);
    fx->phase = 1;
    return status;
  }
  if (fx->layered && fx->frame == toFrame && !keep) {
    // The layer's picture changed under the effect: its working state is
    // taken from the new source.
    const int32_t w = fx->width, h = fx->height;
    if (fx->layerMask && fx->sourceMask) CopyMaskRegion(fx->sourceMask, 0, 0, fx->layerMask, 0, 0, w, h, 2, nullptr, 0);
    if (fx->layerAlpha && fx->sourceAlpha) CopyAlphaRect(fx->sourceAlpha, 0, 0, fx->layerAlpha, 0, 0, w, h, 0, 0);
    if (fx->layerImage) BltBitmap(fx->source, 0, 0, fx->layerImage, 0, 0, w, h);
    return 0;
  }
  if (fx->layered) {
    // From the state before the first frame: nothing of the layer when
    // showing, all of it when hiding.
    if (fx->reverse)
      BlitIntoLayer(fx, fx->source, fx->sourceMask, fx->sourceAlpha, 0, 0, 0, 0, fx->width, fx->height, VL_FXB_NOSHOW);
    else
      BlitIntoLayer(fx, nullptr, nullptr, nullptr, 0, 0, 0, 0, fx->width, fx->height, VL_FXB_FILL | VL_FXB_NOSHOW);
  }
  fx->replaying = 1;
  fx->frame = 0;
  int status = 0;
  for (int32_t i = 0; i < toFrame && status == 0; ++i) status = fx->step(fx, &done);
  fx->frame = toFrame;
  fx->replaying = 0;
  return status;
}

int RedrawFXDestination(vlFxContext* fx, int which) {
  int served = 0;
  vlDisplay* d = CurrentDisplay();
  if ((which & 1) && d && d->bgpic && d->bgpic->changed && fx->oldPicture) {
    const bool visible = fx->x + fx->width >= 1 && fx->y + fx->height >= 1 && fx->x < d->bgpic->dispWidth &&
                         fx->y < d->bgpic->dispHeight;
    GrabScreenInto(fx, d, fx->oldPicture, visible, false);
    d->bgpic->changed = 0;
    served |= 1;
  }
  if (vlBGPic* pic = (which & 2) && fx->source ? EmulatedBGPic(fx) : nullptr; pic && pic->changed) {
    // The BGPic's own picture and its layers, as it would show on its own;
    // black where it is smaller than the layer.
    FillBitmapRect(fx->source, 0, 0, fx->source->width, fx->source->height, 0xFF000000u);
    // Drawn as the display shows its own BGPic: a display that scales its
    // layers has made this one's display copies at the scale size too.
    const int32_t mode = GetDisplayMapping(d).scaling == VL_SCALING_LAYERS ? 0 : 16;
    RedrawLayers(fx->vm, d, pic, fx->source, 0, 0, fx->source->width, fx->source->height, mode | 1);
    pic->changed = 0;
    served |= 2;
  }
  return served;
}
