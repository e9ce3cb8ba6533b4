// The drawing routines the effect families share: strips of the new and
// the old picture, fills, clipped copies and the end of a frame.
#pragma once
#include <cstdint>

struct vlBitmap;
struct vlFxContext;

void ClipBlitFX(vlBitmap* src, int32_t sx, int32_t sy, vlBitmap* dst, int32_t dx, int32_t dy, int32_t w, int32_t h,
                int32_t srcW, int32_t srcH, int32_t dstW, int32_t dstH);
void SplitHalves(vlFxContext* fx, int32_t extent, int32_t frame);
// A strip (sx, sy, w, h) of the new picture drawn at the same offset in the
// effect rectangle.
void DrawNewStrip(vlFxContext* fx, int32_t sx, int32_t sy, int32_t w, int32_t h);
// The same from the old picture, without mask and alpha.
void DrawOldStrip(vlFxContext* fx, int32_t sx, int32_t sy, int32_t w, int32_t h);
// A whole picture of the effect's size drawn at the effect's place.
void DrawFXPicture(vlFxContext* fx, vlBitmap* picture);
void FillFXRect(vlFxContext* fx, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t color, uint32_t flags);
// Shows what the frame drew (when the blits did not) and counts the frame.
void EndFXFrame(vlFxContext* fx);
