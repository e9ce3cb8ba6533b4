// Output through an audio-adapter plug-in. The adapter pulls: it calls
// FillAdapterChannel from its own threads for each channel it plays, so
// every entry field the callback reads or advances is taken under the
// output lock (or, for a stream's halves, under the halves' own lock).
// Depends on the channel table, the stream readers and the module player.
#include "media/sound/audio_adapter.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "media/sound/audio_channels.h"
#include "media/sound/protracker.h"
#include "media/sound/sound_data.h"
#include "media/sound/sound_plugin.h"
#include "media/sound/sound_stream.h"
#include "platform/alsa_output.h"
#include "runtime/os.h"
#include "runtime/threads.h"
#include "abi/plugin_abi.h"
#include "runtime/plugin_formats.h"
#include "runtime/script_version.h"
#include "runtime/run_state.h"
#include "vm/error_codes.h"

namespace {

constexpr uint32_t kDefaultBufferSize = 2048;
constexpr int kDefaultChannels = 8;

vlPluginInfo* gAdapter = nullptr;
uint32_t gAdapterFlags = 0;
void* gAudio = nullptr;

template <class Fn>
Fn AdapterEntry(Fn entry) {
  return CallablePluginEntry<Fn>(gAdapter, entry);
}

void ExpireSoon(vlChannel* c) {
  GetSysTime(&c->endTime);
  vlTimeVal second{1, 0};
  AddTimeVal(&c->endTime, &second);
  c->finished = 1;
}

vlObjectId ChannelId(const vlChannel* c) { return c->id; }

// Whether 16-bit data stored in the order the flags give must be swapped
// to reach the adapter in this machine's order.
bool ForeignOrder(uint32_t bits, uint32_t flags) {
  const bool big = (flags & VL_PCM_BIG_ENDIAN) != 0;
  return bits == 16 && big != (std::endian::native == std::endian::big);
}

// Copies frames of a sample's PCM in this machine's byte order.
void CopyFrames(uint8_t* out, const vlSoundData* d, uint32_t from, uint32_t frames) {
  const size_t bytes = size_t(frames) * d->bytesPerFrame;
  std::memcpy(out, d->pcm + size_t(from) * d->bytesPerFrame, bytes);
  if (ForeignOrder(d->bits, d->flags)) SwapPairs(out, bytes);
}

// Reads a streamed music's half for the adapter; the half then holds this
// machine's byte order, so the fill callback only copies.
uint32_t FillAdapterHalf(vlChannel* c, uint32_t half, int* ended) {
  const uint32_t filled = FillStreamHalf(c, half, ended);
  const vlSoundStream* s = c->stream;
  if (ForeignOrder(s->bits, s->flags))
    SwapPairs(c->musicBlock + size_t(half) * c->musicBufferSize * s->bytesPerFrame, size_t(filled) * s->bytesPerFrame);
  return filled;
}

uint32_t FillSample(vlChannel* c, uint8_t* out, uint32_t wanted) {
  const vlSoundData* d = c->sample;
  if (!d || !d->bytesPerFrame) return 0;
  LockAudioOutput();
  if (c->finished) {
    UnlockAudioOutput();
    return 0;
  }
  if (c->startPending) {
    c->startPending = 0;
    GetSysTime(&c->startTime);
    if (IsAudioEventWanted(12)) PostAudioEvent(VL_AUDIO_EVENT_SAMPLE_LOOP, ChannelId(c), c->loopStep, 1, 0, 1);
  }
  uint32_t got = 0;
  while (got < wanted) {
    const bool lastPass = c->loops != 0 && c->loop >= c->loops;
    uint32_t limit = d->frames;
    if (lastPass && c->lastFrames >= 0) limit = std::min<uint32_t>(limit, uint32_t(c->lastFrames));
    if (c->framePosition < limit) {
      const uint32_t n = std::min(wanted - got, limit - c->framePosition);
      CopyFrames(out + size_t(got) * d->bytesPerFrame, d, c->framePosition, n);
      c->framePosition += n;
      got += n;
      continue;
    }
    if (lastPass) {
      if (IsAudioEventWanted(13))
        PostAudioEvent(VL_AUDIO_EVENT_SAMPLE_END, ChannelId(c), c->loopStep, c->loop, c->lastMillis, 1);
      ExpireSoon(c);
      break;
    }
    c->framePosition = 0;
    c->loop++;
    if (IsAudioEventWanted(12)) PostAudioEvent(VL_AUDIO_EVENT_SAMPLE_LOOP, ChannelId(c), c->loopStep, c->loop, 0, 1);
    // A sample without frames would loop here for ever.
    if (limit == 0 && d->frames == 0) break;
  }
  UnlockAudioOutput();
  return got;
}

uint32_t FillStream(vlChannel* c, uint8_t* out, uint32_t wanted) {
  vlSoundStream* s = c->stream;
  if (!s || !c->bufferLock) return 0;
  const uint32_t bpf = s->bytesPerFrame;
  LockMutex(c->bufferLock);
  if (c->finished) {
    UnlockMutex(c->bufferLock);
    return 0;
  }
  if (c->startPending) {
    c->startPending = 0;
    GetSysTime(&s->output.startTime);
  }
  uint32_t got = 0;
  while (got < wanted) {
    if (c->framePosition >= c->adapterFramesLeft) {
      if (c->lastHalf) {
        if (IsAudioEventWanted(18)) PostAudioEvent(VL_AUDIO_EVENT_MUSIC_END, ChannelId(c), 0, 1, 0, 1);
        ExpireSoon(c);
        break;
      }
      const uint32_t used = c->adapterHalf, next = used ^ 1;
      if (!c->musicReady[next]) {
        // The worker is behind: silence rather than stale sound.
        const uint8_t silence = (s->bits == 8 && !(s->flags & VL_PCM_SIGNED)) ? 128 : 0;
        std::memset(out + size_t(got) * bpf, silence, size_t(wanted - got) * bpf);
        got = wanted;
        break;
      }
      c->musicReady[used] = 0;
      c->adapterHalf = next;
      c->framePosition = 0;
      if (c->endFrames[next]) {
        c->adapterFramesLeft = c->endFrames[next];
        c->lastHalf = 1;
      } else {
        c->adapterFramesLeft = c->musicBufferSize;
        if (c->adapterWake) SignalCondition(c->adapterWake);
      }
      continue;
    }
    const uint32_t n = std::min(wanted - got, c->adapterFramesLeft - c->framePosition);
    const uint8_t* half = c->musicBlock + size_t(c->adapterHalf) * c->musicBufferSize * bpf;
    std::memcpy(out + size_t(got) * bpf, half + size_t(c->framePosition) * bpf, size_t(n) * bpf);
    c->framePosition += n;
    got += n;
  }
  UnlockMutex(c->bufferLock);
  return got;
}

uint32_t FillVideo(vlChannel* c, uint8_t* out, uint32_t wanted) {
  vlVideoSound* v = c->video;
  if (!v || !v->frameSize || !v->mutex) return 0;
  const size_t want = size_t(wanted) * v->frameSize;
  LockMutex(v->mutex);
  const size_t n = std::min<size_t>(want - want % v->frameSize, v->bytes - v->bytes % v->frameSize);
  std::memcpy(out, v->data, n);
  std::memmove(v->data, v->data + n, v->bytes - n);
  v->bytes -= uint32_t(n);
  UnlockMutex(v->mutex);
  std::memset(out + n, 0, want - n);
  return wanted;
}

// Position queries and sub-song changes meet the replayer here. After its
// passes the song ends: the rest is silence, the end is posted and the
// channel expires as a stream's does.
uint32_t FillModule(vlChannel* c, uint8_t* out, uint32_t wanted) {
  LockAudioOutput();
  if (c->finished) {
    UnlockAudioOutput();
    return 0;
  }
  const uint32_t got = RenderModuleAudio(static_cast<vlModuleState*>(c->module), reinterpret_cast<int16_t*>(out), wanted);
  if (got < wanted) {
    if (IsAudioEventWanted(18)) PostAudioEvent(VL_AUDIO_EVENT_MUSIC_END, ChannelId(c), 0, 1, 0, 1);
    ExpireSoon(c);
  }
  UnlockAudioOutput();
  return got;
}

// Refills each half the adapter has finished with, until stopped.
void AudioAdapterServer(void* start) {
  vlWorker* worker = GetWorkerSelf(start);
  auto* c = static_cast<vlChannel*>(GetWorkerUserData(worker));
  ReportWorkerStarted(worker);
  for (;;) {
    LockMutex(c->bufferLock);
    WaitCondition(c->adapterWake, c->bufferLock);
    const bool stop = GetWorkerStopFlag(worker) != 0;
    int half = -1;
    if (!stop && c->musicState == VL_MUSIC_REFILL) {
      for (uint32_t h = 0; h < 2; h++)
        if (!c->musicReady[h] && h != c->adapterHalf) half = int(h);
    }
    UnlockMutex(c->bufferLock);
    if (stop) break;
    if (half < 0) continue;
    // The adapter plays the other half meanwhile, so this one is read
    // without the lock.
    int ended = 0;
    const uint32_t filled = FillAdapterHalf(c, uint32_t(half), &ended);
    LockMutex(c->bufferLock);
    if (ended) {
      c->endFrames[half] = std::max<uint32_t>(filled, 1);
      const uint32_t bpf = c->stream->bytesPerFrame;
      uint8_t* at = c->musicBlock + (size_t(half) * c->musicBufferSize + filled) * bpf;
      if (filled < c->musicBufferSize) std::memset(at, 0, size_t(c->musicBufferSize - filled) * bpf);
      c->musicState = VL_MUSIC_LAST_QUEUED;
    }
    c->musicReady[half] = 1;
    UnlockMutex(c->bufferLock);
  }
}

}  // namespace

int InstallAudioAdapter(vlPluginInfo* info, uint32_t flags, const uint32_t* tags) {
  if (!CheckScriptVersion(6, 0)) return ERR_OLDAPPLET;
  if (!info || !(info->capabilities & PLUGINCAPS_AUDIOADAPTER)) return ERR_WRONGUSAGE;
  if ((flags & VL_AUDIOADAPTER_UPDATE) && gAdapter == info) {
    for (const uint32_t* t = tags; t && t[0]; t += 2)
      if (t[0] == VL_AUDIOADAPTER_BUFFERSIZE) info->audioBufferSize = t[1];
    return 0;
  }
  if (!vlPluginStartup || (gAdapter && (gAdapterFlags & VL_AUDIOADAPTER_LOCKED))) return ERR_SETADAPTER;
  // Once output has started its table and handle belong to the old way.
  if (IsAudioStarted()) return ERR_SETADAPTER;
  const int channels = GetChannelCount() > 0 ? GetChannelCount() : kDefaultChannels;
  gAdapter = info;
  gAdapterFlags = flags;
  info->audioBufferSize = kDefaultBufferSize;
  info->audioChannels = uint32_t(channels);
  for (const uint32_t* t = tags; t && t[0]; t += 2) {
    if (t[0] == VL_AUDIOADAPTER_BUFFERSIZE) info->audioBufferSize = t[1];
    if (t[0] == VL_AUDIOADAPTER_CHANNELS) info->audioChannels = t[1];
  }
  if (info->audioChannels == 0) {
    gAdapter = nullptr;
    gAdapterFlags = 0;
    return ERR_SETADAPTER;
  }
  return 0;
}

vlPluginInfo* GetAudioAdapter() { return gAdapter; }

int GetAdapterChannelCount() {
  if (!gAdapter) return 0;
  return gAdapter->audioChannels > 256 ? 256 : int(gAdapter->audioChannels);
}

int OpenAdapterAudio() {
  auto open = AdapterEntry<vlOpenAudioFn>(gAdapter ? gAdapter->OpenAudio : nullptr);
  gAudio = open ? open(nullptr, nullptr) : nullptr;
  if (gAdapter) gAdapter->audioDevice = gAudio;
  return gAudio ? 0 : ERR_OPENAUDIO;
}

void CloseAdapterAudio() {
  if (!gAudio) return;
  if (auto close = AdapterEntry<vlCloseAudioFn>(gAdapter->CloseAudio)) close(gAudio);
  gAudio = nullptr;
  if (gAdapter) gAdapter->audioDevice = nullptr;
}

void RemoveAudioAdapter() {
  CloseAdapterAudio();
  gAdapter = nullptr;
  gAdapterFlags = 0;
}

int AllocAdapterChannel(vlChannel* c, uint32_t format, uint32_t rate, uint32_t volume) {
  auto alloc = AdapterEntry<vlAllocAudioChannelFn>(gAdapter ? gAdapter->AllocAudioChannel : nullptr);
  void* channel = alloc ? alloc(gAudio, format, rate, volume, FillAdapterChannel, nullptr, c, 0) : nullptr;
  LockAudioOutput();
  c->adapterChannel = channel;
  UnlockAudioOutput();
  return channel ? 0 : int(kErrAllocChannel);
}

void FreeAdapterChannel(vlChannel* c) {
  LockAudioOutput();
  void* channel = c->adapterChannel;
  c->adapterChannel = nullptr;
  UnlockAudioOutput();
  if (!channel) return;
  // Outside the output lock: an adapter may wait here for a fill call of
  // the channel that is running on its own thread.
  if (auto release = AdapterEntry<vlFreeAudioChannelFn>(gAdapter->FreeAudioChannel)) release(gAudio, channel);
}

void SetAdapterChannelAttributes(vlChannel* c, int32_t rate, int32_t volume, int32_t panning) {
  auto set = AdapterEntry<vlSetChannelAttributesFn>(gAdapter ? gAdapter->SetChannelAttributes : nullptr);
  if (!set || !c->adapterChannel) return;
  vlTagItem tags[4];
  int n = 0;
  if (rate >= 0) tags[n++] = {VL_AUDIOTAG_RATE, uintptr_t(rate)};
  if (volume >= 0) tags[n++] = {VL_AUDIOTAG_VOLUME, uintptr_t(volume)};
  if (panning >= 0) tags[n++] = {VL_AUDIOTAG_PANNING, uintptr_t(panning)};
  tags[n] = {VL_TAG_END, 0};
  set(gAudio, c->adapterChannel, tags);
}

int StartAdapterStream(vlChannel* c) {
  vlSoundStream* s = c->stream;
  const uint32_t rate = s->rate ? s->rate : 1;
  c->musicBufferSize = rate;
  c->musicBlock = static_cast<uint8_t*>(AllocMemory(size_t(rate) * 2 * s->bytesPerFrame, 1));
  if (!c->musicBlock) return ERR_MEM;
  c->bufferLock = CreateMutex();
  c->adapterWake = c->bufferLock ? CreateCondition() : nullptr;
  if (!c->adapterWake) {
    EndAdapterStream(c);
    return ERR_SEMAPHORE;
  }
  // The stream continues where it stood (a resumed pause).
  SeekSoundStream(s, s->position);
  c->adapterHalf = 0;
  c->framePosition = 0;
  c->lastHalf = 0;
  c->endFrames[0] = c->endFrames[1] = 0;
  c->musicState = VL_MUSIC_REFILL;
  int ended = 0;
  uint32_t filled = FillAdapterHalf(c, 0, &ended);
  c->musicReady[0] = 1;
  if (ended) {
    // The rest of the stream fits one half: no worker.
    c->adapterFramesLeft = std::max<uint32_t>(filled, 1);
    c->lastHalf = 1;
    c->musicState = VL_MUSIC_LAST_QUEUED;
    return 0;
  }
  c->adapterFramesLeft = rate;
  filled = FillAdapterHalf(c, 1, &ended);
  c->musicReady[1] = 1;
  if (ended) {
    c->endFrames[1] = std::max<uint32_t>(filled, 1);
    c->musicState = VL_MUSIC_LAST_QUEUED;
  }
  c->adapterWorker = CreateWorker("Audio adapter server", AudioAdapterServer, c, 0, 100000, 100);
  // Real-time scheduling is a privilege: without it the worker runs at
  // the default priority.
  if (!c->adapterWorker) c->adapterWorker = CreateWorker("Audio adapter server", AudioAdapterServer, c, 0, 100000, 0);
  if (!c->adapterWorker) {
    EndAdapterStream(c);
    return ERR_THREAD;
  }
  return 0;
}

void EndAdapterStream(vlChannel* c) {
  if (vlWorker* worker = c->adapterWorker) {
    SetWorkerStopFlag(worker);
    LockMutex(c->bufferLock);
    SignalCondition(c->adapterWake);
    UnlockMutex(c->bufferLock);
    FreeWorker(worker);
    c->adapterWorker = nullptr;
  }
  FreeCondition(c->adapterWake);
  c->adapterWake = nullptr;
  if (c->bufferLock) FreeMutex(c->bufferLock);
  c->bufferLock = nullptr;
  FreeMemory(c->musicBlock);
  c->musicBlock = nullptr;
}

uint32_t FillAdapterChannel(void*, void*, void* buffer, uint32_t frames, void* entry) {
  auto* c = static_cast<vlChannel*>(entry);
  if (!c || !buffer) return 0;
  auto* out = static_cast<uint8_t*>(buffer);
  switch (c->state) {
    case VL_CHANNEL_SAMPLE: return FillSample(c, out, frames);
    case VL_CHANNEL_MODULE: return FillModule(c, out, frames);
    case VL_CHANNEL_MUSIC: return FillStream(c, out, frames);
    case VL_CHANNEL_VIDEO: return FillVideo(c, out, frames);
    default: return 0;
  }
}
