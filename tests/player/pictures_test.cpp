// Pictures through the whole player on displays of both depths: a JPEG
// loaded as a brush and saved as PNG keeps libjpeg's colours (jpegtopnm's),
// on a 16-bit display cut to the display's 5-6-5 bits. Snapshots of scaled
// displays against pictures ImageMagick composes.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>
#include <sys/stat.h>
#include <thread>

#include "tests/player/drawing_test_fixture.h"
#include "tests/player/player_harness.h"
#include "tests/text/vector/polygon_reference.h"

#ifdef VL_HAVE_CAIRO
#include <cairo.h>
#endif

namespace {

using vlplayer::Quote;
using vlplayer::Result;
using vlplayer::RunOptions;

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

using AnimFiles = vlplayer::PlayerTest;

// An IFF ANIM from the format tests' generator: its fourth frame, whose
// delta repeats a value down a column and changes rows below that run,
// copied into a brush and saved as PNG holds the pixels the generator drew
// (netpbm reads the PNG).
TEST_F(AnimFiles, IffAnimFrameSavesWithTheGeneratorsPixels) {
  const std::string anim = dir() + "/op5.anim", png = dir() + "/frame.png";
  int status = 0;
  Tool("python3 " + Quote(std::string(getenv("VL_SOURCE_DIR")) + "/tests/formats/pictures/make_iff.py") +
           " anim " + Quote(anim) + " op5",
       &status);
  ASSERT_EQ(status, 0);
  Result r = Run({Applet("anim", ".line 1\n.call loadanim 1 \"" + anim + "\"\n.call getanimframe 2 4 1\n"
                                 ".call savebrush 2 \"" + png + "\" 1\n.call debugprint \"saved\"\n")});
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(r.out, "saved\n");
  int w = 0, h = 0;
  const std::string ours = PpmPixels(Tool("pngtopnm " + Quote(png)), &w, &h);
  const std::string rgb = Tool("cat " + Quote(anim + ".3.rgb"));
  ASSERT_EQ(rgb.size(), 4u + ours.size());
  EXPECT_EQ(w * 1000 + h, ((uint8_t(rgb[0]) << 8) | uint8_t(rgb[1])) * 1000 + ((uint8_t(rgb[2]) << 8) | uint8_t(rgb[3])));
  EXPECT_TRUE(ours == rgb.substr(4));
}

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

using Drawing = vlplayer::DrawingTest;

// Without layers a box, a point, a line and a brush stay in the display's
// picture when a sprite passes over them: the picture under a sprite is
// redrawn from what was drawn, not from the BGPic. Cls brings the BGPic
// back, also where a sprite had been.
TEST_F(Drawing, ShapesPointsAndLinesStayUnderPassingSprites) {
  const std::string text = ".line 1\n"
      ".table 0 { width = 160, height = 100, title = \"draw\" }\n"
      ".call base=1 setdisplayattributes r0\n"
      ".call base=1 createbrush 12 10 10 16711935\n"
      ".call base=1 createsprite 1 3 12\n"
      ".call base=1 displaysprite 1 0 0\n"
      ".call base=1 setfillstyle 1\n"
      ".call base=1 box 65 35 20 20 49152\n"
      ".call base=1 setfillstyle 0\n"
      ".call base=1 box 20 60 12 8 255\n"
      ".call base=1 plot 100 40 16777215\n"
      ".call base=1 line 60 70 100 70 16776960\n"
      ".call base=1 createbrush 5 8 8 16744448\n"
      ".call base=1 displaybrush 5 130 60\n"
      ".call base=1 displaysprite 1 60 30\n"
      ".call base=1 displaysprite 1 95 35\n"
      ".call base=1 displaysprite 1 60 65\n"
      ".call base=1 displaysprite 1 25 62\n"
      ".call base=1 displaysprite 1 127 58\n"
      ".call base=1 displaysprite 1 0 0\n"
      ".call base=1 savesnapshot \"" + dir() + "/drawn.bmp\" 0\n" +
      ReadyForGrab() +
      ".call base=1 cls\n"
      ".call base=1 savesnapshot \"" + dir() + "/cleared.bmp\" 0\n";
  Result r = RunAndGrab(text, "sprites");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::string want =
      Convert("-size 160x100 xc:black +antialias -fill '#00C000' -draw 'rectangle 65,35 84,54' -fill none "
              "-stroke '#0000FF' -draw 'rectangle 20,60 31,67' -stroke none -fill white -draw 'point 100,40' "
              "-fill '#FFFF00' -draw 'rectangle 60,70 100,70' -fill '#FF8000' -draw 'rectangle 130,60 137,67' "
              "-fill '#FF00FF' -draw 'rectangle 0,0 9,9'",
              "want.bmp");
  EXPECT_EQ(Differ(dir() + "/sprites.png", want), "0") << "window";
  EXPECT_EQ(Differ(dir() + "/drawn.bmp", want), "0") << "snapshot";
  EXPECT_EQ(Differ(dir() + "/cleared.bmp", Convert("-size 160x100 xc:black", "black.bmp")), "0") << "after Cls";
}

// On a display whose output is scaled, points and lines show where they
// were drawn and keep what was drawn before them.
// A one-pixel anti-aliased line has the drawing loops' thin-line coverage
// on every target: the display without layers, a layer, a selected brush,
// a brush's alpha channel (VANILLACOPY writes the coverage) and its mask
// (every covered pixel visible), each checked against a model of that line
// written in Python: white over black, 255 at full coverage and 255 * c >> 8
// below it. A sloped, a level and a steep line drawn from its lower end.
TEST_F(Drawing, ThinAntiAliasedLinesHaveTheirCoverageOnEveryTarget) {
  const std::vector<int> lines = {10, 40, 14, 41, 10, 20, 41, 20, 60, 50, 57, 30};
  auto draw = [&](int dx) {
    std::string out;
    for (size_t i = 0; i < lines.size(); i += 4)
      out += ".call base=1 line " + std::to_string(lines[i] + dx) + " " + std::to_string(lines[i + 1]) + " " +
             std::to_string(lines[i + 2] + dx) + " " + std::to_string(lines[i + 3]) + " 16777215\n";
    return out;
  };
  auto file = [&](const std::string& name) { return "\"" + dir() + "/" + name + ".png\""; };
  const std::string text =
      ".line 1\n.table 0 { width = 128, height = 64, color = 0, title = \"draw\" }\n"
      ".call base=1 setdisplayattributes r0\n.call base=1 setformstyle 16\n" + draw(0) +
      ".call base=1 savesnapshot " + file("display") + " 0\n"
      ".call base=1 createbrush 1 64 64 0\n.call base=1 selectbrush 1\n" + draw(0) +
      ".call base=1 endselect\n.call base=1 savebrush 1 " + file("brush") + " 1\n"
      ".table 0 { alphachannel = 1, clear = 1 }\n.call base=1 createbrush 2 64 64 0 r0\n"
      ".call base=1 selectalphachannel 2\n.call base=1 setalphaintensity -1\n" + draw(0) +
      ".call base=1 endselect\n.call base=1 savebrush 2 " + file("alpha") + " 1\n"
      ".table 0 { mask = 1, clear = 1 }\n.call base=1 createbrush 3 64 64 0 r0\n"
      ".call base=1 selectmask 3\n" + draw(0) + ".call base=1 endselect\n.call base=1 savebrush 3 " +
      file("mask") + " 1\n.call base=1 enablelayers\n" + draw(64) + ".call base=1 savesnapshot " + file("layer") +
      " 0\n" + ReadyForGrab();
  Result r = RunAndGrab(text, "window");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  struct Check {
    std::string picture, convert, mode;
    int width, x0, x1, dx;
  };
  const Check checks[] = {{"display", "-depth 8 gray:-", "blend", 128, 0, 64, 0},
                          {"window", "-depth 8 gray:-", "blend", 128, 0, 64, 0},
                          {"brush", "-depth 8 gray:-", "blend", 64, 0, 64, 0},
                          {"alpha", "-alpha extract -depth 8 gray:-", "alpha", 64, 0, 64, 0},
                          {"mask", "-depth 8 gray:-", "mask", 64, 0, 64, 0},
                          {"layer", "-depth 8 gray:-", "blend", 128, 64, 128, 64},
                          {"window", "-depth 8 gray:-", "blend", 128, 64, 128, 64}};
  for (const Check& c : checks) {
    SCOPED_TRACE(c.picture + " " + c.mode + " from x " + std::to_string(c.x0));
    const std::string raw = dir() + "/" + c.picture + "_" + c.mode + ".gray";
    int status = 0;
    Tool("convert " + Quote(dir() + "/" + c.picture + ".png") + " " + c.convert + " > " + Quote(raw), &status);
    ASSERT_EQ(status, 0);
    std::string args;
    for (size_t i = 0; i < lines.size(); ++i) {
      args += ' ';
      args += std::to_string(lines[i] + (i % 2 ? 0 : c.dx));
    }
    EXPECT_EQ(Tool("python3 " + Quote(std::string(VL_SOURCE_ROOT) + "/tests/player/line_aa_model.py") + " " +
                   Quote(raw) + " " + std::to_string(c.width) + " 64 " + c.mode + " " + std::to_string(c.x0) +
                   " 0 " + std::to_string(c.x1) + " 64 --" + args),
              "ok\n");
  }
}

TEST_F(Drawing, PointsAndLinesShowOnAScaledDisplay) {
  const std::string bg = Convert("-size 200x150 xc:'#204060'", "bg.bmp");
  std::string text = ".line 1\n.call base=1 loadbgpic 2 \"" + bg + "\"\n" +
      ".call base=1 displaybgpic 2\n"
      ".table 0 { title = \"draw\", scalemode = 1, scalewidth = 400, scaleheight = 300 }\n"
      ".call base=1 setdisplayattributes r0\n"
      ".call base=1 createbrush 5 10 10 16711680\n"
      ".call base=1 displaybrush 5 10 10\n"
      ".call base=1 setfillstyle 1\n"
      ".call base=1 box 30 10 10 10 49152\n";
  std::string points;
  for (int i = 0; i < 20; ++i) {
    text += ".call base=1 plot " + std::to_string(5 + 10 * i) + " 140 16777215\n";
    points += " point " + std::to_string(5 + 10 * i) + ",140";
  }
  text += ".call base=1 line 10 100 190 100 16776960\n"
          ".call base=1 savesnapshot \"" + dir() + "/drawn.bmp\" 1\n" +
          ReadyForGrab();
  Result r = RunAndGrab(text, "scaled");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::string want = Convert(Quote(bg) + " +antialias -fill '#FF0000' -draw 'rectangle 10,10 19,19' "
                                   "-fill '#00C000' -draw 'rectangle 30,10 39,19' -fill white -draw '" + points +
                                   "' -fill '#FFFF00' -draw 'rectangle 10,100 190,100'",
                                   "want.bmp");
  EXPECT_EQ(Differ(dir() + "/drawn.bmp", want), "0") << "snapshot";
  EXPECT_EQ(Differ(dir() + "/scaled.png", Convert(Quote(want) + " -sample 200%", "want2.bmp")), "0") << "window";
}

// Brushes drawn with no sprite on the display (one over the whole window,
// a plain one and one with transparent pixels) stay in the display's
// picture for whatever next reads it: a box drawn over them, a sprite
// appearing and moving away, a snapshot, a brush shown by a transition,
// a new BGPic shown by a transition, scaling, a size change and Cls. The
// window is grabbed after each and compared with ImageMagick's picture.
TEST_F(Drawing, BrushesDrawnWithoutSpritesReachEveryReaderOfThePicture) {
  const std::string halfClear = dir() + "/half.png";
  int status = 0;
  Tool("convert -size 20x20 xc:'#00FF00' -alpha set -region 10x20+10+0 -alpha transparent PNG32:" +
           Quote(halfClear),
       &status);
  ASSERT_EQ(status, 0);
  const std::string bg2 = Convert("-size 160x100 xc:'#602000'", "bg2.bmp");
  const std::string drawn = ".line 1\n"
      ".table 0 { width = 160, height = 100, title = \"draw\" }\n"
      ".call base=1 setdisplayattributes r0\n"
      ".call base=1 createbrush 1 160 100 2113632\n"
      ".call base=1 createbrush 2 30 20 16744448\n"
      ".table 0 { loadalpha = 1 }\n"
      ".call base=1 loadbrush 3 \"" + halfClear + "\" r0\n"
      // Frames over the whole window, the last one kept.
      ".call base=1 displaybrush 2 0 0\n"
      ".call base=1 displaybrush 1 0 0\n"
      ".call base=1 displaybrush 2 20 20\n"
      ".call base=1 displaybrush 1 0 0\n"
      ".call base=1 displaybrush 2 20 20\n"
      ".call base=1 displaybrush 3 100 50\n";
  const std::string model = "-size 160x100 xc:'#204060' +antialias -fill '#FF8000' -draw 'rectangle 20,20 49,39' "
                            "-fill '#00FF00' -draw 'rectangle 100,50 109,69'";
  struct Reader {
    const char* name;
    std::string script;
    std::string want;  // ImageMagick's arguments for the display's picture
    bool scaled = true;  // then scaled, the window redrawn from the picture
  };
  const Reader readers[] = {
      {"scale", "", model},
      {"box",
       ".call base=1 setfillstyle 0\n.call base=1 box 15 15 40 30 255\n.call base=1 box 95 45 20 30 255\n",
       model + " -fill none -stroke '#0000FF' -draw 'rectangle 15,15 54,44' -draw 'rectangle 95,45 114,74'"},
      {"sprite",
       ".call base=1 createbrush 12 10 10 16711935\n.call base=1 createsprite 1 3 12\n"
       ".call base=1 displaysprite 1 25 25\n.call base=1 displaysprite 1 100 55\n"
       ".call base=1 displaysprite 1 150 0\n",
       model + " -fill '#FF00FF' -draw 'rectangle 150,0 159,9'"},
      {"snapshot", ".call base=1 savesnapshot \"" + dir() + "/snapshot.bmp\" 0\n", model},
      // The moved brush is not kept: the picture under it comes back.
      {"move", ".call base=1 createbrush 7 20 10 65535\n.call base=1 movebrush 7 100 10 25 25\n", model},
      {"brushfx", ".call base=1 createbrush 7 20 10 65535\n.call base=1 displaybrushfx 7 40 30 49 4\n",
       model + " -fill '#00FFFF' -draw 'rectangle 40,30 59,39'"},
      {"bgpicfx",
       ".call base=1 loadbgpic 2 \"" + bg2 + "\"\n.call base=1 displaytransitionfx 2 49 4\n"
       ".call base=1 displaybrush 3 0 0\n",
       "-size 160x100 xc:'#602000' +antialias -fill '#00FF00' -draw 'rectangle 0,0 9,19'"},
      {"resize", ".table 0 { width = 200, height = 120 }\n.call base=1 setdisplayattributes r0\n",
       "-size 160x100 xc:black"},
      {"cls", ".call base=1 cls\n", "-size 160x100 xc:black"},
  };
  // Last the display is scaled: the window is then redrawn from the
  // display's picture, not from what the window showed.
  const std::string scale = ".table 0 { scalemode = 1, scalewidth = 320, scaleheight = 200 }\n"
                            ".call base=1 setdisplayattributes r0\n";
  for (const Reader& reader : readers) {
    SCOPED_TRACE(reader.name);
    unlink((dir() + "/grabbed").c_str());
    rmdir((dir() + "/ready").c_str());
    Result r = RunAndGrab(drawn + reader.script + (reader.scaled ? scale : "") + ReadyForGrab(), reader.name);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const std::string want =
        Convert(reader.want + (reader.scaled ? " -sample 320x200!" : ""), std::string(reader.name) + "_want.bmp");
    EXPECT_EQ(Differ(dir() + "/" + reader.name + ".png", want), "0") << "window";
  }
  EXPECT_EQ(Differ(dir() + "/snapshot.bmp", Convert(model, "model.bmp")), "0") << "snapshot";
}

// A brush with an alpha channel (clear, opaque and every level between)
// large enough for the blend to be split among helper threads, shown over
// a BGPic of noise: the window shows each channel as d + ((c - d) * a >> 8),
// and c itself where a is 255 (ImageMagick decodes both pictures and the
// grab), with the fast paths and helper threads and with the general
// kernel alone on the calling thread.
TEST_F(Drawing, LargeAlphaBrushBlendsAsTheRuleSays) {
  // Raw bytes of a picture as ImageMagick decodes it ("rgb" or "rgba").
  auto RawPixels = [&](const std::string& file, const char* map) {
    return Tool("convert " + Quote(file) + " -depth 8 " + map + ":-");
  };
  const std::string bg = Convert("-size 640x480 xc: -seed 7 +noise Random", "bg.bmp");
  const std::string brush = dir() + "/brush.png";
  int status = 0;
  Tool("convert -size 600x450 xc: -seed 3 +noise Random \\( -size 600x450 xc: -seed 5 +noise Random -colorspace gray "
       "-level 20%,80% -fill black -draw 'rectangle 0,0 99,449' -fill white -draw 'rectangle 100,0 199,99' \\) "
       "-alpha off -compose CopyOpacity -composite PNG32:" + Quote(brush),
       &status);
  ASSERT_EQ(status, 0);
  const std::string text = ".line 1\n.call base=1 loadbgpic 2 \"" + bg + "\"\n.call base=1 displaybgpic 2\n"
                           ".table 0 { title = \"draw\" }\n.call base=1 setdisplayattributes r0\n"
                           ".table 0 { loadalpha = 1 }\n.call base=1 loadbrush 1 \"" + brush + "\" r0\n"
                           ".call base=1 displaybrush 1 17 13\n" + ReadyForGrab();
  const std::string d = RawPixels(bg, "rgb"), c = RawPixels(brush, "rgba");
  ASSERT_EQ(d.size(), size_t{640} * 480 * 3);
  ASSERT_EQ(c.size(), size_t{600} * 450 * 4);
  std::string want = d;
  int clear = 0, opaque = 0, mixed = 0;
  for (int y = 0; y < 450; ++y)
    for (int x = 0; x < 600; ++x) {
      const size_t s = (static_cast<size_t>(y) * 600 + x) * 4, t = (static_cast<size_t>(y + 13) * 640 + x + 17) * 3;
      const int a = static_cast<uint8_t>(c[s + 3]);
      (a == 0 ? clear : a == 255 ? opaque : mixed)++;
      for (int k = 0; k < 3; ++k) {
        const int dc = static_cast<uint8_t>(d[t + k]), cc = static_cast<uint8_t>(c[s + k]);
        want[t + k] = static_cast<char>(a == 255 ? cc : dc + (((cc - dc) * a) >> 8));
      }
    }
  ASSERT_GT(clear, 45000);
  ASSERT_GT(opaque, 10000);
  ASSERT_GT(mixed, 100000);
  // "bands" splits the blend whatever the processor's caches hold.
  for (const char* paths : {"bands", "off"}) {
    SCOPED_TRACE(std::string("VL_FASTPATHS=") + paths);
    const std::string name = std::string("grab") + paths;
    unlink((dir() + "/grabbed").c_str());
    rmdir((dir() + "/ready").c_str());
    Result r = RunAndGrab(text, name, {std::string("VL_FASTPATHS=") + paths});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const std::string got = RawPixels(dir() + "/" + name + ".png", "rgb");
    ASSERT_EQ(got.size(), want.size());
    size_t differ = 0;
    for (size_t i = 0; i < want.size(); i += 3) differ += got.compare(i, 3, want, i, 3) != 0;
    EXPECT_EQ(differ, 0u);
  }
}

// What a transition shows on a display without layers stays drawn as the
// plain command would have drawn it: a brush with an alpha channel, a
// masked brush, a BGPic part and a text object, first with no sprite on the display (then
// the display is scaled: the window is drawn again from its picture), then
// each with a sprite over its place while the effect runs. A sprite then
// crosses them all: the window and both snapshots equal those of the run
// with the plain commands (no sprite baked in, nothing lost), for effects
// drawn in strips, travelling in (the move engine), through a growing
// mask, mixed and dissolved.
TEST_F(Drawing, TransitionsLeaveWhatThePlainCommandsLeave) {
  int status = 0;
  const std::string alphaBrush = dir() + "/alpha.png";
  Tool("convert -size 40x30 xc:'#FF8000' \\( -size 30x40 gradient: -rotate 90 \\) -alpha off "
       "-compose CopyOpacity -composite PNG32:" + Quote(alphaBrush),
       &status);
  ASSERT_EQ(status, 0);
  const std::string masked =
      Convert("-size 40x30 xc:'#00C0FF' -fill '#FF00FF' -draw 'circle 20,15 20,4'", "masked.bmp");
  const std::string bg = Convert("-size 200x120 xc: -seed 3 +noise Random", "bg.bmp");
  const std::string part = Convert("-size 200x120 gradient:'#20FF20'-'#2020FF'", "part.bmp");
  // shows(place, x, y, effect): the script line that shows one of the
  // three at x, y; effect < 0 for the plain command.
  auto shows = [](int what, int x, int y, int effect) {
    const std::string at = std::to_string(x) + " " + std::to_string(y);
    const std::string fx = " " + std::to_string(effect) + " 16";
    if (what < 2) {
      const std::string id = what == 0 ? "3" : "4";
      return effect < 0 ? ".call base=1 displaybrush " + id + " " + at + "\n"
                        : ".call base=1 displaybrushfx " + id + " " + at + fx + "\n";
    }
    if (what == 3)
      return effect < 0 ? ".call base=1 displaytextobject 1 " + at + "\n"
                        : ".call base=1 displaytextobjectfx 1 " + at + fx + "\n";
    return effect < 0 ? ".call base=1 displaybgpicpart 5 30 40 40 30 " + at + "\n"
                      : ".call base=1 displaybgpicpartfx 5 30 40 40 30" + fx + " -1 " + at + "\n";
  };
  auto script = [&](int effect, const std::string& name) {
    std::string text = ".line 1\n.call base=1 loadbgpic 2 \"" + bg + "\"\n.call base=1 displaybgpic 2\n"
        ".table 0 { title = \"draw\" }\n.call base=1 setdisplayattributes r0\n"
        ".table 0 { loadalpha = 1 }\n.call base=1 loadbrush 3 \"" + alphaBrush + "\" r0\n"
        ".call base=1 loadbrush 4 \"" + masked + "\" 16711935\n"
        ".call base=1 loadbgpic 5 \"" + part + "\"\n"
        ".call base=1 setfontcolor 16777215\n.call base=1 createtextobject 1 \"Hello\"\n"
        // Drawn over the whole display first: the front copy owes it.
        ".call base=1 displaybgpicpart 2 0 0 200 120 0 0\n";
    // Where each of the four goes, without and with a sprite over it.
    const int places[2][4][2] = {{{10, 10}, {75, 10}, {140, 10}, {60, 44}}, {{10, 65}, {75, 65}, {140, 65}, {120, 44}}};
    for (int what = 0; what < 4; ++what) text += shows(what, places[0][what][0], places[0][what][1], effect);
    // Scaled before any sprite: the window is drawn again from the
    // display's picture.
    text += ".table 0 { scalemode = 1, scalewidth = 400, scaleheight = 240 }\n"
            ".call base=1 setdisplayattributes r0\n";
    text += ".call base=1 createbrush 12 10 10 16711935\n.call base=1 createsprite 1 3 12\n";
    for (int what = 0; what < 4; ++what) {
      const int x = places[1][what][0], y = places[1][what][1];
      text += ".call base=1 displaysprite 1 " + std::to_string(x + 8) + " " + std::to_string(y + 4) + "\n" +
              shows(what, x, y, effect);
    }
    for (int x = 0; x <= 190; x += 8)
      text += ".call base=1 displaysprite 1 " + std::to_string(x) + " " + std::to_string(20 + (x * 6) % 80) + "\n";
    text += ".call base=1 displaysprite 1 190 0\n"
            ".call base=1 savesnapshot \"" + dir() + "/" + name + "_window.bmp\" 0\n"
            ".call base=1 savesnapshot \"" + dir() + "/" + name + "_display.bmp\" 1\n" + ReadyForGrab();
    return text;
  };
  Result r = RunAndGrab(script(-1, "plain"), "plain");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  // The plain run shows the four on the BGPic (the test can fail).
  ASSERT_NE(Differ(dir() + "/plain_display.bmp", bg), "0");
  for (int effect : {0, 49, 97, 115, 139}) {
    const std::string name = "fx" + std::to_string(effect);
    SCOPED_TRACE(name);
    unlink((dir() + "/grabbed").c_str());
    rmdir((dir() + "/ready").c_str());
    r = RunAndGrab(script(effect, name), name);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(Differ(dir() + "/" + name + ".png", dir() + "/plain.png"), "0") << "window";
    EXPECT_EQ(Differ(dir() + "/" + name + "_window.bmp", dir() + "/plain_window.bmp"), "0") << "snapshot";
    EXPECT_EQ(Differ(dir() + "/" + name + "_display.bmp", dir() + "/plain_display.bmp"), "0") << "display";
  }
}

// Frames of whole-window brushes, the last one left as shown: the display's
// picture takes it only when something reads the picture, and must then
// hold the brush as it was shown, though the script drew into that brush
// since, freed it, or showed another brush beside it. A sprite appears
// over the picture and moves away, the display is scaled (the window is
// then redrawn from the picture), and the window is grabbed.
TEST_F(Drawing, AWholeWindowBrushStaysAsShownWhateverTheScriptDoesNext) {
  const std::string frames = ".line 1\n"
      ".table 0 { width = 160, height = 100, title = \"draw\" }\n"
      ".call base=1 setdisplayattributes r0\n"
      ".call base=1 createbrush 1 160 100 2113632\n"
      ".call base=1 createbrush 2 160 100 16744448\n"
      ".call base=1 createbrush 5 20 10 65535\n"
      ".call base=1 displaybrush 1 0 0\n"
      ".call base=1 displaybrush 2 0 0\n"
      ".call base=1 displaybrush 1 0 0\n";
  const std::string readers = ".call base=1 createbrush 12 10 10 16711935\n.call base=1 createsprite 1 3 12\n"
                              ".call base=1 displaysprite 1 20 20\n.call base=1 displaysprite 1 150 0\n"
                              ".table 0 { scalemode = 1, scalewidth = 320, scaleheight = 200 }\n"
                              ".call base=1 setdisplayattributes r0\n";
  const std::string shown = "-size 160x100 xc:'#204060' +antialias";
  const std::string sprite = " -fill '#FF00FF' -draw 'rectangle 150,0 159,9'";
  struct Step {
    const char* name;
    std::string script;
    std::string want;
  };
  const Step steps[] = {
      {"drawn",
       ".call base=1 selectbrush 1\n.call base=1 setfillstyle 1\n.call base=1 box 0 0 160 100 255\n"
       ".call base=1 endselect\n",
       shown},
      {"freed", ".call base=1 freebrush 1\n", shown},
      {"beside", ".call base=1 displaybrush 5 30 40\n", shown + " -fill '#00FFFF' -draw 'rectangle 30,40 49,49'"},
      {"over",
       ".call base=1 displaybrush 2 0 0\n.call base=1 displaybrush 5 30 40\n.call base=1 freebrush 2\n"
       ".call base=1 displaybrush 1 0 0\n.call base=1 selectbrush 1\n.call base=1 box 0 0 10 10 255\n"
       ".call base=1 endselect\n",
       shown},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    unlink((dir() + "/grabbed").c_str());
    rmdir((dir() + "/ready").c_str());
    Result r = RunAndGrab(frames + step.script + readers + ReadyForGrab(), step.name);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const std::string want = Convert(step.want + sprite + " -sample 320x200!", std::string(step.name) + "_want.bmp");
    EXPECT_EQ(Differ(dir() + "/" + step.name + ".png", want), "0") << "window";
  }
}

// A BGPic shown again by a transition whose frames fill with a colour (a
// slide, a zoom-in, a flipping coin; once on a display that scales its
// output) while a sprite is on the display: the window, grabbed again and
// again while the command runs, shows the sprite whole in every frame.
// Afterwards the sprite crosses a box drawn before the effect and comes
// back, or (with no sprite) the display is scaled, so the window is drawn
// again from the display's picture: the window and both snapshots equal
// those of a plain DisplayBGPic.
TEST_F(Drawing, FillingTransitionsKeepTheSpriteOnTop) {
  const std::string bg = Convert("-size 200x120 xc: -seed 4 +noise Random", "bg.bmp");
  constexpr int kSpriteX = 20, kSpriteY = 12, kSize = 16;
  struct Case {
    std::string name;
    int effect;  // < 0: the plain DisplayBGPic
    int speed;
    int scale;  // the window's scale factor
    bool sprite;  // else the display is scaled after the effect
    std::string plain;  // the plain run to compare with
  };
  const std::string scale = ".table 0 { title = \"draw\", scalemode = 1, scalewidth = 400, scaleheight = 240 }\n"
                            ".call base=1 setdisplayattributes r0\n";
  const std::string sprite = std::to_string(kSpriteX) + " " + std::to_string(kSpriteY) + "\n";
  auto script = [&](const Case& run) {
    const std::string at = dir() + "/" + run.name;
    std::string text = ".line 1\n.call base=1 loadbgpic 2 \"" + bg + "\"\n.call base=1 displaybgpic 2\n"
                       ".table 0 { title = \"draw\" }\n.call base=1 setdisplayattributes r0\n" +
                       (run.scale > 1 && run.sprite ? scale : "") +
                       ".call base=1 setfillstyle 1\n.call base=1 box 100 60 30 30 255\n"
                       ".call base=1 createbrush 12 16 16 16711935\n.call base=1 createsprite 1 3 12\n" +
                       (run.sprite ? ".call base=1 displaysprite 1 " + sprite : "") +
                       ".call base=1 makedirectory \"" + at + "_ready\"\n" +
                       vlplayer::WaitUntilFileExists(at + "_go", "go");
    if (run.effect >= 0)
      text += ".call base=1 displaytransitionfx 2 " + std::to_string(run.effect) + " " + std::to_string(run.speed) + "\n";
    else
      text += ".call base=1 displaybgpic 2\n";
    text += run.sprite ? ".call base=1 displaysprite 1 105 65\n.call base=1 displaysprite 1 " + sprite : scale;
    text += ".call base=1 makedirectory \"" + at + "_done\"\n"
            ".call base=1 savesnapshot \"" + at + "_window.bmp\" 0\n"
            ".call base=1 savesnapshot \"" + at + "_display.bmp\" 1\n" +
            vlplayer::WaitUntilFileExists(at + "_grabbed", "grab");
    return text;
  };
  // Whether the sprite's pixels (inside its edge on a scaled window) are
  // all its colour in an RGB grab of the window.
  auto spriteWhole = [&](const std::string& rgb, int scale) {
    const int width = 200 * scale, inset = scale > 1 ? 2 : 0;
    if (rgb.size() != static_cast<size_t>(width) * 120 * scale * 3) return false;
    for (int y = kSpriteY * scale + inset; y < (kSpriteY + kSize) * scale - inset; ++y)
      for (int x = kSpriteX * scale + inset; x < (kSpriteX + kSize) * scale - inset; ++x) {
        const size_t i = (static_cast<size_t>(y) * width + x) * 3;
        if (rgb.compare(i, 3, "\xFF\x00\xFF", 3) != 0) return false;
      }
    return true;
  };
  const Case runs[] = {{"plain", -1, 0, 1, true, ""},          {"plain2", -1, 0, 2, true, ""},
                       {"plainlater", -1, 0, 2, false, ""},    {"slide", 101, 2, 1, true, "plain"},
                       {"zoom", 118, 2, 1, true, "plain"},     {"coin", 124, 1, 1, true, "plain"},
                       {"slide2", 101, 3, 2, true, "plain2"},  {"later", 118, 4, 2, false, "plainlater"}};
  for (const Case& run : runs) {
    SCOPED_TRACE(run.name);
    const std::string at = dir() + "/" + run.name;
    std::vector<std::string> grabs;
    RunOptions options;
    options.timeoutSeconds = 40;
    options.whileRunning = [&](pid_t, const std::string& display) {
      const std::string id = vlplayer::WaitForWindow(display, "draw");
      for (int i = 0; i < 500 && access((at + "_ready").c_str(), F_OK) != 0; ++i) usleep(20000);
      const std::string grab = "import -window " + id + " -depth 8 rgb:-";
      if (!id.empty()) grabs.push_back(Tool(grab));
      WriteFile(run.name + "_go", "");
      // Grabbed while the command runs, and once after it.
      for (int i = 0; i < 1000 && !id.empty(); ++i) {
        const bool done = access((at + "_done").c_str(), F_OK) == 0;
        grabs.push_back(Tool(grab));
        if (done) break;
        usleep(10000);
      }
      if (!id.empty()) Tool("import -window " + id + " " + Quote(at + ".png"));
      WriteFile(run.name + "_grabbed", "");
    };
    Result r = Run({Applet(run.name, script(run))}, options);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    ASSERT_GE(grabs.size(), 2u);
    int frames = 0;  // grabs that show neither the first nor the last picture
    int broken = 0, first = -1;  // grabs without the whole sprite
    for (size_t i = 0; i < grabs.size(); ++i) {
      if (run.sprite && !spriteWhole(grabs[i], run.scale) && broken++ == 0) first = static_cast<int>(i);
      frames += grabs[i] != grabs.front() && grabs[i] != grabs.back();
    }
    EXPECT_EQ(broken, 0) << "of " << grabs.size() << " grabs, the first " << first;
    if (run.effect < 0) continue;
    // The grabs caught the effect on its way.
    EXPECT_GE(frames, 3);
    const std::string plain = dir() + "/" + run.plain;
    EXPECT_EQ(Differ(at + ".png", plain + ".png"), "0") << "window";
    EXPECT_EQ(Differ(at + "_window.bmp", plain + "_window.bmp"), "0") << "snapshot";
    EXPECT_EQ(Differ(at + "_display.bmp", plain + "_display.bmp"), "0") << "display";
  }
  // The plain runs show the box and the sprite on the BGPic (the test can
  // fail).
  EXPECT_EQ(Differ(dir() + "/plain_display.bmp",
                   Convert(Quote(bg) + " -fill '#0000FF' -draw 'rectangle 100,60 129,89' -fill '#FF00FF' -draw "
                           "'rectangle 20,12 35,27'",
                           "want.bmp")),
            "0");
  EXPECT_EQ(Differ(dir() + "/plainlater.png", Convert(Quote(bg) + " -fill '#0000FF' -draw 'rectangle 100,60 129,89' "
                                                      "-sample 400x240!",
                                                      "wantlater.bmp")),
            "0");
}

// A layer showing a part of a BGPic keeps showing what it showed when the
// script frees or rescales that BGPic: the layer gets the picture for
// itself. The window is grabbed after each step.
using BGPicLayers = vlplayer::PlayerTest;

int RedPixels(const std::string& rgb) {
  int red = 0;
  for (size_t i = 0; i + 2 < rgb.size(); i += 3)
    red += static_cast<unsigned char>(rgb[i]) > 200 && static_cast<unsigned char>(rgb[i + 1]) < 50 &&
           static_cast<unsigned char>(rgb[i + 2]) < 50;
  return red;
}

TEST_F(BGPicLayers, FreedOrRescaledBGPicStaysOnItsLayer) {
  struct Step {
    const char* change;
    int want;  // red pixels in the window after it
  };
  // 60x40 red shown from BGPic 3; the layer keeps its size when the
  // display grows.
  const Step free[] = {{"", 2400}, {".call freebgpic 3\n", 2400}, {".call changedisplaysize 400 260\n", 2400}};
  const Step scale[] = {{"", 2400}, {".call scalebgpic 3 30 10\n", 2400},
                        {".call displaybgpicpart 3 0 0 30 10 100 100\n", 2700}};
  for (const auto* steps : {free, scale}) {
    // A title and files of its own: the window of the run before may still
    // be there, and its files are.
    const std::string title = steps == free ? "bgpicfree" : "bgpicscale";
    std::string text =
        ".line 1\n.table 0 { width = 300, height = 200, title = \"" + title + "\" }\n"
        ".call base=1 setdisplayattributes r0\n.call createbgpic 2 300 200 0\n.call displaybgpic 2\n"
        ".call enablelayers\n.call createbgpic 3 60 40 16711680\n.call displaybgpicpart 3 0 0 60 40 10 10\n";
    for (int i = 0; i < 3; ++i) {
      const std::string n = title + std::to_string(i);
      text += std::string(steps[i].change) + ".call savesnapshot \"" + dir() + "/step" + n + ".bmp\" 1\n" +
              vlplayer::WaitUntilFileExists(dir() + "/go" + n, "go" + std::to_string(i));
    }
    text += ".call debugprint \"done\"";
    int counts[3] = {-1, -1, -1};
    vlplayer::RunOptions options;
    options.timeoutSeconds = 40;
    options.whileRunning = [&](pid_t, const std::string& name) {
      const std::string id = vlplayer::WaitForWindow(name, title);
      if (id.empty()) return;
      for (int i = 0; i < 3; ++i) {
        const std::string n = title + std::to_string(i);
        struct stat st;
        int t = 0;
        for (; t < 200 && stat((dir() + "/step" + n + ".bmp").c_str(), &st) != 0; ++t)
          std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (t == 200) return;  // the player ended early: its result tells
        // The puts may still be on their way: grab until the count settles
        // on the expected one, or give the last one.
        for (int t = 0; t < 30; ++t) {
          counts[i] = RedPixels(Tool("timeout 5 import -window " + id + " -depth 8 rgb:-"));
          if (counts[i] == steps[i].want) break;
          std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        WriteFile("go" + n, "");
      }
    };
    Result r = Run({Applet("bgpiclayers", text)}, options);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "done\n");
    for (int i = 0; i < 3; ++i) EXPECT_EQ(counts[i], steps[i].want) << (steps == free ? "free" : "scale") << " step " << i;
  }
}

// What was drawn into the BGPic on show reaches the window when a later
// SelectBGPic fails (a missing BGPic, 1177), as it does with EndSelect.
TEST_F(Drawing, AFailedSelectBGPicShowsWhatTheSelectionDrew) {
  Result r = RunAndGrab(LayeredWindow("40", "30") + ".call base=1 exitonerror 0\n.call base=1 selectbgpic nil\n"
                        ".call base=1 setfillstyle 1\n.call base=1 box 0 0 40 30 16711680\n"
                        ".call base=1 selectbgpic 77\n.call base=1 getlasterror -> e\n.call base=1 debugprint $e\n" +
                        ReadyForGrab(), "failedselect");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "1177\n");
  EXPECT_EQ(Differ(dir() + "/failedselect.png", Convert("-size 40x30 xc:red", "red.bmp")), "0");
}

// While a brush, a mask or an alpha channel is drawn into, the layers of
// the BGPic on show still answer GetLayerStyle, by position and by name,
// with the tables they gave before (written by WriteTable and compared
// byte for byte); SetLayerStyle is refused with the selection's code, and
// a selection begun with layers off finds none.
TEST_F(Drawing, LayerStylesReadTheSameWhileAnObjectIsSelected) {
  const std::vector<std::string> refs = {"1", "\"red\"", "2", "\"green\""};
  auto dumps = [&](const std::string& prefix) {
    std::string text;
    for (size_t i = 0; i < refs.size(); ++i)
      text += "loadnil 0 0\nsetglobal 0 \"S\"\n.call getlayerstyle " + refs[i] +
              " -> S\n.call getlasterror -> E\n.call openfile 9 \"" + dir() + "/" + prefix + std::to_string(i) +
              "\" #MODE_WRITE\n.call writetable 9 $S\n.call closefile 9\n.call debugprint \"" + prefix + "\" $E\n";
    return text + ".table 0 { x = 30 }\n.call base=1 setlayerstyle 1 r0\n.call getlasterror -> E\n"
                  ".call debugprint \"set\" $E\n";
  };
  std::string text = R"(.line 1
.call exitonerror 0
.call enablelayers
.call createbrush 1 20 10 0xFF0000
.call displaybrush 1 30 40
.call setlayername 1 "red"
.table 0 { rotate = 30, transparency = 50, shadow = 1, shadowcolor = 0x00FF00 }
.call base=1 setlayerstyle 1 r0
.call setfillstyle #FILLCOLOR
.call box 5 6 30 20 0x00FF00
.call setlayername 2 "green"
.call createbrush 3 8 8 0x0000FF { alphachannel = 1 }
.call createbrush 4 8 8 0x0000FF { mask = 1 }
.call getlayerstyle "red" -> S
getglobal 0 "S"
getfield 1 0 "x"
getfield 2 0 "rotate"
getfield 3 0 "z"
.call base=4 debugprint "red" r1 r2 r3
)" + dumps("before") + ".call selectbrush 3\n" + dumps("brush") + ".call endselect\n.call selectmask 4\n" +
                     dumps("mask") + ".call endselect\n.call selectalphachannel 3\n" + dumps("alpha") +
                     ".call endselect\n.call disablelayers\n.call selectbrush 3\n.call getlayerstyle 1\n"
                     ".call getlasterror -> E\n.call debugprint \"off\" $E\n";
  Result r = Run({Applet("selectedstyles", text)});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "red 30 30 1\n" + std::string("before 0\nbefore 0\nbefore 0\nbefore 0\nset 0\n") +
                       "brush 0\nbrush 0\nbrush 0\nbrush 0\nset 1082\nmask 0\nmask 0\nmask 0\nmask 0\nset 1147\n"
                       "alpha 0\nalpha 0\nalpha 0\nalpha 0\nset 1167\noff 1078\n");
  auto bytes = [&](const std::string& name) { return Tool("base64 -w0 " + Quote(dir() + "/" + name)); };
  for (size_t i = 0; i < refs.size(); ++i) {
    const std::string before = bytes("before" + std::to_string(i));
    EXPECT_GT(before.size(), 100u) << refs[i];
    // By name and by position the same layer.
    EXPECT_EQ(before, bytes("before" + std::to_string(i ^ 1))) << refs[i];
    for (const char* selection : {"brush", "mask", "alpha"})
      EXPECT_EQ(bytes(selection + std::to_string(i)), before) << selection << " " << refs[i];
  }
}

// On a display that scales its layers (here by 3), a layer moved by
// ShowLayer shows exactly as the same layer displayed at its new place:
// text rendered at the display's size is not shifted by the move.
TEST_F(Drawing, MovedLayersShowAsDisplayedOnesOnAScaledDisplay) {
  const std::string text = LayerScaledDisplay("97x73", 291, 219) +
      ".call base=1 setfontcolor 16777215\n"
      ".call base=1 createtextobject 3 \"Ag\"\n"
      ".call base=1 createtextobject 4 \"Ag\"\n"
      ".call base=1 displaytextobject 3 60 60\n"
      ".call base=1 showlayer 1 41 30\n"
      ".call base=1 displaytextobject 4 11 30\n" +
      ReadyForGrab();
  Result r = RunAndGrab(text, "moved");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::string grab = Quote(dir() + "/moved.png");
  // Each layer's neighbourhood, 30 display pixels wide, 3 window pixels a
  // display pixel.
  const std::string moved = Convert(grab + " -crop 90x60+120+90 +repage", "moved.bmp");
  const std::string shown = Convert(grab + " -crop 90x60+30+90 +repage", "shown.bmp");
  EXPECT_NE(Tool("convert " + Quote(shown) + " -format '%[fx:maxima.r]' info:"), "0") << "no text shown";
  EXPECT_EQ(Differ(moved, shown), "0");
}

// Switching a display that scaled its layers back to no scaling shows the
// layers at their own places at their own size.
TEST_F(Drawing, LayersComeBackToTheirPlacesWhenScalingEnds) {
  const std::string text = LayerScaledDisplay("100x80", 200, 160) +
      ".call base=1 createbrush 5 10 10 16711680\n"
      ".call base=1 displaybrush 5 33 21\n"
      ".call base=1 wait 5\n"
      ".table 0 { scalemode = 0 }\n"
      ".call base=1 setdisplayattributes r0\n"
      ".call base=1 savesnapshot \"" + dir() + "/unscaled.bmp\" 1\n" +
      ReadyForGrab();
  Result r = RunAndGrab(text, "unscaled");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::string want =
      Convert(Quote(dir() + "/bg.bmp") + " -fill '#FF0000' -draw 'rectangle 33,21 42,30'", "want.bmp");
  EXPECT_EQ(Differ(dir() + "/unscaled.png", want), "0") << "window";
  EXPECT_EQ(Differ(dir() + "/unscaled.bmp", want), "0") << "snapshot";
}

// An anim layer showing its third frame shows all of it, filtered: the
// frame number kept in the layer is no offset into the frame's picture.
TEST_F(Drawing, AnAnimLayersLaterFramesShowWholeAndFiltered) {
  Result r = RunAndGrab(LayeredWindow("100", "60") +
                            ".table 0 { frames = 3, color = 16711680 }\n.call base=1 createlayer 10 10 20 20 r0\n"
                            ".call base=1 nextframe 1\n.call base=1 nextframe 1\n"
                            ".table 0 { filters = { [0] = { name = \"invert\" } } }\n"
                            ".call base=1 setlayerstyle 1 r0\n" + ReadyForGrab(),
                        "frames");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(Differ(dir() + "/frames.png",
                   Convert("-size 100x60 xc:black -fill '#00FFFF' -draw 'rectangle 10,10 29,29'", "want.bmp")),
            "0");
}

// A border of 2 around a text layer is the text's shape grown by 2 pixels
// in every direction (a square around each pixel), as ImageMagick's
// dilation of the text grabbed without it.
TEST_F(Drawing, ATextLayersBorderIsItsGlyphsGrownBySquares) {
  Result r = RunAndGrab(".line 1\n.table 0 { width = 120, height = 40, color = 64, title = \"draw\" }\n"
                        ".call base=1 setdisplayattributes r0\n.call base=1 enablelayers\n"
                        ".call base=1 setfontcolor 16777215\n.call base=1 textout 10 10 \"Hello\"\n"
                        ".call base=1 savesnapshot \"" + dir() + "/plain.bmp\" 0\n"
                        ".call base=1 setlayerborder 1 1 16711680 2\n" + ReadyForGrab(),
                        "textborder");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::string plain = Quote(dir() + "/plain.bmp"), mask = Quote(dir() + "/mask.png");
  Tool("convert " + plain + " -fill black -opaque '#000040' -threshold 50% " + mask);
  Tool("convert " + mask + " -morphology Dilate Square:2 -fill red -opaque white -transparent black " +
       Quote(dir() + "/ring.png"));
  Tool("convert " + plain + " " + mask + " -alpha off -compose CopyOpacity -composite " + Quote(dir() + "/text.png"));
  const std::string want = Convert(plain + " " + Quote(dir() + "/ring.png") + " -composite " +
                                       Quote(dir() + "/text.png") + " -composite",
                                   "want.bmp");
  EXPECT_EQ(Differ(dir() + "/textborder.png", want), "0");
}

// A filled path layer's border is the path grown by the border's size in
// the border colour, with square corners, also after a turn: a 30 x 10
// rectangle turned by 90 degrees about its top left corner with a border
// of 3, against ImageMagick's drawing of the same.
TEST_F(Drawing, APathLayersBorderIsThePathGrownBySize) {
  Result r = RunAndGrab(LayeredWindow("100", "60") +
                            ".call base=1 setfillstyle 1\n.call base=1 startpath 1\n.call base=1 moveto 1 20 20\n"
                            ".call base=1 lineto 1 50 20\n.call base=1 lineto 1 50 30\n.call base=1 lineto 1 20 30\n"
                            ".call base=1 closepath 1\n.call base=1 drawpath 1 0 0 16777215\n"
                            ".call base=1 rotatelayer 1 90\n.call base=1 setlayerborder 1 1 16711680 3\n" +
                            ReadyForGrab(),
                        "pathborder");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(Differ(dir() + "/pathborder.png",
                   Convert("-size 100x60 xc:black -fill red -draw 'rectangle 7,17 22,52' -fill white -draw "
                           "'rectangle 10,20 19,49'",
                           "want.bmp")),
            "0");
}

// A brush layer's border grows with the display's scale as a shape's
// does: on a display scaling its layers by 2 a border of 4 is 8 window
// pixels wide around the brush.
TEST_F(Drawing, ABrushBorderGrowsWithTheDisplaysScale) {
  const std::string text = LayerScaledDisplay("100x60", 200, 120) +
      ".call base=1 createbrush 1 20 20 16711680\n.call base=1 displaybrush 1 10 10\n"
      ".call base=1 setlayerborder 1 1 255 4\n" + ReadyForGrab();
  Result r = RunAndGrab(text, "border");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::string got = Convert(Quote(dir() + "/border.png") + " -crop 80x80+0+0 +repage", "got.bmp");
  const std::string want = Convert("-size 80x80 xc:'#000040' -fill '#0000FF' -draw 'rectangle 12,12 67,67' "
                                   "-fill '#FF0000' -draw 'rectangle 20,20 59,59'",
                                   "want.bmp");
  EXPECT_EQ(Differ(got, want), "0");
}

// An outline-only box given a border of its own colour shows as that
// border alone: at half transparency the ring is one even grey, the
// outline not blended a second time over it.
TEST_F(Drawing, AnOutlineInItsBordersColourShowsAsTheBorderAlone) {
  Result r = RunAndGrab(LayeredWindow("120", "80") +
                            ".call base=1 setfillstyle 0\n.call base=1 box 20 20 40 30 16777215\n"
                            ".call base=1 setlayerborder 1 1 16777215 4\n.call base=1 setlayertransparency 1 128\n" +
                            ReadyForGrab(),
                        "outline");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  // A column across the top edge: the ring reaches from 4 above the
  // outline to 4 below it, the outline's row in its middle.
  const std::string column = "convert " + Quote(dir() + "/outline.png") + " -crop 1x9+40+16 +repage ";
  EXPECT_EQ(Tool(column + "-format %k info:"), "1") << Tool(column + "txt:-");
  const int grey = std::atoi(Tool(column + "-format '%[fx:int(255*maxima.r+0.5)]' info:").c_str());
  EXPECT_NEAR(grey, 127, 2);  // white at opacity 127 over black
}

// Shapes drawn while the display scales its layers (by 2) show at twice
// their size where twice their place is, on displays of both depths: the
// outline's points (through the pixel centres of the shape's box) are
// scaled, so a box from 30 to 53 fills 60 to 106; every other shape's lit
// pixels lie within a pixel of its box scaled so (a line made twice as
// thick within two).
class ScaledShapes : public Drawing, public testing::WithParamInterface<int> {
 protected:
  ScaledShapes() { depth_ = GetParam(); }
};

TEST_P(ScaledShapes, ShowAtTheDisplaysScale) {
  struct Shape {
    const char* command;
    int x, y, w, h;  // its box on the BGPic
    int slack = 1;   // pixels its scaled picture may reach beyond the scaled box
  };
  const Shape shapes[] = {
      {"box 30 20 24 14 16711680", 30, 20, 24, 14},
      {"circle 4 4 8 16711680", 4, 4, 17, 17},
      {"ellipse 2 39 10 6 16711680", 2, 39, 21, 13},
      {"line 60 5 95 15 16711680", 60, 5, 36, 11, 2},  // twice as thick
      {"arc 65 37 10 8 0 180 16711680", 65, 45, 21, 9},  // the lower half
      {"polygon 30 40 {0,0,20,0,10,15} 3 16711680", 30, 40, 21, 16},
      // Drawn blue, then made red and larger: the new shape is drawn again.
      {"box 88 22 5 5 255\n.table 0 { color = 16711680, sizex = 8, sizey = 12 }\n"
       ".call base=1 setlayerstyle 7 r0", 88, 22, 8, 12},
  };
  std::string text = LayerScaledDisplay("100x60", 200, 120) + ".call base=1 setfillstyle 1\n";
  for (const Shape& s : shapes) text += std::string(".call base=1 ") + s.command + "\n";
  Result r = RunAndGrab(text + ReadyForGrab(), "shapes");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::string grab = Quote(dir() + "/shapes.png");
  for (const Shape& s : shapes) {
    // The shape's neighbourhood in the window, 3 BGPic pixels around it.
    const int cx = 2 * std::max(s.x - 3, 0), cy = 2 * std::max(s.y - 3, 0);
    const std::string crop = " -crop " + std::to_string(2 * (s.w + 6)) + "x" + std::to_string(2 * (s.h + 6)) + "+" +
                             std::to_string(cx) + "+" + std::to_string(cy) + " +repage ";
    int w = 0, h = 0, x = 0, y = 0;
    const std::string box = Tool("convert " + grab + crop + "-format '%@' info:");
    ASSERT_EQ(std::sscanf(box.c_str(), "%dx%d+%d+%d", &w, &h, &x, &y), 4) << s.command << ": " << box;
    x += cx, y += cy;
    EXPECT_NEAR(x, 2 * s.x, s.slack) << s.command;
    EXPECT_NEAR(y, 2 * s.y, s.slack) << s.command;
    EXPECT_NEAR(x + w - 1, 2 * (s.x + s.w - 1), s.slack) << s.command;
    EXPECT_NEAR(y + h - 1, 2 * (s.y + s.h - 1), s.slack) << s.command;
    if (&s == &shapes[0]) {
      EXPECT_EQ(box, "47x27+6+6");
    }
  }
  // The box is red all over.
  EXPECT_EQ(Tool("convert " + grab + " -crop 47x27+60+40 +repage -format '%[fx:minima.r],%[fx:maxima.g],"
                 "%[fx:maxima.b]' info:"),
            "1,0,0");
}

INSTANTIATE_TEST_SUITE_P(Depths, ScaledShapes, testing::Values(24, 16));

// Rotated ellipses turn clockwise on the screen about their anchor point,
// which stays where the position puts it, as brushes do: plain and
// anti-aliased, drawn at once and as layers (which draw themselves
// turned), against a computed model of each turned ellipse (a pixel whose
// neighbourhood of 1.5 pixels lies wholly inside is lit, wholly outside
// dark). Lines turn so too, a quarter turn keeps a thick line thick, and
// a scaled line layer is as thick as the same line drawn at once.
TEST_F(Drawing, RotatedShapesTurnClockwiseAboutTheirAnchor) {
  struct Ellipse {
    const char* command;
    double x, y, rx, ry, degrees, anchor;
  };
  const Ellipse ellipses[] = {
      {"ellipse 40 20 40 12 16777215 30", 40, 20, 40, 12, 30, 0},
      {"setformstyle 16\n.call base=1 ellipse 150 20 40 12 16777215 30", 150, 20, 40, 12, 30, 0},
      {"setformstyle 1\n.call base=1 enablelayers\n.call base=1 ellipse 40 140 40 12 16777215 30", 40, 140, 40, 12,
       30, 0},
      {"setformstyle 16\n.call base=1 ellipse 150 140 40 12 16777215 30", 150, 140, 40, 12, 30, 0},
      {"ellipse 300 200 40 12 16777215 r0", 300, 200, 40, 12, 60, 0.5},
  };
  std::string text = ".line 1\n.table 0 { width = 400, height = 280, title = \"draw\" }\n"
                     ".call base=1 setdisplayattributes r0\n.call base=1 setfillstyle 1\n"
                     ".call base=1 line 300 20 360 20 16777215 1 90\n"
                     ".call base=1 line 340 20 400 20 16777215 5 90\n";
  for (const Ellipse& e : ellipses) {
    if (e.anchor) text += ".table 0 { rotate = 60, anchorx = 0.5, anchory = 0.5 }\n";
    text += std::string(".call base=1 ") + e.command + "\n";
  }
  // A line layer scaled twice: as thick as a line drawn so at once.
  text += ".table 0 { scalex = 2, scaley = 2, thickness = 3 }\n.call base=1 line 300 108 320 108 16777215 r0\n";
  Result r = RunAndGrab(text + ReadyForGrab(), "turned");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::string grab = Quote(dir() + "/turned.png");
  const std::string rgb = Tool("convert " + grab + " -depth 8 rgb:-");
  ASSERT_EQ(rgb.size(), 400u * 280 * 3);
  // Inside the turned ellipse: the anchor point of its box at (x, y), the
  // box turned about it.
  auto inside = [](const Ellipse& e, double px, double py) {
    const double ax = e.anchor * (2 * e.rx + 1), ay = e.anchor * (2 * e.ry + 1);
    const double t = e.degrees * M_PI / 180, dx = px - e.x, dy = py - e.y;
    // Back through the clockwise turn.
    const double lx = std::cos(t) * dx + std::sin(t) * dy + ax, ly = -std::sin(t) * dx + std::cos(t) * dy + ay;
    const double u = (lx - e.rx) / e.rx, v = (ly - e.ry) / e.ry;
    return u * u + v * v <= 1;
  };
  for (const Ellipse& e : ellipses) {
    int wrong = 0, in = 0;
    for (int y = 0; y < 280; ++y)
      for (int x = 0; x < 400; ++x) {
        int hits = 0;
        for (int k = 0; k < 8; ++k)
          hits += inside(e, x + 1.5 * std::cos(k * M_PI / 4), y + 1.5 * std::sin(k * M_PI / 4));
        if (hits != 0 && hits != 8) continue;
        const int got = static_cast<unsigned char>(rgb[(static_cast<size_t>(y) * 400 + x) * 3]);
        in += hits == 8;
        // Another ellipse or the lines may light a pixel outside this one.
        if (hits == 8 ? got < 200 : false) {
          if (++wrong <= 3) ADD_FAILURE() << e.command << ": dark at " << x << "," << y;
        }
      }
    EXPECT_EQ(wrong, 0) << e.command;
    EXPECT_GT(in, 900) << e.command;
  }
  // Nothing is lit outside every ellipse but the two lines: a quarter turn
  // about the first end point takes each straight down.
  int stray = 0;
  for (int y = 0; y < 280; ++y)
    for (int x = 0; x < 400; ++x) {
      if (x >= 295 && y < 120) continue;  // the lines' corner
      bool near = false;
      for (const Ellipse& e : ellipses)
        for (int k = 0; k < 8 && !near; ++k)
          near = inside(e, x + 1.5 * std::cos(k * M_PI / 4), y + 1.5 * std::sin(k * M_PI / 4));
      if (!near && static_cast<unsigned char>(rgb[(static_cast<size_t>(y) * 400 + x) * 3]) > 55 && ++stray <= 3)
        ADD_FAILURE() << "lit outside at " << x << "," << y;
    }
  EXPECT_EQ(stray, 0);
  EXPECT_EQ(Tool("convert " + grab + " -crop 30x95+290+0 +repage -format '%@' info:"), "1x61+10+20");
  int w = 0, h = 0, x = 0, y = 0;
  ASSERT_EQ(std::sscanf(Tool("convert " + grab + " -crop 30x95+325+0 +repage -format '%@' info:").c_str(),
                        "%dx%d+%d+%d", &w, &h, &x, &y),
            4);
  EXPECT_GE(w, 5);
  EXPECT_LE(w, 7);
  EXPECT_NEAR(x + w / 2.0, 15, 1.5);
  EXPECT_NEAR(y, 18, 2);
  EXPECT_NEAR(h, 65, 2);
  ASSERT_EQ(std::sscanf(Tool("convert " + grab + " -crop 70x20+290+98 +repage -format '%@' info:").c_str(),
                        "%dx%d+%d+%d", &w, &h, &x, &y),
            4);
  EXPECT_NEAR(w, 47, 2);
  EXPECT_NEAR(h, 8, 1);  // 6 thick, anti-aliased
  EXPECT_NEAR(y + h / 2.0, 10.5, 1);
}

// Very sharp, very long triangles drawn by paths, two plain and two
// anti-aliased, one of each reaching far beyond the window: the grabbed
// window lights a plain one's pixels exactly where their centres lie
// inside, and shows an anti-aliased one's pixels at the area it covers.
TEST_F(Drawing, SharpLongTrianglesShowTheirExactFill) {
  using vlref::Pt;
  const std::vector<Pt> plain[2] = {{{0, 10}, {1000, 11}, {1000, 13}}, {{2, 30}, {158, 31}, {158, 33.5}}};
  const std::vector<Pt> smooth[2] = {{{-50000, 50.5}, {50000, 70.25}, {50000, 72}}, {{2, 85}, {158, 86}, {158, 88}}};
  auto path = [](int id, const std::vector<Pt>& t) {
    std::string s = ".call base=1 startpath " + std::to_string(id) + "\n";
    for (size_t i = 0; i < t.size(); ++i)
      s += std::string(".call base=1 ") + (i ? "lineto " : "moveto ") + std::to_string(id) + " " +
           std::to_string(t[i].x) + " " + std::to_string(t[i].y) + "\n";
    return s + ".call base=1 closepath " + std::to_string(id) + "\n.call base=1 drawpath " + std::to_string(id) +
           " 0 0 16777215\n";
  };
  const std::string text = ".line 1\n.table 0 { width = 160, height = 100, title = \"draw\" }\n"
                           ".call base=1 setdisplayattributes r0\n.call base=1 setfillstyle 1\n" +
                           path(1, plain[0]) + path(2, plain[1]) + ".call base=1 setformstyle 16\n" +
                           path(3, smooth[0]) + path(4, smooth[1]) + ReadyForGrab();
  Result r = RunAndGrab(text, "sharp");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::string rgb = Tool("convert " + Quote(dir() + "/sharp.png") + " -depth 8 rgb:-");
  ASSERT_EQ(rgb.size(), 160u * 100 * 3);
  int wrong = 0, inside = 0;
  double worst = 0, area = 0;
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 160; ++x) {
      const int got = static_cast<unsigned char>(rgb[(static_cast<size_t>(y) * 160 + x) * 3]);
      const double cx = x + 0.5, cy = y + 0.5;
      bool in = false, onSide = false;
      for (const auto& t : plain) {
        in = in || vlref::Inside(t, cx, cy);
        onSide = onSide || vlref::EdgeDistance(t, cx, cy) < 1.0 / 256;
      }
      if (in || onSide) {
        inside += !onSide;
        if (!onSide && got != 255 && ++wrong <= 5) ADD_FAILURE() << "plain fill misses " << x << "," << y;
        continue;
      }
      const double cover = vlref::PixelCoverage(smooth[0], x, y) + vlref::PixelCoverage(smooth[1], x, y);
      if (cover == 0 && got == 255 && ++wrong <= 5) ADD_FAILURE() << "lit outside " << x << "," << y;
      worst = std::max(worst, std::fabs(got - 255 * cover));
      area += cover;
    }
  EXPECT_EQ(wrong, 0);
  EXPECT_LE(worst, 8) << "anti-aliased coverage";
  // Enough of each kind to tell.
  EXPECT_GT(inside, 150);
  EXPECT_GT(area, 150);
}

// BGPics and brushes made from each other keep what they carry: the alpha
// channel and the mask with its colour key of a picture ImageMagick wrote,
// read back pixel by pixel after the round trip; a vector picture's loader
// (a plug-in of the tests) and its source, re-rendered at a new size with
// its ring still one pixel wide; transformed vector pictures are refused.
using Conversions = vlplayer::PlayerTest;
TEST_F(Conversions, BrushesAndBGPicsKeepPlanesLoaderAndSource) {
  // 6 x 4 pixels: colour (40x, 60y, 200), alpha 15 + 40x + 10y.
  std::string raw;
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x) raw += {char(40 * x), char(60 * y), char(200), char(15 + 40 * x + 10 * y)};
  const std::string rgba = WriteFile("pic.rgba", raw), png = dir() + "/alpha.png", bmp = dir() + "/keyed.bmp";
  int status = 0;
  const std::string in = "convert -size 6x4 -depth 8 rgba:" + Quote(rgba);
  Tool(in + " PNG32:" + Quote(png) + " && " + in + " -alpha off -type TrueColor BMP3:" + Quote(bmp), &status);
  ASSERT_EQ(status, 0);
  const std::string ring = WriteFile("pic.vring", "ring");
  WriteFile("three.fakeanim", "anim");
  auto attr = [](const char* label, int type, int id, int attr) {
    return ".call getattribute " + std::to_string(type) + " " + std::to_string(id) + " " + std::to_string(attr) +
           " -> v\n.call debugprint \"" + label + "\" $v\n";
  };
  auto error = [](const char* label, const std::string& call) {
    return ".call " + call + "\n.call getlasterror -> e\n.call debugprint \"" + label + "\" $e\n";
  };
  auto pixel = [](const char* label, int x, int y) {
    return ".call readpixel " + std::to_string(x) + " " + std::to_string(y) + " -> p\n.call debugprint \"" + label +
           "\" $p\n";
  };
  std::string text = ".line 1\n.call exitonerror 0\n.call loadplugin \"" VL_VECRING_PATH "\"\n"
      ".table 0 { loadalpha = 1 }\n.call base=1 loadbrush 1 \"" + png + "\" r0\n.call brushtobgpic 1 2\n" +
      attr("bgpic alpha", 1, 2, 17) + attr("bgpic mask", 1, 2, 16) + attr("bgpic key", 1, 2, 5) +
      ".call bgpictobrush 2 3\n" + attr("brush alpha", 3, 3, 17) + attr("loader", 3, 3, 91) +
      ".call selectalphachannel 3\n" + pixel("a00", 0, 0) + pixel("a32", 3, 2) + pixel("a53", 5, 3) +
      ".call endselect\n.call selectbrush 3\n" + pixel("c32", 3, 2) + ".call endselect\n"
      ".table 0 { transparency = 5258440 }\n.call base=1 loadbrush 4 \"" + bmp + "\" r0\n.call brushtobgpic 4 5\n" +
      attr("bgpic mask", 1, 5, 16) + attr("bgpic key", 1, 5, 5) + ".call bgpictobrush 5 6\n" +
      attr("brush mask", 3, 6, 16) + attr("brush key", 3, 6, 5) + ".call selectmask 6\n" + pixel("m21", 2, 1) +
      pixel("m31", 3, 1) + ".call endselect\n"
      // A vector brush and BGPic from the plug-in.
      ".call loadbrush 7 \"" + ring + "\"\n" + attr("vector brush", 3, 7, 9) + attr("loader", 3, 7, 91) +
      ".call brushtobgpic 7 8\n" + attr("scalable", 1, 8, 9) + attr("loader", 1, 8, 91) +
      ".call scalebrush 7 40 20\n" + error("scaled brush", "brushtobgpic 7 9") +
      ".table 0 { transparency = 16711680 }\n.call base=1 loadbgpic 10 \"" + ring + "\" r0\n" +
      attr("scalable", 1, 10, 9) + attr("key", 1, 10, 5) + attr("mask", 1, 10, 16) + attr("loader", 1, 10, 91) +
      ".call bgpictobrush 10 11\n" + attr("vector brush", 3, 11, 9) + attr("loader", 3, 11, 91) +
      ".call scalebgpic 10 60 30\n" + error("scaled bgpic", "bgpictobrush 10 12") +
      ".table 0 { scalewidth = 40, scaleheight = 20 }\n.call base=1 loadbgpic 13 \"" + ring + "\" r0\n" +
      error("loaded scaled", "bgpictobrush 13 14") +
      // Made again from the source at three times its size.
      ".call displaybgpic 10\n" + pixel("r00", 0, 0) + pixel("r11", 1, 1) + pixel("r2915", 29, 15) +
      pixel("r3015", 30, 15) + pixel("r5828", 58, 28) + pixel("r5929", 59, 29) +
      // A copy shares the source, which outlives the BGPic it came with.
      ".call copybgpic 10 15\n.call createbgpic 16 50 50\n.call displaybgpic 16\n.call freebgpic 10\n"
      ".call scalebgpic 15 40 20\n.call displaybgpic 15\n" + pixel("c11", 1, 1) + pixel("c3919", 39, 19) +
      ".call loadbgpic 17 \"" + png + "\"\n" + attr("raster", 1, 17, 9) + attr("loader", 1, 17, 91) +
      // Anims name what read them, held in memory or read from disk, and
      // their copies too.
      ".call loadplugin \"" VL_FAKEPICS_PATH "\"\n.call loadanim 18 \"" + dir() + "/three.fakeanim\"\n" +
      attr("anim frames", 4, 18, 11) + attr("anim loader", 4, 18, 91) +
      ".table 0 { fromdisk = 1 }\n.call base=1 loadanim 19 \"" + dir() + "/three.fakeanim\" r0\n" +
      attr("disk anim loader", 4, 19, 91) + ".call copyanim 18 20\n" + attr("copy loader", 4, 20, 91) +
      ".call loadanim 21 \"" + png + "\"\n" + attr("picture anim loader", 4, 21, 91);
  Result r = Run({Applet("conversions", text)});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "bgpic alpha 1\nbgpic mask 0\nbgpic key 4294967295\nbrush alpha 1\nloader inbuilt\n"
            "a00 15\na32 155\na53 245\nc32 7895240\n"
            "bgpic mask 1\nbgpic key 5258440\nbrush mask 1\nbrush key 5258440\nm21 0\nm31 1\n"
            "vector brush 1\nloader vecring\nscalable 1\nloader vecring\nscaled brush 1391\n"
            "scalable 1\nkey 4294967295\nmask 0\nloader vecring\nvector brush 1\nloader vecring\n"
            "scaled bgpic 1392\nloaded scaled 1392\n"
            "r00 65280\nr11 16711680\nr2915 16711680\nr3015 255\nr5828 255\nr5929 65280\n"
            "c11 16711680\nc3919 65280\nraster 0\nloader inbuilt\n"
            "anim frames 3\nanim loader fakepics\ndisk anim loader fakepics\ncopy loader fakepics\n"
            "picture anim loader inbuilt\n");
}

}  // namespace
