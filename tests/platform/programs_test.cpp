// External programs against real processes: /bin/sh and friends with exit
// codes and redirected output, a stand-in "xdg-open" on PATH that records
// its arguments, and the watcher thread with its end-of-program event.
#include "platform/programs.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/hooks.h"
#include "runtime/os.h"
#include "vm/error_codes.h"

namespace {

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/vl_programs_XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~TempDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

int ExitCodeOf(pid_t child) {
  int status = 0;
  EXPECT_EQ(waitpid(child, &status, 0), child);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::string> Split(const char* program, const char* args, std::string* output,
                               int* status) {
  vlProgramArgs split;
  *status = SplitProgramArgs(program, args, &split);
  std::vector<std::string> words;
  if (*status != 0) return words;
  for (size_t i = 0; i < split.count; i++) words.push_back(split.vector[i]);
  EXPECT_EQ(split.vector[split.count], nullptr);
  *output = split.output;
  FreeProgramArgs(&split);
  return words;
}

using Words = std::vector<std::string>;

TEST(ProgramArgs, QuotesBlanksAndRedirection) {
  std::string output;
  int status;
  EXPECT_EQ(Split("prog", "\"my file\" >out.log -v", &output, &status),
            (Words{"prog", "my file", "-v"}));
  EXPECT_EQ(status, 0);
  EXPECT_EQ(output, "out.log");

  EXPECT_EQ(Split("prog", "a > b c", &output, &status), (Words{"prog", "a", "c"}));
  EXPECT_EQ(output, "b");

  // A lone '>' takes the next argument, quoted or not; a quoted '>' is text.
  EXPECT_EQ(Split("prog", "> \"log file\" \">x\"", &output, &status), (Words{"prog", ">x"}));
  EXPECT_EQ(output, "log file");

  EXPECT_EQ(Split("prog", "   lots\t of   blanks  ", &output, &status),
            (Words{"prog", "lots", "of", "blanks"}));
  EXPECT_EQ(output, "");
  EXPECT_EQ(Split("prog", nullptr, &output, &status), (Words{"prog"}));
  EXPECT_EQ(Split("prog", "\"\" x", &output, &status), (Words{"prog", "", "x"}));
}

TEST(ProgramArgs, MalformedStringsFailWithWrongUsage) {
  std::string output;
  int status;
  Split("prog", "a \"never closed", &output, &status);
  EXPECT_EQ(status, ERR_WRONGUSAGE);
  Split("prog", "a >", &output, &status);
  EXPECT_EQ(status, ERR_WRONGUSAGE);
  Split("prog", (">" + std::string(256, 'n')).c_str(), &output, &status);
  EXPECT_EQ(status, ERR_WRONGUSAGE);
  Split("prog", (">" + std::string(255, 'n')).c_str(), &output, &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(output.size(), 255u);
}

TEST(ProgramArgs, AtMost127ArgumentsBehindTheProgram) {
  std::string args;
  for (int i = 0; i < 127; i++) {
    args += 'a';
    args += std::to_string(i);
    args += ' ';
  }
  std::string output;
  int status;
  Words words = Split("prog", args.c_str(), &output, &status);
  ASSERT_EQ(status, 0);
  ASSERT_EQ(words.size(), 128u);
  EXPECT_EQ(words[127], "a126");
  // A redirection is no argument, so it still fits.
  Split("prog", (args + ">f").c_str(), &output, &status);
  EXPECT_EQ(status, 0);
  Split("prog", (args + "one-more").c_str(), &output, &status);
  EXPECT_EQ(status, ERR_WRONGUSAGE);
  // Nothing is started for a refused vector.
  EXPECT_EQ(RunProgram("/bin/true", (args + "one-more").c_str(), 1, nullptr), ERR_WRONGUSAGE);
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

TEST(ProgramArgs, DocumentNames) {
  EXPECT_TRUE(IsDocumentName("notes.txt"));
  EXPECT_FALSE(IsDocumentName("tool.EXE"));
  EXPECT_TRUE(IsDocumentName("a.exe"));  // five characters: a document
  EXPECT_FALSE(IsDocumentName("setup.exe"));
  EXPECT_FALSE(IsDocumentName("/usr/bin/true"));
  EXPECT_FALSE(IsDocumentName("/opt/app.d/run"));  // the dot is in a directory
  EXPECT_TRUE(IsDocumentName("/home/me/report.pdf"));
  EXPECT_TRUE(IsDocumentName("https://example.org/index.html"));
}

TEST(RunProgram, ForkedRunsReportTheirExitCodes) {
  pid_t child = 0;
  ASSERT_EQ(RunProgram("/bin/sh", "-c \"exit 3\"", 1, &child), 0);
  ASSERT_GT(child, 0);
  EXPECT_EQ(ExitCodeOf(child), 3);
  ASSERT_EQ(RunProgram("/bin/true", nullptr, 1, &child), 0);
  EXPECT_EQ(ExitCodeOf(child), 0);
  ASSERT_EQ(RunProgram("false", "", 1, &child), 0);  // found through PATH
  EXPECT_EQ(ExitCodeOf(child), 1);
  // A program that cannot be executed is reported to the caller; its
  // child is already reaped.
  child = 0;
  EXPECT_EQ(RunProgram("/no/such/program", "x", 1, &child), ERR_EXECUTE);
  EXPECT_EQ(child, 0);
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
}

TEST(RunProgram, RedirectionCatchesOutputAndErrors) {
  TempDir dir;
  std::string log = dir.File("out.log");
  pid_t child = 0;
  std::string args = "-c \"echo to-out; echo to-err 1>&2\" >" + log;
  ASSERT_EQ(RunProgram("/bin/sh", args.c_str(), 1, &child), 0);
  EXPECT_EQ(ExitCodeOf(child), 0);
  EXPECT_EQ(ReadFile(log), "to-out\nto-err\n");

  // The file is truncated, and made with mode 0644 (less the umask).
  std::ofstream(log) << "old contents that are longer\n";
  ASSERT_EQ(RunProgram("/bin/echo", ("new > " + log).c_str(), 1, &child), 0);
  EXPECT_EQ(ExitCodeOf(child), 0);
  EXPECT_EQ(ReadFile(log), "new\n");
  std::string fresh = dir.File("fresh.log");
  mode_t old = umask(0);
  ASSERT_EQ(RunProgram("/bin/echo", ("x >" + fresh).c_str(), 1, &child), 0);
  umask(old);
  EXPECT_EQ(ExitCodeOf(child), 0);
  struct stat st {};
  ASSERT_EQ(stat(fresh.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);

  // An output file that cannot be made leaves the streams as they were.
  ASSERT_EQ(RunProgram("/bin/sh", "-c \"exit 4\" >/no/such/dir/f", 1, &child), 0);
  EXPECT_EQ(ExitCodeOf(child), 4);
}

TEST(RunProgram, ShellRunsWaitAndHideTheStatus) {
  TempDir dir;
  std::string marker = dir.File("marker");
  // Shell syntax works in this mode, and the call returns after the command.
  std::string args = "-c 'sleep 0.2; echo done > " + marker + "'";
  EXPECT_EQ(RunProgram("/bin/sh", args.c_str(), 0, nullptr), 0);
  EXPECT_EQ(ReadFile(marker), "done\n");
  EXPECT_EQ(SpawnProgram("/bin/sh", "-c 'exit 7'", 0), 0);
  EXPECT_EQ(RunProgram("/no/such/program", nullptr, 0, nullptr), 0);
  EXPECT_EQ(RunProgram(("/bin/touch " + dir.File("bare")).c_str(), nullptr, 0, nullptr), 0);
  EXPECT_TRUE(Exists(dir.File("bare")));
}

// A stand-in opener first on PATH that writes each argument on a line.
class DesktopOpener : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string script = dir_.File("xdg-open");
    std::ofstream(script) << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > "
                          << dir_.File("opened") << "\n";
    chmod(script.c_str(), 0755);
    const char* path = getenv("PATH");
    setenv("PATH", (dir_.path() + ":" + (path ? path : "/usr/bin:/bin")).c_str(), 1);
    ASSERT_EQ(chdir(dir_.path().c_str()), 0);
  }
  std::string Opened() const { return ReadFile(dir_.File("opened")); }
  TempDir dir_;
};

TEST_F(DesktopOpener, DocumentsGoToTheOpenerAsOneArgument) {
  EXPECT_EQ(RunProgram("notes file.txt", "-x", 0, nullptr), 0);
  EXPECT_EQ(Opened(), "notes file.txt\n");
  EXPECT_EQ(RunProgram("a.exe", "-x", 0, nullptr), 0);
  EXPECT_EQ(Opened(), "a.exe\n");
  // Backslashes become slashes first.
  EXPECT_EQ(RunProgram("dir\\page.html", nullptr, 0, nullptr), 0);
  EXPECT_EQ(Opened(), "dir/page.html\n");
}

TEST_F(DesktopOpener, ShellCharactersInUrlsStayText) {
  EXPECT_EQ(OpenWithDesktop("https://example.org/a b;touch pwned&x=$(touch pwned2)"), 0);
  EXPECT_EQ(Opened(), "https://example.org/a b;touch pwned&x=$(touch pwned2)\n");
  EXPECT_FALSE(Exists(dir_.File("pwned")));
  EXPECT_FALSE(Exists(dir_.File("pwned2")));
}

TEST_F(DesktopOpener, ForkedDocumentRunsGiveTheOpenersId) {
  pid_t child = 0;
  ASSERT_EQ(RunProgram("movie.mkv", "ignored", 1, &child), 0);
  ASSERT_GT(child, 0);
  EXPECT_EQ(ExitCodeOf(child), 0);
  EXPECT_EQ(Opened(), "movie.mkv\n");
}

// Records audio events from the watcher thread.
std::atomic<int> gEvents{0};
std::atomic<int> gLastKind{-1};
std::atomic<void*> gLastHandle{nullptr};
std::atomic<int> gLastNumber{-1};

void RecordEvent(int kind, vlObjectId id, int32_t, int32_t count, int32_t, int) {
  gLastKind = kind;
  gLastHandle = id.handle;
  gLastNumber = id.number + (count == 1 ? 0 : 1000);
  gEvents++;
}

bool WaitFor(const std::atomic<int>& counter, int value, int millis) {
  for (int waited = 0; waited < millis; waited += 5) {
    if (counter.load() >= value) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return counter.load() >= value;
}

class Watcher : public ::testing::Test {
 protected:
  void SetUp() override {
    gEvents = 0;
    gPlatformHooks.postAudioEvent = RecordEvent;
  }
  void TearDown() override { ResetPlatformHooks(); }
};

TEST_F(Watcher, PostsOneEndEventForTheRun) {
  vlRunRequest request{};
  request.program = "/bin/sh";
  request.args = "-c \"exit 5\"";
  ASSERT_EQ(StartExternalProgramThread(&request), 0);
  ASSERT_NE(request.worker, nullptr);
  EXPECT_GT(request.pid, 0);
  EXPECT_NE(request.mutex, nullptr);  // made by the watcher
  ASSERT_TRUE(WaitFor(gEvents, 1, 5000));
  EXPECT_EQ(gLastKind.load(), VL_AUDIO_EVENT_PROGRAM_ENDED);
  EXPECT_EQ(gLastHandle.load(), &request);
  EXPECT_EQ(gLastNumber.load(), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  EXPECT_EQ(gEvents.load(), 1);  // at most once
  StopWorker(&request);
  EXPECT_EQ(request.mutex, nullptr);
  EXPECT_EQ(request.condition, nullptr);
}

TEST_F(Watcher, ChildKilledBySignalPostsNothing) {
  vlRunRequest request{};
  request.program = "/bin/sh";
  request.args = "-c \"kill -9 $$\"";
  ASSERT_EQ(StartExternalProgramThread(&request), 0);
  pid_t child = pid_t(request.pid);
  // Once the watcher has reaped the child its id is gone.
  for (int i = 0; i < 500 && kill(child, 0) == 0; i++) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_NE(kill(child, 0), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(gEvents.load(), 0);
  StopWorker(&request);
}

TEST_F(Watcher, StoppingBeforeTheEndPostsNothing) {
  vlRunRequest request{};
  request.program = "/bin/sleep";
  request.args = "10";
  ASSERT_EQ(StartExternalProgramThread(&request), 0);
  pid_t child = pid_t(request.pid);
  auto start = std::chrono::steady_clock::now();
  StopWorker(&request);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(kill(child, SIGKILL), 0);  // still running: the stop does not wait for it
  EXPECT_EQ(ExitCodeOf(child), -1);
  EXPECT_EQ(gEvents.load(), 0);
}

TEST_F(Watcher, AProgramThatCannotStartFailsTheThread) {
  vlRunRequest request{};
  request.program = "/bin/echo";
  request.args = "\"unterminated";
  // The reason comes back, not just a failed thread.
  EXPECT_EQ(StartExternalProgramThread(&request), ERR_WRONGUSAGE);
  EXPECT_EQ(request.worker, nullptr);
  EXPECT_EQ(request.mutex, nullptr);
  request.program = "/no/such/program";
  request.args = nullptr;
  EXPECT_EQ(StartExternalProgramThread(&request), ERR_EXECUTE);
  EXPECT_EQ(request.worker, nullptr);
  EXPECT_EQ(gEvents.load(), 0);
}

}  // namespace
