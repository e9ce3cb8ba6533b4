// The 1-bit fill of an outline: exactly the pixels FreeType's monochrome
// rasteriser lights in its high-precision mode without drop-out control
// (a pixel whose centre is inside by its profile rule, and the centres an
// edge passes through exactly), written straight as coverage bytes.
#pragma once
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <cstdint>

enum class vlMonoFill {
  kDrawn,       // the pixels are set to 255 in the buffer
  kFailed,      // FreeType would refuse it (its pool or the outline): buffer left clear
  kNotHandled,  // an outline this fill does not take (drop-out modes in its tags, a huge buffer)
};

// Sets the covered pixels of a cleared width x height buffer (rows
// top-down as y grows) to 255. control: the outline's control box when the
// caller has it.
vlMonoFill FillOutlineMono(const FT_Outline* outline, uint8_t* buffer, int32_t rowBytes, int32_t width,
                           int32_t height, const FT_BBox* control = nullptr);
