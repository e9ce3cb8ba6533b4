// The graphics library's state shared by its command files: the frame-rate
// limit, the clip-region and pointer-image lists, the mask mode and alpha
// intensity options, and the frame wait that VWait and the effects use.
#pragma once
#include <cstdint>

#include "graphics/geometry.h"
#include "runtime/objects.h"
#include "vm/auxlib.h"

struct vlVMState;
struct vlDisplay;
struct vlBitmap;
struct vlPointerRecord;

// A script's clip region. The blit view comes first after the head so the
// BGPic's and layers' region pointers can point straight at it.
struct vlClipRegionObject {
  vlObjectNode node;  // type 35
  vlClipRegion region;
  int32_t maskRowBytes;
  uint32_t orphaned;  // freed while a layer still uses it
  uint32_t locked;    // a transformed copy made for a layer
};

struct vlPointerImage {
  vlObjectNode node;  // type 36
  int32_t width, height;
  vlPointerRecord* cursor;
  int32_t kind;  // 0 system, 1 busy, 2 custom image
  int32_t hotX, hotY;
  uint32_t orphaned;
  vlBitmap* picture;
  vlBitmap* mask;
  vlBitmap* alpha;
};

struct vlGraphicsState {
  vlClipRegionObject* clipRegions;
  vlPointerImage* pointers;
  uint8_t* maskScratch;  // 240000 bytes, made with the first masked region
  int32_t fpsLimit;
  int32_t maskMode;
  int32_t alphaIntensity;  // -1 unset
};
extern vlGraphicsState gGraphicsState;

// Sleeps until 1/limit seconds have passed since the display's last tick
// (only for an open display unless force is set).
void WaitNextFrameTick(vlVMState* state, vlDisplay* display, int force);
// VWait: the frame wait, then the observers that want refresh notices.
void WaitDisplayRefresh(vlVMState* state, vlDisplay* display, int32_t value);

// The planes of an object that has a picture (a brush; frame is 0), or
// of one frame (1-based) of a sprite: 0 or the type's own not-found or
// range error. The libraries owning such objects install theirs.
using vlObjectPicturesFn = int (*)(vlVMState* state, vlObjectId id, int32_t frame, vlBitmap** picture,
                                   vlBitmap** mask, vlBitmap** alpha, int32_t* width, int32_t* height);
void SetObjectPicturesHandler(uint32_t type, vlObjectPicturesFn fn);
int GetObjectPictures(vlVMState* state, uint32_t type, vlObjectId id, int32_t frame, vlBitmap** picture,
                      vlBitmap** mask, vlBitmap** alpha, int32_t* width, int32_t* height);

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

// Pointer images.
int GetPointerImageByID(vlObjectId id, vlPointerImage** out);
void FreeAllPointerImages(vlVMState* state);

// GetAttribute for one built-in object type: pushes the results and
// returns their count, or returns an error code (1000 or more). The
// fourth script argument, when given, is at stack index 4.
using vlAttributeFn = int (*)(vlVMState* state, vlObjectId id, int32_t attribute);
// Libraries of later subsystems install theirs when they open.
void SetAttributeHandler(uint32_t type, vlAttributeFn fn);
// The attributes only some layer kinds have (frames of anim and video
// layers, playback of video layers, fonts and text of text layers), asked
// of the library that owns the kind.
struct vlLayer;
using vlLayerAttributeFn = int (*)(vlVMState* state, vlLayer* layer, int32_t attribute);
void SetLayerAttributeHandler(uint32_t layerType, vlLayerAttributeFn fn);
// The font attributes (ATTRFONTASCENDER to ATTRFONTAA) of the current font,
// which displays report; the text library installs it.
using vlFontAttributeFn = int (*)(vlVMState* state, int32_t attribute);
void SetCurrentFontAttributeHandler(vlFontAttributeFn fn);

extern const vlCommand kGraphicsColorCommands[];
extern const vlCommand kGraphicsClipCommands[];
extern const vlCommand kGraphicsPointerCommands[];
extern const vlCommand kGraphicsAttributeCommands[];
extern const vlCommand kGraphicsSnapshotCommands[];
