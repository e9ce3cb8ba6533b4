// Per-channel access for the colour kernels: a 2-byte pixel goes through
// RGB565 with its channels widened to 8 bits by shifting only, a 3- or
// 4-byte pixel through 0x00RRGGBB (3-byte pixels in memory order). Computed colours are written back without an
// alpha byte (alpha lives in the alpha plane).
#pragma once
#include <cstdint>
#include <cstring>

#include "graphics/pixel_format.h"
#include "graphics/pixel_kernels.h"
#include "vm/convert.h"

namespace vlpix {

struct RGB {
  int32_t r, g, b;
};

template <int B>
inline uint32_t Load(const uint8_t* p) {
  if constexpr (B == 4) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
  } else if constexpr (B == 3) {
    return uint32_t{p[0]} << 16 | p[1] << 8 | p[2];
  } else {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
  }
}

template <int B>
inline void Store(uint8_t* p, uint32_t v) {
  if constexpr (B == 4) {
    std::memcpy(p, &v, 4);
  } else if constexpr (B == 3) {
    p[0] = static_cast<uint8_t>(v >> 16);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v);
  } else {
    const uint16_t s = static_cast<uint16_t>(v);
    std::memcpy(p, &s, 2);
  }
}

// Working order of a stored pixel: 0x??RRGGBB or RGB565.
template <int B>
inline uint32_t Unpack(int32_t format, uint32_t p) {
  if constexpr (B == 4) return format == 10 ? p : pixUnpack32(format, p);
  else if constexpr (B == 3) return Pixel24ToColor(p, format);
  else return format == 4 ? p : pixUnpack16(format, p);
}
template <int B>
inline uint32_t Pack(int32_t format, uint32_t w) {
  if constexpr (B == 4) return format == 10 ? w : pixPack32(format, w);
  else if constexpr (B == 3) return ColorToPixel(w, format, 0);
  else return format == 4 ? w : pixPack16(format, w);
}

template <int B>
inline RGB Channels(uint32_t w) {
  if constexpr (B != 2) {
    return {static_cast<int32_t>((w >> 16) & 0xFF), static_cast<int32_t>((w >> 8) & 0xFF),
            static_cast<int32_t>(w & 0xFF)};
  } else {
    return {static_cast<int32_t>((w & 0xF800) >> 8), static_cast<int32_t>((w & 0x07E0) >> 3),
            static_cast<int32_t>((w << 3) & 0xFF)};
  }
}

// Channels 0-255 to the working order; the top byte of a 32-bit value is 0.
template <int B>
inline uint32_t Join(RGB c) {
  if constexpr (B != 2) return static_cast<uint32_t>(c.r) << 16 | static_cast<uint32_t>(c.g) << 8 | c.b;
  else return static_cast<uint32_t>((c.r & 0xF8) << 8 | (c.g & 0xFC) << 3 | c.b >> 3);
}

template <int B>
inline RGB ReadRGB(int32_t format, const uint8_t* p) {
  return Channels<B>(Unpack<B>(format, Load<B>(p)));
}
template <int B>
inline void WriteRGB(int32_t format, uint8_t* p, RGB c) {
  Store<B>(p, Pack<B>(format, Join<B>(c)));
}

// A computed real channel: clamped to 0..255, then truncated toward zero.
inline int32_t ClampChannel(double v) {
  if (!(v >= 0)) return 0;  // NaN too
  if (v > 255) return 255;
  return static_cast<int32_t>(v);
}

// The intensity used by the histogram kernels, truncated.
inline int32_t Luma(int32_t r, int32_t g, int32_t b) {
  return static_cast<int32_t>(0.299 * r + 0.587 * g + 0.114 * b);
}

inline uint8_t* PixelAt(uint8_t* pixels, int32_t rowLength, int32_t bpp, int32_t x, int32_t y) {
  return pixels + (static_cast<intptr_t>(y) * rowLength + x) * bpp;
}

// Runs fn(RGB) -> RGB over every pixel of a rectangle.
template <int B, typename Fn>
void MapRGB(uint8_t* pixels, int32_t w, int32_t h, int32_t rowLength, int32_t format, Fn fn) {
  for (int32_t y = 0; y < h; ++y) {
    uint8_t* p = pixels + static_cast<intptr_t>(y) * rowLength * B;
    for (int32_t x = 0; x < w; ++x, p += B) WriteRGB<B>(format, p, fn(ReadRGB<B>(format, p)));
  }
}

}  // namespace vlpix
