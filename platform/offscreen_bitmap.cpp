// Offscreen bitmaps in plain memory, laid out for XPutImage.
// Depends on the pixel format tables of graphics/pixel_format.h (inline).
#include "platform/offscreen_bitmap.h"

#include <cstdlib>
#include <new>

#include "platform/pixel_layout.h"
#include "platform/x11/x11_connection.h"
#include "platform/x11/x11_shm.h"

namespace {
int32_t gPixelFormat = -1;
constexpr int64_t kSharedFromBytes = 1 << 20;
}

void SetGlobalPixelFormat(int32_t format) { gPixelFormat = format; }
int32_t GetGlobalPixelFormat() { return gPixelFormat; }

vlOffscreenBitmap* AllocOffscreenBitmap(int32_t width, int32_t height, uint32_t flags) {
  if (width <= 0 || height <= 0) return nullptr;
  const int32_t format = gPixelFormat < 0 ? VL_PIXFMT_ARGB32 : gPixelFormat;
  const int32_t bpp = BytesPerPixelOfFormat(format);
  if (bpp == 0) return nullptr;
  const int64_t rowLength = (static_cast<int64_t>(width) + 3) & ~int64_t{3};
  const int64_t rowBytes = rowLength * bpp;
  if (rowBytes > INT32_MAX) return nullptr;
  const int64_t total = rowBytes * height;  // below 2^62
  if (total > (int64_t{1} << 40)) return nullptr;
  auto* bm = new (std::nothrow) vlOffscreenBitmap;
  if (!bm) return nullptr;
  // Window buffers, and pictures large enough to be shown whole (the server
  // then reads them where they are), live in shared memory when it can be.
  const bool shared = (flags & VL_OFFSCREEN_SHARED) || total >= kSharedFromBytes;
  if (shared && ShmUsable(FirstX11Connection())) {
    bm->shared = CreateShmSegment(static_cast<size_t>(total));
    if (bm->shared) bm->pixels = bm->shared->address;
  }
  if (!bm->pixels) bm->pixels = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(total)));
  if (!bm->pixels) {
    delete bm;
    return nullptr;
  }
  bm->width = width;
  bm->height = height;
  bm->bytesPerRow = static_cast<int32_t>(rowBytes);
  bm->bytesPerPixel = bpp;
  bm->pixelFormat = format;
  return bm;
}

void FreeOffscreenBitmap(vlOffscreenBitmap* bitmap) {
  if (!bitmap) return;
  if (bitmap->shared)
    DestroyShmSegment(bitmap->shared);
  else
    std::free(bitmap->pixels);
  delete bitmap;
}

int LockOffscreenBitmap(vlOffscreenBitmap* bitmap, vlOffscreenAccess* access, int write) {
  if (!bitmap || !access) return 0;
  if (write && bitmap->shared) WaitShmIdle(bitmap->shared);
  access->pixels = bitmap->pixels;
  access->ok = 1;
  access->pixelFormat = bitmap->pixelFormat;
  access->bytesPerPixel = bitmap->bytesPerPixel;
  access->rowLength = bitmap->bytesPerRow / bitmap->bytesPerPixel;
  access->width = bitmap->width;
  access->height = bitmap->height;
  return 1;
}

void UnlockOffscreenBitmap(vlOffscreenBitmap*) {}

int32_t GetDisplayBitDepth() {
  return gPixelFormat < 0 ? 32 : BitsPerPixelOfFormat(gPixelFormat);
}
