// Checked allocation of reader pixel buffers.
#include "formats/pixel_buffer.h"

#include "platform/os.h"

uint32_t* AllocPixelBuffer(int64_t width, int64_t height, int clear) {
  if (!PictureSizeOk(width, height)) return nullptr;
  return static_cast<uint32_t*>(AllocMemory(static_cast<size_t>(width * height) * 4, clear));
}
