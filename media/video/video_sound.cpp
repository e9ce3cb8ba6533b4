// A playing video's sound: the channel it claims, the ring the output
// thread drains, and the audio server thread that decodes sound packets
// into the ring. Without audio output (the sound library's silent mode)
// the video plays without sound and its clock follows the frames.
#include <algorithm>
#include <cstring>
#include <vector>

#include "media/sound/audio_adapter.h"
#include "media/sound/audio_channels.h"
#include "media/sound/sound_library.h"
#include "media/video/video_player.h"
#include "platform/alsa_output.h"
#include "runtime/threads.h"
#include "abi/plugin_abi.h"
#include "vm/error_codes.h"

namespace {

constexpr uint32_t kRingBytes = 2 * 192000;
constexpr uint32_t kChunkBytes = 1024;
constexpr uint32_t kDecodedBytes = 262144;

void CloseChannel(vlVideoPlayer* p) {
  if (!p->channel) return;
  if (GetAudioAdapter()) FreeAdapterChannel(p->channel);
  else CloseAudioChannel(p->channel);
  LockChannels();
  LockAudioOutput();
  if (p->channel->video == &p->ring) ClearAudioChannel(p->channel);
  UnlockAudioOutput();
  UnlockChannels();
  p->channel = nullptr;
}

// Takes the next sound packet, waiting in poll steps. 1 taken, -1 the
// queue ended, -2 a stop request.
int TakeAudioPacket(vlVideoPlayer* p, vlWorker* worker, vlPacket** out) {
  std::unique_lock<std::mutex> lock(p->audioQueue.mutex);
  for (;;) {
    if (GetWorkerStopFlag(worker)) return -2;
    if (p->audioQueue.head) break;
    if (p->audioQueue.endOfStream) return -1;
    p->audioQueue.condition.wait_for(lock, std::chrono::milliseconds(10));
  }
  vlPacket* packet = p->audioQueue.head;
  p->audioQueue.head = packet->next;
  if (!p->audioQueue.head) p->audioQueue.tail = nullptr;
  p->audioQueue.bytes -= packet->size;
  *out = packet;
  return 1;
}

bool AudioQueueEmpty(vlVideoPlayer* p) {
  std::lock_guard<std::mutex> lock(p->audioQueue.mutex);
  return p->audioQueue.head == nullptr;
}

void FreePendingAudio(vlVideoPlayer* p) {
  if (!p->pendingAudio) return;
  FreeVideoPacket(p->source, p->pendingAudio->data);
  FreeMemory(p->pendingAudio);
  p->pendingAudio = nullptr;
}

// Decodes the pending packet into the decoded buffer; false when it is
// used up.
bool DecodePending(vlVideoPlayer* p) {
  if (!p->pendingAudio) return false;
  uint32_t bytes = 0;
  const int used = DecodeAudioPacket(p->source, p->pendingAudio->data, p->pendingAudio->size,
                                     reinterpret_cast<int16_t*>(p->decoded), kDecodedBytes, &bytes);
  if (used) FreePendingAudio(p);
  std::lock_guard<std::mutex> lock(p->audioMutex);
  p->decodedLength = bytes;
  p->decodedPosition = 0;
  if (!p->audioRate || !p->audioChannels) return bytes != 0 || p->pendingAudio != nullptr;
  const double start = p->audioClock, rate = double(p->audioRate), frameBytes = 2.0 * p->audioChannels;
  p->audioClock += bytes / (frameBytes * rate);
  // After a seek the packet holding the place sought starts before it
  // (a whole picture frame before it at 5 frames a second): its sound up
  // to the place is not heard.
  if (p->soundFrom >= 0 && bytes) {
    if (p->audioClock <= p->soundFrom) {
      p->decodedPosition = bytes;
    } else {
      const double skip = std::max(0.0, p->soundFrom - start) * rate;
      p->decodedPosition = std::min(bytes, uint32_t(skip) * uint32_t(frameBytes));
      p->soundFrom = -1;
    }
  }
  return bytes != 0 || p->pendingAudio != nullptr;
}

// The place a seek went to: the sound from there on is heard.
void TrimSoundTo(vlVideoPlayer* p) {
  uint32_t ms;
  {
    std::lock_guard<std::mutex> lock(p->frameMutex);
    ms = p->seekPositionMs;
  }
  std::lock_guard<std::mutex> lock(p->audioMutex);
  p->soundFrom = ms / 1000.0;
}

// A seek while playing, before the decoder thread has put the flush in
// the queue or before this thread has met it: the sound decoded, pending
// or queued from the old place goes unheard (at 5 frames a second one
// packet holds 200 ms). True once the flush packet has been taken.
bool SkipToFlush(vlVideoPlayer* p) {
  FreePendingAudio(p);
  {
    std::lock_guard<std::mutex> lock(p->audioMutex);
    p->decodedLength = p->decodedPosition = 0;
  }
  for (;;) {
    vlPacket* packet;
    {
      std::lock_guard<std::mutex> lock(p->audioQueue.mutex);
      packet = p->audioQueue.head;
      if (!packet) return false;
      p->audioQueue.head = packet->next;
      if (!p->audioQueue.head) p->audioQueue.tail = nullptr;
      p->audioQueue.bytes -= packet->size;
    }
    const bool flush = packet->data == nullptr;
    if (!flush) FreeVideoPacket(p->source, packet->data);
    FreeMemory(packet);
    if (flush) return true;
  }
}

// After a seek while paused: the sound decoded or queued from the old
// place goes, so the resume starts with the new place's sound.
void DiscardHeldSound(vlVideoPlayer* p) {
  if (!p->soundDiscard.exchange(0)) return;
  FreePendingAudio(p);
  TrimSoundTo(p);
  {
    std::lock_guard<std::mutex> lock(p->audioMutex);
    p->decodedLength = p->decodedPosition = 0;
  }
  LockMutex(p->ring.mutex);
  // The output's clock stands still from here to the resume.
  if (p->ring.bytes) p->ring.dryAt = uint64_t(WallClock() * 1e6);
  p->ring.bytes = 0;
  UnlockMutex(p->ring.mutex);
}

// After the last packet: the track has played once the ring is empty and
// the device holds none of it, or, for an output that never takes the
// ring (an adapter without a channel), once the ring's length and a
// second more have passed. True when it has.
bool NoteSoundPlayed(vlVideoPlayer* p, uint32_t queued) {
  const double now = WallClock();
  if (p->soundDeadline < 0) {
    const double rate = double(p->audioRate ? p->audioRate : 1) * (p->ring.frameSize ? p->ring.frameSize : 2);
    p->soundDeadline = now + queued / rate + 1.0;
  }
  bool played = now >= p->soundDeadline;
  if (!played && queued == 0) {
    if (!p->channel) played = true;
    else if (GetAudioAdapter()) played = true;
    else played = IsAudioChannelDrained(p->channel);
  }
  if (played) p->soundPlayed.store(1);
  return played;
}

// How long the audio server rests when it has nothing to read: until the
// output has played the ring down to half its limit (1 to 10 ms); 10 ms
// once the sound has played to its end, when only a seek or a stop can
// come, and 50 ms once the video has ended too.
uint32_t IdleMillis(vlVideoPlayer* p, uint32_t queued, uint32_t limit) {
  if (p->soundStopped || (p->audioEnded && p->soundPlayed.load())) return p->ended.load() ? 50 : 10;
  const uint64_t bytesPerSecond = uint64_t(p->audioRate ? p->audioRate : 1) * (p->ring.frameSize ? p->ring.frameSize : 2);
  const uint64_t over = queued > limit / 2 ? queued - limit / 2 : 0;
  return uint32_t(std::clamp<uint64_t>(over * 1000 / bytesPerSecond, 1, 10));
}

}  // namespace

// Fills buffer with the next count bytes of sound; gives the bytes to
// queue: count, or after the last packet only the sound that was left
// (the device then runs dry instead of playing silence for ever); -1 on
// a stop request.
int ReadVideoAudio(vlVideoPlayer* p, uint8_t* buffer, uint32_t count, vlWorker* worker) {
  uint32_t done = 0;
  while (done < count) {
    if (GetWorkerStopFlag(worker)) return -1;
    // Paused: what is decoded waits for the resume, and no silence goes
    // between it and what was read (the sound would lag the picture).
    if (p->paused.load()) return int(done);
    if (p->audioFlushState.load() == 1) {
      if (!SkipToFlush(p)) return int(done);
      FlushVideoSourceAudio(p->source);
      TrimSoundTo(p);
      p->audioEnded = 0;
      p->soundPlayed.store(0);
      p->soundDry.store(0);
      p->audioFlushState.store(2);
      continue;
    }
    uint32_t available;
    {
      std::lock_guard<std::mutex> lock(p->audioMutex);
      available = p->decodedLength - p->decodedPosition;
    }
    if (available) {
      const uint32_t n = std::min(available, count - done);
      std::memcpy(buffer + done, p->decoded + p->decodedPosition, n);
      {
        std::lock_guard<std::mutex> lock(p->audioMutex);
        p->decodedPosition += n;
      }
      done += n;
      // The sound from a place sought has been reached (decoded and cut
      // to the place): the clock it gives is that place's.
      if (p->audioFlushState.load() == 2) p->audioFlushState.store(0);
      continue;
    }
    if (DecodePending(p)) continue;
    // Sound after the end comes from a seek: it plays on from there.
    if (p->audioEnded && !AudioQueueEmpty(p)) {
      p->audioEnded = 0;
      p->soundPlayed.store(0);
      p->soundDry.store(0);
    }
    if (p->audioEnded) return int(done);
    vlPacket* packet = nullptr;
    const int taken = TakeAudioPacket(p, worker, &packet);
    if (taken == -2) return -1;
    if (taken == -1) {
      p->audioEnded = 1;
      p->soundDeadline = -1;
      // No sound comes from a place sought past the track's end: the
      // picture does not wait for it.
      p->soundDry.store(1);
      if (p->audioFlushState.load() == 2) p->audioFlushState.store(0);
      continue;
    }
    p->soundDry.store(0);
    if (!packet->data) {
      FreeMemory(packet);
      FlushVideoSourceAudio(p->source);
      TrimSoundTo(p);
      p->audioFlushState.store(2);
      continue;
    }
    {
      std::lock_guard<std::mutex> lock(p->audioMutex);
      if (packet->time >= 0) p->audioClock = packet->time;
      // Without a stamp the packet's place is not known: nothing is cut.
      else p->soundFrom = -1;
    }
    p->pendingAudio = packet;
  }
  return int(done);
}

int OpenVideoSound(vlVMState* state, vlVideoPlayer* p) {
  p->sound = 0;
  if (!p->audioChannels || p->audioChannels > 2 || !AudioLayerReady() || EnsureAudioOutput(state) != 0) return 0;
  if (!p->decoded) p->decoded = static_cast<uint8_t*>(AllocMemory(kDecodedBytes, 0));
  if (!p->ring.data) p->ring.data = static_cast<uint8_t*>(AllocMemory(kRingBytes, 0));
  if (!p->ring.mutex) p->ring.mutex = CreateMutex();
  if (!p->decoded || !p->ring.data) return ERR_MEM;
  if (!p->ring.mutex) return ERR_SEMAPHORE;
  p->ring.bytes = 0;
  p->ring.resumed = 0;
  p->ring.dryAt = 0;
  p->ring.channels = p->audioChannels;
  p->ring.frameSize = 2 * p->audioChannels;
  p->decodedLength = p->decodedPosition = 0;
  p->audioEnded = 0;
  p->soundPlayed.store(0);
  p->soundDry.store(0);
  p->soundFrom = -1;
  p->soundStopped = 0;
  p->audioClock = 0;
  int index = p->channelIndex;
  vlChannel* entry = nullptr;
  if (int error = ClaimAudioChannel(state, VL_CHANNEL_VIDEO_SETUP, p->videoId, &index, &entry)) return error;
  const vlAudioFormat format{16, 0, p->audioChannels, VL_PCM_SIGNED};
  // An adapter's channel is asked for once the first sound is queued.
  if (int error = GetAudioAdapter() ? 0 : OpenAudioDevice(index, &format, p->audioRate)) {
    LockChannels();
    LockAudioOutput();
    ClearAudioChannel(entry);
    UnlockAudioOutput();
    UnlockChannels();
    return error;
  }
  LockAudioOutput();
  entry->video = &p->ring;
  entry->volume = p->volume;
  UnlockAudioOutput();
  p->channel = entry;
  p->sound = 1;
  return 0;
}

void SetVideoPlayerId(vlVideoHandle* handle, vlObjectId id) {
  vlVideoPlayer* p = handle->player;
  {
    std::lock_guard<std::mutex> frames(p->frameMutex);
    p->videoId = id;
  }
  if (!p->channel) return;
  LockChannels();
  if (p->channel->video == &p->ring) p->channel->id = id;
  UnlockChannels();
}

void VideoAudioThread(void* start) {
  vlWorker* worker = GetWorkerSelf(start);
  auto* p = static_cast<vlVideoPlayer*>(GetWorkerUserData(worker));
  ReportWorkerStarted(worker);
  // An adapter pulls in its own buffer size: the chunk follows it (whole
  // frames, within the ring); the sound system takes 1024 bytes at a time.
  vlPluginInfo* adapter = GetAudioAdapter();
  const uint32_t frameBytes = p->ring.frameSize ? p->ring.frameSize : 2;
  uint32_t chunkBytes = kChunkBytes;
  if (adapter && adapter->audioBufferSize)
    chunkBytes = std::clamp<uint32_t>(adapter->audioBufferSize, frameBytes, kRingBytes / 4) / frameBytes * frameBytes;
  const uint32_t limit = 2 * chunkBytes;
  bool first = true;
  std::vector<uint8_t> chunk(limit);
  while (!GetWorkerStopFlag(worker)) {
    DiscardHeldSound(p);
    if (p->ended.load() && !p->soundStopped) {
      p->soundStopped = 1;
      CloseChannel(p);
    }
    // Paused, the ring runs dry and the output waits for more: the
    // silence costs nothing.
    if (p->paused.load()) {
      RestWhilePaused(p, worker);
      continue;
    }
    uint32_t queued;
    LockMutex(p->ring.mutex);
    queued = p->ring.bytes;
    UnlockMutex(p->ring.mutex);
    // With an adapter the ring is topped up to the limit; for the sound
    // system a chunk is read once half of the limit has been played.
    uint32_t want = 0;
    if (first) want = chunkBytes;
    else if (adapter) want = queued < limit ? (limit - queued) / frameBytes * frameBytes : 0;
    else if (queued <= limit / 2) want = chunkBytes;
    if (p->audioEnded && !p->soundPlayed.load() && NoteSoundPlayed(p, queued)) continue;
    if (!p->soundStopped && want && !(p->audioEnded && AudioQueueEmpty(p))) {
      const int got = ReadVideoAudio(p, chunk.data(), want, worker);
      if (got < 0) break;
      LockMutex(p->ring.mutex);
      const bool wasEmpty = p->ring.bytes == 0;
      const uint32_t n = std::min<uint32_t>(uint32_t(got), kRingBytes - p->ring.bytes);
      std::memcpy(p->ring.data + p->ring.bytes, chunk.data(), n);
      p->ring.bytes += n;
      UnlockMutex(p->ring.mutex);
      // An output that found the ring empty waits for it; one that holds
      // sound back for its clock comes back when that is due.
      if (!adapter && wasEmpty) WakeAudioOutput();
      if (first) {
        first = false;
        LockAudioOutput();
        // A channel taken over meanwhile (StopChannel) is left alone.
        const bool ours = p->channel && p->channel->video == &p->ring;
        if (ours) p->channel->state = VL_CHANNEL_VIDEO;
        UnlockAudioOutput();
        if (!adapter) WakeAudioOutput();
        if (ours && GetAudioAdapter()) {
          const uint32_t format = p->audioChannels == 2 ? VL_SMP_S16_STEREO : VL_SMP_S16_MONO;
          // Without a channel the video plays on silent.
          AllocAdapterChannel(p->channel, format, p->audioRate, p->volume);
        }
      }
      continue;
    }
    SleepMillis(IdleMillis(p, queued, limit));
  }
  FreePendingAudio(p);
}

uint32_t QueuedSoundBytes(vlVideoPlayer* p) {
  uint32_t ring = 0;
  if (p->ring.mutex) {
    LockMutex(p->ring.mutex);
    ring = p->ring.bytes;
    UnlockMutex(p->ring.mutex);
  }
  std::lock_guard<std::mutex> lock(p->audioMutex);
  return ring + (p->decodedLength - p->decodedPosition);
}

double WrittenSoundClock(vlVideoPlayer* p) {
  const uint32_t queued = QueuedSoundBytes(p);
  const double rate = double(p->audioRate ? p->audioRate : 1) * (p->audioChannels ? p->audioChannels : 1) * 2;
  std::lock_guard<std::mutex> lock(p->audioMutex);
  return p->audioClock - queued / rate;
}

void CloseVideoSound(vlVideoPlayer* p) {
  CloseChannel(p);
  p->sound = 0;
}

void FreeVideoSound(vlVideoPlayer* p) {
  CloseVideoSound(p);
  FreeMemory(p->ring.data);
  p->ring.data = nullptr;
  if (p->ring.mutex) FreeMutex(p->ring.mutex);
  p->ring.mutex = nullptr;
  FreeMemory(p->decoded);
  p->decoded = nullptr;
}

void MarkVideoSoundResumed(vlVideoPlayer* p) {
  if (!p->sound || !p->ring.mutex) return;
  LockMutex(p->ring.mutex);
  p->ring.resumed = 1;
  UnlockMutex(p->ring.mutex);
}

void SetVideoSoundVolume(vlVideoPlayer* p, uint32_t volume) {
  if (!p->sound || !p->channel) return;
  if (GetAudioAdapter()) SetAdapterChannelAttributes(p->channel, -1, int32_t(volume), -1);
  else SetVideoChannelVolumeALSA(&p->ring, volume);
}
