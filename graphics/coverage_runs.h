// The covered pixels of a 1-bit coverage plane as rectangles: what a
// window that draws its own rectangles takes instead of the picture.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// The runs of 255 in a width x height window of 8-bit coverage (rows
// rowBytes apart), at (originX + column, originY + row), as rectangles
// (x, y, width, height: four words each): runs with the same ends on consecutive rows make
// one. False, with *out unspecified, when a byte other than 0 and 255 is
// met (anti-aliased coverage) or more than maxRects would be needed.
bool CoverageRunsAsRects(const uint8_t* rows, size_t rowBytes, int32_t width, int32_t height, int32_t originX,
                         int32_t originY, size_t maxRects, std::vector<int32_t>* out);
