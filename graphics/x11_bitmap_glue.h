// Hands the X11 code the display adapter's bitmap features; pictures
// themselves go down as plain records (display_blit.h).
#pragma once

// Installs the bitmap routine into the X11 hooks (start-up, after the
// graphics engine is ready).
void InstallX11BitmapHooks();
