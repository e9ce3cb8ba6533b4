// Output through an audio-adapter plug-in: its installation, the audio
// handle it opens, its channels, the fill callback through which it pulls
// the frames of each channel, and the worker that refills the two halves
// of a streamed music for it.
#pragma once
#include <cstdint>

#include "platform/audio_channel.h"

struct vlPluginInfo;
struct vlVMState;

// The plug-in service: 0, 1055, 1518 or 1566 (see the flags and tags in
// sound_plugin.h).
int InstallAudioAdapter(vlPluginInfo* info, uint32_t flags, const uint32_t* tags);
// The installed adapter, or null: output then goes to the sound system.
vlPluginInfo* GetAudioAdapter();
// The adapter's channel count (0 without an adapter).
int GetAdapterChannelCount();
// Opens the adapter's audio: 0 or 1267. CloseAdapterAudio closes it.
int OpenAdapterAudio();
void CloseAdapterAudio();
// Forgets the adapter (shut-down).
void RemoveAudioAdapter();

// Asks the adapter for a channel fed from entry: 0 or 1562.
int AllocAdapterChannel(vlChannel* entry, uint32_t format, uint32_t rate, uint32_t volume);
// Gives the entry's adapter channel back (nothing when it has none).
void FreeAdapterChannel(vlChannel* entry);
// Rate, volume and panning (-1 keeps each).
void SetAdapterChannelAttributes(vlChannel* entry, int32_t rate, int32_t volume, int32_t panning);

// A streamed music's halves: both filled now, then the worker refills each
// half the adapter has played. 0, 1000, 1287 or 1298; on failure nothing
// is left allocated.
int StartAdapterStream(vlChannel* entry);
// Stops the worker and frees the halves and their lock.
void EndAdapterStream(vlChannel* entry);

// The fill callback handed to AllocAudioChannel.
uint32_t FillAdapterChannel(void* audio, void* channel, void* buffer, uint32_t frames, void* entry);
