// Script timer records over POSIX timers, the SIGRTMIN and SIGRTMIN+1
// handlers and the audio-timer queue. Handlers only write to pipes.
// Depends on threads.h (the timer mutex), wake_pipe.h and hooks.h.
#include "platform/timers.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <new>
#include <unordered_map>
#include <unordered_set>
#include <vector>
#include <fcntl.h>
#include <unistd.h>

#include "platform/alsa_output.h"
#include "platform/hooks.h"
#include "runtime/os.h"
#include "runtime/threads.h"
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

vlTimer* gTimersTail = nullptr;

// Making, finding and removing a timer must not walk every timer there
// is: the records of each kind and identifier in list order, the record of
// each token, and the records that exist. All under the timer mutex.
struct TimerKey {
  uint32_t kind;
  int32_t number;
  const void* handle;
  bool operator==(const TimerKey& o) const { return kind == o.kind && number == o.number && handle == o.handle; }
};
struct TimerKeyHash {
  size_t operator()(const TimerKey& k) const {
    return std::hash<const void*>()(k.handle) ^ (std::hash<int32_t>()(k.number) * 0x9E3779B97F4A7C15ull) ^ k.kind;
  }
};
std::unordered_map<TimerKey, std::vector<vlTimer*>, TimerKeyHash> gTimersById;
std::unordered_map<uintptr_t, vlTimer*> gTimersByToken;
std::unordered_set<const vlTimer*> gLiveTimers;

TimerKey KeyOf(uint32_t kind, const vlObjectId& id) { return {kind, id.number, id.handle}; }

void Unindex(vlTimer* record) {
  auto it = gTimersById.find(KeyOf(record->kind, record->id));
  if (it != gTimersById.end()) {
    auto& v = it->second;
    v.erase(std::remove(v.begin(), v.end(), record), v.end());
    if (v.empty()) gTimersById.erase(it);
  }
  gTimersByToken.erase(record->token);
  gLiveTimers.erase(record);
}

// Appends the record at the tail and indexes it: 0, or ERR_MEM with
// nothing changed.
int LinkTimer(vlTimer* record) {
  try {
    gTimersById[KeyOf(record->kind, record->id)].push_back(record);
    gTimersByToken.emplace(record->token, record);
    gLiveTimers.insert(record);
  } catch (const std::bad_alloc&) {
    Unindex(record);
    return ERR_MEM;
  }
  record->next = nullptr;
  record->prev = gTimersTail;
  (gTimersTail ? gTimersTail->next : gTimers) = record;
  gTimersTail = record;
  return 0;
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
  const auto token = reinterpret_cast<uintptr_t>(info->si_value.sival_ptr);
  int savedErrno = errno;
  ssize_t ignored = write(fd, &token, sizeof(token));
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

void UnlinkAndFree(vlTimer* record) {
  (record->prev ? record->prev->next : gTimers) = record->next;
  (record->next ? record->next->prev : gTimersTail) = record->prev;
  Unindex(record);
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
  while (gTimers) UnlinkAndFree(gTimers);
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
  auto it = gTimersById.find(KeyOf(kind, id));
  if (it == gTimersById.end()) return nullptr;
  vlTimer* record = it->second.front();
  if (link) *link = record->prev ? &record->prev->next : &gTimers;
  return record;
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
      if (LinkTimer(record)) {
        timer_delete(record->timer);
        FreeMemory(record);
        status = ERR_MEM;
      }
      break;
    }
    case VL_TIMER_REMOVE_INTERVAL:
    case VL_TIMER_REMOVE_TIMEOUT: {
      if (vlTimer* record = FindTimer(static_cast<uint32_t>(operation - 2), id, nullptr)) UnlinkAndFree(record);
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
  auto it = gTimersByToken.find(token);
  if (it != gTimersByToken.end()) it->second->fired = 1;
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
  vlTimer* record = start && gLiveTimers.count(start) ? start : gTimers;
  vlTimer* next = nullptr;
  if (record) {
    next = record->next;
    if (record->fired) {
      *kind = record->kind;
      *id = record->id;
      if (record->kind == VL_TIMER_TIMEOUT) {
        UnlinkAndFree(record);
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
  uintptr_t token;
  while (read(fd, &token, sizeof(token)) == static_cast<ssize_t>(sizeof(token))) {
    DeliverLoopTimer(token);
  }
}
