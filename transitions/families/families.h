// The step and cleanup functions of the effect families.
#pragma once
#include <cstdint>
#include <cstdlib>

#include "transitions/fx_engine.h"

// The family's state record, cleared, made at the first call; null when
// out of memory.
template <typename T>
T* NewFxState(vlFxContext* fx) {
  if (!fx->state) fx->state = std::calloc(1, sizeof(T));
  return static_cast<T*>(fx->state);
}

// Sets the caller's done flag (the initialising call passes none).
inline void MarkDone(int32_t* done) {
  if (done) *done = 1;
}

int StepCrossfade(vlFxContext* fx, int32_t* done);
void FreeCrossfadeState(vlFxContext* fx, int keep);
int StepFade(vlFxContext* fx, int32_t* done);
void FreeFadeState(vlFxContext* fx, int keep);
int StepRect(vlFxContext* fx, int32_t* done);
int StepRectBack(vlFxContext* fx, int32_t* done);
int StepReveal(vlFxContext* fx, int32_t* done);
int StepCurtain(vlFxContext* fx, int32_t* done);
int StepGate(vlFxContext* fx, int32_t* done);
int StepPush(vlFxContext* fx, int32_t* done);
int StepLines(vlFxContext* fx, int32_t* done);
int StepBars(vlFxContext* fx, int32_t* done);
int StepBlinds(vlFxContext* fx, int32_t* done);
int StepQuarters(vlFxContext* fx, int32_t* done);
int StepDiagonal(vlFxContext* fx, int32_t* done);
int StepPuzzle(vlFxContext* fx, int32_t* done);
void FreePuzzleState(vlFxContext* fx, int keep);
int StepFlow(vlFxContext* fx, int32_t* done);
void FreeFlowState(vlFxContext* fx, int keep);
int StepStripes(vlFxContext* fx, int32_t* done);
int StepDissolve(vlFxContext* fx, int32_t* done);
void FreeDissolveState(vlFxContext* fx, int keep);
int StepStretch(vlFxContext* fx, int32_t* done);
int StepZoomInOut(vlFxContext* fx, int32_t* done);
int StepPixelZoom(vlFxContext* fx, int32_t* done);
void FreePixelZoomState(vlFxContext* fx, int keep);
int StepSlide(vlFxContext* fx, int32_t* done);
int StepStrangePush(vlFxContext* fx, int32_t* done);
void FreeStrangePushState(vlFxContext* fx, int keep);
int StepSplit(vlFxContext* fx, int32_t* done);
int StepUpAndDown(vlFxContext* fx, int32_t* done);
int StepTurnDown(vlFxContext* fx, int32_t* done);
int StepFlipCoin(vlFxContext* fx, int32_t* done);
int StepCrush(vlFxContext* fx, int32_t* done);
int StepCard(vlFxContext* fx, int32_t* done);
int StepSpiral(vlFxContext* fx, int32_t* done);
int StepSwiss(vlFxContext* fx, int32_t* done);
int StepQuadRect(vlFxContext* fx, int32_t* done);
int StepClockWipe(vlFxContext* fx, int32_t* done);
void FreeClockWipeState(vlFxContext* fx, int keep);
int StepStar(vlFxContext* fx, int32_t* done);
void FreeStarState(vlFxContext* fx, int keep);
int StepSun(vlFxContext* fx, int32_t* done);
void FreeSunState(vlFxContext* fx, int keep);
int StepRoll(vlFxContext* fx, int32_t* done);
void FreeRollState(vlFxContext* fx, int keep);
int StepWater(vlFxContext* fx, int32_t* done);
void FreeWaterState(vlFxContext* fx, int keep);
int StepStrudel(vlFxContext* fx, int32_t* done);
void FreeStrudelState(vlFxContext* fx, int keep);
int StepScroll(vlFxContext* fx, int32_t* done);
void EndScroll(vlFxContext* fx, int keep);
// The travelling picture drawn at its place at once, what it passed over
// given back.
void FinishScrollEarly(vlFxContext* fx);
