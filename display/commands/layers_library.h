// The "layers" command library: opening and shutting it down, and what
// other libraries ask of its commands (object layers, drawing into a
// selected layer, the move lists).
#pragma once
#include <cstdint>

#include "display/layers/layers.h"

struct vlVMState;
struct vlBitmap;

// Opening installs the layer engine's hooks (display/layers/engine_hooks.h);
// shut-down frees every layer and the library's lists.
int OpenLayersLib(vlVMState* state);
void ShutdownLayerSystem(vlVMState* state);

// New layer showing an object at position (0: on top).
int InsertObjectLayer(vlVMState* state, int32_t position, uint32_t type, vlObjectId id, int32_t x, int32_t y,
                      int noDraw, int hidden, vlLayer** result);
int RemoveUndoLayer(vlVMState* state, uint32_t type, vlObjectId id, int32_t level, int noRefresh,
                    vlRectXYWH* removed);

// Selecting a layer as drawing target: the drawing side (drawing into
// brushes) fills this in; null refuses with 1055. output is the display
// output type drawn into (the picture 3, the mask 28 or the alpha channel
// 30); image is the layer's picture once it was made drawable.
using vlSelectLayerFn = int (*)(vlVMState* state, vlLayer* layer, uint32_t output, int32_t selectMode, int32_t frame,
                                int32_t value, vlBitmap* image, int32_t width, int32_t height);
// The checks of a layer as drawing target (its frame), then the layer made
// drawable and handed to the handler: 0 or an error.
int SelectLayerAsTarget(vlVMState* state, vlLayer* layer, uint32_t output, int32_t selectMode, int32_t frame,
                        int32_t value);
void SetSelectLayerHandler(vlSelectLayerFn fn);

// Move lists.
void FreeMoveLists(vlVMState* state);
// Makes the move lists visible to the generic object scans (library opening).
int RegisterMoveListList();
