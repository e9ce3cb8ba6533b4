#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

struct ProbeRun {
  int exitCode = -1;
  std::string output;
};

// Runs the probe with the given argv[0], PATH and working directory.
ProbeRun RunProbe(const std::string& program, const std::string& argv0, const std::string& pathVar,
                  const std::string& cwd) {
  ProbeRun run;
  int out[2];
  EXPECT_EQ(pipe(out), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  std::string pathEntry = "PATH=" + pathVar;
  std::string script = "cd '" + cwd + "' && PATH='" + pathVar + "' exec -a '" + argv0 + "' " + program + " one two";
  const char* args[] = {"/bin/bash", "-c", script.c_str(), nullptr};
  pid_t pid;
  int status = posix_spawn(&pid, "/bin/bash", &actions, nullptr, const_cast<char**>(args), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  EXPECT_EQ(status, 0);
  char buffer[4096];
  ssize_t n;
  while ((n = read(out[0], buffer, sizeof(buffer))) > 0) run.output.append(buffer, static_cast<size_t>(n));
  close(out[0]);
  int waitStatus = 0;
  waitpid(pid, &waitStatus, 0);
  if (WIFEXITED(waitStatus)) run.exitCode = WEXITSTATUS(waitStatus);
  return run;
}

std::string ProbeDir() {
  std::string probe = VL_ENTRY_PROBE;
  return probe.substr(0, probe.rfind('/'));
}

std::string RealProbe() {
  char resolved[PATH_MAX];
  EXPECT_NE(realpath(VL_ENTRY_PROBE, resolved), nullptr);
  return resolved;
}

TEST(ProcessEntry, BodyResultBecomesTheExitCode) {
  ProbeRun run = RunProbe(VL_ENTRY_PROBE, VL_ENTRY_PROBE, "/usr/bin:/bin", "/");
  EXPECT_EQ(run.exitCode, 7);
  EXPECT_NE(run.output.find("argc=3\n"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("kept=1\n"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("path=" + RealProbe() + "\n"), std::string::npos) << run.output;
}

TEST(ProcessEntry, StartedThroughPathFindsItsOwnFile) {
  // The working directory holds a decoy of the same name: a bare argv[0]
  // must not be taken relative to it.
  char dir[] = "/tmp/vl_entry_testXXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string decoy = std::string(dir) + "/vl_entry_probe";
  FILE* f = fopen(decoy.c_str(), "w");
  ASSERT_NE(f, nullptr);
  fclose(f);
  ProbeRun run = RunProbe("vl_entry_probe", "vl_entry_probe", ProbeDir() + ":/usr/bin:/bin", dir);
  EXPECT_EQ(run.exitCode, 7);
  EXPECT_NE(run.output.find("path=" + RealProbe() + "\n"), std::string::npos) << run.output;
  unlink(decoy.c_str());
  rmdir(dir);
}

TEST(ProcessEntry, RelativeArgvIsResolvedAgainstTheWorkingDirectory) {
  std::string dir = ProbeDir();
  ProbeRun run = RunProbe("./vl_entry_probe", "./vl_entry_probe", "/usr/bin:/bin", dir);
  EXPECT_EQ(run.exitCode, 7);
  EXPECT_NE(run.output.find("path=" + RealProbe() + "\n"), std::string::npos) << run.output;
}

}  // namespace
