// Hardware brushes of a display shown through a display-adapter plug-in
// (tests/player/xadapter_plugin.cpp): drawn into, shown by layers, with
// keys, masks and alpha channels, through clip regions and read back, the
// window equals the plain display's, whose brushes are ordinary pictures.
#include <cstdio>
#include <string>

#include "tests/player/adapter_display_fixture.h"

namespace {

// The fixture, its helpers and the harness's types.
using namespace vlplayer;

// A hardware brush selected and drawn into (a box, a line, a point and
// text) and then shown: the adapter draws into its own picture through
// its entries and the window equals the plain display's, whose brush is
// an ordinary one. An adapter that does not offer drawing into its
// pictures refuses the selection.
TEST_F(AdapterDisplay, DrawingIntoAHardwareBrushGoesThroughTheAdapter) {
  const std::string applet = Applet("adapterhwdraw", AppletText(std::string(R"(.call createbrush 4 96 64 255
.call displaybrush 4 0 0
.table 0 { hardware = 1 }
.call base=1 createbrush 3 40 30 8421504 r0
.call base=1 createbrush 5 6 4 16711935 r0
.call createbrush 6 3 3 65535
.call selectbrush 3
.call cls 4210752
.call displaybrush 5 30 20
.call displaybrush 6 2 20
.call base=1 setfillstyle 1
.call box 2 2 10 6 16711680
.call line 0 29 39 0 65280
.call plot 35 25 16777215
.call setfontcolor 16776960
.call textout 14 8 "Hi"
.call endselect
.call displaybrush 3 50 30
.call box 0 50 6 6 65535
)") + kSentinel));
  const std::string plain = ShootAfterSentinel(applet, nullptr);
  ASSERT_EQ(plain.size(), kWidth * kHeight * 3u);
  auto at = [&](int x, int y) { return At(plain, x, y); };
  EXPECT_EQ(at(53, 33), std::string("\xFF\0\0", 3));
  EXPECT_EQ(at(85, 55), std::string("\xFF\xFF\xFF", 3));
  EXPECT_EQ(at(50, 59), std::string("\0\xFF\0", 3));
  EXPECT_EQ(at(2, 52), std::string("\0\xFF\xFF", 3)) << "the display drawn on after EndSelect";
  int yellow = 0;
  for (int y = 30; y < 60; ++y)
    for (int x = 50; x < 90; ++x) yellow += at(x, y) == std::string("\xFF\xFF\0", 3);
  EXPECT_GT(yellow, 5) << "the text";
  EXPECT_EQ(at(70, 57), std::string("\x40\x40\x40", 3)) << "Cls";
  EXPECT_EQ(at(81, 51), std::string("\xFF\0\xFF", 3)) << "the hardware brush shown in it";
  EXPECT_EQ(at(53, 51), std::string("\0\xFF\xFF", 3)) << "the ordinary brush shown in it";
  adapterEnv_ = {"VL_XADAPTER_COUNTS=1"};
  for (const char* owns : {"0", "1"}) {
    SCOPED_TRACE(std::string("owns every bitmap: ") + owns);
    const std::string said = SameThroughAdapter(applet, plain, owns);
    EXPECT_NE(said.find("video 40x30\n"), std::string::npos) << said;
    // Cls and the box, the point and the line; the hardware brush shown
    // in it is the adapter's own blit; the ordinary brush and the text
    // go in through the adapter's lock unless it owns them too.
    EXPECT_EQ(Calls(said, "picture fill"), 2) << said;
    EXPECT_EQ(Calls(said, "picture pixel"), 1) << said;
    EXPECT_EQ(Calls(said, "picture line"), 1) << said;
    EXPECT_EQ(Calls(said, "picture blit"), *owns == '1' ? 2 : 1) << said;
    EXPECT_EQ(Calls(said, "picture masked"), *owns == '1' ? 1 : 0) << said;
    EXPECT_EQ(Calls(said, "plain source blit modes"), *owns == '1' ? 4 : -1) << said;
  }
  // Without drawing into its pictures on offer, an ordinary brush is still
  // selected and the hardware one refused.
  const std::string refused = Applet("adapterhwrefused", R"(.line 1
.call createbrush 4 8 8 255
.call selectbrush 4
.call endselect
.call debugprint "plain"
.table 0 { hardware = 1 }
.call base=1 createbrush 3 40 30 8421504 r0
.call selectbrush 3
.call debugprint "not reached"
)");
  Result r = RunOnConsole(refused, "refused", {"VL_XADAPTER_NODRAWBRUSH=1"});
  ExpectEndedBy(r, "plain\n", "@adapterhwrefused.vls:1: Hardware brushes cannot be used here!", "not reached");
  EXPECT_NE(ReadFile(Log("refused")).find("video 40x30\n"), std::string::npos) << "a hardware brush was made";
}

// A hardware brush that a layer shows, selected in combo mode and drawn
// into (a box, a line, an ellipse): the layer keeps the picture it showed
// and the brush shown afterwards has the drawing, as on a plain display.
TEST_F(AdapterDisplay, HardwareBrushShownByALayerKeepsItsPictureThere) {
  const std::string applet = Applet("adapterhwlayer", AppletText(std::string(R"(.call enablelayers
.call createbrush 4 96 64 255
.call displaybrush 4 0 0
.table 0 { hardware = 1 }
.call base=1 createbrush 3 40 30 8421504 r0
.call displaybrush 3 50 30
.call selectbrush 3 1
.call base=1 setfillstyle 1
.call box 2 2 10 6 16711680
.call line 0 29 39 0 65280
.call ellipse 20 15 8 5 16776960
.call createbrush 6 3 3 65535
.call displaybrush 6 30 2
.call endselect
.call displaybrush 3 5 5
)") + kSentinel));
  const std::string plain = ShootAfterSentinel(applet, nullptr);
  ASSERT_EQ(plain.size(), kWidth * kHeight * 3u);
  auto at = [&](int x, int y) { return At(plain, x, y); };
  EXPECT_EQ(at(9, 9), std::string("\xFF\0\0", 3));
  EXPECT_EQ(at(33, 25), std::string("\xFF\xFF\0", 3));
  EXPECT_EQ(at(55, 34), std::string("\x80\x80\x80", 3)) << "the layer's picture";
  EXPECT_EQ(at(89, 30), std::string("\x80\x80\x80", 3)) << "the layer's picture";
  adapterEnv_ = {"VL_XADAPTER_COUNTS=1"};
  for (const char* owns : {"0", "1"}) {
    SCOPED_TRACE(std::string("owns every bitmap: ") + owns);
    const std::string said = SameThroughAdapter(applet, plain, owns);
    EXPECT_EQ(Calls(said, "picture fill"), 1) << said;
    EXPECT_EQ(Calls(said, "picture line"), 1) << said;
    // The brush shown into it in combo mode is the adapter's own blit,
    // told that the colours, mask and alpha change together.
    EXPECT_EQ(Calls(said, "plain source blit modes"), *owns == '1' ? 4 | 64 : -1) << said;
  }
}

// Hardware brushes with an alpha channel (transparent above, half opaque
// below left, opaque below right), three selected in combo mode (alpha
// modes 0, 1, 2) and one normally, and with a mask (hidden above), one in
// combo mode and one normally; each drawn into with shapes, text, a
// see-through box, a hardware brush, a prepared hardware brush with alpha,
// plain brushes with nothing, a mask and an alpha channel, and last a
// hardware brush with a transparent colour: in combo mode what is drawn
// comes with its alpha or mask (the keyed brush's key as a mask: outside
// it the target stays), normally the brush's stay. Each brush is reached three ways: selected directly, selected
// while the display is double-buffered, and as the layer that shows it
// once the brush is freed (the layer keeps the adapter's picture). The
// adapter, told the two apart by the modes, draws what the plain display
// draws.
TEST_F(AdapterDisplay, ComboAndNormalDrawingIntoAHardwareBrushWithAlpha) {
  // A hardware brush loaded with red transparent: its left half keyed.
  const std::string keyed = dir() + "/keyed.png";
  int status = 0;
  Tool("convert -size 8x8 xc:'#C08000' -fill red -draw 'rectangle 0,0 3,7' PNG24:" + vlplayer::Quote(keyed), &status);
  ASSERT_EQ(status, 0);
  std::string brushes = R"(.call base=1 setfillstyle 1
.table 0 { hardware = 1, transparency = 16711680 }
.call base=1 loadbrush 16 ")" + keyed + R"(" r0
.table 0 { hardware = 1 }
.call base=1 createbrush 7 8 6 65535 r0
.table 0 { hardware = 1, alphachannel = 1 }
.call base=1 createbrush 12 6 6 16744448 r0
.call createbrush 6 6 4 16776960
.table 0 { alphachannel = 1 }
.call base=1 createbrush 10 9 6 16711935 r0
.table 0 { mask = 1 }
.call base=1 createbrush 11 6 6 16777215 r0
.call selectmask 11
.call setmaskmode 1
.call box 0 0 3 6 0
.call endselect
.call setmaskmode 0
)";
  auto alphaBoxes = [](const char* brush, std::initializer_list<const char*> boxes) {
    std::string text = std::string(".call selectalphachannel ") + brush + "\n";
    for (const char* box : boxes) text += std::string(".call setalphaintensity ") + box + " 0\n";
    return text + ".call setalphaintensity -1\n.call endselect\n";
  };
  brushes += alphaBoxes("10", {"0\n.call box 0 0 3 6", "96\n.call box 3 0 3 6"});
  brushes += alphaBoxes("12", {"64\n.call box 0 0 3 6"});
  // Brush, selection mode and alpha mode, where it is shown, its plane.
  const char* const targets[][5] = {
      {"3", "1", "0", "2 2", "alphachannel"},  {"5", "1", "1", "34 2", "alphachannel"},
      {"8", "1", "2", "66 2", "alphachannel"}, {"13", "0", "0", "2 33", "alphachannel"},
      {"14", "1", "0", "34 33", "mask"},       {"15", "0", "0", "66 33", "mask"}};
  // The fourth way draws the hardware sources into targets of the player's
  // own (selected directly), whose mask or alpha channel takes theirs.
  const char* const ways[] = {"direct", "buffered", "layer", "software targets"};
  for (const char* way : ways) {
    SCOPED_TRACE(way);
    const bool layer = way[0] == 'l';
    const char* const hardware = way[0] == 's' ? "0" : "1";
    std::string drawing = brushes + (layer ? ".call enablelayers\n" : "") + ".call createbrush 4 96 64 255\n";
    if (layer) drawing += ".call displaybrush 4 0 0\n";
    int position = 1;
    for (const auto& t : targets) {
      drawing += std::string(".table 0 { hardware = ") + hardware + ", " + t[4] +
                 " = 1 }\n.call base=1 createbrush " + t[0] + " 30 20 8421504 r0\n";
      if (t[4][0] == 'm')
        drawing += std::string(".call selectmask ") + t[0] +
                   "\n.call setmaskmode 1\n.call box 0 0 30 10 0\n.call endselect\n.call setmaskmode 0\n";
      else
        drawing += alphaBoxes(t[0], {"0\n.call box 0 0 30 10", "128\n.call box 0 10 15 10"});
      if (way[0] == 'b') drawing += ".call begindoublebuffer\n";
      if (layer)
        drawing += std::string(".call displaybrush ") + t[0] + " " + t[3] + "\n.call freebrush " + t[0] +
                   "\n.call selectlayer " + std::to_string(++position) + " " + t[1] + " 0 " + t[2] + "\n";
      else
        drawing += std::string(".call selectbrush ") + t[0] + " " + t[1] + " " + t[2] + "\n";
      drawing += R"(.call box 2 2 6 12 16711680
.call line 0 19 29 0 65280
.call displaybrush 7 12 1
.call displaybrush 12 22 2
.call displaybrush 6 20 12
.call displaybrush 10 1 12
.call displaybrush 11 10 13
.call plot 28 18 16777215
.call ellipse 24 15 4 3 65535
.call setfontcolor 16776960
.call textout 16 1 "Hi"
.table 0 { transparency = 128 }
.call base=1 box 13 4 8 12 255 r0
.call displaybrush 16 22 12
.call endselect
)";
      if (way[0] == 'b') drawing += ".call enddoublebuffer\n";
    }
    if (!layer) {
      drawing += ".call displaybrush 4 0 0\n";
      for (const auto& t : targets) drawing += std::string(".call displaybrush ") + t[0] + " " + t[3] + "\n";
    }
    const std::string applet = Applet(std::string("adapterhwcombo") + way[0], AppletText(drawing + kSentinel));
    const std::string plain = ShootAfterSentinel(applet, nullptr);
    ASSERT_EQ(plain.size(), kWidth * kHeight * 3u);
    const std::string red("\xFF\0\0", 3), blue("\0\0\xFF", 3), greyAt128("\x40\x40\xBF", 3);
    EXPECT_EQ(At(plain, 4, 4), red) << "combo: the box made the transparent part opaque";
    EXPECT_EQ(At(plain, 4, 35), blue) << "normal: the box left it transparent";
    EXPECT_EQ(At(plain, 4, 45), std::string("\x7F\0\x7F", 3)) << "normal: red at the brush's alpha 128";
    EXPECT_EQ(At(plain, 37, 36), red) << "combo: the box showed the hidden part";
    EXPECT_EQ(At(plain, 69, 36), blue) << "normal: the box left it hidden";
    EXPECT_EQ(At(plain, 4, 17), blue) << "alpha mode 0: the alpha brush's 0 copied";
    EXPECT_EQ(At(plain, 36, 17), greyAt128) << "alpha mode 1: alpha 0 keeps the brush";
    EXPECT_EQ(At(plain, 68, 17), greyAt128) << "alpha mode 2: alpha 0 keeps the brush";
    EXPECT_EQ(At(plain, 25, 15), std::string("\xFF\xFF\0", 3)) << "combo: the keyed part kept the target";
    EXPECT_EQ(At(plain, 29, 15), std::string("\xC0\x80\0", 3)) << "combo: the rest of the keyed brush";
    // The masked brush (hidden left): in alpha modes 0 and 1 as in 2, a set
    // mask bit copies the colour and makes it opaque, a clear one keeps
    // the pixel; normally the brush's alpha 128 stays.
    const std::string white("\xFF\xFF\xFF", 3);
    for (int left : {2, 34, 66}) {
      EXPECT_EQ(At(plain, left + 14, 19), white) << "combo at " << left << ": the masked brush shown opaque";
      EXPECT_EQ(At(plain, left + 11, 19), greyAt128) << "combo at " << left << ": its hidden part kept the brush";
    }
    EXPECT_EQ(At(plain, 16, 50), std::string("\x7F\x7F\xFF", 3)) << "normal: white at the brush's alpha 128";
    EXPECT_EQ(At(plain, 13, 50), greyAt128) << "normal: the hidden part kept the brush";
    adapterEnv_ = {"VL_XADAPTER_COUNTS=1"};
    for (const char* owns : {"0", "1"}) {
      SCOPED_TRACE(std::string("owns every bitmap: ") + owns);
      // Combo blits came with their own bit, not with the bit of an
      // unprepared source (the software targets' blits are the player's).
      const std::string said = SameThroughAdapter(applet, plain, owns);
      if (*hardware == '1') {
        EXPECT_EQ(Calls(said, "plain source blit modes"), *owns == '1' ? 4 | 64 : -1) << said;
      }
    }
  }
}

// A hardware brush with a transparent colour and one with an alpha channel
// shown on the display through a clip region made from a mask, and beside
// it without one: through the region each keeps its key and its alpha, as
// the plain display's brushes keep their mask and alpha channel.
TEST_F(AdapterDisplay, HardwareBrushesKeepTheirKeyAndAlphaThroughAClipRegion) {
  const std::string keyed = dir() + "/keyed.png", shape = dir() + "/shape.png";
  int status = 0;
  Tool("convert -size 16x16 xc:'#C08000' -fill red -draw 'rectangle 0,0 7,15' PNG24:" + vlplayer::Quote(keyed),
       &status);
  ASSERT_EQ(status, 0);
  // The region: the right half of a 40 x 64 brush, its left half keyed.
  Tool("convert -size 40x64 xc:white -fill red -draw 'rectangle 0,0 19,63' PNG24:" + vlplayer::Quote(shape), &status);
  ASSERT_EQ(status, 0);
  const std::string applet = Applet("adapterhwclip", AppletText(R"(.call setfillstyle 1
.table 0 { hardware = 1, transparency = 16711680 }
.call base=1 loadbrush 16 ")" + keyed + R"(" r0
.table 0 { hardware = 1, alphachannel = 1 }
.call base=1 createbrush 12 16 16 16744448 r0
.call selectalphachannel 12
.call setalphaintensity 64
.call box 0 0 8 16
.call setalphaintensity -1
.call endselect
.table 0 { transparency = 16711680 }
.call base=1 loadbrush 11 ")" + shape + R"(" r0
.call createbrush 4 96 64 255
.call displaybrush 4 0 0
.call createclipregion 1 28 11 0 0
.call setclipregion 1
.call displaybrush 16 16 4
.call displaybrush 12 16 30
.call setclipregion nil
.call displaybrush 16 50 4
.call displaybrush 12 50 30
)" + kSentinel));
  const std::string plain = ShootAfterSentinel(applet, nullptr);
  ASSERT_EQ(plain.size(), kWidth * kHeight * 3u);
  const std::string blue("\0\0\xFF", 3), orange("\xFF\x80\0", 3);
  for (int x : {21, 53}) {
    EXPECT_EQ(At(plain, x, 6), blue) << x << ": the key";
    EXPECT_EQ(At(plain, x + 5, 6), std::string("\xC0\x80\0", 3)) << x;
    const std::string blended = At(plain, x, 32);
    EXPECT_TRUE(blended != blue && blended != orange && static_cast<unsigned char>(blended[2]) > 0x80)
        << x << ": alpha 64";
    EXPECT_EQ(At(plain, x + 5, 32), orange) << x;
  }
  EXPECT_EQ(At(plain, 18, 6), blue) << "outside the region";
  EXPECT_EQ(At(plain, 18, 32), blue) << "outside the region";
  for (const char* owns : {"0", "1"}) {
    SCOPED_TRACE(std::string("owns every bitmap: ") + owns);
    SameThroughAdapter(applet, plain, owns);
  }
}

// A hardware brush's mask (shapes hidden, shown and toggled, a brush shown
// into it) and another's alpha channel (boxes at two intensities, text)
// drawn and then shown: the adapter, asked once to prepare each picture,
// draws into their alpha bytes through the plane forms of its entries,
// and the window equals the plain display's, whose brushes keep planes of
// their own. The adapter reports which modes its entries came with.
TEST_F(AdapterDisplay, HardwareBrushMaskAndAlphaChannelAreDrawnByTheAdapter) {
  const std::string applet = Applet("adapterhwplanes", AppletText(R"(.call createbrush 4 96 64 255
.call displaybrush 4 0 0
.table 0 { hardware = 1 }
.call base=1 createbrush 3 40 30 8421504 r0
.table 0 { hardware = 1 }
.call base=1 createbrush 6 6 4 65535 r0
.call selectmask 3
.call setmaskmode 1
.call base=1 setfillstyle 1
.call box 2 2 10 6 16711680
.call line 0 29 39 0 65280
.call plot 35 25 16777215
.call displaybrush 6 20 20
.call setmaskmode 0
.call box 4 3 4 2 255
.call setmaskmode 3
.call ellipse 28 10 8 5 255
.call endselect
.call displaybrush 3 50 30
.table 0 { hardware = 1 }
.call base=1 createbrush 5 30 20 16711680 r0
.call selectalphachannel 5
.call setalphaintensity 128
.call box 0 0 15 20 255
.call setalphaintensity 64
.call box 15 0 15 10 255
.call setalphaintensity 220
.call setfontcolor 16776960
.call textout 20 11 "Hi"
.call endselect
.call displaybrush 5 4 4
.call getattribute 3 3 16 -> m
.call getattribute 3 5 17 -> a
.call debugprint $m $a
)" + std::string(kSentinel)));
  printed_ = "1 1\n";
  const std::string plain = ShootAfterSentinel(applet, nullptr);
  ASSERT_EQ(plain.size(), kWidth * kHeight * 3u);
  auto at = [&](int x, int y) { return At(plain, x, y); };
  const std::string grey("\x80\x80\x80", 3), blue("\0\0\xFF", 3);
  EXPECT_EQ(at(51, 31), grey) << "shown";
  EXPECT_EQ(at(53, 33), blue) << "hidden by the box";
  EXPECT_EQ(at(55, 33), grey) << "shown again";
  EXPECT_EQ(at(71, 51), blue) << "hidden by the brush shown into the mask";
  EXPECT_EQ(at(85, 45), blue) << "toggled by the ellipse";
  // Red over blue at alpha 128 and 64 (each channel d + ((s - d) * a >> 8)),
  // opaque below the second box.
  EXPECT_EQ(at(5, 5), std::string("\x7F\0\x7F", 3));
  EXPECT_EQ(at(20, 5), std::string("\x3F\0\xBF", 3));
  EXPECT_EQ(at(19, 14), std::string("\xFF\0\0", 3));
  adapterEnv_ = {"VL_XADAPTER_COUNTS=1"};
  for (const char* owns : {"0", "1"}) {
    SCOPED_TRACE(std::string("owns every bitmap: ") + owns);
    const std::string said = SameThroughAdapter(applet, plain, owns);
    EXPECT_EQ(Calls(said, "prepare"), 2) << said;
    EXPECT_EQ(Calls(said, "plane fill"), 4) << said;
    EXPECT_EQ(Calls(said, "plane pixel"), 1) << said;
    EXPECT_EQ(Calls(said, "plane line"), 1) << said;
    EXPECT_GE(Calls(said, "plane blit"), *owns == '1' ? 3 : 1) << said;
    EXPECT_EQ(Calls(said, "picture fill"), 0) << said;
    // The pixel forms with 2 | 4, the blits with 4 | 16 (and 1 and 8 for
    // the hardware brush shown into the mask).
    const size_t modes = said.find("\nplane modes ");
    ASSERT_NE(modes, std::string::npos) << said;
    int pixel = 0, blit = 0;
    std::sscanf(said.c_str() + modes, "\nplane modes %dx%d", &pixel, &blit);
    EXPECT_EQ(pixel, 6) << said;
    EXPECT_EQ(blit & ~(1 | 8), 4 | 16) << said;
  }
}

// A layer showing a hardware brush, its mask and then another's alpha
// channel selected by position and drawn into: the window equals the plain
// display's, where the layers' brushes are plain pictures.
TEST_F(AdapterDisplay, ALayersMaskAndAlphaChannelDrawnOnAnAdapterDisplay) {
  const std::string applet = Applet("adapterhwlayerplanes", AppletText(std::string(R"(.call enablelayers
.call createbrush 4 96 64 255
.call displaybrush 4 0 0
.table 0 { hardware = 1 }
.call base=1 createbrush 3 40 30 8421504 r0
.call displaybrush 3 50 30
.table 0 { hardware = 1 }
.call base=1 createbrush 5 30 20 16711680 r0
.call displaybrush 5 4 4
.call setmaskmode 1
.call selectmask 2 22
.call base=1 setfillstyle 1
.call box 2 2 10 6 16711680
.call endselect
.call setmaskmode 0
.call setalphaintensity 128
.call selectalphachannel 3 22
.call box 0 0 15 20 255
.call endselect
)") + kSentinel));
  const std::string plain = ShootAfterSentinel(applet, nullptr);
  ASSERT_EQ(plain.size(), kWidth * kHeight * 3u);
  const std::string grey("\x80\x80\x80", 3), blue("\0\0\xFF", 3);
  EXPECT_EQ(At(plain, 51, 31), grey);
  EXPECT_EQ(At(plain, 53, 33), blue) << "hidden by the box";
  EXPECT_EQ(At(plain, 5, 5), std::string("\x7F\0\x7F", 3)) << "red over blue at alpha 128";
  EXPECT_EQ(At(plain, 20, 5), std::string("\xFF\0\0", 3));
  for (const char* owns : {"0", "1"}) {
    SCOPED_TRACE(std::string("owns every bitmap: ") + owns);
    SameThroughAdapter(applet, plain, owns);
  }
}

// A PNG with an alpha gradient loaded as a hardware brush keeps its alpha
// wherever the player reads the adapter's picture: shown on the adapter's
// display, copied, scaled as a copy and in place, turned; by an adapter
// that scales and turns its pictures itself and by one that leaves it to
// the player, the window equals the plain display's. The blend at the
// gradient's middle is the header's rule over the PNG's own alpha
// (ImageMagick's reading).
TEST_F(AdapterDisplay, HardwareBrushKeepsItsAlphaOnEveryPath) {
  const std::string png = dir() + "/grad.png";
  int status = 0;
  Tool("convert -size 20x10 xc:red -alpha set -channel A -fx i/w +channel png32:" + vlplayer::Quote(png), &status);
  ASSERT_EQ(status, 0);
  const std::string alpha = Tool("convert " + vlplayer::Quote(png) + " -alpha extract -depth 8 gray:-", &status);
  ASSERT_EQ(alpha.size(), 200u);
  // Without layers and with them (the layers show what the brushes were
  // when shown; the changed brushes are the layers' copies).
  for (const char* layers : {"", ".call enablelayers\n"}) {
    SCOPED_TRACE(layers);
    const std::string applet = Applet("adapterhwalpha", AppletText(layers + std::string(R"(.call createbrush 4 96 64 255
.call displaybrush 4 0 0
.table 0 { loadalpha = 1, hardware = 1 }
.call base=1 loadbrush 1 ")" + png + R"(" r0
.call displaybrush 1 2 2
.call copybrush 1 2
.call displaybrush 2 30 2
.call scalebrush 2 40 20
.call displaybrush 2 2 16
.call copybrush 1 3
.call rotatebrush 3 90
.call displaybrush 3 60 2
.call scalebrush 1 40 20
.call displaybrush 1 40 40
.call getattribute 3 2 17 -> a
.call debugprint $a
)") + kSentinel));
    printed_ = "1\n";
    const std::string plain = ShootAfterSentinel(applet, nullptr);
    ASSERT_EQ(plain.size(), kWidth * kHeight * 3u);
    auto at = [&](int x, int y) { return At(plain, x, y); };
    const int a = static_cast<uint8_t>(alpha[5 * 20 + 10]);
    const std::string blended{static_cast<char>((255 * a) >> 8), 0, static_cast<char>(255 + ((-255 * a) >> 8))};
    EXPECT_EQ(at(12, 7), blended) << a;
    EXPECT_EQ(at(40, 7), blended) << "the copy";
    EXPECT_EQ(at(22, 26), blended) << "the copy scaled";
    EXPECT_EQ(at(60, 40), blended) << "scaled in place";
    for (const char* engines : {"0", "1"}) {
      SCOPED_TRACE(std::string("adapter engines: ") + engines);
      adapterEnv_ = {std::string("VL_XADAPTER_ENGINES=") + engines};
      EXPECT_EQ(Differing(plain, ShootAfterSentinel(applet, "0")), 0);
    }
  }
}

// SaveBrush of hardware brushes, one with an alpha gradient and one keyed
// (its left half red, the key): the PNGs read back through the adapter
// hold the alpha ImageMagick made and the key's colour, as the same
// brushes of the player's own are saved.
TEST_F(AdapterDisplay, SavingAHardwareBrushKeepsItsAlphaAndKey) {
  const std::string grad = dir() + "/grad.png", keyed = dir() + "/keyed.png";
  int status = 0;
  Tool("convert -size 20x10 xc:'#2060A0' -alpha set -channel A -fx i/w +channel png32:" + Quote(grad), &status);
  ASSERT_EQ(status, 0);
  Tool("convert -size 8x8 xc:'#C08000' -fill red -draw 'rectangle 0,0 3,7' PNG24:" + Quote(keyed), &status);
  ASSERT_EQ(status, 0);
  std::string text = ".line 1\n";
  for (const char* hardware : {"1", "0"}) {
    const std::string h = hardware;
    text += ".table 0 { loadalpha = 1, hardware = " + h + " }\n.call base=1 loadbrush 1 \"" + grad + "\" r0\n";
    text += ".call savebrush 1 \"" + dir() + "/grad" + h + ".png\" 1\n.call freebrush 1\n";
    text += ".table 0 { transparency = 16711680, hardware = " + h + " }\n.call base=1 loadbrush 2 \"" + keyed + "\" r0\n";
    text += ".call savebrush 2 \"" + dir() + "/keyed" + h + ".png\" 1\n.call freebrush 2\n";
  }
  const Result r = RunOnConsole(Applet("adapterhwsave", text + ".call debugprint \"saved\"\n"), "save", {});
  ASSERT_EQ(r.status, 0) << r.out;
  ASSERT_EQ(r.out, "saved\n");
  EXPECT_NE(ReadFile(Log("save")).find("video 20x10\n"), std::string::npos) << "no hardware brush was made";
  auto rgba = [&](const std::string& file) { return Tool("convert " + Quote(file) + " -depth 8 rgba:-"); };
  const std::string source = rgba(grad);
  ASSERT_EQ(source.size(), 800u);
  // Full alpha comes back exactly; partial alpha keeps its colour within
  // the rounding of premultiplied storage.
  const std::string saved = rgba(dir() + "/grad1.png");
  ASSERT_EQ(saved.size(), source.size());
  for (size_t i = 0; i < saved.size(); i += 4) {
    EXPECT_EQ(saved[i + 3], source[i + 3]) << "alpha of pixel " << i / 4;
    if (static_cast<uint8_t>(source[i + 3]) <= 128) continue;
    for (size_t c = 0; c < 3; ++c) {
      EXPECT_NEAR(static_cast<uint8_t>(saved[i + c]), static_cast<uint8_t>(source[i + c]), 2) << i / 4;
    }
  }
  EXPECT_EQ(saved, rgba(dir() + "/grad0.png")) << "the hardware brush saved as the player's own";
  const std::string key = rgba(dir() + "/keyed1.png");
  ASSERT_EQ(key.size(), 256u);
  EXPECT_EQ(key, rgba(dir() + "/keyed0.png"));
  EXPECT_EQ(key.substr(0, 4), std::string("\xFF\0\0\xFF", 4)) << "the key";
  EXPECT_EQ(key.substr(4 * 7, 4), std::string("\xC0\x80\0\xFF", 4));
}

// After ScaleBrush or RotateBrush read a hardware brush's picture back,
// the brush is the player's: GetAttribute tells it (it answers for hardware
// brushes, #ATTRHARDWARE 1 before) and InvertBrush takes it, where a brush
// still hardware is refused with 1497. CopyBrush's "display" names the
// display a hardware copy is for. With the adapter's gate shut (its word 16
// without bit 16) nothing is hardware.
TEST_F(AdapterDisplay, HardwareBrushReadBackIsThePlayersAndTheGateShutsHardwareOut) {
  const std::string applet = Applet("adapterhwback", R"(.line 1
.table 0 { hardware = 1 }
.call base=1 createbrush 1 8 8 255 r0
.call getattribute 3 1 73 -> h1
.call scalebrush 1 16 16
.call getattribute 3 1 73 -> h2
.call invertbrush 1
.table 0 { hardware = 1 }
.call base=1 createbrush 2 8 4 255 r0
.call rotatebrush 2 90
.call getattribute 3 2 73 -> h3
.call invertbrush 2
.call createbrush 5 4 4 65280
.table 0 { hardware = 1, display = 1 }
.call base=1 copybrush 5 6 r0
.call getattribute 3 6 73 -> h4
.call getattribute 3 6 85 -> d
.call debugprint $h1 $h2 $h3 $h4 $d
.table 0 { hardware = 1 }
.call base=1 createbrush 3 8 8 255 r0
.call invertbrush 3
.call debugprint "inverted"
)");
  Result r = RunOnConsole(applet, "back", {"VL_XADAPTER_DISPLAYS=1"});
  ExpectEndedBy(r, "1 0 0 1 1\n", "Hardware brushes cannot be used here!", "inverted");
  // A display that does not exist.
  std::remove(Log("back").c_str());
  const std::string missing = Applet("adapterhwnodisplay", R"(.line 1
.call createbrush 5 4 4 65280
.table 0 { hardware = 1, display = 7 }
.call base=1 copybrush 5 6 r0
)");
  Result m = RunOnConsole(missing, "back", {"VL_XADAPTER_DISPLAYS=1"});
  EXPECT_EQ(m.status, 1);
  EXPECT_NE(m.out.find("Could not find display 7!"), std::string::npos) << m.out;
  // A hardware brush and its mask are drawn into, not read (ReadPixel).
  for (const std::string select : {"selectmask", "selectbrush"}) {
    const std::string unread = Applet("adapterhwread" + select, R"(.line 1
.table 0 { hardware = 1 }
.call base=1 createbrush 3 8 8 255 r0
.call )" + select + R"( 3
.call plot 1 1
.call debugprint "drawn"
.call readpixel 1 1
.call debugprint "read"
)");
    ExpectEndedBy(RunOnConsole(unread, "back", {}), "drawn\n", "Wrong usage/parameters for this command!", "read\n");
  }
  // The gate shut: no video bitmap is asked for, every brush is ordinary.
  std::remove(Log("back").c_str());
  r = RunOnConsole(applet, "back", {"VL_XADAPTER_DISPLAYS=1", "VL_XADAPTER_NOGATE=1"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, "0 0 0 0 -1\ninverted\n");
  EXPECT_EQ(ReadFile(Log("back")).find("video "), std::string::npos) << ReadFile(Log("back"));
}

}  // namespace
