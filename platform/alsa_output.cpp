// The ALSA output back end: PCM opening and parameters, volume scaling, the
// output thread's sweep over the channel table and the main thread's expiry
// of finished channels. Depends on the run-time loaded libasound pointers,
// the thread and mutex layer and the audio-event hook.
#include "platform/alsa_output.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <csignal>
#include <ctime>

#include "platform/hooks.h"
#include "platform/shared_libs.h"
#include "runtime/threads.h"
#include "platform/timers.h"
#include "runtime/errors.h"
#include "vm/error_codes.h"

vlSoundServices gSoundServices{};
vlChannel* gChannels = nullptr;
int gChannelCount = 0;

void ClearAudioChannel(vlChannel* channel) { std::memset(channel, 0, sizeof *channel); }

namespace {

constexpr uint32_t kScratchFrames = 96000;
constexpr size_t kScratchBytes = kScratchFrames * 4;
constexpr size_t kModuleRingBytes = kModuleRingFrames * 4;
constexpr int kEAgain = -11, kEPipe = -32, kEStrPipe = -86;

char gDeviceName[256] = "default";
vlMutex* gOutputMutex = nullptr;
vlThreadId gThread = 0;
int gStarted = 0;
std::atomic<int> gStop{0};
std::atomic<int> gWantLoop{0}, gWantEnd{0}, gWantMusicEnd{0}, gWantVideoEnd{0};

// A pass's loop-event timer. Its record carries the event's words, taken
// when it was armed: the channel may have moved on, or ended, by the time
// the signal is read. The records are a fixed pool, so a signal still in
// the pipe never points at freed memory, and a sample repeated without end
// cannot arm timers without bound. A record is reused once its event went
// out, while the old timer's signal may still wait in the pipe: the signal
// carries the record's index and the generation it was armed in, and only
// the record still armed in that generation takes it.
enum : uint64_t { kLoopFree = 0, kLoopArmed = 1, kLoopDelivered = 2 };
struct LoopTimer {
  std::atomic<uint64_t> word;  // generation << 2 | state
  timer_t timer;
  const vlChannel* channel;
  vlObjectId id;
  int32_t step, loop, extra;
};
constexpr int kLoopTimers = 64;
constexpr int kLoopIndexBits = 8;
static_assert(kLoopTimers <= 1 << kLoopIndexBits);
LoopTimer gLoopTimers[kLoopTimers];

uint64_t LoopState(uint64_t word) { return word & 3; }
uint64_t LoopWord(uint64_t generation, uint64_t state) { return generation << 2 | state; }

// Armed to delivered, in the generation the record is armed in; true when
// this call made the change, so the event goes out once.
bool TakeArmedLoopTimer(LoopTimer* record) {
  uint64_t word = record->word.load();
  return LoopState(word) == kLoopArmed &&
         record->word.compare_exchange_strong(word, LoopWord(word >> 2, kLoopDelivered));
}

void PostLoopTimer(const LoopTimer* record) {
  if (gPlatformHooks.postAudioEvent && gWantLoop.load())
    gPlatformHooks.postAudioEvent(VL_AUDIO_EVENT_SAMPLE_LOOP, record->id, record->step, record->loop,
                                  record->extra, 1);
}

snd_pcm_t* Pcm(const vlChannel* channel) { return static_cast<snd_pcm_t*>(channel->pcm); }

void Post(int kind, const vlChannel* channel) {
  if (gPlatformHooks.postAudioEvent) {
    gPlatformHooks.postAudioEvent(kind, channel->id, channel->loopStep, channel->loop,
                                  channel->extra, 1);
  }
}

void IgnoreAlsaMessage(const char*, int, const char*, int, const char*, ...) {}

int Round(double value) { return static_cast<int>(std::lround(value)); }

// Writes frames (scaled into scratch below volume 64): frames written or a
// negative ALSA error.
long WriteFrames(snd_pcm_t* pcm, const uint8_t* source, uint32_t frames, uint32_t volume,
                 uint32_t format, uint32_t swapped, uint8_t* scratch) {
  if (volume >= 64) return dl_snd_pcm_writei(pcm, source, frames);
  if (frames > kScratchFrames) frames = kScratchFrames;
  ScaleAudioFrames(source, scratch, frames, volume, format, swapped);
  return dl_snd_pcm_writei(pcm, scratch, frames);
}

// A volume change comes from the drawing thread without the output lock.
uint32_t Volume(const vlChannel* channel) { return __atomic_load_n(&channel->volume, __ATOMIC_RELAXED); }

void Recover(snd_pcm_t* pcm, long error) {
  if (error == kEPipe) {
    dl_snd_pcm_prepare(pcm);
  } else if (error == kEStrPipe) {
    int result;
    while ((result = dl_snd_pcm_resume(pcm)) == kEAgain) SleepMillis(1000);
    if (result < 0) dl_snd_pcm_prepare(pcm);
  }
}

int64_t MillisSinceTrigger(snd_pcm_t* pcm, snd_pcm_status_t* status) {
  if (dl_snd_pcm_status(pcm, status) < 0) return 0;
  snd_timestamp_t trigger;
  dl_snd_pcm_status_get_trigger_tstamp(status, &trigger);
  if (trigger.tv_sec == 0 && trigger.tv_usec == 0) return 0;
  vlTimeVal now;
  GetSysTime(&now);
  return (static_cast<int64_t>(now.seconds) - trigger.tv_sec) * 1000 +
         (static_cast<int64_t>(now.micros) - trigger.tv_usec) / 1000;
}

uint64_t MonotonicMicros() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000000 + static_cast<uint64_t>(now.tv_nsec) / 1000;
}

// Frames the sound's own clock has run since the channel's first write.
uint64_t ClockFramesDue(const vlChannel* channel) {
  if (!channel->clockStarted) return 0;
  return (MonotonicMicros() - channel->clockStart) * channel->clockRate / 1000000;
}

// What a device that plays as it takes holds beyond what has played: its
// buffer (a twentieth of a second at least). A source that falls further
// behind the clock than this goes on from now.
uint64_t DeviceLead(const vlChannel* channel) {
  const uint64_t floor = channel->clockRate / 20;
  return channel->bufferFrames > floor ? channel->bufferFrames : floor;
}

// How far ahead of the clock a device that takes everything at once is
// kept: one period, a quarter of the 100 ms buffer. A stop or pause then
// leaves in the recording no more than that beyond what was heard.
uint64_t Period(const vlChannel* channel) {
  const uint64_t period = channel->clockRate / 40;
  return period ? period : 1;
}

bool KeptToClock(const vlChannel* channel) { return !channel->deviceChecked || channel->deviceUnpaced; }

// How many frames the channel may hand the device now: any number to a
// device that takes them as it plays them; to one that takes everything
// at once (a file or null sink), and to every device before its first
// write tells which it is, no more than one period ahead of the clock, so
// the recording keeps the sound's length and its events their time.
// A source that fell behind (a feeder late, a video's sound not yet
// decoded) goes on from now, as a device that ran dry would, instead of
// catching up at once.
uint64_t FramesAllowed(vlChannel* channel) {
  if (!KeptToClock(channel)) return UINT64_MAX;
  const uint64_t lead = DeviceLead(channel), due = ClockFramesDue(channel);
  if (due > channel->clockFrames + lead && channel->clockRate) {
    const uint64_t behind = due - channel->clockFrames - lead;
    channel->clockStart += behind * 1000000 / channel->clockRate;
  }
  const uint64_t ahead = ClockFramesDue(channel) + Period(channel);
  return ahead > channel->clockFrames ? ahead - channel->clockFrames : 0;
}

// Cuts a write of frames to what FramesAllowed gives; false when it gives
// none of them, or, once the clock runs, less than half a period (the
// thread comes back when half a period is due).
bool KeepToClock(vlChannel* channel, uint32_t* frames) {
  const uint64_t allowed = FramesAllowed(channel);
  if (*frames <= allowed) return true;
  if (allowed == 0 || (channel->clockStarted && allowed < Period(channel) / 2)) return false;
  *frames = static_cast<uint32_t>(allowed);
  return true;
}

// Counts frames the device took. The first write tells what the device
// is: one that plays what it takes still holds the frames just written,
// one that took them at once (a file or null sink) holds none. Without a
// way to ask, the device stays kept to the clock. A device taken as one
// that plays them that took two buffers more in the first seconds is kept
// to the clock after all (later on, a real device's drift from the clock
// could come near that).
void CountFramesWritten(vlChannel* channel, uint64_t frames) {
  if (!channel->clockStarted) {
    channel->clockStarted = 1;
    channel->clockStart = MonotonicMicros();
  }
  channel->clockFrames += frames;
  if (!channel->deviceChecked) {
    channel->deviceChecked = 1;
    channel->deviceUnpaced = 1;
    if (dl_snd_pcm_avail) {
      const snd_pcm_sframes_t avail = dl_snd_pcm_avail(Pcm(channel));
      channel->deviceUnpaced = avail < 0 || uint64_t(avail) + frames / 2 >= channel->bufferFrames;
    }
    return;
  }
  const uint64_t due = ClockFramesDue(channel);
  if (!channel->deviceUnpaced && channel->clockRate && due < 10 * uint64_t{channel->clockRate} &&
      channel->clockFrames > due + 2 * DeviceLead(channel))
    channel->deviceUnpaced = 1;
}

// The first monotonic microsecond at which the clock has run frames.
uint64_t ClockTimeOf(const vlChannel* channel, uint64_t frames) {
  const uint64_t rate = channel->clockRate ? channel->clockRate : 1;
  return channel->clockStart + (frames * 1000000 + rate - 1) / rate;
}

constexpr uint64_t kDeviceRetry = 500;    // µs: a device that took no data
constexpr uint64_t kSourceRetry = 20000;  // µs: a source with no data yet (its producer wakes the thread)

// When the channel next needs the output thread (monotonic microseconds):
// a device that plays as it takes is tried again at once after a write,
// else after 500 µs; one kept to the clock when half a period is due, or
// once finished when the clock has covered what was written. A source
// that has nothing to write wakes the thread when it has.
uint64_t NextVisit(const vlChannel* channel, bool wrote, uint64_t now) {
  if (!channel->clockStarted) return now + kSourceRetry;
  if (!KeptToClock(channel)) return wrote ? now : now + kDeviceRetry;
  const uint64_t half = Period(channel) / 2;
  const uint64_t target = channel->finished ? channel->clockFrames
                          : channel->clockFrames > half ? channel->clockFrames - half : 0;
  const uint64_t at = ClockTimeOf(channel, target);
  return at > now ? at : now + kSourceRetry;
}

// A channel's sound has drained when the device holds none of it and the
// clock has run the length of what was written: a device that took it all
// at once has not played it yet.
bool Drained(const vlChannel* channel) {
  if (channel->clockStarted && ClockFramesDue(channel) < channel->clockFrames) return false;
  if (dl_snd_pcm_avail) {
    snd_pcm_sframes_t avail = dl_snd_pcm_avail(Pcm(channel));
    return avail < 0 || avail >= static_cast<snd_pcm_sframes_t>(channel->bufferFrames) - 25;
  }
  vlTimeVal now;
  GetSysTime(&now);
  SubTimeVal(&now, &channel->endTime);
  return static_cast<int32_t>(now.seconds) >= 1;
}

// Milliseconds until the new pass sounds. With the device's trigger time
// the writes run about one buffer ahead of it, and the remainder of the
// pass start over the elapsed time is that lead. A device that reports no
// trigger time (a file sink) takes the first write as the start: the pass
// sounds (loop - 1) passes after it.
int64_t LoopDelay(const vlChannel* channel, snd_pcm_t* pcm, snd_pcm_status_t* status) {
  const int64_t passStart = static_cast<int64_t>(channel->loop - 1) * channel->loopStep;
  int64_t elapsed = MillisSinceTrigger(pcm, status);
  if (elapsed > 0) return passStart % elapsed;
  vlTimeVal now;
  GetSysTime(&now);
  SubTimeVal(&now, &channel->startTime);
  elapsed = static_cast<int64_t>(now.seconds) * 1000 + now.micros / 1000;
  return passStart > elapsed ? passStart - elapsed : 1;
}

// A pass whose start is due now, or whose timer cannot be had, reports its
// loop at once: every pass reports one.
void ArmLoopTimer(vlChannel* channel, snd_pcm_t* pcm, snd_pcm_status_t* status) {
  const int64_t delay = LoopDelay(channel, pcm, status);
  LoopTimer* record = nullptr;
  for (LoopTimer& r : gLoopTimers)
    if (delay > 0 && LoopState(r.word.load()) == kLoopFree) {
      record = &r;
      break;
    }
  if (!record) {
    Post(VL_AUDIO_EVENT_SAMPLE_LOOP, channel);
    return;
  }
  const uint64_t generation = (record->word.load() >> 2) + 1;
  record->channel = channel;
  record->id = channel->id;
  record->step = channel->loopStep;
  record->loop = channel->loop;
  record->extra = channel->extra;
  sigevent event{};
  event.sigev_notify = SIGEV_SIGNAL;
  event.sigev_signo = SIGRTMIN + 1;
  const auto index = static_cast<uintptr_t>(record - gLoopTimers);
  event.sigev_value.sival_ptr = reinterpret_cast<void*>(generation << kLoopIndexBits | index);
  if (timer_create(CLOCK_REALTIME, &event, &record->timer) != 0) {
    Post(VL_AUDIO_EVENT_SAMPLE_LOOP, channel);
    return;
  }
  record->word.store(LoopWord(generation, kLoopArmed));
  itimerspec when{};
  when.it_value.tv_sec = delay / 1000;
  when.it_value.tv_nsec = (delay % 1000) * 1000000;
  if (timer_settime(record->timer, 0, &when, nullptr) != 0) {
    timer_delete(record->timer);
    record->word.store(LoopWord(generation, kLoopFree));
    Post(VL_AUDIO_EVENT_SAMPLE_LOOP, channel);
  }
}

// Frees the timers whose event went out (all of them when the thread
// ends; a signal of theirs still in the pipe then finds its generation
// gone and posts nothing).
void ReapLoopTimers(bool all) {
  for (LoopTimer& r : gLoopTimers) {
    const uint64_t word = r.word.load();
    if (LoopState(word) == kLoopFree || (!all && LoopState(word) != kLoopDelivered)) continue;
    timer_delete(r.timer);
    r.word.store(LoopWord(word >> 2, kLoopFree));
  }
}

bool LoopTimerExpired(const LoopTimer* record) {
  itimerspec left{};
  if (timer_gettime(record->timer, &left) != 0) return true;
  return left.it_value.tv_sec == 0 && left.it_value.tv_nsec == 0;
}

// Takes the loop timers of the channel's passes still armed, in pass
// order: their signals reach the event queue only when the script's thread
// reads them, and the end of the sample must come after its last pass.
// At the end (all) every one is posted. At a stop only the passes that
// already sound are posted and the later ones are dropped, so a play that
// follows at once on the channel sees no event of the stopped one. A
// signal read later finds its record taken and posts nothing.
void TakePendingLoopTimers(const vlChannel* channel, bool all) {
  for (;;) {
    LoopTimer* first = nullptr;
    for (LoopTimer& r : gLoopTimers)
      if (LoopState(r.word.load()) == kLoopArmed && r.channel == channel && (!first || r.loop < first->loop))
        first = &r;
    if (!first) return;
    const bool post = all || LoopTimerExpired(first);
    if (TakeArmedLoopTimer(first) && post) PostLoopTimer(first);
  }
}

// Returns true when data was written.
bool SweepSample(vlChannel* channel, uint8_t* scratch, snd_pcm_status_t* status) {
  snd_pcm_t* pcm = Pcm(channel);
  vlSoundData* sample = channel->sample;
  bool wrote = false;
  // A short sample repeated without end on a device that never fills would
  // keep this loop, and the lock, for ever: one device buffer per sweep.
  uint64_t budget = channel->bufferFrames > 4096 ? channel->bufferFrames : 4096;
  uint64_t sent = 0;
  while (!channel->finished && sent < budget) {
    // A timed play ends with a shorter last pass.
    uint32_t passFrames = sample->frames;
    if (channel->loop == channel->loops && channel->lastFrames > 0 &&
        uint32_t(channel->lastFrames) < passFrames) {
      passFrames = uint32_t(channel->lastFrames);
    }
    uint32_t rest = passFrames > channel->written ? passFrames - channel->written : 0;
    if (!KeepToClock(channel, &rest)) return wrote;  // ahead of the clock: later
    long result = rest == 0 ? 0
                            : WriteFrames(pcm, sample->pcm + size_t(channel->written) * sample->bytesPerFrame,
                                          rest, Volume(channel), sample->format,
                                          sample->flags & VL_PCM_BIG_ENDIAN, scratch);
    if (result < 0) {
      if (result != kEAgain) Recover(pcm, result);
      return wrote;
    }
    if (result > 0) {
      wrote = true;
      CountFramesWritten(channel, static_cast<uint64_t>(result));
    }
    sent += static_cast<uint64_t>(result) + 1;
    if (channel->startPending) {
      GetSysTime(&channel->startTime);
      channel->startPending = 0;
      if (gWantLoop.load()) Post(VL_AUDIO_EVENT_SAMPLE_LOOP, channel);
    }
    channel->written += static_cast<uint32_t>(result);
    if (channel->written < passFrames) return wrote;
    // A pass count of 0 repeats until the sample is stopped.
    if (channel->loops != 0 && channel->loop >= channel->loops) {
      GetSysTime(&channel->endTime);
      channel->finished = 1;
    } else {
      channel->written = 0;
      channel->loop++;
      if (gWantLoop.load()) ArmLoopTimer(channel, pcm, status);
    }
  }
  return wrote;
}

bool SweepMusic(vlChannel* channel, uint8_t* scratch) {
  snd_pcm_t* pcm = Pcm(channel);
  vlStreamOutput* music = channel->music;
  bool wrote = false;
  while (!channel->finished) {
    uint32_t rest = channel->musicFrames - channel->written;
    if (!KeepToClock(channel, &rest)) return wrote;  // ahead of the clock: later
    long result = rest == 0 ? 0
                            : WriteFrames(pcm, channel->musicCurrent + size_t(channel->written) * music->frameSize,
                                          rest, Volume(channel), music->format, music->byteSwapped,
                                          scratch);
    if (result < 0) {
      if (result != kEAgain) Recover(pcm, result);
      return wrote;
    }
    if (result > 0) {
      if (!wrote && music->startTime.seconds == 0 && music->startTime.micros == 0) {
        GetSysTime(&music->startTime);
      }
      wrote = true;
      CountFramesWritten(channel, static_cast<uint64_t>(result));
    }
    channel->written += static_cast<uint32_t>(result);
    if (channel->written < channel->musicFrames) return wrote;
    int current = channel->musicCurrent == channel->musicBlock ? 0 : 1;
    int next = 1 - current;
    if (channel->feederStarted) {
      // Never replay a buffer the feeder has not refilled yet: wait for it.
      if (channel->musicState == VL_MUSIC_REFILL && !channel->musicReady[next]) return wrote;
      channel->musicReady[current] = 0;
    }
    channel->musicCurrent =
        channel->musicBlock + size_t(next) * music->frameSize * channel->musicBufferSize;
    channel->musicFrames = channel->musicLength[next];
    channel->written = 0;
    if (channel->musicState == VL_MUSIC_ENDED) {
      GetSysTime(&channel->endTime);
      channel->finished = 1;
    } else if (channel->musicState == VL_MUSIC_LAST_QUEUED) {
      channel->musicState = VL_MUSIC_ENDED;
    } else if (gSoundServices.signalChannelFeeder) {
      while (!gSoundServices.signalChannelFeeder(channel)) sched_yield();
    }
  }
  return wrote;
}

// Frames of the channel heard so far: by the device's trigger time when
// it reports one (and a status block is at hand), else by the sound's own
// clock; never more than was written.
uint64_t FramesHeard(const vlChannel* channel, snd_pcm_status_t* status) {
  const int64_t played = status ? MillisSinceTrigger(Pcm(channel), status) : 0;
  const uint64_t frames = played > 0 ? static_cast<uint64_t>(std::llround(played * (channel->clockRate / 1000.0)))
                                     : ClockFramesDue(channel);
  return frames < channel->clockFrames ? frames : channel->clockFrames;
}

// Keeps the shared module state (positions the script reads) at what has
// been heard, advancing it without output.
void FollowModuleClock(vlChannel* channel, snd_pcm_status_t* status) {
  if (!gSoundServices.renderModule || !channel->module) return;
  const uint64_t heard = FramesHeard(channel, status);
  if (heard <= channel->moduleAccounted) return;
  uint64_t step = heard - channel->moduleAccounted;
  if (step > kModuleRate) step = kModuleRate;
  gSoundServices.renderModule(channel->module, nullptr, static_cast<uint32_t>(step));
  channel->moduleAccounted += step;
}

// Renders frames of the private copy into the ring at a position, behind
// queued frames still to be written; once the song has played its passes
// the frames up to its end are the last ones.
void RefillModuleRing(vlChannel* channel, uint32_t at, uint32_t frames, uint32_t queued) {
  if (channel->moduleEnding || !frames || !gSoundServices.renderModule) return;
  const uint32_t rendered = gSoundServices.renderModule(
      channel->moduleCopy, reinterpret_cast<int16_t*>(channel->moduleRing + size_t(at) * 4), frames);
  if (rendered < frames) {
    channel->moduleEnding = 1;
    channel->moduleLeft = queued + rendered;
  }
}

// After a new song position: the copy takes the shared state, which has
// just moved there, and the whole ring ahead of the write position is
// rendered from it, so the new place sounds one period later.
void RestartModuleRing(vlChannel* channel) {
  channel->moduleRestart = 0;
  if (!gSoundServices.renderModule || !gSoundServices.moduleStateSize) return;
  gSoundServices.renderModule(channel->module, nullptr, 0);
  std::memcpy(channel->moduleCopy, channel->module, gSoundServices.moduleStateSize(channel->module));
  channel->moduleEnding = 0;
  channel->moduleLeft = 0;
  const uint32_t at = channel->modulePosition;
  RefillModuleRing(channel, at, kModuleRingFrames - at, 0);
  RefillModuleRing(channel, 0, at, kModuleRingFrames - at);
}

bool SweepModule(vlChannel* channel, uint8_t* scratch, snd_pcm_status_t* status) {
  snd_pcm_t* pcm = Pcm(channel);
  FollowModuleClock(channel, status);
  if (channel->moduleRestart) RestartModuleRing(channel);
  bool wrote = false;
  int rounds = 0;
  while (!channel->finished) {
    if (channel->moduleEnding && channel->moduleLeft == 0) {
      GetSysTime(&channel->endTime);
      channel->finished = 1;
      break;
    }
    const uint32_t at = channel->modulePosition;
    uint32_t rest = kModuleRingFrames - at;
    if (channel->moduleEnding && channel->moduleLeft < rest) rest = channel->moduleLeft;
    const uint32_t wanted = rest;
    if (!KeepToClock(channel, &rest)) break;  // ahead of the clock: later
    long result = WriteFrames(pcm, channel->moduleRing + size_t(at) * 4, rest, Volume(channel), 5, 0, scratch);
    if (result < 0) {
      if (result != kEAgain) Recover(pcm, result);
      break;
    }
    if (result == 0) break;
    wrote = true;
    const auto frames = static_cast<uint32_t>(result);
    CountFramesWritten(channel, frames);
    if (channel->moduleEnding) channel->moduleLeft -= frames;
    else RefillModuleRing(channel, at, frames, kModuleRingFrames - frames);
    channel->modulePosition = at + frames;
    if (channel->modulePosition == kModuleRingFrames) channel->modulePosition = 0;
    if (frames < wanted) break;
    // A device that never fills (a null sink) would keep this channel
    // writing, and the lock held, for ever: one ring per sweep at most.
    if (channel->modulePosition == 0 && ++rounds > 1) break;
  }
  return wrote;
}

bool SweepVideo(vlChannel* channel, uint8_t* scratch) {
  vlVideoSound* video = channel->video;
  if (!video) return false;
  // The video's sound thread fills the ring under its lock, so the count is
  // read under it too.
  LockMutex(video->mutex);
  if (video->bytes == 0) {  // the video's sound thread wakes the output
    UnlockMutex(video->mutex);
    return false;
  }
  if (video->resumed) {
    // The time the sound stood still is no time it played.
    video->resumed = 0;
    if (video->dryAt && channel->clockStarted) channel->clockStart += MonotonicMicros() - video->dryAt;
    video->dryAt = 0;
  }
  uint32_t frameSize = video->frameSize ? video->frameSize : 2 * video->channels;
  uint32_t frames = frameSize ? video->bytes / frameSize : 0;
  if (!KeepToClock(channel, &frames)) frames = 0;
  bool wrote = false;
  if (frames) {
    long result = WriteFrames(Pcm(channel), video->data, frames, Volume(channel),
                              video->channels == 2 ? 5 : 4, 0, scratch);
    if (result > 0) {
      CountFramesWritten(channel, static_cast<uint64_t>(result));
      size_t used = size_t(result) * frameSize;
      std::memmove(video->data, video->data + used, video->bytes - used);
      video->bytes -= static_cast<uint32_t>(used);
      video->dryAt = video->bytes ? 0 : MonotonicMicros();
      wrote = true;
    } else if (result < 0 && result != kEAgain) {
      Recover(Pcm(channel), result);
    }
  }
  UnlockMutex(video->mutex);
  return wrote;
}

// The output thread sleeps until the next channel is due or something
// changes what it has to do (WakeAudioOutput).
std::mutex gWakeMutex;
std::condition_variable gWakeCondition;
bool gWakeRequested = false;

void WaitForWork(uint64_t until) {
  std::unique_lock<std::mutex> lock(gWakeMutex);
  if (!gWakeRequested && !gStop.load() && until > MonotonicMicros()) {
    // Nothing due: a second at most, so nothing can be missed for long.
    const uint64_t bound = MonotonicMicros() + 1000000;
    const std::chrono::steady_clock::time_point deadline{std::chrono::microseconds(until < bound ? until : bound)};
    gWakeCondition.wait_until(lock, deadline, [] { return gWakeRequested || gStop.load(); });
  }
  gWakeRequested = false;
}

bool Swept(uint32_t state) {
  return state == VL_CHANNEL_MODULE || state == VL_CHANNEL_SAMPLE || state == VL_CHANNEL_MUSIC ||
         state == VL_CHANNEL_VIDEO;
}

void* AudioThreadMain(void*) {
  auto* scratch = static_cast<uint8_t*>(AllocMemory(kScratchBytes, 0));
  snd_pcm_status_t* status = nullptr;
  dl_snd_pcm_status_malloc(&status);
  while (!gStop.load()) {
    bool wroteAny = false;
    uint64_t next = UINT64_MAX;
    LockMutex(gOutputMutex);
    for (int i = 0; i < gChannelCount && scratch && status; i++) {
      vlChannel* channel = &gChannels[i];
      if (!channel->pcm) continue;
      bool wrote = false;
      switch (channel->state) {
        case VL_CHANNEL_MODULE:
          wrote = SweepModule(channel, scratch, status);
          if (channel->finished && Drained(channel)) {
            if (gWantMusicEnd.load()) Post(VL_AUDIO_EVENT_MUSIC_END, channel);
            channel->previousState = VL_CHANNEL_MODULE;
            channel->state = VL_CHANNEL_FINISHED;
          }
          break;
        case VL_CHANNEL_SAMPLE:
          wrote = SweepSample(channel, scratch, status);
          if (channel->finished && Drained(channel)) {
            TakePendingLoopTimers(channel, true);
            if (gWantEnd.load()) Post(VL_AUDIO_EVENT_SAMPLE_END, channel);
            channel->previousState = VL_CHANNEL_SAMPLE;
            channel->state = VL_CHANNEL_FINISHED;
          }
          break;
        case VL_CHANNEL_MUSIC:
          wrote = SweepMusic(channel, scratch);
          if (channel->finished && Drained(channel)) {
            if (gWantMusicEnd.load()) Post(VL_AUDIO_EVENT_MUSIC_END, channel);
            channel->previousState = VL_CHANNEL_MUSIC;
            channel->state = VL_CHANNEL_FINISHED;
          }
          break;
        case VL_CHANNEL_VIDEO:
          wrote = SweepVideo(channel, scratch);
          break;
        default:
          break;
      }
      wroteAny |= wrote;
      if (Swept(channel->state)) {
        const uint64_t visit = NextVisit(channel, wrote, MonotonicMicros());
        if (visit < next) next = visit;
      }
    }
    UnlockMutex(gOutputMutex);
    if (wroteAny) ReapLoopTimers(false);
    WaitForWork(next);
  }
  ReapLoopTimers(true);
  if (status) dl_snd_pcm_status_free(status);
  FreeMemory(scratch);
  return nullptr;
}

}  // namespace

void DeliverLoopTimer(uintptr_t token) {
  const uintptr_t index = token & ((uintptr_t{1} << kLoopIndexBits) - 1);
  if (index >= kLoopTimers || !gOutputMutex) return;
  LoopTimer* record = &gLoopTimers[index];
  // Under the output lock, as the thread's own posts: an end posted there
  // cannot come between this pass's take and its post.
  LockMutex(gOutputMutex);
  uint64_t armed = LoopWord(token >> kLoopIndexBits, kLoopArmed);
  if (record->word.compare_exchange_strong(armed, LoopWord(token >> kLoopIndexBits, kLoopDelivered)))
    PostLoopTimer(record);
  UnlockMutex(gOutputMutex);
}

void SetAudioDeviceName(const char* name) {
  std::snprintf(gDeviceName, sizeof gDeviceName, "%s", name ? name : "default");
}

void SetAudioEventWanted(int kind, int wanted) {
  switch (kind) {
    case 12: gWantLoop.store(wanted); break;
    case 13: gWantEnd.store(wanted); break;
    case 18: gWantMusicEnd.store(wanted); break;
    case 23: gWantVideoEnd.store(wanted); break;
    default: break;
  }
}

int IsAudioEventWanted(int kind) {
  switch (kind) {
    case 12: return gWantLoop.load();
    case 13: return gWantEnd.load();
    case 18: return gWantMusicEnd.load();
    case 23: return gWantVideoEnd.load();
    default: return 0;
  }
}

int CreateAudioOutputLock() {
  if (!gOutputMutex) gOutputMutex = CreateMutex();
  return gOutputMutex ? 0 : ERR_SEMAPHORE;
}

void FreeAudioOutputLock() {
  if (gOutputMutex) FreeMutex(gOutputMutex);
  gOutputMutex = nullptr;
}

void LockAudioOutput() { LockMutex(gOutputMutex); }
void UnlockAudioOutput() { UnlockMutex(gOutputMutex); }

int StartAudioThread() {
  if (gStarted) return 0;
  if (!gSharedLibs[VL_LIB_ALSA] || !dl_snd_pcm_open) return ERR_OPENAUDIO;
  // A device that cannot be opened now would fail every play later: the
  // sound library then runs without sound instead.
  // The library's own complaints about a missing device would bury the
  // applet's output on a machine without sound: they stay quiet unless the
  // device opens.
  if (dl_snd_lib_error_set_handler) dl_snd_lib_error_set_handler(IgnoreAlsaMessage);
  snd_pcm_t* probe = nullptr;
  if (dl_snd_pcm_open(&probe, gDeviceName, SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) return ERR_OPENAUDIO;
  dl_snd_pcm_close(probe);
  if (dl_snd_lib_error_set_handler) dl_snd_lib_error_set_handler(nullptr);
  if (CreateAudioOutputLock() != 0) return ERR_SEMAPHORE;
  // Loop timers signal SIGRTMIN + 1, whose default action ends the process.
  if (InstallAudioTimerSignal() != 0) return ERR_THREAD;
  gStop.store(0);
  gThread = SpawnThread(AudioThreadMain, nullptr, 25);
  // Without the right to real-time scheduling the thread still runs, at
  // the default priority.
  if (!gThread) gThread = SpawnThread(AudioThreadMain, nullptr, 0);
  if (!gThread) return ERR_THREAD;
  gStarted = 1;
  return 0;
}

void WakeAudioOutput() {
  std::lock_guard<std::mutex> lock(gWakeMutex);
  gWakeRequested = true;
  gWakeCondition.notify_one();
}

void StopAudioOutputThread() {
  if (!gStarted) return;
  gStop.store(1);
  WakeAudioOutput();
  JoinThread(gThread);
  gThread = 0;
  gStarted = 0;
}

int SetAudioHardwareParams(void* pcmHandle, const vlAudioFormat* format, uint32_t rate,
                           uint32_t* bufferFrames) {
  auto* pcm = static_cast<snd_pcm_t*>(pcmHandle);
  snd_pcm_hw_params_t* params = nullptr;
  if (dl_snd_pcm_hw_params_malloc(&params) < 0 || !params) return ERR_MEM;
  snd_pcm_format_t sampleFormat;
  bool isSigned = format->flags & 2, big = format->flags & 1;
  if (format->bits == 16) {
    sampleFormat = isSigned ? (big ? SND_PCM_FORMAT_S16_BE : SND_PCM_FORMAT_S16_LE)
                            : (big ? SND_PCM_FORMAT_U16_BE : SND_PCM_FORMAT_U16_LE);
  } else {
    sampleFormat = isSigned ? SND_PCM_FORMAT_S8 : SND_PCM_FORMAT_U8;
  }
  unsigned int rateNear = rate;
  unsigned int bufferTime = 100000;
  snd_pcm_uframes_t size = 0;
  int step = 0;
  if (dl_snd_pcm_hw_params_any(pcm, params) < 0) step = 1;
  else if (dl_snd_pcm_hw_params_set_access(pcm, params, SND_PCM_ACCESS_RW_INTERLEAVED) < 0) step = 2;
  else if (dl_snd_pcm_hw_params_set_format(pcm, params, sampleFormat) < 0) step = 3;
  else if (dl_snd_pcm_hw_params_set_rate_near(pcm, params, &rateNear, nullptr) < 0) step = 4;
  else if (dl_snd_pcm_hw_params_set_channels(pcm, params, format->channels) < 0) step = 5;
  else if (dl_snd_pcm_hw_params_set_buffer_time_near(pcm, params, &bufferTime, nullptr) < 0) step = 6;
  else if (dl_snd_pcm_hw_params_get_buffer_size(params, &size) < 0) step = 7;
  else if (dl_snd_pcm_hw_params(pcm, params) < 0) step = 8;
  dl_snd_pcm_hw_params_free(params);
  if (step) {
    SetErrorArgIndex(step);
    return ERR_ALSAPCM;
  }
  *bufferFrames = static_cast<uint32_t>(size);
  return 0;
}

int OpenAudioDevice(int index, const vlAudioFormat* format, uint32_t rate) {
  if (!gSharedLibs[VL_LIB_ALSA] || !dl_snd_pcm_open) return ERR_OPENAUDIO;
  vlChannel* channel = &gChannels[index];
  snd_pcm_t* pcm = nullptr;
  if (dl_snd_pcm_open(&pcm, gDeviceName, SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) {
    return ERR_OPENAUDIO;
  }
  uint32_t frames = 0;
  int error = SetAudioHardwareParams(pcm, format, rate, &frames);
  if (error) {
    dl_snd_pcm_close(pcm);
    return error;
  }
  dl_snd_pcm_prepare(pcm);
  // The output thread looks at every channel's handle while it sweeps.
  LockMutex(gOutputMutex);
  channel->pcm = pcm;
  channel->bufferFrames = frames;
  channel->clockRate = rate;
  channel->clockStarted = 0;
  channel->clockFrames = 0;
  channel->deviceUnpaced = 0;
  channel->deviceChecked = 0;
  UnlockMutex(gOutputMutex);
  return 0;
}

int PlayModuleOnALSA(int index) {
  vlChannel* channel = &gChannels[index];
  size_t size = gSoundServices.moduleStateSize ? gSoundServices.moduleStateSize(channel->module) : 0;
  void* copy = size ? AllocMemory(size, 0) : nullptr;
  auto* ring = static_cast<uint8_t*>(AllocMemory(kModuleRingBytes, 1));
  if (!copy || !ring) {
    FreeMemory(copy);
    FreeMemory(ring);
    return ERR_MEM;
  }
  std::memcpy(copy, channel->module, size);
  vlAudioFormat format{16, 0, 2, 2};
  int error = OpenAudioDevice(index, &format, kModuleRate);
  if (error) {
    FreeMemory(copy);
    FreeMemory(ring);
    return error;
  }
  // The output thread leaves the channel alone until it is a module's, so
  // the first second is rendered outside the lock.
  channel->moduleCopy = copy;
  channel->moduleRing = ring;
  channel->modulePosition = 0;
  channel->moduleAccounted = 0;
  channel->moduleEnding = 0;
  channel->moduleLeft = 0;
  channel->moduleRestart = 0;
  RefillModuleRing(channel, 0, kModuleRingFrames, 0);
  LockMutex(gOutputMutex);
  channel->state = VL_CHANNEL_MODULE;
  UnlockMutex(gOutputMutex);
  WakeAudioOutput();
  return 0;
}

void CloseAudioChannel(vlChannel* channel) {
  LockMutex(gOutputMutex);
  TakePendingLoopTimers(channel, false);
  if (channel->pcm) {
    dl_snd_pcm_drop(Pcm(channel));
    dl_snd_pcm_close(Pcm(channel));
    channel->pcm = nullptr;
  }
  UnlockMutex(gOutputMutex);
}

bool IsAudioChannelDrained(vlChannel* channel) {
  LockMutex(gOutputMutex);
  const bool drained = !channel->pcm || Drained(channel);
  UnlockMutex(gOutputMutex);
  return drained;
}

void StopChannelALSA(int index) { CloseAudioChannel(&gChannels[index]); }

void FreeChannelStream(int index) {
  vlChannel* channel = &gChannels[index];
  LockMutex(gOutputMutex);
  // A pause keeps the song where it was heard: a resume goes on from there.
  if (channel->moduleRing) FollowModuleClock(channel, nullptr);
  CloseAudioChannel(channel);
  FreeMemory(channel->moduleRing);
  FreeMemory(channel->moduleCopy);
  ClearAudioChannel(channel);
  UnlockMutex(gOutputMutex);
}

void ExpireALSAChannels() {
  for (int i = 0; i < gChannelCount; i++) {
    vlChannel* channel = &gChannels[i];
    // The output thread and a video's sound thread change the state under
    // the output lock. It is let go before the channel is ended: ending
    // music takes the channel table's lock, which comes first.
    LockMutex(gOutputMutex);
    const uint32_t state = channel->state;
    const uint32_t previous = channel->previousState;
    UnlockMutex(gOutputMutex);
    if (state != VL_CHANNEL_FINISHED) continue;
    if (previous == VL_CHANNEL_SAMPLE) {
      CloseAudioChannel(channel);
      LockMutex(gOutputMutex);
      ClearAudioChannel(channel);
      UnlockMutex(gOutputMutex);
    } else if (previous == VL_CHANNEL_MUSIC || previous == VL_CHANNEL_MODULE) {
      if (gSoundServices.markMusicStopped) gSoundServices.markMusicStopped(channel);
      if (gSoundServices.stopMusicChannel) gSoundServices.stopMusicChannel(channel, i);
      else FreeChannelStream(i);
    }
  }
}

void SetChannelVolumeALSA(int index, uint32_t volume) {
  __atomic_store_n(&gChannels[index].volume, volume > 64 ? 64 : volume, __ATOMIC_RELAXED);
}

void SetVideoChannelVolumeALSA(vlVideoSound* video, uint32_t volume) {
  for (int i = 0; i < gChannelCount; i++) {
    if (gChannels[i].video == video) SetChannelVolumeALSA(i, volume);
  }
}

void ScaleAudioFrames(const uint8_t* in, uint8_t* out, uint32_t frames, uint32_t volume,
                      uint32_t format, uint32_t byteSwapped) {
  double factor = volume / 64.0;
  uint32_t channels = (format & 1) ? 2 : 1;
  size_t values = size_t(frames) * channels;
  if (format <= 1) {
    // Unsigned 8-bit: scaled around the silent midpoint, not toward 0.
    for (size_t i = 0; i < values; i++) out[i] = static_cast<uint8_t>(128 + Round((in[i] - 128) * factor));
  } else if (format <= 3) {
    for (size_t i = 0; i < values; i++) {
      out[i] = static_cast<uint8_t>(static_cast<int8_t>(Round(static_cast<int8_t>(in[i]) * factor)));
    }
  } else {
    for (size_t i = 0; i < values; i++) {
      uint16_t raw;
      std::memcpy(&raw, in + i * 2, 2);
      if (byteSwapped & 1) raw = static_cast<uint16_t>((raw >> 8) | (raw << 8));
      auto scaled = static_cast<uint16_t>(static_cast<int16_t>(Round(static_cast<int16_t>(raw) * factor)));
      if (byteSwapped & 1) scaled = static_cast<uint16_t>((scaled >> 8) | (scaled << 8));
      std::memcpy(out + i * 2, &scaled, 2);
    }
  }
}

int OpenPlatformSound(const char* file) {
  SetErrorArgument(file ? file : "");
  return ERR_OPENSOUND2;
}
