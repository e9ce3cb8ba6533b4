// Small geometry helpers of the drawing code: transformed bounding boxes,
// blit clipping, one-edge polygon clipping and ellipse outlines.
#pragma once
#include <cstdint>
#include <span>

struct vlBitmap;

// The active clip region as blits see it: a rectangle and an optional mask
// plane placed at the rectangle's corner.
struct vlClipRegion {
  int32_t x = 0, y = 0, width = 0, height = 0;
  vlBitmap* mask = nullptr;
};

// m11, m12, m21, m22.
void SetIdentityMatrix(double* matrix);

// Bounding box of a width x height rectangle turned by the matrix about
// (width * anchorX, height * anchorY); each out pointer may be null.
void FitRotatedRect(int32_t x, int32_t y, int32_t width, int32_t height, double anchorX, double anchorY,
                    const double* matrix, int32_t* outX, int32_t* outY, int32_t* outWidth, int32_t* outHeight);

// Bounding box of the integer-rounded points (x, y pairs).
void PointBounds(const double* points, int32_t count, int32_t* minX, int32_t* minY, int32_t* maxX, int32_t* maxY);

// Turns the points by the matrix (as FitRotatedRect) about (anchorX,
// anchorY), rounds them and moves them to start at 0; the new box size
// goes to width, height and, when asked, its corner before the move to
// minX, minY.
void TransformPointsBounds(double* points, int32_t count, const double* matrix, double anchorX, double anchorY,
                           int32_t* width, int32_t* height, int32_t* minX = nullptr, int32_t* minY = nullptr);

// Clips a blit in place against the target's left/top edge (or the
// region's), the source size and the target's right/bottom limit. A
// width or height below 1 afterwards means nothing is to be drawn.
void ClipBlitRects(const vlClipRegion* region, int32_t* srcX, int32_t* srcY, int32_t* dstX, int32_t* dstY,
                   int32_t* width, int32_t* height, int32_t srcWidth, int32_t srcHeight, int32_t dstWidth,
                   int32_t dstHeight, int useRegion);

// One pass of polygon clipping; points are x, y pairs and need room for
// count + 1 points (the first is copied behind the last). Edge 0 keeps
// x >= value, 1 y >= value, 2 x <= value, 3 y <= value. out needs room
// for 2 * count points. Returns the number of points written.
int32_t ClipPolygonToEdge(int32_t count, int32_t* points, int32_t* out, int32_t edgeValue, int32_t edge);

// Ellipse outline points relative to the bounding box's top-left corner,
// one per degree from start to end inclusive, plus the centre and the
// first point again for a slice. Writes at most out.size() / 2 points and
// returns the number the outline has.
int32_t SinCosEllipsePoint(std::span<int32_t> out, int32_t radiusX, int32_t radiusY, int32_t startAngle,
                           int32_t endAngle);

// The fixed-point circle tables: cosine and sine of each whole degree x 1024.
const int32_t* Cos1024Table();
const int32_t* Sin1024Table();
