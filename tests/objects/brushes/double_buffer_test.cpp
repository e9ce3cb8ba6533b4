// Double buffering: drawing reaches the window only at Flip, which then
// shows exactly the back buffer; the refusals; EndDoubleBuffer and closing
// the display bring normal drawing back.
#include "tests/display/core/display_fixture.h"

#include "display/graphics_library/graphics_library.h"
#include "display/commands/layers_library.h"
#include "display/layers/layers.h"
#include "graphics/bitmap.h"
#include "objects/brushes/brush.h"
#include "vm/error_codes.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

class DoubleBufferTest : public vltest::DisplayTest {
 protected:
  void SetUp() override {
    DisplayTest::SetUp();
    if (!started_) return;
    ASSERT_EQ(OpenBrushLib(L), 0);
    ASSERT_EQ(OpenLayersLib(L), 0);
    ASSERT_EQ(OpenGraphicsLib(L), 0);
    // A blue display; brush 2 is red, brush 3 green.
    ASSERT_EQ(Run(".table 0 { width = 64, height = 48, color = 255 }\n.call base=1 createdisplay 1 r0\n"
                  ".call opendisplay 1\n.call createbrush 2 4 4 16711680\n.call createbrush 3 1 1 65280"),
              0);
    d_ = GetDisplayByNumber(1);
  }
  void TearDown() override {
    if (started_) {
      ShutdownLayerSystem(L);
      FreeBrushLib(L);
      FreeGraphicsObjects(L);
    }
    DisplayTest::TearDown();
  }
  // The window's pixels of a rectangle against the back buffer's.
  int Mismatches(int x, int y, int w, int h) {
    XSync(d_->window->display, False);
    XImage* image = XGetImage(probe_, d_->window->window, x, y, w, h, AllPlanes, ZPixmap);
    if (!image) return -1;
    int bad = 0;
    for (int j = 0; j < h; j++)
      for (int i = 0; i < w; i++)
        if ((XGetPixel(image, i, j) & 0xFFFFFF) != (ReadBitmapPixel(d_->dbBack, x + i, y + j, 0) & 0xFFFFFF)) bad++;
    XDestroyImage(image);
    return bad;
  }
  vlDisplay* d_ = nullptr;
};

TEST_F(DoubleBufferTest, DrawingWaitsForFlip) {
  ASSERT_EQ(Run(".call begindoublebuffer\n.call displaybrush 2 3 3\n.call displaybrush 2 40 30"), 0);
  ASSERT_NE(d_->dbBack, nullptr);
  EXPECT_EQ(ReadBitmapPixel(d_->dbBack, 4, 4, 0) & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(WindowPixel(d_, 4, 4), 0x0000FFu);
  EXPECT_EQ(WindowPixel(d_, 41, 31), 0x0000FFu);
  ASSERT_EQ(Run(".call flip"), 0);
  EXPECT_EQ(Mismatches(3, 3, 4, 4), 0);
  EXPECT_EQ(Mismatches(40, 30, 4, 4), 0);
  EXPECT_EQ(WindowPixel(d_, 4, 4), 0xFF0000u);
  // Only the changed rectangles are sent: the rest still shows the window.
  EXPECT_EQ(WindowPixel(d_, 20, 20), 0x0000FFu);
  // The next frame starts from what the back buffer holds.
  ASSERT_EQ(Run(".call displaybrush 3 4 4"), 0);
  EXPECT_EQ(WindowPixel(d_, 4, 4), 0xFF0000u);
  ASSERT_EQ(Run(".call flip 0"), 0);
  EXPECT_EQ(WindowPixel(d_, 4, 4), 0x00FF00u);
  EXPECT_EQ(Mismatches(3, 3, 4, 4), 0);
  // A snapshot of the display is the back buffer, not the window.
  ASSERT_EQ(Run(".call displaybrush 2 30 10"), 0);
  const std::string bmp = testing::TempDir() + std::to_string(getpid()) + "db.bmp";
  ASSERT_EQ(Run(".call savesnapshot \"" + bmp + "\" 1\n.call loadbrush 9 \"" + bmp + "\""), 0);
  std::remove(bmp.c_str());
  vlBrush* shot = nullptr;
  ASSERT_EQ(GetBrushByID(L, {9, nullptr}, &shot, 0), 0);
  EXPECT_EQ(ReadBitmapPixel(shot->bitmap, 31, 11, 0) & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(ReadBitmapPixel(shot->bitmap, 20, 20, 0) & 0xFFFFFF, 0u);
  EXPECT_EQ(WindowPixel(d_, 31, 11), 0x0000FFu);
}

// Frames of a few small brushes, now and then one drawn whole, flipped one
// after another: the stores turn round at each Flip and each owes what the
// frames since it was shown changed; after every Flip the window and the
// back buffer hold exactly what was drawn.
TEST_F(DoubleBufferTest, FramesThroughTurningStoresShowWhatWasDrawn) {
  const int W = 64, H = 48;
  ASSERT_EQ(Run(".call createbrush 5 64 48 1052688\n.call createbrush 6 10 7 16776960\n"
                ".call begindoublebuffer\n.call displaybrush 5 0 0\n.call flip"),
            0);
  std::vector<uint32_t> model(W * H, 0x101010);
  struct Brush {
    int id, w, h;
    uint32_t colour;
  };
  const Brush brushes[] = {{2, 4, 4, 0xFF0000}, {3, 1, 1, 0x00FF00}, {6, 10, 7, 0xFFFF00}, {5, 64, 48, 0x101010}};
  std::mt19937 rng(5);
  for (int frame = 0; frame < 40; frame++) {
    std::string script;
    const int n = 1 + static_cast<int>(rng() % 4);
    for (int i = 0; i < n; i++) {
      // The whole-window brush now and then: the owed copy is dropped.
      const Brush& b = brushes[rng() % 10 == 0 ? 3 : rng() % 3];
      const int x = b.w == W ? 0 : static_cast<int>(rng() % (W - b.w)),
                y = b.h == H ? 0 : static_cast<int>(rng() % (H - b.h));
      script += ".call displaybrush " + std::to_string(b.id) + " " + std::to_string(x) + " " + std::to_string(y) + "\n";
      for (int yy = y; yy < y + b.h; yy++)
        for (int xx = x; xx < x + b.w; xx++) model[yy * W + xx] = b.colour;
    }
    ASSERT_EQ(Run(script + ".call flip"), 0);
    XSync(d_->window->display, False);
    XImage* image = XGetImage(probe_, d_->window->window, 0, 0, W, H, AllPlanes, ZPixmap);
    ASSERT_NE(image, nullptr);
    int window = 0, back = 0;
    for (int y = 0; y < H; y++)
      for (int x = 0; x < W; x++) {
        if ((XGetPixel(image, x, y) & 0xFFFFFF) != model[y * W + x]) window++;
        if ((ReadBitmapPixel(d_->dbBack, x, y, 0) & 0xFFFFFF) != model[y * W + x]) back++;
      }
    XDestroyImage(image);
    ASSERT_EQ(window, 0) << "frame " << frame;
    ASSERT_EQ(back, 0) << "frame " << frame;
  }
  EXPECT_NE(d_->dbSpare, nullptr) << "drawn with two stores only";
  // Ending hands the last frame to normal drawing.
  ASSERT_EQ(Run(".call enddoublebuffer"), 0);
  EXPECT_EQ(d_->dbSpare, nullptr);
}

TEST_F(DoubleBufferTest, FullDirtyListFlipsTheWholeBuffer) {
  std::string script = ".call begindoublebuffer\n";
  for (int i = 0; i < 1025; i++)
    script += ".call displaybrush 3 " + std::to_string(i % 32) + " " + std::to_string(i / 32) + "\n";
  ASSERT_EQ(Run(script), 0);
  EXPECT_TRUE(IsAllDirty(d_->dirty));
  ASSERT_EQ(Run(".call flip"), 0);
  // Undrawn parts of the black back buffer reach the window too.
  EXPECT_EQ(Mismatches(0, 0, 64, 48), 0);
  EXPECT_EQ(WindowPixel(d_, 60, 40), 0u);
  EXPECT_FALSE(HasDirtyRects(d_->dirty));
}

// Flip waits for the screen's next frame (60 a second) unless told not
// to: thirty flips span at least 29 frames.
TEST_F(DoubleBufferTest, FlipKeepsTheScreensPace) {
  ASSERT_EQ(Run(".call begindoublebuffer\n.call displaybrush 2 3 3"), 0);
  std::string flips;
  for (int i = 0; i < 30; i++) flips += ".call flip\n";
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(Run(flips), 0);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(took).count(), 29 * 16);
  ASSERT_EQ(Run(".call flip 0\n.call enddoublebuffer"), 0);
  EXPECT_EQ(WindowPixel(d_, 4, 4), 0xFF0000u);
}

TEST_F(DoubleBufferTest, Refusals) {
  EXPECT_EQ(Run(".call flip"), ERR_NODOUBLEBUFFER);
  EXPECT_EQ(Run(".call enddoublebuffer"), ERR_NODOUBLEBUFFER);
  ASSERT_EQ(Run(".call selectbrush 2"), 0);
  EXPECT_EQ(Run(".call begindoublebuffer"), ERR_SELECTBRUSH);
  ASSERT_EQ(Run(".call endselect\n.call enablelayers"), 0);
  EXPECT_EQ(Run(".call begindoublebuffer"), ERR_LAYERSOFF);
  ASSERT_EQ(Run(".call disablelayers\n.call begindoublebuffer"), 0);
  EXPECT_EQ(Run(".call begindoublebuffer"), ERR_ENDDOUBLEBUFFER);
  EXPECT_EQ(Run(".call beginrefresh 1"), ERR_ENDDOUBLEBUFFER);
  ASSERT_EQ(Run(".call enddoublebuffer"), 0);
  ASSERT_EQ(Run(".call beginrefresh 1"), 0);
  EXPECT_EQ(Run(".call begindoublebuffer"), ERR_BEGINREFRESH);
  ASSERT_EQ(Run(".call endrefresh"), 0);
  EXPECT_EQ(d_->doubleBuffer, 0u);
}

TEST_F(DoubleBufferTest, EndRestoresNormalDrawing) {
  ASSERT_EQ(Run(".call begindoublebuffer\n.call displaybrush 2 10 10"), 0);
  // A brush selected meanwhile suspends double buffering until it ends.
  ASSERT_EQ(Run(".call createbrush 4 8 8 0\n.call selectbrush 4\n.call displaybrush 3 1 1"), 0);
  EXPECT_EQ(Run(".call flip"), ERR_NODOUBLEBUFFER);
  ASSERT_EQ(Run(".call endselect\n.call displaybrush 3 20 20"), 0);
  EXPECT_EQ(d_->selectEntered, 0);  // cursor and margins restored
  EXPECT_EQ(ReadBitmapPixel(d_->dbBack, 20, 20, 0) & 0xFFFFFF, 0x00FF00u);
  ASSERT_EQ(Run(".call enddoublebuffer"), 0);
  EXPECT_EQ(d_->outputType, uint32_t{VL_OUTPUT_DISPLAY});
  EXPECT_EQ(vlCurrentOutput, d_->bgpic);
  EXPECT_EQ(d_->dbBack, nullptr);
  // Drawing goes straight to the window again.
  ASSERT_EQ(Run(".call displaybrush 2 50 5"), 0);
  EXPECT_EQ(WindowPixel(d_, 51, 6), 0xFF0000u);
  // A selection still open when double buffering ends is left first.
  ASSERT_EQ(Run(".call begindoublebuffer\n.call selectbrush 4\n.call enddoublebuffer"), 0);
  EXPECT_EQ(d_->doubleBuffer, 0u);
  EXPECT_EQ(d_->nestedSelect, 0u);
  EXPECT_EQ(d_->outputType, uint32_t{VL_OUTPUT_DISPLAY});
  // Closing the display ends double buffering.
  ASSERT_EQ(Run(".call begindoublebuffer\n.call closedisplay 1"), 0);
  EXPECT_EQ(d_->doubleBuffer, 0u);
  EXPECT_EQ(d_->dbBGPic, nullptr);
}

}  // namespace
