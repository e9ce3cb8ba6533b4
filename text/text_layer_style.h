// The style keys of TEXTOUT and PRINT layers for the layer attribute
// engine (the applyStyle and writeStyle entries of their layer source).
#pragma once
#include <cstdint>

#include "display/layers/layers.h"

struct vlVMState;

int ApplyTextLayerStyle(vlVMState* state, vlLayer* layer, vlLayer* copy, int table, uint32_t type, int typeChanged,
                        vlLayerGeometry** record, int* given);
void WriteTextLayerStyle(vlVMState* state, vlLayer* layer);
