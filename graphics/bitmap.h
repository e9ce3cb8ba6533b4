// Pictures and their companion planes (1-bit mask, 8-bit alpha): creation,
// release, property queries, pixel locking and the basic pixel operations.
// Pictures live in the platform's offscreen bitmaps, or in the display
// adapter when it makes them.
#pragma once
#include <cstdint>

#include "abi/plugin_abi.h"
#include "graphics/pixel_access.h"

struct vlTagItem;

enum : int32_t { VL_BITMAP_PICTURE = 0, VL_BITMAP_ALPHA = 1, VL_BITMAP_MASK = 2 };

// NewBitmap flag: a video bitmap, made by an adapter that makes them.
enum : uint32_t { VL_NEWBITMAP_VIDEO = 8 };
// NewBitmap flag: a window's back buffer, which the X server may read
// straight from this process's memory.
enum : uint32_t { VL_NEWBITMAP_WINDOW = 0x10000 };

// LockPixels flags.
enum : uint32_t { VL_LOCK_READ = 1 };

struct vlBitmap {
  int32_t kind = VL_BITMAP_PICTURE;
  void* handle = nullptr;  // platform or adapter bitmap; a vlPlane or adapter plane
  int32_t width = 0, height = 0;
  int32_t driverOwned = 0;  // made by the adapter as a video bitmap
  uintptr_t secondHandle = 0;
  // A video bitmap whose alpha bytes count: made with alpha, or its mask
  // or alpha channel drawn into. Blits from it are blended by them.
  int32_t alphaBytes = 0;
  // Those alpha bytes are a mask (a colour key, a mask made or drawn into)
  // rather than an alpha channel: a combo blit takes it as a masked source.
  int32_t maskBytes = 0;
};

// A plane held by the engine.
struct vlPlane {
  int32_t kind = VL_BITMAP_ALPHA;
  int32_t width = 0, height = 0;
  uint8_t* pixels = nullptr;
  int32_t rowBytes = 0;
  int32_t borrowed = 0;  // the caller's buffer, not freed with the plane
};

// Row bytes: alpha rows hold the width rounded up to 4 bytes; mask rows
// the width rounded up to 16 bits.
constexpr int32_t AlphaRowBytes(int32_t width) { return (width + 3) & ~3; }
constexpr int32_t MaskRowBytes(int32_t width) { return ((width + 15) >> 3) & ~1; }

vlBitmap* NewBitmap(int32_t width, int32_t height, uint32_t flags, const uint32_t* tags);
// A video bitmap made by an adapter that makes them, with the adapter's tag
// list ({1 pixel source, 6 display handle, ...}); null otherwise.
vlBitmap* NewVideoBitmap(int32_t width, int32_t height, uint32_t flags, const vlTagItem* tags);
void DeleteBitmap(vlBitmap* bitmap);
// Exchanges the pixel stores of two pictures of one size held by the
// player (not an adapter); 0, with nothing changed, when they differ.
int SwapBitmapPixels(vlBitmap* a, vlBitmap* b);
// Held drawing, owed and deferred copies of pictures: presentation.h.

// With a buffer the plane borrows it; else pixels are allocated (zeroed
// when clear is set). A mask made for a picture is as wide as its rows.
vlBitmap* NewAlphaPlane(int32_t width, int32_t height, int clear, uint8_t* buffer, int32_t bufferRowBytes);
vlBitmap* NewMaskPlane(vlBitmap* picture, int32_t width, int32_t height, int clear, uint8_t* buffer,
                       int32_t bufferRowBytes);
void DeleteAlphaPlane(vlBitmap* plane);
void DeleteMaskPlane(vlBitmap* plane);

// Query codes: 0 width, 14 height, 1/2 alpha/mask row bytes, 3/4 alpha/mask
// pixels, 13 row length in pixels, 18 driverOwned, 19 secondHandle,
// 20 handle, 21 pixel format, 22 a video bitmap the adapter cannot take,
// 23 pixel address. A null bitmap gives 0.
intptr_t QueryBitmap(const vlBitmap* bitmap, int32_t code);
// A driver-owned picture that the adapter really holds as a video bitmap:
// only the adapter's entries draw into it.
bool IsVideoBitmap(const vlBitmap* bitmap);

// A video bitmap whose mask or alpha channel (both its alpha bytes) is the
// current display's drawing target: while set, the pixel, fill, line and
// blit routines change only that channel of it, by value (a mask mode of
// the mask table, or the alpha byte; -1 takes a source's own alpha).
// Cleared with a null picture. plane: VL_PLANE_MASK or VL_PLANE_ALPHA.
void SetPlaneTarget(const vlBitmap* picture, uint32_t plane, int32_t value);
bool IsPlaneTarget(const vlBitmap* picture);
uint32_t PlaneTargetPlane();
int32_t PlaneTargetValue();
// A video bitmap that the current display draws into in combo mode (its
// colours, mask and alpha channel changing together), with the selection's
// alpha mode (0 copy, 1 copy where covered, 2 blend over its own alpha):
// drawing into it tells the adapter so. Cleared with null.
void SetComboTarget(const vlBitmap* picture, int32_t alphaMode);
bool IsComboTarget(const vlBitmap* picture);
int32_t ComboAlphaMode();
// The combo target whose alpha bytes are a mask (0 or 255), not an alpha
// channel: set when its selection is prepared, cleared with null.
void SetComboMaskTarget(const vlBitmap* picture);
bool ComboKeepsMask(const vlBitmap* picture);

int LockPixels(vlBitmap* bitmap, uint32_t flags, vlPixelAccess* access);
int LockPlanePixels(vlPlane* plane, vlPixelAccess* access);
void UnlockPixels(vlBitmap* bitmap, vlPixelAccess* access);

// A picture or plane locked for the life of the scope: the one way to its
// pixels, since a display adapter may hold them. Unlocks on unwind too.
struct vlLockedPixels {
  vlBitmap* bitmap;
  vlPixelAccess access{};
  vlLockedPixels(vlBitmap* b, uint32_t flags) : bitmap(b) {
    if (b) LockPixels(b, flags, &access);
  }
  ~vlLockedPixels() {
    if (access.locked) UnlockPixels(bitmap, &access);
  }
  vlLockedPixels(const vlLockedPixels&) = delete;
  vlLockedPixels& operator=(const vlLockedPixels&) = delete;
  bool ok() const { return access.locked != 0; }
  bool Inside(int32_t x, int32_t y) const { return x >= 0 && y >= 0 && x < access.width && y < access.height; }
  // A plane's byte row y (mask bits or alpha bytes).
  uint8_t* Row(int32_t y) const { return access.pixels + static_cast<intptr_t>(y) * access.rowLength; }
  uint8_t* At(int32_t x, int32_t y) const {
    return access.pixels + (static_cast<intptr_t>(y) * access.rowLength + x) * access.bytesPerPixel;
  }
};

// Colour of a picture pixel, or 1/0 for a mask bit. Outside gives 0.
uint32_t ReadBitmapPixel(vlBitmap* bitmap, int32_t x, int32_t y, int isMask);
// A colour for a picture, a mask mode (0-5) for a mask plane.
void WriteBitmapPixel(vlBitmap* bitmap, int32_t x, int32_t y, uint32_t value, int isMask);
void FillBitmapRect(vlBitmap* bitmap, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t color);
void DrawBitmapLine(vlBitmap* bitmap, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t color);
// Row length in pixels; the rectangle must lie inside the buffer.
void FillPixels(uint8_t* pixels, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t color,
                int32_t opacity, int32_t rowLength, int32_t format);

// A rectangle (inside the locked picture) as width x height ARGB values.
void ReadAccessARGB(const vlPixelAccess& access, int32_t x, int32_t y, int32_t width, int32_t height,
                    uint32_t* out);
// New buffers of width x height ARGB values (free with delete[]), or null.
uint32_t* ReadBitmapARGB(vlBitmap* bitmap, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t flags);
uint32_t* ReadBitmapARGBMasked(vlBitmap* bitmap, int32_t x, int32_t y, int32_t width, int32_t height,
                               vlBitmap* mask, vlBitmap* alpha, int64_t color, int maskToAlpha, uint32_t flags);
// Error code (0 on success). transparentColor -1 makes no mask.
int32_t BitmapFromARGB(const uint32_t* argb, int64_t transparentColor, int32_t width, int32_t height,
                       int32_t rowPixels, int tryAdapter, int32_t alphaMode, uint32_t flags, vlBitmap** outBitmap,
                       vlBitmap** outMask, vlBitmap** outAlpha);
void WriteBitmapARGB(const uint32_t* argb, int32_t rowBytes, vlBitmap* bitmap, int32_t x, int32_t y,
                     int32_t width, int32_t height);

// Plane helpers.
vlBitmap* CopyAlphaPlane(vlBitmap* alpha, int32_t width, int32_t height);
vlBitmap* WrapARGBAsAlpha(const uint32_t* argb, int32_t width, int32_t height, int32_t rowPixels);
void MaskToAlphaBytes(vlBitmap* mask, int32_t x, int32_t y, vlBitmap* alpha, int32_t ax, int32_t ay,
                      int32_t width, int32_t height, uint8_t value);
void FillAlphaRect(vlBitmap* alpha, int32_t x, int32_t y, int32_t width, int32_t height, uint8_t value);
// One byte of an alpha plane: -1 outside or when it cannot be locked; the
// write gives 0 on a lock failure (nothing is written outside).
int32_t ReadAlphaByte(vlBitmap* alpha, int32_t x, int32_t y);
int WriteAlphaByte(vlBitmap* alpha, int32_t x, int32_t y, uint8_t value);
void ScaleAlphaPlane(vlBitmap* alpha, vlBitmap* out, int32_t intensity);
// Mask bits carried into an alpha plane as value where set.
void CopyMaskRect(vlBitmap* src, int32_t sx, int32_t sy, vlBitmap* dstAlpha, int32_t dx, int32_t dy,
                  int32_t width, int32_t height, uint8_t value);
// Error code; *mask may be replaced by a copy starting at (-x, -y).
int32_t ClipMaskOrigin(int32_t* x, int32_t* y, int32_t width, int32_t height, vlBitmap** mask, int copyAlways,
                       int freeOld);
void FillMaskRect(vlBitmap* mask, int32_t x, int32_t y, int32_t width, int32_t height, int32_t mode);
// srcPixels/srcRowBytes, when given, replace the source plane's own.
void CopyMaskRegion(vlBitmap* src, int32_t sx, int32_t sy, vlBitmap* dst, int32_t dx, int32_t dy, int32_t width,
                    int32_t height, int32_t mode, const uint8_t* srcPixels, int32_t srcRowBytes);
void PaintMaskBits(vlBitmap* mask, int32_t x, int32_t y, vlBitmap* target, int32_t tx, int32_t ty, int32_t width,
                   int32_t height, uint32_t color);
