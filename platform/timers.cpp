// Script timer records over POSIX timers, the SIGRTMIN and SIGRTMIN+1
// handlers and the audio-timer queue. Handlers only write to pipes.
// Depends on threads.h (the timer mutex), wake_pipe.h and hooks.h.
#include "platform/timers.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#include "platform/hooks.h"
#include "platform/os.h"
#include "platform/threads.h"
#include "platform/wake_pipe.h"
#include "vm/error_codes.h"

// Shared with the pumping sleep: the token of its running timer and the
// flag the handler sets when that timer expires.
std::atomic<uintptr_t> gSleepToken{0};
std::atomic<int> gSleepElapsed{0};

namespace {

vlMutex* gTimerMutex = nullptr;
vlTimer* gTimers = nullptr;
// Record tokens are even, sleep tokens odd (see the pumping sleep).
uintptr_t gNextToken = 2;

std::atomic<int> gAudioReadEnd{-1};
std::atomic<int> gAudioWriteEnd{-1};

bool SameId(const vlObjectId& a, const vlObjectId& b) {
  return a.number == b.number && a.handle == b.handle;
}

void OnTimerSignal(int, siginfo_t* info, void*) {
  auto token = reinterpret_cast<uintptr_t>(info->si_value.sival_ptr);
  if (token & 1) {
    if (token == gSleepToken.load()) gSleepElapsed.store(1);
    PostWakeMessage(VL_WAKE_WAKE, 0);
  } else if (token != 0) {
    PostWakeMessage(VL_WAKE_TIMER, token);
  }
}

void TimerSignalHandler(int, siginfo_t* info, void*) {
  int fd = gAudioWriteEnd.load();
  if (fd < 0) return;
  void* record = info->si_value.sival_ptr;
  int savedErrno = errno;
  ssize_t ignored = write(fd, &record, sizeof(record));
  (void)ignored;
  errno = savedErrno;
  PostWakeMessage(VL_WAKE_WAKE, 0);
}

int InstallHandler(int signal, void (*handler)(int, siginfo_t*, void*)) {
  struct sigaction action {};
  action.sa_sigaction = handler;
  action.sa_flags = SA_SIGINFO | SA_RESTART;
  sigemptyset(&action.sa_mask);
  return sigaction(signal, &action, nullptr) == 0 ? 0 : ERR_SIGNAL;
}

void UnlinkAndFree(vlTimer** link) {
  vlTimer* record = *link;
  *link = record->next;
  timer_delete(record->timer);
  FreeMemory(record);
}

bool HasExpired(timer_t timer) {
  itimerspec state{};
  if (timer_gettime(timer, &state) != 0) return false;
  return state.it_value.tv_sec == 0 && state.it_value.tv_nsec == 0;
}

}  // namespace

int InitTimers() {
  int status = InstallHandler(SIGRTMIN, OnTimerSignal);
  if (status) return status;
  if (!gTimerMutex) gTimerMutex = CreateMutex();
  return gTimerMutex ? 0 : ERR_SEMAPHORE;
}

void FreeAllTimers() {
  if (!gTimerMutex) return;
  LockMutex(gTimerMutex);
  while (gTimers) UnlinkAndFree(&gTimers);
  UnlockMutex(gTimerMutex);
}

void ShutdownTimers() {
  FreeAllTimers();
  FreeMutex(gTimerMutex);
  gTimerMutex = nullptr;
}

int ArmPosixTimer(int periodic, uint32_t millis, uintptr_t token, timer_t* timerOut) {
  sigevent event{};
  event.sigev_notify = SIGEV_SIGNAL;
  event.sigev_signo = SIGRTMIN;
  event.sigev_value.sival_ptr = reinterpret_cast<void*>(token);
  timer_t timer;
  if (timer_create(CLOCK_REALTIME, &event, &timer) != 0) return 0;
  itimerspec spec{};
  spec.it_value.tv_sec = millis / 1000;
  spec.it_value.tv_nsec = static_cast<long>(millis % 1000) * 1000000;
  // A zero expiry would disarm the timer for good; a zero period would
  // flood the process with signals. Both become one millisecond.
  if (millis == 0) spec.it_value.tv_nsec = 1000000;
  if (periodic) spec.it_interval = spec.it_value;
  if (timer_settime(timer, 0, &spec, nullptr) != 0) {
    timer_delete(timer);
    return 0;
  }
  *timerOut = timer;
  return 1;
}

vlTimer* FindTimer(uint32_t kind, vlObjectId id, vlTimer*** link) {
  for (vlTimer** at = &gTimers; *at; at = &(*at)->next) {
    if ((*at)->kind == kind && SameId((*at)->id, id)) {
      if (link) *link = at;
      return *at;
    }
  }
  return nullptr;
}

void StepCursorPastTimer(vlTimer** cursor, uint32_t kind, vlObjectId id) {
  if (!*cursor || !gTimerMutex) return;
  LockMutex(gTimerMutex);
  vlTimer* record = FindTimer(kind, id, nullptr);
  if (record && record == *cursor) *cursor = record->next;
  UnlockMutex(gTimerMutex);
}

int PlatformTimer(int operation, vlObjectId id, uint32_t millis) {
  if (operation < 0 || operation > VL_TIMER_CHANGE_INTERVAL) return 0;
  if (!gTimerMutex) return ERR_TIMER;
  int status = 0;
  LockMutex(gTimerMutex);
  switch (operation) {
    case VL_TIMER_ADD_INTERVAL:
    case VL_TIMER_ADD_TIMEOUT: {
      auto* record = static_cast<vlTimer*>(AllocMemory(sizeof(vlTimer), 1));
      if (!record) {
        status = ERR_MEM;
        break;
      }
      record->kind = static_cast<uint32_t>(operation);
      record->id = id;
      record->token = gNextToken;
      gNextToken += 2;
      if (!ArmPosixTimer(operation == VL_TIMER_ADD_INTERVAL, millis, record->token, &record->timer)) {
        FreeMemory(record);
        status = ERR_TIMER;
        break;
      }
      vlTimer** tail = &gTimers;
      while (*tail) tail = &(*tail)->next;
      *tail = record;
      break;
    }
    case VL_TIMER_REMOVE_INTERVAL:
    case VL_TIMER_REMOVE_TIMEOUT: {
      vlTimer** link = nullptr;
      if (FindTimer(static_cast<uint32_t>(operation - 2), id, &link)) UnlinkAndFree(link);
      break;
    }
    case VL_TIMER_CHANGE_INTERVAL: {
      vlTimer* record = FindTimer(VL_TIMER_INTERVAL, id, nullptr);
      if (!record) break;
      timer_t replacement;
      if (!ArmPosixTimer(1, millis, record->token, &replacement)) {
        status = ERR_TIMER;
        break;
      }
      timer_delete(record->timer);
      record->timer = replacement;
      break;
    }
  }
  UnlockMutex(gTimerMutex);
  return status;
}

void FlagTimerFired(uintptr_t token) {
  if (!gTimerMutex || token == 0) return;
  LockMutex(gTimerMutex);
  for (vlTimer* record = gTimers; record; record = record->next) {
    if (record->token == token) {
      record->fired = 1;
      break;
    }
  }
  UnlockMutex(gTimerMutex);
}

void SweepExpiredTimeouts() {
  if (!gTimerMutex) return;
  LockMutex(gTimerMutex);
  for (vlTimer* record = gTimers; record; record = record->next) {
    if (record->kind == VL_TIMER_TIMEOUT && !record->fired && HasExpired(record->timer)) {
      record->fired = 1;
    }
  }
  UnlockMutex(gTimerMutex);
}

vlTimer* TakeFiredTimer(vlTimer* start, uint32_t* kind, vlObjectId* id) {
  *kind = VL_TIMER_NONE;
  if (!gTimerMutex) return nullptr;
  LockMutex(gTimerMutex);
  // The caller keeps its place between calls and may have removed that
  // record meanwhile; then the walk starts again at the head.
  vlTimer** link = &gTimers;
  if (start) {
    while (*link && *link != start) link = &(*link)->next;
    if (!*link) link = &gTimers;
  }
  vlTimer* record = *link;
  vlTimer* next = nullptr;
  if (record) {
    next = record->next;
    if (record->fired) {
      *kind = record->kind;
      *id = record->id;
      if (record->kind == VL_TIMER_TIMEOUT) {
        UnlinkAndFree(link);
      } else {
        record->fired = 0;
      }
    }
  }
  UnlockMutex(gTimerMutex);
  return next;
}

int InstallAudioTimerSignal() {
  if (gAudioReadEnd.load() < 0) {
    int ends[2];
    if (pipe(ends) != 0) return ERR_SIGNAL;
    for (int fd : ends) {
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
      fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    gAudioReadEnd.store(ends[0]);
    gAudioWriteEnd.store(ends[1]);
  }
  return InstallHandler(SIGRTMIN + 1, TimerSignalHandler);
}

void DeliverAudioTimerSignals() {
  int fd = gAudioReadEnd.load();
  if (fd < 0) return;
  void* record;
  while (read(fd, &record, sizeof(record)) == static_cast<ssize_t>(sizeof(record))) {
    if (gPlatformHooks.audioTimerFired) gPlatformHooks.audioTimerFired(record);
  }
}
