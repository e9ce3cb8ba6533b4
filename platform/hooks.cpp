// Default routines of the platform hooks: each does the harmless thing, so
// the platform layer stands on its own until start-up installs the owners.
#include "platform/hooks.h"

#include "platform/timers.h"
#include "platform/wake_pipe.h"

namespace {

int DefaultPump(vlVMState*, int, int* error) {
  if (error) *error = 0;
  return 0;
}

int DefaultWait(vlVMState*, int) { return WaitForWake(nullptr, 0); }

int DefaultRunMainChunk(vlVMState*) { return 0; }

int DefaultAddEngineInterval(vlVMState*, int32_t number, void* handle, uint32_t millis) {
  return PlatformTimer(VL_TIMER_ADD_INTERVAL, vlObjectId{number, handle}, millis);
}

int DefaultRemoveEngineInterval(vlVMState*, int32_t number, void* handle) {
  return PlatformTimer(VL_TIMER_REMOVE_INTERVAL, vlObjectId{number, handle}, 0);
}

constexpr vlPlatformHooks kDefaults = {
    .pumpEvents = DefaultPump,
    .waitForEvents = DefaultWait,
    .forceEventLoopIteration = nullptr,
    .runMainChunk = DefaultRunMainChunk,
    .audioTimerFired = nullptr,
    .pointerMoved = nullptr,
    .postAudioEvent = nullptr,
    .addEngineInterval = DefaultAddEngineInterval,
    .removeEngineInterval = DefaultRemoveEngineInterval,
};

}  // namespace

vlPlatformHooks gPlatformHooks = kDefaults;

void ResetPlatformHooks() { gPlatformHooks = kDefaults; }
