// The drawing routines the effect families share: strips of the new and
// the old picture, fills, clipped copies and the end of a frame.
#pragma once
#include <cstdint>

struct vlBitmap;
struct vlFxContext;

void ClipBlitFX(vlBitmap* src, int32_t sx, int32_t sy, vlBitmap* dst, int32_t dx, int32_t dy, int32_t w, int32_t h,
                int32_t srcW, int32_t srcH, int32_t dstW, int32_t dstH);
void SplitHalves(vlFxContext* fx, int32_t extent, int32_t frame);
// The rectangle (sx, sy, w, h) of a picture of picW x picH drawn at the
// offset (ox, oy) of the effect rectangle, clipped to both.
void DrawFXPart(vlFxContext* fx, vlBitmap* picture, vlBitmap* mask, vlBitmap* alpha, int32_t sx, int32_t sy,
                int32_t w, int32_t h, int32_t ox, int32_t oy, int32_t picW, int32_t picH);
// A plain copy, or through the mask or else the alpha plane when given;
// the caller has clipped.
void BlitThroughPlanes(vlBitmap* src, vlBitmap* mask, vlBitmap* alpha, int32_t sx, int32_t sy, vlBitmap* dst,
                       int32_t dx, int32_t dy, int32_t w, int32_t h);
// A strip (sx, sy, w, h) of the new picture drawn at the same offset in the
// effect rectangle.
void DrawNewStrip(vlFxContext* fx, int32_t sx, int32_t sy, int32_t w, int32_t h);
// Lines first..last (inclusive) of the new picture: columns when columns
// is set, else rows; nothing when last < first.
void DrawNewLines(vlFxContext* fx, bool columns, int32_t first, int32_t last);
// The same from the old picture, without mask and alpha.
void DrawOldStrip(vlFxContext* fx, int32_t sx, int32_t sy, int32_t w, int32_t h);
// A whole picture of the effect's size drawn at the effect's place.
void DrawFXPicture(vlFxContext* fx, vlBitmap* picture);
// The rectangle (sx, sy, w, h) of the new picture over the old one through
// the given mask or alpha plane, composed in work and drawn at the same
// place of the effect.
void DrawThroughMask(vlFxContext* fx, int32_t sx, int32_t sy, int32_t w, int32_t h, vlBitmap* mask, vlBitmap* alpha,
                     vlBitmap* work);
// A rectangle of a picture of the effect's size (with its planes) scaled
// to tw x th; the picture itself when nothing changes. Frees what it made.
struct vlFxScaled {
  vlBitmap* bitmap = nullptr;
  vlBitmap* mask = nullptr;
  vlBitmap* alpha = nullptr;
  bool owned = false;
  vlFxScaled() = default;
  vlFxScaled(const vlFxScaled&) = delete;
  vlFxScaled& operator=(const vlFxScaled&) = delete;
  ~vlFxScaled();
};
// 0 or the scaler's error.
int ScaleFXPicture(vlFxContext* fx, vlBitmap* picture, vlBitmap* mask, vlBitmap* alpha, int32_t x, int32_t y, int32_t w,
                   int32_t h, int32_t tw, int32_t th, vlFxScaled* out);
void FillFXRect(vlFxContext* fx, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t color, uint32_t flags);
// Shows what the frame drew (when the blits did not) and counts the frame.
void EndFXFrame(vlFxContext* fx);
