// AVI files written here, probed and decoded by ffprobe/ffmpeg and read back
// by our reader; AVI files made by ffmpeg read by our reader.
#include <cstring>

#include "../pictures/picture_test_util.h"
#include "formats/avi.h"
#include "formats/jpeg_codec.h"
#include "graphics/bitmap.h"
#include "platform/offscreen_bitmap.h"
#include "runtime/errors.h"
#include "runtime/os.h"
#include "runtime/stream.h"
#include "vm/error_codes.h"

using namespace pictest;

namespace {

std::vector<uint32_t> Frame(int32_t w, int32_t h, int n) {
  std::vector<uint32_t> px(size_t(w) * h);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x)
      px[size_t(y) * w + x] = (uint32_t(x * 127 / w + n * 20) << 16) | (uint32_t(y * 255 / h) << 8) |
                              uint32_t(n * 50);
  return px;
}

vlBitmap* Picture(const std::vector<uint32_t>& px, int32_t w, int32_t h, int32_t format) {
  SetGlobalPixelFormat(format);
  vlBitmap* b = NewBitmap(w, h, 0, nullptr);
  SetGlobalPixelFormat(-1);
  if (b) WriteBitmapARGB(px.data(), w * 4, b, 0, 0, w, h);
  return b;
}

uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t(b[at + 3]) << 24);
}

size_t Find(const std::vector<uint8_t>& b, const char* id, size_t from = 0) {
  for (size_t i = from; i + 4 <= b.size(); ++i)
    if (memcmp(&b[i], id, 4) == 0) return i;
  return std::string::npos;
}

// ffmpeg's frames as RGB bytes, all frames one after the other.
std::vector<uint8_t> FfmpegFrames(const std::string& file) {
  return RunTool("ffmpeg -v error -i " + Quote(file) + " -fps_mode passthrough -f rawvideo -pix_fmt rgb24 - 2>/dev/null");
}

std::string Probe(const std::string& file, const std::string& stream, const std::string& entries) {
  auto out = RunTool("ffprobe -v error -select_streams " + stream + " -count_frames -show_entries stream=" +
                     entries + " -of default=nw=1 " + Quote(file) + " 2>&1");
  return std::string(out.begin(), out.end());
}

int MaxDiffRGB(const uint32_t* ours, const uint8_t* rgb, size_t pixels) {
  int worst = 0;
  for (size_t i = 0; i < pixels; ++i)
    for (int c = 0; c < 3; ++c)
      worst = std::max(worst, std::abs(int((ours[i] >> (16 - 8 * c)) & 255) - int(rgb[3 * i + c])));
  return worst;
}

vlAVIReader* OpenReader(const std::string& file, int32_t* w, int32_t* h, int32_t* frames) {
  vlStream* s = OpenFileStream(file.c_str(), VL_MODE_READ, nullptr);
  return s ? OpenAVIReader(s, w, h, frames) : nullptr;
}

}  // namespace

TEST(AviWriter, FilesProbeAndDecodeInFfmpeg) {
  TempDir dir;
  const std::string file = dir.File("a.avi");
  const int32_t w = 64, h = 48;
  vlAVIWriter* writer = nullptr;
  ASSERT_EQ(OpenAVIWriter(file.c_str(), 25, 0, w, h, 95, 0, 0, "Test anim", nullptr, &writer), 0);
  EXPECT_EQ(writer->usPerFrame, 40000u);
  EXPECT_EQ(writer->sampleRate, 44100u);
  EXPECT_EQ(writer->samplesPerFrame, 1764u);
  std::vector<std::vector<uint32_t>> frames;
  for (int n = 0; n < 5; ++n) {
    frames.push_back(Frame(w, h, n));
    // Pictures in the writer's format, another 32-bit order and 16 bits.
    const int32_t format = n == 1 ? 11 : n == 2 ? 4 : 10;
    vlBitmap* b = Picture(frames.back(), w, h, format);
    ASSERT_NE(b, nullptr);
    ASSERT_EQ(WriteAVIFrame(writer, b, w, h, 1, 0), 0);
    DeleteBitmap(b);
  }
  ASSERT_EQ(CloseAVIWriter(writer), 0);

  EXPECT_NE(Probe(file, "v:0", "codec_name,width,height,nb_read_frames").find("codec_name=mjpeg\nwidth=64\n"
                                                                               "height=48\nnb_read_frames=5"),
            std::string::npos)
      << Probe(file, "v:0", "codec_name,width,height,nb_read_frames");
  EXPECT_NE(Probe(file, "a:0", "codec_name,sample_rate,channels").find("codec_name=pcm_s16le\nsample_rate=44100\n"
                                                                       "channels=2"),
            std::string::npos);
  const auto decoded = FfmpegFrames(file);
  ASSERT_EQ(decoded.size(), size_t(5 * w * h * 3));

  int32_t rw = 0, rh = 0, count = 0;
  vlAVIReader* reader = OpenReader(file, &rw, &rh, &count);
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(rw, w);
  EXPECT_EQ(rh, h);
  ASSERT_EQ(count, 5);
  for (int n : {0, 1, 2, 3, 4, 2, 0, 4}) {
    SCOPED_TRACE(n);
    uint32_t* px = ReadAVIFrame(reader, n);
    ASSERT_NE(px, nullptr);
    const uint8_t* theirs = decoded.data() + size_t(n) * w * h * 3;
    EXPECT_LE(MaxDiffRGB(px, theirs, size_t(w) * h), 6);  // another IDCT and upsampling
    // Against the picture written: JPEG at quality 95 (16-bit frame coarser).
    EXPECT_LE(MaxDiffRGB(frames[n].data(), theirs, size_t(w) * h), n == 2 ? 40 : 24);
    FreeMemory(px);
  }
  CloseAVIReader(reader);

  // The layout: header list size, INFO texts, idx1 with two entries a frame
  // at absolute offsets, each JPEG tagged "AVI1".
  const auto b = ReadBytes(file);
  EXPECT_EQ(U32(b, 4) + 8, b.size());
  EXPECT_EQ(U32(b, 16), 33266u + 10 + 30);  // "Test anim" and its zero, padded
  const size_t isft = Find(b, "ISFT");
  ASSERT_NE(isft, std::string::npos);
  EXPECT_STREQ(reinterpret_cast<const char*>(&b[isft + 8]), "Vellamora by Zephlin Brokwend");
  EXPECT_EQ(U32(b, Find(b, "ICMT") + 4), 145u);
  const size_t idx1 = Find(b, "idx1");
  ASSERT_NE(idx1, std::string::npos);
  EXPECT_EQ(U32(b, idx1 + 4), 5u * 32);
  const uint32_t videoChunk = U32(b, idx1 + 8 + 16 + 8);
  EXPECT_EQ(memcmp(&b[videoChunk], "01dc", 4), 0);
  EXPECT_EQ(memcmp(&b[videoChunk + 8 + 6], "AVI1", 4), 0);
  const uint32_t audioChunk = U32(b, idx1 + 8 + 8);
  EXPECT_EQ(memcmp(&b[audioChunk], "00wb", 4), 0);
  EXPECT_EQ(U32(b, audioChunk + 4), 7056u);
  // The movi list size covers exactly its chunks.
  const size_t movi = Find(b, "movi") - 8;
  EXPECT_EQ(movi + 8 + U32(b, movi + 4), idx1);
}

TEST(AviWriter, FrameRatesAndSampleRates) {
  struct Case {
    int fps;
    uint32_t us, rate, samples;
  };
  TempDir dir;
  for (Case c : {Case{24, 41666, 44088, 1837}, Case{8, 125000, 44096, 5512}, Case{25, 40000, 44100, 1764}}) {
    vlAVIWriter* w = nullptr;
    ASSERT_EQ(OpenAVIWriter(dir.File("r.avi").c_str(), c.fps, 0, 8, 8, 50, 0, 0, "", nullptr, &w), 0);
    EXPECT_EQ(w->usPerFrame, c.us);
    EXPECT_EQ(w->sampleRate, c.rate);
    EXPECT_EQ(w->samplesPerFrame, c.samples);
    EXPECT_EQ(CloseAVIWriter(w), 0);
  }
  vlAVIWriter* w = nullptr;
  EXPECT_EQ(OpenAVIWriter(dir.File("r.avi").c_str(), 0, 0, 8, 8, 50, 0, 0, "", nullptr, &w), ERR_WRONGUSAGE);
  EXPECT_EQ(OpenAVIWriter("/nonexistent/r.avi", 5, 0, 8, 8, 50, 0, 0, "", nullptr, &w), ERR_WRITEFILE);
  EXPECT_EQ(w, nullptr);
  // The frames wait in a temporary file: a temporary folder that is not
  // there is named in the error.
  SetTempDir("/nonexistent-vl-avi");
  EXPECT_EQ(OpenAVIWriter(dir.File("r.avi").c_str(), 5, 0, 8, 8, 50, 0, 0, "", nullptr, &w), ERR_WRITEFILE);
  SetTempDir("/tmp");
  EXPECT_STREQ(GetErrorArgument(), "/nonexistent-vl-avi/vellamora.XXXXXX");
  EXPECT_EQ(w, nullptr);
}

// A picture of another size is scaled to the writer's size.
TEST(AviWriter, PicturesOfAnotherSizeAreScaled) {
  TempDir dir;
  const std::string file = dir.File("s.avi");
  vlAVIWriter* writer = nullptr;
  ASSERT_EQ(OpenAVIWriter(file.c_str(), 5, 0, 64, 48, 95, 1, 0, "s", nullptr, &writer), 0);
  const auto small = Frame(32, 24, 2);
  vlBitmap* b = Picture(small, 32, 24, 10);
  ASSERT_EQ(WriteAVIFrame(writer, b, 32, 24, 1, 0), 0);
  DeleteBitmap(b);
  ASSERT_EQ(CloseAVIWriter(writer), 0);
  const auto decoded = FfmpegFrames(file);
  ASSERT_EQ(decoded.size(), size_t(64 * 48 * 3));
  // The middle of the picture keeps the colours of the small one.
  const uint32_t want = small[12 * 32 + 16];
  const uint8_t* got = &decoded[(24 * 64 + 32) * 3];
  EXPECT_LE(std::abs(int(want >> 16) - got[0]), 12);
  EXPECT_LE(std::abs(int((want >> 8) & 255) - got[1]), 12);
  EXPECT_LE(std::abs(int(want & 255) - got[2]), 12);
}

// 2045 frames: the second standard-index pair starts at the 2045th frame and
// the first one is rewritten with 2044 entries each.
TEST(AviWriter, StandardIndexesRollOver) {
  TempDir dir;
  const std::string file = dir.File("long.avi");
  vlAVIWriter* writer = nullptr;
  ASSERT_EQ(OpenAVIWriter(file.c_str(), 1000, 0, 16, 8, 30, 0, 0, "x", nullptr, &writer), 0);
  auto px = Frame(16, 8, 1);
  vlBitmap* b = Picture(px, 16, 8, 10);
  for (int n = 0; n < 2045; ++n) ASSERT_EQ(WriteAVIFrame(writer, b, 16, 8, 1, 0), 0);
  DeleteBitmap(b);
  ASSERT_EQ(CloseAVIWriter(writer), 0);
  const auto bytes = ReadBytes(file);
  size_t ix01 = Find(bytes, "ix01", Find(bytes, "movi"));
  ASSERT_NE(ix01, std::string::npos);
  EXPECT_EQ(U32(bytes, ix01 + 8 + 4), 2044u);
  ix01 = Find(bytes, "ix01", ix01 + 4);
  ASSERT_NE(ix01, std::string::npos);
  EXPECT_EQ(U32(bytes, ix01 + 8 + 4), 1u);
  const size_t indx = Find(bytes, "indx", Find(bytes, "vids"));
  EXPECT_EQ(U32(bytes, indx + 8 + 4), 2u);           // super-index entries in use
  EXPECT_EQ(U32(bytes, indx + 8 + 24 + 12), 2044u);  // first entry's duration
  EXPECT_NE(Probe(file, "v:0", "nb_read_frames").find("nb_read_frames=2045"), std::string::npos);
  int32_t w = 0, h = 0, frames = 0;
  vlAVIReader* reader = OpenReader(file, &w, &h, &frames);
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(frames, 2045);
  uint32_t* last = ReadAVIFrame(reader, 2044);
  EXPECT_NE(last, nullptr);
  FreeMemory(last);
  CloseAVIReader(reader);
}

TEST(AviReader, FfmpegFilesRawAndMjpeg) {
  TempDir dir;
  for (const char* codec : {"mjpeg", "rawvideo -pix_fmt bgr24"}) {
    SCOPED_TRACE(codec);
    const std::string file = dir.File("f.avi");
    int status = 0;
    RunTool("ffmpeg -v error -f lavfi -i testsrc=size=40x30:rate=10 -frames:v 6 -c:v " + std::string(codec) +
                " -y " + Quote(file),
            &status);
    ASSERT_EQ(status, 0);
    const auto decoded = FfmpegFrames(file);
    ASSERT_EQ(decoded.size(), size_t(6 * 40 * 30 * 3));
    int32_t w = 0, h = 0, frames = 0;
    vlAVIReader* reader = OpenReader(file, &w, &h, &frames);
    ASSERT_NE(reader, nullptr);
    ASSERT_EQ(frames, 6);
    for (int n : {0, 1, 5, 3}) {
      uint32_t* px = ReadAVIFrame(reader, n);
      ASSERT_NE(px, nullptr);
      EXPECT_LE(MaxDiffRGB(px, decoded.data() + size_t(n) * 40 * 30 * 3, 40 * 30), 3) << n;
      FreeMemory(px);
    }
    CloseAVIReader(reader);
  }
}

// The sound stream's format as ffmpeg writes it: the plain header up to
// 48 kHz, the extensible one (tag 0xFFFE, PCM sub-format) above; both
// deliver 8- and 16-bit PCM alike, with the samples of the chunks as
// ffmpeg decodes them. An extensible header of another sub-format (IEEE
// float), or whose valid bits fall short of the sample, is sound of
// another kind (-2), as is a plain one of another tag.
TEST(AviReader, PcmSoundUnderThePlainOrTheExtensibleHeader) {
  TempDir dir;
  const std::string file = dir.File("s.avi");
  for (const char* codec : {"pcm_u8", "pcm_s16le"})
    for (int rate : {48000, 96000, 192000})
      for (int channels : {1, 2}) {
        SCOPED_TRACE(std::string(codec) + " " + std::to_string(rate) + " " + std::to_string(channels));
        int status = 0;
        RunTool("ffmpeg -v error -f lavfi -i testsrc=size=8x8:rate=10 -f lavfi -i sine=sample_rate=" +
                    std::to_string(rate) + " -t 0.2 -ac " + std::to_string(channels) +
                    " -c:v rawvideo -pix_fmt bgr24 -c:a " + codec + " -y " + Quote(file),
                &status);
        ASSERT_EQ(status, 0);
        const auto pcm = RunTool("ffmpeg -v error -i " + Quote(file) + " -f " + std::string(codec + 4) + " -");
        int32_t w = 0, h = 0, frames = 0, c = 0, r = 0, bits = 0;
        vlAVIReader* reader = OpenReader(file, &w, &h, &frames);
        ASSERT_NE(reader, nullptr);
        const int32_t audio = GetAVIAudioFormat(reader, &c, &r, &bits);
        ASSERT_GE(audio, 0);
        EXPECT_EQ(c, channels);
        EXPECT_EQ(r, rate);
        EXPECT_EQ(bits, codec[4] == 'u' ? 8 : 16);
        std::vector<uint8_t> read;
        int64_t position = 0;
        int32_t stream = -1;
        uint8_t* data = nullptr;
        uint32_t size = 0;
        while (ReadAVIChunk(reader, &position, audio, &stream, &data, &size)) {
          if (stream == audio && data) read.insert(read.end(), data, data + size);
          FreeMemory(data);
        }
        CloseAVIReader(reader);
        EXPECT_TRUE(read == pcm) << read.size() << " bytes read, ffmpeg " << pcm.size();
        if (rate == 48000) continue;
        // The sub-format's first byte and the valid bits, one at a time.
        auto bytes = ReadBytes(file);
        const std::string text(bytes.begin(), bytes.end());
        const size_t strf = text.find("strf", text.find("auds"));
        ASSERT_NE(strf, std::string::npos);
        // Tag 1 over a 40-byte format is still PCM.
        for (auto [offset, value] : {std::pair{32, 3}, std::pair{26, 7}, std::pair{8, 1}}) {
          auto edited = bytes;
          edited[strf + offset] = uint8_t(value);
          if (offset == 8) edited[strf + 9] = 0;
          WriteBytes(file, edited);
          vlAVIReader* other = OpenReader(file, &w, &h, &frames);
          ASSERT_NE(other, nullptr);
          EXPECT_EQ(GetAVIAudioFormat(other, &c, &r, &bits), offset == 8 ? audio : -2) << offset;
          CloseAVIReader(other);
        }
      }
}

// The same frames through absolute idx1 offsets, movi-relative ones, no
// idx1 at all (another chunk after "movi"), and frames whose Huffman
// tables were left out.
TEST(AviReader, IndexVariantsAndMissingHuffmanTables) {
  TempDir dir;
  const std::string file = dir.File("v.avi");
  const int32_t w = 32, h = 16;
  vlAVIWriter* writer = nullptr;
  ASSERT_EQ(OpenAVIWriter(file.c_str(), 10, 0, w, h, 90, 0, 0, "v", nullptr, &writer), 0);
  for (int n = 0; n < 4; ++n) {
    vlBitmap* b = Picture(Frame(w, h, n), w, h, 10);
    ASSERT_EQ(WriteAVIFrame(writer, b, w, h, 1, 0), 0);
    DeleteBitmap(b);
  }
  ASSERT_EQ(CloseAVIWriter(writer), 0);
  auto original = ReadBytes(file);
  auto readAll = [&](const std::vector<uint8_t>& bytes, std::vector<std::vector<uint32_t>>* out) {
    WriteBytes(file, bytes);
    int32_t rw = 0, rh = 0, frames = 0;
    vlAVIReader* reader = OpenReader(file, &rw, &rh, &frames);
    if (!reader) return false;
    out->clear();
    for (int n : {3, 0, 2, 1}) {
      uint32_t* px = ReadAVIFrame(reader, n);
      if (!px) return CloseAVIReader(reader), false;
      out->emplace_back(px, px + w * h);
      FreeMemory(px);
    }
    CloseAVIReader(reader);
    return true;
  };
  std::vector<std::vector<uint32_t>> absolute, relative, walked, noTables;
  ASSERT_TRUE(readAll(original, &absolute));

  auto bytes = original;
  const size_t idx1 = Find(bytes, "idx1");
  const size_t moviFourcc = Find(bytes, "movi");
  for (size_t e = idx1 + 8; e + 16 <= bytes.size(); e += 16) {
    const uint32_t rel = U32(bytes, e + 8) - uint32_t(moviFourcc);
    memcpy(&bytes[e + 8], &rel, 4);
  }
  ASSERT_TRUE(readAll(bytes, &relative));
  EXPECT_EQ(relative, absolute);

  bytes = original;
  memcpy(&bytes[idx1], "JUNK", 4);
  ASSERT_TRUE(readAll(bytes, &walked));
  EXPECT_EQ(walked, absolute);

  // Drop the DHT segment of every frame (the chunk sizes shrink, the list
  // sizes are left as they are; the walk and idx1 are rebuilt by ffmpeg's
  // view: here we rewrite through a fresh walk without idx1).
  std::vector<uint8_t> stripped(original.begin(), original.begin() + moviFourcc + 4);
  for (size_t at = moviFourcc + 4; at + 8 <= idx1;) {
    const uint32_t size = U32(original, at + 4);
    std::vector<uint8_t> data(original.begin() + at + 8, original.begin() + at + 8 + size);
    if (memcmp(&original[at], "01dc", 4) == 0) {
      for (size_t k = 2; k + 4 < data.size();) {
        const size_t len = (data[k + 2] << 8) | data[k + 3];
        if (data[k + 1] == 0xC4) {
          data.erase(data.begin() + k, data.begin() + k + 2 + len);
          continue;
        }
        if (data[k + 1] == 0xDA) break;
        k += 2 + len;
      }
    }
    const uint32_t n = uint32_t(data.size());
    stripped.insert(stripped.end(), original.begin() + at, original.begin() + at + 4);
    stripped.insert(stripped.end(), {uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24)});
    stripped.insert(stripped.end(), data.begin(), data.end());
    if (n & 1) stripped.push_back(0);
    at += 8 + size + (size & 1);
  }
  ASSERT_LT(stripped.size(), idx1);
  ASSERT_TRUE(readAll(stripped, &noTables));
  ASSERT_EQ(noTables.size(), absolute.size());
  for (size_t n = 0; n < absolute.size(); ++n) EXPECT_EQ(noTables[n], absolute[n]) << n;

  // Not an AVI, or an AVI of a codec we do not read.
  WriteBytes(file, {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V', 'E'});
  int32_t rw, rh, frames;
  EXPECT_EQ(OpenReader(file, &rw, &rh, &frames), nullptr);
  int status = 0;
  RunTool("ffmpeg -v error -f lavfi -i testsrc=size=16x16:rate=5 -frames:v 2 -c:v ffv1 -y " + Quote(file), &status);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(OpenReader(file, &rw, &rh, &frames), nullptr);
}
