// The software mixer: one pass over the output frames with an inner loop
// over the sources; integer sums, double positions. Depends on the sample
// records of the sound library for the command.
#include "media/sound/mixer.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "media/sound/sound_data.h"
#include "media/sound/sound_library.h"
#include "runtime/os.h"
#include "runtime/errors.h"
#include "runtime/object_data.h"
#include "runtime/option_readers.h"
#include "vm/argreaders.h"
#include "vm/convert.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

int32_t Value16(const uint8_t* p, uint32_t bigEndian) {
  return bigEndian ? int16_t(uint16_t(p[0] << 8 | p[1])) : int16_t(uint16_t(p[1] << 8 | p[0]));
}

int64_t Gain(const vlMixSource& s, int64_t product) {
  return s.scaled ? vl::DoubleToInt64(double(product) * s.scale) : product;
}

}  // namespace

void MixSources(vlMixSource* sources, int count, uint8_t* out, uint32_t frames, uint32_t outFormat) {
  for (uint32_t i = 0; i < frames; i++) {
    int64_t left = 0, right = 0;
    for (int n = 0; n < count; n++) {
      vlMixSource& s = sources[n];
      if (int64_t(i) < s.threshold || (s.length >= 0 && s.mixed == uint32_t(s.length))) continue;
      int64_t index = vl::DoubleToInt64(s.position);
      if (index < 0 || s.frames == 0) continue;
      if (index >= s.frames) {
        if (!s.loop) continue;
        index %= s.frames;
      }
      int64_t volume = s.volume;
      const uint8_t* p = s.pcm;
      switch (s.format) {
        case 0: {
          int64_t v = Gain(s, (int64_t(p[index]) - 128) * volume);
          left += v;
          right += v;
          break;
        }
        case 1:
          left += Gain(s, (int64_t(p[index * 2]) - 128) * volume);
          right += Gain(s, (int64_t(p[index * 2 + 1]) - 128) * volume);
          break;
        case 2: {
          int64_t v = Gain(s, int64_t(int8_t(p[index])) * volume);
          left += v;
          right += v;
          break;
        }
        case 3:
          left += Gain(s, int64_t(int8_t(p[index * 2])) * volume);
          right += Gain(s, int64_t(int8_t(p[index * 2 + 1])) * volume);
          break;
        case 4: {
          int64_t v = Gain(s, Value16(p + index * 2, s.bigEndian) * (volume / 256));
          left += v;
          right += v;
          break;
        }
        case 5:
          left += Gain(s, Value16(p + index * 4, s.bigEndian) * (volume / 256));
          right += Gain(s, Value16(p + index * 4 + 2, s.bigEndian) * (volume / 256));
          break;
        default: break;
      }
      s.position += s.step;
      s.mixed++;
    }
    left = std::clamp<int64_t>(left, -8388608, 8388607);
    right = std::clamp<int64_t>(right, -8388608, 8388607);
    switch (outFormat) {
      case 2: out[i] = static_cast<uint8_t>((left + right) >> 17); break;
      case 3:
        out[i * 2] = static_cast<uint8_t>(left >> 16);
        out[i * 2 + 1] = static_cast<uint8_t>(right >> 16);
        break;
      case 4: {
        auto v = static_cast<int16_t>((left + right) >> 9);
        std::memcpy(out + i * 2, &v, 2);
        break;
      }
      default: {
        auto l = static_cast<int16_t>(left >> 8), r = static_cast<int16_t>(right >> 8);
        std::memcpy(out + i * 4, &l, 2);
        std::memcpy(out + i * 4 + 2, &r, 2);
        break;
      }
    }
  }
}

int CmdMixSample(vlVMState* state) {
  int argc = vl::GetStackTop(state);
  if (argc < 6) return ERR_ARGS;
  vlObjectId target{};
  int automatic = GetObjectIDArgOpt(&target, state, 1);
  int32_t frames = vl::CheckIntArg(state, 2);
  int32_t rate = vl::CheckIntArg(state, 3);
  int32_t format = vl::CheckIntArg(state, 4);
  if (format < 0 || format > 3 || (argc - 4) % 2 != 0 || frames < 0) return ERR_WRONGUSAGE;
  if (rate < int32_t(kMinPitch)) return kErrPitchLow;
  if (!automatic) FreeSampleByID(state, target, 0);
  uint32_t internal = kScriptToInternalFormat[format];
  int count = (argc - 4) / 2;
  size_t bytes = size_t(frames) * GetBytesPerFrame(internal);
  // Held until handed on: an argument of the wrong type stops the script
  // from inside the loop below.
  std::unique_ptr<uint8_t, decltype(&FreeMemory)> out(static_cast<uint8_t*>(AllocMemory(bytes ? bytes : 1, 1)),
                                                       &FreeMemory);
  std::unique_ptr<vlMixSource, decltype(&FreeMemory)> held(
      static_cast<vlMixSource*>(AllocMemory(sizeof(vlMixSource) * count, 1)), &FreeMemory);
  vlMixSource* sources = held.get();
  if (!out || !sources) return ERR_MEM;
  for (int n = 0; n < count; n++) {
    int arg = 5 + n * 2;
    vlObjectId id{};
    GetObjectIDArg(&id, state, arg);
    vlSample* sample = nullptr;
    if (int error = GetSampleByID(id, &sample)) return error;
    vl::CheckTableArg(state, arg + 1);
    vlMixSource& s = sources[n];
    s.format = sample->format;
    s.pitch = sample->pitch;
    s.loop = 1;
    s.pcm = sample->data->pcm;
    s.frames = sample->data->bytesPerFrame ? sample->bytes / sample->data->bytesPerFrame : 0;
    s.scale = 1.0;
    s.volume = 65536;
    s.length = -1;
    s.bigEndian = (sample->data->flags & VL_PCM_BIG_ENDIAN) ? 1 : 0;
    int loop = 1;
    GetTableNumber(state, arg + 1, "pitch", &s.pitch, nullptr);
    GetTableNumber(state, arg + 1, "offset", &s.position, nullptr);
    GetTableInt(state, arg + 1, "threshold", &s.threshold, nullptr);
    GetTableInt(state, arg + 1, "length", &s.length, nullptr);
    GetTableBool(state, arg + 1, "loop", &loop, nullptr);
    GetTableNumber(state, arg + 1, "scale", &s.scale, nullptr);
    s.loop = loop ? 1 : 0;
    if (!(s.pitch >= 1.0)) return ERR_WRONGUSAGE;
    if (!(s.position >= 0.0)) return kErrSampleValue;
    s.step = s.pitch / rate;
    s.scaled = s.scale != 1.0;
  }
  MixSources(sources, count, out.get(), uint32_t(frames), internal);
  held.reset();
  vlSoundData* data = nullptr;
  uint32_t stored = 0;
  if (int error = MakeSoundData(out.release(), uint32_t(frames), uint32_t(rate), internal, &data, &stored))
    return error;
  vlSample* sample = nullptr;
  if (int error = AppendSample(state, target, data, stored, uint32_t(rate), nullptr, &sample)) return error;
  if (automatic) {
    PushObjectID(state, sample->node.idHandle ? vlObjectId{0, sample->node.idHandle} : target);
    return 1;
  }
  return 0;
}
