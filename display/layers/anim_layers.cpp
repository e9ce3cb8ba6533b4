// The anim-layer commands: what they do without the anim library, and the
// hand-over to it once it is open.
#include "display/layers/anim_layers.h"

#include "display/layers/layers.h"
#include "vm/error_codes.h"

vlAnimLayerOps gAnimLayerOps = {nullptr, nullptr};

int NextLayerFrame(vlVMState* state, vlLayer* layer, int32_t x, int32_t y, int32_t frame) {
  if (layer->type != VL_LAYER_ANIM || !gAnimLayerOps.setFrame) return ERR_NOANMLAYER;
  return gAnimLayerOps.setFrame(state, layer, x, y, frame);
}

int ModifyLayerFrameCount(vlVMState* state, vlLayer* layer, int32_t count, int32_t position) {
  // The source is looked up as an anim whatever the layer's type: only the
  // anim library can tell.
  if (!gAnimLayerOps.changeFrames) return ERR_WRONGUSAGE;
  return gAnimLayerOps.changeFrames(state, layer, count, position);
}
