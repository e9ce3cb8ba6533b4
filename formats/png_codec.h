// PNG reading and writing through libpng with the program's own stream
// callbacks; library errors come back as return codes.
#pragma once
#include <cstdint>

struct vlStream;

// Decodes a PNG into width x height native words (AllocMemory): 0x00RRGGBB,
// or 0xAARRGGBB when *alpha comes back 1. With probe set only the size and
// the alpha flag are delivered. The result code (0, 1000 or 1358) goes to
// *result.
void ReadPNG(vlStream* stream, int probe, int32_t* width, int32_t* height, uint32_t** pixels, int32_t* alpha,
             int* result);

struct vlPNGWriteParams {
  const char* fileName;
  const void* pixels;   // 32-bit 0xAARRGGBB words
  uint32_t rowStride;   // bytes
  uint32_t width;
  uint32_t height;
  int32_t alpha;        // write RGBA instead of RGB
  int32_t error;        // out: 0, 1000, 1052, 1005 or 1530
};

// A failed write leaves no file behind and the old file untouched.
void WritePNG(vlPNGWriteParams* params);
