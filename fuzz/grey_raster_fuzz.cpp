// The player's anti-aliased rasteriser against FreeType's grey one on
// outlines made of hostile bytes: both must write the same bytes into a
// patterned buffer and refuse the same outlines (control points out of
// place, points out of range); ours may leave an outline to FreeType only
// where FreeType gives up (a row too dense for its pool).
//
// Input: width byte, height byte, a byte whose low 4 bits shift the
// coordinates left, whose bit 4 picks the even-odd rule and whose bit 5
// makes the width four times the byte (rows wider than FreeType's pool
// takes cells for), then points
// of 5 bytes: a tag byte (low 2 bits: 0 conic control, 1 on the curve,
// 2 cubic control, 3 on the curve and the contour's last point) and x, y
// as signed 16-bit numbers in 1/64 pixel.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "graphics/outline_grey.h"
#include "graphics/outline_raster.h"

#include FT_BITMAP_H

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const int w = 1 + data[0] * ((data[2] & 32) ? 4 : 1), h = 1 + data[1], shift = data[2] & 15;
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
  o.flags = (data[2] & 16) ? FT_OUTLINE_EVEN_ODD_FILL : 0;

  const uint8_t pattern = 0x5A;
  std::vector<uint8_t> theirs(static_cast<size_t>(w) * h, pattern), ours = theirs;
  FT_Bitmap bm;
  FT_Bitmap_Init(&bm);
  bm.rows = h;
  bm.width = w;
  bm.pitch = -w;
  bm.buffer = theirs.data();
  bm.pixel_mode = FT_PIXEL_MODE_GRAY;
  bm.num_grays = 256;
  const bool freetype = FT_Outline_Get_Bitmap(OutlineLibrary(), &o, &bm) == 0;
  const vlGreyFill result = FillOutlineGrey(&o, ours.data(), w, w, h);
  if (result == vlGreyFill::kNotHandled) {
    if (freetype) std::abort();
    return 0;
  }
  if ((result == vlGreyFill::kDrawn) != freetype) std::abort();
  if (!freetype) {
    for (uint8_t b : ours)
      if (b != pattern) std::abort();
    return 0;
  }
  if (ours != theirs) std::abort();
  return 0;
}
