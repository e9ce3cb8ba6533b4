// The video player's operations on the script thread: open, start, stop,
// pause, resume, seek, resize, single-frame grabs, and the conversion and
// showing of frames that the threads share.
#include "media/video/video_player.h"

#include <sched.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <new>
#include <thread>

#include "display/bgpic.h"
#include "display/clients.h"
#include "display/display.h"
#include "display/layers/layer_users.h"
#include "graphics/bitmap.h"
#include "graphics/pixel_format.h"
#include "graphics/scaler.h"
#include "graphics/yuv_convert.h"
#include "graphics/display_blit.h"
#include "platform/display_adapter.h"
#include "media/sound/sound_types.h"
#include "runtime/blocking.h"
#include "runtime/threads.h"
#include "platform/wake_pipe.h"
#include "runtime/errors.h"
#include "runtime/stream.h"
#include "vm/error_codes.h"
#include "platform/display_device.h"

namespace {

constexpr int kThreadError = 1287;
constexpr int kSeekError = 1233;
constexpr int kFrameRange = 1457;

size_t PixelBufferBytes(int32_t width, int32_t height) {
  return (static_cast<size_t>(width) + 64) * static_cast<size_t>(height) * 4;
}

// Milliseconds to a position the decoder's seek takes. In its own units
// the decoder is sought relative to a frame whose unit position and time
// are both known: the one on the window, the one a seek landed on, or the
// start after a rewind (not the running clock, which is ahead of the frame
// shown by up to a frame, nor a clock left over from an earlier play).
int64_t DecoderPosition(vlVideoPlayer* p, uint32_t ms) {
  if (!p->format.unitMode) return ms;
  double position;
  if (p->endOfFile.load() && p->format.endPosition >= 0) {
    position = p->format.endPosition + (double(ms) - p->lengthMs) / 1000.0 * p->format.unitsPerSecond;
  } else {
    std::lock_guard<std::mutex> lock(p->frameMutex);
    position = double(p->unitAnchor) +
               (double(ms) - std::round(p->unitAnchorStamp * 1000)) / 1000.0 * p->format.unitsPerSecond;
  }
  return position > 0 ? static_cast<int64_t>(position) : 0;
}

void SetUnitAnchor(vlVideoPlayer* p, int64_t position, double stamp) {
  std::lock_guard<std::mutex> lock(p->frameMutex);
  p->unitAnchor = position;
  p->unitAnchorStamp = stamp;
}

// Back to the start of the stream (seek to 0 and drop decoder state).
void FlushDecoder(vlVideoPlayer* p) {
  SeekVideoSource(p->source, 0, p->format.unitMode);
  FlushVideoSourceVideo(p->source);
  FlushVideoSourceAudio(p->source);
  p->endOfFile.store(0);
  SetUnitAnchor(p, 0, 0);
}

void ResetAudioCounters(vlVideoPlayer* p) {
  std::lock_guard<std::mutex> lock(p->audioMutex);
  p->audioClock = 0;
  p->decodedLength = p->decodedPosition = 0;
}

// A stopped player's decoder goes where reading must begin: the place a
// seek while stopped asked for, or the start after a grab or an export
// left it elsewhere. 0 or 1233.
int PlaceStoppedDecoder(vlVideoPlayer* p) {
  if (p->pendingStartMs >= 0) {
    FlushDecoder(p);
    ResetAudioCounters(p);
    const uint32_t ms = static_cast<uint32_t>(p->pendingStartMs);
    p->pendingStartMs = -1;
    p->rewindNeeded = 0;
    const int64_t target = DecoderPosition(p, ms);
    if (SeekVideoSource(p->source, target, p->format.unitMode) != 0) return kSeekError;
    SetUnitAnchor(p, target, ms / 1000.0);
  } else if (p->rewindNeeded) {
    FlushDecoder(p);
  }
  p->rewindNeeded = 0;
  return 0;
}

void FreeSlots(vlVideoPlayer* p) {
  for (vlFrameSlot& slot : p->slots) {
    FreeMemory(slot.pixels);
    slot = {};
  }
}

int AllocSlots(vlVideoPlayer* p) {
  FreeSlots(p);
  for (vlFrameSlot& slot : p->slots) {
    slot.pixels = static_cast<uint32_t*>(AllocMemory(PixelBufferBytes(p->targetWidth, p->targetHeight), 1));
    slot.stride = p->targetWidth + 64;
    if (!slot.pixels) {
      FreeSlots(p);
      return ERR_MEM;
    }
  }
  return 0;
}

// Decodes the next video frame into the decoder output; 1 a frame, 0 the
// stream ended. Sound packets are dropped.
int DecodeNextFrame(vlVideoPlayer* p, vlDecodedFrame* frame) {
  for (;;) {
    vlVideoPacketRecord record{};
    const int result = NextVideoPacket(p->source, &record);
    if (result == -1) return 0;
    if (result < 0) {
      SleepMillis(1);
      continue;
    }
    if (record.kind != 0) {
      FreeVideoPacket(p->source, record.data);
      continue;
    }
    *frame = {};
    frame->pixels = p->decoderOut;
    frame->decodeStamp = frame->presentationStamp = -1.0;
    const int decoded = DecodeVideoPacket(p->source, record.data, record.size, frame);
    FreeVideoPacket(p->source, record.data);
    if (decoded) return 1;
  }
}

// The frame at 1:1 as native words into a buffer of the frame size.
void FrameToWords(vlVideoPlayer* p, const vlDecodedFrame& f, uint32_t* out, int32_t stride) {
  const int32_t w = p->frameWidth, h = p->frameHeight;
  if (p->format.argb) {
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) out[size_t(y) * stride + x] = __builtin_bswap32(f.pixels[size_t(y) * w + x]);
    return;
  }
  vlYUVConvert job;
  for (int i = 0; i < 3; ++i) {
    job.planes[i] = f.planes[i];
    job.planeRowBytes[i] = f.planeRowBytes[i];
  }
  job.target = reinterpret_cast<uint8_t*>(out);
  job.sourceWidth = job.targetWidth = w;
  job.sourceHeight = job.targetHeight = h;
  job.targetRowLength = stride;
  job.targetFormat = VL_PIXFMT_ARGB32;
  job.targetBytesPerPixel = 4;
  YUV420ToRGB(job);
}

void ScaleWords(const uint32_t* src, int32_t srcWidth, int32_t srcHeight, int32_t srcStride, uint32_t* dst,
                int32_t dstWidth, int32_t dstHeight, int32_t dstStride, uint32_t smooth) {
  vlScaleJob job{};
  job.srcPixels = reinterpret_cast<const uint8_t*>(src);
  job.dstPixels = reinterpret_cast<uint8_t*>(dst);
  job.srcWidth = srcWidth;
  job.srcHeight = srcHeight;
  job.dstWidth = dstWidth;
  job.dstHeight = dstHeight;
  job.srcRowLength = srcStride;
  job.dstRowLength = dstStride;
  job.smooth = smooth ? 1 : 0;
  job.format = VL_PIXFMT_ARGB32;
  job.bytesPerPixel = 4;
  ScalePixels(job);
}

// A zeroed player and handle with the decoder opened; 0 or an error.
int NewPlayer(const char* file, const char* loaders, const char* adapter, vlVideoHandle** out) {
  auto* handle = static_cast<vlVideoHandle*>(AllocMemory(sizeof(vlVideoHandle), 1));
  vlVideoPlayer* p = handle ? new (std::nothrow) vlVideoPlayer : nullptr;
  if (!p) {
    FreeMemory(handle);
    return ERR_MEM;
  }
  handle->player = p;
  p->handle = handle;
  p->format.endPosition = -2;
  p->format.adapter = adapter;
  p->source = OpenVideoSource(file, loaders, adapter, &p->format);
  if (!p->source) {
    delete p;
    FreeMemory(handle);
    SetErrorArgument(file);
    return ERR_LOADVIDEO;
  }
  p->format.adapter = nullptr;
  // Sound slower than the lowest pitch cannot be played: its packets would
  // fill the queue until no picture could be read; no output plays sound
  // faster than the highest rate, nor more than two channels.
  if (p->format.audioChannels && (!IsPlayableRate(p->format.audioRate) || p->format.audioChannels > 2)) {
    CloseVideoSource(p->source);
    delete p;
    FreeMemory(handle);
    SetErrorArgument(file);
    return ERR_LOADVIDEO;
  }
  if (p->source->kind == VL_VSOURCE_PLUGIN) handle->loader = reinterpret_cast<uintptr_t>(p->source->plugin);
  if (p->format.endPosition == -2) {
    p->format.endPosition = -1;
    if (p->format.unitMode) {
      const uint32_t mode = VL_MODE_READ | (adapter && *adapter ? uint32_t(VL_MODE_ADAPTERS) : 0u);
      if (vlStream* s = OpenFileStream(file, mode, adapter)) {
        p->format.endPosition = GetFileStreamSize(s);
        CloseFileStream(s);
      }
    }
  }
  *out = handle;
  return 0;
}

}  // namespace

void ConvertVideoFrame(vlVideoPlayer* p, const vlDecodedFrame& f, vlFrameSlot* slot) {
  const bool same = p->targetWidth == p->frameWidth && p->targetHeight == p->frameHeight;
  if (same) {
    FrameToWords(p, f, slot->pixels, slot->stride);
    return;
  }
  if (!p->format.argb) {
    vlYUVConvert job;
    for (int i = 0; i < 3; ++i) {
      job.planes[i] = f.planes[i];
      job.planeRowBytes[i] = f.planeRowBytes[i];
    }
    job.target = reinterpret_cast<uint8_t*>(slot->pixels);
    job.sourceWidth = p->frameWidth;
    job.sourceHeight = p->frameHeight;
    job.targetWidth = p->targetWidth;
    job.targetHeight = p->targetHeight;
    job.targetRowLength = slot->stride;
    job.targetFormat = VL_PIXFMT_ARGB32;
    job.targetBytesPerPixel = 4;
    if (!p->smooth) {
      YUV420ToRGBScaled(job);
      return;
    }
    // Smoothly: rows converted as the scaler reaches them when the fast
    // paths can, the same pixels as through the scratch buffer below.
    if (YUV420ToRGBSmooth(job)) return;
  }
  // Through the scratch buffer at frame size, then scaled.
  if (!p->scratch) p->scratch = static_cast<uint32_t*>(AllocMemory(PixelBufferBytes(p->frameWidth, p->frameHeight), 1));
  if (!p->scratch) return;
  const int32_t stride = p->frameWidth + 64;
  FrameToWords(p, f, p->scratch, stride);
  ScaleWords(p->scratch, p->frameWidth, p->frameHeight, stride, slot->pixels, p->targetWidth, p->targetHeight,
             slot->stride, p->smooth);
}

void RemovePendingVideoFrames(vlDisplay* d, const vlVideoPlayer* player) {
  if (!d || !d->mutex) return;
  vlPendingFrame* dropped = nullptr;
  LockMutex(d->mutex);
  for (vlPendingFrame** link = &d->pendingFrames; *link;) {
    vlPendingFrame* f = *link;
    if (f->video == player) {
      *link = f->next;
      f->next = dropped;
      dropped = f;
    } else {
      link = &f->next;
    }
  }
  UnlockMutex(d->mutex);
  while (dropped) {
    vlPendingFrame* next = dropped->next;
    if (dropped->bitmap) DeleteBitmap(dropped->bitmap);
    std::free(dropped);
    dropped = next;
  }
}

double VideoFrameSentAt(vlDisplay* d, const vlVideoPlayer* player) {
  if (!d || !d->mutex) return 0;
  LockMutex(d->mutex);
  // A frame sought the main thread is drawing is not sent yet, the
  // player's or another's.
  bool waiting = d->framesInHand != 0;
  for (vlPendingFrame* f = d->pendingFrames; f && !waiting; f = f->next) waiting = f->video == player;
  const double sent = waiting ? -1 : d->framesSentAt;
  UnlockMutex(d->mutex);
  return sent;
}

void ShowVideoFrame(vlDisplay* d, int slotIndex, vlVideoPlayer* p, int fromRefresh) {
  if (!d || slotIndex < 0) return;
  const vlFrameSlot& slot = p->slots[slotIndex];
  const uint32_t* pixels = slot.pixels;
  int32_t stride = slot.stride;
  // Slots made anew for a new size hold no frame yet: a paused or ended
  // video redrawn then shows the picture it keeps, rescaled with them.
  if ((!pixels || (!fromRefresh && p->shownSlot < 0)) && p->pausePicture) {
    pixels = p->pausePicture;
    stride = p->targetWidth + 64;
  }
  if (!pixels) return;
  const bool layer = p->layerWord != nullptr;
  int32_t x, y, w, h, sx = 0, sy = 0;
  if (layer) {
    x = y = 0;
    w = p->frameWidth;
    h = p->frameHeight;
  } else {
    x = p->x;
    y = p->y;
    w = p->targetWidth;
    h = p->targetHeight;
    if (x < 0) {
      sx = -x;
      w += x;
      x = 0;
    }
    if (y < 0) {
      sy = -y;
      h += y;
      y = 0;
    }
    // An adapter that scales the display itself takes the frame in the
    // BGPic's coordinates.
    // Read under the display's lock: the script may be changing its
    // attributes meanwhile.
    if (d->mutex) LockMutex(d->mutex);
    int32_t limitW = d->width, limitH = d->height;
    if (!DisplayDeviceDoes(d, VL_DEVICE_SCALES_VIDEO) && d->autoScale && d->scaleWidth > 0 && d->scaleHeight > 0 && d->bgpic) {
      limitW = d->bgpic->width;
      limitH = d->bgpic->height;
    }
    if (d->mutex) UnlockMutex(d->mutex);
    w = std::min(w, limitW - x);
    h = std::min(h, limitH - y);
  }
  if (w <= 0 || h <= 0) return;
  vlBitmap* bitmap = NewBitmap(w, h, 0, nullptr);
  if (!bitmap) return;
  WriteBitmapARGB(pixels + size_t(sy) * stride + sx, stride * 4, bitmap, 0, 0, w, h);
  if (fromRefresh || layer) {
    auto* f = static_cast<vlPendingFrame*>(std::calloc(1, sizeof(vlPendingFrame)));
    if (!f || !d->mutex) {
      std::free(f);
      DeleteBitmap(bitmap);
      return;
    }
    f->video = p;
    f->bitmap = bitmap;
    f->x = x;
    f->y = y;
    f->width = w;
    f->height = h;
    f->layerRef = &p->layerWord;
    f->sought = fromRefresh == 2;
    LockMutex(d->mutex);
    RemovePendingVideoFrames(d, p);
    QueuePendingFrame(d, f);
    UnlockMutex(d->mutex);
    WakeEventLoop();
    sched_yield();
    return;
  }
  BlitToDisplay(bitmap, 0, 0, d, x, y, w, h, VideoFrameBlitFlags(d));
  // Under an adapter the frame shown (a paused video sought or redrawn)
  // becomes the video's surface, as the frames the drain takes do.
  vlPendingFrame shown{};
  shown.video = p, shown.bitmap = bitmap, shown.x = x, shown.y = y, shown.width = w, shown.height = h;
  if (!p->spriteNode || !gVideoSurfaceHandler || !gVideoSurfaceHandler(&shown, VL_VIDEO_SURFACE_TAKE))
    DeleteBitmap(bitmap);
}

int OpenVideoPlayer(const char* file, const char* loaders, const char* adapter, vlVideoHandle** out, int32_t* width,
                    int32_t* height, uint32_t* lengthMs, uint32_t* seekable, uintptr_t* loader) {
  vlVideoHandle* handle = nullptr;
  if (int error = NewPlayer(file, loaders, adapter, &handle)) return error;
  vlVideoPlayer* p = handle->player;
  p->frameWidth = p->targetWidth = static_cast<int32_t>(p->format.width);
  p->frameHeight = p->targetHeight = static_cast<int32_t>(p->format.height);
  p->lengthMs = p->format.lengthMs;
  p->audioChannels = p->format.audioChannels;
  p->audioRate = p->format.audioRate;
  p->frameDuration = p->format.frameDuration;
  if (p->format.argb) {
    p->decoderOut = static_cast<uint32_t*>(AllocMemory(PixelBufferBytes(p->frameWidth, p->frameHeight), 1));
    if (!p->decoderOut) {
      FreeVideoPlayer(handle);
      return ERR_MEM;
    }
  }
  *out = handle;
  *width = p->frameWidth;
  *height = p->frameHeight;
  *lengthMs = p->lengthMs;
  *seekable = p->format.flags & 1;
  *loader = handle->loader;
  return 0;
}

void FreeVideoPlayer(vlVideoHandle* handle) {
  if (!handle) return;
  vlVideoPlayer* p = handle->player;
  if (p) {
    if (p->running.load()) StopVideoPlayer(handle, p->display, 1);
    FlushPacketQueue(&p->videoQueue, p->source);
    FlushPacketQueue(&p->audioQueue, p->source);
    FreeVideoSound(p);
    CloseVideoSource(p->source);
    FreeSlots(p);
    FreeMemory(p->decoderOut);
    FreeMemory(p->pausePicture);
    FreeMemory(p->grabBuffer);
    FreeMemory(p->scratch);
    delete p;
  }
  FreeMemory(handle);
}

int ProbeVideoFile(const char* file, const char* loaders, const char* adapter) {
  vlVideoHandle* handle = nullptr;
  if (NewPlayer(file, loaders, adapter, &handle) != 0) return 0;
  FreeVideoPlayer(handle);
  return 1;
}

int StartVideoPlayer(vlVMState* state, vlVideoHandle* handle, vlObjectId videoId, vlDisplay* display, int32_t x,
                     int32_t y, int32_t width, int32_t height, uint32_t volume, uint32_t smooth, int channel,
                     void* layer) {
  vlVideoPlayer* p = handle->player;
  {
    std::lock_guard<std::recursive_mutex> draw(p->drawMutex);
    p->x = x;
    p->y = y;
  }
  p->targetWidth = width;
  p->targetHeight = height;
  p->smooth = smooth;
  p->layerWord = layer;
  p->vm = state;
  const double startSeconds = p->pendingStartMs >= 0 ? p->pendingStartMs / 1000.0 : 0;
  if (PlaceStoppedDecoder(p) != 0) {
    StopVideoPlayer(handle, display, 0);
    return kSeekError;
  }
  p->startedSinceGrab = 1;
  p->display = display;
  p->videoId = videoId;
  p->volume = volume;
  p->channelIndex = channel;
  if (int error = OpenVideoSound(state, p)) {
    StopVideoPlayer(handle, display, 0);
    return error;
  }
  // The sound starts where the picture does (the audio server is not
  // running yet).
  if (startSeconds > 0) p->soundFrom = startSeconds;
  ResetPacketQueue(&p->videoQueue);
  ResetPacketQueue(&p->audioQueue);
  {
    std::lock_guard<std::mutex> lock(p->frameMutex);
    p->queued = p->readIndex = p->writeIndex = 0;
    p->currentPosition = -1;
    p->faultyDecodeStamps = p->faultyPresentationStamps = 0;
    p->lastPresentationStamp = p->lastDecodeStamp = -1.0;
    p->lastFrameStamp = -10000.0;
    p->lastDelay = 0;
    p->frameTimer = WallClock();
    p->videoClock = startSeconds;
    p->shownStamp = startSeconds;
    p->clockOffset = startSeconds - p->frameTimer;
    p->skipRatio = 1.0f;
    p->skipCounter = 0.0f;
  }
  p->paused.store(0);
  p->framesShown.store(0);
  p->ended.store(0);
  p->endOfFile.store(0);
  p->seekRequest.store(0);
  p->videoFlushState.store(0);
  p->audioFlushState.store(0);
  // A seek while paused and then a stop leave the flag set: the new start
  // would cut its sound up to that old place and the picture race to it.
  p->soundDiscard.store(0);
  p->pausedPositionValid = 0;
  p->shownSlot = -1;
  p->warmUp.store(0);
  {
    std::lock_guard<std::mutex> lock(p->refreshMutex);
    p->refreshStop = false;
    p->resetRequest = false;
    p->woken = false;
  }
  if (AllocSlots(p) != 0) {
    StopVideoPlayer(handle, display, 0);
    return ERR_MEM;
  }
  p->running.store(1);
  p->serverThread = CreateWorker("Vellamora video server", VideoServerThread, p, 0, 200000, 0);
  if (p->serverThread && p->sound) {
    p->audioThread = CreateWorker("Vellamora audio server", VideoAudioThread, p, 0, 200000, 100);
    // Without the right to real-time scheduling the sound still plays.
    if (!p->audioThread) p->audioThread = CreateWorker("Vellamora audio server", VideoAudioThread, p, 0, 200000, 0);
    if (!p->audioThread) {
      StopVideoPlayer(handle, display, 0);
      return kThreadError;
    }
  }
  if (p->serverThread)
    p->decoderThread = CreateWorker("Vellamora video decoder", VideoDecoderThread, p, 0, 200000, 0);
  if (p->decoderThread)
    p->refreshThread = CreateWorker("Vellamora video refresh", VideoRefreshThread, p, 0, 16384, 0);
  if (!p->refreshThread) {
    StopVideoPlayer(handle, display, 0);
    return kThreadError;
  }
  return 0;
}

int StopVideoPlayer(vlVideoHandle* handle, vlDisplay* display, int forgetLayer) {
  vlVideoPlayer* p = handle->player;
  p->storedPositionMs = GetVideoPosition(handle);
  // Every thread is told to stop and woken before any is joined: the video
  // server may hold the decode mutex while it waits for the refresh thread
  // to free a frame slot, and the decoder may wait for that mutex, so a
  // thread joined while another still runs could wait for ever.
  if (p->refreshThread) {
    std::lock_guard<std::mutex> lock(p->refreshMutex);
    p->refreshStop = true;
    SetWorkerStopFlag(p->refreshThread);
    p->refreshWake.notify_all();
  }
  if (p->decoderThread) SetWorkerStopFlag(p->decoderThread);
  if (p->serverThread) {
    SetWorkerStopFlag(p->serverThread);
    {
      std::lock_guard<std::mutex> lock(p->frameMutex);
      p->frameCondition.notify_all();
    }
    std::lock_guard<std::mutex> lock(p->videoQueue.mutex);
    p->videoQueue.condition.notify_all();
  }
  if (p->audioThread) {
    SetWorkerStopFlag(p->audioThread);
    std::lock_guard<std::mutex> lock(p->audioQueue.mutex);
    p->audioQueue.condition.notify_all();
  }
  WakePausedThreads(p);
  for (vlWorker** thread : {&p->refreshThread, &p->decoderThread, &p->serverThread, &p->audioThread}) {
    if (!*thread) continue;
    FreeWorker(*thread);
    *thread = nullptr;
  }
  CloseVideoSound(p);
  p->running.store(0);
  FreeSlots(p);
  RemovePendingVideoFrames(display ? display : p->display, p);
  FlushPacketQueue(&p->videoQueue, p->source);
  FlushPacketQueue(&p->audioQueue, p->source);
  FlushDecoder(p);
  if (forgetLayer) p->layerWord = nullptr;
  p->paused.store(0);
  p->ended.store(0);
  p->display = nullptr;
  return 0;
}

namespace {

// Waits until done says so, woken by each thread that reaches a state;
// false when an end signal came first (the threads are then left to the
// stop at shut-down). The short bound covers flags set without a signal.
template <typename Done>
bool WaitForThreads(vlVideoPlayer* p, Done done) {
  std::unique_lock<std::mutex> lock(p->stateMutex);
  while (!done()) {
    if (BlockingWaitsEnded()) return false;
    p->stateWake.wait_for(lock, std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace

int PauseVideoPlayer(vlVideoHandle* handle) {
  vlVideoPlayer* p = handle->player;
  if (!p->running.load()) return 0;
  const size_t bytes = PixelBufferBytes(p->targetWidth, p->targetHeight);
  {
    std::lock_guard<std::recursive_mutex> draw(p->drawMutex);
    FreeMemory(p->pausePicture);
    p->pausePicture = static_cast<uint32_t*>(AllocMemory(bytes, 1));
    if (!p->pausePicture) return 0;
  }
  p->resumeRequest.store(0);
  p->serverIdle.store(0);
  p->refreshIdle.store(0);
  p->decoderIdle.store(0);
  // The pause holds the frame on the window: frames decoded or queued
  // after it wait for the resume, and the position is the shown frame's.
  if (!p->paused.load()) {
    // A thread that keeps the frame lock must not keep an end signal
    // waiting: the script's thread asks for it until the waits are ended.
    std::unique_lock<std::mutex> lock(p->frameMutex, std::defer_lock);
    while (!lock.try_lock()) {
      if (BlockingWaitsEnded()) return ERR_USERABORT;
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    p->pausedAt = WallClock();
    p->pausedClock = p->framesShown.load() ? p->pausedAt + p->clockOffset : -1.0;
    p->pausedSound = p->sound ? WrittenSoundClock(p) : 0;
    p->seeksAtPause = p->pausedSeeks.load();
  }
  p->paused.store(1);
  // A thread waiting for a frame's time or a packet would see the pause
  // only then: a frame period later at a low rate.
  WakeVideoThreads(p);
  if (!WaitForThreads(p, [p] { return p->serverIdle.load() && p->refreshIdle.load() && p->decoderIdle.load(); }))
    return ERR_USERABORT;
  // A seek while playing whose first frame has not shown yet: the threads
  // carry a seek out only while playing, so the pause takes it over and
  // pauses at the place sought, as a seek while paused does.
  if (p->seekRequest.load() || p->videoFlushState.load() || p->audioFlushState.load()) {
    uint32_t ms;
    {
      std::lock_guard<std::mutex> lock(p->frameMutex);
      ms = p->seekPositionMs;
    }
    p->seekRequest.store(0);
    p->videoFlushState.store(0);
    p->audioFlushState.store(0);
    // A place the decoder cannot reach leaves the pause where it stands.
    if (SeekVideoPlayer(handle, ms) == 0) return 0;
  }
  {
    std::lock_guard<std::recursive_mutex> draw(p->drawMutex);
    if (p->shownSlot >= 0) {
      const vlFrameSlot& shown = p->slots[p->shownSlot];
      std::memcpy(p->pausePicture, shown.pixels, size_t(shown.stride) * p->targetHeight * 4);
      // A layer's frame reaches it through the main thread: the paused
      // one is handed over again, so that the layer keeps the frame the
      // position names whatever became of the frames before it.
      if (p->layerWord) ShowVideoFrame(p->display, p->shownSlot, p, 0);
    } else {
      // Nothing shown yet: nothing to draw again.
      FreeMemory(p->pausePicture);
      p->pausePicture = nullptr;
    }
  }
  std::lock_guard<std::mutex> lock(p->frameMutex);
  // The first whole millisecond of the frame's time, so that a seek there
  // shows this frame (a frame at 3166.7 ms read 3166, in the frame before).
  p->pausedPositionMs = static_cast<uint32_t>(std::max(0.0, std::ceil(p->shownStamp * 1000 - 1e-6)));
  p->pausedPositionValid = 1;
  return 0;
}

int ResumeVideoPlayer(vlVideoHandle* handle) {
  vlVideoPlayer* p = handle->player;
  if (!p->running.load() || !p->paused.load()) return 0;
  {
    // The frames waiting in the ring are due as much later as the pause
    // lasted. The sound goes on from where the pause stopped it, but for
    // what the output played from the ring meanwhile: so does the clock,
    // not from the shown frame's time (that left the picture behind the
    // sound by the time the frame had been shown before the pause, and by
    // the ring). A video paused before its first frame starts from that.
    std::lock_guard<std::mutex> lock(p->frameMutex);
    const double now = WallClock();
    double shift = now + p->clockOffset - p->shownStamp, clock = p->shownStamp;
    if (p->pausedClock >= 0) {
      double played = 0;
      if (p->sound && p->pausedSeeks.load() == p->seeksAtPause)
        played = std::clamp(WrittenSoundClock(p) - p->pausedSound, 0.0, now - p->pausedAt);
      shift = now - p->pausedAt - played;
      clock = std::max(p->shownStamp, p->pausedClock) + played;
    }
    p->frameTimer += shift;
    for (int32_t i = 0; i < p->queued; ++i) p->slots[(p->readIndex + i) % 2].target += shift;
    p->clockOffset = clock - now;
  }
  p->pausedPositionValid = 0;
  MarkVideoSoundResumed(p);
  p->resumeRequest.store(1);
  p->paused.store(0);
  // The server may wait for a packet (a pause before the first frame).
  WakeVideoThreads(p);
  if (!WaitForThreads(p, [p] { return !p->resumeRequest.load() || !p->running.load(); })) return ERR_USERABORT;
  return 0;
}

int SeekVideoPlayer(vlVideoHandle* handle, uint32_t ms) {
  vlVideoPlayer* p = handle->player;
  const bool running = p->running.load();
  if (running && !p->paused.load() && !p->ended.load()) {
    // A seek in flight is taken over once the decoder has carried it out
    // and the threads have met its flush packets: waiting until its first
    // frame showed held the script a frame period and more at low rates
    // (with sound, until the sound from there came), and the other videos'
    // frames due meanwhile were never drawn. The threads have warmed up
    // once a frame has shown: the warm-up count alone grows by one a frame
    // period once frames flow.
    if (!WaitForThreads(p, [p] {
          return !(p->seekRequest.load() || p->videoFlushState.load() == 1 || p->audioFlushState.load() ||
                   (p->warmUp.load() < 10 && !p->framesShown.load())) ||
                 p->endOfFile.load();
        }))
      return ERR_USERABORT;
  }
  if (!running && !p->layerWord) {
    p->pendingStartMs = static_cast<int32_t>(ms);
    p->storedPositionMs = ms;
    p->rewindNeeded = 0;
    return 0;
  }
  if (!running && !p->display) {
    // A stopped layer shows the sought frame on the display holding it.
    p->display = GetDisplayOfVideo(p->videoId);
    if (!p->display) return ERR_INTERNAL;
  }
  const int64_t target = DecoderPosition(p, ms);
  if (running && !p->paused.load() && !p->ended.load()) {
    {
      std::lock_guard<std::mutex> lock(p->decodeMutex);
      p->seekTarget = target;
    }
    // The draw mutex: a frame of the old place being shown now goes to the
    // display before the pending frames are dropped, or not at all.
    std::lock_guard<std::recursive_mutex> draw(p->drawMutex);
    {
      // The clock stands at the new place from now on; the frames still
      // queued from the old one go unseen.
      std::lock_guard<std::mutex> lock(p->frameMutex);
      p->seekPositionMs = ms;
      p->clockOffset = ms / 1000.0 - WallClock();
      p->videoFlushState.store(1);
    }
    {
      // The refresh thread may be waiting for an old frame's time.
      std::lock_guard<std::mutex> lock(p->refreshMutex);
      p->woken = true;
      p->refreshWake.notify_all();
    }
    if (p->sound) p->audioFlushState.store(1);
    p->seekRequest.store(1);
    RemovePendingVideoFrames(p->display, p);
    return 0;
  }
  // Paused, ended, or a stopped layer: the decoder seeks here and the frame
  // there is shown at once.
  if (!running && p->slots[0].pixels == nullptr) {
    p->slots[0].pixels = static_cast<uint32_t*>(AllocMemory(PixelBufferBytes(p->targetWidth, p->targetHeight), 1));
    p->slots[0].stride = p->targetWidth + 64;
    if (!p->slots[0].pixels) return ERR_MEM;
  }
  // A paused player reads on from the new place when resumed, and none of
  // the sound it holds from the old place is heard.
  if (running && p->paused.load()) {
    p->endOfFile.store(0);
    {
      // Nothing decoded or queued before the seek is shown after it; the
      // sound resumes from the place (read when the held sound goes).
      std::lock_guard<std::mutex> lock(p->frameMutex);
      p->queued = p->readIndex = p->writeIndex = 0;
      p->seekPositionMs = ms;
    }
    p->pausedSeeks.fetch_add(1);
    if (p->sound) p->soundDiscard.store(1);
  }
  FlushPacketQueue(&p->videoQueue, p->source);
  FlushPacketQueue(&p->audioQueue, p->source);
  if (SeekVideoSource(p->source, target, p->format.unitMode) != 0) return kSeekError;
  FlushVideoSourceVideo(p->source);
  FlushVideoSourceAudio(p->source);
  vlDecodedFrame frame{};
  // A stopped player has only the one slot allocated above; a running one
  // keeps the frame on the window in slot 2.
  const int slot = running ? 2 : 0;
  SetUnitAnchor(p, target, ms / 1000.0);
  if (p->slots[slot].pixels && DecodeNextFrame(p, &frame)) {
    // The frame the seek landed on is the next one sought from.
    const double stamp = frame.presentationStamp >= 0 ? frame.presentationStamp : frame.decodeStamp;
    if (stamp >= 0) SetUnitAnchor(p, frame.position, stamp);
    std::lock_guard<std::recursive_mutex> draw(p->drawMutex);
    // A first frame the pause let through may still wait to be drawn: it
    // would cover the frame sought.
    RemovePendingVideoFrames(p->display, p);
    ConvertVideoFrame(p, frame, &p->slots[slot]);
    p->shownSlot = slot;
    p->framesShown.store(1);
    if (p->pausePicture) {
      for (int32_t row = 0; row < p->targetHeight; ++row)
        std::memcpy(p->pausePicture + size_t(row) * (p->targetWidth + 64),
                    p->slots[slot].pixels + size_t(row) * p->slots[slot].stride, size_t(p->targetWidth) * 4);
    }
    ShowVideoFrame(p->display, slot, p, 0);
  }
  if (running && p->paused.load()) {
    // The threads start over from the new place on resume.
    AppendPacket(&p->videoQueue, nullptr, 0, -1.0);
  }
  std::lock_guard<std::mutex> lock(p->frameMutex);
  p->shownStamp = ms / 1000.0;
  p->seekPositionMs = ms;
  if (p->paused.load()) {
    p->pausedPositionMs = ms;
    p->pausedPositionValid = 1;
    p->pausedClock = ms / 1000.0;
  } else {
    // A later start plays on from here, not from where the decoder stopped.
    p->endPositionMs = ms;
    p->storedPositionMs = ms;
    p->pendingStartMs = static_cast<int32_t>(ms);
  }
  return 0;
}

void RedrawVideoPlayerFrame(vlVideoHandle* handle, vlDisplay* display) {
  vlVideoPlayer* p = handle->player;
  if (!p->running.load() || (p->shownSlot < 0 && !p->pausePicture)) return;
  std::lock_guard<std::recursive_mutex> draw(p->drawMutex);
  ShowVideoFrame(display, p->shownSlot < 0 ? 0 : p->shownSlot, p, 0);
}

void SetVideoPlayerRect(vlVideoHandle* handle, vlDisplay* display, int32_t x, int32_t y, int32_t width,
                        int32_t height, uint32_t smooth) {
  vlVideoPlayer* p = handle->player;
  // Frames queued for the old rectangle would be drawn there after the
  // display has been redrawn without them.
  auto dropStale = [&] {
    if (!p->layerWord) RemovePendingVideoFrames(display, p);
  };
  if (width == p->targetWidth && height == p->targetHeight && smooth == p->smooth) {
    std::lock_guard<std::recursive_mutex> draw(p->drawMutex);
    p->x = x;
    p->y = y;
    dropStale();
    return;
  }
  if (!p->running.load()) {
    std::lock_guard<std::recursive_mutex> draw(p->drawMutex);
    p->x = x;
    p->y = y;
    p->targetWidth = width;
    p->targetHeight = height;
    p->smooth = smooth;
    dropStale();
    return;
  }
  std::lock_guard<std::mutex> schedule(p->decodeMutex);
  {
    std::lock_guard<std::mutex> lock(p->resetMutex);
    p->resetDone = false;
  }
  {
    std::lock_guard<std::mutex> lock(p->refreshMutex);
    p->resetRequest = true;
    p->refreshWake.notify_all();
  }
  {
    // An end signal leaves the rectangle as it was.
    std::unique_lock<std::mutex> lock(p->resetMutex);
    while (!p->resetDone) {
      if (BlockingWaitsEnded()) return;
      p->resetAck.wait_for(lock, std::chrono::milliseconds(10));
    }
  }
  std::lock_guard<std::recursive_mutex> draw(p->drawMutex);
  const int32_t oldWidth = p->targetWidth, oldHeight = p->targetHeight;
  uint32_t* oldPause = p->pausePicture;
  p->x = x;
  p->y = y;
  p->targetWidth = width;
  p->targetHeight = height;
  p->smooth = smooth;
  // An ended video keeps no paused picture: the frame it shows goes along
  // into the new slots, rescaled.
  const bool still = p->paused.load() || p->ended.load();
  uint32_t* oldShown = nullptr;
  int32_t oldStride = 0;
  if (still && !oldPause && p->shownSlot >= 0) {
    oldShown = std::exchange(p->slots[p->shownSlot].pixels, nullptr);
    oldStride = p->slots[p->shownSlot].stride;
  }
  p->shownSlot = -1;
  if (AllocSlots(p) == 0 && oldShown) {
    ScaleWords(oldShown, oldWidth, oldHeight, oldStride, p->slots[0].pixels, width, height, p->slots[0].stride, smooth);
    p->shownSlot = 0;
  }
  FreeMemory(oldShown);
  if (oldPause) {
    p->pausePicture = static_cast<uint32_t*>(AllocMemory(PixelBufferBytes(width, height), 1));
    if (p->pausePicture)
      ScaleWords(oldPause, oldWidth, oldHeight, oldWidth + 64, p->pausePicture, width, height, width + 64, smooth);
    FreeMemory(oldPause);
  }
  dropStale();
  if (still) ShowVideoFrame(display, 0, p, 0);
}

void SetVideoPlayerVolume(vlVideoHandle* handle, uint32_t volume, int) {
  handle->player->volume = volume;
  SetVideoSoundVolume(handle->player, volume);
}

void SetVideoPlayerWord(vlVideoHandle* handle, void* layer) { handle->player->layerWord = layer; }

void SetVideoPlayerSpriteNode(vlVideoHandle* handle, void* node) { handle->player->spriteNode = node; }

uint32_t GetVideoPosition(vlVideoHandle* handle) {
  vlVideoPlayer* p = handle->player;
  if (!p->running.load()) return p->storedPositionMs;
  if (p->paused.load() && p->pausedPositionValid) return p->pausedPositionMs;
  std::lock_guard<std::mutex> lock(p->frameMutex);
  if (p->ended.load()) return p->endPositionMs;
  // Until the first frame from a new place shows, the position is that
  // place.
  if (p->videoFlushState.load()) return p->seekPositionMs;
  const double clock = WallClock() + p->clockOffset;
  return clock > 0 ? static_cast<uint32_t>(clock * 1000) : 0;
}

uint32_t GetVideoFrameCount(vlVideoHandle* handle) { return GetVideoSourceFrameCount(handle->player->source); }

const char* GetVideoFormatValue(vlVideoHandle* handle) { return GetVideoSourceFormatName(handle->player->source); }

int DecodeVideoFrameAt(vlVideoHandle* handle, int64_t position, int mode, int preRoll, int keep,
                       vlGrabbedFrame* out) {
  vlVideoPlayer* p = handle->player;
  const int32_t stride = p->frameWidth + 64;
  if (!p->grabBuffer) {
    p->grabBuffer = static_cast<uint32_t*>(AllocMemory(PixelBufferBytes(p->frameWidth, p->frameHeight), 1));
    if (!p->grabBuffer) return ERR_MEM;
  }
  vlDecodedFrame frame{};
  if (mode == 1) {
    FlushDecoder(p);
    ResetAudioCounters(p);
    const int64_t target = DecoderPosition(p, static_cast<uint32_t>(position));
    if (SeekVideoSource(p->source, target, p->format.unitMode) != 0) return kSeekError;
    // Decoders may land before the wanted time: frames are decoded until
    // one reaches it, within the pre-roll.
    const double wanted = position / 1000.0 - p->frameDuration / 2;
    int got = 0;
    for (int n = 0; n <= preRoll; ++n) {
      vlDecodedFrame next{};
      if (!DecodeNextFrame(p, &next)) break;
      frame = next;
      got = 1;
      FrameToWords(p, frame, p->grabBuffer, stride);
      const double stamp = frame.presentationStamp != -1.0 ? frame.presentationStamp : frame.decodeStamp;
      if (stamp == -1.0 || stamp >= wanted) break;
    }
    p->grabCount = 0;
    p->startedSinceGrab = 1;  // the decoder stands somewhere in the stream
    if (!got) return kFrameRange;
  } else {
    const uint32_t index = static_cast<uint32_t>(position);
    const bool reuse = !p->startedSinceGrab && p->grabCount > 0 && p->grabCount == index + 1;
    if (!reuse) {
      if (p->startedSinceGrab || index + 1 < p->grabCount) {
        FlushDecoder(p);
        p->grabCount = 0;
      }
      p->startedSinceGrab = 0;
      while (p->grabCount < index + 1) {
        if (!DecodeNextFrame(p, &frame)) {
          p->startedSinceGrab = 1;
          if (!keep) p->rewindNeeded = 1;
          return kFrameRange;
        }
        ++p->grabCount;
      }
      FrameToWords(p, frame, p->grabBuffer, stride);
    }
  }
  if (!keep) p->rewindNeeded = 1;
  *out = {p->grabBuffer, p->frameWidth, p->frameHeight, stride};
  return 0;
}

int PlaceDecoderForExport(vlVideoPlayer* p) {
  if (int error = PlaceStoppedDecoder(p)) return error;
  p->startedSinceGrab = 1;
  return 0;
}
