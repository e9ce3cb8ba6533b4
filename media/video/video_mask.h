// The parts of a display's window that videos playing in their own
// rectangle (not on a layer) occupy: other drawing to the window leaves
// them out, so that nothing paints over a playing, paused or ended video.
// The window drawing below finds them in the display's window record, set
// here whenever the set can change.
#pragma once
#include <cstdint>

// Sets every display's overlays in its window record from the videos as
// they are now. Called on the drawing thread after anything that can change
// a display's set (a video started, stopped, moved, resized, freed, taken
// to or off a layer) and before the display is redrawn for it. A video's
// own threads change nothing in the set: the end they mark keeps a video
// in it as playing and pausing do.
void PublishVideoOverlays();
