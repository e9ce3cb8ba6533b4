// Paths turned into pixels with the draw library's styles: DrawPath, the
// draw library's shapes while path use is forced, and the pictures of path
// layers.
#pragma once
#include <cstdint>

#include "display/layers/layers.h"
#include "objects/draw/draw_state.h"
#include "text/picture_output.h"
#include "text/vector/vector_library.h"

struct vlVMState;
struct vlBitmap;
struct vlPluginInfo;

// What path drawing takes from the draw library's state.
struct vlPathDrawStyle {
  uint32_t fillStyle;  // 0 none (outline), 2 gradient, 3 texture, other plain
  uint32_t formStyle;  // 16 anti-alias, 32 shadow, 64 edge
  int32_t lineWidth;
  int32_t edgeSize;
  uint32_t edgeColor;  // ARGB, top byte a transparency
  int32_t shadowSize;
  int32_t shadowDirection;  // 0..7 from north clockwise
  uint32_t shadowColor;
  vlGradientDesc gradient;  // fill style 2
  vlObjectId textureBrush;  // fill style 3
  int32_t textureX, textureY;
};


// The draw library's current fill, form styles and line width.
void GetPathDrawStyle(vlPathDrawStyle* out);
// Each level limited to 0..100.
void ClampCornerLevels(int32_t levels[4]);

// The shape record of one drawing (and of a path layer).
struct vlPathShape {
  int32_t x, y, width, height;  // placement written by DrawPathObject
  uint8_t* commands;
  uint32_t capacity;
  vlLineState line;
  vlPathDrawStyle style;
  uint32_t color;        // ARGB, top byte a transparency
  vlPluginInfo* engine;  // null: the built-in engine
  vlObjectId path;       // the path object drawn (a path layer's "id")
};

// Pictures handed back instead of drawn.
struct vlPathPictures {
  vlBitmap* picture;
  vlBitmap* alpha;
  int32_t x, y, width, height;
};

// 0 or an error code. out: layer output (nothing is drawn). form: the
// layer options of the command's draw tags (transparency, filters, name,
// insert position...): a new layer takes them, a picture drawn without
// layers gets their filters and transparency; null for none.
int DrawPathObject(vlVMState* state, int32_t x, int32_t y, vlPathShape* shape, const vlDrawTagPlacement* tags,
                   uint32_t flags, vlPathPictures* out, const vlLayerOptions* form = nullptr);
// The draw library's shapes (kinds 14 box, 15 circle, 16 ellipse, 27
// polygon, 31 arc) drawn as a temporary path. array: corner levels (box) or
// polygon points {x, y} (a of them).
int DrawShapeAsPath(vlVMState* state, int32_t kind, int32_t x, int32_t y, uint32_t color, int tagIndex, double a,
                    double b, double c, double d, uint32_t e, const double* array);
