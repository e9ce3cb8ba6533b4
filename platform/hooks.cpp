// Default routines of the platform hooks: each does the harmless thing, so
// the platform layer stands on its own until start-up installs the owners.
#include "platform/hooks.h"

#include "platform/timers.h"
#include "platform/wake_pipe.h"

namespace {

int DefaultRunMainChunk(vlVMState*) { return 0; }

constexpr vlPlatformHooks kDefaults = {
    .runMainChunk = DefaultRunMainChunk,
    .postAudioEvent = nullptr,
    .runTimerCallback = nullptr,
    .popAudioEvent = nullptr,
    .findMusicNeedingData = nullptr,
    .pollAudio = nullptr,
};

}  // namespace

vlPlatformHooks gPlatformHooks = kDefaults;

void ResetPlatformHooks() { gPlatformHooks = kDefaults; }
