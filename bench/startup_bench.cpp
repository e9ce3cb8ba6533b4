// Start-up to exit of the player on the example applet, as a user starts
// it: one exec per iteration on a private Xvfb without a window manager,
// its output thrown away. Goal: under 50 ms.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Xvfb on a display number it picks itself; "" when it cannot start.
struct Server {
  pid_t pid = -1;
  std::string name;
  Server() {
    int fds[2];
    if (pipe(fds) != 0) return;
    pid = fork();
    if (pid == 0) {
      close(fds[0]);
      int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      dup2(null, 2);
      std::string fd = std::to_string(fds[1]);
      execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
             static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    char buffer[32] = {};
    pollfd wait{fds[0], POLLIN, 0};
    if (pid > 0 && poll(&wait, 1, 30000) > 0 && read(fds[0], buffer, sizeof buffer - 1) > 0)
      name.assign(1, ':').append(buffer, strcspn(buffer, "\n"));
    close(fds[0]);
  }
  ~Server() {
    if (pid > 0) {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
  }
};

int RunPlayer(const std::string& display) {
  pid_t pid = fork();
  if (pid == 0) {
    int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    setenv("DISPLAY", display.c_str(), 1);
    execl(VL_PLAYER_PATH, VL_PLAYER_PATH, "-quiet", VL_HELLO_APPLET, static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = -1;
  waitpid(pid, &status, 0);
  return status;
}

void BM_HelloExecToExit(benchmark::State& state) {
  static Server server;
  if (server.name.empty()) {
    state.SkipWithError("Xvfb did not start");
    return;
  }
  for (auto _ : state) {
    if (RunPlayer(server.name) != 0) {
      state.SkipWithError("the player failed");
      return;
    }
  }
}
BENCHMARK(BM_HelloExecToExit)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(40)->Repetitions(3);

}  // namespace

BENCHMARK_MAIN();
