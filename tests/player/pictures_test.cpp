// Pictures through the whole player on displays of both depths: a JPEG
// loaded as a brush and saved as PNG keeps libjpeg's colours (jpegtopnm's),
// on a 16-bit display cut to the display's 5-6-5 bits. Snapshots of scaled
// displays against pictures ImageMagick composes.
#include <cstdio>
#include <string>

#include "tests/player/player_harness.h"

namespace {

using vlplayer::Quote;
using vlplayer::Result;

// The pixel bytes of a binary PPM (P6, maxval 255), empty when it is not one.
std::string PpmPixels(const std::string& ppm, int* width, int* height) {
  int maxval = 0, used = 0;
  if (std::sscanf(ppm.c_str(), "P6 %d %d %d%n", width, height, &maxval, &used) != 3 || maxval != 255) return "";
  return ppm.substr(static_cast<size_t>(used) + 1);
}

class Pictures : public vlplayer::PlayerTest, public testing::WithParamInterface<int> {
 protected:
  Pictures() { depth_ = GetParam(); }
};

TEST_P(Pictures, JpegBrushSavesBackWithLibjpegColours) {
  // Random noise: every colour conversion clamps somewhere; 4:2:0 and an
  // odd width leave row tails for the vector loops.
  const std::string jpeg = dir() + "/noise.jpg", png = dir() + "/out.png";
  int status = 0;
  Tool("convert -size 203x41 xc:red -seed 4 -fx 'rand()' -sampling-factor 2x2 -quality 80 " + Quote(jpeg), &status);
  ASSERT_EQ(status, 0);
  Result r = Run({Applet("jpeg", ".line 1\n.call loadbrush 1 \"" + jpeg + "\"\n.call savebrush 1 \"" + png +
                                     "\" 1\n.call debugprint \"saved\"\n")});
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(r.out, "saved\n");
  int w = 0, h = 0, ew = 0, eh = 0;
  const std::string ours = PpmPixels(Tool("pngtopnm " + Quote(png)), &w, &h);
  std::string expected = PpmPixels(Tool("jpegtopnm -dct int " + Quote(jpeg) + " 2>/dev/null"), &ew, &eh);
  ASSERT_EQ(w, 203);
  ASSERT_EQ(h, 41);
  ASSERT_EQ(ew, w);
  ASSERT_EQ(eh, h);
  ASSERT_EQ(ours.size(), expected.size());
  if (depth_ == 16)
    for (size_t i = 0; i < expected.size(); ++i) expected[i] = static_cast<char>(expected[i] & (i % 3 == 1 ? 0xFC : 0xF8));
  size_t differ = 0;
  for (size_t i = 0; i < expected.size(); ++i) differ += ours[i] != expected[i];
  EXPECT_EQ(differ, 0u);
}

INSTANTIATE_TEST_SUITE_P(Depths, Pictures, testing::Values(24, 16));

using Snapshots = vlplayer::PlayerTest;

// A display's snapshot is its BGPic with the layers at the BGPic's size,
// whether the display scales its layers or its output; the window's own
// grab shows the same picture twice as large.
TEST_F(Snapshots, ScaledDisplaysSaveTheirWholePictureAtTheBGPicsSize) {
  const std::string bg = dir() + "/bg.bmp", brush = dir() + "/brush.png";
  int status = 0;
  Tool("convert -size 160x120 xc: -seed 1 +noise Random -type TrueColor BMP3:" + Quote(bg), &status);
  ASSERT_EQ(status, 0);
  // A brush whose right half is transparent: the snapshot keeps its mask.
  Tool("convert -size 48x32 xc: -seed 2 +noise Random -alpha set -region 24x32+24+0 -alpha transparent PNG32:" +
           Quote(brush),
       &status);
  ASSERT_EQ(status, 0);
  Tool("convert " + Quote(bg) + " " + Quote(brush) + " -geometry +16+12 -composite -type TrueColor BMP3:" +
           Quote(dir() + "/want.bmp"),
       &status);
  ASSERT_EQ(status, 0);
  Tool("convert " + Quote(dir() + "/want.bmp") + " -sample 200% -type TrueColor BMP3:" + Quote(dir() + "/want2.bmp"),
       &status);
  ASSERT_EQ(status, 0);
  // One display, its layers scaled, then its output, then its layers
  // again: no switch leaves a picture of the other mode behind.
  std::string text = ".line 1\n.call loadbgpic 2 \"" + bg + "\"\n.table 0 { loadalpha = 1 }\n" +
                     ".call base=1 loadbrush 1 \"" + brush + "\" r0\n";
  for (int mode : {2, 1, 2}) {
    const std::string m = std::to_string(mode);
    text += ".call displaybgpic 2\n.call enablelayers\n.table 0 { scalemode = " + m +
            ", scalewidth = 320, scaleheight = 240 }\n.call base=1 setdisplayattributes r0\n" +
            ".call displaybrush 1 16 12\n.call wait 5\n.call savesnapshot \"" + dir() + "/display" + m +
            ".bmp\" 1\n.call savesnapshot \"" + dir() + "/window" + m + ".bmp\" 0\n.call freelayers\n";
  }
  Result r = Run({Applet("snap", text)});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  for (const char* mode : {"2", "1"}) {
    for (const char* kind : {"display", "window"}) {
      const std::string got = dir() + "/" + kind + mode + ".bmp";
      const std::string want = dir() + (kind[0] == 'd' ? "/want.bmp" : "/want2.bmp");
      EXPECT_EQ(Tool("identify -format '%wx%h' " + Quote(got)), kind[0] == 'd' ? "160x120" : "320x240")
          << kind << " of scale mode " << mode;
      EXPECT_EQ(Tool("compare -metric AE " + Quote(got) + " " + Quote(want) + " null: 2>&1"), "0")
          << kind << " of scale mode " << mode;
    }
  }
}

}  // namespace
