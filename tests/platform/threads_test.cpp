#include "runtime/threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <unistd.h>

namespace {

TEST(Mutex, IsRecursiveAndExcludesOtherThreads) {
  vlMutex* mutex = CreateMutex();
  ASSERT_NE(mutex, nullptr);
  LockMutex(mutex);
  LockMutex(mutex);
  EXPECT_EQ(TryLockMutex(mutex), 1);
  std::atomic<int> otherGot{-1};
  std::thread other([&] { otherGot = TryLockMutex(mutex); });
  other.join();
  EXPECT_EQ(otherGot.load(), 0);
  UnlockMutex(mutex);
  UnlockMutex(mutex);
  UnlockMutex(mutex);
  std::thread again([&] {
    otherGot = TryLockMutex(mutex);
    if (otherGot == 1) UnlockMutex(mutex);
  });
  again.join();
  EXPECT_EQ(otherGot.load(), 1);
  FreeMutex(mutex);
}

TEST(Mutex, GuardsACounterAcrossThreads) {
  vlMutex* mutex = CreateMutex();
  long counter = 0;
  auto work = [&] {
    for (int i = 0; i < 20000; i++) {
      LockMutex(mutex);
      counter++;
      UnlockMutex(mutex);
    }
  };
  std::thread a(work), b(work), c(work);
  a.join();
  b.join();
  c.join();
  EXPECT_EQ(counter, 60000);
  FreeMutex(mutex);
}

TEST(Condition, ASignalBeforeTheWaitIsKept) {
  vlMutex* mutex = CreateMutex();
  vlCondition* condition = CreateCondition();
  ASSERT_NE(condition, nullptr);
  LockMutex(mutex);
  SignalCondition(condition);
  EXPECT_EQ(WaitCondition(condition, mutex), 0);  // returns at once
  EXPECT_EQ(condition->signalled, 0u);
  UnlockMutex(mutex);

  std::atomic<bool> woke{false};
  std::thread waiter([&] {
    LockMutex(mutex);
    WaitCondition(condition, mutex);
    woke = true;
    UnlockMutex(mutex);
  });
  usleep(20000);
  EXPECT_FALSE(woke.load());
  LockMutex(mutex);
  SignalCondition(condition);
  UnlockMutex(mutex);
  waiter.join();
  EXPECT_TRUE(woke.load());
  FreeCondition(condition);
  FreeMutex(mutex);
}

void* StoreArgument(void* argument) {
  static_cast<std::atomic<int>*>(argument)->store(42);
  return nullptr;
}

TEST(SpawnThread, DefaultAndRealTimePriorities) {
  for (int priority : {0, 25, 100}) {
    std::atomic<int> value{0};
    vlThreadId thread = SpawnThread(StoreArgument, &value, priority);
    ASSERT_NE(thread, vlThreadId{}) << priority;
    EXPECT_EQ(JoinThread(thread), 0);
    EXPECT_EQ(value.load(), 42) << priority;
  }
}

struct WorkerLog {
  std::atomic<int> ranAfterStart{0};
  std::atomic<int> stopSeen{0};
  std::atomic<int> finished{0};
  std::atomic<int> creatorReturned{0};
};

void ReportingBody(void* start) {
  vlWorker* self = GetWorkerSelf(start);
  auto* log = static_cast<WorkerLog*>(GetWorkerUserData(self));
  // The creator is still waiting until this report.
  usleep(30000);
  EXPECT_EQ(log->creatorReturned.load(), 0);
  ReportWorkerStarted(self);
  while (!GetWorkerStopFlag(self) && !GetWorkerQuitFlag(self)) usleep(1000);
  log->stopSeen = GetWorkerStopFlag(self);
  log->finished = 1;
}

TEST(Worker, CreatorWaitsForTheStartReport) {
  WorkerLog log;
  vlWorker* worker = CreateWorker("test", ReportingBody, &log, 0, 0, 0);
  log.creatorReturned = 1;
  ASSERT_NE(worker, nullptr);
  EXPECT_EQ(log.finished.load(), 0);
  vlWorker* holder[2] = {nullptr, worker};
  StopWorker(holder);
  EXPECT_EQ(log.finished.load(), 1);
  EXPECT_EQ(log.stopSeen.load(), 1);
}

void FailingBody(void* start) {
  vlWorker* self = GetWorkerSelf(start);
  usleep(10000);
  ReportWorkerResult(self, 1287);
  static_cast<WorkerLog*>(GetWorkerUserData(self))->finished = 1;
}

TEST(Worker, AFailureReportGivesNullAfterTheJoin) {
  WorkerLog log;
  EXPECT_EQ(CreateWorker("fail", FailingBody, &log, 0, 0, 0), nullptr);
  // Joined: the body ran to its end before CreateWorker returned.
  EXPECT_EQ(log.finished.load(), 1);
}

void SilentBody(void* start) {
  usleep(10000);
  static_cast<WorkerLog*>(GetWorkerUserData(GetWorkerSelf(start)))->finished = 1;
}

TEST(Worker, ABodyThatEndsWithoutReportingDoesNotHang) {
  WorkerLog log;
  EXPECT_EQ(CreateWorker("silent", SilentBody, &log, 0, 0, 25), nullptr);
  EXPECT_EQ(log.finished.load(), 1);
}

void ResultZeroThenStartBody(void* start) {
  vlWorker* self = GetWorkerSelf(start);
  ReportWorkerResult(self, 0);  // no effect on the wait by itself
  ReportWorkerStarted(self);
  WaitWorkerQuit(self);
  static_cast<WorkerLog*>(GetWorkerUserData(self))->finished = 1;
}

TEST(Worker, QuitFlagEndsTheBodysWait) {
  WorkerLog log;
  vlWorker* worker = CreateWorker("quit", ResultZeroThenStartBody, &log, 0, 0, 0);
  ASSERT_NE(worker, nullptr);
  usleep(5000);
  EXPECT_EQ(log.finished.load(), 0);
  FreeWorker(worker);
  EXPECT_EQ(log.finished.load(), 1);
}

TEST(Worker, ManyWorkersAtOnce) {
  std::atomic<int> started{0};
  std::vector<std::thread> creators;
  std::vector<vlWorker*> workers(16, nullptr);
  for (int i = 0; i < 16; i++) {
    creators.emplace_back([&, i] {
      workers[i] = CreateWorker(
          "many",
          [](void* start) {
            vlWorker* self = GetWorkerSelf(start);
            static_cast<std::atomic<int>*>(GetWorkerUserData(self))->fetch_add(1);
            ReportWorkerStarted(self);
            WaitWorkerQuit(self);
          },
          &started, 0, 0, 0);
    });
  }
  for (auto& creator : creators) creator.join();
  EXPECT_EQ(started.load(), 16);
  for (vlWorker* worker : workers) {
    ASSERT_NE(worker, nullptr);
    FreeWorker(worker);
  }
}

}  // namespace
