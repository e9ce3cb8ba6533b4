// Console notices: texts, the quiet switch and forced flushing, read back
// through a pipe that replaces standard output.
#include "runtime/console.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "runtime/runtime_options.h"

namespace {

// Points stdout at a pipe; Read() returns what has reached the pipe.
class CapturedStdout {
 public:
  CapturedStdout() {
    std::fflush(stdout);
    saved_ = dup(STDOUT_FILENO);
    EXPECT_EQ(pipe(fds_), 0);
    fcntl(fds_[0], F_SETFL, O_NONBLOCK);
    dup2(fds_[1], STDOUT_FILENO);
  }
  ~CapturedStdout() {
    std::fflush(stdout);
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
    close(fds_[0]);
    close(fds_[1]);
  }
  std::string Read() {
    std::string s;
    char buf[256];
    ssize_t n;
    while ((n = read(fds_[0], buf, sizeof buf)) > 0) s.append(buf, static_cast<size_t>(n));
    return s;
  }

 private:
  int saved_ = -1;
  int fds_[2] = {-1, -1};
};

TEST(Console, NoticesFollowTheQuietSwitchAndForcedFlush) {
  // Full buffering, so only a flush moves text into the pipe.
  static char buffer[4096];
  std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
  CapturedStdout out;
  vlConsoleForceFlush = true;
  PrintConsole("Loading %s... ", "a.png");
  EXPECT_EQ(out.Read(), "Loading a.png... ");
  PrintDone();
  PrintFailed();
  PrintSkipped();
  EXPECT_EQ(out.Read(), "done\nfailed\nskipped\n");
  SetRuntimeOption(nullptr, VL_OPT_QUIET, 1u, 0u);
  PrintDone();
  PrintFailed();
  std::fflush(stdout);
  EXPECT_EQ(out.Read(), "");
  SetRuntimeOption(nullptr, VL_OPT_QUIET, 0u, 0u);
  vlConsoleForceFlush = false;
  PrintConsole("%d", 42);
  EXPECT_EQ(out.Read(), "");  // still buffered
  std::fflush(stdout);
  EXPECT_EQ(out.Read(), "42");
}

}  // namespace
