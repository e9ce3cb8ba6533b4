// Videos shown as VIDEO layers: playing into a layer, single frames as
// layers, the copies layers keep, and the hooks the layer and graphics
// code call.
#pragma once
#include <cstdint>

#include "runtime/objects.h"

struct vlVMState;
struct vlLayer;
struct vlVideo;

inline constexpr int kErrVideoPaused = 1500;
inline constexpr int kErrVideoPlaying = 1501;
inline constexpr int kErrVideoOnLayer = 1512;
inline constexpr int kErrVideoLayersNative = 1514;

// Plays the video into layer, or (layer null) into a new VIDEO layer at
// x, y (INT32_MIN: 0) with the draw tags at tagIndex; a video busy
// elsewhere or already shown by a layer is replaced by a nameless copy.
int StartVideoOnLayer(vlVMState* state, vlVideo* video, int tagIndex, int32_t x, int32_t y, int32_t channel,
                      vlLayer* layer);
// One frame (position in milliseconds) as a new VIDEO layer at list
// position listPosition (-1 on top) with the AddLayer flags; the layer to
// *out when out is given.
int DrawVideoFrame(vlVMState* state, vlVideo* video, int32_t x, int32_t y, int32_t position, int tagIndex,
                   int32_t listPosition, uint32_t flags, vlLayer** out);
// Stops videos whose layers are gone and frees the nameless copies among them.
void FreeOrphanedVideos(vlVMState* state);
// For transition effects: 1 while the layer's video plays.
int IsLayerVideoPlaying(vlVMState* state, vlLayer* layer);
// Before the video changes: the layers that show it get a nameless copy
// that carries on what they show. 0 or the error of opening the copy.
int GiveVideoLayersCopy(vlVMState* state, vlVideo* video);
// Layers showing oldId show the record after its id changed.
void RebindVideoLayers(vlVideo* video, vlObjectId oldId);
void InstallVideoLayerHooks();
void RemoveVideoLayerHooks();
