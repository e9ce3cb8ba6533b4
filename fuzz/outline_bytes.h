// The outline of the rasteriser fuzz targets, read from bytes after a
// header of three: points of 5 bytes, a tag byte (low 2 bits: 0 conic
// control, 1 on the curve, 2 cubic control, 3 on the curve and the
// contour's last point) and x, y as signed 16-bit numbers in 1/64 pixel,
// shifted left by the low 4 bits of the header's third byte.
#pragma once
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <cstddef>
#include <cstdint>
#include <vector>

struct vlFuzzOutline {
  std::vector<FT_Vector> points;
  std::vector<char> tags;
  std::vector<short> contours;

  // False when the bytes hold no point.
  bool Read(const uint8_t* data, size_t size) {
    if (size < 3) return false;
    const int shift = data[2] & 15;
    for (size_t i = 3; i + 5 <= size && points.size() < 4000; i += 5) {
      const int tag = data[i] & 3;
      const int16_t x = static_cast<int16_t>(data[i + 1] | data[i + 2] << 8);
      const int16_t y = static_cast<int16_t>(data[i + 3] | data[i + 4] << 8);
      points.push_back({static_cast<FT_Pos>(x) * (FT_Pos{1} << shift), static_cast<FT_Pos>(y) * (FT_Pos{1} << shift)});
      tags.push_back(static_cast<char>(tag == 0 ? FT_CURVE_TAG_CONIC : tag == 2 ? FT_CURVE_TAG_CUBIC : FT_CURVE_TAG_ON));
      if (tag == 3) contours.push_back(static_cast<short>(points.size() - 1));
    }
    if (points.empty()) return false;
    if (contours.empty() || contours.back() != static_cast<short>(points.size() - 1))
      contours.push_back(static_cast<short>(points.size() - 1));
    return true;
  }

  FT_Outline View(int flags) {
    return {static_cast<short>(contours.size()), static_cast<short>(points.size()), points.data(), tags.data(),
            contours.data(), flags};
  }
};
