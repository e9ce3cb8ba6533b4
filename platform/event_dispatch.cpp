// The event callback dispatcher: one table of event sources visited in a
// fixed order, the queued-event dispatch and the running of a callback with
// its message table. Depends on the pending-event queue, the plug-in event
// types, the VM's protected call and the run-time options.
#include "platform/event_dispatch.h"

#include <cstdio>
#include <cstring>

#include "platform/event_pump.h"
#include "platform/event_types.h"
#include "platform/intervals.h"
#include "platform/os.h"
#include "platform/threads.h"
#include "platform/timers.h"
#include "runtime/event_queue.h"
#include "runtime/runtime_options.h"
#include "vm/call.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

const char* const kGlobalHandlerNames[kGlobalHandlerCount] = {
    "onsampleloop", "onsampleend",   "onmusicend",     "onarexx",
    "onconnect",    "ondisconnect",  "onreceivedata",  "onreceiveudpdata",
    "onvideoend",   "onusermessage", "fillmusicbuffer", "runfinished"};

const char* const kDisplayHandlerNames[kDisplayHandlerCount] = {
    "onkeydown",       "onkeyup",         "onmousemove",       "closewindow",
    "movewindow",      "sizewindow",      "activewindow",      "inactivewindow",
    "hidewindow",      "showwindow",      "onmousedown",       "onmouseup",
    "onrightmousedown", "onrightmouseup", "onwheeldown",       "onwheelup",
    "modeswitch",      "ondropfile",      "clipboardchange",   "onmidmousedown",
    "onmidmouseup",    "orientationchange", "showkeyboard",    "hidekeyboard",
    "hotkey",          "trayicon",        "ontouch",           "onapplicationmessage",
    "onmenuselect",    "ondockyclick"};

vlHandlerSlot gGlobalHandlers[kGlobalHandlerCount] = {
    {-1, -1}, {-1, -1}, {-1, -1}, {-1, -1}, {-1, -1}, {-1, -1},
    {-1, -1}, {-1, -1}, {-1, -1}, {-1, -1}, {-1, -1}, {-1, -1}};

vlEventPumpCursors gEventPumpCursors = {};

namespace {

vlPumpState* gPump = nullptr;
const vlNetworkPolls* gNetworkPolls = nullptr;

// Phases a yielded callback leaves behind.
enum : uint32_t {
  kPhaseTimers = 1,
  kPhaseAudio = 2,
  kPhaseMouseMove = 3,
  kPhaseUserMessage = 4,
  kPhaseQueueFirst = 5,   // the display's own handler ran; the second dispatch follows
  kPhaseQueueSecond = 6,  // the event is done; the next one follows
  kPhaseHoverIn = 7,
  kPhaseHoverOut = 8,
  kPhaseUdp = 9,
  kPhaseConnect = 10,
  kPhaseReceive = 11,
  kPhaseDisconnect = 12,
  kPhaseMusicFill = 13,
  kPhaseUserMessageRun = 14,
  kPhaseLast = 14,
};

// A source visit: fills msg and returns 0, or returns an error, -1 or 1003.
// resume is the phase the pass stopped at inside this source (0: fresh).
using vlSourceVisit = int (*)(vlVMState* state, vlPumpState* pump, vlCallbackMsg* msg, int mode,
                              uint32_t resume);

struct vlEventSource {
  uint32_t phase;   // the phase its callbacks leave behind
  uint32_t phase2;  // a second one (0: none)
  vlSourceVisit visit;  // null: the subsystem is not part of this build
};

void FillTimerMessage(vlCallbackMsg* msg, uint32_t kind, vlObjectId id, int functionRef, int userdataRef) {
  msg->kind = kind == VL_TIMER_INTERVAL ? VL_MSG_INTERVAL : VL_MSG_TIMEOUT;
  std::snprintf(msg->action, sizeof msg->action, "%s", kind == VL_TIMER_INTERVAL ? "Interval" : "Timeout");
  msg->functionRef = functionRef;
  msg->userdataRef = userdataRef;
  msg->idRecorded = 1;
  msg->recordedId = id;
}

// Fired intervals and timeouts, in the order of the platform timer list;
// the walk takes one record per step, so a callback may clear any timer.
int VisitTimers(vlVMState* state, vlPumpState* pump, vlCallbackMsg* msg, int, uint32_t resume) {
  if (resume == 0) {
    gTimerCursor = nullptr;
    pump->timersWalked = 0;
  }
  while (!pump->timersWalked) {
    uint32_t kind = VL_TIMER_NONE;
    vlObjectId id{};
    gTimerCursor = TakeFiredTimer(gTimerCursor, &kind, &id);
    if (!gTimerCursor) pump->timersWalked = 1;
    if (kind == VL_TIMER_INTERVAL) {
      vlTimerObject* interval = LookupInterval(id);
      if (!interval || interval->functionRef < 0) continue;
      FillTimerMessage(msg, kind, id, interval->functionRef, interval->userdataRef);
      return RunEventCallback(state, msg, 0);
    }
    if (kind == VL_TIMER_TIMEOUT) {
      int32_t functionRef, userdataRef;
      if (!TakeTimeout(state, id, &functionRef, &userdataRef)) continue;
      FillTimerMessage(msg, kind, id, functionRef, userdataRef);
      int r = functionRef >= 0 ? RunEventCallback(state, msg, 0) : 0;
      ReleaseTimerRefs(state, functionRef, userdataRef);
      return r;
    }
  }
  return 0;
}

void FreeQueued(vlVMState* state, const vlEventMsg& e) { FreeEventData(state, e.type, e.extra); }

// Fills a kind-21 message for a registered type; false when the type takes
// no callback (unknown, or a field type without a handler).
bool FillTypeMessage(vlEventType* type, void* data, vlCallbackMsg* msg) {
  if (!type || (type->kind == 0 && type->handler.functionRef == -1)) return false;
  msg->kind = VL_MSG_PLUGIN_TYPE;
  std::snprintf(msg->action, sizeof msg->action, "%s", type->name);
  msg->functionRef = type->handler.functionRef;
  msg->userdataRef = type->handler.userdataRef;
  msg->eventType = type;
  msg->eventData = data;
  return true;
}

class QueueLock {
 public:
  QueueLock() : mutex_(GetEventQueue() ? GetEventQueue()->mutex : nullptr) {
    if (mutex_) LockMutex(mutex_);
  }
  ~QueueLock() { Release(); }
  void Release() {
    if (mutex_) UnlockMutex(mutex_);
    mutex_ = nullptr;
  }

 private:
  vlMutex* mutex_;
};

// Queued events, oldest first, one taken at a time. Events of the engine's
// display types need the display handlers, which this build has no
// displays for: they are freed as events that yield nothing. Legacy label
// records are likewise absent, so no label test runs.
int VisitQueue(vlVMState* state, vlPumpState* pump, vlCallbackMsg* msg, int, uint32_t resume) {
  if (resume == kPhaseQueueFirst) {
    // The second dispatch of an event whose display handler ran: display
    // types have nothing further here.
    FreeEventData(state, pump->eventType, pump->eventData);
    pump->eventData = nullptr;
  }
  QueueLock lock;
  if (resume == 0) ExpirePendingEvents(state);
  vlEventMsg e;
  while (GetPendingEvent(0, &e, 1)) {
    DropPendingEvents(state, 0, 0);
    if (e.type == VL_EVENT_QUIT_REQUEST) {
      lock.Release();
      FreeQueued(state, e);
      pump->phase = kPhaseQueueSecond;
      return ERR_USERABORT;
    }
    if (e.type == VL_EVENT_PLUGIN_CALL) {
      auto* call = static_cast<vlPluginCall*>(e.extra);
      int r = call && call->function ? call->function(state, call->argument) : 0;
      FreeQueued(state, e);
      if (r) {
        lock.Release();
        pump->phase = kPhaseQueueSecond;
        return r;
      }
      continue;
    }
    if (e.type < VL_EVENT_FIRST_REGISTERED) {
      FreeQueued(state, e);
      continue;
    }
    if (!FillTypeMessage(EventTypeByCode(e.type), e.extra, msg)) {
      FreeQueued(state, e);
      continue;
    }
    lock.Release();
    pump->phase = kPhaseQueueSecond;
    int r = RunEventCallback(state, msg, 0);
    FreeEventData(state, e.type, e.extra);
    return r;
  }
  return 0;
}

// The global handler slots of the network events.
enum : int { kSlotConnect = 4, kSlotDisconnect = 5, kSlotReceive = 6, kSlotUdp = 7 };

vlObjectId IdOf(const vlObjectNode* node) { return {node->idNumber, node->idHandle}; }

void FillNetworkMessage(vlCallbackMsg* msg, uint32_t kind, int slot, const char* action, vlObjectNode* node) {
  msg->kind = kind;
  std::snprintf(msg->action, sizeof msg->action, "%s", action);
  msg->functionRef = gGlobalHandlers[slot].functionRef;
  msg->userdataRef = gGlobalHandlers[slot].userdataRef;
  msg->idRecorded = 1;
  msg->recordedId = IdOf(node);
}

// One network list: polls the records from the cursor on (from the head
// on a fresh visit); the first that reports yields its callback. The
// cursor moves past a record before its callback runs, so the callback may
// close it.
template <class Poll>
int VisitNetworkList(vlVMState* state, vlCallbackMsg* msg, uint32_t resume, int slot, vlObjectNode** head,
                     vlObjectNode** cursor, Poll poll) {
  if (gGlobalHandlers[slot].functionRef < 0) return 0;
  if (resume == 0) *cursor = *head;
  while (vlObjectNode* node = *cursor) {
    *cursor = node->next;
    if (poll(node)) return RunEventCallback(state, msg, 0);
  }
  return 0;
}

int VisitUdp(vlVMState* state, vlPumpState*, vlCallbackMsg* msg, int, uint32_t resume) {
  if (!gNetworkPolls) return 0;
  return VisitNetworkList(state, msg, resume, kSlotUdp, gNetworkPolls->udpObjects, &gEventPumpCursors.udpObject,
                          [&](vlObjectNode* node) {
                            if (!gNetworkPolls->pollUDPData(node)) return false;
                            FillNetworkMessage(msg, VL_MSG_UDP, kSlotUdp, "OnReceiveUDPData", node);
                            return true;
                          });
}

int VisitConnect(vlVMState* state, vlPumpState*, vlCallbackMsg* msg, int, uint32_t resume) {
  if (!gNetworkPolls) return 0;
  return VisitNetworkList(state, msg, resume, kSlotConnect, gNetworkPolls->servers, &gEventPumpCursors.server,
                          [&](vlObjectNode* node) {
                            vlObjectId client{};
                            if (!gNetworkPolls->acceptClient(node, &client)) return false;
                            FillNetworkMessage(msg, VL_MSG_CONNECT, kSlotConnect, "OnConnect", node);
                            msg->clientId = client;
                            return true;
                          });
}

int VisitReceive(vlVMState* state, vlPumpState*, vlCallbackMsg* msg, int, uint32_t resume) {
  if (!gNetworkPolls) return 0;
  return VisitNetworkList(state, msg, resume, kSlotReceive, gNetworkPolls->connections,
                          &gEventPumpCursors.connection, [&](vlObjectNode* node) {
                            if (!gNetworkPolls->pollReceivedData(node)) return false;
                            FillNetworkMessage(msg, VL_MSG_RECEIVE, kSlotReceive, "OnReceiveData", node);
                            return true;
                          });
}

int VisitDisconnect(vlVMState* state, vlPumpState*, vlCallbackMsg* msg, int, uint32_t resume) {
  if (!gNetworkPolls) return 0;
  return VisitNetworkList(state, msg, resume, kSlotDisconnect, gNetworkPolls->connections,
                          &gEventPumpCursors.connection, [&](vlObjectNode* node) {
                            if (!gNetworkPolls->pollDisconnect(node)) return false;
                            FillNetworkMessage(msg, VL_MSG_DISCONNECT, kSlotDisconnect, "OnDisconnect", node);
                            return true;
                          });
}

// The visiting order. Sources whose subsystems this build lacks (music
// refill, sample/music/video end events, per-display mouse moves, the
// message port, legacy hover labels, BGPic button hover) have
// no visit routine and deliver nothing.
constexpr vlEventSource kSources[] = {
    {kPhaseMusicFill, 0, nullptr},
    {kPhaseTimers, 0, VisitTimers},
    {kPhaseAudio, 0, nullptr},
    {kPhaseMouseMove, 0, nullptr},
    {kPhaseUdp, 0, VisitUdp},
    {kPhaseConnect, 0, VisitConnect},
    {kPhaseReceive, 0, VisitReceive},
    {kPhaseDisconnect, 0, VisitDisconnect},
    {kPhaseUserMessage, kPhaseUserMessageRun, nullptr},
    {kPhaseQueueFirst, kPhaseQueueSecond, VisitQueue},
    {kPhaseHoverIn, kPhaseHoverOut, nullptr},
};
constexpr int kSourceCount = sizeof kSources / sizeof kSources[0];

void PushId(vlVMState* state, const vlObjectId& id) {
  if (id.handle) vl::PushPointer(state, id.handle);
  else vl::PushNumber(state, id.number);
}

void SetStringField(vlVMState* state, const char* key, const char* value) {
  vl::PushString(state, key);
  vl::PushString(state, value);
  vl::RawSetTableValue(state, -3);
}

// The fields of the message table by kind; the table is on the top.
void AddMessageFields(vlVMState* state, vlCallbackMsg* msg) {
  SetStringField(state, "action", msg->action);
  if (msg->kind == VL_MSG_INTERVAL || msg->kind == VL_MSG_TIMEOUT || msg->kind == VL_MSG_DISCONNECT ||
      msg->kind == VL_MSG_RECEIVE || msg->kind == VL_MSG_UDP) {
    vl::PushString(state, "id");
    PushId(state, msg->recordedId);
    vl::RawSetTableValue(state, -3);
  } else if (msg->kind == VL_MSG_CONNECT) {
    vl::PushString(state, "serverid");
    PushId(state, msg->recordedId);
    vl::RawSetTableValue(state, -3);
    vl::PushString(state, "clientid");
    PushId(state, msg->clientId);
    vl::RawSetTableValue(state, -3);
  } else if (msg->kind == VL_MSG_PLUGIN_TYPE && msg->eventType->fields) {
    int top = vl::GetStackTop(state);
    msg->eventType->fields(state, msg->eventType->code, msg->eventData);
    vl::SetStackTop(state, top);
  }
}

}  // namespace

int InitPumpState() {
  if (gPump) return 0;
  gPump = static_cast<vlPumpState*>(AllocMemory(sizeof(vlPumpState), 1));
  return gPump ? 0 : ERR_MEM;
}

void FreePumpState(vlVMState* state) {
  if (!gPump) return;
  if (gPump->eventData) FreeEventData(state, gPump->eventType, gPump->eventData);
  FreeMemory(gPump);
  gPump = nullptr;
}

vlPumpState* GetPumpState() { return gPump; }

void SetNetworkPolls(const vlNetworkPolls* polls) {
  gNetworkPolls = polls;
  gEventPumpCursors = {};
}

int RunTimerCallback(vlVMState* state, uint32_t kind, vlObjectId id, int functionRef, int userdataRef) {
  vlCallbackMsg msg{};
  FillTimerMessage(&msg, kind, id, functionRef, userdataRef);
  return RunEventCallback(state, &msg, 1);
}

int NextEventCallback(vlVMState* state, int mode, vlCallbackMsg* msg) {
  msg->kind = VL_MSG_NONE;
  msg->idRecorded = 0;
  if (!gPump && InitPumpState()) return ERR_MEM;
  vlPumpState* pump = gPump;
  uint32_t resume = pump->phase > kPhaseLast ? 0 : pump->phase;
  int first = 0;
  if (resume != 0) {
    while (first < kSourceCount && kSources[first].phase != resume && kSources[first].phase2 != resume)
      ++first;
    if (first == kSourceCount) first = 0, resume = 0;
  }
  for (int i = first; i < kSourceCount; ++i) {
    const vlEventSource& source = kSources[i];
    pump->phase = source.phase;
    if (!source.visit) continue;
    int r = source.visit(state, pump, msg, mode, i == first ? resume : 0);
    if (r == -1) {
      pump->phase = 0;
      return r;
    }
    if (r || msg->kind != VL_MSG_NONE) return r;
  }
  pump->phase = 0;
  return 0;
}

int RunEventCallback(vlVMState* state, vlCallbackMsg* msg, int pop) {
  msg->savedTop = vl::GetStackTop(state);
  int status = 0;
  vlEventType* type = msg->kind == VL_MSG_PLUGIN_TYPE ? msg->eventType : nullptr;
  if (type && type->kind == 1) {
    // The type pushes its own function and its arguments. Through the
    // frame call nothing can be pushed on this platform: nothing to call.
    int pushed = type->callKind == 2 ? -1 : type->call(state, type->code, msg->eventData);
    if (pushed >= 0) {
      SetRuntimeOption(state, VL_OPT_CALLBACK_NESTING, 1u, 0u);
      status = vl::CallProtected(state, pushed, 0, 0);
      SetRuntimeOption(state, VL_OPT_CALLBACK_NESTING, 0u, 0u);
    } else if (pushed < -1) {
      status = -pushed;
    }
    if (type->callKind != 2 && type->afterCall) type->afterCall(state, type->code, msg->eventData);
  } else {
    vl::RawGetTableIndex(state, vl::kRegistryIndex, msg->functionRef);
    vl::PushNewTable(state);
    AddMessageFields(state, msg);
    if (msg->userdataRef != -1) {
      vl::PushString(state, "userdata");
      vl::RawGetTableIndex(state, vl::kRegistryIndex, msg->userdataRef);
      vl::RawSetTableValue(state, -3);
    }
    if (!pop) {
      // The table stays below the function: the caller's result table.
      vl::PushSlotCopy(state, -1);
      vl::InsertTopAt(state, -3);
      msg->savedTop = vl::GetStackTop(state) - 2;
    }
    SetRuntimeOption(state, VL_OPT_CALLBACK_NESTING, 1u, 0u);
    status = vl::CallProtected(state, 1, pop ? 0 : -1, 0);
    SetRuntimeOption(state, VL_OPT_CALLBACK_NESTING, 0u, 0u);
  }
  if (status && vl::GetStackTop(state) > msg->savedTop) vl::SetStackTop(state, msg->savedTop);
  if (QuitRequested() && status == 0) return ERR_USERABORT;
  return status;
}
