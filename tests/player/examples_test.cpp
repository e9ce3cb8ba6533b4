// The examples by topic (examples/*.vlasm, built into build/<tree>/examples)
// run as a newcomer runs them, each checked by what it shows, writes or
// plays, so that none of them rots.
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>

#include "tests/player/player_harness.h"

namespace {

using vlplayer::PlayerTest;
using vlplayer::Quote;
using vlplayer::Result;
using vlplayer::RunOptions;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

// A window's pixels as grabbed from the X server.
struct Picture {
  int width = 0, height = 0;
  std::string rgb;
  uint32_t At(int x, int y) const {
    if (x < 0 || y < 0 || x >= width || y >= height) return 0xFF000000u;
    const auto* p = reinterpret_cast<const unsigned char*>(rgb.data()) + (static_cast<size_t>(y) * width + x) * 3;
    return (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
  }
  // Pixels of exactly this colour in the box from x0,y0 up to x1,y1.
  int Count(int x0, int y0, int x1, int y1, uint32_t color) const {
    int n = 0;
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) n += At(x, y) == color;
    return n;
  }
};

std::string Example(const std::string& name) { return std::string(VL_BINARY_DIR) + "/examples/" + name + ".vla"; }

class Examples : public PlayerTest {
 protected:
  Picture Grab(const std::string& window) const {
    Picture picture;
    std::string ppm = Tool("import -window " + window + " -depth 8 ppm:- 2>/dev/null");
    int maxval = 0, used = 0;
    if (std::sscanf(ppm.c_str(), "P6 %d %d %d%n", &picture.width, &picture.height, &maxval, &used) == 3 &&
        maxval == 255 && ppm.size() == static_cast<size_t>(used) + 1 + size_t(picture.width) * picture.height * 3)
      picture.rgb = ppm.substr(static_cast<size_t>(used) + 1);
    else
      picture.width = picture.height = 0;
    return picture;
  }
  // Grabs the window until done() accepts what it shows (or ten seconds
  // pass), so that a slow start does not catch the drawing half way.
  Picture GrabWhen(const std::string& window, const std::function<bool(const Picture&)>& done) const {
    Picture picture;
    for (int i = 0; i < 100; ++i) {
      picture = Grab(window);
      if (picture.width && done(picture)) break;
      Tool("sleep 0.1");
    }
    return picture;
  }
  // Presses a key in the window until the player has ended (the examples
  // that wait for a key end then; one pressed before they wait is lost).
  void PressKeyUntilEnd(pid_t player, const std::string& window) const {
    const std::string stat = "/proc/" + std::to_string(player) + "/stat";
    for (int i = 0; i < 50; ++i) {
      std::string state = ReadAll(stat);
      size_t paren = state.rfind(')');
      if (paren == std::string::npos || state.compare(paren + 2, 1, "Z") == 0) return;
      Tool("xdotool windowfocus --sync " + window + " key space 2>/dev/null");
      Tool("sleep 0.2");
    }
  }
};

// The plug-in example with sample.vlp beside (a copy of) the player, where
// start-up looks for plug-ins: its commands answer and its constant reads.
TEST_F(Examples, PluginCall) {
  std::string program = WriteFile("vellamora-player", ReadAll(VL_PLAYER_PATH));
  chmod(program.c_str(), 0755);
  WriteFile("sample.vlp", ReadAll(std::string(VL_BINARY_DIR) + "/examples/sample.vlp"));
  RunOptions options;
  options.program = program;
  Result r = Run({Example("plugin_call")}, options);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "repeat: ababab\nlimit: 1000\ncalls: 2\n");
  // Without the plug-in the same applet stops with an error.
  options.program = VL_PLAYER_PATH;
  r = Run({"-debugdevice", "console", Example("plugin_call")}, options);
  EXPECT_NE(r.status, 0);
  EXPECT_EQ(r.out.find("repeat:"), std::string::npos) << r.out;
}

// The sound example: the sample as it is, then an octave up in half the
// time, then the module; each goes out through a device of its own.
TEST_F(Examples, Sound) {
  Result r = Run({Example("sound")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "done\n");
  std::vector<std::string> sink = SinkFiles();
  ASSERT_EQ(sink.size(), 3u);
  const std::string ping = std::string(VL_BINARY_DIR) + "/examples/ping.wav";
  EXPECT_NEAR(vlplayer::SoxStat(sink[0], "Length (seconds)"), 0.5, 0.01);
  EXPECT_LT(vlplayer::SoxStat(sink[0], "RMS     amplitude", ping), 0.01) << "the first play differs from ping.wav";
  EXPECT_NEAR(vlplayer::SoxStat(sink[1], "Length (seconds)"), 0.25, 0.01);
  EXPECT_NEAR(vlplayer::SoxStat(sink[1], "Rough   frequency"), 1320, 30);
  EXPECT_GT(vlplayer::SoxStat(sink[1], "RMS     amplitude"), 0.3);
  EXPECT_GT(vlplayer::SoxStat(sink[2], "Length (seconds)"), 2.5);
  EXPECT_GT(vlplayer::SoxStat(sink[2], "RMS     amplitude"), 0.05);
}

// The network example against python3's web server on 127.0.0.1 serving
// this test's folder: the document comes over HTTP, the status line over
// the script's own TCP connection.
TEST_F(Examples, Network) {
  WriteFile("hello.txt", "Hello from the server");
  // The server prints "PORT n" once it listens.
  std::string pid = Tool("python3 " + Quote(std::string(VL_SOURCE_ROOT) + "/tests/libraries/network/http_server.py") +
                         " " + Quote(dir()) + " > " + Quote(dir() + "/port.txt") + " 2>&1 & echo $!");
  // The server goes however the test ends.
  std::unique_ptr<const std::string, std::function<void(const std::string*)>> server(
      &pid, [this](const std::string* id) { Tool("kill " + *id); });
  std::string port;
  for (int i = 0; i < 100 && port.empty(); ++i) {
    std::string line = ReadAll(dir() + "/port.txt");
    if (line.rfind("PORT ", 0) == 0 && line.back() == '\n') port = line.substr(5, line.size() - 6);
    else Tool("sleep 0.1");
  }
  ASSERT_FALSE(port.empty()) << ReadAll(dir() + "/port.txt");
  RunOptions options;
  options.env = {"HTTP_PORT=" + port};
  Result r = Run({Example("network")}, options);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "http: 21 bytes: Hello from the server\ntcp: HTTP/1.0 200 OK\n");
}

// The files example, run from a copy in this test's folder where it
// writes its files: the summary and the table file, whose table it has
// read back.
TEST_F(Examples, Files) {
  std::string applet = WriteFile("files.vla", ReadAll(Example("files")));
  Result r = Run({applet});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "3 players in 20 bytes: ANN 42, BOB 7, CID 19\nread back: ann kind\nplayer.tbl has 88 bytes\n");
  EXPECT_EQ(ReadAll(dir() + "/scores.txt"), "cid 19\nann 42\nbob 7\n");
  EXPECT_EQ(ReadAll(dir() + "/summary.txt"), "3 players in 20 bytes: ANN 42, BOB 7, CID 19");
  std::string table = ReadAll(dir() + "/player.tbl");
  EXPECT_EQ(table.size(), 88u);
  for (const char* text : {"ann", "fast", "kind", "score", "tags"})
    EXPECT_NE(table.find(text), std::string::npos) << text;
}

// The vector example: a filled triangle, a circle's outline, a word's
// outlines filled, and edged text, each where the example puts it.
TEST_F(Examples, Vectors) {
  Picture shown;
  RunOptions options;
  options.whileRunning = [&](pid_t player, const std::string& display) {
    std::string window = vlplayer::WaitForWindow(display, "Vector example", 20000);
    if (window.empty()) return;
    // The edged text comes last.
    shown = GrabWhen(window, [](const Picture& p) { return p.Count(20, 190, 320, 240, 0x0000FF) > 100; });
    PressKeyUntilEnd(player, window);
  };
  Result r = Run({Example("vectors")}, options);
  EXPECT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(shown.width, 320);
  ASSERT_EQ(shown.height, 240);
  // The triangle from 20,20 to 100,20 and 60,90: its middle and not beside it.
  EXPECT_EQ(shown.At(60, 40), 0xFFFF00u);
  EXPECT_EQ(shown.At(25, 80), 0u);
  // The ring around 240,60 of radius 30: on it, inside and outside it.
  EXPECT_EQ(shown.At(270, 60), 0xFF0000u);
  EXPECT_EQ(shown.At(240, 30), 0xFF0000u);
  EXPECT_EQ(shown.At(240, 60), 0u);
  EXPECT_EQ(shown.At(300, 60), 0u);
  EXPECT_GT(shown.Count(200, 20, 280, 100, 0xFF0000), 500);
  // "Path" in cyan above 160, nothing of it below.
  EXPECT_GT(shown.Count(20, 110, 200, 165, 0x00FFFF), 800);
  EXPECT_EQ(shown.Count(0, 170, 320, 240, 0x00FFFF), 0);
  // White text with its blue edge at the bottom.
  EXPECT_GT(shown.Count(20, 190, 320, 240, 0xFFFFFF), 300);
}

// The anim example: its last frame stays in the window where it played,
// and ball.gif holds the four frames with their delays.
TEST_F(Examples, Anim) {
  std::string applet = WriteFile("anim.vla", ReadAll(Example("anim")));
  Picture shown;
  RunOptions options;
  options.whileRunning = [&](pid_t player, const std::string& display) {
    std::string window = vlplayer::WaitForWindow(display, "Anim example", 20000);
    if (window.empty()) return;
    shown = GrabWhen(window, [](const Picture& p) { return p.At(160, 128) == 0x00FF00; });
    PressKeyUntilEnd(player, window);
  };
  Result r = Run({applet}, options);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "saved ball.gif\n");
  // The landed ball (frame 4) at 140,100 + 20,28, nothing of it outside.
  EXPECT_EQ(shown.At(160, 128), 0x00FF00u);
  EXPECT_EQ(shown.Count(0, 0, 320, 240, 0x00FF00), shown.Count(140, 100, 180, 140, 0x00FF00));
  EXPECT_GT(shown.Count(140, 100, 180, 140, 0x00FF00), 150);
  const std::string gif = Quote(dir() + "/ball.gif");
  EXPECT_EQ(Tool("identify -format '%T ' " + gif), "10 10 10 40 ");
  // Down the middle of each whole frame: where the ball is in each.
  EXPECT_EQ(Tool("convert " + gif + " -coalesce -alpha off -depth 8 -format "
                 "'%[hex:p{20,10}] %[hex:p{20,16}] %[hex:p{20,22}] %[hex:p{20,28}] %[hex:p{2,2}]\\n' info:"),
            "FF0000 FF0000 000000 000000 000000\n"
            "FF8000 FF8000 FF8000 000000 000000\n"
            "000000 FFFF00 FFFF00 FFFF00 000000\n"
            "000000 000000 00FF00 00FF00 000000\n");
}

// The layers example: the box with its border outside it and its shadow
// to the south-east only, the turned text, and the box the transition
// uncovered, whole, over the grey background picture.
TEST_F(Examples, Layers) {
  Picture shown;
  RunOptions options;
  options.whileRunning = [&](pid_t player, const std::string& display) {
    std::string window = vlplayer::WaitForWindow(display, "Layers example", 20000);
    if (window.empty()) return;
    shown = GrabWhen(window, [](const Picture& p) { return p.Count(40, 150, 280, 210, 0xFF8000) == 240 * 60; });
    PressKeyUntilEnd(player, window);
  };
  Result r = Run({Example("layers")}, options);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "shown\n");
  EXPECT_EQ(shown.Count(40, 150, 280, 210, 0xFF8000), 240 * 60);
  EXPECT_EQ(shown.Count(0, 0, 320, 240, 0xFF8000), 240 * 60);
  // Box 30,30 120x80; border 3 pixels outside it.
  EXPECT_EQ(shown.At(90, 70), 0x2050C0u);
  EXPECT_EQ(shown.At(30, 30), 0x2050C0u);
  EXPECT_EQ(shown.At(27, 27), 0xFFFFFFu);
  EXPECT_EQ(shown.At(152, 60), 0xFFFFFFu);
  EXPECT_EQ(shown.At(26, 26), 0xDDDDDDu);
  // The shadow: grey, darker than the background, beyond the lower right
  // corner and not beyond the upper left one.
  const uint32_t shadow = shown.At(158, 118);
  EXPECT_EQ(shadow >> 16, shadow & 0xFF);
  EXPECT_LT(shadow & 0xFF, 0xC0u);
  EXPECT_EQ(shown.At(20, 20), 0xDDDDDDu);
  EXPECT_EQ(shown.At(24, 60), 0xDDDDDDu);
  // The text: dark pixels where it stands, none of the background outside
  // the shapes changed.
  int dark = 0;
  for (int y = 45; y < 100; ++y)
    for (int x = 170; x < 270; ++x) dark += (shown.At(x, y) & 0xFF) < 0x60;
  EXPECT_GT(dark, 100);
  EXPECT_EQ(shown.Count(0, 0, 320, 20, 0xDDDDDD), 320 * 20);
  EXPECT_EQ(shown.Count(0, 215, 320, 240, 0xDDDDDD), 320 * 25);
}

// The sprites example: the ball stops where its pixels first touch the
// wall (its box touches two pixels earlier), and the window shows the
// ball there and nowhere else, over the wall.
TEST_F(Examples, Sprites) {
  Picture shown;
  RunOptions options;
  options.whileRunning = [&](pid_t player, const std::string& display) {
    std::string window = vlplayer::WaitForWindow(display, "Sprites example", 20000);
    if (window.empty()) return;
    // Rolling, the ball passes this spot too: wait for it to stand there.
    shown = GrabWhen(window, [](const Picture& p) {
      return p.At(234, 186) == 0xFFD000 && p.Count(0, 0, 224, 240, 0xFFD000) == 0;
    });
    PressKeyUntilEnd(player, window);
  };
  Result r = Run({Example("sprites")}, options);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "hit at x = 224\n");
  // The disc at 224,176 (centre 234,186): whole, with no trace left behind.
  EXPECT_EQ(shown.At(234, 186), 0xFFD000u);
  EXPECT_EQ(shown.Count(0, 0, 224, 240, 0xFFD000), 0);
  EXPECT_EQ(shown.Count(224, 176, 245, 197, 0xFFD000), shown.Count(0, 0, 320, 240, 0xFFD000));
  EXPECT_GT(shown.Count(224, 176, 245, 197, 0xFFD000), 280);
  // Its black corners are see-through: the wall shows beside the disc.
  EXPECT_EQ(shown.At(243, 177), 0xC02020u);
  EXPECT_EQ(shown.At(250, 100), 0xC02020u);
  EXPECT_EQ(shown.At(223, 186), 0u);
}

}  // namespace
