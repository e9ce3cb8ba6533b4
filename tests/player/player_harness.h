// Player-level tests: the real vellamora-player run on applets built from
// assembler text, as a user runs it, and what a user would observe.
//
// Each test of a vlplayer::PlayerTest fixture gets its own Xvfb (the test
// skips when there is none), a fresh directory, a HOME there and an ALSA
// configuration (ALSA_CONFIG_PATH) whose "default" device writes WAV files
// into that directory instead of a sound card.
//
//   #include "tests/player/player_harness.h"
//   using MyPlayer = vlplayer::PlayerTest;
//   TEST_F(MyPlayer, PrintsAndEnds) {
//     // vlasm text of the main chunk ("ret" is appended; ".source" too
//     // when missing), and optionally mkapplet description lines.
//     std::string applet = Applet("hello", ".line 1\n.call debugprint \"hi\"");
//     vlplayer::Result r = Run({applet});  // -quiet -tempdir DIR/tmp go first
//     EXPECT_EQ(r.status, 0);
//     EXPECT_EQ(r.out, "hi\n");
//   }
//
// Run takes the player's arguments and a RunOptions: the program (a copy of
// the player beside plug-ins, say), standard input text
// (none: /dev/null), extra environment (NAME=VALUE; NAME= alone unsets),
// no display, a timeout (the player is killed, status kKilled), and a
// callback that runs while the player does (xdotool, signals: it gets the
// player's pid and the X display name). Result: exit status (-N for
// signal N), standard output and standard error apart.
// StopXServer() takes the X server away mid-run.
// SinkFiles() lists the WAV files the sound output wrote, in order;
// TempEntries() what the player left in its temporary directory; Tool()
// runs a helper program (xprop, xdotool) and gives its output; SoxStat
// measures a sound file.
// In CMake: vl_player_test(name SOURCES x_test.cpp).
#pragma once
#include <gtest/gtest.h>

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/platform/x11_server.h"

namespace vlplayer {

constexpr int kKilled = -1000;  // the timeout ran out

struct Result {
  int status = kKilled;  // exit status, -N for a signal, kKilled
  std::string out;
  std::string err;
};

struct RunOptions {
  std::string input;
  bool hasInput = false;  // else standard input is /dev/null
  bool holdInput = false;  // standard input stays open, with nothing in it, until the player ends
  std::vector<std::string> env;
  std::string program;        // default: the built player
  bool display = true;        // DISPLAY set to the private server
  bool quietAndTemp = true;   // -quiet -tempdir DIR/tmp ahead of the arguments
  int timeoutSeconds = 60;
  // Runs once the player has started; it may wait for windows, type,
  // send signals. The player is waited for after it returns.
  std::function<void(pid_t player, const std::string& display)> whileRunning;
};

// Quotes for the shell.
std::string Quote(const std::string& text);

class PlayerTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Assembles the text into a chunk (vlasm) and wraps it (mkapplet) as
  // DIR/name.vla; description lines as mkapplet reads them.
  std::string Applet(const std::string& name, const std::string& asmText,
                     const std::string& description = "");
  Result Run(const std::vector<std::string>& args, const RunOptions& options = {});
  // The WAV files of the ALSA file sink (one per opened device), in the
  // order they were made.
  std::vector<std::string> SinkFiles() const;
  std::vector<std::string> TempEntries() const;
  // Runs a shell command line with DISPLAY and HOME of this test; its
  // standard output, or "" with *status set when it fails.
  std::string Tool(const std::string& commandLine, int* status = nullptr) const;
  std::string WriteFile(const std::string& name, const std::string& bytes) const;

  const std::string& dir() const { return dir_; }
  const std::string& temp() const { return temp_; }
  const char* display() const { return server_.name(); }
  // Ends the private X server now (a test of a lost server).
  void StopXServer() { server_.Stop(); }
  // A new private X server in its place, started with more Xvfb arguments.
  bool RestartXServer(const std::vector<std::string>& extra) {
    server_.Stop();
    return server_.Start(800, 600, depth_, extra);
  }
  // The process id of the private X server (-1 on a shared one).
  pid_t XServerPid() const { return server_.pid(); }

  // The private X server's depth (24 or 16), set before SetUp runs.
  int depth_ = 24;

 private:
  PrivateXServer server_;
  std::string dir_, temp_, sink_;
};

// A field of "sox FILE -n stat" ("RMS     amplitude", "Length (seconds)",
// "Samples read"...); NaN when sox fails or lacks it. With a second file,
// the statistics of the first minus the second (mixed inverted), so an
// RMS near 0 means the two sound the same.
double SoxStat(const std::string& file, const std::string& field, const std::string& minus = "");

// Assembler text that waits (pumping events, 2 ticks a turn) until the
// file exists; labels start with the prefix.
std::string WaitUntilFileExists(const std::string& path, const std::string& labelPrefix = "file");
// Assembler text that waits (up to 10 s, running event handlers) until
// music id no longer plays; the global p then holds IsMusicPlaying.
std::string WaitUntilMusicStops(int id, const std::string& label);

// Whether the process still runs: one that has ended but is not yet
// collected by the harness counts as ended.
bool ProcessRunning(pid_t pid);
// Waits until the file exists, the process has ended or the seconds have
// passed; whether the file exists.
bool WaitForFileWhileRunning(const std::string& path, pid_t pid, int seconds);

// Waits up to timeoutMs for a window with this name (xdotool search) on the
// display; its id, or "" when none appeared.
std::string WaitForWindow(const std::string& display, const std::string& name, int timeoutMs = 10000);

}  // namespace vlplayer
