// The fill outline of a path of straight sides and cubics, made without
// FreeType's stroker but exactly as it makes it (radius 0, round joins).
#pragma once
#include "graphics/outline_pieces.h"
#include "graphics/outline_raster.h"

enum class vlFillLinesResult {
  kMade,      // the outline is in *out, the caller's to free
  kNotLines,  // a conic or an open sub-path: the stroker must make it
  kTooLarge,  // beyond one outline's limits
  kNoMemory,
};

// The journal's closed sub-paths of lines and cubics as one outline.
vlFillLinesResult FillOutlineOfLines(const vlOutlineJournal& journal, FT_Outline* out);
