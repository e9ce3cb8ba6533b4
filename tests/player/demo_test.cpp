// The demonstration applet as scripts/run-example shows it: a window comes
// up, what it shows changes (transition, text, moving ball), the tune is
// heard, and the applet ends by itself.
#include <string>

#include "tests/player/player_harness.h"

namespace {

using vlplayer::PlayerTest;
using vlplayer::Quote;

using Demo = PlayerTest;

TEST_F(Demo, ShowsAWindowThatChangesAndPlaysItsTune) {
  const std::string applet = std::string(VL_BINARY_DIR) + "/examples/demo.vla";
  std::string window, first, later;
  vlplayer::RunOptions options;
  options.whileRunning = [&](pid_t, const std::string& display) {
    window = vlplayer::WaitForWindow(display, "Vellamora demo", 20000);
    if (window.empty()) return;
    // The window's pixels, hashed: once early, once after the ball set off.
    const std::string grab = "import -window " + window + " rgb:- 2>/dev/null | md5sum";
    first = Tool(grab);
    Tool("sleep 3");
    later = Tool(grab);
  };
  vlplayer::Result r = Run({applet}, options);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  ASSERT_FALSE(window.empty()) << "no window titled \"Vellamora demo\"";
  EXPECT_EQ(first.size(), later.size());
  EXPECT_NE(first, later) << "the window showed the same pixels three seconds apart";
  std::vector<std::string> sink = SinkFiles();
  ASSERT_EQ(sink.size(), 1u);
  EXPECT_GT(vlplayer::SoxStat(sink[0], "Length (seconds)"), 5.0);
  EXPECT_GT(vlplayer::SoxStat(sink[0], "RMS     amplitude"), 0.05);
}

}  // namespace
