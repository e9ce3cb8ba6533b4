// A display shown through a display-adapter plug-in (tests/player/
// xadapter_plugin.cpp: pictures in its own memory, windows of its own drawn
// with XPutImage) looks the same as on a plain X11 display, and a mouse
// click on the adapter's window reaches the script's handler.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/player/player_harness.h"

namespace {

using vlplayer::PlayerTest;
using vlplayer::Result;
using vlplayer::RunOptions;

constexpr int kWidth = 96, kHeight = 64;

// Every applet here: a 96 x 64 display named "adaptertest", its drawing,
// then it waits for one event and reports the handler's action.
std::string AppletText(const std::string& drawing) {
  return R"(.function onmouse
  .params 1
  getfield 1 0 "action"
  .call base=2 debugprint r1
  ret
.end
.defun OnMouse onmouse
.line 1
.table 0 { width = 96, height = 64, title = "adaptertest" }
.call base=1 setdisplayattributes r0
)" + drawing + R"(.table 0 { onmousedown = $OnMouse }
.call base=1 installeventhandler r0
.call waitevent
.call debugprint "done")";
}

// A blue display with layers: brushes plain, with an alpha channel, with a
// mask, one shown by a transition and last a hardware one.
const char* kDrawing = R"(.call enablelayers
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
)";

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

class AdapterDisplay : public PlayerTest {
 protected:
  // Runs the applet, on a plain display or (owns "0" or "1") through the
  // adapter beside a copy of the player (kept out of the start-up scan by
  // its "_", loaded as a start-up plug-in), holding video bitmaps only or
  // every bitmap and plane. Takes the window's pixels (R G B bytes) once
  // the sentinel pixel shows its colour, then clicks inside the window;
  // the script must have seen the click.
  std::string Shoot(const std::string& applet, const char* owns, int sentinelX, int sentinelY,
                    const std::string& sentinel) {
    std::string pixels;
    RunOptions options;
    options.timeoutSeconds = 30;
    options.whileRunning = [&](pid_t, const std::string& display) {
      const std::string id = vlplayer::WaitForWindow(display, "adaptertest");
      if (id.empty()) return;
      const std::string grab = "import -window " + id + " -depth 8 rgb:-";
      const size_t at = (static_cast<size_t>(sentinelY) * kWidth + sentinelX) * 3;
      for (int i = 0; i < 100; ++i) {
        pixels = Tool(grab);
        if (pixels.size() == kWidth * kHeight * 3u && pixels.substr(at, 3) == sentinel) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
      Tool("xdotool mousemove --window " + id + " 20 20 click 1");
    };
    std::vector<std::string> args = {applet};
    if (owns) {
      options.program = AdapterProgram();
      options.env = {"VL_XADAPTER_LOG=" + Log(owns), std::string("VL_XADAPTER_OWNS=") + owns};
      options.env.insert(options.env.end(), adapterEnv_.begin(), adapterEnv_.end());
      args.insert(args.begin(), {"-requireplugins", "xadapter"});
    }
    Result r = Run(args, options);
    EXPECT_EQ(r.status, 0) << r.out << r.err << (owns ? ReadFile(Log(owns)) : "");
    EXPECT_EQ(r.out, "OnMouseDown\ndone\n");
    EXPECT_EQ(pixels.size(), kWidth * kHeight * 3u);
    return pixels;
  }
  std::string Log(const char* owns) const { return dir() + "/adapter" + owns + ".log"; }
  // The applet run through the adapter with one more environment setting;
  // the adapter logs to Log(log).
  Result RunOnAdapter(const std::string& applet, const char* log, const std::string& setting) {
    RunOptions options;
    options.timeoutSeconds = 20;
    options.program = AdapterProgram();
    options.env = {"VL_XADAPTER_LOG=" + Log(log), setting};
    return Run({"-requireplugins", "xadapter", applet}, options);
  }
  // A copy of the player beside the adapter plug-in.
  std::string AdapterProgram() {
    if (program_.empty()) {
      program_ = WriteFile("vellamora-player", ReadFile(VL_PLAYER_PATH));
      chmod(program_.c_str(), 0755);
      WriteFile("_xadapter.vlp", ReadFile(VL_XADAPTER_PATH));
    }
    return program_;
  }
  // More of the adapter's environment for the runs through it.
  std::vector<std::string> adapterEnv_;
  static int Differing(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return -1;
    int n = 0;
    for (size_t i = 0; i < a.size(); i += 3) n += a.compare(i, 3, b, i, 3) != 0;
    return n;
  }

 private:
  std::string program_;
};

TEST_F(AdapterDisplay, LooksLikeAPlainDisplayAndTakesClicks) {
  const std::string applet = Applet("adaptershow", AppletText(kDrawing));
  const std::string green("\0\xFF\0", 3);
  const std::string plain = Shoot(applet, nullptr, 45, 35, green);
  for (const char* owns : {"0", "1"}) {
    SCOPED_TRACE(std::string("owns every bitmap: ") + owns);
    const std::string adapted = Shoot(applet, owns, 45, 35, green);
    EXPECT_EQ(Differing(plain, adapted), 0);
    // The adapter showed the display and the hardware brush was its
    // picture; owning every bitmap it made the others too (the display's
    // buffers, the brushes) and got every one of them back.
    const std::string said = ReadFile(Log(owns));
    ASSERT_EQ(said.rfind("open 640x480\nsize 96x64\nvideo 10x10\nmade, left ", 0), 0u) << said;
    int made = -1, left = -1;
    std::sscanf(said.c_str() + said.rfind(' '), "%dx%d", &made, &left);
    if (*owns == '1') EXPECT_GE(made, 3) << said;
    else EXPECT_EQ(made, 0) << said;
    EXPECT_EQ(left, 0) << said;
    // The pictures are where the script put them.
    ASSERT_EQ(adapted.size(), kWidth * kHeight * 3u);
    auto pixel = [&](int x, int y) { return adapted.substr((static_cast<size_t>(y) * kWidth + x) * 3, 3); };
    EXPECT_EQ(pixel(0, 0), std::string("\0\0\xFF", 3));
    EXPECT_EQ(pixel(10, 10), std::string("\xFF\0\0", 3));
    EXPECT_EQ(pixel(45, 35), green);
    EXPECT_EQ(pixel(75, 15), std::string("\xFF\xFF\0", 3));
    EXPECT_EQ(pixel(73, 43), std::string("\xFF\0\xFF", 3));
    EXPECT_EQ(pixel(10, 48), std::string("\0\xFF\xFF", 3));
  }
}

// Frames drawn into a software double buffer and flipped (each frame
// draws over the one before: the back buffer is owed what the last Flips
// changed), then drawings kept under a sprite and beside it (the front
// copy takes them, owed while no sprite is on the display) and the sprite
// moved away: through the adapter, holding video bitmaps or every bitmap,
// the window equals the plain display's.
TEST_F(AdapterDisplay, DoubleBufferedFramesAndDrawingUnderASpriteShowAsOnAPlainDisplay) {
  const std::string applet = Applet("adapterflip", AppletText(R"(.call createbrush 4 96 64 255
.call createbrush 2 16 8 16711680
.call createbrush 6 8 8 16776960
.call createbrush 3 8 8 65280
.call createbrush 7 4 4 16777215
.call begindoublebuffer
.call displaybrush 4 0 0
.call displaybrush 2 5 7
.call flip
.call displaybrush 6 40 20
.call flip
.call displaybrush 3 60 40
.call flip
.call displaybrush 6 70 5
.call flip
.call enddoublebuffer
.call displaybrush 2 5 40
.call base=1 setfillstyle 1
.call box 30 50 6 6 65280
.call createbrush 12 10 10 16711935
.call base=1 createsprite 1 3 12
.call displaysprite 1 50 20
.call box 45 15 20 20 65535
.call displaybrush 6 20 25
.call displaysprite 1 8 42
.call displaysprite 1 80 50
.call displaybrush 7 90 58
)"));
  const std::string white("\xFF\xFF\xFF", 3);
  const std::string plain = Shoot(applet, nullptr, 91, 59, white);
  ASSERT_EQ(plain.size(), kWidth * kHeight * 3u);
  auto at = [&](int x, int y) { return plain.substr((static_cast<size_t>(y) * kWidth + x) * 3, 3); };
  const std::string red("\xFF\0\0", 3), yellow("\xFF\xFF\0", 3), green("\0\xFF\0", 3), cyan("\0\xFF\xFF", 3),
      magenta("\xFF\0\xFF", 3), blue("\0\0\xFF", 3);
  // Every frame stays in the frames after it; what the sprite covered and
  // left comes back as drawn.
  EXPECT_EQ(at(10, 10), red);
  EXPECT_EQ(at(43, 23), yellow) << "second frame";
  EXPECT_EQ(at(62, 42), green) << "third frame";
  EXPECT_EQ(at(72, 7), yellow) << "fourth frame";
  EXPECT_EQ(at(10, 44), red) << "under the sprite's second place";
  EXPECT_EQ(at(52, 22), cyan) << "under the sprite's first place";
  EXPECT_EQ(at(22, 27), yellow);
  EXPECT_EQ(at(32, 52), green);
  EXPECT_EQ(at(85, 55), magenta);
  EXPECT_EQ(at(2, 60), blue);
  for (const char* owns : {"0", "1"}) {
    SCOPED_TRACE(std::string("owns every bitmap: ") + owns);
    EXPECT_EQ(Differing(plain, Shoot(applet, owns, 91, 59, white)), 0);
  }
}

// A video moved and scaled while it plays ends where it was sent, at its
// new size, on the adapter's display as on a plain one; so does a video on
// a layer that is moved.
TEST_F(AdapterDisplay, VideoFollowsItsNewPositionAndSize) {
  const std::string file = dir() + "/v.avi";
  int status = 0;
  Tool("ffmpeg -v error -y -f lavfi -i testsrc=size=16x8:rate=20 -t 1 -c:v rawvideo -pix_fmt bgr24 " +
           vlplayer::Quote(file),
       &status);
  if (status != 0) GTEST_SKIP() << "no ffmpeg";
  const std::string moved = R"(.call playvideo 1 10 20
.call setvideoposition 1 40 30
.call setvideosize 1 32 16
)";
  const std::string onLayer = R"(.call enablelayers
.table 0 { uselayer = 1 }
.call base=1 playvideo 1 10 20 r0
.table 0 { x = 40, y = 30 }
.call base=1 setlayerstyle 1 r0
)";
  const std::string green("\0\xFF\0", 3);
  for (const std::string& how : {moved, onLayer}) {
    SCOPED_TRACE(how);
    const std::string applet = Applet("adaptervideo", AppletText(".call openvideo 1 \"" + file + "\"\n" + how + R"(.call wait 80
.call createbrush 3 4 4 65280
.call displaybrush 3 0 0
)"));
    const std::string plain = Shoot(applet, nullptr, 1, 1, green);
    ASSERT_EQ(plain.size(), kWidth * kHeight * 3u);
    // The video's last frame covers its new rectangle; where it started is
    // the display's background (its black BGPic) again.
    auto at = [&](int x, int y) { return plain.substr((static_cast<size_t>(y) * kWidth + x) * 3, 3); };
    const std::string black(3, '\0');
    int covered = 0, old = 0;
    for (int y = 30; y < 38; ++y)
      for (int x = 40; x < 56; ++x) covered += at(x, y) != black;
    for (int y = 20; y < 28; ++y)
      for (int x = 10; x < 26; ++x) old += at(x, y) != black;
    EXPECT_GT(covered, 16 * 8 / 2);
    EXPECT_EQ(old, 0);
    for (const char* owns : {"0", "1"}) {
      SCOPED_TRACE(std::string("owns every bitmap: ") + owns);
      EXPECT_EQ(Differing(plain, Shoot(applet, owns, 1, 1, green)), 0);
    }
  }
}

// A hardware brush scaled, copied and rotated: an adapter that offers to
// scale and transform its pictures makes each result itself (its log names
// them) and one that does not leaves them to the player; either way the
// window shows what a plain display shows.
TEST_F(AdapterDisplay, AdapterScalesCopiesAndTransformsItsPictures) {
  const std::string applet = Applet("adapterengines", AppletText(R"(.call createbrush 2 10 6 16711680
.call selectbrush 2
.call base=1 setfillstyle 1
.call box 0 0 5 6 255
.call endselect
.table 0 { hardware = 1 }
.call base=1 copybrush 2 3 r0
.call scalebrush 3 20 12
.call displaybrush 3 4 4
.table 0 { hardware = 1 }
.call base=1 copybrush 3 4 r0
.call rotatebrush 4 90
.call displaybrush 4 40 4
.call createbrush 5 4 4 65280
.call displaybrush 5 90 60
)"));
  const std::string green("\0\xFF\0", 3), red("\xFF\0\0", 3), blue("\0\0\xFF", 3);
  const std::string plain = Shoot(applet, nullptr, 91, 61, green);
  ASSERT_EQ(plain.size(), kWidth * kHeight * 3u);
  auto at = [](const std::string& p, int x, int y) { return p.substr((static_cast<size_t>(y) * kWidth + x) * 3, 3); };
  // Scaled twice: blue on the left half, red on the right.
  EXPECT_EQ(at(plain, 5, 5), blue);
  EXPECT_EQ(at(plain, 13, 15), blue);
  EXPECT_EQ(at(plain, 14, 5), red);
  EXPECT_EQ(at(plain, 23, 15), red);
  EXPECT_EQ(at(plain, 24, 16), std::string(3, '\0'));
  // Turned a quarter: 12 wide and 20 high, one colour above the other.
  int turned = 0;
  for (int y = 4; y < 24; ++y)
    for (int x = 40; x < 52; ++x) turned += at(plain, x, y) == red || at(plain, x, y) == blue;
  EXPECT_GE(turned, 12 * 20 - 24);
  EXPECT_NE(at(plain, 45, 6), at(plain, 45, 21));
  for (const char* engines : {"0", "1"}) {
    SCOPED_TRACE(std::string("adapter engines: ") + engines);
    adapterEnv_ = {std::string("VL_XADAPTER_ENGINES=") + engines};
    const std::string adapted = Shoot(applet, "0", 91, 61, green);
    EXPECT_EQ(Differing(plain, adapted), 0);
    const std::string said = ReadFile(Log("0"));
    const bool own = *engines == '1';
    EXPECT_EQ(said.find("scale 20x12\n") != std::string::npos, own) << said;
    EXPECT_EQ(said.find("copy 20x12\n") != std::string::npos, own) << said;
    EXPECT_EQ(said.find("transform 12x20\n") != std::string::npos, own) << said;
    std::remove(Log("0").c_str());
  }
}

// An adapter whose WaitEvents blocks until its ForceEventLoopIteration
// runs: a timeout's signal wakes it through the relay, so the handler
// fires; waits sleep in the adapter's Sleep, vwait waits in its VWait and
// the qualifier of IsKeyDown comes from its GetQualifiers, pointers are its
// own, and it hears that the script handles the close button.
TEST_F(AdapterDisplay, BlockingAdapterIsWokenAndAskedForItsWaitsAndQualifiers) {
  const std::string applet = Applet("adapterwake", R"(.function fire
  .params 1
  .call base=1 debugprint "fired"
  ret
.end
.defun OnFire fire
.line 1
.table 0 { width = 96, height = 64, title = "adapterwake" }
.call base=1 setdisplayattributes r0
.table 0 { closewindow = $OnFire }
.call base=1 installeventhandler r0
.call createbrush 9 8 8 16711680
.call createpointer 1 3 9
.call setpointer 1
.call freepointer 1
.call createpointer 2 3 9
.call setpointer 2
.call settimeout nil $OnFire 50
.call waitevent
.call wait 3
.call vwait
.call iskeydown "LSHIFT" -> s
.call debugprint $s
.call debugprint "done")");
  Result r = RunOnAdapter(applet, "wake", "VL_XADAPTER_BLOCK=1");
  const std::string said = ReadFile(Log("wake"));
  ASSERT_EQ(r.status, 0) << r.out << r.err << said;
  EXPECT_EQ(r.out, "fired\n1\ndone\n");
  for (const char* entry : {"force", "wait", "sleep", "vwait", "qualifiers", "newpointer", "setpointer",
                            "freepointer", "attributes"}) {
    const size_t at = said.find(std::string("\n") + entry + " ");
    ASSERT_NE(at, std::string::npos) << entry << "\n" << said;
    EXPECT_GE(std::atoi(said.c_str() + at + std::strlen(entry) + 2), 1) << entry << "\n" << said;
  }
}

// A timer adapter's timers drive the intervals and timeouts: the adapter
// runs their handlers through RunHandlerById, even inside a wait that runs
// no handlers of its own; ChangeInterval makes a faster timer in place of
// the first, and every timer the player made is freed again.
TEST_F(AdapterDisplay, TimerAdapterDrivesIntervalsAndTimeouts) {
  const std::string applet = Applet("adaptertimers", R"(.function tick
  .params 1
  .call base=1 debugprint "tick"
  ret
.end
.function once
  .params 1
  .call base=1 debugprint "once"
  ret
.end
.defun OnTick tick
.defun OnOnce once
.line 1
.table 0 { width = 96, height = 64, title = "adaptertimers" }
.call base=1 setdisplayattributes r0
.call setinterval 1 $OnTick 40
.call settimeout 2 $OnOnce 100
.call wait 10
.call debugprint "changed"
.call changeinterval 1 10
.call wait 10
.call clearinterval 1
.call wait 3
.call debugprint "done")");
  Result r = RunOnAdapter(applet, "timers", "VL_XADAPTER_TIMERS=1");
  const std::string said = ReadFile(Log("timers"));
  ASSERT_EQ(r.status, 0) << r.out << r.err << said;
  const size_t changed = r.out.find("changed\n");
  ASSERT_NE(changed, std::string::npos) << r.out;
  auto count = [](const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  };
  const std::string before = r.out.substr(0, changed), after = r.out.substr(changed);
  // 200 ms at 40 ms, then 200 ms at 10 ms; nothing after the clear.
  EXPECT_GE(count(before, "tick"), 3) << r.out;
  EXPECT_LE(count(before, "tick"), 5) << r.out;
  EXPECT_GE(count(after, "tick"), 12) << r.out;
  EXPECT_EQ(count(r.out, "once"), 1) << r.out;
  EXPECT_EQ(r.out.substr(r.out.size() - 10), "tick\ndone\n") << r.out;
  // The interval, its faster successor and the timeout; all freed.
  EXPECT_NE(said.find("timers registered, freed 3x3"), std::string::npos) << said;
  // Refused without the capability (1055) and once the plug-ins are
  // initialised (1518).
  EXPECT_NE(said.find("timer adapter refused 1055x1518"), std::string::npos) << said;
}

}  // namespace
