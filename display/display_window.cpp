// Display windows: opening (with the mode choice, screen-mode switch and
// backdrop), closing (with the saved placement) and the one-time set-up
// once the screen's pixel format is known.
#include "display/display_window.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "display/backfill.h"
#include "display/bgpic.h"
#include "display/display.h"
#include "display/display_change.h"
#include "display/display_scaling.h"
#include "display/display_tags.h"
#include "display/icons.h"
#include "display/layer_hooks.h"
#include "display/monitors.h"
#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "graphics/geometry.h"
#include "graphics/picture_engines.h"
#include "graphics/position.h"
#include "graphics/display_blit.h"
#include "graphics/presentation.h"
#include "platform/display_adapter.h"
#include "platform/requesters.h"
#include "platform/x11/x11_connection.h"
#include "platform/x11/x11_window.h"
#include "runtime/console.h"
#include "runtime/errors.h"
#include "runtime/event_queue.h"
#include "runtime/object_data.h"
#include "runtime/option_readers.h"
#include "abi/plugin_abi.h"
#include "runtime/prefs.h"
#include "runtime/runtime_options.h"
#include "runtime/script_call.h"
#include "runtime/startup_records.h"
#include "runtime/tag_list.h"
#include "vm/call.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"
#include "platform/display_device.h"

int32_t vlDisplaySetupDone = 0;

namespace {

bool IsListedDisplay(const vlDisplay* d) {
  for (vlDisplay* e = vlDisplayList; d && e; e = e->next)
    if (e == d) return true;
  return false;
}

bool HasScaleMode(const vlDisplay* d) { return d->autoScale || d->layerScale; }

const char* AppId(vlVMState* L) {
  vlAppletInfo* applet = GetAppletRecord(L);
  return applet && applet->identifier[0] ? applet->identifier : nullptr;
}

// Writes the window placement under "__placement" -> the display number.
void SavePlacement(vlVMState* L, vlDisplay* d) {
  const char* app = AppId(L);
  if (!app) return;
  int top = vl::GetStackTop(L);
  vl::PushNewTable(L);
  int prefs = top + 1;
  LoadPrefsTable(L, prefs, app);
  vl::PushString(L, "__placement");
  vl::RawGetTableValue(L, prefs);
  if (vl::GetTypeAt(L, -1) != VL_TTABLE) {
    vl::SetStackTop(L, -2);
    vl::PushNewTable(L);
    vl::PushString(L, "__placement");
    vl::PushSlotCopy(L, -2);
    vl::RawSetTableValue(L, prefs);
  }
  int placement = vl::GetStackTop(L);
  vl::PushNewTable(L);
  SetTableInt(L, "active", d->fullScreen ? 0 : 1);
  if (!d->fullScreen) {
    SetTableInt(L, "x", d->x);
    SetTableInt(L, "y", d->y);
    SetTableInt(L, "width", d->width);
    SetTableInt(L, "height", d->height);
    SetTableInt(L, "scalewidth", d->scaleWidth);
    SetTableInt(L, "scaleheight", d->scaleHeight);
    SetTableInt(L, "autoscale", (d->styleFlags & VL_DISPSTYLE_AUTOSCALE) ? 1 : 0);
    SetTableInt(L, "layerscale", (d->styleFlags & VL_DISPSTYLE_LAYERSCALE) ? 1 : 0);
    SetTableInt(L, "sizeable", (d->styleFlags & VL_DISPSTYLE_SIZEABLE) ? 1 : 0);
    vl::PushString(L, "osdata");
    vl::PushBytes(L, reinterpret_cast<const char*>(d->osData ? d->osData : reinterpret_cast<const uint8_t*>("")),
                  d->osData ? d->osDataLength : 0);
    vl::RawSetTableValue(L, -3);
  }
  vl::RawSetTableIndex(L, placement, d->id().number);
  SavePrefsTable(L, prefs, app);
  vl::SetStackTop(L, top);
  d->restoreWidth = d->width;
  d->restoreHeight = d->height;
}

void ClampToMonitor(vlDisplay* /*d*/, int32_t* value, int32_t size, int32_t monitorSize, bool vertical) {
  *value = vertical ? ResolvePosY(*value, size, monitorSize, 0) : ResolvePosX(*value, size, monitorSize, 0);
}

int DrawBackdropPicture(vlVMState* L, const vlBackfillBlock& b, vlBitmap* target, int32_t mw, int32_t mh);

// The backdrop BGPic and display of a full-screen display.
int MakeBackdrop(vlVMState* L, vlDisplay* d) {
  int32_t mx, my, mw, mh;
  if (int status = GetDisplayMonitorRect(d, &mx, &my, &mw, &mh)) return status;
  const vlBackfillBlock& b = d->screen.backfill;
  vlObjectId picId{0, reinterpret_cast<void*>(uintptr_t{1})};
  vlBGPicBackfill fill{};
  fill.present = 1;
  if (b.type == 2) {
    fill.desc.fillStyle = 2;
    fill.desc.gradient = vlGradientDesc{};
    fill.desc.gradient.startColor = static_cast<uint32_t>(b.color < 0 ? 0 : b.color);
    fill.desc.gradient.endColor = static_cast<uint32_t>(b.endColor < 0 ? 0 : b.endColor);
  } else if (b.type == 3) {
    fill.desc.fillStyle = 3;
    fill.desc.textureBrush = {b.brush, nullptr};
  } else if (b.type == 4 && b.endColor != -1) {
    // A picture over a gradient from the start to the end colour.
    fill.desc.fillStyle = 2;
    fill.desc.gradient = vlGradientDesc{};
    fill.desc.gradient.startColor = static_cast<uint32_t>(b.color < 0 ? 0 : b.color);
    fill.desc.gradient.endColor = static_cast<uint32_t>(b.endColor);
  } else {
    fill.desc.fillStyle = 1;
    fill.desc.color = static_cast<uint32_t>(b.color < 0 ? 0 : b.color);
  }
  vlBitmap* bitmap = NewBitmap(mw, mh, 0, nullptr);
  if (!bitmap) return ERR_BITMAP;
  vlBGPic* pic = nullptr;
  int status = FillBackfill(L, &fill, bitmap, mw, mh, nullptr, 0);
  if (!status && b.type == 4) status = DrawBackdropPicture(L, b, bitmap, mw, mh);
  if (!status)
    status = AddBGPic(&picId, 0, mw, mh, mw, nullptr, bitmap, nullptr, -1, nullptr, nullptr, &fill, &pic);
  if (status) {
    DeleteBitmap(bitmap);
    if (fill.texture) DeleteBitmap(fill.texture);
    return status;
  }
  d->backdropBGPic = pic->id();
  int top = vl::GetStackTop(L);
  vl::PushString(L, "createdisplay");
  vl::GetTableValue(L, vl::kGlobalsIndex);
  vl::PushNil(L);
  vl::PushNewTable(L);
  SetTableInt(L, "y", 0);
  SetTableInt(L, "borderless", 1);
  SetTableInt(L, "fixed", 1);
  SetTableObjectID(L, "bgpic", pic->id());
  SetTableInt(L, "hidepointer", 1);
  SetTableInt(L, "monitor", d->monitorIndex + 1);
  SetTableInt(L, "__backfill", 1);
  if (d->xServer[0]) SetTableString(L, "xserver", d->xServer);
  status = vl::CallProtected(L, 2, 1, 0);
  // The global may be the script's own function by now: only a display
  // that exists is taken, and only while the one it backs still exists.
  if (!status && (!IsListedDisplay(static_cast<vlDisplay*>(vl::ToUserdataAt(L, -1))) || !IsListedDisplay(d))) {
    vl::SetStackTop(L, top);
    return ERR_WRONGUSAGE;
  }
  if (!status) {
    vlDisplay* backdrop = static_cast<vlDisplay*>(vl::ToUserdataAt(L, -1));
    d->backdropId = {0, backdrop};
    backdrop->ownerDisplay = d;
    backdrop->styleFlags |= d->styleFlags & VL_DISPSTYLE_FAKEFULLSCREEN;
    backdrop->x = 0;
    backdrop->y = 0;
    backdrop->fullScreen = d->fullScreen;
    backdrop->displayMode = d->displayMode;
    backdrop->monitorRelativeX = backdrop->monitorRelativeY = 1;
    status = OpenPlatformWindow(L, backdrop, 0, 1);
  }
  vl::SetStackTop(L, top);
  if (status) FreeBackdrop(L, d);
  return status;
}

// The backdrop's picture (a file, else a brush), scaled to the monitor
// when asked, drawn at the record's position through its alpha or mask.
int DrawBackdropPicture(vlVMState* L, const vlBackfillBlock& b, vlBitmap* target, int32_t mw, int32_t mh) {
  vlBitmap *picture = nullptr, *mask = nullptr, *alpha = nullptr;
  int32_t w = 0, h = 0;
  int status = 0;
  if (b.brushFile[0]) {
    uint32_t* argb = nullptr;
    int32_t row = 0;
    int hasAlpha = 0;
    if ((status = gDisplayPictureLoader(L, b.brushFile, &argb, &w, &h, &row, &hasAlpha))) return status;
    alpha = hasAlpha ? reinterpret_cast<vlBitmap*>(1) : nullptr;
    status = BitmapFromARGB(argb, b.transColor, w, h, row, hasAlpha, hasAlpha ? 2 : 0, 0, &picture,
                            b.transColor != -1 ? &mask : nullptr, hasAlpha ? &alpha : nullptr);
    delete[] argb;
    if (status) return status;
  } else {
    vlBitmap* brush = nullptr;
    if ((status = gLayerHooks.brushBitmap(L, {b.brush, nullptr}, &brush, &w, &h))) return status;
    if (!(picture = NewBitmap(w, h, 0, nullptr))) return ERR_BITMAP;
    BltBitmap(brush, 0, 0, picture, 0, 0, w, h);
  }
  if (b.scalePicture && (w != mw || h != mh)) {
    vlBitmap *sb = nullptr, *sm = nullptr, *sa = nullptr;
    status = ScaleBitmap(picture, mask, alpha, 0, 0, nullptr, w, h, mw, mh, b.smoothScale, 0, &sb, &sm, &sa);
    DeleteBitmap(picture);
    if (mask) DeleteMaskPlane(mask);
    if (alpha) DeleteAlphaPlane(alpha);
    if (status) return status;
    picture = sb;
    mask = sm;
    alpha = sa;
    w = mw;
    h = mh;
  }
  int32_t x = ResolvePosX(b.x, w, mw, 0), y = ResolvePosY(b.y, h, mh, 0);
  int32_t sx = 0, sy = 0, cw = w, ch = h;
  ClipBlitRects(nullptr, &sx, &sy, &x, &y, &cw, &ch, w, h, mw, mh, 0);
  if (cw > 0 && ch > 0) {
    if (alpha)
      BltBitmapAlpha(picture, sx, sy, target, x, y, cw, ch, alpha);
    else if (mask)
      BltBitmapMasked(picture, sx, sy, target, x, y, cw, ch, mask);
    else
      BltBitmap(picture, sx, sy, target, x, y, cw, ch);
  }
  DeleteBitmap(picture);
  if (mask) DeleteMaskPlane(mask);
  if (alpha) DeleteAlphaPlane(alpha);
  return 0;
}

bool NeedsBackdrop(const vlDisplay* d) {
  return d->screen.backfill.type != 0 && DisplayDeviceDoes(d, VL_DEVICE_SCREEN_MODES) && !d->screen.desktop &&
         !(d->styleFlags & VL_DISPSTYLE_NOBACKDROP) && !d->isBackdrop;
}

}  // namespace

uint32_t PackDisplayFlags(const vlDisplay* d) {
  uint32_t f = 0;
  if (d->styleFlags & VL_DISPSTYLE_BORDERLESS) f |= 0x1;
  if (d->styleFlags & VL_DISPSTYLE_SIZEABLE) f |= 0x2;
  if (d->styleFlags & VL_DISPSTYLE_FIXED) f |= 0x4;
  if (d->styleFlags & VL_DISPSTYLE_NOMINIMIZE) f |= 0x8;
  if (d->styleFlags & VL_DISPSTYLE_NOCLOSE) f |= 0x10;
  if (d->autoScale) f |= 0x20;
  if (d->layerScale) f |= 0x40;
  if (d->layersOn) f |= 0x80;
  if (d->doubleBuffer && !d->nestedSelect) f |= 0x100;
  if (d->hardwareDoubleBuffer || d->savedHardwareDoubleBuffer) f |= 0x200;
  if (d->fullScreen) f |= 0x400;
  if (d->styleFlags & VL_DISPSTYLE_NOSCREENSAVER) f |= 0x800;
  return f;
}

void ResetDisplayCaches(vlDisplay* d) {
  std::memset(d->keyState, 0, sizeof d->keyState);
  d->leftButton = d->rightButton = d->middleButton = 0;
  if (const auto forget = DisplayDevice(d)->forgetInput) forget(d);
}

void FreeBackdrop(vlVMState* L, vlDisplay* d) {
  vlObjectId id = d->backdropId;
  d->backdropId = {};
  if (id.handle || id.number) {
    vlDisplay* backdrop = nullptr;
    if (GetDisplayByID(id, &backdrop) == 0) {
      backdrop->ownerDisplay = nullptr;
      if (backdrop == CurrentDisplay()) SetCurrentDisplay(d);
      FreeDisplayRecord(L, id, 0);
    }
  }
  if (d->backdropBGPic.handle || d->backdropBGPic.number) FreeBGPicByID(L, d->backdropBGPic, 0);
  d->backdropBGPic = {};
  if (d->backdropBrush.handle || d->backdropBrush.number) {
    // The global may run script code: d is not touched after it.
    vlObjectId brush = d->backdropBrush;
    d->backdropBrush = {};
    CallScriptCommand(L, "FreeBrush", 0, 1, VL_CALLARG_OBJECTID, &brush);
  }
}

void SetDefaultRegions(vlDisplay* d) {
  if (!d->dragRegionsGiven) {
    d->dragRegions[0] = {14, 0, 0, d->width, 15};
    d->dragRegionCount = 1;
  }
  if (!d->sizeRegionsGiven) {
    d->sizeRegions[0] = {14, d->width - 10, d->height - 10, 10, 10};
    d->sizeRegionCount = 1;
  }
  std::memcpy(d->dragRegionsScaled, d->dragRegions, sizeof d->dragRegions);
  std::memcpy(d->sizeRegionsScaled, d->sizeRegions, sizeof d->sizeRegions);
  // The script gives its regions in picture pixels; a scaled window is
  // hit-tested in its own pixels.
  const vlBGPic* pic = d->bgpic;
  const vlDisplayMapping m = GetDisplayMapping(d);
  if (m.scaling && pic && pic->width > 0 && pic->height > 0) {
    auto scale = [&m, pic](vlRegion* regions, int32_t count) {
      for (int32_t i = 0; i < count; ++i) {
        vlRegion& r = regions[i];
        r.x = static_cast<int32_t>(int64_t{r.x} * m.windowWidth / pic->width);
        r.y = static_cast<int32_t>(int64_t{r.y} * m.windowHeight / pic->height);
        r.width = static_cast<int32_t>(int64_t{r.width} * m.windowWidth / pic->width);
        r.height = static_cast<int32_t>(int64_t{r.height} * m.windowHeight / pic->height);
      }
    };
    if (d->dragRegionsGiven) scale(d->dragRegionsScaled, d->dragRegionCount);
    if (d->sizeRegionsGiven) scale(d->sizeRegionsScaled, d->sizeRegionCount);
  }
  ClampDisplayRegions(d);
}

int ResolveWindowPosition(vlDisplay* d, bool onlyRelative) {
  int32_t mx = 0, my = 0, mw = 0, mh = 0;
  int status = GetDisplayMonitorRect(d, &mx, &my, &mw, &mh);
  if (status) return status;
  const int32_t outerW = d->width + d->frameWidth, outerH = d->height + d->frameHeight;
  ClampToMonitor(d, &d->x, outerW, mw, false);
  ClampToMonitor(d, &d->y, outerH, mh, true);
  if (d->monitorIndex == 0 && !onlyRelative) {
    d->x += mx;
    d->y += my;
  } else {
    if (d->monitorRelativeX) d->x += mx;
    if (d->monitorRelativeY) d->y += my;
  }
  d->monitorRelativeX = d->monitorRelativeY = 0;
  return 0;
}

int CheckDisplaySize(int32_t width, int32_t height) {
  if (width >= 1 && height >= 1 && width <= 32767 && height <= 32767) return 0;
  char text[32];
  std::snprintf(text, sizeof text, "%dx%d", width, height);
  SetErrorArgument(text);
  return ERR_DISPLAYSIZE;
}

int OpenPlatformWindow(vlVMState* L, vlDisplay* d, int activate, int full) {
  if (DisplayDeviceDoes(d, VL_DEVICE_X_SERVER))
    if (int status = CheckDisplaySize(d->width, d->height)) return status;
  vlBGPic* pic = d->bgpic;
  if (pic && (pic->dispMask || pic->dispAlpha)) d->styleFlags |= VL_DISPSTYLE_BORDERLESS;
  DetermineDisplayBorders(d);
  if (int status = ResolveWindowPosition(d, false)) return status;
  SetDefaultRegions(d);
  d->displayMode = d->fullScreen ? 2 : 0;
  d->contentOffsetX = d->borderLeft;
  d->contentOffsetY = d->borderTop;
  vlWindowRequest request{};
  request.state = L;
  request.pictureWidth = pic ? pic->width : d->width;
  request.pictureHeight = pic ? pic->height : d->height;
  request.flags = PackDisplayFlags(d);
  request.activate = activate;
  request.screenWidth = d->screen.screenWidth;
  request.screenHeight = d->screen.screenHeight;
  request.screenDepth = d->screen.screenDepth;
  // The window's shape is read through the plane's lock.
  const bool shaped = DisplayDeviceDoes(d, VL_DEVICE_SHAPES);
  vlBitmap* maskPlane = !shaped ? nullptr : d->shapeMask ? d->shapeMask : (pic ? pic->dispMask : nullptr);
  vlBitmap* alphaPlane = !shaped ? nullptr : d->shapeAlpha ? d->shapeAlpha : (pic ? pic->dispAlpha : nullptr);
  vlLockedPixels shape(alphaPlane ? alphaPlane : maskPlane, VL_LOCK_READ);
  request.mask = !alphaPlane && shape.ok() ? shape.access.pixels : nullptr;
  request.alpha = alphaPlane && shape.ok() ? shape.access.pixels : nullptr;
  if (int status = DisplayDevice(d)->openWindow(d, &request)) return status;
  d->windowHasAlpha = request.alpha != nullptr;
  if (request.marks[0]) d->styleFlags |= VL_DISPSTYLE_ADAPTERCAP1;
  if (request.marks[1]) d->styleFlags |= VL_DISPSTYLE_ADAPTERCAP2;
  d->bordersKnown = 1;
  int restored = 0;
  if (full) {
    // The window exists now: it opens even when a brush or the double buffer
    // cannot be brought back, and that error is reported afterwards.
    restored = gLayerHooks.displayBrushes(L, d, VL_DISPBRUSHES_RESTORE);
    d->displayState = VL_DISPSTATE_OPEN;
    d->openState = 1;
    d->visibility = 1;
    if (((d->styleFlags & VL_DISPSTYLE_HIDEPOINTER) &&
         (d->fullScreen || (d->styleFlags & VL_DISPSTYLE_FAKEFULLSCREEN))) ||
        d->pointerHidden)
      ShowHideMousePointer(d, 0);
    else if (d->pointer)
      gLayerHooks.showDisplayPointer(d);
    RefreshDisplayObject(L, d, 0x80);
    GetSysTime(&d->openedTime);
  }
  return restored;
}

int ClosePlatformWindow(vlVMState* L, vlDisplay* d, vlDisplay*, uint32_t mode) {
  // Held puts and sprite moves reach the window before it goes.
  SendPresentation(true);
  if (mode & VL_CLOSEWIN_KEEPBRUSHES) {
    // The adapter's double buffer is ended with its window and begun again
    // when the window is back.
    gLayerHooks.displayBrushes(L, d, VL_DISPBRUSHES_SAVE);
  } else {
    gLayerHooks.displayBrushes(L, d, VL_DISPBRUSHES_FREE);
  }
  if (int status = DisplayDevice(d)->closeWindow(d)) return status;
  if (DisplayDeviceDoes(d, VL_DEVICE_SCREEN_MODES)) {
    if (d->fullScreen && !d->isBackdrop && !(mode & VL_CLOSEWIN_KEEPSCREENMODE)) {
      FreeBackdrop(L, d);
      int32_t saved = d->monitorIndex;
      if (d->restoreMonitor) d->monitorIndex = d->restoreMonitor - 1;
      RestoreScreenMode(d);
      d->monitorIndex = saved;
      d->restoreMonitor = 0;
    } else if (mode & VL_CLOSEWIN_FREEBACKDROP) {
      FreeBackdrop(L, d);
    }
  }
  if ((d->styleFlags & VL_DISPSTYLE_REMEMBERPOSITION) && !d->id().handle) SavePlacement(L, d);
  ResetDisplayCaches(d);
  d->displayState = VL_DISPSTATE_CLOSED;
  d->openState = 0;
  d->activateOnOpen = 0;
  d->fullScreen = 0;
  d->displayMode = 0;
  return 0;
}

namespace {
int RebuildBGPicsOnce(vlVMState* L, uint32_t) { return RebuildBGPicBitmaps(L); }
}  // namespace

int FinishDisplaySetup(vlVMState* L, uint32_t startupFlags, vlDisplay* d) {
  if (vlDisplaySetupDone) return 0;
  vlDisplaySetupDone = 1;
  if (DisplayDeviceDoes(d, VL_DEVICE_X_SERVER) && d) {
    if (int status = AttachDisplayToX11Screen(d)) return status;
  } else if (DisplayDeviceDoes(d, VL_DEVICE_X_SERVER)) {
    vlX11Connection* c = nullptr;
    if (int status = OpenX11Screen(nullptr, &c)) return status;
    SetGlobalPixelFormat(c->pixelFormat);
  }
  AddScreenFormatConverter(VL_CONVERT_BGPICS, RebuildBGPicsOnce);
  if (int status = RunScreenFormatConverters(L, startupFlags)) return status;
  uint32_t quiet = 0;
  GetRuntimeOption(L, VL_OPT_QUIET, &quiet, 0u);
  if (!quiet) {
    PrintDone();
    PrintConsole("%s\n", "And Action!");
  }
  for (vlDisplay* o = vlDisplayList; o; o = o->next) {
    if (o->screen.desktop && o->bgpic && o->bgpic->loadBitmap) {
      int32_t mx, my, mw, mh;
      if (GetDisplayMonitorRect(o, &mx, &my, &mw, &mh) == 0) {
        vlBitmap* grabbed = nullptr;
        if (GrabDisplayPixels(o, mx, my, mw, mh, &grabbed) == 0 && grabbed) {
          BltBitmap(grabbed, 0, 0, o->bgpic->loadBitmap, 0, 0, o->bgpic->loadWidth, o->bgpic->loadHeight);
          DeleteBitmap(grabbed);
        }
      }
    }
    if (int status = InitialDisplayScaling(L, o)) return status;
  }
  return 0;
}

int OpenDisplayWindow(vlVMState* L, vlDisplay* d, uint32_t mode) {
  vlScreenModeRecord& s = d->screen;
  const bool reopen = (mode & VL_OPENWIN_REOPEN) != 0;
  if (!s.desktop) {
    if (s.mode == VL_DISPMODE_ASK) {
      int32_t answer = 0;
      int status = ShowSystemRequester(L, d, d->titleText, "Please select desired display mode!",
                                       "Full screen (best fit)|Windowed|Full screen (manual select)|Cancel", 0, 0,
                                       &answer);
      if (status) return status;
      if (answer == 0) return ERR_USERABORT;
      s.mode = answer == 1 ? VL_DISPMODE_FULLSCREEN : answer == 2 ? VL_DISPMODE_WINDOWED : VL_DISPMODE_MODEREQUESTER;
    }
    if (s.mode == VL_DISPMODE_MODEREQUESTER) {
      vlModeEntry* modes = nullptr;
      int32_t count = 0;
      if (int status = GetDisplayModeList(d, &modes, &count)) return status;
      std::string choices;
      int32_t preselect = -1;
      for (int32_t i = 0; i < count; ++i) {
        char text[32];
        std::snprintf(text, sizeof text, "%dx%d", modes[i].width, modes[i].height);
        choices.append(text);
        choices.push_back('\0');
        if (preselect < 0 && modes[i].width >= d->width && modes[i].height >= d->height) preselect = i;
      }
      choices.push_back('\0');
      int32_t chosen = -1;
      int status = ShowListRequester(L, d, d->titleText, "Please select desired display mode!", choices.c_str(),
                                     preselect < 0 ? 0 : preselect, 0, &chosen);
      if (!status && (chosen < 0 || chosen >= count)) status = ERR_USERABORT;
      if (!status) {
        s.screenWidth = modes[chosen].width;
        s.screenHeight = modes[chosen].height;
        s.mode = VL_DISPMODE_FULLSCREEN;
      }
      delete[] modes;
      if (status) return status;
    }
  } else {
    if (!DisplayDeviceDoes(d, VL_DEVICE_SCREEN_MODES)) return ERR_DISPLAYADAPTERSUPPORT;
    if (HasScaleMode(d)) return ERR_DDAUTOSCALE;
    s.mode = VL_DISPMODE_WINDOWED;
    d->styleFlags = 0x42d;
  }
  // A fresh opening forgets an earlier fake full screen before the mode
  // asks for it again.
  if (!reopen) d->styleFlags &= ~VL_DISPSTYLE_FAKEFULLSCREEN;
  if (s.mode == VL_DISPMODE_FAKEFULLSCREEN) {
    s.mode = VL_DISPMODE_WINDOWED;
    d->styleFlags |= 0x20005;
  }
  if (!reopen && s.mode == VL_DISPMODE_FULLSCREEN && !(d->styleFlags & VL_DISPSTYLE_DECORATEDFULL))
    d->styleFlags |= VL_DISPSTYLE_BORDERLESS | VL_DISPSTYLE_FIXED;
  // Fake full screen: centred on its monitor, over a backdrop that covers it.
  if (d->styleFlags & VL_DISPSTYLE_FAKEFULLSCREEN) {
    d->x = d->y = VL_POS_CENTER;
    d->monitorRelativeX = d->monitorRelativeY = 1;
  }
  bool full = s.mode == VL_DISPMODE_FULLSCREEN;
  if (full) {
    int32_t mw = 0, mh = 0;
    GetDisplayMonitorRect(d, nullptr, nullptr, &mw, &mh);
    if (!d->bordersKnown) DetermineDisplayBorders(d);
    if (!s.screenWidth) s.screenWidth = mw;
    if (!s.screenHeight) s.screenHeight = mh;
    if (s.screenWidth < d->width + d->frameWidth || s.screenHeight < d->height + d->frameHeight) {
      if (s.screenWidth >= d->width && s.screenHeight >= d->height) {
        d->styleFlags |= VL_DISPSTYLE_BORDERLESS;
      } else {
        if (s.screenWidth < d->width + d->frameWidth) s.screenWidth = d->width + d->frameWidth;
        if (s.screenHeight < d->height + d->frameHeight) s.screenHeight = d->height + d->frameHeight;
      }
    }
  }
  if (DisplayDeviceDoes(d, VL_DEVICE_SCREEN_MODES) && !s.desktop && !(d->styleFlags & VL_DISPSTYLE_NOBACKDROP) && !s.backfill.type &&
      (full || (d->styleFlags & VL_DISPSTYLE_FAKEFULLSCREEN))) {
    s.backfill.type = 1;
    s.backfill.color = 0;
    if (!(d->styleFlags & VL_DISPSTYLE_DECORATEDFULL)) s.backfill.hideTitleBar = 1;
  }
  if (full && reopen && d->fullScreen) {
    int32_t mw = 0, mh = 0;
    GetDisplayMonitorRect(d, nullptr, nullptr, &mw, &mh);
    if (s.screenWidth == mw && s.screenHeight == mh && !(mode & VL_OPENWIN_MONITORCHANGED)) return 0;
  }
  if (full && (mode & VL_OPENWIN_MONITORFROMWINDOW) && !d->fullScreen) d->monitorIndex = MonitorOfWindow(d);
  if (full && DisplayDeviceDoes(d, VL_DEVICE_SCREEN_MODES)) {
    for (vlDisplay* o = vlDisplayList; o; o = o->next)
      if (o != d && !o->isBackdrop && o->fullScreen && o->monitorIndex == d->monitorIndex &&
          o->displayState != VL_DISPSTATE_CLOSED) {
        SetErrorArgIndex(d->monitorIndex + 1);
        return ERR_MONITORFULLSCREEN;
      }
  }
  const int activate = d->activateOnOpen;
  const bool wasFull = d->fullScreen != 0;
  if (reopen) {
    ClosePlatformWindow(L, d, nullptr, (mode & VL_OPENWIN_MONITORCHANGED) ? 1 : 3);
    FreeBackdrop(L, d);
    if (full && wasFull && !(mode & VL_OPENWIN_MONITORCHANGED)) d->fullScreen = 1;
    if (mode & VL_OPENWIN_MONITORCHANGED) d->restoreMonitor = 0;
  }
  bool switched = false;
  if (!full) {
    if (reopen && DisplayDeviceDoes(d, VL_DEVICE_SCREEN_MODES) && wasFull) RestoreScreenMode(d);
    d->fullScreen = 0;
  } else {
    if (DisplayDeviceDoes(d, VL_DEVICE_SCREEN_MODES)) {
      // A new mode can move the origins of the monitors after this one:
      // full-screen windows there keep their place on their monitor.
      std::vector<vlDisplay*> shifted;
      for (vlDisplay* o = vlDisplayList; o; o = o->next) {
        int32_t mx, my;
        if (o == d || !o->fullScreen || o->monitorIndex == 0 || o->ownerDisplay == d ||
            GetDisplayMonitorRect(o, &mx, &my, nullptr, nullptr))
          continue;
        o->x -= mx;
        o->y -= my;
        shifted.push_back(o);
      }
      int status = SwitchScreenMode(d, s.screenWidth, s.screenHeight);
      for (vlDisplay* o : shifted) {
        int32_t mx = 0, my = 0;
        GetDisplayMonitorRect(o, &mx, &my, nullptr, nullptr);
        o->x += mx;
        o->y += my;
        MoveX11Window(o);
      }
      if (status) return status;
      switched = true;
    }
    d->fullScreen = 1;
  }
  auto undo = [&](int status) {
    if (switched) RestoreScreenMode(d);
    d->fullScreen = 0;
    return status;
  };
  if (mode & VL_OPENWIN_FINISHSETUP)
    if (int status = FinishDisplaySetup(L, 0, d)) return undo(status);
  if (reopen) {
    if (full && !d->savedValid) {
      d->savedX = d->x;
      d->savedY = d->y;
      d->savedFlags = d->styleFlags;
      d->savedValid = 1;
      d->x = d->y = VL_POS_CENTER;
      d->monitorRelativeX = d->monitorRelativeY = 1;
      d->styleFlags = (d->styleFlags | VL_DISPSTYLE_BORDERLESS | VL_DISPSTYLE_FIXED) & ~VL_DISPSTYLE_SIZEABLE;
    } else if (!full && d->savedValid) {
      d->x = d->savedX;
      d->y = d->savedY;
      d->styleFlags = d->savedFlags;
      d->savedValid = 0;
      d->monitorRelativeX = d->monitorRelativeY = 0;
    }
  } else if (full) {
    d->x = d->y = VL_POS_CENTER;
    d->monitorRelativeX = d->monitorRelativeY = 1;
  }
  if (full || (d->styleFlags & VL_DISPSTYLE_FAKEFULLSCREEN)) {
    if (NeedsBackdrop(d))
      if (int status = MakeBackdrop(L, d)) return undo(status);
  }
  if (!full && !HasScaleMode(d) && d->restoreWidth > 0 && d->restoreHeight > 0 &&
      (d->restoreWidth != d->width || d->restoreHeight != d->height)) {
    ResizeOpenDisplay(L, d, 100000, 100000, d->restoreWidth, d->restoreHeight, 0, d->smoothScale, 1, 1);
    PostEvent(d, 5, static_cast<uint32_t>(d->width), static_cast<uint32_t>(d->height), 0, nullptr);
  }
  if (int status = OpenPlatformWindow(L, d, activate, 1)) {
    if (d->backdropId.handle) FreeBackdrop(L, d);
    return undo(status);
  }
  return 0;
}
