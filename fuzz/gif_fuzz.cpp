// Fuzzes the GIF reader: the open scan, every frame in order, then a few
// frames out of order (key-frame restarts), and the delays.
#include "formats/gif.h"
#include "picture_fuzz_common.h"
#include "runtime/os.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  int32_t w = 0, h = 0, frames = 0;
  vlGIFReader* r = OpenGIFReader(FuzzStream(data, size), &w, &h, &frames, 0, 0, 1);
  if (!r) return 0;
  if (int64_t{w} * h > kFuzzMaxFramePixels) frames = 0;
  auto read = [&](int32_t n) {
    int32_t alpha = 0;
    uint32_t* px = ReadGIFFrame(r, n, &alpha);
    if (px) px[static_cast<size_t>(w) * h - 1] ^= 1;
    FreeMemory(px);
    GetGIFFrameDelay(r, n);
  };
  for (int32_t n = 0; n < frames && n < 16; ++n) read(n);
  if (frames > 0) {
    read(frames - 1);
    read(frames / 2);
    read(-1);
  }
  CloseGIFReader(r);
  return 0;
}
