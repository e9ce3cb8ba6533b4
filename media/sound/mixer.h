// The offline software mixer behind MixSample: any number of samples, each
// resampled by its own pitch and placed by threshold, offset and length,
// summed in 24-bit range and written in one output format.
#pragma once
#include <cstdint>

struct vlVMState;

struct vlMixSource {
  uint32_t format;  // internal code 0..5
  double pitch;
  uint32_t loop;
  const uint8_t* pcm;
  uint32_t frames;
  int32_t threshold;
  double position;
  double step;
  double scale;
  uint32_t volume;  // 65536 = unity
  uint32_t mixed;
  int32_t length;   // -1 = no limit
  uint32_t scaled;
  uint32_t bigEndian;  // 16-bit data stored big-endian
};

// Mixes frames output frames into out (internal format 2..5).
void MixSources(vlMixSource* sources, int count, uint8_t* out, uint32_t frames, uint32_t outFormat);

int CmdMixSample(vlVMState* state);
