// The shape-layer hook table; the draw library fills it when it opens.
#include "display/layers/shape_layer_hooks.h"

vlShapeLayerHooks gShapeLayerHooks = {};
