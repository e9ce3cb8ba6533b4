// Pieces shared by the test display-adapter plug-ins: a player picture's
// rectangle read through the service table, the pixel source of a video
// bitmap and an ARGB bitmap's lock record.
#pragma once
#include <cstdint>

#include "abi/plugin_abi.h"
#include "runtime/tag_list.h"

// The window entries neither test adapter acts on: no pointer of its own.
#define VL_TESTADAPTER_POINTER_ENTRIES                                                                        \
  extern "C" __attribute__((visibility("default"))) int ActivateDisplay(void*, int) { return 0; }              \
  extern "C" __attribute__((visibility("default"))) int SetDisplayAttributes(void*, const vlTagItem*) {        \
    return 0;                                                                                                 \
  }                                                                                                           \
  extern "C" __attribute__((visibility("default"))) void* CreatePointer(const uint32_t*, int32_t, int32_t,     \
                                                                        int32_t, int32_t, uint32_t) {          \
    return nullptr;                                                                                           \
  }                                                                                                           \
  extern "C" __attribute__((visibility("default"))) void FreePointer(void*) {}                                 \
  extern "C" __attribute__((visibility("default"))) int SetPointer(void*, int, void*) { return 0; }            \
  extern "C" __attribute__((visibility("default"))) int ShowHidePointer(void*, int) { return 0; }              \
  extern "C" __attribute__((visibility("default"))) int MovePointer(void*, int32_t, int32_t) { return 0; }     \
  extern "C" __attribute__((visibility("default"))) int GetMousePos(void*, int32_t* x, int32_t* y) {          \
    *x = *y = 0;                                                                                              \
    return 0;                                                                                                 \
  }                                                                                                           \
  extern "C" __attribute__((visibility("default"))) uint32_t GetQualifiers(void*) { return 0; }

namespace vltestadapter {

// BltBitMap's rectangle (tags 1-6) of the player picture: put(x, y, rgb)
// for every target pixel inside width x height. The target rectangle.
template <typename Put>
void CopyPictureRect(const vlServiceTable* svc, void* source, const vlTagItem* tags, int32_t width, int32_t height,
                     int32_t* rect, Put put) {
  auto tag = [&](uint32_t t) { return static_cast<int32_t>(GetTagValue(tags, t, 0)); };
  const int32_t sx = tag(1), sy = tag(2), x = tag(3), y = tag(4), w = tag(5), h = tag(6);
  rect[0] = x, rect[1] = y, rect[2] = w, rect[3] = h;
  using ReadARGB = uint32_t* (*)(void*, int32_t, int32_t, const vlTagItem*);
  using FreeARGB = void (*)(uint32_t*);
  const vlTagItem size[] = {{3, static_cast<uintptr_t>(w)}, {4, static_cast<uintptr_t>(h)}, {0, 0}};
  uint32_t* argb = vlSlotAs<ReadARGB>(svc->graphics->slot[25])(source, sx, sy, size);
  if (!argb) return;
  for (int32_t j = 0; j < h; ++j)
    for (int32_t i = 0; i < w; ++i)
      if (x + i >= 0 && y + j >= 0 && x + i < width && y + j < height) put(x + i, y + j, argb[j * w + i] & 0xFFFFFF);
  vlSlotAs<FreeARGB>(svc->graphics->slot[7])(argb);
}

// Tag 1 of AllocVideoBitMap: an ARGB buffer, or with flag 2 another video
// bitmap of the adapter (a Bitmap with ARGB pixels).
template <typename Bitmap>
const uint32_t* VideoSourcePixels(uint32_t flags, const vlTagItem* tags) {
  const uintptr_t source = GetTagValue(tags, 1, 0);
  if (!source) return nullptr;
  return (flags & 2) ? reinterpret_cast<const Bitmap*>(source)->pixels : reinterpret_cast<const uint32_t*>(source);
}

inline int LockARGB(uint32_t* pixels, int32_t width, int32_t height, vlAdapterLock* access) {
  access->pixels = reinterpret_cast<uint8_t*>(pixels);
  access->rowLength = width;
  access->width = width;
  access->height = height;
  return 1;
}

}  // namespace vltestadapter
