// The drawing routines the effect families share: strips of the new and
// the old picture, fills, clipped copies and the end of a frame.
#pragma once
#include <cstdint>

struct vlBitmap;
struct vlFxContext;
struct vlMadeSource;

// Flags of the layered blit and of the presentation.
enum : uint32_t {
  VL_FXB_COMBINE = 1,     // source planes added to the destination's
  VL_FXB_THROUGH = 2,     // pixels copied through the source planes
  VL_FXB_FILL = 4,        // no source: the rectangle made invisible
  VL_FXB_NOSHOW = 8,      // not presented at once
  VL_FXB_KEEPWORK = 16,   // the extra work planes left alone
  VL_FXB_PUSH = 0x20,     // presented to the window also on scaled output
  VL_FXB_VISIBLE = 0x40,  // with VL_FXB_FILL: made visible instead
};

// The blit into a layer's working image, mask and alpha plane (dst,
// dstMask, dstAlpha of dstW x dstH) from src clipped to clipW x clipH.
void BlitFXRect(vlBitmap* src, int32_t sx, int32_t sy, vlBitmap* dst, vlBitmap* dstMask, vlBitmap* dstAlpha,
                int32_t dx, int32_t dy, int32_t w, int32_t h, int32_t dstW, int32_t dstH, int32_t clipW, int32_t clipH,
                vlBitmap* srcMask, vlBitmap* srcAlpha, vlFxContext* fx, uint32_t flags);
// The same into the effect layer's working planes at the offset (dx, dy)
// of the effect rectangle.
void BlitIntoLayer(vlFxContext* fx, vlBitmap* src, vlBitmap* srcMask, vlBitmap* srcAlpha, int32_t sx, int32_t sy,
                   int32_t dx, int32_t dy, int32_t w, int32_t h, uint32_t flags);
// Shows a changed rectangle (dx, dy, w, h on the BGPic) of a layered effect.
void PresentFXRect(vlFxContext* fx, vlBitmap* bitmap, int32_t sx, int32_t sy, int32_t dx, int32_t dy, int32_t w,
                   int32_t h, int32_t clipW, int32_t clipH, vlBitmap* mask, vlBitmap* alpha, uint32_t flags);
// The whole effect rectangle of a layered effect shown.
void PresentFXLayer(vlFxContext* fx, uint32_t flags);
// The flag that holds a layered strip back from the screen.
uint32_t FXHoldFlag(const vlFxContext* fx);

// The new picture's coverage in an alpha plane of its size: its alpha
// plane, else 255 where its mask is set, else 255 everywhere.
void MakeOpaqueMask(vlFxContext* fx, vlBitmap* plane);
// A new such plane; null when it cannot be made.
vlBitmap* NewPictureAlphaPlane(vlFxContext* fx);

void ClipBlitFX(vlBitmap* src, int32_t sx, int32_t sy, vlBitmap* dst, int32_t dx, int32_t dy, int32_t w, int32_t h,
                int32_t srcW, int32_t srcH, int32_t dstW, int32_t dstH);
void SplitHalves(vlFxContext* fx, int32_t extent, int32_t frame);
// The rectangle (sx, sy, w, h) of a picture of picW x picH drawn at the
// offset (ox, oy) of the effect rectangle, clipped to both. made: the
// picture's pixels are made on demand (see vlMadeSource), or null.
void DrawFXPart(vlFxContext* fx, vlBitmap* picture, vlBitmap* mask, vlBitmap* alpha, int32_t sx, int32_t sy,
                int32_t w, int32_t h, int32_t ox, int32_t oy, int32_t picW, int32_t picH,
                const vlMadeSource* made = nullptr);
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
// A layered effect whose frames leave parts of the old picture in place
// starts with the whole old picture in the layer's picture, not shown.
void PutOldPictureIntoLayer(vlFxContext* fx);
// A whole picture of the effect's size drawn at the effect's place.
void DrawFXPicture(vlFxContext* fx, vlBitmap* picture, const vlMadeSource* made = nullptr);
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
