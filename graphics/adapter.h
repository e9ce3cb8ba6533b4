// The display adapter as the graphics engine sees it: one table of entry
// points that a display-adapter plug-in fills. No table installed means
// the engine does everything itself.
#pragma once
#include <cstdint>

#include "abi/plugin_abi.h"

struct vlPixelAccess;

// The flags of the adapter's flags word the engine reads.
enum : uint32_t {
  VL_ADAPTER_VIDEO_BITMAPS = VL_DISPFLAG_VIDEO_BITMAPS,
  VL_ADAPTER_OWNS_BITMAPS = VL_DISPFLAG_OWNS_BITMAPS,
  VL_ADAPTER_INVERSE_ALPHA = VL_DISPFLAG_INVERSE_ALPHA,
};

// The parameter block of a picture blit over the rectangle, no planes.
inline vlAdapterBlitBlock AdapterBlitRect(int32_t sx, int32_t sy, int32_t dx, int32_t dy, int32_t w, int32_t h) {
  vlAdapterBlitBlock block{};
  block.srcX = sx;
  block.srcY = sy;
  block.dstX = dx;
  block.dstY = dy;
  block.width = w;
  block.height = h;
  return block;
}

struct vlGfxAdapter {
  uint32_t flags;  // VL_ADAPTER_*
  uint32_t accel;  // VL_ACCEL_* the adapter does itself
  int32_t pixelFormat;  // of the bitmaps it owns
  // Bitmaps of an adapter that owns them (flag 32).
  void* (*allocBitMap)(int32_t width, int32_t height, uint32_t flags, const uint32_t* tags);
  void (*freeBitMap)(void* handle);
  int (*lockBitMap)(void* handle, uint32_t flags, vlPixelAccess* access);
  void (*unlockBitMap)(void* handle);
  int32_t (*getBitMapAttr)(void* handle, int32_t code);
  // Planes: kind 1 alpha, 2 mask; tags {1 picture, 2 buffer, 3 row bytes}.
  void* (*allocPlane)(int32_t kind, int32_t width, int32_t height, int clear, const uintptr_t* tags);
  void (*freePlane)(void* handle);
  // Video bitmaps (flag 16); tags as the adapter-bitmap glue builds them.
  void* (*allocVideoBitMap)(int32_t width, int32_t height, uint32_t flags, const vlTagItem* tags);
  void (*freeVideoBitMap)(void* handle);
  // Drawing; mode as the engine computes it.
  void (*bltBitMap)(void* src, void* dst, const vlAdapterBlitBlock* block, uint32_t mode);
  void (*rectFill)(void* handle, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t color, uint32_t mode);
  void (*writePixel)(void* handle, int32_t x, int32_t y, uint32_t color, uint32_t mode);
  void (*line)(void* handle, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t color, uint32_t mode);
  // Alpha-channel blit grant (capability query bit 1) and the blit itself.
  int (*grantsAlphaChannel)();
  void (*alphaChannel)(void* alphaPlane, int32_t sx, int32_t sy, void* dst, int32_t dx, int32_t dy, int32_t w,
                       int32_t h, uint32_t color);
};

// Null when no display adapter is active.
void SetGfxAdapter(const vlGfxAdapter* adapter);
const vlGfxAdapter* GetGfxAdapter();

inline bool AdapterHas(uint32_t flag) {
  const vlGfxAdapter* a = GetGfxAdapter();
  return a && (a->flags & flag);
}
inline bool AdapterAccel(uint32_t bit) {
  const vlGfxAdapter* a = GetGfxAdapter();
  return a && (a->accel & bit);
}
