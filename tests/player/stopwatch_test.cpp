// The script's stopwatches as the player runs them while the system clock
// is set back: a library preloaded into the player (clock_step_shim.c)
// moves the wall clock back an hour once the applet writes a marker file.
#include <cstdio>
#include <string>

#include "tests/player/player_harness.h"

namespace {

using vlplayer::Result;
using vlplayer::RunOptions;

using Stopwatch = vlplayer::PlayerTest;

TEST_F(Stopwatch, TimersKeepCountingWhenTheClockIsSetBack) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "a preloaded library cannot come ahead of the sanitizer runtime";
#endif
  const std::string marker = dir() + "/clock-stepped";
  // Both timers start before the step; timer 2 is paused after it; then
  // WaitTimer must still wait until timer 1 has counted its full time.
  std::string applet = Applet("stopwatch", R"(.line 1
.call starttimer 1
.call starttimer 2
.call wait 40 1
.call stringtofile "1" ")" + marker + R"("
.call wait 40 1
.call pausetimer 2
.call gettimer 1 -> a
.call debugprint $a
.call gettimer 2 -> b
.call debugprint $b
.call waittimer 1 300 0
.call gettimer 1 -> c
.call debugprint $c)");
  RunOptions options;
  options.env = {"LD_PRELOAD=" VL_CLOCK_STEP_PATH, "VL_CLOCK_STEP_FILE=" + marker};
  Result r = Run({applet}, options);
  ASSERT_EQ(r.status, 0) << r.err;
  double a = 0, b = 0, c = 0;
  ASSERT_EQ(std::sscanf(r.out.c_str(), "%lf\n%lf\n%lf", &a, &b, &c), 3) << r.out;
  // Generous upper bounds: a loaded machine may be slow, never an hour slow.
  EXPECT_GE(a, 80);
  EXPECT_LT(a, 30000);
  EXPECT_GE(b, 80);
  EXPECT_LT(b, 30000);
  EXPECT_GE(c, 300);
  EXPECT_LT(c, 30000);
}

}  // namespace
