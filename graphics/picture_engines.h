// Engines that make new pictures out of old ones: copies of a rectangle
// with its planes, ARGB read-outs, scaled, transformed and distorted
// pictures, and masks from a colour key. New objects go to the caller
// through the out-parameters; on failure nothing is left behind.
#pragma once
#include <cstdint>

struct vlBitmap;

// The cached smooth-scaling tables: they only grow, and go at shut-down.
int32_t EnsureScaleTables(int32_t xCount, int32_t yCount, int32_t* xCapacity, int32_t* yCapacity,
                          uint16_t** xFraction, int32_t** xStep, uint16_t** yFraction, int32_t** yStep);
void FreeScaleTables();

// 0, ERR_BITMAP, ERR_ALLOCMASK or ERR_ALLOCALPHA. Planes are copied when
// the source has them and their out-parameter is given; without a source
// bitmap only planes are copied.
int32_t CopyBitmapRegion(vlBitmap* bitmap, vlBitmap* mask, vlBitmap* alpha, int32_t x, int32_t y, int32_t width,
                         int32_t height, int32_t adapterFlag, uintptr_t word1, uintptr_t word2, vlBitmap** outBitmap,
                         vlBitmap** outMask, vlBitmap** outAlpha);

// A new buffer of width x height 0xAARRGGBB words (delete[]); 0, ERR_MEM
// or ERR_LOCKBMAP. The extra word gets the bitmap's second handle.
int32_t ReadBitmapRectARGB(vlBitmap* bitmap, int32_t x, int32_t y, int32_t width, int32_t height,
                           uintptr_t* outExtra, uint32_t** outBuffer);

// Scales the rectangle at (x, y) to targetWidth x targetHeight into the
// given target (pixels only) or into new objects. 0 and nothing for a
// target size below 1.
int32_t ScaleBitmap(vlBitmap* source, vlBitmap* mask, vlBitmap* alpha, int32_t x, int32_t y, vlBitmap* target,
                    int32_t sourceWidth, int32_t sourceHeight, int32_t targetWidth, int32_t targetHeight,
                    int32_t smooth, uintptr_t adapterWord, vlBitmap** outBitmap, vlBitmap** outMask,
                    vlBitmap** outAlpha);

// matrix m0..m3: x' = x m0 + y m2, y' = x m1 + y m3.
void GetTransformedBounds(const double* matrix, int32_t width, int32_t height, int32_t* outWidth,
                          int32_t* outHeight, double* outX, double* outY);

// The result carries exactly one plane: alpha when the source has an
// alpha plane, else a mask of the covered pixels. Without a source
// picture only the planes are turned (no bitmap is handed out).
int32_t TransformBitmap(vlBitmap* source, vlBitmap* mask, vlBitmap* alpha, int32_t x, int32_t y, int32_t width,
                        int32_t height, const double* matrix, int32_t smooth, uintptr_t adapterWord,
                        vlBitmap** outBitmap, vlBitmap** outMask, vlBitmap** outAlpha, int32_t* outWidth,
                        int32_t* outHeight);

// flag: the resampling flag of the render pass.
int32_t DistortBitmap(vlBitmap* source, vlBitmap* mask, vlBitmap* alpha, int32_t width, int32_t height,
                      int32_t method, int32_t count, const double* args, int32_t flag, vlBitmap** outBitmap,
                      vlBitmap** outMask, vlBitmap** outAlpha, int32_t* outWidth, int32_t* outHeight);

// A new mask whose bits are clear where the pixel has the key colour
// (alpha ignored); null when the lock or the allocation fails.
vlBitmap* MaskFromColorKey(vlBitmap* bitmap, int32_t width, int32_t height, uint32_t color);
