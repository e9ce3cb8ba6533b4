// The parts of a display's window that videos playing in their own
// rectangle (not on a layer) occupy: other drawing to the window leaves
// them out, so that nothing paints over a playing, paused or ended video.
#pragma once
#include <cstdint>

struct vlDisplay;
struct vlBitmap;
struct vlX11VideoRect;

// The clipped rectangles of the active videos of the inbuilt or plug-in
// decoders on the display that are not on a layer, up to max; the count.
int CollectVideoRects(vlDisplay* display, vlX11VideoRect* out, int max);
// A one-bit mask of the display's size (made for reference's rows) in
// which those rectangles are set; null when there is none.
vlBitmap* BuildVideoMask(vlBitmap* reference, vlDisplay* display);
// Hands the rectangles to the window drawing; the uninstall restores
// what was there.
void InstallVideoMaskHook();
void RemoveVideoMaskHook();
