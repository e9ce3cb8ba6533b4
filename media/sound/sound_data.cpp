// PCM block handling shared by the sample commands, the mixer and the
// callback-fed music. Depends on the platform memory routines.
#include "media/sound/sound_data.h"

#include <cstdlib>
#include <cstring>
#include <utility>

#include "runtime/os.h"
#include "vm/error_codes.h"

uint32_t GetBytesPerFrame(uint32_t format) {
  static constexpr uint32_t kBytes[6] = {1, 2, 1, 2, 2, 4};
  return format < 6 ? kBytes[format] : 0;
}

int MakeSoundData(uint8_t* buffer, uint32_t frames, uint32_t rate, uint32_t format,
                  vlSoundData** out, uint32_t* formatOut) {
  auto* data = static_cast<vlSoundData*>(AllocMemory(sizeof(vlSoundData), 1));
  if (!data) {
    FreeMemory(buffer);
    return ERR_MEM;
  }
  data->pcm = buffer;
  data->frames = frames;
  data->rate = rate;
  data->channels = (format & 1) ? 2 : 1;
  data->bytesPerFrame = GetBytesPerFrame(format);
  if (format == VL_SMP_S8_MONO || format == VL_SMP_S8_STEREO) {
    size_t bytes = size_t(frames) * data->bytesPerFrame;
    for (size_t i = 0; i < bytes; i++) buffer[i] = static_cast<uint8_t>(buffer[i] + 128);
    format -= 2;
    data->bits = 8;
  } else if (format == VL_SMP_U8_MONO || format == VL_SMP_U8_STEREO) {
    data->bits = 8;
  } else {
    data->bits = 16;
    data->flags = VL_PCM_SIGNED;
  }
  data->format = format;
  *out = data;
  if (formatOut) *formatOut = format;
  return 0;
}

vlSoundData* CopySoundData(const vlSoundData* data) {
  auto* copy = static_cast<vlSoundData*>(AllocMemory(sizeof(vlSoundData), 0));
  if (!copy) return nullptr;
  *copy = *data;
  copy->work = 0;
  size_t bytes = size_t(data->frames) * data->bytesPerFrame;
  copy->pcm = static_cast<uint8_t*>(AllocMemory(bytes ? bytes : 1, 0));
  if (!copy->pcm) {
    FreeMemory(copy);
    return nullptr;
  }
  if (bytes) std::memcpy(copy->pcm, data->pcm, bytes);
  return copy;
}

void FreeSoundData(vlSoundData* data) {
  if (!data) return;
  FreeMemory(data->pcm);
  FreeMemory(data);
}

uint8_t* GetSoundDataPointer(const vlSoundData* data) { return data ? data->pcm : nullptr; }

void ReplaceSoundData(vlSoundData* data, uint8_t* pcm, uint32_t frames, uint32_t rate) {
  if (data->pcm != pcm) FreeMemory(data->pcm);
  data->pcm = pcm;
  data->frames = frames;
  data->rate = rate;
}

void SwapPairs(uint8_t* p, size_t bytes) {
  for (size_t i = 0; i + 1 < bytes; i += 2) std::swap(p[i], p[i + 1]);
}

int32_t ReadSoundValue16(const vlSoundData* data, uint32_t frame, uint32_t channel) {
  const uint8_t* p = data->pcm + size_t(frame) * data->bytesPerFrame;
  if (data->bits == 8) {
    uint8_t b = p[channel];
    return (data->flags & VL_PCM_SIGNED) ? int32_t(int8_t(b)) * 256 : (int32_t(b) - 128) * 256;
  }
  p += channel * 2;
  uint16_t raw = (data->flags & VL_PCM_BIG_ENDIAN) ? uint16_t(p[0] << 8 | p[1]) : uint16_t(p[1] << 8 | p[0]);
  return int16_t(raw);
}

int FillPCMFromSample(const vlSoundData* data, uint8_t* out, uint32_t frames, uint32_t bits,
                      int isSigned, uint32_t channels, vlFillOptions* o) {
  int64_t end = o->end ? o->end : data->frames;
  if (o->offset < 0 || o->start < 0 || o->end < 0 || (o->end && o->start >= o->end) ||
      end > data->frames) {
    return 1447;
  }
  int64_t length = end - o->start;
  uint32_t width = bits / 8;
  for (uint32_t f = 0; f < frames; f++) {
    int32_t left = 0, right = 0;
    bool silent = false;
    if (length <= 0) {
      silent = true;
    } else {
      if (o->offset >= length) {
        if (o->loop) o->offset %= length;
        else silent = true;
      }
      if (!silent) {
        uint32_t frame = static_cast<uint32_t>(o->start + o->offset);
        left = ReadSoundValue16(data, frame, 0);
        right = data->channels == 2 ? ReadSoundValue16(data, frame, 1) : left;
        o->offset++;
      }
    }
    for (uint32_t c = 0; c < channels; c++) {
      int32_t v = c == 0 ? left : right;
      uint8_t* p = out + (size_t(f) * channels + c) * width;
      if (bits == 16) {
        int16_t s = static_cast<int16_t>(v);
        std::memcpy(p, &s, 2);
      } else {
        int32_t b = (v < 0 ? v + 255 : v) >> 8;
        if (!isSigned) b += 128;
        *p = static_cast<uint8_t>(b);
      }
    }
  }
  return 0;
}
