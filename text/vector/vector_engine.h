// The built-in vector engine: path command buffers turned into FreeType
// outlines (moves, lines and cubics directly, arcs and ellipses as cubic
// pieces, rounded boxes, text as glyph outlines), filled or stroked with
// FreeType's stroker, measured, or rendered into 8-bit coverage; and the
// anti-aliased boxes, ellipses and arcs of the draw library. The request
// records are shared with plug-in engines, so their layout is fixed (with
// pointers pointer-sized).
#pragma once
#include <cstddef>
#include <cstdint>

#include "graphics/outline_raster.h"

struct vlPluginInfo;

// Path command codes. A buffer is a sequence of {u32 code, arguments},
// 4-byte aligned, ended by a u32 0. Arguments: u32 flags and levels, f64
// coordinates (read with memcpy: they need not be 8-byte aligned), a
// pointer-sized vector-font handle, and strings stored NUL-terminated in
// (n & ~3) + 4 bytes for n characters (1 to 4 bytes of NUL and padding).
enum : uint32_t {
  VL_PATH_END = 0,
  VL_PATH_MOVE = 1,      // u32 relative, f64 x, y
  VL_PATH_LINE = 2,      // u32 relative, f64 x, y
  VL_PATH_CURVE = 3,     // u32 relative, f64 x1, y1, x2, y2, x3, y3
  VL_PATH_SUBPATH = 5,   // none
  VL_PATH_CLOSE = 6,     // none
  VL_PATH_ARC = 7,       // f64 cx, cy, rx, ry, start, end (degrees), u32 clockwise
  VL_PATH_BOX = 8,       // f64 x, y, width, height, u32 corner levels a, b, c, d
  VL_PATH_TEXT = 9,      // handle, u32 size in pixels, string (UTF-8)
};

// Bytes a string argument takes in a command buffer.
constexpr size_t PathStringBytes(size_t length) { return (length & ~size_t{3}) + 4; }
// Bytes of a whole command (code included) starting at p; 0 at the end.
size_t PathCommandBytes(const uint8_t* p);

enum : uint32_t { VL_JOINMITER = 0, VL_JOINROUND = 1, VL_JOINBEVEL = 2 };
enum : uint32_t { VL_CAPBUTT = 0, VL_CAPROUND = 1, VL_CAPSQUARE = 2 };
enum : uint32_t { VL_FILLRULEWINDING = 0, VL_FILLRULEEVENODD = 1 };

// The copy of the line state a request points to.
struct vlLineStateCopy {
  uint32_t join;
  uint32_t cap;
  uint32_t fillRule;
  uint32_t antiAlias;
  double dashOffset;
  const double* dashes;
  uint32_t dashCount;
};

// GetPathExtents: the path offset by (-x, -y); results x1..y2.
struct vlPathExtentsRequest {
  const uint8_t* commands;
  const vlLineStateCopy* lineState;
  uint32_t fill;       // 1 fill, 0 stroke
  uint32_t lineWidth;  // pixels
  double x, y;
  double x1, y1, x2, y2;
  const vlPathTransform* transform;
};

// DrawPath: coverage into an 8-bit buffer. Engines without the extension
// flag get x, y at zero1/zero2 and a second pair at x, y.
struct vlPathDrawRequest {
  const uint8_t* commands;
  const vlLineStateCopy* lineState;
  uint32_t fill;
  uint32_t lineWidth;
  uint32_t reserved;
  uint8_t* coverage;
  int32_t rowBytes;
  int32_t width;
  int32_t height;
  uint32_t reserved2;
  double zero1, zero2;
  double x, y;
  const vlPathTransform* transform;
};

union vlPathRequest {
  vlPathExtentsRequest extents;
  vlPathDrawRequest draw;
};

struct vlPathTranslateRequest {
  uint8_t* commands;
  double dx, dy;
};

// The eight entries of the built-in engine, in slot order.
void GetPathExtents(vlPathExtentsRequest* request);
int DrawPath(vlPathDrawRequest* request);
void TranslatePath(vlPathTranslateRequest* request);
// DrawPath into a buffer whose first pixel lies originX, originY whole
// pixels right of and below the box's corner pixel: a window of the path.
int DrawPathFrom(vlPathDrawRequest* request, int32_t originX, int32_t originY);
void GetCurrentPoint(const uint8_t* commands, const vlLineStateCopy* lineState, double* x, double* y);
void* CreateVectorFont(void* face);
void FreeVectorFont(void* handle);
void* OpenVectorFaceFromMemory(const void* data, size_t size);
void CloseVectorFace(void* handle);

// Fills the engine entries of an engine record, its capability bit and
// the extension flag of the newer draw request layout.
void FillBuiltinVectorEngine(vlPluginInfo* info);
