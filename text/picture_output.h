// How text and path pictures reach the current drawing target: the draw
// tags a display command reads, and the blit of a picture with its mask or
// alpha plane when no layer takes it.
#pragma once
#include <cstdint>

struct vlVMState;
struct vlBitmap;
struct vlMadeSource;

// The placement options of a draw-tag table.
struct vlDrawTagPlacement {
  double matrix[4];  // a, b, c, d: x' = a x + c y, y' = b x + d y
  double anchorX, anchorY;
};

// Reads "anchorx", "anchory" and "transform" (four numbers in rows:
// {a, b, c, d} takes (x, y) to (a x + b y, c x + d y)), or without it
// "scalex" and "scaley", of the table at index (none: identity, anchor 0,
// 0); 0 or an error code (a singular matrix or an anchor outside 0..1 is
// 1055).
int ReadDrawTagPlacement(vlVMState* state, int index, vlDrawTagPlacement* tags);

// Blits the picture at (x, y) onto the current drawing target (the
// display's back buffer or the selected BGPic); the pictures stay the
// caller's. made: the picture's pixels are made on demand.
void BlitPictureToTarget(vlVMState* state, vlBitmap* picture, vlBitmap* mask, vlBitmap* alpha, int32_t x, int32_t y,
                         int32_t width, int32_t height, const vlMadeSource* made = nullptr);

// True when the current display keeps what is drawn as layers.
bool TargetTakesLayers();
