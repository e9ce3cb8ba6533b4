// The music commands: opening, playing, pausing, resuming, seeking and
// closing music streams and modules, callback-fed music, and the module
// position commands. Depends on the channel layer, the streams, the event
// dispatcher's fill callback and the runtime's argument readers.
#include <cstring>

#include "media/sound/audio_channels.h"
#include "media/sound/protracker.h"
#include "media/sound/sound_data.h"
#include "media/sound/sound_library.h"
#include "media/sound/sound_stream.h"
#include "display/events/event_dispatch.h"
#include "runtime/os.h"
#include "runtime/console.h"
#include "runtime/error_vm.h"
#include "runtime/errors.h"
#include "runtime/plugin_formats.h"
#include "runtime/object_data.h"
#include "runtime/option_readers.h"
#include "runtime/progress_message.h"
#include "runtime/script_call.h"
#include "runtime/script_version.h"
#include "vm/text.h"
#include "vm/argreaders.h"
#include "vm/auxlib.h"
#include "vm/convert.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

void FreeMusicRecordOf(vlVMState* state, vlMusic* music);

namespace {

// A fill handler runs inside the pump that feeds the playing musics: it may
// feed them, but starting, stopping or seeking one there is refused.
bool InMusicCallback() { return gMusicCallbackDepth > 0 || gSound.inCallback; }

void ReadLoaderOptions(vlVMState* state, int index, char* loader, char* adapter) {
  loader[0] = adapter[0] = 0;
  if (vl::GetTypeAt(state, index) <= 0) return;
  vl::CheckTableArg(state, index);
  GetTableString(state, index, "loader", loader, 256, nullptr);
  GetTableString(state, index, "adapter", adapter, 256, nullptr);
}

void UnlinkMusic(vlMusic* music) {
  UnlinkMusicNode(music);
  if (gSound.currentMusic == music) gSound.currentMusic = nullptr;
  if (gSound.pausedMusic == music) gSound.pausedMusic = nullptr;
}

void CloseMusicById(vlVMState* state, vlObjectId id) {
  vlMusic* music = nullptr;
  if (GetMusicByID(id, &music) != 0) return;
  UnlinkMusic(music);
  FreeMusicRecordOf(state, music);
}

int NewMusicRecord(vlObjectId id, vlMusic** out) {
  auto* music = static_cast<vlMusic*>(AllocMemory(sizeof(vlMusic), 1));
  if (!music) return ERR_MEM;
  music->node.type = kObjMusic;
  if (IsAutomaticIdRequest(id)) {
    music->node.idHandle = music;
  } else {
    music->node.idNumber = id.number;
    music->node.idHandle = id.handle;
  }
  music->volume = 64;
  music->times = 1;
  music->loop = 1;
  music->subsong = 1;
  music->subsongs = 1;
  *out = music;
  return 0;
}

// Ends a music's playback (playing or paused) and rewinds its source.
void StopMusicRecord(vlMusic* music) {
  if (music->playing == VL_MUSIC_PLAYING) {
    StopMusicChannel(music->sourceKind, music->source, 0, nullptr, nullptr);
  } else if (music->playing == VL_MUSIC_PAUSED) {
    if (music->sourceKind == VL_SOURCE_MODULE) {
      RewindModuleState(static_cast<vlModuleState*>(music->source));
    } else {
      auto* s = static_cast<vlSoundStream*>(music->source);
      SeekSoundStream(s, 0);
      s->storedMillis = 0;
      if (s->kind == VL_STREAM_CALLBACK) s->restart = 1;
    }
  }
  music->playing = VL_MUSIC_STOPPED;
  music->loop = 1;
  music->pausedFrame = 0;
  music->channel = 0;
  if (gSound.currentMusic == music) gSound.currentMusic = nullptr;
  if (gSound.pausedMusic == music) gSound.pausedMusic = nullptr;
}

int RunFill(vlVMState* state, vlMusic* music, uint32_t frames) {
  auto* s = static_cast<vlSoundStream*>(music->source);
  return RunFillMusicBuffer(state, nullptr, MusicId(music), frames, uint32_t(s->callback->framesQueued), 1);
}

int StartMusic(vlVMState* state, vlMusic* music) {
  if (music->callbackFed) {
    auto* s = static_cast<vlSoundStream*>(music->source);
    if (s->restart) {
      EmptyCallbackQueue(s);
      s->restart = 0;
      if (int error = RunFill(state, music, s->rate * 2)) return error;
    }
  }
  int error = PlayMusicOnChannel(state, music, music->times, music->loop, music->volume, int(music->channel) - 1);
  if (error) return error;
  music->playing = VL_MUSIC_PLAYING;
  gSound.currentMusic = music;
  return 0;
}

int MusicArg(vlVMState* state, int index, vlMusic** out, vlMusic* fallback) {
  if (vl::GetTypeAt(state, index) <= 0) {
    if (!fallback) return ERR_WRONGUSAGE;
    *out = fallback;
    return 0;
  }
  vlObjectId id{};
  GetObjectIDArg(&id, state, index);
  return GetMusicByID(id, out);
}

int WaitModulePosition(vlVMState* state, int op) {
  CheckArgs(state, 1, 1, 0, 0);
  int32_t target = vl::CheckIntArg(state, 1);
  for (;;) {
    vlMusic* music = gSound.currentMusic;
    // A music that no channel plays (stopped, ended, or not a module) never
    // reaches the position: the wait ends rather than hangs.
    const int reached = music ? ModulePositionOp(music, op, 0) : -1;
    if (reached < 0 || target <= reached) return 0;
    if (int result = PumpAndSleep(state)) return result;
  }
}

int PushModulePosition(vlVMState* state, int op) {
  CheckArgs(state, 0, 0, 0, 0);
  vl::PushNumber(state, gSound.currentMusic ? ModulePositionOp(gSound.currentMusic, op, 0) : -1);
  return 1;
}

}  // namespace

int CmdOpenMusic(vlVMState* state) {
  CheckArgs(state, 2, 3, 0, 0);
  vlObjectId id{};
  int automatic = GetObjectIDArgOpt(&id, state, 1);
  const char* file = GetFileNameArg(state, 2, 0, nullptr);
  char loader[256], adapter[256];
  ReadLoaderOptions(state, 3, loader, adapter);
  if (!automatic) CloseMusicById(state, id);
  // Without a device the music is opened all the same: playing it then
  // does nothing, and its attributes still answer.
  EnsureAudioOutput(state);
  PrintProgressMessage("Loading music %s", file, 1);
  uint32_t kind = 0, seekable = 0, subsongs = 1;
  void* source = nullptr;
  const vlPluginInfo* loaderRef = nullptr;
  if (int error = OpenMusicSource(file, loader, adapter, 0, &kind, &source, &seekable, &subsongs, &loaderRef)) {
    return error;
  }
  vlMusic* music = nullptr;
  size_t length = std::strlen(file);
  char* name = static_cast<char*>(AllocMemory(length + 1, 0));
  if (!name || NewMusicRecord(id, &music) != 0) {
    FreeMemory(name);
    CloseMusicSource(kind, source);
    return ERR_MEM;
  }
  std::memcpy(name, file, length + 1);
  music->fileName = name;
  music->source = source;
  music->sourceKind = kind;
  music->seekable = seekable;
  music->subsongs = subsongs;
  music->loader = loaderRef;
  std::snprintf(music->adapter, sizeof music->adapter, "%s", adapter);
  if (LinkMusic(music)) {
    FreeMusicRecordOf(state, music);
    return ERR_MEM;
  }
  PrintDone();
  if (!automatic) return 0;
  PushObjectID(state, MusicId(music));
  return 1;
}

int CmdCloseMusic(vlVMState* state) {
  CheckArgs(state, 1, 1, 0, 0);
  vlObjectId id{};
  GetObjectIDArg(&id, state, 1);
  vlMusic* music = nullptr;
  if (int error = GetMusicByID(id, &music)) return error;
  if (InMusicCallback() && music->callbackFed && music->playing == VL_MUSIC_PLAYING) return kErrInCallback;
  UnlinkMusic(music);
  FreeMusicRecordOf(state, music);
  return 0;
}

int CmdPlayMusic(vlVMState* state) {
  CheckArgs(state, 1, 2, 0, 0);
  if (InMusicCallback()) return kErrInCallback;
  vlObjectId id{};
  GetObjectIDArg(&id, state, 1);
  vlMusic* music = nullptr;
  if (int error = GetMusicByID(id, &music)) return error;
  uint32_t volume = music->volume, times = 1, channel = 0;
  int type = vl::GetTypeAt(state, 2);
  if (type == 3) {
    int32_t t = vl::CheckIntArg(state, 2);
    times = t < 0 ? 1 : uint32_t(t);
  } else if (type > 0) {
    vl::CheckTableArg(state, 2);
    int32_t v;
    GetVolumeField(state, 2, &volume);
    if (GetTableInt(state, 2, "times", &v, nullptr)) times = v < 0 ? 1 : uint32_t(v);
    if (GetTableInt(state, 2, "channel", &v, nullptr)) channel = v < 0 ? 0 : uint32_t(v);
  }
  if (music->playing == VL_MUSIC_PLAYING) return kErrMusicPlaying;
  if (music->playing == VL_MUSIC_PAUSED) return kErrMusicPaused;
  if (gSound.noSound || EnsureAudioOutput(state)) return 0;
  if ((vlLegacySingleMusic || !CheckScriptVersion(6, 0)) && gSound.currentMusic &&
      gSound.currentMusic != music) {
    StopMusicRecord(gSound.currentMusic);
  }
  music->volume = volume;
  music->times = times;
  music->channel = channel;
  music->loop = 1;
  return StartMusic(state, music);
}

int CmdStopMusic(vlVMState* state) {
  CheckArgs(state, 0, 1, 0, 0);
  if (InMusicCallback()) return kErrInCallback;
  vlMusic* music = nullptr;
  if (int error = MusicArg(state, 1, &music, gSound.currentMusic)) return error;
  StopMusicRecord(music);
  return 0;
}

int CmdPauseMusic(vlVMState* state) {
  CheckArgs(state, 0, 1, 0, 0);
  if (InMusicCallback()) return kErrInCallback;
  vlMusic* music = nullptr;
  if (int error = MusicArg(state, 1, &music, gSound.currentMusic)) return error;
  if (music->playing != VL_MUSIC_PLAYING) return 0;
  uint32_t loop = music->loop, position = 0;
  StopMusicChannel(music->sourceKind, music->source, 1, &loop, &position);
  music->loop = loop;
  music->pausedFrame = position;
  music->playing = VL_MUSIC_PAUSED;
  gSound.pausedMusic = music;
  return 0;
}

int CmdResumeMusic(vlVMState* state) {
  CheckArgs(state, 0, 1, 0, 0);
  if (InMusicCallback()) return kErrInCallback;
  vlMusic* music = nullptr;
  if (int error = MusicArg(state, 1, &music, gSound.pausedMusic)) return error;
  // Nothing plays without a device, so nothing was paused either.
  if (gSound.noSound) return 0;
  if (music->playing != VL_MUSIC_PAUSED) return kErrNotPaused;
  if (music->sourceKind == VL_SOURCE_STREAM) {
    auto* s = static_cast<vlSoundStream*>(music->source);
    int64_t stored = s->storedMillis;
    SeekSoundStream(s, music->pausedFrame);
    s->storedMillis = stored;
  }
  if (gSound.pausedMusic == music) gSound.pausedMusic = nullptr;
  music->playing = VL_MUSIC_STOPPED;
  int error = StartMusic(state, music);
  if (error) music->playing = VL_MUSIC_PAUSED;
  return error;
}

int CmdSeekMusic(vlVMState* state) {
  CheckArgs(state, 2, 2, 0, 0);
  if (InMusicCallback()) return kErrInCallback;
  vlObjectId id{};
  GetObjectIDArg(&id, state, 1);
  int32_t millis = vl::CheckIntArg(state, 2);
  if (gSound.noSound) return 0;
  vlMusic* music = nullptr;
  if (int error = GetMusicByID(id, &music)) return error;
  if (!music->seekable || music->sourceKind != VL_SOURCE_STREAM) return kErrNoSeek;
  auto* s = static_cast<vlSoundStream*>(music->source);
  int64_t duration = GetMusicAttribute(VL_MATTR_DURATION, music->sourceKind, s, nullptr);
  if (millis < 0 || millis >= duration) return kErrSeekRange;
  bool playing = music->playing == VL_MUSIC_PLAYING;
  if (playing) {
    uint32_t loop = music->loop, position = 0;
    StopMusicChannel(music->sourceKind, s, 1, &loop, &position);
    music->loop = loop;
  }
  const int64_t frame = int64_t(s->rate) * millis / 1000;
  SeekSoundStream(s, frame);
  // A paused music resumes where it was sought to.
  if (music->playing == VL_MUSIC_PAUSED) music->pausedFrame = uint32_t(frame);
  if (playing) {
    music->playing = VL_MUSIC_STOPPED;
    return StartMusic(state, music);
  }
  return 0;
}

int CmdSetMusicVolume(vlVMState* state) {
  CheckArgs(state, 2, 2, 0, 0);
  vlObjectId id{};
  GetObjectIDArg(&id, state, 1);
  uint32_t volume = GetVolumeArg(state, 2);
  vlMusic* music = nullptr;
  if (int error = GetMusicByID(id, &music)) return error;
  music->volume = volume;
  if (IsAudioStarted()) SetMusicChannelVolume(music->sourceKind, music->source, volume, -1);
  return 0;
}

int CmdIsMusic(vlVMState* state) {
  CheckArgs(state, 1, 2, 0, 0);
  const char* file = GetFileNameArg(state, 1, 0, nullptr);
  char loader[256], adapter[256];
  ReadLoaderOptions(state, 2, loader, adapter);
  vlSoundStream* s = nullptr;
  if (OpenSoundStream(file, loader, adapter, 0, 1, &s, nullptr) == 0) {
    vl::PushBoolean(state, 1);
    vl::PushString(state, GetStreamFormatName(s));
    CloseSoundStream(s);
  } else {
    vl::PushBoolean(state, 0);
    vl::PushString(state, "Unknown");
  }
  return 2;
}

int CmdIsMusicPlaying(vlVMState* state) {
  CheckArgs(state, 1, 1, 0, 0);
  vlObjectId id{};
  GetObjectIDArg(&id, state, 1);
  vlMusic* music = nullptr;
  if (int error = GetMusicByID(id, &music)) return error;
  StopExpiredChannels();
  vl::PushBoolean(state, music->playing == VL_MUSIC_PLAYING);
  return 1;
}

int CmdCreateMusic(vlVMState* state) {
  CheckArgs(state, 3, 3, 0, 0);
  vlObjectId id{};
  int automatic = GetObjectIDArgOpt(&id, state, 1);
  // Read whole: a rate past the int range is too high, never "too low".
  const double rateArg = vl::CheckNumberArg(state, 2);
  int32_t scriptFormat = vl::CheckIntArg(state, 3);
  if (InMusicCallback()) return kErrInCallback;
  if (gGlobalHandlers[10].functionRef < 0) return kErrNoFillHandler;
  if (scriptFormat < 0 || scriptFormat > 3) return ERR_WRONGUSAGE;
  if (rateArg < kMinPitch) return kErrPitchLow;
  // The stream's buffer holds two seconds at this rate.
  if (!(rateArg < 4294967296.0) || !IsPlayableRate(uint64_t(rateArg))) return ERR_WRONGUSAGE;
  const auto rate = static_cast<uint32_t>(rateArg);
  if (!automatic) CloseMusicById(state, id);
  // Without a device the music is made all the same, as OpenMusic makes
  // its own: later commands on it answer, and playing it does nothing.
  EnsureAudioOutput(state);
  vlSoundStream* s = nullptr;
  if (int error = NewCallbackStream(state, uint32_t(rate), kScriptToInternalFormat[scriptFormat], &s)) return error;
  vlMusic* music = nullptr;
  if (NewMusicRecord(id, &music) != 0) {
    CloseSoundStream(s);
    return ERR_MEM;
  }
  music->source = s;
  music->sourceKind = VL_SOURCE_STREAM;
  music->callbackFed = 1;
  if (LinkMusic(music)) {
    FreeMusicRecordOf(state, music);
    return ERR_MEM;
  }
  if (int error = RunFill(state, music, uint32_t(rate) * 2)) return error;
  if (!automatic) return 0;
  PushObjectID(state, MusicId(music));
  return 1;
}

int CmdFillMusicBuffer(vlVMState* state) {
  CheckArgs(state, 3, 4, 0, 0);
  vlObjectId id{};
  GetObjectIDArg(&id, state, 1);
  const char* source = vl::CheckStringArg(state, 2, nullptr);
  int32_t frames = vl::CheckIntArg(state, 3);
  bool hasTable = vl::GetTypeAt(state, 4) > 0;
  if (hasTable) vl::CheckTableArg(state, 4);
  if (!InMusicCallback()) return kErrNotInCallback;
  vlMusic* music = nullptr;
  if (int error = GetMusicByID(id, &music)) return error;
  if (!music->callbackFed) return ERR_WRONGUSAGE;
  auto* s = static_cast<vlSoundStream*>(music->source);
  vlCallbackBlock* cb = s->callback;
  if (CompareNoCase(source, "end") == 0) return QueueCallbackPCM(s, nullptr, 0, 1);
  if (frames < 0) return ERR_WRONGUSAGE;
  vlFillOptions options;
  vlObjectId sampleId{};
  int freeSample = 0;
  if (hasTable) {
    GetTableBool(state, 4, "loop", &options.loop, nullptr);
    double v;
    if (GetTableNumber(state, 4, "offset", &v, nullptr)) options.offset = vl::DoubleToInt64(v);
    if (GetTableNumber(state, 4, "start", &v, nullptr)) options.start = vl::DoubleToInt64(v);
    if (GetTableNumber(state, 4, "end", &v, nullptr)) options.end = vl::DoubleToInt64(v);
    GetTableBool(state, 4, "free", &freeSample, nullptr);
  }
  // The source as a temporary PCM block of the stream's layout.
  vlSoundData temp{};
  const vlSoundData* from = &temp;
  uint8_t* values = nullptr;
  temp.bits = cb->bits;
  temp.channels = cb->channels;
  temp.bytesPerFrame = cb->bytesPerFrame;
  temp.flags = VL_PCM_SIGNED;
  temp.rate = cb->rate;
  if (CompareNoCase(source, "pcm") == 0) {
    if (!hasTable) return ERR_WRONGUSAGE;
    vl::PushString(state, "data");
    vl::GetTableValue(state, 4);
    if (vl::GetTypeAt(state, -1) != 5) return ERR_WRONGUSAGE;
    int table = vl::GetStackTop(state);
    size_t count = size_t(frames) * cb->channels;
    values = static_cast<uint8_t*>(AllocMemory((count ? count : 1) * 2 + 4, 1));
    if (!values) return ERR_MEM;
    size_t read = 0;
    for (; read < count; read++) {
      vl::RawGetTableIndex(state, table, int(read));
      int code = 0;
      double v = vl::GetCallbackNumber(state, -1, &code);
      vl::SetStackTop(state, -2);
      if (code) break;
      int32_t n = vl::DoubleToInt32(v);
      if (cb->bits == 16) {
        auto s16 = static_cast<int16_t>(n);
        std::memcpy(values + read * 2, &s16, 2);
      } else {
        values[read] = static_cast<uint8_t>(static_cast<int8_t>(n));
      }
    }
    temp.pcm = values;
    temp.frames = uint32_t(read / cb->channels);
    if (temp.frames == 0) temp.frames = 1;  // one frame of silence
  } else if (CompareNoCase(source, "mute") == 0) {
    values = static_cast<uint8_t*>(AllocMemory(8, 1));
    if (!values) return ERR_MEM;
    temp.pcm = values;
    temp.frames = 1;
  } else if (CompareNoCase(source, "sample") == 0) {
    if (!hasTable || !GetTableObjectID(state, 4, "id", &sampleId, nullptr)) return ERR_WRONGUSAGE;
    vlSample* sample = nullptr;
    if (int error = GetSampleByID(sampleId, &sample)) return error;
    from = sample->data;
  } else {
    return ERR_WRONGUSAGE;
  }
  size_t bytes = size_t(frames) * cb->bytesPerFrame;
  auto* out = static_cast<uint8_t*>(AllocMemory(bytes ? bytes : 1, 0));
  if (!out) {
    FreeMemory(values);
    return ERR_MEM;
  }
  int error = FillPCMFromSample(from, out, uint32_t(frames), cb->bits, (s->flags & VL_PCM_SIGNED) ? 1 : 0,
                                cb->channels, &options);
  FreeMemory(values);
  if (!error) error = QueueCallbackPCM(s, out, uint32_t(frames), 0);
  FreeMemory(out);
  if (!error && freeSample && from != &temp) FreeSampleByID(state, sampleId, 0);
  return error;
}

int CmdFlushMusicBuffer(vlVMState* state) {
  CheckArgs(state, 1, 1, 0, 0);
  vlObjectId id{};
  GetObjectIDArg(&id, state, 1);
  vlMusic* music = nullptr;
  if (int error = GetMusicByID(id, &music)) return error;
  if (!music->callbackFed || music->playing != VL_MUSIC_PLAYING) return ERR_WRONGUSAGE;
  StopMusicChannel(music->sourceKind, music->source, 0, nullptr, nullptr);
  music->playing = VL_MUSIC_STOPPED;
  return StartMusic(state, music);
}

int CmdGetPatternPosition(vlVMState* state) { return PushModulePosition(state, 1); }
int CmdGetSongPosition(vlVMState* state) { return PushModulePosition(state, 2); }
int CmdWaitPatternPosition(vlVMState* state) { return WaitModulePosition(state, 1); }
int CmdWaitSongPosition(vlVMState* state) { return WaitModulePosition(state, 2); }

int CmdPlaySubsong(vlVMState* state) {
  CheckArgs(state, 1, 3, 0, 0);
  if (InMusicCallback()) return kErrInCallback;
  int32_t position = vl::CheckIntArg(state, 1);
  vlMusic* music = nullptr;
  if (int error = MusicArg(state, 2, &music, gSound.currentMusic)) return error;
  if (music->sourceKind == VL_SOURCE_MODULE) {
    ModulePositionOp(music, 0, position);
  } else {
    if (position < 0 || uint32_t(position) > music->subsongs) return ERR_WRONGUSAGE;
    if (uint32_t(position) == music->subsong) {
      StopMusicRecord(music);
    } else {
      uint32_t kind = 0, seekable = 0, subsongs = 1;
      void* source = nullptr;
      const vlPluginInfo* loader = nullptr;
      // Reopened by the loader that opened it (a plug-in by its name).
      const char* loaders = GetLoaderName(music->loader);
      if (int error = OpenMusicSource(music->fileName ? music->fileName : "", loaders, music->adapter,
                                      uint32_t(position), &kind, &source, &seekable, &subsongs, &loader)) {
        return error;
      }
      StopMusicRecord(music);
      CloseMusicSource(music->sourceKind, music->source);
      music->source = source;
      music->sourceKind = kind;
      music->seekable = seekable;
      music->subsongs = subsongs;
      music->subsong = uint32_t(position);
    }
  }
  if (music->playing == VL_MUSIC_PLAYING) return 0;
  if (gSound.noSound || EnsureAudioOutput(state)) return 0;
  // A paused module plays on from the new position: it is paused no more.
  music->playing = VL_MUSIC_STOPPED;
  music->pausedFrame = 0;
  if (gSound.pausedMusic == music) gSound.pausedMusic = nullptr;
  return StartMusic(state, music);
}
