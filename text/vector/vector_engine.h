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

#include "abi/plugin_abi.h"
#include "graphics/outline_raster.h"

struct vlPluginInfo;

// Path command codes, line joins, caps and fill rules, and the request
// records of vector engines are the plug-in interface's.

// Bytes a string argument takes in a command buffer.
constexpr size_t PathStringBytes(size_t length) { return (length & ~size_t{3}) + 4; }
// Bytes of a whole command (code included) starting at p; 0 at the end.
size_t PathCommandBytes(const uint8_t* p);

union vlPathRequest {
  vlPathExtentsRequest extents;
  vlPathDrawRequest draw;
};

// The eight entries of the built-in engine, in slot order.
void GetPathExtents(vlPathExtentsRequest* request);
int DrawPath(vlPathDrawRequest* request);
void TranslatePath(vlPathTranslateRequest* request);
// DrawPath into a buffer whose first pixel lies originX, originY whole
// pixels right of and below the box's corner pixel: a window of the path.
int DrawPathFrom(vlPathDrawRequest* request, int32_t originX, int32_t originY);
void GetCurrentPoint(const uint8_t* commands, const vlLineStateCopy* lineState, double* x, double* y);
// Drops the outlines and coverage kept for paths drawn again (before the
// library their outlines came from is done).
void ForgetKeptOutlines();
// After GetPathExtents or DrawPath of the built-in engine found no
// outline: 0 when the path had nothing to draw, or why it could not be
// made (out of memory).
int BuiltinPathBuildError();
void* CreateVectorFont(void* face);
void FreeVectorFont(void* handle);
void* OpenVectorFaceFromMemory(const void* data, size_t size);
void CloseVectorFace(void* handle);

// Fills the engine entries of an engine record, its capability bit and
// the extension flag of the newer draw request layout.
void FillBuiltinVectorEngine(vlPluginInfo* info);
