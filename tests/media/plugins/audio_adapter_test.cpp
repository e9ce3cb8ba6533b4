// Audio-adapter plug-ins: the adapter installs itself through the service
// table when it is required, output then goes to it instead of the sound
// system, and the frames it pulls through each channel's fill callback are
// the samples', the streamed music's and the video's own, with their loop
// and end events, attribute changes and channel releases.
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "media/sound/audio_adapter.h"
#include "media/sound/audio_channels.h"
#include "media/sound/protracker.h"
#include "media/sound/sound_library.h"
#include "media/sound/sound_plugin.h"
#include "media/video/video_player.h"
#include "media_plugin_util.h"
#include "platform/alsa_output.h"
#include "runtime/os.h"
#include "player/startup.h"
#include "tests/support/rows_module.h"
#include "tests/support/testdata.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

using PullFn = int (*)(int, void*, uint32_t);
using ChannelFn = int (*)(int, uint32_t*, uint32_t*, uint32_t*, uint32_t*);
using ValueFn = int (*)(long, int, unsigned, int);

class AudioAdapter : public mediatest::PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    adapter = Load("testaudio");
    ASSERT_NE(adapter, nullptr);
    pull = Symbol<PullFn>(adapter, "TestAudioPull");
    channel = Symbol<ChannelFn>(adapter, "TestAudioChannel");
    ASSERT_EQ(OpenSoundLib(L), 0);
    vl::SetStackTop(L, 0);
  }
  void TearDown() override {
    FreeSoundLib(L);
    SetAudioEventWanted(12, 0);
    SetAudioEventWanted(13, 0);
    SetAudioEventWanted(18, 0);
    PluginTest::TearDown();
  }

  // What the start-up does for a plug-in the script requires.
  int Require(const char* option) {
    vlTagItem tags[] = {{VL_REQUIRE_OPTION, reinterpret_cast<uintptr_t>(option)}, {0, 0}};
    vlPluginStartup = 1;
    int rc = adapter->RequirePlugin(L, 6, 0, 0, tags);
    vlPluginStartup = 0;
    return rc;
  }

  // CreateSample(id, {values}, pitch, format)
  int Create(int id, const std::vector<int>& values, int pitch, int format) {
    return Call(CmdCreateSample, [&] {
      vl::PushNumber(L, id);
      vl::PushNewTable(L);
      for (size_t i = 0; i < values.size(); i++) {
        vl::PushNumber(L, values[i]);
        vl::RawSetTableIndex(L, 2, int(i));
      }
      vl::PushNumber(L, pitch);
      vl::PushNumber(L, format);
    });
  }
  bool Playing(int id) {
    EXPECT_EQ(Call(CmdIsSamplePlaying, [&] { vl::PushNumber(L, id); }), 1);
    return vl::ToBooleanAt(L, -1);
  }
  std::vector<uint8_t> Pcm(int id) {
    vlSample* s = nullptr;
    EXPECT_EQ(GetSampleByID({id, nullptr}, &s), 0);
    return std::vector<uint8_t>(s->data->pcm, s->data->pcm + s->bytes);
  }
  // Pulls channel index in steps of step frames until it delivers less.
  std::vector<uint8_t> Drain(int index, uint32_t frameBytes, uint32_t step, int limit = 1000) {
    std::vector<uint8_t> all, buffer(size_t(step) * frameBytes);
    for (int i = 0; i < limit; i++) {
      int got = pull(index, buffer.data(), step);
      if (got < 0) break;
      all.insert(all.end(), buffer.begin(), buffer.begin() + size_t(got) * frameBytes);
      if (uint32_t(got) < step) break;
    }
    return all;
  }

  // Pulls a streamed music on channel index in steps of 500 frames until
  // it delivers less, giving the worker time to refill the half played
  // before.
  std::vector<uint8_t> DrainMusic(uint32_t frameBytes) {
    std::vector<uint8_t> got, buffer(500 * frameBytes);
    for (int i = 0; i < 100; i++) {
      for (int wait = 0; wait < 200 && !(gChannels[0].musicReady[0] && gChannels[0].musicReady[1]); wait++) {
        if (gChannels[0].lastHalf) break;
        SleepMillis(5);
      }
      const int n = pull(0, buffer.data(), 500);
      if (n < 0) break;
      got.insert(got.end(), buffer.begin(), buffer.begin() + size_t(n) * frameBytes);
      if (n < 500) break;
    }
    return got;
  }

  // The music's end was posted; a second later the music is stopped and
  // its channel (the first) freed.
  void ExpectMusicEnded(int music) {
    int kind;
    vlObjectId id;
    int32_t position, count;
    ASSERT_EQ(PopAudioEvent(&kind, &id, &position, &count), 1);
    EXPECT_EQ(kind, 7);
    EXPECT_EQ(id.number, music);
    SleepMillis(1100);
    StopExpiredChannels();
    ASSERT_EQ(Call(CmdIsMusicPlaying, [&] { vl::PushNumber(L, music); }), 1);
    EXPECT_FALSE(vl::ToBooleanAt(L, -1));
    uint32_t format = 0, rate = 0, volume = 0, panning = 0;
    EXPECT_EQ(channel(0, &format, &rate, &volume, &panning), 0);
  }

  vlPluginInfo* adapter = nullptr;
  PullFn pull = nullptr;
  ChannelFn channel = nullptr;
};

TEST_F(AudioAdapter, InstallsOnlyWhileThePlayerStarts) {
  vlTagItem none[] = {{0, 0}};
  EXPECT_EQ(adapter->RequirePlugin(L, 6, 0, 0, none), ERR_SETADAPTER) << "after start-up";
  EXPECT_EQ(GetAudioAdapter(), nullptr);
  EXPECT_EQ(Require("0 0 1024"), ERR_SETADAPTER) << "no channels";
  EXPECT_EQ(GetAudioAdapter(), nullptr);
  EXPECT_EQ(Require("1 3 1024"), 0);
  EXPECT_EQ(GetAudioAdapter(), adapter);
  EXPECT_EQ(adapter->audioChannels, 3u);
  EXPECT_EQ(adapter->audioBufferSize, 1024u);
  // Locked: not even the same adapter installs again; an update may
  // change the buffer size only.
  EXPECT_EQ(Require("0 5 512"), ERR_SETADAPTER);
  EXPECT_EQ(Require("2 5 512"), 0);
  EXPECT_EQ(adapter->audioChannels, 3u);
  EXPECT_EQ(adapter->audioBufferSize, 512u);
  EXPECT_EQ(Call(CmdGetChannels), 1);
  EXPECT_EQ(vl::ToNumberAt(L, 1), 0) << "output starts lazily";
  EXPECT_EQ(Call(CmdHaveFreeChannel), 1);
  EXPECT_EQ(vl::ToNumberAt(L, 1), 1);
  EXPECT_EQ(Call(CmdGetChannels), 1);
  EXPECT_EQ(vl::ToNumberAt(L, 1), 3);
  EXPECT_NE(Log().find("openaudio"), std::string::npos);
}

TEST_F(AudioAdapter, SamplesArePulledPassByPassWithTheirEvents) {
  ASSERT_EQ(Require("0 4 2048"), 0);
  SetAudioEventWanted(12, 1);
  SetAudioEventWanted(13, 1);
  std::vector<int> values;
  for (int i = 0; i < 2 * 700; i++) values.push_back((i * 2711) % 60000 - 30000);
  ASSERT_EQ(Create(1, values, 7000, 3), 0);  // STEREO16
  ASSERT_EQ(Call(CmdPlaySample, [&] {
              vl::PushNumber(L, 1);
              vl::PushNumber(L, 2);
            }),
            0);
  uint32_t format = 0, rate = 0, volume = 0, panning = 0;
  ASSERT_EQ(channel(0, &format, &rate, &volume, &panning), 1);
  EXPECT_EQ(format, 5u);
  EXPECT_EQ(rate, 7000u);
  EXPECT_EQ(volume, 64u);
  std::vector<uint8_t> pcm = Pcm(1), expected = pcm;
  expected.insert(expected.end(), pcm.begin(), pcm.end());
  EXPECT_EQ(Drain(0, 4, 256), expected);
  std::vector<std::pair<int, int>> events;
  int kind;
  vlObjectId id;
  int32_t position, count;
  while (PopAudioEvent(&kind, &id, &position, &count)) {
    events.emplace_back(kind, count);
    EXPECT_EQ(id.number, 1);
  }
  const std::vector<std::pair<int, int>> want = {{6, 1}, {6, 2}, {5, 2}};
  EXPECT_EQ(events, want);
  // The ended channel stays taken for a second, then the next claim frees it.
  EXPECT_TRUE(Playing(1));
  SleepMillis(1100);
  EXPECT_EQ(Call(CmdHaveFreeChannel), 1);
  EXPECT_EQ(vl::ToNumberAt(L, 1), 1);
  EXPECT_FALSE(Playing(1));
  EXPECT_NE(Log().find("free 0"), std::string::npos);
}

TEST_F(AudioAdapter, TimedPlaysAttributesAndStops) {
  ASSERT_EQ(Require("0 4 2048"), 0);
  // 8-bit data is kept unsigned: the adapter gets format 0.
  ASSERT_EQ(Create(1, {-128, -1, 0, 127}, 1000, 0), 0);  // MONO8, 4 ms a pass
  // 10 ms: two passes and 2 frames.
  ASSERT_EQ(Call(CmdPlaySample, [&] {
              vl::PushNumber(L, 1);
              vl::PushNewTable(L);
              vl::PushString(L, "time");
              vl::PushNumber(L, 10);
              vl::RawSetTableValue(L, -3);
              vl::PushString(L, "panning");
              vl::PushNumber(L, 40);
              vl::RawSetTableValue(L, -3);
            }),
            0);
  uint32_t format = 0, rate = 0, volume = 0, panning = 0;
  ASSERT_EQ(channel(0, &format, &rate, &volume, &panning), 1);
  EXPECT_EQ(format, 0u);
  EXPECT_EQ(panning, 40u) << "the play's panning reaches the adapter";
  const std::vector<uint8_t> want = {0, 127, 128, 255, 0, 127, 128, 255, 0, 127};
  EXPECT_EQ(Drain(0, 1, 3), want);

  // An endless play: attributes reach the adapter's channel, a stop frees it.
  ASSERT_EQ(Call(CmdPlaySample, [&] {
              vl::PushNumber(L, 1);
              vl::PushNewTable(L);
              vl::PushString(L, "times");
              vl::PushNumber(L, 0);
              vl::RawSetTableValue(L, -3);
              vl::PushString(L, "channel");
              vl::PushNumber(L, 3);
              vl::RawSetTableValue(L, -3);
            }),
            0);
  ASSERT_EQ(channel(1, &format, &rate, &volume, &panning), 1);
  ASSERT_EQ(Call(CmdSetVolume, [&] {
              vl::PushNumber(L, 1);
              vl::PushString(L, "50%");
            }),
            0);
  ASSERT_EQ(Call(CmdSetPanning, [&] {
              vl::PushNumber(L, 1);
              vl::PushNumber(L, 300);
            }),
            0);
  ASSERT_EQ(channel(1, &format, &rate, &volume, &panning), 1);
  EXPECT_EQ(volume, 32u);
  EXPECT_EQ(panning, 255u);
  std::vector<uint8_t> buffer(4000);
  EXPECT_EQ(pull(1, buffer.data(), 4000), 4000) << "times 0 repeats without end";
  EXPECT_EQ(buffer[3999], 255);
  EXPECT_EQ(Call(CmdIsChannelPlaying, [&] { vl::PushNumber(L, 3); }), 3);
  ASSERT_EQ(Call(CmdStopSample, [&] { vl::PushNumber(L, 1); }), 0);
  EXPECT_EQ(channel(1, &format, &rate, &volume, &panning), 0) << "the adapter's channel was freed";
  EXPECT_EQ(Call(CmdIsChannelPlaying, [&] { vl::PushNumber(L, 3); }), 1);
}

TEST_F(AudioAdapter, StreamedMusicComesFromBothHalvesToItsEnd) {
  ASSERT_EQ(Require("0 4 2048"), 0);
  vlPluginInfo* reader = Load("testsound");
  ASSERT_NE(reader, nullptr);
  auto value = Symbol<ValueFn>(reader, "TestSoundValue");
  SetAudioEventWanted(18, 1);
  // 2.5 seconds of 16-bit mono at 4000 Hz: three halves, the last partly;
  // served little-endian (flags 2), then big-endian (3), and both reach
  // the adapter in this machine's order.
  for (int flags : {2, 3}) {
    SCOPED_TRACE(flags);
    const int music = flags;
    const std::string file = File("m.tsnd", "TSND 4000 1 16 10000 10000 " + std::to_string(flags) + " 1");
    ASSERT_EQ(Call(CmdOpenMusic, [&] {
                vl::PushNumber(L, music);
                vl::PushString(L, file.c_str());
              }),
              0);
    ASSERT_EQ(Call(CmdPlayMusic, [&] { vl::PushNumber(L, music); }), 0);
    uint32_t format = 0, rate = 0, volume = 0, panning = 0;
    ASSERT_EQ(channel(0, &format, &rate, &volume, &panning), 1);
    EXPECT_EQ(format, 4u);
    EXPECT_EQ(rate, 4000u);
    const std::vector<uint8_t> got = DrainMusic(2);
    ASSERT_EQ(got.size(), 20000u);
    for (long i = 0; i < 10000; i++) {
      int16_t v;
      std::memcpy(&v, &got[i * 2], 2);
      ASSERT_EQ(v, value(i, 0, 0, 16)) << i;
    }
    ExpectMusicEnded(music);
    EXPECT_EQ(Call(CmdCloseMusic, [&] { vl::PushNumber(L, music); }), 0);
  }
}

// A big-endian 16-bit file (IFF 16SV) played as a sample and streamed as
// music: the adapter gets the values in this machine's order, on the
// music's worker-filled halves too. The values are sox's decoding of the
// AIFF whose big-endian sound data the 16SV body carries.
TEST_F(AudioAdapter, BigEndianFilesReachTheAdapterInThisMachinesOrder) {
  ASSERT_EQ(Require("0 4 2048"), 0);
  SetAudioEventWanted(18, 1);
  // 2.5 s of stereo at 4000 Hz, a different tone on each side.
  const std::string aiff = dir + "/x.aiff", raw = dir + "/x.raw";
  ASSERT_EQ(std::system(("sox -n -r 4000 -c 2 -b 16 -e signed -B '" + aiff + "' synth 2.5 sine 440 sine 1250 vol 0.9")
                            .c_str()),
            0);
  ASSERT_EQ(std::system(("sox '" + aiff + "' -t raw -e signed -b 16 -L '" + raw + "'").c_str()), 0);
  auto slurp = [](const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), {});
  };
  const std::vector<uint8_t> reference = slurp(raw), form = slurp(aiff);
  ASSERT_EQ(reference.size(), 10000u * 4);
  std::vector<int16_t> want(reference.size() / 2);
  for (size_t i = 0; i < want.size(); i++) want[i] = int16_t(reference[i * 2] | reference[i * 2 + 1] << 8);
  // The AIFF's sound data, big-endian and interleaved.
  auto be32 = [](const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; };
  std::vector<uint8_t> pcm;
  for (size_t at = 12; at + 8 <= form.size();) {
    const uint32_t size = be32(&form[at + 4]);
    if (std::memcmp(&form[at], "SSND", 4) == 0 && size >= 8 && at + 8 + size <= form.size()) {
      const size_t from = at + 16 + be32(&form[at + 8]);
      pcm.assign(form.begin() + long(from), form.begin() + long(at + 8 + size));
      break;
    }
    at += 8 + size + (size & 1);
  }
  ASSERT_EQ(pcm.size(), reference.size());
  // 16SV keeps all left values, then all right ones.
  std::string body;
  for (int side = 0; side < 2; side++)
    for (size_t f = 0; f < 10000; f++) body.append(reinterpret_cast<const char*>(&pcm[f * 4 + side * 2]), 2);
  auto text32 = [](uint32_t v) { return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; };
  const std::string vhdr = text32(10000) + text32(0) + text32(0) + std::string{char(4000 >> 8), char(4000 & 255)} +
                           std::string{1, 0} + text32(0x10000);
  const std::string chunks =
      "16SVVHDR" + text32(20) + vhdr + "CHAN" + text32(4) + text32(6) + "BODY" + text32(uint32_t(body.size())) + body;
  const std::string sv = dir + "/x.16sv";
  std::ofstream(sv, std::ios::binary) << "FORM" + text32(uint32_t(chunks.size())) + chunks;
  auto values = [](const std::vector<uint8_t>& bytes) {
    std::vector<int16_t> out(bytes.size() / 2);
    std::memcpy(out.data(), bytes.data(), out.size() * 2);
    return out;
  };

  ASSERT_EQ(Call(CmdLoadSample, [&] { vl::PushNumber(L, 1), vl::PushString(L, sv.c_str()); }), 0);
  ASSERT_EQ(Call(CmdPlaySample, [&] { vl::PushNumber(L, 1); }), 0);
  uint32_t format = 0, rate = 0, volume = 0, panning = 0;
  ASSERT_EQ(channel(0, &format, &rate, &volume, &panning), 1);
  EXPECT_EQ(format, 5u);
  EXPECT_EQ(rate, 4000u);
  EXPECT_TRUE(values(Drain(0, 4, 700)) == want) << "the sample";
  ASSERT_EQ(Call(CmdStopSample, [&] { vl::PushNumber(L, 1); }), 0);

  ASSERT_EQ(Call(CmdOpenMusic, [&] { vl::PushNumber(L, 2), vl::PushString(L, sv.c_str()); }), 0);
  ASSERT_EQ(Call(CmdPlayMusic, [&] { vl::PushNumber(L, 2); }), 0);
  ASSERT_EQ(channel(0, &format, &rate, &volume, &panning), 1);
  EXPECT_EQ(format, 5u);
  const std::vector<int16_t> music = values(DrainMusic(4));
  ASSERT_EQ(music.size(), want.size());
  for (size_t i = 0; i < want.size(); i++) ASSERT_EQ(music[i], want[i]) << "the music, value " << i;
  ExpectMusicEnded(2);
}

TEST_F(AudioAdapter, VideoSoundReachesTheAdapterInOrder) {
  ASSERT_EQ(Require("0 4 2048"), 0);
  vlPluginInfo* decoder = Load("testvideo");
  ASSERT_NE(decoder, nullptr);
  auto sound = Symbol<int16_t (*)(long, int)>(decoder, "TestVideoSound");
  const std::string file = File("s.tvid", "TVID 8 8 20 10 8000 1 1");
  vlVideoHandle* handle = nullptr;
  int32_t width, height;
  uint32_t length, seekable;
  uintptr_t loader;
  ASSERT_EQ(OpenVideoPlayer(file.c_str(), "", "", &handle, &width, &height, &length, &seekable, &loader), 0);
  ASSERT_EQ(StartVideoPlayer(L, handle, {1, nullptr}, nullptr, 0, 0, 8, 8, 40, 0, -1, nullptr), 0);
  vlVideoPlayer* p = handle->player;
  // The adapter's channel comes with the first sound queued.
  uint32_t format = 0, rate = 0, volume = 0, panning = 0;
  for (int i = 0; i < 200 && !channel(0, &format, &rate, &volume, &panning); i++) SleepMillis(5);
  ASSERT_EQ(channel(0, &format, &rate, &volume, &panning), 1);
  EXPECT_EQ(format, 4u);
  EXPECT_EQ(rate, 8000u);
  EXPECT_EQ(volume, 40u);
  // Pulled only while enough is queued, so no silence comes between.
  std::vector<int16_t> got, buffer(200);
  for (int i = 0; i < 2000 && got.size() < 1600; i++) {
    LockMutex(p->ring.mutex);
    const uint32_t queued = p->ring.bytes;
    UnlockMutex(p->ring.mutex);
    if (queued < 400) {
      SleepMillis(2);
      continue;
    }
    ASSERT_EQ(pull(0, buffer.data(), 200), 200);
    got.insert(got.end(), buffer.begin(), buffer.end());
  }
  ASSERT_EQ(got.size(), 1600u);
  for (long i = 0; i < 1600; i++) ASSERT_EQ(got[i], sound(i, 0)) << i;
  StopVideoPlayer(handle, nullptr, 1);
  EXPECT_EQ(channel(0, &format, &rate, &volume, &panning), 0) << "the stop gave the channel back";
  FreeVideoPlayer(handle);
}

TEST_F(AudioAdapter, ModulesAreRenderedAsTheAdapterPulls) {
  VL_REQUIRE_TESTDATA();
  ASSERT_EQ(Require("0 4 2048"), 0);
  const std::string file = std::string(std::getenv("VL_TESTDATA")) + "/mod/blue_damage.mod";
  ASSERT_EQ(Call(CmdOpenMusic, [&] {
              vl::PushNumber(L, 4);
              vl::PushString(L, file.c_str());
            }),
            0);
  ASSERT_EQ(Call(CmdPlayMusic, [&] { vl::PushNumber(L, 4); }), 0);
  uint32_t format = 0, rate = 0, volume = 0, panning = 0;
  ASSERT_EQ(channel(0, &format, &rate, &volume, &panning), 1);
  EXPECT_EQ(format, 5u);
  EXPECT_EQ(rate, 48000u);
  std::vector<int16_t> got(48000 * 2);
  for (int i = 0; i < 10; i++) ASSERT_EQ(pull(0, got.data() + i * 9600, 4800), 4800);
  EXPECT_EQ(Call(CmdGetSongPosition), 1);
  EXPECT_GE(vl::ToNumberAt(L, 1), 0);
  // The same module rendered here, from the top.
  std::ifstream in(file, std::ios::binary);
  std::vector<uint8_t> image((std::istreambuf_iterator<char>(in)), {});
  std::vector<uint8_t> block(ParseProtrackerModule(nullptr, image.data(), image.size(), 48000));
  auto* state = reinterpret_cast<vlModuleState*>(block.data());
  ParseProtrackerModule(state, image.data(), image.size(), 48000);
  std::vector<int16_t> pcm(48000 * 2);
  RenderModuleAudio(state, pcm.data(), 48000);
  EXPECT_EQ(got, pcm);
  ASSERT_EQ(Call(CmdStopMusic, [&] { vl::PushNumber(L, 4); }), 0);
  EXPECT_EQ(channel(0, &format, &rate, &volume, &panning), 0);
}

// A module played twice: the adapter gets its song twice, to the frame,
// then nothing; its end is posted and it is stopped and rewound.
TEST_F(AudioAdapter, AModuleEndsAfterItsPasses) {
  ASSERT_EQ(Require("0 4 2048"), 0);
  SetAudioEventWanted(18, 1);
  const std::string file = File("rows.mod", vltest::RowsModule());
  ASSERT_EQ(Call(CmdOpenMusic, [&] { vl::PushNumber(L, 1), vl::PushString(L, file.c_str()); }), 0);
  ASSERT_EQ(Call(CmdPlayMusic, [&] { vl::PushNumber(L, 1), vl::PushNumber(L, 2); }), 0);
  EXPECT_EQ(Drain(0, 4, 4800).size(), size_t(2) * vltest::kRowsModuleFrames * 4);
  int16_t more[100];
  EXPECT_EQ(pull(0, more, 50), 0) << "sound after the end";
  ExpectMusicEnded(1);
  vlMusic* music = nullptr;
  ASSERT_EQ(GetMusicByID({1, nullptr}, &music), 0);
  EXPECT_EQ(static_cast<vlModuleState*>(music->source)->songEnds, 0u);
}

TEST_F(AudioAdapter, AnotherSubsongReopensTheFileThroughItsReader) {
  ASSERT_EQ(Require("0 4 2048"), 0);
  vlPluginInfo* reader = Load("testsound");
  ASSERT_NE(reader, nullptr);
  auto value = Symbol<ValueFn>(reader, "TestSoundValue");
  const std::string file = File("s.tsnd", "TSND 8000 1 16 4000 4000 2 3");
  ASSERT_EQ(Call(CmdOpenMusic, [&] {
              vl::PushNumber(L, 1);
              vl::PushString(L, file.c_str());
            }),
            0);
  ClearLog();
  ASSERT_EQ(Call(CmdPlaySubsong, [&] {
              vl::PushNumber(L, 3);
              vl::PushNumber(L, 1);
            }),
            0);
  EXPECT_NE(Log().find("open s.tsnd sub=3 version=1 adapter=\n"), std::string::npos) << Log();
  EXPECT_NE(Log().find("close\n"), std::string::npos) << "the old stream was closed";
  vlMusic* music = nullptr;
  ASSERT_EQ(GetMusicByID({1, nullptr}, &music), 0);
  EXPECT_EQ(music->subsong, 3u);
  EXPECT_EQ(music->playing, uint32_t(VL_MUSIC_PLAYING));
  std::vector<int16_t> got(100);
  ASSERT_EQ(pull(0, got.data(), 100), 100);
  for (int i = 0; i < 100; i++) ASSERT_EQ(got[i], value(i, 0, 3, 16)) << i;
  // Too high a sub-song is refused.
  EXPECT_EQ(Call(CmdPlaySubsong, [&] {
              vl::PushNumber(L, 4);
              vl::PushNumber(L, 1);
            }),
            ERR_WRONGUSAGE);
}

}  // namespace
