// Cutting an outline down to a box (in 26.6 units) before rendering, so
// that a shape reaching far beyond its buffer is rasterised only where it
// can show, and precisely there.
#pragma once
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

// True when the outline's control box leaves the box; *control (when
// given) gets that control box.
bool OutlineReachesBeyond(const FT_Outline* outline, const FT_BBox& box, FT_BBox* control = nullptr);
// A new outline (free it with FT_Outline_Done) that fills every point
// inside the box as the given one does and nothing outside it; false when
// it cannot be made.
bool ClipOutlineToBox(FT_Library library, const FT_Outline* outline, const FT_BBox& box, FT_Outline* out);
