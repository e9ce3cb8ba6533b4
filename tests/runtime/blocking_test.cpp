// The drawing thread's one wait and the sender run before it: only a wait
// that blocks sends (one that finds its input ready does not), only the
// drawing thread's waits send, never inside the sender, and not once it is
// taken away; waits for stream input end when the waits are ended.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
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

TEST(BlockingWaits, OnlyWaitsThatBlockSendAndOnlyOnTheDrawingThread) {
  gSent = 0;
  SetBeforeBlocking(Count);
  SleepMillis(1);
  EXPECT_EQ(gSent.load(), 1);
  SleepMillis(0);  // no wait, nothing owed
  EXPECT_EQ(gSent.load(), 1);
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  pollfd p{ends[0], POLLIN, 0};
  EXPECT_EQ(WaitReady(&p, 1, 1000), 0);
  EXPECT_EQ(gSent.load(), 2) << "a wait on a pipe with nothing in it";
  ASSERT_EQ(write(ends[1], "x", 1), 1);
  EXPECT_EQ(WaitReady(&p, 1, -1), 1);
  EXPECT_EQ(gSent.load(), 2) << "a wait whose input is there";
  std::thread other([&] {
    SleepMillis(1);
    pollfd q{ends[1], POLLIN, 0};
    WaitReady(&q, 1, 1000);
  });
  other.join();
  EXPECT_EQ(gSent.load(), 2) << "another thread's waits sent";
  SetBeforeBlocking(CountAndSleep);
  SleepMillis(1);
  EXPECT_EQ(gSent.load(), 3) << "the sender's own wait sent again";
  BeforeLongWork();
  EXPECT_EQ(gSent.load(), 4) << "long work sends without a wait";
  SetBeforeBlocking(nullptr);
  SleepMillis(1);
  EXPECT_EQ(gSent.load(), 4);
  close(ends[0]);
  close(ends[1]);
}

TEST(BlockingWaits, StreamInputWaitsOnlyWhenNothingIsThere) {
  gSent = 0;
  SetBeforeBlocking(Count);
  // A regular file never waits, at its end neither.
  FILE* file = tmpfile();
  ASSERT_NE(file, nullptr);
  ASSERT_GE(std::fputs("line\n", file), 0);
  std::rewind(file);
  EXPECT_EQ(WaitForInput(file, -1), 1);
  EXPECT_EQ(std::fgetc(file), 'l');
  EXPECT_TRUE(InputBuffered(file));
  EXPECT_EQ(WaitForInput(file, -1), 1);
  EXPECT_EQ(gSent.load(), 0);
  EXPECT_EQ(std::fclose(file), 0);
  // A pipe: nothing there sends and times out; a line there is read at once.
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  FILE* in = fdopen(ends[0], "r");
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(WaitForInput(in, 120000), 0);
  EXPECT_GE(gSent.load(), 1);
  const int sent = gSent.load();
  ASSERT_EQ(write(ends[1], "ab\n", 3), 3);
  EXPECT_EQ(WaitForInput(in, -1), 1);
  EXPECT_EQ(gSent.load(), sent);
  char line[8];
  ASSERT_NE(std::fgets(line, sizeof line, in), nullptr);
  EXPECT_STREQ(line, "ab\n");
  // Once the waits are ended (the run is ending) an empty pipe ends the
  // wait at once, but what is there is still read. In a child: the end
  // lasts for the process.
  EXPECT_EXIT(
      {
        EndBlockingWaits();
        const int empty = WaitForInput(in, -1);
        const bool written = write(ends[1], "c", 1) == 1;
        std::exit(empty == -1 && written && WaitForInput(in, -1) == 1 ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
  SetBeforeBlocking(nullptr);
  EXPECT_EQ(std::fclose(in), 0);
  close(ends[1]);
}

}  // namespace
