// The threaded video player: one per video object. While a video plays,
// four threads run: the decoder thread reads packets into two queues, the
// video server decodes, converts and schedules frames into a ring of two
// slots, the refresh thread shows each slot at its time, and (with sound)
// the audio server feeds the video's sound channel. The script thread only
// calls the operations below.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "media/video/video_source.h"
#include "platform/audio_channel.h"
#include "runtime/os.h"
#include "runtime/objects.h"

struct vlVMState;
struct vlDisplay;
struct vlWorker;
struct vlVideoPlayer;

// A queued packet; a null data pointer is a flush packet.
struct vlPacket {
  vlPacket* next;
  void* data;
  uint32_t size;
  double time;
};

struct vlPacketQueue {
  vlPacket* head = nullptr;
  vlPacket* tail = nullptr;
  uint32_t bytes = 0;
  std::mutex mutex;
  std::condition_variable condition;  // signalled on every append
  bool endOfStream = false;
  bool interrupted = false;  // a pause woke the taker: it looks at its flags
};

struct vlFrameSlot {
  uint32_t* pixels;  // native 0xAARRGGBB words
  int32_t stride;    // pixels
  double target;     // wall-clock seconds at which it is due
  double stamp;      // its time stamp
  int64_t position;
};

// Kept in the video record: the player and its loader reference (0 inbuilt,
// 1 native, else the decoding plug-in).
struct vlVideoHandle {
  vlVideoPlayer* player;
  uintptr_t loader;
};

struct vlVideoPlayer {
  vlVideoSource* source = nullptr;
  vlVideoFormat format{};
  // Target rectangle on the display; read by the refresh thread under the
  // draw mutex.
  int32_t x = 0, y = 0;
  int32_t frameWidth = 0, frameHeight = 0;
  int32_t targetWidth = 0, targetHeight = 0;
  uint32_t lengthMs = 0;
  uint32_t audioChannels = 0, audioRate = 0;

  uint32_t* decoderOut = nullptr;  // ARGB decoder output: frame size, bytes A, R, G, B
  vlPacketQueue audioQueue, videoQueue;

  // Timing, under the frame mutex.
  double frameTimer = 0, lastFrameStamp = 0, frameDuration = 0, lastDelay = 0;
  double videoClock = 0, shownStamp = 0, clockOffset = 0;
  int64_t currentPosition = -1;

  // The ring of converted frames (slots 0 and 1), under the frame mutex.
  // Slot 2 holds the frame last shown: the refresh thread swaps a shown
  // ring slot's pixels into it, so the frame on the window is still there
  // when the video server has filled the ring again (a pause keeps it).
  vlFrameSlot slots[3]{};
  int32_t queued = 0, readIndex = 0, writeIndex = 0;
  std::mutex frameMutex;
  std::condition_variable frameCondition;
  std::mutex decodeMutex;
  std::recursive_mutex drawMutex;

  // Refresh thread wake-ups: stop and reset requests under the refresh
  // mutex; the reset acknowledgement under the reset mutex.
  std::mutex refreshMutex;
  std::condition_variable refreshWake;
  bool refreshStop = false, resetRequest = false;
  bool woken = false;  // a seek (frames waited for are stale) or a resume
  std::mutex resetMutex;
  std::condition_variable resetAck;
  bool resetDone = false;
  std::atomic<int32_t> warmUp{0};

  vlWorker* decoderThread = nullptr;
  vlWorker* serverThread = nullptr;
  vlWorker* refreshThread = nullptr;
  vlWorker* audioThread = nullptr;

  // Sound: the clock and the decoded bytes under the audio mutex; the ring
  // the output thread drains under its own mutex.
  std::mutex audioMutex;
  double audioClock = 0;
  uint8_t* decoded = nullptr;
  uint32_t decodedLength = 0, decodedPosition = 0;
  vlPacket* pendingAudio = nullptr;  // audio server only
  uint32_t audioEnded = 0;           // audio server only
  uint32_t soundStopped = 0;         // audio server only
  // The sound track has played to its end: the last packet's sound left
  // the ring and the device. The video ends only after it.
  std::atomic<uint32_t> soundPlayed{0};
  double soundDeadline = 0;  // audio server only: a sink that never drains
  // Set by a seek while paused: the audio server drops the sound it holds
  // from before the seek (ring, decoded bytes, pending packet).
  std::atomic<uint32_t> soundDiscard{0};
  // The sound queue has run out (the track can end before the picture):
  // the frames then keep their own pace instead of waiting for sound.
  std::atomic<uint32_t> soundDry{0};
  // Audio server only: the place sought, in seconds, until the first sound
  // from there is decoded; the sound before it in that packet is dropped,
  // so the sound starts where the picture does. -1 when none.
  double soundFrom = -1;
  vlVideoSound ring{};
  vlChannel* channel = nullptr;
  int channelIndex = -1;
  uint32_t sound = 0;  // this run plays the sound track

  // Time-stamp repair and skipping (video server only).
  int32_t faultyDecodeStamps = 0, faultyPresentationStamps = 0;
  double lastPresentationStamp = -1.0, lastDecodeStamp = -1.0;
  float skipRatio = 1.0f, skipCounter = 0.0f;  // under the frame mutex

  vlDisplay* display = nullptr;
  // Set by the script thread: no frame is shown or scheduled and no packet
  // read until the resume; the threads rest on the pause condition.
  std::atomic<uint32_t> paused{0};
  std::mutex pauseMutex;
  std::condition_variable pauseWake;
  // Seeks made while paused: a frame the video server held through one is
  // from before it.
  std::atomic<uint32_t> pausedSeeks{0};
  // A frame of this run has been shown. Until then a pause still lets the
  // first frame through to the window.
  std::atomic<uint32_t> framesShown{0};
  uint32_t* pausePicture = nullptr;  // frame of the target size
  std::atomic<uint32_t> serverIdle{0}, refreshIdle{0}, decoderIdle{0};
  std::atomic<uint32_t> refreshBusy{0};
  std::atomic<uint32_t> serverBusy{0};  // holds a packet not yet queued or dropped
  std::atomic<uint32_t> seekRequest{0}, videoFlushState{0}, audioFlushState{0};
  int64_t seekTarget = 0;  // under the decode mutex
  uint32_t seekPositionMs = 0;  // under the frame mutex: where a seek in flight goes
  std::atomic<uint32_t> endOfFile{0}, ended{0};
  uint32_t endPositionMs = 0;
  vlObjectId videoId{};
  int32_t shownSlot = -1;
  uint32_t pausedPositionValid = 0, pausedPositionMs = 0;
  // Script thread only: when the pause came, the clock then (the place
  // sought, after a seek while paused), and where the sound written out
  // stood and the count of paused seeks then. The sound stops there, but
  // the output still plays what the ring held.
  double pausedAt = 0, pausedClock = 0, pausedSound = 0;
  uint32_t seeksAtPause = 0;
  uint32_t storedPositionMs = 0;
  int32_t pendingStartMs = -1;
  // Under the frame mutex: a decoder position in the decoder's own units
  // and the time of the frame there, which unit-mode seeks count from.
  int64_t unitAnchor = 0;
  double unitAnchorStamp = 0;
  uint32_t volume = 64;
  std::atomic<uint32_t> running{0};
  uint32_t grabCount = 0;    // frames decoded by grabs since the last rewind
  uint32_t rewindNeeded = 0;
  uint32_t startedSinceGrab = 0;
  double lastShownTime = 0;  // refresh thread only
  // Refresh thread only: when the frame sought was handed over to the
  // main thread (0 none).
  double soughtShownAt = 0;
  uint32_t smooth = 0;
  uint32_t* grabBuffer = nullptr;
  uint32_t* scratch = nullptr;  // a frame at its own size before scaling
  void* layerWord = nullptr;  // the layer record while played as a layer
  std::atomic<uint32_t> resumeRequest{0};
  // The script thread waits here for the threads to reach a state (idle,
  // resumed); each thread that reaches one says so at once, so a command
  // returns in no longer than the threads take, whatever the frame rate.
  std::mutex stateMutex;
  std::condition_variable stateWake;
  vlVideoHandle* handle = nullptr;
  vlVMState* vm = nullptr;
  void* spriteNode = nullptr;
};

// A decoded frame handed out by DecodeVideoFrameAt: native 0xAARRGGBB
// words owned by the player (valid until the next grab or free).
struct vlGrabbedFrame {
  const uint32_t* pixels;
  int32_t width, height, stride;
};

// 0 or 1000, 1298, 1359, 1450 (the file in the error argument).
int OpenVideoPlayer(const char* file, const char* loaders, const char* adapter, vlVideoHandle** handle,
                    int32_t* width, int32_t* height, uint32_t* lengthMs, uint32_t* seekable, uintptr_t* loader);
void FreeVideoPlayer(vlVideoHandle* handle);
int ProbeVideoFile(const char* file, const char* loaders, const char* adapter);
// 0 or 1000, 1233, 1287 or a sound channel's error (the player is stopped).
int StartVideoPlayer(vlVMState* state, vlVideoHandle* handle, vlObjectId videoId, vlDisplay* display, int32_t x,
                     int32_t y, int32_t width, int32_t height, uint32_t volume, uint32_t smooth, int channel,
                     void* layer);
int StopVideoPlayer(vlVideoHandle* handle, vlDisplay* display, int forgetLayer);
// 0, or 1003 when an end signal came while the threads were waited for.
int PauseVideoPlayer(vlVideoHandle* handle);
int ResumeVideoPlayer(vlVideoHandle* handle);
// 0 or 1000, 1066, 1233.
int SeekVideoPlayer(vlVideoHandle* handle, uint32_t positionMs);
void SetVideoPlayerRect(vlVideoHandle* handle, vlDisplay* display, int32_t x, int32_t y, int32_t width,
                        int32_t height, uint32_t smooth);
void SetVideoPlayerVolume(vlVideoHandle* handle, uint32_t volume, int channel);
void SetVideoPlayerWord(vlVideoHandle* handle, void* layer);
// The record that owns the player took another id: its end event and its
// sound channel carry the new one.
void SetVideoPlayerId(vlVideoHandle* handle, vlObjectId id);
void SetVideoPlayerSpriteNode(vlVideoHandle* handle, void* node);
uint32_t GetVideoPosition(vlVideoHandle* handle);
uint32_t GetVideoFrameCount(vlVideoHandle* handle);
const char* GetVideoFormatValue(vlVideoHandle* handle);
// mode 1: position in ms; mode 0: frame index from 0. 0 or 1000, 1233, 1457.
int DecodeVideoFrameAt(vlVideoHandle* handle, int64_t position, int mode, int preRoll, int keep,
                       vlGrabbedFrame* out);
// Before an export reads a stopped player's decoder: to the place a seek
// while stopped asked for, else back to the start when a grab or an
// export left it elsewhere. 0 or 1233.
int PlaceDecoderForExport(vlVideoPlayer* player);
// Shows a ring slot: queued for the main thread (from the refresh thread or
// for a layer), else blitted at once. fromRefresh 2: the first frame from
// a place sought, which the main thread sends as soon as it is drawn.
void ShowVideoFrame(vlDisplay* display, int slot, vlVideoPlayer* player, int fromRefresh);
// A running player draws its shown frame on the display again (for
// paused and ended ones, which draw nothing by themselves).
void RedrawVideoPlayerFrame(vlVideoHandle* handle, vlDisplay* display);
// Drops the player's frames still waiting on the display.
void RemovePendingVideoFrames(vlDisplay* display, const vlVideoPlayer* player);
// -1 while a frame of the player waits on the display or the main thread
// has a frame sought in hand, else when the last frames sought were sent
// (the monotonic clock's seconds, 0 for none).
double VideoFrameSentAt(vlDisplay* display, const vlVideoPlayer* player);

// Called by the refresh thread when the stream has ended; the video library
// marks the owning record.
extern void (*gVideoEndedHook)(vlVideoPlayer* player);

// The player's threads (video_threads.cpp).
void VideoDecoderThread(void* start);
void VideoServerThread(void* start);
void VideoRefreshThread(void* start);
// The sound track (video_sound.cpp).
int OpenVideoSound(vlVMState* state, vlVideoPlayer* player);  // 0 or an error
void VideoAudioThread(void* start);
void CloseVideoSound(vlVideoPlayer* player);
void FreeVideoSound(vlVideoPlayer* player);
void SetVideoSoundVolume(vlVideoPlayer* player, uint32_t volume);
// The sound stood still (a pause): the output goes on from now with what
// comes next, instead of catching up with the time it did not play.
void MarkVideoSoundResumed(vlVideoPlayer* player);
// Bytes of decoded sound not yet played.
uint32_t QueuedSoundBytes(vlVideoPlayer* player);
// The time of the next sound the output takes: the audio clock less the
// sound decoded or in the ring.
double WrittenSoundClock(vlVideoPlayer* player);
// Packet queues.
void ResetPacketQueue(vlPacketQueue* queue);
int AppendPacket(vlPacketQueue* queue, void* data, uint32_t size, double time);
void FlushPacketQueue(vlPacketQueue* queue, vlVideoSource* source);
// Rests while the player is paused, until woken (a resume, a stop) or for
// at most a second.
void RestWhilePaused(vlVideoPlayer* player, vlWorker* worker);
// Wakes the threads resting while the player is paused.
void WakePausedThreads(vlVideoPlayer* player);
// Wakes every thread of a player from whatever it waits for (a frame's
// time, a packet, a free slot), so that a pause or stop is seen at once.
void WakeVideoThreads(vlVideoPlayer* player);
// Sets a state flag the script thread may be waiting for, and wakes it.
void SignalVideoState(vlVideoPlayer* player, std::atomic<uint32_t>& flag, uint32_t value);
// Converts the decoded frame into a slot of the target size.
void ConvertVideoFrame(vlVideoPlayer* player, const vlDecodedFrame& frame, vlFrameSlot* slot);
double WallClock();
