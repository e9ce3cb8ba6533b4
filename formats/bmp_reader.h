// Windows BMP reader: 1, 4 and 8 bits with a palette (8 bits also RLE8),
// 16, 24 and 32 bits; bottom-up files only.
#pragma once
#include <cstdint>

struct vlStream;

// Reads from the start of the file into width x height 0x00RRGGBB words
// (AllocMemory). With probe set only the stored width and height are given.
// 0, 1000, 1009 or 1358.
int ReadBMP(vlStream* stream, int probe, int32_t* width, int32_t* height, uint32_t** pixels);
