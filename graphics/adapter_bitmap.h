// Pictures held by a display-adapter plug-in (video bitmaps): what the
// adapter offers, making adapter bitmaps from ARGB pixels or pictures, and
// reading their pixels back into ordinary bitmaps. Also the engine's view
// of the installed adapter's bitmap entries (vlGfxAdapter).
#pragma once
#include <cstdint>

#include "abi/plugin_abi.h"

struct vlBitmap;
struct vlPluginInfo;

// The records, tags and flags of the adapter's bitmap entries
// (vlVideoPixels, VL_VBM_*, VL_ABM_*) are the plug-in interface's.

// GetAdapterBitmapCaps request bits.
enum : uint32_t {
  VL_ADAPTERCAP_FALLBACK = 4,     // a refused video bitmap may be made in software
  VL_ADAPTERCAP_SCALE = 4,        // scales its pictures itself
  VL_ADAPTERCAP_HWBRUSHES = 8,    // hardware brushes and back buffers
  VL_ADAPTERCAP_DISPLAYS = 32,    // plug-ins reach displays; the adapter keeps brushes
  VL_ADAPTERCAP_DOUBLEBUFFER = 64,
  VL_ADAPTERCAP_128 = 128,
  VL_ADAPTERCAP_DRAWBRUSH = 64,   // draws into a hardware brush's picture
  VL_ADAPTERCAP_DRAWPLANES = 128, // draws into a hardware brush's mask or alpha channel
  VL_ADAPTERCAP_TRANSFORM = 16,   // rotates, scales and shears its pictures itself
};

// What a picture for AllocAdapterBitmap is made from: an ARGB buffer, or a
// picture with its planes; the three words and the matrix go to the
// adapter as they are when given.
struct vlAdapterSource {
  const uint32_t* argb;
  vlBitmap* bitmap;
  vlBitmap* mask;
  vlBitmap* alpha;
  uint32_t hasWords;
  uintptr_t words[3];
  const double* matrix;  // 2x2, or null
  void* displayHandle;   // null when the picture belongs to no display
};

// The subset of the request bits the installed adapter offers; 0 without.
uint32_t GetAdapterBitmapCaps(uint32_t request);
// The same for the player's pictures: none unless the adapter makes
// pictures at all (its word 16 has 16).
uint32_t QueryAdapterCaps(uint32_t features);
// The adapter's bitmap handle, or null.
void* AllocAdapterBitmap(int32_t width, int32_t height, uint32_t flags, int* alphaUsed, const vlAdapterSource* src);
// A video bitmap the adapter makes from the source record (flags 8, or 9
// when the ARGB alpha bytes count), wrapped as an engine picture; null when
// there is no adapter or it refuses.
vlBitmap* NewAdapterBitmap(int32_t width, int32_t height, uint32_t flags, const vlAdapterSource* src);
// sourceKind 0: pixels are rows of rowLength 0x??RRGGBB words made opaque,
// keyed by colorKey (-1 none) or given alpha by *alpha (released then).
// 0 with *out a video bitmap; 0 with *out null and *adapterHeld 1 when the
// adapter keeps the picture itself; 1000 or 1522.
int ConvertToAdapterBitmap(const uint32_t* pixels, int64_t colorKey, int32_t width, int32_t height,
                           int32_t rowLength, int32_t sourceKind, void* displayHandle, vlBitmap** out,
                           vlBitmap** alpha, int* adapterHeld);
// The adapter picture's pixels into target; *alphaOut a new alpha plane
// when the adapter reports alpha, else null. 0, 1055, 1152, 1524 or 1564.
int ReadAdapterBitmap(vlBitmap* adapterBitmap, vlBitmap* target, int32_t width, int32_t height,
                      vlBitmap** alphaOut);
// The adapter picture's pixels as the adapter hands them out, described by
// *record; null when it gives none. They go back through FreeAdapterPixels.
void* ReadAdapterPixels(vlBitmap* adapterBitmap, vlVideoPixels* record);
void FreeAdapterPixels(void* pixels);
// Before the first drawing into a video bitmap's mask or alpha channel
// (plane VL_PLANE_MASK or VL_PLANE_ALPHA): the adapter prepares it, once;
// its alpha bytes count from then on.
void IsAdapterBitmapReady(vlBitmap* bitmap, uint32_t plane);

// Points the engine's adapter table at the plug-in's bitmap entries (null:
// none). Called when a display adapter is installed or dropped.
void BindAdapterBitmapEntries(vlPluginInfo* adapter);
