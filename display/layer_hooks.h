// The calls the display code makes into layers, sprites, async draws,
// double buffers and videos, which live in other parts of the engine. Each
// default is what a display does when that part shows nothing: no layers,
// no sprites, no videos. The layer code replaces the members when it opens.
#pragma once
#include <cstdint>

#include "runtime/objects.h"

struct vlVMState;
struct vlDisplay;
struct vlBGPic;
struct vlBitmap;
struct vlLayer;

struct vlLayerHooks {
  // Draws the rectangle of the BGPic with its layers (and, without mode
  // bit 1, its on-screen sprites; bit 2: the sprites alone) into dest, in
  // the BGPic's display size, or with mode bit 16 in its own size.
  // Default: the BGPic's picture alone.
  void (*redrawLayers)(vlVMState* state, vlDisplay* display, vlBGPic* pic, vlBitmap* dest, int32_t x, int32_t y,
                       int32_t width, int32_t height, int32_t mode);
  // Frees the BGPic's layers (before it is freed). Default: nothing.
  void (*freeBGPicLayers)(vlVMState* state, vlBGPic* pic);
  // Re-renders the BGPic's layers at the display's scale factors.
  void (*rerenderLayers)(vlVMState* state, vlDisplay* display, vlBGPic* pic);
  // Gives the layers that show the BGPic a private copy (an orphan only
  // they know), so that the script's BGPic may change. 0 or an error;
  // default: no layers, 0.
  int (*detachBGPicUsers)(vlVMState* state, vlBGPic* pic);
  // The layers that show the BGPic refer to it by its own address from now
  // on (it is about to be orphaned, or already is); 1 when some layer shows
  // it. Default: no layers, 0.
  int (*bindBGPicUsers)(vlBGPic* pic);
  void (*freeSpriteNodes)(vlVMState* state, vlBGPic* pic);
  void (*stopDisplayVideos)(vlVMState* state, vlDisplay* display);
  int (*videoOnDisplay)(vlDisplay* display);
  void (*stopDoubleBuffer)(vlVMState* state, vlDisplay* display);
  void (*freeAsyncDraws)(vlVMState* state);
  int (*asyncDrawOnDisplay)(vlDisplay* display);
  // Frees the BGPic's buttons (made by the event library).
  void (*freeBGPicButtons)(vlVMState* state, vlBGPic* pic);
  // Selects a BGPic's picture (mode 3), mask (28) or alpha channel (30) as
  // drawing target. Default: ERR_WRONGUSAGE (no drawing-target selection).
  int (*selectDrawTarget)(vlVMState* state, uint32_t type, vlBGPic* pic, int32_t mode, int32_t frame);
  // A brush's bitmap and size (texture fills). Default: ERR_FINDBRUSH.
  int (*brushBitmap)(vlVMState* state, vlObjectId id, vlBitmap** bitmap, int32_t* width, int32_t* height);
  // BGPicToBrush: a new brush of the BGPic's planes, id at the argument
  // index. Default: ERR_FINDBRUSH-like refusal (no brush library).
  int (*bgpicToBrush)(vlVMState* state, vlBGPic* pic, int idIndex);
  // BrushToBGPic: a new BGPic of the brush's planes, id at the argument
  // index. Default: the brush is not found.
  int (*brushToBGPic)(vlVMState* state, vlObjectId brush, int idIndex);
  // DisplayBGPicPart through the shared display routine. Default:
  // ERR_WRONGUSAGE (no display routine).
  int (*displayBGPicPart)(vlVMState* state, vlBGPic* pic);
  // 1 when the rectangle overlaps an on-screen sprite of the BGPic
  // (inclusive edges). Default: no sprites, 0.
  int (*overlapsSprite)(vlBGPic* pic, int32_t x, int32_t y, int32_t width, int32_t height);
  // After a display refresh: paused and ended videos shown on it outside
  // layers draw their frame again (playing ones draw themselves). Default:
  // no videos.
  void (*redrawDisplayVideos)(vlVMState* state, vlDisplay* display);
  // After a display changed size or scale: its videos outside layers take
  // their new scaled place and size. Default: no videos.
  void (*scaleDisplayVideos)(vlVMState* state, vlDisplay* display);
  // A text object's rendered planes and size (the object keeps them).
  // Default: ERR_WRONGUSAGE (no text library).
  int (*textObjectPlanes)(vlVMState* state, vlObjectId id, vlBitmap** bitmap, vlBitmap** mask, vlBitmap** alpha,
                          int32_t* width, int32_t* height);
  // A double-buffered display changed size: its buffers follow the BGPic
  // and, unless noCopy, the picture goes to the window. 0 or an error;
  // default: no double buffering, 0.
  int (*resizeDoubleBuffer)(vlVMState* state, vlDisplay* display, int noCopy);
  // The hardware brushes made for a display whose window closes for good
  // (op 0: they go), closes to be opened again (1: their pixels are kept)
  // or opens (2: they get video bitmaps again). 0 or an error; default: no
  // brushes.
  int (*displayBrushes)(vlVMState* state, vlDisplay* display, int op);
  // The selection of the BGPic the display shows ends: the layers drawn
  // meanwhile become visible and, with refresh, the display's dirty
  // rectangles are merged and repainted (the caller repaints a list that
  // covers everything). Default: no layers, nothing to do.
  void (*endSelection)(vlVMState* state, vlDisplay* display, vlBGPic* pic, int refresh);
  // The buttons made on a layer (by the event library) follow it when a new
  // layer replaces it, and go when it is deleted. Default: no buttons.
  void (*moveLayerButtons)(vlLayer* from, vlLayer* to);
  void (*deleteLayerButtons)(vlVMState* state, vlLayer* layer);
  // A sprite on screen in the current BGPic: its box and the mask and
  // alpha plane of the frame it shows (null where the frame has none).
  // Not on screen: ERR_SPRITEONSCREEN with the number as the message's
  // argument, or ERR_SPRITEONSCREEN2 for an automatic identifier. Default:
  // no sprite is on screen.
  int (*spriteOnScreen)(vlObjectId id, int32_t* x, int32_t* y, int32_t* width, int32_t* height, vlBitmap** mask,
                        vlBitmap** alpha);
  // The selection of a layer (SelectLayer) of the display's BGPic ended:
  // the layer shows what was drawn into it (frame: the anim frame index
  // drawn into). Without refresh only its pictures are made again.
  // Default: no layers.
  void (*endLayerSelection)(vlVMState* state, vlDisplay* display, void* layer, int32_t frame, int refresh);
  // The BGPic that a running effect's layer stands in for (the effect draws
  // it with its layers as the display would), or null. Default: no
  // effects, null.
  vlBGPic* (*standInBGPic)();
  // A window just opened for the display shows the pointer the script set
  // for it (SetPointer). Default: no pointer images, the window's own.
  void (*showDisplayPointer)(vlDisplay* display);
  // The clip region (its vlClipRegion) is being freed: the on-screen
  // sprites shown through it, on every BGPic, stop using it, and those of
  // the current display's BGPic are drawn again, whole. Default: no
  // sprites.
  void (*refreshTaggedSpriteNodes)(vlVMState* state, const void* clipRegion);
};
enum { VL_DISPBRUSHES_FREE = 0, VL_DISPBRUSHES_SAVE = 1, VL_DISPBRUSHES_RESTORE = 2 };

extern vlLayerHooks gLayerHooks;
void ResetLayerHooks();
// Once, when the screen's pixel format becomes known, the pictures loaded
// before (brushes, anim and sprite frames, font strikes) are converted by
// the converters the libraries added: by rank, those of one rank in the
// order they were added (each once); the first error stops it.
// ResetLayerHooks forgets them. Brushes go before the BGPics whose fills
// may use them.
enum : int { VL_CONVERT_BRUSHES = 0, VL_CONVERT_BGPICS = 1, VL_CONVERT_FRAMES = 2, VL_CONVERT_FONTS = 3 };
using vlScreenFormatFn = int (*)(vlVMState* state, uint32_t startupFlags);
void AddScreenFormatConverter(int rank, vlScreenFormatFn fn);
int RunScreenFormatConverters(vlVMState* state, uint32_t startupFlags);

// Redraws a whole display from its BGPic (code 0 after Cls, 0x80 after
// opening, 2 on a plug-in's request).
void RefreshDisplayObject(vlVMState* state, vlDisplay* display, uint32_t code);
// Sends a changed rectangle of a bitmap to the display's window unless
// refreshing is deferred (BeginRefresh).
void UpdateDisplayRect(vlBitmap* source, int32_t srcX, int32_t srcY, vlDisplay* display, int32_t x, int32_t y,
                       int32_t width, int32_t height, uint32_t flags);
extern int32_t vlRefreshSuspended;
