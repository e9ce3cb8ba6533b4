// Brush commands that work on pixel values or write files: flood fill,
// colour replacement, saving, and turning a vector brush into a raster one.
#include <memory>
#include <vector>

#include "formats/image_save.h"
#include "graphics/bitmap.h"
#include "graphics/fill_kernels.h"
#include "graphics/image_kernels.h"
#include "graphics/pixel_access.h"
#include "graphics/picture_engines.h"
#include "graphics/pixel_format.h"
#include "graphics/position.h"
#include "objects/brushes/brush.h"
#include "objects/brushes/brush_commands.h"
#include "runtime/error_vm.h"
#include "formats/loaded_source.h"
#include "runtime/object_data.h"
#include "runtime/script_call.h"
#include "vm/argreaders.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

int CmdFloodFill(vlVMState* L) {
  CheckArgs(L, 5, 5, 0, 0);
  vlBrush* b = nullptr;
  if (int status = FindBrushToChange(L, 1, &b)) return status;
  const int32_t x = ResolvePosX(vl::CheckIntArg(L, 2), 1, b->width, 0);
  const int32_t y = ResolvePosY(vl::CheckIntArg(L, 3), 1, b->height, 0);
  if (x < 0 || y < 0) return ERR_NEGCOORDS;
  if (x >= b->width || y >= b->height) return ERR_COORDSRANGE;
  const auto border = static_cast<uint32_t>(vl::CheckNumberArg(L, 4));
  const auto fill = static_cast<uint32_t>(vl::CheckNumberArg(L, 5));
  vlPixelAccess a;
  if (!LockPixels(b->bitmap, 0, &a)) return ERR_LOCKBMAP;
  int status = 0;
  const uint32_t pb = ColorToPixel(border, a.format, 0), pf = ColorToPixel(fill, a.format, 0);
  if (a.bytesPerPixel == 2)
    status = FloodFillPix16(&a, x, y, pb, pf);
  else if (a.bytesPerPixel == 4)
    status = FloodFillPix32(&a, x, y, pb, pf, ColorCompareMask(a.format));
  UnlockPixels(b->bitmap, &a);
  return status;
}

int CmdReplaceColors(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  vl::CheckTableArg(L, 2);
  std::vector<uint32_t> pairs;
  for (int i = 0;; i += 2) {
    vl::RawGetTableIndex(L, 2, i);
    const bool end = vl::GetTypeAt(L, -1) == VL_TNIL || vl::ToNumberAt(L, -1) == -1;
    const double from = vl::ToNumberAt(L, -1);
    vl::SetStackTop(L, -2);
    if (end) break;
    vl::RawGetTableIndex(L, 2, i + 1);
    const bool missing = vl::GetTypeAt(L, -1) == VL_TNIL;
    const double to = vl::ToNumberAt(L, -1);
    vl::SetStackTop(L, -2);
    if (missing) return ERR_WRONGUSAGE;
    pairs.push_back(static_cast<uint32_t>(static_cast<int64_t>(from)));
    pairs.push_back(static_cast<uint32_t>(static_cast<int64_t>(to)));
  }
  if (pairs.empty()) return 0;
  vlBrush* b = nullptr;
  if (int status = FindBrushToChange(L, 1, &b)) return status;
  vlPixelAccess a;
  if (!LockPixels(b->bitmap, 0, &a)) return ERR_LOCKBMAP;
  for (uint32_t& c : pairs) c = ColorToPixel(c, a.format, 0);
  const auto count = static_cast<int32_t>(pairs.size() / 2);
  if (a.bytesPerPixel == 2)
    ReplaceColorsPix16(&a, pairs.data(), count);
  else if (a.bytesPerPixel == 4)
    ReplaceColorsPix32(&a, pairs.data(), count, ColorCompareMask(a.format));
  UnlockPixels(b->bitmap, &a);
  return 0;
}

namespace {

// A brush the display adapter keeps in its own memory: its pixels, with
// their alpha, read back through the adapter. Holes of a transparent
// colour take that colour, as a brush of the player's own is saved.
int SaveHardwareBrush(vlBrush* b, int32_t format, const char* file, int32_t quality, int32_t colors, int32_t dither) {
  uint32_t* argb = nullptr;
  if (int32_t status = ReadBitmapRectARGB(b->bitmap, 0, 0, b->width, b->height, nullptr, &argb)) return status;
  const std::unique_ptr<uint32_t[]> pixels(argb);
  const bool alpha = (b->hardwareFlags & 2) != 0, mask = (b->hardwareFlags & 1) != 0;
  if (!alpha)
    for (size_t i = 0; i < static_cast<size_t>(b->width) * b->height; ++i)
      argb[i] = mask && argb[i] >> 24 == 0 ? 0xFF000000u | (static_cast<uint32_t>(b->transparentColor) & 0xFFFFFF)
                                           : argb[i] | 0xFF000000u;
  return SaveImageToFile(format, argb, b->width, b->height, file, mask ? b->transparentColor : -1, alpha, quality,
                         colors, dither);
}

}  // namespace

int CmdSaveBrush(vlVMState* L) {
  CheckArgs(L, 2, 5, 0, 0);
  vlObjectId id;
  GetObjectIDArg(&id, L, 1);
  const char* file = GetFileNameArg(L, 2, 0, nullptr);
  const int32_t format = vl::OptIntArg(L, 3, VL_IMGFMT_BMP);
  int32_t quality, colors, dither;
  ReadSaveOptions(L, 5, &quality, &colors, &dither);
  vlBrush* b = nullptr;
  if (int status = GetBrushByID(L, id, &b, VL_BRUSH_HARDWAREOK)) return status;
  if (!b->bitmap) return ERR_BRUSHTYPE;
  if (b->hardware && IsVideoBitmap(b->bitmap)) return SaveHardwareBrush(b, format, file, quality, colors, dither);
  return SaveBitmapImage(format, b->bitmap, b->width, b->height, file, b->mask, b->mask ? b->transparentColor : -1,
                         b->alpha, quality, colors, dither);
}

int CmdRasterizeBrush(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  vlObjectId id;
  GetObjectIDArg(&id, L, 1);
  if (int status = RefuseActiveBrush(L, id)) return status;
  vlBrush* b = nullptr;
  if (int status = GetBrushByID(L, id, &b, VL_BRUSH_FINDUNLOCKED)) return status;
  if (b->kind != 1) return ERR_WRONGUSAGE;
  b->kind = 0;
  if (b->source) ReleaseLoadedSource(b->source);
  b->source = nullptr;
  return 0;
}
