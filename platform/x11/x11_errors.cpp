// The X error handlers: the one for errors keeps the last error and a
// count, and writes one line per error to standard error (a run of the
// same error is written once); the one for a lost server ends the player.
// Depends on Xlib and the list of paths removed at exit.
#include "platform/x11/x11_errors.h"

#include <X11/Xlib.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <mutex>

#include "runtime/exit_removals.h"

namespace {

std::mutex gErrorMutex;
vlX11ErrorRecord gErrors{};
std::atomic<bool> gInstalled{false};

int RecordX11Error(Display* display, XErrorEvent* event) {
  char text[128] = "";
  XGetErrorText(display, event->error_code, text, sizeof text);
  bool repeat;
  {
    std::lock_guard<std::mutex> lock(gErrorMutex);
    repeat = gErrors.count > 0 && gErrors.errorCode == event->error_code &&
             gErrors.requestCode == event->request_code && gErrors.minorCode == event->minor_code;
    gErrors.count++;
    gErrors.errorCode = event->error_code;
    gErrors.requestCode = event->request_code;
    gErrors.minorCode = event->minor_code;
    gErrors.serial = event->serial;
  }
  if (!repeat)
    std::fprintf(stderr, "X error: %s (request %d.%d, resource 0x%lx)\n", text, event->request_code,
                 event->minor_code, static_cast<unsigned long>(event->resourceid));
  return 0;
}

// Xlib's answer to a lost server is a few lines of its own and exit(1),
// from whichever thread saw it first. The player says it once, in its own
// words, and ends at once: nothing more can be drawn or read, so shut-down
// cannot run; only the temporary files go with it. A second thread that
// sees the loss waits here until the first has ended the process.
int OnXServerLost(Display* display) {
  static pthread_mutex_t ending = PTHREAD_MUTEX_INITIALIZER;
  pthread_mutex_lock(&ending);
  const char* name = display ? DisplayString(display) : "";
  std::fprintf(stderr, "Lost the connection to X server %s!\n", name && *name ? name : "(default)");
  std::fflush(stderr);
  RemoveExitPaths();
  _exit(1);
}

}  // namespace

void InstallX11ErrorHandler() {
  if (!gInstalled.exchange(true)) XSetErrorHandler(RecordX11Error);
  XSetIOErrorHandler(OnXServerLost);
}

void ReclaimX11ErrorHandlers() {
  gInstalled.store(true);
  XSetErrorHandler(RecordX11Error);
  XSetIOErrorHandler(OnXServerLost);
}

vlX11ErrorRecord GetX11Errors() {
  std::lock_guard<std::mutex> lock(gErrorMutex);
  return gErrors;
}
