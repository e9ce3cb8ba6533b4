// A media test plug-in built on its own, in variants chosen by compile
// definitions: a sound reader serving a generated waveform, a video decoder
// serving generated frames (and sound), and an audio adapter whose channels
// the tests drain themselves. It knows the player only through the service
// table and the records of the media interfaces. Calls worth checking are
// appended to the file named by VL_TEST_PLUGIN_LOG.
//
// Its files are one text line:
//   "TSND rate channels bits declaredFrames servedFrames flags subsongs"
//     (declaredFrames -1: length open; flags as the format record's, plus
//     0x100: claim more frames read than asked for)
//   "TVID width height frames fps audioRate audioChannels flags"
//     (flags bit 0 seekable, bit 1 unit mode in frames, bit 2 YUV frames,
//     bit 3 with bit 1: the units are 90 kHz ticks, frame k at k x 90000 / fps)
#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "abi/plugin_abi.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

#ifndef PLUGIN_MODULE
#define PLUGIN_MODULE "testsound"
#endif
#ifndef PLUGIN_CAPS
#define PLUGIN_CAPS PLUGINCAPS_SOUND
#endif

namespace {

const vlServiceTable* gSvc = nullptr;
vlPluginInfo* gInfo = nullptr;
// Packets are read on the demuxer thread and given back on the decoding and
// sound threads.
std::atomic<int> gLivePackets{0};

void Log(const char* format, ...) {
  const char* path = std::getenv("VL_TEST_PLUGIN_LOG");
  if (!path) return;
  if (FILE* f = std::fopen(path, "a")) {
    va_list args;
    va_start(args, format);
    std::vfprintf(f, format, args);
    va_end(args);
    std::fputc('\n', f);
    std::fclose(f);
  }
}

const char* BaseName(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash ? slash + 1 : path;
}

// ---- sound reader ------------------------------------------------------------

struct SoundFile {
  int rate, channels, bits;
  long declared, served;
  unsigned flags, subsongs, subsong;
  long position;
};

}  // namespace

// The value the reader serves for a frame and channel of a sub-song; the
// tests compute the same.
EXPORT int TestSoundValue(long frame, int channel, unsigned subsong, int bits) {
  if (bits == 8) return int((frame * 3 + channel * 50 + subsong * 7) % 256);
  return int((frame * 37 + channel * 1000 + subsong * 5000) % 30000) - 15000;
}

EXPORT void* OpenStream(const char* file, vlSoundStreamFormat* fmt, uint32_t version, const char* adapter) {
  SoundFile f{};
  FILE* in = std::fopen(file, "r");
  if (!in) return nullptr;
  int n = std::fscanf(in, "TSND %d %d %d %ld %ld %u %u", &f.rate, &f.channels, &f.bits, &f.declared, &f.served,
                      &f.flags, &f.subsongs);
  std::fclose(in);
  if (n != 7) return nullptr;
  Log("open %s sub=%u version=%u adapter=%s", BaseName(file), fmt->subsong, version, adapter ? adapter : "(null)");
  auto* s = new SoundFile(f);
  s->subsong = fmt->subsong;
  fmt->rate = uint32_t(f.rate);
  fmt->channels = uint32_t(f.channels);
  fmt->bits = uint32_t(f.bits);
  fmt->frames = f.declared < 0 ? VL_SOUND_LENGTH_OPEN : uint32_t(f.declared);
  fmt->flags = f.flags & 7;
  fmt->subsongs = f.subsongs;
  fmt->bitRate = 1234;
  return s;
}

EXPORT void CloseStream(void* handle) {
  Log("close");
  delete static_cast<SoundFile*>(handle);
}

EXPORT int SeekStream(void* handle, uint32_t frame) {
  Log("seek %u", frame);
  static_cast<SoundFile*>(handle)->position = frame;
  return 0;
}

EXPORT int StreamSamples(void* handle, vlSoundReadRequest* r) {
  auto* s = static_cast<SoundFile*>(handle);
  long left = s->served - s->position;
  uint32_t n = left <= 0 ? 0 : (left < long(r->frames) ? uint32_t(left) : r->frames);
  auto* out = static_cast<uint8_t*>(r->buffer);
  for (uint32_t i = 0; i < n; i++) {
    for (int c = 0; c < s->channels; c++) {
      int v = TestSoundValue(s->position + i, c, s->subsong, s->bits);
      if (s->bits == 8) {
        *out++ = uint8_t(v);
      } else if (s->flags & VL_SOUNDFMT_BIG_ENDIAN) {
        *out++ = uint8_t(uint16_t(v) >> 8);
        *out++ = uint8_t(v);
      } else {
        *out++ = uint8_t(v);
        *out++ = uint8_t(uint16_t(v) >> 8);
      }
    }
  }
  s->position += n;
  r->framesOut = n;
  // A faulty reader that claims more than it was given room for.
  if (s->flags & 0x100) r->framesOut = r->frames + 100;
  r->end = s->position >= s->served ? 1 : 0;
  return 0;
}

EXPORT const char* GetFormatName(void*) { return "Test wave"; }

// ---- video decoder -----------------------------------------------------------

namespace {

struct VideoFile {
  int width, height, frames, fps, audioRate, audioChannels;
  unsigned flags;
  int next;          // frame of the next video packet
  int soundPending;  // the sound of frame next goes out first
  long soundFrames;  // sound frames served so far
  uint8_t* planes[3];
};

struct VideoPacket {
  uint32_t magic;
  int frame;
};
constexpr uint32_t kVideoMagic = 0x54564944;

// Decoder units a frame lasts in unit mode.
long UnitsPerFrame(const VideoFile* v) { return (v->flags & 8) ? 90000 / v->fps : 1; }

}  // namespace

EXPORT uint32_t TestVideoPixel(int frame, int x, int y) {
  return 0xFF000000u | uint32_t((frame * 10) & 255) << 16 | uint32_t(x & 255) << 8 | uint32_t(y & 255);
}
EXPORT int16_t TestVideoSound(long frame, int channel) { return int16_t((frame * 13 + channel * 3000) % 20000 - 10000); }
EXPORT int TestLivePackets() { return gLivePackets; }

EXPORT void* OpenVideo(const char* file, vlVideoFormat* fmt) {
  VideoFile f{};
  FILE* in = std::fopen(file, "r");
  if (!in) return nullptr;
  int n = std::fscanf(in, "TVID %d %d %d %d %d %d %u", &f.width, &f.height, &f.frames, &f.fps, &f.audioRate,
                      &f.audioChannels, &f.flags);
  std::fclose(in);
  if (n != 7 || f.fps <= 0) return nullptr;
  Log("openvideo %s end=%lld adapter=%s", BaseName(file), static_cast<long long>(fmt->endPosition),
      fmt->adapter ? fmt->adapter : "(null)");
  auto* v = new VideoFile(f);
  v->soundPending = f.audioChannels > 0;
  fmt->width = uint32_t(f.width);
  fmt->height = uint32_t(f.height);
  fmt->lengthMs = uint32_t(f.frames * 1000 / f.fps);
  fmt->audioRate = uint32_t(f.audioRate);
  fmt->audioChannels = uint32_t(f.audioChannels);
  fmt->unitMode = (f.flags & 2) ? 1 : 0;
  fmt->unitsPerSecond = uint32_t(f.fps * UnitsPerFrame(&f));
  fmt->argb = (f.flags & 4) ? 0 : 1;
  fmt->flags = f.flags & 1;
  fmt->frameDuration = 1.0 / f.fps;
  if (f.flags & 2) fmt->endPosition = f.frames * UnitsPerFrame(&f);
  for (int i = 0; i < 3; i++) v->planes[i] = static_cast<uint8_t*>(std::calloc(size_t(f.width) * f.height, 1));
  return v;
}

EXPORT void CloseVideo(void* decoder) {
  auto* v = static_cast<VideoFile*>(decoder);
  Log("closevideo live=%d", gLivePackets.load());
  for (uint8_t* plane : v->planes) std::free(plane);
  delete v;
}

EXPORT int NextPacket(void* decoder, vlVideoPacketRecord* packet) {
  auto* v = static_cast<VideoFile*>(decoder);
  if (v->next >= v->frames) return -1;
  const double time = double(v->next) / v->fps;
  if (v->soundPending) {
    // One frame's worth of sound, ahead of the frame.
    const long frames = v->audioRate / v->fps;
    auto* pcm = static_cast<int16_t*>(std::malloc(size_t(frames) * v->audioChannels * 2));
    for (long i = 0; i < frames; i++)
      for (int c = 0; c < v->audioChannels; c++) pcm[i * v->audioChannels + c] = TestVideoSound(v->soundFrames + i, c);
    v->soundFrames += frames;
    v->soundPending = 0;
    gLivePackets++;
    *packet = {pcm, 1, uint32_t(frames * v->audioChannels * 2), 0, time};
    return 0;
  }
  auto* p = static_cast<VideoPacket*>(std::malloc(sizeof(VideoPacket)));
  *p = {kVideoMagic, v->next++};
  v->soundPending = v->audioChannels > 0;
  gLivePackets++;
  *packet = {p, 0, sizeof(VideoPacket), 0, time};
  return 0;
}

EXPORT void FreePacket(void*, void* data) {
  gLivePackets--;
  std::free(data);
}

EXPORT int DecodeVideoFrame(void* decoder, void* data, uint32_t size, vlDecodedFrame* frame) {
  auto* v = static_cast<VideoFile*>(decoder);
  auto* p = static_cast<VideoPacket*>(data);
  if (size != sizeof(VideoPacket) || p->magic != kVideoMagic) return 1;
  if (v->flags & 4) {
    // Y rises with x and the frame; grey chroma.
    const int cw = (v->width + 1) / 2;
    for (int y = 0; y < v->height; y++)
      for (int x = 0; x < v->width; x++) v->planes[0][y * v->width + x] = uint8_t(16 + (x * 8 + p->frame) % 200);
    std::memset(v->planes[1], 128, size_t(cw) * ((v->height + 1) / 2));
    std::memset(v->planes[2], 128, size_t(cw) * ((v->height + 1) / 2));
    for (int i = 0; i < 3; i++) frame->planes[i] = v->planes[i];
    frame->planeRowBytes[0] = v->width;
    frame->planeRowBytes[1] = frame->planeRowBytes[2] = cw;
    frame->pixels = nullptr;
  } else {
    for (int y = 0; y < v->height; y++)
      for (int x = 0; x < v->width; x++) {
        const uint32_t argb = TestVideoPixel(p->frame, x, y);
        // Bytes A, R, G, B in memory order.
        auto* out = reinterpret_cast<uint8_t*>(&frame->pixels[y * v->width + x]);
        out[0] = uint8_t(argb >> 24);
        out[1] = uint8_t(argb >> 16);
        out[2] = uint8_t(argb >> 8);
        out[3] = uint8_t(argb);
      }
  }
  frame->decodeStamp = frame->presentationStamp = double(p->frame) / v->fps;
  frame->position = p->frame * ((v->flags & 2) ? UnitsPerFrame(v) : 1);
  frame->repeat = 0;
  return 0;
}

EXPORT int DecodeAudioFrame(void*, void* data, uint32_t size, int16_t* buffer, uint32_t capacity, uint32_t* bytes) {
  const uint32_t n = size < capacity ? size : capacity;
  std::memcpy(buffer, data, n);
  *bytes = n;
  return 1;
}

EXPORT int SeekVideo(void* decoder, int64_t position, uint32_t unitMode) {
  auto* v = static_cast<VideoFile*>(decoder);
  Log("seekvideo %lld unit=%u", static_cast<long long>(position), unitMode);
  const long frame = unitMode ? long(position / UnitsPerFrame(v)) : long(position * v->fps / 1000);
  if (frame < 0 || frame > v->frames) return 1;
  v->next = int(frame);
  v->soundFrames = frame * (v->audioRate / v->fps);
  v->soundPending = v->audioChannels > 0;
  return 0;
}

EXPORT void FlushAudio(void*) {}
EXPORT void FlushVideo(void*) {}
EXPORT uint32_t GetVideoFrames(void* decoder) { return uint32_t(static_cast<VideoFile*>(decoder)->frames); }
EXPORT const char* GetVideoFormat(void*) { return "Test video"; }

// ---- audio adapter -----------------------------------------------------------

namespace {

struct AdapterChannel {
  int live;
  vlAdapterFillFn fill;
  void* entry;
  uint32_t format, rate, volume, panning;
};
constexpr int kMaxChannels = 16;
AdapterChannel gChannels[kMaxChannels];
int gAudio = 0;

}  // namespace

EXPORT void* OpenAudio(void*, void*) {
  Log("openaudio");
  return &gAudio;
}

EXPORT void CloseAudio(void*) { Log("closeaudio"); }

EXPORT void* AllocAudioChannel(void* audio, uint32_t format, uint32_t rate, uint32_t volume, vlAdapterFillFn fill,
                               void*, void* entry, uint32_t) {
  if (audio != &gAudio) return nullptr;
  for (int i = 0; i < kMaxChannels; i++) {
    if (gChannels[i].live) continue;
    gChannels[i] = {1, fill, entry, format, rate, volume, 128};
    Log("alloc %d format=%u rate=%u volume=%u", i, format, rate, volume);
    return &gChannels[i];
  }
  return nullptr;
}

EXPORT void FreeAudioChannel(void*, void* channel) {
  auto* c = static_cast<AdapterChannel*>(channel);
  Log("free %d", int(c - gChannels));
  c->live = 0;
}

EXPORT void SetChannelAttributes(void*, void* channel, const vlTagItem* tags) {
  auto* c = static_cast<AdapterChannel*>(channel);
  for (; tags && tags->tag; ++tags) {
    if (tags->tag == VL_AUDIOTAG_RATE) c->rate = uint32_t(tags->value);
    if (tags->tag == VL_AUDIOTAG_VOLUME) c->volume = uint32_t(tags->value);
    if (tags->tag == VL_AUDIOTAG_PANNING) c->panning = uint32_t(tags->value);
  }
  Log("attr %d rate=%u volume=%u panning=%u", int(c - gChannels), c->rate, c->volume, c->panning);
}

// The tests play the adapter's part: pull frames of a live channel.
EXPORT int TestAudioPull(int index, void* buffer, uint32_t frames) {
  if (index < 0 || index >= kMaxChannels || !gChannels[index].live) return -1;
  AdapterChannel& c = gChannels[index];
  return int(c.fill(&gAudio, &c, buffer, frames, c.entry));
}

EXPORT int TestAudioChannel(int index, uint32_t* format, uint32_t* rate, uint32_t* volume, uint32_t* panning) {
  if (index < 0 || index >= kMaxChannels || !gChannels[index].live) return 0;
  *format = gChannels[index].format;
  *rate = gChannels[index].rate;
  *volume = gChannels[index].volume;
  *panning = gChannels[index].panning;
  return 1;
}

// ---- the plug-in -------------------------------------------------------------

EXPORT int InitPlugin(vlPluginInfo* info, const vlServiceTable* svc, const char*, void*) {
  gSvc = svc;
  gInfo = info;
  info->capabilities = PLUGIN_CAPS;
  info->version = 1;
  info->revision = 0;
  info->programVersion = 6;
  info->programRevision = 0;
  info->moduleName = PLUGIN_MODULE;
  info->name = "Media test plug-in";
  return 1;
}

EXPORT void ClosePlugin() {}

// An audio adapter installs itself when it is required; the option text
// holds its flags and tags as "flags channels buffersize".
EXPORT int RequirePlugin(vlVMState*, int32_t, int32_t, uint32_t, const vlTagItem* tags) {
  unsigned flags = 0, channels = 4, buffer = 4096;
  for (const vlTagItem* t = tags; t && t->tag != VL_TAG_END; ++t)
    if (t->tag == VL_REQUIRE_OPTION && t->value)
      std::sscanf(reinterpret_cast<const char*>(t->value), "%u %u %u", &flags, &channels, &buffer);
  const uint32_t pairs[] = {VL_AUDIOADAPTER_CHANNELS, channels, VL_AUDIOADAPTER_BUFFERSIZE, buffer, 0, 0};
  int rc = gSvc->sound->SetAudioAdapter(gInfo, flags, pairs);
  Log("install %d", rc);
  return rc;
}

// Each entry as the type the player calls it through: a signature that
// drifts from the plug-in header fails to build.
[[maybe_unused]] static void CheckEntryTypes(vlPluginInfo* info) {
  info->InitPlugin = InitPlugin;
  info->ClosePlugin = ClosePlugin;
  info->RequirePlugin = RequirePlugin;
  info->OpenStream = OpenStream;
  info->CloseStream = CloseStream;
  info->SeekStream = SeekStream;
  info->StreamSamples = StreamSamples;
  info->GetFormatName = GetFormatName;
  info->OpenVideo = OpenVideo;
  info->CloseVideo = CloseVideo;
  info->NextPacket = NextPacket;
  info->FreePacket = FreePacket;
  info->DecodeVideoFrame = DecodeVideoFrame;
  info->DecodeAudioFrame = DecodeAudioFrame;
  info->SeekVideo = SeekVideo;
  info->FlushAudio = FlushAudio;
  info->FlushVideo = FlushVideo;
  info->GetVideoFrames = GetVideoFrames;
  info->GetVideoFormat = GetVideoFormat;
  info->OpenAudio = OpenAudio;
  info->CloseAudio = CloseAudio;
  info->AllocAudioChannel = AllocAudioChannel;
  info->FreeAudioChannel = FreeAudioChannel;
  info->SetChannelAttributes = SetChannelAttributes;
}
