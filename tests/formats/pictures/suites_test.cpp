// The real test suites (PNG, BMP, GIF) decoded through the picture dispatch
// and compared pixel for pixel with ImageMagick's decoding of the same
// files. Files the readers do not take are listed and must fail with 1358.
#include <algorithm>
#include <map>
#include <set>
#include <sstream>

#include "tests/support/testdata.h"
#include "formats/gif.h"
#include "picture_test_util.h"
#include "runtime/os.h"
#include "runtime/stream.h"
#include "vm/error_codes.h"

using namespace pictest;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> Files(const std::string& dir, const std::string& extension) {
  std::vector<std::string> out;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(TestData(dir), ec))
    if (e.path().extension() == extension) out.push_back(e.path().string());
  std::sort(out.begin(), out.end());
  return out;
}

std::string Name(const std::string& path) { return fs::path(path).filename().string(); }

}  // namespace

// Every good PNG of the suite matches ImageMagick; 16-bit samples may differ
// by one (stripped versus rounded); corrupt files (x*) fail with 1358.
TEST(PictureSuites, PngSuiteMatchesImageMagick) {
  VL_REQUIRE_TESTDATA();
  const auto files = Files("png/png", ".png");
  ASSERT_GT(files.size(), 150u);
  int compared = 0;
  for (const auto& file : files) {
    SCOPED_TRACE(Name(file));
    Rgba ours;
    const int rc = LoadRgba(file, &ours);
    if (Name(file)[0] == 'x') {
      EXPECT_EQ(rc, ERR_LOADPICTURE2);
      continue;
    }
    ASSERT_EQ(rc, 0);
    Rgba magick;
    ASSERT_TRUE(MagickRgba(file, &magick));
    const bool sixteen = Name(file).find("16") != std::string::npos;
    const int diff = MaxDifference(ours, magick);
    EXPECT_GE(diff, 0);
    EXPECT_LE(diff, sixteen ? 1 : 0);
    ++compared;
  }
  EXPECT_GT(compared, 140);
}

// The good BMP files match ImageMagick (16-bit channels are widened by a
// shift, ImageMagick rounds: up to 7 apart); the three layouts the reader
// does not take fail with 1358; bad and questionable files never crash and
// either load or fail with 1358.
TEST(PictureSuites, BmpSuite) {
  VL_REQUIRE_TESTDATA();
  const std::set<std::string> unsupported = {"pal4rle.bmp", "pal8topdown.bmp", "pal8os2.bmp"};
  int compared = 0;
  for (const auto& file : Files("bmp/g", ".bmp")) {
    SCOPED_TRACE(Name(file));
    Rgba ours;
    const int rc = LoadRgba(file, &ours);
    if (unsupported.count(Name(file))) {
      EXPECT_EQ(rc, ERR_LOADPICTURE2);
      continue;
    }
    ASSERT_EQ(rc, 0);
    Rgba magick;
    ASSERT_TRUE(MagickRgba(file, &magick));
    const int diff = MaxDifference(ours, magick, false);
    EXPECT_GE(diff, 0);
    EXPECT_LE(diff, Name(file).find("rgb16") == 0 ? 7 : 0);
    ++compared;
  }
  EXPECT_GE(compared, 20);
  for (const char* dir : {"bmp/b", "bmp/q", "bmp/x"}) {
    for (const auto& file : Files(dir, ".bmp")) {
      SCOPED_TRACE(Name(file));
      Rgba ours;
      const int rc = LoadRgba(file, &ours);
      // A declared size too large to hold ("reallybig") is out of memory.
      EXPECT_TRUE(rc == 0 || rc == ERR_LOADPICTURE2 || (rc == ERR_MEM && Name(file) == "reallybig.bmp")) << rc;
      if (rc == 0) { EXPECT_EQ(ours.bytes.size(), size_t(ours.width) * ours.height * 4); }
    }
  }
}

// The first frame of every GIF of the suite: where our frame drew a pixel
// (alpha 255) and ImageMagick's first frame is opaque, the colours agree.
// Damaged files, screens of no size or beyond the size limit and minimum
// code sizes above 8 fail with 1358.
TEST(PictureSuites, GifSuiteFirstFrames) {
  VL_REQUIRE_TESTDATA();
  const std::set<std::string> refused = {
      "image-zero-height.gif", "image-zero-size.gif", "image-zero-width.gif", "invalid-code.gif",
      "max-codes.gif",         "max-size.gif",        "no-data.gif",
      "overflow-codes-max.gif", "overflow-codes.gif", "zero-height.gif",     "zero-size.gif",
      "zero-width.gif"};
  int compared = 0;
  std::set<std::string> failed;
  for (const auto& file : Files("gif/test-suite", ".gif")) {
    SCOPED_TRACE(Name(file));
    Rgba ours;
    const int rc = LoadRgba(file, &ours, nullptr, 2, "inbuilt", true);
    Rgba magick;
    const bool magickOk = MagickRgba(file, &magick, "[0]");
    if (rc != 0) {
      EXPECT_EQ(rc, ERR_LOADPICTURE2);
      failed.insert(Name(file));
      continue;
    }
    if (!magickOk || magick.width != ours.width || magick.height != ours.height) continue;
    int drawn = 0;
    for (int32_t y = 0; y < ours.height; ++y)
      for (int32_t x = 0; x < ours.width; ++x) {
        const uint8_t* a = ours.At(x, y);
        const uint8_t* b = magick.At(x, y);
        if (a[3] != 255 || b[3] != 255) continue;
        ++drawn;
        ASSERT_TRUE(a[0] == b[0] && a[1] == b[1] && a[2] == b[2]) << x << "," << y;
      }
    if (drawn) ++compared;
  }
  EXPECT_GT(compared, 40);
  EXPECT_EQ(failed, refused);
}

// The suite's own expected frames: an animation read frame by frame gives
// the listed RGBA files where our pixels are drawn and theirs opaque.
TEST(PictureSuites, GifSuiteExpectedFramesByConf) {
  VL_REQUIRE_TESTDATA();
  // Parse a .conf just enough for "input", "frames" and each frame's pixels.
  int checked = 0;
  for (const auto& conf : Files("gif/test-suite", ".conf")) {
    std::ifstream in(conf);
    std::string line, input, section;
    std::vector<std::string> frames;
    std::map<std::string, std::string> pixels;
    while (std::getline(in, line)) {
      auto strip = [](std::string s) {
        s.erase(0, s.find_first_not_of(" \t"));
        s.erase(s.find_last_not_of(" \t\r") + 1);
        return s;
      };
      line = strip(line.substr(0, line.find('#')));
      if (line.empty()) continue;
      if (line[0] == '[') {
        section = line.substr(1, line.find(']') - 1);
        continue;
      }
      const size_t eq = line.find('=');
      if (eq == std::string::npos) continue;
      const std::string key = strip(line.substr(0, eq)), value = strip(line.substr(eq + 1));
      if (section == "config" && key == "input") input = value;
      if (section == "config" && key == "frames") {
        std::stringstream ss(value);
        for (std::string f; std::getline(ss, f, ',');) frames.push_back(strip(f));
      }
      if (key == "pixels") pixels[section] = value;
    }
    if (input.empty() || frames.empty()) continue;
    const std::string file = TestData("gif/test-suite/" + input);
    vlStream* stream = OpenFileStream(file.c_str(), VL_MODE_READ, nullptr);
    ASSERT_NE(stream, nullptr);
    int32_t width = 0, height = 0, count = 0;
    vlGIFReader* reader = OpenGIFReader(stream, &width, &height, &count, 0, 0, 1);
    if (!reader) continue;
    SCOPED_TRACE(input);
    if (count != static_cast<int32_t>(frames.size())) {
      // Zero-delay images that the suite merges into one frame.
      CloseGIFReader(reader);
      continue;
    }
    for (int32_t n = 0; n < count && n < static_cast<int32_t>(frames.size()); ++n) {
      if (!pixels.count(frames[n])) continue;
      const auto expected = ReadBytes(TestData("gif/test-suite/" + pixels[frames[n]]));
      int32_t alpha = 0;
      uint32_t* frame = ReadGIFFrame(reader, n, &alpha);
      ASSERT_NE(frame, nullptr);
      ASSERT_EQ(expected.size(), size_t(width) * height * 4);
      for (size_t i = 0; i < size_t(width) * height; ++i) {
        if ((frame[i] >> 24) != 255 || expected[4 * i + 3] != 255) continue;
        ASSERT_EQ(frame[i] & 0xFFFFFF, (uint32_t{expected[4 * i]} << 16) | (uint32_t{expected[4 * i + 1]} << 8) |
                                           expected[4 * i + 2])
            << "frame " << n << " pixel " << i;
      }
      FreeMemory(frame);
      ++checked;
    }
    CloseGIFReader(reader);
  }
  EXPECT_GT(checked, 40);
}
