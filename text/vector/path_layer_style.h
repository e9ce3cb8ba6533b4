// The style keys of VECTORPATH layers for the layer attribute engine (the
// applyStyle and writeStyle entries of their layer source).
#pragma once
#include <cstdint>

#include "display/layers/layers.h"

struct vlVMState;

int ApplyPathLayerStyle(vlVMState* state, vlLayer* layer, vlLayer* copy, int table, uint32_t type, int typeChanged,
                        vlLayerGeometry** record, int* given);
void WritePathLayerStyle(vlVMState* state, vlLayer* layer);
