// Clip regions: rectangles (or brush shapes) that limit where drawing
// commands write on the current output, and the planes that blits and the
// redraw draw through.
#include "display/layers/clip_regions.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <new>

#include "display/bgpic.h"
#include "display/display.h"
#include "display/layer_hooks.h"
#include "display/layers/layers.h"
#include "display/object_pictures.h"
#include "graphics/adapter.h"
#include "graphics/bitmap.h"
#include "graphics/picture_engines.h"
#include "graphics/pixel_kernels.h"
#include "graphics/position.h"
#include "runtime/error_vm.h"
#include "runtime/errors.h"
#include "runtime/object_data.h"
#include "runtime/object_index.h"
#include "vm/argreaders.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

vlGraphicsState gGraphicsState = {nullptr, nullptr, nullptr, 60, 0, -1, 0, 0};

namespace {

constexpr size_t kMaskScratchSize = 240000;

// Making and finding a region must not walk every region there is.
vlObjectIndex gClipRegionIndex;

vlObjectNode** ListHead() { return reinterpret_cast<vlObjectNode**>(&gGraphicsState.clipRegions); }

bool LayerUsesRegion(const vlClipRegionObject* r) {
  for (vlBGPic* pic = vlBGPicList; pic; pic = pic->next)
    for (vlNode* n = pic->layers.head; n->succ; n = n->succ) {
      auto* layer = reinterpret_cast<vlLayer*>(n);
      for (vlLayerGeometry* g : layer->geometry)
        if (g && g->clipRegion == &r->region) return true;
    }
  return false;
}

void Unlink(vlClipRegionObject* r) { gClipRegionIndex.Unlink(ListHead(), &r->node); }

void Destroy(vlVMState* L, vlClipRegionObject* r) {
  Unlink(r);
  if (r->region.mask) DeleteMaskPlane(r->region.mask);
  FreeObjectDataList(L, &r->node.data);
  delete r;
}

// Stops the region being anyone's active region; frees it unless a layer
// still draws through it. 0 or 1000 (nothing changed).
int ReleaseRegion(vlVMState* L, vlClipRegionObject* r) {
  const bool kept = LayerUsesRegion(r);
  // Kept for the layers, it is known by its own address only.
  if (kept)
    if (int status = gClipRegionIndex.Rekey(&r->node, {0, r})) return status;
  for (vlBGPic* pic = vlBGPicList; pic; pic = pic->next)
    if (pic->clipRegion == &r->region) pic->clipRegion = nullptr;
  if (vlCurrentOutput && vlCurrentOutput->clipRegion == &r->region) vlCurrentOutput->clipRegion = nullptr;
  // Sprites put on screen while it was active were cut by it until now.
  gLayerHooks.refreshTaggedSpriteNodes(L, &r->region);
  if (kept) {
    r->orphaned = 1;
    return 0;
  }
  Destroy(L, r);
  return 0;
}

int Append(vlClipRegionObject* r) { return gClipRegionIndex.Append(ListHead(), &r->node); }

int32_t OutputWidth() { return vlCurrentOutput ? vlCurrentOutput->width : 0; }
int32_t OutputHeight() { return vlCurrentOutput ? vlCurrentOutput->height : 0; }

int CmdCreateClipRegion(vlVMState* L) {
  CheckArgs(L, 2, 6, 0, 0);
  vlObjectId id;
  int automatic = GetObjectIDArgOpt(&id, L, 1);
  if (!automatic) {
    vlClipRegionObject* old = nullptr;
    if (!GetClipRegionByID(id, &old))
      if (int status = ReleaseRegion(L, old)) return status;
  }
  int32_t type = vl::CheckIntArg(L, 2);
  int32_t x, y, width, height;
  vlBitmap* mask = nullptr;
  if (type == 14) {
    x = vl::CheckIntArg(L, 3);
    y = vl::CheckIntArg(L, 4);
    width = vl::CheckIntArg(L, 5);
    height = vl::CheckIntArg(L, 6);
  } else if (type == 28) {
    vlObjectId brush;
    GetObjectIDArg(&brush, L, 3);
    vlBitmap *picture = nullptr, *alpha = nullptr;
    if (int s = GetObjectPictures(L, VL_OBJ_BRUSH, brush, 0, &picture, &mask, &alpha, &width, &height)) return s;
    if (!mask) return ERR_NOMASKBRUSH;
    x = vl::CheckIntArg(L, 4);
    y = vl::CheckIntArg(L, 5);
  } else {
    return ERR_WRONGUSAGE;
  }
  if (width < 1 || height < 1) return ERR_WRONGUSAGE;
  x = ResolvePosX(x, width, OutputWidth(), 0);
  y = ResolvePosY(y, height, OutputHeight(), 0);
  if (static_cast<int64_t>(x) + width < 1 || static_cast<int64_t>(y) + height < 1) return ERR_WRONGUSAGE;
  // The region owns its mask: a brush's plane is copied even when no
  // cut is needed, so freeing the brush later leaves the region intact.
  int32_t cutX = x < 0 ? -x : 0, cutY = y < 0 ? -y : 0;
  if (mask) {
    if (int32_t s = ClipMaskOrigin(&x, &y, width, height, &mask, 1, 0)) return s;
  }
  if (x < 0) x = 0;
  if (y < 0) y = 0;
  width -= cutX;
  height -= cutY;
  if (mask && !gGraphicsState.maskScratch) {
    gGraphicsState.maskScratch = new (std::nothrow) uint8_t[kMaskScratchSize]();
    if (!gGraphicsState.maskScratch) {
      DeleteMaskPlane(mask);
      return ERR_MEM;
    }
    gGraphicsState.maskScratchSize = kMaskScratchSize;
  }
  auto* r = new (std::nothrow) vlClipRegionObject{};
  if (!r) {
    if (mask) DeleteMaskPlane(mask);
    return ERR_MEM;
  }
  r->node.type = VL_OBJ_CLIPREGION;
  r->node.idNumber = automatic ? 0 : id.number;
  r->node.idHandle = automatic ? r : nullptr;
  r->region = vlClipRegion{x, y, width, height, mask};
  r->maskRowBytes = mask ? MaskRowBytes(width) : 0;
  if (Append(r)) {
    if (mask) DeleteMaskPlane(mask);
    delete r;
    return ERR_MEM;
  }
  if (!automatic) return 0;
  vl::PushPointer(L, r);
  return 1;
}

int CmdSetClipRegion(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  vlDisplay* d = CurrentDisplay();
  if (d && (d->outputType == VL_OUTPUT_MASK || d->outputType == VL_OUTPUT_ALPHA)) return ERR_WRONGUSAGE;
  vlObjectId id{};
  if (vl::GetTypeAt(L, 1) != VL_TNIL) GetObjectIDArg(&id, L, 1);
  if (!id.handle && (id.number == 0 || id.number == -1)) {
    if (vlCurrentOutput) vlCurrentOutput->clipRegion = nullptr;
    if (d) {
      d->cursorX = d->cursorY = 0;
      d->marginLeft = 0;
      d->marginRight = OutputWidth() - 1;
    }
    return 0;
  }
  vlClipRegionObject* r = nullptr;
  if (int s = GetClipRegionByID(id, &r)) return s;
  if (static_cast<int64_t>(r->region.x) + r->region.width > OutputWidth() ||
      static_cast<int64_t>(r->region.y) + r->region.height > OutputHeight())
    return ERR_WRONGCLIPREG;
  if (vlCurrentOutput) vlCurrentOutput->clipRegion = &r->region;
  if (d) {
    d->cursorX = r->region.x;
    d->cursorY = 0;
    d->marginLeft = r->region.x;
    d->marginRight = r->region.x + r->region.width - 1;
  }
  return 0;
}

int CmdFreeClipRegion(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  vlObjectId id;
  GetObjectIDArg(&id, L, 1);
  vlClipRegionObject* r = nullptr;
  if (int s = GetClipRegionByID(id, &r)) return s;
  if (r->locked) return ERR_LOCKEDOBJ;
  return ReleaseRegion(L, r);
}

}  // namespace

int GetClipRegionByID(vlObjectId id, vlClipRegionObject** out) {
  if ((*out = gClipRegionIndex.FirstNamed<vlClipRegionObject>(id))) return 0;
  if (id.handle) return ERR_FINDARRAY;
  SetErrorArgIndex(id.number);
  return ERR_FINDCLIPREGION;
}

void FreeUnusedClipRegions(vlVMState* L) {
  for (vlClipRegionObject* r = gGraphicsState.clipRegions; r;) {
    auto* next = reinterpret_cast<vlClipRegionObject*>(r->node.next);
    if (r->orphaned && !LayerUsesRegion(r)) Destroy(L, r);
    r = next;
  }
}

void FreeAllClipRegions(vlVMState* L) {
  for (vlBGPic* pic = vlBGPicList; pic; pic = pic->next) pic->clipRegion = nullptr;
  // Layers drop their pointers first so none is left dangling.
  for (vlBGPic* pic = vlBGPicList; pic; pic = pic->next)
    for (vlNode* n = pic->layers.head; n->succ; n = n->succ)
      for (vlLayerGeometry* g : reinterpret_cast<vlLayer*>(n)->geometry)
        if (g && g->clipRegion) {
          for (vlClipRegionObject* r = gGraphicsState.clipRegions; r;
               r = reinterpret_cast<vlClipRegionObject*>(r->node.next))
            if (g->clipRegion == &r->region) g->clipRegion = nullptr;
        }
  while (gGraphicsState.clipRegions) Destroy(L, gGraphicsState.clipRegions);
  gClipRegionIndex.Clear();
  delete[] gGraphicsState.maskScratch;
  gGraphicsState.maskScratch = nullptr;
  gGraphicsState.maskScratchSize = 0;
}

vlClipRegion* TransformClipMask(const vlClipRegion* src, const double* m, double pivotX, double pivotY,
                                int32_t offsetX, int32_t offsetY) {
  if (!src || src->width < 1 || src->height < 1) return nullptr;
  // The corner pixels about the pivot, turned and rounded: their box is
  // where the region lands.
  const double left = src->x - pivotX, top = src->y - pivotY;
  double p[8] = {left, top, left + src->width - 1, top, left + src->width - 1, top + src->height - 1,
                 left, top + src->height - 1};
  int32_t x, y, width, height;
  TransformPointsBounds(p, 4, m, 0, 0, &width, &height, &x, &y);
  x += offsetX;
  y += offsetY;
  vlBitmap* mask = nullptr;
  if (!src->mask && m[1] == 0 && m[2] == 0) {
    // A plain scale: the rectangle's area scaled.
    width = std::max(1, static_cast<int32_t>(std::floor(src->width * std::fabs(m[0]) + 0.5)));
    height = std::max(1, static_cast<int32_t>(std::floor(src->height * std::fabs(m[3]) + 0.5)));
  } else {
    // The region's shape (a turned rectangle: all of it) goes through the
    // affine renderer that turns the layer's picture, so both cover the
    // same pixels; without a mask of its own every pixel of the region is
    // in it, and the turned mask is then the covered pixels.
    vlBitmap *image = nullptr, *alpha = nullptr;
    int32_t status = TransformBitmap(nullptr, src->mask, nullptr, 0, 0, src->width, src->height, m, 0, 0, &image,
                                     &mask, &alpha, &width, &height);
    if (image) DeleteBitmap(image);
    if (alpha) DeleteAlphaPlane(alpha);
    if (status || !mask) {
      if (mask) DeleteMaskPlane(mask);
      return nullptr;
    }
  }
  // Parts left of or above the BGPic are cut off, as when regions are made.
  int32_t cutX = x < 0 ? std::min(-x, width) : 0, cutY = y < 0 ? std::min(-y, height) : 0;
  if (mask && (cutX || cutY)) {
    if (ClipMaskOrigin(&x, &y, width, height, &mask, 0, 1)) {
      DeleteMaskPlane(mask);
      return nullptr;
    }
  }
  x = std::max(x, 0);
  y = std::max(y, 0);
  auto* r = new (std::nothrow) vlClipRegionObject{};
  if (!r) {
    if (mask) DeleteMaskPlane(mask);
    return nullptr;
  }
  r->node.type = VL_OBJ_CLIPREGION;
  r->node.idHandle = r;
  r->locked = 1;
  r->region = vlClipRegion{x, y, width - cutX, height - cutY, mask};
  r->maskRowBytes = mask ? MaskRowBytes(width) : 0;
  return &r->region;
}

void ReleaseClipRegionCopy(void* region) {
  if (!region) return;
  auto* r = reinterpret_cast<vlClipRegionObject*>(static_cast<char*>(region) - offsetof(vlClipRegionObject, region));
  if (!r->locked) return;
  if (r->region.mask) DeleteMaskPlane(r->region.mask);
  delete r;
}

vlBitmap* MakeClipPlane(const vlClipRegion* clip, vlBitmap* mask, vlBitmap* alpha, int32_t srcX, int32_t srcY,
                    int32_t dstX, int32_t dstY, int32_t width, int32_t height, int32_t srcWidth) {
  const int32_t rows = srcY + height;
  // Only the block's rows and columns are written and read, so the
  // scratch bytes are not cleared between blits (a vector copy loop may
  // still load the bytes around the block: they start out zero). An
  // adapter that holds every plane makes a real one.
  uint8_t* scratch = nullptr;
  const int32_t rowBytes = alpha ? AlphaRowBytes(srcWidth) : MaskRowBytes(srcWidth);
  if (!AdapterHas(VL_ADAPTER_OWNS_BITMAPS) && !gGraphicsState.maskScratchInUse && rowBytes > 0 && rows > 0) {
    const size_t need = static_cast<size_t>(rowBytes) * static_cast<size_t>(rows);
    if (need > gGraphicsState.maskScratchSize || !gGraphicsState.maskScratch) {
      delete[] gGraphicsState.maskScratch;
      gGraphicsState.maskScratchSize = 0;
      if (!(gGraphicsState.maskScratch = new (std::nothrow) uint8_t[need]())) return nullptr;
      gGraphicsState.maskScratchSize = need;
    }
    scratch = gGraphicsState.maskScratch;
  }
  vlBitmap* plane = alpha ? NewAlphaPlane(srcWidth, rows, !scratch, scratch, rowBytes)
                          : NewMaskPlane(nullptr, srcWidth, rows, !scratch, scratch, rowBytes);
  if (!plane) return nullptr;
  if (scratch) gGraphicsState.maskScratchInUse = 1;
  vlPixelAccess c{}, out{}, src{};
  if (!LockPixels(clip->mask, VL_LOCK_READ, &c)) {
    FreeClipPlane(plane);
    return nullptr;
  }
  LockPixels(plane, 0, &out);
  vlBitmap* own = alpha ? alpha : mask;
  if (own) LockPixels(own, VL_LOCK_READ, &src);
  // The clip mask sits at the region's corner on the target.
  const int32_t cx = dstX - clip->x, cy = dstY - clip->y;
  vlSafeBltMaskJob job{};
  job.clip = c.pixels + static_cast<intptr_t>(cy) * c.rowLength;
  job.clipRowBytes = c.rowLength;
  job.clipBit = cx;
  if (alpha) {
    job.srcAlpha = src.pixels + static_cast<intptr_t>(srcY) * src.rowLength + srcX;
    job.srcAlphaRowBytes = src.rowLength;
    job.out = out.pixels + static_cast<intptr_t>(srcY) * out.rowLength + srcX;
  } else {
    if (mask) {
      job.srcMask = src.pixels + static_cast<intptr_t>(srcY) * src.rowLength;
      job.srcMaskRowBytes = src.rowLength;
      job.srcBit = srcX;
    }
    job.out = out.pixels + static_cast<intptr_t>(srcY) * out.rowLength;
    job.outBit = srcX;
  }
  job.outRowBytes = out.rowLength;
  job.width = width;
  job.height = height;
  if (cx >= 0 && cy >= 0 && cx + width <= c.width && cy + height <= c.height) SafeBltMaskLoop(job);
  if (own) UnlockPixels(own, &src);
  UnlockPixels(plane, &out);
  UnlockPixels(clip->mask, &c);
  return plane;
}

void FreeClipPlane(vlBitmap* plane) {
  if (!plane) return;
  vlPixelAccess a{};
  // A plane over the scratch buffer borrows it: deleting it frees the
  // records alone.
  if (LockPixels(plane, VL_LOCK_READ, &a)) {
    if (a.pixels == gGraphicsState.maskScratch) gGraphicsState.maskScratchInUse = 0;
    UnlockPixels(plane, &a);
  }
  plane->kind == VL_BITMAP_ALPHA ? DeleteAlphaPlane(plane) : DeleteMaskPlane(plane);
}

const vlCommand kGraphicsClipCommands[] = {
    {"CreateClipRegion", CmdCreateClipRegion},
    {"SetClipRegion", CmdSetClipRegion},
    {"FreeClipRegion", CmdFreeClipRegion},
    {nullptr, nullptr},
};
