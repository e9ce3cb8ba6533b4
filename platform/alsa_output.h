// ALSA audio output: one PCM per playing channel of the sound library's
// channel table, fed by one output thread from samples, modules, streamed
// music and video sound rings. libasound is reached only through the
// run-time loaded pointers.
#pragma once
#include <cstdint>

#include "platform/audio_channel.h"

// Bits per sample (16 or 8), a size word, channels, flags (bit 1 signed,
// bit 0 big-endian).
struct vlAudioFormat {
  uint32_t bits;
  uint32_t size;
  uint32_t channels;
  uint32_t flags;
};

// The device every channel opens; the command line may replace it.
void SetAudioDeviceName(const char* name);

int CreateAudioOutputLock();  // 0 or ERR_SEMAPHORE
void FreeAudioOutputLock();
void LockAudioOutput();
void UnlockAudioOutput();
int StartAudioThread();  // 0, ERR_OPENAUDIO or ERR_THREAD; once per process
void StopAudioOutputThread();
// Tells the output thread that a channel has something new to play (it
// started, its source has more data, its song position changed).
void WakeAudioOutput();

// A pass's loop-event timer fired (its token, read from the signal pipe
// in thread context): posts its sample-loop event once, unless the timer
// was stopped or its record has been armed again since.
void DeliverLoopTimer(uintptr_t token);

// Which audio events are posted (run-time options 12, 13, 18 and 23).
void SetAudioEventWanted(int kind, int wanted);
int IsAudioEventWanted(int kind);

// 0, ERR_OPENAUDIO, ERR_ALSAPCM (failing step in the error number) or ERR_MEM.
int OpenAudioDevice(int channel, const vlAudioFormat* format, uint32_t rate);
int SetAudioHardwareParams(void* pcm, const vlAudioFormat* format, uint32_t rate,
                           uint32_t* bufferFrames);
int PlayModuleOnALSA(int channel);
void CloseAudioChannel(vlChannel* channel);
// True once a channel's device holds none of what was written to it.
bool IsAudioChannelDrained(vlChannel* channel);
void StopChannelALSA(int channel);
void FreeChannelStream(int channel);
void ExpireALSAChannels();
void SetChannelVolumeALSA(int channel, uint32_t volume);
void SetVideoChannelVolumeALSA(vlVideoSound* video, uint32_t volume);

// Scales frames of format (codes 0 to 5) by volume / 64 into out, rounding
// to the nearest value; swapped 16-bit values are swapped back afterwards.
void ScaleAudioFrames(const uint8_t* in, uint8_t* out, uint32_t frames, uint32_t volume,
                      uint32_t format, uint32_t byteSwapped);

// The platform's own decoder hooks: it has none.
int OpenPlatformSound(const char* file);  // ERR_OPENSOUND2
