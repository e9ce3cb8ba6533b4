// A private X server for one test: Xvfb on a display number it picks
// itself, so tests that warp the pointer or read pixels back cannot disturb
// each other. Falls back on $DISPLAY when Xvfb is not installed; the test
// skips when neither gives a server.
#pragma once
#include <gtest/gtest.h>  // before Xlib, whose macros clash with it
#include <X11/Xlib.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "platform/x11/x11_connection.h"

class PrivateXServer {
 public:
  // depth 24 or 16; the screen is width x height; extra: more Xvfb
  // arguments ("-extension MIT-SHM" leaves an extension out).
  bool Start(int width = 800, int height = 600, int depth = 24, const std::vector<std::string>& extra = {}) {
    int fds[2];
    if (pipe(fds) != 0) return false;
    std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x" +
                         std::to_string(depth);
    pid_ = fork();
    if (pid_ == 0) {
      close(fds[0]);
      int null = open("/dev/null", O_WRONLY);
      if (null >= 0) {
        dup2(null, 1);
        dup2(null, 2);
      }
      std::string fd = std::to_string(fds[1]);
      std::vector<const char*> argv = {"Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(),
                                       "-nolisten", "tcp", "-noreset"};
      for (const std::string& a : extra) argv.push_back(a.c_str());
      argv.push_back(nullptr);
      execvp("Xvfb", const_cast<char* const*>(argv.data()));
      _exit(127);
    }
    close(fds[1]);
    if (pid_ < 0) {
      close(fds[0]);
      return FallBack();
    }
    char buffer[32] = {};
    size_t got = 0;
    while (got < sizeof(buffer) - 1) {
      // A server that never reports its number must not hang the test.
      pollfd wait{fds[0], POLLIN, 0};
      if (poll(&wait, 1, 30000) <= 0) break;
      ssize_t n = read(fds[0], buffer + got, sizeof(buffer) - 1 - got);
      if (n <= 0) break;
      got += static_cast<size_t>(n);
      if (buffer[got - 1] == '\n') break;
    }
    close(fds[0]);
    if (got == 0) {
      Stop();
      return FallBack();
    }
    name_.assign(1, ':');
    name_.append(buffer, strcspn(buffer, "\n"));
    return true;
  }
  void Stop() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int waited = 0;
      while (waitpid(pid_, nullptr, WNOHANG) == 0) {
        if (++waited == 100) {
          kill(pid_, SIGKILL);
          waitpid(pid_, nullptr, 0);
          break;
        }
        usleep(50000);
      }
    }
    pid_ = -1;
  }
  ~PrivateXServer() { Stop(); }
  const char* name() const { return name_.c_str(); }
  bool isPrivate() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }

 private:
  bool FallBack() {
    const char* env = getenv("DISPLAY");
    if (!env || !*env) return false;
    Display* probe = XOpenDisplay(env);
    if (!probe) return false;
    XCloseDisplay(probe);
    name_ = env;
    return true;
  }
  pid_t pid_ = -1;
  std::string name_;
};

#define START_X_SERVER(server, ...)                                          \
  do {                                                                       \
    if (!(server).Start(__VA_ARGS__))                                        \
      GTEST_SKIP() << "no X server: Xvfb missing and DISPLAY cannot be opened"; \
  } while (0)
