// Every shared module rendered by the replayer against two independent
// module players, xmp and openmpt123: the song's length, the loudness
// envelope over time, and the side each voice is heard on.
#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "media/sound/protracker.h"
#include "sound_test_util.h"
#include "tests/support/testdata.h"

using namespace soundtest;

namespace {

constexpr uint32_t kRate = 48000;
constexpr uint32_t kEnvelopeFrames = kRate / 20;  // 50 ms
constexpr int kBalanceSeconds = 8;

using Stereo = std::vector<int16_t>;  // interleaved left, right

bool HaveTool(const char* name) { return Run(std::string("command -v ") + name) == 0; }

// The PCM of a 16-bit stereo RIFF WAVE file.
Stereo ReadWav(const std::string& path) {
  std::vector<uint8_t> b = ReadBytes(path);
  Stereo pcm;
  if (b.size() < 12 || std::memcmp(b.data(), "RIFF", 4) || std::memcmp(b.data() + 8, "WAVE", 4)) return pcm;
  for (size_t at = 12; at + 8 <= b.size();) {
    uint32_t size = b[at + 4] | b[at + 5] << 8 | b[at + 6] << 16 | uint32_t(b[at + 7]) << 24;
    size_t end = std::min(b.size(), at + 8 + size_t(size));
    if (!std::memcmp(b.data() + at, "data", 4)) {
      pcm.resize((end - at - 8) / 2);
      std::memcpy(pcm.data(), b.data() + at + 8, pcm.size() * 2);
      return pcm;
    }
    at = end + (size & 1);
  }
  return pcm;
}

// The replayer's rendering until the song ends (or a time limit), from a
// song position.
Stereo RenderOurs(std::vector<uint8_t> image, double limitSeconds, int startPosition = 0) {
  size_t size = ParseProtrackerModule(nullptr, image.data(), image.size(), kRate);
  if (!size) return {};
  std::vector<uint8_t> block(size);
  auto* state = reinterpret_cast<vlModuleState*>(block.data());
  if (ParseProtrackerModule(state, image.data(), image.size(), kRate) != size) return {};
  state->flags |= VL_MOD_STOP_AT_END;
  state->pendingPosition = startPosition != 0;
  state->pendingSong = startPosition;
  constexpr uint32_t kBlock = 480;
  Stereo out;
  while (!(state->flags & VL_MOD_SONG_ENDED) && out.size() / 2 < limitSeconds * kRate) {
    out.resize(out.size() + kBlock * 2);
    RenderModuleAudio(state, out.data() + out.size() - kBlock * 2, kBlock);
  }
  return out;
}

// RMS of the mono mix over 50 ms windows.
std::vector<double> Envelope(const Stereo& pcm) {
  std::vector<double> env;
  for (size_t f = 0; f + kEnvelopeFrames <= pcm.size() / 2; f += kEnvelopeFrames) {
    double sum = 0;
    for (size_t i = f; i < f + kEnvelopeFrames; i++) {
      double m = double(pcm[i * 2]) + pcm[i * 2 + 1];
      sum += m * m;
    }
    env.push_back(std::sqrt(sum / kEnvelopeFrames));
  }
  return env;
}

// Pearson correlation; the shorter envelope is padded with silence.
double Correlation(std::vector<double> a, std::vector<double> b) {
  size_t n = std::max(a.size(), b.size());
  a.resize(n, 0.0);
  b.resize(n, 0.0);
  double ma = 0, mb = 0;
  for (size_t i = 0; i < n; i++) ma += a[i], mb += b[i];
  ma /= double(n);
  mb /= double(n);
  double ab = 0, aa = 0, bb = 0;
  for (size_t i = 0; i < n; i++) {
    ab += (a[i] - ma) * (b[i] - mb);
    aa += (a[i] - ma) * (a[i] - ma);
    bb += (b[i] - mb) * (b[i] - mb);
  }
  return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0.0;
}

// Left and right energy.
std::pair<double, double> Energy(const Stereo& pcm) {
  double l = 0, r = 0;
  for (size_t i = 0; i + 1 < pcm.size(); i += 2) {
    l += double(pcm[i]) * pcm[i];
    r += double(pcm[i + 1]) * pcm[i + 1];
  }
  return {l, r};
}

// The module with every voice but one silenced: its notes and instruments
// taken out, its effects (speed, breaks, jumps) kept.
std::vector<uint8_t> Solo(std::vector<uint8_t> image, uint32_t voices, uint32_t keep) {
  uint32_t patterns = *std::max_element(image.begin() + 952, image.begin() + 1080) + 1u;
  for (size_t cell = 0; cell < size_t(patterns) * 64 * voices; cell++) {
    if (cell % voices == keep) continue;
    uint8_t* c = &image[1084 + cell * 4];
    c[0] = c[1] = 0;
    c[2] &= 15;
  }
  return image;
}

// The first song position whose pattern gives the voice a note; -1 none.
int FirstPositionOf(const std::vector<uint8_t>& image, uint32_t voices, uint32_t voice) {
  for (int position = 0; position < std::min<int>(image[950], 128); position++) {
    size_t pattern = 1084 + size_t(image[952 + position]) * 256 * voices;
    for (size_t cell = voice; cell < 64 * voices; cell += voices) {
      const uint8_t* c = &image[pattern + cell * 4];
      if (((c[0] & 15) << 8 | c[1]) != 0) return position;
    }
  }
  return -1;
}

uint32_t VoiceCount(std::vector<uint8_t> image) {
  size_t size = ParseProtrackerModule(nullptr, image.data(), image.size(), kRate);
  std::vector<uint8_t> block(size);
  auto* state = reinterpret_cast<vlModuleState*>(block.data());
  ParseProtrackerModule(state, image.data(), image.size(), kRate);
  return state->voiceCount;
}

Stereo RenderXmp(const TempDir& dir, const std::string& module, int seconds = 0, int startPosition = 0) {
  std::string wav = dir.File("xmp.wav");
  std::string limit = seconds ? " -t " + std::to_string(seconds) + " -s " + std::to_string(startPosition) : "";
  if (Run("xmp -q -f 48000" + limit + " -o '" + wav + "' '" + module + "'") != 0) return {};
  return ReadWav(wav);
}

Stereo RenderOpenmpt(const TempDir& dir, const std::string& module) {
  std::string wav = dir.File("openmpt.wav");
  if (Run("openmpt123 --quiet --batch --no-float --samplerate 48000 --force -o '" + wav + "' '" + module + "'") != 0)
    return {};
  return ReadWav(wav);
}

std::vector<std::string> ModuleNames() {
  std::vector<std::string> names;
  if (DIR* d = opendir(TestData("mod").c_str())) {
    while (dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name.size() > 4 && name.substr(name.size() - 4) == ".mod") names.push_back(name);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  // Without the shared files one case stands in and is skipped.
  if (names.empty()) names.push_back("none.mod");
  return names;
}

class ModuleCompare : public testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    VL_REQUIRE_TESTDATA();
    if (!HaveTool("xmp") || !HaveTool("openmpt123")) GTEST_SKIP() << "xmp and openmpt123 are needed";
    file_ = TestData("mod/" + GetParam());
    image_ = ReadBytes(file_);
    ASSERT_GT(image_.size(), kModuleHeaderSize);
  }
  std::string file_;
  std::vector<uint8_t> image_;
};

TEST_P(ModuleCompare, LengthAndEnvelopeAgreeWithTwoModulePlayers) {
  TempDir dir;
  Stereo xmp = RenderXmp(dir, file_), mpt = RenderOpenmpt(dir, file_);
  ASSERT_FALSE(xmp.empty());
  ASSERT_FALSE(mpt.empty());
  Stereo ours = RenderOurs(image_, 2.0 * double(xmp.size() / 2) / kRate + 10);
  double oursSeconds = double(ours.size() / 2) / kRate, xmpSeconds = double(xmp.size() / 2) / kRate,
         mptSeconds = double(mpt.size() / 2) / kRate;
  std::vector<double> envOurs = Envelope(ours), envXmp = Envelope(xmp), envMpt = Envelope(mpt);
  double ourCorrelation = Correlation(envOurs, envXmp), peerCorrelation = Correlation(envXmp, envMpt);
  std::printf("%s: length ours %.2f s, xmp %.2f s, openmpt123 %.2f s; envelope correlation with xmp %.3f, "
              "openmpt123 with xmp %.3f\n",
              GetParam().c_str(), oursSeconds, xmpSeconds, mptSeconds, ourCorrelation, peerCorrelation);
  EXPECT_NEAR(oursSeconds, xmpSeconds, xmpSeconds * 0.005);
  EXPECT_GE(ourCorrelation, peerCorrelation - 0.03);
}

TEST_P(ModuleCompare, EachVoiceIsHeardOnTheSideXmpPlaysItOn) {
  TempDir dir;
  uint32_t voices = VoiceCount(image_);
  int heard = 0;
  for (uint32_t v = 0; v < voices; v++) {
    // From where the voice first plays.
    int start = FirstPositionOf(image_, voices, v);
    if (start < 0) continue;
    std::string solo = dir.File("solo.mod");
    WriteBytes(solo, Solo(image_, voices, v));
    auto [xl, xr] = Energy(RenderXmp(dir, solo, kBalanceSeconds, start));
    auto [ol, orr] = Energy(RenderOurs(Solo(image_, voices, v), kBalanceSeconds, start));
    std::printf("%s voice %u: share of the left side, xmp %.2f, ours %.2f\n", GetParam().c_str(), v + 1,
                xl + xr > 0 ? xl / (xl + xr) : 0.5, ol + orr > 0 ? ol / (ol + orr) : 0.5);
    if (xl + xr < 1e8) continue;  // silent there after all
    heard++;
    EXPECT_EQ(xl > xr, ol > orr) << "voice " << v + 1;
  }
  EXPECT_GT(heard, 1);
}

INSTANTIATE_TEST_SUITE_P(SharedModules, ModuleCompare, testing::ValuesIn(ModuleNames()),
                         [](const testing::TestParamInfo<std::string>& info) {
                           std::string name = info.param.substr(0, info.param.size() - 4);
                           for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                           return name;
                         });

}  // namespace
