// Sound files as an applet loads and saves them, and music as the player
// plays it to the ALSA device (a file sink): every kind of sample file sox
// makes comes back from SaveSample with the same samples; a module's sound
// at the device follows the same loudness over time as xmp's rendering.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tests/player/player_harness.h"
#include "tests/support/rows_module.h"
#include "tests/support/testdata.h"

namespace {

using vlplayer::PlayerTest;
using vlplayer::Quote;
using vlplayer::Result;

using SoundFiles = PlayerTest;

// sox decoding a file to raw 16-bit samples: two files hold the same
// samples when these bytes are the same.
std::string Decoded(const std::string& file) { return "sox " + Quote(file) + " -t raw -e signed -b 16 -L -"; }

TEST_F(SoundFiles, SamplesOfEveryFormatRoundTripThroughSaveSample) {
  int status = 0;
  Tool("sox --version", &status);
  if (status != 0) GTEST_SKIP() << "sox is not installed";
  struct Case {
    const char* name;
    const char* soxArgs;  // the format part of the sox command
  };
  const std::vector<Case> cases = {
      {"u8mono.wav", "-r 11025 -c 1 -b 8 -e unsigned"},   {"u8stereo.wav", "-r 22050 -c 2 -b 8 -e unsigned"},
      {"s16mono.wav", "-r 44100 -c 1 -b 16 -e signed"},   {"s16stereo.wav", "-r 48000 -c 2 -b 16 -e signed"},
      {"mono.8svx", "-r 8363 -c 1 -b 8"},                  {"stereo.8svx", "-r 16000 -c 2 -b 8"},
  };
  std::string script = ".line 1\n";
  int id = 1;
  for (const Case& c : cases) {
    std::string file = dir() + "/" + c.name;
    // Two different tones, so that swapped channels would show.
    Tool(std::string("sox -n ") + c.soxArgs + " " + Quote(file) + " synth 0.3 sine 440 sine 660 vol 0.7", &status);
    ASSERT_EQ(status, 0) << c.name;
    script += ".call loadsample " + std::to_string(id) + " \"" + file + "\"\n.call savesample " + std::to_string(id) +
              " \"" + file + ".out.wav\"\n";
    id++;
  }
  // 16SV: sox makes the big-endian 16-bit body, the IFF header is put
  // around it here (sox writes no 16SV).
  std::string body = dir() + "/body.raw";
  Tool("sox -n -r 22050 -c 1 -t raw -e signed -b 16 -B " + Quote(body) + " synth 0.3 sine 523 vol 0.7", &status);
  ASSERT_EQ(status, 0);
  std::string pcm = Tool("cat " + Quote(body));
  ASSERT_EQ(pcm.size(), 22050u * 3 / 10 * 2);
  auto be32 = [](uint32_t v) { return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; };
  std::string vhdr = be32(pcm.size() / 2) + be32(0) + be32(0) + std::string{char(22050 >> 8), char(22050 & 255)} +
                     std::string{1, 0} + be32(0x10000);
  std::string form = "16SVVHDR" + be32(20) + vhdr + "BODY" + be32(pcm.size()) + pcm;
  std::string sv = WriteFile("mono.16sv", "FORM" + be32(form.size()) + form);
  script += ".call loadsample " + std::to_string(id) + " \"" + sv + "\"\n.call savesample " + std::to_string(id) +
            " \"" + sv + ".out.wav\"\n";
  script += ".call debugprint \"saved\"";
  Result r = Run({Applet("roundtrip", script)});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  ASSERT_EQ(r.out, "saved\n");

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string file = dir() + "/" + c.name;
    std::string source = Tool(Decoded(file), &status);
    ASSERT_EQ(status, 0);
    std::string saved = Tool(Decoded(file + ".out.wav"), &status);
    ASSERT_EQ(status, 0);
    EXPECT_GT(source.size(), 1000u);
    EXPECT_TRUE(source == saved) << source.size() << " vs " << saved.size();
    EXPECT_EQ(Tool("soxi -r " + Quote(file + ".out.wav")), Tool("soxi -r " + Quote(file)));
    EXPECT_EQ(Tool("soxi -c " + Quote(file + ".out.wav")), Tool("soxi -c " + Quote(file)));
    EXPECT_EQ(Tool("soxi -b " + Quote(file + ".out.wav")), Tool("soxi -b " + Quote(file)));
  }
  // The 16SV body, byte-swapped, is the saved WAV's data.
  std::string saved = Tool("sox " + Quote(sv + ".out.wav") + " -t raw -e signed -b 16 -B -", &status);
  ASSERT_EQ(status, 0);
  EXPECT_TRUE(saved == pcm);
  EXPECT_EQ(Tool("soxi -r " + Quote(sv + ".out.wav")), "22050\n");
  EXPECT_EQ(Tool("soxi -b " + Quote(sv + ".out.wav")), "16\n");
}

// RIFF and IFF pad a chunk of odd size with a zero byte: sox-made WAV and
// 8SVX files with an odd chunk put before their sound, padded, and
// unpadded as some writers leave it, load with the same samples as the
// files sox made; sox reads the padded ones too.
TEST_F(SoundFiles, AnOddSizedChunkIsReadWithOrWithoutItsPadByte) {
  int status = 0;
  Tool("sox --version", &status);
  if (status != 0) GTEST_SKIP() << "sox is not installed";
  auto le32 = [](uint32_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; };
  auto be32 = [](uint32_t v) { return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; };
  struct Case {
    const char* name;
    const char* soxArgs;
    bool riff;
  };
  const Case cases[] = {{"odd.wav", "-r 22050 -c 2 -b 16 -e signed", true}, {"odd.8svx", "-r 8363 -c 1 -b 8", false}};
  std::string script = ".line 1\n";
  std::vector<std::string> made;
  for (const Case& c : cases) {
    const std::string file = dir() + "/" + c.name;
    Tool(std::string("sox -n ") + c.soxArgs + " " + Quote(file) + " synth 0.2 sine 440 sine 660 vol 0.7", &status);
    ASSERT_EQ(status, 0) << c.name;
    const std::string bytes = Tool("cat " + Quote(file));
    // After the WAVE tag, or after the 8SVX VHDR chunk.
    const size_t at = c.riff ? 12 : 40;
    ASSERT_GT(bytes.size(), at);
    for (bool pad : {true, false}) {
      const std::string chunk = c.riff ? "LIST" + le32(5) + "INFOx" : "NAME" + be32(5) + "hello";
      std::string out = bytes.substr(0, at) + chunk + (pad ? std::string(1, '\0') : "") + bytes.substr(at);
      const uint32_t size = uint32_t(out.size() - 8);
      out.replace(4, 4, c.riff ? le32(size) : be32(size));
      const std::string name = WriteFile(std::string(pad ? "padded-" : "unpadded-") + c.name, out);
      if (pad) {
        Tool("sox " + Quote(name) + " -n stat 2>/dev/null", &status);
        EXPECT_EQ(status, 0) << "sox refuses " << name;
      }
      script += ".call loadsample " + std::to_string(made.size() + 1) + " \"" + name + "\"\n.call savesample " +
                std::to_string(made.size() + 1) + " \"" + name + ".out.wav\"\n";
      made.push_back(name);
    }
  }
  Result r = Run({Applet("oddchunks", script + ".call debugprint \"saved\"")});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  ASSERT_EQ(r.out, "saved\n");
  for (size_t i = 0; i < made.size(); ++i) {
    const std::string source = Tool(Decoded(dir() + "/" + cases[i / 2].name), &status);
    ASSERT_EQ(status, 0);
    const std::string saved = Tool(Decoded(made[i] + ".out.wav"), &status);
    ASSERT_EQ(status, 0);
    EXPECT_GT(source.size(), 1000u);
    EXPECT_TRUE(source == saved) << made[i] << ": " << source.size() << " vs " << saved.size();
  }
}

// A sound file as 48000 Hz 16-bit stereo samples (sox reads it).
std::vector<int16_t> Samples(const std::string& file) {
  std::string raw;
  if (FILE* pipe = popen(("sox " + Quote(file) + " -t raw -e signed -b 16 -L -r 48000 -c 2 -").c_str(), "r")) {
    char buffer[65536];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) raw.append(buffer, n);
    pclose(pipe);
  }
  std::vector<int16_t> out(raw.size() / 2);
  std::memcpy(out.data(), raw.data(), out.size() * 2);
  return out;
}

// RMS of one side (0 left, 1 right, 2 both mixed) over 50 ms windows.
std::vector<double> Envelope(const std::vector<int16_t>& pcm, int side) {
  std::vector<double> env;
  constexpr size_t kWindow = 2400;
  for (size_t f = 0; f + kWindow <= pcm.size() / 2; f += kWindow) {
    double sum = 0;
    for (size_t i = f; i < f + kWindow; i++) {
      double v = side == 2 ? double(pcm[i * 2]) + pcm[i * 2 + 1] : double(pcm[i * 2 + side]);
      sum += v * v;
    }
    env.push_back(std::sqrt(sum / kWindow));
  }
  return env;
}

// The best correlation of b against a shifted by up to a second (the
// device starts a little after the applet asks it to play).
double BestCorrelation(const std::vector<double>& a, const std::vector<double>& b, size_t length) {
  double best = -1;
  for (size_t lag = 0; lag <= 20 && lag + length <= a.size(); lag++) {
    if (length > b.size()) break;
    double ma = 0, mb = 0;
    for (size_t i = 0; i < length; i++) ma += a[lag + i], mb += b[i];
    ma /= double(length);
    mb /= double(length);
    double ab = 0, aa = 0, bb = 0;
    for (size_t i = 0; i < length; i++) {
      ab += (a[lag + i] - ma) * (b[i] - mb);
      aa += (a[lag + i] - ma) * (a[lag + i] - ma);
      bb += (b[i] - mb) * (b[i] - mb);
    }
    if (aa > 0 && bb > 0) best = std::max(best, ab / std::sqrt(aa * bb));
  }
  return best;
}

TEST_F(SoundFiles, AModuleAtTheDeviceSoundsAsXmpPlaysIt) {
  VL_REQUIRE_TESTDATA();
  int status = 0;
  Tool("xmp --version", &status);
  if (status != 0) GTEST_SKIP() << "xmp is not installed";
  std::string module = std::string(std::getenv("VL_TESTDATA")) + "/mod/blue_damage.mod";
  std::string xmp = dir() + "/xmp.wav";
  Tool("xmp -q -f 48000 -t 8 -o " + Quote(xmp) + " " + Quote(module), &status);
  ASSERT_EQ(status, 0);
  Result r = Run({Applet("module", ".line 1\n.call openmusic 1 \"" + module +
                                       "\"\n.line 2\n.call playmusic 1\n.line 3\n.call wait 300\n"
                                       ".call debugprint \"played\"")});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "played\n");
  std::vector<std::string> sink = SinkFiles();
  ASSERT_FALSE(sink.empty());
  std::vector<int16_t> ours = Samples(sink[0]), theirs = Samples(xmp);
  ASSERT_GT(ours.size() / 2, 48000u * 5);
  // Five seconds of the song: its loudness over time, and each side's.
  for (int side : {2, 0, 1}) {
    double c = BestCorrelation(Envelope(ours, side), Envelope(theirs, side), 100);
    std::printf("side %d: envelope correlation with xmp %.3f\n", side, c);
    EXPECT_GT(c, side == 2 ? 0.9 : 0.85) << "side " << side;
  }
}

// A module whose song (12 rows of 120 ms) openmpt123 says lasts 1.44 s, on
// a device that reports no trigger time (the file sink). Played once, its
// song and pattern positions follow the rows (each line gives the script's
// timer beside them), WaitSongPosition and WaitPatternPosition return when
// their row has come, and it ends after its song: the device records it to
// the frame and OnMusicEnd comes once it was heard. Played twice at half
// volume it ends after two songs; PlaySubsong starts it at that position.
TEST_F(SoundFiles, AModuleKeepsToItsRowsAndEndsAfterItsPasses) {
  const std::string module = WriteFile("rows.mod", vltest::RowsModule());
  Result r = Run({Applet("rows", R"(.function onend
  .params 1
  .call base=2 gettimer 1 -> e
  .call base=2 debugprint $e
  ret
.end
.defun OnEnd onend
.line 1
.table 0 { onmusicend = $OnEnd }
.call base=1 installeventhandler r0
.call openmusic 1 ")" + module + R"("
.call starttimer 1
.call playmusic 1
.call wait 50
.call getsongposition -> s
.call getpatternposition -> p
.call gettimer 1 -> t
.call debugprint $t $s $p
.call waitsongposition 2
.call gettimer 1 -> t
.call waitpatternposition 2
.call gettimer 1 -> u
.call getsongposition -> s
.call debugprint $t $u $s
)" + vlplayer::WaitUntilMusicStops(1, "once") + R"(.call starttimer 1
.table 0 { times = 2, volume = 32 }
.call base=1 playmusic 1 r0
)" + vlplayer::WaitUntilMusicStops(1, "twice") + R"(.call playsubsong 1 1
.call wait 6
.call getsongposition -> s
.call stopmusic 1
.call getsongposition -> t
.call debugprint $p $s $t)")});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  int t1, s1, p1, t2, t3, s3, e1, e2, s4;
  ASSERT_EQ(std::sscanf(r.out.c_str(), "%d %d %d\n%d %d %d\n%d\n%d\nfalse %d -1\n", &t1, &s1, &p1, &t2, &t3, &s3, &e1, &e2,
                        &s4), 9) << r.out;
  // The row heard is at most the timer's (the sound starts after it), and
  // late by a sweep and a period (some rows more under load).
  EXPECT_LE(s1 * 4 + p1, t1 / 120) << r.out;
  EXPECT_GE(s1 * 4 + p1, t1 / 120 - 4) << r.out;
  EXPECT_GE(t2, 960) << r.out;
  EXPECT_GE(t3, 1200) << r.out;
  EXPECT_LT(t3, 1200 + 1000) << r.out;
  EXPECT_EQ(s3, 2) << r.out;
  EXPECT_EQ(s4, 1) << r.out;
  const std::string info = Tool("openmpt123 --info " + Quote(module) + " 2>&1");
  int minutes = -1;
  double song = 1.44;
  const size_t at = info.find("Duration");
  if (at != std::string::npos) std::sscanf(info.c_str() + info.find(':', at) + 1, "%d:%lf", &minutes, &song);
  EXPECT_NEAR(minutes * 60 + song, 1.44, 0.001) << info;
  const std::vector<std::string> sink = SinkFiles();
  ASSERT_EQ(sink.size(), 3u);
  EXPECT_NEAR(vlplayer::SoxStat(sink[0], "Length (seconds)"), song, 0.001);
  EXPECT_NEAR(vlplayer::SoxStat(sink[1], "Length (seconds)"), 2 * song, 0.001);
  const double rms = vlplayer::SoxStat(sink[0], "RMS     amplitude");
  EXPECT_GT(rms, 0.05);
  EXPECT_NEAR(vlplayer::SoxStat(sink[1], "RMS     amplitude"), rms / 2, rms * 0.01);
  EXPECT_GE(e1, song * 1000 - 1);
  EXPECT_LT(e1, song * 1000 + 1500);
  EXPECT_GE(e2, 2 * song * 1000 - 1);
  EXPECT_LT(e2, 2 * song * 1000 + 1500);
}

}  // namespace
