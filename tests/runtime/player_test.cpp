// The real player executable on applets assembled here: exit status and
// console output for a normal end, a quit, script errors, broken
// containers, declarations, a compressed container and a container linked
// into a copy of the player itself.
#include <gtest/gtest.h>
#include <zlib.h>

#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/platform/x11_server.h"
#include "tests/runtime/container_builder.h"
#include "tools/chunkasm/chunkasm.h"

namespace {

using vltest::ContainerBytes;

// Errors reported on the console instead of the toolkit's message box,
// which would wait for a user.
const std::string kConsole = "-debugdevice console ";

// Quotes a path for the shell (GCC 12 misreads chained string sums at -O3).
std::string Quote(const std::string& path) {
  std::string quoted;
  quoted.reserve(path.size() + 2);
  quoted.push_back('\'');
  quoted.append(path);
  quoted.push_back('\'');
  return quoted;
}

struct Outcome {
  int status;
  std::string output;
};

class Player : public testing::Test {
 protected:
  void SetUp() override {
    // Every applet opens its display 1 at start.
    START_X_SERVER(server_);
    dir = std::string(testing::TempDir()) + "vlplayer_" + std::to_string(getpid()) + "_" +
          testing::UnitTest::GetInstance()->current_test_info()->name();
    mkdir(dir.c_str(), 0755);
    temp = dir + "/tmp";
    mkdir(temp.c_str(), 0755);
  }
  void TearDown() override { std::system(std::string("rm -rf ").append(Quote(dir)).c_str()); }

  static std::string Chunk(const std::string& body) {
    std::vector<uint8_t> bytes = vlasm::Assemble(".source \"@test.vls\"\n" + body + "\nret\n");
    return std::string(bytes.begin(), bytes.end());
  }
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::string path = dir + "/" + name;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return path;
  }
  Outcome Play(const std::string& program, const std::string& args) {
    std::string cmd = "DISPLAY=" + Quote(server_.name()) + " " + Quote(program);
    cmd.append(" -quiet -tempdir ").append(Quote(temp)).append(" ").append(args).append(" 2>&1");
    FILE* pipe = popen(cmd.c_str(), "r");
    Outcome r{-1, ""};
    if (!pipe) return r;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) r.output.append(buffer, n);
    int status = pclose(pipe);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
  }
  Outcome Play(const std::string& args) { return Play(VL_PLAYER_PATH, args); }
  bool TempEmpty() {
    DIR* d = opendir(temp.c_str());
    int entries = 0;
    while (dirent* e = readdir(d))
      if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")) ++entries;
    closedir(d);
    return entries == 0;
  }

  PrivateXServer server_;
  std::string dir, temp;
};

TEST_F(Player, NormalEndAndQuitExitWithZero) {
  ContainerBytes normal;
  normal.Code(Chunk(".line 1\n.call debugprint \"first\"\n.call debugprint \"second\""));
  Outcome r = Play(Quote(Write("normal.vla", normal.b)));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "first\nsecond\n");

  ContainerBytes quit;
  quit.Code(Chunk(".line 1\n.call debugprint \"before\"\n.call end\n.call debugprint \"after\""));
  r = Play(Quote(Write("quit.vla", quit.b)));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "before\n");
}

// With no X server the display cannot open: the run ends with the error's
// text and a non-zero status, never as a quiet success.
TEST_F(Player, NoXServerIsAnErrorNotAQuietEnd) {
  ContainerBytes normal;
  normal.Code(Chunk(".line 1\n.call debugprint \"ran\""));
  std::string cmd = "env -u DISPLAY " + Quote(VL_PLAYER_PATH) + " -quiet -tempdir " + Quote(temp) + " " +
                    Quote(Write("nox.vla", normal.b)) + " 2>&1";
  FILE* pipe = popen(cmd.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  int status = pclose(pipe);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_NE(WEXITSTATUS(status), 0);
  EXPECT_NE(output.find("Error opening connection to X server!"), std::string::npos) << output;
  EXPECT_EQ(output.find("ran"), std::string::npos) << output;
}

TEST_F(Player, TimersFireIntoCallbacksAndEndInsideOneQuits) {
  ContainerBytes quit;
  quit.Code(Chunk(R"(
.function tick
  .params 1
  .line 2
  .call base=1 debugprint "tick"
  ret
.end
.function fire
  .params 1
  .line 5
  .call base=1 debugprint "fired"
  .call base=1 end
  ret
.end
.defun OnTick tick
.defun OnFire fire
.line 9
.call setinterval 1 $OnTick 5
.call waitevent
.call waitevent
.call clearinterval 1
.call settimeout nil $OnFire 5
.call waitevent
.call debugprint "after")"));
  Outcome r = Play(Quote(Write("timers.vla", quit.b)));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "tick\ntick\nfired\n");

  // An error inside a callback ends the run with its text.
  ContainerBytes failing;
  failing.Code(Chunk(R"(
.function fire
  .params 1
  .line 4
  .call base=1 nosuchcommand
  ret
.end
.defun OnFire fire
.line 9
.call settimeout nil $OnFire 5
.call waitevent
.call debugprint "after")"));
  r = Play(kConsole + Quote(Write("failing.vla", failing.b)));
  EXPECT_NE(r.status, 0);
  EXPECT_EQ(r.output.find("after"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("nosuchcommand"), std::string::npos) << r.output;
}

TEST_F(Player, ScriptErrorsExitNonZeroWithTheirText) {
  ContainerBytes c;
  c.Code(Chunk(".line 7\n.call debugprint \"start\"\n.line 12\n.call nosuchcommand 1"));
  std::string path = Write("error.vla", c.b);
  // With a debug device the report is one console line: file:line: text
  // (without one it is shown in the toolkit's message box).
  Outcome r = Play(kConsole + Quote(path));
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.output.find("start\n"), std::string::npos);
  EXPECT_NE(r.output.find("nosuchcommand"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("test.vls:12: "), std::string::npos) << r.output;
  // A wrong argument to an existing command.
  ContainerBytes bad;
  bad.Code(Chunk(".line 3\n.call wait \"not a number\" 1 2 3"));
  r = Play(kConsole + Quote(Write("badarg.vla", bad.b)));
  EXPECT_NE(r.status, 0);
  EXPECT_FALSE(r.output.empty());
}

TEST_F(Player, BrokenContainersAreClearErrors) {
  ContainerBytes unknown;
  unknown.U8(99).Code(Chunk(".line 1"));
  Outcome r = Play(kConsole + Quote(Write("unknown.vla", unknown.b)));
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.output.find("Unknown section in applet!"), std::string::npos) << r.output;

  ContainerBytes cut;
  cut.U8(1).U32(5000).Raw("short");
  r = Play(kConsole + Quote(Write("cut.vla", cut.b)));
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.output.find("Could not read all characters"), std::string::npos) << r.output;

  r = Play(kConsole + Quote(Write("text.vla", {'V', 'L', 'B', 0, 1, 2})));
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.output.find("is no Vellamora applet!"), std::string::npos) << r.output;

  r = Play(kConsole + Quote(Write("tiny.vla", {'V', 'L'})));
  EXPECT_NE(r.status, 0);

  r = Play(kConsole + Quote(dir + "/missing.vla"));
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.output.find("does not exist!"), std::string::npos) << r.output;

  ContainerBytes newer;
  newer.U8(10).U8(6).U8(2).Code(Chunk(".line 1"));
  r = Play(kConsole + Quote(Write("newer.vla", newer.b)));
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.output.find("requires at least Vellamora 6.2!"), std::string::npos) << r.output;

  // Bytes that are no chunk.
  ContainerBytes garbage;
  garbage.Code("not a chunk at all");
  r = Play(kConsole + Quote(Write("garbage.vla", garbage.b)));
  EXPECT_NE(r.status, 0);
}

TEST_F(Player, WarningsAndFailingDeclarations) {
  ContainerBytes c;
  c.U8(2).U32(1);
  size_t at = c.Size();
  c.Decl(14, 0, 0, 0, 4);
  c.Code(Chunk(".line 1\n.call debugprint \"main\""));
  uint32_t textAt = static_cast<uint32_t>(c.Size());
  c.Raw("check this");
  for (int i = 0; i < 4; ++i) c.b[at + 5 + i] = static_cast<uint8_t>(textAt >> (24 - 8 * i));
  c.b[at + 9 + 3] = 10;
  std::string path = Write("warn.vla", c.b);
  Outcome r = Play(Quote(path));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "*** WARNING check this ***\nmain\n");
  // The no-debug switch silences the warning records and DebugPrint alike.
  r = Play("-nodebug " + Quote(path));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "");

  // A key declaration makes its key record before the main chunk runs.
  ContainerBytes key;
  key.U8(2).U32(1).Decl(6, 1, 0, 0, 9);
  key.Code(Chunk(".line 1\n.call debugprint \"main\""));
  r = Play(Quote(Write("key.vla", key.b)));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "main\n");

  // A video declaration calls OpenVideo, whose file (none is named here)
  // is no video: the start-up ends with that error before the main chunk
  // runs.
  ContainerBytes video;
  video.U8(2).U32(1).Decl(11, 1, 0, 0, 9);
  video.Code(Chunk(".line 1\n.call debugprint \"main\""));
  r = Play(kConsole + Quote(Write("video.vla", video.b)));
  EXPECT_NE(r.status, 0);
  EXPECT_EQ(r.output.find("main"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("not recognized as a video stream"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("video.vla:9: "), std::string::npos) << r.output;
}

TEST_F(Player, CompressedContainerRunsAndLeavesNoTemporaryFile) {
  ContainerBytes plain;
  plain.Code(Chunk(".line 1\n.call debugprint \"packed\""));
  uLongf size = compressBound(plain.b.size());
  std::vector<uint8_t> packed(size);
  ASSERT_EQ(compress(packed.data(), &size, plain.b.data(), plain.b.size()), Z_OK);
  std::vector<uint8_t> vlz = {'V', 'L', 'Z', 0, 0, 0, 0, 0};
  vlz.insert(vlz.end(), packed.begin(), packed.begin() + static_cast<long>(size));
  Outcome r = Play(Quote(Write("packed.vla", vlz)));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "packed\n");
  EXPECT_TRUE(TempEmpty());
}

// Links a container (with a plug-in block ahead of it) into a copy of the
// player: the marker's offset field is patched with the appended data's
// offset, as linking does.
TEST_F(Player, ContainerLinkedIntoACopyOfThePlayer) {
  std::ifstream in(VL_PLAYER_PATH, std::ios::binary);
  std::vector<uint8_t> program((std::istreambuf_iterator<char>(in)), {});
  std::vector<uint8_t> marker(std::begin("Zephlin Brokwend Entertainment"), std::end("Zephlin Brokwend Entertainment"));
  for (uint8_t b : {0x00, 0xDE, 0xAD, 0xC0, 0xDE}) marker.push_back(b);  // the literal's zero is the first
  auto it = std::search(program.begin(), program.end(), marker.begin(), marker.end());
  ASSERT_NE(it, program.end());
  size_t field = static_cast<size_t>(it - program.begin()) + 32;
  uint32_t offset = static_cast<uint32_t>(program.size());
  for (int i = 0; i < 4; ++i) program[field + i] = static_cast<uint8_t>(offset >> (24 - 8 * i));
  ContainerBytes appended;
  appended.b = {'V', 'L', 'P', '!', 0, 0, 0, 0};
  appended.Text("extra").U32(3).Raw("abc").Text("");
  ContainerBytes container;
  container.Code(Chunk(".line 1\n.call debugprint \"linked\""));
  appended.b.insert(appended.b.end(), container.b.begin(), container.b.end());
  program.insert(program.end(), appended.b.begin(), appended.b.end());
  std::string linked = Write("linked-player", program);
  chmod(linked.c_str(), 0755);
  Outcome r = Play(linked, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "linked\n");
  // The extracted plug-in directory is gone again.
  EXPECT_TRUE(TempEmpty());
}

// The applet's own icons reach the window manager's _NET_WM_ICON property,
// read back by xprop from inside the running applet: a 32 x 32 icon (a
// size the player has built in) replaces the built-in one, a 64 x 64 icon
// is added.
TEST_F(Player, OwnIconsReachTheWindowProperty) {
  const std::string green = dir + "/green32.png", blue = dir + "/blue64.png";
  if (std::system(("convert -size 32x32 xc:'#00ff00' png32:" + Quote(green) + " && convert -size 64x64 "
                   "xc:'#0000ff' png32:" + Quote(blue)).c_str()) != 0)
    GTEST_SKIP() << "no ImageMagick";
  const std::string out = dir + "/icon.txt", probe = dir + "/probe.sh";
  std::ofstream(probe) << "xprop -len 4000000 -name vl-icons -f _NET_WM_ICON 32c '=$0+' _NET_WM_ICON > " << Quote(out) << "\n";
  ContainerBytes applet;
  applet.Code(Chunk(".line 1\n.table 0 { title = \"vl-icons\" }\n.call base=1 setdisplayattributes r0\n"
                    ".call execute \"/bin/sh " + probe + "\""));
  // The icon directory behind the code.
  applet.U8('I').U8(0).U8(0);
  for (const std::string& file : {green, blue}) {
    std::ifstream in(file, std::ios::binary);
    std::string png((std::istreambuf_iterator<char>(in)), {});
    const uint32_t size = file == green ? 32 : 64;
    applet.U16(size).U16(size).U8(0).U32(static_cast<uint32_t>(png.size())).Raw(png);
  }
  applet.U16(0);
  Outcome r = Play(Quote(Write("icons.vla", applet.b)));
  ASSERT_EQ(r.status, 0) << r.output;
  std::ifstream in(out);
  std::string text((std::istreambuf_iterator<char>(in)), {});
  ASSERT_NE(text.find('='), std::string::npos) << text;
  std::vector<unsigned long> v;
  for (const char* p = text.c_str() + text.find('=') + 1; *p;) {
    char* end = nullptr;
    unsigned long n = std::strtoul(p, &end, 10);
    if (end == p) break;
    v.push_back(n);
    p = end;
    while (*p == ',' || *p == ' ') ++p;
  }
  int found32 = 0, found64 = 0;
  for (size_t at = 0; at + 1 < v.size(); at += 2 + v[at] * v[at + 1]) {
    ASSERT_LE(at + 2 + v[at] * v[at + 1], v.size());
    const unsigned long first = v[at + 2], last = v[at + 1 + v[at] * v[at + 1]];
    if (v[at] == 32) {
      ++found32;
      EXPECT_EQ(first, 0xFF00FF00ul);
      EXPECT_EQ(last, 0xFF00FF00ul);
    }
    if (v[at] == 64) {
      ++found64;
      EXPECT_EQ(first, 0xFF0000FFul);
    }
  }
  EXPECT_EQ(found32, 1);
  EXPECT_EQ(found64, 1);
}

}  // namespace
