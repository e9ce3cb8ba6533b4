// GetAttribute of samples and music objects.
#include "display/graphics_library/attributes.h"
#include "display/graphics_library/graphics_state.h"
#include "media/sound/audio_channels.h"
#include "media/sound/sound_library.h"
#include "media/sound/sound_types.h"
#include "abi/plugin_abi.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

const char* LoaderName(const vlPluginInfo* loader) {
  if (!loader) return "inbuilt";
  if (loader == reinterpret_cast<const vlPluginInfo*>(1)) return "native";
  return loader->name ? loader->name : "";
}

int SampleAttribute(vlVMState* L, vlObjectId id, int32_t attr) {
  vlSample* s = nullptr;
  if (int e = GetSampleByID(id, &s)) return e;
  uint32_t perFrame = GetBytesPerFrame(s->format);
  double frames = perFrame ? s->bytes / perFrame : 0;
  switch (attr) {
    case VL_ATTRTYPE: vl::PushNumber(L, s->format < 6 ? kInternalToScriptFormat[s->format] : 0); break;
    case VL_ATTRNUMFRAMES: vl::PushNumber(L, frames); break;
    case VL_ATTRDURATION: vl::PushNumber(L, s->pitch ? static_cast<int64_t>(frames * 1000 / s->pitch) : 0); break;
    case VL_ATTRPITCH: vl::PushNumber(L, s->pitch); break;
    case VL_ATTRPLAYING:
      StopExpiredChannels();
      vl::PushBoolean(L, IsAudioStarted() && IsSampleInUse(s->data));
      break;
    case VL_ATTRLOADER: vl::PushCString(L, LoaderName(s->loader)); break;
    default: return ERR_UNKNOWNATTR;
  }
  return 1;
}

int MusicAttribute(vlVMState* L, vlObjectId id, int32_t attr) {
  vlMusic* m = nullptr;
  if (int e = GetMusicByID(id, &m)) return e;
  auto* stream = m->sourceKind == VL_SOURCE_STREAM ? static_cast<vlSoundStream*>(m->source) : nullptr;
  switch (attr) {
    case VL_ATTRTYPE: vl::PushNumber(L, m->sourceKind == VL_SOURCE_MODULE ? 1 : 0); break;
    case VL_ATTRDURATION:
      vl::PushNumber(L, stream && stream->frames >= 0 && stream->rate
                            ? static_cast<double>(stream->frames * 1000 / stream->rate)
                            : -1);
      break;
    case VL_ATTRPITCH: vl::PushNumber(L, stream ? stream->rate : 0); break;
    case VL_ATTRFORMAT:
      vl::PushCString(L, m->sourceKind == VL_SOURCE_MODULE ? "Protracker module"
                         : !stream                         ? ""
                         : stream->kind == VL_STREAM_WAVE  ? "RIFF WAVE"
                         : stream->kind == VL_STREAM_8SVX  ? "IFF 8SVX"
                         : stream->kind == VL_STREAM_16SV  ? "IFF 16SV"
                                                           : "PCM");
      break;
    case VL_ATTRBITRATE:
      vl::PushNumber(L, !stream ? 0 : stream->bitRate ? stream->bitRate : stream->rate * stream->bytesPerFrame * 8);
      break;
    case VL_ATTRCANSEEK: vl::PushBoolean(L, m->seekable != 0); break;
    case VL_ATTRNUMSUBSONGS: vl::PushNumber(L, m->subsongs); break;
    case VL_ATTRCURSUBSONG: vl::PushNumber(L, m->subsong); break;
    case VL_ATTRPLAYING:
      StopExpiredChannels();
      vl::PushBoolean(L, m->playing == VL_MUSIC_PLAYING);
      break;
    case VL_ATTRPAUSED: vl::PushBoolean(L, m->playing == VL_MUSIC_PAUSED); break;
    case VL_ATTRLOADER: vl::PushCString(L, LoaderName(m->loader)); break;
    default: return ERR_UNKNOWNATTR;
  }
  return 1;
}

}  // namespace

void InstallSoundAttributes() {
  SetAttributeHandler(VL_OBJ_SAMPLE, SampleAttribute);
  SetAttributeHandler(kObjMusic, MusicAttribute);
}
