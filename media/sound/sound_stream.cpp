// The sound loader and stream operations by kind. Depends on the built-in
// readers, the Protracker parser, the runtime's streams and loader lists,
// and the platform's native reader (which has none on this platform).
#include "media/sound/sound_stream.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "media/sound/protracker.h"
#include "media/sound/sound_data.h"
#include "media/sound/sound_formats.h"
#include "media/sound/sound_plugin.h"
#include "platform/alsa_output.h"
#include "platform/wake_pipe.h"
#include "runtime/os.h"
#include "runtime/threads.h"
#include "runtime/errors.h"
#include "runtime/class_lists.h"
#include "runtime/file_adapter.h"
#include "abi/plugin_abi.h"
#include "runtime/plugin_formats.h"
#include "runtime/stream.h"
#include "vm/error_codes.h"

namespace {

constexpr uint32_t kModuleOutputRate = 48000;

void WorkOutFormat(vlSoundStream* s) {
  bool isSigned = s->flags & VL_PCM_SIGNED;
  if (s->bits == 8) s->format = s->channels == 2 ? (isSigned ? 3 : 1) : (isSigned ? 2 : 0);
  else if (s->bits == 16) s->format = s->channels == 2 ? 5 : 4;
  else s->format = -1;
  s->output.frameSize = s->bytesPerFrame;
  s->output.format = s->format < 0 ? 0 : uint32_t(s->format);
  s->output.byteSwapped = s->flags & VL_PCM_BIG_ENDIAN;
}

// Frames queued and not yet read; the queue lock is held.
uint64_t PendingLocked(const vlCallbackBlock* cb) {
  uint64_t pending = 0;
  for (const vlPcmNode* node = cb->head.next; node != &cb->head; node = node->next) {
    if (!node->done && node->data) pending += node->frames - node->position;
  }
  return pending;
}

uint32_t ReadCallback(vlSoundStream* s, uint8_t* buffer, uint32_t wanted, int* end) {
  vlCallbackBlock* cb = s->callback;
  LockMutex(cb->lock);
  cb->reads++;
  uint32_t got = 0;
  for (vlPcmNode* node = cb->head.next; node != &cb->head && got < wanted; node = node->next) {
    if (node->done) continue;
    if (!node->data) {
      if (end) *end = 1;
      UnlockMutex(cb->lock);
      s->position += got;
      s->lastFrames = got;
      s->lastBytes = got * s->bytesPerFrame;
      return got;
    }
    uint32_t n = std::min(wanted - got, node->frames - node->position);
    std::memcpy(buffer + size_t(got) * s->bytesPerFrame, node->data + size_t(node->position) * s->bytesPerFrame,
                size_t(n) * s->bytesPerFrame);
    node->position += n;
    got += n;
    if (node->position >= node->frames) node->done = 1;
  }
  // The script is asked for more on the event loop's next step: it may be
  // asleep in WaitEvent.
  const bool isShort = PendingLocked(cb) < s->rate;
  UnlockMutex(cb->lock);
  if (isShort) WakeEventLoop();
  // Starved: silence, and the stream goes on.
  uint8_t silence = (s->bits == 8 && !(s->flags & VL_PCM_SIGNED)) ? 128 : 0;
  std::memset(buffer + size_t(got) * s->bytesPerFrame, silence, size_t(wanted - got) * s->bytesPerFrame);
  s->position += got;
  s->lastFrames = got;
  s->lastBytes = got * s->bytesPerFrame;
  return wanted;
}

// Offers the file to the sound readers the list selects, in class order;
// true when one took it (the stream is then of kind 5).
bool OpenWithPlugins(vlSoundStream* s, const char* file, const char* loaders, const char* adapter,
                     uint32_t subsong) {
  BuildLoaderList(loaders, VL_CLASS_SOUND);
  for (vlClassNode* node = GetLoaderClassList(VL_CLASS_SOUND); node; node = node->next) {
    vlPluginInfo* plugin = node->plugin;
    if (!IsLoaderAsked(plugin, loaders)) continue;
    auto open = CallablePluginEntry<vlOpenStreamFn>(plugin, plugin->OpenStream);
    if (!open) continue;
    vlSoundStreamFormat fmt{};
    fmt.subsong = subsong;
    void* handle = open(file, &fmt, kSoundStreamVersion, adapter ? adapter : "");
    if (!handle) continue;
    // A rate no output plays refuses the file as a reader would.
    if (!IsPlayableRate(fmt.rate)) {
      if (auto close = CallablePluginEntry<vlCloseStreamFn>(plugin, plugin->CloseStream)) close(handle);
      continue;
    }
    s->kind = VL_STREAM_PLUGIN;
    s->plugin = plugin;
    s->pluginHandle = handle;
    s->rate = fmt.rate;
    s->bits = fmt.bits;
    s->flags = fmt.flags & (VL_PCM_BIG_ENDIAN | VL_PCM_SIGNED);
    s->seekable = (fmt.flags & VL_SOUNDFMT_SEEKABLE) ? 1 : 0;
    s->subsongs = fmt.subsongs ? fmt.subsongs : 1;
    s->bitRate = fmt.bitRate;
    // A channel count the player cannot play leaves the frame size 0, so
    // the format works out as unplayable rather than misread.
    s->channels = (fmt.channels == 1 || fmt.channels == 2) ? fmt.channels : 0;
    s->bytesPerFrame = s->channels * ((fmt.bits + 7) / 8);
    if (fmt.frames == kSoundLengthOpen || !s->bytesPerFrame) {
      s->frames = -1;
      s->pcmSize = -1;
    } else {
      s->frames = fmt.frames;
      s->pcmSize = int64_t(fmt.frames) * s->bytesPerFrame;
    }
    return true;
  }
  return false;
}

uint32_t ReadPlugin(vlSoundStream* s, uint8_t* buffer, uint32_t frames, int* end) {
  auto read = CallablePluginEntry<vlStreamSamplesFn>(s->plugin, s->plugin->StreamSamples);
  uint32_t got = 0;
  int ended = 1;
  if (read && s->bytesPerFrame) {
    vlSoundReadRequest request{buffer, frames, 0, 0};
    read(s->pluginHandle, &request);
    // A reader that claims more than it was asked for is held to the
    // buffer it was given.
    got = request.framesOut > frames ? frames : request.framesOut;
    ended = request.end != 0;
  }
  if (end && ended) *end = 1;
  s->position += got;
  s->lastFrames = got;
  s->lastBytes = got * s->bytesPerFrame;
  return got;
}

// Frames a plug-in's sound is read in before its buffer grows.
constexpr int64_t kPluginReadFrames = 1 << 16;

// Reads the stream's frames into a new buffer; a sound that ends early
// keeps what was there. A built-in reader's length is what its file holds,
// so the buffer is sized from it at once; a plug-in's is only what it
// claims, so the buffer grows with what it delivers. 0 or ERR_MEM.
int ReadWholeStream(vlSoundStream* s, uint8_t** pcmOut, uint32_t* framesOut) {
  const int64_t total = s->frames, frameBytes = s->bytesPerFrame;
  int64_t capacity = s->kind == VL_STREAM_PLUGIN ? std::min(total, kPluginReadFrames) : total;
  auto* pcm = static_cast<uint8_t*>(AllocMemory(capacity ? size_t(capacity * frameBytes) : 1, 1));
  if (!pcm) return ERR_MEM;
  int64_t got = 0;
  while (got < total) {
    if (got == capacity) {
      const int64_t grown = std::min(total, capacity * 2);
      auto* bigger = static_cast<uint8_t*>(AllocMemory(size_t(grown * frameBytes), 1));
      if (!bigger) {
        FreeMemory(pcm);
        return ERR_MEM;
      }
      std::memcpy(bigger, pcm, size_t(got * frameBytes));
      FreeMemory(pcm);
      pcm = bigger;
      capacity = grown;
    }
    int end = 0;
    const uint32_t n = ReadSoundStream(s, pcm + got * frameBytes, uint32_t(capacity - got), &end);
    got += n;
    if (n == 0 || end) break;
  }
  *pcmOut = pcm;
  *framesOut = uint32_t(got);
  return 0;
}

}  // namespace

int OpenSoundStream(const char* file, const char* loaders, const char* adapter, uint32_t subsong,
                    int music, vlSoundStream** out, const vlPluginInfo** loaderOut) {
  *out = nullptr;
  auto* s = static_cast<vlSoundStream*>(AllocMemory(sizeof(vlSoundStream), 1));
  if (!s) return ERR_MEM;
  s->music = music ? 1 : 0;
  s->subsongs = 1;
  if (OpenWithPlugins(s, file, loaders, adapter, subsong)) {
    WorkOutFormat(s);
    *out = s;
    if (loaderOut) *loaderOut = s->plugin;
    return 0;
  }
  if (IsLoaderSelected(loaders, "inbuilt", 0)) {
    vlStream* stream = OpenFileStream(file, VL_MODE_READ | (adapter && *adapter ? uint32_t(VL_MODE_ADAPTERS) : 0u), adapter);
    if (!stream) {
      FreeMemory(s);
      SetErrorArgument(file);
      return ERR_READFILE;
    }
    uint8_t head[kModuleHeaderSize];
    int64_t got = ReadFileStream(stream, head, sizeof head);
    s->file = stream;
    uint32_t kind = 0;
    if (got >= 12 && std::memcmp(head, "FORM", 4) == 0 && std::memcmp(head + 8, "8SVX", 4) == 0) kind = VL_STREAM_8SVX;
    else if (got >= 12 && std::memcmp(head, "FORM", 4) == 0 && std::memcmp(head + 8, "16SV", 4) == 0) kind = VL_STREAM_16SV;
    else if (got >= 12 && std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WAVE", 4) == 0) kind = VL_STREAM_WAVE;
    else if (got == int64_t(sizeof head) && std::memcmp(head + 1080, "M.K.", 4) == 0) kind = VL_STREAM_MODULE;
    int taken = 0;
    s->kind = kind;
    if (kind == VL_STREAM_8SVX || kind == VL_STREAM_16SV) taken = OpenIffSound(s, kind == VL_STREAM_16SV);
    else if (kind == VL_STREAM_WAVE) taken = OpenWaveSound(s);
    else if (kind == VL_STREAM_MODULE) taken = 1;
    // A rate no output plays refuses the file: every buffer of a stream is
    // sized from its rate.
    if (taken && kind != VL_STREAM_MODULE && !IsPlayableRate(s->rate)) taken = 0;
    if (taken) {
      WorkOutFormat(s);
      *out = s;
      if (loaderOut) *loaderOut = nullptr;
      return 0;
    }
    CloseFileStream(stream);
    s->file = nullptr;
  }
  FreeMemory(s);
  if (IsLoaderSelected(loaders, "native", 0)) return OpenPlatformSound(file);
  SetErrorArgument(file);
  return ERR_OPENSOUND2;
}

void CloseSoundStream(vlSoundStream* s) {
  if (!s) return;
  if (s->file) CloseFileStream(s->file);
  if (s->kind == VL_STREAM_PLUGIN) {
    if (auto close = CallablePluginEntry<vlCloseStreamFn>(s->plugin, s->plugin->CloseStream)) close(s->pluginHandle);
  }
  if (s->callback) {
    EmptyCallbackQueue(s);
    if (s->callback->lock) FreeMutex(s->callback->lock);
    FreeMemory(s->callback);
  }
  std::free(s->scratch);
  FreeMemory(s);
}

uint32_t ReadSoundStream(vlSoundStream* s, uint8_t* buffer, uint32_t frames, int* end) {
  switch (s->kind) {
    case VL_STREAM_8SVX:
    case VL_STREAM_16SV:
    case VL_STREAM_WAVE: return ReadBuiltinSound(s, buffer, frames, end);
    case VL_STREAM_CALLBACK: return ReadCallback(s, buffer, frames, end);
    case VL_STREAM_PLUGIN: return ReadPlugin(s, buffer, frames, end);
    default:
      if (end) *end = 1;
      return 0;
  }
}

void MoveStreamReader(vlSoundStream* s, int64_t frame) {
  if (s->kind >= VL_STREAM_8SVX && s->kind <= VL_STREAM_WAVE) SeekBuiltinSound(s, frame);
  if (s->kind == VL_STREAM_PLUGIN && (s->seekable || frame == 0)) {
    if (auto seek = CallablePluginEntry<vlSeekStreamFn>(s->plugin, s->plugin->SeekStream)) {
      seek(s->pluginHandle, frame < 0 ? 0u : frame > UINT32_MAX ? UINT32_MAX : uint32_t(frame));
    }
    s->position = frame < 0 ? 0 : frame;
  }
}

void SeekSoundStream(vlSoundStream* s, int64_t frame) {
  MoveStreamReader(s, frame);
  if (s->rate) s->storedMillis = frame * 1000 / s->rate;
  s->output.startTime = vlTimeVal{};
}

const char* GetStreamFormatName(const vlSoundStream* s) {
  switch (s->kind) {
    case VL_STREAM_8SVX: return "IFF 8SVX";
    case VL_STREAM_16SV: return "IFF 16SV";
    case VL_STREAM_WAVE: return "RIFF WAVE";
    case VL_STREAM_CALLBACK: return "Custom stream";
    case VL_STREAM_MODULE: return "Protracker";
    case VL_STREAM_PLUGIN: {
      auto name = CallablePluginEntry<vlGetFormatNameFn>(s->plugin, s->plugin->GetFormatName);
      const char* text = name ? name(s->pluginHandle) : nullptr;
      return text ? text : "";
    }
    default: return "";
  }
}

vlModuleState* MakeModuleState(uint8_t* image, size_t size) {
  size_t bytes = ParseProtrackerModule(nullptr, image, size, kModuleOutputRate);
  if (!bytes) return nullptr;
  auto* state = static_cast<vlModuleState*>(AllocMemory(bytes, 1));
  if (!state) return nullptr;
  ParseProtrackerModule(state, image, size, kModuleOutputRate);
  return state;
}

void FreeModuleState(vlModuleState* state) {
  if (!state) return;
  FreeMemory(state->image);
  FreeMemory(state);
}

void RewindModuleState(vlModuleState* state) {
  // The invert loop (EFx) rewrites sample bytes of the image; should they
  // now read as another layout, the block would not hold it: the song then
  // goes on where it is rather than be parsed past its block.
  if (ParseProtrackerModule(nullptr, state->image, state->imageSize, kModuleOutputRate) != ModuleStateSize(state))
    return;
  ParseProtrackerModule(state, state->image, state->imageSize, kModuleOutputRate);
}

int OpenMusicSource(const char* file, const char* loaders, const char* adapter, uint32_t subsong,
                    uint32_t* kindOut, void** sourceOut, uint32_t* seekableOut, uint32_t* subsongsOut,
                    const vlPluginInfo** loaderOut) {
  vlSoundStream* s = nullptr;
  if (int error = OpenSoundStream(file, loaders, adapter, subsong, 1, &s, loaderOut)) return error;
  if (s->kind != VL_STREAM_MODULE) {
    // A stream of a depth or channel count the output cannot take would be
    // read with a frame size of 0: refuse it like a sample of that depth.
    if (s->format < 0 || !s->bytesPerFrame) {
      CloseSoundStream(s);
      return kErrBitDepth;
    }
    *kindOut = VL_SOURCE_STREAM;
    *sourceOut = s;
    *seekableOut = s->seekable;
    *subsongsOut = s->subsongs;
    return 0;
  }
  int64_t size = GetFileStreamSize(s->file);
  uint8_t* image = nullptr;
  int error = 0;
  if (size < int64_t(kModuleHeaderSize) || size > INT32_MAX) {
    error = ERR_FILEFORMAT;
  } else if (!(image = static_cast<uint8_t*>(AllocMemory(size_t(size), 0)))) {
    error = ERR_MEM;
  } else if (SeekFileStream(s->file, 0, VL_SEEK_BEGIN) < 0 || ReadFileStream(s->file, image, size) != size) {
    error = ERR_READ;
  }
  CloseSoundStream(s);
  if (error) {
    FreeMemory(image);
    return error;
  }
  vlModuleState* state = MakeModuleState(image, size_t(size));
  if (!state) {
    // Too short for its patterns: a broken module, not an unknown file.
    bool parsed = ParseProtrackerModule(nullptr, image, size_t(size), kModuleOutputRate) != 0;
    FreeMemory(image);
    return parsed ? ERR_MEM : ERR_FILEFORMAT;
  }
  *kindOut = VL_SOURCE_MODULE;
  *sourceOut = state;
  *seekableOut = 0;
  *subsongsOut = 1;
  return 0;
}

void CloseMusicSource(uint32_t kind, void* source) {
  if (kind == VL_SOURCE_MODULE) FreeModuleState(static_cast<vlModuleState*>(source));
  else CloseSoundStream(static_cast<vlSoundStream*>(source));
}

int LoadSoundData(const char* file, const char* loaders, const char* adapter, vlSoundData** dataOut,
                  uint32_t* bytesOut, uint32_t* rateOut, uint32_t* formatOut,
                  const vlPluginInfo** loaderOut) {
  vlSoundStream* s = nullptr;
  if (int error = OpenSoundStream(file, loaders, adapter, 0, 0, &s, loaderOut)) return error;
  int error = 0;
  if (s->kind == VL_STREAM_MODULE || s->pcmSize < 0 || !s->bytesPerFrame || !s->bits) error = kErrStreamAsSample;
  else if (s->format < 0) error = kErrBitDepth;
  else if (s->pcmSize > INT32_MAX) error = ERR_MEM;
  if (error) {
    CloseSoundStream(s);
    return error;
  }
  auto* data = static_cast<vlSoundData*>(AllocMemory(sizeof(vlSoundData), 1));
  uint8_t* pcm = nullptr;
  uint32_t frames = 0;
  if (!data || ReadWholeStream(s, &pcm, &frames)) {
    FreeMemory(data);
    CloseSoundStream(s);
    return ERR_MEM;
  }
  data->pcm = pcm;
  data->bits = s->bits;
  data->bytesPerFrame = s->bytesPerFrame;
  data->channels = s->channels;
  data->flags = s->flags;
  data->frames = frames;
  data->format = uint32_t(s->format);
  data->rate = s->rate;
  *dataOut = data;
  *bytesOut = frames * s->bytesPerFrame;
  *rateOut = s->rate;
  *formatOut = uint32_t(s->format);
  CloseSoundStream(s);
  return 0;
}

int64_t GetStreamMillis(const vlSoundStream* s) {
  vlTimeVal start = s->output.startTime;
  if (start.seconds == 0 && start.micros == 0) return s->storedMillis;
  vlTimeVal now;
  GetSysTime(&now);
  int64_t ms = (int64_t(now.seconds) - start.seconds) * 1000 + (int64_t(now.micros) - start.micros) / 1000 +
               s->storedMillis;
  int64_t duration = s->frames > 0 && s->rate ? s->frames * 1000 / s->rate : 0;
  return duration > 0 ? ms % duration : ms;
}

int64_t GetMusicAttribute(int code, uint32_t kind, const void* source, const char** text) {
  if (kind == VL_SOURCE_MODULE) {
    switch (code) {
      case VL_MATTR_FORMAT_NAME:
        if (text) *text = "Protracker";
        return 0;
      case VL_MATTR_SAMPLE_FORMAT: return 5;
      case VL_MATTR_RATE: return 48000;
      default: return -1;
    }
  }
  const auto* s = static_cast<const vlSoundStream*>(source);
  switch (code) {
    case VL_MATTR_DURATION: return s->frames > 0 && s->rate ? s->frames * 1000 / s->rate : 0;
    case VL_MATTR_POSITION: return GetStreamMillis(s);
    case VL_MATTR_FORMAT_NAME:
      if (text) *text = GetStreamFormatName(s);
      return 0;
    case VL_MATTR_SAMPLE_FORMAT: return s->format;
    case VL_MATTR_RATE: return s->rate;
    case VL_MATTR_BITRATE:
      if (s->bitRate) return s->bitRate;
      return s->pcmSize >= 0 ? int64_t(s->bytesPerFrame) * s->rate / 1024 * 8 : 0;
    default: return -1;
  }
}

int NewCallbackStream(vlVMState* state, uint32_t rate, uint32_t format, vlSoundStream** out) {
  auto* s = static_cast<vlSoundStream*>(AllocMemory(sizeof(vlSoundStream), 1));
  auto* cb = static_cast<vlCallbackBlock*>(AllocMemory(sizeof(vlCallbackBlock), 1));
  if (!s || !cb) {
    FreeMemory(s);
    FreeMemory(cb);
    return ERR_MEM;
  }
  cb->lock = CreateMutex();
  if (!cb->lock) {
    FreeMemory(s);
    FreeMemory(cb);
    return ERR_SEMAPHORE;
  }
  cb->head.next = cb->head.prev = &cb->head;
  cb->state = state;
  cb->rate = rate;
  cb->channels = (format & 1) ? 2 : 1;
  cb->bits = format >= 4 ? 16 : 8;
  cb->bytesPerFrame = GetBytesPerFrame(format);
  cb->format = format;
  s->kind = VL_STREAM_CALLBACK;
  s->callback = cb;
  s->bits = cb->bits;
  s->channels = cb->channels;
  s->flags = (format >= 2) ? uint32_t(VL_PCM_SIGNED) : 0u;
  s->bytesPerFrame = cb->bytesPerFrame;
  s->rate = rate;
  s->pcmSize = -1;
  s->frames = -1;
  s->subsongs = 1;
  s->music = 1;
  WorkOutFormat(s);
  *out = s;
  return 0;
}

int QueueCallbackPCM(vlSoundStream* s, const uint8_t* pcm, uint32_t frames, int end) {
  vlCallbackBlock* cb = s->callback;
  size_t bytes = end ? 0 : size_t(frames) * cb->bytesPerFrame;
  auto* node = static_cast<vlPcmNode*>(AllocMemory(sizeof(vlPcmNode) + bytes, 1));
  if (!node) return ERR_MEM;
  if (!end) {
    node->data = reinterpret_cast<uint8_t*>(node + 1);
    std::memcpy(node->data, pcm, bytes);
    node->bytes = static_cast<uint32_t>(bytes);
    node->frames = frames;
  }
  LockMutex(cb->lock);
  while (cb->head.next != &cb->head && cb->head.next->done) {
    vlPcmNode* done = cb->head.next;
    cb->head.next = done->next;
    done->next->prev = &cb->head;
    FreeMemory(done);
  }
  node->prev = cb->head.prev;
  node->next = &cb->head;
  cb->head.prev->next = node;
  cb->head.prev = node;
  cb->framesQueued += node->frames;
  UnlockMutex(cb->lock);
  return 0;
}

void EmptyCallbackQueue(vlSoundStream* s) {
  vlCallbackBlock* cb = s->callback;
  if (!cb) return;
  LockMutex(cb->lock);
  for (vlPcmNode* node = cb->head.next; node != &cb->head;) {
    vlPcmNode* next = node->next;
    FreeMemory(node);
    node = next;
  }
  cb->head.next = cb->head.prev = &cb->head;
  UnlockMutex(cb->lock);
}

bool AskCallbackForData(vlSoundStream* s, uint64_t* pending) {
  vlCallbackBlock* cb = s->callback;
  *pending = 0;
  if (!cb) return false;
  LockMutex(cb->lock);
  *pending = PendingLocked(cb);
  bool ask = *pending < s->rate && (!cb->asked || cb->reads != cb->readsAtAsk);
  if (ask) {
    cb->asked = 1;
    cb->readsAtAsk = cb->reads;
  }
  UnlockMutex(cb->lock);
  return ask;
}
