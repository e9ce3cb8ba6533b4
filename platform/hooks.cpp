// Default routines of the platform hooks: each does the harmless thing, so
// the platform layer stands on its own until start-up installs the owners.
#include "platform/hooks.h"

#include "platform/intervals.h"
#include "platform/timers.h"
#include "platform/wake_pipe.h"

namespace {

int DefaultPump(vlVMState*, int, int* error) {
  if (error) *error = 0;
  return 0;
}

int DefaultWait(vlVMState*, int) { return WaitForWake(nullptr, 0); }

int DefaultRunMainChunk(vlVMState*) { return 0; }

int DefaultAddEngineInterval(vlVMState* state, int32_t number, void* handle, uint32_t millis) {
  vlObjectId id{number, handle};
  return AddInterval(state, &id, millis, 1);
}

int DefaultRemoveEngineInterval(vlVMState* state, int32_t number, void* handle) {
  return RemoveInterval(state, vlObjectId{number, handle});
}

constexpr vlPlatformHooks kDefaults = {
    .pumpEvents = DefaultPump,
    .waitForEvents = DefaultWait,
    .runMainChunk = DefaultRunMainChunk,
    .pointerMoved = nullptr,
    .postAudioEvent = nullptr,
    .runTimerCallback = nullptr,
    .popAudioEvent = nullptr,
    .findMusicNeedingData = nullptr,
    .pollAudio = nullptr,
    .addEngineInterval = DefaultAddEngineInterval,
    .removeEngineInterval = DefaultRemoveEngineInterval,
    .stopExpiredChannels = nullptr,
};

}  // namespace

vlPlatformHooks gPlatformHooks = kDefaults;

void ResetPlatformHooks() { gPlatformHooks = kDefaults; }
