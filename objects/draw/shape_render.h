// The shape renderer: boxes, circles, ellipses, arcs and polygons drawn
// with the draw state, into the current drawing target at once, into a new
// picture that becomes a layer, or into planes handed back for a layer
// rebuild; and the line renderer that shares its painting.
#pragma once
#include <cstdint>

#include "display/layers/layers.h"
#include "objects/draw/draw_state.h"

struct vlVMState;
struct vlBitmap;
struct vlDrawTarget;

// The draw tags one shape command carries: the transform and the layer
// options of its optional table.
struct vlShapeTags {
  vlLayerTransform transform;
  vlLayerOptions form;
  uint32_t changed;  // form effects moved in: the layer draws them
};

// What a shape layer keeps to render itself again.
struct vlShapeRecord {
  uint32_t type;
  vlDrawState drawState;
  uint32_t color;
  int32_t x, y, width, height;
  int32_t radiusX, radiusY;
  int32_t startAngle, endAngle;
  uint32_t clockwise;
  int32_t corners[4];
  int32_t x1, y1, x2, y2, thickness;  // LINE
  double* vertices;                   // POLYGON, shifted to the bounding box
  int32_t vertexCount;
};

// A shape layer's geometry record: the common head, then the shape. The
// head's x, y, width and height are the shape's box (a line's: the box
// of its end points, which the record keeps relative to it).
struct vlShapeGeometry : vlLayerGeometry {
  vlShapeRecord shape;
};

// Planes rendered for a layer rebuild (flag 16).
struct vlShapeResult {
  vlBitmap* image;
  vlBitmap* mask;
  vlBitmap* alpha;
  int32_t x, y, width, height;
};

enum : uint32_t {
  VL_SHAPE_RETURN = 1,   // with 8: stop once the layer is made
  VL_SHAPE_REBUILD = 8,  // rebuild the matrix for the size; insert position from the request
  VL_SHAPE_PLANES = 16,  // render for a layer rebuild: planes to the result, nothing drawn
};

struct vlShapeRequest {
  uint32_t type;
  uint32_t polygonPath;
  int32_t x, y;
  int32_t width, height;
  int32_t radiusX, radiusY;
  int32_t startAngle, endAngle;
  int32_t corners[4];
  const double* vertices;  // pairs, shifted to the bounding box
  int32_t vertexCount;
  uint32_t color;
  uint32_t clockwise;
  const vlDrawState* drawState;
  vlShapeTags* tags;
  int32_t insertPos;
  vlShapeResult* result;  // with VL_SHAPE_PLANES
  vlLayer* replaceLayer;  // with VL_SHAPE_REBUILD: the layer to replace (or null)
  const vlDrawingFor* on;  // with VL_SHAPE_PLANES: the target drawn for (null: the current one)
};

// Shapes whose picture would be wider or taller than this cannot be drawn
// (no picture that size can be made: 1522), and positions beyond the
// position limit lie off every target; both keep the shape arithmetic
// inside 32 bits.
constexpr int32_t kMaxShapeSide = 1 << 29;
constexpr int32_t kMaxShapePosition = 1 << 30;
// Half a side: the largest radius a shape can have.
constexpr int32_t kMaxShapeRadius = (kMaxShapeSide - 1) / 2;

// Where a worker draws: planes made for the target a request names take
// that target; everything else draws on the current one.
int ShapeDrawTarget(vlVMState* state, const vlDrawingFor* on, uint32_t flags, vlDrawTarget* target);

// The workers: each fills a request and renders it. 0 or an error code.
int DrawBoxShape(vlVMState* state, uint32_t flags, const vlDrawState* drawState, int32_t x, int32_t y,
                 int32_t width, int32_t height, uint32_t color, const int32_t corners[4], vlShapeTags* tags,
                 vlShapeRequest* base);
int DrawEllipseShape(vlVMState* state, uint32_t flags, const vlDrawState* drawState, uint32_t type, int32_t x,
                     int32_t y, int32_t radiusX, int32_t radiusY, uint32_t color, vlShapeTags* tags,
                     vlShapeRequest* base);
int DrawArcShape(vlVMState* state, uint32_t flags, const vlDrawState* drawState, int32_t x, int32_t y,
                 int32_t radiusX, int32_t radiusY, int32_t start, int32_t end, uint32_t clockwise, uint32_t color,
                 vlShapeTags* tags, vlShapeRequest* base);
int DrawPolygonShape(vlVMState* state, uint32_t flags, const vlDrawState* drawState, int32_t x, int32_t y,
                     const double* vertices, int32_t count, uint32_t color, vlShapeTags* tags,
                     vlShapeRequest* base);
int DrawLineShape(vlVMState* state, uint32_t flags, const vlDrawState* drawState, int32_t boxX, int32_t boxY,
                  int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t color, int32_t thickness,
                  vlShapeTags* tags, vlShapeRequest* base);

// The one-colour picture of a shape layer's outline grown by size (its
// border); shape x, y: the shape's offset in the picture.
int RenderShapeLayer(vlVMState* state, vlLayer* layer, const vlShapeRecord* shape, uint32_t color, int32_t size,
                     int32_t* shapeX, int32_t* shapeY, int32_t* width, int32_t* height, vlBitmap** image,
                     vlBitmap** mask, vlBitmap** alpha);

// Moves the form effects of the draw state into the tags (layers on).
void ApplyFormStyleToTags(vlDrawState* copy, vlShapeTags* tags, uint32_t* color);

// Identity tags: no transform, no options.
void DefaultShapeTags(vlShapeTags* tags);
bool IsIdentityMatrix(const vlLayerTransform* t);
// How much the matrix stretches a horizontal length (the length of its
// first column): line widths and shadow sizes grow so, turned or not.
double MatrixScaleX(const vlLayerTransform* t);

// The layer sources of the six shape types (re-rendering, copying and
// freeing their records).
void InstallShapeLayerSources();

// The style keys of shape layers for the layer attribute engine (the
// applyStyle and writeStyle entries of their layer source).
int ApplyShapeLayerStyle(vlVMState* state, vlLayer* layer, vlLayer* copy, int table, uint32_t type, int typeChanged,
                         vlLayerGeometry** record, int* given);
void WriteShapeLayerStyle(vlVMState* state, vlLayer* layer);

// The form and fill keys that shapes and paths share. "formstyle" and
// "formstyleclear": the shadow and edge bits switch the layer's (copy)
// shadow and border, the rest change *formStyle; *given is set when a key
// was present. The fill keys return 0 or the gradient reader's error.
void ReadFormStyleKeys(vlVMState* state, int table, uint32_t* formStyle, vlLayer* copy, bool* given);
int ReadFillStyleKeys(vlVMState* state, int table, vlDrawState* s, bool* given);
// The same keys written into the table on the stack top (the layer's
// shadow and border as the form bits).
void WriteFormFillKeys(vlVMState* state, const vlLayer* layer, const vlDrawState& s);
// table[key] = the object id, for the table on the stack top.
void PushTableId(vlVMState* state, const char* key, const vlObjectId& id);
