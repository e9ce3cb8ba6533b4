// Fuzzes the BMP reader (probe and full decode) and the quick measurement.
#include "formats/bmp_reader.h"
#include "formats/picture_loader.h"
#include "picture_fuzz_common.h"
#include "runtime/os.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  int32_t w = 0, h = 0, a = 0, t = 0;
  vlStream* s = FuzzStream(data, size);
  IdentifyImageFormat(s, &w, &h, &a, &t);
  CloseFileStream(s);
  for (int probe = 1; probe >= 0; --probe) {
    s = FuzzStream(data, size);
    uint32_t* px = nullptr;
    if (ReadBMP(s, probe, &w, &h, &px) == 0 && px) px[static_cast<size_t>(w) * h - 1] ^= 1;
    FreeMemory(px);
    CloseFileStream(s);
  }
  return 0;
}
