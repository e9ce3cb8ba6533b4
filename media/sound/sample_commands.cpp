// The sample commands: loading, creating, copying, inserting, reading and
// saving samples, and playing, stopping and changing them on the channels.
// Depends on the channel layer, the streams, the WAV writer and the
// runtime's argument and option readers.
#include <cstring>

#include "media/sound/audio_channels.h"
#include "media/sound/sound_data.h"
#include "media/sound/sound_formats.h"
#include "media/sound/sound_library.h"
#include "media/sound/sound_stream.h"
#include "libraries/dos/dos_library.h"
#include "libraries/memblock/memblock_library.h"
#include "runtime/os.h"
#include "runtime/console.h"
#include "runtime/error_vm.h"
#include "runtime/errors.h"
#include "runtime/object_data.h"
#include "runtime/option_readers.h"
#include "abi/plugin_abi.h"
#include "runtime/plugins.h"
#include "runtime/progress_message.h"
#include "runtime/script_call.h"
#include "runtime/stream.h"
#include "vm/text.h"
#include "vm/argreaders.h"
#include "vm/convert.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

void ReadLoaderOptions(vlVMState* state, int index, char* loader, char* adapter) {
  loader[0] = adapter[0] = 0;
  if (vl::GetTypeAt(state, index) <= 0) return;
  vl::CheckTableArg(state, index);
  GetTableString(state, index, "loader", loader, 256, nullptr);
  GetTableString(state, index, "adapter", adapter, 256, nullptr);
}

int PushCreated(vlVMState* state, int automatic, vlSample* sample) {
  if (!automatic) return 0;
  PushObjectID(state, SampleId(sample));
  return 1;
}

// count frames of raw PCM from an open file ("file") or a memory block
// ("memory") named by the table's "id"; "swap" swaps 16-bit values.
int ReadPcmObject(vlVMState* state, int table, bool file, uint32_t format, int32_t count, uint8_t** out,
                  uint32_t* framesOut) {
  if (count <= 0) return ERR_WRONGUSAGE;
  const uint64_t bytes64 = uint64_t(uint32_t(count)) * GetBytesPerFrame(format);
  if (bytes64 > 0x7FFFFFFF) return ERR_MEM;
  const size_t bytes = size_t(bytes64);
  int swap = 0;
  GetTableBool(state, table, "swap", &swap, nullptr);
  int32_t offset = 0;
  if (!file) {
    GetTableInt(state, table, "offset", &offset, nullptr);
    if (offset < 0) return ERR_WRONGUSAGE;
  }
  vl::PushString(state, "id");
  vl::RawGetTableValue(state, table);
  const int idIndex = vl::GetStackTop(state);
  if (vl::GetTypeAt(state, idIndex) <= 0) {
    vl::SetStackTop(state, -2);
    return ERR_WRONGUSAGE;
  }
  const uint8_t* from = nullptr;
  vlStream* stream = nullptr;
  int error = 0;
  if (file) {
    vlFile* f = nullptr;
    error = FindFileObject(state, idIndex, &f);
    if (!error && f->access == VL_ACCESS_WRITE) error = ERR_WRITEONLY;
    if (!error) stream = f->stream;
  } else {
    vlMemBlock* m = nullptr;
    error = FindMemBlock(state, idIndex, &m);
    if (!error && m->size > 0 && uint64_t(uint32_t(offset)) + bytes > uint64_t(uint32_t(m->size)))
      error = kErrOffsetRange;
    if (!error) from = m->data + offset;
  }
  vl::SetStackTop(state, -2);
  if (error) return error;
  auto* buffer = static_cast<uint8_t*>(AllocMemory(bytes ? bytes : 1, 1));
  if (!buffer) return ERR_MEM;
  if (stream) {
    if (ReadFileStream(stream, buffer, int64_t(bytes)) != int64_t(bytes)) {
      FreeMemory(buffer);
      return ERR_READ;
    }
  } else {
    std::memcpy(buffer, from, bytes);
  }
  if (swap && format >= VL_SMP_S16_MONO) SwapPairs(buffer, bytes);
  *out = buffer;
  *framesOut = uint32_t(count);
  return 0;
}

// The values of a "pcm" table into a buffer of the internal format.
int ReadPcmTable(vlVMState* state, int table, uint32_t format, int32_t count, uint8_t** out, uint32_t* framesOut) {
  uint32_t channels = (format & 1) ? 2 : 1;
  bool sixteen = format >= 4;
  int64_t values;
  if (count == 0) {
    values = 0;
    for (;;) {
      vl::RawGetTableIndex(state, table, int(values));
      bool nil = vl::GetTypeAt(state, -1) == 0;
      vl::SetStackTop(state, -2);
      if (nil) break;
      values++;
    }
    if (values == 0 || values % channels) return ERR_WRONGUSAGE;
  } else {
    values = int64_t(count) * channels;
  }
  uint32_t frames = uint32_t(values / channels);
  size_t bytes = size_t(frames) * GetBytesPerFrame(format);
  auto* buffer = static_cast<uint8_t*>(AllocMemory(bytes ? bytes : 1, 1));
  if (!buffer) return ERR_MEM;
  bool zeroRest = false;
  for (int64_t i = 0; i < values; i++) {
    int32_t v = 0;
    if (!zeroRest) {
      vl::RawGetTableIndex(state, table, int(i));
      if (vl::GetTypeAt(state, -1) == 3) v = vl::DoubleToInt32(vl::ToNumberAt(state, -1));
      else zeroRest = true;  // a non-number ends the values: the rest is silence
      vl::SetStackTop(state, -2);
    }
    if (sixteen ? (v < -32768 || v > 32767) : (v < -128 || v > 127)) {
      FreeMemory(buffer);
      return kErrSampleValue;
    }
    if (sixteen) {
      auto s = static_cast<int16_t>(v);
      std::memcpy(buffer + i * 2, &s, 2);
    } else {
      buffer[i] = static_cast<uint8_t>(static_cast<int8_t>(v));
    }
  }
  *out = buffer;
  *framesOut = frames;
  return 0;
}

int ApplySampleAttribute(vlVMState* state, int which) {
  CheckArgs(state, 2, 2, 0, 0);
  vlObjectId id{};
  GetObjectIDArg(&id, state, 1);
  if (!IsAudioStarted()) return 0;
  vlSample* sample = nullptr;
  if (int error = GetSampleByID(id, &sample)) return error;
  if (which == 0) {
    sample->volume = GetVolumeArg(state, 2);
    SetSampleChannelAttributes(sample->data, -1, int32_t(sample->volume), -1, -1);
  } else if (which == 1) {
    int32_t pitch = vl::CheckIntArg(state, 2);
    if (pitch < int32_t(kMinPitch)) return kErrPitchLow;
    sample->pitch = uint32_t(pitch);
    SetSampleChannelAttributes(sample->data, pitch, -1, -1, -1);
  } else {
    sample->panning = MapPanning(vl::CheckNumberArg(state, 2));
    SetSampleChannelAttributes(sample->data, -1, -1, int32_t(sample->panning), -1);
  }
  return 0;
}

int SaveThroughPlugin(const vlSample* sample, const char* file, uint32_t format) {
  for (vlPlugin* p = FirstPlugin(); p; p = p->next) {
    vlPluginInfo* info = p->handle ? p->handle->info : nullptr;
    if (!info || info->disabled || !(p->capabilities & PLUGINCAPS_SAVESAMPLE) || !info->SaveSample) continue;
    bool listed = false;
    for (vlSaverFormat* f = info->sampleSaverFormats; f && f->name && !listed; f++) listed = f->formatId == format;
    if (!listed) continue;
    const vlSoundData* d = sample->data;
    vlSaveSampleRecord record{d->pcm,      sample->bytes, d->frames, d->channels, d->bits, sample->pitch,
                              (sample->format > 1 ? 2u : 0u) | (d->flags & VL_PCM_BIG_ENDIAN), format};
    return info->SaveSample(file, &record) ? 0 : kErrSaveSample;
  }
  return kErrSampleFormat;
}

}  // namespace

int CmdLoadSample(vlVMState* state) {
  CheckArgs(state, 2, 3, 0, 0);
  vlObjectId id{};
  int automatic = GetObjectIDArgOpt(&id, state, 1);
  const char* file = GetFileNameArg(state, 2, 0, nullptr);
  char loader[256], adapter[256];
  ReadLoaderOptions(state, 3, loader, adapter);
  // Without a device the sample is loaded all the same: the commands that
  // play it then run silently, and its attributes still answer.
  EnsureAudioOutput(state);
  if (!automatic) FreeSampleByID(state, id, 0);
  PrintProgressMessage("Loading sample %s", file, 1);
  vlSoundData* data = nullptr;
  uint32_t bytes, rate, format;
  const vlPluginInfo* loaderRef = nullptr;
  if (int error = LoadSoundData(file, loader, adapter, &data, &bytes, &rate, &format, &loaderRef)) return error;
  vlSample* sample = nullptr;
  if (int error = AppendSample(state, id, data, format, rate < kMinPitch ? kMinPitch : rate, loaderRef, &sample)) {
    return error;
  }
  PrintDone();
  return PushCreated(state, automatic, sample);
}

int CmdFreeSample(vlVMState* state) {
  CheckArgs(state, 1, 1, 0, 0);
  vlObjectId id{};
  GetObjectIDArg(&id, state, 1);
  return FreeSampleByID(state, id, 1);
}

int CmdIsSample(vlVMState* state) {
  CheckArgs(state, 1, 2, 0, 0);
  const char* file = GetFileNameArg(state, 1, 0, nullptr);
  char loader[256], adapter[256];
  ReadLoaderOptions(state, 2, loader, adapter);
  vlSoundStream* s = nullptr;
  int ok = OpenSoundStream(file, loader, adapter, 0, 0, &s, nullptr) == 0;
  if (ok) {
    ok = s->kind != VL_STREAM_MODULE && s->pcmSize >= 0;
    CloseSoundStream(s);
  }
  vl::PushBoolean(state, ok);
  return 1;
}

int CmdCreateSample(vlVMState* state) {
  CheckArgs(state, 3, 5, 0, 0);
  vlObjectId id{};
  int automatic = GetObjectIDArgOpt(&id, state, 1);
  vl::CheckTableArg(state, 2);
  int32_t pitch = vl::CheckIntArg(state, 3);
  int32_t scriptFormat = vl::OptIntArg(state, 4, 0);
  int32_t count = vl::OptIntArg(state, 5, 0);
  if (scriptFormat < 0 || scriptFormat > 3 || count < 0) return ERR_WRONGUSAGE;
  if (pitch < int32_t(kMinPitch)) return kErrPitchLow;
  uint32_t format = kScriptToInternalFormat[scriptFormat];
  char source[32] = "pcm";
  GetTableString(state, 2, "source", source, sizeof source, nullptr);
  uint8_t* buffer = nullptr;
  uint32_t frames = 0;
  if (CompareNoCase(source, "pcm") == 0) {
    if (int error = ReadPcmTable(state, 2, format, count, &buffer, &frames)) return error;
  } else if (CompareNoCase(source, "file") == 0 || CompareNoCase(source, "memory") == 0) {
    if (int error = ReadPcmObject(state, 2, CompareNoCase(source, "file") == 0, format, count, &buffer, &frames))
      return error;
  } else {
    return ERR_WRONGUSAGE;
  }
  if (!automatic) FreeSampleByID(state, id, 0);
  vlSoundData* data = nullptr;
  uint32_t stored = 0;
  if (int error = MakeSoundData(buffer, frames, uint32_t(pitch), format, &data, &stored)) return error;
  vlSample* sample = nullptr;
  if (int error = AppendSample(state, id, data, stored, uint32_t(pitch), nullptr, &sample)) return error;
  return PushCreated(state, automatic, sample);
}

int CmdCopySample(vlVMState* state) {
  CheckArgs(state, 2, 2, 0, 0);
  vlObjectId from{}, to{};
  GetObjectIDArg(&from, state, 1);
  int automatic = GetObjectIDArgOpt(&to, state, 2);
  if (!automatic && from.number == to.number && from.handle == to.handle) return ERR_WRONGUSAGE;
  vlSample* source = nullptr;
  if (int error = GetSampleByID(from, &source)) return error;
  if (!automatic) FreeSampleByID(state, to, 0);
  vlSoundData* data = CopySoundData(source->data);
  if (!data) return ERR_MEM;
  vlSample* copy = nullptr;
  if (int error = AppendSample(state, to, data, source->format, source->pitch, source->loader, &copy)) return error;
  copy->volume = source->volume;
  copy->panning = source->panning;
  copy->bytes = source->bytes;
  if (int error = CopyObjectDataList(state, source->node.data, &copy->node.data)) return error;
  return PushCreated(state, automatic, copy);
}

int CmdInsertSample(vlVMState* state) {
  CheckArgs(state, 3, 5, 0, 0);
  vlObjectId to{}, from{};
  GetObjectIDArg(&to, state, 1);
  GetObjectIDArg(&from, state, 2);
  int32_t position = vl::CheckIntArg(state, 3);
  int32_t length = vl::OptIntArg(state, 4, 0);
  if (to.number == from.number && to.handle == from.handle) return ERR_WRONGUSAGE;
  vlSample *dest = nullptr, *src = nullptr;
  if (int error = GetSampleByID(to, &dest)) return error;
  if (int error = GetSampleByID(from, &src)) return error;
  if (IsSampleInUse(dest->data)) return kErrSamplePlaying;
  vlFillOptions options;
  if (vl::GetTypeAt(state, 5) > 0) {
    vl::CheckTableArg(state, 5);
    GetTableBool(state, 5, "loop", &options.loop, nullptr);
    double v;
    if (GetTableNumber(state, 5, "offset", &v, nullptr)) options.offset = vl::DoubleToInt64(v);
    if (GetTableNumber(state, 5, "start", &v, nullptr)) options.start = vl::DoubleToInt64(v);
    if (GetTableNumber(state, 5, "end", &v, nullptr)) options.end = vl::DoubleToInt64(v);
  }
  vlSoundData* d = dest->data;
  uint32_t inserted = src->data->frames;
  if (length >= 1 && uint32_t(length) < inserted) inserted = uint32_t(length);
  uint32_t at = position < 0 ? 0 : uint32_t(position) > d->frames ? d->frames : uint32_t(position);
  uint64_t total = uint64_t(d->frames) + inserted;
  if (total * d->bytesPerFrame > UINT32_MAX) return ERR_MEM;
  auto* buffer = static_cast<uint8_t*>(AllocMemory(size_t(total * d->bytesPerFrame) + 1, 1));
  if (!buffer) return ERR_MEM;
  size_t bpf = d->bytesPerFrame;
  std::memcpy(buffer, d->pcm, at * bpf);
  int error = FillPCMFromSample(src->data, buffer + at * bpf, inserted, d->bits,
                                (d->flags & VL_PCM_SIGNED) ? 1 : 0, d->channels, &options);
  if (error) {
    FreeMemory(buffer);
    return error;
  }
  if (d->bits == 16 && (d->flags & VL_PCM_BIG_ENDIAN)) SwapPairs(buffer + at * bpf, inserted * bpf);
  std::memcpy(buffer + (at + inserted) * bpf, d->pcm + at * bpf, (d->frames - at) * bpf);
  FreeMemory(d->pcm);
  d->pcm = buffer;
  d->frames = uint32_t(total);
  dest->bytes = uint32_t(total * bpf);
  return 0;
}

int CmdGetSampleData(vlVMState* state) {
  CheckArgs(state, 1, 1, 0, 0);
  vlObjectId id{};
  GetObjectIDArg(&id, state, 1);
  vlSample* sample = nullptr;
  if (int error = GetSampleByID(id, &sample)) return error;
  const vlSoundData* d = sample->data;
  vl::PushNewTable(state);
  int n = 0;
  for (uint32_t f = 0; f < d->frames; f++) {
    for (uint32_t c = 0; c < d->channels; c++) {
      int32_t v = ReadSoundValue16(d, f, c);
      vl::PushNumber(state, d->bits == 8 ? v / 256 : v);
      vl::RawSetTableIndex(state, -2, n++);
    }
  }
  vl::PushNumber(state, d->frames);
  return 2;
}

int CmdSaveSample(vlVMState* state) {
  CheckArgs(state, 2, 3, 0, 0);
  vlObjectId id{};
  GetObjectIDArg(&id, state, 1);
  const char* file = vl::CheckStringArg(state, 2, nullptr);
  int32_t format = vl::OptIntArg(state, 3, 0);
  vlSample* sample = nullptr;
  if (int error = GetSampleByID(id, &sample)) return error;
  if (format != 0) return SaveThroughPlugin(sample, file, uint32_t(format));
  return WriteWaveFile(file, sample->data, sample->bytes, sample->pitch, sample->format);
}

int CmdPlaySample(vlVMState* state) {
  // A fifth pair is a usage error of this command, not a bare argument
  // count error.
  CheckArgs(state, 1, 0, 0, 0);
  int argc = vl::GetStackTop(state);
  if (gSound.noSound || EnsureAudioOutput(state)) return 0;
  int pairs = (argc + 1) / 2;
  if (pairs > 4) return ERR_WRONGUSAGE;
  for (int n = 0; n < pairs; n++) {
    int arg = 1 + n * 2;
    vlObjectId id{};
    GetObjectIDArg(&id, state, arg);
    vlSample* sample = nullptr;
    if (int error = GetSampleByID(id, &sample)) return error;
    int32_t times = 1, timeMillis = -1, channel = 0, pitch = int32_t(sample->pitch);
    uint32_t volume = sample->volume, panning = sample->panning;
    int type = vl::GetTypeAt(state, arg + 1);
    if (type == 3) {
      times = vl::CheckIntArg(state, arg + 1);
    } else if (type > 0) {
      vl::CheckTableArg(state, arg + 1);
      int32_t v = 0;
      int foundTimes = 0, foundTime = 0;
      double number;
      if (GetTableInt(state, arg + 1, "time", &v, &foundTime) && v < 1) return ERR_WRONGUSAGE;
      if (foundTime) timeMillis = v;
      GetVolumeField(state, arg + 1, &volume);
      if (GetTableNumber(state, arg + 1, "panning", &number, nullptr)) panning = MapPanning(number);
      GetTableInt(state, arg + 1, "times", &times, &foundTimes);
      if (foundTimes) timeMillis = -1;
      GetTableInt(state, arg + 1, "pitch", &pitch, nullptr);
      GetTableInt(state, arg + 1, "channel", &channel, nullptr);
    }
    if (pitch < int32_t(kMinPitch)) return kErrPitchLow;
    if (times < 0) times = 1;
    if (int error = PlaySampleOnChannel(sample->data, SampleId(sample), sample->format, sample->bytes,
                                        uint32_t(pitch), volume, panning, timeMillis, times, channel - 1)) {
      return error;
    }
  }
  if (!vlVideoRecordingMode) StartPreparedSamples();
  return 0;
}

int CmdStopSample(vlVMState* state) {
  CheckArgs(state, 1, 1, 0, 0);
  vlObjectId id{};
  GetObjectIDArg(&id, state, 1);
  // Nothing can play before output starts, so there is nothing to stop or
  // to look up (as with the attribute commands).
  if (!IsAudioStarted()) return 0;
  vlSample* sample = nullptr;
  if (int error = GetSampleByID(id, &sample)) return error;
  StopSampleChannels(sample->data, -1);
  return 0;
}

int CmdIsSamplePlaying(vlVMState* state) {
  CheckArgs(state, 1, 1, 0, 0);
  vlObjectId id{};
  GetObjectIDArg(&id, state, 1);
  vlSample* sample = nullptr;
  if (int error = GetSampleByID(id, &sample)) return error;
  StopExpiredChannels();
  vl::PushBoolean(state, IsAudioStarted() && IsSampleInUse(sample->data));
  return 1;
}

int CmdWaitSampleEnd(vlVMState* state) {
  CheckArgs(state, 1, 1, 0, 0);
  vlObjectId id{};
  GetObjectIDArg(&id, state, 1);
  if (!IsAudioStarted()) return 0;
  vlSample* sample = nullptr;
  if (int error = GetSampleByID(id, &sample)) return error;
  for (;;) {
    StopExpiredChannels();
    // A callback run by the pump may have freed the sample.
    if (GetSampleByID(id, &sample) != 0 || !IsSampleInUse(sample->data)) return 0;
    if (int result = PumpAndSleep(state)) return result;
  }
}

int CmdSetVolume(vlVMState* state) { return ApplySampleAttribute(state, 0); }
int CmdSetPitch(vlVMState* state) { return ApplySampleAttribute(state, 1); }
int CmdSetPanning(vlVMState* state) { return ApplySampleAttribute(state, 2); }
