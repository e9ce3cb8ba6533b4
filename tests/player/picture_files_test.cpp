// Picture files as the player measures and loads them: IsPicture's table;
// a container's declared anims, sprites and brushes keep every frame and
// their own scaling; a GIF's transparent index reaches every command that
// loads with "loadtransparency"; all against ImageMagick's reading of the
// same files.
#include <climits>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/player/drawing_test_fixture.h"
#include "tests/runtime/container_builder.h"

namespace {

using vlplayer::Quote;
using vlplayer::Result;
using Drawing = vlplayer::DrawingTest;
using AnimFiles = vlplayer::PlayerTest;

// IsPicture measures pictures ImageMagick made, with and without the
// loader option (both answers carry the table), and tells a GIF with a
// transparent colour from a PNG without one.
TEST_F(AnimFiles, IsPictureAnswersWithItsTableWhateverTheOptions) {
  const std::string pic = dir() + "/pic.png", keyed = dir() + "/keyed.gif";
  int status = 0;
  Tool("convert -size 24x16 xc:green " + Quote(pic) + " && convert -size 8x6 xc:red -fill blue -draw 'point 1,1' "
       "-transparent blue " + Quote(keyed), &status);
  if (status != 0) GTEST_SKIP() << "ImageMagick is not installed";
  auto measure = [](const std::string& file, const std::string& args) {
    return ".call base=1 ispicture \"" + file + "\" " + args +
           " -> ok t\ngetglobal 0 \"t\"\ngetfield 1 0 \"width\"\nsetglobal 1 \"w\"\n"
           "getfield 1 0 \"height\"\nsetglobal 1 \"h\"\ngetfield 1 0 \"transparency\"\nsetglobal 1 \"k\"\n"
           ".call debugprint $ok $w $h $k\n";
  };
  std::string applet = Applet("ispicture", ".line 1\n" + measure(pic, "") + ".table 0 { loader = \"inbuilt\" }\n" +
                                               measure(pic, "r0") + measure(keyed, ""));
  Result r = Run({"-debugdevice", "console", applet});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "true 24 16 0\ntrue 24 16 0\ntrue 8 6 1\n");
}

}  // namespace

namespace {

// A declaration as a container carries it: subtype, id, file, the
// subtype's data fields and the load flags (bit 1 "loadtransparency").
struct Declaration {
  uint32_t subtype, id;
  std::string file;
  std::string data;
  uint32_t loadFlags = 0;
};

std::string Bytes(const vltest::ContainerBytes& c, size_t from = 0) { return std::string(c.b.begin() + from, c.b.end()); }

// Brush: no cut, global alpha -1, not hardware, scaled (0: own size), no display.
std::string BrushData(int scaleWidth, int scaleHeight) {
  vltest::ContainerBytes d;
  d.U16(0).U16(0).U16(0).U16(0).U16(0xFFFF).U8(0).U32(scaleWidth).U32(scaleHeight).U32(0).U32(0);
  return Bytes(d, 4);
}
// Anim without a grid (every i16 field 0 but the frame count), optionally
// read from disk.
std::string AnimData(bool fromDisk, uint16_t frames = 0) {
  vltest::ContainerBytes d;
  d.U8(fromDisk ? 1 : 0).U16(0).U16(0).U16(frames).U16(0).U16(0).U16(0).U8(0).U8(0);
  return Bytes(d, 4);
}
std::string SpriteData() {
  vltest::ContainerBytes d;
  d.U16(0).U16(0).U16(0).U16(0).U16(0).U16(0);
  return Bytes(d, 4);
}

class Declared : public Drawing {
 protected:
  // Revision 6.1, the declarations (one line each), the chunk vlasm makes
  // of the text, then the file names the declarations point at.
  std::string DeclaredApplet(const std::string& name, const std::string& text, const std::vector<Declaration>& decls) {
    const std::string source = WriteFile(name + ".vlasm", ".source \"@" + name + ".vls\"\n" + text + "\nret\n");
    const std::string chunkPath = dir() + "/" + name + ".chunk";
    int status = 0;
    const std::string log = Tool(Quote(VL_ASM_PATH) + " -o " + Quote(chunkPath) + " " + Quote(source) + " 2>&1",
                                 &status);
    EXPECT_EQ(status, 0) << log;
    std::ifstream in(chunkPath, std::ios::binary);
    const std::string chunk((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    vltest::ContainerBytes c;
    c.U8(10).U8(6).U8(1).U8(2).U32(static_cast<uint32_t>(decls.size()));
    std::vector<size_t> nameFields;
    uint32_t line = 1;
    for (const Declaration& d : decls) {
      nameFields.push_back(c.Size() + 5);
      c.Decl(d.subtype, d.id, 0, static_cast<uint32_t>(d.file.size()), line++, 0xFFFFFFFFu, d.loadFlags).Raw(d.data);
    }
    c.Code(chunk);
    for (size_t i = 0; i < decls.size(); ++i) {
      const size_t at = c.Size();
      for (int k = 0; k < 4; ++k) c.b[nameFields[i] + k] = static_cast<uint8_t>(at >> (24 - 8 * k));
      c.Raw(decls[i].file);
    }
    return WriteFile(name + ".vla", Bytes(c));
  }
  // ImageMagick's colour of one pixel of the picture its arguments make.
  std::string Pixel(const std::string& args, int x, int y) {
    const std::string txt =
        Tool("convert " + args + " -crop 1x1+" + std::to_string(x) + "+" + std::to_string(y) + " +repage txt:-");
    const size_t at = txt.find('#', txt.find('\n'));
    return at == std::string::npos ? "?" : std::to_string(std::stoul(txt.substr(at + 1, 6), nullptr, 16));
  }
};

std::string Attribute(const std::string& label, int type, int id, int attribute) {
  return ".call base=1 getattribute " + std::to_string(type) + " " + std::to_string(id) + " " +
         std::to_string(attribute) + " -> v\n.call base=1 debugprint \"" + label + "\" $v\n";
}

// An applet declares a four-frame GIF without a grid as anim 16, sprite 17
// and anim 18 read from disk (start-up loads it as one and the script runs):
// each keeps every frame, as does LoadAnim with a frame count of 0, and
// their frames on the window are ImageMagick's coalesced frames. Brushes
// 2 and 3 declare a PNG at its own size, 6 and 7 the same file scaled to
// 80 x 60: each has its declared size and the pixels of ImageMagick's
// reading of the file at that size. Brush 8 declares a GIF with a
// transparent index and "loadtransparency": the index is clear.
TEST_F(Declared, AnimsSpritesAndBrushesKeepTheirFramesAndScaling) {
  const std::string gif = dir() + "/four.gif", png = dir() + "/pic.png", keyed = dir() + "/t.gif";
  std::string frames;
  const char* colours[] = {"red", "lime", "blue", "yellow"};
  for (int k = 0; k < 4; ++k)
    frames += " \\( -size 8x6 xc:" + std::string(colours[k]) + " -fill white -draw 'point " + std::to_string(k + 1) +
              "," + std::to_string(k + 1) + "' \\)";
  int status = 0;
  Tool("convert -delay 10" + frames + " " + Quote(gif) + " && convert " + Quote(gif) + " -coalesce PNG32:" +
           Quote(dir() + "/four_%d.png") +
           " && convert -size 40x30 xc:red -fill blue -draw 'rectangle 20,0 39,29' -fill lime "
           "-draw 'rectangle 0,0 9,9' PNG24:" + Quote(png) +
           " && convert -size 4x2 xc:blue -fill red -draw 'point 1,0' -transparent red " + Quote(keyed),
       &status);
  ASSERT_EQ(status, 0);
  const std::vector<Declaration> decls = {
      {2, 16, gif, AnimData(false)},      {7, 17, gif, SpriteData()},         {2, 18, gif, AnimData(true)},
      {1, 2, png, BrushData(0, 0)},       {1, 3, png, BrushData(0, 0)},       {1, 6, png, BrushData(80, 60)},
      {1, 7, png, BrushData(80, 60)},     {1, 8, keyed, BrushData(0, 0), 2},
  };
  std::string text = ".line 1\n.table 0 { width = 100, height = 20, color = 0, title = \"draw\" }\n"
                     ".call base=1 setdisplayattributes r0\n" +
                     Attribute("anim", 4, 16, 11) + Attribute("sprite", 32, 17, 11) + Attribute("disk", 4, 18, 11) +
                     // Only an anim read from disk refuses to change its frame count.
                     ".call base=1 exitonerror 0\n.call base=1 modifyanimframes 18 1\n"
                     ".call base=1 getlasterror -> e\n.call base=1 debugprint \"disk only\" $e\n" +
                     ".table 0 { frames = 0 }\n.call base=1 loadanim 38 \"" + gif + "\" r0\n" +
                     Attribute("loaded", 4, 38, 11);
  for (int b : {2, 3, 6, 7})
    text += ".call base=1 getattribute 3 " + std::to_string(b) + " 0 -> w\n.call base=1 getattribute 3 " +
            std::to_string(b) + " 1 -> h\n.call base=1 readbrushpixel " + std::to_string(b) +
            " 5 5 -> c a\n.call base=1 readbrushpixel " + std::to_string(b) + " 30 10 -> d a\n" +
            ".call base=1 debugprint \"brush " + std::to_string(b) + "\" $w $h $c $d\n";
  text += Attribute("keyed alpha", 3, 8, 17) +
          ".call base=1 readbrushpixel 8 1 0 -> c a\n.call base=1 debugprint \"clear\" $a\n"
          ".call base=1 readbrushpixel 8 0 0 -> c a\n.call base=1 debugprint \"opaque\" $c $a\n"
          ".call base=1 displayanimframe 16 0 0 3\n.call base=1 displaysprite 17 10 0 2\n"
          ".call base=1 displayanimframe 18 20 0 4\n.call base=1 displayanimframe 38 30 0 1\n" +
          ReadyForGrab();
  Result r = RunAppletAndGrab(DeclaredApplet("declared", text, decls), "declared");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::string own = Quote(png), scaled = Quote(png) + " -sample 80x60!";
  EXPECT_EQ(r.out, "anim 4\nsprite 4\ndisk 4\ndisk only 1338\nloaded 4\n"
                   "brush 2 40 30 " + Pixel(own, 5, 5) + " " + Pixel(own, 30, 10) + "\n"
                   "brush 3 40 30 " + Pixel(own, 5, 5) + " " + Pixel(own, 30, 10) + "\n"
                   "brush 6 80 60 " + Pixel(scaled, 5, 5) + " " + Pixel(scaled, 30, 10) + "\n"
                   "brush 7 80 60 " + Pixel(scaled, 5, 5) + " " + Pixel(scaled, 30, 10) + "\n"
                   "keyed alpha 1\nclear 0\nopaque 255 255\n");
  auto frame = [&](int n, int x) {
    return std::string(" ") + Quote(dir() + "/four_" + std::to_string(n) + ".png") + " -geometry +" + std::to_string(x) +
           "+0 -composite";
  };
  const std::string want =
      Convert("-size 100x20 xc:black" + frame(2, 0) + frame(1, 10) + frame(3, 20) + frame(0, 30), "want.bmp");
  EXPECT_EQ(Differ(dir() + "/declared.png", want), "0") << "window";
}

// Sizes and frame counts out of range are refused the same way from a
// script and from a declaration, with no undefined arithmetic on the way:
// a scale size that is negative (-2^31 as well, whose negation overflowed,
// and the -1 that a declared 0xFFFFFFFF is), past the int range or 0 %
// answers 1055, as does a frame count below 1, or above 1 with no frame
// size to cut by, where the count was dropped for the whole picture. A
// declaration so refused stops start-up naming its line. A scale size of 0
// keeps that side's own size, from both.
TEST_F(Declared, ScaleSizesAndFrameCountsOutOfRangeAreRefusedAlike) {
  const std::string gif = dir() + "/four.gif", png = dir() + "/pic.png";
  int status = 0;
  Tool("convert -delay 10 -size 8x6 xc:red xc:lime xc:blue xc:white " + Quote(gif) + " && convert -size 40x30 xc:red " +
           Quote(png), &status);
  ASSERT_EQ(status, 0);
  auto load = [](const std::string& label, const std::string& call, const std::string& table, const std::string& file) {
    return ".table 0 { " + table + " }\n.call base=1 " + call + " \"" + file + "\" r0\n.call base=1 getlasterror -> e\n"
           ".call base=1 debugprint \"" + label + "\" $e\n";
  };
  std::string text = ".line 1\n.call base=1 exitonerror 0\n" +
                     load("min", "loadbrush 1", "scalewidth = -2147483648, scaleheight = 10", png) +
                     load("minus one", "loadbrush 1", "scalewidth = -1, scaleheight = -1", png) +
                     load("2^31", "loadbrush 1", "scalewidth = 2147483648, scaleheight = 10", png) +
                     load("nought percent", "loadbrush 1", "scalewidth = \"0%\", scaleheight = 10", png) +
                     load("bgpic min", "loadbgpic 2", "scalewidth = -2147483648, scaleheight = 10", png) +
                     load("frames -1", "loadanim 3", "frames = -1", gif) +
                     load("frames 32767", "loadanim 3", "frames = 32767", gif) +
                     load("width min", "loadbrush 1", "width = -2147483648", png) +
                     load("half", "loadbrush 1", "scalewidth = \"50%\", scaleheight = 0", png) +
                     Attribute("width", 3, 1, 0) + Attribute("height", 3, 1, 1) +
                     load("one frame", "loadanim 3", "frames = 1", gif) + Attribute("frames", 4, 3, 11) +
                     Attribute("declared width", 3, 9, 0) + Attribute("declared height", 3, 9, 1);
  Result r = Run({"-debugdevice", "console",
                  DeclaredApplet("ranges", text, {{1, 9, png, BrushData(1, 0)}})});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "min 1055\nminus one 1055\n2^31 1055\nnought percent 1055\nbgpic min 1055\nframes -1 1055\n"
                   "frames 32767 1055\nwidth min 1218\nhalf 0\nwidth 20\nheight 30\none frame 0\nframes 1\n"
                   "declared width 1\ndeclared height 30\n");
  const Declaration refused[] = {{1, 4, png, BrushData(INT32_MIN, 10)},
                                 {1, 5, png, BrushData(-1, -1)},
                                 {2, 6, gif, AnimData(false, 0xFFFF)},
                                 {2, 7, gif, AnimData(false, 32767)}};
  for (const Declaration& d : refused) {
    SCOPED_TRACE(d.id);
    // The refused declaration is the second line; 1055 names it.
    r = Run({"-debugdevice", "console",
             DeclaredApplet("refused", ".line 1\n.call debugprint \"ran\"", {{1, 2, png, BrushData(0, 0)}, d})});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_EQ(r.out.find("ran"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("refused.vla:2: Wrong usage/parameters for this command!"), std::string::npos) << r.out;
  }
}

// "loadtransparency" keeps a GIF's transparent index in every command
// that takes it: a one-frame GIF as a brush, a BGPic (shown through a
// brush made of it) and an anim cut into two frames; an animated GIF with
// a transparent index in each frame as an anim, a sprite and one frame
// read into a brush. Over a coloured BGPic the window equals ImageMagick's
// composition of the same files (its coalesced frames for the anim). A
// GIF without a transparent index is refused with 1574 by each.
TEST_F(Drawing, LoadTransparencyKeepsAGifsTransparentIndex) {
  const std::string one = dir() + "/t.gif", anim = dir() + "/ta.gif", plain = dir() + "/plain.gif";
  int status = 0;
  Tool("convert -size 4x2 xc:blue -fill red -draw 'point 1,0' -transparent red " + Quote(one) +
           " && convert -delay 10 \\( -size 6x4 xc:yellow -fill red -draw 'point 1,1' -transparent red \\)"
           " \\( -size 6x4 xc:cyan -fill red -draw 'point 1,1 point 3,2' -transparent red \\)"
           " \\( -size 6x4 xc:magenta -fill red -draw 'point 4,0' -transparent red \\) " + Quote(anim) +
           " && convert " + Quote(anim) + " -coalesce PNG32:" + Quote(dir() + "/ta_%d.png") +
           " && convert -size 4x2 xc:blue " + Quote(plain),
       &status);
  ASSERT_EQ(status, 0);
  const std::string bg = Convert("-size 90x10 xc:'#204060'", "bg.bmp");
  const std::string keep = ".table 0 { loadtransparency = 1 }\n";
  const std::string grid = ".table 0 { loadtransparency = 1, width = 2, height = 2, frames = 2 }\n";
  auto refused = [&](const std::string& label, const std::string& table, const std::string& call, int type, int id) {
    return table + ".call base=1 " + call + " r0\n.call base=1 getlasterror -> e\n.call base=1 haveobject " +
           std::to_string(type) + " " + std::to_string(id) + " -> o\n.call base=1 debugprint \"" + label +
           "\" $e $o\n";
  };
  const std::string q1 = "\"" + one + "\"", qa = "\"" + anim + "\"", qp = "\"" + plain + "\"";
  const std::string text =
      ".line 1\n.call base=1 exitonerror 0\n.call base=1 loadbgpic 2 \"" + bg + "\"\n.call base=1 displaybgpic 2\n"
      ".table 0 { title = \"draw\" }\n.call base=1 setdisplayattributes r0\n" +
      keep + ".call base=1 loadbrush 1 " + q1 + " r0\n" + keep + ".call base=1 loadbgpic 3 " + q1 + " r0\n" + keep +
      ".call base=1 loadanim 4 " + qa + " r0\n" + keep + ".call base=1 loadsprite 5 " + qa + " r0\n" + keep +
      ".call base=1 loadanimframe 6 3 " + qa + " r0\n" + grid + ".call base=1 loadanim 7 " + q1 + " r0\n" +
      Attribute("brush alpha", 3, 1, 17) + Attribute("brush mask", 3, 1, 16) + Attribute("bgpic alpha", 1, 3, 17) +
      ".call base=1 readbrushpixel 1 1 0 -> c a\n.call base=1 debugprint \"clear\" $a\n"
      ".call base=1 readbrushpixel 1 0 0 -> c a\n.call base=1 debugprint \"opaque\" $c $a\n"
      ".call base=1 bgpictobrush 3 10\n.call base=1 displaybrush 1 2 2\n.call base=1 displaybrush 10 10 2\n"
      ".call base=1 displayanimframe 4 20 2 1\n.call base=1 displayanimframe 4 30 2 2\n"
      ".call base=1 displayanimframe 4 40 2 3\n.call base=1 displaysprite 5 50 2 2\n"
      ".call base=1 displaybrush 6 60 2\n.call base=1 displayanimframe 7 70 2 1\n"
      ".call base=1 displayanimframe 7 72 2 2\n" +
      refused("plain brush", keep, "loadbrush 20 " + qp, 3, 20) +
      refused("plain bgpic", keep, "loadbgpic 21 " + qp, 1, 21) +
      refused("plain anim", keep, "loadanim 22 " + qp, 4, 22) +
      refused("plain sprite", keep, "loadsprite 23 " + qp, 32, 23) +
      refused("plain frame", keep, "loadanimframe 24 1 " + qp, 3, 24) +
      refused("plain grid", grid, "loadanim 25 " + qp, 4, 25) + ReadyForGrab();
  Result r = RunAndGrab(text, "keyed");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "brush alpha 1\nbrush mask 0\nbgpic alpha 1\nclear 0\nopaque 255 255\n"
                   "plain brush 1574 0\nplain bgpic 1574 0\nplain anim 1574 0\nplain sprite 1574 0\n"
                   "plain frame 1574 0\nplain grid 1574 0\n");
  auto at = [&](const std::string& file, int x) {
    return std::string(" ") + Quote(file) + " -geometry +" + std::to_string(x) + "+2 -composite";
  };
  auto frame = [&](int n) { return dir() + "/ta_" + std::to_string(n) + ".png"; };
  const std::string want = Convert(Quote(bg) + at(one, 2) + at(one, 10) + at(frame(0), 20) + at(frame(1), 30) +
                                       at(frame(2), 40) + at(frame(1), 50) + at(frame(2), 60) + at(one, 70),
                                   "want.bmp");
  EXPECT_EQ(Differ(dir() + "/keyed.png", want), "0") << "window";
}

}  // namespace
