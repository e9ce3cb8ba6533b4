// The draw state record, its invariants, and the tables and buffers made
// when the draw library opens.
#include "objects/draw/draw_state.h"

#include <cmath>
#include <cstdlib>

namespace {

vlDrawState gState;
double* gSin = nullptr;
double* gCos = nullptr;
double* gPoints[3];
int32_t* gIntPoints[3];

}  // namespace

vlShapeAsPathFn gShapeAsPath = nullptr;

vlDrawState* GetDrawState() { return &gState; }

void ResetDrawState(vlDrawState* s) {
  *s = {};
  s->fillStyle = VL_FILLNONE;
  s->formStyle = VL_FORM_NORMAL;
  s->gradient = {};
  s->gradient.type = VL_GRADIENT_LINEAR;
  s->gradient.startColor = 0x0000FF;
  s->gradient.endColor = 0x000000;
  s->gradient.centerX = s->gradient.centerY = s->gradient.balance = 0;
  s->edgeSize = 2;
  s->edgeColor = 0x0093DD;
  s->shadowSize = 4;
  s->shadowDirection = 3;
  s->shadowColor = 0;
  s->lineWidth = 1;
}

void NormalizeDrawState(vlDrawState* s) {
  if (s->lineWidth < 1) s->lineWidth = 1;
  auto clampSize = [](int32_t v) { return v < 1 ? 1 : v > 64 ? 64 : v; };
  s->edgeSize = clampSize(s->edgeSize);
  s->shadowSize = clampSize(s->shadowSize);
  if (s->shadowDirection > 7) s->shadowDirection = 3;
  if (s->fillStyle > 3) s->fillStyle = VL_FILLNONE;
}

const double* DrawSinTable() { return gSin; }
const double* DrawCosTable() { return gCos; }
double* DrawPointBuffer(int which) { return gPoints[which]; }
int32_t* DrawIntPointBuffer(int which) { return gIntPoints[which]; }

void FreeDrawBuffers() {
  for (int i = 0; i < 3; ++i) {
    std::free(gPoints[i]);
    std::free(gIntPoints[i]);
    gPoints[i] = nullptr;
    gIntPoints[i] = nullptr;
  }
  std::free(gSin);
  std::free(gCos);
  gSin = gCos = nullptr;
}

// Called by OpenDrawLib before it registers anything.
int AllocDrawBuffers() {
  FreeDrawBuffers();
  for (int i = 0; i < 3; ++i)
    if (!(gIntPoints[i] = static_cast<int32_t*>(std::calloc(kDrawOutlinePoints, 2 * sizeof(int32_t))))) return 1000;
  for (int i = 0; i < 3; ++i)
    if (!(gPoints[i] = static_cast<double*>(std::calloc(kDrawOutlinePoints, 2 * sizeof(double))))) return 1000;
  gSin = static_cast<double*>(std::malloc(361 * sizeof(double)));
  gCos = static_cast<double*>(std::malloc(361 * sizeof(double)));
  if (!gSin || !gCos) return 1000;
  for (int i = 0; i <= 360; ++i) {
    const double r = (360 - i) * M_PI / 180.0;
    gSin[i] = std::sin(r);
    gCos[i] = std::cos(r);
  }
  return 0;
}
