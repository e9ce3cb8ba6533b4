// Writing a 32-bit ARGB picture to a file: BMP (written here), PNG, JPEG,
// GIF (reduced to a palette) and ILBM through their writers.
#pragma once
#include <cstdint>

struct vlBitmap;
struct vlVMState;

enum : int32_t { VL_IMGFMT_BMP = 0, VL_IMGFMT_PNG = 1, VL_IMGFMT_JPEG = 2, VL_IMGFMT_GIF = 3, VL_IMGFMT_ILBM = 4 };

// argb: width x height 0xAARRGGBB words, rows top to bottom. The alpha
// bytes are written only with wantAlpha (formats that can hold them).
int SaveImageToFile(int32_t format, const uint32_t* argb, int32_t width, int32_t height, const char* fileName,
                    int64_t transparentColor, int wantAlpha, int32_t quality, int32_t colors, int32_t dither);
// Reads the picture with its mask (pixels outside it take the
// transparent colour) or alpha plane and saves it.
int SaveBitmapImage(int32_t format, vlBitmap* bitmap, int32_t width, int32_t height, const char* fileName,
                    vlBitmap* mask, int64_t transparentColor, vlBitmap* alpha, int32_t quality, int32_t colors,
                    int32_t dither);
// A table argument's "quality", "colors" and "dither" keys, or an
// optional number taken as the quality (defaults 90, 256, 0).
void ReadSaveOptions(vlVMState* state, int index, int32_t* quality, int32_t* colors, int32_t* dither);
