// The bitmap routines of the X11 hooks, on the engine's own bitmaps and
// their pixel locks. Depends on graphics/bitmap.h and the X11 hooks.
#include "graphics/x11_bitmap_glue.h"

#include "graphics/adapter_bitmap.h"
#include "graphics/bitmap.h"
#include "platform/x11/x11_hooks.h"

namespace {

vlBitmap* AllocForX11(int32_t width, int32_t height) {
  return NewBitmap(width, height, 0, nullptr);
}

int LockForX11(vlBitmap* bitmap, vlX11PixelView* view, int write) {
  vlPixelAccess access;
  if (!LockPixels(bitmap, write ? 0u : uint32_t{VL_LOCK_READ}, &access)) return 0;
  *view = vlX11PixelView{access.pixels,        1,           access.format, access.bytesPerPixel,
                         access.rowLength,     access.width, access.height};
  return 1;
}

// A picture's lock keeps nothing in the access record but the locked flag.
void UnlockForX11(vlBitmap* bitmap) {
  vlPixelAccess access;
  access.locked = 1;
  UnlockPixels(bitmap, &access);
}

}  // namespace

void InstallX11BitmapHooks() {
  gX11Hooks.allocBitmap = AllocForX11;
  gX11Hooks.freeBitmap = DeleteBitmap;
  gX11Hooks.lockPixels = LockForX11;
  gX11Hooks.unlockPixels = UnlockForX11;
  gX11Hooks.adapterBitmapCaps = GetAdapterBitmapCaps;
}
