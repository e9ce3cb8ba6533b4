// The step and cleanup functions of the effect families.
#pragma once
#include <cstdint>

struct vlFxContext;

int StepCrossfade(vlFxContext* fx, int32_t* done);
void FreeCrossfadeState(vlFxContext* fx, int keep);
int StepFade(vlFxContext* fx, int32_t* done);
void FreeFadeState(vlFxContext* fx, int keep);
int StepRect(vlFxContext* fx, int32_t* done);
int StepRectBack(vlFxContext* fx, int32_t* done);
