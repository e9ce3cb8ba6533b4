// The player's 1-bit rasteriser against FreeType's monochrome one on
// outlines made of hostile bytes: both must light the same pixels, and
// refuse the same outlines (a pool too small for one row, control points
// out of place).
//
// Input: width byte, height byte, a scale byte (coordinates are shifted
// left by its low 4 bits), then points of 5 bytes: a tag byte (low 2
// bits: 0 conic control, 1 on the curve, 2 cubic control, 3 on the curve
// and the contour's last point) and x, y as signed 16-bit numbers in 1/64
// pixel.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "graphics/outline_mono.h"
#include "graphics/outline_raster.h"

#include FT_BITMAP_H

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const int w = 1 + data[0], h = 1 + data[1], shift = data[2] & 15;
  std::vector<FT_Vector> points;
  std::vector<char> tags;
  std::vector<short> contours;
  for (size_t i = 3; i + 5 <= size && points.size() < 4000; i += 5) {
    const int tag = data[i] & 3;
    const int16_t x = static_cast<int16_t>(data[i + 1] | data[i + 2] << 8);
    const int16_t y = static_cast<int16_t>(data[i + 3] | data[i + 4] << 8);
    points.push_back({static_cast<FT_Pos>(x) * (FT_Pos{1} << shift), static_cast<FT_Pos>(y) * (FT_Pos{1} << shift)});
    tags.push_back(static_cast<char>(tag == 0 ? FT_CURVE_TAG_CONIC : tag == 2 ? FT_CURVE_TAG_CUBIC : FT_CURVE_TAG_ON));
    if (tag == 3) contours.push_back(static_cast<short>(points.size() - 1));
  }
  if (points.empty()) return 0;
  if (contours.empty() || contours.back() != static_cast<short>(points.size() - 1))
    contours.push_back(static_cast<short>(points.size() - 1));
  FT_Outline o{};
  o.n_points = static_cast<short>(points.size());
  o.n_contours = static_cast<short>(contours.size());
  o.points = points.data();
  o.tags = tags.data();
  o.contours = contours.data();
  o.flags = FT_OUTLINE_IGNORE_DROPOUTS | FT_OUTLINE_HIGH_PRECISION;

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
