// The "bgpic" command library: making, loading, copying, scaling and
// freeing background pictures, and showing them.
#include <cstdlib>
#include <cstring>
#include <new>

#include "display/backfill.h"
#include "display/bgpic.h"
#include "display/commands/display_library.h"
#include "display/display_scaling.h"
#include "display/gradient_args.h"
#include "display/icons.h"
#include "display/layer_hooks.h"
#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "graphics/picture_engines.h"
#include "runtime/console.h"
#include "runtime/error_vm.h"
#include "runtime/errors.h"
#include "formats/loaded_source.h"
#include "runtime/messages.h"
#include "runtime/object_data.h"
#include "runtime/objects.h"
#include "runtime/option_readers.h"
#include "runtime/progress_message.h"
#include "runtime/runtime_options.h"
#include "runtime/script_call.h"
#include "vm/argreaders.h"
#include "vm/auxlib.h"
#include "vm/constants.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

// An explicit number frees the BGPic of that number first; Nil asks for an
// automatic id. 1 for an automatic id.
int TakeNewId(vlVMState* L, int index, vlObjectId* id, int* status) {
  int automatic = GetObjectIDArgOpt(id, L, index);
  *status = automatic ? 0 : FreeBGPicByID(L, *id, 0);
  return automatic;
}

int Finish(vlVMState* L, int automatic, vlBGPic* pic) {
  if (!automatic) return 0;
  vl::PushPointer(L, pic);
  return 1;
}

// A new BGPic from a filled bitmap with its description.
int AddFilled(vlVMState* L, vlObjectId id, int automatic, vlBitmap* bitmap, int32_t width, int32_t height,
              vlBGPicBackfill* backfill, uint32_t scalable) {
  vlBGPic* pic = nullptr;
  int status = AddBGPic(&id, scalable, width, height, width, nullptr, bitmap, nullptr, -1, nullptr, nullptr, backfill,
                        &pic);
  if (status) {
    DeleteBitmap(bitmap);
    if (backfill->texture) DeleteBitmap(backfill->texture);
    return status;
  }
  return Finish(L, automatic, pic);
}


int CmdCreateBGPic(vlVMState* L) {
  CheckArgs(L, 3, 4, 0, 0);
  vlObjectId id;
  int status;
  int automatic = TakeNewId(L, 1, &id, &status);
  if (status) return status;
  int32_t width = vl::CheckIntArg(L, 2), height = vl::CheckIntArg(L, 3);
  uint32_t color = static_cast<uint32_t>(vl::OptIntArg(L, 4, 0));
  if (width < 1 || height < 1) return ERR_WRONGUSAGE;
  vlBitmap* bitmap = NewBitmap(width, height, 0, nullptr);
  if (!bitmap) return ERR_BITMAP;
  vlBGPicBackfill backfill{};
  backfill.desc.fillStyle = 1;
  backfill.desc.color = color;
  backfill.present = 1;
  FillBackfill(L, &backfill, bitmap, width, height, nullptr, 1);
  return AddFilled(L, id, automatic, bitmap, width, height, &backfill, 0);
}

int CmdCreateGradientBGPic(vlVMState* L) {
  CheckArgs(L, 4, 8, 0, 0);
  vlObjectId id;
  int status;
  int automatic = TakeNewId(L, 1, &id, &status);
  if (status) return status;
  int32_t width, height;
  vlBGPicBackfill backfill{};
  backfill.desc.fillStyle = 2;
  backfill.present = 1;
  if ((status = ReadGradientImageArgs(L, 5, 2, 7, &width, &height, &backfill.desc.gradient))) return status;
  vlBitmap* bitmap = NewBitmap(width, height, 0, nullptr);
  if (!bitmap) return ERR_BITMAP;
  FillBackfill(L, &backfill, bitmap, width, height, nullptr, 1);
  return AddFilled(L, id, automatic, bitmap, width, height, &backfill, 1);
}

int CmdCreateTexturedBGPic(vlVMState* L) {
  CheckArgs(L, 2, 6, 0, 0);
  vlObjectId id;
  int status;
  int automatic = TakeNewId(L, 1, &id, &status);
  if (status) return status;
  vlBGPicBackfill backfill{};
  GetObjectIDArg(&backfill.desc.textureBrush, L, 2);
  int32_t width, height;
  DefaultPictureSize(&width, &height);
  width = vl::OptIntArg(L, 3, width);
  height = vl::OptIntArg(L, 4, height);
  backfill.desc.textureX = vl::OptIntArg(L, 5, 0);
  backfill.desc.textureY = vl::OptIntArg(L, 6, 0);
  if (width < 1 || height < 1) return ERR_BADDIMENSIONS;
  backfill.desc.fillStyle = 3;
  backfill.present = 1;
  vlBitmap* bitmap = NewBitmap(width, height, 0, nullptr);
  if (!bitmap) return ERR_BITMAP;
  if ((status = FillBackfill(L, &backfill, bitmap, width, height, nullptr, 0))) {
    DeleteBitmap(bitmap);
    if (backfill.texture) DeleteBitmap(backfill.texture);
    return status;
  }
  return AddFilled(L, id, automatic, bitmap, width, height, &backfill, 1);
}

int CmdLoadBGPic(vlVMState* L) {
  CheckArgs(L, 2, 4, 0, 0);
  vlObjectId id;
  int status;
  int automatic = TakeNewId(L, 1, &id, &status);
  if (status) return status;
  const char* file = GetFileNameArg(L, 2, 0, nullptr);
  int32_t transparent = -1;
  int loadAlpha = 0, loadTransparency = 0, smooth = 0;
  int32_t scaleWidth = 0, scaleHeight = 0;
  char loaders[256] = "", adapters[256] = "";
  vlBGPicBackfill backfill{};
  if (vl::GetTypeAt(L, 3) == VL_TTABLE) {
    GetTableInt(L, 3, "transparency", &transparent, nullptr);
    GetTableBool(L, 3, "loadalpha", &loadAlpha, nullptr);
    GetTableBool(L, 3, "loadtransparency", &loadTransparency, nullptr);
    int32_t style = 0;
    GetTableInt(L, 3, "fillstyle", &style, nullptr);
    if (style < 0 || style > 3) return ERR_WRONGUSAGE;
    backfill.desc.fillStyle = static_cast<uint32_t>(style);
    if (style == 1) {
      int32_t color = 0;
      GetTableInt(L, 3, "fillcolor", &color, nullptr);
      backfill.desc.color = static_cast<uint32_t>(color);
    } else if (style == 2) {
      backfill.desc.gradient = vlGradientDesc{};
      if ((status = ReadGradientTable(L, 3, &backfill.desc.gradient, 1))) return status;
    } else if (style == 3) {
      GetTableObjectID(L, 3, "texturebrush", &backfill.desc.textureBrush, nullptr);
      GetTableInt(L, 3, "texturex", &backfill.desc.textureX, nullptr);
      GetTableInt(L, 3, "texturey", &backfill.desc.textureY, nullptr);
    }
    backfill.present = style != 0;
    if (int status = GetTableScaleSize(L, 3, "scalewidth", &scaleWidth)) return status;
    if (int status = GetTableScaleSize(L, 3, "scaleheight", &scaleHeight)) return status;
    GetTableBool(L, 3, "smoothscale", &smooth, nullptr);
    GetTableString(L, 3, "loader", loaders, sizeof loaders, nullptr);
    GetTableString(L, 3, "adapter", adapters, sizeof adapters, nullptr);
    if ((loadAlpha && loadTransparency) || (loadTransparency && transparent != -1)) return ERR_WRONGUSAGE;
  } else if (vl::GetTypeAt(L, 3) != VL_TNIL && vl::GetTypeAt(L, 3) != -1) {
    transparent = vl::CheckIntArg(L, 3);
  }
  if (transparent != -1 && loadAlpha) return ERR_MASKNALPHA;
  // Up to 256 palette colours for pictures that carry a palette, read up to
  // the first missing entry; -1 after them tells the reader where they end,
  // so the picture keeps its own colours from there on.
  uint32_t palette[256];
  bool havePalette = false;
  if (vl::GetTypeAt(L, 4) == VL_TTABLE) {
    havePalette = true;
    for (uint32_t& entry : palette) entry = 0xFFFFFFFFu;
    for (int i = 0; i < 256; ++i) {
      vl::RawGetTableIndex(L, 4, i);
      const bool missing = vl::GetTypeAt(L, -1) == VL_TNIL;
      if (!missing) palette[i] = static_cast<uint32_t>(vl::NumberToArgInt(vl::ToNumberAt(L, -1)));
      vl::SetStackTop(L, -2);
      if (missing) break;
    }
  }
  uint32_t quiet = 0;
  GetRuntimeOption(L, VL_OPT_QUIET, &quiet, 0u);
  if (!quiet) PrintProgressMessage(GetMessage(100), file, 1);
  vlLoadedSource* source = nullptr;
  vlLoadedImageInfo info{};
  // A file's transparency that comes as alpha ("loadtransparency" of a GIF)
  // is the plane the pipeline hands out; the BGPic makes its own from the
  // same pixels.
  vlBitmap* fileAlpha = nullptr;
  status = LoadImageWithLoaders(file, loaders, adapters, havePalette ? palette : nullptr, transparent, nullptr, 0,
                                loadAlpha ? 1 : 0, loadTransparency, scaleWidth, scaleHeight, smooth, &source,
                                loadTransparency ? &fileAlpha : nullptr, &info);
  if (status) return status;
  const bool wantAlpha = loadAlpha || fileAlpha;
  if (fileAlpha) DeleteAlphaPlane(fileAlpha);
  if (loadTransparency) transparent = info.transparent;
  // A picture that renders at any size stays the BGPic's source and is
  // re-made from it at each new size; it has no colour key.
  const bool vector = info.vector != 0;
  if (vector) transparent = -1;
  const int32_t width = info.width, height = info.height;
  vlBitmap *bitmap = nullptr, *mask = nullptr, *alpha = wantAlpha ? reinterpret_cast<vlBitmap*>(1) : nullptr;
  status = BuildBGPicBitmaps(L, GetLoadedSourcePixels(source), backfill.present ? &backfill : nullptr, transparent,
                             width, height, width, &bitmap, transparent != -1 ? &mask : nullptr, &alpha);
  if (!vector) {
    ReleaseLoadedSource(source);
    source = nullptr;
  }
  if (status) {
    ReleaseLoadedSource(source);
    if (backfill.texture) DeleteBitmap(backfill.texture);
    return status;
  }
  // Over a fill the picture's transparent parts are gone.
  if (!mask && !alpha && backfill.present) transparent = -1;
  vlBGPic* pic = nullptr;
  status = AddBGPic(&id, vector ? 1 : 0, width, height, width, source, bitmap, nullptr, transparent, mask, alpha,
                    backfill.present ? &backfill : nullptr, &pic);
  if (status) {
    ReleaseLoadedSource(source);
    DeleteBitmap(bitmap);
    if (mask) DeleteMaskPlane(mask);
    if (alpha) DeleteAlphaPlane(alpha);
    if (backfill.texture) DeleteBitmap(backfill.texture);
    return status;
  }
  pic->loaderWord = info.loader;
  if (!quiet) PrintDone();
  return Finish(L, automatic, pic);
}

int CmdCopyBGPic(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  vlObjectId srcId;
  GetObjectIDArg(&srcId, L, 1);
  vlObjectId id;
  int automatic = GetObjectIDArgOpt(&id, L, 2);
  if (!automatic && !srcId.handle && id.number == srcId.number) return ERR_WRONGUSAGE;
  vlBGPic* src = nullptr;
  if (int status = GetBGPicByID(L, srcId, &src, 0)) return status;
  if (!automatic)
    if (int status = FreeBGPicByID(L, id, 0)) return status;
  vlBGPic* copy = nullptr;
  if (int status = CloneBGPic(L, src, &id, &copy)) return status;
  return Finish(L, automatic, copy);
}

int CmdScaleBGPic(vlVMState* L) {
  CheckArgs(L, 3, 4, 0, 0);
  vlObjectId id;
  GetObjectIDArg(&id, L, 1);
  vlBGPic* pic = nullptr;
  if (int status = GetBGPicByID(L, id, &pic, 1)) return status;
  int32_t width = static_cast<int32_t>(GetNumberOrPercentArg(L, 2, pic->width, 1, nullptr));
  int32_t height = static_cast<int32_t>(GetNumberOrPercentArg(L, 3, pic->height, 1, nullptr));
  int smooth = vl::OptIntArg(L, 4, 0);
  if (DisplayOfBGPic(pic)) return ERR_SCALEBGPIC;
  if (IsSelectedBGPic(pic)) return ERR_MODIFYABGPIC;
  return ResizeBGPicPlanes(L, pic, width, height, smooth);
}

// Brushes and the shared display routine belong to the brush library;
// without it these report that no such brush or object can be made.
int CmdBrushToBGPic(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  vlObjectId brushId;
  GetObjectIDArg(&brushId, L, 1);
  return gLayerHooks.brushToBGPic(L, brushId, 2);
}

int CmdBGPicToBrush(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  vlObjectId id;
  GetObjectIDArg(&id, L, 1);
  vlBGPic* pic = nullptr;
  if (int status = GetBGPicByID(L, id, &pic, 0)) return status;
  return gLayerHooks.bgpicToBrush(L, pic, 2);
}

int CmdDisplayBGPicPart(vlVMState* L) {
  CheckArgs(L, 5, 8, 0, 0);
  vlObjectId id;
  GetObjectIDArg(&id, L, 1);
  vlBGPic* pic = nullptr;
  if (int status = GetBGPicByID(L, id, &pic, 0)) return status;
  return gLayerHooks.displayBGPicPart(L, pic);
}

const vlCommand kBgPicCommands[] = {
    {"DisplayBGPic", CmdDisplayBGPic},
    {"DisplayBGPicPart", CmdDisplayBGPicPart},
    {"ScaleBGPic", CmdScaleBGPic},
    {"CreateGradientBGPic", CmdCreateGradientBGPic},
    {"CreateRainbowBGPic", CmdCreateGradientBGPic},
    {"CreateTexturedBGPic", CmdCreateTexturedBGPic},
    {"BrushToBGPic", CmdBrushToBGPic},
    {"BGPicToBrush", CmdBGPicToBrush},
    {"CreateBGPic", CmdCreateBGPic},
    {"FreeBGPic", CmdFreeBGPic},
    {"LoadBGPic", CmdLoadBGPic},
    {"SelectBGPic", CmdSelectBGPic},
    {"EndSelect", CmdEndSelect},
    {"CopyBGPic", CmdCopyBGPic},
    {nullptr, nullptr},
};

}  // namespace

int OpenBgPicLib(vlVMState* L) {
  vl::PushSlotCopy(L, vl::kGlobalsIndex);
  vl::RegisterCommands(L, nullptr, kBgPicCommands, 0);
  vl::SetStackTop(L, -2);
  if (int status = RegisterLibrary(kBgPicCommands, "bgpic")) return status;
  return RegisterObjectList(reinterpret_cast<vlObjectNode**>(&vlBGPicList), [](const vlObjectNode* n) {
    return reinterpret_cast<const vlBGPic*>(n)->orphan != 0;
  });
}
