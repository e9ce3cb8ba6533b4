// Where the draw library's commands draw: the current display's picture,
// or the selected picture, mask or alpha channel; and the steps shared by
// shapes and lines after rendering (blit, layer, refresh).
#pragma once
#include <cstdint>

struct vlVMState;
struct vlBitmap;
struct vlDisplay;
struct vlBGPic;
struct vlClipRegion;
struct vlDrawState;
struct vlLayerTransform;
struct vlShapeTags;
struct vlShapeRecord;
struct vlLayer;
struct vlLayerGeometry;
struct vlDrawingFor;

struct vlDrawTarget {
  vlDisplay* display = nullptr;
  vlBGPic* pic = nullptr;  // the current output BGPic
  uint32_t mode = 0;       // the display's output type
  bool layers = false;
  vlBitmap* picture = nullptr;  // drawn into directly (the display's picture in mode 21)
  vlBitmap* mask = nullptr;
  vlBitmap* alpha = nullptr;
  int32_t width = 0, height = 0;  // of the BGPic
  const vlClipRegion* clip = nullptr;
  int32_t maskMode = 0;
  int32_t alphaIntensity = 255;  // -1 (VANILLACOPY) reads as 255
  int32_t rawAlphaIntensity = -1;
  // A hardware picture's mask or alpha channel (28 or 30) is the target:
  // picture is drawn into, that channel of it alone changing.
  uint32_t plane = 0;
};

// 0 or ERR_CLOSEDDISPLAY (no display).
int GetDrawTarget(vlVMState* state, vlDrawTarget* target);
// The same for a display and picture that are not the current target: a
// display's own picture, never a selected brush's planes to be prepared.
int GetDrawTargetFor(vlVMState* state, const vlDrawingFor& on, vlDrawTarget* target);
// After drawing into the target directly: the double buffer's dirty list
// and, on a display, the window.
void FinishTargetRect(vlVMState* state, const vlDrawTarget& target, int32_t x, int32_t y, int32_t width,
                      int32_t height);
// As FinishTargetRect, but true (and nothing sent to the window) when the
// caller is to draw the rectangle's drawing on the window itself, which
// then shows the display's picture one to one.
bool FinishTargetDirect(vlVMState* state, const vlDrawTarget& target, int32_t x, int32_t y, int32_t width,
                        int32_t height);
// A rendered picture blitted into the target through SafeBlt; on a display
// it stays drawn (the front copy takes it).
void BlitToTarget(vlVMState* state, const vlDrawTarget& target, vlBitmap* image, vlBitmap* mask, vlBitmap* alpha,
                  int32_t x, int32_t y, int32_t width, int32_t height);
// After a shape layer was added on top: an off-screen target (a selected
// brush, mask or alpha channel) takes its picture; AddLayer shows it on a
// display.
void FinishLayerDraw(vlVMState* state, const vlDrawTarget& target, int32_t x, int32_t y, int32_t width,
                     int32_t height);

// A shape layer of the current BGPic that owns the planes (freed on failure)
// and a copy of the record; (x, y, width, height) the drawn picture.
// position -1: on top.
int AddShapeLayer(vlVMState* state, const vlShapeRecord& record, vlShapeTags* tags, int32_t x, int32_t y,
                  int32_t width, int32_t height, vlBitmap* image, vlBitmap* mask, vlBitmap* alpha,
                  int32_t position, vlLayer** out);
// A copy of a shape geometry record without its pictures, or null.
vlLayerGeometry* CopyShapeGeometry(const vlLayerGeometry* g);
void FreeShapeGeometry(vlLayerGeometry* g);
// Tiles the texture brush of the draw state over the rectangle, scaled by
// the transform with the smoothing of the display drawn for; empty is set
// when the scaled texture has no pixels. 0 or the look-up's error.
// A rectangle that is a part of a larger tiled area starts intoX, intoY
// pixels into it, so the tiles keep their places in the whole.
int FillWithTextureBrush(vlVMState* state, const vlDrawState& drawState, const vlLayerTransform* transform,
                         int smooth, vlBitmap* picture, int32_t x, int32_t y, int32_t width, int32_t height,
                         bool* empty, int64_t intoX = 0, int64_t intoY = 0);
