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
};

}  // namespace

vlPlatformHooks gPlatformHooks = kDefaults;

void ResetPlatformHooks() { gPlatformHooks = kDefaults; }
