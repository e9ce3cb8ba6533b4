// A display whose window takes the focus when it opens is the active one at
// once, as the script sees it: its active attribute is set and its
// activewindow handler runs once, with nobody moving the focus. A window
// the user resizes resizes its display, also under a brush that moves; a
// full-screen display that changes its size gives the screen its first mode
// back when it goes windowed; a hidden pointer stays hidden while it moves
// over a borderless window; a scaled window is dragged by its drag region
// scaled to the window.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include <fstream>
#include <string>

#include "tests/player/player_harness.h"
// After the harness: Xlib's macros clash with the test framework's names.
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/Xrandr.h>

namespace {

using vlplayer::Result;
using WindowFocus = vlplayer::PlayerTest;

bool Running(pid_t pid) { return vlplayer::ProcessRunning(pid); }

// Prints the handler's name for each activation event of the current
// display that the checks below let through.
const char* kHandlers = R"(.function onactive
  .params 1
  .call base=1 debugprint "activewindow"
  ret
.end
.function oninactive
  .params 1
  .call base=1 debugprint "inactivewindow"
  ret
.end
.defun OnActive onactive
.defun OnInactive oninactive
)";

const char* kCheckEvents = R"(.table 0 { activewindow = $OnActive, inactivewindow = $OnInactive }
.call base=1 installeventhandler r0
loadk 1 #0
loadk 2 #19
loadk 3 #1
loop:
  .call base=5 checkevent
  .call base=5 wait 1
  forloop 1 loop
)";

// The display declared in the applet opens before the first line runs.
TEST_F(WindowFocus, DeclaredDisplayIsActiveFromTheFirstLine) {
  std::string applet = Applet("declared", std::string(kHandlers) + R"(.line 1
.call getattribute 21 1 41 -> a
.call debugprint $a
)" + kCheckEvents + ".call debugprint \"end\"",
                              "display 1 200 100 Focused");
  Result r = Run({applet});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "1\nactivewindow\nend\n");
}

// A display the script opens active takes the focus over: it is active
// when OpenDisplay returns, and the first display hears it lose the focus.
// Closed, a display is no longer active.
TEST_F(WindowFocus, OpenedDisplayTakesTheFocusOver) {
  std::string applet = Applet("opened", std::string(kHandlers) + R"(.line 1
.call getattribute 21 1 41 -> a
.table 0 { width = 120, height = 60, title = "Second", active = 1 }
.call base=1 createdisplay 2 r0
.call opendisplay 2 1
.call getattribute 21 2 41 -> b
.call debugprint $a $b
)" + kCheckEvents + R"(.call getattribute 21 1 41 -> c
.call closedisplay 2
.call getattribute 21 2 41 -> d
.call debugprint $c $d)",
                              "display 1 200 100 First");
  Result r = Run({applet});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "1 1\nactivewindow\ninactivewindow\n0 0\n");
}

// A sizeable window resized by the user: the display and the background
// picture it shows take the new size, and the sizewindow handler hears it.
TEST_F(WindowFocus, AResizedWindowResizesTheDisplayAndTellsTheScript) {
  std::string applet = Applet("resized", R"(.function onsize
  .params 1
  .line 5
  getfield 1 0 "action"
  getfield 2 0 "width"
  getfield 3 0 "height"
  .call base=4 debugprint r1 r2 r3
  .call base=4 getattribute 21 1 0 -> DW
  .call base=4 getattribute 21 1 1 -> DH
  .call base=4 getattribute 1 5 0 -> PW
  .call base=4 debugprint $DW $DH $PW
  .call base=4 end
  ret
.end
.defun OnSize onsize
.line 1
.call createbgpic 5 200 100 16711680
.call displaybgpic 5
.table 0 { sizewindow = $OnSize }
.call base=1 installeventhandler r0
.call setdisplayattributes { sizeable = 1 }
loop:
.call waitevent
jump loop)",
                              "display 1 200 100 Resizer");
  vlplayer::RunOptions options;
  options.timeoutSeconds = 30;
  options.whileRunning = [&](pid_t pid, const std::string& display) {
    // Making the window sizeable may replace it, so a resize can reach the
    // window that just went: resize whatever window has the name until the
    // script has seen a resize and ended.
    for (int attempt = 0; attempt < 20; ++attempt) {
      std::string window = vlplayer::WaitForWindow(display, "Resizer");
      if (window.empty()) break;
      int status = 0;
      Tool("xdotool windowsize " + window + " 300 150", &status);
      for (int i = 0; i < 10; ++i) {
        if (!Running(pid)) return;
        usleep(50 * 1000);
      }
    }
  };
  Result r = Run({"-debugdevice", "console", applet}, options);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "SizeWindow 300 150\n300 150 300\n");
}

// Two displays resized by the user between two turns of the script's event
// loop: each hears its own SizeWindow, with its own size; only a display's
// earlier size gives way to its later one.
TEST_F(WindowFocus, TwoDisplaysResizedTogetherEachHearTheirSize) {
  const std::string ready = dir() + "/ready", resized = dir() + "/resized";
  std::string script = R"(.function onsize
  .params 1
  getfield 1 0 "action"
  getfield 2 0 "id"
  getfield 3 0 "width"
  .call base=4 debugprint r1 r2 r3
  ret
.end
.defun OnSize onsize
.line 1
)";
  for (const char* id : {"2", "3"})
    script += std::string(".table 0 { width = 200, height = 100, sizeable = 1, title = \"Sized") + id +
              "\" }\n.call base=1 createdisplay " + id + " r0\n.call opendisplay " + id + "\n.call selectdisplay " +
              id + "\n.table 0 { sizewindow = $OnSize }\n.call base=1 installeventhandler r0\n";
  script += ".call stringtofile \"1\" \"" + ready + "\"\n" + vlplayer::WaitUntilFileExists(resized, "resized") +
            ".call wait 10\nloadk 0 #0\nloadk 1 #20\nloadk 2 #1\njump next\nturn:\n.call base=3 checkevents\n"
            "next:\nforloop 0 turn\n.call debugprint \"end\"";
  vlplayer::RunOptions options;
  options.timeoutSeconds = 30;
  options.whileRunning = [&](pid_t, const std::string& display) {
    for (int i = 0; i < 100 && access(ready.c_str(), F_OK) != 0; ++i) usleep(100000);
    const std::string two = vlplayer::WaitForWindow(display, "Sized2"), three = vlplayer::WaitForWindow(display, "Sized3");
    ASSERT_FALSE(two.empty() || three.empty());
    Tool("xdotool windowsize --sync " + two + " 250 100 windowsize --sync " + three + " 260 100");
    WriteFile("resized", "1");
  };
  Result r = Run({Applet("twosized", script)}, options);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "SizeWindow 2 250\nSizeWindow 3 260\nend\n");
}

// A window resized while a brush moves across it in the foreground, or
// while an anim plays, with a sprite shown: the move or the anim takes the
// new background once, so the brush leaves no trail and the anim, whose
// last frame is see-through, leaves none of its first; the sprite stays.
TEST_F(WindowFocus, MovesAndAnimsUnderAGrowingWindowLeaveNoTrail) {
  const struct {
    const char* name;
    const char* play;  // ends with the window's content settled
    const char* blue;  // what stays blue: count and box
  } cases[] = {
      {"move", ".call movebrush 7 0 40 120 40 { speed = 1 }\n", "100 10x10+120+40"},
      // Frame 1 blue, frame 2 black, which the mask leaves out.
      {"anim",
       ".call createbrush 9 20 10 0\n.call selectbrush 9\n.call box 0 0 10 10 255\n.call endselect\n"
       ".call setbrushtransparency 9 0\n.call createanim 3 9 10 10 2 2\n"
       ".call playanim 3 100 40 { times = 60 }\n",
       "0 "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string moving = dir() + "/moving" + c.name, moved = dir() + "/moved" + c.name;
    const std::string grabbed = dir() + "/grabbed" + c.name, grab = dir() + "/grab" + c.name + ".png";
    std::string applet = Applet(c.name, R"(.line 1
.call createbgpic 5 200 100 16711680
.call displaybgpic 5
.call setdisplayattributes { sizeable = 1 }
.call createbrush 7 10 10 255
.call createbrush 8 4 4 65280
.call base=1 createsprite 1 3 8
.call displaysprite 1 2 2
.call makedirectory ")" + moving + "\"\n" + c.play + ".call makedirectory \"" + moved + "\"\n" +
                                              vlplayer::WaitUntilFileExists(grabbed),
                                "display 1 200 100 Mover");
    // The pixels of one colour in the grab, and the box around them.
    auto count = [&](const char* colour) {
      return Tool("convert " + vlplayer::Quote(grab) + " -fill black +opaque '" + colour + "' -fill white -opaque '" +
                  colour + "' -format '%[fx:mean*w*h] %@' info:");
    };
    vlplayer::RunOptions options;
    options.timeoutSeconds = 40;
    bool resized = false;
    options.whileRunning = [&](pid_t pid, const std::string& display) {
      auto exists = [](const std::string& path) { return access(path.c_str(), F_OK) == 0; };
      for (int i = 0; i < 300 && !exists(moving) && Running(pid); ++i) usleep(20 * 1000);
      const std::string window = vlplayer::WaitForWindow(display, "Mover");
      int status = 0;
      Tool("xdotool windowsize --sync " + window + " 240 120", &status);
      resized = status == 0 && !exists(moved);
      for (int i = 0; i < 1000 && !exists(moved) && Running(pid); ++i) usleep(20 * 1000);
      // The last step may still be on its way to the window; a trail stays.
      for (int i = 0; i < 50; ++i) {
        Tool("import -window " + window + " " + vlplayer::Quote(grab));
        if (count("#0000FF").rfind(c.blue, 0) == 0) break;
        usleep(100 * 1000);
      }
      mkdir(grabbed.c_str(), 0755);
    };
    Result r = Run({"-debugdevice", "console", applet}, options);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(resized) << "the play ended before the window grew";
    const std::string blue = count("#0000FF");
    EXPECT_EQ(blue.substr(0, std::strlen(c.blue)), c.blue) << blue << " " << grab;
    EXPECT_EQ(count("#00FF00"), "16 4x4+2+2") << grab;
  }
}

// The screen gets two more modes (a client's own modes last while it stays
// connected); the display goes full screen at one, then at the other, then
// back into a window: the screen is at its first mode again, not at the
// one the display had full screen before.
TEST_F(WindowFocus, FullScreenAtAnotherSizeGivesTheScreenItsFirstModeBack) {
  Display* d = XOpenDisplay(display());
  ASSERT_NE(d, nullptr);
  Window root = DefaultRootWindow(d);
  XRRScreenResources* resources = XRRGetScreenResourcesCurrent(d, root);
  ASSERT_TRUE(resources && resources->noutput > 0 && resources->ncrtc > 0);
  for (auto [w, h] : {std::pair{640u, 400u}, std::pair{720u, 540u}}) {
    std::string name = std::to_string(w) + "x" + std::to_string(h);
    XRRModeInfo mode{};
    mode.width = w;
    mode.height = h;
    mode.hTotal = w + 100;
    mode.vTotal = h + 20;
    mode.dotClock = 60ul * mode.hTotal * mode.vTotal;
    mode.name = name.data();
    mode.nameLength = static_cast<unsigned>(name.size());
    XRRAddOutputMode(d, resources->outputs[0], XRRCreateMode(d, root, &mode));
  }
  XSync(d, False);
  std::string applet = Applet("modes", R"(.line 1
.call changedisplaymode 2 640 400
.call getattribute 21 1 28 -> w
.call getattribute 21 1 29 -> h
.call debugprint $w $h
.call changedisplaymode 2 720 540
.call getattribute 21 1 28 -> w
.call getattribute 21 1 29 -> h
.call debugprint $w $h
.call changedisplaymode 1)",
                              "display 1 200 100 Modes");
  Result r = Run({applet});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "640 400\n720 540\n");
  XRRScreenResources* now = XRRGetScreenResourcesCurrent(d, root);
  XRRCrtcInfo* crtc = XRRGetCrtcInfo(d, now, now->crtcs[0]);
  ASSERT_NE(crtc, nullptr);
  EXPECT_EQ(crtc->width, 800u);
  EXPECT_EQ(crtc->height, 600u);
  XRRFreeCrtcInfo(crtc);
  XRRFreeScreenResources(now);
  XRRFreeScreenResources(resources);
  XCloseDisplay(d);
}

// The pointer is hidden over a borderless window and moved about in it:
// the server's cursor stays without a visible pixel.
TEST_F(WindowFocus, AHiddenPointerStaysHiddenWhileItMovesOverABorderlessWindow) {
  const std::string moved = dir() + "/moved", seen = dir() + "/seen", done = dir() + "/done";
  std::string applet = Applet("hidden", ".line 1\n.call hidepointer\n" + vlplayer::WaitUntilFileExists(moved, "m") +
                                            ".call wait 4\n.call stringtofile \"1\" \"" + seen + "\"\n" +
                                            vlplayer::WaitUntilFileExists(done, "d"),
                              "display 1 200 100 Hidden");
  long visible = -1;
  vlplayer::RunOptions options;
  options.timeoutSeconds = 30;
  options.whileRunning = [&](pid_t, const std::string& display) {
    std::string window = vlplayer::WaitForWindow(display, "Hidden");
    ASSERT_FALSE(window.empty());
    std::string xdotool = "DISPLAY=" + vlplayer::Quote(display) + " xdotool ";
    Tool(xdotool + "mousemove --sync --window " + window + " 20 20 mousemove --sync --window " + window + " 60 40");
    Tool("touch " + vlplayer::Quote(moved));
    for (int i = 0; i < 200 && access(seen.c_str(), F_OK) != 0; ++i) usleep(50000);
    Display* d = XOpenDisplay(display.c_str());
    if (XFixesCursorImage* cursor = d ? XFixesGetCursorImage(d) : nullptr) {
      visible = 0;
      for (int i = 0; i < cursor->width * cursor->height; ++i) visible += (cursor->pixels[i] >> 24) != 0;
      XFree(cursor);
    }
    if (d) XCloseDisplay(d);
    Tool("touch " + vlplayer::Quote(done));
  };
  Result r = Run({"-borderless", applet}, options);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(visible, 0);
}

// A borderless display shown twice its size: the script's drag region is
// given in picture pixels, so its scaled copy covers the top 40 rows of the
// window, and the user drags the window by a point that only the scaled
// region holds.
TEST_F(WindowFocus, ScaledDisplayIsDraggedByItsScaledRegion) {
  const std::string ready = dir() + "/ready", done = dir() + "/done";
  std::string applet = Applet("drag", R"(.line 1
.table 0 { width = 200, height = 100, borderless = 1, scalemode = 1, scalewidth = 400, scaleheight = 200, x = 50, y = 50, title = "Dragged", dragregion = { { x = 0, y = 0, width = 200, height = 20 } } }
.call base=1 createdisplay 2 r0
.call opendisplay 2
.call makedirectory ")" + ready + "\"\n" + vlplayer::WaitUntilFileExists(done) + R"(
.call getattribute 21 2 7 -> x
.call getattribute 21 2 8 -> y
.call debugprint $x $y)");
  vlplayer::RunOptions options;
  options.timeoutSeconds = 40;
  std::string geometry;
  options.whileRunning = [&](pid_t pid, const std::string& display) {
    for (int i = 0; i < 300 && access(ready.c_str(), F_OK) != 0 && Running(pid); ++i) usleep(20 * 1000);
    const std::string window = vlplayer::WaitForWindow(display, "Dragged");
    // Pressed at (300, 30) of the window, outside the unscaled 200 x 20 box.
    Tool("xdotool mousemove --sync 350 80 mousedown 1 sleep 0.1 mousemove --sync 370 90 sleep 0.1 "
         "mousemove --sync 390 100 sleep 0.1 mouseup 1");
    for (int i = 0; i < 100 && geometry.find("90,70") == std::string::npos; ++i, usleep(50 * 1000))
      geometry = Tool("xdotool getwindowgeometry " + window + " | grep Position");
    mkdir(done.c_str(), 0755);
  };
  Result r = Run({applet}, options);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(geometry.find("Position: 90,70"), std::string::npos) << geometry;
  EXPECT_EQ(r.out, "90 70\n");
}

}  // namespace
