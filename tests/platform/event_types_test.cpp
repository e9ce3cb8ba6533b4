// Plug-in event services: registering types, types that call their own
// functions, running a handler at once, plug-in functions posted to run on
// the main thread, adapter input for displays that do not exist, and the
// ageing of queued events by the pump and the dispatcher.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "display/display.h"
#include "runtime/os.h"
#include "platform/x11/x11_hooks.h"
#include "platform/x11/x11_input.h"
#include "runtime/hooks.h"
#include "abi/plugin_abi.h"
#include "player/service_table.h"
#include "tests/platform/event_test_util.h"
#include "vm/error_codes.h"

extern vlTimeVal gHousekeepingStamp;

namespace {

using vltest::EventTest;

void NoFields(vlVMState*, uint32_t, void*) {}

TEST_F(EventTest, RegisteredNamesMustBeNew) {
  void* fields[1] = {reinterpret_cast<void*>(NoFields)};
  EXPECT_EQ(RegisterEventType("onkeydown", 0, fields, 0), 0u);
  EXPECT_EQ(RegisterEventType("OnConnect", 0, fields, 0), 0u);
  EXPECT_EQ(RegisterEventType("OnDockyClick", 0, fields, 0), 0u);
  uint32_t first = RegisterEventType("Alpha", 0, fields, 0);
  EXPECT_EQ(first, 28u);
  EXPECT_EQ(RegisterEventType("ALPHA", 0, fields, 0), 0u);
  EXPECT_EQ(RegisterEventType("Beta", 0, fields, 0), 29u);
  EXPECT_EQ(RegisterEventType("Gamma", 2, fields, 0), 0u);
  // The look-up reports the handler and hands out its userdata reference.
  int32_t userdata = 5;
  uintptr_t tags[] = {1, reinterpret_cast<uintptr_t>(&userdata), 0, 0};
  EXPECT_EQ(FindEventType("beta", tags), -1);
  EXPECT_EQ(userdata, -1);
  EXPECT_EQ(FindEventType("nothing", nullptr), -1);
}

// A type of kind 1: pushes the global "Handler" and its data word as the
// one argument, counts after-calls and frees.
int gAfterCalls = 0, gFrees = 0;
int PushHandler(vlVMState* L, uint32_t, void* data) {
  vl::PushString(L, "Handler");
  vl::GetTableValue(L, vl::kGlobalsIndex);
  vl::PushNumber(L, static_cast<double>(*static_cast<int*>(data)));
  return 1;
}
int NothingToCall(vlVMState*, uint32_t, void*) { return -1; }
int Refuse(vlVMState*, uint32_t, void*) { return -ERR_TIMER; }
void AfterCall(vlVMState*, uint32_t, void*) { ++gAfterCalls; }
void FreeData(vlVMState*, uint32_t, void* data) {
  ++gFrees;
  delete static_cast<int*>(data);
}

const char* kHandler = R"(
.function h
  .params 1
  setglobal 0 "got"
  loadk 1 #1
  return 1 2
.end
.defun Handler h
ret
)";

TEST_F(EventTest, ATypeThatCallsItsOwnFunctionRunsButIsNoTriggeredStep) {
  gAfterCalls = gFrees = 0;
  void* calls[3] = {reinterpret_cast<void*>(PushHandler), reinterpret_cast<void*>(AfterCall),
                    reinterpret_cast<void*>(FreeData)};
  uint32_t code = RegisterEventType("Direct", 1, calls, 0);
  ASSERT_NE(code, 0u);
  ASSERT_EQ(vltest::RunScript(L, kHandler), 0);
  ASSERT_EQ(PostEvent(nullptr, code, 0, 0, 0, new int(12)), 1);
  ASSERT_EQ(vltest::RunScript(L, ".call checkevent -> ev\nret\n"), 0);
  EXPECT_EQ(vltest::GlobalNumber(L, "got"), 12);
  EXPECT_EQ(NumberField("ev", "triggered"), 0);
  EXPECT_EQ(StringField("ev", "action"), "");
  EXPECT_EQ(gAfterCalls, 1);
  EXPECT_EQ(gFrees, 1);
  // Run at once: the same calls, then the data is released.
  EXPECT_EQ(DispatchCallbackRecord(L, code, new int(13)), 0);
  EXPECT_EQ(vltest::GlobalNumber(L, "got"), 13);
  EXPECT_EQ(gAfterCalls, 2);
  EXPECT_EQ(gFrees, 2);
  // Events still queued at the end are released through the type too.
  ASSERT_EQ(PostEvent(nullptr, code, 0, 0, 0, new int(14)), 1);
  FreeEventQueue(L);
  EXPECT_EQ(gFrees, 3);
}

TEST_F(EventTest, ATypesCallEntryCanDeclineOrFail) {
  gAfterCalls = gFrees = 0;
  void* none[3] = {reinterpret_cast<void*>(NothingToCall), reinterpret_cast<void*>(AfterCall),
                   reinterpret_cast<void*>(FreeData)};
  void* fail[3] = {reinterpret_cast<void*>(Refuse), reinterpret_cast<void*>(AfterCall),
                   reinterpret_cast<void*>(FreeData)};
  uint32_t quiet = RegisterEventType("Quiet", 1, none, 0);
  uint32_t failing = RegisterEventType("Failing", 1, fail, 0);
  EXPECT_EQ(DispatchCallbackRecord(L, quiet, new int(1)), 0);
  EXPECT_EQ(DispatchCallbackRecord(L, failing, new int(1)), ERR_TIMER);
  EXPECT_EQ(gAfterCalls, 2);
  EXPECT_EQ(gFrees, 2);
  EXPECT_EQ(vl::GetStackTop(L), 0);
}

std::thread::id gCallThread;
int gCallArgument = 0;
int OnMainThread(vlVMState*, void* argument) {
  gCallThread = std::this_thread::get_id();
  gCallArgument = *static_cast<int*>(argument);
  return gCallArgument == 99 ? ERR_TIMER : 0;
}

TEST_F(EventTest, APluginFunctionPostedFromAThreadRunsOnTheMainThread) {
  static int argument = 5;
  std::thread poster([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    uintptr_t record[5] = {0, reinterpret_cast<uintptr_t>(OnMainThread), reinterpret_cast<uintptr_t>(&argument)};
    EXPECT_EQ(PostAdapterEvent(1, record), 0);
  });
  // The wait ends only on a callback: a posted type follows the call.
  void* fields[1] = {reinterpret_cast<void*>(NoFields)};
  uint32_t code = RegisterEventType("Done", 0, fields, 0);
  ASSERT_EQ(vltest::RunScript(L, ".function f\n.params 1\nret\n.end\n.defun OnDone f\nret\n"), 0);
  SetTypeHandler(code, "OnDone");
  poster.join();
  uintptr_t none[5] = {};
  ASSERT_EQ(PostAdapterEvent(code, none), 0);
  ASSERT_EQ(vltest::RunScript(L, ".call waitevent -> ev\nret\n"), 0);
  EXPECT_EQ(gCallThread, std::this_thread::get_id());
  EXPECT_EQ(gCallArgument, 5);
  EXPECT_EQ(StringField("ev", "action"), "Done");
  // A non-zero result of the function is the command's error.
  static int failing = 99;
  uintptr_t record[5] = {0, reinterpret_cast<uintptr_t>(OnMainThread), reinterpret_cast<uintptr_t>(&failing)};
  ASSERT_EQ(PostAdapterEvent(1, record), 0);
  EXPECT_EQ(vltest::RunScript(L, ".call checkevents\nret\n"), ERR_TIMER);
}

TEST_F(EventTest, AdapterInputForAMissingDisplayPostsNothing) {
  uintptr_t record[5] = {3, 10, 20, 1, 1};
  EXPECT_EQ(PostAdapterEventVM(L, 3, record), ERR_FINDDISPLAY);
  EXPECT_EQ(PostAdapterEventVM(L, 4, record), ERR_FINDDISPLAY);
  EXPECT_EQ(PostAdapterEventVM(L, 2, record), 0);
  vlEventMsg e;
  EXPECT_EQ(GetPendingEvent(0, &e, 0), 0);
  // Once shut-down begins, adapter input is ignored.
  SetEventShutdown(1);
  EXPECT_EQ(PostAdapterEventVM(L, 0, record), 0);
  EXPECT_FALSE(QuitRequested());
  EXPECT_EQ(GetPendingEvent(0, &e, 0), 0);
  // A queue that refuses events: 1528.
  SetEventShutdown(0);
  FreeEventQueue(L);
  EXPECT_EQ(PostAdapterEventVM(L, 30, record), ERR_ADDSYSEVENT);
}

TEST_F(EventTest, OldEventsExpireInsteadOfReachingTheScript) {
  void* fields[1] = {reinterpret_cast<void*>(NoFields)};
  uint32_t code = RegisterEventType("Old", 0, fields, 0);
  ASSERT_EQ(vltest::RunScript(L, ".function f\n.params 1\nsetglobal 0 \"got\"\nret\n.end\n.defun OnOld f\nret\n"), 0);
  SetTypeHandler(code, "OnOld");
  uint32_t saved = vlEventAgeLimit;
  vlEventAgeLimit = 40;
  ASSERT_EQ(PostEvent(nullptr, code, 0, 0, 0, nullptr), 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(120));
  ASSERT_EQ(PostEvent(nullptr, code, 0, 0, 0, nullptr), 1);
  // The dispatcher ages the queue before it takes events: only the fresh
  // one is delivered. A loaded machine may age both; never the old one.
  ASSERT_EQ(vltest::RunScript(L, ".call checkevents\nret\n"), 0);
  vlEventMsg e;
  EXPECT_EQ(GetPendingEvent(0, &e, 0), 0);
  // The per-line pump ages the queue when ten seconds have passed since it
  // last did.
  ASSERT_EQ(PostEvent(nullptr, code, 0, 0, 0, nullptr), 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(120));
  int error = 0;
  EXPECT_EQ(PumpEvents(L, VL_PUMP_LINE, 0, &error), 0);
  EXPECT_EQ(GetPendingEvent(0, &e, 0), 1) << "aged before ten seconds passed";
  gHousekeepingStamp.seconds -= 11;
  EXPECT_EQ(PumpEvents(L, VL_PUMP_LINE, 0, &error), 0);
  EXPECT_EQ(error, 0);
  EXPECT_EQ(GetPendingEvent(0, &e, 0), 0);
  // Pump-only contexts never age the queue.
  ASSERT_EQ(PostEvent(nullptr, code, 0, 0, 0, nullptr), 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(120));
  gHousekeepingStamp.seconds -= 11;
  EXPECT_EQ(PumpEvents(L, VL_PUMP_WAIT_EVENT, 0, &error), 0);
  EXPECT_EQ(GetPendingEvent(0, &e, 0), 1);
  vlEventAgeLimit = saved;
}

TEST_F(EventTest, APluginDrivesItsEventTypeThroughTheServiceTable) {
  const vlSvcSystem* svc = GetServiceTable()->system;
  void* fields[1] = {reinterpret_cast<void*>(NoFields)};
  uint32_t code = svc->RegisterEventType("Svc", 0, fields, 0);
  ASSERT_EQ(code, 28u);
  ASSERT_EQ(vltest::RunScript(L, kHandler), 0);
  SetTypeHandler(code, "Handler", "ud");
  int32_t userdata = 0;
  uintptr_t tags[] = {1, reinterpret_cast<uintptr_t>(&userdata), 0, 0};
  EXPECT_EQ(svc->FindEventType("SVC", tags), EventTypeByCode(code)->handler.functionRef);
  EXPECT_EQ(userdata, EventTypeByCode(code)->handler.userdataRef);
  // Posted with a state, then run by the pump service's dispatch flag.
  uintptr_t record[5] = {};
  EXPECT_EQ(svc->PostAdapterEventVM(L, code, record, 0), 0);
  EXPECT_EQ(svc->PumpEventsSvc(L, 2 | 16), 0);
  PushField("got", "action");
  EXPECT_STREQ(vl::ToStringAt(L, -1), "Svc");
  vl::SetStackTop(L, 0);
  // Run at once.
  vl::PushString(L, "got");
  vl::PushNil(L);
  vl::SetTableValue(L, vl::kGlobalsIndex);
  EXPECT_EQ(svc->DispatchCallbackRecord(L, code, nullptr), 0);
  EXPECT_EQ(StringField("got", "userdata"), "ud");
  // The run-time tags that suspend the line pump and the dispatch.
  vlTagItem tags33[] = {{33, 1}, {39, 1}, {0, 0}};
  EXPECT_EQ(svc->SystemTags(L, tags33), 2);
  EXPECT_EQ(gLineHookSuspended, 1u);
  EXPECT_EQ(gDispatchSuspended, 1u);
  EXPECT_EQ(svc->PostAdapterEventVM(L, code, record, 0), 0);
  ASSERT_EQ(vltest::RunScript(L, ".call checkevents\nret\n"), 0);
  vlEventMsg queued;
  EXPECT_EQ(GetPendingEvent(0, &queued, 0), 1);
  vlTagItem resume[] = {{33, 0}, {39, 0}, {0, 0}};
  EXPECT_EQ(svc->SystemTags(L, resume), 2);
  EXPECT_EQ(gLineHookSuspended, 0u);
  ASSERT_EQ(vltest::RunScript(L, ".call checkevents\nret\n"), 0);
  EXPECT_EQ(GetPendingEvent(0, &queued, 0), 0);
  // Once quitting, posting, pumping and waiting do nothing.
  EXPECT_EQ(svc->PostAdapterEventVM(L, code, record, 0), 0);
  *L->g->host.quitFlag = 1;
  EXPECT_EQ(svc->PostAdapterEventVM(L, code, record, 0), 0);
  EXPECT_EQ(svc->PumpEventsSvc(L, 2 | 16), 0);
  EXPECT_EQ(svc->WaitEventsSvc(L), 0);
  vlEventMsg e;
  EXPECT_EQ(GetPendingEvent(0, &e, 0), 1) << "the pump service dispatched while quitting";
  EXPECT_EQ(GetPendingEvent(1, &e, 0), 0) << "input was queued while quitting";
}

}  // namespace

// A display adapter's input for a display that exists: the display's input
// words change and the same events a window of its own gives are queued.
TEST_F(EventTest, AdapterInputReachesTheDisplayAsWindowEvents) {
  static vlDisplay display{};
  display.idNumber = 3;
  // The display list holds it alone; it has no BGPic, so a size the user
  // gives its window changes nothing but is reported.
  vlDisplay* saved = vlDisplayList;
  vlDisplayList = &display;
  display.next = nullptr;
  auto post = [&](uint32_t kind, uintptr_t a = 0, uintptr_t b = 0, uintptr_t c = 0, uintptr_t d = 0) {
    uintptr_t record[5] = {3, a, b, c, d};
    return PostAdapterEventVM(L, kind, record);
  };
  auto next = [&](uint32_t type, uint32_t a, uint32_t b, uint32_t c) {
    vlEventMsg e{};
    ASSERT_EQ(GetPendingEvent(0, &e, 0), 1) << "event of type " << type;
    DropPendingEvents(L, 0, 1);
    EXPECT_EQ(e.type, type);
    EXPECT_EQ(e.display, &display);
    EXPECT_EQ(e.a, a);
    EXPECT_EQ(e.b, b);
    EXPECT_EQ(e.c, c);
  };
  vlEventMsg none;
  EXPECT_EQ(post(3, 10, 20, 1, 1), 0);
  EXPECT_EQ(display.leftButton, 1);
  next(VL_XEV_LEFT, 10, 20, 1);
  EXPECT_EQ(post(3, 11, 21, 2, 1), 0);
  EXPECT_EQ(display.rightButton, 1);
  next(VL_XEV_RIGHT, 11, 21, 1);
  EXPECT_EQ(post(3, 12, 22, 3, 0), 0);
  next(VL_XEV_MIDDLE, 12, 22, 0);
  // A move only marks the display: one move event per dispatcher pass.
  EXPECT_EQ(post(3, 5, 5, 0, 0), 0);
  EXPECT_EQ(display.mouseMoved, 1);
  EXPECT_EQ(GetPendingEvent(0, &none, 0), 0);

  EXPECT_EQ(post(4, 'a', 1, VL_QUAL_ALWAYS), 0);
  EXPECT_EQ(display.keyState['a'], 1);
  next(VL_XEV_KEY, 1, VL_QUAL_ALWAYS, 'a');
  // Alt+Return switches the mode on release, not on press.
  EXPECT_EQ(post(4, VL_KEY_RETURN, 1, VL_QUAL_ALWAYS | VL_QUAL_LALT), 0);
  next(VL_XEV_KEY, 1, VL_QUAL_ALWAYS | VL_QUAL_LALT, VL_KEY_RETURN);
  EXPECT_EQ(GetPendingEvent(0, &none, 0), 0);
  EXPECT_EQ(post(4, VL_KEY_RETURN, 0, VL_QUAL_ALWAYS | VL_QUAL_LALT), 0);
  next(VL_XEV_KEY, 0, VL_QUAL_ALWAYS | VL_QUAL_LALT, VL_KEY_RETURN);
  next(VL_XEV_MODE_SWITCH, 0, 0, 0);
  // Presses stay noted for the waits, releases note nothing.
  EXPECT_TRUE(PressedSince(&display, VL_PRESSED_LEFT, 1));
  EXPECT_TRUE(PressedSince(&display, VL_PRESSED_RIGHT, 1));
  EXPECT_FALSE(PressedSince(&display, VL_PRESSED_MIDDLE, 1));
  EXPECT_TRUE(PressedSince(&display, 'a', 1));
  EXPECT_TRUE(PressedSince(&display, VL_KEY_RETURN, 1));
  EXPECT_FALSE(PressedSince(&display, 'b', 1));
  ForgetPresses(&display, 0, VL_PRESSED_COUNT);
  EXPECT_EQ(post(4, 'b', 0, VL_QUAL_ALWAYS), 0);
  next(VL_XEV_KEY, 0, VL_QUAL_ALWAYS, 'b');
  EXPECT_FALSE(PressedSince(&display, 0, VL_PRESSED_COUNT));

  EXPECT_EQ(post(5), 0);
  next(VL_XEV_CLOSE, 0, 0, 0);
  EXPECT_EQ(post(6, 320, 200), 0);
  next(VL_XEV_SIZE, 0, 0, 0);  // the handler reads the display's size
  EXPECT_EQ(post(7, 40, 50), 0);
  EXPECT_EQ(display.x, 40);
  EXPECT_EQ(display.y, 50);
  next(VL_XEV_MOVE, 0, 0, 0);
  EXPECT_EQ(post(8, 0), 0);
  EXPECT_EQ(display.visibility, 2);
  next(VL_XEV_HIDE, 0, 0, 0);
  EXPECT_EQ(post(8, 1), 0);
  EXPECT_EQ(display.visibility, 1);
  next(VL_XEV_SHOW, 0, 0, 0);
  EXPECT_EQ(post(9, 1), 0);
  EXPECT_EQ(display.active, 1);
  next(VL_XEV_ACTIVE, 0, 0, 0);
  EXPECT_EQ(post(9, 0), 0);
  next(VL_XEV_INACTIVE, 0, 0, 0);

  // Ctrl+C and, when switched on, Escape ask to quit.
  EXPECT_FALSE(QuitRequested());
  EXPECT_EQ(post(4, 'c', 1, VL_QUAL_ALWAYS | VL_QUAL_RCONTROL), 0);
  EXPECT_TRUE(QuitRequested());
  vlDisplayList = saved;
}
