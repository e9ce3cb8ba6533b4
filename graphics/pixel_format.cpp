// Pixel reads from locked buffers and the adapter's alpha convention.
// Depends on pixel_format.h, pixel_access.h and the adapter table.
#include "graphics/pixel_format.h"

#include <cstring>

#include "graphics/adapter.h"
#include "graphics/pixel_access.h"

namespace {
const vlGfxAdapter* gAdapter = nullptr;
}

void SetGfxAdapter(const vlGfxAdapter* adapter) { gAdapter = adapter; }
const vlGfxAdapter* GetGfxAdapter() { return gAdapter; }

vlColor ReadRawPixelColor(const vlPixelAccess* a, int32_t x, int32_t y) {
  const int32_t bpp = a->bytesPerPixel;
  const uint8_t* p = a->pixels + (static_cast<int64_t>(y) * a->rowLength + x) * bpp;
  int32_t f = a->format;
  if (f < 0 || f > 13) f = 11;
  switch (BytesPerPixelOfFormat(f)) {
    case 2: {
      uint16_t v;
      std::memcpy(&v, p, 2);
      return PixelToColor(v, f, 0);
    }
    case 3:  // memory order R G B (8) or B G R (9)
      return f == 8 ? (uint32_t{p[0]} << 16 | p[1] << 8 | p[2]) : (uint32_t{p[2]} << 16 | p[1] << 8 | p[0]);
    default: {
      uint32_t v;
      std::memcpy(&v, p, 4);
      return PixelToColor(v, f, 0);
    }
  }
}

vlColor AdjustAlphaForAdapter(vlColor color) {
  if (!AdapterHas(VL_ADAPTER_INVERSE_ALPHA)) return color;
  const uint32_t a = color >> 24;
  return (color & 0xFFFFFF) | (a ? (255 - a) << 24 : 0xFF000000u);
}
