// Defaults of the layer hooks (a display without layers, sprites or
// videos) and the whole-display refresh.
#include "display/layer_hooks.h"

#include "display/bgpic.h"
#include "display/display.h"
#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "graphics/display_blit.h"
#include "graphics/presentation.h"
#include "platform/display_adapter.h"
#include "runtime/errors.h"
#include "vm/error_codes.h"

int32_t vlRefreshSuspended = 0;

namespace {

void PlainRedraw(vlVMState*, vlDisplay*, vlBGPic* pic, vlBitmap* dest, int32_t x, int32_t y, int32_t width,
                 int32_t height, int32_t mode) {
  if (!pic) return;
  const bool own = mode & 16;
  vlBitmap* picture = own ? pic->curBitmap : pic->dispBitmap;
  const int32_t pw = own ? pic->width : pic->dispWidth, ph = own ? pic->height : pic->dispHeight;
  if (!dest || !picture || picture == dest) return;
  if (x < 0) {
    width += x;
    x = 0;
  }
  if (y < 0) {
    height += y;
    y = 0;
  }
  if (x + width > pw) width = pw - x;
  if (y + height > ph) height = ph - y;
  if (x + width > dest->width) width = dest->width - x;
  if (y + height > dest->height) height = dest->height - y;
  if (width > 0 && height > 0) BltBitmap(picture, x, y, dest, x, y, width, height);
}
void NoLayers(vlVMState*, vlBGPic*) {}
void NoRerender(vlVMState*, vlDisplay*, vlBGPic*) {}
int NoUsers(vlVMState*, vlBGPic*) { return 0; }
int NoBoundUsers(vlBGPic*) { return 0; }
void NoSprites(vlVMState*, vlBGPic*) {}
void NoVideos(vlVMState*, vlDisplay*) {}
int NoVideo(vlDisplay*) { return 0; }
void NoDoubleBuffer(vlVMState*, vlDisplay*) {}
void NoAsync(vlVMState*) {}
int NoAsyncOn(vlDisplay*) { return 0; }
void NoButtons(vlVMState*, vlBGPic*) {}
int NoSelect(vlVMState*, uint32_t, vlBGPic*, int32_t, int32_t) { return ERR_WRONGUSAGE; }
int NoBrushLibrary(vlVMState*, vlBGPic*, int) { return ERR_WRONGUSAGE; }
int NoDisplayRoutine(vlVMState*, vlBGPic*) { return ERR_WRONGUSAGE; }
// The libraries whose pictures wait for the screen's format, in the order
// they opened.
constexpr int kMaxConverters = 8;
vlScreenFormatFn gConverters[kMaxConverters];
int gConverterRanks[kMaxConverters];
int gConverterCount = 0;
int NoSprites2(vlBGPic*, int32_t, int32_t, int32_t, int32_t) { return 0; }
int NoBrush(vlVMState*, vlObjectId id, vlBitmap**, int32_t*, int32_t*) {
  if (id.handle) return ERR_FINDARRAY;
  SetErrorArgIndex(id.number);
  return ERR_FINDBRUSH;
}
int NoBrushForBGPic(vlVMState* L, vlObjectId id, int) { return NoBrush(L, id, nullptr, nullptr, nullptr); }
int NoTextObjects(vlVMState*, vlObjectId, vlBitmap**, vlBitmap**, vlBitmap**, int32_t*, int32_t*) {
  return ERR_WRONGUSAGE;
}

int NoDoubleBufferResize(vlVMState*, vlDisplay*, int) { return 0; }
int NoBrushes(vlVMState*, vlDisplay*, int) { return 0; }
void NoSelectionEnd(vlVMState*, vlDisplay*, vlBGPic*, int) {}
void NoButtonMove(vlLayer*, vlLayer*) {}
void NoLayerButtons(vlVMState*, vlLayer*) {}
void NoPointerImages(vlDisplay*) {}
void NoTaggedSprites(vlVMState*, const void*) {}
void NoLayerSelection(vlVMState*, vlDisplay*, void*, int32_t, int) {}
vlBGPic* NoStandIn() { return nullptr; }
int NoSpriteOnScreen(vlObjectId id, int32_t*, int32_t*, int32_t*, int32_t*, vlBitmap**, vlBitmap**) {
  if (id.handle) return ERR_SPRITEONSCREEN2;
  SetErrorArgIndex(id.number);
  return ERR_SPRITEONSCREEN;
}

const vlLayerHooks kDefaults = {
    .redrawLayers = PlainRedraw,
    .freeBGPicLayers = NoLayers,
    .rerenderLayers = NoRerender,
    .detachBGPicUsers = NoUsers,
    .bindBGPicUsers = NoBoundUsers,
    .freeSpriteNodes = NoSprites,
    .stopDisplayVideos = NoVideos,
    .videoOnDisplay = NoVideo,
    .stopDoubleBuffer = NoDoubleBuffer,
    .freeAsyncDraws = NoAsync,
    .asyncDrawOnDisplay = NoAsyncOn,
    .freeBGPicButtons = NoButtons,
    .selectDrawTarget = NoSelect,
    .brushBitmap = NoBrush,
    .bgpicToBrush = NoBrushLibrary,
    .brushToBGPic = NoBrushForBGPic,
    .displayBGPicPart = NoDisplayRoutine,
    .overlapsSprite = NoSprites2,
    .redrawDisplayVideos = NoVideos,
    .scaleDisplayVideos = NoVideos,
    .textObjectPlanes = NoTextObjects,
    .resizeDoubleBuffer = NoDoubleBufferResize,
    .displayBrushes = NoBrushes,
    .endSelection = NoSelectionEnd,
    .moveLayerButtons = NoButtonMove,
    .deleteLayerButtons = NoLayerButtons,
    .spriteOnScreen = NoSpriteOnScreen,
    .endLayerSelection = NoLayerSelection,
    .standInBGPic = NoStandIn,
    .showDisplayPointer = NoPointerImages,
    .refreshTaggedSpriteNodes = NoTaggedSprites,
};

}  // namespace

vlLayerHooks gLayerHooks = kDefaults;
void ResetLayerHooks() {
  gLayerHooks = kDefaults;
  gConverterCount = 0;
}

int RunScreenFormatConverters(vlVMState* state, uint32_t startupFlags) {
  for (int i = 0; i < gConverterCount; ++i)
    if (int status = gConverters[i](state, startupFlags)) return status;
  return 0;
}

void AddScreenFormatConverter(int rank, vlScreenFormatFn fn) {
  for (int i = 0; i < gConverterCount; ++i)
    if (gConverters[i] == fn) return;
  if (gConverterCount >= kMaxConverters) return;
  // After every converter of the same or a lower rank.
  int at = gConverterCount;
  while (at > 0 && gConverterRanks[at - 1] > rank) {
    gConverters[at] = gConverters[at - 1];
    gConverterRanks[at] = gConverterRanks[at - 1];
    --at;
  }
  gConverters[at] = fn;
  gConverterRanks[at] = rank;
  ++gConverterCount;
}

void UpdateDisplayRect(vlBitmap* source, int32_t srcX, int32_t srcY, vlDisplay* display, int32_t x, int32_t y,
                       int32_t width, int32_t height, uint32_t flags) {
  if (!display || !source) return;
  if (vlRefreshSuspended && !(flags & 0x80)) return;
  BlitToDisplay(source, srcX, srcY, display, x, y, width, height, flags);
}

void RefreshDisplayObject(vlVMState* state, vlDisplay* d, uint32_t code) {
  if (!d || !d->bgpic || !d->back) return;
  SettleHeldPresentation();  // held moves reach the window before the borders
  ClearDisplayBorders(d);
  vlBGPic* pic = d->bgpic;
  gLayerHooks.redrawLayers(state, d, pic, d->back, 0, 0, pic->dispWidth, pic->dispHeight, 0);
  UpdateDisplayRect(d->back, 0, 0, d, 0, 0, pic->dispWidth, pic->dispHeight, code | 9);
  gLayerHooks.redrawDisplayVideos(state, d);
}
