// The software mixer against a python3 implementation of the mixing rules
// (random sources of every format, pitch, offset, threshold, length, loop
// and gain), and MixSample's argument and look-up errors.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <random>

#include "../../runtime/handler_test_util.h"
#include "media/sound/mixer.h"
#include "media/sound/sound_library.h"
#include "runtime/object_data.h"
#include "sound_test_util.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

using namespace soundtest;

namespace {

const char* kReference = R"PY(
import sys
def s16(b0, b1): v = b0 | b1 << 8; return v - 65536 if v >= 32768 else v
def s8(b): return b - 256 if b >= 128 else b
lines = open(sys.argv[1]).read().split('\n')
out = open(sys.argv[2], 'wb')
i = 0
while i < len(lines) and lines[i]:
    fmt, frames, rate, count = map(int, lines[i].split()); i += 1
    srcs = []
    for _ in range(count):
        f = lines[i].split(); i += 1
        srcs.append(dict(format=int(f[0]), frames=int(f[1]), pitch=float(f[2]), pos=float(f[3]), threshold=int(f[4]),
                         length=int(f[5]), loop=int(f[6]), scale=float(f[7]), data=bytes.fromhex(f[8]), mixed=0))
    for s in srcs: s['step'] = s['pitch'] / rate
    res = bytearray()
    for n in range(frames):
        l = r = 0
        for s in srcs:
            if n < s['threshold'] or (s['length'] >= 0 and s['mixed'] == s['length']): continue
            idx = int(s['pos'])
            if idx >= s['frames']:
                if not s['loop']: continue
                idx %= s['frames']
            d, vol = s['data'], 65536
            g = (lambda p: int(p * s['scale'])) if s['scale'] != 1.0 else (lambda p: p)
            fm = s['format']
            if fm == 0: v = g((d[idx] - 128) * vol); l += v; r += v
            elif fm == 1: l += g((d[2*idx] - 128) * vol); r += g((d[2*idx+1] - 128) * vol)
            elif fm == 2: v = g(s8(d[idx]) * vol); l += v; r += v
            elif fm == 3: l += g(s8(d[2*idx]) * vol); r += g(s8(d[2*idx+1]) * vol)
            elif fm == 4: v = g(s16(d[2*idx], d[2*idx+1]) * (vol // 256)); l += v; r += v
            else: l += g(s16(d[4*idx], d[4*idx+1]) * (vol // 256)); r += g(s16(d[4*idx+2], d[4*idx+3]) * (vol // 256))
            s['pos'] += s['step']; s['mixed'] += 1
        l = max(-8388608, min(8388607, l)); r = max(-8388608, min(8388607, r))
        if fmt == 2: res += bytes([((l + r) >> 17) & 255])
        elif fmt == 3: res += bytes([(l >> 16) & 255, (r >> 16) & 255])
        elif fmt == 4: res += ((l + r) >> 9 & 65535).to_bytes(2, 'little')
        else: res += (l >> 8 & 65535).to_bytes(2, 'little') + (r >> 8 & 65535).to_bytes(2, 'little')
    out.write(res)
)PY";

struct Case {
  uint32_t format, frames, rate;
  std::vector<vlMixSource> sources;
  std::vector<std::vector<uint8_t>> data;
};

TEST(Mixer, MatchesThePythonReferenceForRandomSources) {
  std::mt19937 rng(20261207);
  std::vector<Case> cases;
  for (int c = 0; c < 40; c++) {
    Case k;
    k.format = 2 + rng() % 4;
    k.frames = 50 + rng() % 400;
    k.rate = 8000 + rng() % 40000;
    int count = 1 + rng() % 4;
    for (int n = 0; n < count; n++) {
      vlMixSource s{};
      s.format = rng() % 6;
      s.frames = 1 + rng() % 120;
      static const uint32_t kBytes[6] = {1, 2, 1, 2, 2, 4};
      std::vector<uint8_t> bytes(s.frames * kBytes[s.format]);
      for (auto& b : bytes) b = uint8_t(rng());
      if (c % 5 == 0) for (auto& b : bytes) b = (b & 1) ? 0x7F : 0x80;  // full scale
      k.data.push_back(bytes);
      s.pitch = 1000 + rng() % 90000 + (rng() % 1000) / 1000.0;
      s.position = (rng() % 4) ? 0.0 : (rng() % 5000) / 37.0;
      s.threshold = (rng() % 3) ? 0 : int32_t(rng() % 200);
      s.length = (rng() % 3) ? -1 : int32_t(rng() % 300);
      s.loop = rng() % 2;
      s.scale = (rng() % 2) ? 1.0 : (rng() % 3000) / 1000.0;
      s.scaled = s.scale != 1.0;
      s.volume = 65536;
      s.step = s.pitch / k.rate;
      k.sources.push_back(s);
    }
    cases.push_back(k);
  }
  TempDir dir;
  {
    std::ofstream spec(dir.File("spec.txt"));
    spec.precision(17);
    for (const Case& k : cases) {
      spec << k.format << ' ' << k.frames << ' ' << k.rate << ' ' << k.sources.size() << '\n';
      for (size_t n = 0; n < k.sources.size(); n++) {
        const vlMixSource& s = k.sources[n];
        spec << s.format << ' ' << s.frames << ' ' << s.pitch << ' ' << s.position << ' ' << s.threshold << ' '
             << s.length << ' ' << s.loop << ' ' << s.scale << ' ';
        for (uint8_t b : k.data[n]) spec << "0123456789abcdef"[b >> 4] << "0123456789abcdef"[b & 15];
        spec << '\n';
      }
    }
  }
  ASSERT_EQ(RunPython(dir, kReference, "'" + dir.File("spec.txt") + "' '" + dir.File("ref.bin") + "'"), 0);
  std::vector<uint8_t> reference = ReadBytes(dir.File("ref.bin"));
  size_t at = 0;
  for (size_t c = 0; c < cases.size(); c++) {
    Case& k = cases[c];
    for (size_t n = 0; n < k.sources.size(); n++) k.sources[n].pcm = k.data[n].data();
    static const uint32_t kOut[6] = {0, 0, 1, 2, 2, 4};
    std::vector<uint8_t> out(k.frames * kOut[k.format]);
    MixSources(k.sources.data(), int(k.sources.size()), out.data(), k.frames, k.format);
    ASSERT_LE(at + out.size(), reference.size());
    EXPECT_EQ(out, std::vector<uint8_t>(reference.begin() + at, reference.begin() + at + out.size())) << "case " << c;
    at += out.size();
  }
  EXPECT_EQ(at, reference.size());
}

TEST(Mixer, EdgeRulesOfThresholdsClampingAndPitch) {
  // Two full-scale 16-bit sources clamp in a 16-bit stereo output.
  std::vector<uint8_t> loud = {0xFF, 0x7F, 0xFF, 0x7F};
  vlMixSource s{};
  s.format = 5;
  s.pcm = loud.data();
  s.frames = 1;
  s.loop = 1;
  s.volume = 65536;
  s.length = -1;
  s.step = 1.0;
  vlMixSource two[2] = {s, s};
  int16_t out[2];
  MixSources(two, 2, reinterpret_cast<uint8_t*>(out), 1, 5);
  EXPECT_EQ(out[0], 32767);
  EXPECT_EQ(out[1], 32767);
  // Threshold 100: silent before, then one source frame per output frame
  // at equal pitch, every other at twice the pitch; silence after the end
  // of a source without loop.
  std::vector<uint8_t> ramp(200);
  for (int i = 0; i < 200; i++) ramp[i] = uint8_t(i);
  vlMixSource r{};
  r.format = 2;
  r.pcm = ramp.data();
  r.frames = 200;
  r.volume = 65536;
  r.length = -1;
  r.threshold = 100;
  r.step = 2.0;
  std::vector<uint8_t> mono(600);
  MixSources(&r, 1, mono.data(), 300, 3);
  for (int i = 0; i < 100; i++) ASSERT_EQ(mono[i * 2], 0) << i;
  EXPECT_EQ(mono[100 * 2], 0);
  EXPECT_EQ(mono[101 * 2], 2);
  EXPECT_EQ(mono[102 * 2], 4);
  EXPECT_EQ(mono[299 * 2], 0);  // past the end of the source
  // Mono versus stereo output of one source: (l + r) >> 17 against l >> 16.
  vlMixSource one = r;
  one.threshold = 0;
  one.step = 1.0;
  one.position = 0;
  one.mixed = 0;
  uint8_t m8[1], st8[2];
  one.position = 77;
  vlMixSource copy = one;
  MixSources(&one, 1, m8, 1, 2);
  MixSources(&copy, 1, st8, 1, 3);
  EXPECT_EQ(m8[0], 77);
  EXPECT_EQ(st8[0], 77);
  EXPECT_EQ(st8[1], 77);
}

class MixCommand : public vltest::HandlerTest {
 protected:
  void TearDown() override {
    FreeSoundLib(L);
    HandlerTest::TearDown();
  }
  int MakeSample(int id, std::vector<int> values, int format = 0) {
    return Call(CmdCreateSample, [&] {
      vl::PushNumber(L, id);
      vl::PushNewTable(L);
      for (size_t i = 0; i < values.size(); i++) {
        vl::PushNumber(L, values[i]);
        vl::RawSetTableIndex(L, 2, int(i));
      }
      vl::PushNumber(L, 8000);
      vl::PushNumber(L, format);
    });
  }
  int Mix(int target, int frames, int rate, int format, int source, void (*options)(vlVMState*)) {
    return Call(CmdMixSample, [&] {
      vl::PushNumber(L, target);
      vl::PushNumber(L, frames);
      vl::PushNumber(L, rate);
      vl::PushNumber(L, format);
      vl::PushNumber(L, source);
      vl::PushNewTable(L);
      options(L);
    });
  }
};

TEST_F(MixCommand, MixesSamplesIntoANewSampleAndReportsBadArguments) {
  ASSERT_EQ(MakeSample(1, {10, -20, 30, -40}), 0);
  ASSERT_EQ(Mix(2, 8, 8000, 1, 1, [](vlVMState*) {}), 0);
  vlSample* mixed = nullptr;
  ASSERT_EQ(GetSampleByID({2, nullptr}, &mixed), 0);
  EXPECT_EQ(mixed->pitch, 8000u);
  EXPECT_EQ(mixed->data->frames, 8u);
  int16_t v[8];
  std::memcpy(v, mixed->data->pcm, 16);
  // 8-bit values reach 16-bit mono as (v x 65536 x 2) >> 9.
  EXPECT_EQ(v[0], 10 * 256);
  EXPECT_EQ(v[3], -40 * 256);
  EXPECT_EQ(v[4], 10 * 256);  // looped
  EXPECT_EQ(Mix(3, 8, 8000, 4, 1, [](vlVMState*) {}), ERR_WRONGUSAGE);
  EXPECT_EQ(Mix(3, 8, 255, 1, 1, [](vlVMState*) {}), 1479);
  EXPECT_EQ(Mix(3, 8, 8000, 1, 1, [](vlVMState* L) {
              vl::PushString(L, "pitch");
              vl::PushNumber(L, 0.5);
              vl::RawSetTableValue(L, -3);
            }),
            ERR_WRONGUSAGE);
  EXPECT_EQ(Mix(3, 8, 8000, 1, 1, [](vlVMState* L) {
              vl::PushString(L, "offset");
              vl::PushNumber(L, -1);
              vl::RawSetTableValue(L, -3);
            }),
            1447);
  // The target is freed before the sources are looked up.
  EXPECT_EQ(Mix(1, 8, 8000, 1, 1, [](vlVMState*) {}), ERR_FINDSAMPLE);
  EXPECT_EQ(Mix(5, 8, 8000, 1, 9, [](vlVMState*) {}), ERR_FINDSAMPLE);
}

}  // namespace
