// The entry points of sound-reader and audio-adapter plug-ins as the sound
// library calls them, and the records it shares with them. Plug-ins are
// built elsewhere, so these layouts only ever grow at their ends.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/tag_list.h"

// Filled by a sound reader's OpenStream; zeroed by the player, which sets
// the sub-song wanted.
struct vlSoundStreamFormat {
  uint32_t rate;      // Hz
  uint32_t frames;    // kSoundLengthOpen: the length is open
  uint32_t channels;  // 1 or 2
  uint32_t bits;      // 8 or 16 (others cannot be played)
  uint32_t flags;     // VL_SOUNDFMT_*
  uint32_t subsongs;  // 0 counts as 1
  uint32_t subsong;   // in: 0 the first opening, else the sub-song number from 1
  uint32_t bitRate;   // bits per second, 0 when the reader gives none
};
static_assert(sizeof(vlSoundStreamFormat) == 32);

enum : uint32_t {
  VL_SOUNDFMT_BIG_ENDIAN = 1,
  VL_SOUNDFMT_SIGNED = 2,
  VL_SOUNDFMT_SEEKABLE = 4,
};
inline constexpr uint32_t kSoundLengthOpen = 0xFFFFFFFFu;
// The record version the player hands to OpenStream.
inline constexpr uint32_t kSoundStreamVersion = 1;

// One read: the reader writes up to frames interleaved frames to buffer,
// says how many it wrote and whether the stream has ended.
struct vlSoundReadRequest {
  void* buffer;
  uint32_t frames;
  uint32_t framesOut;
  uint32_t end;
};

using vlOpenSoundStreamFn = void* (*)(const char* file, vlSoundStreamFormat* format, uint32_t version,
                                      const char* adapter);
using vlCloseSoundStreamFn = void (*)(void* handle);
using vlSeekSoundStreamFn = int (*)(void* handle, uint32_t frame);
using vlStreamSamplesFn = int (*)(void* handle, vlSoundReadRequest* request);
using vlSoundFormatNameFn = const char* (*)(void* handle);

// Audio adapters. The player pulls nothing: the adapter calls the fill
// callback of each channel from its own threads whenever it wants frames
// (of the channel's sample format) and plays what it gets; fewer frames
// than asked for mean the channel has ended.
using vlAdapterFillFn = uint32_t (*)(void* audio, void* channel, void* buffer, uint32_t frames, void* entry);
using vlOpenAudioFn = void* (*)(void* reserved1, void* reserved2);
using vlCloseAudioFn = void (*)(void* audio);
using vlAllocAudioChannelFn = void* (*)(void* audio, uint32_t format, uint32_t rate, uint32_t volume,
                                        vlAdapterFillFn fill, void* reserved, void* entry, uint32_t flags);
using vlFreeAudioChannelFn = void (*)(void* audio, void* channel);
using vlSetChannelAttributesFn = void (*)(void* audio, void* channel, const vlTagItem* tags);

// Tags of SetChannelAttributes.
enum : uint32_t {
  VL_AUDIOTAG_RATE = 1,     // Hz
  VL_AUDIOTAG_VOLUME = 2,   // 0..64
  VL_AUDIOTAG_PANNING = 3,  // 0..255, 128 the centre
};

// Tags of InstallAudioAdapter ({u32 tag, u32 value} pairs ended by tag 0).
enum : uint32_t {
  VL_AUDIOADAPTER_BUFFERSIZE = 1,
  VL_AUDIOADAPTER_CHANNELS = 2,
};
// Flags of InstallAudioAdapter.
enum : uint32_t {
  VL_AUDIOADAPTER_LOCKED = 1,  // no later adapter may replace this one
  VL_AUDIOADAPTER_UPDATE = 2,  // already installed: only take the buffer size
};
