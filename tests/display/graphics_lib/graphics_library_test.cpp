// The graphics library driven by assembled scripts on a private X server:
// colour arithmetic, the constants it registers, GetAttribute across
// object types, clip regions limiting what a brush draws, pointer images
// and refresh suspension.
#include "tests/display/core/display_fixture.h"

#include <X11/extensions/Xfixes.h>

#include <cstdio>
#include <dlfcn.h>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

#include "display/graphics_library/graphics_library.h"
#include "display/graphics_library/graphics_state.h"
#include "display/layers/clip_regions.h"
#include "display/commands/layers_library.h"
#include "display/layers/layers.h"
#include "graphics/bitmap.h"
#include "objects/brushes/brush.h"
#include "runtime/errors.h"
#include "vm/constants.h"
#include "vm/error_codes.h"
#include "vm/value.h"

namespace {

class GraphicsLibTest : public vltest::DisplayTest {
 protected:
  void SetUp() override {
    DisplayTest::SetUp();
    if (!started_) return;
    ASSERT_EQ(OpenGraphicsLib(L), 0);
    ASSERT_EQ(OpenBrushLib(L), 0);
  }
  void TearDown() override {
    if (started_) {
      FreeGraphicsObjects(L);
      FreeBrushLib(L);
      vlRefreshSuspended = 0;
    }
    DisplayTest::TearDown();
  }
  // An open 100 x 80 display 1, current, black.
  void MakeDisplay() {
    ASSERT_EQ(Run(".table 0 { width = 100, height = 80, color = 0 }\n"
                  ".call base=1 createdisplay 1 r0\n.call opendisplay 1\n.call selectdisplay 1"),
              0);
  }
  uint32_t OutputPixel(int x, int y) { return WindowPixel(CurrentDisplay(), x, y); }
  // The cursor the server shows with the pointer inside the display's
  // window: its size, hot spot and the sum of its pixels.
  std::string CursorOver(vlDisplay* d) {
    static auto get = reinterpret_cast<XFixesCursorImage* (*)(Display*)>(
        dlsym(dlopen("libXfixes.so.3", RTLD_LAZY), "XFixesGetCursorImage"));
    if (!get || !d->window) return "none";
    XSync(d->window->display, False);
    XWarpPointer(probe_, None, d->window->window, 0, 0, 0, 0, 20, 20);
    XSync(probe_, False);
    XFixesCursorImage* c = get(probe_);
    if (!c) return "none";
    unsigned long sum = 0;
    for (int i = 0; i < c->width * c->height; i++) sum += c->pixels[i] & 0xFFFFFFFFu;
    std::string text = std::to_string(c->width) + "x" + std::to_string(c->height) + "@" + std::to_string(c->xhot) +
                       "," + std::to_string(c->yhot) + ":" + std::to_string(sum);
    XFree(c);
    return text;
  }
};

TEST_F(GraphicsLibTest, ColourArithmetic) {
  ASSERT_EQ(Run(".call rgb 255 0 0 -> a\n.call red 1193046 -> b\n.call green 1193046 -> c\n"
                ".call blue 1193046 -> d\n.call mixrgb 0 16777215 128 -> e\n.call argb 128 255 -> f\n"
                ".call rgb 0 256 0 -> g\n.call mixrgb 16711680 255 0 -> h"),
            0);
  EXPECT_EQ(Num("a"), 0xFF0000);
  EXPECT_EQ(Num("b"), 0x12);
  EXPECT_EQ(Num("c"), 0x34);
  EXPECT_EQ(Num("d"), 0x56);
  EXPECT_EQ(Num("e"), 0x7F7F7F);
  EXPECT_EQ(Num("f"), 0x800000FFu);
  // No clamping: 256 green spills into red.
  EXPECT_EQ(Num("g"), 0x010000);
  EXPECT_EQ(Num("h"), 0xFF0000);
  EXPECT_EQ(Run(".call mixrgb 0 255 256"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call mixrgb 0 255 -1"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call red"), ERR_MISSINGPARAMTR);
  // The reference's examples: the ratio defaults to 255, which stops one
  // step short of a higher channel and reaches a lower one.
  ASSERT_EQ(Run(".call mixrgb 0 16777215 -> a\n.call mixrgb 0 255 255 -> b\n.call mixrgb 16777215 0 255 -> c"), 0);
  EXPECT_EQ(Num("a"), 0xFEFEFE);
  EXPECT_EQ(Num("b"), 0xFE);
  EXPECT_EQ(Num("c"), 0);
}

TEST_F(GraphicsLibTest, RandomColoursComeFromTwelveBitTable) {
  int distinct = 0;
  uint32_t first = 0;
  for (int i = 0; i < 200; ++i) {
    ASSERT_EQ(Run(".call getrandomcolor -> c"), 0);
    uint32_t v = static_cast<uint32_t>(Num("c"));
    ASSERT_LE(v, 0xFFFFFFu);
    for (int shift : {0, 8, 16}) ASSERT_EQ(((v >> shift) & 0xFF) % 17, 0u) << std::hex << v;
    if (i == 0) first = v;
    else if (v != first) ++distinct;
  }
  EXPECT_GT(distinct, 0);
}

TEST_F(GraphicsLibTest, FrameRateLimitAndIntersection) {
  ASSERT_EQ(Run(".call getfpslimit -> a\n.call setfpslimit 25\n.call getfpslimit -> b\n"
                ".call setfpslimit 0\n.call getfpslimit -> c"),
            0);
  EXPECT_EQ(Num("a"), 60);
  EXPECT_EQ(Num("b"), 25);
  EXPECT_EQ(Num("c"), 60);
  ASSERT_EQ(Run(".call intersection 0 0 100 100 50 60 100 100 -> x y w h\n"
                ".call intersection 0 0 10 10 10 0 10 10 -> p q r s"),
            0);
  EXPECT_EQ(Num("x"), 50);
  EXPECT_EQ(Num("y"), 60);
  EXPECT_EQ(Num("w"), 50);
  EXPECT_EQ(Num("h"), 40);
  // Touching edges do not overlap.
  EXPECT_EQ(Num("p"), 0);
  EXPECT_EQ(Num("r"), 0);
  EXPECT_EQ(Num("s"), 0);
}

TEST_F(GraphicsLibTest, RegisteredConstants) {
  auto constant = [&](const char* name) {
    const char* text = nullptr;
    double n = -12345;
    return vl::FindConstant(L, name, &text, &n) ? n : -12345.0;
  };
  EXPECT_EQ(constant("CENTER"), -100000);
  EXPECT_EQ(constant("BOTTOMOUT"), -20000);
  EXPECT_EQ(constant("ATTRWIDTH"), 0);
  EXPECT_EQ(constant("ATTRCOUNT"), 60);
  EXPECT_EQ(constant("ATTRLOADER"), 91);
  EXPECT_EQ(constant("MENU"), 57);
  EXPECT_EQ(constant("SHAPE"), 28);
  EXPECT_EQ(constant("NOCOLOR"), 4294967295.0);
  EXPECT_EQ(constant("IMGFMT_ILBM"), 4);
  EXPECT_EQ(constant("VIDDRV_VELLAMORA"), 1);
}

TEST_F(GraphicsLibTest, ClipRegionCutAtTheEdgeAndLimitsDrawing) {
  MakeDisplay();
  ASSERT_EQ(Run(".call createclipregion 1 14 -10 5 50 20\n"
                ".call getattribute 35 1 7 -> x\n.call getattribute 35 1 0 -> w\n"
                ".call getattribute 35 1 8 -> y\n.call getattribute 35 1 1 -> h"),
            0);
  EXPECT_EQ(Num("x"), 0);
  EXPECT_EQ(Num("w"), 40);
  EXPECT_EQ(Num("y"), 5);
  EXPECT_EQ(Num("h"), 20);

  ASSERT_EQ(Run(".call createbrush 1 100 80 16711680\n.call createclipregion 2 14 10 10 20 20\n"
                ".call setclipregion 2\n.call displaybrush 1 0 0"),
            0);
  EXPECT_EQ(OutputPixel(15, 15), 0xFF0000u);
  EXPECT_EQ(OutputPixel(10, 10), 0xFF0000u);
  EXPECT_EQ(OutputPixel(29, 29), 0xFF0000u);
  EXPECT_EQ(OutputPixel(9, 15), 0u);
  EXPECT_EQ(OutputPixel(30, 15), 0u);
  EXPECT_EQ(OutputPixel(15, 30), 0u);
  EXPECT_EQ(CurrentDisplay()->marginLeft, 10);
  EXPECT_EQ(CurrentDisplay()->marginRight, 29);

  // Nil removes the region: the whole output is drawn again.
  ASSERT_EQ(Run(".call setclipregion nil\n.call displaybrush 1 0 0"), 0);
  EXPECT_EQ(OutputPixel(50, 50), 0xFF0000u);
  EXPECT_EQ(CurrentDisplay()->marginRight, 99);
}

TEST_F(GraphicsLibTest, ClipRegionErrors) {
  MakeDisplay();
  EXPECT_EQ(Run(".call createclipregion 1 14 90 0 20 20\n.call setclipregion 1"), ERR_WRONGCLIPREG);
  EXPECT_EQ(Run(".call setclipregion 7"), ERR_FINDCLIPREGION);
  EXPECT_EQ(Run(".call freeclipregion 7"), ERR_FINDCLIPREGION);
  EXPECT_EQ(Run(".call createclipregion 2 14 -60 0 50 10"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call createclipregion 2 99 0 0 50 10"), ERR_WRONGUSAGE);
  ASSERT_EQ(Run(".call createbrush 5 8 8 255"), 0);
  EXPECT_EQ(Run(".call createclipregion 2 28 5 0 0"), ERR_NOMASKBRUSH);
  // The count is answered without looking the id up.
  ASSERT_EQ(Run(".call createclipregion 3 14 0 0 5 5\n.call getattribute 35 12345 60 -> n"), 0);
  EXPECT_EQ(Num("n"), 2);
  // Re-using a number replaces the region.
  ASSERT_EQ(Run(".call createclipregion 3 14 1 1 6 6\n.call getattribute 35 0 60 -> n\n"
                ".call getattribute 35 3 0 -> w"),
            0);
  EXPECT_EQ(Num("n"), 2);
  EXPECT_EQ(Num("w"), 6);
}

TEST_F(GraphicsLibTest, RegionFreedUnderALayerLivesUntilTheLayerGoes) {
  MakeDisplay();
  ASSERT_EQ(OpenLayersLib(L), 0);
  ASSERT_EQ(Run(".call enablelayers\n.call createbrush 1 30 30 255\n.call createclipregion 1 14 0 0 20 20\n"
                ".call setclipregion 1\n.call displaybrush 1 0 0\n.call freeclipregion 1\n"
                ".call getattribute 35 0 60 -> n"),
            0);
  // Kept, unnamed, for the layer that draws through it; no longer one of
  // the script's regions.
  EXPECT_EQ(Num("n"), 0);
  ASSERT_NE(gGraphicsState.clipRegions, nullptr);
  EXPECT_EQ(Run(".call getattribute 35 1 0"), ERR_FINDCLIPREGION);
  EXPECT_EQ(OutputPixel(10, 10), 0x0000FFu);
  EXPECT_EQ(OutputPixel(25, 25), 0u);
  ASSERT_EQ(Run(".call removelayer 1"), 0);
  EXPECT_EQ(gGraphicsState.clipRegions, nullptr);
  ShutdownLayerSystem(L);
}

TEST_F(GraphicsLibTest, MaskRegionOwnsItsMask) {
  MakeDisplay();
  // A region made from a brush mask keeps working after the brush is freed.
  ASSERT_EQ(Run(".table 0 { mask = 1 }\n.call base=1 createbrush 1 20 20 255 r0\n"
                ".call createclipregion 4 28 1 10 10\n.call freebrush 1\n"
                ".call createbrush 2 100 80 65280\n.call setclipregion 4\n.call displaybrush 2 0 0\n"
                ".call getattribute 35 4 0 -> w"),
            0);
  EXPECT_EQ(Num("w"), 20);
  EXPECT_EQ(OutputPixel(15, 15), 0x00FF00u);
  EXPECT_EQ(OutputPixel(5, 5), 0u);
  EXPECT_EQ(OutputPixel(31, 31), 0u);
  // A wide alpha brush needs more than the region's first scratch bytes,
  // a masked one after it reuses them: both keep to the region's shape.
  ASSERT_EQ(Run(".table 0 { alphachannel = 1 }\n.call base=1 createbrush 3 9000 80 255 r0\n"
                ".table 0 { mask = 1 }\n.call base=1 createbrush 5 9000 80 16711680 r0\n"
                ".call displaybrush 3 0 0\n"),
            0);
  EXPECT_EQ(OutputPixel(15, 15), 0x0000FFu);
  EXPECT_EQ(OutputPixel(5, 5), 0u);
  EXPECT_EQ(OutputPixel(31, 31), 0u);
  ASSERT_EQ(Run(".call displaybrush 5 -100 0\n"), 0);
  EXPECT_EQ(OutputPixel(15, 15), 0xFF0000u);
  EXPECT_EQ(OutputPixel(5, 5), 0u);
  EXPECT_EQ(OutputPixel(40, 20), 0u);
}

TEST_F(GraphicsLibTest, AttributesOfSeveralTypes) {
  MakeDisplay();
  ASSERT_EQ(Run(".call createbrush 3 12 7 255\n"
                ".call getattribute 3 3 0 -> bw\n.call getattribute 3 3 1 -> bh\n"
                ".call getattribute 3 3 16 -> mask\n.call getattribute 3 0 60 -> brushes\n"
                ".call getattribute 21 1 0 -> dw\n.call getattribute 21 1 42 -> mode\n"
                ".call getattribute 21 1 51 -> title\n.call getattribute 1 0 60 -> pics"),
            0);
  EXPECT_EQ(Num("bw"), 12);
  EXPECT_EQ(Num("bh"), 7);
  EXPECT_EQ(Num("mask"), 0);
  EXPECT_EQ(Num("brushes"), 1);
  EXPECT_EQ(Num("dw"), 100);
  EXPECT_EQ(Num("mode"), 1);
  EXPECT_EQ(vltest::GlobalString(L, "title"), "Vellamora");
  EXPECT_GE(Num("pics"), 1);
  EXPECT_EQ(Run(".call getattribute 3 3 5000"), ERR_UNKNOWNATTR);
  EXPECT_EQ(Run(".call getattribute 3 9 0"), ERR_FINDBRUSH);
  EXPECT_EQ(Run(".call getattribute 35 9 0"), ERR_FINDCLIPREGION);
  EXPECT_EQ(Run(".call getattribute 22 1 0"), ERR_NOLAYERS);
  EXPECT_EQ(Run(".call getattribute 40 \"nosuchevent\" 58"), ERR_UNKNOWNTAG);
  EXPECT_STREQ(GetErrorArgument(), "nosuchevent");
  ASSERT_EQ(Run(".call getattribute 40 \"OnKeyDown\" 58 -> f"), 0);
  EXPECT_EQ(Num("f"), 0);
  // A plug-in type number that nobody registered.
  EXPECT_EQ(Run(".call getattribute 99 1 0"), ERR_WRONGUSAGE);
}

TEST_F(GraphicsLibTest, PointerImagesFromBrushes) {
  MakeDisplay();
  ASSERT_EQ(Run(".call createbrush 1 16 12 16711680\n.call createpointer 1 3 1\n"
                ".call getattribute 36 1 0 -> w\n.call getattribute 36 1 9 -> kind\n"
                ".call createpointer 2 36 1\n.call getattribute 36 2 9 -> busy"),
            0);
  EXPECT_EQ(Num("w"), 16);
  EXPECT_EQ(Num("kind"), 2);
  EXPECT_EQ(Num("busy"), 1);
  auto* p = static_cast<vlPointerImage*>(nullptr);
  ASSERT_EQ(GetPointerImageByID({1, nullptr}, &p), 0);
  EXPECT_EQ(p->hotX, 8);  // -1 means the centre
  EXPECT_EQ(p->hotY, 6);
  EXPECT_NE(p->cursor, nullptr);
  EXPECT_EQ(p->picture, nullptr);
  // While the screen is recorded the record keeps a copy of the picture
  // and its mask, which outlives the brush and goes with the pointer.
  vlRecordingScreen = 1;
  ASSERT_EQ(Run(".table 0 { mask = 1 }\n.call base=1 createbrush 5 6 4 65280 r0\n.call createpointer 5 3 5\n"
                ".call freebrush 5"),
            0);
  vlRecordingScreen = 0;
  vlPointerImage* kept = nullptr;
  ASSERT_EQ(GetPointerImageByID({5, nullptr}, &kept), 0);
  ASSERT_NE(kept->picture, nullptr);
  EXPECT_EQ(kept->picture->width, 6);
  EXPECT_EQ(kept->picture->height, 4);
  EXPECT_EQ(ReadBitmapPixel(kept->picture, 5, 3, 0) & 0xFFFFFF, 0x00FF00u);
  ASSERT_NE(kept->mask, nullptr);
  EXPECT_EQ(kept->alpha, nullptr);
  EXPECT_NE(kept->cursor, nullptr);
  ASSERT_EQ(Run(".call freepointer 5"), 0);
  EXPECT_EQ(Run(".call createpointer 3 36 2"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call createpointer 3 99 2"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call setpointer 9"), ERR_FINDPOINTER);

  // A pointer a display shows survives FreePointer, unnamed, until the
  // next SetPointer.
  ASSERT_EQ(Run(".call setpointer 1\n.call freepointer 1"), 0);
  EXPECT_EQ(CurrentDisplay()->pointer, p);
  EXPECT_EQ(Run(".call getattribute 36 1 0"), ERR_FINDPOINTER);
  // Its id is free again: a new pointer 1 is the one found.
  ASSERT_EQ(Run(".call createpointer 1 36 1\n.call getattribute 36 1 9 -> again"), 0);
  EXPECT_EQ(Num("again"), 1);
  EXPECT_EQ(CurrentDisplay()->pointer, p);
  ASSERT_EQ(Run(".call setpointer 2"), 0);
  ASSERT_EQ(Run(".call getattribute 36 0 60 -> n\n.call getattribute 36 1 9 -> still"), 0);
  EXPECT_EQ(Num("n"), 2);
  EXPECT_EQ(Num("still"), 1);
  // A window made again (a new "sizeable") shows the display's pointer,
  // as the server reports it with the pointer over the window.
  const std::string busy = CursorOver(CurrentDisplay());
  ASSERT_EQ(Run(".table 0 { sizeable = 1 }\n.call base=1 setdisplayattributes r0"), 0);
  EXPECT_EQ(CursorOver(CurrentDisplay()), busy);
  ASSERT_EQ(Run(".call createpointer 3 36 0\n.call setpointer 3"), 0);
  EXPECT_NE(CursorOver(CurrentDisplay()), busy);
}

TEST_F(GraphicsLibTest, RefreshSuspension) {
  MakeDisplay();
  // Nothing blocks direct drawing: BeginRefresh without force does nothing.
  ASSERT_EQ(Run(".call beginrefresh"), 0);
  EXPECT_EQ(vlRefreshSuspended, 0);
  ASSERT_EQ(Run(".call beginrefresh 1"), 0);
  EXPECT_EQ(vlRefreshSuspended, 1);
  EXPECT_EQ(Run(".call beginrefresh 1"), ERR_WRONGUSAGE);
  ASSERT_EQ(Run(".call endrefresh"), 0);
  EXPECT_EQ(vlRefreshSuspended, 0);
  CurrentDisplay()->outputType = VL_OUTPUT_MASK;
  EXPECT_EQ(Run(".call beginrefresh 1"), ERR_SELECTMASK);
  CurrentDisplay()->outputType = VL_OUTPUT_DISPLAY;
}

std::vector<uint8_t> FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

TEST_F(GraphicsLibTest, SnapshotOfTheDisplayIsReadBackByImageMagick) {
  MakeDisplay();
  // The snapshot renders the BGPic with its layers: the brush is one.
  ASSERT_EQ(OpenLayersLib(L), 0);
  ASSERT_EQ(Run(".call enablelayers\n.call createbrush 1 30 20 16711680\n.call displaybrush 1 10 5"), 0);
  const std::string dir = testing::TempDir() + std::to_string(getpid());
  const std::string png = dir + "snap.png", bmp = dir + "snap.bmp", raw = dir + "snap.rgb";
  ASSERT_EQ(Run(".call savesnapshot \"" + png + "\" 1 1\n.call savesnapshot \"" + bmp + "\" 1"), 0);
  ASSERT_EQ(std::system(("convert '" + png + "' -depth 8 rgb:'" + raw + "'").c_str()), 0);
  std::vector<uint8_t> rgb = FileBytes(raw);
  ASSERT_EQ(rgb.size(), 100u * 80u * 3u);
  auto at = [&](int x, int y) {
    const uint8_t* p = &rgb[(static_cast<size_t>(y) * 100 + x) * 3];
    return (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
  };
  EXPECT_EQ(at(10, 5), 0xFF0000u);
  EXPECT_EQ(at(39, 24), 0xFF0000u);
  EXPECT_EQ(at(40, 24), 0u);
  EXPECT_EQ(at(9, 5), 0u);
  // The built-in BMP writer: 54-byte header and 300-byte bottom-up rows.
  std::vector<uint8_t> b = FileBytes(bmp);
  ASSERT_EQ(b.size(), 54u + 300u * 80u);
  EXPECT_EQ(b[0], 'B');
  EXPECT_EQ(b[28], 24);
  const size_t row = 54 + static_cast<size_t>(79 - 5) * 300 + 10 * 3;  // (10, 5), stored B, G, R
  EXPECT_EQ(b[row], 0);
  EXPECT_EQ(b[row + 2], 255);
  EXPECT_EQ(Run(".call savesnapshot \"" + png + "\" 3"), ERR_WRONGUSAGE);
  EXPECT_EQ(Run(".call savesnapshot \"" + png + "\" 1 77"), ERR_UNKNOWNIMGOUT);
  std::remove(png.c_str());
  std::remove(bmp.c_str());
  std::remove(raw.c_str());
  ShutdownLayerSystem(L);
}

// With layers off (the default) what was drawn since the BGPic is part of
// the snapshot: a brush and a box on the black BGPic.
TEST_F(GraphicsLibTest, SnapshotWithoutLayersHoldsWhatWasDrawn) {
  MakeDisplay();
  const std::string dir = testing::TempDir() + std::to_string(getpid());
  const std::string png = dir + "plain.png", raw = dir + "plain.rgb";
  ASSERT_EQ(Run(".call createbrush 1 30 20 16711680\n.call displaybrush 1 10 5\n"
                ".call savesnapshot \"" + png + "\" 1 1"),
            0);
  ASSERT_EQ(std::system(("convert '" + png + "' -depth 8 rgb:'" + raw + "'").c_str()), 0);
  std::vector<uint8_t> rgb = FileBytes(raw);
  ASSERT_EQ(rgb.size(), 100u * 80u * 3u);
  auto at = [&](int x, int y) {
    const uint8_t* p = &rgb[(static_cast<size_t>(y) * 100 + x) * 3];
    return (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
  };
  EXPECT_EQ(at(10, 5), 0xFF0000u);
  EXPECT_EQ(at(39, 24), 0xFF0000u);
  EXPECT_EQ(at(40, 24), 0u);
  std::remove(png.c_str());
  std::remove(raw.c_str());
}

TEST_F(GraphicsLibTest, DrawTagDefaultsApplyToLaterCommands) {
  MakeDisplay();
  ASSERT_EQ(Run(".call createbrush 1 4 4 65280"), 0);
  // Scaled by two through the defaults alone.
  ASSERT_EQ(Run(".table 0 { scalex = 2, scaley = 2 }\n.call base=1 setdrawtagsdefault r0\n"
                ".call displaybrush 1 0 0"),
            0);
  EXPECT_EQ(OutputPixel(7, 7), 0x00FF00u);
  EXPECT_EQ(OutputPixel(8, 8), 0u);
  // A bad table changes nothing.
  EXPECT_EQ(Run(".table 0 { scalex = 1, anchorx = 5 }\n.call base=1 setdrawtagsdefault r0"), ERR_WRONGUSAGE);
  ASSERT_EQ(Run(".call displaybrush 1 50 50"), 0);
  EXPECT_EQ(OutputPixel(57, 57), 0x00FF00u);
  // Explicit tags still win, and the defaults can be set back.
  ASSERT_EQ(Run(".table 0 { scalex = 1, scaley = 1 }\n.call base=1 setdrawtagsdefault r0\n"
                ".call displaybrush 1 20 50"),
            0);
  EXPECT_EQ(OutputPixel(23, 53), 0x00FF00u);
  EXPECT_EQ(OutputPixel(24, 54), 0u);
  // A shadow that the defaults turn on is turned off by one command's
  // tags, and by the defaults again.
  ASSERT_EQ(OpenLayersLib(L), 0);
  ASSERT_EQ(Run(".call enablelayers\n.table 0 { shadow = 1, shadowcolor = 16711680, shadowsize = 3, shadowdir = 3 }\n"
                ".call base=1 setdrawtagsdefault r0\n.call displaybrush 1 60 10\n"
                ".table 0 { shadow = 0 }\n.call base=1 displaybrush 1 80 10 r0"),
            0);
  EXPECT_NE(OutputPixel(65, 15), 0u);  // under the first brush's shadow
  EXPECT_EQ(OutputPixel(85, 15), 0u);
  ASSERT_EQ(Run(".table 0 { shadow = 0 }\n.call base=1 setdrawtagsdefault r0\n.call displaybrush 1 60 30"), 0);
  EXPECT_EQ(OutputPixel(65, 35), 0u);
}

}  // namespace
