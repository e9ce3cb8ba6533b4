// The engine of DumpVideo: runs a stopped video's decoder to the end,
// shows every frame on the display and, with a file-name prefix, writes
// each frame as a numbered picture and the sound as one WAV file.
#pragma once
#include <cstdint>

struct vlVMState;
struct vlDisplay;
struct vlVideoHandle;

// format 0..4 with its extension ("bmp", "png", "jpg", "gif", "iff");
// prefix may be null. 0, 1000, 1052, 1522 or the event pump's error.
int ExportVideoFrames(vlVMState* state, vlVideoHandle* handle, vlDisplay* display, int32_t x, int32_t y,
                      const char* prefix, int32_t format, const char* extension);

// Saves width x height native 0xAARRGGBB words (rows of rowLength) as a
// picture of format 0..4 (BMP, PNG, JPEG, GIF, IFF ILBM); 0 or an error.
int SaveVideoPicture(const char* fileName, const uint32_t* pixels, int32_t width, int32_t height,
                     int32_t rowLength, int32_t format, int32_t quality);
