// The signals that end a run: they ask the running script to quit and wake
// any wait, so the player's shut-down runs before their default action
// ends the process. Depends on the event pump's quit flag and the wake
// pipe.
#include "platform/end_signals.h"

#include <pthread.h>

#include <csignal>
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

}  // namespace

void CatchEndSignals() {
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
  // Nothing runs after the signal: what was printed goes out first.
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
