// The drawing thread's waits and the sender run before them; see blocking.h.
#include "runtime/blocking.h"


#include <atomic>
#include <cerrno>
#include <ctime>

namespace {

std::atomic<void (*)()> gSend{nullptr};
std::atomic<bool> gWaitsEnded{false};
static_assert(std::atomic<bool>::is_always_lock_free);
// Other threads wait for their own reasons and may not touch the screen.
thread_local bool tDraws = false;
thread_local bool tSending = false;

void SendHeld() {
  if (!tDraws || tSending) return;
  void (*send)() = gSend.load();
  if (!send) return;
  // Sending may itself wait (for the server): no second round.
  tSending = true;
  send();
  tSending = false;
}

int Poll(pollfd* fds, size_t count, int64_t timeoutMicros) {
  if (timeoutMicros < 0) return ppoll(fds, count, nullptr, nullptr);
  const timespec limit{static_cast<time_t>(timeoutMicros / 1000000), static_cast<long>(timeoutMicros % 1000000) * 1000};
  return ppoll(fds, count, &limit, nullptr);
}

int64_t NowMicros() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<int64_t>(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
}

// How long one wait for input lasts before it looks whether the waits were
// ended (an end signal landing just before the wait would not interrupt it).
constexpr int64_t kInputSliceMicros = 50000;

}  // namespace

void SetBeforeBlocking(void (*send)()) {
  gSend.store(send);
  tDraws = send != nullptr;
}

int WaitReady(pollfd* fds, size_t count, int64_t timeoutMicros) {
  if (timeoutMicros == 0) return Poll(fds, count, 0);
  // A quick look first: what is ready already makes no wait.
  if (count) {
    const int ready = Poll(fds, count, 0);
    if (ready != 0) return ready;
  }
  SendHeld();
  return Poll(fds, count, timeoutMicros);
}

bool InputBuffered(FILE* stream) {
#ifdef __GLIBC__
  return stream->_IO_read_ptr < stream->_IO_read_end;
#else
  (void)stream;
  return false;
#endif
}

int WaitForInput(FILE* stream, int64_t timeoutMicros) {
  if (InputBuffered(stream)) return 1;
  const int fd = fileno(stream);
  if (fd < 0) return 1;  // no descriptor to wait on: the read tells
  const int64_t end = timeoutMicros < 0 ? -1 : NowMicros() + timeoutMicros;
  pollfd p{fd, POLLIN, 0};
  // Input that is there is read even once the waits were ended.
  int ready = Poll(&p, 1, 0);
  for (;;) {
    if (ready > 0 || (ready < 0 && errno != EINTR)) return 1;  // an error: the read reports it
    if (gWaitsEnded.load()) return -1;
    int64_t slice = kInputSliceMicros;
    if (end >= 0) {
      const int64_t left = end - NowMicros();
      if (left <= 0) return 0;
      if (left < slice) slice = left;
    }
    ready = WaitReady(&p, 1, slice);
  }
}

void EndBlockingWaits() { gWaitsEnded.store(true); }

bool BlockingWaitsEnded() { return gWaitsEnded.load(); }

void BeforeLongWork() { SendHeld(); }
