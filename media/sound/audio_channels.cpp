// The channel table and everything that plays on it through the ALSA
// output back end. Lock order: the channel lock, then the back end's output
// lock; a feeder thread takes only its own mutex or the output lock, never
// both. Depends on the platform's ALSA back end, threads and wake pipe.
#include "media/sound/audio_channels.h"

#include <cstring>

#include "media/sound/audio_adapter.h"
#include "media/sound/protracker.h"
#include "media/sound/sound_stream.h"
#include "media/video/video_library.h"
#include "platform/alsa_output.h"
#include "runtime/os.h"
#include "runtime/threads.h"
#include "platform/wake_pipe.h"
#include "runtime/startup_records.h"
#include "vm/error_codes.h"

namespace {

struct vlAudioEvent {
  vlAudioEvent* next;
  int kind;
  vlObjectId id;
  int32_t position;
  int32_t count;
};

vlMutex* gChannelLock = nullptr;
vlMutex* gEventLock = nullptr;
vlAudioEvent* gEventHead = nullptr;
vlAudioEvent* gEventTail = nullptr;
int gStarted = 0;
constexpr int kDefaultChannels = 8;

bool Plays(const vlChannel& c) { return c.state != VL_CHANNEL_FREE && c.state != VL_CHANNEL_FINISHED; }

uint32_t ObjectTypeOf(const vlChannel& c) {
  switch (c.state) {
    case VL_CHANNEL_PREPARED:
    case VL_CHANNEL_SAMPLE: return VL_OBJ_SAMPLE;
    case VL_CHANNEL_MODULE:
    case VL_CHANNEL_MUSIC:
    case VL_CHANNEL_MUSIC_SETUP: return kObjMusic;
    case VL_CHANNEL_VIDEO:
    case VL_CHANNEL_VIDEO_SETUP: return kObjVideo;
    default: return 7;
  }
}

void ClearEntry(vlChannel* c) {
  LockAudioOutput();
  ClearAudioChannel(c);
  UnlockAudioOutput();
}

// The buffer that is not being played.
uint32_t IdleHalf(vlChannel* c) {
  LockAudioOutput();
  uint32_t half = c->musicCurrent == c->musicBlock ? 1 : 0;
  UnlockAudioOutput();
  return half;
}

}  // namespace

uint32_t FillStreamHalf(vlChannel* c, uint32_t half, int* ended) {
  vlSoundStream* s = c->stream;
  uint8_t* out = c->musicBlock + size_t(half) * c->musicBufferSize * s->bytesPerFrame;
  uint32_t filled = 0;
  *ended = 0;
  while (filled < c->musicBufferSize) {
    int end = 0;
    uint32_t got = ReadSoundStream(s, out + size_t(filled) * s->bytesPerFrame, c->musicBufferSize - filled, &end);
    filled += got;
    if (!end) {
      if (got == 0) break;
      continue;
    }
    bool passesLeft = c->loops == 0 || c->loop < c->loops;
    if (!passesLeft || s->kind == VL_STREAM_CALLBACK) {
      *ended = 1;
      break;
    }
    c->loop++;
    // Only the read position moves: the music time runs on (and the start
    // the output thread stamps is left to it).
    MoveStreamReader(s, 0);
    if (got == 0 && s->frames == 0) {
      *ended = 1;
      break;
    }
  }
  return filled;
}

namespace {

// Ends what the entry's output plays: the adapter's channel or the PCM.
void CloseChannelOutput(vlChannel* c) {
  if (GetAudioAdapter()) FreeAdapterChannel(c);
  else CloseAudioChannel(c);
}

void FeedNext(vlChannel* c) {
  uint32_t half = IdleHalf(c);
  int ended = 0;
  uint32_t frames = FillStreamHalf(c, half, &ended);
  LockAudioOutput();
  c->musicLength[half] = frames;
  c->musicReady[half] = 1;
  if (ended) c->musicState = VL_MUSIC_LAST_QUEUED;
  UnlockAudioOutput();
  WakeAudioOutput();
}

void* StreamFeederThread(void* argument) {
  auto* c = static_cast<vlChannel*>(argument);
  for (;;) {
    pthread_mutex_lock(&c->feederMutex);
    while (!c->feederWake && !c->feederStop) pthread_cond_wait(&c->feederCondition, &c->feederMutex);
    bool stop = c->feederStop;
    c->feederWake = 0;
    pthread_mutex_unlock(&c->feederMutex);
    if (stop) break;
    FeedNext(c);
  }
  return nullptr;
}

int SignalChannelFeeder(vlChannel* c) {
  if (!c->feederStarted) return 1;
  if (pthread_mutex_trylock(&c->feederMutex) != 0) return 0;
  c->feederWake = 1;
  pthread_cond_signal(&c->feederCondition);
  pthread_mutex_unlock(&c->feederMutex);
  return 1;
}

void StopFeeder(vlChannel* c) {
  if (!c->feederStarted) return;
  pthread_mutex_lock(&c->feederMutex);
  c->feederStop = 1;
  c->feederWake = 1;
  pthread_cond_signal(&c->feederCondition);
  pthread_mutex_unlock(&c->feederMutex);
  JoinThread(c->feeder);
  pthread_mutex_destroy(&c->feederMutex);
  pthread_cond_destroy(&c->feederCondition);
  c->feederStarted = 0;
}

// Closes a streamed channel and frees its buffers; the entry is cleared.
void EndStreamChannel(vlChannel* c) {
  if (GetAudioAdapter()) {
    FreeAdapterChannel(c);
    EndAdapterStream(c);
    LockAudioOutput();
    ClearAudioChannel(c);
    UnlockAudioOutput();
    return;
  }
  CloseAudioChannel(c);
  StopFeeder(c);
  LockAudioOutput();
  uint8_t* block = c->musicBlock;
  ClearAudioChannel(c);
  UnlockAudioOutput();
  FreeMemory(block);
}

int StartStreamChannel(vlChannel* c, int index) {
  vlSoundStream* s = c->stream;
  uint32_t rate = s->rate ? s->rate : 1;
  c->musicBufferSize = rate;
  c->musicBlock = static_cast<uint8_t*>(AllocMemory(size_t(rate) * 2 * s->bytesPerFrame, 1));
  if (!c->musicBlock) return ERR_MEM;
  vlAudioFormat format{s->bits, 0, s->channels, s->flags};
  if (int error = OpenAudioDevice(index, &format, s->rate)) {
    FreeMemory(c->musicBlock);
    c->musicBlock = nullptr;
    return error;
  }
  int ended = 0;
  c->musicLength[0] = FillStreamHalf(c, 0, &ended);
  c->musicState = VL_MUSIC_REFILL;
  if (ended) {
    c->wholeStream = 1;
    c->musicState = VL_MUSIC_ENDED;
  } else {
    c->musicLength[1] = FillStreamHalf(c, 1, &ended);
    if (ended) c->musicState = VL_MUSIC_LAST_QUEUED;
    pthread_mutex_init(&c->feederMutex, nullptr);
    pthread_cond_init(&c->feederCondition, nullptr);
    c->feederStarted = 1;
    c->feeder = SpawnThread(StreamFeederThread, c, 100);
    if (!c->feeder) c->feeder = SpawnThread(StreamFeederThread, c, 0);
    if (!c->feeder) {
      c->feederStarted = 0;
      pthread_mutex_destroy(&c->feederMutex);
      pthread_cond_destroy(&c->feederCondition);
      CloseAudioChannel(c);
      FreeMemory(c->musicBlock);
      c->musicBlock = nullptr;
      return ERR_THREAD;
    }
  }
  c->music = &s->output;
  c->musicReady[0] = c->musicReady[1] = 1;
  c->musicCurrent = c->musicBlock;
  c->musicFrames = c->musicLength[0];
  c->written = 0;
  s->output.startTime = vlTimeVal{};
  LockAudioOutput();
  c->state = VL_CHANNEL_MUSIC;
  UnlockAudioOutput();
  WakeAudioOutput();
  return 0;
}

void MarkMusicRecordStopped(vlMusic* music) {
  if (!music) return;
  music->playing = VL_MUSIC_STOPPED;
  music->channel = 0;
  music->loop = 1;
  music->pausedFrame = 0;
  if (gSound.currentMusic == music) gSound.currentMusic = nullptr;
}

void MarkChannelMusicStopped(vlChannel* c) { MarkMusicRecordStopped(c->musicRecord); }

// A streamed channel whose music ended: closed, its stream rewound.
void EndFinishedStream(vlChannel* c) {
  vlSoundStream* s = c->stream;
  EndStreamChannel(c);
  if (s) {
    SeekSoundStream(s, 0);
    s->storedMillis = 0;
  }
}

// A module's channel that ended after its passes: closed, its song
// rewound to the top.
void EndFinishedModule(vlChannel* c, int index) {
  auto* module = static_cast<vlModuleState*>(c->module);
  if (GetAudioAdapter()) {
    FreeAdapterChannel(c);
    ClearEntry(c);
  } else {
    FreeChannelStream(index);
  }
  if (module) RewindModuleState(module);
}

void StopFinishedMusic(vlChannel* c, int index) {
  LockChannels();
  if (c->module) EndFinishedModule(c, index);
  else EndFinishedStream(c);
  UnlockChannels();
}

// Music through the adapter: a module rendered on demand, or a stream
// read into two halves ahead of the adapter.
int StartAdapterMusic(vlChannel* c, vlMusic* music) {
  if (music->sourceKind == VL_SOURCE_MODULE) {
    c->module = music->source;
    LockAudioOutput();
    c->state = VL_CHANNEL_MODULE;
    UnlockAudioOutput();
    return AllocAdapterChannel(c, VL_SMP_S16_STEREO, kModuleRate, c->volume);
  }
  auto* s = static_cast<vlSoundStream*>(music->source);
  c->stream = s;
  if (int error = StartAdapterStream(c)) return error;
  c->music = &s->output;
  s->output.startTime = vlTimeVal{};
  LockAudioOutput();
  c->state = VL_CHANNEL_MUSIC;
  UnlockAudioOutput();
  if (int error = AllocAdapterChannel(c, uint32_t(s->format), s->rate, c->volume)) {
    EndAdapterStream(c);
    return error;
  }
  return 0;
}

size_t ModuleSize(const void* module) { return ModuleStateSize(static_cast<const vlModuleState*>(module)); }

uint32_t RenderModule(void* module, int16_t* buffer, uint32_t frames) {
  return RenderModuleAudio(static_cast<vlModuleState*>(module), buffer, frames);
}

}  // namespace

int AudioLayerReady() { return gChannelLock != nullptr; }
void LockChannels() { LockMutex(gChannelLock); }
void UnlockChannels() { UnlockMutex(gChannelLock); }

int InitAudioLocks() {
  if (!gEventLock) gEventLock = CreateMutex();
  if (!gChannelLock) gChannelLock = CreateMutex();
  if (!gEventLock || !gChannelLock) return ERR_SEMAPHORE;
  gSoundServices.moduleStateSize = ModuleSize;
  gSoundServices.renderModule = RenderModule;
  gSoundServices.signalChannelFeeder = SignalChannelFeeder;
  gSoundServices.markMusicStopped = MarkChannelMusicStopped;
  gSoundServices.stopMusicChannel = StopFinishedMusic;
  return CreateAudioOutputLock();
}

int StartAudioOutput(vlVMState*, const char* device) {
  if (gStarted) return 0;
  int count = kDefaultChannels;
  if (GetAudioAdapter()) count = GetAdapterChannelCount();
  else if (vlCurrentStartup && vlCurrentStartup->numChannels) count = int(vlCurrentStartup->numChannels);
  if (count < 0) return ERR_OPENAUDIO;
  auto* table = static_cast<vlChannel*>(AllocMemory(sizeof(vlChannel) * size_t(count), 1));
  if (!table) return ERR_MEM;
  SetAudioDeviceName(device && *device ? device : "default");
  LockAudioOutput();
  gChannels = table;
  gChannelCount = count;
  UnlockAudioOutput();
  if (int error = GetAudioAdapter() ? OpenAdapterAudio() : StartAudioThread()) {
    LockAudioOutput();
    gChannels = nullptr;
    gChannelCount = 0;
    UnlockAudioOutput();
    FreeMemory(table);
    return error;
  }
  gStarted = 1;
  return 0;
}

int IsAudioStarted() { return gStarted; }
int GetChannelCount() { return gStarted ? gChannelCount : 0; }

void ShutdownAudio() {
  if (gStarted && !GetAudioAdapter()) StopAudioOutputThread();
  // The plug-ins close after the sound library: their adapter goes now.
  RemoveAudioAdapter();
  if (gStarted) {
    LockAudioOutput();
    FreeMemory(gChannels);
    gChannels = nullptr;
    gChannelCount = 0;
    UnlockAudioOutput();
  }
  gStarted = 0;
  if (gEventLock) LockMutex(gEventLock);
  for (vlAudioEvent* e = gEventHead; e;) {
    vlAudioEvent* next = e->next;
    FreeMemory(e);
    e = next;
  }
  gEventHead = gEventTail = nullptr;
  if (gEventLock) {
    UnlockMutex(gEventLock);
    FreeMutex(gEventLock);
  }
  gEventLock = nullptr;
  FreeAudioOutputLock();
  if (gChannelLock) FreeMutex(gChannelLock);
  gChannelLock = nullptr;
  gSoundServices = vlSoundServices{};
}

int ClaimAudioChannel(vlVMState* state, uint32_t type, vlObjectId id, int* index, vlChannel** entry) {
  StopExpiredChannels();
  LockChannels();
  int i = *index;
  if (i < 0) {
    for (i = 0; i < gChannelCount && gChannels[i].state != VL_CHANNEL_FREE; i++) {
    }
    if (i >= gChannelCount) {
      UnlockChannels();
      return kErrNoChannel;
    }
  } else if (i >= gChannelCount) {
    UnlockChannels();
    return kErrChannelRange;
  } else if (gChannels[i].state != VL_CHANNEL_FREE) {
    // Ended outside the lock: a video's threads take it while it stops.
    UnlockChannels();
    EndChannelPlayback(state, i);
    LockChannels();
  }
  vlChannel* c = &gChannels[i];
  LockAudioOutput();
  ClearAudioChannel(c);
  c->state = type;
  c->id = id;
  UnlockAudioOutput();
  UnlockChannels();
  *index = i;
  *entry = c;
  return 0;
}

int GetChannelObject(int index, uint32_t* type, vlObjectId* id, int lockHeld) {
  if (index < 0 || index >= gChannelCount) return kErrChannelRange;
  LockChannels();
  const vlChannel& c = gChannels[index];
  *type = ObjectTypeOf(c);
  *id = c.id;
  if (!lockHeld) UnlockChannels();
  return 0;
}

int IsSampleInUse(const vlSoundData* data) {
  if (!gStarted) return 0;
  LockChannels();
  int used = 0;
  for (int i = 0; i < gChannelCount && !used; i++) used = Plays(gChannels[i]) && gChannels[i].sample == data;
  UnlockChannels();
  return used;
}

int GetSampleChannelTime(const vlSoundData* data, int32_t* millis, int32_t* pass) {
  *millis = -1;
  *pass = -1;
  LockChannels();
  for (int i = 0; i < gChannelCount; i++) {
    vlChannel& c = gChannels[i];
    if (!Plays(c) || c.sample != data) continue;
    LockAudioOutput();
    vlTimeVal start = c.startTime;
    *pass = c.loop > 0 ? c.loop - 1 : 0;
    *millis = 0;
    if (c.bufferFrames && c.rate) *millis = int32_t(int64_t(c.written) * 1000 / c.rate);
    UnlockAudioOutput();
    if (start.seconds || start.micros) {
      vlTimeVal now;
      GetSysTime(&now);
      int64_t elapsed = (int64_t(now.seconds) - start.seconds) * 1000 + (int64_t(now.micros) - start.micros) / 1000;
      if (c.loopStep > 0) *millis = int32_t(elapsed % c.loopStep);
    }
    UnlockChannels();
    return 1;
  }
  UnlockChannels();
  return 0;
}

int PlaySampleOnChannel(vlSoundData* data, vlObjectId id, uint32_t format, uint32_t bytes, uint32_t rate,
                        uint32_t volume, uint32_t panning, int32_t timeMillis, int32_t times, int channel) {
  vlChannel* c = nullptr;
  int index = channel;
  if (int error = ClaimAudioChannel(nullptr, VL_CHANNEL_PREPARED, id, &index, &c)) return error;
  LockChannels();
  uint32_t frames = data->bytesPerFrame ? bytes / data->bytesPerFrame : 0;
  int32_t duration = rate ? int32_t(int64_t(frames) * 1000 / rate) : 0;
  LockAudioOutput();
  c->sample = data;
  c->loop = 1;
  c->loopStep = duration;
  c->volume = volume > 64 ? 64 : volume;
  c->startPending = 1;
  c->rate = rate;
  c->panning = panning;
  if (timeMillis < 0 || duration <= 0) {
    c->loops = times;
    c->lastFrames = int32_t(frames);
    c->lastMillis = duration;
  } else {
    c->loops = timeMillis / duration + 1;
    c->lastMillis = timeMillis % duration;
    c->lastFrames = int32_t(int64_t(rate) * c->lastMillis / 1000);
  }
  c->extra = c->lastMillis;
  UnlockAudioOutput();
  int error = 0;
  if (GetAudioAdapter()) {
    // The adapter pulls the frames from now on: the channel plays at once.
    LockAudioOutput();
    c->state = VL_CHANNEL_SAMPLE;
    c->framePosition = 0;
    UnlockAudioOutput();
    error = AllocAdapterChannel(c, format, rate, c->volume);
    // The adapter's channel starts centred: a sample panned elsewhere
    // would otherwise be heard in the middle until its next change.
    if (!error && panning != 128) SetAdapterChannelAttributes(c, -1, -1, int32_t(panning));
  } else {
    vlAudioFormat pcmFormat{data->bits, bytes, data->channels, data->flags};
    error = OpenAudioDevice(index, &pcmFormat, rate);
  }
  if (error) ClearEntry(c);
  UnlockChannels();
  return error;
}

int StartPreparedSamples() {
  LockChannels();
  LockAudioOutput();
  for (int i = 0; i < gChannelCount; i++) {
    if (gChannels[i].state == VL_CHANNEL_PREPARED) gChannels[i].state = VL_CHANNEL_SAMPLE;
  }
  UnlockAudioOutput();
  UnlockChannels();
  if (!GetAudioAdapter()) WakeAudioOutput();
  return 0;
}

void StopSampleChannels(const vlSoundData* data, int channel) {
  if (!gStarted) return;
  LockChannels();
  for (int i = 0; i < gChannelCount; i++) {
    vlChannel& c = gChannels[i];
    if (c.state == VL_CHANNEL_FREE || c.sample != data || (channel >= 0 && channel != i)) continue;
    if (c.state != VL_CHANNEL_PREPARED && c.state != VL_CHANNEL_SAMPLE && c.state != VL_CHANNEL_FINISHED) continue;
    if (GetAudioAdapter()) FreeAdapterChannel(&c);
    else StopChannelALSA(i);
    ClearEntry(&c);
  }
  UnlockChannels();
}

int SetSampleChannelAttributes(const vlSoundData* data, int32_t rate, int32_t volume, int32_t panning,
                               int channel) {
  LockChannels();
  for (int i = 0; i < gChannelCount; i++) {
    vlChannel& c = gChannels[i];
    // An adapter's channel that has played to its end only waits to expire.
    if (!Plays(c) || c.sample != data || (channel >= 0 && channel != i) || (GetAudioAdapter() && c.finished)) continue;
    if (GetAudioAdapter()) SetAdapterChannelAttributes(&c, rate, volume, panning);
    else if (volume >= 0) SetChannelVolumeALSA(i, uint32_t(volume));
    LockAudioOutput();
    // The PCM's rate is fixed once opened: a new rate applies to the
    // next play.
    if (rate >= 0) c.rate = uint32_t(rate);
    if (panning >= 0) c.panning = uint32_t(panning);
    UnlockAudioOutput();
    break;
  }
  UnlockChannels();
  return 0;
}

int PlayMusicOnChannel(vlVMState* state, vlMusic* music, uint32_t times, uint32_t loop, uint32_t volume, int channel) {
  vlChannel* c = nullptr;
  int index = channel;
  if (int error = ClaimAudioChannel(state, VL_CHANNEL_MUSIC_SETUP, music->node.idHandle
                                        ? vlObjectId{0, music->node.idHandle}
                                        : vlObjectId{music->node.idNumber, nullptr},
                                    &index, &c)) {
    return error;
  }
  LockChannels();
  c->musicRecord = music;
  c->volume = volume > 64 ? 64 : volume;
  c->loops = int32_t(times);
  c->loop = int32_t(loop ? loop : 1);
  c->startPending = 1;
  // A module ends after as many passes as the music's times (0: never).
  if (music->sourceKind == VL_SOURCE_MODULE) {
    LockAudioOutput();
    static_cast<vlModuleState*>(music->source)->endAfter = times;
    UnlockAudioOutput();
  }
  int error = 0;
  if (GetAudioAdapter()) {
    error = StartAdapterMusic(c, music);
  } else if (music->sourceKind == VL_SOURCE_MODULE) {
    c->module = music->source;
    error = PlayModuleOnALSA(index);
    if (!error) SetChannelVolumeALSA(index, c->volume);
  } else {
    c->stream = static_cast<vlSoundStream*>(music->source);
    error = StartStreamChannel(c, index);
  }
  if (error) ClearEntry(c);
  UnlockChannels();
  return error;
}

void StopMusicChannel(uint32_t kind, void* source, int pause, uint32_t* loopOut, uint32_t* positionOut) {
  if (!gStarted) return;
  LockChannels();
  for (int i = 0; i < gChannelCount; i++) {
    vlChannel& c = gChannels[i];
    // The output thread ends a channel under the output lock.
    LockAudioOutput();
    const bool unused = c.state == VL_CHANNEL_FREE;
    UnlockAudioOutput();
    if (unused) continue;
    if (kind == VL_SOURCE_MODULE && c.module == source) {
      if (GetAudioAdapter()) {
        FreeAdapterChannel(&c);
        ClearEntry(&c);
      } else {
        FreeChannelStream(i);
      }
      if (!pause) RewindModuleState(static_cast<vlModuleState*>(source));
      break;
    }
    if (kind == VL_SOURCE_STREAM && c.stream == source) {
      auto* s = static_cast<vlSoundStream*>(source);
      if (pause) {
        // The output thread stamps the start under the output lock.
        LockAudioOutput();
        int64_t elapsed = GetStreamMillis(s);
        int64_t duration = s->frames > 0 && s->rate ? s->frames * 1000 / s->rate : 0;
        vlTimeVal start = s->output.startTime;
        if (start.seconds || start.micros) {
          vlTimeVal now;
          GetSysTime(&now);
          elapsed = (int64_t(now.seconds) - start.seconds) * 1000 + (int64_t(now.micros) - start.micros) / 1000 +
                    s->storedMillis;
        }
        uint32_t loop = duration > 0 ? uint32_t(elapsed / duration + 1) : 1;
        int64_t within = duration > 0 ? elapsed % duration : elapsed;
        if (loopOut) *loopOut = loop;
        if (positionOut) *positionOut = uint32_t(within * s->rate / 1000);
        s->storedMillis = within;
        s->output.startTime = vlTimeVal{};
        UnlockAudioOutput();
      }
      EndStreamChannel(&c);
      if (!pause) {
        SeekSoundStream(s, 0);
        s->storedMillis = 0;
        if (s->kind == VL_STREAM_CALLBACK) s->restart = 1;
      }
      break;
    }
  }
  UnlockChannels();
}

int SetMusicChannelVolume(uint32_t kind, const void* source, uint32_t volume, int channel) {
  LockChannels();
  for (int i = 0; i < gChannelCount; i++) {
    vlChannel& c = gChannels[i];
    if (!Plays(c) || (channel >= 0 && channel != i)) continue;
    if ((kind == VL_SOURCE_MODULE && c.module == source) || (kind == VL_SOURCE_STREAM && c.stream == source)) {
      if (GetAudioAdapter()) SetAdapterChannelAttributes(&c, -1, int32_t(volume), -1);
      else SetChannelVolumeALSA(i, volume);
      break;
    }
  }
  UnlockChannels();
  return 0;
}

vlChannel* ModuleChannel(const vlModuleState* module) {
  if (!gStarted) return nullptr;
  LockChannels();
  vlChannel* found = nullptr;
  for (int i = 0; i < gChannelCount && !found; i++)
    if (gChannels[i].state == VL_CHANNEL_MODULE && gChannels[i].module == module) found = &gChannels[i];
  UnlockChannels();
  return found;
}

void StopExpiredChannels() {
  if (!gStarted) return;
  if (!GetAudioAdapter()) {
    ExpireALSAChannels();
    return;
  }
  vlTimeVal now;
  GetSysTime(&now);
  LockChannels();
  for (int i = 0; i < gChannelCount; i++) {
    vlChannel& c = gChannels[i];
    LockAudioOutput();
    const bool due = c.finished && CompareTimeVal(&now, &c.endTime) >= 0;
    UnlockAudioOutput();
    if (!due) continue;
    if (c.state == VL_CHANNEL_MUSIC || c.state == VL_CHANNEL_MODULE) {
      vlMusic* music = c.musicRecord;
      if (c.state == VL_CHANNEL_MODULE) EndFinishedModule(&c, i);
      else EndFinishedStream(&c);
      MarkMusicRecordStopped(music);
    } else {
      FreeAdapterChannel(&c);
      ClearEntry(&c);
    }
  }
  UnlockChannels();
}

int EndChannelPlayback(vlVMState* state, int index) {
  if (index < 0 || index >= gChannelCount) return kErrChannelRange;
  LockChannels();
  vlChannel& c = gChannels[index];
  if (ObjectTypeOf(c) == kObjVideo) {
    // The video whose sound it is stops: its player frees the channel.
    const vlObjectId video = c.id;
    UnlockChannels();
    StopVideoOfChannel(state, video);
    LockChannels();
    if (ObjectTypeOf(c) == kObjVideo) {
      CloseChannelOutput(&c);
      ClearEntry(&c);
    }
  } else if (c.state == VL_CHANNEL_FINISHED) {
    if (c.previousState == VL_CHANNEL_MUSIC || c.previousState == VL_CHANNEL_MODULE) {
      vlMusic* music = c.musicRecord;
      if (c.previousState == VL_CHANNEL_MODULE) EndFinishedModule(&c, index);
      else EndFinishedStream(&c);
      MarkMusicRecordStopped(music);
    } else {
      CloseChannelOutput(&c);
      ClearEntry(&c);
    }
  } else if (ObjectTypeOf(c) == kObjMusic && c.musicRecord) {
    vlMusic* music = c.musicRecord;
    StopMusicChannel(music->sourceKind, music->source, 0, nullptr, nullptr);
    MarkMusicRecordStopped(music);
  } else if (c.state == VL_CHANNEL_MODULE && !GetAudioAdapter()) {
    FreeChannelStream(index);
  } else if (c.state != VL_CHANNEL_FREE) {
    CloseChannelOutput(&c);
    ClearEntry(&c);
  }
  UnlockChannels();
  return 0;
}

void StopAllChannels(vlVMState* state) {
  if (!gStarted) return;
  // Channel by channel, without holding the lock over a video's stop.
  for (int i = 0; i < gChannelCount; i++) {
    LockChannels();
    const bool busy = gChannels[i].state != VL_CHANNEL_FREE;
    UnlockChannels();
    if (busy) EndChannelPlayback(state, i);
  }
}

void PostAudioEvent(int kind, vlObjectId id, int32_t step, int32_t count, int32_t extra, int wake) {
  if (!gEventLock) return;
  auto* e = static_cast<vlAudioEvent*>(AllocMemory(sizeof(vlAudioEvent), 1));
  if (!e) return;
  e->kind = kind;
  e->id = id;
  e->position = (count - 1) * step + (kind == 5 ? extra : 0);
  e->count = count;
  LockMutex(gEventLock);
  if (gEventTail) gEventTail->next = e;
  else gEventHead = e;
  gEventTail = e;
  UnlockMutex(gEventLock);
  if (wake) WakeEventLoop();
}

int PopAudioEvent(int* kind, vlObjectId* id, int32_t* position, int32_t* count) {
  if (!gEventLock) return 0;
  LockMutex(gEventLock);
  vlAudioEvent* e = gEventHead;
  if (e) {
    gEventHead = e->next;
    if (!gEventHead) gEventTail = nullptr;
  }
  UnlockMutex(gEventLock);
  if (!e) return 0;
  *kind = e->kind;
  *id = e->id;
  *position = e->position;
  *count = e->count;
  FreeMemory(e);
  return 1;
}
