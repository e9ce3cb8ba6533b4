// IFF 8SVX / 16SV and RIFF WAVE reading, RIFF WAVE writing. Depends on the
// runtime's file streams. Every size a file states is checked against the
// bytes the file holds, so a lying header yields a shorter sound, never a
// read past the data.
#include "media/sound/sound_formats.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "runtime/os.h"
#include "runtime/errors.h"
#include "runtime/replace_file.h"
#include "runtime/stream.h"
#include "vm/error_codes.h"

namespace {

bool ReadExact(vlStream* file, void* buffer, int64_t count) {
  return ReadFileStream(file, buffer, count) == count;
}

bool ReadU32BE(vlStream* file, uint32_t* out) {
  uint8_t b[4];
  if (!ReadExact(file, b, 4)) return false;
  *out = uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
  return true;
}

bool ReadU32LE(vlStream* file, uint32_t* out) {
  uint8_t b[4];
  if (!ReadExact(file, b, 4)) return false;
  *out = uint32_t(b[3]) << 24 | uint32_t(b[2]) << 16 | uint32_t(b[1]) << 8 | b[0];
  return true;
}

bool Skip(vlStream* file, int64_t count) { return SeekFileStream(file, count, VL_SEEK_CURRENT) >= 0; }

int64_t Tell(vlStream* file) { return SeekFileStream(file, 0, VL_SEEK_CURRENT); }

// The rest of a chunk of `size` bytes, `count` of them left. RIFF and IFF
// pad an odd-sized chunk with a zero byte; a writer that left it out goes
// straight on with the next chunk's id, whose first byte is never zero,
// and a file may end without it.
bool SkipChunk(vlStream* file, int64_t count, uint32_t size) {
  if (!Skip(file, count)) return false;
  if (!(size & 1)) return true;
  uint8_t pad = 0;
  const int64_t got = ReadFileStream(file, &pad, 1);
  if (got == 1 && pad != 0) return Skip(file, -1);
  return got >= 0;
}

// Bytes the file holds from offset on; a size that cannot be known does
// not limit.
int64_t BytesFrom(vlStream* file, int64_t offset) {
  int64_t size = GetFileStreamSize(file);
  if (size < 0) return INT64_MAX;
  return size > offset ? size - offset : 0;
}

void FillStream(vlSoundStream* s, uint32_t channels, uint32_t bits, uint32_t flags) {
  s->channels = channels;
  s->bits = bits;
  s->flags = flags;
  s->bytesPerFrame = bits / 8 * channels;
  s->position = 0;
  s->seekable = (GetFileStreamFlags(s->file) & VL_STREAM_UNSEEKABLE) ? 0 : 1;
}

uint8_t* Scratch(vlSoundStream* s, size_t bytes) {
  if (s->scratchSize < bytes) {
    auto* grown = static_cast<uint8_t*>(std::realloc(s->scratch, bytes));
    if (!grown) return nullptr;
    s->scratch = grown;
    s->scratchSize = bytes;
  }
  return s->scratch;
}

}  // namespace

int OpenIffSound(vlSoundStream* s, int sixteenBit) {
  vlStream* file = s->file;
  uint32_t vhdrSize = 0;
  if (SeekFileStream(file, 16, VL_SEEK_BEGIN) < 0 || !ReadU32BE(file, &vhdrSize) || vhdrSize != 20) return 0;
  uint8_t vhdr[20];
  if (!ReadExact(file, vhdr, 20)) return 0;
  uint32_t rate = uint32_t(vhdr[12]) << 8 | vhdr[13];
  if (vhdr[15] != 0) return 0;  // compressed bodies are not read
  uint32_t stereo = 0;
  for (;;) {
    char id[4];
    uint32_t size;
    if (!ReadExact(file, id, 4) || !ReadU32BE(file, &size)) return 0;
    if (std::memcmp(id, "BODY", 4) == 0) {
      uint32_t channels = stereo == 6 ? 2 : 1;
      uint32_t width = sixteenBit ? 2 : 1;
      FillStream(s, channels, sixteenBit ? 16 : 8,
                 sixteenBit ? (VL_PCM_BIG_ENDIAN | VL_PCM_SIGNED) : 0);
      s->rate = rate;
      s->dataOffset = Tell(file);
      int64_t frames = int64_t(size) / width / channels;
      s->rightBlock = channels == 2 ? frames * width : 0;
      // The right block lies behind the whole left one: a body cut short
      // loses frames from both.
      int64_t held = BytesFrom(file, s->dataOffset) - s->rightBlock;
      frames = std::min(frames, std::max<int64_t>(held, 0) / width);
      s->frames = frames;
      s->pcmSize = frames * s->bytesPerFrame;
      return 1;
    }
    if (std::memcmp(id, "CHAN", 4) == 0 && size >= 4) {
      if (!ReadU32BE(file, &stereo) || !SkipChunk(file, size - 4, size)) return 0;
    } else if (!SkipChunk(file, size, size)) {
      return 0;
    }
  }
}

int OpenWaveSound(vlSoundStream* s) {
  vlStream* file = s->file;
  if (SeekFileStream(file, 12, VL_SEEK_BEGIN) < 0) return 0;
  uint32_t rate = 0, channels = 1, bits = 0;
  for (;;) {
    char id[4];
    uint32_t size;
    if (!ReadExact(file, id, 4) || !ReadU32LE(file, &size)) return 0;
    if (std::memcmp(id, "fmt ", 4) == 0) {
      if (size != 16 && size != 18 && size != 40) return 0;
      uint8_t fmt[16];
      if (!ReadExact(file, fmt, 16)) return 0;
      uint32_t tag = fmt[0] | fmt[1] << 8;
      if (tag != 1) return 0;
      channels = (fmt[2] | fmt[3] << 8) == 2 ? 2 : 1;
      rate = uint32_t(fmt[4]) | uint32_t(fmt[5]) << 8 | uint32_t(fmt[6]) << 16 | uint32_t(fmt[7]) << 24;
      bits = fmt[14] | fmt[15] << 8;
      if (bits != 8 && bits != 16) return 0;
      if (!Skip(file, size - 16)) return 0;
    } else if (std::memcmp(id, "data", 4) == 0) {
      if (rate == 0) return 0;
      FillStream(s, channels, bits, bits == 16 ? uint32_t(VL_PCM_SIGNED) : 0u);
      s->rate = rate;
      s->dataOffset = Tell(file);
      int64_t bytes = std::min<int64_t>(size, BytesFrom(file, s->dataOffset));
      s->frames = bytes / s->bytesPerFrame;
      s->pcmSize = s->frames * s->bytesPerFrame;
      s->rightBlock = 0;
      return 1;
    } else if (!SkipChunk(file, size, size)) {
      return 0;
    }
  }
}

uint32_t ReadBuiltinSound(vlSoundStream* s, uint8_t* buffer, uint32_t wanted, int* end) {
  int64_t left = s->frames - s->position;
  if (left < 0) left = 0;
  uint32_t n = static_cast<uint32_t>(std::min<int64_t>(wanted, left));
  if (n < wanted && end) *end = 1;
  uint32_t got = 0;
  if (n == 0) return 0;
  if (s->kind == VL_STREAM_WAVE || s->channels == 1) {
    int64_t at = s->dataOffset + s->position * s->bytesPerFrame;
    if (SeekFileStream(s->file, at, VL_SEEK_BEGIN) < 0) return 0;
    int64_t bytes = ReadFileStream(s->file, buffer, int64_t(n) * s->bytesPerFrame);
    got = bytes > 0 ? static_cast<uint32_t>(bytes / s->bytesPerFrame) : 0;
    if (s->kind == VL_STREAM_8SVX) {
      for (uint32_t i = 0; i < got; i++) buffer[i] = static_cast<uint8_t>(buffer[i] + 128);
    }
  } else {
    // IFF stereo: all left values, then all right values.
    uint32_t width = s->bits / 8;
    size_t half = size_t(n) * width;
    uint8_t* scratch = Scratch(s, half * 2);
    if (!scratch) return 0;
    int64_t at = s->dataOffset + s->position * width;
    if (SeekFileStream(s->file, at, VL_SEEK_BEGIN) < 0) return 0;
    int64_t l = ReadFileStream(s->file, scratch, int64_t(half));
    if (SeekFileStream(s->file, at + s->rightBlock, VL_SEEK_BEGIN) < 0) return 0;
    int64_t r = ReadFileStream(s->file, scratch + half, int64_t(half));
    got = static_cast<uint32_t>(std::max<int64_t>(0, std::min(l, r)) / width);
    for (uint32_t i = 0; i < got; i++) {
      if (width == 1) {
        buffer[i * 2] = static_cast<uint8_t>(scratch[i] - 128);
        buffer[i * 2 + 1] = static_cast<uint8_t>(scratch[half + i] - 128);
      } else {
        std::memcpy(buffer + i * 4, scratch + i * 2, 2);
        std::memcpy(buffer + i * 4 + 2, scratch + half + i * 2, 2);
      }
    }
  }
  if (got < wanted && end) *end = 1;
  s->position += got;
  s->lastFrames = got;
  s->lastBytes = got * s->bytesPerFrame;
  return got;
}

void SeekBuiltinSound(vlSoundStream* s, int64_t frame) {
  if (frame >= 0 && frame < s->frames) s->position = frame;
}

int WriteWaveFile(const char* name, const vlSoundData* data, uint32_t bytes, uint32_t rate,
                  uint32_t format) {
  uint32_t padded = (bytes + 3) & ~3u;
  vlReplacement out;
  if (int status = OpenReplacement(&out, name, VL_MODE_WRITE | VL_MODE_ADAPTERS, nullptr)) return status;
  vlStream* file = out.stream;
  uint32_t block = data->bytesPerFrame;
  bool ok = WriteFileStream(file, "RIFF", 4) == 4 && WriteFileStreamLongLE(file, padded + 36) &&
            WriteFileStream(file, "WAVEfmt ", 8) == 8 && WriteFileStreamLongLE(file, 16) &&
            WriteFileStreamWordLE(file, 1) && WriteFileStreamWordLE(file, data->channels) &&
            WriteFileStreamLongLE(file, rate) && WriteFileStreamLongLE(file, rate * block) &&
            WriteFileStreamWordLE(file, block) && WriteFileStreamWordLE(file, data->bits) &&
            WriteFileStream(file, "data", 4) == 4 && WriteFileStreamLongLE(file, bytes);
  if (!ok || SeekFileStream(file, 0, VL_SEEK_CURRENT) != 44) return EndReplacement(&out, ERR_WRITE);
  // WAV holds unsigned 8-bit and little-endian 16-bit data.
  bool addBias = format == VL_SMP_S8_MONO || format == VL_SMP_S8_STEREO;
  bool swap = data->bits == 16 && (data->flags & VL_PCM_BIG_ENDIAN);
  constexpr uint32_t kChunk = 65536;
  auto* buffer = static_cast<uint8_t*>(AllocMemory(kChunk, 1));
  if (!buffer) return EndReplacement(&out, ERR_MEM);
  for (uint32_t done = 0; done < padded && ok;) {
    uint32_t n = std::min(kChunk, padded - done);
    uint32_t real = done < bytes ? std::min(n, bytes - done) : 0;
    std::memcpy(buffer, data->pcm + done, real);
    std::memset(buffer + real, 0, n - real);
    if (addBias) {
      for (uint32_t i = 0; i < real; i++) buffer[i] = static_cast<uint8_t>(buffer[i] + 128);
    } else if (swap) {
      for (uint32_t i = 0; i + 1 < real; i += 2) std::swap(buffer[i], buffer[i + 1]);
    }
    ok = WriteFileStream(file, buffer, n) == n;
    done += n;
  }
  FreeMemory(buffer);
  return EndReplacement(&out, ok ? 0 : ERR_WRITE);
}
