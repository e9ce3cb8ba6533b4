// The sound library's open and shut-down, its shared record handling and
// look-ups, the channel commands and the hooks it gives the runtime and
// the event dispatcher. Depends on the channel layer, the streams and the
// runtime's registries, option hooks and argument readers.
#include "media/sound/sound_library.h"

#include <cstring>

#include "platform/event_pump.h"
#include "media/sound/audio_adapter.h"
#include "media/sound/audio_channels.h"
#include "media/sound/mixer.h"
#include "media/sound/protracker.h"
#include "media/sound/sound_data.h"
#include "media/sound/sound_stream.h"
#include "media/video/video_library.h"
#include "platform/alsa_output.h"
#include "platform/hooks.h"
#include "runtime/os.h"
#include "runtime/error_vm.h"
#include "runtime/errors.h"
#include "runtime/object_data.h"
#include "runtime/object_index.h"
#include "runtime/option_readers.h"
#include "runtime/plugin_formats.h"
#include "runtime/runtime_options.h"
#include "runtime/run_state.h"
#include "vm/argreaders.h"
#include "vm/auxlib.h"
#include "vm/constants.h"
#include "vm/convert.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

vlSoundLibrary gSound{};
uint32_t vlVideoRecordingMode = 0;

namespace {

// Making and finding a sample or a music must not walk every one there is.
vlObjectIndex gSampleIndex;
vlObjectIndex gMusicIndex;

vlObjectNode** SampleListHead() { return reinterpret_cast<vlObjectNode**>(&gSound.samples); }
vlObjectNode** MusicListHead() { return reinterpret_cast<vlObjectNode**>(&gSound.musics); }

uint32_t gEventSwitches[4];  // option tags 12, 13, 18, 23
uint32_t gSoundSetting = 30;

const vlCommand kSoundCommands[] = {
    {"FreeSample", CmdFreeSample},
    {"LoadSample", CmdLoadSample},
    {"IsSound", CmdIsSound},
    {"GetPatternPosition", CmdGetPatternPosition},
    {"GetSongPosition", CmdGetSongPosition},
    {"PlaySubsong", CmdPlaySubsong},
    {"WaitPatternPosition", CmdWaitPatternPosition},
    {"WaitSongPosition", CmdWaitSongPosition},
    {"WaitSampleEnd", CmdWaitSampleEnd},
    {"IsSamplePlaying", CmdIsSamplePlaying},
    {"SetVolume", CmdSetVolume},
    {"SetPitch", CmdSetPitch},
    {"SetPanning", CmdSetPanning},
    {"StopSample", CmdStopSample},
    {"PlaySample", CmdPlaySample},
    {"SetMasterVolume", CmdSetMasterVolume},
    {"IsSample", CmdIsSample},
    {"CreateSample", CmdCreateSample},
    {"OpenMusic", CmdOpenMusic},
    {"CloseMusic", CmdCloseMusic},
    {"PlayMusic", CmdPlayMusic},
    {"StopMusic", CmdStopMusic},
    {"PauseMusic", CmdPauseMusic},
    {"ResumeMusic", CmdResumeMusic},
    {"SeekMusic", CmdSeekMusic},
    {"SetMusicVolume", CmdSetMusicVolume},
    {"IsMusic", CmdIsMusic},
    {"IsMusicPlaying", CmdIsMusicPlaying},
    {"PlayModule", CmdPlayMusic},
    {"StopModule", CmdStopMusic},
    {"PauseModule", CmdPauseMusic},
    {"ResumeModule", CmdResumeMusic},
    {"LoadModule", CmdOpenMusic},
    {"FreeModule", CmdCloseMusic},
    {"IsModule", CmdIsMusic},
    {"SaveSample", CmdSaveSample},
    {"GetSampleData", CmdGetSampleData},
    {"CreateMusic", CmdCreateMusic},
    {"FillMusicBuffer", CmdFillMusicBuffer},
    {"MixSample", CmdMixSampleEntry},
    {"CopySample", CmdCopySample},
    {"InsertSample", CmdInsertSample},
    {"FlushMusicBuffer", CmdFlushMusicBuffer},
    {"IsChannelPlaying", CmdIsChannelPlaying},
    {"HaveFreeChannel", CmdHaveFreeChannel},
    {"StopChannel", CmdStopChannel},
    {"GetChannels", CmdGetChannels},
    {"SetChannelVolume", CmdSetChannelVolume},
    {nullptr, nullptr},
};

const vlConstant kSoundConstants[] = {
    {"MONO16", nullptr, 1}, {"STEREO16", nullptr, 3}, {"MONO8", nullptr, 0},  {"STEREO8", nullptr, 2},
    {"SAMPLE", nullptr, 2}, {"MUSIC", nullptr, 33},   {"SMPFMT_WAVE", nullptr, 0}, {nullptr, nullptr, 0},
};

int EventSlot(uint32_t tag) {
  switch (tag) {
    case 12: return 0;
    case 13: return 1;
    case 18: return 2;
    case 23: return 3;
    default: return -1;
  }
}

int SetSoundLibParam(vlVMState*, uint32_t tag, uint32_t value) {
  if (tag == 2) {
    gSound.noSound = value;
    return 1;
  }
  if (tag == 3) {
    gSoundSetting = value;
    return 1;
  }
  int slot = EventSlot(tag);
  if (slot < 0) return 0;
  gEventSwitches[slot] = value ? 1 : 0;
  SetAudioEventWanted(int(tag), value ? 1 : 0);
  return 1;
}

int GetSoundLibParam(vlVMState*, uint32_t tag, void* out) {
  uint32_t value;
  if (tag == 2) value = gSound.noSound;
  else if (tag == 3) value = gSoundSetting;
  else if (EventSlot(tag) >= 0) value = gEventSwitches[EventSlot(tag)];
  else return 0;
  *static_cast<uint32_t*>(out) = value;
  return 1;
}

void PostFromBackEnd(int kind, vlObjectId id, int32_t step, int32_t count, int32_t extra, int wake) {
  PostAudioEvent(kind, id, step, count, extra, wake);
}

template <class T>
int FindById(const vlObjectIndex& index, vlObjectId id, T** out) {
  vlObjectNode* node = index.First(id);
  if (!node) return -1;
  *out = reinterpret_cast<T*>(node);
  return 0;
}

void FreeMusicRecord(vlVMState* state, vlMusic* music) {
  if (music->playing != VL_MUSIC_STOPPED) StopMusicChannel(music->sourceKind, music->source, 0, nullptr, nullptr);
  CloseMusicSource(music->sourceKind, music->source);
  FreeObjectDataList(state, &music->node.data);
  FreeMemory(music->fileName);
  FreeMemory(music);
}

// The device the parameter hook named, else the one of the command line:
// whichever command starts the output, the sound goes to the same place.
const char* ChosenAudioDevice() { return gSound.deviceName[0] ? gSound.deviceName : GetAudioDeviceName(); }

}  // namespace

int CmdIsSound(vlVMState* state) {
  CheckArgs(state, 0, 0, 0, 0);
  int on;
  if (IsAudioStarted()) on = 1;
  else if (gSound.noSound) on = 0;
  else on = StartAudioOutput(state, ChosenAudioDevice()) == 0;
  vl::PushBoolean(state, on);
  return 1;
}

int CmdSetMasterVolume(vlVMState*) { return 0; }

int CmdMixSampleEntry(vlVMState* state) {
  CheckArgs(state, 6, 0, 0, 0);
  return CmdMixSample(state);
}

int CmdIsChannelPlaying(vlVMState* state) {
  CheckArgs(state, 1, 1, 0, 0);
  int32_t channel = vl::CheckIntArg(state, 1);
  if (!IsAudioStarted()) {
    vl::PushBoolean(state, 0);
    return 1;
  }
  uint32_t type;
  vlObjectId id;
  if (int error = GetChannelObject(channel - 1, &type, &id, 0)) return error;
  if (type == 7) {
    vl::PushBoolean(state, 0);
    return 1;
  }
  vl::PushBoolean(state, 1);
  vl::PushNumber(state, type);
  PushObjectID(state, id);
  return 3;
}

int CmdHaveFreeChannel(vlVMState* state) {
  CheckArgs(state, 0, 0, 0, 0);
  if (gSound.noSound || EnsureAudioOutput(state)) {
    vl::PushNumber(state, 0);
    return 1;
  }
  StopExpiredChannels();
  int count = GetChannelCount(), found = 0;
  for (int i = 0; i < count && !found; i++) {
    uint32_t type;
    vlObjectId id;
    if (GetChannelObject(i, &type, &id, 0) == 0 && type == 7) found = i + 1;
  }
  vl::PushNumber(state, found);
  return 1;
}

int CmdStopChannel(vlVMState* state) {
  CheckArgs(state, 1, 1, 0, 0);
  int32_t channel = vl::CheckIntArg(state, 1);
  if (!IsAudioStarted()) return 0;
  return EndChannelPlayback(state, channel - 1);
}

int CmdGetChannels(vlVMState* state) {
  CheckArgs(state, 0, 0, 0, 0);
  vl::PushNumber(state, gSound.noSound ? 0 : GetChannelCount());
  return 1;
}

int CmdSetChannelVolume(vlVMState* state) {
  CheckArgs(state, 2, 2, 0, 0);
  int32_t channel = vl::CheckIntArg(state, 1);
  uint32_t volume = GetVolumeArg(state, 2);
  if (!IsAudioStarted()) return 0;
  uint32_t type;
  vlObjectId id;
  if (int error = GetChannelObject(channel - 1, &type, &id, 1)) return error;
  // The channel lock is held from here.
  // Each kind stores the volume and applies it its own way (an audio
  // adapter's channel included).
  if (type == VL_OBJ_SAMPLE) {
    vlSample* sample = nullptr;
    if (GetSampleByID(id, &sample) == 0) {
      sample->volume = volume;
      SetSampleChannelAttributes(sample->data, -1, int32_t(volume), -1, channel - 1);
    }
  } else if (type == kObjMusic) {
    vlMusic* music = nullptr;
    if (GetMusicByID(id, &music) == 0) {
      music->volume = volume;
      SetMusicChannelVolume(music->sourceKind, music->source, volume, channel - 1);
    }
  } else if (type == kObjVideo) {
    vlVideo* video = nullptr;
    if (GetVideoByID(state, id, VL_VIDEO_HIDDEN_TOO, &video) == 0) ApplyVideoVolume(video, int32_t(volume));
  }
  UnlockChannels();
  return 0;
}

int GetSampleByID(vlObjectId id, vlSample** out) {
  if (FindById(gSampleIndex, id, out) == 0) return 0;
  if (id.handle) return ERR_FINDARRAY;
  SetErrorArgIndex(id.number);
  return ERR_FINDSAMPLE;
}

int LinkMusic(vlMusic* music) { return gMusicIndex.Append(MusicListHead(), &music->node); }

void UnlinkMusicNode(vlMusic* music) { gMusicIndex.Unlink(MusicListHead(), &music->node); }

int GetMusicByID(vlObjectId id, vlMusic** out) {
  if (FindById(gMusicIndex, id, out) == 0) return 0;
  if (id.handle) return ERR_FINDARRAY;
  SetErrorArgIndex(id.number);
  return ERR_FINDMUSIC;
}

vlObjectId SampleId(const vlSample* s) { return vlObjectId{s->node.idNumber, s->node.idHandle}; }
vlObjectId MusicId(const vlMusic* m) { return vlObjectId{m->node.idNumber, m->node.idHandle}; }

int FreeSampleByID(vlVMState* state, vlObjectId id, int mustExist) {
  vlSample* sample = nullptr;
  int error = GetSampleByID(id, &sample);
  if (error) return mustExist ? error : 0;
  gSampleIndex.Unlink(SampleListHead(), &sample->node);
  StopSampleChannels(sample->data, -1);
  FreeSoundData(sample->data);
  FreeObjectDataList(state, &sample->node.data);
  FreeMemory(sample);
  return 0;
}

int AppendSample(vlVMState*, vlObjectId id, vlSoundData* data, uint32_t format, uint32_t pitch,
                 const vlPluginInfo* loader, vlSample** out) {
  auto* sample = static_cast<vlSample*>(AllocMemory(sizeof(vlSample), 1));
  if (!sample) {
    FreeSoundData(data);
    return ERR_MEM;
  }
  sample->node.type = VL_OBJ_SAMPLE;
  if (IsAutomaticIdRequest(id)) {
    sample->node.idHandle = sample;
  } else {
    sample->node.idNumber = id.number;
    sample->node.idHandle = id.handle;
  }
  sample->data = data;
  sample->volume = 64;
  sample->pitch = pitch;
  sample->format = format;
  sample->bytes = data->frames * data->bytesPerFrame;
  sample->panning = 128;
  sample->loader = loader;
  if (gSampleIndex.Append(SampleListHead(), &sample->node)) {
    FreeSoundData(data);
    FreeMemory(sample);
    return ERR_MEM;
  }
  if (out) *out = sample;
  return 0;
}

int EnsureAudioOutput(vlVMState* state) {
  if (IsAudioStarted()) return 0;
  if (gSound.noSound) return 1;
  if (StartAudioOutput(state, ChosenAudioDevice()) == 0) return 0;
  gSound.noSound = 1;
  return 1;
}

namespace {
uint32_t ClampVolume(double v) {
  int32_t volume = vl::DoubleToInt32(v);
  return volume < 0 ? 0 : volume > 64 ? 64 : uint32_t(volume);
}
}  // namespace

uint32_t GetVolumeArg(vlVMState* state, int index) {
  return ClampVolume(GetNumberOrPercentArg(state, index, 64, 1, nullptr));
}

int GetVolumeField(vlVMState* state, int table, uint32_t* out) {
  double v = 0;
  if (!GetTableNumberOrPercent(state, table, "volume", &v, 64, 1, nullptr, nullptr)) return 0;
  *out = ClampVolume(v);
  return 1;
}

uint32_t MapPanning(double value) {
  int32_t v = vl::DoubleToInt32(value);
  if (v == -90000) return 0;
  if (v == -80000) return 255;
  if (v == -100000) return 128;
  return v < 0 ? 0 : v > 255 ? 255 : uint32_t(v);
}

int PumpAndSleep(vlVMState* state) {
  int error = 0;
  int stop = PumpEvents(state, 2, 0, &error);
  if (stop) return error ? error : ERR_USERABORT;
  SleepMillis(10);
  return 0;
}

int ModulePositionOp(vlMusic* music, int op, int value) {
  if (!music || music->sourceKind != VL_SOURCE_MODULE) return -1;
  auto* module = static_cast<vlModuleState*>(music->source);
  vlChannel* channel = ModuleChannel(module);
  if (op == 0) {
    LockAudioOutput();
    module->pendingPosition = 1;
    module->pendingSong = value;
    module->pendingRow = 0;
    // The sound rendered ahead of the device is from the old position.
    if (channel) channel->moduleRestart = 1;
    UnlockAudioOutput();
    if (channel && !GetAudioAdapter()) WakeAudioOutput();
    return 0;
  }
  if (!channel) return -1;
  LockAudioOutput();
  int answer = op == 1 ? module->playingRow : module->playingPosition;
  UnlockAudioOutput();
  return answer;
}

uint32_t FindMusicNeedingData(vlObjectId* id, uint32_t* queued) {
  for (vlMusic* m = gSound.musics; m; m = reinterpret_cast<vlMusic*>(m->node.next)) {
    if (!m->callbackFed || m->playing != VL_MUSIC_PLAYING) continue;
    auto* s = static_cast<vlSoundStream*>(m->source);
    uint64_t pending = 0;
    if (!AskCallbackForData(s, &pending)) continue;
    *id = MusicId(m);
    *queued = static_cast<uint32_t>(s->callback->framesQueued);
    return static_cast<uint32_t>(s->rate - pending);
  }
  return 0;
}

int QuerySoundObject(uint32_t type, vlObjectId id, int code, intptr_t* word1, intptr_t* word2) {
  if (type == VL_OBJ_SAMPLE) {
    vlSample* s = nullptr;
    if (GetSampleByID(id, &s)) return 0;
    uint32_t frames = s->data->frames;
    switch (code) {
      case 7: *word1 = s->format < 6 ? kInternalToScriptFormat[s->format] : 0; return 1;
      case 8: *word1 = s->pitch ? intptr_t(int64_t(frames) * 1000 / s->pitch) : 0; return 1;
      case 9: *word1 = s->pitch; return 1;
      case 24: *word1 = frames; return 1;
      case 30:
        if (!IsAudioStarted()) return 0;
        *word1 = IsSampleInUse(s->data);
        return 1;
      case 31: *word2 = reinterpret_cast<intptr_t>(GetLoaderName(s->loader)); return 1;
      case 16: {
        if (!IsAudioStarted()) return 0;
        int32_t ms, pass;
        GetSampleChannelTime(s->data, &ms, &pass);
        *word1 = ms;
        *word2 = pass;
        return 1;
      }
      default: return 0;
    }
  }
  if (type == kObjMusic) {
    vlMusic* m = nullptr;
    if (GetMusicByID(id, &m)) return 0;
    const char* text = "";
    switch (code) {
      case 14: *word1 = intptr_t(GetMusicAttribute(VL_MATTR_DURATION, m->sourceKind, m->source, nullptr)); return 1;
      case 15: *word1 = intptr_t(GetMusicAttribute(VL_MATTR_POSITION, m->sourceKind, m->source, nullptr)); return 1;
      case 17:
        GetMusicAttribute(VL_MATTR_FORMAT_NAME, m->sourceKind, m->source, &text);
        *word2 = reinterpret_cast<intptr_t>(text);
        return 1;
      case 19: *word1 = intptr_t(GetMusicAttribute(VL_MATTR_BITRATE, m->sourceKind, m->source, nullptr)); return 1;
      case 20: *word1 = intptr_t(GetMusicAttribute(VL_MATTR_RATE, m->sourceKind, m->source, nullptr)); return 1;
      case 21: {
        int64_t f = GetMusicAttribute(VL_MATTR_SAMPLE_FORMAT, m->sourceKind, m->source, nullptr);
        *word1 = f >= 0 && f < 6 ? kInternalToScriptFormat[f] : -1;
        return 1;
      }
      case 25: *word1 = m->seekable; return 1;
      case 26: *word1 = m->subsongs; return 1;
      case 27: *word1 = m->subsong; return 1;
      case 28: *word1 = m->playing == VL_MUSIC_PLAYING; return 1;
      case 29: *word1 = m->playing == VL_MUSIC_PAUSED; return 1;
      case 32: *word2 = reinterpret_cast<intptr_t>(GetLoaderName(m->loader)); return 1;
      default: return 0;
    }
  }
  return 0;
}

int GetSampleInfo(vlObjectId id, uint32_t* format, vlSoundData** data, uint32_t* bytes, uint32_t* pitch) {
  vlSample* s = nullptr;
  if (GetSampleByID(id, &s)) return 0;
  if (format) *format = s->format;
  if (data) *data = s->data;
  if (bytes) *bytes = s->bytes;
  if (pitch) *pitch = s->pitch;
  return 1;
}

int OpenSoundLib(vlVMState* state) {
  vl::PushSlotCopy(state, vl::kGlobalsIndex);
  vl::RegisterCommands(state, nullptr, kSoundCommands, 0);
  vl::SetStackTop(state, -2);
  if (int error = RegisterLibrary(kSoundCommands, "sound")) return error;
  InstallSoundAttributes();
  vl::RegisterConstants(state, kSoundConstants, 0);
  if (int error = RegisterObjectList(reinterpret_cast<vlObjectNode**>(&gSound.samples))) return error;
  if (int error = RegisterObjectList(reinterpret_cast<vlObjectNode**>(&gSound.musics))) return error;
  if (int error = AddRuntimeOptionSetHook(SetSoundLibParam)) return error;
  if (int error = AddRuntimeOptionGetHook(GetSoundLibParam)) return error;
  gPlatformHooks.postAudioEvent = PostFromBackEnd;
  gPlatformHooks.popAudioEvent = PopAudioEvent;
  gPlatformHooks.findMusicNeedingData = FindMusicNeedingData;
  gPlatformHooks.pollAudio = StopExpiredChannels;
  return InitAudioLocks();
}

void FreeSoundLib(vlVMState* state) {
  StopAllChannels(state);
  while (gSound.samples) FreeSampleByID(state, SampleId(gSound.samples), 0);
  while (vlMusic* music = gSound.musics) {
    gSound.musics = reinterpret_cast<vlMusic*>(music->node.next);
    FreeMusicRecord(state, music);
  }
  gSampleIndex.Clear();
  gMusicIndex.Clear();
  gSound.currentMusic = gSound.pausedMusic = nullptr;
  ShutdownAudio();
  if (gPlatformHooks.postAudioEvent == PostFromBackEnd) gPlatformHooks.postAudioEvent = nullptr;
  gPlatformHooks.popAudioEvent = nullptr;
  gPlatformHooks.findMusicNeedingData = nullptr;
  gPlatformHooks.pollAudio = nullptr;
  gSound.noSound = 0;
  gSound.inCallback = 0;
  for (auto& s : gEventSwitches) s = 0;
}

// Music records are freed by the music commands through this.
void FreeMusicRecordOf(vlVMState* state, vlMusic* music) { FreeMusicRecord(state, music); }
