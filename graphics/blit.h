// Rectangle copies between pictures (plain, through a mask, through an
// alpha plane), alpha-plane blits, tiling and the aspect-size rule. The
// callers clip; these go to the display adapter when it can do the job
// and to the pixel kernels otherwise.
#pragma once
#include <cstdint>

struct vlBitmap;

void BltBitmap(vlBitmap* src, int32_t srcX, int32_t srcY, vlBitmap* dst, int32_t dstX, int32_t dstY,
               int32_t width, int32_t height);
// What BltBitmap would copy of a mix of two pictures, made in one pass
// straight into dst: the rectangle of base mixed toward the same rectangle
// of toward by level (0 base, 255 toward; as MixBitmaps with base as its
// source and ratio 255 - level over a copy of toward). False, with nothing
// written, when that cannot be done in one software pass (an adapter
// takes the target's blits, the three differ in pixel format, the
// rectangle leaves one of them).
bool BltMixedBitmaps(vlBitmap* base, vlBitmap* toward, int32_t level, int32_t srcX, int32_t srcY, vlBitmap* dst,
                     int32_t dstX, int32_t dstY, int32_t width, int32_t height);
// A video bitmap whose alpha bytes count, taken apart as the player holds
// such a picture of its own: the rectangle's colours in a new picture and
// its alpha bytes in a new mask plane (when they are mask bits) or alpha
// plane, all from (0, 0). False, with nothing made, when it cannot be read.
bool TakeOwnAlphaApart(vlBitmap* src, int32_t srcX, int32_t srcY, int32_t width, int32_t height, vlBitmap** picture,
                       vlBitmap** mask, vlBitmap** alpha);
void BltBitmapMasked(vlBitmap* src, int32_t srcX, int32_t srcY, vlBitmap* dst, int32_t dstX, int32_t dstY,
                     int32_t width, int32_t height, vlBitmap* mask);
void BltBitmapAlpha(vlBitmap* src, int32_t srcX, int32_t srcY, vlBitmap* dst, int32_t dstX, int32_t dstY,
                    int32_t width, int32_t height, vlBitmap* alpha);
// BltBitmapAlpha of a picture whose rows are all its first row (a plain
// colour), reading that row for every row: the same bytes without the
// other rows made. False, with nothing drawn, where the blit would not be
// the plain blend (an adapter's or plane target, a target keeping its
// own alpha bytes, pictures of two formats).
bool BltFirstRowAlpha(vlBitmap* src, int32_t srcX, int32_t srcY, vlBitmap* dst, int32_t dstX, int32_t dstY,
                      int32_t width, int32_t height, vlBitmap* alpha);
// BltFirstRowAlpha where the coverage is whole inside the rectangles
// (x, y, width, height in dst; count of them) and none outside: the
// source's colour at srcX stored into them. False, with nothing drawn,
// where that blit would not draw or a rectangle leaves the target.
bool FillRectsFromFirstRow(vlBitmap* src, int32_t srcX, vlBitmap* dst, const int32_t* rects, int32_t count,
                           vlBitmap* alpha);
// Mode 0 blends by the source alpha plane, 1 copies where it is non-zero,
// 2 blends over a target whose own alpha plane (outAlpha) is read.
void AlphaBlitBitmaps(vlBitmap* src, int32_t srcX, int32_t srcY, vlBitmap* dst, int32_t dstX, int32_t dstY,
                      int32_t width, int32_t height, vlBitmap* alpha, vlBitmap* outAlpha, int32_t mode);
// A colour (or sourcePicture's pixels) through an 8-bit coverage plane;
// targetAlpha and intensity serve modes 2 and 3. alphaPixels/alphaRowBytes,
// when given, replace the plane's own bytes.
void BltAlphaChannel(vlBitmap* alpha, int32_t srcX, int32_t srcY, vlBitmap* dst, int32_t dstX, int32_t dstY,
                     int32_t width, int32_t height, uint32_t color, int32_t mode, vlBitmap* targetAlpha,
                     int32_t intensity, vlBitmap* sourcePicture, const uint8_t* alphaPixels,
                     int32_t alphaRowBytes);
void BltAlphaChannelClipped(vlBitmap* alpha, int32_t srcX, int32_t srcY, vlBitmap* dst, int32_t dstX, int32_t dstY,
                            int32_t width, int32_t height, uint32_t color, int32_t mode, vlBitmap* targetAlpha,
                            int32_t intensity, vlBitmap* sourcePicture, const uint8_t* alphaPixels,
                            int32_t alphaRowBytes);
// Alpha bytes between planes by a combine mode (0-9) and value.
void CopyAlphaRect(vlBitmap* src, int32_t srcX, int32_t srcY, vlBitmap* dst, int32_t dstX, int32_t dstY,
                   int32_t width, int32_t height, int32_t mode, int32_t value);
void CopyAlphaRectClipped(vlBitmap* src, int32_t srcX, int32_t srcY, vlBitmap* dst, int32_t dstX, int32_t dstY,
                          int32_t width, int32_t height, int32_t mode, int32_t value);
// Fills the rectangle with copies of the tile, starting inside the tile at
// the offsets (negative ones count from the tile's right or bottom edge).
// With argb the 32-bit tile rows are copied directly.
void TileBitmap(vlBitmap* target, int32_t x, int32_t y, int32_t width, int32_t height, vlBitmap* tile,
                int32_t offsetX, int32_t offsetY, int32_t tileWidth, int32_t tileHeight, const uint32_t* argb,
                int32_t argbRowPixels);

// KEEPASPRAT in place of one value keeps the source's aspect; error code.
inline constexpr int32_t VL_KEEPASPRAT = 100000;
int32_t ResolveAspectSize(int32_t srcWidth, int32_t srcHeight, int32_t* width, int32_t* height);
