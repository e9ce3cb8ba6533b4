// The display list: creating displays (with their own BGPic when the
// script names none), looking them up, freeing one or all of them, and
// making one current.
#include "display/display.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "display/backfill.h"
#include "display/bgpic.h"
#include "display/clients.h"
#include "display/display_scaling.h"
#include "display/display_tags.h"
#include "display/display_window.h"
#include "display/icons.h"
#include "display/layer_hooks.h"
#include "display/menus.h"
#include "display/monitors.h"
#include "graphics/bitmap.h"
#include "graphics/position.h"
#include "graphics/display_blit.h"
#include "platform/display_adapter.h"
#include "runtime/threads.h"
#include "platform/x11/x11_window.h"
#include "runtime/error_vm.h"
#include "runtime/errors.h"
#include "runtime/event_queue.h"
#include "runtime/object_data.h"
#include "runtime/object_index.h"
#include "runtime/option_readers.h"
#include "runtime/runtime_options.h"
#include "vm/auxlib.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"
#include "platform/display_device.h"

vlDisplay* vlDisplayList = nullptr;
vlMutex* vlDisplayListMutex = nullptr;
int32_t vlRecordingScreen = 0;

namespace {

vlDisplay* gCurrentDisplay = nullptr;

// Making and finding a display must not walk every display there is.
// Changed on the main thread under the list lock only, like the list.
vlObjectIndex gDisplayIndex;

vlObjectNode** ListHead() { return reinterpret_cast<vlObjectNode**>(&vlDisplayList); }

struct ListLock {
  ListLock() {
    if (vlDisplayListMutex) LockMutex(vlDisplayListMutex);
  }
  ~ListLock() {
    if (vlDisplayListMutex) UnlockMutex(vlDisplayListMutex);
  }
};

void SetDefaults(vlDisplay* d) {
  d->type = VL_OBJ_DISPLAY;
  d->x = d->y = VL_POS_CENTER;
  d->width = 640;
  d->height = 480;
  d->outputType = VL_OUTPUT_DISPLAY;
  d->scaleX = d->scaleY = 1.0;
  d->monitorRelativeX = d->monitorRelativeY = 1;
  std::strcpy(d->titleText, "Vellamora");
  for (int32_t& h : d->handlers) h = -1;
  d->screen.screenWidth = d->screen.screenHeight = d->screen.screenDepth = 0;
  InitBackfillRecord(&d->screen.backfill);
  d->backfill.fillStyle = 1;
  d->backfill.gradient = vlGradientDesc{};
  d->visibility = 1;
  FixDisplayTextPointers(d);
}

// The extra keys of a creation table after the attribute reader.
int ReadCreationKeys(vlVMState* L, int table, vlDisplay* d) {
  int32_t v = 0;
  if (GetTableInt(L, table, "hidden", &v, nullptr) && v) d->styleFlags |= VL_DISPSTYLE_HIDDEN;
  if (GetTableInt(L, table, "layers", &v, nullptr) && v) d->styleFlags |= VL_DISPSTYLE_LAYERS;
  if (GetTableInt(L, table, "__backfill", &v, nullptr) && v) d->isBackdrop = 1;
  if (GetTableInt(L, table, "__resourcemonitor", &v, nullptr) && v) d->isResourceMonitor = 1;
  GetTableInt(L, table, "__restorewidth", &d->restoreWidth, nullptr);
  GetTableInt(L, table, "__restoreheight", &d->restoreHeight, nullptr);
  vl::PushString(L, "__placement");
  vl::GetTableValue(L, table);
  if (vl::GetTypeAt(L, -1) == VL_TSTRING) {
    size_t n = vl::GetStringLengthAt(L, -1);
    if (n) {
      d->osData = static_cast<uint8_t*>(std::malloc(n));
      if (!d->osData) {
        vl::SetStackTop(L, -2);
        return ERR_MEM;
      }
      std::memcpy(d->osData, vl::ToStringAt(L, -1), n);
      d->osDataLength = static_cast<uint32_t>(n);
    }
  }
  vl::SetStackTop(L, -2);
  if (int status = ReadScreenModeKeys(L, table, &d->screen)) return status;
  if (d->screen.desktop) {
    int32_t w = 0, h = 0;
    if (GetDisplayMonitorRect(d, nullptr, nullptr, &w, &h) == 0) {
      d->width = w;
      d->height = h;
    }
  }
  if (d->isBackdrop || d->isResourceMonitor) d->styleFlags |= VL_DISPSTYLE_HIDEFROMTASKBAR;
  return 0;
}

// The display's own BGPic of its size, filled from its backfill.
int MakeOwnBGPic(vlVMState* L, vlDisplay* d) {
  vlBGPicBackfill backfill{};
  backfill.desc = d->backfill;
  backfill.present = 1;
  uint32_t preloading = 0;
  GetRuntimeOption(L, VL_OPT_RENDER_STATE, &preloading, 0u);
  vlObjectId id{0, reinterpret_cast<void*>(uintptr_t{1})};
  const uint32_t scalable = d->backfill.fillStyle == 2 || d->backfill.fillStyle == 3;
  vlBGPic* pic = nullptr;
  if (preloading) {
    // No screen format yet: the pixels wait as ARGB.
    if (d->id().number == 1 && !d->id().handle) {
      id = {1, nullptr};
      if (d->screen.desktop) {
        vlBGPic* existing = nullptr;
        if (GetBGPicByID(L, id, &existing, 0)) return ERR_DISPLAYDESKTOP;
        d->bgpic = existing;
        d->ownBGPic = 1;
        return 0;
      }
      if (int status = FreeBGPicByID(L, id, 0)) return status;
    }
    auto* argb = new (std::nothrow) uint32_t[static_cast<size_t>(d->width) * d->height];
    if (!argb) return ERR_MEM;
    int status = FillBackfill(L, &backfill, nullptr, d->width, d->height, argb, 0);
    if (!status)
      status = AddBGPic(&id, scalable, d->width, d->height, d->width, nullptr, nullptr, argb, -1, nullptr, nullptr,
                        &backfill, &pic);
    if (status) {
      delete[] argb;
      if (backfill.texture) DeleteBitmap(backfill.texture);
      return status;
    }
  } else {
    vlBitmap* bitmap = NewBitmap(d->width, d->height, 0, nullptr);
    if (!bitmap) return ERR_BITMAP;
    int status = FillBackfill(L, &backfill, bitmap, d->width, d->height, nullptr, 0);
    if (!status)
      status = AddBGPic(&id, scalable, d->width, d->height, d->width, nullptr, bitmap, nullptr, -1, nullptr, nullptr,
                        &backfill, &pic);
    if (status) {
      DeleteBitmap(bitmap);
      if (backfill.texture) DeleteBitmap(backfill.texture);
      return status;
    }
  }
  d->bgpic = pic;
  d->ownBGPic = 1;
  return 0;
}

void FreeRecord(vlVMState* L, vlDisplay* d, int keepBGPic) {
  FreeDisplayResources(L, d, keepBGPic);
  std::free(d);
}

}  // namespace

void FixDisplayTextPointers(vlDisplay* d) {
  d->title = d->titleText;
  d->xDisplayName = d->xServer[0] ? d->xServer : nullptr;
}

int AllocDirtyRects(vlDisplay* d) {
  if (d->dirty.rects) return 0;
  d->dirty.rects = static_cast<int32_t*>(std::calloc(1024, 16));
  if (!d->dirty.rects) return ERR_MEM;
  d->dirty.capacity = 1024;
  ClearDirtyRects(&d->dirty);
  return 0;
}

void MarkDisplayAllDirty(vlDisplay* d) {
  if (d->dirty.rects) MarkAllDirty(&d->dirty);
}

uint32_t DisplayFlagsForEvents(const vlDisplay* d) { return d->styleFlags; }

vlDisplay* CurrentDisplay() { return gCurrentDisplay; }
void SetCurrentDisplay(vlDisplay* d) { gCurrentDisplay = d; }

vlDrawingFor CurrentDrawingFor() { return {gCurrentDisplay, vlCurrentOutput}; }

void SaveDisplayOutputState(vlDisplay* d, vlDisplayOutputState* out) {
  if (out) *out = {d->selectBitmap, d->outputMask, d->outputAlpha, d->outputType, d->outputHardware};
  d->selectBitmap = nullptr;
  d->outputMask = d->outputAlpha = nullptr;
  d->outputType = VL_OUTPUT_DISPLAY;
  d->outputHardware = 0;
}

void RestoreDisplayOutputState(vlDisplay* d, const vlDisplayOutputState& saved) {
  d->selectBitmap = saved.bitmap;
  d->outputMask = saved.mask;
  d->outputAlpha = saved.alpha;
  d->outputType = saved.type;
  d->outputHardware = saved.hardware;
}

void DrawWithDisplayCurrent(vlDisplay* d, void (*draw)(void*), void* user) {
  vlDisplay* const previous = gCurrentDisplay;
  vlDisplayOutputState saved{};
  SaveDisplayOutputState(d, &saved);
  gCurrentDisplay = d;
  draw(user);
  gCurrentDisplay = previous;
  RestoreDisplayOutputState(d, saved);
}

int GetDisplayByID(vlObjectId id, vlDisplay** out) {
  if ((*out = reinterpret_cast<vlDisplay*>(gDisplayIndex.First(id)))) return 0;
  if (id.handle) return ERR_FINDARRAY;
  SetErrorArgIndex(id.number);
  return ERR_FINDDISPLAY;
}

vlDisplay* GetDisplayByNumber(int32_t number) {
  return reinterpret_cast<vlDisplay*>(gDisplayIndex.First({number, nullptr}));
}

vlDisplay* GetDisplayByWindow(const void* handle) {
  if (!handle) return nullptr;
  for (vlDisplay* d = vlDisplayList; d; d = d->next) {
    if (DisplayDevice(d)->windowHandle(d) == reinterpret_cast<uintptr_t>(handle)) return d;
  }
  return nullptr;
}

void FreeDisplayResources(vlVMState* L, vlDisplay* d, int keepBGPic) {
  if (d->doubleBuffer || d->nestedSelect) gLayerHooks.stopDoubleBuffer(L, d);
  if (d->ownBGPic && !keepBGPic && d->bgpic) {
    vlBGPic* pic = d->bgpic;
    d->bgpic = nullptr;
    if (vlCurrentOutput == pic) vlCurrentOutput = nullptr;
    if (gLayerHooks.bindBGPicUsers(pic)) {
      // Out of memory for its new name: orphaned under the old one.
      if (OrphanBGPic(pic)) pic->orphan = 1;
    } else {
      UnlinkBGPic(pic);
      FreeBGPicRecord(L, pic);
    }
  }
  for (vlBitmap** b : {&d->front, &d->back, &d->extraBitmap, &d->savedSelectBitmap})
    if (*b) {
      DeleteBitmap(*b);
      *b = nullptr;
    }
  if (d->shapeMask) DeleteMaskPlane(d->shapeMask);
  if (d->shapeAlpha) DeleteAlphaPlane(d->shapeAlpha);
  d->shapeMask = d->shapeAlpha = nullptr;
  std::free(d->osData);
  d->osData = nullptr;
  for (int32_t& h : d->handlers)
    if (h >= 0) {
      vl::ReleaseRef(L, vl::kRegistryIndex, h);
      h = -1;
    }
  FreeDisplayClients(d);
  FreePendingFrames(d);
  if (d->mutex) FreeMutex(d->mutex);
  d->mutex = nullptr;
  std::free(d->dirty.rects);
  d->dirty.rects = nullptr;
  FreeDisplayPlatformData(d);
  FreeObjectDataList(L, &d->data);
}

int FreeDisplayRecord(vlVMState* L, vlObjectId id, int mustExist) {
  vlDisplay* d = nullptr;
  int status = GetDisplayByID(id, &d);
  if (status) return mustExist ? status : 0;
  if (d == gCurrentDisplay) return ERR_FREEADISPLAY;
  if (gLayerHooks.asyncDrawOnDisplay(d)) return ERR_ADFFREEDISP;
  if (d->clients) return ERR_SATFREEDISP;
  if (gLayerHooks.videoOnDisplay(d)) return ERR_VIDATTACHED;
  if (d->displayState != VL_DISPSTATE_CLOSED) ClosePlatformWindow(L, d, nullptr, 4);
  if (d->ownerDisplay) {
    d->ownerDisplay->backdropId = {};
    d->ownerDisplay = nullptr;
  }
  for (vlDisplay* o = vlDisplayList; o; o = o->next)
    if (o->ownerDisplay == d) o->ownerDisplay = nullptr;
  ForgetEventTarget(d);
  {
    ListLock lock;
    gDisplayIndex.Unlink(ListHead(), reinterpret_cast<vlObjectNode*>(d));
  }
  FreeRecord(L, d, 0);
  return 0;
}

int CmdCreateDisplay(vlVMState* L) {
  CheckArgs(L, 1, 2, 0, 0);
  vlObjectId id;
  int automatic = GetObjectIDArgOpt(&id, L, 1);
  if (vlRecordingScreen) return ERR_VIDRECMULTI;
  if (!automatic && GetDisplayByNumber(id.number))
    if (int status = FreeDisplayRecord(L, id, 1)) return status;
  auto* d = static_cast<vlDisplay*>(std::calloc(1, sizeof(vlDisplay)));
  if (!d) return ERR_MEM;
  SetDefaults(d);
  d->setId(automatic ? vlObjectId{0, d} : id);
  int status = 0;
  const bool haveTable = vl::GetTypeAt(L, 2) == VL_TTABLE;
  if (haveTable) {
    // The record goes when a key of the wrong type stops the script from
    // inside the reading; afterwards the paths below free it.
    struct Held {
      vlVMState* L;
      vlDisplay* d;
      ~Held() {
        if (d) FreeRecord(L, d, 0);
      }
    } held{L, d};
    status = ParseDisplayTags(L, 2, d, 1, nullptr, nullptr);
    if (!status) status = ReadCreationKeys(L, 2, d);
    held.d = nullptr;
  }
  if (!status) {
    if (d->styleFlags & (VL_DISPSTYLE_LAYERSCALE | VL_DISPSTYLE_LAYERS)) d->layersOn = 1;
    if (!(d->styleFlags & (VL_DISPSTYLE_AUTOSCALE | VL_DISPSTYLE_LAYERSCALE))) {
      d->scaleWidth = d->scaleHeight = 0;
      d->borderLeft = d->borderTop = d->borderRight = d->borderBottom = 0;
    }
    if (!d->bgpic) status = MakeOwnBGPic(L, d);
  }
  if (!status) {
    if ((d->styleFlags & (VL_DISPSTYLE_AUTOSCALE | VL_DISPSTYLE_LAYERSCALE)) && d->scaleWidth > 0 &&
        d->scaleHeight > 0) {
      d->width = d->scaleWidth;
      d->height = d->scaleHeight;
    }
    d->cursorX = d->cursorY = d->marginLeft = 0;
    d->marginRight = d->bgpic->width - 1;
    uint32_t preloading = 0;
    GetRuntimeOption(L, VL_OPT_RENDER_STATE, &preloading, 0u);
    if (!preloading) status = InitialDisplayScaling(L, d);
  }
  if (!status && DisplayDeviceDoes(d, VL_DEVICE_X_SERVER)) status = AllocDisplayPlatformData(d);
  if (!status && !(d->mutex = CreateMutex())) status = ERR_SEMAPHORE;
  if (status) {
    FreeRecord(L, d, 0);
    return status;
  }
  {
    ListLock lock;
    status = gDisplayIndex.Append(ListHead(), reinterpret_cast<vlObjectNode*>(d));
  }
  if (status) {
    FreeRecord(L, d, 0);
    return status;
  }
  if (automatic) {
    vl::PushPointer(L, d);
    return 1;
  }
  return 0;
}

void CloseAllDisplays(vlVMState* L) {
  gLayerHooks.freeAsyncDraws(L);
  {
    ListLock lock;
    for (vlDisplay* d = vlDisplayList; d; d = d->next) {
      if (d->backdropId.handle || d->backdropId.number) FreeBackdrop(L, d);
    }
    for (vlDisplay* d = vlDisplayList; d; d = d->next)
      if (d->displayState != VL_DISPSTATE_CLOSED && !d->fullScreen && !d->isBackdrop)
        ClosePlatformWindow(L, d, nullptr, 0);
    for (vlDisplay* d = vlDisplayList; d; d = d->next)
      if (d->displayState != VL_DISPSTATE_CLOSED) ClosePlatformWindow(L, d, nullptr, 0);
    while (vlDisplay* d = vlDisplayList) {
      vlDisplayList = d->next;
      ForgetEventTarget(d);
      FreeRecord(L, d, 0);
    }
    gDisplayIndex.Clear();
    gCurrentDisplay = nullptr;
  }
  FreeAllMenus(L);
  FreeDisplayBlitCache();
  FreeDisplayIcons();
}

void SelectDisplayRecord(vlVMState* L, vlDisplay* d, int noActivate) {
  if (d == gCurrentDisplay) return;
  vlDisplay* old = gCurrentDisplay;
  if (old && old->outputType != VL_OUTPUT_DISPLAY && CanEndSelection(old)) LeaveSelectMode(L, old, 1);
  if (d->displayState == VL_DISPSTATE_OPEN && !noActivate) ActivateDisplayWindow(d, 1);
  gCurrentDisplay = d;
  vlCurrentOutput = (d->outputType != VL_OUTPUT_DISPLAY && !CanEndSelection(d)) ? d->savedOutput : d->bgpic;
}
