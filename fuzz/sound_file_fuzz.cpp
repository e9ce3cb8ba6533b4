// Fuzzes the IFF 8SVX / 16SV and RIFF WAVE readers over a memory stream:
// header parsing, then reads in uneven pieces with seeks between them.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "media/sound/sound_formats.h"
#include "runtime/stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 12) return 0;
  vlSoundStream s{};
  s.file = OpenMemoryStream(data, size);
  if (!s.file) return 0;
  int taken = 0;
  if (std::memcmp(data, "FORM", 4) == 0 && std::memcmp(data + 8, "16SV", 4) == 0) {
    s.kind = VL_STREAM_16SV;
    taken = OpenIffSound(&s, 1);
  } else if (std::memcmp(data, "RIFF", 4) == 0) {
    s.kind = VL_STREAM_WAVE;
    taken = OpenWaveSound(&s);
  } else {
    s.kind = VL_STREAM_8SVX;
    taken = OpenIffSound(&s, 0);
  }
  if (taken) {
    if (s.bytesPerFrame == 0 || s.bytesPerFrame > 4 || s.frames < 0) std::abort();
    static uint8_t buffer[4096 * 4];
    uint32_t pieces[] = {1, 7, 4096, 333};
    for (int round = 0; round < 8; round++) {
      int end = 0;
      uint32_t got = ReadBuiltinSound(&s, buffer, pieces[round & 3], &end);
      if (got > pieces[round & 3]) std::abort();
      SeekBuiltinSound(&s, (s.frames / 3) * (round % 3));
    }
  }
  CloseFileStream(s.file);
  std::free(s.scratch);
  return 0;
}
