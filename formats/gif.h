// GIF87a/GIF89a: a reader that scans every frame once into a frame table and
// then composes any frame on a full-screen canvas (transparency, disposal,
// interlace), and a GIF89a writer of 8-bit frames with their own palettes,
// looping for ever, optionally storing only the changed rectangle.
#pragma once
#include <cstdint>

struct vlStream;
struct vlGIFReader;
struct vlGIFWriter;

// Takes over the stream (closed on failure and in a probe). A probe only
// delivers the screen size and returns null. singlePicture with alphaFlag
// starts from a cleared canvas instead of the background colour.
vlGIFReader* OpenGIFReader(vlStream* stream, int32_t* width, int32_t* height, int32_t* frameCount, int probe,
                           int singlePicture, int alphaFlag);
// Frame n (-1 restarts at frame 0) as a new width x height picture of
// 0xAARRGGBB words (AllocMemory; drawn pixels carry 0xFF in the top byte),
// or null. *transparencyAlpha is set when the frame's transparent index
// became alpha.
uint32_t* ReadGIFFrame(vlGIFReader* reader, int32_t n, int32_t* transparencyAlpha);
// Milliseconds.
int32_t GetGIFFrameDelay(vlGIFReader* reader, int32_t n);
void CloseGIFReader(vlGIFReader* reader);

// 0, 1000 or 1052 (the name in the error argument).
int OpenGIFWriter(const char* fileName, int32_t width, int32_t height, vlGIFWriter** writer);
// pixels: width x height palette indices. palette: 256 entries 0x00RRGGBB;
// entries from colorCount on are set to 0xFFFFFFFF. 0 or 1000 (1005 when
// the file cannot take the data).
int WriteGIFFrame(vlGIFWriter* writer, const uint8_t* pixels, int32_t width, int32_t height, int32_t delayMs,
                  uint32_t* palette, int32_t colorCount, int32_t transparentIndex, int delta, int anim);
// Writes the trailer, closes the stream and frees the writer: 0, 1005,
// 1530 or 1052. A non-zero status (the save failed on the way) drops the
// file instead and comes back; so does a failure here. Either way no
// partial file stays and an old file of the name is left alone.
int CloseGIFWriter(vlGIFWriter* writer, int status = 0);
