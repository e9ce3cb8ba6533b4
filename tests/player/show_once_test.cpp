// Every object a script shows reaches the window exactly once, whatever the
// display: layers off or on, output scaled or not, double buffered. Half
// transparent objects tell: shown once over black they are at half
// strength, blended twice at a quarter, not shown at all black.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <fstream>
#include <cstdio>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/player/player_harness.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xcomposite.h>
// Xlib's macro would rename the test framework's own None.
#undef None

namespace {

using vlplayer::PlayerTest;
using vlplayer::Result;
using vlplayer::RunOptions;

constexpr int kWidth = 96, kHeight = 64;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Objects at half strength, each in its own rectangle of the 96 x 64
// black display: a brush and a BGPic part (red), a text object and printed
// text (white), a box (blue), a thick line (green); an opaque anim frame
// (green) and box (orange); the green anim frame again at half strength
// and through the invert filter (magenta).
const char* kHalfStrength = R"(.table 0 { transparency = 128 }
.call base=1 createbrush 1 16 16 16711680
.call base=1 displaybrush 1 2 2 r0
.call base=1 createbrush 10 32 16 65280
.call base=1 createanim 2 10 16 16 2 2
.call base=1 displayanimframe 2 22 2 1
.call base=1 setfontcolor 16777215
.call base=1 createtextobject 3 "MMMM"
.call base=1 displaytextobject 3 2 24 r0
.call base=1 textout 50 24 "MM" r0
.call base=1 createbgpic 5 16 16 16711680
.call base=1 displaybgpicpart 5 0 0 16 16 74 2 r0
.call base=1 setfillstyle 1
.call base=1 box 2 44 16 16 255 r0
.call base=1 box 20 44 6 6 16744448
.table 0 { transparency = 128, thickness = 3 }
.call base=1 line 30 58 60 58 65280 r0
.call base=1 displayanimframe 2 40 2 1 r0
.table 0 { filters = { { name = "invert" } } }
.call base=1 displayanimframe 2 56 2 1 r0
)";

// The sentinel, shown last: once it is on the window, so is the rest.
const char* kSentinel = ".call base=1 createbrush 9 4 4 16776960\n.call base=1 displaybrush 9 92 60\n";

struct Kind {
  const char* name;
  const char* setup;   // after the display has its size
  const char* extra;   // kind-only drawing after the common part
  const char* finish;  // before the handler waits
  int scale;
  bool adapter;  // through the display-adapter plug-in owning every bitmap
};

// A layer made by CreateLayer and one inserted below all others (cyan,
// opaque), and a sprite (magenta) over which a brush (white) is shown:
// the sprite stays on top.
const char* kLayerOnly = R"(.table 0 { color = 65535 }
.call base=1 createlayer 30 44 8 8 r0
.call base=1 createbrush 11 8 8 65535
.call base=1 insertlayer 1 3 11 42 44
)";
const char* kSprite = R"(.call base=1 createbrush 12 6 6 16711935
.call base=1 createsprite 1 3 12
.call base=1 displaysprite 1 70 46
.call base=1 createbrush 13 12 12 16777215
.call base=1 displaybrush 13 66 42
)";

// The sprite of kSprite walked to its place over the half-strength
// objects, with a second one walked across the text and removed: moves
// drawn together must end as the one direct placement does.
const char* kSpriteWalk = R"(.call base=1 createbrush 12 6 6 16711935
.call base=1 createsprite 1 3 12
.call base=1 createsprite 2 3 12
.call base=1 createbrush 13 12 12 16777215
.call base=1 displaybrush 13 66 42
loadk 1 #0
loadk 2 #69
loadk 3 #1
walk:
getglobal 13 "displaysprite"
loadk 14 #1
copy 15 1
loadk 16 #46
call 13 4 1
getglobal 13 "displaysprite"
loadk 14 #2
loadk 17 #80
sub 15 17 1
loadk 16 #24
call 13 4 1
forloop 1 walk
.call base=1 removesprite 2
.call base=1 displaysprite 1 70 46
)";
// The display's pixel in the column only the last move covers, read
// right after that move.
const char* kReadSprite = ".call base=1 readpixel 75 48 -> c\n.call base=1 debugprint $c\n";

// Two layers walked across the half-strength objects by ShowLayer in a
// loop, one half transparent and named, the other the one member of a
// group, walked and at the end hidden by the group's name: moves drawn
// together must end as placing them once does.
const char* kLayerWalk = R"(.call base=1 createbrush 12 6 6 16711935
.table 0 { name = "a", transparency = 128 }
.call base=1 displaybrush 12 0 46 r0
.table 0 { name = "b" }
.call base=1 displaybrush 12 80 24 r0
.table 0 { group = "g" }
.call base=1 setlayerstyle "b" r0
loadk 1 #0
loadk 2 #69
loadk 3 #1
walk:
getglobal 13 "showlayer"
loadk 14 "a"
copy 15 1
loadk 16 #46
call 13 4 1
getglobal 13 "showlayer"
loadk 14 "g"
loadk 17 #80
sub 15 17 1
loadk 16 #24
call 13 4 1
forloop 1 walk
.call base=1 hidelayer "g"
.call base=1 showlayer "a" 70 46
)";
const char* kLayerPlaced = R"(.call base=1 createbrush 12 6 6 16711935
.table 0 { name = "a", transparency = 128 }
.call base=1 displaybrush 12 70 46 r0
.table 0 { name = "b" }
.call base=1 displaybrush 12 11 24 r0
.call base=1 hidelayer "b"
)";
// The sentinel as a layer walked along the bottom edge to its place by the
// script's last moves: it shows only once the moves held for the batch
// reach the window while the script waits.
const char* kWalkedSentinel = R"(.call base=1 createbrush 9 4 4 16776960
.table 0 { name = "s" }
.call base=1 displaybrush 9 0 60 r0
loadk 1 #0
loadk 2 #92
loadk 3 #4
sentinel:
getglobal 13 "showlayer"
loadk 14 "s"
copy 15 1
loadk 16 #60
call 13 4 1
forloop 1 sentinel
)";

// Three rows of half transparent layers (teal, 10 x 10, 9 pixels apart)
// under the walked layers: enough layers for the redraw to find them
// through its index instead of walking the stack.
const char* kStaticStack = R"(.call base=1 createbrush 14 10 10 32896
.table 0 { transparency = 96 }
loadk 4 #18
loadk 5 #44
loadk 6 #13
rows:
loadk 1 #0
loadk 2 #90
loadk 3 #9
columns:
getglobal 13 "displaybrush"
loadk 14 #14
copy 15 1
copy 16 4
copy 17 0
call 13 5 1
forloop 1 columns
forloop 4 rows
)";
// The stack's brush drawn into (a blue square in its corner), then layer a
// walked along the second row: the moves redraw the stack as it is now.
const char* kRepaintWalk = R"(.call base=1 selectbrush 14
.call base=1 setfillstyle 1
.call base=1 box 0 0 5 5 255
.call base=1 endselect
loadk 1 #0
loadk 2 #40
loadk 3 #1
again:
getglobal 13 "showlayer"
loadk 14 "a"
copy 15 1
loadk 16 #31
call 13 4 1
forloop 1 again
)";
const char* kLayers = ".call base=1 enablelayers\n";
const char* kDoubleBuffer = ".call base=1 begindoublebuffer\n";
const char* kFlip = ".call base=1 flip\n";
// A Flip, then so many small draws that the last Flip sends the whole
// back buffer: it must still hold what the first Flip showed.
const char* kFlipsThenMany = R"(.call base=1 flip
loadk 1 #1
loadk 2 #1030
loadk 3 #1
many:
.call base=4 box 0 0 1 1 0
forloop 1 many
)";

const Kind kKinds[] = {
    {"layers off", "", kSprite, "", 1, false},
    {"layers on", kLayers, kLayerOnly, "", 1, false},
    {"scaled, layers off", "", kSprite, "", 2, false},
    {"scaled, layers on", kLayers, kLayerOnly, "", 2, false},
    {"double buffer", kDoubleBuffer, "", kFlip, 1, false},
    {"scaled, double buffer", kDoubleBuffer, "", kFlip, 2, false},
    {"double buffer, flipped between draws", kDoubleBuffer, kFlipsThenMany, kFlip, 1, false},
    {"layers on, walked", kLayers, kLayerWalk, "", 1, false},
    {"adapter, layers off", "", kSprite, "", 1, true},
    {"adapter, layers on", kLayers, kLayerOnly, "", 1, true},
};

class ShowOnce : public PlayerTest {
 protected:
  // Runs the kind's applet and grabs its window (R G B bytes, the display's
  // size times the scale) once the sentinel shows.
  // body: the drawing; clicks: display points clicked, in order, before
  // the click that ends the applet; waits: the events it waits for.
  std::string Shoot(const Kind& k, const std::string& extra, const std::string& body = kHalfStrength,
                    const std::vector<std::pair<int, int>>& clicks = {}, int waits = 1,
                    const std::string& out = "done\n") {
    const int w = kWidth * k.scale, h = kHeight * k.scale;
    std::string display = "width = 96, height = 64, title = \"showonce\"";
    if (k.scale != 1) display += ", scalemode = 1, scalewidth = 192, scaleheight = 128";
    const std::string text = std::string(R"(.function onmouse
  .params 1
  ret
.end
.defun OnMouse onmouse
.line 1
.table 0 { )") + display + " }\n.call base=1 setdisplayattributes r0\n" + k.setup +
                             body + extra + sentinel_ + k.finish +
                             ".table 0 { onmousedown = $OnMouse }\n.call base=1 installeventhandler r0\n";
    std::string tail;
    for (int i = 0; i < waits; ++i) tail += ".call base=1 waitevent\n";
    tail += ".call base=1 debugprint \"done\"";
    std::string pixels;
    RunOptions options;
    options.timeoutSeconds = 30;
    options.env = env_;
    options.whileRunning = [&](pid_t player, const std::string& name) {
      const std::string id = vlplayer::WaitForWindow(name, "showonce");
      if (id.empty()) return;
      const size_t at = (static_cast<size_t>(60 * k.scale + 1) * w + 92 * k.scale + 1) * 3;
      const std::string yellow("\xFF\xFF\0", 3);
      for (int i = 0; i < 100; ++i) {
        pixels = Tool("import -window " + id + " -depth 8 rgb:-");
        if (pixels.size() == static_cast<size_t>(w) * h * 3 && pixels.compare(at, 3, yellow) == 0) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
      if (shown_) shown_(player);
      for (const auto& [x, y] : clicks) {
        Tool("xdotool mousemove --window " + id + " " + std::to_string(x * k.scale) + " " +
             std::to_string(y * k.scale) + " click 1");
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
      }
      Tool("xdotool mousemove --window " + id + " 4 4 click 1");
    };
    std::vector<std::string> args = {Applet("showonce", text + tail)};
    if (k.adapter) {
      // A copy of the player beside the plug-in (its "_" keeps it out of
      // the start-up scan), loaded as a start-up plug-in.
      if (program_.empty()) {
        program_ = WriteFile("vellamora-player", ReadFile(VL_PLAYER_PATH));
        chmod(program_.c_str(), 0755);
        WriteFile("_xadapter.vlp", ReadFile(VL_XADAPTER_PATH));
      }
      options.program = program_;
      options.env.push_back("VL_XADAPTER_OWNS=1");
      args.insert(args.begin(), {"-requireplugins", "xadapter"});
    }
    Result r = Run(args, options);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out, out);
    EXPECT_EQ(pixels.size(), static_cast<size_t>(w) * h * 3);
    lastErr_ = r.err;
    return pixels;
  }

  std::vector<std::string> env_;          // more environment for the player
  std::string sentinel_ = kSentinel;     // shown after the drawing
  std::function<void(pid_t)> shown_;     // runs once the sentinel shows
  std::string lastErr_;                  // standard error of the last run

 private:
  std::string program_;
};

// The brightest channel c (0 red, 1 green, 2 blue) in a display rectangle.
int Brightest(const std::string& p, int scale, int c, int x, int y, int w, int h) {
  const int stride = kWidth * scale;
  int most = 0;
  for (int yy = y * scale; yy < (y + h) * scale; ++yy)
    for (int xx = x * scale; xx < (x + w) * scale; ++xx) {
      const size_t at = (static_cast<size_t>(yy) * stride + xx) * 3 + c;
      if (at < p.size()) most = std::max(most, static_cast<int>(static_cast<unsigned char>(p[at])));
    }
  return most;
}

// The colour at the middle of a display pixel, as 0xRRGGBB.
unsigned Colour(const std::string& p, int scale, int x, int y) {
  const size_t at = (static_cast<size_t>(y * scale + scale / 2) * kWidth * scale + x * scale + scale / 2) * 3;
  if (at + 3 > p.size()) return 0xDEADu;
  auto b = [&](int i) { return static_cast<unsigned>(static_cast<unsigned char>(p[at + i])); };
  return b(0) << 16 | b(1) << 8 | b(2);
}

TEST_F(ShowOnce, SpritesWalkedInALoopEndAsPlacedOnce) {
  for (const Kind& k : {kKinds[0], kKinds[2]}) {
    SCOPED_TRACE(k.name);
    const std::string placed = Shoot(k, std::string(kSprite) + kReadSprite, kHalfStrength, {}, 1, "16711935\ndone\n");
    const std::string walked =
        Shoot(k, std::string(kSpriteWalk) + kReadSprite, kHalfStrength, {}, 1, "16711935\ndone\n");
    EXPECT_FALSE(placed.empty());
    EXPECT_TRUE(walked == placed) << "the walked sprites left another picture";
  }
}

TEST_F(ShowOnce, LayersWalkedInALoopEndAsPlacedOnce) {
  for (const Kind& k : {kKinds[1], kKinds[3]}) {
    SCOPED_TRACE(k.name);
    const std::string placed = Shoot(k, kLayerPlaced);
    // Layer a at half strength over black: once, not twice.
    const unsigned a = Colour(placed, k.scale, 72, 48);
    EXPECT_TRUE(a >> 16 >= 120 && a >> 16 <= 136 && (a & 0xFF) == a >> 16 && (a & 0xFF00) == 0) << std::hex << a;
    const std::string walked = Shoot(k, kLayerWalk);
    EXPECT_FALSE(placed.empty());
    EXPECT_TRUE(walked == placed) << "the walked layers left another picture";
    sentinel_ = kWalkedSentinel;
    const std::string last = Shoot(k, kLayerWalk);
    sentinel_ = kSentinel;
    EXPECT_TRUE(last == placed) << "the last moves did not reach the window while the script waits";
  }
}

// The walk over a stack of many layers: the window after the moves (the
// script waiting) is the one the redraw gives walking the whole stack each
// time, and the one placing the layers once gives.
TEST_F(ShowOnce, LayersWalkedOverAStaticStackShowWhatTheFullWalkShows) {
  for (const Kind& k : {kKinds[1], kKinds[3]}) {
    SCOPED_TRACE(k.name);
    // The sentinel walked last: the window shows it only once the redraws
    // of the script's last moves found it where it went.
    sentinel_ = kWalkedSentinel;
    const std::string indexed = Shoot(k, std::string(kStaticStack) + kLayerWalk);
    env_ = {"VL_TEST_LAYERS=walk"};
    const std::string walkedAll = Shoot(k, std::string(kStaticStack) + kLayerWalk);
    env_.clear();
    sentinel_ = kSentinel;
    const std::string placed = Shoot(k, std::string(kStaticStack) + kLayerPlaced);
    ASSERT_FALSE(indexed.empty());
    EXPECT_TRUE(indexed == walkedAll) << "the index showed another picture than the walk";
    EXPECT_TRUE(indexed == placed) << "the walked layers left another picture";
    // Moves after a command drew into the pictures of the still layers.
    sentinel_ = kWalkedSentinel;
    const std::string repainted = Shoot(k, std::string(kStaticStack) + kLayerWalk + kRepaintWalk);
    env_ = {"VL_TEST_LAYERS=walk"};
    const std::string repaintedAll = Shoot(k, std::string(kStaticStack) + kLayerWalk + kRepaintWalk);
    env_.clear();
    sentinel_ = kSentinel;
    EXPECT_TRUE(repainted == repaintedAll) << "moves after a change below them showed what was before";
    EXPECT_FALSE(repainted == indexed) << "the brush drawn into did not show";
    // The stack shows: teal at 96/255 over black beside the walked layers.
    const unsigned teal = Colour(indexed, k.scale, 1, 19);
    EXPECT_TRUE((teal >> 16) == 0 && ((teal >> 8) & 0xFF) >= 40 && ((teal >> 8) & 0xFF) <= 100 &&
                (teal & 0xFF) == ((teal >> 8) & 0xFF))
        << std::hex << teal;
  }
}

TEST_F(ShowOnce, EveryObjectReachesTheWindowOnceOnEveryDisplayKind) {
  for (const Kind& k : kKinds) {
    SCOPED_TRACE(k.name);
    const std::string p = Shoot(k, k.extra);
    if (p.empty()) continue;
    const int s = k.scale;
    // Half strength: 127 or 128 by rounding, never 64 (twice) or 0.
    auto half = [](int v) { return v >= 120 && v <= 136; };
    EXPECT_PRED1(half, Brightest(p, s, 0, 4, 4, 12, 12)) << "brush";
    EXPECT_EQ(Colour(p, s, 30, 10), 0x00FF00u) << "anim frame";
    EXPECT_PRED1(half, Brightest(p, s, 1, 42, 4, 12, 12)) << "half-transparent anim frame";
    EXPECT_EQ(Colour(p, s, 60, 10), 0xFF00FFu) << "inverted anim frame";
    EXPECT_PRED1(half, Brightest(p, s, 0, 2, 22, 46, 20)) << "text object";
    EXPECT_PRED1(half, Brightest(p, s, 0, 50, 22, 44, 20)) << "printed text";
    EXPECT_PRED1(half, Brightest(p, s, 2, 4, 46, 12, 12)) << "box";
    EXPECT_PRED1(half, Brightest(p, s, 1, 34, 57, 20, 3)) << "line";
    EXPECT_EQ(Colour(p, s, 22, 46), 0xFF8000u) << "opaque box";
    EXPECT_EQ(Colour(p, s, 1, 1), 0u);  // the background stays black
    EXPECT_PRED1(half, Brightest(p, s, 0, 76, 4, 12, 12)) << "BGPic part";
    if (k.extra == kLayerOnly) {
      EXPECT_EQ(Colour(p, s, 33, 47), 0x00FFFFu) << "created layer";
      EXPECT_EQ(Colour(p, s, 45, 47), 0x00FFFFu) << "inserted layer";
    }
    if (k.extra == kSprite) {
      EXPECT_EQ(Colour(p, s, 72, 48), 0xFF00FFu) << "sprite above the brush";
      EXPECT_EQ(Colour(p, s, 67, 43), 0xFFFFFFu) << "brush";
    }
  }
}

// The System V segments a process made, and how many of them the X server
// maps now (the last process to attach one was the server).
struct Segments {
  int made = 0, mapped = 0;
};
Segments SegmentsOf(const std::string& ipcsOutput, pid_t creator, pid_t server) {
  Segments n;
  std::istringstream lines(ipcsOutput);
  std::string line;
  while (std::getline(lines, line)) {
    long id = 0, cpid = 0, lpid = 0;
    char owner[64];
    if (std::sscanf(line.c_str(), "%ld %63s %ld %ld", &id, owner, &cpid, &lpid) != 4 || cpid != creator) continue;
    n.made++;
    if (lpid == server) n.mapped++;
  }
  return n;
}

// Pictures reach the window through shared memory when the server offers
// it, through the socket when it does not or when it refuses the segment
// (as a server on another host would): the windows hold the same bytes, on
// screens of 4 and of 2 bytes a pixel.
class Transports : public ShowOnce, public testing::WithParamInterface<int> {
 protected:
  Transports() { depth_ = GetParam(); }
};

TEST_P(Transports, SharedMemoryAndTheSocketShowTheSameWindows) {
  if (XServerPid() <= 0) GTEST_SKIP() << "needs a private Xvfb";
  std::vector<const Kind*> kinds;
  for (const Kind& k : kKinds)
    if (!k.adapter) kinds.push_back(&k);
  // Drawn once the window is up, so the small rectangles of the objects
  // reach it one by one rather than in the first whole-window refresh.
  const std::string body = std::string(".call base=1 wait 25\n") + kHalfStrength;
  std::vector<std::string> shared;
  Segments seen;
  shown_ = [&](pid_t player) { seen = SegmentsOf(Tool("ipcs -m -p"), player, XServerPid()); };
  for (const Kind* k : kinds) {
    SCOPED_TRACE(k->name);
    seen = {};
    shared.push_back(Shoot(*k, k->extra, body));
    EXPECT_GE(seen.mapped, 1) << "the server maps none of the player's segments";
  }
  // A refused attach: segments are made, the server maps none, the error
  // it answers is expected and not reported, and the pictures still come.
  env_ = {"VL_TEST_SHM_REFUSE=1"};
  for (size_t i = 0; i < kinds.size(); ++i) {
    SCOPED_TRACE(kinds[i]->name);
    seen = {};
    EXPECT_EQ(Shoot(*kinds[i], kinds[i]->extra, body), shared[i]);
    EXPECT_EQ(seen.mapped, 0);
    EXPECT_EQ(lastErr_.find("X error"), std::string::npos) << lastErr_;
  }
  env_.clear();
  ASSERT_TRUE(RestartXServer({"-extension", "MIT-SHM"}));
  for (size_t i = 0; i < kinds.size(); ++i) {
    SCOPED_TRACE(kinds[i]->name);
    seen = {};
    EXPECT_EQ(Shoot(*kinds[i], kinds[i]->extra, body), shared[i]);
    EXPECT_EQ(seen.made, 0) << "segments made for a server without MIT-SHM";
  }
}

INSTANTIATE_TEST_SUITE_P(Depths, Transports, testing::Values(24, 16));

// Planes reached through their locks on a display whose adapter owns every
// bitmap: plotting into an alpha channel, the brush commands that read or
// change alpha channels and masks, and a layer button's hit test on a
// masked brush.
const char* kPlanes = R"(.function onhit
  .params 1
  .call base=1 debugprint "hit"
  ret
.end
.defun OnHit onhit
.call base=1 createbrush 20 8 8 16711680
.call base=1 setalphaintensity 0
.call base=1 selectalphachannel 20
.call base=1 plot 2 2
.call base=1 endselect
.call base=1 setalphaintensity -1
.call base=1 displaybrush 20 2 2
.call base=1 createbrush 21 8 8 16711680
.call base=1 changebrushtransparency 21 30
.call base=1 writebrushpixel 21 3 3 65280 0
.call base=1 invertalphachannel 21
.call base=1 displaybrush 21 12 2
.call base=1 readbrushpixel 21 3 3 -> _ alpha
.call base=1 debugprint $alpha
.call base=1 trimbrush 21 -> tx ty
.call base=1 debugprint $tx $ty
.call base=1 displaybrush 21 22 2
.call base=1 createbrush 23 8 8 255
.call base=1 changebrushtransparency 23 30
.call base=1 writebrushpixel 23 0 0 255 0
.call base=1 changebrushtransparency 23 28
.call base=1 displaybrush 23 32 2
.call base=1 brushtorgbarray 23 -> rgb
getglobal 1 "rgb"
getfield 2 1 #0
getfield 3 1 #1
setglobal 2 "first"
setglobal 3 "second"
.call base=1 debugprint $first $second
)";

// A layer button over a brush whose left half is masked out.
const char* kButton = R"(.call base=1 createbrush 24 16 16 16711680
.call base=1 setfillstyle 1
.call base=1 selectbrush 24
.call base=1 box 0 0 8 16 0
.call base=1 endselect
.call base=1 setbrushtransparency 24 0
.table 0 { name = "hit" }
.call base=1 displaybrush 24 40 30 r0
.table 0 { onmousedown = $OnHit }
.call base=1 makebutton 1 1 "hit" 0 0 r0
)";

TEST_F(ShowOnce, PlanesGoThroughTheirLocksOnAnAdapterDisplay) {
  for (const Kind& k : kKinds) {
    if (!k.adapter) continue;
    SCOPED_TRACE(k.name);
    const bool layers = k.extra == kLayerOnly;
    std::string out = "255\n3 3\n255 4278190335\n";
    // With layers, a click on the masked-out half and one on the red half:
    // only the second reaches the button.
    const std::string p = layers ? Shoot(k, "", std::string(kPlanes) + kButton, {{42, 37}, {52, 37}}, 4,
                                         out + "hit\ndone\n")
                                 : Shoot(k, "", kPlanes, {}, 1, out + "done\n");
    if (p.empty()) continue;
    EXPECT_EQ(Colour(p, 1, 3, 3), 0xFF0000u) << "alpha channel";
    EXPECT_EQ(Colour(p, 1, 4, 4), 0u) << "the plotted pixel is clear";
    EXPECT_EQ(Colour(p, 1, 15, 5), 0x00FF00u) << "written pixel, alpha inverted";
    EXPECT_EQ(Colour(p, 1, 14, 5), 0u) << "the rest inverted to clear";
    EXPECT_EQ(Colour(p, 1, 22, 2), 0x00FF00u) << "trimmed to the pixel";
    EXPECT_EQ(Colour(p, 1, 23, 2), 0u) << "trimmed to the pixel";
    EXPECT_EQ(Colour(p, 1, 32, 2), 0u) << "mask from the alpha channel";
    EXPECT_EQ(Colour(p, 1, 33, 2), 0x0000FFu) << "mask from the alpha channel";
    if (layers) {
      EXPECT_EQ(Colour(p, 1, 42, 37), 0u) << "masked-out half";
      EXPECT_EQ(Colour(p, 1, 52, 37), 0xFF0000u) << "red half";
    }
  }
}

// What waits in the batch of puts and held sprite moves reaches the window
// before the script waits on something else, and before the window goes.
class HeldFrames : public PlayerTest {
 protected:
  // The window "held" grabbed (R G B bytes) well into the run of a
  // program that the script starts after its drawing.
  std::string GrabWhileAProgramRuns(const std::string& drawing);
  // The same well into a wait that follows the drawing and begins once the
  // folder blocked() exists; release(player) then ends the wait.
  std::string GrabWhileBlocked(const std::string& text, RunOptions options, const std::function<void(pid_t)>& release,
                               Result* result);
  std::string blocked() const { return dir() + "/blocked"; }
};

// A display, then a sprite shown and settled, then a brush and a move of the sprite that
// stay held until something sends them.
const char* kHeldDisplay = R"(.table 0 { width = 160, height = 100, title = "held" }
.call base=1 setdisplayattributes r0
)";
const char* kHeldDrawing = R"(.call base=1 createbrush 12 10 10 16711935
.call base=1 createsprite 1 3 12
.call base=1 displaysprite 1 0 0
.call base=1 wait 10
.call base=1 createbrush 5 20 20 65280
.call base=1 displaybrush 5 100 50
.call base=1 displaysprite 1 40 40
)";

// The colour of a pixel of a 160 pixel wide R G B grab, as 0xRRGGBB.
unsigned HeldPixel(const std::string& p, int x, int y) {
  const size_t at = (static_cast<size_t>(y) * 160 + x) * 3;
  if (at + 3 > p.size()) return 0xDEADu;
  auto b = [&](int i) { return static_cast<unsigned>(static_cast<unsigned char>(p[at + i])); };
  return b(0) << 16 | b(1) << 8 | b(2);
}

void ExpectHeldShown(const std::string& p) {
  EXPECT_EQ(p.size(), 160u * 100 * 3);
  EXPECT_EQ(HeldPixel(p, 42, 42), 0xFF00FFu) << "the sprite where it moved";
  EXPECT_EQ(HeldPixel(p, 2, 2), 0u) << "the sprite where it was";
  EXPECT_EQ(HeldPixel(p, 105, 55), 0x00FF00u) << "the brush";
}

std::string HeldFrames::GrabWhileBlocked(const std::string& text, RunOptions options,
                                         const std::function<void(pid_t)>& release, Result* result) {
  std::string pixels;
  options.whileRunning = [&](pid_t player, const std::string& display) {
    const std::string id = vlplayer::WaitForWindow(display, "held");
    for (int i = 0; i < 1000 && access(blocked().c_str(), F_OK) != 0; ++i) usleep(10000);
    usleep(500000);  // well into the wait
    if (!id.empty()) pixels = Tool("timeout 20 import -window " + id + " -depth 8 rgb:-");
    release(player);
  };
  // Errors on standard output, where a test sees them.
  *result = Run({"-debugdevice", "console", Applet("blocked", ".line 1\n" + text)}, options);
  return pixels;
}

std::string HeldFrames::GrabWhileAProgramRuns(const std::string& drawing) {
  // No extension: a name like a document would go to the desktop opener.
  const std::string nap = WriteFile("nap", "#!/bin/sh\nmkdir " + vlplayer::Quote(blocked()) + "\nsleep 3\n");
  chmod(nap.c_str(), 0755);
  Result r;
  std::string pixels = GrabWhileBlocked(drawing + ".call base=1 execute \"" + nap + "\"\n", {}, [](pid_t) {}, &r);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  return pixels;
}

TEST_F(HeldFrames, ShowWhileAProgramRuns) {
  ExpectHeldShown(GrabWhileAProgramRuns(std::string(kHeldDisplay) + kHeldDrawing));
}

// The same while the script waits for a line: DebugPrompt with standard
// input a pipe that stays empty (an end signal ends the wait), and
// ReadLine of a FIFO nobody writes to yet (a line ends it).
TEST_F(HeldFrames, ShowWhileAReadWaits) {
  const std::string made = ".call base=1 makedirectory \"" + blocked() + "\"\n";
  RunOptions prompt;
  prompt.holdInput = true;
  Result r;
  ExpectHeldShown(GrabWhileBlocked(std::string(kHeldDisplay) + kHeldDrawing + made +
                                       ".call base=1 debugprompt \"?\" -> l\n.call base=1 debugprint \"read\" $l\n",
                                   prompt, [](pid_t player) { kill(player, SIGTERM); }, &r));
  EXPECT_EQ(r.status, -SIGTERM) << r.out << r.err;
  EXPECT_EQ(r.out, "?") << "the wait ended with the run, reading nothing";

  rmdir(blocked().c_str());
  const std::string fifo = dir() + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // Open at both ends here, so that the player's open finds a writer: its
  // read waits.
  const int writer = open(fifo.c_str(), O_RDWR);
  ASSERT_GE(writer, 0);
  ExpectHeldShown(GrabWhileBlocked(std::string(kHeldDisplay) + kHeldDrawing + made + ".call base=1 openfile 1 \"" +
                                       fifo + "\"\n.call base=1 readline 1 -> l\n.call base=1 debugprint $l\n",
                                   {}, [&](pid_t) { EXPECT_EQ(write(writer, "a line\n", 7), 7); }, &r));
  close(writer);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "a line\n");
}

// A FIFO with no one at its other end yet, read whole or opened to write:
// the open waits as the reads do, with what is held shown; the other end
// coming ends the wait, and so does an end signal.
TEST_F(HeldFrames, ShowWhileAFifoWaitsForItsOtherEnd) {
  const std::string fifo = dir() + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string drawn = std::string(kHeldDisplay) + kHeldDrawing + ".call base=1 makedirectory \"" + blocked() +
                            "\"\n";
  const std::string reads = drawn + ".call base=1 filetostring \"" + fifo + "\" -> t\n.call base=1 debugprint $t\n";
  const std::string writes = drawn + ".call base=1 openfile 1 \"" + fifo +
                             "\" 1006\n.call base=1 writeline 1 \"to the reader\"\n.call base=1 closefile 1\n"
                             ".call base=1 debugprint \"written\"\n";
  Result r;
  ExpectHeldShown(GrabWhileBlocked(reads, {}, [&](pid_t) { std::ofstream(fifo) << "from the test"; }, &r));
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "from the test\n");
  std::string read;
  rmdir(blocked().c_str());
  ExpectHeldShown(GrabWhileBlocked(writes, {}, [&](pid_t) {
    std::ifstream in(fifo);
    read.assign(std::istreambuf_iterator<char>(in), {});
  }, &r));
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "written\n");
  EXPECT_EQ(read, "to the reader\n");
  for (const std::string* text : {&reads, &writes}) {
    rmdir(blocked().c_str());
    ExpectHeldShown(GrabWhileBlocked(*text, {}, [](pid_t player) { kill(player, SIGTERM); }, &r));
    EXPECT_EQ(r.status, -SIGTERM) << r.out << r.err;
    EXPECT_EQ(r.out, "");
  }
}

// Frames of two whole-window brushes large enough to be shown from their
// own shared memory, as an unpaced loop shows them, the last one being
// brush 1: the window holds that one, not the one before, while a program
// runs after the loop.
std::string UnpacedFrames() {
  std::string text = ".table 0 { width = 640, height = 480, title = \"held\" }\n"
                     ".call base=1 setdisplayattributes r0\n"
                     ".call base=1 createbrush 1 640 480 2113632\n"
                     ".call base=1 createbrush 2 640 480 16744448\n";
  for (int frame = 0; frame < 41; ++frame)
    text += ".call base=1 displaybrush " + std::to_string(1 + frame % 2) + " 0 0\n";
  return text;
}

void ExpectLastFrame(const std::string& p) {
  ASSERT_EQ(p.size(), 640u * 480 * 3);
  size_t wrong = 0;
  for (size_t i = 0; i < p.size(); i += 3)
    wrong += !(static_cast<unsigned char>(p[i]) == 0x20 && static_cast<unsigned char>(p[i + 1]) == 0x40 &&
               static_cast<unsigned char>(p[i + 2]) == 0x60);
  EXPECT_EQ(wrong, 0u) << "pixels not of the last frame";
}

TEST_F(HeldFrames, TheLastOfUnpacedFramesShowsWhileAProgramRuns) {
  ExpectLastFrame(GrabWhileAProgramRuns(UnpacedFrames()));
}

// Keeps what a window shows after it is gone: the window is redirected
// off screen and its picture named, which the server keeps for this
// connection after the window is destroyed.
class LastPicture {
 public:
  explicit LastPicture(const std::string& display) : x_(XOpenDisplay(display.c_str())) {}
  ~LastPicture() {
    if (x_) XCloseDisplay(x_);
  }
  bool Keep(const std::string& windowId) {
    int event = 0, error = 0;
    if (!x_ || !XCompositeQueryExtension(x_, &event, &error)) return false;
    const Window w = std::stoul(windowId);
    XCompositeRedirectWindow(x_, w, CompositeRedirectAutomatic);
    picture_ = XCompositeNameWindowPixmap(x_, w);
    XSync(x_, False);
    return picture_ != 0;
  }
  // R G B bytes of the top-left width x height pixels.
  std::string Pixels(int width, int height) {
    std::string rgb;
    if (!picture_) return rgb;
    XImage* image = XGetImage(x_, picture_, 0, 0, width, height, AllPlanes, ZPixmap);
    if (!image) return rgb;
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        const unsigned long p = XGetPixel(image, x, y);
        rgb += static_cast<char>(p >> 16 & 0xFF);
        rgb += static_cast<char>(p >> 8 & 0xFF);
        rgb += static_cast<char>(p & 0xFF);
      }
    XDestroyImage(image);
    return rgb;
  }

 private:
  Display* x_;
  Pixmap picture_ = 0;
};

// The script's last drawing reaches the window before it closes, when the
// script ends and when it ends with an error; so does the last of unpaced
// whole-window frames.
TEST_F(HeldFrames, ShowBeforeTheWindowCloses) {
  const std::string error = ".line 20\n.call base=1 loadbrush 9 \"missing.png\"\n";
  const std::string frames = UnpacedFrames();
  struct Case {
    const char* name;
    std::string display, drawing, end;
  } cases[] = {
      {"normal end", kHeldDisplay, kHeldDrawing, ""},
      {"error end", kHeldDisplay, kHeldDrawing, error},
      {"unpaced frames", frames.substr(0, frames.find("\n.call base=1 createbrush") + 1), frames, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string kept = dir() + "/kept";
    rmdir(kept.c_str());
    const std::string text = ".line 1\n" + c.display + vlplayer::WaitUntilFileExists(kept, "kept") + c.drawing + c.end;
    std::unique_ptr<LastPicture> last;
    bool keeping = false;
    RunOptions options;
    options.quietAndTemp = false;  // the error end shows its box
    options.whileRunning = [&](pid_t, const std::string& display) {
      const std::string id = vlplayer::WaitForWindow(display, "held");
      last = std::make_unique<LastPicture>(display);
      keeping = !id.empty() && last->Keep(id);
      mkdir(kept.c_str(), 0755);
      if (!c.end.empty()) {
        // The error's message box; the window has gone before it shows.
        const std::string box = vlplayer::WaitForWindow(display, "VellamoraPlayer", 30000);
        if (!box.empty()) Tool("xdotool windowfocus --sync " + box + " key Return");
      }
    };
    Result r = Run({"-tempdir", temp(), Applet("end", text)}, options);
    EXPECT_EQ(r.status != 0, !c.end.empty()) << r.out << r.err;
    ASSERT_TRUE(keeping) << "no Composite extension";
    if (c.drawing == frames)
      ExpectLastFrame(last->Pixels(640, 480));
    else
      ExpectHeldShown(last->Pixels(160, 100));
  }
}

// Grabs of a window from a connection of the test's own.
class WindowGrab {
 public:
  WindowGrab(const std::string& display, const std::string& windowId)
      : x_(XOpenDisplay(display.c_str())), window_(windowId.empty() ? 0 : std::stoul(windowId)) {}
  ~WindowGrab() {
    if (x_) XCloseDisplay(x_);
  }
  // 0xRRGGBB pixels of the top-left width x height; empty on failure.
  std::vector<unsigned> Pixels(int width, int height) {
    std::vector<unsigned> out;
    if (!x_ || !window_) return out;
    XImage* image = XGetImage(x_, window_, 0, 0, width, height, AllPlanes, ZPixmap);
    if (!image) return out;
    out.reserve(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) out.push_back(static_cast<unsigned>(XGetPixel(image, x, y) & 0xFFFFFF));
    XDestroyImage(image);
    return out;
  }

 private:
  Display* x_;
  Window window_;
};

// A move or transition that paces its own frames sends each frame at the
// end of its step: grabbed while the command runs, the window shows the
// object going along; grabbed while the script is blocked right after the
// command (opening a pipe, which sends nothing to the window), it shows
// the last frame, not the one before it.
TEST_F(HeldFrames, PacedFramesReachTheWindowAtTheEndOfTheirStep) {
  struct Case {
    const char* name;
    const char* script;
    // The state a grab shows (a position or a level), -1 for none.
    std::function<int(const std::vector<unsigned>&)> state;
    std::function<bool(const std::vector<unsigned>&)> final;
  };
  // The left edge of the red object on row 45.
  auto redAt = [](const std::vector<unsigned>& p) {
    for (int x = 0; x < 160; ++x)
      if (p[45 * 160 + x] == 0xFF0000u) return x;
    return -1;
  };
  // The 10 pixel object at 130, the end of the way.
  auto atEnd = [&](const std::vector<unsigned>& p) {
    return redAt(p) == 130 && p[45 * 160 + 139] == 0xFF0000u && p[45 * 160 + 140] == 0u;
  };
  const Case cases[] = {
      // 120 pixels at one a frame: two seconds.
      {"movebrush", ".call base=1 createbrush 7 10 10 16711680\n.call base=1 movebrush 7 10 40 130 40 1\n", redAt,
       atEnd},
      // Sprite moves are held to be redrawn together: the last one too
      // must leave with its own frame.
      {"movesprite",
       ".call base=1 createbrush 12 10 10 16711680\n.call base=1 createsprite 1 3 12\n"
       ".call base=1 movesprite 1 10 40 130 40 1\n",
       redAt, atEnd},
      // A layer moved on a display with layers.
      {"movelayer",
       ".call base=1 enablelayers\n.call base=1 setfillstyle 1\n.call base=1 box 10 40 10 10 16711680\n"
       ".call base=1 movelayer 1 10 40 130 40 1\n",
       redAt, atEnd},
      // Levels two apart: 128 frames; the one before the last is 254 red.
      {"crossfade", ".call base=1 createbrush 7 40 30 16711680\n.call base=1 displaybrushfx 7 60 35 115 2\n",
       [](const std::vector<unsigned>& p) {
         const unsigned c = p[45 * 160 + 70];
         return (c & 0xFFFF) == 0 ? static_cast<int>(c >> 16) : -1;
       },
       [](const std::vector<unsigned>& p) {
         for (int y = 35; y < 65; ++y)
           for (int x = 60; x < 100; ++x)
             if (p[y * 160 + x] != 0xFF0000u) return false;
         return p[34 * 160 + 60] == 0u && p[35 * 160 + 100] == 0u;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string go = dir() + "/go", pipe = dir() + "/pipe";
    rmdir(go.c_str());
    unlink(pipe.c_str());
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    const std::string text = std::string(".line 1\n") + kHeldDisplay + vlplayer::WaitUntilFileExists(go, "go") +
                             c.script + ".call base=1 openfile 1 \"" + pipe +
                             "\"\n.call base=1 readline 1\n.call base=1 closefile 1\n";
    std::vector<int> states;
    bool opened = false, final = false, stale = false;
    RunOptions options;
    // A run of grabs every few milliseconds beside many test programs at
    // once: the paced commands then take far longer than alone.
    options.timeoutSeconds = 300;
    options.whileRunning = [&](pid_t player, const std::string& display) {
      using Clock = std::chrono::steady_clock;
      const std::string id = vlplayer::WaitForWindow(display, "held");
      WindowGrab grab(display, id);
      mkdir(go.c_str(), 0755);
      // The script opening the pipe waits in the kernel for a writer
      // (openat, system call 257), where nothing is sent; its read of a
      // line would send what is held. Without the kernel's word on it, the
      // pipe is taken as opened once it has a reader.
      auto inOpen = [&] {
        std::ifstream in("/proc/" + std::to_string(player) + "/syscall");
        long call = -1;
        return (in >> call) ? int(call == 257) : -1;
      };
      int fd = -1;
      // Grabs while the command runs, until the script waits to open the
      // pipe.
      const Clock::time_point openBy = Clock::now() + std::chrono::seconds(200);
      while (!opened && Clock::now() < openBy) {
        const std::vector<unsigned> p = grab.Pixels(160, 100);
        if (p.size() == 160u * 100) states.push_back(c.state(p));
        // Seen there twice: not a quick open of some other file.
        const int blocked = inOpen();
        if (blocked < 0) fd = open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
        if (blocked > 0) {
          usleep(3000);
          opened = inOpen() > 0;
        }
        opened = opened || fd >= 0;
        if (!opened) usleep(3000);
      }
      // The script now waits: nothing more reaches the window until it
      // goes on. The server may still be reading what came before, for
      // seconds on a machine running many test programs at once.
      const Clock::time_point finalBy = Clock::now() + std::chrono::seconds(60);
      while (opened && !final && Clock::now() < finalBy) {
        const std::vector<unsigned> p = grab.Pixels(160, 100);
        final = p.size() == 160u * 100 && c.final(p);
        if (!final) usleep(10000);
      }
      // And it stays so.
      usleep(100000);
      const std::vector<unsigned> p = grab.Pixels(160, 100);
      stale = p.size() != 160u * 100 || !c.final(p);

      if (fd < 0 && opened) fd = open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
      if (fd >= 0) {
        EXPECT_EQ(write(fd, "x\n", 2), 2);
        close(fd);
      }
    };
    Result r = Run({Applet("paced", text)}, options);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    ASSERT_TRUE(opened) << "the script never opened the pipe";
    EXPECT_TRUE(final) << "the window shows a frame before the last";
    EXPECT_FALSE(stale);
    // The object went along while the command ran: many states, in order.
    std::vector<int> seen;
    for (int s : states)
      if (s >= 0) seen.push_back(s);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    std::sort(seen.begin(), seen.end());
    seen.erase(std::unique(seen.begin(), seen.end()), seen.end());
    EXPECT_GE(seen.size(), 15u);
  }
}

// A BGPic's transition to itself on a display without layers, with a box
// drawn on the display and two sprites over it: an opaque one and one of
// blue at half strength. Grabbed again and again while each effect runs,
// the window shows, outside the sprites, only the pictures' greys and the
// effect's green (no sprite travels with the pictures), the opaque sprite
// whole, and the half sprite blended once over a grey or the green (twice,
// it is blue by three quarters). Each effect runs until grabs caught it on
// its way; the last picture is the box under the sprites.
TEST_F(HeldFrames, TransitionFramesDrawTheSpritesOnceOverPicturesWithoutThem) {
  constexpr int kW = 160, kH = 120;
  struct Rect {
    int x, y, w, h;
    bool Has(int px, int py) const { return px >= x && px < x + w && py >= y && py < y + h; }
  };
  constexpr Rect kBox{40, 24, 80, 60}, kRed{62, 38, 10, 10}, kHalf{84, 52, 12, 12};
  // Sliding, scrolling, zooming, crushing, flipping and turning down show
  // the effect on their way; stripes, the clock wipe, the crossfade and the
  // dissolve bring back what was there and show only over the half sprite.
  const std::vector<int> effects = {0,   47,  48,  49,  50,  51,  52,  53,  54,  97,  101, 102, 103, 104, 115,
                                    118, 119, 120, 121, 122, 123, 124, 125, 126, 127, 128, 129, 130, 131, 139};
  auto onTheWay = [](int effect) { return effect != 0 && effect != 97 && effect != 115 && effect != 139; };
  int status = 0;
  const std::string bg = dir() + "/bg.bmp", half = dir() + "/half.png";
  Tool("convert -size 160x120 xc:'#505050' -type TrueColor BMP3:" + vlplayer::Quote(bg), &status);
  ASSERT_EQ(status, 0);
  Tool("convert -size 12x12 xc:'#0000FF80' PNG32:" + vlplayer::Quote(half), &status);
  ASSERT_EQ(status, 0);
  std::string text = ".line 1\n.call base=1 loadbgpic 2 \"" + bg + "\"\n.call base=1 displaybgpic 2\n"
                     ".table 0 { title = \"fx\" }\n.call base=1 setdisplayattributes r0\n"
                     ".call base=1 createbrush 12 10 10 16711680\n.call base=1 createsprite 1 3 12\n"
                     ".table 0 { loadalpha = 1 }\n.call base=1 loadbrush 13 \"" + half + "\" r0\n"
                     ".call base=1 createsprite 2 3 13\n.call base=1 setfillstyle 1\n"
                     ".call base=1 box 40 24 80 60 8421504\n"
                     ".call base=1 displaysprite 1 62 38\n.call base=1 displaysprite 2 84 52\n";
  // The effects start once the window has shown the first picture.
  auto path = [&](const std::string& name) { return dir() + "/" + name; };
  text += ".call base=1 makedirectory \"" + path("ready") + "\"\n" + vlplayer::WaitUntilFileExists(path("go"), "go");
  // "fxN" once effect N (by index) has begun, "in" while its command runs;
  // it runs again until "gotN" is there.
  for (size_t i = 0; i < effects.size(); ++i) {
    const std::string n = std::to_string(i);
    text += ".call base=1 makedirectory \"" + path("fx" + n) + "\"\nagain" + n + ":\n" +
            ".call base=1 makedirectory \"" + path("in") + "\"\n" +
            ".call base=1 displaytransitionfx 2 " + std::to_string(effects[i]) + " -2 65280\n" +
            ".call base=1 deletefile \"" + path("in") + "\"\n" +
            ".call base=1 exists \"" + path("got" + n) + "\" -> e\ngetglobal 0 \"e\"\neq 1 0 #1\njump next" + n +
            "\njump again" + n + "\nnext" + n + ":\n";
  }
  text += ".call base=1 makedirectory \"" + path("end") + "\"\n" +
          vlplayer::WaitUntilFileExists(path("grabbed"), "grabbed");
  // What the window may show: outside the sprites greys and the green;
  // the red sprite whole; the blue one at half strength over a grey
  // (r = g, b = r + 127) or the green. Empty when it does, else the first
  // pixel that is not.
  auto check = [&](const std::vector<unsigned>& p) -> std::string {
    if (p.size() != static_cast<size_t>(kW) * kH) return "no grab";
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) {
        const unsigned c = p[y * kW + x];
        const int r = c >> 16 & 0xFF, g = c >> 8 & 0xFF, b = c & 0xFF;
        bool fine;
        if (kRed.Has(x, y)) fine = c == 0xFF0000u;
        else if (kHalf.Has(x, y))
          fine = (std::abs(r - g) <= 1 && std::abs(b - r - 127) <= 2) ||
                 (r == 0 && std::abs(g - 128) <= 1 && std::abs(b - 127) <= 1);
        else fine = (r == g && g == b) || c == 0x00FF00u;
        if (!fine) {
          char at[64];
          std::snprintf(at, sizeof at, "%06X at %d,%d", c, x, y);
          return at;
        }
      }
    return "";
  };
  // The last picture outside the sprites: the box on the BGPic.
  auto end = [&](int x, int y) { return kBox.Has(x, y) ? 0x808080u : 0x505050u; };
  auto differFromEnd = [&](const std::vector<unsigned>& p) {
    int n = 0;
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) n += !kRed.Has(x, y) && !kHalf.Has(x, y) && p[y * kW + x] != end(x, y);
    return n;
  };
  auto save = [&](const std::vector<unsigned>& p, const std::string& name) {
    std::string ppm = "P6 160 120 255\n";
    for (unsigned c : p) ppm += {static_cast<char>(c >> 16), static_cast<char>(c >> 8), static_cast<char>(c)};
    WriteFile(name, ppm);
  };
  // Per effect: grabs while it ran, those on its way, the most pixels one
  // of them changed (that one kept as "wayN.ppm").
  std::vector<int> during(effects.size()), onWay(effects.size()), farthest(effects.size());
  std::vector<std::string> wrong(effects.size());
  std::vector<unsigned> last;
  bool started = false, ended = false;
  RunOptions options;
  options.timeoutSeconds = 120;
  options.whileRunning = [&](pid_t, const std::string& display) {
    const std::string id = vlplayer::WaitForWindow(display, "fx");
    WindowGrab grab(display, id);
    // The effect running now: its index, or -1.
    auto running = [&] {
      if (access(path("in").c_str(), F_OK) != 0) return -1;
      int i = static_cast<int>(effects.size()) - 1;
      while (i >= 0 && access(path("fx" + std::to_string(i)).c_str(), F_OK) != 0) --i;
      return i;
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    // The first picture (the last one's twin) before the first effect.
    while (!id.empty() && !started && std::chrono::steady_clock::now() < deadline) {
      const std::vector<unsigned> p = grab.Pixels(kW, kH);
      started = access(path("ready").c_str(), F_OK) == 0 && check(p).empty() && differFromEnd(p) == 0;
      if (!started) usleep(10000);
    }
    mkdir(path("go").c_str(), 0755);
    while (started && std::chrono::steady_clock::now() < deadline) {
      if (access(path("end").c_str(), F_OK) == 0) {
        ended = true;
        break;
      }
      const int before = running();
      const std::vector<unsigned> p = grab.Pixels(kW, kH);
      const int i = running();
      if (i < 0 || i != before) continue;
      ++during[i];
      const std::string fault = check(p);
      if (!fault.empty() && wrong[i].empty()) {
        wrong[i] = fault;
        save(p, "wrong" + std::to_string(effects[i]) + ".ppm");
      }
      if (const int changed = differFromEnd(p); changed > 0) {
        ++onWay[i];
        if (changed > farthest[i]) {
          farthest[i] = changed;
          save(p, "way" + std::to_string(effects[i]) + ".ppm");
        }
      }
      if (during[i] >= 10 && (onWay[i] > 0 || !onTheWay(effects[i])))
        mkdir(path("got" + std::to_string(i)).c_str(), 0755);
      usleep(2000);
    }
    // Let a script that never got there end.
    for (size_t i = 0; i < effects.size(); ++i) mkdir(path("got" + std::to_string(i)).c_str(), 0755);
    if (ended) last = grab.Pixels(kW, kH);
    WriteFile("grabbed", "");
  };
  Result r = Run({Applet("spritesfx", text)}, options);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  ASSERT_TRUE(started) << "the window never showed the box under the sprites";
  ASSERT_TRUE(ended) << "the effects did not end in time";
  for (size_t i = 0; i < effects.size(); ++i) {
    SCOPED_TRACE("effect " + std::to_string(effects[i]));
    EXPECT_GE(during[i], 10);
    if (onTheWay(effects[i])) {
      EXPECT_GT(onWay[i], 0) << "never grabbed on its way";
    }
    EXPECT_EQ(wrong[i], "");
  }
  EXPECT_EQ(check(last), "") << "at the end";
  ASSERT_EQ(last.size(), static_cast<size_t>(kW) * kH);
  EXPECT_EQ(differFromEnd(last), 0) << "at the end";
  // Half of blue over the box's 0x80 grey.
  const unsigned over = last[kHalf.y * kW + kHalf.x];
  EXPECT_TRUE(std::abs(static_cast<int>(over >> 16) - 64) <= 1 && std::abs(static_cast<int>(over & 0xFF) - 191) <= 1)
      << std::hex << over;
}

}  // namespace
