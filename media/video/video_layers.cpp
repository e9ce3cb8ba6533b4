// Videos shown as layers: the VIDEO layer source (its picture is the
// video's frame bitmap, which the main thread refreshes from the frames the
// player queues), playing into a new or an existing layer, single frames
// as layers, the layer control operations, the nameless copies a layer
// keeps, and the GetAttribute answers for videos and video layers.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "display/bgpic.h"
#include "display/clients.h"
#include "display/display.h"
#include "display/layers/draw_tags.h"
#include "display/graphics_library/attributes.h"
#include "display/graphics_library/graphics_state.h"
#include "display/layers/layer_users.h"
#include "display/layers/layers.h"
#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "graphics/position.h"
#include "media/video/video_layers.h"
#include "media/video/video_library.h"
#include "media/video/video_player.h"
#include "media/sound/sound_types.h"
#include "runtime/plugin_formats.h"
#include "runtime/errors.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

constexpr uintptr_t kNativeLoader = 1;

vlObjectId IdOf(const vlVideo* v) { return {v->node.idNumber, v->node.idHandle}; }

vlVideo* VideoOfPlayer(const void* player) {
  for (vlVideo* v = gVideo.videos; v; v = reinterpret_cast<vlVideo*>(v->node.next))
    if (v->player && v->player->player == player) return v;
  return nullptr;
}

int VideoOfLayer(vlVMState* state, vlLayer* layer, vlVideo** out) {
  if (!layer) return ERR_WRONGUSAGE;
  return GetVideoByID(state, layer->source, VL_VIDEO_HIDDEN_TOO, out);
}

// A new frame of a video played as a layer: it becomes the layer's picture.
int LayerFrameHandler(vlVMState* state, vlPendingFrame* f) {
  vlVideo* v = VideoOfPlayer(f->video);
  if (!v || !v->frameBitmap || !f->bitmap) return 0;
  vlBGPic* pic = nullptr;
  vlLayer* layer = nullptr;
  if (!FindLayerShowingObject(VL_LAYER_VIDEO, IdOf(v), nullptr, &pic, &layer) || layer->type != VL_LAYER_VIDEO)
    return 0;
  const int32_t w = std::min(f->width, v->frameBitmap->width), h = std::min(f->height, v->frameBitmap->height);
  if (w <= 0 || h <= 0) return 0;
  BltBitmap(f->bitmap, 0, 0, v->frameBitmap, f->x, f->y, w, h);
  vlDisplay* d = v->display ? v->display : GetDisplayOfVideo(IdOf(v));
  RedrawLayerWhereShown(state, d, pic, layer);
  return 0;
}

int VideoLayerBitmaps(vlVMState* state, vlLayer* layer, int32_t, vlBitmap** image, vlBitmap** mask,
                      vlBitmap** alpha, int32_t* width, int32_t* height, uint32_t*) {
  vlVideo* v = nullptr;
  if (int error = VideoOfLayer(state, layer, &v)) return error;
  if (!v->frameBitmap) return ERR_WRONGUSAGE;
  *image = v->frameBitmap;
  *mask = *alpha = nullptr;
  *width = v->frameBitmap->width;
  *height = v->frameBitmap->height;
  return 0;
}

int VideoLayerControl(vlVMState* state, vlLayer* layer, int32_t op, double argument) {
  vlVideo* v = nullptr;
  if (int error = VideoOfLayer(state, layer, &v)) return error;
  switch (op) {
    case VL_LAYERVIDEO_PLAY:
      return StartVideoPlayback(state, v, 0, INT32_MIN, INT32_MIN, 0, 0, layer);
    case VL_LAYERVIDEO_STOP:
      return StopVideoPlayback(state, v, 1, 0);
    case VL_LAYERVIDEO_PAUSE:
      return PauseVideoPlayback(v);
    case VL_LAYERVIDEO_RESUME:
      return ResumeVideoPlayback(v);
    case VL_LAYERVIDEO_SEEK:
      return SeekVideoTo(v, static_cast<int32_t>(argument));
    case VL_LAYERVIDEO_VOLUME:
      ApplyVideoVolume(v, static_cast<int32_t>(argument));
      return 0;
    default:
      return ERR_WRONGUSAGE;
  }
}

// InsertLayer of a video: the frame it stands at (the first of one that
// cannot seek) through the frame drawing of DisplayVideoFrame, as a new
// layer at the list position.
int InsertVideoLayer(vlVMState* state, vlObjectId id, int32_t x, int32_t y, int32_t position, uint32_t flags,
                     vlLayer** out) {
  vlVideo* v = nullptr;
  if (int error = GetVideoByID(state, id, 0, &v)) return error;
  int32_t at = 0;
  if (v->seekable && v->length > 0) {
    // An ended video stands at its end: its last frame is the one shown.
    const uint32_t now = GetVideoPosition(v->player);
    at = now >= uint32_t(v->length) ? v->length - 1 : int32_t(now);
  }
  return DrawVideoFrame(state, v, x, y, at, 0, position, flags, out);
}

vlLayerSource MakeVideoLayerSource() {
  vlLayerSource s{};
  s.getBitmaps = VideoLayerBitmaps;
  s.insert = InsertVideoLayer;
  s.purgeOrphans = FreeOrphanedVideos;
  s.control = VideoLayerControl;
  return s;
}
const vlLayerSource kVideoLayerSource = MakeVideoLayerSource();

int32_t CurrentFrame(vlVideo* v) {
  const uint32_t frames = GetVideoFrameCount(v->player);
  if (!frames || v->length <= 0) return 0;
  const uint64_t frame = uint64_t{GetVideoPosition(v->player)} * frames / uint32_t(v->length) + 1;
  return static_cast<int32_t>(frame > frames ? frames : frame);
}

const char* LoaderName(const vlVideo* v) {
  if (v->loader == 0) return "inbuilt";
  if (v->loader == kNativeLoader) return "native";
  return GetLoaderName(reinterpret_cast<const vlPluginInfo*>(v->loader));
}

// The answers video objects and video layers share; -1 when not one of them.
int CommonAttribute(vlVMState* L, vlVideo* v, int32_t attr) {
  switch (attr) {
    case VL_ATTRNUMFRAMES: vl::PushNumber(L, GetVideoFrameCount(v->player)); return 1;
    case VL_ATTRDURATION: vl::PushNumber(L, v->length); return 1;
    case VL_ATTRPOSITION: vl::PushNumber(L, GetVideoPosition(v->player)); return 1;
    case VL_ATTRFORMAT: vl::PushCString(L, GetVideoFormatValue(v->player)); return 1;
    case VL_ATTRCANSEEK: vl::PushNumber(L, v->seekable); return 1;
    case VL_ATTRPLAYING: vl::PushNumber(L, v->state.load() == VL_VIDEO_PLAYING); return 1;
    case VL_ATTRPAUSED: vl::PushNumber(L, v->state.load() == VL_VIDEO_PAUSED); return 1;
    default: return -1;
  }
}

int VideoAttribute(vlVMState* L, vlObjectId id, int32_t attr) {
  vlVideo* v = nullptr;
  if (int error = GetVideoByID(L, id, 0, &v)) return error;
  const int common = CommonAttribute(L, v, attr);
  if (common >= 0) return common;
  switch (attr) {
    case VL_ATTRWIDTH: vl::PushNumber(L, v->width); return 1;
    case VL_ATTRHEIGHT: vl::PushNumber(L, v->height); return 1;
    case VL_ATTRSCALEMODE: vl::PushNumber(L, v->smooth); return 1;
    case VL_ATTRSCALEWIDTH: vl::PushNumber(L, v->scaledWidth); return 1;
    case VL_ATTRSCALEHEIGHT: vl::PushNumber(L, v->scaledHeight); return 1;
    case VL_ATTRDRIVER: vl::PushNumber(L, v->loader == kNativeLoader ? 0 : 1); return 1;
    case VL_ATTRLOADER: vl::PushCString(L, LoaderName(v)); return 1;
    default: return ERR_UNKNOWNATTR;
  }
}

int VideoLayerAttribute(vlVMState* L, vlLayer* layer, int32_t attr) {
  vlVideo* v = nullptr;
  if (int error = VideoOfLayer(L, layer, &v)) return error;
  if (attr == VL_ATTRCURFRAME) {
    vl::PushNumber(L, CurrentFrame(v));
    return 1;
  }
  const int common = CommonAttribute(L, v, attr);
  return common >= 0 ? common : ERR_UNKNOWNATTR;
}

// A nameless copy of the video (same file, loader and adapter) for a
// second layer or for a layer while the original plays elsewhere.
int OpenHiddenCopy(vlVMState* state, vlVideo* v, vlVideo** out) {
  vlObjectId id{0, reinterpret_cast<void*>(uintptr_t{1})};
  if (int error = AddVideo(state, &id, v->fileName, LoaderName(v), v->adapter, 1, out)) return error;
  (*out)->volume = v->volume;
  return 0;
}

bool ShownByLayer(const vlVideo* v) { return FindLayerShowingObject(VL_LAYER_VIDEO, IdOf(v), nullptr, nullptr, nullptr); }

// A copy replaces a video that is busy elsewhere or already a layer's.
int VideoForNewLayer(vlVMState* state, vlVideo* v, vlVideo** out) {
  const uint32_t s = v->state.load();
  *out = v;
  if (s == VL_VIDEO_PLAYING || s == VL_VIDEO_PAUSED || ShownByLayer(v)) return OpenHiddenCopy(state, v, out);
  return 0;
}

void DropCopy(vlVMState* state, vlVideo* v) {
  if (v->hiddenCopy && !ShownByLayer(v)) FreeVideoRecord(state, v);
}

// Adds a VIDEO layer showing the video's frame bitmap at x, y (position
// constants allowed) with the draw tags at tagIndex, at list position
// (-1 on top) with the AddLayer flags.
int AddVideoLayer(vlVMState* state, vlVideo* v, int32_t x, int32_t y, int tagIndex, int32_t position, uint32_t flags,
                  vlLayer** out) {
  const int32_t w = v->frameBitmap->width, h = v->frameBitmap->height;
  vlDrawTags tags;
  vlLayerTransform& t = tags.transform;
  if (int error = ParseDrawTags(state, tagIndex, w, h, w, h, 0, &t, &tags, VL_TAGS_INIT)) return error;
  x = ResolvePosX(x, w, 0, t.anchorX);
  y = ResolvePosY(y, h, 0, t.anchorY);
  vlLayerGeometry* g = NewLayerGeometry();
  if (!g) return ERR_MEM;
  g->x = x, g->y = y, g->width = w, g->height = h;
  const vlObjectId id = IdOf(v);
  return AddLayer(state, VL_LAYER_VIDEO, &id, x, y, w, h, &t, &tags.form, nullptr, nullptr, nullptr, g, position,
                  flags, out);
}

void BindPlayerToLayer(vlVideo* v, vlLayer* layer) {
  SetVideoPlayerWord(v->player, layer);
  SetVideoPlayerId(v->player, IdOf(v));
}

// The layers' copy: a fresh player of the same file for the video, whose
// own player goes on with the layers.
int CopyVideoForLayers(vlVMState* state, void* record, vlObjectId*, void** copy) {
  auto* v = static_cast<vlVideo*>(record);
  vlVideo* made = nullptr;
  if (int error = OpenHiddenCopy(state, v, &made)) return error;
  MoveVideoPlayback(v, made);
  *copy = made;
  return 0;
}

}  // namespace

int StartVideoOnLayer(vlVMState* state, vlVideo* v, int tagIndex, int32_t x, int32_t y, int32_t channel,
                      vlLayer* layer) {
  vlDisplay* d = CurrentDisplay();
  if (layer) {
    if (v->state.load() == VL_VIDEO_PLAYING) return kErrVideoPlaying;
    if (v->state.load() == VL_VIDEO_PAUSED) return kErrVideoPaused;
    if (!v->frameBitmap) return ERR_WRONGUSAGE;
  } else {
    vlVideo* copy = nullptr;
    if (int error = VideoForNewLayer(state, v, &copy)) return error;
    v = copy;
    if (!v->frameBitmap || v->frameBitmap->width != v->nativeWidth || v->frameBitmap->height != v->nativeHeight) {
      if (v->frameBitmap) DeleteBitmap(v->frameBitmap);
      v->frameBitmap = NewBitmap(v->nativeWidth, v->nativeHeight, 0, nullptr);
      if (!v->frameBitmap) {
        DropCopy(state, v);
        return ERR_BITMAP;
      }
    }
    FillBitmapRect(v->frameBitmap, 0, 0, v->nativeWidth, v->nativeHeight, 0);
    v->onLayer = 1;
    if (int error = AddVideoLayer(state, v, x == INT32_MIN ? 0 : x, y == INT32_MIN ? 0 : y, tagIndex, -1,
                                  VL_ADDLAYER_DISPLAYSCALED, &layer)) {
      v->onLayer = 0;
      DropCopy(state, v);
      return error;
    }
  }
  v->display = d;
  v->state.store(VL_VIDEO_PLAYING);
  v->onLayer = 1;
  BindPlayerToLayer(v, layer);
  const int error = StartVideoPlayer(state, v->player, IdOf(v), d, 0, 0, v->nativeWidth, v->nativeHeight,
                                     static_cast<uint32_t>(v->volume), 0, channel - 1, layer);
  if (error) {
    v->state.store(VL_VIDEO_STOPPED);
    v->display = nullptr;
    // The layer stays with the picture it had; a video no layer shows any
    // more is off layers again.
    v->onLayer = ShownByLayer(v) ? 1 : 0;
  }
  return error;
}

int DrawVideoFrame(vlVMState* state, vlVideo* v, int32_t x, int32_t y, int32_t position, int tagIndex,
                   int32_t listPosition, uint32_t flags, vlLayer** out) {
  vlDisplay* d = CurrentDisplay();
  if (!d || !d->layersOn) return ERR_NOLAYERS;
  if (v->loader == kNativeLoader) return kErrVideoLayersNative;
  if (position != 0) {
    if (!v->seekable) return kErrNoSeek;
    if (static_cast<uint32_t>(position) > static_cast<uint32_t>(v->length - 1)) return kErrSeekRange;
  }
  if (v->state.load() == VL_VIDEO_ENDED) StopVideoPlayback(state, v, !v->onLayer, 0);
  vlVideo* copy = nullptr;
  if (int error = VideoForNewLayer(state, v, &copy)) return error;
  v = copy;
  // The first frame needs no seek, so non-seekable videos show it too.
  vlGrabbedFrame frame{};
  int error = position == 0 ? DecodeVideoFrameAt(v->player, 0, 0, 15, 0, &frame)
                            : DecodeVideoFrameAt(v->player, position, 1, 15, 0, &frame);
  vlBitmap* bitmap = nullptr;
  if (!error)
    error = BitmapFromARGB(frame.pixels, -1, frame.width, frame.height, frame.stride, 0, 0, 0, &bitmap, nullptr,
                           nullptr);
  if (error) {
    DropCopy(state, v);
    return error;
  }
  if (v->frameBitmap) DeleteBitmap(v->frameBitmap);
  v->frameBitmap = bitmap;
  v->onLayer = 1;
  v->state.store(VL_VIDEO_STOPPED);
  vlLayer* layer = nullptr;
  if ((error = AddVideoLayer(state, v, x, y, tagIndex, listPosition, flags, &layer))) {
    v->onLayer = ShownByLayer(v) ? 1 : 0;
    DropCopy(state, v);
    return error;
  }
  BindPlayerToLayer(v, layer);
  if (out) *out = layer;
  return 0;
}

void FreeOrphanedVideos(vlVMState* state) {
  vlVideo* next = nullptr;
  for (vlVideo* v = gVideo.videos; v; v = next) {
    next = reinterpret_cast<vlVideo*>(v->node.next);
    if (!v->onLayer && !v->hiddenCopy) continue;
    if (ShownByLayer(v)) continue;
    if (v->state.load() != VL_VIDEO_STOPPED)
      StopVideoPlayback(state, v, 0, 1);
    else
      SetVideoPlayerWord(v->player, nullptr);
    v->onLayer = 0;
    if (v->frameBitmap) DeleteBitmap(v->frameBitmap);
    v->frameBitmap = nullptr;
    if (v->hiddenCopy) FreeVideoRecord(state, v);
  }
}

int IsLayerVideoPlaying(vlVMState* state, vlLayer* layer) {
  vlVideo* v = nullptr;
  if (!layer || layer->type != VL_LAYER_VIDEO || VideoOfLayer(state, layer, &v)) return 0;
  return v->state.load() == VL_VIDEO_PLAYING;
}

int GiveVideoLayersCopy(vlVMState* state, vlVideo* v) {
  return ForObjectLayerUser(state, VL_LAYER_VIDEO, IdOf(v), CopyVideoForLayers, v, nullptr);
}

void RebindVideoLayers(vlVideo* v, vlObjectId oldId) { RebindLayersToRecord(VL_LAYER_VIDEO, oldId, v); }

void InstallVideoLayerHooks() {
  RegisterLayerSource(VL_LAYER_VIDEO, &kVideoLayerSource);
  RegisterOrphanPurger(16, FreeOrphanedVideos);
  gLayerFrameHandler = LayerFrameHandler;
  gLayerVideoPlaying = IsLayerVideoPlaying;
  SetAttributeHandler(kObjVideo, VideoAttribute);
  SetLayerAttributeHandler(VL_LAYER_VIDEO, VideoLayerAttribute);
}

void RemoveVideoLayerHooks() {
  if (FindLayerSource(VL_LAYER_VIDEO) == &kVideoLayerSource) RegisterLayerSource(VL_LAYER_VIDEO, nullptr);
  RegisterOrphanPurger(16, nullptr);
  if (gLayerFrameHandler == LayerFrameHandler) gLayerFrameHandler = nullptr;
  if (gLayerVideoPlaying == IsLayerVideoPlaying) gLayerVideoPlaying = nullptr;
  SetAttributeHandler(kObjVideo, nullptr);
  SetLayerAttributeHandler(VL_LAYER_VIDEO, nullptr);
}
