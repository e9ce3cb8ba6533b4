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
// So are the flags and tags of InstallAudioAdapter (VL_AUDIOADAPTER_*).
