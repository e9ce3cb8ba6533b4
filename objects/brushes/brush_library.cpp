// The "brush" command library: creating, loading, copying, freeing,
// showing and transforming brushes, and the brush services the display
// code calls through its hooks.
#include <cmath>
#include <cstring>

#include "display/bgpic.h"
#include "display/clients.h"
#include "display/display.h"
#include "display/layer_hooks.h"
#include "platform/offscreen_bitmap.h"
#include "platform/x11/x11_draw.h"
#include "display/commands/layers_library.h"
#include "display/layers/layers.h"
#include "display/picture_transform.h"
#include "display/layers/safe_blt.h"
#include "graphics/adapter_bitmap.h"
#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "formats/image_cache.h"
#include "graphics/picture_engines.h"
#include "graphics/position.h"
#include "objects/brushes/brush.h"
#include "objects/brushes/brush_commands.h"
#include "runtime/console.h"
#include "runtime/error_vm.h"
#include "runtime/errors.h"
#include "formats/loaded_source.h"
#include "runtime/messages.h"
#include "runtime/object_data.h"
#include "runtime/option_readers.h"
#include "runtime/progress_message.h"
#include "runtime/runtime_options.h"
#include "runtime/script_call.h"
#include "vm/argreaders.h"
#include "vm/convert.h"
#include "vm/auxlib.h"
#include "vm/constants.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

// Nil asks for an automatic id; a number frees the brush of that number.
int TakeNewId(vlVMState* L, int index, vlObjectId* id, int* status) {
  int automatic = GetObjectIDArgOpt(id, L, index);
  *status = automatic ? 0 : FreeBrushByID(L, *id, 0);
  return automatic;
}

int Finish(vlVMState* L, int automatic, vlBrush* brush) {
  if (!automatic) return 0;
  vl::PushPointer(L, brush);
  return 1;
}

int CmdCreateBrush(vlVMState* L) {
  CheckArgs(L, 3, 5, 0, 0);
  vlObjectId id;
  const int automatic = GetObjectIDArgOpt(&id, L, 1);
  const int32_t width = vl::CheckIntArg(L, 2), height = vl::CheckIntArg(L, 3);
  if (width < 1 || height < 1) return ERR_BADDIMENSIONS;
  const uint32_t color = static_cast<uint32_t>(vl::OptIntArg(L, 4, 0));
  int alpha = 0, mask = 0, clear = 0, hardware = 0, displayGiven = 0;
  vlObjectId displayId{};
  if (vl::GetTypeAt(L, 5) == VL_TTABLE) {
    GetTableBool(L, 5, "alphachannel", &alpha, nullptr);
    GetTableBool(L, 5, "mask", &mask, nullptr);
    GetTableBool(L, 5, "clear", &clear, nullptr);
    GetTableBool(L, 5, "hardware", &hardware, nullptr);
    GetTableObjectID(L, 5, "display", &displayId, &displayGiven);
    if (mask && alpha) return ERR_WRONGUSAGE;
  }
  vlDisplay* display = nullptr;
  if (hardware)
    if (int status = GetPluginDisplay(displayGiven ? &displayId : nullptr, &display)) return status;
  if (!automatic)
    if (int status = FreeBrushByID(L, id, 0)) return status;
  vlBrush* brush = nullptr;
  if (int status = NewBrushOn(&id, width, height, color, mask, alpha, clear, hardware, display, &brush))
    return status;
  return Finish(L, automatic, brush);
}

int CmdLoadBrush(vlVMState* L) {
  CheckArgs(L, 2, 5, 0, 0);
  vlObjectId id;
  int status;
  const int automatic = TakeNewId(L, 1, &id, &status);
  if (status) return status;
  const char* file = GetFileNameArg(L, 2, 0, nullptr);
  int32_t transparent = -1, globalAlpha = -1, x = 0, y = 0, w = 0, h = 0;
  int loadAlpha = 0, loadTransparency = 0, smooth = 0, hardware = 0, displayGiven = 0;
  vlObjectId displayId{};
  int32_t scaleWidth = 0, scaleHeight = 0;
  char loaders[256] = "", adapters[256] = "";
  // Pictures shared by several declarations: the first stores its picture
  // under "cache" while preloading, the later ones take it by "cachedload".
  char cacheName[1024] = "", cachedName[1024] = "";
  int cacheAlpha = 0;
  // The five-argument form's two values go to the picture readers as they
  // are: the one-plane ILBM key colour and the transparency mode.
  int32_t readerKey = -1, readerMode = 0;
  if (vl::GetStackTop(L) >= 5) {
    transparent = vl::OptIntArg(L, 3, -1);
    readerKey = vl::CheckIntArg(L, 4);
    readerMode = vl::CheckIntArg(L, 5);
  } else if (vl::GetTypeAt(L, 3) == VL_TTABLE) {
    GetTableInt(L, 3, "transparency", &transparent, nullptr);
    GetTableBool(L, 3, "loadalpha", &loadAlpha, nullptr);
    GetTableBool(L, 3, "loadtransparency", &loadTransparency, nullptr);
    GetTableInt(L, 3, "globalalpha", &globalAlpha, nullptr);
    GetTableInt(L, 3, "x", &x, nullptr);
    GetTableInt(L, 3, "y", &y, nullptr);
    GetTableInt(L, 3, "width", &w, nullptr);
    GetTableInt(L, 3, "height", &h, nullptr);
    if (int status = GetTableScaleSize(L, 3, "scalewidth", &scaleWidth)) return status;
    if (int status = GetTableScaleSize(L, 3, "scaleheight", &scaleHeight)) return status;
    GetTableBool(L, 3, "smoothscale", &smooth, nullptr);
    GetTableString(L, 3, "loader", loaders, sizeof loaders, nullptr);
    GetTableString(L, 3, "adapter", adapters, sizeof adapters, nullptr);
    GetTableString(L, 3, "cache", cacheName, sizeof cacheName, nullptr);
    GetTableString(L, 3, "cachedload", cachedName, sizeof cachedName, nullptr);
    GetTableBool(L, 3, "cachealpha", &cacheAlpha, nullptr);
    GetTableBool(L, 3, "hardware", &hardware, nullptr);
    GetTableObjectID(L, 3, "display", &displayId, &displayGiven);
    if ((loadAlpha && loadTransparency) || (loadTransparency && transparent != -1)) return ERR_WRONGUSAGE;
  } else if (vl::GetTypeAt(L, 3) != VL_TNIL && vl::GetTypeAt(L, 3) != -1) {
    transparent = vl::CheckIntArg(L, 3);
  }
  if ((loadAlpha || globalAlpha != -1) && transparent != -1) return ERR_MASKNALPHA;
  // 0 means "to the picture's edge"; a negative size is no size.
  if (w < 0 || h < 0) return ERR_BADDIMENSIONS;
  if (loadAlpha) cacheAlpha = 0;
  uint32_t quiet = 0, preloading = 0;
  GetRuntimeOption(L, VL_OPT_QUIET, &quiet, VL_OPT_RENDER_STATE, &preloading, 0u);
  if (!quiet) PrintProgressMessage(GetMessage(101), file, 1);

  vlLoadedSource* source = nullptr;
  vlBitmap* loadedAlpha = nullptr;
  vlLoadedImageInfo info{};
  bool fromCache = false;
  if (preloading && cachedName[0]) {
    uint32_t word1 = 0, word2 = 0;
    fromCache = FindImageCacheEntry(cachedName, loadAlpha, &info.width, &info.height, &word1, &source,
                                    loadAlpha ? &loadedAlpha : nullptr, &word2) == 0;
    info.transparent = static_cast<int32_t>(word1);
  }
  if (!fromCache) {
    // With "cachealpha" the alpha plane is loaded for the cache entry only.
    const bool storeAlpha = preloading && cacheName[0] && cacheAlpha;
    status = LoadImageWithLoaders(file, loaders, adapters, nullptr, readerKey, nullptr, readerMode,
                                  loadAlpha ? 1 : storeAlpha ? 2 : 0, loadTransparency, scaleWidth, scaleHeight,
                                  smooth, &source, loadAlpha || loadTransparency || storeAlpha ? &loadedAlpha : nullptr,
                                  &info);
    if (status) return status;
    if (preloading && cacheName[0])
      status = AddImageCacheEntry(cacheName, info.width, info.height, static_cast<uint32_t>(info.transparent),
                                  source, loadedAlpha, 0);
    // A file's transparency that comes as alpha ("loadtransparency" of a
    // GIF) stays: the pipeline made the plane for it.
    const bool keepAlpha = loadAlpha || loadTransparency;
    if (!keepAlpha && loadedAlpha) {
      DeleteAlphaPlane(loadedAlpha);
      loadedAlpha = nullptr;
    }
    if (status) {
      if (loadedAlpha) DeleteAlphaPlane(loadedAlpha);
      ReleaseLoadedSource(source);
      return status;
    }
  }
  auto fail = [&](int rc) {
    if (loadedAlpha) DeleteAlphaPlane(loadedAlpha);
    ReleaseLoadedSource(source);
    return rc;
  };
  const int32_t pw = info.width, ph = info.height;
  const vlPluginInfo* loader = source->loader;  // also for a picture from the cache
  if (x < 0 || y < 0) return fail(ERR_NEGCOORDS);
  if (x >= pw || y >= ph) return fail(ERR_COORDSRANGE);
  if (w == 0 || int64_t{x} + w > pw) w = pw - x;
  if (h == 0 || int64_t{y} + h > ph) h = ph - y;
  if (info.vector && (x || y || w != pw || h != ph)) return fail(ERR_BRUSHTYPE);
  if (info.transparent != -1) transparent = info.transparent;

  // The loaded alpha plane wraps the source's pixels: the brush gets its
  // own copy before the source goes.
  uint32_t* pixels = GetLoadedSourcePixels(source) + static_cast<intptr_t>(y) * pw + x;
  vlBitmap *bitmap = nullptr, *mask = nullptr, *alpha = nullptr;
  if (loadedAlpha && !(alpha = WrapARGBAsAlpha(pixels, w, h, pw))) return fail(ERR_ALLOCALPHA);
  if (loadedAlpha) DeleteAlphaPlane(loadedAlpha);
  loadedAlpha = nullptr;
  if (globalAlpha != -1) {
    const int32_t level = globalAlpha < 0 ? 0 : globalAlpha > 255 ? 255 : globalAlpha;
    if (alpha) {
      ScaleAlphaPlane(alpha, alpha, level);
    } else {
      alpha = NewAlphaPlane(w, h, 1, nullptr, 0);
      if (!alpha) return fail(ERR_ALLOCALPHA);
      FillAlphaRect(alpha, 0, 0, w, h, static_cast<uint8_t>(level));
    }
  }
  // Before the first display the screen's pixel format is unknown: the
  // brush keeps its source pixels and gets its bitmap when the format is
  // known (RebuildBrushBitmaps), as preloaded anims do.
  if (preloading && !hardware && GetGlobalPixelFormat() < 0) {
    vlBrush* brush = nullptr;
    status = AddBrush(&id, nullptr, nullptr, alpha, w, h, pw, source, transparent, info.vector ? 1 : 0, &brush);
    if (status) {
      if (alpha) DeleteAlphaPlane(alpha);
      return fail(status);
    }
    brush->srcX = x;
    brush->srcY = y;
    brush->srcWidth = w;
    brush->srcHeight = h;
    brush->scaledVector = info.vector && (scaleWidth || scaleHeight);
    brush->loaderWord = loader;
    if (!quiet) PrintDone();
    return Finish(L, automatic, brush);
  }
  // A hardware brush: the adapter makes a video bitmap of the pixels with
  // the key or the alpha channel folded in; when it makes none the brush
  // is an ordinary one.
  vlDisplay* display = nullptr;
  uint32_t hardwareFlags = 0;
  if (hardware && QueryAdapterCaps(VL_ADAPTERCAP_HWBRUSHES) && !vlRecordingScreen) {
    if ((status = GetPluginDisplay(displayGiven ? &displayId : nullptr, &display))) {
      if (alpha) DeleteAlphaPlane(alpha);
      return fail(status);
    }
    hardwareFlags = (transparent != -1 ? 1u : 0u) | (alpha ? 2u : 0u);
    int held = 0;
    // The conversion takes its own copy of the alpha channel: a refused
    // brush keeps the original.
    vlBitmap* handed = alpha ? CopyAlphaPlane(alpha, w, h) : nullptr;
    if (alpha && !handed) {
      DeleteAlphaPlane(alpha);
      return fail(ERR_ALLOCALPHA);
    }
    status = ConvertToAdapterBitmap(pixels, transparent, w, h, pw, 0, display ? display->adapterHandle : nullptr,
                                    &bitmap, &handed, &held);
    if (handed) DeleteAlphaPlane(handed);
    if (!status && bitmap && alpha) {
      DeleteAlphaPlane(alpha);
      alpha = nullptr;
    }
  }
  if (!bitmap) {
    status = BitmapFromARGB(pixels, transparent, w, h, pw, 0, 0, 0, &bitmap, transparent != -1 ? &mask : nullptr,
                            nullptr);
    if (status) {
      if (alpha) DeleteAlphaPlane(alpha);
      return fail(status);
    }
  }
  // A hardware vector brush becomes a raster brush.
  const uint32_t kind = info.vector && !bitmap->driverOwned ? 1 : 0;
  vlLoadedSource* keep = kind ? source : nullptr;
  if (!kind) ReleaseLoadedSource(source);
  vlBrush* brush = nullptr;
  status = AddBrush(&id, bitmap, mask, alpha, w, h, kind ? pw : w, keep,
                    mask || bitmap->driverOwned ? transparent : -1, kind, &brush);
  if (status) {
    DeleteBitmap(bitmap);
    if (mask) DeleteMaskPlane(mask);
    if (alpha) DeleteAlphaPlane(alpha);
    if (keep) ReleaseLoadedSource(keep);
    return status;
  }
  brush->srcX = x;
  brush->srcY = y;
  brush->scaledVector = kind && (scaleWidth || scaleHeight);
  brush->loaderWord = loader;
  if (hardware) BindHardwareBrush(brush, display, hardwareFlags);
  if (!quiet) PrintDone();
  return Finish(L, automatic, brush);
}

int CmdFreeBrush(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  vlObjectId id;
  GetObjectIDArg(&id, L, 1);
  return FreeBrushByID(L, id, 1);
}

// A new brush with copies of the planes of bitmap.
int CopyPlanesToBrush(vlObjectId* id, vlBitmap* bitmap, vlBitmap* mask, vlBitmap* alpha, int32_t width,
                      int32_t height, int32_t transparent, vlBrush** out) {
  vlBitmap *b = nullptr, *m = nullptr, *a = nullptr;
  if (int status = CopyBitmapRegion(bitmap, mask, alpha, 0, 0, width, height, 0, 0, 0, &b, mask ? &m : nullptr,
                                    alpha ? &a : nullptr))
    return status;
  int status = AddBrush(id, b, m, a, width, height, width, nullptr, m ? transparent : -1, 0, out);
  if (status) {
    DeleteBitmap(b);
    if (m) DeleteMaskPlane(m);
    if (a) DeleteAlphaPlane(a);
  }
  return status;
}

int CmdDisplayBrush(vlVMState* L) {
  CheckArgs(L, 3, 4, 0, 0);
  vlObjectId id;
  GetObjectIDArg(&id, L, 1);
  return DisplayBrushObject(L, id, 0, 0, 0, vl::CheckIntArg(L, 2), vl::CheckIntArg(L, 3), 0, 0, 4);
}

int CmdDisplayBrushPart(vlVMState* L) {
  CheckArgs(L, 7, 8, 0, 0);
  vlObjectId id;
  GetObjectIDArg(&id, L, 1);
  return DisplayBrushObject(L, id, 1, vl::CheckIntArg(L, 2), vl::CheckIntArg(L, 3), vl::CheckIntArg(L, 4),
                            vl::CheckIntArg(L, 5), vl::CheckIntArg(L, 6), vl::CheckIntArg(L, 7), 8);
}

int FindChangeable(vlVMState* L, vlObjectId id, vlBrush** out) {
  if (int status = GetBrushByID(L, id, out, VL_BRUSH_FINDUNLOCKED | VL_BRUSH_HARDWAREOK)) return status;
  if (IsActiveBrush(*out)) return ERR_MODIFYABR;
  if (!(*out)->bitmap) return ERR_BRUSHTYPE;
  return 0;
}

// The display-adapter handle of the display a hardware brush was made for,
// handed to the adapter with its scaling or transformation.
uintptr_t AdapterWord(const vlBrush* b) {
  const auto* display = static_cast<const vlDisplay*>(b->display);
  return b->hardware && display ? reinterpret_cast<uintptr_t>(display->adapterHandle) : 0;
}

// A brush takes its transformed picture; one read back out of the adapter
// into a picture of the player's is no longer a hardware brush.
void ReplaceTransformed(vlBrush* b, vlBitmap* bitmap, vlBitmap* mask, vlBitmap* alpha, int32_t w, int32_t h) {
  const bool wasVideo = b->bitmap && b->bitmap->driverOwned;
  ReplaceBrushPlanes(b, bitmap, mask, alpha, w, h);
  if (wasVideo && !(bitmap && bitmap->driverOwned)) BindHardwareBrush(b, nullptr, 0);
  else if (bitmap && bitmap->driverOwned) bitmap->maskBytes = (b->hardwareFlags & 3) == 1;
}

// matrix: m00, m01, m10, m11 (x' = m00 x + m01 y, y' = m10 x + m11 y).
int TransformBrushCore(vlVMState* L, vlObjectId id, const double* matrix, int smooth) {
  vlBrush* b = nullptr;
  if (int status = FindChangeable(L, id, &b)) return status;
  vlBitmap *bitmap = nullptr, *mask = nullptr, *alpha = nullptr;
  int32_t w = 0, h = 0;
  if (b->kind == 1 && b->source) {
    double composed[4];
    if (int status = RenderVectorBrush(L, b, matrix, smooth, &bitmap, &mask, &alpha, &w, &h, composed))
      return status;
    ReplaceBrushPlanes(b, bitmap, mask, alpha, w, h);
    std::memcpy(b->vectorMatrix, composed, sizeof composed);
    b->scaledVector = 1;
    return 0;
  }
  // The renderer takes the matrix by columns.
  const double m[4] = {matrix[0], matrix[2], matrix[1], matrix[3]};
  if (int status = TransformBitmap(b->bitmap, b->mask, b->alpha, 0, 0, b->width, b->height, m, smooth,
                                   AdapterWord(b), &bitmap, &mask, &alpha, &w, &h))
    return status;
  ReplaceTransformed(b, bitmap, mask, alpha, w, h);
  return 0;
}

int CmdTransformBrush(vlVMState* L) {
  CheckArgs(L, 5, 6, 0, 0);
  double m[4];
  for (int i = 0; i < 4; ++i) m[i] = vl::CheckNumberArg(L, 2 + i);
  if (m[0] == 0 || m[3] == 0) return ERR_WRONGUSAGE;
  vlObjectId id;
  GetObjectIDArg(&id, L, 1);
  return TransformBrushCore(L, id, m, vl::OptIntArg(L, 6, 0));
}

int CmdRotateBrush(vlVMState* L) {
  CheckArgs(L, 2, 5, 0, 0);
  vlObjectId id;
  GetObjectIDArg(&id, L, 1);
  const double angle = vl::CheckNumberArg(L, 2);
  const double sx = vl::OptNumberArg(L, 3, 1.0), sy = vl::OptNumberArg(L, 4, 1.0);
  // The brush being drawn into is refused before its arguments are judged.
  vlBrush* b = nullptr;
  if (GetBrushByID(L, id, &b, VL_BRUSH_HARDWAREOK) == 0 && IsActiveBrush(b)) return ERR_MODIFYABR;
  if (sx == 0 || sy == 0) return ERR_WRONGUSAGE;
  vlLayerTransform t;
  DefaultLayerTransform(&t);
  BuildTransformMatrix(&t, 0, 0, 0, 0, sx, sy, angle);
  const double m[4] = {t.a, t.b, t.c, t.d};
  return TransformBrushCore(L, id, m, vl::OptIntArg(L, 5, 0));
}

int CmdScaleBrush(vlVMState* L) {
  CheckArgs(L, 3, 4, 0, 0);
  vlObjectId id;
  GetObjectIDArg(&id, L, 1);
  vlBrush* b = nullptr;
  if (int status = FindChangeable(L, id, &b)) return status;
  int32_t w = vl::DoubleToInt32Saturated(GetNumberOrPercentArg(L, 2, b->width, 1, nullptr));
  int32_t h = vl::DoubleToInt32Saturated(GetNumberOrPercentArg(L, 3, b->height, 1, nullptr));
  if (w == VL_KEEPASPRAT && h == VL_KEEPASPRAT) return ERR_WRONGUSAGE;
  if (int status = ResolveAspectSize(b->width, b->height, &w, &h)) return status;
  if (w < 1 || h < 1) return ERR_BADDIMENSIONS;
  if (w == b->width && h == b->height) return 0;
  vlBitmap *bitmap = nullptr, *mask = nullptr, *alpha = nullptr;
  const int smooth = vl::OptIntArg(L, 4, 0);
  if (b->kind == 1 && b->source) {
    // The new size is measured against the source's own size.
    int32_t bw = 0, bh = 0;
    GetLoadedSourceSize(b->source, &bw, &bh);
    if (bw < 1 || bh < 1) bw = b->width, bh = b->height;
    const double scale[4] = {static_cast<double>(w) / bw, 0, 0, static_cast<double>(h) / bh};
    int32_t nw = 0, nh = 0;
    if (int status = TransformPicture(L, VL_PICTURE_VECTOR, b->source, nullptr, b->mask, b->alpha, 0, 0, 0, 0, bw,
                                      bh, 0, 0, scale, smooth, &bitmap, &mask, &alpha, nullptr, nullptr, &nw, &nh))
      return status;
    ReplaceBrushPlanes(b, bitmap, mask, alpha, nw, nh);
    std::memcpy(b->vectorMatrix, scale, sizeof scale);
    b->scaledVector = 1;
    return 0;
  }
  // A hardware brush's alpha comes back with its picture when the player
  // scales it.
  if (int status = ScaleBitmap(b->bitmap, b->mask, b->alpha, 0, 0, nullptr, b->width, b->height, w, h, smooth,
                               AdapterWord(b), &bitmap, b->mask ? &mask : nullptr,
                               b->alpha || b->hardware ? &alpha : nullptr))
    return status;
  ReplaceTransformed(b, bitmap, mask, alpha, w, h);
  return 0;
}

// Hooks for the display code.
int BrushBitmapHook(vlVMState* L, vlObjectId id, vlBitmap** bitmap, int32_t* width, int32_t* height) {
  vlBrush* b = nullptr;
  if (int status = GetBrushByID(L, id, &b, VL_BRUSH_HARDWAREOK)) return status;
  if (!b->bitmap) return ERR_BRUSHTYPE;
  *bitmap = b->bitmap;
  *width = b->width;
  *height = b->height;
  return 0;
}

// A vector BGPic gives a vector brush that shares its source; one shown at
// another size than the source's own cannot be held as such.
int BGPicToBrushHook(vlVMState* L, vlBGPic* pic, int idIndex) {
  if (IsTransformedVectorBGPic(pic)) return ERR_TFVBGPICBRUSH;
  vlObjectId id;
  const int automatic = GetObjectIDArgOpt(&id, L, idIndex);
  if (!automatic)
    if (int status = FreeBrushByID(L, id, 0)) return status;
  vlBrush* brush = nullptr;
  if (int status = CopyPlanesToBrush(&id, pic->curBitmap, pic->curMask, pic->curAlpha, pic->width, pic->height,
                                     pic->transparentColor, &brush))
    return status;
  brush->loaderWord = pic->loaderWord;
  if (IsVectorBGPic(pic) && !pic->backfill.present) {
    brush->kind = 1;
    brush->source = pic->source;
    RetainLoadedSource(brush->source);
  }
  return Finish(L, automatic, brush);
}

// The reverse: the brush's planes, transparent colour and loader; a vector
// brush's source is shared and makes the BGPic scalable.
int BrushToBGPicHook(vlVMState* L, vlObjectId brushId, int idIndex) {
  vlBrush* b = nullptr;
  if (int status = GetBrushByID(L, brushId, &b, VL_BRUSH_HARDWAREOK)) return status;
  if (b->kind == 1 && b->scaledVector) return ERR_TFVBRUSHBGPIC;
  if (!b->bitmap) return ERR_BRUSHTYPE;
  vlObjectId id;
  const int automatic = GetObjectIDArgOpt(&id, L, idIndex);
  if (!automatic) {
    if (int status = FreeBGPicByID(L, id, 0)) return status;
    // Freeing the old BGPic frees what its layers held: the brush is found again.
    if (int status = GetBrushByID(L, brushId, &b, VL_BRUSH_HARDWAREOK)) return status;
  }
  vlBitmap *bitmap = nullptr, *mask = nullptr, *alpha = nullptr;
  if (int status = CopyBitmapRegion(b->bitmap, b->mask, b->alpha, 0, 0, b->width, b->height, 0, 0, 0, &bitmap,
                                    b->mask ? &mask : nullptr, b->alpha ? &alpha : nullptr))
    return status;
  vlLoadedSource* source = b->kind == 1 ? b->source : nullptr;
  vlBGPic* pic = nullptr;
  if (int status = AddBGPic(&id, source ? 1 : 0, b->width, b->height, b->width, source, bitmap, nullptr,
                            mask ? b->transparentColor : -1, mask, alpha, nullptr, &pic)) {
    DeleteBitmap(bitmap);
    if (mask) DeleteMaskPlane(mask);
    if (alpha) DeleteAlphaPlane(alpha);
    return status;
  }
  RetainLoadedSource(source);
  pic->loaderWord = b->loaderWord;
  if (!automatic) return 0;
  vl::PushPointer(L, pic);
  return 1;
}

const vlCommand kBrushCommands[] = {
    {"CreateBrush", CmdCreateBrush},
    {"LoadBrush", CmdLoadBrush},
    {"FreeBrush", CmdFreeBrush},
    {"DisplayBrush", CmdDisplayBrush},
    {"DisplayBrushPart", CmdDisplayBrushPart},
    {"TransformBrush", CmdTransformBrush},
    {"RotateBrush", CmdRotateBrush},
    {"ScaleBrush", CmdScaleBrush},
#define VL_BRUSH_COMMAND_ROW(name) {#name, Cmd##name},
    VL_BRUSH_EFFECT_COMMANDS(VL_BRUSH_COMMAND_ROW)
    VL_BRUSH_CREATE_COMMANDS(VL_BRUSH_COMMAND_ROW)
#undef VL_BRUSH_COMMAND_ROW
    {nullptr, nullptr},
};

const vlConstant kBrushConstants[] = {
    {"MASKVISIBLE", nullptr, 0},
    {"MASKINVISIBLE", nullptr, 1},
    {"MASKVANILLACOPY", nullptr, 2},
    {"MASKXOR", nullptr, 3},
    {"MASKAND", nullptr, 4},
    {"MASKOR", nullptr, 5},
    {"VANILLACOPY", nullptr, -1},
    {"SELMODE_NORMAL", nullptr, 0},
    {"SELMODE_COMBO", nullptr, 1},
    {"SELMODE_LAYERS", nullptr, 2},
    {nullptr, nullptr, 0},
};

}  // namespace

void FreeBrushLib(vlVMState* L) {
  SetSelectLayerHandler(nullptr);
  FreeAllBrushes(L);
}

int OpenBrushLib(vlVMState* L) {
  vl::PushSlotCopy(L, vl::kGlobalsIndex);
  vl::RegisterCommands(L, nullptr, kBrushCommands, 0);
  vl::SetStackTop(L, -2);
  vl::RegisterConstants(L, kBrushConstants, 0);
  gLayerHooks.brushBitmap = BrushBitmapHook;
  gLayerHooks.bgpicToBrush = BGPicToBrushHook;
  gLayerHooks.brushToBGPic = BrushToBGPicHook;
  InstallBrushGraphicsHooks();
  InstallBrushDisplayHooks();
  InstallBrushSelectHooks();
  InstallDoubleBufferHooks();
  AddScreenFormatConverter(VL_CONVERT_BRUSHES, [](vlVMState*, uint32_t) { return RebuildBrushBitmaps(); });
  if (int status = RegisterLibrary(kBrushCommands, "brush")) return status;
  return RegisterObjectList(reinterpret_cast<vlObjectNode**>(&vlBrushList), [](const vlObjectNode* n) {
    return reinterpret_cast<const vlBrush*>(n)->orphaned != 0;
  });
}
