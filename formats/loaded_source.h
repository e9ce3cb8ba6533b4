// The picture loading pipeline: image-loader plug-ins chosen by the "loader"
// list, then the built-in readers; scaling to a requested size; the alpha
// channel and transparent colour a caller demands; and the reference-counted
// loaded source that brushes, BGPics and layers keep.
#pragma once
#include <cstdint>

#include "abi/plugin_abi.h"

struct vlBitmap;
struct vlPluginInfo;
struct vlLoadedImage;

// The image-loader record and entries (vlPluginImageRecord, vlIsImageFn...)
// are the plug-in interface's.

struct vlLoadedSource {
  vlPluginInfo* loader;     // null for the built-in readers
  void* data;               // the plug-in's handle or the vlLoadedImage
  uint32_t* pixels;         // as loaded
  uint32_t* scaledPixels;   // owned; the picture at the requested size
  uint32_t references;
  uint32_t ownsPixels;
  uint32_t custom;
  uint32_t customCallKind;
  vlGetImageFn customGetImage;
  vlFreeImageFn customFree;
  vlTransformImageFn customTransform;
  int32_t naturalWidth;     // vector pictures
  int32_t naturalHeight;
};

// Optional results of LoadImageWithLoaders; any field may be left unread.
struct vlLoadedImageInfo {
  int32_t transparent;  // -1 none, else 0xRRGGBB
  int32_t width, height;
  int32_t third;
  int32_t alpha;
  int32_t vector;
  vlPluginInfo* loader;
};

// alphaMode: 0 none, 1 alpha required (1170 when missing), 2 alpha when
// present. width/height: 0 the picture's own, negative a percentage.
// 0 or an error (1000, 1045, 1358, 1170, 1574, 1469, ...); nothing stays
// allocated on failure.
int LoadImageWithLoaders(const char* file, const char* loaders, const char* adapters, uint32_t* paletteOverride,
                         int32_t keyColor, uint32_t** paletteOut, int32_t formatFlags, int32_t alphaMode,
                         int wantTransparent, int32_t width, int32_t height, int smooth, vlLoadedSource** sourceOut,
                         vlBitmap** alphaOut, vlLoadedImageInfo* info);

// 1 when some loader recognises the file (plug-ins first, then a probe of the
// built-in readers), else 0.
int IdentifyImageFile(const char* file, const char* loaders, const char* adapters, int32_t* vectorOut,
                      int32_t* widthOut, int32_t* heightOut, int32_t* fourthOut, int32_t* alphaOut);

vlLoadedSource* NewOwnedLoadedSource(int32_t width, int32_t height);
vlLoadedSource* NewCustomLoadedSource(void* data, vlGetImageFn getImage, vlFreeImageFn freeImage,
                                      vlTransformImageFn transform, uint32_t callKind);
void RetainLoadedSource(vlLoadedSource* source);
void ReleaseLoadedSource(vlLoadedSource* source);
uint32_t* GetLoadedSourcePixels(const vlLoadedSource* source);
void GetLoadedSourceSize(const vlLoadedSource* source, int32_t* width, int32_t* height);
int LoadedSourceOwnsPixels(const vlLoadedSource* source);

// Renders a vector picture through its loader at the 2x2 matrix and offsets
// (x, y) into width x height pixels; the pixels and the record's third
// value go out. 0 or 1469.
int TransformLoadedImage(vlLoadedSource* source, const double* matrix, double x, double y, int32_t width,
                         int32_t height, uint32_t** pixelsOut, int32_t* thirdOut);
