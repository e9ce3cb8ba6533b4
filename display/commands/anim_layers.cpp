// The anim-layer commands: the frame goes through the style engine; frame
// counts are changed by the anim library once it is open.
#include "display/commands/anim_layers.h"

#include "display/layers/layers.h"
#include "vm/error_codes.h"

vlAnimLayerOps gAnimLayerOps = {nullptr, nullptr};

int NextLayerFrame(vlVMState* state, vlLayer* layer, int32_t x, int32_t y, int32_t frame) {
  if (layer->type != VL_LAYER_ANIM) return ERR_NOANMLAYER;
  return ApplyLayerPosFrame(state, layer, x, y, frame, 0);
}

int ModifyLayerFrameCount(vlVMState* state, vlLayer* layer, int32_t count, int32_t position) {
  // Another layer's source id may name an unrelated anim: never touch it.
  if (layer->type != VL_LAYER_ANIM) return ERR_NOANMLAYER;
  if (!gAnimLayerOps.changeFrames) return ERR_WRONGUSAGE;
  return gAnimLayerOps.changeFrames(state, layer, count, position);
}
