// Outline polygons of the draw library's shapes: arc points from the
// whole-degree tables, box, rounded box, ellipse, arc and polygon
// outlines, the edge outline around them, and the transform of a point
// list with its new bounding box.
#pragma once
#include <cstdint>

#include "graphics/geometry.h"

struct vlLayerTransform;

// The angle step of arc outlines for the larger radius.
int32_t ArcStep(int32_t radius);

// Appends the points of the arc from start to end degrees around (cx, cy);
// yUp turns increasing angles counter-clockwise on screen. A point equal
// to its predecessor is dropped. Returns the new count.
int32_t AppendArcPoints(double* out, int32_t count, double cx, double cy, double rx, double ry, int32_t start,
                        int32_t end, bool yUp);

// The closed outline of a shape in its width x height box; arcs start with
// the two corner points of the whole ellipse's box. Returns the count.
int32_t BuildShapeOutline(uint32_t type, int32_t width, int32_t height, const int32_t corners[4], int32_t start,
                          int32_t end, uint32_t clockwise, const double* vertices, int32_t vertexCount, double* out);

// The outline of a polygon moved outwards by size (mitred), closed.
int32_t BuildPolygonEdge(const double* points, int32_t count, int32_t size, double* out);
