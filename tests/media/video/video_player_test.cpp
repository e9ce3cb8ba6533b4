// The video player on files made by ffmpeg (MJPEG and uncompressed AVI)
// and by the CDXL generator: single frames compared with the frames ffmpeg
// extracts, seeks by time, refusals of damaged files, and the four threads
// running a video to its end, paused, seeked and resized (also run under
// ThreadSanitizer).
#include <cmath>
#include <atomic>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "../../formats/pictures/picture_test_util.h"
#include "media/video/video_player.h"
#include "media/video/video_source.h"
#include "runtime/blocking.h"
#include "runtime/os.h"
#include "runtime/errors.h"
#include "vm/error_codes.h"

using namespace pictest;

namespace {

// ffmpeg's testsrc, 10 frames at 10 per second, 64 x 48.
std::string MakeVideo(const TempDir& dir, const std::string& name, const std::string& codec,
                      const std::string& size = "64x48", int rate = 10, double seconds = 1) {
  const std::string file = dir.File(name);
  int status = 0;
  RunTool("ffmpeg -v error -y -f lavfi -i testsrc=size=" + size + ":rate=" + std::to_string(rate) + " -t " +
              std::to_string(seconds) + " " + codec + " " + Quote(file),
          &status);
  EXPECT_EQ(status, 0);
  return file;
}

// Every frame as ffmpeg decodes it: width x height x 3 bytes each.
std::vector<uint8_t> FfmpegFrames(const std::string& file) {
  int status = 0;
  auto bytes = RunTool("ffmpeg -v error -i " + Quote(file) + " -f rawvideo -pix_fmt rgb24 -", &status);
  EXPECT_EQ(status, 0);
  return bytes;
}

struct Diff {
  double mean = 0;
  int max = 0;
};

Diff Compare(const vlGrabbedFrame& f, const uint8_t* rgb) {
  Diff d;
  double sum = 0;
  for (int y = 0; y < f.height; ++y)
    for (int x = 0; x < f.width; ++x) {
      const uint32_t p = f.pixels[size_t(y) * f.stride + x];
      const uint8_t* e = rgb + (size_t(y) * f.width + x) * 3;
      const int c[3] = {int(p >> 16 & 255), int(p >> 8 & 255), int(p & 255)};
      for (int i = 0; i < 3; ++i) {
        const int delta = std::abs(c[i] - e[i]);
        sum += delta;
        d.max = std::max(d.max, delta);
      }
    }
  d.mean = sum / (f.width * f.height * 3);
  return d;
}

struct Opened {
  vlVideoHandle* handle = nullptr;
  int32_t width = 0, height = 0;
  uint32_t length = 0, seekable = 0;
  uintptr_t loader = 99;
  int error = 0;
  explicit Opened(const std::string& file, const char* loaders = "") {
    error = OpenVideoPlayer(file.c_str(), loaders, "", &handle, &width, &height, &length, &seekable, &loader);
  }
  ~Opened() { FreeVideoPlayer(handle); }
};

TEST(VideoPlayer, RawFramesMatchFfmpegExactly) {
  TempDir dir;
  const std::string file = MakeVideo(dir, "r.avi", "-c:v rawvideo -pix_fmt bgr24");
  const auto expected = FfmpegFrames(file);
  ASSERT_EQ(expected.size(), size_t(10 * 64 * 48 * 3));
  Opened v(file);
  ASSERT_EQ(v.error, 0);
  EXPECT_EQ(v.width, 64);
  EXPECT_EQ(v.height, 48);
  EXPECT_EQ(v.length, 1000u);
  EXPECT_EQ(v.seekable, 1u);
  EXPECT_EQ(v.loader, 0u);
  EXPECT_EQ(GetVideoFrameCount(v.handle), 10u);
  EXPECT_STREQ(GetVideoFormatValue(v.handle), "AVI");
  // Forward, the same frame again, then backwards (a rewind).
  for (int n : {0, 1, 4, 4, 9, 2}) {
    vlGrabbedFrame f{};
    ASSERT_EQ(DecodeVideoFrameAt(v.handle, n, 0, 15, 1, &f), 0) << n;
    EXPECT_EQ(Compare(f, &expected[size_t(n) * 64 * 48 * 3]).max, 0) << n;
  }
  vlGrabbedFrame f{};
  EXPECT_EQ(DecodeVideoFrameAt(v.handle, 10, 0, 15, 1, &f), 1457);
  // Milliseconds: frame n covers n * 100 .. n * 100 + 99.
  for (int ms : {0, 350, 999}) {
    ASSERT_EQ(DecodeVideoFrameAt(v.handle, ms, 1, 15, 1, &f), 0) << ms;
    EXPECT_EQ(Compare(f, &expected[size_t(ms / 100) * 64 * 48 * 3]).max, 0) << ms;
  }
}

TEST(VideoPlayer, MjpegFramesAreCloseToFfmpegs) {
  TempDir dir;
  const std::string file = MakeVideo(dir, "m.avi", "-c:v mjpeg -q:v 2");
  const auto expected = FfmpegFrames(file);
  ASSERT_EQ(expected.size(), size_t(10 * 64 * 48 * 3));
  Opened v(file);
  ASSERT_EQ(v.error, 0);
  for (int n = 0; n < 10; ++n) {
    vlGrabbedFrame f{};
    ASSERT_EQ(DecodeVideoFrameAt(v.handle, n, 0, 15, 1, &f), 0);
    // Two JPEG decoders differ only in rounding and chroma upsampling.
    const Diff d = Compare(f, &expected[size_t(n) * 64 * 48 * 3]);
    EXPECT_LT(d.mean, 4.0) << n;
    // And it is nearer to its own frame than to any other.
    for (int other = 0; other < 10; ++other) {
      if (other == n) continue;
      EXPECT_LT(d.mean, Compare(f, &expected[size_t(other) * 64 * 48 * 3]).mean) << n << " " << other;
    }
  }
}

TEST(VideoPlayer, FilesNoDecoderTakesAreRefused) {
  TempDir dir;
  const std::string good = MakeVideo(dir, "m.avi", "-c:v mjpeg");
  const auto bytes = ReadBytes(good);
  const std::string bad = dir.File("bad.avi");
  for (size_t keep : {size_t(0), size_t(12), size_t(100), size_t(300)}) {
    WriteBytes(bad, std::vector<uint8_t>(bytes.begin(), bytes.begin() + keep));
    Opened v(bad);
    EXPECT_EQ(v.error, 1450) << keep;
    EXPECT_STREQ(GetErrorArgument(), bad.c_str());
  }
  // A codec the inbuilt readers do not decode.
  const std::string other = MakeVideo(dir, "h.avi", "-c:v ffv1");
  EXPECT_EQ(Opened(other).error, 1450);
  EXPECT_EQ(Opened(dir.File("missing.avi")).error, 1450);
  // "native" alone has no decoder on this platform.
  EXPECT_EQ(Opened(good, "native").error, 1450);
  EXPECT_EQ(ProbeVideoFile(good.c_str(), "", ""), 1);
  EXPECT_EQ(ProbeVideoFile(bad.c_str(), "", ""), 0);
}

// A player without a display runs its threads; the frames it shows are
// dropped for want of a window, but timing, pause and seek are real.
// The player reads packets on one thread while another decodes frames, and
// an AVI frame is fetched from the file when it is decoded: the two share
// the reader's file position. The sound read while frames are decoded
// equals ffmpeg's reading of the track, byte for byte, and every frame
// decodes (pictures read into the sound, a burst of noise at the start of
// a video under load, and frames came out wrong or missing).
TEST(VideoSource, SoundReadWhileFramesDecodeIsTheFilesOwn) {
  TempDir dir;
  const std::string file = dir.File("s.avi");
  int status = 0;
  RunTool("ffmpeg -v error -y -f lavfi -i testsrc=size=160x120:rate=25 -f lavfi -i "
          "sine=frequency=440:sample_rate=22050 -t 3 -c:v mjpeg -q:v 5 -c:a pcm_s16le -ac 1 " + Quote(file),
          &status);
  ASSERT_EQ(status, 0);
  const std::vector<uint8_t> track = RunTool("ffmpeg -v error -i " + Quote(file) + " -f s16le -", &status);
  ASSERT_EQ(status, 0);
  for (int round = 0; round < 3; ++round) {
    vlVideoFormat fmt{};
    vlVideoSource* source = OpenVideoSource(file.c_str(), "", "", &fmt);
    ASSERT_NE(source, nullptr);
    std::mutex mutex;
    std::deque<void*> frames;
    std::atomic<bool> done{false};
    std::atomic<int> decoded{0}, failed{0};
    std::thread decoder([&] {
      std::vector<uint32_t> pixels(size_t(fmt.width) * fmt.height);
      for (;;) {
        void* data = nullptr;
        {
          std::lock_guard<std::mutex> lock(mutex);
          if (!frames.empty()) {
            data = frames.front();
            frames.pop_front();
          }
        }
        if (!data) {
          if (done.load()) return;
          std::this_thread::yield();
          continue;
        }
        vlDecodedFrame frame{};
        frame.pixels = pixels.data();
        (DecodeVideoPacket(source, data, 0, &frame) ? decoded : failed)++;
        FreeVideoPacket(source, data);
      }
    });
    std::vector<uint8_t> sound;
    std::vector<int16_t> buffer(1 << 16);
    vlVideoPacketRecord packet{};
    int videoPackets = 0;
    while (NextVideoPacket(source, &packet) == 0) {
      if (packet.kind == 0) {
        ++videoPackets;
        std::lock_guard<std::mutex> lock(mutex);
        frames.push_back(packet.data);
        continue;
      }
      for (int used = 0; !used;) {
        uint32_t bytes = 0;
        used = DecodeAudioPacket(source, packet.data, packet.size, buffer.data(), 1 << 17, &bytes);
        const auto* at = reinterpret_cast<const uint8_t*>(buffer.data());
        sound.insert(sound.end(), at, at + bytes);
      }
      FreeVideoPacket(source, packet.data);
    }
    done.store(true);
    decoder.join();
    CloseVideoSource(source);
    EXPECT_EQ(videoPackets, 75);
    EXPECT_EQ(decoded.load(), videoPackets);
    EXPECT_EQ(failed.load(), 0);
    ASSERT_EQ(sound.size(), track.size()) << "round " << round;
    EXPECT_TRUE(sound == track) << "round " << round;
  }
}

TEST(VideoThreads, PlaysToTheEndPausesSeeksAndStops) {
  TempDir dir;
  const std::string file = MakeVideo(dir, "m.avi", "-c:v mjpeg", "32x24", 25, 0.8);
  Opened v(file);
  ASSERT_EQ(v.error, 0);
  static std::atomic<int> ended{0};
  ended = 0;
  gVideoEndedHook = [](vlVideoPlayer*) { ended.fetch_add(1); };
  vlVideoPlayer* p = v.handle->player;

  ASSERT_EQ(StartVideoPlayer(nullptr, v.handle, {1, nullptr}, nullptr, 0, 0, 32, 24, 64, 0, 0, nullptr), 0);
  for (int i = 0; i < 300 && !ended; ++i) SleepMillis(10);
  EXPECT_EQ(ended.load(), 1);
  EXPECT_EQ(p->ended.load(), 1u);
  const uint32_t end = GetVideoPosition(v.handle);
  EXPECT_GE(end, 700u);
  EXPECT_LT(end, 2000u);
  StopVideoPlayer(v.handle, nullptr, 1);
  EXPECT_EQ(GetVideoPosition(v.handle), end);

  // Again, with a pause in the middle: the position holds while paused.
  ended = 0;
  ASSERT_EQ(StartVideoPlayer(nullptr, v.handle, {1, nullptr}, nullptr, 0, 0, 64, 48, 64, 1, 0, nullptr), 0);
  SleepMillis(200);
  PauseVideoPlayer(v.handle);
  ASSERT_EQ(p->paused.load(), 1u);
  const uint32_t held = GetVideoPosition(v.handle);
  SleepMillis(300);
  EXPECT_EQ(GetVideoPosition(v.handle), held);
  EXPECT_EQ(ended.load(), 0);
  // A seek while paused shows the frame there and keeps the pause.
  EXPECT_EQ(SeekVideoPlayer(v.handle, 600), 0);
  EXPECT_EQ(GetVideoPosition(v.handle), 600u);
  ResumeVideoPlayer(v.handle);
  EXPECT_EQ(p->paused.load(), 0u);
  // A new size while running.
  SetVideoPlayerRect(v.handle, nullptr, 5, 5, 20, 10, 0);
  for (int i = 0; i < 300 && !ended; ++i) SleepMillis(10);
  EXPECT_EQ(ended.load(), 1);
  StopVideoPlayer(v.handle, nullptr, 1);

  // A seek while playing is carried out by the decoder thread.
  ended = 0;
  ASSERT_EQ(StartVideoPlayer(nullptr, v.handle, {1, nullptr}, nullptr, 0, 0, 32, 24, 64, 0, 0, nullptr), 0);
  EXPECT_EQ(SeekVideoPlayer(v.handle, 400), 0);
  for (int i = 0; i < 300 && !ended; ++i) SleepMillis(10);
  EXPECT_EQ(ended.load(), 1);
  StopVideoPlayer(v.handle, nullptr, 1);

  // Stopped in the middle: threads end at once.
  ASSERT_EQ(StartVideoPlayer(nullptr, v.handle, {1, nullptr}, nullptr, 0, 0, 32, 24, 64, 0, 0, nullptr), 0);
  SleepMillis(50);
  StopVideoPlayer(v.handle, nullptr, 1);
  EXPECT_EQ(p->running.load(), 0u);
  gVideoEndedHook = nullptr;
}

// Stops at every stage of playing, some with a seek just asked for (the
// decoder then needs the decode mutex that the video server holds while it
// waits for a free frame slot): every stop returns.
TEST(VideoThreads, StopDuringPlayAlwaysReturns) {
  TempDir dir;
  const std::string file = MakeVideo(dir, "m.avi", "-c:v mjpeg", "32x24", 50, 2);
  Opened v(file);
  ASSERT_EQ(v.error, 0);
  vlVideoPlayer* p = v.handle->player;
  for (int i = 0; i < 300; ++i) {
    ASSERT_EQ(StartVideoPlayer(nullptr, v.handle, {1, nullptr}, nullptr, 0, 0, 32, 24, 64, 0, 0, nullptr), 0);
    SleepMillis(uint32_t(i % 7) * 3);
    if (i % 2) {
      {
        std::lock_guard<std::mutex> lock(p->decodeMutex);
        p->seekTarget = 500;
      }
      p->seekRequest.store(1);
    }
    StopVideoPlayer(v.handle, nullptr, 1);
    ASSERT_EQ(p->running.load(), 0u) << i;
  }
}

TEST(VideoThreads, SeekWhileStoppedStartsThere) {
  TempDir dir;
  const std::string file = MakeVideo(dir, "r.avi", "-c:v rawvideo -pix_fmt bgr24", "16x8", 10, 2);
  Opened v(file);
  ASSERT_EQ(v.error, 0);
  EXPECT_EQ(SeekVideoPlayer(v.handle, 1500), 0);
  EXPECT_EQ(GetVideoPosition(v.handle), 1500u);
  static std::atomic<int> ended{0};
  ended = 0;
  gVideoEndedHook = [](vlVideoPlayer*) { ended.fetch_add(1); };
  const double start = WallClock();
  ASSERT_EQ(StartVideoPlayer(nullptr, v.handle, {1, nullptr}, nullptr, 0, 0, 16, 8, 64, 0, 0, nullptr), 0);
  for (int i = 0; i < 500 && !ended; ++i) SleepMillis(10);
  EXPECT_EQ(ended.load(), 1);
  // Half a second of a two-second video was left.
  EXPECT_LT(WallClock() - start, 1.5);
  StopVideoPlayer(v.handle, nullptr, 1);
  gVideoEndedHook = nullptr;
}

// Paused at the start of a clip read whole at once, sought into its last
// two frames and resumed, round after round: every round ends, at the end
// of the clip.
TEST(VideoThreads, PausedSeeksIntoTheLastFramesEndOnResume) {
  TempDir dir;
  const std::string file = MakeVideo(dir, "m.avi", "-c:v mjpeg", "32x24", 25, 1.5);
  Opened v(file);
  ASSERT_EQ(v.error, 0);
  ASSERT_GT(v.length, 1000u);
  static std::atomic<int> ended{0};
  gVideoEndedHook = [](vlVideoPlayer*) { ended.fetch_add(1); };
  for (uint32_t at = v.length - 60; at < v.length; at += 7) {
    ended = 0;
    ASSERT_EQ(StartVideoPlayer(nullptr, v.handle, {1, nullptr}, nullptr, 0, 0, 32, 24, 64, 0, 0, nullptr), 0);
    PauseVideoPlayer(v.handle);
    ASSERT_EQ(SeekVideoPlayer(v.handle, at), 0) << at;
    EXPECT_EQ(GetVideoPosition(v.handle), at);
    ResumeVideoPlayer(v.handle);
    for (int i = 0; i < 1000 && !ended; ++i) SleepMillis(10);  // a busy machine may take seconds
    EXPECT_EQ(ended.load(), 1) << at;
    EXPECT_GE(GetVideoPosition(v.handle), at);
    StopVideoPlayer(v.handle, nullptr, 1);
  }
  gVideoEndedHook = nullptr;
}

// Plays the file, keeps the frame lock held elsewhere (as a stuck thread
// would: the pause cannot take its snapshot and the refresh thread cannot
// acknowledge), pauses and ends the waits meanwhile, as an end signal does;
// 0 when the pause gave 1003 and the player stopped.
int PauseWithTheWaitsEnded(const std::string& file) {
  Opened v(file);
  vlVideoPlayer* p = v.handle ? v.handle->player : nullptr;
  if (v.error || StartVideoPlayer(nullptr, v.handle, {1, nullptr}, nullptr, 0, 0, 32, 24, 64, 0, 0, nullptr)) return 2;
  for (int i = 0; i < 300 && !p->framesShown.load(); ++i) SleepMillis(10);
  std::atomic<bool> held{false}, release{false}, holderDone{false};
  std::thread holder([&] {
    {
      std::lock_guard<std::mutex> lock(p->frameMutex);
      held = true;
      // Two seconds at most: a pause that ignores the end returns after.
      for (int i = 0; i < 400 && !release; ++i) SleepMillis(5);
    }
    holderDone = true;
  });
  while (!held) SleepMillis(1);
  std::thread signal([] {
    SleepMillis(300);
    EndBlockingWaits();
  });
  const int result = PauseVideoPlayer(v.handle);
  // Before the holder gave up: the end, not the lock coming free, ended it.
  const bool early = !release.load() && !holderDone.load();
  release = true;
  holder.join();
  signal.join();
  StopVideoPlayer(v.handle, nullptr, 1);
  return result == ERR_USERABORT && early && !p->running.load() ? 0 : 1;
}

// An end signal ends the script thread's wait for the player's threads. In
// a child process: the waits stay ended.
TEST(VideoThreadsDeathTest, AnEndSignalEndsAPausesWaitForTheThreads) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  TempDir dir;
  const std::string file = MakeVideo(dir, "m.avi", "-c:v mjpeg", "32x24", 25, 4);
  EXPECT_EXIT(std::exit(PauseWithTheWaitsEnded(file)), testing::ExitedWithCode(0), "");
}

}  // namespace
