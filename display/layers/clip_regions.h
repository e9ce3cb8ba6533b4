// Clip regions: rectangles (or brush shapes) that limit where drawing
// commands write on the current output, the transformed copies layers draw
// through, and the graphics library's state record that lists them.
#pragma once
#include <cstddef>
#include <cstdint>

#include "graphics/geometry.h"
#include "runtime/objects.h"
#include "vm/auxlib.h"

struct vlVMState;
struct vlBitmap;
struct vlPointerImage;

// A script's clip region. The blit view comes first after the head so the
// BGPic's and layers' region pointers can point straight at it.
struct vlClipRegionObject {
  vlObjectNode node;  // type 35
  vlClipRegion region;
  int32_t maskRowBytes;
  uint32_t orphaned;  // freed while a layer still uses it
  uint32_t locked;    // a transformed copy made for a layer
};

// The graphics library's state: the frame-rate limit, the clip-region and
// pointer-image lists, the mask mode and alpha intensity options.
struct vlGraphicsState {
  vlClipRegionObject* clipRegions;
  vlPointerImage* pointers;
  uint8_t* maskScratch;  // 240000 bytes, made with the first masked region
  int32_t fpsLimit;
  int32_t maskMode;
  int32_t alphaIntensity;    // -1 unset
  size_t maskScratchSize;    // grown by the blits that use it, never shrunk
  int32_t maskScratchInUse;  // a plane over it is alive
};
extern vlGraphicsState gGraphicsState;

// Clip regions.
int GetClipRegionByID(vlObjectId id, vlClipRegionObject** out);
int CountClipRegions();
void FreeAllClipRegions(vlVMState* state);
// Frees orphaned regions that no layer shows any more.
void FreeUnusedClipRegions(vlVMState* state);
// A locked copy of region for a transformed layer: its corner pixels turned
// by the matrix (as FitRotatedRect takes it) about the pivot and rounded,
// then moved by the offset; a shaped or turned region gets a mask turned
// by the affine renderer, as the layer's picture is. null
// when out of memory.
vlClipRegion* TransformClipMask(const vlClipRegion* region, const double* matrix, double pivotX, double pivotY,
                                int32_t offsetX, int32_t offsetY);
// Frees region when it is such a copy; a script's region stays.
void ReleaseClipRegionCopy(void* region);

// A plane over the source's first srcY + height rows that keeps only what
// the clip mask lets through of the width x height block at (srcX, srcY),
// drawn at (dstX, dstY): an alpha plane when the source has alpha, else a
// mask. Its bytes are the graphics state's scratch buffer (grown when too
// small) unless another such plane holds it; release it with
// FreeClipPlane. null when out of memory.
vlBitmap* MakeClipPlane(const vlClipRegion* clip, vlBitmap* mask, vlBitmap* alpha, int32_t srcX, int32_t srcY,
                        int32_t dstX, int32_t dstY, int32_t width, int32_t height, int32_t srcWidth);
void FreeClipPlane(vlBitmap* plane);

extern const vlCommand kGraphicsClipCommands[];
