// The least of the sound library's audio channel table that the ALSA output
// back end reads and writes: the channel entry, the sample, music and video
// fields it plays from, and the sound library's own routines it calls. The
// sound library owns and allocates the table; it installs its routines in
// gSoundServices (each may stay null: the back end then skips that step).
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/os.h"
#include "runtime/objects.h"

struct vlMutex;

enum : uint32_t {
  VL_CHANNEL_FREE = 0,
  VL_CHANNEL_SAMPLE = 2,
  VL_CHANNEL_MODULE = 3,
  VL_CHANNEL_MUSIC = 4,
  VL_CHANNEL_VIDEO = 5,
  VL_CHANNEL_FINISHED = 8,  // waiting for the main thread to close it
};

// Audio event kinds the back end posts.
enum : int {
  VL_AUDIO_EVENT_SAMPLE_END = 5,
  VL_AUDIO_EVENT_SAMPLE_LOOP = 6,
  VL_AUDIO_EVENT_MUSIC_END = 7,
};

// Sample format codes: 0/1 unsigned 8-bit mono/stereo, 2/3 signed 8-bit,
// 4/5 16-bit.
struct vlSample {
  uint8_t* data;
  uint32_t frameSize;  // bytes per frame
  uint32_t frames;
  uint32_t format;
  uint32_t byteSwapped;  // bit 0: 16-bit values stored byte-swapped
};

struct vlMusic {
  uint32_t frameSize;
  uint32_t format;
  uint32_t byteSwapped;
  vlTimeVal startTime;  // stamped at the first write
};

// A video's sound ring of interleaved 16-bit frames.
struct vlVideoSound {
  vlMutex* mutex;
  uint32_t bytes;  // bytes queued at the front of data
  uint8_t* data;
  uint32_t channels;
  uint32_t frameSize;
};

enum : uint32_t {
  VL_MUSIC_REFILL = 0,       // the feeder may fill the other buffer
  VL_MUSIC_LAST_QUEUED = 1,  // the other buffer holds the last data
  VL_MUSIC_ENDED = 2,        // the current buffer is the last
};

inline constexpr uint32_t kModuleRate = 48000;
inline constexpr uint32_t kModuleRingFrames = 48000;  // 16-bit stereo

struct vlChannel {
  vlSample* sample;
  vlMusic* music;
  void* module;  // the sound library's parsed module state
  uint32_t state;
  uint32_t previousState;  // the state before VL_CHANNEL_FINISHED
  vlObjectId id;
  int32_t loops;      // passes to play
  int32_t loop;       // current pass, from 1
  int32_t loopStep;   // milliseconds per pass
  int32_t extra;
  uint32_t written;   // frames written in the current pass
  uint32_t volume;    // 0 .. 64 (64 = unchanged)
  uint32_t startPending;
  vlTimeVal startTime;
  uint32_t finished;
  vlTimeVal endTime;
  void* pcm;  // snd_pcm_t
  uint32_t bufferFrames;
  // Music double buffer: both buffers lie in one block at musicBlock.
  uint8_t* musicCurrent;
  uint32_t musicFrames;  // frames in the current buffer
  uint8_t* musicBlock;
  uint32_t musicLength[2];  // next length of each buffer, in frames
  uint32_t musicBufferSize;  // frames each buffer holds
  uint32_t musicState;
  // Module: a private copy of the state rendered ahead into the ring.
  void* moduleCopy;
  uint8_t* moduleRing;
  uint32_t modulePosition;  // frames into the ring
  uint64_t moduleAccounted;  // frames the shared state was advanced by
  vlVideoSound* video;
};

// The sound library's routines the back end calls.
struct vlSoundServices {
  // Bytes of a parsed module's state at 48000 Hz (copied byte for byte).
  size_t (*moduleStateSize)(const void* module);
  // Renders the next frames as 16-bit stereo at 48000 Hz; a null buffer
  // only advances the song position.
  void (*renderModule)(void* module, int16_t* buffer, uint32_t frames);
  int (*signalChannelFeeder)(vlChannel* channel);
  void (*markMusicStopped)(vlMusic* music);
  void (*stopMusicChannel)(vlMusic* music, int channel);
};
extern vlSoundServices gSoundServices;

// The channel table, held by the sound library.
extern vlChannel* gChannels;
extern int gChannelCount;

// Zeroes the entry, freeing the slot.
void ClearAudioChannel(vlChannel* channel);
