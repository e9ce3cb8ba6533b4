// Plug-in-facing forms of picture loading, brush pixels and the drawing
// primitives. Plug-ins call them on the main thread; brushes are named by
// the identifier record the VM's argument reader fills.
#include "player/service_graphics.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "display/display.h"
#include "formats/loaded_source.h"
#include "formats/picture_loader.h"
#include "graphics/bitmap.h"
#include "graphics/blit_loops.h"
#include "graphics/draw_kernels.h"
#include "graphics/pixel_format.h"
#include "graphics/pixel_kernels.h"
#include "graphics/thick_line.h"
#include "objects/brushes/brush.h"
#include "objects/draw/draw_target.h"
#include "runtime/tag_list.h"
#include "vm/error_codes.h"

namespace {

// ---- pictures -------------------------------------------------------------

int ProbeImageFileSvc(const char* file, int32_t* width, int32_t* height, int32_t* depth) {
  if (!file) return 0;
  int32_t vector = 0, w = 0, h = 0, fourth = 0, alpha = 0;
  if (!IdentifyImageFile(file, nullptr, nullptr, &vector, &w, &h, &fourth, &alpha)) return 0;
  if (width) *width = w;
  if (height) *height = h;
  if (depth) *depth = alpha ? 32 : 24;
  return 1;
}

// The readers give 0x00RRGGBB words with alpha on top only for pictures
// that carry it; a plug-in gets ARGB words that are opaque where the
// picture has no alpha, unless tag 1 asks for the words as read.
void* LoadImageARGBSvc(const char* file, int32_t* width, int32_t* height, int32_t* alphaOut, const vlTagItem* tags) {
  if (!file) return nullptr;
  vlLoadedImage* image = nullptr;
  int32_t transparent = -1, w = 0, h = 0, alpha = 0;
  if (LoadImageFile(file, nullptr, nullptr, nullptr, -1, 0, &image, nullptr, &transparent, &w, &h, &alpha, nullptr))
    return nullptr;
  uint32_t* pixels = GetLoadedImagePixels(image);
  if (!pixels) {
    FreeLoadedImage(image);
    return nullptr;
  }
  if (!GetTagValue(tags, 1, 0) && !alpha) {
    const size_t count = static_cast<size_t>(w) * static_cast<size_t>(h);
    for (size_t i = 0; i < count; ++i) pixels[i] = (pixels[i] & 0xFFFFFFu) | 0xFF000000u;
  }
  if (width) *width = w;
  if (height) *height = h;
  if (alphaOut) *alphaOut = alpha ? 1 : 0;
  return image;
}

uint32_t* LoadedPixelsSvc(void* image) { return GetLoadedImagePixels(static_cast<vlLoadedImage*>(image)); }
void FreeLoadedSvc(void* image) { FreeLoadedImage(static_cast<vlLoadedImage*>(image)); }

// ---- brushes --------------------------------------------------------------

// A raster brush a plug-in may read (readOnly) or change: changing takes
// the unlocked brush, which layers showing it first copy.
int FindPluginBrush(vlVMState* state, const vlObjectId* id, bool readOnly, vlBrush** out) {
  if (!state || !id) return ERR_WRONGUSAGE;
  vlBrush* b = nullptr;
  if (int status = GetBrushByID(state, *id, &b, readOnly ? 0u : uint32_t{VL_BRUSH_FINDUNLOCKED})) return status;
  if (!readOnly && IsActiveBrush(b)) return ERR_MODIFYABR;
  if (b->kind == 1 || !b->bitmap) return ERR_BRUSHTYPE;
  *out = b;
  return 0;
}

// Brushes whose pixels a plug-in holds; each keeps its brush locked.
struct BrushLock {
  vlBrush* brush;
  vlPixelAccess picture, mask, alpha;
};
std::vector<BrushLock> gBrushLocks;

void ReleaseLock(BrushLock& lock) {
  UnlockPixels(lock.brush->bitmap, &lock.picture);
  if (lock.brush->mask) UnlockPixels(lock.brush->mask, &lock.mask);
  if (lock.brush->alpha) UnlockPixels(lock.brush->alpha, &lock.alpha);
}

int LockBrushPixelsSvc(vlVMState* state, const vlObjectId* id, uintptr_t* words, const vlTagItem* tags) {
  if (!words) return ERR_WRONGUSAGE;
  for (int i = 0; i < 10; ++i) words[i] = 0;
  const bool readOnly = GetTagValue(tags, 1, 0) != 0;
  vlBrush* b = nullptr;
  if (int status = FindPluginBrush(state, id, readOnly, &b)) return status;
  const uint32_t flags = readOnly ? uint32_t{VL_LOCK_READ} : 0u;
  BrushLock lock{b, {}, {}, {}};
  if (!LockPixels(b->bitmap, flags, &lock.picture) || (b->mask && !LockPixels(b->mask, flags, &lock.mask)) ||
      (b->alpha && !LockPixels(b->alpha, flags, &lock.alpha))) {
    ReleaseLock(lock);
    return ERR_LOCKBMAP;
  }
  try {
    gBrushLocks.push_back(lock);
  } catch (const std::bad_alloc&) {
    ReleaseLock(lock);
    return ERR_MEM;
  }
  ++b->locked;
  const vlPixelAccess& p = lock.picture;
  words[0] = reinterpret_cast<uintptr_t>(p.pixels);
  words[1] = static_cast<uintptr_t>(p.rowLength) * static_cast<uintptr_t>(p.bytesPerPixel);
  words[2] = static_cast<uintptr_t>(p.format);
  words[3] = static_cast<uintptr_t>(p.bytesPerPixel);
  words[4] = static_cast<uintptr_t>(b->width);
  words[5] = static_cast<uintptr_t>(b->height);
  if (b->mask) {
    words[6] = reinterpret_cast<uintptr_t>(lock.mask.pixels);
    words[7] = static_cast<uintptr_t>(lock.mask.rowLength);
  }
  if (b->alpha) {
    words[8] = reinterpret_cast<uintptr_t>(lock.alpha.pixels);
    words[9] = static_cast<uintptr_t>(lock.alpha.rowLength);
  }
  return 0;
}

// A brush the plug-in did not lock stays as it is: 1055.
int UnlockBrushPixelsSvc(vlVMState* state, const vlObjectId* id) {
  if (!state || !id) return ERR_WRONGUSAGE;
  vlBrush* b = nullptr;
  if (int status = GetBrushByID(state, *id, &b, VL_BRUSH_HARDWAREOK)) return status;
  for (auto it = gBrushLocks.end(); it != gBrushLocks.begin();) {
    --it;
    if (it->brush != b) continue;
    ReleaseLock(*it);
    gBrushLocks.erase(it);
    if (b->locked) --b->locked;
    return 0;
  }
  return ERR_WRONGUSAGE;
}

uint32_t* GetBrushARGBSvc(vlVMState* state, const vlObjectId* id, const vlTagItem* tags) {
  vlBrush* b = nullptr;
  if (FindPluginBrush(state, id, true, &b)) return nullptr;
  uint32_t* argb = ReadBitmapARGBMasked(b->bitmap, 0, 0, b->width, b->height, b->mask, b->alpha, -1, 1, 0);
  if (!argb) return nullptr;
  if (auto* w = reinterpret_cast<int32_t*>(GetTagValue(tags, 1, 0))) *w = b->width;
  if (auto* h = reinterpret_cast<int32_t*>(GetTagValue(tags, 2, 0))) *h = b->height;
  if (auto* plain = reinterpret_cast<int32_t*>(GetTagValue(tags, 3, 0))) *plain = !b->mask && !b->alpha;
  return argb;
}

constexpr uintptr_t kNoTag = ~uintptr_t{0};

int CreateBrushFromARGBSvc(vlVMState* state, vlObjectId* id, const uint32_t* argb, int32_t width, int32_t height,
                           const vlTagItem* tags) {
  if (!state || !id || !argb || width < 1 || height < 1) return ERR_WRONGUSAGE;
  const uintptr_t rowTag = GetTagValue(tags, 3, static_cast<uintptr_t>(width));
  if (rowTag < static_cast<uintptr_t>(width) || rowTag > INT32_MAX) return ERR_WRONGUSAGE;
  const auto rowPixels = static_cast<int32_t>(rowTag);
  const bool alpha = GetTagValue(tags, 2, 0) != 0;
  const uintptr_t keyTag = GetTagValue(tags, 1, kNoTag);
  const int64_t key = alpha || keyTag == kNoTag ? -1 : static_cast<int64_t>(keyTag & 0xFFFFFF);
  vlObjectId newId = *id;
  if (!newId.handle)
    if (int status = FreeBrushByID(state, newId, 0)) return status;
  vlBitmap *bitmap = nullptr, *mask = nullptr, *alphaPlane = nullptr;
  if (int status = BitmapFromARGB(argb, key, width, height, rowPixels, 0, 0, 0, &bitmap,
                                  key != -1 ? &mask : nullptr, nullptr))
    return status;
  if (alpha && !(alphaPlane = WrapARGBAsAlpha(argb, width, height, rowPixels))) {
    DeleteBitmap(bitmap);
    return ERR_ALLOCALPHA;
  }
  if (int status = AddBrush(&newId, bitmap, mask, alphaPlane, width, height, width, nullptr,
                            static_cast<int32_t>(key), 0, nullptr)) {
    DeleteBitmap(bitmap);
    if (mask) DeleteMaskPlane(mask);
    if (alphaPlane) DeleteAlphaPlane(alphaPlane);
    return status;
  }
  id->handle = newId.handle;
  return 0;
}

int FreeBrushByIDSvc(vlVMState* state, const vlObjectId* id, int32_t reportMissing) {
  if (!state || !id) return ERR_WRONGUSAGE;
  return FreeBrushByID(state, *id, reportMissing);
}

// ---- drawing --------------------------------------------------------------

// Where a drawing slot draws: a brush named by tag 2, else the current
// output's picture, which a display then shows.
struct PluginTarget {
  vlDrawTarget output;
  vlBitmap* picture = nullptr;
  bool onOutput = false;
};

int FindDrawTarget(vlVMState* state, const vlTagItem* tags, PluginTarget* out) {
  if (const auto* brushId = reinterpret_cast<const vlObjectId*>(GetTagValue(tags, 2, 0))) {
    vlBrush* b = nullptr;
    if (int status = FindPluginBrush(state, brushId, false, &b)) return status;
    out->picture = b->bitmap;
    return 0;
  }
  if (!state) return ERR_WRONGUSAGE;
  if (int status = GetDrawTarget(state, &out->output)) return status;
  if (out->output.mode == VL_OUTPUT_MASK || out->output.mode == VL_OUTPUT_ALPHA || !out->output.picture)
    return ERR_WRONGUSAGE;
  out->picture = out->output.picture;
  out->onOutput = true;
  return 0;
}

// Cuts (x, y, w, h) to 0..limit; false when nothing is left.
bool ClipRect(int64_t& x, int64_t& y, int64_t& w, int64_t& h, int64_t limitW, int64_t limitH) {
  if (x < 0) w += x, x = 0;
  if (y < 0) h += y, y = 0;
  if (x + w > limitW) w = limitW - x;
  if (y + h > limitH) h = limitH - y;
  return w > 0 && h > 0;
}

void FinishDraw(vlVMState* state, const PluginTarget& t, int64_t x, int64_t y, int64_t w, int64_t h) {
  if (!t.onOutput || !ClipRect(x, y, w, h, t.picture->width, t.picture->height)) return;
  FinishTargetRect(state, t.output, static_cast<int32_t>(x), static_cast<int32_t>(y), static_cast<int32_t>(w),
                   static_cast<int32_t>(h));
}

int32_t Opacity(uint32_t argb, uint32_t flags) { return (flags & 1) ? static_cast<int32_t>(argb >> 24) : 255; }

// A blended rectangle (already clipped) into the picture.
int BlendRect(vlBitmap* picture, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t color, int32_t opacity) {
  vlLockedPixels p(picture, 0);
  if (!p.ok()) return ERR_LOCKBMAP;
  FillPixels(p.access.pixels, x, y, w, h, color, opacity, p.access.rowLength, p.access.format);
  return 0;
}

int FillRectARGBSvc(vlVMState* state, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t argb,
                    uint32_t flags, const vlTagItem* tags) {
  PluginTarget t;
  if (int status = FindDrawTarget(state, tags, &t)) return status;
  int64_t cx = x, cy = y, cw = width, ch = height;
  if (!ClipRect(cx, cy, cw, ch, t.picture->width, t.picture->height)) return 0;
  const auto ix = static_cast<int32_t>(cx), iy = static_cast<int32_t>(cy), iw = static_cast<int32_t>(cw),
             ih = static_cast<int32_t>(ch);
  const int32_t opacity = Opacity(argb, flags);
  if (opacity == 255) FillBitmapRect(t.picture, ix, iy, iw, ih, argb & 0xFFFFFFu);
  else if (int status = BlendRect(t.picture, ix, iy, iw, ih, argb & 0xFFFFFFu, opacity)) return status;
  FinishDraw(state, t, cx, cy, cw, ch);
  return 0;
}

int WritePixelARGBSvc(vlVMState* state, int32_t x, int32_t y, uint32_t argb, uint32_t flags,
                      const vlTagItem* tags) {
  PluginTarget t;
  if (int status = FindDrawTarget(state, tags, &t)) return status;
  if (x < 0 || y < 0 || x >= t.picture->width || y >= t.picture->height) return 0;
  const int32_t opacity = Opacity(argb, flags);
  if (opacity == 255) WriteBitmapPixel(t.picture, x, y, argb & 0xFFFFFFu, 0);
  else if (int status = BlendRect(t.picture, x, y, 1, 1, argb & 0xFFFFFFu, opacity)) return status;
  FinishDraw(state, t, x, y, 1, 1);
  return 0;
}

constexpr int32_t kDefaultLineWidth = 10;

int DrawLineARGBSvc(vlVMState* state, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t argb, uint32_t flags,
                    const vlTagItem* tags) {
  const auto widthTag = static_cast<intptr_t>(GetTagValue(tags, 1, kDefaultLineWidth));
  if (widthTag < 1 || widthTag > 10000) return ERR_WRONGUSAGE;
  const auto lineWidth = static_cast<int32_t>(widthTag);
  PluginTarget t;
  if (int status = FindDrawTarget(state, tags, &t)) return status;
  const int32_t opacity = Opacity(argb, flags);
  if (opacity == 255 && lineWidth == 1) {
    DrawBitmapLine(t.picture, x1, y1, x2, y2, argb & 0xFFFFFFu);
  } else {
    vlLockedPixels p(t.picture, 0);
    if (!p.ok()) return ERR_LOCKBMAP;
    vlDrawContext c;
    c.pixels = p.access.pixels;
    c.rowLength = p.access.rowLength;
    c.width = p.access.width;
    c.height = p.access.height;
    c.format = p.access.format;
    c.bytesPerPixel = p.access.bytesPerPixel;
    c.color = argb & 0xFFFFFFu;
    c.drawAlpha = opacity;
    c.thickness = lineWidth;
    DrawThickLine(c, x1, y1, x2, y2);
  }
  // Runs reach at most the width across the line, more when it slants.
  const int64_t reach = int64_t{lineWidth} * 2;
  const int64_t left = std::min(x1, x2) - reach, top = std::min(y1, y2) - reach;
  FinishDraw(state, t, left, top, std::max(x1, x2) + reach - left + 1, std::max(y1, y2) + reach - top + 1);
  return 0;
}

// ---- raw pixels and colours -------------------------------------------------

int BlitPixelsSvc(const vlBlitPixels* r) {
  if (!r || !r->source || !r->target || r->format < 0 || r->format > 13) return ERR_WRONGUSAGE;
  const int32_t bpp = BytesPerPixelOfFormat(r->format);
  if (r->width < 1 || r->height < 1 || r->sourceX < 0 || r->sourceY < 0 || r->targetX < 0 || r->targetY < 0)
    return ERR_WRONGUSAGE;
  const int64_t span = int64_t{r->width} * bpp;
  if (int64_t{r->sourceX} * bpp + span > r->sourceRowBytes || int64_t{r->targetX} * bpp + span > r->targetRowBytes)
    return ERR_WRONGUSAGE;
  const auto* src = static_cast<const uint8_t*>(r->source);
  auto* dst = static_cast<uint8_t*>(r->target);
  if (r->alpha) {
    if (r->alphaRowBytes < r->sourceX + r->width || r->sourceRowBytes % bpp || r->targetRowBytes % bpp)
      return ERR_WRONGUSAGE;
    vlBlitJob job;
    job.source = src;
    job.sourceX = r->sourceX;
    job.sourceY = r->sourceY;
    job.planeX = r->sourceX;
    job.planeY = r->sourceY;
    job.sourceRow = r->sourceRowBytes / bpp;
    job.target = dst;
    job.targetX = r->targetX;
    job.targetY = r->targetY;
    job.targetRow = r->targetRowBytes / bpp;
    job.width = r->width;
    job.height = r->height;
    job.coverage = r->alpha;
    job.coverageRowBytes = r->alphaRowBytes;
    job.format = r->format;
    AlphaBlitPixels(job, bpp, VL_ALPHABLIT_BLEND);
    return 0;
  }
  if (r->mask && int64_t{r->maskRowBytes} * 8 < int64_t{r->sourceX} + r->width) return ERR_WRONGUSAGE;
  for (int32_t j = 0; j < r->height; ++j) {
    const uint8_t* s = src + static_cast<intptr_t>(r->sourceY + j) * r->sourceRowBytes + r->sourceX * bpp;
    uint8_t* d = dst + static_cast<intptr_t>(r->targetY + j) * r->targetRowBytes + r->targetX * bpp;
    if (!r->mask) {
      std::memmove(d, s, static_cast<size_t>(span));
      continue;
    }
    const uint8_t* bits = r->mask + static_cast<intptr_t>(r->sourceY + j) * r->maskRowBytes;
    for (int32_t i = 0; i < r->width; ++i)
      if (GetMaskBit(bits, r->sourceX + i)) std::memcpy(d + i * bpp, s + i * bpp, static_cast<size_t>(bpp));
  }
  return 0;
}

uint32_t GetRawBitmapSizeSvc(int32_t width, int32_t height, int32_t format, int32_t* rowBytesOut) {
  if (rowBytesOut) *rowBytesOut = 0;
  if (width < 1 || height < 1 || format < 0 || format > 15) return 0;
  int64_t row = format == 14   ? AlphaRowBytes(width)
                : format == 15 ? MaskRowBytes(width)
                               : int64_t{width} * BytesPerPixelOfFormat(format);
  const int64_t size = row * height;
  if (row > INT32_MAX || size > UINT32_MAX) return 0;
  if (rowBytesOut) *rowBytesOut = static_cast<int32_t>(row);
  return static_cast<uint32_t>(size);
}

uint32_t ColorToPixelSvc(uint32_t color, int32_t format, int32_t withAlpha) {
  return ColorToPixel(color, format, withAlpha);
}
uint32_t PixelToColorSvc(uint32_t pixel, int32_t format, int32_t withAlpha) {
  return PixelToColor(pixel, format, withAlpha);
}

}  // namespace

void FillGraphicsServiceSlots(vlServiceFn* g) {
  // Each routine must have its slot's declared type.
#define VL_GFX_FILL(name, fn) g[VL_GFX_##name] = vlAsSlot<vlGfx_##name>(fn)
  VL_GFX_FILL(ProbeImageFile, ProbeImageFileSvc);
  VL_GFX_FILL(LoadImageARGB, LoadImageARGBSvc);
  VL_GFX_FILL(GetLoadedImagePixels, LoadedPixelsSvc);
  VL_GFX_FILL(FreeLoadedImage, FreeLoadedSvc);
  VL_GFX_FILL(LockBrushPixels, LockBrushPixelsSvc);
  VL_GFX_FILL(UnlockBrushPixels, UnlockBrushPixelsSvc);
  VL_GFX_FILL(GetBrushARGB, GetBrushARGBSvc);
  VL_GFX_FILL(CreateBrushFromARGB, CreateBrushFromARGBSvc);
  VL_GFX_FILL(BlitPixelsSvc, BlitPixelsSvc);
  VL_GFX_FILL(FillRectARGB, FillRectARGBSvc);
  VL_GFX_FILL(WritePixelARGB, WritePixelARGBSvc);
  VL_GFX_FILL(DrawLineARGB, DrawLineARGBSvc);
  VL_GFX_FILL(GetRawBitmapSize, GetRawBitmapSizeSvc);
  VL_GFX_FILL(ColorToPixel, ColorToPixelSvc);
  VL_GFX_FILL(PixelToColor, PixelToColorSvc);
  VL_GFX_FILL(FreeBrushByID, FreeBrushByIDSvc);
#undef VL_GFX_FILL
}
