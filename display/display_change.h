// Changing an existing display: a new attribute table (SetDisplayAttributes,
// DisplayBGPic) and a new size (ChangeDisplaySize, the window resized by the
// user, scaling changes).
#pragma once
#include <cstdint>

struct vlVMState;
struct vlDisplay;

// Works on copies: when reading the table fails the display is unchanged.
int ApplyDisplayAttributes(vlVMState* state, int table, vlDisplay* display, int keep);
int ResizeOpenDisplay(vlVMState* state, vlDisplay* display, int32_t x, int32_t y, int32_t width, int32_t height,
                      int fromScript, int smooth, int noRefresh, int noNotify);
// Moves and sizes the window to the record, with default regions.
void ApplyResizedWindow(vlDisplay* display);
