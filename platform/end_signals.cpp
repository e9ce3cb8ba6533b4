// The signals that end a run: they ask the running script to quit and wake
// any wait, so the player's shut-down runs before their default action
// ends the process. Depends on the event pump's quit flag and the wake
// pipe.
#include "platform/end_signals.h"

#include <pthread.h>

#include <csignal>
#include <iterator>
#include <cstdio>

#include "platform/event_pump.h"
#include "platform/wake_pipe.h"
#include "runtime/blocking.h"

namespace {

// Asks the running script to quit and wakes any wait; the shut-down then
// removes the temporary files. A second signal ends the process at once
// (the handler is reset by the first).
void OnEndSignal(int signal) {
  RequestQuitBySignal(signal);
  EndBlockingWaits();
  PostWakeMessage(VL_WAKE_WAKE, 0);
}

// The signals whose disposition the player changes for itself: the end
// signals get a handler, SIGXFSZ (here) and SIGPIPE (by the network layer)
// are ignored. The programs it starts get them back as it was given them.
constexpr int kChangedSignals[] = {SIGTERM, SIGINT, SIGHUP, SIGXFSZ, SIGPIPE};
bool gInheritedIgnored[std::size(kChangedSignals)];
sigset_t gInheritedMask;
bool gInheritedNoted = false;

void NoteInheritedSignals() {
  if (gInheritedNoted) return;
  for (size_t i = 0; i < std::size(kChangedSignals); ++i) {
    struct sigaction old{};
    gInheritedIgnored[i] = sigaction(kChangedSignals[i], nullptr, &old) == 0 && old.sa_handler == SIG_IGN;
  }
  gInheritedNoted = pthread_sigmask(SIG_SETMASK, nullptr, &gInheritedMask) == 0;
}

}  // namespace

void RestoreInheritedSignals() {
  if (!gInheritedNoted) return;
  struct sigaction action{};
  sigemptyset(&action.sa_mask);
  for (size_t i = 0; i < std::size(kChangedSignals); ++i) {
    action.sa_handler = gInheritedIgnored[i] ? SIG_IGN : SIG_DFL;
    sigaction(kChangedSignals[i], &action, nullptr);
  }
  sigprocmask(SIG_SETMASK, &gInheritedMask, nullptr);
}

void CatchEndSignals() {
  NoteInheritedSignals();
  struct sigaction action{};
  action.sa_handler = OnEndSignal;
  action.sa_flags = SA_RESETHAND;  // no SA_RESTART: a blocked read ends too
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) sigaction(signal, &action, nullptr);
  // A write beyond the file-size limit fails as a full disk does, and the
  // save reports it, instead of ending the process.
  std::signal(SIGXFSZ, SIG_IGN);
}

void EndBySignal(int signal) {
  // Nothing runs after the signal: what was printed goes out first (a
  // failure has no one left to report to).
  std::fflush(nullptr);
  struct sigaction action{};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  raise(signal);
}
