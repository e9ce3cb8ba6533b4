// Plug-in-facing forms of the display services.
#include "display/display_services.h"

#include "display/clients.h"
#include "display/display.h"
#include "display/icons.h"
#include "graphics/bitmap.h"
#include "graphics/pixel_access.h"
#include "platform/x11/x11_window.h"
#include "runtime/tag_list.h"
#include "vm/error_codes.h"
#include "platform/display_device.h"

namespace {

// 8: a client of the display numbered number (or with that handle).
void* AddClientSvc(int32_t number, void* handle, vlObserverFn callback, void* userData, vlTagItem* tags,
                   uint32_t callKind) {
  return AddDisplayClient({number, handle}, callback, userData, tags, callKind);
}
void RemoveClientSvc(void* client) { RemoveDisplayClient(static_cast<vlDisplayClient*>(client)); }
int RefreshClientSvc(void* client) { return RefreshForClient(nullptr, static_cast<vlDisplayClient*>(client)); }
int SizeClientSvc(void* client, int32_t width, int32_t height) {
  return ResizeForClient(nullptr, static_cast<vlDisplayClient*>(client), width, height);
}
int SetDisplayAdapterSvc(vlPluginInfo* info, uintptr_t userData, const vlTagItem* tags) {
  return InstallDisplayAdapter(info, userData, tags);
}
void* IconListSvc() { return GetWindowIconList(); }
void FreeIconListSvc(void* list) { FreeIconList(static_cast<vlIconNode*>(list)); }
int DisplayAttrsSvc(const void* window, const vlTagItem* tags) { return GetDisplayInfo(window, tags); }
int RedrawByHandleSvc(const void* window) { return RefreshDisplayByWindow(nullptr, window); }
// 20: with a handle the display's id (its handle for an automatic id,
// which has no number); else the window of display number (0 when there is
// none).
uintptr_t DisplayHandleSvc(int32_t number, const void* window) {
  if (window) {
    vlDisplay* d = GetDisplayByWindow(window);
    if (!d) return 0;
    return d->idHandle ? reinterpret_cast<uintptr_t>(d->idHandle) : static_cast<uintptr_t>(d->idNumber);
  }
  vlDisplay* d = GetDisplayByNumber(number);
  if (!d) return 0;
  return DisplayDevice(d)->windowHandle(d);
}
// 16: locks a picture or plane for direct access and fills six words:
// pixels, row bytes, pixel format, bytes per pixel, width, height. Tag 1
// asks for a read-only lock. 1 on success, 0 when it cannot be locked.
int LockBitmapPixelsSvc(vlBitmap* bitmap, uintptr_t* words, const vlTagItem* tags) {
  if (!words) return 0;
  for (int i = 0; i < 6; ++i) words[i] = 0;
  vlPixelAccess acc;
  const uint32_t flags = tags && GetTagValue(tags, 1, 0) ? uint32_t{VL_LOCK_READ} : 0u;
  if (!LockPixels(bitmap, flags, &acc)) return 0;
  words[0] = reinterpret_cast<uintptr_t>(acc.pixels);
  words[1] = static_cast<uintptr_t>(acc.rowLength) * static_cast<uintptr_t>(acc.bytesPerPixel);
  words[2] = static_cast<uintptr_t>(acc.format);
  words[3] = static_cast<uintptr_t>(acc.bytesPerPixel);
  words[4] = static_cast<uintptr_t>(acc.width);
  words[5] = static_cast<uintptr_t>(acc.height);
  return 1;
}
// 17: ends a lock of slot 16. Planes need no unlock.
void UnlockBitmapPixelsSvc(vlBitmap* bitmap) {
  if (!bitmap) return;
  vlPixelAccess acc;
  acc.locked = 1;
  acc.direct = bitmap->kind != VL_BITMAP_PICTURE;
  UnlockPixels(bitmap, &acc);
}
// 25: a rectangle of a picture (tags 3 width, 4 height; the picture's size
// by default) as a new ARGB array, released through slot 7.
uint32_t* ReadBitmapARGBSvc(vlBitmap* bitmap, int32_t x, int32_t y, const vlTagItem* tags) {
  if (!bitmap || bitmap->kind != VL_BITMAP_PICTURE) return nullptr;
  const auto w = static_cast<int32_t>(GetTagValue(tags, 3, static_cast<uintptr_t>(bitmap->width)));
  const auto h = static_cast<int32_t>(GetTagValue(tags, 4, static_cast<uintptr_t>(bitmap->height)));
  if (w < 1 || h < 1 || x < 0 || y < 0 || x > bitmap->width - w || y > bitmap->height - h) return nullptr;
  return ReadBitmapARGB(bitmap, x, y, w, h, 0);
}
void FreeARGBSvc(uint32_t* argb) { delete[] argb; }

template <class F>
vlServiceFn Slot(F f) {
  return vlAsSlot(f);
}

}  // namespace

void FillDisplayServiceSlots(vlServiceFn* g) {
  g[7] = Slot(FreeARGBSvc);
  g[8] = Slot(AddClientSvc);
  g[9] = Slot(RemoveClientSvc);
  g[10] = Slot(RefreshClientSvc);
  g[11] = Slot(SizeClientSvc);
  g[13] = Slot(SetDisplayAdapterSvc);
  g[14] = Slot(IconListSvc);
  g[15] = Slot(FreeIconListSvc);
  g[16] = Slot(LockBitmapPixelsSvc);
  g[17] = Slot(UnlockBitmapPixelsSvc);
  g[18] = Slot(DisplayAttrsSvc);
  g[19] = Slot(RedrawByHandleSvc);
  g[20] = Slot(DisplayHandleSvc);
  g[25] = Slot(ReadBitmapARGBSvc);
}
