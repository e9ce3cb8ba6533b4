// The layer index against the walk of the whole stack: random sequences of
// layer changes made through the script commands, on a plain display and on
// one that scales its layers. After each change the index must file every
// layer as a fresh index would, a redraw of any rectangle must give the
// walk's pixels, and the window must show what a full redraw by the walk
// gives.
#include "tests/display/core/display_fixture.h"

#include <X11/Xutil.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "display/bgpic.h"
#include "display/commands/layers_library.h"
#include "display/layers/kept_blend.h"
#include "display/layers/layer_index.h"
#include "display/layers/layers.h"
#include "graphics/bitmap.h"
#include "graphics/presentation.h"

namespace {

using vltest::DisplayTest;

class LayerIndex : public DisplayTest {
 protected:
  void TearDown() override {
    SetLayerIndexEnabled(true);
    ShutdownLayerSystem(L);
    DisplayTest::TearDown();
  }

  vlBitmap* Picture(int w, int h, uint32_t seed) {
    vlBitmap* b = NewBitmap(w, h, 0, nullptr);
    for (int y = 0; y < h; y++)
      for (int x = 0; x < w; x++)
        WriteBitmapPixel(b, x, y, 0xFF000000u | ((seed * 37 + x * 5) & 255) << 16 | ((seed * 11 + y * 7) & 255) << 8 |
                                      ((seed * 3) & 255), 0);
    return b;
  }

  // A layer of random size and place: masked, half transparent, shadowed
  // or bordered now and then.
  void AddRandom(std::mt19937& rng, uint32_t flags) {
    const int w = 4 + static_cast<int>(rng() % 70), h = 4 + static_cast<int>(rng() % 70);
    const int x = static_cast<int>(rng() % (width_ + 40)) - 30, y = static_cast<int>(rng() % (height_ + 40)) - 30;
    vlLayerOptions o{};
    snprintf(o.name, sizeof o.name, "L%d", made_++);
    const uint32_t kind = rng() % 10;
    if (kind == 0) o.transparency = 100;
    if (kind == 1) o.shadow = {1, 0x80000000u, 3, static_cast<uint32_t>(rng() % 8), 2.0, 1.0};
    if (kind == 2) o.border = {1, 0x00FF00u, 2};
    vlBitmap* mask = nullptr;
    if (kind == 3) {
      mask = NewMaskPlane(nullptr, w, h, 1, nullptr, 0);
      auto* bits = reinterpret_cast<uint8_t*>(QueryBitmap(mask, 4));
      const intptr_t row = QueryBitmap(mask, 2);
      for (int yy = 0; yy < h; yy++)
        for (int xx = 0; xx < w; xx++)
          if ((xx / 3 + yy / 2) % 2) bits[yy * row + (xx >> 3)] |= 0x80 >> (xx & 7);
    }
    vlLayerGeometry* g = NewLayerGeometry();
    g->x = x, g->y = y, g->width = w, g->height = h;
    vlLayer* layer = nullptr;
    ASSERT_EQ(AddLayer(L, VL_LAYER_BOX, nullptr, x, y, w, h, nullptr, &o, Picture(w, h, made_), mask, nullptr, g, -1,
                       flags, &layer),
              0);
  }

  std::string Pos(std::mt19937& rng) { return std::to_string(1 + rng() % CountLayers(pic())); }
  std::string Coord(std::mt19937& rng, int range) { return std::to_string(static_cast<int>(rng() % range) - 30); }

  // One random change of the stack through a command; a batch of a few
  // moves and hides between SelectBGPic and EndSelect now and then.
  void Change(std::mt19937& rng, uint32_t addFlags) {
    const std::string a = Pos(rng), b = Pos(rng);
    const std::string x = Coord(rng, width_ + 40), y = Coord(rng, height_ + 40);
    const int n = CountLayers(pic());
    switch (rng() % 27) {
      case 0: AddRandom(rng, addFlags); break;
      case 1:
        if (CountLayers(pic()) > 18) {
          ASSERT_EQ(Run(".call removelayer " + a), 0);
        }
        break;
      case 2:
      case 3:
      case 4: ASSERT_EQ(Run(".call showlayer " + a + " " + x + " " + y), 0); break;
      case 5: ASSERT_EQ(Run(".call translatelayer " + a + " " + std::to_string(rng() % 9) + " -3"), 0); break;
      case 6: ASSERT_EQ(Run(".call hidelayer " + a), 0); break;
      case 7: ASSERT_EQ(Run(".call showlayer " + a), 0); break;
      case 8: ASSERT_EQ(Run(".call layertoback " + a), 0); break;
      case 9:
        if (a != b) {
          ASSERT_EQ(Run(".call swaplayers " + a + " " + b), 0);
        }
        break;
      case 10:
        if (a != b) {
          ASSERT_EQ(Run(".call setlayerzpos " + a + " " + b), 0);
        }
        break;
      case 11: ASSERT_EQ(Run(".call setlayershadow " + a + " " + std::to_string(rng() % 2) + " 0 2 4 5"), 0); break;
      case 12: ASSERT_EQ(Run(".call setlayerborder " + a + " " + std::to_string(rng() % 2) + " 255 2"), 0); break;
      case 13: {
        // Resized, turned or made half transparent through a style table.
        const char* styles[] = {"scalex = 1.5, scaley = 0.5", "scalex = 1, scaley = 1", "rotate = 30",
                                "rotate = 0", "transparency = \"50%\"", "transparency = 0", "anchorx = 0.5"};
        ASSERT_EQ(Run(std::string(".table 0 { ") + styles[rng() % 7] + " }\n.call base=1 setlayerstyle " + a +
                      " r0"),
                  0);
        break;
      }
      case 14: {
        std::string batch = ".call base=4 selectbgpic nil\n";
        for (int i = 0; i < 3; i++)
          batch += ".call showlayer " + Pos(rng) + " " + Coord(rng, width_ + 40) + " " + Coord(rng, height_ + 40) +
                   "\n.call hidelayer " + Pos(rng) + "\n";
        ASSERT_EQ(Run(batch + ".call base=4 endselect"), 0);
        break;
      }
      case 15: ASSERT_EQ(Run(".call layertofront " + a), 0); break;
      case 16: {
        // A command draws into the picture a bottom layer shows (as drawing
        // into a brush shown by a layer does) and the display is refreshed:
        // nothing but the command itself tells of the change.
        ASSERT_EQ(Run(".call getlayeratpos 5 5 -> p"), 0);
        vlLayer* l = GetLayerByPos(pic(), 1 + static_cast<int>(rng() % 3));
        vlBitmap *image, *mask, *alpha;
        int32_t w, h;
        uint32_t extra;
        if (GetLayerBitmaps(L, l, l->geometry[2], 1, 1, -1, &image, &mask, &alpha, &w, &h, &extra) == 0 && image)
          FillBitmapRect(image, 0, 0, w, h, 0xFF000000u | static_cast<uint32_t>(rng() & 0xFFFFFF));
        RefreshRect(L, 0, 0, width_, height_, 0);
        break;
      }
      case 18: {
        // A batch moving most of the stack: redraws may walk it instead.
        std::string batch;
        for (int i = 0; i < 40; i++)
          batch += ".call showlayer " + Pos(rng) + " " + Coord(rng, width_ + 40) + " " + Coord(rng, height_ + 40) + "\n";
        ASSERT_EQ(Run(batch), 0);
        break;
      }
      case 17: {
        // A video frame comes to a bottom layer from the event pump, with
        // no command running.
        vlLayer* l = GetLayerByPos(pic(), 1 + static_cast<int>(rng() % 3));
        const vlLayerGeometry* g0 = l->geometry[0];
        ASSERT_EQ(ReplaceLayerWithFrame(L, display_, &l, Picture(g0->width, g0->height, made_ + step_)), 0);
        break;
      }
      default: {
        // One of the top three moved, as sprites are: the blend of the
        // layers below it may be kept.
        const std::string top = std::to_string(n - static_cast<int>(rng() % 3));
        ASSERT_EQ(Run(".call showlayer " + top + " " + x + " " + y), 0);
        break;
      }
    }
  }

  vlBGPic* pic() { return display_->bgpic; }

  // The rectangle redrawn by the walk and by the index into pictures of the
  // window's size; the pixels must agree.
  void CompareRect(int x, int y, int w, int h, const char* what) {
    vlBitmap* walked = NewBitmap(width_, height_, 0, nullptr);
    vlBitmap* indexed = NewBitmap(width_, height_, 0, nullptr);
    SetLayerIndexEnabled(false);
    RedrawLayers(L, display_, pic(), walked, x, y, w, h, 0);
    SetLayerIndexEnabled(true);
    RedrawLayers(L, display_, pic(), indexed, x, y, w, h, 0);
    uint32_t* a = ReadBitmapARGB(walked, 0, 0, width_, height_, 0);
    uint32_t* b = ReadBitmapARGB(indexed, 0, 0, width_, height_, 0);
    int bad = 0;
    for (int yy = y; yy < y + h; yy++)
      for (int xx = x; xx < x + w; xx++)
        if (a[yy * width_ + xx] != b[yy * width_ + xx] && bad++ < 3)
          ADD_FAILURE() << what << ": pixel " << xx << "," << yy << std::hex << " walk " << a[yy * width_ + xx]
                        << " index " << b[yy * width_ + xx];
    delete[] a;
    delete[] b;
    DeleteBitmap(walked);
    DeleteBitmap(indexed);
    EXPECT_EQ(bad, 0) << what;
  }

  // The window against a whole redraw by the walk.
  void CompareWindow(const char* what) {
    SettleHeldPresentation();
    SendPresentation(true);
    XSync(display_->window->display, False);
    vlBitmap* walked = NewBitmap(width_, height_, 0, nullptr);
    SetLayerIndexEnabled(false);
    RedrawLayers(L, display_, pic(), walked, 0, 0, width_, height_, 0);
    SetLayerIndexEnabled(true);
    uint32_t* want = ReadBitmapARGB(walked, 0, 0, width_, height_, 0);
    XImage* image = XGetImage(probe_, display_->window->window, 0, 0, width_, height_, AllPlanes, ZPixmap);
    ASSERT_NE(image, nullptr);
    int bad = 0;
    for (int y = 0; y < height_; y++)
      for (int x = 0; x < width_; x++) {
        const uint32_t got = static_cast<uint32_t>(XGetPixel(image, x, y)) & 0xFFFFFF;
        if (got != (want[y * width_ + x] & 0xFFFFFF) && bad++ < 3)
          ADD_FAILURE() << what << ": window " << x << "," << y << std::hex << " shows " << got << " walk gives "
                        << (want[y * width_ + x] & 0xFFFFFF);
      }
    XDestroyImage(image);
    delete[] want;
    DeleteBitmap(walked);
    EXPECT_EQ(bad, 0) << what;
  }

  void RunSequence(uint32_t seed, uint32_t addFlags) {
    std::mt19937 rng(seed);
    const unsigned long usesBefore = KeptBlendUses();
    for (int i = 0; i < 30; i++) AddRandom(rng, addFlags);
    for (int step = 0; step < 160; step++) {
      step_ = step;
      const std::string what = "seed " + std::to_string(seed) + " step " + std::to_string(step);
      Change(rng, addFlags);
      if (HasFatalFailure()) return;
      SettleHeldPresentation();
      ASSERT_TRUE(LayerIndexMatchesStack(pic())) << what;
      for (int k = 0; k < 4; k++) {
        const int x = static_cast<int>(rng() % width_), y = static_cast<int>(rng() % height_);
        const int w = 1 + static_cast<int>(rng() % (width_ - x)), h = 1 + static_cast<int>(rng() % (height_ - y));
        CompareRect(x, y, w, h, what.c_str());
      }
      CompareWindow(what.c_str());
      // The layer at a point, found through the index and by the walk (now
      // and then: a command other than a move ends the kept blend).
      for (int k = 0; k < (step % 6 == 5 ? 4 : 0); k++) {
        const std::string point = std::to_string(rng() % width_) + " " + std::to_string(rng() % height_);
        ASSERT_EQ(Run(".call getlayeratpos " + point + " -> p"), 0);
        const double indexed = Num("p");
        SetLayerIndexEnabled(false);
        ASSERT_EQ(Run(".call getlayeratpos " + point + " -> p"), 0);
        SetLayerIndexEnabled(true);
        ASSERT_EQ(indexed, Num("p")) << what << " at " << point;
      }
      if (HasFailure()) return;
    }
    // The sequence went through the kept blend, not only around it.
    EXPECT_GT(KeptBlendUses(), usesBefore + 20) << "seed " << seed;
  }

  // Display 1 with the given attributes and layers on, at its BGPic's size.
  void OpenDisplay(const std::string& attributes) {
    ASSERT_EQ(OpenLayersLib(L), 0);
    ASSERT_EQ(Run(".table 0 { " + attributes + ", color = 8421504 }\n.call base=1 createdisplay 1 r0\n"
                  ".call opendisplay 1\n.call enablelayers"),
              0);
    display_ = GetDisplayByNumber(1);
    ASSERT_NE(display_, nullptr);
    width_ = pic()->dispWidth, height_ = pic()->dispHeight;
  }

  vlDisplay* display_ = nullptr;
  int width_ = 0, height_ = 0, made_ = 0, step_ = 0;
};

TEST_F(LayerIndex, FollowsRandomChangesOnAPlainDisplay) {
  ASSERT_NO_FATAL_FAILURE(OpenDisplay("width = 320, height = 240"));
  ASSERT_EQ(width_, 320);
  for (uint32_t seed : {3u, 17u}) {
    RunSequence(seed, 0);
    if (HasFailure()) return;
    ASSERT_EQ(Run(".call freelayers"), 0);
  }
}

TEST_F(LayerIndex, FollowsRandomChangesOnADisplayThatScalesItsLayers) {
  ASSERT_NO_FATAL_FAILURE(
      OpenDisplay("width = 200, height = 150, scalemode = 2, scalewidth = 300, scaleheight = 225"));
  ASSERT_TRUE(DisplayScalesLayers(display_));
  ASSERT_EQ(width_, 300);
  RunSequence(5, VL_ADDLAYER_DISPLAYSCALED);
}

// A layer moved far across a stack it is filed in keeps being found where
// it went and no longer where it was; a layer switched to a shadow is found
// by rectangles meeting only its shadow.
TEST_F(LayerIndex, MovedAndShadowedLayersAreFoundWhereTheyShow) {
  ASSERT_NO_FATAL_FAILURE(OpenDisplay("width = 320, height = 240"));
  for (int i = 0; i < 20; i++) {
    vlLayerGeometry* g = NewLayerGeometry();
    g->x = 10 * i, g->y = 0, g->width = 8, g->height = 8;
    vlLayer* layer = nullptr;
    ASSERT_EQ(AddLayer(L, VL_LAYER_BOX, nullptr, 10 * i, 0, 8, 8, nullptr, nullptr, Picture(8, 8, i), nullptr,
                       nullptr, g, -1, 0, &layer),
              0);
  }
  vlLayer* first = GetLayerByPos(pic(), 1);
  auto has = [](const std::vector<vlLayer*>& v, const vlLayer* l) {
    return std::find(v.begin(), v.end(), l) != v.end();
  };
  // Cells are 64 pixels wide: the first seven layers share the first one.
  std::vector<vlLayer*> found;
  ASSERT_TRUE(FindLayersMeeting(pic(), {0, 0, 8, 8}, &found));
  ASSERT_EQ(found.size(), 7u);
  EXPECT_EQ(found[0], first);
  ASSERT_EQ(Run(".call showlayer 1 300 200"), 0);
  SettleHeldPresentation();
  ASSERT_TRUE(FindLayersMeeting(pic(), {0, 0, 8, 8}, &found));
  EXPECT_EQ(found.size(), 6u);
  EXPECT_FALSE(has(found, first));
  ASSERT_TRUE(FindLayersMeeting(pic(), {304, 204, 2, 2}, &found));
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0], first);
  EXPECT_EQ(WindowPixel(display_, 4, 4), 0x808080u);
  // Bottom first, whatever the cells' order.
  ASSERT_TRUE(FindLayersMeeting(pic(), {0, 0, 320, 240}, &found));
  ASSERT_EQ(found.size(), 20u);
  for (int i = 1; i <= 20; i++) EXPECT_EQ(found[i - 1], GetLayerByPos(pic(), i));
  // A shadow 20 pixels below layer 20 (at 190..197 across): found by a
  // rectangle far below any layer, the only one there.
  vlLayer* last = GetLayerByPos(pic(), 20);
  ASSERT_TRUE(FindLayersMeeting(pic(), {192, 80, 2, 2}, &found));
  EXPECT_TRUE(found.empty());
  ASSERT_EQ(Run(".call setlayershadow 20 1 0 1 72 4"), 0);
  ASSERT_TRUE(FindLayersMeeting(pic(), {192, 80, 2, 2}, &found));
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0], last);
  EXPECT_EQ(WindowPixel(display_, 192, 76), 0x000000u);
  ASSERT_EQ(Run(".call setlayershadow 20 0"), 0);
  ASSERT_TRUE(FindLayersMeeting(pic(), {192, 80, 2, 2}, &found));
  EXPECT_TRUE(found.empty());
  EXPECT_EQ(WindowPixel(display_, 192, 76), 0x808080u);
  CompareWindow("shadow");
}

}  // namespace
