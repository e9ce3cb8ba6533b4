// Built-in picture loading: recognises a file by its first bytes and hands
// it to the ILBM, JPEG, PNG, BMP or GIF reader, or to the platform's own
// loader; also measures pictures quickly without decoding them.
#pragma once
#include <cstdint>

struct vlStream;

enum : uint32_t {
  VL_PICTURE_ILBM = 1,
  VL_PICTURE_JPEG = 2,
  VL_PICTURE_PNG = 3,
  VL_PICTURE_BMP = 4,
  VL_PICTURE_GIF = 5,
  VL_PICTURE_NATIVE = 6,
};

// A loaded picture; owned by the caller until FreeLoadedImage.
struct vlLoadedImage {
  uint32_t kind;
  uint32_t* pixels;    // width x height words, 0x00RRGGBB (alpha on top for
                       // PNG with alpha and drawn GIF pixels); null for kind 6
  void* nativeHandle;  // kind 6 only
};

// Loads (or, with result null, only probes) a picture. loaders: the
// "loader" list ("inbuilt" and "native" are tested); adapters: the
// "adapter" list. paletteOverride, keyColor and transparencyMode go to the
// ILBM and GIF readers. Outputs other than width and height may be null.
// *transparentOut: -1, an 0xRRGGBB key colour, or -2 when a GIF's
// transparent colour became alpha (a probe answers 1 for "has one").
// 0, 1000, 1045 or 1358 (the file name in the error argument).
int LoadImageFile(const char* fileName, const char* loaders, const char* adapters, uint32_t* paletteOverride,
                  int32_t keyColor, int32_t transparencyMode, vlLoadedImage** result, uint32_t** paletteOut,
                  int32_t* transparentOut, int32_t* widthOut, int32_t* heightOut, int32_t* alphaOut,
                  int32_t* nativeOut);
uint32_t* GetLoadedImagePixels(vlLoadedImage* image);
void FreeLoadedImage(vlLoadedImage* image);

// Measures a picture from the stream's start (ILBM, JPEG, PNG, BMP, TIFF,
// GIF) without decoding it; 0 when recognised, else 1358.
int IdentifyImageFormat(vlStream* stream, int32_t* widthOut, int32_t* heightOut, int32_t* alphaOut,
                        int32_t* transparencyFlag);
