// Plug-in event types and the posting services: the type registry (codes
// from 28), adapter input and quit requests into the pending-event queue,
// and the at-once dispatch of a type's handler. Depends on the queue, the
// wake pipe and the dispatcher.
#include "display/events/event_types.h"

#include <atomic>
#include <cstring>

#include "display/monitors.h"
#include "display/display_events.h"
#include "display/display.h"
#include "platform/event_pump.h"
#include "runtime/os.h"
#include "platform/wake_pipe.h"
#include "platform/x11/x11_hooks.h"
#include "platform/x11/x11_input.h"
#include "runtime/event_queue.h"
#include "vm/text.h"
#include "vm/auxlib.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

vlEventType* gTypes = nullptr;
uint32_t gLastCode = VL_EVENT_FIRST_REGISTERED - 1;
std::atomic<int> gShutdown{0};

bool NameTaken(const char* name) {
  for (const char* n : kDisplayHandlerNames)
    if (!CompareNoCase(n, name)) return true;
  for (const char* n : kGlobalHandlerNames)
    if (!CompareNoCase(n, name)) return true;
  return EventTypeByName(name) != nullptr;
}

// The queue's release of a registered type's data.
void FreeTypeData(vlVMState* state, uint32_t code, void* data) {
  vlEventType* type = EventTypeByCode(code);
  if (type && type->kind == 1 && type->freeData && type->callKind != 2) type->freeData(state, code, data);
}

int MapPost(int posted) { return posted == 1 ? 0 : ERR_ADDSYSEVENT; }

vlDisplay* DisplayByNumber(uintptr_t number) {
  for (vlDisplay* d = vlDisplayList; d; d = d->next)
    if (!d->idHandle && static_cast<uint32_t>(d->idNumber) == static_cast<uint32_t>(number)) return d;
  return nullptr;
}

// A display adapter's window input (kinds 3 to 9): the same display state
// and queued events the X event loop gives for a window of its own.
int PostDisplayInput(vlVMState* state, uint32_t kind, const uintptr_t* record) {
  vlDisplay* d = DisplayByNumber(record[0]);
  if (!d) return ERR_FINDDISPLAY;
  auto word = [&](int i) { return static_cast<uint32_t>(record[i]); };
  switch (kind) {
    case 3: {
      uint32_t x = word(1), y = word(2), button = word(3), down = word(4) != 0;
      if (down && button >= 1 && button <= 3) NotePress(d, VL_PRESSED_LEFT + button - 1);
      if (button == 1) {
        d->leftButton = static_cast<int32_t>(down);
        int status = MapPost(PostEvent(d, VL_XEV_LEFT, x, y, down, nullptr));
        if (down && GetPlatformOption(VL_PLATOPT_LMB_QUIT)) PostQuitRequest();
        return status;
      }
      if (button == 2) {
        d->rightButton = static_cast<int32_t>(down);
        return MapPost(PostEvent(d, VL_XEV_RIGHT, x, y, down, nullptr));
      }
      if (button == 3) {
        d->middleButton = static_cast<int32_t>(down);
        return MapPost(PostEvent(d, VL_XEV_MIDDLE, x, y, down, nullptr));
      }
      // Moves are coalesced: the dispatcher reports one per pass.
      GetSysTime(&d->lastMoveTime);
      d->mouseMoved = 1;
      return 0;
    }
    case 4: {
      uint32_t code = word(1), down = word(2) != 0, qualifiers = word(3);
      if (code < static_cast<uint32_t>(kDisplayKeyCount)) {
        d->keyState[code] = static_cast<uint8_t>(down);
        if (down) NotePress(d, code);
      }
      int status = MapPost(PostEvent(d, VL_XEV_KEY, down, qualifiers, code, nullptr));
      if (down) {
        constexpr uint32_t kControl = VL_QUAL_LCONTROL | VL_QUAL_RCONTROL;
        if (code == VL_KEY_ESCAPE) {
          if (GetPlatformOption(VL_PLATOPT_ESCAPE_QUIT)) PostQuitRequest();
        } else if (code < 256 && FoldUpper(static_cast<int>(code)) == 'C' && (qualifiers & VL_QUAL_ALWAYS) &&
                   (qualifiers & kControl) && GetPlatformOption(VL_PLATOPT_CTRLC_QUIT)) {
          PostQuitRequest();
        }
      } else if (code == VL_KEY_RETURN && (qualifiers & (VL_QUAL_LALT | VL_QUAL_RALT)) &&
                 IsFullscreenUnique(d) && !(d->styleFlags & VL_DISPSTYLE_NOMODESWITCH) &&
                 !d->grabBlocking) {
        int switched = MapPost(PostEvent(d, VL_XEV_MODE_SWITCH, 0, 0, 0, nullptr));
        if (!status) status = switched;
      }
      return status;
    }
    case 5: return MapPost(PostEvent(d, VL_XEV_CLOSE, 0, 0, 0, nullptr));
    case 6: {
      int32_t width = static_cast<int32_t>(word(1)), height = static_cast<int32_t>(word(2));
      if (int error = ResizeDisplayToWindow(state, d, width, height)) return error;
      // The resize may have rebuilt the display list: find it again.
      d = DisplayByNumber(record[0]);
      if (!d) return ERR_FINDDISPLAY;
      return MapPost(PostEvent(d, VL_XEV_SIZE, 0, 0, 0, nullptr));
    }
    case 7:
      d->x = static_cast<int32_t>(word(1));
      d->y = static_cast<int32_t>(word(2));
      return MapPost(PostEvent(d, VL_XEV_MOVE, 0, 0, 0, nullptr));
    case 8:
      if (word(1) == 0) {
        d->visibility = 2;
        return MapPost(PostEvent(d, VL_XEV_HIDE, 0, 0, 0, nullptr));
      } else {
        d->visibility = 1;
        int status = MapPost(PostEvent(d, VL_XEV_SHOW, 0, 0, 0, nullptr));
        if (state) RefreshLostDisplay(state, d);
        return status;
      }
    default:  // 9
      d->active = word(1) != 0;
      return MapPost(PostEvent(d, d->active ? VL_XEV_ACTIVE : VL_XEV_INACTIVE, 0, 0, 0, nullptr));
  }
}

}  // namespace

uint32_t RegisterEventType(const char* name, uint32_t kind, void* const* callbacks, uint32_t callKind) {
  if (!name || kind > 1 || !callbacks || NameTaken(name)) return 0;
  size_t length = std::strlen(name);
  auto* type = static_cast<vlEventType*>(AllocMemory(sizeof(vlEventType) + length + 1, 1));
  if (!type) return 0;
  char* copy = reinterpret_cast<char*>(type + 1);
  std::memcpy(copy, name, length + 1);
  type->name = copy;
  type->code = ++gLastCode;
  type->kind = kind;
  type->handler = {-1, -1};
  if (kind == 0) {
    type->fields = reinterpret_cast<vlEventFieldFn>(callbacks[0]);
  } else {
    type->call = reinterpret_cast<vlEventCallFn>(callbacks[0]);
    type->afterCall = reinterpret_cast<vlEventAfterFn>(callbacks[1]);
    type->freeData = reinterpret_cast<vlEventFreeFn>(callbacks[2]);
  }
  type->callKind = callKind;
  vlEventType** link = &gTypes;
  while (*link) link = &(*link)->next;
  *link = type;
  SetRegisteredEventFree(FreeTypeData);
  return type->code;
}

vlEventType* FirstEventType() { return gTypes; }

vlEventType* EventTypeByCode(uint32_t code) {
  for (vlEventType* t = gTypes; t; t = t->next)
    if (t->code == code) return t;
  return nullptr;
}

vlEventType* EventTypeByName(const char* name) {
  for (vlEventType* t = gTypes; t; t = t->next)
    if (!CompareNoCase(t->name, name)) return t;
  return nullptr;
}

int32_t FindEventType(const char* name, uintptr_t* tags) {
  vlEventType* type = name ? EventTypeByName(name) : nullptr;
  for (uintptr_t* t = tags; t && t[0] != 0; t += 2) {
    if (t[0] == 1 && t[1]) *reinterpret_cast<int32_t*>(t[1]) = type ? type->handler.userdataRef : -1;
  }
  return type ? type->handler.functionRef : -1;
}

void FreeEventTypes(vlVMState* state) {
  while (vlEventType* t = gTypes) {
    gTypes = t->next;
    if (state) {
      if (t->handler.functionRef != -1) vl::ReleaseRef(state, vl::kRegistryIndex, t->handler.functionRef);
      if (t->handler.userdataRef != -1) vl::ReleaseRef(state, vl::kRegistryIndex, t->handler.userdataRef);
    }
    FreeMemory(t);
  }
  gLastCode = VL_EVENT_FIRST_REGISTERED - 1;
}

int PostQuitRequest() {
  RequestQuit();
  return PostEvent(nullptr, VL_EVENT_QUIT_REQUEST, 0, 0, 0, nullptr);
}

void SetEventShutdown(int flag) { gShutdown.store(flag); }

int PostAdapterEventVM(vlVMState* state, uint32_t kind, const uintptr_t* record) {
  if (gShutdown.load()) return 0;
  int status = 0;
  if (kind == 0) {
    status = MapPost(PostQuitRequest());
  } else if (kind == 1) {
    auto* call = static_cast<vlPluginCall*>(AllocMemory(sizeof(vlPluginCall), 1));
    if (!call) {
      status = ERR_MEM;
    } else {
      call->function = reinterpret_cast<int (*)(vlVMState*, void*)>(record[1]);
      call->argument = reinterpret_cast<void*>(record[2]);
      int posted = PostEvent(nullptr, VL_EVENT_PLUGIN_CALL, 0, 0, 0, call);
      // A refused post leaves the block with us.
      if (posted != 1) FreeMemory(call);
      status = MapPost(posted);
    }
  } else if (kind >= 3 && kind <= 9) {
    status = PostDisplayInput(state ? state : GetRunningScriptState(), kind, record);
  } else if (kind >= VL_EVENT_FIRST_REGISTERED) {
    status = MapPost(PostEvent(nullptr, kind, 0, 0, 0, const_cast<uintptr_t*>(record)));
  }
  WakeEventLoop();
  return status;
}

int PostAdapterEvent(uint32_t kind, const uintptr_t* record) { return PostAdapterEventVM(nullptr, kind, record); }
