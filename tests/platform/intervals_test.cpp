// Intervals and timeouts called as command handlers on a real VM, over the
// real POSIX timers and wake pipe, and over a timer adapter made of plain
// functions that records what it was asked.
#include <gtest/gtest.h>
#include <poll.h>

#include <chrono>
#include <functional>
#include <vector>

#include "platform/hooks.h"
#include "platform/intervals.h"
#include "platform/timers.h"
#include "platform/wake_pipe.h"
#include "runtime/errors.h"
#include "player/service_table.h"
#include "player/startup.h"
#include "tests/runtime/handler_test_util.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

using Clock = std::chrono::steady_clock;

int Noop(vlVMState*) { return 0; }

// What the callback hook was asked to run.
struct Ran {
  uint32_t kind;
  vlObjectId id;
  int functionRef;
  int userdataRef;
};
std::vector<Ran> gRan;

// Adapter timers: handles count up from 100; freed ones are recorded.
uintptr_t gNextHandle = 100;
bool gAdapterFails = false;
std::vector<std::pair<uint32_t, int>> gRegistered;
std::vector<uintptr_t> gFreed;

uintptr_t AdapterRegister(vlVMState*, uint32_t millis, int oneShot) {
  if (gAdapterFails) return 0;
  gRegistered.emplace_back(millis, oneShot);
  return gNextHandle++;
}
void AdapterFree(uintptr_t handle) { gFreed.push_back(handle); }
vlTimerAdapter gAdapter{AdapterRegister, AdapterFree, 0};

class Intervals : public vltest::HandlerTest {
 protected:
  void SetUp() override {
    HandlerTest::SetUp();
    ResetPlatformHooks();
    gPlatformHooks.runTimerCallback = [](vlVMState*, uint32_t kind, vlObjectId id, int f, int u) {
      gRan.push_back({kind, id, f, u});
      return 7;
    };
    gRan.clear();
    gRegistered.clear();
    gFreed.clear();
    gAdapterFails = false;
    ASSERT_EQ(InitTimers(), 0);
    ASSERT_EQ(OpenWakePipe(), 0);
  }
  void TearDown() override {
    FreeTimerObjects(L);
    gTimerAdapter = nullptr;
    vlShuttingDown = 0;
    ShutdownTimers();
    CloseWakePipe();
    ResetPlatformHooks();
    HandlerTest::TearDown();
  }

  // SetInterval / SetTimeout with a number id (or nil for 0).
  int Set(int (*command)(vlVMState*), int number, double millis, bool userdata = false) {
    return Call(command, [&] {
      if (number) vl::PushNumber(L, number); else vl::PushNil(L);
      vl::PushNativeClosure(L, Noop, 0);
      vl::PushNumber(L, millis);
      if (userdata) vl::PushCString(L, "data");
    });
  }
  int ById(int (*command)(vlVMState*), int number) {
    return Call(command, [&] { vl::PushNumber(L, number); });
  }

  static int Count(vlTimerObject* list) {
    int n = 0;
    for (; list; list = reinterpret_cast<vlTimerObject*>(list->head.next)) n++;
    return n;
  }

  // Serves the wake pipe until the timer of kind and number fired.
  bool WaitFired(uint32_t kind, int32_t number) {
    auto deadline = Clock::now() + std::chrono::seconds(5);
    while (Clock::now() < deadline) {
      pollfd fd{GetWakePipeReadEnd(), POLLIN, 0};
      poll(&fd, 1, 20);
      DrainWakePipe();
      vlTimer* record = FindTimer(kind, vlObjectId{number, nullptr}, nullptr);
      if (record && record->fired) return true;
    }
    return false;
  }
};

TEST_F(Intervals, SetMakesARecordAndARunningTimer) {
  ASSERT_EQ(Set(CmdSetInterval, 3, 10, true), 0);
  vlTimerObject* record = nullptr;
  ASSERT_EQ(FindInterval({3, nullptr}, &record), 0);
  EXPECT_EQ(record->head.type, VL_OBJ_INTERVAL);
  EXPECT_EQ(record->period, 10u);
  EXPECT_GE(record->functionRef, 0);
  EXPECT_GE(record->userdataRef, 0);
  EXPECT_TRUE(WaitFired(VL_TIMER_INTERVAL, 3));

  ASSERT_EQ(Set(CmdSetTimeout, 3, 10), 0);  // same number, other kind
  ASSERT_EQ(FindTimeout({3, nullptr}, &record), 0);
  EXPECT_EQ(record->head.type, VL_OBJ_TIMEOUT);
  EXPECT_EQ(record->userdataRef, -1);
  EXPECT_TRUE(WaitFired(VL_TIMER_TIMEOUT, 3));
}

TEST_F(Intervals, AutomaticIdsReturnTheRecordsHandle) {
  ASSERT_EQ(Set(CmdSetInterval, 0, 1000), 1);
  void* handle = vl::ToUserdataAt(L, -1);
  vlTimerObject* record = nullptr;
  ASSERT_EQ(FindInterval({0, handle}, &record), 0);
  EXPECT_EQ(static_cast<void*>(record), handle);
  EXPECT_NE(FindTimer(VL_TIMER_INTERVAL, {0, handle}, nullptr), nullptr);
  EXPECT_EQ(Call(CmdClearInterval, [&] { vl::PushPointer(L, handle); }), 0);
  EXPECT_EQ(FindTimer(VL_TIMER_INTERVAL, {0, handle}, nullptr), nullptr);
  EXPECT_EQ(Call(CmdClearInterval, [&] { vl::PushPointer(L, handle); }), ERR_FINDARRAY);
}

TEST_F(Intervals, ArgumentsAreChecked) {
  EXPECT_EQ(Set(CmdSetTimeout, 1, 0), ERR_WRONGUSAGE);
  EXPECT_EQ(Set(CmdSetTimeout, 1, -5), ERR_WRONGUSAGE);
  EXPECT_EQ(Call(CmdSetInterval, [&] {
              vl::PushNumber(L, 1);
              vl::PushNumber(L, 2);  // not a function
              vl::PushNumber(L, 10);
            }),
            ERR_FUNCEXPECTED);
  EXPECT_EQ(Call(CmdSetInterval, [&] { vl::PushNumber(L, 1); }), ERR_MISSINGPARAMTR);
  EXPECT_EQ(gIntervals, nullptr);
  EXPECT_EQ(gTimeouts, nullptr);
}

TEST_F(Intervals, ReplacingATimeoutKeepsOnlyTheNewOne) {
  ASSERT_EQ(Set(CmdSetTimeout, 5, 60000), 0);
  vlTimerObject* first = gTimeouts;
  ASSERT_EQ(Set(CmdSetTimeout, 5, 10), 0);
  EXPECT_EQ(Count(gTimeouts), 1);
  EXPECT_NE(gTimeouts, nullptr);
  EXPECT_EQ(gTimeouts->period, 10u);
  (void)first;
  EXPECT_TRUE(WaitFired(VL_TIMER_TIMEOUT, 5));
  // One platform record: the replaced one was removed.
  vlTimer** link = nullptr;
  vlTimer* record = FindTimer(VL_TIMER_TIMEOUT, {5, nullptr}, &link);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(FindTimer(VL_TIMER_TIMEOUT, {5, nullptr}, nullptr), record);
  EXPECT_EQ(record->next, nullptr);
}

TEST_F(Intervals, ClearingWhatIsGoneNamesItsNumber) {
  EXPECT_EQ(ById(CmdClearTimeout, 9), ERR_FINDTIMEOUT);
  EXPECT_EQ(GetErrorArgIndex(), 9);
  EXPECT_EQ(ById(CmdClearInterval, 12), ERR_FINDINTERVAL);
  EXPECT_EQ(GetErrorArgIndex(), 12);
  ASSERT_EQ(Set(CmdSetTimeout, 4, 10), 0);
  EXPECT_EQ(ById(CmdClearTimeout, 4), 0);
  EXPECT_EQ(gTimeouts, nullptr);
  EXPECT_EQ(FindTimer(VL_TIMER_TIMEOUT, {4, nullptr}, nullptr), nullptr);
  EXPECT_EQ(ById(CmdClearTimeout, 4), ERR_FINDTIMEOUT);
}

TEST_F(Intervals, ClearingMovesTheDispatchersCursor) {
  ASSERT_EQ(Set(CmdSetInterval, 1, 1000), 0);
  ASSERT_EQ(Set(CmdSetInterval, 2, 1000), 0);
  vlTimer* first = FindTimer(VL_TIMER_INTERVAL, {1, nullptr}, nullptr);
  vlTimer* second = FindTimer(VL_TIMER_INTERVAL, {2, nullptr}, nullptr);
  gTimerCursor = first;
  EXPECT_EQ(ById(CmdClearInterval, 1), 0);
  EXPECT_EQ(gTimerCursor, second);
  EXPECT_EQ(ById(CmdClearInterval, 2), 0);
  EXPECT_EQ(gTimerCursor, nullptr);
}

// Timers among many: each found by kind and number, fired through its
// signal's token, cleared from the head, middle and tail, a cleared number
// made again at the tail; the dispatcher's walk still visits every record.
TEST_F(Intervals, ManyTimersByIdentifier) {
  for (int i = 1; i <= 300; ++i) {
    ASSERT_EQ(Set(CmdSetInterval, i, 60000), 0);
    ASSERT_EQ(Set(CmdSetTimeout, i, 60000), 0);
  }
  ASSERT_EQ(Set(CmdSetTimeout, 301, 10), 0);
  EXPECT_TRUE(WaitFired(VL_TIMER_TIMEOUT, 301));
  for (int gone : {1, 150, 300}) EXPECT_EQ(ById(CmdClearInterval, gone), 0);
  EXPECT_EQ(ById(CmdClearTimeout, 150), 0);
  EXPECT_EQ(ById(CmdClearInterval, 150), ERR_FINDINTERVAL);
  EXPECT_EQ(GetErrorArgIndex(), 150);
  EXPECT_EQ(ById(CmdClearTimeout, 150), ERR_FINDTIMEOUT);
  EXPECT_EQ(FindTimer(VL_TIMER_INTERVAL, {150, nullptr}, nullptr), nullptr);
  EXPECT_NE(FindTimer(VL_TIMER_TIMEOUT, {1, nullptr}, nullptr), nullptr);
  EXPECT_NE(FindTimer(VL_TIMER_TIMEOUT, {300, nullptr}, nullptr), nullptr);
  EXPECT_FALSE(FindTimer(VL_TIMER_INTERVAL, {151, nullptr}, nullptr)->fired);
  ASSERT_EQ(Set(CmdSetInterval, 150, 60000), 0);
  vlTimer* again = FindTimer(VL_TIMER_INTERVAL, {150, nullptr}, nullptr);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->next, nullptr);
  // One walk of the dispatcher: every record once, only the fired timeout
  // reported, and gone afterwards.
  int visited = 0;
  std::vector<int32_t> fired;
  vlTimer* at = nullptr;
  do {
    uint32_t kind;
    vlObjectId id;
    at = TakeFiredTimer(at, &kind, &id);
    ++visited;
    if (kind != VL_TIMER_NONE) fired.push_back(id.number);
  } while (at);
  EXPECT_EQ(visited, 300 + 300 + 1 - 4 + 1);
  EXPECT_EQ(fired, std::vector<int32_t>{301});
  EXPECT_EQ(FindTimer(VL_TIMER_TIMEOUT, {301, nullptr}, nullptr), nullptr);
}

TEST_F(Intervals, ChangeIntervalKeepsTheStoredPeriod) {
  ASSERT_EQ(Set(CmdSetInterval, 1, 60000), 0);
  EXPECT_EQ(Call(CmdChangeInterval, [&] { vl::PushNumber(L, 1); vl::PushNumber(L, 10); }), 0);
  EXPECT_EQ(gIntervals->period, 60000u);
  EXPECT_TRUE(WaitFired(VL_TIMER_INTERVAL, 1));  // runs at the new pace
  EXPECT_EQ(Call(CmdChangeInterval, [&] { vl::PushNumber(L, 8); vl::PushNumber(L, 10); }),
            ERR_FINDINTERVAL);
  EXPECT_EQ(Call(CmdChangeInterval, [&] { vl::PushNumber(L, 1); vl::PushNumber(L, 0); }),
            ERR_WRONGUSAGE);
}

TEST_F(Intervals, AFailedStartLeavesTheEarlierTimersRunning) {
  ASSERT_EQ(Set(CmdSetInterval, 1, 10), 0);
  gTimerAdapter = &gAdapter;
  gAdapterFails = true;
  EXPECT_EQ(Set(CmdSetInterval, 2, 10), ERR_TIMER);
  gTimerAdapter = nullptr;
  EXPECT_EQ(Count(gIntervals), 1);
  vlTimerObject* record;
  EXPECT_EQ(FindInterval({2, nullptr}, &record), ERR_FINDINTERVAL);
  EXPECT_TRUE(WaitFired(VL_TIMER_INTERVAL, 1));
  // The built-in timers fail too once their mutex is gone.
  ShutdownTimers();
  EXPECT_EQ(Set(CmdSetTimeout, 3, 10), ERR_TIMER);
  EXPECT_EQ(gTimeouts, nullptr);
  ASSERT_EQ(InitTimers(), 0);
}

TEST_F(Intervals, AdapterTimersRunThroughRunHandlerById) {
  gTimerAdapter = &gAdapter;
  ASSERT_EQ(Set(CmdSetInterval, 1, 30, true), 0);
  ASSERT_EQ(Set(CmdSetTimeout, 2, 40), 0);
  ASSERT_EQ(gRegistered.size(), 2u);
  EXPECT_EQ(gRegistered[0], (std::pair<uint32_t, int>{30, 0}));
  EXPECT_EQ(gRegistered[1], (std::pair<uint32_t, int>{40, 1}));
  EXPECT_EQ(FindTimer(VL_TIMER_INTERVAL, {1, nullptr}, nullptr), nullptr);  // no POSIX timer

  uintptr_t interval = gIntervals->adapterHandle, timeout = gTimeouts->adapterHandle;
  int functionRef = gIntervals->functionRef;
  EXPECT_EQ(RunHandlerById(L, interval), 7);
  EXPECT_EQ(RunHandlerById(L, interval), 7);  // an interval stays
  ASSERT_EQ(gRan.size(), 2u);
  EXPECT_EQ(gRan[0].kind, VL_TIMER_INTERVAL);
  EXPECT_EQ(gRan[0].id.number, 1);
  EXPECT_EQ(gRan[0].functionRef, functionRef);
  EXPECT_GE(gRan[0].userdataRef, 0);

  EXPECT_EQ(RunHandlerById(L, timeout), 7);
  EXPECT_EQ(gTimeouts, nullptr);  // a timeout is gone before its callback ran
  EXPECT_EQ(gRan.back().kind, VL_TIMER_TIMEOUT);
  EXPECT_EQ(RunHandlerById(L, timeout), 0);
  EXPECT_EQ(RunHandlerById(L, 999), 0);

  // ChangeInterval replaces the adapter timer.
  EXPECT_EQ(Call(CmdChangeInterval, [&] { vl::PushNumber(L, 1); vl::PushNumber(L, 5); }), 0);
  EXPECT_EQ(gRegistered.back(), (std::pair<uint32_t, int>{5, 0}));
  ASSERT_EQ(gFreed.size(), 1u);
  EXPECT_EQ(gFreed[0], interval);
  EXPECT_NE(gIntervals->adapterHandle, interval);

  vlShuttingDown = 1;
  EXPECT_EQ(RunHandlerById(L, gIntervals->adapterHandle), 0);
  vlShuttingDown = 0;
  EXPECT_EQ(ById(CmdClearInterval, 1), 0);
  EXPECT_EQ(gFreed.size(), 2u);
}

TEST_F(Intervals, PlugInsReachRunHandlerByIdThroughTheServiceTable) {
  gTimerAdapter = &gAdapter;
  ASSERT_EQ(Set(CmdSetTimeout, 6, 10), 0);
  void* handle = reinterpret_cast<void*>(gTimeouts->adapterHandle);
  // A script that is quitting runs no callback; the timer stays set.
  volatile int quit = 1;
  volatile int* saved = L->g->host.quitFlag;
  L->g->host.quitFlag = &quit;
  EXPECT_EQ(GetServiceTable()->system->RunHandlerById(L, handle), 0);
  EXPECT_TRUE(gRan.empty());
  quit = 0;
  EXPECT_EQ(GetServiceTable()->system->RunHandlerById(L, handle), 7);
  L->g->host.quitFlag = saved;
  ASSERT_EQ(gRan.size(), 1u);
  EXPECT_EQ(gRan[0].id.number, 6);
  EXPECT_EQ(GetServiceTable()->system->RunHandlerById(L, handle), 0);
}

TEST_F(Intervals, EngineIntervalsHaveNoFunction) {
  vlObjectId id{0, reinterpret_cast<void*>(1)};  // the network poller's id
  ASSERT_EQ(AddInterval(L, &id, 20, 1), 0);
  EXPECT_EQ(id.handle, reinterpret_cast<void*>(1));
  ASSERT_NE(gIntervals, nullptr);
  EXPECT_EQ(gIntervals->functionRef, -1);
  EXPECT_EQ(gIntervals->userdataRef, -1);
  EXPECT_NE(FindTimer(VL_TIMER_INTERVAL, id, nullptr), nullptr);
  ASSERT_EQ(StartNetworkPolling(L, 0), 0);  // the default hook makes the same record
  EXPECT_EQ(Count(gIntervals), 1);
  StopNetworkPolling(L, 0);
  EXPECT_EQ(gIntervals, nullptr);
  EXPECT_EQ(FindTimer(VL_TIMER_INTERVAL, id, nullptr), nullptr);
}

TEST_F(Intervals, ShutDownFreesEverything) {
  ASSERT_EQ(Set(CmdSetInterval, 1, 1000, true), 0);
  ASSERT_EQ(Set(CmdSetTimeout, 0, 1000, true), 1);
  FreeTimerObjects(L);
  EXPECT_EQ(gIntervals, nullptr);
  EXPECT_EQ(gTimeouts, nullptr);
  EXPECT_EQ(FindTimer(VL_TIMER_INTERVAL, {1, nullptr}, nullptr), nullptr);
}

}  // namespace
