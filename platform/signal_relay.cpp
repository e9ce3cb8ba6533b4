// The signal relay thread, which serves the wake pipe while a display
// adapter owns the event loop, and the bracket around the main chunk.
// Depends on threads.h, wake_pipe.h and hooks.h.
#include <cerrno>
#include <sys/select.h>
#include <unistd.h>

#include "platform/display_adapter.h"
#include "platform/hooks.h"
#include "runtime/os.h"
#include "runtime/threads.h"
#include "platform/wake_pipe.h"
#include "vm/error_codes.h"
#include "platform/display_device.h"

namespace {

vlThreadId gRelayThread = 0;
vlVMState* gRunningState = nullptr;

void* SignalRelayThread(void*) {
  int fd = GetWakePipeReadEnd();
  for (;;) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(fd, &readable);
    int ready = select(fd + 1, &readable, nullptr, nullptr, nullptr);
    if (ready < 0 && errno != EINTR) break;
    // Interrupted by a signal: its handler's message may be in the pipe.
    vlWakeCounts counts = DrainWakePipe();
    if (counts.wakes + counts.timers > 0) WakeEventLoop();
    if (counts.stops > 0) break;
  }
  return nullptr;
}

}  // namespace

int StartSignalRelay() {
  if (DisplayDeviceDoes(nullptr, VL_DEVICE_OWN_INPUT) || gRelayThread) return 0;
  if (!CreateWakePipe(nullptr, nullptr)) return ERR_THREAD;
  gRelayThread = SpawnThread(SignalRelayThread, nullptr, 100);
  return gRelayThread ? 0 : ERR_THREAD;
}

void StopSignalRelay() {
  if (!gRelayThread) return;
  // The relay keeps draining, so a full pipe takes the message soon.
  while (PostWakeMessage(VL_WAKE_STOP_RELAY, 0) == 0) usleep(1000);
  JoinThread(gRelayThread);
  gRelayThread = 0;
}

int RunScriptMain(vlVMState* state) {
  int status = StartSignalRelay();
  if (status) return status;
  gRunningState = state;
  int result = gPlatformHooks.runMainChunk(state);
  gRunningState = nullptr;
  StopSignalRelay();
  return result;
}

vlVMState* GetRunningScriptState() { return gRunningState; }
