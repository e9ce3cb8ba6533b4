// Drawing into brushes: a brush, its mask or its alpha channel selected as
// the target of every drawing command, its planes prepared before the
// first draw, and the mask-mode and alpha-intensity settings.
#include "display/bgpic.h"
#include "display/display.h"
#include "display/safe_blt.h"
#include "graphics/bitmap.h"
#include "graphics/picture_engines.h"
#include "objects/brushes/brush.h"
#include "objects/brushes/brush_commands.h"
#include "runtime/error_vm.h"
#include "runtime/object_data.h"
#include "runtime/option_readers.h"
#include "runtime/runtime_options.h"
#include "vm/argreaders.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

// The display's current BGPic while a brush is selected.
vlBGPic gSelection;
bool gPrepared = false;

bool SameId(vlObjectId a, vlObjectId b) { return a.number == b.number && a.handle == b.handle; }

int SelectBrushTarget(vlVMState* L, vlObjectId id, uint32_t mode, int32_t selectMode, int32_t combo) {
  vlDisplay* d = vlCurrentDisplay;
  if (!d) return ERR_CLOSEDDISPLAY;
  if (d->outputType == mode && vlCurrentOutput == &gSelection && gSelection.kind == VL_OBJ_BRUSH &&
      SameId(gSelection.id(), id))
    return 0;
  if (d->outputType != VL_OUTPUT_DISPLAY && CanEndSelection(d)) LeaveSelectMode(L, d, 0);
  vlBrush* b = nullptr;
  if (int status = GetBrushByID(L, id, &b, VL_BRUSH_NOVECTOR | VL_BRUSH_HARDWAREOK)) return status;
  // No display adapter here makes video bitmaps that could be drawn into.
  if (b->hardware || !b->bitmap) return ERR_HWBRUSH;
  InitBGPicRecord(&gSelection, VL_OBJ_BRUSH, b, 0, b->id(), mode == VL_OUTPUT_BRUSH ? b->bitmap : nullptr, nullptr,
                  nullptr, b->width, b->height, 1);
  if (d->doubleBuffer) {
    // Drawing into the brush suspends double buffering until it ends.
    d->nestedSelect = 1;
    d->savedOutput = vlCurrentOutput;
    d->savedSelectBitmap = static_cast<vlBitmap*>(d->selectBitmap);
    d->savedHardwareDoubleBuffer = d->hardwareDoubleBuffer;
    d->doubleBuffer = 0;
    d->hardwareDoubleBuffer = 0;
  }
  EnterSelectMode(d, VL_OUTPUT_BRUSH, b->width);
  vlCurrentOutput = &gSelection;
  d->outputType = mode;
  d->selectBitmap = nullptr;
  d->outputMask = d->outputAlpha = nullptr;
  vlSelectMode = selectMode;
  vlSelectAlphaMode = selectMode == 1 ? combo : 0;
  gPrepared = false;
  return 0;
}

}  // namespace

int GetSelectTargetBitmaps(vlVMState* L) {
  vlDisplay* d = vlCurrentDisplay;
  if (!d || vlCurrentOutput != &gSelection || gPrepared || gSelection.kind != VL_OBJ_BRUSH) return 0;
  const uint32_t mode = d->outputType;
  if (mode != VL_OUTPUT_BRUSH && mode != VL_OUTPUT_MASK && mode != VL_OUTPUT_ALPHA) return 0;
  // A layer that shows the brush keeps its picture from here on.
  vlBrush* b = nullptr;
  if (int status = GetBrushByID(L, gSelection.id(), &b, VL_BRUSH_FINDUNLOCKED)) return status;
  if (mode == VL_OUTPUT_MASK && !b->mask) {
    vlBitmap* m = NewMaskPlane(b->bitmap, b->width, b->height, 1, nullptr, 0);
    if (!m) return ERR_ALLOCMASK;
    FillMaskRect(m, 0, 0, b->width, b->height, 0);
    if (b->alpha) DeleteAlphaPlane(b->alpha);
    b->alpha = nullptr;
    b->mask = m;
    b->transparentColor = 0xAFC0DE;
  } else if (mode == VL_OUTPUT_ALPHA && !b->alpha) {
    vlBitmap* a = NewAlphaPlane(b->width, b->height, 1, nullptr, 0);
    if (!a) return ERR_ALLOCALPHA;
    FillAlphaRect(a, 0, 0, b->width, b->height, 255);
    if (b->mask) DeleteMaskPlane(b->mask);
    b->mask = nullptr;
    b->alpha = a;
    b->transparentColor = -1;
  }
  if (mode == VL_OUTPUT_MASK) d->outputMask = b->mask;
  if (mode == VL_OUTPUT_ALPHA) d->outputAlpha = b->alpha;
  if (mode == VL_OUTPUT_BRUSH && vlSelectMode == 1) {
    d->outputMask = b->mask;
    d->outputAlpha = b->alpha;
  }
  gSelection.curMask = gSelection.dispMask = b->mask;
  gSelection.curAlpha = gSelection.dispAlpha = b->alpha;
  gPrepared = true;
  return 0;
}

int CmdSelectBrush(vlVMState* L) {
  CheckArgs(L, 1, 3, 0, 0);
  vlObjectId id;
  GetObjectIDArg(&id, L, 1);
  return SelectBrushTarget(L, id, VL_OUTPUT_BRUSH, vl::OptIntArg(L, 2, 0), vl::OptIntArg(L, 3, 0));
}

namespace {

int SelectPlane(vlVMState* L, uint32_t mode) {
  CheckArgs(L, 1, 3, 0, 0);
  const int32_t type = vl::OptIntArg(L, 2, VL_OBJ_BRUSH);
  if (type == VL_OBJ_ANIM && vl::GetStackTop(L) < 3) return ERR_MISSINGPARAMTR;
  if (type != VL_OBJ_BRUSH) return ERR_WRONGUSAGE;  // anim frames belong to the anim library
  vlObjectId id;
  GetObjectIDArg(&id, L, 1);
  return SelectBrushTarget(L, id, mode, 0, 0);
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
  if (level < -1 || level > 255) return ERR_WRONGUSAGE;
  SetRuntimeOption(L, 6, static_cast<uint32_t>(static_cast<int32_t>(level)), 0u);
  return 0;
}
