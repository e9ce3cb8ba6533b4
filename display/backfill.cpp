// Backfills: colour, gradient and texture fills of pictures and ARGB
// buffers, and building a BGPic's planes from ARGB pixels over its fill.
#include "display/backfill.h"

#include <new>

#include "display/bgpic.h"
#include "display/layer_hooks.h"
#include "formats/loaded_source.h"
#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "graphics/gradient_render.h"
#include "vm/error_codes.h"

namespace {

int CopyTexture(vlVMState* L, vlBGPicBackfill* b) {
  vlBitmap* bitmap = nullptr;
  int32_t w = 0, h = 0;
  if (int status = gLayerHooks.brushBitmap(L, b->desc.textureBrush, &bitmap, &w, &h)) return status;
  vlBitmap* copy = NewBitmap(w, h, 0, nullptr);
  if (!copy) return ERR_BITMAP;
  BltBitmap(bitmap, 0, 0, copy, 0, 0, w, h);
  if (b->texture) DeleteBitmap(b->texture);
  b->texture = copy;
  b->textureWidth = w;
  b->textureHeight = h;
  return 0;
}

}  // namespace

int FillBackfill(vlVMState* L, vlBGPicBackfill* b, vlBitmap* bitmap, int32_t width, int32_t height, uint32_t* argb,
                 int keepTexture) {
  const vlBackfillDesc& d = b->desc;
  if (d.fillStyle == 2) {
    if (argb) {
      vlGradientJob job;
      job.pixels = reinterpret_cast<uint8_t*>(argb);
      job.width = job.bufferWidth = job.rowLength = width;
      job.height = job.bufferHeight = height;
      job.gradient = &d.gradient;
      RenderGradient(job);
      for (size_t i = 0, n = static_cast<size_t>(width) * height; i < n; ++i) argb[i] |= 0xFF000000u;
      return 0;
    }
    return DrawGradient(bitmap, 0, 0, width, height, &d.gradient);
  }
  if (d.fillStyle == 3) {
    if (!keepTexture || !b->texture)
      if (int status = CopyTexture(L, b)) return status;
    if (argb) {
      uint32_t* tile = ReadBitmapARGB(b->texture, 0, 0, b->textureWidth, b->textureHeight, 0);
      if (!tile) return ERR_MEM;
      for (int32_t y = 0; y < height; ++y) {
        int32_t ty = ((y + d.textureY) % b->textureHeight + b->textureHeight) % b->textureHeight;
        for (int32_t x = 0; x < width; ++x) {
          int32_t tx = ((x + d.textureX) % b->textureWidth + b->textureWidth) % b->textureWidth;
          argb[static_cast<size_t>(y) * width + x] = tile[static_cast<size_t>(ty) * b->textureWidth + tx] | 0xFF000000u;
        }
      }
      delete[] tile;
    } else {
      TileBitmap(bitmap, 0, 0, width, height, b->texture, d.textureX, d.textureY, b->textureWidth, b->textureHeight,
                 nullptr, 0);
    }
    return 0;
  }
  if (argb) {
    for (size_t i = 0, n = static_cast<size_t>(width) * height; i < n; ++i) argb[i] = d.color | 0xFF000000u;
  } else {
    FillBitmapRect(bitmap, 0, 0, width, height, d.color | 0xFF000000u);
  }
  return 0;
}

int BuildBGPicBitmaps(vlVMState* L, const uint32_t* argb, vlBGPicBackfill* b, int32_t transparentColor, int32_t width,
                      int32_t height, int32_t rowLength, vlBitmap** outBitmap, vlBitmap** outMask,
                      vlBitmap** outAlpha) {
  vlBitmap *bitmap = nullptr, *mask = nullptr, *alpha = nullptr;
  const bool wantAlpha = outAlpha && *outAlpha;
  if (argb) {
    int status = BitmapFromARGB(argb, transparentColor, width, height, rowLength, wantAlpha, wantAlpha ? 2 : 0, 0, &bitmap,
                                &mask, wantAlpha ? &alpha : nullptr);
    if (status) return status;
    if (!b || b->desc.fillStyle == 0 || (!mask && !alpha)) {
      *outBitmap = bitmap;
      if (outMask) *outMask = mask;
      else if (mask) DeleteMaskPlane(mask);
      if (outAlpha) *outAlpha = alpha;
      return 0;
    }
  }
  vlBitmap* filled = NewBitmap(width, height, 0, nullptr);
  int status = filled ? 0 : ERR_BITMAP;
  if (!status && b) status = FillBackfill(L, b, filled, width, height, nullptr, 1);
  if (!status && bitmap) {
    if (alpha)
      BltBitmapAlpha(bitmap, 0, 0, filled, 0, 0, width, height, alpha);
    else if (mask)
      BltBitmapMasked(bitmap, 0, 0, filled, 0, 0, width, height, mask);
    else
      BltBitmap(bitmap, 0, 0, filled, 0, 0, width, height);
  }
  if (bitmap) DeleteBitmap(bitmap);
  if (mask) DeleteMaskPlane(mask);
  if (alpha) DeleteAlphaPlane(alpha);
  if (status) {
    if (filled) DeleteBitmap(filled);
    return status;
  }
  *outBitmap = filled;
  if (outMask) *outMask = nullptr;
  if (outAlpha) *outAlpha = nullptr;
  return 0;
}

void RetainBGPicSource(vlBGPic* from, vlBGPic* to) {
  to->source = from->source;
  RetainLoadedSource(to->source);
}

void ReleaseBGPicSource(vlBGPic* pic) {
  ReleaseLoadedSource(pic->source);
  pic->source = nullptr;
}
