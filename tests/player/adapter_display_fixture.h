// The display-adapter player tests' fixture: applets run on a plain
// display and through the adapter plug-in of the tests
// (tests/player/xadapter_plugin.cpp) beside a copy of the player, their
// windows grabbed and clicked, the adapter's log read back.
#pragma once
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/player/player_harness.h"

namespace vlplayer {

constexpr int kWidth = 96, kHeight = 64;

// Every applet here: a 96 x 64 display named "adaptertest", its drawing,
// then it waits for one event and reports the handler's action.
inline std::string AppletText(const std::string& drawing) {
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

inline std::string ReadFile(const std::string& path) {
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
  // the script must have seen the click. A scaled display's window is
  // width x height. With ready given, the grab waits for it to accept the
  // pixels too (a frame that reaches the window after the script's
  // drawing).
  std::string Shoot(const std::string& applet, const char* owns, int sentinelX, int sentinelY,
                    const std::string& sentinel, int width = kWidth, int height = kHeight,
                    const std::function<bool(const std::string&)>& ready = {}) {
    std::string pixels;
    RunOptions options;
    // A sanitizer player decoding video beside the whole suite has taken
    // more than half a minute.
    options.timeoutSeconds = 90;
    options.whileRunning = [&](pid_t, const std::string& display) {
      std::string id = vlplayer::WaitForWindow(display, "adaptertest");
      if (id.empty()) return;
      const size_t at = (static_cast<size_t>(sentinelY) * width + sentinelX) * 3;
      const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(options.timeoutSeconds);
      for (int i = 0; i < 100 && std::chrono::steady_clock::now() < until; ++i) {
        // The tools are bounded: a player killed by the run's time limit
        // must fail the test, not leave a grab of its window waiting.
        pixels = Tool("timeout -k 2 10 import -window " + id + " -depth 8 rgb:-");
        if (pixels.size() == size_t(width) * height * 3u && pixels.substr(at, 3) == sentinel && (!ready || ready(pixels)))
          break;
        // A display closed and opened again (to scale it) has a new
        // window: a slow player's first one was found before it went.
        if (pixels.size() != size_t(width) * height * 3u) {
          const std::string again = vlplayer::WaitForWindow(display, "adaptertest", 2000);
          if (!again.empty()) id = again;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
      Tool("timeout -k 2 10 xdotool mousemove --window " + id + " 20 20 click 1");
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
    EXPECT_EQ(r.out, printed_ + "OnMouseDown\ndone\n");
    EXPECT_EQ(pixels.size(), size_t(width) * height * 3u);
    return pixels;
  }
  std::string Log(const char* owns) const { return dir() + "/adapter" + owns + ".log"; }
  // A 16 x 8 AVI of raw frames, 20 a second, from an ffmpeg source (its
  // filter with its options, ready for the size) and a filter after it;
  // its path, or "" when ffmpeg failed.
  std::string Clip(const std::string& source, const std::string& seconds, const std::string& filter = "") {
    int status = 0;
    const std::string path = dir() + "/v.avi";
    Tool("ffmpeg -v error -y -f lavfi -i " + source + "size=16x8:rate=20 " + filter + " -t " + seconds +
             " -c:v rawvideo -pix_fmt bgr24 " + vlplayer::Quote(path),
         &status);
    return status == 0 ? path : "";
  }
  // A picture of random pixels (ImageMagick) in the test's folder.
  std::string Noise(const char* size, int seed, const char* name) {
    int status = 0;
    const std::string path = dir() + "/" + name;
    Tool(std::string("convert -size ") + size + " xc: -seed " + std::to_string(seed) + " +noise Random " +
             vlplayer::Quote(path),
         &status);
    EXPECT_EQ(status, 0);
    return path;
  }
  // The applet run through the adapter with one more environment setting;
  // the adapter logs to Log(log).
  Result RunOnAdapter(const std::string& applet, const char* log, const std::string& setting) {
    RunOptions options;
    options.timeoutSeconds = 20;
    options.program = AdapterProgram();
    options.env = {"VL_XADAPTER_LOG=" + Log(log), setting};
    return Run({"-requireplugins", "xadapter", applet}, options);
  }
  // The same with the script's errors on the console, and settings.
  Result RunOnConsole(const std::string& applet, const char* log, const std::vector<std::string>& settings) {
    RunOptions options;
    options.timeoutSeconds = 20;
    options.program = AdapterProgram();
    options.env = settings;
    options.env.push_back("VL_XADAPTER_LOG=" + Log(log));
    return Run({"-requireplugins", "xadapter", "-debugdevice", "console", applet}, options);
  }
  // A run the script's error ended: what it printed first, then the error's
  // message, and nothing of what came after.
  static void ExpectEndedBy(const Result& r, const std::string& first, const std::string& message,
                            const std::string& after) {
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.rfind(first, 0), 0u) << r.out;
    EXPECT_NE(r.out.find(message), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find(after), std::string::npos) << r.out;
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
  // What the applet prints before its event.
  std::string printed_;
  // The number of calls the adapter logged for an entry, -1 when none.
  static int Calls(const std::string& log, const std::string& entry) {
    const size_t at = log.find("\n" + entry + " ");
    return at == std::string::npos ? -1 : std::atoi(log.c_str() + at + entry.size() + 2);
  }
  // A white 4 x 4 brush at 90, 58, drawn last: the grab waits for it.
  static constexpr const char* kSentinel = ".call createbrush 9 4 4 16777215\n.call displaybrush 9 90 58\n";
  std::string ShootAfterSentinel(const std::string& applet, const char* owns) {
    return Shoot(applet, owns, 91, 59, std::string("\xFF\xFF\xFF", 3));
  }
  // The applet run through the adapter (owns "0" or "1") shows what the
  // plain display showed; the adapter's log of that run alone.
  std::string SameThroughAdapter(const std::string& applet, const std::string& plain, const char* owns) {
    std::remove(Log(owns).c_str());
    EXPECT_EQ(Differing(plain, ShootAfterSentinel(applet, owns)), 0);
    return ReadFile(Log(owns));
  }
  static std::string At(const std::string& shot, int x, int y) {
    return shot.substr((static_cast<size_t>(y) * kWidth + x) * 3, 3);
  }
  static int Differing(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return -1;
    int n = 0;
    for (size_t i = 0; i < a.size(); i += 3) n += a.compare(i, 3, b, i, 3) != 0;
    return n;
  }

 private:
  std::string program_;
};

}  // namespace vlplayer
