// Hands the X11 drawing code the engine's bitmaps: making the window-sized
// output bitmap of displays with alpha, and locking pictures for the put.
#pragma once

// Installs the bitmap routines into the X11 hooks (start-up, after the
// graphics engine is ready).
void InstallX11BitmapHooks();
