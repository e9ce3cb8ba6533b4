// Fuzzes the AVI reader: header lists, idx1, the movi walk, raw and MJPEG
// frames (Huffman tables added, frames of other sizes).
#include <initializer_list>

#include "formats/avi.h"
#include "picture_fuzz_common.h"
#include "platform/os.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  int32_t w = 0, h = 0, frames = 0;
  vlAVIReader* r = OpenAVIReader(FuzzStream(data, size), &w, &h, &frames);
  if (!r) return 0;
  for (int32_t n : {0, 1, 2, 0, frames - 1, 1}) {
    uint32_t* px = ReadAVIFrame(r, n);
    if (px) px[static_cast<size_t>(w) * h - 1] ^= 1;
    FreeMemory(px);
  }
  CloseAVIReader(r);
  return 0;
}
