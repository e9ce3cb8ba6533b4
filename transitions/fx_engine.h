// The transition effect engine: the effect context, the effect table, the
// pacing helpers and the run of one effect.
#pragma once
#include <cstdint>

#include "runtime/objects.h"

struct vlVMState;
struct vlBitmap;
struct vlFxContext;

using vlFxStepFn = int (*)(vlFxContext* fx, int32_t* done);
using vlFxCleanupFn = void (*)(vlFxContext* fx, int keep);

// Target object types of the context.
enum : int32_t {
  VL_FX_BGPIC = 1,
  VL_FX_BRUSH = 3,
  VL_FX_TEXTOBJECT = 8,
  VL_FX_BGPICPART = 13,
  VL_FX_SHOWLAYER = 22,
  VL_FX_HIDELAYER = 25,
  VL_FX_REMOVELAYER = 26,
};

enum : int32_t {
  VL_FX_RANDOMEFFECT = 140,
  VL_FX_EFFECTS = 140,
  VL_FX_NORMALSPEED = -1,
  VL_FX_FASTSPEED = -2,
  VL_FX_SLOWSPEED = -3,
};

struct vlFxContext {
  vlVMState* vm;
  void* layer;
  vlBitmap* target;
  vlFxStepFn step;
  vlFxCleanupFn cleanup;
  int32_t objectType;
  int32_t effect;
  vlObjectId id;
  int32_t x, y;
  int32_t stepSize;
  int32_t speed;
  int32_t parameter;
  int32_t width, height;
  int32_t destWidth, destHeight;
  int32_t undoType;
  int32_t undoLevel;
  vlBitmap* source;
  vlBitmap* oldPicture;
  vlBitmap* previousScreen;
  vlBitmap* sourceMask;
  vlBitmap* sourceAlpha;
  int32_t layerPrepared;
  int32_t savedGeometry[2];
  int32_t layerX, layerY;
  void* previousBGPic;
  int32_t ownsSource, ownsMask, ownsAlpha;
  int32_t partX, partY;
  int32_t useLayers;
  int32_t reverse;
  uint32_t blitFlags;
  int32_t scaledOutput;
  int32_t async;
  int32_t restart;
  int32_t aborted;
  int32_t layered;
  int32_t forceRealtime;
  int32_t restoreLayer;
  int32_t deleteLayer;
  uint32_t* useCounter;
  int32_t bgpicX, bgpicY;
  int32_t bgpicEmu;
  vlObjectId emuBGPic;
  void* state;
  vlBitmap* workMask;
  vlBitmap* workAlpha;
  int32_t phase;
  int32_t frame;
  int32_t frameCount;
  int32_t replaying;
  int32_t resynced;
  int32_t finished;
  int32_t layerStyled;
  int32_t blendLevel;
  int32_t noBorderFade;
  int32_t backgroundTarget;
  int32_t forcedRun;
  int32_t isScroll;
  // The layer's working image and plane while the effect owns it.
  vlBitmap* layerImage;
  vlBitmap* layerMask;
  vlBitmap* layerAlpha;
};

struct vlFxTableRow {
  vlFxStepFn step;
  vlFxCleanupFn cleanup;
};
// One row per effect id 0..139; a row without a step is an effect this
// player does not draw.
extern const vlFxTableRow vlFxTable[VL_FX_EFFECTS];

// Pause between two synchronous frames in microseconds (one display frame);
// tests set it to 0.
extern int32_t vlFxFrameDelayUs;

int32_t ResolveFxSize(int32_t speed, int32_t extent, int32_t dNormal, int32_t dFast, int32_t dSlow);
int32_t StepCount(int32_t extent, int32_t step, int32_t flag);
int32_t GetRandomEffect(int32_t excludeBGPicOnly);
bool IsBGPicOnlyEffect(int32_t id);
int32_t ReversedEffect(int32_t id);

bool IsAlphaBlendingEffect(int32_t id);
bool IsStillDrawingEffect(int32_t id);
// Brings the destination to frame toFrame again; 0 or a step's error.
int ReplayFX(vlFxContext* fx, int32_t toFrame, int keep);

// Draws the destination's pictures again where they changed: bit 0 the
// old picture from the shown BGPic, bit 1 the new one from the emulated
// BGPic. Returns the bits it served.
int RedrawFXDestination(vlFxContext* fx, int which);

// 0 done, 1 a handle was pushed, else an error code.
int RunTransitionFX(vlFxContext* tmpl);
void FinishFX(vlFxContext* fx, int keep);
void FreeFXContext(vlFxContext* fx, int keep);
