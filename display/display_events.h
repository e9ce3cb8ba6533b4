// The display side of the window input: what the X input translation asks
// of displays (pending frames, redraws, Alt+Return mode switches, sizes the
// user gave a window), installed with the translation itself.
#pragma once

struct vlDisplay;
struct vlVMState;

void InstallDisplayInput();

// The window system lost the display's pixels: they go out again.
void RefreshLostDisplay(vlVMState* state, vlDisplay* display);
// Reopens the display windowed (full 0) or full screen (1). 0 or an error.
int SwitchDisplayMode(vlVMState* state, vlDisplay* display, int full);
// Rebuilds the display at the size the user gave its window, keeping its
// position. 0 or an error.
int ResizeDisplayToWindow(vlVMState* state, vlDisplay* display, int width, int height);
