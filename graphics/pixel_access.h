// The locked-pixels record through which all code reads and writes the
// pixels of a picture or a plane.
#pragma once
#include <cstdint>

struct vlPixelAccess {
  uint8_t* pixels = nullptr;  // first row
  int32_t locked = 0;         // non-zero on success
  int32_t format = 0;         // pixel format; 14 alpha plane, 15 mask plane
  int32_t bytesPerPixel = 0;  // 1 for planes
  int32_t rowLength = 0;      // in pixels; for planes the row bytes
  int32_t width = 0;
  int32_t height = 0;
  int32_t direct = 0;         // no unlock call needed
};
