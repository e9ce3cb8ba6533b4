// Scaling, rotating and shearing a picture through one routine for
// brushes, anim frames and layers: the cheapest way for a 2x2 matrix, and
// for vector pictures a fresh rendering of their source at that matrix.
#pragma once
#include <cstdint>

struct vlVMState;
struct vlBitmap;
struct vlLoadedSource;

enum : uint32_t {
  VL_PICTURE_RASTER = 0,
  VL_PICTURE_VECTOR = 1,  // rendered again from its loaded source
};

// matrix: m00, m01, m10, m11 (x' = m00 x + m01 y, y' = m10 x + m11 y).
bool IsPurePositiveScale(const double* matrix);

// The size of a width x height picture under the matrix, each at least 1.
void GetTransformedSize(const double* matrix, int32_t width, int32_t height, int32_t* outWidth,
                        int32_t* outHeight);

// The picture (the width x height rectangle at sourceX, sourceY of bitmap,
// or, for kind 1, source rendered at its own size) turned by the matrix
// into a new bitmap with its planes. The destination moves so that the
// anchor point stays where it was (outX, outY: the top-left of the turned
// rectangle's box). A vector result gets an alpha plane when alpha was
// given, else a mask when a mask was given or the matrix turns or flips
// (the uncovered corners), both from the rendered alpha bytes; at the
// identity a vector picture is copied from bitmap, or rendered when no
// bitmap is given.
// 0 or ERR_BITMAP, ERR_ALLOCMASK, ERR_ALLOCALPHA, ERR_TFIMAGE; nothing is
// left allocated on failure.
int TransformPicture(vlVMState* state, uint32_t kind, vlLoadedSource* source, vlBitmap* bitmap, vlBitmap* mask,
                     vlBitmap* alpha, int32_t sourceX, int32_t sourceY, int32_t destX, int32_t destY, int32_t width,
                     int32_t height, double anchorX, double anchorY, const double* matrix, int smooth,
                     vlBitmap** outBitmap, vlBitmap** outMask, vlBitmap** outAlpha, int32_t* outX, int32_t* outY,
                     int32_t* outWidth, int32_t* outHeight);
