// CDXL decoder: every frame has the first frame's size and layout (header,
// palette, planes, sound), which is checked once at open; packets are read
// with those sizes, so a damaged later header cannot overrun a buffer. The
// frame rate follows the CD data rate for the frame size. Fuzz target:
// fuzz_cdxl.
#include "formats/cdxl.h"

#include <cstring>

#include "formats/ilbm.h"
#include "formats/pixel_buffer.h"
#include "runtime/os.h"
#include "runtime/stream.h"

namespace {

constexpr uint32_t kHeaderSize = 32;

// The fixed part of a packet; the data follows in the same allocation.
struct Packet {
  uint8_t* graphics;
  uint8_t* chunky;
  int8_t* sound;
  uint32_t palette[256];
  double time;
};

uint32_t BE32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
uint32_t BE16(const uint8_t* p) { return (uint32_t{p[0]} << 8) | p[1]; }

}  // namespace

struct vlCDXLDecoder {
  vlStream* stream;
  int32_t width, height, rowBytes, planes;
  uint32_t frameCount;
  uint32_t currentFrame;
  uint32_t frameSize;
  uint32_t paletteSize;
  uint32_t graphicsSize;
  uint32_t soundSize;
  uint32_t skip;
  int32_t ham;
  double fps;
  int32_t audioPending;
};

vlCDXLDecoder* OpenCDXL(const char* fileName, vlVideoFormatInfo* info) {
  auto* d = static_cast<vlCDXLDecoder*>(AllocMemory(sizeof(vlCDXLDecoder), 1));
  if (!d) return nullptr;
  d->stream = OpenFileStream(fileName, VL_MODE_READ | VL_MODE_ADAPTERS | 16, nullptr);
  uint8_t h[kHeaderSize];
  bool ok = d->stream && ReadFileStream(d->stream, h, kHeaderSize) == kHeaderSize && h[0] == 1;
  const int64_t fileSize = ok ? GetFileStreamSize(d->stream) : -1;
  if (ok) {
    d->frameSize = BE32(h + 2);
    d->width = static_cast<int32_t>(BE16(h + 14));
    d->height = static_cast<int32_t>(BE16(h + 16));
    d->planes = h[19];
    d->paletteSize = BE16(h + 20);
    d->soundSize = BE16(h + 22);
    d->rowBytes = ILBMRowBytes(d->width);
    d->ham = (h[1] & 15) == 1;
    d->graphicsSize = static_cast<uint32_t>(d->planes) * d->height * d->rowBytes;
    const uint64_t used = uint64_t{kHeaderSize} + d->paletteSize + d->soundSize + d->graphicsSize;
    ok = fileSize > 0 && static_cast<uint64_t>(fileSize) > d->frameSize && d->frameSize >= used &&
         d->planes >= 1 && d->planes <= 8 && d->paletteSize <= 512 && PictureSizeOk(d->width, d->height);
    if (ok) {
      d->skip = static_cast<uint32_t>(d->frameSize - used);
      uint8_t next[4];
      ok = SeekFileStream(d->stream, int64_t{d->frameSize} + 2, VL_SEEK_BEGIN) >= 0 &&
           ReadFileStream(d->stream, next, 4) == 4 && BE32(next) == d->frameSize &&
           SeekFileStream(d->stream, 0, VL_SEEK_BEGIN) >= 0;
    }
  }
  if (!ok) {
    if (d->stream) CloseFileStream(d->stream);
    FreeMemory(d);
    return nullptr;
  }
  d->frameCount = static_cast<uint32_t>(fileSize / d->frameSize);
  d->fps = d->frameSize <= 13000   ? 153600.0 / d->frameSize
           : d->frameSize <= 40000 ? 307200.0 / d->frameSize
                                   : 614400.0 / d->frameSize;
  memset(info, 0, sizeof *info);
  info->width = static_cast<uint32_t>(d->width);
  info->height = static_cast<uint32_t>(d->height);
  info->durationMs = static_cast<uint32_t>(d->frameCount / d->fps * 1000);
  info->audioRate = static_cast<uint32_t>(d->soundSize * d->fps);
  info->hasAudio = d->soundSize != 0;
  info->one = 1;
  info->seekable = !IsFileStreamUnseekable(d->stream);
  return d;
}

namespace {

// Ends the current frame once its sound (if any) has been handed out.
void FinishFrame(vlCDXLDecoder* d) {
  if (d->skip) SeekFileStream(d->stream, d->skip, VL_SEEK_CURRENT);
  ++d->currentFrame;
}

}  // namespace

int ReadCDXLPacket(vlCDXLDecoder* d, vlVideoPacketInfo* out) {
  const double time = d->currentFrame / d->fps;
  if (d->audioPending) {
    const uint32_t size = sizeof(Packet) + d->soundSize;
    auto* p = static_cast<Packet*>(AllocMemory(size, 1));
    if (!p) return -2;
    p->sound = reinterpret_cast<int8_t*>(p + 1);
    if (ReadFileStream(d->stream, p->sound, d->soundSize) != d->soundSize) {
      FreeMemory(p);
      return -1;
    }
    d->audioPending = 0;
    p->time = time;
    *out = {p, 1, size, time};
    FinishFrame(d);
    return 0;
  }
  if (IsFileStreamAtEnd(d->stream) || d->currentFrame >= d->frameCount) return -1;
  const size_t pixels = static_cast<size_t>(d->width) * d->height;
  const size_t size = sizeof(Packet) + d->graphicsSize + pixels;
  auto* p = static_cast<Packet*>(AllocMemory(size, 1));
  if (!p) return -2;
  p->graphics = reinterpret_cast<uint8_t*>(p + 1);
  p->chunky = p->graphics + d->graphicsSize;
  uint8_t header[kHeaderSize], palette[512];
  if (ReadFileStream(d->stream, header, kHeaderSize) != kHeaderSize ||
      ReadFileStream(d->stream, palette, d->paletteSize) != d->paletteSize ||
      ReadFileStream(d->stream, p->graphics, d->graphicsSize) != d->graphicsSize) {
    FreeMemory(p);
    return -1;
  }
  for (uint32_t i = 0; i < d->paletteSize / 2; ++i) {
    const uint32_t w = BE16(palette + 2 * i);
    p->palette[i] = ((w >> 8) & 15) * 17 << 16 | ((w >> 4) & 15) * 17 << 8 | (w & 15) * 17;
  }
  p->time = time;
  d->audioPending = d->soundSize != 0 && BE16(header + 22) != 0;
  if (!d->audioPending) {
    if (d->soundSize) SeekFileStream(d->stream, d->soundSize, VL_SEEK_CURRENT);
    FinishFrame(d);
  }
  *out = {p, 0, static_cast<uint32_t>(size), time};
  return 0;
}

int DecodeCDXLVideo(vlCDXLDecoder* d, void* packet, vlVideoFrameInfo* frame) {
  auto* p = static_cast<Packet*>(packet);
  frame->stride = d->width * 4;
  const size_t n = static_cast<size_t>(d->width) * d->height;
  memset(p->chunky, 0, n);
  PlanarToChunky(p->graphics, d->width, d->height, d->planes, d->rowBytes, p->chunky, d->width);
  if (d->ham) (d->planes <= 6 ? DecodeHAM6 : DecodeHAM8)(p->chunky, frame->pixels, p->palette, d->width, d->height);
  else ChunkyToRGB(p->chunky, frame->pixels, p->palette, d->width, d->height);
  for (size_t i = 0; i < n; ++i) frame->pixels[i] = __builtin_bswap32(frame->pixels[i]);
  frame->word0 = frame->word1 = 0;
  frame->time = p->time;
  frame->duration = -1.0;
  return 0;
}

int DecodeCDXLAudio(vlCDXLDecoder* d, void* packet, vlVideoSampleInfo* samples) {
  auto* p = static_cast<Packet*>(packet);
  for (uint32_t i = 0; i < d->soundSize; ++i) samples->buffer[i] = static_cast<int16_t>(p->sound[i] * 256);
  samples->size = 2 * d->soundSize;
  samples->channels = 1;
  return 0;
}

int SeekCDXL(vlCDXLDecoder* d, uint32_t milliseconds) {
  uint32_t frame = static_cast<uint32_t>(milliseconds / 1000.0 * d->fps);
  if (frame >= d->frameCount) frame = d->frameCount - 1;
  SeekFileStream(d->stream, int64_t{frame} * d->frameSize, VL_SEEK_BEGIN);
  d->currentFrame = frame;
  d->audioPending = 0;
  return 0;
}

uint32_t GetCDXLFrameCount(vlCDXLDecoder* d) { return d->frameCount; }
const char* GetCDXLFormatName(vlCDXLDecoder*) { return "CDXL"; }
void FlushCDXLAudio(vlCDXLDecoder*) {}
void FlushCDXLVideo(vlCDXLDecoder*) {}
void FreeCDXLPacket(void* packet) { FreeMemory(packet); }

void CloseCDXL(vlCDXLDecoder* d) {
  if (!d) return;
  CloseFileStream(d->stream);
  FreeMemory(d);
}
