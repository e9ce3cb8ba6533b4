// The video library's records, their list and look-up, the play engines
// behind the commands, and the services for displays. Depends on the
// player, the display records and the runtime's registries.
#include "media/video/video_library.h"
#include "media/video/video_mask.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include "display/bgpic.h"
#include "display/clients.h"
#include "display/display.h"
#include "display/layer_hooks.h"
#include "graphics/bitmap.h"
#include "media/sound/sound_library.h"
#include "media/video/video_layers.h"
#include "media/video/video_player.h"
#include "objects/sprites/sprite.h"
#include "runtime/os.h"
#include "runtime/threads.h"
#include "runtime/console.h"
#include "runtime/errors.h"
#include "graphics/position.h"
#include "platform/display_adapter.h"
#include <new>
#include "runtime/object_data.h"
#include "runtime/object_index.h"
#include "runtime/option_readers.h"
#include "runtime/progress_message.h"
#include "runtime/script_version.h"
#include "vm/argreaders.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"
#include "platform/display_device.h"

vlVideoLibrary gVideo{};

namespace {

constexpr int kErrFindVideo = 1449;
constexpr int kErrAlreadyPlaying = 1501;
constexpr int kErrIsPaused = 1500;
constexpr int kErrNotPlaying = 1451;
constexpr int kErrNotPausedVideo = 1452;
constexpr int kErrTransparentBGPic = 1458;
constexpr int kErrAlreadyStopped = 1516;
constexpr int kErrVideoLayers = 1514;
constexpr int kErrRecording = 1317;
constexpr int kErrOldApplet = 1566;
constexpr uintptr_t kNativeLoader = 1;

struct ListLock {
  ListLock() {
    if (gVideo.listMutex) LockMutex(gVideo.listMutex);
  }
  ~ListLock() {
    if (gVideo.listMutex) UnlockMutex(gVideo.listMutex);
  }
};

// Loading and finding a video must not walk every video there is. Changed
// under the list lock, like the list; only the main thread reads it.
vlObjectIndex gVideoIndex;

vlObjectNode** ListHead() { return reinterpret_cast<vlObjectNode**>(&gVideo.videos); }

bool Active(const vlVideo* v) {
  const uint32_t s = v->state.load();
  return s == VL_VIDEO_PLAYING || s == VL_VIDEO_PAUSED || s == VL_VIDEO_ENDED;
}

void Unlink(vlVideo* video) {
  ListLock lock;
  gVideoIndex.Unlink(ListHead(), &video->node);
}

// The refresh thread of a player whose stream ended.
void MarkEnded(vlVideoPlayer* player) {
  ListLock lock;
  for (vlVideo* v = gVideo.videos; v; v = reinterpret_cast<vlVideo*>(v->node.next))
    if (v->player && v->player->player == player) v->state.store(VL_VIDEO_ENDED);
}

bool DisplayScales(const vlDisplay* d) {
  return d && d->scaleWidth > 0 && d->scaleHeight > 0 &&
         (d->layerScale || (d->autoScale && DisplayDeviceDoes(d, VL_DEVICE_SCALES_VIDEO)));
}

// What the hooks held before the library installed its own.
void (*gSavedStopDisplayVideos)(vlVMState*, vlDisplay*) = nullptr;
void (*gSavedRedrawDisplayVideos)(vlVMState*, vlDisplay*) = nullptr;
void (*gSavedScaleDisplayVideos)(vlVMState*, vlDisplay*) = nullptr;
int (*gSavedVideoOnDisplay)(vlDisplay*) = nullptr;

void HookStopDisplayVideos(vlVMState* state, vlDisplay* display) { StopDisplayVideos(state, display); }

// A frame of a video that plays in an on-screen sprite node (under a
// display adapter): it becomes the video's surface, which the node shows
// in every redraw, at the frame's rectangle.
int TakeVideoSurface(vlPendingFrame* f, int what) {
  vlVideo* v = gVideo.videos;
  while (v && !(v->player && v->player->player == f->video)) v = reinterpret_cast<vlVideo*>(v->node.next);
  auto* node = v ? static_cast<vlSpriteNode*>(v->spriteNode) : nullptr;
  if (!node) return 0;
  if (what != VL_VIDEO_SURFACE_TAKE) {
    node->tag = what == VL_VIDEO_SURFACE_MARK ? 1 : 0;
    return 1;
  }
  if (v->frameBitmap) DeleteBitmap(v->frameBitmap);
  v->frameBitmap = node->image = f->bitmap;
  node->x = f->x, node->y = f->y, node->width = f->width, node->height = f->height;
  return 1;
}
int HookVideoOnDisplay(vlDisplay* display) { return IsVideoOnDisplay(display, 0, 1); }

}  // namespace

// The selection checks every drawing command makes on the current display.
int CheckVideoOutput(vlDisplay* d) {
  if (!d) return ERR_WRONGUSAGE;
  if (d->outputType == VL_OUTPUT_BRUSH)
    return vlCurrentOutput && vlCurrentOutput->kind == 4 ? ERR_SELECTANIM : ERR_SELECTBRUSH;
  if (d->outputType == VL_OUTPUT_ANIM) return ERR_SELECTANIM;
  if (d->outputType == VL_OUTPUT_MASK) return ERR_SELECTMASK;
  if (d->outputType == VL_OUTPUT_ALPHA) return ERR_SELECTALPHACHANNEL;
  return 0;
}

void ScaleVideoRect(vlVideo* v, vlDisplay* d) {
  if (DisplayScales(d)) {
    v->scaledX = static_cast<int32_t>(v->x * d->scaleX);
    v->scaledY = static_cast<int32_t>(v->y * d->scaleY);
    v->scaledWidth = static_cast<int32_t>(v->width * d->scaleX);
    v->scaledHeight = static_cast<int32_t>(v->height * d->scaleY);
    v->smooth = static_cast<uint32_t>(d->smoothScale);
  } else {
    v->scaledX = v->x;
    v->scaledY = v->y;
    v->scaledWidth = v->width;
    v->scaledHeight = v->height;
  }
}

int GetVideoByID(vlVMState* state, vlObjectId id, uint32_t flags, vlVideo** out) {
  static const std::vector<vlObjectNode*> kNone;
  const std::vector<vlObjectNode*>* named = gVideoIndex.Find(id);
  for (vlObjectNode* node : named ? *named : kNone) {
    auto* v = reinterpret_cast<vlVideo*>(node);
    if (v->hiddenCopy && !(flags & VL_VIDEO_HIDDEN_TOO)) continue;
    if ((flags & VL_VIDEO_CHANGE) && v->locked) return ERR_LOCKEDOBJ;
    // About to change: the layers that show the video keep what they show.
    if ((flags & (VL_VIDEO_CHANGE | VL_VIDEO_NO_LAYER_COPY)) == VL_VIDEO_CHANGE)
      if (int error = GiveVideoLayersCopy(state, v)) return error;
    *out = v;
    return 0;
  }
  if (id.handle) return ERR_FINDARRAY;
  SetErrorArgIndex(id.number);
  return kErrFindVideo;
}

int CloseVideoRecord(vlVMState* state, vlVideo* v) {
  if (v->onLayer) {
    // The layer keeps showing it: the record becomes its nameless copy.
    const vlObjectId old{v->node.idNumber, v->node.idHandle};
    if (int error = RenameVideo(v, {0, v})) return error;
    v->hiddenCopy = 1;
    RebindVideoLayers(v, old);
    if (v->player) SetVideoPlayerId(v->player, {0, v});
    return 0;
  }
  if (Active(v)) StopVideoPlayback(state, v, 1, 0);
  FreeVideoRecord(state, v);
  return 0;
}

void MoveVideoPlayback(vlVideo* from, vlVideo* to) {
  {
    // The refresh thread marks the record that owns the player ended.
    ListLock lock;
    std::swap(from->player, to->player);
    to->state.store(from->state.exchange(VL_VIDEO_STOPPED));
  }
  to->frameBitmap = std::exchange(from->frameBitmap, nullptr);
  to->display = std::exchange(from->display, nullptr);
  to->onLayer = std::exchange(from->onLayer, 0u);
  to->x = from->x, to->y = from->y;
  to->scaledX = from->scaledX, to->scaledY = from->scaledY;
  to->width = from->width, to->height = from->height;
  to->scaledWidth = from->scaledWidth, to->scaledHeight = from->scaledHeight;
  to->smooth = from->smooth;
  to->volume = from->volume;
  SetVideoPlayerId(to->player, {to->node.idNumber, to->node.idHandle});
  SetVideoPlayerId(from->player, {from->node.idNumber, from->node.idHandle});
}

int RenameVideo(vlVideo* video, vlObjectId id) {
  ListLock lock;
  return gVideoIndex.Rekey(&video->node, id);
}

void FreeVideoRecord(vlVMState* state, vlVideo* video) {
  Unlink(video);
  // One freed while active leaves its display's overlays.
  if (video->state.load() != VL_VIDEO_STOPPED) PublishVideoOverlays();
  FreeVideoPlayer(video->player);
  FreeObjectDataList(state, &video->node.data);
  if (video->frameBitmap) DeleteBitmap(video->frameBitmap);
  video->~vlVideo();
  FreeMemory(video);
}

int AddVideo(vlVMState* state, vlObjectId* id, const char* file, const char* loader, const char* adapter,
             uint32_t hidden, vlVideo** out) {
  if (!IsAutomaticIdRequest(*id)) {
    // Replacing a video closes it; a locked one stays, and so does its id.
    vlVideo* old = nullptr;
    const int found = GetVideoByID(state, *id, VL_VIDEO_CHANGE | VL_VIDEO_NO_LAYER_COPY, &old);
    if (found == ERR_LOCKEDOBJ) return found;
    if (found == 0) CloseVideoRecord(state, old);
  }
  PrintProgressMessage("Loading video %s", file, 1);
  vlVideoHandle* player = nullptr;
  int32_t width = 0, height = 0;
  uint32_t length = 0, seekable = 0;
  uintptr_t loaderRef = 0;
  if (int error = OpenVideoPlayer(file, loader, adapter, &player, &width, &height, &length, &seekable, &loaderRef)) {
    PrintFailed();
    return error;
  }
  void* memory = AllocMemory(sizeof(vlVideo), 1);
  if (!memory) {
    FreeVideoPlayer(player);
    PrintFailed();
    return ERR_MEM;
  }
  auto* v = new (memory) vlVideo{};
  v->node.type = kObjVideo;
  if (IsAutomaticIdRequest(*id)) {
    v->node.idHandle = v;
    id->handle = v;
  } else {
    v->node.idNumber = id->number;
    v->node.idHandle = id->handle;
  }
  v->player = player;
  v->nativeWidth = v->width = v->scaledWidth = width;
  v->nativeHeight = v->height = v->scaledHeight = height;
  v->length = static_cast<int32_t>(length);
  v->seekable = seekable;
  v->volume = 64;
  v->hiddenCopy = hidden;
  v->loader = loaderRef;
  std::snprintf(v->fileName, sizeof v->fileName, "%s", file);
  std::snprintf(v->adapter, sizeof v->adapter, "%s", adapter ? adapter : "");
  int status = 0;
  {
    ListLock lock;
    status = gVideoIndex.Append(ListHead(), &v->node);
  }
  if (status) {
    FreeVideoPlayer(player);
    v->~vlVideo();
    FreeMemory(v);
    PrintFailed();
    return status;
  }
  PrintDone();
  *out = v;
  return 0;
}

int StopVideoPlayback(vlVMState* state, vlVideo* v, int refresh, int forgetLayer) {
  if (!Active(v)) {
    if (forgetLayer) SetVideoPlayerWord(v->player, nullptr);
    return kErrAlreadyStopped;
  }
  vlDisplay* d = v->display;
  StopVideoPlayer(v->player, d, forgetLayer);
  v->state.store(VL_VIDEO_STOPPED);
  // Out of the overlays before the display is redrawn where it was.
  PublishVideoOverlays();
  // A layer keeps showing the last frame.
  if (v->frameBitmap && !v->onLayer) {
    if (auto* node = static_cast<vlSpriteNode*>(v->spriteNode)) node->image = nullptr;
    DeleteBitmap(v->frameBitmap);
    v->frameBitmap = nullptr;
  }
  // The display adapter knew the video's area as an on-screen sprite.
  if (!DisplayDeviceDoes(d, VL_DEVICE_VIDEO_OVERLAY) && RemoveSpriteNodeByOwner(v)) {
    v->spriteNode = nullptr;
    SetVideoPlayerSpriteNode(v->player, nullptr);
  }
  if (refresh && v->loader != kNativeLoader && d && !v->onLayer) RefreshDisplayObject(state, d, 2);
  v->display = nullptr;
  return 0;
}

void StopVideoOfChannel(vlVMState* state, vlObjectId id) {
  vlVideo* v = nullptr;
  if (GetVideoByID(state, id, VL_VIDEO_HIDDEN_TOO, &v) != 0 || !Active(v)) return;
  // A claim made inside a command without its VM: the one that started it.
  if (!state && v->player && v->player->player) state = v->player->player->vm;
  StopVideoPlayback(state, v, state != nullptr, 0);
}

int StartVideoPlayback(vlVMState* state, vlVideo* v, int tagIndex, int32_t x, int32_t y, int useLayer,
                       int32_t channel, vlLayer* layer) {
  if (!v) return ERR_WRONGUSAGE;
  vlDisplay* d = CurrentDisplay();
  if (int error = CheckVideoOutput(d)) return error;
  if (channel != 0 && !CheckScriptVersion(6, 0)) return kErrOldApplet;
  if (!d->layersOn) {
    if (d->displayState == VL_DISPSTATE_CLOSED && !d->clients) return ERR_WRONGUSAGE;
    if (d->bgpic && d->bgpic->transparentColor != -1) return kErrTransparentBGPic;
    if (useLayer || layer) return ERR_NOLAYERS;
  }
  if (vlVideoRecordingMode) return kErrRecording;
  if (v->loader == kNativeLoader) {
    if (useLayer || layer) return kErrVideoLayers;
    if (!DisplayDeviceDoes(d, VL_DEVICE_VIDEO_OVERLAY)) return ERR_DISPLAYADAPTERSUPPORT;
  }
  if (v->state.load() == VL_VIDEO_ENDED) StopVideoPlayback(state, v, !v->onLayer, 0);
  if (useLayer || layer) return StartVideoOnLayer(state, v, tagIndex, x, y, channel, layer);
  if (v->state.load() == VL_VIDEO_PLAYING) return kErrAlreadyPlaying;
  if (v->state.load() == VL_VIDEO_PAUSED) return kErrIsPaused;
  if (v->onLayer) return 1512;
  if (x != INT32_MIN) v->x = FarPosition(ResolvePosX(x, v->width, 0, 0.0));
  if (y != INT32_MIN) v->y = FarPosition(ResolvePosY(y, v->height, 0, 0.0));
  ScaleVideoRect(v, d);
  // With a display adapter the video's area is an on-screen sprite of the
  // current BGPic, which the player is told about.
  if (!DisplayDeviceDoes(d, VL_DEVICE_VIDEO_OVERLAY) && d->bgpic) {
    vlSpriteNode* node = nullptr;
    if (AddSpriteNode(d->bgpic, v->scaledX, v->scaledY, v->scaledWidth, v->scaledHeight, 0, nullptr, v, nullptr,
                      nullptr, &node))
      return ERR_MEM;
    v->spriteNode = node;
    SetVideoPlayerSpriteNode(v->player, node);
  }
  v->display = d;
  v->state.store(VL_VIDEO_PLAYING);
  v->onLayer = 0;
  PublishVideoOverlays();
  int error = StartVideoPlayer(state, v->player, {v->node.idNumber, v->node.idHandle}, d, v->scaledX, v->scaledY,
                               v->scaledWidth, v->scaledHeight, static_cast<uint32_t>(v->volume), v->smooth,
                               channel - 1, nullptr);
  if (error) {
    v->state.store(VL_VIDEO_STOPPED);
    v->onLayer = 0;
    v->display = nullptr;
    // A player that did not start leaves no sprite behind.
    if (v->spriteNode) {
      RemoveSpriteNodeByOwner(v);
      v->spriteNode = nullptr;
      SetVideoPlayerSpriteNode(v->player, nullptr);
    }
    PublishVideoOverlays();
  }
  return error;
}

// The player's refresh thread marks the record ended whenever the stream
// runs out, also while these wait for the player's threads: an end seen
// meanwhile stands, or a script waiting for it would wait for ever.
int PauseVideoPlayback(vlVideo* v) {
  if (v->state.load() != VL_VIDEO_PLAYING) return kErrNotPlaying;
  if (int error = PauseVideoPlayer(v->player)) return error;
  uint32_t playing = VL_VIDEO_PLAYING;
  v->state.compare_exchange_strong(playing, VL_VIDEO_PAUSED);
  return 0;
}

int ResumeVideoPlayback(vlVideo* v) {
  if (v->state.load() != VL_VIDEO_PAUSED) return kErrNotPausedVideo;
  // Playing before the player runs again: its end may come at once.
  v->state.store(VL_VIDEO_PLAYING);
  return ResumeVideoPlayer(v->player);
}

int SeekVideoTo(vlVideo* v, int32_t position) {
  if (!v->seekable) return kErrNoSeek;
  if (static_cast<uint32_t>(position) > static_cast<uint32_t>(v->length - 1)) return kErrSeekRange;
  return SeekVideoPlayer(v->player, static_cast<uint32_t>(position));
}

void ApplyVideoVolume(vlVideo* v, int32_t volume) {
  v->volume = volume < 0 ? 0 : volume > 64 ? 64 : volume;
  if (Active(v)) SetVideoPlayerVolume(v->player, static_cast<uint32_t>(v->volume), -1);
}

vlVideo* FindVideoAtPoint(vlDisplay* d, int32_t x, int32_t y) {
  for (vlVideo* v = gVideo.videos; v; v = reinterpret_cast<vlVideo*>(v->node.next)) {
    if (!Active(v) || v->onLayer || v->display != d) continue;
    if (x >= v->scaledX && y >= v->scaledY && x < v->scaledX + v->scaledWidth && y < v->scaledY + v->scaledHeight)
      return v;
  }
  return nullptr;
}

int IsVideoOnDisplay(vlDisplay* d, int skipLayers, int layersToo) {
  for (vlVideo* v = gVideo.videos; v; v = reinterpret_cast<vlVideo*>(v->node.next)) {
    if (!Active(v) || v->display != d) continue;
    if (v->onLayer ? (layersToo && !skipLayers) : true) return 1;
  }
  return 0;
}

void ApplyVideoRect(vlVideo* v, vlDisplay* d) {
  ScaleVideoRect(v, d);
  // The overlay moves before the display is redrawn where it was.
  PublishVideoOverlays();
  SetVideoPlayerRect(v->player, d, v->scaledX, v->scaledY, v->scaledWidth, v->scaledHeight, v->smooth);
  // The display adapter's on-screen sprite for the video moves with it.
  if (auto* node = static_cast<vlSpriteNode*>(v->spriteNode)) {
    node->x = v->scaledX;
    node->y = v->scaledY;
    node->width = v->scaledWidth;
    node->height = v->scaledHeight;
  }
}

void ScaleVideosToDisplay(vlVMState* state, vlDisplay* d) {
  bool any = false;
  for (vlVideo* v = gVideo.videos; v; v = reinterpret_cast<vlVideo*>(v->node.next)) {
    if (!Active(v) || v->onLayer || v->display != d) continue;
    ApplyVideoRect(v, d);
    any = true;
  }
  if (any) RefreshDisplayObject(state, d, 2);
}

void RedrawDisplayVideos(vlVMState*, vlDisplay* d) {
  for (vlVideo* v = gVideo.videos; v; v = reinterpret_cast<vlVideo*>(v->node.next)) {
    const uint32_t s = v->state.load();
    if ((s == VL_VIDEO_PAUSED || s == VL_VIDEO_ENDED) && !v->onLayer && v->display == d && v->loader != kNativeLoader)
      RedrawVideoPlayerFrame(v->player, d);
  }
}

void StopDisplayVideos(vlVMState* state, vlDisplay* d) {
  for (vlVideo* v = gVideo.videos; v; v = reinterpret_cast<vlVideo*>(v->node.next))
    if (Active(v) && v->display == d) StopVideoPlayback(state, v, 0, 1);
}

void StopAllVideos(vlVMState* state) {
  for (vlVideo* v = gVideo.videos; v; v = reinterpret_cast<vlVideo*>(v->node.next))
    if (Active(v)) StopVideoPlayback(state, v, 0, 1);
}

void FreeVideoLib(vlVMState* state) {
  StopAllVideos(state);
  while (gVideo.videos) FreeVideoRecord(state, gVideo.videos);
  gVideoIndex.Clear();
  if (gVideo.listMutex) FreeMutex(gVideo.listMutex);
  gVideo.listMutex = nullptr;
  gVideo.loaderSelection[0] = 0;
  if (gVideoEndedHook == MarkEnded) gVideoEndedHook = nullptr;
  if (gVideoSurfaceHandler == TakeVideoSurface) gVideoSurfaceHandler = nullptr;
  RemoveVideoLayerHooks();
  PublishVideoOverlays();
  if (gLayerHooks.stopDisplayVideos == HookStopDisplayVideos) gLayerHooks.stopDisplayVideos = gSavedStopDisplayVideos;
  if (gLayerHooks.videoOnDisplay == HookVideoOnDisplay) gLayerHooks.videoOnDisplay = gSavedVideoOnDisplay;
  if (gLayerHooks.redrawDisplayVideos == RedrawDisplayVideos) gLayerHooks.redrawDisplayVideos = gSavedRedrawDisplayVideos;
  if (gLayerHooks.scaleDisplayVideos == ScaleVideosToDisplay) gLayerHooks.scaleDisplayVideos = gSavedScaleDisplayVideos;
}

int RegisterVideoCommands(vlVMState* state);

int OpenVideoLib(vlVMState* state) {
  gVideo.listMutex = CreateMutex();
  if (!gVideo.listMutex) return ERR_SEMAPHORE;
  if (int error = RegisterVideoCommands(state)) return error;
  if (int error = RegisterObjectList(reinterpret_cast<vlObjectNode**>(&gVideo.videos))) return error;
  gVideoEndedHook = MarkEnded;
  gVideoSurfaceHandler = TakeVideoSurface;
  InstallVideoLayerHooks();
  gSavedStopDisplayVideos = gLayerHooks.stopDisplayVideos;
  gSavedVideoOnDisplay = gLayerHooks.videoOnDisplay;
  gLayerHooks.stopDisplayVideos = HookStopDisplayVideos;
  gLayerHooks.videoOnDisplay = HookVideoOnDisplay;
  gSavedRedrawDisplayVideos = gLayerHooks.redrawDisplayVideos;
  gLayerHooks.redrawDisplayVideos = RedrawDisplayVideos;
  gSavedScaleDisplayVideos = gLayerHooks.scaleDisplayVideos;
  gLayerHooks.scaleDisplayVideos = ScaleVideosToDisplay;
  return 0;
}
