// Videos as a user sees and hears them, for the serial video tests. The
// clips are made by ffmpeg: frame n shows n in binary as a row of sixteen
// black and white blocks, with the complement below it (a grab whose rows
// disagree is no frame), and the sound track is a ramp whose sample i
// holds i & 0x7fff on the left and i >> 15 on the right, so each sample
// the file sink records names the source sample it came from. The window
// is grabbed every 2 ms while the player runs; at each grab the length of
// the recording is read too, so sound and picture are compared on the
// recording's sample count, not on the wall clock. A window 96 high holds
// a second clip at 0, 48.
#pragma once
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest-spi.h>

#include "tests/player/player_harness.h"

// After gtest: its own None would meet the macro.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace vltrace {

constexpr int kWidth = 320, kHeight = 48, kRate = 44100;
// A sanitizer build's player decodes several times slower: how long its
// calls take and how many frames it drops say nothing of the player's.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kTimed = false;
#else
constexpr bool kTimed = true;
#endif
// The file sink keeps the last buffer (0.1 s) it took in memory: the
// file is that far behind the sound the player has written.
constexpr long kSinkLagFrames = kRate / 10;

inline std::string Lit(const std::string& text) { return "\"" + text + "\""; }

inline double Now() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

inline long FileLength(const std::string& file) {
  struct stat st;
  return stat(file.c_str(), &st) == 0 ? long(st.st_size) : 0L;
}

// One look at the window: when, the frame number (-1 none) of the clip at
// 0, 0 and of the one at 0, 48, and how far the newest recording had got
// (sample frames written by the player).
struct Grab {
  double t;
  int frame;
  long written, writtenAfter;  // read before and after the window
  int marker;                  // markers the applet had written by then
  int frame2 = -1;
  int running = 0;  // threads the machine had ready to run
};

// The threads running or ready to run on the whole machine now (the
// fourth field of /proc/loadavg), 0 when unknown: the load a call meets,
// where the load average lags a minute behind.
inline int RunningThreads() {
  FILE* f = std::fopen("/proc/loadavg", "r");
  if (!f) return 0;
  double a, b, c;
  int running = 0, total = 0;
  if (std::fscanf(f, "%lf %lf %lf %d/%d", &a, &b, &c, &running, &total) != 5) running = 0;
  std::fclose(f);
  return running;
}

class VideoTraceTest : public vlplayer::PlayerTest {
 protected:
  // A clip of the given frame rate ("25", "30000/1001") and length whose
  // frames show their numbers; codec "mjpeg" or "rawvideo"; with the ramp
  // as its sound when sound is set. Its path, or "" when ffmpeg failed.
  std::string Clip(const std::string& name, const std::string& rate, int seconds, const std::string& codec,
                   bool sound) {
    const std::string path = dir() + "/" + name + ".avi";
    std::string audio;
    if (sound) {
      std::string ramp(size_t(kRate) * (seconds + 1) * 4, '\0');
      for (size_t i = 0; i < ramp.size() / 4; ++i) {
        const uint16_t left = i & 0x7fff, right = uint16_t(i >> 15);
        ramp[4 * i] = char(left & 0xff), ramp[4 * i + 1] = char(left >> 8);
        ramp[4 * i + 2] = char(right & 0xff), ramp[4 * i + 3] = char(right >> 8);
      }
      audio = " -f s16le -ar 44100 -ac 2 -i " + vlplayer::Quote(WriteFile(name + ".raw", ramp)) +
              " -c:a pcm_s16le -map 0:v -map 1:a";
    }
    // Bit b of N decides block b; rows 0-23 show N, rows 24-47 its complement.
    const std::string bit = "mod(floor(N/pow(2\\,floor(X/20)))\\,2)";
    int status = 0;
    Tool("ffmpeg -v error -y -f lavfi -i \"color=c=black:s=320x48:r=" + rate + ":d=" + std::to_string(seconds) +
             ",format=gray,geq=lum='255*if(lt(Y\\,24)\\," + bit + "\\,1-" + bit + ")'\"" + audio + " -t " +
             std::to_string(seconds) + " -c:v " + codec + (codec == "mjpeg" ? " -q:v 2 -pix_fmt yuvj420p" : " -pix_fmt bgr24") +
             " " + vlplayer::Quote(path),
         &status);
    return status == 0 ? path : "";
  }

  // The frame number the image shows from row top on, -1 when none.
  static int FrameOf(XImage* image, int top = 0) {
    int frame = 0;
    for (int b = 0; b < 16; ++b) {
      auto light = [&](int y) {
        const unsigned long pixel = XGetPixel(image, 20 * b + 10, top + y);
        return ((pixel >> 16 & 0xff) + (pixel >> 8 & 0xff) + (pixel & 0xff)) > 3 * 128;
      };
      const bool on = light(12);
      if (on == light(36)) return -1;
      frame |= int(on) << b;
    }
    return frame;
  }

  // Runs the applet (a window titled "timing" of 320 x height, the video
  // at 0, 0) and grabs it every 2 ms until the applet writes the file
  // "done"; markers are the files "m1", "m2"... the applet writes as it
  // goes.
  vlplayer::Result RunAndTrace(const std::string& body, std::vector<Grab>* trace, int height = kHeight) {
    trace->clear();
    for (int m = 1; access((dir() + "/m" + std::to_string(m)).c_str(), F_OK) == 0; ++m)
      unlink((dir() + "/m" + std::to_string(m)).c_str());
    unlink((dir() + "/done").c_str());
    const std::string applet =
        Applet("timing", ".line 1\n.table 0 { width = 320, height = " + std::to_string(height) +
                             ", color = 0, title = \"timing\" }\n"
                             ".call base=1 createdisplay 2 r0\n.call opendisplay 2\n" + body + ".call stringtofile \"1\" " +
                             Lit(dir() + "/done") + "\n");
    vlplayer::RunOptions options;
    options.timeoutSeconds = 120;
    options.whileRunning = [&](pid_t, const std::string& name) {
      const std::string window = vlplayer::WaitForWindow(name, "timing");
      if (window.empty()) return;
      XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
      Display* x = XOpenDisplay(name.c_str());
      if (!x) return;
      const Window w = std::strtoul(window.c_str(), nullptr, 10);
      int marker = 0;
      for (int failed = 0; failed < 500 && access((dir() + "/done").c_str(), F_OK) != 0;) {
        auto readMarkers = [&] {
          while (access((dir() + "/m" + std::to_string(marker + 1)).c_str(), F_OK) == 0) ++marker;
          return marker;
        };
        const int markerBefore = readMarkers();
        const std::vector<std::string> files = SinkFiles();
        // 44 bytes of header, 4 bytes a sample frame, and what the sink
        // still holds.
        auto written = [&] {
          const long bytes = files.empty() ? 0 : FileLength(files.back());
          return bytes > 44 ? (bytes - 44) / 4 + kSinkLagFrames : 0;
        };
        Grab g{Now(), -1, written(), 0, marker, -1, RunningThreads()};
        if (XImage* image = XGetImage(x, w, 0, 0, kWidth, height, AllPlanes, ZPixmap)) {
          g.frame = FrameOf(image);
          if (height >= 2 * kHeight) g.frame2 = FrameOf(image, kHeight);
          XDestroyImage(image);
          failed = 0;
        } else {
          ++failed;
        }
        g.writtenAfter = written();
        // A marker written while the window was read leaves the image on
        // either side of it: a stalled grabber would put a frame the next
        // step caused into the step before.
        if (readMarkers() != markerBefore) g.marker = marker, g.frame = g.frame2 = -1;
        trace->push_back(g);
        usleep(2000);
      }
      XCloseDisplay(x);
      // VL_TRACE_FILE=path keeps the last trace for a look.
      if (const char* keep = std::getenv("VL_TRACE_FILE"))
        if (FILE* f = std::fopen(keep, "a")) {
          std::fprintf(f, "trace\n");
          for (const Grab& g : *trace) std::fprintf(f, "%.4f %d %d %d\n", g.t, g.marker, g.frame, g.frame2);
          if (std::ferror(f) | std::fclose(f)) std::fprintf(stderr, "the trace was not kept whole in %s\n", keep);
        }
    };
    return Run({applet}, options);
  }

  // The source sample index of every sample frame of the newest recording.
  std::vector<long> Recording() {
    std::vector<long> samples;
    const std::vector<std::string> files = SinkFiles();
    if (files.empty()) return samples;
    std::ifstream in(files.back(), std::ios::binary);
    const std::string wav{std::istreambuf_iterator<char>(in), {}};
    const size_t data = wav.find("data");
    if (data == std::string::npos) return samples;
    for (size_t i = data + 8; i + 3 < wav.size(); i += 4) {
      const long left = uint8_t(wav[i]) | uint8_t(wav[i + 1]) << 8, right = uint8_t(wav[i + 2]) | uint8_t(wav[i + 3]) << 8;
      samples.push_back(left | right << 15);
    }
    return samples;
  }
};

// The frame changes of a trace: each grab that shows a frame other than
// the last one seen.
inline std::vector<Grab> Changes(const std::vector<Grab>& trace) {
  std::vector<Grab> changes;
  int last = -1;
  for (const Grab& g : trace) {
    if (g.frame < 0 || g.frame == last) continue;
    changes.push_back(g);
    last = g.frame;
  }
  return changes;
}

// When the trace first saw marker m (the end of the trace when never).
inline double MarkerTime(const std::vector<Grab>& trace, int m) {
  for (const Grab& g : trace)
    if (g.marker >= m) return g.t;
  return trace.empty() ? 0 : trace.back().t;
}

// Frames never shown between two grabs close enough together that a
// frame shown for its whole time could not have fallen between them; of
// the second clip when second is set.
inline int SkippedBetween(const std::vector<Grab>& trace, double from, double to, double frameSeconds,
                          std::string* where, bool second = false) {
  int skipped = 0, lastFrame = -1;
  double lastT = 0;
  for (const Grab& g : trace) {
    const int frame = second ? g.frame2 : g.frame;
    if (frame < 0) continue;
    if (lastFrame >= 0 && lastT >= from && g.t <= to && frame > lastFrame + 1 && g.t - lastT < frameSeconds / 2) {
      skipped += frame - lastFrame - 1;
      char text[40];
      std::snprintf(text, sizeof text, " %d->%d", lastFrame, frame);
      where->append(text);
    }
    lastFrame = frame, lastT = g.t;
  }
  return skipped;
}

// A loaded machine drops a frame or stalls a call now and then, as any
// player on it would: a measurement that fails is made once more, and the
// test fails only when it fails again. The first attempt's failures are
// printed, not reported.
inline void Retried(const std::function<void()>& measure) {
  testing::TestPartResultArray first;
  {
    testing::ScopedFakeTestPartResultReporter quiet(testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD,
                                                    &first);
    measure();
  }
  bool failed = false;
  for (int i = 0; i < first.size(); ++i) {
    if (first.GetTestPartResult(i).failed()) failed = true;
    if (first.GetTestPartResult(i).type() == testing::TestPartResult::kSkip) GTEST_SKIP() << first.GetTestPartResult(i).message();
  }
  if (!failed) return;
  for (int i = 0; i < first.size(); ++i)
    std::printf("first attempt: %s\n", first.GetTestPartResult(i).message());
  measure();
}

}  // namespace vltrace
