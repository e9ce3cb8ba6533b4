// More effect families drawn into a layer's own picture: the window read
// back at chosen frames against coverage computed by hand from the
// family's geometry, on covered layers and on displays that scale their
// output.
#include <cstdlib>
#include <string>
#include <vector>

#include "display/bgpic.h"
#include "display/layers/layers.h"
#include "graphics/bitmap.h"
#include "tests/transitions/engine/fx_display_test.h"

namespace {

constexpr uint32_t kGrey = 0x808080u;
constexpr uint32_t kBlue = 0x0000FFu;
constexpr uint32_t kGreen = 0x00FF00u;

class LayeredFamilies : public vltest::FxDisplayTest {
 protected:
  // A display of w x h, its output scaled by scale.
  vlDisplay* Open(int w, int h, int scale = 1) {
    const std::string size = std::to_string(w) + " " + std::to_string(h);
    std::string table = ".table 0 { bgpic = 1";
    if (scale > 1)
      table += ", scalemode = 1, scalewidth = " + std::to_string(w * scale) +
               ", scaleheight = " + std::to_string(h * scale);
    EXPECT_EQ(Run(".call createbgpic 1 " + size + " 8421504\n" + table +
                  " }\n.call base=1 createdisplay 1 r0\n.call opendisplay 1\n.call enablelayers"),
              0);
    scale_ = scale;
    return GetDisplayByNumber(1);
  }
  vlLayer* AddBox(int x, int y, int w, int h, uint32_t color, bool hidden = false) {
    return AddPicture(x, y, w, h, [color](int, int) { return color; }, hidden);
  }
  // A layer showing a picture whose pixels color(x, y) gives.
  template <typename F>
  vlLayer* AddPicture(int x, int y, int w, int h, F color, bool hidden = false) {
    std::vector<uint32_t> argb(static_cast<size_t>(w) * h);
    for (int yy = 0; yy < h; ++yy)
      for (int xx = 0; xx < w; ++xx) argb[static_cast<size_t>(yy) * w + xx] = 0xFF000000u | color(xx, yy);
    vlBitmap* b = NewBitmap(w, h, 0, nullptr);
    WriteBitmapARGB(argb.data(), w * 4, b, 0, 0, w, h);
    vlLayerGeometry* g = NewLayerGeometry();
    g->x = x, g->y = y, g->width = w, g->height = h;
    vlLayer* layer = nullptr;
    vlObjectId none{};
    EXPECT_EQ(AddLayer(L, VL_LAYER_BOX, &none, x, y, w, h, nullptr, nullptr, b, nullptr, nullptr, g, -1,
                       hidden ? uint32_t{VL_ADDLAYER_HIDDEN} : 0u, &layer),
              0);
    RefreshArea(L, x, y, w, h);
    return layer;
  }
  // The window pixel showing BGPic pixel (x, y).
  uint32_t At(vlDisplay* d, int x, int y) { return WindowPixel(d, x * scale_, y * scale_); }
  int scale_ = 1;
};

// Thresholds as the dissolve draws them after srand(seed): row-major
// rand() % 255.
std::vector<int> Thresholds(unsigned seed, int count) {
  std::srand(seed);
  std::vector<int> out(static_cast<size_t>(count));
  for (int& t : out) t = std::rand() % 255;
  return out;
}

class LayeredDissolve : public LayeredFamilies, public ::testing::WithParamInterface<int> {};

TEST_P(LayeredDissolve, TakesTheCoveredLayerPixelByPixelInItsOwnPicture) {
  {
    vlDisplay* d = Open(40, 30, GetParam());
    ASSERT_NE(d, nullptr);
    vlLayer* blue = AddBox(4, 5, 12, 8, kBlue, true);
    AddBox(8, 8, 3, 3, kGreen);
    const std::vector<int> t = Thresholds(11u, 12 * 8);
    std::srand(11u);
    // Steps of 8: frame n shows the pixels whose threshold is below 8n.
    ASSERT_EQ(Run(".table 0 { type = 139, speed = 8, async = 1 }\n.call base=1 showlayerfx 1 r0 -> h"), 0);
    ASSERT_NE(blue->geometry[2]->fxImage, nullptr);
    auto check = [&](int level, bool hiding) {
      int shown = 0;
      for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 12; ++x) {
          const int px = 4 + x, py = 5 + y;
          if (px >= 8 && px < 11 && py >= 8 && py < 11) {
            EXPECT_EQ(At(d, px, py), kGreen);
            continue;
          }
          const bool taken = t[static_cast<size_t>(y) * 12 + x] < level;
          const bool on = taken != hiding;
          shown += on;
          EXPECT_EQ(At(d, px, py), on ? kBlue : kGrey) << level << " " << x << "," << y;
        }
      return shown;
    };
    for (int frame = 1; frame <= 9; ++frame) ASSERT_EQ(Run(".call asyncdrawframe $h -> r"), 0);
    const int part = check(72, false);
    EXPECT_GT(part, 0);
    EXPECT_LT(part, 12 * 8 - 9);
    // Seeking back draws the still of frame 4.
    ASSERT_EQ(Run(".call asyncdrawframe $h 4 -> r"), 0);
    check(32, false);
    ASSERT_EQ(Run(".call finishasyncdraw $h"), 0);
    EXPECT_EQ(blue->hidden, 0u);
    EXPECT_EQ(blue->geometry[2]->fxImage, nullptr);
    check(255, false);
    // Hiding: the taken pixels go, the others stay.
    std::srand(11u);
    ASSERT_EQ(Run(".table 0 { type = 139, speed = 8, async = 1 }\n.call base=1 hidelayerfx 1 r0 -> h"), 0);
    for (int frame = 1; frame <= 12; ++frame) ASSERT_EQ(Run(".call asyncdrawframe $h -> r"), 0);
    check(96, true);
    ASSERT_EQ(Run(".call finishasyncdraw $h"), 0);
    EXPECT_EQ(blue->hidden, 1u);
    check(255, true);
  }
}

INSTANTIATE_TEST_SUITE_P(PlainAndScaled, LayeredDissolve, ::testing::Values(1, 2));

class LayeredClock : public LayeredFamilies, public ::testing::WithParamInterface<int> {};

TEST_P(LayeredClock, TheHandSweepsTheLayerInAndOutOfItsOwnPicture) {
  vlDisplay* d = Open(40, 30, GetParam());
  ASSERT_NE(d, nullptr);
  // A 20 x 10 layer at (4, 5), centre (10, 5) of the layer; a box above.
  vlLayer* blue = AddBox(4, 5, 20, 10, kBlue, true);
  AddBox(6, 11, 3, 3, kGreen);
  auto px = [&](int x, int y) { return At(d, 4 + x, 5 + y); };
  // CLOCKWIPE at 5: frame 1 sweeps the wedge (10,5) (10,0) (15,0); frame 2
  // runs on past the corner to (19,1).
  ASSERT_EQ(Run(".table 0 { type = 97, speed = 5, async = 1 }\n.call base=1 showlayerfx 1 r0 -> h"), 0);
  ASSERT_EQ(Run(".call asyncdrawframe $h -> r"), 0);
  ASSERT_NE(blue->geometry[2]->fxImage, nullptr);
  EXPECT_EQ(px(12, 1), kBlue);
  EXPECT_EQ(px(16, 1), kGrey);
  EXPECT_EQ(px(5, 1), kGrey);
  ASSERT_EQ(Run(".call asyncdrawframe $h -> r"), 0);
  EXPECT_EQ(px(12, 1), kBlue);
  EXPECT_EQ(px(16, 1), kBlue);
  EXPECT_EQ(px(15, 4), kGrey);
  EXPECT_EQ(px(5, 1), kGrey);
  EXPECT_EQ(px(3, 7), kGreen);
  // Seeking back draws the still of frame 1.
  ASSERT_EQ(Run(".call asyncdrawframe $h 1 -> r"), 0);
  EXPECT_EQ(px(12, 1), kBlue);
  EXPECT_EQ(px(16, 1), kGrey);
  ASSERT_EQ(Run(".call finishasyncdraw $h"), 0);
  EXPECT_EQ(blue->geometry[2]->fxImage, nullptr);
  EXPECT_EQ(px(5, 1), kBlue);
  EXPECT_EQ(px(15, 4), kBlue);
  // Hiding: the swept wedge leaves the layer, the rest stays.
  ASSERT_EQ(Run(".table 0 { type = 97, speed = 5, async = 1 }\n.call base=1 hidelayerfx 1 r0 -> h"), 0);
  ASSERT_EQ(Run(".call asyncdrawframe $h -> r\n.call asyncdrawframe $h -> r"), 0);
  EXPECT_EQ(px(16, 1), kGrey);
  EXPECT_EQ(px(12, 1), kGrey);
  EXPECT_EQ(px(15, 4), kBlue);
  EXPECT_EQ(px(5, 1), kBlue);
  EXPECT_EQ(px(3, 7), kGreen);
  ASSERT_EQ(Run(".call finishasyncdraw $h"), 0);
  EXPECT_EQ(blue->hidden, 1u);
  EXPECT_EQ(px(5, 1), kGrey);
  EXPECT_EQ(px(3, 7), kGreen);
}

TEST_P(LayeredClock, StarAndSunGrowFromTheLayersCentre) {
  vlDisplay* d = Open(40, 30, GetParam());
  ASSERT_NE(d, nullptr);
  vlLayer* blue = AddBox(4, 5, 20, 10, kBlue, true);
  auto px = [&](int x, int y) { return At(d, 4 + x, 5 + y); };
  for (int type : {98, 114}) {
    SCOPED_TRACE(type);
    // Size 14 x 8 at the first frame: the centre is in, the corners out.
    ASSERT_EQ(Run(".table 0 { type = " + std::to_string(type) +
                  ", speed = 4, async = 1 }\n.call base=1 showlayerfx 1 r0 -> h\n.call asyncdrawframe $h -> r"),
              0);
    ASSERT_NE(blue->geometry[2]->fxImage, nullptr);
    EXPECT_EQ(px(10, 5), kBlue);
    EXPECT_EQ(px(0, 0), kGrey);
    EXPECT_EQ(px(19, 9), kGrey);
    ASSERT_EQ(Run(".call finishasyncdraw $h"), 0);
    EXPECT_EQ(px(0, 0), kBlue);
    ASSERT_EQ(Run(".table 0 { type = " + std::to_string(type) +
                  ", speed = 4, async = 1 }\n.call base=1 hidelayerfx 1 r0 -> h\n.call asyncdrawframe $h -> r"),
              0);
    EXPECT_EQ(px(10, 5), kGrey);
    EXPECT_EQ(px(0, 0), kBlue);
    EXPECT_EQ(px(19, 9), kBlue);
    ASSERT_EQ(Run(".call finishasyncdraw $h"), 0);
    EXPECT_EQ(blue->hidden, 1u);
    EXPECT_EQ(px(19, 9), kGrey);
  }
}

INSTANTIATE_TEST_SUITE_P(PlainAndScaled, LayeredClock, ::testing::Values(1, 2));

class LayeredBands : public LayeredFamilies, public ::testing::WithParamInterface<int> {
 protected:
  // Starts an asynchronous effect on layer 1 and draws frames.
  void Start(const char* command, int type, int speed, int frames) {
    ASSERT_EQ(Run(".table 0 { type = " + std::to_string(type) + ", speed = " + std::to_string(speed) +
                  ", async = 1 }\n.call base=1 " + command + " 1 r0 -> h"),
              0);
    for (int i = 0; i < frames; ++i) ASSERT_EQ(Run(".call asyncdrawframe $h -> r"), 0);
  }
  // Which of the layer's columns (row y) show the layer colour.
  std::string Columns(vlDisplay* d, int lx, int ly, int w, int y) {
    std::string out;
    for (int x = 0; x < w; ++x) {
      const uint32_t c = At(d, lx + x, ly + y);
      out += c == kBlue ? '#' : c == kGrey ? '.' : '?';
    }
    return out;
  }
};

TEST_P(LayeredBands, SplitOpensBothHalvesOfTheLayerFromTheirQuarterLines) {
  vlDisplay* d = Open(40, 30, GetParam());
  ASSERT_NE(d, nullptr);
  vlLayer* blue = AddBox(4, 5, 20, 10, kBlue, true);
  // HSPLIT at 2 on 20 columns: quarter 5; frame 1 columns 5-6 in each
  // half, frame 2 adds 3-4 and 7-8.
  Start("showlayerfx", 108, 2, 1);
  ASSERT_NE(blue->geometry[2]->fxImage, nullptr);
  EXPECT_EQ(Columns(d, 4, 5, 20, 9), ".....##........##...");
  ASSERT_EQ(Run(".call asyncdrawframe $h -> r"), 0);
  EXPECT_EQ(Columns(d, 4, 5, 20, 0), "...######....######.");
  ASSERT_EQ(Run(".call finishasyncdraw $h"), 0);
  EXPECT_EQ(Columns(d, 4, 5, 20, 0), std::string(20, '#'));
  // Hiding takes the same bands out.
  Start("hidelayerfx", 108, 2, 2);
  EXPECT_EQ(Columns(d, 4, 5, 20, 4), "###......####......#");
  ASSERT_EQ(Run(".call finishasyncdraw $h"), 0);
  EXPECT_EQ(blue->hidden, 1u);
  EXPECT_EQ(Columns(d, 4, 5, 20, 4), std::string(20, '.'));
}

TEST_P(LayeredBands, UpAndDownFillsTheFirstColumnPairOfTheLayer) {
  vlDisplay* d = Open(40, 30, GetParam());
  ASSERT_NE(d, nullptr);
  AddBox(4, 5, 16, 10, kBlue, true);
  // Columns of 16 / 8 + 1 = 3; bands of 2 + 2 rows: column 0 from the top
  // (rows 0-3), column 1 from the bottom (rows 7-9).
  Start("showlayerfx", 110, 2, 1);
  EXPECT_EQ(Columns(d, 4, 5, 16, 0), "###.............");
  EXPECT_EQ(Columns(d, 4, 5, 16, 3), "###.............");
  EXPECT_EQ(Columns(d, 4, 5, 16, 5), "................");
  EXPECT_EQ(Columns(d, 4, 5, 16, 8), "...###..........");
  ASSERT_EQ(Run(".call finishasyncdraw $h"), 0);
  EXPECT_EQ(Columns(d, 4, 5, 16, 5), std::string(16, '#'));
}

TEST_P(LayeredBands, StrangePushBringsAlternateRowsInFromBothEdges) {
  vlDisplay* d = Open(40, 30, GetParam());
  ASSERT_NE(d, nullptr);
  vlLayer* blue = AddBox(4, 5, 20, 10, kBlue, true);
  AddBox(12, 5, 2, 2, kGreen);
  // HSTRANGEPUSH at 4: odd rows enter 4 columns from the left, even rows
  // 4 columns from the right.
  Start("showlayerfx", 99, 4, 1);
  ASSERT_NE(blue->geometry[2]->fxImage, nullptr);
  EXPECT_EQ(Columns(d, 4, 5, 20, 2), "................####");
  EXPECT_EQ(Columns(d, 4, 5, 20, 3), "####................");
  EXPECT_EQ(Columns(d, 4, 5, 20, 0), "........??......####");
  ASSERT_EQ(Run(".call asyncdrawframe $h -> r"), 0);
  EXPECT_EQ(Columns(d, 4, 5, 20, 2), "............########");
  EXPECT_EQ(Columns(d, 4, 5, 20, 9), "########............");
  ASSERT_EQ(Run(".call finishasyncdraw $h"), 0);
  EXPECT_EQ(Columns(d, 4, 5, 20, 9), std::string(20, '#'));
  // Hiding runs the rows back out: after one frame 16 columns are left.
  Start("hidelayerfx", 99, 4, 1);
  EXPECT_EQ(Columns(d, 4, 5, 20, 2), "....################");
  EXPECT_EQ(Columns(d, 4, 5, 20, 3), "################....");
  ASSERT_EQ(Run(".call finishasyncdraw $h"), 0);
  EXPECT_EQ(blue->hidden, 1u);
  EXPECT_EQ(Columns(d, 4, 5, 20, 3), std::string(20, '.'));
}

TEST_P(LayeredBands, StretchAndZoomScaleTheLayerInItsOwnPicture) {
  vlDisplay* d = Open(40, 30, GetParam());
  ASSERT_NE(d, nullptr);
  vlLayer* blue = AddBox(4, 5, 20, 10, kBlue, true);
  AddBox(4, 14, 2, 1, kGreen);
  // STRETCHLEFT at 4: 4 columns, then 8.
  Start("showlayerfx", 55, 4, 1);
  ASSERT_NE(blue->geometry[2]->fxImage, nullptr);
  EXPECT_EQ(Columns(d, 4, 5, 20, 3), "####................");
  ASSERT_EQ(Run(".call asyncdrawframe $h -> r"), 0);
  EXPECT_EQ(Columns(d, 4, 5, 20, 3), "########............");
  EXPECT_EQ(Columns(d, 4, 5, 20, 9), "??######............");
  // The still of frame 1 again.
  ASSERT_EQ(Run(".call asyncdrawframe $h 1 -> r"), 0);
  EXPECT_EQ(Columns(d, 4, 5, 20, 3), "####................");
  ASSERT_EQ(Run(".call finishasyncdraw $h"), 0);
  EXPECT_EQ(Columns(d, 4, 5, 20, 3), std::string(20, '#'));
  // Hiding shrinks it back: 16 columns, then 12.
  Start("hidelayerfx", 55, 4, 1);
  EXPECT_EQ(Columns(d, 4, 5, 20, 3), "################....");
  ASSERT_EQ(Run(".call asyncdrawframe $h -> r"), 0);
  EXPECT_EQ(Columns(d, 4, 5, 20, 3), "############........");
  ASSERT_EQ(Run(".call finishasyncdraw $h"), 0);
  EXPECT_EQ(blue->hidden, 1u);
  EXPECT_EQ(Columns(d, 4, 5, 20, 3), std::string(20, '.'));
  // ZOOMCENTER at 4: a 4 x 2 picture at (8, 4), then 8 x 4 at (6, 3).
  Start("showlayerfx", 61, 4, 1);
  EXPECT_EQ(Columns(d, 4, 5, 20, 3), "....................");
  EXPECT_EQ(Columns(d, 4, 5, 20, 4), "........####........");
  EXPECT_EQ(Columns(d, 4, 5, 20, 5), "........####........");
  EXPECT_EQ(Columns(d, 4, 5, 20, 6), "....................");
  ASSERT_EQ(Run(".call asyncdrawframe $h -> r"), 0);
  EXPECT_EQ(Columns(d, 4, 5, 20, 2), "....................");
  EXPECT_EQ(Columns(d, 4, 5, 20, 3), "......########......");
  EXPECT_EQ(Columns(d, 4, 5, 20, 6), "......########......");
  EXPECT_EQ(Columns(d, 4, 5, 20, 7), "....................");
  ASSERT_EQ(Run(".call finishasyncdraw $h"), 0);
  EXPECT_EQ(Columns(d, 4, 5, 20, 0), std::string(20, '#'));
}

TEST_P(LayeredBands, PixelZoomSharpensTheLayerOutOfBlocks) {
  vlDisplay* d = Open(40, 30, GetParam());
  ASSERT_NE(d, nullptr);
  // Red and blue columns: a block of 10 x 10 takes its top left pixel.
  vlLayer* l = AddPicture(4, 5, 20, 10, [](int x, int) { return x % 2 ? kBlue : 0xFF0000u; }, true);
  AddBox(20, 12, 2, 2, kGreen);
  Start("showlayerfx", 132, -1, 1);
  ASSERT_NE(l->geometry[2]->fxImage, nullptr);
  EXPECT_EQ(At(d, 9, 9), 0xFF0000u);
  EXPECT_EQ(At(d, 15, 9), 0xFF0000u);
  EXPECT_EQ(At(d, 20, 12), kGreen);
  EXPECT_EQ(At(d, 3, 9), kGrey);
  ASSERT_EQ(Run(".call finishasyncdraw $h"), 0);
  EXPECT_EQ(At(d, 8, 9), 0xFF0000u);
  EXPECT_EQ(At(d, 9, 9), kBlue);
  EXPECT_EQ(At(d, 20, 12), kGreen);
  // Hiding coarsens the layer, then takes it away.
  Start("hidelayerfx", 132, -1, 23);
  EXPECT_EQ(At(d, 9, 9), 0xFF0000u);
  EXPECT_EQ(At(d, 15, 9), 0xFF0000u);
  ASSERT_EQ(Run(".call finishasyncdraw $h"), 0);
  EXPECT_EQ(l->hidden, 1u);
  EXPECT_EQ(At(d, 8, 9), kGrey);
}

// Channels of a and b within 2 of each other.
bool Near(uint32_t a, uint32_t b) {
  for (int shift : {0, 8, 16}) {
    const int ca = static_cast<int>((a >> shift) & 0xFF), cb = static_cast<int>((b >> shift) & 0xFF);
    if (ca - cb > 2 || cb - ca > 2) return false;
  }
  return true;
}
// Blue over the grey background at opacity a / 255.
uint32_t BlueOverGrey(int a) {
  const uint32_t grey = static_cast<uint32_t>(0x80 * (255 - a) / 255);
  return grey << 16 | grey << 8 | static_cast<uint32_t>((255 * a + 0x80 * (255 - a)) / 255);
}

TEST_P(LayeredBands, WaterAndStrudelFadeTheWarpedLayerInAndOut) {
  vlDisplay* d = Open(40, 30, GetParam());
  ASSERT_NE(d, nullptr);
  vlLayer* blue = AddBox(4, 5, 20, 10, kBlue, true);
  AddBox(14, 9, 2, 2, kGreen);
  // WATER over 2 x 5 frames: after frame 5 the layer's alpha is 127; a
  // plain picture stays plain however it is warped.
  Start("showlayerfx", 134, 5, 5);
  ASSERT_NE(blue->geometry[2]->fxImage, nullptr);
  for (int x : {4, 10, 23})
    EXPECT_TRUE(Near(At(d, x, 7), BlueOverGrey(127))) << x << " " << std::hex << At(d, x, 7);
  EXPECT_EQ(At(d, 14, 9), kGreen);
  ASSERT_EQ(Run(".call finishasyncdraw $h"), 0);
  EXPECT_EQ(At(d, 10, 7), kBlue);
  // Hiding fades it out: alpha 255 - 51 after 2 frames.
  Start("hidelayerfx", 134, 5, 2);
  EXPECT_TRUE(Near(At(d, 10, 7), BlueOverGrey(204))) << std::hex << At(d, 10, 7);
  EXPECT_EQ(At(d, 14, 9), kGreen);
  ASSERT_EQ(Run(".call finishasyncdraw $h"), 0);
  EXPECT_EQ(blue->hidden, 1u);
  EXPECT_EQ(At(d, 10, 7), kGrey);
  // STRUDEL at 16 degrees a frame: after 22 frames 352 degrees, alpha 124.
  Start("showlayerfx", 138, 16, 22);
  EXPECT_TRUE(Near(At(d, 20, 12), BlueOverGrey(124))) << std::hex << At(d, 20, 12);
  // The still of frame 11: 176 degrees, alpha 62.
  ASSERT_EQ(Run(".call asyncdrawframe $h 11 -> r"), 0);
  EXPECT_TRUE(Near(At(d, 20, 12), BlueOverGrey(62))) << std::hex << At(d, 20, 12);
  ASSERT_EQ(Run(".call finishasyncdraw $h"), 0);
  EXPECT_EQ(At(d, 20, 12), kBlue);
  EXPECT_EQ(blue->hidden, 0u);
}

TEST_P(LayeredBands, AScrolledLayerTravelsFrameByFrame) {
  vlDisplay* d = Open(40, 30, GetParam());
  ASSERT_NE(d, nullptr);
  vlLayer* blue = AddBox(5, 5, 8, 4, kBlue);
  // A reversed SCROLLTOP at 3 a frame: the layer leaves through the top.
  Start("hidelayerfx", 49, 3, 1);
  EXPECT_EQ(Columns(d, 4, 2, 10, 0), ".########.");
  EXPECT_EQ(Columns(d, 4, 5, 10, 0), ".########.");
  EXPECT_EQ(Columns(d, 4, 6, 10, 0), "..........");
  EXPECT_EQ(Columns(d, 4, 8, 10, 0), "..........");
  ASSERT_EQ(Run(".call asyncdrawframe $h -> r"), 0);
  EXPECT_EQ(Columns(d, 4, 0, 10, 0), ".########.");
  EXPECT_EQ(Columns(d, 4, 2, 10, 0), ".########.");
  EXPECT_EQ(Columns(d, 4, 3, 10, 0), "..........");
  ASSERT_EQ(Run(".call finishasyncdraw $h"), 0);
  EXPECT_EQ(blue->hidden, 1u);
  EXPECT_EQ(blue->geometry[0]->y, 5);
  EXPECT_EQ(Columns(d, 4, 0, 10, 0), "..........");
  EXPECT_EQ(Columns(d, 4, 5, 10, 0), "..........");
}

INSTANTIATE_TEST_SUITE_P(PlainAndScaled, LayeredBands, ::testing::Values(1, 2));

}  // namespace
