// Anim layers: adding one and changing the frame it shows.
#pragma once
#include <cstdint>

struct vlVMState;
struct vlAnim;
struct vlLayer;
struct vlLayerTransform;

void RegisterAnimLayerSource();
void UnregisterAnimLayerSource();
// A new layer of the current BGPic showing frame (0-based) at x, y;
// position -1 on top.
// As AddAnimLayer with the AddLayer flags and a transform (null: none);
// the caller shows the layer.
int AddAnimLayerFlags(vlVMState* state, vlAnim* anim, int32_t x, int32_t y, int32_t frame, int32_t position,
                      uint32_t flags, vlLayer** out, const vlLayerTransform* transform = nullptr);
// The anim goes: the frame decoded for its layers goes with it.
void ForgetAnimLayerFrame(const vlAnim* anim);
int AddAnimLayer(vlVMState* state, vlAnim* anim, int32_t x, int32_t y, int32_t frame, int32_t position,
                 vlLayer** out);
// frame 0 the next (wrapping), -1 the last, else 1-based (1094 outside);
// x or y KEEPPOSITION keep the coordinate. 1155 for a layer of another type.
int SetAnimLayerFrame(vlVMState* state, vlLayer* layer, int32_t x, int32_t y, int32_t frame);
