// Helpers for the graphics tests: pictures in a chosen pixel format, raw
// pixel access, and a seeded generator.
#pragma once
#include <cstdint>
#include <cstring>
#include <random>

#include "graphics/bitmap.h"
#include "graphics/pixel_format.h"
#include "platform/offscreen_bitmap.h"

namespace vltest {

// A picture in the given format (the display format is set around the
// allocation only).
inline vlBitmap* NewPicture(int32_t format, int32_t w, int32_t h) {
  SetGlobalPixelFormat(format);
  vlBitmap* b = NewBitmap(w, h, 0, nullptr);
  SetGlobalPixelFormat(-1);
  return b;
}

inline vlPixelAccess Access(vlBitmap* b) {
  vlPixelAccess a;
  LockPixels(b, 0, &a);
  UnlockPixels(b, &a);  // offscreen pixels stay put
  a.locked = 1;
  return a;
}

inline uint32_t LoadPixel(const uint8_t* p, int bpp) {
  uint32_t v = 0;
  if (bpp == 3) return uint32_t{p[0]} << 16 | p[1] << 8 | p[2];
  std::memcpy(&v, p, bpp);
  return v;
}

inline void StorePixel(uint8_t* p, int bpp, uint32_t v) {
  if (bpp == 3) {
    p[0] = v >> 16;
    p[1] = v >> 8;
    p[2] = v;
    return;
  }
  std::memcpy(p, &v, bpp);
}

// Reference blend of two colours channel by channel: d + (((c - d) * a) >> 8).
inline uint32_t RefBlend(uint32_t d, uint32_t c, int a) {
  uint32_t out = 0;
  for (int s = 0; s <= 16; s += 8) {
    const int dc = (d >> s) & 0xFF, cc = (c >> s) & 0xFF;
    out |= static_cast<uint32_t>((dc + (((cc - dc) * a) >> 8)) & 0xFF) << s;
  }
  return out;
}

inline uint32_t GetRaw(const vlPixelAccess& a, int32_t x, int32_t y) {
  return LoadPixel(a.pixels + (static_cast<intptr_t>(y) * a.rowLength + x) * a.bytesPerPixel, a.bytesPerPixel);
}

}  // namespace vltest
