// The sleep that keeps pumping events, and the engine interval behind
// network polling. Depends on timers.h, hooks.h (pump, wait, intervals).
#include <atomic>
#include <ctime>

#include "platform/display_adapter.h"
#include "platform/event_pump.h"
#include "platform/hooks.h"
#include "platform/intervals.h"
#include "runtime/os.h"
#include "platform/timers.h"
#include "vm/error_codes.h"

extern std::atomic<uintptr_t> gSleepToken;
extern std::atomic<int> gSleepElapsed;

namespace {

uint64_t MonotonicMillis() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1000000;
}

uintptr_t gLastSleepToken = 1;
uint32_t gNetworkKinds = 0;
// The identifier {0, handle 1} of the engine's polling interval.
void* const kPollingHandle = reinterpret_cast<void*>(uintptr_t{1});

}  // namespace

int SleepPumpingEvents(vlVMState* state, uint32_t millis) {
  if (millis == 0) return 0;
  int slept = 0;
  if (AdapterSleep(state, millis, &slept)) return slept;
  // Each sleep's timer carries its own odd token, so a late signal from an
  // earlier sleep cannot end this one early.
  gLastSleepToken += 2;
  gSleepElapsed.store(0);
  gSleepToken.store(gLastSleepToken);
  timer_t timer;
  bool armed = ArmPosixTimer(0, millis, gLastSleepToken, &timer) != 0;
  uint64_t deadline = MonotonicMillis() + millis;
  int result = 0;
  for (;;) {
    if (armed) {
      // The pump runs even when the sleep's own time is up: the wait took
      // the wakes that came with it (a video's frame, a timer's), and no
      // other would come for what they announced.
      result = WaitForEvents(state, 0, 0, nullptr);
      if (result) break;
    } else {
      // No timer to wake the wait: sleep in short slices instead.
      uint64_t now = MonotonicMillis();
      if (now >= deadline) break;
      SleepMillis(deadline - now < 10 ? static_cast<uint32_t>(deadline - now) : 10);
    }
    int error = 0;
    if (PumpEvents(state, 2, 0, &error)) {
      result = error ? error : ERR_USERABORT;
      break;
    }
    if (armed && gSleepElapsed.load()) break;
  }
  gSleepToken.store(0);
  if (armed) timer_delete(timer);
  return result;
}

int StartNetworkPolling(vlVMState* state, int kind) {
  if (gNetworkKinds == 0) {
    vlObjectId id{0, kPollingHandle};
    if (int status = AddInterval(state, &id, 20, 1)) return status;
  }
  gNetworkKinds |= 1u << (kind & 1);
  return 0;
}

void StopNetworkPolling(vlVMState* state, int kind) {
  if (gNetworkKinds == 0) return;
  gNetworkKinds &= ~(1u << (kind & 1));
  if (gNetworkKinds == 0) RemoveInterval(state, vlObjectId{0, kPollingHandle});
}
