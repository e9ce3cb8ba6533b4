// IFF ILBM pictures: the reader (1-8 planes with palette, extra-half-brite,
// HAM6, HAM8, 24 planes; plain or ByteRun1 bodies; mask planes skipped),
// the 24-plane ByteRun1 writer, and the planar, hold-and-modify and body
// routines that the ANIM and CDXL readers share.
#pragma once
#include <cstddef>
#include <cstdint>

struct vlStream;

// Bytes of one plane row: the width rounded up to 16 pixels.
constexpr int32_t ILBMRowBytes(int32_t width) { return ((width + 15) / 16) * 2; }

// Reads a picture from the start of the file into width x height 0x00RRGGBB
// words (AllocMemory). paletteOverride: null or 256 entries (see the
// loader); keyColor: 0xRRGGBB or -1; mode1/mode2: the transparency mode
// flags. *transparentOut: -1 or the colour that marks transparent pixels.
// paletteOut (optional) receives a new 256-entry copy for palette pictures.
// 0, 1000 or 1358.
int ReadILBM(vlStream* stream, int probe, uint32_t* paletteOverride, int32_t keyColor, int mode1, int mode2,
             int32_t* transparentOut, int32_t* width, int32_t* height, uint32_t** pixels, uint32_t** paletteOut);

// Writes 24 ByteRun1-packed planes. 0, 1000, 1005 or 1052.
int WriteILBM(const char* fileName, const uint32_t* pixels, int32_t width, int32_t height);

// Moves the stream just past the next occurrence of the id (searched at
// every byte, in at most two passes that stop at "BODY"); 1 found, 0 not.
int FindIFFChunk(vlStream* stream, const char* id);

// Unpacks one ByteRun1 row of rowBytes from the stream (bytes beyond the
// row are dropped); 1 done, 0 on a short read.
int UnpackByteRun1Row(vlStream* stream, uint8_t* row, int32_t rowBytes);
// Packs one row into out (room for rowBytes + rowBytes / 128 + 1 bytes);
// the packed length.
size_t PackByteRun1Row(const uint8_t* row, size_t rowBytes, uint8_t* out);

// Fill the planar buffer (plane-major for up to 8 planes, file order for
// more) from a BODY; 1 done, 0 on a short read.
int ReadILBMBodyPacked(vlStream* stream, uint8_t* planar, uint32_t bodyLength, int32_t width, int32_t height,
                       int32_t planes, int32_t masking);
int ReadILBMBodyPlain(vlStream* stream, uint8_t* planar, uint32_t bodyLength, int32_t width, int32_t height,
                      int32_t planes, int32_t masking);

// 1-8 planes: ORs each pixel's plane bits into one byte (out cleared,
// outStride bytes per row). 24 planes: 32-bit pixels whose bytes in memory
// are 0, red, green, blue, outStride bytes per row.
void PlanarToChunky(const uint8_t* planar, int32_t width, int32_t height, int32_t planes, int32_t rowBytes,
                    uint8_t* out, int32_t outStride);
void DecodeHAM6(const uint8_t* chunky, uint32_t* out, const uint32_t* palette, int32_t width, int32_t height);
void DecodeHAM8(const uint8_t* chunky, uint32_t* out, const uint32_t* palette, int32_t width, int32_t height);
void ChunkyToRGB(const uint8_t* chunky, uint32_t* out, const uint32_t* palette, int32_t width, int32_t height);

// Extra-half-brite: entries 32-63 become entries 0-31 at half brightness.
void ApplyHalfBrite(uint32_t* palette);
