// Every save command of an applet against a disk that takes nothing:
// /dev/full and a small tmpfs filled to its last block. Each save reports
// 1005, leaves no file behind and keeps an old file it would replace.
#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <functional>
#include <string>
#include <vector>

#include "tests/player/player_harness.h"
#include "tests/support/full_disk.h"

namespace {

using vlplayer::Result;

using Saves = vlplayer::PlayerTest;

std::string Lit(const std::string& text) { return "\"" + text + "\""; }

// The saves; every step prints its error code and each save ends with a
// line "-". name gives the file each save writes (by its extension).
std::string SaveCommands(const std::string& good, const std::function<std::string(const char*)>& name) {
  std::string text = ".line 1\n.call exitonerror 0\n.call createbrush 1 8 4 255\n.call createanim 1 1 4 4 2 2\n"
                     ".table 0 { 0, 100, -100, 0 }\n.call base=1 createsample 1 r0 8000\n"
                     ".call stringtofile \"some text\" " + Lit(good + "/src.txt") + "\n"
                     ".call compressfile " + Lit(good + "/src.txt") + " " + Lit(good + "/src.pak") + "\n";
  auto save = [&](const std::vector<std::string>& steps) {
    for (const std::string& step : steps) text += step + "\n.call getlasterror -> e\n.call debugprint $e\n";
    text += ".call debugprint \"-\"\n";
  };
  static const char* const kPictures[] = {"b.bmp", "b.png", "b.jpg", "b.gif", "b.iff"};
  for (int format = 0; format <= 4; ++format)
    save({".call savebrush 1 " + Lit(name(kPictures[format])) + " " + std::to_string(format)});
  save({".call saveanim 1 " + Lit(name("a.gif")) + " 0"});
  save({".call saveanim 1 " + Lit(name("a.avi")) + " 1"});
  save({".call beginanimstream 2 " + Lit(name("s.gif")) + " 8 4 0", ".call writeanimframe 2 1",
        ".call finishanimstream 2"});
  save({".call beginanimstream 3 " + Lit(name("s.avi")) + " 8 4 1", ".call writeanimframe 3 1",
        ".call finishanimstream 3"});
  save({".call savesnapshot " + Lit(name("snap.bmp")) + " 1"});
  save({".call savesample 1 " + Lit(name("s.wav"))});
  save({".call stringtofile \"text\" " + Lit(name("t.txt"))});
  const std::string copy = name("c.txt");
  const size_t slash = copy.rfind('/');
  save({".call copyfile " + Lit(good + "/src.txt") + " " + Lit(copy.substr(0, slash)) + " " +
        Lit(copy.substr(slash + 1))});
  save({".call compressfile " + Lit(good + "/src.txt") + " " + Lit(name("c.pak"))});
  save({".call decompressfile " + Lit(good + "/src.pak") + " " + Lit(name("d.txt"))});
  return text;
}

// The first failure of each save (0 when none failed).
std::vector<int> Failures(const std::string& out) {
  std::vector<int> codes;
  int first = 0;
  size_t at = 0;
  for (size_t end; (end = out.find('\n', at)) != std::string::npos; at = end + 1) {
    const std::string line = out.substr(at, end - at);
    if (line == "-") {
      codes.push_back(first);
      first = 0;
    } else if (!first) {
      first = std::atoi(line.c_str());
    }
  }
  return codes;
}

constexpr int kSaves = 15;

TEST_F(Saves, DevFullTakesNothingAndEverySaveSaysSo) {
  Result r = Run({Applet("full", SaveCommands(dir(), [](const char*) { return std::string("/dev/full"); }))});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Failures(r.out), std::vector<int>(kSaves, 1005)) << r.out;
}

TEST_F(Saves, AFullDiskKeepsNoPartOfANewFileAndLeavesTheOldOne) {
  vltest::FullTmpfs disk;
  if (disk.dir().empty()) GTEST_SKIP() << "no tmpfs can be mounted here";
  const std::string full = disk.dir();
  std::string applet = Applet("tmpfs", SaveCommands(dir(), [&](const char* file) { return full + "/" + file; }) +
                                           ".call savebrush 1 " + Lit(full + "/old") + " 1\n"
                                           ".call getlasterror -> e\n.call debugprint $e\n.call debugprint \"-\"\n");
  Result r = Run({applet});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Failures(r.out), std::vector<int>(kSaves + 1, 1005)) << r.out;
  EXPECT_EQ(disk.Entries(), (std::vector<std::string>{"filler", "old"}));
  EXPECT_EQ(disk.Old(), "OLD");
}

// Opening a file under an id that is in use closes the old file first; the
// bytes it still held for /dev/full are lost then, and OpenFile says so as
// CloseFile would. The id is free afterwards.
TEST_F(Saves, ReopeningAnIdReportsTheOldFilesLostWrite) {
  std::string other = WriteFile("other.txt", "other\n");
  Result r = Run({Applet("reopen", ".line 1\n.call exitonerror 0\n.call openfile 1 \"/dev/full\" 1006\n"
                                   ".call writeline 1 \"lost\"\n.call getlasterror -> e\n.call debugprint $e\n"
                                   ".call openfile 1 " + Lit(other) + "\n.call getlasterror -> e\n"
                                   ".call debugprint $e\n.call closefile 1\n.call getlasterror -> e\n"
                                   ".call debugprint $e\n.call openfile 1 " + Lit(other) + "\n.call readline 1 -> l\n"
                                   ".call debugprint $l\n")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "0\n1005\n1179\nother\n");
}

// The preferences of an applet whose home lies on the full disk.
TEST_F(Saves, PreferencesOnAFullDiskKeepTheOldOnes) {
  vltest::FullTmpfs disk;
  if (disk.dir().empty()) GTEST_SKIP() << "no tmpfs can be mounted here";
  const std::string prefs = disk.dir() + "/.vellamora-pix/preferences";
  ASSERT_EQ(system(("mkdir -p '" + prefs + "' && mv '" + disk.dir() + "/old' '" + prefs + "/savestest'").c_str()), 0);
  vlplayer::RunOptions options;
  options.env = {"HOME=" + disk.dir()};
  Result r = Run({Applet("prefs",
                         ".line 1\n.call exitonerror 0\n.table 0 { volume = 7 }\n.call base=1 saveprefs r0\n"
                         ".call getlasterror -> e\n.call debugprint $e\n",
                         "identifier savestest")},
                 options);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "1005\n");
  std::ifstream in(prefs + "/savestest", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "OLD");
  EXPECT_EQ(system(("test \"$(ls -A '" + prefs + "')\" = savestest").c_str()), 0);
}

// The hidden temporary files beside the preferences store.
std::vector<std::string> Hidden(const std::string& path) {
  std::vector<std::string> names;
  if (DIR* d = opendir(path.c_str())) {
    while (dirent* e = readdir(d))
      if (std::strncmp(e->d_name, ".vl", 3) == 0) names.emplace_back(e->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// A save killed in the middle leaves its temporary file; the next save of
// the same preferences takes it away, and leaves alone the file of a save
// still under way and what another store's saves left.
TEST_F(Saves, TheNextPreferencesSaveRemovesWhatKilledSavesLeft) {
  const std::string prefs = dir() + "/.vellamora-pix/preferences";
  std::string saving = Applet("saving", R"(.line 1
.call base=5 repeatstr "x" 3000000 -> s
newtable 0 0 0
getglobal 4 "s"
setfield 0 "big" 4
loadk 1 #1
loadk 2 #100000
loadk 3 #1
loop:
.call base=5 saveprefs r0
forloop 1 loop)",
                              "identifier savestest");
  // Killed until a kill lands while a save writes.
  std::vector<std::string> left;
  for (int attempt = 0; attempt < 10 && left.empty(); ++attempt) {
    vlplayer::RunOptions options;
    options.whileRunning = [&](pid_t player, const std::string&) {
      for (int i = 0; i < 10000 && Hidden(prefs).empty(); ++i) usleep(1000);
      kill(player, SIGKILL);
    };
    Run({saving}, options);
    left = Hidden(prefs);
  }
  ASSERT_EQ(left.size(), 1u) << "no save was caught while it wrote";
  // A process that has ended names nobody now; this one still runs.
  pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);
  const std::string running = ".vl" + std::to_string(getpid()) + "-1-savestest";
  const std::string other = ".vl" + std::to_string(gone) + "-1-otherstore";
  WriteFile(".vellamora-pix/preferences/" + running, "running");
  WriteFile(".vellamora-pix/preferences/" + other, "other");
  Result r = Run({Applet("once", ".line 1\n.call exitonerror 0\n.table 0 { volume = 7 }\n.call base=1 saveprefs r0\n"
                                 ".call getlasterror -> e\n.call debugprint $e\n",
                         "identifier savestest")});
  EXPECT_EQ(r.out, "0\n") << r.err;
  std::vector<std::string> expected{running, other};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Hidden(prefs), expected);
}

// Under a file-size limit a save that outgrows it fails with 1005 instead
// of ending the player, leaves no temporary file and keeps the old store.
TEST_F(Saves, AFileSizeLimitFailsTheSaveAndNotThePlayer) {
  const std::string prefs = dir() + "/.vellamora-pix/preferences";
  ASSERT_EQ(system(("mkdir -p '" + prefs + "'").c_str()), 0);
  WriteFile(".vellamora-pix/preferences/limited", "OLD");
  // The limit comes with the shell, so the player starts with the signal's
  // own disposition (a limit set here would bring the test's ignoring).
  std::string limited = WriteFile("limited.sh", "#!/bin/sh\nulimit -f 128\nexec " + vlplayer::Quote(VL_PLAYER_PATH) +
                                                    " \"$@\"\n");
  ASSERT_EQ(chmod(limited.c_str(), 0755), 0);
  vlplayer::RunOptions options;
  options.program = limited;
  Result r = Run({Applet("limited", R"(.line 1
.call exitonerror 0
.call base=5 repeatstr "x" 400000 -> s
newtable 0 0 0
getglobal 4 "s"
setfield 0 "big" 4
.call base=5 saveprefs r0
.call getlasterror -> e
.call debugprint $e)",
                         "identifier limited")},
                 options);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "1005\n");
  EXPECT_EQ(Hidden(prefs), std::vector<std::string>{});
  std::ifstream in(prefs + "/limited", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "OLD");
}

}  // namespace
