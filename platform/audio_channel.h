// The sound library's audio channel table as the ALSA output back end and
// the sound library share it: the channel entry, the PCM block of a sample,
// the output view of a music stream, a video's sound ring, and the sound
// library's own routines the back end calls. The sound library owns and
// allocates the table; it installs its routines in gSoundServices (each may
// stay null: the back end then skips that step).
#pragma once
#include <cstddef>
#include <cstdint>

#include <pthread.h>

#include "runtime/os.h"
#include "runtime/threads.h"
#include "runtime/objects.h"

struct vlMutex;
struct vlMusic;
struct vlSoundStream;

enum : uint32_t {
  VL_CHANNEL_FREE = 0,
  VL_CHANNEL_PREPARED = 1,  // a sample waiting for the call's other samples
  VL_CHANNEL_SAMPLE = 2,
  VL_CHANNEL_MODULE = 3,
  VL_CHANNEL_MUSIC = 4,
  VL_CHANNEL_VIDEO = 5,
  VL_CHANNEL_MUSIC_SETUP = 6,
  VL_CHANNEL_VIDEO_SETUP = 7,
  VL_CHANNEL_FINISHED = 8,  // waiting for the main thread to close it
};

// Audio event kinds the back end posts.
enum : int {
  VL_AUDIO_EVENT_SAMPLE_END = 5,
  VL_AUDIO_EVENT_SAMPLE_LOOP = 6,
  VL_AUDIO_EVENT_MUSIC_END = 7,
};

// A sample's PCM block. Format codes: 0/1 unsigned 8-bit mono/stereo, 2/3
// signed 8-bit, 4/5 16-bit.
enum : uint32_t {
  VL_PCM_BIG_ENDIAN = 1,  // 16-bit values stored big-endian
  VL_PCM_SIGNED = 2,
};
struct vlSoundData {
  uint8_t* pcm;
  uint32_t bits;  // 8 or 16
  uint32_t bytesPerFrame;
  uint32_t channels;  // 1 or 2
  uint32_t flags;     // VL_PCM_BIG_ENDIAN, VL_PCM_SIGNED
  uint32_t frames;
  uint32_t work;  // cleared on copy
  uint32_t format;
  uint32_t rate;
};

// What the back end needs of a streamed music's PCM.
struct vlStreamOutput {
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
  // Set by the video when its sound stood still (a pause): the output's
  // clock stands still from the write that left the ring empty (dryAt,
  // monotonic microseconds, 0 while it holds sound) to the next write, so
  // the sound goes on as far ahead of it as it was, not catching up with
  // the time it did not play.
  uint32_t resumed;
  uint64_t dryAt;
};

enum : uint32_t {
  VL_MUSIC_REFILL = 0,       // the feeder may fill the other buffer
  VL_MUSIC_LAST_QUEUED = 1,  // the other buffer holds the last data
  VL_MUSIC_ENDED = 2,        // the current buffer is the last
};

inline constexpr uint32_t kModuleRate = 48000;
inline constexpr uint32_t kModuleRingFrames = 48000;  // 16-bit stereo

struct vlChannel {
  vlSoundData* sample;
  vlStreamOutput* music;
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
  // The song has played its passes: moduleLeft frames of the ring from
  // modulePosition on are the last ones.
  uint32_t moduleEnding;
  uint32_t moduleLeft;
  // A new song position was set: what the ring holds ahead is from the
  // old one.
  uint32_t moduleRestart;
  vlVideoSound* video;
  // The sound's own clock: frames handed to the device since the first of
  // them went out, at the rate the device was opened with, and whether the
  // device takes data faster than it plays (a file or null sink), so that
  // the output keeps to the clock itself. Until the first write tells
  // (deviceChecked), every device is kept to the clock.
  uint32_t clockRate;
  uint32_t clockStarted;
  uint64_t clockStart;  // monotonic microseconds of the first write
  uint64_t clockFrames;
  uint32_t deviceUnpaced;
  uint32_t deviceChecked;
  // The sound library's side of the entry.
  vlSoundStream* stream;  // the streamed music played (owner key)
  vlMusic* musicRecord;   // the music record played
  uint32_t rate;
  uint32_t panning;
  int32_t lastFrames;     // frames of the last pass
  int32_t lastMillis;     // milliseconds of the last pass
  // Feeder of a streamed channel: fills the buffer the output left.
  vlThreadId feeder;
  pthread_mutex_t feederMutex;
  pthread_cond_t feederCondition;
  uint32_t feederWake;
  uint32_t feederStop;
  uint32_t feederHalf;     // buffer the feeder fills next
  uint32_t wholeStream;    // the stream fits one buffer: no feeder
  uint32_t feederStarted;
  uint32_t musicReady[2];  // with a feeder: the buffer holds fresh data
  // With an audio-adapter plug-in: the adapter's channel, the frame
  // position within the current pass (samples), and for streamed music the
  // half being played, its frames left, the last-half flag, the end the
  // worker reported (frames in its last half, 0 while the stream goes on),
  // the worker that refills the halves, its wake condition and the lock
  // of the halves.
  void* adapterChannel;
  uint32_t framePosition;
  uint32_t adapterHalf;
  uint32_t adapterFramesLeft;
  uint32_t lastHalf;
  uint32_t endFrames[2];
  vlWorker* adapterWorker;
  vlCondition* adapterWake;
  vlMutex* bufferLock;
};

// The sound library's routines the back end calls.
struct vlSoundServices {
  // Bytes of a parsed module's state at 48000 Hz (copied byte for byte).
  size_t (*moduleStateSize)(const void* module);
  // Renders the next frames as 16-bit stereo at 48000 Hz; a null buffer
  // only advances the song position. Gives the frames before the song
  // ended after its passes (frames when it goes on); the rest is silence.
  uint32_t (*renderModule)(void* module, int16_t* buffer, uint32_t frames);
  int (*signalChannelFeeder)(vlChannel* channel);
  void (*markMusicStopped)(vlChannel* channel);
  void (*stopMusicChannel)(vlChannel* channel, int index);
};
extern vlSoundServices gSoundServices;

// The channel table, held by the sound library.
extern vlChannel* gChannels;
extern int gChannelCount;

// Zeroes the entry, freeing the slot.
void ClearAudioChannel(vlChannel* channel);
