// The engine behind changes of an existing display: applying a new
// attribute table on copies of the record, and resizing.
#include "display/display_change.h"

#include <cstdlib>
#include <cstring>

#include "display/backfill.h"
#include "display/bgpic.h"
#include "display/display.h"
#include "display/display_scaling.h"
#include "display/display_tags.h"
#include "display/display_window.h"
#include "display/layer_hooks.h"
#include "display/monitors.h"
#include "graphics/bitmap.h"
#include "graphics/position.h"
#include "platform/display_adapter.h"
#include "platform/display_device.h"
#include "platform/x11/x11_window.h"
#include "runtime/event_queue.h"
#include "runtime/threads.h"
#include "abi/plugin_abi.h"
#include "vm/error_codes.h"

namespace {

bool HasScaleSize(const vlDisplay* d) { return d->scaleWidth > 0 && d->scaleHeight > 0; }
bool Shaped(const vlBGPic* p) { return p && (p->dispMask || p->dispAlpha); }

// A BGPic's display copy made at a scale size for scaled layers goes, and
// the BGPic shows its own picture again; true when there was one.
bool UnscaleDisplayCopy(vlBGPic* p) {
  if (p->dispBitmap == p->curBitmap && p->dispMask == p->curMask && p->dispAlpha == p->curAlpha) return false;
  FreeBGPicDisplayPlanes(p);
  p->dispBitmap = p->curBitmap;
  p->dispMask = p->curMask;
  p->dispAlpha = p->curAlpha;
  p->dispWidth = p->width;
  p->dispHeight = p->height;
  return true;
}

void DropShapePlanes(vlDisplay* d) {
  if (d->shapeMask) DeleteMaskPlane(d->shapeMask);
  if (d->shapeAlpha) DeleteAlphaPlane(d->shapeAlpha);
  d->shapeMask = d->shapeAlpha = nullptr;
}

void ResetCursor(vlDisplay* d) {
  int32_t* target = d->selectEntered ? d->savedCursor : nullptr;
  int32_t right = d->bgpic ? d->bgpic->width - 1 : d->width - 1;
  if (target) {
    target[0] = target[1] = target[2] = 0;
    target[3] = right;
  } else {
    d->cursorX = d->cursorY = d->marginLeft = 0;
    d->marginRight = right;
  }
}

// The videos follow a scaled display: with layer scaling, or with auto
// scaling where the player scales them (not under an adapter).
void FollowWithVideos(vlVMState* L, vlDisplay* d) {
  if (d->layerScale || (d->autoScale && DisplayDeviceDoes(d, VL_DEVICE_SCALES_VIDEO)))
    gLayerHooks.scaleDisplayVideos(L, d);
}

void MoveWindow(vlDisplay* d) { DisplayDevice(d)->sizeMove(d); }

void SetTitle(vlDisplay* d) { DisplayDevice(d)->setTitle(d); }

// Flag bits whose change needs a new window.
constexpr uint32_t kRebuildBits = 0x2 | 0x4 | 0x20 | 0x2000 | 0x4000 | 0x8000 | 0x10000 | 0x40000 | 0x80000 |
                                  0x100000 | 0x200000;

}  // namespace

void ApplyResizedWindow(vlDisplay* d) {
  // Default regions follow the new size; given ones are rescaled to it.
  SetDefaultRegions(d);
  DisplayDevice(d)->moveResize(d);
}

int ResizeOpenDisplay(vlVMState* L, vlDisplay* d, int32_t x, int32_t y, int32_t width, int32_t height,
                      int fromScript, int smooth, int noRefresh, int noNotify) {
  vlBGPic* pic = d->bgpic;
  if (!pic) return 0;
  if (int status = gLayerHooks.detachBGPicUsers(L, pic)) return status;
  const bool open = d->displayState == VL_DISPSTATE_OPEN;
  if (d->layerScale && HasScaleSize(d) && fromScript) {
    if (width != pic->width || height != pic->height) {
      if (int status = ResizeBGPicPlanes(L, pic, width, height, smooth)) return status;
      if (int status = RescaleDisplayBGPic(L, d, pic, 1)) return status;
    }
    d->scaleX = static_cast<double>(d->scaleWidth) / pic->width;
    d->scaleY = static_cast<double>(d->scaleHeight) / pic->height;
    gLayerHooks.rerenderLayers(L, d, pic);
    ResetCursor(d);
    if (!noRefresh && open) RefreshDisplayObject(L, d, 0);
    FollowWithVideos(L, d);
    if (!noNotify) NotifyDisplayObservers(d, d->width, d->height);
    return 0;
  }
  // A window the X server cannot make at that size is refused before
  // anything changes (the window of an auto-scaled display keeps its size).
  if (fromScript && open && !Shaped(pic) && !(d->autoScale && HasScaleSize(d)) &&
      DisplayDeviceDoes(d, VL_DEVICE_X_SERVER))
    if (int status = CheckDisplaySize(width, height)) return status;
  d->width = width;
  d->height = height;
  if (!fromScript && (d->autoScale || d->layerScale)) ComputeLetterbox(d, pic, width, height);
  if (fromScript && !(d->autoScale && HasScaleSize(d))) {
    int32_t mw = 0, mh = 0, mx = 0, my = 0;
    GetDisplayMonitorRect(d, &mx, &my, &mw, &mh);
    if (x != 100000) {
      d->x = ResolvePosX(x, width + d->frameWidth, mw, 0) + mx;
      d->monitorRelativeX = 0;
    }
    if (y != 100000) {
      d->y = ResolvePosY(y, height + d->frameHeight, mh, 0) + my;
      d->monitorRelativeY = 0;
    }
  }
  if (!Shaped(pic) && !noRefresh && open) ApplyResizedWindow(d);

  if (d->autoScale && !fromScript) {
    DropShapePlanes(d);
    d->scaleX = static_cast<double>(d->scaleWidth) / pic->width;
    d->scaleY = static_cast<double>(d->scaleHeight) / pic->height;
    if ((d->scaleX != 1.0 || d->scaleY != 1.0) && Shaped(pic))
      UpdateDisplayScaleForBGPic(L, d, pic, &d->shapeMask, &d->shapeAlpha);
  } else if (d->layerScale && !fromScript) {
    if (pic->dispWidth != d->scaleWidth || pic->dispHeight != d->scaleHeight) {
      // The BGPic a running effect's layer stands in for is drawn at the
      // scale size too and marked as that effect's; changed, the effect
      // draws it again. The shown BGPic's rescale then gives the display
      // its factors.
      if (vlBGPic* emu = gLayerHooks.standInBGPic(); emu && emu != pic) {
        if (int status = RescaleDisplayBGPic(L, d, emu, 0)) return status;
        emu->asyncMark = 1;
        emu->changed = 1;
      }
      if (int status = RescaleDisplayBGPic(L, d, pic, 1)) return status;
    } else {
      d->scaleX = d->scaleY = 1.0;
      gLayerHooks.rerenderLayers(L, d, pic);
    }
  } else {
    if (int status = ResizeBGPicPlanes(L, pic, width, height, smooth)) return status;
    if (d->autoScale && HasScaleSize(d)) {
      d->scaleX = static_cast<double>(d->scaleWidth) / pic->width;
      d->scaleY = static_cast<double>(d->scaleHeight) / pic->height;
      d->width = d->scaleWidth;
      d->height = d->scaleHeight;
    }
    if (int status = SetDisplayBGPicCopies(d, pic)) return status;
  }
  // A software double buffer gets buffers of the new size and shows them
  // in place of the display's own picture.
  const bool buffered = d->doubleBuffer && !d->hardwareDoubleBuffer && !d->nestedSelect;
  if (buffered)
    if (int status = gLayerHooks.resizeDoubleBuffer(L, d, noRefresh || !open)) return status;
  if (!noRefresh && open) {
    if (Shaped(pic) && DisplayDeviceDoes(d, VL_DEVICE_SHAPES)) {
      int activate = d->activateOnOpen;
      ClosePlatformWindow(L, d, nullptr, 1);
      if (int status = OpenPlatformWindow(L, d, activate, 1)) return status;
    } else if (!buffered) {
      RefreshDisplayObject(L, d, 0);
    }
  }
  ResetCursor(d);
  FollowWithVideos(L, d);
  if (!noNotify) NotifyDisplayObservers(d, d->width, d->height);
  return 0;
}

int ApplyDisplayAttributes(vlVMState* L, int table, vlDisplay* d, int keep) {
  auto* nd = static_cast<vlDisplay*>(std::malloc(sizeof(vlDisplay)));
  auto* old = static_cast<vlDisplay*>(std::malloc(sizeof(vlDisplay)));
  if (!nd || !old) {
    std::free(nd);
    std::free(old);
    return ERR_MEM;
  }
  if (d->mutex) LockMutex(d->mutex);
  std::memcpy(old, d, sizeof *d);
  std::memcpy(nd, d, sizeof *d);
  if (d->mutex) UnlockMutex(d->mutex);
  FixDisplayTextPointers(nd);
  vlBGPic* oldPic = d->bgpic;
  nd->width = oldPic->width;
  nd->height = oldPic->height;
  int scaleGiven = 0, orientationGiven = 0;
  // Both copies go when a key of the wrong type stops the script from
  // inside the parsing; afterwards the paths below free them.
  struct Held {
    vlDisplay *copy, *saved;
    ~Held() {
      std::free(copy);
      std::free(saved);
    }
  } held{nd, old};
  int status = ParseDisplayTags(L, table, nd, 0, &scaleGiven, &orientationGiven);
  held.copy = held.saved = nullptr;
  if (status) {
    std::free(nd);
    std::free(old);
    return status;
  }
  vlBGPic* newPic = nd->bgpic != oldPic ? nd->bgpic : nullptr;
  const bool hasScale = (nd->styleFlags & (VL_DISPSTYLE_AUTOSCALE | VL_DISPSTYLE_LAYERSCALE)) != 0;
  if (!hasScale) {
    nd->scaleWidth = nd->scaleHeight = 0;
    nd->borderLeft = nd->borderTop = nd->borderRight = nd->borderBottom = 0;
  } else if (!scaleGiven) {
    nd->scaleWidth = old->scaleWidth;
    nd->scaleHeight = old->scaleHeight;
  }
  const bool scaling = hasScale && HasScaleSize(nd) &&
                       (nd->scaleWidth != old->scaleWidth || nd->scaleHeight != old->scaleHeight ||
                        nd->autoScale != old->autoScale || nd->layerScale != old->layerScale);
  const int32_t wantW = nd->width, wantH = nd->height;
  const bool remake = !newPic && (wantW != oldPic->width || wantH != oldPic->height);
  const bool sizeChanged = newPic ? (newPic->width != oldPic->width || newPic->height != oldPic->height) : remake;
  if (nd->x == 99999) nd->x = sizeChanged ? VL_POS_CENTER : old->x;
  if (nd->y == 99999) nd->y = sizeChanged ? VL_POS_CENTER : old->y;
  const bool xChanged = nd->x != old->x, yChanged = nd->y != old->y;

  // Write the new values back; sizes change through the resize paths. A
  // playing video's thread queues frames on the display meanwhile and
  // frees the ones it replaces: the lock and the live queue stay, or a
  // frame freed since the copy was made would come back.
  if (d->mutex) LockMutex(d->mutex);
  {
    auto* to = reinterpret_cast<unsigned char*>(d);
    const auto* from = reinterpret_cast<const unsigned char*>(nd);
    const size_t liveFrom = reinterpret_cast<unsigned char*>(&d->mutex) - to;
    const size_t liveTo = reinterpret_cast<unsigned char*>(&d->framesSentAt + 1) - to;
    std::memcpy(to, from, liveFrom);
    std::memcpy(to + liveTo, from + liveTo, sizeof *d - liveTo);
  }
  std::free(nd);
  FixDisplayTextPointers(d);
  d->bgpic = oldPic;
  d->width = old->width;
  d->height = old->height;
  if (d->mutex) UnlockMutex(d->mutex);
  if ((d->styleFlags ^ old->styleFlags) & VL_DISPSTYLE_BORDERLESS) DetermineDisplayBorders(d);

  if (newPic) {
    gLayerHooks.stopDisplayVideos(L, d);
    gLayerHooks.stopDoubleBuffer(L, d);
    if (d->outputType != VL_OUTPUT_DISPLAY && CanEndSelection(d)) LeaveSelectMode(L, d, 1);
    gLayerHooks.freeSpriteNodes(L, oldPic);
    gLayerHooks.freeAsyncDraws(L);
    oldPic->asyncMark = 0;
    // A BGPic the display made for itself is nobody else's: it goes with
    // the next sweep instead of staying unreachable until shut-down.
    // Out of memory for its new name: orphaned under the old one.
    if (d->ownBGPic && OrphanBGPic(oldPic)) oldPic->orphan = 1;
    d->ownBGPic = 0;
    d->bgpic = newPic;
    DropShapePlanes(d);
    if (newPic->backfill.present) d->backfill = newPic->backfill.desc;
    status = UpdateDisplayScaleForBGPic(L, d, newPic, &d->shapeMask, &d->shapeAlpha);
    if (!status) {
      if ((d->autoScale || d->layerScale) && HasScaleSize(d)) {
        d->width = d->scaleWidth;
        d->height = d->scaleHeight;
      } else {
        d->width = newPic->dispWidth;
        d->height = newPic->dispHeight;
      }
      status = SetDisplayBGPicCopies(d, newPic);
    }
    vlCurrentOutput = newPic;
    ResetCursor(d);
    if (d->layerScale && HasScaleSize(d)) gLayerHooks.rerenderLayers(L, d, newPic);
  } else if (oldPic->backfill.present &&
             std::memcmp(&oldPic->backfill.desc, &d->backfill, sizeof(vlBackfillDesc)) != 0) {
    const bool sameTexture = oldPic->backfill.desc.textureBrush.number == d->backfill.textureBrush.number &&
                             oldPic->backfill.desc.textureBrush.handle == d->backfill.textureBrush.handle;
    oldPic->backfill.desc = d->backfill;
    if (!sameTexture && oldPic->backfill.texture) {
      DeleteBitmap(oldPic->backfill.texture);
      oldPic->backfill.texture = nullptr;
    }
    status = FillBackfill(L, &oldPic->backfill, oldPic->loadBitmap, oldPic->loadWidth, oldPic->loadHeight, nullptr,
                          sameTexture);
    if (!status && oldPic->curBitmap != oldPic->loadBitmap)
      status = FillBackfill(L, &oldPic->backfill, oldPic->curBitmap, oldPic->width, oldPic->height, nullptr, 1);
    if (!status && oldPic->dispBitmap != oldPic->curBitmap)
      status = FillBackfill(L, &oldPic->backfill, oldPic->dispBitmap, oldPic->dispWidth, oldPic->dispHeight, nullptr,
                            1);
    oldPic->scalable = d->backfill.fillStyle == 2 || d->backfill.fillStyle == 3;
    if (!status) status = SetDisplayBGPicCopies(d, oldPic);
  }
  if (!status && !newPic && (remake || scaling)) {
    if (scaling && d->autoScale) {
      // The window enlarges the BGPic's own picture, not one made at the
      // scale size for scaled layers.
      if (old->layerScale) {
        if (UnscaleDisplayCopy(oldPic)) status = SetDisplayBGPicCopies(d, oldPic);
        d->scaleX = d->scaleY = 1.0;
        gLayerHooks.rerenderLayers(L, d, oldPic);
      }
      d->width = d->scaleWidth;
      d->height = d->scaleHeight;
      d->scaleX = static_cast<double>(d->scaleWidth) / oldPic->width;
      d->scaleY = static_cast<double>(d->scaleHeight) / oldPic->height;
      if (remake && !status) status = ResizeOpenDisplay(L, d, 100000, 100000, wantW, wantH, 1, d->smoothScale, 1, 0);
      if (!status && oldPic->width > 0) {
        d->scaleX = static_cast<double>(d->scaleWidth) / oldPic->width;
        d->scaleY = static_cast<double>(d->scaleHeight) / oldPic->height;
        d->width = d->scaleWidth;
        d->height = d->scaleHeight;
      }
    } else if (scaling && d->layerScale) {
      d->width = d->scaleWidth;
      d->height = d->scaleHeight;
      if (remake) status = ResizeBGPicPlanes(L, oldPic, wantW, wantH, d->smoothScale);
      if (!status) status = RescaleDisplayBGPic(L, d, oldPic, 1);
    } else {
      status = ResizeOpenDisplay(L, d, xChanged ? d->x : VL_POS_CENTER, yChanged ? d->y : VL_POS_CENTER, wantW,
                                 wantH, 1, d->smoothScale, 1, 0);
    }
  } else if (!status && !hasScale && (old->autoScale || old->layerScale)) {
    // Scaling switched off: the display shows its BGPic at its own size,
    // and scaled layers go back to their BGPic positions and pictures.
    d->scaleX = d->scaleY = 1.0;
    UnscaleDisplayCopy(oldPic);
    d->width = oldPic->width;
    d->height = oldPic->height;
    status = SetDisplayBGPicCopies(d, oldPic);
    if (old->layerScale) gLayerHooks.rerenderLayers(L, d, oldPic);
  }
  if (status) {
    std::free(old);
    return status;
  }

  const bool open = d->displayState == VL_DISPSTATE_OPEN;
  const bool shapedChange = (Shaped(oldPic) || Shaped(d->bgpic)) &&
                            (newPic || d->width != old->width || d->height != old->height);
  const bool positionChanged = d->x != old->x || d->y != old->y;
  const uint32_t flagChange = d->styleFlags ^ old->styleFlags;
  const bool rebuild = (flagChange & kRebuildBits) || ((flagChange & VL_DISPSTYLE_BORDERLESS) && positionChanged) ||
                       std::strcmp(d->xServer, old->xServer) != 0 || shapedChange;
  if (open && rebuild) {
    const int activate = old->activateOnOpen;
    const int32_t wasFull = old->fullScreen;
    ClosePlatformWindow(L, d, nullptr, 3);
    d->fullScreen = wasFull;
    if (!wasFull) {
      if (!positionChanged) {
        // The window goes where the old one was.
        d->x = old->x;
        d->y = old->y;
      }
      d->monitorRelativeX = d->monitorRelativeY = 0;
      if (d->x == VL_POS_CENTER || (xChanged && d->monitorIndex)) d->monitorRelativeX = 1;
      if (d->y == VL_POS_CENTER || (yChanged && d->monitorIndex)) d->monitorRelativeY = 1;
    }
    status = OpenPlatformWindow(L, d, activate, 1);
  } else if (open) {
    if ((flagChange & VL_DISPSTYLE_BORDERLESS) && !positionChanged) {
      // The inner area stays where it was.
      if (d->styleFlags & VL_DISPSTYLE_BORDERLESS) {
        d->x += old->frameLeft;
        d->y += old->frameTop;
      } else {
        d->x -= d->frameLeft;
        d->y -= d->frameTop;
      }
    }
    if (xChanged || yChanged) {
      d->monitorRelativeX = xChanged;
      d->monitorRelativeY = yChanged;
      ResolveWindowPosition(d, true);
    }
    if (d->width != old->width || d->height != old->height)
      ApplyResizedWindow(d);
    else if (d->x != old->x || d->y != old->y)
      MoveWindow(d);
    if (d->dragRegionsGiven || d->sizeRegionsGiven) SetDefaultRegions(d);
    if (std::strcmp(d->titleText, old->titleText) != 0) SetTitle(d);
    if (!keep) RefreshDisplayObject(L, d, 0);
    d->monitorRelativeX = d->monitorRelativeY = 0;
  } else {
    if (xChanged && d->monitorIndex) d->monitorRelativeX = 1;
    if (yChanged && d->monitorIndex) d->monitorRelativeY = 1;
    if (d->clients && (d->width != old->width || d->height != old->height)) {
      NotifyDisplayObservers(d, d->width, d->height);
      if (!keep) RefreshDisplayObject(L, d, 0);
    }
  }
  // Videos on the window follow every change of its size or scale (scaled
  // on, off or to another size), not only one the resize path made.
  if (!status && !newPic &&
      (d->scaleX != old->scaleX || d->scaleY != old->scaleY || d->width != old->width || d->height != old->height))
    gLayerHooks.scaleDisplayVideos(L, d);
  std::free(old);
  if (newPic) SweepOrphanBGPics(L);
  return status;
}
