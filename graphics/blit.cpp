// Copies between pictures with mask or alpha planes, alpha-plane blits,
// tiling and the aspect rule. Depends on bitmap.h, the adapter table and
// the pixel kernels.
#include "graphics/blit.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "graphics/adapter.h"
#include "graphics/bitmap.h"
#include "graphics/blit_loops.h"
#include "graphics/fast_paths.h"
#include "graphics/image_kernels.h"
#include "graphics/pixel_format.h"
#include "graphics/pixel_kernels.h"
#include "graphics/presentation.h"
#include "vm/convert.h"
#include "vm/error_codes.h"

namespace {

uint8_t* At(const vlPixelAccess& a, int32_t x, int32_t y) {
  return a.pixels + (static_cast<intptr_t>(y) * a.rowLength + x) * a.bytesPerPixel;
}

enum class Form { Plain, Masked, Alpha };

// The adapter's blit mode for a blit of src (with plane) into dst, 0 when
// the software kernels do it.
uint32_t AdapterBlitMode(Form form, const vlBitmap* src, vlBitmap* dst, const vlBitmap* plane) {
  const vlGfxAdapter* a = GetGfxAdapter();
  if (!a || !a->bltBitMap) return 0;
  const uint32_t accel = form == Form::Plain ? VL_ACCEL_BLIT : form == Form::Masked ? VL_ACCEL_MASKED_BLIT
                                                                                     : VL_ACCEL_ALPHA_BLIT;
  if (IsVideoBitmap(dst)) {
    // Every handle the adapter gets must be its own: a picture or plane
    // of ours goes in through the adapter's lock instead.
    const bool ownsAll = (a->flags & VL_ADAPTER_OWNS_BITMAPS) != 0;
    return (src->driverOwned || ownsAll) && (!plane || ownsAll) ? 4 : 0;
  }
  return (a->accel & accel) ? 2 : 0;
}

// Hands the blit to the adapter when it takes it; true when it did.
bool AdapterBlit(Form form, vlBitmap* src, int32_t sx, int32_t sy, vlBitmap* dst, int32_t dx, int32_t dy,
                 int32_t w, int32_t h, vlBitmap* plane) {
  const vlGfxAdapter* a = GetGfxAdapter();
  uint32_t mode = AdapterBlitMode(form, src, dst, plane);
  if (!mode) return false;
  vlAdapterBlitBlock block = AdapterBlitRect(sx, sy, dx, dy, w, h);
  void* handle = plane ? plane->handle : nullptr;
  if (form == Form::Masked) block.maskHandle = handle;
  if (form == Form::Alpha) block.alphaHandle = handle;
  if (form == Form::Plain && src->driverOwned) {
    mode |= VL_BLITMODE_SOURCEVIDEO;
    if (src->secondHandle == 0) mode |= VL_BLITMODE_UNPREPARED;
  }
  if (IsComboTarget(dst)) {
    mode |= VL_BLITMODE_COMBO;
    block.reserved[0] = static_cast<uint32_t>(ComboAlphaMode());
    block.reserved[1] = ComboKeepsMask(dst) ? VL_PLANE_MASK : VL_PLANE_ALPHA;
    // A keyed source's alpha bytes are mask bits: outside its key the
    // target keeps its colour and alpha, as under a masked blit.
    if (form == Form::Plain && src->driverOwned && src->maskBytes) block.reserved[2] = 1;
  }
  if (IsPlaneTarget(dst)) {
    // Only the target's mask or alpha channel changes.
    mode |= VL_BLITMODE_PLANE;
    block.reserved[1] = PlaneTargetPlane();
    block.reserved[2] = static_cast<uint32_t>(PlaneTargetValue());
  }
  // The adapter reads and writes the pictures past their locks: what the
  // locks would settle first is settled here, as the software path does.
  SettleForAdapter(src, dst);
  a->bltBitMap(src->handle, dst->handle, &block, mode);
  return true;
}

// Where a 32-bit pixel of format keeps its alpha byte.
int AlphaByteOf(int32_t format) { return format == VL_PIXFMT_BGRA32 || format == VL_PIXFMT_RGBA32 ? 0 : 3; }
bool InverseAlpha() { return AdapterHas(VL_ADAPTER_INVERSE_ALPHA); }

// The alpha bytes of a video bitmap's rectangle (w x h, rows packed), read
// through its lock; false when it cannot be read.
bool ReadOwnAlpha(vlBitmap* src, int32_t sx, int32_t sy, int32_t w, int32_t h, uint8_t* out) {
  vlLockedPixels s(src, VL_LOCK_READ);
  const vlPixelAccess& a = s.access;
  if (!a.locked || a.bytesPerPixel != 4 || sx < 0 || sy < 0 || w > a.width - sx || h > a.height - sy) return false;
  const int byte = AlphaByteOf(a.format);
  const bool inverse = InverseAlpha();
  for (int32_t j = 0; j < h; ++j)
    for (int32_t i = 0; i < w; ++i) {
      const uint8_t v = At(a, sx + i, sy + j)[byte];
      out[static_cast<size_t>(j) * w + i] = inverse ? static_cast<uint8_t>(255 - v) : v;
    }
  return true;
}

// A video bitmap whose alpha bytes count, blended into dst by them as an
// alpha plane blends; false when its alpha cannot be read.
bool BlitByOwnAlpha(vlBitmap* src, int32_t sx, int32_t sy, vlBitmap* dst, int32_t dx, int32_t dy, int32_t w,
                    int32_t h) {
  if (sx < 0 || sy < 0) return false;
  // The plane is read at the source's coordinates.
  vlBitmap* plane = NewAlphaPlane(sx + w, sy + h, 1, nullptr, 0);
  if (!plane) return false;
  std::unique_ptr<uint8_t[]> bytes(new (std::nothrow) uint8_t[static_cast<size_t>(w) * h]);
  bool ok = bytes && ReadOwnAlpha(src, sx, sy, w, h, bytes.get());
  if (ok) {
    vlLockedPixels p(plane, 0);
    ok = p.access.locked;
    for (int32_t j = 0; ok && j < h; ++j)
      std::memcpy(p.access.pixels + static_cast<intptr_t>(sy + j) * p.access.rowLength + sx,
                  bytes.get() + static_cast<size_t>(j) * w, static_cast<size_t>(w));
  }
  if (ok) AlphaBlitBitmaps(src, sx, sy, dst, dx, dy, w, h, plane, nullptr, 0);
  DeleteAlphaPlane(plane);
  return ok;
}

// A blit into the mask or alpha channel of the plane target (its alpha
// bytes) through its lock: the source's coverage at each pixel (its mask
// bit, its alpha byte, its own alpha bytes, or full) changes them by the
// plane's value; the colours stay.
void PlaneBlitByLock(Form form, vlBitmap* src, int32_t sx, int32_t sy, vlBitmap* dst, int32_t dx, int32_t dy,
                     int32_t w, int32_t h, vlBitmap* plane) {
  if (sx < 0 || sy < 0 || dx < 0 || dy < 0) return;
  const size_t count = static_cast<size_t>(w) * h;
  std::unique_ptr<uint8_t[]> cover(new (std::nothrow) uint8_t[count]);
  if (!cover) return;
  bool ownBytes = false;  // the coverage is an alpha source's
  if (form == Form::Plain) {
    ownBytes = src->driverOwned && src->alphaBytes && ReadOwnAlpha(src, sx, sy, w, h, cover.get());
    if (!ownBytes) std::memset(cover.get(), 255, count);
  } else {
    vlLockedPixels p(plane, VL_LOCK_READ);
    const vlPixelAccess& a = p.access;
    if (!a.locked || w > a.width - sx || h > a.height - sy) return;
    for (int32_t j = 0; j < h; ++j) {
      const uint8_t* row = a.pixels + static_cast<intptr_t>(sy + j) * a.rowLength;
      for (int32_t i = 0; i < w; ++i)
        cover[static_cast<size_t>(j) * w + i] =
            form == Form::Masked ? (GetMaskBit(row, sx + i) ? 255 : 0) : row[sx + i];
    }
    ownBytes = form == Form::Alpha;
  }
  vlLockedPixels t(dst, 0);
  const vlPixelAccess& d = t.access;
  if (!d.locked || d.bytesPerPixel != 4 || w > d.width - dx || h > d.height - dy) return;
  const int byte = AlphaByteOf(d.format);
  const bool inverse = InverseAlpha();
  const bool mask = PlaneTargetPlane() == VL_PLANE_MASK;
  const int32_t value = PlaneTargetValue();
  for (int32_t j = 0; j < h; ++j)
    for (int32_t i = 0; i < w; ++i) {
      uint8_t* at = At(d, dx + i, dy + j) + byte;
      const int32_t c = cover[static_cast<size_t>(j) * w + i];
      const int32_t old = inverse ? 255 - *at : *at;
      int32_t next = old;
      if (mask) {
        const bool s = c != 0, was = old != 0;
        bool now = was;
        switch (value) {
          case 0: case 5: now = was || s; break;
          case 1: now = was && !s; break;
          case 2: now = s; break;
          case 3: now = was != s; break;
          case 4: now = was && s; break;
          default: break;
        }
        next = now ? 255 : 0;
      } else if (value >= 0) {
        if (c) next = value;
      } else if (ownBytes) {
        next = c;
      } else if (c) {
        next = 255;
      }
      *at = static_cast<uint8_t>(inverse ? 255 - next : next);
    }
}

// Writes a video bitmap's alpha bytes over a rectangle (w x h, rows
// packed) through its lock.
void WriteOwnAlpha(vlBitmap* dst, int32_t dx, int32_t dy, int32_t w, int32_t h, const uint8_t* bytes) {
  vlLockedPixels t(dst, 0);
  const vlPixelAccess& d = t.access;
  if (!d.locked || d.bytesPerPixel != 4 || dx < 0 || dy < 0 || w > d.width - dx || h > d.height - dy) return;
  const int byte = AlphaByteOf(d.format);
  const bool inverse = InverseAlpha();
  for (int32_t j = 0; j < h; ++j)
    for (int32_t i = 0; i < w; ++i) {
      const uint8_t v = bytes[static_cast<size_t>(j) * w + i];
      At(d, dx + i, dy + j)[byte] = inverse ? static_cast<uint8_t>(255 - v) : v;
    }
}

// A video bitmap whose alpha bytes count (its mask and alpha channel),
// drawn into through its lock: the colour kernels write whole pixels, so
// its alpha bytes are taken first and put back after, changed only in
// combo mode by the source's coverage as an adapter changes them.
class KeptAlpha {
 public:
  KeptAlpha(vlBitmap* dst, int32_t dx, int32_t dy, int32_t w, int32_t h) : dst_(dst), dx_(dx), dy_(dy), w_(w), h_(h) {
    if (!dst->driverOwned || !dst->alphaBytes || !IsVideoBitmap(dst)) return;
    bytes_.reset(new (std::nothrow) uint8_t[static_cast<size_t>(w) * h]);
    if (bytes_ && !ReadOwnAlpha(dst, dx, dy, w, h, bytes_.get())) bytes_.reset();
  }
  KeptAlpha(const KeptAlpha&) = delete;
  KeptAlpha& operator=(const KeptAlpha&) = delete;
  ~KeptAlpha() {
    if (bytes_) WriteOwnAlpha(dst_, dx_, dy_, w_, h_, bytes_.get());
  }
  bool Combo() const { return bytes_ && IsComboTarget(dst_); }
  // The target's alpha bytes as a plane at the target's coordinates, for
  // the blend that weighs them; null when it cannot be made.
  vlBitmap* AsPlane() const {
    vlBitmap* plane = bytes_ ? NewAlphaPlane(dx_ + w_, dy_ + h_, 1, nullptr, 0) : nullptr;
    bool filled = false;
    if (plane) {
      vlLockedPixels p(plane, 0);
      for (int32_t j = 0; p.ok() && j < h_; ++j)
        std::memcpy(p.access.pixels + static_cast<intptr_t>(dy_ + j) * p.access.rowLength + dx_,
                    bytes_.get() + static_cast<size_t>(j) * w_, static_cast<size_t>(w_));
      filled = p.ok();
    }
    if (filled) return plane;
    DeleteAlphaPlane(plane);
    return nullptr;
  }
  // Combo mode: a plain source covers the whole rectangle opaquely.
  void CoverAll() {
    if (Combo()) std::memset(bytes_.get(), 255, static_cast<size_t>(w_) * h_);
  }
  // Combo mode: where the coverage c (rows packed; null when it could not
  // be read) covers, the alpha byte becomes opaque (a mask) or follows the
  // alpha mode (an alpha source). A target that keeps a mask takes the
  // source's mask bits over the whole rectangle, an alpha byte of 255 as
  // a set bit.
  void Cover(const uint8_t* c, bool alphaSource) {
    if (!Combo() || !c) return;
    const int32_t mode = ComboAlphaMode();
    const bool keepsMask = ComboKeepsMask(dst_);
    for (size_t i = 0, n = static_cast<size_t>(w_) * h_; i < n; ++i) {
      const int32_t s = c[i], t = bytes_[i];
      int32_t r = t;
      if (keepsMask) r = (alphaSource ? s == 255 : s != 0) ? 255 : 0;
      else if (!alphaSource) r = s ? 255 : t;
      else if (mode == 0) r = s;
      else if (mode == 1) r = s ? s : t;
      else if (s) r = s >= 255 ? 255 : std::min(255, (s * 255 + (255 - s) * t + 127) / 255);
      bytes_[i] = static_cast<uint8_t>(r);
    }
  }

 private:
  vlBitmap* dst_;
  int32_t dx_, dy_, w_, h_;
  std::unique_ptr<uint8_t[]> bytes_;
};

// A plane's coverage over the source rectangle (rows packed): a set mask
// bit 255, an alpha byte itself; null when it cannot be read.
std::unique_ptr<uint8_t[]> PlaneCoverage(vlBitmap* plane, bool isMask, int32_t sx, int32_t sy, int32_t w, int32_t h) {
  std::unique_ptr<uint8_t[]> cover(new (std::nothrow) uint8_t[static_cast<size_t>(w) * h]);
  vlLockedPixels p(plane, VL_LOCK_READ);
  const vlPixelAccess& a = p.access;
  if (!cover || !a.locked || sx < 0 || sy < 0 || w > a.width - sx || h > a.height - sy) return nullptr;
  for (int32_t j = 0; j < h; ++j) {
    const uint8_t* row = a.pixels + static_cast<intptr_t>(sy + j) * a.rowLength;
    for (int32_t i = 0; i < w; ++i)
      cover[static_cast<size_t>(j) * w + i] = isMask ? (GetMaskBit(row, sx + i) ? 255 : 0) : row[sx + i];
  }
  return cover;
}

// Locks both pictures; fn(source, x, y, target, kernels) runs when both
// are colour pictures, with the source rectangle's corner at x, y.
// A source of another pixel format (a video bitmap held by the adapter as
// ARGB on a 16-bit screen, say) is first converted into the target's.
template <typename Fn>
void WithPair(vlBitmap* src, int32_t sx, int32_t sy, int32_t w, int32_t h, vlBitmap* dst, Fn fn) {
  vlPixelAccess s, d;
  if (!src || !dst || !LockPixels(src, VL_LOCK_READ, &s)) return;
  if (LockPixels(dst, 0, &d)) {
    const vlPixelKernels* k = BlitKernelsFor(d.format);
    if (!k || s.bytesPerPixel < 2) {
      // No kernels for the target: the software paths leave it untouched.
    } else if (s.format == d.format) {
      fn(s, sx, sy, d, *k);
    } else if (sx >= 0 && sy >= 0 && w <= s.width - sx && h <= s.height - sy) {
      const size_t count = static_cast<size_t>(w) * h;
      std::unique_ptr<uint32_t[]> argb(new (std::nothrow) uint32_t[count]);
      std::unique_ptr<uint8_t[]> pixels(new (std::nothrow) uint8_t[count * d.bytesPerPixel]);
      if (argb && pixels) {
        ReadAccessARGB(s, sx, sy, w, h, argb.get());
        // Colours only, whichever 32-bit order the source had: alpha lives
        // in the planes.
        for (size_t i = 0; i < count; ++i) argb[i] &= 0xFFFFFF;
        WriteARGBPixels(*k, d.format, argb.get(), w, pixels.get(), w, w, h);
        vlPixelAccess converted = d;
        converted.pixels = pixels.get();
        converted.rowLength = converted.width = w;
        converted.height = h;
        fn(converted, 0, 0, d, *k);
      }
    }
    UnlockPixels(dst, &d);
  }
  UnlockPixels(src, &s);
}

}  // namespace

bool TakeOwnAlphaApart(vlBitmap* src, int32_t sx, int32_t sy, int32_t w, int32_t h, vlBitmap** picture,
                       vlBitmap** mask, vlBitmap** alpha) {
  *picture = *mask = *alpha = nullptr;
  if (!src || !src->driverOwned || !src->alphaBytes || sx < 0 || sy < 0 || w <= 0 || h <= 0) return false;
  const size_t count = static_cast<size_t>(w) * h;
  std::unique_ptr<uint8_t[]> bytes(new (std::nothrow) uint8_t[count]);
  std::unique_ptr<uint32_t[]> argb(ReadBitmapARGB(src, sx, sy, w, h, 0));
  if (!bytes || !argb || !ReadOwnAlpha(src, sx, sy, w, h, bytes.get())) return false;
  vlBitmap* out = NewBitmap(w, h, 0, nullptr);
  if (!out) return false;
  WriteBitmapARGB(argb.get(), w * 4, out, 0, 0, w, h);
  // A key or a mask folded into the alpha bytes comes back as mask bits.
  const bool bits = src->maskBytes != 0;
  vlBitmap* plane = bits ? NewMaskPlane(out, w, h, 1, nullptr, 0) : NewAlphaPlane(w, h, 1, nullptr, 0);
  bool filled = false;
  if (plane) {
    vlLockedPixels p(plane, 0);
    for (int32_t j = 0; p.ok() && j < h; ++j) {
      uint8_t* row = p.Row(j);
      const uint8_t* from = bytes.get() + static_cast<size_t>(j) * w;
      if (bits)
        for (int32_t i = 0; i < w; ++i) SetMaskBit(row, i, from[i] != 0);
      else
        std::memcpy(row, from, static_cast<size_t>(w));
    }
    filled = p.ok();
  }
  if (!filled) {
    if (bits) DeleteMaskPlane(plane);
    else DeleteAlphaPlane(plane);
    DeleteBitmap(out);
    return false;
  }
  *picture = out;
  (bits ? *mask : *alpha) = plane;
  return true;
}

void BltBitmap(vlBitmap* src, int32_t sx, int32_t sy, vlBitmap* dst, int32_t dx, int32_t dy, int32_t w, int32_t h) {
  if (!src || !dst || w <= 0 || h <= 0) return;
  // A copy that covers every rectangle its target is owed makes the debt
  // moot, whoever makes the copy.
  DropOwedCopyCoveredBy(dst, src, dx, dy, w, h);
  if (AdapterBlit(Form::Plain, src, sx, sy, dst, dx, dy, w, h, nullptr)) return;
  if (IsPlaneTarget(dst)) return PlaneBlitByLock(Form::Plain, src, sx, sy, dst, dx, dy, w, h, nullptr);
  if (src->driverOwned && src->alphaBytes && BlitByOwnAlpha(src, sx, sy, dst, dx, dy, w, h)) return;
  KeptAlpha kept(dst, dx, dy, w, h);
  WithPair(src, sx, sy, w, h, dst, [&](vlPixelAccess& s, int32_t x, int32_t y, vlPixelAccess& d,
                                       const vlPixelKernels& k) {
    k.copy(At(s, x, y), s.rowLength, At(d, dx, dy), d.rowLength, w, h);
  });
  kept.CoverAll();
}

bool BltMixedBitmaps(vlBitmap* base, vlBitmap* toward, int32_t level, int32_t sx, int32_t sy, vlBitmap* dst,
                     int32_t dx, int32_t dy, int32_t w, int32_t h) {
  if (!base || !toward || !dst || w <= 0 || h <= 0 || sx < 0 || sy < 0 || dx < 0 || dy < 0) return false;
  if (AdapterBlitMode(Form::Plain, base, dst, nullptr) || AdapterBlitMode(Form::Plain, toward, dst, nullptr))
    return false;
  vlLockedPixels b(base, VL_LOCK_READ), t(toward, VL_LOCK_READ), d(dst, 0);
  const vlPixelAccess &ba = b.access, &ta = t.access, &da = d.access;
  if (!ba.locked || !ta.locked || !da.locked || ba.format != da.format || ta.format != da.format ||
      (da.bytesPerPixel != 4 && da.bytesPerPixel != 2) || !BlitKernelsFor(da.format))
    return false;
  if (w > ba.width - sx || h > ba.height - sy || w > ta.width - sx || h > ta.height - sy || w > da.width - dx ||
      h > da.height - dy)
    return false;
  if (level >= 255) {
    // The mix's end is the picture itself, copied whole.
    BlitKernelsFor(da.format)->copy(At(ta, sx, sy), ta.rowLength, At(da, dx, dy), da.rowLength, w, h);
    return true;
  }
  vlMixJob job{At(ba, sx, sy), At(da, dx, dy), nullptr, 0};
  job.toward = At(ta, sx, sy);
  job.towardRow = ta.rowLength;
  const int32_t ratio = 255 - (level < 0 ? 0 : level);
  if (da.bytesPerPixel == 4) MixPix32(job, w, h, ratio, da.format, ba.rowLength, da.rowLength, 0);
  else MixPix16(job, w, h, ratio, da.format, ba.rowLength, da.rowLength, 0);
  return true;
}

void BltBitmapMasked(vlBitmap* src, int32_t sx, int32_t sy, vlBitmap* dst, int32_t dx, int32_t dy, int32_t w,
                     int32_t h, vlBitmap* mask) {
  if (!src || !dst || !mask || w <= 0 || h <= 0) return;
  if (AdapterBlit(Form::Masked, src, sx, sy, dst, dx, dy, w, h, mask)) return;
  if (IsPlaneTarget(dst)) return PlaneBlitByLock(Form::Masked, src, sx, sy, dst, dx, dy, w, h, mask);
  KeptAlpha kept(dst, dx, dy, w, h);
  if (kept.Combo()) kept.Cover(PlaneCoverage(mask, true, sx, sy, w, h).get(), false);
  vlPixelAccess m;
  if (!LockPixels(mask, VL_LOCK_READ, &m)) return;
  WithPair(src, sx, sy, w, h, dst, [&](vlPixelAccess& s, int32_t x, int32_t y, vlPixelAccess& d,
                                       const vlPixelKernels& k) {
    const vlMaskCopyFn fast = FastMaskCopy(d.format);
    (fast ? fast : k.copyMasked)(At(s, x, y), s.rowLength, At(d, dx, dy), d.rowLength, w, h,
                 m.pixels + static_cast<intptr_t>(sy) * m.rowLength, m.rowLength, sx);
  });
  UnlockPixels(mask, &m);
}

void BltBitmapAlpha(vlBitmap* src, int32_t sx, int32_t sy, vlBitmap* dst, int32_t dx, int32_t dy, int32_t w,
                    int32_t h, vlBitmap* alpha) {
  if (!src || !dst || !alpha || w <= 0 || h <= 0) return;
  if (AdapterBlit(Form::Alpha, src, sx, sy, dst, dx, dy, w, h, alpha)) return;
  if (IsPlaneTarget(dst)) return PlaneBlitByLock(Form::Alpha, src, sx, sy, dst, dx, dy, w, h, alpha);
  KeptAlpha kept(dst, dx, dy, w, h);
  // In combo mode the colours go by the alpha mode (copied, copied where
  // covered, blended over the target's own alpha); a target that keeps a
  // mask blends them as ever.
  const int32_t mode = kept.Combo() && !ComboKeepsMask(dst) ? ComboAlphaMode() : -1;
  if (mode == 0) {
    WithPair(src, sx, sy, w, h, dst, [&](vlPixelAccess& s, int32_t x, int32_t y, vlPixelAccess& d,
                                         const vlPixelKernels& k) {
      k.copy(At(s, x, y), s.rowLength, At(d, dx, dy), d.rowLength, w, h);
    });
  } else if (mode > 0) {
    vlBitmap* own = mode == 2 ? kept.AsPlane() : nullptr;
    AlphaBlitBitmaps(src, sx, sy, dst, dx, dy, w, h, alpha, own, mode == 2 && own ? 2 : 1);
    DeleteAlphaPlane(own);
  } else {
    AlphaBlitBitmaps(src, sx, sy, dst, dx, dy, w, h, alpha, nullptr, 0);
  }
  if (kept.Combo()) kept.Cover(PlaneCoverage(alpha, false, sx, sy, w, h).get(), true);
}

namespace {

// Source rectangle at (x, y) over the target at (dx, dy) by the coverage
// plane's bytes from (px, py).
vlBlitJob AlphaJob(const vlPixelAccess& s, int32_t x, int32_t y, const vlPixelAccess& d, int32_t dx, int32_t dy,
                   int32_t w, int32_t h, const vlPixelAccess& a, int32_t px, int32_t py) {
  vlBlitJob job;
  job.source = s.pixels;
  job.sourceX = x;
  job.sourceY = y;
  job.sourceRow = s.rowLength;
  job.planeX = px;
  job.planeY = py;
  job.target = d.pixels;
  job.targetX = dx;
  job.targetY = dy;
  job.targetRow = d.rowLength;
  job.width = w;
  job.height = h;
  job.coverage = a.pixels;
  job.coverageRowBytes = a.rowLength;
  job.targetAlpha = nullptr;
  job.targetAlphaRowBytes = 0;
  job.format = d.format;
  return job;
}

}  // namespace

bool BltFirstRowAlpha(vlBitmap* src, int32_t sx, int32_t sy, vlBitmap* dst, int32_t dx, int32_t dy, int32_t w,
                      int32_t h, vlBitmap* alpha) {
  if (!src || !dst || !alpha || w <= 0 || h <= 0) return true;
  if (AdapterBlitMode(Form::Alpha, src, dst, alpha) || IsPlaneTarget(dst)) return false;
  if (dst->driverOwned && dst->alphaBytes && IsVideoBitmap(dst)) return false;  // its alpha bytes are kept apart
  vlPixelAccess s, d, a;
  bool done = false;
  if (!LockPixels(src, VL_LOCK_READ, &s)) return false;
  if (LockPixels(dst, 0, &d)) {
    if (s.format == d.format && s.bytesPerPixel >= 2 && BlitKernelsFor(d.format) && sx >= 0 && sx + w <= s.width &&
        LockPixels(alpha, VL_LOCK_READ, &a)) {
      vlBlitJob job = AlphaJob(s, sx, 0, d, dx, dy, w, h, a, sx, sy);
      job.sourceRow = 0;  // every row reads the first
      AlphaBlitPixels(job, d.bytesPerPixel, 0);
      UnlockPixels(alpha, &a);
      done = true;
    }
    UnlockPixels(dst, &d);
  }
  UnlockPixels(src, &s);
  return done;
}

bool FillRectsFromFirstRow(vlBitmap* src, int32_t sx, vlBitmap* dst, const int32_t* rects, int32_t count,
                           vlBitmap* alpha) {
  if (!src || !dst || !alpha || count < 0 || (count && !rects)) return false;
  if (AdapterBlitMode(Form::Alpha, src, dst, alpha) || IsPlaneTarget(dst)) return false;
  if (dst->driverOwned && dst->alphaBytes && IsVideoBitmap(dst)) return false;
  vlPixelAccess s, d;
  bool done = false;
  if (!LockPixels(src, VL_LOCK_READ, &s)) return false;
  if (LockPixels(dst, 0, &d)) {
    const vlPixelKernels* k = PixelKernelsFor(d.format);
    const vlFillFn fast = FastFill(d.format), fill = fast ? fast : k ? k->fill : nullptr;
    bool fits = s.format == d.format && (d.bytesPerPixel == 2 || d.bytesPerPixel == 4) && fill && sx >= 0 &&
                sx < s.width && s.height > 0;
    for (int32_t i = 0; fits && i < count; ++i) {
      const int32_t* r = rects + 4 * i;
      fits = r[0] >= 0 && r[1] >= 0 && r[2] > 0 && r[3] > 0 && r[2] <= d.width - r[0] && r[3] <= d.height - r[1];
    }
    if (fits) {
      uint32_t pixel = 0;
      std::memcpy(&pixel, At(s, sx, 0), static_cast<size_t>(d.bytesPerPixel));  // the stored bytes, as a blend keeps them
      for (int32_t i = 0; i < count; ++i) {
        const int32_t* r = rects + 4 * i;
        fill(At(d, r[0], r[1]), d.rowLength, r[2], r[3], pixel);
      }
      done = true;
    }
    UnlockPixels(dst, &d);
  }
  UnlockPixels(src, &s);
  return done;
}

void AlphaBlitBitmaps(vlBitmap* src, int32_t sx, int32_t sy, vlBitmap* dst, int32_t dx, int32_t dy, int32_t w,
                      int32_t h, vlBitmap* alpha, vlBitmap* outAlpha, int32_t mode) {
  if (w <= 0 || h <= 0) return;
  vlPixelAccess a, o{};
  if (!LockPixels(alpha, VL_LOCK_READ, &a)) return;
  if (mode == 2 && outAlpha && !LockPixels(outAlpha, VL_LOCK_READ, &o)) {
    UnlockPixels(alpha, &a);
    return;
  }
  WithPair(src, sx, sy, w, h, dst, [&](vlPixelAccess& s, int32_t x, int32_t y, vlPixelAccess& d,
                                       const vlPixelKernels&) {
    vlBlitJob job = AlphaJob(s, x, y, d, dx, dy, w, h, a, sx, sy);
    job.targetAlpha = o.locked ? o.pixels : nullptr;
    job.targetAlphaRowBytes = o.rowLength;
    AlphaBlitPixels(job, d.bytesPerPixel, mode);
  });
  if (o.locked) UnlockPixels(outAlpha, &o);
  UnlockPixels(alpha, &a);
}

void BltAlphaChannel(vlBitmap* alpha, int32_t sx, int32_t sy, vlBitmap* dst, int32_t dx, int32_t dy, int32_t w,
                     int32_t h, uint32_t color, int32_t mode, vlBitmap* targetAlpha, int32_t intensity,
                     vlBitmap* sourcePicture, const uint8_t* alphaPixels, int32_t alphaRowBytes) {
  if (!dst) {
    std::fputs("ERROR! BLTALPHACHANNEL() CALLED WITH DST=NULL!\n", stdout);
    return;
  }
  if (w <= 0 || h <= 0) return;
  const vlGfxAdapter* ad = GetGfxAdapter();
  // The adapter reads the plane by its handle: not bytes handed in apart.
  if (mode == 1 && !targetAlpha && !sourcePicture && alpha && !alphaPixels && ad && ad->grantsAlphaChannel &&
      ad->alphaChannel && ad->grantsAlphaChannel()) {
    SettleForAdapter(nullptr, dst);
    ad->alphaChannel(alpha ? alpha->handle : nullptr, sx, sy, dst->handle, dx, dy, w, h, color);
    return;
  }
  vlPixelAccess a{}, d, t{}, s{};
  if (!alphaPixels) {
    if (!LockPixels(alpha, VL_LOCK_READ, &a)) return;
    alphaPixels = a.pixels;
    alphaRowBytes = a.rowLength;
  }
  if (LockPixels(dst, 0, &d)) {
    const bool haveT = !targetAlpha || LockPixels(targetAlpha, 0, &t);
    const bool haveS = !sourcePicture || LockPixels(sourcePicture, VL_LOCK_READ, &s);
    if (haveT && haveS && (d.bytesPerPixel == 2 || d.bytesPerPixel == 4) &&
        (!s.locked || s.bytesPerPixel == d.bytesPerPixel)) {
      vlAlphaChannelJob job{};
      job.dst = At(d, dx, dy);
      job.dstRow = d.rowLength;
      job.width = w;
      job.height = h;
      job.coverage = alphaPixels + static_cast<intptr_t>(sy) * alphaRowBytes + sx;
      job.coverageRowBytes = alphaRowBytes;
      job.color = d.bytesPerPixel == 2 ? ColorToPixel(color, VL_PIXFMT_RGB16, 0) : (color & 0xFFFFFF);
      job.texture = s.locked ? At(s, dx, dy) : nullptr;
      job.textureRow = s.rowLength;
      job.targetAlpha = t.locked ? t.pixels + static_cast<intptr_t>(dy) * t.rowLength + dx : nullptr;
      job.targetAlphaRowBytes = t.rowLength;
      job.intensity = intensity;
      job.mode = mode;
      AlphaChannelPixels(d.format, job);
    }
    if (s.locked) UnlockPixels(sourcePicture, &s);
    if (t.locked) UnlockPixels(targetAlpha, &t);
    UnlockPixels(dst, &d);
  }
  if (a.locked) UnlockPixels(alpha, &a);
}

void BltAlphaChannelClipped(vlBitmap* alpha, int32_t sx, int32_t sy, vlBitmap* dst, int32_t dx, int32_t dy,
                            int32_t w, int32_t h, uint32_t color, int32_t mode, vlBitmap* targetAlpha,
                            int32_t intensity, vlBitmap* sourcePicture, const uint8_t* alphaPixels,
                            int32_t alphaRowBytes) {
  if (!dst) {
    BltAlphaChannel(alpha, sx, sy, dst, dx, dy, w, h, color, mode, targetAlpha, intensity, sourcePicture,
                    alphaPixels, alphaRowBytes);
    return;
  }
  if (dx < 0) {
    sx -= dx;
    w += dx;
    dx = 0;
  }
  if (dy < 0) {
    sy -= dy;
    h += dy;
    dy = 0;
  }
  if (w > dst->width - dx) w = dst->width - dx;
  if (h > dst->height - dy) h = dst->height - dy;
  BltAlphaChannel(alpha, sx, sy, dst, dx, dy, w, h, color, mode, targetAlpha, intensity, sourcePicture, alphaPixels,
                  alphaRowBytes);
}

void CopyAlphaRect(vlBitmap* src, int32_t sx, int32_t sy, vlBitmap* dst, int32_t dx, int32_t dy, int32_t w,
                   int32_t h, int32_t mode, int32_t value) {
  if (w <= 0 || h <= 0) return;
  vlPixelAccess s, d;
  if (!LockPixels(src, VL_LOCK_READ, &s)) return;
  if (LockPixels(dst, 0, &d)) {
    CombineAlphaRect(s.pixels + static_cast<intptr_t>(sy) * s.rowLength + sx, s.rowLength,
                     d.pixels + static_cast<intptr_t>(dy) * d.rowLength + dx, d.rowLength, w, h, mode, value);
    UnlockPixels(dst, &d);
  }
  UnlockPixels(src, &s);
}

void CopyAlphaRectClipped(vlBitmap* src, int32_t sx, int32_t sy, vlBitmap* dst, int32_t dx, int32_t dy, int32_t w,
                          int32_t h, int32_t mode, int32_t value) {
  if (!dst) return;
  if (dx < 0) {
    sx -= dx;
    w += dx;
    dx = 0;
  }
  if (dy < 0) {
    sy -= dy;
    h += dy;
    dy = 0;
  }
  if (w > dst->width - dx) w = dst->width - dx;
  if (h > dst->height - dy) h = dst->height - dy;
  CopyAlphaRect(src, sx, sy, dst, dx, dy, w, h, mode, value);
}

void TileBitmap(vlBitmap* target, int32_t x, int32_t y, int32_t width, int32_t height, vlBitmap* tile,
                int32_t offsetX, int32_t offsetY, int32_t tileWidth, int32_t tileHeight, const uint32_t* argb,
                int32_t argbRowPixels) {
  if (!target || tileWidth <= 0 || tileHeight <= 0 || width <= 0 || height <= 0) return;
  int32_t ox = offsetX % tileWidth, oy = offsetY % tileHeight;
  if (ox < 0) ox += tileWidth;
  if (oy < 0) oy += tileHeight;
  vlPixelAccess d{};
  if (argb && !LockPixels(target, 0, &d)) return;
  const bool direct = argb && d.bytesPerPixel == 4;
  for (int32_t ty = y, sy = oy; ty < y + height; sy = 0) {
    const int32_t ph = tileHeight - sy < y + height - ty ? tileHeight - sy : y + height - ty;
    for (int32_t tx = x, sx = ox; tx < x + width; sx = 0) {
      const int32_t pw = tileWidth - sx < x + width - tx ? tileWidth - sx : x + width - tx;
      if (direct) {
        for (int32_t j = 0; j < ph; ++j)
          std::memcpy(At(d, tx, ty + j), argb + static_cast<intptr_t>(sy + j) * argbRowPixels + sx,
                      static_cast<size_t>(pw) * 4);
      } else if (!argb) {
        BltBitmap(tile, sx, sy, target, tx, ty, pw, ph);
      }
      tx += pw;
    }
    ty += ph;
  }
  if (d.locked) UnlockPixels(target, &d);
}

int32_t ResolveAspectSize(int32_t srcWidth, int32_t srcHeight, int32_t* width, int32_t* height) {
  // A source without size has no aspect to keep.
  if (*width < 1 || *height < 1 || srcWidth < 1 || srcHeight < 1) return ERR_BADDIMENSIONS;
  if (*width == VL_KEEPASPRAT && *height == VL_KEEPASPRAT) return ERR_WRONGUSAGE;
  long double v;
  int32_t* out;
  if (*width == VL_KEEPASPRAT) {
    v = static_cast<long double>(*height) * srcWidth / srcHeight;
    out = width;
  } else if (*height == VL_KEEPASPRAT) {
    v = static_cast<long double>(*width) * srcHeight / srcWidth;
    out = height;
  } else {
    return 0;
  }
  int32_t r = vl::DoubleToInt32(static_cast<double>(v));
  if (v - r >= 0.5L) ++r;
  *out = r;
  return 0;
}
