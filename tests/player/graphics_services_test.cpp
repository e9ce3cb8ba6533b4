// Plug-ins reach pictures, brushes, drawing and FreeType through the service
// table: the probe plug-in (probe_graphics_plugin.c) run by the real player,
// its pictures checked against the bytes ImageMagick writes, what it drew
// in a grab of the window, its glyph against FreeType's own rendering.
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include <ft2build.h>
#include FT_FREETYPE_H

#include "tests/player/player_harness.h"

namespace {

using vlplayer::Quote;
using vlplayer::Result;
using vlplayer::RunOptions;

constexpr int kWidth = 320, kHeight = 240;
const char* const kFont = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// 'g' at 48 pixels as FreeType renders it: "left top width rows".
std::string FreeTypeGlyphBox() {
  FT_Library library = nullptr;
  FT_Face face = nullptr;
  std::string box = "no font";
  if (FT_Init_FreeType(&library)) return box;
  if (!FT_New_Face(library, kFont, 0, &face) && !FT_Set_Pixel_Sizes(face, 0, 48) &&
      !FT_Load_Glyph(face, FT_Get_Char_Index(face, 'g'), FT_LOAD_NO_HINTING) &&
      !FT_Render_Glyph(face->glyph, FT_RENDER_MODE_NORMAL)) {
    char text[96];
    std::snprintf(text, sizeof text, "%d %d %u %u", face->glyph->bitmap_left, face->glyph->bitmap_top,
                  face->glyph->bitmap.width, face->glyph->bitmap.rows);
    box = text;
  }
  if (face) FT_Done_Face(face);
  FT_Done_FreeType(library);
  return box;
}

// On displays of both depths: the probe writes the brush in the screen's
// own pixel format, 4 or 2 bytes a pixel.
class GraphicsServices : public vlplayer::PlayerTest, public testing::WithParamInterface<int> {
 protected:
  GraphicsServices() { depth_ = GetParam(); }
  // A colour as a grab of the window shows it: on a 16-bit display cut to
  // 5-6-5 bits, which the grab scales back to 0-255.
  std::string Shown(uint32_t rgb) const {
    if (depth_ == 16)
      rgb = ((rgb >> 19 & 31) * 255 / 31) << 16 | ((rgb >> 10 & 63) * 255 / 63) << 8 | (rgb >> 3 & 31) * 255 / 31;
    char hex[8];
    std::snprintf(hex, sizeof hex, "%06X", rgb);
    return hex;
  }
};

TEST_P(GraphicsServices, ProbePluginCallsEverySlot) {
  struct stat st;
  if (stat(kFont, &st) != 0) GTEST_SKIP() << "no DejaVu Sans";
  const std::string program = WriteFile("vellamora-player", ReadAll(VL_PLAYER_PATH));
  chmod(program.c_str(), 0755);
  WriteFile("probegfx.vlp", ReadAll(VL_PROBEGFX_PATH));
  // A picture with alpha and one without, and ImageMagick's RGBA bytes of
  // each.
  int status = 0;
  const std::string alpha = dir() + "/alpha.png", opaque = dir() + "/opaque.png";
  Tool("convert -size 23x17 xc: -seed 3 +noise Random -alpha set -channel A -fx 'i/22' +channel PNG32:" +
           Quote(alpha) + " && convert " + Quote(alpha) + " -depth 8 rgba:" + Quote(dir() + "/alpha.rgba"),
       &status);
  ASSERT_EQ(status, 0);
  Tool("convert -size 19x13 xc: -seed 5 +noise Random -type TrueColor PNG24:" + Quote(opaque) + " && convert " +
           Quote(opaque) + " -depth 8 rgba:" + Quote(dir() + "/opaque.rgba"),
       &status);
  ASSERT_EQ(status, 0);
  const std::string bmp = dir() + "/opaque.bmp";
  Tool("convert " + Quote(opaque) + " -type TrueColor BMP3:" + Quote(bmp), &status);
  ASSERT_EQ(status, 0);

  const std::string grabbed = dir() + "/grabbed";
  const std::string text =
      ".line 1\n.call createbrush 1 64 64 0x000000\n"
      ".call probegfx.slots -> S\n.call debugprint \"slots\" $S\n"
      ".call probegfx.picture \"" + alpha + "\" \"" + dir() + "/alpha.rgba\" 1 -> P\n"
      ".call debugprint \"alpha\" $P\n"
      ".call probegfx.picture \"" + opaque + "\" \"" + dir() + "/opaque.rgba\" 0 -> P\n"
      ".call debugprint \"opaque\" $P\n"
      ".call probegfx.picture \"" + bmp + "\" \"" + dir() + "/opaque.rgba\" 0 -> P\n"
      ".call debugprint \"bmp\" $P\n"
      ".call probegfx.conversions -> C\n.call debugprint \"conversions\" $C\n"
      ".call probegfx.brushes 1 -> B\n.call debugprint \"brushes\" $B\n"
      ".call probegfx.draw -> D\n.call debugprint \"draw\" $D\n"
      ".call probegfx.freetype \"" + std::string(kFont) + "\" -> F G\n.call debugprint \"freetype\" $F $G\n"
      ".call displaybrush 1 200 160\n.call displaybrush 12 20 180\n" +
      vlplayer::WaitUntilFileExists(grabbed) + ".call debugprint \"shown\"\n";
  const std::string applet =
      Applet("probe", text, "revision 6 1\nheader 1 Graphics probe\ndisplay 1 320 240 Graphics probe\n");

  std::string pixels;
  RunOptions options;
  options.program = program;
  options.timeoutSeconds = 60;
  options.whileRunning = [&](pid_t, const std::string& display) {
    const std::string id = vlplayer::WaitForWindow(display, "Graphics probe");
    if (!id.empty()) {
      // The last thing drawn, brush 12, tells the picture is complete.
      const size_t sentinel = (static_cast<size_t>(185) * kWidth + 25) * 3;
      for (int i = 0; i < 100; ++i) {
        pixels = Tool("import -window " + id + " -depth 8 rgb:-");
        if (pixels.size() == kWidth * kHeight * 3u &&
            static_cast<unsigned char>(pixels[sentinel]) == (depth_ == 16 ? 0x4A : 0x4B))
          break;
        Tool("sleep 0.1");
      }
    }
    WriteFile("grabbed", "");
  };
  Result r = Run({applet}, options);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "slots ok\nalpha ok\nopaque ok\nbmp ok\nconversions ok\nbrushes ok\ndraw ok\nfreetype ok " +
                       FreeTypeGlyphBox() + "\nshown\n");

  ASSERT_EQ(pixels.size(), kWidth * kHeight * 3u);
  auto at = [&](int x, int y) {
    const size_t i = (static_cast<size_t>(y) * kWidth + x) * 3;
    char hex[8];
    std::snprintf(hex, sizeof hex, "%02X%02X%02X", static_cast<unsigned char>(pixels[i]),
                  static_cast<unsigned char>(pixels[i + 1]), static_cast<unsigned char>(pixels[i + 2]));
    return std::string(hex);
  };
  // FillRectARGB, WritePixelARGB, DrawLineARGB (1 pixel wide, then the
  // default 10), the blended rectangle over the black display.
  EXPECT_EQ(at(10, 10), Shown(0xFF0000));
  EXPECT_EQ(at(49, 39), Shown(0xFF0000));
  EXPECT_EQ(at(50, 40), Shown(0x000000));
  EXPECT_EQ(at(100, 100), Shown(0x00FF00));
  EXPECT_EQ(at(101, 100), Shown(0x000000));
  EXPECT_EQ(at(0, 150), Shown(0x0000FF));
  EXPECT_EQ(at(199, 150), Shown(0x0000FF));
  EXPECT_EQ(at(100, 151), Shown(0x000000));
  // Half of white over black: 0x7F in each channel, less on 16 bits.
  const std::string grey = at(130, 20);
  EXPECT_TRUE(grey == Shown(0x7F7F7F) || (depth_ == 16 && grey >= "707070" && grey <= "808080")) << grey;
  EXPECT_EQ(at(245, 70), Shown(0xFFFF00));
  EXPECT_EQ(at(254, 70), Shown(0xFFFF00));
  EXPECT_EQ(at(244, 70), Shown(0x000000));
  EXPECT_EQ(at(255, 70), Shown(0x000000));
  // The brush the plug-in locked and wrote, shown by the script.
  EXPECT_EQ(at(205, 210), Shown(0xE01010));
  EXPECT_EQ(at(240, 170), Shown(0x10E010));
  EXPECT_EQ(at(250, 200), Shown(0x1010E0));
  // The brush it made from ARGB words with a colour key: the keyed half
  // shows the display through.
  EXPECT_EQ(at(25, 185), Shown(0x4B4B40));
  EXPECT_EQ(at(45, 185), Shown(0x000000));
}

INSTANTIATE_TEST_SUITE_P(Depths, GraphicsServices, testing::Values(24, 16));

// Vector engines built from the header, one with bit 0 of its vector
// extension word and one without: the newer one gets a drawpath's
// transform and a buffer for the transformed box; the older one no
// transform and a buffer for the path as it is, and the window shows the
// box each drew.
using VectorEngines = vlplayer::PlayerTest;

TEST_F(VectorEngines, AVectorEngineGetsATransformOnlyWithTheNewerLayout) {
  const std::string program = WriteFile("vellamora-player", ReadAll(VL_PLAYER_PATH));
  chmod(program.c_str(), 0755);
  WriteFile("vecold.vlp", ReadAll(VL_VECOLD_PATH));
  WriteFile("vecnew.vlp", ReadAll(VL_VECNEW_PATH));
  const std::string log = dir() + "/vector.log";
  RunOptions options;
  options.program = program;
  options.env = {"VL_PROBEVEC_LOG=" + log};
  std::string text = ".line 1\n.call startpath 1\n.call moveto 1 0 0\n.call lineto 1 12 8\n";
  for (const char* engine : {"vecold", "vecnew"})
    text += std::string(".call setvectorengine \"") + engine +
            "\"\n.call cls 0\n.call drawpath 1 10 10 0xFFFFFF { transform = { 2, 0, 0, 1 } }\n"
            ".call readpixel 20 12 -> A\n.call readpixel 30 12 -> B\n.call debugprint $A $B\n";
  Result r = Run({"-DEBUGDEVICE", "console", Applet("vectorprobe", text + "ret\n")}, options);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "16777215 0\n16777215 16777215\n");
  EXPECT_EQ(ReadAll(log), "draw 12x8 transform null\ndraw 24x8 transform 2\n");
}

}  // namespace
