// External programs: the document test, the argument splitter with quotes
// and output redirection, shell and forked runs, and the watcher thread of
// asynchronous runs. Depends on the OS layer, paths (ToNativePath), threads
// and the audio-event hook.
#include "platform/programs.h"

#include <fcntl.h>
#include <linux/close_range.h>
#include <pthread.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/end_signals.h"
#include "platform/event_pump.h"
#include "platform/hooks.h"
#include "runtime/blocking.h"
#include "runtime/console.h"
#include "runtime/os.h"
#include "runtime/paths.h"
#include "vm/text.h"
#include "vm/error_codes.h"

namespace {

char* CopyText(const char* text, size_t length) {
  auto* copy = static_cast<char*>(AllocMemory(length + 1, 0));
  if (!copy) return nullptr;
  std::memcpy(copy, text, length);
  copy[length] = 0;
  return copy;
}

// The child's exit status when the program cannot be executed, as shells
// report it.
constexpr int kExecFailed = 127;

void WaitForChild(pid_t child) {
  int status;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
}

// How long a command may take to end after the player's end signal reached
// it before it is killed, and how long its killed processes may then take
// to go (one that nobody reaps stays behind as an entry, not as a program).
constexpr int kEndGraceMillis = 1000;
constexpr int kKilledMillis = 500;
// How often the wait looks at the command.
constexpr int kWaitSliceMillis = 10;

// A command the player waits for runs in a process group of its own, which
// takes the terminal while it runs, so that Ctrl-C and Ctrl-Z reach the
// command alone (as with a shell's foreground job) and an end signal sent
// to the player can end the whole command, whatever the shell started.
struct ForegroundCommand {
  pid_t group = 0;
  // Standard input is the player's controlling terminal: the command may
  // be stopped from it, and its shell's job control continues the player.
  bool jobControl = false;
  // The command has had the terminal (Ctrl-C on it reached the command).
  bool hadTerminal = false;

  // Whether the command will take the terminal: asked before the fork.
  static bool PlayerHoldsTerminal() { return isatty(STDIN_FILENO) && tcgetpgrp(STDIN_FILENO) == getpgrp(); }
  static bool OnControllingTerminal() {
    return isatty(STDIN_FILENO) && tcgetsid(STDIN_FILENO) == getsid(0);
  }
  // The child does the same before it runs the command, so that it never
  // reads the terminal from outside the foreground.
  void Take(pid_t child, bool holdsTerminal) {
    group = child;
    setpgid(child, child);
    jobControl = OnControllingTerminal();
    if (holdsTerminal) {
      HandTerminal(child);
      hadTerminal = true;
    }
  }
  // The terminal comes back to the player only from the command: a player
  // its shell put in the background (bg after Ctrl-Z) leaves it alone.
  void Release() {
    if (jobControl && CommandHoldsTerminal()) HandTerminal(getpgrp());
  }
  bool CommandHoldsTerminal() const { return tcgetpgrp(STDIN_FILENO) == group; }
  // Waits for the command; the player's end signal is passed on to its
  // whole group, which gets the grace time to end and is then killed.
  // Returns the status waitpid gave for the group's leader, or -1.
  int Wait() {
    int status = -1, forwarded = 0, waited = 0;
    bool leaderGone = false;
    for (;;) {
      if (!leaderGone) {
        // Stops are watched whenever a terminal can stop the command, also
        // for a player started in the background: its command stops when it
        // reads the terminal.
        const pid_t r = waitpid(group, &status, WNOHANG | (jobControl ? WUNTRACED : 0));
        if (r == group && WIFSTOPPED(status)) {
          Suspend(WSTOPSIG(status));
          continue;
        }
        if (r == group || (r < 0 && errno != EINTR)) {
          if (r < 0) status = -1;
          if (!forwarded) return status;
          // The shell went, but what it started may still be running.
          leaderGone = true;
        }
      }
      if (leaderGone && !GroupRemains()) return status;
      if (const int signal = QuitSignal(); signal && !forwarded) {
        forwarded = signal;
        kill(-group, signal);
        continue;
      }
      if (forwarded) {
        if (waited >= kEndGraceMillis + kKilledMillis) return status;
        if (waited >= kEndGraceMillis) kill(-group, SIGKILL);
        waited += kWaitSliceMillis;
      }
      SleepMillis(kWaitSliceMillis);
    }
  }

  // A process of the command's group still exists.
  bool GroupRemains() const { return kill(-group, 0) == 0 || errno == EPERM; }

  // The command was stopped from the terminal: by Ctrl-Z, or for reading
  // or writing it outside the foreground. As a shell does, the player
  // takes the terminal back and stops in turn (for the same reason), so
  // that its own shell takes over; continued in the foreground (fg) it
  // hands the terminal to the command. A command that wants the terminal
  // the player holds just gets it. Either way the command goes on. A
  // player nobody could continue (its group has no shell) is not stopped
  // and goes on at once.
  void Suspend(int stopSignal) {
    const bool forTerminal = stopSignal == SIGTTIN || stopSignal == SIGTTOU;
    if (!forTerminal || !PlayerHoldsTerminal()) {
      if (CommandHoldsTerminal()) HandTerminal(getpgrp());
      kill(0, forTerminal ? stopSignal : SIGTSTP);
    }
    if (PlayerHoldsTerminal()) {
      HandTerminal(group);
      hadTerminal = true;
    }
    kill(-group, SIGCONT);
  }

  static void HandTerminal(pid_t group) {
    // A process group outside the foreground may set it only with SIGTTOU
    // held back.
    sigset_t block, old;
    sigemptyset(&block);
    sigaddset(&block, SIGTTOU);
    pthread_sigmask(SIG_BLOCK, &block, &old);
    tcsetpgrp(STDIN_FILENO, group);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
  }
};

// Forks and executes vector[0]; the child sends standard output and error
// to output when one is named. Everything the child needs is made before
// the fork, so it only makes system calls.
// With ownGroup the child leads a process group of its own, and with
// terminal it also takes the terminal for that group.
int ForkExec(char* const* vector, const char* output, pid_t* pidOut, bool ownGroup = false, bool terminal = false) {
  // A pipe that closes on a successful exec: a program that cannot be
  // started writes its errno into it instead, so the caller can tell.
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return ERR_EXECUTE;
  // What the script printed so far comes out ahead of the program's own
  // output on a shared pipe or file.
  FlushConsole();
  pid_t child = fork();
  if (child < 0) {
    close(report[0]);
    close(report[1]);
    return ERR_EXECUTE;
  }
  if (child == 0) {
    close(report[0]);
    RestoreInheritedSignals();
    if (ownGroup) setpgid(0, 0);
    if (ownGroup && terminal) ForegroundCommand::HandTerminal(getpid());
    if (output && output[0]) {
      int fd = open(output, O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (fd >= 0) {
        dup2(fd, STDOUT_FILENO);
        dup2(fd, STDERR_FILENO);
        if (fd > STDERR_FILENO) close(fd);
      }
    }
    // The program gets standard input, output and error only: the
    // script's open files, the X connection and the player's pipes stay
    // the player's (a pipe's reader sees its end when the player closes
    // it, whatever the program does).
    close_range(STDERR_FILENO + 1, ~0u, CLOSE_RANGE_CLOEXEC);
    execvp(vector[0], vector);
    int error = errno;
    ssize_t written = write(report[1], &error, sizeof error);
    (void)written;
    _exit(kExecFailed);
  }
  close(report[1]);
  int error = 0;
  ssize_t n;
  while ((n = read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
  }
  close(report[0]);
  if (n > 0) {
    WaitForChild(child);
    return ERR_EXECUTE;
  }
  if (pidOut) *pidOut = child;
  return 0;
}

}  // namespace

void FreeProgramArgs(vlProgramArgs* args) {
  for (size_t i = 0; i < args->count; i++) FreeMemory(args->vector[i]);
  args->count = 0;
  args->vector[0] = nullptr;
  args->output[0] = 0;
}

int SplitProgramArgs(const char* program, const char* args, vlProgramArgs* out) {
  out->count = 0;
  out->output[0] = 0;
  out->vector[0] = CopyText(program, std::strlen(program));
  if (!out->vector[0]) return ERR_MEM;
  out->count = 1;
  out->vector[1] = nullptr;

  const char* p = args ? args : "";
  bool wantOutput = false;  // a lone '>' was seen: the next argument names the file
  for (;;) {
    while (*p == ' ' || *p == '\t') p++;
    if (!*p) break;
    const char* start;
    size_t length;
    bool quoted = *p == '"';
    if (quoted) {
      start = p + 1;
      const char* close = std::strchr(start, '"');
      if (!close) {
        FreeProgramArgs(out);
        return ERR_WRONGUSAGE;
      }
      length = size_t(close - start);
      p = close + 1;
    } else {
      start = p;
      while (*p && *p != ' ' && *p != '\t') p++;
      length = size_t(p - start);
    }
    // A quoted '>' is an ordinary character.
    bool redirect = !wantOutput && !quoted && start[0] == '>';
    if (redirect || wantOutput) {
      if (redirect) {
        start++;
        length--;
      }
      wantOutput = redirect && length == 0;
      if (wantOutput) continue;
      if (length > kMaxOutputName) {
        FreeProgramArgs(out);
        return ERR_WRONGUSAGE;
      }
      std::memcpy(out->output, start, length);
      out->output[length] = 0;
      continue;
    }
    if (out->count == kMaxProgramArgs) {
      FreeProgramArgs(out);
      return ERR_WRONGUSAGE;
    }
    char* copy = CopyText(start, length);
    if (!copy) {
      FreeProgramArgs(out);
      return ERR_MEM;
    }
    out->vector[out->count++] = copy;
    out->vector[out->count] = nullptr;
  }
  if (wantOutput) {  // '>' with no file after it
    FreeProgramArgs(out);
    return ERR_WRONGUSAGE;
  }
  return 0;
}

int IsDocumentName(const char* name) {
  const char* slash = std::strrchr(name, '/');
  const char* filePart = slash ? slash + 1 : name;
  if (!std::strchr(filePart, '.')) return 0;
  size_t length = std::strlen(name);
  if (length <= 5) return 1;
  return CompareNoCase(name + length - 4, ".exe") != 0;
}

int RunDesktopOpener(const char* name, int wait, pid_t* pidOut) {
  // The name goes to the opener as one argument: blanks and shell
  // characters in file names and URLs stay what they are.
  char* vector[3] = {const_cast<char*>("xdg-open"), CopyText(name, std::strlen(name)), nullptr};
  if (!vector[1]) return ERR_MEM;
  pid_t child = 0;
  const bool terminal = wait && ForegroundCommand::PlayerHoldsTerminal();
  int status = ForkExec(vector, nullptr, &child, wait != 0, terminal);
  FreeMemory(vector[1]);
  if (status != 0) return status;
  if (wait) {
    ForegroundCommand command;
    command.Take(child, terminal);
    command.Wait();
    command.Release();
  }
  if (pidOut) *pidOut = child;
  return 0;
}

int OpenWithDesktop(const char* fileOrUrl) {
  RunDesktopOpener(fileOrUrl, 1, nullptr);
  return 0;
}

int RunProgram(const char* program, const char* args, int forkFlag, pid_t* pidOut) {
  char native[kNativePathBuffer];
  program = ToNativePath(program, native);
  if (IsDocumentName(program)) return RunDesktopOpener(program, !forkFlag, pidOut);

  if (!forkFlag) {
    size_t length = std::strlen(program) + (args ? std::strlen(args) + 1 : 0);
    char* command = static_cast<char*>(AllocMemory(length + 1, 0));
    if (!command) return ERR_MEM;
    if (args) {
      std::snprintf(command, length + 1, "%s %s", program, args);
    } else {
      std::snprintf(command, length + 1, "%s", program);
    }
    // Through the shell as system() runs it, but without ignoring the end
    // signals meanwhile. The command's own exit status is not reported;
    // only a shell that could not be started is.
    char* vector[4] = {const_cast<char*>("/bin/sh"), const_cast<char*>("-c"), command, nullptr};
    pid_t child = 0;
    const bool terminal = ForegroundCommand::PlayerHoldsTerminal();
    int status = ForkExec(vector, nullptr, &child, true, terminal);
    FreeMemory(command);
    if (status != 0) return status;
    ForegroundCommand running;
    running.Take(child, terminal);
    const int ended = running.Wait();
    running.Release();
    // Ctrl-C on the terminal reached the command alone: it ends the run as
    // it would have without the command.
    if (running.hadTerminal && ended != -1 && WIFSIGNALED(ended) && WTERMSIG(ended) == SIGINT)
      RequestQuitBySignal(SIGINT);
    return 0;
  }

  vlProgramArgs vector;
  int status = SplitProgramArgs(program, args, &vector);
  if (status != 0) return status;
  status = ForkExec(vector.vector, vector.output, pidOut);
  FreeProgramArgs(&vector);
  return status;
}

int SpawnProgram(const char* program, const char* args, int forkFlag) {
  return RunProgram(program, args, forkFlag, nullptr);
}

int RunProgramAndWatch(vlRunRequest* request, vlWorker* worker) {
  pid_t child = 0;
  request->error = RunProgram(request->program, request->args, 1, &child);
  if (request->error != 0) return 0;
  request->pid = child;
  ReportWorkerStarted(worker);
  bool ended = false;
  while (!GetWorkerStopFlag(worker)) {
    if (!ended) {
      int status = 0;
      if (waitpid(child, &status, WNOHANG) == child) {
        ended = true;
        // A child ended by a signal reports nothing.
        if (WIFEXITED(status) && gPlatformHooks.postAudioEvent) {
          gPlatformHooks.postAudioEvent(VL_AUDIO_EVENT_PROGRAM_ENDED, vlObjectId{0, request}, 0, 1,
                                        0, 1);
        }
      }
    }
    SleepMillis(10);
  }
  return 1;
}

void ExternalProgramThread(void* start) {
  vlWorker* worker = GetWorkerSelf(start);
  auto* request = static_cast<vlRunRequest*>(GetWorkerUserData(worker));
  uint32_t result = 1;
  request->mutex = CreateMutex();
  request->condition = CreateCondition();
  if (request->mutex && request->condition && RunProgramAndWatch(request, worker)) {
    WaitWorkerQuit(worker);
    result = 0;
  }
  FreeCondition(request->condition);
  FreeMutex(request->mutex);
  request->condition = nullptr;
  request->mutex = nullptr;
  ReportWorkerResult(worker, result);
}

int StartExternalProgramThread(vlRunRequest* request) {
  request->error = 0;
  request->worker =
      CreateWorker("External program thread", ExternalProgramThread, request, 0, 16384, 0);
  if (request->worker) return 0;
  // The watcher has ended (CreateWorker joined it): its word is settled.
  return request->error ? request->error : ERR_THREAD;
}
