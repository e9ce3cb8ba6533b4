// Drawing into a display's X window: pictures from plain pixel records, lines,
// single pixels and filled rectangles, each clipped around the videos that
// play in their own overlay; and the window attributes the graphics code
// asks for.
#pragma once
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdint>

#include "platform/offscreen_bitmap.h"

struct vlPixelRecord;
struct vlDisplay;
struct vlPlatformWindow;
struct vlWindowPut;

// Whether the display's window takes pictures now: open, drawable and not
// being moved or resized by the user.
bool WindowTakesPictures(const vlPlatformWindow* display);
// Puts a rectangle of the pixels into the window; false, with nothing read,
// when the window takes no pictures now. flags as BlitToDisplay's: 0x20
// draws over the video overlays too (the videos' own frames). *put (when
// given) says what the put left unsent: nothing, a put pending on its
// connection, or a frame.
bool PutImageToWindow(const vlPixelRecord& source, int sourceX, int sourceY, vlPlatformWindow* display, int destX,
                      int destY, int width, int height, int flags = 0, vlWindowPut* put = nullptr);
void DrawLineToWindow(vlPlatformWindow* display, int x1, int y1, int x2, int y2, uint32_t colour);
void WritePixelToWindow(vlPlatformWindow* display, int x, int y, uint32_t colour);
void FillRectInWindow(vlPlatformWindow* display, int x, int y, int width, int height, uint32_t colour);
// Opaque rectangles of one colour (x, y, width, height), left waiting with
// the puts. False, with nothing sent, when the window takes no pictures now
// or keeps an alpha channel (its pixels are premultiplied on the way).
bool FillRectsInWindow(vlPlatformWindow* display, const int32_t* rects, int32_t count, uint32_t colour,
                       vlWindowPut* put);

// Sets the GC clip to the window less the video overlays and returns the
// region (None when no video was cut out, or with flag 0x20). The caller
// destroys it after drawing.
constexpr int kClipNoVideos = 0x20;
void BuildVideoClipRegion(vlPlatformWindow* display, Region* out, int flags);
