// What the command libraries draw, as the window shows it: text placed by
// position constants and kept to a clip region, the default font and
// TrueType text against FreeType's rendering of their faces, drawing into
// a selected layer, and videos paused, sought, moved and resized on the
// window.
#include <sys/stat.h>
#include <unistd.h>

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_SYNTHESIS_H

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tests/player/library_fixtures.h"

// After gtest: its own None would meet the macro.
#include <X11/Xlib.h>

namespace {

using vlplayer::Libraries;
using vlplayer::Lit;
using vlplayer::Result;
using vlplayer::RunOptions;
using vlplayer::WaitForVideoEnd;

// The box of what is not black in a region of a window, as ImageMagick
// trims it: x, y relative to the region; width 0 when the region is black,
// -1 when the grab failed.
struct InkBox {
  int x = -1, y = -1, width = -1, height = -1;
};

class Windows : public Libraries {
 protected:
  // Runs the applet (which waits for the file "grabbed" in the test's
  // folder), calls grab once its window, named title, shows, and lets the
  // applet end.
  Result RunAndGrab(const std::string& applet, const std::string& title,
                    const std::function<void(const std::string& window)>& grab) {
    vlplayer::RunOptions options;
    options.whileRunning = [&](pid_t, const std::string& display) {
      std::string window = vlplayer::WaitForWindow(display, title);
      if (!window.empty()) grab(window);
      WriteFile("grabbed", "");
    };
    return Run({applet}, options);
  }
  // Runs the applet made of name and body, which then says it is ready
  // and waits; pixels gets the whole window (title name) as 8-bit RGB.
  Result RunAndGrabWhenReady(const std::string& name, const std::string& body, std::string* pixels) {
    const std::string ready = dir() + "/ready";
    const std::string applet = Applet(name, body + ".call stringtofile \"1\" " + Lit(ready) + "\n" +
                                                vlplayer::WaitUntilFileExists(dir() + "/grabbed"));
    return RunAndGrab(applet, name, [&](const std::string& window) {
      for (int i = 0; i < 600 && access(ready.c_str(), F_OK) != 0; ++i) Tool("sleep 0.1");
      Tool("sleep 0.3");
      *pixels = Tool("timeout 20 import -window " + window + " -depth 8 rgb:-");
    });
  }
  // A red 32 x 24 MJPEG clip, ten frames a second unless said; its path,
  // or "" when ffmpeg failed.
  std::string RedClip(const std::string& name, const std::string& seconds, const std::string& rate = "10") {
    int status = 0;
    const std::string path = dir() + "/" + name;
    Tool("ffmpeg -v error -y -f lavfi -i color=c=red:size=32x24:rate=" + rate + " -t " + seconds + " -c:v mjpeg -q:v 2 " +
             vlplayer::Quote(path), &status);
    return status == 0 ? path : "";
  }
  InkBox GrabInk(const std::string& window, int x, int y, int w, int h) const {
    InkBox box;
    const std::string grab = "import -window " + window + " -crop " + std::to_string(w) + "x" + std::to_string(h) +
                             "+" + std::to_string(x) + "+" + std::to_string(y);
    const std::string text = Tool(grab + " -format '%@ %[fx:maxima.r+maxima.g+maxima.b]' info:");
    double brightest = -1;
    if (std::sscanf(text.c_str(), "%dx%d+%d+%d %lf", &box.width, &box.height, &box.x, &box.y, &brightest) != 5)
      return InkBox{};
    if (brightest == 0) box.width = box.height = 0;
    return box;
  }
};

// Text placed by position constants lands inside the 320 x 120 window: the
// centred word's ink centred on the window's middle, the word placed right
// and at the bottom ending at the window's right and bottom edges.
TEST_F(Windows, TextOutPositionConstantsPlaceTheTextInTheWindow) {
  const std::string grabbed = dir() + "/grabbed";
  std::string applet = Applet(
      "textpos", ".line 1\n.table 0 { width = 320, height = 120, color = 0, title = \"textpos\" }\n"
                 ".call base=1 createdisplay 2 r0\n.call opendisplay 2\n"
                 ".call textout -100000 -100000 \"Centre\"\n.call textout -80000 -60000 \"Right\"\n" +
                     vlplayer::WaitUntilFileExists(grabbed));
  InkBox centre, corner, top;
  Result r = RunAndGrab(applet, "textpos", [&](const std::string& window) {
    centre = GrabInk(window, 0, 30, 320, 60);
    corner = GrabInk(window, 0, 90, 320, 30);
    top = GrabInk(window, 0, 0, 320, 30);
  });
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  ASSERT_GT(centre.width, 30);
  EXPECT_NEAR(centre.x + centre.width / 2.0, 160, 4);
  EXPECT_NEAR(30 + centre.y + centre.height / 2.0, 60, 4);
  ASSERT_GT(corner.width, 20);
  EXPECT_GE(corner.x + corner.width, 312);
  EXPECT_LE(corner.x + corner.width, 320);
  EXPECT_GE(90 + corner.y + corner.height, 112);
  EXPECT_EQ(top.width, 0);
}

// What is drawn into a selected layer shows in the window once the
// selection ends: a red square inside the black layer, where it was drawn.
// Right of it, a white layer's mask and a green layer's alpha channel drawn
// into: a hole shows the black background, a corner half see-through; the
// window against ImageMagick's drawing of the same.
TEST_F(Windows, DrawingIntoASelectedLayerShowsWhenTheSelectionEnds) {
  const std::string grabbed = dir() + "/grabbed";
  std::string applet = Applet(
      "layerdraw", ".line 1\n.table 0 { width = 200, height = 80, color = 0, title = \"layerdraw\" }\n"
                   ".call base=1 createdisplay 2 r0\n.call opendisplay 2\n.call enablelayers\n"
                   ".call createbrush 1 40 40 0\n.call createbrush 2 10 10 0xFF0000\n.call displaybrush 1 20 20\n"
                   ".call selectlayer 1\n.call displaybrush 2 5 5\n.call endselect\n"
                   ".call createbrush 3 30 30 0xFFFFFF\n.call displaybrush 3 125 20\n"
                   ".call createbrush 4 30 30 0x00FF00\n.call displaybrush 4 160 20\n"
                   ".call setmaskmode 1\n.call selectmask 2 22\n.call displaybrush 2 10 10\n.call endselect\n"
                   ".call setalphaintensity 128\n.call selectalphachannel 3 22\n.call displaybrush 2 0 0\n"
                   ".call endselect\n" +
                       vlplayer::WaitUntilFileExists(grabbed));
  InkBox ink;
  std::string planes;
  Result r = RunAndGrab(applet, "layerdraw", [&](const std::string& window) {
    ink = GrabInk(window, 0, 0, 120, 80);
    planes = Tool("import -window " + window + " -crop 80x80+120+0 -depth 8 rgb:-");
  });
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(ink.x, 25);
  EXPECT_EQ(ink.y, 25);
  EXPECT_EQ(ink.width, 10);
  EXPECT_EQ(ink.height, 10);
  const std::string model = Tool(
      "convert -size 80x80 xc:black -fill white -draw 'rectangle 5,20 34,49' -fill black -draw 'rectangle 15,30 "
      "24,39' -fill lime -draw 'rectangle 40,20 69,49' -fill 'rgb(0,128,0)' -draw 'rectangle 40,20 49,29' -depth 8 "
      "rgb:-");
  ASSERT_EQ(model.size(), 80u * 80 * 3);
  ASSERT_EQ(planes.size(), model.size());
  int wrong = 0;
  for (size_t i = 0; i < model.size(); ++i)
    if (std::abs(static_cast<unsigned char>(planes[i]) - static_cast<unsigned char>(model[i])) > 1 && wrong++ < 5)
      ADD_FAILURE() << "pixel " << (i / 3) % 80 << "," << (i / 3) / 80 << " channel " << i % 3 << ": "
                    << int(static_cast<unsigned char>(planes[i])) << " not "
                    << int(static_cast<unsigned char>(model[i]));
  EXPECT_EQ(wrong, 0);
}

// A layer added to the BGPic that a running effect's layer stands in for,
// on a display scaling its layers, shows inside the effect's layer as the
// display would show that BGPic: scaled to the display's scale size (the
// 20 x 12 BGPic to 80 x 60), so the 4 x 4 square at (2, 2) covers (8, 10)
// to (23, 29), cut at the layer's 24th row. The revealed part of the
// window against ImageMagick's drawing of the same.
TEST_F(Windows, ALayerAddedToTheBGPicAnEffectStandsInForIsScaledWithTheDisplay) {
  const std::string grabbed = dir() + "/grabbed";
  std::string applet = Applet(
      "standin", ".line 1\n.call createbgpic 1 40 30 0x808080\n"
                 ".table 0 { bgpic = 1, scalemode = 2, scalewidth = 80, scaleheight = 60, title = \"standin\" }\n"
                 ".call base=1 createdisplay 2 r0\n.call opendisplay 2\n.call enablelayers\n"
                 ".call createbgpic 2 20 12 0xFF0000\n.call createbrush 5 4 4 0xFFFF00\n"
                 ".call createbrush 6 20 12 0x0000FF\n.table 0 { hidden = 1 }\n.call base=1 displaybrush 6 5 5 r0\n"
                 ".table 0 { type = 30, speed = 10, async = 1, bgpicemu = 1, bgpic = 2 }\n"
                 ".call base=1 showlayerfx 1 r0 -> h\n.call asyncdrawframe $h -> r\n"
                 ".call selectbgpic 2\n.call displaybrush 5 2 2\n.call endselect\n.call asyncdrawframe $h -> r\n" +
                     vlplayer::WaitUntilFileExists(grabbed));
  std::string shown;
  Result r = RunAndGrab(applet, "standin", [&](const std::string& window) {
    shown = Tool("import -window " + window + " -crop 22x24+10+10 -depth 8 rgb:-");
  });
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::string model =
      Tool("convert -size 80x60 xc:red -fill yellow -draw 'rectangle 8,10 23,29' -crop 22x24+0+0 -depth 8 rgb:-");
  ASSERT_EQ(model.size(), 22u * 24 * 3);
  EXPECT_EQ(shown, model);
}

// The default font as the window shows it, against FreeType's rendering of
// the face the built-in font is made from (its capitals at the named size,
// six rows above the baseline): "CELLAR" reads CELLAR, "T" has its bar.
// Below, every code 32..255 in rows of 32: each cell shows as many separate
// pieces of ink as the face's rendering of its character at 64 pixels (the
// dot of "?", the accents off their capitals), the codes below 161 without
// a character as one box, and the few characters no 8-pixel rendering of
// the face can keep apart (the dotted zero, "%", the registered sign and
// the fractions) with fewer. No two characters look alike.
TEST_F(Windows, TheDefaultFontShowsItsFacesCapitalsWholeAndEveryGlyphsPartsApart) {
  const std::string source = Tool("head -c 400 " + vlplayer::Quote(std::string(VL_SOURCE_ROOT) +
                                                               "/text/fonts/topaz_strike.cpp"));
  char face[128] = {};
  int fw = 0, fh = 0;
  const size_t from = source.find("from ");
  ASSERT_NE(from, std::string::npos);
  ASSERT_EQ(std::sscanf(source.c_str() + from, "from %127s at %dx%d pixels", face, &fw, &fh), 3);
  const std::string word = "CELLAR TOP";
  constexpr int kWinW = 280, kWinH = 110, kX = 10, kY = 10, kH = 8, kAllY = 26, kPitch = 11;
  const int kW = 8 * static_cast<int>(word.size());
  // The model: each letter's 1-bit rendering in its 8-pixel cell, centred
  // by its advance, the baseline under row 5.
  std::vector<int> want(size_t(kW) * kH, 0);
  FT_Library lib = nullptr;
  FT_Face ft = nullptr;
  ASSERT_EQ(FT_Init_FreeType(&lib), 0);
  ASSERT_EQ(FT_New_Face(lib, (std::string(VL_FACE_DIR) + "/" + face).c_str(), 0, &ft), 0);
  ASSERT_EQ(FT_Set_Pixel_Sizes(ft, fw, fh), 0);
  for (size_t i = 0; i < word.size(); ++i) {
    ASSERT_EQ(FT_Load_Char(ft, word[i], FT_LOAD_RENDER | FT_LOAD_TARGET_MONO | FT_LOAD_MONOCHROME), 0);
    const FT_Bitmap& b = ft->glyph->bitmap;
    const int ox = 8 * static_cast<int>(i) + (8 - static_cast<int>(ft->glyph->advance.x >> 6)) / 2 +
                   ft->glyph->bitmap_left;
    const int oy = 6 - ft->glyph->bitmap_top;
    for (int r = 0; r < static_cast<int>(b.rows); ++r)
      for (int c = 0; c < static_cast<int>(b.width); ++c)
        if (b.buffer[r * b.pitch + c / 8] & (0x80 >> (c % 8))) {
          ASSERT_TRUE(ox + c >= 0 && ox + c < kW && oy + r >= 0 && oy + r < kH) << word[i];
          want[size_t(oy + r) * kW + ox + c] = 1;
        }
  }
  // Pieces of 8-connected ink in a picture, 1 for ink; it is cleared.
  auto parts = [](std::vector<int> ink, int w, int h) {
    int n = 0;
    std::vector<int> stack;
    for (int start = 0; start < w * h; ++start) {
      if (!ink[start]) continue;
      ++n;
      ink[start] = 0;
      stack.push_back(start);
      while (!stack.empty()) {
        const int p = stack.back(), y = p / w, x = p % w;
        stack.pop_back();
        for (int ny = std::max(y - 1, 0); ny <= std::min(y + 1, h - 1); ++ny)
          for (int nx = std::max(x - 1, 0); nx <= std::min(x + 1, w - 1); ++nx)
            if (ink[ny * w + nx]) ink[ny * w + nx] = 0, stack.push_back(ny * w + nx);
      }
    }
    return n;
  };
  int faceParts[256] = {};
  for (int code = 33; code < 256; ++code) {
    if (!FT_Get_Char_Index(ft, code)) continue;
    ASSERT_EQ(FT_Set_Pixel_Sizes(ft, 64, 64), 0);
    ASSERT_EQ(FT_Load_Char(ft, code, FT_LOAD_RENDER | FT_LOAD_TARGET_MONO | FT_LOAD_MONOCHROME), 0);
    const FT_Bitmap& b = ft->glyph->bitmap;
    std::vector<int> ink(size_t(b.width) * b.rows);
    for (int r = 0; r < static_cast<int>(b.rows); ++r)
      for (int c = 0; c < static_cast<int>(b.width); ++c)
        ink[size_t(r) * b.width + c] = (b.buffer[r * b.pitch + c / 8] >> (7 - c % 8)) & 1;
    faceParts[code] = parts(ink, static_cast<int>(b.width), static_cast<int>(b.rows));
  }
  FT_Done_Face(ft);
  FT_Done_FreeType(lib);
  std::string lines;
  for (int row = 0; row < 7; ++row) {
    std::string text;
    for (int code = 32 + 32 * row; code < 64 + 32 * row; ++code) {
      char escaped[12];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", code);
      text += escaped;
      if (code == '[' || code == ']') text += escaped;  // a bracket alone would open or close a tag
    }
    lines += ".call textout " + std::to_string(kX) + " " + std::to_string(kAllY + kPitch * row) + " \"" + text + "\"\n";
  }
  const std::string grabbed = dir() + "/grabbed";
  std::string applet = Applet(
      "topaz", ".line 1\n.table 0 { width = " + std::to_string(kWinW) + ", height = " + std::to_string(kWinH) +
                   ", color = 0, title = \"topaz\" }\n"
                   ".call base=1 createdisplay 2 r0\n.call opendisplay 2\n.call textout " + std::to_string(kX) + " " +
                   std::to_string(kY) + " \"" + word + "\"\n" + lines + vlplayer::WaitUntilFileExists(grabbed));
  std::string gray;
  Result r = RunAndGrab(applet, "topaz", [&](const std::string& window) {
    Tool("import -window " + window + " " + vlplayer::Quote(dir() + "/topaz.png"));
    gray = Tool("convert " + vlplayer::Quote(dir() + "/topaz.png") + " gray:-");
  });
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  ASSERT_EQ(gray.size(), size_t(kWinW) * kWinH);
  auto lit = [&](int x, int y) { return gray[size_t(y) * kWinW + x] != 0; };
  std::string shown, model;
  int differ = 0;
  for (int y = -1; y < kH + 2; ++y) {
    for (int x = -1; x < kW + 1; ++x) {
      const bool ink = x >= 0 && x < kW && y >= 0 && y < kH && want[size_t(y) * kW + x];
      shown += lit(kX + x, kY + y) ? '#' : '.';
      model += ink ? '#' : '.';
      differ += lit(kX + x, kY + y) != ink;
    }
    shown += '\n';
    model += '\n';
  }
  EXPECT_EQ(differ, 0) << "shown:\n" << shown << "face:\n" << model;
  std::string fewer;
  std::map<std::string, int> codeOf;  // no two characters look alike
  for (int code = 33; code < 256; ++code) {
    const int cx = kX + 8 * ((code - 32) % 32), cy = kAllY + kPitch * ((code - 32) / 32);
    std::vector<int> cell(64);
    std::string picture;
    for (int y = 0; y < 8; ++y, picture += '\n')
      for (int x = 0; x < 8; ++x) {
        cell[y * 8 + x] = lit(cx + x, cy + y);
        picture += cell[y * 8 + x] ? '#' : '.';
      }
    // The box; the soft hyphen is blank (it shows only where a line breaks).
    const int expected = code >= 127 && code < 160 ? 1 : code == 173 ? 0 : faceParts[code];
    if (code < 127 || code > 160) {
      const auto [same, alone] = codeOf.emplace(picture, code);
      EXPECT_TRUE(alone) << "codes " << same->second << " and " << code << " look alike\n" << picture;
    }
    const int shownParts = parts(cell, 8, 8);
    if (shownParts < expected) fewer.append(" ").append(std::to_string(code));
    EXPECT_LE(shownParts, expected) << "code " << code << "\n" << picture;
    EXPECT_TRUE(shownParts > 0 || expected == 0) << "code " << code;
  }
  EXPECT_EQ(fewer, " 37 48 174 188 189 190");
  // Nothing between the rows: every glyph keeps to its cell.
  for (int row = 0; row < 7; ++row)
    for (int y = kAllY + kPitch * row + 8; y < kAllY + kPitch * (row + 1); ++y)
      for (int x = 0; x < kWinW; ++x) EXPECT_FALSE(lit(x, y)) << x << "," << y;
}

// With a clip region set, the position constants place brushes, boxes and
// text against the region (its size, its left and top edges as base), and
// text, plain and tagged, keeps inside the region as every drawing does.
// Each case is grabbed from the window twice: drawn with the constants
// inside the region, and drawn at the place the resolution rule gives,
// with no region. The first grab must be the second cut to the region;
// for the brushes and the box, also the rectangle the rule gives.
TEST_F(Windows, PositionConstantsAndTextKeepToTheActiveClipRegion) {
  constexpr int kW = 200, kH = 120, kRx = 40, kRy = 20, kRw = 80, kRh = 60;
  enum : int { C = -100000, L = -90000, R = -80000, T = -70000, B = -60000, LO = -50000, RO = -40000, BO = -20000 };
  struct Rect {
    int x, y, w, h;
  };
  struct Case {
    std::string draw;       // with the constants, inside the region
    std::string reference;  // at the resolved place, without the region
    Rect shape;             // the drawn rectangle, width 0 for text
  };
  auto n = [](int v) { return std::to_string(v); };
  auto brush = [&](int x, int y) { return "displaybrush 2 " + n(x) + " " + n(y); };
  auto text = [&](int x, int y, const std::string& t) { return "textout " + n(x) + " " + n(y) + " \"" + t + "\""; };
  // A text of k letters of the 8-pixel font is a picture of 8k x 9.
  auto tx = [&](int k, int band, int off) {
    const int w = 8 * k;
    return band == C ? kRx + (kRw - w) / 2 + off : band == L ? kRx + off : band == R ? kRx + kRw - w + off
           : band == LO ? kRx - w + off : kRx + kRw + off;
  };
  const std::string tagged = "[b]Bold[/b] [color=16711680]red[/color] and [u]under[/u] text";
  const std::vector<Case> cases = {
      {brush(C, C), brush(70, 40), {70, 40, 20, 20}},
      {brush(R, B), brush(100, 60), {100, 60, 20, 20}},
      {brush(L + 5, T + 3), brush(45, 23), {45, 23, 20, 20}},
      {brush(RO - 10, C), brush(110, 40), {110, 40, 20, 20}},
      {brush(LO + 10, BO - 10), brush(30, 70), {30, 70, 20, 20}},
      {"box " + n(C) + " " + n(B - 4) + " 30 10 16777215", "box 65 66 30 10 16777215", {65, 66, 30, 10}},
      {text(C, C, "Clip"), text(tx(4, C, 0), kRy + (kRh - 9) / 2, "Clip"), {}},
      {text(R - 4, B, "Right"), text(tx(5, R, -4), kRy + kRh - 9, "Right"), {}},
      {text(L + 6, T + 2, "Left"), text(tx(4, L, 6), kRy + 2, "Left"), {}},
      {text(LO + 12, T + 10, "Out"), text(tx(3, LO, 12), kRy + 10, "Out"), {}},
      {text(RO - 12, T + 20, "Out"), text(tx(3, RO, -12), kRy + 20, "Out"), {}},
      {text(2, 30, "Text left of the region"), text(2, 30, "Text left of the region"), {}},
      {text(-20, 50, tagged), text(-20, 50, tagged), {}},
      {text(L - 30, BO - 12, tagged), text(kRx - 30, kRy + kRh - 12, tagged), {}},
  };
  std::string script =
      ".line 1\n.table 0 { width = " + n(kW) + ", height = " + n(kH) +
      ", color = 0, title = \"clipped\" }\n.call base=1 createdisplay 2 r0\n.call opendisplay 2\n"
      ".call createbrush 2 20 20 16777215\n.call setfillstyle 1\n.call createclipregion 1 14 " + n(kRx) + " " + n(kRy) + " " + n(kRw) +
      " " + n(kRh) + "\n";
  auto grab = [&](size_t i, const std::string& kind) { return dir() + "/" + kind + std::to_string(i) + ".bmp"; };
  for (size_t i = 0; i < cases.size(); ++i)
    script += ".call cls\n.call setclipregion 1\n.call " + cases[i].draw + "\n.call wait 2\n.call savesnapshot " +
              Lit(grab(i, "clip")) + " 0\n.call cls\n.call setclipregion nil\n.call " + cases[i].reference +
              "\n.call wait 2\n.call savesnapshot " + Lit(grab(i, "plain")) + " 0\n";
  Result r = Run({Applet("clipped", script)});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  auto pixels = [&](const std::string& file) { return Tool("convert " + vlplayer::Quote(file) + " rgb:-"); };
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].draw);
    const std::string clipped = pixels(grab(i, "clip")), plain = pixels(grab(i, "plain"));
    ASSERT_EQ(clipped.size(), size_t{kW * kH * 3});
    ASSERT_EQ(plain.size(), clipped.size());
    const Rect& s = cases[i].shape;
    int ink = 0, wrong = 0, firstWrong = -1, outside = 0;
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) {
        const size_t at = (size_t(y) * kW + x) * 3;
        const bool inRegion = x >= kRx && x < kRx + kRw && y >= kRy && y < kRy + kRh;
        std::string want = inRegion ? plain.substr(at, 3) : std::string(3, '\0');
        if (s.w && inRegion) {
          const bool inShape = x >= s.x && x < s.x + s.w && y >= s.y && y < s.y + s.h;
          EXPECT_EQ(want, std::string(3, inShape ? '\xFF' : '\0')) << x << "," << y;
        }
        if (clipped.compare(at, 3, want) != 0 && wrong++ == 0) firstWrong = y * kW + x;
        ink += want != std::string(3, '\0');
        outside += !inRegion && plain.compare(at, 3, std::string(3, '\0')) != 0;
      }
    EXPECT_EQ(wrong, 0) << "first at " << firstWrong % kW << "," << firstWrong / kW;
    EXPECT_GT(ink, 8);
    // The text cases reach out of the region where it cuts them.
    if (i >= 9) {
      EXPECT_GT(outside, 8);
    }
  }
}

// A video paused, sought and resumed, round after round, as a video of its
// own and as a layer: every resume finds the video paused (the seek while
// paused used to mark it ended, and the resume failed with 1452). Last, a
// layer paused and sought to 20 s stays paused there and the window shows
// that frame (frame n of the clip has red n), also a moment later.
TEST_F(Windows, ASeekWhilePausedKeepsTheVideoPaused) {
  const std::string video = dir() + "/noise.avi";
  int status = 0;
  // Noisy frames take a while to decode, which is when the end was wrongly
  // seen.
  Tool("ffmpeg -v error -y -f lavfi -i color=c=black:s=320x240:r=10:d=30 -vf "
       "\"geq=r='N':g='X':b='Y*2+random(1)*60'\" -c:v mjpeg -q:v 2 " + vlplayer::Quote(video),
       &status);
  ASSERT_EQ(status, 0);
  const std::string grabbed = dir() + "/grabbed";
  auto rounds = [](const std::string& label, const std::string& play, const std::string& pause,
                   const std::string& seek, const std::string& resume, const std::string& stop) {
    return "loadk 1 #0\nloadk 2 #29\nloadk 3 #1\n" + label + ":\n.call base=5 " + play + "\n.call base=5 wait 2\n"
           ".call base=5 " + pause + "\n.call base=5 " + seek + "\n.call base=5 " + resume +
           "\n.call base=5 getlasterror -> e\n.call base=5 debugprint $e\n.call base=5 " + stop + "\nforloop 1 " +
           label + "\n";
  };
  std::string applet = Applet(
      "videoseek",
      ".line 1\n.table 0 { width = 320, height = 240, color = 0, title = \"videoseek\" }\n"
      ".call base=1 createdisplay 2 r0\n.call opendisplay 2\n.call openvideo 1 " + Lit(video) +
          "\n.call exitonerror 0\n" +
          rounds("plain", "playvideo 1", "pausevideo 1", "seekvideo 1 1000", "resumevideo 1", "stopvideo 1") +
          ".call enablelayers\n.table 0 { uselayer = 1 }\n.call base=1 playvideo 1 0 0 r0\n.call stoplayer 1\n" +
          rounds("layer", "playlayer 1", "pauselayer 1", "seeklayer 1 1000", "resumelayer 1", "stoplayer 1") +
          ".call playlayer 1\n.call wait 2\n.call pauselayer 1\n.call seeklayer 1 20000\n.call wait 10\n"
          ".call getattribute 22 1 84 -> paused\n.call getattribute 22 1 18 -> at\n"
          ".call debugprint \"paused\" $paused $at\n.call stringtofile \"1\" " + Lit(dir() + "/ready") + "\n" +
          vlplayer::WaitUntilFileExists(grabbed) +
          ".call getattribute 22 1 18 -> later\n.call resumelayer 1\n.call getlasterror -> e\n"
          ".call debugprint \"later\" $later $e\n");
  std::string red, redLater;
  Result r = RunAndGrab(applet, "videoseek", [&](const std::string& window) {
    for (int i = 0; i < 600 && access((dir() + "/ready").c_str(), F_OK) != 0; ++i) Tool("sleep 0.1");
    // The mean red of a patch, once the paused frame is there.
    const std::string mean = "import -window " + window + " -crop 32x32+100+100 -format '%[fx:int(255*mean.r+0.5)]' info:";
    for (int i = 0; i < 100; ++i) {
      red = Tool(mean);
      if (std::abs(std::atoi(red.c_str()) - 200) <= 8) break;
      Tool("sleep 0.1");
    }
    Tool("sleep 0.3");
    redLater = Tool(mean);
  });
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  size_t failed = 0, lines = 0;
  for (size_t at = 0, end; (end = r.out.find('\n', at)) != std::string::npos && lines < 60; at = end + 1, ++lines)
    failed += r.out.compare(at, end - at, "0") != 0;
  EXPECT_EQ(lines, 60u);
  EXPECT_EQ(failed, 0u) << r.out;
  EXPECT_NE(r.out.find("paused 1 20000\nlater 20000 0\n"), std::string::npos) << r.out;
  EXPECT_NEAR(std::atoi(red.c_str()), 200, 8) << red;
  EXPECT_NEAR(std::atoi(redLater.c_str()), 200, 8) << redLater;
}

// InsertLayer of a video at position 2, between a red brush it covers in
// part and a blue one that covers it in part, shows the frame the video
// stands at (sought to 2 s while stopped: frame 20 of a 10 fps clip); the
// same video inserted hidden on top is a layer the window does not show.
// The window against ImageMagick's drawing of the two brushes over and
// under ffmpeg's decoding of frame 20. An applet made for 5.2 gets 1566
// and no layer.
TEST_F(Windows, InsertLayerShowsAVideosFrameAtThePositionGiven) {
  const std::string video = dir() + "/clip.avi", frame = dir() + "/frame20.png";
  int status = 0;
  Tool("ffmpeg -v error -y -f lavfi -i testsrc=size=80x60:rate=10 -t 4 -c:v rawvideo -pix_fmt bgr24 " +
           vlplayer::Quote(video) + " && ffmpeg -v error -y -i " + vlplayer::Quote(video) +
           " -vf 'select=eq(n\\,20)' -frames:v 1 " + vlplayer::Quote(frame),
       &status);
  ASSERT_EQ(status, 0);
  std::string layers;
  for (int n = 1; n <= 4; ++n)
    layers += ".call getattribute 22 " + std::to_string(n) + " 9 -> t\n.call getattribute 22 " + std::to_string(n) +
              " 10 -> v\n.call debugprint $t $v\n";
  std::string pixels;
  Result r = RunAndGrabWhenReady(
      "vidlayer",
      ".line 1\n.table 0 { width = 160, height = 120, color = 0, title = \"vidlayer\" }\n"
      ".call base=1 createdisplay 2 r0\n.call opendisplay 2\n.call enablelayers\n"
      ".call createbrush 1 60 40 0xFF0000\n.call createbrush 2 40 30 0x0000FF\n.call displaybrush 1 10 10\n"
      ".call displaybrush 2 100 70\n.call openvideo 1 " + Lit(video) + "\n.call seekvideo 1 2000\n"
      ".call insertlayer 2 50 1 40 30\n.call insertlayer 0 50 1 0 0 1\n" + layers,
      &pixels);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "3 1\n50 1\n3 1\n50 0\n");
  const std::string model = Tool("convert -size 160x120 xc:black -fill red -draw 'rectangle 10,10 69,49' " +
                                 vlplayer::Quote(frame) +
                                 " -geometry +40+30 -composite -fill blue -draw 'rectangle 100,70 139,99' -depth 8 rgb:-");
  ASSERT_EQ(model.size(), 160u * 120 * 3);
  ASSERT_EQ(pixels.size(), model.size());
  int wrong = 0;
  for (size_t i = 0; i < model.size(); ++i)
    if (pixels[i] != model[i] && wrong++ < 5)
      ADD_FAILURE() << "pixel " << (i / 3) % 160 << "," << (i / 3) / 160 << " channel " << i % 3 << ": "
                    << int(static_cast<unsigned char>(pixels[i])) << " not "
                    << int(static_cast<unsigned char>(model[i]));
  EXPECT_EQ(wrong, 0);

  r = Run({Applet("oldvidlayer",
                  ".line 1\n.call enablelayers\n.call openvideo 1 " + Lit(video) +
                      "\n.call exitonerror 0\n.call insertlayer 1 50 1 0 0\n.call getlasterror -> e\n"
                      ".call insertlayer 1 50 1 0 0 1\n.call getlasterror -> h\n.call getattribute 22 1 9 -> t\n"
                      ".call getlasterror -> n\n.call debugprint $e $h $n\n",
                  "revision 5 2")});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "1566 1566 1081\n");
}

// A video paused after 0.7 to 2.3 s answers the time of the frame on the
// window as its position, not that of a frame decoded or queued after it
// (it answered three frames ahead), and keeps that frame on the window.
// The clip changes colour every half second; the grab of the window and the
// colour of the half second the position falls in must agree.
// Last, sound and picture stay together across a pause of a second, and
// across a pause in which the video is sought to 1.2 s: the clip's sound
// is a tone from 1.5 s on. The recording holds the sound up to the pause
// and from there (or from the place sought) on, with no gap, loss or
// repeat: the tone starts where that puts it. Each colour change seen on
// the window (read with the recording's length so far, every few
// milliseconds) comes when the recording has reached the change's time,
// give or take a quarter of a second: the player lets the picture stray a
// frame (0.1 s) from the sound before it mends that, the file sink puts
// the sound after a dry spell up to its buffer (0.1 s) ahead, and its
// file lags what it took by its own buffering.
TEST_F(Windows, APausedVideosPositionIsThatOfTheFrameOnTheWindow) {
  const std::string clip = dir() + "/colours.avi";
  const std::vector<std::string> names = {"red", "lime", "blue", "yellow", "magenta", "cyan"};
  std::string inputs, chain;
  for (size_t i = 0; i < names.size(); ++i) {
    inputs += " -f lavfi -i color=c=" + names[i] + ":s=160x120:r=10:d=0.5";
    chain += "[" + std::to_string(i) + ":v]";
  }
  int status = 0;
  Tool("ffmpeg -v error -y" + inputs + " -f lavfi -i \"aevalsrc=0.5*sin(2*PI*440*t)*gte(t\\,1.5):s=8000:d=3\"" +
           " -filter_complex \"" + chain + "concat=n=6:v=1\" -c:v mjpeg -q:v 2 -c:a pcm_s16le -ac 1 " +
           vlplayer::Quote(clip),
       &status);
  ASSERT_EQ(status, 0);
  const std::vector<int> ticks = {35, 60, 72, 90, 115};  // 20 ms each
  std::string body = ".line 1\n.table 0 { width = 160, height = 120, color = 0, title = \"pausedat\" }\n"
                     ".call base=1 createdisplay 2 r0\n.call opendisplay 2\n.call openvideo 1 " + Lit(clip) + "\n";
  for (size_t i = 0; i < ticks.size(); ++i) {
    const std::string n = std::to_string(i);
    body += ".call playvideo 1\n.call wait " + std::to_string(ticks[i]) +
            "\n.call pausevideo 1\n.call getattribute 50 1 18 -> at\n.call debugprint $at\n.call stringtofile \"1\" " +
            Lit(dir() + "/ready" + n) + "\n" + vlplayer::WaitUntilFileExists(dir() + "/grabbed" + n, "g" + n) +
            ".call getattribute 50 1 18 -> later\n.call debugprint $later\n.call stopvideo 1\n";
  }
  const int seeks[] = {0, 1200};
  for (int seek : seeks)
    body += ".call playvideo 1\n.call wait 37\n.call pausevideo 1\n.call getattribute 50 1 18 -> at\n"
            ".call debugprint $at\n.call wait 25\n" +
            (seek ? ".call seekvideo 1 " + std::to_string(seek) + "\n" : "") + ".call wait 25\n.call resumevideo 1\n" +
            WaitForVideoEnd("end" + std::to_string(seek), 1, 250) + ".call stopvideo 1\n";
  body += ".call stringtofile \"1\" " + Lit(dir() + "/synced") + "\n";
  // The colour at the window's centre (its index, -1 none) read between
  // two lengths of the newest recording.
  struct Sample {
    size_t file;
    long before, after;
    int colour;
  };
  std::vector<Sample> samples;
  auto length = [](const std::string& file) {
    struct stat st;
    return stat(file.c_str(), &st) == 0 ? long(st.st_size) : 0L;
  };
  // The colour at the window's centre, each channel as 0 or 1.
  std::vector<std::string> seen;
  Result r = RunAndGrab(Applet("pausedat", body), "pausedat", [&](const std::string& window) {
    for (size_t i = 0; i < ticks.size(); ++i) {
      const std::string n = std::to_string(i);
      for (int k = 0; k < 600 && access((dir() + "/ready" + n).c_str(), F_OK) != 0; ++k) Tool("sleep 0.05");
      Tool("sleep 0.3");
      seen.push_back(Tool("import -window " + window +
                          " -format '%[fx:p{80,60}.r>0.5]%[fx:p{80,60}.g>0.5]%[fx:p{80,60}.b>0.5]' info:"));
      WriteFile("grabbed" + n, "");
    }
    // A window gone (the player ended early) ends the reading, not the test.
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    Display* x = XOpenDisplay(display());
    if (!x) return;
    const Window w = std::strtoul(window.c_str(), nullptr, 10);
    const unsigned rgb[] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0xFF00FF, 0x00FFFF};
    for (int k = 0, failed = 0; k < 30000 && failed < 100 && access((dir() + "/synced").c_str(), F_OK) != 0; ++k) {
      const std::vector<std::string> files = SinkFiles();
      Sample s{files.size(), files.empty() ? 0 : length(files.back()), 0, -1};
      if (XImage* image = XGetImage(x, w, 80, 60, 1, 1, AllPlanes, ZPixmap)) {
        const unsigned long pixel = XGetPixel(image, 0, 0);
        for (int c = 0; c < 6; ++c) {
          unsigned near = 0;
          for (int shift : {0, 8, 16}) near += std::abs(int(pixel >> shift & 0xFF) - int(rgb[c] >> shift & 0xFF)) < 64;
          if (near == 3) s.colour = c;
        }
        XDestroyImage(image);
        failed = 0;
      } else {
        ++failed;
      }
      s.after = files.empty() ? 0 : length(files.back());
      samples.push_back(s);
      usleep(2000);
    }
    XCloseDisplay(x);
  });
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::map<std::string, std::string> bits = {{"red", "100"},    {"lime", "010"},    {"blue", "001"},
                                                   {"yellow", "110"}, {"magenta", "101"}, {"cyan", "011"}};
  std::vector<int> at;
  for (size_t pos = 0, end; (end = r.out.find('\n', pos)) != std::string::npos; pos = end + 1)
    at.push_back(std::atoi(r.out.substr(pos, end - pos).c_str()));
  ASSERT_EQ(at.size(), 2 * ticks.size() + 2) << r.out;
  ASSERT_EQ(seen.size(), ticks.size());
  for (size_t i = 0; i < ticks.size(); ++i) {
    SCOPED_TRACE("paused after " + std::to_string(ticks[i] * 20) + " ms at " + std::to_string(at[2 * i]));
    EXPECT_EQ(at[2 * i + 1], at[2 * i]) << "the position moved while paused";
    ASSERT_LT(size_t(at[2 * i] / 500), names.size());
    EXPECT_EQ(seen[i], bits.at(names[at[2 * i] / 500]));
  }
  const std::vector<std::string> sink = SinkFiles();
  ASSERT_GE(sink.size(), 2u);
  for (size_t run = 0; run < 2; ++run) {
    const size_t file = sink.size() - 1 - run;
    const int seek = seeks[1 - run], paused = at[2 * ticks.size() + 1 - run];
    SCOPED_TRACE("paused at " + std::to_string(paused) + ", sought to " + std::to_string(seek));
    // Seconds into the recording: the tone's first loud sample, and the
    // place of a length read while it was written.
    std::ifstream in(sink[file], std::ios::binary);
    const std::string wav{std::istreambuf_iterator<char>(in), {}};
    const size_t data = wav.find("data") + 8;
    ASSERT_LT(data, wav.size());
    auto seconds = [&](long bytes) { return (double(bytes) - double(data)) / 16000; };
    double tone = -1;
    for (size_t i = data; i + 1 < wav.size() && tone < 0; i += 2)
      if (std::abs(int16_t(uint8_t(wav[i]) | uint8_t(wav[i + 1]) << 8)) > 3000) tone = seconds(long(i));
    const double skipped = seek ? (seek - paused) / 1000.0 : 0;
    EXPECT_NEAR(tone, 1.5 - skipped, 0.1) << "the sound has a gap, or lost or repeated some";
    int changes = 0;
    for (size_t k = 1; k < samples.size(); ++k) {
      const Sample &was = samples[k - 1], &now = samples[k];
      if (was.file != file + 1 || now.file != file + 1 || now.colour != was.colour + 1 || now.colour < 1) continue;
      const double change = now.colour * 0.5;
      if (change * 1000 <= seek) continue;  // shown by the seek
      const double due = change * 1000 <= paused ? change : tone + change - 1.5;
      ++changes;
      SCOPED_TRACE("the picture of " + std::to_string(change) + " s came with the recording between " +
                   std::to_string(seconds(was.before)) + " and " + std::to_string(seconds(now.after)) + " s");
      EXPECT_GE(due, seconds(was.before) - 0.25) << "late";
      EXPECT_LE(due, seconds(now.after) + 0.25) << "early";
    }
    EXPECT_GE(changes, seek ? 2 : 4);
  }
}

// The colour of a pixel of a 160 pixel wide R G B grab, as 0xRRGGBB.
unsigned GrabPixel(const std::string& p, int x, int y) {
  const size_t at = (static_cast<size_t>(y) * 160 + x) * 3;
  if (at + 3 > p.size()) return 0xDEADu;
  auto b = [&](int i) { return static_cast<unsigned>(static_cast<unsigned char>(p[at + i])); };
  return b(0) << 16 | b(1) << 8 | b(2);
}

bool Reddish(unsigned c) { return (c >> 16) > 200 && ((c >> 8) & 0xFF) < 60 && (c & 0xFF) < 60; }

}  // namespace

// Drawing over the whole window leaves out the videos that play in their
// own rectangle, as they are at the time: a paused video moved away is
// left out at its new place and painted over at its old one, a stopped one
// is painted over, and one that ended by itself (its player's thread marks
// the end) keeps its last frame.
TEST_F(Windows, DrawingLeavesOutTheVideosWhereTheyAreNow) {
  const std::string red = RedClip("red.avi", "3"), brief = RedClip("brief.avi", "0.3");
  ASSERT_FALSE(red.empty() || brief.empty());
  std::string pixels;
  Result r = RunAndGrabWhenReady(
      "overlays", ".line 1\n.table 0 { width = 160, height = 100, color = 0, title = \"overlays\" }\n"
                  ".call base=1 createdisplay 2 r0\n.call opendisplay 2\n"
                  ".call openvideo 1 " + Lit(red) + "\n.call openvideo 2 " + Lit(red) + "\n.call openvideo 3 " +
                      Lit(brief) + "\n.call playvideo 1 10 10\n.call playvideo 2 100 10\n.call playvideo 3 60 60\n" +
                      WaitForVideoEnd("brief", 3, 150) +
                      ".call pausevideo 1\n.call pausevideo 2\n.call setvideoposition 1 10 60\n"
                      ".call stopvideo 2\n.call createbrush 12 160 100 65280\n.call displaybrush 12 0 0\n"
                      ".call isvideoplaying 3 -> p\n.call debugprint \"third playing\" $p\n",
      &pixels);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("third playing 0\n"), std::string::npos) << r.out;
  ASSERT_EQ(pixels.size(), 160u * 100 * 3);
  EXPECT_EQ(GrabPixel(pixels, 2, 2), 0x00FF00u) << "around the videos";
  EXPECT_EQ(GrabPixel(pixels, 20, 20), 0x00FF00u) << "where the moved video was";
  EXPECT_TRUE(Reddish(GrabPixel(pixels, 20, 70))) << std::hex << GrabPixel(pixels, 20, 70) << " moved video";
  EXPECT_EQ(GrabPixel(pixels, 42, 70), 0x00FF00u) << "right of the moved video";
  EXPECT_EQ(GrabPixel(pixels, 110, 20), 0x00FF00u) << "where the stopped video was";
  EXPECT_TRUE(Reddish(GrabPixel(pixels, 70, 70))) << std::hex << GrabPixel(pixels, 70, 70) << " ended video";
}

// A video playing as a layer refuses a new size or place with 1517 and
// stays the script's: it plays on, and pause, seek, resume and stop act
// on its layer (the change handed the layer a hidden copy, answered 0,
// and the video read as stopped: pause 1451, stop 1516). So does one an
// InsertLayer shows. The window keeps the layer's frame at its own size
// and place, and nothing where the refused changes would have put it.
TEST_F(Windows, AVideoOnALayerRefusesANewSizeOrPlaceAndStaysTheScripts) {
  const std::string red = RedClip("red.avi", "8");
  ASSERT_FALSE(red.empty());
  std::string pixels;
  Result r = RunAndGrabWhenReady(
      "videocopy", ".line 1\n.table 0 { width = 160, height = 100, color = 0, title = \"videocopy\" }\n"
                   ".call base=1 createdisplay 2 r0\n.call opendisplay 2\n.call enablelayers\n.call exitonerror 0\n"
                   ".call openvideo 1 " + Lit(red) + "\n.table 0 { uselayer = 1 }\n"
                   ".call base=1 playvideo 1 0 0 r0\n.call wait 10\n"
                   ".call setvideosize 1 48 36\n.call getlasterror -> s\n.call setvideoposition 1 100 50\n"
                   ".call getlasterror -> m\n.call isvideoplaying 1 -> a\n.call pausevideo 1\n.call getlasterror -> e1\n"
                   ".call getattribute 22 1 84 -> lp\n.call seekvideo 1 3000\n.call getlasterror -> e2\n"
                   ".call wait 5\n.call getattribute 22 1 18 -> at\n.call resumevideo 1\n.call getlasterror -> e3\n"
                   ".call getattribute 22 1 84 -> lr\n.call stopvideo 1\n.call getlasterror -> e4\n"
                   ".call isvideoplaying 1 -> st\n.call getattribute 50 1 0 -> w\n"
                   ".call debugprint $s $m $a $e1 $lp $e2 $at $e3 $lr $e4 $st $w\n"
                   ".call openvideo 2 " + Lit(red) + "\n.call insertlayer 2 50 2 0 60\n.call getlasterror -> il\n"
                   ".call setvideosize 2 48 36\n.call getlasterror -> s\n.call setvideoposition 2 100 50\n"
                   ".call getlasterror -> m\n.call getattribute 50 2 0 -> w\n.call debugprint $il $s $m $w\n",
      &pixels);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "1517 1517 1 0 1 0 3000 0 0 0 0 32\n0 1517 1517 32\n");
  ASSERT_EQ(pixels.size(), 160u * 100 * 3);
  EXPECT_TRUE(Reddish(GrabPixel(pixels, 2, 2))) << std::hex << GrabPixel(pixels, 2, 2) << " layer";
  EXPECT_TRUE(Reddish(GrabPixel(pixels, 29, 21))) << std::hex << GrabPixel(pixels, 29, 21) << " layer";
  EXPECT_TRUE(Reddish(GrabPixel(pixels, 29, 81))) << std::hex << GrabPixel(pixels, 29, 81) << " inserted layer";
  EXPECT_EQ(GrabPixel(pixels, 40, 10), 0u) << "right of the layer";
  EXPECT_EQ(GrabPixel(pixels, 10, 30), 0u) << "below the layer";
  EXPECT_EQ(GrabPixel(pixels, 102, 52), 0u) << "where the refused move would have put it";
  EXPECT_EQ(GrabPixel(pixels, 145, 83), 0u) << "where the refused move would have put it";
}

// A script changing the display's attributes over and over while a 60 fps
// video plays on it: the video's thread replaces its queued frame all the
// while, and a change must neither bring back a frame freed since it began
// (a double free at the next drain) nor drop the queue. The video still
// shows and plays on after 20,000 changes.
TEST_F(Windows, ChangingTheDisplaysAttributesWhileAVideoPlaysKeepsItsFrameQueue) {
  const std::string red = RedClip("red60.avi", "60", "60");
  ASSERT_FALSE(red.empty());
  std::string pixels;
  Result r = RunAndGrabWhenReady(
      "videoattrs", ".line 1\n.table 0 { width = 160, height = 100, color = 0, title = \"videoattrs\" }\n"
                    ".call base=1 createdisplay 2 r0\n.call opendisplay 2\n.call openvideo 1 " + Lit(red) +
                    "\n.call playvideo 1 0 0\n.call wait 5\n.table 0 { title = \"videoattrs\" }\n"
                    "loadk 1 #0\nloadk 2 #19999\nloadk 3 #1\nbody:\n.call base=5 setdisplayattributes r0\n"
                    "forloop 1 body\n.call wait 10\n.call getattribute 50 1 18 -> a\n.call wait 25\n"
                    ".call getattribute 50 1 18 -> b\n.call isvideoplaying 1 -> p\n.call debugprint $a $b $p\n",
      &pixels);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  int a = -1, b = -1, playing = -1;
  ASSERT_EQ(std::sscanf(r.out.c_str(), "%d %d %d", &a, &b, &playing), 3) << r.out;
  EXPECT_GT(b, a + 250) << r.out;
  EXPECT_EQ(playing, 1);
  ASSERT_EQ(pixels.size(), 160u * 100 * 3);
  EXPECT_TRUE(Reddish(GrabPixel(pixels, 16, 12))) << std::hex << GrabPixel(pixels, 16, 12);
  EXPECT_EQ(GrabPixel(pixels, 100, 60), 0u);
}

// A video on a 240 x 180 display, playing or paused, follows every switch
// of the display's scaling: on (auto or layer scaling to 480 x 360) it
// shows at twice its size, off again at its own (it kept the old size:
// 120 x 90 in the doubled window, or 240 x 180 over the whole window
// after the switch-off). The window is grabbed at each step; the video is
// red, the display blue.
TEST_F(Windows, AVideoFollowsTheDisplaysScaleSwitchedOnOrOffPlayingOrPaused) {
  const std::string red = dir() + "/red.avi";
  int status = 0;
  Tool("ffmpeg -v error -y -f lavfi -i color=c=red:size=120x90:rate=25 -t 30 -c:v mjpeg -q:v 2 " +
           vlplayer::Quote(red), &status);
  ASSERT_EQ(status, 0);
  struct Step {
    std::string label;
    int width, height;  // of the window
  };
  std::vector<Step> steps;
  std::string body = ".line 1\n.table 0 { width = 240, height = 180, color = 255, title = \"scaled\" }\n"
                     ".call base=1 createdisplay 2 r0\n.call opendisplay 2\n.call openvideo 1 " + Lit(red) +
                     "\n.call playvideo 1 0 0\n.call wait 5\n";
  auto grab = [&](const std::string& label, int w, int h) {
    const std::string n = std::to_string(steps.size());
    steps.push_back({label, w, h});
    body += ".call wait 5\n.call stringtofile \"1\" " + Lit(dir() + "/ready" + n) + "\n" +
            vlplayer::WaitUntilFileExists(dir() + "/grabbed" + n, "g" + n);
  };
  for (const char* mode : {"1", "2"})
    for (bool paused : {false, true}) {
      const std::string label = std::string("mode ") + mode + (paused ? " paused" : " playing");
      if (paused) body += ".call pausevideo 1\n";
      body += ".table 0 { scalemode = " + std::string(mode) + ", scalewidth = 480, scaleheight = 360 }\n"
              ".call base=1 setdisplayattributes r0\n";
      grab(label + ", scaled", 480, 360);
      body += ".table 0 { scalemode = 0 }\n.call base=1 setdisplayattributes r0\n";
      grab(label + ", unscaled", 240, 180);
      if (paused) body += ".call resumevideo 1\n";
    }
  std::vector<std::string> grabs(steps.size());
  RunOptions options;
  options.timeoutSeconds = 90;
  options.whileRunning = [&](pid_t, const std::string& display) {
    const std::string window = vlplayer::WaitForWindow(display, "scaled");
    for (size_t n = 0; n < steps.size(); ++n) {
      const std::string ready = dir() + "/ready" + std::to_string(n);
      for (int i = 0; i < 300 && access(ready.c_str(), F_OK) != 0; ++i) Tool("sleep 0.05");
      Tool("sleep 0.3");
      if (!window.empty()) grabs[n] = Tool("timeout 20 import -window " + window + " -depth 8 rgb:-");
      WriteFile("grabbed" + std::to_string(n), "");
    }
  };
  Result r = Run({Applet("scaled", body)}, options);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  for (size_t n = 0; n < steps.size(); ++n) {
    const Step& step = steps[n];
    SCOPED_TRACE(step.label);
    const std::string& p = grabs[n];
    ASSERT_EQ(p.size(), size_t(step.width) * step.height * 3);
    auto pixel = [&](int x, int y) {
      const size_t at = (size_t(y) * step.width + x) * 3;
      return unsigned(uint8_t(p[at])) << 16 | unsigned(uint8_t(p[at + 1])) << 8 | uint8_t(p[at + 2]);
    };
    // The video covers the window's top left quarter, to within a pixel of
    // the scaled edge, and nothing else.
    const int vw = step.width / 2, vh = step.height / 2;
    for (auto [x, y] : {std::pair{2, 2}, {vw - 3, 2}, {2, vh - 3}, {vw - 3, vh - 3}, {vw / 2, vh / 2}})
      EXPECT_TRUE(Reddish(pixel(x, y))) << std::hex << pixel(x, y) << std::dec << " video at " << x << "," << y;
    for (auto [x, y] : {std::pair{vw + 2, 2}, {2, vh + 2}, {vw + 2, vh + 2}, {step.width - 3, step.height - 3}})
      EXPECT_EQ(pixel(x, y), 0x0000FFu) << std::hex << pixel(x, y) << std::dec << " display at " << x << "," << y;
  }
}

#ifdef VL_TESTVIDEO_PATH
// A decoder plug-in that takes positions in its own units (90,000 a
// second, frame k of a 10 fps clip at k x 9,000) gets every seek in those
// units and lands where the same decoder taking milliseconds does: a seek
// before PlayVideo (it got 0 and played from the start), while playing,
// and while paused (1250 arrived as 102,960, a frame early). The two play
// side by side through the same commands; the decoder's log holds what
// each seek asked, and the window, grabbed after each seek while paused,
// shows the same frame of both (frame k has red 10 k). Their sound keeps
// each decoder reading close to the place played, not at the end.
TEST_F(Windows, ADecoderInItsOwnUnitsIsSoughtWhereOneInMillisecondsIs) {
  const std::string ms = WriteFile("ms.tvid", "TVID 40 30 100 10 48000 2 1\n"),
                    units = WriteFile("units.tvid", "TVID 40 30 100 10 48000 2 11\n"), log = dir() + "/decoder.log";
  const std::vector<int> pausedSeeks = {1250, 2700, 400};
  auto each = [](const std::string& verb, const std::string& args) {
    return ".call " + verb + " 1 " + args + "\n.call " + verb + " 2 " + args + "\n";
  };
  std::string body = ".line 1\n.table 0 { width = 100, height = 30, color = 0, title = \"units\" }\n"
                     ".call base=1 createdisplay 2 r0\n.call opendisplay 2\n.call loadplugin " +
                     Lit(VL_TESTVIDEO_PATH) + "\n.table 0 { loader = \"testvideo\" }\n.call base=1 openvideo 1 " +
                     Lit(ms) + " r0\n.table 0 { loader = \"testvideo\" }\n.call base=1 openvideo 2 " + Lit(units) +
                     " r0\n" + each("seekvideo", "300") + ".call getattribute 50 2 18 -> p\n.call debugprint $p\n" +
                     ".call playvideo 1 0 0\n.call playvideo 2 50 0\n.call wait 10\n" + each("seekvideo", "1500") +
                     ".call wait 10\n" + each("pausevideo", "");
  for (size_t n = 0; n < pausedSeeks.size(); ++n) {
    const std::string k = std::to_string(n);
    body += each("seekvideo", std::to_string(pausedSeeks[n])) + ".call stringtofile \"1\" " +
            Lit(dir() + "/ready" + k) + "\n" + vlplayer::WaitUntilFileExists(dir() + "/grabbed" + k, "g" + k);
  }
  body += each("stopvideo", "");
  std::vector<std::string> grabs(pausedSeeks.size());
  RunOptions options;
  options.env = {"VL_TEST_PLUGIN_LOG=" + log};
  options.whileRunning = [&](pid_t, const std::string& display) {
    const std::string window = vlplayer::WaitForWindow(display, "units");
    for (size_t n = 0; n < grabs.size(); ++n) {
      const std::string ready = dir() + "/ready" + std::to_string(n);
      for (int i = 0; i < 300 && access(ready.c_str(), F_OK) != 0; ++i) Tool("sleep 0.05");
      Tool("sleep 0.2");
      if (!window.empty()) grabs[n] = Tool("timeout 20 import -window " + window + " -depth 8 rgb:-");
      WriteFile("grabbed" + std::to_string(n), "");
    }
  };
  Result r = Run({Applet("units", body)}, options);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "300\n");
  // The seeks each decoder was asked for, leaving out the rewinds to 0.
  std::vector<long long> asked[2];
  std::ifstream in(log);
  for (std::string line; std::getline(in, line);) {
    long long position = 0;
    unsigned unit = 0;
    if (std::sscanf(line.c_str(), "seekvideo %lld unit=%u", &position, &unit) == 2 && position != 0 && unit < 2)
      asked[unit].push_back(position);
  }
  std::vector<long long> inMs = {300, 1500}, inUnits = {27000, 135000};
  for (int at : pausedSeeks) {
    inMs.push_back(at);
    inUnits.push_back(at * 90LL);
  }
  EXPECT_EQ(asked[0], inMs);
  EXPECT_EQ(asked[1], inUnits);
  for (size_t n = 0; n < grabs.size(); ++n) {
    SCOPED_TRACE("paused seek to " + std::to_string(pausedSeeks[n]));
    ASSERT_EQ(grabs[n].size(), 100u * 30 * 3);
    const int red = (pausedSeeks[n] / 100 * 10) & 255;
    EXPECT_EQ(uint8_t(grabs[n][(15 * 100 + 5) * 3]), red) << "milliseconds";
    EXPECT_EQ(uint8_t(grabs[n][(15 * 100 + 55) * 3]), red) << "units";
  }
}
#endif

namespace {

// A line of Vera at a size in pixels as the TrueType engine lays it out,
// made with FreeType alone: the pixel size from the face's tallest glyphs
// at 100 points, the baseline from A, À, Ä and q, each glyph rendered
// without the auto-hinter (bold: emboldened by FreeType; italic: its
// outline sheared by 0.375) and placed by its advance and the pair's
// kerning in units of the em. Coverage (0..255) into a w x h picture, the
// line's top left at x, y.
std::vector<int> VeraLine(const std::string& text, bool antiAlias, int w, int h, int x, int y, int size = 24,
                          bool bold = false, bool italic = false) {
  std::vector<int> out(size_t(w) * h, 0);
  FT_Library lib = nullptr;
  FT_Face ft = nullptr;
  if (FT_Init_FreeType(&lib) || FT_New_Face(lib, (std::string(VL_FACE_DIR) + "/Vera.ttf").c_str(), 0, &ft)) {
    ADD_FAILURE() << "no Vera.ttf";
    return out;
  }
  FT_Set_Char_Size(ft, 0, 100 * 64, 72, 72);
  auto extent = [&](std::initializer_list<FT_ULong> codes, int* up, int* down) {
    *up = *down = 0;
    for (FT_ULong c : codes) {
      const FT_UInt index = FT_Get_Char_Index(ft, c);
      if (!index || FT_Load_Glyph(ft, index, FT_LOAD_RENDER | FT_LOAD_NO_AUTOHINT)) continue;
      *up = std::max(*up, ft->glyph->bitmap_top);
      *down = std::max(*down, static_cast<int>(ft->glyph->bitmap.rows) - ft->glyph->bitmap_top);
    }
  };
  std::vector<FT_ULong> all;
  for (FT_ULong c = 33; c <= 255; ++c) all.push_back(c);
  int up = 0, down = 0;
  for (FT_ULong c : all) {
    int u, d;
    extent({c}, &u, &d);
    up = std::max(up, u);
    down = std::max(down, d);
  }
  const int nominal = size * 100 / (up + down);
  FT_Set_Pixel_Sizes(ft, nominal - 1, 0);
  extent({'A', 0xC0, 0xC4, 'q'}, &up, &down);
  const int baseline = (up + size + 1 - down) / 2;
  const int64_t ppem = ft->size->metrics.x_ppem, em = ft->units_per_EM;
  int pen = x;
  for (size_t i = 0; i < text.size(); ++i) {
    const FT_UInt index = FT_Get_Char_Index(ft, static_cast<unsigned char>(text[i]));
    FT_Vector kern{0, 0};
    if (FT_HAS_KERNING(ft) && i + 1 < text.size())
      FT_Get_Kerning(ft, index, FT_Get_Char_Index(ft, static_cast<unsigned char>(text[i + 1])), FT_KERNING_UNSCALED,
                     &kern);
    if (FT_Load_Glyph(ft, index, FT_LOAD_NO_AUTOHINT)) continue;
    if (bold) FT_GlyphSlot_Embolden(ft->glyph);
    if (italic) {
      FT_Matrix shear = {0x10000, 0x6000, 0, 0x10000};
      FT_Outline_Transform(&ft->glyph->outline, &shear);
    }
    if (FT_Render_Glyph(ft->glyph, antiAlias ? FT_RENDER_MODE_NORMAL : FT_RENDER_MODE_MONO)) continue;
    const FT_Bitmap& b = ft->glyph->bitmap;
    const int gx = pen + ft->glyph->bitmap_left, gy = y + baseline - ft->glyph->bitmap_top;
    for (int r = 0; r < static_cast<int>(b.rows); ++r)
      for (int c = 0; c < static_cast<int>(b.width); ++c) {
        const int v = antiAlias ? b.buffer[r * b.pitch + c] : ((b.buffer[r * b.pitch + c / 8] >> (7 - c % 8)) & 1) * 255;
        if (v && gx + c >= 0 && gx + c < w && gy + r >= 0 && gy + r < h)
          out[size_t(gy + r) * w + gx + c] = std::max(out[size_t(gy + r) * w + gx + c], v);
      }
    const int64_t a = (int64_t{ft->glyph->metrics.horiAdvance} * 1024) / ppem - (-int64_t{kern.x} * 65536) / em;
    pen += static_cast<int>(a * nominal / 65536);
  }
  FT_Done_Face(ft);
  FT_Done_FreeType(lib);
  return out;
}

}  // namespace

// TrueType text in the window: lines drawn plain and anti-aliased in the
// player's own sans face, each matching FreeType's rendering of the face it
// was made from, laid out with its advances and kerning; bold and italic
// lines (a word and whole lines of several words, kerned across their
// blanks) are the engine's own emboldening and 0.375 slant in both modes,
// never a second, synthetic style on top (an "l" leaning 0.375 pixels a
// row, its stem as wide as FreeType's emboldened one). The built-in bitmap
// font keeps its synthetic bold (the glyph ORed one pixel right) and italic
// (rows moved right by baseline / 2 - row / 2).
TEST_F(Windows, TrueTypeTextIsFreeTypesRenderingOfTheFace) {
  // A text at 10 and, at 48 pixels, a word at kWordX.
  struct Line {
    int size, style, y, height;
    std::string text;
  };
  constexpr int kWordX = 80;
  const std::vector<Line> lines = {{24, 1, 4, 35, "AVery Hamburg 1"}, {24, 16, 38, 35, "AVery Hamburg 1"},
                                   {48, 2, 74, 60, "l"}, {48, 18, 134, 60, "l"}, {48, 4, 194, 60, "l"},
                                   {48, 20, 254, 60, "l"}, {24, 2, 314, 35, "AVery Hamburg 1"},
                                   {24, 6, 348, 35, "AVery Hamburg 1"}, {24, 18, 382, 35, "AVery Hamburg 1"},
                                   {24, 22, 416, 35, "AVery Hamburg 1"}};
  constexpr int kWinW = 320, kWinH = 474, kTopazY = 460;
  const std::string grabbed = dir() + "/grabbed";
  std::string script = ".line 1\n.table 0 { width = " + std::to_string(kWinW) + ", height = " + std::to_string(kWinH) +
                       ", color = 0, title = \"vera\" }\n.call base=1 createdisplay 2 r0\n.call opendisplay 2\n"
                       ".call setfontcolor 16777215\n";
  for (const Line& l : lines)
    script += std::string(".call setfont ") + (l.size == 24 ? "\":::default_sans\"" : "\":::default_truetype\"") +
              " " + std::to_string(l.size) + "\n.call setfontstyle 1\n.call setfontstyle " + std::to_string(l.style) +
              "\n.call textout 10 " + std::to_string(l.y) + " \"" + l.text + "\"\n" +
              (l.size == 48 ? ".call textout " + std::to_string(kWordX) + " " + std::to_string(l.y) + " \"Hamburg\"\n" : "");
  const std::string at = " " + std::to_string(kTopazY) + " \"l\"\n";
  script += ".call setfont \"topaz\" 8\n.call setfontstyle 1\n.call textout 10" + at +
            ".call setfontstyle 2\n.call textout 40" + at + ".call setfontstyle 1\n.call setfontstyle 4\n.call textout 70" +
            at;
  std::string gray;
  Result r = RunAndGrab(Applet("vera", script + vlplayer::WaitUntilFileExists(grabbed)), "vera",
                        [&](const std::string& window) { gray = Tool("import -window " + window + " -depth 8 gray:-"); });
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  ASSERT_EQ(gray.size(), size_t(kWinW) * kWinH);
  // The glyph left of kWordX at half cover: the lean of its left side
  // between its third and its third-last row, and its width at mid-height.
  struct Stem {
    double slope;
    int width;
  };
  auto firstStem = [&](const std::vector<int>& p, int h) {
    std::vector<std::pair<int, int>> rows;  // left, width
    for (int y = 0; y < h; ++y) {
      int left = -1, width = 0;
      for (int x = 0; x < kWordX; ++x)
        if (p[size_t(y) * kWinW + x] >= 128) left = left < 0 ? x : left, ++width;
      if (left >= 0) rows.push_back({left, width});
    }
    if (rows.size() < 8) return Stem{0, 0};
    const size_t n = rows.size() - 5;
    return Stem{double(rows[2].first - rows[2 + n].first) / n, rows[rows.size() / 2].second};
  };
  // Each line against its model, both cut to their ink: the place of the
  // line in the window is the text library's, the glyphs and their
  // spacing the engine's.
  std::map<int, Stem> stems;  // by style
  for (const Line& l : lines) {
    const bool antiAlias = l.style & 16, bold = l.style & 2, italic = l.style & 4;
    const int top = l.y - 4, h = l.height;
    std::vector<int> shown(size_t(kWinW) * h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < kWinW; ++x) shown[size_t(y) * kWinW + x] = static_cast<unsigned char>(gray[size_t(top + y) * kWinW + x]);
    std::vector<int> model = VeraLine(l.text, antiAlias, kWinW, h, 10, 4, l.size, bold, italic);
    if (l.size == 48) {
      const std::vector<int> word = VeraLine("Hamburg", antiAlias, kWinW, h, kWordX, 4, l.size, bold, italic);
      for (size_t i = 0; i < model.size(); ++i) model[i] = std::max(model[i], word[i]);
    }
    const std::string what = "\"" + l.text + "\" in style " + std::to_string(l.style);
    auto box = [&](const std::vector<int>& p, int* x0, int* y0, int* x1, int* y1) {
      *x0 = *y0 = 1 << 20;
      *x1 = *y1 = -1;
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < kWinW; ++x)
          if (p[size_t(y) * kWinW + x]) {
            *x0 = std::min(*x0, x), *y0 = std::min(*y0, y), *x1 = std::max(*x1, x), *y1 = std::max(*y1, y);
          }
    };
    int sx0, sy0, sx1, sy1, mx0, my0, mx1, my1;
    box(shown, &sx0, &sy0, &sx1, &sy1);
    box(model, &mx0, &my0, &mx1, &my1);
    ASSERT_GT(mx1 - mx0, 150) << "model";
    if (l.size == 48) {
      const Stem s = firstStem(shown, h), m = firstStem(model, h);
      stems[l.style] = s;
      EXPECT_NEAR(s.slope, italic ? 0.375 : 0, 0.05) << what;
      EXPECT_EQ(s.width, m.width) << what;
      if (bold) {
        const Stem plain = firstStem(VeraLine("l", antiAlias, kWinW, h, 10, 4, l.size), h);
        EXPECT_GE(m.width - plain.width, 1) << what;
        EXPECT_LE(m.width - plain.width, 3) << what;
      }
    }
    if (sx1 - sx0 != mx1 - mx0 || sy1 - sy0 != my1 - my0) {
      ADD_FAILURE() << what << ": ink " << sx1 - sx0 << " x " << sy1 - sy0 << ", FreeType's " << mx1 - mx0 << " x "
                    << my1 - my0;
      continue;
    }
    int differ = 0, ink = 0;
    for (int y = 0; y <= sy1 - sy0; ++y)
      for (int x = 0; x <= sx1 - sx0; ++x) {
        const int s = shown[size_t(sy0 + y) * kWinW + sx0 + x], m = model[size_t(my0 + y) * kWinW + mx0 + x];
        ink += m != 0;
        differ += std::abs(s - m) > 2;
      }
    EXPECT_GT(ink, 300);
    EXPECT_EQ(differ, 0) << what;
  }
  // One style in both modes: the same slant, stems within the pixel that
  // half cover and 1-bit rendering may differ by.
  EXPECT_NEAR(stems[4].slope, stems[20].slope, 0.05);
  EXPECT_LE(std::abs(stems[2].width - stems[18].width), 1);
  // The bitmap font: plain at 10, bold at 40, italic at 70; baseline 6.
  auto lit = [&](int x, int y) { return x >= 0 && static_cast<unsigned char>(gray[size_t(kTopazY + y) * kWinW + x]) >= 128; };
  int plainInk = 0;
  for (int y = 0; y < 8; ++y)
    for (int x = -4; x < 14; ++x) {
      plainInk += x >= 0 && x < 8 && lit(10 + x, y);
      EXPECT_EQ(lit(40 + x, y), lit(10 + x, y) || lit(9 + x, y)) << "bold " << x << "," << y;
      const int shift = 6 / 2 - y / 2;
      EXPECT_EQ(lit(70 + x, y), lit(10 + x - shift, y)) << "italic " << x << "," << y;
    }
  EXPECT_GT(plainInk, 6);
}

// Plain text goes from the font engine straight into the window, with the
// same pixels as the same text laid out in full (an empty word-wrap table
// sends it that way): anti-aliased and 1-bit lines of the sans face, two
// lines with leading blanks, the built-in font, and printed lines that go
// on at the cursor, over a coloured backdrop. The anti-aliased line is
// FreeType's rendering of the face blended over the backdrop. The window
// takes only the text's rectangles: marks another X client painted into it
// around the text stay.
TEST_F(Windows, PlainTextDrawsTheLaidOutPixelsAndShowsOnlyItsRectangle) {
  constexpr int kW = 460, kH = 320, kHalf = 230, kX = 10, kPrintY = 164, kBrushY = 276;
  constexpr unsigned kBack = 0x336699, kInk = 0xFFE0A0;
  struct Row {
    std::string setup, text;
    int y;
    std::string options;  // of an options table
  };
  const std::vector<Row> rows = {
      {".call setfontstyle 16\n", "AVery Tf 1", 4, ""},
      {".call setfontstyle 1\n", "Tyf fi W.7", 44, ""},
      {".call setfontstyle 16\n", "ab c\\n  de", 84, ""},
      {".call setfont \"topaz\" 8\n", "Topaz 8 text", 150, ""},
      {".call setfont \":::default_sans\" 24\n", "Gr\\xC3\\xBC\\xC3\\x9Fe \\xC3\\x96l", 226, "encoding = 1"},
  };
  struct Mark {
    int x, y;
  };
  // Between the halves, between two rows, right of the two-line text and
  // in the far corner: none inside a text's picture.
  const std::vector<Mark> marks = {{215, 10}, {20, 37}, {120, 100}, {440, 258}};
  const std::string painted = dir() + "/painted", grabbed = dir() + "/grabbed";
  std::string script = ".line 1\n.table 0 { width = " + std::to_string(kW) + ", height = " + std::to_string(kH) +
                       ", color = " + std::to_string(kBack) +
                       ", title = \"plain\" }\n.call base=1 createdisplay 2 r0\n.call opendisplay 2\n"
                       ".call makedirectory " + Lit(dir() + "/ready") + "\n" +
                       vlplayer::WaitUntilFileExists(painted, "paint") +
                       ".call setfont \":::default_sans\" 24\n.call setfontcolor " + std::to_string(kInk) + "\n";
  auto textout = [&](const std::string& options, int x, int y, const std::string& text) {
    const std::string at = std::to_string(x) + " " + std::to_string(y) + " \"" + text + "\"";
    return options.empty() ? ".call textout " + at + "\n"
                           : ".table 0 { align = #LEFT, " + options + " }\n.call base=1 textout " + at + " r0\n";
  };
  const std::string laidOut = "wordwraptable = { }";
  for (const Row& row : rows)
    script += row.setup + textout(row.options, kX, row.y, row.text) +
              textout(row.options + (row.options.empty() ? "" : ", ") + laidOut, kX + kHalf, row.y, row.text);
  // Printed: the second line starts at the left margin, the second print
  // where the first ended.
  script += ".call setfont \":::default_sans\" 24\n.call setfontstyle 16\n.call setmargins 10 200\n"
            ".call locate 10 " + std::to_string(kPrintY) + "\n.call print \"Pr\\nab\"\n.call print \"cd\"\n" +
            textout(laidOut, kX + kHalf, kPrintY, "Pr\\nabcd") +
            // Into a selected brush, then shown.
            ".call createbrush 3 " + std::to_string(kW) + " 40 " + std::to_string(kBack) + "\n.call selectbrush 3\n" +
            textout("", kX, 5, "Brush AV 9") + textout(laidOut, kX + kHalf, 5, "Brush AV 9") +
            ".call endselect\n.call displaybrush 3 0 " + std::to_string(kBrushY) + "\n.call makedirectory " + Lit(dir() + "/drawn") + "\n" +
            vlplayer::WaitUntilFileExists(grabbed, "grab");
  std::string rgb;
  vlplayer::RunOptions options;
  options.whileRunning = [&](pid_t, const std::string& display) {
    auto waitFor = [&](const std::string& path) {
      struct stat st;
      for (int i = 0; i < 400 && stat(path.c_str(), &st) != 0; ++i) usleep(50000);
    };
    waitFor(dir() + "/ready");
    const std::string window = vlplayer::WaitForWindow(display, "plain");
    // A window gone meanwhile is a failure of the grab, not the test's end.
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    if (Display* x = window.empty() ? nullptr : XOpenDisplay(display.c_str())) {
      const Window w = std::strtoul(window.c_str(), nullptr, 10);
      GC gc = XCreateGC(x, w, 0, nullptr);
      XSetForeground(x, gc, 0xFF0000);
      for (const Mark& m : marks) XFillRectangle(x, w, gc, m.x, m.y, 3, 3);
      XSync(x, False);
      XFreeGC(x, gc);
      XCloseDisplay(x);
    }
    WriteFile("painted", "");
    waitFor(dir() + "/drawn");
    if (!window.empty()) rgb = Tool("import -window " + window + " -depth 8 rgb:-");
    WriteFile("grabbed", "");
  };
  Result r = Run({Applet("plain", script)}, options);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  ASSERT_EQ(rgb.size(), size_t{kW} * kH * 3);
  auto pixel = [&](int x, int y) {
    const size_t at = (size_t(y) * kW + x) * 3;
    return unsigned(uint8_t(rgb[at])) << 16 | unsigned(uint8_t(rgb[at + 1])) << 8 | uint8_t(rgb[at + 2]);
  };
  for (const Mark& m : marks)
    for (int y = m.y; y < m.y + 3; ++y)
      for (int x = m.x; x < m.x + 3; ++x) EXPECT_EQ(pixel(x, y), 0xFF0000u) << "mark at " << x << "," << y;
  auto marked = [&](int x, int y) {
    for (const Mark& m : marks)
      if (x >= m.x && x < m.x + 3 && y >= m.y && y < m.y + 3) return true;
    return false;
  };
  // Each half against the other, pixel for pixel, and ink in every band.
  int differ = 0;
  // Ink per band: the rows', the printed lines' (ahead of the last row)
  // and the brush's.
  std::vector<int> ink(rows.size() + 2, 0);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kHalf; ++x) {
      if (marked(x, y) || marked(x + kHalf, y)) continue;
      if (pixel(x, y) != pixel(x + kHalf, y) && differ++ < 5)
        ADD_FAILURE() << std::hex << pixel(x, y) << " at " << std::dec << x << "," << y << ", laid out "
                      << std::hex << pixel(x + kHalf, y);
      if (pixel(x, y) != kBack) {
        size_t band = 0;
        for (size_t i = 0; i < rows.size(); ++i)
          if (y >= rows[i].y) band = i;
        ++ink[y >= kBrushY ? rows.size() + 1 : y >= kPrintY && y < rows.back().y ? rows.size() : band];
      }
    }
  EXPECT_EQ(differ, 0);
  for (size_t i = 0; i < ink.size(); ++i) EXPECT_GT(ink[i], 60) << "band " << i;
  // The anti-aliased line: the face's coverage blending the ink's red into
  // the backdrop's, both cut to their ink.
  constexpr int kBand = 40;
  const std::vector<int> model = VeraLine(rows[0].text, true, kHalf, kBand, kX, 4);
  int sx0 = kHalf, sy0 = kBand, sx1 = -1, sy1 = -1, mx0 = kHalf, my0 = kBand, mx1 = -1, my1 = -1;
  for (int y = 0; y < kBand; ++y)
    for (int x = 0; x < kHalf; ++x) {
      if (pixel(x, y) != kBack && !marked(x, y))
        sx0 = std::min(sx0, x), sy0 = std::min(sy0, y), sx1 = std::max(sx1, x), sy1 = std::max(sy1, y);
      if (model[size_t(y) * kHalf + x])
        mx0 = std::min(mx0, x), my0 = std::min(my0, y), mx1 = std::max(mx1, x), my1 = std::max(my1, y);
    }
  ASSERT_GT(mx1 - mx0, 80) << "model";
  ASSERT_EQ(sx1 - sx0, mx1 - mx0);
  ASSERT_EQ(sy1 - sy0, my1 - my0);
  int wrong = 0;
  for (int y = 0; y <= sy1 - sy0; ++y)
    for (int x = 0; x <= sx1 - sx0; ++x) {
      const int m = model[size_t(my0 + y) * kHalf + mx0 + x];
      const int want = 0x33 + (0xFF - 0x33) * m / 255, red = int(pixel(sx0 + x, sy0 + y) >> 16);
      wrong += std::abs(red - want) > 2;
    }
  EXPECT_EQ(wrong, 0);
}
