// The sound commands on a VM: samples made from tables, copied, inserted
// and read back; the silent mode without an audio device; and real output
// through libasound, whose "default" device a private configuration turns
// into a raw file sink, so that the bytes played can be compared.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/stat.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

#include "../../runtime/handler_test_util.h"
#include "media/sound/audio_channels.h"
#include "media/sound/protracker.h"
#include "media/sound/sound_library.h"
#include "media/sound/sound_stream.h"
#include "platform/alsa_output.h"
#include "platform/hooks.h"
#include "platform/shared_libs.h"
#include "runtime/object_data.h"
#include "runtime/runtime_options.h"
#include "sound_test_util.h"
#include "tests/support/file_size_limit.h"
#include "tests/support/testdata.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

using namespace soundtest;

namespace {

std::string gSinkDir;
// The watchdog's copy: a plain array outlives the thread at exit.
char gRawPath[512];

void LoadAlsa(bool load) {
  const char* files[VL_LIB_COUNT] = {};
  if (load) files[VL_LIB_ALSA] = "libasound.so.2";
  LoadSharedLibsFrom(files);
}

class SoundLib : public vltest::HandlerTest {
 protected:
  static void SetUpTestSuite() {
    char pattern[] = "/tmp/vl_sink_XXXXXX";
    gSinkDir = mkdtemp(pattern);
    std::ofstream(gSinkDir + "/.asoundrc") << "pcm.!default { type file slave.pcm \"null\" file \"" << gSinkDir
                                            << "/out.raw\" format \"raw\" }\n";
    setenv("HOME", gSinkDir.c_str(), 1);
    // libasound keeps the configuration it parsed first.
    dlopen("libasound.so.2", RTLD_LAZY | RTLD_NODELETE);
    // The null sink takes data as fast as it comes: a sound that never
    // ends would fill the disk. Stop the run long before.
    std::snprintf(gRawPath, sizeof gRawPath, "%s", Raw().c_str());
    std::thread([] {
      for (;;) {
        struct stat info {};
        if (stat(gRawPath, &info) == 0 && info.st_size > (64 << 20)) {
          std::fprintf(stderr, "sound sink file grew past 64 MB: stopping\n");
          unlink(gRawPath);
          std::_Exit(3);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    }).detach();
  }
  static void TearDownTestSuite() { std::system(("rm -rf '" + gSinkDir + "'").c_str()); }

  void SetUp() override {
    HandlerTest::SetUp();
    LoadAlsa(WithDevice());
    ASSERT_EQ(OpenSoundLib(L), 0);
    gSound.deviceName[0] = 0;
    vl::SetStackTop(L, 0);
    unlink(Raw().c_str());
  }
  void TearDown() override {
    FreeSoundLib(L);
    FreeRuntimeOptionHooks();
    ResetPlatformHooks();
    UnloadSharedLibs();
    HandlerTest::TearDown();
  }
  virtual bool WithDevice() const { return true; }
  static std::string Raw() { return gSinkDir + "/out.raw"; }

  // CreateSample(id, {values}, pitch, format)
  int Create(int id, const std::vector<int>& values, int pitch, int format, int count = 0) {
    return Call(CmdCreateSample, [&] {
      vl::PushNumber(L, id);
      vl::PushNewTable(L);
      for (size_t i = 0; i < values.size(); i++) {
        vl::PushNumber(L, values[i]);
        vl::RawSetTableIndex(L, 2, int(i));
      }
      vl::PushNumber(L, pitch);
      vl::PushNumber(L, format);
      vl::PushNumber(L, count);
    });
  }
  std::vector<double> SampleData(int id) {
    EXPECT_EQ(Call(CmdGetSampleData, [&] { vl::PushNumber(L, id); }), 2);
    std::vector<double> values;
    int table = vl::GetStackTop(L) - 1;
    for (int i = 0;; i++) {
      vl::RawGetTableIndex(L, table, i);
      if (vl::GetTypeAt(L, -1) != 3) break;
      values.push_back(vl::ToNumberAt(L, -1));
      vl::SetStackTop(L, -2);
    }
    return values;
  }
  // Waits (pumping nothing) until the sample's channel is gone.
  void WaitSample(int id) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (;;) {
      ASSERT_EQ(Call(CmdIsSamplePlaying, [&] { vl::PushNumber(L, id); }), 1);
      if (!vl::ToBooleanAt(L, -1)) return;
      ASSERT_LT(std::chrono::steady_clock::now(), deadline);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  void WaitMusic(int id) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (;;) {
      ASSERT_EQ(Call(CmdIsMusicPlaying, [&] { vl::PushNumber(L, id); }), 1);
      if (!vl::ToBooleanAt(L, -1)) return;
      ASSERT_LT(std::chrono::steady_clock::now(), deadline);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  std::vector<uint8_t> Pcm(int id) {
    vlSample* s = nullptr;
    EXPECT_EQ(GetSampleByID({id, nullptr}, &s), 0);
    return std::vector<uint8_t>(s->data->pcm, s->data->pcm + s->bytes);
  }
};

class SilentSoundLib : public SoundLib {
  bool WithDevice() const override { return false; }
};

std::vector<int> Wave16(int frames, int channels) {
  std::vector<int> v;
  for (int i = 0; i < frames * channels; i++) v.push_back((i * 2711) % 60000 - 30000);
  return v;
}

TEST_F(SoundLib, CreateSampleChecksItsValuesAndReadsThemBack) {
  ASSERT_EQ(Create(1, {-128, 0, 127, 5}, 8000, 0), 0);
  EXPECT_EQ(SampleData(1), (std::vector<double>{-128, 0, 127, 5}));
  // Stored unsigned.
  EXPECT_EQ(Pcm(1), (std::vector<uint8_t>{0, 128, 255, 133}));
  EXPECT_EQ(Create(2, {1, 2, 3, 4, 5}, 8000, 2), ERR_WRONGUSAGE);  // odd for stereo
  EXPECT_EQ(Create(2, {1, 200}, 8000, 0), 1447);
  EXPECT_EQ(Create(2, {1, -40000}, 8000, 1), 1447);
  EXPECT_EQ(Create(2, {1, 2}, 255, 0), 1479);
  EXPECT_EQ(Create(2, {1, 2}, 8000, 4), ERR_WRONGUSAGE);
  EXPECT_EQ(Create(2, {}, 8000, 0), ERR_WRONGUSAGE);
  // A count reads that many frames; missing entries are silence.
  ASSERT_EQ(Create(3, {1000, -1000}, 8000, 3, 3), 0);
  EXPECT_EQ(SampleData(3), (std::vector<double>{1000, -1000, 0, 0, 0, 0}));
  EXPECT_EQ(Call(CmdFreeSample, [&] { vl::PushNumber(L, 3); }), 0);
  EXPECT_EQ(Call(CmdFreeSample, [&] { vl::PushNumber(L, 3); }), ERR_FINDSAMPLE);
}

TEST_F(SoundLib, AutomaticIdsCopiesAndInsertions) {
  ASSERT_EQ(Call(CmdCreateSample, [&] {
              vl::PushNil(L);
              vl::PushNewTable(L);
              for (int i = 0; i < 4; i++) {
                vl::PushNumber(L, i * 10);
                vl::RawSetTableIndex(L, 2, i);
              }
              vl::PushNumber(L, 8000);
            }),
            1);
  void* handle = vl::ToUserdataAt(L, -1);
  vlSample* sample = nullptr;
  ASSERT_EQ(GetSampleByID({0, handle}, &sample), 0);
  EXPECT_EQ(sample, handle);
  ASSERT_EQ(Call(CmdCopySample, [&] {
              vl::PushPointer(L, handle);
              vl::PushNumber(L, 7);
            }),
            0);
  EXPECT_EQ(SampleData(7), (std::vector<double>{0, 10, 20, 30}));
  EXPECT_EQ(Call(CmdCopySample, [&] {
              vl::PushNumber(L, 7);
              vl::PushNumber(L, 7);
            }),
            ERR_WRONGUSAGE);
  ASSERT_EQ(Create(8, {-5, 5}, 8000, 0), 0);
  // Into the middle, then past the end (appended).
  ASSERT_EQ(Call(CmdInsertSample, [&] {
              vl::PushNumber(L, 7);
              vl::PushNumber(L, 8);
              vl::PushNumber(L, 1);
            }),
            0);
  EXPECT_EQ(SampleData(7), (std::vector<double>{0, -5, 5, 10, 20, 30}));
  ASSERT_EQ(Call(CmdInsertSample, [&] {
              vl::PushNumber(L, 7);
              vl::PushNumber(L, 8);
              vl::PushNumber(L, 99);
              vl::PushNumber(L, 1);
            }),
            0);
  EXPECT_EQ(SampleData(7), (std::vector<double>{0, -5, 5, 10, 20, 30, -5}));
  // A 16-bit source into an 8-bit destination keeps the high byte.
  ASSERT_EQ(Create(9, {-32768, 32767, 256, -1}, 8000, 1), 0);
  ASSERT_EQ(Call(CmdInsertSample, [&] {
              vl::PushNumber(L, 8);
              vl::PushNumber(L, 9);
              vl::PushNumber(L, 0);
            }),
            0);
  EXPECT_EQ(SampleData(8), (std::vector<double>{-128, 127, 1, 0, -5, 5}));
}

TEST_F(SoundLib, SaveSampleWritesAWavThatPythonReadsBack) {
  TempDir dir;
  ASSERT_EQ(Create(1, Wave16(50, 2), 22050, 3), 0);
  std::string file = dir.File("s.wav");
  ASSERT_EQ(Call(CmdSaveSample, [&] {
              vl::PushNumber(L, 1);
              vl::PushString(L, file.c_str());
            }),
            0);
  const char* check = R"PY(
import sys, wave, struct
w = wave.open(sys.argv[1])
assert (w.getnchannels(), w.getsampwidth(), w.getframerate(), w.getnframes()) == (2, 2, 22050, 50)
vals = struct.unpack('<100h', w.readframes(50))
assert list(vals) == [(i * 2711) % 60000 - 30000 for i in range(100)], vals[:4]
)PY";
  EXPECT_EQ(RunPython(dir, check, "'" + file + "'"), 0);
  EXPECT_EQ(Call(CmdSaveSample, [&] {
              vl::PushNumber(L, 1);
              vl::PushString(L, file.c_str());
              vl::PushNumber(L, 7);
            }),
            1490);
  // Against a full disk (a file size limit) the save fails and the file
  // written before is left whole.
  std::vector<uint8_t> before = ReadBytes(file);
  ASSERT_EQ(Create(2, Wave16(50000, 2), 22050, 3), 0);
  int error;
  {
    vltest::FileSizeLimit full(50000);
    error = Call(CmdSaveSample, [&] {
      vl::PushNumber(L, 2);
      vl::PushString(L, file.c_str());
    });
  }
  EXPECT_EQ(error, 1005);
  EXPECT_EQ(ReadBytes(file), before);
  EXPECT_EQ(soundtest::Run("ls -A '" + dir.Path() + "' | grep -v '^script.py$' | wc -l | grep -qx 1"), 0)
      << "a partial file was left";
}

TEST_F(SilentSoundLib, WithoutADeviceCommandsSucceedSilently) {
  ASSERT_EQ(Create(1, {1, 2, 3}, 8000, 0), 0);
  EXPECT_EQ(Call(CmdIsSound), 1);
  EXPECT_FALSE(vl::ToBooleanAt(L, 1));
  EXPECT_EQ(Call(CmdPlaySample, [&] { vl::PushNumber(L, 1); }), 0);
  EXPECT_EQ(gSound.noSound, 1u);
  vl::SetStackTop(L, 0);
  EXPECT_EQ(GetChannelCount(), 0);
  EXPECT_EQ(Call(CmdIsSamplePlaying, [&] { vl::PushNumber(L, 1); }), 1);
  EXPECT_FALSE(vl::ToBooleanAt(L, -1));
  EXPECT_EQ(Call(CmdWaitSampleEnd, [&] { vl::PushNumber(L, 1); }), 0);
  // SetVolume before output has started changes nothing.
  EXPECT_EQ(Call(CmdSetVolume, [&] {
              vl::PushNumber(L, 1);
              vl::PushNumber(L, 10);
            }),
            0);
  vlSample* s = nullptr;
  ASSERT_EQ(GetSampleByID({1, nullptr}, &s), 0);
  EXPECT_EQ(s->volume, 64u);
  TempDir dir;
  std::string wav = dir.File("a.wav");
  ASSERT_EQ(soundtest::Run("sox -n -r 8000 -b 16 -c 1 '" + wav + "' synth 0.05 sine 440"), 0);
  EXPECT_EQ(Call(CmdLoadSample, [&] {
              vl::PushNumber(L, 2);
              vl::PushString(L, wav.c_str());
            }),
            0);
  // Loaded while silent all the same, so that later commands find it.
  ASSERT_EQ(GetSampleByID({2, nullptr}, &s), 0);
  EXPECT_EQ(s->pitch, 8000u);
  EXPECT_EQ(Call(CmdStopSample, [&] { vl::PushNumber(L, 2); }), 0);
  EXPECT_EQ(Call(CmdStopSample, [&] { vl::PushNumber(L, 77); }), 0) << "nothing to stop without output";
  EXPECT_EQ(Call(CmdFreeSample, [&] { vl::PushNumber(L, 2); }), 0);
}

TEST_F(SoundLib, PlayedSampleReachesTheDeviceByteForByteWithItsEvents) {
  SetRuntimeOption(L, 12, 1u, 13, 1u, 0u);
  ASSERT_EQ(Create(1, Wave16(600, 2), 8000, 3), 0);
  ASSERT_EQ(Call(CmdPlaySample, [&] {
              vl::PushNumber(L, 1);
              vl::PushNumber(L, 2);
            }),
            0);
  WaitSample(1);
  std::vector<uint8_t> pcm = Pcm(1);
  std::vector<uint8_t> expected = pcm;
  expected.insert(expected.end(), pcm.begin(), pcm.end());
  EXPECT_EQ(ReadBytes(Raw()), expected);
  std::vector<std::pair<int, int>> events;
  int kind;
  vlObjectId id;
  int32_t position, count;
  while (PopAudioEvent(&kind, &id, &position, &count)) {
    events.emplace_back(kind, count);
    EXPECT_EQ(id.number, 1);
  }
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.front(), std::make_pair(6, 1));
  EXPECT_EQ(events.back(), std::make_pair(5, 2));
}

TEST_F(SoundLib, TimedPlayEndsWithAPartialPass) {
  // 800 frames at 8000 Hz are 100 ms: 250 ms are two passes and 400 frames.
  ASSERT_EQ(Create(1, Wave16(800, 1), 8000, 1), 0);
  ASSERT_EQ(Call(CmdPlaySample, [&] {
              vl::PushNumber(L, 1);
              vl::PushNewTable(L);
              vl::PushString(L, "time");
              vl::PushNumber(L, 250);
              vl::RawSetTableValue(L, -3);
            }),
            0);
  WaitSample(1);
  std::vector<uint8_t> pcm = Pcm(1);
  std::vector<uint8_t> expected = pcm;
  expected.insert(expected.end(), pcm.begin(), pcm.end());
  expected.insert(expected.end(), pcm.begin(), pcm.begin() + 400 * 2);
  EXPECT_EQ(ReadBytes(Raw()), expected);
}

TEST_F(SoundLib, ChannelsAreClaimedTakenOverAndReported) {
  // Endless samples: the plain null device, not the file.
  std::snprintf(gSound.deviceName, sizeof gSound.deviceName, "null");
  ASSERT_EQ(Create(1, Wave16(8000, 1), 8000, 1), 0);
  for (int i = 0; i < 8; i++) {
    ASSERT_EQ(Call(CmdPlaySample, [&] {
                vl::PushNumber(L, 1);
                vl::PushNumber(L, 0);  // until stopped
              }),
              0);
  }
  EXPECT_EQ(Call(CmdHaveFreeChannel), 1);
  EXPECT_EQ(vl::ToNumberAt(L, 1), 0);
  EXPECT_EQ(Call(CmdPlaySample, [&] { vl::PushNumber(L, 1); }), 1289);
  EXPECT_EQ(Call(CmdPlaySample, [&] {
              for (int i = 0; i < 9; i++) vl::PushNumber(L, 1);  // five pairs
            }),
            1055);
  EXPECT_EQ(Call(CmdIsChannelPlaying, [&] { vl::PushNumber(L, 3); }), 3);
  EXPECT_EQ(vl::ToNumberAt(L, -2), 2);
  EXPECT_EQ(vl::ToNumberAt(L, -1), 1);
  EXPECT_EQ(Call(CmdIsChannelPlaying, [&] { vl::PushNumber(L, 9); }), 1576);
  // Channel 3 taken over by another sample.
  ASSERT_EQ(Create(2, {1, 2, 3}, 8000, 1), 0);
  ASSERT_EQ(Call(CmdPlaySample, [&] {
              vl::PushNumber(L, 2);
              vl::PushNewTable(L);
              vl::PushString(L, "channel");
              vl::PushNumber(L, 3);
              vl::RawSetTableValue(L, -3);
              vl::PushString(L, "times");
              vl::PushNumber(L, 0);
              vl::RawSetTableValue(L, -3);
            }),
            0);
  EXPECT_EQ(Call(CmdIsChannelPlaying, [&] { vl::PushNumber(L, 3); }), 3);
  EXPECT_EQ(vl::ToNumberAt(L, -1), 2);
  EXPECT_EQ(Call(CmdStopChannel, [&] { vl::PushNumber(L, 5); }), 0);
  EXPECT_EQ(Call(CmdHaveFreeChannel), 1);
  EXPECT_EQ(vl::ToNumberAt(L, 1), 5);
  EXPECT_EQ(Call(CmdGetChannels), 1);
  EXPECT_EQ(vl::ToNumberAt(L, 1), 8);
  EXPECT_EQ(Call(CmdStopSample, [&] { vl::PushNumber(L, 1); }), 0);
  EXPECT_EQ(Call(CmdHaveFreeChannel), 1);
  EXPECT_EQ(vl::ToNumberAt(L, 1), 1);
  // Freeing a playing sample ends its channel first.
  EXPECT_EQ(Call(CmdFreeSample, [&] { vl::PushNumber(L, 2); }), 0);
  EXPECT_EQ(Call(CmdIsChannelPlaying, [&] { vl::PushNumber(L, 3); }), 1);
}

TEST_F(SoundLib, StreamedMusicPlaysItsPassesThroughTheFeeder) {
  TempDir dir;
  std::string wav = dir.File("m.wav");
  // 2000 frames at 4000 Hz, 8-bit: five passes span three one-second buffers.
  ASSERT_EQ(soundtest::Run("sox -n -r 4000 -b 8 -c 1 -e unsigned-integer '" + wav + "' synth 0.5 sine 300"), 0);
  ASSERT_EQ(Call(CmdOpenMusic, [&] {
              vl::PushNumber(L, 1);
              vl::PushString(L, wav.c_str());
            }),
            0);
  ASSERT_EQ(Call(CmdIsMusic, [&] { vl::PushString(L, wav.c_str()); }), 2);
  EXPECT_STREQ(vl::ToStringAt(L, -1), "RIFF WAVE");
  ASSERT_EQ(Call(CmdPlayMusic, [&] {
              vl::PushNumber(L, 1);
              vl::PushNumber(L, 5);
            }),
            0);
  EXPECT_EQ(Call(CmdPlayMusic, [&] { vl::PushNumber(L, 1); }), 1568);
  WaitMusic(1);
  std::vector<uint8_t> raw = ReadBytes(dir.File("ref.raw"));
  ASSERT_EQ(soundtest::Run("sox '" + wav + "' -t raw -e unsigned-integer -b 8 '" + dir.File("ref.raw") + "'"), 0);
  raw = ReadBytes(dir.File("ref.raw"));
  ASSERT_EQ(raw.size(), 2000u);
  std::vector<uint8_t> expected;
  for (int i = 0; i < 5; i++) expected.insert(expected.end(), raw.begin(), raw.end());
  EXPECT_EQ(ReadBytes(Raw()), expected);
  // Stopped at its end: it can play again.
  vlMusic* music = nullptr;
  ASSERT_EQ(GetMusicByID({1, nullptr}, &music), 0);
  EXPECT_EQ(music->playing, uint32_t(VL_MUSIC_STOPPED));
  EXPECT_EQ(Call(CmdSeekMusic, [&] {
              vl::PushNumber(L, 1);
              vl::PushNumber(L, 500);
            }),
            1233);
  EXPECT_EQ(Call(CmdResumeMusic, [&] { vl::PushNumber(L, 1); }), 1264);
  EXPECT_EQ(Call(CmdCloseMusic, [&] { vl::PushNumber(L, 1); }), 0);
  EXPECT_EQ(Call(CmdCloseMusic, [&] { vl::PushNumber(L, 1); }), ERR_FINDMUSIC);
}

TEST_F(SoundLib, ModuleMusicRendersTheReplayerOutputAndReportsPositions) {
  VL_REQUIRE_TESTDATA();
  std::string file = TestData("mod/blue_damage.mod");
  ASSERT_EQ(Call(CmdOpenMusic, [&] {
              vl::PushNumber(L, 4);
              vl::PushString(L, file.c_str());
            }),
            0);
  EXPECT_EQ(Call(CmdGetSongPosition), 1);
  EXPECT_EQ(vl::ToNumberAt(L, 1), -1);
  ASSERT_EQ(Call(CmdPlayMusic, [&] { vl::PushNumber(L, 4); }), 0);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (ReadBytes(Raw()).size() < 48000 * 4 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(Call(CmdGetPatternPosition), 1);
  EXPECT_GE(vl::ToNumberAt(L, 1), 0);
  EXPECT_EQ(Call(CmdPauseMusic), 0);
  std::vector<uint8_t> played = ReadBytes(Raw());
  ASSERT_GE(played.size(), 48000u * 4);
  // The same module rendered here, from the top.
  std::vector<uint8_t> image = ReadBytes(file);
  size_t size = ParseProtrackerModule(nullptr, image.data(), image.size(), 48000);
  std::vector<uint8_t> block(size);
  auto* state = reinterpret_cast<vlModuleState*>(block.data());
  ParseProtrackerModule(state, image.data(), image.size(), 48000);
  std::vector<int16_t> pcm(48000 * 2);
  RenderModuleAudio(state, pcm.data(), 48000);
  EXPECT_EQ(std::memcmp(played.data(), pcm.data(), 48000 * 4), 0);
  EXPECT_EQ(Call(CmdPlayMusic, [&] { vl::PushNumber(L, 4); }), 1567);
  EXPECT_EQ(Call(CmdResumeMusic), 0);
  EXPECT_EQ(Call(CmdStopMusic), 0);
  vlMusic* music = nullptr;
  ASSERT_EQ(GetMusicByID({4, nullptr}, &music), 0);
  EXPECT_EQ(static_cast<vlModuleState*>(music->source)->position, 0);  // re-parsed
}

}  // namespace
