// Fuzzes the AVI reader: header lists, idx1, the movi walk, raw and MJPEG
// frames (Huffman tables added, frames of other sizes), and the walk over
// the chunks of every stream.
#include <initializer_list>

#include "formats/avi.h"
#include "picture_fuzz_common.h"
#include "runtime/os.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  int32_t w = 0, h = 0, frames = 0;
  vlAVIReader* r = OpenAVIReader(FuzzStream(data, size), &w, &h, &frames);
  if (!r) return 0;
  for (int32_t n : {0, 1, 2, 0, frames - 1, 1}) {
    uint32_t* px = ReadAVIFrame(r, n);
    if (px) px[static_cast<size_t>(w) * h - 1] ^= 1;
    FreeMemory(px);
  }
  // The walk over every stream's chunks, the sound stream's read.
  int32_t channels = 0, rate = 0, bits = 0;
  const int32_t audio = GetAVIAudioFormat(r, &channels, &rate, &bits);
  int64_t position = 0;
  int32_t stream = -1;
  uint8_t* bytes = nullptr;
  uint32_t length = 0;
  for (int i = 0; i < 64 && ReadAVIChunk(r, &position, audio, &stream, &bytes, &length); ++i) {
    if (bytes && length) bytes[length - 1] ^= 1;
    FreeMemory(bytes);
    if (i == 3) FreeMemory(ReadAVIFrame(r, 0));
  }
  CloseAVIReader(r);
  return 0;
}
