// Layers that show anims: stepping the frame a layer shows (through the
// style engine) and changing the frames of its anim, which the anim
// library supplies when it opens.
#pragma once
#include <cstdint>

struct vlVMState;
struct vlLayer;

struct vlAnimLayerOps {
  // Inserts (count > 0) or removes frames of the layer's own copy of its
  // anim at position (0: the end).
  int (*changeFrames)(vlVMState* state, vlLayer* layer, int32_t count, int32_t position);
  // 0 when the layer's frames may be drawn into; ERR_ANIMDISK when its
  // anim decodes them from disk on demand (what is drawn would be lost).
  int (*checkDrawable)(vlVMState* state, vlLayer* layer);
};
extern vlAnimLayerOps gAnimLayerOps;

// The commands, after the common layer-command prologue. frame 0 the next
// (wrapping), -1 the last, else 1-based; x or y 100000 keep the coordinate.
int NextLayerFrame(vlVMState* state, vlLayer* layer, int32_t x, int32_t y, int32_t frame);
int ModifyLayerFrameCount(vlVMState* state, vlLayer* layer, int32_t count, int32_t position);
