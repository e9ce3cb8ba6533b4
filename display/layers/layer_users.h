// The layers that show a script object (brush, anim, text object, BGPic
// part, video): finding them, moving them to another record, and giving
// them a private copy before the object changes.
#pragma once
#include <cstdint>

#include "runtime/objects.h"

struct vlVMState;
struct vlBGPic;
struct vlLayer;
struct vlDisplay;

// 1 when a layer of some BGPic shows the object (a brush also through
// brush-part layers); the first one found, other than skip, is handed out.
int FindLayerShowingObject(uint32_t type, vlObjectId id, const vlLayer* skip, vlBGPic** outPic,
                           vlLayer** outLayer);
// Every layer showing the object refers to record by handle afterwards; 1
// when any layer was changed.
int RebindLayersToRecord(uint32_t type, vlObjectId id, void* record);
vlBGPic* FindBGPicOfLayer(const vlLayer* layer);

// Makes a copy of record whose id (asked for as automatic) becomes the
// copy's own address; 0 or an error.
using vlLayerCopyFn = int (*)(vlVMState* state, void* record, vlObjectId* id, void** copy);
// When a layer shows the object: copies it with copy and moves the layers
// to the copy. 0 or the copy's error; outCopy null when no layer shows it.
int ForObjectLayerUser(vlVMState* state, uint32_t type, vlObjectId id, vlLayerCopyFn copy, void* record,
                       void** outCopy);

// The BGPic hooks of the display core: private copies for the layers that
// show a BGPic about to change, and their move to a BGPic being orphaned.
void InstallBGPicUserHooks();

// The display whose BGPic holds the VIDEO layer of the video, or null.
vlDisplay* GetDisplayOfVideo(vlObjectId video);
