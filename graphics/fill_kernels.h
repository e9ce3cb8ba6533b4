// Scanline flood fill and colour replacement on locked 2- and 4-byte
// pixels. Colours are pixel values of the picture's format; compareMask
// leaves out the alpha bits.
#pragma once
#include <cstdint>

struct vlPixelAccess;

// Fills from (x, y) up to pixels of the border value. 0 or ERR_MEM.
int FloodFillPix16(vlPixelAccess* access, int32_t x, int32_t y, uint32_t border, uint32_t fill);
int FloodFillPix32(vlPixelAccess* access, int32_t x, int32_t y, uint32_t border, uint32_t fill,
                   uint32_t compareMask);
// pairs: count {old, new} values, tested in order; a pixel equal to an
// old value takes its new one, which the later pairs test in turn.
void ReplaceColorsPix16(vlPixelAccess* access, const uint32_t* pairs, int32_t count);
void ReplaceColorsPix32(vlPixelAccess* access, const uint32_t* pairs, int32_t count, uint32_t compareMask);
