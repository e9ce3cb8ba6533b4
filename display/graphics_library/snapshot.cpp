// SaveSnapshot: a window, a display's contents or the desktop saved as a
// picture file; and SetDrawTagsDefault.
#include "display/bgpic.h"
#include "display/layers/engine_hooks.h"
#include "display/display.h"
#include "display/display_scaling.h"
#include "display/layers/draw_tags.h"
#include "display/graphics_library/graphics_state.h"
#include "display/layer_hooks.h"
#include "display/monitors.h"
#include "formats/image_save.h"
#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "graphics/display_blit.h"
#include "platform/display_adapter.h"
#include "runtime/error_vm.h"
#include "runtime/script_call.h"
#include "vm/argreaders.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

enum : int32_t { kSnapWindow = 0, kSnapDisplay = 1, kSnapDesktop = 2 };

// The display's BGPic with its layers and sprites, at the BGPic's size.
// On a display that scales its layers they are drawn from their records
// at the BGPic's size, not from those made at the scale size.
int RenderDisplay(vlVMState* L, vlDisplay* d, vlBitmap** out) {
  if (d->doubleBuffer && d->dbBack) {
    *out = nullptr;  // the double buffer's back buffer is saved as it is
    return 0;
  }
  vlBGPic* pic = d->bgpic;
  if (!pic) return ERR_WRONGUSAGE;
  vlBitmap* picture = NewBitmap(pic->width, pic->height, 0, nullptr);
  if (!picture) return ERR_BITMAP;
  const vlDisplayMapping map = GetDisplayMapping(d);
  // Without layers, drawing lands in the display's own picture and never
  // in the BGPic: that picture is what the display shows.
  vlBitmap* back = d->back;
  if (!d->layersOn && back && back->width == pic->width && back->height == pic->height)
    BltBitmap(back, 0, 0, picture, 0, 0, pic->width, pic->height);
  else
    RedrawBGPicLayers(L, d, pic, picture, 0, 0, pic->width, pic->height, map.bgpicRedrawMode);
  *out = picture;
  return 0;
}

int CmdSaveSnapshot(vlVMState* L) {
  CheckArgs(L, 2, 4, 0, 0);
  const char* file = GetFileNameArg(L, 1, 0, nullptr);
  int32_t type = vl::CheckIntArg(L, 2);
  int32_t format = vl::OptIntArg(L, 3, VL_IMGFMT_BMP);
  int32_t quality, colors, dither;
  ReadSaveOptions(L, 4, &quality, &colors, &dither);
  vlDisplay* d = CurrentDisplay();
  if (!d) return ERR_CLOSEDDISPLAY;
  vlBitmap* picture = nullptr;
  int32_t width = 0, height = 0;
  bool owned = true;
  switch (type) {
    case kSnapWindow: {
      if (d->openState != 1) return ERR_CLOSEDDISPLAY;
      width = d->width + d->frameWidth;
      height = d->height + d->frameHeight;
      if (int s = GrabDisplayPixels(d, d->x - d->frameLeft, d->y - d->frameTop, width, height, &picture)) return s;
      break;
    }
    case kSnapDisplay: {
      if (int s = RenderDisplay(L, d, &picture)) return s;
      if (!picture) {
        picture = d->dbBack;
        owned = false;
      }
      width = d->bgpic ? d->bgpic->width : d->width;
      height = d->bgpic ? d->bgpic->height : d->height;
      break;
    }
    case kSnapDesktop: {
      int32_t x = 0, y = 0;
      if (int s = GetDisplayMonitorRect(d, &x, &y, &width, &height)) return s;
      if (int s = GrabDisplayPixels(d, x, y, width, height, &picture)) return s;
      break;
    }
    default:
      return ERR_WRONGUSAGE;
  }
  int status = SaveBitmapImage(format, picture, width, height, file, nullptr, -1, nullptr, quality, colors, dither);
  if (owned) DeleteBitmap(picture);
  return status;
}

int CmdSetDrawTagsDefault(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  vl::CheckTableArg(L, 1);
  return SetDrawTagDefaults(L, 1);
}

}  // namespace

const vlCommand kGraphicsSnapshotCommands[] = {
    {"SaveSnapshot", CmdSaveSnapshot},
    {"SetDrawTagsDefault", CmdSetDrawTagsDefault},
    {nullptr, nullptr},
};
