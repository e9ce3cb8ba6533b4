// What the graphics library's command files share: the pointer images, the
// frame wait that VWait and the effects use, and the attribute handlers of
// GetAttribute. Its state record sits with the clip regions in the layer
// engine, which draws through them.
#pragma once
#include <cstdint>

#include "display/layers/clip_regions.h"
#include "display/object_pictures.h"
#include "graphics/geometry.h"
#include "runtime/objects.h"
#include "vm/auxlib.h"

struct vlVMState;
struct vlDisplay;
struct vlBitmap;
struct vlPointerRecord;

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

// Sleeps until 1/limit seconds have passed since the display's last tick
// (only for an open display unless force is set).
void WaitNextFrameTick(vlVMState* state, vlDisplay* display, int force);
// VWait: the frame wait, then the observers that want refresh notices.
void WaitDisplayRefresh(vlVMState* state, vlDisplay* display, int32_t value);

// Pointer images.
int GetPointerImageByID(vlObjectId id, vlPointerImage** out);
void FreeAllPointerImages(vlVMState* state);
// Lets new windows show the pointer the script set for their display.
void InstallPointerImageHooks();

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
extern const vlCommand kGraphicsPointerCommands[];
extern const vlCommand kGraphicsAttributeCommands[];
extern const vlCommand kGraphicsSnapshotCommands[];
