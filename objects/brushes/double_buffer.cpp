// Double buffering: drawing commands go into an off-screen back buffer
// (through a BGPic record that targets it) and Flip shows the changed
// rectangles at once. A display adapter that offers it does the buffering
// itself: drawing then goes to the display as usual and the adapter holds
// it back until Flip.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <new>
#include <utility>
#include <vector>

#include "display/bgpic.h"
#include "display/display.h"
#include "display/layer_hooks.h"
#include "display/layers/layers.h"
#include "graphics/adapter.h"
#include "graphics/adapter_bitmap.h"
#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "graphics/presentation.h"
#include "objects/anims/anim.h"
#include "objects/brushes/brush.h"
#include "objects/brushes/brush_commands.h"
#include "platform/display_adapter.h"
#include "platform/display_device.h"
#include "abi/plugin_abi.h"
#include "runtime/error_vm.h"
#include "vm/argreaders.h"
#include "vm/error_codes.h"

namespace {

bool Scaled(const vlDisplay* d) {
  return (d->scaleX != 1.0 || d->scaleY != 1.0) && d->scaleX != 0 && d->scaleY != 0;
}

bool DirtyFull(const vlDisplay* d) { return IsAllDirty(d->dirty); }

// The screen shows 60 frames a second; the wait ends where the next one
// begins, so a loop that flips once a frame keeps the screen's pace
// whatever its drawing costs, up to a frame.
void WaitDisplayVBlank() {
  constexpr int64_t kFrameMicros = 16667;
  const int64_t now = std::chrono::duration_cast<std::chrono::microseconds>(
                          std::chrono::steady_clock::now().time_since_epoch())
                          .count();
  usleep(static_cast<useconds_t>((now / kFrameMicros + 1) * kFrameMicros - now));
}

// Sends a double buffer's bitmap (its changed rectangles, or all of it) to
// the window. A display the adapter marked takes whole frames; where its
// BGPic is larger than the double buffer, the rest comes from the front
// copy.
void PresentBackBuffer(vlDisplay* d, vlBitmap* pic) {
  if (!pic || !d->dbBGPic) return;
  const int32_t w = std::min(d->dbBGPic->width, d->bgpic->width);
  const int32_t h = std::min(d->dbBGPic->height, d->bgpic->height);
  const bool marked = (d->styleFlags & VL_DISPSTYLE_ADAPTERCAP1) != 0;
  if (Scaled(d) || DirtyFull(d) || marked) {
    UpdateDisplayRect(pic, 0, 0, d, 0, 0, w, h, 0);
    if (marked && !Scaled(d) && d->front) {
      const int32_t bw = d->bgpic->width, bh = d->bgpic->height;
      if (bw > w) UpdateDisplayRect(d->front, w, 0, d, w, 0, bw - w, bh, 0);
      if (bh > h) UpdateDisplayRect(d->front, 0, h, d, 0, h, w, bh - h, 0);
    }
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

// The back buffer: the adapter's picture when a hardware one is asked for
// and the adapter makes them, else one the server can read from our
// memory (the buffers trade pixels at Flip).
vlBitmap* NewBackBuffer(vlDisplay* d, int32_t w, int32_t h, bool hardware) {
  vlBitmap* b = nullptr;
  if (hardware && AdapterHas(VL_ADAPTER_VIDEO_BITMAPS)) {
    const vlTagItem tags[] = {{VL_VBM_DISPLAY, reinterpret_cast<uintptr_t>(d->adapterHandle)}, {VL_TAG_END, 0}};
    b = NewVideoBitmap(w, h, VL_VBM_VIDEO, d->adapterHandle ? tags : tags + 1);
  } else {
    b = NewBitmap(w, h, VL_NEWBITMAP_WINDOW, nullptr);
  }
  if (b) FillBitmapRect(b, 0, 0, w, h, 0);
  return b;
}

void CopyInto(vlBitmap* from, vlBitmap* to, int32_t w, int32_t h) {
  if (!from || !to || from == to) return;
  w = std::min({w, from->width, to->width});
  h = std::min({h, from->height, to->height});
  if (w > 0 && h > 0) BltBitmap(from, 0, 0, to, 0, 0, w, h);
}

void DeleteSpare(vlDisplay* d) {
  if (d->dbSpare) DeleteBitmap(d->dbSpare);
  d->dbSpare = nullptr;
  d->dbLastCount = 0;
}

void DeleteBuffers(vlDisplay* d) {
  if (d->savedSelectBitmap == d->dbBack) d->savedSelectBitmap = nullptr;
  if (d->dbPicture) DeleteBitmap(d->dbPicture);
  if (d->dbBack) DeleteBitmap(d->dbBack);
  d->dbPicture = d->dbBack = nullptr;
  DeleteSpare(d);
}

// The third store, made at the first Flip that trades pixels as a copy of
// the back buffer, which holds the frame before this one once traded: it
// then owes nothing of the last Flip.
void MakeSpare(vlDisplay* d) {
  vlBitmap* back = d->dbBack;
  if (d->dbSpare && (d->dbSpare->width != back->width || d->dbSpare->height != back->height)) DeleteSpare(d);
  if (d->dbSpare) return;
  d->dbSpare = NewBitmap(back->width, back->height, VL_NEWBITMAP_WINDOW, nullptr);
  if (!d->dbSpare) return;  // two stores do, waiting for the server more often
  CopyInto(back, d->dbSpare, back->width, back->height);
  d->dbLastCount = 0;
}

// Keeps the rectangles of this Flip for the next one; too many become
// their bounding box.
void RememberChanged(vlDisplay* d, const int32_t* rects, int32_t count, bool all) {
  if (all) {
    d->dbLastCount = -1;
    return;
  }
  if (count <= 16) {
    std::copy(rects, rects + 4 * count, d->dbLastChanged);
    d->dbLastCount = count;
    return;
  }
  int32_t x0 = INT32_MAX, y0 = INT32_MAX, x1 = INT32_MIN, y1 = INT32_MIN;
  for (int32_t i = 0; i < count; i++) {
    const int32_t* r = rects + 4 * i;
    x0 = std::min(x0, r[0]), y0 = std::min(y0, r[1]);
    x1 = std::max(x1, r[0] + r[2]), y1 = std::max(y1, r[1] + r[3]);
  }
  const int32_t box[4] = {x0, y0, x1 - x0, y1 - y0};
  std::copy(box, box + 4, d->dbLastChanged);
  d->dbLastCount = 1;
}

int BeginDoubleBuffer(vlDisplay* d, int hardware) {
  if (d->doubleBuffer) return ERR_ENDDOUBLEBUFFER;
  if (int status = CheckSelectionState()) return status;
  vlBGPic* shown = d->bgpic;
  if (!shown) return ERR_CLOSEDDISPLAY;
  if (d->layersOn || CountLayers(shown) > 0) return ERR_LAYERSOFF;
  if (vlRefreshSuspended) return ERR_BEGINREFRESH;
  if (shown->sprites) return ERR_NOSPRITES;
  if (shown->curMask || shown->curAlpha) return ERR_DBTRANSWIN;
  if (gLayerHooks.videoOnDisplay(d)) return ERR_VIDATTACHED;

  if (hardware && GetAdapterBitmapCaps(VL_ADAPTERCAP_DOUBLEBUFFER)) {
    // Clients render into the display's own picture, which an adapter's
    // buffering would hold back from them.
    if (d->clients) return ERR_SATELLITE;
    if (d->displayState != VL_DISPSTATE_OPEN) return ERR_CLOSEDDISPLAY;
    if (int status = BeginAdapterDoubleBuffer(d)) return status;
    // The display stays the drawing target: what is drawn reaches the
    // adapter, which shows it at Flip.
    DeleteBuffers(d);
    d->doubleBuffer = 1;
    d->hardwareDoubleBuffer = 1;
    d->hardwareBackBuffer = 0;
    return 0;
  }

  DeleteBuffers(d);
  const int32_t w = shown->width, h = shown->height;
  // The back buffer matches the BGPic; a scaled window gets the picture
  // scaled on its way out.
  const bool hardwareBack = hardware && QueryAdapterCaps(VL_ADAPTERCAP_HWBRUSHES) && !vlRecordingScreen;
  vlBitmap* picture = NewBackBuffer(d, w, h, false);
  vlBitmap* back = picture ? NewBackBuffer(d, w, h, hardwareBack) : nullptr;
  if (!back) {
    if (picture) DeleteBitmap(picture);
    return ERR_BITMAP;
  }
  if (!d->dbBGPic) d->dbBGPic = new (std::nothrow) vlBGPic{};
  if (!d->dbBGPic || AllocDirtyRects(d)) {
    DeleteBitmap(picture);
    DeleteBitmap(back);
    return ERR_MEM;
  }
  ClearDirtyRects(&d->dirty);
  d->dbPicture = picture;
  d->dbBack = back;
  vlBGPic* db = d->dbBGPic;
  InitBGPicRecord(db, VL_OBJ_BRUSH, nullptr, 0, vlObjectId{0, db}, back, nullptr, nullptr, w, h, 1);
  SwitchDisplayOutput(d, db, nullptr);
  d->savedOutput = db;  // what the display draws into when it becomes current again
  d->outputType = VL_OUTPUT_BRUSH;
  d->doubleBuffer = 1;
  d->hardwareDoubleBuffer = 0;
  d->hardwareBackBuffer = IsVideoBitmap(back);
  d->outputHardware = d->hardwareBackBuffer;
  d->selectBitmap = back;
  d->outputMask = d->outputAlpha = nullptr;
  return 0;
}

int Flip(vlDisplay* d, int sync) {
  if (!d->doubleBuffer) return ERR_NODOUBLEBUFFER;
  if (d->hardwareDoubleBuffer) return DisplayDevice(d)->flip(d, sync);
  vlBGPic* db = d->dbBGPic;
  if (sync) WaitDisplayVBlank();
  if (Scaled(d)) {
    // The picture is what the scaled window shows.
    BltBitmap(d->dbBack, 0, 0, d->dbPicture, 0, 0, db->width, db->height);
    PresentBackBuffer(d, d->dbPicture);
    ClearDirtyRects(&d->dirty);
    return 0;
  }
  if (d->hardwareBackBuffer) {
    // The adapter's picture reaches the window through ours: the changed
    // rectangles are copied over, then shown.
    const bool all = DirtyFull(d);
    if (!all) MergeDirtyRects(&d->dirty);
    for (int32_t i = 0; all ? i < 1 : i < d->dirty.count; i++) {
      vlRectXYWH r{0, 0, db->width, db->height};
      if (!all) {
        const int32_t* e = d->dirty.rects + 4 * i;
        if (e[0] == VL_DIRTY_MERGED) continue;
        r = {e[0], e[1], e[2] + 1 - e[0], e[3] + 1 - e[1]};
      }
      if (ClipRectToSize(&r, db->width, db->height) && r.width > 0 && r.height > 0)
        BltBitmap(d->dbBack, r.x, r.y, d->dbPicture, r.x, r.y, r.width, r.height);
    }
    PresentBackBuffer(d, d->dbPicture);
    ClearDirtyRects(&d->dirty);
    return 0;
  }
  // The frame goes out from the back buffer itself. Then the two buffers
  // trade their pixels: the picture (which an exposed window shows again)
  // holds the frame without a copy, and the back buffer owes the changed
  // rectangles, copied from the picture when it is next drawn into, unless
  // that drawing covers them (a frame drawn whole). The next frame is drawn
  // into pixels the server is not reading.
  if (!DirtyFull(d)) MergeDirtyRects(&d->dirty);
  PresentBackBuffer(d, d->dbBack);
  SendPresentation(true);
  std::vector<int32_t> changed;
  try {
    if (!DirtyFull(d)) {
      for (int32_t i = 0; i < d->dirty.count; i++) {
        const int32_t* e = d->dirty.rects + 4 * i;
        if (e[0] == VL_DIRTY_MERGED) continue;
        vlRectXYWH r{e[0], e[1], e[2] + 1 - e[0], e[3] + 1 - e[1]};
        if (ClipRectToSize(&r, db->width, db->height) && r.width > 0 && r.height > 0)
          changed.insert(changed.end(), {r.x, r.y, r.width, r.height});
      }
    }
  } catch (const std::bad_alloc&) {
    changed.clear();
    MarkAllDirty(&d->dirty);  // no room to list them: the whole frame changed
  }
  const int32_t whole[4] = {0, 0, db->width, db->height};
  const bool all = DirtyFull(d);
  const int32_t* rects = all ? whole : changed.data();
  const int32_t count = all ? 1 : static_cast<int32_t>(changed.size() / 4);
  if (SwapBitmapPixels(d->dbBack, d->dbPicture)) {
    // Three stores turn round: the picture takes the frame, the back buffer
    // the frame of two Flips ago (whose put the server has done: a frame
    // waits for the one before last), the third store the last frame. The
    // back buffer then owes what the last Flip and this one changed.
    MakeSpare(d);
    if (d->dbSpare && SwapBitmapPixels(d->dbBack, d->dbSpare)) {
      bool wholeOwed = all || d->dbLastCount < 0;
      std::vector<int32_t> owed;
      if (!wholeOwed) {
        try {
          owed.assign(d->dbLastChanged, d->dbLastChanged + 4 * d->dbLastCount);
          owed.insert(owed.end(), rects, rects + 4 * count);
        } catch (const std::bad_alloc&) {
          wholeOwed = true;
        }
      }
      if (wholeOwed)
        OweBitmapCopy(d->dbPicture, d->dbBack, whole, 1);
      else
        OweBitmapCopy(d->dbPicture, d->dbBack, owed.data(), static_cast<int32_t>(owed.size() / 4));
    } else {
      DeleteSpare(d);
      OweBitmapCopy(d->dbPicture, d->dbBack, rects, count);
    }
    RememberChanged(d, rects, count, all);
  } else {
    for (int32_t i = 0; i < count; i++) {
      const int32_t* r = rects + 4 * i;
      BltBitmap(d->dbBack, r[0], r[1], d->dbPicture, r[0], r[1], r[2], r[3]);
    }
  }
  ClearDirtyRects(&d->dirty);
  return 0;
}

}  // namespace

int BeginAdapterDoubleBuffer(vlDisplay* d) {
  return DisplayDevice(d)->beginBuffer(d);
}

int EndAdapterDoubleBuffer(vlDisplay* d) {
  return DisplayDevice(d)->endBuffer(d);
}

int AllocDisplayBackBuffer(vlDisplay* d, int32_t width, int32_t height, int noCopy) {
  if (d->hardwareDoubleBuffer || d->savedHardwareDoubleBuffer) return 0;
  vlBitmap* picture = NewBitmap(width, height, VL_NEWBITMAP_WINDOW, nullptr);
  if (!picture) return ERR_MEM;
  FillBitmapRect(picture, 0, 0, width, height, 0);
  if (d->dbPicture) DeleteBitmap(d->dbPicture);
  d->dbPicture = picture;
  if (!noCopy && d->displayState == VL_DISPSTATE_OPEN) UpdateDisplayRect(picture, 0, 0, d, 0, 0, width, height, 0);
  return 0;
}

int StopDoubleBuffer(vlVMState* L, vlDisplay* d) {
  // A selection made while double buffering hands the target back first.
  if (d->nestedSelect) LeaveSelectMode(L, d, 0);
  if (!d->doubleBuffer) return ERR_NODOUBLEBUFFER;
  if (d->hardwareDoubleBuffer) {
    if (int status = EndAdapterDoubleBuffer(d)) return status;
    d->doubleBuffer = 0;
    d->hardwareDoubleBuffer = 0;
    d->savedHardwareDoubleBuffer = 0;
    return 0;
  }
  vlBGPic* db = d->dbBGPic;
  // Normal drawing carries on from the last picture drawn.
  if (db) {
    CopyInto(d->dbBack, d->front, db->width, db->height);
    CopyInto(d->dbBack, d->back, db->width, db->height);
  }
  DeleteBuffers(d);
  SwitchDisplayOutput(d, d->bgpic, db);
  if (d->savedOutput == db) d->savedOutput = nullptr;
  delete db;
  d->dbBGPic = nullptr;
  ClearDirtyRects(&d->dirty);
  d->selectBitmap = nullptr;
  d->outputMask = d->outputAlpha = nullptr;
  d->outputType = VL_OUTPUT_DISPLAY;
  d->outputHardware = 0;
  d->doubleBuffer = 0;
  d->hardwareDoubleBuffer = 0;
  d->hardwareBackBuffer = 0;
  d->savedHardwareDoubleBuffer = 0;
  return 0;
}

int CmdBeginDoubleBuffer(vlVMState* L) {
  CheckArgs(L, 0, 1, 0, 0);
  // A hardware request that the adapter cannot serve runs in software.
  const int hardware = vl::OptIntArg(L, 1, 0);
  vlDisplay* d = CurrentDisplay();
  if (!d) return ERR_CLOSEDDISPLAY;
  return BeginDoubleBuffer(d, hardware);
}

int CmdEndDoubleBuffer(vlVMState* L) {
  CheckArgs(L, 0, 0, 0, 0);
  vlDisplay* d = CurrentDisplay();
  if (!d) return ERR_CLOSEDDISPLAY;
  return StopDoubleBuffer(L, d);
}

int CmdFlip(vlVMState* L) {
  CheckArgs(L, 0, 1, 0, 0);
  const int sync = vl::OptIntArg(L, 1, 1);
  vlDisplay* d = CurrentDisplay();
  if (!d) return ERR_CLOSEDDISPLAY;
  return Flip(d, sync);
}

namespace {

// back takes the place of the double buffer's back buffer: drawing goes
// into it from now on.
void ReplaceBackBuffer(vlDisplay* d, vlBitmap* back) {
  vlBitmap* old = d->dbBack;
  if (d->savedSelectBitmap == old) d->savedSelectBitmap = back;
  if (d->selectBitmap == old) d->selectBitmap = back;
  DeleteBitmap(old);
  d->dbBack = back;
  DeleteSpare(d);
  vlBGPic* db = d->dbBGPic;
  InitBGPicRecord(db, VL_OBJ_BRUSH, nullptr, 0, vlObjectId{0, db}, back, nullptr, nullptr, back->width, back->height,
                  1);
  // A selection made meanwhile keeps its own target.
  if (!d->nestedSelect) d->outputHardware = IsVideoBitmap(back);
}

// A hardware back buffer is the adapter's picture for the display's
// window: before the window goes it becomes ours, with its pixels, and
// the new window's adapter picture takes them back. False when the new
// buffer cannot be made (the old one stays).
bool MoveBackBuffer(vlDisplay* d, bool toAdapter) {
  vlBitmap* old = d->dbBack;
  vlBitmap* moved = NewBackBuffer(d, old->width, old->height, toAdapter);
  if (moved && toAdapter != IsVideoBitmap(moved)) {
    DeleteBitmap(moved);
    moved = nullptr;
  }
  if (!moved) return false;
  CopyInto(old, moved, old->width, old->height);
  ReplaceBackBuffer(d, moved);
  return true;
}

// The display's BGPic changed size under a software double buffer: the
// back buffer follows it (keeping what overlaps), the picture is made anew
// and the next Flip sends the whole frame.
int ResizeDoubleBuffer(vlVMState*, vlDisplay* d, int noCopy) {
  vlBGPic* db = d->dbBGPic;
  vlBGPic* shown = d->bgpic;
  if (!db || !shown || !d->dbBack) return 0;
  const int32_t w = shown->width, h = shown->height;
  if (w == db->width && h == db->height && d->dbPicture && d->dbPicture->width == w && d->dbPicture->height == h)
    return 0;
  vlBitmap* back = NewBackBuffer(d, w, h, d->hardwareBackBuffer);
  if (!back) return ERR_MEM;
  CopyInto(d->dbBack, back, w, h);
  if (int status = AllocDisplayBackBuffer(d, w, h, noCopy)) {
    DeleteBitmap(back);
    return status;
  }
  ReplaceBackBuffer(d, back);
  MarkAllDirty(&d->dirty);
  return 0;
}

// A display's window closing to be opened again ends the adapter's double
// buffer before the hardware brushes are read back; once the window is
// back, after the brushes, the double buffer is begun again. Should the
// adapter refuse, double buffering is off and its error is reported.
int DisplayBuffersAndBrushes(vlVMState* L, vlDisplay* d, int op) {
  const bool adapterBuffer = d->hardwareDoubleBuffer || d->savedHardwareDoubleBuffer;
  int status = 0;
  if (op == VL_DISPBRUSHES_SAVE && adapterBuffer) status = EndAdapterDoubleBuffer(d);
  if (d->hardwareBackBuffer && d->dbBack) {
    if (op == VL_DISPBRUSHES_SAVE && IsVideoBitmap(d->dbBack) && !MoveBackBuffer(d, false) && !status) status = ERR_MEM;
    // Without a picture from the new window's adapter the buffer stays ours.
    if (op == VL_DISPBRUSHES_RESTORE && !IsVideoBitmap(d->dbBack) && !MoveBackBuffer(d, true))
      d->hardwareBackBuffer = 0;
  }
  if (int brushes = DisplayHardwareBrushes(L, d, op); brushes && !status) status = brushes;
  if (op == VL_DISPBRUSHES_RESTORE && adapterBuffer) {
    if (int begun = BeginAdapterDoubleBuffer(d)) {
      // A selection made meanwhile returns to plain drawing on the display.
      d->doubleBuffer = 0;
      d->hardwareDoubleBuffer = 0;
      d->savedHardwareDoubleBuffer = 0;
      d->nestedSelect = 0;
      if (!status) status = begun;
    }
  }
  return status;
}

}  // namespace

void InstallDoubleBufferHooks() {
  gLayerHooks.stopDoubleBuffer = [](vlVMState* L, vlDisplay* d) { StopDoubleBuffer(L, d); };
  gLayerHooks.resizeDoubleBuffer = ResizeDoubleBuffer;
  gLayerHooks.displayBrushes = DisplayBuffersAndBrushes;
}
