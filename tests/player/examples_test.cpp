// The examples by topic (examples/*.vlasm, built into build/<tree>/examples)
// run as a newcomer runs them, each checked by what it shows, writes or
// plays, so that none of them rots.
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

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
  // Keeps a grab as NAME.png in this test's folder and, when
  // VL_EXAMPLE_SCREENSHOTS names a folder (scripts/example-screenshots
  // sets it), there too: the screenshots of the guide.
  void Keep(const Picture& picture, const std::string& name) const {
    ASSERT_GT(picture.width, 0) << name;
    std::string ppm = "P6 " + std::to_string(picture.width) + " " + std::to_string(picture.height) + " 255\n";
    WriteFile(name + ".ppm", ppm + picture.rgb);
    const std::string png = dir() + "/" + name + ".png";
    int status = 0;
    std::string log = Tool("convert " + Quote(dir() + "/" + name + ".ppm") + " -strip " + Quote("png:" + png) + " 2>&1",
                           &status);
    ASSERT_EQ(status, 0) << log;
    EXPECT_EQ(Tool("identify -format '%wx%h' " + Quote(png)),
              std::to_string(picture.width) + "x" + std::to_string(picture.height));
    if (const char* shots = std::getenv("VL_EXAMPLE_SCREENSHOTS"); shots && *shots) {
      log = Tool("cp " + Quote(png) + " " + Quote(std::string(shots) + "/" + name + ".png") + " 2>&1", &status);
      EXPECT_EQ(status, 0) << log;
    }
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

  // Linked into a program of its own with the plug-in inside it, the
  // applet runs from another folder with nothing beside the program, and
  // the plug-in's unpacked copy is gone again at the end.
  const std::string examples = std::string(VL_BINARY_DIR) + "/examples/";
  int status = 0;
  std::string log = Tool("mkdir -p " + Quote(dir() + "/apps") + " && " + Quote(VL_MKAPPLET_PATH) + " -d " +
                             Quote(std::string(VL_SOURCE_ROOT) + "/examples/plugin_call.desc") + " --link " +
                             Quote(VL_PLAYER_PATH) + " --plugin " + Quote(examples + "sample.vlp") + " -o " +
                             Quote(dir() + "/apps/calls") + " " + Quote(examples + "plugin_call.chunk") + " 2>&1",
                         &status);
  ASSERT_EQ(status, 0) << log;
  options.program = dir() + "/apps/calls";  // started from the test's folder, not its own
  r = Run({}, options);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "repeat: ababab\nlimit: 1000\ncalls: 2\n");
  EXPECT_EQ(Tool("ls " + Quote(dir() + "/apps")), "calls\n");
  EXPECT_TRUE(TempEntries().empty());
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
    Keep(shown, "vectors");
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
    Keep(shown, "anim");
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
    Keep(shown, "layers");
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
    Keep(shown, "sprites");
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

// The menu example: the highlight bar follows Up and Down (wrapping round)
// and Return prints the entry under it.
TEST_F(Examples, Menu) {
  Picture first, moved;
  RunOptions options;
  options.whileRunning = [&](pid_t, const std::string& display) {
    std::string window = vlplayer::WaitForWindow(display, "Menu example", 20000);
    if (window.empty()) return;
    // The bar of entry N spans y 30 + 60 N to 74 + 60 N.
    auto barAt = [](int entry) {
      return [entry](const Picture& p) { return p.At(45, 35 + 60 * entry) == 0x2050C0; };
    };
    first = GrabWhen(window, barAt(0));
    const std::string xdotool = "xdotool windowfocus --sync " + window + " key ";
    Tool(xdotool + "Up");  // from the first entry up to the last
    moved = GrabWhen(window, barAt(2));
    Keep(moved, "menu");
    Tool(xdotool + "Down");
    Tool(xdotool + "Down");
    GrabWhen(window, barAt(1));
    Tool(xdotool + "Return");
  };
  Result r = Run({Example("menu")}, options);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "chosen: Scores\n");
  ASSERT_EQ(first.width, 320);
  ASSERT_EQ(first.height, 200);
  // One bar only, behind the entry it marks; white text on each entry.
  EXPECT_GT(first.Count(40, 30, 280, 74, 0x2050C0), 240 * 44 - 800);
  EXPECT_EQ(first.Count(0, 80, 320, 200, 0x2050C0), 0);
  EXPECT_EQ(moved.Count(0, 0, 320, 150, 0x2050C0), 0);
  EXPECT_GT(moved.Count(40, 150, 280, 194, 0x2050C0), 240 * 44 - 800);
  for (int entry = 0; entry < 3; ++entry)
    EXPECT_GT(moved.Count(60, 40 + 60 * entry, 160, 65 + 60 * entry, 0xFFFFFF), 50) << entry;
}

// The clock example: three ticks of its interval a second apart, each
// showing the time, then the timeout that ends it.
TEST_F(Examples, Clock) {
  Picture shown;
  RunOptions options;
  options.whileRunning = [&](pid_t, const std::string& display) {
    std::string window = vlplayer::WaitForWindow(display, "Clock example", 20000);
    if (window.empty()) return;
    shown = GrabWhen(window, [](const Picture& p) { return p.Count(60, 10, 280, 80, 0xFFFFFF) > 200; });
    Keep(shown, "clock");
  };
  const auto start = std::chrono::steady_clock::now();
  Result r = Run({"-DEBUGDEVICE", "console", Example("clock")}, options);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "tick 1\ntick 2\ntick 3\ndone after 3 ticks: Timeout\n");
  EXPECT_GT(seconds, 3.4) << "three ticks a second apart and half a second more";
  ASSERT_EQ(shown.width, 320);
  // The time in white on the dark blue box, within the text's place.
  EXPECT_GT(shown.Count(60, 10, 280, 80, 0xFFFFFF), 200);
  EXPECT_EQ(shown.Count(0, 0, 320, 10, 0x202040), 320 * 10);
  EXPECT_EQ(shown.Count(0, 90, 320, 120, 0x202040), 320 * 30);
}

// The words example, run from a copy in this test's folder: the report it
// prints and writes counts the linked text's words, and the window shows
// it until a key is pressed.
TEST_F(Examples, Words) {
  std::string applet = WriteFile("words.vla", ReadAll(Example("words")));
  Picture shown;
  RunOptions options;
  options.whileRunning = [&](pid_t player, const std::string& display) {
    std::string window = vlplayer::WaitForWindow(display, "Words example", 20000);
    if (window.empty()) return;
    // The last line of the report comes last.
    shown = GrabWhen(window, [](const Picture& p) { return p.Count(30, 175, 200, 200, 0xFFFFFF) > 30; });
    Keep(shown, "words");
    PressKeyUntilEnd(player, window);
  };
  Result r = Run({"-DEBUGDEVICE", "console", applet}, options);
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string report = "32 words, 21 different\nthe      8\nwas      4\nand      2\nbright   1\ncalm     1\n";
  EXPECT_EQ(r.out, report);
  EXPECT_EQ(ReadAll(dir() + "/report.txt"), report);
  ASSERT_EQ(shown.width, 320);
  // Six lines of white text, one under the other.
  for (int line = 0; line < 6; ++line) {
    const int top = line == 0 ? 20 : 60 + 28 * (line - 1);
    EXPECT_GT(shown.Count(20, top, 300, top + 22, 0xFFFFFF), 30) << line;
  }
}

}  // namespace
