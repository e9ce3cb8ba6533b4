// Checked allocation of reader pixel buffers, and scaling of ARGB buffers.
#include "formats/pixel_buffer.h"

#include "graphics/pixel_format.h"
#include "graphics/scaler.h"
#include "runtime/os.h"

uint32_t* AllocPixelBuffer(int64_t width, int64_t height, int clear) {
  if (!PictureSizeOk(width, height)) return nullptr;
  return static_cast<uint32_t*>(AllocMemory(static_cast<size_t>(width * height) * 4, clear));
}

uint32_t* ScaleARGBPixels(const uint32_t* pixels, int32_t width, int32_t height, int32_t newWidth,
                          int32_t newHeight, int smooth) {
  uint32_t* out = AllocPixelBuffer(newWidth, newHeight, 0);
  if (!out || !PictureSizeOk(width, height)) {
    FreeMemory(out);
    return nullptr;
  }
  vlScaleJob job{};
  job.srcPixels = reinterpret_cast<const uint8_t*>(pixels);
  job.dstPixels = reinterpret_cast<uint8_t*>(out);
  job.srcWidth = width;
  job.srcHeight = height;
  job.dstWidth = newWidth;
  job.dstHeight = newHeight;
  job.srcRowLength = width;
  job.dstRowLength = newWidth;
  job.smooth = smooth ? 1 : 0;
  job.format = VL_PIXFMT_ARGB32;
  job.bytesPerPixel = 4;
  ScalePixels(job);
  return out;
}
