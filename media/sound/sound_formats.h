// The built-in sound file readers (IFF 8SVX, IFF 16SV, RIFF WAVE) over an
// open vlStream, and the RIFF WAVE writer behind SaveSample.
#pragma once
#include <cstdint>

#include "media/sound/sound_types.h"

// Parse the header of stream->file; 1 when the file is taken (the stream's
// format fields filled), 0 when it is refused.
int OpenIffSound(vlSoundStream* stream, int sixteenBit);
int OpenWaveSound(vlSoundStream* stream);

// Reads up to frames frames at the read position into buffer (interleaved,
// 8-bit unsigned or 16-bit as stored); *end is set when fewer were left.
uint32_t ReadBuiltinSound(vlSoundStream* stream, uint8_t* buffer, uint32_t frames, int* end);
// A frame below the total becomes the read position; others are ignored.
void SeekBuiltinSound(vlSoundStream* stream, int64_t frame);

// Writes a RIFF WAVE file of the PCM: 0, 1052, 1005, 1530 or 1000.
int WriteWaveFile(const char* name, const vlSoundData* data, uint32_t bytes, uint32_t rate,
                  uint32_t format);
