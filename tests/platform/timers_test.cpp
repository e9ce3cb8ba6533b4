#include "platform/timers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <functional>
#include <poll.h>
#include <pthread.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "abi/plugin_abi.h"
#include "platform/display_adapter.h"
#include "platform/event_pump.h"
#include "platform/hooks.h"
#include "platform/intervals.h"
#include "runtime/os.h"
#include "platform/wake_pipe.h"
#include "vm/error_codes.h"

namespace {

using Clock = std::chrono::steady_clock;

class Timers : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetPlatformHooks();
    ASSERT_EQ(InitTimers(), 0);
    ASSERT_EQ(OpenWakePipe(), 0);
  }
  void TearDown() override {
    vlDisplayAdapter = nullptr;
    BindQuitFlag(nullptr);
    ShutdownTimers();
    CloseWakePipe();
    ResetPlatformHooks();
  }
  // Installs a display adapter record whose ForceEventLoopIteration runs
  // force, as a plug-in's would.
  void InstallAdapter(int (*force)(uint32_t)) {
    adapter_ = {};
    adapter_.ForceEventLoopIteration = force;
    vlDisplayAdapter = &adapter_;
  }
  // Installs a display adapter record whose event entries count the pumps
  // a sleep makes (TestPump) and wait on the wake pipe, as a plug-in's
  // would; quitting goes to a flag of the test's own.
  void InstallPumpAdapter();
  vlPluginInfo adapter_{};
  volatile int quit_ = 0;
};

// Serves the wake pipe like the main thread's wait, without blocking for
// ever, until done() holds or five seconds passed.
bool ServeUntil(const std::function<bool()>& done) {
  auto deadline = Clock::now() + std::chrono::seconds(5);
  while (Clock::now() < deadline) {
    pollfd fd{GetWakePipeReadEnd(), POLLIN, 0};
    poll(&fd, 1, 20);
    DrainWakePipe();
    if (done()) return true;
  }
  return false;
}

// Takes one walk over the timer list; returns what fired, in order.
std::vector<std::pair<uint32_t, int32_t>> TakeAll() {
  std::vector<std::pair<uint32_t, int32_t>> fired;
  vlTimer* at = nullptr;
  do {
    uint32_t kind;
    vlObjectId id{};
    at = TakeFiredTimer(at, &kind, &id);
    if (kind != VL_TIMER_NONE) fired.emplace_back(kind, id.number);
  } while (at);
  return fired;
}

vlObjectId Id(int32_t number) { return vlObjectId{number, nullptr}; }

// Serves the pipe until every listed timer of kind has its fired flag set.
bool WaitFired(uint32_t kind, std::initializer_list<int32_t> numbers) {
  return ServeUntil([&] {
    for (int32_t number : numbers) {
      vlTimer* record = FindTimer(kind, Id(number), nullptr);
      if (!record || !record->fired) return false;
    }
    return true;
  });
}

TEST_F(Timers, HandlersRestartCallsAndCarrySigInfo) {
  ASSERT_EQ(InstallAudioTimerSignal(), 0);
  for (int signal : {SIGRTMIN, SIGRTMIN + 1}) {
    struct sigaction action {};
    ASSERT_EQ(sigaction(signal, nullptr, &action), 0);
    EXPECT_TRUE(action.sa_flags & SA_RESTART) << signal;
    EXPECT_TRUE(action.sa_flags & SA_SIGINFO) << signal;
  }
}

TEST_F(Timers, ABlockingReadSurvivesATimerSignal) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  ASSERT_EQ(PlatformTimer(VL_TIMER_ADD_TIMEOUT, Id(1), 20), 0);
  std::thread writer([&] {
    // Only the reading thread can take the signal.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGRTMIN);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    usleep(300000);
    char byte = 'x';
    EXPECT_EQ(write(ends[1], &byte, 1), 1);
  });
  char got = 0;
  ssize_t n = read(ends[0], &got, 1);
  writer.join();
  EXPECT_EQ(n, 1);
  EXPECT_EQ(got, 'x');
  // The signal did arrive meanwhile.
  EXPECT_TRUE(ServeUntil([] { return !TakeAll().empty(); }));
  close(ends[0]);
  close(ends[1]);
}

TEST_F(Timers, ATimeoutIsReportedOnceAndFreed) {
  ASSERT_EQ(PlatformTimer(VL_TIMER_ADD_TIMEOUT, Id(5), 10), 0);
  std::vector<std::pair<uint32_t, int32_t>> fired;
  ASSERT_TRUE(ServeUntil([&] {
    fired = TakeAll();
    return !fired.empty();
  }));
  ASSERT_EQ(fired.size(), 1u);
  EXPECT_EQ(fired[0].first, VL_TIMER_TIMEOUT);
  EXPECT_EQ(fired[0].second, 5);
  // The record is gone: nothing more, and removing it changes nothing.
  uint32_t kind = 0;
  vlObjectId id{};
  EXPECT_EQ(TakeFiredTimer(nullptr, &kind, &id), nullptr);
  EXPECT_EQ(kind, VL_TIMER_NONE);
  EXPECT_EQ(PlatformTimer(VL_TIMER_REMOVE_TIMEOUT, Id(5), 0), 0);
}

TEST_F(Timers, AnIntervalThatFiredTwiceIsReportedOnce) {
  ASSERT_EQ(PlatformTimer(VL_TIMER_ADD_INTERVAL, Id(7), 10), 0);
  ASSERT_TRUE(WaitFired(VL_TIMER_INTERVAL, {7}));
  usleep(60000);  // more periods pass before anyone looks
  DrainWakePipe();
  auto fired = TakeAll();
  ASSERT_EQ(fired.size(), 1u);
  EXPECT_EQ(fired[0].first, VL_TIMER_INTERVAL);
  EXPECT_EQ(fired[0].second, 7);
  // It keeps running.
  EXPECT_TRUE(ServeUntil([] { return TakeAll().size() == 1; }));
  EXPECT_EQ(PlatformTimer(VL_TIMER_REMOVE_INTERVAL, Id(7), 0), 0);
  usleep(30000);
  DrainWakePipe();
  EXPECT_TRUE(TakeAll().empty());
}

TEST_F(Timers, KindsAndIdsAreMatchedExactly) {
  int handleTarget = 0;
  vlObjectId automatic{0, &handleTarget};
  ASSERT_EQ(PlatformTimer(VL_TIMER_ADD_TIMEOUT, automatic, 60000), 0);
  ASSERT_EQ(PlatformTimer(VL_TIMER_ADD_INTERVAL, Id(3), 60000), 0);
  // Wrong kind, wrong number, wrong handle: nothing is removed.
  EXPECT_EQ(PlatformTimer(VL_TIMER_REMOVE_INTERVAL, automatic, 0), 0);
  EXPECT_EQ(PlatformTimer(VL_TIMER_REMOVE_TIMEOUT, Id(3), 0), 0);
  EXPECT_EQ(PlatformTimer(VL_TIMER_REMOVE_TIMEOUT, Id(0), 0), 0);
  EXPECT_NE(FindTimer(VL_TIMER_TIMEOUT, automatic, nullptr), nullptr);
  EXPECT_NE(FindTimer(VL_TIMER_INTERVAL, Id(3), nullptr), nullptr);
  EXPECT_EQ(PlatformTimer(VL_TIMER_REMOVE_TIMEOUT, automatic, 0), 0);
  EXPECT_EQ(FindTimer(VL_TIMER_TIMEOUT, automatic, nullptr), nullptr);
  EXPECT_EQ(PlatformTimer(5, Id(3), 10), 0);
  EXPECT_EQ(PlatformTimer(-1, Id(3), 10), 0);
}

TEST_F(Timers, ChangingAnIntervalsPeriod) {
  EXPECT_EQ(PlatformTimer(VL_TIMER_CHANGE_INTERVAL, Id(9), 10), 0);  // none: nothing
  EXPECT_EQ(FindTimer(VL_TIMER_INTERVAL, Id(9), nullptr), nullptr);
  ASSERT_EQ(PlatformTimer(VL_TIMER_ADD_INTERVAL, Id(9), 60000), 0);
  usleep(50000);
  DrainWakePipe();
  EXPECT_TRUE(TakeAll().empty());
  ASSERT_EQ(PlatformTimer(VL_TIMER_CHANGE_INTERVAL, Id(9), 10), 0);
  EXPECT_TRUE(ServeUntil([] { return TakeAll().size() == 1; }));
}

TEST_F(Timers, RemovingATimerWhoseMessageIsInThePipeChangesNothing) {
  ASSERT_EQ(PlatformTimer(VL_TIMER_ADD_TIMEOUT, Id(1), 5), 0);
  ASSERT_EQ(PlatformTimer(VL_TIMER_ADD_INTERVAL, Id(2), 5), 0);
  usleep(100000);  // both messages wait in the pipe
  ASSERT_EQ(PlatformTimer(VL_TIMER_REMOVE_TIMEOUT, Id(1), 0), 0);
  ASSERT_EQ(PlatformTimer(VL_TIMER_REMOVE_INTERVAL, Id(2), 0), 0);
  // New records, possibly at the same addresses, must not inherit them.
  ASSERT_EQ(PlatformTimer(VL_TIMER_ADD_TIMEOUT, Id(3), 60000), 0);
  ASSERT_EQ(PlatformTimer(VL_TIMER_ADD_INTERVAL, Id(4), 60000), 0);
  DrainWakePipe();
  EXPECT_TRUE(TakeAll().empty());
}

TEST_F(Timers, AOneShotTimeoutFiresEvenWhenThePipeWasFull) {
  int posted = 0;
  while (PostWakeMessage(VL_WAKE_WAKE, 0) > 0) posted++;
  ASSERT_GT(posted, 0);
  ASSERT_EQ(PlatformTimer(VL_TIMER_ADD_TIMEOUT, Id(11), 10), 0);
  // Wait until it expired: its message found the pipe full.
  vlTimer* record = FindTimer(VL_TIMER_TIMEOUT, Id(11), nullptr);
  ASSERT_NE(record, nullptr);
  auto deadline = Clock::now() + std::chrono::seconds(5);
  itimerspec state{};
  do {
    usleep(5000);
    ASSERT_EQ(timer_gettime(record->timer, &state), 0);
  } while ((state.it_value.tv_sec || state.it_value.tv_nsec) && Clock::now() < deadline);
  usleep(20000);
  EXPECT_EQ(PostWakeMessage(VL_WAKE_WAKE, 0), 0);
  vlWakeCounts counts = DrainWakePipe();
  EXPECT_EQ(counts.wakes, posted);
  auto fired = TakeAll();
  ASSERT_EQ(fired.size(), 1u);
  EXPECT_EQ(fired[0].second, 11);
}

TEST_F(Timers, TheWalkSurvivesRemovalOfItsNextRecord) {
  ASSERT_EQ(PlatformTimer(VL_TIMER_ADD_INTERVAL, Id(1), 5), 0);
  ASSERT_EQ(PlatformTimer(VL_TIMER_ADD_INTERVAL, Id(2), 5), 0);
  ASSERT_EQ(PlatformTimer(VL_TIMER_ADD_INTERVAL, Id(3), 5), 0);
  ASSERT_TRUE(WaitFired(VL_TIMER_INTERVAL, {1, 2, 3}));
  uint32_t kind;
  vlObjectId id{};
  vlTimer* next = TakeFiredTimer(nullptr, &kind, &id);
  EXPECT_EQ(id.number, 1);
  // A callback removes the record the walk would visit next.
  ASSERT_EQ(PlatformTimer(VL_TIMER_REMOVE_INTERVAL, Id(2), 0), 0);
  next = TakeFiredTimer(next, &kind, &id);  // starts over at the head
  EXPECT_EQ(kind, VL_TIMER_NONE);
  next = TakeFiredTimer(next, &kind, &id);
  EXPECT_EQ(kind, VL_TIMER_INTERVAL);
  EXPECT_EQ(id.number, 3);
  EXPECT_EQ(next, nullptr);
}

TEST_F(Timers, PointerMessagesAreCoalesced) {
  // Moves of one connection make one message until its owner has taken it;
  // a message for no connection the X code knows is dropped harmlessly.
  static vlWakeCoalescer source;
  EXPECT_EQ(PostCoalescedWake(&source, VL_WAKE_POINTER_MOVED, 77), 1);
  EXPECT_EQ(PostCoalescedWake(&source, VL_WAKE_POINTER_MOVED, 77), 1);
  EXPECT_EQ(PostCoalescedWake(&source, VL_WAKE_POINTER_MOVED, 77), 1);
  vlWakeCounts counts = DrainWakePipe();
  EXPECT_EQ(counts.pointers, 1);
  EXPECT_EQ(PostCoalescedWake(&source, VL_WAKE_POINTER_MOVED, 77), 1);
  EXPECT_EQ(DrainWakePipe().pointers, 0);
  ClearCoalescedWake(&source);
  EXPECT_EQ(PostCoalescedWake(&source, VL_WAKE_POINTER_MOVED, 78), 1);
  EXPECT_EQ(DrainWakePipe().pointers, 1);
}

TEST_F(Timers, WakeEventLoopWritesOrCallsTheAdapter) {
  WakeEventLoop();
  EXPECT_EQ(DrainWakePipe().wakes, 1);
  static int forced = 0;
  InstallAdapter([](uint32_t) { return ++forced; });
  WakeEventLoop();
  EXPECT_EQ(forced, 1);
  EXPECT_EQ(DrainWakePipe().wakes, 0);
}

TEST_F(Timers, WaitForWakeReturnsForExtraDescriptors) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  std::thread writer([&] {
    usleep(20000);
    EXPECT_EQ(write(ends[1], "x", 1), 1);
  });
  EXPECT_EQ(WaitForWake(&ends[0], 1), 0);
  writer.join();
  close(ends[0]);
  close(ends[1]);
}

struct PumpLog {
  std::atomic<int> calls{0};
  int stopAfter = -1;
  int error = 0;
};
PumpLog gPumpLog;
PumpLog* gPump = &gPumpLog;

// Each test counts its own pumps: an earlier test's count must not carry over.
PumpLog& FreshPumpLog() {
  gPump->calls = 0;
  gPump->stopAfter = -1;
  gPump->error = 0;
  return *gPump;
}

// The adapter's HandleEvents: counts, and from the stopAfter-th pump on
// fails with the error or, without one, asks to quit.
int TestPump(vlVMState*, uint32_t context, uintptr_t) {
  EXPECT_EQ(context, 2u);
  int n = ++gPump->calls;
  if (gPump->stopAfter >= 0 && n >= gPump->stopAfter) {
    if (gPump->error) return gPump->error;
    RequestQuit();
  }
  return 0;
}
int TestWait(vlVMState*, uint32_t, uintptr_t*, uintptr_t) { return WaitForWake(nullptr, 0); }

void Timers::InstallPumpAdapter() {
  adapter_ = {};
  adapter_.HandleEvents = TestPump;
  adapter_.WaitEvents = TestWait;
  vlDisplayAdapter = &adapter_;
  quit_ = 0;
  BindQuitFlag(&quit_);
}

TEST_F(Timers, PumpingSleepLastsItsTimeAndPumps) {
  PumpLog& log = FreshPumpLog();
  InstallPumpAdapter();
  // Wake-ups from another thread make the sleep pump without ending it.
  std::atomic<bool> stop{false};
  std::thread waker([&] {
    while (!stop) {
      PostWakeMessage(VL_WAKE_WAKE, 0);
      usleep(10000);
    }
  });
  auto start = Clock::now();
  EXPECT_EQ(SleepPumpingEvents(nullptr, 100), 0);
  auto elapsed = Clock::now() - start;
  stop = true;
  waker.join();
  EXPECT_GE(elapsed, std::chrono::milliseconds(100));
  EXPECT_LT(elapsed, std::chrono::milliseconds(2000));
  EXPECT_GE(log.calls.load(), 2);
}

// A wake that the wait takes together with the sleep's own end (a video's
// frame queued just as the time ran out, on a loaded machine) is pumped
// before the sleep returns: nothing else would announce it again.
TEST_F(Timers, PumpingSleepPumpsAWakeThatCameWithItsEnd) {
  PumpLog& log = FreshPumpLog();
  InstallPumpAdapter();
  adapter_.WaitEvents = [](vlVMState*, uint32_t, uintptr_t*, uintptr_t) {
    PostWakeMessage(VL_WAKE_WAKE, 0);
    // Past the sleep's end before the wait looks (the timer's signal cuts
    // a plain sleep short).
    const auto until = Clock::now() + std::chrono::milliseconds(40);
    while (Clock::now() < until) usleep(1000);
    return WaitForWake(nullptr, 0);
  };
  EXPECT_EQ(SleepPumpingEvents(nullptr, 10), 0);
  EXPECT_GE(log.calls.load(), 1);
}

TEST_F(Timers, PumpingSleepOfZeroReturnsAtOnce) {
  PumpLog& log = FreshPumpLog();
  InstallPumpAdapter();
  auto start = Clock::now();
  EXPECT_EQ(SleepPumpingEvents(nullptr, 0), 0);
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(50));
  EXPECT_EQ(log.calls.load(), 0);
}

TEST_F(Timers, PumpingSleepEndsOnQuitOrError) {
  PumpLog& log = FreshPumpLog();
  log.stopAfter = 1;
  InstallPumpAdapter();
  std::thread waker([] {
    usleep(20000);
    PostWakeMessage(VL_WAKE_WAKE, 0);
  });
  auto start = Clock::now();
  EXPECT_EQ(SleepPumpingEvents(nullptr, 60000), ERR_USERABORT);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(30));
  waker.join();
  log.calls = 0;
  quit_ = 0;
  log.error = ERR_READFILE;
  PostWakeMessage(VL_WAKE_WAKE, 0);
  EXPECT_EQ(SleepPumpingEvents(nullptr, 60000), ERR_READFILE);
}

TEST_F(Timers, ALateSignalOfAnEarlierSleepDoesNotEndTheNextOne) {
  FreshPumpLog();
  InstallPumpAdapter();
  for (int i = 0; i < 5; i++) {
    auto start = Clock::now();
    EXPECT_EQ(SleepPumpingEvents(nullptr, 30), 0);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(30)) << i;
  }
}

TEST_F(Timers, NetworkPollingSharesOneInterval) {
  // One engine interval of 20 ms serves both kinds of network object.
  const vlObjectId polling{0, reinterpret_cast<void*>(1)};
  EXPECT_EQ(StartNetworkPolling(nullptr, 0), 0);
  vlTimerObject* first = LookupInterval(polling);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->period, 20u);
  EXPECT_EQ(StartNetworkPolling(nullptr, 1), 0);
  EXPECT_EQ(StartNetworkPolling(nullptr, 0), 0);
  EXPECT_EQ(LookupInterval(polling), first);
  StopNetworkPolling(nullptr, 0);
  EXPECT_EQ(LookupInterval(polling), first);
  StopNetworkPolling(nullptr, 1);
  EXPECT_EQ(LookupInterval(polling), nullptr);
  StopNetworkPolling(nullptr, 1);
  EXPECT_EQ(LookupInterval(polling), nullptr);
}

TEST_F(Timers, NetworkPollingUsesARealIntervalByDefault) {
  ASSERT_EQ(StartNetworkPolling(nullptr, 1), 0);
  vlObjectId polling{0, reinterpret_cast<void*>(1)};
  EXPECT_NE(FindTimer(VL_TIMER_INTERVAL, polling, nullptr), nullptr);
  EXPECT_TRUE(ServeUntil([] { return !TakeAll().empty(); }));
  StopNetworkPolling(nullptr, 1);
  EXPECT_EQ(FindTimer(VL_TIMER_INTERVAL, polling, nullptr), nullptr);
}

// The audio timer signal carries a loop timer's token; a value that is no
// record of the audio output (a stray or forged signal) posts nothing and
// does not fault. The loop events themselves are checked through the player.
TEST_F(Timers, AudioTimerSignalsOfNoLoopTimerPostNothing) {
  ASSERT_EQ(InstallAudioTimerSignal(), 0);
  static std::atomic<int> posted{0};
  posted = 0;
  gPlatformHooks.postAudioEvent = [](int, vlObjectId, int32_t, int32_t, int32_t, int) { ++posted; };
  int records[3];
  timer_t timers[3];
  for (int i = 0; i < 3; i++) {
    sigevent event{};
    event.sigev_notify = SIGEV_SIGNAL;
    event.sigev_signo = SIGRTMIN + 1;
    event.sigev_value.sival_ptr = &records[i];
    ASSERT_EQ(timer_create(CLOCK_REALTIME, &event, &timers[i]), 0);
    itimerspec spec{};
    spec.it_value.tv_nsec = (i + 1) * 20 * 1000000L;
    ASSERT_EQ(timer_settime(timers[i], 0, &spec, nullptr), 0);
  }
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
  ServeUntil([&] { return std::chrono::steady_clock::now() > until; });
  for (timer_t t : timers) timer_delete(t);
  EXPECT_EQ(posted.load(), 0);
}

TEST_F(Timers, TheRelayServesThePipeForADisplayAdapter) {
  static std::atomic<int> forced{0};
  forced = 0;
  EXPECT_EQ(StartSignalRelay(), 0);  // no adapter: no relay
  InstallAdapter([](uint32_t) { return ++forced; });
  ASSERT_EQ(StartSignalRelay(), 0);
  ASSERT_EQ(PlatformTimer(VL_TIMER_ADD_TIMEOUT, Id(21), 10), 0);
  auto deadline = Clock::now() + std::chrono::seconds(5);
  std::vector<std::pair<uint32_t, int32_t>> fired;
  while (fired.empty() && Clock::now() < deadline) {
    usleep(5000);
    fired = TakeAll();
  }
  ASSERT_EQ(fired.size(), 1u);
  EXPECT_EQ(fired[0].second, 21);
  EXPECT_GE(forced.load(), 1);
  StopSignalRelay();
}

TEST_F(Timers, RunScriptMainBracketsTheChunkWithTheRelay) {
  static vlVMState* const kState = reinterpret_cast<vlVMState*>(0x1234);
  InstallAdapter([](uint32_t) { return 1; });
  gPlatformHooks.runMainChunk = [](vlVMState* state) {
    EXPECT_EQ(state, kState);
    EXPECT_EQ(GetRunningScriptState(), kState);
    // The relay answers wake messages while the chunk runs.
    PostWakeMessage(VL_WAKE_WAKE, 0);
    return 1234;
  };
  EXPECT_EQ(RunScriptMain(kState), 1234);
  EXPECT_EQ(GetRunningScriptState(), nullptr);
}

}  // namespace
