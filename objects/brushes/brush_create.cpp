// Brushes made from other objects: copies, conversions of BGPics, brushes
// and layers, soft borders and shadows, grabs of the desktop, tables of
// pixels, gradients and textures.
#include <cstdint>
#include <cstring>
#include <new>

#include "display/backfill.h"
#include "display/bgpic.h"
#include "display/clients.h"
#include "display/display.h"
#include "display/gradient_args.h"
#include "display/layer_hooks.h"
#include "display/layers/layers.h"
#include "display/monitors.h"
#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "graphics/effect_engines.h"
#include "graphics/picture_engines.h"
#include "objects/anims/anim.h"
#include "objects/brushes/brush.h"
#include "objects/brushes/brush_commands.h"
#include "objects/sprites/sprite.h"
#include "graphics/display_blit.h"
#include "platform/display_adapter.h"
#include "runtime/error_vm.h"
#include "runtime/object_data.h"
#include "runtime/option_readers.h"
#include "vm/argreaders.h"
#include "vm/convert.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

struct Planes {
  vlBitmap* bitmap = nullptr;
  vlBitmap* mask = nullptr;
  vlBitmap* alpha = nullptr;
  ~Planes() {
    if (bitmap) DeleteBitmap(bitmap);
    if (mask) DeleteMaskPlane(mask);
    if (alpha) DeleteAlphaPlane(alpha);
  }
};

// Adds the planes as a new raster brush (they become the brush's) and
// pushes an automatic id.
int AddAndFinish(vlVMState* L, vlObjectId* id, int automatic, Planes* p, int32_t width, int32_t height,
                 int32_t transparent) {
  vlBrush* brush = nullptr;
  if (int status = AddBrush(id, p->bitmap, p->mask, p->alpha, width, height, width, nullptr,
                            p->mask ? transparent : -1, 0, &brush))
    return status;
  p->bitmap = p->mask = p->alpha = nullptr;
  if (!automatic) return 0;
  vl::PushPointer(L, brush);
  return 1;
}

bool SameId(vlObjectId a, vlObjectId b) { return a.number == b.number && a.handle == b.handle; }

// Reads a new id at index; a numbered one equal to source is refused, any
// other numbered one frees its brush.
int TakeNewBrushId(vlVMState* L, int index, const vlObjectId* source, vlObjectId* id, int* automatic) {
  *automatic = GetObjectIDArgOpt(id, L, index);
  if (*automatic) return 0;
  if (source && SameId(*id, *source)) return ERR_WRONGUSAGE;
  return FreeBrushByID(L, *id, 0);
}

// The layer named or numbered by the argument, in the current BGPic.
int LayerArg(vlVMState* L, int index, vlLayer** out) {
  int32_t pos = vl::GetTypeAt(L, index) == VL_TSTRING ? FindLayerByName(vlCurrentOutput, vl::ToStringAt(L, index))
                                                       : vl::CheckIntArg(L, index);
  *out = GetLayerByPos(vlCurrentOutput, pos);
  return *out ? 0 : ERR_LAYERRANGE;
}

int Convert(vlVMState* L, int typeIndex, int sourceIndex, int newIndex, int frameIndex) {
  const int32_t type = vl::CheckIntArg(L, typeIndex);
  const int32_t frame = vl::OptIntArg(L, frameIndex, 1);
  vlObjectId source{}, id{};
  if (type != VL_OBJ_LAYER) GetObjectIDArg(&source, L, sourceIndex);  // layers: by position or name
  int automatic = 0;
  if (int status = TakeNewBrushId(L, newIndex, type == VL_OBJ_BRUSH ? &source : nullptr, &id, &automatic))
    return status;
  vlBitmap *bitmap = nullptr, *mask = nullptr, *alpha = nullptr;
  int32_t x = 0, y = 0, width = 0, height = 0, transparent = -1;
  Planes fetched;  // a disk anim's frame, decoded for this copy alone
  switch (type) {
    case VL_OBJ_BGPIC: {
      vlBGPic* pic = nullptr;
      if (int status = GetBGPicByID(L, source, &pic, 0)) return status;
      bitmap = pic->curBitmap, mask = pic->curMask, alpha = pic->curAlpha;
      width = pic->width, height = pic->height, transparent = pic->transparentColor;
      break;
    }
    case VL_OBJ_BRUSH: {
      vlBrush* b = nullptr;
      if (int status = GetBrushByID(L, source, &b, 0)) return status;
      if (!b->bitmap) return ERR_BRUSHTYPE;
      bitmap = b->bitmap, mask = b->mask, alpha = b->alpha;
      width = b->width, height = b->height, transparent = b->transparentColor;
      break;
    }
    case VL_OBJ_ANIM: {
      vlAnim* a = nullptr;
      if (int status = GetAnimByID(L, source, &a, 0)) return status;
      if (frame < 1 || frame > a->frameCount) return ERR_ANIMFRAME;
      if (int status = GetAnimFrameBitmaps(a, frame - 1, 0, 0, &bitmap, &mask, &alpha)) return status;
      if (a->disk) fetched.bitmap = bitmap, fetched.mask = mask, fetched.alpha = alpha;
      width = a->width, height = a->height, transparent = a->transparentColor;
      break;
    }
    case VL_KIND_TEXTOBJECT:
      if (int status = gLayerHooks.textObjectPlanes(L, source, &bitmap, &mask, &alpha, &width, &height))
        return status;
      break;
    case VL_OBJ_SPRITE: {
      vlSprite* sp = nullptr;
      if (int status = GetSpriteByID(L, source, &sp, 0)) return status;
      if (frame < 1 || frame > sp->frameCount) return ERR_ANIMFRAME;
      GetSpriteFrameBitmaps(sp, frame - 1, &bitmap, &mask, &alpha);
      width = sp->width, height = sp->height, transparent = sp->transparentColor;
      break;
    }
    case VL_OBJ_LAYER: {
      if (!CurrentDisplay() || !CurrentDisplay()->layersOn) return ERR_NOLAYERS;
      vlLayer* layer = nullptr;
      if (int status = LayerArg(L, sourceIndex, &layer)) return status;
      if (layer->type == VL_LAYER_ANIM) {
        vlAnim* a = nullptr;
        if (int status = GetAnimByID(L, layer->source, &a, VL_ANIM_FINDORPHANS | VL_ANIM_NOLAYERCOPY))
          return status;
        if (frame < 1 || frame > a->frameCount) return ERR_ANIMFRAME;
      }
      uint32_t extra = 0;
      vlLayerGeometry* g = layer->geometry[0];
      if (int status = GetLayerBitmaps(L, layer, g, 0, 0, frame - 1, &bitmap, &mask, &alpha, &width, &height,
                                       &extra))
        return status;
      if (layer->type == VL_LAYER_BRUSHPART || layer->type == VL_LAYER_BGPICPART) {
        x = g->partX, y = g->partY, width = g->width, height = g->height;
      }
      transparent = mask ? 0x123456 : -1;
      break;
    }
    default:
      return ERR_WRONGUSAGE;
  }
  if (!bitmap || width < 1 || height < 1) return ERR_WRONGUSAGE;
  Planes p;
  if (int status = CopyBitmapRegion(bitmap, mask, alpha, x, y, width, height, 0, 0, 0, &p.bitmap,
                                    mask ? &p.mask : nullptr, alpha ? &p.alpha : nullptr))
    return status;
  return AddAndFinish(L, &id, automatic, &p, width, height, transparent);
}

int BorderOrShadow(vlVMState* L, bool border) {
  CheckArgs(L, 3, 5, 0, 0);
  const double sizeArg = vl::OptNumberArg(L, 4, 5);
  if (sizeArg < 1) return ERR_WRONGUSAGE;
  // Clamped before the conversion; a size this large fails below anyway.
  const int32_t size = sizeArg < INT32_MAX ? static_cast<int32_t>(sizeArg) : INT32_MAX;
  const double sigma = vl::OptNumberArg(L, 5, sizeArg / 3);
  vlObjectId source;
  GetObjectIDArg(&source, L, 2);
  vlObjectId id;
  int automatic = 0;
  if (int status = TakeNewBrushId(L, 1, &source, &id, &automatic)) return status;
  vlBrush* src = nullptr;
  if (int status = GetBrushByID(L, source, &src, 0)) return status;
  const uint32_t color = vl::DoubleToUInt32Bits(vl::CheckNumberArg(L, 3));
  const int64_t wide = src->width + 2 * int64_t{size}, high = src->height + 2 * int64_t{size};
  if (wide > INT32_MAX || high > INT32_MAX) return ERR_BITMAP;
  const auto w = static_cast<int32_t>(wide), h = static_cast<int32_t>(high);
  Planes p;
  if (!(p.bitmap = NewBitmap(w, h, 0, nullptr))) return ERR_BITMAP;
  FillBitmapRect(p.bitmap, 0, 0, w, h, color & 0xFFFFFF);
  if (!border || src->mask || src->alpha) {
    const int32_t opacity = 255 - static_cast<int32_t>(color >> 24);
    vlBitmap* made = nullptr;
    if (src->mask || src->alpha) {
      made = MakeShadowAlpha(src->alpha, src->alpha ? nullptr : src->mask, 0, 0, src->width, src->height, size,
                             sigma, opacity, border, size >= 4);
    } else {
      // A shadow of a solid brush: the soft edge of its rectangle.
      vlBitmap* solid = NewAlphaPlane(src->width, src->height, 0, nullptr, 0);
      if (solid) {
        FillAlphaRect(solid, 0, 0, src->width, src->height, 255);
        made = MakeShadowAlpha(solid, nullptr, 0, 0, src->width, src->height, size, sigma, opacity, 0, size >= 4);
        DeleteAlphaPlane(solid);
      }
    }
    // The blur radius has a limit: a wider border keeps the plane centred.
    if (made && (made->width != w || made->height != h)) {
      vlBitmap* fit = NewAlphaPlane(w, h, 1, nullptr, 0);
      if (fit)
        CopyAlphaRectClipped(made, 0, 0, fit, (w - made->width) / 2, (h - made->height) / 2, made->width,
                             made->height, 0, 0);
      DeleteAlphaPlane(made);
      made = fit;
    }
    if (!made) return ERR_MEM;
    p.alpha = made;
  }
  return AddAndFinish(L, &id, automatic, &p, w, h, -1);
}

}  // namespace

int CmdCopyBrush(vlVMState* L) {
  CheckArgs(L, 2, 3, 0, 0);
  vlObjectId srcId;
  GetObjectIDArg(&srcId, L, 1);
  vlBrush* src = nullptr;
  if (int status = GetBrushByID(L, srcId, &src, VL_BRUSH_HARDWAREOK)) return status;
  vlObjectId id;
  int automatic = 0;
  if (int status = TakeNewBrushId(L, 2, &srcId, &id, &automatic)) return status;
  int hardware = 0, hardwareGiven = 0, displayGiven = 0;
  vlObjectId on{src->displayNumber, src->displayHandle};
  if (vl::GetTypeAt(L, 3) == VL_TTABLE) {
    GetTableBool(L, 3, "hardware", &hardware, &hardwareGiven);
    GetTableObjectID(L, 3, "display", &on, &displayGiven);
  }
  if (src->hardware && hardwareGiven && !hardware) return ERR_WRONGUSAGE;
  // A hardware copy goes to the display named, else the source's own
  // display, else the current one.
  vlDisplay* display = nullptr;
  if (src->hardware || hardware) {
    const bool named = displayGiven || (src->hardware && src->display);
    if (int status = GetPluginDisplay(named ? &on : nullptr, &display)) return status;
  }
  vlBrush* copy = nullptr;
  if (int status = CopyBrushForLayer(L, src, &id, &copy, display)) return status;
  if (!automatic) return 0;
  vl::PushPointer(L, copy);
  return 1;
}

int CmdConvertToBrush(vlVMState* L) {
  CheckArgs(L, 3, 4, 0, 0);
  return Convert(L, 1, 2, 3, 4);
}

int CmdGetBrushLink(vlVMState* L) {
  CheckArgs(L, 3, 4, 0, 0);
  return Convert(L, 2, 3, 1, 4);
}

int CmdCreateBorderBrush(vlVMState* L) { return BorderOrShadow(L, true); }
int CmdCreateShadowBrush(vlVMState* L) { return BorderOrShadow(L, false); }

int CmdGrabDesktop(vlVMState* L) {
  CheckArgs(L, 1, 2, 0, 0);
  vlObjectId id;
  int automatic = 0;
  if (int status = TakeNewBrushId(L, 1, nullptr, &id, &automatic)) return status;
  int32_t mx = 0, my = 0, mw = 0, mh = 0;
  if (int status = GetDisplayMonitorRect(CurrentDisplay(), &mx, &my, &mw, &mh)) return status;
  int32_t x = 0, y = 0, w = mw, h = mh;
  if (vl::GetTypeAt(L, 2) == VL_TTABLE) {
    GetTableInt(L, 2, "x", &x, nullptr);
    GetTableInt(L, 2, "y", &y, nullptr);
    GetTableInt(L, 2, "width", &w, nullptr);
    GetTableInt(L, 2, "height", &h, nullptr);
  }
  if (x < 0 || y < 0) return ERR_WRONGUSAGE;
  // In 64 bits: a width near the integer limit must clip, not wrap.
  if (int64_t{x} + w > mw) w = mw - x;
  if (int64_t{y} + h > mh) h = mh - y;
  if (w < 1 || h < 1) return ERR_WRONGUSAGE;
  Planes p;
  if (GrabDisplayPixels(CurrentDisplay(), mx + x, my + y, w, h, &p.bitmap)) return ERR_MEM;
  return AddAndFinish(L, &id, automatic, &p, w, h, -1);
}

int CmdRGBArrayToBrush(vlVMState* L) {
  CheckArgs(L, 4, 6, 0, 0);
  vlObjectId id;
  const int automatic = GetObjectIDArgOpt(&id, L, 1);
  vl::CheckTableArg(L, 2);
  const int32_t w = vl::CheckIntArg(L, 3), h = vl::CheckIntArg(L, 4);
  const int32_t transparency = vl::OptIntArg(L, 5, -1);
  const bool invert = vl::OptIntArg(L, 6, 0) != 0;
  if (w < 1 || h < 1) return ERR_BADDIMENSIONS;
  if (!automatic)
    if (int status = FreeBrushByID(L, id, 0)) return status;
  const size_t count = static_cast<size_t>(w) * static_cast<size_t>(h);
  if (count > (size_t{1} << 28)) return ERR_MEM;
  uint32_t* argb = new (std::nothrow) uint32_t[count];
  if (!argb) return ERR_MEM;
  struct Free {
    uint32_t* p;
    ~Free() { delete[] p; }
  } hold{argb};
  for (size_t i = 0; i < count; i++) {
    vl::RawGetTableIndex(L, 2, static_cast<int>(i));
    const bool present = vl::GetTypeAt(L, -1) != VL_TNIL;
    const double v = vl::ToNumberAt(L, -1);
    vl::SetStackTop(L, -2);
    if (!present) return ERR_NOTENOUGHPIXELS;
    uint32_t c = vl::DoubleToUInt32Bits(v);
    if (invert) c ^= 0xFF000000u;
    argb[i] = c;
  }
  Planes p;
  if (int status = BitmapFromARGB(argb, -1, w, h, w, 0, 0, 0, &p.bitmap, nullptr, nullptr)) return status;
  if (transparency == VL_OUTPUT_MASK) {
    if (!(p.mask = NewMaskPlane(p.bitmap, w, h, 1, nullptr, 0))) return ERR_ALLOCMASK;
    for (int32_t y = 0; y < h; y++)
      for (int32_t x = 0; x < w; x++)
        if (argb[static_cast<size_t>(y) * w + x] >> 24) WriteBitmapPixel(p.mask, x, y, 0, 1);
  } else if (transparency == VL_OUTPUT_ALPHA) {
    if (!(p.alpha = WrapARGBAsAlpha(argb, w, h, w))) return ERR_ALLOCALPHA;
  }
  return AddAndFinish(L, &id, automatic, &p, w, h, 0xAFC0DE);
}

int CmdCreateGradientBrush(vlVMState* L) {
  CheckArgs(L, 6, 8, 0, 0);
  vlObjectId id;
  int automatic = 0;
  if (int status = TakeNewBrushId(L, 1, nullptr, &id, &automatic)) return status;
  int32_t w, h;
  vlBGPicBackfill fill{};
  fill.desc.fillStyle = 2;
  fill.present = 1;
  if (int status = ReadGradientImageArgs(L, 2, 4, 7, &w, &h, &fill.desc.gradient)) return status;
  Planes p;
  if (!(p.bitmap = NewBitmap(w, h, 0, nullptr))) return ERR_BITMAP;
  if (int status = FillBackfill(L, &fill, p.bitmap, w, h, nullptr, 1)) return status;
  return AddAndFinish(L, &id, automatic, &p, w, h, -1);
}

int CmdCreateTexturedBrush(vlVMState* L) {
  CheckArgs(L, 4, 6, 0, 0);
  vlBGPicBackfill fill{};
  GetObjectIDArg(&fill.desc.textureBrush, L, 2);
  vlObjectId id;
  int automatic = 0;
  if (int status = TakeNewBrushId(L, 1, &fill.desc.textureBrush, &id, &automatic)) return status;
  const int32_t w = vl::CheckIntArg(L, 3), h = vl::CheckIntArg(L, 4);
  fill.desc.textureX = vl::OptIntArg(L, 5, 0);
  fill.desc.textureY = vl::OptIntArg(L, 6, 0);
  if (w < 1 || h < 1) return ERR_BADDIMENSIONS;
  fill.desc.fillStyle = 3;
  fill.present = 1;
  Planes p;
  if (!(p.bitmap = NewBitmap(w, h, 0, nullptr))) return ERR_BITMAP;
  int status = FillBackfill(L, &fill, p.bitmap, w, h, nullptr, 0);
  if (fill.texture) DeleteBitmap(fill.texture);
  if (status) return status;
  return AddAndFinish(L, &id, automatic, &p, w, h, -1);
}
