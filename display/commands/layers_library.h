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
// brushes) fills this in; null refuses with 1055.
using vlSelectLayerFn = int (*)(vlVMState* state, vlLayer* layer, int32_t mode, int32_t frame, int32_t value,
                                vlBitmap* image, vlBitmap* mask, vlBitmap* alpha, int32_t width, int32_t height);
void SetSelectLayerHandler(vlSelectLayerFn fn);

// Move lists.
void FreeMoveLists(vlVMState* state);
// Makes the move lists visible to the generic object scans (library opening).
int RegisterMoveListList();
