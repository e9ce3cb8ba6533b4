// The Protracker replayer: 31-instrument "M.K." modules parsed into one
// state block (patterns included) and rendered as PCM at twice the output
// rate, averaged down.
#pragma once
#include <cstddef>
#include <cstdint>

inline constexpr size_t kModuleHeaderSize = 1084;
inline constexpr size_t kModulePatternBytes = 1024;
inline constexpr uint32_t kModuleCellBytes = 12;
inline constexpr uint32_t kModuleMaxVoices = 8;

struct vlModInstrument {
  char name[22];
  uint32_t data;  // offset of the sample in the file image, or in the decoded area
  uint32_t decoded;  // 1: the file packs it as ADPCM; the state holds it unpacked
  uint32_t length;  // bytes << 14, as are the loop fields
  uint32_t loopStart;
  uint32_t loopLength;
  uint32_t loopEnd;
  uint32_t finetune;
  uint32_t volume;
};

struct vlModVoice {
  uint32_t instrument;  // 1..31, 0 = none
  int64_t position;     // 18.14 bytes, -1 = silent
  uint32_t step;
  int32_t period;
  int32_t notePeriod;  // the period vibrato and arpeggio start from
  int32_t targetPeriod;
  int32_t portaSpeed;
  int32_t portaDirection;
  int32_t portaSlide;
  int32_t volume;
  int32_t effectiveVolume;
  int32_t volumeSlide;
  int32_t vibratoSpeed, vibratoDepth, vibratoPosition, vibratoWave;
  int32_t tremoloSpeed, tremoloDepth, tremoloPosition, tremoloWave;
  int32_t arpeggio;
  int32_t finetune;
  int32_t noteCut;
  int32_t retrigger;
  int32_t retriggerCount;
  int32_t loopRow;
  int32_t loopCount;
  int32_t glissando;  // bit 0 glissando; bits 4+ the invert-loop speed
  int32_t panning;
  uint32_t pendingInstrument;
  uint32_t effectFlags;  // 1 first tick of the row, 2 tone portamento
  // The invert loop's counter and byte.
  uint32_t invertCounter;
  uint32_t invertOffset;
  // A delayed note: its period and the tick it starts at (-1 none).
  int32_t delayedPeriod;
  int32_t delayTick;
  uint32_t sampleOffset;  // the last 9xx offset, in bytes
  // Cell effect of the current row.
  uint8_t effect, param, paramHigh, paramLow;
};

enum : uint32_t {
  VL_MOD_STOP_AT_END = 1,
  VL_MOD_FILTER_SWITCH = 4,
  VL_MOD_SONG_ENDED = 8,
};

struct vlModuleState {
  char title[20];
  uint8_t reserved;
  uint16_t patterns;
  uint16_t songLength;
  uint32_t voiceCount;  // 4, or 8 for a "M.K." file laid out with 8 channels
  vlModInstrument instruments[31];
  vlModVoice voices[kModuleMaxVoices];
  uint8_t orders[128];
  uint32_t flags;
  uint32_t songEnds;
  uint32_t endAfter;  // the song stops once it has ended this often (0 never)
  uint32_t internalRate;
  uint32_t masterVolume;  // 256 = unity
  uint32_t samplesPerTick;
  uint32_t tickSamples;  // internal samples counted toward the next tick
  int32_t position;
  int32_t row;  // the next row to play
  // The row being played and its song position (what scripts are told).
  int32_t playingPosition;
  int32_t playingRow;
  uint32_t pendingPosition;
  int32_t pendingSong;
  int32_t pendingRow;
  int32_t speed;
  int32_t tempo;
  int32_t tick;  // ticks left in the row
  int32_t patternDelay;
  int32_t breakRow;  // -1 none
  int32_t jumpPosition;  // -1 none
  uint32_t filterOn;
  float filterIn, filterFeedback;
  float history[2][2][2];  // [channel][stage]{x, y}
  uint32_t half;  // an internal sample waits for its pair
  int32_t pairLeft, pairRight;
  uint8_t* image;  // the whole file, owned by the music
  uint32_t imageSize;
  // The rows played in this pass, a bit per row and song position: the song
  // has ended when a row is about to be played again.
  uint64_t visited[128];
  uint32_t endPending;  // the song ran past its last position
  uint32_t decodedOffset;  // where the unpacked samples start, from the state
  uint32_t decodedBytes;
  uint8_t cells[];  // patterns x 64 rows x voices x 12 bytes, then unpacked samples
};

// With a null state: the state size for the file, 0 when it is no module
// (too short for its patterns). Otherwise fills the state (the image must
// outlive it) and returns the same size, or 0 for a file that is no module.
size_t ParseProtrackerModule(vlModuleState* state, uint8_t* image, size_t size, uint32_t outputRate);
size_t ModuleStateSize(const vlModuleState* state);

// Renders frames into left and right (stride in bytes between frames) as
// bits (8 or 16) and channels (1 or 2). Gives the frames rendered before
// the song stopped (frames when it goes on); the rest is silence.
uint32_t ReplayProtrackerModule(vlModuleState* state, void* left, void* right, size_t stride,
                                uint32_t frames, uint32_t bits, uint32_t channels);
// Applies a pending song position, then renders 16-bit stereo frames; a
// null buffer only advances the song. Gives the frames before the song
// stopped, as ReplayProtrackerModule.
uint32_t RenderModuleAudio(vlModuleState* state, int16_t* buffer, uint32_t frames);
