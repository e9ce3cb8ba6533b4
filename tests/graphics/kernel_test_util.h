// Raw pixel buffers for the kernel tests: random pictures in a chosen
// format with a row length wider than the picture, and colour access by
// the format rules alone (PixelToColor / ColorToPixel), which the
// references use instead of the kernels' own channel helpers.
#pragma once
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "graphics/pixel_format.h"

namespace vltest {

struct Buffer {
  int32_t format = 10, bpp = 4, w = 0, h = 0, row = 0;  // row in pixels
  std::vector<uint8_t> bytes;

  Buffer() = default;
  Buffer(int32_t f, int32_t width, int32_t height, int32_t pad = 3)
      : format(f), bpp(BytesPerPixelOfFormat(f)), w(width), h(height), row(width + pad),
        bytes(static_cast<size_t>(row) * (height > 0 ? height : 0) * bpp + 4) {}
  uint8_t* data() { return bytes.data(); }
  uint8_t* at(int x, int y) { return bytes.data() + (static_cast<size_t>(y) * row + x) * bpp; }
  const uint8_t* at(int x, int y) const { return bytes.data() + (static_cast<size_t>(y) * row + x) * bpp; }
  uint32_t raw(int x, int y) const {
    uint32_t v = 0;
    if (bpp == 3) {
      const uint8_t* p = at(x, y);
      return uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
    }
    std::memcpy(&v, at(x, y), bpp);
    return v;
  }
  void setRaw(int x, int y, uint32_t v) {
    if (bpp == 3) {
      uint8_t* p = at(x, y);
      p[0] = v >> 16;
      p[1] = v >> 8;
      p[2] = v;
      return;
    }
    std::memcpy(at(x, y), &v, bpp);
  }
  // 0x00RRGGBB with 5/6-bit channels shifted up.
  uint32_t color(int x, int y) const {
    if (format == 8) return raw(x, y);
    if (format == 9) {
      const uint32_t v = raw(x, y);
      return (v & 0xFF) << 16 | (v & 0xFF00) | v >> 16;
    }
    return PixelToColor(raw(x, y), format, 0);
  }
  void setColor(int x, int y, uint32_t c) {
    const uint32_t v = ColorToPixel(c, format, 0);  // 9: 0xBBGGRR, stored B, G, R
    setRaw(x, y, v);
  }
  void randomize(std::mt19937& rng) {
    for (auto& b : bytes) b = static_cast<uint8_t>(rng());
  }
};

inline int R(uint32_t c) { return (c >> 16) & 0xFF; }
inline int G(uint32_t c) { return (c >> 8) & 0xFF; }
inline int B(uint32_t c) { return c & 0xFF; }
inline uint32_t RGBc(int r, int g, int b) {
  return static_cast<uint32_t>(r) << 16 | static_cast<uint32_t>(g) << 8 | static_cast<uint32_t>(b);
}
// Clamp then truncate, as the kernels convert a real channel.
inline int Trunc255(double v) {
  if (!(v > 0)) return 0;
  if (v >= 255) return 255;
  return static_cast<int>(v);
}

// The formats every 2- and 4-byte kernel is checked in.
inline const std::vector<int32_t>& KernelFormats() {
  static const std::vector<int32_t> f = {0, 1, 2, 3, 4, 5, 6, 7, 10, 11, 12, 13};
  return f;
}

}  // namespace vltest
