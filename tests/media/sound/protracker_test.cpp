// The Protracker replayer against the real modules of the shared test data
// (header fields checked by an independent python3 parser, deterministic
// renders) and against small modules a python3 generator writes to probe
// one effect each.
#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <cstring>
#include <sstream>

#include "media/sound/protracker.h"
#include "media/sound/sound_stream.h"
#include "sound_test_util.h"
#include "tests/support/testdata.h"

using namespace soundtest;

namespace {

constexpr uint32_t kFramesPerTick = 960;  // 125 BPM at 48000 Hz

struct Module {
  std::vector<uint8_t> image;
  std::vector<uint8_t> block;
  vlModuleState* state = nullptr;
  bool Parse() {
    size_t size = ParseProtrackerModule(nullptr, image.data(), image.size(), 48000);
    if (!size) return false;
    block.assign(size, 0xA5);
    state = reinterpret_cast<vlModuleState*>(block.data());
    return ParseProtrackerModule(state, image.data(), image.size(), 48000) == size;
  }
  std::vector<int16_t> Render(uint32_t frames, uint32_t chunk = 4096) {
    std::vector<int16_t> out(size_t(frames) * 2);
    for (uint32_t done = 0; done < frames;) {
      uint32_t n = std::min(chunk, frames - done);
      RenderModuleAudio(state, out.data() + size_t(done) * 2, n);
      done += n;
    }
    return out;
  }
  void Ticks(int n) { Render(uint32_t(n) * kFramesPerTick); }
};

std::vector<std::string> TestModules() {
  std::vector<std::string> names;
  std::string dir = TestData("mod");
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name.size() > 4 && name.substr(name.size() - 4) == ".mod") names.push_back(dir + "/" + name);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// An independent reading of the header: pattern count, song length, the
// order table, and per instrument the length cut to the file, finetune,
// volume and loop. Files of 8 channels ("M.K.", restart byte 0, the exact
// size of 8-channel patterns and the samples) and samples packed as ADPCM
// ("ADPCM", 16 deltas, a nibble per byte) are read as the trackers that
// wrote them do.
const char* kHeaderDump = R"PY(
import sys
d = open(sys.argv[1], 'rb').read()
sys.stdout = open(sys.argv[2], 'w')
orders = list(d[952:1080])
patterns = max(orders) + 1
lengths = [(d[42 + i * 30] << 8 | d[43 + i * 30]) * 2 for i in range(31)]
voices = 8 if d[1080:1084] == b'M.K.' and d[951] == 0 and 1084 + patterns * 2048 + sum(lengths) == len(d) else 4
print(patterns, d[950], ' '.join(map(str, orders)))
offset = 1084 + patterns * 256 * voices
for i in range(31):
    p = d[20 + i * 30:50 + i * 30]
    length = lengths[i]
    if d[offset:offset + 5] == b'ADPCM' and offset + 21 <= len(d):
        packed = min((length + 1) // 2, len(d) - offset - 21)
        length = min(length, packed * 2)
        offset += 21 + packed
    else:
        length = min(length, max(0, len(d) - offset))
        offset += length
    print(length, p[24] & 15, min(p[25], 64), (p[26] << 8 | p[27]) * 2, (p[28] << 8 | p[29]) * 2)
)PY";

TEST(ProtrackerFiles, EveryModuleParsesAsAnIndependentReaderSeesIt) {
  VL_REQUIRE_TESTDATA();
  std::vector<std::string> files = TestModules();
  ASSERT_GE(files.size(), 6u);
  TempDir dir;
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    Module m;
    m.image = ReadBytes(file);
    ASSERT_TRUE(m.Parse());
    ASSERT_EQ(RunPython(dir, kHeaderDump, "'" + file + "' '" + dir.File("dump.txt") + "'"), 0);
    std::vector<uint8_t> dump = ReadBytes(dir.File("dump.txt"));
    std::istringstream in(std::string(dump.begin(), dump.end()));
    unsigned patterns, songLength;
    in >> patterns >> songLength;
    EXPECT_EQ(m.state->patterns, patterns);
    EXPECT_EQ(m.state->songLength, std::min(std::max(songLength, 1u), 128u));
    for (int i = 0; i < 128; i++) {
      unsigned order;
      in >> order;
      EXPECT_EQ(m.state->orders[i], order);
    }
    for (int i = 0; i < 31; i++) {
      unsigned length, finetune, volume, loopStart, loopLength;
      in >> length >> finetune >> volume >> loopStart >> loopLength;
      const vlModInstrument& ins = m.state->instruments[i];
      EXPECT_EQ(ins.length >> 14, length) << i;
      EXPECT_EQ(ins.finetune, finetune) << i;
      EXPECT_EQ(ins.volume, volume) << i;
      if (loopStart < length) {
        EXPECT_EQ(ins.loopStart >> 14, loopStart) << i;
        EXPECT_EQ(ins.loopEnd >> 14, std::min(loopStart + loopLength, length)) << i;
      } else {
        EXPECT_EQ(ins.loopLength, 0u) << i;
      }
    }
  }
}

TEST(ProtrackerFiles, RendersAreDeterministicAndIndependentOfBlockSize) {
  VL_REQUIRE_TESTDATA();
  for (const std::string& file : TestModules()) {
    SCOPED_TRACE(file);
    Module a, b;
    a.image = b.image = ReadBytes(file);
    ASSERT_TRUE(a.Parse());
    ASSERT_TRUE(b.Parse());
    std::vector<int16_t> first = a.Render(48000 * 3, 4096);
    std::vector<int16_t> second = b.Render(48000 * 3, 733);
    EXPECT_EQ(first, second);
    int64_t energy = 0;
    for (int16_t v : first) energy += v < 0 ? -v : v;
    EXPECT_GT(energy, 48000 * 3);  // real music, not silence
    EXPECT_EQ(a.state->position, b.state->position);
    EXPECT_EQ(a.state->row, b.state->row);
  }
}

TEST(ProtrackerFiles, MalformedModulesAreRefusedOrPlayedSafely) {
  VL_REQUIRE_TESTDATA();
  std::string dir = TestData("mod/malformed");
  for (const char* name : {"load_mod_no_null_terminator.mod", "load_mod_no_valid_orders.mod",
                           "load_mod_shift_base_finetune.mod", "load_st_truncated.mod",
                           "play_mod_bad_invloop.mod"}) {
    SCOPED_TRACE(name);
    std::string file = dir + "/" + name;
    uint32_t kind = 0, seekable = 0, subsongs = 0;
    void* source = nullptr;
    int error = OpenMusicSource(file.c_str(), "", "", 0, &kind, &source, &seekable, &subsongs, nullptr);
    // None carries the 31-instrument magic: not a module of this player.
    EXPECT_NE(error, 0);
    Module m;
    m.image = ReadBytes(file);
    if (m.Parse()) m.Render(48000);
  }
}

// Writes a module: one looped square-wave instrument (or a constant one),
// cells given as "pattern:row:voice:period:instrument:effect:param".
const char* kModuleWriter = R"PY(
import struct, sys
out, orders, sample_kind = sys.argv[1], [int(x) for x in sys.argv[2].split(',')], sys.argv[3]
cells = [tuple(int(v, 16) if i >= 5 else int(v) for i, v in enumerate(c.split(':'))) for c in sys.argv[4:]]
patterns = max(orders) + 1
if sample_kind == 'const':
    data = bytes([64]) * 64
else:
    data = (bytes([100]) * 16 + bytes([256 - 100]) * 16) * 2
head = b'test module'.ljust(20, b'\0')
for i in range(31):
    if i == 0:
        head += b'square'.ljust(22, b'\0') + struct.pack('>HBBHH', len(data) // 2, 0, 64, 0, len(data) // 2)
    else:
        head += b'\0' * 22 + struct.pack('>HBBHH', 0, 0, 0, 0, 1)
head += bytes([len(orders), 127]) + bytes(orders).ljust(128, b'\0') + b'M.K.'
pat = bytearray(patterns * 1024)
for p, row, voice, period, ins, eff, par in cells:
    at = p * 1024 + (row * 4 + voice) * 4
    pat[at:at + 4] = bytes([(ins & 0xF0) | (period >> 8), period & 255, ((ins & 15) << 4) | eff, par])
open(out, 'wb').write(head + bytes(pat) + data)
)PY";

class EffectTest : public testing::Test {
 protected:
  void Write(const std::string& orders, const std::vector<std::string>& cells, const char* sample = "square") {
    std::string file = dir_.File("fx.mod");
    std::string args = "'" + file + "' " + orders + " " + sample;
    for (const std::string& c : cells) args += " " + c;
    ASSERT_EQ(RunPython(dir_, kModuleWriter, args), 0);
    m_.image = ReadBytes(file);
    ASSERT_TRUE(m_.Parse());
  }
  // The PAL Amiga clock, 3546895 Hz, in 18.14 steps per internal sample.
  static uint32_t StepFor(int32_t period) { return uint32_t(1162246554ull / ((uint64_t(period) * 96000) / 50)); }
  const vlModVoice& Voice(int i) { return m_.state->voices[i]; }

  TempDir dir_;
  Module m_;
};

TEST_F(EffectTest, OneVoiceIsScaledAndPannedByTheMixingRules) {
  Write("0", {"0:0:0:428:1:0:00"}, "const");
  std::vector<int16_t> out = m_.Render(64);
  // Voice 1 pans fully to the left sum: 64 x 63 x 255 >> 7 per internal
  // sample, two averaged per frame.
  for (int f = 1; f < 64; f++) {
    EXPECT_EQ(out[f * 2], (64 * 63 * 255) >> 7) << f;
    EXPECT_EQ(out[f * 2 + 1], 0) << f;
  }
  EXPECT_EQ(Voice(0).step, StepFor(428));
}

TEST_F(EffectTest, VolumeSlideDownAndCxxCapAt63) {
  Write("0", {"0:0:0:428:1:A:04", "0:1:1:428:1:C:40", "0:2:1:000:0:A:20"});
  m_.Ticks(6);
  EXPECT_EQ(Voice(0).volume, 63 - 5 * 4);
  m_.Ticks(6);
  EXPECT_EQ(Voice(1).volume, 63);  // C40 asks for 64
  m_.Ticks(6);
  EXPECT_EQ(Voice(1).volume, 63);  // slid up, clamped
}

TEST_F(EffectTest, ArpeggioCyclesThroughTheThreeNotes) {
  Write("0", {"0:0:0:428:1:0:37"});
  m_.Ticks(1);
  EXPECT_EQ(Voice(0).step, StepFor(428));
  m_.Ticks(1);
  EXPECT_EQ(Voice(0).step, StepFor(360));  // + 3 semitones
  m_.Ticks(1);
  EXPECT_EQ(Voice(0).step, StepFor(285));  // + 7 semitones
  m_.Ticks(1);
  EXPECT_EQ(Voice(0).step, StepFor(428));
}

TEST_F(EffectTest, PortamentoSlidesAndTonePortamentoStopsAtTheTarget) {
  Write("0", {"0:0:0:428:1:1:03", "0:0:1:428:1:2:02", "0:1:2:428:1:0:00", "0:2:2:214:0:3:50"});
  m_.Ticks(6);
  EXPECT_EQ(Voice(0).period, 428 - 5 * 3);
  EXPECT_EQ(Voice(1).period, 428 + 5 * 2);
  m_.Ticks(6);
  EXPECT_EQ(Voice(2).period, 428);
  m_.Ticks(6);
  EXPECT_EQ(Voice(2).period, 428 - 5 * 0x50 < 214 ? 214 : 428 - 5 * 0x50);
  EXPECT_EQ(Voice(2).period, 214);
}

TEST_F(EffectTest, PatternBreakAndPositionJumpMoveTheSong) {
  Write("0,1,2", {"0:0:0:428:1:D:12", "1:12:0:000:0:B:00", "2:0:0:000:0:0:00"});
  m_.Ticks(6);
  EXPECT_EQ(m_.state->position, 1);
  EXPECT_EQ(m_.state->row, 12);
  EXPECT_EQ(m_.state->flags & VL_MOD_SONG_ENDED, 0u);
  m_.Ticks(6);
  // B00 jumps back to the start; the song ends as row 0 comes again.
  EXPECT_EQ(m_.state->position, 0);
  EXPECT_EQ(m_.state->row, 0);
  EXPECT_EQ(m_.state->flags & VL_MOD_SONG_ENDED, 0u);
  m_.Ticks(1);
  EXPECT_NE(m_.state->flags & VL_MOD_SONG_ENDED, 0u);
  EXPECT_EQ(m_.state->songEnds, 1u);
}

TEST_F(EffectTest, OnlyARowPlayedBeforeEndsTheSong) {
  // B00 with D10 at row 1 jumps forward within the first position; the
  // pattern loop of position 1 repeats rows 0 and 1 twice; D00 then runs
  // past the last position, back to a row played before.
  Write("0,1", {"0:1:0:000:0:B:00", "0:1:1:000:0:D:10", "1:0:0:000:0:E:60", "1:1:0:000:0:E:62",
                "1:2:0:000:0:D:00"});
  std::vector<std::pair<int, int>> expected = {{0, 0}, {0, 1}};
  for (int row = 10; row < 64; row++) expected.push_back({0, row});
  for (int row : {0, 1, 0, 1, 0, 1, 2}) expected.push_back({1, row});
  std::vector<std::pair<int, int>> rows;
  for (size_t i = 0; i < expected.size(); i++) {
    rows.push_back({m_.state->position, m_.state->row});
    m_.Ticks(6);
    ASSERT_EQ(m_.state->flags & VL_MOD_SONG_ENDED, 0u) << i;
  }
  EXPECT_EQ(rows, expected);
  m_.Ticks(1);
  EXPECT_NE(m_.state->flags & VL_MOD_SONG_ENDED, 0u);
  EXPECT_EQ(m_.state->songEnds, 1u);
  // A new pass: the song ends once more only after playing it all again.
  m_.Ticks(6 * int(expected.size()) - 1);
  EXPECT_EQ(m_.state->songEnds, 1u);
  m_.Ticks(1);
  EXPECT_EQ(m_.state->songEnds, 2u);
}

TEST_F(EffectTest, PatternLoopRepeatsItsRows) {
  Write("0", {"0:1:0:000:0:E:60", "0:2:0:000:0:E:62"});
  std::vector<int> rows;
  for (int i = 0; i < 9; i++) {
    rows.push_back(m_.state->row);
    m_.Ticks(6);
  }
  EXPECT_EQ(rows, (std::vector<int>{0, 1, 2, 1, 2, 1, 2, 3, 4}));
}

TEST_F(EffectTest, SpeedTempoAndSongEndCommands) {
  Write("0", {"0:0:0:000:0:F:20", "0:1:0:000:0:F:1F", "0:2:0:000:0:F:00"});
  m_.Ticks(1);
  EXPECT_EQ(m_.state->tempo, 32);
  EXPECT_EQ(m_.state->samplesPerTick, 96000u * 60 / (32 * 24));
  m_.Render(7500 / 2 * 6);
  EXPECT_EQ(m_.state->speed, 31);
  EXPECT_EQ(m_.state->flags & VL_MOD_SONG_ENDED, 0u);
  m_.Render(7500 / 2 * 31);
  EXPECT_NE(m_.state->flags & VL_MOD_SONG_ENDED, 0u);
}

TEST_F(EffectTest, TheSongLoopsToPositionZeroAfterItsLastOrder) {
  Write("0,0", {"0:0:0:428:1:0:00"});
  m_.Ticks(6 * 64);
  EXPECT_EQ(m_.state->position, 1);
  EXPECT_EQ(m_.state->flags & VL_MOD_SONG_ENDED, 0u);
  m_.Ticks(6 * 64);
  EXPECT_EQ(m_.state->position, 0);
  EXPECT_EQ(m_.state->flags & VL_MOD_SONG_ENDED, 0u);
  m_.Ticks(1);
  EXPECT_NE(m_.state->flags & VL_MOD_SONG_ENDED, 0u);
}

TEST_F(EffectTest, NoteCutAndFineVolume) {
  Write("0", {"0:0:0:428:1:E:C3", "0:0:1:428:1:E:B5", "0:1:1:000:0:E:A9"});
  m_.Ticks(3);
  EXPECT_EQ(Voice(0).volume, 63);
  m_.Ticks(1);
  EXPECT_EQ(Voice(0).volume, 0);
  EXPECT_EQ(Voice(1).volume, 58);
  m_.Ticks(3);
  EXPECT_EQ(Voice(1).volume, 63);
}

TEST(ProtrackerParse, ShortFilesAndSampleCutsAtTheEnd) {
  std::vector<uint8_t> image(1084 + 4 * 1024, 0);
  std::memcpy(&image[1080], "M.K.", 4);
  image[950] = 1;
  image[952 + 5] = 3;  // 4 patterns
  EXPECT_EQ(ParseProtrackerModule(nullptr, image.data(), image.size() - 1, 48000), 0u);
  // Instrument 1 claims 1000 words; 10 bytes are there.
  image[20 + 22] = 0x03;
  image[20 + 23] = 0xE8;
  image.resize(image.size() + 10, 7);
  size_t size = ParseProtrackerModule(nullptr, image.data(), image.size(), 48000);
  ASSERT_GT(size, 0u);
  std::vector<uint8_t> block(size);
  auto* s = reinterpret_cast<vlModuleState*>(block.data());
  ParseProtrackerModule(s, image.data(), image.size(), 48000);
  EXPECT_EQ(s->patterns, 4);
  EXPECT_EQ(s->instruments[0].length >> 14, 10u);
  EXPECT_EQ(s->speed, 6);
  EXPECT_EQ(s->tempo, 125);
  EXPECT_EQ(s->voices[1].panning, 255);
  EXPECT_EQ(s->voices[3].panning, 0);
  EXPECT_EQ(s->voiceCount, 4u);
}

TEST(ProtrackerParse, ARewindKeepsToItsBlockWhenTheImageChanged) {
  // A plain sample whose first bytes have come to read "ADPCM" (as the
  // invert loop could make them) would need a bigger block.
  std::vector<uint8_t> image(1084 + 1024 + 64, 0);
  std::memcpy(&image[1080], "M.K.", 4);
  image[950] = 1;
  image[20 + 23] = 32;  // 64 bytes
  Module m;
  m.image = image;
  ASSERT_TRUE(m.Parse());
  m.Render(4800);
  const int32_t row = m.state->row;
  std::memcpy(&m.image[1084 + 1024], "ADPCM", 5);
  ASSERT_GT(ParseProtrackerModule(nullptr, m.image.data(), m.image.size(), 48000), m.block.size());
  RewindModuleState(m.state);
  EXPECT_EQ(m.state->row, row);
  EXPECT_EQ(m.state->instruments[0].decoded, 0u);
  // Unchanged, the image parses again from the top.
  std::memcpy(&m.image[1084 + 1024], "\0\0\0\0\0", 5);
  RewindModuleState(m.state);
  EXPECT_EQ(m.state->row, 0);
}

TEST(ProtrackerParse, AdpcmPackedSamplesAreUnpacked) {
  // The seed module of the fuzz corpus: 64 samples packed in 32 bytes,
  // each byte two deltas from a table, the low nibble first.
  std::vector<uint8_t> image = ReadBytes(std::string(VL_TEST_SOURCE_DIR) + "/fuzz/corpus/module/adpcm.mod");
  size_t size = ParseProtrackerModule(nullptr, image.data(), image.size(), 48000);
  ASSERT_GT(size, 0u);
  std::vector<uint8_t> block(size);
  auto* s = reinterpret_cast<vlModuleState*>(block.data());
  ASSERT_EQ(ParseProtrackerModule(s, image.data(), image.size(), 48000), size);
  ASSERT_EQ(s->instruments[0].length >> 14, 64u);
  EXPECT_EQ(s->instruments[0].decoded, 1u);
  ASSERT_EQ(s->decodedBytes, 64u);
  const auto* pcm = reinterpret_cast<const int8_t*>(block.data() + s->decodedOffset + s->instruments[0].data);
  // Bytes 0x13, 0x9B: +4, +1, -8, -2 again and again.
  int8_t value = 0;
  for (int i = 0; i < 64; i++) {
    static const int8_t kSteps[4] = {4, 1, -8, -2};
    value = static_cast<int8_t>(value + kSteps[i % 4]);
    EXPECT_EQ(pcm[i], value) << i;
  }
  EXPECT_EQ(ModuleStateSize(s), size);
}

}  // namespace
