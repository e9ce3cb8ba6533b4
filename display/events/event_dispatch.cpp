// The event callback dispatcher: one table of event sources visited in a
// fixed order, the queued-event dispatch and the running of a callback with
// its message table. Depends on the pending-event queue, the plug-in event
// types, the VM's protected call and the run-time options.
#include "display/events/event_dispatch.h"

#include <cstdio>
#include <cstring>

#include "display/display_events.h"
#include "display/bgpic.h"
#include "display/display.h"
#include "platform/display_adapter.h"
#include "display/events/event_buttons.h"
#include "platform/event_pump.h"
#include "display/events/event_keys.h"
#include "display/events/event_legacy.h"
#include "platform/hooks.h"
#include "display/events/event_types.h"
#include "platform/x11/x11_input.h"
#include "display/layers/layers.h"
#include "platform/intervals.h"
#include "runtime/os.h"
#include "runtime/threads.h"
#include "platform/timers.h"
#include "runtime/errors.h"
#include "runtime/event_queue.h"
#include "runtime/runtime_options.h"
#include "vm/call.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"
#include "platform/display_device.h"

int gMusicCallbackDepth = 0;

vlEventPumpCursors gEventPumpCursors = {};

namespace {

vlPumpState* gPump = nullptr;
const vlNetworkPolls* gNetworkPolls = nullptr;
const vlRunEnds* gRunEnds = nullptr;

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
  vlSourceVisit visit;
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

// Global handler slots of the audio sources.
enum : int {
  kSlotSampleLoop = 0,
  kSlotSampleEnd = 1,
  kSlotMusicEnd = 2,
  kSlotVideoEnd = 8,
  kSlotUserMessage = 9,
  kSlotFillMusic = 10,
  kSlotRunFinished = 11,
};

void FillMusicMessage(vlCallbackMsg* msg, vlObjectId id, uint32_t frames, uint32_t count) {
  msg->kind = VL_MSG_FILLMUSIC;
  std::snprintf(msg->action, sizeof msg->action, "%s", "FillMusicBuffer");
  msg->functionRef = gGlobalHandlers[kSlotFillMusic].functionRef;
  msg->userdataRef = gGlobalHandlers[kSlotFillMusic].userdataRef;
  msg->idRecorded = 1;
  msg->recordedId = id;
  msg->x = static_cast<int32_t>(frames);
  msg->y = static_cast<int32_t>(count);
}

// A callback-fed music that runs short of queued frames. One fill per
// pass: resumed after it, the pass goes on to the timers, so a script that
// cannot feed its music yet still hears its other events.
int VisitMusicFill(vlVMState* state, vlPumpState*, vlCallbackMsg* msg, int, uint32_t resume) {
  if (resume == kPhaseMusicFill) return 0;
  if (!gPlatformHooks.findMusicNeedingData || gGlobalHandlers[kSlotFillMusic].functionRef < 0) return 0;
  vlObjectId id{};
  uint32_t queued = 0;
  uint32_t missing = gPlatformHooks.findMusicNeedingData(&id, &queued);
  if (!missing) return 0;
  FillMusicMessage(msg, id, missing, queued);
  gMusicCallbackDepth++;
  int r = RunEventCallback(state, msg, 0);
  gMusicCallbackDepth--;
  return r;
}

// A program started by Run has ended: its own callback runs, else the
// global "runfinished" handler. A run nobody hears of is removed at once,
// so that its watcher does not wait for the end of the script.
bool FillRunMessage(vlVMState* state, const void* request, vlCallbackMsg* msg) {
  vlRunEnd run{};
  if (!gRunEnds || !gRunEnds->find(request, &run)) return false;
  const vlHandlerSlot& global = gGlobalHandlers[kSlotRunFinished];
  if (run.callbackRef < 0 && global.functionRef < 0) {
    gRunEnds->remove(state, request);
    return false;
  }
  msg->kind = VL_MSG_RUNFINISHED;
  std::snprintf(msg->action, sizeof msg->action, "%s", "RunFinished");
  msg->functionRef = run.callbackRef >= 0 ? run.callbackRef : global.functionRef;
  msg->userdataRef = run.callbackRef >= 0 ? -1 : global.userdataRef;
  // The request is no script object: it is not handed out as an id.
  msg->runRequest = request;
  return true;
}

// Sample, music and video end events and program ends; events without a
// handler are dropped.
int VisitAudio(vlVMState* state, vlPumpState*, vlCallbackMsg* msg, int, uint32_t) {
  if (!gPlatformHooks.popAudioEvent) return 0;
  static constexpr struct {
    int kind;
    int slot;
    const char* action;
  } kEvents[] = {{5, kSlotSampleEnd, "OnSampleEnd"},   {6, kSlotSampleLoop, "OnSampleLoop"},
                 {7, kSlotMusicEnd, "OnMusicEnd"},     {8, kSlotVideoEnd, "OnVideoEnd"},
                 {10, kSlotRunFinished, "RunFinished"}};
  bool any = gRunEnds && gRunEnds->pending();
  for (const auto& e : kEvents) any = any || gGlobalHandlers[e.slot].functionRef >= 0;
  if (!any) return 0;
  int kind;
  vlObjectId id;
  int32_t position, count;
  while (gPlatformHooks.popAudioEvent(&kind, &id, &position, &count)) {
    if (kind == 10) {
      if (FillRunMessage(state, id.handle, msg)) return RunEventCallback(state, msg, 0);
      continue;
    }
    for (const auto& e : kEvents) {
      if (e.kind != kind || gGlobalHandlers[e.slot].functionRef < 0) continue;
      msg->kind = VL_MSG_AUDIO;
      std::snprintf(msg->action, sizeof msg->action, "%s", e.action);
      msg->functionRef = gGlobalHandlers[e.slot].functionRef;
      msg->userdataRef = gGlobalHandlers[e.slot].userdataRef;
      msg->idRecorded = 1;
      msg->recordedId = id;
      msg->x = position;
      msg->y = count;
      return RunEventCallback(state, msg, 0);
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
  QueueLock() { Acquire(); }
  ~QueueLock() { Release(); }
  void Acquire() {
    mutex_ = GetEventQueue() ? GetEventQueue()->mutex : nullptr;
    if (mutex_) LockMutex(mutex_);
  }
  void Release() {
    if (mutex_) UnlockMutex(mutex_);
    mutex_ = nullptr;
  }

 private:
  vlMutex* mutex_;
};

// The display at a position of the display list, null past its end.
vlDisplay* DisplayAt(int32_t index) {
  vlDisplay* d = vlDisplayList;
  for (int32_t i = 0; d && i < index; ++i) d = d->next;
  return d;
}

void FillDisplayMessage(vlCallbackMsg* msg, vlDisplay* d, uint32_t kind, const char* action, int slot) {
  vlHandlerSlot* h = DisplayHandler(d, slot);
  msg->kind = kind;
  msg->target = d;
  std::snprintf(msg->action, sizeof msg->action, "%s", action);
  msg->functionRef = h->functionRef;
  msg->userdataRef = h->userdataRef;
  msg->idRecorded = 1;
  msg->recordedId = d->id();
}

// Per-display pointer moves; the flag stays for the button hover step.
int VisitMouseMoves(vlVMState* state, vlPumpState* pump, vlCallbackMsg* msg, int, uint32_t resume) {
  int32_t index = resume ? pump->displayIndex + 1 : 0;
  for (vlDisplay* d = DisplayAt(index); d; d = d->next, ++index) {
    if (!d->mouseMoved || DisplayHandler(d, VL_DH_MOUSEMOVE)->functionRef == -1) continue;
    pump->displayIndex = index;
    FillDisplayMessage(msg, d, VL_MSG_MOUSE_MOVE, "OnMouseMove", VL_DH_MOUSEMOVE);
    return RunEventCallback(state, msg, 0);
  }
  return 0;
}

struct DisplayEventRow {
  uint32_t type;
  int slot;
  const char* action;
  uint32_t kind;
};
constexpr DisplayEventRow kDisplayEventRows[] = {
    {4, 4, "MoveWindow", VL_MSG_MOVE},          {5, 5, "SizeWindow", VL_MSG_SIZE},
    {6, 7, "InactiveWindow", VL_MSG_WINDOW},    {7, 3, "CloseWindow", VL_MSG_WINDOW},
    {8, 6, "ActiveWindow", VL_MSG_WINDOW},      {9, 8, "HideWindow", VL_MSG_WINDOW},
    {10, 9, "ShowWindow", VL_MSG_WINDOW},       {13, 16, "ModeSwitch", VL_MSG_MODE_SWITCH},
    {14, 17, "OnDropFile", VL_MSG_DROP},        {15, 18, "ClipboardChange", VL_MSG_WINDOW},
    {17, 21, "OrientationChange", VL_MSG_ORIENTATION}, {18, 22, "ShowKeyboard", VL_MSG_WINDOW},
    {19, 23, "HideKeyboard", VL_MSG_WINDOW},    {20, 24, "Hotkey", VL_MSG_WINDOW},
    {21, 25, "TrayIcon", VL_MSG_WINDOW},        {22, 26, "OnTouch", VL_MSG_TOUCH},
    {25, 27, "OnApplicationMessage", VL_MSG_APP_MESSAGE}, {26, 28, "OnMenuSelect", VL_MSG_MENU},
    {27, 29, "OnDockyClick", VL_MSG_WINDOW},
};

// Index of the mouse button of an event type: 0 left, 1 right, 2 middle.
int ButtonIndex(uint32_t type) { return type == VL_EVENT_LEFT_BUTTON ? 0 : type == VL_EVENT_RIGHT_BUTTON ? 1 : 2; }

// The display's own handler of a button or wheel event (first dispatch).
bool FirstDispatch(vlPumpState* pump, vlCallbackMsg* msg) {
  static const char* const kActions[3][2] = {
      {"OnMouseUp", "OnMouseDown"}, {"OnRightMouseUp", "OnRightMouseDown"}, {"OnMidMouseUp", "OnMidMouseDown"}};
  static const int kSlots[3][2] = {{VL_DH_MOUSEUP, VL_DH_MOUSEDOWN},
                                   {VL_DH_RIGHTMOUSEUP, VL_DH_RIGHTMOUSEDOWN},
                                   {VL_DH_MIDMOUSEUP, VL_DH_MIDMOUSEDOWN}};
  vlDisplay* d = pump->eventDisplay;
  uint32_t type = pump->eventType;
  int slot;
  const char* action;
  if (type == VL_EVENT_LEFT_BUTTON || type == VL_EVENT_RIGHT_BUTTON || type == VL_EVENT_MIDDLE_BUTTON) {
    int down = pump->eventArgs[2] ? 1 : 0;
    slot = kSlots[ButtonIndex(type)][down];
    action = kActions[ButtonIndex(type)][down];
  } else if (type == VL_XEV_WHEEL_UP || type == VL_XEV_WHEEL_DOWN) {
    slot = type == VL_XEV_WHEEL_UP ? VL_DH_WHEELUP : VL_DH_WHEELDOWN;
    action = type == VL_XEV_WHEEL_UP ? "OnWheelUp" : "OnWheelDown";
  } else {
    return false;
  }
  if (DisplayHandler(d, slot)->functionRef == -1) return false;
  FillDisplayMessage(msg, d, VL_MSG_WINDOW, action, slot);
  return true;
}

void FillButtonMessage(vlCallbackMsg* msg, vlDisplay* d, vlBGPicButton* b, int handler, const char* action) {
  msg->kind = VL_MSG_BUTTON;
  msg->target = d;
  msg->bgpic = d->bgpic;
  msg->button = b;
  std::snprintf(msg->action, sizeof msg->action, "%s", action);
  msg->functionRef = b->handlers[handler];
  msg->userdataRef = b->userdataRef;
  msg->idRecorded = 1;
  msg->recordedId = b->id;
}

// The BGPic buttons under a mouse-button event.
bool ButtonDispatch(vlPumpState* pump, vlCallbackMsg* msg) {
  static const char* const kActions[3][2] = {
      {"OnMouseUp", "OnMouseDown"}, {"OnRightMouseUp", "OnRightMouseDown"}, {"OnMidMouseUp", "OnMidMouseDown"}};
  vlDisplay* d = pump->eventDisplay;
  if (!d->bgpic) return false;
  int which = ButtonIndex(pump->eventType);
  int down = pump->eventArgs[2] ? 1 : 0;
  int32_t x, y;
  ContentPosition(d, static_cast<int32_t>(pump->eventArgs[0]), static_cast<int32_t>(pump->eventArgs[1]), &x, &y);
  for (vlBGPicButton* b = d->bgpic->buttons; b; b = b->next) {
    if (!ButtonEligible(b) || !ButtonHit(b, x, y)) continue;
    int handler;
    if (down) {
      b->pressed[which] = 1;
      handler = VL_BH_DOWN + which * 2;
    } else {
      if (!b->pressed[which]) continue;
      b->pressed[which] = 0;
      handler = VL_BH_UP + which * 2;
    }
    if (b->handlers[handler] == -1) continue;
    FillButtonMessage(msg, d, b, handler, kActions[which][down]);
    return true;
  }
  if (!down)
    for (vlBGPicButton* b = d->bgpic->buttons; b; b = b->next)
      if (b->enabled) b->pressed[which] = 0;
  return false;
}

// The second dispatch: buttons, keys, the display's slots, registered types.
bool SecondDispatch(vlPumpState* pump, vlCallbackMsg* msg) {
  vlDisplay* d = pump->eventDisplay;
  uint32_t type = pump->eventType;
  if (type >= VL_EVENT_FIRST_REGISTERED) return FillTypeMessage(EventTypeByCode(type), pump->eventData, msg);
  if (type == VL_EVENT_LEFT_BUTTON || type == VL_EVENT_RIGHT_BUTTON || type == VL_EVENT_MIDDLE_BUTTON)
    return ButtonDispatch(pump, msg);
  if (type == VL_EVENT_KEY) {
    int down = pump->eventArgs[0] ? 1 : 0;
    int slot = down ? VL_DH_KEYDOWN : VL_DH_KEYUP;
    if (DisplayHandler(d, slot)->functionRef == -1) return false;
    FillDisplayMessage(msg, d, VL_MSG_KEY, down ? "OnKeyDown" : "OnKeyUp", slot);
    msg->qualifiers = pump->eventArgs[1];
    KeyTextOfCode(pump->eventArgs[2], msg->key, sizeof msg->key);
    return true;
  }
  for (const DisplayEventRow& row : kDisplayEventRows) {
    if (row.type != type) continue;
    if (DisplayHandler(d, row.slot)->functionRef == -1) return false;
    FillDisplayMessage(msg, d, row.kind, row.action, row.slot);
    msg->x = static_cast<int32_t>(pump->eventArgs[0]);
    msg->y = static_cast<int32_t>(pump->eventArgs[1]);
    msg->selected = static_cast<int32_t>(pump->eventArgs[2]);
    msg->stringData = static_cast<const char*>(pump->eventData);
    return true;
  }
  return false;
}

void DropCurrent(vlVMState* state, vlPumpState* pump) {
  FreeEventData(state, pump->eventType, pump->eventData);
  pump->eventData = nullptr;
  pump->eventDisplay = nullptr;
}

// Runs the second dispatch of the current event; true when it yielded.
bool RunSecond(vlVMState* state, vlPumpState* pump, vlCallbackMsg* msg, int* result) {
  if (!SecondDispatch(pump, msg)) {
    DropCurrent(state, pump);
    return false;
  }
  pump->phase = kPhaseQueueSecond;
  *result = RunEventCallback(state, msg, 0);
  DropCurrent(state, pump);
  return true;
}

// Queued events, oldest first, one taken at a time: a display's own
// handler first, then its buttons, keys and window slots, or the handler
// of a registered type.
int VisitQueue(vlVMState* state, vlPumpState* pump, vlCallbackMsg* msg, int mode, uint32_t resume) {
  int r = 0;
  if (resume == kPhaseQueueFirst) {
    // The display's handler may have freed the display: the event ends.
    if (!pump->eventDisplay) DropCurrent(state, pump);
    else if (RunSecond(state, pump, msg, &r)) return r;
  }
  QueueLock lock;
  if (resume == 0) ExpirePendingEvents(state);
  if (HaveLegacyHandlers() && TestLegacyLabels(state)) {
    msg->kind = VL_MSG_LABEL;
    return -1;
  }
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
      // The call is off the queue: it runs unlocked, since it may run
      // script code while the plug-in's threads go on posting.
      lock.Release();
      auto* call = static_cast<vlPluginCall*>(e.extra);
      int status = call && call->function ? call->function(state, call->argument) : 0;
      FreeQueued(state, e);
      if (status) {
        pump->phase = kPhaseQueueSecond;
        return status;
      }
      lock.Acquire();
      continue;
    }
    if (e.type < VL_EVENT_FIRST_REGISTERED && !e.display) {
      FreeQueued(state, e);
      continue;
    }
    if (e.type == VL_XEV_MODE_SWITCH && !DisplayDeviceDoes(nullptr, VL_DEVICE_SCREEN_MODES)) {
      // The adapter's windows switch here; the X code switched already.
      int status = SwitchDisplayMode(state, e.display, e.display->fullScreen ? 0 : 1);
      if (status) {
        lock.Release();
        FreeQueued(state, e);
        pump->phase = kPhaseQueueSecond;
        return status;
      }
    }
    pump->eventType = e.type;
    pump->eventData = e.extra;
    pump->eventDisplay = e.display;
    pump->eventArgs[0] = e.a;
    pump->eventArgs[1] = e.b;
    pump->eventArgs[2] = e.c;
    if (e.display && FirstDispatch(pump, msg)) {
      lock.Release();
      pump->phase = kPhaseQueueFirst;
      return RunEventCallback(state, msg, 0);
    }
    if (e.type >= VL_EVENT_FIRST_REGISTERED) {
      // A registered type: its data is freed after its callback.
      pump->eventDisplay = nullptr;
      if (!FillTypeMessage(EventTypeByCode(e.type), e.extra, msg)) {
        FreeQueued(state, e);
        pump->eventData = nullptr;
        continue;
      }
      lock.Release();
      pump->phase = kPhaseQueueSecond;
      r = RunEventCallback(state, msg, 0);
      // BreakEventHandler may have freed the data already.
      FreeEventData(state, pump->eventType, pump->eventData);
      pump->eventData = nullptr;
      return r;
    }
    lock.Release();
    if (RunSecond(state, pump, msg, &r)) return r;
    lock.Acquire();
  }
  lock.Release();
  if (mode == 0 && HaveLegacyHandlers() && TestLegacyHover(state)) {
    msg->kind = VL_MSG_LABEL;
    return -1;
  }
  return 0;
}

// The button hover of one display: one OnMouseOver or OnMouseOut at most.
bool HoverStep(vlDisplay* d, vlCallbackMsg* msg, uint32_t* phase) {
  if (!d->bgpic) return false;
  int32_t x, y;
  DisplayMouseContent(d, &x, &y);
  vlBGPicButton *hit = nullptr, *pressed = nullptr;
  for (vlBGPicButton* b = d->bgpic->buttons; b; b = b->next) {
    if (!ButtonEligible(b)) continue;
    if (!hit && ButtonHit(b, x, y)) hit = b;
    if (b->pressed[0] || b->pressed[1] || b->pressed[2]) pressed = b;
    if (hit && pressed) break;
  }
  auto yield = [&](vlBGPicButton* b, int handler, const char* action, uint32_t next) {
    if (b->handlers[handler] == -1) return false;
    FillButtonMessage(msg, d, b, handler, action);
    *phase = next;
    return true;
  };
  if (pressed) {
    bool over = ButtonHit(pressed, x, y);
    if (over && !pressed->hovered) {
      pressed->hovered = 1;
      return yield(pressed, VL_BH_OVER, "OnMouseOver", kPhaseHoverOut);
    }
    if (!over && pressed->hovered) {
      pressed->hovered = 0;
      return yield(pressed, VL_BH_OUT, "OnMouseOut", kPhaseHoverIn);
    }
    return false;
  }
  if (hit && !hit->hovered) {
    for (vlBGPicButton* b = d->bgpic->buttons; b; b = b->next) {
      if (b == hit || !b->hovered) continue;
      b->hovered = 0;
      if (yield(b, VL_BH_OUT, "OnMouseOut", kPhaseHoverIn)) return true;
    }
    hit->hovered = 1;
    return yield(hit, VL_BH_OVER, "OnMouseOver", kPhaseHoverOut);
  }
  for (vlBGPicButton* b = d->bgpic->buttons; b; b = b->next) {
    if (!b->hovered || (ButtonEligible(b) && ButtonHit(b, x, y))) continue;
    b->hovered = 0;
    if (yield(b, VL_BH_OUT, "OnMouseOut", kPhaseHoverIn)) return true;
  }
  return false;
}

// Button hover per display whose pointer moved. A yielded OnMouseOut
// looks at the same display again; an OnMouseOver goes on to the next.
int VisitHover(vlVMState* state, vlPumpState* pump, vlCallbackMsg* msg, int, uint32_t resume) {
  int32_t index = 0;
  bool again = false;
  if (resume == kPhaseHoverIn) index = pump->displayIndex, again = true;
  else if (resume == kPhaseHoverOut) index = pump->displayIndex + 1;
  for (vlDisplay* d = DisplayAt(index); d; d = d->next, ++index, again = false) {
    if (!again) {
      if (!d->mouseMoved) continue;
      d->mouseMoved = 0;
    }
    uint32_t phase = 0;
    if (HoverStep(d, msg, &phase)) {
      pump->displayIndex = index;
      pump->phase = phase;
      return RunEventCallback(state, msg, 0);
    }
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

// Messages that arrived at the script's message ports; one without a
// handler is dropped.
int VisitUserMessages(vlVMState* state, vlPumpState* pump, vlCallbackMsg* msg, int, uint32_t) {
  while (void* block = PollPortMessage()) {
    if (gGlobalHandlers[kSlotUserMessage].functionRef < 0) {
      FreeMemory(block);
      continue;
    }
    pump->phase = kPhaseUserMessageRun;
    int r = FillUserMessage(msg, static_cast<const char*>(block));
    if (!r) r = RunEventCallback(state, msg, 0);
    FreeUserMessage(msg);
    FreeMemory(block);
    return r;
  }
  return 0;
}

// The visiting order.
constexpr vlEventSource kSources[] = {
    {kPhaseMusicFill, 0, VisitMusicFill},
    {kPhaseTimers, 0, VisitTimers},
    {kPhaseAudio, 0, VisitAudio},
    {kPhaseMouseMove, 0, VisitMouseMoves},
    {kPhaseUdp, 0, VisitUdp},
    {kPhaseConnect, 0, VisitConnect},
    {kPhaseReceive, 0, VisitReceive},
    {kPhaseDisconnect, 0, VisitDisconnect},
    {kPhaseUserMessage, kPhaseUserMessageRun, VisitUserMessages},
    {kPhaseQueueFirst, kPhaseQueueSecond, VisitQueue},
    {kPhaseHoverIn, kPhaseHoverOut, VisitHover},
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

void SetNumberField(vlVMState* state, const char* key, double value) {
  vl::PushString(state, key);
  vl::PushNumber(state, value);
  vl::RawSetTableValue(state, -3);
}

void SetIdField(vlVMState* state, const char* key, const vlObjectId& id) {
  vl::PushString(state, key);
  PushId(state, id);
  vl::RawSetTableValue(state, -3);
}

// The dropped files as a table from 0, and their count.
void AddDropFields(vlVMState* state, const char* list) {
  vl::PushString(state, "dropfiles");
  vl::PushNewTable(state);
  int n = 0;
  for (const char* f = list; f && *f; f += std::strlen(f) + 1) {
    vl::PushString(state, f);
    vl::RawSetTableIndex(state, -2, n++);
  }
  vl::RawSetTableValue(state, -3);
  SetNumberField(state, "numdropfiles", n);
}

// The fields of the message table by kind; the table is on the top.
void AddMessageFields(vlVMState* state, vlCallbackMsg* msg) {
  SetStringField(state, "action", msg->action);
  auto* d = static_cast<vlDisplay*>(msg->target);
  switch (msg->kind) {
    case VL_MSG_INTERVAL:
    case VL_MSG_TIMEOUT:
    case VL_MSG_DISCONNECT:
    case VL_MSG_RECEIVE:
    case VL_MSG_UDP:
      SetIdField(state, "id", msg->recordedId);
      break;
    case VL_MSG_CONNECT:
      SetIdField(state, "serverid", msg->recordedId);
      SetIdField(state, "clientid", msg->clientId);
      break;
    case VL_MSG_PLUGIN_TYPE:
      if (msg->eventType->fields) {
        int top = vl::GetStackTop(state);
        msg->eventType->fields(state, msg->eventType->code, msg->eventData);
        vl::SetStackTop(state, top);
      }
      break;
    case VL_MSG_BUTTON: {
      vlBGPicButton* b = msg->button;
      SetIdField(state, "id", b->id);
      int32_t bx, by, bw, bh;
      GetButtonRect(b, &bx, &by, &bw, &bh);
      SetNumberField(state, "x", bx);
      SetNumberField(state, "y", by);
      SetNumberField(state, "width", bw);
      SetNumberField(state, "height", bh);
      SetNumberField(state, "mousedown", b->pressed[0]);
      SetNumberField(state, "rightmousedown", b->pressed[1]);
      SetNumberField(state, "midmousedown", b->pressed[2]);
      SetIdField(state, "display", d->id());
      if (b->type == VL_BUTTON_LAYER) {
        int32_t position = -1;
        if (b->layer && d->bgpic) {
          int32_t n = 1;
          for (vlNode* node = d->bgpic->layers.head; node->succ; node = node->succ, ++n)
            if (reinterpret_cast<vlLayer*>(node) == b->layer) position = n;
        }
        SetNumberField(state, "layer", position);
        SetStringField(state, "layername", b->layer && b->layer->name ? b->layer->name : "");
      }
      break;
    }
    case VL_MSG_KEY:
      SetStringField(state, "key", msg->key);
      SetIdField(state, "id", d->id());
      break;
    case VL_MSG_WINDOW:
      SetIdField(state, "id", d->id());
      break;
    case VL_MSG_SIZE:
      SetNumberField(state, "width", d->width);
      SetNumberField(state, "height", d->height);
      SetIdField(state, "id", d->id());
      break;
    case VL_MSG_MOVE:
      SetNumberField(state, "x", d->x);
      SetNumberField(state, "y", d->y);
      SetIdField(state, "id", d->id());
      break;
    case VL_MSG_MOUSE_MOVE: {
      int32_t x, y;
      DisplayMouseContent(d, &x, &y);
      SetNumberField(state, "x", x);
      SetNumberField(state, "y", y);
      SetIdField(state, "id", d->id());
      break;
    }
    case VL_MSG_MODE_SWITCH:
      SetNumberField(state, "mode", d->fullScreen ? 2 : 1);
      SetNumberField(state, "width", d->width);
      SetNumberField(state, "height", d->height);
      SetIdField(state, "id", d->id());
      break;
    case VL_MSG_DROP:
      SetIdField(state, "id", d->id());
      SetNumberField(state, "x", msg->x);
      SetNumberField(state, "y", msg->y);
      AddDropFields(state, msg->stringData);
      break;
    case VL_MSG_ORIENTATION:
      SetIdField(state, "id", d->id());
      SetNumberField(state, "orientation", d->orientation);
      break;
    case VL_MSG_APP_MESSAGE:
      SetStringField(state, "message", msg->stringData ? msg->stringData : "");
      SetStringField(state, "sender", msg->stringData ? msg->stringData + std::strlen(msg->stringData) + 1 : "");
      break;
    case VL_MSG_MENU:
      SetIdField(state, "id", d->id());
      SetStringField(state, "item", msg->stringData ? msg->stringData : "");
      SetNumberField(state, "selected", msg->selected);
      break;
    case VL_MSG_AUDIO:
      SetIdField(state, "id", msg->recordedId);
      if (std::strcmp(msg->action, "OnMusicEnd") != 0 && std::strcmp(msg->action, "OnVideoEnd") != 0) {
        SetNumberField(state, "time", msg->x);
        SetNumberField(state, "starts", msg->y);
      }
      break;
    case VL_MSG_RUNFINISHED: {
      vlRunEnd run{};
      if (!gRunEnds || !gRunEnds->find(msg->runRequest, &run)) break;
      SetStringField(state, "program", run.program ? run.program : "");
      SetStringField(state, "args", run.args ? run.args : "");
      if (run.userdataRef != -1) {
        vl::PushString(state, "runuserdata");
        vl::RawGetTableIndex(state, vl::kRegistryIndex, run.userdataRef);
        vl::RawSetTableValue(state, -3);
      }
      break;
    }
    case VL_MSG_USER_MESSAGE: {
      const char* text = msg->commandText;
      const char* blank = std::strchr(text, ' ');
      vl::PushString(state, "command");
      vl::PushBytes(state, text, blank ? static_cast<size_t>(blank - text) : std::strlen(text));
      vl::RawSetTableValue(state, -3);
      vl::PushString(state, "args");
      vl::PushBytes(state, msg->args ? msg->args : "", msg->argsLength);
      vl::RawSetTableValue(state, -3);
      SetStringField(state, "rawargs", blank ? blank + 1 : "");
      SetNumberField(state, "argc", msg->argc);
      break;
    }
    case VL_MSG_FILLMUSIC:
      SetIdField(state, "id", msg->recordedId);
      SetNumberField(state, "samples", msg->x);
      SetNumberField(state, "count", msg->y);
      break;
    default:
      break;
  }
}

}  // namespace

int FillUserMessage(vlCallbackMsg* msg, const char* block) {
  msg->kind = VL_MSG_USER_MESSAGE;
  std::snprintf(msg->action, sizeof msg->action, "%s", "OnUserMessage");
  msg->functionRef = gGlobalHandlers[kSlotUserMessage].functionRef;
  msg->userdataRef = gGlobalHandlers[kSlotUserMessage].userdataRef;
  msg->stringData = block;
  msg->commandText = block + std::strlen(block) + 1;
  msg->args = nullptr;
  msg->argsLength = 0;
  msg->argc = 0;
  const char* blank = std::strchr(msg->commandText, ' ');
  if (!blank) return 0;
  const char* raw = blank + 1;
  // The arguments are never longer than the text they come from.
  char* out = static_cast<char*>(AllocMemory(std::strlen(raw) + 1, 0));
  if (!out) return ERR_MEM;
  uint32_t n = 0;
  int32_t argc = 1;
  bool quoted = false;
  for (const char* c = raw; *c; ++c) {
    if (*c == '"') {
      quoted = !quoted;
    } else if (*c == ' ' && !quoted) {
      out[n++] = '\0';
      ++argc;
    } else {
      out[n++] = *c;
    }
  }
  msg->args = out;
  msg->argsLength = n;
  msg->argc = argc;
  return 0;
}

void FreeUserMessage(vlCallbackMsg* msg) {
  FreeMemory(msg->args);
  msg->args = nullptr;
  msg->argsLength = 0;
}

int InitPumpState() {
  if (gPump) return 0;
  gPump = static_cast<vlPumpState*>(AllocMemory(sizeof(vlPumpState), 1));
  if (!gPump) return ERR_MEM;
  WatchEventTarget(&gPump->eventDisplay);
  return 0;
}

void FreePumpState(vlVMState* state) {
  if (!gPump) return;
  if (gPump->eventData) FreeEventData(state, gPump->eventType, gPump->eventData);
  WatchEventTarget(nullptr);
  FreeMemory(gPump);
  gPump = nullptr;
}

vlPumpState* GetPumpState() { return gPump; }

void SetRunEnds(const vlRunEnds* runs) { gRunEnds = runs; }

void SetNetworkPolls(const vlNetworkPolls* polls) {
  gNetworkPolls = polls;
  gEventPumpCursors = {};
}

void BreakDispatcherPass(vlVMState* state) {
  if (!gPump) return;
  if (gPump->phase == kPhaseQueueFirst || gPump->phase == kPhaseQueueSecond) DropCurrent(state, gPump);
  gPump->phase = 0;
  gTimerCursor = nullptr;
}

int RunTimerCallback(vlVMState* state, uint32_t kind, vlObjectId id, int functionRef, int userdataRef) {
  vlCallbackMsg msg{};
  FillTimerMessage(&msg, kind, id, functionRef, userdataRef);
  return RunEventCallback(state, &msg, 1);
}

int RunFillMusicBuffer(vlVMState* state, vlCallbackMsg* msg, vlObjectId id, uint32_t frames, uint32_t count,
                       int pop) {
  if (gGlobalHandlers[kSlotFillMusic].functionRef < 0) return 0;
  vlCallbackMsg own{};
  if (!msg) msg = &own;
  FillMusicMessage(msg, id, frames, count);
  gMusicCallbackDepth++;
  int r = RunEventCallback(state, msg, msg == &own ? 1 : pop);
  gMusicCallbackDepth--;
  return r;
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

int DispatchCallbackRecord(vlVMState* state, uint32_t code, void* data) {
  vlEventType* type = EventTypeByCode(code);
  int r = 0;
  if (type && !(type->kind == 0 && type->handler.functionRef == -1)) {
    vlCallbackMsg msg{};
    msg.kind = VL_MSG_PLUGIN_TYPE;
    std::snprintf(msg.action, sizeof msg.action, "%s", type->name);
    msg.functionRef = type->handler.functionRef;
    msg.userdataRef = type->handler.userdataRef;
    msg.eventType = type;
    msg.eventData = data;
    r = RunEventCallback(state, &msg, 1);
  }
  FreeEventData(state, code, data);
  return r;
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
    // By its request again: the record is not held across the callback.
    if (msg->kind == VL_MSG_RUNFINISHED && gRunEnds) gRunEnds->remove(state, msg->runRequest);
  }
  if (status && vl::GetStackTop(state) > msg->savedTop) vl::SetStackTop(state, msg->savedTop);
  // The report names the handler's line, not the line that waited.
  if (status >= 1000 && status != ERR_USERABORT) KeepErrorPosition();
  if (QuitRequested() && status == 0) return ERR_USERABORT;
  return status;
}
