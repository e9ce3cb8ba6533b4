// Straight lines of a thickness, rasterised as runs of pixels across the
// line's main direction and drawn through the plot routine of the drawing
// context (clip rectangle, clip mask, colour, blending, planes).
#pragma once
#include <cstdint>

#include "graphics/draw_kernels.h"

// The context's thickness is the run length across a horizontal or
// vertical line; runs lengthen with the angle. 0.
int32_t DrawThickLine(vlDrawContext& ctx, int32_t x1, int32_t y1, int32_t x2, int32_t y2);

// A line of a thickness in the ARGB colour into a locked buffer of the
// given size (row length in pixels), cut at its edges.
void DrawLinePixels(uint8_t* pixels, int32_t format, int32_t rowLength, int32_t width, int32_t height, int32_t x1,
                    int32_t y1, int32_t x2, int32_t y2, int32_t thickness, uint32_t color);
