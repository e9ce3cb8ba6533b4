// Fuzzes the IFF ANIM reader: the open (first FORM, delta search, frame
// count), every frame in order with both deinterlace modes, a rewind, and
// the delays.
#include <initializer_list>

#include "formats/iff_anim.h"
#include "picture_fuzz_common.h"
#include "runtime/os.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  for (int32_t mode : {DEINTERLACE_DEFAULT, DEINTERLACE_DOUBLE}) {
    int32_t w = 0, h = 0, frames = 0;
    vlANIMReader* r = OpenANIMReader(FuzzStream(data, size), mode, &w, &h, &frames, mode == 0);
    if (!r) continue;
    if (int64_t{w} * h > kFuzzMaxFramePixels) {
      CloseANIMReader(r);
      continue;
    }
    for (int32_t n : {0, 1, 2, 3, 1, frames - 1}) {
      int32_t t = 0;
      uint32_t* px = DecodeANIMFrame(r, n, &t);
      if (px) px[static_cast<size_t>(w) * h - 1] ^= 1;
      FreeMemory(px);
      GetANIMFrameDelay(r, n);
    }
    CloseANIMReader(r);
  }
  return 0;
}
