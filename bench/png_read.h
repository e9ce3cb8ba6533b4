// One PNG decode through our reader as the benchmarks time it: the stream
// is read to the end, closed, and the pixels freed; false when it failed.
#pragma once
#include <benchmark/benchmark.h>

#include <cstdint>

#include "formats/png_codec.h"
#include "runtime/os.h"
#include "runtime/stream.h"

inline bool ReadPNGOnce(vlStream* s) {
  int32_t w = 0, h = 0, alpha = 0;
  uint32_t* pixels = nullptr;
  int result = -1;
  if (s) ReadPNG(s, 0, &w, &h, &pixels, &alpha, &result);
  CloseFileStream(s);
  benchmark::DoNotOptimize(pixels);
  FreeMemory(pixels);
  return result == 0;
}
