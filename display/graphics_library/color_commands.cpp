// The graphics library's small commands: colour arithmetic, the frame-rate
// limit and VWait, refresh suspension, rectangle intersection, picture
// identification and the recording clock.
#include <algorithm>
#include <cstdlib>

#include "display/layers/kept_blend.h"
#include "display/bgpic.h"
#include "display/display.h"
#include "display/graphics_library/graphics_state.h"
#include "display/layer_hooks.h"
#include "display/layers/layers.h"
#include "graphics/pixel_format.h"
#include "graphics/presentation.h"
#include "platform/display_adapter.h"
#include "runtime/os.h"
#include "platform/x11/x11_window.h"
#include "runtime/error_vm.h"
#include "formats/loaded_source.h"
#include "runtime/option_readers.h"
#include "runtime/plugins.h"
#include "runtime/script_call.h"
#include "vm/argreaders.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"
#include "platform/display_device.h"

namespace {

uint32_t ColorArg(vlVMState* L, int index) {
  return static_cast<uint32_t>(static_cast<int64_t>(vl::CheckNumberArg(L, index)));
}

int PushColor(vlVMState* L, uint32_t color) {
  vl::PushNumber(L, color);
  return 1;
}

// The 246 colours GetRandomColor picks from, as 12-bit 0xRGB values.
constexpr uint16_t kRandomColors[246] = {
    0x000, 0xfff, 0xf00, 0x0f0, 0x00f, 0xff0, 0xf0f, 0x0ff, 0x888, 0x444, 0xccc, 0x800, 0x080, 0x008, 0x880,
    0x808, 0x088, 0xf80, 0xf08, 0x8f0, 0x0f8, 0x80f, 0x08f, 0xf88, 0x8f8, 0x88f, 0xff8, 0xf8f, 0x8ff, 0x400,
    0x040, 0x004, 0x440, 0x404, 0x044, 0xc00, 0x0c0, 0x00c, 0xcc0, 0xc0c, 0x0cc, 0xc40, 0xc04, 0x4c0, 0x0c4,
    0x40c, 0x04c, 0xc44, 0x4c4, 0x44c, 0xcc4, 0xc4c, 0x4cc, 0xf44, 0x4f4, 0x44f, 0xff4, 0xf4f, 0x4ff, 0xfc0,
    0xf0c, 0xcf0, 0x0fc, 0xc0f, 0x0cf, 0xfcc, 0xcfc, 0xccf, 0xffc, 0xfcf, 0xcff, 0x200, 0x020, 0x002, 0x220,
    0x202, 0x022, 0xa00, 0x0a0, 0x00a, 0xaa0, 0xa0a, 0x0aa, 0x600, 0x060, 0x006, 0x660, 0x606, 0x066, 0xe00,
    0x0e0, 0x00e, 0xee0, 0xe0e, 0x0ee, 0x222, 0x666, 0xaaa, 0xeee, 0x333, 0x777, 0xbbb, 0x111, 0x555, 0x999,
    0xddd, 0xf60, 0xf06, 0x6f0, 0x0f6, 0x60f, 0x06f, 0xfa0, 0xf0a, 0xaf0, 0x0fa, 0xa0f, 0x0af, 0xf66, 0x6f6,
    0x66f, 0xfaa, 0xafa, 0xaaf, 0xf6a, 0xfa6, 0x6fa, 0xaf6, 0x6af, 0xa6f, 0x840, 0x804, 0x480, 0x084, 0x408,
    0x048, 0x842, 0x824, 0x482, 0x284, 0x428, 0x248, 0xc80, 0xc08, 0x8c0, 0x0c8, 0x80c, 0x08c, 0xc88, 0x8c8,
    0x88c, 0xcc8, 0xc8c, 0x8cc, 0xe80, 0xe08, 0x8e0, 0x0e8, 0x80e, 0x08e, 0xa40, 0xa04, 0x4a0, 0x0a4, 0x40a,
    0x04a, 0xa60, 0xa06, 0x6a0, 0x0a6, 0x60a, 0x06a, 0xe60, 0xe06, 0x6e0, 0x0e6, 0x60e, 0x06e, 0xea0, 0xe0a,
    0xae0, 0x0ea, 0xa0e, 0x0ae, 0xe66, 0x6e6, 0x66e, 0xeaa, 0xaea, 0xaae, 0xe88, 0x8e8, 0x88e, 0xec0, 0xe0c,
    0xce0, 0x0ec, 0xc0e, 0x0ce, 0xecc, 0xcec, 0xcce, 0xfe0, 0xf0e, 0xef0, 0x0fe, 0xe0f, 0x0ef, 0xfee, 0xefe,
    0xeef, 0xfd0, 0xf0d, 0xdf0, 0x0fd, 0xd0f, 0x0df, 0xfdd, 0xdfd, 0xddf, 0x620, 0x602, 0x260, 0x062, 0x206,
    0x026, 0xa62, 0xa26, 0x6a2, 0x2a6, 0x62a, 0x26a, 0x420, 0x402, 0x240, 0x042, 0x204, 0x024, 0xfb0, 0xf0b,
    0xbf0, 0x0fb, 0xb0f, 0x0bf, 0x975, 0x579,
};

int CmdRed(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  return PushColor(L, (ColorArg(L, 1) >> 16) & 0xff);
}
int CmdGreen(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  return PushColor(L, (ColorArg(L, 1) >> 8) & 0xff);
}
int CmdBlue(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  return PushColor(L, ColorArg(L, 1) & 0xff);
}

// No clamping: a channel above 255 spills into the next one, as scripts
// have always seen it.
int CmdRGB(vlVMState* L) {
  CheckArgs(L, 3, 3, 0, 0);
  uint32_t r = static_cast<uint32_t>(vl::CheckIntArg(L, 1));
  uint32_t g = static_cast<uint32_t>(vl::CheckIntArg(L, 2));
  uint32_t b = static_cast<uint32_t>(vl::CheckIntArg(L, 3));
  return PushColor(L, (r << 16) | (g << 8) | b);
}

int CmdARGB(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  uint32_t alpha = static_cast<uint32_t>(vl::CheckIntArg(L, 1));
  return PushColor(L, (alpha << 24) | ColorArg(L, 2));
}

int CmdMixRGB(vlVMState* L) {
  CheckArgs(L, 2, 3, 0, 0);
  uint32_t c1 = ColorArg(L, 1), c2 = ColorArg(L, 2);
  int32_t ratio = vl::OptIntArg(L, 3, 255);
  // A negative ratio would mix outside the two colours.
  if (ratio > 255 || ratio < 0) return ERR_WRONGUSAGE;
  return PushColor(L, MixColors(c1, c2, ratio));
}

int CurrentScreenFormat() {
  vlDisplay* d = CurrentDisplay();
  return d ? DisplayDevice(d)->screenFormat(d) : -1;
}

int CmdGetRealColor(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  uint32_t color = ColorArg(L, 1);
  int format = CurrentScreenFormat();
  if (format >= 0 && format <= 3) color &= 0xf8f8f8;
  else if (format >= 4 && format <= 7) color &= 0xf8fcf8;
  return PushColor(L, color);
}

int CmdGetRandomColor(vlVMState* L) {
  CheckArgs(L, 0, 0, 0, 0);
  uint32_t c = kRandomColors[static_cast<int>(drand48() * 246)];
  uint32_t r = (c >> 8) & 15, g = (c >> 4) & 15, b = c & 15;
  return PushColor(L, (r * 17) << 16 | (g * 17) << 8 | b * 17);
}

int CmdGetPen(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  int32_t pen = vl::CheckIntArg(L, 1);
  pen = pen < 0 ? 0 : pen > 255 ? 255 : pen;
  vl::PushNumber(L, vlCurrentOutput && vlCurrentOutput->palette ? vlCurrentOutput->palette[pen] : -1.0);
  return 1;
}

int CmdSetFPSLimit(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  int32_t n = vl::CheckIntArg(L, 1);
  gGraphicsState.fpsLimit = n > 0 ? n : 60;
  return 0;
}

int CmdGetFPSLimit(vlVMState* L) {
  CheckArgs(L, 0, 0, 0, 0);
  vl::PushNumber(L, gGraphicsState.fpsLimit);
  return 1;
}

int CmdVWait(vlVMState* L) {
  CheckArgs(L, 0, 0, 0, 0);
  KeepLayerBlendThrough(L);  // changes no picture
  if (CurrentDisplay()) WaitDisplayRefresh(L, CurrentDisplay(), 0);
  return 0;
}

bool DirectDrawingBlocked(vlDisplay* d) {
  if (d->styleFlags & 64) return true;
  if (!d->bgpic) return false;
  for (vlNode* n = d->bgpic->layers.head; n->succ; n = n->succ)
    if (reinterpret_cast<vlLayer*>(n)->drawnDuringSelection) return true;
  return false;
}

int CmdBeginRefresh(vlVMState* L) {
  CheckArgs(L, 0, 1, 0, 0);
  int force = vl::OptIntArg(L, 1, 0);
  vlDisplay* d = CurrentDisplay();
  if (!d) return 0;
  bool scaled = d->scaleWidth > 0 || d->scaleHeight > 0;
  if (scaled) {
    if (vlRecordingScreen) return 0;
  } else if (!((DirectDrawingBlocked(d) || force) && !vlRecordingScreen)) {
    return 0;
  }
  switch (d->outputType) {
    case VL_OUTPUT_BGPIC:
      return ERR_SELECTBG;
    case VL_OUTPUT_BRUSH:
      if (d->doubleBuffer) return ERR_ENDDOUBLEBUFFER;
      // A frame of an anim is selected through the same output type.
      return vlCurrentOutput && vlCurrentOutput->kind == VL_OBJ_ANIM ? ERR_SELECTANIM : ERR_SELECTBRUSH;
    case VL_OUTPUT_ANIM:
      return ERR_SELECTANIM;
    case VL_OUTPUT_MASK:
      return ERR_SELECTMASK;
    case VL_OUTPUT_ALPHA:
      return ERR_SELECTALPHACHANNEL;
    default:
      break;
  }
  if (vlRefreshSuspended) return ERR_WRONGUSAGE;
  SettleHeldPresentation();  // moves made before it still show
  vlRefreshSuspended = 1;
  return 0;
}

int CmdEndRefresh(vlVMState* L) {
  CheckArgs(L, 0, 0, 0, 0);
  if (!vlRefreshSuspended) return 0;
  vlRefreshSuspended = 0;
  if (CurrentDisplay()) RefreshDisplayObject(L, CurrentDisplay(), 0);
  return 0;
}

int CmdIntersection(vlVMState* L) {
  CheckArgs(L, 8, 8, 0, 0);
  int64_t v[8];
  for (int i = 0; i < 8; ++i) v[i] = vl::CheckIntArg(L, i + 1);
  int64_t x1 = std::max(v[0], v[4]), y1 = std::max(v[1], v[5]);
  int64_t x2 = std::min(v[0] + v[2], v[4] + v[6]), y2 = std::min(v[1] + v[3], v[5] + v[7]);
  if (x2 <= x1 || y2 <= y1) x1 = y1 = x2 = y2 = 0;
  vl::PushNumber(L, static_cast<double>(x1));
  vl::PushNumber(L, static_cast<double>(y1));
  vl::PushNumber(L, static_cast<double>(x2 - x1));
  vl::PushNumber(L, static_cast<double>(y2 - y1));
  return 4;
}

int CmdIsPicture(vlVMState* L) {
  CheckArgs(L, 1, 2, 0, 0);
  const char* file = GetFileNameArg(L, 1, 0, nullptr);
  char loaders[256] = "", adapters[256] = "";
  if (vl::GetTypeAt(L, 2) == VL_TTABLE) {
    // The readers answer 1 for a key that is there: no error to return.
    GetTableString(L, 2, "loader", loaders, sizeof loaders, nullptr);
    GetTableString(L, 2, "adapter", adapters, sizeof adapters, nullptr);
  }
  int32_t vector = 0, width = 0, height = 0, fourth = 0, alpha = 0;
  int ok = IdentifyImageFile(file, loaders, adapters, &vector, &width, &height, &fourth, &alpha);
  vl::PushBoolean(L, ok);
  vl::PushNewTable(L);
  SetTableInt(L, "width", ok ? width : 0);
  SetTableInt(L, "height", ok ? height : 0);
  vl::PushString(L, "alpha");
  vl::PushBoolean(L, ok && alpha);
  vl::SetTableValue(L, -3);
  vl::PushString(L, "vector");
  vl::PushBoolean(L, ok && vector);
  vl::SetTableValue(L, -3);
  SetTableInt(L, "transparency", ok ? fourth : 0);
  return 2;
}

int CmdDumpVideoTime(vlVMState* L) {
  CheckArgs(L, 0, 0, 0, 0);
  vl::PushNumber(L, -1);
  return 1;
}

}  // namespace

// Sleeps until 1/limit seconds have passed since the display's last tick.
void WaitNextFrameTick(vlVMState*, vlDisplay* display, int force) {
  if (!display || (display->openState != 1 && !force)) return;
  vlTimeVal now;
  GetSysTime(&now);
  vlTimeVal since = now;
  SubTimeVal(&since, &display->lastFrameTick);
  uint32_t frame = 1000000u / static_cast<uint32_t>(gGraphicsState.fpsLimit > 0 ? gGraphicsState.fpsLimit : 60);
  // The frame is complete: it goes out whether or not there is time left.
  SendPresentation(true);
  if (CompareTimeVal(&now, &display->lastFrameTick) >= 0 && since.seconds == 0 && since.micros < frame) {
    SleepMillis((frame - since.micros) / 1000);
    GetSysTime(&now);
  }
  display->lastFrameTick = now;
}

void WaitDisplayRefresh(vlVMState* L, vlDisplay* display, int32_t value) {
  if (!AdapterVWait(display, value)) WaitNextFrameTick(L, display, 0);
  bool unrefreshed = false;
  for (vlDisplayClient* c = display->clients; c; c = c->next)
    if (!c->refresh) unrefreshed = true;
  NotifyObservers(display, 5, nullptr, true);
  if (unrefreshed && DisplayDeviceDoes(display, VL_DEVICE_FRAME_WAIT) && display->openState != 1) WaitNextFrameTick(L, display, 1);
}

const vlCommand kGraphicsColorCommands[] = {
    {"Red", CmdRed},
    {"Green", CmdGreen},
    {"Blue", CmdBlue},
    {"RGB", CmdRGB},
    {"ARGB", CmdARGB},
    {"MixRGB", CmdMixRGB},
    {"GetRealColor", CmdGetRealColor},
    {"GetRandomColor", CmdGetRandomColor},
    {"GetPen", CmdGetPen},
    {"SetFPSLimit", CmdSetFPSLimit},
    {"GetFPSLimit", CmdGetFPSLimit},
    {"VWait", CmdVWait},
    {"BeginRefresh", CmdBeginRefresh},
    {"EndRefresh", CmdEndRefresh},
    {"Intersection", CmdIntersection},
    {"IsPicture", CmdIsPicture},
    {"DumpVideoTime", CmdDumpVideoTime},
    {nullptr, nullptr},
};
