// Effects drawn into a layer's own picture on a private Xvfb display: the
// window read back at chosen frames against hand-computed columns and
// rows, frames reached by seeking against frames reached by running, the
// reversed flows and rolls, border fades, the forced run of effects on
// layers that show a playing video with its error path, layers standing in
// for a BGPic that the script draws into, a layer replaced while its
// effect runs, and the work planes of asynchronous effects.
#include "tests/transitions/engine/fx_display_test.h"

#include <vector>

#include "display/bgpic.h"
#include "display/display_events.h"
#include "display/layers/async_draw.h"
#include "display/graphics_library/graphics_library.h"
#include "display/layers/layers.h"
#include "graphics/bitmap.h"
#include "objects/brushes/brush.h"
#include "platform/event_pump.h"
#include "transitions/fx_engine.h"
#include "transitions/transition_library.h"
#include "vm/error_codes.h"

namespace {

constexpr uint32_t kGrey = 0x808080u;

// Row y of the striped pictures: a colour per row.
uint32_t RowColor(int y) { return 0x000080u | (static_cast<uint32_t>(y * 5) << 8); }
// Column x of the striped pictures.
uint32_t ColumnColor(int x) { return 0x800000u | (static_cast<uint32_t>(x * 5) << 8); }

class LayeredFx : public vltest::FxDisplayTest {
 protected:
  void TearDown() override {
    gLayerVideoPlaying = nullptr;
    gInputBackend = savedInput_;
    FxDisplayTest::TearDown();
  }
  vlDisplay* Open(int w, int h) {
    const std::string size = std::to_string(w) + " " + std::to_string(h);
    EXPECT_EQ(Run(".call createbgpic 1 " + size + " 8421504\n.table 0 { bgpic = 1 }\n.call base=1 createdisplay 1 r0\n"
                  ".call opendisplay 1\n.call enablelayers"),
              0);
    return GetDisplayByNumber(1);
  }
  // A layer of type showing a picture whose pixels color(x, y) gives.
  template <typename F>
  vlLayer* AddPicture(int x, int y, int w, int h, F color, uint32_t type = VL_LAYER_BOX, bool hidden = false) {
    std::vector<uint32_t> argb(static_cast<size_t>(w) * h);
    for (int yy = 0; yy < h; ++yy)
      for (int xx = 0; xx < w; ++xx) argb[static_cast<size_t>(yy) * w + xx] = 0xFF000000u | color(xx, yy);
    vlBitmap* b = NewBitmap(w, h, 0, nullptr);
    WriteBitmapARGB(argb.data(), w * 4, b, 0, 0, w, h);
    vlLayerGeometry* g = NewLayerGeometry();
    g->x = x, g->y = y, g->width = w, g->height = h;
    vlLayer* layer = nullptr;
    vlObjectId none{};
    EXPECT_EQ(AddLayer(L, type, &none, x, y, w, h, nullptr, nullptr, b, nullptr, nullptr, g, -1,
                       hidden ? uint32_t{VL_ADDLAYER_HIDDEN} : 0u, &layer),
              0);
    RefreshArea(L, x, y, w, h);
    return layer;
  }
  vlLayer* AddBox(int x, int y, int w, int h, uint32_t color, bool hidden = false) {
    return AddPicture(x, y, w, h, [color](int, int) { return color; }, VL_LAYER_BOX, hidden);
  }
  // The window's pixels of the rectangle, row by row.
  std::vector<uint32_t> Area(vlDisplay* d, int x, int y, int w, int h) {
    std::vector<uint32_t> out;
    for (int yy = y; yy < y + h; ++yy)
      for (int xx = x; xx < x + w; ++xx) out.push_back(WindowPixel(d, xx, yy));
    return out;
  }
  // BGPic 2, 10 x 6 and red, for a layer to stand in for.
  vlBGPic* RedBGPic() {
    vlBGPic* pic = nullptr;
    EXPECT_EQ(Run(".call createbgpic 2 10 6 16711680"), 0);
    EXPECT_EQ(GetBGPicByID(L, {2, nullptr}, &pic, 0), 0);
    return pic;
  }
  vlInputBackend savedInput_ = gInputBackend;
};

TEST_F(LayeredFx, ACoveredLayerIsRevealedInItsOwnPictureFrameByFrame) {
  vlDisplay* d = Open(40, 30);
  ASSERT_NE(d, nullptr);
  vlLayer* blue = AddBox(5, 7, 10, 6, 0x0000FF, true);
  AddBox(8, 8, 4, 4, 0x00FF00);
  // REVEALLEFT at 2 pixels a frame: columns 0-2, 3-5, 6-8, then 7-9 (the
  // last frame keeps the edge inside): 4 frames.
  ASSERT_EQ(Run(".table 0 { type = 30, speed = 2, async = 1 }\n.call base=1 showlayerfx 1 r0 -> h"), 0);
  ASSERT_EQ(Run(".call asyncdrawframe $h -> r"), 0);
  // The layer shows its working picture: three columns so far.
  ASSERT_NE(blue->geometry[2]->fxImage, nullptr);
  EXPECT_EQ(WindowPixel(d, 7, 7), 0x0000FFu);
  EXPECT_EQ(WindowPixel(d, 8, 7), kGrey);
  EXPECT_EQ(WindowPixel(d, 7, 12), 0x0000FFu);
  EXPECT_EQ(WindowPixel(d, 9, 9), 0x00FF00u);  // the box above stays on top
  ASSERT_EQ(Run(".call asyncdrawframe $h -> r"), 0);
  EXPECT_EQ(WindowPixel(d, 10, 12), 0x0000FFu);
  EXPECT_EQ(WindowPixel(d, 11, 12), kGrey);
  // Seeking back replays the frames unseen: frame 1 ends at column 2.
  ASSERT_EQ(Run(".call asyncdrawframe $h 1 -> r"), 0);
  EXPECT_EQ(WindowPixel(d, 7, 12), 0x0000FFu);
  EXPECT_EQ(WindowPixel(d, 8, 12), kGrey);
  EXPECT_EQ(WindowPixel(d, 10, 12), kGrey);
  EXPECT_EQ(WindowPixel(d, 9, 9), 0x00FF00u);
  // and forward past the next one: frame 3 ends at column 8.
  ASSERT_EQ(Run(".call asyncdrawframe $h 3 -> r"), 0);
  EXPECT_EQ(WindowPixel(d, 13, 12), 0x0000FFu);
  EXPECT_EQ(WindowPixel(d, 14, 12), kGrey);
  ASSERT_EQ(Run(".call finishasyncdraw $h"), 0);
  EXPECT_EQ(blue->geometry[2]->fxImage, nullptr);
  EXPECT_EQ(blue->hidden, 0u);
  for (int x = 5; x < 15; ++x) EXPECT_EQ(WindowPixel(d, x, 12), 0x0000FFu) << x;
  EXPECT_EQ(WindowPixel(d, 9, 9), 0x00FF00u);
  // Hiding a covered layer erases it from its own picture: RECTCENTER runs
  // as RECTBACKCENTER and the layer ends hidden, the box above untouched.
  ASSERT_EQ(Run(".call hidelayerfx 1 38 -2"), 0);
  EXPECT_EQ(blue->hidden, 1u);
  EXPECT_EQ(blue->geometry[2]->fxImage, nullptr);
  EXPECT_EQ(WindowPixel(d, 5, 7), kGrey);
  EXPECT_EQ(WindowPixel(d, 14, 12), kGrey);
  EXPECT_EQ(WindowPixel(d, 9, 9), 0x00FF00u);
}

TEST_F(LayeredFx, ABorderFadesInWithTheFrames) {
  vlDisplay* d = Open(40, 30);
  ASSERT_NE(d, nullptr);
  vlLayer* l = AddBox(10, 10, 10, 6, 0xFF0000, true);
  l->border = {1, 0xFFFFFFu, 2};
  ASSERT_EQ(Run(".table 0 { type = 30, speed = 2, async = 1 }\n.call base=1 showlayerfx 1 r0 -> h"), 0);
  // 4 frames; the level shown after frame n is n x 255 / 4 + 1, taken
  // before the frame is counted.
  ASSERT_EQ(Run(".call asyncdrawframe $h -> r"), 0);
  EXPECT_EQ(l->borderFade, 1u);
  EXPECT_EQ(WindowPixel(d, 8, 12), kGrey);  // the border is not shown yet
  ASSERT_EQ(Run(".call asyncdrawframe $h -> r"), 0);
  EXPECT_EQ(l->borderFade, 64u);
  ASSERT_EQ(Run(".call asyncdrawframe $h -> r"), 0);
  EXPECT_EQ(l->borderFade, 128u);
  EXPECT_EQ(WindowPixel(d, 10, 12), 0xFF0000u);
  EXPECT_EQ(WindowPixel(d, 19, 12), kGrey);
  ASSERT_EQ(Run(".call finishasyncdraw $h"), 0);
  EXPECT_EQ(l->borderFade, 0u);
  EXPECT_EQ(WindowPixel(d, 19, 12), 0xFF0000u);
  EXPECT_EQ(WindowPixel(d, 8, 12), 0xFFFFFFu);  // the border at full strength
}

TEST_F(LayeredFx, HidingWithAFlowRunsTheEdgeBackAndClears) {
  vlDisplay* d = Open(30, 50);
  ASSERT_NE(d, nullptr);
  vlLayer* l = AddPicture(5, 2, 10, 40, [](int, int y) { return RowColor(y); });
  // HFLOWTOP hidden at 10 rows a frame on 40 rows: the edge starts at 30
  // and steps back by 10; rows from the edge down repeat the row above it;
  // the third frame clears the layer. 3 frames.
  ASSERT_EQ(Run(".table 0 { type = 70, speed = 10, async = 1 }\n.call base=1 hidelayerfx 1 r0 -> h"), 0);
  ASSERT_EQ(Run(".call asyncdrawframe $h -> r"), 0);
  EXPECT_EQ(WindowPixel(d, 7, 2 + 29), RowColor(29));
  EXPECT_EQ(WindowPixel(d, 7, 2 + 30), RowColor(29));
  EXPECT_EQ(WindowPixel(d, 7, 2 + 39), RowColor(29));
  EXPECT_EQ(WindowPixel(d, 7, 2 + 12), RowColor(12));
  ASSERT_EQ(Run(".call asyncdrawframe $h -> r"), 0);
  EXPECT_EQ(WindowPixel(d, 7, 2 + 19), RowColor(19));
  EXPECT_EQ(WindowPixel(d, 7, 2 + 20), RowColor(19));
  EXPECT_EQ(WindowPixel(d, 14, 2 + 39), RowColor(19));
  EXPECT_EQ(WindowPixel(d, 7, 2 + 3), RowColor(3));
  ASSERT_EQ(Run(".call asyncdrawframe $h -> r"), 0);
  EXPECT_EQ(WindowPixel(d, 7, 2 + 3), kGrey);
  EXPECT_EQ(WindowPixel(d, 14, 2 + 39), kGrey);
  EXPECT_EQ(l->hidden, 0u);  // still the effect's until it is finished
  ASSERT_EQ(Run(".call asyncdrawframe $h -> r"), 0);
  EXPECT_EQ(FirstAsyncDraw(), nullptr);
  EXPECT_EQ(l->hidden, 1u);
  EXPECT_EQ(l->geometry[2]->fxImage, nullptr);
  // Synchronous hiding of a layer no other covers takes the same road.
  ASSERT_EQ(Run(".call showlayerfx 1 30 -2"), 0);
  EXPECT_EQ(WindowPixel(d, 7, 2 + 3), RowColor(3));
  ASSERT_EQ(Run(".call removelayerfx 1 71 10"), 0);
  EXPECT_EQ(CountLayers(d->bgpic), 0);
  EXPECT_EQ(WindowPixel(d, 7, 2 + 3), kGrey);
}

TEST_F(LayeredFx, HidingWithARollRollsThePictureUpFromTheFarEnd) {
  vlDisplay* d = Open(60, 20);
  ASSERT_NE(d, nullptr);
  vlLayer* l = AddPicture(5, 5, 40, 8, [](int x, int) { return ColumnColor(x); });
  // ROLLLEFT on 40 columns at normal speed: 2 columns a frame, a cylinder
  // of 20; the first frame rolls from column 38: what lies right of the
  // cylinder is given back, the left half still lies flat.
  ASSERT_EQ(Run(".table 0 { type = 85, async = 1 }\n.call base=1 hidelayerfx 1 r0 -> h"), 0);
  ASSERT_EQ(Run(".call asyncdrawframe $h -> r"), 0);
  EXPECT_EQ(WindowPixel(d, 5 + 39, 8), kGrey);
  EXPECT_EQ(WindowPixel(d, 5 + 0, 8), ColumnColor(0));
  EXPECT_EQ(WindowPixel(d, 5 + 15, 8), ColumnColor(15));
  int frames = 1;
  int32_t result = 0;
  do {
    ASSERT_EQ(Run(".call asyncdrawframe $h -> r"), 0);
    result = static_cast<int32_t>(Num("r"));
    ++frames;
    // Nothing comes back once the cylinder has passed.
    if (frames == 10) { EXPECT_EQ(WindowPixel(d, 5 + 39, 8), kGrey); }
  } while (!result && frames < 100);
  EXPECT_EQ(FirstAsyncDraw(), nullptr);
  EXPECT_EQ(l->hidden, 1u);
  for (int x = 5; x < 45; x += 3) EXPECT_EQ(WindowPixel(d, x, 8), kGrey) << x;
}

TEST_F(LayeredFx, AStillReachedBySeekingIsTheFrameReachedByRunning) {
  vlDisplay* d = Open(50, 50);
  ASSERT_NE(d, nullptr);
  AddPicture(4, 4, 30, 40, [](int x, int y) { return (RowColor(y) & 0x00FF00u) | (ColumnColor(x) & 0xFF0000u); },
             VL_LAYER_BOX, true);
  for (int effect : {84, 87, 72, 70}) {
    SCOPED_TRACE(effect);
    const std::string start = ".table 0 { type = " + std::to_string(effect) +
                              ", speed = 12, async = 1 }\n.call base=1 showlayerfx 1 r0 -> h";
    ASSERT_EQ(Run(start), 0);
    for (int i = 0; i < 2; ++i) ASSERT_EQ(Run(".call asyncdrawframe $h -> r"), 0);
    const auto ran = Area(d, 4, 4, 30, 40);
    ASSERT_EQ(Run(".call cancelasyncdraw $h"), 0);
    EXPECT_EQ(WindowPixel(d, 10, 10), kGrey);  // cancelled: hidden again
    ASSERT_EQ(Run(start), 0);
    ASSERT_EQ(Run(".call asyncdrawframe $h 2 -> r"), 0);
    EXPECT_EQ(Area(d, 4, 4, 30, 40), ran);
    ASSERT_EQ(Run(".call cancelasyncdraw $h"), 0);
  }
  // Hidden by a roll a line a frame, whose cylinder shows nothing on the
  // first frame: the still of frame 1, sought back from frame 3, has the
  // last line gone as running showed it.
  ASSERT_EQ(Run(".call showlayer 1"), 0);
  for (int effect : {84, 85}) {
    SCOPED_TRACE(effect);
    const std::string start = ".table 0 { type = " + std::to_string(effect) +
                              ", speed = 1, async = 1 }\n.call base=1 hidelayerfx 1 r0 -> h";
    ASSERT_EQ(Run(start + "\n.call asyncdrawframe $h -> r"), 0);
    const auto ran = Area(d, 4, 4, 30, 40);
    EXPECT_EQ(effect == 84 ? WindowPixel(d, 10, 43) : WindowPixel(d, 33, 10), kGrey);
    EXPECT_NE(WindowPixel(d, 10, 10), kGrey);
    ASSERT_EQ(Run(".call cancelasyncdraw $h"), 0);
    ASSERT_EQ(Run(start), 0);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(Run(".call asyncdrawframe $h -> r"), 0);
    ASSERT_EQ(Run(".call asyncdrawframe $h 1 -> r"), 0);
    EXPECT_EQ(Area(d, 4, 4, 30, 40), ran);
    ASSERT_EQ(Run(".call cancelasyncdraw $h"), 0);
  }
  ASSERT_EQ(Run(".call hidelayer 1"), 0);
  // HFLOWTOP at 12 rows a frame: the still of frame 3 shows rows 0-35
  // and row 35 again below them.
  ASSERT_EQ(Run(".table 0 { type = 70, speed = 12, async = 1 }\n.call base=1 showlayerfx 1 r0 -> h"), 0);
  ASSERT_EQ(Run(".call asyncdrawframe $h 3 -> r"), 0);
  EXPECT_EQ(WindowPixel(d, 4, 4 + 35) & 0x00FF00u, RowColor(35) & 0x00FF00u);
  EXPECT_EQ(WindowPixel(d, 4, 4 + 39) & 0x00FF00u, RowColor(35) & 0x00FF00u);
  EXPECT_EQ(WindowPixel(d, 4, 4 + 10) & 0x00FF00u, RowColor(10) & 0x00FF00u);
}

TEST_F(LayeredFx, ALayerResizedDuringTheEffectGoesOnAtTheSameShare) {
  vlDisplay* d = Open(60, 30);
  ASSERT_NE(d, nullptr);
  vlLayer* l = AddBox(5, 5, 10, 6, 0xFF00FF, true);
  ASSERT_EQ(Run(".table 0 { type = 30, speed = 2, async = 1 }\n.call base=1 showlayerfx 1 r0 -> h"), 0);
  ASSERT_EQ(Run(".call asyncdrawframe $h -> r\n.call asyncdrawframe $h -> r"), 0);
  EXPECT_EQ(WindowPixel(d, 10, 8), 0xFF00FFu);
  EXPECT_EQ(WindowPixel(d, 11, 8), kGrey);
  // Twice as wide: 7 frames instead of 4, and frame 2 of 4 becomes frame
  // rint(3.5) = 4 of 7: columns 0-11 of 20.
  ASSERT_EQ(Run(".table 0 { scalex = 2 }\n.call base=1 setlayerstyle 1 r0"), 0);
  vlLayerGeometry* g = l->geometry[2];
  ASSERT_EQ(g->drawnWidth, 20);
  EXPECT_EQ(g->fxImage->width, 20);
  const int x0 = g->drawnX, y = g->drawnY + 3;
  EXPECT_EQ(WindowPixel(d, x0, y), 0xFF00FFu);
  EXPECT_EQ(WindowPixel(d, x0 + 11, y), 0xFF00FFu);
  EXPECT_EQ(WindowPixel(d, x0 + 12, y), kGrey);
  EXPECT_EQ(WindowPixel(d, x0 + 19, y), kGrey);
  ASSERT_EQ(Run(".call asyncdrawframe $h -> r"), 0);
  EXPECT_EQ(WindowPixel(d, x0 + 14, y), 0xFF00FFu);
  EXPECT_EQ(WindowPixel(d, x0 + 15, y), kGrey);
  ASSERT_EQ(Run(".call finishasyncdraw $h"), 0);
  EXPECT_EQ(WindowPixel(d, x0 + 19, y), 0xFF00FFu);
}

TEST_F(LayeredFx, OnADisplayThatScalesItsOutputLayersChangeFrameByFrame) {
  ASSERT_EQ(Run(".call createbgpic 1 100 50 8421504\n"
                ".table 0 { bgpic = 1, scalemode = 1, scalewidth = 200, scaleheight = 100 }\n"
                ".call base=1 createdisplay 1 r0\n.call opendisplay 1\n.call enablelayers"),
            0);
  vlDisplay* d = GetDisplayByNumber(1);
  ASSERT_NE(d, nullptr);
  vlLayer* l = AddBox(10, 10, 10, 6, 0x0000FF, true);
  ASSERT_EQ(Run(".table 0 { type = 30, speed = 2, async = 1 }\n.call base=1 showlayerfx 1 r0 -> h"), 0);
  ASSERT_EQ(Run(".call asyncdrawframe $h -> r"), 0);
  // Columns 0-2 of the layer (BGPic x 10-12) are window x 20-25.
  EXPECT_EQ(WindowPixel(d, 20, 24), 0x0000FFu);
  EXPECT_EQ(WindowPixel(d, 25, 31), 0x0000FFu);
  EXPECT_EQ(WindowPixel(d, 27, 24), kGrey);
  EXPECT_EQ(WindowPixel(d, 38, 24), kGrey);
  ASSERT_EQ(Run(".call asyncdrawframe $h -> r"), 0);
  EXPECT_EQ(WindowPixel(d, 31, 24), 0x0000FFu);
  EXPECT_EQ(WindowPixel(d, 33, 24), kGrey);
  ASSERT_EQ(Run(".call finishasyncdraw $h"), 0);
  EXPECT_EQ(WindowPixel(d, 39, 31), 0x0000FFu);
  EXPECT_EQ(l->hidden, 0u);
  // Synchronous hiding ends on the background.
  ASSERT_EQ(Run(".call hidelayerfx 1 33 -2"), 0);
  EXPECT_EQ(WindowPixel(d, 39, 31), kGrey);
  EXPECT_EQ(WindowPixel(d, 20, 20), kGrey);
}

// Channels of a and b within 1 of each other.
bool Near(uint32_t a, uint32_t b) {
  for (int shift : {0, 8, 16}) {
    const int ca = static_cast<int>((a >> shift) & 0xFF), cb = static_cast<int>((b >> shift) & 0xFF);
    if (ca - cb > 1 || cb - ca > 1) return false;
  }
  return true;
}
// c over the grey background at opacity a / 255.
uint32_t OverGrey(uint32_t c, int a) {
  uint32_t out = 0;
  for (int shift : {0, 8, 16}) {
    const int v = static_cast<int>((c >> shift) & 0xFF);
    out |= static_cast<uint32_t>((v * a + 0x80 * (255 - a)) / 255) << shift;
  }
  return out;
}

TEST_F(LayeredFx, CrossfadeAndFadeChangeTheLayersCoverage) {
  vlDisplay* d = Open(40, 30);
  ASSERT_NE(d, nullptr);
  vlLayer* l = AddBox(5, 5, 10, 6, 0x0000FF, true);
  AddBox(12, 8, 10, 10, 0x00FF00);
  // CROSSFADE at 100 a frame: levels 100, 200, then 255 (3 frames).
  ASSERT_EQ(Run(".table 0 { type = 115, speed = 100, async = 1 }\n.call base=1 showlayerfx 1 r0 -> h"), 0);
  ASSERT_EQ(Run(".call asyncdrawframe $h -> r"), 0);
  EXPECT_PRED2(Near, WindowPixel(d, 6, 6), OverGrey(0x0000FF, 100));
  EXPECT_EQ(WindowPixel(d, 13, 9), 0x00FF00u);  // the box above
  ASSERT_EQ(Run(".call asyncdrawframe $h -> r"), 0);
  EXPECT_PRED2(Near, WindowPixel(d, 6, 6), OverGrey(0x0000FF, 200));
  ASSERT_EQ(Run(".call asyncdrawframe $h -> r"), 0);
  EXPECT_EQ(WindowPixel(d, 6, 6), 0x0000FFu);
  ASSERT_EQ(Run(".call asyncdrawframe $h -> r"), 0);
  EXPECT_EQ(FirstAsyncDraw(), nullptr);
  EXPECT_EQ(l->geometry[2]->fxImage, nullptr);
  // Hidden, the levels count down: 255 - 100 after the first frame.
  ASSERT_EQ(Run(".table 0 { type = 115, speed = 100, async = 1 }\n.call base=1 hidelayerfx 1 r0 -> h"), 0);
  ASSERT_EQ(Run(".call asyncdrawframe $h -> r"), 0);
  EXPECT_PRED2(Near, WindowPixel(d, 6, 6), OverGrey(0x0000FF, 155));
  ASSERT_EQ(Run(".call finishasyncdraw $h"), 0);
  EXPECT_EQ(WindowPixel(d, 6, 6), kGrey);
  EXPECT_EQ(l->hidden, 1u);
  // FADE through red at 128 a frame: the red layer fades in to 128, then
  // the picture comes out of the red (tinted fully at the peak, then by
  // 127), and the last frame shows it plain. 4 frames.
  ASSERT_EQ(Run(".table 0 { type = 116, speed = 128, parameter = 16711680, async = 1 }\n"
                ".call base=1 showlayerfx 1 r0 -> h"),
            0);
  ASSERT_EQ(Run(".call asyncdrawframe $h -> r"), 0);
  EXPECT_PRED2(Near, WindowPixel(d, 6, 6), OverGrey(0xFF0000, 128));
  ASSERT_EQ(Run(".call asyncdrawframe $h -> r"), 0);
  EXPECT_EQ(WindowPixel(d, 6, 6), 0xFF0000u);
  ASSERT_EQ(Run(".call asyncdrawframe $h -> r\n.call asyncdrawframe $h -> r"), 0);
  EXPECT_EQ(WindowPixel(d, 6, 6), 0x0000FFu);
  EXPECT_EQ(WindowPixel(d, 13, 9), 0x00FF00u);
  ASSERT_EQ(Run(".call finishasyncdraw $h"), 0);
  EXPECT_EQ(l->hidden, 0u);
  EXPECT_EQ(WindowPixel(d, 11, 10), 0x0000FFu);
  EXPECT_EQ(WindowPixel(d, 14, 10), 0x00FF00u);
}

int PlayingVideo(vlVMState*, vlLayer*) { return 1; }

int gInputCalls = 0;
// Fails the third pump inside a forced run.
int FailingInput(vlVMState*, int* error) {
  if (FirstAsyncDraw() && ++gInputCalls >= 3) {
    *error = ERR_WRONGUSAGE;
    return 1;
  }
  return 0;
}
int QuietInput(vlVMState*, int*) { return 0; }

TEST_F(LayeredFx, AnEffectOnAPlayingVideoRunsToItsEndInsideTheCommand) {
  vlDisplay* d = Open(40, 30);
  ASSERT_NE(d, nullptr);
  vlLayer* l = AddBox(5, 5, 10, 6, 0x00FFFF, false);
  l->type = VL_LAYER_VIDEO;  // a frame the video layer shows
  gLayerVideoPlaying = PlayingVideo;
  gInputBackend.handleInput = QuietInput;
  // Asynchronous without being asked, yet no handle: the command drives
  // it to the end and leaves no drawing object behind.
  ASSERT_EQ(Run(".call hidelayerfx 1 30 2"), 0);
  EXPECT_EQ(FirstAsyncDraw(), nullptr);
  EXPECT_EQ(l->hidden, 1u);
  EXPECT_EQ(l->geometry[2]->fxImage, nullptr);
  EXPECT_EQ(WindowPixel(d, 6, 6), kGrey);
  // An error in the pump ends the run: the context and the drawing object
  // go together, the layer is left as it was (hidden) and drawn so.
  gInputCalls = 0;
  gInputBackend.handleInput = FailingInput;
  EXPECT_EQ(Run(".call showlayerfx 1 30 1"), ERR_WRONGUSAGE);
  EXPECT_EQ(FirstAsyncDraw(), nullptr);
  EXPECT_EQ(l->hidden, 1u);
  EXPECT_EQ(l->geometry[2]->fxImage, nullptr);
  EXPECT_EQ(WindowPixel(d, 6, 6), kGrey);
  gInputBackend.handleInput = QuietInput;
  ASSERT_EQ(Run(".call showlayerfx 1 30 1"), 0);
  EXPECT_EQ(WindowPixel(d, 14, 10), 0x00FFFFu);
  // Not playing: the effect runs as asked.
  gLayerVideoPlaying = nullptr;
  ASSERT_EQ(Run(".table 0 { type = 30, speed = 2, async = 1 }\n.call base=1 hidelayerfx 1 r0 -> h"), 0);
  EXPECT_NE(FirstAsyncDraw(), nullptr);
}

}  // namespace

TEST_F(LayeredFx, ALayerStandingInForABGPicShowsThatBGPicAndFollowsItsChanges) {
  vlDisplay* d = Open(40, 30);
  ASSERT_NE(d, nullptr);
  vlBGPic* emu = RedBGPic();
  ASSERT_NE(emu, nullptr);
  AddBox(5, 7, 10, 6, 0x0000FF, true);
  // A missing "bgpic" key is refused before anything runs.
  EXPECT_EQ(Run(".table 0 { type = 30, bgpicemu = 1 }\n.call base=1 showlayerfx 1 r0"), ERR_MISSINGPARAMTR);
  ASSERT_EQ(Run(".table 0 { type = 30, speed = 2, async = 1, bgpicemu = 1, bgpic = 2 }\n"
                ".call base=1 showlayerfx 1 r0 -> h"),
            0);
  EXPECT_EQ(QueryTransitionAsyncDraws(0), reinterpret_cast<intptr_t>(emu));
  ASSERT_EQ(Run(".call asyncdrawframe $h -> r"), 0);
  // The layer shows the BGPic it stands for, not its own picture.
  EXPECT_EQ(WindowPixel(d, 5, 7), 0xFF0000u);
  EXPECT_EQ(WindowPixel(d, 7, 12), 0xFF0000u);
  EXPECT_EQ(WindowPixel(d, 8, 7), kGrey);
  // The script draws into the BGPic: the columns shown so far and the next
  // ones come from its new picture.
  FillBitmapRect(emu->curBitmap, 0, 0, 10, 6, 0xFF00FF00u);
  emu->changed = 1;
  ASSERT_EQ(Run(".call asyncdrawframe $h -> r"), 0);
  EXPECT_EQ(emu->changed, 0u);
  for (int x = 5; x <= 10; ++x) EXPECT_EQ(WindowPixel(d, x, 9), 0x00FF00u) << x;
  EXPECT_EQ(WindowPixel(d, 11, 9), kGrey);
  ASSERT_EQ(Run(".call finishasyncdraw $h"), 0);
}

TEST_F(LayeredFx, AnEffectGoesOnInTheLayerThatReplacesItsOwn) {
  vlDisplay* d = Open(40, 30);
  ASSERT_NE(d, nullptr);
  AddBox(5, 7, 10, 6, 0x0000FF, true);
  ASSERT_EQ(Run(".table 0 { type = 30, speed = 2, async = 1 }\n.call base=1 showlayerfx 1 r0 -> h"), 0);
  ASSERT_EQ(Run(".call asyncdrawframe $h -> r"), 0);
  EXPECT_EQ(WindowPixel(d, 7, 9), 0x0000FFu);
  // A yellow layer of the same size takes the blue one's place.
  vlBitmap* b = NewBitmap(10, 6, 0, nullptr);
  FillBitmapRect(b, 0, 0, 10, 6, 0xFFFFFF00u);
  vlLayerGeometry* g = NewLayerGeometry();
  g->x = 5, g->y = 7, g->width = 10, g->height = 6;
  vlLayer* fresh = nullptr;
  vlObjectId none{};
  ASSERT_EQ(AddLayer(L, VL_LAYER_BOX, &none, 5, 7, 10, 6, nullptr, nullptr, b, nullptr, nullptr, g, 1,
                     VL_ADDLAYER_REPLACE, &fresh),
            0);
  ASSERT_EQ(GetLayerByPos(d->bgpic, 1), fresh);
  ASSERT_EQ(GetLayerByPos(d->bgpic, 2), nullptr);
  // The drawing object now reports the new layer, which has the working
  // picture.
  EXPECT_TRUE(FindAsyncDrawOwner(fresh, 0));
  EXPECT_NE(fresh->geometry[2]->fxImage, nullptr);
  // What the effect showed so far is shown again from the new picture,
  // and the next frame goes on from there.
  for (int x = 5; x <= 7; ++x) EXPECT_EQ(WindowPixel(d, x, 9), 0xFFFF00u) << x;
  EXPECT_EQ(WindowPixel(d, 8, 9), kGrey);
  EXPECT_EQ(WindowPixel(d, 14, 12), kGrey);
  ASSERT_EQ(Run(".call asyncdrawframe $h -> r"), 0);
  for (int x = 5; x <= 10; ++x) EXPECT_EQ(WindowPixel(d, x, 9), 0xFFFF00u) << x;
  EXPECT_EQ(WindowPixel(d, 11, 9), kGrey);
  ASSERT_EQ(Run(".call finishasyncdraw $h"), 0);
  EXPECT_EQ(fresh->geometry[2]->fxImage, nullptr);
  for (int x = 5; x < 15; ++x) EXPECT_EQ(WindowPixel(d, x, 9), 0xFFFF00u) << x;
}

TEST_F(LayeredFx, AsynchronousEffectsKeepWorkPlanesOfTheirLayersSize) {
  vlDisplay* d = Open(40, 30);
  ASSERT_NE(d, nullptr);
  AddBox(5, 7, 10, 6, 0x0000FF, true);
  // A blend works on an alpha plane: the effect gets an alpha plane of its own.
  ASSERT_EQ(Run(".table 0 { type = 117, async = 1 }\n.call base=1 showlayerfx 1 r0 -> h"), 0);
  vlAsyncDraw* a = FirstAsyncDraw();
  ASSERT_NE(a, nullptr);
  auto* fx = static_cast<vlFxContext*>(a->userData);
  ASSERT_NE(fx->workAlpha, nullptr);
  EXPECT_EQ(fx->workMask, nullptr);
  EXPECT_EQ(QueryBitmap(fx->workAlpha, 0), 10u);
  ASSERT_EQ(Run(".call cancelasyncdraw $h"), 0);
  // A synchronous effect needs none.
  ASSERT_EQ(Run(".table 0 { type = 30, speed = 5, forcerealtimelayers = 1 }\n.call base=1 showlayerfx 1 r0"), 0);
  EXPECT_EQ(WindowPixel(d, 14, 12), 0x0000FFu);
}

TEST_F(LayeredFx, AScrolledLayerStandingInForABGPicTravelsWithTheBGPicsPicture) {
  vlDisplay* d = Open(40, 30);
  ASSERT_NE(d, nullptr);
  vlBGPic* emu = RedBGPic();
  ASSERT_NE(emu, nullptr);
  vlLayer* l = AddBox(5, 7, 10, 6, 0x0000FF, true);
  ASSERT_EQ(Run(".table 0 { type = 47, speed = 8, async = 1, bgpicemu = 1, bgpic = 2 }\n"
                ".call base=1 showlayerfx 1 r0 -> h"),
            0);
  ASSERT_EQ(Run(".call asyncdrawframe $h -> r"), 0);
  // Drawn into while the layer travels: it arrives with the new picture.
  FillBitmapRect(emu->curBitmap, 0, 0, 10, 6, 0xFF00FF00u);
  emu->changed = 1;
  for (int i = 0; i < 100 && FirstAsyncDraw(); ++i) ASSERT_EQ(Run(".call asyncdrawframe $h -> r"), 0);
  ASSERT_EQ(FirstAsyncDraw(), nullptr);
  EXPECT_EQ(l->hidden, 0u);
  EXPECT_EQ(emu->changed, 0u);
  for (int x = 5; x < 15; ++x) EXPECT_EQ(WindowPixel(d, x, 9), 0x00FF00u) << x;
  EXPECT_EQ(WindowPixel(d, 15, 9), kGrey);
}

// On a display that scales its layers, a layer the script adds to the
// BGPic an effect's layer stands in for gets its display record at once,
// at that BGPic's own factors like its other layers (the window's pixels
// are checked by the player's test). When the user resizes the window, the
// BGPic and its layer follow the new scale size; the display keeps the
// factors of the BGPic it shows.
TEST_F(LayeredFx, ALayerAddedToTheStoodInBGPicIsScaledWithTheDisplay) {
  ASSERT_EQ(Run(".call createbgpic 1 40 30 8421504\n"
                ".table 0 { bgpic = 1, scalemode = 2, scalewidth = 80, scaleheight = 60 }\n"
                ".call base=1 createdisplay 1 r0\n.call opendisplay 1\n.call enablelayers\n"
                ".call createbgpic 2 20 12 16711680\n.call createbrush 5 4 4 16776960\n"
                ".call createbrush 6 20 12 255\n.table 0 { hidden = 1 }\n.call base=1 displaybrush 6 5 5 r0\n"
                ".table 0 { type = 30, speed = 10, async = 1, bgpicemu = 1, bgpic = 2 }\n"
                ".call base=1 showlayerfx 1 r0 -> h\n.call asyncdrawframe $h -> r\n"
                ".call selectbgpic 2\n.call displaybrush 5 2 2\n.call endselect"),
            0);
  vlDisplay* d = GetDisplayByNumber(1);
  ASSERT_NE(d, nullptr);
  vlBGPic* emu = nullptr;
  ASSERT_EQ(GetBGPicByID(L, {2, nullptr}, &emu, 0), 0);
  vlLayer* added = GetLayerByPos(emu, 1);
  ASSERT_NE(added, nullptr);
  ASSERT_NE(added->geometry[2], added->geometry[0]);
  EXPECT_EQ(added->geometry[2]->drawnWidth, 16);
  EXPECT_EQ(added->geometry[2]->drawnHeight, 20);
  EXPECT_EQ(d->scaleX, 2.0);
  ASSERT_EQ(ResizeDisplayToWindow(L, d, 120, 90), 0);
  EXPECT_EQ(emu->dispWidth, 120);
  EXPECT_EQ(emu->dispHeight, 90);
  EXPECT_EQ(emu->asyncMark, 1u);
  EXPECT_EQ(added->geometry[2]->drawnWidth, 24);
  EXPECT_EQ(added->geometry[2]->drawnHeight, 30);
  EXPECT_EQ(d->scaleX, 3.0);
  EXPECT_EQ(d->scaleY, 3.0);
  ASSERT_EQ(Run(".call finishasyncdraw $h"), 0);
}
