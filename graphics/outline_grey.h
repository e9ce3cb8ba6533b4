// The anti-aliased fill of an outline: exactly the bytes FreeType's grey
// rasteriser writes into an 8-bit bitmap of 256 greys (either fill rule),
// made without its cell lists.
#pragma once
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <cstdint>

enum class vlGreyFill {
  kDrawn,       // the coverage is written, byte for byte as FreeType writes it
  kFailed,      // FreeType would refuse the outline (bad tags, too far out): buffer untouched
  kNotHandled,  // left to FreeType: a row too dense for its pool, odd contours, a huge buffer
};

// Writes the coverage of a width x height buffer (rows top-down as y
// grows), touching only the bytes FreeType would write.
vlGreyFill FillOutlineGrey(const FT_Outline* outline, uint8_t* buffer, int32_t rowBytes, int32_t width,
                           int32_t height);
