// The display operations behind the X input translation's hooks.
#include "display/display_events.h"

#include <algorithm>

#include "display/clients.h"
#include "display/bgpic.h"
#include "display/display.h"
#include "display/display_change.h"
#include "display/display_window.h"
#include "display/layer_hooks.h"
#include "display/monitors.h"
#include "graphics/bitmap.h"
#include "graphics/position.h"
#include "graphics/presentation.h"
#include "platform/display_adapter.h"
#include "platform/event_pump.h"
#include "platform/x11/x11_input.h"

// The window system lost the window's pixels. Without layers the back
// buffer is all there is of what was drawn (brushes, effect frames so far):
// it goes out as it is; rebuilding it from the BGPic would wipe that.
void RefreshLostDisplay(vlVMState* L, vlDisplay* d) {
  if (!d->back || d->displayState != VL_DISPSTATE_OPEN) return;
  if (d->doubleBuffer && !d->hardwareDoubleBuffer && d->dbPicture && d->bgpic) {
    // Under a software double buffer the window showed the last frame
    // flipped, which neither the BGPic nor the back buffer holds.
    SettleHeldPresentation();  // it reaches the window before the borders
    ClearDisplayBorders(d);
    UpdateDisplayRect(d->dbPicture, 0, 0, d, 0, 0, std::min(d->dbPicture->width, d->bgpic->width),
                      std::min(d->dbPicture->height, d->bgpic->height), 9);
    return;
  }
  if (d->layersOn || d->doubleBuffer || !d->bgpic) {
    RefreshDisplayObject(L, d, 0);
    return;
  }
  SettleHeldPresentation();
  ClearDisplayBorders(d);
  UpdateDisplayRect(d->back, 0, 0, d, 0, 0, d->bgpic->dispWidth, d->bgpic->dispHeight, 9);
  gLayerHooks.redrawDisplayVideos(L, d);
}

int SwitchDisplayMode(vlVMState* L, vlDisplay* d, int full) {
  // Full screen at the display's own size; windowed again as it was.
  if (full) {
    d->screen.screenWidth = d->width;
    d->screen.screenHeight = d->height;
  }
  d->screen.mode = full ? VL_DISPMODE_FULLSCREEN : VL_DISPMODE_WINDOWED;
  return OpenDisplayWindow(L, d, VL_OPENWIN_REOPEN);
}

int ResizeDisplayToWindow(vlVMState* L, vlDisplay* d, int width, int height) {
  if (width == d->width && height == d->height) return 0;
  return ResizeOpenDisplay(L, d, VL_KEEPPOSITION, VL_KEEPPOSITION, width, height, 0, d->smoothScale, 0, 0);
}

namespace {
// The pump's turn after a command: the frames other threads queued, then
// the held redraw and the batch of puts once the batch is due.
int FlushFramesAndDueDrawing(vlVMState* L) {
  if (int status = FlushPendingDisplayFrames(L)) return status;
  SendPresentation(false);
  return 0;
}
}  // namespace

void InstallDisplayInput() {
  gX11InputHooks.flushPendingFrames = FlushFramesAndDueDrawing;
  gX11InputHooks.refreshDisplay = RefreshLostDisplay;
  gX11InputHooks.isFullscreenUnique = IsFullscreenUnique;
  gX11InputHooks.switchMode = SwitchDisplayMode;
  gX11InputHooks.resizeDisplay = ResizeDisplayToWindow;
  gInputBackend.handleInput = HandleX11Events;
}
