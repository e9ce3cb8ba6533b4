// The fixtures the command-library player tests share: Libraries runs a
// user's applet; Windows also grabs the window it opens.
#ifndef VL_TESTS_PLAYER_LIBRARY_FIXTURES_H
#define VL_TESTS_PLAYER_LIBRARY_FIXTURES_H

#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>

#include "tests/player/player_harness.h"

namespace {

using vlplayer::Result;
using vlplayer::RunOptions;

using Libraries = vlplayer::PlayerTest;

std::string Lit(const std::string& text) { return "\"" + text + "\""; }

// The box of what is not black in a region of a window, as ImageMagick
// trims it: x, y relative to the region; width 0 when the region is black,
// -1 when the grab failed.
struct InkBox {
  int x = -1, y = -1, width = -1, height = -1;
};

class Windows : public Libraries {
 protected:
  // Runs the applet (which waits for the file "grabbed" in the test's
  // folder), calls grab once its window, named title, shows, and lets the
  // applet end.
  Result RunAndGrab(const std::string& applet, const std::string& title,
                    const std::function<void(const std::string& window)>& grab) {
    vlplayer::RunOptions options;
    options.whileRunning = [&](pid_t, const std::string& display) {
      std::string window = vlplayer::WaitForWindow(display, title);
      if (!window.empty()) grab(window);
      WriteFile("grabbed", "");
    };
    return Run({applet}, options);
  }
  // Runs the applet made of name and body, which then says it is ready
  // and waits; pixels gets the whole window (title name) as 8-bit RGB.
  Result RunAndGrabWhenReady(const std::string& name, const std::string& body, std::string* pixels) {
    const std::string ready = dir() + "/ready";
    const std::string applet = Applet(name, body + ".call stringtofile \"1\" " + Lit(ready) + "\n" +
                                                vlplayer::WaitUntilFileExists(dir() + "/grabbed"));
    return RunAndGrab(applet, name, [&](const std::string& window) {
      for (int i = 0; i < 600 && access(ready.c_str(), F_OK) != 0; ++i) Tool("sleep 0.1");
      Tool("sleep 0.3");
      *pixels = Tool("timeout 20 import -window " + window + " -depth 8 rgb:-");
    });
  }
  // A red 32 x 24 MJPEG clip of ten frames a second; its path, or "" when
  // ffmpeg failed.
  std::string RedClip(const std::string& name, const std::string& seconds) {
    int status = 0;
    const std::string path = dir() + "/" + name;
    Tool("ffmpeg -v error -y -f lavfi -i color=c=red:size=32x24:rate=10 -t " + seconds + " -c:v mjpeg -q:v 2 " +
             vlplayer::Quote(path), &status);
    return status == 0 ? path : "";
  }
  InkBox GrabInk(const std::string& window, int x, int y, int w, int h) const {
    InkBox box;
    const std::string grab = "import -window " + window + " -crop " + std::to_string(w) + "x" + std::to_string(h) +
                             "+" + std::to_string(x) + "+" + std::to_string(y);
    const std::string text = Tool(grab + " -format '%@ %[fx:maxima.r+maxima.g+maxima.b]' info:");
    double brightest = -1;
    if (std::sscanf(text.c_str(), "%dx%d+%d+%d %lf", &box.width, &box.height, &box.x, &box.y, &brightest) != 5)
      return InkBox{};
    if (brightest == 0) box.width = box.height = 0;
    return box;
  }
};

// Applet lines that wait in 20 ms steps, at most the given number, until
// video id has stopped playing; $p is then its IsVideoPlaying. The labels
// start with label.
std::string WaitForVideoEnd(const std::string& label, int id, int steps) {
  const std::string v = std::to_string(id);
  return "loadk 5 #0\nloadk 6 #" + std::to_string(steps) + "\nloadk 7 #1\njump " + label + "next\n" + label +
         ":\n.call base=8 wait 1\n.call base=8 isvideoplaying " + v + " -> p\ngetglobal 8 \"p\"\neq 1 8 #0\njump " +
         label + "done\n" + label + "next:\nforloop 5 " + label + "\n" + label + "done:\n";
}

}  // namespace

#endif  // VL_TESTS_PLAYER_LIBRARY_FIXTURES_H
