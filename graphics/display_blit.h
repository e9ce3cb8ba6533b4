// Pictures to and from a display's window. The picture is settled, scaled
// for a display shown scaled and locked here, on the floor that owns it,
// and goes down as a plain record of its pixels (or whole to a display
// adapter), so the window code never calls back up to reach a picture.
#pragma once
#include <cstdint>

struct vlBitmap;
struct vlPlatformWindow;

// Draws the rectangle of the bitmap at (x, y) on the display, then tells
// its observers (code 0). flags: 0x20 draws over the video overlays too;
// 0x100 says the picture is at the window's scale already (a display shown
// scaled does not scale it again).
void BlitToDisplay(vlBitmap* bitmap, int32_t srcX, int32_t srcY, vlPlatformWindow* display, int32_t x, int32_t y,
                   int32_t width, int32_t height, uint32_t flags);
// Opaque rectangles of one colour (x, y, width, height each), all inside
// box (x, y, width, height), drawn on the window as they are, which shows
// the display's picture one to one there; then the observers are told of
// the box as of a blit. False, with nothing drawn, when the device or the
// window takes no such fills: the caller blits the box instead.
bool FillDisplayRects(vlPlatformWindow* display, const int32_t* rects, int32_t count, uint32_t color,
                      const int32_t box[4]);
// The flags of a video frame's blit: over the overlays, and at the
// window's scale where the device has the player scale videos.
uint32_t VideoFrameBlitFlags(const vlPlatformWindow* display);
// The screen's pixels as a new bitmap in *out; 0, or ERR_GRABSCREEN (1561)
// with *out null.
int GrabDisplayPixels(vlPlatformWindow* display, int32_t x, int32_t y, int32_t width, int32_t height, vlBitmap** out);
// Drops the intermediate bitmap of scaled blits (shut-down).
void FreeDisplayBlitCache();
