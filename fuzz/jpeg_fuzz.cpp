// Fuzzes the JPEG glue from memory and from a stream, and the quick
// measurement's marker walk.
#include "formats/jpeg_codec.h"
#include "formats/picture_loader.h"
#include "picture_fuzz_common.h"
#include "runtime/os.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  int32_t w = 0, h = 0, a = 0, t = 0;
  vlStream* s = FuzzStream(data, size);
  IdentifyImageFormat(s, &w, &h, &a, &t);
  CloseFileStream(s);
  uint32_t* px = nullptr;
  if (size > 0 && size < UINT32_MAX &&
      DecodeJPEG(const_cast<uint8_t*>(data), static_cast<uint32_t>(size), 0, &w, &h, &px) == 0)
    px[static_cast<size_t>(w) * h - 1] ^= 1;
  FreeMemory(px);
  px = nullptr;
  s = FuzzStream(data, size);
  if (DecodeJPEG(s, 0, 0, &w, &h, &px) == 0) px[static_cast<size_t>(w) * h - 1] ^= 1;
  FreeMemory(px);
  CloseFileStream(s);
  return 0;
}
