// The even-odd fill of an outline without anti-aliasing, which FreeType's
// 1-bit rasteriser does not draw.
#pragma once
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <cstdint>

// Writes width x height bytes of coverage, rows top-down as the outline's y
// grows: 255 where a pixel's centre lies inside the outline by the even-odd
// rule, else 0. False (buffer untouched) when the outline cannot be walked
// or memory runs out.
bool FillOutlineEvenOdd(const FT_Outline* outline, uint8_t* buffer, int32_t rowBytes, int32_t width,
                        int32_t height);
