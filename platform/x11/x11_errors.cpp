// The X error handler: keeps the last error and a count, and writes one
// line per error to standard error (a run of the same error is written
// once). Depends on Xlib only.
#include "platform/x11/x11_errors.h"

#include <X11/Xlib.h>

#include <atomic>
#include <cstdio>
#include <mutex>

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

}  // namespace

void InstallX11ErrorHandler() {
  if (!gInstalled.exchange(true)) XSetErrorHandler(RecordX11Error);
}

vlX11ErrorRecord GetX11Errors() {
  std::lock_guard<std::mutex> lock(gErrorMutex);
  return gErrors;
}
