// Conversion of decoded 4:2:0 video frames (full-size Y plane, half-size
// U and V planes) into a locked picture of any pixel format 0 to 13.
#pragma once
#include <cstdint>

struct vlYUVConvert {
  const uint8_t* planes[3] = {nullptr, nullptr, nullptr};  // Y, U, V
  int32_t planeRowBytes[3] = {0, 0, 0};
  uint8_t* target = nullptr;
  int32_t sourceWidth = 0, sourceHeight = 0;
  int32_t targetWidth = 0, targetHeight = 0;  // read by the scaled converter only
  int32_t targetRowLength = 0;                // in pixels
  int32_t targetFormat = 0;
  int32_t targetBytesPerPixel = 0;            // 2, 3 or 4
};

// One pixel of BT.601 video (luma 16..235) as 0x00RRGGBB.
uint32_t YUVToRGB(int32_t y, int32_t u, int32_t v);

// Both return 1, or 0 without writing when a pointer is missing, a size is
// not positive or a row is too short for the frame.
int YUV420ToRGB(const vlYUVConvert& job);
int YUV420ToRGBScaled(const vlYUVConvert& job);

// The frame shown smoothly at the target size: the result of converting it
// at 1:1 and scaling that bilinearly (ScalePixels), with source rows
// converted as the scaler reaches them instead of a picture of the whole
// frame. 32-bit targets only; 0 without writing when the fast paths cannot
// do it (the caller then converts and scales) or the job is not valid.
int YUV420ToRGBSmooth(const vlYUVConvert& job);
