// Sound-reader plug-ins: the loader offers files to the readers its list
// selects, loads the frames a reader serves byte for byte, streams,
// seeks and names them as music, refuses what cannot be played, closes
// every stream it opened and holds a reader to the buffer it was given.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "media/sound/sound_plugin.h"
#include "media/sound/sound_stream.h"
#include "media_plugin_util.h"
#include "runtime/os.h"
#include "runtime/errors.h"
#include "vm/error_codes.h"

namespace {

using ValueFn = int (*)(long, int, unsigned, int);

class SoundReader : public mediatest::PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    info = Load("testsound");
    ASSERT_NE(info, nullptr);
    value = Symbol<ValueFn>(info, "TestSoundValue");
    ASSERT_NE(value, nullptr);
  }

  // The bytes the reader serves for frames [from, from + count).
  std::vector<uint8_t> Expected(long from, long count, int channels, int bits, bool bigEndian, unsigned subsong = 0) {
    std::vector<uint8_t> out;
    for (long i = from; i < from + count; i++)
      for (int c = 0; c < channels; c++) {
        int v = value(i, c, subsong, bits);
        if (bits == 8) {
          out.push_back(uint8_t(v));
        } else if (bigEndian) {
          out.push_back(uint8_t(uint16_t(v) >> 8));
          out.push_back(uint8_t(v));
        } else {
          out.push_back(uint8_t(v));
          out.push_back(uint8_t(uint16_t(v) >> 8));
        }
      }
    return out;
  }

  struct Loaded {
    int error;
    vlSoundData* data = nullptr;
    uint32_t bytes = 0, rate = 0, format = 0;
    const vlPluginInfo* loader = nullptr;
  };
  Loaded LoadData(const std::string& file, const char* loaders = "") {
    Loaded l{};
    l.error = LoadSoundData(file.c_str(), loaders, "", &l.data, &l.bytes, &l.rate, &l.format, &l.loader);
    return l;
  }
  static void Free(Loaded& l) {
    if (!l.data) return;
    FreeMemory(l.data->pcm);
    FreeMemory(l.data);
  }

  vlPluginInfo* info = nullptr;
  ValueFn value = nullptr;
};

TEST_F(SoundReader, SamplesHoldExactlyWhatTheReaderServed) {
  struct Case {
    int channels, bits;
    unsigned flags;
    uint32_t format;
  } cases[] = {{2, 16, VL_SOUNDFMT_SIGNED, 5}, {1, 16, VL_SOUNDFMT_SIGNED | VL_SOUNDFMT_BIG_ENDIAN, 4},
               {1, 8, 0, 0},  {2, 8, VL_SOUNDFMT_SIGNED, 3}, {1, 8, VL_SOUNDFMT_SIGNED, 2}};
  for (const Case& c : cases) {
    ClearLog();
    const std::string file =
        File("a.tsnd", "TSND 11025 " + std::to_string(c.channels) + " " + std::to_string(c.bits) + " 1500 1500 " +
                           std::to_string(c.flags) + " 1");
    Loaded l = LoadData(file);
    ASSERT_EQ(l.error, 0) << c.format;
    EXPECT_EQ(l.loader, info);
    EXPECT_EQ(l.rate, 11025u);
    EXPECT_EQ(l.format, c.format);
    ASSERT_EQ(l.bytes, 1500u * c.channels * c.bits / 8);
    EXPECT_EQ(l.data->frames, 1500u);
    EXPECT_EQ(l.data->flags & VL_PCM_BIG_ENDIAN, c.flags & VL_SOUNDFMT_BIG_ENDIAN);
    std::vector<uint8_t> want = Expected(0, 1500, c.channels, c.bits, c.flags & VL_SOUNDFMT_BIG_ENDIAN);
    EXPECT_EQ(std::vector<uint8_t>(l.data->pcm, l.data->pcm + l.bytes), want) << c.format;
    Free(l);
    EXPECT_EQ(Log(), "open a.tsnd sub=0 version=1 adapter=\nclose\n");
  }
}

TEST_F(SoundReader, UnplayableStreamsAreRefusedAndClosed) {
  // An open length cannot become a sample.
  Loaded l = LoadData(File("open.tsnd", "TSND 8000 1 16 -1 400 2 1"));
  EXPECT_EQ(l.error, 1279);
  // 24-bit frames are neither a sample nor a music.
  const std::string deep = File("deep.tsnd", "TSND 8000 1 24 400 400 2 1");
  l = LoadData(deep);
  EXPECT_EQ(l.error, 1299);
  uint32_t kind = 0, seekable = 0, subsongs = 0;
  void* source = nullptr;
  const vlPluginInfo* loader = nullptr;
  EXPECT_EQ(OpenMusicSource(deep.c_str(), "", "", 0, &kind, &source, &seekable, &subsongs, &loader), 1299);
  EXPECT_EQ(source, nullptr);
  // Five channels: no frame size to read by.
  l = LoadData(File("wide.tsnd", "TSND 8000 5 16 400 400 2 1"));
  EXPECT_EQ(l.error, 1279);
  // A rate no output plays refuses the file before anything is sized
  // from it (-1 is read as 4,294,967,295).
  for (const char* rate : {"-1", "255", "768001"}) {
    const std::string file = File("rate.tsnd", std::string("TSND ") + rate + " 2 16 400 400 2 1");
    EXPECT_EQ(LoadData(file).error, 1357) << rate;
    EXPECT_EQ(OpenMusicSource(file.c_str(), "", "", 0, &kind, &source, &seekable, &subsongs, &loader), 1357) << rate;
  }
  // Every stream that was opened was closed again.
  const std::string log = Log();
  size_t opens = 0, closes = 0;
  for (size_t at = 0; (at = log.find("open ", at)) != std::string::npos; at++) opens++;
  for (size_t at = 0; (at = log.find("close\n", at)) != std::string::npos; at++) closes++;
  EXPECT_EQ(opens, 10u);
  EXPECT_EQ(closes, 10u);
}

TEST_F(SoundReader, TheLoaderListDecidesWhoIsAsked) {
  const std::string file = File("b.tsnd", "TSND 8000 1 8 100 100 0 1");
  for (const char* list : {"", "default", "plugin", "testsound", "inbuilt|TESTSOUND", "test"}) {
    Loaded l = LoadData(file, list);
    EXPECT_EQ(l.error, 0) << list;
    EXPECT_EQ(l.loader, info) << list;
    Free(l);
  }
  ClearLog();
  for (const char* list : {"inbuilt", "native", "other", "testsoundx"}) {
    Loaded l = LoadData(file, list);
    EXPECT_EQ(l.error, 1357) << list;
    EXPECT_STREQ(GetErrorArgument(), file.c_str());
  }
  EXPECT_EQ(Log(), "") << "a reader the list does not select is never asked";
  // A disabled reader is skipped by every list.
  info->disabled = 1;
  Loaded l = LoadData(file, "testsound");
  EXPECT_EQ(l.error, 1357);
  EXPECT_EQ(Log(), "");
  info->disabled = 0;
  // Calls through the frame-call hook do nothing on this platform.
  info->callKind = 2;
  EXPECT_EQ(LoadData(file, "testsound").error, 1357);
  info->callKind = 0;
}

TEST_F(SoundReader, MusicStreamsReadSeekAndNameThemselves) {
  const std::string file = File("m.tsnd", "TSND 22050 2 16 3000 3000 6 4");  // signed, seekable
  uint32_t kind = 0, seekable = 0, subsongs = 0;
  void* source = nullptr;
  const vlPluginInfo* loader = nullptr;
  ASSERT_EQ(OpenMusicSource(file.c_str(), "", "", 2, &kind, &source, &seekable, &subsongs, &loader), 0);
  EXPECT_EQ(kind, uint32_t(VL_SOURCE_STREAM));
  EXPECT_EQ(seekable, 1u);
  EXPECT_EQ(subsongs, 4u);
  EXPECT_EQ(loader, info);
  auto* s = static_cast<vlSoundStream*>(source);
  const char* name = nullptr;
  GetMusicAttribute(VL_MATTR_FORMAT_NAME, kind, s, &name);
  EXPECT_STREQ(name, "Test wave");
  EXPECT_EQ(GetMusicAttribute(VL_MATTR_BITRATE, kind, s, nullptr), 1234);
  EXPECT_EQ(GetMusicAttribute(VL_MATTR_DURATION, kind, s, nullptr), 3000 * 1000 / 22050);
  EXPECT_EQ(GetMusicAttribute(VL_MATTR_SAMPLE_FORMAT, kind, s, nullptr), 5);

  std::vector<uint8_t> buffer(1000 * 4);
  int end = 0;
  ASSERT_EQ(ReadSoundStream(s, buffer.data(), 1000, &end), 1000u);
  EXPECT_EQ(end, 0);
  EXPECT_EQ(buffer, Expected(0, 1000, 2, 16, false, 2)) << "the sub-song asked for is served";
  SeekSoundStream(s, 2500);
  EXPECT_EQ(ReadSoundStream(s, buffer.data(), 1000, &end), 500u);
  EXPECT_EQ(end, 1);
  buffer.resize(500 * 4);
  EXPECT_EQ(buffer, Expected(2500, 500, 2, 16, false, 2));
  CloseMusicSource(kind, source);
  EXPECT_EQ(Log(), "open m.tsnd sub=2 version=1 adapter=\nseek 2500\nclose\n");

  // A stream that cannot seek is only ever rewound; no adapter list
  // reaches the reader as "", never as null.
  ClearLog();
  const std::string fixed = File("f.tsnd", "TSND 8000 1 16 800 800 2 1");
  ASSERT_EQ(OpenMusicSource(fixed.c_str(), "", nullptr, 0, &kind, &source, &seekable, &subsongs, &loader), 0);
  EXPECT_EQ(seekable, 0u);
  SeekSoundStream(static_cast<vlSoundStream*>(source), 300);
  SeekSoundStream(static_cast<vlSoundStream*>(source), 0);
  CloseMusicSource(kind, source);
  EXPECT_EQ(Log(), "open f.tsnd sub=0 version=1 adapter=\nseek 0\nclose\n");
}

// A reader that declares two billion frames and serves 1500 makes a
// sample of the 1500: its buffer grows with what is served, so the load
// succeeds with far less memory than the claim.
TEST_F(SoundReader, AReaderClaimingALengthGetsABufferForWhatItServes) {
  const std::string file = File("long.tsnd", "TSND 8000 1 8 2000000000 1500 0 1");
  Loaded l = LoadData(file);
  ASSERT_EQ(l.error, 0);
  ASSERT_EQ(l.bytes, 1500u);
  EXPECT_EQ(l.data->frames, 1500u);
  EXPECT_EQ(std::vector<uint8_t>(l.data->pcm, l.data->pcm + l.bytes), Expected(0, 1500, 1, 8, false));
  Free(l);
#ifndef __SANITIZE_ADDRESS__
  // The same load with no room for the claim (the address sanitizer keeps
  // too much address space for a limit).
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    long kilobytes = 0;
    std::FILE* status = std::fopen("/proc/self/status", "r");
    char line[256];
    while (status && std::fgets(line, sizeof line, status))
      if (std::sscanf(line, "VmSize: %ld", &kilobytes) == 1) break;
    if (status) std::fclose(status);
    const rlim_t limit = rlim_t(kilobytes) * 1024 + (rlim_t(512) << 20);
    const rlimit room{limit, limit};
    if (kilobytes == 0 || setrlimit(RLIMIT_AS, &room) != 0) _exit(99);
    Loaded small = LoadData(file);
    _exit(small.error == 0 && small.bytes == 1500 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
#endif
}

TEST_F(SoundReader, AReaderClaimingTooMuchIsHeldToItsBuffer) {
  const std::string file = File("o.tsnd", "TSND 8000 1 16 -1 5000 " + std::to_string(2 | 0x100) + " 1");
  vlSoundStream* s = nullptr;
  ASSERT_EQ(OpenSoundStream(file.c_str(), "", "", 0, 1, &s, nullptr), 0);
  EXPECT_EQ(s->frames, -1);
  std::vector<uint8_t> buffer(2 * 100 + 16, 0xAB);
  int end = 0;
  EXPECT_EQ(ReadSoundStream(s, buffer.data(), 100, &end), 100u);
  EXPECT_EQ(s->position, 100);
  for (size_t i = 200; i < buffer.size(); i++) EXPECT_EQ(buffer[i], 0xAB) << i;
  CloseSoundStream(s);
}

}  // namespace
