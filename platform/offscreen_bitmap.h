// Offscreen bitmaps: plain memory in the display's pixel format with rows
// of a multiple of 4 pixels, so an X image can be laid straight over them.
#pragma once
#include <cstdint>

struct vlX11ShmSegment;

// AllocOffscreenBitmap flag: a window's back buffer, kept in memory the X
// server maps too (when it can) so the window is sent from it without a
// copy. Pictures of 1 MB and more are kept there too.
constexpr uint32_t VL_OFFSCREEN_SHARED = 0x10000;

struct vlOffscreenBitmap {
  uint32_t flags = 0;
  int32_t width = 0;          // as asked
  int32_t height = 0;
  uint8_t* pixels = nullptr;  // not cleared
  int32_t bytesPerRow = 0;
  int32_t bytesPerPixel = 0;
  int32_t pixelFormat = 0;
  vlX11ShmSegment* shared = nullptr;  // holds the pixels, or null (malloc)
};

// Filled by LockOffscreenBitmap.
struct vlOffscreenAccess {
  uint8_t* pixels = nullptr;
  int32_t ok = 0;
  int32_t pixelFormat = 0;
  int32_t bytesPerPixel = 0;
  int32_t rowLength = 0;  // bytes per row / bytes per pixel
  int32_t width = 0;
  int32_t height = 0;
};

// The pixel format of the X visual; -1 while no display has set it.
void SetGlobalPixelFormat(int32_t format);
int32_t GetGlobalPixelFormat();

// Null when a size is not positive or memory runs out.
vlOffscreenBitmap* AllocOffscreenBitmap(int32_t width, int32_t height, uint32_t flags);
void FreeOffscreenBitmap(vlOffscreenBitmap* bitmap);
// 1, or 0 for a null bitmap. A lock for writing first waits until the X
// server has read what was last sent from a shared bitmap.
int LockOffscreenBitmap(vlOffscreenBitmap* bitmap, vlOffscreenAccess* access, int write = 1);
void UnlockOffscreenBitmap(vlOffscreenBitmap* bitmap);
// Bits per pixel of the global pixel format; 32 while it is unset.
int32_t GetDisplayBitDepth();
// The platform's answer to an attribute code, for a display's window or an
// offscreen bitmap (by its header); codes nothing answers give 0.
intptr_t GetWindowAttr(void* handle, int code);
