// Object movement: a brush, anim, layer or sprite travels across the
// current display from a start to an end point, some pixels per step, with
// an optional path effect and frame animation on the way; in the
// foreground, as an asynchronous drawing object, or stepped by a scroll
// transition that owns the job.
#pragma once
#include <cstdint>

#include "runtime/objects.h"

struct vlVMState;
struct vlBitmap;
struct vlAnim;
struct vlLayer;
struct vlDisplay;

enum : int32_t {
  VL_MOVEFX_NONE = 0,
  VL_MOVEFX_BOUNCE = 1,
  VL_MOVEFX_SMOOTHOUT = 2,
  VL_MOVEFX_DAMPED = 3,
  VL_MOVEFX_SINE = 4,
  VL_MOVEFX_BIGSINE = 5,
  VL_MOVEFX_LOWERCURVE = 6,
  VL_MOVEFX_UPPERCURVE = 7,
};

// The kind of a job whose picture (or layer) a scroll transition hands in
// ready made.
enum : int32_t { VL_MOVE_TRANSITION = 7 };

struct vlMoveJob;
using vlMoveStepFn = int (*)(vlMoveJob* job, int32_t* done);
using vlMoveFreeFn = void (*)(vlMoveJob* job);

struct vlMoveJob {
  vlVMState* vm;
  vlBitmap *bitmap, *mask, *alpha;
  vlBitmap *work, *clean;
  int32_t kind;  // 3 brush, 4 anim, 7 transition picture, 8 text object, 22 layer, 32 sprite
  vlObjectId id;  // a layer: its position
  int32_t fx;
  int32_t x, y;
  int32_t endX, endY;
  int32_t prevX, prevY;
  int32_t width, height;
  int32_t xStep, yStep;  // on entry xStep holds the speed
  int32_t unit;
  int32_t animSpeed;
  int32_t phase;
  int32_t smoothZoneX, smoothZoneY;
  int32_t smoothDecX, smoothDecY;
  int32_t frame, frameCount;
  int32_t direction;
  int32_t sineIncrement;
  int32_t sineIndex;  // or the distance travelled on an arc
  int32_t remainder, remainderCount;
  double curveFactor;
  double sineTable[79];
  vlAnim* anim;
  vlLayer* layer;
  int32_t layerPos;
  uint32_t async;
  uint32_t internal;
  uint32_t framesOwned;
  int64_t nextFrameMs;
  uint32_t extraBlitFlags;
  vlMoveStepFn step;
  vlMoveFreeFn free;
  uint32_t* lockCounter;
  uint32_t** componentLocks;
  uint32_t frameChanged;
  // Which axes move (the minor axis of a diagonal move included).
  int32_t minorAxis;  // 0 x, 1 y, -1 none
  uint32_t layerJob;  // the object moves as a layer
  vlDisplay* display;  // an async move's display
};

// Foreground pause between steps, in microseconds (the frame rate).
extern int32_t vlMoveFrameDelayUs;

// Sets the job up and runs it (see the file). Foreground: 0 or an error;
// async: 1 with the handle pushed; internal: 0 with the callbacks stored.
int RunObjectMove(vlMoveJob* job);
int MoveStep(vlMoveJob* job, int32_t* done);
// Puts the object where its path ends at once, drawn there.
void FinishMoveJob(vlMoveJob* job);
void FreeMoveJob(vlMoveJob* job);

int OpenMoveObjectLib(vlVMState* state);

