// The system sub-table's adapters over the run's records: the tag query,
// the date string and its parsed form, simple event types and the input a
// display client feeds back. Depends on the applet record, the graphics
// state, the requester thread, the event library and the display clients.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ctime>

#include "display/clients.h"
#include "display/events/event_types.h"
#include "display/layers/clip_regions.h"
#include "libraries/dos/dos_library.h"
#include "platform/requesters_gtk.h"
#include "player/service_adapters.h"
#include "platform/event_pump.h"
#include "platform/intervals.h"
#include "runtime/run_state.h"
#include "runtime/errors.h"
#include "runtime/runtime_options.h"
#include "runtime/script_call.h"
#include "runtime/script_version.h"
#include "runtime/startup_records.h"
#include "vm/error_codes.h"
#include "vm/state.h"

namespace {

// Tags that answer through the pointer in their value.
template <class T>
void Answer(const vlTagItem* t, T value) {
  if (t->value) *reinterpret_cast<T*>(t->value) = value;
}

// Information strings 0 to 4 are the header texts, 5 the identifier.
const char* AppletString(vlVMState* state, uint32_t index) {
  vlAppletInfo* applet = GetAppletRecord(state);
  if (!applet) return nullptr;
  return index < kHeaderStringCount ? applet->header[index] : applet->identifier;
}

}  // namespace

int SystemTagsSvc(vlVMState* state, vlTagItem* tags) {
  int handled = 0;
  for (vlTagItem* t = tags; t && t->tag != VL_TAG_END; ++t) {
    switch (t->tag) {
      case 25: t->value = 0; break;
      case 26: case 27: case 28: case 29: case 30: Answer(t, AppletString(state, t->tag - 26)); break;
      case 37: Answer(t, AppletString(state, kHeaderStringCount)); break;
      case 31: {
        // An unbalanced lowering stops at 0: below it, an error at the top
        // level would no longer end the script.
        const int64_t nesting = int64_t{vlOptions.callbackNesting} + static_cast<int32_t>(t->value);
        vlOptions.callbackNesting = static_cast<int32_t>(std::clamp<int64_t>(nesting, 0, INT32_MAX));
        break;
      }
      case 32: Answer(t, static_cast<uint32_t>(IsRequesterThreadRunning())); break;
      case 33: gLineHookSuspended = t->value; break;
      case 35: Answer(t, gGraphicsState.fpsLimit); break;
      case 38:
        if (!state) continue;
        *state->g->host.quitFlag = 1;
        break;
      case 39: gDispatchSuspended = t->value; break;
      case 40:
        ResetCurrentFunction();
        if (state) *state->g->host.quitFlag = 0;
        break;
      default: continue;
    }
    ++handled;
  }
  return handled;
}

void GetDateStringSvc(char* buffer, size_t size) {
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  if (!buffer || size == 0) return;
  time_t now = time(nullptr);
  tm t;
  localtime_r(&now, &t);
  snprintf(buffer, size, "%.2ld-%s-20%.2ld %.2ld:%.2ld:%.2ld", static_cast<long>(t.tm_mday), kMonths[t.tm_mon],
           static_cast<long>(t.tm_year % 100), static_cast<long>(t.tm_hour), static_cast<long>(t.tm_min),
           static_cast<long>(t.tm_sec));
}

// Through the same parser the dos library reads date texts with: 1 with
// the record filled, 0 for no record.
int GetDateStampSvc(vlDateRecord* date) {
  if (!date) return 0;
  char text[64];
  GetDateStringSvc(text, sizeof text);
  int32_t words[6];  // second, minute, hour, day, month 0..11, year
  if (!ParseDateString(text, words)) return 0;
  *date = {words[3], words[4] + 1, words[5], words[2], words[1], words[0]};
  return 1;
}

namespace {

// The plug-in behind the timer adapter. Its entries are bound after its
// InitPlugin, which is where it asks to be the adapter: they are read at
// each call. One called through the frame call gets nothing on this
// platform, so its timers cannot be made.
vlPluginInfo* gTimerPlugin = nullptr;

uintptr_t AdapterRegisterTimer(vlVMState* state, uint32_t millis, int oneShot) {
  vlPluginInfo* p = gTimerPlugin;
  if (!p || p->callKind == 2 || !p->RegisterTimer) return 0;
  return p->RegisterTimer(state, millis, oneShot);
}

void AdapterFreeTimer(uintptr_t handle) {
  vlPluginInfo* p = gTimerPlugin;
  if (p && p->callKind != 2 && p->FreeTimer) p->FreeTimer(handle);
}

vlTimerAdapter gAdapter = {AdapterRegisterTimer, AdapterFreeTimer, 0};

}  // namespace

// A timer adapter takes over the timers of intervals and timeouts; only
// while plug-ins are initialised, and never in place of a locked one.
int SetTimerAdapterSvc(vlPluginInfo* info, uint32_t flags) {
  if (!CheckScriptVersion(6, 0)) return ERR_OLDAPPLET;
  if (!info || !(info->capabilities & PLUGINCAPS_TIMERADAPTER)) return ERR_WRONGUSAGE;
  if (!vlPluginStartup || (gTimerAdapter && (gTimerAdapter->flags & 1))) return ERR_SETADAPTER;
  gTimerPlugin = info;
  gAdapter.flags = flags;
  // The plug-in sees its lock word where the other adapters keep theirs.
  info->adapterWords[1] = flags;
  gTimerAdapter = &gAdapter;
  return 0;
}

uint32_t RegisterEventTypeSimpleSvc(const char* name, vlEventFieldsFn fields) {
  void* word = reinterpret_cast<void*>(fields);
  return RegisterEventType(name, 0, &word, 0);
}

int DisplayClientControlSvc(void* client, const vlTagItem* tags) {
  auto* c = static_cast<vlDisplayClient*>(client);
  for (const vlTagItem* t = tags; t && t->tag != VL_TAG_END; ++t) {
    const auto* data = reinterpret_cast<const int32_t*>(t->value);
    int status = 0;
    switch (t->tag) {
      case VL_CLIENT_MOVE:
      case VL_CLIENT_LEFT:
      case VL_CLIENT_RIGHT:
      case VL_CLIENT_MIDDLE:
      case VL_CLIENT_WHEEL:
      case VL_CLIENT_KEY:
        status = data ? ClientEvent(c, t->tag - VL_CLIENT_MOVE, data) : ERR_WRONGUSAGE;
        break;
      case VL_CLIENT_REFRESH:
      case VL_CLIENT_WORD3:
      case VL_CLIENT_WORD4:
        status = SetClientWord(c, t->tag - VL_CLIENT_REFRESH, t->value);
        break;
      default: break;
    }
    if (status) return status;
  }
  return 0;
}
