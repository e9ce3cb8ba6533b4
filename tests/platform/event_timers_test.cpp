// Intervals and timeouts firing on real POSIX timers into script callbacks
// through WaitEvent and CheckEvent: the message fields, one-shot timeouts
// that are gone before their callback runs, timers cleared from inside
// callbacks, and the timer-adapter route that runs a callback at once.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/intervals.h"
#include "tests/platform/event_test_util.h"
#include "vm/error_codes.h"

namespace {

using vltest::EventTest;

const char* kCounting = R"(
.function tick
  .params 1
  setglobal 0 "last"
  getglobal 1 "ticks"
  add 1 1 #1
  setglobal 1 "ticks"
  loadk 2 "r"
  return 2 2
.end
.defun OnTick tick
loadk 0 #0
setglobal 0 "ticks"
ret
)";

TEST_F(EventTest, AnIntervalFiresIntoItsCallbackThroughWaitEvent) {
  ASSERT_EQ(vltest::RunScript(L, kCounting), 0);
  const char* script = R"(
.call setinterval 7 $OnTick 15 "data"
loadk 1 #1
loadk 2 #4
loadk 3 #1
loop:
.call base=5 waitevent -> ev
forloop 1 loop
.call clearinterval 7
ret
)";
  ASSERT_EQ(vltest::RunScript(L, script), 0);
  EXPECT_EQ(vltest::GlobalNumber(L, "ticks"), 4);
  EXPECT_EQ(StringField("last", "action"), "Interval");
  EXPECT_EQ(NumberField("last", "id"), 7);
  EXPECT_EQ(StringField("last", "userdata"), "data");
  EXPECT_EQ(StringField("ev", "action"), "Interval");
  EXPECT_EQ(NumberField("ev", "id"), 7);
  EXPECT_EQ(NumberField("ev", "nresults"), 1);
  EXPECT_EQ(NumberField("ev", "triggered"), 1);
  EXPECT_EQ(gIntervals, nullptr);
  // Cleared: nothing fires any more.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_EQ(vltest::RunScript(L, ".call checkevents\nret\n"), 0);
  EXPECT_EQ(vltest::GlobalNumber(L, "ticks"), 4);
}

TEST_F(EventTest, ATimeoutFiresOnceAndIsGoneBeforeItsCallbackRuns) {
  const char* define = R"(
.function late
  .params 1
  setglobal 0 "last"
  .call base=1 cleartimeout 3 -> _
  ret
.end
.defun OnLate late
ret
)";
  // The callback's own ClearTimeout of its id fails: the record is gone.
  ASSERT_EQ(vltest::RunScript(L, define), 0);
  EXPECT_EQ(vltest::RunScript(L, ".call settimeout 3 $OnLate 10\n.call waitevent -> ev\nret\n"),
            ERR_FINDTIMEOUT);
  EXPECT_EQ(StringField("last", "action"), "Timeout");
  EXPECT_EQ(NumberField("last", "id"), 3);
  EXPECT_EQ(gTimeouts, nullptr);
  ClearQuit();
  // A callback that leaves it alone: the timeout reports once.
  const char* quiet = R"(
.function late
  .params 1
  setglobal 0 "last"
  ret
.end
.defun OnLate late
.call settimeout 4 $OnLate 10
.call waitevent -> ev
ret
)";
  ASSERT_EQ(vltest::RunScript(L, quiet), 0);
  EXPECT_EQ(StringField("ev", "action"), "Timeout");
  EXPECT_EQ(NumberField("ev", "id"), 4);
  std::this_thread::sleep_for(std::chrono::milliseconds(40));
  ASSERT_EQ(vltest::RunScript(L, ".call checkevent -> again\nret\n"), 0);
  EXPECT_EQ(NumberField("again", "triggered"), 0);
  EXPECT_EQ(vltest::RunScript(L, ".call cleartimeout 4\nret\n"), ERR_FINDTIMEOUT);
}

TEST_F(EventTest, AnAutomaticIdComesBackInTheMessage) {
  const char* script = R"(
.function f
  .params 1
  ret
.end
.defun OnAuto f
.call settimeout nil $OnAuto 5 -> handle
.call waitevent -> ev
ret
)";
  ASSERT_EQ(vltest::RunScript(L, script), 0);
  const vlValue* handle = vltest::GetGlobal(L, "handle");
  ASSERT_NE(handle, nullptr);
  PushField("ev", "id");
  vl::PushString(L, "handle");
  vl::GetTableValue(L, vl::kGlobalsIndex);
  EXPECT_EQ(vl::GetTypeAt(L, -2), VL_TLIGHTUSERDATA);
  EXPECT_TRUE(vl::ValuesRawEqual(L, -1, -2));
  vl::SetStackTop(L, 0);
}

TEST_F(EventTest, AnIntervalThatClearsItselfStopsAtOnce) {
  const char* script = R"(
.function once
  .params 1
  getglobal 1 "ticks"
  add 1 1 #1
  setglobal 1 "ticks"
  .call base=1 clearinterval 9
  ret
.end
.defun OnOnce once
loadk 0 #0
setglobal 0 "ticks"
.call setinterval 9 $OnOnce 5
.call setinterval 10 $OnOnce 1000
.call waitevent
ret
)";
  ASSERT_EQ(vltest::RunScript(L, script), 0);
  EXPECT_EQ(vltest::GlobalNumber(L, "ticks"), 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(40));
  ASSERT_EQ(vltest::RunScript(L, ".call checkevents\n.call clearinterval 10\nret\n"), 0);
  EXPECT_EQ(vltest::GlobalNumber(L, "ticks"), 1);
}

// A timer adapter whose timers the test fires by hand.
uintptr_t gNextHandle = 100;
uintptr_t AdapterRegister(vlVMState*, uint32_t, int) { return ++gNextHandle; }
void AdapterFree(uintptr_t) {}

TEST_F(EventTest, ATimerAdapterRunsTheCallbackAtOnce) {
  vlTimerAdapter adapter{AdapterRegister, AdapterFree, 0};
  gTimerAdapter = &adapter;
  ASSERT_EQ(vltest::RunScript(L, kCounting), 0);
  ASSERT_EQ(vltest::RunScript(L, ".call setinterval 5 $OnTick 20 \"u\"\nret\n"), 0);
  uintptr_t handle = gIntervals->adapterHandle;
  EXPECT_EQ(RunHandlerById(L, handle), 0);
  EXPECT_EQ(RunHandlerById(L, handle), 0);
  EXPECT_EQ(vltest::GlobalNumber(L, "ticks"), 2);
  EXPECT_EQ(StringField("last", "action"), "Interval");
  EXPECT_EQ(StringField("last", "userdata"), "u");
  EXPECT_EQ(vl::GetStackTop(L), 0);
  ASSERT_EQ(vltest::RunScript(L, ".call clearinterval 5\nret\n"), 0);
  gTimerAdapter = nullptr;
}

}  // namespace
