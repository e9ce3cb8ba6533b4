// The sound library's records: samples, music objects and open sound
// streams, the sample format codes and their tables, and the error codes
// the sound commands report.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/audio_channel.h"
#include "runtime/objects.h"

struct vlMutex;
struct vlVMState;
struct vlStream;
struct vlPluginInfo;

// Internal sample formats (bytes per frame 1, 2, 1, 2, 2, 4).
enum : uint32_t {
  VL_SMP_U8_MONO = 0,
  VL_SMP_U8_STEREO = 1,
  VL_SMP_S8_MONO = 2,
  VL_SMP_S8_STEREO = 3,
  VL_SMP_S16_MONO = 4,
  VL_SMP_S16_STEREO = 5,
};

// Script formats MONO8 0, MONO16 1, STEREO8 2, STEREO16 3 to internal codes,
// and internal codes back to script formats.
inline constexpr uint32_t kScriptToInternalFormat[4] = {2, 4, 3, 5};
inline constexpr uint32_t kInternalToScriptFormat[6] = {0, 2, 0, 2, 1, 3};

uint32_t GetBytesPerFrame(uint32_t format);  // 0 for an unknown code

// Error codes the sound commands report that have no script constant.
enum : int {
  kErrOffsetRange = 1146,
  kErrSeekRange = 1233,
  kErrNotPaused = 1264,
  kErrStreamAsSample = 1279,
  kErrNoChannel = 1289,
  kErrBitDepth = 1299,
  kErrSampleValue = 1447,
  kErrSamplePlaying = 1475,
  kErrInCallback = 1478,
  kErrPitchLow = 1479,
  kErrNoSeek = 1482,
  kErrNotInCallback = 1484,
  kErrNoFillHandler = 1485,
  kErrSampleFormat = 1490,
  kErrSaveSample = 1491,
  kErrAllocChannel = 1562,
  kErrMusicPaused = 1567,
  kErrMusicPlaying = 1568,
  kErrChannelRange = 1576,
};

inline constexpr uint32_t kObjMusic = 33;
inline constexpr uint32_t kObjVideo = 50;
inline constexpr uint32_t kMinPitch = 256;
// The highest rate a sound may declare: what ALSA's rate converter takes
// at most (its plug layer refuses more), so no output plays faster.
inline constexpr uint32_t kMaxSoundRate = 768000;
// A declared sample rate some output can play.
inline constexpr bool IsPlayableRate(uint64_t rate) { return rate >= kMinPitch && rate <= kMaxSoundRate; }

struct vlSample {
  vlObjectNode node;  // type 2, id, user data, link
  vlSoundData* data;
  uint32_t volume;   // 0..64
  uint32_t pitch;    // Hz, at least 256
  uint32_t format;   // internal code
  uint32_t bytes;    // PCM length
  uint32_t panning;  // 0..255
  const vlPluginInfo* loader;  // 0 inbuilt, 1 native, else the plug-in
};

enum : uint32_t { VL_MUSIC_STOPPED = 0, VL_MUSIC_PLAYING = 1, VL_MUSIC_PAUSED = 2 };
enum : uint32_t { VL_SOURCE_STREAM = 1, VL_SOURCE_MODULE = 2 };

struct vlMusic {
  vlObjectNode node;  // type 33
  char* fileName;     // null for CreateMusic
  void* source;       // vlSoundStream or vlModuleState
  uint32_t sourceKind;
  uint32_t playing;
  uint32_t volume;
  uint32_t times;
  uint32_t loop;
  uint32_t pausedFrame;
  uint32_t callbackFed;
  uint32_t seekable;
  uint32_t subsongs;
  uint32_t subsong;
  uint32_t channel;  // 1-based, 0 = any
  const vlPluginInfo* loader;
  char adapter[256];
};

// Stream kinds.
enum : uint32_t {
  VL_STREAM_8SVX = 1,
  VL_STREAM_16SV = 2,
  VL_STREAM_WAVE = 3,
  VL_STREAM_NATIVE = 4,
  VL_STREAM_PLUGIN = 5,
  VL_STREAM_CALLBACK = 6,
  VL_STREAM_MODULE = 8,
};

// A node of a callback-fed stream's PCM queue; the PCM follows the node.
struct vlPcmNode {
  vlPcmNode* next;
  vlPcmNode* prev;
  uint8_t* data;  // null: the end of the stream
  uint32_t bytes;
  uint32_t position;  // frames read
  uint32_t frames;
  uint32_t done;
};

struct vlCallbackBlock {
  vlVMState* state;
  vlMutex* lock;
  vlPcmNode head;  // sentinel: head.next is the first node, head.prev the last
  uint32_t rate;
  uint32_t bits;
  uint32_t channels;
  uint32_t bytesPerFrame;
  uint32_t format;
  uint64_t framesQueued;
  // Output reads, and the count at the last time the script was asked for
  // data: a script short of sound is asked again only once more was played.
  uint64_t reads;
  uint64_t readsAtAsk;
  int asked;
};

struct vlSoundStream {
  vlStream* file;
  void* pluginHandle;
  uint32_t bits;
  uint32_t bytesPerFrame;
  uint32_t channels;
  uint32_t flags;  // VL_PCM_BIG_ENDIAN, VL_PCM_SIGNED
  uint32_t rate;
  int64_t pcmSize;  // -1 when the length is open
  int64_t frames;   // -1 when open
  int64_t position;  // read position in frames
  uint32_t lastBytes;
  uint32_t lastFrames;
  int64_t dataOffset;
  int64_t rightBlock;  // IFF stereo: bytes from the left block to the right
  uint32_t kind;
  int32_t format;  // 0..5, -1 when neither 8- nor 16-bit
  // Music time: where the stream stood when it last started, in ms.
  int64_t storedMillis;
  uint32_t seekable;
  uint32_t subsongs;
  uint32_t bitRate;  // a plug-in's value, 0 when it gave none
  vlCallbackBlock* callback;
  vlPluginInfo* plugin;
  uint32_t music;
  uint32_t restart;
  vlStreamOutput output;  // what the output back end reads
  uint8_t* scratch;       // de-interleaving buffer of the IFF readers
  size_t scratchSize;
};

// Library state the sound files share.
struct vlSoundLibrary {
  vlSample* samples;
  vlMusic* musics;
  char deviceName[256];
  uint32_t inCallback;
  uint32_t started;
  uint32_t noSound;
  vlMusic* currentMusic;
  vlMusic* pausedMusic;
};
extern vlSoundLibrary gSound;
