// The demonstration applet as scripts/run-example shows it: a window comes
// up, what it shows changes (transition, text, moving ball), the tune is
// heard, and the applet ends by itself.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/player/player_harness.h"

namespace {

using vlplayer::PlayerTest;
using vlplayer::Quote;

using Demo = PlayerTest;

// A binary PPM (P6, maxval 255) as width, height and RGB bytes; false when
// it is not one.
bool ReadPpm(const std::string& path, int* width, int* height, std::vector<unsigned char>* rgb) {
  std::ifstream in(path, std::ios::binary);
  std::string magic;
  int maxval = 0;
  if (!(in >> magic >> *width >> *height >> maxval) || magic != "P6" || maxval != 255) return false;
  in.get();
  rgb->assign(std::istreambuf_iterator<char>(in), {});
  return rgb->size() == static_cast<size_t>(*width) * static_cast<size_t>(*height) * 3;
}

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
    int status = 0;
    std::string log = Tool("import -window " + window + " -depth 8 " + Quote("ppm:" + dir() + "/ball.ppm") + " 2>&1", &status);
    EXPECT_EQ(status, 0) << log;
  };
  vlplayer::Result r = Run({applet}, options);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  ASSERT_FALSE(window.empty()) << "no window titled \"Vellamora demo\"";
  EXPECT_EQ(first.size(), later.size());
  EXPECT_NE(first, later) << "the window showed the same pixels three seconds apart";

  // The ball is round: its orange pixels fill a box of 39 by 39 whose
  // middle is orange and whose corners are not.
  int width = 0, height = 0;
  std::vector<unsigned char> rgb;
  ASSERT_TRUE(ReadPpm(dir() + "/ball.ppm", &width, &height, &rgb));
  auto orange = [&](int x, int y) {
    const unsigned char* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
    return p[0] == 0xFF && p[1] == 0xA5 && p[2] == 0x00;
  };
  int left = width, right = -1, top = height, bottom = -1;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      if (orange(x, y)) {
        left = std::min(left, x), right = std::max(right, x);
        top = std::min(top, y), bottom = std::max(bottom, y);
      }
  ASSERT_GE(right, 0) << "no orange ball in the window";
  EXPECT_EQ(right - left + 1, 39);
  EXPECT_EQ(bottom - top + 1, 39);
  EXPECT_TRUE(orange((left + right) / 2, (top + bottom) / 2));
  for (int y : {top, bottom})
    for (int x : {left, right}) EXPECT_FALSE(orange(x, y)) << "a corner at " << x << "," << y;
  std::vector<std::string> sink = SinkFiles();
  ASSERT_EQ(sink.size(), 1u);
  EXPECT_GT(vlplayer::SoxStat(sink[0], "Length (seconds)"), 5.0);
  EXPECT_GT(vlplayer::SoxStat(sink[0], "RMS     amplitude"), 0.05);
}

}  // namespace
