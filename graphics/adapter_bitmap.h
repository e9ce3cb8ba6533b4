// Pictures held by a display-adapter plug-in (video bitmaps): what the
// adapter offers, making adapter bitmaps from ARGB pixels or pictures, and
// reading their pixels back into ordinary bitmaps. Also the engine's view
// of the installed adapter's bitmap entries (vlGfxAdapter).
#pragma once
#include <cstdint>

struct vlBitmap;
struct vlPluginInfo;

// The record an adapter's ReadVideoPixels (handle, record) fills; it
// returns the pixels (null on failure), later handed to FreeVideoPixels.
struct vlVideoPixels {
  void* pixels;
  int32_t rowBytes;
  int32_t format;  // pixel format code
  int32_t hasAlpha;
};

// Video-bitmap tags handed to AllocVideoBitMap (width, height, flags, tags).
enum : uint32_t {
  VL_VBM_SOURCE = 1,  // ARGB buffer, or the handle of a picture the adapter holds
  VL_VBM_WORD1 = 2,
  VL_VBM_WORD2 = 3,
  VL_VBM_WORD3 = 4,
  VL_VBM_MATRIX = 5,  // four doubles
  VL_VBM_DISPLAY = 6,
};
// AllocVideoBitMap flags: 1 the ARGB alpha bytes count, 2 the source is an
// adapter picture, 8 a video bitmap.
enum : uint32_t { VL_VBM_ALPHA = 1, VL_VBM_ADAPTERSOURCE = 2, VL_VBM_VIDEO = 8 };

// An adapter that owns every bitmap (flag 32 of its flags word) is asked
// for pictures and planes alike through AllocBitMap (width, height, flags,
// tags), and frees, locks and answers for them through FreeBitMap,
// LockBitMap, UnLockBitMap and GetBitMapAttr. A plane request carries one
// of the plane flags below, VL_ABM_CLEAR when its bytes must start at 0,
// and the tags {1 the picture a mask is made for, 2 a buffer the plane
// borrows, 3 that buffer's row bytes}. LockBitMap fills pixels, width,
// height and the row length (pixels for a picture, bytes for a plane); the
// pictures hold ARGB words (format 10). GetBitMapAttr answers code 13 with
// a picture's row bytes and codes 1 and 2 with a plane's.
enum : uint32_t { VL_ABM_ALPHAPLANE = 0x10000, VL_ABM_MASKPLANE = 0x20000, VL_ABM_CLEAR = 0x40000 };

// GetAdapterBitmapCaps request bits.
enum : uint32_t {
  VL_ADAPTERCAP_FALLBACK = 4,     // a refused video bitmap may be made in software
  VL_ADAPTERCAP_SCALE = 4,        // scales its pictures itself
  VL_ADAPTERCAP_HWBRUSHES = 8,    // hardware brushes and back buffers
  VL_ADAPTERCAP_DISPLAYS = 32,    // plug-ins reach displays; the adapter keeps brushes
  VL_ADAPTERCAP_DOUBLEBUFFER = 64,
  VL_ADAPTERCAP_128 = 128,
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
void FreeAdapterPixels(void* pixels);

// Points the engine's adapter table at the plug-in's bitmap entries (null:
// none). Called when a display adapter is installed or dropped.
void BindAdapterBitmapEntries(vlPluginInfo* adapter);
