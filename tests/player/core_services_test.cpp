// The system, file, sound, requester, font and built-in data services as a
// plug-in meets them: a C plug-in built against the plug-in header alone
// (probe_core_services_plugin.c) sits beside a copy of the player, the
// applet calls it, and what it reports is checked against the applet's
// own records, the clock, files on disk, the sound device, dialogs
// answered with xdotool and the font files installed.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/player/player_harness.h"

namespace {

using vlplayer::Quote;
using vlplayer::Result;
using vlplayer::RunOptions;

// A text for the assembler.
std::string Str(const std::string& text) { return "\"" + text + "\""; }

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool Exists(const std::string& path) {
  struct stat st{};
  return stat(path.c_str(), &st) == 0;
}

uint32_t Le32(const std::string& b, size_t at) {
  return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8 | uint32_t(uint8_t(b[at + 2])) << 16 |
         uint32_t(uint8_t(b[at + 3])) << 24;
}

// A WAV file's format words and its data chunk.
struct Wave {
  uint16_t channels = 0, bits = 0;
  uint32_t rate = 0;
  std::string data;
};

Wave ReadWave(const std::string& path) {
  Wave w;
  std::string b = ReadFile(path);
  for (size_t at = 12; at + 8 <= b.size();) {
    uint32_t size = Le32(b, at + 4);
    std::string id = b.substr(at, 4);
    if (id == "fmt " && at + 24 <= b.size()) {
      w.channels = uint16_t(uint8_t(b[at + 10]) | uint8_t(b[at + 11]) << 8);
      w.rate = Le32(b, at + 12);
      w.bits = uint16_t(uint8_t(b[at + 22]) | uint8_t(b[at + 23]) << 8);
    } else if (id == "data") {
      // A sink that never closed its file leaves the size open: take the rest.
      w.data = b.substr(at + 8, size <= b.size() - at - 8 ? size : std::string::npos);
      break;
    }
    at += 8 + size + (size & 1);
  }
  return w;
}

// The square wave the probe writes: 16-bit mono, little-endian.
std::string Square(int frames, int period, int level) {
  std::string out;
  for (int i = 0; i < frames; ++i) {
    auto v = static_cast<uint16_t>(static_cast<int16_t>((i % period) < period / 2 ? level : -level));
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>(v >> 8);
  }
  return out;
}

class CoreServices : public vlplayer::PlayerTest {
 protected:
  // The player copied beside the probe plug-in, which start-up loads.
  RunOptions WithProbe() {
    if (program_.empty()) {
      program_ = WriteFile("vellamora-player", ReadFile(VL_PLAYER_PATH));
      chmod(program_.c_str(), 0755);
      WriteFile("probecore.vlp", ReadFile(VL_PROBECORE_PATH));
    }
    RunOptions options;
    options.program = program_;
    return options;
  }
  std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

 private:
  std::string program_;
};

// Every built slot of the probe's sub-tables is set and every empty one
// null; the tags answer the applet's information texts, the frame-rate
// limit the script set and that no requester thread runs yet; the date
// stamp is the clock's; a temporary name is a new file that is written,
// locked, examined and removed; the carried faces are the Vera files.
TEST_F(CoreServices, SystemFilesAndBuiltinData) {
  const std::string applet = Applet("probesys", ".line 1\n"
                                                ".call probecore.slots -> A\n.call debugprint $A\n"
                                                ".call setfpslimit 25\n"
                                                ".call probecore.tags -> B\n.call debugprint $B\n"
                                                ".call probecore.datestamp -> C\n.call debugprint $C\n"
                                                ".call probecore.files " + Str(dir()) + " -> D\n.call debugprint $D\n"
                                                ".call probecore.builtin " + Str(dir()) + " -> E\n.call debugprint $E",
                                    "revision 6 1\nheader 1 Probe Title\nheader 2 1.5\nheader 3 (c) Probe\n"
                                    "header 4 Probe Author\nheader 5 Probes the services\n"
                                    "identifier org.example.probe\n");
  const time_t started = time(nullptr);
  Result r = Run({applet}, WithProbe());
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  std::vector<std::string> lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 5u) << r.out;
  EXPECT_EQ(lines[0], "slots ok");
  EXPECT_EQ(lines[1],
            "Probe Title|1.5|(c) Probe|Probe Author|Probes the services|org.example.probe|"
            "fps=25 gtk=0 tag25=0 handled=9");

  // The stamp is the local time of the run, to the second.
  tm t{};
  ASSERT_NE(strptime(lines[2].c_str(), "%Y-%m-%d %H:%M:%S", &t), nullptr) << lines[2];
  t.tm_isdst = -1;
  const time_t stamp = mktime(&t);
  EXPECT_GE(stamp, started - 1);
  EXPECT_LE(stamp, time(nullptr) + 1);

  const std::regex files("temp=(\\S+) made=1 wrote=1 stream=1 streamname=1 stat=1 size=6 dir=0 recent=1 "
                         "examine=1 name=1 size=6 rw=1 static=1 folder=1 null=000 removed=1");
  std::smatch m;
  ASSERT_TRUE(std::regex_match(lines[3], m, files)) << lines[3];
  EXPECT_EQ(m[1].str().rfind(temp() + "/vellamora.", 0), 0u) << m[1];
  EXPECT_FALSE(Exists(m[1].str()));

  EXPECT_EQ(lines[4], "111");
  const char* vera[] = {"Vera.ttf", "VeraSe.ttf", "VeraMono.ttf"};
  for (int i = 0; i < 3; ++i) {
    const std::string face = ReadFile(dir() + "/face" + std::to_string(i) + ".ttf");
    EXPECT_EQ(face, ReadFile(std::string("/usr/share/fonts/truetype/ttf-bitstream-vera/") + vera[i])) << i;
  }
}

// An event type registered with one data word reaches the script's handler
// with the word's field, but not when posted while the script quits; a
// display client feeds a click and a key to the
// script and gets refresh calls only once it asks for them.
TEST_F(CoreServices, EventTypesAndDisplayClients) {
  const std::string applet = Applet("probeevents", R"(.function onping
  .params 1
  getfield 1 0 "value"
  .call base=2 debugprint "ping" r1
  ret
.end
.function onmouse
  .params 1
  getfield 1 0 "action"
  .call base=2 debugprint r1
  ret
.end
.function onkey
  .params 1
  getfield 1 0 "action"
  getfield 2 0 "key"
  .call base=3 debugprint r1 r2
  ret
.end
.defun OnPing onping
.defun OnMouse onmouse
.defun OnKey onkey
.line 1
.call probecore.event "OnProbePing" 42 -> A
.call debugprint $A
.call probecore.quitpost 7 -> A
.call debugprint "quitting" $A
.table 0 { onprobeping = $OnPing, onmousedown = $OnMouse, onkeydown = $OnKey }
.call base=1 installeventhandler r0
.call waitevent
.call probecore.clientinput 2 10 20 1 0 -> B
.call debugprint "input" $B
.call waitevent
.call probecore.clientinput 6 65 1 0 0 -> B
.call waitevent
.call probecore.clientadd 1 -> C
.call debugprint "client" $C
.call probecore.clientrefresh 0 -> D
.call vwait
.call probecore.clientrefresh 1 -> D
.call debugprint "refresh" $D
.call vwait
.call probecore.clientrefresh 1 -> D
.call debugprint "refresh" $D
.call probecore.clientinput 2 30 40 1 1 -> B
.call waitevent
.call probecore.clientinput 7 0 0 0 0 -> B
.call debugprint "no client" $B)");
  Result r = Run({"-debugdevice", "console", applet}, WithProbe());
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out,
            "code 0 0\nquitting 0 0\nping 42\ninput 0\nOnMouseDown\nOnKeyDown A\nclient 1\nrefresh 0 0\n"
            "refresh 0 1\nOnMouseDown\nno client 1344\n");
}

// A sample lent as a copy and replaced by a square wave of another length
// and rate plays exactly that wave into the sound device; while it plays
// it cannot be lent; a replacement at a rate too low is refused and leaves
// the sample as it was; a direct lock halves it in place.
TEST_F(CoreServices, SampleLockedReplacedAndPlayed) {
  const std::string tone = dir() + "/tone.wav";
  int status = 0;
  Tool("sox -n -r 44100 -c 1 -b 16 " + Quote(tone) + " synth 0.1 sine 440", &status);
  ASSERT_EQ(status, 0) << "sox cannot make the tone";
  const std::string applet = Applet("probesound", ".line 1\n.call loadsample 1 " + Str(tone) +
                                                      "\n.call probecore.replace 1 4410 22050 50 -> A\n"
                                                      ".call debugprint $A\n"
                                                      ".call playsample 1\n.call probecore.lockstatus 1 -> B C\n"
                                                      ".call debugprint \"playing\" $B $C\n"
                                                      ".call waitsampleend 1\n"
                                                      ".call probecore.replace 1 100 200 10 -> A\n"
                                                      ".call debugprint $A\n"
                                                      ".call probecore.scale 1 2 -> D\n.call debugprint \"scale\" $D\n"
                                                      ".call playsample 1\n.call waitsampleend 1\n"
                                                      ".call probecore.lockstatus 9 -> B C\n"
                                                      ".call debugprint \"missing\" $B $C");
  Result r = Run({applet}, WithProbe());
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out,
            "bytes=8820 frames=4410 channels=1 bits=16 rate=44100 flags=2 unlock=0\n"
            "playing 1475 0\n"
            "bytes=8820 frames=4410 channels=1 bits=16 rate=22050 flags=2 unlock=1479\n"
            "scale 0\nmissing 1178 0\n");
  std::vector<std::string> sink = SinkFiles();
  ASSERT_EQ(sink.size(), 2u);
  for (int i = 0; i < 2; ++i) {
    Wave w = ReadWave(sink[i]);
    EXPECT_EQ(w.channels, 1);
    EXPECT_EQ(w.bits, 16);
    EXPECT_EQ(w.rate, 22050u);
    EXPECT_TRUE(w.data == Square(4410, 50, i == 0 ? 8000 : 4000)) << "play " << i << ": " << w.data.size() << " bytes";
  }
}

// The message box, file and folder requesters of a plug-in are the
// toolkit's dialogs, answered here from the keyboard; the requester thread
// runs from the first one on; a folder that does not fit the buffer is not
// cut but refused; a cancelled one leaves an empty buffer.
TEST_F(CoreServices, RequestersAnsweredByTheUser) {
  int status = 0;
  Tool("xdotool version >/dev/null 2>&1", &status);
  if (status != 0) GTEST_SKIP() << "xdotool is not installed";
  const std::string folder = dir() + "/picks";
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  WriteFile("picks/pick.txt", "x");
  const std::string applet =
      Applet("proberequest", ".line 1\n.call probecore.request " + Str(folder) + " -> A\n.call debugprint $A");
  RunOptions options = WithProbe();
  std::string missing;
  options.whileRunning = [&](pid_t, const std::string& display) {
    const std::vector<std::pair<std::string, std::vector<std::string>>> answers = {
        {"Probe box", {"key Right", "key Return"}},
        {"Probe file", {"key ctrl+l sleep 0.3 type --delay 10 pick.txt", "sleep 0.3 key Return"}},
        {"Probe folder", {"key Return"}},
        {"Probe small", {"key Return"}},
        {"Probe cancel", {"key Escape"}}};
    for (const auto& [title, commands] : answers) {
      const std::string window = vlplayer::WaitForWindow(display, title, 30000);
      if (window.empty()) {
        missing += "[" + title + "]";
        return;
      }
      Tool("xdotool windowfocus --sync " + window);
      for (const std::string& command : commands) Tool("xdotool " + command);
    }
  };
  Result r = Run({applet}, options);
  EXPECT_EQ(missing, "");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "2|1 " + folder + "/pick.txt|1 " + folder + "|0 []|0 []|gtk 0 1\n");
}

// A plug-in's protected call catches what fails under it, a command or a
// script function, at the top level or inside a system callback: the
// plug-in gets the code, the script goes on, and its error function, the
// command named to it and a later uncaught error are as if nothing had
// been caught. The stack top is not reset: a command's own error leaves
// it below the function, one inside a script function above it (the
// plug-in sets it back); a call that succeeds takes its function off. An
// error the plug-in lets pass still ends the script.
TEST_F(CoreServices, ProtectedCallOfAPlugInCatches) {
  const std::string applet = Applet("probecall", R"(.function inner
  .line 20
  .call error "inner failed"
  ret
.end
.function each
  .params 2
  .line 30
  .call base=2 probecore.guarded $error "in callback" -> A
  .call base=2 debugprint "callback" $A
  ret
.end
.function onerror
  .params 4
  .call base=4 debugprint "handled" r0 r2 r3
  ret
.end
.defun Inner inner
.defun Each each
.defun OnError onerror
.line 1
loadk 0 #7
.call base=1 probecore.guarded $error "boom" -> A L
.call base=1 debugprint "command" $A $L r0
.line 2
.call base=1 probecore.guarded $Inner -> A L
.call base=1 debugprint "script" $A $L
.call base=1 probecore.guarded $getlasterror -> A L
.call base=1 debugprint "fine" $A $L
.call base=1 probecore.guardedone $error "one" -> A
.call base=1 debugprint "one:" $A
.call base=1 probecore.guardedone $getlasterror -> A
.call base=1 debugprint "one:" $A
.line 3
.call base=1 foreach { 5 } $Each
.line 4
.call base=1 raiseonerror $OnError
.call base=1 openfile 1 "/nonexistent/y"
.call base=1 raiseonerror nil
.line 5
.call base=1 probecore.unguarded $openfile 2 "/nonexistent/z" -> A
.call base=1 debugprint "after" $A)");
  Result r = Run({applet}, WithProbe());
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_EQ(r.out,
            "command 1239 0 7\nscript 1239 1\nfine 0 0\none: 1239 1 nil\none: 0 1 number\ncallback 1239\n"
            "handled 1045 OpenFile 4\n");
  EXPECT_EQ(r.err, "@probecall.vls:5: Cannot read file z !\n");
}

// A timer adapter without a display adapter: the probe, required at
// start-up, takes the interval; its thread posts a call event when the
// interval is due, whose function runs the handler on the script's thread
// when the script runs handlers (checkevents), until the interval is
// cleared after three. Such a handler is no event of a waitevent's own:
// the waitevent runs it and waits on, here until the third ends the
// script.
TEST_F(CoreServices, TimerAdapterWithoutADisplayAdapterRunsTheHandlers) {
  const std::string applet = Applet("probetimer", R"(.function tick
  .params 1
  getglobal 1 "Ticks"
  add 1 1 #1
  setglobal 1 "Ticks"
  ret
.end
.function last
  .params 1
  getglobal 1 "Ticks"
  add 1 1 #1
  setglobal 1 "Ticks"
  lt 1 1 #3
  jump notyet
  .call base=2 debugprint "third" $Ticks
  .call base=2 end
notyet:
  ret
.end
.defun Tick tick
.defun Last last
.line 1
loadk 0 #0
setglobal 0 "Ticks"
.call setinterval 1 $Tick 20
loop:
.call wait 1
.call checkevents
getglobal 0 "Ticks"
lt 1 0 #3
jump loop
.call clearinterval 1
.call probecore.timers -> T
.call debugprint "ticked" $T
loadk 0 #0
setglobal 0 "Ticks"
.call setinterval 2 $Last 20
.call waitevent
.call debugprint "waitevent ended")");
  Result r = Run({"-requireplugins", "probecore", applet}, WithProbe());
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "ticked made 1 every 20 once 0 freed 1\nthird 3\n");
}

// File and directory adapters and a sample saver built from the header
// alone get the words and give the answers the header describes: FOpen's
// mode code (#MODE_READ arrives as 4, #MODE_WRITE as 1, #MODE_READWRITE
// as 2) with the flags tag, FSeek's position before the seek, FStat's and
// Stat's status blocks, OpenDir's flags 5 and NextDirEntry's names and
// type words; the saver's
// rows, asked for twice, make two formats that each save as themselves.
TEST_F(CoreServices, FileAdaptersAndSaversWorkAsTheHeaderSays) {
  RunOptions options = WithProbe();
  WriteFile("probefiles.vlp", ReadFile(VL_PROBEFILES_PATH));
  const std::string log = dir() + "/probefiles.log";
  options.env = {"VL_PROBEFILES_LOG=" + log};
  std::string text = R"(.line 1
.table 0 { adapter = "probefiles" }
.call base=1 openfile 1 "probe:hello" #MODE_READ r0
.call readline 1 -> L
.call seek 1 6
.call filepos 1 -> P
.call readline 1 -> M
.call filelength 1 -> N
.call closefile 1
.call debugprint $L $P $M $N
.table 0 { adapter = "probefiles" }
.call base=1 openfile 2 "probe:out" #MODE_WRITE r0
.call writeline 2 "abc"
.call filelength 2 -> W
.call closefile 2
.table 0 { adapter = "probefiles" }
.call base=1 openfile 4 "probe:out" #MODE_READWRITE r0
.call closefile 4
.call getfileattributes "probe:hello" "probefiles" -> A
getglobal 0 "A"
getfield 1 0 "size"
getfield 2 0 "flags"
.call base=3 debugprint $W r1 r2
.table 0 { adapter = "probefiles" }
.call base=1 opendirectory 3 "probe:dir" r0
entry:
.call nextdirectoryentry 3 -> E
getglobal 0 "E"
loadnil 1 1
eq 1 0 1
jump done
getfield 1 0 "name"
getfield 2 0 "type"
.call base=3 debugprint r1 r2
jump entry
done:
.call closedirectory 3
.call getconstant "#SMPFMT_PROBEA" -> FA
.call getconstant "#SMPFMT_PROBEB" -> FB
.call debugprint $FA $FB
.table 0 { 0, 100, -100, 0 }
.call base=1 createsample 5 r0 256
.call savesample 5 "OUT/a.smp" $FA
.call savesample 5 "OUT/b.smp" $FB
)";
  for (size_t at; (at = text.find("OUT/")) != std::string::npos;) text.replace(at, 3, dir());
  Result r = Run({Applet("probefiles", text)}, options);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "hello 6 adapter 14\n4 14 3\na.txt 0\nsub 1\n91 92\n");
  EXPECT_EQ(ReadFile(dir() + "/a.smp"), "format 91 frames 4");
  EXPECT_EQ(ReadFile(dir() + "/b.smp"), "format 92 frames 4");
  const std::string said = ReadFile(log);
  for (const char* line : {"fopen probe:hello 4 flags-tag 1\n", "fseek 6 1 -> ", "fopen probe:out 1 flags-tag 1\n",
                           "fopen probe:out 2 flags-tag 1\n",
                           "stat probe:hello 0 preset-year ", "opendir probe:dir 5\n", "nextdirentry 0\n"})
    EXPECT_NE(said.find(line), std::string::npos) << line << " in\n" << said;
}

// Faces are found by family with the nearest weight and slant, by full
// name and by file name; a face inside a collection comes as a temporary
// file holding it alone, which the toolkit's font scanner reads; a face
// the player carries comes as its bytes.
TEST_F(CoreServices, FontFilesFound) {
  const std::string fonts = dir() + "/fonts";
  ASSERT_EQ(mkdir(fonts.c_str(), 0755), 0);
  const std::string dejavu = "/usr/share/fonts/truetype/dejavu/";
  int status = 0;
  Tool("python3 " + Quote(std::string(VL_SOURCE_ROOT) + "/tests/text/fonts/make_font_containers.py") + " ttc " +
           Quote(fonts + "/pair.ttc") + " " + dejavu + "DejaVuSans.ttf " + dejavu + "DejaVuSerif.ttf",
       &status);
  ASSERT_EQ(status, 0);
  auto call = [&](const std::string& name, int slant, int weight, const std::string& copy) {
    return ".call probecore.font " + Str(name) + " " + std::to_string(slant) + " " + std::to_string(weight) + " " +
           Str(dir() + "/" + copy) + " -> A\n.call debugprint $A\n";
  };
  const std::string applet =
      Applet("probefonts", ".line 1\n.call addfontpath " + Str(fonts) + "\n" + call("DejaVu Serif", -1, -1, "serif.ttf") +
                               call("DejaVu Sans", 0, 200, "x") + call("dejavu sans", 110, 80, "x") +
                               call("DejaVu Sans", 110, 200, "x") + call("DejaVu Sans Bold", -1, -1, "x") +
                               call("DejaVuSerif-Italic.ttf", -1, -1, "x") +
                               call("Bitstream Vera Serif", -1, -1, "vera.ttf") + call("No Such Face", -1, -1, "x"));
  Result r = Run({applet}, WithProbe());
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  std::vector<std::string> lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 8u) << r.out;

  std::smatch m;
  ASSERT_TRUE(std::regex_match(lines[0], m, std::regex("(\\S+) size=(\\d+) offset=0 temp=1 data=0"))) << lines[0];
  EXPECT_EQ(m[1].str().rfind(temp() + "/vellamora.", 0), 0u) << m[1];
  EXPECT_FALSE(Exists(m[1].str())) << "the probe removes the temporary face";
  const std::string serif = ReadFile(dir() + "/serif.ttf");
  EXPECT_EQ(std::to_string(serif.size()), m[2].str());
  EXPECT_EQ(Tool("fc-scan --format '%{family}|%{style}' " + Quote(dir() + "/serif.ttf")), "DejaVu Serif|Book");

  auto file = [&](const std::string& name) {
    struct stat st{};
    stat((dejavu + name).c_str(), &st);
    return dejavu + name + " size=" + std::to_string(st.st_size) + " offset=0 temp=0 data=0";
  };
  EXPECT_EQ(lines[1], file("DejaVuSans-Bold.ttf"));
  EXPECT_EQ(lines[2], file("DejaVuSans-Oblique.ttf"));
  EXPECT_EQ(lines[3], file("DejaVuSans-BoldOblique.ttf"));
  EXPECT_EQ(lines[4], file("DejaVuSans-Bold.ttf"));
  EXPECT_EQ(lines[5], file("DejaVuSerif-Italic.ttf"));
  EXPECT_EQ(lines[6], " size=60280 offset=0 temp=0 data=1");
  EXPECT_EQ(ReadFile(dir() + "/vera.ttf"), ReadFile("/usr/share/fonts/truetype/ttf-bitstream-vera/VeraSe.ttf"));
  EXPECT_EQ(lines[7], "not found");
}

}  // namespace
