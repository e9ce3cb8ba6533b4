// ALSA output against the real libasound, its "default" device made a raw
// file sink by a private configuration: the exact bytes written for known
// samples at full and half volume, loops, the events posted, expiry, the
// open and parameter failures and the missing-library fallback.
#include <gtest/gtest.h>

#include "platform/alsa_output.h"
#include "platform/shared_libs.h"
#include "platform/hooks.h"
#include "runtime/threads.h"
#include "runtime/errors.h"
#include "vm/error_codes.h"

#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string gDir;
std::string gRaw;
std::mutex gEventsMutex;
std::vector<std::pair<int, int32_t>> gEvents;  // kind, count

void RecordEvent(int kind, vlObjectId, int32_t, int32_t count, int32_t, int) {
  std::lock_guard<std::mutex> lock(gEventsMutex);
  gEvents.emplace_back(kind, count);
}

void LoadAlsaFrom(const char* file) {
  const char* files[VL_LIB_COUNT] = {};
  files[VL_LIB_ALSA] = file;
  LoadSharedLibsFrom(files);
}

// The output thread changes a channel's state under the output lock.
uint32_t StateOf(vlChannel* channel) {
  LockAudioOutput();
  const uint32_t state = channel->state;
  UnlockAudioOutput();
  return state;
}

class AlsaOutput : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    char pattern[] = "/tmp/vl_alsa_XXXXXX";
    gDir = mkdtemp(pattern);
    gRaw = gDir + "/out.raw";
    std::ofstream(gDir + "/.asoundrc")
        << "pcm.!default { type file slave.pcm \"null\" file \"" << gRaw
        << "\" format \"raw\" }\n";
    setenv("HOME", gDir.c_str(), 1);
    // libasound keeps its parsed configuration in its own data.
    dlopen("libasound.so.2", RTLD_LAZY | RTLD_NODELETE);
  }

  static void TearDownTestSuite() {
    unlink(gRaw.c_str());
    unlink((gDir + "/.asoundrc").c_str());
    rmdir(gDir.c_str());
  }

  void SetUp() override {
    LoadAlsaFrom("libasound.so.2");
    ASSERT_NE(gSharedLibs[VL_LIB_ALSA], nullptr);
    ASSERT_EQ(CreateAudioOutputLock(), 0);
    gChannels = channels_;
    gChannelCount = 2;
    SetAudioDeviceName("default");
    gPlatformHooks.postAudioEvent = RecordEvent;
    gEvents.clear();
    unlink(gRaw.c_str());
  }

  void TearDown() override {
    StopAudioOutputThread();
    for (int i = 0; i < 2; i++) FreeChannelStream(i);
    gChannels = nullptr;
    gChannelCount = 0;
    FreeAudioOutputLock();
    ResetPlatformHooks();
    for (int kind : {12, 13, 18, 23}) SetAudioEventWanted(kind, 0);
    UnloadSharedLibs();
  }

  // Plays the sample on channel 0 until the thread retires it; the file's
  // bytes afterwards.
  std::vector<uint8_t> PlayToFile(vlSoundData* sample, uint32_t volume, int loops) {
    vlAudioFormat format{16, 0, 2, 2};
    EXPECT_EQ(OpenAudioDevice(0, &format, 44100), 0);
    LockAudioOutput();
    vlChannel* channel = &channels_[0];
    channel->sample = sample;
    channel->id = vlObjectId{7, nullptr};
    channel->loops = loops;
    channel->loop = 1;
    channel->loopStep = 1;
    channel->volume = volume;
    channel->startPending = 1;
    channel->state = VL_CHANNEL_SAMPLE;
    UnlockAudioOutput();
    EXPECT_EQ(StartAudioThread(), 0);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (StateOf(channel) != VL_CHANNEL_FINISHED &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_EQ(channel->state, VL_CHANNEL_FINISHED);
    ExpireALSAChannels();  // closes the PCM: the file is complete
    EXPECT_EQ(channel->state, VL_CHANNEL_FREE);
    EXPECT_EQ(channel->pcm, nullptr);
    std::ifstream in(gRaw, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
  }

  vlChannel channels_[2]{};
};

std::vector<uint8_t> Ramp(uint32_t frames) {
  std::vector<uint8_t> data(frames * 4);
  for (uint32_t i = 0; i < frames * 2; i++) {
    auto value = static_cast<int16_t>(i * 37 - 20000 + (i & 1 ? 3 : 0));
    data[i * 2] = static_cast<uint8_t>(value);
    data[i * 2 + 1] = static_cast<uint8_t>(static_cast<uint16_t>(value) >> 8);
  }
  return data;
}

TEST_F(AlsaOutput, FullVolumeWritesTheSampleUnchangedOncePerLoop) {
  std::vector<uint8_t> data = Ramp(3000);
  vlSoundData sample{data.data(), 16, 4, 2, VL_PCM_SIGNED, 3000, 0, 5, 44100};
  SetAudioEventWanted(12, 1);
  SetAudioEventWanted(13, 1);
  std::vector<uint8_t> out = PlayToFile(&sample, 64, 3);
  std::vector<uint8_t> expected;
  for (int i = 0; i < 3; i++) expected.insert(expected.end(), data.begin(), data.end());
  EXPECT_EQ(out, expected);
  // The first pass reports its loop event at once, the end comes once.
  std::lock_guard<std::mutex> lock(gEventsMutex);
  ASSERT_FALSE(gEvents.empty());
  EXPECT_EQ(gEvents.front(), std::make_pair(6, 1));
  EXPECT_EQ(gEvents.back(), std::make_pair(5, 3));
  int ends = 0;
  for (auto& event : gEvents) ends += event.first == 5;
  EXPECT_EQ(ends, 1);
}

// Passes written faster than their timers expire (far more than there are
// timers at once) still report one loop event each.
TEST_F(AlsaOutput, EveryPassOfAShortSampleReportsItsLoop) {
  std::vector<uint8_t> data = Ramp(1);
  vlSoundData sample{data.data(), 16, 4, 2, VL_PCM_SIGNED, 1, 0, 5, 44100};
  SetAudioEventWanted(12, 1);
  SetAudioEventWanted(13, 1);
  std::vector<uint8_t> out = PlayToFile(&sample, 64, 200);
  EXPECT_EQ(out.size(), 200 * data.size());
  std::lock_guard<std::mutex> lock(gEventsMutex);
  std::vector<int> loops(201, 0);
  for (auto& event : gEvents)
    if (event.first == 6 && event.second >= 1 && event.second <= 200) loops[event.second]++;
  for (int pass = 1; pass <= 200; pass++) EXPECT_EQ(loops[pass], 1) << "pass " << pass;
  ASSERT_FALSE(gEvents.empty());
  EXPECT_EQ(gEvents.back(), std::make_pair(5, 200));
}

TEST_F(AlsaOutput, HalfVolumeHalvesEveryValueAndPostsNothingUnwanted) {
  std::vector<uint8_t> data = Ramp(2000);
  vlSoundData sample{data.data(), 16, 4, 2, VL_PCM_SIGNED, 2000, 0, 5, 44100};
  std::vector<uint8_t> out = PlayToFile(&sample, 32, 1);
  ASSERT_EQ(out.size(), data.size());
  for (size_t i = 0; i < data.size(); i += 2) {
    auto in = static_cast<int16_t>(data[i] | data[i + 1] << 8);
    auto got = static_cast<int16_t>(out[i] | out[i + 1] << 8);
    ASSERT_EQ(got, static_cast<int16_t>(std::lround(in / 2.0))) << "value " << i / 2;
  }
  std::lock_guard<std::mutex> lock(gEventsMutex);
  EXPECT_TRUE(gEvents.empty());
}

TEST_F(AlsaOutput, MusicPlaysBothBuffersInTurnThenEnds) {
  std::vector<uint8_t> block = Ramp(1500);  // buffer A: 1000 frames, B: 500
  vlStreamOutput music{4, 5, 0, {}};
  vlAudioFormat format{16, 0, 2, 2};
  ASSERT_EQ(OpenAudioDevice(0, &format, 44100), 0);
  SetAudioEventWanted(18, 1);
  LockAudioOutput();
  vlChannel* channel = &channels_[0];
  channel->music = &music;
  channel->volume = 64;
  channel->musicBlock = block.data();
  channel->musicCurrent = block.data();
  channel->musicFrames = 1000;
  channel->musicBufferSize = 1000;
  channel->musicLength[1] = 500;
  channel->musicState = VL_MUSIC_LAST_QUEUED;
  channel->state = VL_CHANNEL_MUSIC;
  UnlockAudioOutput();
  ASSERT_EQ(StartAudioThread(), 0);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (StateOf(channel) != VL_CHANNEL_FINISHED &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ASSERT_EQ(channel->state, VL_CHANNEL_FINISHED);
  EXPECT_NE(music.startTime.seconds, 0u);
  ExpireALSAChannels();
  EXPECT_EQ(channel->state, VL_CHANNEL_FREE);
  std::ifstream in(gRaw, std::ios::binary);
  EXPECT_EQ(std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {}), block);
  std::lock_guard<std::mutex> lock(gEventsMutex);
  ASSERT_EQ(gEvents.size(), 1u);
  EXPECT_EQ(gEvents[0].first, 7);
}

// The device opens while the output thread runs, and the ring is fed in
// pieces from another thread, as a video's sound thread does: it fills the
// ring under the ring's lock and turns the channel into a video channel
// under the output lock, while the drawing thread expires channels. Every
// byte is heard once, in order (and under TSan nothing races).
TEST_F(AlsaOutput, VideoRingIsDrainedFromTheFront) {
  std::vector<uint8_t> bytes = Ramp(800);
  std::vector<uint8_t> ring(bytes.size() + 1);
  vlVideoSound video{CreateMutex(), 0, ring.data(), 2, 4, 0, 0};
  vlAudioFormat format{16, 0, 2, 2};
  ASSERT_EQ(StartAudioThread(), 0);  // already sweeping when the device opens
  ASSERT_EQ(OpenAudioDevice(0, &format, 44100), 0);
  LockAudioOutput();
  channels_[0].video = &video;
  channels_[0].volume = 64;
  UnlockAudioOutput();
  std::atomic<bool> fed{false};
  std::thread feeder([&] {
    for (size_t at = 0; at < bytes.size(); at += 200) {
      LockMutex(video.mutex);
      std::memcpy(ring.data() + video.bytes, bytes.data() + at, 200);
      video.bytes += 200;
      UnlockMutex(video.mutex);
      if (at == 0) {
        LockAudioOutput();
        channels_[0].state = VL_CHANNEL_VIDEO;
        UnlockAudioOutput();
      }
      WakeAudioOutput();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    LockMutex(video.mutex);
    ring[video.bytes] = 0xAA;  // half a frame stays queued
    video.bytes += 1;
    UnlockMutex(video.mutex);
    fed = true;
  });
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  for (;;) {
    ExpireALSAChannels();  // a video channel is never expired
    LockMutex(video.mutex);
    uint32_t left = video.bytes;
    UnlockMutex(video.mutex);
    if ((fed && left == 1) || std::chrono::steady_clock::now() > deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  feeder.join();
  StopAudioOutputThread();
  EXPECT_EQ(video.bytes, 1u);
  EXPECT_EQ(ring[0], 0xAA);
  EXPECT_EQ(channels_[0].state, VL_CHANNEL_VIDEO);
  FreeChannelStream(0);
  FreeMutex(video.mutex);
  std::ifstream in(gRaw, std::ios::binary);
  EXPECT_EQ(std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {}), bytes);
}

struct CountingModule {
  uint32_t next;  // the frame number the next render starts at
};

size_t CountingSize(const void*) { return sizeof(CountingModule); }

uint32_t CountingRender(void* state, int16_t* buffer, uint32_t frames) {
  auto* module = static_cast<CountingModule*>(state);
  for (uint32_t i = 0; i < frames; i++, module->next++) {
    if (!buffer) continue;
    buffer[i * 2] = static_cast<int16_t>(module->next);
    buffer[i * 2 + 1] = static_cast<int16_t>(~module->next);
  }
  return frames;
}

TEST_F(AlsaOutput, ModuleRingKeepsTheSongContinuousAcrossWraps) {
  CountingModule shared{0};
  gSoundServices.moduleStateSize = CountingSize;
  gSoundServices.renderModule = CountingRender;
  channels_[0].module = &shared;
  channels_[0].volume = 64;
  ASSERT_EQ(PlayModuleOnALSA(0), 0);
  EXPECT_EQ(channels_[0].state, VL_CHANNEL_MODULE);
  ASSERT_EQ(StartAudioThread(), 0);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  for (;;) {
    LockAudioOutput();  // the thread leaves the lock between sweeps
    uint32_t rendered = static_cast<CountingModule*>(channels_[0].moduleCopy)->next;
    UnlockAudioOutput();
    if (rendered >= 3 * kModuleRingFrames || std::chrono::steady_clock::now() > deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  StopAudioOutputThread();
  FreeChannelStream(0);
  gSoundServices = vlSoundServices{};
  std::ifstream in(gRaw, std::ios::binary);
  std::vector<uint8_t> out(std::istreambuf_iterator<char>(in), {});
  ASSERT_GE(out.size(), size_t(2) * kModuleRingFrames * 4);
  ASSERT_EQ(out.size() % 4, 0u);
  for (size_t frame = 0; frame < out.size() / 4; frame++) {
    auto left = static_cast<uint16_t>(out[frame * 4] | out[frame * 4 + 1] << 8);
    auto right = static_cast<uint16_t>(out[frame * 4 + 2] | out[frame * 4 + 3] << 8);
    ASSERT_EQ(left, static_cast<uint16_t>(frame)) << "frame " << frame;
    ASSERT_EQ(right, static_cast<uint16_t>(~frame)) << "frame " << frame;
  }
}

TEST(AlsaScale, EachFormatScalesToTheNearestValue) {
  // Unsigned 8-bit scales around its midpoint.
  const uint8_t u8[] = {0, 128, 255, 131};
  uint8_t out8[4];
  ScaleAudioFrames(u8, out8, 4, 32, 0, 0);
  EXPECT_EQ(std::vector<uint8_t>(out8, out8 + 4), (std::vector<uint8_t>{64, 128, 192, 130}));
  const uint8_t s8[] = {0x80, 0x7F, 0x03, 0xFD};  // -128, 127, 3, -3
  ScaleAudioFrames(s8, out8, 2, 16, 3, 0);
  EXPECT_EQ(std::vector<uint8_t>(out8, out8 + 4), (std::vector<uint8_t>{0xE0, 0x20, 0x01, 0xFF}));
  // Byte-swapped 16-bit: 0x1000 stored as 00 10, 0xF000 as F0 00.
  const uint8_t swapped[] = {0x10, 0x00, 0xF0, 0x00};
  uint8_t out16[4];
  ScaleAudioFrames(swapped, out16, 2, 48, 4, 1);
  EXPECT_EQ(std::vector<uint8_t>(out16, out16 + 4), (std::vector<uint8_t>{0x0C, 0x00, 0xF4, 0x00}));
  ScaleAudioFrames(swapped, out16, 1, 0, 5, 1);
  EXPECT_EQ(std::vector<uint8_t>(out16, out16 + 4), (std::vector<uint8_t>{0, 0, 0, 0}));
}

TEST_F(AlsaOutput, OpenFailuresAreReportedAndLeaveNoHandle) {
  SetAudioDeviceName("vl_no_such_device");
  vlAudioFormat format{16, 0, 2, 2};
  EXPECT_EQ(OpenAudioDevice(0, &format, 44100), ERR_OPENAUDIO);
  EXPECT_EQ(channels_[0].pcm, nullptr);
  // A channel count of 0 fails at the fifth step, named in the message.
  SetAudioDeviceName("default");
  vlAudioFormat none{16, 0, 0, 2};
  EXPECT_EQ(OpenAudioDevice(0, &none, 44100), ERR_ALSAPCM);
  EXPECT_EQ(channels_[0].pcm, nullptr);
  char text[kErrorTextSize];
  GetErrorText(ERR_ALSAPCM, text, sizeof text);
  EXPECT_STREQ(text, "Error configuring ALSA PCM output stream! (#5)");
}

TEST_F(AlsaOutput, WithoutLibasoundNothingStarts) {
  UnloadSharedLibs();
  LoadAlsaFrom("/nonexistent/libasound.so.2");
  EXPECT_EQ(StartAudioThread(), ERR_OPENAUDIO);
  vlAudioFormat format{16, 0, 2, 2};
  EXPECT_EQ(OpenAudioDevice(0, &format, 44100), ERR_OPENAUDIO);
}

TEST_F(AlsaOutput, TheThreadStartsOnceAndStopsWhenIdle) {
  EXPECT_EQ(StartAudioThread(), 0);
  EXPECT_EQ(StartAudioThread(), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  StopAudioOutputThread();
  StopAudioOutputThread();
}

TEST(AlsaDecoder, ThePlatformHasNoDecoders) {
  EXPECT_EQ(OpenPlatformSound("tune.ogg"), ERR_OPENSOUND2);
  EXPECT_STREQ(GetErrorArgument(), "tune.ogg");
}

}  // namespace
