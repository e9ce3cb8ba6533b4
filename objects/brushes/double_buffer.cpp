// Double buffering: drawing commands go into an off-screen back buffer
// (through a BGPic record that targets it) and Flip shows the changed
// rectangles at once. Without a display adapter the buffering is always
// done in software.
#include <algorithm>
#include <new>

#include "display/bgpic.h"
#include "display/display.h"
#include "display/layer_hooks.h"
#include "display/layers/layers.h"
#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "objects/anims/anim.h"
#include "objects/brushes/brush.h"
#include "objects/brushes/brush_commands.h"
#include "runtime/error_vm.h"
#include "vm/argreaders.h"
#include "vm/error_codes.h"

namespace {

bool Scaled(const vlDisplay* d) {
  return (d->scaleX != 1.0 || d->scaleY != 1.0) && d->scaleX != 0 && d->scaleY != 0;
}

bool DirtyFull(const vlDisplay* d) { return d->dirty.count >= d->dirty.capacity; }

// Sends the double-buffer picture (its changed rectangles, or all of it)
// to the window.
void PresentBackBuffer(vlDisplay* d) {
  vlBitmap* pic = d->dbPicture;
  if (!pic || !d->dbBGPic) return;
  const int32_t w = std::min(d->dbBGPic->width, d->bgpic->width);
  const int32_t h = std::min(d->dbBGPic->height, d->bgpic->height);
  if (Scaled(d) || DirtyFull(d) || (d->styleFlags & VL_DISPSTYLE_ADAPTERCAP1)) {
    UpdateDisplayRect(pic, 0, 0, d, 0, 0, w, h, 0);
    return;
  }
  for (int32_t i = 0; i < d->dirty.count; i++) {
    const int32_t* e = d->dirty.rects + 4 * i;
    if (e[0] == VL_DIRTY_MERGED) continue;
    vlRectXYWH r{e[0], e[1], e[2] + 1 - e[0], e[3] + 1 - e[1]};
    if (ClipRectToSize(&r, w, h) && r.width > 0 && r.height > 0)
      UpdateDisplayRect(pic, r.x, r.y, d, r.x, r.y, r.width, r.height, 0);
  }
}

void DeleteBuffers(vlDisplay* d) {
  if (d->savedSelectBitmap == d->dbBack) d->savedSelectBitmap = nullptr;
  if (d->dbPicture) DeleteBitmap(d->dbPicture);
  if (d->dbBack) DeleteBitmap(d->dbBack);
  d->dbPicture = d->dbBack = nullptr;
}

void CopyInto(vlBitmap* from, vlBitmap* to, int32_t w, int32_t h) {
  if (!from || !to || from == to) return;
  w = std::min({w, from->width, to->width});
  h = std::min({h, from->height, to->height});
  if (w > 0 && h > 0) BltBitmap(from, 0, 0, to, 0, 0, w, h);
}

int BeginDoubleBuffer(vlDisplay* d) {
  if (int status = CheckSelectionState()) return status;
  vlBGPic* shown = d->bgpic;
  if (!shown) return ERR_CLOSEDDISPLAY;
  if (d->layersOn || gLayerHooks.countLayers(shown) > 0) return ERR_LAYERSOFF;
  if (vlRefreshSuspended) return ERR_BEGINREFRESH;
  if (shown->sprites) return ERR_NOSPRITES;
  if (shown->curMask || shown->curAlpha) return ERR_DBTRANSWIN;
  if (gLayerHooks.videoOnDisplay(d)) return ERR_VIDATTACHED;

  DeleteBuffers(d);
  const int32_t w = shown->width, h = shown->height;
  // The back buffer matches the BGPic; a scaled window gets the picture
  // scaled on its way out.
  vlBitmap* picture = NewBitmap(w, h, 0, nullptr);
  vlBitmap* back = picture ? NewBitmap(w, h, 0, nullptr) : nullptr;
  if (!back) {
    if (picture) DeleteBitmap(picture);
    return ERR_BITMAP;
  }
  FillBitmapRect(picture, 0, 0, w, h, 0);
  FillBitmapRect(back, 0, 0, w, h, 0);
  if (!d->dbBGPic) d->dbBGPic = new (std::nothrow) vlBGPic{};
  if (!d->dbBGPic || AllocDirtyRects(d)) {
    DeleteBitmap(picture);
    DeleteBitmap(back);
    return ERR_MEM;
  }
  d->dirty.count = 0;
  d->dbPicture = picture;
  d->dbBack = back;
  vlBGPic* db = d->dbBGPic;
  InitBGPicRecord(db, VL_OBJ_BRUSH, nullptr, 0, vlObjectId{0, db}, back, nullptr, nullptr, w, h, 1);
  if (d == vlCurrentDisplay) vlCurrentOutput = db;
  d->savedOutput = db;  // what the display draws into when it becomes current again
  d->outputType = VL_OUTPUT_BRUSH;
  d->doubleBuffer = 1;
  d->hardwareDoubleBuffer = 0;
  d->selectBitmap = back;
  d->outputMask = d->outputAlpha = nullptr;
  return 0;
}

int Flip(vlDisplay* d) {
  if (!d->doubleBuffer) return ERR_NODOUBLEBUFFER;
  vlBGPic* db = d->dbBGPic;
  if (DirtyFull(d) || Scaled(d)) {
    BltBitmap(d->dbBack, 0, 0, d->dbPicture, 0, 0, db->width, db->height);
  } else {
    MergeDirtyRects(&d->dirty);
    for (int32_t i = 0; i < d->dirty.count; i++) {
      const int32_t* e = d->dirty.rects + 4 * i;
      if (e[0] == VL_DIRTY_MERGED) continue;
      vlRectXYWH r{e[0], e[1], e[2] + 1 - e[0], e[3] + 1 - e[1]};
      if (ClipRectToSize(&r, db->width, db->height) && r.width > 0 && r.height > 0)
        BltBitmap(d->dbBack, r.x, r.y, d->dbPicture, r.x, r.y, r.width, r.height);
    }
  }
  PresentBackBuffer(d);
  d->dirty.count = 0;
  return 0;
}

}  // namespace

int StopDoubleBuffer(vlVMState* L, vlDisplay* d) {
  // A selection made while double buffering hands the target back first.
  if (d->nestedSelect) LeaveSelectMode(L, d, 0);
  if (!d->doubleBuffer) return ERR_NODOUBLEBUFFER;
  vlBGPic* db = d->dbBGPic;
  // Normal drawing carries on from the last picture drawn.
  if (db) {
    CopyInto(d->dbBack, d->front, db->width, db->height);
    CopyInto(d->dbBack, d->back, db->width, db->height);
  }
  DeleteBuffers(d);
  if (vlCurrentOutput == db || d == vlCurrentDisplay) vlCurrentOutput = d->bgpic;
  if (d->savedOutput == db) d->savedOutput = nullptr;
  delete db;
  d->dbBGPic = nullptr;
  d->dirty.count = 0;
  d->selectBitmap = nullptr;
  d->outputMask = d->outputAlpha = nullptr;
  d->outputType = VL_OUTPUT_DISPLAY;
  d->doubleBuffer = 0;
  d->hardwareDoubleBuffer = 0;
  d->savedHardwareDoubleBuffer = 0;
  return 0;
}

int CmdBeginDoubleBuffer(vlVMState* L) {
  CheckArgs(L, 0, 1, 0, 0);
  // Without a display adapter there are no video bitmaps: a hardware
  // request is served in software.
  (void)vl::OptIntArg(L, 1, 0);
  vlDisplay* d = vlCurrentDisplay;
  if (!d) return ERR_CLOSEDDISPLAY;
  return BeginDoubleBuffer(d);
}

int CmdEndDoubleBuffer(vlVMState* L) {
  CheckArgs(L, 0, 0, 0, 0);
  vlDisplay* d = vlCurrentDisplay;
  if (!d) return ERR_CLOSEDDISPLAY;
  return StopDoubleBuffer(L, d);
}

int CmdFlip(vlVMState* L) {
  CheckArgs(L, 0, 1, 0, 0);
  (void)vl::OptIntArg(L, 1, 1);  // no vertical blank to wait for on X11
  vlDisplay* d = vlCurrentDisplay;
  if (!d) return ERR_CLOSEDDISPLAY;
  return Flip(d);
}

void InstallDoubleBufferHooks() {
  gLayerHooks.stopDoubleBuffer = [](vlVMState* L, vlDisplay* d) { StopDoubleBuffer(L, d); };
}
