// Adapter bitmaps: pictures that live in the display-adapter plug-in's own
// memory. The engine asks what the adapter offers, hands it ARGB pixels to
// make pictures from, and reads their pixels back through its entries.
#include "graphics/adapter_bitmap.h"

#include <cstddef>
#include <memory>
#include <new>

#include "graphics/adapter.h"
#include "graphics/bitmap.h"
#include "graphics/pixel_format.h"
#include "graphics/pixel_kernels.h"
#include "graphics/presentation.h"
#include "platform/display_adapter.h"
#include "abi/plugin_abi.h"
#include "runtime/tag_list.h"
#include "vm/error_codes.h"

namespace {

// The adapter when its calls reach it: one called through the frame hook
// gets nothing on this platform.
vlPluginInfo* Adapter() {
  vlPluginInfo* a = vlDisplayAdapter;
  return a && a->callKind != 2 ? a : nullptr;
}

// Video-bitmap requests of the engine go to the plug-in's entries.
void* AllocVideo(int32_t w, int32_t h, uint32_t flags, const vlTagItem* tags) {
  vlPluginInfo* a = Adapter();
  const vlTagItem none[] = {{VL_TAG_END, 0}};
  return a && a->AllocVideoBitMap ? a->AllocVideoBitMap(w, h, flags, tags ? tags : none)
                                  : nullptr;
}
void FreeVideo(void* handle) {
  if (vlPluginInfo* a = Adapter(); a && a->FreeVideoBitMap) a->FreeVideoBitMap(handle);
}
int LockVideo(void* handle, uint32_t flags, vlPixelAccess* access) {
  vlPluginInfo* a = Adapter();
  return a && a->LockBitMap ? a->LockBitMap(handle, flags, reinterpret_cast<vlAdapterLock*>(access)) : 0;
}
void UnlockVideo(void* handle) {
  if (vlPluginInfo* a = Adapter(); a && a->UnLockBitMap) a->UnLockBitMap(handle);
}

// Every picture and plane of an adapter that owns them.
void* AllocOwned(int32_t w, int32_t h, uint32_t flags, const vlTagItem* tags) {
  vlPluginInfo* a = Adapter();
  const vlTagItem none[] = {{VL_TAG_END, 0}};
  return a && a->AllocBitMap ? a->AllocBitMap(w, h, flags, tags ? tags : none)
                             : nullptr;
}
void* AllocPicture(int32_t w, int32_t h, uint32_t flags, const uint32_t*) {
  // Only the engine's own flags below the plane bits go on.
  return AllocOwned(w, h, flags & 0xFFFF, nullptr);
}
void* AllocPlane(int32_t kind, int32_t w, int32_t h, int clear, const uintptr_t* tags) {
  vlTagItem items[4];
  int n = 0;
  for (const uintptr_t* t = tags; t && t[0] && n < 3; t += 2) items[n++] = {static_cast<uint32_t>(t[0]), t[1]};
  items[n] = {VL_TAG_END, 0};
  const uint32_t flags = (kind == 1 ? uint32_t{VL_ABM_ALPHAPLANE} : uint32_t{VL_ABM_MASKPLANE}) |
                         (clear ? uint32_t{VL_ABM_CLEAR} : 0u);
  return AllocOwned(w, h, flags, items);
}
void FreeOwned(void* handle) {
  if (vlPluginInfo* a = Adapter(); a && a->FreeBitMap && handle) a->FreeBitMap(handle);
}
int32_t OwnedAttr(void* handle, int32_t code) {
  vlPluginInfo* a = Adapter();
  return a && a->GetBitMapAttr ? a->GetBitMapAttr(handle, code) : 0;
}

// The adapter's lock record is the engine's.
static_assert(sizeof(vlAdapterLock) == sizeof(vlPixelAccess) &&
                  offsetof(vlAdapterLock, rowLength) == offsetof(vlPixelAccess, rowLength) &&
                  offsetof(vlAdapterLock, direct) == offsetof(vlPixelAccess, direct),
              "the adapter's lock record differs from the engine's");

vlGfxAdapter gBound;

// Drawing into pictures: the picture forms of the drawing entries.
void PictureBlit(void* src, void* dst, const vlAdapterBlitBlock* block, uint32_t mode) {
  if (vlPluginInfo* a = Adapter(); a && a->BltBitMap) a->BltBitMap(src, dst, block, mode);
}
void PictureFill(void* handle, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t color, uint32_t mode) {
  if (vlPluginInfo* a = Adapter(); a && a->RectFill)
    a->RectFill(handle, x, y, w, h, color, mode, 0);
}
void PicturePixel(void* handle, int32_t x, int32_t y, uint32_t color, uint32_t mode) {
  if (vlPluginInfo* a = Adapter(); a && a->WritePixel)
    a->WritePixel(handle, x, y, color, mode, 0);
}
void PictureLine(void* handle, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t color, uint32_t mode) {
  if (vlPluginInfo* a = Adapter(); a && a->Line)
    a->Line(handle, x1, y1, x2, y2, color, mode, 0);
}
// A colour laid through an alpha plane: the picture form of the blit
// without a source, the colour in the block's first reserved word.
void PictureAlphaChannel(void* plane, int32_t sx, int32_t sy, void* dst, int32_t dx, int32_t dy, int32_t w, int32_t h,
                         uint32_t color) {
  vlAdapterBlitBlock block = AdapterBlitRect(sx, sy, dx, dy, w, h);
  block.reserved[0] = color & 0xFFFFFF;
  block.alphaHandle = plane;
  PictureBlit(nullptr, dst, &block, VL_BLITMODE_ACCEL | VL_BLITMODE_COLOR);
}
int GrantsAlphaChannel() { return (gBound.accel & VL_ACCEL_ALPHA_BLIT) != 0; }

// A tag list of at most eight items.
struct Tags {
  vlTagItem items[8];
  int n = 0;
  void Add(uint32_t tag, uintptr_t value) { items[n++] = {tag, value}; }
  const vlTagItem* End() {
    items[n] = {VL_TAG_END, 0};
    return items;
  }
};

}  // namespace

uint32_t GetAdapterBitmapCaps(uint32_t request) {
  const vlPluginInfo* a = vlDisplayAdapter;
  if (!a) return 0;
  const uint32_t w16 = a->displayCaps, w24 = a->displayCaps2;
  uint32_t offered = 0;
  if (w16 & 1) offered |= 4;
  if (w16 & 2) offered |= 16;
  if (w16 & 4) offered |= 64;
  if (w16 & 8) offered |= 128;
  if (w24 & 16) offered |= 8;
  if (w24 & 2) offered |= 32;
  if (w24 & VL_DISPCAPS2_MIXES) offered |= 2;
  return request & 0xFF & offered;
}

uint32_t QueryAdapterCaps(uint32_t features) {
  const vlPluginInfo* a = vlDisplayAdapter;
  if (!a || !(a->displayCaps & 0x10)) return 0;
  return GetAdapterBitmapCaps(features);
}

namespace {

// The tag list of a picture request from its source record; temp keeps an
// ARGB read-out alive until the request is made. False when the read-out
// fails.
bool SourceTags(const vlAdapterSource* src, uint32_t* flags, int* alphaUsed, int32_t width, int32_t height,
                Tags* tags, std::unique_ptr<uint32_t[]>* temp) {
  if (src->displayHandle) tags->Add(VL_VBM_DISPLAY, reinterpret_cast<uintptr_t>(src->displayHandle));
  if (src->bitmap && src->bitmap->driverOwned) {
    // The adapter reads its own picture past the lock.
    SettleForAdapter(src->bitmap, nullptr);
    *flags |= VL_VBM_ADAPTERSOURCE;
    tags->Add(VL_VBM_SOURCE, reinterpret_cast<uintptr_t>(src->bitmap->handle));
  } else if (src->argb) {
    tags->Add(VL_VBM_SOURCE, reinterpret_cast<uintptr_t>(src->argb));
  } else if (src->bitmap) {
    // A mask becomes alpha 255/0, an alpha plane its own bytes; without
    // either every pixel is opaque.
    temp->reset(ReadBitmapARGBMasked(src->bitmap, 0, 0, width, height, src->mask, src->alpha, -1, 1, 0));
    if (!*temp) return false;
    if (src->mask || src->alpha) {
      *flags |= VL_VBM_ALPHA;
      if (alphaUsed) *alphaUsed = 1;
    }
    tags->Add(VL_VBM_SOURCE, reinterpret_cast<uintptr_t>(temp->get()));
  }
  if (src->hasWords) {
    tags->Add(VL_VBM_WORD1, src->words[0]);
    tags->Add(VL_VBM_WORD2, src->words[1]);
    if (src->matrix) tags->Add(VL_VBM_MATRIX, reinterpret_cast<uintptr_t>(src->matrix));
    tags->Add(VL_VBM_WORD3, src->words[2]);
  } else if (src->matrix) {
    tags->Add(VL_VBM_MATRIX, reinterpret_cast<uintptr_t>(src->matrix));
  }
  return true;
}

}  // namespace

void* AllocAdapterBitmap(int32_t width, int32_t height, uint32_t flags, int* alphaUsed, const vlAdapterSource* src) {
  vlPluginInfo* a = Adapter();
  if (!a || !a->AllocVideoBitMap || !src) return nullptr;
  Tags tags;
  std::unique_ptr<uint32_t[]> temp;
  if (!SourceTags(src, &flags, alphaUsed, width, height, &tags, &temp)) return nullptr;
  return a->AllocVideoBitMap(width, height, flags, tags.End());
}

vlBitmap* NewAdapterBitmap(int32_t width, int32_t height, uint32_t flags, const vlAdapterSource* src) {
  if (!Adapter() || !src) return nullptr;
  Tags tags;
  std::unique_ptr<uint32_t[]> temp;
  if (!SourceTags(src, &flags, nullptr, width, height, &tags, &temp)) return nullptr;
  vlBitmap* made = NewVideoBitmap(width, height, flags, tags.End());
  // Made from one of its pictures, it counts alpha where that one did.
  if (made && (flags & VL_VBM_ADAPTERSOURCE) && src->bitmap && src->bitmap->alphaBytes) made->alphaBytes = 1;
  return made;
}

int ConvertToAdapterBitmap(const uint32_t* pixels, int64_t colorKey, int32_t width, int32_t height,
                           int32_t rowLength, int32_t sourceKind, void* displayHandle, vlBitmap** out,
                           vlBitmap** alpha, int* adapterHeld) {
  *out = nullptr;
  *adapterHeld = 0;
  const bool keyed = colorKey != -1;
  const bool withAlpha = alpha && *alpha;
  std::unique_ptr<uint32_t[]> argb;
  const void* source = pixels;
  if (sourceKind == 0) {
    argb.reset(new (std::nothrow) uint32_t[static_cast<size_t>(width) * height]);
    if (!argb) return ERR_MEM;
    vlPixelAccess plane{};
    if (withAlpha && !LockPixels(*alpha, VL_LOCK_READ, &plane)) return ERR_MEM;
    const uint32_t key = static_cast<uint32_t>(colorKey) & 0xFFFFFF;
    for (int32_t y = 0; y < height; ++y) {
      const uint32_t* row = pixels + static_cast<size_t>(y) * rowLength;
      uint32_t* to = argb.get() + static_cast<size_t>(y) * width;
      for (int32_t x = 0; x < width; ++x) {
        const uint32_t rgb = row[x] & 0xFFFFFF;
        uint32_t top = 0xFF;
        if (withAlpha)
          top = plane.pixels[static_cast<size_t>(y) * plane.rowLength + x];
        else if (keyed && rgb == key)
          top = 0;
        to[x] = rgb | top << 24;
      }
    }
    if (withAlpha) {
      UnlockPixels(*alpha, &plane);
      DeleteAlphaPlane(*alpha);
      *alpha = nullptr;
    }
    source = argb.get();
  }
  Tags tags;
  if (displayHandle) tags.Add(VL_VBM_DISPLAY, reinterpret_cast<uintptr_t>(displayHandle));
  tags.Add(VL_VBM_SOURCE, reinterpret_cast<uintptr_t>(source));
  const uint32_t flags = VL_VBM_VIDEO | (withAlpha || keyed ? uint32_t{VL_VBM_ALPHA} : 0u);
  if (vlBitmap* b = NewVideoBitmap(width, height, flags, tags.End())) {
    *out = b;
    return 0;
  }
  // An adapter that keeps such pictures itself has taken it.
  if (vlDisplayAdapter && (vlDisplayAdapter->displayCaps2 & 4)) {
    *adapterHeld = 1;
    return 0;
  }
  return ERR_BITMAP;
}

int ReadAdapterBitmap(vlBitmap* adapterBitmap, vlBitmap* target, int32_t width, int32_t height,
                      vlBitmap** alphaOut) {
  if (alphaOut) *alphaOut = nullptr;
  vlPixelAccess t;
  if (!LockPixels(target, 0, &t)) return ERR_LOCKBMAP;
  vlVideoPixels rec{};
  void* pixels = ReadAdapterPixels(adapterBitmap, &rec);
  if (!pixels) {
    UnlockPixels(target, &t);
    return ERR_READVIDEOPIXELS;
  }
  if (width > t.width) width = t.width;
  if (height > t.height) height = t.height;
  vlPixelAccess s{};
  s.pixels = static_cast<uint8_t*>(pixels);
  s.format = rec.format;
  s.bytesPerPixel = BytesPerPixelOfFormat(static_cast<vlPixelFormat>(rec.format));
  s.rowLength = s.bytesPerPixel ? rec.rowBytes / s.bytesPerPixel : 0;
  const vlPixelKernels* k = PixelKernelsFor(t.format);
  const bool readable = s.bytesPerPixel == 2 || s.bytesPerPixel == 4;
  int status = 0;
  std::unique_ptr<uint32_t[]> row(new (std::nothrow) uint32_t[width > 0 ? width : 1]);
  if (!row) {
    status = ERR_MEM;
  } else if (readable && k && width > 0) {
    for (int32_t y = 0; y < height; ++y) {
      for (int32_t x = 0; x < width; ++x) row[x] = ReadRawPixelColor(&s, x, y);
      k->fromARGB(row.get(), width, t.pixels + static_cast<intptr_t>(y) * t.rowLength * t.bytesPerPixel,
                  t.rowLength, width, 1);
    }
  }
  UnlockPixels(target, &t);
  if (!status && rec.hasAlpha && alphaOut) {
    if (rec.format < VL_PIXFMT_ARGB32 || rec.format > VL_PIXFMT_ABGR32) {
      status = ERR_WRONGUSAGE;
    } else if (vlBitmap* plane = NewAlphaPlane(width, height, 0, nullptr, 0)) {
      vlPixelAccess p;
      if (LockPixels(plane, 0, &p)) {
        const int byte = rec.format == VL_PIXFMT_BGRA32 || rec.format == VL_PIXFMT_RGBA32 ? 0 : 3;
        for (int32_t y = 0; y < height; ++y)
          for (int32_t x = 0; x < width; ++x)
            p.pixels[static_cast<size_t>(y) * p.rowLength + x] =
                s.pixels[static_cast<size_t>(y) * rec.rowBytes + 4 * x + byte];
        UnlockPixels(plane, &p);
      }
      *alphaOut = plane;
    } else {
      status = ERR_ALLOCALPHA;
    }
  }
  FreeAdapterPixels(pixels);
  return status;
}

void* ReadAdapterPixels(vlBitmap* adapterBitmap, vlVideoPixels* record) {
  vlPluginInfo* a = Adapter();
  if (!a || !a->ReadVideoPixels || !adapterBitmap) return nullptr;
  // Drawing still queued for the picture lands before the adapter reads it.
  SettleForAdapter(adapterBitmap, nullptr);
  return a->ReadVideoPixels(adapterBitmap->handle, record);
}

void IsAdapterBitmapReady(vlBitmap* bitmap, uint32_t plane) {
  if (!bitmap || !bitmap->driverOwned) return;
  // Drawn into as a mask, its alpha bytes stay mask bits; as an alpha
  // channel they become one.
  bitmap->maskBytes = plane == VL_PLANE_MASK;
  if (bitmap->secondHandle) return;
  vlPluginInfo* a = Adapter();
  if (!a || !(a->displayFlags & VL_DISPFLAG_VIDEO_BITMAPS) || !a->DoVideoBitMapMethod) return;
  // Drawing still queued for the picture lands before the adapter changes it.
  SettleForAdapter(nullptr, bitmap);
  const vlTagItem tags[] = {{1, plane}, {VL_TAG_END, 0}};
  a->DoVideoBitMapMethod(bitmap->handle, VL_VBM_PREPARE, tags);
  bitmap->secondHandle = 1;
  bitmap->alphaBytes = 1;
}

void FreeAdapterPixels(void* pixels) {
  vlPluginInfo* a = Adapter();
  if (a && a->FreeVideoPixels && pixels) a->FreeVideoPixels(pixels);
}

void BindAdapterBitmapEntries(vlPluginInfo* adapter) {
  if (!adapter || !(adapter->capabilities & PLUGINCAPS_DISPLAYADAPTER)) {
    if (GetGfxAdapter() == &gBound) SetGfxAdapter(nullptr);
    return;
  }
  gBound = {};
  // Video bitmaps are the adapter's; with flag 32 every other picture and
  // plane too, else those stay ours.
  gBound.pixelFormat = VL_PIXFMT_ARGB32;  // what LockBitMap hands out
  gBound.flags = adapter->displayFlags &
                 (VL_ADAPTER_VIDEO_BITMAPS | VL_ADAPTER_OWNS_BITMAPS | VL_ADAPTER_INVERSE_ALPHA);
  gBound.allocVideoBitMap = AllocVideo;
  gBound.freeVideoBitMap = FreeVideo;
  gBound.lockBitMap = LockVideo;
  gBound.unlockBitMap = UnlockVideo;
  // Its video bitmaps are drawn into by the adapter alone (the picture
  // forms with mode 2 and 4); the pictures it owns, with every handle it
  // would get its own, when it offers to draw them itself.
  if (gBound.flags & VL_ADAPTER_VIDEO_BITMAPS) {
    gBound.bltBitMap = PictureBlit;
    gBound.rectFill = PictureFill;
    gBound.writePixel = PicturePixel;
    gBound.line = PictureLine;
  }
  if ((gBound.flags & VL_ADAPTER_OWNS_BITMAPS) && adapter->displayAccel) {
    gBound.accel = adapter->displayAccel & (VL_ACCEL_BLIT | VL_ACCEL_MASKED_BLIT | VL_ACCEL_ALPHA_BLIT |
                                            VL_ACCEL_FILL | VL_ACCEL_PIXEL | VL_ACCEL_LINE);
    gBound.bltBitMap = PictureBlit;
    gBound.rectFill = PictureFill;
    gBound.writePixel = PicturePixel;
    gBound.line = PictureLine;
    gBound.grantsAlphaChannel = GrantsAlphaChannel;
    gBound.alphaChannel = PictureAlphaChannel;
  }
  if (gBound.flags & VL_ADAPTER_OWNS_BITMAPS) {
    gBound.allocBitMap = AllocPicture;
    gBound.freeBitMap = FreeOwned;
    gBound.allocPlane = AllocPlane;
    gBound.freePlane = FreeOwned;
    gBound.getBitMapAttr = OwnedAttr;
  }
  SetGfxAdapter(&gBound);
}
