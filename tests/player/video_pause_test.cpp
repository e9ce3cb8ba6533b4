// Videos paused, sought and resumed as a user's applet drives them: the
// frame the window holds, the position a paused video answers, its sound
// against its picture after a resume, what a paused or ended video costs
// while it rests, and a sound track no output can play.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/player/player_harness.h"

// After gtest: its own None would meet the macro.
#include <X11/Xlib.h>

#include "tests/player/library_fixtures.h"

namespace {

// A video paused, sought and resumed, round after round, as a video of its
// own and as a layer: every resume finds the video paused (the seek while
// paused used to mark it ended, and the resume failed with 1452). Last, a
// layer paused and sought to 20 s stays paused there and the window shows
// that frame (frame n of the clip has red n), also a moment later.
TEST_F(Windows, ASeekWhilePausedKeepsTheVideoPaused) {
  const std::string video = dir() + "/noise.avi";
  int status = 0;
  // Noisy frames take a while to decode, which is when the end was wrongly
  // seen.
  Tool("ffmpeg -v error -y -f lavfi -i color=c=black:s=320x240:r=10:d=30 -vf "
       "\"geq=r='N':g='X':b='Y*2+random(1)*60'\" -c:v mjpeg -q:v 2 " + vlplayer::Quote(video),
       &status);
  ASSERT_EQ(status, 0);
  const std::string grabbed = dir() + "/grabbed";
  auto rounds = [](const std::string& label, const std::string& play, const std::string& pause,
                   const std::string& seek, const std::string& resume, const std::string& stop) {
    return "loadk 1 #0\nloadk 2 #29\nloadk 3 #1\n" + label + ":\n.call base=5 " + play + "\n.call base=5 wait 2\n"
           ".call base=5 " + pause + "\n.call base=5 " + seek + "\n.call base=5 " + resume +
           "\n.call base=5 getlasterror -> e\n.call base=5 debugprint $e\n.call base=5 " + stop + "\nforloop 1 " +
           label + "\n";
  };
  std::string applet = Applet(
      "videoseek",
      ".line 1\n.table 0 { width = 320, height = 240, color = 0, title = \"videoseek\" }\n"
      ".call base=1 createdisplay 2 r0\n.call opendisplay 2\n.call openvideo 1 " + Lit(video) +
          "\n.call exitonerror 0\n" +
          rounds("plain", "playvideo 1", "pausevideo 1", "seekvideo 1 1000", "resumevideo 1", "stopvideo 1") +
          ".call enablelayers\n.table 0 { uselayer = 1 }\n.call base=1 playvideo 1 0 0 r0\n.call stoplayer 1\n" +
          rounds("layer", "playlayer 1", "pauselayer 1", "seeklayer 1 1000", "resumelayer 1", "stoplayer 1") +
          ".call playlayer 1\n.call wait 2\n.call pauselayer 1\n.call seeklayer 1 20000\n.call wait 10\n"
          ".call getattribute 22 1 84 -> paused\n.call getattribute 22 1 18 -> at\n"
          ".call debugprint \"paused\" $paused $at\n.call stringtofile \"1\" " + Lit(dir() + "/ready") + "\n" +
          vlplayer::WaitUntilFileExists(grabbed) +
          ".call getattribute 22 1 18 -> later\n.call resumelayer 1\n.call getlasterror -> e\n"
          ".call debugprint \"later\" $later $e\n");
  std::string red, redLater;
  Result r = RunAndGrab(applet, "videoseek", [&](const std::string& window) {
    for (int i = 0; i < 600 && access((dir() + "/ready").c_str(), F_OK) != 0; ++i) Tool("sleep 0.1");
    // The mean red of a patch, once the paused frame is there.
    const std::string mean = "import -window " + window + " -crop 32x32+100+100 -format '%[fx:int(255*mean.r+0.5)]' info:";
    for (int i = 0; i < 100; ++i) {
      red = Tool(mean);
      if (std::abs(std::atoi(red.c_str()) - 200) <= 8) break;
      Tool("sleep 0.1");
    }
    Tool("sleep 0.3");
    redLater = Tool(mean);
  });
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  size_t failed = 0, lines = 0;
  for (size_t at = 0, end; (end = r.out.find('\n', at)) != std::string::npos && lines < 60; at = end + 1, ++lines)
    failed += r.out.compare(at, end - at, "0") != 0;
  EXPECT_EQ(lines, 60u);
  EXPECT_EQ(failed, 0u) << r.out;
  EXPECT_NE(r.out.find("paused 1 20000\nlater 20000 0\n"), std::string::npos) << r.out;
  EXPECT_NEAR(std::atoi(red.c_str()), 200, 8) << red;
  EXPECT_NEAR(std::atoi(redLater.c_str()), 200, 8) << redLater;
}

// A video paused after 0.7 to 2.3 s answers the time of the frame on the
// window as its position, not that of a frame decoded or queued after it
// (it answered three frames ahead), and keeps that frame on the window.
// The clip changes colour every half second; the grab of the window and the
// colour of the half second the position falls in must agree.
// Last, sound and picture stay together across a pause of a second, and
// across a pause in which the video is sought to 1.2 s: the clip's sound
// is a tone from 1.5 s on. The recording holds the sound up to the pause
// and from there (or from the place sought) on, with no gap, loss or
// repeat: the tone starts where that puts it. Each colour change seen on
// the window (read with the recording's length so far, every few
// milliseconds) comes when the recording has reached the change's time,
// give or take a quarter of a second: the player lets the picture stray a
// frame (0.1 s) from the sound before it mends that, the file sink puts
// the sound after a dry spell up to its buffer (0.1 s) ahead, and its
// file lags what it took by its own buffering.
TEST_F(Windows, APausedVideosPositionIsThatOfTheFrameOnTheWindow) {
  const std::string clip = dir() + "/colours.avi";
  const std::vector<std::string> names = {"red", "lime", "blue", "yellow", "magenta", "cyan"};
  std::string inputs, chain;
  for (size_t i = 0; i < names.size(); ++i) {
    inputs += " -f lavfi -i color=c=" + names[i] + ":s=160x120:r=10:d=0.5";
    chain += "[" + std::to_string(i) + ":v]";
  }
  int status = 0;
  Tool("ffmpeg -v error -y" + inputs + " -f lavfi -i \"aevalsrc=0.5*sin(2*PI*440*t)*gte(t\\,1.5):s=8000:d=3\"" +
           " -filter_complex \"" + chain + "concat=n=6:v=1\" -c:v mjpeg -q:v 2 -c:a pcm_s16le -ac 1 " +
           vlplayer::Quote(clip),
       &status);
  ASSERT_EQ(status, 0);
  const std::vector<int> ticks = {35, 60, 72, 90, 115};  // 20 ms each
  std::string body = ".line 1\n.table 0 { width = 160, height = 120, color = 0, title = \"pausedat\" }\n"
                     ".call base=1 createdisplay 2 r0\n.call opendisplay 2\n.call openvideo 1 " + Lit(clip) + "\n";
  for (size_t i = 0; i < ticks.size(); ++i) {
    const std::string n = std::to_string(i);
    body += ".call playvideo 1\n.call wait " + std::to_string(ticks[i]) +
            "\n.call pausevideo 1\n.call getattribute 50 1 18 -> at\n.call debugprint $at\n.call stringtofile \"1\" " +
            Lit(dir() + "/ready" + n) + "\n" + vlplayer::WaitUntilFileExists(dir() + "/grabbed" + n, "g" + n) +
            ".call getattribute 50 1 18 -> later\n.call debugprint $later\n.call stopvideo 1\n";
  }
  const int seeks[] = {0, 1200};
  for (int seek : seeks)
    body += ".call playvideo 1\n.call wait 37\n.call pausevideo 1\n.call getattribute 50 1 18 -> at\n"
            ".call debugprint $at\n.call wait 25\n" +
            (seek ? ".call seekvideo 1 " + std::to_string(seek) + "\n" : "") + ".call wait 25\n.call resumevideo 1\n" +
            WaitForVideoEnd("end" + std::to_string(seek), 1, 250) + ".call stopvideo 1\n";
  body += ".call stringtofile \"1\" " + Lit(dir() + "/synced") + "\n";
  // The colour at the window's centre (its index, -1 none) read between
  // two lengths of the newest recording.
  struct Sample {
    size_t file;
    long before, after;
    int colour;
  };
  std::vector<Sample> samples;
  auto length = [](const std::string& file) {
    struct stat st;
    return stat(file.c_str(), &st) == 0 ? long(st.st_size) : 0L;
  };
  // The colour at the window's centre, each channel as 0 or 1.
  std::vector<std::string> seen;
  Result r = RunAndGrab(Applet("pausedat", body), "pausedat", [&](const std::string& window) {
    for (size_t i = 0; i < ticks.size(); ++i) {
      const std::string n = std::to_string(i);
      for (int k = 0; k < 600 && access((dir() + "/ready" + n).c_str(), F_OK) != 0; ++k) Tool("sleep 0.05");
      Tool("sleep 0.3");
      seen.push_back(Tool("import -window " + window +
                          " -format '%[fx:p{80,60}.r>0.5]%[fx:p{80,60}.g>0.5]%[fx:p{80,60}.b>0.5]' info:"));
      WriteFile("grabbed" + n, "");
    }
    // A window gone (the player ended early) ends the reading, not the test.
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    Display* x = XOpenDisplay(display());
    if (!x) return;
    const Window w = std::strtoul(window.c_str(), nullptr, 10);
    const unsigned rgb[] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0xFF00FF, 0x00FFFF};
    for (int k = 0, failed = 0; k < 30000 && failed < 100 && access((dir() + "/synced").c_str(), F_OK) != 0; ++k) {
      const std::vector<std::string> files = SinkFiles();
      Sample s{files.size(), files.empty() ? 0 : length(files.back()), 0, -1};
      if (XImage* image = XGetImage(x, w, 80, 60, 1, 1, AllPlanes, ZPixmap)) {
        const unsigned long pixel = XGetPixel(image, 0, 0);
        for (int c = 0; c < 6; ++c) {
          unsigned near = 0;
          for (int shift : {0, 8, 16}) near += std::abs(int(pixel >> shift & 0xFF) - int(rgb[c] >> shift & 0xFF)) < 64;
          if (near == 3) s.colour = c;
        }
        XDestroyImage(image);
        failed = 0;
      } else {
        ++failed;
      }
      s.after = files.empty() ? 0 : length(files.back());
      samples.push_back(s);
      usleep(2000);
    }
    XCloseDisplay(x);
  });
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::map<std::string, std::string> bits = {{"red", "100"},    {"lime", "010"},    {"blue", "001"},
                                                   {"yellow", "110"}, {"magenta", "101"}, {"cyan", "011"}};
  std::vector<int> at;
  for (size_t pos = 0, end; (end = r.out.find('\n', pos)) != std::string::npos; pos = end + 1)
    at.push_back(std::atoi(r.out.substr(pos, end - pos).c_str()));
  ASSERT_EQ(at.size(), 2 * ticks.size() + 2) << r.out;
  ASSERT_EQ(seen.size(), ticks.size());
  for (size_t i = 0; i < ticks.size(); ++i) {
    SCOPED_TRACE("paused after " + std::to_string(ticks[i] * 20) + " ms at " + std::to_string(at[2 * i]));
    EXPECT_EQ(at[2 * i + 1], at[2 * i]) << "the position moved while paused";
    ASSERT_LT(size_t(at[2 * i] / 500), names.size());
    EXPECT_EQ(seen[i], bits.at(names[at[2 * i] / 500]));
  }
  const std::vector<std::string> sink = SinkFiles();
  ASSERT_GE(sink.size(), 2u);
  for (size_t run = 0; run < 2; ++run) {
    const size_t file = sink.size() - 1 - run;
    const int seek = seeks[1 - run], paused = at[2 * ticks.size() + 1 - run];
    SCOPED_TRACE("paused at " + std::to_string(paused) + ", sought to " + std::to_string(seek));
    // Seconds into the recording: the tone's first loud sample, and the
    // place of a length read while it was written.
    std::ifstream in(sink[file], std::ios::binary);
    const std::string wav{std::istreambuf_iterator<char>(in), {}};
    const size_t data = wav.find("data") + 8;
    ASSERT_LT(data, wav.size());
    auto seconds = [&](long bytes) { return (double(bytes) - double(data)) / 16000; };
    double tone = -1;
    for (size_t i = data; i + 1 < wav.size() && tone < 0; i += 2)
      if (std::abs(int16_t(uint8_t(wav[i]) | uint8_t(wav[i + 1]) << 8)) > 3000) tone = seconds(long(i));
    const double skipped = seek ? (seek - paused) / 1000.0 : 0;
    EXPECT_NEAR(tone, 1.5 - skipped, 0.1) << "the sound has a gap, or lost or repeated some";
    int changes = 0;
    for (size_t k = 1; k < samples.size(); ++k) {
      const Sample &was = samples[k - 1], &now = samples[k];
      if (was.file != file + 1 || now.file != file + 1 || now.colour != was.colour + 1 || now.colour < 1) continue;
      const double change = now.colour * 0.5;
      if (change * 1000 <= seek) continue;  // shown by the seek
      const double due = change * 1000 <= paused ? change : tone + change - 1.5;
      ++changes;
      SCOPED_TRACE("the picture of " + std::to_string(change) + " s came with the recording between " +
                   std::to_string(seconds(was.before)) + " and " + std::to_string(seconds(now.after)) + " s");
      EXPECT_GE(due, seconds(was.before) - 0.25) << "late";
      EXPECT_LE(due, seconds(now.after) + 0.25) << "early";
    }
    EXPECT_GE(changes, seek ? 2 : 4);
  }
}

// A video paused at its start, sought into its last frames and resumed
// ends, round after round, with and without sound: the end reached while
// the resume waited for the player's threads used to be overwritten by
// "playing", and a clip whose packets were all read before the pause lost
// the sound read after the seek, so the end never came and the next
// PlayVideo failed with 1501. The clips are short enough to be read whole
// at once. Each round prints the position and IsVideoPlaying once it
// reports 0 (or after 3 s). Last, the clip with sound plays from its start
// to its end: the file sink, which takes sound at once, records as much
// sound as the clip has (ffmpeg's reading of it), not sound written ahead.
// So does a clip whose sound, one packet, goes on a second after its
// last picture: the video ends once its sound has played, not once its
// last picture has and its last packet is taken (that cut the sound, and
// under load even the sound of the clip of equal lengths).
TEST_F(Libraries, VideosSoughtIntoTheirLastFrameWhilePausedEndOnResume) {
  const std::string quiet = dir() + "/quiet.avi", sound = dir() + "/sound.avi", tail = dir() + "/tail.avi";
  int status = 0;
  Tool("ffmpeg -v error -y -f lavfi -i testsrc=size=160x120:rate=25 -t 1.5 -c:v mjpeg -q:v 5 " +
           vlplayer::Quote(quiet),
       &status);
  ASSERT_EQ(status, 0);
  Tool("ffmpeg -v error -y -f lavfi -i testsrc=size=160x120:rate=25 -f lavfi -i sine=frequency=440:sample_rate=22050 "
       "-t 1.5 -c:v mjpeg -q:v 5 -c:a pcm_s16le -ac 1 " + vlplayer::Quote(sound),
       &status);
  ASSERT_EQ(status, 0);
  Tool("ffmpeg -v error -y -f lavfi -i testsrc=size=160x120:rate=25:duration=0.5 -f lavfi -i "
       "sine=frequency=440:sample_rate=22050:samples_per_frame=33075:duration=1.5 -c:v mjpeg -q:v 5 -c:a pcm_s16le -ac 1 " +
           vlplayer::Quote(tail),
       &status);
  ASSERT_EQ(status, 0);
  // Positions 1440 to 1497: the last two frames (1440-1479, 1480-1499).
  auto rounds = [](int id) {
    const std::string v = std::to_string(id), l = "v" + v;
    return "loadk 1 #1437\nloadk 2 #1497\nloadk 3 #3\njump " + l + "next\n" + l + "body:\n"
           ".call base=8 playvideo " + v + "\n.call base=8 pausevideo " + v + "\n.call base=8 seekvideo " + v +
           " r1\n.call base=8 resumevideo " + v + "\n" + WaitForVideoEnd(l + "poll", id, 150) +
           ".call base=8 isvideoplaying " + v + " -> p\n.call base=8 debugprint r1 $p\n" + l + "next:\nforloop 1 " +
           l + "body\n";
  };
  const std::string applet =
      Applet("lastframe", ".line 1\n.table 0 { width = 320, height = 240, color = 0, title = \"lastframe\" }\n"
                          ".call base=1 createdisplay 2 r0\n.call opendisplay 2\n.call openvideo 1 " + Lit(quiet) +
                              "\n.call openvideo 2 " + Lit(sound) + "\n" + rounds(1) + rounds(2) +
                          ".call base=8 playvideo 2\n" + WaitForVideoEnd("full", 2, 250) + ".call base=8 stopvideo 2\n"
                          ".call base=8 debugprint \"whole\" $p\n.call openvideo 3 " + Lit(tail) +
                          "\n.call base=8 playvideo 3\n" + WaitForVideoEnd("tail", 3, 250) +
                          ".call base=8 stopvideo 3\n.call base=8 debugprint \"tail\" $p\n");
  Result r = Run({applet});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  std::string want;
  for (int round = 0; round < 2; ++round)
    for (int p = 1440; p <= 1497; p += 3) want += std::to_string(p) + " 0\n";
  EXPECT_EQ(r.out, want + "whole 0\ntail 0\n");
  const std::vector<std::string> sink = SinkFiles();
  ASSERT_GE(sink.size(), 2u);
  for (int i = 0; i < 2; ++i) {
    const std::string& clip = i ? tail : sound;
    Tool("ffmpeg -v error -y -i " + vlplayer::Quote(clip) + " -vn " + vlplayer::Quote(dir() + "/track.wav"), &status);
    ASSERT_EQ(status, 0);
    const double track = vlplayer::SoxStat(dir() + "/track.wav", "Length (seconds)");
    EXPECT_NEAR(track, 1.5, 0.05) << clip;
    const std::string& recorded = sink[sink.size() - 2 + i];
    EXPECT_NEAR(vlplayer::SoxStat(recorded, "Length (seconds)"), track, 0.2) << recorded;
  }
}

// A video whose first two seconds of sound come in one packet, a tone,
// and whose sound after that is silence: paused 0.2 s after its start
// for a second, sought to 2.5 s and resumed, it plays the tone only until
// the pause. The rest of the packet decoded before the pause neither
// sounds while paused nor after the resume, so the file sink records a
// few tenths of a second of tone, not one and a half or two (the tone
// heard is measured by sox against the clip's own sound, which ffmpeg
// reads out of it).
TEST_F(Libraries, SoundFromBeforeAPausedSeekIsNotHeardAfterTheResume) {
  const std::string clip = dir() + "/tone.avi", track = dir() + "/track.wav";
  int status = 0;
  Tool("ffmpeg -v error -y -f lavfi -i testsrc=size=160x120:rate=25 -f lavfi -i "
       "sine=frequency=440:sample_rate=22050:samples_per_frame=44100:duration=2,apad -t 3.5 -c:v mjpeg -q:v 5 "
       "-c:a pcm_s16le -ac 1 " + vlplayer::Quote(clip),
       &status);
  ASSERT_EQ(status, 0);
  Tool("ffmpeg -v error -y -i " + vlplayer::Quote(clip) + " -vn -t 2 " + vlplayer::Quote(track), &status);
  ASSERT_EQ(status, 0);
  const std::string applet =
      Applet("pausedseek", ".line 1\n.table 0 { width = 320, height = 240, color = 0, title = \"pausedseek\" }\n"
                           ".call base=1 createdisplay 2 r0\n.call opendisplay 2\n.call openvideo 1 " + Lit(clip) +
                           "\n.call playvideo 1\n.call wait 10\n.call pausevideo 1\n.call wait 50\n"
                           ".call seekvideo 1 2500\n.call resumevideo 1\n" + WaitForVideoEnd("poll", 1, 250) +
                           ".call stopvideo 1\n"
                           ".call debugprint \"ended\" $p\n");
  Result r = Run({applet});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "ended 0\n");
  const std::vector<std::string> sink = SinkFiles();
  ASSERT_EQ(sink.size(), 1u);
  // Seconds of tone: the recording's power over the tone's power.
  const double rms = vlplayer::SoxStat(sink[0], "RMS     amplitude"),
               length = vlplayer::SoxStat(sink[0], "Length (seconds)"),
               toneRms = vlplayer::SoxStat(track, "RMS     amplitude");
  ASSERT_GT(toneRms, 0.05);
  const double toneSeconds = rms * rms * length / (toneRms * toneRms);
  EXPECT_GT(toneSeconds, 0.02) << "the tone before the pause is missing";
  EXPECT_LT(toneSeconds, 0.9) << "sound from before the pause played on";
}

// A video with sound paused half a second in, and the same video once it
// has played to its end, both still open, rest: over a second no thread
// of the player is woken more than 150 times (the X pointer watch wakes
// about 100 times, the sound output 50), all of them together at most 400
// times (a paused video's refresh thread alone was woken about 1,000 times
// a second, and an ended one's threads went round without pause once the
// packets had run out). What they cost in CPU time is measured in
// bench/sound_pacing_bench.cpp.
TEST_F(Libraries, PausedAndEndedVideosRestUntilTheyAreResumedOrStopped) {
  const std::string clip = dir() + "/clip.avi";
  int status = 0;
  Tool("ffmpeg -v error -y -f lavfi -i testsrc=size=160x120:rate=25 -f lavfi -i sine=frequency=440:sample_rate=22050 "
       "-t 2 -c:v mjpeg -q:v 5 -c:a pcm_s16le -ac 1 " + vlplayer::Quote(clip),
       &status);
  ASSERT_EQ(status, 0);
  auto rest = [&](const std::string& name) {
    return ".call stringtofile \"1\" " + Lit(dir() + "/" + name) + "\n" +
           vlplayer::WaitUntilFileExists(dir() + "/" + name + ".done", name);
  };
  const std::string applet =
      Applet("resting", ".line 1\n.table 0 { width = 160, height = 120, color = 0, title = \"resting\" }\n"
                        ".call base=1 createdisplay 2 r0\n.call opendisplay 2\n.call openvideo 1 " + Lit(clip) +
                            "\n.call playvideo 1\n.call wait 25\n.call pausevideo 1\n" + rest("paused") +
                            ".call resumevideo 1\n" + WaitForVideoEnd("poll", 1, 500) + rest("ended") +
                            ".call debugprint \"ended\" $p\n.call stopvideo 1\n");
  std::map<std::string, std::pair<long long, long long>> most;  // case: busiest thread, all threads
  // Voluntary context switches (a thread that slept and was woken), by thread.
  auto wakeUps = [&](pid_t player) {
    std::map<std::string, long long> counts;
    std::istringstream lines(Tool("cd /proc/" + std::to_string(player) +
                                  "/task && grep -H '^voluntary_ctxt_switches' */status"));
    for (std::string line; std::getline(lines, line);)
      counts[line.substr(0, line.find('/'))] = std::atoll(line.c_str() + line.rfind(':') + 1);
    return counts;
  };
  RunOptions options;
  options.whileRunning = [&](pid_t player, const std::string&) {
    for (const char* name : {"paused", "ended"}) {
      const std::string marker = dir() + "/" + name;
      for (int i = 0; i < 300 && access(marker.c_str(), F_OK) != 0; ++i) usleep(50000);
      if (access(marker.c_str(), F_OK) != 0) return;
      usleep(300000);  // settled
      const std::map<std::string, long long> before = wakeUps(player);
      usleep(1000000);
      long long busiest = 0, all = 0;
      for (const auto& [thread, count] : wakeUps(player)) {
        const auto was = before.find(thread);
        const long long woken = count - (was == before.end() ? 0 : was->second);
        busiest = std::max(busiest, woken);
        all += woken;
      }
      most[name] = {busiest, all};
      WriteFile(std::string(name) + ".done", "");
    }
  };
  Result r = Run({applet}, options);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "ended 0\n");
  for (const char* name : {"paused", "ended"}) {
    SCOPED_TRACE(name);
    ASSERT_EQ(most.count(name), 1u) << "not measured";
    std::printf("%s video: busiest thread woken %lld times, all %lld\n", name, most[name].first, most[name].second);
    EXPECT_LE(most[name].first, 150);
    EXPECT_LE(most[name].second, 400);
  }
}

// Sets the sample rate its sound stream's format declares in an AVI file.
bool SetSoundRate(const std::string& path, uint32_t rate) {
  std::FILE* f = std::fopen(path.c_str(), "r+b");
  if (!f) return false;
  std::string bytes(1 << 16, '\0');
  bytes.resize(std::fread(bytes.data(), 1, bytes.size(), f));
  const size_t format = bytes.find("strf", bytes.find("auds"));
  bool done = false;
  if (format != std::string::npos && format != 0) {
    const unsigned char le[4] = {uint8_t(rate), uint8_t(rate >> 8), uint8_t(rate >> 16), uint8_t(rate >> 24)};
    done = std::fseek(f, long(format + 12), SEEK_SET) == 0 && std::fwrite(le, 1, 4, f) == 4;
  }
  return std::fclose(f) == 0 && done;
}

// A video whose sound stream declares 1 sample a second is refused when
// it is opened (its sound filled the packet queue until no picture could
// be read, and PauseVideo then waited for ever for a picture to pause on);
// one at the lowest pitch, whose sound outlasts its pictures as far, and
// the clip as it was made pause at once. An end signal while the last one
// is paused ends the player by that signal.
TEST_F(Libraries, AVideoPausesAtOnceOrIsRefusedWhateverRateItsSoundDeclares) {
  const std::string marker = dir() + "/paused";
  std::string body = ".line 1\n.table 0 { width = 160, height = 120, color = 0, title = \"rates\" }\n"
                     ".call base=1 createdisplay 2 r0\n.call opendisplay 2\n.call exitonerror 0\n";
  for (uint32_t rate : {1u, 256u, 44100u}) {
    const std::string clip = dir() + "/rate" + std::to_string(rate) + ".avi", v = std::to_string(rate);
    int status = 0;
    Tool("ffmpeg -v error -y -f lavfi -i testsrc=size=160x120:rate=25 -f lavfi -i sine=frequency=440:sample_rate=44100 "
         "-t 1 -c:v mjpeg -q:v 5 -c:a pcm_s16le -ac 2 " + vlplayer::Quote(clip),
         &status);
    ASSERT_EQ(status, 0);
    ASSERT_TRUE(SetSoundRate(clip, rate));
    body += ".call openvideo " + v + " " + Lit(clip) + "\n.call getlasterror -> e\n.call debugprint " + v +
            " $e\n.call playvideo " + v + "\n.call wait 10\n.call pausevideo " + v + "\n.call getlasterror -> e\n"
            ".call debugprint \"paused\" $e\n";
  }
  RunOptions options;
  options.timeoutSeconds = 30;
  bool signalled = false;
  options.whileRunning = [&](pid_t player, const std::string&) {
    for (int i = 0; i < 1000 && access(marker.c_str(), F_OK) != 0; ++i) usleep(20000);
    signalled = access(marker.c_str(), F_OK) == 0 && kill(player, SIGTERM) == 0;
  };
  Result r = Run({Applet("rates", body + ".call stringtofile \"1\" " + Lit(marker) + "\n.call wait 1000\n")}, options);
  EXPECT_TRUE(signalled);
  EXPECT_EQ(r.status, -SIGTERM) << r.out << r.err;
  EXPECT_EQ(r.out, "1 1450\npaused 1449\n256 0\npaused 0\n44100 0\npaused 0\n");
}

}  // namespace
