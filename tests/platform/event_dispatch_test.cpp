// Scripts that wait for and dispatch real events: plug-in event types
// posted from other threads, the message table and its results, callbacks
// that fail or nest, quit requests, plug-in calls on the main thread and
// the ageing of queued events.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <chrono>
#include <thread>

#include "runtime/hooks.h"
#include "tests/platform/event_test_util.h"
#include "vm/error_codes.h"

namespace {

using vltest::EventTest;

// A field routine: adds "payload" from the event's data word.
void PayloadFields(vlVMState* L, uint32_t, void* data) {
  vl::PushString(L, "payload");
  vl::PushNumber(L, data ? static_cast<double>(*static_cast<uintptr_t*>(data)) : -1);
  vl::RawSetTableValue(L, -3);
}

uint32_t RegisterFieldType(const char* name) {
  void* callbacks[1] = {reinterpret_cast<void*>(PayloadFields)};
  return RegisterEventType(name, 0, callbacks, 0);
}

// Posts a registered type from a thread after a short delay, through the
// adapter service (which wakes the wait).
std::thread PostLater(uint32_t code, const uintptr_t* record, int millis = 30) {
  return std::thread([=] {
    std::this_thread::sleep_for(std::chrono::milliseconds(millis));
    EXPECT_EQ(PostAdapterEvent(code, record), 0);
  });
}

TEST_F(EventTest, WaitEventDeliversAPostedPluginEventWithItsResults) {
  uint32_t code = RegisterFieldType("Ping");
  ASSERT_GE(code, 28u);
  const char* define = R"(
.function cb
  .params 1
  setglobal 0 "seen"
  loadk 1 #7
  loadk 2 "two"
  loadk 3 #9
  return 1 4
.end
.defun OnPing cb
ret
)";
  ASSERT_EQ(vltest::RunScript(L, define), 0);
  SetTypeHandler(code, "OnPing", "ud");
  static uintptr_t record[5] = {0, 0, 0, 0, 0};
  record[0] = 41;
  std::thread poster = PostLater(code, record);
  int status = vltest::RunScript(L, ".call waitevent -> ev\nret\n");
  poster.join();
  ASSERT_EQ(status, 0);
  EXPECT_EQ(StringField("ev", "action"), "Ping");
  EXPECT_EQ(NumberField("ev", "triggered"), 1);
  EXPECT_EQ(NumberField("ev", "nresults"), 3);
  EXPECT_EQ(NumberField("ev", "payload"), 41);
  EXPECT_EQ(StringField("ev", "userdata"), "ud");
  EXPECT_EQ(StringField("seen", "action"), "Ping");
  PushField("ev", "results");
  vl::RawGetTableIndex(L, -1, 0);
  EXPECT_EQ(vl::ToNumberAt(L, -1), 7);
  vl::RawGetTableIndex(L, -2, 1);
  EXPECT_STREQ(vl::ToStringAt(L, -1), "two");
  vl::RawGetTableIndex(L, -3, 2);
  EXPECT_EQ(vl::ToNumberAt(L, -1), 9);
  vl::RawGetTableIndex(L, -4, 3);
  EXPECT_EQ(vl::GetTypeAt(L, -1), VL_TNIL);
}

TEST_F(EventTest, CheckEventWithNothingReadyReportsAnEmptyStep) {
  ASSERT_EQ(vltest::RunScript(L, ".call checkevent -> ev\nret\n"), 0);
  EXPECT_EQ(StringField("ev", "action"), "");
  EXPECT_EQ(NumberField("ev", "id"), 0);
  EXPECT_EQ(NumberField("ev", "nresults"), 0);
  EXPECT_EQ(NumberField("ev", "triggered"), 0);
  PushField("ev", "results");
  EXPECT_EQ(vl::GetTypeAt(L, -1), VL_TNIL);
}

const char* kCounter = R"(
.function cb
  .params 1
  getglobal 1 "count"
  add 1 1 #1
  setglobal 1 "count"
  ret
.end
.defun OnTick cb
loadk 0 #0
setglobal 0 "count"
ret
)";

TEST_F(EventTest, CheckEventsRunsEveryReadyCallbackInPostingOrder) {
  uint32_t code = RegisterFieldType("Tick");
  ASSERT_EQ(vltest::RunScript(L, kCounter), 0);
  SetTypeHandler(code, "OnTick");
  for (int i = 0; i < 5; ++i) ASSERT_EQ(PostEvent(nullptr, code, 0, 0, 0, nullptr), 1);
  // An engine event without a display yields nothing and is skipped.
  ASSERT_EQ(PostEvent(nullptr, 7, 0, 0, 0, nullptr), 1);
  ASSERT_EQ(vltest::RunScript(L, ".call checkevents\nret\n"), 0);
  EXPECT_EQ(vltest::GlobalNumber(L, "count"), 5);
  vlEventMsg e;
  EXPECT_EQ(GetPendingEvent(0, &e, 0), 0);
  // One step at a time: CheckEvent runs exactly one callback.
  ASSERT_EQ(PostEvent(nullptr, code, 0, 0, 0, nullptr), 1);
  ASSERT_EQ(PostEvent(nullptr, code, 0, 0, 0, nullptr), 1);
  ASSERT_EQ(vltest::RunScript(L, ".call checkevent -> ev\nret\n"), 0);
  EXPECT_EQ(vltest::GlobalNumber(L, "count"), 6);
  EXPECT_EQ(NumberField("ev", "triggered"), 1);
  EXPECT_EQ(NumberField("ev", "nresults"), 0);
}

TEST_F(EventTest, SuspendedDispatchLeavesEventsQueued) {
  uint32_t code = RegisterFieldType("Tick");
  ASSERT_EQ(vltest::RunScript(L, kCounter), 0);
  SetTypeHandler(code, "OnTick");
  ASSERT_EQ(PostEvent(nullptr, code, 0, 0, 0, nullptr), 1);
  gDispatchSuspended = 1;
  ASSERT_EQ(vltest::RunScript(L, ".call checkevents\n.call checkevent -> ev\nret\n"), 0);
  EXPECT_EQ(vltest::GlobalNumber(L, "count"), 0);
  gDispatchSuspended = 0;
  ASSERT_EQ(vltest::RunScript(L, ".call checkevents\nret\n"), 0);
  EXPECT_EQ(vltest::GlobalNumber(L, "count"), 1);
}

TEST_F(EventTest, AnErrorInACallbackIsTheWaitsError) {
  uint32_t code = RegisterFieldType("Bad");
  const char* define = R"(
.function cb
  .params 1
  .call base=1 error 1297
  ret
.end
.defun OnBad cb
ret
)";
  vltest::SetGlobalNative(L, "error", [](vlVMState* L) -> int {
    return static_cast<int>(vl::ToNumberAt(L, 1));
  });
  ASSERT_EQ(vltest::RunScript(L, define), 0);
  SetTypeHandler(code, "OnBad");
  ASSERT_EQ(PostEvent(nullptr, code, 0, 0, 0, nullptr), 1);
  EXPECT_EQ(vltest::RunScript(L, ".call waitevent -> ev\nloadk 0 #1\nsetglobal 0 \"after\"\nret\n"), ERR_TIMER);
  EXPECT_TRUE(std::isnan(vltest::GlobalNumber(L, "after")));
  // The nesting counter is back at zero: a later wait is allowed.
  EXPECT_EQ(vlOptions.callbackNesting, 0);
}

TEST_F(EventTest, WaitEventInsideACallbackIsWrongUsage) {
  uint32_t code = RegisterFieldType("Nest");
  const char* define = R"(
.function cb
  .params 1
  .call base=1 waitevent
  ret
.end
.defun OnNest cb
ret
)";
  ASSERT_EQ(vltest::RunScript(L, define), 0);
  SetTypeHandler(code, "OnNest");
  ASSERT_EQ(PostEvent(nullptr, code, 0, 0, 0, nullptr), 1);
  EXPECT_EQ(vltest::RunScript(L, ".call checkevent\nret\n"), ERR_WRONGUSAGE);
  EXPECT_EQ(vlOptions.callbackNesting, 0);
  ClearQuit();
  // CheckEvent inside a callback is allowed (it does not wait).
  const char* checking = R"(
.function cb
  .params 1
  .call base=1 checkevent -> inner
  ret
.end
.defun OnNest cb
ret
)";
  ASSERT_EQ(vltest::RunScript(L, checking), 0);
  vl::ReleaseRef(L, vl::kRegistryIndex, EventTypeByCode(code)->handler.functionRef);
  SetTypeHandler(code, "OnNest");
  ASSERT_EQ(PostEvent(nullptr, code, 0, 0, 0, nullptr), 1);
  EXPECT_EQ(vltest::RunScript(L, ".call checkevent\nret\n"), 0);
  EXPECT_EQ(NumberField("inner", "triggered"), 0);
}

TEST_F(EventTest, AQuitRequestFromAnotherThreadEndsAWaitingScript) {
  std::thread poster([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    uintptr_t record[5] = {};
    EXPECT_EQ(PostAdapterEvent(0, record), 0);
  });
  const char* script = R"(
loop:
.call waitevent
jump loop
ret
)";
  int status = vltest::RunScript(L, script);
  poster.join();
  EXPECT_TRUE(status == 0 || status == ERR_USERABORT) << status;
  EXPECT_TRUE(QuitRequested());
}

TEST_F(EventTest, AQuitRequestEndsABusyLoopThroughTheLineHook) {
  std::thread poster([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(PostQuitRequest(), 1);
  });
  // Counts up to a bound far beyond what the quit leaves time for.
  const char* script = R"(
.line 1
loadk 0 #0
setglobal 0 "n"
loadk 1 #0
loadk 2 #200000000
loadk 3 #1
loop:
.line 2
getglobal 0 "n"
add 0 0 #1
setglobal 0 "n"
forloop 1 loop
ret
)";
  EXPECT_EQ(vltest::RunScript(L, script), 0);
  poster.join();
  EXPECT_TRUE(QuitRequested());
  EXPECT_LT(vltest::GlobalNumber(L, "n"), 200000000);
}

int gPumpHookCalls = 0;
int CountPumps(vlVMState*, void*) { return ++gPumpHookCalls, 0; }

TEST_F(EventTest, DisableLineHookStopsThePerLinePump) {
  vlHook* hook = AddHook(1, reinterpret_cast<void*>(CountPumps), nullptr, 0);
  ASSERT_NE(hook, nullptr);
  const char* loop = R"(
.line 1
loadk 1 #0
loadk 2 #50
loadk 3 #1
loop:
.line 2
loadk 0 #1
.line 3
forloop 1 loop
ret
)";
  gPumpHookCalls = 0;
  ASSERT_EQ(vltest::RunScript(L, loop), 0);
  EXPECT_GE(gPumpHookCalls, 50);
  ASSERT_EQ(vltest::RunScript(L, ".call disablelinehook\nret\n"), 0);
  gPumpHookCalls = 0;
  ASSERT_EQ(vltest::RunScript(L, loop), 0);
  EXPECT_EQ(gPumpHookCalls, 0);
  ASSERT_EQ(vltest::RunScript(L, ".call enablelinehook\nret\n"), 0);
  gPumpHookCalls = 0;
  ASSERT_EQ(vltest::RunScript(L, loop), 0);
  EXPECT_GE(gPumpHookCalls, 50);
  RemoveHook(hook);
}

int FailingHook(vlVMState*, void*) { return ERR_TIMER; }

TEST_F(EventTest, AFailingPumpHookIsAScriptError) {
  vlHook* hook = AddHook(1, reinterpret_cast<void*>(FailingHook), nullptr, 0);
  ASSERT_NE(hook, nullptr);
  EXPECT_EQ(vltest::RunScript(L, ".line 1\nloadk 0 #1\n.line 2\nloadk 0 #2\nret\n"), ERR_TIMER);
  RemoveHook(hook);
}

}  // namespace
