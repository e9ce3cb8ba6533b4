// The player starts its platform layer as a user runs it: the optional
// libraries are loaded at start, and sound played by an applet reaches the
// ALSA device (here a file sink).
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "tests/player/library_fixtures.h"
#include "tests/player/player_harness.h"
#include "tests/support/testdata.h"

namespace {

using vlplayer::PlayerTest;
using vlplayer::Quote;
using vlplayer::Result;
using vlplayer::RunOptions;
using vlplayer::SoxStat;

using PlatformStart = PlayerTest;

// strace sees which files the player opens: ALSA, the X extensions and
// the toolkit come in at start, before the applet runs a line.
TEST_F(PlatformStart, LoadsAlsaAndTheOptionalXLibraries) {
  int status = 0;
  Tool("strace -V >/dev/null 2>&1", &status);
  if (status != 0) GTEST_SKIP() << "strace is not installed";
  std::string applet = Applet("hello", ".line 1\n.call debugprint \"hello\"");
  std::string log = dir() + "/strace.log";
  // The leak checker cannot run under ptrace.
  std::string command = "ASAN_OPTIONS=detect_leaks=0 ALSA_CONFIG_PATH=" + Quote(dir() + "/asound.conf") + " strace -f -e trace=open,openat -o " +
                        Quote(log) + " " + Quote(VL_PLAYER_PATH) + " -quiet " + Quote(applet) + " 2>&1";
  std::string output = Tool(command, &status);
  if (output.find("strace:") != std::string::npos && output.find("Operation not permitted") != std::string::npos)
    GTEST_SKIP() << "ptrace is not permitted here: " << output;
  EXPECT_EQ(status, 0) << output;
  EXPECT_EQ(output, "hello\n");
  std::ifstream in(log);
  std::string opened((std::istreambuf_iterator<char>(in)), {});
  for (const char* lib : {"libasound.so.2", "libXfixes.so.3", "libXcursor.so.1", "libXrandr.so.2",
                          "libgtk-x11-2.0.so.0", "libpango-1.0.so.0"}) {
    size_t at = opened.find(std::string("/") + lib);
    ASSERT_NE(at, std::string::npos) << lib << " was not opened";
    size_t end = opened.find('\n', at);
    EXPECT_EQ(opened.substr(at, end - at).find("ENOENT"), std::string::npos) << lib;
  }
}

using Sound = PlayerTest;

// Handlers that print each sample-loop event's pass number and "end" for
// each sample end.
const std::string kLoopAndEndHandlers = R"(.function onloop
  .params 1
  getfield 1 0 "starts"
  .call base=2 debugprint r1
  ret
.end
.function onend
  .params 1
  .call base=2 debugprint "end"
  ret
.end
.defun OnLoop onloop
.defun OnEnd onend
.line 1
.table 0 { onsampleloop = $OnLoop, onsampleend = $OnEnd }
.call base=1 installeventhandler r0
)";

// A WAV loaded and played by the applet comes out of the device unchanged:
// as long, as loud, and the same wave (the difference is silence). Played
// as a sample and as a music with the volume "50%" of their option tables,
// it comes out as sox's halving of it.
TEST_F(Sound, SampleReachesTheAlsaDevice) {
  std::string tone = dir() + "/tone.wav", half = dir() + "/half.wav";
  int status = 0;
  Tool("sox -n -r 44100 -c 1 -b 16 " + Quote(tone) + " synth 0.5 sine 440 vol 0.5 && sox -D " + Quote(tone) + " " +
           Quote(half) + " vol 0.5",
       &status);
  ASSERT_EQ(status, 0) << "sox cannot make the tone";
  std::string applet = Applet("sample", ".line 1\n.call loadsample 1 \"" + tone +
                                            "\"\n.line 2\n.call playsample 1\n.line 3\n.call waitsampleend 1\n"
                                            ".call debugprint \"ended\"\n.table 0 { volume = \"50%\" }\n"
                                            ".call base=1 playsample 1 r0\n.call waitsampleend 1\n"
                                            ".call openmusic 2 \"" + tone + "\"\n.table 0 { volume = \"50%\" }\n"
                                            ".call base=1 playmusic 2 r0\n" +
                                            vlplayer::WaitUntilMusicStops(2, "poll"));
  Result r = Run({applet});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "ended\n");
  std::vector<std::string> sink = SinkFiles();
  ASSERT_EQ(sink.size(), 3u) << "one device opened for each play";
  double rms = SoxStat(tone, "RMS     amplitude");
  for (size_t i = 0; i < sink.size(); ++i) {
    const std::string& model = i == 0 ? tone : half;
    EXPECT_NEAR(SoxStat(sink[i], "Length (seconds)"), 0.5, 0.001) << sink[i];
    EXPECT_NEAR(SoxStat(sink[i], "RMS     amplitude"), SoxStat(model, "RMS     amplitude"), rms * 0.01) << sink[i];
    EXPECT_LT(SoxStat(sink[i], "RMS     amplitude", model), rms * 0.01) << sink[i];
  }
}

// GetAttribute of a playing sample and music, as the sound library
// answers them: a sample's position is two numbers (the milliseconds of
// the current pass, then the pass from 0), a music's position its
// milliseconds; both move on while they play. The sample and music are
// made by sox, so their length, rate and format are known.
TEST_F(Sound, PlayingSamplesAndMusicAnswerTheirAttributes) {
  const std::string tone = dir() + "/tone.wav";
  int status = 0;
  Tool("sox -n -r 22050 -c 1 -b 16 " + Quote(tone) + " synth 4 sine 440 vol 0.5", &status);
  ASSERT_EQ(status, 0);
  std::string script = ".line 1\n.call loadsample 1 \"" + tone + "\"\n"
                       ".call getattribute 2 1 83 -> a\n.call debugprint $a\n"
                       ".call playsample 1\n.call wait 20\n"
                       ".call getattribute 2 1 18 -> ms pass\n.call debugprint $ms $pass\n";
  for (int attr : {9, 11, 14, 15, 83, 91})
    script += ".call getattribute 2 1 " + std::to_string(attr) + " -> a\n.call debugprint $a\n";
  // A streamed music has no song or pattern position: waiting for one
  // returns at once instead of until the music ends.
  script += ".call stopsample 1\n.call openmusic 1 \"" + tone + "\"\n.call playmusic 1\n.call wait 20\n"
            ".call waitsongposition 1\n.call waitpatternposition 1\n";
  for (int attr : {18, 9, 14, 15, 19, 72, 83, 84})
    script += ".call getattribute 33 1 " + std::to_string(attr) + " -> a\n.call debugprint $a\n";
  Result r = Run({Applet("attributes", script + ".call stopmusic 1\n")});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  std::vector<std::string> lines;
  for (size_t at = 0, end; (end = r.out.find('\n', at)) != std::string::npos; at = end + 1)
    lines.push_back(r.out.substr(at, end - at));
  ASSERT_EQ(lines.size(), 16u) << r.out;
  EXPECT_EQ(lines[0], "false");
  const int ms = std::atoi(lines[1].c_str());
  EXPECT_GE(ms, 200) << lines[1];
  EXPECT_LT(ms, 3900) << lines[1];
  EXPECT_EQ(lines[1].substr(lines[1].find(' ') + 1), "0") << lines[1];
  // Type 1 (16 bits, one channel), frames, duration, rate, playing, loader.
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 2, lines.begin() + 8),
            (std::vector<std::string>{"1", "88200", "4000", "22050", "true", "inbuilt"}));
  const int musicMs = std::atoi(lines[8].c_str());
  EXPECT_GE(musicMs, 200) << lines[8];
  EXPECT_LT(musicMs, 3900) << lines[8];
  // Type, duration, rate, format, seekable, playing, paused.
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 9, lines.end()),
            (std::vector<std::string>{"1", "4000", "22050", "RIFF WAVE", "true", "true", "false"}));
}

// A sample played four times gives four OnSampleLoop events, one a pass
// in pass order, and then its OnSampleEnd, on a device that reports no
// trigger time and takes data as fast as it is written (the file sink):
// the later passes' events come from the loop timers, and the output keeps
// to the sample's own clock, so the end comes once the four passes (0.4 s)
// have played and the recording is exactly as long. A music repeated
// without end is written as it plays: the recording is about as long as
// the time it played, not gigabytes.
TEST_F(Sound, EachPassOfALoopedSampleGivesALoopEventAndTheEndComesLast) {
  std::string tone = dir() + "/tone.wav", music = dir() + "/music.wav";
  int status = 0;
  Tool("sox -n -r 44100 -c 1 -b 16 " + Quote(tone) + " synth 0.1 sine 440", &status);
  ASSERT_EQ(status, 0);
  Tool("sox -n -r 22050 -c 2 -b 16 " + Quote(music) + " synth 0.3 sine 330", &status);
  ASSERT_EQ(status, 0);
  std::string applet = Applet("loops", kLoopAndEndHandlers + R"(.call loadsample 1 ")" + tone + R"("
.call starttimer 1
.call playsample 1 4
.call waitsampleend 1
.call gettimer 1 -> t
.call debugprint $t
.call wait 40
.call checkevents
.call openmusic 2 ")" + music + R"("
.call starttimer 3
.call playmusic 2 0
.call wait 100
.call stopmusic 2
.call gettimer 3 -> m
.call debugprint $m)");
  Result r = Run({applet});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  int waited = -1, played = -1, read = 0;
  ASSERT_EQ(std::sscanf(r.out.c_str(), "%d\n1\n2\n3\n4\nend\n%d\n%n", &waited, &played, &read), 2) << r.out;
  EXPECT_EQ(static_cast<size_t>(read), r.out.size()) << r.out;
  EXPECT_GE(waited, 395) << "the end came before the four passes had played";
  std::vector<std::string> sink = SinkFiles();
  ASSERT_EQ(sink.size(), 2u);
  EXPECT_NEAR(SoxStat(sink[0], "Length (seconds)"), 0.4, 0.001);
  const double length = SoxStat(sink[1], "Length (seconds)");
  EXPECT_GT(length, 1.0);
  EXPECT_LT(length, played / 1000.0 + 0.5) << "written ahead of the music's clock";
}

// A short sample repeated without end keeps the timers of its next passes
// armed ahead of the sound. Stopped and played again at once on the same
// channel, none of the stopped play's events comes after the stop: the new
// play's events count from its first pass, in order, and its end comes
// last. Records of stopped timers are reused by the new play's passes, so
// a stale signal would surface here as a pass number out of place.
TEST_F(Sound, ASampleStoppedAndPlayedAgainGetsNoEventOfTheStoppedPlay) {
  std::string tone = dir() + "/tone.wav";
  int status = 0;
  Tool("sox -n -r 8000 -c 1 -b 16 " + Quote(tone) + " synth 0.02 sine 440", &status);
  ASSERT_EQ(status, 0);
  std::string applet = Applet("restart", kLoopAndEndHandlers + R"(.call loadsample 1 ")" + tone + R"("
.call playsample 1 0
.call wait 15
.call stopsample 1
.call checkevents
.call debugprint "stopped"
.call playsample 1 6
.call waitsampleend 1
.call wait 3
.call checkevents
.call playsample 1 0
.call wait 8
.call stopsample 1
.call checkevents
.call debugprint "stopped"
.call playsample 1 3
.call waitsampleend 1
.call wait 3
.call checkevents
.call debugprint "done")");
  Result r = Run({applet});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const size_t first = r.out.find("stopped\n");
  ASSERT_NE(first, std::string::npos) << r.out;
  EXPECT_EQ(r.out.substr(0, 2), "1\n") << r.out;
  const size_t second = r.out.find("stopped\n", first + 8);
  ASSERT_NE(second, std::string::npos) << r.out;
  const std::string again = "stopped\n1\n2\n3\n4\n5\n6\nend\n1\n";
  EXPECT_EQ(r.out.substr(first, again.size()), again) << r.out;
  EXPECT_EQ(r.out.substr(second), "stopped\n1\n2\n3\nend\ndone\n") << r.out;
}

// A Protracker module played by the applet is rendered into the device:
// seconds of sound, not silence, and no more than about the time it played.
// Paused and sent to another position it plays on, paused no more; a
// stopped one sent to a position starts there.
TEST_F(Sound, ModuleMakesSound) {
  VL_REQUIRE_TESTDATA();
  std::string module = std::string(std::getenv("VL_TESTDATA")) + "/mod/ZONE-2A.mod";
  std::string applet = Applet("module", ".line 1\n.call openmusic 1 \"" + module +
                                            "\"\n.call starttimer 1\n.line 2\n.call playmusic 1\n.line 3\n"
                                            ".call wait 100\n.call stopmusic 1\n.call gettimer 1 -> t\n"
                                            ".call debugprint \"played\" $t\n.call exitonerror 0\n"
                                            ".call playmusic 1\n.call pausemusic 1\n.call playsubsong 1 1\n"
                                            ".call ismusicplaying 1 -> p\n.call resumemusic\n"
                                            ".call getlasterror -> e\n.call debugprint $p $e\n"
                                            ".call stopmusic 1\n.call playsubsong 2 1\n.call wait 10\n"
                                            ".call getsongposition -> s\n.call debugprint $s\n.call stopmusic 1");
  Result r = Run({applet});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  int played = -1;
  ASSERT_EQ(std::sscanf(r.out.c_str(), "played %d\n", &played), 1) << r.out;
  EXPECT_EQ(r.out.substr(r.out.find('\n') + 1), "true 1055\n2\n");
  std::vector<std::string> sink = SinkFiles();
  ASSERT_FALSE(sink.empty());
  EXPECT_GT(SoxStat(sink[0], "Length (seconds)"), 1.0);
  EXPECT_LT(SoxStat(sink[0], "Length (seconds)"), played / 1000.0 + 0.5);
  EXPECT_GT(SoxStat(sink[0], "RMS     amplitude"), 0.01);
}

// While the script waits for a sample that repeats without end, on a device
// that takes data as fast as it is written, the player keeps handling its
// window: it is mapped, shows what was drawn, and is drawn again after it
// was hidden and shown.
TEST_F(Sound, WindowIsDrawnWhileWaitingForASampleEnd) {
  std::string tone = dir() + "/tone.wav";
  int status = 0;
  Tool("sox -n -r 22050 -c 1 -b 16 " + Quote(tone) + " synth 0.2 sine 440", &status);
  ASSERT_EQ(status, 0);
  std::string applet = Applet("waiter", ".line 1\n.call setfillstyle 1\n.call box 0 0 64 48 16711680\n"
                                        ".line 2\n.call loadsample 1 \"" + tone + "\"\n.call playsample 1 0\n"
                                        ".line 3\n.call waitsampleend 1",
                              "display 1 64 48 Waiter\n");
  // A sink over /dev/null: bottomless, and nothing fills the disk.
  WriteFile("bottomless.conf", "pcm.!default {\n  type file\n  slave { pcm { type null } }\n"
                               "  file \"/dev/null\"\n  format \"raw\"\n}\n");
  vlplayer::RunOptions options;
  options.env = {"ALSA_CONFIG_PATH=" + dir() + "/bottomless.conf"};
  std::string mapState, before, after;
  options.whileRunning = [&](pid_t player, const std::string& display) {
    const std::string id = vlplayer::WaitForWindow(display, "Waiter");
    if (!id.empty()) {
      const std::string red("\xff\x00\x00", 3);
      auto grab = [&] {
        std::string pixels;
        for (int i = 0; i < 50; ++i) {
          pixels = Tool("import -window " + id + " -depth 8 -crop 1x1+32+24 rgb:-");
          if (pixels == red) break;
          usleep(100000);
        }
        return pixels;
      };
      std::string info = Tool("xwininfo -id " + id);
      size_t at = info.find("Map State: ");
      if (at != std::string::npos) mapState = info.substr(at + 11, info.find('\n', at) - at - 11);
      before = grab();
      Tool("xdotool windowunmap --sync " + id + " windowmap --sync " + id);
      after = grab();
    }
    kill(player, SIGTERM);
  };
  Result r = Run({applet}, options);
  EXPECT_EQ(r.status, -SIGTERM) << r.out << r.err;
  EXPECT_EQ(mapState, "IsViewable");
  EXPECT_EQ(before, std::string("\xff\x00\x00", 3));
  EXPECT_EQ(after, std::string("\xff\x00\x00", 3));
}

// Without a device (none named, or -NOSOUND) every sample and music command
// runs on silently: the records are kept and answer attribute queries, and a
// callback-fed music gets its first fill request as with a device.
TEST_F(Sound, WithoutADeviceScriptsRunOnSilently) {
  VL_REQUIRE_TESTDATA();
  std::string tone = dir() + "/tone.wav";
  int status = 0;
  Tool("sox -n -r 44100 -c 1 -b 16 " + Quote(tone) + " synth 0.5 sine 440", &status);
  ASSERT_EQ(status, 0);
  std::string module = std::string(std::getenv("VL_TESTDATA")) + "/mod/ZONE-2A.mod";
  std::string applet = Applet("silent", R"(.function fill
  .params 1
  .line 20
  getfield 1 0 "samples"
  .call base=2 debugprint r1
  ret
.end
.defun Fill fill
.line 1
.call loadsample 1 ")" + tone + R"("
.call playsample 1
.call waitsampleend 1
.call getattribute 2 1 14 -> ms
.call debugprint $ms
.call stopsample 1
.call stopsample 9
.call freesample 1
.line 8
.call openmusic 1 ")" + module + R"("
.call playmusic 1
.call pausemusic 1
.call resumemusic 1
.call stopmusic 1
.call closemusic 1
.line 14
.table 0 { fillmusicbuffer = $Fill }
.call base=1 installeventhandler r0
.call createmusic 2 8000 1
.call playmusic 2
.call ismusicplaying 2 -> p
.call debugprint $p
.call setmusicvolume 2 32
.call stopmusic 2
.call closemusic 2
.call debugprint "silent")");
  WriteFile("nodevice.conf", "pcm.!default { type hw card \"nosuchcard\" }\n");
  vlplayer::RunOptions noDevice;
  noDevice.env = {"ALSA_CONFIG_PATH=" + dir() + "/nodevice.conf"};
  Result r = Run({applet}, noDevice);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "500\n16000\nfalse\nsilent\n");
  // The sound library's own complaints about the missing card stay off the
  // terminal.
  EXPECT_EQ(r.err.find("ALSA lib"), std::string::npos) << r.err;
  r = Run({"-nosound", applet});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "500\n16000\nfalse\nsilent\n");
  EXPECT_TRUE(SinkFiles().empty()) << "-nosound opened the device";
}

// The device named on the command line is the one opened, also when
// IsSound is the command that starts the output.
TEST_F(Sound, IsSoundOpensTheDeviceOfTheCommandLine) {
  const std::string tone = dir() + "/tone.wav", other = dir() + "/other";
  int status = 0;
  Tool("mkdir " + Quote(other) + " && sox -n -r 8000 -c 1 -b 16 " + Quote(tone) + " synth 0.2 sine 440", &status);
  ASSERT_EQ(status, 0);
  std::ifstream in(dir() + "/asound.conf");
  const std::string conf((std::istreambuf_iterator<char>(in)), {});
  WriteFile("asound.conf", conf + "pcm.other {\n  type file\n  slave { pcm { type null } }\n  file \"" + other +
                               "/out.wav\"\n  format \"wav\"\n}\n");
  Result r = Run({"-audiodevice", "other",
                  Applet("device", ".line 1\n.call issound -> s\n.call debugprint $s\n.call loadsample 1 \"" + tone +
                                       "\"\n.call playsample 1\n.call waitsampleend 1\n")});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "true\n");
  EXPECT_TRUE(SinkFiles().empty()) << "the default device was opened";
  EXPECT_NEAR(SoxStat(other + "/out.wav", "Length (seconds)"), 0.2, 0.001);
}

// A play time plays whole passes and then the rest of one: 1.2 s of a
// 0.5 s sample is two passes and 0.2 s more, 0.3 s one partial pass; with
// "times" as well the time is ignored.
TEST_F(Sound, APlayTimeEndsInAPartialPass) {
  const std::string tone = dir() + "/tone.wav";
  int status = 0;
  Tool("sox -n -r 8000 -c 1 -b 16 " + Quote(tone) + " synth 0.5 sine 440", &status);
  ASSERT_EQ(status, 0);
  std::string script = ".line 1\n.call loadsample 1 \"" + tone + "\"\n";
  for (const char* options : {"time = 1200", "time = 300", "time = 1200, times = 1"})
    script += std::string(".table 0 { ") + options + " }\n.call base=1 playsample 1 r0\n.call waitsampleend 1\n";
  Result r = Run({Applet("playtime", script)});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::vector<std::string> sink = SinkFiles();
  ASSERT_EQ(sink.size(), 3u);
  const double seconds[] = {1.2, 0.3, 0.5};
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(SoxStat(sink[i], "Length (seconds)"), seconds[i], 0.001) << sink[i];
}

// A fill handler may feed its music but not start, resume, seek or stop
// one: each is refused with 1478 there, and the music it tried to start
// stays silent. A callback-fed music faster than any output plays is
// refused (its buffer holds two seconds at its rate) with 1055, whether
// its rate is 768,001 or past the int range; one below 256 is too low (1479).
TEST_F(Sound, AFillHandlerCannotStartSeekOrStopAMusic) {
  const std::string tone = dir() + "/tone.wav";
  int status = 0;
  Tool("sox -n -r 8000 -c 1 -b 16 " + Quote(tone) + " synth 1 sine 440", &status);
  ASSERT_EQ(status, 0);
  std::string script = R"(.function fill
  .params 1
  .line 20
)";
  for (const char* call : {"playmusic 3", "resumemusic 3", "seekmusic 3 0", "playsubsong 0 3", "stopmusic 3"})
    script += std::string("  .call base=2 ") + call + "\n  .call base=2 getlasterror -> e\n  .call base=2 debugprint $e\n";
  script += "  .call base=2 fillmusicbuffer 2 \"end\" 0\n  ret\n.end\n.defun Fill fill\n.line 1\n"
            ".call exitonerror 0\n.call openmusic 3 \"" + tone + "\"\n"
            ".table 0 { fillmusicbuffer = $Fill }\n.call base=1 installeventhandler r0\n"
            ".call createmusic 4 768001 1\n.call getlasterror -> e\n.call debugprint $e\n"
            ".call createmusic 4 2147483648 1\n.call getlasterror -> e\n.call debugprint $e\n"
            ".call createmusic 4 4294967295 1\n.call getlasterror -> e\n.call debugprint $e\n"
            ".call createmusic 4 1e308 1\n.call getlasterror -> e\n.call debugprint $e\n"
            ".call createmusic 4 255 1\n.call getlasterror -> e\n.call debugprint $e\n"
            ".call createmusic 2 8000 1\n.call playmusic 2\n" + vlplayer::WaitUntilMusicStops(2, "poll") +
            ".call ismusicplaying 3 -> p\n.call debugprint $p\n";
  Result r = Run({Applet("fillhandler", script)});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  // The handler may run again before the end it queued is played.
  const std::string refused = "1055\n1055\n1055\n1055\n1479\n1478\n1478\n1478\n1478\n1478\n";
  ASSERT_GT(r.out.size(), refused.size()) << r.out;
  EXPECT_EQ(r.out.substr(0, refused.size()), refused);
  EXPECT_EQ(r.out.substr(r.out.size() - 6), "false\n");
  EXPECT_EQ(r.out.find_first_not_of("1478\n", 25), r.out.size() - 6) << r.out;
}

// A music whose fill handler has no sound to give yet plays silence and
// stops nothing else: beside it an interval, a timeout, key presses and a
// network receive reach a WaitEvent loop as they do without the music, the
// handler is asked again only as the music plays on, CheckEvents returns,
// and the player stays about as idle as without it.
TEST_F(Sound, AStarvingMusicLeavesEveryOtherEventRunning) {
  auto run = [&](bool music, double* cpuSeconds) {
    FILE* server = popen("timeout 30 python3 -c 'import socket, time\n"
                         "s = socket.socket(); s.bind((\"127.0.0.1\", 0)); s.listen(1)\n"
                         "print(s.getsockname()[1], flush=True)\n"
                         "c, _ = s.accept(); time.sleep(0.5); c.sendall(b\"ping\"); c.recv(1)'",
                         "r");
    int port = 0;
    if (!server || fscanf(server, "%d", &port) != 1) ADD_FAILURE() << "no server";
    // Handlers that print what they heard; the last timeout ends the loop.
    auto handler = [](const std::string& name, const std::string& body) {
      return ".function " + name + "\n  .params 1\n" + body + "  ret\n.end\n.defun " + name + "_ " + name + "\n";
    };
    std::string script =
        handler("tick", "  .call base=1 debugprint \"tick\"\n") + handler("once", "  .call base=1 debugprint \"once\"\n") +
        handler("stop", "  loadk 1 #1\n  setglobal 1 \"done\"\n") + handler("fill", "  .call base=1 debugprint \"fill\"\n") +
        handler("key", "  getfield 1 0 \"key\"\n  .call base=2 debugprint \"key\" r1\n") +
        handler("recv", "  .call base=1 receivedata 1 1 4 -> data\n  getglobal 1 \"data\"\n"
                        "  .call base=2 debugprint \"recv\" r1\n") +
        R"(.line 1
.table 0 { onkeydown = $key_, onreceivedata = $recv_, fillmusicbuffer = $fill_ }
.call base=1 installeventhandler r0
.call openconnection 1 "127.0.0.1" )" + std::to_string(port) + "\n" +
                         (music ? ".call createmusic 1 8000 1\n.call playmusic 1\n" : "") + R"(
.call setinterval 1 $tick_ 50
.call settimeout 2 $once_ 300
.call settimeout 3 $stop_ 1500
loop:
.call base=1 waitevent
getglobal 1 "done"
test 1 1 0
jump loop
.call checkevents
.call debugprint "end")";
    RunOptions options;
    options.whileRunning = [&](pid_t, const std::string& display) {
      const std::string window = vlplayer::WaitForWindow(display, "Vellamora");
      ASSERT_FALSE(window.empty());
      Tool("DISPLAY=" + Quote(display) + " xdotool windowfocus --sync " + window + " sleep 0.3 key a b c");
    };
    rusage before{}, after{};
    getrusage(RUSAGE_CHILDREN, &before);
    Result r = Run({Applet(music ? "starving" : "control", script)}, options);
    getrusage(RUSAGE_CHILDREN, &after);
    if (server) pclose(server);
    auto seconds = [](const rusage& u) {
      return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    };
    *cpuSeconds = seconds(after) - seconds(before);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    return r.out;
  };
  auto count = [](const std::string& text, const std::string& line) {
    int n = 0;
    for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) ++n;
    return n;
  };
  double controlCpu = 0, musicCpu = 0;
  const std::string control = run(false, &controlCpu), starving = run(true, &musicCpu);
  std::printf("control: %d ticks, %.3f s CPU; starving music: %d ticks, %d fills, %.3f s CPU\n",
              count(control, "tick\n"), controlCpu, count(starving, "tick\n"), count(starving, "fill\n"), musicCpu);
  for (const std::string& out : {control, starving}) {
    EXPECT_EQ(count(out, "once\n"), 1) << out;
    EXPECT_EQ(count(out, "recv ping\n"), 1) << out;
    EXPECT_NE(out.find("key a\n"), std::string::npos) << out;
    EXPECT_NE(out.find("key b\n"), std::string::npos) << out;
    EXPECT_NE(out.find("key c\n"), std::string::npos) << out;
    EXPECT_EQ(out.substr(out.size() - 4), "end\n") << out;
  }
  EXPECT_GE(count(starving, "tick\n"), count(control, "tick\n") * 3 / 4) << starving;
  EXPECT_GE(count(control, "tick\n"), 10) << control;
  // Asked again as the music plays on (a read at a time), not on every step.
  EXPECT_GE(count(starving, "fill\n"), 2) << starving;
  EXPECT_LE(count(starving, "fill\n"), 400) << starving;
  // A sanitizer build's player spends its time in the checks: its CPU
  // beside a loaded machine says nothing about a spin.
#if !defined(__SANITIZE_ADDRESS__)
  EXPECT_LT(musicCpu, controlCpu + 0.5);
#endif
}

// What the file sink records is what was heard when a sound ends early:
// a looped sample and a music stopped 0.3 s in, a music paused 0.3 s in
// and stopped a second after its resume each record as long as they
// played (a period, 25 ms, more at most), not what was written ahead of
// the clock. A music paused, sought to 5000 ms (its position then) and
// resumed plays the last 3 s of its 8, whole, and ends.
TEST_F(Sound, EarlyStopsPausesAndSeeksRecordWhatWasHeard) {
  const std::string tone = dir() + "/tone.wav", eight = dir() + "/eight.wav";
  int status = 0;
  Tool("sox -n -r 22050 -c 1 -b 16 " + Quote(tone) + " synth 1.5 sine 440 && sox -n -r 8000 -c 1 -b 16 " +
           Quote(eight) + " synth 8 sine 330", &status);
  ASSERT_EQ(status, 0);
  const std::string play = "\n.call starttimer 1\n.call play", stop = "\n.call wait 15\n.call ";
  Result r = Run({Applet("early", ".line 1\n.call loadsample 1 \"" + tone + "\"\n.call openmusic 2 \"" + tone +
                                      "\"\n.call openmusic 3 \"" + eight + "\"" + play + "sample 1 2" + stop +
                                      "stopsample 1\n.call gettimer 1 -> a" + play + "music 2" + stop +
                                      "stopmusic 2\n.call gettimer 1 -> b" + play + "music 2" + stop +
                                      "pausemusic 2\n.call gettimer 1 -> c\n.call wait 50\n.call starttimer 1\n"
                                      ".call resumemusic 2\n.call wait 50\n.call stopmusic 2\n.call gettimer 1 -> d\n"
                                      ".call playmusic 3" + stop + "pausemusic 3\n.call seekmusic 3 5000\n"
                                      ".call getattribute 33 3 18 -> pos\n.call starttimer 1\n.call resumemusic 3\n" +
                                      vlplayer::WaitUntilMusicStops(3, "poll") +
                                      ".call gettimer 1 -> e\n.call debugprint $a $b $c $d $pos $e")});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  int played[4], pos, e;
  ASSERT_EQ(std::sscanf(r.out.c_str(), "%d %d %d %d %d %d", &played[0], &played[1], &played[2], &played[3], &pos, &e), 6);
  const std::vector<std::string> sink = SinkFiles();
  ASSERT_EQ(sink.size(), 6u) << r.out;
  double seconds[6];
  for (int i = 0; i < 6; ++i) seconds[i] = SoxStat(sink[i], "Length (seconds)");
  std::printf("recorded %.3f %.3f %.3f %.3f %.3f %.3f s; the applet printed %s", seconds[0], seconds[1], seconds[2],
              seconds[3], seconds[4], seconds[5], r.out.c_str());
  for (int i = 0; i < 4; ++i) {
    EXPECT_LT(seconds[i], played[i] / 1000.0 + 0.05) << sink[i];
    EXPECT_GT(seconds[i], i == 3 ? 0.5 : 0.1) << sink[i];
  }
  EXPECT_EQ(pos, 5000);
  EXPECT_LT(seconds[4], 0.5);
  EXPECT_NEAR(seconds[5], 3.0, 0.001);
  EXPECT_GE(e, 2990);
  EXPECT_LT(e, 5500) << "the end came late, as after a seek that was lost";
}

// A 16-bit stereo RIFF WAVE of 2000 frames of a square wave whose format
// chunk declares the rate given.
std::string WaveDeclaring(uint32_t rate) {
  auto u32 = [](uint32_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; };
  const uint32_t frames = 2000, bytes = frames * 4;
  std::string wav = "RIFF" + u32(36 + bytes) + "WAVEfmt " + u32(16) + std::string("\1\0\2\0", 4) + u32(rate) +
                    u32(rate * 4) + std::string("\4\0\20\0", 4) + "data" + u32(bytes);
  for (uint32_t i = 0; i < frames * 2; ++i) wav += (i / 40) % 2 ? std::string("\0\x40", 2) : std::string("\0\xC0", 2);
  return wav;
}

// A sound whose file declares a rate no output plays (below 256 or above
// 768,000 samples a second) is refused when it is opened, as a file of an
// unsupported format, before anything is sized from that rate: the
// 4,294,967,295 a second of a WAV asked PlayMusic for 32 GiB of stream
// buffer, which failed with 1000, or under the address sanitizer ended the
// player. The script's error handler gets the refusal (and PlayMusic finds
// no music) and the applet goes on; the
// rates at the ends of the range load, and the highest plays through the
// file sink at that rate.
TEST_F(Sound, ASoundDeclaringARateNoOutputPlaysIsRefusedAtOpen) {
  const std::string huge = WriteFile("huge.wav", WaveDeclaring(4294967295u));
  std::string script = R"(.function onerror
  .params 4
  .call base=4 debugprint "handled" r0 r2
  .call base=4 debugprint r1
  ret
.end
.defun OnError onerror
.line 1
.call base=1 raiseonerror $OnError
.call openmusic 1 ")" + huge + R"("
.call playmusic 1
.call base=1 raiseonerror nil
.call exitonerror 0
)";
  for (uint32_t rate : {4294967295u, 255u, 768001u, 256u, 768000u}) {
    const std::string r = std::to_string(rate), file = WriteFile(r + ".wav", WaveDeclaring(rate));
    script += ".call loadsample 1 \"" + file + "\"\n.call getlasterror -> s\n.call openmusic 2 \"" + file +
              "\"\n.call getlasterror -> m\n.call issample \"" + file + "\" -> i\n.call debugprint " + r +
              " $s $m $i\n";
  }
  script += ".call playsample 1\n.call waitsampleend 1\n.call debugprint \"played\"\n";
  Result r = Run({Applet("rates", script)});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "handled 1357 OpenMusic\nSound file \"huge.wav\" is in an unknown/unsupported format!\n"
                   "handled 1231 PlayMusic\nCould not find music 1!\n4294967295 1357 1357 false\n255 1357 1357 false\n768001 1357 1357 false\n256 0 0 true\n"
                   "768000 0 0 true\nplayed\n");
  const std::vector<std::string> sink = SinkFiles();
  ASSERT_EQ(sink.size(), 1u);
  EXPECT_EQ(SoxStat(sink[0], "Samples read"), 4000);
  EXPECT_NEAR(SoxStat(sink[0], "Length (seconds)"), 2000 / 768000.0, 1e-6);
}

// A video plays its sound on channel 2. SetChannelVolume 2 sets the
// video's volume; StopChannel 2 stops the video, as StopVideo would; played
// there again, a sample played on channel 2 takes the channel over and
// stops the video too.
TEST_F(Sound, TakingOverAVideosChannelStopsTheVideo) {
  const std::string video = dir() + "/sound.avi", tone = dir() + "/tone.wav";
  int status = 0;
  Tool("ffmpeg -v error -y -f lavfi -i testsrc=size=32x24:rate=10 -f lavfi -i sine=frequency=440:sample_rate=22050 "
       "-t 20 -ac 2 -c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le " + Quote(video) + " && sox -n -r 22050 -c 1 -b 16 " +
           Quote(tone) + " synth 0.3 sine 660",
       &status);
  ASSERT_EQ(status, 0);
  const std::string play = ".table 0 { channel = 2 }\n.call base=1 playvideo 1 0 0 r0\n.call wait 20\n"
                           ".call ischannelplaying 2 -> p t\n.call isvideoplaying 1 -> v\n.call debugprint $p $t $v\n";
  Result r = Run({"-debugdevice", "console", Applet("takeover", ".line 1\n.table 0 { width = 64, height = 48, title = \"takeover\" }\n"
                                     ".call base=1 createdisplay 2 r0\n.call opendisplay 2\n.call openvideo 1 \"" +
                                         video + "\"\n.call loadsample 1 \"" + tone + "\"\n" + play +
                                         ".call setchannelvolume 2 16\n.call stopchannel 2\n.call isvideoplaying 1 -> v\n"
                                         ".call ischannelplaying 2 -> p\n.call debugprint $v $p\n" + play +
                                         ".table 0 { channel = 2 }\n.call base=1 playsample 1 r0\n"
                                         ".call isvideoplaying 1 -> v\n.call ischannelplaying 2 -> p t\n"
                                         ".call debugprint $v $p $t\n.call waitsampleend 1\n")});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "true 50 1\n0 false\ntrue 50 1\n0 true 2\n");
  // The volume set on the channel stays the video's: its next play peaks
  // at a quarter of the first play's full-volume peak.
  const std::vector<std::string> sink = SinkFiles();
  ASSERT_EQ(sink.size(), 3u);
  const double peak = SoxStat(sink[0], "Maximum amplitude");
  EXPECT_GT(peak, 0.05);
  EXPECT_NEAR(SoxStat(sink[1], "Maximum amplitude"), peak / 4, peak / 40);
}

// An AVI's PCM sound plays every sample once, in order, at the file's own
// rate, whether its header is the plain one (48 kHz) or the extensible one
// ffmpeg writes above 48 kHz (96 and 192 kHz; it played silent and
// answered success). Sample i of the source holds i + 1 (the right channel
// its complement), so the file sink's recording names each sample it got;
// silence (zeros) before and after is the output's own.
TEST_F(Sound, AnAVIsPCMSoundPlaysEverySampleAtItsRateUnderEitherHeader) {
  struct Clip {
    int rate, channels;
    size_t samples;
  };
  std::vector<Clip> clips;
  std::string body = ".line 1\n.table 0 { width = 32, height = 24, title = \"pcm\" }\n"
                     ".call base=1 createdisplay 2 r0\n.call opendisplay 2\n";
  for (int rate : {48000, 96000, 192000})
    for (int channels : {1, 2}) {
      const size_t samples = size_t(rate) * 3 / 10;
      std::string ramp;
      for (size_t i = 0; i < samples; ++i)
        for (int c = 0; c < channels; ++c) {
          const uint16_t v = c ? uint16_t(~(i + 1)) : uint16_t(i + 1);
          ramp += char(v & 0xff);
          ramp += char(v >> 8);
        }
      const std::string name = std::to_string(rate) + "x" + std::to_string(channels);
      const std::string raw = WriteFile(name + ".raw", ramp), clip = dir() + "/" + name + ".avi";
      int status = 0;
      Tool("ffmpeg -v error -y -f lavfi -i testsrc=size=32x24:rate=10 -f s16le -ar " + std::to_string(rate) +
               " -ac " + std::to_string(channels) + " -i " + Quote(raw) +
               " -t 0.3 -c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le " + Quote(clip),
           &status);
      ASSERT_EQ(status, 0);
      std::ifstream in(clip, std::ios::binary);
      const std::string bytes{std::istreambuf_iterator<char>(in), {}};
      const size_t format = bytes.find("strf", bytes.find("auds"));
      ASSERT_NE(format, std::string::npos);
      // ffmpeg's choice of header, which the case is about.
      EXPECT_EQ(uint8_t(bytes[format + 8]) | uint8_t(bytes[format + 9]) << 8, rate > 48000 ? 0xFFFE : 1) << name;
      clips.push_back({rate, channels, samples});
      body += ".call openvideo 1 " + vlplayer::Lit(clip) + "\n.call playvideo 1\n" +
              vlplayer::WaitForVideoEnd("end" + name, 1, 200) + ".call stopvideo 1\n";
    }
  Result r = Run({Applet("pcm", body)});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::vector<std::string> sink = SinkFiles();
  ASSERT_EQ(sink.size(), clips.size());
  for (size_t k = 0; k < clips.size(); ++k) {
    const Clip& c = clips[k];
    SCOPED_TRACE(std::to_string(c.rate) + " Hz, " + std::to_string(c.channels) + " channel(s)");
    std::ifstream in(sink[k], std::ios::binary);
    const std::string wav{std::istreambuf_iterator<char>(in), {}};
    ASSERT_GT(wav.size(), 44u);
    auto word = [&](size_t at) { return uint32_t(uint8_t(wav[at]) | uint8_t(wav[at + 1]) << 8); };
    const uint32_t channels = word(22), rate = word(24) | word(26) << 16;
    EXPECT_EQ(rate, uint32_t(c.rate));
    ASSERT_TRUE(channels == 1 || channels == 2) << channels;
    const size_t data = wav.find("data");
    ASSERT_NE(data, std::string::npos);
    // The source sample each recorded frame holds, silence left out.
    std::vector<uint32_t> heard;
    int wrongRight = 0;
    for (size_t at = data + 8; at + 2 * channels <= wav.size(); at += 2 * channels) {
      const uint32_t left = word(at), right = channels == 2 ? word(at + 2) : left;
      if (left == 0) continue;
      heard.push_back(left);
      const uint32_t expected = c.channels == 2 ? (~left & 0xffff) : left;
      if (right != expected) ++wrongRight;
    }
    EXPECT_EQ(wrongRight, 0);
    ASSERT_EQ(heard.size(), c.samples);
    size_t outOfOrder = 0;
    for (size_t i = 0; i < heard.size(); ++i)
      if (heard[i] != uint32_t(i + 1) && outOfOrder++ < 3) ADD_FAILURE() << "frame " << i << " holds " << heard[i];
    EXPECT_EQ(outOfOrder, 0u);
  }
}

}  // namespace
