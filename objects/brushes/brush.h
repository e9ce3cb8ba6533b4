// Brushes: off-screen pictures a script loads, creates or derives, changes
// and shows. The record, the list of all brushes, adding, finding and
// freeing them, and the brush command library.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/objects.h"

struct vlBitmap;
struct vlDisplay;
struct vlVMState;
struct vlLoadedSource;
struct vlPluginInfo;

struct vlBrush {
  // Object head.
  uint32_t type;  // VL_OBJ_BRUSH
  int32_t idNumber;
  void* idHandle;
  vlObjectData* data;
  vlBrush* next;
  vlObjectId id() const { return {idNumber, idHandle}; }

  vlLoadedSource* source;  // kept by vector brushes and brushes without a bitmap yet
  vlBitmap* bitmap;
  vlBitmap* mask;
  vlBitmap* alpha;
  int32_t width, height;
  int32_t sourceRowLength;
  uint32_t locked;
  uint32_t orphaned;
  int32_t transparentColor;  // -1 none
  uint32_t scaledVector;
  uint32_t kind;  // 0 raster, 1 vector
  int32_t srcX, srcY, srcWidth, srcHeight;
  uint32_t hardware;
  uint32_t hardwareFlags;  // bit 0 mask, bit 1 alpha
  int32_t displayNumber;
  void* displayHandle;
  void* display;
  uint32_t* savedPixels;
  const vlPluginInfo* loaderWord;  // the loader that read the picture, null built-in
  // A vector brush's bitmap is its source rendered at this matrix (m00,
  // m01, m10, m11); all zero: scaled from the source's own size to the
  // brush's size.
  double vectorMatrix[4];
};

extern vlBrush* vlBrushList;

enum : uint32_t {
  VL_BRUSH_FINDUNLOCKED = 1,  // refuse a locked brush
  VL_BRUSH_FINDORPHANS = 2,
  VL_BRUSH_NOLAYERCOPY = 4,
  VL_BRUSH_NOVECTOR = 8,
  VL_BRUSH_HARDWAREOK = 16,
};

// Appends a brush that takes over the planes and source. id->handle
// non-zero asks for an automatic id (the record's address). 0 or ERR_MEM.
int AddBrush(vlObjectId* id, vlBitmap* bitmap, vlBitmap* mask, vlBitmap* alpha, int32_t width, int32_t height,
             int32_t rowLength, vlLoadedSource* source, int32_t transparentColor, uint32_t kind, vlBrush** out);
// A brush of width x height filled with colour, with a mask or an alpha
// plane (set, or cleared with clear).
int NewBrush(vlObjectId* id, int32_t width, int32_t height, uint32_t color, int mask, int alpha, int clear,
             vlBrush** out);
// The same, asking the display adapter for a video bitmap (a hardware
// brush bound to display, which may be null) when hardware is set and the
// adapter offers hardware brushes; otherwise, or when the adapter allows
// it after a refusal, an ordinary brush. 1522 when the adapter refuses
// and allows no fall-back.
int NewBrushOn(vlObjectId* id, int32_t width, int32_t height, uint32_t color, int mask, int alpha, int clear,
               int hardware, vlDisplay* display, vlBrush** out);
// Marks a brush whose bitmap is a video bitmap as a hardware brush of the
// display (flags: bit 0 mask, bit 1 alpha channel); any other brush gets
// its hardware words cleared.
void BindHardwareBrush(vlBrush* brush, vlDisplay* display, uint32_t flags);
// The hardware brushes of a display: freed when it closes for good (op 0),
// their pixels kept while it closes to be opened again (1) and made video
// bitmaps again when it opens (2). 0 or the first error.
int DisplayHardwareBrushes(vlVMState* state, vlDisplay* display, int op);
int GetBrushByID(vlVMState* state, vlObjectId id, vlBrush** out, uint32_t flags);
int FreeBrushByID(vlVMState* state, vlObjectId id, int reportMissing);
// A copy of r with its planes, user data and source (one more reference).
// With hardwareOn the adapter is asked for a hardware copy for that display.
int CopyBrushForLayer(vlVMState* state, const vlBrush* r, vlObjectId* id, vlBrush** out,
                      vlDisplay* hardwareOn = nullptr);
// A vector brush rendered again from its source at matrix applied on top
// of the brush's own rendering, into new planes of the brush's kinds
// (composed, when given, receives the matrix from the source's own size).
// 0 or an error of the renderer; nothing is left allocated on failure.
int RenderVectorBrush(vlVMState* state, const vlBrush* brush, const double* matrix, int smooth, vlBitmap** bitmap,
                      vlBitmap** mask, vlBitmap** alpha, int32_t* width, int32_t* height, double* composed);
// Frees the orphaned brushes that no layer shows any more.
void PurgeOrphanBrushes(vlVMState* state);
void FreeAllBrushes(vlVMState* state);
// Makes the bitmaps of brushes loaded before the screen's pixel format was
// known, from their source pixels; 0 or the first error.
int RebuildBrushBitmaps();
// The display draws into this brush (or its mask or alpha channel).
bool IsActiveBrush(const vlBrush* brush);

// Shows brush id at (x, y) on the current drawing target; tags at tagIndex
// (0 none). A part (srcX, srcY, width, height) when part is set.
int DisplayBrushObject(vlVMState* state, vlObjectId id, int part, int32_t srcX, int32_t srcY, int32_t x, int32_t y,
                       int32_t width, int32_t height, int tagIndex);

// The shared display routine for brushes (type 3), brush parts (12), anim
// frames (4, frame 0-based; the anim's size is used) and BGPic parts (13):
// tags at tagIndex (0 none); render draws a BGPic part with its layers.
// Flags: 1 no drawing at once, 2 handed to the layer, 4 leave drawing to
// the layers, 8 no drawing at once (orphans found), 0x400 find orphaned
// objects.
int DisplayObjectOnTarget(vlVMState* state, uint32_t type, vlObjectId id, int32_t frame, int32_t srcX,
                          int32_t srcY, int32_t x, int32_t y, int32_t width, int32_t height, int render,
                          int tagIndex, uint32_t flags);
// Before the first draw into a selected brush: its mask or alpha channel
// is made and handed to the display, and layers showing it get their
// copies. 0 or an error; nothing to do without such a selection.
int GetSelectTargetBitmaps(vlVMState* state);
// Makes a brush (type 3), anim frame (4, frame 1-based) or BGPic (1) the
// drawing target: mode 3 its picture, 28 its mask, 30 its alpha channel.
// selectMode 1 (combo) draws into all three planes at once.
int SelectDrawTarget(vlVMState* state, uint32_t type, vlObjectId id, uint32_t mode, int32_t frame,
                     int32_t selectMode, int32_t combo);
// SelectBGPic's mask and alpha-channel modes.
void InstallBrushSelectHooks();
// Registers brushes as layer sources and the display routine's hooks.
void InstallBrushDisplayHooks();
// Lets closing displays and starting transitions end double buffering.
void InstallDoubleBufferHooks();
// Double buffering of a display: ending it; the display adapter's begin and
// end slots; a new black double-buffer picture (sent to the window unless
// noCopy) for a display that changed size. 0 or an error code.
int StopDoubleBuffer(vlVMState* state, vlDisplay* display);
int BeginAdapterDoubleBuffer(vlDisplay* display);
int EndAdapterDoubleBuffer(vlDisplay* display);
int AllocDisplayBackBuffer(vlDisplay* display, int32_t width, int32_t height, int noCopy);

int OpenBrushLib(vlVMState* state);
// GetAttribute and the planes clip regions and pointers are made from.
void InstallBrushGraphicsHooks();
// Brushes as PNG pictures on the clipboard: the brush's pixels as a PNG
// file (an AllocMemory block), 0 or an error; and the PNG file's bytes as
// a new brush with an automatic id, its handle pushed, 0 or an error.
int BrushToClipboardPNG(vlVMState* state, vlObjectId id, uint8_t** png, size_t* length);
int BrushFromClipboardPNG(vlVMState* state, const uint8_t* png, size_t length);
void FreeBrushLib(vlVMState* state);
