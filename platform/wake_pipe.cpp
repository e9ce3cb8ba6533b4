// The wake pipe, its reader and the blocking wait on it. Writers may be
// signal handlers, so posting is a single write() and nothing else.
// Depends on timers.h (flagging fired timers) and hooks.h.
#include "platform/wake_pipe.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include <vector>

#include "platform/x11/x11_connection.h"
#include "platform/display_adapter.h"
#include "platform/hooks.h"
#include "platform/timers.h"
#include "runtime/blocking.h"
#include "vm/error_codes.h"

namespace {
std::atomic<int> gReadEnd{-1};
std::atomic<int> gWriteEnd{-1};
static_assert(std::atomic<int>::is_always_lock_free, "read from signal handlers");
}  // namespace

int CreateWakePipe(int* readEnd, int* writeEnd) {
  if (gReadEnd.load() < 0) {
    int ends[2];
    if (pipe(ends) != 0) return 0;
    for (int fd : ends) {
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
      fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    gWriteEnd.store(ends[1]);
    gReadEnd.store(ends[0]);
  }
  if (readEnd) *readEnd = gReadEnd.load();
  if (writeEnd) *writeEnd = gWriteEnd.load();
  return 1;
}

int OpenWakePipe() { return CreateWakePipe(nullptr, nullptr) ? 0 : ERR_PIPE; }

void CloseWakePipe() {
  int readEnd = gReadEnd.exchange(-1);
  int writeEnd = gWriteEnd.exchange(-1);
  if (readEnd >= 0) close(readEnd);
  if (writeEnd >= 0) close(writeEnd);
}

int GetWakePipeReadEnd() { return gReadEnd.load(); }

int PostWakeMessage(uint32_t type, uintptr_t value) {
  int fd = gWriteEnd.load(std::memory_order_relaxed);
  if (fd < 0) return 0;
  vlWakeMsg message{};
  message.type = type;
  message.value = value;
  int savedErrno = errno;
  ssize_t written = write(fd, &message, sizeof(message));
  errno = savedErrno;
  return written > 0 ? static_cast<int>(written) : 0;
}

int WakeEventLoop() {
  // An adapter that owns the loop is woken its own way; the pipe is then
  // the relay's.
  if (!ForceEventLoopIteration()) PostWakeMessage(VL_WAKE_WAKE, 0);
  return 0;
}

int PostCoalescedWake(vlWakeCoalescer* source, uint32_t type, uintptr_t value) {
  uint32_t expected = 0;
  if (!source->pending.compare_exchange_strong(expected, 1)) return 1;
  if (PostWakeMessage(type, value) == static_cast<int>(sizeof(vlWakeMsg))) return 1;
  source->pending.store(0);
  return 0;
}

void ClearCoalescedWake(vlWakeCoalescer* source) { source->pending.store(0); }

vlWakeCounts DrainWakePipe() {
  int fd = gReadEnd.load();
  vlWakeCounts counts{};
  if (fd >= 0) {
    vlWakeMsg message;
    // Messages are written whole and a pipe keeps writes of this size
    // whole, so a read returns whole messages.
    while (read(fd, &message, sizeof(message)) == static_cast<ssize_t>(sizeof(message))) {
      switch (message.type) {
        case VL_WAKE_TIMER:
          counts.timers++;
          FlagTimerFired(message.value);
          break;
        case VL_WAKE_POINTER_MOVED:
          counts.pointers++;
          X11PointerMoved(message.value);
          break;
        case VL_WAKE_STOP_RELAY:
          counts.stops++;
          break;
        default:
          counts.wakes++;
          break;
      }
    }
  }
  SweepExpiredTimeouts();
  DeliverAudioTimerSignals();
  return counts;
}

int WaitForWake(const int* extraFds, int count) {
  CreateWakePipe(nullptr, nullptr);
  const int pipeFd = gReadEnd.load();
  std::vector<pollfd> fds;
  if (pipeFd >= 0) fds.push_back({pipeFd, POLLIN, 0});
  for (int i = 0; i < count; i++)
    if (extraFds[i] >= 0) fds.push_back({extraFds[i], POLLIN, 0});
  if (fds.empty()) return 0;
  const int ready = WaitReady(fds.data(), fds.size(), -1);
  // A signal may have been the news itself (its handler's message is then
  // in the pipe), so an interrupted wait drains as well and returns.
  if (ready < 0 && errno != EINTR) return 0;
  if (ready < 0 || (pipeFd >= 0 && (fds[0].revents & POLLIN))) DrainWakePipe();
  return 0;
}
