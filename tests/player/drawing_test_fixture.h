// A player test whose applet's window (named "draw") is grabbed as a
// picture, with the applet-side helpers the drawing tests share.
#pragma once
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/player/player_harness.h"

namespace vlplayer {

// The applet's window (named "draw") grabbed into DIR/name.png once the
// applet has made the folder "ready"; the applet waits for "grabbed"
// before it goes on.
class DrawingTest : public PlayerTest {
 protected:
  // The applet's signal that its window is ready for the grab, and its
  // wait for the grab.
  std::string ReadyForGrab() {
    return ".call base=1 makedirectory \"" + dir() + "/ready\"\n" +
           WaitUntilFileExists(dir() + "/grabbed", "grab");
  }
  // The applet's start: a BGPic of the given size shown on a display with
  // layers, scaled by the display to scaleWidth x scaleHeight.
  std::string LayerScaledDisplay(const std::string& size, int scaleWidth, int scaleHeight) {
    return ".line 1\n.call base=1 loadbgpic 2 \"" + Convert("-size " + size + " xc:'#000040'", "bg.bmp") +
           "\"\n.call base=1 displaybgpic 2\n.call base=1 enablelayers\n"
           ".table 0 { title = \"draw\", scalemode = 2, scalewidth = " + std::to_string(scaleWidth) +
           ", scaleheight = " + std::to_string(scaleHeight) + " }\n.call base=1 setdisplayattributes r0\n";
  }
  // The applet's start: a black window of the given size with layers.
  std::string LayeredWindow(const std::string& width, const std::string& height) {
    return ".line 1\n.table 0 { width = " + width + ", height = " + height + ", color = 0, title = \"draw\" }\n"
           ".call base=1 setdisplayattributes r0\n.call base=1 enablelayers\n";
  }
  Result RunAndGrab(const std::string& text, const std::string& name, const std::vector<std::string>& env = {},
                    int timeoutSeconds = 30) {
    return RunAppletAndGrab(Applet(name, text), name, env, timeoutSeconds);
  }
  Result RunAppletAndGrab(const std::string& applet, const std::string& name,
                          const std::vector<std::string>& env = {}, int timeoutSeconds = 30) {
    RunOptions options;
    options.env = env;
    options.timeoutSeconds = timeoutSeconds;
    options.whileRunning = [&](pid_t pid, const std::string& display) {
      const std::string id = WaitForWindow(display, "draw");
      // As long as the run may take (a busy machine or a sanitizer build
      // draws long paths slowly). A window whose player has ended is gone:
      // import would wait for a click instead.
      if (WaitForFileWhileRunning(dir() + "/ready", pid, options.timeoutSeconds) && !id.empty() &&
          ProcessRunning(pid))
        Tool("import -window " + id + " " + Quote(dir() + "/" + name + ".png"));
      WriteFile("grabbed", "");
    };
    return Run({applet}, options);
  }
  // Pixels that differ between two pictures (ImageMagick's count).
  std::string Differ(const std::string& a, const std::string& b) {
    return Tool("compare -metric AE " + Quote(a) + " " + Quote(b) + " null: 2>&1");
  }
  std::string Convert(const std::string& args, const std::string& out) {
    int status = 0;
    Tool("convert " + args + " -type TrueColor BMP3:" + Quote(dir() + "/" + out), &status);
    EXPECT_EQ(status, 0) << args;
    return dir() + "/" + out;
  }
};

}  // namespace vlplayer
