// Calls from the platform layer into subsystems that sit above it (event
// pump, display adapter, audio channels). The
// owners install their routines at start-up; each default is harmless, so
// the platform layer runs and is tested on its own.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/objects.h"

struct vlVMState;

// Audio event kinds posted by the platform layer.
enum : int {
  VL_AUDIO_EVENT_PROGRAM_ENDED = 10,  // id {0, the run request}
};

struct vlPlatformHooks {
  // Runs the main chunk. Default: returns 0.
  int (*runMainChunk)(vlVMState* state);
  // Appends an event to the audio event queue and, with wake set, wakes the
  // event wait; called from any thread. Default: nothing.
  void (*postAudioEvent)(int kind, vlObjectId id, int32_t step, int32_t count, int32_t extra,
                         int wake);
  // Runs a fired interval's (kind 0) or timeout's (kind 1) script function
  // with its id and userdata references; the callback's result. Default:
  // nothing, 0.
  int (*runTimerCallback)(vlVMState* state, uint32_t kind, vlObjectId id, int functionRef,
                          int userdataRef);
  // Audio sources of the event dispatcher and pump, installed by the sound
  // library. popAudioEvent: 1 with the oldest event, 0 when none.
  // findMusicNeedingData: frames a callback-fed music lacks (its id and
  // the frames queued in total through the pointers), 0 when none.
  // pollAudio: closes channels whose playback ended. Default: nothing.
  int (*popAudioEvent)(int* kind, vlObjectId* id, int32_t* position, int32_t* count);
  uint32_t (*findMusicNeedingData)(vlObjectId* id, uint32_t* queued);
  void (*pollAudio)();
};

// The installed hooks; start-up replaces members, tests restore them with
// ResetPlatformHooks.
extern vlPlatformHooks gPlatformHooks;
void ResetPlatformHooks();
