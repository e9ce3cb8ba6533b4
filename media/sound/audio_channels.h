// The audio channel layer: the channel table and its lock, the lazy start
// of output, claiming channels, starting, stopping and changing samples,
// streamed music and modules on them, the feeder threads of streamed
// channels, and the audio event queue the event dispatcher drains.
#pragma once
#include <cstdint>

#include "media/sound/sound_types.h"

struct vlModuleState;

int InitAudioLocks();  // 0 or 1298
// 1 once the sound library has made its locks.
int AudioLayerReady();
// Starts output once: 0 or an error code (the started word stays clear).
int StartAudioOutput(vlVMState* state, const char* device);
int IsAudioStarted();
int GetChannelCount();
void ShutdownAudio();

void LockChannels();
void UnlockChannels();

// type: the channel type; *index -1 takes the first free channel, a
// busy channel given is ended first (EndChannelPlayback). 0, 1289 or 1576.
// The caller holds no channel lock.
int ClaimAudioChannel(vlVMState* state, uint32_t type, vlObjectId id, int* index, vlChannel** entry);
// Object type (2, 33, 50, or 7 for nothing) and id of what the channel
// plays; with lockHeld the channel lock stays taken for the caller.
int GetChannelObject(int index, uint32_t* type, vlObjectId* id, int lockHeld);
int IsSampleInUse(const vlSoundData* data);
// Elapsed ms of the current pass and the pass index from 0 of the first
// channel that plays the data; 0 when none plays it.
int GetSampleChannelTime(const vlSoundData* data, int32_t* millis, int32_t* pass);

int PlaySampleOnChannel(vlSoundData* data, vlObjectId id, uint32_t format, uint32_t bytes, uint32_t rate,
                        uint32_t volume, uint32_t panning, int32_t timeMillis, int32_t times, int channel);
int StartPreparedSamples();
void StopSampleChannels(const vlSoundData* data, int channel);
int SetSampleChannelAttributes(const vlSoundData* data, int32_t rate, int32_t volume, int32_t panning,
                               int channel);

int PlayMusicOnChannel(vlVMState* state, vlMusic* music, uint32_t times, uint32_t loop, uint32_t volume,
                       int channel);
// Ends (or pauses) the channel that plays the source; a pause reports the
// loop reached and the frame to resume at.
void StopMusicChannel(uint32_t kind, void* source, int pause, uint32_t* loopOut, uint32_t* positionOut);
int SetMusicChannelVolume(uint32_t kind, const void* source, uint32_t volume, int channel);
// The channel that plays the module (its state the shared one), or null.
vlChannel* ModuleChannel(const vlModuleState* module);

void StopExpiredChannels();
// Ends what the channel plays: a music is stopped, a video is stopped
// (taking the lock is left to this call: the caller holds none), a
// sample's channel is ended. 0 or 1576.
int EndChannelPlayback(vlVMState* state, int channel);
void StopAllChannels(vlVMState* state);

// Fills one half of a streamed channel's two halves from its stream,
// rewinding it while passes are left; the frames filled, *ended when the
// stream's last pass ended.
uint32_t FillStreamHalf(vlChannel* channel, uint32_t half, int* ended);

void PostAudioEvent(int kind, vlObjectId id, int32_t step, int32_t count, int32_t extra, int wake);
int PopAudioEvent(int* kind, vlObjectId* id, int32_t* position, int32_t* count);
