// PCM blocks of samples: making, copying and freeing them, reading one
// value as 16-bit, and converting a window of a sample into a buffer of
// another layout (shared by InsertSample and FillMusicBuffer).
#pragma once
#include <cstddef>
#include <cstdint>

#include "media/sound/sound_types.h"

// Wraps buffer (owned by the result from now on) as a new vlSoundData of
// internal format 2..5: 8-bit data is made unsigned in place (formats 0
// and 1), 16-bit data is flagged signed. 0 or 1000 (the buffer is then
// freed).
int MakeSoundData(uint8_t* buffer, uint32_t frames, uint32_t rate, uint32_t format,
                  vlSoundData** out, uint32_t* formatOut);
// Header and PCM duplicated, the work word cleared; null when out of memory.
vlSoundData* CopySoundData(const vlSoundData* data);
void FreeSoundData(vlSoundData* data);
// The PCM block of a sample's data.
uint8_t* GetSoundDataPointer(const vlSoundData* data);
// Installs pcm (from AllocMemory, owned from now on) with its frame count
// and rate in data's layout; the old block is freed.
void ReplaceSoundData(vlSoundData* data, uint8_t* pcm, uint32_t frames, uint32_t rate);

// Swaps the two bytes of every 16-bit value in the first bytes of p.
void SwapPairs(uint8_t* p, size_t bytes);

// The value of one channel of one frame as a signed 16-bit number.
int32_t ReadSoundValue16(const vlSoundData* data, uint32_t frame, uint32_t channel);

struct vlFillOptions {
  int loop = 1;
  int64_t offset = 0;
  int64_t start = 0;
  int64_t end = 0;  // 0 = the sample's last frame + 1
};

// Writes frames frames of bits (8 or 16), signedness and channels into out
// from the window [start, end) of data; 0 or 1447. options->offset is
// advanced past what was read.
int FillPCMFromSample(const vlSoundData* data, uint8_t* out, uint32_t frames, uint32_t bits,
                      int isSigned, uint32_t channels, vlFillOptions* options);
