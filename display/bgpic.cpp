// The BGPic list: adding, finding, copying and freeing BGPics, orphans,
// showing a BGPic on the current display, and selection mode.
#include "display/bgpic.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "display/backfill.h"
#include "display/display_change.h"
#include "display/display_scaling.h"
#include "display/layer_hooks.h"
#include "formats/loaded_source.h"
#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "graphics/picture_engines.h"
#include "runtime/error_vm.h"
#include "runtime/errors.h"
#include "runtime/object_data.h"
#include "runtime/option_readers.h"
#include "vm/argreaders.h"
#include "runtime/object_index.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

vlBGPic* vlBGPicList = nullptr;
vlBGPic* vlCurrentOutput = nullptr;

namespace {

bool SameId(const vlObjectId& a, const vlObjectId& b) { return a.number == b.number && a.handle == b.handle; }

// Making and finding a BGPic must not walk every BGPic there is.
vlObjectIndex gBGPicIndex;

vlObjectNode** ListHead() { return reinterpret_cast<vlObjectNode**>(&vlBGPicList); }
vlObjectNode* AsNode(vlBGPic* p) { return reinterpret_cast<vlObjectNode*>(p); }

// The BGPics named id, in list order.
const std::vector<vlObjectNode*>& Named(vlObjectId id) {
  static const std::vector<vlObjectNode*> kNone;
  const std::vector<vlObjectNode*>* named = gBGPicIndex.Find(id);
  return named ? *named : kNone;
}

vlBitmap* CopyPicture(vlBitmap* src, int32_t width, int32_t height) {
  if (!src) return nullptr;
  vlBitmap* copy = NewBitmap(width, height, 0, nullptr);
  if (copy) BltBitmap(src, 0, 0, copy, 0, 0, width, height);
  return copy;
}

vlBitmap* CopyMask(vlBitmap* src, int32_t width, int32_t height) {
  if (!src) return nullptr;
  vlBitmap* copy = NewMaskPlane(nullptr, width, height, 1, nullptr, 0);
  if (copy) CopyMaskRegion(src, 0, 0, copy, 0, 0, width, height, 2, nullptr, 0);
  return copy;
}

}  // namespace

void InitBGPicRecord(vlBGPic* r, uint32_t kind, void* selectObject, int32_t selectIndex, vlObjectId id,
                     vlBitmap* bitmap, vlBitmap* mask, vlBitmap* alpha, int32_t width, int32_t height, int clear) {
  if (clear) std::memset(static_cast<void*>(r), 0, sizeof *r);
  if (clear) InitList(&r->layers);
  r->type = VL_OBJ_BGPIC;
  r->kind = kind;
  r->selectObject = selectObject;
  r->selectIndex = selectIndex;
  r->setId(id);
  r->dispBitmap = r->curBitmap = r->loadBitmap = bitmap;
  r->dispMask = r->curMask = r->loadMask = mask;
  r->dispAlpha = r->curAlpha = r->loadAlpha = alpha;
  r->dispWidth = r->width = r->loadWidth = width;
  r->dispHeight = r->height = r->loadHeight = height;
  if (clear) r->transparentColor = -1;
}

int AddBGPic(vlObjectId* id, uint32_t scalable, int32_t width, int32_t height, int32_t sourceWidth,
             vlLoadedSource* source, vlBitmap* bitmap, uint32_t* argb, int32_t transparentColor, vlBitmap* mask,
             vlBitmap* alpha, const vlBGPicBackfill* backfill, vlBGPic** out) {
  auto* r = static_cast<vlBGPic*>(std::calloc(1, sizeof(vlBGPic)));
  if (!r) return ERR_MEM;
  if (id->handle) id->handle = r;
  InitBGPicRecord(r, 0, nullptr, 0, *id, bitmap, mask, alpha, width, height, 1);
  r->scalable = scalable;
  r->sourceWidth = sourceWidth;
  r->source = source;
  r->argb = argb;
  r->transparentColor = transparentColor;
  if (backfill) r->backfill = *backfill;
  if (gBGPicIndex.Append(ListHead(), AsNode(r))) {
    std::free(r);
    return ERR_MEM;
  }
  if (out) *out = r;
  return 0;
}

int GetBGPicByID(vlVMState* L, vlObjectId id, vlBGPic** out, uint32_t flags) {
  for (vlObjectNode* node : Named(id)) {
    auto* p = reinterpret_cast<vlBGPic*>(node);
    if (!SameId(p->id(), id) || (p->orphan && !(flags & 2))) continue;
    if (flags & 1) {
      if (p->locked) return ERR_LOCKEDOBJ;
      if (!(flags & 4))
        if (int status = gLayerHooks.detachBGPicUsers(L, p)) return status;
    }
    *out = p;
    return 0;
  }
  *out = nullptr;
  if (id.handle) return ERR_FINDARRAY;
  SetErrorArgIndex(id.number);
  return ERR_FINDBGPIC;
}

bool IsVectorBGPic(const vlBGPic* pic) { return pic->scalable && pic->source; }

bool IsTransformedVectorBGPic(const vlBGPic* pic) {
  if (!IsVectorBGPic(pic)) return false;
  int32_t w = 0, h = 0;
  GetLoadedSourceSize(pic->source, &w, &h);
  if (w < 1 || h < 1) w = pic->loadWidth, h = pic->loadHeight;
  return pic->width != w || pic->height != h;
}

vlDisplay* DisplayOfBGPic(const vlBGPic* pic) {
  for (vlDisplay* d = vlDisplayList; d; d = d->next)
    if (d->bgpic == pic) return d;
  return nullptr;
}

bool IsSelectedBGPic(const vlBGPic* pic) {
  vlDisplay* d = CurrentDisplay();
  if (!d || !vlCurrentOutput) return false;
  if (d->outputType == VL_OUTPUT_BGPIC) return SameId(vlCurrentOutput->id(), pic->id());
  if (d->outputType == VL_OUTPUT_BRUSH || d->outputType == VL_OUTPUT_MASK || d->outputType == VL_OUTPUT_ALPHA)
    return vlCurrentOutput->kind == VL_OBJ_BGPIC && SameId(vlCurrentOutput->id(), pic->id());
  return false;
}

void DeleteBGPicPlanes(vlBGPic* p) {
  auto drop = [](vlBitmap* plane, vlBitmap* a, vlBitmap* b, void (*del)(vlBitmap*)) {
    if (plane && plane != a && plane != b) del(plane);
  };
  drop(p->dispBitmap, p->curBitmap, p->loadBitmap, DeleteBitmap);
  drop(p->dispMask, p->curMask, p->loadMask, DeleteMaskPlane);
  drop(p->dispAlpha, p->curAlpha, p->loadAlpha, DeleteAlphaPlane);
  drop(p->curBitmap, p->loadBitmap, nullptr, DeleteBitmap);
  drop(p->curMask, p->loadMask, nullptr, DeleteMaskPlane);
  drop(p->curAlpha, p->loadAlpha, nullptr, DeleteAlphaPlane);
  if (p->loadBitmap) DeleteBitmap(p->loadBitmap);
  if (p->loadMask) DeleteMaskPlane(p->loadMask);
  if (p->loadAlpha) DeleteAlphaPlane(p->loadAlpha);
  p->dispBitmap = p->curBitmap = p->loadBitmap = nullptr;
  p->dispMask = p->curMask = p->loadMask = nullptr;
  p->dispAlpha = p->curAlpha = p->loadAlpha = nullptr;
}

void FreeBGPicRecord(vlVMState* L, vlBGPic* p) {
  gLayerHooks.freeBGPicLayers(L, p);
  gLayerHooks.freeSpriteNodes(L, p);
  ReleaseBGPicSource(p);
  DeleteBGPicPlanes(p);
  delete[] p->argb;
  std::free(p->palette);
  if (p->backfill.texture) DeleteBitmap(p->backfill.texture);
  gLayerHooks.freeBGPicButtons(L, p);
  FreeObjectDataList(L, &p->data);
  std::free(p);
}

int FreeBGPicByID(vlVMState* L, vlObjectId id, int mustExist) {
  vlBGPic* p = nullptr;
  for (vlObjectNode* node : Named(id)) {
    auto* q = reinterpret_cast<vlBGPic*>(node);
    if (!q->orphan && SameId(q->id(), id)) p = q;
  }
  if (p && IsSelectedBGPic(p)) return ERR_MODIFYABGPIC;
  int status = GetBGPicByID(L, id, &p, 1 | 4);
  if (status) return (mustExist || status == ERR_LOCKEDOBJ) ? status : 0;
  if (gLayerHooks.bindBGPicUsers(p) || DisplayOfBGPic(p)) {
    if (int rename = OrphanBGPic(p)) return rename;
    return 0;
  }
  if (vlCurrentOutput == p) vlCurrentOutput = nullptr;
  UnlinkBGPic(p);
  FreeBGPicRecord(L, p);
  return 0;
}

void UnlinkBGPic(vlBGPic* pic) { gBGPicIndex.Unlink(ListHead(), AsNode(pic)); }

int OrphanBGPic(vlBGPic* pic) {
  if (int status = gBGPicIndex.Rekey(AsNode(pic), {0, pic})) return status;
  pic->orphan = 1;
  return 0;
}

void FreeAllBGPics(vlVMState* L) {
  while (vlBGPic* p = vlBGPicList) {
    vlBGPicList = p->next;
    FreeBGPicRecord(L, p);
  }
  gBGPicIndex.Clear();
  vlCurrentOutput = nullptr;
}

int CloneBGPic(vlVMState* L, vlBGPic* src, vlObjectId* id, vlBGPic** out) {
  vlBitmap* bitmap = nullptr;
  vlBitmap* mask = nullptr;
  vlBitmap* alpha = nullptr;
  uint32_t* argb = nullptr;
  uint32_t* palette = nullptr;
  vlObjectData* data = nullptr;
  vlBGPicBackfill backfill = src->backfill;
  backfill.texture = nullptr;
  int status = 0;
  if (src->loadBitmap) {
    bitmap = CopyPicture(src->loadBitmap, src->loadWidth, src->loadHeight);
    if (!bitmap) status = ERR_BITMAP;
  }
  if (!status && src->loadMask && !(mask = CopyMask(src->loadMask, src->loadWidth, src->loadHeight)))
    status = ERR_ALLOCMASK;
  if (!status && src->loadAlpha && !(alpha = CopyAlphaPlane(src->loadAlpha, src->loadWidth, src->loadHeight)))
    status = ERR_ALLOCALPHA;
  if (!status && src->argb) {
    size_t n = static_cast<size_t>(src->loadWidth) * src->loadHeight;
    argb = new (std::nothrow) uint32_t[n];
    if (argb)
      std::memcpy(argb, src->argb, n * 4);
    else
      status = ERR_MEM;
  }
  if (!status && src->palette) {
    palette = static_cast<uint32_t*>(std::malloc(256 * 4));
    if (palette)
      std::memcpy(palette, src->palette, 256 * 4);
    else
      status = ERR_MEM;
  }
  if (!status && src->backfill.texture &&
      !(backfill.texture = CopyPicture(src->backfill.texture, src->backfill.textureWidth,
                                       src->backfill.textureHeight)))
    status = ERR_BITMAP;
  if (!status) status = CopyObjectDataList(L, src->data, &data);
  vlBGPic* r = nullptr;
  if (!status)
    status = AddBGPic(id, src->scalable, src->loadWidth, src->loadHeight, src->sourceWidth, nullptr, bitmap, argb,
                      src->transparentColor, mask, alpha, &backfill, &r);
  if (status) {
    if (bitmap) DeleteBitmap(bitmap);
    if (mask) DeleteMaskPlane(mask);
    if (alpha) DeleteAlphaPlane(alpha);
    if (backfill.texture) DeleteBitmap(backfill.texture);
    delete[] argb;
    std::free(palette);
    FreeObjectDataList(L, &data);
    return status;
  }
  r->palette = palette;
  r->data = data;
  r->loaderWord = src->loaderWord;
  RetainBGPicSource(src, r);
  // The other triples follow the source's sizes: re-made from the copy.
  if (src->curBitmap != src->loadBitmap && (src->width != src->loadWidth || src->height != src->loadHeight))
    ResizeBGPicPlanes(L, r, src->width, src->height, 0);
  if (out) *out = r;
  return 0;
}

void SweepOrphanBGPics(vlVMState* L) {
  for (vlBGPic* p = vlBGPicList; p;) {
    vlBGPic* next = p->next;
    if (p->orphan && !gLayerHooks.bindBGPicUsers(p) && !DisplayOfBGPic(p) &&
        !(CurrentDisplay() && CurrentDisplay()->bgpic == p)) {
      if (vlCurrentOutput == p) vlCurrentOutput = nullptr;
      UnlinkBGPic(p);
      FreeBGPicRecord(L, p);
    }
    p = next;
  }
}

int RebuildBGPicBitmaps(vlVMState* L) {
  for (vlBGPic* p = vlBGPicList; p; p = p->next) {
    if (!p->argb || p->loadBitmap) continue;
    vlBitmap *bitmap = nullptr, *mask = nullptr, *alpha = nullptr;
    int status = BuildBGPicBitmaps(L, p->argb, p->backfill.present ? &p->backfill : nullptr, p->transparentColor,
                                   p->loadWidth, p->loadHeight, p->loadWidth, &bitmap, &mask, &alpha);
    if (status) return status;
    delete[] p->argb;
    p->argb = nullptr;
    int32_t dw = p->dispWidth, dh = p->dispHeight;
    InitBGPicRecord(p, p->kind, p->selectObject, p->selectIndex, p->id(), bitmap, mask, alpha, p->loadWidth,
                    p->loadHeight, 0);
    if (dw != p->loadWidth || dh != p->loadHeight) ResizeBGPicPlanes(L, p, dw, dh, 0);
  }
  return 0;
}

void GetOptionalXYTable(vlVMState* L, int index, int32_t* x, int32_t* y) {
  *x = *y = 99999;
  if (vl::GetStackTop(L) == index && vl::GetTypeAt(L, index) == VL_TTABLE) {
    GetTableInt(L, index, "x", x, nullptr);
    GetTableInt(L, index, "y", y, nullptr);
  }
}

int ShowBGPicOnDisplay(vlVMState* L, vlObjectId id, int32_t x, int32_t y, int withTransition, vlBitmap** newImage,
                       vlBitmap** oldImage) {
  vlDisplay* d = CurrentDisplay();
  if (!d) return ERR_CLOSEDDISPLAY;
  vlBGPic* pic = nullptr;
  if (int status = GetBGPicByID(L, id, &pic, 0)) return status;
  if (vlRecordingScreen && (pic->dispMask || pic->dispAlpha)) return ERR_VIDRECTRANS;
  // A transition draws the sprites over each of its frames: without
  // layers its pictures are those under the sprites.
  const int32_t underSprites = d->layersOn ? 0 : 1;
  if (withTransition && oldImage) {
    vlBGPic* cur = d->bgpic;
    *oldImage = NewBitmap(cur->dispWidth, cur->dispHeight, 0, nullptr);
    if (!*oldImage) return ERR_BITMAP;
    gLayerHooks.redrawLayers(L, d, cur, d->back, 0, 0, cur->dispWidth, cur->dispHeight, underSprites);
    BltBitmap(d->back, 0, 0, *oldImage, 0, 0, cur->dispWidth, cur->dispHeight);
    // The effect runs at the new picture's size: the old screen is
    // stretched to it unless the display scales its layers itself.
    if (!d->layerScale && (cur->dispWidth != pic->width || cur->dispHeight != pic->height)) {
      vlBitmap* scaled = nullptr;
      int status = ScaleBitmap(*oldImage, nullptr, nullptr, 0, 0, nullptr, cur->dispWidth, cur->dispHeight,
                               pic->width, pic->height, d->smoothScale, 0, &scaled, nullptr, nullptr);
      DeleteBitmap(*oldImage);
      *oldImage = scaled;
      if (status || !scaled) {
        if (scaled) DeleteBitmap(scaled);
        *oldImage = nullptr;
        return status ? status : ERR_BITMAP;
      }
    }
  }
  int top = vl::GetStackTop(L);
  vl::PushNewTable(L);
  SetTableObjectID(L, "bgpic", id);
  if (x != 100000) SetTableInt(L, "x", x);
  if (y != 100000) SetTableInt(L, "y", y);
  int status = ApplyDisplayAttributes(L, top + 1, d, withTransition);
  vl::SetStackTop(L, top);
  if (withTransition && newImage && !status) {
    vlBGPic* shown = d->bgpic;
    *newImage = NewBitmap(shown->dispWidth, shown->dispHeight, 0, nullptr);
    if (!*newImage) {
      status = ERR_BITMAP;
    } else {
      gLayerHooks.redrawLayers(L, d, shown, d->back, 0, 0, shown->dispWidth, shown->dispHeight, underSprites);
      BltBitmap(d->back, 0, 0, *newImage, 0, 0, shown->dispWidth, shown->dispHeight);
    }
  }
  if (status && oldImage && *oldImage) {
    DeleteBitmap(*oldImage);
    *oldImage = nullptr;
  }
  return status;
}

bool CanEndSelection(const vlDisplay* d) { return !d->doubleBuffer || d->nestedSelect; }

int EndSelectionAndFail(vlVMState* L, int status) {
  vlDisplay* d = CurrentDisplay();
  if (d && d->outputType != VL_OUTPUT_DISPLAY && CanEndSelection(d)) LeaveSelectMode(L, d, 0);
  return status;
}

void SwitchDisplayOutput(vlDisplay* d, vlBGPic* pic, vlBGPic* replaced) {
  if ((replaced && vlCurrentOutput == replaced) || d == CurrentDisplay()) vlCurrentOutput = pic;
}

void EnterSelectMode(vlDisplay* d, uint32_t kind, int32_t width, vlBGPic* output) {
  vlCurrentOutput = output;
  if (d->selectEntered) return;
  d->selectEntered = 1;
  d->savedLayersOn = d->layersOn;
  if (kind != 1) d->layersOn = 0;
  d->savedCursor[0] = d->cursorX;
  d->savedCursor[1] = d->cursorY;
  d->savedCursor[2] = d->marginLeft;
  d->savedCursor[3] = d->marginRight;
  d->cursorX = d->cursorY = d->marginLeft = 0;
  d->marginRight = width - 1;
}

namespace {

void RestoreFromSelectMode(vlDisplay* d) {
  if (!d->selectEntered) return;
  d->layersOn = d->savedLayersOn;
  d->cursorX = d->savedCursor[0];
  d->cursorY = d->savedCursor[1];
  d->marginLeft = d->savedCursor[2];
  d->marginRight = d->savedCursor[3];
  d->selectEntered = 0;
}

}  // namespace

void LeaveSelectMode(vlVMState* L, vlDisplay* d, int noRefresh) {
  const uint32_t type = d->outputType;
  vlBGPic* target = vlCurrentOutput;
  // The selected object's planes stop being drawn into.
  d->outputMask = d->outputAlpha = nullptr;
  d->outputHardware = 0;
  SetPlaneTarget(nullptr, 0, 0);
  SetComboTarget(nullptr, 0);
  SetComboMaskTarget(nullptr);
  // A BGPic is drawn into as loaded; its scaled triples take what was
  // drawn.
  if ((type == VL_OUTPUT_BRUSH || type == VL_OUTPUT_MASK || type == VL_OUTPUT_ALPHA) && target &&
      target->kind == VL_OBJ_BGPIC)
    if (auto* drawn = static_cast<vlBGPic*>(target->selectObject); drawn && drawn->changed)
      RemakeBGPicScaledPlanes(drawn, type == VL_OUTPUT_BRUSH);
  if (d->nestedSelect) {
    vlCurrentOutput = d->savedOutput;
    d->selectBitmap = d->savedSelectBitmap;
    d->savedSelectBitmap = nullptr;  // the double buffer owns it, not the display
    d->selectWords[0] = d->selectWords[1] = 0;
    d->doubleBuffer = 1;
    d->hardwareDoubleBuffer = d->savedHardwareDoubleBuffer;
    // An adapter's double buffer draws on the display itself.
    d->outputType = d->hardwareDoubleBuffer ? VL_OUTPUT_DISPLAY : VL_OUTPUT_BRUSH;
    d->outputHardware = d->hardwareDoubleBuffer ? 0 : d->hardwareBackBuffer;
    d->nestedSelect = 0;
    d->savedHardwareDoubleBuffer = 0;
    // The cursor and margins return to the double buffer's.
    RestoreFromSelectMode(d);
    return;
  }
  d->selectBitmap = nullptr;
  d->selectWords[0] = d->selectWords[1] = 0;
  d->selectState = 0;
  d->outputType = VL_OUTPUT_DISPLAY;
  vlCurrentOutput = d->bgpic;
  // A layer drawn into (its picture, mask or alpha channel) shows what was
  // drawn once the layers are back on.
  const bool layerTarget = (type == VL_OUTPUT_BRUSH || type == VL_OUTPUT_MASK || type == VL_OUTPUT_ALPHA) && target &&
                           target->kind == VL_OBJ_LAYER;
  void* drawnLayer = layerTarget ? target->selectObject : nullptr;
  const int32_t drawnFrame = drawnLayer ? target->selectIndex : 0;
  if (type == VL_OUTPUT_BGPIC && target == d->bgpic) {
    // The collected changes reach the screen: the merged rectangles, or the
    // whole display when the list overflowed into a full refresh.
    gLayerHooks.endSelection(L, d, target, !noRefresh);
    if (!noRefresh && IsAllDirty(d->dirty)) RefreshDisplayObject(L, d, 0);
    if (!noRefresh) ClearDirtyRects(&d->dirty);
  } else if (layerTarget) {
    gLayerHooks.endSelection(L, d, target, !noRefresh);
  }
  RestoreFromSelectMode(d);
  if (drawnLayer) gLayerHooks.endLayerSelection(L, d, drawnLayer, drawnFrame, !noRefresh);
}

int CmdDisplayBGPic(vlVMState* L) {
  CheckArgs(L, 1, 2, 0, 0);
  vlObjectId id;
  GetObjectIDArg(&id, L, 1);
  int32_t x, y;
  GetOptionalXYTable(L, 2, &x, &y);
  return ShowBGPicOnDisplay(L, id, x, y, 0, nullptr, nullptr);
}

int CmdSelectBGPic(vlVMState* L) {
  CheckArgs(L, 1, 3, 0, 0);
  vlDisplay* d = CurrentDisplay();
  if (!d) return ERR_CLOSEDDISPLAY;
  int32_t mode = vl::OptIntArg(L, 2, 2);
  vlBGPic* pic = nullptr;
  if (vl::GetTypeAt(L, 1) == VL_TNIL) {
    pic = d->bgpic;
  } else {
    vlObjectId id;
    GetObjectIDArg(&id, L, 1);
    if (int status = GetBGPicByID(L, id, &pic, 0)) return EndSelectionAndFail(L, status);
  }
  if (mode != 2) return gLayerHooks.selectDrawTarget(L, VL_OBJ_BGPIC, pic, mode, vl::OptIntArg(L, 3, 1));
  if (d->outputType == VL_OUTPUT_BGPIC && vlCurrentOutput == pic) return 0;
  if (d->outputType != VL_OUTPUT_DISPLAY && CanEndSelection(d)) LeaveSelectMode(L, d, 1);
  if (!d->layersOn) return ERR_NOLAYERS;
  vlDisplay* shower = DisplayOfBGPic(pic);
  if (shower && shower != d) return ERR_SELECTBGPIC;
  if (int status = AllocDirtyRects(d)) return status;
  ClearDirtyRects(&d->dirty);
  d->selectBitmap = nullptr;
  d->selectWords[0] = d->selectWords[1] = 0;
  EnterSelectMode(d, 1, pic->width, pic);
  d->outputType = VL_OUTPUT_BGPIC;
  return 0;
}

int CmdEndSelect(vlVMState* L) {
  CheckArgs(L, 0, 0, 0, 0);
  vlDisplay* d = CurrentDisplay();
  if (!d || d->outputType == VL_OUTPUT_DISPLAY || !CanEndSelection(d)) return ERR_WRONGUSAGE;
  LeaveSelectMode(L, d, 0);
  return 0;
}

int CmdFreeBGPic(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  vlObjectId id;
  GetObjectIDArg(&id, L, 1);
  return FreeBGPicByID(L, id, 1);
}
