// Pictures and planes: made by the platform's offscreen bitmaps or by the
// display adapter, locked for direct access, queried, drawn into.
// Depends on platform/offscreen_bitmap.h, the adapter table and the kernels.
#include "graphics/bitmap.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "graphics/adapter.h"
#include "graphics/blit.h"
#include "graphics/blit_loops.h"
#include "graphics/fast_paths.h"
#include "graphics/pixel_format.h"
#include "graphics/pixel_kernels.h"
#include "graphics/presentation.h"
#include "graphics/thick_line.h"
#include "platform/offscreen_bitmap.h"
#include "vm/error_codes.h"

namespace {

vlOffscreenBitmap* Platform(const vlBitmap* b) { return static_cast<vlOffscreenBitmap*>(b->handle); }
vlPlane* PlaneOf(const vlBitmap* b) { return static_cast<vlPlane*>(b->handle); }

bool OwnsAll() { return AdapterHas(VL_ADAPTER_OWNS_BITMAPS); }


vlBitmap* NewPlane(int32_t kind, vlBitmap* picture, int32_t width, int32_t height, int clear, uint8_t* buffer,
                   int32_t bufferRowBytes) {
  if (width <= 0 || height <= 0) return nullptr;
  auto* rec = new (std::nothrow) vlBitmap;
  if (!rec) return nullptr;
  rec->kind = kind;
  rec->width = width;
  rec->height = height;
  if (OwnsAll()) {
    const vlGfxAdapter* a = GetGfxAdapter();
    uintptr_t tags[8];
    int n = 0;
    if (kind == VL_BITMAP_MASK && picture) {
      tags[n++] = 1;
      tags[n++] = reinterpret_cast<uintptr_t>(picture->handle);
    }
    if (buffer) {
      tags[n++] = 2;
      tags[n++] = reinterpret_cast<uintptr_t>(buffer);
      tags[n++] = 3;
      tags[n++] = static_cast<uintptr_t>(bufferRowBytes);
    }
    tags[n] = 0;
    rec->handle = a->allocPlane ? a->allocPlane(kind, width, height, clear, tags) : nullptr;
    if (!rec->handle) {
      delete rec;
      return nullptr;
    }
    return rec;
  }
  auto* plane = new (std::nothrow) vlPlane;
  if (!plane) {
    delete rec;
    return nullptr;
  }
  plane->kind = kind;
  plane->width = width;
  plane->height = height;
  if (buffer) {
    plane->pixels = buffer;
    plane->rowBytes = bufferRowBytes;
    plane->borrowed = 1;
  } else {
    plane->rowBytes = kind == VL_BITMAP_ALPHA ? AlphaRowBytes(width) : MaskRowBytes(width);
    const size_t size = static_cast<size_t>(plane->rowBytes) * static_cast<size_t>(height);
    plane->pixels = static_cast<uint8_t*>(clear ? std::calloc(size, 1) : std::malloc(size));
    if (!plane->pixels) {
      delete plane;
      delete rec;
      return nullptr;
    }
  }
  rec->handle = plane;
  return rec;
}

void DeletePlane(vlBitmap* rec) {
  if (!rec) return;
  if (OwnsAll()) {
    const vlGfxAdapter* a = GetGfxAdapter();
    if (a->freePlane) a->freePlane(rec->handle);
  } else if (vlPlane* p = PlaneOf(rec)) {
    if (!p->borrowed) std::free(p->pixels);
    delete p;
  }
  delete rec;
}

// Locks a picture, runs fn on the access record, unlocks.
template <typename Fn>
void WithLocked(vlBitmap* b, uint32_t flags, Fn fn) {
  vlPixelAccess acc;
  if (!b || !LockPixels(b, flags, &acc)) return;
  fn(acc);
  UnlockPixels(b, &acc);
}

// Clips a rectangle to 0..w, 0..h; false when nothing is left.
bool ClipToSize(int32_t& x, int32_t& y, int32_t& w, int32_t& h, int32_t maxW, int32_t maxH) {
  if (x < 0) {
    w += x;
    x = 0;
  }
  if (y < 0) {
    h += y;
    y = 0;
  }
  if (w > maxW - x) w = maxW - x;
  if (h > maxH - y) h = maxH - y;
  return w > 0 && h > 0;
}

uint32_t AdapterColor(uint32_t color, uint32_t mode) { return mode < 4 ? AdjustAlphaForAdapter(color) : color; }

}  // namespace

vlBitmap* NewBitmap(int32_t width, int32_t height, uint32_t flags, const uint32_t* tags) {
  (void)tags;  // the offscreen bitmaps take nothing from the tag list
  if (width <= 0 || height <= 0) return nullptr;
  auto* rec = new (std::nothrow) vlBitmap;
  if (!rec) return nullptr;
  rec->width = width;
  rec->height = height;
  const vlGfxAdapter* a = GetGfxAdapter();
  if ((flags & VL_NEWBITMAP_VIDEO) && a && (a->flags & VL_ADAPTER_VIDEO_BITMAPS) && a->allocVideoBitMap) {
    delete rec;
    return NewVideoBitmap(width, height, flags, nullptr);
  } else if (!(flags & VL_NEWBITMAP_VIDEO) && a && (a->flags & VL_ADAPTER_OWNS_BITMAPS) && a->allocBitMap) {
    rec->handle = a->allocBitMap(width, height, flags & ~VL_NEWBITMAP_WINDOW, tags);
  } else {
    rec->handle = AllocOffscreenBitmap(width, height, (flags & VL_NEWBITMAP_WINDOW) ? VL_OFFSCREEN_SHARED : 0);
  }
  if (!rec->handle) {
    delete rec;
    return nullptr;
  }
  return rec;
}

vlBitmap* NewVideoBitmap(int32_t width, int32_t height, uint32_t flags, const vlTagItem* tags) {
  const vlGfxAdapter* a = GetGfxAdapter();
  if (width <= 0 || height <= 0 || !a || !(a->flags & VL_ADAPTER_VIDEO_BITMAPS) || !a->allocVideoBitMap)
    return nullptr;
  auto* rec = new (std::nothrow) vlBitmap;
  if (!rec) return nullptr;
  rec->width = width;
  rec->height = height;
  rec->driverOwned = 1;
  rec->alphaBytes = (flags & VL_VBM_ALPHA) != 0;
  rec->handle = a->allocVideoBitMap(width, height, flags, tags);
  if (!rec->handle) {
    delete rec;
    return nullptr;
  }
  return rec;
}

void DeleteBitmap(vlBitmap* b) {
  if (!b) return;
  ForgetPresentationOf(b);
  SettleBitmapUse(b, true);
  const vlGfxAdapter* a = GetGfxAdapter();
  if (b->driverOwned && a && (a->flags & VL_ADAPTER_VIDEO_BITMAPS)) {
    if (a->freeVideoBitMap) a->freeVideoBitMap(b->handle);
  } else if (b->driverOwned && a && (a->flags & VL_ADAPTER_OWNS_BITMAPS)) {
    if (a->freePlane) a->freePlane(b->handle);
  } else if (a && (a->flags & VL_ADAPTER_OWNS_BITMAPS)) {
    if (a->freeBitMap) a->freeBitMap(b->handle);
  } else {
    FreeOffscreenBitmap(Platform(b));
  }
  delete b;
}

int SwapBitmapPixels(vlBitmap* a, vlBitmap* b) {
  if (!a || !b || a == b || a->kind != VL_BITMAP_PICTURE || b->kind != VL_BITMAP_PICTURE) return 0;
  const vlGfxAdapter* adapter = GetGfxAdapter();
  if (a->driverOwned || b->driverOwned || (adapter && (adapter->flags & VL_ADAPTER_OWNS_BITMAPS))) return 0;
  const vlOffscreenBitmap* pa = Platform(a);
  const vlOffscreenBitmap* pb = Platform(b);
  if (!pa || !pb || pa->width != pb->width || pa->height != pb->height || pa->bytesPerRow != pb->bytesPerRow ||
      pa->pixelFormat != pb->pixelFormat || a->width != b->width || a->height != b->height)
    return 0;
  SettleBitmapUse(a, true);
  SettleBitmapUse(b, true);
  std::swap(a->handle, b->handle);
  return 1;
}

vlBitmap* NewAlphaPlane(int32_t width, int32_t height, int clear, uint8_t* buffer, int32_t bufferRowBytes) {
  return NewPlane(VL_BITMAP_ALPHA, nullptr, width, height, clear, buffer, bufferRowBytes);
}

vlBitmap* NewMaskPlane(vlBitmap* picture, int32_t width, int32_t height, int clear, uint8_t* buffer,
                       int32_t bufferRowBytes) {
  if (picture && !buffer && !OwnsAll()) {
    const intptr_t rowLength = QueryBitmap(picture, 13);
    if (rowLength > width) width = static_cast<int32_t>(rowLength);
  }
  return NewPlane(VL_BITMAP_MASK, picture, width, height, clear, buffer, bufferRowBytes);
}

void DeleteAlphaPlane(vlBitmap* plane) { DeletePlane(plane); }
void DeleteMaskPlane(vlBitmap* plane) { DeletePlane(plane); }

namespace {
// The codes the bitmap itself answers; the platform answers the others.
bool OwnCode(int32_t code) {
  switch (code) {
    case 0: case 1: case 2: case 3: case 4: case 13: case 14:
    case 18: case 19: case 20: case 21: case 22: return true;
    default: return false;
  }
}
}  // namespace

intptr_t QueryBitmap(const vlBitmap* b, int32_t code) {
  // The platform's window answers (the pointer codes with no window: 0).
  if (!b) return OwnCode(code) ? 0 : GetWindowAttr(nullptr, code);
  // Its store or its pixels, handed out, may be written through.
  if (code == 20 || code == 23) SettleBitmapUse(b, true);
  const vlGfxAdapter* a = GetGfxAdapter();
  const bool owns = a && (a->flags & VL_ADAPTER_OWNS_BITMAPS);
  switch (code) {
    case 0: return b->width;
    case 14: return b->height;
    case 18: return b->driverOwned;
    case 19: return static_cast<intptr_t>(b->secondHandle);
    case 20: return reinterpret_cast<intptr_t>(b->handle);
    case 22: return b->driverOwned ? (!a || !(a->flags & VL_ADAPTER_VIDEO_BITMAPS)) : 0;
    case 1:
    case 2:
      if (b->kind != code) return 0;
      if (owns) return a->getBitMapAttr ? a->getBitMapAttr(b->handle, code) : 0;
      return PlaneOf(b)->rowBytes;
    case 3:
    case 4: {
      if (b->kind != code - 2) return 0;
      if (owns) {
        vlPixelAccess acc;
        if (!LockPixels(const_cast<vlBitmap*>(b), 0, &acc)) return 0;
        UnlockPixels(const_cast<vlBitmap*>(b), &acc);
        return reinterpret_cast<intptr_t>(acc.pixels);
      }
      return reinterpret_cast<intptr_t>(PlaneOf(b)->pixels);
    }
    default: break;
  }
  if (owns) {
    if (code == 21) return a->pixelFormat;
    if (code == 13) {
      const int32_t bpp = BytesPerPixelOfFormat(a->pixelFormat);
      return a->getBitMapAttr && bpp ? a->getBitMapAttr(b->handle, 13) / bpp : 0;
    }
    return a->getBitMapAttr ? a->getBitMapAttr(b->handle, code) : 0;
  }
  if (code != 13 && code != 21 && code != 23) return OwnCode(code) ? 0 : GetWindowAttr(nullptr, code);
  if (b->kind != VL_BITMAP_PICTURE || b->driverOwned) return 0;
  return GetWindowAttr(Platform(b), code);
}

int LockPlanePixels(vlPlane* p, vlPixelAccess* acc) {
  if (!p || (p->kind != VL_BITMAP_ALPHA && p->kind != VL_BITMAP_MASK)) return 0;
  *acc = {};
  acc->pixels = p->pixels;
  acc->locked = 1;
  acc->format = p->kind == VL_BITMAP_ALPHA ? VL_PIXFMT_ALPHA8 : VL_PIXFMT_MASK1;
  acc->bytesPerPixel = 1;
  acc->rowLength = p->rowBytes;
  acc->width = p->width;
  acc->height = p->height;
  acc->direct = 1;
  return 1;
}

bool IsVideoBitmap(const vlBitmap* b) { return b && b->driverOwned && QueryBitmap(b, 22) == 0; }

namespace {

struct PlaneTarget {
  const vlBitmap* picture = nullptr;
  uint32_t plane = 0;
  int32_t value = 0;
};
PlaneTarget gPlaneTarget;

// The colour word of the pixel, fill and line forms drawing into the
// plane: the plane's number above its value byte.
uint32_t PlaneWord() {
  const int32_t v = gPlaneTarget.value;
  const uint32_t byte = gPlaneTarget.plane == VL_PLANE_ALPHA && v < 0 ? 255u : static_cast<uint32_t>(v) & 0xFF;
  return gPlaneTarget.plane << 8 | byte;
}

}  // namespace

void SetPlaneTarget(const vlBitmap* picture, uint32_t plane, int32_t value) {
  gPlaneTarget = picture && IsVideoBitmap(picture) ? PlaneTarget{picture, plane, value} : PlaneTarget{};
}

bool IsPlaneTarget(const vlBitmap* picture) { return picture && picture == gPlaneTarget.picture; }

namespace {
const vlBitmap* gComboTarget = nullptr;
int32_t gComboAlphaMode = 0;
}

void SetComboTarget(const vlBitmap* picture, int32_t alphaMode) {
  gComboTarget = picture && IsVideoBitmap(picture) ? picture : nullptr;
  gComboAlphaMode = gComboTarget ? alphaMode : 0;
}

bool IsComboTarget(const vlBitmap* picture) { return picture && picture == gComboTarget; }
int32_t ComboAlphaMode() { return gComboAlphaMode; }

namespace {
const vlBitmap* gComboMaskTarget = nullptr;
}

void SetComboMaskTarget(const vlBitmap* picture) { gComboMaskTarget = picture; }
bool ComboKeepsMask(const vlBitmap* picture) { return IsComboTarget(picture) && picture == gComboMaskTarget; }

uint32_t PlaneTargetPlane() { return gPlaneTarget.plane; }
int32_t PlaneTargetValue() { return gPlaneTarget.value; }

namespace {
// The mode of the pixel forms drawing colours into a video bitmap: in
// combo mode its alpha bytes become opaque with them.
uint32_t VideoPixelMode(const vlBitmap* b) {
  return IsComboTarget(b) ? uint32_t{VL_PIXMODE_VIDEO | VL_PIXMODE_COMBO} : uint32_t{VL_PIXMODE_VIDEO};
}
}  // namespace

int LockPixels(vlBitmap* b, uint32_t flags, vlPixelAccess* acc) {
  *acc = {};
  if (!b || b->kind < 0 || b->kind > 2) return 0;
  SettleBitmapUse(b, !(flags & VL_LOCK_READ));
  const vlGfxAdapter* a = GetGfxAdapter();
  if ((a && (a->flags & VL_ADAPTER_OWNS_BITMAPS)) || (b->driverOwned && a)) {
    if (!a->lockBitMap || !a->lockBitMap(b->handle, flags, acc)) return 0;
    acc->format = b->kind == VL_BITMAP_PICTURE ? a->pixelFormat : (b->kind == VL_BITMAP_ALPHA ? 14 : 15);
    acc->bytesPerPixel = b->kind == VL_BITMAP_PICTURE ? BytesPerPixelOfFormat(a->pixelFormat) : 1;
    acc->locked = 1;
    return 1;
  }
  if (b->kind != VL_BITMAP_PICTURE) return LockPlanePixels(PlaneOf(b), acc);
  if (b->driverOwned) return 0;
  vlOffscreenAccess o;
  if (!LockOffscreenBitmap(Platform(b), &o, !(flags & VL_LOCK_READ))) return 0;
  acc->pixels = o.pixels;
  acc->locked = 1;
  acc->format = o.pixelFormat;
  acc->bytesPerPixel = o.bytesPerPixel;
  acc->rowLength = o.rowLength;
  acc->width = o.width;
  acc->height = o.height;
  return 1;
}

void UnlockPixels(vlBitmap* b, vlPixelAccess* acc) {
  if (!b || !acc->locked) return;
  const vlGfxAdapter* a = GetGfxAdapter();
  if ((a && (a->flags & VL_ADAPTER_OWNS_BITMAPS)) || (b->driverOwned && a)) {
    if (a->unlockBitMap) a->unlockBitMap(b->handle);
  } else if (!acc->direct) {
    UnlockOffscreenBitmap(Platform(b));
  }
  acc->locked = 0;
}

uint32_t ReadBitmapPixel(vlBitmap* b, int32_t x, int32_t y, int isMask) {
  uint32_t out = 0;
  WithLocked(b, VL_LOCK_READ, [&](vlPixelAccess& acc) {
    if (x < 0 || y < 0 || x >= acc.width || y >= acc.height) return;
    if (isMask) out = GetMaskBit(acc.pixels + static_cast<intptr_t>(y) * acc.rowLength, x);
    else out = ReadRawPixelColor(&acc, x, y);
  });
  return out;
}

void WriteBitmapPixel(vlBitmap* b, int32_t x, int32_t y, uint32_t value, int isMask) {
  if (!b) return;
  if (!isMask) {
    const vlGfxAdapter* a = GetGfxAdapter();
    if (IsVideoBitmap(b) && a->writePixel) {
      SettleForAdapter(nullptr, b);
      if (IsPlaneTarget(b)) a->writePixel(b->handle, x, y, PlaneWord(), VL_PIXMODE_VIDEO | VL_PIXMODE_PLANE);
      else a->writePixel(b->handle, x, y, AdapterColor(value, 2), VideoPixelMode(b));
      return;
    }
    if (AdapterAccel(VL_ACCEL_PIXEL) && a->writePixel) {
      SettleForAdapter(nullptr, b);
      a->writePixel(b->handle, x, y, AdapterColor(value, 1), 1);
      return;
    }
  }
  WithLocked(b, 0, [&](vlPixelAccess& acc) {
    if (x < 0 || y < 0 || x >= acc.width || y >= acc.height) return;
    uint8_t* row = acc.pixels + static_cast<intptr_t>(y) * acc.rowLength * acc.bytesPerPixel;
    if (isMask) {
      FillMaskBits(row, acc.rowLength, x, 0, 1, 1, static_cast<int32_t>(value));
      return;
    }
    const uint32_t v = ColorToPixel(value, acc.format, 0);
    uint8_t* p = row + static_cast<intptr_t>(x) * acc.bytesPerPixel;
    if (acc.bytesPerPixel == 3) {
      p[0] = static_cast<uint8_t>(v >> 16);
      p[1] = static_cast<uint8_t>(v >> 8);
      p[2] = static_cast<uint8_t>(v);
    } else if (acc.bytesPerPixel == 2) {
      const uint16_t s = static_cast<uint16_t>(v);
      std::memcpy(p, &s, 2);
    } else if (acc.bytesPerPixel == 4) {
      std::memcpy(p, &v, 4);
    }
  });
}

void FillPixels(uint8_t* pixels, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t color,
                int32_t opacity, int32_t rowLength, int32_t format) {
  const vlPixelKernels* k = PixelKernelsFor(format);
  if (!k || width <= 0 || height <= 0) return;
  const int32_t bpp = BytesPerPixelOfFormat(format);
  uint8_t* first = pixels + (static_cast<intptr_t>(y) * rowLength + x) * bpp;
  if (opacity == 255) {
    const vlFillFn fast = FastFill(format);
    (fast ? fast : k->fill)(first, rowLength, width, height, ColorToPixel(color, format, 0));
  } else {
    const uint32_t work = bpp == 2 ? ColorToPixel(color, VL_PIXFMT_RGB16, 0) : (color & 0xFFFFFF);
    const vlBlendColorFn fast = opacity >= 0 && opacity < 255 ? FastBlendColor(format) : nullptr;
    (fast ? fast : k->blendColor)(first, rowLength, width, height, work, opacity);
  }
}

void FillBitmapRect(vlBitmap* b, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t color) {
  if (!b) return;
  const vlGfxAdapter* a = GetGfxAdapter();
  if (IsVideoBitmap(b) && a->rectFill) {
    SettleForAdapter(nullptr, b);
    if (IsPlaneTarget(b)) a->rectFill(b->handle, x, y, width, height, PlaneWord(), VL_PIXMODE_VIDEO | VL_PIXMODE_PLANE);
    else a->rectFill(b->handle, x, y, width, height, AdapterColor(color, 2), VideoPixelMode(b));
    return;
  }
  if (AdapterAccel(VL_ACCEL_FILL) && a->rectFill) {
    SettleForAdapter(nullptr, b);
    a->rectFill(b->handle, x, y, width, height, AdapterColor(color, 1), 1);
    return;
  }
  WithLocked(b, 0, [&](vlPixelAccess& acc) {
    if (!ClipToSize(x, y, width, height, acc.width, acc.height)) return;
    FillPixels(acc.pixels, x, y, width, height, color, 255, acc.rowLength, acc.format);
  });
}

void DrawBitmapLine(vlBitmap* b, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t color) {
  if (!b) return;
  const vlGfxAdapter* a = GetGfxAdapter();
  if (IsVideoBitmap(b) && a->line) {
    SettleForAdapter(nullptr, b);
    if (IsPlaneTarget(b)) a->line(b->handle, x1, y1, x2, y2, PlaneWord(), VL_PIXMODE_VIDEO | VL_PIXMODE_PLANE);
    else a->line(b->handle, x1, y1, x2, y2, AdapterColor(color, 2), VideoPixelMode(b));
    return;
  }
  if (AdapterAccel(VL_ACCEL_LINE) && a->line) {
    SettleForAdapter(nullptr, b);
    a->line(b->handle, x1, y1, x2, y2, AdapterColor(color, 1), 1);
    return;
  }
  WithLocked(b, 0, [&](vlPixelAccess& acc) {
    DrawLinePixels(acc.pixels, acc.format, acc.rowLength, acc.width, acc.height, x1, y1, x2, y2, 1, color);
  });
}

void ReadAccessARGB(const vlPixelAccess& acc, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t* out) {
  if (acc.format == 4 || (acc.format >= 10 && acc.format <= 13)) {
    const int32_t rect[4] = {x, y, width, height};
    ReadPixelsARGB(acc.pixels, out, rect, acc.rowLength, acc.bytesPerPixel, acc.format);
    return;
  }
  for (int32_t j = 0; j < height; ++j)
    for (int32_t i = 0; i < width; ++i) out[static_cast<size_t>(j) * width + i] = ReadRawPixelColor(&acc, x + i, y + j);
}

uint32_t* ReadBitmapARGB(vlBitmap* b, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t flags) {
  (void)flags;
  if (!b || width <= 0 || height <= 0) return nullptr;
  uint32_t* out = new (std::nothrow) uint32_t[static_cast<size_t>(width) * static_cast<size_t>(height)]();
  if (!out) return nullptr;
  bool ok = false;
  WithLocked(b, VL_LOCK_READ, [&](vlPixelAccess& acc) {
    if (x < 0 || y < 0 || width > acc.width - x || height > acc.height - y) return;
    ok = true;
    ReadAccessARGB(acc, x, y, width, height, out);
  });
  if (!ok) {
    delete[] out;
    return nullptr;
  }
  return out;
}

uint32_t* ReadBitmapARGBMasked(vlBitmap* b, int32_t x, int32_t y, int32_t width, int32_t height, vlBitmap* mask,
                               vlBitmap* alpha, int64_t color, int maskToAlpha, uint32_t flags) {
  uint32_t* out = ReadBitmapARGB(b, x, y, width, height, flags);
  if (!out) return nullptr;
  vlPixelAccess m;
  if (mask && !(maskToAlpha == 0 && color == -1) && LockPixels(mask, VL_LOCK_READ, &m)) {
    for (int32_t j = 0; j < height; ++j) {
      const uint8_t* row = m.pixels + static_cast<intptr_t>(y + j) * m.rowLength;
      uint32_t* o = out + static_cast<size_t>(j) * width;
      for (int32_t i = 0; i < width; ++i) {
        const int bit = (x + i) < m.width && (y + j) < m.height ? GetMaskBit(row, x + i) : 0;
        if (maskToAlpha) o[i] = (o[i] & 0xFFFFFF) | (bit ? 0xFF000000u : 0);
        else if (!bit) o[i] = static_cast<uint32_t>(color);
      }
    }
    UnlockPixels(mask, &m);
  } else if (alpha && LockPixels(alpha, VL_LOCK_READ, &m)) {
    for (int32_t j = 0; j < height; ++j) {
      const uint8_t* row = m.pixels + static_cast<intptr_t>(y + j) * m.rowLength;
      uint32_t* o = out + static_cast<size_t>(j) * width;
      for (int32_t i = 0; i < width; ++i) {
        const uint32_t a = (x + i) < m.width && (y + j) < m.height ? row[x + i] : 0;
        o[i] = (o[i] & 0xFFFFFF) | a << 24;
        if (a == 0 && color != -1) o[i] |= static_cast<uint32_t>(color) & 0xFFFFFF;
      }
    }
    UnlockPixels(alpha, &m);
  } else if (!mask && !alpha) {
    for (size_t i = 0; i < static_cast<size_t>(width) * height; ++i) out[i] |= 0xFF000000u;
  }
  return out;
}

void WriteBitmapARGB(const uint32_t* argb, int32_t rowBytes, vlBitmap* b, int32_t x, int32_t y, int32_t width,
                     int32_t height) {
  WithLocked(b, 0, [&](vlPixelAccess& acc) {
    const vlPixelKernels* k = PixelKernelsFor(acc.format);
    if (!k || x < 0 || y < 0 || width > acc.width - x || height > acc.height - y || width <= 0) return;
    WriteARGBPixels(*k, acc.format, argb, rowBytes / 4,
                    acc.pixels + (static_cast<intptr_t>(y) * acc.rowLength + x) * acc.bytesPerPixel, acc.rowLength,
                    width, height);
  });
}

int32_t BitmapFromARGB(const uint32_t* argb, int64_t transparentColor, int32_t width, int32_t height,
                       int32_t rowPixels, int tryAdapter, int32_t alphaMode, uint32_t flags, vlBitmap** outBitmap,
                       vlBitmap** outMask, vlBitmap** outAlpha) {
  *outBitmap = nullptr;
  if (outMask) *outMask = nullptr;
  if (outAlpha) *outAlpha = nullptr;
  vlBitmap* bm = NewBitmap(width, height, flags, nullptr);
  if (!bm) return ERR_BITMAP;
  WriteBitmapARGB(argb, rowPixels * 4, bm, 0, 0, width, height);
  vlBitmap* mask = nullptr;
  vlBitmap* alpha = nullptr;
  if (transparentColor != -1 && outMask) {
    mask = NewMaskPlane(bm, width, height, 1, nullptr, 0);
    vlPixelAccess m;
    if (!mask || !LockPixels(mask, 0, &m)) {
      DeleteMaskPlane(mask);
      DeleteBitmap(bm);
      return ERR_ALLOCMASK;
    }
    const uint32_t key = static_cast<uint32_t>(transparentColor) & 0xFFFFFF;
    for (int32_t j = 0; j < height; ++j)
      for (int32_t i = 0; i < width; ++i)
        SetMaskBit(m.pixels + static_cast<intptr_t>(j) * m.rowLength, i,
                   (argb[static_cast<size_t>(j) * rowPixels + i] & 0xFFFFFF) != key);
    UnlockPixels(mask, &m);
  }
  if (tryAdapter && alphaMode == 2 && outAlpha) {
    alpha = WrapARGBAsAlpha(argb, width, height, rowPixels);
    if (!alpha) {
      DeleteMaskPlane(mask);
      DeleteBitmap(bm);
      return ERR_ALLOCALPHA;
    }
  }
  *outBitmap = bm;
  if (outMask) *outMask = mask;
  if (outAlpha) *outAlpha = alpha;
  return 0;
}

vlBitmap* CopyAlphaPlane(vlBitmap* src, int32_t width, int32_t height) {
  vlBitmap* out = NewAlphaPlane(width, height, 1, nullptr, 0);
  vlPixelAccess s, d;
  if (!out || !LockPixels(src, VL_LOCK_READ, &s)) return out;
  if (LockPixels(out, 0, &d)) {
    const int32_t w = width < s.width ? width : s.width, h = height < s.height ? height : s.height;
    CombineAlphaRect(s.pixels, s.rowLength, d.pixels, d.rowLength, w, h, 0, 0);
    UnlockPixels(out, &d);
  }
  UnlockPixels(src, &s);
  return out;
}

vlBitmap* WrapARGBAsAlpha(const uint32_t* argb, int32_t width, int32_t height, int32_t rowPixels) {
  vlBitmap* out = NewAlphaPlane(width, height, 0, nullptr, 0);
  vlPixelAccess d;
  if (!out || !LockPixels(out, 0, &d)) return out;
  ExtractAlphaBytes(argb, width, height, rowPixels, d.pixels, d.rowLength);
  UnlockPixels(out, &d);
  return out;
}

void MaskToAlphaBytes(vlBitmap* mask, int32_t x, int32_t y, vlBitmap* alpha, int32_t ax, int32_t ay, int32_t width,
                      int32_t height, uint8_t value) {
  vlPixelAccess m, a;
  if (!LockPixels(mask, VL_LOCK_READ, &m)) return;
  if (LockPixels(alpha, 0, &a)) {
    for (int32_t j = 0; j < height; ++j) {
      const uint8_t* mrow = m.pixels + static_cast<intptr_t>(y + j) * m.rowLength;
      uint8_t* arow = a.pixels + static_cast<intptr_t>(ay + j) * a.rowLength + ax;
      for (int32_t i = 0; i < width; ++i) arow[i] = GetMaskBit(mrow, x + i) ? value : 0;
    }
    UnlockPixels(alpha, &a);
  }
  UnlockPixels(mask, &m);
}

void FillAlphaRect(vlBitmap* alpha, int32_t x, int32_t y, int32_t width, int32_t height, uint8_t value) {
  WithLocked(alpha, 0, [&](vlPixelAccess& a) {
    if (!ClipToSize(x, y, width, height, a.width, a.height)) return;
    FillAlphaBytes(a.pixels + static_cast<intptr_t>(y) * a.rowLength + x, a.rowLength, width, height, value);
  });
}

int32_t ReadAlphaByte(vlBitmap* alpha, int32_t x, int32_t y) {
  vlLockedPixels a(alpha, VL_LOCK_READ);
  return a.ok() && a.Inside(x, y) ? a.Row(y)[x] : -1;
}

int WriteAlphaByte(vlBitmap* alpha, int32_t x, int32_t y, uint8_t value) {
  vlLockedPixels a(alpha, 0);
  if (!a.ok()) return 0;
  if (a.Inside(x, y)) a.Row(y)[x] = value;
  return 1;
}

void ScaleAlphaPlane(vlBitmap* alpha, vlBitmap* out, int32_t intensity) {
  vlPixelAccess s, d;
  if (!LockPixels(alpha, VL_LOCK_READ, &s)) return;
  if (LockPixels(out, 0, &d)) {
    if (s.rowLength == d.rowLength && s.height == d.height)
      ScaleAlphaBytes(s.pixels, d.pixels, s.rowLength * s.height, intensity);
    UnlockPixels(out, &d);
  }
  UnlockPixels(alpha, &s);
}

void CopyMaskRect(vlBitmap* src, int32_t sx, int32_t sy, vlBitmap* dst, int32_t dx, int32_t dy, int32_t width,
                  int32_t height, uint8_t value) {
  vlPixelAccess m, a;
  if (!LockPixels(src, VL_LOCK_READ, &m)) return;
  if (LockPixels(dst, 0, &a)) {
    MaskToAlphaValue(m.pixels + static_cast<intptr_t>(sy) * m.rowLength, m.rowLength, sx,
                     a.pixels + static_cast<intptr_t>(dy) * a.rowLength + dx, a.rowLength, width, height, value);
    UnlockPixels(dst, &a);
  }
  UnlockPixels(src, &m);
}

int32_t ClipMaskOrigin(int32_t* x, int32_t* y, int32_t width, int32_t height, vlBitmap** mask, int copyAlways,
                       int freeOld) {
  if (*x >= 0 && *y >= 0 && !copyAlways) return 0;
  const int32_t ox = *x < 0 ? -*x : 0, oy = *y < 0 ? -*y : 0;
  vlBitmap* old = *mask;
  vlBitmap* copy = NewMaskPlane(nullptr, width, height, 1, nullptr, 0);
  if (!copy) return ERR_ALLOCMASK;
  // Only the part right of and below the cut exists in the old plane.
  if (width > ox && height > oy) CopyMaskRegion(old, ox, oy, copy, 0, 0, width - ox, height - oy, 2, nullptr, 0);
  if (*x < 0) *x = 0;
  if (*y < 0) *y = 0;
  if (freeOld) DeleteMaskPlane(old);
  *mask = copy;
  return 0;
}

void FillMaskRect(vlBitmap* mask, int32_t x, int32_t y, int32_t width, int32_t height, int32_t mode) {
  WithLocked(mask, 0, [&](vlPixelAccess& m) {
    if (!ClipToSize(x, y, width, height, m.width, m.height)) return;
    FillMaskBits(m.pixels, m.rowLength, x, y, width, height, mode);
  });
}

void CopyMaskRegion(vlBitmap* src, int32_t sx, int32_t sy, vlBitmap* dst, int32_t dx, int32_t dy, int32_t width,
                    int32_t height, int32_t mode, const uint8_t* srcPixels, int32_t srcRowBytes) {
  vlPixelAccess s{}, d;
  if (!srcPixels) {
    if (!LockPixels(src, VL_LOCK_READ, &s)) return;
    srcPixels = s.pixels;
    srcRowBytes = s.rowLength;
  }
  if (LockPixels(dst, 0, &d)) {
    CopyMaskBits(srcPixels, srcRowBytes, sx, sy, d.pixels, d.rowLength, dx, dy, width, height, mode);
    UnlockPixels(dst, &d);
  }
  if (s.locked) UnlockPixels(src, &s);
}

void PaintMaskBits(vlBitmap* mask, int32_t x, int32_t y, vlBitmap* target, int32_t tx, int32_t ty, int32_t width,
                   int32_t height, uint32_t color) {
  vlPixelAccess m, t;
  if (!LockPixels(mask, VL_LOCK_READ, &m)) return;
  if (LockPixels(target, 0, &t)) {
    if (const vlPixelKernels* k = PixelKernelsFor(t.format))
      k->paintMask(t.pixels + (static_cast<intptr_t>(ty) * t.rowLength + tx) * t.bytesPerPixel, t.rowLength, width,
                   height, m.pixels + static_cast<intptr_t>(y) * m.rowLength, m.rowLength, x,
                   ColorToPixel(color, t.format, 0));
    UnlockPixels(target, &t);
  }
  UnlockPixels(mask, &m);
}
