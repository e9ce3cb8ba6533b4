// The player's anti-aliased rasteriser against FreeType's grey one on
// outlines made of hostile bytes: both must write the same bytes into a
// patterned buffer and refuse the same outlines (control points out of
// place, points out of range); ours may leave an outline to FreeType only
// where FreeType gives up (a row too dense for its pool).
//
// Input: width byte, height byte, a byte whose low 4 bits shift the
// coordinates (see outline_bytes.h), whose bit 4 picks the even-odd rule
// and whose bit 5 makes the width four times the byte (rows wider than
// FreeType's pool takes cells for), then the points.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "graphics/outline_grey.h"
#include "graphics/outline_raster.h"
#include "outline_bytes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vlFuzzOutline outline;
  if (!outline.Read(data, size)) return 0;
  const int w = 1 + data[0] * ((data[2] & 32) ? 4 : 1), h = 1 + data[1];
  FT_Outline o = outline.View((data[2] & 16) ? FT_OUTLINE_EVEN_ODD_FILL : 0);

  const uint8_t pattern = 0x5A;
  std::vector<uint8_t> theirs(static_cast<size_t>(w) * h, pattern), ours = theirs;
  const bool freetype = FreeTypeGreyCoverage(&o, theirs.data(), w, w, h);
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
