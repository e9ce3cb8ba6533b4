// How a run ends from outside: a signal, or the X server going away.
#include <dirent.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/player/player_harness.h"

namespace {

using vlplayer::PlayerTest;
using vlplayer::Result;
using vlplayer::RunOptions;
using ProcessEnd = PlayerTest;

// Every entry of a directory, hidden ones too.
std::vector<std::string> Entries(const std::string& path) {
  std::vector<std::string> names;
  if (DIR* d = opendir(path.c_str())) {
    while (dirent* e = readdir(d))
      if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")) names.push_back(e->d_name);
    closedir(d);
  }
  return names;
}

// The applet waits long; its compressed container has an unpacked copy in
// the temporary directory while it runs. With a marker, the file marker is
// written once "waiting" is printed: a test signals after it (a fixed wait
// was too short for a player starting on a busy machine).
std::string WaitingApplet(const std::string& name, const std::string& marker = "") {
  return ".line 1\n.call debugprint \"waiting\"\n" +
         (marker.empty() ? "" : ".call stringtofile \"1\" \"" + marker + "\"\n") + ".line 2\n.call wait 60000\n.call debugprint \"" +
         name + " woke\"";
}

// SIGTERM, SIGINT and SIGHUP end the player through its shut-down: the
// unpacked copy is removed, and then the signal itself ends the player.
TEST_F(ProcessEnd, EndSignalsShutDownAndRemoveTemporaryFiles) {
  const std::string waiting = dir() + "/waiting";
  std::string applet = Applet("waiting", WaitingApplet("waiting", waiting), "compress");
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
    unlink(waiting.c_str());
    RunOptions options;
    bool seen = false;
    options.whileRunning = [&](pid_t player, const std::string&) {
      vlplayer::WaitForFileWhileRunning(waiting, player, 60);
      seen = !TempEntries().empty();
      usleep(100000);  // into the wait
      kill(player, signal);
    };
    Result r = Run({applet}, options);
    EXPECT_TRUE(seen) << "no unpacked copy while running";
    EXPECT_EQ(r.status, -signal) << r.out << r.err;
    EXPECT_EQ(r.out, "waiting\n");
    EXPECT_TRUE(TempEntries().empty()) << "signal " << signal;
  }
}

// An end signal that comes while Execute waits for a command ends the run
// as it would without the command: the player ends through its shut-down
// and then by the signal, before the command would have ended, and takes
// the command with it (a shell with a program of its own running). The
// signal goes to the player, or to its whole process group as Ctrl-C
// sends it; the player then leads a group of its own (setsid).
TEST_F(ProcessEnd, EndSignalsDuringExecuteEndTheRunAndTheCommand) {
  const std::string late = dir() + "/late", started = dir() + "/started";
  std::string applet =
      Applet("execute", ".line 1\n.call debugprint \"running\"\n.call execute \"touch " + started +
                            "; sleep 1.5; echo late > " + late + "\"\n.call wait 100\n.call debugprint \"after\"");
  struct Case {
    int signal;
    bool group;
  };
  for (const Case& c : {Case{SIGINT, false}, Case{SIGINT, true}, Case{SIGTERM, false}}) {
    SCOPED_TRACE(std::to_string(c.signal) + (c.group ? " to the group" : " to the player"));
    unlink(late.c_str());
    unlink(started.c_str());
    RunOptions options;
    options.program = "/usr/bin/setsid";
    options.quietAndTemp = false;
    options.whileRunning = [&](pid_t player, const std::string&) {
      // Into the command: a fixed wait was too short for a sanitizer
      // player starting on a busy machine.
      vlplayer::WaitForFileWhileRunning(started, player, 60);
      usleep(100000);
      kill(c.group ? -player : player, c.signal);
    };
    Result r = Run({VL_PLAYER_PATH, "-quiet", "-tempdir", temp(), applet}, options);
    const bool endedFirst = access(late.c_str(), F_OK) != 0;
    EXPECT_EQ(r.status, -c.signal) << r.out << r.err;
    EXPECT_EQ(r.out, "running\n");
    EXPECT_TRUE(endedFirst) << "the player waited for the command";
    // Nothing of the command is left to finish its work.
    usleep(1500000);
    EXPECT_NE(access(late.c_str(), F_OK), 0) << "the command outlived the player";
  }
}

// The signals a process ignores, from its /proc/PID/status text.
uint64_t IgnoredSignals(const std::string& status) {
  const size_t at = status.find("SigIgn:");
  return at == std::string::npos ? ~uint64_t{0} : std::strtoull(status.c_str() + at + 7, nullptr, 16);
}

// A program started by Execute gets the signals as the player got them
// (not SIGXFSZ ignored, as the player has it for its own saves), and none
// of the player's files: not the one the script holds open.
TEST_F(ProcessEnd, ExecutedProgramsGetTheSignalsAndNoFilesOfThePlayer) {
  const std::string out = dir() + "/signals", held = dir() + "/signals.vlasm";
  std::string applet = Applet("signals", ".line 1\n.call openfile 1 \"" + held +
                                             "\"\n.call execute \"cat /proc/self/status > " + out +
                                             "; ls -l /proc/$$/fd >> " + out + "\"");
  Result r = Run({applet});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  std::ifstream command(out);
  std::stringstream text;
  text << command.rdbuf();
  EXPECT_EQ(IgnoredSignals(text.str()) & (uint64_t{1} << (SIGXFSZ - 1)), 0u) << text.str();
  EXPECT_NE(text.str().find(" 1 -> " + out), std::string::npos) << "no list of open files";
  EXPECT_EQ(text.str().find(held), std::string::npos) << text.str();
}

// Ctrl-C on a shell loop of runs reaches the shell and the player, as the
// terminal sends it to the whole group: the player cleans up and dies of
// the signal, so the shell ends the loop instead of starting the next run.
TEST_F(ProcessEnd, AnInterruptedRunEndsTheShellLoopThatStartedIt) {
  const std::string started = dir() + "/started";
  const std::string applet = Applet("looped", WaitingApplet("looped", started), "compress");
  RunOptions options;
  options.program = "/usr/bin/setsid";
  options.quietAndTemp = false;
  options.timeoutSeconds = 30;
  options.whileRunning = [&](pid_t shell, const std::string&) {
    vlplayer::WaitForFileWhileRunning(started, shell, 60);
    usleep(100000);  // into the wait
    kill(-shell, SIGINT);
  };
  const std::string run = vlplayer::Quote(VL_PLAYER_PATH) + " -quiet -tempdir " + vlplayer::Quote(temp()) + " " +
                          vlplayer::Quote(applet);
  Result r = Run({"/bin/bash", "-c", "for i in 1 2; do " + run + "; echo \"next $?\"; done"}, options);
  EXPECT_EQ(r.status, -SIGINT) << r.out << r.err;
  EXPECT_EQ(r.out, "waiting\n");
  EXPECT_TRUE(TempEntries().empty());
}

// An interactive shell on a pseudo-terminal, as a user at a terminal runs
// the player: job control on, the terminal its controlling one.
class ShellTerminal {
 public:
  explicit ShellTerminal(const std::vector<std::string>& env) {
    pid_ = forkpty(&fd_, nullptr, nullptr, nullptr);
    if (pid_ == 0) {
      for (const std::string& e : env) putenv(const_cast<char*>(e.c_str()));
      setenv("PS1", "ready> ", 1);
      setenv("TERM", "dumb", 1);
      execl("/bin/bash", "bash", "--norc", "--noprofile", "-i", static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~ShellTerminal() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (fd_ >= 0) close(fd_);
  }
  bool Ready() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  void Type(const std::string& text) { EXPECT_EQ(write(fd_, text.data(), text.size()), ssize_t(text.size())); }
  // Reads until the output since the last call holds text (true), or
  // seconds pass.
  bool WaitFor(const std::string& text, int seconds = 20) {
    const time_t end = time(nullptr) + seconds;
    while (seen_.find(text, from_) == std::string::npos && time(nullptr) < end) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 200) <= 0) continue;
      char buffer[4096];
      const ssize_t n = read(fd_, buffer, sizeof buffer);
      if (n <= 0) break;
      seen_.append(buffer, static_cast<size_t>(n));
    }
    const size_t at = seen_.find(text, from_);
    if (at == std::string::npos) return false;
    from_ = at + text.size();
    return true;
  }
  const std::string& seen() const { return seen_; }

 private:
  pid_t pid_ = -1;
  int fd_ = -1;
  std::string seen_;
  size_t from_ = 0;
};

// Fields of /proc/PID/stat: state (3), process group (5), the terminal's
// foreground group (8); the state is '?' when the process is gone.
struct ProcessStat {
  char state = '?';
  pid_t group = 0, foreground = 0;
};
ProcessStat StatOf(pid_t pid) {
  ProcessStat st;
  // Read with stdio: a process that ends between the open and the read
  // fails the read (ESRCH), which a stream buffer throws.
  std::string text;
  if (FILE* f = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r")) {
    char buffer[1024];
    text.assign(buffer, std::fread(buffer, 1, sizeof buffer, f));
    std::fclose(f);
  }
  const size_t close = text.rfind(')');
  if (close == std::string::npos) return st;
  std::istringstream rest(text.substr(close + 2));
  long parent = 0, session = 0, tty = 0;
  rest >> st.state >> parent >> st.group >> session >> tty >> st.foreground;
  return st;
}

// Whether the process has stopped running (or does so within 10 s): it is
// stopped ('T'), or held in the kernel ('D'), as a stopped process that a
// busy machine has not yet run to its stop may be; not sleeping or running.
bool HeldStill(pid_t pid) {
  for (int i = 0; i < 1000; ++i) {
    const char state = StatOf(pid).state;
    if (state == 'T' || state == 'D') return true;
    usleep(10000);
  }
  return false;
}

// The processes of a group that still run (entries nobody reaped do not).
std::vector<pid_t> LiveMembers(pid_t group) {
  std::vector<pid_t> live;
  for (const std::string& name : Entries("/proc")) {
    const pid_t pid = static_cast<pid_t>(std::atoi(name.c_str()));
    if (pid <= 0) continue;
    const ProcessStat st = StatOf(pid);
    if (st.group == group && st.state != 'Z' && st.state != '?') live.push_back(pid);
  }
  return live;
}

// How many processes of the group still run once `until` holds for that
// count, or 10 s pass: a busy machine starts a shell's child, or runs a
// killed process to its end, a moment late.
template <typename Until>
size_t LiveMembersOnce(pid_t group, Until until) {
  size_t count = LiveMembers(group).size();
  for (int i = 0; i < 1000 && !until(count); ++i) {
    usleep(10000);
    count = LiveMembers(group).size();
  }
  return count;
}

pid_t ReadPid(const std::string& path) {
  std::ifstream in(path);
  long pid = 0;
  in >> pid;
  return static_cast<pid_t>(pid);
}

class TerminalJobs : public PlayerTest {
 protected:
  // An applet that prints "running", executes a shell script (its body
  // after a line that writes the script's process id into started()) and
  // prints "after".
  std::string ExecutingApplet(const std::string& name, const std::string& body) {
    const std::string job = WriteFile(name, "#!/bin/sh\necho $$ > " + vlplayer::Quote(started()) + "\n" + body);
    chmod(job.c_str(), 0755);
    return Applet(name, ".line 1\n.call debugprint \"running\"\n.call execute \"" + job +
                            "\"\n.call debugprint \"after\"");
  }
  // Starts the player on the applet from the shell, the shell text after
  // it on the same line, and waits until the executed script has started:
  // its process id, 0 when it did not start.
  pid_t StartInShell(ShellTerminal& shell, const std::string& applet, const std::string& after) {
    unlink(started().c_str());
    if (!shell.Ready() || !shell.WaitFor("ready> ")) return 0;
    shell.Type(vlplayer::Quote(VL_PLAYER_PATH) + " -quiet -tempdir " + vlplayer::Quote(temp()) + " " +
               vlplayer::Quote(applet) + after + "\n");
    if (!shell.WaitFor("running")) return 0;
    pid_t command = 0;
    for (int i = 0; i < 1000 && !(command = ReadPid(started())); ++i) usleep(10000);
    return command;
  }
  // The script goes on after its command to its end, and the shell has
  // the terminal back with the player's status 0.
  static void ExpectScriptEndsWell(ShellTerminal& shell) {
    ASSERT_TRUE(shell.WaitFor("after")) << shell.seen();
    ASSERT_TRUE(shell.WaitFor("ready> ")) << shell.seen();
    shell.Type("echo status=$?\n");
    EXPECT_TRUE(shell.WaitFor("status=0")) << shell.seen();
  }
  std::vector<std::string> ShellEnvironment() const { return {"DISPLAY=" + std::string(display()), "HOME=" + dir()}; }
  std::string started() const { return dir() + "/started"; }
};

// Ctrl-Z while Execute waits stops the command and then the player, and
// the shell has its terminal back; fg continues both, the command in the
// foreground again, and the script ends normally.
TEST_F(TerminalJobs, CtrlZDuringExecuteStopsTheJobAndFgContinuesIt) {
  const std::string applet = ExecutingApplet("job", "sleep 1\necho command done\n");
  ShellTerminal shell(ShellEnvironment());
  const pid_t command = StartInShell(shell, applet, "");
  ASSERT_GT(command, 0) << shell.seen();
  // The command has the terminal: Ctrl-Z reaches its group.
  EXPECT_EQ(StatOf(command).foreground, StatOf(command).group);
  shell.Type("\x1a");
  ASSERT_TRUE(shell.WaitFor("Stopped")) << shell.seen();
  ASSERT_TRUE(shell.WaitFor("ready> ")) << shell.seen();
  // Both stay stopped: the command does not go on (its sleep would have
  // ended meanwhile), and the terminal is the shell's again.
  EXPECT_FALSE(shell.WaitFor("command done", 2)) << shell.seen();
  const ProcessStat stoppedCommand = StatOf(command);
  EXPECT_TRUE(HeldStill(command)) << StatOf(command).state;
  EXPECT_EQ(stoppedCommand.foreground, StatOf(shell.pid()).group);
  for (pid_t member : LiveMembers(stoppedCommand.group)) EXPECT_TRUE(HeldStill(member)) << StatOf(member).state;
  // The player's own group is the stopped job.
  bool playerStopped = false;
  for (const std::string& name : Entries("/proc")) {
    const pid_t pid = static_cast<pid_t>(std::atoi(name.c_str()));
    if (pid > 0 && pid != shell.pid() && StatOf(pid).group != stoppedCommand.group &&
        StatOf(pid).foreground == StatOf(shell.pid()).group && StatOf(pid).group != StatOf(shell.pid()).group)
      playerStopped = HeldStill(pid);
  }
  EXPECT_TRUE(playerStopped);
  shell.Type("fg\n");
  ASSERT_TRUE(shell.WaitFor("command done")) << shell.seen();
  ExpectScriptEndsWell(shell);
}

// An end signal to the player while Execute waits for a command that
// ignores it: the command's whole group gets the grace time and is then
// killed, the shell it started as well as what that shell runs; the player
// ends by the signal (its shell says 128 + the signal) and leaves nothing
// of the command running.
TEST_F(TerminalJobs, EndSignalsDuringExecuteEndTheWholeCommandGroup) {
  const std::string applet = ExecutingApplet("stubborn", "trap '' INT TERM HUP\nsleep 30\necho outlived\n");
  for (int signal : {SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    ShellTerminal shell(ShellEnvironment());
    const pid_t command = StartInShell(shell, applet, "; echo status=$?");
    ASSERT_GT(command, 0) << shell.seen();
    const pid_t group = StatOf(command).group;
    // The player leads the group the command's group was started beside.
    pid_t player = 0;
    for (const std::string& name : Entries("/proc")) {
      const pid_t pid = static_cast<pid_t>(std::atoi(name.c_str()));
      if (pid > 0 && pid != shell.pid() && pid == StatOf(pid).group && StatOf(pid).foreground == group &&
          pid != group)
        player = pid;
    }
    ASSERT_GT(player, 0);
    // The shell has set its trap once it runs its sleep.
    EXPECT_GE(LiveMembersOnce(group, [](size_t n) { return n >= 2; }), 2u) << "the shell and its sleep";
    kill(player, signal);
    ASSERT_TRUE(shell.WaitFor("status=" + std::to_string(128 + signal))) << shell.seen();
    EXPECT_EQ(shell.seen().find("after"), std::string::npos);
    // Killed, not waited for: the sleep would run 30 s.
    EXPECT_EQ(LiveMembersOnce(group, [](size_t n) { return n == 0; }), 0u) << "processes left";
  }
}

// A player started in the background (&) whose command reads the
// terminal: the command stops for terminal input and the player with it,
// so the shell reports the job stopped; fg gives the terminal to the
// command, which reads what is typed, and the script goes on.
TEST_F(TerminalJobs, ABackgroundRunWhoseCommandReadsTheTerminalGoesOnAfterFg) {
  const std::string applet = ExecutingApplet("reader", "read line\necho \"read: $line\"\n");
  ShellTerminal shell(ShellEnvironment());
  const pid_t command = StartInShell(shell, applet, " &");
  ASSERT_GT(command, 0) << shell.seen();
  bool stopped = false;
  for (int i = 0; i < 20 && !stopped; ++i) {
    shell.Type("jobs\n");
    stopped = shell.WaitFor("Stopped", 1);
  }
  ASSERT_TRUE(stopped) << shell.seen();
  shell.Type("fg\n");
  // Typed once the command has the terminal, so that only it reads it.
  bool holds = false;
  for (int i = 0; i < 1000 && !holds; ++i) {
    const ProcessStat st = StatOf(command);
    holds = st.foreground == st.group;
    if (!holds) usleep(10000);
  }
  ASSERT_TRUE(holds) << shell.seen();
  shell.Type("typed words\n");
  ASSERT_TRUE(shell.WaitFor("read: typed words")) << shell.seen();
  ExpectScriptEndsWell(shell);
}

// A lost X server is reported once in the player's words, not Xlib's, and
// the temporary files go with the player: the unpacked copy of its applet,
// one the script asked for, and the unfinished file of a save under way.
TEST_F(ProcessEnd, LostXServerIsReportedOnceAndLeavesNoTemporaryFiles) {
  const std::string out = dir() + "/out";
  ASSERT_EQ(mkdir(out.c_str(), 0755), 0);
  std::string applet = Applet("lost", ".line 1\n.call gettempfilename -> t\n.call beginanimstream 1 \"" + out +
                                          "/s.gif\" 8 4 0\n" + WaitingApplet("lost"), "compress");
  RunOptions options;
  size_t made = 0;
  options.whileRunning = [&](pid_t, const std::string& display) {
    // The window is up once the applet waits.
    vlplayer::WaitForWindow(display, "", 10000);
    for (int i = 0; i < 400 && (made = TempEntries().size() + Entries(out).size()) < 3; ++i) usleep(25000);
    usleep(300000);
    StopXServer();
  };
  Result r = Run({applet}, options);
  EXPECT_EQ(made, 3u);
  EXPECT_TRUE(Entries(out).empty()) << Entries(out)[0];
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_EQ(r.err, std::string("Lost the connection to X server ") + display() + "!\n");
  EXPECT_EQ(r.err.find("XIO"), std::string::npos);
  EXPECT_TRUE(TempEntries().empty()) << TempEntries()[0];
}

// How many System V segments the process made are still in the system.
int SegmentsMadeBy(const std::string& ipcsOutput, pid_t creator) {
  int n = 0;
  size_t at = 0;
  while (at < ipcsOutput.size()) {
    size_t end = ipcsOutput.find('\n', at);
    if (end == std::string::npos) end = ipcsOutput.size();
    long id = 0, cpid = 0, lpid = 0;
    char owner[64];
    if (std::sscanf(ipcsOutput.substr(at, end - at).c_str(), "%ld %63s %ld %ld", &id, owner, &cpid, &lpid) == 4 &&
        cpid == creator)
      n++;
    at = end + 1;
  }
  return n;
}

// A player killed outright while its pictures sit in shared memory leaves
// no segment behind, neither its own nor the one the server mapped.
TEST_F(ProcessEnd, AKilledPlayerLeavesNoSharedMemory) {
  std::string applet = Applet("shm", ".line 1\n.call createbrush 1 64 64 16711680\n.call displaybrush 1 10 10\n"
                                     ".line 2\n.call begindoublebuffer\n.call displaybrush 1 20 20\n.call flip\n" +
                                         WaitingApplet("shm"));
  RunOptions options;
  int during = 0, after = -1;
  options.whileRunning = [&](pid_t player, const std::string& display) {
    vlplayer::WaitForWindow(display, "", 10000);
    for (int i = 0; i < 200 && !(during = SegmentsMadeBy(Tool("ipcs -m -p"), player)); ++i) usleep(25000);
    kill(player, SIGKILL);
    // The server lets go of its mapping once it sees the client gone.
    for (int i = 0; i < 200 && (after = SegmentsMadeBy(Tool("ipcs -m -p"), player)) > 0; ++i) usleep(25000);
  };
  Result r = Run({applet}, options);
  EXPECT_EQ(r.status, -SIGKILL);
  EXPECT_GE(during, 1) << "no shared segment while running";
  EXPECT_EQ(after, 0);
}

// An applet that ends while asynchronous draws are still under way: the
// shut-down ends the draws while the brushes, anims, sprites and layers
// they move still exist (a memory-checking build catches the other order).
TEST_F(ProcessEnd, EndingWithAsyncDrawsUnderWayShutsDownCleanly) {
  const std::string objects = R"(.call base=1 createbrush 1 10 10 16711680
.call base=1 createbrush 4 16 16 255
.call base=1 createbrush 10 32 32 65280
.call base=1 createanim 2 10 16 16 4 2
.call base=1 createtextobject 6 "text"
.call base=1 displaytextobject 6 100 100
.table 0 { async = 1, speed = 1 }
.call base=1 movebrush 1 0 50 600 50 r0 -> h1
.table 0 { async = 1, times = 0 }
.call base=1 playanim 2 40 40 r0 -> h2
.table 0 { type = 47, speed = 1, async = 1 }
.call base=1 displaybrushfx 4 300 300 r0 -> h3
)";
  const std::string sprite = R"(.call base=1 createbrush 3 16 16 65280
.call base=1 createsprite 5 3 1
.call base=1 displaysprite 5 200 200
.table 0 { async = 1, speed = 1 }
.call base=1 movesprite 5 0 0 500 0 r0 -> h4
)";
  for (bool layers : {false, true}) {
    std::string text = ".line 1\n";
    text += layers ? ".call enablelayers\n" + objects : objects + sprite;
    text += ".call debugprint \"ending\"";
    Result r = Run({Applet(layers ? "async_layers" : "async", text)});
    EXPECT_EQ(r.status, 0) << "layers " << layers << ": " << r.out << r.err;
    EXPECT_EQ(r.out, "ending\n") << "layers " << layers;
  }
}

}  // namespace
