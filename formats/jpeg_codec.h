// JPEG decoding and encoding through libjpeg: the program's own stream and
// memory sources, a memory destination, and error exits that turn every
// library error into a return code.
#pragma once
#include <cstdint>

struct vlStream;

// The result handle of EncodeJPEG, released with FreeEncodedJPEG.
struct vlEncodedJPEG {
  uint8_t* data;
  uint32_t length;
};

// Filled by the caller (pixels .. byteOrder), completed by EncodeJPEG.
struct vlJPEGEncodeParams {
  const void* pixels;   // first row
  uint32_t rowStride;   // bytes
  uint32_t width;
  uint32_t height;
  int32_t quality;      // 0-100
  int32_t byteOrder;    // 0: native 0x00RRGGBB words; else bytes A, R, G, B
  vlEncodedJPEG* result;
  uint8_t* data;
  uint32_t length;
  int32_t error;
};

// Decodes one JPEG picture into width x height native 0x00RRGGBB words
// (AllocMemory). memorySize 0: source is a vlStream; else it points to that
// many bytes. With probe set only the size is delivered. 0, 1000 or 1358.
int DecodeJPEG(void* source, uint32_t memorySize, int probe, int32_t* width, int32_t* height,
               uint32_t** pixels);

// Encodes params->pixels; the outcome is in params->error (0 or 1000).
void EncodeJPEG(vlJPEGEncodeParams* params);
void FreeEncodedJPEG(vlEncodedJPEG* handle);
