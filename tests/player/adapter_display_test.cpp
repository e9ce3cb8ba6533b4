// A display shown through a display-adapter plug-in (tests/player/
// xadapter_plugin.cpp: pictures in its own memory, windows of its own drawn
// with XPutImage) looks the same as on a plain X11 display, and a mouse
// click on the adapter's window reaches the script's handler.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/player/adapter_display_fixture.h"

namespace {

// The fixture, its helpers and the harness's types.
using namespace vlplayer;

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

// An R G B pixel of ffmpeg's blue.
bool Bluish(const std::string& rgb) {
  auto c = [&](int i) { return static_cast<unsigned char>(rgb[i]); };
  return c(0) < 60 && c(1) < 60 && c(2) > 200;
}

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

// Points, lines and boxes drawn on the display itself reach the adapter's
// WritePixel, Line and RectFill (the adapter draws the lines itself, each
// pixel the one nearest the exact line) and the window equals a plain
// display's; the pointer commands reach ShowHidePointer and MovePointer,
// and MouseX and MouseY read the moved pointer back.
TEST_F(AdapterDisplay, DrawingAndPointerCommandsReachTheAdapterEntries) {
  const std::string applet = Applet("adapterdraw", AppletText(R"(.call plot 3 3 16711680
.call plot 5 3 65280
.call line 10 5 40 20 16776960
.call line 10 30 13 60 65535
.call line 90 2 50 12 16711935
.call line 20 40 35 40 16711680
.call base=1 setfillstyle 1
.call box 60 30 10 8 255
.call base=1 setfillstyle 0
.call box 60 45 12 9 16777215
.call hidepointer
.call showpointer
.call movepointer 33 44
.call mousex -> x
.call debugprint $x
.call mousey -> y
.call debugprint $y
.call getattribute 21 1 87 -> device
.call debugprint $device
.call savesnapshot ")" + dir() + R"(/snap.bmp" 0 0
)"));
  // The display's device names itself: the built-in one, or the adapter.
  printed_ = "33\n44\ninbuilt\n";
  const std::string white("\xFF\xFF\xFF", 3);
  const std::string plain = Shoot(applet, nullptr, 71, 53, white);
  ASSERT_EQ(plain.size(), kWidth * kHeight * 3u);
  auto at = [&](int x, int y) { return plain.substr((static_cast<size_t>(y) * kWidth + x) * 3, 3); };
  const std::string black(3, '\0'), red("\xFF\0\0", 3), yellow("\xFF\xFF\0", 3), blue("\0\0\xFF", 3);
  EXPECT_EQ(at(3, 3), red);
  EXPECT_EQ(at(4, 3), black);
  EXPECT_EQ(at(5, 3), std::string("\0\xFF\0", 3));
  // Half-way points of the line of slope 1/2 go down: (11, 6) after
  // (10, 5); the end points are drawn.
  EXPECT_EQ(at(10, 5), yellow);
  EXPECT_EQ(at(11, 6), yellow);
  EXPECT_EQ(at(11, 5), black);
  EXPECT_EQ(at(40, 20), yellow);
  EXPECT_EQ(at(64, 33), blue);
  EXPECT_EQ(at(60, 45), white);
  EXPECT_EQ(at(65, 49), black);
  adapterEnv_ = {"VL_XADAPTER_COUNTS=1"};
  printed_ = "33\n44\nX test adapter\n";
  for (const char* owns : {"0", "1"}) {
    SCOPED_TRACE(std::string("owns every bitmap: ") + owns);
    std::remove(Log(owns).c_str());
    EXPECT_EQ(Differing(plain, Shoot(applet, owns, 71, 53, white)), 0);
    const std::string said = ReadFile(Log(owns));
    EXPECT_EQ(Calls(said, "pixel"), 2) << said;
    EXPECT_EQ(Calls(said, "line"), 4) << said;
    // One fill for the box, four for the frame's sides.
    EXPECT_EQ(Calls(said, "fill"), 5) << said;
    EXPECT_EQ(Calls(said, "hidepointer"), 1) << said;
    EXPECT_EQ(Calls(said, "showpointer"), 1) << said;
    EXPECT_EQ(Calls(said, "movepointer"), 1) << said;
    // The window's snapshot came from the adapter's grab, as the window
    // showed it then (ImageMagick reads the file).
    EXPECT_EQ(Calls(said, "grab"), 1) << said;
    const std::string snap = Tool("convert " + vlplayer::Quote(dir() + "/snap.bmp") + " -depth 8 rgb:-");
    EXPECT_EQ(Differing(plain, snap), 0);
  }
}

// An adapter that owns every picture and offers all six acceleration bits
// draws the pictures itself (blits plain, masked and through an alpha
// plane, fills, points and lines, into brushes and into the display's
// own pictures) and the window equals the plain display's, pixel for
// pixel; without the bits the player draws them.
TEST_F(AdapterDisplay, AcceleratingAdapterDrawsPicturesAsTheSoftwareDoes) {
  int status = 0;
  const std::string half = dir() + "/half.png";
  Tool("convert -size 10x10 xc:'#FF00FF80' -fill '#00FFFF40' -draw 'rectangle 0,0 4,9' PNG32:" +
           vlplayer::Quote(half),
       &status);
  ASSERT_EQ(status, 0);
  // A picture loaded with black transparent: a mask with holes.
  const std::string holed = dir() + "/holed.png";
  Tool("convert -size 8x8 xc:magenta -fill black -draw 'rectangle 0,0 3,7' PNG24:" +
           vlplayer::Quote(holed),
       &status);
  ASSERT_EQ(status, 0);
  const std::string applet = Applet("adapteraccel", AppletText(R"(.call createbrush 8 20 12 16777215
.call selectbrush 8
.call base=1 setfillstyle 1
.call box 2 2 8 6 255
.call plot 15 3 16711680
.call line 0 11 19 0 65280
.call endselect
.call createbrush 4 96 64 8421504
.call displaybrush 4 0 0
.call displaybrush 8 60 2
.table 0 { loadalpha = 1 }
.call base=1 loadbrush 5 ")" + half + R"(" r0
.call displaybrush 5 10 10
.call displaybrush 5 15 14
.table 0 { transparency = 0 }
.call base=1 loadbrush 6 ")" + holed + R"(" r0
.call displaybrush 6 40 10
.call base=1 createsprite 1 3 6
.call displaysprite 1 40 30
.call line 5 60 90 40 16776960
.call line 3 30 3 50 65535
.call plot 50 50 16777215
.call box 30 40 7 5 16711680
.call plot 75 5 16711680
.call freesprite 1
.call enablelayers
.call displaybrush 8 60 30
.table 0 { shadow = 1, shadowcolor = 65280, shadowsize = 3, shadowdir = 4 }
.call base=1 setlayerstyle 1 r0
.call createbrush 9 4 4 16777215
.call displaybrush 9 90 58
)"));
  const std::string red("\xFF\0\0", 3), white("\xFF\xFF\xFF", 3);
  const std::string plain = Shoot(applet, nullptr, 91, 59, white);
  ASSERT_EQ(plain.size(), kWidth * kHeight * 3u);
  auto at = [&](int x, int y) { return plain.substr((static_cast<size_t>(y) * kWidth + x) * 3, 3); };
  // The half-transparent picture over grey, and over itself where the
  // two overlap: mixed, neither colour whole.
  EXPECT_NE(at(17, 16), at(12, 12));
  EXPECT_NE(at(12, 12), std::string("\x80\x80\x80", 3));
  EXPECT_EQ(at(62, 4), std::string("\0\0\xFF", 3));
  EXPECT_EQ(at(75, 5), red);
  // The layer's shadow below it, green blurred toward its edges.
  EXPECT_GT(uint8_t(at(70, 43)[1]), 0xC0);
  EXPECT_LT(uint8_t(at(70, 43)[0]), 0x40);
  for (const char* accel : {"63", "0"}) {
    SCOPED_TRACE(std::string("acceleration bits: ") + accel);
    adapterEnv_ = {"VL_XADAPTER_COUNTS=1", std::string("VL_XADAPTER_ACCEL=") + accel};
    std::remove(Log("1").c_str());
    EXPECT_EQ(Differing(plain, Shoot(applet, "1", 91, 59, white)), 0);
    const std::string said = ReadFile(Log("1"));
    for (const char* form : {"picture blit", "picture masked", "picture alpha", "picture colour", "picture fill",
                             "picture pixel", "picture line"}) {
      if (*accel == '0') EXPECT_EQ(Calls(said, form), 0) << form << "\n" << said;
      else EXPECT_GE(Calls(said, form), 1) << form << "\n" << said;
    }
  }
}

// A scaled display opened again through the adapter hands it the scaled
// size and the smooth flag (OpenDisplay's tags 10 to 12).
TEST_F(AdapterDisplay, ScaledDisplayTellsTheAdapterItsScaledSize) {
  const std::string applet = Applet("adapterscaled", R"(.line 1
.table 0 { width = 96, height = 64, scalemode = 1, scalewidth = 192, scaleheight = 128, smoothscale = 1 }
.call base=1 setdisplayattributes r0
.call closedisplay 1
.call opendisplay 1
.call debugprint "shown"
)");
  Result r = RunOnConsole(applet, "scaled", {});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(ReadFile(Log("scaled")).find("open smooth scaled 192x128\n"), std::string::npos) << ReadFile(Log("scaled"));
}

// Frames drawn into a software double buffer and flipped (each frame
// draws over the one before: the back buffer is owed what the last Flips
// changed), then drawings kept under a sprite and beside it (the front
// copy takes them, owed while no sprite is on the display) and the sprite
// moved away: through the adapter, holding video bitmaps or every bitmap,
// the window equals the plain display's.
TEST_F(AdapterDisplay, DoubleBufferedFramesAndDrawingUnderASpriteShowAsOnAPlainDisplay) {
  const std::string frames = AppletText(R"(.call createbrush 4 96 64 255
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
)");
  const std::string applet = Applet("adapterflip", frames);
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
  // Hardware asked of an adapter that keeps hardware pictures but does not
  // double-buffer: the back buffer is its picture, the frames the same.
  std::string hardware = frames;
  const std::string begin = ".call begindoublebuffer\n";
  hardware.replace(hardware.find(begin), begin.size(), ".call begindoublebuffer 1\n");
  adapterEnv_ = {"VL_XADAPTER_NODRAWBRUSH=1"};
  std::remove(Log("0").c_str());
  EXPECT_EQ(Differing(plain, Shoot(Applet("adapterfliphw", hardware), "0", 91, 59, white)), 0);
  EXPECT_NE(ReadFile(Log("0")).find("video 96x64\n"), std::string::npos) << ReadFile(Log("0"));
}

// Cls while the adapter does the double buffering reaches the adapter's
// clear with the colour, once; the window then shows the frame as the
// software double buffer of a plain display does: red with the green
// brush drawn after the clear, the blue background gone.
TEST_F(AdapterDisplay, ClsInTheAdaptersDoubleBufferClearsItsWindow) {
  const std::string applet = Applet("adaptercls", AppletText(R"(.call createbrush 4 96 64 255
.call displaybrush 4 0 0
.call createbrush 3 8 8 65280
.call begindoublebuffer 1
.call cls 16711680
.call displaybrush 3 10 20
.call flip
)"));
  const std::string red("\xFF\0\0", 3), green("\0\xFF\0", 3);
  const std::string plain = Shoot(applet, nullptr, 95, 63, red);
  ASSERT_EQ(plain.size(), kWidth * kHeight * 3u);
  int reds = 0, greens = 0;
  for (size_t i = 0; i < plain.size(); i += 3) {
    reds += plain.compare(i, 3, red) == 0;
    greens += plain.compare(i, 3, green) == 0;
  }
  EXPECT_EQ(greens, 64);
  EXPECT_EQ(reds, kWidth * kHeight - 64);
  EXPECT_EQ(plain.substr((20u * kWidth + 10) * 3, 3), green);
  adapterEnv_ = {"VL_XADAPTER_COUNTS=1"};
  for (const char* owns : {"0", "1"}) {
    SCOPED_TRACE(std::string("owns every bitmap: ") + owns);
    std::remove(Log(owns).c_str());
    EXPECT_EQ(Differing(plain, Shoot(applet, owns, 95, 63, red)), 0);
    EXPECT_EQ(Calls(ReadFile(Log(owns)), "cls"), 1) << ReadFile(Log(owns));
  }
  // Without the double buffering Cls on the display shows its background.
  adapterEnv_ = {"VL_XADAPTER_COUNTS=1"};
  std::remove(Log("0").c_str());
  const std::string shown = Shoot(Applet("adapterclsplain", AppletText(R"(.call createbrush 4 96 64 255
.call displaybrush 4 0 0
.call cls 16711680
.call createbrush 3 8 8 65280
.call displaybrush 3 10 20
)")), "0", 10, 20, green);
  EXPECT_EQ(shown.substr((5u * kWidth + 5) * 3, 3), std::string(3, '\0'));
  EXPECT_EQ(Calls(ReadFile(Log("0")), "cls"), 0);
  // The adapter's double buffer begun and ended with nothing drawn: the
  // script goes on, the window shows the empty frame and what is drawn
  // after it, as on a plain display.
  const std::string ended = Applet("adapterdbended", AppletText(R"(.call createbrush 4 96 64 255
.call displaybrush 4 0 0
.call begindoublebuffer 1
.call enddoublebuffer
.call createbrush 3 8 8 65280
.call displaybrush 3 10 20
)"));
  const std::string endedPlain = Shoot(ended, nullptr, 10, 20, green);
  EXPECT_EQ(At(endedPlain, 10, 20), green);
  EXPECT_EQ(At(endedPlain, 5, 5), std::string(3, '\0'));  // the black back buffer ended onto it
  EXPECT_EQ(Differing(endedPlain, Shoot(ended, "0", 10, 20, green)), 0);
}

// A video moved and scaled while it plays ends where it was sent, at its
// new size, on the adapter's display as on a plain one; so does a video on
// a layer that is moved.
TEST_F(AdapterDisplay, VideoFollowsItsNewPositionAndSize) {
  const std::string file = Clip("testsrc=", "1");
  if (file.empty()) GTEST_SKIP() << "no ffmpeg";
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

// Under an adapter a video's frames stay as its surface: a paused video
// sought and painted over keeps the frame it was sought to (blue, after a
// red second) on top, as the window's video area keeps it on a plain
// display. On a display the adapter shows at twice its size the frames
// reach the window through a redraw of the video's area alone; a plain
// display at twice its size shows the frames the player scaled where they
// belong, and paints around them. A redraw of the whole display (the video
// put back in its place) draws the frame over the painting again.
TEST_F(AdapterDisplay, APausedVideoPaintedOverKeepsItsFrame) {
  const std::string file = Clip("color=c=red:", "3", "-vf \"geq=r='255*lt(T,1)':g=0:b='255*gte(T,1)'\"");
  if (file.empty()) GTEST_SKIP() << "no ffmpeg";
  const std::string green("\0\xFF\0", 3);
  for (int scale : {1, 2}) {
    const std::string scaling = scale == 1 ? "" : R"(.table 0 { x = 0, y = 0, scalemode = 1, scalewidth = 192, scaleheight = 128 }
.call base=1 setdisplayattributes r0
.call closedisplay 1
.call opendisplay 1
)";
    const std::string applet = Applet("adapterpaused", AppletText(scaling + ".call openvideo 1 \"" + file + R"("
.call playvideo 1 10 20
.call wait 10
.call pausevideo 1
.call seekvideo 1 2000
.call createbrush 3 96 64 65280
.call displaybrush 3 0 0
.call setvideoposition 1 10 20
)"));
    const int w = kWidth * scale, h = kHeight * scale;
    for (const char* owns : {static_cast<const char*>(nullptr), "0"}) {
      SCOPED_TRACE(std::string(owns ? "adapter" : "plain") + " scaled " + std::to_string(scale));
      // The frame sought while paused may reach the window after the
      // green brush (on a busy machine); the grab waits for a blue corner.
      const std::string shown = Shoot(applet, owns, 1, 1, green, w, h, [&](const std::string& pixels) {
        return Bluish(pixels.substr((static_cast<size_t>(20) * scale * w + 10 * scale) * 3, 3));
      });
      ASSERT_EQ(shown.size(), size_t(w) * h * 3u);
      auto at = [&](int x, int y) { return shown.substr((static_cast<size_t>(y) * scale * w + x * scale) * 3, 3); };
      int covered = 0;
      for (int y = 20; y < 28; ++y)
        for (int x = 10; x < 26; ++x) covered += Bluish(at(x, y));
      EXPECT_EQ(covered, 16 * 8);
      // Nowhere else: the window shows the frame once, at its scale.
      int blue = 0;
      for (size_t i = 0; i < shown.size(); i += 3) blue += Bluish(shown.substr(i, 3));
      EXPECT_EQ(blue, 16 * 8 * scale * scale);
      EXPECT_EQ(at(26, 20), green);
      EXPECT_EQ(at(10, 28), green);
    }
  }
}

// A hardware brush scaled, copied and rotated: an adapter that offers to
// scale and transform its pictures makes each result itself (its log names
// them) and one that does not leaves them to the player; either way the
// window shows what a plain display shows: the player reads the adapter's
// pictures through its read-pixels entry and hands each read back.
TEST_F(AdapterDisplay, AdapterScalesCopiesAndTransformsItsPictures) {
  // A hardware brush red, with a blue left half drawn into it by the adapter.
  auto hardwareBrush = [](const char* id) {
    const std::string n(id);
    return ".table 0 { hardware = 1 }\n.call base=1 createbrush " + n + " 10 6 16711680 r0\n.call selectbrush " + n +
           "\n.call base=1 setfillstyle 1\n.call box 0 0 5 6 255\n.call endselect\n";
  };
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
)" + hardwareBrush("6") + R"(.call scalebrush 6 20 12
.call displaybrush 6 4 34
)" + hardwareBrush("7") + R"(.call rotatebrush 7 90
.call displaybrush 7 60 30
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
  // The hardware brushes, scaled and turned the same way.
  EXPECT_EQ(at(plain, 5, 35), blue);
  EXPECT_EQ(at(plain, 23, 45), red);
  EXPECT_NE(at(plain, 62, 31), at(plain, 62, 38));
  for (const char* engines : {"0", "1"}) {
    SCOPED_TRACE(std::string("adapter engines: ") + engines);
    adapterEnv_ = {std::string("VL_XADAPTER_ENGINES=") + engines, "VL_XADAPTER_COUNTS=1"};
    const std::string adapted = Shoot(applet, "0", 91, 61, green);
    EXPECT_EQ(Differing(plain, adapted), 0);
    const std::string said = ReadFile(Log("0"));
    const bool own = *engines == '1';
    EXPECT_EQ(said.find("scale 20x12\n") != std::string::npos, own) << said;
    EXPECT_EQ(said.find("copy 20x12\n") != std::string::npos, own) << said;
    EXPECT_EQ(said.find("transform 12x20\n") != std::string::npos, own) << said;
    // Left to the player: the scale and the turn each read a picture.
    if (!own) {
      EXPECT_GE(Calls(said, "readpixels"), 2) << said;
    }
    EXPECT_EQ(Calls(said, "freepixels"), Calls(said, "readpixels")) << said;
    std::remove(Log("0").c_str());
  }
}

// An adapter whose WaitEvents blocks until its ForceEventLoopIteration
// runs: a timeout's signal wakes it through the relay, so the handler
// fires; waits sleep in the adapter's Sleep, vwait waits in its VWait and
// the qualifier of IsKeyDown comes from its GetQualifiers, pointers are its
// own, it hears that the script handles the close button, CheckEvent and
// CheckEvents pump it themselves before they look for callbacks, and its
// screen modes, monitors and requesters are the ones scripts see.
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
.call disableevent 10 0
.call enableevent 10 0
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
.call checkevent
.call checkevents
.call iskeydown "LSHIFT" -> s
.call debugprint $s
.call getdisplaymodes -> modes
getglobal 2 "modes"
getfield 0 2 #0
getfield 1 0 "width"
setglobal 1 "w0"
getfield 1 0 "height"
setglobal 1 "h0"
getfield 0 2 #1
getfield 1 0 "width"
setglobal 1 "w1"
getfield 1 0 "height"
setglobal 1 "h1"
getfield 0 2 #2
getfield 1 0 "width"
setglobal 1 "w2"
getfield 1 0 "height"
setglobal 1 "h2"
.call debugprint $w0 $h0 $w1 $h1 $w2 $h2
.call getmonitors -> monitors
getglobal 2 "monitors"
getfield 0 2 #0
getfield 1 0 "width"
setglobal 1 "mw"
getfield 1 0 "height"
setglobal 1 "mh"
.call debugprint $mw $mh
.call systemrequest "t" "b" "Yes|No" 1 -> answer
.call debugprint $answer
.call debugprint "done")");
  Result r = RunOnAdapter(applet, "wake", "VL_XADAPTER_BLOCK=1");
  const std::string said = ReadFile(Log("wake"));
  ASSERT_EQ(r.status, 0) << r.out << r.err << said;
  // The adapter's screen modes come sorted by width, then height, and its
  // monitor as it describes it.
  EXPECT_EQ(r.out, "fired\n1\n640 480 800 480 800 600\n1280 1024\n2\ndone\n");
  // Its requesters came over the display's own handle, the script's and
  // the one it asked for itself through the service table: Yes|No with the
  // second icon, its buttons by kind alone.
  EXPECT_NE(said.find("\nrequest over 96x64\nrequest kind 68x0\n"), std::string::npos) << said;
  EXPECT_NE(said.find("\nrequest over 96x64\nrequest kind 36x0\nservice answer 2x0\n"), std::string::npos) << said;
  for (const char* entry : {"force", "wait", "sleep", "vwait", "qualifiers", "newpointer", "setpointer",
                            "freepointer", "attributes", "check"}) {
    const size_t at = said.find(std::string("\n") + entry + " ");
    ASSERT_NE(at, std::string::npos) << entry << "\n" << said;
    EXPECT_GE(std::atoi(said.c_str() + at + std::strlen(entry) + 2), 1) << entry << "\n" << said;
  }
  // The handler and EnableEvent of CLOSEWINDOW each said so.
  EXPECT_NE(said.find("\nattributes 2x"), std::string::npos) << said;
}

// A requester adapter whose calls go through the plug-in frame call is
// asked through it, which does nothing here: every requester answers at
// once as cancelled, and no built-in dialog stands in for it.
TEST_F(AdapterDisplay, RequestersOfAFrameCallAdapterAnswerAsCancelled) {
  const std::string applet = Applet("framecalls", R"(.line 1
.call systemrequest "t" "b" "Yes|No" -> a
.call colorrequest "c" -> c
.call stringrequest "s" "b" -> s ok
.call filerequest "f" -> f
.call debugprint $a $c $ok "[" $s $f "]")");
  const Result r = RunOnAdapter(applet, "framecalls", "VL_XADAPTER_FRAMECALLS=1");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "0 -1 0 [   ]\n");
  EXPECT_EQ(ReadFile(Log("framecalls")).find("request"), std::string::npos);
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
  // Its lock word stands in its info block, and locked it stays installed.
  EXPECT_NE(said.find("timer lock word 1x1518"), std::string::npos) << said;
}

}  // namespace

// Transitions on a display its adapter marks are drawn off screen and each
// frame is handed to the adapter whole; the window must look the same as
// on an unmarked display, mid-effect and at the end: a brush wiped in under
// a sprite, a crossfade, a BGPic sliding in behind a colour fill and, on a
// display with layers, a layer (then drawn in its working planes).
TEST_F(AdapterDisplay, TransitionsOnAMarkedDisplayShowWhatAnUnmarkedOneShows) {
  int status = 0;
  auto noise = [&](const char* size, int seed, const char* name) { return Noise(size, seed, name); };
  const std::string bg = noise("96x64", 3, "bg.bmp"), bg2 = noise("96x64", 4, "bg2.bmp");
  const std::string wipe = noise("40x30", 5, "wipe.bmp"), fade = noise("30x20", 6, "fade.bmp");
  const std::string layer = noise("24x16", 7, "layer.bmp");
  // A half-transparent sprite: drawn twice over a frame, it would darken.
  const std::string sprite = dir() + "/sprite.png";
  Tool("convert -size 8x8 xc:'#FF00FF80' PNG32:" + vlplayer::Quote(sprite), &status);
  ASSERT_EQ(status, 0);
  constexpr int kGrabs = 7;
  auto grab = [&](int n) {
    const std::string k = std::to_string(n);
    return ".call base=1 makedirectory \"" + dir() + "/ready" + k + "\"\n" +
           vlplayer::WaitUntilFileExists(dir() + "/grabbed" + k, "grab" + k);
  };
  // Draws the first frames of the asynchronous effect h, a grab, the rest.
  auto frames = [&](int n) {
    const std::string loop = "rest" + std::to_string(n);
    return ".call asyncdrawframe $h\n.call asyncdrawframe $h\n.call asyncdrawframe $h\n" + grab(n) + loop +
           ":\n.call asyncdrawframe $h -> r\ngetglobal 0 \"r\"\neq 1 0 #0\njump " + loop + "\n" + grab(n + 1);
  };
  const std::string applet = Applet("adaptermarked", ".line 1\n.call base=1 loadbgpic 2 \"" + bg +
      "\"\n.call base=1 displaybgpic 2\n.table 0 { title = \"adaptertest\" }\n.call base=1 setdisplayattributes r0\n"
      ".call base=1 loadbgpic 3 \"" + bg2 + "\"\n.call base=1 loadbrush 1 \"" + wipe + "\"\n"
      ".call base=1 loadbrush 5 \"" + fade + "\"\n.call base=1 loadbrush 6 \"" + layer + "\"\n"
      ".table 0 { loadalpha = 1 }\n.call base=1 loadbrush 12 \"" + sprite + "\" r0\n.call base=1 createsprite 1 3 12\n"
      ".call base=1 displaysprite 1 30 20\n"
      ".table 0 { type = 0, speed = 3, parameter = 5, async = 1 }\n"
      ".call base=1 displaybrushfx 1 20 10 r0 -> h\n" + frames(1) +
      ".table 0 { type = 115, speed = 24, async = 1 }\n.call base=1 displaybrushfx 5 60 40 r0 -> h\n" + frames(3) +
      // The BGPic's own transition runs to its end: the grab is taken
      // while it runs.
      ".call base=1 makedirectory \"" + dir() + "/ready5\"\n"
      ".table 0 { type = 101, speed = 1, parameter = 65280 }\n.call base=1 displaytransitionfx 3 r0\n" + grab(6) +
      ".call enablelayers\n.table 0 { type = 0, speed = 2, parameter = 4 }\n"
      ".call base=1 displaybrushfx 6 60 5 r0\n" + grab(7) +
      ".call debugprint \"done\"\n");
  // The run through the adapter, marked or not: the window after each grab
  // point (taken until two grabs agree), and the adapter's log.
  auto play = [&](bool marked, std::vector<std::string>* grabs) {
    RunOptions options;
    options.timeoutSeconds = 40;
    options.program = AdapterProgram();
    const char* log = marked ? "marked" : "unmarked";
    std::remove(Log(log).c_str());
    options.env = {"VL_XADAPTER_LOG=" + Log(log), std::string("VL_XADAPTER_MARK=") + (marked ? "1" : "0"),
                   "VL_XADAPTER_BLITS=1"};
    options.whileRunning = [&](pid_t, const std::string& display) {
      const std::string id = vlplayer::WaitForWindow(display, "adaptertest");
      for (int n = 1; n <= kGrabs; ++n) {
        const std::string k = std::to_string(n);
        for (int i = 0; i < 500 && access((dir() + "/ready" + k).c_str(), F_OK) != 0; ++i) usleep(20000);
        std::string last, now;
        if (n == 5) {
          usleep(300000);
          grabs->push_back(id.empty() ? "" : Tool("import -window " + id + " -depth 8 rgb:-"));
          continue;
        }
        for (int i = 0; i < 20 && !id.empty(); ++i) {
          now = Tool("import -window " + id + " -depth 8 rgb:-");
          if (now == last) break;
          last = now;
          usleep(50000);
        }
        grabs->push_back(now);
        WriteFile("grabbed" + k, "");
      }
    };
    for (int n = 1; n <= kGrabs; ++n) {
      rmdir((dir() + "/ready" + std::to_string(n)).c_str());
      unlink((dir() + "/grabbed" + std::to_string(n)).c_str());
    }
    Result r = Run({"-requireplugins", "xadapter", applet}, options);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "done\n");
    return ReadFile(Log(log));
  };
  std::vector<std::string> plain, marked;
  const std::string plainLog = play(false, &plain), markedLog = play(true, &marked);
  ASSERT_EQ(plain.size(), static_cast<size_t>(kGrabs));
  ASSERT_EQ(marked.size(), static_cast<size_t>(kGrabs));
  const char* const names[kGrabs] = {"wipe, mid-effect", "wipe, end",  "crossfade, mid-effect", "crossfade, end",
                                     "slide, mid-effect", "slide, end", "layer, end"};
  for (int n = 0; n < kGrabs; ++n) {
    SCOPED_TRACE(names[n]);
    ASSERT_EQ(plain[n].size(), kWidth * kHeight * 3u);
    ASSERT_EQ(marked[n].size(), kWidth * kHeight * 3u);
    // The slide's grab mid-effect is taken at a moment, not a frame.
    if (n != 4) {
      EXPECT_EQ(Differing(plain[n], marked[n]), 0);
    }
  }
  // The grabs show progress: mid-effect differs from the end, and each
  // effect changed the window.
  for (int n = 0; n < 6; n += 2) EXPECT_GT(Differing(plain[n], plain[n + 1]), 40) << names[n];
  EXPECT_GT(Differing(plain[1], plain[3]), 300);
  EXPECT_GT(Differing(plain[3], plain[5]), 3000);
  EXPECT_GT(Differing(plain[5], plain[6]), 200);
  auto at = [](const std::string& p, int x, int y) { return p.substr((static_cast<size_t>(y) * kWidth + x) * 3, 3); };
  const std::string green("\0\xFF\0", 3);
  // The sprite stays on top of the wipe, mixed into it; the slide's fill
  // is on the window mid-effect (the new picture comes in after it).
  for (int n : {0, 1})
    for (int y = 20; y < 28; ++y)
      for (int x = 30; x < 38; ++x) {
        const std::string p = at(marked[n], x, y);
        EXPECT_TRUE(uint8_t(p[0]) >= 0x7F && uint8_t(p[2]) >= 0x7F && uint8_t(p[1]) <= 0x81)
            << names[n] << " " << x << "," << y;
      }
  for (const auto* grabs : {&plain, &marked}) {
    int filled = 0;
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) filled += at((*grabs)[4], x, y) == green;
    EXPECT_GT(filled, 4 * kHeight) << (grabs == &marked ? "marked" : "unmarked");
    EXPECT_LT(filled, kWidth * kHeight);
    EXPECT_GT(Differing((*grabs)[4], (*grabs)[5]), 1000);
  }
  // The marked display was handed whole frames: the wipe's 40 x 30, the
  // layer's 24 x 16 and the BGPic's 96 x 64 once a frame, the unmarked one
  // strips.
  auto count = [](const std::string& log, const std::string& line) {
    int n = 0;
    for (size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1)) ++n;
    return n;
  };
  for (const char* size : {"blit 40x30\n", "blit 24x16\n", "blit 96x64\n"}) {
    SCOPED_TRACE(size);
    EXPECT_GE(count(markedLog, size), count(plainLog, size) + 5);
  }
}

// An adapter that mixes in hardware is handed each crossfade frame with
// the effect's first look and the level, rising frame by frame; mid-effect
// its window holds (old x (255 - level) + new x level) / 255 of the two
// pictures as ImageMagick reads them, and the end equals the crossfade
// the player mixes itself (an adapter that does not offer to mix is never
// asked to). On a layer, a layer below that moves mid-effect hands the
// rest of the effect back to the player, and the end is still the same.
TEST_F(AdapterDisplay, CrossfadeIsMixedByAnAdapterThatOffersTo) {
  const std::string bg = Noise("96x64", 11, "bg.bmp"), fade = Noise("30x20", 12, "fade.bmp");
  const std::string below = Noise("24x16", 13, "below.bmp");
  const std::string start = ".line 1\n.call base=1 loadbgpic 2 \"" + bg +
      "\"\n.call base=1 displaybgpic 2\n.table 0 { title = \"adaptertest\" }\n"
      ".call base=1 setdisplayattributes r0\n.call base=1 loadbrush 5 \"" + fade + "\"\n"
      ".call base=1 loadbrush 6 \"" + below + "\"\n";
  const std::string end = ".call base=1 makedirectory \"" + dir() + "/ready\"\n" +
      vlplayer::WaitUntilFileExists(dir() + "/grabbed", "grab") + ".call debugprint \"done\"\n";
  const std::string plain = Applet("crossfade", start +
      ".table 0 { type = 115, speed = 24 }\n.call base=1 displaybrushfx 5 60 40 r0\n" + end);
  const std::string layered = Applet("crossfadelayer", start + ".call enablelayers\n.call displaybrush 6 50 30\n"
      ".table 0 { type = 115, speed = 24, async = 1 }\n.call base=1 displaybrushfx 5 60 40 r0 -> h\n"
      ".call asyncdrawframe $h\n.call asyncdrawframe $h\n.call asyncdrawframe $h\n"
      ".table 0 { x = 40 }\n.call base=1 setlayerstyle 1 r0\n"
      "rest:\n.call asyncdrawframe $h -> r\ngetglobal 0 \"r\"\neq 1 0 #0\njump rest\n" + end);
  // A run through the adapter, mixing or not; with hold, the window while
  // the adapter holds that mix. The window at the end, and the adapter's
  // mix levels in order.
  auto play = [&](const std::string& applet, bool mix, int hold, std::string* held, std::vector<int>* levels) {
    std::string last;
    RunOptions options;
    options.timeoutSeconds = 40;
    options.program = AdapterProgram();
    const char* log = mix ? "mix" : "nomix";
    for (const std::string& f : {Log(log), Log(log) + ".held", Log(log) + ".go", dir() + "/grabbed"})
      std::remove(f.c_str());
    rmdir((dir() + "/ready").c_str());
    options.env = {"VL_XADAPTER_LOG=" + Log(log), std::string("VL_XADAPTER_MIX=") + (mix ? "1" : "0"),
                   "VL_XADAPTER_MIXHOLD=" + std::to_string(hold)};
    options.whileRunning = [&](pid_t, const std::string& display) {
      const std::string id = vlplayer::WaitForWindow(display, "adaptertest");
      const std::string grab = "import -window " + id + " -depth 8 rgb:-";
      if (hold) {
        for (int i = 0; i < 1000 && access((Log(log) + ".held").c_str(), F_OK) != 0; ++i) usleep(20000);
        if (!id.empty()) *held = Tool(grab);
        WriteFile(std::string("adapter") + log + ".log.go", "");
      }
      for (int i = 0; i < 1000 && access((dir() + "/ready").c_str(), F_OK) != 0; ++i) usleep(20000);
      std::string now;
      for (int i = 0; i < 20 && !id.empty(); ++i) {
        now = Tool(grab);
        if (now == last) break;
        last = now;
        usleep(50000);
      }
      WriteFile("grabbed", "");
    };
    Result r = Run({"-requireplugins", "xadapter", applet}, options);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "done\n");
    std::istringstream in(ReadFile(Log(log)));
    for (std::string line; std::getline(in, line);)
      if (line.rfind("mix level ", 0) == 0) levels->push_back(std::atoi(line.c_str() + 10));
    return last;
  };
  auto rgb = [&](const std::string& path) { return Tool("convert " + vlplayer::Quote(path) + " -depth 8 rgb:-"); };
  const std::string bgRgb = rgb(bg), fadeRgb = rgb(fade);
  ASSERT_EQ(bgRgb.size(), kWidth * kHeight * 3u);
  ASSERT_EQ(fadeRgb.size(), 30 * 20 * 3u);

  std::string held, none;
  std::vector<int> levels, noLevels;
  const std::string mixedEnd = play(plain, true, 4, &held, &levels);
  const std::string softEnd = play(plain, false, 0, &none, &noLevels);
  // 24, 48, ... 240; the finishing frame is drawn whole.
  std::vector<int> rising;
  for (int l = 24; l < 255; l += 24) rising.push_back(l);
  EXPECT_EQ(levels, rising);
  EXPECT_TRUE(noLevels.empty());
  ASSERT_EQ(mixedEnd.size(), kWidth * kHeight * 3u);
  EXPECT_EQ(Differing(mixedEnd, softEnd), 0);
  EXPECT_GT(Differing(mixedEnd, bgRgb), 500);
  // Mid-effect: the model inside the rectangle, the background outside.
  ASSERT_EQ(held.size(), kWidth * kHeight * 3u);
  const int level = 96;
  int off = 0, outside = 0;
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x)
      for (int c = 0; c < 3; ++c) {
        const size_t at = (static_cast<size_t>(y) * kWidth + x) * 3 + c;
        const int old = uint8_t(bgRgb[at]), shown = uint8_t(held[at]);
        if (x < 60 || x >= 90 || y < 40 || y >= 60) {
          outside += shown != old;
          continue;
        }
        const int now = uint8_t(fadeRgb[(static_cast<size_t>(y - 40) * 30 + x - 60) * 3 + c]);
        off += std::abs(shown - (old * (255 - level) + now * level) / 255) > 1;
      }
  EXPECT_EQ(off, 0);
  EXPECT_EQ(outside, 0);

  // On a layer: three frames mixed by the adapter, then the layer below
  // moves and the player draws the rest.
  levels.clear(), noLevels.clear();
  const std::string layerEnd = play(layered, true, 0, &none, &levels);
  const std::string layerSoftEnd = play(layered, false, 0, &none, &noLevels);
  EXPECT_EQ(levels, (std::vector<int>{24, 48, 72}));
  EXPECT_TRUE(noLevels.empty());
  ASSERT_EQ(layerEnd.size(), kWidth * kHeight * 3u);
  EXPECT_EQ(Differing(layerEnd, layerSoftEnd), 0);
  EXPECT_GT(Differing(layerEnd, mixedEnd), 100);
}
