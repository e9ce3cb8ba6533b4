// A display shown through a display-adapter plug-in (tests/player/
// xadapter_plugin.cpp: pictures in its own memory, windows of its own drawn
// with XPutImage) looks the same as on a plain X11 display, and a mouse
// click on the adapter's window reaches the script's handler.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "tests/player/player_harness.h"

namespace {

using vlplayer::PlayerTest;
using vlplayer::Result;
using vlplayer::RunOptions;
using AdapterDisplay = PlayerTest;

constexpr int kWidth = 96, kHeight = 64;

// A blue display with layers: brushes plain, with an alpha channel, with a
// mask, one shown by a transition and last a hardware one; then it waits
// for one event and reports the handler's action.
const char* kApplet = R"(.function onmouse
  .params 1
  getfield 1 0 "action"
  .call base=2 debugprint r1
  ret
.end
.defun OnMouse onmouse
.line 1
.table 0 { width = 96, height = 64, title = "adaptertest" }
.call base=1 setdisplayattributes r0
.call enablelayers
.call createbrush 4 96 64 255
.call displaybrush 4 0 0
.call createbrush 2 16 8 16711680
.call displaybrush 2 5 7
.table 0 { alphachannel = 1 }
.call base=1 createbrush 5 12 12 16776960 r0
.call displaybrush 5 70 10
.table 0 { mask = 1 }
.call base=1 createbrush 6 8 8 16711935 r0
.call displaybrush 6 70 40
.call createbrush 7 20 10 65535
.call displaybrushfx 7 4 44 49 4
.table 0 { hardware = 1 }
.call base=1 createbrush 3 10 10 65280 r0
.call displaybrush 3 40 30
.table 0 { onmousedown = $OnMouse }
.call base=1 installeventhandler r0
.call waitevent
.call debugprint "done")";

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST_F(AdapterDisplay, LooksLikeAPlainDisplayAndTakesClicks) {
  const std::string applet = Applet("adaptershow", kApplet);
  // The window's pixels (R G B bytes) once the green brush shows, then a
  // left click inside the window.
  auto captureAndClick = [this](std::string* pixels) {
    RunOptions options;
    options.timeoutSeconds = 30;
    options.whileRunning = [this, pixels](pid_t, const std::string& display) {
      const std::string id = vlplayer::WaitForWindow(display, "adaptertest");
      if (id.empty()) return;
      const std::string grab = "import -window " + id + " -depth 8 rgb:-";
      const size_t green = (35u * kWidth + 45u) * 3;
      for (int i = 0; i < 100; ++i) {
        *pixels = Tool(grab);
        if (pixels->size() == kWidth * kHeight * 3u && pixels->substr(green, 3) == std::string("\0\xFF\0", 3)) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
      Tool("xdotool mousemove --window " + id + " 20 20 click 1");
    };
    return options;
  };
  std::string plain;
  Result r = Run({applet}, captureAndClick(&plain));
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "OnMouseDown\ndone\n");
  ASSERT_EQ(plain.size(), kWidth * kHeight * 3u);

  // The same applet with the adapter beside a copy of the player (kept out
  // of the start-up scan by its "_", loaded as a start-up plug-in): holding
  // video bitmaps only, then every bitmap and plane.
  const std::string program = WriteFile("vellamora-player", ReadFile(VL_PLAYER_PATH));
  chmod(program.c_str(), 0755);
  WriteFile("_xadapter.vlp", ReadFile(VL_XADAPTER_PATH));
  for (const char* owns : {"0", "1"}) {
    SCOPED_TRACE(std::string("owns every bitmap: ") + owns);
    const std::string log = dir() + "/adapter" + owns + ".log";
    std::string adapted;
    RunOptions options = captureAndClick(&adapted);
    options.program = program;
    options.env = {"VL_XADAPTER_LOG=" + log, std::string("VL_XADAPTER_OWNS=") + owns};
    r = Run({"-requireplugins", "xadapter", applet}, options);
    ASSERT_EQ(r.status, 0) << r.out << r.err << ReadFile(log);
    EXPECT_EQ(r.out, "OnMouseDown\ndone\n");
    ASSERT_EQ(adapted.size(), plain.size());
    int differing = 0;
    for (size_t i = 0; i < plain.size(); i += 3)
      if (plain.compare(i, 3, adapted, i, 3) != 0) ++differing;
    EXPECT_EQ(differing, 0);
    // The adapter showed the display and the hardware brush was its
    // picture; owning every bitmap it made the others too (the display's
    // buffers, the brushes) and got every one of them back.
    const std::string said = ReadFile(log);
    ASSERT_EQ(said.rfind("open 640x480\nsize 96x64\nvideo 10x10\nmade, left ", 0), 0u) << said;
    int made = -1, left = -1;
    std::sscanf(said.c_str() + said.rfind(' '), "%dx%d", &made, &left);
    if (*owns == '1') EXPECT_GE(made, 3) << said;
    else EXPECT_EQ(made, 0) << said;
    EXPECT_EQ(left, 0) << said;
    // The pictures are where the script put them.
    auto pixel = [&](int x, int y) { return adapted.substr((static_cast<size_t>(y) * kWidth + x) * 3, 3); };
    EXPECT_EQ(pixel(0, 0), std::string("\0\0\xFF", 3));
    EXPECT_EQ(pixel(10, 10), std::string("\xFF\0\0", 3));
    EXPECT_EQ(pixel(45, 35), std::string("\0\xFF\0", 3));
    EXPECT_EQ(pixel(75, 15), std::string("\xFF\xFF\0", 3));
    EXPECT_EQ(pixel(73, 43), std::string("\xFF\0\xFF", 3));
    EXPECT_EQ(pixel(10, 48), std::string("\0\xFF\xFF", 3));
  }
}

}  // namespace
