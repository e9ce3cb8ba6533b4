// The entry points of sound-reader and audio-adapter plug-ins as the sound
// library calls them, and the records it shares with them. Plug-ins are
// built elsewhere, so these layouts only ever grow at their ends.
#pragma once
#include <cstddef>
#include <cstdint>

#include "abi/plugin_abi.h"
#include "runtime/tag_list.h"

// The records and entries of sound readers (vlSoundStreamFormat,
// vlSoundReadRequest, vlOpenStreamFn...) and audio adapters are the plug-in
// interface's.
inline constexpr uint32_t kSoundLengthOpen = VL_SOUND_LENGTH_OPEN;
inline constexpr uint32_t kSoundStreamVersion = VL_SOUND_STREAM_VERSION;

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
