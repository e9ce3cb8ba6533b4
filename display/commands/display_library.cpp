// The "display" command library: its commands and constants, opening the
// declared displays at start-up and running the main chunk.
#include "display/commands/display_library.h"

#include <algorithm>
#include <cstring>

#include "display/bgpic.h"
#include "display/clients.h"
#include "display/display.h"
#include "display/display_change.h"
#include "display/display_events.h"
#include "display/display_tags.h"
#include "display/display_window.h"
#include "display/icons.h"
#include "display/layer_hooks.h"
#include "display/layers/layers.h"
#include "display/menus.h"
#include "display/monitors.h"
#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "graphics/geometry.h"
#include "graphics/position.h"
#include "graphics/presentation.h"
#include "graphics/picture_engines.h"
#include "platform/display_adapter.h"
#include "platform/display_device.h"
#include "platform/hooks.h"
#include "runtime/threads.h"
#include "platform/wake_pipe.h"
#include "platform/x11/x11_connection.h"
#include "platform/x11/x11_hooks.h"
#include "platform/x11/x11_window.h"
#include "runtime/console.h"
#include "runtime/error_vm.h"
#include "runtime/event_queue.h"
#include "runtime/layer_lookup.h"
#include "runtime/messages.h"
#include "runtime/object_data.h"
#include "runtime/objects.h"
#include "runtime/option_readers.h"
#include "abi/plugin_abi.h"
#include "runtime/progress_message.h"
#include "runtime/runtime_options.h"
#include "runtime/script_version.h"
#include "vm/argreaders.h"
#include "vm/auxlib.h"
#include "vm/call.h"
#include "vm/constants.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

vlDisplay* Current() { return CurrentDisplay(); }

int NotWhileRecording() { return vlRecordingScreen ? ERR_WRONGCMDRECVIDEO : 0; }

int LookUp(vlVMState* L, int index, vlDisplay** out) {
  vlObjectId id;
  GetObjectIDArg(&id, L, index);
  return GetDisplayByID(id, out);
}

// "monitor" of an OpenDisplay or ChangeDisplayMode table; 1 when changed.
int ReadMonitorKey(vlVMState* L, int table, vlDisplay* d, bool* changed) {
  *changed = false;
  int32_t monitor = 0;
  if (!GetTableInt(L, table, "monitor", &monitor, nullptr)) return 0;
  if (monitor > 1 && !CheckScriptVersion(6, 0)) return ERR_OLDAPPLET;
  if (monitor < 1 || monitor > CountMonitors(d)) return ERR_MONITORRANGE;
  if (monitor - 1 != d->monitorIndex) {
    d->monitorIndex = monitor - 1;
    d->x = d->y = VL_POS_CENTER;
    d->monitorRelativeX = d->monitorRelativeY = 1;
    *changed = true;
  }
  return 0;
}

int CmdFreeDisplay(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  if (int status = NotWhileRecording()) return status;
  vlObjectId id;
  GetObjectIDArg(&id, L, 1);
  return FreeDisplayRecord(L, id, 1);
}

int CmdOpenDisplay(vlVMState* L) {
  CheckArgs(L, 1, 2, 0, 0);
  if (int status = NotWhileRecording()) return status;
  vlDisplay* d = nullptr;
  if (int status = LookUp(L, 1, &d)) return status;
  if (d->displayState != VL_DISPSTATE_CLOSED) return ERR_WRONGUSAGE;
  int noSelect = 0;
  int type = vl::GetTypeAt(L, 2);
  if (type == VL_TTABLE) {
    GetTableBool(L, 2, "noselect", &noSelect, nullptr);
    // Everything is read into a copy first: a refused table leaves the
    // display as it was.
    vlDisplay trial = *d;
    char server[1024];
    if (GetTableString(L, 2, "xserver", server, sizeof server, nullptr)) {
      if (std::strlen(server) > 255) return ERR_WRONGUSAGE;
      std::strcpy(trial.xServer, server);
    }
    bool changed;
    if (int status = ReadMonitorKey(L, 2, &trial, &changed)) return status;
    if (int status = ReadScreenModeKeys(L, 2, &trial.screen)) return status;
    int found = 0;
    if (GetTableInt(L, 2, "x", &trial.x, &found)) trial.monitorRelativeX = 1;
    if (GetTableInt(L, 2, "y", &trial.y, &found)) trial.monitorRelativeY = 1;
    std::memcpy(d->xServer, trial.xServer, sizeof d->xServer);
    FixDisplayTextPointers(d);
    d->monitorIndex = trial.monitorIndex;
    d->screen = trial.screen;
    d->x = trial.x, d->y = trial.y;
    d->monitorRelativeX = trial.monitorRelativeX, d->monitorRelativeY = trial.monitorRelativeY;
  } else if (type != VL_TNIL && type != -1) {
    noSelect = vl::CheckIntArg(L, 2);
  }
  d->activateOnOpen = (d->styleFlags & VL_DISPSTYLE_ACTIVE) ? 1 : 0;
  if (int status = OpenDisplayWindow(L, d, 0)) return status;
  if (!noSelect) SelectDisplayRecord(L, d, 1);
  return 0;
}

int CmdCloseDisplay(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  if (int status = NotWhileRecording()) return status;
  vlDisplay* d = nullptr;
  if (int status = LookUp(L, 1, &d)) return status;
  if (d->displayState == VL_DISPSTATE_CLOSED) return ERR_WRONGUSAGE;
  if (gLayerHooks.videoOnDisplay(d)) return ERR_VIDATTACHED;
  if (d->hardwareDoubleBuffer || d->savedHardwareDoubleBuffer ||
      (Current() && (Current()->hardwareDoubleBuffer || Current()->savedHardwareDoubleBuffer)))
    return 1525;  // "Please end hardware double buffering first!"
  if (d->doubleBuffer || d->nestedSelect) gLayerHooks.stopDoubleBuffer(L, d);
  return ClosePlatformWindow(L, d, nullptr, VL_CLOSEWIN_FREEBACKDROP);
}

int CmdSelectDisplay(vlVMState* L) {
  CheckArgs(L, 1, 2, 0, 0);
  vlDisplay* d = nullptr;
  if (int status = LookUp(L, 1, &d)) return status;
  SelectDisplayRecord(L, d, vl::OptIntArg(L, 2, 0));
  return 0;
}

int CmdActivateDisplay(vlVMState* L) {
  CheckArgs(L, 1, 2, 0, 0);
  vlDisplay* d = nullptr;
  if (int status = LookUp(L, 1, &d)) return status;
  if (d->displayState != VL_DISPSTATE_OPEN) return ERR_CLOSEDDISPLAY;
  ActivateDisplayWindow(d, vl::OptIntArg(L, 2, 0) == 0 ? 1 : 0);
  return 0;
}

int CmdMoveDisplay(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  if (int status = NotWhileRecording()) return status;
  vlDisplay* d = Current();
  if (!d) return ERR_CLOSEDDISPLAY;
  d->x = vl::CheckIntArg(L, 1);
  d->y = vl::CheckIntArg(L, 2);
  int32_t mx, my, mw, mh;
  if (int status = GetDisplayMonitorRect(d, &mx, &my, &mw, &mh)) return status;
  d->x = ResolvePosX(d->x, d->width + d->frameWidth, mw, 0) + mx;
  d->y = ResolvePosY(d->y, d->height + d->frameHeight, mh, 0) + my;
  d->monitorRelativeX = d->monitorRelativeY = 0;
  d->savedValid = 0;
  if (d->displayState != VL_DISPSTATE_CLOSED) DisplayDevice(d)->sizeMove(d);
  return 0;
}

int ShowHide(vlDisplay* d, int hide) { return DisplayDevice(d)->showHide(d, hide); }

int CmdShowDisplay(vlVMState* L) {
  CheckArgs(L, 0, 0, 0, 0);
  if (int status = NotWhileRecording()) return status;
  vlDisplay* d = Current();
  if (!d || d->displayState != VL_DISPSTATE_HIDDEN) return ERR_WRONGUSAGE;
  ShowHide(d, 0);
  d->displayState = VL_DISPSTATE_OPEN;
  d->visibility = 1;
  d->activateOnOpen = 1;
  return 0;
}

int CmdHideDisplay(vlVMState* L) {
  CheckArgs(L, 0, 0, 0, 0);
  if (int status = NotWhileRecording()) return status;
  vlDisplay* d = Current();
  if (!d || d->displayState != VL_DISPSTATE_OPEN) return ERR_WRONGUSAGE;
  ShowHide(d, 1);
  d->displayState = VL_DISPSTATE_HIDDEN;
  d->visibility = 2;
  d->activateOnOpen = 0;
  return 0;
}

int CmdSetTitle(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  if (int status = NotWhileRecording()) return status;
  size_t n = 0;
  const char* text = vl::CheckStringArg(L, 1, &n);
  vlDisplay* d = Current();
  if (!d) return ERR_CLOSEDDISPLAY;
  if (n > kDisplayTitleMax) return ERR_WRONGUSAGE;
  std::memcpy(d->titleText, text, n);
  d->titleText[n] = 0;
  if (d->displayState != VL_DISPSTATE_CLOSED) DisplayDevice(d)->setTitle(d);
  return 0;
}

int CmdChangeDisplaySize(vlVMState* L) {
  CheckArgs(L, 2, 4, 0, 0);
  if (int status = NotWhileRecording()) return status;
  vlDisplay* d = Current();
  if (!d) return ERR_CLOSEDDISPLAY;
  vlBGPic* pic = d->bgpic;
  int32_t width = static_cast<int32_t>(GetNumberOrPercentArg(L, 1, pic->width, 1, nullptr));
  int32_t height = static_cast<int32_t>(GetNumberOrPercentArg(L, 2, pic->height, 1, nullptr));
  if (width == -1) width = VL_KEEPASPRAT;
  if (height == -1) height = VL_KEEPASPRAT;
  if (int status = ResolveAspectSize(pic->width, pic->height, &width, &height)) return status;
  int32_t x = 100000, y = 100000;
  if (vl::GetTypeAt(L, 3) == VL_TTABLE) {
    GetTableInt(L, 3, "x", &x, nullptr);
    GetTableInt(L, 3, "y", &y, nullptr);
  }
  if (x == 99999) x = VL_POS_CENTER;
  if (y == 99999) y = VL_POS_CENTER;
  int smooth = d->smoothScale;
  if (vl::GetTypeAt(L, 4) == VL_TTABLE)
    GetTableBool(L, 4, "smooth", &smooth, nullptr);
  else if (vl::GetTypeAt(L, 4) == VL_TNUMBER)
    smooth = vl::CheckIntArg(L, 4);
  if (!d->bordersKnown) DetermineDisplayBorders(d);
  int status = ResizeOpenDisplay(L, d, x, y, width, height, 1, smooth, d->displayState != VL_DISPSTATE_OPEN, 0);
  d->savedValid = 0;
  return status;
}

int CmdChangeDisplayMode(vlVMState* L) {
  CheckArgs(L, 1, 4, 0, 0);
  if (int status = NotWhileRecording()) return status;
  vlDisplay* d = Current();
  if (!d || d->displayState == VL_DISPSTATE_CLOSED) return ERR_CLOSEDDISPLAY;
  int32_t mode = vl::CheckIntArg(L, 1);
  if (mode != VL_DISPMODE_WINDOWED && mode != VL_DISPMODE_FULLSCREEN) return ERR_WRONGUSAGE;
  const int32_t current = d->fullScreen ? VL_DISPMODE_FULLSCREEN : VL_DISPMODE_WINDOWED;
  if (mode == current && !d->fullScreen) return 0;
  int32_t width = vl::OptIntArg(L, 2, 0), height = vl::OptIntArg(L, 3, 0);
  uint32_t bits = VL_OPENWIN_REOPEN;
  // Every check is made before the display changes: a refused monitor,
  // backfill or size leaves it as it was.
  vlDisplay trial = *d;
  bool changed = false;
  if (vl::GetTypeAt(L, 4) == VL_TTABLE) {
    if (int status = ReadMonitorKey(L, 4, &trial, &changed)) return status;
    if (int status = ReadBackfillTable(L, 4, &trial.screen.backfill)) return status;
  }
  if (mode == VL_DISPMODE_FULLSCREEN && (width < 1 || height < 1 || width < d->width || height < d->height))
    return ERR_WRONGUSAGE;
  if (changed) {
    if (d->fullScreen) d->restoreMonitor = d->monitorIndex + 1;
    d->monitorIndex = trial.monitorIndex;
    d->x = d->y = VL_POS_CENTER;
    d->monitorRelativeX = d->monitorRelativeY = 1;
    bits |= VL_OPENWIN_MONITORCHANGED;
  }
  d->screen.backfill = trial.screen.backfill;
  if (mode == VL_DISPMODE_FULLSCREEN) {
    d->screen.screenWidth = width;
    d->screen.screenHeight = height;
  }
  d->screen.mode = mode;
  return OpenDisplayWindow(L, d, bits);
}

int CmdSetDisplayAttributes(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  vl::CheckTableArg(L, 1);
  vlDisplay* d = Current();
  if (!d) return ERR_CLOSEDDISPLAY;
  d->savedValid = 0;
  return ApplyDisplayAttributes(L, 1, d, 0);
}

const vlCommand kDisplayCommands[] = {
    {"ChangeDisplaySize", CmdChangeDisplaySize},
    {"SetTitle", CmdSetTitle},
    {"MoveDisplay", CmdMoveDisplay},
    {"HideDisplay", CmdHideDisplay},
    {"ShowDisplay", CmdShowDisplay},
    {"SetDisplayAttributes", CmdSetDisplayAttributes},
    {"CreateDisplay", CmdCreateDisplay},
    {"FreeDisplay", CmdFreeDisplay},
    {"OpenDisplay", CmdOpenDisplay},
    {"CloseDisplay", CmdCloseDisplay},
    {"SelectDisplay", CmdSelectDisplay},
    {"ActivateDisplay", CmdActivateDisplay},
    {"ChangeDisplayMode", CmdChangeDisplayMode},
    {"GetDisplayModes", CmdGetDisplayModes},
    {"GetMonitors", CmdGetMonitors},
    {"CreateMenu", CmdCreateMenu},
    {"FreeMenu", CmdFreeMenu},
    {"SelectMenuItem", CmdSelectMenuItem},
    {"DeselectMenuItem", CmdDeselectMenuItem},
    {"IsMenuItemSelected", CmdIsMenuItemSelected},
    {"DisableMenuItem", CmdDisableMenuItem},
    {"EnableMenuItem", CmdEnableMenuItem},
    {"IsMenuItemDisabled", CmdIsMenuItemDisabled},
    {nullptr, nullptr},
};

const vlConstant kDisplayConstants[] = {
    {"DISPSTATE_OPEN", nullptr, 1},       {"DISPSTATE_CLOSED", nullptr, 0},
    {"DISPSTATE_MINIMIZED", nullptr, 2},  {"DISPMODE_FULLSCREEN", nullptr, 2},
    {"DISPMODE_WINDOWED", nullptr, 1},    {"DISPMODE_ASK", nullptr, 3},
    {"DISPMODE_MODEREQUESTER", nullptr, 4}, {"DISPMODE_FAKEFULLSCREEN", nullptr, 6},
    {"SCALEMODE_NONE", nullptr, 0},       {"SCALEMODE_AUTO", nullptr, 1},
    {"SCALEMODE_LAYER", nullptr, 2},      {"KEEPPOSITION", nullptr, 100000},
    {"ORIENTATION_NONE", nullptr, 0},     {"ORIENTATION_PORTRAIT", nullptr, 1},
    {"ORIENTATION_LANDSCAPE", nullptr, 3}, {"ORIENTATION_PORTRAITREV", nullptr, 2},
    {"ORIENTATION_LANDSCAPEREV", nullptr, 4}, {"DENSITY_NONE", nullptr, 0},
    {"DENSITY_LOW", nullptr, 1},          {"DENSITY_MEDIUM", nullptr, 2},
    {"DENSITY_HIGH", nullptr, 3},         {"MENUITEM_TOGGLE", nullptr, 1},
    {"MENUITEM_SELECTED", nullptr, 2},    {"MENUITEM_DISABLED", nullptr, 4},
    {nullptr, nullptr, 0},
};

vlDisplay* FirstDisplayForX11() { return vlDisplayList; }

// The runtime core's look-ups of layers, for the option readers and the
// object user-data commands: both resolve against the current BGPic. A
// layer keeps its user data in its own record.
int CurrentLayerByName(vlVMState*, const char* name) {
  return vlCurrentOutput ? FindLayerByName(vlCurrentOutput, name) : 0;
}

int CurrentLayerDataList(vlVMState* L, int index, vlObjectData*** listOut) {
  if (listOut) *listOut = nullptr;
  if (!CurrentDisplay() || !CurrentDisplay()->layersOn || !vlCurrentOutput) return ERR_NOLAYERS;
  vlLayer* layer = nullptr;
  if (GetLayerArg(L, index, &layer) != 0 || !layer) return ERR_LAYERRANGE;
  if (listOut) *listOut = &layer->userData;
  return 0;
}

// Positions resolve against the current output, or against its active
// clip region when one is set.
void OutputReference(vlOutputRef* out) {
  *out = vlOutputRef{};
  if (!vlCurrentOutput) return;
  out->width = vlCurrentOutput->width;
  out->height = vlCurrentOutput->height;
  if (const auto* clip = static_cast<const vlClipRegion*>(vlCurrentOutput->clipRegion)) {
    out->hasClip = 1;
    out->clipX = clip->x, out->clipY = clip->y;
    out->clipWidth = clip->width, out->clipHeight = clip->height;
  }
}

}  // namespace

int RunMainChunk(vlVMState* L) {
  return DefaultDisplayDevice()->runMain(L, [](vlVMState* state) { return vl::CallProtected(state, 0, 0, 0); });
}

void InstallDisplayHooks() {
  gX11Hooks.firstDisplay = FirstDisplayForX11;
  InstallPresentation();
  InstallWindowIconHooks();
  SetOutputReferenceProvider(OutputReference);
  SetEventDisplayFlagsReader(DisplayFlagsForEvents);
  gLayerLookupHooks.findLayerByName = CurrentLayerByName;
  gLayerLookupHooks.getLayerDataList = CurrentLayerDataList;
}

int OpenDisplayLib(vlVMState* L) {
  if (!vlDisplayListMutex && !(vlDisplayListMutex = CreateMutex())) return ERR_SEMAPHORE;
  InstallDisplayHooks();
  InstallDisplayInput();
  vl::PushSlotCopy(L, vl::kGlobalsIndex);
  vl::RegisterCommands(L, nullptr, kDisplayCommands, 0);
  vl::SetStackTop(L, -2);
  if (int status = RegisterLibrary(kDisplayCommands, "display")) return status;
  vl::RegisterConstants(L, kDisplayConstants, 0);
  if (int status = RegisterObjectList(reinterpret_cast<vlObjectNode**>(&vlDisplayList))) return status;
  return RegisterObjectList(reinterpret_cast<vlObjectNode**>(&vlMenuList));
}

int OpenInitialDisplays(vlVMState* L, uint32_t startupFlags) {
  if (DisplayDeviceDoes(nullptr, VL_DEVICE_X_SERVER)) {
    vlX11Connection* c = nullptr;
    // Without an X server no display can open: say so and end with an
    // error rather than as a quiet user abort that exits with success.
    // The server is the first display's, which the command line may have
    // named: the default one may not exist at all then.
    if (int status = OpenX11Screen(vlDisplayList ? vlDisplayList->xDisplayName : nullptr, &c)) return status;
    if (int status = OpenWakePipe()) return status;
  }
  uint32_t quiet = 0;
  GetRuntimeOption(L, VL_OPT_QUIET, &quiet, 0u);
  if (!quiet) PrintProgressMessage(GetMessage(99), nullptr, 1);
  bool first = true;
  for (vlDisplay* d = vlDisplayList; d; d = d->next) {
    if (d->displayState != VL_DISPSTATE_CLOSED || (d->styleFlags & VL_DISPSTYLE_HIDDEN)) continue;
    d->activateOnOpen = (d->styleFlags & VL_DISPSTYLE_ACTIVE) ? 1 : 0;
    int status = OpenDisplayWindow(L, d, first ? uint32_t{VL_OPENWIN_FINISHSETUP} : 0u);
    if (status) return status;
    first = false;
  }
  if (first)
    if (int status = FinishDisplaySetup(L, startupFlags, vlDisplayList)) return status;
  vlDisplay* chosen = nullptr;
  for (vlDisplay* d = vlDisplayList; d && !chosen; d = d->next)
    if ((d->styleFlags & VL_DISPSTYLE_ACTIVE) && !(d->styleFlags & VL_DISPSTYLE_HIDDEN) && !d->isBackdrop) chosen = d;
  if (chosen) {
    SetCurrentDisplay(chosen);
    if (chosen->displayState == VL_DISPSTATE_OPEN) ActivateDisplayWindow(chosen, 1);
  } else {
    SetCurrentDisplay(GetDisplayByNumber(1));
  }
  vlCurrentOutput = CurrentDisplay() ? CurrentDisplay()->bgpic : nullptr;
  return 0;
}

void FreeDisplayLib(vlVMState* L) {
  CloseAllDisplays(L);
  FreeAllBGPics(L);
  vlDisplaySetupDone = 0;
}
