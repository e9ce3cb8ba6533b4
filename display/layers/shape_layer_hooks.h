// The draw library's services for shape layers (boxes, circles, ellipses,
// lines, polygons, arcs), which the layer code cannot call directly: the
// shape record a layer's geometry keeps, and its rendering.
#pragma once
#include <cstdint>

struct vlVMState;
struct vlLayer;
struct vlBitmap;
struct vlLayerTransform;

struct vlShapeLayerHooks {
  // Frees a geometry record's shape record (with its vertex array).
  void (*freeShape)(void* shape);
  // A copy of a shape record for a new geometry record, or null.
  void* (*copyShape)(const void* shape);
  // Renders a shape record through a transform (a layer rebuild): the
  // pictures and the drawn rectangle. 0 or an error code.
  int (*renderShape)(vlVMState* state, vlLayer* layer, const void* shape, const vlLayerTransform* transform,
                     vlBitmap** image, vlBitmap** mask, vlBitmap** alpha, int32_t* x, int32_t* y, int32_t* width,
                     int32_t* height);
  // The one-colour outline picture of a shape grown by size (its border).
  int (*renderOutline)(vlVMState* state, vlLayer* layer, const void* shape, uint32_t color, int32_t size,
                       int32_t* shapeX, int32_t* shapeY, int32_t* width, int32_t* height, vlBitmap** image,
                       vlBitmap** mask, vlBitmap** alpha);
};

// Null members until the draw library opens.
extern vlShapeLayerHooks gShapeLayerHooks;
