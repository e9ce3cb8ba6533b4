// Readers and writers against real tools: JPEG and PNG written here and read
// by ImageMagick (and the other way round), ILBM files from netpbm and from
// a generator written from the IFF rules, GIF files written here and decoded
// by ImageMagick, and the format detection of the load dispatch.
#include <cstddef>
#include <cstdio>
#include <jpeglib.h>
#include <png.h>

#include <cmath>

#include "tests/support/testdata.h"
#include "formats/gif.h"
#include "formats/ilbm.h"
#include "formats/jpeg_codec.h"
#include "formats/png_codec.h"
#include "graphics/fast_paths.h"
#include "picture_test_util.h"
#include "runtime/crc32.h"
#include "runtime/os.h"
#include "runtime/errors.h"
#include "runtime/stream.h"
#include "vm/error_codes.h"

using namespace pictest;

namespace {

std::vector<uint32_t> Gradient(int32_t w, int32_t h, bool alpha) {
  std::vector<uint32_t> px(size_t(w) * h);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      const uint32_t r = x * 255 / (w - 1 ? w - 1 : 1), g = y * 255 / (h - 1 ? h - 1 : 1), b = (x + y) & 255;
      const uint32_t a = alpha ? (x * 7 + y * 3) & 255 : 0;
      px[size_t(y) * w + x] = (a << 24) | (r << 16) | (g << 8) | b;
    }
  return px;
}

Rgba FromWords(const std::vector<uint32_t>& px, int32_t w, int32_t h, bool alpha) {
  Rgba out;
  out.width = w;
  out.height = h;
  for (uint32_t v : px) {
    out.bytes.push_back(uint8_t(v >> 16));
    out.bytes.push_back(uint8_t(v >> 8));
    out.bytes.push_back(uint8_t(v));
    out.bytes.push_back(alpha ? uint8_t(v >> 24) : 255);
  }
  return out;
}

std::string Script() { return std::string(getenv("VL_SOURCE_DIR")) + "/tests/formats/pictures/make_iff.py"; }

// The generator's expected pixels: width, height (16-bit BE), RGB bytes.
Rgba ReadExpected(const std::string& file) {
  const auto b = ReadBytes(file);
  Rgba out;
  if (b.size() < 4) return out;
  out.width = (b[0] << 8) | b[1];
  out.height = (b[2] << 8) | b[3];
  for (size_t i = 4; i + 2 < b.size(); i += 3) out.bytes.insert(out.bytes.end(), {b[i], b[i + 1], b[i + 2], 255});
  return out;
}

}  // namespace

TEST(Jpeg, EncodedPictureReadsBackInImageMagickAndInTheDecoder) {
  TempDir dir;
  const int32_t w = 67, h = 33;
  auto px = Gradient(w, h, false);
  vlJPEGEncodeParams p{};
  p.pixels = px.data();
  p.rowStride = w * 4;
  p.width = w;
  p.height = h;
  p.quality = 95;
  EncodeJPEG(&p);
  ASSERT_EQ(p.error, 0);
  ASSERT_GT(p.length, 100u);
  EXPECT_EQ(p.data[0], 0xFF);
  EXPECT_EQ(p.data[1], 0xD8);
  EXPECT_EQ(p.data[p.length - 2], 0xFF);
  EXPECT_EQ(p.data[p.length - 1], 0xD9);
  const std::string file = dir.File("a.jpg");
  WriteBytes(file, std::vector<uint8_t>(p.data, p.data + p.length));
  Rgba magick, ours;
  ASSERT_TRUE(MagickRgba(file, &magick));
  EXPECT_LE(MaxDifference(magick, FromWords(px, w, h, false)), 24);
  ASSERT_EQ(LoadRgba(file, &ours), 0);
  EXPECT_LE(MaxDifference(ours, magick), 2);

  // From memory with the exact size, the same pixels as from the stream.
  int32_t mw = 0, mh = 0;
  uint32_t* memoryPixels = nullptr;
  ASSERT_EQ(DecodeJPEG(p.data, p.length, 0, &mw, &mh, &memoryPixels), 0);
  EXPECT_EQ(MaxDifference(FromWords(std::vector<uint32_t>(memoryPixels, memoryPixels + w * h), w, h, false), ours),
            0);
  FreeMemory(memoryPixels);

  // The byte-order flag: pixels stored as bytes A, R, G, B encode alike.
  std::vector<uint8_t> argb;
  for (uint32_t v : px) argb.insert(argb.end(), {0, uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
  vlJPEGEncodeParams q = p;
  q.pixels = argb.data();
  q.byteOrder = 1;
  EncodeJPEG(&q);
  ASSERT_EQ(q.error, 0);
  EXPECT_EQ(std::vector<uint8_t>(q.data, q.data + q.length), std::vector<uint8_t>(p.data, p.data + p.length));
  FreeEncodedJPEG(q.result);
  FreeEncodedJPEG(p.result);
}

TEST(Jpeg, OnePixelPictureIsComplete) {
  uint32_t px = 0x123456;
  vlJPEGEncodeParams p{};
  p.pixels = &px;
  p.rowStride = 4;
  p.width = p.height = 1;
  p.quality = 80;
  EncodeJPEG(&p);
  ASSERT_EQ(p.error, 0);
  EXPECT_GT(p.length, 3u);  // more than width x height x 3: the buffer grew
  int32_t w = 0, h = 0;
  uint32_t* out = nullptr;
  ASSERT_EQ(DecodeJPEG(p.data, p.length, 0, &w, &h, &out), 0);
  EXPECT_EQ(w, 1);
  EXPECT_EQ(h, 1);
  EXPECT_LE(std::abs(int((out[0] >> 16) & 255) - 0x12), 3);
  FreeMemory(out);
  FreeEncodedJPEG(p.result);
}

TEST(Jpeg, DamagedAndTruncatedFiles) {
  TempDir dir;
  const std::string ppm = dir.File("in.ppm"), jpg = dir.File("in.jpg");
  int status = 0;
  RunTool("convert -size 64x48 gradient:red-blue " + Quote(ppm) + " && convert " + Quote(ppm) + " -quality 90 " +
          Quote(jpg),
      &status);
  ASSERT_EQ(status, 0);
  auto bytes = ReadBytes(jpg);
  // Only the header and part of the scan: decodes with a warning.
  const std::string cut = dir.File("cut.jpg");
  WriteBytes(cut, std::vector<uint8_t>(bytes.begin(), bytes.begin() + bytes.size() * 2 / 3));
  Rgba ours;
  EXPECT_EQ(LoadRgba(cut, &ours), 0);
  EXPECT_EQ(ours.width, 64);
  // Nothing after the start marker, or a garbled header: 1358 and the name.
  WriteBytes(cut, {0xFF, 0xD8});
  EXPECT_EQ(LoadRgba(cut, &ours), ERR_LOADPICTURE2);
  EXPECT_STREQ(GetErrorArgument(), cut.c_str());
  std::vector<uint8_t> garbled(bytes.begin(), bytes.begin() + 200);
  for (size_t i = 20; i < garbled.size(); ++i) garbled[i] ^= 0x5A;
  WriteBytes(cut, garbled);
  EXPECT_EQ(LoadRgba(cut, &ours), ERR_LOADPICTURE2);
}

// Colour and gray pictures decode straight into the rows: every word is
// exactly libjpeg's own RGB output, with 0 in the top byte, for each
// chroma subsampling (one progressive), with every instruction set and
// with none. Random noise reaches the clamped ends of the colour
// conversion.
TEST(Jpeg, RowsMatchLibjpegRgbExactly) {
  TempDir dir;
  const uint32_t detected = FastPathFeatures();
  for (const char* kind : {"-size 61x19 gradient:orange-teal -attenuate 0.6 +noise Uniform ",
                           "-size 61x19 gradient:orange-teal -attenuate 0.6 +noise Uniform -colorspace Gray ",
                           "-size 203x37 xc:red -seed 4 -fx 'rand()' -sampling-factor 1x1 ",
                           "-size 203x37 xc:red -seed 4 -fx 'rand()' -sampling-factor 2x1 -interlace JPEG ",
                           "-size 203x37 xc:red -seed 4 -fx 'rand()' -sampling-factor 2x2 "}) {
    SCOPED_TRACE(kind);
    const std::string file = dir.File("p.jpg");
    int status = 0;
    RunTool(std::string("convert ") + kind + "-quality 85 " + Quote(file), &status);
    ASSERT_EQ(status, 0);
    auto bytes = ReadBytes(file);
    jpeg_decompress_struct c{};
    jpeg_error_mgr e{};
    c.err = jpeg_std_error(&e);
    jpeg_create_decompress(&c);
    jpeg_mem_src(&c, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&c, TRUE);
    c.out_color_space = JCS_RGB;
    jpeg_start_decompress(&c);
    std::vector<uint32_t> expected;
    std::vector<uint8_t> row(c.output_width * 3);
    while (c.output_scanline < c.output_height) {
      JSAMPROW r = row.data();
      jpeg_read_scanlines(&c, &r, 1);
      for (uint32_t x = 0; x < c.output_width; ++x)
        expected.push_back(uint32_t{row[3 * x]} << 16 | uint32_t{row[3 * x + 1]} << 8 | row[3 * x + 2]);
    }
    jpeg_finish_decompress(&c);
    jpeg_destroy_decompress(&c);
    for (uint32_t features : {0u, detected & (VL_CPU_PLAIN | VL_CPU_SSE2), detected}) {
      SetFastPathFeatures(features);
      int32_t w = 0, h = 0;
      uint32_t* ours = nullptr;
      ASSERT_EQ(DecodeJPEG(bytes.data(), static_cast<uint32_t>(bytes.size()), 0, &w, &h, &ours), 0);
      ASSERT_EQ(size_t(w) * h, expected.size());
      int differ = 0;
      for (size_t i = 0; i < expected.size(); ++i) differ += ours[i] != expected[i];
      EXPECT_EQ(differ, 0) << "features " << features;
      FreeMemory(ours);
    }
    SetFastPathFeatures(~0u);
  }
}

// ImageMagick writes CMYK JPEGs with the Adobe marker (inverted values);
// the decoder's CMYK conversion gives back the picture closely.
TEST(Jpeg, AdobeCmykDecodesToTheSameColours) {
  TempDir dir;
  const std::string rgb = dir.File("rgb.jpg"), cmyk = dir.File("cmyk.jpg");
  int status = 0;
  RunTool("convert -size 40x30 gradient:yellow-navy -quality 100 " + Quote(rgb) + " && convert " + Quote(rgb) +
          " -colorspace CMYK -quality 100 " + Quote(cmyk),
      &status);
  ASSERT_EQ(status, 0);
  const auto bytes = ReadBytes(cmyk);
  bool adobe = false;
  for (size_t i = 0; i + 10 < bytes.size(); ++i)
    if (bytes[i] == 0xFF && bytes[i + 1] == 0xEE && memcmp(&bytes[i + 4], "Adobe", 5) == 0) adobe = true;
  EXPECT_TRUE(adobe);
  Rgba a, b;
  ASSERT_EQ(LoadRgba(rgb, &a), 0);
  ASSERT_EQ(LoadRgba(cmyk, &b), 0);
  EXPECT_LE(MaxDifference(a, b), 12);
}

// ImageMagick's PNGs of noise in every colour type, 16-bit and interlaced,
// at widths around the vector steps, read by us with each instruction set
// and with none give the words libpng's own RGB(A) rows give.
TEST(Png, RowsMatchLibpngExactly) {
  TempDir dir;
  const uint32_t detected = FastPathFeatures();
  for (int width : {1, 7, 11, 12, 33, 203}) {
    for (const char* kind : {"PNG24:", "PNG32:", "PNG8:", "PNG48:", "PNG64:", "GRAY:"}) {
      for (bool interlaced : {false, true}) {
        SCOPED_TRACE(std::string(kind) + " width " + std::to_string(width) + (interlaced ? " interlaced" : ""));
        const std::string file = dir.File("p.png");
        const std::string to = std::string(kind) == "GRAY:" ? "-colorspace Gray PNG:"
                               : std::string(kind) == "PNG8:" ? "-colors 64 PNG8:"
                                                              : kind;
        int status = 0;
        RunTool("convert -size " + std::to_string(width) + "x5 xc:red -seed 5 -fx 'rand()' -channel A -fx 'rand()' " +
                    "+channel " + (std::string(kind) == "PNG24:" || std::string(kind) == "GRAY:" ? "-alpha off " : "") +
                    (interlaced ? "-interlace PNG " : "") + to + Quote(file),
                &status);
        ASSERT_EQ(status, 0);
        const auto bytes = ReadBytes(file);
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        ASSERT_NE(png_image_begin_read_from_memory(&image, bytes.data(), bytes.size()), 0);
        const bool alpha = (image.format & PNG_FORMAT_FLAG_ALPHA) != 0;
        // Samples as stored (no gamma or colour-space work): the 8-bit
        // RGB(A) rows through the low-level reader.
        png_image_free(&image);
        png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        struct Memory {
          const uint8_t* at;
          const uint8_t* end;
        } memory{bytes.data(), bytes.data() + bytes.size()};
        png_set_read_fn(png, &memory, [](png_structp p, png_bytep out, size_t n) {
          auto* m = static_cast<Memory*>(png_get_io_ptr(p));
          if (n > static_cast<size_t>(m->end - m->at)) png_error(p, "short");
          memcpy(out, m->at, n);
          m->at += n;
        });
        png_read_info(png, info);
        png_set_expand(png);
        png_set_strip_16(png);
        png_set_gray_to_rgb(png);
        png_set_interlace_handling(png);
        png_read_update_info(png, info);
        const uint32_t w = png_get_image_width(png, info), h = png_get_image_height(png, info);
        const int channels = png_get_channels(png, info);
        std::vector<uint8_t> samples(size_t(w) * h * channels);
        std::vector<png_bytep> rows(h);
        for (uint32_t y = 0; y < h; ++y) rows[y] = samples.data() + size_t(y) * w * channels;
        png_read_image(png, rows.data());
        png_destroy_read_struct(&png, &info, nullptr);
        ASSERT_EQ(channels == 4, alpha);
        std::vector<uint32_t> expected;
        for (size_t i = 0; i < samples.size(); i += channels)
          expected.push_back((channels == 4 ? uint32_t{samples[i + 3]} << 24 : 0) | uint32_t{samples[i]} << 16 |
                             uint32_t{samples[i + 1]} << 8 | samples[i + 2]);
        for (uint32_t features : {0u, detected & (VL_CPU_PLAIN | VL_CPU_SSE2), detected}) {
          SetFastPathFeatures(features);
          vlStream* s = OpenMemoryStream(bytes.data(), bytes.size());
          int32_t ow = 0, oh = 0, oalpha = -1;
          uint32_t* ours = nullptr;
          int result = -1;
          ReadPNG(s, 0, &ow, &oh, &ours, &oalpha, &result);
          CloseFileStream(s);
          ASSERT_EQ(result, 0);
          ASSERT_EQ(size_t(ow) * oh, expected.size());
          EXPECT_EQ(oalpha, alpha ? 1 : 0);
          int differ = 0;
          for (size_t i = 0; i < expected.size(); ++i) differ += ours[i] != expected[i];
          EXPECT_EQ(differ, 0) << "features " << features;
          FreeMemory(ours);
        }
        SetFastPathFeatures(~0u);
      }
    }
  }
}

// A byte of picture data changed is refused by its chunk's CRC (1358);
// with the CRC made again for it the picture loads, as the deflate
// stream's own check value is not summed a second time.
TEST(Png, DamagedPictureDataIsRefusedByTheChunkCheck) {
  TempDir dir;
  const std::string file = dir.File("p.png");
  int status = 0;
  RunTool("convert -size 40x30 gradient:red-blue " + Quote(file), &status);
  ASSERT_EQ(status, 0);
  const auto good = ReadBytes(file);
  // The last IDAT chunk: its data's last byte is the check value's last.
  size_t at = 8, idat = 0, length = 0;
  while (at + 12 <= good.size()) {
    const size_t n = size_t{good[at]} << 24 | size_t{good[at + 1]} << 16 | size_t{good[at + 2]} << 8 | good[at + 3];
    if (memcmp(&good[at + 4], "IDAT", 4) == 0) idat = at, length = n;
    at += 12 + n;
  }
  ASSERT_GT(length, 4u);
  auto decode = [](const std::vector<uint8_t>& bytes, std::vector<uint32_t>* out) {
    vlStream* s = OpenMemoryStream(bytes.data(), bytes.size());
    int32_t w = 0, h = 0, alpha = 0;
    uint32_t* px = nullptr;
    int result = -1;
    ReadPNG(s, 0, &w, &h, &px, &alpha, &result);
    CloseFileStream(s);
    if (result == 0) out->assign(px, px + size_t(w) * h);
    FreeMemory(px);
    return result;
  };
  std::vector<uint32_t> expected, got;
  ASSERT_EQ(decode(good, &expected), 0);
  auto damaged = good;
  damaged[idat + 8 + length - 1] ^= 0x55;
  EXPECT_EQ(decode(damaged, &got), ERR_LOADPICTURE2);
  const uint32_t crc = UpdateCrc32(0, &damaged[idat + 4], length + 4);
  for (int i = 0; i < 4; ++i) damaged[idat + 8 + length + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
  ASSERT_EQ(decode(damaged, &got), 0);
  EXPECT_EQ(got, expected);
  auto early = good;  // a data byte early on, with its CRC stale
  early[idat + 8 + 2] ^= 0x01;
  EXPECT_EQ(decode(early, &got), ERR_LOADPICTURE2);
}

TEST(Png, WrittenFilesReadBackExactly) {
  TempDir dir;
  for (bool alpha : {false, true}) {
    SCOPED_TRACE(alpha);
    const int32_t w = 31, h = 17;
    auto px = Gradient(w, h, alpha);
    const std::string file = dir.File(alpha ? "a.png" : "b.png");
    vlPNGWriteParams p{file.c_str(), px.data(), uint32_t(w * 4), uint32_t(w), uint32_t(h), alpha, -1};
    WritePNG(&p);
    ASSERT_EQ(p.error, 0);
    Rgba magick, ours;
    ASSERT_TRUE(MagickRgba(file, &magick));
    EXPECT_EQ(MaxDifference(magick, FromWords(px, w, h, alpha)), 0);
    int32_t transparent = 0;
    ASSERT_EQ(LoadRgba(file, &ours, &transparent), 0);
    EXPECT_EQ(MaxDifference(ours, magick), 0);
  }
  vlPNGWriteParams bad{"/nonexistent-dir/x.png", nullptr, 4, 1, 1, 0, -1};
  uint32_t one = 0;
  bad.pixels = &one;
  WritePNG(&bad);
  EXPECT_EQ(bad.error, ERR_WRITEFILE);
}

TEST(Ilbm, GeneratedFilesDecodeToTheirPixels) {
  TempDir dir;
  for (const char* kind : {"pal4", "pal4-packed", "ehb", "ham6", "ham8", "rgb24", "mask1", "key2",
                           "cmap-after-body"}) {
    SCOPED_TRACE(kind);
    const std::string file = dir.File(std::string(kind) + ".iff");
    int status = 0;
    RunTool("python3 " + Quote(Script()) + " ilbm " + Quote(file) + " " + kind, &status);
    ASSERT_EQ(status, 0);
    const Rgba expected = ReadExpected(file + ".rgb");
    Rgba ours;
    int32_t transparent = 0;
    const int mode = std::string(kind) == "key2" ? 1 : 0;
    ASSERT_EQ(LoadRgba(file, &ours, &transparent, mode), 0);
    EXPECT_EQ(MaxDifference(ours, expected), 0);
    EXPECT_EQ(transparent, mode ? 0xA8A8B7 : -1);
  }
}

// netpbm's encoder against our decoder, and our 24-plane writer against
// netpbm's decoder.
TEST(Ilbm, NetpbmBothWays) {
  TempDir dir;
  const std::string ppm = dir.File("in.ppm"), iff = dir.File("in.iff");
  int status = 0;
  RunTool("convert -size 45x21 gradient:orange-teal -depth 8 " + Quote(ppm) + " && ppmtoilbm -24force " + Quote(ppm) +
          " > " + Quote(iff) + " 2>/dev/null",
      &status);
  ASSERT_EQ(status, 0);
  Rgba source, ours;
  ASSERT_TRUE(MagickRgba(ppm, &source));
  ASSERT_EQ(LoadRgba(iff, &ours), 0);
  EXPECT_EQ(MaxDifference(ours, source), 0);

  RunTool("ppmtoilbm -maxplanes 4 -compress " + Quote(ppm) + " > " + Quote(iff) + " 2>/dev/null", &status);
  ASSERT_EQ(status, 0);
  Rgba netpbm;
  ASSERT_EQ(LoadRgba(iff, &ours), 0);
  ASSERT_TRUE(MagickRgba(dir.File("back.ppm"), &netpbm) || true);
  RunTool("ilbmtoppm " + Quote(iff) + " > " + Quote(dir.File("back.ppm")) + " 2>/dev/null", &status);
  ASSERT_EQ(status, 0);
  ASSERT_TRUE(MagickRgba(dir.File("back.ppm"), &netpbm));
  EXPECT_EQ(MaxDifference(ours, netpbm), 0);

  // Our writer: width 1 (2-byte plane rows) and an odd width.
  for (int32_t w : {1, 45}) {
    SCOPED_TRACE(w);
    auto px = Gradient(w, 21, false);
    const std::string out = dir.File("out.iff");
    ASSERT_EQ(WriteILBM(out.c_str(), px.data(), w, 21), 0);
    const auto bytes = ReadBytes(out);
    ASSERT_GT(bytes.size(), 48u);
    EXPECT_EQ(memcmp(bytes.data(), "FORM", 4), 0);
    EXPECT_EQ(memcmp(bytes.data() + 40, "BODY", 4), 0);
    const uint32_t form = (bytes[4] << 24) | (bytes[5] << 16) | (bytes[6] << 8) | bytes[7];
    EXPECT_EQ(form + 8, bytes.size());
    RunTool("ilbmtoppm " + Quote(out) + " > " + Quote(dir.File("w.ppm")) + " 2>/dev/null", &status);
    ASSERT_EQ(status, 0);
    ASSERT_TRUE(MagickRgba(dir.File("w.ppm"), &netpbm));
    EXPECT_EQ(MaxDifference(netpbm, FromWords(px, w, 21, false)), 0);
    ASSERT_EQ(LoadRgba(out, &ours), 0);
    EXPECT_EQ(MaxDifference(ours, netpbm), 0);
  }
}

TEST(Ilbm, ByteRun1Packing) {
  uint8_t row[129], out[200];
  memset(row, 7, sizeof row);
  ASSERT_EQ(PackByteRun1Row(row, 128, out), 2u);
  EXPECT_EQ(int8_t(out[0]), -127);
  ASSERT_EQ(PackByteRun1Row(row, 129, out), 4u);  // two runs
  for (int i = 0; i < 129; ++i) row[i] = uint8_t(i * 37);
  const size_t n = PackByteRun1Row(row, 129, out);
  EXPECT_EQ(n, 131u);  // a 128-byte literal and a 1-byte literal
  vlStream* s = OpenMemoryStream(out, n);
  uint8_t back[129] = {};
  ASSERT_EQ(UnpackByteRun1Row(s, back, 129), 1);
  EXPECT_EQ(memcmp(back, row, 129), 0);
  CloseFileStream(s);
}

TEST(Ilbm, OnePlanePictureWithKeyColour) {
  // One plane, pens black and white; pen 1 takes the key colour and pen 0's
  // colour is reported as transparent.
  TempDir dir;
  const std::string file = dir.File("one.iff");
  std::vector<uint8_t> f = {'F', 'O', 'R', 'M', 0, 0, 0, 0, 'I', 'L', 'B', 'M', 'B', 'M', 'H', 'D', 0, 0, 0, 20,
                            0, 16, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1, 1, 0, 16, 0, 1,
                            'C', 'M', 'A', 'P', 0, 0, 0, 6, 1, 2, 3, 250, 250, 250,
                            'B', 'O', 'D', 'Y', 0, 0, 0, 2, 0xF0, 0x0F};
  WriteBytes(file, f);
  vlLoadedImage* image = nullptr;
  int32_t w = 0, h = 0, transparent = 0;
  ASSERT_EQ(LoadImageFile(file.c_str(), "", nullptr, nullptr, 0xFF0000, 0, &image, nullptr, &transparent, &w, &h,
                          nullptr, nullptr),
            0);
  EXPECT_EQ(transparent, 0x010203);
  const uint32_t* px = GetLoadedImagePixels(image);
  EXPECT_EQ(px[0], 0xFF0000u);
  EXPECT_EQ(px[4], 0x010203u);
  EXPECT_EQ(px[12], 0xFF0000u);
  FreeLoadedImage(image);
}

TEST(Gif, WrittenFramesReadBackInImageMagickAndTheReader) {
  TempDir dir;
  const int32_t w = 120, h = 90;
  // Random indices over 256 colours fill the LZW table several times.
  std::vector<uint8_t> px(size_t(w) * h);
  uint32_t seed = 12345;
  for (auto& v : px) v = uint8_t((seed = seed * 1103515245 + 12345) >> 16);
  uint32_t palette[256];
  for (int i = 0; i < 256; ++i) palette[i] = uint32_t(i * 0x010305) & 0xFFFFFF;
  const std::string file = dir.File("r.gif");
  vlGIFWriter* writer = nullptr;
  ASSERT_EQ(OpenGIFWriter(file.c_str(), w, h, &writer), 0);
  ASSERT_EQ(WriteGIFFrame(writer, px.data(), w, h, 109, palette, 256, -1, 0, 0), 0);
  ASSERT_EQ(CloseGIFWriter(writer), 0);
  const auto bytes = ReadBytes(file);
  ASSERT_GT(bytes.size(), 800u);
  EXPECT_EQ(memcmp(bytes.data(), "GIF89a", 6), 0);
  EXPECT_EQ(bytes[10], 0xF7);
  EXPECT_EQ(memcmp(bytes.data() + 13, "Amiga rules!", 13), 0);
  // Graphic control block right after the global table: delay 109 ms -> 10.
  EXPECT_EQ(bytes[781], 0x21);
  EXPECT_EQ(bytes[782], 0xF9);
  EXPECT_EQ(bytes[785], 10);
  Rgba magick, ours;
  ASSERT_TRUE(MagickRgba(file, &magick));
  Rgba expected;
  expected.width = w;
  expected.height = h;
  for (uint8_t v : px)
    expected.bytes.insert(expected.bytes.end(),
                          {uint8_t(palette[v] >> 16), uint8_t(palette[v] >> 8), uint8_t(palette[v]), 255});
  EXPECT_EQ(MaxDifference(magick, expected), 0);
  ASSERT_EQ(LoadRgba(file, &ours, nullptr, 0, "inbuilt", true), 0);
  EXPECT_EQ(MaxDifference(ours, expected), 0);
}

TEST(Gif, TwoColourFrameUsesTheSmallestTable) {
  TempDir dir;
  std::vector<uint8_t> a = {0, 1, 1, 0, 1, 0};
  uint32_t palette[256] = {0x000000, 0xFFFFFF};
  const std::string file = dir.File("two.gif");
  vlGIFWriter* writer = nullptr;
  ASSERT_EQ(OpenGIFWriter(file.c_str(), 3, 2, &writer), 0);
  ASSERT_EQ(WriteGIFFrame(writer, a.data(), 3, 2, 110, palette, 2, -1, 0, 0), 0);
  EXPECT_EQ(palette[2], 0xFFFFFFFFu);  // entries past the colour count
  ASSERT_EQ(CloseGIFWriter(writer), 0);
  const auto bytes = ReadBytes(file);
  const size_t i = 781 + 8 + 19;  // after the control block and the loop block
  EXPECT_EQ(bytes[781 + 3], 4);   // disposal 1, no transparency
  EXPECT_EQ(bytes[781 + 4], 11);
  ASSERT_EQ(bytes[i], 0x2C);
  EXPECT_EQ(bytes[i + 9], 0x80);  // local table of 2 entries
  EXPECT_EQ(bytes[i + 16], 2);    // minimum code size 2
  Rgba magick;
  ASSERT_TRUE(MagickRgba(file, &magick));
  for (int k = 0; k < 6; ++k) EXPECT_EQ(magick.bytes[4 * k], a[k] ? 255 : 0);
  EXPECT_EQ(bytes.back(), 0x3B);
}

// Anim frames keep the last palette entry as their transparent colour; a
// delta frame stores the bounding box of the changed pixels.
TEST(Gif, DeltaFrames) {
  TempDir dir;
  const int32_t w = 8, h = 4;
  std::vector<uint8_t> a(w * h), b;
  for (int i = 0; i < w * h; ++i) a[i] = (i / 3) & 1;
  b = a;
  uint32_t palette[256] = {0x000000, 0xFFFFFF, 0x777777};
  const std::string file = dir.File("d.gif");
  vlGIFWriter* writer = nullptr;
  ASSERT_EQ(OpenGIFWriter(file.c_str(), w, h, &writer), 0);
  ASSERT_EQ(WriteGIFFrame(writer, a.data(), w, h, 110, palette, 3, -1, 1, 1), 0);
  ASSERT_EQ(WriteGIFFrame(writer, b.data(), w, h, 110, palette, 3, -1, 1, 1), 0);  // unchanged
  b[2 * w + 5] ^= 1;
  b[3 * w + 2] ^= 1;
  ASSERT_EQ(WriteGIFFrame(writer, b.data(), w, h, 110, palette, 3, -1, 1, 1), 0);
  ASSERT_EQ(CloseGIFWriter(writer), 0);
  const auto bytes = ReadBytes(file);
  // Walk the blocks after the global table: control, loop and image blocks.
  std::vector<size_t> images;
  for (size_t k = 781; k < bytes.size() && bytes[k] != 0x3B;) {
    if (bytes[k] == 0x21) {
      k += 2;
      while (bytes[k]) k += bytes[k] + 1;
      ++k;
    } else {
      ASSERT_EQ(bytes[k], 0x2C);
      images.push_back(k);
      k += 10 + 3 * (2 << (bytes[k + 9] & 7)) + 1;
      while (bytes[k]) k += bytes[k] + 1;
      ++k;
    }
  }
  ASSERT_EQ(images.size(), 3u);
  EXPECT_EQ(bytes[781 + 3], 5);  // disposal 1 and the transparent bit
  EXPECT_EQ(bytes[781 + 6], 2);  // transparent index: colour count - 1
  auto rect = [&](size_t at) {
    return std::vector<int>{bytes[at + 1] | (bytes[at + 2] << 8), bytes[at + 3] | (bytes[at + 4] << 8),
                            bytes[at + 5] | (bytes[at + 6] << 8), bytes[at + 7] | (bytes[at + 8] << 8)};
  };
  EXPECT_EQ(rect(images[0]), (std::vector<int>{0, 0, 8, 4}));
  EXPECT_EQ(rect(images[1]), (std::vector<int>{0, 0, 2, 1}));
  EXPECT_EQ(rect(images[2]), (std::vector<int>{2, 2, 4, 2}));
  // Every frame composes to the picture written, here and in ImageMagick.
  vlStream* stream = OpenFileStream(file.c_str(), VL_MODE_READ, nullptr);
  int32_t rw = 0, rh = 0, frames = 0;
  vlGIFReader* reader = OpenGIFReader(stream, &rw, &rh, &frames, 0, 0, 0);
  ASSERT_NE(reader, nullptr);
  ASSERT_EQ(frames, 3);
  EXPECT_EQ(GetGIFFrameDelay(reader, 0), 110);
  std::vector<uint8_t> coalesced =
      RunTool("convert " + Quote(file) + " -coalesce -depth 8 rgba:- 2>/dev/null");
  ASSERT_EQ(coalesced.size(), size_t(3 * w * h * 4));
  for (int n = 0; n < 3; ++n) {
    const auto& want = n < 2 ? a : b;
    uint32_t* frame = ReadGIFFrame(reader, n, nullptr);
    ASSERT_NE(frame, nullptr);
    for (int k = 0; k < w * h; ++k) {
      EXPECT_EQ(frame[k] & 0xFFFFFF, palette[want[k]]) << n << " " << k;
      EXPECT_EQ(coalesced[(n * w * h + k) * 4], want[k] ? 255 : 0) << n << " " << k;
    }
    FreeMemory(frame);
  }
  CloseGIFReader(reader);
}

// Reading frame 5 of an anim whose frame 3 is a full opaque frame starts
// there; random access gives the same frames as reading in order.
TEST(Gif, RandomAccessMatchesSequentialFrames) {
  TempDir dir;
  const int32_t w = 10, h = 6;
  const std::string file = dir.File("seq.gif");
  vlGIFWriter* writer = nullptr;
  ASSERT_EQ(OpenGIFWriter(file.c_str(), w, h, &writer), 0);
  uint32_t palette[256];
  for (int n = 0; n < 7; ++n) {
    std::vector<uint8_t> px(w * h);
    for (int k = 0; k < w * h; ++k) px[k] = uint8_t((k * (n + 1)) % 5);
    for (int i = 0; i < 5; ++i) palette[i] = uint32_t(0x202020 * (i + 1) + n);
    ASSERT_EQ(WriteGIFFrame(writer, px.data(), w, h, 50, palette, 6, -1, 1, n != 3), 0);
  }
  ASSERT_EQ(CloseGIFWriter(writer), 0);
  vlStream* stream = OpenFileStream(file.c_str(), VL_MODE_READ, nullptr);
  int32_t rw = 0, rh = 0, frames = 0;
  vlGIFReader* reader = OpenGIFReader(stream, &rw, &rh, &frames, 0, 0, 0);
  ASSERT_NE(reader, nullptr);
  ASSERT_EQ(frames, 7);
  std::vector<std::vector<uint32_t>> inOrder;
  for (int n = 0; n < 7; ++n) {
    uint32_t* f = ReadGIFFrame(reader, n, nullptr);
    ASSERT_NE(f, nullptr);
    inOrder.emplace_back(f, f + w * h);
    FreeMemory(f);
  }
  // The last frame twice running, and frames in order after a restart.
  for (int n : {5, 1, 6, 6, 3, 0, 1, 2, 6, 4}) {
    uint32_t* f = ReadGIFFrame(reader, n, nullptr);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(std::vector<uint32_t>(f, f + w * h), inOrder[n]) << n;
    FreeMemory(f);
  }
  EXPECT_EQ(ReadGIFFrame(reader, 7, nullptr), nullptr);
  CloseGIFReader(reader);
}

// Photo-like pictures dithered to 256 colours (short LZW strings, a full
// table cleared again and again), odd sizes down to one pixel, plain and
// interlaced: every pixel as ImageMagick decodes the same file.
TEST(Gif, DitheredPicturesMatchImageMagick) {
  TempDir dir;
  struct Case {
    int w, h;
    const char* extra;
  };
  for (const Case& c : {Case{1, 1, ""}, Case{7, 3, ""}, Case{333, 77, ""}, Case{641, 203, ""},
                        Case{259, 61, "-interlace GIF"}, Case{5, 9, "-interlace GIF"}}) {
    char size[32];
    std::snprintf(size, sizeof size, "%dx%d", c.w, c.h);
    const std::string file = dir.File(std::string(size) + ".gif");
    int status = 0;
    RunTool(std::string("convert -size ") + size + " -seed 3 plasma:fractal -dither FloydSteinberg -colors 256 " +
                c.extra + " " + Quote(file),
            &status);
    ASSERT_EQ(status, 0) << file;
    Rgba magick, ours;
    ASSERT_TRUE(MagickRgba(file, &magick)) << file;
    ASSERT_EQ(LoadRgba(file, &ours, nullptr, 0, "inbuilt", true), 0) << file;
    EXPECT_EQ(MaxDifference(ours, magick), 0) << file;
  }
}

// Frames read first out of order, or again, are those read in order from
// a fresh reader: the first read after opening is no special case.
TEST(Gif, FirstReadOfAnyFrameMatchesReadingInOrder) {
  TempDir dir;
  const std::string file = dir.File("anim.gif");
  int status = 0;
  // Frames of their own sizes and places, with a transparent colour.
  RunTool("convert -dispose Background -size 23x17 -seed 5 plasma:fractal \\( -size 9x7 plasma:fractal -repage +4+3 \\) "
          "\\( -size 11x5 xc:red -fill blue -draw 'point 2,2' -transparent blue -repage +10+9 \\) "
          "\\( -size 23x17 -seed 6 plasma:fractal \\) -dither FloydSteinberg -colors 64 " + Quote(file),
          &status);
  ASSERT_EQ(status, 0);
  auto open = [&](int32_t* count) {
    int32_t w = 0, h = 0;
    return OpenGIFReader(OpenFileStream(file.c_str(), VL_MODE_READ, nullptr), &w, &h, count, 0, 0, 0);
  };
  int32_t count = 0;
  vlGIFReader* inOrder = open(&count);
  ASSERT_NE(inOrder, nullptr);
  ASSERT_EQ(count, 4);
  std::vector<std::vector<uint32_t>> frames;
  for (int n = 0; n < count; ++n) {
    uint32_t* f = ReadGIFFrame(inOrder, n, nullptr);
    ASSERT_NE(f, nullptr);
    frames.emplace_back(f, f + 23 * 17);
    FreeMemory(f);
  }
  CloseGIFReader(inOrder);
  for (int first = 0; first < count; ++first) {
    vlGIFReader* r = open(&count);
    ASSERT_NE(r, nullptr);
    for (int n : {first, 0, 1, 2, 3, 0, 0}) {
      uint32_t* f = ReadGIFFrame(r, n, nullptr);
      ASSERT_NE(f, nullptr);
      EXPECT_EQ(std::vector<uint32_t>(f, f + 23 * 17), frames[n]) << "first " << first << " frame " << n;
      FreeMemory(f);
    }
    CloseGIFReader(r);
  }
}

TEST(Gif, TransparentIndexBecomesAlpha) {
  TempDir dir;
  const std::string file = dir.File("t.gif");
  int status = 0;
  RunTool("convert -size 6x4 xc:red -fill blue -draw 'point 1,1' -transparent blue " + Quote(file), &status);
  ASSERT_EQ(status, 0);
  Rgba ours;
  int32_t transparent = 0;
  ASSERT_EQ(LoadRgba(file, &ours, &transparent, 2), 0);
  EXPECT_EQ(transparent, -2);
  EXPECT_EQ(ours.At(1, 1)[3], 0);
  EXPECT_EQ(ours.At(0, 0)[3], 255);
  EXPECT_EQ(ours.At(0, 0)[0], 255);
  ASSERT_EQ(LoadRgba(file, &ours, &transparent, 0), 0);
  EXPECT_EQ(transparent, -1);
}

TEST(Dispatch, SignaturesNotNames) {
  VL_REQUIRE_TESTDATA();
  TempDir dir;
  int status = 0;
  const std::string png = dir.File("really-a-png.jpg"), tif = dir.File("p.tif");
  const std::string pal = TestData("png/png/tbbn3p08.png"), opaque = TestData("png/png/basn3p08.png");
  RunTool("convert -size 9x7 xc:green " + Quote("png:" + png) + " && convert -size 13x5 xc:blue " + Quote(tif),
          &status);
  ASSERT_EQ(status, 0);
  Rgba ours;
  ASSERT_EQ(LoadRgba(png, &ours), 0);
  EXPECT_EQ(ours.width, 9);
  EXPECT_EQ(ours.At(0, 0)[1], 128);

  // TIFF: measured by the probe, refused by the load.
  int32_t w = 0, h = 0, alpha = -1, transparent = -1;
  EXPECT_EQ(LoadImageFile(tif.c_str(), "", nullptr, nullptr, -1, 0, nullptr, nullptr, &transparent, &w, &h, &alpha,
                          nullptr),
            0);
  EXPECT_EQ(w, 13);
  EXPECT_EQ(h, 5);
  EXPECT_EQ(LoadRgba(tif, &ours), ERR_LOADPICTURE2);
  EXPECT_STREQ(GetErrorArgument(), tif.c_str());
  // A failed load (a PNG cut after its header) writes none of its
  // outputs; a load by a built-in reader says so.
  const std::string cut = dir.File("cut.png");
  auto head = ReadBytes(png);
  head.resize(40);
  WriteBytes(cut, head);
  vlLoadedImage* image = nullptr;
  int32_t native = 7;
  w = h = alpha = 9;
  EXPECT_EQ(LoadImageFile(cut.c_str(), "", nullptr, nullptr, -1, 0, &image, nullptr, &transparent, &w, &h, &alpha,
                          &native),
            ERR_LOADPICTURE2);
  EXPECT_EQ(native * 1000 + w * 100 + h * 10 + alpha, 7999);
  EXPECT_EQ(image, nullptr);
  ASSERT_EQ(LoadImageFile(png.c_str(), "", nullptr, nullptr, -1, 0, &image, nullptr, nullptr, &w, &h, nullptr,
                          &native),
            0);
  EXPECT_EQ(native, 0);
  FreeLoadedImage(image);

  // A palette PNG with tRNS: the probe says alpha, the load gives RGBA.
  EXPECT_EQ(LoadImageFile(pal.c_str(), "", nullptr, nullptr, -1, 0, nullptr, nullptr, nullptr, &w, &h, &alpha,
                          nullptr),
            0);
  EXPECT_EQ(alpha, 1);
  ASSERT_EQ(LoadRgba(pal, &ours), 0);
  EXPECT_EQ(ours.At(0, 0)[3], 0);
  EXPECT_EQ(ours.At(16, 16)[3], 255);
  EXPECT_EQ(LoadImageFile(opaque.c_str(), "", nullptr, nullptr, -1, 0, nullptr, nullptr, nullptr, &w, &h, &alpha,
                          nullptr),
            0);
  EXPECT_EQ(alpha, 0);

  // A FORM of another type falls through to 1358.
  const std::string form = dir.File("x.iff");
  WriteBytes(form, {'F', 'O', 'R', 'M', 0, 0, 0, 4, '8', 'S', 'V', 'X'});
  EXPECT_EQ(LoadRgba(form, &ours), ERR_LOADPICTURE2);

  // Only a plug-in named: no built-in path, the file is not even opened.
  EXPECT_EQ(LoadRgba(dir.File("missing.png"), &ours, nullptr, 0, "someplugin"), ERR_LOADPICTURE2);
  EXPECT_EQ(LoadRgba(dir.File("missing.png"), &ours), ERR_READFILE);
  EXPECT_EQ(LoadRgba(png, &ours, nullptr, 0, "native"), ERR_LOADPICTURE2);

  // Probes of a GIF and a BMP.
  const std::string gif = dir.File("g.gif"), bmp = dir.File("b.bmp");
  RunTool("convert -size 21x3 xc:white " + Quote(gif) + " && convert -size 5x8 xc:white -type truecolor " +
          Quote("bmp3:" + bmp),
      &status);
  ASSERT_EQ(status, 0);
  for (const auto& f : {gif, bmp}) {
    w = h = 0;
    EXPECT_EQ(LoadImageFile(f.c_str(), "", nullptr, nullptr, -1, 0, nullptr, nullptr, nullptr, &w, &h, nullptr,
                            nullptr),
              0);
    EXPECT_EQ(w * 100 + h, f == gif ? 2103 : 508);
  }
}
