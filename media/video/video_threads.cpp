// The threads of a playing video and the packet queues between them. Every
// wait is bounded (10 ms at most while the video plays, 50 ms once it has
// ended, when only a stop, a seek or a pause can come) so that a stop
// request is seen without a separate wake-up of each waiter. A paused
// video's threads rest until a resume, seek, resize or stop wakes them.
#include <sched.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

#include "media/sound/audio_channels.h"
#include "media/video/video_player.h"
#include "runtime/threads.h"

void (*gVideoEndedHook)(vlVideoPlayer* player) = nullptr;

namespace {

constexpr uint32_t kAudioQueueLimit = 81920;
constexpr uint32_t kVideoQueueLimit = 1310720;
constexpr auto kPoll = std::chrono::milliseconds(10);
constexpr uint32_t kEndedPollMs = 50;
// How long the first frame after a seek waits for the sound from there
// (none may come: the sound track can end before the picture).
constexpr int kSeekSoundWaitMs = 100;
// The longest rest of a paused thread between two looks at its flags.
constexpr auto kPausedRest = std::chrono::seconds(1);
// How long the frame sought may hold the next one back while the main
// thread has not taken it; later frames then go unseen until it has.
constexpr double kSoughtHoldSeconds = 0.25;

bool Stopping(vlWorker* worker) { return GetWorkerStopFlag(worker) != 0; }

// Paused with a frame shown or on its way: the server schedules nothing.
bool HoldingFrames(vlVideoPlayer* p) { return p->paused.load() && (p->framesShown.load() || p->queued > 0); }

// The refresh thread passes over the oldest queued frame unseen (the
// frame lock held).
void SkipQueuedFrame(vlVideoPlayer* p) {
  p->readIndex = (p->readIndex + 1) % 2;
  --p->queued;
  p->frameCondition.notify_all();
}

bool QueueEmpty(vlPacketQueue* q) {
  std::lock_guard<std::mutex> lock(q->mutex);
  return q->head == nullptr;
}

uint32_t QueueBytes(vlPacketQueue* q) {
  std::lock_guard<std::mutex> lock(q->mutex);
  return q->bytes;
}

// Takes the first packet, waiting at most one poll period. 1 taken, 0 none
// yet, -1 the queue ended empty.
int TakePacket(vlPacketQueue* q, vlPacket** out) {
  std::unique_lock<std::mutex> lock(q->mutex);
  if (!q->head) {
    if (q->endOfStream) return -1;
    q->condition.wait_for(lock, kPoll, [q] { return q->head != nullptr || q->endOfStream || q->interrupted; });
    q->interrupted = false;
    if (!q->head) return q->endOfStream ? -1 : 0;
  }
  vlPacket* p = q->head;
  q->head = p->next;
  if (!q->head) q->tail = nullptr;
  q->bytes -= p->size;
  *out = p;
  return 1;
}

// An ended queue answers at once: the server waits for a packet or a
// flush (a seek), so it does not go round without pause.
void WaitWhileEnded(vlVideoPlayer* p, vlPacketQueue* q) {
  std::unique_lock<std::mutex> lock(q->mutex);
  const auto wait = p->ended.load() ? std::chrono::milliseconds(kEndedPollMs) : kPoll;
  q->condition.wait_for(lock, wait, [q] { return q->head != nullptr || !q->endOfStream; });
}

int QueuedFrames(vlVideoPlayer* p) {
  std::lock_guard<std::mutex> lock(p->frameMutex);
  return p->queued;
}

// The frame time after the repair of non-increasing stamps.
double RepairStamps(vlVideoPlayer* p, const vlDecodedFrame& f) {
  if (f.presentationStamp != -1.0) {
    if (f.presentationStamp <= p->lastPresentationStamp) ++p->faultyPresentationStamps;
    p->lastPresentationStamp = f.presentationStamp;
  }
  if (f.decodeStamp != -1.0) {
    if (f.decodeStamp <= p->lastDecodeStamp) ++p->faultyDecodeStamps;
    p->lastDecodeStamp = f.decodeStamp;
  }
  const bool useDecode = f.decodeStamp != -1.0 && (p->faultyPresentationStamps > p->faultyDecodeStamps ||
                                                   f.presentationStamp == -1.0);
  if (useDecode) return f.decodeStamp;
  return f.presentationStamp == -1.0 ? 0.0 : f.presentationStamp;
}

// Resets the schedule after a flush packet (frame mutex held).
void ResetTiming(vlVideoPlayer* p) {
  p->currentPosition = -1;
  p->lastPresentationStamp = p->lastDecodeStamp = -1.0;
  p->lastFrameStamp = -10000.0;
  p->lastDelay = 0;
  p->frameTimer = WallClock();
  p->skipRatio = 1.0f;
  p->skipCounter = 0.0f;
}

// The refresh thread's wait: 1 stop, 2 reset handled, 0 time-out.
int TimedWait(vlVideoPlayer* p, double seconds) {
  int result = 0;
  {
    std::unique_lock<std::mutex> lock(p->refreshMutex);
    if (seconds > 0) {
      p->refreshWake.wait_for(lock, std::chrono::microseconds(static_cast<int64_t>(seconds * 1e6)),
                              [p] { return p->refreshStop || p->resetRequest || p->woken; });
    }
    p->woken = false;
    if (p->refreshStop) return 1;
    if (p->resetRequest) {
      p->resetRequest = false;
      result = 2;
    }
  }
  if (p->warmUp.load() < 10) p->warmUp.fetch_add(1);
  if (result == 2) {
    {
      std::lock_guard<std::mutex> lock(p->frameMutex);
      p->queued = p->readIndex = p->writeIndex = 0;
      p->frameCondition.notify_all();
    }
    std::lock_guard<std::mutex> lock(p->resetMutex);
    p->resetDone = true;
    p->resetAck.notify_all();
  }
  return result;
}

}  // namespace

void RestWhilePaused(vlVideoPlayer* p, vlWorker* worker) {
  std::unique_lock<std::mutex> lock(p->pauseMutex);
  p->pauseWake.wait_for(lock, kPausedRest, [p, worker] { return !p->paused.load() || Stopping(worker); });
}

void WakePausedThreads(vlVideoPlayer* p) {
  {
    std::lock_guard<std::mutex> lock(p->refreshMutex);
    p->woken = true;
  }
  p->refreshWake.notify_all();
  { std::lock_guard<std::mutex> lock(p->pauseMutex); }
  p->pauseWake.notify_all();
}

void WakeVideoThreads(vlVideoPlayer* p) {
  WakePausedThreads(p);
  { std::lock_guard<std::mutex> lock(p->frameMutex); }
  p->frameCondition.notify_all();
  {
    std::lock_guard<std::mutex> lock(p->videoQueue.mutex);
    p->videoQueue.interrupted = true;
  }
  p->videoQueue.condition.notify_all();
}

void SignalVideoState(vlVideoPlayer* p, std::atomic<uint32_t>& flag, uint32_t value) {
  {
    std::lock_guard<std::mutex> lock(p->stateMutex);
    flag.store(value);
  }
  p->stateWake.notify_all();
}

double WallClock() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}

void ResetPacketQueue(vlPacketQueue* q) {
  std::lock_guard<std::mutex> lock(q->mutex);
  q->head = q->tail = nullptr;
  q->bytes = 0;
  q->endOfStream = false;
}

int AppendPacket(vlPacketQueue* q, void* data, uint32_t size, double time) {
  auto* packet = static_cast<vlPacket*>(AllocMemory(sizeof(vlPacket), 1));
  if (!packet) return 1000;
  packet->data = data;
  packet->size = size;
  packet->time = time;
  std::lock_guard<std::mutex> lock(q->mutex);
  if (q->tail) q->tail->next = packet;
  else q->head = packet;
  q->tail = packet;
  q->bytes += size;
  q->condition.notify_all();
  return 0;
}

void FlushPacketQueue(vlPacketQueue* q, vlVideoSource* source) {
  vlPacket* p;
  {
    // The end the queue had reached goes with its packets: after a seek
    // the stream goes on from the new place.
    std::lock_guard<std::mutex> lock(q->mutex);
    p = q->head;
    q->head = q->tail = nullptr;
    q->bytes = 0;
    q->endOfStream = false;
  }
  while (p) {
    vlPacket* next = p->next;
    FreeVideoPacket(source, p->data);
    FreeMemory(p);
    p = next;
  }
}

void VideoDecoderThread(void* start) {
  vlWorker* worker = GetWorkerSelf(start);
  auto* p = static_cast<vlVideoPlayer*>(GetWorkerUserData(worker));
  ReportWorkerStarted(worker);
  const bool sound = p->sound != 0;
  while (!Stopping(worker)) {
    if (p->seekRequest.load() && !p->paused.load()) {
      int64_t target;
      {
        std::lock_guard<std::mutex> lock(p->decodeMutex);
        target = p->seekTarget;
      }
      SeekVideoSource(p->source, target, p->format.unitMode);
      if (sound) {
        FlushPacketQueue(&p->audioQueue, p->source);
        AppendPacket(&p->audioQueue, nullptr, 0, -1.0);
      }
      FlushPacketQueue(&p->videoQueue, p->source);
      AppendPacket(&p->videoQueue, nullptr, 0, -1.0);
      p->endOfFile.store(0);
      p->seekRequest.store(0);
    }
    // A video paused before its first frame showed reads on to that frame.
    const bool reading = !p->paused.load() || (!p->framesShown.load() && QueueEmpty(&p->videoQueue));
    if ((!sound || QueueBytes(&p->audioQueue) <= kAudioQueueLimit) && QueueBytes(&p->videoQueue) <= kVideoQueueLimit &&
        !p->endOfFile.load() && reading) {
      vlVideoPacketRecord record{};
      const int result = NextVideoPacket(p->source, &record);
      if (result == -1) {
        p->endOfFile.store(1);
      } else if (result >= 0) {
        vlPacketQueue* q = record.kind == 0 ? &p->videoQueue : sound ? &p->audioQueue : nullptr;
        if (!q || AppendPacket(q, record.data, record.size, record.time) != 0) FreeVideoPacket(p->source, record.data);
      }
      continue;
    }
    if (p->endOfFile.load()) {
      for (vlPacketQueue* q : {&p->videoQueue, &p->audioQueue}) {
        if (q == &p->audioQueue && !sound) continue;
        // Its waiters are woken once, when the end is set.
        std::lock_guard<std::mutex> lock(q->mutex);
        if (q->endOfStream) continue;
        q->endOfStream = true;
        q->condition.notify_all();
      }
    }
    if (p->paused.load()) {
      SignalVideoState(p, p->decoderIdle, 1);
      RestWhilePaused(p, worker);
      continue;
    }
    // A pause or a stop wakes this rest: neither waits out its poll.
    std::unique_lock<std::mutex> lock(p->pauseMutex);
    p->pauseWake.wait_for(lock, std::chrono::milliseconds(p->ended.load() ? kEndedPollMs : 10),
                          [p, worker] { return p->paused.load() || Stopping(worker); });
  }
}

namespace {

// Converts a decoded frame into the write slot and gives it its due time.
// While paused the frame waits here, with no lock held, for the resume.
void ScheduleFrame(vlVideoPlayer* p, vlWorker* worker, const vlDecodedFrame& frame, double frameTime) {
  double stamp;
  const uint32_t seeks = p->pausedSeeks.load();
  {
    std::lock_guard<std::mutex> schedule(p->decodeMutex);
    std::lock_guard<std::mutex> lock(p->frameMutex);
    p->skipCounter += 1.0f;
    if (p->skipCounter < p->skipRatio) return;
    p->skipCounter -= std::max(p->skipRatio, 1.0f);
    // A frame without a stamp follows the clock.
    if (frameTime != 0) p->videoClock = frameTime;
    stamp = p->videoClock;
    p->videoClock += p->frameDuration * (1 + frame.repeat / 2.0);
    if (p->queued == 2 && !p->refreshBusy.load()) p->skipRatio = p->skipRatio > 1.0f ? 0.95f * p->skipRatio : 0.95f;
  }
  {
    std::unique_lock<std::mutex> lock(p->frameMutex);
    while ((p->queued >= 2 || HoldingFrames(p)) && !Stopping(worker)) {
      if (!HoldingFrames(p)) {
        p->frameCondition.wait_for(lock, kPoll);
        continue;
      }
      lock.unlock();
      SignalVideoState(p, p->serverIdle, 1);
      RestWhilePaused(p, worker);
      if (!p->paused.load()) SignalVideoState(p, p->resumeRequest, 0);
      lock.lock();
    }
  }
  // A seek while paused went elsewhere: the frame is from before it.
  if (Stopping(worker) || p->pausedSeeks.load() != seeks) return;
  // The first frame from a place sought while playing starts in step with
  // the sound from there: it waits (a few milliseconds, while the output
  // plays out the sound it holds from the old place) until that sound is
  // reached, and is then due when the sound reaches its time.
  // The sound may have been flushed first: the frame is still the first
  // from the place.
  const bool sought = p->sound && p->videoFlushState.load() == 2;
  for (int waited = 0; sought && p->audioFlushState.load() != 0 && waited < kSeekSoundWaitMs && !Stopping(worker);
       ++waited)
    SleepMillis(1);
  const bool inStep = sought && p->audioFlushState.load() == 0 && !p->soundDry.load();
  // The decode mutex keeps the slots their size.
  std::lock_guard<std::mutex> schedule(p->decodeMutex);
  vlFrameSlot* slot = &p->slots[p->writeIndex];
  ConvertVideoFrame(p, frame, slot);

  std::unique_lock<std::mutex> lock(p->frameMutex);
  slot->stamp = stamp;
  slot->position = frame.position;
  double delay = stamp - p->lastFrameStamp;
  if (delay > 0 && delay < 10.0) p->lastDelay = delay;
  else delay = p->lastDelay;
  p->lastFrameStamp = stamp;
  if (sought) {
    // The sound from the place sought starts there too (what went before
    // it in its packet is not heard), so the frame is due about now; with
    // no sound from there (past the track's end) it is due now.
    // A frame that began before the place (the place falls inside it) has
    // been due since then: the next one comes when its time is reached.
    // The sound from there is cut at the place: a written clock still short
    // of it (the output has not yet taken the cut packet) means the place.
    const double place = std::max(inStep ? WrittenSoundClock(p) : 0.0, p->seekPositionMs / 1000.0);
    p->frameTimer = WallClock() + std::min(std::max(stamp - place, -std::fabs(p->frameDuration)), inStep ? 1.0 : 0.0);
    // The clock the next frames are weighed against runs from there too.
    p->clockOffset = stamp - p->frameTimer;
    delay = 0;
  }
  // Until the sound from a place sought has been reached, the sound clock
  // still tells the old place: the frames keep their own pace meanwhile
  // (following it rushed a seek back past its place and then crawled).
  // Once the sound track has ended its clock stands still: the picture
  // keeps its own pace to its end.
  if (p->sound && p->audioFlushState.load() == 0 && !sought && !p->soundDry.load()) {
    const double now = p->paused.load() ? p->shownStamp : WallClock() + p->clockOffset;
    const double diff = now - WrittenSoundClock(p);
    const double threshold = std::max(delay, 0.01);
    if (std::fabs(diff) < 10.0) {
      if (diff <= -threshold) delay = 0;
      else if (diff >= threshold) delay *= 2;
    }
  }
  p->frameTimer += delay;
  slot->target = p->frameTimer;
  p->writeIndex = (p->writeIndex + 1) % 2;
  ++p->queued;
  if (p->videoFlushState.load() == 2) p->videoFlushState.store(3);
  p->frameCondition.notify_all();
}

}  // namespace

void VideoServerThread(void* start) {
  vlWorker* worker = GetWorkerSelf(start);
  auto* p = static_cast<vlVideoPlayer*>(GetWorkerUserData(worker));
  ReportWorkerStarted(worker);
  while (!Stopping(worker)) {
    if (p->resumeRequest.load()) SignalVideoState(p, p->resumeRequest, 0);
    if (p->paused.load() && (p->framesShown.load() || QueuedFrames(p) > 0)) {
      SignalVideoState(p, p->serverIdle, 1);
      RestWhilePaused(p, worker);
      continue;
    }
    vlPacket* packet = nullptr;
    p->serverBusy.store(1);
    const int taken = TakePacket(&p->videoQueue, &packet);
    if (taken <= 0) {
      p->serverBusy.store(0);
      // Paused with no first frame to come: the stream ended or the
      // decoder stopped reading.
      if (p->paused.load() && (taken < 0 || p->decoderIdle.load())) {
        SignalVideoState(p, p->serverIdle, 1);
        RestWhilePaused(p, worker);
        continue;
      }
      if (taken < 0) WaitWhileEnded(p, &p->videoQueue);
      continue;
    }
    void* data = packet->data;
    const uint32_t size = packet->size;
    FreeMemory(packet);
    if (!data) {
      FlushVideoSourceVideo(p->source);
      {
        // The slots belong to whoever holds the decode lock: a new
        // rectangle reallocates them under it.
        std::lock_guard<std::mutex> schedule(p->decodeMutex);
        std::lock_guard<std::mutex> frames(p->frameMutex);
        p->slots[0].target = p->slots[1].target = 0;
      }
      std::unique_lock<std::mutex> lock(p->frameMutex);
      while (p->queued > 0 && !Stopping(worker)) p->frameCondition.wait_for(lock, kPoll);
      ResetTiming(p);
      // A frame stamped 0 takes the video clock: the place sought.
      p->videoClock = p->seekPositionMs / 1000.0;
      p->videoFlushState.store(2);
      continue;
    }
    vlDecodedFrame frame{};
    frame.pixels = p->decoderOut;
    frame.decodeStamp = frame.presentationStamp = -1.0;
    const int decoded = DecodeVideoPacket(p->source, data, size, &frame);
    FreeVideoPacket(p->source, data);
    if (!decoded) continue;
    const double frameTime = RepairStamps(p, frame);

    ScheduleFrame(p, worker, frame, frameTime);
    p->serverBusy.store(0);
    sched_yield();
  }
}

void VideoRefreshThread(void* start) {
  vlWorker* worker = GetWorkerSelf(start);
  auto* p = static_cast<vlVideoPlayer*>(GetWorkerUserData(worker));
  ReportWorkerStarted(worker);
  p->lastShownTime = WallClock();
  p->soughtShownAt = 0;
  for (;;) {
    // Paused: the frame on the window stays, the ring keeps what follows;
    // only a first frame is still shown, at once.
    if (p->paused.load()) {
      const bool still = p->framesShown.load(), serverDone = p->serverIdle.load();
      bool first;
      {
        // Frames from before a seek still go (unseen): the server waits
        // for them before it takes up the new place.
        const uint32_t flush = p->videoFlushState.load();
        std::lock_guard<std::mutex> frames(p->frameMutex);
        first = p->queued > 0 && (!still || flush == 1 || flush == 2);
      }
      if (!first) {
        if (still || serverDone) SignalVideoState(p, p->refreshIdle, 1);
        if (TimedWait(p, still ? std::chrono::duration<double>(kPausedRest).count() : 0.01) == 1) break;
        continue;
      }
    }
    std::unique_lock<std::mutex> lock(p->frameMutex);
    if (p->queued > 0) {
      vlFrameSlot* slot = &p->slots[p->readIndex];
      const uint32_t flush = p->videoFlushState.load();
      if (flush == 1 || flush == 2) {
        // A frame from before a seek: it goes unseen and leaves the clock
        // at the place sought.
        SkipQueuedFrame(p);
        continue;
      }
      const double now = WallClock();
      // A first frame held back by a pause is shown at once.
      const bool firstOfPause = p->paused.load() && !p->framesShown.load();
      if (now < slot->target && !firstOfPause) {
        const double wait = std::floor((slot->target - now) * 1000) / 1000;
        lock.unlock();
        if (TimedWait(p, wait) == 1) break;
        continue;
      }
      // The frame sought waits on the display for the main thread, which
      // keeps only a player's newest frame: the next one is not handed
      // over until it has been drawn and sent, and then follows half a
      // frame's time later at the soonest. Counted from the send, not from
      // the handing over: a main thread that took it at once, or slowly,
      // left it on the window for a few milliseconds or not at all.
      // A main thread that has not taken it after a quarter of a second
      // (a busy script, a loaded machine) does not hold the video up: the
      // frames falling due meanwhile go unseen, so the sound and the clock
      // go on, while the frame sought stays queued. Handed over, a later
      // frame replaced it, and the window went from the old place to one
      // past the place sought.
      if (p->soughtShownAt > 0 && !firstOfPause) {
        const double sent = VideoFrameSentAt(p->display, p);
        const bool overdue = now >= p->soughtShownAt + kSoughtHoldSeconds;
        if (sent < 0 && overdue && flush != 3) {
          SkipQueuedFrame(p);
          continue;
        }
        // A new place sought is shown whatever became of the last one.
        double until = now;
        if (sent >= 0) until = std::max(sent, p->soughtShownAt) + std::min(std::fabs(p->frameDuration), 0.1) / 2;
        else if (!overdue) until = now + 0.001;
        if (now < until) {
          lock.unlock();
          if (TimedWait(p, until - now) == 1) break;
          continue;
        }
      }
      p->soughtShownAt = 0;
      p->refreshBusy.store(1);
      // The first frame from a place sought may begin before the place:
      // the clock goes on from the place, not back to the frame's start.
      p->clockOffset = (flush == 3 ? std::max(slot->stamp, p->seekPositionMs / 1000.0) : slot->stamp) - now;
      if (flush == 3) SignalVideoState(p, p->videoFlushState, 0);
      const double successor = p->queued == 2 ? p->slots[(p->readIndex + 1) % 2].target
                                              : slot->target + (p->videoClock - slot->stamp);
      bool drop = false;
      // The first frame from a place sought is always shown.
      if (now > successor && !firstOfPause && flush != 3) {
        p->skipRatio *= 1.05f;
        drop = (p->queued == 2 || now > successor + 0.5) && now - p->lastShownTime < 1.0;
      }
      if (drop) {
        SkipQueuedFrame(p);
        p->refreshBusy.store(0);
        continue;
      }
      const int index = p->readIndex;
      const uint32_t seeks = p->pausedSeeks.load();
      lock.unlock();
      p->lastShownTime = now;
      {
        // The shown frame goes to slot 2, where the server does not write.
        // A seek that came meanwhile (it holds the draw mutex) leaves it
        // unseen: no frame from the old place follows the seek.
        std::lock_guard<std::recursive_mutex> draw(p->drawMutex);
        if (p->videoFlushState.load() == 0 && p->pausedSeeks.load() == seeks) {
          ShowVideoFrame(p->display, index, p, flush == 3 ? 2 : 1);
          std::swap(p->slots[index].pixels, p->slots[2].pixels);
          p->shownSlot = 2;
          // The stamp names the frame on the window (a dropped frame's
          // would name one never shown, and a pause then read it).
          std::lock_guard<std::mutex> frames(p->frameMutex);
          p->shownStamp = p->slots[index].stamp;
          p->currentPosition = p->slots[index].position;
          p->unitAnchor = p->slots[index].position;
          p->unitAnchorStamp = p->slots[index].stamp;
          if (flush == 3) p->soughtShownAt = now;
        }
      }
      p->framesShown.store(1);
      lock.lock();
      p->readIndex = (p->readIndex + 1) % 2;
      --p->queued;
      p->frameCondition.notify_all();
      p->refreshBusy.store(0);
      continue;
    }
    lock.unlock();
    // A paused video has not ended: a seek while paused empties the queues
    // before it reads from the new place. Nor has one whose seek the
    // decoder has yet to carry out: the queues it empties first are not
    // the end of the file (a loaded machine met that gap, and the video
    // then read as ended at the place sought while it played on).
    if (p->endOfFile.load() && !p->ended.load() && !p->paused.load() && !p->seekRequest.load() &&
        QueueEmpty(&p->videoQueue) &&
        (!p->sound || (QueueEmpty(&p->audioQueue) && p->soundPlayed.load())) && !p->serverBusy.load() &&
        QueuedFrames(p) == 0) {
      vlObjectId id{};
      {
        // The id changes when a layer's copy takes the player over.
        std::lock_guard<std::mutex> frames(p->frameMutex);
        p->endPositionMs = static_cast<uint32_t>(std::max(0.0, (WallClock() + p->clockOffset) * 1000));
        id = p->videoId;
      }
      PostAudioEvent(8, id, 0, 1, 0, 1);
      p->ended.store(1);
      if (gVideoEndedHook) gVideoEndedHook(p);
    }
    if (p->serverIdle.load() && !p->refreshIdle.load()) SignalVideoState(p, p->refreshIdle, 1);
    // Once ended only a stop or a seek can come, and both wake the wait.
    if (TimedWait(p, p->ended.load() ? kEndedPollMs / 1000.0 : 0.001) == 1) break;
  }
}
