// Scaled copies of pictures with their mask and alpha planes.
#pragma once
#include <cstdint>

struct vlBitmap;

// Scales the source rectangle at (x, y) of srcWidth x srcHeight to
// width x height. With target given the pixels go into it and no planes
// are made; otherwise a new bitmap and, where the source has them, a new
// mask and alpha plane are handed out. A size below 1 yields nothing and
// 0. Errors ERR_BITMAP, ERR_ALLOCMASK, ERR_ALLOCALPHA, ERR_LOCKBMAP; on
// failure nothing made here survives.
int ScaleBitmap(vlBitmap* source, vlBitmap* mask, vlBitmap* alpha, int32_t x, int32_t y, vlBitmap* target,
                int32_t srcWidth, int32_t srcHeight, int32_t width, int32_t height, int smooth, uint32_t adapterWord,
                vlBitmap** outBitmap, vlBitmap** outMask, vlBitmap** outAlpha);
