// The draw library's global pen: fill style, form effects (anti-aliasing,
// shadow, edge), gradient, texture and line width, plus the whole-degree
// sine and cosine tables and the outline buffers the shape code works in.
#pragma once
#include <cstdint>
#include <vector>

#include "graphics/gradient_render.h"
#include "runtime/objects.h"

struct vlVMState;

enum : uint32_t { VL_FILLNONE = 0, VL_FILLCOLOR = 1, VL_FILLGRADIENT = 2, VL_FILLTEXTURE = 3 };
enum : uint32_t { VL_FORM_NORMAL = 1, VL_FORM_ANTIALIAS = 16, VL_FORM_SHADOW = 32, VL_FORM_EDGE = 64 };

// Shape types, shared with the layer types.
enum : uint32_t {
  VL_SHAPE_BOX = 14,
  VL_SHAPE_CIRCLE = 15,
  VL_SHAPE_ELLIPSE = 16,
  VL_SHAPE_LINE = 17,
  VL_SHAPE_PLOT = 18,
  VL_SHAPE_POLYGON = 27,
  VL_SHAPE_ARC = 31,
};

struct vlDrawState {
  uint32_t fillStyle;
  uint32_t formStyle;
  vlGradientDesc gradient;
  vlObjectId textureBrush;
  int32_t edgeSize;
  uint32_t edgeColor;
  int32_t shadowSize;
  uint32_t shadowDirection;
  uint32_t shadowColor;
  int32_t lineWidth;
  int32_t textureX, textureY;
};

// Set by the vectorgraphics library while path use is forced: Box, Circle,
// Ellipse, Arc and Polygon hand their values to it instead of rendering.
using vlShapeAsPathFn = int (*)(vlVMState* state, int32_t kind, int32_t x, int32_t y, uint32_t color, int tagIndex,
                                double a, double b, double c, double d, uint32_t e, const double* array);
extern vlShapeAsPathFn gShapeAsPath;

vlDrawState* GetDrawState();
void ResetDrawState(vlDrawState* state);
void NormalizeDrawState(vlDrawState* state);

// Entry i holds sin and cos of (360 - i) degrees.
const double* DrawSinTable();
const double* DrawCosTable();

// The outline converter's buffers: 1001 points each, as doubles (three)
// and as integers (three).
inline constexpr int32_t kDrawOutlinePoints = 1001;
double* DrawPointBuffer(int which);
int32_t* DrawIntPointBuffer(int which);

// Vertices from the table at index: count pairs, or up to the first nil
// when count is 0 (at most 999). 0 or an error code.
int ReadPolygonTable(vlVMState* state, int index, int32_t count, std::vector<double>* out);

int OpenDrawLib(vlVMState* state);
void FreeDrawBuffers();
