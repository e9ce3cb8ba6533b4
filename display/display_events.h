// The display side of the window input: what the X input translation asks
// of displays (pending frames, redraws, Alt+Return mode switches, sizes the
// user gave a window), installed with the translation itself.
#pragma once

void InstallDisplayInput();
