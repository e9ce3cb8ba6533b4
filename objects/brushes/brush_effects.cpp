// The brush image-processing commands: thin handlers that check their
// arguments, find the brush and run one engine over its planes.
#include <algorithm>
#include <cmath>
#include <memory>

#include "graphics/bitmap.h"
#include "graphics/effect_engines.h"
#include "graphics/image_kernels.h"
#include "graphics/picture_engines.h"
#include "graphics/pixel_kernels.h"
#include "graphics/position.h"
#include "graphics/quantize.h"
#include "objects/brushes/brush.h"
#include "objects/brushes/brush_commands.h"
#include "runtime/error_vm.h"
#include "runtime/object_data.h"
#include "runtime/option_readers.h"
#include "vm/argreaders.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

int RefuseActiveBrush(vlVMState* L, vlObjectId id) {
  vlBrush* b = nullptr;
  return GetBrushByID(L, id, &b, VL_BRUSH_HARDWAREOK | VL_BRUSH_NOLAYERCOPY) == 0 && IsActiveBrush(b) ? ERR_MODIFYABR
                                                                                                     : 0;
}

int FindBrushToChange(vlVMState* L, int index, vlBrush** out) {
  vlObjectId id;
  GetObjectIDArg(&id, L, index);
  // The brush drawn into is refused before the look-up gives layers that
  // show it their copies; a vector brush before its lock is looked at.
  if (int status = RefuseActiveBrush(L, id)) return status;
  if (int status = GetBrushByID(L, id, out, VL_BRUSH_FINDUNLOCKED | VL_BRUSH_NOVECTOR)) return status;
  if (!(*out)->bitmap) return ERR_BRUSHTYPE;
  return 0;
}

void ReplaceBrushPlanes(vlBrush* b, vlBitmap* bitmap, vlBitmap* mask, vlBitmap* alpha, int width, int height) {
  if (b->bitmap && b->bitmap != bitmap) DeleteBitmap(b->bitmap);
  if (b->mask && b->mask != mask) DeleteMaskPlane(b->mask);
  if (b->alpha && b->alpha != alpha) DeleteAlphaPlane(b->alpha);
  b->bitmap = bitmap;
  b->mask = mask;
  b->alpha = alpha;
  b->width = b->sourceRowLength = width;
  b->height = height;
  if (!mask) b->transparentColor = -1;
  else if (b->transparentColor == -1) b->transparentColor = 0xAFC0DE;
}

namespace {

#define BRUSH_OR_RETURN(index)                                  \
  vlBrush* b = nullptr;                                         \
  if (int status_ = FindBrushToChange(L, index, &b)) return status_

int32_t Level(vlVMState* L, int index) {
  return static_cast<int32_t>(GetNumberOrPercentArg(L, index, 255, 0, nullptr));
}

int32_t Clamp255(int32_t v) { return v < 0 ? 0 : v > 255 ? 255 : v; }

// Mask bits set where the alpha plane is not fully transparent; false
// when either plane cannot be locked.
bool MaskFromAlpha(vlBitmap* alpha, vlBitmap* mask, int32_t width, int32_t height) {
  vlLockedPixels a(alpha, VL_LOCK_READ), m(mask, 0);
  if (!a.ok() || !m.ok()) return false;
  width = std::min({width, a.access.width, m.access.width});
  height = std::min({height, a.access.height, m.access.height});
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x)
      if (a.Row(y)[x]) SetMaskBit(m.Row(y), x, 1);
  return true;
}

int Convolve(vlVMState* L, uint32_t op, double sigmaDefault, bool readSigma) {
  CheckArgs(L, 1, readSigma ? 3 : 2, 0, 0);
  const double radius = vl::OptNumberArg(L, 2, 0);
  if (radius < 0) return ERR_WRONGUSAGE;
  const double sigma = readSigma ? vl::OptNumberArg(L, 3, radius / 3) : sigmaDefault;
  BRUSH_OR_RETURN(1);
  return ConvolveBitmap(op, b->bitmap, b->alpha, b->width, b->height, radius, sigma, nullptr);
}

int Distort(vlVMState* L, int32_t method, int count, int minArgs, int maxArgs) {
  CheckArgs(L, minArgs, maxArgs, 0, 0);
  const int32_t flag = vl::OptIntArg(L, count + 2, 0);
  BRUSH_OR_RETURN(1);
  double coeff[16];
  int n = 0;
  while (n < count && vl::GetTypeAt(L, 2 + n) == VL_TNUMBER) {
    coeff[n] = vl::CheckNumberArg(L, 2 + n);
    ++n;
  }
  if (method == 4) {
    if (n != 8) return ERR_WRONGUSAGE;
    // Each corner of the brush paired with its new position.
    const double corners[8] = {0, 0, double(b->width), 0, double(b->width), double(b->height), 0, double(b->height)};
    double pairs[16];
    for (int i = 0; i < 4; ++i) {
      pairs[i * 4] = corners[i * 2];
      pairs[i * 4 + 1] = corners[i * 2 + 1];
      pairs[i * 4 + 2] = coeff[i * 2];
      pairs[i * 4 + 3] = coeff[i * 2 + 1];
    }
    for (int i = 0; i < 16; ++i) coeff[i] = pairs[i];
    n = 16;
  }
  vlBitmap *bitmap = nullptr, *mask = nullptr, *alpha = nullptr;
  int32_t w = 0, h = 0;
  if (int status = DistortBitmap(b->bitmap, b->mask, b->alpha, b->width, b->height, method, n, coeff, flag, &bitmap,
                                 &mask, &alpha, &w, &h))
    return status;
  ReplaceBrushPlanes(b, bitmap, mask, alpha, w, h);
  return 0;
}

}  // namespace

int CmdReduceAlphaChannel(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  const int32_t level = Level(L, 2);
  if (level < 0 || level > 255) return ERR_WRONGUSAGE;
  BRUSH_OR_RETURN(1);
  if (!b->alpha) return ERR_WRONGUSAGE;
  ScaleAlphaPlane(b->alpha, b->alpha, level);
  return 0;
}

int CmdQuantizeBrush(vlVMState* L) {
  CheckArgs(L, 1, 3, 0, 0);
  const int32_t colors = vl::OptIntArg(L, 2, 256), dither = vl::OptIntArg(L, 3, 1);
  if (colors < 1 || colors > 256) return ERR_WRONGUSAGE;
  BRUSH_OR_RETURN(1);
  return QuantizeBitmap(b->bitmap, b->width, b->height, colors, dither);
}

int CmdWriteBrushPixel(vlVMState* L) {
  CheckArgs(L, 4, 5, 0, 0);
  BRUSH_OR_RETURN(1);
  const int32_t x = ResolvePosX(vl::CheckIntArg(L, 2), 1, b->width, 0);
  const int32_t y = ResolvePosY(vl::CheckIntArg(L, 3), 1, b->height, 0);
  const uint32_t color = static_cast<uint32_t>(vl::CheckIntArg(L, 4)) & 0xFFFFFF;
  const int32_t alpha = vl::OptIntArg(L, 5, -1);
  if (x < 0 || y < 0 || x >= b->width || y >= b->height) return 0;
  WriteBitmapPixel(b->bitmap, x, y, color, 0);
  if (alpha == -1) return 0;
  if (b->mask) WriteBitmapPixel(b->mask, x, y, alpha ? 0 : 1, 1);  // mode 0 sets, 1 clears
  if (b->alpha && !WriteAlphaByte(b->alpha, x, y, static_cast<uint8_t>(Clamp255(alpha)))) return ERR_LOCKBMAP;
  return 0;
}

int CmdReadBrushPixel(vlVMState* L) {
  CheckArgs(L, 3, 3, 0, 0);
  vlObjectId id;
  GetObjectIDArg(&id, L, 1);
  vlBrush* b = nullptr;
  if (int status = GetBrushByID(L, id, &b, 0)) return status;
  if (!b->bitmap) return ERR_BRUSHTYPE;
  const int32_t x = ResolvePosX(vl::CheckIntArg(L, 2), 1, b->width, 0);
  const int32_t y = ResolvePosY(vl::CheckIntArg(L, 3), 1, b->height, 0);
  double color = -1, extra = -1;
  if (x >= 0 && y >= 0 && x < b->width && y < b->height) {
    color = ReadBitmapPixel(b->bitmap, x, y, 0) & 0xFFFFFF;
    if (b->mask) {
      extra = ReadBitmapPixel(b->mask, x, y, 1);
    } else if (b->alpha) {
      extra = ReadAlphaByte(b->alpha, x, y);
    }
  }
  vl::PushNumber(L, color);
  vl::PushNumber(L, extra);
  return 2;
}

int CmdBrushToRGBArray(vlVMState* L) {
  CheckArgs(L, 1, 2, 0, 0);
  vlObjectId id;
  GetObjectIDArg(&id, L, 1);
  vlBrush* b = nullptr;
  if (int status = GetBrushByID(L, id, &b, 0)) return status;
  if (!b->bitmap) return ERR_BRUSHTYPE;
  const bool invert = vl::OptIntArg(L, 2, 0) != 0;
  // Colours with the alpha of the alpha plane, else of the mask, read
  // through the locks before the table is filled: filling it may unwind.
  const int32_t w = b->width, h = b->height;
  std::unique_ptr<uint32_t[]> argb(
      ReadBitmapARGBMasked(b->bitmap, 0, 0, w, h, b->alpha ? nullptr : b->mask, b->alpha, -1, 1, 0));
  if (!argb) return ERR_LOCKBMAP;
  vl::PushNewTable(L);
  for (int32_t n = 0; n < w * h; ++n) {
    const uint32_t a = argb[n] >> 24;
    vl::PushNumber(L, ((invert ? 255 - a : a) << 24) | (argb[n] & 0xFFFFFF));
    vl::RawSetTableIndex(L, -2, n);
  }
  return 1;
}

int CmdOilPaintBrush(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  const double radius = vl::CheckNumberArg(L, 2);
  if (radius < 0) return ERR_WRONGUSAGE;
  BRUSH_OR_RETURN(1);
  return OilPaintBitmap(b->bitmap, b->width, b->height, radius);
}

int CmdWaterRippleBrush(vlVMState* L) {
  CheckArgs(L, 1, 6, 0, 0);
  BRUSH_OR_RETURN(1);
  return WaterRippleBitmap(b->bitmap, b->mask, b->alpha, b->width, b->height, vl::OptIntArg(L, 2, 32),
                           vl::OptIntArg(L, 3, 1), vl::OptIntArg(L, 4, 0), vl::OptNumberArg(L, 5, 0.5),
                           vl::OptNumberArg(L, 6, 0.5));
}

int CmdChangeBrushTransparency(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  const int32_t kind = vl::CheckIntArg(L, 2);
  if (kind != 28 && kind != 30 && kind != -1) return ERR_WRONGUSAGE;
  BRUSH_OR_RETURN(1);
  if (kind == -1) {
    ReplaceBrushPlanes(b, b->bitmap, nullptr, nullptr, b->width, b->height);
  } else if (kind == 28 && !b->mask) {
    vlBitmap* mask = NewMaskPlane(b->bitmap, b->width, b->height, 1, nullptr, 0);
    if (!mask) return ERR_ALLOCMASK;
    if (b->alpha) {
      if (!MaskFromAlpha(b->alpha, mask, b->width, b->height)) {
        DeleteMaskPlane(mask);
        return ERR_LOCKBMAP;
      }
    } else {
      FillMaskRect(mask, 0, 0, b->width, b->height, 0);
    }
    ReplaceBrushPlanes(b, b->bitmap, mask, nullptr, b->width, b->height);
  } else if (kind == 30 && !b->alpha) {
    vlBitmap* alpha = NewAlphaPlane(b->width, b->height, 1, nullptr, 0);
    if (!alpha) return ERR_ALLOCALPHA;
    if (b->mask) MaskToAlphaBytes(b->mask, 0, 0, alpha, 0, 0, b->width, b->height, 255);
    else FillAlphaRect(alpha, 0, 0, b->width, b->height, 255);
    ReplaceBrushPlanes(b, b->bitmap, nullptr, alpha, b->width, b->height);
  }
  return 0;
}

int CmdBrushToMonochrome(vlVMState* L) {
  CheckArgs(L, 1, 2, 0, 0);
  BRUSH_OR_RETURN(1);
  return MonochromeBitmap(b->bitmap, b->width, b->height, vl::OptIntArg(L, 2, 1));
}

int CmdPixelateBrush(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  BRUSH_OR_RETURN(1);
  const int32_t size = vl::CheckIntArg(L, 2);
  if (size < 1 || size > b->width || size > b->height) return ERR_WRONGUSAGE;
  return PixelateBitmap(b->bitmap, b->mask, b->alpha, b->width, b->height, size);
}

int CmdSwirlBrush(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  BRUSH_OR_RETURN(1);
  return SwirlBitmap(b->bitmap, b->mask, b->alpha, b->width, b->height, vl::CheckIntArg(L, 2));
}

int CmdCharcoalBrush(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  const double factor = vl::CheckNumberArg(L, 2);
  if (factor < 0) return ERR_WRONGUSAGE;
  BRUSH_OR_RETURN(1);
  return CharcoalBitmap(b->bitmap, b->alpha, b->width, b->height, factor, 1.0);
}

int CmdSepiaToneBrush(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  BRUSH_OR_RETURN(1);
  return SepiaToneBitmap(b->bitmap, b->width, b->height, Level(L, 2));
}

int CmdModulateBrush(vlVMState* L) {
  CheckArgs(L, 4, 4, 0, 0);
  const double bright = vl::CheckNumberArg(L, 2), sat = vl::CheckNumberArg(L, 3), hue = vl::CheckNumberArg(L, 4);
  if (bright < 0 || sat < 0 || hue < 0) return ERR_WRONGUSAGE;
  BRUSH_OR_RETURN(1);
  return ModulateBitmap(b->bitmap, b->width, b->height, bright, sat, hue);
}

int CmdContrastBrush(vlVMState* L) {
  CheckArgs(L, 2, 3, 0, 0);
  const int32_t amount = vl::CheckIntArg(L, 2), times = vl::OptIntArg(L, 3, 1);
  if (times < 1) return ERR_WRONGUSAGE;
  BRUSH_OR_RETURN(1);
  return ContrastBitmap(b->bitmap, b->width, b->height, amount, times, nullptr);
}

int CmdGammaBrush(vlVMState* L) {
  CheckArgs(L, 4, 4, 0, 0);
  BRUSH_OR_RETURN(1);
  return GammaBitmap(b->bitmap, b->width, b->height, vl::CheckNumberArg(L, 2), vl::CheckNumberArg(L, 3),
                     vl::CheckNumberArg(L, 4));
}

int CmdSolarizeBrush(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  BRUSH_OR_RETURN(1);
  return SolarizeBitmap(b->bitmap, b->width, b->height, Level(L, 2));
}

int CmdSharpenBrush(vlVMState* L) { return Convolve(L, 's', 1.0, false); }
int CmdEdgeBrush(vlVMState* L) { return Convolve(L, 'g', 0.0, false); }
int CmdEmbossBrush(vlVMState* L) { return Convolve(L, 'e', 1.0, false); }
int CmdBlurBrush(vlVMState* L) { return Convolve(L, 'b', 0.0, true); }

int CmdTrimBrush(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  BRUSH_OR_RETURN(1);
  int32_t left = b->width, top = b->height, right = -1, bottom = -1;
  if (!b->mask && !b->alpha) {
    left = top = 0;
    right = b->width - 1;
    bottom = b->height - 1;
  } else {
    // The mask's set bits, else the alpha plane's nonzero bytes, through
    // the plane's lock (released before the brush changes).
    const bool isMask = b->mask != nullptr;
    vlLockedPixels plane(isMask ? b->mask : b->alpha, VL_LOCK_READ);
    if (!plane.ok()) return ERR_LOCKBMAP;
    const int32_t w = std::min(b->width, plane.access.width), h = std::min(b->height, plane.access.height);
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) {
        const bool visible = isMask ? GetMaskBit(plane.Row(y), x) != 0 : plane.Row(y)[x] != 0;
        if (!visible) continue;
        if (x < left) left = x;
        if (x > right) right = x;
        if (y < top) top = y;
        if (y > bottom) bottom = y;
      }
  }
  if (right < 0 || bottom < top) return ERR_TRANSBRUSH;
  const int32_t w = right - left + 1, h = bottom - top + 1;
  if (w != b->width || h != b->height) {
    vlBitmap *bitmap = nullptr, *mask = nullptr, *a = nullptr;
    if (int status = CopyBitmapRegion(b->bitmap, b->mask, b->alpha, left, top, w, h, 0, 0, 0, &bitmap,
                                      b->mask ? &mask : nullptr, b->alpha ? &a : nullptr))
      return status;
    ReplaceBrushPlanes(b, bitmap, mask, a, w, h);
  } else {
    left = top = 0;
  }
  vl::PushNumber(L, left);
  vl::PushNumber(L, top);
  return 2;
}

int CmdDeleteMask(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  BRUSH_OR_RETURN(1);
  ReplaceBrushPlanes(b, b->bitmap, nullptr, b->alpha, b->width, b->height);
  return 0;
}

int CmdDeleteAlphaChannel(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  BRUSH_OR_RETURN(1);
  const int32_t transparent = b->transparentColor;
  ReplaceBrushPlanes(b, b->bitmap, b->mask, nullptr, b->width, b->height);
  if (b->mask) b->transparentColor = transparent;
  return 0;
}

int CmdInvertAlphaChannel(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  BRUSH_OR_RETURN(1);
  if (!b->alpha) return ERR_WRONGUSAGE;
  vlLockedPixels alpha(b->alpha, 0);
  if (!alpha.ok()) return ERR_LOCKBMAP;
  InvertPlaneBytes(alpha.access.pixels, alpha.access.height, alpha.access.rowLength);
  return 0;
}

int CmdInvertMask(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  BRUSH_OR_RETURN(1);
  if (!b->mask) return ERR_WRONGUSAGE;
  FillMaskRect(b->mask, 0, 0, b->width, b->height, 3);  // mode 3 flips every bit
  return 0;
}

int CmdCropBrush(vlVMState* L) {
  CheckArgs(L, 5, 5, 0, 0);
  int32_t w = vl::CheckIntArg(L, 4), h = vl::CheckIntArg(L, 5);
  if (w < 1 || h < 1) return ERR_BADDIMENSIONS;
  BRUSH_OR_RETURN(1);
  const int32_t x = ResolvePosX(vl::CheckIntArg(L, 2), w, b->width, 0);
  const int32_t y = ResolvePosY(vl::CheckIntArg(L, 3), h, b->height, 0);
  if (x < 0 || y < 0) return ERR_NEGCOORDS;
  if (x >= b->width || y >= b->height) return ERR_COORDSRANGE;
  if (x + w > b->width) w = b->width - x;
  if (y + h > b->height) h = b->height - y;
  vlBitmap *bitmap = nullptr, *mask = nullptr, *alpha = nullptr;
  if (int status = CopyBitmapRegion(b->bitmap, b->mask, b->alpha, x, y, w, h, 0, 0, 0, &bitmap,
                                    b->mask ? &mask : nullptr, b->alpha ? &alpha : nullptr))
    return status;
  const int32_t transparent = b->transparentColor;
  ReplaceBrushPlanes(b, bitmap, mask, alpha, w, h);
  if (mask) b->transparentColor = transparent;
  return 0;
}

int CmdSetBrushTransparency(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  BRUSH_OR_RETURN(1);
  const int32_t color = vl::CheckIntArg(L, 2);
  vlBitmap* mask = nullptr;
  if (color != -1 && !(mask = MaskFromColorKey(b->bitmap, b->width, b->height, static_cast<uint32_t>(color))))
    return ERR_MEM;
  ReplaceBrushPlanes(b, b->bitmap, mask, nullptr, b->width, b->height);
  b->transparentColor = mask ? color : -1;
  return 0;
}

int CmdBrushToGray(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  BRUSH_OR_RETURN(1);
  return GrayBitmap(b->bitmap, b->width, b->height, 0, nullptr);
}

int CmdMixBrush(vlVMState* L) {
  CheckArgs(L, 3, 3, 0, 0);
  BRUSH_OR_RETURN(1);
  vlObjectId otherId;
  GetObjectIDArg(&otherId, L, 2);
  vlBrush* other = nullptr;
  if (int status = GetBrushByID(L, otherId, &other, 0)) return status;
  if (!other->bitmap) return ERR_BRUSHTYPE;
  const int32_t level = Clamp255(Level(L, 3));
  const int32_t w = b->width < other->width ? b->width : other->width;
  const int32_t h = b->height < other->height ? b->height : other->height;
  return MixBitmaps(b->bitmap, other->bitmap, b->mask, 0, 0, 0, 0, w, h, level, b->alpha, b->width, b->height);
}

int CmdFlipBrush(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  BRUSH_OR_RETURN(1);
  return FlipBitmap(b->bitmap, b->mask, b->alpha, b->width, b->height, vl::CheckIntArg(L, 2));
}

int CmdInvertBrush(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  BRUSH_OR_RETURN(1);
  return InvertBitmapColors(b->bitmap, b->width, b->height, nullptr);
}

int CmdTintBrush(vlVMState* L) {
  CheckArgs(L, 3, 3, 0, 0);
  BRUSH_OR_RETURN(1);
  const uint32_t color = static_cast<uint32_t>(vl::CheckIntArg(L, 2));
  return TintBitmap(b->bitmap, 0, 0, b->width, b->height, color, Clamp255(Level(L, 3)));
}

int CmdBarrelDistortBrush(vlVMState* L) { return Distort(L, 12, 10, 4, 12); }
int CmdPolarDistortBrush(vlVMState* L) { return Distort(L, 10, 6, 1, 8); }
int CmdArcDistortBrush(vlVMState* L) { return Distort(L, 9, 4, 2, 6); }
int CmdPerspectiveDistortBrush(vlVMState* L) { return Distort(L, 4, 8, 9, 10); }
