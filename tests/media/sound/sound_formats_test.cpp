// The built-in readers against files written by sox (WAV, 8SVX) and by a
// python3 generator following the IFF rules (16SV, odd headers), and the
// WAV writer read back by python3's wave module and sox, value for value.
#include <gtest/gtest.h>

#include <cstring>

#include "media/sound/sound_data.h"
#include "media/sound/sound_formats.h"
#include "media/sound/sound_stream.h"
#include "sound_test_util.h"
#include "vm/error_codes.h"

using namespace soundtest;

namespace {

struct Loaded {
  int error = -1;
  vlSoundData* data = nullptr;
  uint32_t bytes = 0, rate = 0, format = 0;
  ~Loaded() { FreeSoundData(data); }
  std::vector<uint8_t> Pcm() const { return std::vector<uint8_t>(data->pcm, data->pcm + bytes); }
};

void Load(const std::string& file, Loaded* out, const char* loaders = "") {
  out->error = LoadSoundData(file.c_str(), loaders, "", &out->data, &out->bytes, &out->rate, &out->format, nullptr);
}

// sox's raw rendering of a file: unsigned 8-bit or signed little-endian
// 16-bit, interleaved, the layout the readers deliver (16SV aside).
std::vector<uint8_t> SoxRaw(const TempDir& dir, const std::string& file, int bits) {
  std::string raw = dir.File("ref.raw");
  std::string encoding = bits == 8 ? "-e unsigned-integer -b 8" : "-e signed-integer -b 16 -L";
  EXPECT_EQ(soundtest::Run("sox '" + file + "' -t raw " + encoding + " '" + raw + "'"), 0);
  return ReadBytes(raw);
}

class SoxFiles : public testing::TestWithParam<std::tuple<const char*, int, int>> {};

TEST_P(SoxFiles, ReadValueForValueAsSoxDecodesThem) {
  auto [ext, bits, channels] = GetParam();
  TempDir dir;
  std::string file = dir.File(std::string("s.") + ext);
  std::string encoding = std::string(ext) == "8svx" || bits == 16 ? "signed-integer" : "unsigned-integer";
  ASSERT_EQ(soundtest::Run("sox -n -r 11025 -c " + std::to_string(channels) + " -b " + std::to_string(bits) + " -e " + encoding +
                " '" + file + "' synth 0.2 sine 300 sine 1234 vol 0.8"),
            0);
  Loaded l;
  Load(file, &l);
  ASSERT_EQ(l.error, 0);
  EXPECT_EQ(l.rate, 11025u);
  EXPECT_EQ(l.data->channels, uint32_t(channels));
  EXPECT_EQ(l.data->bits, uint32_t(bits));
  uint32_t expectedFormat = bits == 16 ? (channels == 2 ? 5 : 4) : (channels == 2 ? 1 : 0);
  EXPECT_EQ(l.format, expectedFormat);
  std::vector<uint8_t> reference = SoxRaw(dir, file, bits);
  ASSERT_FALSE(reference.empty());
  EXPECT_EQ(l.Pcm(), reference);
}

INSTANTIATE_TEST_SUITE_P(Formats, SoxFiles,
                         testing::Values(std::make_tuple("wav", 8, 1), std::make_tuple("wav", 8, 2),
                                         std::make_tuple("wav", 16, 1), std::make_tuple("wav", 16, 2),
                                         std::make_tuple("8svx", 8, 1), std::make_tuple("8svx", 8, 2)));

// Writes IFF and RIFF files from a description: python3 builds the bytes
// by the IFF and RIFF rules so that single fields can be made wrong.
const char* kGenerator = R"PY(
import struct, sys
kind, out = sys.argv[1], sys.argv[2]
opts = dict(a.split('=') for a in sys.argv[3:])
def chunk(cid, data, big=True):
    return cid + struct.pack('>I' if big else '<I', len(data)) + data
def iff(form, channels, width, values, vhdr_size=20, compression=0):
    frames = len(values) // channels
    vhdr = struct.pack('>IIIHBBI', frames, 0, 0, 11025, 1, compression, 65536)
    body = b''
    for c in range(channels):
        block = values[c::channels]
        body += b''.join(struct.pack('>h' if width == 2 else '>b', v) for v in block)
    data = form + b'VHDR' + struct.pack('>I', vhdr_size) + vhdr
    data += chunk(b'ANNO', b'odd')  # odd size, no pad byte
    if channels == 2:
        data += chunk(b'CHAN', struct.pack('>I', 6))
    data += chunk(b'BODY', body)
    return b'FORM' + struct.pack('>I', len(data)) + data
def wav(fmt_size, tag, channels, bits, data, extra=b''):
    fmt = struct.pack('<HHIIHH', tag, channels, 8000, 8000 * channels * bits // 8, channels * bits // 8, bits)
    fmt += b'\0' * (fmt_size - 16)
    body = b'WAVE' + extra + chunk(b'fmt ', fmt, False) + chunk(b'data', data, False)
    return b'RIFF' + struct.pack('<I', len(body)) + body
vals = [int(2900 * ((i * 7919) % 23 - 11)) for i in range(40)]
if kind == '16sv':
    blob = iff(b'16SV', int(opts.get('ch', 1)), 2, vals)
elif kind == '8svx':
    blob = iff(b'8SVX', 1, 1, [v // 256 for v in vals], int(opts.get('vhdr', 20)), int(opts.get('comp', 0)))
elif kind == 'wav':
    pcm = b''.join(struct.pack('<h', v) for v in vals)
    extra = chunk(b'LIST', b'INFOxyz', False) if opts.get('list') else b''
    blob = wav(int(opts.get('fmt', 16)), int(opts.get('tag', 1)), int(opts.get('ch', 1)), int(opts.get('bits', 16)),
               pcm, extra)
open(out, 'wb').write(blob)
)PY";

std::string Generate(const TempDir& dir, const std::string& kind, const std::string& opts = "") {
  std::string file = dir.File("gen." + kind);
  EXPECT_EQ(RunPython(dir, kGenerator, kind + " '" + file + "' " + opts), 0);
  return file;
}

std::vector<int16_t> GeneratorValues() {
  std::vector<int16_t> v;
  for (int i = 0; i < 40; i++) v.push_back(static_cast<int16_t>(2900 * ((i * 7919) % 23 - 11)));
  return v;
}

TEST(IffReaders, SixteenBitStereoBodyIsInterleavedFromItsTwoBlocks) {
  TempDir dir;
  Loaded l;
  Load(Generate(dir, "16sv", "ch=2"), &l);
  ASSERT_EQ(l.error, 0);
  EXPECT_EQ(l.format, 5u);
  EXPECT_EQ(l.data->flags, uint32_t(VL_PCM_BIG_ENDIAN | VL_PCM_SIGNED));
  std::vector<int16_t> v = GeneratorValues();
  ASSERT_EQ(l.data->frames, 20u);
  for (uint32_t f = 0; f < 20; f++) {
    EXPECT_EQ(ReadSoundValue16(l.data, f, 0), v[f * 2]) << f;
    EXPECT_EQ(ReadSoundValue16(l.data, f, 1), v[f * 2 + 1]) << f;
  }
}

TEST(IffReaders, SixteenBitMonoKeepsBigEndianValues) {
  TempDir dir;
  Loaded l;
  Load(Generate(dir, "16sv"), &l);
  ASSERT_EQ(l.error, 0);
  EXPECT_EQ(l.format, 4u);
  std::vector<int16_t> v = GeneratorValues();
  ASSERT_EQ(l.data->frames, 40u);
  for (uint32_t f = 0; f < 40; f++) EXPECT_EQ(ReadSoundValue16(l.data, f, 0), v[f]);
  EXPECT_EQ(l.data->pcm[0], uint8_t(uint16_t(v[0]) >> 8));
}

TEST(IffReaders, WrongHeaderSizeAndCompressedBodiesAreRefused) {
  TempDir dir;
  Loaded good, badSize, packed;
  Load(Generate(dir, "8svx"), &good);
  EXPECT_EQ(good.error, 0);
  Load(Generate(dir, "8svx", "vhdr=24"), &badSize);
  EXPECT_EQ(badSize.error, ERR_OPENSOUND2);
  Load(Generate(dir, "8svx", "comp=1"), &packed);
  EXPECT_EQ(packed.error, ERR_OPENSOUND2);
}

TEST(WaveReader, ChunksBeforeFmtAreSkippedAndOddFormatsRefused) {
  TempDir dir;
  Loaded list;
  Load(Generate(dir, "wav", "list=1"), &list);
  ASSERT_EQ(list.error, 0);
  EXPECT_EQ(list.data->frames, 40u);
  for (uint32_t f = 0; f < 40; f++) EXPECT_EQ(ReadSoundValue16(list.data, f, 0), GeneratorValues()[f]);
  for (const char* opts : {"fmt=20", "tag=3", "bits=24"}) {
    Loaded l;
    Load(Generate(dir, "wav", opts), &l);
    EXPECT_EQ(l.error, ERR_OPENSOUND2) << opts;
  }
  Loaded ext;
  Load(Generate(dir, "wav", "fmt=18"), &ext);
  EXPECT_EQ(ext.error, 0);
  Loaded six;
  Load(Generate(dir, "wav", "ch=6"), &six);
  ASSERT_EQ(six.error, 0);
  EXPECT_EQ(six.data->channels, 1u);
}

TEST(WaveReader, DataSizeBeyondTheFileYieldsWhatTheFileHolds) {
  TempDir dir;
  std::string file = Generate(dir, "wav");
  std::vector<uint8_t> bytes = ReadBytes(file);
  // data size field: 0xFFFFFFFF as streaming writers leave it.
  size_t at = bytes.size() - 80 - 4;
  std::memset(&bytes[at], 0xFF, 4);
  bytes.resize(bytes.size() - 11);
  WriteBytes(file, bytes);
  Loaded l;
  Load(file, &l);
  ASSERT_EQ(l.error, 0);
  EXPECT_EQ(l.data->frames, (80u - 11u) / 2u);
}

TEST(SoundLoader, LoaderListAndMagicDecideTheReader) {
  TempDir dir;
  std::string file = Generate(dir, "wav");
  Loaded native;
  Load(file, &native, "native");
  EXPECT_EQ(native.error, ERR_OPENSOUND2);
  Loaded inbuilt;
  Load(file, &inbuilt, "INBUILT");
  EXPECT_EQ(inbuilt.error, 0);
  Loaded missing;
  Load(dir.File("none.wav"), &missing);
  EXPECT_EQ(missing.error, ERR_READFILE);
  // A module named .wav is a module: no sample, but music.
  std::string module = dir.File("song.wav");
  std::vector<uint8_t> image(1084 + 1024, 0);
  std::memcpy(&image[1080], "M.K.", 4);
  image[950] = 1;
  WriteBytes(module, image);
  Loaded asSample;
  Load(module, &asSample);
  EXPECT_EQ(asSample.error, 1279);
  uint32_t kind = 0, seekable = 9, subsongs = 0;
  void* source = nullptr;
  ASSERT_EQ(OpenMusicSource(module.c_str(), "", "", 0, &kind, &source, &seekable, &subsongs, nullptr), 0);
  EXPECT_EQ(kind, uint32_t(VL_SOURCE_MODULE));
  EXPECT_EQ(seekable, 0u);
  CloseMusicSource(kind, source);
}

TEST(SoundStream, ReadsInPiecesSeeksAndReportsTheEnd) {
  TempDir dir;
  std::string file = Generate(dir, "16sv", "ch=2");
  vlSoundStream* s = nullptr;
  ASSERT_EQ(OpenSoundStream(file.c_str(), "", "", 0, 1, &s, nullptr), 0);
  EXPECT_STREQ(GetStreamFormatName(s), "IFF 16SV");
  uint8_t buffer[20 * 4];
  int end = 0;
  EXPECT_EQ(ReadSoundStream(s, buffer, 7, &end), 7u);
  EXPECT_EQ(end, 0);
  SeekSoundStream(s, 18);
  EXPECT_EQ(ReadSoundStream(s, buffer, 7, &end), 2u);
  EXPECT_EQ(end, 1);
  int16_t right = int16_t(buffer[6] << 8 | buffer[7]);
  EXPECT_EQ(right, GeneratorValues()[19 * 2 + 1]);
  SeekSoundStream(s, 20);  // past the end: ignored
  EXPECT_EQ(ReadSoundStream(s, buffer, 1, &end), 0u);
  EXPECT_EQ(GetMusicAttribute(VL_MATTR_DURATION, VL_SOURCE_STREAM, s, nullptr), 20 * 1000 / 11025);
  CloseSoundStream(s);
}

vlSoundData* MakeData(std::vector<uint8_t> bytes, uint32_t frames, uint32_t rate, uint32_t format) {
  auto* buffer = static_cast<uint8_t*>(std::malloc(bytes.size() + 1));
  std::memcpy(buffer, bytes.data(), bytes.size());
  vlSoundData* data = nullptr;
  EXPECT_EQ(MakeSoundData(buffer, frames, rate, format, &data, nullptr), 0);
  return data;
}

TEST(WaveWriter, ThreeBytesArePaddedToFourAndReportedAsThree) {
  TempDir dir;
  vlSoundData* data = MakeData({1, 0x80, 0xFF}, 3, 8000, VL_SMP_S8_MONO);
  std::string file = dir.File("three.wav");
  ASSERT_EQ(WriteWaveFile(file.c_str(), data, 3, 8000, data->format), 0);
  std::vector<uint8_t> out = ReadBytes(file);
  ASSERT_EQ(out.size(), 48u);
  EXPECT_EQ(out[4], 40);
  EXPECT_EQ(out[40], 3);
  // Signed 1, -128, -1 are stored unsigned.
  EXPECT_EQ(std::vector<uint8_t>(out.begin() + 44, out.end()), (std::vector<uint8_t>{129, 0, 127, 0}));
  FreeSoundData(data);
}

TEST(WaveWriter, FilesReadBackByPythonWaveAndSoxValueForValue) {
  TempDir dir;
  std::vector<uint8_t> pcm;
  for (int i = 0; i < 2 * 300; i++) {
    auto v = static_cast<int16_t>((i * 1237) % 65536 - 32768);
    pcm.push_back(uint8_t(v));
    pcm.push_back(uint8_t(uint16_t(v) >> 8));
  }
  vlSoundData* data = MakeData(pcm, 300, 22050, VL_SMP_S16_STEREO);
  std::string file = dir.File("out.wav");
  ASSERT_EQ(WriteWaveFile(file.c_str(), data, 1200, 22050, data->format), 0);
  const char* check = R"PY(
import sys, wave
w = wave.open(sys.argv[1])
assert w.getnchannels() == 2 and w.getsampwidth() == 2 and w.getframerate() == 22050, w.getparams()
assert w.getnframes() == 300
open(sys.argv[2], 'wb').write(w.readframes(300))
)PY";
  ASSERT_EQ(RunPython(dir, check, "'" + file + "' '" + dir.File("py.raw") + "'"), 0);
  EXPECT_EQ(ReadBytes(dir.File("py.raw")), pcm);
  EXPECT_EQ(SoxRaw(dir, file, 16), pcm);
  FreeSoundData(data);
  // Big-endian 16-bit data is written little-endian.
  Loaded l;
  Load(Generate(dir, "16sv"), &l);
  ASSERT_EQ(l.error, 0);
  ASSERT_EQ(WriteWaveFile(file.c_str(), l.data, l.bytes, l.rate, l.format), 0);
  std::vector<uint8_t> raw = SoxRaw(dir, file, 16);
  ASSERT_EQ(raw.size(), 80u);
  for (int i = 0; i < 40; i++) EXPECT_EQ(int16_t(raw[i * 2] | raw[i * 2 + 1] << 8), GeneratorValues()[i]);
}

TEST(WaveWriter, UnwritablePathIsReported) {
  vlSoundData* data = MakeData({1, 2}, 2, 8000, VL_SMP_S8_MONO);
  EXPECT_EQ(WriteWaveFile("/nonexistent-dir/x.wav", data, 2, 8000, 0), ERR_WRITEFILE);
  FreeSoundData(data);
}

}  // namespace
