// The player-level test fixture: builds applets with the project's own
// tools, runs the player binary with its output, input and environment in
// hand, and gives the sound sink and the temporary directory to look at.
#include "tests/player/player_harness.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <thread>

extern char** environ;

namespace vlplayer {
namespace {

long long NowMs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<long long>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

std::vector<std::string> ListDir(const std::string& path) {
  std::vector<std::string> names;
  DIR* d = opendir(path.c_str());
  if (!d) return names;
  while (dirent* e = readdir(d))
    if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")) names.push_back(e->d_name);
  closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

// Sets (or with "NAME=" alone, removes) one variable of an environment.
void SetEnv(std::vector<std::string>* env, const std::string& assignment) {
  size_t eq = assignment.find('=');
  std::string key = assignment.substr(0, eq + 1);
  env->erase(std::remove_if(env->begin(), env->end(),
                            [&](const std::string& e) { return e.compare(0, key.size(), key) == 0; }),
             env->end());
  if (eq != std::string::npos && eq + 1 < assignment.size()) env->push_back(assignment);
}

// Shell status to the Result convention.
int DecodeStatus(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return -WTERMSIG(status);
  return kKilled;
}

}  // namespace

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') quoted.append("'\\''");
    else quoted.push_back(c);
  }
  quoted.push_back('\'');
  return quoted;
}

void PlayerTest::SetUp() {
  START_X_SERVER(server_, 800, 600, depth_);
  const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
  dir_ = std::string(testing::TempDir()) + "vlplayer_" + std::to_string(getpid()) + "_" +
         info->test_suite_name() + "_" + info->name();
  // Parameterised tests have slashes in their names.
  for (size_t i = std::string(testing::TempDir()).size(); i < dir_.size(); ++i)
    if (dir_[i] == '/') dir_[i] = '_';
  std::system(("rm -rf " + Quote(dir_)).c_str());
  ASSERT_EQ(mkdir(dir_.c_str(), 0755), 0) << dir_;
  temp_ = dir_ + "/tmp";
  ASSERT_EQ(mkdir(temp_.c_str(), 0755), 0);
  sink_ = dir_ + "/sink";
  ASSERT_EQ(mkdir(sink_.c_str(), 0755), 0);
  // The whole ALSA configuration: "default" is a file plug-in over a null
  // device, each opening its own WAV file (later ones get a number).
  WriteFile("asound.conf", "pcm.!default {\n  type file\n  slave { pcm { type null } }\n  file \"" + sink_ +
                               "/out.wav\"\n  format \"wav\"\n  truncate false\n}\n");
}

void PlayerTest::TearDown() {
  if (!dir_.empty() && !HasFailure()) std::system(("rm -rf " + Quote(dir_)).c_str());
}

std::string PlayerTest::WriteFile(const std::string& name, const std::string& bytes) const {
  std::string path = dir_ + "/" + name;
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  EXPECT_TRUE(out.good()) << path;
  return path;
}

std::string PlayerTest::Applet(const std::string& name, const std::string& asmText,
                               const std::string& description) {
  std::string text = asmText;
  if (text.find(".source") == std::string::npos) text = ".source \"@" + name + ".vls\"\n" + text;
  std::string source = WriteFile(name + ".vlasm", text + "\nret\n");
  std::string desc = WriteFile(name + ".desc", "revision 6 1\n" + description + "\n");
  std::string chunk = dir_ + "/" + name + ".chunk";
  std::string applet = dir_ + "/" + name + ".vla";
  int status = 0;
  std::string log = Tool(Quote(VL_ASM_PATH) + " -o " + Quote(chunk) + " " + Quote(source) + " 2>&1", &status);
  EXPECT_EQ(status, 0) << "vlasm: " << log;
  log = Tool(Quote(VL_MKAPPLET_PATH) + " -d " + Quote(desc) + " -o " + Quote(applet) + " " + Quote(chunk) + " 2>&1",
             &status);
  EXPECT_EQ(status, 0) << "mkapplet: " << log;
  return applet;
}

Result PlayerTest::Run(const std::vector<std::string>& args, const RunOptions& options) {
  std::vector<std::string> argv{options.program.empty() ? std::string(VL_PLAYER_PATH) : options.program};
  if (options.quietAndTemp) argv.insert(argv.end(), {"-quiet", "-tempdir", temp_});
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) env.push_back(*e);
  SetEnv(&env, "HOME=" + dir_);
  SetEnv(&env, "ALSA_CONFIG_PATH=" + dir_ + "/asound.conf");
  SetEnv(&env, options.display ? "DISPLAY=" + std::string(server_.name()) : "DISPLAY=");
  // Under the leak checker the toolkit's own leftovers are not the player's.
  const char* lsan = std::getenv("LSAN_OPTIONS");
  SetEnv(&env, std::string("LSAN_OPTIONS=") + (lsan && *lsan ? std::string(lsan) + ":" : "") +
                   "suppressions=" + VL_PLAYER_TEST_DIR + "/lsan.supp");
  for (const std::string& e : options.env) SetEnv(&env, e);
  std::vector<char*> argvC, envC;
  for (std::string& a : argv) argvC.push_back(a.data());
  argvC.push_back(nullptr);
  for (std::string& e : env) envC.push_back(e.data());
  envC.push_back(nullptr);

  int in[2], out[2], err[2];
  Result result;
  if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC)) {
    ADD_FAILURE() << "pipe";
    return result;
  }
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    execve(argvC[0], argvC.data(), envC.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  if (pid < 0) {
    close(in[1]);
    close(out[0]);
    close(err[0]);
    ADD_FAILURE() << "fork";
    return result;
  }
  // Held input is the write end kept open and never written.
  int held = -1;
  if (options.holdInput) {
    held = in[1];
    in[1] = -1;
  } else if (!options.hasInput || options.input.empty()) {
    close(in[1]);
    in[1] = -1;
  } else {
    fcntl(in[1], F_SETFL, O_NONBLOCK);
  }
  signal(SIGPIPE, SIG_IGN);  // a player that stops reading must not end the test

  std::atomic<bool> killed{false};
  // Output is drained on its own thread so that the callback may block.
  std::thread pump([&] {
    size_t written = 0;
    long long deadline = NowMs() + options.timeoutSeconds * 1000LL;
    int outFd = out[0], errFd = err[0];
    while (outFd >= 0 || errFd >= 0) {
      pollfd fds[3] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}, {in[1], POLLOUT, 0}};
      long long left = deadline - NowMs();
      if (left <= 0) {
        killed = true;
        kill(pid, SIGKILL);
        break;
      }
      if (poll(fds, 3, static_cast<int>(std::min(left, 200LL))) < 0) continue;
      char buffer[4096];
      for (int i = 0; i < 2; ++i) {
        if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
        if (n > 0) {
          (i == 0 ? result.out : result.err).append(buffer, static_cast<size_t>(n));
        } else {
          close(fds[i].fd);
          (i == 0 ? outFd : errFd) = -1;
        }
      }
      if (in[1] >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
        ssize_t n = write(in[1], options.input.data() + written, options.input.size() - written);
        if (n > 0) written += static_cast<size_t>(n);
        if (n <= 0 || written == options.input.size()) {
          close(in[1]);
          in[1] = -1;
        }
      }
    }
    if (outFd >= 0) close(outFd);
    if (errFd >= 0) close(errFd);
    if (in[1] >= 0) close(in[1]);
  });
  if (options.whileRunning) options.whileRunning(pid, server_.name());
  pump.join();
  int status = 0;
  waitpid(pid, &status, 0);
  if (held >= 0) close(held);
  result.status = killed ? kKilled : DecodeStatus(status);
  return result;
}

std::vector<std::string> PlayerTest::SinkFiles() const {
  std::vector<std::string> files;
  for (const std::string& name : ListDir(sink_)) files.push_back(sink_ + "/" + name);
  return files;
}

std::vector<std::string> PlayerTest::TempEntries() const { return ListDir(temp_); }

std::string PlayerTest::Tool(const std::string& commandLine, int* status) const {
  std::string command = "DISPLAY=" + Quote(server_.name()) + " HOME=" + Quote(dir_) + " " + commandLine;
  FILE* pipe = popen(command.c_str(), "r");
  std::string output;
  if (!pipe) {
    if (status) *status = -1;
    return output;
  }
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  int s = pclose(pipe);
  if (status) *status = DecodeStatus(s);
  return output;
}

double SoxStat(const std::string& file, const std::string& field, const std::string& minus) {
  std::string command = minus.empty() ? "sox " + Quote(file) + " -n stat 2>&1"
                                      : "sox -m -v 1 " + Quote(file) + " -v -1 " + Quote(minus) + " -n stat 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  double value = std::nan("");
  if (!pipe) return value;
  char line[256];
  while (fgets(line, sizeof line, pipe)) {
    if (std::strncmp(line, field.c_str(), field.size()) != 0) continue;
    const char* colon = std::strchr(line, ':');
    if (colon) value = std::strtod(colon + 1, nullptr);
  }
  pclose(pipe);
  return value;
}

std::string WaitUntilFileExists(const std::string& path, const std::string& labelPrefix) {
  const std::string loop = labelPrefix + "_wait", done = labelPrefix + "_there";
  return loop + ":\n  .call wait 2\n  .call exists \"" + path + "\" -> e\n  getglobal 0 \"e\"\n  eq 1 0 #1\n  jump " +
         done + "\n  jump " + loop + "\n" + done + ":\n";
}

std::string WaitUntilMusicStops(int id, const std::string& label) {
  // IsMusicPlaying answers a boolean: "test 8 8 0" skips the jump while it is true.
  return "loadk 5 #0\nloadk 6 #500\nloadk 7 #1\njump " + label + "next\n" + label + ":\n.call base=8 wait 1\n"
         ".call base=8 checkevents\n.call base=8 ismusicplaying " + std::to_string(id) + " -> p\ngetglobal 8 \"p\"\n"
         "test 8 8 0\njump " + label + "done\n" + label + "next:\nforloop 5 " + label + "\n" + label + "done:\n";
}

bool ProcessRunning(pid_t pid) {
  if (kill(pid, 0) != 0) return false;
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(stat, line);
  const size_t close = line.rfind(')');
  return close == std::string::npos || close + 2 >= line.size() || line[close + 2] != 'Z';
}

bool WaitForFileWhileRunning(const std::string& path, pid_t pid, int seconds) {
  const long long deadline = NowMs() + 1000LL * seconds;
  while (access(path.c_str(), F_OK) != 0) {
    if (NowMs() > deadline || !ProcessRunning(pid)) return access(path.c_str(), F_OK) == 0;
    usleep(20000);
  }
  return true;
}

std::string WaitForWindow(const std::string& display, const std::string& name, int timeoutMs) {
  long long deadline = NowMs() + timeoutMs;
  std::string command =
      "DISPLAY=" + Quote(display) + " xdotool search --onlyvisible --name " + Quote(name) + " 2>/dev/null";
  while (NowMs() < deadline) {
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe) {
      char line[64] = {};
      bool found = fgets(line, sizeof line, pipe) != nullptr;
      pclose(pipe);
      if (found) return std::string(line, strcspn(line, "\n"));
    }
    usleep(50000);
  }
  return "";
}

}  // namespace vlplayer
