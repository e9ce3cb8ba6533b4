// The pixel formats (platform/pixel_layout.h) and the colour helpers
// shared by the drawing code.
#pragma once
#include <cstdint>

#include "platform/pixel_layout.h"

// Per channel c1 + (((c2 - c1) * t) >> 8) with an arithmetic shift; alpha 0.
constexpr vlColor MixColors(vlColor c1, vlColor c2, int32_t t) {
  uint32_t out = 0;
  for (int s = 0; s <= 16; s += 8) {
    const int32_t a = (c1 >> s) & 0xFF, b = (c2 >> s) & 0xFF;
    out |= static_cast<uint32_t>((a + (((b - a) * t) >> 8)) & 0xFF) << s;
  }
  return out;
}

struct vlPixelAccess;
// Colour 0x00RRGGBB of the pixel at (x, y) of a locked buffer; 3-byte
// pixels are read in memory order; codes above 13 read as format 11.
vlColor ReadRawPixelColor(const vlPixelAccess* access, int32_t x, int32_t y);

// Adapters that count alpha inversely get 255 - A (0 becomes opaque).
vlColor AdjustAlphaForAdapter(vlColor color);
