// The decoder binding of the video player: decoder plug-ins first, in
// their class's order, then the inbuilt decoders, the CDXL reader and the
// AVI reader (uncompressed 24-bit and MJPEG frames, PCM sound); an AVI
// video packet only names its frame, which the reader fetches by index when
// it is decoded, and a sound packet carries its bytes.
#include "media/video/video_source.h"

#include <bit>
#include <cstring>

#include "formats/avi.h"
#include "formats/cdxl.h"
#include "runtime/os.h"
#include "runtime/class_lists.h"
#include "runtime/file_adapter.h"
#include "abi/plugin_abi.h"
#include "runtime/plugin_formats.h"
#include "runtime/stream.h"
#include "runtime/threads.h"
#include "vm/error_codes.h"

namespace {

struct AVIDecoder {
  vlAVIReader* reader;
  int32_t width, height, frames;
  uint32_t microsPerFrame;
  int32_t next;  // the frame the next packet carries
  // With sound the packets follow the file's chunks: where the walk stands,
  // the video chunks it has passed and the sound bytes before it.
  int32_t videoStream, audioStream, channels, rate, bits;
  int64_t walk;
  int32_t walkFrame;
  uint64_t audioBytes;
  // The reader thread walks the chunks while the video thread fetches
  // frames, both through the reader's one file position.
  vlMutex* lock;
};

struct ReaderLock {
  explicit ReaderLock(AVIDecoder* d) : d(d) { LockMutex(d->lock); }
  ~ReaderLock() { UnlockMutex(d->lock); }
  AVIDecoder* d;
};

struct AVIPacket {
  int32_t frame;  // -1: a sound packet
  uint32_t size, used;  // its sound bytes and how many are decoded
  uint8_t pcm[];
};

void CloseAVI(AVIDecoder* d);

AVIDecoder* OpenAVI(const char* file, const char* adapter, vlVideoFormat* fmt) {
  const uint32_t mode = VL_MODE_READ | (adapter && *adapter ? uint32_t(VL_MODE_ADAPTERS) : 0u);
  vlStream* stream = OpenFileStream(file, mode, adapter);
  if (!stream) return nullptr;
  auto* d = static_cast<AVIDecoder*>(AllocMemory(sizeof(AVIDecoder), 1));
  if (!d) {
    CloseFileStream(stream);
    return nullptr;
  }
  d->lock = CreateMutex();
  if (!d->lock) {
    CloseFileStream(stream);
    FreeMemory(d);
    return nullptr;
  }
  d->reader = OpenAVIReader(stream, &d->width, &d->height, &d->frames);
  if (!d->reader) {
    FreeMutex(d->lock);
    FreeMemory(d);
    return nullptr;
  }
  d->microsPerFrame = GetAVIMicrosPerFrame(d->reader);
  d->videoStream = GetAVIVideoStream(d->reader);
  d->audioStream = GetAVIAudioFormat(d->reader, &d->channels, &d->rate, &d->bits);
  // Sound this reader cannot deliver refuses the file, as a rate no output
  // plays does, rather than playing the picture silent as if all were well.
  if (d->audioStream < -1) {
    CloseAVI(d);
    return nullptr;
  }
  if (d->audioStream >= 0) {
    fmt->audioRate = static_cast<uint32_t>(d->rate);
    fmt->audioChannels = static_cast<uint32_t>(d->channels);
  }
  // Files without a period play at 25 frames a second.
  if (d->microsPerFrame == 0 || d->microsPerFrame > 10000000) d->microsPerFrame = 40000;
  fmt->width = static_cast<uint32_t>(d->width);
  fmt->height = static_cast<uint32_t>(d->height);
  fmt->lengthMs = static_cast<uint32_t>(uint64_t{static_cast<uint32_t>(d->frames)} * d->microsPerFrame / 1000);
  fmt->argb = 1;
  fmt->flags = 1;
  fmt->frameDuration = d->microsPerFrame / 1e6;
  return d;
}

int NextAVIPacket(AVIDecoder* d, vlVideoPacketRecord* out) {
  ReaderLock hold(d);
  if (d->audioStream < 0) {
    if (d->next >= d->frames) return -1;
    auto* p = static_cast<AVIPacket*>(AllocMemory(sizeof(AVIPacket), 1));
    if (!p) return -2;
    p->frame = d->next++;
    *out = {p, 0, sizeof(AVIPacket), 0, p->frame * (d->microsPerFrame / 1e6)};
    return 0;
  }
  const double bytesPerSecond = double(d->rate) * d->channels * (d->bits / 8);
  for (;;) {
    const int64_t at = d->walk;
    int32_t stream = -1;
    uint8_t* data = nullptr;
    uint32_t size = 0;
    if (!ReadAVIChunk(d->reader, &d->walk, d->audioStream, &stream, &data, &size)) return -1;
    // Chunks before a sought frame are passed over.
    const bool before = d->walkFrame < d->next;
    if (stream == d->videoStream) {
      const int32_t frame = d->walkFrame++;
      if (before) continue;
      auto* p = static_cast<AVIPacket*>(AllocMemory(sizeof(AVIPacket), 1));
      if (!p) {
        d->walk = at;
        d->walkFrame--;
        return -2;
      }
      p->frame = frame;
      d->next = frame + 1;
      *out = {p, 0, sizeof(AVIPacket), 0, frame * (d->microsPerFrame / 1e6)};
      return 0;
    }
    if (stream != d->audioStream) continue;
    const double time = double(d->audioBytes) / bytesPerSecond;
    d->audioBytes += size;
    if (before || !size) {
      FreeMemory(data);
      continue;
    }
    auto* p = static_cast<AVIPacket*>(AllocMemory(sizeof(AVIPacket) + size, 0));
    if (!p) {
      FreeMemory(data);
      d->walk = at;
      d->audioBytes -= size;
      return -2;
    }
    p->frame = -1;
    p->size = size;
    p->used = 0;
    std::memcpy(p->pcm, data, size);
    FreeMemory(data);
    *out = {p, 1, size, 0, time};
    return 0;
  }
}

// Sound as 16-bit samples: 8-bit data (unsigned) is widened.
int DecodeAVIAudio(const AVIDecoder* d, AVIPacket* p, int16_t* buffer, uint32_t capacity, uint32_t* bytes) {
  const uint32_t left = p->size - p->used;
  if (d->bits == 16) {
    const uint32_t n = (left < capacity ? left : capacity) & ~1u;
    std::memcpy(buffer, p->pcm + p->used, n);
    // The file's little-endian values in this machine's order.
    if constexpr (std::endian::native == std::endian::big)
      for (uint32_t i = 0; i < n / 2; ++i) buffer[i] = static_cast<int16_t>(__builtin_bswap16(uint16_t(buffer[i])));
    *bytes = n;
    // An odd last byte is no whole sample.
    p->used = n ? p->used + n : p->size;
  } else {
    const uint32_t n = left < capacity / 2 ? left : capacity / 2;
    for (uint32_t i = 0; i < n; ++i) buffer[i] = static_cast<int16_t>((p->pcm[p->used + i] - 128) * 256);
    *bytes = n * 2;
    p->used += n ? n : left;
  }
  return p->used >= p->size ? 1 : 0;
}

int DecodeAVI(AVIDecoder* d, const AVIPacket* p, vlDecodedFrame* frame) {
  if (p->frame < 0) return 0;
  uint32_t* words;
  {
    ReaderLock hold(d);
    words = ReadAVIFrame(d->reader, p->frame);
  }
  if (!words) return 0;
  const size_t n = static_cast<size_t>(d->width) * d->height;
  // Native 0x00RRGGBB words become the bytes A, R, G, B of the frame record.
  for (size_t i = 0; i < n; ++i) frame->pixels[i] = __builtin_bswap32(words[i]);
  FreeMemory(words);
  frame->decodeStamp = frame->presentationStamp = p->frame * (d->microsPerFrame / 1e6);
  frame->position = p->frame;
  frame->repeat = 0;
  return 1;
}

void CloseAVI(AVIDecoder* d) {
  CloseAVIReader(d->reader);
  FreeMutex(d->lock);
  FreeMemory(d);
}

// The source's plug-in entry, when it may be called.
template <class Fn>
Fn PluginEntry(const vlVideoSource* source, Fn vlPluginInfo::*entry) {
  const auto* info = static_cast<const vlPluginInfo*>(source->plugin);
  return info ? CallablePluginEntry<Fn>(info, info->*entry) : nullptr;
}

// Offers the file to the decoder plug-ins the selection allows; true when
// one took it.
bool OpenWithPlugins(vlVideoSource* source, const char* file, const char* loaders, const char* adapter,
                     vlVideoFormat* fmt) {
  BuildLoaderList(loaders, VL_CLASS_VIDEO);
  for (vlClassNode* node = GetLoaderClassList(VL_CLASS_VIDEO); node; node = node->next) {
    vlPluginInfo* plugin = node->plugin;
    if (!IsLoaderAsked(plugin, loaders)) continue;
    auto open = CallablePluginEntry<vlOpenVideoFn>(plugin, plugin->OpenVideo);
    if (!open) continue;
    *fmt = {};
    fmt->endPosition = -2;
    fmt->adapter = adapter;
    void* decoder = open(file, fmt);
    if (!decoder) continue;
    // Frames of no size cannot be shown or grabbed: such a decoder is
    // closed again and the next one asked.
    if (fmt->width == 0 || fmt->height == 0 || fmt->width > 32767 || fmt->height > 32767) {
      if (auto close = CallablePluginEntry<vlCloseVideoFn>(plugin, plugin->CloseVideo)) close(decoder);
      continue;
    }
    source->plugin = plugin;
    source->instance = decoder;
    source->kind = VL_VSOURCE_PLUGIN;
    return true;
  }
  *fmt = {};
  fmt->endPosition = -2;
  fmt->adapter = adapter;
  return false;
}

}  // namespace

vlVideoSource* OpenVideoSource(const char* file, const char* loaders, const char* adapter, vlVideoFormat* fmt) {
  // Decoders get a text, "" when no adapter is named, as the other loaders do.
  if (!adapter) adapter = "";
  auto* source = static_cast<vlVideoSource*>(AllocMemory(sizeof(vlVideoSource), 1));
  if (!source) return nullptr;
  if (OpenWithPlugins(source, file, loaders, adapter, fmt)) return source;
  if (!IsLoaderSelected(loaders, "inbuilt", 0)) {
    FreeMemory(source);
    return nullptr;
  }
  vlVideoFormatInfo cdxl{};
  if (vlCDXLDecoder* d = OpenCDXL(file, &cdxl)) {
    fmt->width = cdxl.width;
    fmt->height = cdxl.height;
    fmt->lengthMs = cdxl.durationMs;
    fmt->audioRate = cdxl.audioRate;
    fmt->audioChannels = cdxl.hasAudio ? 1 : 0;
    fmt->argb = 1;
    fmt->flags = cdxl.seekable ? 1 : 0;
    const uint32_t frames = GetCDXLFrameCount(d);
    fmt->frameDuration = frames ? cdxl.durationMs / 1000.0 / frames : 0.04;
    source->instance = d;
    source->kind = VL_VSOURCE_CDXL;
    return source;
  }
  if (AVIDecoder* d = OpenAVI(file, adapter, fmt)) {
    source->instance = d;
    source->kind = VL_VSOURCE_AVI;
    return source;
  }
  FreeMemory(source);
  return nullptr;
}

void CloseVideoSource(vlVideoSource* source) {
  if (!source) return;
  if (source->kind == VL_VSOURCE_CDXL) CloseCDXL(static_cast<vlCDXLDecoder*>(source->instance));
  else if (source->kind == VL_VSOURCE_AVI) CloseAVI(static_cast<AVIDecoder*>(source->instance));
  else if (auto close = PluginEntry<vlCloseVideoFn>(source, &vlPluginInfo::CloseVideo)) close(source->instance);
  FreeMemory(source);
}

int NextVideoPacket(vlVideoSource* source, vlVideoPacketRecord* packet) {
  *packet = {};
  if (source->kind == VL_VSOURCE_CDXL) {
    vlVideoPacketInfo info{};
    int result = ReadCDXLPacket(static_cast<vlCDXLDecoder*>(source->instance), &info);
    if (result == 0) *packet = {info.packet, info.kind, info.size, 0, info.time};
    return result;
  }
  if (source->kind == VL_VSOURCE_AVI) return NextAVIPacket(static_cast<AVIDecoder*>(source->instance), packet);
  auto next = PluginEntry<vlNextPacketFn>(source, &vlPluginInfo::NextPacket);
  if (!next) return -1;
  int result = next(source->instance, packet);
  if (result >= 0) return 0;
  return result == -1 ? -1 : -2;
}

void FreeVideoPacket(vlVideoSource* source, void* data) {
  if (!data) return;
  if (source->kind == VL_VSOURCE_CDXL) FreeCDXLPacket(data);
  else if (source->kind == VL_VSOURCE_AVI) FreeMemory(data);
  else if (auto release = PluginEntry<vlFreePacketFn>(source, &vlPluginInfo::FreePacket)) release(source->instance, data);
}

int DecodeVideoPacket(vlVideoSource* source, void* data, uint32_t size, vlDecodedFrame* frame) {
  if (source->kind == VL_VSOURCE_CDXL) {
    vlVideoFrameInfo info{};
    info.pixels = frame->pixels;
    if (DecodeCDXLVideo(static_cast<vlCDXLDecoder*>(source->instance), data, &info) != 0) return 0;
    frame->decodeStamp = frame->presentationStamp = info.time;
    frame->position = -1;
    frame->repeat = 0;
    return 1;
  }
  if (source->kind == VL_VSOURCE_AVI)
    return DecodeAVI(static_cast<AVIDecoder*>(source->instance), static_cast<AVIPacket*>(data), frame);
  auto decode = PluginEntry<vlDecodeVideoFrameFn>(source, &vlPluginInfo::DecodeVideoFrame);
  if (!decode || decode(source->instance, data, size, frame) != 0) return 0;
  // A YUV frame without its planes would be read from nowhere: dropped.
  return frame->pixels || (frame->planes[0] && frame->planes[1] && frame->planes[2]) ? 1 : 0;
}

int DecodeAudioPacket(vlVideoSource* source, void* data, uint32_t size, int16_t* buffer, uint32_t capacity,
                      uint32_t* bytes) {
  *bytes = 0;
  if (source->kind == VL_VSOURCE_PLUGIN) {
    auto decode = PluginEntry<vlDecodeAudioFrameFn>(source, &vlPluginInfo::DecodeAudioFrame);
    if (!decode) return 1;
    uint32_t made = 0;
    int used = decode(source->instance, data, size, buffer, capacity, &made);
    // Never more than the buffer holds, and whole 16-bit values.
    *bytes = (made > capacity ? capacity : made) & ~1u;
    // A decoder that makes nothing and keeps the packet would be called
    // for ever: the packet counts as used up.
    return used || *bytes == 0 ? 1 : 0;
  }
  if (source->kind == VL_VSOURCE_AVI) {
    auto* p = static_cast<AVIPacket*>(data);
    if (!p || p->frame >= 0) return 1;
    return DecodeAVIAudio(static_cast<AVIDecoder*>(source->instance), p, buffer, capacity, bytes);
  }
  if (source->kind != VL_VSOURCE_CDXL || capacity < 2 * 65536) return 1;
  vlVideoSampleInfo info{buffer, 0, 0};
  DecodeCDXLAudio(static_cast<vlCDXLDecoder*>(source->instance), data, &info);
  *bytes = info.size;
  return 1;
}

int SeekVideoSource(vlVideoSource* source, int64_t position, uint32_t unitMode) {
  if (position < 0) position = 0;
  if (source->kind == VL_VSOURCE_CDXL) {
    auto* d = static_cast<vlCDXLDecoder*>(source->instance);
    if (GetCDXLFrameCount(d) == 0) return 1233;
    return SeekCDXL(d, static_cast<uint32_t>(position > UINT32_MAX ? UINT32_MAX : position)) ? 1233 : 0;
  }
  if (source->kind == VL_VSOURCE_AVI) {
    auto* d = static_cast<AVIDecoder*>(source->instance);
    const int64_t frame = position * 1000 / d->microsPerFrame;
    if (frame > d->frames) return 1233;
    ReaderLock hold(d);
    d->next = static_cast<int32_t>(frame);
    // With sound the walk starts again from the first chunk.
    d->walk = 0;
    d->walkFrame = 0;
    d->audioBytes = 0;
    return 0;
  }
  if (auto seek = PluginEntry<vlSeekVideoFn>(source, &vlPluginInfo::SeekVideo))
    return seek(source->instance, position, unitMode) == 0 ? 0 : 1233;
  return 1233;
}

void FlushVideoSourceAudio(vlVideoSource* source) {
  if (source->kind == VL_VSOURCE_CDXL) FlushCDXLAudio(static_cast<vlCDXLDecoder*>(source->instance));
  else if (auto flush = PluginEntry<vlFlushAudioFn>(source, &vlPluginInfo::FlushAudio)) flush(source->instance);
}

void FlushVideoSourceVideo(vlVideoSource* source) {
  if (source->kind == VL_VSOURCE_CDXL) FlushCDXLVideo(static_cast<vlCDXLDecoder*>(source->instance));
  else if (auto flush = PluginEntry<vlFlushVideoFn>(source, &vlPluginInfo::FlushVideo)) flush(source->instance);
}

uint32_t GetVideoSourceFrameCount(vlVideoSource* source) {
  if (source->kind == VL_VSOURCE_CDXL) return GetCDXLFrameCount(static_cast<vlCDXLDecoder*>(source->instance));
  if (source->kind == VL_VSOURCE_AVI) return static_cast<uint32_t>(static_cast<AVIDecoder*>(source->instance)->frames);
  auto frames = PluginEntry<vlGetVideoFramesFn>(source, &vlPluginInfo::GetVideoFrames);
  return frames ? frames(source->instance) : 0;
}

const char* GetVideoSourceFormatName(vlVideoSource* source) {
  if (source->kind == VL_VSOURCE_CDXL) return GetCDXLFormatName(static_cast<vlCDXLDecoder*>(source->instance));
  if (source->kind == VL_VSOURCE_AVI) return "AVI";
  auto name = PluginEntry<vlGetVideoFormatFn>(source, &vlPluginInfo::GetVideoFormat);
  const char* text = name ? name(source->instance) : nullptr;
  return text ? text : "";
}
