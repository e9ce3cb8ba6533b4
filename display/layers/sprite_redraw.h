// The last pass of a redraw: the BGPic's on-screen sprites, drawn by the
// sprite library once it is open.
#pragma once
#include <cstdint>

struct vlBGPic;
struct vlBitmap;

// taggedOnly: only the nodes marked for a redraw of their own.
using vlSpriteRedrawFn = void (*)(vlBGPic* pic, vlBitmap* dest, int32_t x, int32_t y, int32_t width,
                                  int32_t height, int taggedOnly);
extern vlSpriteRedrawFn gSpriteRedraw;

inline void DrawOnScreenSprites(vlBGPic* pic, vlBitmap* dest, int32_t x, int32_t y, int32_t width, int32_t height,
                                int taggedOnly = 0) {
  if (gSpriteRedraw) gSpriteRedraw(pic, dest, x, y, width, height, taggedOnly);
}
