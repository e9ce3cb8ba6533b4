// The pending-event queue: what each event type carries, size-window
// folding, dropping with and without taking the data, expiry by age, and
// real threads posting while the main thread reads and drops.
#include "runtime/event_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

vlDisplay* FakeDisplay(uintptr_t n) { return reinterpret_cast<vlDisplay*>(n * 64); }

class EventQueueTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(InitEventQueue(), 0); }
  void TearDown() override {
    FreeEventQueue(nullptr);
    FreeEventQueueMutex();
    SetRegisteredEventFree(nullptr);
    SetEventDisplayFlagsReader(nullptr);
    vlEventAgeLimit = 60000;
  }
  static int Count() {
    vlEventMsg m;
    int n = 0;
    while (GetPendingEvent(n, &m, 0)) ++n;
    return n;
  }
  static vlEventMsg At(int index) {
    vlEventMsg m{};
    EXPECT_EQ(GetPendingEvent(index, &m, 0), index + 1);
    return m;
  }
  static void* Block(size_t n = 16) { return AllocMemory(n, 1); }
};

TEST_F(EventQueueTest, EachTypeCarriesItsOwnArguments) {
  void* data = Block();
  ASSERT_EQ(PostEvent(FakeDisplay(1), VL_EVENT_LEFT_BUTTON, 10, 20, 1, nullptr), 1);
  ASSERT_EQ(PostEvent(FakeDisplay(1), VL_EVENT_KEY, 'a', 0x80010000u, 1, nullptr), 1);
  ASSERT_EQ(PostEvent(FakeDisplay(2), VL_EVENT_DROPPED_FILE, 5, 6, 7, data), 1);
  ASSERT_EQ(PostEvent(nullptr, VL_EVENT_MENU, 5, 6, 7, nullptr), 1);
  ASSERT_EQ(PostEvent(nullptr, 9, 5, 6, 7, nullptr), 1);
  ASSERT_EQ(PostEvent(nullptr, VL_EVENT_TOUCH, 5, 6, 7, nullptr), 1);

  vlEventMsg m = At(0);
  EXPECT_EQ(m.display, FakeDisplay(1));
  EXPECT_EQ(m.type, 1u);
  EXPECT_EQ(m.a, 10u);
  EXPECT_EQ(m.b, 20u);
  EXPECT_EQ(m.c, 1u);
  m = At(1);
  EXPECT_EQ(m.a, static_cast<uint32_t>('a'));
  EXPECT_EQ(m.b, 0x80010000u);
  m = At(2);
  EXPECT_EQ(m.a, 5u);
  EXPECT_EQ(m.b, 6u);
  EXPECT_EQ(m.c, 0u);
  EXPECT_EQ(m.extra, data);
  m = At(3);
  EXPECT_EQ(m.a + m.b, 0u);
  EXPECT_EQ(m.c, 7u);
  m = At(4);
  EXPECT_EQ(m.a + m.b + m.c, 0u);
  EXPECT_EQ(m.type, 9u);
  m = At(5);
  EXPECT_EQ(m.a, 5u);
  EXPECT_EQ(m.c, 0u);
  EXPECT_EQ(GetPendingEvent(6, &m, 0), 0);
  EXPECT_EQ(GetPendingEvent(-1, &m, 0), 0);
}

TEST_F(EventQueueTest, OnlyTheNewestSizeSurvives) {
  for (uint32_t w : {100u, 200u, 300u}) ASSERT_EQ(PostEvent(FakeDisplay(1), VL_EVENT_SIZE_WINDOW, w, 50, 0, nullptr), 1);
  ASSERT_EQ(Count(), 3);
  EXPECT_EQ(At(0).type, VL_EVENT_IGNORED);
  EXPECT_EQ(At(1).type, VL_EVENT_IGNORED);
  EXPECT_EQ(At(2).type, VL_EVENT_SIZE_WINDOW);
}

TEST_F(EventQueueTest, SizeEventsOfScalingDisplaysAreDropped) {
  SetEventDisplayFlagsReader([](const vlDisplay* d) -> uint32_t {
    return d == FakeDisplay(1) ? 0x40u : d == FakeDisplay(2) ? 0x100u : 0x3Fu;
  });
  EXPECT_EQ(PostEvent(FakeDisplay(3), VL_EVENT_SIZE_WINDOW, 1, 1, 0, nullptr), 1);
  EXPECT_EQ(PostEvent(FakeDisplay(1), VL_EVENT_SIZE_WINDOW, 2, 2, 0, nullptr), 0);
  EXPECT_EQ(PostEvent(FakeDisplay(2), VL_EVENT_SIZE_WINDOW, 3, 3, 0, nullptr), 0);
  EXPECT_EQ(PostEvent(FakeDisplay(1), VL_EVENT_LEFT_BUTTON, 4, 4, 0, nullptr), 1);
  ASSERT_EQ(Count(), 2);
  EXPECT_EQ(At(0).type, VL_EVENT_SIZE_WINDOW);  // a dropped size does not supersede it
}

TEST_F(EventQueueTest, DropFromTheHead) {
  for (uint32_t i = 0; i < 5; ++i) PostEvent(nullptr, VL_EVENT_DROPPED_FILE, i, 0, 0, Block());
  EXPECT_EQ(DropPendingEvents(nullptr, 0, 1), 0);
  ASSERT_EQ(Count(), 4);
  EXPECT_EQ(At(0).a, 1u);
  DropPendingEvents(nullptr, 1, 1);
  ASSERT_EQ(Count(), 2);
  EXPECT_EQ(At(0).a, 3u);
  DropPendingEvents(nullptr, 10, 1);
  EXPECT_EQ(Count(), 0);
  for (uint32_t i = 0; i < 3; ++i) PostEvent(nullptr, VL_EVENT_DROPPED_FILE, i, 0, 0, Block());
  DropPendingEvents(nullptr, -1, 1);
  EXPECT_EQ(Count(), 0);
}

TEST_F(EventQueueTest, TakenDataBelongsToTheCaller) {
  void* data = Block(32);
  PostEvent(nullptr, VL_EVENT_DROPPED_FILE, 1, 2, 0, data);
  vlEventMsg m;
  ASSERT_EQ(GetPendingEvent(0, &m, 1), 1);
  EXPECT_EQ(m.extra, data);
  EXPECT_EQ(At(0).extra, nullptr);
  DropPendingEvents(nullptr, 0, 1);
  // Still ours: the drop must not have released it (ASan would see a
  // double free here).
  static_cast<char*>(data)[31] = 1;
  FreeMemory(data);
}

TEST_F(EventQueueTest, RegisteredTypesUseTheirOwnRelease) {
  static std::vector<std::pair<uint32_t, void*>> released;
  released.clear();
  SetRegisteredEventFree([](vlVMState*, uint32_t type, void* data) { released.emplace_back(type, data); });
  int payload = 0;
  PostEvent(nullptr, 30, 0, 0, 0, &payload);
  PostEvent(nullptr, VL_EVENT_DROPPED_FILE, 0, 0, 0, Block());
  PostEvent(nullptr, 28, 0, 0, 0, nullptr);
  DropPendingEvents(nullptr, -1, 1);
  ASSERT_EQ(released.size(), 1u);
  EXPECT_EQ(released[0].first, 30u);
  EXPECT_EQ(released[0].second, &payload);
}

TEST_F(EventQueueTest, ExpiryDropsOnlyTheOldEventsAtTheHead) {
  auto age = [](int index, uint32_t seconds) {
    vlEventMsg* e = GetEventQueue()->head;
    for (int i = 0; i < index; ++i) e = e->next;
    e->stamp.seconds -= seconds;
  };
  PostEvent(nullptr, VL_EVENT_KEY, 1, 0, 0, nullptr);
  PostEvent(nullptr, VL_EVENT_KEY, 2, 0, 0, nullptr);
  age(0, 61);
  age(1, 1);
  ExpirePendingEvents(nullptr);
  ASSERT_EQ(Count(), 1);
  EXPECT_EQ(At(0).a, 2u);

  // A young event at the head keeps an old one behind it.
  PostEvent(nullptr, VL_EVENT_KEY, 3, 0, 0, nullptr);
  age(1, 120);
  ExpirePendingEvents(nullptr);
  EXPECT_EQ(Count(), 2);

  // All old: all gone.
  age(0, 200);
  ExpirePendingEvents(nullptr);
  EXPECT_EQ(Count(), 0);

  // The limit is the program's to set; a stamp from a clock that was set
  // back is young, not ancient.
  vlEventAgeLimit = 500;
  PostEvent(nullptr, VL_EVENT_KEY, 4, 0, 0, nullptr);
  PostEvent(nullptr, VL_EVENT_KEY, 5, 0, 0, nullptr);
  age(0, 1);
  GetEventQueue()->head->next->stamp.seconds += 3600;
  ExpirePendingEvents(nullptr);
  ASSERT_EQ(Count(), 1);
  EXPECT_EQ(At(0).a, 5u);
}

TEST_F(EventQueueTest, ForgottenDisplaysAndTearDown) {
  PostEvent(FakeDisplay(1), VL_EVENT_KEY, 1, 0, 0, nullptr);
  PostEvent(FakeDisplay(2), VL_EVENT_KEY, 2, 0, 0, nullptr);
  PostEvent(FakeDisplay(1), VL_EVENT_KEY, 3, 0, 0, Block());
  ForgetEventTarget(FakeDisplay(1));
  EXPECT_EQ(At(0).display, nullptr);
  EXPECT_EQ(At(1).display, FakeDisplay(2));
  EXPECT_EQ(At(2).display, nullptr);

  FreeEventQueue(nullptr);
  EXPECT_EQ(Count(), 0);
  EXPECT_EQ(PostEvent(nullptr, VL_EVENT_KEY, 1, 0, 0, nullptr), 0);
  FreeEventQueueMutex();
  EXPECT_EQ(PostEvent(nullptr, VL_EVENT_KEY, 1, 0, 0, nullptr), 0);
  ASSERT_EQ(InitEventQueue(), 0);
  EXPECT_EQ(PostEvent(nullptr, VL_EVENT_KEY, 1, 0, 0, nullptr), 1);
}

TEST_F(EventQueueTest, ThreadsPostWhileTheMainThreadDrains) {
  constexpr int kThreads = 4;
  constexpr uint32_t kPerThread = 3000;
  std::atomic<int> done{0};
  std::vector<std::thread> posters;
  for (int t = 0; t < kThreads; ++t) {
    posters.emplace_back([t, &done] {
      for (uint32_t i = 0; i < kPerThread; ++i) {
        void* block = AllocMemory(8, 1);
        while (PostEvent(nullptr, VL_EVENT_DROPPED_FILE, static_cast<uint32_t>(t), i, 0, block) != 1) {
        }
      }
      done.fetch_add(1);
    });
  }
  std::vector<uint32_t> next(kThreads, 0);
  uint32_t seen = 0;
  vlEventQueue* q = GetEventQueue();
  while (seen < kThreads * kPerThread) {
    LockMutex(q->mutex);
    vlEventMsg m;
    int n = 0;
    while (GetPendingEvent(n, &m, 0)) {
      ASSERT_LT(m.a, static_cast<uint32_t>(kThreads));
      ASSERT_EQ(m.b, next[m.a]) << "thread " << m.a << " out of order";
      ++next[m.a];
      ++n;
    }
    if (n) DropPendingEvents(nullptr, n - 1, 0);
    UnlockMutex(q->mutex);
    seen += static_cast<uint32_t>(n);
    if (!n && done.load() == kThreads) {
      LockMutex(q->mutex);
      bool empty = !q->head;
      UnlockMutex(q->mutex);
      if (empty) break;
    }
  }
  for (auto& p : posters) p.join();
  EXPECT_EQ(seen, kThreads * kPerThread);
  for (uint32_t n : next) EXPECT_EQ(n, kPerThread);
}

TEST(EventQueueMissing, PostingBeforeCreationQueuesNothing) {
  EXPECT_EQ(PostEvent(nullptr, VL_EVENT_KEY, 1, 0, 0, nullptr), 0);
  vlEventMsg m;
  EXPECT_EQ(GetPendingEvent(0, &m, 0), 0);
  EXPECT_EQ(DropPendingEvents(nullptr, -1, 1), 0);
  EXPECT_EQ(ExpirePendingEvents(nullptr), 0);
}

}  // namespace
