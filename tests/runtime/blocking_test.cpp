// The sender that runs before the drawing thread blocks: only that thread's
// waits run it (another thread may not touch the screen), never inside
// itself, and not once it is taken away.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "runtime/blocking.h"
#include "runtime/os.h"

namespace {

std::atomic<int> gSent{0};
void Count() { ++gSent; }
// A sender that waits itself (for the server, say).
void CountAndSleep() {
  ++gSent;
  SleepMillis(1);
}

TEST(BeforeBlocking, OnlyTheDrawingThreadsWaitsSend) {
  gSent = 0;
  SetBeforeBlocking(Count);
  SleepMillis(1);
  EXPECT_EQ(gSent.load(), 1);
  SleepMillis(0);  // no wait, nothing owed
  EXPECT_EQ(gSent.load(), 1);
  std::thread other([] {
    SleepMillis(1);
    BeforeBlocking();
  });
  other.join();
  EXPECT_EQ(gSent.load(), 1) << "another thread's sleep sent";
  SetBeforeBlocking(CountAndSleep);
  BeforeBlocking();
  EXPECT_EQ(gSent.load(), 2) << "the sender's own wait sent again";
  SetBeforeBlocking(nullptr);
  SleepMillis(1);
  EXPECT_EQ(gSent.load(), 2);
}

}  // namespace
