// Anim sources: one open anim file from which single frames are decoded on
// request, whatever reads it: the IFF ANIM, GIF and AVI readers, the
// platform decoder slot (none on this platform) or an anim-loader plug-in.
#pragma once
#include <cstddef>
#include <cstdint>

#include "abi/plugin_abi.h"

struct vlPluginInfo;

enum : uint32_t {
  VL_ANIMSOURCE_IFF = 1,
  VL_ANIMSOURCE_GIF = 2,
  VL_ANIMSOURCE_AVI = 3,
  VL_ANIMSOURCE_NATIVE = 4,
  VL_ANIMSOURCE_PLUGIN = 5,
};

struct vlAnimSource {
  void* handle;          // the reader's record or the plug-in's anim handle
  uint32_t kind;
  uint32_t flag;         // bit 0 of a plug-in frame load's flags word
  vlPluginInfo* plugin;  // kind 5 only
};

// loaderRef: 0 built-in readers, 1 the platform decoder, else the plug-in's
// information record. 0, 1000, 1009, 1045, 1356 or 1529 (the file name in
// the error argument where it names the file).
int OpenAnimSource(const char* file, const char* loaders, const char* adapter, int32_t deinterlace,
                   int32_t loadTransparency, vlAnimSource** source, int32_t* width, int32_t* height,
                   int32_t* frameCount, int32_t* hasAlpha, uintptr_t* loaderRef);
// The loader list that names the loader behind a loaderRef, so that the
// file opens again through the same loader (a plug-in that joins only on
// request included).
void AnimLoaderName(uintptr_t loaderRef, char* out, size_t size);
// A width x height ARGB buffer or null; release with FreeAnimSourceFrame.
uint32_t* LoadAnimSourceFrame(vlAnimSource* source, int32_t index, int32_t loadAlpha, int32_t* hasTransparency);
void FreeAnimSourceFrame(vlAnimSource* source, uint32_t* pixels);
int32_t GetAnimSourceFrameDelay(vlAnimSource* source, int32_t index);
void CloseAnimSource(vlAnimSource* source);
int IsIFFAnimSource(const vlAnimSource* source);
// 1 when the file opens as an anim source and is not a single-frame GIF.
int IsAnimFile(const char* file, const char* loaders, const char* adapter);
