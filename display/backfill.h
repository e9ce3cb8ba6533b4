// Filling pictures from a backfill description (colour, gradient or
// tiled texture brush) and turning loaded ARGB pixels into a BGPic's
// planes, drawn over its fill where the picture has transparent parts.
#pragma once
#include <cstdint>

struct vlVMState;
struct vlBitmap;
struct vlBGPic;
struct vlBGPicBackfill;

// Fills bitmap (or, when given, the ARGB buffer) of width x height.
// keepTexture: use the description's texture copy as it is.
int FillBackfill(vlVMState* state, vlBGPicBackfill* backfill, vlBitmap* bitmap, int32_t width, int32_t height,
                 uint32_t* argb, int keepTexture);
// argb may be null (the fill alone). With a description whose fill style
// is not 0 and a picture with a mask or alpha, the picture is drawn over
// the fill and the result has neither.
int BuildBGPicBitmaps(vlVMState* state, const uint32_t* argb, vlBGPicBackfill* backfill, int32_t transparentColor,
                      int32_t width, int32_t height, int32_t rowLength, vlBitmap** bitmap, vlBitmap** mask,
                      vlBitmap** alpha);

// The BGPic's loaded source: one more reference for a copy; release.
void RetainBGPicSource(vlBGPic* from, vlBGPic* to);
void ReleaseBGPicSource(vlBGPic* pic);
