// The player's 1-bit rasteriser against FreeType's monochrome one on
// outlines made of hostile bytes: both must light the same pixels, and
// refuse the same outlines (a pool too small for one row, control points
// out of place).
//
// Input: width byte, height byte, a scale byte (coordinates are shifted
// left by its low 4 bits), then the points (see outline_bytes.h).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "graphics/outline_mono.h"
#include "graphics/outline_raster.h"
#include "outline_bytes.h"

#include FT_BITMAP_H

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vlFuzzOutline outline;
  if (!outline.Read(data, size)) return 0;
  const int w = 1 + data[0], h = 1 + data[1];
  FT_Outline o = outline.View(FT_OUTLINE_IGNORE_DROPOUTS | FT_OUTLINE_HIGH_PRECISION);

  const int pitch = ((w + 15) >> 3) & ~1;
  std::vector<uint8_t> bits(static_cast<size_t>(pitch) * h), ours(static_cast<size_t>(w) * h);
  FT_Bitmap bm;
  FT_Bitmap_Init(&bm);
  bm.rows = h;
  bm.width = w;
  bm.pitch = -pitch;
  bm.buffer = bits.data();
  bm.pixel_mode = FT_PIXEL_MODE_MONO;
  bm.num_grays = 2;
  const bool freetype = FT_Outline_Get_Bitmap(OutlineLibrary(), &o, &bm) == 0;
  const vlMonoFill result = FillOutlineMono(&o, ours.data(), w, w, h);
  if ((result == vlMonoFill::kDrawn) != freetype) std::abort();
  if (!freetype) return 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (((bits[static_cast<size_t>(y) * pitch + x / 8] >> (7 - (x & 7))) & 1) != (ours[static_cast<size_t>(y) * w + x] == 255))
        std::abort();
  return 0;
}
