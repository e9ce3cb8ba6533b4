// The video library's command handlers and their registration. Depends on
// the library's engines, the player, the brush records and the runtime's
// argument readers.
#include <cstdio>
#include <cstring>

#include "display/display.h"
#include "display/layer_hooks.h"
#include "display/layers/layers.h"
#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "graphics/position.h"
#include "media/sound/sound_library.h"
#include "media/video/video_export.h"
#include "media/video/video_layers.h"
#include "media/video/video_library.h"
#include "media/video/video_player.h"
#include "objects/brushes/brush.h"
#include "runtime/error_vm.h"
#include "runtime/errors.h"
#include "runtime/object_data.h"
#include "runtime/option_readers.h"
#include "runtime/script_call.h"
#include "vm/argreaders.h"
#include "vm/auxlib.h"
#include "vm/convert.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

constexpr int kErrGrabActive = 1456;
constexpr int kErrFrameRange = 1457;
constexpr int kErrNoSeek = 1482;
constexpr int kErrSeekRange = 1233;
constexpr int kErrLayerAttributes = 1517;
// Playing, stopping, seeking, the volume and closing change the video
// itself, so a locked one refuses them; a layer that shows it follows
// (closing leaves it the record), so it gets no copy of its own.
constexpr uint32_t kOperate = VL_VIDEO_CHANGE | VL_VIDEO_NO_LAYER_COPY;

void ReadLoaderOptions(vlVMState* state, int index, const char* defaultLoader, char* loader, size_t loaderSize,
                       char* adapter, size_t adapterSize) {
  std::snprintf(loader, loaderSize, "%s", defaultLoader);
  adapter[0] = 0;
  if (vl::GetTypeAt(state, index) <= 0) return;
  vl::CheckTableArg(state, index);
  GetTableString(state, index, "loader", loader, loaderSize, nullptr);
  GetTableString(state, index, "adapter", adapter, adapterSize, nullptr);
}

int VideoArg(vlVMState* state, int index, uint32_t flags, vlVideo** out) {
  vlObjectId id{};
  GetObjectIDArg(&id, state, index);
  return GetVideoByID(state, id, flags, out);
}

bool Active(const vlVideo* v) { return v->state.load() != VL_VIDEO_STOPPED; }

// The video whose size or place is to change: one playing as a layer
// refuses (and stays the script's); another's layers keep what they show.
int LayoutVideoArg(vlVMState* state, vlVideo** out) {
  if (int error = VideoArg(state, 1, kOperate, out)) return error;
  if ((*out)->onLayer) return kErrLayerAttributes;
  return VideoArg(state, 1, VL_VIDEO_CHANGE, out);
}

// After a new position or size: the player gets the rectangle and the
// display is redrawn where the video was.
void ApplyRect(vlVMState* state, vlVideo* v) {
  if (!Active(v)) return;
  ApplyVideoRect(v, v->display);
  if (v->loader != 1 && v->display) RefreshDisplayObject(state, v->display, 2);
}

int CmdOpenVideo(vlVMState* state) {
  CheckArgs(state, 2, 3, 0, 0);
  vlObjectId id{};
  const int automatic = GetObjectIDArgOpt(&id, state, 1);
  const char* file = GetFileNameArg(state, 2, 0, nullptr);
  char loader[256], adapter[256];
  ReadLoaderOptions(state, 3, gVideo.loaderSelection, loader, sizeof loader, adapter, sizeof adapter);
  vlVideo* v = nullptr;
  if (int error = AddVideo(state, &id, file, loader, adapter, 0, &v)) return error;
  if (!automatic) return 0;
  PushObjectID(state, id);
  return 1;
}

int CmdCloseVideo(vlVMState* state) {
  CheckArgs(state, 1, 1, 0, 0);
  vlVideo* v = nullptr;
  if (int error = VideoArg(state, 1, kOperate, &v)) return error;
  return CloseVideoRecord(state, v);
}

int CmdPlayVideo(vlVMState* state) {
  CheckArgs(state, 1, 4, 0, 0);
  vlVideo* v = nullptr;
  if (int error = VideoArg(state, 1, kOperate, &v)) return error;
  const int32_t x = vl::GetTypeAt(state, 2) > 0 ? vl::CheckIntArg(state, 2) : INT32_MIN;
  const int32_t y = vl::GetTypeAt(state, 3) > 0 ? vl::CheckIntArg(state, 3) : INT32_MIN;
  int32_t useLayer = 0, channel = 0;
  if (vl::GetTypeAt(state, 4) > 0) {
    vl::CheckTableArg(state, 4);
    GetTableInt(state, 4, "uselayer", &useLayer, nullptr);
    GetTableInt(state, 4, "channel", &channel, nullptr);
  }
  return StartVideoPlayback(state, v, 4, x, y, useLayer, channel);
}

int CmdStopVideo(vlVMState* state) {
  CheckArgs(state, 1, 1, 0, 0);
  vlVideo* v = nullptr;
  if (int error = VideoArg(state, 1, kOperate, &v)) return error;
  return StopVideoPlayback(state, v, 1, 0);
}

int CmdPauseVideo(vlVMState* state) {
  CheckArgs(state, 1, 1, 0, 0);
  vlVideo* v = nullptr;
  if (int error = VideoArg(state, 1, kOperate, &v)) return error;
  return PauseVideoPlayback(v);
}

int CmdResumeVideo(vlVMState* state) {
  CheckArgs(state, 1, 1, 0, 0);
  vlVideo* v = nullptr;
  if (int error = VideoArg(state, 1, kOperate, &v)) return error;
  return ResumeVideoPlayback(v);
}

int CmdSeekVideo(vlVMState* state) {
  CheckArgs(state, 2, 2, 0, 0);
  vlVideo* v = nullptr;
  if (int error = VideoArg(state, 1, kOperate, &v)) return error;
  return SeekVideoTo(v, vl::CheckIntArg(state, 2));
}

int CmdIsVideo(vlVMState* state) {
  CheckArgs(state, 1, 2, 0, 0);
  const char* file = GetFileNameArg(state, 1, 0, nullptr);
  char loader[256], adapter[256];
  ReadLoaderOptions(state, 2, "", loader, sizeof loader, adapter, sizeof adapter);
  vl::PushNumber(state, ProbeVideoFile(file, loader, adapter) ? 1 : 0);
  return 1;
}

int CmdSetVideoSize(vlVMState* state) {
  CheckArgs(state, 3, 4, 0, 0);
  vlVideo* v = nullptr;
  if (int error = LayoutVideoArg(state, &v)) return error;
  int32_t width = vl::DoubleToInt32(GetNumberOrPercentArg(state, 2, v->nativeWidth, 1, nullptr));
  int32_t height = vl::DoubleToInt32(GetNumberOrPercentArg(state, 3, v->nativeHeight, 1, nullptr));
  const uint32_t smooth = vl::GetTypeAt(state, 4) > 0 ? (vl::CheckIntArg(state, 4) ? 1 : 0) : 0;
  if (int error = ResolveAspectSize(v->nativeWidth, v->nativeHeight, &width, &height)) return error;
  if (width < 1 || height < 1) return ERR_BADDIMENSIONS;
  if (width == v->width && height == v->height && smooth == v->smooth) return 0;
  v->width = width;
  v->height = height;
  v->smooth = smooth;
  ApplyRect(state, v);
  return 0;
}

int CmdSetVideoPosition(vlVMState* state) {
  CheckArgs(state, 3, 3, 0, 0);
  vlVideo* v = nullptr;
  if (int error = LayoutVideoArg(state, &v)) return error;
  // Held within reach of the display, as every drawn object's place is.
  v->x = FarPosition(ResolvePosX(vl::CheckIntArg(state, 2), v->width, 0, 0.0));
  v->y = FarPosition(ResolvePosY(vl::CheckIntArg(state, 3), v->height, 0, 0.0));
  ApplyRect(state, v);
  return 0;
}

int CmdSetVideoVolume(vlVMState* state) {
  CheckArgs(state, 2, 2, 0, 0);
  vlVideo* v = nullptr;
  if (int error = VideoArg(state, 1, kOperate, &v)) return error;
  ApplyVideoVolume(v, static_cast<int32_t>(GetVolumeArg(state, 2)));
  return 0;
}

int CmdGetVideoFrame(vlVMState* state) {
  CheckArgs(state, 3, 5, 0, 0);
  vlObjectId brushId{};
  const int automatic = GetObjectIDArgOpt(&brushId, state, 1);
  const int32_t position = vl::CheckIntArg(state, 2);
  vlVideo* v = nullptr;
  if (int error = VideoArg(state, 3, 0, &v)) return error;
  const int32_t mode = vl::GetTypeAt(state, 4) > 0 ? vl::CheckIntArg(state, 4) : 0;
  const int32_t preRoll = vl::GetTypeAt(state, 5) > 0 ? vl::CheckIntArg(state, 5) : 15;
  if (Active(v)) return kErrGrabActive;
  if (v->onLayer) return ERR_WRONGUSAGE;
  if (mode == 1) {
    if (!v->seekable) return kErrNoSeek;
    if (position < 0 || position > v->length - 1) return kErrSeekRange;
  } else if (mode == 0) {
    if (position < 1) return kErrFrameRange;
  } else {
    return ERR_WRONGUSAGE;
  }
  if (!automatic) FreeBrushByID(state, brushId, 0);
  vlGrabbedFrame frame{};
  if (int error = DecodeVideoFrameAt(v->player, mode == 0 ? position - 1 : position, mode, preRoll, 0, &frame))
    return error;
  vlBitmap* bitmap = nullptr;
  if (int error = BitmapFromARGB(frame.pixels, -1, frame.width, frame.height, frame.stride, 1, 0, 0, &bitmap,
                                 nullptr, nullptr))
    return error;
  if (int error = AddBrush(&brushId, bitmap, nullptr, nullptr, frame.width, frame.height, frame.width, nullptr, -1,
                           0, nullptr)) {
    DeleteBitmap(bitmap);
    return error;
  }
  if (!automatic) return 0;
  PushObjectID(state, brushId);
  return 1;
}

int CmdIsVideoPlaying(vlVMState* state) {
  CheckArgs(state, 1, 1, 0, 0);
  vlVideo* v = nullptr;
  if (int error = VideoArg(state, 1, 0, &v)) return error;
  vl::PushNumber(state, v->state.load() == VL_VIDEO_PLAYING ? 1 : 0);
  return 1;
}

int CmdForceVideoDriver(vlVMState* state) {
  CheckArgs(state, 1, 1, 0, 0);
  const int32_t driver = vl::CheckIntArg(state, 1);
  if (driver == 0) std::snprintf(gVideo.loaderSelection, sizeof gVideo.loaderSelection, "native");
  else if (driver == 1) std::snprintf(gVideo.loaderSelection, sizeof gVideo.loaderSelection, "inbuilt|plugin");
  return 0;
}

int CmdDumpVideo(vlVMState* state) {
  CheckArgs(state, 1, 5, 0, 0);
  vlVideo* v = nullptr;
  if (int error = VideoArg(state, 1, 0, &v)) return error;
  int32_t x = vl::GetTypeAt(state, 2) > 0 ? vl::CheckIntArg(state, 2) : 0;
  int32_t y = vl::GetTypeAt(state, 3) > 0 ? vl::CheckIntArg(state, 3) : 0;
  const char* prefix = vl::GetTypeAt(state, 4) > 0 ? vl::CheckStringArg(state, 4, nullptr) : nullptr;
  const int32_t format = vl::GetTypeAt(state, 5) > 0 ? vl::CheckIntArg(state, 5) : 0;
  static const char* const kExtensions[] = {"bmp", "png", "jpg", "gif", "iff"};
  if (Active(v) || static_cast<uint32_t>(format) >= 5) return ERR_WRONGUSAGE;
  x = ResolvePosX(x, v->width, 0, 0.0);
  y = ResolvePosY(y, v->height, 0, 0.0);
  return ExportVideoFrames(state, v->player, CurrentDisplay(), x, y, prefix, format, kExtensions[format]);
}

int CmdDisplayVideoFrame(vlVMState* state) {
  CheckArgs(state, 4, 5, 0, 0);
  vlVideo* v = nullptr;
  if (int error = VideoArg(state, 1, kOperate, &v)) return error;
  const int32_t x = vl::CheckIntArg(state, 2), y = vl::CheckIntArg(state, 3);
  const int32_t position = vl::CheckIntArg(state, 4);
  if (int error = CheckVideoOutput(CurrentDisplay())) return error;
  return DrawVideoFrame(state, v, x, y, position, vl::GetTypeAt(state, 5) > 0 ? 5 : 0, -1,
                        VL_ADDLAYER_DISPLAYSCALED, nullptr);
}

const vlCommand kVideoCommands[] = {
    {"OpenVideo", CmdOpenVideo},
    {"CloseVideo", CmdCloseVideo},
    {"PlayVideo", CmdPlayVideo},
    {"StopVideo", CmdStopVideo},
    {"PauseVideo", CmdPauseVideo},
    {"ResumeVideo", CmdResumeVideo},
    {"SeekVideo", CmdSeekVideo},
    {"IsVideo", CmdIsVideo},
    {"SetVideoSize", CmdSetVideoSize},
    {"SetVideoPosition", CmdSetVideoPosition},
    {"SetVideoVolume", CmdSetVideoVolume},
    {"GetVideoFrame", CmdGetVideoFrame},
    {"IsVideoPlaying", CmdIsVideoPlaying},
    {"ForceVideoDriver", CmdForceVideoDriver},
    {"DumpVideo", CmdDumpVideo},
    {"DisplayVideoFrame", CmdDisplayVideoFrame},
    {nullptr, nullptr},
};

}  // namespace

int RegisterVideoCommands(vlVMState* state) {
  vl::PushSlotCopy(state, vl::kGlobalsIndex);
  vl::RegisterCommands(state, nullptr, kVideoCommands, 0);
  vl::SetStackTop(state, -2);
  return RegisterLibrary(kVideoCommands, "video");
}
