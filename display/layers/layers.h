// Layers: the records that keep what drawing commands put on a BGPic, the
// per-BGPic layer list, the dirty-rectangle list and the redraw engine that
// composes a rectangle from the background and every visible layer.
#pragma once
#include <cstdint>

#include "display/display.h"
#include "graphics/position.h"
#include "runtime/lists.h"
#include "runtime/objects.h"

struct vlVMState;
struct vlBitmap;
struct vlBGPic;

enum : uint32_t {
  VL_LAYER_BRUSH = 3,
  VL_LAYER_ANIM = 4,
  VL_LAYER_NOOBJECT = 7,
  VL_LAYER_TEXTOBJECT = 8,
  VL_LAYER_TEXTOUT = 9,
  VL_LAYER_PRINT = 11,
  VL_LAYER_BRUSHPART = 12,
  VL_LAYER_BGPICPART = 13,
  VL_LAYER_BOX = 14,
  VL_LAYER_CIRCLE = 15,
  VL_LAYER_ELLIPSE = 16,
  VL_LAYER_LINE = 17,
  VL_LAYER_POLYGON = 27,
  VL_LAYER_ARC = 31,
  VL_LAYER_VECTORPATH = 49,
  VL_LAYER_VIDEO = 50,
};

enum { VL_LAYER_FILTERS = 21 };

// Codes of the error table that carry no name.
inline constexpr int kErrLayerNameUsed = 1161;
inline constexpr int kErrLayersOffscreen = 1163;
inline constexpr int kErrFilterUnknown = 1444;
inline constexpr int kErrFilterNoName = 1445;
inline constexpr int kErrAsyncLayerMode = 1329;
inline constexpr int kErrLayerScaling = 1313;

struct vlLayerSource;
struct vlLoadedSource;
struct vlLayerRect;
struct vlLayerTransform;
struct vlLayerGeometry;
struct vlLayer;
const vlLayerSource* FindLayerSource(uint32_t type);

struct vlLayerFilter {
  uint8_t active;
  uint8_t priority;
  int32_t ints[4];
  float floats[4];
};

struct vlLayerGeometry {
  vlBitmap* image;  // given triple (null: the source object's own)
  vlBitmap* mask;
  vlBitmap* alpha;
  vlBitmap* xImage;  // transformed
  vlBitmap* xMask;
  vlBitmap* xAlpha;
  vlBitmap* fImage;  // filtered
  vlBitmap* fMask;
  vlBitmap* fAlpha;
  vlBitmap* bImage;  // border
  vlBitmap* bMask;
  vlBitmap* bAlpha;
  vlBitmap* shadowAlpha;
  void* clipRegion;
  int32_t x, y, width, height;
  int32_t drawnX, drawnY;
  int32_t anchoredX, anchoredY;
  int32_t drawnWidth, drawnHeight;
  int32_t borderXOffset, borderYOffset;
  int32_t borderWidth, borderHeight;
  int32_t partX, partY;
  // The picture a transition effect draws the layer into while it runs
  // (owned by the effect); shown in place of every other picture.
  vlBitmap* fxImage;
  vlBitmap* fxMask;
  vlBitmap* fxAlpha;
};

struct vlLayerTransform {
  double a, b, c, d;
  double scaleX, scaleY;
  int32_t targetWidth, targetHeight;
  double angle;
  double fixed[4];
  uint32_t fixedMatrix, smooth, generalMatrix;
  double derivedScaleX, derivedScaleY;
  double anchorX, anchorY;
};

struct vlLayerShadow {
  uint32_t on;
  uint32_t color;
  int32_t size;
  uint32_t direction;
  double radius;
  double sigma;
};

struct vlLayerBorder {
  uint32_t on, color, size;
};

struct vlLayer {
  vlLayer* next;
  vlLayer* prev;
  uint32_t type;
  vlObjectId source;
  vlObjectId creationId;
  uint32_t hidden;
  uint32_t drawnDuringSelection;
  uint32_t transparency;
  char* name;
  char group[64];
  uint32_t words[3];
  uint32_t clipUntransformed;
  vlLayerTransform transform;
  double anchorX, anchorY;
  vlLayerShadow shadow;
  uint32_t shadowFade;
  vlLayerBorder border;
  uint32_t borderFade;
  vlLayerFilter filters[VL_LAYER_FILTERS];
  uint32_t geometricFilters;
  vlObjectData* userData;
  vlLayerGeometry* geometry[3];
  // Where the layer index last filed the layer (checked against the index's
  // own record of it before use).
  uint32_t indexSlot;
};

// The options AddLayer may be given.
struct vlLayerOptions {
  char name[257];
  uint32_t hidden;
  int32_t insertPos;
  uint32_t transparency;
  vlLayerShadow shadow;
  vlLayerBorder border;
  vlLayerFilter filters[VL_LAYER_FILTERS];
  uint32_t extra;
};

enum : uint32_t {
  VL_ADDLAYER_HIDDEN = 1,
  VL_ADDLAYER_DISPLAYSCALED = 2,
  VL_ADDLAYER_REPLACING = 4,
  VL_ADDLAYER_REPLACE = 8,
  VL_ADDLAYER_KEEPPOS = 0x100,
  VL_ADDLAYER_KEEPFILTERS = 0x200,
  // Not shown now: the caller shows it together with other changes.
  VL_ADDLAYER_NOSHOW = 0x1000,
};

// What DisplayObjectOnTarget shows of an object (a brush, a brush's part,
// an anim frame, a BGPic part), as the object's kind hands it out.
struct vlShownObject {
  vlBitmap* image = nullptr;
  vlBitmap* mask = nullptr;
  vlBitmap* alpha = nullptr;
  int32_t owned = 0;                   // made for this draw (a disk anim's frame): freed after it
  int32_t objWidth = 0, objHeight = 0;  // the object's size, which parts are cut from
  int32_t width = 0, height = 0;        // the size shown when the kind fixes it; 0 keeps the asked one
  int32_t hardware = 0;                 // a hardware brush: no filters or transparency
  vlObjectId sourceId{};                // what a layer made of it shows
  vlBGPic* bgpic = nullptr;             // a BGPic part's BGPic
  // A picture drawn from a description (a vector brush) is rendered again
  // under a transform instead of turning its pixels: its kind's renderer
  // and the object it renders. null: the pixels are transformed.
  int (*renderTransformed)(vlVMState* state, const void* object, const double* matrix, int smooth,
                           vlBitmap** image, vlBitmap** mask, vlBitmap** alpha, int32_t* width,
                           int32_t* height) = nullptr;
  const void* object = nullptr;
};

// The pictures of a layer's source object, for types whose objects live in
// other libraries (brushes, anims, text objects, videos). frame -1: the
// frame the layer shows. For ANIM layers extra answers the frame count.
// What a layer type's border maker answers to leave the border to the
// layer's pictures.
inline constexpr int VL_BORDER_FROM_PICTURES = -1;

struct vlLayerSource {
  int (*getBitmaps)(vlVMState* state, vlLayer* layer, int32_t frame, vlBitmap** image, vlBitmap** mask,
                    vlBitmap** alpha, int32_t* width, int32_t* height, uint32_t* extra);
  // Frees the library's orphaned objects (kind bits of the orphan masks).
  void (*purgeOrphans)(vlVMState* state);
  // Shows object id as a new layer at (x, y) (position constants allowed)
  // at list position (-1 on top), with the AddLayer flags. null: the type
  // cannot be inserted (1055).
  int (*insert)(vlVMState* state, vlObjectId id, int32_t x, int32_t y, int32_t position, uint32_t flags,
                vlLayer** out);
  // Re-renders the layer into target with the transform block (the
  // layer's own drawing routine with the layer as target), ending in
  // SetLayerGeometry; on is the display and picture it is drawn for.
  // null: the pictures of GetLayerBitmaps are transformed.
  int (*rebuild)(vlVMState* state, vlLayer* layer, const vlDrawingFor& on, vlLayerGeometry* target,
                 const vlLayerTransform* transform, uint32_t flags, vlLayerRect* rect);
  // Gives the layer its own copy of its source object when others share
  // it, marked to be freed with the layer. null: nothing to copy.
  int (*makePrivate)(vlVMState* state, vlLayer* layer);
  // A blank object of width x height filled with colour (mask or alpha
  // plane set, or cleared with clear) shown as a new layer at (x, y);
  // frames 0 a brush, else an anim of that many frames. The object goes
  // with its layer.
  int (*createBlank)(vlVMState* state, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t color,
                     int mask, int alpha, int clear, int32_t frames, vlLayer** out);
  // A new object of the type (a brush) that takes over the planes of a
  // width x height picture and goes with the layer that shows it; its id
  // out. 0 or an error (the planes stay the caller's then).
  int (*adoptPictures)(vlVMState* state, vlBitmap* image, vlBitmap* mask, vlBitmap* alpha, int32_t width,
                       int32_t height, vlObjectId* id);
  // Video layers: the engine operation (vlLayerVideoOp) on the layer's
  // video; 0 or the engine's error.
  int (*control)(vlVMState* state, vlLayer* layer, int32_t op, double argument);
  // Types whose geometry record extends the common head (text layouts,
  // shapes, paths): a full copy with the pictures, caches and clip region
  // cleared, and the release of the record with what its tail owns (its
  // pictures are freed before).
  vlLayerGeometry* (*copyGeometry)(const vlLayerGeometry* g);
  void (*freeGeometry)(vlLayerGeometry* g);
  // Drawn layers whose outline is a shape: the border picture of record g
  // grown by size in the colour, for the display and picture on, and the
  // offset of g's drawn picture in it. null, or VL_BORDER_FROM_PICTURES
  // returned: the border follows the layer's pictures.
  int (*makeBorder)(vlVMState* state, vlLayer* layer, const vlDrawingFor& on, vlLayerGeometry* g, uint32_t color,
                    int32_t size, int32_t* offsetX, int32_t* offsetY, vlBitmap** image, vlBitmap** mask,
                    vlBitmap** alpha);
  // Drawn layers without a fill (an outline only): 1 with the outline's
  // colour in *color, else 0. A border of that very colour is all such a
  // layer shows. null: the layer has a body of its own.
  int (*outlineColor)(const vlLayer* layer, uint32_t* color);
  // Layers showing a vector picture: its loaded source, which transforms
  // render again instead of turning the pixels. null: none.
  vlLoadedSource* (*vectorSource)(vlVMState* state, vlLayer* layer);
  // Types drawn from a description (shapes, text, paths): the type's own
  // style keys of the table at index applied to a new record [0] made from
  // the layer's (or, when the layer is to become this type, from the
  // library's current settings and the layer's x and y), handed out in
  // *record with *given set when a key was present (no record otherwise).
  // Style bits that switch the layer's shadow or border change copy. 0 or
  // an error code; the layer is untouched either way.
  int (*applyStyle)(vlVMState* state, vlLayer* layer, vlLayer* copy, int table, uint32_t type, int typeChanged,
                    vlLayerGeometry** record, int* given);
  // The type's own keys written into the table on the stack top.
  void (*writeStyle)(vlVMState* state, vlLayer* layer);
  // Objects shown on the drawing target by DisplayObjectOnTarget: the
  // pictures of object id (frame for anims) for a draw of that type,
  // leaving a selection of the object first; orphans finds orphaned
  // objects too. 0 or an error. null: the type is not shown that way.
  int (*objectPictures)(vlVMState* state, uint32_t type, vlObjectId id, int32_t frame, int orphans,
                        vlShownObject* shown);
};

// The rectangle a re-render refreshes: the old drawn rectangle (width -1:
// none, the new one is stored) and whether the caller refreshes itself.
struct vlLayerRect {
  int32_t x, y, width, height;
  uint32_t noRefresh;
};

enum vlLayerVideoOp : int32_t {
  VL_LAYERVIDEO_PLAY = 0,
  VL_LAYERVIDEO_STOP = 1,
  VL_LAYERVIDEO_PAUSE = 2,
  VL_LAYERVIDEO_RESUME = 3,
  VL_LAYERVIDEO_SEEK = 4,
  VL_LAYERVIDEO_VOLUME = 5,
};
// Types 3..50. null clears the slot.
void RegisterLayerSource(uint32_t type, const vlLayerSource* source);
void RegisterOrphanPurger(uint32_t kindBit, void (*purge)(vlVMState* state));

// The layer list of a BGPic.
vlLayer* GetLayerByPos(vlBGPic* pic, int32_t n);
int32_t CountLayers(const vlBGPic* pic);
int32_t GetLayerIndex(const vlLayer* layer);  // in the current output BGPic; -1 when not there
int32_t GetLayerIndexIn(const vlBGPic* pic, const vlLayer* layer);
int32_t FindLayerByName(vlBGPic* pic, const char* name);

int AddLayer(vlVMState* state, uint32_t type, const vlObjectId* source, int32_t x, int32_t y, int32_t width,
             int32_t height, const vlLayerTransform* transform, vlLayerOptions* options, vlBitmap* image,
             vlBitmap* mask, vlBitmap* alpha, vlLayerGeometry* geometry, int32_t position, uint32_t flags,
             vlLayer** result);
void DeleteLayer(vlVMState* state, vlLayer* layer, int noRefresh, int32_t* outX, int32_t* outY, int32_t* outWidth,
                 int32_t* outHeight, vlDirtyRects* dirty, int stopMedia);
void FreeOrphanedObjects(vlVMState* state, int32_t mask);
void ReleaseLayerSource(vlVMState* state, vlLayer* layer);
void FreeLayerGeometry(vlVMState* state, uint32_t type, vlLayerGeometry* geometry);
void FreeBGPicLayers(vlVMState* state, vlBGPic* pic, int freeOrphans, int dropFromSelection);
void FreeLayerBitmaps(vlLayer* layer);
void FreeLayerBorders(vlLayer* layer);
void ReleaseLayerGeometryCaches(vlLayer* layer);
int SetLayerNameFromStyle(vlLayer* layer, const char* name);
vlLayerGeometry* NewLayerGeometry();
// Frees the planes that are set and clears the three pointers.
void FreeLayerPictures(vlBitmap** image, vlBitmap** mask, vlBitmap** alpha);
// The identity draw-style block.
void DefaultLayerTransform(vlLayerTransform* t);

// Where the shown rectangle starts in the pictures of the layer's source:
// the record's part fields, except for an ANIM layer, whose record keeps
// its frame number there.
inline int32_t PartOffsetX(const vlLayer* layer, const vlLayerGeometry* g) {
  return layer->type == VL_LAYER_ANIM ? 0 : g->partX;
}
inline int32_t PartOffsetY(const vlLayer* layer, const vlLayerGeometry* g) {
  return layer->type == VL_LAYER_ANIM ? 0 : g->partY;
}

// Pictures the drawing passes use.
int GetLayerBitmaps(vlVMState* state, vlLayer* layer, vlLayerGeometry* g, int applyFilters, int useTransformed,
                    int32_t frame, vlBitmap** image, vlBitmap** mask, vlBitmap** alpha, int32_t* width,
                    int32_t* height, uint32_t* extra);
void PrepareFilteredImage(vlVMState* state, vlLayer* layer, vlLayerGeometry* g, int useTransformed);

// Rectangles (x, y, width, height unless noted).
struct vlRectXYWH {
  int32_t x, y, width, height;
};
bool IntersectRects(const vlRectXYWH& a, const vlRectXYWH& b, vlRectXYWH* out);
vlRectXYWH UnionRects(const vlRectXYWH& a, const vlRectXYWH& b);
bool RectsOverlap(const vlRectXYWH& a, const vlRectXYWH& b);
bool ClipRectToSize(vlRectXYWH* r, int32_t width, int32_t height);
vlRectXYWH ScaleRect(const vlRectXYWH& r, double fx, double fy);

// Dirty rectangles.
enum : int32_t { VL_DIRTY_MERGED = 100000 };
void AddDirtyRect(vlDirtyRects* list, int32_t x, int32_t y, int32_t width, int32_t height, int grow);
int32_t MergeDirtyRects(vlDirtyRects* list);
// The refresh engines draw for the display and picture on; without it, for
// the current display and drawing target.
void InvalidateArea(const vlDrawingFor& on, int32_t x, int32_t y, int32_t width, int32_t height);
void InvalidateArea(int32_t x, int32_t y, int32_t width, int32_t height);
void InvalidateLayer(vlVMState* state, vlDirtyRects* list, vlLayer* layer, vlLayerGeometry* g);
void RefreshArea(vlVMState* state, const vlDrawingFor& on, int32_t x, int32_t y, int32_t width, int32_t height);
void RefreshArea(vlVMState* state, int32_t x, int32_t y, int32_t width, int32_t height);
void RefreshRect(vlVMState* state, const vlDrawingFor& on, int32_t x, int32_t y, int32_t width, int32_t height,
                 uint32_t flags);
void RefreshRect(vlVMState* state, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t flags);
void RefreshDirtyRects(vlVMState* state, vlDirtyRects* list);
// direct: a new frame of the layer, drawn on the window at once whatever
// the display's output type.
void ShowLayerOnDisplay(vlVMState* state, vlLayer* layer, const vlDrawingFor& on, int direct);
void ShowLayerOnDisplay(vlVMState* state, vlLayer* layer, int direct);
void GetLayerOuterRect(vlVMState* state, vlLayer* layer, const vlDrawingFor& on, vlLayerGeometry* g, int32_t* x,
                       int32_t* y, int32_t* width, int32_t* height);
void GetLayerOuterRect(vlVMState* state, vlLayer* layer, vlLayerGeometry* g, int32_t* x, int32_t* y,
                       int32_t* width, int32_t* height);
int IsLayerUnobscured(vlBGPic* pic, vlLayer* layer);
void RedrawLayers(vlVMState* state, vlDisplay* display, vlBGPic* pic, vlBitmap* dest, int32_t x, int32_t y,
                  int32_t width, int32_t height, int32_t flags);

// Filters.
extern const char* const kLayerFilterNames[VL_LAYER_FILTERS];
void ApplyLayerFilters(const vlLayerFilter* slots, vlBitmap* image, vlBitmap* mask, vlBitmap* alpha,
                       int32_t width, int32_t height, int geometricOnly);
int LayerHasFilters(const vlLayerFilter* slots);
// The order ApplyLayerFilters runs the active slots in; returns the count.
int LayerFilterOrder(const vlLayerFilter* slots, int geometricOnly, int order[VL_LAYER_FILTERS]);
bool IsGeometricFilter(int slot);
void SetFilterDefaults(int slot, vlLayerFilter* filter, int givenInts, int givenFloats);

// Collision of two objects, each a rectangle with optional mask, alpha and
// clip mask (with the offsets in them of the rectangle's top-left).
struct vlCollisionObject {
  int32_t x, y, width, height;
  vlBitmap* mask;
  vlBitmap* alpha;
  int32_t maskX, maskY;  // offset of (x, y) inside mask and alpha
  vlBitmap* clipMask;
  int32_t clipX, clipY;  // offset of (x, y) inside the clip mask
};
int CollidePixels(const vlCollisionObject& a, const vlCollisionObject& b);
bool BoxesCollide(int32_t x1, int32_t y1, int32_t w1, int32_t h1, int32_t x2, int32_t y2, int32_t w2, int32_t h2);

// Stacking order and placement.
void SwapLayerNodes(vlLayer* a, vlLayer* b);
int SwapLayerPositions(vlVMState* state, int32_t posA, int32_t posB);
int MoveLayerInList(vlLayer* layer, int32_t position);
void SetGeometryPos(vlLayer* layer, vlLayerGeometry* g, int32_t x, int32_t y);
void MoveLayerTo(vlVMState* state, vlLayer* layer, const vlRectXYWH* minimum, int32_t x, int32_t y, int noRefresh,
                 uint32_t relative, vlDirtyRects* dirty);

// Borders and shadows.
// For the display and picture on, whose scale the outline and the shadow's
// offset follow.
int MakeLayerBorder(vlVMState* state, vlLayer* layer, const vlDrawingFor& on, vlLayerGeometry* g, uint32_t color,
                    int32_t size);
// How wide a border of size is around a width x height picture drawn with
// the matrix (a, b, c, d).
int32_t MeasureTransformedBorder(const double m[4], int32_t width, int32_t height, int32_t size);
void DrawLayerDecor(vlVMState* state, vlLayer* layer, const vlDrawingFor& on, vlLayerGeometry* g, vlBitmap* dest,
                    const vlRectXYWH& work);
// The shadow's rectangle moved by its size in its direction, scaled as
// display scales.
void MoveByShadowOffset(const vlLayer* layer, const vlDisplay* display, vlRectXYWH* r);
void DrawLayerImage(vlBitmap* image, vlBitmap* mask, vlBitmap* alpha, int32_t sx, int32_t sy, vlBitmap* dest,
                    int32_t dx, int32_t dy, int32_t w, int32_t h, uint32_t transparency);
// The same through a layer's clip region (a vlClipRegion or null): one with
// a mask plane lets only the mask's pixels through. sourceWidth: the width
// of the source's planes.
void DrawLayerImageClipped(vlBitmap* image, vlBitmap* mask, vlBitmap* alpha, int32_t sx, int32_t sy, vlBitmap* dest,
                           int32_t dx, int32_t dy, int32_t w, int32_t h, uint32_t transparency, const void* region,
                           int32_t sourceWidth);

// Transforms and the image pipeline.
void BuildTransformMatrix(vlLayerTransform* t, int32_t targetWidth, int32_t targetHeight, int32_t sourceWidth,
                          int32_t sourceHeight, double scaleX, double scaleY, double angle);
void UpdateTransformMatrix(vlLayerTransform* t, int32_t sourceWidth, int32_t sourceHeight);
void AngleFromMatrix(vlLayerTransform* t);
bool IsIdentityTransform(const vlLayerTransform* t);
// Rebuild modes: 1 display space, 2 no refresh, 4 a new layer. Without on,
// for the current display and drawing target.
int RebuildLayerImage(vlVMState* state, vlLayer* layer, uint32_t mode);
int RebuildLayerImage(vlVMState* state, vlLayer* layer, uint32_t mode, const vlDrawingFor& on);
int RebuildLayerImageAll(vlVMState* state, vlLayer* layer);
int RebuildBGPicLayersForDisplay(vlVMState* state, vlDisplay* display, vlBGPic* pic);
int BuildLayerImage(vlVMState* state, vlLayer* layer, vlLayerGeometry* target, const vlLayerTransform* transform,
                    uint32_t flags, vlLayerRect* rect);
int BuildLayerImage(vlVMState* state, vlLayer* layer, const vlDrawingFor& on, vlLayerGeometry* target,
                    const vlLayerTransform* transform, uint32_t flags, vlLayerRect* rect);
// flags 64: a LINE layer keeps its position. The refresh is for on.
void SetLayerGeometry(vlVMState* state, vlLayer* layer, const vlDrawingFor& on, vlLayerGeometry* g, vlLayerRect* rect,
                      int32_t x, int32_t y, int32_t width, int32_t height, vlBitmap* image, vlBitmap* mask,
                      vlBitmap* alpha, uint32_t flags);
int ResetDisplayScaledLayers(vlVMState* state, vlDisplay* display, vlBGPic* pic);
// Makes the layer a picture scripts may draw into; its pictures out.
int FlattenLayerToImage(vlVMState* state, vlLayer* layer, int32_t frame, vlBitmap** image, vlBitmap** mask,
                        vlBitmap** alpha, int32_t* width, int32_t* height);
void GetLayerSourceMaskAlpha(vlVMState* state, vlLayer* layer, int32_t frame, vlBitmap** mask, vlBitmap** alpha);
// The display scales the BGPic it shows by factors other than 1.
bool DisplayScalesLayers(const vlDisplay* display);
// The display draws pic: it shows it, or a running effect's layer on it
// stands in for it (and draws it with its layers as the display would).
bool DisplayDrawsBGPic(const vlDisplay* display, const vlBGPic* pic);
// Where a layer's display record sits, from its BGPic record and the
// display's factors: the one rule for building and moving it. A line is
// placed by its drawn corner; any other layer by its position, the drawn
// picture keeping the offset from it that its build gave (moved = true) or
// getting one from the build that follows (moved = false).
void PlaceDisplayRecord(uint32_t type, const vlLayerGeometry* bgpicRecord, vlLayerGeometry* displayRecord,
                        double fx, double fy, bool moved);

// Filters from scripts: the "filters" field of the table at index. 1 when a
// table was read; 0 otherwise, with *error set on failure.
int ParseLayerFilters(vlVMState* state, int table, vlLayerFilter* slots, int* given, int* error);

// The style engine.
int SetLayerStylePairs(vlVMState* state, int count, int noRefresh);
// The pairs at stack indexes first .. first + count - 1.
int SetLayerStylePairsAt(vlVMState* state, int first, int count, int noRefresh);
void ShutdownLayerStyle();
// A slot's arguments in descriptor order; their count.
int LayerFilterArgs(int slot, const vlLayerFilter& filter, double out[6]);
int ApplyLayerStyleTable(vlVMState* state, vlLayer* layer, int table, int group, int32_t* orphanMask);
// The layer shadow switched on (with the defaults the first time) or off.
void SwitchLayerShadow(vlLayerShadow* shadow, int on);
// Position and frame of one layer through the style engine (100000 keeps).
int ApplyLayerPosFrame(vlVMState* state, vlLayer* layer, int32_t x, int32_t y, int32_t frame, int noRefresh);
// The layer's style table, its "z" counted in pic, the BGPic it belongs to.
int GetLayerStyleTable(vlVMState* state, vlLayer* layer, const vlBGPic* pic);

// The layer checks of every layer command: 0 or the display state's error.
int CheckLayerCommand();
// A layer argument by position or name; 0 or an error code.
int GetLayerArg(vlVMState* state, int index, vlLayer** out);
// The same among the layers of pic.
int GetLayerArgIn(vlVMState* state, int index, vlBGPic* pic, vlLayer** out);
// The prologue of the commands on given layers: the layer arguments at
// first..first+count-1 are resolved (an unknown name 1369, another type
// 1183), then the display state is checked, then each position (1081).
int GetLayerCommandArgs(vlVMState* state, int first, int count, vlLayer** out);

// Drawing that goes above the layers and on-screen sprites of every redraw
// that includes sprites: the clipped redraw rectangle and the RedrawLayers
// flags.
using vlRedrawSpritesFn = void (*)(vlVMState* state, vlDisplay* display, vlBGPic* pic, vlBitmap* dest, int32_t x,
                                   int32_t y, int32_t width, int32_t height, int32_t flags);
void SetRedrawSpritesHook(vlRedrawSpritesFn fn);

// Stops the video a VIDEO layer plays (errors of the engine ignored).
void StopLayerVideo(vlVMState* state, vlLayer* layer);
// A video layer's new frame: the frame becomes the layer's picture (the
// layer's transform and filters kept) and is shown on the display. The
// frame belongs to the layer from then on, also on failure.
int ReplaceLayerWithFrame(vlVMState* state, vlDisplay* display, vlLayer** slot, vlBitmap* frame);
// Redraws a layer of pic where display shows it (a video layer's new
// frame): nothing when the display shows another BGPic or the layer is
// hidden.
void RedrawLayerWhereShown(vlVMState* state, vlDisplay* display, vlBGPic* pic, vlLayer* layer);
// 1 when the VIDEO layer's video is playing; set by the video code.
using vlLayerVideoPlayingFn = int (*)(vlVMState* state, vlLayer* layer);
extern vlLayerVideoPlayingFn gLayerVideoPlaying;
