// IFF ANIM and CDXL files made by a generator written from the formats'
// rules (tests/formats/pictures/make_iff.py) decoded against the pixels it
// wrote beside them, and the anim-source dispatch over real files.
#include <cstring>

#include "../pictures/picture_test_util.h"
#include "formats/anim_source.h"
#include "formats/cdxl.h"
#include "formats/gif.h"
#include "formats/iff_anim.h"
#include "runtime/os.h"
#include "runtime/errors.h"
#include "runtime/stream.h"
#include "vm/error_codes.h"

using namespace pictest;

namespace {

std::string Script() { return std::string(getenv("VL_SOURCE_DIR")) + "/tests/formats/pictures/make_iff.py"; }

bool Generate(const std::string& what, const std::string& file, const std::string& kind) {
  int status = 0;
  RunTool("python3 " + Quote(Script()) + " " + what + " " + Quote(file) + " " + kind, &status);
  return status == 0;
}

// The generator's expected pixels as 0x00RRGGBB words.
std::vector<uint32_t> Expected(const std::string& file) {
  const auto b = ReadBytes(file);
  std::vector<uint32_t> out;
  for (size_t i = 4; i + 2 < b.size(); i += 3) out.push_back((uint32_t(b[i]) << 16) | (b[i + 1] << 8) | b[i + 2]);
  return out;
}

std::vector<uint32_t> Rgb(const uint32_t* px, size_t n) {
  std::vector<uint32_t> out(px, px + n);
  for (auto& v : out) v &= 0xFFFFFF;
  return out;
}

vlANIMReader* OpenAnim(const std::string& file, int32_t* w, int32_t* h, int32_t* frames, int32_t transparency = 0) {
  vlStream* s = OpenFileStream(file.c_str(), VL_MODE_READ, nullptr);
  return s ? OpenANIMReader(s, DEINTERLACE_DEFAULT, w, h, frames, transparency) : nullptr;
}

}  // namespace

// Every operation with copy, skip and repeat ops (a repeat in the middle of
// a column), 2- and 4-byte elements, interleave 1 (XORed into the frame
// before) with a palette change in a delta. Without a DPAN, an anim whose
// second delta runs elements (100, 101) ends two frames before its last
// FORM: those two loop back to the start.
TEST(IffAnim, DeltaOperationsGiveTheGeneratedFrames) {
  TempDir dir;
  for (const char* kind : {"op5", "op7", "op8", "ehb", "op5xor", "op7long", "op8long", "op100"}) {
    SCOPED_TRACE(kind);
    const std::string file = dir.File(std::string(kind) + ".anim");
    ASSERT_TRUE(Generate("anim", file, kind));
    int32_t w = 0, h = 0, frames = 0;
    vlANIMReader* r = OpenAnim(file, &w, &h, &frames);
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(frames, std::string(kind) == "op100" ? 3 : 5);
    // In order, then out of order (a rewind and a replay), then in order.
    for (int n : {0, 1, 2, 3, 4, 1, 3, 0, 2}) {
      if (n >= frames) continue;
      SCOPED_TRACE(n);
      uint32_t* px = DecodeANIMFrame(r, n, nullptr);
      ASSERT_NE(px, nullptr);
      EXPECT_EQ(Rgb(px, size_t(w) * h), Expected(file + "." + std::to_string(n) + ".rgb"));
      FreeMemory(px);
    }
    // Frame 0's delay comes from the first FORM's ANHD, frame n's from the
    // delta that makes it (3 + n ticks of 1/60 s).
    EXPECT_EQ(GetANIMFrameDelay(r, 0), 7 * 1000 / 60);
    EXPECT_EQ(GetANIMFrameDelay(r, frames - 1), (2 + frames) * 1000 / 60);
    EXPECT_EQ(GetANIMFrameDelay(r, 2), 5 * 1000 / 60);
    CloseANIMReader(r);
  }
}

// Interlaced anims whose first delta writes the even or the odd field: as
// the planes stand by default, with the other field made of the rows
// beside it when doubled; the two last deltas are loop frames.
TEST(IffAnim, InterlacedFieldsInBothModes) {
  TempDir dir;
  for (const char* kind : {"even", "odd"}) {
    const std::string file = dir.File(std::string(kind) + ".anim");
    ASSERT_TRUE(Generate("interlaced", file, kind));
    for (int32_t mode : {DEINTERLACE_DEFAULT, DEINTERLACE_DOUBLE}) {
      SCOPED_TRACE(std::string(kind) + (mode == DEINTERLACE_DOUBLE ? " double" : " default"));
      int32_t w = 0, h = 0, frames = 0;
      vlStream* s = OpenFileStream(file.c_str(), VL_MODE_READ, nullptr);
      vlANIMReader* r = s ? OpenANIMReader(s, mode, &w, &h, &frames, 0) : nullptr;
      ASSERT_NE(r, nullptr);
      ASSERT_EQ(frames, 5);
      for (int n : {0, 1, 2, 3, 4, 2, 1}) {
        SCOPED_TRACE(n);
        uint32_t* px = DecodeANIMFrame(r, n, nullptr);
        ASSERT_NE(px, nullptr);
        const std::string want = file + "." + std::to_string(n) + (mode == DEINTERLACE_DOUBLE ? ".double" : "");
        EXPECT_EQ(Rgb(px, size_t(w) * h), Expected(want + ".rgb"));
        FreeMemory(px);
      }
      CloseANIMReader(r);
    }
  }
}

// Operation 101 runs, the DPAN frame count, and the transparent pen turned
// into alpha when transparency is asked for.
TEST(IffAnim, ElementRunsAndTransparentPen) {
  TempDir dir;
  const std::string file = dir.File("t.anim");
  ASSERT_TRUE(Generate("anim", file, "op101"));
  int32_t w = 0, h = 0, frames = 0;
  vlANIMReader* r = OpenAnim(file, &w, &h, &frames, 1);
  ASSERT_NE(r, nullptr);
  ASSERT_EQ(frames, 5);
  for (int n : {0, 1, 2, 3, 4, 2}) {
    SCOPED_TRACE(n);
    int32_t transparency = 0;
    uint32_t* px = DecodeANIMFrame(r, n, &transparency);
    ASSERT_NE(px, nullptr);
    EXPECT_EQ(transparency, 1);
    const auto want = Expected(file + "." + std::to_string(n) + ".rgb");
    const auto pens = ReadBytes(file + "." + std::to_string(n) + ".idx");
    ASSERT_EQ(pens.size(), size_t(w) * h);
    int clear = 0;
    for (size_t i = 0; i < pens.size(); ++i) {
      ASSERT_EQ(px[i] & 0xFFFFFF, want[i]) << i;
      ASSERT_EQ(px[i] >> 24, pens[i] == 3 ? 0u : 255u) << i;
      clear += pens[i] == 3;
    }
    EXPECT_GT(clear, 0);
    FreeMemory(px);
  }
  CloseANIMReader(r);
}

TEST(IffAnim, UnsupportedOperationAndDamage) {
  TempDir dir;
  const std::string file = dir.File("a.anim");
  ASSERT_TRUE(Generate("anim", file, "op5"));
  auto bytes = ReadBytes(file);
  // The first delta's ANHD operation becomes 3.
  size_t anhd = 0;
  for (size_t i = 0, seen = 0; i + 4 < bytes.size(); ++i)
    if (memcmp(&bytes[i], "ANHD", 4) == 0 && ++seen == 2) {
      anhd = i;
      break;
    }
  ASSERT_NE(anhd, 0u);
  auto patched = bytes;
  patched[anhd + 8] = 3;
  WriteBytes(file, patched);
  int32_t w, h, frames;
  EXPECT_EQ(OpenAnim(file, &w, &h, &frames), nullptr);
  // A first FORM whose size misses its end: the deltas are found right
  // after its BODY.
  patched = bytes;
  patched[19] += 2;
  WriteBytes(file, patched);
  vlANIMReader* r = OpenAnim(file, &w, &h, &frames);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(frames, 5);
  uint32_t* px = DecodeANIMFrame(r, 3, nullptr);
  ASSERT_NE(px, nullptr);
  EXPECT_EQ(Rgb(px, size_t(w) * h), Expected(file + ".3.rgb"));
  FreeMemory(px);
  CloseANIMReader(r);
  // Truncated in the third delta: opens, frames before it decode, the
  // damaged frame gives null.
  std::vector<uint8_t> cut(bytes.begin(), bytes.end() - 200);
  WriteBytes(file, cut);
  r = OpenAnim(file, &w, &h, &frames);
  ASSERT_NE(r, nullptr);
  px = DecodeANIMFrame(r, 1, nullptr);
  EXPECT_NE(px, nullptr);
  FreeMemory(px);
  EXPECT_EQ(DecodeANIMFrame(r, frames - 1, nullptr), nullptr);
  CloseANIMReader(r);
  for (size_t keep : {size_t(0), size_t(11), size_t(40), size_t(100)}) {
    WriteBytes(file, std::vector<uint8_t>(bytes.begin(), bytes.begin() + keep));
    EXPECT_EQ(OpenAnim(file, &w, &h, &frames), nullptr) << keep;
  }
}

TEST(Cdxl, PalettedFramesWithSound) {
  TempDir dir;
  const std::string file = dir.File("a.cdxl");
  ASSERT_TRUE(Generate("cdxl", file, "pal"));
  vlVideoFormatInfo info{};
  vlCDXLDecoder* d = OpenCDXL(file.c_str(), &info);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(info.width, 24u);
  EXPECT_EQ(info.height, 6u);
  EXPECT_EQ(info.durationMs, 390u);  // 5 frames at 12.8 per second
  EXPECT_EQ(info.audioRate, 512u);   // 40 bytes a frame
  EXPECT_EQ(info.hasAudio, 1u);
  EXPECT_EQ(info.one, 1u);
  EXPECT_EQ(info.seekable, 1u);
  EXPECT_EQ(GetCDXLFrameCount(d), 5u);
  EXPECT_STREQ(GetCDXLFormatName(d), "CDXL");
  std::vector<uint32_t> pixels(24 * 6);
  int16_t samples[64];
  for (int n = 0; n < 5; ++n) {
    SCOPED_TRACE(n);
    vlVideoPacketInfo video{}, audio{};
    ASSERT_EQ(ReadCDXLPacket(d, &video), 0);
    ASSERT_EQ(video.kind, 0u);
    EXPECT_DOUBLE_EQ(video.time, n / 12.8);
    vlVideoFrameInfo frame{pixels.data(), 0, 0, 0, 0, 0};
    ASSERT_EQ(DecodeCDXLVideo(d, video.packet, &frame), 0);
    EXPECT_EQ(frame.stride, 24 * 4);
    EXPECT_EQ(frame.duration, -1.0);
    const auto want = Expected(file + "." + std::to_string(n) + ".rgb");
    for (size_t i = 0; i < pixels.size(); ++i) {
      const auto* b = reinterpret_cast<const uint8_t*>(&pixels[i]);
      ASSERT_EQ((uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (b[2] << 8) | b[3], want[i]) << i;
    }
    FreeCDXLPacket(video.packet);
    ASSERT_EQ(ReadCDXLPacket(d, &audio), 0);
    ASSERT_EQ(audio.kind, 1u);
    EXPECT_DOUBLE_EQ(audio.time, video.time);
    vlVideoSampleInfo s{samples, 0, 0};
    ASSERT_EQ(DecodeCDXLAudio(d, audio.packet, &s), 0);
    EXPECT_EQ(s.size, 80u);
    EXPECT_EQ(s.channels, 1u);
    const auto snd = ReadBytes(file + "." + std::to_string(n) + ".snd");
    for (int i = 0; i < 40; ++i) ASSERT_EQ(samples[i], int8_t(snd[i]) * 256) << i;
    FreeCDXLPacket(audio.packet);
  }
  vlVideoPacketInfo end{};
  EXPECT_EQ(ReadCDXLPacket(d, &end), -1);
  // A time past the end lands on the last frame.
  EXPECT_EQ(SeekCDXL(d, 100000), 0);
  vlVideoPacketInfo last{};
  ASSERT_EQ(ReadCDXLPacket(d, &last), 0);
  EXPECT_DOUBLE_EQ(last.time, 4 / 12.8);
  FreeCDXLPacket(last.packet);
  CloseCDXL(d);
}

TEST(Cdxl, HoldAndModifyAndRefusedFiles) {
  TempDir dir;
  for (const char* kind : {"ham6", "ham8"}) {
    SCOPED_TRACE(kind);
    const std::string file = dir.File(std::string(kind) + ".cdxl");
    ASSERT_TRUE(Generate("cdxl", file, kind));
    vlVideoFormatInfo info{};
    vlCDXLDecoder* d = OpenCDXL(file.c_str(), &info);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(info.hasAudio, 0u);
    if (std::string(kind) == "ham8") {
      EXPECT_EQ(info.durationMs, 500u);  // 30720-byte frames: 10 a second
    }
    std::vector<uint32_t> pixels(24 * 6);
    for (int n = 0; n < 5; ++n) {
      vlVideoPacketInfo video{};
      ASSERT_EQ(ReadCDXLPacket(d, &video), 0);
      ASSERT_EQ(video.kind, 0u);  // no sound: video packets only
      vlVideoFrameInfo frame{pixels.data(), 0, 0, 0, 0, 0};
      DecodeCDXLVideo(d, video.packet, &frame);
      const auto want = Expected(file + "." + std::to_string(n) + ".rgb");
      for (size_t i = 0; i < pixels.size(); ++i) {
        const auto* b = reinterpret_cast<const uint8_t*>(&pixels[i]);
        ASSERT_EQ((uint32_t(b[1]) << 16) | (b[2] << 8) | b[3], want[i]) << n << " " << i;
      }
      FreeCDXLPacket(video.packet);
    }
    CloseCDXL(d);
  }
  const std::string bad = dir.File("resized.cdxl");
  ASSERT_TRUE(Generate("cdxl", bad, "resized"));
  vlVideoFormatInfo info{};
  EXPECT_EQ(OpenCDXL(bad.c_str(), &info), nullptr);
  EXPECT_EQ(OpenCDXL(dir.File("missing.cdxl").c_str(), &info), nullptr);
  WriteBytes(bad, std::vector<uint8_t>(100, 1));
  EXPECT_EQ(OpenCDXL(bad.c_str(), &info), nullptr);
}

TEST(AnimSources, DispatchByContent) {
  TempDir dir;
  const std::string iff = dir.File("a.anim"), gif2 = dir.File("two.gif"), gif1 = dir.File("one.gif");
  ASSERT_TRUE(Generate("anim", iff, "op5"));
  int status = 0;
  RunTool("convert -delay 7 -size 5x3 xc:red xc:blue " + Quote(gif2) + " && convert -size 5x3 xc:red " + Quote(gif1),
          &status);
  ASSERT_EQ(status, 0);
  vlAnimSource* src = nullptr;
  int32_t w = 0, h = 0, frames = 0, alpha = -1;
  uintptr_t loader = 99;
  ASSERT_EQ(OpenAnimSource(iff.c_str(), "", nullptr, 0, 0, &src, &w, &h, &frames, &alpha, &loader), 0);
  EXPECT_EQ(src->kind, uint32_t(VL_ANIMSOURCE_IFF));
  EXPECT_EQ(IsIFFAnimSource(src), 1);
  EXPECT_EQ(loader, 0u);
  EXPECT_EQ(frames, 5);
  uint32_t* px = LoadAnimSourceFrame(src, 2, 0, nullptr);
  ASSERT_NE(px, nullptr);
  EXPECT_EQ(Rgb(px, size_t(w) * h), Expected(iff + ".2.rgb"));
  FreeAnimSourceFrame(src, px);
  EXPECT_EQ(GetAnimSourceFrameDelay(src, 2), 5 * 1000 / 60);
  CloseAnimSource(src);

  ASSERT_EQ(OpenAnimSource(gif2.c_str(), "inbuilt", nullptr, 0, 0, &src, &w, &h, &frames, &alpha, nullptr), 0);
  EXPECT_EQ(src->kind, uint32_t(VL_ANIMSOURCE_GIF));
  EXPECT_EQ(frames, 2);
  EXPECT_EQ(GetAnimSourceFrameDelay(src, 1), 70);
  px = LoadAnimSourceFrame(src, 1, 0, nullptr);
  ASSERT_NE(px, nullptr);
  EXPECT_EQ(px[0] & 0xFFFFFF, 0x0000FFu);
  FreeAnimSourceFrame(src, px);
  CloseAnimSource(src);
  EXPECT_EQ(IsAnimFile(gif2.c_str(), "", nullptr), 1);
  EXPECT_EQ(IsAnimFile(gif1.c_str(), "", nullptr), 0);
  EXPECT_EQ(IsAnimFile(iff.c_str(), "", nullptr), 1);

  // Not anims, short files, missing files and loader lists without a
  // built-in reader.
  const std::string wave = dir.File("a.wav"), tiny = dir.File("tiny");
  WriteBytes(wave, {'R', 'I', 'F', 'F', 36, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  WriteBytes(tiny, {'F', 'O', 'R', 'M'});
  EXPECT_EQ(OpenAnimSource(wave.c_str(), "", nullptr, 0, 0, &src, &w, &h, &frames, &alpha, nullptr), 1356);
  EXPECT_STREQ(GetErrorArgument(), wave.c_str());
  EXPECT_EQ(src, nullptr);
  EXPECT_EQ(OpenAnimSource(tiny.c_str(), "", nullptr, 0, 0, &src, &w, &h, &frames, &alpha, nullptr), ERR_READ);
  EXPECT_EQ(OpenAnimSource(dir.File("none").c_str(), "", nullptr, 0, 0, &src, &w, &h, &frames, &alpha, nullptr),
            ERR_READFILE);
  EXPECT_EQ(OpenAnimSource(iff.c_str(), "native", nullptr, 0, 0, &src, &w, &h, &frames, &alpha, nullptr), 1356);
  EXPECT_EQ(OpenAnimSource(iff.c_str(), "someplugin", nullptr, 0, 0, &src, &w, &h, &frames, &alpha, nullptr),
            1356);
}
