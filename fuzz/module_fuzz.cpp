// Fuzzes the Protracker parser and replayer: any file image that parses is
// rendered for a while, with jumps to other song positions in between.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "media/sound/protracker.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> image(data, data + size);
  size_t stateSize = ParseProtrackerModule(nullptr, image.data(), image.size(), 48000);
  if (!stateSize) return 0;
  std::vector<uint8_t> block(stateSize);
  auto* state = reinterpret_cast<vlModuleState*>(block.data());
  if (ParseProtrackerModule(state, image.data(), image.size(), 48000) != stateSize) std::abort();
  static int16_t pcm[2048 * 2];
  for (int round = 0; round < 6; round++) {
    RenderModuleAudio(state, pcm, 2048);
    if (round == 2) {
      state->pendingPosition = 1;
      state->pendingSong = size > 1000 ? data[999] : 0;
    }
  }
  int16_t mono[512];
  ReplayProtrackerModule(state, mono, nullptr, 2, 256, 16, 1);
  return 0;
}
