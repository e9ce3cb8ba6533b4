// Fuzzes the ILBM reader in every transparency mode, with and without a
// palette override.
#include <cstring>

#include "formats/ilbm.h"
#include "picture_fuzz_common.h"
#include "runtime/os.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  for (int mode = 0; mode < 3; ++mode) {
    vlStream* s = FuzzStream(data, size);
    uint32_t override[256];
    memset(override, 0xFF, sizeof override);
    override[0] = 0x123456;
    int32_t w = 0, h = 0, t = 0;
    uint32_t *px = nullptr, *palette = nullptr;
    if (ReadILBM(s, 0, mode == 2 ? override : nullptr, mode ? -1 : 0xFF0000, mode == 1, mode == 2, &t, &w, &h, &px,
                 &palette) == 0)
      px[static_cast<size_t>(w) * h - 1] ^= 1;
    FreeMemory(px);
    FreeMemory(palette);
    CloseFileStream(s);
  }
  return 0;
}
